// Running the compiled form: functions called with numbers (and strings), and loops whose variables are
// resolved when they start. While the code runs no other code does, so the variables of a loop
// live in native cells and are written back when it stops. Whatever the code cannot give exactly
// as the tree does (a division by zero, an operand of the wrong type, a variable without a
// number, the native stack running low) hands the work back: a function's call is made again on
// the tree from its start (its run changed nothing anyone can see), a loop goes on on the tree
// from the statement where it stopped, with that statement's writes undone.
#include <alloca.h>

#include <cmath>
#include <cstddef>
#include <cstring>

#include "eval/compare.h"
#include "eval/compile_form.h"
#include "eval/ops.h"
#include "eval/plugins.h"
#include "store/number_text.h"

// Each operation must keep its own dispatch jump (threaded code): g++ would otherwise merge
// them into one shared indirect jump, which predicts badly.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC optimize("no-crossjumping", "no-gcse")
#endif

bool compiled_enabled = true;
uint32_t compiled_runs;
uint32_t compiled_catches;

namespace form {

namespace {

inline double as_double(Cell c) { return cell_is_int(c) ? cell_int(c) : cell_float(c); }
inline int32_t wrap_add(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}
inline bool truth(Cell c) {
  if (cell_is_int(c)) return cell_int(c) != 0;
  double d = cell_float(c);
  return std::isnan(d) || d != 0.0;
}

inline bool compare(unsigned op, Cell x, Cell y) {
  CompareOp c = static_cast<CompareOp>(op);
  return cell_is_int(x) && cell_is_int(y) ? compare_holds(cell_int(x), cell_int(y), c)
                                          : compare_holds(as_double(x), as_double(y), c);
}

// floor(x) without a library call (the compiler expands floor inline only in code it takes for
// hot, and the engine loads libm only when it must): exact for every double.
inline double floor_of(double x) {
  if (!(std::fabs(x) < 4503599627370496.0)) return x;   // NaN, infinities and integers from 2^52
  double t = static_cast<double>(static_cast<int64_t>(x));
  if (t > x) t -= 1.0;
  return t == 0.0 ? std::copysign(0.0, x) : t;
}

// One step of the double fold of - * / % ** (a zero divisor was excluded before).
inline double fold(unsigned op, double a, double b) {
  switch (op) {
    case OP_SUB: case OP_SUB_ASSIGN: return a - b;
    case OP_MUL: case OP_MUL_ASSIGN: return a * b;
    case OP_DIV: case OP_DIV_ASSIGN: return a / b;
    case OP_MOD: case OP_MOD_ASSIGN: return a - b * floor_of(a / b);
    default: return std::pow(a, b);
  }
}

// - * / % ** over n operands, as the tree's arithmetic folds them; false for a zero divisor.
// Inlined with a constant op, it takes no branch on it.
[[gnu::always_inline]] inline bool arith(unsigned op, const Cell* a, int n, Cell* out) {
  if (op == OP_DIV)
    for (int k = 1; k < n; k++)
      if (as_double(a[k]) == 0.0) return false;
  if (n == 2 && cell_is_int(a[0]) && cell_is_int(a[1])) {
    int32_t r;
    if (int_pair(op, cell_int(a[0]), cell_int(a[1]), &r)) {
      *out = int_cell(r);
      return true;
    }
  }
  bool fl = !cell_is_int(a[0]);
  double acc = as_double(a[0]);
  for (int k = 1; k < n; k++) {
    fl |= !cell_is_int(a[k]);
    acc = fold(op, acc, as_double(a[k]));
  }
  *out = fl ? float_cell(acc) : int_cell(double_to_int32(acc));
  return true;
}

// x op y for - * / % ** with the tree's rules: two Integers give the exact integer form where it
// agrees with the double fold, a Float among them the double fold; false for a zero divisor,
// which is the tree's to raise. Inlined with a constant op, it takes no branch on it.
[[gnu::always_inline]] inline bool arith2(unsigned op, Cell x, Cell y, Cell* out) {
  if (cell_is_int(x) && cell_is_int(y)) {
    int32_t r, b = cell_int(y);
    if (op == OP_DIV && b == 0) return false;
    if (int_pair(op, cell_int(x), b, &r)) *out = int_cell(r);
    else *out = int_cell(double_to_int32(fold(op, cell_int(x), b)));
    return true;
  }
  double b = as_double(y);
  if (op == OP_DIV && b == 0.0) return false;
  *out = float_cell(fold(op, as_double(x), b));
  return true;
}

inline Cell add(Cell x, Cell y) {
  if (cell_is_int(x) && cell_is_int(y)) return int_cell(wrap_add(cell_int(x), cell_int(y)));
  return float_cell(as_double(x) + as_double(y));
}

inline int32_t bit(unsigned op, int32_t x, int32_t y) {
  uint32_t a = static_cast<uint32_t>(x), b = static_cast<uint32_t>(y);
  if (op == OP_BIT_AND || op == OP_AND_ASSIGN) return static_cast<int32_t>(a & b);
  if (op == OP_BIT_OR || op == OP_OR_ASSIGN) return static_cast<int32_t>(a | b);
  return static_cast<int32_t>(a ^ b);
}

// A global's value as a cell: a number, an array, an object, or none.
inline Cell cell_of_global(DW v) {
  if (dw_type(v) == T_INT) return int_cell(int_of(v));
  if (dw_type(v) == T_ARRAY) return array_cell(v);
  if (dw_type(v) == T_OBJECT) return object_cell(v);
  if (dw_type(v) == T_STRING) return string_cell(v);
  if (dw_type(v) != T_FLOAT) return CELL_NONE;
  Cell c = float_cell(float_of(v));
  return cell_is_float(c) ? c : CELL_NONE;
}

// A string operand used up: a new one (count 0) is freed, a variable's stays.
inline void drop(Cell c) {
  if (cell_is_string(c)) value_discard(cell_string(c));
}

// The text of a number or string cell as + writes it.
inline void cell_text(Cell c, char* buf, const char** text, size_t* len) {
  if (cell_is_string(c)) {
    *text = str_text(cell_string(c));
    *len = str_rec(cell_string(c))->len;
  } else if (cell_is_int(c)) {
    *len = int_text(cell_int(c), buf);
    *text = buf;
  } else {
    *len = static_cast<size_t>(number_text(cell_float(c), buf, 400));
    *text = buf;
  }
}

inline bool number_or_string(Cell c) { return cell_is_number(c) || cell_is_string(c); }

// Comparisons of two strings as the tree's operators make them: == and the orderings by the
// bytes' order up to the first zero byte, === by length and every byte.
inline bool text_holds(Cell x, Cell y, unsigned op) {
  int c = std::strcmp(str_text(cell_string(x)), str_text(cell_string(y)));
  return compare_holds(c, 0, static_cast<CompareOp>(op));
}
inline bool strict_cells(Cell x, Cell y) {
  if (cell_is_string(x) && cell_is_string(y)) {
    DW a = cell_string(x), b = cell_string(y);
    uint32_t la = str_rec(a)->len;
    return la == str_rec(b)->len && std::memcmp(str_text(a), str_text(b), la) == 0;
  }
  if (cell_is_number(x) && cell_is_number(y))
    return cell_is_int(x) == cell_is_int(y) && (cell_is_int(x) ? x == y : cell_float(x) == cell_float(y));
  return x == y;   // another type on either side: the same value
}

// The value slot of member imm of an object, found first where it was found last; null when the
// object has no such member.
inline DW* member_slot_named(DW obj, uint32_t name, const Ins* in) {
  const auto* o = obj_rec(obj);
  uint32_t n = o->count;
  if (!n) return nullptr;
  DW* pairs = static_cast<DW*>(area_ptr(o->pairs));
  uint32_t h = in->hint;
  if (h < n && (pairs[2 * h] & NAME_MASK) == name) return pairs + 2 * h + 1;
  for (uint32_t i = 0; i < n; i++) {
    if ((pairs[2 * i] & NAME_MASK) == name) {
      in->hint = i;
      return pairs + 2 * i + 1;
    }
  }
  return nullptr;
}
inline DW* member_slot(DW obj, const Ins* in) { return member_slot_named(obj, static_cast<uint32_t>(in->imm), in); }

// a[y] where a is an object and y a string: the value slot of the member y names, or null (no
// such member, or another pair of types: the tree decides those).
__attribute__((noinline)) DW* key_slot(Cell a, Cell y, const Ins* in) {
  if (!cell_is_object(a) || !cell_is_string(y)) return nullptr;
  int32_t name = string_key_known(cell_string(y));
  return name < 0 ? nullptr : member_slot_named(cell_object(a), static_cast<uint32_t>(name), in);
}

// The slot a[y] writes: an element of an array in range, or an object's member named by a
// string; null where the tree grows, creates or decides.
inline DW* element_slot(Cell a, Cell y, const Ins* in) {
  if (cell_is_array(a) && cell_is_int(y) && cell_int(y) >= 0) {
    auto* ar = arr_rec(cell_array(a));
    uint32_t u = static_cast<uint32_t>(cell_int(y));
    return u < ar->count ? static_cast<DW*>(area_ptr(ar->elems)) + u : nullptr;
  }
  return key_slot(a, y, in);
}

// A stored value as a number cell, or CELL_NONE.
inline Cell number_of_value(DW e) {
  if (dw_type(e) == T_INT) return int_cell(int_of(e));
  if (dw_type(e) != T_FLOAT) return CELL_NONE;
  Cell v = float_cell(float_of(e));
  return cell_is_float(v) ? v : CELL_NONE;
}

// The element a[y]: false when a is no array or y no index inside it (the tree decides those).
inline bool element_at(Cell a, Cell y, DW* e) {
  if (!cell_is_array(a) || !cell_is_int(y) || cell_int(y) < 0) return false;
  const auto* ar = arr_rec(cell_array(a));
  uint32_t u = static_cast<uint32_t>(cell_int(y));
  if (u >= ar->count) return false;
  *e = static_cast<const DW*>(area_ptr(ar->elems))[u];
  return true;
}

// Writes a number into a member or element: in place when that place alone holds a number of
// the same type, else as a new value.
__attribute__((noinline)) void store_number_slow(DW* slot, Cell x) {
  DW old = *slot;
  unsigned t = dw_type(old);
  if (t == T_INT && cell_is_int(x) && (*dw_rec(old) >> 4) == 1) {
    int_rec(old)->value = cell_int(x);
  } else if (t == T_FLOAT && !cell_is_int(x) && (*dw_rec(old) >> 4) == 1) {
    float_rec(old)->value = cell_float(x);
  } else {
    DW v = cell_is_int(x) ? int_value(cell_int(x)) : make_float(cell_float(x), 0);
    dw_ref(v);
    *slot = v;
    dw_release(old);
  }
}

// The common case inline: a Float held by that place alone takes the new Float in place.
inline void store_number(DW* slot, Cell x) {
  DW old = *slot;
  if (dw_type(old) == T_FLOAT && !cell_is_int(x) && (*dw_rec(old) >> 4) == 1) {
    float_rec(old)->value = cell_float(x);
    return;
  }
  store_number_slow(slot, x);
}

// A place's value e aux= x for -= *= /= %= &= |= ^= (and += on numbers), as the tree's compound
// assignments compute them; false where the tree decides (another type, a zero divisor).
inline bool compound(unsigned aux, DW e, Cell x, Cell* r) {
  Cell m = number_of_value(e);
  if (m == CELL_NONE) return false;
  switch (aux) {
    case OP_ADD_ASSIGN: *r = add(m, x); break;
    case OP_AND_ASSIGN: case OP_OR_ASSIGN: case OP_XOR_ASSIGN:
      if (!cell_is_int(m) || !cell_is_int(x)) return false;
      *r = int_cell(bit(aux, cell_int(m), cell_int(x)));
      break;
    default: {
      if (aux == OP_DIV_ASSIGN && as_double(x) == 0.0) return false;
      double d = fold(aux, as_double(m), as_double(x));
      *r = cell_is_int(m) && cell_is_int(x) ? int_cell(double_to_int32(d)) : float_cell(d);
      break;
    }
  }
  return cell_is_number(*r);
}

// Math's functions over numbers as the library computes them; false where it gives NaN.
inline bool math(unsigned index, const Cell* a, int n, Cell* out) {
  Cell x = a[0];
  switch (index) {
    case 7: case 8: {   // max, min: the first argument holding the largest or smallest value
      Cell best = x;
      double bestValue = as_double(x);
      for (int i = 1; i < n; i++) {
        double v = as_double(a[i]);
        if (index == 7 ? v > bestValue : v < bestValue) {
          best = a[i];
          bestValue = v;
        }
      }
      *out = best;
      return true;
    }
    case 0:
      if (cell_is_int(x)) *out = int_cell(cell_int(x) >= 0 ? cell_int(x) : static_cast<int32_t>(0u - static_cast<uint32_t>(cell_int(x))));
      else *out = float_cell(std::fabs(cell_float(x)));
      return true;
    case 1: case 2: case 3: case 4: {
      if (cell_is_int(x)) {
        *out = x;
        return true;
      }
      double d = cell_float(x);
      d = index == 1 ? std::ceil(d) : index == 2 ? std::floor(d) : index == 3 ? std::trunc(d) : std::round(d);
      *out = int_cell(double_to_int32(d));
      return true;
    }
    default: {   // 6: pow
      Cell y = a[1];
      bool isFloat = !cell_is_int(x) || !cell_is_int(y);
      double dx = as_double(x), dy = as_double(y);
      if (dy == 0) *out = int_cell(1);
      else if (dx == 0) *out = int_cell(0);
      else if (dx < 0 && dy < 1) return false;
      else if (!isFloat && dy >= 1) *out = int_cell(double_to_int32(std::pow(dx, dy)));
      else *out = float_cell(std::pow(dx, dy));
      return cell_is_number(*out);
    }
  }
}

// The index in table of the slot whose value s points at.
inline int32_t slot_index(const DW* s, const VarSlot* table) {
  return static_cast<int32_t>(reinterpret_cast<const VarSlot*>(reinterpret_cast<const char*>(s) - offsetof(VarSlot, value)) - table);
}

// A variable's slot as an index: > 0 a local's, < 0 -1 - a global's.
inline int32_t slot_at(const DW* s) {
  int low = frame_base < 1 ? 1 : frame_base;
  if (local_top >= low && s >= &local_stack[low].value && s <= &local_stack[local_top].value)
    return slot_index(s, local_stack);
  return -1 - slot_index(s, global_table);
}

// The position the tree left: nothing the code runs after it overrides it.
const Ins TREE_POSITION{I_POS, 0, R_STACK, NO_NODE, 0, 0, 0, 0, 0, 0};

// Where the tree takes over after the statement that pc belongs to: the next statement's mark,
// else the condition.
inline LoopStop next_stop(const Form* f, int pc) {
  for (int i = 0; i < f->nmarks; i++)
    if (f->marks[i].pc > pc) return LoopStop{static_cast<LoopWhere>(f->marks[i].where), f->marks[i].index};
  return LoopStop{LOOP_AT_CONDITION, 0};
}

void write_variable(DW* slot, Cell c) {
  if (cell_is_string(c)) return;   // a string is written into its variable at once
  if (cell_is_int(c)) {
    variable_write_int(slot, cell_int(c));
    return;
  }
  DW old = *slot;
  if (dw_type(old) == T_FLOAT && (*dw_rec(old) >> 4) == 1) {
    float_rec(old)->value = cell_float(c);
    return;
  }
  *slot = make_float(cell_float(c), 1);
  dw_release(old);
}

// A literal's new object on the stack (*made: it); false, with nothing made, when a variable it
// shares holds neither a number nor an object. The members' values come in the literal's order
// (a computed number becomes a new value), then the object takes a reference on each: as the
// tree builds it.
__attribute__((noinline)) bool build_object(const Form* f, const Ins* in, const Cell* cells, const DW* argsrc,
                                            Cell** spp, DW* made) {
  DW lit = static_cast<DW>(in->imm);
  const DW* names = lit ? static_cast<const DW*>(area_ptr(obj_rec(lit)->pairs)) : nullptr;
  const uint16_t* plan = f->plan + in->rcell;
  unsigned n = in->aux, pushed = 0;
  for (unsigned i = 0; i < n; i++) {
    pushed += (plan[i] >> 8) == P_NUMBER;
    if ((plan[i] >> 8) == P_CELL && !cell_is_number(cells[plan[i] & 0xFF]) && !cell_is_object(cells[plan[i] & 0xFF]))
      return false;
  }
  Cell* from = *spp - pushed;
  DW pairs[32];
  for (unsigned i = 0; i < n; i++) {
    pairs[2 * i] = names ? names[2 * i] : f->ctorNames[i];
    DW v;
    switch (plan[i] >> 8) {
      case P_CONSTANT: v = names ? names[2 * i + 1] : f->ctorConsts[i]; break;
      case P_NUMBER: {
        Cell x = *from++;
        v = cell_is_int(x) ? int_value(cell_int(x)) : make_float(cell_float(x), 0);
        break;
      }
      default: {
        unsigned c = plan[i] & 0xFF;
        Cell x = cells[c];
        if (cell_is_object(x)) v = cell_object(x);
        else if (argsrc && static_cast<int>(c) < f->nparams && !f->written[c] && argsrc[c]) v = argsrc[c];
        else v = cell_is_int(x) ? int_value(cell_int(x)) : make_float(cell_float(x), 0);
        break;
      }
    }
    pairs[2 * i + 1] = v;
  }
  Cell* sp = *spp - pushed;
  *made = make_object(pairs, n);
  *sp++ = object_cell(*made);
  *spp = sp;
  return true;
}

// An inner loop statement run by the tree: the variables get what the code wrote, the tree runs
// the statement (and may move the variable tables: their slots are found again by index), then
// the cells are read again. False when the tree left the frame changed or a return pending.
__attribute__((noinline)) bool run_subloop(const Form* f, const Ins* in, Cell* cells, DW** slots, uint64_t* dirty) {
  for (int c = 0; c < f->ncells; c++)
    if (*dirty >> c & 1) write_variable(slots[c], cells[c]);
  *dirty = 0;
  int32_t at[MAX_CELLS];
  for (int c = 0; c < f->ncells; c++) at[c] = slot_at(slots[c]);
  int base = frame_base, top = local_top;
  eval_discard(static_cast<DW>(in->imm));
  if (frame_base != base || local_top != top || returning) return false;
  for (int c = 0; c < f->ncells; c++) {
    slots[c] = at[c] > 0 ? &local_stack[at[c]].value : &global_table[-1 - at[c]].value;
    cells[c] = cell_of_global(*slots[c]);
  }
  return true;
}

// a.push(v) for the array in the instruction's cell; false when the cell holds no array.
__attribute__((noinline)) bool push_value(const Ins* in, Cell* cells, DW** slots, uint64_t* dirty, Cell** spp) {
  Cell a = cells[in->cell];
  if (!cell_is_array(a)) return false;
  DW v;
  if (in->aux == 1) {
    v = static_cast<DW>(in->k);
  } else if (in->aux == 2) {
    // The variable's value itself: a number the code changed is written into it first.
    unsigned c = in->rcell;
    if (*dirty >> c & 1) {
      write_variable(slots[c], cells[c]);
      *dirty &= ~(uint64_t(1) << c);
    }
    v = *slots[c];
  } else {
    Cell x = *--*spp;
    v = cell_is_int(x) ? int_value(cell_int(x)) : make_float(cell_float(x), 0);
  }
  dw_ref(v);
  DW res = array_method(cell_array(a), static_cast<uint32_t>(in->imm), &v, 1);
  if (res == v) dw_unref(v);
  else dw_release(v);
  value_discard(res);
  return true;
}

// A call whose arguments include values read from places: those are handed over themselves.
__attribute__((noinline)) RunEnd call_sourced(const Ins* in, const Cell* args, const DW* at, Cell* r, const Ins** node) {
  DW argsrcs[32];
  for (unsigned i = 0; i < in->aux; i++) argsrcs[i] = in->k >> i & 1 ? at[i] : 0;
  return run_function(&forms[in->imm], args, argsrcs, r, node);
}

// a == b and the other comparisons, a === b, a !== b and a + b where a string may be among
// them: a (sp[-2]) takes the result, b (sp[-1]) is popped by the caller; false (nothing done)
// for a comparison of a string with another type, or a + of a type without a text.
__attribute__((noinline)) bool string_pair(const Ins* in, Cell* sp) {
  Cell x = sp[-2], y = sp[-1], r;
  if (in->op == I_STR_CMP) {
    bool holds;
    if (cell_is_string(x) && cell_is_string(y)) holds = text_holds(x, y, in->aux);
    else if (cell_is_number(x) && cell_is_number(y)) holds = compare(in->aux, x, y);
    else return false;   // mixed types: the tree's rules
    r = int_cell(holds);
  } else if (in->op == I_STR_STRICT) {
    r = int_cell(strict_cells(x, y) != (in->aux != 0));
  } else if (cell_is_number(x) && cell_is_number(y)) {
    r = add(x, y);
  } else {
    if (!number_or_string(x) || !number_or_string(y)) return false;
    char b1[400], b2[400];
    const char *t1, *t2;
    size_t l1, l2;
    cell_text(x, b1, &t1, &l1);
    cell_text(y, b2, &t2, &l2);
    r = string_cell(make_string_concat(t1, t2, l1 + l2, 0));
  }
  drop(x);
  drop(y);
  sp[-2] = r;
  return true;
}

// The truth of the number or string on top, as 1 or 0; false for another type.
__attribute__((noinline)) bool string_truth(Cell* sp) {
  Cell x = sp[-1];
  if (cell_is_string(x)) {
    sp[-1] = int_cell(str_rec(cell_string(x))->len != 0);
    drop(x);
    return true;
  }
  if (!cell_is_number(x)) return false;
  sp[-1] = int_cell(truth(x));
  return true;
}

// A switch's discriminant === a case's literal: the discriminant is used up when it matches.
__attribute__((noinline)) bool case_matches(Cell x, Cell k) {
  if (!strict_cells(x, k)) return false;
  drop(x);
  return true;
}

__attribute__((noinline)) void drop_cold(Cell c) { drop(c); }
__attribute__((noinline)) void drop_stack(const Cell* from, const Cell* to) {
  for (; from < to; from++) drop(*from);
}

// x = v: a number into the cell, a string (in a loop) into the variable at once, as the tree's
// assignment stores it.
__attribute__((noinline)) bool store_any(const Ins* in, Cell* cells, DW** slots, uint64_t* dirty, Cell v) {
  if (cell_is_number(v)) {
    cells[in->cell] = v;
    if (slots) *dirty |= uint64_t(1) << in->cell;
    return true;
  }
  if (!slots || !cell_is_string(v)) return false;
  DW* slot = slots[in->cell];
  DW old = *slot;
  *slot = dw_ref(cell_string(v));
  dw_release(old);
  cells[in->cell] = v;
  *dirty &= ~(uint64_t(1) << in->cell);
  return true;
}

// An index argument as the String methods take it: an Integer as it is, anything else 0 (a
// DW that is no Integer stands for the others).
inline DW index_arg(Cell c) { return cell_is_int(c) ? int_value(cell_int(c)) : DW_UNDEFINED; }

// s.charAt(i), s.charCodeAt(i), s.indexOf(t[, from]), s.substring(a[, b]) on the imm arguments
// on the stack, by the library's own operations; false (the arguments still on the stack) where
// the tree would give what no cell holds or raise.
__attribute__((noinline)) Cell* string_call(const Ins* in, DW s, Cell* sp) {
  Cell* a = sp - in->imm;
  Cell r;
  switch (in->aux) {
    case S_CHAR_AT:
      r = string_cell(str_char_at_index(s, cell_is_int(a[0]) ? cell_int(a[0]) : 0));
      break;
    case S_CHAR_CODE_AT: {
      int32_t u = str_char_code_at_index(s, cell_is_int(a[0]) ? cell_int(a[0]) : 0);
      if (u < 0) return nullptr;   // NaN
      r = int_cell(u);
      break;
    }
    case S_INDEX_OF: {
      if (!cell_is_string(a[0]) || (in->imm == 2 && !cell_is_int(a[1]))) return nullptr;
      DW args[2] = {cell_string(a[0]), in->imm == 2 ? int_value(cell_int(a[1])) : DW_UNDEFINED};
      DW v = str_index_of(s, args, in->imm);
      r = int_cell(int_of(v));
      value_discard(v);
      value_discard(args[1]);
      drop(a[0]);
      break;
    }
    default: {   // substring
      DW args[2] = {index_arg(a[0]), in->imm == 2 ? index_arg(a[1]) : DW_UNDEFINED};
      r = string_cell(str_substring(s, args, in->imm));
      value_discard(args[0]);
      value_discard(args[1]);
      break;
    }
  }
  *a = r;
  return a + 1;
}

// x += v (aux 1) and x = x + v1 + ... (aux n) for a string variable: the texts are appended in
// place when the variable alone holds its string and no operand is that string, else they make
// a new string for the variable (as the tree's assignments do).
__attribute__((noinline)) Cell* append_to(const Ins* in, Cell* cells, DW** slots, Cell* sp) {
  Cell x = cells[in->cell];
  unsigned n = in->aux;
  Cell* v = sp - n;
  DW* slot = slots[in->cell];
  if (!cell_is_string(x) || *slot != cell_string(x)) return nullptr;
  DW t = cell_string(x);
  bool inPlace = dw_count(t) == 1;
  for (unsigned k = 0; k < n; k++) {
    if (!number_or_string(v[k])) return nullptr;
    if (v[k] == x) inPlace = false;
  }
  char buf[400];
  const char* text;
  size_t len;
  if (inPlace) {
    for (unsigned k = 0; k < n; k++) {
      cell_text(v[k], buf, &text, &len);
      string_append(t, text, len);
      drop(v[k]);
    }
  } else {
    char storage[1024];
    TextBuf b;
    textbuf_init(&b, storage, sizeof storage);
    textbuf_append(&b, str_text(t), str_rec(t)->len);
    for (unsigned k = 0; k < n; k++) {
      cell_text(v[k], buf, &text, &len);
      textbuf_append(&b, text, len);
    }
    DW res = make_string(b.data, b.len, 1);
    textbuf_free(&b);
    for (unsigned k = 0; k < n; k++) drop(v[k]);
    *slot = res;
    cells[in->cell] = string_cell(res);
    dw_release(t);
  }
  return v;
}

// ---- library methods through their rows ----

// A cell as the value a method is given: a number becomes a new value, a string, an array or an
// object is its handle.
inline DW value_of_cell(Cell c) {
  if (cell_is_number(c)) return cell_is_int(c) ? int_value(cell_int(c)) : make_float(cell_float(c), 0);
  return static_cast<DW>(c);
}

// I_METHOD: the row that the receiver's type picks runs on the arguments' values, each held (as
// the receiver) while it runs, as the tree's call holds them; the result goes where aux says.
// False where the code cannot go on: before the row runs (no row for this receiver, which the
// tree raises; a row that changes what it is given where that may not run), or after a row that
// changed nothing gave what no cell takes. A raise in the row carries the position of the last
// node the tree would have entered (node).
__attribute__((noinline)) bool lib_method(const Ins* in, Cell* cells, DW** slots, uint64_t* dirty, Cell** spp,
                                          const Ins* node) {
  Cell* sp = *spp;
  unsigned n = static_cast<unsigned>(in->imm);
  bool isStatic = in->aux & LF_STATIC, popped = !isStatic && in->right != R_CELL;
  Cell* a = sp - n - (popped ? 1 : 0);
  const MethodRow* row;
  DW recv;
  if (isStatic) {
    row = &lib_static_table(static_cast<unsigned>(in->k >> 24 & 0xFF))->rows[(in->k & 0xFF) - 1];
    recv = static_cast<DW>(in->k >> 32);
  } else {
    Cell rc = popped ? sp[-1] : cells[in->rcell];
    unsigned idx;
    const MethodTable* t;
    if (cell_is_string(rc)) {
      idx = in->k & 0xFF;
      t = &string_methods;
    } else if (cell_is_array(rc)) {
      idx = in->k >> 8 & 0xFF;
      t = &array_methods;
    } else {
      return false;   // another receiver: the tree's
    }
    if (!idx) return false;
    row = &t->rows[idx - 1];
    recv = static_cast<DW>(rc);
  }
  if (!(row->traits & ROW_KEEPS) && !(in->aux & LF_CHANGES)) return false;
  DW args[16];
  for (unsigned i = 0; i < n; i++) args[i] = dw_ref(value_of_cell(a[i]));
  if (!isStatic) dw_ref(recv);
  if (node && node->mod != NO_NODE) {
    cur_module = node->mod;
    cur_position = node->pos;
  }
  DW res = row->run(recv, args, static_cast<int>(n));
  for (unsigned i = 0; i < n; i++) {
    if (args[i] == res) dw_unref(args[i]);
    else dw_release(args[i]);
  }
  if (!isStatic) {
    dw_unref(recv);
    if (popped && recv != res) value_discard(recv);   // a new receiver is used up
  }
  *spp = a;
  switch (in->aux & LM_MASK) {
    case LM_DISCARD:
      value_discard(res);
      return true;
    case LM_NUMBER: {
      Cell v = number_of_value(res);
      value_discard(res);
      if (v == CELL_NONE) return false;
      *a = v;
      *spp = a + 1;
      return true;
    }
    case LM_ANY: {
      Cell v = number_of_value(res);
      if (v != CELL_NONE) {
        value_discard(res);
      } else if (dw_type(res) == T_STRING) {
        v = string_cell(res);   // new (its consumer frees it) or shared
      } else {
        value_discard(res);
        return false;
      }
      *a = v;
      *spp = a + 1;
      return true;
    }
    default: {   // LM_STORE: the variable takes the result itself, as the tree's assignment does
      DW* slot = slots[in->cell];
      DW old = *slot;
      *slot = dw_ref(res);
      dw_release(old);
      cells[in->cell] = cell_of_global(res);
      *dirty &= ~(uint64_t(1) << in->cell);
      return true;
    }
  }
}

// The catch clause that takes a throw from the instruction at pc (the innermost: listed first).
inline const Landing* landing_of(const Form* f, int pc) {
  for (int i = 0; i < f->nlandings; i++)
    if (pc >= f->landings[i].from && pc < f->landings[i].to) return &f->landings[i];
  return nullptr;
}

constexpr ptrdiff_t STACK_MARGIN = 16 * 1024;

// An inner loop compiled into its outer loop's code that handed back: the tree runs the inner
// loop statement again, and its first compiled run gives back the values its inits overwrote
// and tells it where to go on (see Inner).
struct Resume {
  const Inner* inner;   // null: none pending
  LoopStop stop;
  int n;
  int32_t at[8];
  DW vals[8];
};
Resume resume;

// The interpreter of both kinds of form. A function returns RUN_VALUE/RUN_UNDEFINED, RUN_THROW
// or RUN_ABANDON; a loop returns RUN_VALUE when it ended and RUN_ABANDON when it handed back, with
// *stop set in both cases. Dispatch is threaded: each operation jumps to the next one's code.
template <bool LOOP>
RunEnd exec(const Form* f, Cell* cells, DW** slots, const DW* argsrc, Cell* result, uint64_t* dirty,
            LoopStop* stop, const Ins** last) {
  static const void* const labels[I_COUNT] = {
      &&L_LOAD, &&L_CONST, &&L_ADD, &&L_ARITH2, &&L_ARITH, &&L_BIT_NOT, &&L_SHIFT,
      &&L_CMP, &&L_CMP_JFALSE, &&L_CMP_JTRUE, &&L_STRICT, &&L_NOT, &&L_JUMP, &&L_JFALSE, &&L_JTRUE,
      &&L_STORE, &&L_ADD_TO, &&L_ARITH_TO, &&L_BIT_TO, &&L_STEP, &&L_CALL, &&L_SNAP, &&L_RETURN,
      &&L_RETURN_UNDEFINED, &&L_END, &&L_GLOBAL, &&L_INDEX, &&L_LENGTH, &&L_INDEX_STORE, &&L_POS,
      &&L_LOAD_OBJ, &&L_MEMBER, &&L_INDEX_VALUE, &&L_STORE_VALUE, &&L_MEMBER_STORE, &&L_MEMBER_TO, &&L_MATH,
      &&L_LOAD_VALUE, &&L_OBJECT, &&L_CASE, &&L_SUBLOOP, &&L_PUSH, &&L_CMP_CELL_JFALSE,
      &&L_CMP_CELL_JTRUE, &&L_INDEX_TRUTH, &&L_ROW, &&L_SUB2, &&L_MUL2, &&L_DIV2, &&L_MOD2,
      &&L_SUB2K, &&L_MUL2K, &&L_DIV2K, &&L_MOD2K, &&L_SUB2C, &&L_MUL2C, &&L_DIV2C, &&L_MOD2C,
      &&L_SUBN, &&L_MULN, &&L_AND2, &&L_OR2, &&L_XOR2, &&L_LOAD_ANY, &&L_STR_CMP, &&L_STR_STRICT,
      &&L_STR_TRUTH, &&L_CONCAT, &&L_STR_CALL, &&L_CASE_TOP, &&L_DROP, &&L_STORE_ANY, &&L_APPEND,
      &&L_LENGTH_TOP, &&L_LOAD_ARG, &&L_METHOD, &&L_THROW, &&L_LOAD_SOURCE, &&L_CTOR, &&L_INDEX_TO};
  static_assert(I_COUNT == 80, "one label per operation");
  Cell stack[MAX_STACK];
  Cell* sp = stack;
  const Ins* const code = f->code;
  const Ins* in = code;
  // Loops: the cells as they were when a statement that may write more than once began.
  Cell* snap = nullptr;
  uint64_t snapDirty = 0;
  if (LOOP) snap = static_cast<Cell*>(alloca(sizeof(Cell) * static_cast<size_t>(f->ncells + 1)));
  uint64_t dirt = LOOP ? *dirty : 0;
  // Loops: the values that writes behind a logging snapshot replaced, each with the reference its
  // place held. A hand-back in that statement puts them back; the next snapshot, the loop's end
  // and anything the tree runs meanwhile release them.
  struct Replaced {
    DW* place;
    DW old;
  };
  Replaced log[LOG_MAX];
  int nlog = 0;
  bool logging = false;
  auto commit = [&] {
    for (int k = 0; k < nlog; k++) dw_release(log[k].old);
    nlog = 0;
  };
  Cell y;
  DW source = 0;   // the value read last by I_MEMBER/I_INDEX_VALUE for I_STORE_VALUE
  DW srcs[MAX_STACK];   // per stack entry: the value it was read from (valid where I_CALL's k says)
  // The instruction naming the last node the tree would have entered.
  const Ins* node = nullptr;
#define DISPATCH                       \
  do {                                 \
    if (in->mod != NO_NODE) node = in; \
    goto *labels[in->op];              \
  } while (0)
#define NEXT     \
  do {           \
    ++in;        \
    DISPATCH;    \
  } while (0)
#define JUMP_TO(t)       \
  do {                   \
    in = code + (t);     \
    DISPATCH;            \
  } while (0)
// The written cells are kept in a register and stored through dirty only where code outside
// reads them, and at every exit.
#define DIRTY(c) if (LOOP) dirt |= uint64_t(1) << (c)
// The right operand b: popped, read from its cell (a cell without a number hands back) or given.
#define RIGHT()                                               \
  if (in->right == R_STACK) y = *--sp;                        \
  else if (in->right == R_CONST) y = in->k;                   \
  else if (!cell_is_number(y = cells[in->rcell])) goto hand_back;
// b as an index or a member key: a cell folded in may also hold a string (element_at and
// key_slot check what they take).
#define RIGHT_KEY()                                           \
  if (in->right == R_STACK) y = *--sp;                        \
  else if (in->right == R_CONST) y = in->k;                   \
  else y = cells[in->rcell];
// b of a string operation, a number or a string, on top of the stack (a folded one is pushed)
// until the operation is done, so that a hand-back frees what is new.
#define RIGHT_ANY()                                         \
  if (in->right == R_STACK) {                               \
    y = sp[-1];                                             \
  } else {                                                  \
    y = in->right == R_CONST ? in->k : cells[in->rcell];    \
    if (!number_or_string(y)) goto hand_back;               \
    *sp++ = y;                                              \
  }
  DISPATCH;
L_LOAD: {
  Cell c = cells[in->cell];
  if (__builtin_expect(!cell_is_number(c), 0)) goto hand_back;
  *sp++ = c;
  NEXT;
}
L_CONST:
  *sp++ = in->k;
  NEXT;
L_ADD:
  RIGHT();
  sp[-1] = add(sp[-1], y);
  NEXT;
L_ARITH2:
  RIGHT();
  if (!arith2(in->aux, sp[-1], y, &sp[-1])) goto hand_back;
  NEXT;
#define PAIR(opc)                                      \
  if (!arith2(opc, sp[-1], y, &sp[-1])) goto hand_back; \
  NEXT
#define FROM_CELL \
  if (!cell_is_number(y = cells[in->rcell])) goto hand_back
L_SUB2: y = *--sp; PAIR(OP_SUB);
L_MUL2: y = *--sp; PAIR(OP_MUL);
L_DIV2: y = *--sp; PAIR(OP_DIV);
L_MOD2: y = *--sp; PAIR(OP_MOD);
L_SUB2K: y = in->k; PAIR(OP_SUB);
L_MUL2K: y = in->k; PAIR(OP_MUL);
L_DIV2K: y = in->k; PAIR(OP_DIV);
L_MOD2K: y = in->k; PAIR(OP_MOD);
L_SUB2C: FROM_CELL; PAIR(OP_SUB);
L_MUL2C: FROM_CELL; PAIR(OP_MUL);
L_DIV2C: FROM_CELL; PAIR(OP_DIV);
L_MOD2C: FROM_CELL; PAIR(OP_MOD);
#undef PAIR
#undef FROM_CELL
#define CHAIN(opc)                                  \
  sp -= in->imm;                                    \
  if (!arith(opc, sp, in->imm, sp)) goto hand_back; \
  sp++;                                             \
  NEXT
L_ARITH: CHAIN(in->aux);
L_SUBN: CHAIN(OP_SUB);
L_MULN: CHAIN(OP_MUL);
#undef CHAIN
#define BITS(expr)                                                   \
  RIGHT();                                                           \
  if (!cell_is_int(sp[-1]) || !cell_is_int(y)) goto hand_back;       \
  sp[-1] = int_cell(static_cast<int32_t>(static_cast<uint32_t>(cell_int(sp[-1])) expr static_cast<uint32_t>(cell_int(y)))); \
  NEXT
L_AND2: BITS(&);
L_OR2: BITS(|);
L_XOR2: BITS(^);
#undef BITS
L_BIT_NOT:
  if (!cell_is_int(sp[-1])) goto hand_back;
  sp[-1] = int_cell(~cell_int(sp[-1]));
  NEXT;
L_SHIFT: {
  RIGHT();
  if (!cell_is_int(sp[-1]) || !cell_is_int(y) || cell_int(y) < 0) goto hand_back;
  int32_t c = cell_int(y);
  if (c == 0) NEXT;
  uint32_t x = static_cast<uint32_t>(cell_int(sp[-1])), r;
  if (in->aux == OP_SHL) r = x << (c & 31);
  else if (in->aux == OP_SHR) r = static_cast<uint32_t>(static_cast<int32_t>(x) >> (c & 31));
  else r = (x >> 1) >> ((c - 1) & 31);
  sp[-1] = int_cell(static_cast<int32_t>(r));
  NEXT;
}
L_CMP:
  RIGHT();
  sp[-1] = int_cell(compare(in->aux, sp[-1], y));
  NEXT;
L_CMP_JFALSE:
  RIGHT();
  if (!compare(in->aux, *--sp, y)) JUMP_TO(in->imm);
  NEXT;
L_CMP_JTRUE:
  RIGHT();
  if (compare(in->aux, *--sp, y)) JUMP_TO(in->imm);
  NEXT;
L_CMP_CELL_JFALSE: {
  Cell x = cells[in->cell];
  if (__builtin_expect(!cell_is_number(x), 0)) goto hand_back;
  RIGHT();
  if (!compare(in->aux, x, y)) JUMP_TO(in->imm);
  NEXT;
}
L_CMP_CELL_JTRUE: {
  Cell x = cells[in->cell];
  if (__builtin_expect(!cell_is_number(x), 0)) goto hand_back;
  RIGHT();
  if (compare(in->aux, x, y)) JUMP_TO(in->imm);
  NEXT;
}
L_STRICT: {
  RIGHT();
  Cell x = sp[-1];
  bool eq = cell_is_int(x) == cell_is_int(y) && (cell_is_int(x) ? x == y : cell_float(x) == cell_float(y));
  sp[-1] = int_cell(eq != (in->aux != 0));
  NEXT;
}
L_NOT:
  sp[-1] = int_cell(!truth(sp[-1]));
  NEXT;
L_JUMP:
  JUMP_TO(in->imm);
L_JFALSE:
  if (!truth(*--sp)) JUMP_TO(in->imm);
  NEXT;
L_JTRUE:
  if (truth(*--sp)) JUMP_TO(in->imm);
  NEXT;
L_STORE:
  RIGHT();
  cells[in->cell] = y;
  DIRTY(in->cell);
  NEXT;
L_ADD_TO: {
  Cell c = cells[in->cell];
  if (!cell_is_number(c)) goto hand_back;
  RIGHT();
  cells[in->cell] = add(c, y);
  DIRTY(in->cell);
  NEXT;
}
L_ARITH_TO: {
  Cell c = cells[in->cell];
  if (!cell_is_number(c)) goto hand_back;
  RIGHT();
  if (in->aux == OP_DIV_ASSIGN && as_double(y) == 0.0) goto hand_back;
  double r = fold(in->aux, as_double(c), as_double(y));
  cells[in->cell] = cell_is_int(c) && cell_is_int(y) ? int_cell(double_to_int32(r)) : float_cell(r);
  DIRTY(in->cell);
  NEXT;
}
L_BIT_TO: {
  Cell c = cells[in->cell];
  if (!cell_is_int(c)) goto hand_back;
  RIGHT();
  if (!cell_is_int(y)) goto hand_back;
  cells[in->cell] = int_cell(bit(in->aux, cell_int(c), cell_int(y)));
  DIRTY(in->cell);
  NEXT;
}
L_STEP: {
  Cell c = cells[in->cell];
  if (cell_is_int(c)) cells[in->cell] = int_cell(wrap_add(cell_int(c), in->imm));
  else if (cell_is_number(c)) cells[in->cell] = float_cell(cell_float(c) + in->imm);
  else goto hand_back;
  DIRTY(in->cell);
  NEXT;
}
L_CALL: {
  sp -= in->aux;
  if (LOOP) *dirty = dirt;   // a raise in the callee writes the variables back
  Cell r;
  const Ins* calleeNode = nullptr;
  RunEnd e = in->k ? call_sourced(in, sp, srcs + (sp - stack), &r, &calleeNode)
                   : run_function(&forms[in->imm], sp, nullptr, &r, &calleeNode);
  if (__builtin_expect(e >= RUN_ABANDON, 0)) {
    if (e == RUN_ABANDON) goto hand_back;
    if (calleeNode) node = calleeNode;   // the tree left the callee's throw last
    y = r;
    goto thrown;
  }
  if (e == RUN_UNDEFINED && !in->cell) goto hand_back;
  if (calleeNode) node = calleeNode;
  if (!in->cell) *sp++ = r;
  if (in->rcell) source = cell_is_object(r) ? cell_object(r) : 0;   // a number result is new
  NEXT;
}
L_SNAP:
  if (LOOP) {
    commit();
    logging = in->aux != 0;
    std::memcpy(snap, cells, sizeof(Cell) * static_cast<size_t>(f->ncells));
    snapDirty = dirt;
  }
  NEXT;
L_GLOBAL: {
  Cell c = cell_of_global(global_table[in->imm].value);
  if (!cell_is_number(c)) goto hand_back;
  *sp++ = c;
  NEXT;
}
L_INDEX: {
  Cell a = in->aux == 1 ? cell_of_global(global_table[in->imm].value) : cells[in->cell];
  RIGHT_KEY();
  if (in->aux == 2) a = *--sp;
  DW e;
  if (!element_at(a, y, &e)) {
    const DW* p = key_slot(a, y, in);
    if (!p) goto hand_back;
    e = *p;
  }
  Cell v;
  if (dw_type(e) == T_INT) v = int_cell(int_of(e));
  else if (dw_type(e) != T_FLOAT || !cell_is_float(v = float_cell(float_of(e)))) goto hand_back;
  *sp++ = v;
  NEXT;
}
L_INDEX_TRUTH: {
  Cell a = in->aux == 1 ? cell_of_global(global_table[in->imm].value) : cells[in->cell];
  RIGHT();
  if (in->aux == 2) a = *--sp;
  DW e;
  if (!element_at(a, y, &e)) goto hand_back;
  Cell v;
  if (e == DW_TRUE || e == DW_FALSE) v = int_cell(e == DW_TRUE);
  else if (dw_type(e) == T_INT) v = int_cell(int_of(e));
  else if (dw_type(e) != T_FLOAT || !cell_is_float(v = float_cell(float_of(e)))) goto hand_back;
  *sp++ = v;
  NEXT;
}
L_ROW: {
  Cell a = in->aux ? cell_of_global(global_table[in->imm].value) : cells[in->cell];
  RIGHT();
  DW e;
  if (!element_at(a, y, &e) || dw_type(e) != T_ARRAY) goto hand_back;
  *sp++ = array_cell(e);
  NEXT;
}
L_LENGTH: {
  Cell a = in->aux ? cell_of_global(global_table[in->imm].value) : cells[in->cell];
  if (cell_is_array(a)) *sp++ = int_cell(static_cast<int32_t>(arr_rec(cell_array(a))->count));
  else if (cell_is_string(a)) *sp++ = int_cell(static_cast<int32_t>(str_rec(cell_string(a))->len));
  else goto hand_back;
  NEXT;
}
L_INDEX_STORE: {
  Cell a = cells[in->cell];
  RIGHT_KEY();
  DW* slot = element_slot(a, y, in);
  if (!slot) {
    // Right after the last element the array grows, as the tree's write grows it; a logging
    // snapshot could not take that back.
    if (logging || !cell_is_array(a) || !cell_is_int(y) ||
        static_cast<uint32_t>(cell_int(y)) != arr_rec(cell_array(a))->count)
      goto hand_back;
    slot = array_end_slot(cell_array(a));
  }
  if (logging) {
    // A new value in every case, the one replaced kept in the log.
    if (nlog + 2 > LOG_MAX) goto hand_back;
    DW v;
    if (in->aux == 1) {
      v = static_cast<DW>(in->imm);
    } else if (in->aux == 2) {
      unsigned c = static_cast<unsigned>(in->imm);
      if (dirt >> c & 1) {
        Cell x = cells[c];
        DW nv = cell_is_int(x) ? int_value(cell_int(x)) : make_float(cell_float(x), 0);
        log[nlog++] = Replaced{slots[c], *slots[c]};
        *slots[c] = dw_ref(nv);
        dirt &= ~(uint64_t(1) << c);
      }
      v = *slots[c];
    } else {
      Cell x = *--sp;
      v = cell_is_int(x) ? int_value(cell_int(x)) : make_float(cell_float(x), 0);
    }
    log[nlog++] = Replaced{slot, *slot};
    *slot = dw_ref(v);
    NEXT;
  }
  if (in->aux) {
    DW v;
    if (in->aux == 1) {
      v = static_cast<DW>(in->imm);
    } else {
      // The variable's value itself: a number the code changed is written into it first.
      unsigned c = static_cast<unsigned>(in->imm);
      if (dirt >> c & 1) {
        write_variable(slots[c], cells[c]);
        dirt &= ~(uint64_t(1) << c);
      }
      v = *slots[c];
    }
    DW old = *slot;
    dw_ref(v);
    *slot = v;
    dw_release(old);
  } else {
    store_number(slot, *--sp);
  }
  NEXT;
}
L_POS:
  NEXT;
L_LOAD_OBJ: {
  Cell c = cells[in->cell];
  if (__builtin_expect(!cell_is_object(c), 0)) goto hand_back;
  *sp++ = c;
  NEXT;
}
// The object b of a member operation: from its cell or popped.
#define OBJECT(o)                                          \
  Cell o = in->right == R_CELL ? cells[in->rcell] : *--sp; \
  if (__builtin_expect(!cell_is_object(o), 0)) goto hand_back;
L_MEMBER: {
  OBJECT(o);
  DW* p = member_slot(cell_object(o), in);
  if (!p) goto hand_back;
  DW e = *p;
  Cell v = number_of_value(e);
  if (v == CELL_NONE) {
    if (in->aux == M_NUMBER) goto hand_back;
    if (dw_type(e) == T_OBJECT) v = object_cell(e);
    else if (dw_type(e) == T_STRING && in->aux == M_VALUE) v = string_cell(e);
    else goto hand_back;
  } else if (in->aux == M_OBJECT) {
    goto hand_back;
  }
  source = srcs[sp - stack] = e;
  *sp++ = v;
  NEXT;
}
L_INDEX_VALUE: {
  Cell a = in->aux ? cell_of_global(global_table[in->imm].value) : cells[in->cell];
  RIGHT_KEY();
  DW e;
  if (!element_at(a, y, &e)) {
    const DW* p = key_slot(a, y, in);
    if (!p) goto hand_back;
    e = *p;
  }
  Cell v = number_of_value(e);
  if (v == CELL_NONE) {
    if (dw_type(e) == T_OBJECT) v = object_cell(e);
    else if (dw_type(e) == T_STRING) v = string_cell(e);
    else goto hand_back;
  }
  source = srcs[sp - stack] = e;
  *sp++ = v;
  NEXT;
}
L_STORE_VALUE: {
  if (LOOP && logging && nlog == LOG_MAX) goto hand_back;   // before anything changes
  Cell v = *--sp;
  cells[in->cell] = v;
  if (LOOP) {
    // The variable shares the value at once, as the tree's write does; the cell is current.
    DW* slot = slots[in->cell];
    DW old = *slot;
    if (!source) source = cell_is_int(v) ? int_value(cell_int(v)) : make_float(cell_float(v), 0);
    *slot = dw_ref(source);
    if (logging) log[nlog++] = Replaced{slot, old};
    else dw_release(old);
    dirt &= ~(uint64_t(1) << in->cell);
  }
  NEXT;
}
// Under a logging snapshot a place takes a new value and the log keeps the one replaced.
#define LOGGED(slot, v)                    \
  if (nlog == LOG_MAX) goto hand_back;     \
  log[nlog++] = Replaced{slot, *slot};     \
  *slot = dw_ref(v);
#define LOGGED_NUMBER(slot, x) LOGGED(slot, cell_is_int(x) ? int_value(cell_int(x)) : make_float(cell_float(x), 0))
// A number written into a member or an element: logged, or as the tree's assignment writes it.
#define WRITE_NUMBER(slot, x)  \
  if (LOOP && logging) {       \
    LOGGED_NUMBER(slot, x);    \
  } else {                     \
    store_number(slot, x);     \
  }
L_MEMBER_STORE: {
  OBJECT(o);
  DW* p = member_slot(cell_object(o), in);
  if (!p) goto hand_back;   // the tree creates the member
  if (LOOP && logging) {
    if (in->aux) {
      LOGGED(p, static_cast<DW>(in->k));
    } else {
      Cell x = *--sp;
      LOGGED_NUMBER(p, x);
    }
  } else if (in->aux) {
    DW v = static_cast<DW>(in->k);
    DW old = *p;
    *p = dw_ref(v);
    dw_release(old);
  } else {
    store_number(p, *--sp);
  }
  NEXT;
}
L_MEMBER_TO: {
  Cell o, x;
  if (in->aux == OP_ADD_ASSIGN) {
    x = *--sp;
    o = *--sp;
  } else if (in->right == R_CELL) {
    o = cells[in->rcell];
    x = *--sp;
  } else {
    o = *--sp;
    x = *--sp;
  }
  if (!cell_is_object(o)) goto hand_back;
  DW* p = member_slot(cell_object(o), in);
  Cell r;
  if (!p || !compound(in->aux, *p, x, &r)) goto hand_back;
  WRITE_NUMBER(p, r);
  NEXT;
}
L_LOAD_SOURCE: {
  if (!LOOP) goto hand_back;
  unsigned c = in->cell;
  Cell x = cells[c];
  if (!cell_is_number(x) && !cell_is_object(x) && !cell_is_array(x)) goto hand_back;
  if (dirt >> c & 1) {
    // The variable takes the number the code gave it, so that the callee shares that value.
    // Under a logging snapshot as a new value, the one replaced kept in the log (a dirty cell
    // holds a number: objects go into their variables at once).
    if (logging) {
      LOGGED_NUMBER(slots[c], x);
    } else {
      write_variable(slots[c], x);
    }
    dirt &= ~(uint64_t(1) << c);
  }
  srcs[sp - stack] = *slots[c];
  *sp++ = x;
  NEXT;
}
L_CTOR:
  if (!cell_is_object(sp[-1])) goto hand_back;
  obj_rec(cell_object(sp[-1]))->ctor = static_cast<DW>(in->imm);
  NEXT;
L_INDEX_TO: {
  Cell a = cells[in->cell], x, r;
  if (in->right == R_STACK && in->aux == OP_ADD_ASSIGN) {
    x = *--sp;   // += and the steps pushed their index first
    y = *--sp;
  } else {
    RIGHT_KEY();
    x = *--sp;
  }
  DW* slot = element_slot(a, y, in);
  if (!slot || !compound(in->aux, *slot, x, &r)) goto hand_back;
  WRITE_NUMBER(slot, r);
  NEXT;
}
#undef WRITE_NUMBER
#undef LOGGED_NUMBER
#undef LOGGED
#undef OBJECT
L_LOAD_VALUE: {
  Cell c = cells[in->cell];
  if (__builtin_expect(!cell_is_number(c) && !cell_is_object(c) && !cell_is_array(c), 0)) goto hand_back;
  *sp++ = c;
  NEXT;
}
L_OBJECT: {
  // The stack pointer's address never escapes, so that it can live in a register.
  Cell* top = sp;
  if (!build_object(f, in, cells, argsrc, &top, &source)) goto hand_back;
  sp = top;
  NEXT;
}
L_CASE: {
  Cell x = cells[in->cell], k = in->k;
  if (cell_is_int(x) == cell_is_int(k) && (cell_is_int(x) ? x == k : cell_float(x) == cell_float(k))) JUMP_TO(in->imm);
  NEXT;
}
L_SUBLOOP: {
  if (!LOOP) goto hand_back;
  node = &TREE_POSITION;
  commit();   // nothing after the tree's run may hand back in this statement
  logging = false;
  *dirty = dirt;
  bool went_on = run_subloop(f, in, cells, slots, dirty);
  dirt = *dirty;
  if (!went_on) {
    // Not where the loop can go on: the tree takes over at the next statement.
    *stop = next_stop(f, static_cast<int>(in - code));
    return RUN_ABANDON;
  }
  NEXT;
}
L_PUSH: {
  Cell* top = sp;
  if (!LOOP) goto hand_back;
  *dirty = dirt;
  bool pushed = push_value(in, cells, slots, dirty, &top);
  dirt = *dirty;
  if (!pushed) goto hand_back;
  sp = top;
  NEXT;
}
L_LOAD_ANY: {
  Cell c = cells[in->cell];
  if (!number_or_string(c)) goto hand_back;
  *sp++ = c;
  NEXT;
}
L_STR_CMP:
L_STR_STRICT:
L_CONCAT:
  RIGHT_ANY();
  if (!string_pair(in, sp)) goto hand_back;
  sp--;
  NEXT;
L_STR_TRUTH:
  if (!string_truth(sp)) goto hand_back;
  NEXT;
L_STR_CALL: {
  Cell rv = in->right == R_CELL ? cells[in->rcell] : sp[-1];
  if (!cell_is_string(rv)) goto hand_back;
  Cell* after = string_call(in, cell_string(rv), in->right == R_CELL ? sp : sp - 1);
  if (!after) goto hand_back;
  sp = after;
  NEXT;
}
L_CASE_TOP:
  if (case_matches(sp[-1], in->k)) {
    sp--;
    JUMP_TO(in->imm);
  }
  NEXT;
L_DROP:
  drop_cold(*--sp);
  NEXT;
L_STORE_ANY: {
  if (LOOP) *dirty = dirt;
  bool stored = store_any(in, cells, LOOP ? slots : nullptr, dirty, sp[-1]);
  if (LOOP) dirt = *dirty;
  if (!stored) goto hand_back;
  sp--;
  NEXT;
}
L_APPEND: {
  Cell* after = LOOP ? append_to(in, cells, slots, sp) : nullptr;
  if (!after) goto hand_back;
  sp = after;
  NEXT;
}
L_LENGTH_TOP: {
  Cell x = sp[-1];
  if (!cell_is_string(x)) goto hand_back;
  sp[-1] = int_cell(static_cast<int32_t>(str_rec(cell_string(x))->len));
  drop_cold(x);
  NEXT;
}
L_LOAD_ARG: {
  Cell c = cells[in->cell];
  if (__builtin_expect(c == CELL_NONE, 0)) goto hand_back;
  *sp++ = c;
  NEXT;
}
L_METHOD: {
  Cell* top = sp;
  if (LOOP) *dirty = dirt;   // a raise in the row writes the variables back (loop_compiled_run)
  bool went = lib_method(in, cells, slots, dirty, &top, node);
  if (LOOP) dirt = *dirty;
  sp = top;
  if (!went) goto hand_back;
  NEXT;
}
L_THROW:
  y = *--sp;
  goto thrown;
L_MATH: {
  int n = in->imm;
  sp -= n;
  if (!math(in->aux, sp, n, sp)) goto hand_back;
  sp++;
  NEXT;
}
L_RETURN:
  if (LOOP) {
    commit();
    *dirty = dirt;
  }
  *result = sp[-1];
  *last = node;
  return RUN_VALUE;
L_RETURN_UNDEFINED:
  if (LOOP) {
    commit();
    *dirty = dirt;
  }
  *last = node;
  return RUN_UNDEFINED;
L_END:
  if (LOOP) {
    commit();
    *dirty = dirt;
  }
  *last = node;
  if (LOOP) *stop = LoopStop{LOOP_DONE, 0};
  return LOOP ? RUN_VALUE : RUN_UNDEFINED;
thrown: {
  // y was thrown at in: the catch clause around it takes it (the stack back to the depth where
  // its try began, the value freed, as the tree frees it once the clause is done with it);
  // else a function's run ends with it, and a loop hands back (the tree throws again).
  const Landing* l = landing_of(f, static_cast<int>(in - code));
  if (!l) {
    if (LOOP) {
      drop_cold(y);
      goto hand_back;
    }
    if (f->strings) drop_stack(stack, sp);
    *result = y;
    *last = node;
    return RUN_THROW;
  }
  if (f->strings) drop_stack(stack + l->depth, sp);
  sp = stack + l->depth;
  drop_cold(y);
  compiled_catches++;
  JUMP_TO(l->at);
}
#undef DISPATCH
#undef NEXT
#undef JUMP_TO
#undef DIRTY
#undef RIGHT
#undef RIGHT_KEY
#undef RIGHT_ANY
hand_back:
  // New strings on the stack are freed (values read from places stay with them).
  if (f->strings) drop_stack(stack, sp);
  if (LOOP) {
    // The statement the failing instruction belongs to: the last one that began before it.
    int pc = static_cast<int>(in - code), m = 0;
    for (int i = 0; i < f->nmarks && f->marks[i].pc <= pc; i++) m = i;
    const Mark& mk = f->marks[m];
    if (mk.snap) {
      std::memcpy(cells, snap, sizeof(Cell) * static_cast<size_t>(f->ncells));
      dirt = snapDirty;
      // The values this statement replaced go back to their places (its snapshot began the log).
      for (int k = nlog; k-- > 0;) {
        DW cur = *log[k].place;
        *log[k].place = log[k].old;
        dw_release(cur);
      }
      nlog = 0;
    }
    commit();
    *dirty = dirt;
    *stop = LoopStop{static_cast<LoopWhere>(mk.where), mk.index};
    if (mk.inner >= 0) {
      resume.inner = &f->inners[mk.inner];
      resume.stop = LoopStop{static_cast<LoopWhere>(mk.innerWhere), mk.innerIndex};
    }
  }
  return RUN_ABANDON;
}

}  // namespace

RunEnd run_function(const Form* f, const Cell* args, const DW* argsrc, Cell* result, const Ins** last) {
  if (static_cast<char*>(__builtin_frame_address(0)) - STACK_MARGIN < stack_limit) return RUN_ABANDON;
  Cell* cells = static_cast<Cell*>(alloca(sizeof(Cell) * static_cast<size_t>(f->ncells + 1)));
  std::memcpy(cells, args, sizeof(Cell) * static_cast<size_t>(f->nparams));
  for (int c = f->nparams; c < f->ncells; c++) cells[c] = CELL_NONE;
  return exec<false>(f, cells, nullptr, argsrc, result, nullptr, nullptr, last);
}

LoopStop run_loop(const Form* f, Cell* cells, DW** slots, uint64_t* dirty, const Ins** last) {
  LoopStop stop{LOOP_AT_CONDITION, 0};
  exec<true>(f, cells, slots, nullptr, nullptr, dirty, &stop, last);
  return stop;
}

}  // namespace form

