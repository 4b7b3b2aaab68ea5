// The value store's phases, floors, allocation helpers and reset.
#include <cstdlib>
#include <cstring>

#include "errors/raise.h"
#include "platform/layout.h"
#include "store/generation.h"
#include "store/store_state.h"

bool store_run_phase = false;

void* store_alloc(size_t size) {
  void* p = std::malloc(size ? size : 1);
  if (!p) raise_eval_error(1400, "メモリ領域を取得できません");
  return p;
}

void* store_alloc_zeroed(size_t size) {
  void* p = std::calloc(1, size ? size : 1);
  if (!p) raise_eval_error(1400, "メモリ領域を取得できません");
  return p;
}

static constexpr size_t FRESH_POOL_BYTES = 512 * 1024;
LARGE_STATIC static uint8_t fresh_pool[FRESH_POOL_BYTES];
static size_t fresh_used;

void* store_alloc_block(size_t size) {
  size_t n = (size + 63) & ~size_t{63};
  if (n <= FRESH_POOL_BYTES - fresh_used) {
    void* p = fresh_pool + fresh_used;
    fresh_used += n;
    return p;
  }
  return store_alloc_zeroed(size);
}

void store_free_block(void* p) {
  auto at = reinterpret_cast<uintptr_t>(p), pool = reinterpret_cast<uintptr_t>(fresh_pool);
  if (at - pool < FRESH_POOL_BYTES) return;   // never reused: the pool stays zero
  std::free(p);
}

uint8_t* store_span_blocks(uint8_t* space, size_t block_bytes, uint32_t* used, uint32_t b, uint32_t end) {
  uint8_t* mem = space + b * block_bytes;
  if (b < *used) std::memset(mem, 0, ((end < *used ? end : *used) - b) * block_bytes);
  if (end > *used) *used = end;
  return mem;
}

void store_switch_to_run_phase() { store_run_phase = true; }

void store_raise_floors() {
  if (word_last >= 0) word_floor = static_cast<uint32_t>(word_last) + 1;
  if (dw_cur_block >= 0) {
    dw_floor = static_cast<uint32_t>(dw_cur_block) + 1;
    dw_next_slot = 256;   // the next record starts a block at the floor
  }
}

bool store_tables_dirty = false;

uint32_t store_generation = 0;

void store_reset() {
  store_generation++;
  dw_area_reset();
  word_area_reset();
  sized_areas_reset();
  store_run_phase = false;
  store_tables_dirty = true;
}
