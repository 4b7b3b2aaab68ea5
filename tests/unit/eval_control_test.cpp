// Statements and control flow: the jump rules of break, continue, return and throw through
// loops, switch, try/catch/finally and calls; for ... in / for ... of; Error and Exception.
#include <gtest/gtest.h>

#include "tests/unit/eval_testutil.h"

TEST(EvalControl, LoopsAndSwitch) {
  static const ScriptCase cases[] = {
      {"continue inside switch inside while",
       "var x = 1, y = 0, n = 0;"
       "while (true) { n++; switch (x) { case 1: x = 2; continue; } if (n > 5) y = 1; if (y) break; }"
       "console.log(n, x);",
       "62\n", ""},
      {"break inside switch leaves only the switch",
       "var s = ''; for (var i = 0; i < 3; i++) { switch (i) { case 1: s += 'a'; break; default: s += 'b'; } s += i; }"
       "console.log(s);",
       "\"b0a1b2\"\n", ""},
      {"fall through and default in the middle",
       "var s = ''; var k = 9; switch (k) { case 1: s += '1'; default: s += 'd'; case 2: s += '2'; }"
       "switch (2) { case 1: s += 'x'; default: s += 'D'; case 2: s += 'y'; } console.log(s);",
       "\"d2y\"\n", ""},
      {"switch compares strictly: a Float never equals an Integer",
       "var s = 'none'; switch (1.0) { case 1: s = 'int'; } switch ('a') { case 'a': s += '+str'; } console.log(s);",
       "\"none+str\"\n", ""},
      {"case values after the match are not evaluated",
       "var n = 0; function c(v) { n++; return v; } switch (2) { case c(1): case c(2): case c(3): n += 10; }"
       "console.log(n);",
       "12\n", ""},
      {"continue in for runs the update",
       "var s = ''; for (var i = 0; i < 5; i++) { if (i % 2) continue; s += i; } console.log(s);", "\"024\"\n", ""},
      {"continue in do-while goes to the condition",
       "var i = 0, s = ''; do { i++; if (i == 2) continue; s += i; } while (i < 4); console.log(s);",
       "\"134\"\n", ""},
      {"break leaves only the inner loop",
       "var s = ''; for (var i = 0; i < 3; i++) { for (var j = 0; j < 3; j++) { if (j == 1) break; s += i + '' + j; } }"
       "console.log(s);",
       "\"001020\"\n", ""},
      {"break inside a called function leaves the caller's loop",
       "function f(i) { if (i == 2) break; } var s = ''; for (var i = 0; i < 5; i++) { f(i); s += i; }"
       "console.log(s, i);",
       "\"01\"2\n", ""},
      {"the caller's scope is back after a break from a callee",
       "function f(a) { var z = 9; break; } function g() { var k = 'g'; while (true) { f(1); } return k; }"
       "console.log(g());",
       "\"g\"\n", ""},
      {"let slots of an iteration left by continue are gone",
       "var s = ''; for (var i = 0; i < 3; i++) { s += typeof t; let t = i; if (i < 5) continue; } console.log(s);",
       "\"undefinedundefinedundefined\"\n", ""},
      {"let in a for initialiser is a loop local",
       "function f() { for (let i = 0; i < 2; i++) {} return typeof i; } console.log(f());", "\"undefined\"\n", ""},
      {"return from inside nested loops",
       "function f() { for (var i = 0; i < 9; i++) { while (true) { if (i == 3) return i * 10; break; } } }"
       "console.log(f());",
       "30\n", ""},
  };
  run_scripts(cases, std::size(cases));
}

TEST(EvalControl, TryCatchFinally) {
  static const ScriptCase cases[] = {
      {"throw caught; earlier locals visible after",
       "function f() { var a = 1; var r; try { throw 5; } catch (e) { r = e; } return a + r; } console.log(f());",
       "6\n", ""},
      {"return through finally",
       "function f() { try { return 1; } finally { console.log('fin'); } } console.log(f());", "\"fin\"\n1\n", ""},
      {"inner finally, then the outer catch",
       "try { try { throw 1; } finally { console.log('inner'); } } catch (e) { console.log('outer', e); }",
       "\"inner\"\n\"outer\"1\n", ""},
      {"finally after a normal end and after a catch",
       "try { console.log('t'); } finally { console.log('f1'); }"
       "try { throw 'x'; } catch (e) { console.log('c', e); } finally { console.log('f2'); }",
       "\"t\"\n\"f1\"\n\"c\"\"x\"\n\"f2\"\n", ""},
      {"break and continue pass through finally",
       "var s = ''; for (var i = 0; i < 4; i++) { try { if (i == 1) continue; if (i == 3) break; s += i; }"
       " finally { s += 'f'; } } console.log(s);",
       "\"0ff2ff\"\n", ""},
      {"a return through two try statements runs both finally blocks",
       "function f() { try { try { return 'r'; } finally { console.log(1); } } finally { console.log(2); } }"
       "console.log(f());",
       "1\n2\n\"r\"\n", ""},
      {"a return inside finally replaces the transfer",
       "function f() { try { throw 1; } finally { return 2; } } function g() { while (true) { try { break; } finally { return 3; } } }"
       "console.log(f(), g());",
       "23\n", ""},
      {"a return inside catch skips the finally",
       "function f() { try { throw 1; } catch (e) { return 'c'; } finally { console.log('never'); } } console.log(f());",
       "\"c\"\n", ""},
      {"the value returned through finally is the one at the return",
       "var x = 5000; function f() { try { return x; } finally { x++; x += 1; } } console.log(f(), x);",
       "50005002\n", ""},
      {"a thrown value held by a block local survives the unwinding",
       "try { let e = [1, 2]; throw e; } catch (c) { console.log(c); }", "[1,2]\n", ""},
      {"return undefined and throw undefined",
       "function f() { return undefined; } try { throw undefined; } catch (e) { console.log(f(), e); }",
       "undefinedundefined\n", ""},
      {"an interpreter error is caught; its name is the code text",
       "try { null + 1; } catch (e) { console.log(e.name == '2240', typeof e); }", "true\"object\"\n", ""},
      {"an exception thrown inside catch goes to the next try",
       "try { try { throw 1; } catch (e) { throw e + 1; } } catch (e2) { console.log(e2); }", "2\n", ""},
      {"an uncaught throw reaches the outermost frame", "throw 'boom';", "", "throw boom"},
      {"an error in a callee unwinds its frame",
       "function g() { var q = 1; null + 1; } function f() { var v = 'keep'; try { g(); } catch (e) { return v + typeof q; } }"
       "console.log(f());",
       "\"keepundefined\"\n", ""},
      {"break inside a called function passes the callee's finally",
       "function f() { try { break; } finally { console.log('cf'); } } for (var i = 0; i < 3; i++) { f(); }"
       "console.log(i);",
       "\"cf\"\n0\n", ""},
  };
  run_scripts(cases, std::size(cases));
}

