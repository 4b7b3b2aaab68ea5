// The word area (area 0): load-phase storage in blocks of 1,024 words, first fit, never freed.
#include <cstdlib>
#include <cstring>

#include "errors/raise.h"
#include "platform/layout.h"
#include "store/store_state.h"

static uint8_t* word_blocks_initial[128];
static uint16_t word_used_initial[128];

LARGE_STATIC uint8_t word_space[WORD_MAX_BLOCKS * WORD_BLOCK_WORDS * 4];
// Blocks below this one have been used: one taken again after a reset is cleared first.
static uint32_t word_space_used = 0;

static uint8_t* word_span_blocks(uint32_t b, uint32_t end) {
  return store_span_blocks(word_space, WORD_BLOCK_WORDS * 4, &word_space_used, b, end);
}

uint8_t** word_blocks = word_blocks_initial;
uint16_t* word_used = word_used_initial;
uint32_t word_capacity = 128;
int32_t word_last = -1;
uint32_t word_floor = 0;

// First-fit hints: for a request of w words (capped at a whole block), every block below
// word_fit_hint[w] is known to have fewer than w free words. Used counts only grow, so a hint
// never has to move back, and the first fit is found without rescanning the full blocks: the
// same placement as a scan from the floor, in amortised constant time.
LARGE_STATIC static uint32_t word_fit_hint[WORD_BLOCK_WORDS + 1];

static void word_grow_tables(uint32_t cap) {
  uint8_t** blocks = static_cast<uint8_t**>(std::calloc(cap, sizeof(uint8_t*)));
  uint16_t* used = static_cast<uint16_t*>(std::calloc(cap, sizeof(uint16_t)));
  if (!blocks || !used) {
    std::free(blocks);
    std::free(used);
    raise_eval_error(1400, "メモリ領域を取得できません");
  }
  std::memcpy(blocks, word_blocks, word_capacity * sizeof(uint8_t*));
  std::memcpy(used, word_used, word_capacity * sizeof(uint16_t));
  if (word_blocks != word_blocks_initial) {
    std::free(word_blocks);
    std::free(word_used);
  }
  word_blocks = blocks;
  word_used = used;
  word_capacity = cap;
}

// Makes room in the tables for blocks first .. first + count - 1. The handle has 10 block bits,
// so nothing may go past block 1,023.
static void word_make_room(uint32_t first, uint32_t count, uint32_t step_words) {
  uint64_t end = static_cast<uint64_t>(first) + count;
  if (end <= word_capacity && end <= WORD_MAX_BLOCKS) return;
  if (first >= WORD_MAX_BLOCKS - 1 || end > WORD_MAX_BLOCKS) raise_eval_error(1435, "Buffer Overflow(Area Free)");
  uint32_t step = (step_words + 127) / 128 * 128;
  uint32_t cap = word_capacity;
  while (cap < end) cap += step;
  word_grow_tables(cap);
}

DW word_area_new(size_t size, void** out) {
  if (size > (static_cast<size_t>(WORD_MAX_BLOCKS) * WORD_BLOCK_WORDS) * 4) raise_eval_error(1435, "Buffer Overflow(Area Free)");
  uint32_t words = static_cast<uint32_t>((size + 4) / 4);
  // First fit among the blocks from the floor up.
  uint32_t* hint = &word_fit_hint[words < WORD_BLOCK_WORDS ? words : WORD_BLOCK_WORDS];
  uint32_t b = *hint > word_floor ? *hint : word_floor;
  for (; static_cast<int32_t>(b) <= word_last && word_blocks[b]; b++) {
    if (word_used[b] + words <= WORD_BLOCK_WORDS) {
      *hint = b;
      uint32_t at = word_used[b];
      word_used[b] = static_cast<uint16_t>(at + words);
      uint8_t* p = word_blocks[b] + at * 4;
      std::memset(p, 0, static_cast<size_t>(words) * 4);
      *out = p;
      return (b << 10) + at;
    }
  }
  *hint = b;
  // A new block (or run of blocks) where the search stopped.
  if (words < WORD_BLOCK_WORDS) {
    word_make_room(b, 1, words);
    uint8_t* block = word_span_blocks(b, b + 1);
    word_blocks[b] = block;
    word_used[b] = static_cast<uint16_t>(words);
    word_last = static_cast<int32_t>(b);
    *out = block;
    return b << 10;
  }
  uint32_t n = words / WORD_BLOCK_WORDS + 1;
  word_make_room(b, n, words);
  uint8_t* mem = word_span_blocks(b, b + n);
  for (uint32_t k = 0; k < n; k++) {
    word_blocks[b + k] = mem + static_cast<size_t>(k) * WORD_BLOCK_WORDS * 4;
    word_used[b + k] = static_cast<uint16_t>(k + 1 < n ? WORD_BLOCK_WORDS : words % WORD_BLOCK_WORDS);
  }
  word_last = static_cast<int32_t>(b + n - 1);
  *out = mem;
  return b << 10;
}

uint8_t* store_install_word_blocks(unsigned nblocks, const uint32_t* used, unsigned* base) {
  uint32_t b = static_cast<int32_t>(word_floor) > word_last ? word_floor : static_cast<uint32_t>(word_last) + 1;
  *base = b;
  if (nblocks == 0) return nullptr;
  uint64_t end = static_cast<uint64_t>(b) + nblocks;
  if (end >= word_capacity || end > WORD_MAX_BLOCKS) {
    if (end >= WORD_MAX_BLOCKS - 1) raise_eval_error(1435, "Buffer Overflow(Area Free)");
    uint32_t cap = word_capacity + (nblocks + 127) / 128 * 128;
    while (cap < end) cap += 128;
    word_grow_tables(cap);
  }
  uint8_t* mem = word_span_blocks(b, static_cast<uint32_t>(end));
  for (uint32_t k = 0; k < nblocks; k++) {
    word_blocks[b + k] = mem + static_cast<size_t>(k) * WORD_BLOCK_WORDS * 4;
    word_used[b + k] = static_cast<uint16_t>(used[k] < WORD_BLOCK_WORDS ? used[k] : WORD_BLOCK_WORDS);
  }
  word_last = static_cast<int32_t>(end - 1);
  return mem;
}

void word_area_reset() {
  if (word_blocks != word_blocks_initial) {
    std::free(word_blocks);
    std::free(word_used);
  }
  word_blocks = word_blocks_initial;
  word_used = word_used_initial;
  if (store_tables_dirty) {
    std::memset(word_blocks_initial, 0, sizeof word_blocks_initial);
    std::memset(word_used_initial, 0, sizeof word_used_initial);
  }
  word_capacity = 128;
  word_last = -1;
  word_floor = 0;
  if (store_tables_dirty) std::memset(word_fit_hint, 0, sizeof word_fit_hint);
}
