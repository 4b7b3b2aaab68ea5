// Expression parser: tree shapes of source snippets, parse errors with their texts, and the
// fixed limits of token lists, argument lists and n-ary runs.
#include <gtest/gtest.h>

#include <string>

#include "frontend_test_util.h"

namespace {

struct ShapeCase {
  const char* src;
  const char* tree;
};

class FrontendExpr : public ::testing::Test {
 protected:
  void SetUp() override { frontend_fresh(); }
};

TEST_F(FrontendExpr, Shapes) {
  static const ShapeCase cases[] = {
      // n-ary runs and precedence
      {"a + b + c", "ADD(a,b,c)"},
      {"a + b - c", "SUB(ADD(a,b),c)"},
      {"a - b + c", "ADD(SUB(a,b),c)"},
      {"a * b * c / d", "DIV(MUL(a,b,c),d)"},
      {"a + b * c - d % e", "SUB(ADD(a,MUL(b,c)),MOD(d,e))"},
      {"a && b && c || d", "OR(AND(a,b,c),d)"},
      {"a & b | c ^ d", "BIT_OR(BIT_AND(a,b),BIT_XOR(c,d))"},
      {"a << 1 >> 2 >>> 3", "USHR(SHR(SHL(a,1),2),3)"},
      {"a < b == c >= d", "EQ(LT(a,b),GE(c,d))"},
      {"a === b !== c != d", "NE(STRICT_NE(STRICT_EQ(a,b),c),d)"},
      {"2 ** 3 ** 2", "POW(2,POW(3,2))"},
      {"a = b = c", "ASSIGN(a,ASSIGN(b,c))"},
      {"a += b -= 1", "ADD_ASSIGN(a,SUB_ASSIGN(b,1))"},
      {"a *= 2; a /= 2; a %= 2; a &= 2; a |= 2; a ^= 2",
       "MUL_ASSIGN(a,2);DIV_ASSIGN(a,2);MOD_ASSIGN(a,2);AND_ASSIGN(a,2);OR_ASSIGN(a,2);XOR_ASSIGN(a,2)"},
      // conditional grouping to the right
      {"a ? b : c ? d : e", "COND(a,b,COND(c,d,e))"},
      {"a ? b ? c : d : e", "COND(a,COND(b,c,d),e)"},
      {"x = a > 1 ? a + 1 : b || c", "ASSIGN(x,COND(GT(a,1),ADD(a,1),OR(b,c)))"},
      // unary and postfix
      {"!typeof x", "NOT(TYPEOF(x))"},
      {"~!a", "BIT_NOT(NOT(a))"},
      {"x++ + ++y", "ADD(POST_INC(x),PRE_INC(y))"},
      {"a+++b", "ADD(POST_INC(a),b)"},
      {"--x - y--", "SUB(PRE_DEC(x),POST_DEC(y))"},
      {"x instanceof Array && y", "AND(INSTANCEOF(x,Array),y)"},
      // numbers and signs
      {"x = -5", "ASSIGN(x,-5)"},
      {"x = a -5", "ASSIGN(x,SUB(a,5))"},
      {"a - -1", "SUB(a,-1)"},
      {"f(+2)", "CALL(f,[2])"},
      {"x = .5 + 1.5e2 + 1. + 0x1F", "ASSIGN(x,ADD(0.5,150.0,1.0,31))"},
      {"x = 2147483647 + -2147483648 + 3000000000", "ASSIGN(x,ADD(2147483647,-2147483648,3000000000.0))"},
      // strings
      {"x = 'a\\'b' + \"c\\td\\n\" + 'q\\x'", "ASSIGN(x,ADD(\"a'b\",\"c\\td\\n\",\"qx\"))"},
      {"x = `a\\nb\\`c`", "ASSIGN(x,`a\\\\nb`c`)"},
      {"x = 'line1\r\nline2'", "ASSIGN(x,\"line1\\nline2\")"},
      // calls, members, indexes
      {"f(1, 2)(3)", "CALL(CALL(f,[1,2]),[3])"},
      {"f()", "CALL(f,[])"},
      {"a.b.c(d)[e]", "INDEX(CALL(MEMBER(MEMBER(a,b),c),[d]),e)"},
      {"a.select(1) + a.for + a.new + a.typeof", "ADD(CALL(MEMBER(a,select),[1]),MEMBER(a,for),MEMBER(a,new),MEMBER(a,typeof))"},
      {"select2 + selectx", "ADD(select2,selectx)"},
      {"f(g(h(1)))", "CALL(f,[CALL(g,[CALL(h,[1])])])"},
      {"(a, b)", "GROUP(a,b)"},
      {"(a + b) * c", "MUL(GROUP(ADD(a,b)),c)"},
      {"()", "GROUP()"},
      // new and the built-in constructors
      {"new Date", "NEW(Date,[])"},
      {"new Foo(1, 2).x", "MEMBER(NEW(Foo,[1,2]),x)"},
      {"new Foo(1)(2)", "CALL(NEW(Foo,[1]),[2])"},
      {"x = new Error('e') + new Hash(1, 2, 3, 4, 5, 6, 7, 8, 9)",
       "ASSIGN(x,ADD(NEW(Error,[\"e\"]),NEW(Hash,[1,2,3,4,5,6,7,8,9])))"},
      {"Array", "ARRAY()"},
      {"Array(1, 2)", "ARRAY(1,2)"},
      {"Integer('5') + Float(2) + Error('e') + Exception('e', 2) + RegExp('a', 'g')",
       "ADD(INTEGER(\"5\"),FLOAT(2),ERROR(\"e\"),EXCEPTION(\"e\",2),REGEXP(\"a\",\"g\"))"},
      {"Number(1) + String(2) + Date(3) + Hash()", "ADD(CALL(Number,[1]),CALL(String,[2]),CALL(Date,[3]),CALL(Hash,[]))"},
      {"Math.max(1)", "CALL(MEMBER(Math,max),[1])"},
      // literals and reserved constants
      {"x = [1, 2, ]", "ASSIGN(x,[1,2])"},
      {"x = []", "ASSIGN(x,[])"},
      {"x = [[1], [a + 1, 'b']]", "ASSIGN(x,[[1],[ADD(a,1),\"b\"]])"},
      {"y = {\"a\": 1, b: 2}", "ASSIGN(y,{a:1,b:2})"},
      {"y = {a: {b: [1]}, a: f(x),}", "ASSIGN(y,{a:{b:[1]},a:CALL(f,[x])})"},
      {"y = {}", "ASSIGN(y,{})"},
      {"x = [undefined, true, false, null, NaN, this]", "ASSIGN(x,[undefined,true,false,null,NaN,this])"},
      {"x = a / b / c", "ASSIGN(x,DIV(a,b,c))"},
      {"x = /ab+c/g", "ASSIGN(x,REGEXP)"},
      // comma lists and statement functions inside expressions
      {"var a = 1, b = 2", "VAR(ASSIGN(a,1),ASSIGN(b,2))"},
      {"x = select(a, b) + parseInt(s)", "ASSIGN(x,ADD(SELECT(a,b),PARSE_INT(s)))"},
      {"x = function (a) { return a; }", "ASSIGN(x,FUNCTION(a|)BLOCK(RETURN(a)))"},
      {"f(1, function () { g(); })", "CALL(f,[1,FUNCTION(|)BLOCK(CALL(g,[]))])"},
  };
  for (const auto& c : cases) {
    frontend_fresh();
    ParseOutcome o = parse_source(c.src);
    EXPECT_EQ(o.code, 0) << c.src << "\n" << o.text;
    EXPECT_EQ(o.text, c.tree) << c.src;
  }
}

// "a.b" needs a value: the constants parse to the type-0 handles 0 to 4 and a name of the
// program to an index above the reserved names.
TEST_F(FrontendExpr, ConstantsAndNamesAreTypeZeroHandles) {
  ParseOutcome o = parse_source("undefined; true; false; null; NaN; something");
  ASSERT_EQ(o.code, 0) << o.text;
  const DW* s = frontend_test::parsed.items;
  EXPECT_EQ(s[0], DW_UNDEFINED);
  EXPECT_EQ(s[1], DW_TRUE);
  EXPECT_EQ(s[2], DW_FALSE);
  EXPECT_EQ(s[3], DW_NULL);
  EXPECT_EQ(s[4], DW_NAN);
  EXPECT_EQ(dw_type(s[5]), T_CONST);
  EXPECT_GE(s[5], NAME_RESERVED_COUNT);
  EXPECT_STREQ(name_text(s[5]), "something");
}

TEST_F(FrontendExpr, LiteralValues) {
  ParseOutcome o = parse_source("x = `t${a}`; y = 'p'; z = 7; w = 2.5");
  ASSERT_EQ(o.code, 0) << o.text;
  const DW* s = frontend_test::parsed.items;
  DW tmpl = node_arg(s[0], 1), plain = node_arg(s[1], 1), i = node_arg(s[2], 1), f = node_arg(s[3], 1);
  ASSERT_EQ(dw_type(tmpl), T_STRING);
  EXPECT_EQ(str_rec(tmpl)->flags, STR_TEMPLATE);
  EXPECT_STREQ(str_text(tmpl), "t${a}");
  EXPECT_EQ(str_rec(plain)->flags, 0);
  EXPECT_EQ(dw_type(i), T_INT);
  EXPECT_EQ(dw_type(f), T_FLOAT);
  // An array literal holds its element trees with one reference each.
  o = parse_source("x = [a + 1, 'b']");
  ASSERT_EQ(o.code, 0);
  DW arr = node_arg(frontend_test::parsed.items[0], 1);
  const ArrRec* ar = reinterpret_cast<ArrRec*>(dw_rec(arr));
  EXPECT_EQ(ar->count, 2u);
  EXPECT_EQ(ar->cap, 12u);
  const DW* el = static_cast<DW*>(area_ptr(ar->elems));
  EXPECT_EQ(dw_rec(el[0])[0] >> 4, 1);
  EXPECT_EQ(dw_rec(el[1])[0] >> 4, 1);
  // Object literal pairs: key name index and value tree, one reference on the value.
  o = parse_source("x = {k: 'v', 'k': 1}");
  ASSERT_EQ(o.code, 0);
  DW obj = node_arg(frontend_test::parsed.items[0], 1);
  const ObjRec* orr = reinterpret_cast<ObjRec*>(dw_rec(obj));
  ASSERT_EQ(orr->count, 2);
  const DW* pairs = static_cast<DW*>(area_ptr(orr->pairs));
  EXPECT_EQ(pairs[0], pairs[2]);   // duplicate keys are kept
  EXPECT_STREQ(name_text(pairs[0]), "k");
  EXPECT_EQ(dw_rec(pairs[1])[0] >> 4, 1);
}

TEST_F(FrontendExpr, PositionsOfOperatorTokens) {
  ParseOutcome o = parse_source("var a = 1;\n  b = a +\n c(d);\n/* x\ny */ z = (2)", true);
  ASSERT_EQ(o.code, 0) << o.text;
  EXPECT_EQ(o.text,
            "VAR@1:0(ASSIGN@1:6(a,1));ASSIGN@2:5(b,ADD@2:9(a,CALL@3:3(c,[d])));"
            "ASSIGN@5:8(z,GROUP@0:0(2))");
  // new: the node has the position of the keyword; constructors that of their name.
  o = parse_source("x = new Foo;\ny = Integer(1)", true);
  ASSERT_EQ(o.code, 0) << o.text;
  EXPECT_EQ(o.text, "ASSIGN@1:2(x,NEW@1:4(Foo,[]));ASSIGN@2:3(y,INTEGER@2:5(1))");
}

struct ErrorCase {
  const char* src;
  int code;
  const char* detail;   // the text after "PARSE ERROR n (t.js:line) : "
};

TEST_F(FrontendExpr, Errors) {
  static const ErrorCase cases[] = {
      {"a +", 1125, "フォーマット不正 'a +'"},
      {"-a", 1125, "フォーマット不正 '-a'"},
      {"a ? b", 1125, "フォーマット不正 'a ? b'"},
      {"a = 1 ? 2 : 3 : 4", 1125, "フォーマット不正 'a = 1 ? 2 : 3 : 4'"},
      {"x => 1", 1125, "フォーマット不正 'x => 1'"},
      {"a <<= 1", 1125, "フォーマット不正 'a <<= 1'"},
      {"a ?. b", 1405, "数字のフォーマット不正 ' b'"},
      {"a * * b", 1125, "フォーマット不正 'a * * b'"},
      {"$x", 1015, "ステートメント不正($x)"},
      {"a # b", 1015, "ステートメント不正(a # b)"},
      {"a @ b", 1015, "ステートメント不正(a @ b)"},
      {"x = 1)", 1015, "ステートメント不正(x = 1))"},
      {"x = \xe3\x81\x82", 1015, "ステートメント不正(x = \xe3\x81\x82)"},
      {"x = \\", 1015, "ステートメント不正(x = \\)"},
      {"x instanceof 5", 1015, "ステートメント不正(x instanceof 5)"},
      {"new 5", 1015, "ステートメント不正(new 5)"},
      {"new a.b()", 1015, "ステートメント不正(new a.b())"},
      {"Array.isArray(x)", 1015, "ステートメント不正(Array.isArray(x))"},
      {"a[1, 2]", 1015, "ステートメント不正(a[1, 2])"},
      {"a[]", 1015, "ステートメント不正(a[])"},
      {"new Error()", 1020, "引数の個数不正 'new Error()'"},
      {"Error", 1020, "引数の個数不正 'Error'"},
      {"Integer(1, 2)", 1020, "引数の個数不正 'Integer(1, 2)'"},
      {"new Date(1, 2, 3, 4, 5, 6, 7, 8)", 1020, "引数の個数不正 'new Date(1, 2, 3, 4, 5, 6, 7, 8)'"},
      {"x = [1,,2]", 1070, "JSON文字列フォーマット不正 'x = [1,,2'"},
      {"x = [1 2]", 1070, "JSON文字列フォーマット不正 'x = [1 2'"},
      {"x = [1, 2", 1070, "JSON文字列フォーマット不正 'x = [1, 2'"},
      {"x = [1; 2]", 1055, "JSON文字列不正 ';'"},
      {"x = [a +]", 1065, "JSON文字列フォーマット不正 'a +'"},
      {"x = {a 1}", 1140, "文字列のフォーマット不正 'x = {a 1'"},
      {"x = {1: 2}", 1140, "文字列のフォーマット不正 'x = {1: 2'"},
      {"x = {a: }", 1140, "文字列のフォーマット不正 'x = {a: '"},
      {"x = {a: 1", 1142, "JSON文字列のフォーマット不正 'x = {a: 1'"},
      {"x = {select: 1}", 1210, "ステートメント不正(引数の数) 'x = {select: 1'"},
      {"f(a", 1130, "ステートメント不正 (')'なし) (a"},
      {"x = a[1", 1130, "ステートメント不正 (']'なし) [1"},
      {"f(a; b)", 1135, "ステートメント不正 ('b') in (a; b"},
      {"f(function () {}, 2)", 1135, "ステートメント不正 (', 2') in (function () {}, 2"},
      {"x = 1e", 1405, "数字のフォーマット不正 ''"},
      {"x = 'abc", 1010, "JSON文字列不正"},
      {"x = 'abc\\", 1010, "JSON文字列不正"},
      {"x = function () {} + 1", 1125, "フォーマット不正 '+ 1'"},
      {"a b", 1000, "ステートメント不正 'a b'"},
      {"a = 1, b = 2", 1000, "ステートメント不正 'a = 1, b = 2'"},
  };
  for (const auto& c : cases) {
    frontend_fresh();
    ParseOutcome o = parse_source(c.src);
    EXPECT_EQ(o.code, c.code) << c.src << "\n" << o.text;
    EXPECT_EQ(error_detail(o.text), c.detail) << c.src;
    EXPECT_EQ(o.text.rfind("PARSE ERROR " + std::to_string(c.code) + " (t.js:1) : ", 0), 0u) << o.text;
  }
}

// "a+a+...": n tokens in one list.
static std::string run_of(int operands, const char* op = "+") {
  std::string s = "a";
  for (int i = 1; i < operands; i++) s += std::string(op) + "a";
  return s;
}

TEST_F(FrontendExpr, TokenLimit) {
  // 512 operands and 511 operators: 1023 tokens, one OP_ADD node with 512 arguments whose count
  // is kept in word 2 and whose position survives.
  ParseOutcome o = parse_source(run_of(512));
  ASSERT_EQ(o.code, 0) << o.text.substr(0, 200);
  DW add = frontend_test::parsed.items[0];
  EXPECT_EQ(node_op(add), OP_ADD);
  EXPECT_EQ(node_rec(add)->argc, NODE_COUNT_ESCAPE);
  EXPECT_EQ(node_argc(add), 512u);
  EXPECT_EQ(node_position(add), make_position(1, 1));
  for (uint32_t i = 0; i < 512; i++) EXPECT_STREQ(name_text(node_arg(add, i)), "a");
  // 1024 tokens.
  o = parse_source(run_of(512) + "+");
  EXPECT_EQ(o.code, 1120);
  EXPECT_EQ(error_detail(o.text).rfind("ステートメントの演算子不正 'a+a+a", 0), 0u);
  // 1023 tokens of an element inside a literal parse; 1024 are 1060.
  o = parse_source("x = [" + run_of(512) + "]");
  EXPECT_EQ(o.code, 0);
  o = parse_source("x = [" + run_of(512) + "+]");
  EXPECT_EQ(o.code, 1060);
  // A run of 300 operands keeps its operands in order.
  o = parse_source(run_of(300, "*"));
  ASSERT_EQ(o.code, 0);
  EXPECT_EQ(node_argc(frontend_test::parsed.items[0]), 300u);
}

TEST_F(FrontendExpr, ArgumentLimit) {
  std::string args = "0";
  for (int i = 1; i < 255; i++) args += "," + std::to_string(i);
  ParseOutcome o = parse_source("f(" + args + ")");
  ASSERT_EQ(o.code, 0);
  DW call = frontend_test::parsed.items[0];
  DW list = node_arg(call, 1);
  ASSERT_EQ(arglist_count(list), 255u);
  EXPECT_EQ(reinterpret_cast<IntRec*>(dw_rec(arglist_args(list)[254]))->value, 254);
  o = parse_source("f(" + args + ",255)");
  EXPECT_EQ(o.code, 1123);
  EXPECT_EQ(error_detail(o.text).rfind("引数の数不正 '0,1,2,", 0), 0u);
  o = parse_source("x = Array(" + args + ")");
  EXPECT_EQ(o.code, 0);
  EXPECT_EQ(node_argc(node_arg(frontend_test::parsed.items[0], 1)), 255u);
  // An expression statement holds at most 17 expressions.
  o = parse_source("a,b,c,d,e,f,g,h,i,j,k,l,m,n,o,p,q,r");
  EXPECT_EQ(o.code, 1123);
}

TEST_F(FrontendExpr, DeepNestingIsANumberedError) {
  for (const char* open : {"(", "[", "f(", "{a:"}) {
    std::string s = "x = ";
    for (int i = 0; i < 100; i++) s += open;
    s += "1";
    for (int i = 0; i < 100; i++) s += std::string(open).back() == '(' ? ")" : std::string(open) == "[" ? "]" : "}";
    ParseOutcome o = parse_source(s);
    EXPECT_EQ(o.code, 0) << open << " " << o.text.substr(0, 200);
    std::string deep = "x = ";
    for (int i = 0; i < 5000; i++) deep += open;
    o = parse_source(deep);
    EXPECT_GT(o.code, 0) << open;
    deep += "1";
    for (int i = 0; i < 5000; i++) deep += std::string(open).back() == '(' ? ")" : std::string(open) == "[" ? "]" : "}";
    o = parse_source(deep);
    EXPECT_EQ(o.code, 1120) << open;
  }
}

TEST_F(FrontendExpr, RunTimeText) {
  // eval-style text: a list of expressions, each with a reference, nodes marked no-stop.
  char text[] = "a = 1, f(2)";
  DW out[8];
  parse_line = 7;
  uint32_t n = parse_expression_text(text, PARSE_NO_STOP, out, 8);
  ASSERT_EQ(n, 2u);
  EXPECT_STREQ(tree_dump_list(out, n, true), "ASSIGN@0:2(a,1);CALL@0:8(f,[2])");
  EXPECT_TRUE(node_no_stop(out[0]));
  EXPECT_TRUE(node_no_stop(out[1]));
  EXPECT_EQ(dw_rec(out[0])[0] >> 4, 1);
  EXPECT_STREQ(text, "a = 1, f(2)");
  EXPECT_EQ(parse_line, 7);
  EXPECT_FALSE(no_stop_mode);
  // Without the mode, stop-point opcodes are stop points.
  char text2[] = "a = 1";
  parse_expression_text(text2, 0, out, 8);
  EXPECT_FALSE(node_no_stop(out[0]));
}

// The top-function call text.
static DW top_result;
static bool top_function_seen;
static char* top_text;
static void parse_top() { top_result = parse_top_call(top_text, &top_function_seen); }

TEST_F(FrontendExpr, TopCall) {
  struct Case {
    const char* text;
    int code;
    const char* tree;
  } cases[] = {
      {"main(1, 'a'); ignored", 0, "CALL(main,[1,\"a\"])"},
      {"obj.run() /* c */", 0, "CALL(MEMBER(obj,run),[])"},
      {"main(a+a+a+a+a+a+a+a+a+a+a+a+a+a+a+a+a+a+a+a)", 0, "CALL(main,[ADD(a,a,a,a,a,a,a,a,a,a,a,a,a,a,a,a,a,a,a,a)])"},
      {"main(1)+a+a+a+a+a+a+a+a+a+a+a+a+a+a", 1725, nullptr},      // 31 tokens
      {"main(1)+a+a+a+a+a+a+a+a+a+a+a+a+a+a+a", 1720, nullptr},    // 33 tokens
      {"main(1) +", 1730, nullptr},
      {"x = 1", 1725, nullptr},
      {"f(), g()", 1725, nullptr},
  };
  for (const auto& c : cases) {
    frontend_fresh();
    std::string t = c.text;
    top_text = t.data();
    int code = run_catching(parse_top);
    EXPECT_EQ(code, c.code) << c.text << " " << message_buffer;
    if (c.tree) {
      EXPECT_STREQ(tree_dump(top_result, false), c.tree);
      EXPECT_TRUE(node_no_stop(top_result));
      EXPECT_FALSE(top_function_seen);
    }
  }
}

}  // namespace
