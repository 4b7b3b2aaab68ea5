// Queries: columns bound into one row buffer, rows fetched and handed on by mode.
#include <cstdlib>
#include <cstring>

#include "db/front_text.h"
#include "db/odbc.h"
#include "db/odbc_internal.h"
#include "store/utf16_text.h"

void row_sink_init(row_sink* sink, char* buffer, uint32_t capacity, row_callback on_row,
                   name_callback on_name) {
  sink->row_buffer = sink->caller_buffer = buffer;
  sink->capacity = sink->caller_capacity = capacity;
  sink->owned = false;
  sink->column_count = 0;
  sink->on_row = on_row;
  sink->on_name = on_name;
  sink->spill = nullptr;
  sink->spill_count = 0;
}

void row_sink_free(row_sink* sink) {
  if (sink->owned) std::free(sink->row_buffer);
  auto* spill = static_cast<spill_buf*>(sink->spill);
  for (int i = 0; i < sink->spill_count; i++) std::free(spill[i].p);
  std::free(spill);
  sink->row_buffer = sink->caller_buffer;
  sink->capacity = sink->caller_capacity;
  sink->owned = false;
  sink->spill = nullptr;
  sink->spill_count = 0;
}

// A converted text goes back into its slot when it fits there, else into the column's own buffer.
static void place_text(odbc_frame* f, row_sink* sink, int col, uint32_t slot_cap, const char* text,
                       size_t len) {
  char* dst = sink->row_buffer + sink->offset[col];
  if (len + 1 > slot_cap) dst = spill_reserve(f, col, len + 1);
  std::memcpy(dst, text, len);
  dst[len] = 0;
  sink->text[col] = dst;
  sink->length[col] = static_cast<int32_t>(len);
}

// One front-end value field: empty for NULL, integer/float fields of the driver's text, text
// fields of the UTF-8 text.
static void append_field(front_text* rows, const column_layout& c, const char* data, SQLLEN n) {
  if (n == SQL_NULL_DATA) {
    front_text_append(rows, "10", 2);
    return;
  }
  if (c.kind != 3) {
    char prefix = static_cast<char>((c.kind == 1 ? 'N' : 'a') + n);
    front_text_append(rows, &prefix, 1);
    front_text_append(rows, data, static_cast<size_t>(n));
    return;
  }
  if (c.wide) {
    char* u;
    size_t len = wide_to_utf8(data, static_cast<size_t>(n) / 2, &u);
    front_text_field(rows, u, len);
  } else {
    const char* u;
    size_t len = char_to_utf8(data, static_cast<size_t>(n), &u);
    front_text_field(rows, u, len);
  }
}

