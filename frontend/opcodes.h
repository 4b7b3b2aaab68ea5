// The opcodes of operation nodes and their facts, in one list: the name (OP_<name>, and the text of
// dumps), the value, the evaluator's handler, whether a node of it may be a stop point, and
// whether a debugger evaluation may run it. Every table follows from this list.
#pragma once
#include <cstdint>

// X(name, value, handler, stop point, debugger evaluation); values run from 100 without gaps.
#define SCRIPTCGI_OPCODES(X) \
  X(NONE,                 100, op_undefined,            NOSTOP, DBG_OK) \
  X(POST_INC,             101, op_post_inc,               STOP, DBG_OK) \
  X(POST_DEC,             102, op_post_dec,               STOP, DBG_OK) \
  X(PRE_INC,              103, op_pre_inc,                STOP, DBG_OK) \
  X(PRE_DEC,              104, op_pre_dec,                STOP, DBG_OK) \
  X(TYPEOF,               105, op_typeof,               NOSTOP, DBG_REFUSED) \
  X(INSTANCEOF,           106, op_instanceof,           NOSTOP, DBG_REFUSED) /* x, name K */ \
  X(NOT,                  107, op_not,                  NOSTOP, DBG_OK) \
  X(AND,                  108, op_and,                  NOSTOP, DBG_OK) /* n-ary */ \
  X(OR,                   109, op_or,                   NOSTOP, DBG_OK) /* n-ary */ \
  X(EQ,                   110, op_eq,                   NOSTOP, DBG_OK) \
  X(STRICT_EQ,            111, op_strict_eq,            NOSTOP, DBG_OK) \
  X(NE,                   112, op_ne,                   NOSTOP, DBG_OK) \
  X(STRICT_NE,            113, op_strict_ne,            NOSTOP, DBG_OK) \
  X(GE,                   114, op_ge,                   NOSTOP, DBG_OK) \
  X(GT,                   115, op_gt,                   NOSTOP, DBG_OK) \
  X(LE,                   116, op_le,                   NOSTOP, DBG_OK) \
  X(LT,                   117, op_lt,                   NOSTOP, DBG_OK) \
  X(ADD,                  118, op_add,                  NOSTOP, DBG_OK) /* n-ary */ \
  X(SUB,                  119, op_arith,                NOSTOP, DBG_OK) /* n-ary */ \
  X(MUL,                  120, op_arith,                NOSTOP, DBG_OK) /* n-ary */ \
  X(DIV,                  121, op_arith,                NOSTOP, DBG_OK) /* n-ary */ \
  X(MOD,                  122, op_arith,                NOSTOP, DBG_OK) /* n-ary */ \
  X(ASSIGN,               123, op_assign,                 STOP, DBG_OK) /* target, value */ \
  X(ADD_ASSIGN,           124, op_add_assign,             STOP, DBG_OK) \
  X(SUB_ASSIGN,           125, op_arith_assign,           STOP, DBG_OK) \
  X(MUL_ASSIGN,           126, op_arith_assign,           STOP, DBG_OK) \
  X(DIV_ASSIGN,           127, op_arith_assign,           STOP, DBG_OK) \
  X(MOD_ASSIGN,           128, op_arith_assign,           STOP, DBG_OK) \
  X(AND_ASSIGN,           129, op_bit_assign,             STOP, DBG_OK) \
  X(OR_ASSIGN,            130, op_bit_assign,             STOP, DBG_OK) \
  X(XOR_ASSIGN,           131, op_bit_assign,             STOP, DBG_OK) \
  X(BIT_AND,              132, op_bitwise,              NOSTOP, DBG_OK) /* n-ary */ \
  X(BIT_OR,               133, op_bitwise,              NOSTOP, DBG_OK) /* n-ary */ \
  X(BIT_XOR,              134, op_bitwise,              NOSTOP, DBG_OK) /* n-ary */ \
  X(BIT_NOT,              135, op_bit_not,              NOSTOP, DBG_OK) \
  X(SHL,                  136, op_shift,                NOSTOP, DBG_OK) \
  X(SHR,                  137, op_shift,                NOSTOP, DBG_OK) \
  X(USHR,                 138, op_shift,                NOSTOP, DBG_OK) \
  X(COND,                 139, op_cond,                   STOP, DBG_OK) /* c, a, b */ \
  X(COLON,                140, op_undefined,            NOSTOP, DBG_OK) /* token only */ \
  X(VAR,                  141, op_var,                    STOP, DBG_REFUSED) /* items: name or OP_ASSIGN(name, init) */ \
  X(LET,                  142, op_let,                    STOP, DBG_REFUSED) \
  X(CONST,                143, op_let,                    STOP, DBG_REFUSED) \
  X(INDEX,                144, op_index,                NOSTOP, DBG_OK) /* a, i */ \
  X(MEMBER,               145, op_member,               NOSTOP, DBG_OK) /* a, name */ \
  X(COMMA,                146, op_undefined,            NOSTOP, DBG_OK) /* token only */ \
  X(IF,                   147, op_if,                     STOP, DBG_OK) /* c, then [, else] */ \
  X(WHILE,                148, op_while,                  STOP, DBG_REFUSED) /* c, body */ \
  X(DO_WHILE,             149, op_do_while,               STOP, DBG_REFUSED) /* body, c */ \
  X(FOR,                  150, op_for,                    STOP, DBG_REFUSED) /* word array [init..., c, update...], (ninit << 16) + nupdate, body */ \
  X(FOR_OF,               151, op_for_in_of,              STOP, DBG_REFUSED) /* name, e, body, kind (FOR_KIND_...) */ \
  X(FOR_IN,               152, op_for_in_of,              STOP, DBG_REFUSED) /* as OP_FOR_OF */ \
  X(TRY,                  153, op_try,                    STOP, DBG_REFUSED) /* try block, catch pair area (or 0) [, finally block] */ \
  X(THROW,                154, op_throw,                  STOP, DBG_REFUSED) /* e */ \
  X(BLOCK,                155, op_block,                NOSTOP, DBG_REFUSED) /* statements (count escaped in word 3 when >= 255) */ \
  X(BREAK,                156, op_break,                  STOP, DBG_REFUSED) \
  X(CONTINUE,             157, op_continue,               STOP, DBG_REFUSED) \
  X(RETURN,               158, op_return,                 STOP, DBG_REFUSED) /* [e] */ \
  X(GROUP,                159, op_group,                NOSTOP, DBG_OK) /* ( e1, e2, ... ) */ \
  X(CALL,                 160, op_call,                   STOP, DBG_REFUSED) /* f, argument-list area */ \
  X(POW,                  161, op_arith,                NOSTOP, DBG_OK) \
  X(SELECT,               162, op_select,                 STOP, DBG_REFUSED) \
  X(SELECT_HASH,          163, op_select_hash,            STOP, DBG_REFUSED) \
  X(SELECT_TO_FRONT,      164, op_select_to_front,        STOP, DBG_REFUSED) \
  X(SELECT_HASH_TO_FRONT, 165, op_select_hash_to_front,   STOP, DBG_REFUSED) \
  X(EXECUTE,              166, op_execute,                STOP, DBG_REFUSED) \
  X(OPEN_DB,              167, op_open_db,                STOP, DBG_REFUSED) \
  X(SELECT_EXISTS,        168, op_select_exists,        NOSTOP, DBG_REFUSED) \
  X(SEND_TO_FRONT,        169, op_send_to_front,          STOP, DBG_REFUSED) \
  X(SWITCH,               170, op_switch,                 STOP, DBG_REFUSED) /* switch block area (see switch accessors) */ \
  X(NUMBER,               171, op_number,                 STOP, DBG_OK) \
  X(STRING,               172, op_string,                 STOP, DBG_OK) \
  X(DECODE_URI,           173, op_uri,                    STOP, DBG_OK) \
  X(DECODE_URI_COMPONENT, 174, op_uri,                    STOP, DBG_OK) \
  X(ENCODE_URI,           175, op_uri,                    STOP, DBG_OK) \
  X(ENCODE_URI_COMPONENT, 176, op_uri,                    STOP, DBG_OK) \
  X(PARSE_FLOAT,          177, op_parse_float,            STOP, DBG_OK) \
  X(PARSE_INT,            178, op_parse_int,              STOP, DBG_OK) \
  X(EVAL,                 179, op_eval,                   STOP, DBG_OK) \
  X(CLOSE_DB,             180, op_close_db,               STOP, DBG_REFUSED) \
  X(SELECT_INTO,          181, op_select_into,            STOP, DBG_REFUSED) \
  X(REGEXP,               182, op_regexp,                 STOP, DBG_REFUSED) \
  X(NEW,                  183, op_new,                    STOP, DBG_REFUSED) /* K, argument-list area */ \
  X(EXCEPTION,            184, op_error,                  STOP, DBG_REFUSED) \
  X(DATE,                 185, op_date,                   STOP, DBG_OK) \
  X(INTEGER,              186, op_integer,                STOP, DBG_OK) \
  X(FLOAT,                187, op_float,                  STOP, DBG_OK) \
  X(ERROR,                188, op_error,                  STOP, DBG_REFUSED) \
  X(ARRAY,                189, op_array,                  STOP, DBG_OK) \
  X(HASH,                 190, op_refused,                STOP, DBG_REFUSED) \
  X(ALERT_TO_FRONT,       191, op_alert_to_front,         STOP, DBG_OK) \
  X(RECORD_MAP,           192, op_record_map,             STOP, DBG_REFUSED) \
  X(RECORD_HASH,          193, op_record_hash,            STOP, DBG_REFUSED) \
  X(SQL_AGGREGATE,        194, op_sql_aggregate,          STOP, DBG_REFUSED)

