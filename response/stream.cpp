// The response stream: standard output written in record order, the field encodings and the
// record counters of the completion record.
#include "response/stream.h"

#include <cstdio>
#include <cstring>

#include "errors/raise.h"

uint32_t count_a_records = 0;
uint32_t count_h_records = 0;
uint32_t count_alert_records = 0;
uint32_t count_yz_records = 0;

static bool out_closed = false;

void out_write(const void* data, size_t len) {
  if (out_closed || len == 0) return;
  std::fwrite(data, 1, len, stdout);
}

void out_text(const char* text) { out_write(text, std::strlen(text)); }

void out_flush() {
  if (!out_closed) std::fflush(stdout);
}

void out_close() {
  if (out_closed) return;
  std::fflush(stdout);
  std::fclose(stdout);
  out_closed = true;
}

bool out_is_closed() { return out_closed; }

void protocol_reset() {
  out_closed = false;
  count_a_records = count_h_records = count_alert_records = count_yz_records = 0;
}

// Bytes sent as they are; every other byte becomes %XY.
static constexpr bool make_safe(unsigned char c) {
  if (c >= '0' && c <= '9') return true;
  if (c >= 'A' && c <= 'Z') return true;
  if (c >= 'a' && c <= 'z') return true;
  for (const char* s = ";,/?:@&=+$-_.*'()#"; *s; s++)
    if (*s == static_cast<char>(c)) return true;
  return false;
}
struct SafeTable {
  bool v[256];
  constexpr SafeTable() : v() {
    for (int i = 0; i < 256; i++) v[i] = make_safe(static_cast<unsigned char>(i));
  }
};
static constexpr SafeTable safe_bytes;

int digit_count(uint64_t n) {
  int d = 1;
  while (n >= 10) {
    n /= 10;
    d++;
  }
  return d;
}

char* decimal_digits(char* out, uint64_t n, int d) {
  char* end = out + d;
  for (char* q = end; q > out; n /= 10) *--q = static_cast<char>('0' + n % 10);
  return end;
}

size_t field_encode(const char* text, size_t maxIn, char* out, size_t outSize) {
  size_t inLen = strnlen(text, maxIn);
  size_t encLen = 0;
  bool escaped = false;
  for (size_t i = 0; i < inLen; i++) {
    if (safe_bytes.v[static_cast<unsigned char>(text[i])]) {
      encLen++;
    } else {
      encLen += 3;
      escaped = true;
    }
  }
  int d = digit_count(encLen);
  size_t fieldLen = 1 + static_cast<size_t>(d) + encLen;
  if (outSize < 14 || fieldLen > outSize - 14) raise_eval_error(1585, "Encodeバッファーの容量不足");
  char* p = out;
  *p++ = static_cast<char>((escaped ? 'A' : '0') + d);
  p = decimal_digits(p, encLen, d);
  static constexpr char hex[] = "0123456789ABCDEF";
  for (size_t i = 0; i < inLen; i++) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (safe_bytes.v[c]) {
      *p++ = static_cast<char>(c);
    } else {
      *p++ = '%';
      *p++ = hex[c >> 4];
      *p++ = hex[c & 15];
    }
  }
  *p = 0;
  return fieldLen;
}

size_t plain_field(const char* text, size_t len, char* out) {
  int d = digit_count(len);
  out[0] = static_cast<char>('0' + d);
  int n = d;
  decimal_digits(out + 1, len, d);
  std::memcpy(out + 1 + n, text, len);
  out[1 + n + len] = 0;
  return 1 + static_cast<size_t>(n) + len;
}

size_t number_field(uint64_t n, char* out) {
  int d = digit_count(n);
  out[0] = static_cast<char>('0' + d);
  decimal_digits(out + 1, n, d);
  return 1 + static_cast<size_t>(d);
}
