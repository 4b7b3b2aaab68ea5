// SHA-256, the system's own (the module directory check).
#include "driver/sha256.h"

#include <cstdio>
#include <cstring>

static constexpr uint32_t K[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

static inline uint32_t rotr(uint32_t x, int n) { return (x >> n) | (x << (32 - n)); }

static void compress(uint32_t st[8], const uint8_t* p) {
  uint32_t w[64];
  for (int i = 0; i < 16; i++)
    w[i] = uint32_t(p[4 * i]) << 24 | uint32_t(p[4 * i + 1]) << 16 | uint32_t(p[4 * i + 2]) << 8 | p[4 * i + 3];
  for (int i = 16; i < 64; i++) {
    uint32_t s0 = rotr(w[i - 15], 7) ^ rotr(w[i - 15], 18) ^ (w[i - 15] >> 3);
    uint32_t s1 = rotr(w[i - 2], 17) ^ rotr(w[i - 2], 19) ^ (w[i - 2] >> 10);
    w[i] = w[i - 16] + s0 + w[i - 7] + s1;
  }
  uint32_t a = st[0], b = st[1], c = st[2], d = st[3], e = st[4], f = st[5], g = st[6], h = st[7];
  for (int i = 0; i < 64; i++) {
    uint32_t t1 = h + (rotr(e, 6) ^ rotr(e, 11) ^ rotr(e, 25)) + ((e & f) ^ (~e & g)) + K[i] + w[i];
    uint32_t t2 = (rotr(a, 2) ^ rotr(a, 13) ^ rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
    h = g;
    g = f;
    f = e;
    e = d + t1;
    d = c;
    c = b;
    b = a;
    a = t1 + t2;
  }
  st[0] += a; st[1] += b; st[2] += c; st[3] += d;
  st[4] += e; st[5] += f; st[6] += g; st[7] += h;
}

void sha256_init(Sha256* s) {
  static constexpr uint32_t iv[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                     0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
  std::memcpy(s->state, iv, sizeof iv);
  s->total = 0;
  s->used = 0;
}

void sha256_update(Sha256* s, const void* data, size_t len) {
  auto* p = static_cast<const uint8_t*>(data);
  s->total += len;
  if (s->used) {
    size_t take = 64 - s->used;
    if (take > len) take = len;
    std::memcpy(s->block + s->used, p, take);
    s->used += take;
    p += take;
    len -= take;
    if (s->used < 64) return;
    compress(s->state, s->block);
    s->used = 0;
  }
  for (; len >= 64; p += 64, len -= 64) compress(s->state, p);
  std::memcpy(s->block, p, len);
  s->used = len;
}

void sha256_final(Sha256* s, uint8_t out[32]) {
  uint64_t bits = s->total * 8;
  uint8_t pad[72] = {0x80};
  size_t padLen = (s->used < 56 ? 56 : 120) - s->used;
  for (int i = 0; i < 8; i++) pad[padLen + i] = static_cast<uint8_t>(bits >> (56 - 8 * i));
  sha256_update(s, pad, padLen + 8);
  for (int i = 0; i < 8; i++) {
    out[4 * i] = static_cast<uint8_t>(s->state[i] >> 24);
    out[4 * i + 1] = static_cast<uint8_t>(s->state[i] >> 16);
    out[4 * i + 2] = static_cast<uint8_t>(s->state[i] >> 8);
    out[4 * i + 3] = static_cast<uint8_t>(s->state[i]);
  }
}

void sha256_hex(const void* data, size_t len, char out[65]) {
  Sha256 s;
  sha256_init(&s);
  sha256_update(&s, data, len);
  uint8_t d[32];
  sha256_final(&s, d);
  for (int i = 0; i < 8; i++)
    std::snprintf(out + 8 * i, 9, "%08lx", static_cast<unsigned long>(s.state[i]));
}
