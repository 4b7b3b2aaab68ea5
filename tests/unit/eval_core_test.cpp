// Evaluation core: variables and scopes, declarations, literals, template strings, calls of
// script functions, the static objects' dispatch and errors, method receivers.
#include <gtest/gtest.h>

#include "eval/compiled.h"
#include "tests/unit/eval_testutil.h"

TEST(EvalCore, VariablesAndScopes) {
  static const ScriptCase cases[] = {
      {"reading an undeclared name makes a global",
       "console.log(u); u = 2; console.log(u); function f() { return u; } console.log(f());", "undefined\n2\n2\n", ""},
      {"a local hides the global; a caller's local is invisible",
       "var x = 'g'; function inner() { return x; } function outer() { var x = 'l'; return x + inner(); }"
       "console.log(outer());",
       "\"lg\"\n", ""},
      {"var at top level inside a block is global",
       "if (true) { var v = 1; } console.log(v);", "1\n", ""},
      {"var redeclared keeps one slot",
       "var a = 1; var a; console.log(a); function f() { var b = 1; var b = 2; return b; } console.log(f());",
       "undefined\n2\n", ""},
      {"let at top level", "let x = 1;", "", "2045"},
      {"let inside a top-level block", "{ let x = 1; console.log(x); } console.log(typeof x);",
       "1\n\"undefined\"\n", ""},
      {"block scope ends with its block",
       "function f() { var r = ''; { let a = 1; r += a; } r += typeof a; return r; } console.log(f());",
       "\"1undefined\"\n", ""},
      {"this in a plain call is an ordinary name",
       "function f() { return this; } console.log(f());", "undefined\n", ""},
  };
  run_scripts(cases, std::size(cases));
}

// Names found again after the slots that held them went, were hidden or moved: the innermost
// slot of the running call always wins, whatever was found for the name before. Both ways.
TEST(EvalCore, NamesResolveToTheInnermostSlotEveryTime) {
  static const ScriptCase cases[] = {
      {"a let hides a var in a nested block and the var is seen again after it",
       "function f() { var x = 1, r = ''; for (var i = 0; i < 2; i++) { r += x; { let x = 5; r += x; { let x = 7; r += x; } r += x; } r += x; }"
       " return r; } console.log(f());",
       "\"1575115751\"\n", ""},
      {"a catch parameter hides a var of the same name only inside the catch",
       "function f() { var e = 'v', r = ''; for (var i = 0; i < 2; i++) { try { r += e; throw 'c' + i; } catch (e) { r += e; } r += e; }"
       " return r; } console.log(f());",
       "\"vc0vvc1v\"\n", ""},
      {"callers and callees with the same names read their own slots",
       "function g(a, b) { var x = a * 10; return x + b; } function f(x, a) { var b = g(a, x); return [x, a, b]; }"
       "function h(n) { var x = n; if (n > 0) h(n - 1); return x; } console.log(f(1, 2), g(3, 4), f(5, 6), h(3));",
       "[1,2,21]34[5,6,65]3\n", ""},
      {"a default value reads the caller's name while the parameter slots are unnamed",
       "var k = 'gk'; function f(a, b = a + k) { return b; } function g() { var k = 'lk', a = 'la'; return f(1) + f(2, a) + k; }"
       "console.log(g());",
       "\"1gklalk\"\n", ""},
      {"a global of a name a call also has as a local",
       "var t = 'g'; function f() { return t; } function g() { var t = 'l'; return f() + t; } console.log(g(), f(), g());",
       "\"gl\"\"g\"\"gl\"\n", ""},
      {"a loop started at every depth of a recursion writes its own call's variables",
       "function f(n, acc) { var s = 0; for (var i = 0; i < n; i++) s = s + i; if (n > 1) acc.push(f(n - 1, acc)); return s; }"
       "var a = []; console.log(f(5, a), a);",
       "10[0,1,3,6]\n", ""},
      {"a string key changed in place addresses its new member",
       "var o = {a: 1, ab: 2, abb: 3}; var k = 'a', r = ''; for (var i = 0; i < 3; i++) { r += o[k]; k += 'b'; } console.log(r, o[k]);",
       "\"123\"undefined\n", ""},
  };
  for (bool compiled : {true, false}) {
    compiled_enabled = compiled;
    run_scripts(cases, std::size(cases));
  }
  compiled_enabled = true;
}