// ---- entries from the tree ----

using namespace form;

namespace {

// Leaves the error position where the tree's walk would have left it.
inline void leave_position(const Ins* node) {
  if (!node || node->mod == NO_NODE) return;
  cur_module = node->mod;
  cur_position = node->pos;
}

// Forms are kept by tree handles: freed trees make their handles free for reuse.
inline void check_epoch() {
  static uint32_t epoch;
  if (epoch != tree_free_epoch) {
    compiled_reset();
    epoch = tree_free_epoch;
  }
}

// The slot a read of the variable would use (the innermost local of that name in the running
// call, else the global); null when the name has none yet (reading it would create one) or
// when it is a const the loop writes.
DW* resolve(uint32_t name, bool writable) {
  if (int i = local_slot_of(name))
    return writable && (local_stack[i].name & CONST_BIT) ? nullptr : &local_stack[i].value;
  int g = global_find_down(name);
  if (g < 0) return nullptr;
  if (writable && (global_table[g].name & CONST_BIT)) return nullptr;
  return &global_table[g].value;
}

inline Cell cell_of_value(DW v) { return cell_of_global(v); }

// The slot var writes for a name (the first of the running call's, or the global), or null.
DW* declared_slot(uint32_t name) {
  if (frame_base < 1) {
    int s = global_find_up(name);
    return s >= 0 ? &global_table[s].value : nullptr;
  }
  for (int k = frame_base; k <= local_top; k++)
    if ((local_stack[k].name & NAME_MASK) == name) return &local_stack[k].value;
  return nullptr;
}

// Whether the loop's variables resolve as they did last time: a call frame (or the top level)
// holding the same local names in the same order, and no global added (globals are only ever
// appended). Local slots are kept relative to the frame's first slot, so the same loop started
// by another call of its function at another depth (recursion) resolves the same way again.
bool same_resolution(const Form* f) {
  int low = frame_base < 1 ? 1 : frame_base;
  if (!f->resolved || f->rsBlock != (block_depth > 0) || f->rsBase != (frame_base < 1) || f->rsTop != local_top - low ||
      f->rsGlobals != global_top)
    return false;
  const VarSlot* frame = local_stack + low;
  for (int i = 0; i <= f->rsTop; i++)
    if (frame[i].name != f->rsLocals[i]) return false;
  for (int c = 0; c < f->ncells; c++) {
    int32_t s = f->rsSlot[c];
    if (s < 0 && global_table[-1 - s].name != f->rsGlobalName[c]) return false;
  }
  return true;
}

void keep_resolution(Form* f, DW* const* slots) {
  int low = frame_base < 1 ? 1 : frame_base;
  if (local_top - low + 1 > 32) return;
  for (int c = 0; c < f->ncells; c++) {
    const DW* s = slots[c];
    if (local_top >= low && s >= &local_stack[low].value && s <= &local_stack[local_top].value) {
      f->rsSlot[c] = slot_index(s, local_stack) - low + 1;
    } else {
      int32_t g = slot_index(s, global_table);
      f->rsSlot[c] = -1 - g;
      f->rsGlobalName[c] = global_table[g].name;
    }
  }
  for (int i = low; i <= local_top; i++) f->rsLocals[i - low] = local_stack[i].name;
  f->rsBlock = block_depth > 0;
  f->rsBase = frame_base < 1;
  f->rsTop = local_top - low;
  f->rsGlobals = global_top;
  f->resolved = true;
}

}  // namespace

