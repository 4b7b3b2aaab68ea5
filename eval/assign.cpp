// Assignment through locations: =, the compound assignments and increment/decrement. A value held
// only by the place being written is updated in place; nothing else can observe it.
#include <cmath>
#include <cstdio>
#include <cstring>

#include "eval/ops.h"
#include "store/number_text.h"


// Only a name, a member or an element is a place; anything else (a call, a literal) leaves no
// location behind, whatever its evaluation read last.
static inline bool is_place(DW target) {
  if (dw_type(target) == T_CONST) return true;
  if (dw_type(target) != T_NODE) return false;
  unsigned op = node_rec(target)->op;
  return op == OP_MEMBER || op == OP_INDEX;
}

// Evaluates an assignment target with create_missing set and the location cleared.
static inline DW eval_target(DW target) {
  create_missing = true;
  last_location.kind = LOC_NONE;
  last_location_const = false;
  DW t = eval_node(target);
  create_missing = false;
  if (!is_place(target)) {
    last_location.kind = LOC_NONE;
    last_location_const = false;
  }
  return t;
}

// Whether the value t, just read from loc, is held by that place alone.
static inline DW* sole_holder(const Location& loc, DW t) {
  if (loc.kind == LOC_FIELD || loc.kind == LOC_NONE) return nullptr;
  unsigned ty = dw_type(t);
  if (ty - 1u >= 14u || dw_count(t) != 1) return nullptr;
  DW* slot;
  if (loc.kind == LOC_LOCAL) slot = &local_stack[loc.index].value;
  else if (loc.kind == LOC_GLOBAL) slot = &global_table[loc.index].value;
  else slot = location_slot(loc);
  return slot && *slot == t ? slot : nullptr;
}

static inline void hold_container(const Location& loc) {
  if (loc.kind == LOC_ELEMENT || loc.kind == LOC_PAIR) dw_ref(loc.container);
}
static inline void drop_container(const Location& loc) {
  if (loc.kind == LOC_ELEMENT || loc.kind == LOC_PAIR) dw_unref(loc.container);
}

// A number computed without a value is written into the target's own value when that place
// alone holds it and the type matches; otherwise it becomes a new value.
static DW assign_number(DW target, const Num& num) {
  if (dw_type(target) == T_CONST && target >= 5) {
    // A variable: its slot is at hand.
    DW old = lookup_variable(target);
    if (last_location_const) raise_eval_error(2320, "オペレーション不正");
    DW* slot = last_location.kind == LOC_LOCAL ? &local_stack[last_location.index].value
                                               : &global_table[last_location.index].value;
    unsigned t = dw_type(old);
    if ((t == T_INT || t == T_FLOAT) && (*dw_rec(old) >> 4) == 1) {
      if (t == T_INT && !num.isFloat) {
        int_rec(old)->value = num.i;
        return old;
      }
      if (t == T_FLOAT && num.isFloat) {
        float_rec(old)->value = num.d;
        return old;
      }
    }
    // A record of the variable's own: the next number written to it changes it in place.
    DW v = num.isFloat ? make_float(num.d, 1) : make_int(num.i, 1);
    *slot = v;
    dw_release(old);
    return v;
  }
  DW old = eval_target(target);
  if (last_location_const) raise_eval_error(2320, "オペレーション不正");
  const Location& loc = last_location;
  if (loc.kind != LOC_NONE && sole_holder(loc, old)) {
    unsigned t = dw_type(old);
    if (t == T_INT && !num.isFloat) {
      int_rec(old)->value = num.i;
      return old;
    }
    if (t == T_FLOAT && num.isFloat) {
      float_rec(old)->value = num.d;
      return old;
    }
  }
  value_discard(old);
  DW v = num_value(num);
  if (loc.kind != LOC_NONE) store_location(loc, v, 3);
  return v;
}

