// The name table and its pool: 12-byte entries, the key-sorted pair array with its binary search,
// the reserved names and interning; the texts live in one growable pool.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "errors/raise.h"
#include "store/names.h"
#include "store/store.h"

// ---- the name pool ----

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

// ---- the name table ----

const char* const reserved_names[NAME_RESERVED_COUNT] = {
    "undefined", "true", "false", "null", "NaN", "this", "Math", "column", "value", "console",
    "Object", "Function", "Connection", "name", "message", "Number", "Integer", "Float", "Date",
    "Error", "RegExp", "String", "Array", "Hash", "Exception", "typeof", "instanceof", "index",
    "indices", "input", "groups", "length", "no_authorization", "count", "sum", "max", "min",
    "average", "key", "group", "total", "total_count", "$set", "$inc", "$min", "$max", "$mul",
    "$rename", "$unset", "_c__o__l__m_", "_v__a__l_", "_k__e__y_", "new"};

NameEntry* name_entries = nullptr;
NameKey* name_keys = nullptr;
uint32_t name_count = 0;
uint32_t name_capacity = 0;

// name_keys[0, sorted_count) is sorted by key; the pairs after it (names added since the last
// merge) are found through a small open-addressing index and merged in once they reach a quarter
// of the sorted part, so that adding n names costs O(n log n) instead of a re-sort per name.
static uint32_t sorted_count = 0;
static uint32_t* pending_index = nullptr;   // slots hold name index + 1, 0 when empty
static uint32_t pending_mask = 0;           // slot count - 1
static uint32_t pending_count = 0;
// What the lookup structures were built for; a difference means the tables were replaced.
static NameEntry* known_entries = nullptr;
static NameKey* known_keys = nullptr;
static uint32_t known_count = 0;

static void* checked_realloc(void* p, size_t size) {
  void* q = std::realloc(p, size);
  if (!q) raise_eval_error(1400, "メモリ領域を取得できません");
  return q;
}

// The pool grows by 2048 bytes at a time when left to itself; growing it here by half its size
// once it is large keeps interning many names linear. Old buffers stay allocated, as the pool's
// own growth leaves them (pointers into them may still be held).
static void reserve_pool(size_t len) {
  uint64_t need = static_cast<uint64_t>(name_pool_used) + len + 2;
  if (need < name_pool_cap || name_pool_cap < 65536) return;
  uint64_t cap = static_cast<uint64_t>(name_pool_cap) + name_pool_cap / 2;
  if (cap > 0xFFFF0000u) return;   // the pool raises its own limit error
  char* grown = static_cast<char*>(store_alloc(static_cast<size_t>(cap)));
  std::memcpy(grown, name_pool, name_pool_used);
  name_pool = grown;
  name_pool_cap = static_cast<uint32_t>(cap);
}

uint32_t name_hash(const char* text, size_t len) {
  uint32_t h = 0;
  for (size_t i = 0; i < len; i++) h = name_hash_step(h, static_cast<uint32_t>(i + 1), static_cast<uint8_t>(text[i]));
  return h;
}

const char* name_text(uint32_t index) { return name_pool + name_entries[index].offset; }
size_t name_length(uint32_t index) { return name_entries[index].len; }

static bool same_text(uint32_t index, const char* text, size_t len) {
  return name_entries[index].len == len && std::memcmp(name_pool + name_entries[index].offset, text, len) == 0;
}

static inline uint32_t slot_of(uint32_t key) {
  uint32_t h = key * 0x9E3779B1u;
  return (h ^ (h >> 16)) & pending_mask;
}

static uint32_t pending_threshold() { return std::max<uint32_t>(256, sorted_count / 4); }

static void pending_reset() {
  pending_count = 0;
  if (pending_index) std::memset(pending_index, 0, sizeof(uint32_t) * (pending_mask + 1));
}

uint32_t name_table_generation = 0;

void name_table_installed() {
  name_table_generation++;
  sorted_count = name_count;
  pending_reset();
  known_entries = name_entries;
  known_keys = name_keys;
  known_count = name_count;
}

static inline void sync_check() {
  if (name_entries != known_entries || name_keys != known_keys || name_count != known_count) name_table_installed();
}

void name_table_flush() {
  sync_check();
  if (sorted_count == name_count) return;
  auto by_key = [](const NameKey& a, const NameKey& b) { return a.key < b.key; };
  std::sort(name_keys + sorted_count, name_keys + name_count, by_key);
  std::inplace_merge(name_keys, name_keys + sorted_count, name_keys + name_count, by_key);
  sorted_count = name_count;
  pending_reset();
}

