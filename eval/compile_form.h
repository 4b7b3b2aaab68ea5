// The compiled form shared by its compiler (compile_form.cpp) and its runner (vm_form.cpp):
// instructions over a stack of native numbers and a frame of cells, one cell per variable.
#pragma once
#include "eval/compiled.h"
#include "eval/method_table.h"

namespace form {

// A native number in one word: a Float is its double; an Integer, a string, an array or object
// (its handle) and "no number" (a variable that holds something else, which the code must not
// read) are signalling-NaN patterns, which arithmetic never produces (a Float of such bits is
// left to the tree). A string cell is the string value itself: a variable's (shared, as the
// tree shares it) or, on the stack only, a new one (count 0) that its consumer frees.
using Cell = uint64_t;
constexpr uint64_t TAG_MASK = 0xFFFF000000000000ull;
constexpr uint64_t INT_BITS = 0x7FF3000000000000ull;
constexpr uint64_t STRING_BITS = 0x7FF4000000000000ull;
constexpr Cell CELL_NONE = 0x7FF5000000000000ull;
constexpr uint64_t ARRAY_BITS = 0x7FF6000000000000ull;
constexpr uint64_t OBJECT_BITS = 0x7FF7000000000000ull;
inline bool cell_is_int(Cell c) { return (c & TAG_MASK) == INT_BITS; }
inline bool cell_is_number(Cell c) { return (c >> 48) - 0x7FF4u >= 4u; }
inline bool cell_is_string(Cell c) { return (c & TAG_MASK) == STRING_BITS; }
inline DW cell_string(Cell c) { return static_cast<DW>(c); }
inline Cell string_cell(DW h) { return STRING_BITS | h; }
inline bool cell_is_float(Cell c) { return cell_is_number(c) && !cell_is_int(c); }
inline bool cell_is_array(Cell c) { return (c & TAG_MASK) == ARRAY_BITS; }
inline bool cell_is_object(Cell c) { return (c & TAG_MASK) == OBJECT_BITS; }
inline DW cell_array(Cell c) { return static_cast<DW>(c); }
inline DW cell_object(Cell c) { return static_cast<DW>(c); }
inline Cell array_cell(DW h) { return ARRAY_BITS | h; }
inline Cell object_cell(DW h) { return OBJECT_BITS | h; }
inline int32_t cell_int(Cell c) { return static_cast<int32_t>(static_cast<uint32_t>(c)); }
inline Cell int_cell(int32_t v) { return INT_BITS | static_cast<uint32_t>(v); }
inline double cell_float(Cell c) { return __builtin_bit_cast(double, c); }
inline Cell float_cell(double d) { return __builtin_bit_cast(Cell, d); }

// Operations that take a right operand take it from the stack, from a cell or from the
// instruction itself (a variable or a literal just before them is folded in).
enum Right : uint8_t { R_STACK, R_CELL, R_CONST };

enum Op : uint8_t {
  I_LOAD,      // push cell (a cell without a number hands back)
  I_CONST,     // push k
  I_ADD,       // a + b (Integers wrap at 32 bits; otherwise in double)
  I_ARITH2,    // a aux b for - * / % **
  I_ARITH,     // aux = - * / % **, imm operands folded as the tree folds them
  I_BIT_NOT,   // ~a
  I_SHIFT,     // a aux b for << >> >>>
  I_CMP,       // a aux b (CompareOp) as 1 or 0
  I_CMP_JFALSE,  // a aux b; false jumps to imm
  I_CMP_JTRUE,   // a aux b; true jumps to imm
  I_STRICT,    // a === b (aux 0) or a !== b (aux 1)
  I_NOT,       // !a
  I_JUMP,      // to imm
  I_JFALSE,    // pop; not true jumps to imm
  I_JTRUE,     // pop; true jumps to imm
  I_STORE,     // b into cell
  I_ADD_TO,    // cell += b
  I_ARITH_TO,  // cell aux= b for -= *= /= %=
  I_BIT_TO,    // cell aux= b for &= |= ^=
  I_STEP,      // cell ++ / -- (imm = +1 or -1)
  I_CALL,      // call form imm with aux arguments popped; push the result (cell: 1 = discarded);
               // k: the arguments that are values read from places (handed over themselves);
               // rcell 1: the result may be stored as it is (I_STORE_VALUE)
  I_SNAP,      // a loop statement that may write more than once begins: keep the cells
  I_RETURN,    // pop: the result
  I_RETURN_UNDEFINED,
  I_END,       // loop: done; function: the body ended (undefined)
  I_GLOBAL,    // push global imm (a function's read of a global that holds a number)
  I_INDEX,     // element b of the array in cell (aux 1: in global imm; aux 2: the array popped
               // from under b), an Integer or Float in range; or the member of an object that a
               // string b names (likewise for I_INDEX_VALUE and I_INDEX_STORE)
  I_LENGTH,    // the length of the array or string in cell (aux 1: in global imm)
  I_INDEX_STORE,   // a[b] = pop for the array in cell, an element in range; aux 1: the
                   // value is the literal imm itself (stored as the tree stores it); aux 2 (loops):
                   // the value of the variable in cell imm itself
  // (I_SNAP aux 1: the statement's element, member and variable-value writes are logged, so that a
  // hand-back in it puts the values they replaced back)
  I_POS,       // nothing but its position (a node entered that has no code of its own here)
  I_LOAD_OBJ,  // push cell, which must hold an object
  I_MEMBER,    // member imm of the object b: aux M_NUMBER a number, M_OBJECT an object, M_VALUE
               // a number, an object or a string (kept as the source of the next I_STORE_VALUE)
  I_INDEX_VALUE,   // as I_INDEX, the element a number, an object or a string, kept as the source
  I_STORE_VALUE,   // b into cell; a loop writes the source itself into the variable at once
  I_MEMBER_STORE,  // o.imm = pop (aux 1: the literal k itself) for the object b
  I_MEMBER_TO,     // o.imm aux= pop for the object b (+= reads the member first)
  I_MATH,      // Math function aux over its popped numbers
  I_LOAD_VALUE,    // push cell, which must hold a number, an object or an array (a call's argument)
  I_OBJECT,    // a new object of literal imm (aux members; rcell: where their plan begins); imm 0:
               // of a constructor's members (Form::ctorNames)
  I_CASE,      // cell === k (a number literal) jumps to imm
  I_SUBLOOP,   // a loop's inner loop statement imm, run by the tree on the variables written back
  I_PUSH,      // a loop's a.push(v) for the array in cell: aux 0 a number popped, 1 the literal k,
               // 2 the variable in rcell (its value itself); imm the method's name
  I_CMP_CELL_JFALSE,  // cell aux b; false jumps to imm (a variable compared and tested at once)
  I_CMP_CELL_JTRUE,   // cell aux b; true jumps to imm
  I_INDEX_TRUTH,   // as I_INDEX for a test: an element true or false is pushed as 1 or 0
  I_ROW,       // element b of the array in cell (aux 1: in global imm), itself an array, pushed
  I_SUB2,      // I_ARITH2 of one operator and one place of b, with the runner's own code for
  I_MUL2,      // each (set when the form is finished: the runner then takes no branch on the
  I_DIV2,      // operator or on where b is): b popped,
  I_MOD2,
  I_SUB2K,     // b given,
  I_MUL2K,
  I_DIV2K,
  I_MOD2K,
  I_SUB2C,     // b in its cell
  I_MUL2C,
  I_DIV2C,
  I_MOD2C,
  I_SUBN,      // I_ARITH of one operator, likewise
  I_MULN,
  I_AND2,      // a & b, a | b, a ^ b (Integers only)
  I_OR2,
  I_XOR2,
  // Strings (a string operand popped is freed when it is new):
  I_LOAD_ANY,  // push cell, which must hold a number or a string
  I_STR_CMP,   // a aux b (CompareOp) over two strings (byte order) or two numbers, as 1 or 0
  I_STR_STRICT,    // a === b (aux 0) or a !== b (aux 1) over any two cells
  I_STR_TRUTH,     // the truth of a number or a string, as 1 or 0
  I_CONCAT,    // a + b where a or b may be a string
  I_STR_CALL,  // String method aux (StrOp) on imm arguments popped; the receiver from rcell
               // (right R_CELL) or popped after them
  I_CASE_TOP,  // the value on top === k (a literal): popped, jumps to imm
  I_DROP,      // pop
  I_STORE_ANY,     // a loop's x = pop, a number (into the cell) or a string (into the variable)
  I_APPEND,    // a loop's x += the aux values popped (x a string: in place when x alone holds it)
  // Library methods through their rows:
  I_LENGTH_TOP,    // the length of the string on top (freed when new; a call's, a member's or an
                   // element's), in place of it
  I_LOAD_ARG,  // push cell, which must hold a number, a string, an array or an object
  I_METHOD,    // method of imm arguments popped (LibMode and flags in aux); the receiver from rcell
               // (right R_CELL), popped after them, or a static object (LF_STATIC); k: the rows
               // (lib_rows); LM_STORE: the result into the variable of cell
  // Exceptions:
  I_THROW,     // throw pop (a number or a string): to the catch clause that holds this
               // instruction (Landing), else out of the form (a function) or back to the tree
  // Compound writes of elements:
  I_LOAD_SOURCE,   // a loop's push of cell (a number, an object or an array) as a call's argument
                   // that the callee's literal shares: the variable's value itself goes with it
  I_CTOR,      // the object on top was made by new imm(...): it takes that constructor's name
  I_INDEX_TO,  // a[b] aux= pop for the array (or object) in cell, as I_INDEX_STORE finds the place
               // (aux -= *= /= %= &= |= ^=: the value was computed before the place is read)
  I_COUNT
};

struct Ins {
  uint8_t op;
  uint8_t aux;
  uint8_t right;    // Right: where b comes from
  uint8_t mod;      // NO_NODE, or the module of the last node the tree enters by this point
  uint16_t cell;
  uint16_t rcell;   // R_CELL: the cell of b
  int32_t imm;
  uint32_t pos;     // and that node's position (what the tree leaves in cur_position)
  Cell k;           // I_CONST, R_CONST: the number; I_MEMBER_STORE: the literal
  mutable uint32_t hint;   // member operations: the pair where the name was found last
};
enum MemberWant : uint8_t { M_NUMBER, M_OBJECT, M_VALUE };
enum StrOp : uint8_t { S_CHAR_AT, S_CHAR_CODE_AT, S_INDEX_OF, S_SUBSTRING };
// Where a library method's result goes: onto the stack as a number or a string, as a number,
// nowhere, or into a loop's variable as it is (whatever it is).
enum LibMode : uint8_t { LM_ANY, LM_NUMBER, LM_DISCARD, LM_STORE };
constexpr uint8_t LM_MASK = 0x0F;
constexpr uint8_t LF_STATIC = 0x10;    // the receiver is a static object (Math, Number, String, Object)
constexpr uint8_t LF_CHANGES = 0x20;   // a row that changes its receiver or arguments may run
// I_METHOD's k: the String row + 1 (bits 0-7), the Array row + 1 (8-15), 0 where the call would
// raise; a static call: its row + 1 (0-7), its table (LibStatic, 24-31) and the object's name
// (32-63).
enum LibStatic : uint8_t { LS_NONE, LS_MATH, LS_NUMBER, LS_STRING, LS_OBJECT };
constexpr uint8_t NO_NODE = 0xFF;

// Where each statement of a loop's code begins, and whether it keeps a snapshot. A statement
// of an inner loop compiled into its outer loop's code also names that inner loop (inner >= 0)
// and where the tree takes the inner loop over (innerWhere, innerIndex).
struct Mark {
  int pc;
  uint8_t where;
  bool snap;
  int8_t inner;
  uint8_t innerWhere;
  uint32_t index;
  uint32_t innerIndex;
};

// An inner loop compiled into its outer loop's code: the tree takes it over by running it again
// from its start (its inits are plain numbers over variables the loop does not write, so they
// give what they gave) and then at once where the code stopped, with the variables the inits
// wrote given back their values.
struct Inner {
  DW cond, body;
  uint64_t inits;   // cells the inits write
};
constexpr int MAX_INNERS = 8;

constexpr int MAX_CELLS = 64;
constexpr int LOG_MAX = 16;   // values a logging snapshot keeps for one statement
constexpr int MAX_STACK = 48;
constexpr int MAX_CALLEES = 32;
constexpr int MAX_GLOBALS = 16;

struct Callee {
  uint32_t name;   // the global name called
  DW func;         // the function value it held when the form was made
  int form;
  bool wantsNumber;     // the result is used as a number or dropped: it must not be an object
  bool returned;        // the caller returns the result as it is
  uint32_t freshArgs;   // arguments that are new numbers or objects (a parameter that a literal
                        // shares must be given one of these)
};

// How an object literal's member gets its value: the literal's own constant, a new number from
// the stack, or a variable's value (shared, as the tree shares it).
enum PlanKind : uint8_t { P_CONSTANT, P_NUMBER, P_CELL };
constexpr int MAX_PLAN = 128;
constexpr int MAX_CTOR_MEMBERS = 16;

enum State : uint8_t { S_BUILDING, S_READY, S_NONE };

// A try block compiled with its catch clause: a throw from an instruction in [from, to) (a throw
// statement, or a compiled callee that threw) drops the stack to depth and goes on at the catch
// clause at. Blocks nest or are apart; the inner one of two is listed first.
struct Landing {
  int from, to, at, depth;
};
constexpr int MAX_LANDINGS = 8;

struct Form {
  State state;
  bool loop;          // a loop's form (cells are variables resolved when it starts)
  DW key;             // function body, or loop body
  DW cond;            // a loop's condition
  int nparams, ncells, nstack;
  uint32_t names[MAX_CELLS];
  bool written[MAX_CELLS];
  bool declared[MAX_CELLS];   // a loop's var writes the variable
  Ins* code;
  int n;
  Mark* marks;
  int nmarks, maxmarks;
  Inner inners[MAX_INNERS];
  int ninners;
  Callee callees[MAX_CALLEES];
  int ncallees;
  uint32_t gnames[MAX_GLOBALS];   // globals a function reads, and their slots when compiled
  int gslots[MAX_GLOBALS];
  int nglobals;
  uint32_t runs, abandoned;
  uint32_t sharedParams;   // parameters that a literal's member shares
  bool returnsLiteral;     // a return gives a new object
  bool returnsObject;      // a return may give a new object (its own, or a callee's it returns)
  bool strings;            // the code reads strings (a function may then take string arguments)
  bool textual[MAX_CELLS]; // the code uses the variable as a string (compared, + and stores of it
                           // take a string there)
  uint16_t plan[MAX_PLAN]; // literal members: kind << 8 | cell
  int nplan;
  // A constructor's form (new F(...) whose body only gives this its members): the object it
  // builds has these member names and, for P_CONSTANT members, these values.
  bool ctor;
  uint32_t ctorNames[MAX_CTOR_MEMBERS];
  DW ctorConsts[MAX_CTOR_MEMBERS];
  Landing landings[MAX_LANDINGS];
  int nlandings;
  // A loop's variables as last resolved, and what they were resolved against: a frame of the
  // same local names (whether at top level; the last slot's position from the frame's first)
  // and as many globals resolve them the same way again.
  bool resolved;
  bool rsBlock;
  int rsBase, rsTop, rsGlobals;
  uint32_t rsLocals[32];
  int32_t rsSlot[MAX_CELLS];   // > 0: a local's position from the frame's first slot, plus 1; < 0: -1 - a global's index
  uint32_t rsGlobalName[MAX_CELLS];
  bool keys;           // the code may read a member key from a cell (a function may then take
                       // string arguments)
  bool writes;         // a function writes elements or members (as the last thing its run does)
                       // or calls a function that does
  bool takenPure;      // a caller compiled while this form was being built took it not to write
  bool library;        // the code calls library methods (which may raise)
  uint8_t libraryReach;   // 0: not known yet; 1: it or a form it calls does; 2: none does
};

extern Form* forms;
extern int nforms;

// Compiles the form of a function value or of a loop (index), or -1 when it has none.
int compile_function(DW func);
// The form of a function called by new, whose body is a list of this.name = e (the object built
// as a literal of those members would be), or -1.
int compile_constructor(DW func);
int compile_loop(DW cond, DW body, const DW* updates, uint32_t nupdates);
// Whether every form reachable from f is ready and every global it calls holds the same function.
bool callees_valid(int f);
// Whether form f, or a form it calls, calls library methods (a raise may then cross the code).
bool reaches_library(int f);
// The same asked while forms are being made, kept nowhere: a form not finished may reach one.
bool may_reach_library(int f);
// The table of a static object's calls (LibStatic).
const MethodTable* lib_static_table(unsigned which);
// Whether a function that loop form f calls reads one of these variable slots (the loop holds
// them in its cells while it runs).
bool callees_read(int f, DW* const* slots, int nslots);

// The result of a run: a number, undefined, abandoned (hand back), or a throw that no catch
// clause of the form took (*result: the value thrown, a number or a string that its taker frees).
enum RunEnd : uint8_t { RUN_VALUE, RUN_UNDEFINED, RUN_ABANDON, RUN_THROW };
// Runs function form f on its parameters' numbers.
// *last: the instruction that names the last node the tree would have entered (or null).
// argsrc: the parameters' values when the tree called (null from compiled code, whose
// arguments are new numbers or objects wherever a literal shares them).
RunEnd run_function(const Form* f, const Cell* args, const DW* argsrc, Cell* result, const Ins** last);
// Runs a loop form on cells: the stop, cells updated, *dirty the cells written.
// Values that the code writes through (objects) go into slots at once.
LoopStop run_loop(const Form* f, Cell* cells, DW** slots, uint64_t* dirty, const Ins** last);

}  // namespace form
