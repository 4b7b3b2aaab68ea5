// Hex digits and the %XY decoder that request fields and the URI functions share.
#include <gtest/gtest.h>

#include <string>

#include "store/hex_codes.h"

namespace {

TEST(HexCodes, DigitValues) {
  struct Case {
    uint32_t unit;
    int value;
  } cases[] = {
      {'0', 0}, {'9', 9}, {'a', 10}, {'f', 15}, {'A', 10}, {'F', 15},
      {'g', -1}, {'G', -1}, {'/', -1}, {':', -1}, {'@', -1}, {'`', -1}, {' ', -1}, {0, -1},
      {0xE9, -1},                 // a high byte
      {0x0141, -1}, {0xFF10, -1}, // UTF-16 units whose low byte is a digit
      {static_cast<uint32_t>(static_cast<char>(0xC1)), -1},  // a negative char
  };
  for (const Case& c : cases) EXPECT_EQ(hex_digit_value(c.unit), c.value) << std::hex << c.unit;
  EXPECT_EQ(hex_digit_char(0), '0');
  EXPECT_EQ(hex_digit_char(11), 'B');
  EXPECT_EQ(hex_digit_char(0x3F), 'F');   // the low four bits only
}

TEST(HexCodes, EscapeAtPosition) {
  EXPECT_EQ(percent_byte("%41", 0, 3), 0x41);
  EXPECT_EQ(percent_byte("%fF", 0, 3), 0xFF);
  EXPECT_EQ(percent_byte("%00", 0, 3), 0);
  EXPECT_EQ(percent_byte("x%4", 1, 3), PERCENT_SHORT);
  EXPECT_EQ(percent_byte("%", 0, 1), PERCENT_SHORT);
  EXPECT_EQ(percent_byte("%41", 0, 2), PERCENT_SHORT);   // the end is len, not the NUL
  EXPECT_EQ(percent_byte("%4G", 0, 3), PERCENT_BAD);
  EXPECT_EQ(percent_byte("%G4", 0, 3), PERCENT_BAD);
  EXPECT_EQ(percent_byte("%\xC1" "1", 0, 3), PERCENT_BAD);
}

TEST(HexCodes, DecodeInPlace) {
  struct Case {
    std::string in, out;
  } cases[] = {
      {"", ""},
      {"plain", "plain"},
      {"a%20b", "a b"},
      {"%41%42%43", "ABC"},
      {"%e3%81%82", "\xe3\x81\x82"},      // high bytes
      {"x%00y", std::string("x\0y", 3)},  // a NUL byte is kept in the text
      {"%%41", "%A"},                     // a bad escape stays and the next one still counts
      {"%zz%4", "%zz%4"},                 // bad and truncated escapes stay as they are
      {"100%", "100%"},
      {"%2541", "%41"},                   // decoded once only
      {"+", "+"},
  };
  for (Case& c : cases) {
    std::string t = c.in;
    size_t n = percent_decode(t.data(), t.size());
    EXPECT_EQ(t.substr(0, n), c.out) << c.in;
  }
}

}  // namespace
