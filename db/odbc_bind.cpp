// Bound values, parameter binding and the statement steps shared by the operations.
#include <cstdlib>
#include <cstring>

#include "db/odbc.h"
#include "db/odbc_internal.h"
#include "errors/raise.h"
#include "platform/layout.h"
#include "store/utf16_text.h"

constexpr size_t SCRATCH_SIZE = 16384;
LARGE_STATIC static char param_scratch[SCRATCH_SIZE];

void bind_list_init(bind_value_list* list, bool no_wide) {
  list->text = list->inline_text;
  list->used = 0;
  list->capacity = BIND_INLINE_TEXT;
  list->owned = false;
  list->arrays_owned = false;
  list->count = 0;
  list->slots = BIND_INLINE_VALUES;
  list->offset = list->inline_offset;
  list->length = list->inline_length;
  list->type = list->inline_type;
  list->wide_total = no_wide ? -1 : 0;
}

void bind_list_append(bind_value_list* list, const char* text, size_t len) {
  if (len > 0x7FFFFFF0u - list->used) raise_eval_error(1400, "メモリ領域を取得できません");
  if (list->count == list->slots) {
    uint32_t n = list->slots * 2;
    if (list->arrays_owned) {
      list->offset = static_cast<uint32_t*>(db_realloc(list->offset, n * sizeof(uint32_t)));
      list->length = static_cast<uint32_t*>(db_realloc(list->length, n * sizeof(uint32_t)));
      list->type = static_cast<char*>(db_realloc(list->type, n));
    } else {
      auto* off = static_cast<uint32_t*>(db_alloc(n * sizeof(uint32_t)));
      auto* len_ = static_cast<uint32_t*>(db_alloc(n * sizeof(uint32_t)));
      auto* typ = static_cast<char*>(db_alloc(n));
      std::memcpy(off, list->offset, list->count * sizeof(uint32_t));
      std::memcpy(len_, list->length, list->count * sizeof(uint32_t));
      std::memcpy(typ, list->type, list->count);
      list->offset = off;
      list->length = len_;
      list->type = typ;
      list->arrays_owned = true;
    }
    list->slots = n;
  }
  // The text, a zero byte, and the next text 4 bytes after the end of this one.
  size_t need = list->used + len + 4;
  if (need > list->capacity) {
    size_t cap = need + list->capacity;
    if (list->owned) {
      list->text = static_cast<char*>(db_realloc(list->text, cap));
    } else {
      char* t = static_cast<char*>(db_alloc(cap));
      std::memcpy(t, list->text, list->used);
      list->text = t;
      list->owned = true;
    }
    list->capacity = static_cast<uint32_t>(cap);
  }
  uint32_t i = list->count++;
  list->offset[i] = list->used;
  list->length[i] = static_cast<uint32_t>(len);
  std::memcpy(list->text + list->used, text, len);
  list->text[list->used + len] = 0;
  list->used += static_cast<uint32_t>(len + 4);
  list->type[i] = ' ';
  if (list->wide_total >= 0) {
    for (size_t k = 0; k < len; k++) {
      if (static_cast<unsigned char>(text[k]) >= 0x80) {
        list->type[i] = 'W';
        list->wide_total += static_cast<int64_t>(len) * 4 + 10;
        break;
      }
    }
  }
}

void bind_list_free(bind_value_list* list) {
  if (list->owned) std::free(list->text);
  if (list->arrays_owned) {
    std::free(list->offset);
    std::free(list->length);
    std::free(list->type);
  }
  bind_list_init(list, list->wide_total < 0);
}

size_t wide_need(const bind_value_list* values, const int* indexes, int n) {
  size_t need = 0;
  for (int k = 0; k < n; k++) {
    int vi = indexes[k];
    if (values->type[vi] == 'W' && values->length[vi] > 0) need += size_t{values->length[vi]} * 4 + 10;
  }
  return need;
}

char* scratch_for(odbc_frame* f, size_t need, size_t* capacity) {
  if (need < SCRATCH_SIZE) {
    *capacity = SCRATCH_SIZE;
    return param_scratch;
  }
  f->scratch = static_cast<char*>(db_alloc(need + 20));
  *capacity = need + 20;
  return f->scratch;
}

