// The compiled form shared by its compiler (compile_form.cpp) and its runner (vm_form.cpp):
// instructions over a stack of native numbers and a frame of cells, one cell per variable.
#pragma once
#include "eval/compiled.h"

namespace form {

// A native number: an Integer (TAG_INT), a Float (TAG_FLOAT), or no number yet (TAG_NONE: a
// variable that holds something else, which the code must not read).
enum : uint8_t { TAG_INT, TAG_FLOAT, TAG_NONE };
struct Cell {
  double d;
  int32_t i;
  uint32_t tag;
};

enum Op : uint8_t {
  I_LOAD,      // push cell (a cell without a number hands back)
  I_INT,       // push imm
  I_FLOAT,     // push d
  I_ADD,       // a + b (Integers wrap at 32 bits; otherwise in double)
  I_ARITH,     // aux = - * / % **, imm operands folded as the tree folds them
  I_BIT,       // a aux b for & | ^ (Integers only)
  I_BIT_NOT,   // ~a
  I_SHIFT,     // a aux b for << >> >>>
  I_CMP,       // a aux b (CompareOp) as 1 or 0
  I_STRICT,    // a === b (aux 0) or a !== b (aux 1)
  I_NOT,       // !a
  I_JUMP,      // to imm
  I_JFALSE,    // pop; not true jumps to imm
  I_JTRUE,     // pop; true jumps to imm
  I_STORE,     // pop into cell
  I_ADD_TO,    // cell += pop
  I_ARITH_TO,  // cell aux= pop for -= *= /= %=
  I_BIT_TO,    // cell aux= pop for &= |= ^=
  I_STEP,      // cell ++ / -- (imm = +1 or -1)
  I_CALL,      // call form imm with aux arguments popped; push the result (cell: 1 = discarded)
  I_POP,       // drop the top
  I_MARK,      // a statement of the loop begins: aux = LoopWhere, imm = index, cell: 1 = snapshot
  I_RETURN,    // pop: the result
  I_RETURN_UNDEFINED,
  I_END,       // loop: done; function: the body ended (undefined)
};

struct Ins {
  uint8_t op;
  uint8_t aux;
  uint16_t cell;
  int32_t imm;
  double d;
};

constexpr int MAX_CELLS = 64;
constexpr int MAX_STACK = 48;
constexpr int MAX_CALLEES = 32;

struct Callee {
  uint32_t name;   // the global name called
  DW func;         // the function value it held when the form was made
  int form;
};

enum State : uint8_t { S_BUILDING, S_READY, S_NONE };

struct Form {
  State state;
  bool loop;          // a loop's form (cells are variables resolved when it starts)
  DW key;             // function body, or loop body
  DW cond;            // a loop's condition
  int nparams, ncells, nstack;
  uint32_t names[MAX_CELLS];
  bool written[MAX_CELLS];
  Ins* code;
  int n;
  Callee callees[MAX_CALLEES];
  int ncallees;
  uint32_t runs, abandoned;
};

extern Form* forms;
extern int nforms;

// Compiles the form of a function value or of a loop (index), or -1 when it has none.
int compile_function(DW func);
int compile_loop(DW cond, DW body, const DW* updates, uint32_t nupdates);
// Whether every form reachable from f is ready and every global it calls holds the same function.
bool callees_valid(int f);

// The result of a run: a number, undefined, or abandoned (hand back).
enum RunEnd : uint8_t { RUN_VALUE, RUN_UNDEFINED, RUN_ABANDON };
// Runs function form f on its parameters' numbers.
RunEnd run_function(const Form* f, const Cell* args, Cell* result);
// Runs a loop form on cells: the stop, cells updated, *dirty the cells written.
LoopStop run_loop(const Form* f, Cell* cells, uint64_t* dirty);

}  // namespace form
