// Text at the ODBC boundary: conversion buffer, UTF-16 and driver text to UTF-8, CP932 scoring.
#include <iconv.h>

#include <cerrno>
#include <cstring>

#include "db/odbc.h"
#include "db/odbc_internal.h"
#include "platform/layout.h"
#include "store/utf16_text.h"

LARGE_STATIC static char conv_inline[4096];
static char* conv_heap;
static size_t conv_heap_cap;

char* conv_buffer(size_t size) {
  if (size <= sizeof conv_inline) return conv_inline;
  if (size > conv_heap_cap) {
    conv_heap = static_cast<char*>(db_realloc(conv_heap, size));
    conv_heap_cap = size;
  }
  return conv_heap;
}

size_t wide_to_utf8(const char* units_bytes, size_t units, char** out) {
  // Each unit gives at most three bytes; WideToMulti wants four to spare.
  char* buf = conv_buffer(units * 3 + 8);
  int n = WideToMulti(reinterpret_cast<const uint16_t*>(units_bytes), static_cast<int>(units), buf,
                      static_cast<int>(units * 3));
  *out = buf;
  return static_cast<size_t>(n);
}

size_t char_to_utf8(const char* text, size_t len, const char** out) {
  // A CP932 byte becomes at most three UTF-8 bytes (half-width katakana).
  size_t cap = len * 3 + 8;
  char* buf = conv_buffer(cap);
  int n = odbc_text_to_utf8(text, len, buf, cap);
  if (n > 0) {
    *out = buf;
    return static_cast<size_t>(n);
  }
  *out = text;
  return len;
}

// CP932 to UTF-8 with glibc iconv; a byte that starts no valid character becomes U+FFFD.
// Returns the length written, or 0 when dest is too small.
static int cp932_to_utf8(const char* text, size_t len, char* dest, size_t dest_size) {
  static iconv_t cd = reinterpret_cast<iconv_t>(-1);
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    cd = iconv_open("UTF-8", "CP932");
    if (cd == reinterpret_cast<iconv_t>(-1)) return 0;
  }
  if (dest_size == 0) return 0;
  iconv(cd, nullptr, nullptr, nullptr, nullptr);
  char* in = const_cast<char*>(text);
  size_t in_left = len;
  char* out = dest;
  size_t out_left = dest_size - 1;   // room for the terminating zero
  while (in_left > 0) {
    if (iconv(cd, &in, &in_left, &out, &out_left) != static_cast<size_t>(-1)) break;
    if (errno == E2BIG || out_left < 3) return 0;
    // EILSEQ or EINVAL (cut at the end): replace one byte and go on.
    std::memcpy(out, "\xEF\xBF\xBD", 3);
    out += 3;
    out_left -= 3;
    in++;
    in_left--;
  }
  *out = 0;
  return static_cast<int>(out - dest);
}

int odbc_text_to_utf8(const char* text, size_t len, char* dest, size_t dest_size) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
  int utf8 = 0, cp = 0;
  size_t i = 0;
  while (i < len && p[i] != 0 && (utf8 - cp < 12 && cp - utf8 < 12)) {
    unsigned c = p[i];
    if (c < 0x80) {
      i += 1;
    } else if (c >= 0xF0 && c <= 0xF7) {
      utf8 += 2;
      i += 4;
    } else if (c >= 0xF8 && c <= 0xFB) {
      utf8 += 2;
      i += 5;
    } else if (c >= 0xFC && c <= 0xFD) {
      utf8 += 2;
      i += 6;
    } else if (c <= 0xC1) {
      cp += 2;
      i += 2;
    } else if (c >= 0xE0 && c <= 0xEF && i + 2 < len && p[i + 1] >= 0x80 && p[i + 1] <= 0xBF &&
               p[i + 2] >= 0x80 && p[i + 2] <= 0xBF) {
      utf8 += 2;
      i += 3;
    } else if (c >= 0xC2 && c <= 0xDF) {
      if (i + 1 < len && p[i + 1] >= 0x80 && p[i + 1] <= 0x9F) cp += 1;
      else utf8 += 1;
      i += 2;
    } else {
      i += 1;
    }
  }
  if (utf8 == 0 && cp == 0) return 0;
  if (utf8 >= cp) return -1;
  return cp932_to_utf8(text, strnlen(text, len), dest, dest_size);
}
