// Regular expressions: the compiled layout, the compiler, the matcher and the RegExp object.
#pragma once
#include <cstddef>
#include <cstdint>

#include "store/store.h"

// ---- flags byte ----
enum : uint8_t {
  RXF_MULTILINE = 0x04,
  RXF_IGNORECASE = 0x08,
  RXF_GLOBAL = 0x10,
  RXF_STICKY = 0x20,
  RXF_DOTALL = 0x40,
  RXF_ALTERNATION = 0x80,  // the value is an alternation container
};

// ---- item kinds ----
enum : uint8_t {
  RX_RUN = 10,      // literal run of two or more units
  RX_UNIT = 11,     // one literal unit
  RX_BOL = 12,      // ^
  RX_EOL = 13,      // $
  RX_CLASS = 20,    // [...]
  RX_NCLASS = 21,   // [^...]
  RX_WORD = 22,     // \w
  RX_NWORD = 23,    // \W
  RX_DIGIT = 24,    // \d
  RX_NDIGIT = 25,   // \D
  RX_SPACE = 26,    // \s
  RX_NSPACE = 27,   // \S
  RX_WBOUND = 28,   // \b
  RX_NWBOUND = 29,  // \B
  RX_DOT = 30,      // .
  RX_BACKREF = 31,  // \1 ... \9
  RX_ANY = 33,      // [^]
  RX_GROUP = 60,    // (...) and (?<name>...)
  RX_NCGROUP = 61,  // (?:...)
  // Zero-width item that only carries a lookaround: one written first in an alternative, one
  // after a group or after an item that already carries one, a lookbehind before a group.
  RX_EMPTY = 62,
};

// ---- quantifier byte ----
enum : uint8_t {
  RXQ_NONE = 0,
  RXQ_EXACT = 1,  // {n}
  RXQ_OPT = 2,    // ?
  RXQ_RANGE = 4,  // {n,m}
  RXQ_OPEN = 8,   // * + {n,}
  RXQ_LAZY = 0x20,
};
constexpr uint16_t RXQ_UNLIMITED = 65535;

// ---- lookaround marker ----
enum : uint8_t { RXL_AHEAD = 'F', RXL_NAHEAD = 'G', RXL_BEHIND = 'P', RXL_NBEHIND = 'Q' };

// ---- escape-class bits of a class ----
enum : uint8_t { RXC_W = 0x01, RXC_NW = 0x02, RXC_D = 0x04, RXC_ND = 0x08, RXC_S = 0x10, RXC_NS = 0x20 };

// Packed views of area storage: they assume no alignment.
struct __attribute__((packed)) RxItem {
  DW body;        // nested compiled pattern (group or lookaround body), else 0
  uint32_t name;  // name index of a named group; back-reference: the group's capture slot
  uint8_t kind, quant, look, cls;  // cls: escape-class bits, or the group number (group, back-reference)
  uint16_t min, max;  // quantifier range (1, 1 when unquantified)
  uint16_t text;      // start in the pool; group: capture slot; back-reference: index of the group's item
  uint16_t len;       // text length in units
};
static_assert(sizeof(RxItem) == 20);

// A compiled sequence (one alternative) or an alternation container; the pool follows at 14.
struct __attribute__((packed)) RxHead {
  uint8_t hdr, flags;
  uint16_t count;   // items, or the container's alternatives
  DW items;         // area handle of the item array, or of the container's handle list
  uint32_t lastIndex;
  uint16_t poolLen; // UTF-16 units in the pool (0 in a container)
};
static_assert(sizeof(RxHead) == 14);

inline RxHead* rx_head(DW re) { return static_cast<RxHead*>(area_ptr(re)); }
inline uint16_t* rx_pool(RxHead* h) { return reinterpret_cast<uint16_t*>(reinterpret_cast<uint8_t*>(h) + 14); }

// Fixed limits (each raises a numbered error when passed).
constexpr int RX_MAX_GROUPS = 255;     // capturing groups of one sequence (group number is 8-bit);
                                       // 65,535 in a whole pattern (16-bit capture slots)
constexpr int RX_MAX_NESTING = 200;    // nested groups and lookarounds
constexpr int RX_MAX_UNITS = 65000;    // pool units and items of one sequence (16-bit fields)
constexpr long RX_STEP_LIMIT = 10000000;  // backtracking steps of one search, plus 64 a unit
extern long rx_step_limit;                // RX_STEP_LIMIT; lowered by tests that need speed
constexpr uint32_t RX_STACK_LIMIT = 2000000;  // entries of each of the matcher's two stacks
extern uint32_t rx_stack_limit;

