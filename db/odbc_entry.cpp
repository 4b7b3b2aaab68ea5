// ODBC entry points bound by name at run time, the last return code and ODBC error reports.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "db/odbc.h"
#include "db/odbc_internal.h"
#include "errors/raise.h"
#include "platform/layout.h"
#include "store/utf16_text.h"

void* odbc_slots[ODBC_ENTRY_COUNT];

#define ENTRY(name) {&odbc_slots[E_##name], #name}
const OdbcEntryRow odbc_entry_table[] = {
    ENTRY(SQLDisconnect),    ENTRY(SQLAllocHandle),      ENTRY(SQLBindCol),
    ENTRY(SQLDescribeColW),  ENTRY(SQLEndTran),          ENTRY(SQLExecDirectW),
    ENTRY(SQLExecute),       ENTRY(SQLRowCount),         ENTRY(SQLFetch),
    ENTRY(SQLFreeHandle),    ENTRY(SQLFreeStmt),         ENTRY(SQLNumResultCols),
    ENTRY(SQLPrepareW),      ENTRY(SQLSetConnectAttrW),  ENTRY(SQLSetEnvAttr),
    ENTRY(SQLDriverConnectW), ENTRY(SQLBindParameter),   ENTRY(SQLGetDiagRecW),
    ENTRY(SQLDescribeParam), ENTRY(SQLNumParams),        ENTRY(SQLGetData),
    {nullptr, nullptr},
};
#undef ENTRY

int16_t odbc_last_rc;
LARGE_STATIC char odbc_diag_text[ODBC_DIAG_SIZE];

void* db_alloc(size_t size) {
  void* p = std::malloc(size ? size : 1);
  if (!p) raise_eval_error(1400, "メモリ領域を取得できません");
  return p;
}

void* db_realloc(void* p, size_t size) {
  void* q = std::realloc(p, size ? size : 1);
  if (!q) raise_eval_error(1400, "メモリ領域を取得できません");
  return q;
}

// The message, then one "\nstatus=%s\n" piece per diagnostic record of the handle (at most
// five), as far as the buffer allows.
void odbc_diag_build(const char* message, SQLSMALLINT handle_type, SQLHANDLE handle) {
  size_t used = strnlen(message, ODBC_DIAG_SIZE - 1);
  std::memcpy(odbc_diag_text, message, used);
  odbc_diag_text[used] = 0;
  if (!odbc_slots[E_SQLGetDiagRecW]) return;
  for (SQLSMALLINT rec = 1; rec <= 5; rec++) {
    SQLWCHAR state[6] = {0};
    SQLWCHAR text[512];
    SQLINTEGER native = 0;
    SQLSMALLINT len = 0;
    SQLRETURN rc = ODBC_CALL(SQLGetDiagRecW)(handle_type, handle, rec, state, &native, text, 512, &len);
    if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO) break;   // 100: no more records
    if (len <= 0) continue;
    if (len > 511) len = 511;   // the driver cut it to the buffer
    char utf8[1024 + 4];
    int n = WideToMulti(reinterpret_cast<const uint16_t*>(text), len, utf8, 1024 - 3);
    int w = std::snprintf(odbc_diag_text + used, ODBC_DIAG_SIZE - used, "\nstatus=%.*s\n", n, utf8);
    if (w < 0) break;
    if (used + static_cast<size_t>(w) < ODBC_DIAG_SIZE) {
      used += static_cast<size_t>(w);
      continue;
    }
    // Cut where the buffer ends, but not inside a UTF-8 sequence.
    used = ODBC_DIAG_SIZE - 1;
    size_t end = used;
    while (end > 0 && (static_cast<unsigned char>(odbc_diag_text[end - 1]) & 0xC0) == 0x80) end--;
    if (end > 0 && static_cast<unsigned char>(odbc_diag_text[end - 1]) >= 0xC0) {
      unsigned lead = static_cast<unsigned char>(odbc_diag_text[end - 1]);
      size_t seq = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
      if (used - (end - 1) < seq) used = end - 1;
    }
    odbc_diag_text[used] = 0;
    break;
  }
}

void odbc_fail_check(int code, const char* message, SQLSMALLINT handle_type, SQLHANDLE handle) {
  if (odbc_last_rc == SQL_SUCCESS || odbc_last_rc == SQL_SUCCESS_WITH_INFO) return;
  odbc_diag_build(message, handle_type, handle);
  raise_eval_error(code, "%s", odbc_diag_text);
}

void odbc_check(odbc_frame* f, int code, const char* message, SQLSMALLINT handle_type,
                SQLHANDLE handle) {
  if (odbc_last_rc == SQL_SUCCESS || odbc_last_rc == SQL_SUCCESS_WITH_INFO) return;
  odbc_diag_build(message, handle_type, handle);   // before the handle is freed
  odbc_raise(f, code, odbc_diag_text);
}
