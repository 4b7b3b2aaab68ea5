// Pieces shared by the regular-expression compiler, matcher and object code.
#pragma once
#include <cstdint>

#include "regexp/regexp.h"

// Items of a compiled sequence, and the sentinel item after the last one, which holds what the
// matcher needs about the sequence as a whole:
//   name = capture slots used by the whole compiled tree up to this sequence (slot end)
//   cls  = capturing groups of the sequence
//   min, max = shortest and longest match width (RXQ_UNLIMITED when unbounded)
//   quant = start filter bits below, text = pool offset of its 128-bit map of ASCII units
// The start filter tells which units a match can begin with, so that a search skips the rest.
enum : uint8_t {
  RXS_MAP = 0x01,       // the map is present
  RXS_NONASCII = 0x02,  // any unit from 0x80 up may begin a match
  RXS_EMPTY = 0x04,     // the sequence can match without a unit: the map is incomplete
  RXS_UNKNOWN = 0x08,   // no filter (a back-reference comes first)
};
inline RxItem* rx_items(RxHead* h) { return static_cast<RxItem*>(area_ptr(h->items)); }
inline DW rx_alt(RxHead* h, int i) {
  DW d;
  __builtin_memcpy(&d, static_cast<uint8_t*>(area_ptr(h->items)) + 4 * i, 4);
  return d;
}

// Class items: the listed units, a 0 unit, then the matcher's form of the class: 8 units of a
// 128-bit map of the ASCII units (escape classes included), the number of ranges, and the
// sorted ranges (low, high) of the units from 0x80 up.
constexpr int RX_CLASS_MAP_UNITS = 9;  // map + range count

inline bool rx_is_word(unsigned u) {
  return (u - 'a') < 26u || (u - 'A') < 26u || (u - '0') < 10u || u == '_';
}
inline bool rx_is_digit(unsigned u) { return (u - '0') < 10u; }
inline bool rx_is_space(unsigned u) { return u == ' ' || u == '\t' || u == '\n' || u == '\r'; }
inline unsigned rx_fold(unsigned u) { return (u - 'a') < 26u ? u - 32 : u; }

// Membership in a class whose matcher form starts at m (the unit is already folded).
inline bool rx_class_has(const uint16_t* m, uint8_t cls, unsigned u) {
  if (u < 128) return (m[u >> 4] >> (u & 15)) & 1;
  if (cls & (RXC_NW | RXC_ND | RXC_NS)) return true;
  unsigned n = m[8];
  const uint16_t* r = m + 9;
  unsigned lo = 0, hi = n;
  while (lo < hi) {  // first range whose high end is >= u
    unsigned mid = (lo + hi) >> 1;
    if (r[2 * mid + 1] < u) lo = mid + 1; else hi = mid;
  }
  return lo < n && r[2 * lo] <= u;
}

// Start filter of a compiled value: the RXS_ bits, and the ASCII map (8 units) ORed into map.
uint8_t rx_start_filter(DW re, uint16_t* map);
// Width range of a compiled value (sequence or container).
void rx_width(DW re, uint32_t* min, uint32_t* max);
// Capture slots used by a compiled value's tree.
uint32_t rx_slot_end(DW re);