int odbc_select(db_connection* conn, sql_statement* st, int mode, bind_value_list* values,
                row_sink* sink, select_output* out) {
  odbc_frame* f = frame_begin();
  SQLLEN param_ind[SQL_MAX_MARKERS];
  SQLSMALLINT ncols;
  SQLHSTMT stmt = query_open(f, conn, st, values, param_ind, &ncols);
  if (ncols >= ODBC_MAX_COLUMNS) odbc_raise(f, 3800, "カラム数が多すぎます(MAX 256)");
  sink->column_count = ncols;

  column_layout cols[ODBC_MAX_COLUMNS];
  size_t need = 0;
  for (int i = 0; i < ncols; i++) {
    SQLWCHAR name[256];
    SQLSMALLINT name_len = 0, data_type = 0, digits = 0, nullable = 0;
    SQLULEN size = 0;
    odbc_last_rc = ODBC_CALL(SQLDescribeColW)(stmt, static_cast<SQLUSMALLINT>(i + 1), name, 256,
                                              &name_len, &data_type, &size, &digits, &nullable);
    odbc_check(f, 3805, "SQLDescribeCol Failed", SQL_HANDLE_STMT, stmt);
    if (mode == SELECT_HASH || mode == SELECT_HASH_TO_FRONT) {
      // The whole name: 255 units of three bytes at most.
      char utf8[255 * 3 + 8];
      int units = name_len < 0 ? 0 : name_len > 255 ? 255 : name_len;
      int len = WideToMulti(reinterpret_cast<const uint16_t*>(name), units, utf8, 255 * 3);
      if (mode == SELECT_HASH) out->key_list[2 * i] = sink->on_name(utf8, static_cast<size_t>(len));
      else front_text_field(out->names, utf8, static_cast<size_t>(len));
    }
    cols[i] = column_layout_of(data_type, size, digits);
    sink->wide[i] = cols[i].wide;
    sink->kind[i] = cols[i].kind;
    need += cols[i].slot + 8;
  }

  // The row buffer: the caller's, or one of the query's own when the row needs more (or the
  // caller's is not 2-byte aligned for UTF-16 slots).
  if (need + 4 > sink->capacity || (reinterpret_cast<uintptr_t>(sink->row_buffer) & 1)) {
    f->row = static_cast<char*>(db_alloc(need + 4));
    sink->row_buffer = f->row;
    sink->capacity = static_cast<uint32_t>(need + 4);
    sink->owned = true;
  }
  SQLLEN ind[ODBC_MAX_COLUMNS];
  uint32_t off = 0;
  for (int i = 0; i < ncols; i++) {
    sink->offset[i] = off;
    odbc_last_rc = ODBC_CALL(SQLBindCol)(stmt, static_cast<SQLUSMALLINT>(i + 1),
                                         cols[i].wide ? SQL_C_WCHAR : SQL_C_CHAR,
                                         sink->row_buffer + off, cols[i].slot + 4, &ind[i]);
    odbc_check(f, 3807, "SQLBindCol Failed", SQL_HANDLE_STMT, stmt);
    off += cols[i].slot + 6;
  }

  odbc_last_rc = ODBC_CALL(SQLExecute)(stmt);
  if (odbc_last_rc == SQL_NO_DATA) odbc_last_rc = SQL_SUCCESS;
  odbc_check(f, 3810, "SQLExecute Failed", SQL_HANDLE_STMT, stmt);

  int r = 0;
  for (;;) {
    odbc_last_rc = ODBC_CALL(SQLFetch)(stmt);
    if (odbc_last_rc != SQL_SUCCESS && odbc_last_rc != SQL_SUCCESS_WITH_INFO) break;
    if (mode == SELECT_INTO) {
      if (out->target_count != ncols) odbc_raise(f, 3815, "引数とカラム数が不一致");
      if (r > 0) odbc_raise(f, 3820, "レコード数不正");
    }
    for (int i = 0; i < ncols; i++) {
      const column_layout& c = cols[i];
      char* slot = sink->row_buffer + sink->offset[i];
      const char* data;
      SQLLEN n = column_value(f, stmt, i, c, slot, ind[i], &data);
      if (mode == SELECT_TO_FRONT || mode == SELECT_HASH_TO_FRONT) {
        append_field(out->rows, c, data, n);
        continue;
      }
      if (n == SQL_NULL_DATA) {
        sink->length[i] = -1;
        sink->text[i] = "";
      } else if (c.kind != 3) {
        sink->length[i] = static_cast<int32_t>(n);
        sink->text[i] = data;
      } else if (c.wide) {
        char* u;
        size_t len = wide_to_utf8(data, static_cast<size_t>(n) / 2, &u);
        place_text(f, sink, i, c.slot + 4, u, len);
      } else {
        const char* u;
        size_t len = char_to_utf8(data, static_cast<size_t>(n), &u);
        if (u != data) {
          place_text(f, sink, i, c.slot + 4, u, len);
        } else {
          sink->length[i] = static_cast<int32_t>(n);
          sink->text[i] = data;
        }
      }
    }
    if ((mode == SELECT_ROWS || mode == SELECT_HASH) && sink->on_row(sink, r, out) != 0)
      odbc_raise(f, 3825, "メモリ領域が確保できません");
    r++;
  }
  out->row_count = r;
  if (odbc_last_rc != SQL_NO_DATA) odbc_check(f, 3830, "SQLFetch Failed", SQL_HANDLE_STMT, stmt);

  std::free(f->scratch);
  f->scratch = nullptr;
  if (mode == SELECT_INTO) {
    // The row is read after the query returns: its buffers pass to the sink.
    f->row = nullptr;
    sink->spill = f->spill;
    sink->spill_count = f->spill_count;
    f->spill = nullptr;
    f->spill_count = 0;
  } else if (sink->owned) {
    sink->row_buffer = sink->caller_buffer;
    sink->capacity = sink->caller_capacity;
    sink->owned = false;
  }
  stmt_finish(f, stmt, 3835, 3840, 3845, 3850);
  return r;
}
