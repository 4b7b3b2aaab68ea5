// Value store: 32-bit handles, 16-byte DW records, the word/sized/large storage areas,
// reference counting, the name pool, and the value constructors and conversions.
#pragma once
#include <cstddef>
#include <cstdint>

#include "store/names.h"   // the name pool and the name table

using DW = uint32_t;

// Type codes (bits 24-27 of a handle).
enum : unsigned {
  T_CONST = 0,    // constants and, in program trees, name indexes
  T_STMT = 1,     // prepared SQL statement (area-resident)
  T_INT = 2,
  T_CONN = 3,     // database connection (area-resident)
  T_NONE4 = 4,
  T_DATE = 5,
  T_ERROR = 6,    // error record (area-resident)
  T_REGEXP = 7,   // regular expression (area-resident)
  T_FLOAT = 8,
  T_STRING = 9,
  T_ARRAY = 10,
  T_KEYED = 11,   // keyed array
  T_OBJECT = 12,
  T_NODE = 13,    // operation node of a program tree
  T_FUNC = 14,
  T_INDEX = 15,   // index key 0x0F000000 + n, never counted
};

constexpr DW DW_UNDEFINED = 0, DW_TRUE = 1, DW_FALSE = 2, DW_NULL = 3, DW_NAN = 4;
constexpr DW INDEX_KEY_BASE = 0x0F000000;

constexpr unsigned dw_type(DW h) { return (h >> 24) & 0xF; }
// Types whose header byte lives at the start of their area storage.
constexpr bool type_is_area_resident(unsigned t) { return t == T_STMT || t == T_CONN || t == T_ERROR || t == T_REGEXP; }

// Record views (little-endian, 16 bytes each). Byte 0 is the header: type | count << 4.
struct IntRec    { uint8_t hdr, flags; uint16_t pad; int32_t value; uint32_t unused[2]; };
struct FloatRec  { uint8_t hdr, flags; uint16_t pad; uint32_t unused; double value; };
struct StrRec    { uint8_t hdr, flags0; uint16_t flags; DW text; uint32_t cap; uint32_t len; };
struct ArrRec    { uint8_t hdr, flags0; uint16_t flags; DW elems; uint32_t count; uint32_t cap; };
struct KeyedRec  { uint8_t hdr, flags0; uint16_t flags; DW pairs; uint32_t count; uint32_t cap; };
struct ObjRec    { uint8_t hdr, flags0; uint16_t flags; uint16_t count, cap; DW pairs; DW ctor; };
struct NodeRec   { uint8_t hdr, modflags, argc, op; DW a1; DW a2; uint32_t pos; };
struct FuncRec   { uint8_t hdr, module, nparams, nlocals; DW body; DW names; uint16_t line, endLine; };
static_assert(sizeof(IntRec) == 16 && sizeof(FloatRec) == 16 && sizeof(StrRec) == 16 &&
              sizeof(ArrRec) == 16 && sizeof(ObjRec) == 16 && sizeof(NodeRec) == 16 &&
              sizeof(FuncRec) == 16);

constexpr uint16_t STR_TEMPLATE = 0x8000;  // StrRec::flags bit 15: template literal
constexpr uint8_t HDR_FREE = 0xFF;          // header byte of a free DW record

// ---- the store's globals (read inline on hot paths) ----
extern uint8_t** dw_blocks;      // DW area block table: 256 records of 16 bytes per block
extern bool store_run_phase;     // switched on once before the top function runs
extern uint8_t** word_blocks;    // word area (area 0): blocks of 1,024 words
// Sized areas 1-14: each area's block table, whole from the start (zero pages until used), so
// that a slot's address takes one load.
constexpr uint32_t AREA_MAX_BLOCKS = 4096;
extern uint8_t* area_blocks[16][AREA_MAX_BLOCKS];
extern void** area15_table;      // area 15: one allocation per entry

// Sized areas 1-14: element size and elements per block. A slot is the element plus 2 spare
// bytes, padded to 8 so that every element (lists of handles, pairs, doubles) is aligned.
constexpr uint16_t AREA_ELEM_SIZE[16] = {0, 32, 64, 96, 128, 192, 256, 384, 448, 512, 768, 1024, 1280, 1536, 2048, 0};
constexpr uint16_t AREA_ELEM_COUNT[16] = {0, 256, 256, 256, 128, 128, 64, 64, 32, 32, 16, 16, 8, 8, 8, 0};
constexpr uint16_t AREA_SLOT_SIZE[16] = {0, 40, 72, 104, 136, 200, 264, 392, 456, 520, 776, 1032, 1288, 1544, 2056, 0};
constexpr unsigned AREA_BLOCK_HEADER = 40;  // handed-out count, free count, highest free slot, free-slot bitmap

