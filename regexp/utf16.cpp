// UTF-16 copies of texts for the regular-expression engine, and the way back to UTF-8.
#include <cstdlib>
#include <cstring>

#include "errors/raise.h"
#include "store/utf16_text.h"
#include "regexp/regexp.h"

namespace {

// Process-wide scratch copies: 0 and 1 for callers, 2 for patterns compiled from UTF-8, 3 for
// exec and test.
uint16_t* scratch[4];
size_t scratch_cap[4];

// Converts into dst (room for len + 3 units): dst[0] = 0, the units from dst[1], then 0.
int32_t convert(const char* text, size_t len, uint16_t* dst, bool upper) {
  dst[0] = 0;
  if (len == 0) {
    dst[1] = 0;
    return 0;
  }
  if (len > 0x7FFFFFF0) raise_eval_error(1400, "メモリ領域を取得できません");
  int n = MultiToWide(text, static_cast<int>(len), dst + 1, static_cast<int>(len));
  if (n <= 0) raise_parse_error(4800, "文字のEncode変換不正");
  dst[n + 1] = 0;
  if (upper)
    for (int k = 1; k <= n; k++)
      if (dst[k] - 'a' + 0u < 26u) dst[k] = static_cast<uint16_t>(dst[k] - 32);
  return n;
}

}  // namespace

uint16_t* to_utf16(const char* text, size_t* length, uint16_t* buffer, size_t capacity,
                   bool* allocated, bool upper) {
  size_t len = *length;
  uint16_t* dst = buffer;
  *allocated = false;
  if (!buffer || len + 6 >= capacity) {
    dst = static_cast<uint16_t*>(std::malloc((len + 8) * sizeof(uint16_t)));
    if (!dst) raise_eval_error(1400, "メモリ領域を取得できません");
    *allocated = true;
  }
  *length = static_cast<size_t>(convert(text, len, dst, upper));
  return dst + 1;
}

uint16_t* rx_scratch_utf16(int which, const char* text, size_t len, int32_t* units) {
  if (scratch_cap[which] < len + 8) {
    size_t cap = len + 8 < 1024 ? 1024 : len + 8 + len / 2;
    uint16_t* p = static_cast<uint16_t*>(std::realloc(scratch[which], cap * sizeof(uint16_t)));
    if (!p) raise_eval_error(1400, "メモリ領域を取得できません");
    scratch[which] = p;
    scratch_cap[which] = cap;
  }
  *units = convert(text, len, scratch[which], false);
  return scratch[which] + 1;
}

size_t rx_utf16_to_utf8(const uint16_t* src, size_t units, char* dst, size_t cap) {
  size_t o = 0;
  for (size_t k = 0; k < units; k++) {
    unsigned u = src[k];
    if (u < 0x80) {
      if (o + 2 > cap) break;
      dst[o++] = static_cast<char>(u);
    } else if (u < 0x800) {
      if (o + 3 > cap) break;
      dst[o++] = static_cast<char>(0xC0 | (u >> 6));
      dst[o++] = static_cast<char>(0x80 | (u & 0x3F));
    } else {
      if (o + 4 > cap) break;
      dst[o++] = static_cast<char>(0xE0 | (u >> 12));
      dst[o++] = static_cast<char>(0x80 | ((u >> 6) & 0x3F));
      dst[o++] = static_cast<char>(0x80 | (u & 0x3F));
    }
  }
  if (cap) dst[o] = 0;
  return o;
}

size_t rx_unit_to_byte(const char* text, size_t len, int32_t unit) {
  const unsigned char* s = reinterpret_cast<const unsigned char*>(text);
  size_t o = 0;
  for (int32_t k = 0; k < unit && o < len; k++) {
    unsigned c = s[o];
    size_t n = c < 0xC0 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : c < 0xF8 ? 4 : 1;
    if (n > 1) {  // a cut sequence gives one replacement unit for its lead byte alone
      for (size_t j = 1; j < n; j++)
        if (o + j >= len || (s[o + j] & 0xC0) != 0x80) {
          n = 1;
          break;
        }
    }
    o += n;
  }
  return o;
}
