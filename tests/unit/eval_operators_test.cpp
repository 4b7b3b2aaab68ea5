// Operators: the number and text rules of the system's own types, comparisons, bitwise and shift
// operators, assignment through locations, increment and decrement, and the URI functions.
#include <gtest/gtest.h>

#include "tests/unit/eval_testutil.h"

struct ExprCase {
  const char* expr;   // printed with console.log
  const char* text;   // expected console text ("" when an error is expected)
  const char* error;  // expected error code, or ""
};

static void run_table(const ExprCase* cases, size_t n) {
  for (size_t i = 0; i < n; i++) {
    std::string src = std::string("console.log(") + cases[i].expr + ");";
    ScriptResult r = run_script(src.c_str());
    EXPECT_EQ(error_code_of(r), cases[i].error) << cases[i].expr << "\n" << r.error;
    if (!*cases[i].error) {
      EXPECT_EQ(r.log, std::string(cases[i].text) + "\n") << cases[i].expr;
    }
  }
}

TEST(EvalOperators, Arithmetic) {
  static const ExprCase cases[] = {
      {"2147483647 + 1", "-2147483648", ""},
      {"2147483647 + 1.0", "2147483648.0", ""},
      {"7 / 2", "3", ""},
      {"-7 / 2", "-3", ""},
      {"-7 % 2", "1", ""},
      {"7 % -2", "-1", ""},
      {"5 % 0", "0", ""},
      {"2 ** -1", "0", ""},
      {"2 ** 10", "1024", ""},
      {"\"3\" * \"4\"", "12", ""},
      {"\"1.0\" * 2", "2.0", ""},
      {"\"5\" - 1", "4", ""},
      {"1 / 0", "", "2330"},
      {"1.5 / 0.0", "", "2330"},
      {"1 / -0.0", "", "2330"},
      {"\"x\" - 1", "", "2305"},
      {"null - 1", "", "2310"},
      {"10 - 2 - 3", "5", ""},
      {"2 * 3 * 0.5", "3.0", ""},
      {"65536 * 65536", "0", ""},
      {"-2147483648 / -1", "-2147483648", ""},
      {"(1 + 2) * (3 + 4)", "21", ""},
      {"0.1 + 0.2", "0.3", ""},
      {"1e20 * 1.0", "100000000000000000000.0", ""},
  };
  run_table(cases, std::size(cases));
}

TEST(EvalOperators, Addition) {
  static const ExprCase cases[] = {
      {"\"5\" + 1", "\"51\"", ""},
      {"1 + \"5\"", "\"15\"", ""},
      {"1.5 + \"x\"", "\"1.5x\"", ""},
      {"2.0 + \"\"", "\"2.0\"", ""},
      {"\"a\" + null", "\"anull\"", ""},
      {"true + true", "\"truetrue\"", ""},
      {"undefined + \"\"", "\"undefined\"", ""},
      {"1 + 2 + \"3\" + 4", "\"334\"", ""},
      {"null + 1", "", "2240"},
      {"[] + \"a\"", "", "2240"},
      {"\"a\" + {}", "", "2240"},
  };
  run_table(cases, std::size(cases));
}

TEST(EvalOperators, Comparisons) {
  static const ExprCase cases[] = {
      {"1 === 1.0", "false", ""},
      {"1 == 1.0", "true", ""},
      {"\"10\" < \"9\"", "true", ""},
      {"\"10\" < 9", "false", ""},
      {"\"2\" == 2", "true", ""},
      {"\" 2\\t\" == 2", "true", ""},
      {"\"abc\" == 0", "false", ""},
      {"\"abc\" != 0", "true", ""},
      {"null == undefined", "false", ""},
      {"null == null", "true", ""},
      {"NaN === NaN", "true", ""},
      {"[] == []", "false", ""},
      {"0.0 / 1 !== 0", "true", ""},
      {"\"a\" === \"a\"", "true", ""},
      {"2 >= 2.0", "true", ""},
      {"\"b\" > \"a\"", "true", ""},
  };
  run_table(cases, std::size(cases));
}

TEST(EvalOperators, TruthAndLogic) {
  static const ExprCase cases[] = {
      {"[] ? 1 : 2", "2", ""},
      {"{} ? 1 : 2", "2", ""},
      {"[0] ? 1 : 2", "1", ""},
      {"\"\" ? 1 : 2", "2", ""},
      {"-0.0 ? 1 : 2", "2", ""},
      {"0 || \"a\"", "true", ""},
      {"1 && \"a\"", "true", ""},
      {"1 && 0 && x", "false", ""},
      {"!NaN", "true", ""},
      {"!\"\"", "true", ""},
  };
  run_table(cases, std::size(cases));
}

TEST(EvalOperators, BitwiseAndShifts) {
  static const ExprCase cases[] = {
      {"6 & 3", "2", ""},
      {"6 | 3 | 8", "15", ""},
      {"6 ^ 3", "5", ""},
      {"~5", "-6", ""},
      {"1 << 33", "2", ""},
      {"-8 >> 1", "-4", ""},
      {"-1 >>> 0", "-1", ""},
      {"-1 >>> 28", "15", ""},
      {"5 >>> 32", "0", ""},
      {"1.0 & 1", "", "2257"},
      {"1 & 1.0", "", "2260"},
      {"~1.5", "", "2280"},
      {"1.0 << 1", "", "2265"},
      {"1 << \"1\"", "", "2270"},
      {"1 << -1", "", "2275"},
  };
  run_table(cases, std::size(cases));
}

