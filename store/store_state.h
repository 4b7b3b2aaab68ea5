// Internal state of the value store: the tables behind the handles, shared by the store's own
// files and its unit tests. Other subsystems use store.h only.
#pragma once
#include <cstdint>

#include "store/store.h"

// Free slots and blocks with free slots are kept as bitmaps, so that the highest free one below
// a point is found a word at a time.
inline void bit_put(uint64_t* w, uint32_t i, bool on) {
  uint64_t bit = uint64_t{1} << (i & 63);
  if (on) w[i >> 6] |= bit;
  else w[i >> 6] &= ~bit;
}
// Highest set bit below bit `limit` of a bitmap of `words` words; -1 when none.
inline int highest_bit_below(const uint64_t* w, unsigned words, unsigned limit) {
  unsigned k = limit >> 6;
  if (k < words) {
    uint64_t m = w[k] & ((uint64_t{1} << (limit & 63)) - 1);
    if (m) return static_cast<int>(k * 64 + 63 - static_cast<unsigned>(__builtin_clzll(m)));
  } else {
    k = words;
  }
  while (k-- > 0)
    if (w[k]) return static_cast<int>(k * 64 + 63 - static_cast<unsigned>(__builtin_clzll(w[k])));
  return -1;
}

// DW area: 4,096 blocks at most (12 block bits).
constexpr uint32_t DW_MAX_BLOCKS = 4096;
constexpr uint32_t DW_TABLE_STEP = 128;
extern uint16_t* dw_block_free;   // free records per block
struct DwFreeBits { uint64_t w[4]; };   // bit s: record s of the block is free
extern DwFreeBits* dw_block_bits;
// Bit b: block b has free records, or had them (cleared when a search meets it empty).
extern uint64_t dw_blocks_with_free[DW_MAX_BLOCKS / 64];
extern uint32_t dw_capacity;      // entries of the three per-block tables
extern int32_t dw_cur_block;      // -1 before the first record
extern uint32_t dw_next_slot;     // next bump slot in the current block (256: block used up)
extern int32_t dw_reuse_block;    // block to take a free record from, -1 when none
extern uint32_t dw_free_total;    // free records in all blocks (run phase only)
extern uint32_t dw_floor;         // no bump allocation below this block

// Word area: 1,024 blocks at most (10 block bits).
constexpr uint32_t WORD_MAX_BLOCKS = 1024;
constexpr uint32_t WORD_BLOCK_WORDS = 1024;
extern uint16_t* word_used;       // used words per block
extern uint32_t word_capacity;
extern int32_t word_last;         // last used block, -1 before the first
extern uint32_t word_floor;

// Sized areas 1-14.
struct SizedBlockHeader {
  uint16_t handed;   // slots handed out so far (bump index)
  uint16_t free;     // free slots
  uint16_t high;     // highest free slot (while free is not 0)
  uint16_t spare;
  uint64_t free_bits[4];   // bit s: slot s is free
};
static_assert(sizeof(SizedBlockHeader) == AREA_BLOCK_HEADER);
struct SizedArea {
  int32_t cur = -1;           // current (last) block
  uint32_t free_blocks = 0;   // blocks with at least one free slot
  int32_t reuse = -1;         // block to look in first for a free slot
};
extern SizedArea sized_areas[16];
// Bit b of row a: block b of area a has (or had) a free slot. Apart from the small headers, which
// every request writes, so that a request touches only the rows of areas it frees in.
extern uint64_t area_free_bits[16][AREA_MAX_BLOCKS / 64];
// The free marker written at the start of a freed element (compared with its zero byte).
constexpr uint8_t AREA_FREE_MARKER[9] = {0xFF, 0x01, 0xEE, 0x02, 0xDD, 0x03, 0xCC, 0x04, 0x00};

// Area 15.
constexpr uint32_t AREA15_LIMIT = 0x100000;
constexpr uint32_t AREA15_STEP = 512;
extern uint32_t area15_capacity;
extern uint32_t area15_next;      // next never-used index
extern uint32_t area15_free;      // free entries below area15_next
extern uint32_t area15_high;      // highest free index

// Load-phase storage (area_new before the run phase).
DW word_area_new(size_t size, void** out);

// Blocks [b, end) of a span of fixed-size blocks (zero pages of the program's own), zeroed: a
// block below *used was handed out before a reset and is cleared first. *used rises to end.
uint8_t* store_span_blocks(uint8_t* space, size_t block_bytes, uint32_t* used, uint32_t b, uint32_t end);

// A zeroed block for an area. The first ones come from zero pages of the program's own that are
// handed out once only (so they are still zero and nothing clears them): a small request touches
// only the pages it writes. Give them back with store_free_block.
void* store_alloc_block(size_t size);
void store_free_block(void* p);

// Set once a reset has run: the initial tables may then hold data and are cleared by the next
// reset (before that they are still the zeroed storage the program started with, and clearing
// them would only touch their pages).
extern bool store_tables_dirty;
// Each area's part of store_reset: back to the initial tables.
void dw_area_reset();
void word_area_reset();
void sized_areas_reset();   // areas 1-15

// Gives a DW record back (run phase): header 0xFF, free counts and reuse hints.
void dw_free_record(DW h);