// ---- handles ----
// Every DW block sits at its own place in one span (zero pages of the program's own until used):
// a record's address is the handle's low 20 bits times 16, with no table to load on the way.
// dw_blocks[b] is always dw_space + b * 4096.
extern uint8_t dw_space[];
extern uint8_t word_space[];   // the word area's blocks the same way (word_blocks[b] = word_space + b * 4096)
inline uint8_t* dw_rec(DW h) { return dw_space + ((h & 0xFFFFF) << 4); }
// Typed views of a handle's record (the layouts above); the caller knows the type.
inline IntRec* int_rec(DW h) { return reinterpret_cast<IntRec*>(dw_rec(h)); }
inline FloatRec* float_rec(DW h) { return reinterpret_cast<FloatRec*>(dw_rec(h)); }
inline StrRec* str_rec(DW h) { return reinterpret_cast<StrRec*>(dw_rec(h)); }
inline ArrRec* arr_rec(DW h) { return reinterpret_cast<ArrRec*>(dw_rec(h)); }
inline KeyedRec* keyed_rec(DW h) { return reinterpret_cast<KeyedRec*>(dw_rec(h)); }
inline ObjRec* obj_rec(DW h) { return reinterpret_cast<ObjRec*>(dw_rec(h)); }
inline NodeRec* node_rec(DW h) { return reinterpret_cast<NodeRec*>(dw_rec(h)); }
inline FuncRec* func_rec(DW h) { return reinterpret_cast<FuncRec*>(dw_rec(h)); }
// Storage of an area handle or of an area-resident value (type bits are ignored).
inline void* area_ptr(DW h) {
  unsigned a = (h >> 20) & 0xF;
  if (a == 0) return word_space + ((h & 0xFFFFF) << 2);
  if (a == 15) return area15_table[h & 0xFFFFF];
  return area_blocks[a][(h >> 8) & 0xFFF] + AREA_BLOCK_HEADER + (h & 0xFF) * AREA_SLOT_SIZE[a];
}
// Header byte of a stored value (DW record or area-resident storage).
inline uint8_t* dw_header(DW h) {
  return type_is_area_resident(dw_type(h)) ? static_cast<uint8_t*>(area_ptr(h)) : dw_rec(h);
}

uint8_t* dw_new(unsigned type, DW* out, unsigned count);  // zeroed record
// A new zeroed keyed-array record; *out gets its handle.
inline KeyedRec* keyed_rec_new(DW* out, unsigned count) { return reinterpret_cast<KeyedRec*>(dw_new(T_KEYED, out, count)); }
DW area_new(size_t size, void** out);                      // zeroed only in the load phase

// Reference counting (inline: on every hot path). Only types 1-14 are counted; a count of 15
// is permanent.
inline DW dw_ref(DW h) {
  if (dw_type(h) - 1u < 14u) {
    uint8_t* hd = dw_header(h);
    if (*hd < 0xF0) *hd = static_cast<uint8_t>(*hd + 16);
  }
  return h;
}
void dw_unref(DW h);
void dw_release_last(DW h);   // dw_release of a value whose count is 0 or 1
inline void dw_release(DW h) {
  if (dw_type(h) - 1u < 14u) {
    uint8_t* hd = dw_header(h);
    unsigned c = *hd >> 4;
    if (c - 2u < 13u) *hd = static_cast<uint8_t>(*hd - 16);   // 2-14: still held afterwards
    else if (c < 2) dw_release_last(h);
  }
}
void dw_discard(DW h);
void dw_destroy(unsigned type, DW h);
void area_release(DW h);

// Counts the program-tree nodes and function values freed while running: their handles may then
// stand for other trees, so whatever is kept by such a handle must be dropped when it changes.
extern uint32_t tree_free_epoch;

void store_switch_to_run_phase();
void store_raise_floors();   // before a compiled module is installed
// Clears the block tables (process start) and gives back the store's storage: every handle
// made before is invalid afterwards. Also used between unit tests.
void store_reset();

// Installing a compiled module's blocks (call store_raise_floors first). Each returns one zeroed
// allocation that now backs nblocks consecutive blocks starting at *base (the floor); the caller
// copies the module's contents into it. DW: the current block becomes the last one, with the
// next record at last_count (0: the last block is full). Words: used[k] is block k's used count
// (at most 1,024) and the last block becomes the last used one. Raise 1435 when the blocks do
// not fit.
uint8_t* store_install_dw_blocks(unsigned nblocks, unsigned last_count, unsigned* base);
uint8_t* store_install_word_blocks(unsigned nblocks, const uint32_t* used, unsigned* base);

// Allocation that raises 1400 when the system has no memory (never returns null).
void* store_alloc(size_t size);
void* store_alloc_zeroed(size_t size);

// ---- constructors and conversions ----
DW make_int(int32_t v, unsigned count);
DW make_float(double v, unsigned count);
DW make_string(const char* text, size_t len, unsigned count);
DW make_string_concat(const char* t1, const char* t2, size_t total, unsigned count);
DW make_array(const DW* elems, uint32_t count, bool ref);
DW make_object(const DW* pairs, uint32_t count);   // pairs: name id, value, name id, value, ...
DW value_copy(DW h);
DW to_float(DW h);
DW to_integer(DW h);
// 0: integer written to *ival; 1: float written to *dval. *p is left after the number.
// The text must be zero-terminated. An integer too large for 64 signed bits comes back as a float.
int parse_number(const char** p, double* dval, int64_t* ival, int sign);
// parse_number after an optional leading '-' or '+'.
int parse_signed_number(const char** p, double* dval, int64_t* ival);
// A double truncated toward zero to 64 bits; NaN and values out of range give INT64_MIN (as the
// processor's conversion does). Take the low 32 bits for an Integer.
int64_t trunc_to_int64(double d);

// The text of a string value.
inline char* str_text(DW h) { return static_cast<char*>(area_ptr(str_rec(h)->text)); }

// ---- error records (type 6) ----
// An error value: the code text and the message. The code kind byte is 0 for an Integer code,
// 1 for a String code and 9 for none (script-made exceptions); lengths above 65,535 bytes raise
// 2360.
DW make_error_value(uint8_t codeKind, const char* code, size_t codeLen, const char* msg, size_t msgLen);
DW make_error_record(const char* code, size_t codeLen, const char* msg, size_t msgLen);
const char* error_code_text(DW rec, size_t* len);
const char* error_message_text(DW rec, size_t* len);
