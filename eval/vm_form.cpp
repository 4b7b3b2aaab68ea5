// Running the compiled form: functions called with numbers, and loops whose variables are
// resolved when they start. While the code runs no other code does, so the variables of a loop
// live in native cells and are written back when it stops. Whatever the code cannot give exactly
// as the tree does (a division by zero, an operand of the wrong type, a variable without a
// number, the native stack running low) hands the work back: a function's call is made again on
// the tree from its start (its run changed nothing anyone can see), a loop goes on on the tree
// from the statement where it stopped, with that statement's writes undone.
#include <alloca.h>

#include <cmath>
#include <cstring>

#include "eval/compile_form.h"

bool compiled_enabled = true;

namespace form {

namespace {

inline double as_double(const Cell& c) { return c.tag == TAG_INT ? c.i : c.d; }
inline void set_int(Cell* c, int32_t v) {
  c->i = v;
  c->tag = TAG_INT;
}
inline void set_float(Cell* c, double v) {
  c->d = v;
  c->tag = TAG_FLOAT;
}
inline int32_t wrap_add(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}
inline bool truth(const Cell& c) { return c.tag == TAG_INT ? c.i != 0 : (std::isnan(c.d) || c.d != 0.0); }

inline bool holds_int(unsigned op, int32_t x, int32_t y) {
  switch (op) {
    case CMP_EQ: return x == y;
    case CMP_NE: return x != y;
    case CMP_LT: return x < y;
    case CMP_LE: return x <= y;
    case CMP_GT: return x > y;
    default: return x >= y;
  }
}
inline bool holds_double(unsigned op, double x, double y) {
  switch (op) {
    case CMP_EQ: return x == y;
    case CMP_NE: return !(x == y);
    case CMP_LT: return x < y;
    case CMP_LE: return x <= y;
    case CMP_GT: return x > y;
    default: return x >= y;
  }
}

// One step of the double fold of - * / % ** (a zero divisor was excluded before).
inline double fold(unsigned op, double a, double b) {
  switch (op) {
    case OP_SUB: case OP_SUB_ASSIGN: return a - b;
    case OP_MUL: case OP_MUL_ASSIGN: return a * b;
    case OP_DIV: case OP_DIV_ASSIGN: return a / b;
    case OP_MOD: case OP_MOD_ASSIGN: return a - b * std::floor(a / b);
    default: return std::pow(a, b);
  }
}

// - * / % ** over n operands, as the tree's arithmetic folds them; false for a zero divisor.
inline bool arith(unsigned op, const Cell* a, int n, Cell* out) {
  if (op == OP_DIV)
    for (int k = 1; k < n; k++)
      if (as_double(a[k]) == 0.0) return false;
  if (n == 2 && a[0].tag == TAG_INT && a[1].tag == TAG_INT) {
    int32_t r;
    if (int_pair(op, a[0].i, a[1].i, &r)) {
      set_int(out, r);
      return true;
    }
  }
  bool fl = a[0].tag == TAG_FLOAT;
  double acc = as_double(a[0]);
  for (int k = 1; k < n; k++) {
    fl |= a[k].tag == TAG_FLOAT;
    acc = fold(op, acc, as_double(a[k]));
  }
  if (fl) set_float(out, acc);
  else set_int(out, double_to_int32(acc));
  return true;
}

inline void add(const Cell& x, const Cell& y, Cell* out) {
  if (x.tag == TAG_INT && y.tag == TAG_INT) set_int(out, wrap_add(x.i, y.i));
  else set_float(out, as_double(x) + as_double(y));
}

inline int32_t bit(unsigned op, int32_t x, int32_t y) {
  uint32_t a = static_cast<uint32_t>(x), b = static_cast<uint32_t>(y);
  if (op == OP_BIT_AND || op == OP_AND_ASSIGN) return static_cast<int32_t>(a & b);
  if (op == OP_BIT_OR || op == OP_OR_ASSIGN) return static_cast<int32_t>(a | b);
  return static_cast<int32_t>(a ^ b);
}

constexpr ptrdiff_t STACK_MARGIN = 16 * 1024;

// The interpreter of both kinds of form. A function returns RUN_VALUE/RUN_UNDEFINED or
// RUN_ABANDON; a loop returns RUN_VALUE when it ended and RUN_ABANDON when it handed back, with
// *stop set in both cases.
template <bool LOOP>
RunEnd exec(const Form* f, Cell* cells, Cell* result, uint64_t* dirty, LoopStop* stop) {
  Cell stack[MAX_STACK];
  Cell* sp = stack;
  const Ins* code = f->code;
  const Ins* in = code;
  // Loops: the statement running, and the cells as they were when it began (when it may write
  // more than once before it could hand back).
  Cell* snap = nullptr;
  bool snapped = false;
  uint64_t snapDirty = 0;
  LoopStop at{LOOP_AT_CONDITION, 0};
  if (LOOP) snap = static_cast<Cell*>(alloca(sizeof(Cell) * static_cast<size_t>(f->ncells + 1)));
  for (;; in++) {
    switch (static_cast<Op>(in->op)) {
      case I_LOAD: {
        const Cell& c = cells[in->cell];
        if (__builtin_expect(c.tag == TAG_NONE, 0)) goto hand_back;
        *sp++ = c;
        break;
      }
      case I_INT:
        set_int(sp++, in->imm);
        break;
      case I_FLOAT:
        set_float(sp++, in->d);
        break;
      case I_ADD:
        sp--;
        add(sp[-1], sp[0], &sp[-1]);
        break;
      case I_ARITH: {
        int n = in->imm;
        sp -= n;
        Cell r;
        if (!arith(in->aux, sp, n, &r)) goto hand_back;
        *sp++ = r;
        break;
      }
      case I_BIT:
        sp--;
        if (sp[-1].tag != TAG_INT || sp[0].tag != TAG_INT) goto hand_back;
        sp[-1].i = bit(in->aux, sp[-1].i, sp[0].i);
        break;
      case I_BIT_NOT:
        if (sp[-1].tag != TAG_INT) goto hand_back;
        sp[-1].i = ~sp[-1].i;
        break;
      case I_SHIFT: {
        sp--;
        if (sp[-1].tag != TAG_INT || sp[0].tag != TAG_INT || sp[0].i < 0) goto hand_back;
        int32_t c = sp[0].i;
        if (c == 0) break;
        uint32_t x = static_cast<uint32_t>(sp[-1].i), r;
        if (in->aux == OP_SHL) r = x << (c & 31);
        else if (in->aux == OP_SHR) r = static_cast<uint32_t>(static_cast<int32_t>(x) >> (c & 31));
        else r = (x >> 1) >> ((c - 1) & 31);
        sp[-1].i = static_cast<int32_t>(r);
        break;
      }
      case I_CMP: {
        sp--;
        bool r = sp[-1].tag == TAG_INT && sp[0].tag == TAG_INT ? holds_int(in->aux, sp[-1].i, sp[0].i)
                                                               : holds_double(in->aux, as_double(sp[-1]), as_double(sp[0]));
        set_int(&sp[-1], r);
        break;
      }
      case I_STRICT: {
        sp--;
        bool eq = sp[-1].tag == sp[0].tag &&
                  (sp[0].tag == TAG_INT ? sp[-1].i == sp[0].i : sp[-1].d == sp[0].d);
        set_int(&sp[-1], eq != (in->aux != 0));
        break;
      }
      case I_NOT:
        set_int(&sp[-1], !truth(sp[-1]));
        break;
      case I_JUMP:
        in = code + in->imm - 1;
        break;
      case I_JFALSE:
        sp--;
        if (!truth(*sp)) in = code + in->imm - 1;
        break;
      case I_JTRUE:
        sp--;
        if (truth(*sp)) in = code + in->imm - 1;
        break;
      case I_STORE:
        cells[in->cell] = *--sp;
        if (LOOP) *dirty |= uint64_t(1) << in->cell;
        break;
      case I_ADD_TO: {
        Cell& c = cells[in->cell];
        if (c.tag == TAG_NONE) goto hand_back;
        sp--;
        add(c, *sp, &c);
        if (LOOP) *dirty |= uint64_t(1) << in->cell;
        break;
      }
      case I_ARITH_TO: {
        Cell& c = cells[in->cell];
        if (c.tag == TAG_NONE) goto hand_back;
        const Cell& y = sp[-1];
        if (in->aux == OP_DIV_ASSIGN && as_double(y) == 0.0) goto hand_back;
        double r = fold(in->aux, as_double(c), as_double(y));
        if (c.tag == TAG_FLOAT || y.tag == TAG_FLOAT) set_float(&c, r);
        else set_int(&c, double_to_int32(r));
        sp--;
        if (LOOP) *dirty |= uint64_t(1) << in->cell;
        break;
      }
      case I_BIT_TO: {
        Cell& c = cells[in->cell];
        if (c.tag != TAG_INT || sp[-1].tag != TAG_INT) goto hand_back;
        sp--;
        c.i = bit(in->aux, c.i, sp->i);
        if (LOOP) *dirty |= uint64_t(1) << in->cell;
        break;
      }
      case I_STEP: {
        Cell& c = cells[in->cell];
        if (c.tag == TAG_INT) c.i = wrap_add(c.i, in->imm);
        else if (c.tag == TAG_FLOAT) c.d += in->imm;
        else goto hand_back;
        if (LOOP) *dirty |= uint64_t(1) << in->cell;
        break;
      }
      case I_CALL: {
        const Form* g = &forms[in->imm];
        int n = in->aux;
        sp -= n;
        Cell r;
        RunEnd e = run_function(g, sp, &r);
        if (e == RUN_ABANDON || (e == RUN_UNDEFINED && !in->cell)) goto hand_back;
        if (!in->cell) *sp++ = r;
        break;
      }
      case I_POP:
        sp--;
        break;
      case I_MARK:
        if (LOOP) {
          at = LoopStop{static_cast<LoopWhere>(in->aux), static_cast<uint32_t>(in->imm)};
          snapped = in->cell != 0;
          if (snapped) {
            std::memcpy(static_cast<void*>(snap), cells, sizeof(Cell) * static_cast<size_t>(f->ncells));
            snapDirty = *dirty;
          }
        }
        break;
      case I_RETURN:
        *result = sp[-1];
        return RUN_VALUE;
      case I_RETURN_UNDEFINED:
        return RUN_UNDEFINED;
      case I_END:
        if (LOOP) *stop = LoopStop{LOOP_DONE, 0};
        return LOOP ? RUN_VALUE : RUN_UNDEFINED;
    }
  }
hand_back:
  if (LOOP) {
    if (snapped) {
      std::memcpy(static_cast<void*>(cells), snap, sizeof(Cell) * static_cast<size_t>(f->ncells));
      *dirty = snapDirty;
    }
    *stop = at;
  }
  return RUN_ABANDON;
}

}  // namespace

RunEnd run_function(const Form* f, const Cell* args, Cell* result) {
  if (static_cast<char*>(__builtin_frame_address(0)) - STACK_MARGIN < stack_limit) return RUN_ABANDON;
  Cell* cells = static_cast<Cell*>(alloca(sizeof(Cell) * static_cast<size_t>(f->ncells + 1)));
  std::memcpy(static_cast<void*>(cells), args, sizeof(Cell) * static_cast<size_t>(f->nparams));
  for (int c = f->nparams; c < f->ncells; c++) cells[c].tag = TAG_NONE;
  return exec<false>(f, cells, result, nullptr, nullptr);
}

LoopStop run_loop(const Form* f, Cell* cells, uint64_t* dirty) {
  LoopStop stop{LOOP_AT_CONDITION, 0};
  exec<true>(f, cells, nullptr, dirty, &stop);
  return stop;
}

}  // namespace form