// s = s + e1 + e2 ...: the operands are evaluated (in order, each checked as the addition
// table would check it against a String), then their texts are appended to s in place when s
// alone holds its String, else written into a new string. Returns false (having run nothing
// but a read of s) when the statement is not of this form.
static bool append_assign(NodeRec* r, DW* out) {
  DW target = r->a1;
  if (dw_type(target) != T_CONST || target < 5 || dw_type(r->a2) != T_NODE || eval_hooks_on) return false;
  NodeRec* ar = node_rec(r->a2);
  if (ar->op != OP_ADD || ar->argc > 16 || rec_args(ar)[0] != target) return false;
  DW s = lookup_variable(target);
  if (dw_type(s) != T_STRING || dw_count(s) != 1) return false;
  cur_module = ar->modflags & 0x7F;
  cur_position = ar->pos & POSITION_MASK;
  uint32_t n = ar->argc;
  DW* args = rec_args(ar);
  DW vals[16];
  dw_ref(s);
  for (uint32_t k = 1; k < n; k++) {
    DW v = eval_node(args[k]);
    unsigned t = dw_type(v);
    if (t != T_INT && t != T_FLOAT && t != T_STRING && t != T_CONST) raise_eval_error(2240, "データの型不正(+)");
    vals[k] = dw_ref(v);
  }
  DW cur = lookup_variable(target);
  if (last_location_const) raise_eval_error(2320, "オペレーション不正");
  bool inPlace = cur == s && dw_count(s) == 2;
  for (uint32_t k = 1; k < n && inPlace; k++) inPlace = vals[k] != s;
  DW res = s;
  if (inPlace) {
    for (uint32_t k = 1; k < n; k++) {
      char buf[400];
      const char* t;
      size_t l;
      operand_text(vals[k], buf, sizeof buf, &t, &l);
      string_append(s, t, l);
    }
  } else {
    char storage[1024];
    TextBuf b;
    textbuf_init(&b, storage, sizeof storage);
    textbuf_append(&b, str_text(s), str_rec(s)->len);
    for (uint32_t k = 1; k < n; k++) {
      char buf[400];
      const char* t;
      size_t l;
      operand_text(vals[k], buf, sizeof buf, &t, &l);
      textbuf_append(&b, t, l);
    }
    res = make_string(b.data, b.len, 0);
    textbuf_free(&b);
    DW* slot = last_location.kind == LOC_LOCAL ? &local_stack[last_location.index].value
                                               : &global_table[last_location.index].value;
    *slot = dw_ref(res);
    dw_release(cur);
  }
  dw_unref(s);
  for (uint32_t k = 1; k < n; k++) dw_release(vals[k]);
  *out = res;
  return true;
}

DW op_assign(DW, NodeRec* r) {
  DW target = r->a1;
  DW appended;
  if (append_assign(r, &appended)) return appended;
  Num num;
  DW v = eval_num(r->a2, &num);
  if (v == NUM_DONE) return assign_number(target, num);
  if (dw_type(target) == T_CONST && target >= 5) {
    // A variable: nothing runs between reading its slot and writing it.
    DW old = lookup_variable(target);
    if (last_location_const) raise_eval_error(2320, "オペレーション不正");
    DW* slot = last_location.kind == LOC_LOCAL ? &local_stack[last_location.index].value
                                               : &global_table[last_location.index].value;
    *slot = dw_ref(v);
    dw_release(old);
    return v;
  }
  bool hold = dw_type(target) != T_CONST;
  if (hold) dw_ref(v);
  DW old = eval_target(target);
  if (old != v) value_discard(old);
  if (last_location_const) raise_eval_error(2320, "オペレーション不正");
  if (last_location.kind != LOC_NONE) store_location(last_location, v, 3);
  if (hold) dw_unref(v);
  return v;
}

// ---- += ----

// Appends text to the string t in place (t is held by one place only).
void string_append(DW t, const char* add, size_t n) {
  StrRec* s = str_rec(t);
  size_t len = s->len;
  if (len + n > s->cap) {
    size_t cap = (len + n) * 2 + 8;
    void* mem;
    DW text = area_new(cap + 4, &mem);
    s = str_rec(t);
    std::memcpy(mem, str_text(t), len);
    area_release(s->text);
    s->text = text;
    s->cap = static_cast<uint32_t>(cap);
  }
  char* p = str_text(t);
  std::memcpy(p + len, add, n);
  p[len + n] = 0;
  s->len = static_cast<uint32_t>(len + n);
}

// Text of an Integer, Float or String operand of +=.
static bool number_or_string_text(DW v, char* buf, size_t size, const char** text, size_t* len) {
  switch (dw_type(v)) {
    case T_INT: *len = int_text(int_of(v), buf); *text = buf; return true;
    case T_FLOAT: *len = static_cast<size_t>(number_text(float_of(v), buf, size)); *text = buf; return true;
    case T_STRING: *text = str_text(v); *len = str_rec(v)->len; return true;
    default: return false;
  }
}

