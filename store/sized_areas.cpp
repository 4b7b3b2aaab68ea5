// Run-phase storage: the sized areas 1-14 (fixed-size slots, free marker, downward reuse) and
// area 15 (one allocation per request); area_new and area_release choose the area.
#include <cstdlib>
#include <cstring>

#include "errors/raise.h"
#include "platform/layout.h"
#include "store/store_state.h"

SizedArea sized_areas[16];
LARGE_STATIC uint64_t area_free_bits[16][AREA_MAX_BLOCKS / 64];
LARGE_STATIC uint8_t* area_blocks[16][AREA_MAX_BLOCKS];
// Bit a: area a has its first block. Kept apart so that a reset reads no row it never used
// (each row is a page of its own, and reading one costs a fault).
static uint32_t areas_started = 0;

LARGE_STATIC static void* area15_initial[1024];
void** area15_table = area15_initial;
uint32_t area15_capacity = 1024;
uint32_t area15_next = 0;
uint32_t area15_free = 0;
uint32_t area15_high = 0;

// Size class k = size / 32 + 1 (1-64) to area number.
struct AreaClassTable {
  uint8_t area[65];
  constexpr AreaClassTable() : area{} {
    for (unsigned k = 1; k <= 64; k++)
      area[k] = k <= 4 ? k : k <= 6 ? 5 : k <= 8 ? 6 : k <= 12 ? 7 : k <= 14 ? 8 : k <= 16 ? 9
              : k <= 24 ? 10 : k <= 32 ? 11 : k <= 40 ? 12 : k <= 48 ? 13 : 14;
  }
};
static constexpr AreaClassTable AREA_OF_CLASS;
static_assert(AREA_OF_CLASS.area[1] == 1 && AREA_OF_CLASS.area[5] == 5 && AREA_OF_CLASS.area[64] == 14);

static inline SizedBlockHeader* block_header(unsigned a, uint32_t blk) {
  return reinterpret_cast<SizedBlockHeader*>(area_blocks[a][blk]);
}

static inline uint8_t* slot_ptr(unsigned a, uint32_t blk, uint32_t slot) {
  return area_blocks[a][blk] + AREA_BLOCK_HEADER + slot * AREA_SLOT_SIZE[a];
}

// Under AddressSanitizer a slot is addressable only as far as its holder asked (and always its
// free marker), and slots not handed out not at all, so that a write past an area is caught
// where it happens rather than landing silently in the next slot.
#if defined(__SANITIZE_ADDRESS__)
#define STORE_POISON_SLOTS 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define STORE_POISON_SLOTS 1
#endif
#endif
#ifdef STORE_POISON_SLOTS
extern "C" void __asan_poison_memory_region(void const volatile* addr, size_t size);
extern "C" void __asan_unpoison_memory_region(void const volatile* addr, size_t size);
static void slot_limit(unsigned a, uint8_t* p, size_t used) {
  size_t keep = used < sizeof AREA_FREE_MARKER ? sizeof AREA_FREE_MARKER : used;
  __asan_unpoison_memory_region(p, keep);
  __asan_poison_memory_region(p + keep, AREA_SLOT_SIZE[a] - keep);
}
static void block_limit(unsigned a, uint8_t* block) {
  __asan_poison_memory_region(block + AREA_BLOCK_HEADER, static_cast<size_t>(AREA_ELEM_COUNT[a]) * AREA_SLOT_SIZE[a]);
}
#else
static inline void slot_limit(unsigned, uint8_t*, size_t) {}
static inline void block_limit(unsigned, uint8_t*) {}
#endif

static uint8_t* new_sized_block(unsigned a) {
  size_t bytes = AREA_BLOCK_HEADER + static_cast<size_t>(AREA_ELEM_COUNT[a]) * AREA_SLOT_SIZE[a] + 4;
  uint8_t* block = static_cast<uint8_t*>(store_alloc_block(bytes));
  reinterpret_cast<SizedBlockHeader*>(block)->handed = 1;
  block_limit(a, block);
  return block;
}

// The reuse block has no free slot left while others have: the next one down with any becomes
// the reuse block. The bits of blocks that were emptied are cleared here, when met (as in the DW
// area). Kept out of line so that the common path of a request stays short.
[[gnu::noinline]] static void sized_block_emptied(unsigned a, uint32_t blk) {
  SizedArea& A = sized_areas[a];
  int b = static_cast<int>(blk);
  for (;;) {
    b = highest_bit_below(area_free_bits[a], AREA_MAX_BLOCKS / 64, static_cast<unsigned>(b));
    if (b < 0 || block_header(a, static_cast<uint32_t>(b))->free != 0) break;
    bit_put(area_free_bits[a], static_cast<uint32_t>(b), false);
  }
  if (b >= 0) A.reuse = b;
  else A.free_blocks = 0;
}

// The area's first block (slot 0 is taken).
[[gnu::noinline]] static uint32_t sized_first_block(unsigned a) {
  area_blocks[a][0] = new_sized_block(a);
  areas_started |= 1u << a;
  SizedArea& A = sized_areas[a];
  A = SizedArea{};
  A.cur = 0;
  return 0;
}

// A new block after the current one, which is full (slot 0 is taken).
[[gnu::noinline]] static uint32_t sized_next_block(unsigned a) {
  SizedArea& A = sized_areas[a];
  uint32_t nb = static_cast<uint32_t>(A.cur) + 1;
  if (nb >= AREA_MAX_BLOCKS) raise_eval_error(1435, "buffer Overflow(area %d)", a);
  area_blocks[a][nb] = new_sized_block(a);
  A.cur = static_cast<int32_t>(nb);
  return nb;
}

