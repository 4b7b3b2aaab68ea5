// The evaluator's interface: evaluation globals, the local stack, locations, eval_node with its
// dispatch table, calls of script functions, and the conversions and text forms shared with the
// built-in library.
#pragma once
#include <array>
#include <cstddef>
#include <cstdint>

#include "errors/raise.h"
#include "eval/globals.h"
#include "frontend/tree.h"
#include "store/store.h"

// ---- evaluation globals ----

enum : uint8_t { LOC_NONE = 0, LOC_ELEMENT = 3, LOC_FIELD = 5, LOC_LOCAL = 10, LOC_GLOBAL = 11, LOC_PAIR = 21 };

// Where the last value read by a variable, element or member access lives. Elements and pairs
// are kept as (container value, index) and resolved when written, so that a container whose
// list was reallocated in between is still written correctly.
struct Location {
  uint8_t kind;
  int32_t index;
  DW container;   // LOC_ELEMENT: the array; LOC_PAIR: the object or keyed array
  uint8_t* field; // LOC_FIELD: the record whose 32-bit field at offset 8 receives the value
};

extern Location last_location;
extern bool last_location_const;
extern bool create_missing;
extern uint32_t last_name;   // name index of the last variable resolved; 0 when none

// ---- the local stack ----
// Slot 0 is never used; local_top is the last used slot (0 when empty).
extern VarSlot* local_stack;
extern int local_top;
extern int local_capacity;
extern int frame_base;       // first slot of the running call (0 at top level)
extern int param_count;      // the running function's parameter count
extern int local_count;      // and var-local count
extern int block_start;      // first slot of the innermost open block
extern int block_depth;      // open blocks and loops; 0 at top level

// Makes room for n more slots (at least 512 free remain after a growth).
void local_grow(int n);
inline void local_reserve(int n) {
  if (local_top + n >= local_capacity) local_grow(n);
}
// Per bucket of names (low bits of the index), the slot that last took a name of the bucket or
// was last found for one. A hint inside the running call's slots that holds its name is that
// name's innermost slot: a slot only takes a name at the top of the stack or while the slots
// above it are nameless (a call's parameters), and every naming sets its bucket's hint, so no
// slot above the hinted one can hold the name without having moved the hint. (A debugger
// evaluation in an outer call searches fewer slots; what it finds lies below every slot of the
// calls above, so their searches never take its hints.)
constexpr int LOCAL_HINTS = 1024;
extern int local_hint[LOCAL_HINTS];
// Gives slot i its name (every naming of a slot goes through here or local_push).
inline void local_name(int i, uint32_t name) {
  local_stack[i].name = name;
  local_hint[name & (LOCAL_HINTS - 1)] = i;
}
// Pushes a slot; the value's reference is the caller's (none is taken here).
inline int local_push(uint32_t name, DW value) {
  local_reserve(1);
  local_top++;
  local_stack[local_top].name = name;
  local_stack[local_top].value = value;
  local_hint[name & (LOCAL_HINTS - 1)] = local_top;
  return local_top;
}
// Pops and releases every slot from local_top down to mark (local_top becomes mark - 1). A slot
// holding keep only loses its reference without being destroyed (a result on its way out).
void locals_pop(int mark, DW keep);

// A return whose function frame is the innermost jump frame does not jump: it sets returning
// and the statements on the way (blocks, if, try) end one after the other up to
// run_function_body, which pushed that frame (fast_return_frame is its index).
extern bool returning;
extern DW return_code;
extern int fast_return_frame;

// Scope state that every receiver of a jump restores.
struct ScopeMark {
  int frame_base, param_count, local_count, block_start, block_depth, fast_return_frame;
};
inline ScopeMark scope_save() {
  return {frame_base, param_count, local_count, block_start, block_depth, fast_return_frame};
}
inline void scope_restore(const ScopeMark& m) {
  fast_return_frame = m.fast_return_frame;
  frame_base = m.frame_base;
  param_count = m.param_count;
  local_count = m.local_count;
  block_start = m.block_start;
  block_depth = m.block_depth;
  create_missing = false;
}

// ---- native stack guard ----
// Deep recursion raises 2160 instead of overflowing the native stack.
extern char* stack_limit;
[[noreturn]] void raise_stack_overflow();
void stack_guard_init();
inline void stack_check() {
  if (static_cast<char*>(__builtin_frame_address(0)) < stack_limit) raise_stack_overflow();
}

// ---- dispatch ----

using OpHandler = DW (*)(DW node, NodeRec* r);
// Indexed by (opcode - 100) & 0xFF: entries 0-128 are the opcodes 100-228; the rest raise 1860.
extern const std::array<OpHandler, 256> op_table;
// The handlers allowed while the debugger evaluates an expression; the others raise 1860.
extern const std::array<OpHandler, 256> restricted_op_table;
// Set by the debugger link while it is open: eval_node then calls the stop hook before each
// operation node and uses the restricted table during a debugger evaluation.
extern bool eval_hooks_on;

DW eval_leaf(DW h);                          // types other than 0 and 13
DW eval_node_hooked(DW h, NodeRec* r);       // the debugger's path
DW lookup_global(uint32_t name);             // the global part of lookup_variable

// The value of a variable: the innermost local of that name in the running call (when a block
// is open), else the global, else a new global holding undefined. Leaves the location behind.
// The slot of the innermost local of that name in the running call (only while a block is
// open); 0 when there is none.
inline int local_slot_of(uint32_t name) {
  if (block_depth > 0) {
    int low = frame_base < 1 ? 1 : frame_base;
    int& hint = local_hint[name & (LOCAL_HINTS - 1)];
    int h = hint;
    if (h >= low && h <= local_top && (local_stack[h].name & NAME_MASK) == name) return h;
    for (int i = local_top; i >= low; i--)
      if ((local_stack[i].name & NAME_MASK) == name) {
        hint = i;
        return i;
      }
  }
  return 0;
}

