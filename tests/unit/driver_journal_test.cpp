// The journal: collection, the locked append, lock failure and concurrent writers.
#include <gtest/gtest.h>
#include <sys/file.h>

#include <chrono>
#include <cstring>
#include <string>

#include "driver/config.h"
#include "driver/journal.h"
#include "driver/protocol.h"
#include "driver_testutil.h"

namespace {

class JournalTest : public ::testing::Test {
 protected:
  void SetUp() override {
    config_reset();
    journal_used = 0;
    journal_first = journal_last = nullptr;
    journal_lock_attempts = 50;
    journal_lock_pause_ms = 100;
    dir = make_temp_dir();
    path = dir + "/journal.log";
    std::snprintf(journal_path, sizeof journal_path, "%s", path.c_str());
  }
  void TearDown() override { remove_tree(dir); }
  std::string dir, path;
};

// The entries with their end times masked (a time is 19 characters: 2024/05/06 07:08:09).
std::string masked(std::string s) {
  for (size_t at = 0; (at = s.find("end : ", at)) != std::string::npos; at += 6) {
    if (at + 6 + 19 <= s.size() && s[at + 6 + 4] == '/' && s[at + 6 + 13] == ':') s.replace(at + 6, 19, "<TIME>");
  }
  return s;
}

TEST_F(JournalTest, EntryFraming) {
  std::snprintf(start_time, sizeof start_time, "2024/05/06 07:08:09");
  journal_append_text("first\n");
  journal_append("second\nignored", 7);
  journal_append("cut\0after", 9);  // copying stops at a zero byte
  journal_append("", 0);
  ASSERT_TRUE(journal_write());
  EXPECT_EQ(masked(read_file(path)),
            "-----  start : 2024/05/06 07:08:09  -----\nfirst\nsecond\ncut\n=====  end : <TIME>  ===== \n");
  EXPECT_EQ(journal_used, 0u);
  // A second entry is appended after the first; an empty start time gives an empty field.
  start_time[0] = 0;
  journal_append_text("x");
  ASSERT_TRUE(journal_write());
  std::string all = masked(read_file(path));
  std::string second = "-----  start :   -----\nx\n=====  end : <TIME>  ===== \n";
  ASSERT_GT(all.size(), second.size());
  EXPECT_EQ(all.substr(all.size() - second.size()), second);
}

TEST_F(JournalTest, LargeCollectionIsWrittenWholeAndInOrder) {
  std::string expected;
  // Pieces of many sizes, some larger than the buffer itself, cross the 32 KB boundary often.
  for (int i = 0; i < 400; i++) {
    std::string piece = "<" + std::to_string(i) + ">" + std::string(static_cast<size_t>((i * 7919) % 3000), 'a' + i % 26);
    if (i % 97 == 0) piece += std::string(40000, 'Z');
    journal_append(piece.data(), piece.size());
    expected += piece;
  }
  EXPECT_NE(journal_first, nullptr);
  ASSERT_TRUE(journal_write());
  EXPECT_EQ(journal_first, nullptr);
  EXPECT_EQ(journal_last, nullptr);
  std::string got = read_file(path);
  size_t body = got.find('\n') + 1;
  size_t end = got.rfind("\n=====  end : ");
  ASSERT_NE(end, std::string::npos);
  EXPECT_TRUE(got.substr(body, end - body) == expected);
}

TEST_F(JournalTest, ChunkHoldsTheBufferAndTheNewText) {
  std::string a(30000, 'a'), b(2764, 'b');  // 30,000 + 2,764 + 4 = 32,768: no longer fits
  journal_append(a.data(), a.size());
  EXPECT_EQ(journal_first, nullptr);
  journal_append(b.data(), b.size());
  ASSERT_NE(journal_first, nullptr);
  EXPECT_EQ(journal_first, journal_last);
  EXPECT_EQ(journal_first->len, a.size() + b.size());
  EXPECT_EQ(journal_used, 0u);
  journal_append("c", 1);
  EXPECT_EQ(journal_used, 1u);
  ASSERT_TRUE(journal_write());
}

TEST_F(JournalTest, LockedFileGivesTheFailureRecordAndKeepsTheEntry) {
  journal_lock_attempts = 3;
  journal_lock_pause_ms = 10;
  int holder = open(path.c_str(), O_WRONLY | O_CREAT, 0644);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(flock(holder, LOCK_EX), 0);
  journal_append_text("kept\n");
  testing::internal::CaptureStdout();
  auto t0 = std::chrono::steady_clock::now();
  EXPECT_FALSE(journal_write());
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
  out_flush();
  std::string rec = "open&lock of jounal file(" + path + ")";
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "S149999" + std::to_string(std::to_string(rec.size()).size()) +
                                                        std::to_string(rec.size()) + rec);
  EXPECT_GE(ms, 20);  // two pauses between three attempts
  EXPECT_EQ(read_file(path), "");
  EXPECT_EQ(std::string(journal_buffer, journal_used), "kept\n");
  close(holder);
  ASSERT_TRUE(journal_write());
  EXPECT_NE(read_file(path).find("\nkept\n\n=====  end"), std::string::npos);
}

