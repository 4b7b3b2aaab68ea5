// Program trees: opcodes, operation-node and function-value layouts, call argument lists, the
// switch block and the stop-point table, and make_node.
#pragma once
#include <cstddef>
#include <cstdint>

#include "store/store.h"

// ---- opcodes (byte 3 of an operation node) ----
// The list and its facts are in frontend/opcodes.h. The evaluator's dispatch table covers
// 100..228; the parser produces 101..194 only (and never 140, 146, 171, 172, 185, 190).
#include "frontend/opcodes.h"

// Kind word of OP_FOR_OF / OP_FOR_IN (argument 4).
enum : uint32_t { FOR_KIND_LET = 0, FOR_KIND_CONST = 1, FOR_KIND_VAR = 2 };

// Printable name of an opcode ("ADD" for OP_ADD); "OP_<n>" style text for unnamed values.
const char* opcode_name(unsigned op);

// ---- operation nodes ----
// byte 1: module number (bits 0-6) and the no-stop flag (bit 7); byte 2: argument count, 255 when
// escaped; byte 3: opcode; word 1: argument 1 or the area handle of the argument words when the
// count is above 2; word 2: argument 2 when the count is 2, else 0; word 3: position word.
// Escaped counts: an OP_BLOCK of 255 or more statements keeps its count in word 3 (its position
// is 0); any other node with 255 or more arguments (long n-ary runs) keeps the count in word 2
// and its position in word 3.
constexpr uint8_t NODE_NO_STOP = 0x80;
constexpr uint8_t NODE_COUNT_ESCAPE = 255;
constexpr uint32_t POSITION_MASK = 0x7FFFFFFF;

inline bool is_node(DW h) { return dw_type(h) == T_NODE; }
inline unsigned node_op(DW h) { return node_rec(h)->op; }
inline unsigned node_module(DW h) { return node_rec(h)->modflags & 0x7F; }
inline bool node_no_stop(DW h) { return (node_rec(h)->modflags & NODE_NO_STOP) != 0; }
inline uint32_t node_argc(DW h) {
  const NodeRec* r = node_rec(h);
  if (r->argc != NODE_COUNT_ESCAPE) return r->argc;
  return r->op == OP_BLOCK ? r->pos : r->a2;
}
// The argument words, in slot order (inline words or the argument array).
inline DW* node_args(DW h) {
  NodeRec* r = node_rec(h);
  if (r->argc <= 2) return &r->a1;
  return static_cast<DW*>(area_ptr(r->a1));
}
inline DW node_arg(DW h, uint32_t i) { return node_args(h)[i]; }
// Position word with the no-stop bit masked: line in bits 0-15, column in bits 16-30.
inline uint32_t node_position(DW h) {
  const NodeRec* r = node_rec(h);
  if (r->argc == NODE_COUNT_ESCAPE && r->op == OP_BLOCK) return 0;
  return r->pos & POSITION_MASK;
}
constexpr uint32_t position_line(uint32_t pos) { return pos & 0xFFFF; }
constexpr uint32_t position_column(uint32_t pos) { return (pos >> 16) & 0x7FFF; }
constexpr uint32_t make_position(uint32_t line, uint32_t column) {
  return ((column & 0x7FFF) << 16) | (line & 0xFFFF);
}

// New operation node (count 0). Takes one reference on every argument word; more than two
// arguments go to an argument array in the word area. Byte 1 gets the module being parsed
// (parse_module) and the no-stop bit by the stop-point rule.
DW make_node(unsigned opcode, uint32_t count, const DW* args, uint32_t position);

// ---- stop points ----
// Nodes of opcodes that are not stop points (op_is_stop_point) always carry NODE_NO_STOP;
// stop-point nodes carry it only while no_stop_mode is on (text parsed at run time: the main
// call, eval, record_map, debugger text).
extern bool no_stop_mode;
// The stop-point opcodes as a zero-terminated byte string, for the debug front end.
struct StopPointList {
  uint8_t ops[OP_LAST - OP_FIRST + 2];
  constexpr StopPointList() : ops() {
    int n = 0;
    for (unsigned op = OP_FIRST; op <= OP_LAST; op++)
      if (op_is_stop_point(op)) ops[n++] = static_cast<uint8_t>(op);
    ops[n] = 0;
  }
};
inline constexpr StopPointList stop_point_list{};
inline constexpr const uint8_t* stop_point_opcodes = stop_point_list.ops;
inline bool is_stop_point_opcode(unsigned op) { return op_is_stop_point(op); }

