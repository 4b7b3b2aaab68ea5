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

// A variable name in a tree; the operation node of a tree (null for anything else).
inline bool plan_is_name(DW t) { return dw_type(t) == T_CONST && t >= 5; }
inline NodeRec* plan_node(DW t) {
  return dw_type(t) == T_NODE ? reinterpret_cast<NodeRec*>(dw_rec(t)) : nullptr;
}

// ---- the integer expressions that plans compile ----
// Names, Integer literals, (e), + of any length, - * / % of two operands (longer runs fold in
// double arithmetic: only pairs have an exact integer form) and comparisons, whose result (true
// or false, not a number) only a condition may use. The walk emits postfix code through an
// emitter E with: bool name(DW), bool literal(int32_t), bool add(), bool binary(unsigned op),
// bool compare(CompareOp), bool other(NodeRec*) (further forms such as calls; false refuses).
enum PlanShape { PLAN_NUMBER, PLAN_COMPARISON, PLAN_NONE };

template <class E>
PlanShape plan_expr(E& e, DW t) {
  if (plan_is_name(t)) return e.name(t) ? PLAN_NUMBER : PLAN_NONE;
  if (dw_type(t) == T_INT) return e.literal(int_of(t)) ? PLAN_NUMBER : PLAN_NONE;
  NodeRec* r = plan_node(t);
  if (!r) return PLAN_NONE;
  auto operand = [&e](DW a) { return plan_expr(e, a) == PLAN_NUMBER; };
  DW* a = rec_args(r);
  switch (r->op) {
    case OP_GROUP:
      return r->argc == 1 ? plan_expr(e, r->a1) : PLAN_NONE;
    case OP_ADD: {
      uint32_t n = rec_argc(r);
      if (!operand(a[0])) return PLAN_NONE;
      for (uint32_t k = 1; k < n; k++)
        if (!operand(a[k]) || !e.add()) return PLAN_NONE;
      return PLAN_NUMBER;
    }
    case OP_SUB: case OP_MUL: case OP_DIV: case OP_MOD:
      if (r->argc != 2 || !operand(a[0]) || !operand(a[1])) return PLAN_NONE;
      return e.binary(r->op) ? PLAN_NUMBER : PLAN_NONE;
    case OP_EQ: case OP_STRICT_EQ: case OP_NE: case OP_STRICT_NE:
    case OP_LT: case OP_LE: case OP_GT: case OP_GE:
      if (!operand(a[0]) || !operand(a[1])) return PLAN_NONE;
      return e.compare(compare_of(r->op)) ? PLAN_COMPARISON : PLAN_NONE;
    default:
      return e.other(r) ? PLAN_NUMBER : PLAN_NONE;
  }
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
