// The cell query behind aggregation: each fetched row becomes cells handed to the aggregation.
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "db/odbc.h"
#include "db/odbc_internal.h"

struct cell_column {
  column_layout c;
  uint32_t offset;     // slot in the row buffer
  SQLLEN ind;
  size_t text_at;      // the row's text of this column in the text area
};

// Integer text as a cell: a value beyond 32 bits becomes a float cell rather than a wrong integer.
static void integer_cell(odbc_cell* cell, const char* text) {
  errno = 0;
  long long v = std::strtoll(text, nullptr, 10);
  if (errno == 0 && v >= INT32_MIN && v <= INT32_MAX) {
    cell->type = CELL_INT;
    cell->v.i = static_cast<int32_t>(v);
  } else {
    cell->type = CELL_FLOAT;
    cell->v.f = std::strtod(text, nullptr);
  }
}

void odbc_select_cells(db_connection* conn, sql_statement* st, bind_value_list* values,
                       cell_consumer* consumer) {
  odbc_frame* f = frame_begin();
  SQLLEN param_ind[SQL_MAX_MARKERS];
  SQLSMALLINT ncols;
  SQLHSTMT stmt = query_open(f, conn, st, values, param_ind, &ncols);
  odbc_cell* cells = consumer->begin(consumer->state, ncols);

  cell_column inline_cols[31];
  cell_column* cols = inline_cols;
  if (ncols > 31) {
    f->columns = db_alloc(sizeof(cell_column) * (ncols + 2));
    cols = static_cast<cell_column*>(f->columns);
  }
  size_t need = 0;
  for (int i = 0; i < ncols; i++) {
    SQLSMALLINT data_type = 0, digits = 0, nullable = 0;
    SQLULEN size = 0;
    // With no name buffer the PostgreSQL driver fails the call and reports no type, which
    // would turn every column into text: a buffer is passed and the call checked.
    SQLWCHAR name[256];
    SQLSMALLINT name_len = 0;
    odbc_last_rc = ODBC_CALL(SQLDescribeColW)(stmt, static_cast<SQLUSMALLINT>(i + 1), name, 256,
                                              &name_len, &data_type, &size, &digits, &nullable);
    odbc_check(f, 3805, "SQLDescribeCol Failed", SQL_HANDLE_STMT, stmt);
    cols[i].c = column_layout_of(data_type, size, digits);
    need += cols[i].c.slot + 8;
  }
  alignas(8) char inline_row[4096];
  char* row = inline_row;
  if (need + 4 > sizeof inline_row) row = f->row = static_cast<char*>(db_alloc(need + 4));
  uint32_t off = 0;
  for (int i = 0; i < ncols; i++) {
    cols[i].offset = off;
    odbc_last_rc = ODBC_CALL(SQLBindCol)(stmt, static_cast<SQLUSMALLINT>(i + 1),
                                         cols[i].c.wide ? SQL_C_WCHAR : SQL_C_CHAR, row + off,
                                         cols[i].c.slot + 4, &cols[i].ind);
    odbc_check(f, 3807, "SQLBindCol Failed", SQL_HANDLE_STMT, stmt);
    off += cols[i].c.slot + 6;
  }

  odbc_last_rc = ODBC_CALL(SQLExecute)(stmt);
  if (odbc_last_rc == SQL_NO_DATA) odbc_last_rc = SQL_SUCCESS;
  odbc_check(f, 3810, "SQLExecute Failed", SQL_HANDLE_STMT, stmt);

  size_t text_cap = 0;
  for (;;) {
    odbc_last_rc = ODBC_CALL(SQLFetch)(stmt);
    if (odbc_last_rc != SQL_SUCCESS && odbc_last_rc != SQL_SUCCESS_WITH_INFO) break;
    size_t text_used = 0;   // the text area is reused by every row
    for (int i = 0; i < ncols; i++) {
      cell_column& col = cols[i];
      odbc_cell* cell = &cells[i];
      const char* data;
      SQLLEN n = column_value(f, stmt, i, col.c, row + col.offset, col.ind, &data);
      cell->length = 0;
      if (n == SQL_NULL_DATA) {
        cell->type = CELL_NULL;
        cell->v.i = 0;
        continue;
      }
      if (col.c.kind == 1) {
        integer_cell(cell, data);
        continue;
      }
      if (col.c.kind == 2) {
        cell->type = CELL_FLOAT;
        cell->v.f = std::strtod(data, nullptr);
        continue;
      }
      const char* u;
      size_t len;
      if (col.c.wide) {
        char* w;
        len = wide_to_utf8(data, static_cast<size_t>(n) / 2, &w);
        u = w;
      } else {
        len = char_to_utf8(data, static_cast<size_t>(n), &u);
      }
      if (text_used + len + 4 > text_cap) {
        text_cap = text_used + len * 4 + 4 + text_cap;
        f->cell_text = static_cast<char*>(db_realloc(f->cell_text, text_cap));
      }
      std::memcpy(f->cell_text + text_used, u, len);
      f->cell_text[text_used + len] = 0;
      col.text_at = text_used;
      text_used += len + 4;
      cell->type = CELL_TEXT;
      cell->length = static_cast<uint32_t>(len);
    }
    // Pointers are set once the row's texts are all in place (the area may have moved).
    for (int i = 0; i < ncols; i++)
      if (cells[i].type == CELL_TEXT) cells[i].v.text = f->cell_text + cols[i].text_at;
    consumer->row(consumer->state);
  }
  int16_t fetch_rc = odbc_last_rc;
  consumer->finish(consumer->state);
  odbc_last_rc = fetch_rc;
  if (odbc_last_rc != SQL_NO_DATA) odbc_check(f, 3830, "SQLFetch Failed", SQL_HANDLE_STMT, stmt);

  std::free(f->scratch);
  f->scratch = nullptr;
  stmt_finish(f, stmt, 3835, 3840, 3845, 3850);
}