size_t bind_marker(odbc_frame* f, db_connection* conn, SQLHSTMT stmt, bind_value_list* values,
                   SQLLEN* indicators, int value_index, int param_index, char* scratch,
                   size_t offset, size_t capacity) {
  SQLLEN* ind = &indicators[param_index];
  *ind = SQL_NTS;
  char* text = values->text + values->offset[value_index];
  size_t len = values->length[value_index];
  SQLUSMALLINT pno = static_cast<SQLUSMALLINT>(param_index + 1);

  SQLSMALLINT data_type = 0, digits = 0, nullable = 0;
  SQLULEN size = 0;
  odbc_last_rc = ODBC_CALL(SQLDescribeParam)(stmt, pno, &data_type, &size, &digits, &nullable);
  odbc_check(f, 3625, "SQLDescribeParam Failed", SQL_HANDLE_STMT, stmt);
  bool character = odbc_is_char_type(data_type);
  if (len == 0 && !character) *ind = SQL_NULL_DATA;

  if (len > 0 && values->type[value_index] == 'W') {
    if (character) {
      // At most one unit per byte, plus MultiToWide's two terminating units.
      if (offset + len * 2 + 4 > capacity) odbc_raise(f, 3630, "SQLBindParameter Failed");
      auto* wide = reinterpret_cast<uint16_t*>(scratch + offset);
      int units = MultiToWide(text, static_cast<int>(len), wide, static_cast<int>(len));
      odbc_last_rc = ODBC_CALL(SQLBindParameter)(stmt, pno, SQL_PARAM_INPUT, SQL_C_WCHAR, data_type,
                                                 size, digits, wide, units * 2 + 4, ind);
      odbc_check(f, 3630, "SQLBindParameter Failed", SQL_HANDLE_STMT, stmt);
      return offset + static_cast<size_t>(units) * 2 + 4;
    }
    if (conn->staging == 1) {
      if (offset + len + 4 > capacity) odbc_raise(f, 3635, "SQLBindParameter Failed");
      std::memcpy(scratch + offset, text, len + 1);
      odbc_last_rc = ODBC_CALL(SQLBindParameter)(stmt, pno, SQL_PARAM_INPUT, SQL_C_CHAR, data_type,
                                                 size, digits, scratch + offset,
                                                 static_cast<SQLLEN>(len + 4), ind);
      odbc_check(f, 3635, "SQLBindParameter Failed", SQL_HANDLE_STMT, stmt);
      return (offset + len + 4 + 1) & ~size_t{1};   // wide texts after it stay 2-byte aligned
    }
  }
  // In place from the bound values; the scratch is not used, so its offset stays.
  odbc_last_rc = ODBC_CALL(SQLBindParameter)(stmt, pno, SQL_PARAM_INPUT, SQL_C_CHAR, data_type, size,
                                             digits, text, static_cast<SQLLEN>(len + 4), ind);
  odbc_check(f, 3640, "SQLBindParameter Failed", SQL_HANDLE_STMT, stmt);
  return offset;
}

SQLHSTMT stmt_alloc(odbc_frame* f, db_connection* conn, int code) {
  SQLHSTMT stmt = nullptr;
  odbc_last_rc = ODBC_CALL(SQLAllocHandle)(SQL_HANDLE_STMT, conn->dbc, &stmt);
  odbc_check(f, code, "SQLAllocHandle(main) Failed", SQL_HANDLE_DBC, conn->dbc);
  f->stmt = stmt;
  f->dbc = conn->dbc;
  return stmt;
}

void stmt_prepare(odbc_frame* f, SQLHSTMT stmt, sql_statement* st, int code) {
  odbc_last_rc = ODBC_CALL(SQLPrepareW)(stmt, sql_statement_text(st), SQL_NTS);
  odbc_check(f, code, "SQLPrepareW Failed", SQL_HANDLE_STMT, stmt);
}

void stmt_check_params(odbc_frame* f, SQLHSTMT stmt, sql_statement* st, int code) {
  SQLSMALLINT n = 0;
  ODBC_CALL(SQLNumParams)(stmt, &n);
  if (n != st->marker_count) odbc_raise(f, code, "バインドの数と値が不一致");
}

void bind_query_markers(odbc_frame* f, db_connection* conn, SQLHSTMT stmt, sql_statement* st,
                        bind_value_list* values, SQLLEN* indicators, int mismatch_code) {
  int idx[SQL_MAX_MARKERS];
  int n = st->marker_count;
  for (int i = 0; i < n; i++) {
    idx[i] = st->value_index[i];
    if (static_cast<uint32_t>(idx[i]) >= values->count) odbc_raise(f, mismatch_code, "バインドの数と値が不一致");
  }
  size_t cap = 0;
  char* scratch = scratch_for(f, wide_need(values, idx, n), &cap);
  size_t off = 0;
  for (int i = 0; i < n; i++) off = bind_marker(f, conn, stmt, values, indicators, idx[i], i, scratch, off, cap);
}

SQLHSTMT query_open(odbc_frame* f, db_connection* conn, sql_statement* st, bind_value_list* values,
                    SQLLEN* indicators, SQLSMALLINT* ncols) {
  SQLHSTMT stmt = stmt_alloc(f, conn, 3775);
  stmt_prepare(f, stmt, st, 3780);
  stmt_check_params(f, stmt, st, 3790);
  bind_query_markers(f, conn, stmt, st, values, indicators, 3790);
  *ncols = 0;
  odbc_last_rc = ODBC_CALL(SQLNumResultCols)(stmt, ncols);
  odbc_check(f, 3795, "SQLNumResultCols Failed", SQL_HANDLE_STMT, stmt);
  return stmt;
}

void stmt_finish(odbc_frame* f, SQLHSTMT stmt, int close_code, int unbind_code, int reset_code,
                 int free_code) {
  if (close_code) {
    odbc_last_rc = ODBC_CALL(SQLFreeStmt)(stmt, SQL_CLOSE);
    odbc_check(f, close_code, "SQLFreeStmt Failed", SQL_HANDLE_STMT, stmt);
  }
  if (unbind_code) {
    odbc_last_rc = ODBC_CALL(SQLFreeStmt)(stmt, SQL_UNBIND);
    odbc_check(f, unbind_code, "SQLFreeStmt Failed", SQL_HANDLE_STMT, stmt);
  }
  if (reset_code) {
    odbc_last_rc = ODBC_CALL(SQLFreeStmt)(stmt, SQL_RESET_PARAMS);
    odbc_check(f, reset_code, "SQLFreeStmt Failed", SQL_HANDLE_STMT, stmt);
  }
  f->stmt = nullptr;
  odbc_last_rc = ODBC_CALL(SQLFreeHandle)(SQL_HANDLE_STMT, stmt);
  odbc_check(f, free_code, "SQLFreeHandle Failed", SQL_HANDLE_STMT, stmt);
  frame_end(f);
}