TEST(EvalOperators, TypeofAndInstanceof) {
  static const ExprCase cases[] = {
      {"typeof null", "\"object\"", ""},
      {"typeof NaN", "\"symbol\"", ""},
      {"typeof undefined", "\"undefined\"", ""},
      {"typeof 1.5", "\"number\"", ""},
      {"typeof \"\"", "\"string\"", ""},
      {"typeof []", "\"object\"", ""},
      {"typeof function () {}", "\"function\"", ""},
      {"1 instanceof Number", "true", ""},
      {"\"a\" instanceof String", "true", ""},
      {"[] instanceof Array", "true", ""},
      {"{} instanceof Hash", "true", ""},
      {"5 instanceof Object", "true", ""},
      {"{} instanceof Array", "false", ""},
  };
  run_table(cases, std::size(cases));
}

TEST(EvalOperators, UriFunctions) {
  static const ExprCase cases[] = {
      {"encodeURIComponent(\"a b/é\")", "\"a%20b%2F%C3%A9\"", ""},
      {"encodeURI(\"a b/?x=1#f\")", "\"a%20b/?x=1#f\"", ""},
      {"decodeURI(\"%2F%41\")", "\"%2FA\"", ""},
      {"decodeURIComponent(\"%2F%41%e3%81%82\")", "\"/Aあ\"", ""},
      {"decodeURIComponent(\"ab%4\")", "\"ab%4\"", ""},
      {"decodeURIComponent(\"%zz1\")", "", "1510"},
      {"decodeURI(1)", "", "2340"},
      {"encodeURI(null)", "", "2345"},
  };
  run_table(cases, std::size(cases));
}

struct SourceCase {
  const char* src;
  const char* log;
  const char* error;
};

static void run_sources(const SourceCase* cases, size_t n) {
  for (size_t i = 0; i < n; i++) {
    ScriptResult r = run_script(cases[i].src);
    EXPECT_EQ(error_code_of(r), cases[i].error) << cases[i].src << "\n" << r.error;
    EXPECT_EQ(r.log, cases[i].log) << cases[i].src;
  }
}

TEST(EvalOperators, AssignmentAndSteps) {
  static const SourceCase cases[] = {
      {"var a = 1; var b = a++; console.log(a, b);", "21\n", ""},
      {"var a = 1; var b = ++a; console.log(a, b);", "22\n", ""},
      {"var a = 1.5; a--; --a; console.log(a);", "-0.5\n", ""},
      {"var a = 2147483647; a++; console.log(a);", "-2147483648\n", ""},
      {"x++;", "", "2205"},
      {"++x;", "", "2215"},
      {"x--;", "", "2225"},
      {"--x;", "", "2235"},
      {"var s = \"a\"; s++;", "", "2205"},
      {"function f() { const c = 1; c++; } f();", "", "2200"},
      {"function f() { const c = 1; ++c; } f();", "", "2210"},
      {"function f() { const c = 1; c = 2; } f();", "", "2320"},
      {"function f() { const c = 1; c += 2; } f();", "", "2245"},
      {"function f() { const c = 1; c -= 2; } f();", "", "2315"},
      {"function f() { const c = 1; c |= 2; } f();", "", "2290"},
      {"var s = \"ab\"; s += 1; s += 2.5; s += \"c\"; console.log(s);", "\"ab12.5c\"\n", ""},
      {"var n = 1; n += 2.5; console.log(n);", "3.5\n", ""},
      {"var n = 1; n += \"x\"; console.log(n);", "\"1x\"\n", ""},
      {"var n = null; n += 1;", "", "2255"},
      {"var n = 10; n -= 3; n *= 2; n /= 4; n %= 2; console.log(n);", "1\n", ""},
      {"var n = 10; n /= 0;", "", "2330"},
      {"var n = 10; n /= 4.0; console.log(n);", "2.5\n", ""},
      {"var n = 12; n &= 10; n |= 1; n ^= 3; console.log(n);", "10\n", ""},
      {"var n = 1.0; n &= 1;", "", "2295"},
      {"var n = 1; n &= 1.0;", "", "2285"},
      {"var a = b = 3; console.log(a, b);", "33\n", ""},
      {"function f() { return 1; } f() = 3; console.log(f());", "1\n", ""},
      {"console.log(u); u = 2; console.log(u);", "undefined\n2\n", ""},
      // A value held by two variables is never changed through one of them.
      {"var a = 5000; var b = a; a++; a += 1; a = a * 2; console.log(a, b);", "100045000\n", ""},
      {"var s = \"x\"; var t = s; s += \"y\"; console.log(s, t);", "\"xy\"\"x\"\n", ""},
      // s = s + ...: the same text whether s is extended in place or not.
      {"var s = 'a'; s = s + 1 + 2.5 + null + 'b'; var t = s; s = s + '!'; console.log(s, t);",
       "\"a12.5nullb!\"\"a12.5nullb\"\n", ""},
      {"var s = 'a'; s = s + (s = 'x') + s; console.log(s);", "\"axx\"\n", ""},
      {"var s = 'a'; try { s = s + 'b' + [1]; } catch (e) { console.log(e.name, s); }", "\"2240\"\"a\"\n", ""},
      {"var s = ''; for (var i = 0; i < 300; i++) s = s + i % 10; console.log(s.length);", "300\n", ""},
      // The old value of x++ is kept for the expression that reads it.
      {"var i = 7000; var j = i++ + i; console.log(j);", "14001\n", ""},
      {"var i = 7000; var k = [i, i++]; console.log(k, i);", "[7000,7000]7001\n", ""},
      {"var id = 7000; function next() { id++; return id; } var v = id + next(); console.log(v);",
       "14001\n", ""},
  };
  run_sources(cases, std::size(cases));
}
