// Number text: int_text and fixed10_text give the bytes of "%d" and "%.10f" on edge values and
// on many generated ones (random bit patterns, decimal fractions, exact halves at the tenth
// decimal, subnormals, the limit of the exact path), with buffers large and small.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "store/number_text.h"

namespace {

uint64_t next(uint64_t& s) {
  s ^= s << 13;
  s ^= s >> 7;
  s ^= s << 17;
  return s;
}

double from_bits(uint64_t b) {
  double d;
  std::memcpy(&d, &b, 8);
  return d;
}

void expect_fixed10(double x, size_t size = 400) {
  char want[400], got[400];
  std::memset(got, 'x', sizeof got);
  int wn = std::snprintf(want, size, "%.10f", x);
  int gn = fixed10_text(x, got, size);
  ASSERT_EQ(gn, wn) << want;
  ASSERT_STREQ(got, want) << "size " << size;
}

}  // namespace

TEST(NumberText, IntegersAsDecimal) {
  std::vector<int32_t> vals = {0, 1, -1, 9, 10, -10, 99, 100, 101, 4095, -256, 65536, 999999999,
                               1000000000, INT_MAX, INT_MIN, INT_MIN + 1};
  uint64_t s = 88172645463325252ull;
  for (int i = 0; i < 20000; i++) {
    uint64_t r = next(s);
    vals.push_back(static_cast<int32_t>(static_cast<uint32_t>(r) >> (r >> 59)));   // every width
  }
  for (int32_t v : vals) {
    char want[16], got[16];
    int wn = std::snprintf(want, sizeof want, "%d", v);
    ASSERT_EQ(int_text(v, got), static_cast<size_t>(wn));
    ASSERT_STREQ(got, want);
  }
}

TEST(NumberText, FloatsWithTenDecimals) {
  std::vector<double> vals = {0.0, -0.0, 0.5, -0.5, 1.0, 0.1, 0.2, 0.3, 1.0 / 3, 2.0 / 3, 1e-10, 5e-11,
                              4.9999999999e-11, 5.0000000001e-11, 1.5e-10, 2.5e-10, 0.00048828125, 1e-300,
                              4.9e-324, 2.2250738585072014e-308, -1e-20, 123456789.123456789, 1e15, 1e16,
                              9007199254740993.0, 1e20, 1e21, 1e25, 1.7976931348623157e308, -1e300,
                              std::ldexp(1.0, 93), std::ldexp(1.0, 94), std::ldexp(1.0, 95),
                              std::nextafter(std::ldexp(1.0, 94), 0.0), HUGE_VAL, -HUGE_VAL, NAN, -NAN};
  // Exact halves at the tenth decimal: k / 2^n with n from 11 up.
  for (int n = 11; n <= 40; n++)
    for (int k = 1; k < 64; k += 2) vals.push_back(std::ldexp(static_cast<double>(k), -n));
  uint64_t s = 2463534242ull;
  for (int i = 0; i < 40000; i++) {
    uint64_t r = next(s);
    vals.push_back(from_bits(r));                                                  // any exponent
    vals.push_back(static_cast<double>(static_cast<int64_t>(r % 2000000001) - 1000000000) /
                   std::pow(10.0, static_cast<double>(r >> 60)));                   // decimal fractions
    vals.push_back(std::ldexp(static_cast<double>(r >> 11), static_cast<int>(r % 140) - 140));  // small
  }
  for (double x : vals) expect_fixed10(x);
}

TEST(NumberText, SmallBuffersAreCutAsSnprintfCutsThem) {
  for (double x : {0.0, -1.25, 123456.5, 1e30, 3.0e200})
    for (size_t size : {1, 2, 3, 5, 8, 12, 17, 40}) expect_fixed10(x, size);
}
