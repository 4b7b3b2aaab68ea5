// Helpers of the ODBC layer tests: errors, statements, values, rows and the databases.
#pragma once
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>
#include <string>
#include <vector>

#include "db/odbc.h"
#include "driver/errors.h"
#include "driver/protocol.h"
#include "store/utf16_text.h"
#include "store/store.h"

namespace dbtest {

constexpr DW NO_JUMP = 0xFFFFFFFF;
constexpr const char* LIBODBC = "libodbc.so.2";
constexpr const char* SQLITE_DRIVER = "/usr/lib/x86_64-linux-gnu/odbc/libsqlite3odbc.so";

// Runs fn under an outermost JF_TRY frame; the error record that arrived, or NO_JUMP.
// fn must hold no object with a destructor across the call that may raise.
template <class F>
DW catch_error(F fn) {
  jump_depth = 0;
  int fr = jump_push(JF_TRY);
  if (JUMP_ARM(fr)) {
    jump_depth = 0;
    return jump_code;
  }
  fn();
  jump_depth = 0;
  return NO_JUMP;
}

inline std::string error_code(DW rec) {
  if (rec == NO_JUMP) return "(none)";
  size_t n;
  const char* t = error_code_text(rec, &n);
  return std::string(t, n);
}
// The message without its "EVAL ERROR n (module:line:col) : " prefix.
inline std::string error_text(DW rec) {
  if (rec == NO_JUMP) return "(none)";
  size_t n;
  const char* t = error_message_text(rec, &n);
  std::string m(t, n);
  size_t p = m.find(" : ");
  return p == std::string::npos ? m : m.substr(p + 3);
}

// A statement record for SQL text written with ODBC '?' markers. kinds gives each marker's
// sort in order ('N' variable, 'A' numbered); by default every marker is a variable marker.
struct Stmt {
  sql_statement* st = nullptr;
  Stmt() = default;
  Stmt(const Stmt&) = delete;
  Stmt& operator=(const Stmt&) = delete;
  ~Stmt() { std::free(st); }
};
inline void make_stmt(Stmt& s, const std::string& sql, std::string kinds = "", int declared = -1) {
  if (kinds.empty()) {
    bool quoted = false;
    for (char c : sql) {
      if (c == '\'') quoted = !quoted;
      if (c == '?' && !quoted) kinds += 'N';
    }
  }
  uint32_t cap = static_cast<uint32_t>((sql.size() + 520) * 2) & ~3u;
  s.st = static_cast<sql_statement*>(std::calloc(1, sizeof(sql_statement) + cap + 4 * 256));
  sql_statement* st = s.st;
  st->hdr = T_STMT;
  int var = 0, num = 0;
  for (size_t i = 0; i < kinds.size(); i++) {
    st->marker_kind[i] = static_cast<uint8_t>(kinds[i]);
    if (kinds[i] == 'A') {
      st->bind_number[num] = static_cast<uint8_t>(num + 1);
      st->value_index[i] = static_cast<uint8_t>(num++);
    } else {
      st->variable_kind[var] = static_cast<uint8_t>(kinds[i]);
      st->value_index[i] = static_cast<uint8_t>(var++);
    }
  }
  st->marker_count = static_cast<uint16_t>(declared >= 0 ? declared : static_cast<int>(kinds.size()));
  st->variable_count = static_cast<uint16_t>(var);
  st->numbered_count = static_cast<uint16_t>(num);
  st->text_capacity = cap;
  int units = MultiToWide(sql.data(), static_cast<int>(sql.size()),
                          reinterpret_cast<uint16_t*>(sql_statement_text(st)), static_cast<int>(cap / 2 - 2));
  st->text_length = static_cast<uint32_t>(units * 2);
}

struct Values {
  bind_value_list list;
  explicit Values(std::initializer_list<std::string> v = {}, bool no_wide = false) {
    bind_list_init(&list, no_wide);
    for (const std::string& s : v) bind_list_append(&list, s.data(), s.size());
  }
  Values(const Values&) = delete;
  Values& operator=(const Values&) = delete;
  ~Values() { bind_list_free(&list); }
};

// Rows of a query as text: "<NULL>" for SQL NULL; kinds of the columns.
struct Collected {
  std::vector<std::vector<std::string>> rows;
  std::vector<int> kinds;
  std::vector<std::string> names;
  int fail_at = -1;   // the row callback reports failure at this row
};
inline Collected* collected;
inline int collect_row(row_sink* sink, int row, select_output*) {
  if (row == collected->fail_at) return 1;
  std::vector<std::string> r;
  collected->kinds.assign(sink->kind, sink->kind + sink->column_count);
  for (int i = 0; i < sink->column_count; i++) {
    if (sink->length[i] < 0) r.push_back("<NULL>");
    else r.emplace_back(sink->text[i], static_cast<size_t>(sink->length[i]));
  }
  collected->rows.push_back(std::move(r));
  return 0;
}
inline DW collect_name(const char* name, size_t len) {
  collected->names.emplace_back(name, len);
  return static_cast<DW>(collected->names.size() - 1);
}

// ---- databases ----
inline std::string repo_dir() {
  std::string f = __FILE__;   // <repo>/tests/unit/db_test_support.h
  for (int i = 0; i < 3; i++) f = f.substr(0, f.rfind('/'));
  return f;
}

inline std::string run_text(const std::string& cmd, int* status) {
  std::string out;
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) {
    *status = -1;
    return out;
  }
  char buf[512];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  *status = pclose(p);
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  return out;
}

// The PostgreSQL connection string: SCRIPTCGI_PG_CONN; else the server that scripts/pg-start.sh
// already runs; else one started here with that script in a private directory and stopped at the
// end of the tests. Empty when none can be had (why says what went wrong).
struct PgServer {
  std::string conn;
  std::string own_state;   // set when this process started the server
  bool tried = false;
  std::string why;
};
inline PgServer pg;
inline const std::string& pg_conn() {
  if (pg.tried) return pg.conn;
  pg.tried = true;
  if (const char* e = std::getenv("SCRIPTCGI_PG_CONN"); e && *e) {
    pg.conn = e;
    return pg.conn;
  }
  const char* shared = std::getenv("SCRIPTCGI_PG_STATE");
  std::string shared_state = shared && *shared ? shared : "/tmp/scriptcgi-pg";
  std::string cmd = repo_dir() + "/scripts/pg-start.sh 2>&1";
  FILE* port = std::fopen((shared_state + "/port").c_str(), "r");
  if (port) {
    std::fclose(port);
  } else {
    pg.own_state = "/tmp/scriptcgi-pg-test-" + std::to_string(getpid());
    cmd = "SCRIPTCGI_PG_STATE=" + pg.own_state + " " + cmd;
  }
  int st = 0;
  std::string out = run_text(cmd, &st);
  if (st == 0 && out.rfind("DRIVER=", 0) == 0) {
    pg.conn = out;
  } else {
    pg.why = out;
  }
  return pg.conn;
}
inline void pg_stop_if_started() {
  if (pg.own_state.empty()) return;
  int st = 0;
  run_text("SCRIPTCGI_PG_STATE=" + pg.own_state + " " + repo_dir() + "/scripts/pg-stop.sh 2>&1; rm -rf " +
               pg.own_state, &st);
  pg.own_state.clear();
}

inline std::string temp_dir() {
  char tmpl[] = "/tmp/scriptcgi-db-XXXXXX";
  const char* d = mkdtemp(tmpl);
  return d ? d : "/tmp";
}

}  // namespace dbtest
