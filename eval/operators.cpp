// Operator handlers: typeof, instanceof, the logical and comparison operators, addition, the
// other arithmetic, bitwise and shift operators, the conditional and the group.
#include <cmath>
#include <cstdio>
#include <cstring>

#include "eval/compare.h"
#include "eval/ops.h"

// ---- typeof / instanceof ----

static DW new_text(const char* t) { return make_string(t, std::strlen(t), 0); }

DW op_typeof(DW, NodeRec* r) {
  DW v = eval_node(r->a1);
  const char* t = "object";
  switch (dw_type(v)) {
    case T_CONST: t = v == DW_UNDEFINED ? "undefined" : v == DW_NULL ? "object" : v == DW_NAN ? "symbol" : "boolean"; break;
    case T_INT: case T_FLOAT: t = "number"; break;
    case T_STRING: t = "string"; break;
    case T_FUNC: t = "function"; break;
    case T_OBJECT: {
      DW ctor = obj_rec(v)->ctor;
      if (ctor) {
        DW s = make_string(name_text(ctor & NAME_MASK), name_length(ctor & NAME_MASK), 0);
        dw_discard(v);
        return s;
      }
      break;
    }
    default: break;
  }
  dw_discard(v);
  return new_text(t);
}

DW op_instanceof(DW, NodeRec* r) {
  DW v = eval_node(r->a1);
  uint32_t k = r->a2 & NAME_MASK;
  bool res = false;
  if (k == NAME_OBJECT) {
    res = true;
  } else {
    switch (dw_type(v)) {
      case T_INT: case T_FLOAT: res = k == NAME_NUMBER; break;
      case T_CONN: res = k == NAME_CONNECTION; break;
      case T_DATE: res = k == NAME_DATE; break;
      case T_REGEXP: res = k == NAME_REGEXP; break;
      case T_STRING: res = k == NAME_STRING; break;
      case T_ARRAY: case T_KEYED: res = k == NAME_ARRAY; break;
      case T_OBJECT:
        res = k == NAME_HASH || (obj_rec(v)->ctor & NAME_MASK) == k;
        break;
      case T_FUNC: res = k == NAME_FUNCTION; break;
      default: break;
    }
  }
  dw_discard(v);
  return res ? DW_TRUE : DW_FALSE;
}

// ---- logical ----

DW op_not(DW, NodeRec* r) {
  DW v = eval_node(r->a1);
  int b = to_boolean(v);
  dw_discard(v);
  return b ? DW_FALSE : DW_TRUE;
}

DW op_and(DW, NodeRec* r) {
  uint32_t n = rec_argc(r);
  DW* args = rec_args(r);
  for (uint32_t i = 0; i < n; i++) {
    DW v = eval_node(args[i]);
    int b = to_boolean(v);
    dw_discard(v);
    if (!b) return DW_FALSE;
  }
  return DW_TRUE;
}

DW op_or(DW, NodeRec* r) {
  uint32_t n = rec_argc(r);
  DW* args = rec_args(r);
  for (uint32_t i = 0; i < n; i++) {
    DW v = eval_node(args[i]);
    int b = to_boolean(v);
    dw_discard(v);
    if (b) return DW_TRUE;
  }
  return DW_FALSE;
}

// ---- comparisons ----

// A number operand: from a native result, or an Integer or Float value (not discarded).
static inline bool as_num(DW v, const Num& n, Num* out) {
  if (v == NUM_DONE) {
    *out = n;
    return true;
  }
  if (dw_type(v) == T_INT) {
    *out = Num{0, int_rec(v)->value, false};
    return true;
  }
  if (dw_type(v) == T_FLOAT) {
    *out = Num{float_rec(v)->value, 0, true};
    return true;
  }
  return false;
}

// An operand of a comparison: names and leaves directly, operations through eval_num.
static inline DW compare_operand(DW t, Num* n) {
  if (dw_type(t) == T_CONST && t >= 5) return lookup_variable(t);
  if (dw_type(t) == T_INT) return t;
  return eval_num(t, n);
}

// A name or a literal: evaluating it runs nothing and makes nothing.
static inline bool plain_leaf(DW t) {
  unsigned ty = dw_type(t);
  return (ty == T_CONST && t >= 5) || ty == T_INT || ty == T_FLOAT;
}

