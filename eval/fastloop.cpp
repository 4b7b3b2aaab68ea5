// Integer loops on a plan: a for or while loop whose condition, updates and body only read
// variables and integer literals, compute + - * / % and comparisons on them and write
// variables (=, +=, -=, ++, --) runs on a small plan built when the loop starts. Every variable
// is resolved to its slot once; while the plan runs, the variables live in native cells (no
// other code runs that could look at them) and are written back when it stops.
//
// The plan gives exactly what the tree gives. A variable the plan reads that does not hold an
// Integer when the loop starts leaves the whole loop to the tree. Whatever else the plan cannot
// do on Integers alone (a product beyond 2^53, a division by zero) hands the loop back to the
// tree at the statement where it happened: statements read before they write, and each writes
// one variable as its last step, so that statement has changed nothing yet and the tree runs it
// from its start.
#include "eval/fastloop.h"

namespace {

// Instructions over a small stack of Integers.
enum : uint8_t {
  I_VAR,      // push cell
  I_LIT,      // push imm
  I_ADD,      // a + b (wrapping, as the integer path of + does)
  I_BINARY,   // a op b for op = aux (-, *, /, %) by int_pair
  I_COMPARE,  // a aux b (CompareOp) as 1 or 0
  I_TEST,     // pop; 0 ends the loop
  I_COMPARE_TEST,   // a aux b; false ends the loop
  I_STORE,    // pop into cell
  I_ADD_TO,   // cell + pop into cell
  I_SUB_FROM, // cell - pop into cell
  I_STEP,     // cell + imm into cell
  I_LOOP,     // back to the condition
};

constexpr int MAX_CODE = 256;
constexpr int MAX_STACK = 64;
constexpr int MAX_CELLS = 32;

struct Ins {
  uint8_t op;
  uint8_t aux;
  uint8_t where;     // FastWhere of the statement the instruction belongs to
  uint8_t index;     // statement index within the body or the updates
  uint16_t cell;
  int32_t imm;
  uint8_t right;     // I_ADD, I_BINARY, I_COMPARE(_TEST): where b comes from (R_STACK, R_CELL, R_IMM)
};

enum : uint8_t { R_STACK, R_CELL, R_IMM };

}  // namespace

struct FastLoop {
  Ins code[MAX_CODE];
  DW* slots[MAX_CELLS];   // the variable of each cell
  bool read[MAX_CELLS];   // whether the plan reads the cell (it must then start as an Integer)
  int ncells;
  int n;
  int depth;              // stack depth while building
  uint8_t where, index;   // statement being built
};

