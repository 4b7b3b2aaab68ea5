// The ODBC layer against real drivers: SQLite files and a throw-away PostgreSQL server.
#include <unistd.h>

#include <string>
#include <vector>

#include "db/front_text.h"
#include "db/odbc_internal.h"
#include "db_test_support.h"

using namespace dbtest;

namespace {

class PgEnvironment : public ::testing::Environment {
 public:
  void TearDown() override { pg_stop_if_started(); }
};
[[maybe_unused]] auto* const pg_environment = ::testing::AddGlobalTestEnvironment(new PgEnvironment);

std::string sqlite_conn(const std::string& dir, const char* file = "app.db") {
  return std::string("DRIVER=") + SQLITE_DRIVER + ";Database=" + dir + "/" + file;
}

std::string front_out;
void to_front_out(const void* data, size_t len) { front_out.append(static_cast<const char*>(data), len); }

// Binding the driver manager comes first: once bound, the table serves the whole process.
TEST(OdbcBinding, LibraryPathErrorsThenBind) {
  ASSERT_EQ(connection_count, 0);
  std::memset(odbc_slots, 0, sizeof odbc_slots);
  store_reset();
  struct Case {
    const char* path;
    const char* code;
    const char* text;
  } cases[] = {
      {"", "1170", "ダイナミック リンク ライブラリが指定されていません"},
      {"  \t ", "1170", "ダイナミック リンク ライブラリが指定されていません"},
      {" /no/such/libodbc.so ", "1175", "ダイナミック リンク ライブラリ('/no/such/libodbc.so')ロード失敗"},
      {"\\no\\such\\lib.so", "1175", "ダイナミック リンク ライブラリ('/no/such/lib.so')ロード失敗"},
      {"libm.so.6", "1180", "ダイナミック リンク ライブラリ関数'SQLDisconnect'へのリンク失敗"},
  };
  std::string dir = temp_dir();
  std::string cs = sqlite_conn(dir);
  for (const Case& c : cases) {
    db_connection conn{};
    DW e = catch_error([&] { odbc_connect(&conn, c.path, cs); });
    EXPECT_EQ(error_code(e), c.code) << c.path;
    EXPECT_EQ(error_text(e), c.text);
    EXPECT_EQ(odbc_slots[E_SQLAllocHandle], nullptr) << "a failed binding leaves the table unbound";
    EXPECT_EQ(connection_count, 0);
  }
  db_connection a{}, b{};
  EXPECT_EQ(catch_error([&] { odbc_connect(&a, " libodbc.so.2 ", cs); }), NO_JUMP);
  for (int i = 0; i < ODBC_ENTRY_COUNT; i++) EXPECT_NE(odbc_slots[i], nullptr) << odbc_entry_table[i].name;
  // A later path is not loaded: the first library serves the run.
  EXPECT_EQ(catch_error([&] { odbc_connect(&b, "/no/such/lib.so", cs); }), NO_JUMP);
  EXPECT_EQ(connection_count, 2);
  catch_error([] { odbc_disconnect_all(); });
  EXPECT_EQ(connection_count, 0);
  EXPECT_EQ(a.dbc, nullptr);
  EXPECT_EQ(a.env, nullptr);
  std::system(("rm -rf " + dir).c_str());
}

TEST(OdbcConnect, FailuresCarryDriverDiagnostics) {
  store_reset();
  std::string dir = temp_dir();
  struct Case {
    std::string conn;
    const char* code;
    const char* begins;
    const char* contains;
  };
  std::vector<Case> cases = {
      {"DRIVER=/no/such/driver.so;Database=" + dir + "/x.db", "3676", "SQLDriverConnectW() Failed\nstatus=",
       "/no/such/driver.so"},
      {sqlite_conn(dir) + ";encode=" + std::string(38, 'u'), "1600", "DBパラメータの長さ不正", ""},
      {"DRIVER=" + std::string(SQLITE_DRIVER) + ";Database=" + dir + "/" + std::string(2100, 'x'), "1600",
       "DBパラメータの長さ不正", ""},
  };
  if (!pg_conn().empty()) {
    std::string bad = pg_conn();
    size_t p = bad.find("Database=scriptcgi");
    bad.replace(p, 18, "Database=no_such_db");
    cases.push_back({bad, "3676", "SQLDriverConnectW() Failed\nstatus=", "no_such_db"});
  }
  for (const Case& c : cases) {
    db_connection conn{};
    DW e = catch_error([&] { odbc_connect(&conn, LIBODBC, c.conn); });
    EXPECT_EQ(error_code(e), c.code) << c.conn.substr(0, 120);
    std::string text = error_text(e);
    EXPECT_EQ(text.rfind(c.begins, 0), 0u) << text;
    EXPECT_NE(text.find(c.contains), std::string::npos) << text;
    EXPECT_EQ(conn.dbc, nullptr) << "a failed connect frees its handles";
    EXPECT_EQ(connection_count, 0);
  }
  // The encode key decides the staging flag.
  db_connection open[3]{};   // registered: they must outlive the close-all
  int k = 0;
  for (auto kv : {std::pair{"", 1u}, {";Encode = utf8 ", 0u}, {"; ENCODE=Sjis", 1u}}) {
    const char* key = kv.first;   // clang 14 cannot capture a structured binding in a lambda
    unsigned staging = kv.second;
    db_connection& conn = open[k++];
    ASSERT_EQ(catch_error([&] { odbc_connect(&conn, LIBODBC, sqlite_conn(dir) + key); }), NO_JUMP);
    EXPECT_EQ(conn.staging, staging) << key;
  }
  catch_error([] { odbc_disconnect_all(); });
  std::system(("rm -rf " + dir).c_str());
}

TEST(OdbcConnect, SixteenConnectionsAtMost) {
  store_reset();
  std::string dir = temp_dir();
  db_connection conns[17]{};
  for (int i = 0; i < 16; i++)
    ASSERT_EQ(catch_error([&] { odbc_connect(&conns[i], LIBODBC, sqlite_conn(dir)); }), NO_JUMP);
  EXPECT_EQ(connection_count, 16);
  DW e = catch_error([&] { odbc_connect(&conns[16], LIBODBC, sqlite_conn(dir)); });
  EXPECT_EQ(error_code(e), "3645");
  EXPECT_EQ(error_text(e), "接続するデータベースが多すぎます");
  catch_error([&] { odbc_disconnect(&conns[3], false); });
  EXPECT_EQ(conns[3].dbc, nullptr);
  EXPECT_EQ(connection_count, 15);
  // Closing again finds no slot and changes no count.
  catch_error([&] { odbc_disconnect(&conns[3], false); });
  EXPECT_EQ(connection_count, 15);
  EXPECT_EQ(catch_error([&] { odbc_connect(&conns[16], LIBODBC, sqlite_conn(dir)); }), NO_JUMP);
  EXPECT_EQ(connection_table[3], &conns[16]) << "the first free slot is reused";
  catch_error([] { odbc_disconnect_all(); });
  EXPECT_EQ(connection_count, 0);
  for (db_connection* slot : connection_table) EXPECT_EQ(slot, nullptr);
  std::system(("rm -rf " + dir).c_str());
}

// ---- the same behaviour on every database ----

class OdbcDb : public ::testing::TestWithParam<const char*> {
 protected:
  std::string dir;
  std::string cs;
  db_connection conn{};

