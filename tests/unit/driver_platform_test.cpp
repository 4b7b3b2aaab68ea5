// The platform layer: executable directory, random sequence, directory walk, locked open.
#include <gtest/gtest.h>
#include <sys/file.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "driver_testutil.h"

namespace {

TEST(Platform, ExecutableDirectory) {
  char out[4096];
  struct Case {
    const char* argv0;
    const char* dir;
  } cases[] = {{"/usr/lib/cgi-bin/scriptcgi", "/usr/lib/cgi-bin/"}, {"./scriptcgi", "./"}, {"a/b/", "a/b/"}};
  for (const Case& c : cases) {
    ASSERT_TRUE(exe_directory(c.argv0, out, sizeof out));
    EXPECT_STREQ(out, c.dir);
  }
  // Without a '/', the directory of the running executable.
  ASSERT_TRUE(exe_directory("scriptcgi", out, sizeof out));
  char self[4096];
  ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  ASSERT_GT(n, 0);
  std::string s(self, static_cast<size_t>(n));
  EXPECT_EQ(std::string(out), s.substr(0, s.rfind('/') + 1));
  EXPECT_FALSE(exe_directory("/very/long/path/x", out, 5));
}

TEST(Platform, RandomSequence) {
  // The sequence the front end reproduces: seed 1 gives 41, 18467, 6334, 26500, 19169.
  rng_seed(1);
  std::vector<int> got;
  for (int i = 0; i < 5; i++) got.push_back(rng_next());
  EXPECT_EQ(got, (std::vector<int>{41, 18467, 6334, 26500, 19169}));
  rng_seed(0xFFFFFFFFu);
  uint32_t x = 0xFFFFFFFFu * 214013u + 2531011u;
  EXPECT_EQ(rng_next(), static_cast<int>((x >> 16) & 0x7FFF));
}

void collect(void* ctx, const DirEntryInfo* e) {
  static_cast<std::vector<std::string>*>(ctx)->push_back(std::string(e->path) + ":" + e->name + ":" +
                                                         std::to_string(e->size));
}

TEST(Platform, DirectoryWalk) {
  std::string dir = make_temp_dir();
  mkdir((dir + "/s").c_str(), 0755);
  write_file(dir + "/a", "123");
  write_file(dir + "/s/b", "");
  std::vector<std::string> seen;
  ASSERT_TRUE(dir_walk((dir + "//").c_str(), collect, &seen));
  std::sort(seen.begin(), seen.end());
  EXPECT_EQ(seen, (std::vector<std::string>{dir + "/a:a:3", dir + "/s/b:b:0"}));
  EXPECT_FALSE(dir_walk((dir + "/missing").c_str(), collect, &seen));
  remove_tree(dir);
}

TEST(Platform, LockedOpenIsExclusive) {
  std::string dir = make_temp_dir();
  std::string path = dir + "/f";
  int a = file_open_locked(path.c_str());
  ASSERT_GE(a, 0);
  EXPECT_EQ(file_open_locked(path.c_str()), -1);
  ASSERT_TRUE(file_write_all(a, "xy", 2));
  file_close(a);
  int b = file_open_locked(path.c_str());
  ASSERT_GE(b, 0);
  ASSERT_TRUE(file_write_all(b, "z", 1));  // appends
  file_close(b);
  EXPECT_EQ(read_file(path), "xyz");
  remove_tree(dir);
}

TEST(Platform, DynamicLoading) {
  void* lib = dyn_open("libc.so.6");
  ASSERT_NE(lib, nullptr);
  auto len = reinterpret_cast<size_t (*)(const char*)>(dyn_symbol(lib, "strlen"));
  ASSERT_NE(len, nullptr);
  EXPECT_EQ(len("abc"), 3u);
  EXPECT_EQ(dyn_symbol(lib, "no_such_entry_point"), nullptr);
  EXPECT_EQ(dyn_open("libno-such-library.so.9"), nullptr);
  EXPECT_NE(std::string(dyn_error()), "");
}

TEST(Platform, LocalTimeText) {
  char out[40];
  int n = clock_local_text(out, sizeof out);
  EXPECT_EQ(n, 19);
  struct tm tm;
  clock_utc(0, &tm);
  EXPECT_EQ(tm.tm_year, 70);
}

}  // namespace