TEST_F(JournalTest, UnopenablePathGivesTheFailureRecord) {
  journal_lock_attempts = 2;
  journal_lock_pause_ms = 1;
  std::snprintf(journal_path, sizeof journal_path, "%s/missing/dir/j.log", dir.c_str());
  testing::internal::CaptureStdout();
  EXPECT_FALSE(journal_write());
  out_flush();
  EXPECT_EQ(testing::internal::GetCapturedStdout().substr(0, 7), "S149999");
}

// Many processes append at once: every entry is whole and none is interleaved with another.
TEST_F(JournalTest, ConcurrentWritersNeverInterleave) {
  constexpr int kWriters = 24;
  std::vector<pid_t> pids;
  for (int w = 0; w < kWriters; w++) {
    pid_t pid = fork();
    if (pid == 0) {
      std::snprintf(start_time, sizeof start_time, "writer %d", w);
      // Large enough for several chunks and many write calls per entry.
      for (int line = 0; line < 3000; line++) {
        char text[64];
        int n = std::snprintf(text, sizeof text, "w%02d line %04d ........................\n", w, line);
        journal_append(text, static_cast<size_t>(n));
      }
      _exit(journal_write() ? 0 : 1);
    }
    pids.push_back(pid);
  }
  int ok = 0;
  for (pid_t pid : pids) {
    int st = 0;
    waitpid(pid, &st, 0);
    if (WIFEXITED(st) && WEXITSTATUS(st) == 0) ok++;
  }
  EXPECT_EQ(ok, kWriters);
  std::string all = read_file(path);
  int entries = 0;
  size_t pos = 0;
  std::vector<bool> seen(kWriters, false);
  while (pos < all.size()) {
    int w = -1;
    ASSERT_EQ(std::sscanf(all.c_str() + pos, "-----  start : writer %d  -----\n", &w), 1) << "at " << pos;
    ASSERT_TRUE(w >= 0 && w < kWriters);
    EXPECT_FALSE(seen[static_cast<size_t>(w)]);
    seen[static_cast<size_t>(w)] = true;
    std::string expected;
    char head[64];
    std::snprintf(head, sizeof head, "-----  start : writer %d  -----\n", w);
    expected = head;
    for (int line = 0; line < 3000; line++) {
      char text[64];
      std::snprintf(text, sizeof text, "w%02d line %04d ........................\n", w, line);
      expected += text;
    }
    expected += "\n=====  end : ";
    ASSERT_EQ(all.compare(pos, expected.size(), expected), 0) << "entry of writer " << w << " is not whole";
    size_t next = all.find(" ===== \n", pos + expected.size());
    ASSERT_NE(next, std::string::npos);
    pos = next + 8;
    entries++;
  }
  EXPECT_EQ(entries, kWriters);
}

}  // namespace