TEST(EvalCore, FunctionCalls) {
  static const ScriptCase cases[] = {
      {"missing parameters are undefined; extra arguments are not evaluated",
       "var n = 0; function g() { n++; return 1; } function f(a, b) { return a + '' + b; }"
       "console.log(f(1), f(1, 2, g()), n);",
       "\"1undefined\"\"12\"0\n", ""},
      {"default values for missing and undefined arguments",
       "function f(a, b = 10) { return a + b; } console.log(f(1), f(1, undefined), f(1, 2));", "11113\n", ""},
      {"a default sees the earlier parameters only",
       "var b = 'gb'; function f(a, c = a + b, b = 5) { return c; } console.log(f('x'));", "\"xgb\"\n", ""},
      {"return; and falling off the end give undefined",
       "function f() { return; } function g() { 1; } console.log(f(), g());", "undefinedundefined\n", ""},
      {"recursion", "function fib(n) { return n < 2 ? n : fib(n - 1) + fib(n - 2); } console.log(fib(15));",
       "610\n", ""},
      {"calling a non-function read from a variable", "var x = 1; x();", "", "2155"},
      {"calling a non-function value", "(1)();", "", "2150"},
      {"a function value is a value",
       "var add = function (a, b) { return a + b; }; var h = add; console.log(h(2, 3), typeof h);",
       "5\"function\"\n", ""},
      {"member function with this",
       "var o = {n: 2, m: function (k) { this.n = this.n + k; return this.n; }}; console.log(o.m(3), o.n);",
       "55\n", ""},
      {"a returned local array outlives the call",
       "function mk() { var a = [1, 2, true]; return a; } var r = mk(); console.log(r);", "[1,2,true]\n", ""},
      {"a returned block local and a returned catch parameter outlive their scopes",
       "function f() { let a = [1, true]; return a; } function g() { try { throw [2, true]; } catch (e) { return e; } }"
       "function h() { if (true) { let b = [3, null]; { return b; } } } console.log(f(), g(), h());",
       "[1,true][2,true][3,null]\n", ""},
  };
  run_scripts(cases, std::size(cases));
  // The error message of a non-function names the variable and the type code.
  ScriptResult r = run_script("var x = 'a'; x();");
  EXPECT_EQ(r.error, "2155: EVAL ERROR 2155 (t.js:1:14) : 関数不正(x), 9");
}

TEST(EvalCore, LiteralsPersist) {
  static const ScriptCase cases[] = {
      {"a literal of plain values is one value",
       "function f() { var a = [1, 2]; a[a.length] = 3; return a.length; } f(); console.log(f());", "4\n", ""},
      {"a literal with a constant is built anew",
       "function f() { var a = [true]; a[a.length] = 3; return a.length; } f(); console.log(f());", "2\n", ""},
      {"an object literal with an expression is built anew",
       "function f(v) { var o = {x: v, y: [v]}; return o; } var p = f(1); var q = f(2); console.log(p, q);",
       "{'x':1,'y':[1]}{'x':2,'y':[2]}\n", ""},
      {"nested plain literals persist",
       "function f() { var o = {a: [1]}; o.a[o.a.length] = 0; return o.a.length; } f(); console.log(f());", "3\n", ""},
  };
  run_scripts(cases, std::size(cases));
}

TEST(EvalCore, Templates) {
  static const ScriptCase cases[] = {
      {"substitution", "var x = 'y'; console.log(`a${1+2}b${x}`);", "\"a3by\"\n", ""},
      {"several expressions: the last one counts", "console.log(`${1, 2}`);", "\"2\"\n", ""},
      {"strings are written without quotes, nested ones too", "console.log(`v=${[1, 'a']}${'b'}`);",
       "\"v=[1,a]b\"\n", ""},
      {"an escaped ${ stays as written", "console.log(`\\${x}`);", "\"\\${x}\"\n", ""},
      {"${ without }", "console.log(`a${1`);", "", "2010"},
  };
  run_scripts(cases, std::size(cases));
  std::string big = "console.log(`${" + std::string(520, ' ') + "1}`);";
  EXPECT_EQ(error_code_of(run_script(big.c_str())), "2005");
}

