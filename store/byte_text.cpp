// Small helpers over byte texts.
#include "store/byte_text.h"

#include <cstring>

#include "platform/platform.h"

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
    if (text[i] < '0' || text[i] > '9') return -1;
    v = v * 10 + (text[i] - '0');
  }
  *kind = text[1];
  return v;
}

const char* local_time_stamp() {
  static char buf[50];
  clock_local_text(buf, sizeof buf);
  return buf;
}
