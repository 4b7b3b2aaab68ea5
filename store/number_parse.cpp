// The number-text parser shared by the tokenizer and the Integer/Float/Number conversions.
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>

#include "errors/raise.h"
#include "store/hex_codes.h"
#include "store/store.h"

static inline bool is_digit(char c) { return c >= '0' && c <= '9'; }

// 1405 with the rest of the line from where parsing stopped (at most 120 bytes, never cutting a
// UTF-8 character in two).
[[noreturn]] static void number_error(const char* p) {
  size_t n = 0;
  while (n < 120 && p[n] && p[n] != '\n' && p[n] != '\r') n++;
  if (n == 120)
    while (n > 0 && (static_cast<unsigned char>(p[n]) & 0xC0) == 0x80) n--;
  raise_parse_error(1405, "数字のフォーマット不正 '%.*s'", static_cast<int>(n), p);
}

// The value of a decimal text [begin, end) (digits, point, exponent), correctly rounded.
static double decimal_value(const char* begin, const char* end) {
  double d = 0;
  auto res = std::from_chars(begin, end, d, std::chars_format::general);
  if (res.ec != std::errc::result_out_of_range) return d;
  // Too large or too small for a double: infinity or zero by the decimal exponent.
  const char* p = begin;
  long e10 = 0;
  while (p < end && (*p == '0')) p++;
  if (p < end && is_digit(*p)) {
    while (p < end && is_digit(*p)) p++, e10++;
  } else if (p < end && *p == '.') {
    p++;
    while (p < end && *p == '0') p++, e10--;
  }
  while (p < end && *p != 'e' && *p != 'E') p++;
  if (p < end) {
    p++;
    bool neg = *p == '-';
    if (*p == '-' || *p == '+') p++;
    long x = 0;
    while (p < end && is_digit(*p)) x = x < 100000 ? x * 10 + (*p++ - '0') : (p++, x);
    e10 += neg ? -x : x;
  }
  return e10 > 0 ? std::numeric_limits<double>::infinity() : 0.0;
}

// Whether an accumulated integer is a 64-bit signed result once the sign is applied.
static inline bool fits_int64(uint64_t acc, bool overflow, int sign) {
  return !overflow && (acc <= static_cast<uint64_t>(INT64_MAX) || (sign < 0 && acc == uint64_t{1} << 63));
}

static inline int signed_integer(uint64_t acc, int sign, int64_t* ival) {
  *ival = static_cast<int64_t>(sign < 0 ? 0 - acc : acc);
  return 0;
}

static inline int signed_float(double d, int sign, double* dval) {
  *dval = sign < 0 ? -d : d;
  return 1;
}

int parse_number(const char** pp, double* dval, int64_t* ival, int sign) {
  const char* p = *pp;
  if (p[0] == '0' && p[1] == 'x') {
    p += 2;
    uint64_t acc = 0;
    double facc = 0;
    bool overflow = false;
    for (int v; (v = hex_digit_value(*p)) >= 0; p++) {
      if (acc >> 60) overflow = true;
      acc = (acc << 4) | static_cast<unsigned>(v);
      facc = facc * 16 + v;
    }
    *pp = p;
    return fits_int64(acc, overflow, sign) ? signed_integer(acc, sign, ival) : signed_float(facc, sign, dval);
  }
  const char* start = p;
  if (*p == '.') {
    p++;
    if (!is_digit(*p)) number_error(p);
    while (is_digit(*p)) p++;
    if (*p == 'e' || *p == 'E') {
      p++;
      if (*p == '-' || *p == '+') p++;
      if (!is_digit(*p)) number_error(p);
      while (is_digit(*p)) p++;
    }
    if (*p == '.') number_error(p);
    *pp = p;
    return signed_float(decimal_value(start, p), sign, dval);
  }
  uint64_t acc = 0;
  bool overflow = false, is_float = false;
  while (is_digit(*p)) {
    unsigned d = static_cast<unsigned>(*p - '0');
    if (acc > (UINT64_MAX - d) / 10) overflow = true;
    acc = acc * 10 + d;
    p++;
  }
  bool any_digit = p != start;
  if (any_digit && *p == '.') {
    is_float = true;
    p++;
    while (is_digit(*p)) p++;
  }
  if (any_digit && (*p == 'e' || *p == 'E')) {
    is_float = true;
    p++;
    if (*p == '-' || *p == '+') p++;
    if (!is_digit(*p)) number_error(p);
    while (is_digit(*p)) p++;
  }
  *pp = p;
  if (!is_float && fits_int64(acc, overflow, sign)) return signed_integer(acc, sign, ival);
  return signed_float(decimal_value(start, p), sign, dval);
}

int parse_signed_number(const char** pp, double* dval, int64_t* ival) {
  int sign = 1;
  if (**pp == '-') {
    sign = -1;
    (*pp)++;
  } else if (**pp == '+') {
    (*pp)++;
  }
  return parse_number(pp, dval, ival, sign);
}
