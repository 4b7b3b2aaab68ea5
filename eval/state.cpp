// Evaluation globals, the local stack and the native stack guard.
#include <pthread.h>

#include <cstdlib>
#include <cstring>

#include "eval/eval.h"

Location last_location;
bool last_location_const = false;
bool create_missing = false;
uint32_t last_name = 0;

static VarSlot initial_locals[512];
VarSlot* local_stack = initial_locals;
int local_top = 0;
int local_capacity = 512;
int frame_base = 0;
int param_count = 0;
int local_count = 0;
int block_start = 0;
int block_depth = 0;
bool returning = false;
DW return_code = 0;
int fast_return_frame = -1;

void local_grow(int n) {
  int cap = local_top + n + 512;
  if (cap < local_capacity * 2) cap = local_capacity * 2;
  auto* grown = static_cast<VarSlot*>(std::malloc(sizeof(VarSlot) * static_cast<size_t>(cap)));
  if (!grown) raise_eval_error(1400, "メモリ領域を取得できません");
  std::memcpy(grown, local_stack, sizeof(VarSlot) * static_cast<size_t>(local_top + 1));
  if (local_stack != initial_locals) std::free(local_stack);
  local_stack = grown;
  local_capacity = cap;
}

void locals_pop(int mark, DW keep) {
  if (mark < 1) mark = 1;
  while (local_top >= mark) {
    DW v = local_stack[local_top].value;
    local_top--;
    if (v == keep) dw_unref(v);
    else dw_release(v);
  }
}

// ---- native stack guard ----

char* stack_limit = nullptr;

// Room kept below the limit for the error raise itself and for the deepest work done between
// two checks (formatting, the built-in methods).
static constexpr size_t STACK_RESERVE = 512 * 1024;

void stack_guard_init() {
  pthread_attr_t attr;
  void* addr = nullptr;
  size_t size = 0;
  if (pthread_getattr_np(pthread_self(), &attr) == 0) {
    pthread_attr_getstack(&attr, &addr, &size);
    pthread_attr_destroy(&attr);
  }
  char* here = static_cast<char*>(__builtin_frame_address(0));
  if (addr && size > STACK_RESERVE * 2) {
    stack_limit = static_cast<char*>(addr) + STACK_RESERVE;
  } else {
    // Unknown bounds: assume the usual 8 MB below the current frame.
    stack_limit = here - (8u << 20) + STACK_RESERVE;
  }
  if (stack_limit > here) stack_limit = here - (64u << 10);
}

void raise_stack_overflow() { raise_eval_error(2160, "ネストが深すぎます(スタックのオーバーフロー)"); }
