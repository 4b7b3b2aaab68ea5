// Gathered front-end record text: pieces kept in order across the inline buffer, the chunks and
// the spool file that large records move to; freeing without writing.
#include <gtest/gtest.h>

#include <string>

#include "db/front_text.h"

namespace {

std::string flushed;
void to_string(const void* data, size_t len) { flushed.append(static_cast<const char*>(data), len); }

TEST(FrontText, PiecesComeBackInOrderAtEverySize) {
  // Below the inline buffer, a few chunks, and well past the point where chunks are spooled.
  for (size_t total : {size_t{100}, size_t{5000}, FRONT_SPOOL_AFTER * 5 + 777}) {
    front_text t;
    front_text_init(&t);
    std::string expect;
    for (size_t i = 0; expect.size() < total; i++) {
      std::string piece = std::to_string(i) + (i % 7 == 0 ? std::string(1500, 'x') : ",");
      front_text_append(&t, piece.data(), piece.size());
      expect += piece;
    }
    EXPECT_EQ(t.total, expect.size());
    EXPECT_EQ(t.spool_fd >= 0, expect.size() > FRONT_SPOOL_AFTER * 2) << total;
    flushed.clear();
    front_text_flush(&t, to_string);
    EXPECT_EQ(flushed.size(), expect.size());
    EXPECT_TRUE(flushed == expect) << total;
    EXPECT_EQ(t.spool_fd, -1);
    EXPECT_EQ(t.first, nullptr);
    // Used again after a flush.
    front_text_field(&t, "a b", 3);
    flushed.clear();
    front_text_flush(&t, to_string);
    EXPECT_EQ(flushed, "B5a%20b");
  }
}

TEST(FrontText, FreeDropsChunksAndSpool) {
  front_text t;
  front_text_init(&t);
  std::string piece(4000, 'y');
  for (int i = 0; i < 200; i++) front_text_append(&t, piece.data(), piece.size());
  ASSERT_GE(t.spool_fd, 0);
  front_text_free(&t);
  EXPECT_EQ(t.spool_fd, -1);
  EXPECT_EQ(t.total, 0u);
  flushed.clear();
  front_text_flush(&t, to_string);
  EXPECT_EQ(flushed, "");
}

}  // namespace
