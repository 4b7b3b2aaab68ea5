// Hex digits and %XY escapes, shared by the number parser, request intake, the URI functions and
// the pattern compiler.
#pragma once
#include <cstddef>
#include <cstdint>

// '0'-'9', 'A'-'F', 'a'-'f' to 0-15, -1 for anything else. Takes any code unit (a char, a byte or
// a UTF-16 unit) so that a wide unit is never cut down to a digit; a negative char is no digit.
constexpr int hex_digit_value(uint32_t c) {
  if (c >= '0' && c <= '9') return static_cast<int>(c - '0');
  if (c >= 'A' && c <= 'F') return static_cast<int>(c - 'A' + 10);
  if (c >= 'a' && c <= 'f') return static_cast<int>(c - 'a' + 10);
  return -1;
}

// 0-15 to '0'-'9', 'A'-'F' (the low four bits only).
constexpr char hex_digit_char(int v) { return "0123456789ABCDEF"[v & 15]; }

enum : int { PERCENT_SHORT = -1, PERCENT_BAD = -2 };
// The byte of the escape "%XY" that starts at text[i]: 0-255; PERCENT_SHORT when the two digits
// would reach the end of text[0..len), PERCENT_BAD when either is not a hex digit.
constexpr int percent_byte(const char* text, size_t i, size_t len) {
  if (i + 2 >= len) return PERCENT_SHORT;
  int hi = hex_digit_value(text[i + 1]), lo = hex_digit_value(text[i + 2]);
  return hi < 0 || lo < 0 ? PERCENT_BAD : hi * 16 + lo;
}

// Decodes the %XY escapes of text[0..len) in place and returns the new length; a "%" that does
// not start a whole escape stays as it is.
inline size_t percent_decode(char* text, size_t len) {
  size_t w = 0;
  for (size_t r = 0; r < len; r++) {
    int b = text[r] == '%' ? percent_byte(text, r, len) : PERCENT_SHORT;
    if (b >= 0) {
      text[w++] = static_cast<char>(b);
      r += 2;
    } else {
      text[w++] = text[r];
    }
  }
  return w;
}
