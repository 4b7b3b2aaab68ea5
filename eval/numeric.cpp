// Arithmetic without intermediate values: +, -, *, /, % and ** computed on native numbers, so
// that only the final result of an arithmetic expression is ever made into a value. The results
// are those of folding in double arithmetic (the operators' rule); Integer pairs take an exact
// integer path where it gives the same result.
#include <cmath>
#include <cstdio>

#include "eval/ops.h"
#include "store/number_text.h"


// Text of an Integer, Float or constant operand of +; false for any other type.
bool operand_text(DW v, char* buf, size_t size, const char** text, size_t* len) {
  switch (dw_type(v)) {
    case T_INT: *len = int_text(int_of(v), buf); *text = buf; return true;
    case T_FLOAT: *len = static_cast<size_t>(number_text(float_of(v), buf, size)); *text = buf; return true;
    case T_STRING: *text = str_text(v); *len = str_rec(v)->len; return true;
    case T_CONST: *text = constant_name(v, len); return true;
    default: return false;
  }
}

// a + b by the addition table; both operands are discarded.
DW add_values(DW a, DW b) {
  unsigned ta = dw_type(a), tb = dw_type(b);
  DW res;
  if (ta == T_INT && tb == T_INT) {
    res = int_value(static_cast<int32_t>(static_cast<uint32_t>(int_of(a)) + static_cast<uint32_t>(int_of(b))));
  } else if ((ta == T_INT || ta == T_FLOAT) && (tb == T_INT || tb == T_FLOAT)) {
    double x = ta == T_INT ? int_of(a) : float_of(a);
    double y = tb == T_INT ? int_of(b) : float_of(b);
    res = make_float(x + y, 0);
  } else {
    // Texts: a String on either side, or two constants.
    bool ok = (ta == T_STRING && tb != T_FUNC) || (tb == T_STRING && ta != T_FUNC) || (ta == T_CONST && tb == T_CONST);
    char b1[400], b2[400];
    const char *t1, *t2;
    size_t l1, l2;
    if (!ok || !operand_text(a, b1, sizeof b1, &t1, &l1) || !operand_text(b, b2, sizeof b2, &t2, &l2))
      raise_eval_error(2240, "データの型不正(+)");
    res = make_string_concat(t1, t2, l1 + l2, 0);
  }
  dw_discard(a);
  if (b != a) dw_discard(b);
  return res;
}

DW add_rest(DW acc, const DW* args, uint32_t k, uint32_t n) {
  for (; k < n; k++) {
    DW v = eval_holding(acc, args[k]);
    acc = add_values(acc, v);
  }
  return acc;
}

DW num_value(const Num& n) { return n.isFloat ? make_float(n.d, 0) : int_value(n.i); }

static inline double fold_step(unsigned op, double a, double b) {
  switch (op) {
    case OP_SUB: return a - b;
    case OP_MUL: return a * b;
    case OP_DIV:
      if (b == 0.0) raise_eval_error(2330, "オペレーション不正(０割)");
      return a / b;
    case OP_MOD: return a - b * std::floor(a / b);
    default: return std::pow(a, b);
  }
}

// An operand of -, *, /, %, ** as to_number gives it: an Integer (isInt), or a double with the
// float flag when it counts as a float.
struct Operand {
  double d;
  int32_t i;
  bool isInt, isFloat;
};

// fresh: the value may be a temporary (it came from an operation, not from a variable or a leaf).
static inline void value_operand(DW v, Operand* o, bool fresh) {
  if (dw_type(v) == T_INT) {
    o->i = int_of(v);
    o->isInt = true;
    o->isFloat = false;
  } else {
    bool fl = false;
    o->d = to_number(v, &fl);
    o->isInt = false;
    o->isFloat = fl;
  }
  if (fresh) value_discard(v);
}

static inline void arith_operand(DW t, Operand* o) {
  unsigned ty = dw_type(t);
  if (ty == T_INT) {
    o->i = int_of(t);
    o->isInt = true;
    o->isFloat = false;
    return;
  }
  DW v;
  if (ty == T_NODE) {
    Num n;
    v = eval_num(t, &n);
    if (v == NUM_DONE) {
      o->isFloat = n.isFloat;
      o->isInt = !n.isFloat;
      o->i = n.i;
      o->d = n.d;
      return;
    }
  } else if (ty == T_CONST && t >= 5) {
    v = lookup_variable(t);
  } else {
    v = eval_node(t);
  }
  value_operand(v, o, tree_runs_code(t));
}

static inline double operand_double(const Operand& o) { return o.isInt ? o.i : o.d; }

