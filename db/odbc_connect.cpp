// Binding the driver manager, the connection table, connect, disconnect and close-all.
#include <locale.h>

#include <cstring>

#include "db/odbc.h"
#include "db/odbc_internal.h"
#include "errors/raise.h"
#include "store/utf16_text.h"
#include "platform/platform.h"

db_connection* connection_table[ODBC_MAX_CONNECTIONS];
int connection_count;

static bool is_blank(char c) { return c == ' ' || c == '\t'; }

// Loads the library once per process and binds every entry point by name.
static void bind_entry_points(std::string_view library) {
  size_t b = 0, e = library.size();
  while (b < e && is_blank(library[b])) b++;
  while (e > b && is_blank(library[e - 1])) e--;
  if (b == e) raise_eval_error(1170, "ダイナミック リンク ライブラリが指定されていません");
  std::string_view path = library.substr(b, e - b);
  char buf[256];
  if (path.size() >= sizeof buf)
    raise_eval_error(1175, "ダイナミック リンク ライブラリ('%.*s')ロード失敗", static_cast<int>(path.size()), path.data());
  for (size_t i = 0; i < path.size(); i++) buf[i] = path[i] == '\\' ? '/' : path[i];
  buf[path.size()] = 0;
  void* lib = dyn_open(buf);
  if (!lib) raise_eval_error(1175, "ダイナミック リンク ライブラリ('%s')ロード失敗", buf);
  for (int i = 0; i < 100; i++) {
    const OdbcEntryRow& row = odbc_entry_table[i];
    if (!row.slot || !row.name) break;
    *row.slot = dyn_symbol(lib, row.name);
    if (!*row.slot) {
      // A half-bound table would be taken as bound by the next openDb.
      std::memset(odbc_slots, 0, sizeof odbc_slots);
      raise_eval_error(1180, "ダイナミック リンク ライブラリ関数'%s'へのリンク失敗", row.name);
    }
  }
}

// The value of a key of a connection string (keys compared case-insensitively, keys and values
// trimmed); *present tells whether the key was there at all.
static std::string_view key_value(std::string_view cs, std::string_view name, bool* present = nullptr) {
  std::string_view found;
  if (present) *present = false;
  while (!cs.empty()) {
    size_t semi = cs.find(';');
    std::string_view pair = cs.substr(0, semi);
    cs = semi == std::string_view::npos ? std::string_view() : cs.substr(semi + 1);
    size_t eq = pair.find('=');
    if (eq == std::string_view::npos) continue;
    std::string_view key = pair.substr(0, eq), value = pair.substr(eq + 1);
    while (!key.empty() && is_blank(key.front())) key.remove_prefix(1);
    while (!key.empty() && is_blank(key.back())) key.remove_suffix(1);
    while (!value.empty() && is_blank(value.front())) value.remove_prefix(1);
    while (!value.empty() && is_blank(value.back())) value.remove_suffix(1);
    if (key.size() == name.size() && strncasecmp(key.data(), name.data(), name.size()) == 0) {
      found = value;
      if (present) *present = true;
    }
  }
  return found;
}

// The SQLite driver reads a result row by row only when asked to (StepAPI) and only outside a
// transaction of its own: inside one it loads the whole result into memory before the first row.
// A sqlite connection therefore leaves the driver in autocommit mode and holds its transaction
// with BEGIN, COMMIT and ROLLBACK statements; the script sees the same transaction either way.
constexpr uint8_t KIND_POSTGRESQL = 4, KIND_SQLITE = 5;
static bool holds_own_transaction(const db_connection* conn) { return conn->kind == KIND_SQLITE; }

// Driver options added to the connection string unless it names the key itself: the SQLite
// driver's StepAPI (see above) and psqlODBC's cursor fetching make a large result arrive row by
// row instead of whole (without it a million-row result is held whole: 240 MB); psqlODBC's
// CommLog and Debug off keep a connection from writing log files (a DSN may turn them on, and
// each process writes files of its own: one per request).
struct StreamOption {
  uint8_t kind;
  std::string_view key, text;
};
constexpr StreamOption STREAM_OPTIONS[] = {
    {KIND_SQLITE, "StepAPI", ";StepAPI=1"},
    {KIND_POSTGRESQL, "UseDeclareFetch", ";UseDeclareFetch=1;Fetch=1000"},
    {KIND_POSTGRESQL, "CommLog", ";CommLog=0"},
    {KIND_POSTGRESQL, "Debug", ";Debug=0"},
};
// Room for all the options of any one kind.
constexpr size_t STREAM_OPTION_ROOM = [] {
  size_t most = 0;
  for (const StreamOption& k : STREAM_OPTIONS) {
    size_t sum = 0;
    for (const StreamOption& o : STREAM_OPTIONS)
      if (o.kind == k.kind) sum += o.text.size();
    if (sum > most) most = sum;
  }
  return most;
}();