static DW sized_new(unsigned a, size_t size, void** out) {
  SizedArea& A = sized_areas[a];
  uint32_t blk, slot;
  if (!(areas_started >> a & 1)) {
    blk = sized_first_block(a);
    slot = 0;
  } else if (A.free_blocks != 0) {
    // The reuse block's highest free slot; then move the hint down (bitmaps of the free slots
    // of each block and of the blocks that have any).
    blk = static_cast<uint32_t>(A.reuse);
    SizedBlockHeader* h = block_header(a, blk);
    slot = h->high;
    bit_put(h->free_bits, slot, false);
    if (--h->free == 0) {
      if (--A.free_blocks != 0) sized_block_emptied(a, blk);
    } else {
      h->high = static_cast<uint16_t>(highest_bit_below(h->free_bits, 4, slot));
    }
  } else {
    blk = static_cast<uint32_t>(A.cur);
    SizedBlockHeader* h = block_header(a, blk);
    if (h->handed < AREA_ELEM_COUNT[a]) {
      slot = h->handed++;
    } else {
      blk = sized_next_block(a);
      slot = 0;
    }
  }
  uint8_t* p = slot_ptr(a, blk, slot);
  slot_limit(a, p, size);
  p[0] = 0;   // a reused slot no longer reads as free, whatever its holder writes
  *out = p;
  return (a << 20) | (blk << 8) | slot;
}

static void sized_release(unsigned a, DW h) {
  uint32_t blk = (h >> 8) & 0xFFF, slot = h & 0xFF;
  uint8_t* p = slot_ptr(a, blk, slot);
  SizedBlockHeader* bh = block_header(a, blk);
  // Already given back: told by the bitmap, never by the slot's bytes (a holder may have written
  // anything, the free marker included).
  if (bh->free_bits[slot >> 6] >> (slot & 63) & 1) return;
  bit_put(bh->free_bits, slot, true);
  std::memcpy(p, AREA_FREE_MARKER, sizeof AREA_FREE_MARKER);
  slot_limit(a, p, 0);
  SizedArea& A = sized_areas[a];
  bool area_had_free = A.free_blocks != 0;
  if (bh->free++ == 0) {
    A.free_blocks++;
    bh->high = static_cast<uint16_t>(slot);
  } else if (bh->high < slot) {
    bh->high = static_cast<uint16_t>(slot);
  }
  bit_put(area_free_bits[a], blk, true);
  if (!area_had_free || A.reuse < static_cast<int32_t>(blk)) A.reuse = static_cast<int32_t>(blk);
}

static DW area15_new(size_t size, void** out) {
  uint32_t idx;
  bool reuse = area15_free != 0;
  if (reuse) {
    idx = area15_high;
  } else {
    idx = area15_next;
    if (idx >= area15_capacity) {
      if (idx >= AREA15_LIMIT) raise_eval_error(1430, "buffer Overflow(area 15)");
      uint32_t cap = area15_capacity + AREA15_STEP;
      if (cap > AREA15_LIMIT) cap = AREA15_LIMIT;
      void** table = static_cast<void**>(store_alloc_zeroed(cap * sizeof(void*)));
      std::memcpy(table, area15_table, area15_capacity * sizeof(void*));
      if (area15_table != area15_initial) std::free(area15_table);
      area15_table = table;
      area15_capacity = cap;
    }
  }
  void* p = store_alloc(size);
  if (reuse) {
    area15_free--;
    if (area15_free != 0) {
      int s = static_cast<int>(idx) - 1;
      while (s >= 0 && area15_table[s]) s--;
      if (s >= 0) {
        area15_high = static_cast<uint32_t>(s);
      } else {
        area15_free = 0;
        area15_high = 0;
      }
    }
  } else {
    area15_next++;
  }
  area15_table[idx] = p;
  *out = p;
  return 0x00F00000u + idx;
}

static void area15_release(DW h) {
  uint32_t idx = h & 0xFFFFF;
  if (idx >= area15_next || !area15_table[idx]) return;   // never handed out, or already given back
  std::free(area15_table[idx]);
  area15_table[idx] = nullptr;
  if (area15_free == 0 || area15_high < idx) area15_high = idx;
  area15_free++;
}

DW area_new(size_t size, void** out) {
  if (!store_run_phase) return word_area_new(size, out);
  if (size < 2048) return sized_new(AREA_OF_CLASS.area[size / 32 + 1], size, out);
  return area15_new(size, out);
}

void area_release(DW h) {
  if (!store_run_phase) return;
  unsigned a = (h >> 20) & 0xF;
  if (a == 0) return;
  if (a == 15) area15_release(h);
  else sized_release(a, h);
}

void sized_areas_reset() {
  for (unsigned a = 1; a <= 14; a++) {
    if (areas_started >> a & 1) {
      for (int32_t b = 0; b <= sized_areas[a].cur; b++) {
        store_free_block(area_blocks[a][b]);
        area_blocks[a][b] = nullptr;
      }
      std::memset(area_free_bits[a], 0, sizeof area_free_bits[a]);   // an area never started has none set
    }
    sized_areas[a] = SizedArea{};
    areas_started &= ~(1u << a);
  }
  uint32_t n = area15_next < area15_capacity ? area15_next : area15_capacity;
  for (uint32_t i = 0; i < n; i++) std::free(area15_table[i]);
  if (area15_table != area15_initial) std::free(area15_table);
  area15_table = area15_initial;
  if (store_tables_dirty) std::memset(area15_initial, 0, sizeof area15_initial);
  area15_capacity = 1024;
  area15_next = area15_free = area15_high = 0;
}
