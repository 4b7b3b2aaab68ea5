// Statements without a result: direct, prepared and batch execution.
#include <cstdlib>

#include "db/odbc.h"
#include "db/odbc_internal.h"

// SQLExecute / SQLExecDirectW then SQLRowCount. No data (an UPDATE or DELETE that matched no
// row) is a success with 0 rows.
static int64_t run_and_count(odbc_frame* f, SQLHSTMT stmt, SQLRETURN rc, int exec_code,
                             const char* exec_message, int count_code) {
  odbc_last_rc = rc;
  if (rc == SQL_NO_DATA) return 0;
  odbc_check(f, exec_code, exec_message, SQL_HANDLE_STMT, stmt);
  SQLLEN rows = 0;
  odbc_last_rc = ODBC_CALL(SQLRowCount)(stmt, &rows);
  odbc_check(f, count_code, "SQLRowCount Failed", SQL_HANDLE_STMT, stmt);
  return rows;
}

int64_t odbc_execute_direct(db_connection* conn, sql_statement* st) {
  odbc_frame* f = frame_begin();
  SQLHSTMT stmt = stmt_alloc(f, conn, 3685);
  int64_t rows = run_and_count(f, stmt, ODBC_CALL(SQLExecDirectW)(stmt, sql_statement_text(st), SQL_NTS),
                               3690, "SQLExecDirectW Failed", 3697);
  stmt_finish(f, stmt, 0, 0, 0, 3700);
  return rows;
}

int64_t odbc_execute_prepared(db_connection* conn, sql_statement* st, bind_value_list* values) {
  odbc_frame* f = frame_begin();
  SQLHSTMT stmt = stmt_alloc(f, conn, 3705);
  stmt_prepare(f, stmt, st, 3710);
  stmt_check_params(f, stmt, st, 3720);
  SQLLEN indicators[SQL_MAX_MARKERS];
  bind_query_markers(f, conn, stmt, st, values, indicators, 3720);
  SQLRETURN rc = ODBC_CALL(SQLExecute)(stmt);
  std::free(f->scratch);
  f->scratch = nullptr;
  int64_t rows = run_and_count(f, stmt, rc, 3725, "SQLExecute Failed", 3727);
  stmt_finish(f, stmt, 0, 0, 3730, 3735);
  return rows;
}

int64_t odbc_execute_batch(db_connection* conn, sql_statement* st, bind_value_list* variables,
                           bind_value_list* numbered, int passes) {
  odbc_frame* f = frame_begin();
  SQLHSTMT stmt = stmt_alloc(f, conn, 3740);
  stmt_prepare(f, stmt, st, 3745);
  stmt_check_params(f, stmt, st, 3755);

  // Value indexes: the variable markers once, the numbered markers per pass.
  const int n = st->marker_count, per_pass = st->numbered_count;
  int once[SQL_MAX_MARKERS];
  int once_count = 0;
  for (int i = 0; i < n && once_count < st->variable_count; i++) {
    if (st->marker_kind[i] == 'A') continue;
    once[once_count] = st->value_index[i];
    if (static_cast<uint32_t>(once[once_count]) >= variables->count)
      odbc_raise(f, 3755, "バインドの数と値が不一致");
    once_count++;
  }
  if (passes > 0 && static_cast<uint64_t>(passes) * per_pass > numbered->count)
    odbc_raise(f, 3755, "バインドの数と値が不一致");
  // The scratch holds the once-bound wide values and the widest pass.
  size_t pass_need = 0;
  int idx[SQL_MAX_MARKERS];
  for (int k = 0; k < passes; k++) {
    int m = 0;
    for (int i = 0; i < n; i++)
      if (st->marker_kind[i] == 'A') idx[m++] = k * per_pass + st->value_index[i];
    size_t need = wide_need(numbered, idx, m);
    if (need > pass_need) pass_need = need;
  }
  size_t cap = 0;
  char* scratch = scratch_for(f, wide_need(variables, once, once_count) + pass_need, &cap);

  SQLLEN indicators[SQL_MAX_MARKERS];
  size_t base = 0;
  int bound = 0;
  for (int i = 0; i < n && bound < once_count; i++) {
    if (st->marker_kind[i] == 'A') continue;
    base = bind_marker(f, conn, stmt, variables, indicators, once[bound++], i, scratch, base, cap);
  }
  int64_t sum = 0;
  for (int k = 0; k < passes; k++) {
    size_t off = base;
    for (int i = 0; i < n; i++) {
      if (st->marker_kind[i] != 'A') continue;
      off = bind_marker(f, conn, stmt, numbered, indicators, k * per_pass + st->value_index[i], i,
                        scratch, off, cap);
    }
    sum += run_and_count(f, stmt, ODBC_CALL(SQLExecute)(stmt), 3760, "SQLExecute Failed", 3762);
  }
  std::free(f->scratch);
  f->scratch = nullptr;
  stmt_finish(f, stmt, 0, 0, 3765, 3770);
  return sum;
}
