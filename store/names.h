// The name table and the name pool that holds its texts: 12-byte entries, the key-sorted pairs
// that serve the lookup, the reserved names and interning.
#pragma once
#include <cstddef>
#include <cstdint>

// ---- the name pool ----
// One growable buffer holding the texts of names (text, zero byte, spare byte).
extern char* name_pool;
extern uint32_t name_pool_used, name_pool_cap;
uint32_t name_pool_add(const char* text, size_t len);
void name_pool_reset();   // empties the pool (the buffer is kept)

// ---- the name table ----
// One per process. Entries of 12 bytes (flags, length, key, offset of the text in the name pool);
// a name's index is its entry's position. A second array of (key, index) pairs sorted by key
// serves the lookup. Key = (hash & 0xFFFFFF) | (length << 24); hash = sum over the bytes at
// positions i = 1, 2, ... of (i mod 17) * byte, reduced to 24 bits after every step.
struct NameEntry {
  uint8_t flags;
  uint8_t len;
  uint16_t zero;
  uint32_t key;
  uint32_t offset;
};
struct NameKey {
  uint32_t key;
  uint32_t index;
};
static_assert(sizeof(NameEntry) == 12 && sizeof(NameKey) == 8);

constexpr size_t NAME_MAX_LENGTH = 200;

extern NameEntry* name_entries;
extern NameKey* name_keys;
extern uint32_t name_count;
extern uint32_t name_capacity;

inline uint32_t name_hash_step(uint32_t hash, uint32_t pos1, uint8_t byte) {
  return (hash + (pos1 % 17) * byte) & 0xFFFFFF;
}
uint32_t name_hash(const char* text, size_t len);   // 24-bit hash
constexpr uint32_t name_key(uint32_t hash, size_t len) {
  return (hash & 0xFFFFFF) | (static_cast<uint32_t>(len) << 24);
}

// Index of the name, inserting it when absent. hash is the 24-bit hash (a full key is accepted
// too: only its low 24 bits are used). Names longer than 200 bytes are parse error 1005.
uint32_t name_intern(const char* text, size_t len, uint32_t hash);
uint32_t name_intern_text(const char* text, size_t len);
// Index of the name, or -1 when it is not in the table (nothing is inserted).
int32_t name_lookup(const char* text, size_t len);
// Clears the table and registers the reserved names (indexes 0..52) in their fixed order.
void name_table_reset();
// After the tables were replaced wholesale (compiled-module installation), resynchronises the
// lookup structures with name_entries / name_keys / name_count. Also called automatically when a
// change of name_count or of the array pointers is noticed.
void name_table_installed();
// Changes whenever name_table_installed runs (a reset, an installation): an index kept from
// before may then name another text.
extern uint32_t name_table_generation;
// Sorts every pending pair into name_keys, so that name_keys[0..name_count) is fully sorted
// (needed only by code that reads name_keys directly).
void name_table_flush();
const char* name_text(uint32_t index);
size_t name_length(uint32_t index);

// Reserved names, registered in this order so that their indexes are fixed.
enum : uint32_t {
  NAME_UNDEFINED = 0,
  NAME_TRUE = 1,
  NAME_FALSE = 2,
  NAME_NULL = 3,
  NAME_NAN = 4,
  NAME_THIS = 5,
  NAME_MATH = 6,
  NAME_COLUMN = 7,
  NAME_VALUE = 8,
  NAME_CONSOLE = 9,
  NAME_OBJECT = 10,
  NAME_FUNCTION = 11,
  NAME_CONNECTION = 12,
  NAME_NAME = 13,
  NAME_MESSAGE = 14,
  NAME_NUMBER = 15,
  NAME_INTEGER = 16,
  NAME_FLOAT = 17,
  NAME_DATE = 18,
  NAME_ERROR = 19,
  NAME_REGEXP = 20,
  NAME_STRING = 21,
  NAME_ARRAY = 22,
  NAME_HASH = 23,
  NAME_EXCEPTION = 24,
  NAME_TYPEOF = 25,
  NAME_INSTANCEOF = 26,
  NAME_INDEX = 27,
  NAME_INDICES = 28,
  NAME_INPUT = 29,
  NAME_GROUPS = 30,
  NAME_LENGTH = 31,
  NAME_NO_AUTHORIZATION = 32,
  NAME_COUNT = 33,
  NAME_SUM = 34,
  NAME_MAXIMUM = 35,     // max (NAME_MAX is taken by the C library)
  NAME_MINIMUM = 36,     // min
  NAME_AVERAGE = 37,
  NAME_KEY = 38,
  NAME_GROUP = 39,
  NAME_TOTAL = 40,
  NAME_TOTAL_COUNT = 41,
  NAME_SET_OP = 42,      // $set
  NAME_INC_OP = 43,      // $inc
  NAME_MIN_OP = 44,      // $min
  NAME_MAX_OP = 45,      // $max
  NAME_MUL_OP = 46,      // $mul
  NAME_RENAME_OP = 47,   // $rename
  NAME_UNSET_OP = 48,    // $unset
  NAME_COLM_KEY = 49,    // _c__o__l__m_
  NAME_VAL_KEY = 50,     // _v__a__l_
  NAME_KEY_KEY = 51,     // _k__e__y_
  NAME_NEW = 52,
  NAME_RESERVED_COUNT = 53,
  NAME_FIRST_CONSTRUCTOR = NAME_NUMBER,   // 15..24: built-in constructor names
  NAME_LAST_CONSTRUCTOR = NAME_EXCEPTION,
};
extern const char* const reserved_names[NAME_RESERVED_COUNT];
