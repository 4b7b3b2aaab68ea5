// Errors and unwinding: error records, the message buffer, the jump stack and the raising
// operations. A jump never runs clean-up: receivers restore the depths they recorded.
#pragma once
#include <csetjmp>
#include <cstdint>

#include "store/store.h"

enum : uint8_t { JF_LOOP = 1, JF_FUNCTION = 2, JF_TRY = 3, JF_SWITCH = 4 };

constexpr DW JUMP_BREAK = 0x408F0000;
constexpr DW JUMP_CONTINUE = 0x407F0000;
constexpr DW JUMP_RETURN_VOID = 0x406F0000;

constexpr int MESSAGE_BUFFER_SIZE = 16384;

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
[[noreturn]] void jump_to(int index, DW code);

extern char message_buffer[MESSAGE_BUFFER_SIZE];
extern bool throw_pending;
extern bool running;            // errors reach script try statements only once this is set
extern int parse_module;        // module list entry being parsed
extern int parse_line;          // tokenizer's current line
extern int cur_module;          // module number of the node being evaluated
extern uint32_t cur_position;   // position word of the node being evaluated

DW make_error_record(const char* code, size_t codeLen, const char* msg, size_t msgLen);
// The same with the code kind byte (0 Integer code, 1 String code, 9 none) for script-made
// exceptions; lengths above 65,535 bytes raise 2360.
DW make_error_value(uint8_t codeKind, const char* code, size_t codeLen, const char* msg, size_t msgLen);

[[noreturn]] void raise_parse_error(int code, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
[[noreturn]] void raise_eval_error(int code, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
[[noreturn]] void fatal_stop(const char* message);
// How a fatal stop ends the process: std::exit. Harnesses that run many requests in one process
// replace it with a jump back to themselves; it must not return.
extern void (*fatal_exit)(int status);