// The inner loop's statement that the tree runs again after its outer loop's code handed back:
// the variables its inits wrote get back the values they held, and the tree goes on from *stop.
bool resume_inner(DW cond, DW body, LoopStop* stop) {
  Resume r = resume;
  resume.inner = nullptr;
  bool match = r.inner->cond == cond && r.inner->body == body;
  for (int k = 0; k < r.n; k++) {
    if (!match) {
      dw_release(r.vals[k]);
      continue;
    }
    DW* s = r.at[k] > 0 ? &local_stack[r.at[k]].value : &global_table[-1 - r.at[k]].value;
    DW old = *s;
    *s = r.vals[k];
    dw_release(old);
  }
  if (match) *stop = r.stop;
  return match;
}

namespace {

// A jump that a loop's guard received goes on to the frame that would have received it.
[[noreturn]] void pass_on(DW code) {
  for (int i = jump_depth - 1; i >= 0; i--)
    if (jump_accepts(jump_stack[i].kind, code, throw_pending)) jump_to(i, code);
  jump_to(0, code);
}

// Runs a loop form whose code (or a function it calls) calls library methods, under a frame
// that a raise in one of them reaches first: the variables get what the code wrote before the
// raise (the tree would have written them as it went), then the raise goes on to its receiver.
// The statement's own earlier writes stand, as they do on the tree.
__attribute__((noinline)) LoopStop run_loop_guarded(const Form* f, Cell* cells, DW** slots, uint64_t* dirty,
                                                    const Ins** last) {
  int fr = jump_push(JF_TRY);
  if (JUMP_ARM(fr)) {
    DW code = jump_code;
    jump_depth = fr;
    for (int c = 0; c < f->ncells; c++)
      if (*dirty >> c & 1) write_variable(slots[c], cells[c]);
    *dirty = 0;
    pass_on(code);
  }
  LoopStop stop = run_loop(f, cells, slots, dirty, last);
  jump_depth = fr;
  return stop;
}

}  // namespace