template <CompareOp op>
static inline DW compare(NodeRec* r) {
  DW t1 = r->a1, t2 = r->a2;
  if (plain_leaf(t1) && plain_leaf(t2)) {
    DW a = dw_type(t1) == T_CONST ? lookup_variable(t1) : t1;
    DW b = dw_type(t2) == T_CONST ? lookup_variable(t2) : t2;
    if (dw_type(a) == T_INT && dw_type(b) == T_INT) return compare_holds(int_of(a), int_of(b), op) ? DW_TRUE : DW_FALSE;
    return loose_compare(a, b, op);
  }
  Num na, nb, x, y;
  DW a = compare_operand(r->a1, &na);
  DW b;
  if (a == NUM_DONE || !tree_runs_code(r->a2)) {
    b = compare_operand(r->a2, &nb);
  } else {
    dw_ref(a);
    b = eval_num(r->a2, &nb);
    dw_unref(a);
  }
  // Numbers on both sides need no value.
  if (as_num(a, na, &x) && as_num(b, nb, &y)) {
    bool res = !x.isFloat && !y.isFloat ? compare_holds(x.i, y.i, op)
                                        : compare_holds<double>(x.isFloat ? x.d : x.i, y.isFloat ? y.d : y.i, op);
    // Values read from variables or leaves are held elsewhere: only results may be temporaries.
    if (a != NUM_DONE && tree_runs_code(r->a1)) value_discard(a);
    if (b != NUM_DONE && b != a && tree_runs_code(r->a2)) value_discard(b);
    return res ? DW_TRUE : DW_FALSE;
  }
  if (a == NUM_DONE) a = num_value(na);
  if (b == NUM_DONE) b = num_value(nb);
  return loose_compare(a, b, op);
}

DW op_eq(DW, NodeRec* r) { return compare<CMP_EQ>(r); }
DW op_ne(DW, NodeRec* r) { return compare<CMP_NE>(r); }
DW op_lt(DW, NodeRec* r) { return compare<CMP_LT>(r); }
DW op_le(DW, NodeRec* r) { return compare<CMP_LE>(r); }
DW op_gt(DW, NodeRec* r) { return compare<CMP_GT>(r); }
DW op_ge(DW, NodeRec* r) { return compare<CMP_GE>(r); }

DW op_strict_eq(DW, NodeRec* r) {
  DW a = eval_node(r->a1);
  DW b = eval_holding(a, r->a2);
  return strict_equal(a, b);
}

DW op_strict_ne(DW, NodeRec* r) {
  DW a = eval_node(r->a1);
  DW b = eval_holding(a, r->a2);
  return strict_equal(a, b) == DW_TRUE ? DW_FALSE : DW_TRUE;
}

// ---- bitwise ----

DW op_bitwise(DW, NodeRec* r) {
  unsigned op = r->op;
  uint32_t n = rec_argc(r);
  DW* args = rec_args(r);
  DW v = eval_node(args[0]);
  if (dw_type(v) != T_INT) raise_eval_error(2257, "オペランド不正(非整数)");
  uint32_t acc = static_cast<uint32_t>(int_of(v));
  dw_discard(v);
  for (uint32_t i = 1; i < n; i++) {
    v = eval_node(args[i]);
    if (dw_type(v) != T_INT) raise_eval_error(2260, "オペランド不正(非整数)");
    uint32_t x = static_cast<uint32_t>(int_of(v));
    dw_discard(v);
    acc = op == OP_BIT_AND ? acc & x : op == OP_BIT_OR ? acc | x : acc ^ x;
  }
  return int_value(static_cast<int32_t>(acc));
}

DW op_bit_not(DW, NodeRec* r) {
  DW v = eval_node(r->a1);
  if (dw_type(v) != T_INT) raise_eval_error(2280, "オペランド不正(非整数)");
  int32_t x = ~int_of(v);
  if (dw_count(v) == 0) {
    int_rec(v)->value = x;
    return v;
  }
  return int_value(x);
}

DW op_shift(DW, NodeRec* r) {
  DW a = eval_node(r->a1);
  DW b = eval_holding(a, r->a2);
  if (dw_type(a) != T_INT) raise_eval_error(2265, "オペランド不正(非整数)");
  if (dw_type(b) != T_INT) raise_eval_error(2270, "オペランド不正(非整数)");
  int32_t c = int_of(b);
  if (c < 0) raise_eval_error(2275, "シフト数不正");
  if (b != a) dw_discard(b);
  if (c == 0) return a;
  uint32_t x = static_cast<uint32_t>(int_of(a));
  uint32_t res;
  switch (r->op) {
    case OP_SHL: res = x << (c & 31); break;
    case OP_SHR: res = static_cast<uint32_t>(static_cast<int32_t>(x) >> (c & 31)); break;
    default: res = (x >> 1) >> ((c - 1) & 31); break;
  }
  dw_discard(a);
  return int_value(static_cast<int32_t>(res));
}

// ---- conditional and group ----

DW op_cond(DW, NodeRec* r) {
  DW* args = rec_args(r);
  DW c = eval_node(args[0]);
  int b = to_boolean(c);
  dw_discard(c);
  return eval_node(b ? args[1] : args[2]);
}

DW op_group(DW, NodeRec* r) {
  uint32_t n = rec_argc(r);
  DW* args = rec_args(r);
  DW v = DW_UNDEFINED;
  for (uint32_t i = 0; i < n; i++) {
    if (i) dw_discard(v);
    v = eval_node(args[i]);
  }
  return v;
}
