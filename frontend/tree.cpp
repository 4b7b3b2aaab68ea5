// Operation nodes: make_node, the stop-point table and the opcode names.
#include <cstdio>
#include <cstring>

#include "errors/raise.h"
#include "frontend/parse_internal.h"
#include "frontend/tree.h"

bool no_stop_mode = false;

// Stop-point opcodes as a zero-terminated byte string: 101-104, 123-131, 139, 141-143, 147-154,
// 156-158, 160, 162-167, 169-227.
const uint8_t stop_point_opcodes[] = {
    101, 102, 103, 104, 123, 124, 125, 126, 127, 128, 129, 130, 131, 139, 141, 142, 143, 147, 148,
    149, 150, 151, 152, 153, 154, 156, 157, 158, 160, 162, 163, 164, 165, 166, 167, 169, 170, 171,
    172, 173, 174, 175, 176, 177, 178, 179, 180, 181, 182, 183, 184, 185, 186, 187, 188, 189, 190,
    191, 192, 193, 194, 195, 196, 197, 198, 199, 200, 201, 202, 203, 204, 205, 206, 207, 208, 209,
    210, 211, 212, 213, 214, 215, 216, 217, 218, 219, 220, 221, 222, 223, 224, 225, 226, 227, 0};

uint8_t stop_point_table[128];

static bool build_stop_point_table() {
  for (int i = 0; stop_point_opcodes[i]; i++) stop_point_table[(stop_point_opcodes[i] - 100) & 127] = 1;
  return true;
}
[[maybe_unused]] static const bool stop_point_table_ready = build_stop_point_table();

DW area_new_nonzero(size_t size, void** out) {
  // Handle 0 means "none" in several argument slots (a try without catch, a function without
  // names); the very first word of the word area must never be taken for one.
  DW h = area_new(size, out);
  if (h == 0) h = area_new(size, out);
  return h;
}

DW make_node(unsigned opcode, uint32_t count, const DW* args, uint32_t position) {
  DW h;
  NodeRec* r = reinterpret_cast<NodeRec*>(dw_new(T_NODE, &h, 0));
  uint8_t flags = static_cast<uint8_t>(parse_module & 0x7F);
  if (!is_stop_point_opcode(opcode) || no_stop_mode) flags |= NODE_NO_STOP;
  r->modflags = flags;
  r->op = static_cast<uint8_t>(opcode);
  r->pos = position;
  if (count <= 2) {
    r->argc = static_cast<uint8_t>(count);
    r->a1 = count > 0 ? dw_ref(args[0]) : 0;
    r->a2 = count > 1 ? dw_ref(args[1]) : 0;
    return h;
  }
  void* mem;
  DW list = area_new_nonzero(sizeof(DW) * count, &mem);
  DW* words = static_cast<DW*>(mem);
  for (uint32_t i = 0; i < count; i++) words[i] = dw_ref(args[i]);
  r->a1 = list;
  r->a2 = 0;
  if (count < NODE_COUNT_ESCAPE) {
    r->argc = static_cast<uint8_t>(count);
  } else {
    r->argc = NODE_COUNT_ESCAPE;
    if (opcode == OP_BLOCK) r->pos = count;
    else r->a2 = count;
  }
  return h;
}

static const char* const opcode_names[] = {
    "NONE",        "POST_INC",      "POST_DEC",      "PRE_INC",     "PRE_DEC",       "TYPEOF",
    "INSTANCEOF",  "NOT",           "AND",           "OR",          "EQ",            "STRICT_EQ",
    "NE",          "STRICT_NE",     "GE",            "GT",          "LE",            "LT",
    "ADD",         "SUB",           "MUL",           "DIV",         "MOD",           "ASSIGN",
    "ADD_ASSIGN",  "SUB_ASSIGN",    "MUL_ASSIGN",    "DIV_ASSIGN",  "MOD_ASSIGN",    "AND_ASSIGN",
    "OR_ASSIGN",   "XOR_ASSIGN",    "BIT_AND",       "BIT_OR",      "BIT_XOR",       "BIT_NOT",
    "SHL",         "SHR",           "USHR",          "COND",        "COLON",         "VAR",
    "LET",         "CONST",         "INDEX",         "MEMBER",      "COMMA",         "IF",
    "WHILE",       "DO_WHILE",      "FOR",           "FOR_OF",      "FOR_IN",        "TRY",
    "THROW",       "BLOCK",         "BREAK",         "CONTINUE",    "RETURN",        "GROUP",
    "CALL",        "POW",           "SELECT",        "SELECT_HASH", "SELECT_TO_FRONT", "SELECT_HASH_TO_FRONT",
    "EXECUTE",     "OPEN_DB",       "SELECT_EXISTS", "SEND_TO_FRONT", "SWITCH",      "NUMBER",
    "STRING",      "DECODE_URI",    "DECODE_URI_COMPONENT", "ENCODE_URI", "ENCODE_URI_COMPONENT", "PARSE_FLOAT",
    "PARSE_INT",   "EVAL",          "CLOSE_DB",      "SELECT_INTO", "REGEXP",        "NEW",
    "EXCEPTION",   "DATE",          "INTEGER",       "FLOAT",       "ERROR",         "ARRAY",
    "HASH",        "ALERT_TO_FRONT", "RECORD_MAP",   "RECORD_HASH", "SQL_AGGREGATE"};
static_assert(sizeof(opcode_names) / sizeof(opcode_names[0]) == OP_SQL_AGGREGATE - OP_NONE + 1);

const char* opcode_name(unsigned op) {
  if (op >= OP_NONE && op <= OP_SQL_AGGREGATE) return opcode_names[op - OP_NONE];
  static char buf[16];
  std::snprintf(buf, sizeof buf, "OP_%u", op);
  return buf;
}
