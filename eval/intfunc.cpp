// Integer functions on a plan: a script function whose body only computes with Integers (its
// parameters, var locals and integer literals; + - * / % and comparisons; if/else, return,
// var with a value, =, +=, -=, ++, --) and calls such functions by their global names runs as
// a small stack program on native integers: no values, no local slots, no jump frames.
//
// Such a run changes nothing a script could see before it returns its Integer. Whatever the
// plan cannot do on Integers alone (an argument or a local that is not an Integer, a product
// beyond 2^53, a division by zero, a path that ends without a return, the native stack running
// low) abandons the run, and the call is made again on the tree from its start with the same
// argument values: it then gives exactly what the tree gives, errors and positions included.
#include "eval/intfunc.h"

#include <cstring>

#include "eval/fastloop.h"

bool intfunc_enabled = true;

namespace {

enum : uint8_t {
  F_PARAM,        // push cell (a parameter: always set)
  F_LOCAL,        // push cell (a var local: abandon while it has no value yet)
  F_LIT,          // push imm
  F_ADD,          // a + b
  F_BINARY,       // a aux b for aux = OP_SUB, OP_MUL, OP_DIV, OP_MOD (int_pair)
  F_COMPARE,      // a aux b (CompareOp) as 1 or 0
  F_JUMP_FALSE,   // pop; 0 jumps to imm
  F_JUMP,         // to imm
  F_RETURN,       // pop: the result
  F_STORE,        // pop into cell
  F_ADD_TO,       // cell + pop into cell
  F_SUB_FROM,     // cell - pop into cell
  F_STEP,         // cell + imm into cell
  F_CALL,         // call plan imm with aux arguments popped; push its result
  F_END,          // the end of the body: the call gives undefined, which the plan cannot
};

constexpr int MAX_PLANS = 64;
constexpr int MAX_CODE = 512;
constexpr int MAX_CELLS = 32;
constexpr int MAX_STACK = 32;
constexpr int MAX_CALLEES = 16;

struct Ins {
  uint8_t op;
  uint8_t aux;
  uint16_t cell;
  int32_t imm;
};

struct Callee {
  uint32_t name;   // the global name called
  DW func;         // the function value it held when the plan was made
  int plan;
};

enum PlanState : uint8_t { P_BUILDING, P_READY, P_NONE };

struct Plan {
  PlanState state;
  DW body;
  int nparams, ncells;
  uint32_t names[MAX_CELLS];
  Ins code[MAX_CODE];
  int n, depth;
  Callee callees[MAX_CALLEES];
  int ncallees;
};

Plan plans[MAX_PLANS];
int nplans;

// Plans by body handle: index + 1, 0 when not looked at yet (cleared with the store).
constexpr int CACHE = 256;
DW cache_key[CACHE];
int16_t cache_val[CACHE];

inline unsigned cache_slot(DW body) { return (body ^ (body >> 8)) & (CACHE - 1); }

int cell_of(const Plan* p, DW name) {
  uint32_t nm = name & NAME_MASK;
  for (int c = 0; c < p->ncells; c++)
    if (p->names[c] == nm) return c;
  return -1;
}

bool emit(Plan* p, uint8_t op, int delta, uint8_t aux = 0, int cell = 0, int32_t imm = 0) {
  if (p->n == MAX_CODE) return false;
  p->depth += delta;
  if (p->depth > MAX_STACK) return false;
  p->code[p->n++] = Ins{op, aux, static_cast<uint16_t>(cell), imm};
  return true;
}

int plan_of(DW func);

PlanShape build_expr(Plan* p, DW t);

bool build_call(Plan* p, NodeRec* r) {
  DW callee = r->a1;
  if (!plan_is_name(callee) || cell_of(p, callee) >= 0) return false;
  if (callee == NAME_NUMBER || callee == NAME_STRING || callee == NAME_DATE) return false;
  int g = global_find_down(callee & NAME_MASK);
  if (g < 0 || dw_type(global_table[g].value) != T_FUNC || p->ncallees == MAX_CALLEES) return false;
  DW f = global_table[g].value;
  int target = plan_of(f);
  if (target < 0) return false;
  // Arguments past the callee's parameters are not evaluated (as on the tree); missing ones
  // would be undefined.
  uint32_t n = arglist_count(r->a2);
  const DW* args = arglist_args(r->a2);
  int np = plans[target].nparams;
  if (static_cast<int>(n) < np) return false;
  for (int i = 0; i < np; i++)
    if (build_expr(p, args[i]) != PLAN_NUMBER) return false;
  p->callees[p->ncallees++] = Callee{callee & NAME_MASK, f, target};
  return emit(p, F_CALL, 1 - np, static_cast<uint8_t>(np), 0, target);
}

// The emitter of plan_expr for a function: names are its parameters and var locals; calls of
// planned functions by global name are one more form.
struct FunctionEmitter {
  Plan* p;
  bool name(DW t) {
    int c = cell_of(p, t);
    return c >= 0 && emit(p, c < p->nparams ? F_PARAM : F_LOCAL, 1, 0, c);
  }
  bool literal(int32_t v) { return emit(p, F_LIT, 1, 0, 0, v); }
  bool add() { return emit(p, F_ADD, -1); }
  bool binary(unsigned op) { return emit(p, F_BINARY, -1, static_cast<uint8_t>(op)); }
  bool compare(CompareOp op) { return emit(p, F_COMPARE, -1, op); }
  bool other(NodeRec* r) { return r->op == OP_CALL && build_call(p, r); }
};

PlanShape build_expr(Plan* p, DW t) {
  FunctionEmitter e{p};
  return plan_expr(e, t);
}

bool build_stmt(Plan* p, DW t);

bool build_assign(Plan* p, NodeRec* r) {
  if (!plan_is_name(r->a1)) return false;
  int c = cell_of(p, r->a1);
  if (c < 0) return false;
  switch (r->op) {
    case OP_ASSIGN:
      return r->argc == 2 && build_expr(p, r->a2) == PLAN_NUMBER && emit(p, F_STORE, -1, 0, c);
    case OP_ADD_ASSIGN:
      return r->argc == 2 && build_expr(p, r->a2) == PLAN_NUMBER && emit(p, F_ADD_TO, -1, 0, c);
    case OP_SUB_ASSIGN:
      return r->argc == 2 && build_expr(p, r->a2) == PLAN_NUMBER && emit(p, F_SUB_FROM, -1, 0, c);
    default: {
      int delta = r->op == OP_POST_INC || r->op == OP_PRE_INC ? 1 : -1;
      return emit(p, F_STEP, 0, 0, c, delta);
    }
  }
}

bool build_stmt(Plan* p, DW t) {
  NodeRec* r = plan_node(t);
  if (!r) return false;
  switch (r->op) {
    case OP_BLOCK: {
      uint32_t n = rec_argc(r);
      DW* s = rec_args(r);
      for (uint32_t i = 0; i < n; i++)
        if (!build_stmt(p, s[i])) return false;
      return true;
    }
    case OP_IF: {
      uint32_t n = rec_argc(r);
      DW* a = rec_args(r);
      if (build_expr(p, a[0]) == PLAN_NONE) return false;
      int jf = p->n;
      if (!emit(p, F_JUMP_FALSE, -1) || !build_stmt(p, a[1])) return false;
      if (n < 3) {
        p->code[jf].imm = p->n;
        return true;
      }
      int j = p->n;
      if (!emit(p, F_JUMP, 0)) return false;
      p->code[jf].imm = p->n;
      if (!build_stmt(p, a[2])) return false;
      p->code[j].imm = p->n;
      return true;
    }
    case OP_RETURN:
      return rec_argc(r) == 1 && build_expr(p, r->a1) == PLAN_NUMBER && emit(p, F_RETURN, -1);
    case OP_VAR: {
      // var x = e: x is one of the function's own names (a var without a value would make it
      // undefined, which the plan cannot hold).
      uint32_t n = rec_argc(r);
      DW* items = rec_args(r);
      for (uint32_t i = 0; i < n; i++) {
        NodeRec* item = plan_node(items[i]);
        if (!item || item->op != OP_ASSIGN || !build_assign(p, item)) return false;
      }
      return true;
    }
    case OP_ASSIGN: case OP_ADD_ASSIGN: case OP_SUB_ASSIGN:
    case OP_POST_INC: case OP_POST_DEC: case OP_PRE_INC: case OP_PRE_DEC:
      return build_assign(p, r);
    default:
      return false;
  }
}

// The plan of a function value (index), or -1 when it has none. A function being planned
// counts as planned, so that it may call itself.
int plan_of(DW func) {
  DW body = func_body(func);
  unsigned k = cache_slot(body);
  int idx = -1;
  if (cache_key[k] == body && cache_val[k] != 0) {
    idx = cache_val[k] - 1;
  } else {
    for (int i = 0; i < nplans; i++)
      if (plans[i].body == body) idx = i;
    if (idx >= 0) {
      cache_key[k] = body;
      cache_val[k] = static_cast<int16_t>(idx + 1);
    }
  }
  if (idx >= 0) return plans[idx].state == P_NONE ? -1 : idx;
  if (nplans == MAX_PLANS) return -1;
  idx = nplans++;
  Plan* p = &plans[idx];
  p->state = P_BUILDING;
  p->body = body;
  p->n = p->depth = p->ncallees = 0;
  cache_key[k] = body;
  cache_val[k] = static_cast<int16_t>(idx + 1);

  bool ok = true;
  unsigned np = func_param_count(func), nl = func_local_count(func);
  const DW* names = func_names(func);
  if (np + nl > MAX_CELLS) ok = false;
  p->nparams = static_cast<int>(np);
  p->ncells = 0;
  for (unsigned i = 0; ok && i < np + nl; i++) {
    DW e = names[i];
    if (dw_type(e) != T_CONST) ok = false;   // a default value
    else if (cell_of(p, e) >= 0) ok = false;  // a name given twice
    else p->names[p->ncells++] = e & NAME_MASK;
  }
  ok = ok && build_stmt(p, body) && emit(p, F_END, 0);
  // The cache slot may have been taken by a callee's body meanwhile: set it again.
  cache_key[k] = body;
  cache_val[k] = static_cast<int16_t>(idx + 1);
  if (!ok) {
    p->state = P_NONE;
    return -1;
  }
  p->state = P_READY;
  return idx;
}

// Every plan reachable from idx is ready and every global it calls still holds the function
// it was planned with.
bool still_valid(int idx) {
  uint64_t seen = 0;
  int todo[MAX_PLANS];
  int n = 0;
  todo[n++] = idx;
  seen |= uint64_t(1) << idx;
  while (n > 0) {
    const Plan* p = &plans[todo[--n]];
    if (p->state != P_READY) return false;
    for (int i = 0; i < p->ncallees; i++) {
      const Callee& c = p->callees[i];
      int g = global_find_down(c.name);
      if (g < 0 || global_table[g].value != c.func) return false;
      if (!(seen & (uint64_t(1) << c.plan))) {
        seen |= uint64_t(1) << c.plan;
        todo[n++] = c.plan;
      }
    }
  }
  return true;
}

// Runs a plan on its arguments; false when the run is abandoned.
bool run(const Plan* p, const int32_t* args, int32_t* result) {
  if (static_cast<char*>(__builtin_frame_address(0)) < stack_limit) return false;
  int32_t cells[MAX_CELLS];
  std::memcpy(cells, args, sizeof(int32_t) * static_cast<size_t>(p->nparams));
  uint32_t set = p->nparams >= 32 ? 0xFFFFFFFFu : (1u << p->nparams) - 1;
  int32_t stack[MAX_STACK];
  int32_t* sp = stack;
  const Ins* code = p->code;
  for (const Ins* in = code;; in++) {
    switch (in->op) {
      case F_PARAM:
        *sp++ = cells[in->cell];
        break;
      case F_LOCAL:
        if (!(set & (1u << in->cell))) return false;
        *sp++ = cells[in->cell];
        break;
      case F_LIT:
        *sp++ = in->imm;
        break;
      case F_ADD:
        sp--;
        sp[-1] = wrap_add(sp[-1], sp[0]);
        break;
      case F_BINARY:
        if (in->aux == OP_DIV && sp[-1] == 0) return false;
        if (!int_pair(in->aux, sp[-2], sp[-1], &sp[-2])) return false;
        sp--;
        break;
      case F_COMPARE:
        sp--;
        sp[-1] = holds(static_cast<CompareOp>(in->aux), sp[-1], sp[0]);
        break;
      case F_JUMP_FALSE:
        if (!*--sp) in = code + in->imm - 1;
        break;
      case F_JUMP:
        in = code + in->imm - 1;
        break;
      case F_RETURN:
        *result = sp[-1];
        return true;
      case F_STORE:
        cells[in->cell] = *--sp;
        set |= 1u << in->cell;
        break;
      case F_ADD_TO: case F_SUB_FROM: case F_STEP: {
        if (!(set & (1u << in->cell))) return false;
        int32_t y = in->op == F_STEP ? in->imm : *--sp;
        cells[in->cell] = in->op == F_SUB_FROM ? wrap_sub(cells[in->cell], y) : wrap_add(cells[in->cell], y);
        break;
      }
      case F_CALL: {
        sp -= in->aux;
        if (!run(&plans[in->imm], sp, sp)) return false;
        sp++;
        break;
      }
      default:   // F_END
        return false;
    }
  }
}

}  // namespace

void intfunc_reset() {
  nplans = 0;
  std::memset(cache_key, 0, sizeof cache_key);
  std::memset(cache_val, 0, sizeof cache_val);
}

int intfunc_plan(DW func) {
  if (!intfunc_enabled || eval_hooks_on) return -1;
  // Plans are kept by body handle and name the function values they call.
  static uint32_t epoch;
  if (epoch != tree_free_epoch) {
    intfunc_reset();
    epoch = tree_free_epoch;
  }
  int idx = plan_of(func);
  return idx >= 0 && still_valid(idx) ? idx : -1;
}

int intfunc_param_count(int plan) { return plans[plan].nparams; }

bool intfunc_run(int plan, const DW* args, DW* result) {
  const Plan* p = &plans[plan];
  int32_t a[MAX_CELLS];
  for (int i = 0; i < p->nparams; i++) {
    if (dw_type(args[i]) != T_INT) return false;
    a[i] = int_of(args[i]);
  }
  int32_t r;
  if (!run(p, a, &r)) return false;
  *result = int_value(r);
  return true;
}
