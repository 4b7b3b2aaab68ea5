// The request token: its digest, the token line that hands one out and the check of the next
// request's token. The sequence of the system's generator is part of the scheme.
#include "driver/token.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "driver/config.h"
#include "driver/errors.h"
#include "driver/protocol.h"
#include "platform/layout.h"
#include "platform/platform.h"

bool request_failed = false;
LARGE_STATIC char token_text[TOKEN_TEXT_MAX + 1];
size_t token_len = 0;
LARGE_STATIC char token_digest_text[TOKEN_TEXT_MAX + 1];
size_t token_digest_len = 0;

static constexpr char DIGEST_ALPHABET[] = "jklmnopqrstuvwxyz0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghi000";
static constexpr char TOKEN_ALPHABET[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";

static int alphabet_index() { return static_cast<int>(rng_next() / 32767.0 * 61.0); }

static int letter_value(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '-') return 62;
  if (c == '_') return 63;
  return -1;
}

// Appends count letters of the digest alphabet; false when the buffer would overflow.
static bool append_letters(char* out, size_t cap, size_t* used, int count) {
  if (*used + count >= cap) return false;
  for (int k = 0; k < count; k++) out[(*used)++] = DIGEST_ALPHABET[alphabet_index()];
  out[*used] = 0;
  return true;
}

int token_digest(const char* text, size_t len, unsigned t, char* out, size_t cap) {
  t &= 0xFFFF;
  size_t used = 0;
  if (cap == 0) return -1;
  out[0] = 0;
  if (len > 0) {
    uint32_t acc = 0;
    for (size_t i = 1; i <= len; i++) {
      int v = letter_value(static_cast<unsigned char>(text[i - 1]));
      if (v < 0) continue;  // skipped bytes still count as positions
      acc = (acc << 6) | static_cast<uint32_t>(v);
      if (i % 4 == 0) {
        rng_seed((t << 24) | acc);
        if (!append_letters(out, cap, &used, 6)) return -1;
        acc = 0;
      }
    }
    if (acc != 0) {
      rng_seed((t << 24) | acc);
      if (!append_letters(out, cap, &used, static_cast<int>(2 * (len % 4)))) return -1;
    }
    rng_seed((t << 16) | (uint32_t(client_octets[0]) << 8) | client_octets[1]);
    if (!append_letters(out, cap, &used, 8)) return -1;
    rng_seed((t << 16) | (uint32_t(client_octets[2]) << 8) | client_octets[3]);
    if (!append_letters(out, cap, &used, 8)) return -1;
  }
  if (used + 6 > cap) return -1;
  std::snprintf(out + used, cap - used, "%05u", t);
  return static_cast<int>(used + 5);
}

bool token_configured() { return token_key[0] != 0 || time_interval >= 1; }

void write_token_record() {
  LARGE_STATIC static char field1[TOKEN_TEXT_MAX * 3 + 32], field2[TOKEN_TEXT_MAX * 3 + 32];
  if (request_failed) {
    // "NG" as both fields: a front end reads this line like any other token line.
    out_write("X12NG12NG", 9);
    return;
  }
  time_t now = clock_now();
  unsigned t = static_cast<unsigned>(now) & 0xFFFF;
  uint32_t mix = (t * 9878u) & 0xFFFF;
  char token[TOKEN_TEXT_MAX + 1];
  size_t n = std::strlen(token_key);
  std::memcpy(token, token_key, n);
  rng_seed(mix | (uint32_t(client_octets[0]) << 8) | client_octets[1]);
  for (int k = 0; k < 4; k++) token[n++] = TOKEN_ALPHABET[alphabet_index()];
  rng_seed(mix | (uint32_t(client_octets[2]) << 8) | client_octets[3]);
  for (int k = 0; k < 4; k++) token[n++] = TOKEN_ALPHABET[alphabet_index()];
  n += std::snprintf(token + n, sizeof token - n, "%lx", static_cast<unsigned long>(static_cast<uint32_t>(now)));
  char digest[TOKEN_TEXT_MAX + 1];
  int dlen = token_digest(token, n, t, digest, sizeof digest);
  if (dlen < 0) dlen = 0, digest[0] = 0;
  out_write("X", 1);
  size_t f1 = field_encode(token, n, field1, sizeof field1);
  out_write(field1, f1);
  size_t f2 = field_encode(digest, static_cast<size_t>(dlen), field2, sizeof field2);
  out_write(field2, f2);
}

void check_request_token() {
  bool haveKey = token_key[0] != 0;
  if (!haveKey && time_interval <= 0) return;
  const char* failure = nullptr;
  long t_req = 0;
  if (haveKey && token_len == 0) failure = "認証エラー";
  if (!failure && (time_interval > 0 || haveKey)) {
    size_t start = token_digest_len >= 5 ? token_digest_len - 5 : 0;
    char* end = nullptr;
    t_req = std::strtol(token_digest_text + start, &end, 10);
    if (time_interval > 0) {
      if (end == token_digest_text + start || *end != 0) {
        failure = "認証エラー";
      } else {
        unsigned now = static_cast<unsigned>(clock_now()) & 0xFFFF;
        unsigned age = (now - static_cast<unsigned>(t_req)) & 0xFFFF;
        if (age > static_cast<unsigned>(time_interval)) failure = "タイムアウト";
      }
    }
  }
  if (!failure && haveKey) {
    char digest[TOKEN_TEXT_MAX + 1];
    int dlen = token_digest(token_text, token_len, static_cast<unsigned>(t_req) & 0xFFFF, digest, sizeof digest);
    if (dlen < 0 || static_cast<size_t>(dlen) != token_digest_len ||
        std::memcmp(digest, token_digest_text, token_digest_len) != 0)
      failure = "認証エラー";
  }
  if (failure) {
    request_failed = true;
    raise_eval_error(1775, "%s", failure);
  }
}