namespace {

// The slot a read of the variable would use (the innermost local of that name in the running
// call, else the global), or null when the name has none yet (reading it would create one) or
// when writable is asked for a const.
DW* resolve(DW name_handle, bool writable) {
  uint32_t name = name_handle & NAME_MASK;
  if (int i = local_slot_of(name))
    return writable && (local_stack[i].name & CONST_BIT) ? nullptr : &local_stack[i].value;
  int g = global_find_down(name);
  if (g < 0) return nullptr;
  if (writable && (global_table[g].name & CONST_BIT)) return nullptr;
  return &global_table[g].value;
}

// The cell of a variable's slot (-1 when there are too many).
int cell_of(FastLoop* p, DW* slot, bool read) {
  for (int c = 0; c < p->ncells; c++) {
    if (p->slots[c] == slot) {
      p->read[c] |= read;
      return c;
    }
  }
  if (p->ncells == MAX_CELLS) return -1;
  p->slots[p->ncells] = slot;
  p->read[p->ncells] = read;
  return p->ncells++;
}

// Appends an instruction that changes the stack depth by delta; false when the plan is full.
// With a slot, the instruction works on its cell (read: it reads the cell before any write).
bool emit(FastLoop* p, uint8_t op, int delta, uint8_t aux = 0, int32_t imm = 0, DW* slot = nullptr,
          bool read = false) {
  if (p->n == MAX_CODE) return false;
  p->depth += delta;
  if (p->depth > MAX_STACK) return false;
  int cell = 0;
  if (slot && (cell = cell_of(p, slot, read)) < 0) return false;
  p->code[p->n++] = Ins{op, aux, p->where, p->index, static_cast<uint16_t>(cell), imm, R_STACK};
  return true;
}

// Appends an operation on the two values on top of the stack; a right operand that is a
// variable or a literal (then the last instruction, alone) is taken into the operation itself.
bool emit_binary(FastLoop* p, uint8_t op, uint8_t aux) {
  Ins* last = p->n > 0 ? &p->code[p->n - 1] : nullptr;
  if (last && (last->op == I_VAR || last->op == I_LIT)) {
    last->right = last->op == I_VAR ? R_CELL : R_IMM;
    last->op = op;
    last->aux = aux;
    p->depth--;
    return true;
  }
  return emit(p, op, -1, aux);
}

// The emitter of plan_expr for a loop: variables become cells.
struct LoopEmitter {
  FastLoop* p;
  bool name(DW t) {
    DW* slot = resolve(t, false);
    return slot && emit(p, I_VAR, 1, 0, 0, slot, true);
  }
  bool literal(int32_t v) { return emit(p, I_LIT, 1, 0, v); }
  bool add() { return emit_binary(p, I_ADD, 0); }
  bool binary(unsigned op) { return emit_binary(p, I_BINARY, static_cast<uint8_t>(op)); }
  bool compare(CompareOp op) { return emit_binary(p, I_COMPARE, op); }
  bool other(NodeRec*) { return false; }
};

PlanShape build_expr(FastLoop* p, DW t) {
  LoopEmitter e{p};
  return plan_expr(e, t);
}

// Code of a statement; false when it has none.
bool build_stmt(FastLoop* p, DW t) {
  NodeRec* r = plan_node(t);
  if (!r) return false;
  switch (r->op) {
    case OP_ASSIGN: case OP_ADD_ASSIGN: case OP_SUB_ASSIGN: {
      if (r->argc != 2 || !plan_is_name(r->a1)) return false;
      DW* slot = resolve(r->a1, true);
      if (!slot || build_expr(p, r->a2) != PLAN_NUMBER) return false;
      uint8_t op = r->op == OP_ASSIGN ? I_STORE : r->op == OP_ADD_ASSIGN ? I_ADD_TO : I_SUB_FROM;
      return emit(p, op, -1, 0, 0, slot, op != I_STORE);
    }
    case OP_POST_INC: case OP_POST_DEC: case OP_PRE_INC: case OP_PRE_DEC: {
      if (!plan_is_name(r->a1)) return false;
      DW* slot = resolve(r->a1, true);
      int delta = r->op == OP_POST_INC || r->op == OP_PRE_INC ? 1 : -1;
      return slot && emit(p, I_STEP, 0, 0, delta, slot, true);
    }
    default:
      return false;
  }
}


}  // namespace

bool fastloop_enabled = true;

FastLoop* fastloop_build(DW cond, DW body, const DW* updates, uint32_t nupdates) {
  static FastLoop plan;   // loops nest, but only an innermost loop has a plan running
  FastLoop* p = &plan;
  p->n = p->depth = p->ncells = 0;
  p->where = FAST_AT_CONDITION;
  p->index = 0;
  if (build_expr(p, cond) == PLAN_NONE) return nullptr;
  Ins& last = p->code[p->n - 1];
  if (last.op == I_COMPARE) {
    last.op = I_COMPARE_TEST;
    p->depth--;
  } else if (!emit(p, I_TEST, -1)) {
    return nullptr;
  }
  p->where = FAST_AT_BODY;
  NodeRec* b = plan_node(body);
  if (b && b->op == OP_BLOCK) {
    uint32_t n = rec_argc(b);
    if (n > 255) return nullptr;
    DW* s = rec_args(b);
    for (uint32_t i = 0; i < n; i++) {
      p->index = static_cast<uint8_t>(i);
      if (!build_stmt(p, s[i])) return nullptr;
    }
  } else if (!build_stmt(p, body)) {
    return nullptr;
  }
  p->where = FAST_AT_UPDATE;
  if (nupdates > 255) return nullptr;
  for (uint32_t i = 0; i < nupdates; i++) {
    p->index = static_cast<uint8_t>(i);
    if (!build_stmt(p, updates[i])) return nullptr;
  }
  return emit(p, I_LOOP, 0) ? p : nullptr;
}

