// Number text digit by digit: Integers, and Floats with ten decimals from the exact binary value.
#include "store/number_text.h"

#include <cstdio>
#include <cstring>

namespace {

struct DigitPairs {
  char d[200];
  constexpr DigitPairs() : d{} {
    for (int i = 0; i < 100; i++) {
      d[2 * i] = static_cast<char>('0' + i / 10);
      d[2 * i + 1] = static_cast<char>('0' + i % 10);
    }
  }
};
constexpr DigitPairs PAIRS;

// Writes u's digits so that they end just before `end`; returns where they start.
inline char* digits_before(char* end, uint64_t u) {
  while (u >= 100) {
    unsigned r = static_cast<unsigned>(u % 100);
    u /= 100;
    end -= 2;
    std::memcpy(end, PAIRS.d + 2 * r, 2);
  }
  if (u >= 10) {
    end -= 2;
    std::memcpy(end, PAIRS.d + 2 * u, 2);
  } else {
    *--end = static_cast<char>('0' + u);
  }
  return end;
}

constexpr uint64_t TEN10 = 10000000000ull;
constexpr uint64_t TEN19 = 10000000000000000000ull;
constexpr uint64_t FIVE10 = 9765625;   // 10^10 = 5^10 * 2^10

}  // namespace

size_t int_text(int32_t v, char* buf) {
  char t[12];
  uint32_t u = v < 0 ? 0u - static_cast<uint32_t>(v) : static_cast<uint32_t>(v);
  char* p = digits_before(t + sizeof t, u);
  if (v < 0) *--p = '-';
  size_t n = static_cast<size_t>(t + sizeof t - p);
  std::memcpy(buf, p, n);
  buf[n] = 0;
  return n;
}

int fixed10_text(double x, char* buf, size_t size) {
  uint64_t bits;
  std::memcpy(&bits, &x, 8);
  unsigned biased = static_cast<unsigned>(bits >> 52) & 0x7FF;
  uint64_t m = bits & ((uint64_t{1} << 52) - 1);
  int e = biased == 0 ? -1074 : static_cast<int>(biased) - 1075;
  if (biased != 0) m |= uint64_t{1} << 52;
  // x * 10^10 = m * 5^10 * 2^(e + 10), with m * 5^10 below 2^77: exact in 128 bits while the
  // shift stays within 51 bits to the left.
  if (biased == 0x7FF || e > 41) return std::snprintf(buf, size, "%.10f", x);
  using u128 = unsigned __int128;
  u128 p = static_cast<u128>(m) * FIVE10;
  int sh = e + 10;
  u128 q;
  if (sh >= 0) {
    q = p << sh;
  } else if (sh > -128) {
    // Round to nearest, ties to even (the exact remainder is known).
    unsigned r = static_cast<unsigned>(-sh);
    q = p >> r;
    u128 rem = p & ((u128{1} << r) - 1), half = u128{1} << (r - 1);
    if (rem > half || (rem == half && (q & 1))) q++;
  } else {
    q = 0;   // below 2^-51 of a unit: rounds to zero
  }
  char t[64];
  char* end = t + sizeof t;
  uint64_t frac = static_cast<uint64_t>(q % TEN10);
  u128 whole = q / TEN10;
  char* f = end - 10;
  for (char* d = end; d > f;) {
    d -= 2;
    std::memcpy(d, PAIRS.d + 2 * (frac % 100), 2);
    frac /= 100;
  }
  *--f = '.';
  char* start;
  if (whole >> 64) {
    start = digits_before(f, static_cast<uint64_t>(whole % TEN19));
    while (start > f - 19) *--start = '0';
    start = digits_before(start, static_cast<uint64_t>(whole / TEN19));
  } else {
    start = digits_before(f, static_cast<uint64_t>(whole));
  }
  if (bits >> 63) *--start = '-';
  size_t n = static_cast<size_t>(end - start);
  if (size) {
    size_t k = n < size ? n : size - 1;
    std::memcpy(buf, start, k);
    buf[k] = 0;
  }
  return static_cast<int>(n);
}
