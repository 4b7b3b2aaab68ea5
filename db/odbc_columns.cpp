// Result columns: kind, fetch type and slot size, and values read whole beyond their slot.
#include <cstring>

#include "db/odbc.h"
#include "db/odbc_internal.h"

bool odbc_is_char_type(SQLSMALLINT t) {
  return t == SQL_WLONGVARCHAR || t == SQL_WVARCHAR || t == SQL_WCHAR || t == SQL_LONGVARCHAR ||
         t == SQL_CHAR || t == SQL_VARCHAR;
}

column_layout column_layout_of(SQLSMALLINT data_type, SQLULEN column_size, SQLSMALLINT digits) {
  column_layout c{0, 3, 40};   // dates, times, binary, bit, ...: characters in 40 bytes
  switch (data_type) {
    case SQL_WLONGVARCHAR: case SQL_WVARCHAR: case SQL_WCHAR:
    case SQL_LONGVARCHAR: case SQL_CHAR: case SQL_VARCHAR:
      c.wide = 1;
      // Unknown (0) and very large sizes get a bounded slot; longer values are read whole.
      c.slot = column_size == 0 || column_size > (ODBC_TEXT_SLOT_LIMIT - 8) / 4
                   ? ODBC_TEXT_SLOT_LIMIT
                   : static_cast<uint32_t>(column_size * 4 + 8);
      break;
    case SQL_TINYINT: case SQL_BIGINT: case SQL_INTEGER: case SQL_SMALLINT:
      c.kind = 1;
      c.slot = 30;
      break;
    case SQL_NUMERIC: case SQL_DECIMAL:
      c.kind = digits == 0 ? 1 : 2;
      c.slot = 30;
      break;
    case SQL_FLOAT: case SQL_REAL: case SQL_DOUBLE:
      c.kind = 2;
      c.slot = 30;
      break;
    default:
      break;
  }
  return c;
}

SQLLEN column_value(odbc_frame* f, SQLHSTMT stmt, int col, const column_layout& c, char* slot,
                    SQLLEN indicator, const char** data) {
  *data = slot;
  if (indicator == SQL_NULL_DATA) return indicator;
  const size_t cap = c.slot + 4;          // the bound buffer
  const size_t term = c.wide ? 2 : 1;     // its terminating zero
  if (indicator != SQL_NO_TOTAL && static_cast<size_t>(indicator) <= cap - term) return indicator;

  // Cut to the slot: read the whole value again, in pieces when its size is not known.
  size_t size = indicator == SQL_NO_TOTAL ? cap * 2 : static_cast<size_t>(indicator) + 8;
  char* buf = spill_reserve(f, col, size);
  size_t used = 0;
  SQLSMALLINT target = c.wide ? SQL_C_WCHAR : SQL_C_CHAR;
  for (;;) {
    SQLLEN got = 0;
    size_t avail = size - used;
    odbc_last_rc = ODBC_CALL(SQLGetData)(stmt, static_cast<SQLUSMALLINT>(col + 1), target,
                                         buf + used, static_cast<SQLLEN>(avail), &got);
    if (odbc_last_rc == SQL_NO_DATA && used > 0) break;
    odbc_check(f, 3830, "SQLFetch Failed", SQL_HANDLE_STMT, stmt);
    if (odbc_last_rc == SQL_NO_DATA) odbc_raise(f, 3830, "SQLFetch Failed");
    size_t room = avail - term;
    if (c.wide) room &= ~static_cast<size_t>(1);
    if (got != SQL_NO_TOTAL && got >= 0 && static_cast<size_t>(got) <= room) {
      used += static_cast<size_t>(got);
      break;
    }
    // This piece filled the buffer: keep it and make room for the rest.
    used += room;
    size_t rest = got == SQL_NO_TOTAL || got < 0 ? size : static_cast<size_t>(got) - room;
    size = used + rest + 8;
    buf = spill_reserve(f, col, size);
  }
  std::memset(buf + used, 0, term);
  *data = buf;
  return static_cast<SQLLEN>(used);
}