TEST(EvalCore, StaticObjectDispatch) {
  static const ScriptCase cases[] = {
      {"Math count", "Math.abs(1, 2);", "", "2120"},
      {"Math name", "Math.absx(1);", "", "2115"},
      {"Math minimum", "Math.max();", "", "2120"},
      {"Object too few", "Object.keys();", "", "2105"},
      {"Object with a wrong exact count", "Object.keys(1, 2);", "", "2105"},
      {"Object name", "Object.values(1);", "", "2100"},
      {"Number too few", "Number.parseInt();", "", "2130"},
      {"Number too many", "Number.parseInt('1', 2, 3);", "", "2135"},
      {"Number name", "Number.x(1);", "", "2125"},
      {"Date count", "Date.now(1);", "", "2090"},
      {"Date too many", "Date.UTC(1, 2, 3, 4, 5, 6, 7, 8);", "", "2093"},
      {"Date name", "Date.nope();", "", "2085"},
      {"String count", "String.fromCharCode();", "", "2097"},
      {"String name", "String.x(1);", "", "2095"},
      {"console name", "console.x(1);", "", "2140"},
      {"console.error", "console.error('e', 1); console.log(); console.log('');", "E:\"e\"1\n\"\"\n", ""},
      {"a variable named like a static object is still the object", "var Math = 1; Math.absx(1);", "", "2115"},
  };
  run_scripts(cases, std::size(cases));
}

TEST(EvalCore, MethodReceivers) {
  static const ScriptCase cases[] = {
      {"toString of numbers and constants",
       "var n = 5; console.log(n.toString(), (1.5).toString(), undefined.toString());",
       "\"5\"\"1.5\"\"undefined\"\n", ""},
      {"other methods of a number", "var n = 5; n.foo();", "", "2145"},
      {"a function has no methods", "var f = function () {}; console.log(f.call());", "undefined\n", ""},
      {"an error record's toString", "console.log(Error('m', 3).toString());", "\"3:m\"\n", ""},
  };
  run_scripts(cases, std::size(cases));
}

TEST(EvalCore, ErrorPositions) {
  // An error in an argument is reported at the innermost node evaluated last.
  ScriptResult r = run_script("function f(a, b) { return a; }\nf(1,\n  2 - 'x');");
  EXPECT_EQ(r.error, "2305: EVAL ERROR 2305 (t.js:3:5) : オペランド不正(非数値)");
}

TEST(EvalCore, UnusedOpcodes) {
  eval_test_reset();
  jump_depth = 0;
  running = true;
  // 100 and the token-only 140 and 146 yield undefined; 190 (Hash) and 195-228 are refused.
  struct {
    unsigned op;
    DW result;   // NO_RESULT: an error is expected
  } static const cases[] = {{100, DW_UNDEFINED}, {140, DW_UNDEFINED}, {146, DW_UNDEFINED},
                            {190, 0xFFFFFFFF},   {195, 0xFFFFFFFF},   {228, 0xFFFFFFFF}};
  for (const auto& c : cases) {
    DW node = dw_ref(make_node(c.op, 0, nullptr, 0));
    jump_depth = 0;
    int fr = jump_push(JF_TRY);
    DW got;
    if (JUMP_ARM(fr)) {
      jump_depth = 0;
      got = 0xFFFFFFFF;
      EXPECT_EQ(describe_jump(jump_code).substr(0, 4), "1860") << c.op;
    } else {
      got = eval_node(node);
      jump_depth = 0;
    }
    EXPECT_EQ(got, c.result) << c.op;
  }
  running = false;
}

TEST(EvalCore, DebuggerHookPathRunsTheSameProgram) {
  // With the link's hooks switched on (and no debugger evaluation running) every node goes
  // through the stop hook first and then through the ordinary handlers.
  eval_hooks_on = true;
  ScriptResult r = run_script("var s = 0; for (var i = 0; i < 4; i++) s += i * 2; console.log(s, `${s}`);");
  eval_hooks_on = false;
  EXPECT_EQ(r.error, "");
  EXPECT_EQ(r.log, "12\"12\"\n");
}
