// The dispatch tables of operation nodes, the evaluation of leaves, and the debugger's path
// through eval_node.
#include "eval/debughooks.h"
#include "eval/ops.h"
#include "eval/plugins.h"

bool eval_hooks_on = false;

DW op_undefined(DW, NodeRec*) { return DW_UNDEFINED; }
DW op_refused(DW, NodeRec*) { raise_eval_error(1860, "デバッグでのEVALエラー"); }

// Handlers of the opcodes 100-228, in opcode order.
static constexpr OpHandler HANDLERS[129] = {
    op_undefined,             // 100
    op_post_inc,              // 101
    op_post_dec,              // 102
    op_pre_inc,               // 103
    op_pre_dec,               // 104
    op_typeof,                // 105
    op_instanceof,            // 106
    op_not,                   // 107
    op_and,                   // 108
    op_or,                    // 109
    op_eq,                    // 110
    op_strict_eq,             // 111
    op_ne,                    // 112
    op_strict_ne,             // 113
    op_ge,                    // 114
    op_gt,                    // 115
    op_le,                    // 116
    op_lt,                    // 117
    op_add,                   // 118
    op_arith,                 // 119 OP_SUB
    op_arith,                 // 120 OP_MUL
    op_arith,                 // 121 OP_DIV
    op_arith,                 // 122 OP_MOD
    op_assign,                // 123
    op_add_assign,            // 124
    op_arith_assign,          // 125
    op_arith_assign,          // 126
    op_arith_assign,          // 127
    op_arith_assign,          // 128
    op_bit_assign,            // 129
    op_bit_assign,            // 130
    op_bit_assign,            // 131
    op_bitwise,               // 132
    op_bitwise,               // 133
    op_bitwise,               // 134
    op_bit_not,               // 135
    op_shift,                 // 136
    op_shift,                 // 137
    op_shift,                 // 138
    op_cond,                  // 139
    op_undefined,             // 140 OP_COLON (token only)
    op_var,                   // 141
    op_let,                   // 142
    op_let,                   // 143 OP_CONST
    op_index,                 // 144
    op_member,                // 145
    op_undefined,             // 146 OP_COMMA (token only)
    op_if,                    // 147
    op_while,                 // 148
    op_do_while,              // 149
    op_for,                   // 150
    op_for_in_of,             // 151
    op_for_in_of,             // 152
    op_try,                   // 153
    op_throw,                 // 154
    op_block,                 // 155
    op_break,                 // 156
    op_continue,              // 157
    op_return,                // 158
    op_group,                 // 159
    op_call,                  // 160
    op_arith,                 // 161 OP_POW
    op_select,                // 162
    op_select_hash,           // 163
    op_select_to_front,       // 164
    op_select_hash_to_front,  // 165
    op_execute,               // 166
    op_open_db,               // 167
    op_select_exists,         // 168
    op_send_to_front,         // 169
    op_switch,                // 170
    op_number,                // 171
    op_string,                // 172
    op_uri,                   // 173
    op_uri,                   // 174
    op_uri,                   // 175
    op_uri,                   // 176
    op_parse_float,           // 177
    op_parse_int,             // 178
    op_eval,                  // 179
    op_close_db,              // 180
    op_select_into,           // 181
    op_regexp,                // 182
    op_new,                   // 183
    op_error,                 // 184 OP_EXCEPTION
    op_date,                  // 185
    op_integer,               // 186
    op_float,                 // 187
    op_error,                 // 188
    op_array,                 // 189
    op_refused,               // 190 OP_HASH
    op_alert_to_front,        // 191
    op_record_map,            // 192
    op_record_hash,           // 193
    op_sql_aggregate,         // 194
    op_refused, op_refused, op_refused, op_refused, op_refused, op_refused,   // 195-200
    op_refused, op_refused, op_refused, op_refused, op_refused, op_refused,   // 201-206
    op_refused, op_refused, op_refused, op_refused, op_refused, op_refused,   // 207-212
    op_refused, op_refused, op_refused, op_refused, op_refused, op_refused,   // 213-218
    op_refused, op_refused, op_refused, op_refused, op_refused, op_refused,   // 219-224
    op_refused, op_refused, op_refused, op_refused,                           // 225-228
};

// Opcodes allowed while the debugger evaluates an expression.
static bool restricted_allows(unsigned op) {
  return (op >= 100 && op <= 104) || (op >= 107 && op <= 140) || (op >= 144 && op <= 147) ||
         op == 159 || op == 161 || (op >= 171 && op <= 179) || (op >= 185 && op <= 187) ||
         op == 189 || op == 191;
}

struct TablesInit {
  TablesInit() {
    for (int i = 0; i < 256; i++) {
      op_table[i] = i < 129 ? HANDLERS[i] : op_refused;
      restricted_op_table[i] = i < 129 && restricted_allows(100 + i) ? HANDLERS[i] : op_refused;
    }
  }
};
OpHandler op_table[256];
OpHandler restricted_op_table[256];
static TablesInit tables_init;

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
