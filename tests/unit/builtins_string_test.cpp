// String methods, internals: character stepping over every kind of lead byte, the position
// cache (checkpoints, reuse of storage, store resets) and in-place trimming of temporaries.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "builtins/string_methods.h"
#include "eval/plugins.h"
#include "frontend/tree.h"

namespace {

class StringTest : public ::testing::Test {
 protected:
  void SetUp() override { fresh_store(); }
  static void fresh_store() {
    store_reset();
    name_table_reset();
    eval_reset();
    store_switch_to_run_phase();
  }
};

DW str(const std::string& s) { return string_of(s.data(), s.size()); }
std::string text(DW h) { return std::string(str_text(h), str_rec(h)->len); }
uint32_t name(const char* m) { return name_intern_text(m, std::strlen(m)); }

// Names are matched whole and case-sensitively (the script-visible match methods carry the
// str_ prefix).
TEST_F(StringTest, MethodNamesMatchWholeRows) {
  for (const char* m : {"charAt", "trimRight", "str_match", "str_matchAll", "localeCompare"})
    EXPECT_GE(string_method_row(name(m)), 0) << m;
  for (const char* m : {"match", "matchAll", "charat", "char", "trimRights", "localeCompares", "length"})
    EXPECT_EQ(string_method_row(name(m)), -1) << m;
}

// Character count and the byte offset of each character, by the lead-byte rule.
struct StepCase {
  const char* bytes;
  std::vector<uint32_t> starts;  // byte offset of every character
};

TEST_F(StringTest, StepsByLeadByteAndCutsTheLastStepAtTheEnd) {
  const StepCase cases[] = {
      {"abc", {0, 1, 2}},
      {"a\xC3\xA9" "b", {0, 1, 3}},                  // two-byte sequence
      {"\xE3\x81\x82x", {0, 3}},                      // three bytes
      {"\xF0\x9F\x98\x80z", {0, 4}},                  // four bytes
      {"\xF8" "1234x", {0, 5}},                       // 0xF8-0xFB: five bytes, whatever follows
      {"\xFD" "12345x", {0, 6}},                      // 0xFC-0xFD: six bytes
      {"\xFE\xFF" "a", {0, 1, 2}},                    // 0xFE-0xFF: one byte
      {"\x80\xBF" "a", {0, 1, 2}},                    // continuation bytes in lead position
      {"\xC3" "e", {0}},                              // a two-byte step over a plain byte
      {"x\xE3\x81", {0, 1}},                          // cut at the end
      {"", {}},
  };
  for (const StepCase& c : cases) {
    uint32_t len = static_cast<uint32_t>(std::strlen(c.bytes));
    uint32_t n = static_cast<uint32_t>(c.starts.size());
    SCOPED_TRACE(testing::PrintToString(std::string(c.bytes)));
    EXPECT_EQ(utf8_count(c.bytes, len), n);
    for (uint32_t i = 0; i < n; i++) {
      EXPECT_EQ(utf8_offset(c.bytes, len, i), c.starts[i]) << "character " << i;
      EXPECT_EQ(utf8_index(c.bytes, len, c.starts[i]), i) << "character " << i;
    }
    EXPECT_EQ(utf8_offset(c.bytes, len, n), len);
    EXPECT_EQ(utf8_offset(c.bytes, len, n + 7), len);
    EXPECT_EQ(utf8_index(c.bytes, len, len), n);
  }
}

// A pinned string answers from its checkpoints exactly as stepping from the start does, for
// every character and byte, in any order.
TEST_F(StringTest, PinnedPositionsAgreeWithStepping) {
  std::string s;
  for (int i = 0; i < 700; i++) s += (i % 5 == 0) ? "\xE3\x81\x82" : (i % 11 == 0) ? "\xC3\xA9" : "x";
  s += "\xF8" "12";  // a step cut at the end
  DW h = str(s);
  uint32_t len = static_cast<uint32_t>(s.size());
  uint32_t n = utf8_count(s.data(), len);
  StrPos p;
  str_pos_open(&p, h);
  str_pos_open(&p, h);  // the second question pins it
  ASSERT_NE(p.marks, nullptr);
  ASSERT_EQ(str_pos_count(&p), n);
  for (uint32_t i = n + 2; i-- > 0;) EXPECT_EQ(str_pos_offset(&p, i), utf8_offset(s.data(), len, i)) << i;
  for (uint32_t b = 0; b <= len; b++) EXPECT_EQ(str_pos_index(&p, b), utf8_index(s.data(), len, b)) << b;

  // An ASCII string needs no checkpoints.
  DW a = str(std::string(300, 'q'));
  str_pos_open(&p, a);
  str_pos_open(&p, a);
  EXPECT_EQ(p.marks, nullptr);
  EXPECT_TRUE(p.ascii);
  EXPECT_EQ(str_pos_offset(&p, 123), 123u);
  EXPECT_EQ(str_pos_offset(&p, 999), 300u);
}

// Walks over two pinned strings side by side (each remembers the character asked for last):
// forwards, the same position twice, backwards, jumps within and across checkpoints.
TEST_F(StringTest, WalksOverPinnedStringsAgreeWithStepping) {
  std::string s1, s2;
  for (int i = 0; i < 400; i++) {
    s1 += (i % 3 == 0) ? "\xE6\x97\xA5" : (i % 7 == 0) ? "\xF0\x9F\x98\x80" : "a";
    s2 += (i % 4 == 1) ? "\xC3\xA9" : "b";
  }
  const std::string* texts[2] = {&s1, &s2};
  DW hs[2] = {str(s1), str(s2)};
  StrPos p;
  for (DW h : hs) {
    str_pos_open(&p, h);
    str_pos_open(&p, h);
  }
  std::vector<uint32_t> walk;
  for (uint32_t i = 0; i < 420; i++) walk.insert(walk.end(), {i, i});   // forwards, each twice
  for (uint32_t i = 300; i-- > 250;) walk.push_back(i);                   // backwards
  for (uint32_t i : {5u, 40u, 33u, 31u, 32u, 64u, 63u, 95u, 0u, 399u, 398u, 17u, 18u, 60u})
    walk.push_back(i);                                                    // jumps
  for (uint32_t ci : walk)
    for (int k = 0; k < 2; k++) {
      str_pos_open(&p, hs[k]);
      ASSERT_NE(p.marks, nullptr);
      uint32_t len = static_cast<uint32_t>(texts[k]->size());
      ASSERT_EQ(str_pos_offset(&p, ci), utf8_offset(texts[k]->data(), len, ci)) << k << " " << ci;
    }
}

// Storage freed and handed to a new string of the same length is never answered from the old
// string's positions, nor is a pinned string after the store and the names were reset.
TEST_F(StringTest, ReusedStorageAndResetStoresAreNotAnsweredFromTheCache) {
  uint32_t charAt = name("charAt");
  DW one = int_value(1);
  DW a = str("\xC3\xA9" "cd");  // 4 bytes, 3 characters
  EXPECT_EQ(text(string_method(a, charAt, &one, 1)), "c");
  dw_discard(a);
  DW b = str("wxyz");  // same length, likely the same record and text storage
  EXPECT_EQ(text(string_method(b, charAt, &one, 1)), "x");
  EXPECT_EQ(text(string_method(b, charAt, &one, 1)), "x");  // pinned now

  DW c = str("\xC3\xA9" "cd");
  EXPECT_EQ(text(string_method(c, charAt, &one, 1)), "c");
  EXPECT_EQ(text(string_method(c, charAt, &one, 1)), "c");  // pinned: holds one reference
  EXPECT_EQ(dw_count(c), 1u);

  fresh_store();
  charAt = name("charAt");
  one = int_value(1);
  DW d = str("wxyz");
  DW e = str("\xC3\xA9" "cd");
  EXPECT_EQ(text(string_method(d, charAt, &one, 1)), "x");
  EXPECT_EQ(text(string_method(e, charAt, &one, 1)), "c");
  EXPECT_EQ(text(string_method(d, charAt, &one, 1)), "x");
  EXPECT_EQ(dw_count(e), 0u);  // the reset forgot the old pin without touching the new store
}

// trim shortens a temporary in place; a string held elsewhere is left as it is.
TEST_F(StringTest, TrimShortensOnlyTemporariesInPlace) {
  uint32_t trim = name("trim");
  DW temp = str("  ab \n");
  DW r = string_method(temp, trim, nullptr, 0);
  EXPECT_EQ(r, temp);
  EXPECT_EQ(text(r), "ab");
  EXPECT_EQ(str_text(r)[2], 0);

  DW held = dw_ref(dw_ref(str("\t x ")));
  DW r2 = string_method(held, trim, nullptr, 0);
  EXPECT_NE(r2, held);
  EXPECT_EQ(text(r2), "x");
  EXPECT_EQ(text(held), "\t x ");

  DW clean = dw_ref(dw_ref(str("x")));
  EXPECT_EQ(string_method(clean, trim, nullptr, 0), clean);
}

}  // namespace