// Runs one transaction statement (ASCII) on its own statement handle. On failure the
// diagnostics are left in odbc_diag_text under message; returns whether it succeeded.
static bool run_transaction_statement(db_connection* conn, const char* sql, const char* message) {
  SQLHSTMT stmt = nullptr;
  odbc_last_rc = ODBC_CALL(SQLAllocHandle)(SQL_HANDLE_STMT, conn->dbc, &stmt);
  if (odbc_last_rc != SQL_SUCCESS && odbc_last_rc != SQL_SUCCESS_WITH_INFO) {
    odbc_diag_build(message, SQL_HANDLE_DBC, conn->dbc);
    return false;
  }
  SQLWCHAR text[16];
  size_t n = 0;
  for (; sql[n] && n + 1 < std::size(text); n++) text[n] = static_cast<SQLWCHAR>(sql[n]);
  text[n] = 0;
  odbc_last_rc = ODBC_CALL(SQLExecDirectW)(stmt, text, SQL_NTS);
  bool ok = odbc_last_rc == SQL_SUCCESS || odbc_last_rc == SQL_SUCCESS_WITH_INFO;
  if (!ok) odbc_diag_build(message, SQL_HANDLE_STMT, stmt);
  ODBC_CALL(SQLFreeHandle)(SQL_HANDLE_STMT, stmt);
  return ok;
}

// A UTF-8 character type for the driver manager: it converts statement text, column names and
// data for drivers without wide entry points (the SQLite driver) in the character set of the
// locale current when the connection is made; in the default "C" locale that is Latin-1 and
// every non-ASCII character would be lost.
static locale_t utf8_ctype() {
  static locale_t loc = nullptr;
  static bool tried = false;
  if (!tried) {
    tried = true;
    for (const char* name : {"C.UTF-8", "C.utf8", "en_US.UTF-8"}) {
      loc = newlocale(LC_CTYPE_MASK, name, nullptr);
      if (loc) break;
    }
  }
  return loc;
}

static void free_handles(db_connection* conn) {
  if (conn->dbc) {
    ODBC_CALL(SQLDisconnect)(conn->dbc);
    ODBC_CALL(SQLFreeHandle)(SQL_HANDLE_DBC, conn->dbc);
    conn->dbc = nullptr;
  }
  if (conn->env) {
    ODBC_CALL(SQLFreeHandle)(SQL_HANDLE_ENV, conn->env);
    conn->env = nullptr;
  }
}

// The thread's locale while a connection is being made (null when it was not changed).
static locale_t connect_previous_locale;

static void connect_locale_restore() {
  if (connect_previous_locale) uselocale(connect_previous_locale);
  connect_previous_locale = nullptr;
}

// A failed connect step: the handles made so far are freed, then the error is raised.
static void connect_step(db_connection* conn, int code, const char* message, bool diagnostics) {
  if (odbc_last_rc == SQL_SUCCESS || odbc_last_rc == SQL_SUCCESS_WITH_INFO) return;
  if (diagnostics) odbc_diag_build(message, SQL_HANDLE_DBC, conn->dbc);   // before the handles go
  free_handles(conn);
  connect_locale_restore();
  raise_eval_error(code, "%s", diagnostics ? odbc_diag_text : message);
}

