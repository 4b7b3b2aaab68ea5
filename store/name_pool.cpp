// The name pool: one growable buffer holding the texts of names (text, zero byte, spare byte).
#include <cstring>

#include "errors/raise.h"
#include "store/store.h"

char* name_pool;
uint32_t name_pool_used, name_pool_cap;

uint32_t name_pool_add(const char* text, size_t len) {
  uint64_t need = static_cast<uint64_t>(name_pool_used) + len + 2;
  if (need >= name_pool_cap) {
    if (need > 0xFFFF0000u) raise_eval_error(1400, "メモリ領域を取得できません");
    // Grows by 2,048 bytes, as many times as a long text needs. The old buffer is kept: callers
    // may still hold pointers into it, and a compiled module may have supplied it.
    uint64_t cap = name_pool_cap;
    while (need >= cap) cap += 2048;
    char* grown = static_cast<char*>(store_alloc(static_cast<size_t>(cap)));
    if (name_pool_used) std::memcpy(grown, name_pool, name_pool_used);
    name_pool = grown;
    name_pool_cap = static_cast<uint32_t>(cap);
  }
  uint32_t at = name_pool_used;
  if (len) std::memcpy(name_pool + at, text, len);
  name_pool[at + len] = 0;
  name_pool[at + len + 1] = 0;
  name_pool_used = at + static_cast<uint32_t>(len) + 2;
  return at;
}

void name_pool_reset() { name_pool_used = 0; }
