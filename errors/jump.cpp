// The jump stack, the clean-ups that jumps run, and the protected call.
#include "errors/jump.h"

#include <cstdlib>
#include <cstring>

#include "errors/raise.h"
#include "platform/layout.h"

LARGE_STATIC static JumpFrame initial_jump_stack[256];
JumpFrame* jump_stack = initial_jump_stack;
int jump_depth = 0;
int jump_capacity = 256;
DW jump_code = 0;

static void grow_jump_stack() {
  int cap = jump_capacity * 2;  // doubling keeps deep recursion linear
  auto* grown = static_cast<JumpFrame*>(std::malloc(sizeof(JumpFrame) * cap));
  if (!grown) raise_eval_error(1400, "メモリ領域を取得できません");
  // A saved context holds register values only, so a copy is as good as the original.
  std::memcpy(static_cast<void*>(grown), jump_stack, sizeof(JumpFrame) * jump_capacity);
  if (jump_stack != initial_jump_stack) std::free(jump_stack);
  jump_stack = grown;
  jump_capacity = cap;
}

int jump_push(uint8_t kind) {
  if (jump_depth >= jump_capacity) grow_jump_stack();
  jump_stack[jump_depth].kind = kind;
  return jump_depth++;
}

// ---- clean-ups ----

struct Cleanup {
  CleanupFn fn;
  void* arg;
  int depth;  // jump depth at registration
};
static Cleanup initial_cleanups[64];
static Cleanup* cleanups = initial_cleanups;
static int cleanup_count = 0;
static int cleanup_cap = 64;
// Clean-ups from this position on belong to work that a jump left (they are always the latest).
static int abandoned_from = 0;

static void run_down_to(int at) {
  while (cleanup_count > at) {
    Cleanup c = cleanups[--cleanup_count];
    c.fn(c.arg);
  }
  if (abandoned_from > cleanup_count) abandoned_from = cleanup_count;
}

int cleanup_push(CleanupFn fn, void* arg) {
  if (abandoned_from < cleanup_count) run_down_to(abandoned_from);
  if (cleanup_count == cleanup_cap) {
    int cap = cleanup_cap * 2;
    auto* grown = static_cast<Cleanup*>(std::malloc(sizeof(Cleanup) * cap));
    if (!grown) raise_eval_error(1400, "メモリ領域を取得できません");
    std::memcpy(static_cast<void*>(grown), cleanups, sizeof(Cleanup) * cleanup_count);
    if (cleanups != initial_cleanups) std::free(cleanups);
    cleanups = grown;
    cleanup_cap = cap;
  }
  cleanups[cleanup_count] = {fn, arg, jump_depth};
  abandoned_from = cleanup_count + 1;
  return cleanup_count++;
}

void cleanup_run_from(int at) { run_down_to(at < 0 ? 0 : at); }

int cleanups_registered() { return cleanup_count; }

// Work registered at depth d ran inside the region of frame d - 1, so a jump to a frame below d
// leaves it. Its clean-up runs later, when the next work registers or an earlier one ends: the
// values it releases stay valid for the receiver (a row that a callback throws, for one).
static void mark_abandoned(int index) {
  int at = abandoned_from < cleanup_count ? abandoned_from : cleanup_count;
  while (at > 0 && cleanups[at - 1].depth > index) at--;
  abandoned_from = at;
}

void (*jump_observer)(int index) = nullptr;

void jump_to(int index, DW code) {
  if (__builtin_expect(jump_observer != nullptr, 0)) jump_observer(index);
  if (cleanup_count) mark_abandoned(index);
  jump_code = code;
  siglongjmp(jump_stack[index].ctx, 1);
}

// ---- the protected call ----

// Kept out of line so that the arming frame holds nothing but what survives the jump.
bool jump_protect(uint8_t kind, void (*fn)(void*), void* arg, DW* code, const DepthKeeper* keeper) {
  void* mark[DEPTH_MARK_WORDS];
  if (keeper) keeper->save(mark);
  int fr = jump_push(kind);
  if (JUMP_ARM(fr)) {
    DW k = jump_code;
    jump_depth = fr;
    if (keeper) keeper->restore(mark, k);
    *code = k;
    return true;
  }
  fn(arg);
  jump_depth = fr;
  return false;
}
