// The DW area: 16-byte value records in 4 KB blocks, bump allocation, free records and reuse.
#include <cstdlib>
#include <cstring>

#include "errors/raise.h"
#include "platform/layout.h"
#include "store/store_state.h"

static uint8_t* dw_blocks_initial[DW_TABLE_STEP];
static uint16_t dw_free_initial[DW_TABLE_STEP];
LARGE_STATIC static DwFreeBits dw_bits_initial[DW_TABLE_STEP];

LARGE_STATIC uint8_t dw_space[DW_MAX_BLOCKS * 4096];
// Blocks below this one have been used: one started again after a reset is cleared first.
static uint32_t dw_space_used = 0;

static uint8_t* dw_span_blocks(uint32_t b, uint32_t end) {
  return store_span_blocks(dw_space, 4096, &dw_space_used, b, end);
}

uint8_t** dw_blocks = dw_blocks_initial;
uint16_t* dw_block_free = dw_free_initial;
DwFreeBits* dw_block_bits = dw_bits_initial;
uint64_t dw_blocks_with_free[DW_MAX_BLOCKS / 64];
uint32_t dw_capacity = DW_TABLE_STEP;
int32_t dw_cur_block = -1;
uint32_t dw_next_slot = 256;
int32_t dw_reuse_block = -1;
uint32_t dw_free_total = 0;
uint32_t dw_floor = 0;

// Replaces the three per-block tables by copies with `cap` entries (new entries zeroed).
static void dw_grow_tables(uint32_t cap) {
  uint8_t** blocks = static_cast<uint8_t**>(std::calloc(cap, sizeof(uint8_t*)));
  uint16_t* freec = static_cast<uint16_t*>(std::calloc(cap, sizeof(uint16_t)));
  DwFreeBits* bits = static_cast<DwFreeBits*>(std::calloc(cap, sizeof(DwFreeBits)));
  if (!blocks || !freec || !bits) {
    std::free(blocks);
    std::free(freec);
    std::free(bits);
    raise_eval_error(1400, "メモリ領域を取得できません");
  }
  std::memcpy(blocks, dw_blocks, dw_capacity * sizeof(uint8_t*));
  std::memcpy(freec, dw_block_free, dw_capacity * sizeof(uint16_t));
  std::memcpy(bits, dw_block_bits, dw_capacity * sizeof(DwFreeBits));
  if (dw_blocks != dw_blocks_initial) {
    std::free(dw_blocks);
    std::free(dw_block_free);
    std::free(dw_block_bits);
  }
  dw_blocks = blocks;
  dw_block_free = freec;
  dw_block_bits = bits;
  dw_capacity = cap;
}

static inline void block_has_free(uint32_t blk, bool on) { bit_put(dw_blocks_with_free, blk, on); }

// Starts a new block at the floor or after the current block; its slot 0 is taken.
[[gnu::noinline]] static uint32_t dw_start_block() {
  uint32_t nb = dw_cur_block < static_cast<int32_t>(dw_floor) ? dw_floor
                                                              : static_cast<uint32_t>(dw_cur_block) + 1;
  if (nb >= dw_capacity) {
    // The handle has 12 block bits: nothing may go past block 4,095.
    if (nb >= DW_MAX_BLOCKS - 1) raise_eval_error(1435, "Buffer Overflow(Area DW)");
    uint32_t cap = dw_capacity;
    while (cap <= nb) cap += DW_TABLE_STEP;
    dw_grow_tables(cap < DW_MAX_BLOCKS ? cap : DW_MAX_BLOCKS);
  }
  dw_blocks[nb] = dw_span_blocks(nb, nb + 1);
  dw_block_free[nb] = 0;
  dw_block_bits[nb] = DwFreeBits{};
  block_has_free(nb, false);
  dw_cur_block = static_cast<int32_t>(nb);
  dw_next_slot = 1;
  return nb;
}

// The reuse block has no free record left while others have: the next one down with any
// becomes the reuse block. The bits of blocks that were emptied are cleared here, when met, so
// that freeing and taking one record at a time never touches the block bitmap. Kept out of line
// so that dw_new's common path stays short.
[[gnu::noinline]] static void dw_block_emptied(uint32_t blk) {
  int b = static_cast<int>(blk);
  for (;;) {
    b = highest_bit_below(dw_blocks_with_free, DW_MAX_BLOCKS / 64, static_cast<unsigned>(b));
    if (b < 0 || dw_block_free[b] != 0) break;
    block_has_free(static_cast<uint32_t>(b), false);
  }
  if (b >= 0) {
    dw_reuse_block = b;
  } else {
    dw_free_total = 0;
    dw_reuse_block = -1;
  }
}