bool loop_compiled_run(DW cond, DW body, const DW* updates, uint32_t nupdates, LoopStop* stop) {
  if (resume.inner && resume_inner(cond, body, stop)) return true;
  if (!compiled_enabled || eval_hooks_on) return false;
  check_epoch();
  int idx = compile_loop(cond, body, updates, nupdates);
  if (idx < 0) return false;
  const Form* f = &forms[idx];
  for (int i = 0; i < f->ncallees; i++)
    if (local_slot_of(f->callees[i].name)) return false;   // a local shadows the function
  if (f->ncallees && !callees_valid(idx)) return false;
  DW* slots[MAX_CELLS];
  Cell cells[MAX_CELLS];
  if (!same_resolution(f)) {
    Form* w = &forms[idx];
    w->resolved = false;
    for (int c = 0; c < f->ncells; c++) {
      slots[c] = resolve(f->names[c], f->written[c]);
      if (!slots[c] || (f->declared[c] && declared_slot(f->names[c]) != slots[c])) return false;
    }
    keep_resolution(w, slots);
  } else {
    VarSlot* frame = local_stack + (frame_base < 1 ? 1 : frame_base) - 1;
    for (int c = 0; c < f->ncells; c++) {
      int32_t s = f->rsSlot[c];
      slots[c] = s > 0 ? &frame[s].value : &global_table[-1 - s].value;
    }
  }
  for (int c = 0; c < f->ncells; c++) cells[c] = cell_of_value(*slots[c]);
  if (f->ncallees && callees_read(idx, slots, f->ncells)) return false;
  uint64_t dirty = 0;
  const Ins* node = nullptr;
  *stop = reaches_library(idx) ? run_loop_guarded(f, cells, slots, &dirty, &node) : run_loop(f, cells, slots, &dirty, &node);
  if (stop->where == LOOP_DONE) {
    leave_position(node);
    compiled_runs++;
  }
  for (int c = 0; c < f->ncells; c++)
    if (dirty & (uint64_t(1) << c)) write_variable(slots[c], cells[c]);
  if (resume.inner) {
    // The values the inner loop's inits will overwrite when the tree runs them again.
    resume.n = 0;
    for (int c = 0; c < f->ncells; c++) {
      if (!(resume.inner->inits >> c & 1)) continue;
      resume.at[resume.n] = slot_at(slots[c]);
      resume.vals[resume.n++] = dw_ref(*slots[c]);
    }
  }
  return true;
}

