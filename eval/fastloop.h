// Integer loops on a plan: building the plan of a loop and running it (see fastloop.cpp).
#pragma once
#include "eval/ops.h"

struct FastLoop;

// Integer steps shared by the plans (loops here, functions in intfunc.cpp): + wraps at 32 bits
// as the integer path of + does; comparisons of two Integers.
inline int32_t wrap_add(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}
inline int32_t wrap_sub(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(static_cast<int64_t>(a) - b));
}
inline bool holds(CompareOp op, int32_t x, int32_t y) {
  switch (op) {
    case CMP_EQ: return x == y;
    case CMP_NE: return x != y;
    case CMP_LT: return x < y;
    case CMP_LE: return x <= y;
    case CMP_GT: return x > y;
    default: return x >= y;
  }
}
// The comparison of a comparison opcode (== and === alike: both sides are Integers).
inline CompareOp compare_of(unsigned op) {
  return op == OP_EQ || op == OP_STRICT_EQ ? CMP_EQ
         : op == OP_NE || op == OP_STRICT_NE ? CMP_NE
         : op == OP_LT ? CMP_LT : op == OP_LE ? CMP_LE : op == OP_GT ? CMP_GT : CMP_GE;
}

enum FastWhere : uint8_t { FAST_DONE, FAST_AT_CONDITION, FAST_AT_BODY, FAST_AT_UPDATE };
// Where the plan stopped: the loop ended, or the tree takes over at the condition, at body
// statement index or at update index.
struct FastStop {
  FastWhere where;
  uint32_t index;
};

// Off: every loop runs on the tree (tests compare both ways).
extern bool fastloop_enabled;

// The plan of a loop (condition, body, update expressions) with its variables resolved now;
// null when the loop has none. Valid until the local stack or the global table changes.
FastLoop* fastloop_build(DW cond, DW body, const DW* updates, uint32_t nupdates);
FastStop fastloop_run(const FastLoop* plan);