DW op_add_assign(DW, NodeRec* r) {
  DW t = eval_target(r->a1);
  if (last_location_const) raise_eval_error(2245, "オペレーション不正(+=)");
  Location loc = last_location;
  if (loc.kind == LOC_NONE) raise_eval_error(2250, "オペレーション不正(+=)");
  DW v;
  if (tree_runs_code(r->a2)) {
    dw_ref(t);
    hold_container(loc);
    v = eval_node(r->a2);
    drop_container(loc);
    dw_unref(t);
  } else {
    v = eval_node(r->a2);
  }
  unsigned tt = dw_type(t), tv = dw_type(v);
  bool nt = tt == T_INT || tt == T_FLOAT, nv = tv == T_INT || tv == T_FLOAT;
  DW res;
  if (nt && nv) {
    DW* slot = sole_holder(loc, t);
    if (tt == T_INT && tv == T_INT) {
      int32_t x = static_cast<int32_t>(static_cast<uint32_t>(int_of(t)) + static_cast<uint32_t>(int_of(v)));
      if (slot) {
        int_rec(t)->value = x;
        res = t;
        goto done;
      }
      res = dw_ref(int_value(x));
    } else {
      double x = (tt == T_INT ? int_of(t) : float_of(t)) + (tv == T_INT ? int_of(v) : float_of(v));
      if (slot && tt == T_FLOAT) {
        float_rec(t)->value = x;
        res = t;
        goto done;
      }
      res = make_float(x, 1);
    }
  } else {
    char b1[400], b2[400];
    const char *t1, *t2;
    size_t l1, l2;
    if ((tt != T_STRING && tv != T_STRING) || !number_or_string_text(t, b1, sizeof b1, &t1, &l1) ||
        !number_or_string_text(v, b2, sizeof b2, &t2, &l2))
      raise_eval_error(2255, "オペレーション(+=)のデータ型不正");
    if (tt == T_STRING && v != t && sole_holder(loc, t)) {
      string_append(t, t2, l2);
      res = t;
      goto done;
    }
    res = make_string_concat(t1, t2, l1 + l2, 1);
  }
  store_location(loc, res, 2);
done:
  if (v != t && v != res) dw_discard(v);
  return res;
}

// ---- -= *= /= %= ----

static inline double arith_step(unsigned op, double a, double b) {
  switch (op) {
    case OP_SUB_ASSIGN: return a - b;
    case OP_MUL_ASSIGN: return a * b;
    case OP_DIV_ASSIGN:
      if (b == 0.0) raise_eval_error(2330, "オペレーション不正(０割)");
      return a / b;
    default: return a - b * std::floor(a / b);
  }
}

DW op_arith_assign(DW, NodeRec* r) {
  bool fl = false;
  DW v = eval_node(r->a2);
  double y = to_number(v, &fl);
  dw_discard(v);
  DW t = eval_target(r->a1);
  if (last_location_const) raise_eval_error(2315, "オペレーション不正");
  double x = to_number(t, &fl);
  double res = arith_step(r->op, x, y);
  Location loc = last_location;
  if (loc.kind == LOC_NONE) raise_eval_error(2317, "オペレーション不正");
  DW* slot = sole_holder(loc, t);
  if (fl) {
    if (slot && dw_type(t) == T_FLOAT) {
      float_rec(t)->value = res;
      return t;
    }
    DW nv = make_float(res, 1);
    store_location(loc, nv, 2);
    return nv;
  }
  int32_t iv = double_to_int32(res);
  if (slot && dw_type(t) == T_INT) {
    int_rec(t)->value = iv;
    return t;
  }
  DW nv = dw_ref(int_value(iv));
  store_location(loc, nv, 2);
  return nv;
}

// ---- &= |= ^= ----

DW op_bit_assign(DW, NodeRec* r) {
  DW v = eval_node(r->a2);
  if (dw_type(v) != T_INT) raise_eval_error(2285, "オペランド不正(非整数)");
  uint32_t y = static_cast<uint32_t>(int_of(v));
  dw_discard(v);
  DW t = eval_target(r->a1);
  if (last_location_const) raise_eval_error(2290, "オペレーション不正");
  if (dw_type(t) != T_INT) raise_eval_error(2295, "オペランド不正(非整数)");
  uint32_t x = static_cast<uint32_t>(int_of(t));
  int32_t res = static_cast<int32_t>(r->op == OP_AND_ASSIGN ? x & y : r->op == OP_OR_ASSIGN ? x | y : x ^ y);
  Location loc = last_location;
  if (loc.kind == LOC_NONE) raise_eval_error(2300, "オペレーション不正");
  if (sole_holder(loc, t)) {
    int_rec(t)->value = res;
    return t;
  }
  DW nv = dw_ref(int_value(res));
  store_location(loc, nv, 2);
  return nv;
}

