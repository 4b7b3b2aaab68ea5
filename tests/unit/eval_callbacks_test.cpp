// Library callbacks (a sort's comparator) whose function has a compiled form: the output, the
// error with its position and the records left alive are those of the tree's calls, and the
// form really ran.
#include <gtest/gtest.h>

#include "eval/compiled.h"
#include "store/store_state.h"
#include "tests/unit/eval_testutil.h"

namespace {

struct Outcome {
  ScriptResult r;
  uint32_t live;
  uint32_t compiledRuns;
};

Outcome run_mode(const char* src, bool compiled) {
  compiled_enabled = compiled;
  uint32_t before = compiled_runs;
  Outcome o{run_script(src), 0, 0};
  o.live = static_cast<uint32_t>(dw_cur_block) * 256u + dw_next_slot - dw_free_total;
  o.compiledRuns = compiled_runs - before;
  compiled_enabled = true;
  return o;
}

struct CallbackCase {
  const char* name;
  const char* src;
  const char* log;
  const char* error;   // the error record's start ("" for a normal end)
  bool ranCompiled;
  bool sameLive;       // no small Integer is made by the tree's results alone
};

}  // namespace

TEST(EvalCallbacks, ComparatorSameAsTheTree) {
  static const CallbackCase cases[] = {
      {"member keys, equal keys keep their order, Float answers",
       "var a = [];\nfor (var i = 0; i < 40; i++) a.push({k: (i * 7) % 10 * 10000, n: i});\n"
       "a.sort(function (p, q) { return (p.k - q.k) * 0.5; });\nvar s = '';\n"
       "for (var j = 0; j < 40; j += 7) s = s + a[j].k + ':' + a[j].n + ' ';\nconsole.log(s);",
       "\"0:0 10000:33 30000:29 50000:15 70000:1 80000:34 \"\n", "", true, true},
      {"a comparator that ends without a value for some pair raises at its own position",
       "function c(a, b) {\n  if (b > 5) return;\n  return a - b;\n}\n"
       "console.log([1, 2, 3].sort(c));\nconsole.log([9, 1, 3].sort(c));",
       "[1,2,3]\n", "2540: EVAL ERROR 2540 (t.js:2:14)", true, false},
      {"a comparator whose end falls through the body",
       "function c(a, b) { if (a < b) return -1; }\nconsole.log([1, 3, 2].sort(c));", "",
       "2540: EVAL ERROR 2540", true, false},
      {"elements the form cannot take go to the tree (a text makes the answers inconsistent)",
       "var a = [5, 3, 'x', 8, 1, 2.5, 7, 4, 6, 0, 9, 11];\n"
       "a.sort(function (p, q) { return p < q ? -1 : p > q ? 1 : 0; });\nconsole.log(a);",
       "[0,3,4,5,\"x\",1,2.5,6,7,8,9,11]\n", "", true, false},
      {"a missing member raises on the tree with the tree's position",
       "var a = [{x: 20000}, {x: 10000}, {y: 1}];\nfunction byX(p, q) {\n  return p.x - q.x;\n}\n"
       "a.sort(byX);",
       "", "2", true, false},
      {"a comparator calling a compiled function, answers beyond the small Integers",
       "function weight(v) { return v * 100000 + 7; }\nvar a = [];\n"
       "for (var i = 0; i < 30; i++) a.push((i * 13) % 30);\n"
       "a.sort(function (p, q) { return weight(q) - weight(p); });\nconsole.log(a[0], a[1], a[29]);",
       "29280\n", "", true, true},
      {"an object as the answer counts as equal and is dropped",
       "var a = [3, 1, 2];\nfunction c(p, q) { return {d: p - q}; }\nconsole.log(a.sort(c));",
       "[3,1,2]\n", "", true, true},
  };
  for (const CallbackCase& c : cases) {
    Outcome tree = run_mode(c.src, false);
    Outcome compiled = run_mode(c.src, true);
    EXPECT_EQ(tree.r.log, c.log) << c.name;
    EXPECT_EQ(tree.r.error.rfind(c.error, 0), 0u) << c.name << "\n" << tree.r.error;
    EXPECT_EQ(compiled.r.log, tree.r.log) << c.name;
    EXPECT_EQ(compiled.r.error, tree.r.error) << c.name;
    EXPECT_EQ(tree.compiledRuns, 0u) << c.name;
    if (c.ranCompiled) {
      EXPECT_GT(compiled.compiledRuns, 0u) << c.name;
    }
    if (c.sameLive) {
      EXPECT_EQ(compiled.live, tree.live) << c.name;
    }
  }
}
