// Installing a compiled module's name table: checks, wholesale replacement, merge by interning.
#include "frontend/name_image.h"

#include <cstdlib>
#include <cstring>

#include "errors/raise.h"

static inline uint32_t get32(const uint8_t* p) {
  uint32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

bool name_image_valid(const NameImage& img) {
  if (img.count < NAME_RESERVED_COUNT) return false;
  for (uint32_t i = 0; i < img.count; i++) {
    const uint8_t* e = img.entries + static_cast<size_t>(i) * 12;
    uint32_t len = e[1], key = get32(e + 4), off = get32(e + 8);
    if (len > NAME_MAX_LENGTH || off >= img.pool_size || img.pool_size - off <= len) return false;
    const char* text = reinterpret_cast<const char*>(img.pool + off);
    if (text[len] != 0 || key != name_key(name_hash(text, len), len)) return false;
    if (i < NAME_RESERVED_COUNT &&
        (std::strlen(reserved_names[i]) != len || std::memcmp(reserved_names[i], text, len) != 0))
      return false;
  }
  uint32_t prev = 0;
  for (uint32_t i = 0; i < img.count; i++) {
    const uint8_t* p = img.pairs + static_cast<size_t>(i) * 8;
    uint32_t key = get32(p), index = get32(p + 4);
    if (key < prev || index >= img.count) return false;
    if (get32(img.entries + static_cast<size_t>(index) * 12 + 4) != key) return false;
    prev = key;
  }
  return true;
}

bool name_table_only_reserved() { return name_count == NAME_RESERVED_COUNT; }

void name_table_replace(const NameImage& img) {
  if (img.count >= name_capacity) {
    uint32_t cap = img.count + 2048;
    auto* entries = static_cast<NameEntry*>(std::malloc(sizeof(NameEntry) * cap));
    auto* keys = static_cast<NameKey*>(std::malloc(sizeof(NameKey) * cap));
    if (!entries || !keys) {
      std::free(entries);
      std::free(keys);
      raise_eval_error(1400, "メモリ領域を取得できません");
    }
    std::free(name_entries);
    std::free(name_keys);
    name_entries = entries;
    name_keys = keys;
    name_capacity = cap;
  }
  if (img.pool_size >= name_pool_cap) {
    // The old pool stays allocated, as the pool's own growth leaves it.
    name_pool = static_cast<char*>(store_alloc(static_cast<size_t>(img.pool_size) + 2048));
    name_pool_cap = img.pool_size + 2048;
  }
  std::memcpy(name_entries, img.entries, static_cast<size_t>(img.count) * 12);
  std::memcpy(name_keys, img.pairs, static_cast<size_t>(img.count) * 8);
  std::memcpy(name_pool, img.pool, img.pool_size);
  name_pool_used = img.pool_size;
  name_count = img.count;
  name_table_installed();
}

void name_table_merge(const NameImage& img, uint32_t* remap) {
  for (uint32_t i = 0; i < img.count; i++) {
    const uint8_t* e = img.entries + static_cast<size_t>(i) * 12;
    const char* text = reinterpret_cast<const char*>(img.pool + get32(e + 8));
    remap[i] = name_intern(text, e[1], get32(e + 4)) & 0x0FFFFFFF;
  }
}