static void pending_insert(uint32_t key, uint32_t index) {
  uint32_t need = pending_threshold() * 2 + 2;
  if (pending_mask + 1 < need) {
    uint32_t size = 512;
    while (size < need) size <<= 1;
    pending_index = static_cast<uint32_t*>(checked_realloc(pending_index, sizeof(uint32_t) * size));
    pending_mask = size - 1;
    // Rebuild from the pairs that are still pending.
    std::memset(pending_index, 0, sizeof(uint32_t) * size);
    for (uint32_t i = sorted_count; i < name_count; i++) {
      if (name_keys[i].index == index) continue;
      uint32_t s = slot_of(name_keys[i].key);
      while (pending_index[s]) s = (s + 1) & pending_mask;
      pending_index[s] = name_keys[i].index + 1;
    }
  }
  uint32_t s = slot_of(key);
  while (pending_index[s]) s = (s + 1) & pending_mask;
  pending_index[s] = index + 1;
  pending_count++;
}

static int32_t find_name(const char* text, size_t len, uint32_t key) {
  // Binary search over the sorted part, then every neighbour with the same key.
  uint32_t lo = 0, hi = sorted_count;
  while (lo < hi) {
    uint32_t mid = (lo + hi) >> 1;
    if (name_keys[mid].key < key) lo = mid + 1;
    else hi = mid;
  }
  for (uint32_t i = lo; i < sorted_count && name_keys[i].key == key; i++)
    if (same_text(name_keys[i].index, text, len)) return static_cast<int32_t>(name_keys[i].index);
  if (pending_count) {
    uint32_t s = slot_of(key);
    while (uint32_t v = pending_index[s]) {
      uint32_t idx = v - 1;
      if (name_entries[idx].key == key && same_text(idx, text, len)) return static_cast<int32_t>(idx);
      s = (s + 1) & pending_mask;
    }
  }
  return -1;
}

int32_t name_lookup(const char* text, size_t len) {
  if (len > NAME_MAX_LENGTH) return -1;
  sync_check();
  return find_name(text, len, name_key(name_hash(text, len), len));
}

uint32_t name_intern(const char* text, size_t len, uint32_t hash) {
  if (len > NAME_MAX_LENGTH) raise_parse_error(1005, "関数・変数名の長さ不正");
  sync_check();
  uint32_t key = name_key(hash, len);
  int32_t found = find_name(text, len, key);
  if (found >= 0) return static_cast<uint32_t>(found);
  if (name_count >= name_capacity) {
    // Grows by 2048 entries, or by half once the table is large, so that growth stays linear.
    uint32_t cap = name_capacity + std::max<uint32_t>(2048, name_capacity / 2);
    name_entries = static_cast<NameEntry*>(checked_realloc(name_entries, sizeof(NameEntry) * cap));
    name_keys = static_cast<NameKey*>(checked_realloc(name_keys, sizeof(NameKey) * cap));
    name_capacity = cap;
  }
  uint32_t index = name_count;
  NameEntry& e = name_entries[index];
  e.flags = 0;
  e.len = static_cast<uint8_t>(len);
  e.zero = 0;
  e.key = key;
  reserve_pool(len);
  e.offset = name_pool_add(text, len);
  name_keys[index] = NameKey{key, index};
  name_count++;
  known_entries = name_entries;
  known_keys = name_keys;
  known_count = name_count;
  if (pending_count + 1 >= pending_threshold()) {
    name_table_flush();
  } else {
    pending_insert(key, index);
  }
  return index;
}

uint32_t name_intern_text(const char* text, size_t len) {
  if (len > NAME_MAX_LENGTH) raise_parse_error(1005, "関数・変数名の長さ不正");
  return name_intern(text, len, name_hash(text, len));
}

void name_table_reset() {
  if (name_capacity == 0) {
    name_capacity = 256;   // a small program names a hundred or so; the first pages are all it touches
    name_entries = static_cast<NameEntry*>(checked_realloc(nullptr, sizeof(NameEntry) * name_capacity));
    name_keys = static_cast<NameKey*>(checked_realloc(nullptr, sizeof(NameKey) * name_capacity));
  }
  name_count = 0;
  name_pool_reset();
  name_table_installed();
  for (uint32_t i = 0; i < NAME_RESERVED_COUNT; i++) name_intern_text(reserved_names[i], std::strlen(reserved_names[i]));
}