// The right operand of an operation: on the stack (popped), in a cell or in the instruction.
static inline int32_t right(const Ins* in, const int32_t* cells, int32_t** sp) {
  if (in->right == R_CELL) return cells[in->cell];
  if (in->right == R_IMM) return in->imm;
  return *--*sp;
}

// Writes the cells the plan changed back into their variables.
static void write_back(const FastLoop* p, const int32_t* cells, uint32_t dirty) {
  for (int c = 0; c < p->ncells; c++)
    if (dirty & (1u << c)) variable_write_int(p->slots[c], cells[c]);
}

FastStop fastloop_run(const FastLoop* p) {
  int32_t cells[MAX_CELLS];
  for (int c = 0; c < p->ncells; c++) {
    DW v = *p->slots[c];
    if (dw_type(v) == T_INT) cells[c] = int_of(v);
    else if (p->read[c]) return {FAST_AT_CONDITION, 0};
    else cells[c] = 0;   // written before it is read
  }
  uint32_t dirty = 0;
  int32_t stack[MAX_STACK];
  int32_t* sp = stack;   // next free entry
  const Ins* code = p->code;
  const Ins* in = code;
  for (;; in++) {
    switch (in->op) {
      case I_VAR:
        *sp++ = cells[in->cell];
        break;
      case I_LIT:
        *sp++ = in->imm;
        break;
      case I_ADD: {
        int32_t y = right(in, cells, &sp);
        sp[-1] = wrap_add(sp[-1], y);
        break;
      }
      case I_BINARY: {
        int32_t y = right(in, cells, &sp);
        if (in->aux == OP_DIV && y == 0) goto hand_back;   // the tree raises the error
        if (!int_pair(in->aux, sp[-1], y, &sp[-1])) goto hand_back;
        break;
      }
      case I_COMPARE: {
        int32_t y = right(in, cells, &sp);
        sp[-1] = holds(static_cast<CompareOp>(in->aux), sp[-1], y);
        break;
      }
      case I_COMPARE_TEST: {
        int32_t y = right(in, cells, &sp);
        if (!holds(static_cast<CompareOp>(in->aux), *--sp, y)) {
          write_back(p, cells, dirty);
          return {FAST_DONE, 0};
        }
        break;
      }
      case I_TEST:
        if (!*--sp) {
          write_back(p, cells, dirty);
          return {FAST_DONE, 0};
        }
        break;
      case I_STORE:
        cells[in->cell] = *--sp;
        dirty |= 1u << in->cell;
        break;
      case I_ADD_TO:
        sp--;
        cells[in->cell] = wrap_add(cells[in->cell], *sp);
        dirty |= 1u << in->cell;
        break;
      case I_SUB_FROM:
        sp--;
        cells[in->cell] = wrap_sub(cells[in->cell], *sp);
        dirty |= 1u << in->cell;
        break;
      case I_STEP:
        cells[in->cell] = wrap_add(cells[in->cell], in->imm);
        dirty |= 1u << in->cell;
        break;
      default:   // I_LOOP
        in = code - 1;
        break;
    }
  }
hand_back:
  write_back(p, cells, dirty);
  return {static_cast<FastWhere>(in->where), in->index};
}