// The form that compile makes of func, if it may run a call now (compile is a template argument
// so that each entry calls it directly: the tree asks on every call).
template <int (*compile)(DW)>
int form_for_call(DW func) {
  if (!compiled_enabled || eval_hooks_on) return -1;
  check_epoch();
  int idx = compile(func);
  if (idx < 0) return -1;
  const Form* f = &forms[idx];
  // A form that keeps handing its calls back costs a second run each time: leave it.
  if (f->abandoned > 16 && f->abandoned > f->runs / 4) return -1;
  return callees_valid(idx) ? idx : -1;
}

int func_compiled(DW func) { return form_for_call<compile_function>(func); }
int ctor_compiled(DW func) { return form_for_call<compile_constructor>(func); }

int func_compiled_params(int idx) { return forms[idx].nparams; }

namespace {

// Runs function form idx on the values a tree call has, with the runs counted: abandoned at once
// when an argument has no cell (not counted: nothing ran), or when the run hands back.
RunEnd run_on_values(int idx, const DW* args, Cell* r) {
  Form* f = &forms[idx];
  Cell cells[MAX_CELLS];
  for (int i = 0; i < f->nparams; i++) {
    cells[i] = cell_of_value(args[i]);
    if (cells[i] == CELL_NONE || (cell_is_string(cells[i]) && !f->strings && !f->keys)) return RUN_ABANDON;
  }
  const Ins* node = nullptr;
  RunEnd e = run_function(f, cells, args, r, &node);
  if (e == RUN_THROW) {
    // The call is made again on the tree, which throws (the run changed nothing visible).
    drop_cold(*r);
    e = RUN_ABANDON;
  }
  if (e == RUN_ABANDON) {
    f->abandoned++;
    return e;
  }
  f->runs++;
  compiled_runs++;
  leave_position(node);
  return e;
}

}  // namespace

bool func_compiled_run(int idx, const DW* args, DW* result) {
  Cell r;
  RunEnd e = run_on_values(idx, args, &r);
  if (e == RUN_ABANDON) return false;
  if (e == RUN_UNDEFINED) *result = DW_UNDEFINED;
  else if (cell_is_object(r)) *result = cell_object(r);
  else *result = cell_is_int(r) ? int_value(cell_int(r)) : make_float(cell_float(r), 0);
  return true;
}

CompiledEnd func_compiled_run_number(int idx, const DW* args, double* number, DW* value) {
  Cell r;
  RunEnd e = run_on_values(idx, args, &r);
  if (e == RUN_ABANDON) return CE_ABANDONED;
  if (e == RUN_UNDEFINED) return CE_UNDEFINED;
  if (cell_is_object(r)) {
    *value = cell_object(r);
    return CE_VALUE;
  }
  *number = cell_is_int(r) ? cell_int(r) : cell_float(r);
  return CE_NUMBER;
}
