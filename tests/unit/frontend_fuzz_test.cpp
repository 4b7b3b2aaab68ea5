// Mutation loop over a corpus of modules (fixed seed, bounded count): every mutated text either
// parses, with a tree that can be walked, or ends in a numbered parse error; nothing crashes
// or reads outside the text (checked under the address sanitizer).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "frontend_test_util.h"

namespace {

const char* const corpus[] = {
    "/* Handler: sums the rows.\n   Returns the configuration. */\n"
    "function handler(req, opts = {}) {\n"
    "  var total = 0, name = \"item\", list = [1, 2, 3, 4];\n"
    "  let rows = select(conn, \"SELECT id FROM t WHERE id = \" + 4);\n"
    "  for (var i = 0; i < list.length; i++) {\n"
    "    if (list[i] % 2 == 0 && i > 0) { total += list[i] * 2; } else { total -= 1; }\n"
    "  }\n"
    "  // configuration\n"
    "  var cfg = {key: \"k\", value: total, enabled: true, tags: [\"a\", 'b', `c${total}`]};\n"
    "  switch (opts.mode) { case 1: total = total + 1; break; case 'x': total = Math.max(total, 10); break; "
    "default: total = 0; }\n"
    "  try { cfg.value = parseInt(req.count) + helper(total, name.length); }\n"
    "  catch (e) { console.log(\"error: \" + e.message); } finally { done = true; }\n"
    "  while (total > 100) total = total / 2;\n"
    "  do { total--; } while (total > 50);\n"
    "  return total > 0 ? cfg : null;\n"
    "}\n",
    "var a = new Date(2024, 1, 2), b = new Hash, c = Integer('5') + Float(2.5);\n"
    "const re = /a+b/g; let s = 'it\\'s' + \"q\\\"\" + `t\\`x`;\n"
    "for (const k in obj) { if (typeof obj[k] == 'string' && !(obj[k] instanceof Array)) continue; }\n"
    "for (let v of [1, 2, 3]) sendToFront(v, 'x');\n"
    "x = a ? b : c ? d : e; y = 2 ** 3 ** 2; z = a << 1 | b >>> 2 & ~c ^ d;\n"
    "record_map(conn, 'select 1', 'x = 1;'); selectInto(conn, 'sql', a, b);\n"
    "f(1, 2)(3); g(function (p, q = [1]) { var r = p + q; return r; });\n"
    "throw Error('bad', 2);\n",
    "{ let a = 1; { const b = [a, {c: a}]; } }\nfunction f() { eval('1 + 1'); return; }\n"
    "alertToFront(`done ${x}`); decodeURI(s); encodeURIComponent(s); parseFloat('1.5e3');\n"
    "if (x) { break; } else if (y) continue;\n",
};

// Pieces inserted by the mutator: brackets, quotes, comment marks, keywords and odd bytes.
const char* const pieces[] = {"(", ")", "{", "}", "[", "]", "'", "\"", "`", "/*", "*/", "//", "\\", ";", ",", ":",
                              "?", ".", "=", "+", "-", "++", "**", "function", "new", "case", "default",
                              "var", "let", "instanceof", "typeof", "switch", "for", "try", "catch", "\n", " ",
                              "\x80", "\xe3\x81\x82", "\xff", "0x", "1e", ".5", "$", "#", "mongo_find", "${"};

struct Rng {
  uint64_t s;
  uint32_t next() {
    s = s * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<uint32_t>(s >> 33);
  }
  uint32_t below(uint32_t n) { return n ? next() % n : 0; }
};

std::string mutate(const std::string& src, Rng& rng) {
  std::string s = src;
  int edits = 1 + static_cast<int>(rng.below(4));
  for (int e = 0; e < edits; e++) {
    size_t at = rng.below(static_cast<uint32_t>(s.size() + 1));
    switch (rng.below(5)) {
      case 0:   // insert a piece
        s.insert(at, pieces[rng.below(sizeof pieces / sizeof pieces[0])]);
        break;
      case 1:   // delete a range
        s.erase(at, rng.below(12));
        break;
      case 2:   // replace a byte
        if (at < s.size()) s[at] = static_cast<char>(rng.below(256) | 1);
        break;
      case 3: {  // duplicate a range
        size_t len = rng.below(40);
        s.insert(at, s.substr(at, len));
        break;
      }
      default:   // cut the text
        s.resize(at);
        break;
    }
  }
  return s;
}

// FRONTEND_FUZZ_ROUNDS runs a longer loop by hand.
int rounds(int fallback) {
  const char* e = std::getenv("FRONTEND_FUZZ_ROUNDS");
  return e ? std::atoi(e) : fallback;
}

// A numbered parse error; or 1595, the conversion error that a regular-expression literal with
// a code point above 16 bits raises while it is compiled.
bool numbered_parse_error(const std::string& text, int code) {
  if (code == 1595) return text.rfind("EVAL ERROR 1595 (", 0) == 0;
  return code > 0 && text.rfind("PARSE ERROR " + std::to_string(code) + " (", 0) == 0;
}

TEST(FrontendFuzz, MutatedModules) {
  Rng rng{20240611};
  int parsed_ok = 0, failed = 0;
  for (int round = 0, n = rounds(2400); round < n; round++) {
    frontend_fresh();
    std::string src = mutate(corpus[round % 3], rng);
    ParseOutcome o = parse_source(src);
    if (o.code == 0) {
      parsed_ok++;
    } else {
      failed++;
      ASSERT_TRUE(numbered_parse_error(o.text, o.code)) << src << "\n" << o.text;
    }
  }
  // Both outcomes occur: the mutations are neither all harmless nor all fatal.
  EXPECT_GT(parsed_ok, 100);
  EXPECT_GT(failed, 100);
}

// Run-time texts: expression lists, statements and the top call.
static char* text_arg;
static void parse_exprs() {
  DW out[256];
  parse_expression_text(text_arg, PARSE_NO_STOP | PARSE_STRIP_COMMENTS, out, 256);
}
static void parse_stmts() {
  StatementList l = {nullptr, 0, 0, false};
  parse_statement_text(text_arg, PARSE_NO_STOP | PARSE_STRIP_COMMENTS, &l);
}
static void parse_call() {
  bool seen;
  parse_top_call(text_arg, &seen);
}

TEST(FrontendFuzz, MutatedRunTimeText) {
  const char* seeds[] = {"main(1, 'a', [2], {b: 3})", "a = 1, b = f(2) + `x${y}`", "x > 1 ? g(x) : h(-1)"};
  Rng rng{77};
  void (*fns[])() = {parse_exprs, parse_stmts, parse_call};
  for (int round = 0, n = rounds(1500); round < n; round++) {
    frontend_fresh();
    std::string src = mutate(seeds[round % 3], rng);
    std::vector<char> buf(src.begin(), src.end());
    buf.push_back(0);
    text_arg = buf.data();
    int code = run_catching(fns[round % 3]);
    if (code) {
      std::string text = message_buffer;
      bool ok = numbered_parse_error(text, code) || code == 1725;
      ASSERT_TRUE(ok) << src << "\n" << text;
    }
  }
}

}  // namespace