// ---- entries from the tree ----

using namespace form;

namespace {

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

inline void cell_of_value(DW v, Cell* c) {
  if (dw_type(v) == T_INT) set_int(c, int_of(v));
  else if (dw_type(v) == T_FLOAT) set_float(c, float_of(v));
  else c->tag = TAG_NONE;
}

// Writes a number into a variable's slot: in place when the slot alone holds a number of that
// type, else as a record of the variable's own (so that the next write is in place).
void write_cell(DW* slot, const Cell& c) {
  if (c.tag == TAG_INT) {
    variable_write_int(slot, c.i);
    return;
  }
  DW old = *slot;
  if (dw_type(old) == T_FLOAT && (*dw_rec(old) >> 4) == 1) {
    reinterpret_cast<FloatRec*>(dw_rec(old))->value = c.d;
    return;
  }
  *slot = make_float(c.d, 1);
  dw_release(old);
}

}  // namespace

bool loop_compiled_run(DW cond, DW body, const DW* updates, uint32_t nupdates, LoopStop* stop) {
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
  for (int c = 0; c < f->ncells; c++) {
    slots[c] = resolve(f->names[c], f->written[c]);
    if (!slots[c]) return false;
    cell_of_value(*slots[c], &cells[c]);
  }
  uint64_t dirty = 0;
  *stop = run_loop(f, cells, &dirty);
  for (int c = 0; c < f->ncells; c++)
    if (dirty & (uint64_t(1) << c)) write_cell(slots[c], cells[c]);
  return true;
}

int func_compiled(DW func) {
  if (!compiled_enabled || eval_hooks_on) return -1;
  check_epoch();
  int idx = compile_function(func);
  if (idx < 0) return -1;
  const Form* f = &forms[idx];
  // A form that keeps handing its calls back costs a second run each time: leave it.
  if (f->abandoned > 16 && f->abandoned > f->runs / 4) return -1;
  return callees_valid(idx) ? idx : -1;
}

int func_compiled_params(int idx) { return forms[idx].nparams; }

bool func_compiled_run(int idx, const DW* args, DW* result) {
  Form* f = &forms[idx];
  Cell cells[MAX_CELLS];
  for (int i = 0; i < f->nparams; i++) {
    cell_of_value(args[i], &cells[i]);
    if (cells[i].tag == TAG_NONE) return false;
  }
  Cell r;
  RunEnd e = run_function(f, cells, &r);
  if (e == RUN_ABANDON) {
    f->abandoned++;
    return false;
  }
  f->runs++;
  if (e == RUN_UNDEFINED) *result = DW_UNDEFINED;
  else *result = r.tag == TAG_INT ? int_value(r.i) : make_float(r.d, 0);
  return true;
}
