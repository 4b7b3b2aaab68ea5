// openDb and closeDb: connection values, commit and rollback.
#include <strings.h>

#include <cstring>

#include "db/odbc_internal.h"
#include "db/sql_internal.h"
#include "errors/raise.h"
#include "eval/plugins.h"

DW op_open_db(DW, NodeRec* r) {
  sql_call* c = sql_call_begin();
  DW* args = rec_args(r);
  DW v[3];
  for (int i = 0; i < 3; i++) {
    v[i] = call_hold(c, eval_arg(args[i]));
    if (dw_type(v[i]) != T_STRING) raise_eval_error(1460, "データベース名不正");
  }
  int kind = db_kind_index(str_text(v[0]), str_rec(v[0])->len);
  if (kind == 0) raise_eval_error(1460, "データベース名不正");

  void* mem;
  DW h = area_new(sizeof(db_connection), &mem);
  auto* conn = static_cast<db_connection*>(mem);
  std::memset(conn, 0, sizeof *conn);
  conn->hdr = T_CONN;
  conn->kind = static_cast<uint8_t>(kind);
  conn->marker = static_cast<uint8_t>(DB_KIND_MARKER[kind]);
  conn->numbered = DB_KIND_NUMBERED[kind];
  odbc_connect(conn, std::string_view(str_text(v[1]), str_rec(v[1])->len),
               std::string_view(str_text(v[2]), str_rec(v[2])->len));
  sql_call_end(c);
  return (h & 0xF0FFFFFF) | (static_cast<DW>(T_CONN) << 24);
}

DW op_close_db(DW, NodeRec* r) {
  sql_call* c = sql_call_begin();
  DW* args = rec_args(r);
  DW conn = call_hold(c, eval_arg(args[0]));
  if (dw_type(conn) != T_CONN) raise_eval_error(1365, "データベース切断の引数不正");
  bool commit = false;
  if (rec_argc(r) >= 2) {
    DW how = call_hold(c, eval_arg(args[1]));
    if (dw_type(how) != T_STRING) raise_eval_error(1370, "データベース切断時の操作(commit/rollback)不正");
    const char* t = str_text(how);
    size_t n = str_rec(how)->len;
    bool ok = (n <= 6 && strncasecmp(t, "commit", n) == 0) || (n <= 8 && strncasecmp(t, "rollback", n) == 0);
    if (!ok) raise_eval_error(1375, "データベース切断時の操作(commit/rollback)不正");
    commit = n > 0 && (t[0] == 'C' || t[0] == 'c');
  }
  odbc_disconnect(static_cast<db_connection*>(area_ptr(conn)), commit);
  sql_call_end(c);
  return DW_UNDEFINED;
}
