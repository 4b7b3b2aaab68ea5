// Small text utilities kept beside the tokenizer.
#include "frontend/textutil.h"

#include <cstdio>
#include <cstring>
#include <ctime>

#include "frontend/parse_internal.h"

size_t trim_blanks(char* text) {
  size_t n = std::strlen(text), b = 0;
  while (b < n && (text[b] == ' ' || text[b] == '\t')) b++;
  while (n > b && (text[n - 1] == ' ' || text[n - 1] == '\t')) n--;
  if (b) std::memmove(text, text + b, n - b);
  text[n - b] = 0;
  return n - b;
}

void upper_in_place(char* text) {
  for (; *text; text++)
    if (*text >= 'a' && *text <= 'z') *text = static_cast<char>(*text - 'a' + 'A');
}

int casefold_compare(const char* a, const char* b, size_t n) {
  for (size_t i = 0; i < n; i++) {
    unsigned char x = static_cast<unsigned char>(a[i]), y = static_cast<unsigned char>(b[i]);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x - 'A' + 'a');
    if (x != y) return x < y ? -1 : 1;
    if (!x) return 0;
  }
  return 0;
}

bool word_at(const char* p, const char* word) { return keyword_at(p, word, std::strlen(word)); }

bool ident_start(char c) { return is_ident_start(c); }

bool is_escaped(const char* start, const char* p) {
  size_t n = 0;
  while (p - n > start && p[-1 - static_cast<ptrdiff_t>(n)] == '\\') n++;
  return n & 1;
}

const char* next_unescaped_quote(const char* p, char q) {
  const char* start = p;
  for (const char* s = p; (s = std::strchr(s, q)); s++)
    if (!is_escaped(start, s)) return s;
  return nullptr;
}

const char* next_unquoted_char(const char* p, char c) { return next_unquoted(const_cast<char*>(p), c); }

void path_to_slashes(char* path) {
  for (; *path; path++)
    if (*path == '\\') *path = '/';
}

static int base64_value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

size_t base64_decode(const char* text, size_t len, uint8_t* out, size_t cap) {
  size_t n = 0;
  uint32_t acc = 0;
  int bits = 0;
  for (size_t i = 0; i < len; i++) {
    int v = base64_value(text[i]);
    if (v < 0) break;
    acc = (acc << 6) | static_cast<uint32_t>(v);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      if (n >= cap) return n;
      out[n++] = static_cast<uint8_t>(acc >> bits);
    }
  }
  return n;
}

int32_t temp_reference(const char* text, size_t len, char* kind) {
  if (len != 8 || text[0] != '^' || (text[1] != 'A' && text[1] != 'H')) return -1;
  int32_t v = 0;
  for (int i = 2; i < 8; i++) {
    if (!is_digit(text[i])) return -1;
    v = v * 10 + (text[i] - '0');
  }
  *kind = text[1];
  return v;
}

const char* local_time_stamp() {
  static char buf[50];
  time_t now = std::time(nullptr);
  struct tm t;
  localtime_r(&now, &t);
  std::snprintf(buf, sizeof buf, "%d/%02d/%02d %02d:%02d:%02d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour,
                t.tm_min, t.tm_sec);
  return buf;
}
