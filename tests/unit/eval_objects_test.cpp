// Members, elements, keyed arrays, new, the conversion functions, eval and the text forms.
#include <gtest/gtest.h>

#include "tests/unit/eval_testutil.h"

TEST(EvalObjects, MembersAndElements) {
  static const ScriptCase cases[] = {
      {"growth at the end, then a gap makes a keyed array",
       "var a = []; a[0] = 1; console.log(a); a[5] = 2; console.log(a, a.length, a[5], a[0]);",
       "[1]\n[0:1,5:2]22" "1\n", ""},
      {"writing right after the last element keeps an array however long it gets",
       "var a = []; for (var i = 0; i < 25; i++) a[i] = i; console.log(a.length, a instanceof Array, String(a).length);",
       "25true66\n", ""},
      {"reading beyond the end", "var a = [1, 2, 3]; a[3];", "", "2032"},
      {"negative index", "var a = [1]; a[-1];", "", "2025"},
      {"index of a number", "var n = 1; n[0];", "", "2030"},
      {"string key on an array", "var a = [1]; a['x'];", "", "2023"},
      {"float index", "var a = [1]; a[0.0];", "", "2032"},
      {"missing member: undefined, not added; assignment adds it",
       "var o = {}; console.log(o.x, o.length); o.x = 1; console.log(o.length, o['x'], o);", "undefined0\n11{'x':1}\n", ""},
      {"o['x'] and o.x are the same member", "var o = {x: 1}; o['x'] = 2; o.y = 3; console.log(o.x, o['y']);", "23\n", ""},
      {"string characters", "console.log('abc'[1], 'abc'[5], 'aéb'[1], 'é'.length);", "\"b\"undefined\"é\"2\n", ""},
      {"lengths of constants", "console.log(undefined.length, null.length, true.length);", "944\n", ""},
      {"lengths inside arithmetic",
       "var a = [1, 2]; var o = {p: 1}; console.log(a.length + 1, 'abc'.length * 2, o.length - 1, undefined.length + 0,"
       " (5).length);",
       "360" "9undefined\n", ""},
      {"length of an error record", "var e = Error('m'); e.length + 1;", "", "2035"},
      {"member of a number", "var n = 1; n.x;", "", "2035"},
      {"member of a keyed array", "var a = []; a[3] = 1; a.x;", "", "2035"},
      {"keyed arrays take name keys and index keys apart",
       "var k = []; k[2] = 'two'; k['name'] = 'n'; k[13] = 'thirteen'; console.log(k['name'], k[13], k.length);",
       "\"n\"\"thirteen\"3\n", ""},
      {"a missing index of a keyed array", "var k = []; k[4] = 1; k[2];", "", "2032"},
      {"nested creation", "var o = {a: {}}; o.a.b = [0]; o.a.b[0] += 5; console.log(o);", "{'a':{'b':[5]}}\n", ""},
      {"an element of an element grows into a keyed array in place",
       "var m = [[1]]; m[0][3] = 4; console.log(m);", "[[0:1,3:4]]\n", ""},
      {"a copy of an array is not changed when the original becomes keyed",
       "var a = [1, 2]; var b = a; a[5] = 6; console.log(a, b);", "[0:1,1:2,5:6][1,2]\n", ""},
      {"o[undefined] is the member named undefined",
       "var o = {}; o[undefined] = 1; console.log(o);", "{'undefined':1}\n", ""},
      {"many members", "var o = {}; for (var i = 0; i < 40; i++) o['m' + i] = i; console.log(o.length, o.m39);",
       "4039\n", ""},
  };
  run_scripts(cases, std::size(cases));
}

TEST(EvalObjects, Constructors) {
  static const ScriptCase cases[] = {
      {"a script constructor",
       "function Foo(v) { this.v = v; } var f = new Foo(1); console.log(f, typeof f, String(f), f instanceof Foo);",
       "{'v':1}\"Foo\"\"{v:1}\"true\n", ""},
      {"a constructor returning a value", "function Foo() { return 5; } console.log(new Foo());", "5\n", ""},
      {"a constructor with return;", "function Foo() { this.a = 1; return; } console.log(new Foo());", "{'a':1}\n", ""},
      {"new of something that is not a function", "var x = 1; new x();", "", "2370"},
      {"built-in constructors",
       "console.log(new Number('7'), new Integer('12abc'), new Float(2), new String(3), new Number(), new String());",
       "7122.0\"3\"0\"\"\n", ""},
      {"new Array and Array copy their arguments",
       "var inner = [1]; var a = new Array(3, inner); inner[0] = 9; console.log(a, Array(), new Array(3));",
       "[3,[1]][][3]\n", ""},
      {"Array of a value that cannot be copied", "Array(true);", "", "1420"},
      {"new Error", "var e = new Exception('m'); console.log(e.name, e.message);", "\"\"\"m\"\n", ""},
      {"new Hash is a script constructor", "new Hash();", "", "2370"},
  };
  run_scripts(cases, std::size(cases));
}

TEST(EvalObjects, Conversions) {
  static const ScriptCase cases[] = {
      {"Number", "console.log(Number('12'), Number('1.5'), Number(''), Number('-3'), Number('+4'), Number(2.5), Number());",
       "121.50-342.50\n", ""},
      {"Number of a large integral text is a Float", "console.log(Number('3000000000'), Number('0x10'));",
       "3000000000.016\n", ""},
      {"Number of a text with a rest", "Number('12px');", "", "2335"},
      {"Number of a constant", "Number(null);", "", "2335"},
      {"String", "console.log(String(null), String(1.0), String([1, 'a', {b: 'c'}]), String({b: 'c'}), String());",
       "\"null\"\"1.0\"\"[1,\"a\",{'b':\"c\"}]\"\"{b:\"c\"}\"\"\"\n", ""},
      {"String of a function", "String(function () {});", "", "2522"},
      {"nested function text", "String([function () {}]);", "", "2520"},
      {"Integer and Float", "console.log(Integer(), Float(), Integer(7.9), Integer('-7.9'), Float('2.5x'), Integer(3.0));",
       "00.07-72.53\n", ""},
      {"Integer of an array", "Integer([]);", "", "1410"},
      {"Float of null", "Float(null);", "", "1415"},
      {"console writes strings quoted", "console.log('x', 1, [1, 'y'], {a: 'b'}, null);",
       "\"x\"1[1,\"y\"]{'a':\"b\"}null\n", ""},
  };
  run_scripts(cases, std::size(cases));
}

TEST(EvalObjects, Eval) {
  static const ScriptCase cases[] = {
      {"eval of an expression", "console.log(eval('1+2'), eval('3, 4'));", "34\n", ""},
      {"eval sees variables and can assign", "var a = 2; eval('a = a * 5'); console.log(a);", "10\n", ""},
      {"eval of a literal outlives its text", "var v = eval('[1, 2]'); console.log(v);", "[1,2]\n", ""},
      {"eval of nothing returns the text", "console.log(eval(''));", "\"\"\n", ""},
      {"eval of a non-string", "eval(1);", "", "2350"},
  };
  run_scripts(cases, std::size(cases));
  std::string big = "eval('" + std::string(300, '1') + "');";
  EXPECT_EQ(error_code_of(run_script(big.c_str())), "2357");
}

TEST(EvalObjects, SelfContainingValues) {
  // Printing a value that contains itself ends with an error instead of running out of stack.
  ScriptResult r = run_script("var a = [1]; a[1] = a; try { String(a); } catch (e) { console.log(e.name); }");
  EXPECT_EQ(r.error, "");
  EXPECT_EQ(r.log, "\"2160\"\n");
}