TEST(EvalControl, ErrorValues) {
  // e.message of an interpreter error starts with the full error text.
  ScriptResult r = run_script("try { null + 1; } catch (e) { console.log(e.name); console.log(e.message); console.log(e); }");
  EXPECT_EQ(r.error, "");
  EXPECT_EQ(r.log,
            "\"2240\"\n\"EVAL ERROR 2240 (t.js:1:11) : データの型不正(+)\"\n"
            "2240:EVAL ERROR 2240 (t.js:1:11) : データの型不正(+)\n");
  static const ScriptCase cases[] = {
      {"Exception with an Integer code", "var e = Exception('m', 7); console.log(e.name, e.message, String(e));",
       "\"7\"\"m\"\"7:m\"\n", ""},
      {"Error with a String code and new Error", "var e = new Error('m', 'E1'); var f = Error('x'); console.log(e.name, f.name);",
       "\"E1\"\"\"\n", ""},
      {"Error of a non-string message", "Error(5);", "", "2360"},
      {"Error with a Float code", "Error('m', 1.5);", "", "2360"},
      {"unknown member of an error", "var e = Error('m'); e.code;", "", "2035"},
      {"a thrown Error caught", "try { throw Exception('bad', 'X9'); } catch (e) { console.log(e.name + ':' + e.message); }",
       "\"X9:bad\"\n", ""},
  };
  run_scripts(cases, std::size(cases));
}

TEST(EvalControl, ForInOf) {
  static const ScriptCase cases[] = {
      {"for in over an object gives member names",
       "var s = ''; for (var k in {a: 1, b: 2}) s += k; console.log(s);", "\"ab\"\n", ""},
      {"for in over an array gives indexes; for of gives elements",
       "var s = ''; for (let i in [7, 8]) s += i; for (let v of [7, 8]) s += v; console.log(s);", "\"0178\"\n", ""},
      {"for of over a keyed array gives values; for in gives keys",
       "var a = [1]; a[3] = 'x'; var s = ''; for (let k in a) s += k + ','; for (let v of a) s += v; console.log(s);",
       "\"0,3,1x\"\n", ""},
      {"for of over a string gives bytes",
       "var n = 0; var s = ''; for (let c of 'aé') { n++; s += c.length; } console.log(n, s);", "3\"111\"\n", ""},
      {"for in over a string", "for (let c in 'ab') {}", "", "2057"},
      {"for of over an object", "for (let c of {a: 1}) {}", "", "2055"},
      {"for of over a number", "for (let c of 5) {}", "", "2055"},
      {"const loop variable", "for (const x of [1, 2]) { x = 3; }", "", "2320"},
      {"let loop variable may change", "for (let x of [1, 2]) { x = 3; } console.log(1);", "1\n", ""},
      {"var loop variable inside a function",
       "function f(o) { var s = ''; for (var k in o) s += k; return s + k; } console.log(f({p: 1, q: 2}));",
       "\"pqq\"\n", ""},
      {"var loop variable of a member function (this comes first)",
       "var o = {m: function (a) { var s = ''; for (var k in {x: 1}) s += k; return s + a; }}; console.log(o.m('!'));",
       "\"x!\"\n", ""},
      {"break and continue in for of",
       "var s = ''; for (let v of [1, 2, 3, 4]) { if (v == 2) continue; if (v == 4) break; s += v; } console.log(s);",
       "\"13\"\n", ""},
      {"the number of rounds is read once",
       "var a = [1, 2, 3]; var n = 0; for (let v of a) { n++; a[a.length] = 0; } console.log(n);", "3\n", ""},
  };
  run_scripts(cases, std::size(cases));
}

TEST(EvalControl, DeepRecursionIsAnError) {
  ScriptResult r = run_script("function f(n) { return f(n + 1) + 1; } f(0);");
  EXPECT_EQ(error_code_of(r), "2160") << r.error;
  // It can be caught, and the program goes on normally afterwards.
  r = run_script("function f(n) { return f(n + 1); } try { f(0); } catch (e) { console.log(e.name); }"
                 "function g(n) { return n ? g(n - 1) + 1 : 0; } console.log(g(1000));");
  EXPECT_EQ(r.error, "");
  EXPECT_EQ(r.log, "\"2160\"\n1000\n");
}
