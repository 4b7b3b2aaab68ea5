// The regular-expression matcher: spans, captures, lookarounds, non-ASCII text, step bound.
#include <chrono>
#include <string>
#include <vector>

#include "regexp_test_support.h"

namespace {

using MatchTest = RegexpTest;

struct Row {
  const char* pat;
  const char* flags;
  const char* subject;
  const char* match;  // nullptr: no match
  int32_t index;      // match start in UTF-16 units
  std::vector<std::string> groups;
};

void check(const Row& r) {
  Found f = search(r.pat, r.flags, r.subject);
  std::string where = std::string("/") + r.pat + "/" + r.flags + " on \"" + r.subject + "\"";
  ASSERT_EQ(f.code, 0) << where << ": " << message_buffer;
  if (!r.match) {
    EXPECT_EQ(f.start, -1) << where << " matched " << f.text;
    return;
  }
  EXPECT_EQ(f.text, r.match) << where;
  EXPECT_EQ(f.start, r.index) << where;
  EXPECT_EQ(f.groups, r.groups) << where;
}

TEST_F(MatchTest, LiteralsQuantifiersAndAlternatives) {
  const Row rows[] = {
      {"b+", "", "aabbbc", "bbb", 2, {}},
      {"b+?", "", "aabbbc", "b", 2, {}},
      {"a|ab", "", "xab", "a", 1, {}},
      {"ab|a", "", "xab", "ab", 1, {}},
      {"x|b|a", "", "cab", "a", 1, {}},  // earliest start wins over the earlier alternative
      {"a?b", "", "aab", "ab", 1, {}},
      {"ab*c", "", "xacabbc", "ac", 1, {}},
      {"a{3}", "", "aaaa", "aaa", 0, {}},
      {"\\d{2}", "", "1a23", "23", 2, {}},
      {"\\d{2,3}", "", "a12345", "123", 1, {}},
      {"\\d{2,3}?", "", "a12345", "12", 1, {}},
      {"\\d{2,}", "", "1x2345y", "2345", 2, {}},
      {"\\d{2,}?", "", "1x2345y", "23", 2, {}},
      {"a.*b", "", "a1b2b3", "a1b2b", 0, {}},
      {"a.*?b", "", "a1b2b3", "a1b", 0, {}},
      {"a.+?c", "", "abcbc", "abc", 0, {}},
      {"x*", "", "abc", "", 0, {}},
      {"x*y", "", "abxxy", "xxy", 2, {}},
      {"a*a*b", "", "aaab", "aaab", 0, {}},
      {"[ab]*b", "", "abab", "abab", 0, {}},
      {"a?a?a?aaa", "", "aaa", "aaa", 0, {}},
      {"abc", "", "ababc", "abc", 2, {}},
      {"abc", "", "ab", nullptr, 0, {}},
      {"x", "", "", nullptr, 0, {}},  // an empty subject never matches
      {"a*", "", "", nullptr, 0, {}},
      {"a\\.b", "", "axb a.b", "a.b", 4, {}},
      {"\\/\\*", "", "a/*b", "/*", 1, {}},
      {"\\cJ", "", "a\nb", "\n", 1, {}},
      {"\\x41\\u0042", "", "xAB", "AB", 1, {}},
      {"\\t\\r\\n", "", "a\t\r\nb", "\t\r\n", 1, {}},
  };
  for (const Row& r : rows) check(r);
}

TEST_F(MatchTest, AnchorsBoundariesAndFlags) {
  const Row rows[] = {
      {"^abc", "", "xabc", nullptr, 0, {}},
      {"^abc", "", "abcx", "abc", 0, {}},
      {"abc$", "", "abcabc", "abc", 3, {}},
      {"$", "", "ab", "", 2, {}},
      {"^b", "m", "a\nb", "b", 2, {}},
      {"^b", "m", "a\rb", nullptr, 0, {}},  // only a line feed starts a line
      {"^b", "", "a\nb", nullptr, 0, {}},
      {"a$", "m", "a\rb", "a", 0, {}},       // $ stands before a line feed or carriage return
      {"a$", "m", "ba\nb", "a", 1, {}},
      {"a$", "", "a\nb", nullptr, 0, {}},
      {"a.c", "", "a\nc a\rc", nullptr, 0, {}},
      {"a.c", "s", "a\nc", "a\nc", 0, {}},
      {"[^]", "", "\n", "\n", 0, {}},
      {"\\bfoo\\b", "", "afoo foo", "foo", 5, {}},
      {"\\Boo", "", "foo", "oo", 1, {}},
      {"\\b", "", "  ab", "", 2, {}},
      {"abc", "i", "xAbC", "AbC", 1, {}},
      {"[a-c]+", "i", "xxBCaz", "BCa", 2, {}},
      {"[A-C]+", "i", "xxbcAz", "bcA", 2, {}},
      {"[^a]", "i", "AAb", "b", 2, {}},
      {"é", "i", "É", nullptr, 0, {}},  // case folding is ASCII only
      {"(a)\\1", "i", "aA", "aA", 0, {"a"}},
  };
  for (const Row& r : rows) check(r);
}

TEST_F(MatchTest, EscapeClassesAndClasses) {
  const Row rows[] = {
      {"\\w+", "", "  hello_1 ", "hello_1", 2, {}},
      {"\\W+", "", "ab, cd", ", ", 2, {}},
      {"\\d+", "", "ab12c", "12", 2, {}},
      {"\\D+", "", "12ab3", "ab", 2, {}},
      {"\\s+", "", "a \t\r\nb", " \t\r\n", 1, {}},
      {"\\s", "", "a\vb\fc", nullptr, 0, {}},  // blank, tab, line feed and carriage return only
      {"\\S+", "", "  ab ", "ab", 2, {}},
      {"[a-c]+", "", "xxbcaz", "bca", 2, {}},
      {"[^a-c]+", "", "abxyzc", "xyz", 2, {}},
      {"[\\d_]+", "", "ab1_2c", "1_2", 2, {}},
      {"[\\W]+", "", "ab-+c", "-+", 2, {}},
      {"[^\\w]", "", "abc!", "!", 3, {}},
      {"[\\S]+", "", " ab ", "ab", 1, {}},
      {"[-a]+", "", "x-a-", "-a-", 1, {}},
      {"[a-]+", "", "xa-a", "a-a", 1, {}},
      {"[\\w-]+", "", "!a-b!", "a-b", 1, {}},
      {"[.]", "", "a.b", ".", 1, {}},
      {"[\\]]", "", "a]b", "]", 1, {}},
      {"[\\D]", "", "12a", "a", 2, {}},
      {"[\\W\\d]+", "", "ab1-2c", "1-2", 2, {}},
      {"[^\\d]+", "", "12あい3", "あい", 2, {}},  // a negated escape class covers non-ASCII units
      {"[\\s\\d]+", "", "ab 1\t2c", " 1\t2", 2, {}},
  };
  for (const Row& r : rows) check(r);
}

TEST_F(MatchTest, GroupsAndBackReferences) {
  const Row rows[] = {
      {"(\\d+)-(\\d+)", "", "x12-345", "12-345", 1, {"12", "345"}},
      {"(a)\\1", "", "xaab", "aa", 1, {"a"}},
      {"(a*)b\\1", "", "b", "b", 0, {""}},  // an empty capture matches the empty text
      {"(\\w)(\\w)\\2\\1", "", "xabbay", "abba", 1, {"a", "b"}},
      {"(ab)\\1*", "", "abababx", "ababab", 0, {"ab"}},
      {"(a)\\1*b", "", "xaaab", "aaab", 1, {"a"}},
      {"(a)\\1*a", "", "aaa", "aaa", 0, {"a"}},
      {"\\w+@\\w+", "", "ab cd@ef", "cd@ef", 3, {}},
      {"[a@]*@x", "", "a@a@x", "a@a@x", 0, {}},
      {"(ab)\\1+?", "", "abababx", "abab", 0, {"ab"}},
      {"(?:ab)+", "", "xababa", "abab", 1, {}},
      {"(?:ab)+?", "", "xababa", "ab", 1, {}},
      {"(?:ab){2}", "", "abababab", "abab", 0, {}},
      {"(?:a{2})+", "", "aaaaa", "aaaa", 0, {}},
      {"(?:ab)*c", "", "ababc", "ababc", 0, {}},
      {"(?:ab)?c", "", "abc", "abc", 0, {}},
      {"(?:ab)??c", "", "abc", "abc", 0, {}},
      {"(?:a|b)*?c", "", "abc", "abc", 0, {}},
      {"(?:a|ab)c", "", "abc", "abc", 0, {}},  // backtracks into the group body
      {"(a|ab)(c|bcd)(d*)", "", "abcd", "abcd", 0, {"a", "bcd", ""}},
      {"(?:x|(?:a|b)+)c", "", "abbac", "abbac", 0, {}},
      {"((a)b)c", "", "abc", "abc", 0, {"ab"}},  // nested groups number in their own pattern
      {"(?<year>\\d{4})-(?<m>\\d\\d)", "", "on 2024-05", "2024-05", 3, {"2024", "05"}},
      {"(a)|(b)", "", "b", "b", 0, {"b"}},  // the groups of the alternative that matched
      {"cat|(dog)", "", "dog", "dog", 0, {"dog"}},
      {"(cat)|dog", "", "dog", "dog", 0, {}},
      {"(?:(a)|b)\\w", "", "bc", "bc", 0, {}},
      {"(?:a+)+b", "", "aaab", "aaab", 0, {}},
      {"(?:a*)*b", "", "aab", "aab", 0, {}},
      {"(?:a*)+$", "", "aa", "aa", 0, {}},
      {"(?:(?:a|b)(?:c|d))+", "", "xadbcz", "adbc", 1, {}},
      {"(x(?:y|z)+)w", "", "xyzyw", "xyzyw", 0, {"xyzy"}},
  };
  for (const Row& r : rows) check(r);
}

TEST_F(MatchTest, Lookarounds) {
  const Row rows[] = {
      {"a(?=b)", "", "acab", "a", 2, {}},
      {"a(?!b)", "", "abac", "a", 2, {}},
      {"\\d+(?=px)", "", "10em 20px", "20", 5, {}},
      {"\\d+(?!px|\\d)", "", "20px 30em", "30", 5, {}},
      {"(?<=\\$)\\d+", "", "cost $42", "42", 6, {}},
      {"(?<!\\$)\\b\\d+", "", "$4 and 5", "5", 7, {}},
      {"(?=ab)a", "", "aab", "a", 1, {}},  // a lookahead first applies where the alternative starts
      {"(?!a)\\w", "", "aab", "b", 2, {}},
      {"(a)(?=b)", "", "xacab", "a", 3, {"a"}},
      {"(?<=a)(b)", "", "cbab", "b", 3, {"b"}},
      {"(?<=a|bc)d", "", "bcd", "d", 2, {}},
      {"(?<=a+)b", "", "xaaab", "b", 4, {}},
      {"(?<=^a)b", "", "abab", "b", 1, {}},
      {"(?<!^)b", "", "bab", "b", 2, {}},
      {"a(?=b)(?=bc)", "", "abd abc", "a", 4, {}},
      {"(?<=a)(?<=\\w)b", "", "cb ab", "b", 4, {}},
      {"(?<=a)b(?=c)", "", "abd abc", "b", 5, {}},
      {"x(?=(?:a|ab)c)", "", "xabc", "x", 0, {}},
      {"(?:a(?=b)|c)+", "", "acab", "ca", 1, {}},
      {"(?<=(?:ab)+)c", "", "ababc", "c", 4, {}},
  };
  for (const Row& r : rows) check(r);
}

// Spans checked against a JavaScript engine: random patterns of the syntax both read alike,
// among them the empty-iteration rule of quantified groups and boundaries inside lookarounds.
TEST_F(MatchTest, AgreesWithJavaScriptOnRandomCases) {
  struct Case { const char* pat; const char* flags; const char* subject; int32_t start, end; };
  const Case cases[] = {
      {"(?:b?|.)+", "i", "aa", 0, 2},
      {"(?:b?|.)+", "i", "abc1b_ab aa", 0, 11},
      {"ab(?:\\W*?)?", "i", "aaab-b c", 2, 5},
      {"a{1,2}(?=\\B)", "i", "ax", 0, 1},
      {"^[^a](?:(?!\\B))[ab]?", "i", "_1 b", -1, -1},
      {"a|(?:.\\w.)[a-c]x", "i", "ab c", 0, 1},
      {"[\\d_](?:(?=\\s1)ab)$", "", "-aa-xccx-", -1, -1},
      {"x\\d(?:\\B[ab])[^a]{1,}", "", "_bx11_aac", -1, -1},
      {"\\W?(?:b(?!a)){1,}", "", " xa", -1, -1},
      {"(?!a{1,2}\\B)\\s*a", "i", "c-_bc_", -1, -1},
      {"\\d?.[^a]a+?", "i", "x1aa", 0, 3},
      {"^1a(?:\\W\\bc\\W)*", "i", "1-aaa", -1, -1},
      {"(?:(.)\\W[^a])", "i", "1aa_--", 3, 6},
      {"x?(?:c)\\w{1,2}1*?", "", " cab_cxaa", 1, 4},
      {"^ab(?:a*?.|x)*?[^a]+", "i", "abcabcababa-_", 0, 3},
      {"(?:a)+\\w", "", "_-ababab", 2, 4},
      {".{1,2}c??", "", "11bc", 0, 2},
      {"[a-c]+[^a]|\\w(1)", "i", "ab_ cc aa-", 0, 3},
      {".{1,2}|\\b\\Ba+?\\B", "i", "c-x-", 0, 2},
      {"a[^a]c|.+?\\b", "", "- _xaaba-x", 0, 2},
      {"ab(?!1[^a].\\b)$", "", "-_caaab", 5, 7},
      {"\\w.*?[a-c]+?$", "", "cabb", 0, 4},
      {".[ab][\\d_]{1,3}?", "i", "1aaaabb_1", 5, 8},
      {"ab$|\\B\\w{1,}.?", "", "aax", 1, 3},
      {"[ab]*|\\w?", "i", "ab_ xx abx-a", 0, 2},
      {"[a-c]{1,3}?a|\\W{1,3}?", "i", "a_abaa", 2, 5},
      {"[\\d_]??\\w?\\d", "i", "-acaababxa1", 9, 11},
      {"(?:.){1,}$|\\d", "", "c-caa  _1b", 0, 10},
      {"b+(?:[^a]+\\b){1,3}?$", "", "xabc", 2, 4},
      {"c??.{1,2}ab", "i", "  ab_b", 0, 4},
      {"(?:[^a])(a\\w[ab][^a]*?)", "", "c_--abbaaaa", 3, 7},
      {"[^a]{1,3}?\\W*?\\w?\\d?", "", "xcac1_ab-a", 0, 2},
      {"^\\w{2}|(?:b\\B)", "i", "_aa-cxabaacab", 0, 2},
      {"\\s{1,2}[a-c]\\w\\s?", "i", "ab_cbx bababaa", 6, 9},
      {" (?:a*?)*", "", " aa-x", 0, 3},
      {"(?:\\b|(?:[\\d_](?:1{1,3}?[^a][^a]|\\B[^a]{1,2}\\B))*\\b){1,2}", "", "_1b-cac", 0, 4},
  };
  for (const Case& c : cases) {
    Found f = search(c.pat, c.flags, c.subject);
    ASSERT_EQ(f.code, 0) << c.pat;
    EXPECT_EQ(f.start, c.start) << "/" << c.pat << "/" << c.flags << " on \"" << c.subject << "\"";
    EXPECT_EQ(f.end, c.end) << "/" << c.pat << "/" << c.flags << " on \"" << c.subject << "\"";
  }
}

TEST_F(MatchTest, NonAsciiTextCountsUtf16Units) {
  const Row rows[] = {
      {"い+", "", "あいいう", "いい", 1, {}},
      {"[ぁ-ん]+", "", "漢字ひらがなカナ", "ひらがな", 2, {}},
      {"[一-龠]+", "", "abc漢字def", "漢字", 3, {}},
      {"(.)(.)", "", "日本", "日本", 0, {"日", "本"}},
      {"\\u3042", "", "xあ", "あ", 1, {}},
      {"[^ぁ-ん]+", "", "あいカナう", "カナ", 2, {}},
      {"é+", "", "aééb", "éé", 1, {}},
      {"\\W+", "", "ab日本cd", "日本", 2, {}},
      {"\\b", "", "日本ab", "", 2, {}},
      {"(?<=円)\\d+", "", "価格円120", "120", 3, {}},
  };
  for (const Row& r : rows) check(r);
  // Units before the match are characters, not bytes: the byte offset is found separately.
  const char* s = "価格円120";
  EXPECT_EQ(rx_unit_to_byte(s, std::strlen(s), 3), 9u);
  EXPECT_EQ(rx_unit_to_byte(s, std::strlen(s), 6), std::strlen(s));
  EXPECT_EQ(rx_unit_to_byte(s, std::strlen(s), 99), std::strlen(s));
}

TEST_F(MatchTest, StartPositionAndSticky) {
  DW re = rx("a");
  EXPECT_EQ(search_in(re, "aXa", 1).start, 2);
  EXPECT_EQ(search_in(re, "aXa", 3).start, -1);  // a start at the length finds nothing
  EXPECT_EQ(search_in(re, "aXa", -5).start, 0);
  re = rx("b", "y");
  EXPECT_EQ(search_in(re, "ab", 0).start, -1);
  EXPECT_EQ(search_in(re, "ab", 1).start, 1);
  re = rx("x|b", "y");
  EXPECT_EQ(search_in(re, "ab", 1).text, "b");
  // A search from a later start still sees the text before it.
  re = rx("(?<=a)b|\\bc");
  EXPECT_EQ(search_in(re, "abc", 1).start, 1);
  EXPECT_EQ(search_in(re, "a c", 2).start, 2);
  re = rx("^a");
  EXPECT_EQ(search_in(re, "aa", 1).start, -1);
}

TEST_F(MatchTest, CapturesOfLatestMatch) {
  DW re = rx("(\\w)(\\d)");
  Found f = search_in(re, "ab1c2");
  EXPECT_EQ(f.groups, (std::vector<std::string>{"b", "1"}));
  f = search_in(re, "ab1c2", 3);
  EXPECT_EQ(f.groups, (std::vector<std::string>{"c", "2"}));
  EXPECT_EQ(rx_last.seq, re);
  EXPECT_EQ(rx_last.span[0], 3);
  EXPECT_EQ(rx_last.span[1], 5);
}

TEST_F(MatchTest, CatastrophicPatternsAreBounded) {
  std::string subject(30, 'a');
  subject += '!';
  const char* pats[] = {"(?:a+)+$", "(?:a|a)*$", "(?:a*)*c", "^(?:\\w+\\s?)*$"};
  for (const char* p : pats) {
    DW re = rx(p);
    auto t0 = std::chrono::steady_clock::now();
    Found f = search_in(re, subject.c_str());
    double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_TRUE(f.code == RX_ERR_STEPS || (f.code == 0 && f.start < 0)) << p << " " << f.code;
    EXPECT_LT(secs, 20.0) << p;
  }
  EXPECT_EQ(search_in(rx("(?:a+)+$"), subject.c_str()).code, RX_ERR_STEPS);
  EXPECT_NE(std::string(message_buffer).find("EVAL ERROR 5055"), std::string::npos);
  // The matcher is usable again afterwards.
  EXPECT_EQ(search("(?:a+)+$", "", "xaa").text, "aa");
}

TEST_F(MatchTest, LongSubjectsNeedNoRecursion) {
  std::string s(200000, 'a');
  s += "b";
  EXPECT_EQ(search("a*b", "", s.c_str()).end, 200001);
  EXPECT_EQ(search("(?:a)*b", "", s.c_str()).end, 200001);
  EXPECT_EQ(search("(?:a|x)+?b", "", s.c_str()).end, 200001);
  EXPECT_EQ(search("(a+)b", "", s.c_str()).groups.at(0).size(), 200000u);
  EXPECT_EQ(search("[^b]*b$", "", s.c_str()).end, 200001);
  // Spans past 65,535 units are kept whole.
  Found f = search("(b)", "", s.c_str());
  EXPECT_EQ(f.start, 200000);
}

TEST_F(MatchTest, StackLimit) {
  std::string s(5000, 'a');
  rx_stack_limit = 1000;
  Found f = search("(?:a|b)*c", "", s.c_str());
  rx_stack_limit = RX_STACK_LIMIT;
  EXPECT_EQ(f.code, RX_ERR_STACK);
  EXPECT_NE(std::string(message_buffer).find("EVAL ERROR 5060"), std::string::npos);
  EXPECT_EQ(search("(?:a|b)*c", "", (s + "c").c_str()).end, 5001);
}

TEST_F(MatchTest, UnknownItemKind) {
  DW re = rx("ab");
  items_of(re)[0].kind = 99;
  EXPECT_EQ(search_in(re, "xab").code, 5030);
  EXPECT_EQ(raised_message(), "正規表現のコマンド不正");
}

}  // namespace
