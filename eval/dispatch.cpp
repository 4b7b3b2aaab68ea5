// The dispatch tables of operation nodes, the evaluation of leaves, and the debugger's path
// through eval_node.
#include <array>

#include "eval/debughooks.h"
#include "eval/ops.h"
#include "eval/plugins.h"

bool eval_hooks_on = false;

DW op_undefined(DW, NodeRec*) { return DW_UNDEFINED; }
DW op_refused(DW, NodeRec*) { raise_eval_error(1860, "デバッグでのEVALエラー"); }

// The handlers in opcode order, from the opcode list.
static constexpr OpHandler HANDLERS[] = {
#define SCRIPTCGI_OPCODE_HANDLER(name, value, handler, stop, debug) handler,
    SCRIPTCGI_OPCODES(SCRIPTCGI_OPCODE_HANDLER)
#undef SCRIPTCGI_OPCODE_HANDLER
};
static_assert(sizeof HANDLERS / sizeof HANDLERS[0] == OPCODE_COUNT);

// Every value past the list (up to 255 above 100) is refused. The tables are constants, so a
// process start neither fills nor touches them.
static constexpr std::array<OpHandler, 256> dispatch_table(bool restricted) {
  std::array<OpHandler, 256> t{};
  for (unsigned i = 0; i < 256; i++) {
    bool listed = i < OPCODE_COUNT && (!restricted || op_debug_allowed(OP_FIRST + i));
    t[i] = listed ? HANDLERS[i] : op_refused;
  }
  return t;
}
constinit const std::array<OpHandler, 256> op_table = dispatch_table(false);
constinit const std::array<OpHandler, 256> restricted_op_table = dispatch_table(true);

DW eval_node_hooked(DW h, NodeRec* r) {
  unsigned i = static_cast<uint8_t>(r->op - 100);
  if (debug_eval_frame() >= 0) return restricted_op_table[i](h, r);
  debug_stop_hook(h);
  return op_table[i](h, r);
}

DW eval_non_node(DW h) {
  if (h < 5) return h;
  unsigned t = dw_type(h);
  if (t == T_CONST) return lookup_variable(h);
  if (t == T_INT || t == T_FLOAT) return h;
  return eval_leaf(h);
}

DW eval_leaf(DW h) {
  switch (dw_type(h)) {
    case T_INT: case T_DATE: case T_ERROR: case T_REGEXP: case T_FLOAT: case T_FUNC:
      return h;
    case T_STRING:
      if (str_rec(h)->flags & STR_TEMPLATE) return eval_template(h);
      return h;
    case T_ARRAY: case T_KEYED: case T_OBJECT:
      return eval_literal(h);
    default: {
      // Prepared statements and connections have fixed texts; the other types none.
      unsigned t = dw_type(h);
      raise_eval_error(2015, "評価式不正 '%s'", t == T_STMT ? "SQL_Object" : t == T_CONN ? "DB_Connection" : "");
    }
  }
}