enum Opcode : uint8_t {
#define SCRIPTCGI_OPCODE_ENUM(name, value, handler, stop, debug) OP_##name = value,
  SCRIPTCGI_OPCODES(SCRIPTCGI_OPCODE_ENUM)
#undef SCRIPTCGI_OPCODE_ENUM
  // The evaluator's tables reach this far; values above the list are refused.
  OP_LAST = 228,
};

// Values above the list that still count as stop points (the debug front end's table of them
// ends here).
constexpr unsigned OP_RESERVED_STOP_LAST = 227;

struct OpcodeFacts {
  const char* name;
  bool stop_point;
  bool debug_allowed;
};
enum : bool { NOSTOP = false, STOP = true, DBG_REFUSED = false, DBG_OK = true };

inline constexpr OpcodeFacts opcode_facts[] = {
#define SCRIPTCGI_OPCODE_FACTS(name, value, handler, stop, debug) {#name, stop, debug},
    SCRIPTCGI_OPCODES(SCRIPTCGI_OPCODE_FACTS)
#undef SCRIPTCGI_OPCODE_FACTS
};
constexpr unsigned OP_FIRST = 100;
constexpr unsigned OPCODE_COUNT = sizeof(opcode_facts) / sizeof(opcode_facts[0]);
constexpr unsigned OP_LAST_DEFINED = OP_FIRST + OPCODE_COUNT - 1;

