// Statement parser: statement shapes, function values, scopes and the globals entered at parse
// time, the switch and for layouts, statement errors, and module files.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "frontend_test_util.h"

namespace {

class FrontendStmt : public ::testing::Test {
 protected:
  void SetUp() override { frontend_fresh(); }
};

struct ShapeCase {
  const char* src;
  const char* tree;
};

TEST_F(FrontendStmt, Shapes) {
  static const ShapeCase cases[] = {
      {"", ""},
      {";;;", ""},
      {"a; b", "a;b"},
      {"if (a) b(); else c();", "IF(a,CALL(b,[]),CALL(c,[]))"},
      {"if (a);", "IF(a,undefined)"},
      {"if (a) {} else if (b) {} else {}", "IF(a,BLOCK(),IF(b,BLOCK(),BLOCK()))"},
      {"while (a) { if (b) continue; break; }", "WHILE(a,BLOCK(IF(b,CONTINUE()),BREAK()))"},
      {"do x++; while (x < 3) y();", "DO_WHILE(POST_INC(x),LT(x,3));CALL(y,[])"},
      {"do { x(); } while (x);", "DO_WHILE(BLOCK(CALL(x,[])),x)"},
      {"for (var i = 0; i < 3; i++) { s += i; }", "FOR([VAR(ASSIGN(i,0))],LT(i,3),[POST_INC(i)],BLOCK(ADD_ASSIGN(s,i)))"},
      {"for (i = 0, j = 1; i < j; i++, j--) x();",
       "FOR([ASSIGN(i,0),ASSIGN(j,1)],LT(i,j),[POST_INC(i),POST_DEC(j)],CALL(x,[]))"},
      {"for (; i < 3;) i++;", "FOR([],LT(i,3),[],POST_INC(i))"},
      {"for (const x of a) {} for (let x in a) {} for (x of a) ;",
       "FOR_OF(x,a,BLOCK(),1);FOR_IN(x,a,BLOCK(),0);FOR_OF(x,a,undefined,0)"},
      {"for (var k in o) {}", "FOR_IN(k,o,BLOCK(),2)"},
      {"try {} finally {}", "TRY(BLOCK(),0,BLOCK())"},
      {"try { a(); } catch (e) { b(); }", "TRY(BLOCK(CALL(a,[])),CATCH(e,BLOCK(CALL(b,[]))))"},
      {"try { a(); } catch (e) { b(); } finally { c(); }",
       "TRY(BLOCK(CALL(a,[])),CATCH(e,BLOCK(CALL(b,[]))),BLOCK(CALL(c,[])))"},
      {"throw Error('x');", "THROW(ERROR(\"x\"))"},
      {"return; return a + 1;", "RETURN();RETURN(ADD(a,1))"},
      {"var a, b = 1; let c = 2; const d = 3;", "VAR(a,ASSIGN(b,1));LET(ASSIGN(c,2));CONST(ASSIGN(d,3))"},
      {"function f(a, b = 2) { var x; let y; }", "ASSIGN(f,FUNCTION(a,ASSIGN(b,2)|x)BLOCK(VAR(x),LET(y)))"},
      {"function o() { function i() { var z; } var y; }",
       "ASSIGN(o,FUNCTION(|i,y)BLOCK(ASSIGN(i,FUNCTION(|z)BLOCK(VAR(z))),VAR(y)))"},
      {"function f() {} g()", "ASSIGN(f,FUNCTION(|)BLOCK());CALL(g,[])"},
      {"function f(a) { var a; for (var i in a) {} }", "ASSIGN(f,FUNCTION(a|a,i)BLOCK(VAR(a),FOR_IN(i,a,BLOCK(),2)))"},
      {"{ a; { b; } }", "BLOCK(a,BLOCK(b))"},
      {"switch (x) { case 1: a(); break; case 'b': c(); default: d(); }",
       "SWITCH(x,{1:0,\"b\":2,default:3},[CALL(a,[]),BREAK(),CALL(c,[]),CALL(d,[])])"},
      {"switch (x) { case 1: case 2: x = {a: 1}; if (a) b(); break; }",
       "SWITCH(x,{1:0,2:0},[ASSIGN(x,{a:1}),IF(a,CALL(b,[])),BREAK()])"},
      {"switch (x) { case f(a, 'x:y'): y(); }", "SWITCH(x,{CALL(f,[a,\"x:y\"]):0},[CALL(y,[])])"},
      {"record_map(a,b,c); record_hash(a,b); record_hash(a,b,c); openDb(a,b,c); closeDb(a); closeDb(a,b)",
       "RECORD_MAP(a,b,c);RECORD_HASH(a,b);RECORD_HASH(a,b,c);OPEN_DB(a,b,c);CLOSE_DB(a);CLOSE_DB(a,b)"},
      {"execute(a,b); execute(a,b,c); select(a,b); selectHash(a,b); selectInto(a,b,c,d,e); selectExists(a,b)",
       "EXECUTE(a,b);EXECUTE(a,b,c);SELECT(a,b);SELECT_HASH(a,b);SELECT_INTO(a,b,c,d,e);SELECT_EXISTS(a,b)"},
      {"selectToFront(a,b,c); selectHashToFront(a,b,c); sql_aggregate(a,b,c); sql_aggregate(a,b,c,d)",
       "SELECT_TO_FRONT(a,b,c);SELECT_HASH_TO_FRONT(a,b,c);SQL_AGGREGATE(a,b,c);SQL_AGGREGATE(a,b,c,d)"},
      {"sendToFront(a,b); sendToFront('s'); sendToFront(v); parseInt(); parseInt(s, 16); alertToFront(x)",
       "SEND_TO_FRONT(a,b);SEND_TO_FRONT(\"s\");SEND_TO_FRONT(v);PARSE_INT();PARSE_INT(s,16);ALERT_TO_FRONT(x)"},
      {"decodeURI(a); decodeURIComponent(a); encodeURI(a); encodeURIComponent(a); eval(a); parseFloat(a)",
       "DECODE_URI(a);DECODE_URI_COMPONENT(a);ENCODE_URI(a);ENCODE_URI_COMPONENT(a);EVAL(a);PARSE_FLOAT(a)"},
      {"x = `a` // trailing comment", "ASSIGN(x,`a`)"},
      {"x = 1; // comment without a line feed", "ASSIGN(x,1)"},
      {"s = 'a//b'; /* c */ t", "ASSIGN(s,\"a//b\");t"},
      {"s = \"/*\"; t = '*/'", "ASSIGN(s,\"/*\");ASSIGN(t,\"*/\")"},
      {"/* 'a' */ x /* \"*/\" */", "x"},
  };
  for (const auto& c : cases) {
    frontend_fresh();
    ParseOutcome o = parse_source(c.src);
    EXPECT_EQ(o.code, 0) << c.src << "\n" << o.text;
    EXPECT_EQ(o.text, c.tree) << c.src;
  }
}

TEST_F(FrontendStmt, ElseIfChainsAndNesting) {
  ParseOutcome o = parse_source("if (a) x();\nelse if (b) y();\nelse   if (c) {} else z();", true);
  ASSERT_EQ(o.code, 0) << o.text;
  EXPECT_EQ(o.text, "IF@1:0(a,CALL@1:8(x,[]),IF@2:6(b,CALL@2:14(y,[]),IF@3:8(c,BLOCK@0:0(),CALL@3:24(z,[]))))");
  // A chain of 2000 branches is no nesting.
  std::string chain = "if (v == 0) r = 0;";
  for (int i = 1; i < 2000; i++) chain += " else if (v == " + std::to_string(i) + ") r = " + std::to_string(i) + ";";
  o = parse_source(chain);
  ASSERT_EQ(o.code, 0);
  DW n = frontend_test::parsed.items[0];
  for (int i = 0; i < 1999; i++) n = node_arg(n, 2);
  EXPECT_STREQ(tree_dump(n, false), "IF(EQ(v,1999),ASSIGN(r,1999))");
  // Deep blocks, nested ifs and nested functions are a numbered error, not a stack overflow.
  for (const char* open : {"{", "if (a) ", "while (a) {", "x = function () {"}) {
    std::string deep;
    for (int i = 0; i < 5000; i++) deep += open;
    deep += "x;";
    for (int i = 0; i < 5000; i++) deep += std::string(open).back() == '{' ? "}" : "";
    o = parse_source(deep);
    EXPECT_EQ(o.code, 1120) << open;
    std::string ok;
    for (int i = 0; i < 60; i++) ok += open;
    ok += "x;";
    for (int i = 0; i < 60; i++) ok += std::string(open).back() == '{' ? "}" : "";
    EXPECT_EQ(parse_source(ok).code, 0) << open;
  }
}

TEST_F(FrontendStmt, FunctionValue) {
  ParseOutcome o = parse_source("\n\nfunction f(a, b = 2) {\n var x;\n let y;\n var x;\n}\n", true);
  ASSERT_EQ(o.code, 0) << o.text;
  DW assign = frontend_test::parsed.items[0];
  EXPECT_EQ(node_position(assign), make_position(3, 1));
  DW fn = node_arg(assign, 1);
  ASSERT_EQ(dw_type(fn), T_FUNC);
  EXPECT_EQ(func_param_count(fn), 2u);
  EXPECT_EQ(func_local_count(fn), 1u);
  EXPECT_EQ(func_rec(fn)->line, 3);
  EXPECT_EQ(func_rec(fn)->endLine, 7);
  EXPECT_EQ(func_module(fn), 0u);
  EXPECT_STREQ(name_text(func_param_name(fn, 0)), "a");
  EXPECT_STREQ(name_text(func_param_name(fn, 1)), "b");
  EXPECT_STREQ(name_text(func_names(fn)[2]), "x");
  EXPECT_EQ(node_op(func_body(fn)), OP_BLOCK);
  EXPECT_EQ(dw_rec(func_body(fn))[0] >> 4, 1);
  // Without parameters and locals the name array is 0.
  o = parse_source("x = function () {}");
  ASSERT_EQ(o.code, 0);
  EXPECT_EQ(func_rec(node_arg(frontend_test::parsed.items[0], 1))->names, 0u);
}

TEST_F(FrontendStmt, FunctionLocalLimit) {
  std::string body;
  for (int i = 0; i < 255; i++) body += "var v" + std::to_string(i) + ";";
  ParseOutcome o = parse_source("function f() {" + body + "}");
  ASSERT_EQ(o.code, 0);
  EXPECT_EQ(func_local_count(node_arg(frontend_test::parsed.items[0], 1)), 255u);
  o = parse_source("function f() {" + body + "var more; }");
  EXPECT_EQ(o.code, 1050);
}

TEST_F(FrontendStmt, BlockOf300Statements) {
  std::string src = "{";
  for (int i = 0; i < 300; i++) src += "s" + std::to_string(i) + ";";
  src += "}";
  ParseOutcome o = parse_source(src);
  ASSERT_EQ(o.code, 0);
  DW block = frontend_test::parsed.items[0];
  EXPECT_EQ(node_rec(block)->argc, 255);
  EXPECT_EQ(node_rec(block)->pos, 300u);
  EXPECT_EQ(node_argc(block), 300u);
  EXPECT_EQ(node_position(block), 0u);
  for (uint32_t i = 0; i < 300; i++) EXPECT_EQ(name_text(node_arg(block, i)), "s" + std::to_string(i));
}

TEST_F(FrontendStmt, SwitchLayout) {
  ParseOutcome o = parse_source("switch (x) { case 1: a(); case 2: default: b(); c(); }");
  ASSERT_EQ(o.code, 0) << o.text;
  DW sw = frontend_test::parsed.items[0];
  EXPECT_EQ(node_rec(sw)->argc, 4);
  EXPECT_EQ(node_rec(sw)->modflags & NODE_NO_STOP, 0);
  const uint32_t* t = switch_case_table(sw);
  EXPECT_EQ(t[0], 4u);   // pairs: header, default, two cases
  EXPECT_EQ(t[1], 3u);   // statements
  EXPECT_EQ(t[2], 0u);
  EXPECT_EQ(t[3], 1u);   // default before b()
  EXPECT_EQ(t[5], 0u);
  EXPECT_EQ(t[7], 1u);
  EXPECT_TRUE(switch_has_default(sw));
  EXPECT_EQ(dw_rec(t[4])[0] >> 4, 1);   // case value: one reference
  // No no-stop bit on a switch even in no-stop mode.
  char text[] = "switch (x) { case 1: a(); }";
  StatementList list = {nullptr, 0, 0, false};
  parse_statement_text(text, PARSE_NO_STOP, &list);
  ASSERT_EQ(list.count, 1u);
  EXPECT_FALSE(node_no_stop(list.items[0]));
  EXPECT_FALSE(switch_has_default(list.items[0]));
}

TEST_F(FrontendStmt, SwitchCaseLimit) {
  std::string cases;
  for (int i = 0; i < 1021; i++) cases += "case " + std::to_string(i) + ":";
  ParseOutcome o = parse_source("switch (x) {" + cases + " a(); }");
  ASSERT_EQ(o.code, 0);
  EXPECT_EQ(switch_pair_count(frontend_test::parsed.items[0]), 1023u);
  o = parse_source("switch (x) {" + cases + "case 9999: a(); }");
  EXPECT_EQ(o.code, 1150);
}

TEST_F(FrontendStmt, ForLayout) {
  ParseOutcome o = parse_source("for (a = 0, b = 1; a < 2; a++, b++, c++) {}");
  ASSERT_EQ(o.code, 0);
  DW f = frontend_test::parsed.items[0];
  EXPECT_EQ(node_argc(f), 3u);
  EXPECT_EQ(node_arg(f, 1), (2u << 16) + 3u);
  EXPECT_EQ(node_op(for_words(f)[2]), OP_LT);
  EXPECT_EQ(dw_rec(for_words(f)[2])[0] >> 4, 1);
}

// Globals entered at parse time and the let/const duplicate rules.
TEST_F(FrontendStmt, ScopesAndGlobals) {
  ParseOutcome o = parse_source(
      "var a, b = 1; var a; function f(p) { var c; let d; } for (var k in o) {} let e; "
      "{ var g; let h; } for (var i = 0; i < 1; i++) {}");
  ASSERT_EQ(o.code, 0) << o.text;
  std::string globals;
  for (int i = 0; i <= global_top; i++) globals += std::string(name_text(global_table[i].name)) + " ";
  EXPECT_EQ(globals, "a b f k g i ");
  for (int i = 0; i <= global_top; i++) EXPECT_EQ(global_table[i].value, DW_UNDEFINED);

  struct Case {
    const char* src;
    int code;
  } cases[] = {
      {"{ let x; let x; }", 1035},
      {"{ let x; } { let x; }", 0},
      {"{ let x; { let x; } }", 0},
      {"{ let x; { let y; } let x; }", 1035},
      {"{ let x; { let x; } let x; }", 1035},
      {"{ const x = 1; let x; }", 1035},
      {"let x; let x;", 0},
      {"var x; let x;", 1035},
      {"function x() {} const x = 1;", 1035},
      {"for (var x in o) {} let x;", 1035},
      {"function g() { var x; let x; }", 0},
      {"function g() { let x; let x; }", 1035},
      {"function g() { let x; } function h() { let x; }", 0},
      // A let in a for header belongs to the loop.
      {"function g() { for (let i = 0; i < 2; i++) {} for (let i = 0; i < 2; i++) { let i; } }", 0},
      {"function g() { for (let i = 0, i = 1; ;) {} }", 1035},
      {"{ let i; for (let i = 0; i < 1; i++) {} let j; let i; }", 1035},
  };
  for (const auto& c : cases) {
    frontend_fresh();
    o = parse_source(c.src);
    EXPECT_EQ(o.code, c.code) << c.src << "\n" << o.text;
  }
  // Top-level let names stay across modules and meet a later var only through the globals.
  frontend_fresh();
  EXPECT_EQ(parse_source("var x;").code, 0);
  EXPECT_EQ(parse_source("let x;").code, 1035);
  EXPECT_EQ(parse_source("{ let x; let y; }").code, 0);
  // Names appended to the global table by others are seen too.
  frontend_fresh();
  global_append(name_intern_text("late", 4), DW_UNDEFINED);
  EXPECT_EQ(parse_source("var late; let late;").code, 1035);
  EXPECT_EQ(global_top, 0);
}

struct ErrorCase {
  const char* src;
  int code;
  const char* detail;
};

TEST_F(FrontendStmt, Errors) {
  static const ErrorCase cases[] = {
      {"var;", 1025, "フォーマット不正 'var;'"},
      {"var 1;", 1025, "フォーマット不正 'var 1;'"},
      {"var a.b = 1;", 1025, "フォーマット不正 'var a.b = 1;'"},
      {"let;", 1030, "フォーマット不正 'let' in 'let;'"},
      {"const 5;", 1030, "フォーマット不正 'const' in 'const 5;'"},
      {"{ let x; let x; }", 1035, "'let'内で変数名の重複 'let x; '"},
      {"function Math() {}", 1040, "関数名不正 'function Math() {}'"},
      {"function f(1) {}", 1050, "フォーマット不正 'function f(1) {}'"},
      {"function f(a.b) {}", 1050, "フォーマット不正 'function f(a.b) {}'"},
      {"function f() x", 1050, "フォーマット不正 'function f() x'"},
      {"function f(a {}", 1050, "フォーマット不正 'function f(a {}'"},
      {"if a b;", 1075, "ステートメント不正 'if a b;"},
      {"if (a; b) c;", 1075, "ステートメント不正 'if (a; b) c;"},
      {"if (a, b) c;", 1075, "ステートメント不正 'if (a, b) c;"},
      {"while x;", 1080, "ステートメント不正 'while x;"},
      {"do x; until (y);", 1085, "ステートメント不正 'do  until (y);"},
      {"do x; while y;", 1085, "ステートメント不正 'do ... while y;"},
      {"for (;;) {}", 1090, "ステートメント不正 'for (;;) {}'"},
      {"for (a; b) {}", 1090, "ステートメント不正 'for (a; b) {}'"},
      {"for x in y {}", 1090, "ステートメント不正 'for x in y {}'"},
      {"for (x at y) {}", 1090, "ステートメント不正 'for (x at y) {}'"},
      {"for (var 1 in y) {}", 1090, "ステートメント不正 'for (var 1 in y) {}'"},
      {"try x;", 1095, "ステートメント不正 in 'try x;'"},
      {"try {} x;", 1095, "ステートメント不正 in 'try ...  x;'"},
      {"try {} catch e {}", 1095, "ステートメント不正 in 'try ... catch e {}'"},
      {"try {} catch (1) {}", 1095, "ステートメント不正 in 'try ... catch (1) {}'"},
      {"try {} finally x;", 1095, "ステートメント不正 in 'try ... finally x;'"},
      {"throw;", 1100, "ステートメント不正 'throw;'"},
      {"throw a, b;", 1100, "ステートメント不正 'throw a, b;'"},
      {"while (a) break label;", 1105, "ステートメント不正 'break label;'"},
      {"while (a) { break }", 1105, "ステートメント不正 'break '"},
      {"while (a) continue x;", 1110, "ステートメント不正 'continue x;'"},
      {"return a, b;", 1115, "ステートメント不正 'return a, b;'"},
      {"{ a;", 1145, "ステートメント不正 '{  a;'"},
      {"switch (x) { case 1: }", 1155, "ステートメント不正 'switch (x) { case 1: }'"},
      {"switch (x) { default: y(); }", 1160, "ステートメント不正 'switch (x) { default: y(); }'"},
      {"switch x { case 1: y(); }", 1160, "ステートメント不正 'switch x { case 1: y(); }'"},
      {"switch (x) { case : y(); }", 1160, "ステートメント不正 'switch (x) { case : y(); }'"},
      {"switch (x) { case undefined: y(); }", 1160, "ステートメント不正 'switch (x) { case undefined: y(); }'"},
      {"switch (x) { case 1 y(); }", 1160, "ステートメント不正 'switch (x) { case 1 y(); }'"},
      {"select(a);", 1210, "ステートメント不正(引数の数) 'select(a);'"},
      {"selectInto(a, b);", 1210, "ステートメント不正(引数の数) 'selectInto(a, b);'"},
      {"openDb;", 1210, "ステートメント不正(引数の数) 'openDb;'"},
      {"mongo_find(1)", 1211, "ステートメント不正 'mongo_find(1)'"},
      {"x = redis_get(k);", 1211, "ステートメント不正 'x = redis_get(k);'"},
      {"eval x;", 1215, "ステートメント不正 'eval x;'"},
      {"eval(a, b);", 1220, "引数の個数不正 'eval(a, b);'"},
      {"parseInt(1, 2, 3);", 1225, "ステートメント不正 'parseInt(1, 2, 3);'"},
      {"sendToFront(1);", 1230, "ステートメント不正 'sendToFront(1);'"},
      {"alertToFront();", 1235, "ステートメント不正 'alertToFront();'"},
      {"/* never closed", 1580, "コメント不正"},
      {"/* it's */ x = 'a';", 1580, "コメント不正"},
  };
  for (const auto& c : cases) {
    frontend_fresh();
    ParseOutcome o = parse_source(c.src);
    EXPECT_EQ(o.code, c.code) << c.src << "\n" << o.text;
    EXPECT_EQ(error_detail(o.text), c.detail) << c.src;
  }
}

TEST_F(FrontendStmt, ErrorLines) {
  struct Case {
    const char* src;
    const char* prefix;
  } cases[] = {
      {"a = 1;\n\nb = 2 +;\n", "PARSE ERROR 1125 (t.js:3) : "},
      {"/* line1\nline2 */ x = 'abc", "PARSE ERROR 1010 (t.js:2) : "},
      {"x = 'a\nb\nc' + ;", "PARSE ERROR 1125 (t.js:3) : "},
      {"function f() {\n  if (a) {\n    break x;\n  }\n}", "PARSE ERROR 1105 (t.js:3) : "},
  };
  for (const auto& c : cases) {
    frontend_fresh();
    ParseOutcome o = parse_source(c.src);
    EXPECT_EQ(o.text.rfind(c.prefix, 0), 0u) << c.src << "\n" << o.text;
  }
}

// Module files: the second module's error names it; files without a final line feed, empty
// files and missing files.
class FrontendModules : public FrontendStmt {
 protected:
  std::string dir;
  void SetUp() override {
    FrontendStmt::SetUp();
    char tmpl[] = "/tmp/frontend_modules_XXXXXX";
    dir = mkdtemp(tmpl);
  }
  void TearDown() override {
    std::string cmd = "rm -rf " + dir;
    EXPECT_EQ(std::system(cmd.c_str()), 0);
  }
  std::string write(const char* name, const std::string& text) {
    std::string path = dir + "/" + name;
    FILE* f = std::fopen(path.c_str(), "wb");
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
    return path;
  }
};

static const char* module_path_arg;
static int module_index_arg;
static StatementList module_list;
static void load_one() { load_module_source(module_path_arg, module_index_arg, &module_list); }

TEST_F(FrontendModules, LoadAndErrors) {
  module_add("b.js", 4);
  std::string a = write("a.js", "var x = 1;\r\nfunction f() { return x; }\r\n");
  std::string b = write("b.js", "x = 2;\n\n\ny = (;");
  std::string empty = write("empty.js", "");
  std::string nolf = write("nolf.js", "z = 3 // end");
  module_list = StatementList{nullptr, 0, 0, false};
  module_path_arg = a.c_str();
  module_index_arg = 0;
  ASSERT_EQ(run_catching(load_one), 0) << message_buffer;
  EXPECT_EQ(module_list.count, 2u);
  EXPECT_EQ(node_module(module_list.items[0]), 0u);
  EXPECT_EQ(dw_rec(module_list.items[0])[0] >> 4, 1);   // one reference from the list
  module_path_arg = empty.c_str();
  ASSERT_EQ(run_catching(load_one), 0);
  module_path_arg = nolf.c_str();
  ASSERT_EQ(run_catching(load_one), 0);
  EXPECT_STREQ(tree_dump_list(module_list.items, module_list.count, false),
               "VAR(ASSIGN(x,1));ASSIGN(f,FUNCTION(|)BLOCK(RETURN(x)));ASSIGN(z,3)");
  module_path_arg = b.c_str();
  module_index_arg = 1;
  ASSERT_EQ(run_catching(load_one), 1130);
  EXPECT_EQ(std::string(message_buffer).rfind("PARSE ERROR 1130 (b.js:4) : ", 0), 0u) << message_buffer;
  EXPECT_EQ(module_list.count, 4u);
  // The same name in two modules is the same index.
  EXPECT_EQ(node_arg(module_list.items[3], 0), node_arg(node_arg(module_list.items[0], 0), 0));
  std::string missing = dir + "/missing.js";
  module_path_arg = missing.c_str();
  ASSERT_EQ(run_catching(load_one), 1165);
  EXPECT_EQ(error_detail(message_buffer), "ファイルオープン不正 '" + missing + "'");
  module_path_arg = dir.c_str();
  EXPECT_EQ(run_catching(load_one), 1165);
}

TEST_F(FrontendStmt, RunTimeStatements) {
  // record_map / debugger text: statements with one reference each; a function literal at the
  // end is reported.
  static std::string reported;
  parser_report_hook = [](const char* m) { reported = m; };
  char text[] = "var q = 1; x = function () {}";
  StatementList list = {nullptr, 0, 0, false};
  parse_statement_text(text, PARSE_NO_STOP | PARSE_REPORT_FUNCTIONS, &list);
  parser_report_hook = nullptr;
  ASSERT_EQ(list.count, 2u);
  EXPECT_EQ(reported, "評価する式が不正 'var q = 1; x = function () {}'");
  EXPECT_TRUE(node_no_stop(list.items[0]));
  EXPECT_EQ(dw_rec(list.items[1])[0] >> 4, 1);
}

}  // namespace
