// selectToFront and selectHashToFront: a query's result streamed as one Z or Y record.
#include "db/odbc_internal.h"
#include "db/sql_internal.h"
#include "errors/raise.h"
#include "response/stream.h"
#include "eval/plugins.h"

// Gathers the rows (and, for Y, the column names) as front-end fields, then writes the record
// whole: its header carries the row count, so nothing of it is written before the last row.
static DW query_record(NodeRec* r, char letter, int mode, int short_code) {
  if (rec_argc(r) < 3) raise_eval_error(short_code, "引数の個数不正");
  sql_call* c = sql_call_begin();
  char name[1024];
  size_t name_len = 0;
  sql_prepare(c, r, true, name, &name_len);
  if (c->st->numbered_count > 0) raise_eval_error(1275, "バインド不正");
  sql_bind_variables(c->st, &c->vars);

  select_output out{};
  out.rows = call_text_push(c);
  if (mode == SELECT_HASH_TO_FRONT) out.names = call_text_push(c);
  alignas(8) char buffer[4096];
  row_sink sink;
  row_sink_init(&sink, buffer, sizeof buffer, nullptr, nullptr);
  int rows = odbc_select(c->conn, c->st, mode, &c->vars, &sink, &out);

  char head[48];
  size_t n = 0;
  head[n++] = letter;
  n += number_field(static_cast<uint64_t>(sink.column_count), head + n);
  n += number_field(static_cast<uint64_t>(rows), head + n);
  out_write(head, n);
  out_write(name, name_len);
  if (out.names) front_write(out.names);
  front_write(out.rows);
  out_flush();
  count_yz_records++;
  sql_call_end(c);
  return make_int(rows, 0);
}

DW op_select_to_front(DW, NodeRec* r) { return query_record(r, 'Z', SELECT_TO_FRONT, 1305); }

DW op_select_hash_to_front(DW, NodeRec* r) { return query_record(r, 'Y', SELECT_HASH_TO_FRONT, 1310); }
