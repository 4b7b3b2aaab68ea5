// Value store: 32-bit handles, 16-byte DW records, the word/sized/large storage areas,
// reference counting, the name pool, and the value constructors and conversions.
#pragma once
#include <cstddef>
#include <cstdint>

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

// ---- handles ----
inline uint8_t* dw_rec(DW h) { return dw_blocks[(h >> 8) & 0xFFF] + ((h & 0xFF) << 4); }
void* area_ptr(DW h);
// Header byte of a stored value (DW record or area-resident storage).
inline uint8_t* dw_header(DW h) {
  return type_is_area_resident(dw_type(h)) ? static_cast<uint8_t*>(area_ptr(h)) : dw_rec(h);
}

uint8_t* dw_new(unsigned type, DW* out, unsigned count);  // zeroed record
DW area_new(size_t size, void** out);                      // zeroed only in the load phase

DW dw_ref(DW h);
void dw_unref(DW h);
void dw_release(DW h);
void dw_discard(DW h);
void dw_destroy(unsigned type, DW h);
void area_release(DW h);

void store_switch_to_run_phase();
void store_raise_floors();   // before a compiled module is installed
void store_reset();          // clears the block tables (process start)

// ---- name pool ----
extern char* name_pool;
extern uint32_t name_pool_used, name_pool_cap;
uint32_t name_pool_add(const char* text, size_t len);

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
int parse_number(const char** p, double* dval, int64_t* ival, int sign);

// Convenience accessors for string values.
inline StrRec* str_rec(DW h) { return reinterpret_cast<StrRec*>(dw_rec(h)); }
inline char* str_text(DW h) { return static_cast<char*>(area_ptr(str_rec(h)->text)); }
