// SHA-256, the system's own.
#pragma once
#include <cstddef>
#include <cstdint>

struct Sha256 {
  uint32_t state[8];
  uint64_t total;     // bytes hashed
  uint8_t block[64];
  size_t used;        // bytes waiting in block
};

void sha256_init(Sha256* s);
void sha256_update(Sha256* s, const void* data, size_t len);
void sha256_final(Sha256* s, uint8_t out[32]);
// The digest as 64 lower-case hexadecimal digits (the state words in order) and a zero byte.
void sha256_hex(const void* data, size_t len, char out[65]);
