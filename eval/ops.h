// The evaluator's own operation handlers (one per opcode) and the helpers its files share.
#pragma once
#include "eval/eval.h"

#define OP_HANDLER(name) DW name(DW node, NodeRec* r)

// dispatch.cpp
OP_HANDLER(op_undefined);
OP_HANDLER(op_refused);

// operators.cpp
OP_HANDLER(op_typeof);
OP_HANDLER(op_instanceof);
OP_HANDLER(op_not);
OP_HANDLER(op_and);
OP_HANDLER(op_or);
OP_HANDLER(op_eq);
OP_HANDLER(op_strict_eq);
OP_HANDLER(op_ne);
OP_HANDLER(op_strict_ne);
OP_HANDLER(op_ge);
OP_HANDLER(op_gt);
OP_HANDLER(op_le);
OP_HANDLER(op_lt);
OP_HANDLER(op_add);
OP_HANDLER(op_arith);      // OP_SUB, OP_MUL, OP_DIV, OP_MOD, OP_POW
OP_HANDLER(op_bitwise);    // OP_BIT_AND, OP_BIT_OR, OP_BIT_XOR
OP_HANDLER(op_bit_not);
OP_HANDLER(op_shift);      // OP_SHL, OP_SHR, OP_USHR
OP_HANDLER(op_cond);
OP_HANDLER(op_group);

// assign.cpp
OP_HANDLER(op_assign);
OP_HANDLER(op_add_assign);
OP_HANDLER(op_arith_assign);   // -= *= /= %=
OP_HANDLER(op_bit_assign);     // &= |= ^=
OP_HANDLER(op_post_inc);
OP_HANDLER(op_post_dec);
OP_HANDLER(op_pre_inc);
OP_HANDLER(op_pre_dec);
// x++ / x-- whose value nobody uses (statements, loop updates): may update a value in place.
void post_step_discarded(NodeRec* r);

// uri.cpp
OP_HANDLER(op_uri);   // OP_DECODE_URI .. OP_ENCODE_URI_COMPONENT

// variables.cpp
OP_HANDLER(op_var);
OP_HANDLER(op_let);   // OP_LET and OP_CONST

// literals.cpp
DW eval_template(DW s);
DW eval_literal(DW lit);

// statements.cpp
OP_HANDLER(op_block);
OP_HANDLER(op_if);
OP_HANDLER(op_while);
OP_HANDLER(op_do_while);
OP_HANDLER(op_for);
OP_HANDLER(op_for_in_of);   // OP_FOR_IN, OP_FOR_OF
OP_HANDLER(op_switch);
OP_HANDLER(op_break);
OP_HANDLER(op_continue);
OP_HANDLER(op_return);
OP_HANDLER(op_throw);
OP_HANDLER(op_try);
// Whether a frame of this kind receives a transfer with this code (pending: a throw).
bool jump_accepts(uint8_t kind, DW code, bool pending);
OP_HANDLER(op_error);       // OP_ERROR, OP_EXCEPTION

// calls.cpp
OP_HANDLER(op_call);
OP_HANDLER(op_new);

// members.cpp
OP_HANDLER(op_member);
OP_HANDLER(op_index);
DW op_member_of(DW a, uint32_t name);   // a.name for an already evaluated a
// The name of a string used as a member key when the name exists already, else -1 (no object
// can then have such a member); nothing is interned.
int32_t string_key_known(DW s);
// Writing right after an array's last element grows it: the new element (undefined) is appended
// and its slot returned.
DW* array_end_slot(DW arr);

// conversion_functions.cpp
OP_HANDLER(op_number);
OP_HANDLER(op_string);
OP_HANDLER(op_integer);
OP_HANDLER(op_float);
OP_HANDLER(op_array);
OP_HANDLER(op_eval);
DW number_of_tree(DW tree);   // Number(x) of an argument tree
DW string_of_tree(DW tree);   // String(x) of an argument tree
DW array_of_trees(const DW* trees, uint32_t n);

