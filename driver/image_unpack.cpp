// The zero-run unpacking of compiled modules: zero bytes, the two/three/four-zero escapes, the
// zero-run escape and the code table, into one buffer kept for later modules.
#include "driver/image_unpack.h"

#include <cstdlib>
#include <cstring>

#include "driver/errors.h"

// Grown when a larger module comes; never given back (later modules reuse it).
static uint8_t* unpack_buffer;
static size_t unpack_capacity;

enum : uint8_t { UB_LITERAL, UB_ZERO, UB_E2, UB_E3, UB_E4, UB_ZRUN, UB_CODE };

const uint8_t* image_unpack(const uint8_t* packed, size_t packed_size, size_t out_size) {
  if (packed_size < 6) return nullptr;
  const uint8_t Z = packed[0], E2 = packed[1], E3 = packed[2], E4 = packed[3];
  const unsigned m = packed[4], n = packed[5];
  if (m > n || 6 + 2 * static_cast<size_t>(n) + m > packed_size) return nullptr;
  const uint8_t* K = packed + 6;
  const uint8_t* V = K + n;
  const uint8_t* F = V + n;
  // What each input byte means, in the order the rules are tried.
  uint8_t kind[256], code[256];
  std::memset(kind, UB_LITERAL, sizeof kind);
  for (unsigned i = n; i-- > 0;) {
    if (K[i] == 0) return nullptr;
    kind[K[i]] = UB_CODE;
    code[K[i]] = static_cast<uint8_t>(i);   // the loop runs down: the first match wins
  }
  kind[Z] = UB_ZRUN;
  kind[E4] = UB_E4;
  kind[E3] = UB_E3;
  kind[E2] = UB_E2;
  kind[0] = UB_ZERO;

  // No input byte yields more than 255 bytes: a larger S is refused before anything is taken.
  if (out_size / 255 > packed_size - (6 + 2 * static_cast<size_t>(n) + m)) return nullptr;
  if (out_size + 512 > unpack_capacity) {
    uint8_t* grown = static_cast<uint8_t*>(std::malloc(out_size + 512));
    if (!grown) raise_eval_error(1400, "メモリ領域を取得できません");
    std::free(unpack_buffer);
    unpack_buffer = grown;
    unpack_capacity = out_size + 512;
  }
  uint8_t* out = unpack_buffer;
  size_t o = 0;
  const uint8_t* p = F + m;
  const uint8_t* end = packed + packed_size;
  auto zeros = [&](size_t c) {
    if (c > out_size - o) return false;
    std::memset(out + o, 0, c);
    o += c;
    return true;
  };
  while (p < end) {
    uint8_t b = *p++;
    switch (kind[b]) {
      case UB_LITERAL:
      case UB_ZERO:
        if (o == out_size) return nullptr;
        out[o++] = b;
        break;
      case UB_E2:
      case UB_E3:
      case UB_E4:
        if (p < end && *p == b) {
          p++;
          if (o == out_size) return nullptr;
          out[o++] = b;
        } else if (!zeros(kind[b] == UB_E2 ? 2 : kind[b] == UB_E3 ? 3 : 4)) {
          return nullptr;
        }
        break;
      case UB_ZRUN: {
        if (p == end) return nullptr;
        uint8_t c = *p++;
        if (c == 0) {
          if (o == out_size) return nullptr;
          out[o++] = b;
        } else if (!zeros(c)) {
          return nullptr;
        }
        break;
      }
      default: {   // UB_CODE
        unsigned i = code[b];
        unsigned c;
        if (i < m) {
          c = F[i];
        } else {
          if (p == end) return nullptr;
          c = *p++;
          if (c == 0xFE) {
            if (o == out_size) return nullptr;
            out[o++] = b;
            break;
          }
        }
        size_t need = c < 5 ? c + 1 : c - 2;
        if (need > out_size - o) return nullptr;
        if (c < 5) {
          out[o] = V[i];
          std::memset(out + o + 1, 0, c);
        } else {
          std::memset(out + o, 0, c - 3);
          out[o + c - 3] = V[i];
        }
        o += need;
        break;
      }
    }
  }
  return o == out_size ? out : nullptr;
}
