// The global table: process-wide (name word, value) slots, searched by masked name index.
#include "eval/globals.h"

#include <cstdlib>
#include <cstring>

#include "errors/raise.h"
#include "platform/layout.h"

LARGE_STATIC static VarSlot initial_globals[512];
VarSlot* global_table = initial_globals;
int global_top = -1;
int global_capacity = 512;

int global_find_up(uint32_t name) {
  name &= NAME_MASK;
  for (int i = 0; i <= global_top; i++)
    if ((global_table[i].name & NAME_MASK) == name) return i;
  return -1;
}

// Per bucket of names, the slot last found or appended for a name of the bucket. A hint that
// names the slot of the same name is always that name's last slot: slots are only ever
// appended (or all dropped), and every append of a name sets its bucket's hint.
static int global_hint[256];

int global_find_down(uint32_t name) {
  name &= NAME_MASK;
  int h = global_hint[name & 0xFF];
  if (h <= global_top && (global_table[h].name & NAME_MASK) == name) return h;
  for (int i = global_top; i >= 0; i--) {
    if ((global_table[i].name & NAME_MASK) == name) {
      global_hint[name & 0xFF] = i;
      return i;
    }
  }
  return -1;
}

int global_append(uint32_t name, DW value) {
  if (global_top + 1 >= global_capacity) {
    int cap = global_capacity + 512;
    auto* grown = static_cast<VarSlot*>(std::malloc(sizeof(VarSlot) * cap));
    if (!grown) raise_eval_error(1400, "メモリ領域を取得できません");
    std::memcpy(grown, global_table, sizeof(VarSlot) * (global_top + 1));
    if (global_table != initial_globals) std::free(global_table);
    global_table = grown;
    global_capacity = cap;
  }
  global_top++;
  global_table[global_top] = VarSlot{name, value};
  global_hint[name & 0xFF] = global_top;
  return global_top;
}

void global_define(uint32_t name, DW value) {
  int i = global_find_down(name);
  dw_ref(value);
  if (i < 0) {
    global_append(name & NAME_MASK, value);
    return;
  }
  DW old = global_table[i].value;
  global_table[i].value = value;
  dw_release(old);
}
