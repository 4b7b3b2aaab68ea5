// execute: statements without a result, direct, prepared, or once per row of a values array.
#include "db/odbc_internal.h"
#include "db/sql_internal.h"
#include "errors/raise.h"
#include "eval/plugins.h"

static DW* array_elems(DW a, uint32_t* n) {
  auto* r = arr_rec(a);
  *n = r->count;
  return r->count ? static_cast<DW*>(area_ptr(r->elems)) : nullptr;
}

// The numbered values of one row: element N - 1 for each numbered marker, in marker order.
static void append_row(sql_call* c, DW row) {
  uint32_t n;
  DW* e = array_elems(row, &n);
  char buf[400];
  for (int k = 0; k < c->st->numbered_count; k++) {
    uint32_t number = c->st->bind_number[k];
    if (number > n) raise_eval_error(1250, "バインド番号不正");
    const char* text;
    size_t len;
    if (!sql_value_text(e[number - 1], buf, &text, &len)) raise_eval_error(1355, "バインドするデータ型不正");
    bind_list_append(&c->nums, text, len);
  }
}

DW op_execute(DW, NodeRec* r) {
  sql_call* c = sql_call_begin();
  sql_prepare(c, r, false, nullptr, nullptr);
  sql_bind_variables(c->st, &c->vars);
  int64_t rows;
  if (rec_argc(r) >= 3) {
    DW values = call_hold(c, eval_arg(rec_args(r)[2]));
    if (dw_type(values) != T_ARRAY) raise_eval_error(1270, "SQL関数の最終引数不正");
    uint32_t n;
    DW* e = array_elems(values, &n);
    int passes;
    if (n > 0 && dw_type(e[0]) == T_ARRAY) {
      // An array of rows: every element must be a row.
      for (uint32_t i = 0; i < n; i++)
        if (dw_type(e[i]) != T_ARRAY) raise_eval_error(1270, "SQL関数の最終引数不正");
      for (uint32_t i = 0; i < n; i++) append_row(c, e[i]);
      passes = static_cast<int>(n);
    } else {
      // The array itself is the only row; an empty one executes no time.
      if (n > 0) append_row(c, values);
      passes = n > 0 ? 1 : 0;
    }
    rows = odbc_execute_batch(c->conn, c->st, &c->vars, &c->nums, passes);
  } else {
    if (c->st->numbered_count > 0) raise_eval_error(1275, "バインド不正");
    rows = c->st->marker_count == 0 ? odbc_execute_direct(c->conn, c->st)
                                    : odbc_execute_prepared(c->conn, c->st, &c->vars);
  }
  sql_call_end(c);
  return make_int(static_cast<int32_t>(rows), 0);
}