// The values follow each other from OP_FIRST, so that a value indexes the facts.
constexpr bool opcode_values_follow() {
  unsigned expect = OP_FIRST;
#define SCRIPTCGI_OPCODE_ORDER(name, value, handler, stop, debug) \
  if (value != expect++) return false;
  SCRIPTCGI_OPCODES(SCRIPTCGI_OPCODE_ORDER)
#undef SCRIPTCGI_OPCODE_ORDER
  return true;
}
static_assert(opcode_values_follow(), "opcode values must follow each other from 100");
static_assert(OP_LAST_DEFINED < OP_RESERVED_STOP_LAST && OP_RESERVED_STOP_LAST < OP_LAST);

// A node of opcode op may be a stop point of the debugger.
constexpr bool op_is_stop_point(unsigned op) {
  if (op >= OP_FIRST && op <= OP_LAST_DEFINED) return opcode_facts[op - OP_FIRST].stop_point;
  return op > OP_LAST_DEFINED && op <= OP_RESERVED_STOP_LAST;
}
// The debugger's restricted set: opcodes that a debugger evaluation may run (the others are
// refused with 1860).
constexpr bool op_debug_allowed(unsigned op) {
  return op >= OP_FIRST && op <= OP_LAST_DEFINED && opcode_facts[op - OP_FIRST].debug_allowed;
}
constexpr bool op_debug_restricted(unsigned op) { return !op_debug_allowed(op); }