inline DW lookup_variable(DW h) {
  uint32_t name = h & NAME_MASK;
  last_name = name;
  if (int i = local_slot_of(name)) {
    last_location.kind = LOC_LOCAL;
    last_location.index = i;
    last_location_const = (local_stack[i].name & CONST_BIT) != 0;
    return local_stack[i].value;
  }
  return lookup_global(name);
}

DW eval_non_node(DW h);   // constants, names and leaves

inline DW eval_node(DW h) {
  if (dw_type(h) == T_NODE) {
    NodeRec* r = node_rec(h);
    cur_module = r->modflags & 0x7F;
    cur_position = r->pos & POSITION_MASK;
    if (__builtin_expect(eval_hooks_on, 0)) return eval_node_hooked(h, r);
    return op_table[static_cast<uint8_t>(r->op - 100)](h, r);
  }
  return eval_non_node(h);
}

// Argument count of a node, escaped counts included.
inline uint32_t rec_argc(const NodeRec* r) {
  if (r->argc != NODE_COUNT_ESCAPE) return r->argc;
  return r->op == OP_BLOCK ? r->pos : r->a2;
}
inline DW* rec_args(NodeRec* r) {
  if (r->argc <= 2) return &r->a1;
  return static_cast<DW*>(area_ptr(r->a1));
}

// Whether evaluating a tree can run script code (anything but a plain leaf or a name).
inline bool tree_runs_code(DW t) {
  unsigned ty = dw_type(t);
  return ty == T_NODE || ty == T_STRING || ty == T_ARRAY || ty == T_KEYED || ty == T_OBJECT;
}

// Reference count helpers.
inline unsigned dw_count(DW h) { return *dw_header(h) >> 4; }
// dw_discard with the common case (a held value) decided inline.
inline void value_discard(DW h) {
  unsigned t = dw_type(h);
  if (t - 1u < 14u && (*dw_header(h) >> 4) == 0) dw_destroy(t, h);
}

// ---- statements, calls ----

// Evaluates a statement, discards its value, then pops every local slot at or above mark.
void run_statement(DW tree, int mark);
// Runs a function body under a JF_FUNCTION frame. Returns the returned value (undefined when
// the body completes or runs `return;`); *returned tells whether a value was returned.
DW run_function_body(DW body, bool* returned);
void frameless_cache_reset();
// Runs the statements of a block node from index first on, as the block does (no stack check).
void run_block_from(NodeRec* r, uint32_t first);   // after the store was reset (handles are reused)
// The general call path of OP_CALL.
DW call_function(DW node, NodeRec* r);
// Calls fn with `this` bound to object and already evaluated arguments.
DW call_member_function(DW fn, const DW* values, int n, DW object);
DW op_error_values(DW message, DW code, bool hasCode);   // Error / Exception from values

// ---- locations ----
DW* location_slot(const Location& loc);
void store_location(const Location& loc, DW value, int mode);  // mode 1: ref new, 2: release old

// ---- conversions and comparisons ----
int to_boolean(DW v);
double to_number(DW v, bool* isFloat);
int number_text(double x, char* buf, size_t size);
bool strict_equal_test(DW a, DW b);
DW strict_equal(DW a, DW b);   // true/false; discards a and b
enum CompareOp : uint8_t { CMP_EQ, CMP_NE, CMP_LT, CMP_LE, CMP_GT, CMP_GE };
DW loose_compare(DW a, DW b, CompareOp op);   // true/false; discards a and b
// Truncates a double toward zero and keeps the low 32 bits (the Integer of an arithmetic result).
int32_t double_to_int32(double d);
// An Integer value, taken from a table of permanent values for small numbers.
DW int_value(int32_t v);
void small_ints_reset();   // after the store was reset

// ---- text forms ----

// A growable text buffer; starts on caller storage and moves to the heap when it must grow.
struct TextBuf {
  char* data;
  size_t len;
  size_t cap;
  bool heap;
};
inline void textbuf_init(TextBuf* b, char* storage, size_t cap) {
  b->data = storage;
  b->len = 0;
  b->cap = cap;
  b->heap = false;
  if (cap) storage[0] = 0;
}
void textbuf_append(TextBuf* b, const char* s, size_t n);
inline void textbuf_putc(TextBuf* b, char c) {
  if (b->len + 2 > b->cap) textbuf_append(b, &c, 1);
  else {
    b->data[b->len++] = c;
    b->data[b->len] = 0;
  }
}
void textbuf_free(TextBuf* b);

// Text of a value at top level. Returns the text (in buf, or a heap block when *owned is set,
// which the caller frees with std::free); 2522 for a function or another value without text.
char* value_to_text(DW v, size_t* len, char* buf, size_t size, bool* owned);
// The same text as a new string value (unreferenced); v is left as it is.
DW value_text_string(DW v);
// Appends the text of a nested value (strings quoted when quote is set); 2520 when unsupported.
void append_value_text(DW v, bool quote, TextBuf* b);
// Text of a constant ("undefined", "true", "false", "null", "NaN").
const char* constant_name(DW c, size_t* len);

// ---- the driver's entry ----

// Switches the evaluator to run mode (stack guard, state at top level). Idempotent.
void eval_start();
// Runs top-level statements in order with block depth 0, discarding each result.
void eval_run_statements(const DW* statements, uint32_t count);
// Evaluates the parsed top-function call and discards its result.
void eval_run_call(DW call);
// Clears the evaluator's state (local stack, globals, flags); for tests and a fresh run.
void eval_reset();