  bool is_pg() const { return std::string(GetParam()) == "postgresql"; }

  void SetUp() override {
    store_reset();
    running = false;
    jump_depth = 0;
    dir = temp_dir();
    if (is_pg()) {
      if (pg_conn().empty()) {
        GTEST_SKIP() << "PostgreSQL could not be started: " << pg.why;
      }
      cs = pg_conn();
    } else {
      cs = sqlite_conn(dir);
    }
    connect(conn);
  }
  void TearDown() override {
    catch_error([] { odbc_disconnect_all(); });
    std::system(("rm -rf " + dir).c_str());
  }

  void connect(db_connection& c) {
    DW e = catch_error([&] { odbc_connect(&c, LIBODBC, cs); });
    ASSERT_EQ(e, NO_JUMP) << error_text(e);
  }

  // Runs a statement without a result: direct without values, else prepared. Returns the row
  // count, or -999 with *err set when an error was raised.
  int64_t exec(const std::string& sql, std::initializer_list<std::string> values = {}, DW* err = nullptr,
               db_connection* c = nullptr) {
    Stmt s;
    make_stmt(s, sql);
    Values v(values);
    int64_t rows = -999;
    db_connection* cn = c ? c : &conn;
    DW e = catch_error([&] {
      rows = s.st->marker_count ? odbc_execute_prepared(cn, s.st, &v.list) : odbc_execute_direct(cn, s.st);
    });
    if (err) *err = e;
    else EXPECT_EQ(e, NO_JUMP) << sql << ": " << error_text(e);
    return e == NO_JUMP ? rows : -999;
  }