// Errors of this subsystem that have no fixed number elsewhere.
constexpr int RX_ERR_GROUPS = 4631;    // more than RX_MAX_GROUPS groups in one sequence
constexpr int RX_ERR_NESTING = 4641;   // groups nested deeper than RX_MAX_NESTING
constexpr int RX_ERR_SIZE = 4791;      // pattern too large for the 16-bit fields
constexpr int RX_ERR_STEPS = 5055;     // backtracking bound passed
constexpr int RX_ERR_STACK = 5060;     // the matcher's stacks are full

// ---- compiling ----
// Flag letters to the flags byte (4795 for an unknown letter).
uint8_t regexp_flags(const char* letters, size_t len);
// Compiles a UTF-16 pattern; the result is a temporary (count 0) type-7 value.
DW regexp_compile(const uint16_t* text16, size_t length, uint8_t flags);
// Compiles a UTF-8 pattern with flag letters.
DW regexp_new(const char* pattern, size_t plen, const char* flags, size_t flen);
// Literal `/pattern/flags`: p is just after the opening slash of NUL-terminated text; returns
// the pointer after the flags.
const char* regexp_literal(const char* p, DW* handle);
// RegExp(pattern[, flags]) with evaluated arguments; the arguments are left to the caller.
DW regexp_construct(const DW* args, int count);
// The OP_REGEXP handler: evaluates the argument trees and constructs.
DW op_regexp(DW node, NodeRec* r);
// Gives back the storage of a value and everything it holds (run phase only).
void regexp_free(DW re);

// ---- UTF-16 text ----
// UTF-8 to UTF-16 copy preceded and followed by a 0 unit; returns the first unit. Uses the
// caller's buffer when *length + 6 is below capacity, else allocates (*allocated set; free with
// std::free(result - 1)). *length becomes the unit count. upper: a-z become A-Z.
uint16_t* to_utf16(const char* text, size_t* length, uint16_t* buffer, size_t capacity,
                   bool* allocated, bool upper);
// The same into a process-wide scratch buffer that grows as needed: 0 and 1 are for callers
// (a subject and a replacement, say); patterns compiled from UTF-8 use their own.
uint16_t* rx_scratch_utf16(int which, const char* text, size_t len, int32_t* units);
// UTF-16 units to UTF-8 (three bytes per unit at most); returns the bytes written, NUL-terminated.
size_t rx_utf16_to_utf8(const uint16_t* src, size_t units, char* dst, size_t cap);
// Byte offset in a UTF-8 text of the character at a UTF-16 unit position (one unit per character).
size_t rx_unit_to_byte(const char* text, size_t len, int32_t unit);

// ---- matching ----
// The spans of a match: span[0], span[1] the match; span[2g], span[2g+1] group g, or -1, -1
// for a group that took no part.
struct RxMatch {
  int32_t start, end;
  DW seq;      // the compiled sequence (alternative) that matched
  int groups;  // its capturing groups
  int32_t span[2 * (RX_MAX_GROUPS + 1)];
};
extern RxMatch rx_last;  // filled by every successful search

// Searches subject16[0 .. length) from start, reading nothing outside it; the subject is given
// as written, case folding is the matcher's. Sticky in flags anchors the search at start. Returns
// the match end, or -1; *match_start and rx_last are set on a match. Not reentrant.
int32_t regexp_search(const uint16_t* subject16, int32_t length, int32_t start, DW re,
                      int32_t* match_start, uint8_t flags);
// Capturing groups of a sequence, and the group number of a name index (0 when none).
int regexp_group_count(DW seq);
int regexp_group_by_name(DW seq, uint32_t name);
uint32_t regexp_group_name(DW seq, int group);  // name index of group n, 0 when unnamed

// ---- the RegExp object ----
// Match result of rx_last as `exec` gives it; subject is the string value searched.
DW regexp_result(int32_t end, int32_t start, const uint16_t* subject16, DW re, DW subject);
DW regexp_exec(DW re, DW subject);   // honours and updates lastIndex
bool regexp_test(DW re, DW subject);
// Method call (exec, test, toString) and property read; name is a name index. The caller keeps
// its references on the receiver and the arguments. Reading lastIndex leaves a LOC_FIELD location.
DW regexp_method(DW re, uint32_t name, DW* args, int count);
DW regexp_property(DW re, uint32_t name);
// The regenerated pattern text, in a process-wide buffer valid until the next call.
const char* regexp_source(DW re, size_t* len);
// "/" + source + "/" + flags: writes at most size - 1 bytes and a zero, returns the full length.
size_t regexp_text(DW re, char* buf, size_t size);
DW regexp_to_string(DW re);
// Flag letters in the order i, m, g, y, s; returns the count written (at most 5, NUL-terminated).
int regexp_flag_letters(uint8_t flags, char* out);