uint8_t* dw_new(unsigned type, DW* out, unsigned count) {
  uint32_t blk, slot;
  if (dw_free_total != 0) {
    // Run phase: the reuse block's highest free record, then move the hint down (the free
    // records of a block, and the blocks that have any, are kept as bitmaps).
    blk = static_cast<uint32_t>(dw_reuse_block);
    uint64_t* bits = dw_block_bits[blk].w;
    int k = 3;
    while (k > 0 && !bits[k]) k--;
    uint64_t w = bits[k];
    slot = static_cast<uint32_t>(k * 64 + 63 - __builtin_clzll(w | 1));   // w is never 0 here
    bits[k] = w & ~(uint64_t{1} << (slot & 63));
    dw_free_total--;
    if (--dw_block_free[blk] == 0 && dw_free_total != 0) dw_block_emptied(blk);
  } else if (dw_next_slot < 256) {
    blk = static_cast<uint32_t>(dw_cur_block);
    slot = dw_next_slot++;
  } else {
    blk = dw_start_block();
    slot = 0;
  }
  uint8_t* rec = dw_space + (blk << 12) + (slot << 4);
  std::memset(rec, 0, 16);
  rec[0] = static_cast<uint8_t>(type | (count << 4));
  *out = (type << 24) | (blk << 8) | slot;
  return rec;
}

uint32_t tree_free_epoch = 0;

void dw_free_record(DW h) {
  if (!store_run_phase) return;
  unsigned t = dw_type(h);
  if (t == T_NODE || t == T_FUNC) tree_free_epoch++;
  uint32_t blk = (h >> 8) & 0xFFF, slot = h & 0xFF;
  uint64_t& w = dw_block_bits[blk].w[slot >> 6];
  uint64_t bit = uint64_t{1} << (slot & 63);
  if (w & bit) return;   // already free: the counts stay those of the bitmap
  w |= bit;
  dw_space[(blk << 12) + (slot << 4)] = HDR_FREE;
  dw_block_free[blk]++;
  block_has_free(blk, true);
  if (dw_free_total == 0 || dw_reuse_block < static_cast<int32_t>(blk)) dw_reuse_block = static_cast<int32_t>(blk);
  dw_free_total++;
}

uint8_t* store_install_dw_blocks(unsigned nblocks, unsigned last_count, unsigned* base) {
  uint32_t b = dw_cur_block < static_cast<int32_t>(dw_floor) ? dw_floor : static_cast<uint32_t>(dw_cur_block) + 1;
  *base = b;
  if (nblocks == 0) return nullptr;
  uint64_t end = static_cast<uint64_t>(b) + nblocks;
  if (end >= dw_capacity) {
    if (end >= DW_MAX_BLOCKS - 1) raise_eval_error(1435, "Buffer Overflow(Area DW16)");
    if (end > dw_capacity) dw_grow_tables(static_cast<uint32_t>(end));
  }
  uint8_t* mem = dw_span_blocks(b, static_cast<uint32_t>(end));
  for (uint32_t k = 0; k < nblocks; k++) {
    dw_blocks[b + k] = mem + static_cast<size_t>(k) * 4096;
    dw_block_free[b + k] = 0;
    dw_block_bits[b + k] = DwFreeBits{};
    block_has_free(b + k, false);
  }
  dw_cur_block = static_cast<int32_t>(end - 1);
  dw_next_slot = (last_count == 0 || last_count > 255) ? 256 : last_count;
  return mem;
}

void dw_area_reset() {
  if (dw_blocks != dw_blocks_initial) {
    std::free(dw_blocks);
    std::free(dw_block_free);
    std::free(dw_block_bits);
  }
  dw_blocks = dw_blocks_initial;
  dw_block_free = dw_free_initial;
  dw_block_bits = dw_bits_initial;
  if (store_tables_dirty) {
    std::memset(dw_blocks_initial, 0, sizeof dw_blocks_initial);
    std::memset(dw_free_initial, 0, sizeof dw_free_initial);
    std::memset(dw_bits_initial, 0, sizeof dw_bits_initial);
    std::memset(dw_blocks_with_free, 0, sizeof dw_blocks_with_free);
  }
  dw_capacity = DW_TABLE_STEP;
  dw_cur_block = -1;
  dw_next_slot = 256;
  dw_reuse_block = -1;
  dw_free_total = 0;
  dw_floor = 0;
}