  // A query in mode 2 or 3 into c.
  DW query(Collected& c, const std::string& sql, std::initializer_list<std::string> values = {},
           int mode = SELECT_ROWS, db_connection* cn = nullptr) {
    Stmt s;
    make_stmt(s, sql);
    Values v(values);
    char buf[4096];
    row_sink sink;
    row_sink_init(&sink, buf, sizeof buf, collect_row, collect_name);
    DW keys[2 * ODBC_MAX_COLUMNS] = {};
    select_output out{};
    out.key_list = keys;
    collected = &c;
    DW e = catch_error([&] { odbc_select(cn ? cn : &conn, s.st, mode, &v.list, &sink, &out); });
    if (e == NO_JUMP) {
      EXPECT_EQ(out.row_count, static_cast<int>(c.rows.size()));
      if (mode == SELECT_HASH) {
        for (size_t i = 0; i < c.names.size(); i++) EXPECT_EQ(keys[2 * i], i);
      }
    }
    return e;
  }
  std::vector<std::vector<std::string>> rows(const std::string& sql, std::initializer_list<std::string> values = {}) {
    Collected c;
    DW e = query(c, sql, values);
    EXPECT_EQ(e, NO_JUMP) << sql << ": " << error_text(e);
    return c.rows;
  }
  // A query in mode 4 or 5: the names text and the rows text.
  DW front(const std::string& sql, int mode, std::string* names, std::string* rows_text, int* count) {
    Stmt s;
    make_stmt(s, sql);
    Values v;
    char buf[4096];
    row_sink sink;
    row_sink_init(&sink, buf, sizeof buf, nullptr, nullptr);
    front_text nt, rt;
    front_text_init(&nt);
    front_text_init(&rt);
    select_output out{};
    out.names = &nt;
    out.rows = &rt;
    DW e = catch_error([&] { odbc_select(&conn, s.st, mode, &v.list, &sink, &out); });
    *count = out.row_count;
    front_out.clear();
    front_text_flush(&nt, to_front_out);
    *names = front_out;
    front_out.clear();
    front_text_flush(&rt, to_front_out);
    *rows_text = front_out;
    return e;
  }
};

TEST_P(OdbcDb, ColumnKindsAndValues) {
  exec("CREATE TABLE k(i INTEGER, b BIGINT, n NUMERIC(10,2), z NUMERIC(8,0), r REAL, s VARCHAR(20), "
       "t TEXT, d DATE)");
  EXPECT_EQ(exec("INSERT INTO k VALUES(1, 5000000000, 3.25, 12, 1.5, 'abc', 'long', '2024-01-02')"), 1);
  EXPECT_EQ(exec("INSERT INTO k VALUES(NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL)"), 1);
  Collected c;
  ASSERT_EQ(query(c, "SELECT i, b, n, z, r, s, t, d FROM k ORDER BY i"), NO_JUMP);
  ASSERT_EQ(c.rows.size(), 2u);
  // SQLite reports NUMERIC columns as doubles whatever their scale.
  std::vector<int> kinds = is_pg() ? std::vector<int>{1, 1, 2, 1, 2, 3, 3, 3} : std::vector<int>{1, 1, 2, 2, 2, 3, 3, 3};
  EXPECT_EQ(c.kinds, kinds);
  std::vector<std::vector<std::string>> expect = {
      {"1", "5000000000", "3.25", "12", "1.5", "abc", "long", "2024-01-02"},
      std::vector<std::string>(8, "<NULL>")};
  if (!is_pg()) std::swap(expect[0], expect[1]);   // NULLs sort first there
  EXPECT_EQ(c.rows, expect);
}

TEST_P(OdbcDb, ParametersWideTextAndEmptyValues) {
  exec("CREATE TABLE p(id INTEGER, n INTEGER, s VARCHAR(20), t TEXT)");
  // Empty text: SQL NULL for the integer, an empty string for the character columns.
  EXPECT_EQ(exec("INSERT INTO p VALUES(?, ?, ?, ?)", {"1", "", "", ""}), 1);
  EXPECT_EQ(exec("INSERT INTO p VALUES(?, ?, ?, ?)", {"2", "7", "日本語テキスト", "ｶﾀｶﾅ and ascii"}), 1);
  EXPECT_EQ(exec("INSERT INTO p VALUES(?, ?, ?, ?)", {"3", "8", "null", "x'y\"z"}), 1);
  auto r = rows("SELECT id, n, s, t FROM p ORDER BY id");
  std::vector<std::vector<std::string>> expect = {
      {"1", "<NULL>", "", ""}, {"2", "7", "日本語テキスト", "ｶﾀｶﾅ and ascii"}, {"3", "8", "null", "x'y\"z"}};
  if (!is_pg()) expect[0][1] = "";   // the SQLite driver describes every parameter as text
  EXPECT_EQ(r, expect);
  // Wide values in a condition, and more wide text than the shared scratch holds.
  std::string big;
  for (int i = 0; i < 3000; i++) big += "漢字";
  EXPECT_EQ(exec("UPDATE p SET t = ? WHERE s = ?", {big, "日本語テキスト"}), 1);
  EXPECT_EQ(rows("SELECT t FROM p WHERE s = ?", {"日本語テキスト"}), (std::vector<std::vector<std::string>>{{big}}));
}

TEST_P(OdbcDb, JapaneseStatementTextNamesAndValues) {
  exec("CREATE TABLE 名簿(番号 INTEGER, 名前 VARCHAR(10))");
  EXPECT_EQ(exec("INSERT INTO 名簿 VALUES(1, '山田太郎')"), 1);
  Collected c;
  ASSERT_EQ(query(c, "SELECT 番号 AS 番, 名前, '漢字' AS 別名 FROM 名簿 WHERE 名前 = '山田太郎'", {}, SELECT_HASH), NO_JUMP);
  EXPECT_EQ(c.names, (std::vector<std::string>{"番", "名前", "別名"}));
  EXPECT_EQ(c.rows, (std::vector<std::vector<std::string>>{{"1", "山田太郎", "漢字"}}));
  std::string names, text;
  int count = 0;
  ASSERT_EQ(front("SELECT 名前 AS 氏名 FROM 名簿", SELECT_HASH_TO_FRONT, &names, &text, &count), NO_JUMP);
  EXPECT_EQ(count, 1);
  EXPECT_EQ(names, "C18%E6%B0%8F%E5%90%8D");
  EXPECT_EQ(text, "C36%E5%B1%B1%E7%94%B0%E5%A4%AA%E9%83%8E");
}

TEST_P(OdbcDb, FrontEndFields) {
  exec("CREATE TABLE f(id INTEGER, name VARCHAR(10), z INTEGER, r REAL)");
  exec("INSERT INTO f VALUES(1, 'x', NULL, 2.5)");
  exec("INSERT INTO f VALUES(2, 'a b', 3, NULL)");
  std::string names, text;
  int count = 0;
  ASSERT_EQ(front("SELECT id, name, z, r FROM f ORDER BY id", SELECT_HASH_TO_FRONT, &names, &text, &count), NO_JUMP);
  EXPECT_EQ(count, 2);
  EXPECT_EQ(names, "12id14name11z11r");
  EXPECT_EQ(text, "O111x10d2.5" "O2B5a%20bO310");
  // No rows: nothing but the count.
  ASSERT_EQ(front("SELECT id, name FROM f WHERE id > 5", SELECT_TO_FRONT, &names, &text, &count), NO_JUMP);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(names + text, "");
}

TEST_P(OdbcDb, LongValuesComeBackWhole) {
  // PostgreSQL reports text columns as 8,190 characters, SQLite as 65,536 (and a VARCHAR(10) as
  // 10 whatever it holds): values beyond the slot are read again whole.
  exec("CREATE TABLE l(id INTEGER, s VARCHAR(40), t TEXT)");
  std::string longer = is_pg() ? "0123456789012345678901234567890123456789" : std::string(300, 's') + "終";
  std::string huge;
  for (int i = 0; i < 40000; i++) huge += (i % 7) ? "a" : "字";
  EXPECT_EQ(exec("INSERT INTO l VALUES(1, ?, ?)", {longer, huge}), 1);
  if (!is_pg()) exec("UPDATE l SET s = '" + longer + "' || s WHERE id = 1");   // beyond VARCHAR(40)
  std::string s_value = is_pg() ? longer : longer + longer;
  EXPECT_EQ(rows("SELECT s, t, id FROM l"), (std::vector<std::vector<std::string>>{{s_value, huge, "1"}}));
  std::string names, text;
  int count = 0;
  ASSERT_EQ(front("SELECT t FROM l", SELECT_TO_FRONT, &names, &text, &count), NO_JUMP);
  std::string field(huge.size() * 3 + 32, 0);
  field.resize(field_encode(huge.c_str(), huge.size(), field.data(), field.size()));
  EXPECT_EQ(text, field) << "an encoded field of the whole value";
}

TEST_P(OdbcDb, ExecutionRowCountsAndBatches) {
  exec("CREATE TABLE e(a INTEGER, b VARCHAR(10))");
  EXPECT_EQ(exec("INSERT INTO e VALUES(1, 'one')"), 1);
  EXPECT_EQ(exec("UPDATE e SET b = 'none' WHERE a = 99"), 0) << "no data is 0 rows, not an error";
  EXPECT_EQ(exec("DELETE FROM e WHERE a = ?", {"98"}), 0);
  // Numbered markers bound once per pass; the variable marker once for all passes.
  Stmt s;
  make_stmt(s, "INSERT INTO e VALUES(?, ?)", "AN");
  Values vars({"批"});
  Values numbered({"10", "11", "12"});
  int64_t sum = -1;
  DW e = catch_error([&] { sum = odbc_execute_batch(&conn, s.st, &vars.list, &numbered.list, 3); });
  ASSERT_EQ(e, NO_JUMP) << error_text(e);
  EXPECT_EQ(sum, 3);
  e = catch_error([&] { sum = odbc_execute_batch(&conn, s.st, &vars.list, &numbered.list, 0); });
  EXPECT_EQ(sum, 0) << "no pass: prepared, executed no time";
  Stmt two;
  make_stmt(two, "UPDATE e SET b = ? WHERE a = ? OR a = ?", "AAA");
  Values rowsv({"x", "1", "10", "y", "11", "12"});
  e = catch_error([&] { sum = odbc_execute_batch(&conn, two.st, &vars.list, &rowsv.list, 2); });
  ASSERT_EQ(e, NO_JUMP) << error_text(e);
  EXPECT_EQ(sum, 4);
  EXPECT_EQ(rows("SELECT a, b FROM e ORDER BY a"),
            (std::vector<std::vector<std::string>>{{"1", "x"}, {"10", "x"}, {"11", "y"}, {"12", "y"}}));
  // More passes than values.
  e = catch_error([&] { odbc_execute_batch(&conn, s.st, &vars.list, &numbered.list, 4); });
  EXPECT_EQ(error_code(e), "3755");
}

TEST_P(OdbcDb, ErrorsCarryDiagnosticsAndTheConnectionGoesOn) {
  exec("CREATE TABLE u(id INTEGER PRIMARY KEY, v VARCHAR(10))");
  exec("INSERT INTO u VALUES(1, 'a')");
  DW e = 0;
  exec("INSERT INTO u VALUES(?, ?)", {"1", "dup"}, &e);
  EXPECT_EQ(error_code(e), "3725");
  std::string text = error_text(e);
  EXPECT_EQ(text.rfind("SQLExecute Failed\nstatus=", 0), 0u) << text;
  size_t pieces = 0;
  for (size_t p = 0; (p = text.find("\nstatus=", p)) != std::string::npos; p++) pieces++;
  EXPECT_GE(pieces, 1u);
  EXPECT_LE(pieces, 5u);
  EXPECT_EQ(text.back(), '\n');

  exec("INSERT INTO nowhere VALUES(1)", {}, &e);
  EXPECT_EQ(error_code(e), "3690");
  EXPECT_EQ(error_text(e).rfind("SQLExecDirectW Failed\nstatus=", 0), 0u) << error_text(e);
  EXPECT_NE(error_text(e).find("nowhere"), std::string::npos) << error_text(e);

  Collected c;
  e = query(c, "SELECT * FROM nowhere");
  // Where the driver reports it depends on the driver: at prepare, describe or execute.
  EXPECT_TRUE(error_code(e) == "3780" || error_code(e) == "3795" || error_code(e) == "3810") << error_code(e);
  EXPECT_NE(error_text(e).find("\nstatus="), std::string::npos);

  // The statement says three markers, the record two.
  Stmt s;
  make_stmt(s, "SELECT id FROM u WHERE id = ? OR id = ? OR id = ?", "NN");
  Values v({"1", "2"});
  char buf[2048];
  row_sink sink;
  row_sink_init(&sink, buf, sizeof buf, collect_row, nullptr);
  select_output out{};
  collected = &c;
  e = catch_error([&] { odbc_select(&conn, s.st, SELECT_ROWS, &v.list, &sink, &out); });
  EXPECT_EQ(error_code(e), "3790");
  EXPECT_EQ(error_text(e), "バインドの数と値が不一致");
  e = catch_error([&] { odbc_execute_prepared(&conn, s.st, &v.list); });
  EXPECT_EQ(error_code(e), "3720");

  // A failing row callback stops the query; the connection and its transaction go on.
  exec("INSERT INTO u VALUES(2, 'b')");
  Collected failing;
  failing.fail_at = 1;
  e = query(failing, "SELECT id FROM u ORDER BY id");
  EXPECT_EQ(error_code(e), "3825");
  EXPECT_EQ(error_text(e), "メモリ領域が確保できません");
  EXPECT_EQ(rows("SELECT id, v FROM u ORDER BY id"), (std::vector<std::vector<std::string>>{{"1", "a"}, {"2", "b"}}));
  EXPECT_EQ(frames_in_use(), 0) << "every failed statement was freed";
}

TEST_P(OdbcDb, SelectIntoTakesOneRow) {
  exec("CREATE TABLE s1(a INTEGER, b VARCHAR(10))");
  exec("INSERT INTO s1 VALUES(1, 'x')");
  exec("INSERT INTO s1 VALUES(2, 'y')");
  struct Case {
    const char* sql;
    int targets;
    const char* code;
    int rows;
  } cases[] = {
      {"SELECT a, b FROM s1 WHERE a = 2", 2, "(none)", 1},
      {"SELECT a, b FROM s1 WHERE a = 3", 2, "(none)", 0},
      {"SELECT a, b FROM s1 ORDER BY a", 2, "3820", 1},
      {"SELECT a, b FROM s1 WHERE a = 1", 3, "3815", 0},
  };
  for (const Case& c : cases) {
    Stmt s;
    make_stmt(s, c.sql);
    Values v;
    char buf[4096];
    row_sink sink;
    row_sink_init(&sink, buf, sizeof buf, nullptr, nullptr);
    select_output out{};
    out.target_count = c.targets;
    out.row_count = -1;
    DW e = catch_error([&] { odbc_select(&conn, s.st, SELECT_INTO, &v.list, &sink, &out); });
    EXPECT_EQ(error_code(e), c.code) << c.sql;
    if (e != NO_JUMP) continue;
    EXPECT_EQ(out.row_count, c.rows);
    if (c.rows == 1) {
      EXPECT_EQ(std::string(sink.text[0], sink.length[0]), "2");
      EXPECT_EQ(std::string(sink.text[1], sink.length[1]), "y");
    }
    row_sink_free(&sink);
  }
}

TEST_P(OdbcDb, ManyColumns) {
  for (int n : {255, 256}) {
    std::string sql = "SELECT ";
    for (int i = 1; i <= n; i++) sql += (i > 1 ? ", " : "") + std::to_string(i) + " AS c" + std::to_string(i);
    Collected c;
    DW e = query(c, sql);
    if (n == 255) {
      ASSERT_EQ(e, NO_JUMP) << error_text(e);
      ASSERT_EQ(c.rows.size(), 1u);
      EXPECT_EQ(c.rows[0].size(), 255u);
      EXPECT_EQ(c.rows[0][254], "255");
    } else {
      EXPECT_EQ(error_code(e), "3800");
      EXPECT_EQ(error_text(e), "カラム数が多すぎます(MAX 256)");
    }
  }
}

TEST_P(OdbcDb, SurrogatesAtTheBoundary) {
  // Fetched: each surrogate unit arrives as its own three-byte sequence.
  auto r = rows(is_pg() ? "SELECT chr(128512) || 'x'" : "SELECT char(128512) || 'x'");
  EXPECT_EQ(r, (std::vector<std::vector<std::string>>{{"\xED\xA0\xBD\xED\xB8\x80x"}}));
  // Bound: a character above U+FFFF is refused.
  exec("CREATE TABLE sg(v VARCHAR(10))");
  DW e = 0;
  exec("INSERT INTO sg VALUES(?)", {"a\xF0\x9F\x98\x80"}, &e);
  EXPECT_EQ(error_code(e), "1595");
  EXPECT_EQ(error_text(e), "MultiToWide 文字の変換エラー(サロゲート文字)");
}

TEST_P(OdbcDb, TransactionsEndAtClose) {
  std::string table = "tx_" + std::to_string(getpid());
  exec("CREATE TABLE " + table + "(v INTEGER)");
  catch_error([&] { odbc_disconnect(&conn, true); });
  auto count_in = [&](db_connection& c) {
    Collected r;
    EXPECT_EQ(query(r, "SELECT COUNT(*) FROM " + table, {}, SELECT_ROWS, &c), NO_JUMP);
    return r.rows.empty() ? std::string("?") : r.rows[0][0];
  };
  struct Step {
    const char* how;   // "rollback", "commit" or "all" (the end of a run)
    const char* count_after;
  } steps[] = {{"rollback", "0"}, {"commit", "1"}, {"all", "1"}, {"commit", "2"}};
  for (const Step& s : steps) {
    db_connection c{};
    connect(c);
    exec("INSERT INTO " + table + " VALUES(1)", {}, nullptr, &c);
    if (std::string(s.how) == "all") catch_error([] { odbc_disconnect_all(); });
    else catch_error([&] { odbc_disconnect(&c, std::string(s.how) == "commit"); });
    EXPECT_EQ(c.dbc, nullptr);
    db_connection check{};
    connect(check);
    EXPECT_EQ(count_in(check), s.count_after) << s.how;
    catch_error([&] { odbc_disconnect(&check, false); });
  }
  // A closed connection used again fails in ODBC.
  DW e = 0;
  exec("INSERT INTO " + table + " VALUES(1)", {}, &e);
  EXPECT_EQ(error_code(e), "3685");
  EXPECT_EQ(error_text(e), "SQLAllocHandle(main) Failed");
  e = catch_error([&] { odbc_disconnect(&conn, true); });
  EXPECT_EQ(error_code(e), "3680");
  db_connection last{};
  connect(last);
  exec("DROP TABLE " + table, {}, nullptr, &last);
  catch_error([&] { odbc_disconnect(&last, true); });
}

// A row callback may run other queries on the same connection and catch their errors while the
// outer query goes on (statements run per row do this).
template <class F>
DW catch_inner(F fn) {
  int fr = jump_push(JF_TRY);
  if (JUMP_ARM(fr)) {
    jump_depth = fr;
    return jump_code;
  }
  fn();
  jump_depth = fr;
  return NO_JUMP;
}
db_connection* nested_conn;
std::vector<std::string> nested_log;
int raising_row(row_sink*, int, select_output*) { raise_eval_error(2000, "raised by the callback"); }
int nested_row(row_sink* sink, int, select_output*) {
  std::string id(sink->text[0], static_cast<size_t>(sink->length[0]));
  std::string big(sink->text[1], static_cast<size_t>(sink->length[1]));
  Collected inner;
  Collected* outer = collected;
  collected = &inner;
  Stmt ok, bad;
  make_stmt(ok, "SELECT v FROM n2 WHERE id = ?");
  make_stmt(bad, "SELECT * FROM nowhere");
  Values v({id});
  char buf[2048];
  row_sink is;
  row_sink_init(&is, buf, sizeof buf, collect_row, nullptr);
  select_output io{};
  DW e1 = catch_inner([&] { odbc_select(nested_conn, bad.st, SELECT_ROWS, &v.list, &is, &io); });
  // A callback that raises leaves its query behind; the next query clears it away.
  row_sink rs;
  row_sink_init(&rs, buf, sizeof buf, raising_row, nullptr);
  DW e3 = catch_inner([&] { odbc_select(nested_conn, ok.st, SELECT_ROWS, &v.list, &rs, &io); });
  if (error_code(e3) != "2000") e1 = NO_JUMP;
  DW e2 = catch_inner([&] { odbc_select(nested_conn, ok.st, SELECT_ROWS, &v.list, &is, &io); });
  collected = outer;
  std::string entry = id + ":" + (e1 == NO_JUMP ? "no error" : "error") + ":" + (e2 == NO_JUMP ? "ok" : error_text(e2));
  entry += ":" + (inner.rows.size() == 1 ? inner.rows[0][0] : std::string("?"));
  bool intact = std::string(sink->text[0], static_cast<size_t>(sink->length[0])) == id &&
                std::string(sink->text[1], static_cast<size_t>(sink->length[1])) == big;
  entry += ":" + std::to_string(big.size()) + ":" + std::to_string(frames_in_use());   // only the outer query's frame
  nested_log.push_back(entry + (intact ? "" : ":outer row changed"));
  return 0;
}

TEST_P(OdbcDb, QueriesInsideARowCallback) {
  exec("CREATE TABLE n1(id INTEGER, big TEXT)");
  exec("CREATE TABLE n2(id INTEGER, v VARCHAR(10))");
  std::string big(100000, 'b');   // beyond its slot: kept in a buffer of the outer query
  for (const char* id : {"1", "2", "3"}) {
    exec("INSERT INTO n1 VALUES(?, ?)", {id, big + id});
    exec("INSERT INTO n2 VALUES(?, ?)", {id, std::string("v") + id});
  }
  running = true;   // errors reach the innermost try frame
  nested_conn = &conn;
  nested_log.clear();
  Stmt s;
  make_stmt(s, "SELECT id, big FROM n1 ORDER BY id");
  Values v;
  char buf[4096];
  row_sink sink;
  row_sink_init(&sink, buf, sizeof buf, nested_row, nullptr);
  select_output out{};
  DW e = catch_error([&] { odbc_select(&conn, s.st, SELECT_ROWS, &v.list, &sink, &out); });
  running = false;
  throw_pending = false;
  EXPECT_EQ(e, NO_JUMP) << error_text(e);
  EXPECT_EQ(out.row_count, 3);
  EXPECT_EQ(nested_log, (std::vector<std::string>{"1:error:ok:v1:100001:1", "2:error:ok:v2:100001:1", "3:error:ok:v3:100001:1"}));
  EXPECT_EQ(frames_in_use(), 0);
}

// Cells of the aggregation: one row kept as text.
std::vector<std::string> cell_log;
odbc_cell cell_row[8];
int cell_columns;
odbc_cell* cells_begin(void*, int n) {
  cell_columns = n;
  cell_log.push_back("begin " + std::to_string(n));
  return cell_row;
}
void cells_row(void*) {
  std::string s;
  for (int i = 0; i < cell_columns; i++) {
    const odbc_cell& c = cell_row[i];
    char buf[64];
    if (c.type == CELL_INT) std::snprintf(buf, sizeof buf, "i%d", c.v.i);
    else if (c.type == CELL_FLOAT) std::snprintf(buf, sizeof buf, "f%g", c.v.f);
    else if (c.type == CELL_NULL) std::snprintf(buf, sizeof buf, "null");
    else std::snprintf(buf, sizeof buf, "t%u:%.*s", c.length, static_cast<int>(c.length), c.v.text);
    s += (i ? " " : "") + std::string(buf);
  }
  cell_log.push_back(s);
}
void cells_finish(void*) { cell_log.push_back("finish"); }

TEST_P(OdbcDb, CellQuery) {
  exec("CREATE TABLE c(k VARCHAR(10), n INTEGER, big BIGINT, r REAL)");
  exec("INSERT INTO c VALUES('甲', 1, 5000000000, 0.5)");
  exec("INSERT INTO c VALUES(NULL, NULL, -3, NULL)");
  Stmt s;
  make_stmt(s, "SELECT k, n, big, r FROM c WHERE n = ? OR n IS NULL ORDER BY big DESC");
  Values v({"1"}, true);
  cell_consumer consumer{nullptr, cells_begin, cells_row, cells_finish};
  cell_log.clear();
  DW e = catch_error([&] { odbc_select_cells(&conn, s.st, &v.list, &consumer); });
  ASSERT_EQ(e, NO_JUMP) << error_text(e);
  EXPECT_EQ(cell_log, (std::vector<std::string>{"begin 4", "t3:甲 i1 f5e+09 f0.5", "null null i-3 null", "finish"}));
}

INSTANTIATE_TEST_SUITE_P(Databases, OdbcDb, ::testing::Values("sqlite", "postgresql"),
                         [](const ::testing::TestParamInfo<const char*>& i) { return std::string(i.param); });

}  // namespace