// ---- ++ and -- ----

struct StepCodes {
  int constCode, typeCode;
  const char* message;
};
static constexpr StepCodes POST_INC_CODES = {2200, 2205, "オペレーション不正(++)"};
static constexpr StepCodes PRE_INC_CODES = {2210, 2215, "オペレーション不正(++)"};
static constexpr StepCodes POST_DEC_CODES = {2220, 2225, "オペレーション不正(--)"};
static constexpr StepCodes PRE_DEC_CODES = {2230, 2235, "オペレーション不正(--)"};

// Evaluates the target of ++/-- and checks it; returns the old value.
static DW step_target(DW target, const StepCodes& c) {
  last_location.kind = LOC_NONE;
  last_location_const = false;
  DW t = eval_node(target);
  if (!is_place(target)) {
    last_location.kind = LOC_NONE;
    last_location_const = false;
  }
  if (last_location_const) raise_eval_error(c.constCode, "%s", c.message);
  unsigned ty = dw_type(t);
  if (last_location.kind == LOC_NONE || (ty != T_INT && ty != T_FLOAT)) raise_eval_error(c.typeCode, "%s", c.message);
  return t;
}

// The stepped value with one reference.
static DW stepped(DW t, int delta) {
  if (dw_type(t) == T_INT)
    return dw_ref(int_value(static_cast<int32_t>(static_cast<uint32_t>(int_of(t)) + static_cast<uint32_t>(delta))));
  return make_float(float_of(t) + delta, 1);
}

static DW post_step(NodeRec* r, int delta, const StepCodes& c) {
  DW t = step_target(r->a1, c);
  Location loc = last_location;
  DW nv = stepped(t, delta);
  store_location(loc, nv, 0);
  dw_unref(t);
  return t;
}

static DW pre_step(NodeRec* r, int delta, const StepCodes& c) {
  DW t = step_target(r->a1, c);
  Location loc = last_location;
  if (sole_holder(loc, t)) {
    if (dw_type(t) == T_INT)
      int_rec(t)->value =
          static_cast<int32_t>(static_cast<uint32_t>(int_of(t)) + static_cast<uint32_t>(delta));
    else
      float_rec(t)->value = float_of(t) + delta;
    return t;
  }
  DW nv = stepped(t, delta);
  store_location(loc, nv, 2);
  return nv;
}

DW op_post_inc(DW, NodeRec* r) { return post_step(r, 1, POST_INC_CODES); }
DW op_post_dec(DW, NodeRec* r) { return post_step(r, -1, POST_DEC_CODES); }
DW op_pre_inc(DW, NodeRec* r) { return pre_step(r, 1, PRE_INC_CODES); }
DW op_pre_dec(DW, NodeRec* r) { return pre_step(r, -1, PRE_DEC_CODES); }

void post_step_discarded(NodeRec* r) {
  bool inc = r->op == OP_POST_INC;
  int delta = inc ? 1 : -1;
  if (dw_type(r->a1) == T_CONST && r->a1 >= 5) {
    // A variable: its slot is at hand.
    const StepCodes& c = inc ? POST_INC_CODES : POST_DEC_CODES;
    DW t = lookup_variable(r->a1);
    if (last_location_const) raise_eval_error(c.constCode, "%s", c.message);
    DW* slot = last_location.kind == LOC_LOCAL ? &local_stack[last_location.index].value
                                               : &global_table[last_location.index].value;
    if (dw_type(t) == T_INT) {
      variable_write_int(slot, static_cast<int32_t>(static_cast<uint32_t>(int_of(t)) + static_cast<uint32_t>(delta)));
      return;
    }
    if (dw_type(t) != T_FLOAT) raise_eval_error(c.typeCode, "%s", c.message);
    if ((*dw_rec(t) >> 4) == 1) {
      float_rec(t)->value = float_of(t) + delta;
      return;
    }
    *slot = make_float(float_of(t) + delta, 1);
    dw_release(t);
    return;
  }
  DW t = step_target(r->a1, inc ? POST_INC_CODES : POST_DEC_CODES);
  Location loc = last_location;
  if (sole_holder(loc, t)) {
    if (dw_type(t) == T_INT)
      int_rec(t)->value =
          static_cast<int32_t>(static_cast<uint32_t>(int_of(t)) + static_cast<uint32_t>(delta));
    else
      float_rec(t)->value = float_of(t) + delta;
    return;
  }
  store_location(loc, stepped(t, delta), 2);
}
