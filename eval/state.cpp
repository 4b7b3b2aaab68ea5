// Evaluation globals, the local stack and the native stack guard.
#include <sys/resource.h>

#include <cstdlib>
#include <cstring>

#include "eval/eval.h"
#include "platform/layout.h"

Location last_location;
bool last_location_const = false;
bool create_missing = false;
uint32_t last_name = 0;

LARGE_STATIC static VarSlot initial_locals[512];
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
LARGE_STATIC int local_hint[LOCAL_HINTS];

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
  // The main thread's stack may grow to the soft limit below its top; the current frame is close
  // to the top, so measuring from here errs on the safe side. (Asking the thread library instead
  // reads /proc/self/maps, a cost every request would pay.)
  struct rlimit rl;
  size_t size = 8u << 20;
  if (getrlimit(RLIMIT_STACK, &rl) == 0 && rl.rlim_cur != RLIM_INFINITY) size = static_cast<size_t>(rl.rlim_cur);
  char* here = static_cast<char*>(__builtin_frame_address(0));
  if (size > STACK_RESERVE * 2) {
    stack_limit = here - size + STACK_RESERVE;
  } else {
    stack_limit = here - (64u << 10);
  }
}

void raise_stack_overflow() { raise_eval_error(2160, "ネストが深すぎます(スタックのオーバーフロー)"); }
