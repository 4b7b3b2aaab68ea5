// SQL text to statement record: markers per database kind, quoting, blank folding, limits; the
// kind table and the parameter text of floats.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "db/sql_internal.h"
#include "eval_testutil.h"
#include "store/utf16_text.h"

namespace {

struct Built {
  std::string text;    // the driver's text, UTF-8
  std::string kinds;   // marker kinds in order
  std::vector<int> value_index, bind_number;
  std::string error;   // "code: message" when building raised
};

Built build(const std::string& sql, int kind, bool query = true) {
  Built b;
  sql_statement* st = nullptr;
  jump_depth = 0;
  int fr = jump_push(JF_TRY);
  if (JUMP_ARM(fr)) {
    jump_depth = 0;
    b.error = describe_jump(jump_code);
    b.error = b.error.substr(0, b.error.find(' ')) + b.error.substr(b.error.find(" : ") + 2);
    if (st) sql_statement_free(st);
    return b;
  }
  sql_statement_build(&st, sql.data(), sql.size(), kind, query);
  jump_depth = 0;
  char out[8192];
  int n = WideToMulti(reinterpret_cast<const uint16_t*>(sql_statement_text(st)), st->text_length / 2, out,
                      sizeof out - 8);
  b.text.assign(out, static_cast<size_t>(n));
  for (int i = 0; i < st->marker_count; i++) {
    b.kinds += static_cast<char>(st->marker_kind[i]);
    b.value_index.push_back(st->value_index[i]);
  }
  for (int i = 0; i < st->numbered_count; i++) b.bind_number.push_back(st->bind_number[i]);
  EXPECT_EQ(st->variable_count + st->numbered_count, st->marker_count);
  EXPECT_EQ(st->text_capacity % 4, 0u);
  sql_statement_free(st);
  return b;
}

class SqlStatement : public ::testing::Test {
 protected:
  void SetUp() override {
    eval_test_reset();
    store_switch_to_run_phase();
  }
};

TEST_F(SqlStatement, MarkersAreWrittenInEachKindsForm) {
  const std::string sql = "select a from t where b = :name and c = :{x + 1} and d in (:2, :1)";
  struct Case {
    int kind;
    const char* text;
  } cases[] = {
      {KIND_SQLSERVER, "select a from t where b = ? and c = ? and d in (?, ?)"},
      {KIND_ORACLE, "select a from t where b = :1 and c = :2 and d in (:3, :4)"},
      {KIND_DB2, "select a from t where b = ? and c = ? and d in (?, ?)"},
      // The PostgreSQL driver numbers '?' markers itself, in order: $1 ... $4 on the server.
      {KIND_POSTGRESQL, "select a from t where b = ? and c = ? and d in (?, ?)"},
      {KIND_SQLITE, "select a from t where b = ? and c = ? and d in (?, ?)"},
  };
  for (const Case& c : cases) {
    Built b = build(sql, c.kind);
    EXPECT_EQ(b.error, "") << c.kind;
    EXPECT_EQ(b.text, c.text) << c.kind;
    EXPECT_EQ(b.kinds, "NEAA");
    EXPECT_EQ(b.value_index, (std::vector<int>{0, 1, 0, 1}));
    EXPECT_EQ(b.bind_number, (std::vector<int>{2, 1}));
  }
}

TEST_F(SqlStatement, TextOutsideMarkers) {
  struct Case {
    const char* sql;
    const char* text;
    const char* kinds;
  } cases[] = {
      // Runs of blanks, tabs and line ends become one blank, inside quotes too.
      {"  select\t\t a,\r\n\n  'x  \n y'  ", " select a, 'x y' ", ""},
      // Quoted colons, doubled colons and a colon after a backslash are not markers.
      {"select ':a', \":b\", `:c`, x::int, '\\:', \\:d", "select ':a', \":b\", `:c`, x::int, '\\:', \\:d", ""},
      {"select a:::b", "select a::?", "N"},
      {"select 'it''s :x', :y", "select 'it''s :x', ?", "N"},
      {"select :{ {} }, :{ f('}') }", "select ?, ?", "EE"},
      {"select 'あ', :x", "select 'あ', ?", "N"},
      {"(select :x)", "(select ?)", "N"},
  };
  for (const Case& c : cases) {
    Built b = build(c.sql, KIND_SQLITE);
    EXPECT_EQ(b.error, "") << c.sql;
    EXPECT_EQ(b.text, c.text) << c.sql;
    EXPECT_EQ(b.kinds, c.kinds) << c.sql;
  }
}

TEST_F(SqlStatement, QueryWordAndMarkerErrors) {
  std::string m256, m257;
  for (int i = 0; i < 256; i++) m256 += ":x,";
  m257 = m256 + ":x";
  std::string long_word(201, 'w');
  std::string long_name = "select :" + std::string(201, 'n');
  struct Case {
    std::string sql;
    bool query;
    const char* error;
  } cases[] = {
      {"insert into t values (1)", true, "1350: SQL文不正(関数/select)"},
      {"SeLeCt 1", false, "1350: SQL文不正(関数/select)"},
      {"sel 1", false, "1350: SQL文不正(関数/select)"},
      {"selects 1", true, "1350: SQL文不正(関数/select)"},
      {"update t set a = 1", false, ""},
      {"select " + m256, true, ""},
      {"select " + m257, true, "1350: SQL文不正(バインド数不正。256以上)"},
      {"select :0", true, "1350: SQL文不正(バインド番号不正。1～256でない)"},
      {"select :255", true, ""},
      {"select :256", true, "1350: SQL文不正(バインド番号不正。1～256でない)"},
      {"select :99999999999999", true, "1350: SQL文不正(バインド番号不正。1～256でない)"},
      {"select :", true, "1350: SQL文不正(バインドの記述不正)"},
      {"select :-1", true, "1350: SQL文不正(バインドの記述不正)"},
      {"select :{x", true, "1350: SQL文不正(バインドの記述不正)"},
      {"select :{}", true, "1350: SQL文不正(バインドの記述不正)"},
      {long_word, false, "1005: 関数・変数名の長さ不正"},
      {long_name, true, "1005: 関数・変数名の長さ不正"},
      {"select :{1 +}", true, "1"},   // a parse error of the expression (its own code)
  };
  for (const Case& c : cases) {
    Built b = build(c.sql, KIND_ORACLE, c.query);
    if (std::string(c.error) == "1") EXPECT_EQ(b.error.substr(0, 1), "1") << c.sql;
    else EXPECT_EQ(b.error, c.error) << c.sql.substr(0, 60);
  }
  EXPECT_EQ(sql_calls_in_use(), 0);
}

TEST_F(SqlStatement, KindTableAndFloatText) {
  struct Kind {
    const char* name;
    int index;
  } kinds[] = {{"sqlserver", 1}, {"ORACLE", 2}, {"Db2", 3}, {"postgresql", 4}, {"sqlite", 5},
               {"postgres", 0}, {"", 0}, {"sql", 0}, {"sqlite ", 0}, {"server", 0}, {"sqlserverx", 0}};
  for (const Kind& k : kinds) EXPECT_EQ(db_kind_index(k.name, std::strlen(k.name)), k.index) << k.name;
  struct Num {
    double d;
    const char* text;
  } nums[] = {{2.5, "2.5"}, {2, "2.0"}, {-0.125, "-0.125"}, {1e-11, "0.0"}, {1.0 / 3, "0.3333333333"},
              {123456789.5, "123456789.5"}, {-1e7, "-10000000.0"}};
  for (const Num& n : nums) {
    char buf[400];
    size_t len = sql_float_text(n.d, buf, sizeof buf);
    EXPECT_EQ(std::string(buf, len), n.text);
  }
}

}  // namespace