// numeric.cpp: arithmetic on native numbers.
struct Num {
  double d;
  int32_t i;
  bool isFloat;
};
constexpr DW NUM_DONE = 0xFFFFFFFF;
DW eval_num_node(DW tree, NodeRec* r, Num* out);
// Evaluates a tree. An arithmetic node whose result is a number leaves it in *out and returns
// NUM_DONE (no value is made); anything else returns its value as eval_node does.
inline DW eval_num(DW tree, Num* out) {
  if (dw_type(tree) == T_NODE && !eval_hooks_on) {
    NodeRec* r = node_rec(tree);
    unsigned op = r->op;
    if ((op >= OP_ADD && op <= OP_MOD) || op == OP_POW || op == OP_GROUP || op == OP_MEMBER)
      return eval_num_node(tree, r, out);
  }
  return eval_node(tree);
}
// Two Integers: the exact integer form of the double fold, where both agree.
inline bool int_pair(unsigned op, int32_t a, int32_t b, int32_t* out) {
  int64_t x = a, y = b;
  switch (op) {
    case OP_SUB: *out = static_cast<int32_t>(static_cast<uint32_t>(x - y)); return true;
    case OP_MUL: {
      int64_t p = x * y;
      if (p > (int64_t(1) << 53) || p < -(int64_t(1) << 53)) return false;
      *out = static_cast<int32_t>(static_cast<uint32_t>(p));
      return true;
    }
    case OP_DIV:
      if (y == 0) raise_eval_error(2330, "オペレーション不正(０割)");
      *out = static_cast<int32_t>(static_cast<uint32_t>(x / y));
      return true;
    case OP_MOD: {
      if (y == 0) {
        *out = 0;
        return true;
      }
      int64_t m = x % y;
      if (m != 0 && ((m < 0) != (y < 0))) m += y;
      *out = static_cast<int32_t>(m);
      return true;
    }
    default: return false;
  }
}
DW num_value(const Num& n);
DW add_values(DW a, DW b);                                   // a + b; discards both
// Text of an Integer, Float, String or constant as + writes it; false for other types.
bool operand_text(DW v, char* buf, size_t size, const char** text, size_t* len);
DW add_rest(DW acc, const DW* args, uint32_t k, uint32_t n); // folds args[k..n) into acc
// assign.cpp: appends text to the string t in place (t is held by one place only).
void string_append(DW t, const char* add, size_t n);

// statics.cpp
// Method call on a static object (Math, console, Object, Number, Date, String).
DW call_static_method(uint32_t object, uint32_t name, DW* args, int n);
inline bool is_static_object(uint32_t name) {
  return name == NAME_MATH || name == NAME_CONSOLE || name == NAME_OBJECT || name == NAME_NUMBER ||
         name == NAME_DATE || name == NAME_STRING;
}

// Evaluates a statement whose value is not used.
inline void eval_discard(DW t) {
  if (dw_type(t) == T_NODE) {
    NodeRec* r = node_rec(t);
    if ((r->op == OP_POST_INC || r->op == OP_POST_DEC) && !eval_hooks_on) {
      cur_module = r->modflags & 0x7F;
      cur_position = r->pos & POSITION_MASK;
      post_step_discarded(r);
      return;
    }
  }
  value_discard(eval_node(t));
}

// Evaluates a second operand while the first is protected by a reference, so that code run by
// the second cannot destroy the first (the reference is dropped again, never destroying).
inline DW eval_holding(DW held, DW tree) {
  if (!tree_runs_code(tree)) return eval_node(tree);
  dw_ref(held);
  DW v = eval_node(tree);
  dw_unref(held);
  return v;
}

inline int32_t int_of(DW v) { return int_rec(v)->value; }

// Writes an Integer into a variable's slot: in place when the slot alone holds an Integer, else
// as a record of the variable's own (so that the next write is in place).
inline void variable_write_int(DW* slot, int32_t v) {
  DW old = *slot;
  if (dw_type(old) == T_INT && (*dw_rec(old) >> 4) == 1) {
    int_rec(old)->value = v;
    return;
  }
  *slot = make_int(v, 1);
  dw_release(old);
}
inline double float_of(DW v) { return float_rec(v)->value; }

// Error record fields.
const char* error_code(DW rec, size_t* len);
const char* error_message(DW rec, size_t* len);

// UTF-8 helpers.
inline size_t utf8_seq_len(uint8_t c) {
  if (c < 0x80) return 1;
  if (c >= 0xF0) return 4;
  if (c >= 0xE0) return 3;
  if (c >= 0xC0) return 2;
  return 1;
}