void odbc_connect(db_connection* conn, std::string_view library, std::string_view conn_string) {
  if (!odbc_slots[E_SQLAllocHandle]) bind_entry_points(library);
  if (connection_count >= ODBC_MAX_CONNECTIONS) raise_eval_error(3645, "接続するデータベースが多すぎます");

  // Checked before connecting, so that a bad value leaves no connection open.
  std::string_view encode = key_value(conn_string, "encode");
  if (encode.size() >= 38) raise_eval_error(1600, "DBパラメータの長さ不正");
  // The connection string in UTF-16; a longer one would be cut.
  SQLWCHAR wide[2048 + STREAM_OPTION_ROOM + 2];
  if (conn_string.size() > 2047 &&
      MultiToWide(conn_string.data(), static_cast<int>(conn_string.size()), reinterpret_cast<uint16_t*>(wide), 2048) > 2047)
    raise_eval_error(1600, "DBパラメータの長さ不正");
  int wide_len = MultiToWide(conn_string.data(), static_cast<int>(conn_string.size()), reinterpret_cast<uint16_t*>(wide), 2047);
  for (const StreamOption& o : STREAM_OPTIONS) {
    bool given = false;
    key_value(conn_string, o.key, &given);
    if (o.kind == conn->kind && !given)
      for (char c : o.text) wide[wide_len++] = static_cast<SQLWCHAR>(c);
  }
  wide[wide_len] = 0;

  // The driver manager sets up its conversion for the connection at its first wide call on
  // it (SQLSetConnectAttrW), so the UTF-8 character type covers every call from here on.
  locale_t utf8 = utf8_ctype();
  connect_previous_locale = utf8 ? uselocale(utf8) : nullptr;
  conn->env = nullptr;
  conn->dbc = nullptr;
  odbc_last_rc = ODBC_CALL(SQLAllocHandle)(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &conn->env);
  connect_step(conn, 3647, "SQLAllocHandle(Env) Failed", false);
  odbc_last_rc = ODBC_CALL(SQLSetEnvAttr)(conn->env, SQL_ATTR_ODBC_VERSION,
                                          reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  connect_step(conn, 3650, "SQLSetEnvAttr(ODBC version) Failed", false);
  odbc_last_rc = ODBC_CALL(SQLAllocHandle)(SQL_HANDLE_DBC, conn->env, &conn->dbc);
  connect_step(conn, 3655, "SQLAllocHandle(hdbc) Failed", false);
  odbc_last_rc = ODBC_CALL(SQLSetConnectAttrW)(conn->dbc, SQL_ATTR_LOGIN_TIMEOUT,
                                               reinterpret_cast<SQLPOINTER>(10), 0);
  connect_step(conn, 3660, "SQLSetConnectAttr(timer) Failed", false);
  if (!holds_own_transaction(conn)) {
    odbc_last_rc = ODBC_CALL(SQLSetConnectAttrW)(conn->dbc, SQL_ATTR_AUTOCOMMIT,
                                                 reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0);
    connect_step(conn, 3665, "SQLSetConnectAttr(auto commit) Failed", false);
  }

  odbc_last_rc = ODBC_CALL(SQLDriverConnectW)(conn->dbc, nullptr, wide, SQL_NTS, nullptr, 0,
                                              nullptr, SQL_DRIVER_NOPROMPT);
  connect_step(conn, 3676, "SQLDriverConnectW() Failed", true);
  if (holds_own_transaction(conn) && !run_transaction_statement(conn, "BEGIN", "SQLSetConnectAttr(auto commit) Failed")) {
    free_handles(conn);
    connect_locale_restore();
    raise_eval_error(3665, "%s", odbc_diag_text);
  }
  connect_locale_restore();

  conn->staging = 1;
  if (!encode.empty() && (encode[0] == 'U' || encode[0] == 'u')) conn->staging = 0;
  for (db_connection*& slot : connection_table) {
    if (!slot) {
      slot = conn;
      connection_count++;
      break;
    }
  }
}

// Disconnects and frees both handles, after a rollback (unchecked) when asked.
static void close_connection(db_connection* conn, bool rollback) {
  if (conn->dbc) {
    if (rollback && holds_own_transaction(conn)) {
      run_transaction_statement(conn, "ROLLBACK", "SQLEndTran Failed");
    } else if (rollback) {
      ODBC_CALL(SQLEndTran)(SQL_HANDLE_DBC, conn->dbc, SQL_ROLLBACK);
    }
    frame_forget_connection(conn->dbc);   // disconnecting frees its statements
  }
  free_handles(conn);
}

void odbc_disconnect(db_connection* conn, bool commit) {
  if (!odbc_slots[E_SQLAllocHandle]) raise_eval_error(3680, "SQLEndTran Failed");
  if (commit && holds_own_transaction(conn)) {
    if (!run_transaction_statement(conn, "COMMIT", "SQLEndTran Failed")) raise_eval_error(3680, "%s", odbc_diag_text);
  } else if (commit) {
    odbc_last_rc = ODBC_CALL(SQLEndTran)(SQL_HANDLE_DBC, conn->dbc, SQL_COMMIT);
    odbc_fail_check(3680, "SQLEndTran Failed", SQL_HANDLE_DBC, conn->dbc);
  }
  close_connection(conn, !commit);
  for (db_connection*& slot : connection_table) {
    if (slot == conn) {
      slot = nullptr;
      connection_count--;
      break;
    }
  }
}

void odbc_disconnect_all() {
  frame_release_all();
  for (int i = 0; i < ODBC_MAX_CONNECTIONS && connection_count > 0; i++) {
    db_connection* conn = connection_table[i];
    if (!conn) continue;
    close_connection(conn, true);
    connection_table[i] = nullptr;
    connection_count--;
  }
}