// -, *, /, %, ** over the operands of r, folded left in double arithmetic with one float flag.
static inline __attribute__((always_inline)) void arith_num(NodeRec* r, Num* out) {
  unsigned op = r->op;
  uint32_t n = rec_argc(r);
  DW* args = rec_args(r);
  Operand a, b;
  arith_operand(args[0], &a);
  arith_operand(args[1], &b);
  if (n == 2 && a.isInt && b.isInt && int_pair(op, a.i, b.i, &out->i)) {
    out->isFloat = false;
    return;
  }
  bool fl = a.isFloat || b.isFloat;
  double acc = fold_step(op, operand_double(a), operand_double(b));
  for (uint32_t k = 2; k < n; k++) {
    arith_operand(args[k], &b);
    fl |= b.isFloat;
    acc = fold_step(op, acc, operand_double(b));
  }
  out->isFloat = fl;
  if (fl) out->d = acc;
  else out->i = double_to_int32(acc);
}

// An addition operand: its number (NUM_DONE), or its value when it is not a number.
static inline DW add_operand(DW t, Num* n) {
  unsigned ty = dw_type(t);
  if (ty == T_INT) {
    n->i = int_of(t);
    n->isFloat = false;
    return NUM_DONE;
  }
  DW v;
  if (ty == T_NODE) {
    v = eval_num(t, n);
    if (v == NUM_DONE) return v;
  } else if (ty == T_CONST && t >= 5) {
    v = lookup_variable(t);
  } else {
    v = eval_node(t);
  }
  if (dw_type(v) == T_INT) {
    n->i = int_of(v);
    n->isFloat = false;
  } else if (dw_type(v) == T_FLOAT) {
    n->d = float_of(v);
    n->isFloat = true;
  } else {
    return v;
  }
  if (tree_runs_code(t)) value_discard(v);
  return NUM_DONE;
}

// Addition over numbers; a value that is not a number ends the native path: the sum so far
// becomes a value and the rest goes through the addition table. Returns NUM_DONE or the value.
static inline __attribute__((always_inline)) DW add_num(NodeRec* r, Num* out) {
  uint32_t n = rec_argc(r);
  DW* args = rec_args(r);
  Num acc;
  DW v = add_operand(args[0], &acc);
  if (v != NUM_DONE) return add_rest(v, args, 1, n);
  for (uint32_t k = 1; k < n; k++) {
    // Set on every path that returns NUM_DONE; the initialiser only quiets -O3's flow analysis.
    Num b{};
    DW w = add_operand(args[k], &b);
    if (w != NUM_DONE) return add_rest(add_values(num_value(acc), w), args, k + 1, n);
    if (!acc.isFloat && !b.isFloat) {
      acc.i = static_cast<int32_t>(static_cast<uint32_t>(acc.i) + static_cast<uint32_t>(b.i));
    } else {
      double x = acc.isFloat ? acc.d : acc.i;
      double y = b.isFloat ? b.d : b.i;
      acc.d = x + y;
      acc.isFloat = true;
    }
  }
  *out = acc;
  return NUM_DONE;
}

DW eval_num_node(DW tree, NodeRec* r, Num* out) {
  cur_module = r->modflags & 0x7F;
  cur_position = r->pos & POSITION_MASK;
  switch (r->op) {
    case OP_ADD: return add_num(r, out);
    case OP_GROUP:
      if (r->argc == 1) return eval_num(r->a1, out);
      return op_group(tree, r);
    case OP_MEMBER: {
      // x.length of a container or string is a number: no value needed.
      if ((r->a2 & NAME_MASK) != NAME_LENGTH) return op_member(tree, r);
      last_location.kind = LOC_NONE;
      DW a = eval_node(r->a1);
      uint32_t n;
      switch (dw_type(a)) {
        case T_STRING: n = str_rec(a)->len; break;
        case T_ARRAY: n = arr_rec(a)->count; break;
        case T_KEYED: n = keyed_rec(a)->count; break;
        case T_OBJECT: n = obj_rec(a)->count; break;
        default: return op_member_of(a, NAME_LENGTH);
      }
      out->i = static_cast<int32_t>(n);
      out->isFloat = false;
      return NUM_DONE;
    }
    default:
      arith_num(r, out);
      return NUM_DONE;
  }
}

DW op_arith(DW, NodeRec* r) {
  Num n{};
  arith_num(r, &n);
  return num_value(n);
}

DW op_add(DW, NodeRec* r) {
  Num n{};
  DW v = add_num(r, &n);
  return v == NUM_DONE ? num_value(n) : v;
}
