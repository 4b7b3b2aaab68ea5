// Compiling functions and loops into their numeric form. Covered: variables, Integer and Float
// literals, + - * / % ** of any length, & | ^ ~ << >> >>>, comparisons, ! && || and ?:, calls of
// compiled functions by their global names; =, the compound assignments, ++ and -- on variables;
// if/else, blocks, while, do, for, break, continue, return, var with a value; elements and
// object members (o.name, o[k]) read and written, with the compound assignments and steps (a
// function's write only as its last act); object literals and constructors that only give this
// members; Math's number functions; string literals and values, their comparisons, +, truth,
// switch over literals, length, charAt, charCodeAt, indexOf, substring and, in loops, their
// stores and appends; other calls of built-in methods through their tables' rows. Anything else
// leaves the function (or loop) to the tree. Comparisons and logical operators give true or
// false, which only conditions and other logical operators may use: no variable ever holds one.
#include <cstdlib>
#include <cstring>
#include <functional>

#include "eval/compile_form.h"
#include "eval/plugins.h"
#include "platform/layout.h"

namespace form {

constexpr int MAX_FORMS = 512;
constexpr int MAX_CODE = 4096;
constexpr int MAX_LOOPS = 16;
constexpr int MAX_JUMPS = 64;

LARGE_STATIC Form form_table[MAX_FORMS];
Form* forms = form_table;
int nforms;

namespace {

// Forms by key handle: index + 1 (0: not looked at yet).
constexpr int CACHE = 1024;
LARGE_STATIC DW cache_key[CACHE];
int16_t cache_val[CACHE];
inline unsigned cache_slot(DW key) { return (key ^ (key >> 10)) & (CACHE - 1); }

// What an expression leaves on the stack: a number, a truth (1 or 0), a string, or a number or
// a string.
enum Kind { K_NONE, K_NUM, K_BOOL, K_STR, K_ANY };

struct Labels {
  int breaks[MAX_JUMPS], nbreaks;
  int conts[MAX_JUMPS], nconts;
  bool isSwitch;   // a switch takes break only; continue goes on to the loop around it
};

struct Builder {
  Form* f;
  Ins* code;
  int cap;   // entries code has room for (grown up to MAX_CODE)
  int depth;
  Labels loops[MAX_LOOPS];
  int nloops;
  int stores;   // stores and calls emitted (a statement with more than one needs a snapshot)
  bool elementStore;   // the statement writes a member or pushes (which no snapshot undoes)
  bool logged;         // it writes an element or a variable's value, which a snapshot undoes by
                       // its log of the values replaced
  int nlogged;         // log entries its writes may take at most
  int stmtLoops;       // loops open where the statement begins
  bool subloops;       // inner loops of a loop's statement are the tree's (I_SUBLOOP)
  bool wholeStep;      // the statement itself is the tree's (I_SUBLOOP)
  int subloopAt;       // the last I_SUBLOOP emitted (-1: none)
  // Writes that no snapshot undoes and after which nothing may hand back: in a loop the
  // statement's string writes, changing library rows and calls of writing functions; in a
  // function every element or member write and every call of a writing function.
  int finals[MAX_JUMPS];
  int nfinals;
  bool wantNumber;   // the expression compiled next must give a number (a library call then asks for one)
  int fence;    // a jump lands here: the instruction before may not be folded into the next
  // The node entered last whose position no instruction carries yet: the tree sets the error
  // position when it enters a node, so the next instruction takes it over.
  int pendMod;
  uint32_t pendPos;
  // Catch parameters in scope: they hold no cell, so code that names one is not compiled (nor
  // run by the tree, which would not see them bound).
  uint32_t hidden[MAX_LANDINGS];
  int nhidden;
  int tryBlocks;   // try blocks open: what runs in them must throw only through the form
};

inline bool hidden_name(const Builder& b, uint32_t nm) {
  for (int i = 0; i < b.nhidden; i++)
    if (b.hidden[i] == nm) return true;
  return false;
}

void enter(Builder& b, const NodeRec* r) {
  b.pendMod = r->modflags & 0x7F;
  b.pendPos = r->pos & POSITION_MASK;
}

inline bool is_name(DW t) { return dw_type(t) == T_CONST && t >= 5; }
inline NodeRec* node_of(DW t) { return dw_type(t) == T_NODE ? node_rec(t) : nullptr; }

// Where the code stood, so that a call compiled half way can be taken back.
struct CodeMark {
  int n, depth, pendMod, nfinals;
  uint32_t pendPos;
  explicit CodeMark(const Builder& b)
      : n(b.f->n), depth(b.depth), pendMod(b.pendMod), nfinals(b.nfinals), pendPos(b.pendPos) {}
  void restore(Builder& b) const {
    b.f->n = n;
    b.depth = depth;
    b.pendMod = pendMod;
    b.nfinals = nfinals;
    b.pendPos = pendPos;
  }
};

bool emit(Builder& b, uint8_t op, int delta, uint8_t aux = 0, int cell = 0, int32_t imm = 0, Cell k = 0) {
  if (b.f->n == b.cap) {
    // Grown in steps: most forms are small, and a buffer past malloc's mmap threshold costs
    // two system calls and fresh pages on every first call.
    if (b.cap == MAX_CODE) return false;
    Ins* grown = static_cast<Ins*>(std::realloc(b.code, sizeof(Ins) * static_cast<size_t>(b.cap) * 2));
    if (!grown) return false;
    b.code = grown;
    b.cap *= 2;
  }
  b.depth += delta;
  if (b.depth > MAX_STACK - 2) return false;
  if (b.depth > b.f->nstack) b.f->nstack = b.depth;
  if (op >= I_LOAD_ANY) b.f->strings = true;
  if (op == I_INDEX || op == I_INDEX_VALUE || op == I_INDEX_STORE) b.f->keys = true;
  uint8_t mod = NO_NODE;
  uint32_t pos = 0;
  if (b.pendMod >= 0) {
    mod = static_cast<uint8_t>(b.pendMod);
    pos = b.pendPos;
    b.pendMod = -1;
  }
  b.code[b.f->n++] = Ins{op, aux, R_STACK, mod, static_cast<uint16_t>(cell), 0, imm, pos, k, 0};
  return true;
}

// The instruction just emitted is a write that nothing after it may hand back (see finals).
bool note_final(Builder& b) {
  if (b.nfinals == MAX_JUMPS) return false;
  b.finals[b.nfinals++] = b.f->n - 1;
  return true;
}

// A function's write of an element or a member (or its call of a function that writes one): the
// function's run must then end after it without handing back, since the tree would run the
// whole call again (checked when the function is done, see ends_function).
bool function_write(Builder& b) {
  if (b.f->loop) return true;
  b.f->writes = true;
  return note_final(b);
}

// The position of the next instruction, as a jump target (a node entered before it keeps its
// own instruction, so that jumps to the target do not enter it again).
int here(Builder& b) {
  if (b.pendMod >= 0) emit(b, I_POS, 0);
  return b.fence = b.f->n;
}

// Gives the instruction just emitted the operand folded into it (and, when folded, the position
// of the instruction it replaced).
bool set_right(Builder& b, uint8_t right, uint16_t rcell, uint8_t mod, uint32_t pos) {
  Ins& in = b.code[b.f->n - 1];
  in.right = right;
  in.rcell = rcell;
  if (right != R_STACK) {
    in.mod = mod;
    in.pos = pos;
  }
  return true;
}

// Emits an operation whose right operand (b) was pushed last: a variable or a literal pushed by
// the instruction just before is folded into the operation.
bool emit_right(Builder& b, uint8_t op, int delta, uint8_t aux = 0, int cell = 0, int32_t imm = 0) {
  uint8_t right = R_STACK;
  uint16_t rcell = 0;
  Cell k = 0;
  uint8_t mod = NO_NODE;
  uint32_t pos = 0;
  if (b.f->n > 0 && b.fence != b.f->n && b.pendMod < 0) {
    const Ins& last = b.code[b.f->n - 1];
    if (last.op == I_LOAD || last.op == I_CONST) {
      right = last.op == I_LOAD ? R_CELL : R_CONST;
      rcell = last.cell;
      k = last.k;
      mod = last.mod;
      pos = last.pos;
      b.f->n--;
      b.depth--;
      delta++;
    }
  }
  return emit(b, op, delta, aux, cell, imm, k) && set_right(b, right, rcell, mod, pos);
}

// The cell of a name: a function's parameters and var locals are its cells; a loop adds a cell
// for every name it uses (resolved when it starts). -1 when the name is not one.
int cell_of(Builder& b, DW name, bool write) {
  uint32_t nm = name & NAME_MASK;
  Form* f = b.f;
  if (hidden_name(b, nm)) return -1;
  for (int c = 0; c < f->ncells; c++) {
    if (f->names[c] == nm) {
      f->written[c] |= write;
      return c;
    }
  }
  if (!f->loop || f->ncells == MAX_CELLS) return -1;
  f->names[f->ncells] = nm;
  f->written[f->ncells] = write;
  return f->ncells++;
}

// The global slot a function reads for a name that is none of its own (-1 when there is none
// yet, or in a loop: a loop's names are all cells).
int global_of(Builder& b, DW name) {
  Form* f = b.f;
  if (f->loop) return -1;
  uint32_t nm = name & NAME_MASK;
  if (hidden_name(b, nm)) return -1;
  for (int c = 0; c < f->ncells; c++)
    if (f->names[c] == nm) return -1;
  int g = global_find_down(nm);
  if (g < 0) return -1;
  for (int i = 0; i < f->nglobals; i++)
    if (f->gnames[i] == nm) return g;
  if (f->nglobals == MAX_GLOBALS) return -1;
  f->gnames[f->nglobals] = nm;
  f->gslots[f->nglobals++] = g;
  return g;
}

Kind expr(Builder& b, DW t);
int find_form(DW key, bool loop, bool* found, bool ctor = false);

bool number(Builder& b, DW t) {
  b.wantNumber = true;
  return expr(b, t) == K_NUM;
}

inline bool is_member_read(const NodeRec* r) {
  return r && r->op == OP_MEMBER && (r->a2 & NAME_MASK) != NAME_LENGTH;
}
bool call(Builder& b, NodeRec* r, bool discard, MemberWant want = M_NUMBER);
void note_logged(Builder& b, int n);

// Emits a member operation on the object pushed last: an object cell loaded by the instruction
// just before is folded into it.
bool emit_obj(Builder& b, uint8_t op, int delta, uint8_t aux, int32_t imm, Cell k = 0) {
  uint8_t right = R_STACK, mod = NO_NODE;
  uint16_t rcell = 0;
  uint32_t pos = 0;
  if (b.f->n > 0 && b.fence != b.f->n && b.pendMod < 0 && b.code[b.f->n - 1].op == I_LOAD_OBJ) {
    const Ins& last = b.code[b.f->n - 1];
    right = R_CELL;
    rcell = last.cell;
    mod = last.mod;
    pos = last.pos;
    b.f->n--;
    b.depth--;
    delta++;
  }
  return emit(b, op, delta, aux, 0, imm, k) && set_right(b, right, rcell, mod, pos);
}

bool object_expr(Builder& b, DW t);

// o.name (its node entered already): the member as a number, an object or either.
bool member_read(Builder& b, NodeRec* r, MemberWant want) {
  return object_expr(b, r->a1) && emit_obj(b, I_MEMBER, 0, want, static_cast<int32_t>(r->a2 & NAME_MASK));
}

// a[i] of a variable (its node entered already) as a number or an object.
bool index_value(Builder& b, NodeRec* r) {
  if (!is_name(r->a1)) return false;
  int c = cell_of(b, r->a1, false), g = c < 0 ? global_of(b, r->a1) : -1;
  if (c < 0 && g < 0) return false;
  return number(b, r->a2) && emit_right(b, I_INDEX_VALUE, 0, c < 0, c < 0 ? 0 : c, g);
}

// An expression whose value must be an object: a variable, a member or an element.
bool object_expr(Builder& b, DW t) {
  if (is_name(t)) {
    int c = cell_of(b, t, false);
    return c >= 0 && emit(b, I_LOAD_OBJ, 1, 0, c);
  }
  NodeRec* r = node_of(t);
  if (!r) return false;
  enter(b, r);
  if (r->op == OP_GROUP && rec_argc(r) == 1) return object_expr(b, r->a1);
  if (is_member_read(r)) return member_read(b, r, M_OBJECT);
  if (r->op == OP_INDEX) return index_value(b, r);
  return false;
}

// Whether a literal's member needs no evaluation (the tree then uses the literal itself).
bool plain_member(DW e, int depth);
bool plain_literal(DW lit, int depth) {
  if (depth > 8) return false;
  const DW* pairs;
  uint32_t n;
  if (dw_type(lit) == T_OBJECT) {
    auto* o = obj_rec(lit);
    n = o->count;
    pairs = n ? static_cast<const DW*>(area_ptr(o->pairs)) : nullptr;
    for (uint32_t i = 0; i < n; i++)
      if (!plain_member(pairs[2 * i + 1], depth)) return false;
    return true;
  }
  return false;
}
bool plain_member(DW e, int depth) {
  switch (dw_type(e)) {
    case T_INT: case T_FLOAT: return true;
    case T_STRING: return (str_rec(e)->flags & STR_TEMPLATE) == 0;
    case T_OBJECT: return plain_literal(e, depth + 1);
    default: return false;
  }
}

// {name: e, ...}, a literal with members to evaluate: a new object. Members are constants (and
// plain literals, which the tree shares), numbers computed and, in functions, variables.
bool object_literal(Builder& b, DW lit) {
  if (dw_type(lit) != T_OBJECT || plain_literal(lit, 0)) return false;
  const auto* o = obj_rec(lit);
  uint32_t n = o->count;
  if (n == 0 || n > 16 || b.f->nplan + static_cast<int>(n) > MAX_PLAN) return false;
  const DW* pairs = static_cast<const DW*>(area_ptr(o->pairs));
  int start = b.f->nplan, pushed = 0;
  for (uint32_t i = 0; i < n; i++) {
    DW e = pairs[2 * i + 1];
    NodeRec* r = node_of(e);
    uint16_t entry;
    if (plain_member(e, 0) || (dw_type(e) == T_CONST && !is_name(e))) {
      entry = P_CONSTANT << 8;
    } else if (is_name(e)) {
      int c = b.f->loop ? -1 : cell_of(b, e, false);
      if (c < 0 || c >= 32) return false;
      if (c < b.f->nparams) b.f->sharedParams |= 1u << c;
      entry = static_cast<uint16_t>(P_CELL << 8 | c);
    } else if (r && !is_member_read(r) && r->op != OP_INDEX && r->op != OP_CALL && number(b, e)) {
      entry = P_NUMBER << 8;
      pushed++;
    } else {
      return false;
    }
    b.f->plan[b.f->nplan++] = entry;
  }
  if (!emit(b, I_OBJECT, 1 - pushed, static_cast<uint8_t>(n), 0, static_cast<int32_t>(lit))) return false;
  b.code[b.f->n - 1].rcell = static_cast<uint16_t>(start);
  return true;
}

// A value that becomes a variable's or a function's result as it is: a new object, or a call
// whose result may be one.
bool fresh_value(Builder& b, DW t) {
  if (dw_type(t) == T_OBJECT) return object_literal(b, t);
  NodeRec* r = node_of(t);
  if (!r || (r->op != OP_CALL && r->op != OP_NEW)) return false;
  enter(b, r);
  return call(b, r, false, M_VALUE);
}

// Whether a call node is one of Math's.
bool math_call_node(const NodeRec* r) {
  NodeRec* m = node_of(r->a1);
  return m && m->op == OP_MEMBER && dw_type(m->a1) == T_CONST && m->a1 == NAME_MATH;
}

// Whether a call is of a compiled function whose result may be a new object.
bool returns_object(const NodeRec* r) {
  if (!is_name(r->a1)) return false;
  int g = global_find_down(r->a1 & NAME_MASK);
  if (g < 0 || dw_type(global_table[g].value) != T_FUNC) return false;
  bool found;
  int idx = find_form(func_body(global_table[g].value), false, &found);
  return idx >= 0 && forms[idx].state == S_READY && forms[idx].returnsObject;
}

// Math's abs, ceil, floor, trunc, round, pow, max and min on numbers (anything else is the
// tree's). An argc of 0: one to MAX_MATH_ARGS arguments.
bool math_call(Builder& b, NodeRec* r) {
  NodeRec* m = node_of(r->a1);
  if (!m || m->op != OP_MEMBER || dw_type(m->a1) != T_CONST || m->a1 != NAME_MATH) return false;
  if (hidden_name(b, NAME_MATH & NAME_MASK)) return false;
  static constexpr struct { const char* name; uint8_t index, argc; } FUNCS[] = {
      {"abs", 0, 1}, {"ceil", 1, 1}, {"floor", 2, 1}, {"trunc", 3, 1}, {"round", 4, 1}, {"pow", 6, 2},
      {"max", 7, 0}, {"min", 8, 0}};
  constexpr uint32_t MAX_MATH_ARGS = 8;
  uint32_t name = m->a2 & NAME_MASK;
  const char* text = name_text(name);
  size_t len = name_length(name);
  uint32_t n = arglist_count(r->a2);
  const DW* args = arglist_args(r->a2);
  for (const auto& fn : FUNCS) {
    if (std::strlen(fn.name) != len || std::memcmp(fn.name, text, len) != 0) continue;
    if (fn.argc ? n != fn.argc : n < 1 || n > MAX_MATH_ARGS) return false;
    for (uint32_t i = 0; i < n; i++)
      if (!number(b, args[i])) return false;
    return emit(b, I_MATH, 1 - static_cast<int>(n), fn.index, 0, static_cast<int32_t>(n));
  }
  return false;
}

// An index that runs no code of its own: variables, numbers and + - * % of them.
bool plain_index(DW t) {
  if (is_name(t) || dw_type(t) == T_INT) return true;
  NodeRec* r = node_of(t);
  if (!r || !(r->op == OP_ADD || r->op == OP_SUB || r->op == OP_MUL || r->op == OP_MOD || r->op == OP_GROUP)) return false;
  uint32_t n = rec_argc(r);
  const DW* a = rec_args(r);
  for (uint32_t i = 0; i < n; i++)
    if (!plain_index(a[i])) return false;
  return true;
}

// a[i] of a variable: the index is evaluated after the (plain) read of a. I_INDEX_TRUTH, for a
// test, also takes an element that is true or false.
bool index_read(Builder& b, NodeRec* r, uint8_t op) {
  NodeRec* row = node_of(r->a1);
  if (row && row->op == OP_INDEX && is_name(row->a1) && plain_index(row->a2) && plain_index(r->a2)) {
    // a[i][k]: the row a[i] (an array) is read first, then k; nothing between them can run
    // code that would drop the row, so it is held by the stack without a reference.
    int c = cell_of(b, row->a1, false), g = c < 0 ? global_of(b, row->a1) : -1;
    if (c < 0 && g < 0) return false;
    enter(b, row);
    if (!number(b, row->a2) || !emit_right(b, I_ROW, 0, c < 0, c < 0 ? 0 : c, g)) return false;
    return number(b, r->a2) && emit_right(b, op, -1, 2);
  }
  if (!is_name(r->a1)) return false;
  int c = cell_of(b, r->a1, false), g = c < 0 ? global_of(b, r->a1) : -1;
  if (c < 0 && g < 0) return false;
  return number(b, r->a2) && emit_right(b, op, 0, c < 0, c < 0 ? 0 : c, g);
}

// A literal stored as it is: a number, true, false or null.
inline bool plain_literal(DW v) {
  return dw_type(v) == T_INT || dw_type(v) == T_FLOAT || v == DW_TRUE || v == DW_FALSE || v == DW_NULL;
}

// A call of a compiled function; want M_VALUE: its result may be an object.
bool call(Builder& b, NodeRec* r, bool discard, MemberWant want) {
  DW callee = r->a1;
  bool ctor = r->op == OP_NEW;
  if (!is_name(callee) || callee == NAME_NUMBER || callee == NAME_STRING || callee == NAME_DATE) return false;
  uint32_t nm = callee & NAME_MASK;
  if (ctor && (nm == NAME_INTEGER || nm == NAME_FLOAT || nm == NAME_ERROR || nm == NAME_EXCEPTION ||
               nm == NAME_REGEXP || nm == NAME_ARRAY))
    return false;   // the library's own constructors
  if (hidden_name(b, nm)) return false;
  for (int c = 0; c < b.f->ncells; c++)
    if (b.f->names[c] == nm) return false;   // a variable of the function, not the global
  int g = global_find_down(nm);
  if (g < 0 || dw_type(global_table[g].value) != T_FUNC || b.f->ncallees == MAX_CALLEES) return false;
  DW fv = global_table[g].value;
  int target = ctor ? compile_constructor(fv) : compile_function(fv);
  if (target < 0) return false;
  // Arguments past the callee's parameters are not evaluated, as on the tree; missing ones
  // would be undefined.
  uint32_t n = arglist_count(r->a2);
  const DW* args = arglist_args(r->a2);
  int np = forms[target].nparams;
  if (static_cast<int>(n) < np || np > 32) return false;
  uint32_t fresh = 0;
  uint64_t sourced = 0;
  bool built = forms[target].state == S_READY;
  for (int i = 0; i < np; i++) {
    NodeRec* a = node_of(args[i]);
    bool shared = built && (forms[target].sharedParams >> i & 1);
    if (is_name(args[i])) {
      // A variable: a number or an object (an object when the callee's literal shares it).
      int c = cell_of(b, args[i], false);
      if (c >= 0 && shared && b.f->loop) {
        // A loop hands the variable's value itself to the literal that shares it.
        if (!emit(b, I_LOAD_SOURCE, 1, 0, c)) return false;
        note_logged(b, 1);
        fresh |= 1u << i;
        sourced |= uint64_t(1) << i;
        continue;
      }
      if (c >= 0) {
        if (!emit(b, shared ? I_LOAD_OBJ : I_LOAD_VALUE, 1, 0, c)) return false;
        if (shared) fresh |= 1u << i;
        continue;
      }
    } else if (a && (is_member_read(a) || a->op == OP_INDEX)) {
      // A member or an element: its value itself is handed over, as the tree hands it.
      enter(b, a);
      if (!(is_member_read(a) ? member_read(b, a, M_VALUE) : index_value(b, a))) return false;
      fresh |= 1u << i;
      sourced |= uint64_t(1) << i;
      continue;
    } else if (a && ((a->op >= OP_ADD && a->op <= OP_MOD) || a->op == OP_POW)) {
      fresh |= 1u << i;   // arithmetic makes a new number
    }
    if (!number(b, args[i])) return false;
  }
  // A callee that writes elements or members does what no hand-back undoes: its call must be
  // the last thing that can hand back, and its result (which may be one that hands back) unused.
  // A callee still being built is taken not to write, and fails if it then does.
  bool writes = forms[target].state == S_READY && forms[target].writes;
  if (forms[target].state == S_BUILDING) forms[target].takenPure = true;
  if (writes && !discard) return false;
  b.f->callees[b.f->ncallees++] = Callee{nm, fv, target, want != M_VALUE, false, fresh};
  b.stores++;
  here(b);   // the arguments stay on the stack
  if (!emit(b, I_CALL, (discard ? 0 : 1) - np, static_cast<uint8_t>(np), discard ? 1 : 0, target, sourced)) return false;
  b.code[b.f->n - 1].rcell = want == M_VALUE;   // the result may go into a variable as it is
  if (ctor && !emit(b, I_CTOR, 0, 0, 0, static_cast<int32_t>(nm))) return false;
  if (!writes) return true;
  if (b.f->loop) {
    b.elementStore = true;
    return note_final(b);
  }
  return function_write(b);
}

// A string literal that the tree uses as it is (a template is evaluated).
inline bool string_literal(DW t) { return dw_type(t) == T_STRING && (str_rec(t)->flags & STR_TEMPLATE) == 0; }

// The String method a call node makes (charAt, charCodeAt, indexOf, substring with counts the
// method takes), on a receiver that is a variable (not a static object), a string literal, a
// member or an element; -1 for any other call.
int string_op(const NodeRec* r) {
  NodeRec* m = node_of(r->a1);
  if (!m || m->op != OP_MEMBER) return -1;
  DW recv = m->a1;
  NodeRec* rr = node_of(recv);
  if (is_name(recv) ? is_static_object(recv & NAME_MASK) : !(string_literal(recv) || is_member_read(rr) || (rr && rr->op == OP_INDEX && is_name(rr->a1))))
    return -1;
  static constexpr struct { const char* name; uint8_t op, minArgs, maxArgs; } OPS[] = {
      {"charAt", S_CHAR_AT, 1, 1}, {"charCodeAt", S_CHAR_CODE_AT, 1, 1},
      {"indexOf", S_INDEX_OF, 1, 2}, {"substring", S_SUBSTRING, 1, 2}};
  uint32_t name = m->a2 & NAME_MASK;
  size_t len = name_length(name);
  uint32_t n = arglist_count(r->a2);
  for (const auto& o : OPS)
    if (std::strlen(o.name) == len && std::memcmp(o.name, name_text(name), len) == 0)
      return n >= o.minArgs && n <= o.maxArgs ? o.op : -1;
  return -1;
}

bool lib_gives_string(const NodeRec* r);

// Whether an expression is seen to give a string: a literal, a String method that makes one,
// a + with such an operand, or a variable the code uses as a string.
bool stringish(Builder& b, DW t, int depth = 0) {
  if (string_literal(t)) return true;
  if (is_name(t)) {
    uint32_t nm = t & NAME_MASK;
    for (int c = 0; c < b.f->ncells; c++)
      if (b.f->names[c] == nm) return b.f->textual[c];
    return false;
  }
  NodeRec* r = node_of(t);
  if (!r || depth > 8) return false;
  if (r->op == OP_GROUP) return rec_argc(r) == 1 && stringish(b, r->a1, depth + 1);
  if (r->op == OP_CALL) {
    int op = string_op(r);
    return op == S_CHAR_AT || op == S_SUBSTRING || (op < 0 && lib_gives_string(r));
  }
  if (r->op == OP_ADD) {
    uint32_t n = rec_argc(r);
    const DW* a = rec_args(r);
    for (uint32_t i = 0; i < n; i++)
      if (stringish(b, a[i], depth + 1)) return true;
  }
  return false;
}

// Marks a variable as used as a string.
void textual(Builder& b, DW t) {
  if (!is_name(t)) return;
  int c = cell_of(b, t, false);
  if (c >= 0) b.f->textual[c] = true;
}

// A value that may be a number or a string: variables, members and elements as they are.
Kind any_expr(Builder& b, DW t) {
  if (is_name(t)) {
    int c = cell_of(b, t, false);
    if (c < 0) return expr(b, t);   // a function's global: a number
    return emit(b, I_LOAD_ANY, 1, 0, c) ? K_ANY : K_NONE;
  }
  NodeRec* r = node_of(t);
  if (r && r->op == OP_GROUP && rec_argc(r) == 1) {
    enter(b, r);
    return any_expr(b, r->a1);
  }
  if (r && is_member_read(r)) {
    enter(b, r);
    return member_read(b, r, M_VALUE) ? K_ANY : K_NONE;
  }
  if (r && r->op == OP_INDEX && is_name(r->a1)) {
    enter(b, r);
    return index_value(b, r) ? K_ANY : K_NONE;
  }
  Kind k = expr(b, t);
  return k == K_BOOL ? K_NONE : k;
}

// A truth left as 1 or 0: a string's (or a value's that may be one) is tested first.
bool as_truth(Builder& b, Kind k) {
  if (k == K_NONE) return false;
  return (k != K_STR && k != K_ANY) || emit(b, I_STR_TRUTH, 0);
}

// s.method(args): the arguments first, then the receiver (as the tree evaluates a method call).
Kind string_call(Builder& b, NodeRec* r, int op) {
  NodeRec* m = node_of(r->a1);
  uint32_t n = arglist_count(r->a2);
  const DW* args = arglist_args(r->a2);
  for (uint32_t i = 0; i < n; i++) {
    if (op == S_INDEX_OF && i == 0 ? any_expr(b, args[i]) == K_NONE : !number(b, args[i])) return K_NONE;
  }
  DW recv = m->a1;
  int rc = -1;
  if (is_name(recv)) {
    rc = cell_of(b, recv, false);
    if (rc < 0) return K_NONE;
    b.f->textual[rc] = true;
  } else if (string_literal(recv)) {
    if (!emit(b, I_CONST, 1, 0, 0, 0, string_cell(recv))) return K_NONE;
  } else if (any_expr(b, recv) == K_NONE) {
    return K_NONE;
  }
  if (!emit(b, I_STR_CALL, (rc >= 0 ? 1 : 0) - static_cast<int>(n), static_cast<uint8_t>(op), 0, static_cast<int32_t>(n)))
    return K_NONE;
  if (rc >= 0) {
    b.code[b.f->n - 1].right = R_CELL;
    b.code[b.f->n - 1].rcell = static_cast<uint16_t>(rc);
  }
  return op == S_CHAR_AT || op == S_SUBSTRING ? K_STR : K_NUM;
}

// a + b + ... with a string among them: folded pair by pair from the left, as the tree adds.
Kind concat(Builder& b, NodeRec* r) {
  uint32_t n = rec_argc(r);
  const DW* a = rec_args(r);
  Kind k = any_expr(b, a[0]);
  if (k == K_NONE) return K_NONE;
  bool str = k == K_STR;
  for (uint32_t i = 1; i < n; i++) {
    Kind ki = any_expr(b, a[i]);
    if (ki == K_NONE || !emit_right(b, I_CONCAT, -1)) return K_NONE;
    str |= ki == K_STR;
  }
  return str ? K_STR : K_ANY;
}

// A comparison with a string on either side: both sides as they are.
Kind string_compare(Builder& b, NodeRec* r, uint8_t op, uint8_t aux) {
  textual(b, r->a1);
  textual(b, r->a2);
  return any_expr(b, r->a1) != K_NONE && any_expr(b, r->a2) != K_NONE && emit_right(b, op, -1, aux) ? K_BOOL : K_NONE;
}

// && and ||: true or false, each operand tested in turn.
Kind logical(Builder& b, NodeRec* r) {
  bool isAnd = r->op == OP_AND;
  uint32_t n = rec_argc(r);
  DW* a = rec_args(r);
  if (n > MAX_JUMPS) return K_NONE;
  int exits[MAX_JUMPS];
  for (uint32_t i = 0; i < n; i++) {
    if (!as_truth(b, expr(b, a[i]))) return K_NONE;
    exits[i] = b.f->n;
    if (!emit(b, isAnd ? I_JFALSE : I_JTRUE, -1)) return K_NONE;
  }
  // Every operand passed: && is true, || is false.
  if (!emit(b, I_CONST, 1, 0, 0, 0, int_cell(isAnd ? 1 : 0))) return K_NONE;
  int j = b.f->n;
  if (!emit(b, I_JUMP, 0)) return K_NONE;
  int t = here(b);
  for (uint32_t i = 0; i < n; i++) b.code[exits[i]].imm = t;
  b.depth--;
  if (!emit(b, I_CONST, 1, 0, 0, 0, int_cell(isAnd ? 0 : 1))) return K_NONE;
  b.code[j].imm = here(b);
  return K_BOOL;
}

// ---- library methods through their rows ----

// The rows a call node may run, as its receiver's type picks the table at run time: the String
// and Array rows of its name that take its argument count, or a static object's row. False when
// it is no method call or every table would refuse it (the tree raises that).
struct LibRows {
  const MethodRow* str;
  const MethodRow* arr;
  const MethodRow* stat;
  LibStatic table;
};

bool lib_rows(const NodeRec* r, LibRows* out) {
  NodeRec* m = node_of(r->a1);
  if (!m || m->op != OP_MEMBER || r->op != OP_CALL) return false;
  uint32_t name = m->a2 & NAME_MASK, n = arglist_count(r->a2);
  if (n > 16) return false;
  *out = LibRows{nullptr, nullptr, nullptr, LS_NONE};
  DW recv = m->a1;
  if (dw_type(recv) == T_CONST && is_static_object(recv)) {
    // The tree calls a static object's table whatever a variable of that name holds.
    LibStatic which = recv == NAME_MATH ? LS_MATH : recv == NAME_NUMBER ? LS_NUMBER : recv == NAME_STRING ? LS_STRING
                    : recv == NAME_OBJECT ? LS_OBJECT : LS_NONE;
    if (which == LS_NONE) return false;   // console writes, Date reads the clock: the tree's
    const MethodRow* row = method_find(*lib_static_table(which), name, static_cast<int>(n));
    if (!row) return false;
    out->stat = row;
    out->table = which;
    return true;
  }
  out->str = method_find(string_methods, name, static_cast<int>(n));
  out->arr = method_find(array_methods, name, static_cast<int>(n));
  return out->str || out->arr;
}

// What the rows have in common: one of them keeps what it is given, one changes it, one gives
// a string.
inline bool rows_any(const LibRows& l, uint8_t trait, bool set) {
  for (const MethodRow* m : {l.str, l.arr, l.stat})
    if (m && ((m->traits & trait) != 0) == set) return true;
  return false;
}

bool lib_gives_string(const NodeRec* r) {
  LibRows l;
  return lib_rows(r, &l) && rows_any(l, ROW_STRING, true);
}

// An argument: a variable as it is (a number, a string, an array or an object), else any value
// that is a number or a string.
bool lib_arg(Builder& b, DW t) {
  if (is_name(t)) {
    int c = cell_of(b, t, false);
    if (c >= 0) return emit(b, I_LOAD_ARG, 1, 0, c);
  }
  return any_expr(b, t) != K_NONE;
}

// recv.name(args) by the rows: the arguments first, then the receiver, as the tree evaluates a
// method call. A row that changes what it is given runs only in a loop, as a statement or
// straight into a variable, with nothing after it in its statement that may hand back (its
// write, like a string write, is one no snapshot undoes); elsewhere such a row hands back before
// it runs. LM_STORE writes the result into the variable of cell c.
Kind lib_call(Builder& b, NodeRec* r, LibMode mode, int c) {
  LibRows l;
  if (!lib_rows(r, &l)) return K_NONE;
  bool loopWrite = b.f->loop && (mode == LM_DISCARD || mode == LM_STORE);
  if (!loopWrite && !rows_any(l, ROW_KEEPS, true)) return K_NONE;   // it could only hand back
  if (mode == LM_STORE && !b.f->loop) return K_NONE;
  NodeRec* m = node_of(r->a1);
  uint32_t n = arglist_count(r->a2);
  const DW* args = arglist_args(r->a2);
  for (uint32_t i = 0; i < n; i++)
    if (!lib_arg(b, args[i])) return K_NONE;
  uint8_t aux = mode;
  if (loopWrite && rows_any(l, ROW_KEEPS, false)) aux |= LF_CHANGES;
  Cell k = 0;
  int rc = -1;
  DW recv = m->a1;
  if (l.stat) {
    aux |= LF_STATIC;
    k = static_cast<Cell>(l.stat - lib_static_table(l.table)->rows + 1) | static_cast<Cell>(l.table) << 24 |
        static_cast<Cell>(recv) << 32;
  } else {
    if (l.str) k |= static_cast<Cell>(l.str - string_methods.rows + 1);
    if (l.arr) k |= static_cast<Cell>(l.arr - array_methods.rows + 1) << 8;
    if (is_name(recv)) {
      rc = cell_of(b, recv, false);
      if (rc < 0) return K_NONE;
      if (l.str) b.f->textual[rc] = true;
    } else if (string_literal(recv)) {
      if (!emit(b, I_CONST, 1, 0, 0, 0, string_cell(recv))) return K_NONE;
    } else if (any_expr(b, recv) == K_NONE) {
      return K_NONE;
    }
  }
  bool pushes = mode == LM_ANY || mode == LM_NUMBER;
  int delta = (pushes ? 1 : 0) - static_cast<int>(n) - (l.stat || rc >= 0 ? 0 : 1);
  if (!emit(b, I_METHOD, delta, aux, c, static_cast<int32_t>(n), k)) return K_NONE;
  if (rc >= 0) {
    b.code[b.f->n - 1].right = R_CELL;
    b.code[b.f->n - 1].rcell = static_cast<uint16_t>(rc);
  }
  b.f->library = true;
  if (loopWrite && ((aux & LF_CHANGES) || mode == LM_STORE)) {
    if (!note_final(b)) return K_NONE;
    b.stores++;
    if (aux & LF_CHANGES) b.elementStore = true;
  }
  if (mode == LM_STORE && rows_any(l, ROW_STRING, true)) b.f->textual[c] = true;
  return mode == LM_NUMBER ? K_NUM : mode == LM_ANY ? K_ANY : K_NUM;
}

// x = recv.name(args) in a loop: the result, whatever it is, goes into the variable at once (the
// String methods and Math functions of the form's own keep their paths).
bool lib_store(Builder& b, DW v, int c, bool* done) {
  NodeRec* r = node_of(v);
  LibRows l;
  *done = false;
  if (!b.f->loop || !r || r->op != OP_CALL || string_op(r) >= 0 || !lib_rows(r, &l)) return true;
  if (math_call_node(r) && rows_any(l, ROW_KEEPS, true)) return true;
  *done = true;
  enter(b, r);
  return lib_call(b, r, LM_STORE, c) != K_NONE;
}

Kind expr(Builder& b, DW t) {
  bool wantNumber = b.wantNumber;
  b.wantNumber = false;
  if (is_name(t)) {
    int c = cell_of(b, t, false);
    if (c >= 0) return emit(b, I_LOAD, 1, 0, c) ? K_NUM : K_NONE;
    int g = global_of(b, t);
    return g >= 0 && emit(b, I_GLOBAL, 1, 0, 0, g) ? K_NUM : K_NONE;
  }
  if (dw_type(t) == T_INT) return emit(b, I_CONST, 1, 0, 0, 0, int_cell(int_of(t))) ? K_NUM : K_NONE;
  if (dw_type(t) == T_FLOAT) {
    Cell k = float_cell(float_of(t));
    return cell_is_float(k) && emit(b, I_CONST, 1, 0, 0, 0, k) ? K_NUM : K_NONE;
  }
  if (t == DW_TRUE || t == DW_FALSE) return emit(b, I_CONST, 1, 0, 0, 0, int_cell(t == DW_TRUE)) ? K_BOOL : K_NONE;
  if (string_literal(t)) return emit(b, I_CONST, 1, 0, 0, 0, string_cell(t)) ? K_STR : K_NONE;
  NodeRec* r = node_of(t);
  if (!r) return K_NONE;
  enter(b, r);
  uint32_t n = rec_argc(r);
  DW* a = rec_args(r);
  switch (r->op) {
    case OP_GROUP:
      b.wantNumber = wantNumber;
      return n == 1 ? expr(b, a[0]) : K_NONE;
    case OP_ADD:
      if (stringish(b, t)) return concat(b, r);
      if (!number(b, a[0])) return K_NONE;
      for (uint32_t k = 1; k < n; k++)
        if (!number(b, a[k]) || !emit_right(b, I_ADD, -1)) return K_NONE;
      return K_NUM;
    case OP_SUB: case OP_MUL: case OP_DIV: case OP_MOD: case OP_POW:
      if (n < 2 || n > MAX_STACK / 2) return K_NONE;
      for (uint32_t k = 0; k < n; k++)
        if (!number(b, a[k])) return K_NONE;
      if (n == 2) return emit_right(b, I_ARITH2, -1, static_cast<uint8_t>(r->op)) ? K_NUM : K_NONE;
      return emit(b, I_ARITH, 1 - static_cast<int>(n), static_cast<uint8_t>(r->op), 0, static_cast<int32_t>(n)) ? K_NUM : K_NONE;
    case OP_BIT_AND: case OP_BIT_OR: case OP_BIT_XOR: {
      uint8_t bit_op = r->op == OP_BIT_AND ? I_AND2 : r->op == OP_BIT_OR ? I_OR2 : I_XOR2;
      if (!number(b, a[0])) return K_NONE;
      for (uint32_t k = 1; k < n; k++)
        if (!number(b, a[k]) || !emit_right(b, bit_op, -1)) return K_NONE;
      return K_NUM;
    }
    case OP_BIT_NOT:
      return number(b, r->a1) && emit(b, I_BIT_NOT, 0) ? K_NUM : K_NONE;
    case OP_SHL: case OP_SHR: case OP_USHR:
      return number(b, r->a1) && number(b, r->a2) && emit_right(b, I_SHIFT, -1, static_cast<uint8_t>(r->op)) ? K_NUM : K_NONE;
    case OP_EQ: case OP_NE: case OP_LT: case OP_LE: case OP_GT: case OP_GE: {
      CompareOp c = r->op == OP_EQ ? CMP_EQ : r->op == OP_NE ? CMP_NE : r->op == OP_LT ? CMP_LT
                  : r->op == OP_LE ? CMP_LE : r->op == OP_GT ? CMP_GT : CMP_GE;
      if (stringish(b, r->a1) || stringish(b, r->a2)) return string_compare(b, r, I_STR_CMP, c);
      return number(b, r->a1) && number(b, r->a2) && emit_right(b, I_CMP, -1, c) ? K_BOOL : K_NONE;
    }
    case OP_STRICT_EQ: case OP_STRICT_NE:
      if (stringish(b, r->a1) || stringish(b, r->a2)) return string_compare(b, r, I_STR_STRICT, r->op == OP_STRICT_NE);
      return number(b, r->a1) && number(b, r->a2) && emit_right(b, I_STRICT, -1, r->op == OP_STRICT_NE) ? K_BOOL : K_NONE;
    case OP_NOT:
      return as_truth(b, expr(b, r->a1)) && emit(b, I_NOT, 0) ? K_BOOL : K_NONE;
    case OP_AND: case OP_OR:
      return logical(b, r);
    case OP_COND: {
      if (!as_truth(b, expr(b, a[0]))) return K_NONE;
      int jf = b.f->n;
      if (!emit(b, I_JFALSE, -1)) return K_NONE;
      Kind k1 = expr(b, a[1]);
      int j = b.f->n;
      if (k1 == K_NONE || !emit(b, I_JUMP, 0)) return K_NONE;
      b.code[jf].imm = here(b);
      b.depth--;
      Kind k2 = expr(b, a[2]);
      if (k2 != k1) return K_NONE;
      b.code[j].imm = here(b);
      return k1;
    }
    case OP_CALL: {
      int op = string_op(r);
      if (op >= 0) return string_call(b, r, op);
      CodeMark at(b);
      if (math_call(b, r) || call(b, r, false)) return K_NUM;
      at.restore(b);   // a Math call of the form's own may have failed half way: its code goes
      return lib_call(b, r, wantNumber ? LM_NUMBER : LM_ANY, 0);
    }
    case OP_INDEX:
      return index_read(b, r, I_INDEX) ? K_NUM : K_NONE;
    case OP_MEMBER: {
      if ((r->a2 & NAME_MASK) != NAME_LENGTH) return member_read(b, r, M_NUMBER) ? K_NUM : K_NONE;
      if (!is_name(r->a1)) {
        // The length of a call's string, or of a member's or an element's (one that holds an
        // array or an object hands back: the tree counts those).
        NodeRec* c = node_of(r->a1);
        bool place = is_member_read(c) || (c && c->op == OP_INDEX && is_name(c->a1));
        if (!c || !(place || (c->op == OP_CALL && node_of(c->a1)))) return K_NONE;
        return any_expr(b, r->a1) != K_NONE && emit(b, I_LENGTH_TOP, 0) ? K_NUM : K_NONE;
      }
      int c = cell_of(b, r->a1, false), g = c < 0 ? global_of(b, r->a1) : -1;
      if (c < 0 && g < 0) return K_NONE;
      return emit(b, I_LENGTH, 1, c < 0, c < 0 ? 0 : c, g) ? K_NUM : K_NONE;
    }
    default:
      return K_NONE;
  }
}

bool stmt(Builder& b, DW t);

// A write that a snapshot's log can undo, taking up to n entries: logged while the statement's
// writes are bounded (none inside a loop of the statement's own, and no more than the log holds),
// else one that no snapshot undoes.
void note_logged(Builder& b, int n) {
  bool looped = false;
  for (int k = b.stmtLoops; k < b.nloops; k++) looped |= !b.loops[k].isSwitch;
  if (looped || b.nlogged + n > LOG_MAX) {
    b.elementStore = true;
    return;
  }
  b.logged = true;
  b.nlogged += n;
}


// a[i] = e as a statement, also o[k] = e for a member k of an object: e is evaluated first, then
// the target (its node entered, then the index). A literal is stored itself; a computed number
// goes in place into an element of the same type held by the array alone, else becomes a new
// value. In a loop a variable's value is shared with the element, as the tree shares it.
bool element_compound(Builder& b, NodeRec* r, NodeRec* t);
bool element_assign(Builder& b, NodeRec* r) {
  NodeRec* t = node_of(r->a1);
  if (!t || t->op != OP_INDEX || !is_name(t->a1)) return false;
  if (r->op != OP_ASSIGN) return element_compound(b, r, t);
  if (r->argc != 2) return false;
  DW v = r->a2;
  bool literal = plain_literal(v);
  if (literal) {
    if (dw_type(v) == T_FLOAT && !cell_is_float(float_cell(float_of(v)))) return false;
  }
  int vc = !literal && is_name(v) && b.f->loop ? cell_of(b, v, false) : -1;
  if (!literal && vc < 0 && (is_name(v) || !number(b, v))) return false;
  int c = cell_of(b, t->a1, false);
  if (c < 0) return false;
  enter(b, t);
  if (!number(b, t->a2)) return false;
  b.stores++;
  note_logged(b, 2);   // the variable's number may be written back first
  if (vc >= 0) return emit_right(b, I_INDEX_STORE, -1, 2, c, vc);
  return emit_right(b, I_INDEX_STORE, literal ? -1 : -2, literal ? 1 : 0, c, literal ? static_cast<int32_t>(v) : 0) &&
         function_write(b);
}

// a[i] op= e, a[i]++ and a[i]-- as statements (also on an object's member named by a string i).
// += and the steps find the place first, as the tree does, so that e may not run what raises or
// throws before the place is read (a library call, a call); -= *= /= %= &= |= ^= evaluate e first.
// An index that is a variable or an Integer literal is read by the write itself.
bool element_compound(Builder& b, NodeRec* r, NodeRec* t) {
  int delta = r->op == OP_POST_INC || r->op == OP_PRE_INC ? 1 : r->op == OP_POST_DEC || r->op == OP_PRE_DEC ? -1 : 0;
  switch (r->op) {
    case OP_POST_INC: case OP_PRE_INC: case OP_POST_DEC: case OP_PRE_DEC: break;
    case OP_ADD_ASSIGN: case OP_SUB_ASSIGN: case OP_MUL_ASSIGN: case OP_DIV_ASSIGN: case OP_MOD_ASSIGN:
    case OP_AND_ASSIGN: case OP_OR_ASSIGN: case OP_XOR_ASSIGN:
      if (r->argc != 2) return false;
      break;
    default: return false;
  }
  int c = cell_of(b, t->a1, false);
  if (c < 0) return false;
  DW idx = t->a2;
  int ic = is_name(idx) ? cell_of(b, idx, false) : -1;
  bool folded = ic >= 0 || dw_type(idx) == T_INT;
  if (is_name(idx) && ic < 0) return false;
  b.stores++;
  note_logged(b, 1);
  bool placeFirst = delta != 0 || r->op == OP_ADD_ASSIGN;
  if (placeFirst) {
    enter(b, t);
    if (!folded && !number(b, idx)) return false;
    int from = b.f->n;
    if (delta ? !emit(b, I_CONST, 1, 0, 0, 0, int_cell(delta)) : !number(b, r->a2)) return false;
    for (int pc = from; pc < b.f->n; pc++)
      if (b.code[pc].op == I_CALL || b.code[pc].op == I_METHOD || b.code[pc].op == I_THROW) return false;
  } else {
    if (!number(b, r->a2)) return false;
    enter(b, t);
    if (!folded && !number(b, idx)) return false;
  }
  if (!emit(b, I_INDEX_TO, folded ? -1 : -2, static_cast<uint8_t>(placeFirst ? static_cast<uint32_t>(OP_ADD_ASSIGN) : r->op), c)) return false;
  Ins& in = b.code[b.f->n - 1];
  if (ic >= 0) {
    in.right = R_CELL;
    in.rcell = static_cast<uint16_t>(ic);
  } else if (folded) {
    in.right = R_CONST;
    in.k = int_cell(int_of(idx));
  }
  return function_write(b);
}

// o.name = e, o.name op= e, o.name++ and o.name-- as a statement. = evaluates e and then the
// target, as do -= *= /= %= &= |= ^=; += reads the target first. A literal is stored itself; a
// number computed goes in place into a member of the same type held by the object alone, else
// becomes a new value. A missing member (which the tree would create or raise for) hands back.
bool member_write(Builder& b, NodeRec* r, NodeRec* t) {
  int32_t name = static_cast<int32_t>(t->a2 & NAME_MASK);
  DW v = r->a2;
  b.stores++;
  note_logged(b, 1);
  switch (r->op) {
    case OP_ASSIGN: {
      bool literal = dw_type(v) == T_INT || dw_type(v) == T_FLOAT;
      if (literal) {
        if (dw_type(v) == T_FLOAT && !cell_is_float(float_cell(float_of(v)))) return false;
      } else if (is_name(v) || is_member_read(node_of(v)) || (node_of(v) && node_of(v)->op == OP_INDEX) ||
                 !number(b, v)) {
        return false;   // a value read from a place would be shared with the member
      }
      enter(b, t);
      return object_expr(b, t->a1) && emit_obj(b, I_MEMBER_STORE, literal ? -1 : -2, literal, name, literal ? v : 0);
    }
    case OP_ADD_ASSIGN:
      enter(b, t);
      if (!object_expr(b, t->a1) || !number(b, v)) return false;
      return emit(b, I_MEMBER_TO, -2, OP_ADD_ASSIGN, 0, name);
    case OP_POST_INC: case OP_PRE_INC: case OP_POST_DEC: case OP_PRE_DEC: {
      // A step is += 1 or += -1 on the number the member holds.
      int delta = r->op == OP_POST_INC || r->op == OP_PRE_INC ? 1 : -1;
      enter(b, t);
      return object_expr(b, t->a1) && emit(b, I_CONST, 1, 0, 0, 0, int_cell(delta)) &&
             emit(b, I_MEMBER_TO, -2, OP_ADD_ASSIGN, 0, name);
    }
    case OP_SUB_ASSIGN: case OP_MUL_ASSIGN: case OP_DIV_ASSIGN: case OP_MOD_ASSIGN:
    case OP_AND_ASSIGN: case OP_OR_ASSIGN: case OP_XOR_ASSIGN:
      if (!number(b, v)) return false;
      enter(b, t);
      return object_expr(b, t->a1) && emit_obj(b, I_MEMBER_TO, -2, static_cast<uint8_t>(r->op), name);
    default:
      return false;
  }
}

bool member_assign(Builder& b, NodeRec* r) {
  NodeRec* t = node_of(r->a1);
  bool step = r->op == OP_POST_INC || r->op == OP_PRE_INC || r->op == OP_POST_DEC || r->op == OP_PRE_DEC;
  if (!is_member_read(t) || (r->argc != 2 && !step)) return false;
  return member_write(b, r, t) && function_write(b);
}

// x = e where e reads a member or an element: the value itself is shared with the variable, as
// the tree shares it (a loop writes the variable at once).
bool value_store(Builder& b, DW v, int c, bool* done) {
  NodeRec* r = node_of(v);
  *done = false;
  if (b.f->loop && (dw_type(v) == T_OBJECT || (r && ((r->op == OP_CALL && returns_object(r)) || r->op == OP_NEW)))) {
    // A new object (or a call that may give one) goes into the variable at once.
    *done = true;
    if (!fresh_value(b, v)) return false;
    if (dw_type(v) == T_OBJECT) b.stores++;   // a call counts already (it writes nothing itself)
    b.elementStore = true;
    return emit(b, I_STORE_VALUE, -1, 0, c);
  }
  if (!r || !(is_member_read(r) || r->op == OP_INDEX)) return true;
  *done = true;
  enter(b, r);
  if (!(is_member_read(r) ? member_read(b, r, M_VALUE) : index_value(b, r))) return false;
  b.stores++;
  if (b.f->loop) note_logged(b, 1);
  return emit(b, I_STORE_VALUE, -1, 0, c);
}

// A string write of a loop: it goes into the variable at once, so nothing after it in its
// statement may hand back (see writes_final).
bool string_write(Builder& b, uint8_t op, int delta, uint8_t aux, int c) {
  if (!emit(b, op, delta, aux, c) || !note_final(b)) return false;
  b.f->textual[c] = true;
  b.stores++;
  return true;
}

// In a loop, x = e with e a string (x = x + ... appends to x), x += e with a string on either
// side. *done: the statement is one of these.
bool string_store(Builder& b, DW target, uint32_t op, DW v, int c, bool* done) {
  *done = false;
  if (!b.f->loop) return true;
  NodeRec* r = node_of(v);
  if (op == OP_ADD_ASSIGN) {
    if (!stringish(b, target) && !stringish(b, v)) return true;
    *done = true;
    return any_expr(b, v) != K_NONE && string_write(b, I_APPEND, -1, 1, c);
  }
  if (!stringish(b, v)) return true;
  *done = true;
  if (r && r->op == OP_ADD && rec_args(r)[0] == target && rec_argc(r) <= 17) {
    // x = x + e1 + ...: the tree appends to x where x alone holds its string.
    enter(b, r);
    uint32_t n = rec_argc(r);
    const DW* a = rec_args(r);
    for (uint32_t i = 1; i < n; i++)
      if (any_expr(b, a[i]) == K_NONE) return false;
    return string_write(b, I_APPEND, 1 - static_cast<int>(n), static_cast<uint8_t>(n - 1), c);
  }
  return any_expr(b, v) != K_NONE && string_write(b, I_STORE_ANY, -1, 0, c);
}

// An assignment or a step of a variable, as a statement (its value unused).
bool assign(Builder& b, NodeRec* r) {
  if (!is_name(r->a1)) return is_member_read(node_of(r->a1)) ? member_assign(b, r) : element_assign(b, r);
  if ((r->op == OP_ASSIGN || r->op == OP_ADD_ASSIGN) && r->argc == 2) {
    int c = cell_of(b, r->a1, true);
    bool done;
    if (c < 0) return false;
    if (r->op == OP_ASSIGN) {
      if (!lib_store(b, r->a2, c, &done)) return false;
      if (done) return true;
    }
    if (!string_store(b, r->a1, r->op, r->a2, c, &done)) return false;
    if (done) return true;
  }
  if (r->op == OP_ASSIGN && r->argc == 2) {
    int c = cell_of(b, r->a1, true);
    bool done;
    if (c < 0) return false;
    bool ok = value_store(b, r->a2, c, &done);
    if (done || !ok) return ok;
  }
  switch (r->op) {
    case OP_POST_INC: case OP_POST_DEC: case OP_PRE_INC: case OP_PRE_DEC: {
      int c = cell_of(b, r->a1, true);
      int delta = r->op == OP_POST_INC || r->op == OP_PRE_INC ? 1 : -1;
      b.stores++;
      return c >= 0 && emit(b, I_STEP, 0, 0, c, delta);
    }
    default: break;
  }
  if (r->argc != 2 || !number(b, r->a2)) return false;
  int c = cell_of(b, r->a1, true);
  if (c < 0) return false;
  b.stores++;
  switch (r->op) {
    case OP_ASSIGN: {
      // x = x + b: the variable's own addition (both read x first, add the same way).
      int n = b.f->n;
      if (n >= 2 && b.fence != n && b.fence != n - 1 && b.pendMod < 0 && b.code[n - 1].op == I_ADD &&
          b.code[n - 1].right != R_STACK && b.code[n - 1].mod == NO_NODE && b.code[n - 2].op == I_LOAD &&
          b.code[n - 2].cell == c) {
        Ins add = b.code[n - 1];
        b.code[n - 2].op = I_ADD_TO;
        b.code[n - 2].right = add.right;
        b.code[n - 2].rcell = add.rcell;
        b.code[n - 2].k = add.k;
        b.f->n--;
        b.depth--;
        return true;
      }
      return emit_right(b, I_STORE, -1, 0, c);
    }
    case OP_ADD_ASSIGN: return emit_right(b, I_ADD_TO, -1, 0, c);
    case OP_SUB_ASSIGN: case OP_MUL_ASSIGN: case OP_DIV_ASSIGN: case OP_MOD_ASSIGN:
      return emit_right(b, I_ARITH_TO, -1, static_cast<uint8_t>(r->op), c);
    default:   // &= |= ^=
      return emit_right(b, I_BIT_TO, -1, static_cast<uint8_t>(r->op), c);
  }
}

bool patch_all(Builder& b, const int* at, int n, int target) {
  for (int i = 0; i < n; i++) b.code[at[i]].imm = target;
  return true;
}

bool open_loop(Builder& b, bool isSwitch = false) {
  if (b.nloops == MAX_LOOPS) return false;
  b.loops[b.nloops].nbreaks = b.loops[b.nloops].nconts = 0;
  b.loops[b.nloops].isSwitch = isSwitch;
  b.nloops++;
  return true;
}

// The jumps of a condition still to be given their target.
struct Jumps {
  int at[MAX_JUMPS];
  int n;
};

bool add_jump(Builder& b, Jumps* j, uint8_t op, int delta) {
  if (j->n == MAX_JUMPS) return false;
  j->at[j->n++] = b.f->n;
  return emit(b, op, delta);
}

void land(Builder& b, const Jumps& j, int target) {
  for (int i = 0; i < j.n; i++) b.code[j.at[i]].imm = target;
}

// A condition: code that jumps (the jumps added to *out) when the condition's truth is onTrue,
// and goes on otherwise. && || and ! jump at the operand that decides, as the tree stops there.
bool test_jump(Builder& b, DW c, bool onTrue, Jumps* out) {
  NodeRec* r = node_of(c);
  if (r && (r->op == OP_AND || r->op == OP_OR) && rec_argc(r) >= 1) {
    enter(b, r);
    uint32_t n = rec_argc(r);
    DW* a = rec_args(r);
    bool decides = r->op == OP_OR;   // the truth that ends the run early
    Jumps early{};
    for (uint32_t i = 0; i + 1 < n; i++) {
      // An operand with the deciding truth ends the run: && false, || true.
      if (decides == onTrue) {
        if (!test_jump(b, a[i], decides, out)) return false;
      } else if (!test_jump(b, a[i], decides, &early)) {
        return false;
      }
    }
    if (!test_jump(b, a[n - 1], onTrue, out)) return false;
    if (early.n) land(b, early, here(b));
    return true;
  }
  if (r && r->op == OP_NOT) {
    enter(b, r);
    return test_jump(b, r->a1, !onTrue, out);
  }
  if (r && r->op == OP_INDEX) {
    // An element tested: true and false are its truth.
    enter(b, r);
    if (!index_read(b, r, I_INDEX_TRUTH)) return false;
  } else if (!as_truth(b, expr(b, c))) {
    return false;
  }
  Ins* last = b.f->n > 0 ? &b.code[b.f->n - 1] : nullptr;
  if (last && last->op == I_CMP && b.fence != b.f->n && b.pendMod < 0 && out->n < MAX_JUMPS) {
    // A comparison tested at once jumps itself.
    last->op = onTrue ? I_CMP_JTRUE : I_CMP_JFALSE;
    b.depth--;
    int n = b.f->n;
    if (n >= 2 && b.fence != n - 1 && last->mod == NO_NODE && last->right != R_STACK && b.code[n - 2].op == I_LOAD) {
      // Its left operand a variable loaded just before (its right one folded in): one
      // instruction reads, compares and jumps.
      Ins cmp = *last;
      Ins& load = b.code[n - 2];
      load.op = onTrue ? I_CMP_CELL_JTRUE : I_CMP_CELL_JFALSE;
      load.aux = cmp.aux;
      load.right = cmp.right;
      load.rcell = cmp.rcell;
      load.k = cmp.k;
      b.f->n--;
    }
    out->at[out->n++] = b.f->n - 1;
    return true;
  }
  return add_jump(b, out, onTrue ? I_JTRUE : I_JFALSE, -1);
}

bool jump_to_loop(Builder& b, bool isBreak) {
  int k = b.nloops - 1;
  while (!isBreak && k >= 0 && b.loops[k].isSwitch) k--;
  if (k < 0) return false;
  Labels& l = b.loops[k];
  int& n = isBreak ? l.nbreaks : l.nconts;
  if (n == MAX_JUMPS) return false;
  (isBreak ? l.breaks : l.conts)[n++] = b.f->n;
  return emit(b, I_JUMP, 0);
}

bool loop_stmt(Builder& b, NodeRec* r) {
  DW* a = rec_args(r);
  if (!open_loop(b)) return false;
  Labels& l = b.loops[b.nloops - 1];
  int top, cont;
  Jumps exit{};
  switch (r->op) {
    case OP_WHILE:
      top = cont = here(b);
      if (!test_jump(b, r->a1, false, &exit) || !stmt(b, r->a2)) return false;
      if (!emit(b, I_JUMP, 0, 0, 0, top)) return false;
      break;
    case OP_DO_WHILE: {
      top = here(b);
      if (!stmt(b, r->a1)) return false;
      cont = here(b);
      Jumps again{};
      if (!test_jump(b, r->a2, true, &again)) return false;
      land(b, again, top);
      break;
    }
    default: {   // OP_FOR
      DW* words = static_cast<DW*>(area_ptr(a[0]));
      uint32_t ni = a[1] >> 16, nu = a[1] & 0xFFFF;
      for (uint32_t i = 0; i < ni; i++)
        if (!stmt(b, words[i])) return false;
      top = here(b);
      if (!test_jump(b, words[ni], false, &exit) || !stmt(b, a[2])) return false;
      cont = here(b);
      for (uint32_t j = 0; j < nu; j++)
        if (!stmt(b, words[ni + 1 + j])) return false;
      if (!emit(b, I_JUMP, 0, 0, 0, top)) return false;
      break;
    }
  }
  int end = here(b);
  land(b, exit, end);
  patch_all(b, l.breaks, l.nbreaks, end);
  patch_all(b, l.conts, l.nconts, cont);
  b.nloops--;
  return true;
}

// The statements of a switch from the case that matched (patching the jumps to them).
bool switch_body(Builder& b, const uint32_t* table, uint32_t npairs, const DW* stmts, uint32_t nstmts,
                 bool hasDefault, const int* caseJump, int other) {
  if (!open_loop(b, true)) return false;
  for (uint32_t i = 0; i <= nstmts; i++) {
    int at = here(b);
    for (uint32_t p = 2; p < npairs; p++)
      if (table[2 * p + 1] == i) b.code[caseJump[p]].imm = at;
    if (hasDefault && table[3] == i) b.code[other].imm = at;
    if (i < nstmts && !stmt(b, stmts[i])) return false;
  }
  int end = here(b);
  if (!hasDefault) b.code[other].imm = end;
  Labels& l = b.loops[b.nloops - 1];
  patch_all(b, l.breaks, l.nbreaks, end);
  b.nloops--;
  return true;
}

// switch in a loop, or over string literals: the discriminant (a number or a string) stays on
// the stack while the literal cases are compared with === in order.
bool switch_literals(Builder& b, const DW* blk) {
  const uint32_t* table = static_cast<const uint32_t*>(area_ptr(blk[1]));
  uint32_t npairs = table[0], nstmts = table[1];
  const DW* stmts = nstmts ? static_cast<const DW*>(area_ptr(blk[2])) : nullptr;
  bool hasDefault = blk[3] != 0, strings = false;
  if (npairs > MAX_JUMPS || nstmts > 4096) return false;
  for (uint32_t p = 2; p < npairs; p++) {
    DW label = table[2 * p];
    if (string_literal(label)) strings = true;
    else if (!(dw_type(label) == T_INT || (dw_type(label) == T_FLOAT && cell_is_float(float_cell(float_of(label)))))) return false;
  }
  if (strings) textual(b, blk[0]);
  if (any_expr(b, blk[0]) == K_NONE) return false;
  int caseJump[MAX_JUMPS];
  for (uint32_t p = 2; p < npairs; p++) {
    DW label = table[2 * p];
    Cell k = string_literal(label) ? string_cell(label) : dw_type(label) == T_INT ? int_cell(int_of(label)) : float_cell(float_of(label));
    caseJump[p] = b.f->n;
    if (!emit(b, I_CASE_TOP, 0, 0, 0, 0, k)) return false;
  }
  if (!emit(b, I_DROP, -1)) return false;
  int other = b.f->n;
  if (!emit(b, I_JUMP, 0)) return false;
  return switch_body(b, table, npairs, stmts, nstmts, hasDefault, caseJump, other);
}

// switch in a function: the discriminant is kept in a cell of its own, the cases are compared
// with === in order until one matches, and the statements run from that case on.
bool switch_stmt(Builder& b, NodeRec* r) {
  Form* f = b.f;
  DW* blk = static_cast<DW*>(area_ptr(r->a1));
  const uint32_t* table = static_cast<const uint32_t*>(area_ptr(blk[1]));
  uint32_t npairs = table[0], nstmts = table[1];
  const DW* stmts = nstmts ? static_cast<const DW*>(area_ptr(blk[2])) : nullptr;
  bool hasDefault = blk[3] != 0;
  bool strings = false;
  for (uint32_t p = 2; p < npairs; p++) strings |= string_literal(table[2 * p]);
  if (f->loop || strings) return switch_literals(b, blk);
  if (f->ncells == MAX_CELLS) return false;
  if (npairs > MAX_JUMPS || nstmts > 4096) return false;
  int temp = f->ncells;
  f->names[f->ncells++] = 0xFFFFFFFF;   // no name matches it
  if (!number(b, blk[0]) || !emit_right(b, I_STORE, -1, 0, temp)) return false;
  int caseJump[MAX_JUMPS];
  for (uint32_t p = 2; p < npairs; p++) {
    DW label = table[2 * p];
    Cell k = dw_type(label) == T_INT ? int_cell(int_of(label)) : dw_type(label) == T_FLOAT ? float_cell(float_of(label)) : 0;
    if (k && cell_is_number(k)) {
      // A number literal: one comparison that jumps.
      caseJump[p] = b.f->n;
      if (!emit(b, I_CASE, 0, 0, temp, 0, k)) return false;
      continue;
    }
    if (!emit(b, I_LOAD, 1, 0, temp) || !number(b, label) || !emit_right(b, I_STRICT, -1, 0)) return false;
    caseJump[p] = b.f->n;
    if (!emit(b, I_JTRUE, -1)) return false;
  }
  int other = b.f->n;
  if (!emit(b, I_JUMP, 0)) return false;
  return switch_body(b, table, npairs, stmts, nstmts, hasDefault, caseJump, other);
}

// a.push(v) in a loop, as a statement, for an array variable: v is a literal (pushed itself), a
// variable (its value itself, as the tree pushes it) or a number computed (a new value).
bool push_call(Builder& b, NodeRec* r) {
  NodeRec* m = node_of(r->a1);
  if (!b.f->loop || !m || m->op != OP_MEMBER || !is_name(m->a1) || arglist_count(r->a2) != 1) return false;
  uint32_t name = m->a2 & NAME_MASK;
  if (name_length(name) != 4 || std::memcmp(name_text(name), "push", 4) != 0) return false;
  DW v = arglist_args(r->a2)[0];
  NodeRec* vr = node_of(v);
  int arr = cell_of(b, m->a1, false);
  if (arr < 0) return false;
  uint8_t kind;
  int vc = 0;
  Cell k = 0;
  if (plain_literal(v)) {
    kind = 1;
    k = v;
  } else if (is_name(v)) {
    kind = 2;
    if ((vc = cell_of(b, v, false)) < 0) return false;
  } else if (vr && !is_member_read(vr) && vr->op != OP_INDEX && vr->op != OP_CALL && number(b, v)) {
    kind = 0;
  } else {
    return false;
  }
  b.stores++;
  b.elementStore = true;
  if (!emit(b, I_PUSH, kind == 0 ? -1 : 0, kind, arr, static_cast<int32_t>(name), k)) return false;
  b.code[b.f->n - 1].rcell = static_cast<uint16_t>(vc);
  return true;
}

// Whether a statement may return from the function (or holds what this does not look into).
bool may_return(DW t, int depth) {
  NodeRec* r = node_of(t);
  if (!r) return false;
  if (depth > 64 || r->op == OP_RETURN || r->op == OP_SWITCH || r->op == OP_TRY) return true;
  DW* a = rec_args(r);
  if (r->op == OP_FOR) {
    const DW* words = static_cast<const DW*>(area_ptr(a[0]));
    uint32_t nw = (a[1] >> 16) + 1 + (a[1] & 0xFFFF);
    for (uint32_t i = 0; i < nw; i++)
      if (may_return(words[i], depth + 1)) return true;
    return may_return(a[2], depth + 1);
  }
  uint32_t n = rec_argc(r);
  for (uint32_t i = 0; i < n; i++)
    if (may_return(a[i], depth + 1)) return true;
  return false;
}

// try { ... } catch (p) { ... } without finally: the try block's code, a jump over the catch
// clause, and the catch clause, where a throw from the block lands (see Landing) with the cells
// as the block left them. The catch clause may not name p (the value has no cell; it is freed
// when the throw lands). A finally clause keeps the statement the tree's.
bool try_stmt(Builder& b, NodeRec* r) {
  uint32_t n = rec_argc(r);
  const DW* a = rec_args(r);
  if ((n >= 3 && a[2]) || !a[1] || b.nhidden == MAX_LANDINGS || b.f->nlandings == MAX_LANDINGS) return false;
  const DW* pair = static_cast<const DW*>(area_ptr(a[1]));
  // A throw carries a loop's statement past its writes: it runs behind a snapshot.
  b.stores += 2;
  int depth = b.depth;
  int from = here(b);
  // The tree would raise inside a loop it runs itself (I_SUBLOOP) to the try frames around the
  // form, and would not see the catch parameter bound: in the clauses inner loops are compiled.
  b.tryBlocks++;
  bool block = stmt(b, a[0]);
  b.tryBlocks--;
  if (!block) return false;
  // A library method raises past the form (to the frames around it), not to this clause: a
  // block that may call one, itself or through a function, stays the tree's.
  for (int pc = from; pc < b.f->n; pc++) {
    const Ins& in = b.code[pc];
    if (in.op == I_METHOD) return false;
    if (in.op == I_CALL && may_reach_library(in.imm)) return false;
  }
  int to = b.f->n, over = b.f->n;
  if (!emit(b, I_JUMP, 0)) return false;
  int at = here(b);
  b.hidden[b.nhidden++] = pair[0] & NAME_MASK;
  bool ok = stmt(b, pair[1]);
  b.nhidden--;
  if (!ok || b.f->nlandings == MAX_LANDINGS) return false;
  // A clause without code still leaves its position, on its own path only.
  if (b.pendMod >= 0 && !emit(b, I_POS, 0)) return false;
  b.code[over].imm = here(b);
  b.f->landings[b.f->nlandings++] = Landing{from, to, at, depth};
  return true;
}

// Whether the tree may run a statement as one step of a loop's form (I_SUBLOOP): nothing in it
// leaves it by a jump the form would not see (break, continue, return, or code that could hold
// them: switch, eval, record_map). Only what this knows how to walk is looked into: anything
// else (a literal, a template) answers no.
bool tree_step(DW t, int depth) {
  unsigned ty = dw_type(t);
  if (ty == T_CONST || ty == T_INT || ty == T_FLOAT || ty == T_FUNC || ty == T_INDEX) return true;
  if (ty == T_STRING && !(str_rec(t)->flags & STR_TEMPLATE)) return true;
  NodeRec* r = node_of(t);
  if (!r || depth > 32) return false;
  switch (r->op) {
    case OP_BREAK: case OP_CONTINUE: case OP_RETURN: case OP_SWITCH: case OP_EVAL: case OP_RECORD_MAP:
      return false;
    default:
      break;
  }
  if (r->op > OP_SQL_AGGREGATE) return false;
  uint32_t n = rec_argc(r);
  const DW* a = rec_args(r);
  if (r->op == OP_CALL || r->op == OP_NEW) {
    // The callee (or constructor name), then the argument-list area.
    if (!tree_step(r->a1, depth + 1)) return false;
    n = arglist_count(r->a2);
    a = arglist_args(r->a2);
  }
  if (r->op == OP_FOR) {
    const DW* words = static_cast<const DW*>(area_ptr(a[0]));
    uint32_t nw = (a[1] >> 16) + 1 + (a[1] & 0xFFFF);
    for (uint32_t i = 0; i < nw; i++)
      if (!tree_step(words[i], depth + 1)) return false;
    return tree_step(a[2], depth + 1);
  }
  if (r->op == OP_TRY) {
    if (!tree_step(a[0], depth + 1) || (n >= 3 && a[2] && !tree_step(a[2], depth + 1))) return false;
    return !a[1] || tree_step(static_cast<const DW*>(area_ptr(a[1]))[1], depth + 1);
  }
  for (uint32_t i = 0; i < n; i++)
    if (!tree_step(a[i], depth + 1)) return false;
  return true;
}

// throw e with e a number or a string: to the catch clause around it, else out of a function's
// form (its caller takes it or hands back), or from a loop's back to the tree (which throws).
bool throw_stmt(Builder& b, NodeRec* r) {
  b.stores += 2;
  Kind k = any_expr(b, r->a1);
  return (k == K_NUM || k == K_STR || k == K_ANY) && emit(b, I_THROW, -1);
}

// A loop's statement run by the tree as one step (I_SUBLOOP): the variables are written back
// before it and read again after it.
bool whole_step(Builder& b, DW t) {
  NodeRec* r = node_of(t);
  if (!r) return false;
  enter(b, r);
  b.stores++;
  b.subloopAt = b.f->n;
  return emit(b, I_SUBLOOP, 0, 0, 0, static_cast<int32_t>(t));
}

bool stmt(Builder& b, DW t) {
  NodeRec* r = node_of(t);
  if (!r) return false;
  enter(b, r);
  switch (r->op) {
    case OP_BLOCK: {
      uint32_t n = rec_argc(r);
      DW* s = rec_args(r);
      for (uint32_t i = 0; i < n; i++)
        if (!stmt(b, s[i])) return false;
      return true;
    }
    case OP_IF: {
      uint32_t n = rec_argc(r);
      DW* a = rec_args(r);
      Jumps no{};
      if (!test_jump(b, a[0], false, &no) || !stmt(b, a[1])) return false;
      if (n < 3) {
        land(b, no, here(b));
        return true;
      }
      int j = b.f->n;
      if (!emit(b, I_JUMP, 0)) return false;
      land(b, no, here(b));
      if (!stmt(b, a[2])) return false;
      b.code[j].imm = here(b);
      return true;
    }
    case OP_WHILE: case OP_DO_WHILE: case OP_FOR:
      // The tree runs it (a turn of it may write what no snapshot undoes).
      if (b.subloops && !may_return(t, 0) && b.tryBlocks == 0 && b.nhidden == 0) return whole_step(b, t);
      b.stores += 2;   // a loop inside a statement: always snapshot
      return loop_stmt(b, r);
    case OP_SWITCH:
      b.stores += 2;
      return switch_stmt(b, r);
    case OP_BREAK: return jump_to_loop(b, true);
    case OP_CONTINUE: return jump_to_loop(b, false);
    case OP_RETURN: {
      if (b.f->loop) return false;
      if (rec_argc(r) == 0) return emit(b, I_RETURN_UNDEFINED, 0);
      DW v = r->a1;
      NodeRec* c = node_of(v);
      if (dw_type(v) == T_OBJECT || (c && c->op == OP_NEW) ||
          (c && c->op == OP_CALL && !math_call_node(c) && !node_of(c->a1))) {
        // A new object or a call's result, given back as it is.
        if (!fresh_value(b, v)) return false;
        if (dw_type(v) == T_OBJECT) b.f->returnsLiteral = true;
        else b.f->callees[b.f->ncallees - 1].returned = true;
        return emit(b, I_RETURN, -1);
      }
      return number(b, v) && emit(b, I_RETURN, -1);
    }
    case OP_VAR: {
      // var x = e, where x is one of the function's names (a var without a value makes the
      // variable undefined). In a loop the variable must be the one var writes (checked when the
      // loop starts: var may create a variable, or write another than a read would see).
      uint32_t n = rec_argc(r);
      DW* items = rec_args(r);
      for (uint32_t i = 0; i < n; i++) {
        NodeRec* item = node_of(items[i]);
        // The item itself is not entered: only its value is evaluated.
        if (!item || item->op != OP_ASSIGN || item->argc != 2 || !is_name(item->a1)) return false;
        int c = cell_of(b, item->a1, true);
        if (c < 0) return false;
        if (b.f->loop) b.f->declared[c] = true;
        bool done;
        if (!lib_store(b, item->a2, c, &done)) return false;
        if (done) continue;
        if (!string_store(b, item->a1, OP_ASSIGN, item->a2, c, &done)) return false;
        if (done) continue;
        if (!value_store(b, item->a2, c, &done)) return false;
        if (done) continue;
        b.stores++;
        if (!number(b, item->a2) || !emit_right(b, I_STORE, -1, 0, c)) return false;
      }
      return true;
    }
    case OP_ASSIGN: case OP_ADD_ASSIGN: case OP_SUB_ASSIGN: case OP_MUL_ASSIGN: case OP_DIV_ASSIGN:
    case OP_MOD_ASSIGN: case OP_AND_ASSIGN: case OP_OR_ASSIGN: case OP_XOR_ASSIGN:
    case OP_POST_INC: case OP_POST_DEC: case OP_PRE_INC: case OP_PRE_DEC:
      return assign(b, r);
    case OP_CALL: {
      CodeMark at(b);
      if (push_call(b, r) || call(b, r, true)) return true;
      at.restore(b);   // a.push(e) of a value push_call does not take may have failed half way
      return lib_call(b, r, LM_DISCARD, 0) != K_NONE;
    }
    case OP_TRY:
      // A try statement the form cannot hold: the tree runs it (as an inner loop, above).
      if (b.subloops && b.tryBlocks == 0 && b.nhidden == 0 && b.depth == 0 && tree_step(t, 0)) return whole_step(b, t);
      return try_stmt(b, r);
    case OP_THROW:
      return throw_stmt(b, r);
    default:
      return false;
  }
}

// A new form under key (registered at once, so that a function may call itself).
int new_form(DW key, bool loop, bool ctor = false) {
  if (nforms == MAX_FORMS) return -1;
  int idx = nforms++;
  Form* f = &forms[idx];
  std::memset(static_cast<void*>(f), 0, sizeof *f);
  f->state = S_BUILDING;
  f->loop = loop;
  f->ctor = ctor;
  f->key = key;
  unsigned k = cache_slot(key);
  cache_key[k] = key;
  cache_val[k] = static_cast<int16_t>(idx + 1);
  return idx;
}

// The form under key, or -1 (*found tells whether one was ever made).
int find_form(DW key, bool loop, bool* found, bool ctor) {
  unsigned k = cache_slot(key);
  int idx = -1;
  if (cache_key[k] == key && cache_val[k] != 0 && forms[cache_val[k] - 1].loop == loop &&
      forms[cache_val[k] - 1].ctor == ctor) {
    idx = cache_val[k] - 1;
  } else {
    for (int i = 0; i < nforms; i++)
      if (forms[i].key == key && forms[i].loop == loop && forms[i].ctor == ctor) idx = i;
    if (idx >= 0) {
      cache_key[k] = key;
      cache_val[k] = static_cast<int16_t>(idx + 1);
    }
  }
  *found = idx >= 0;
  return idx >= 0 && forms[idx].state != S_NONE ? idx : -1;
}

// Ends a build: the code is kept (exactly sized) or the form is marked as having none.
int finish(Builder& b, int idx, bool ok) {
  Form* f = &forms[idx];
  if (ok) {
    f->code = static_cast<Ins*>(std::realloc(b.code, sizeof(Ins) * static_cast<size_t>(f->n)));
    if (!f->code) ok = false;
  }
  if (!ok) {
    std::free(b.code);
    std::free(f->marks);
    f->marks = nullptr;
    f->code = nullptr;
    f->state = S_NONE;
    return -1;
  }
  // Each common operator of a pair or a chain gets the runner's own code for it.
  for (int i = 0; i < f->n; i++) {
    Ins& in = f->code[i];
    if (in.op == I_ARITH && (in.aux == OP_SUB || in.aux == OP_MUL)) in.op = in.aux == OP_SUB ? I_SUBN : I_MULN;
    if (in.op != I_ARITH2) continue;
    int which = in.aux == OP_SUB ? 0 : in.aux == OP_MUL ? 1 : in.aux == OP_DIV ? 2 : in.aux == OP_MOD ? 3 : -1;
    if (which < 0) continue;
    int first = in.right == R_STACK ? I_SUB2 : in.right == R_CONST ? I_SUB2K : I_SUB2C;
    in.op = static_cast<uint8_t>(first + which);
  }
  static_assert(I_MOD2 == I_SUB2 + 3 && I_SUB2K == I_SUB2 + 4 && I_MOD2C == I_SUB2 + 11,
                "the pair operators in the order sub, mul, div, mod, for each place of b");
  f->state = S_READY;
  return idx;
}

// Which forms may give a new object: their own literal, or a callee's result they return.
void mark_object_results() {
  bool changed = true;
  while (changed) {
    changed = false;
    for (int i = 0; i < nforms; i++) {
      Form& f = forms[i];
      bool r = f.returnsLiteral;
      for (int c = 0; !r && c < f.ncallees; c++) r = f.callees[c].returned && forms[f.callees[c].form].returnsObject;
      if (r != f.returnsObject) {
        f.returnsObject = r;
        changed = true;
      }
    }
  }
}

bool start_build(Builder& b, Form* f) {
  b.f = f;
  b.depth = 0;
  b.nloops = 0;
  b.stores = 0;
  b.elementStore = false;
  b.logged = false;
  b.nlogged = 0;
  b.stmtLoops = 0;
  b.fence = -1;
  b.pendMod = -1;
  b.subloops = false;
  b.wholeStep = false;
  b.subloopAt = -1;
  b.nfinals = 0;
  b.wantNumber = false;
  b.nhidden = 0;
  b.tryBlocks = 0;
  b.cap = 128;
  b.code = static_cast<Ins*>(std::malloc(sizeof(Ins) * static_cast<size_t>(b.cap)));
  return b.code != nullptr;
}

// Whether a function's run can only end after the write at pc: what follows it is positions,
// jumps, the end, or a literal returned, none of which hands back.
bool ends_function(const Builder& b, int pc) {
  int at = pc + 1;
  for (int steps = 0; at < b.f->n && steps < 4 * MAX_JUMPS; steps++) {
    const Ins& in = b.code[at];
    switch (in.op) {
      case I_POS: at++; break;
      case I_JUMP: at = in.imm; break;
      case I_END: case I_RETURN_UNDEFINED: return true;
      case I_CONST: return at + 1 < b.f->n && b.code[at + 1].op == I_RETURN;
      default: return false;
    }
  }
  return false;
}

// A function's cells: its parameters, then its var locals (false for a default value or a name
// given twice).
bool take_cells(Form* f, DW func) {
  unsigned np = func_param_count(func), nl = func_local_count(func);
  const DW* names = func_names(func);
  if (np + nl > static_cast<unsigned>(MAX_CELLS)) return false;
  f->nparams = static_cast<int>(np);
  for (unsigned i = 0; i < np + nl; i++) {
    DW e = names[i];
    if (dw_type(e) != T_CONST) return false;
    for (int c = 0; c < f->ncells; c++)
      if (f->names[c] == (e & NAME_MASK)) return false;
    f->names[f->ncells++] = e & NAME_MASK;
  }
  return true;
}

// A constructor's body: this.name = e, ..., each name once, each e what a literal's member may be
// (a constant, a parameter or a number computed from what is not this). The tree gives this its
// members in that order, each the value of its e, and returns it: the literal's object.
bool constructor_members(Builder& b, DW body) {
  NodeRec* br = node_of(body);
  if (!br || br->op != OP_BLOCK) return false;
  uint32_t n = rec_argc(br);
  const DW* st = rec_args(br);
  if (n == 0 || n > MAX_CTOR_MEMBERS || b.f->ncells > 32) return false;
  int pushed = 0;
  for (uint32_t i = 0; i < n; i++) {
    NodeRec* r = node_of(st[i]);
    NodeRec* t = r && r->op == OP_ASSIGN && r->argc == 2 ? node_of(r->a1) : nullptr;
    if (!is_member_read(t) || t->a1 != NAME_THIS) return false;
    uint32_t name = t->a2 & NAME_MASK;
    for (uint32_t j = 0; j < i; j++)
      if (b.f->ctorNames[j] == name) return false;
    DW e = r->a2;   // this itself is no cell: an e that names it is not compiled
    enter(b, r);
    uint16_t entry;
    if (plain_member(e, 0) || (dw_type(e) == T_CONST && !is_name(e))) {
      entry = P_CONSTANT << 8;
    } else if (is_name(e)) {
      int c = cell_of(b, e, false);
      if (c < 0) return false;
      if (c < b.f->nparams) b.f->sharedParams |= 1u << c;
      entry = static_cast<uint16_t>(P_CELL << 8 | c);
    } else {
      NodeRec* er = node_of(e);
      if (!er || is_member_read(er) || er->op == OP_INDEX || er->op == OP_CALL || !number(b, e)) return false;
      entry = P_NUMBER << 8;
      pushed++;
    }
    enter(b, t);
    b.f->ctorNames[i] = name;
    b.f->ctorConsts[i] = e;
    b.f->plan[b.f->nplan++] = entry;
  }
  if (!emit(b, I_OBJECT, 1 - pushed, static_cast<uint8_t>(n), 0, 0)) return false;
  b.code[b.f->n - 1].rcell = 0;
  b.f->returnsLiteral = true;
  return emit(b, I_RETURN, -1);
}

}  // namespace

int compile_constructor(DW func) {
  DW body = func_body(func);
  bool found;
  int idx = find_form(body, false, &found, true);
  if (found) return idx;
  idx = new_form(body, false, true);
  if (idx < 0) return -1;
  Form* f = &forms[idx];
  Builder b;
  if (!start_build(b, f)) return finish(b, idx, false);
  bool ok = take_cells(f, func) && constructor_members(b, body);
  int res = finish(b, idx, ok);
  mark_object_results();
  return res;
}

int compile_function(DW func) {
  DW body = func_body(func);
  bool found;
  int idx = find_form(body, false, &found);
  if (found) return idx;
  idx = new_form(body, false);
  if (idx < 0) return -1;
  Form* f = &forms[idx];
  Builder b;
  if (!start_build(b, f)) return finish(b, idx, false);
  bool ok = take_cells(f, func) && stmt(b, body) && emit(b, I_END, 0);
  for (int w = 0; ok && w < b.nfinals; w++) ok = ends_function(b, b.finals[w]);
  // A callee's build may have taken the cache slot meanwhile.
  unsigned k = cache_slot(body);
  cache_key[k] = body;
  cache_val[k] = static_cast<int16_t>(idx + 1);
  int res = finish(b, idx, ok && !(f->writes && f->takenPure));
  mark_object_results();
  return res;
}

// A number the tree computes from variables and literals alone (+ - * and groups): run again on
// the same values it gives the same number and cannot raise. Its names go into reads.
bool plain_number(DW e, uint32_t* reads, int* nreads, int depth) {
  if (is_name(e)) {
    if (*nreads == 16) return false;
    reads[(*nreads)++] = e & NAME_MASK;
    return true;
  }
  if (dw_type(e) == T_INT || dw_type(e) == T_FLOAT) return true;
  NodeRec* r = node_of(e);
  if (!r || depth > 8 || !(r->op == OP_GROUP || r->op == OP_ADD || r->op == OP_SUB || r->op == OP_MUL)) return false;
  uint32_t n = rec_argc(r);
  DW* a = rec_args(r);
  for (uint32_t i = 0; i < n; i++)
    if (!plain_number(a[i], reads, nreads, depth + 1)) return false;
  return true;
}

// A for loop's init that may be run again: var x = e, ... or x = e with plain numbers e.
bool plain_init(DW t, uint32_t* reads, int* nreads, uint32_t* writes, int* nwrites) {
  NodeRec* r = node_of(t);
  if (!r) return false;
  uint32_t n = r->op == OP_VAR ? rec_argc(r) : 1;
  DW* items = r->op == OP_VAR ? rec_args(r) : &t;
  if (r->op != OP_VAR && r->op != OP_ASSIGN) return false;
  for (uint32_t i = 0; i < n; i++) {
    NodeRec* item = node_of(items[i]);
    if (!item || item->op != OP_ASSIGN || item->argc != 2 || !is_name(item->a1) || *nwrites == 8) return false;
    writes[(*nwrites)++] = item->a1 & NAME_MASK;
    if (!plain_number(item->a2, reads, nreads, 0)) return false;
  }
  return true;
}

// Whether the statement whose code begins at start can only end after the write at pc: nothing
// that may hand back (which would run the statement again on the tree) can follow it.
bool writes_final(const Builder& b, int start, int pc) {
  int todo[MAX_JUMPS], n = 0, end = b.f->n, steps = 0;
  todo[n++] = pc + 1;
  while (n > 0) {
    int at = todo[--n];
    while (at >= start && at < end) {
      if (++steps > 4 * MAX_JUMPS) return false;
      const Ins& in = b.code[at];
      if (in.op == I_POS) {
        at++;
      } else if (in.op == I_JUMP) {
        if (in.imm == 0) break;   // a break or continue (patched later): the statement ends
        at = in.imm;
      } else {
        return false;
      }
    }
  }
  return true;
}

// A loop's code: the condition, each body statement and each update begin with a mark that
// names where the tree takes over when the code cannot go on.
int compile_loop(DW cond, DW body, const DW* updates, uint32_t nupdates) {
  bool found;
  int idx = find_form(body, true, &found);
  if (found) return idx >= 0 && forms[idx].cond == cond ? idx : -1;
  idx = new_form(body, true);
  if (idx < 0) return -1;
  Form* f = &forms[idx];
  f->cond = cond;
  Builder b;
  if (!start_build(b, f)) return finish(b, idx, false);
  bool ok = open_loop(b);
  Labels& l = b.loops[0];
  int top = 0;
  Jumps exit{};
  int nparts = 1 + static_cast<int>(nupdates);
  NodeRec* br = node_of(body);
  uint32_t nbody = br && br->op == OP_BLOCK ? rec_argc(br) : 1;
  nparts += static_cast<int>(nbody);
  f->maxmarks = nparts + 64;   // room for the statements of inner loops compiled in
  f->marks = static_cast<Mark*>(std::malloc(sizeof(Mark) * static_cast<size_t>(f->maxmarks)));
  if (!f->marks) ok = false;
  // Each statement is marked where it begins. One that may write more than once before it
  // could hand back is compiled again behind a snapshot of the cells; one that cannot be (an
  // element or member written, which no snapshot undoes) is compiled, when it is an inner loop,
  // into this code with a mark per statement of its own (the tree then takes the inner loop
  // over where it stopped), or else tried once more with its inner loops left to the tree, where
  // nothing after them in the statement can hand back.
  auto attempt = [&](Mark mk, DW t, bool isCond, bool subloops, Labels* lab, Jumps* ex) {
    if (f->nmarks == f->maxmarks) return 0;
    int start = here(b), ncallees = f->ncallees, nbreaks = lab->nbreaks, nconts = lab->nconts, nexit = ex->n;
    int nplan = f->nplan, nloops = b.nloops, nlandings = f->nlandings;
    mk.pc = start;
    f->marks[f->nmarks] = mk;
    b.depth = 0;
    b.stores = 0;
    b.elementStore = false;
    b.logged = false;
    b.nlogged = 0;
    b.stmtLoops = b.nloops;
    b.subloops = subloops;
    b.subloopAt = -1;
    b.nfinals = 0;
    bool ok = !mk.snap || emit(b, I_SNAP, 0);
    ok = ok && (isCond ? test_jump(b, t, false, ex) : b.wholeStep ? whole_step(b, t) : stmt(b, t));
    for (int pc = b.subloopAt + 1; ok && b.subloopAt >= 0 && pc < f->n; pc++)
      ok = b.code[pc].op == I_POS || (b.code[pc].op == I_JUMP && (b.code[pc].imm == 0 || b.code[pc].imm > pc));
    for (int w = 0; ok && w < b.nfinals; w++) ok = writes_final(b, start, b.finals[w]);
    b.subloops = false;
    if (ok && b.stores <= 1) return 1;
    if (ok && mk.snap && !b.elementStore) {
      b.code[start].aux = b.logged;   // the snapshot keeps a log of the values replaced
      return 1;
    }
    f->n = start;
    f->ncallees = ncallees;
    f->nplan = nplan;
    f->nlandings = nlandings;
    b.nloops = nloops;
    lab->nbreaks = nbreaks;
    lab->nconts = nconts;
    ex->n = nexit;
    b.pendMod = -1;
    b.depth = 0;
    return ok && !b.elementStore ? 2 : 0;   // 2: fine behind a snapshot
  };
  // One statement under its mark; inner: whether an inner loop statement may be compiled in.
  std::function<bool(Mark, DW, bool, Labels*, Jumps*, bool)> part;
  auto inline_loop = [&](uint32_t index, DW t) {
    NodeRec* r = node_of(t);
    if (!r || (r->op != OP_FOR && r->op != OP_WHILE) || f->ninners == MAX_INNERS) return false;
    DW* a = rec_args(r);
    DW icond, ibody;
    const DW* inits = nullptr;
    const DW* ups = nullptr;
    uint32_t ni = 0, nu = 0;
    if (r->op == OP_FOR) {
      DW* words = static_cast<DW*>(area_ptr(a[0]));
      ni = a[1] >> 16;
      nu = a[1] & 0xFFFF;
      inits = words;
      icond = words[ni];
      ups = words + ni + 1;
      ibody = a[2];
    } else {
      icond = r->a1;
      ibody = r->a2;
    }
    uint32_t reads[16], writes[8];
    int nreads = 0, nwrites = 0;
    for (uint32_t i = 0; i < ni; i++)
      if (!plain_init(inits[i], reads, &nreads, writes, &nwrites)) return false;
    int start = here(b), nmarks = f->nmarks, ncallees = f->ncallees, nplan = f->nplan, nloops = b.nloops;
    int nlandings = f->nlandings;
    bool written[MAX_CELLS];
    std::memcpy(written, f->written, sizeof written);
    std::memset(f->written, 0, sizeof f->written);
    int8_t inner = static_cast<int8_t>(f->ninners);
    // The inits, behind a snapshot: a hand-back there leaves the whole inner loop to the tree.
    bool ok = f->nmarks < f->maxmarks;
    if (ok) f->marks[f->nmarks++] = Mark{start, LOOP_AT_BODY, true, -1, 0, index, 0};
    b.depth = 0;
    b.stores = 0;
    b.elementStore = false;
    b.logged = false;
    b.nlogged = 0;
    b.stmtLoops = b.nloops;
    b.nfinals = 0;
    ok = ok && emit(b, I_SNAP, 0);
    enter(b, r);
    for (uint32_t i = 0; ok && i < ni; i++) ok = stmt(b, inits[i]);
    ok = ok && open_loop(b);
    Labels* il = &b.loops[b.nloops - 1];
    Jumps iexit{};
    int itop = here(b);
    ok = ok && part(Mark{0, LOOP_AT_BODY, false, inner, LOOP_AT_CONDITION, index, 0}, icond, true, il, &iexit, false);
    NodeRec* bb = node_of(ibody);
    if (bb && bb->op == OP_BLOCK) {
      uint32_t n = rec_argc(bb);
      DW* s = rec_args(bb);
      for (uint32_t i = 0; ok && i < n; i++)
        ok = part(Mark{0, LOOP_AT_BODY, false, inner, LOOP_AT_BODY, index, i}, s[i], false, il, &iexit, false);
    } else {
      ok = ok && part(Mark{0, LOOP_AT_BODY, false, inner, LOOP_AT_BODY, index, 0}, ibody, false, il, &iexit, false);
    }
    int icont = here(b);
    for (uint32_t j = 0; ok && j < nu; j++)
      ok = part(Mark{0, LOOP_AT_BODY, false, inner, LOOP_AT_UPDATE, index, j}, ups[j], false, il, &iexit, false);
    ok = ok && emit(b, I_JUMP, 0, 0, 0, itop);
    // The inits must read nothing the inner loop writes (run again, they give what they gave).
    uint64_t initCells = 0;
    for (int k = 0; ok && k < nreads; k++) {
      int c = cell_of(b, reads[k], false);
      ok = c >= 0 && !f->written[c];
    }
    for (int k = 0; ok && k < nwrites; k++) {
      int c = cell_of(b, writes[k], true);
      ok = c >= 0;
      if (ok) initCells |= uint64_t(1) << c;
    }
    for (int c = 0; c < MAX_CELLS; c++) f->written[c] |= written[c];
    if (!ok) {
      f->n = start;
      f->nmarks = nmarks;
      f->ncallees = ncallees;
      f->nplan = nplan;
      f->nlandings = nlandings;
      b.nloops = nloops;
      b.pendMod = -1;
      b.depth = 0;
      return false;
    }
    int iend = here(b);
    land(b, iexit, iend);
    patch_all(b, il->breaks, il->nbreaks, iend);
    patch_all(b, il->conts, il->nconts, icont);
    b.nloops--;
    f->inners[f->ninners++] = Inner{icond, ibody, initCells};
    return true;
  };
  part = [&](Mark mk, DW t, bool isCond, Labels* lab, Jumps* ex, bool inner) {
    int r = attempt(mk, t, isCond, false, lab, ex);
    if (r == 2) {
      mk.snap = true;
      r = attempt(mk, t, isCond, false, lab, ex);
    }
    if (r == 0 && inner && inline_loop(mk.index, t)) return true;
    if (r == 0 && mk.inner < 0) {
      mk.snap = true;
      r = attempt(mk, t, isCond, true, lab, ex);
    }
    if (r == 0 && mk.inner < 0 && !isCond && tree_step(t, 0)) {
      // Anything else the tree runs as one step of the loop's code, so that one statement the
      // form cannot hold does not keep the others from it.
      mk.snap = false;
      b.wholeStep = true;
      r = attempt(mk, t, false, true, lab, ex);
      b.wholeStep = false;
    }
    if (r != 1) return false;
    f->nmarks++;
    return true;
  };
  auto outer = [](uint8_t where, uint32_t index) { return Mark{0, where, false, -1, 0, index, 0}; };
  ok = ok && part(outer(LOOP_AT_CONDITION, 0), cond, true, &l, &exit, false);
  if (ok && br && br->op == OP_BLOCK) {
    uint32_t n = rec_argc(br);
    DW* s = rec_args(br);
    for (uint32_t i = 0; ok && i < n; i++) ok = part(outer(LOOP_AT_BODY, i), s[i], false, &l, &exit, true);
  } else if (ok) {
    ok = part(outer(LOOP_AT_BODY, 0), body, false, &l, &exit, true);
  }
  int cont = here(b);
  for (uint32_t j = 0; ok && j < nupdates; j++) ok = part(outer(LOOP_AT_UPDATE, j), updates[j], false, &l, &exit, false);
  ok = ok && emit(b, I_JUMP, 0, 0, 0, top);
  if (ok) {
    int end = here(b);
    land(b, exit, end);
    patch_all(b, l.breaks, l.nbreaks, end);
    patch_all(b, l.conts, l.nconts, cont);
    ok = emit(b, I_END, 0);
  }
  return finish(b, idx, ok);
}

// Visits every form reachable from idx by its calls (idx included) until visit says stop.
template <class V>
bool each_reachable(int idx, V visit) {
  uint64_t seen[MAX_FORMS / 64] = {};
  int todo[MAX_FORMS];
  int n = 0;
  todo[n++] = idx;
  seen[idx / 64] |= uint64_t(1) << (idx % 64);
  while (n > 0) {
    const Form* f = &forms[todo[--n]];
    if (!visit(f)) return false;
    for (int i = 0; i < f->ncallees; i++) {
      int c = f->callees[i].form;
      if (!(seen[c / 64] & (uint64_t(1) << (c % 64)))) {
        seen[c / 64] |= uint64_t(1) << (c % 64);
        todo[n++] = c;
      }
    }
  }
  return true;
}

bool callees_valid(int idx) {
  return each_reachable(idx, [](const Form* f) {
    if (f->state != S_READY) return false;
    for (int i = 0; i < f->nglobals; i++)
      if (global_find_down(f->gnames[i]) != f->gslots[i]) return false;
    for (int i = 0; i < f->ncallees; i++) {
      const Callee& c = f->callees[i];
      int g = global_find_down(c.name);
      if (g < 0 || global_table[g].value != c.func) return false;
      // A new object where a number is wanted, or a shared argument the tree would not share.
      const Form& t = forms[c.form];
      if ((c.wantsNumber && t.returnsObject) || (t.sharedParams & ~c.freshArgs)) return false;
    }
    return true;
  });
}

const MethodTable* lib_static_table(unsigned which) {
  switch (which) {
    case LS_MATH: return &math_methods;
    case LS_NUMBER: return &number_methods;
    case LS_STRING: return &string_statics;
    default: return &object_statics;
  }
}

bool reaches_library(int idx) {
  Form& f = forms[idx];
  if (!f.libraryReach) f.libraryReach = each_reachable(idx, [](const Form* g) { return !g->library; }) ? 2 : 1;
  return f.libraryReach == 1;
}

bool may_reach_library(int idx) {
  return !each_reachable(idx, [](const Form* g) { return g->state == S_READY && !g->library; });
}

bool callees_read(int idx, DW* const* slots, int nslots) {
  return !each_reachable(idx, [&](const Form* f) {
    for (int i = 0; i < f->nglobals; i++)
      for (int k = 0; k < nslots; k++)
        if (&global_table[f->gslots[i]].value == slots[k]) return false;
    return true;
  });
}

}  // namespace form

void compiled_reset() {
  using namespace form;
  for (int i = 0; i < nforms; i++) {
    std::free(forms[i].code);
    std::free(forms[i].marks);
  }
  nforms = 0;
  std::memset(cache_key, 0, sizeof cache_key);
  std::memset(cache_val, 0, sizeof cache_val);
}