// ---- call argument lists ----
// An area block of count + 1 words: the count, then the argument trees (one reference each).
// Up to 255 arguments. Used by OP_CALL and OP_NEW (argument 2).
inline uint32_t arglist_count(DW list) { return static_cast<uint32_t*>(area_ptr(list))[0]; }
inline DW* arglist_args(DW list) { return static_cast<DW*>(area_ptr(list)) + 1; }

// ---- function values (type 14, FuncRec) ----
// byte 1 module, byte 2 parameter count, byte 3 local-name count, word 1 body (OP_BLOCK), word 2
// area handle of the name array (parameters, then local names; 0 when both counts are 0),
// 16-bit line of the keyword, 16-bit line of the closing brace. A parameter entry is a name or
// OP_ASSIGN(name, default tree).
inline unsigned func_module(DW h) { return func_rec(h)->module & 0x7F; }
inline unsigned func_param_count(DW h) { return func_rec(h)->nparams; }
inline unsigned func_local_count(DW h) { return func_rec(h)->nlocals; }
inline DW func_body(DW h) { return func_rec(h)->body; }
inline DW* func_names(DW h) {
  DW n = func_rec(h)->names;
  return n ? static_cast<DW*>(area_ptr(n)) : nullptr;
}
// Name index of parameter i (the target of a default-value entry).
inline DW func_param_name(DW h, unsigned i) {
  DW e = func_names(h)[i];
  return is_node(e) ? node_arg(e, 0) : e;
}

// ---- OP_SWITCH ----
// Byte 2 holds 4; word 1 is the area handle of four words: discriminant, case table area,
// statement array area, default flag. The case table has (entries + 1) pairs of words: pair 0 =
// (number of pairs, number of statements), pair 1 = (0, statement index of default), pairs 2.. =
// (case value tree, statement index of the first statement after that label). The number of
// pairs counts every pair of the table, pairs 0 and 1 included: the cases are pairs 2 to n - 1.
inline DW switch_discriminant(DW h) { return node_arg(h, 0); }
inline uint32_t* switch_case_table(DW h) { return static_cast<uint32_t*>(area_ptr(node_arg(h, 1))); }
inline uint32_t switch_pair_count(DW h) { return switch_case_table(h)[0]; }
inline uint32_t switch_statement_count(DW h) { return switch_case_table(h)[1]; }
inline uint32_t switch_default_index(DW h) { return switch_case_table(h)[3]; }
inline DW switch_case_value(DW h, uint32_t pair) { return switch_case_table(h)[2 * pair]; }
inline uint32_t switch_case_index(DW h, uint32_t pair) { return switch_case_table(h)[2 * pair + 1]; }
inline DW* switch_statements(DW h) { return static_cast<DW*>(area_ptr(node_arg(h, 2))); }
inline bool switch_has_default(DW h) { return node_arg(h, 3) != 0; }

// ---- OP_TRY catch pair: 2 words [parameter name, catch block] ----
inline DW try_catch_name(DW pair) { return static_cast<DW*>(area_ptr(pair))[0]; }
inline DW try_catch_block(DW pair) { return static_cast<DW*>(area_ptr(pair))[1]; }

// ---- OP_FOR ----
// Argument 1: word array [init trees..., condition, update trees...]; argument 2: counts.
inline DW* for_words(DW h) { return static_cast<DW*>(area_ptr(node_arg(h, 0))); }
inline uint32_t for_init_count(DW h) { return node_arg(h, 1) >> 16; }
inline uint32_t for_update_count(DW h) { return node_arg(h, 1) & 0xFFFF; }

