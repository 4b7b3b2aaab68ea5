// The jump stack: frame kinds, arming, the transfer to a frame, clean-ups run by the way, and
// the protected call.
#pragma once
#include <csetjmp>
#include <cstdint>

using DW = uint32_t;  // a value handle; the store gives it its meaning

enum : uint8_t { JF_LOOP = 1, JF_FUNCTION = 2, JF_TRY = 3, JF_SWITCH = 4 };

constexpr DW JUMP_BREAK = 0x408F0000;
constexpr DW JUMP_CONTINUE = 0x407F0000;
constexpr DW JUMP_RETURN_VOID = 0x406F0000;

struct JumpFrame {
  sigjmp_buf ctx;
  uint8_t kind;
};

extern JumpFrame* jump_stack;
extern int jump_depth;     // frames in use
extern int jump_capacity;
// The code carried by the last jump. It is read by the receiver after sigsetjmp returns
// non-zero, so any handle can travel, undefined (0) included.
extern DW jump_code;

// Pushes a frame of a kind and returns its index; the caller then arms it with
// JUMP_ARM(index) in its own stack frame:
//   int fr = jump_push(JF_LOOP);
//   if (JUMP_ARM(fr)) { DW code = jump_code; jump_depth = fr + 1; ... }
int jump_push(uint8_t kind);
#define JUMP_ARM(index) sigsetjmp(jump_stack[(index)].ctx, 0)
// Lands at frame index with code; the clean-ups of the work it leaves are marked abandoned.
[[noreturn]] void jump_to(int index, DW code);

// ---- clean-ups ----
// Work that owns resources outside the value store (statement handles, buffers, values it made)
// registers a clean-up while it runs; work that ends normally runs its own and those registered
// after it. A jump to a frame below the depth at registration marks it abandoned, and it runs
// when the next work registers, when earlier work ends, or at the end of the run, never during
// the jump. Clean-ups must not raise.
using CleanupFn = void (*)(void* arg);
// Returns the clean-up's position, for cleanup_run_from.
int cleanup_push(CleanupFn fn, void* arg);
// Runs the clean-ups from position at on (latest first) and drops them.
void cleanup_run_from(int at);
int cleanups_registered();

// ---- the protected call ----
// Records the depths of the layers above this one at a protected call and puts them back when a
// jump arrives there; keep is the code that arrived, which what is put back must leave alive.
struct DepthKeeper {
  void (*save)(void* mark);
  void (*restore)(const void* mark, DW keep);
};
constexpr int DEPTH_MARK_WORDS = 8;
// The evaluator installs its keeper at start-up; without one only the jump depth is restored.
void set_depth_keeper(const DepthKeeper* keeper);

// Runs fn(arg) under a frame of kind. Returns false when fn returned; true when a jump arrived,
// with its code in *code, the frame popped and every recorded depth as it was at the call.
bool jump_protect(uint8_t kind, void (*fn)(void*), void* arg, DW* code);
