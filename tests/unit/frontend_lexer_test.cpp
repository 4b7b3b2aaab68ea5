// Tokenizer pieces: comment removal, the keyword table, names, excerpts, bracket matching and
// the UTF-8 / UTF-16 converters.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "frontend/parse_internal.h"
#include "store/utf16_text.h"
#include "store/byte_text.h"
#include "store/hex_codes.h"
#include "frontend_test_util.h"

namespace {

class FrontendLexer : public ::testing::Test {
 protected:
  void SetUp() override { frontend_fresh(); }
};

static char* strip_text;
static void strip_it() { strip_comments(strip_text); }

TEST_F(FrontendLexer, StripComments) {
  struct Case {
    const char* in;
    const char* out;   // null: error 1580
  } cases[] = {
      {"x = 1; // comment", "x = 1; "},
      {"a // one\nb", "a       \nb"},
      {"s = 'a//b'; /* c */", "s = 'a//b';        "},
      {"/* line1\nline2 */ x", "        \n         x"},
      {"a /* x */ b /* y */ c", "a         b         c"},
      {"s = \"/*\" + '*/'", "s = \"/*\" + '*/'"},
      {"s = 'it\\'s // no'", "s = 'it\\'s // no'"},
      {"/* a '*/' */ b", "             b"},                 // quotes pair up inside a comment
      {"x = `a\n/* t */` // c", "x = `a\n/* t */` "},
      {"s = 'open // never closed", "s = 'open // never closed"},
      {"/*/ x */ y", "         y"},
      {"// only", ""},
      {"/* never", nullptr},
      {"/* it's */ x = 'a';", nullptr},
      {"a /* 'b */", nullptr},
  };
  for (const auto& c : cases) {
    std::string buf = c.in;
    strip_text = buf.data();
    int code = run_catching(strip_it);
    if (!c.out) {
      EXPECT_EQ(code, 1580) << c.in;
      EXPECT_EQ(error_detail(message_buffer), "コメント不正");
      continue;
    }
    EXPECT_EQ(code, 0) << c.in;
    EXPECT_STREQ(buf.c_str(), c.out) << c.in;
  }
}

TEST_F(FrontendLexer, KeywordTable) {
  static const char* const words[KEYWORD_COUNT] = {
      "break", "if", "let", "return", "record_map", "record_hash", "redis_command", "redis_aggregate",
      "redis_keys", "redis_get", "redis_execute", "redis_delete", "redis_lremove", "redis_linsert", "var",
      "while", "openDb", "closeDb", "const", "continue", "do", "decodeURI", "decodeURIComponent", "eval",
      "execute", "encodeURI", "encodeURIComponent", "for", "function", "select", "selectHash", "selectInto",
      "selectToFront", "selectHashToFront", "sendToFront", "switch", "selectExists", "sql_aggregate", "throw",
      "try", "parseInt", "parseFloat", "alertToFront", "mongo_find", "mongo_count", "mongo_insert",
      "mongo_update_one", "mongo_update_many", "mongo_delete_one", "mongo_delete_many", "mongo_drop_collection",
      "mongo_transaction", "mongo_rename_collection", "mongo_get_collection", "mongo_collection_name",
      "mongo_use_db", "mongo_current_db", "mongo_drop_db", "mongo_collection_names", "mongo_get_database",
      "mongo_rollback", "mongo_commit", "mongo_find_hash", "mongo_aggregate", "mongo_create_collection",
      "mongo_exists_collection", "mongoc_read_command", "mongoc_write_command"};
  for (int i = 0; i < KEYWORD_COUNT; i++) {
    for (const char* tail : {"", "(", " x", ".", ";"}) {
      std::string s = std::string(words[i]) + tail;
      char* p = s.data();
      EXPECT_EQ(keyword_lookup(p), i) << s;
      EXPECT_EQ(p, s.data() + std::strlen(words[i])) << s;
    }
  }
  for (const char* s : {"select2", "selectx", "sel", "breaks", "do_", "fo", "format", "x", "else", "case", "in",
                        "of", "typeof", "new", "Select", "yield", "mongo_find_x", "selectHashToFrontX", "e"}) {
    std::string t = s;
    char* p = t.data();
    EXPECT_EQ(keyword_lookup(p), -1) << s;
    EXPECT_EQ(p, t.data());
  }
}

static std::string name_of(int len) { return std::string(static_cast<size_t>(len), 'n'); }

TEST_F(FrontendLexer, NameLength) {
  ParseOutcome o = parse_source(name_of(200) + " = 1");
  EXPECT_EQ(o.code, 0);
  o = parse_source(name_of(201) + " = 1");
  EXPECT_EQ(o.code, 1005);
  EXPECT_EQ(error_detail(o.text), "関数・変数名の長さ不正");
  o = parse_source("x = " + name_of(5000));
  EXPECT_EQ(o.code, 1005);
  o = parse_source("x = a." + name_of(201));
  EXPECT_EQ(o.code, 1005);
}

TEST_F(FrontendLexer, SourceExcerpt) {
  std::string jp;
  for (int i = 0; i < 200; i++) jp += "\xe3\x81\x82";   // three bytes per character
  EXPECT_EQ(std::string(source_excerpt(jp.c_str(), 100)), jp.substr(0, 300));
  EXPECT_EQ(std::string(source_excerpt(jp.c_str(), 1000)), jp.substr(0, 510));
  EXPECT_STREQ(source_excerpt("abc\r\ndef", 100), "abc");
  EXPECT_STREQ(source_excerpt("ab\rc\n", 100), "ab\rc");
  EXPECT_STREQ(source_excerpt("abcdef", 3), "abc");
  // A sequence cut by the end of the text stops there.
  const char cut[] = "a\xe3\x81";
  EXPECT_STREQ(source_excerpt(cut, 100), "a\xe3\x81");
  EXPECT_STREQ(source_excerpt("", 100), "");
}

TEST_F(FrontendLexer, FindClosing) {
  struct Case {
    const char* text;   // text after the opening bracket
    char close, open;
    int at;             // offset of the answer, -1 for none
  } cases[] = {
      {"a, b)", ')', '(', 4},
      {"f(x), (y))", ')', '(', 9},
      {"\")\", ')')", ')', '(', 8},
      {"`)` + \"\\\")\")", ')', '(', 11},
      {"\\)x)", ')', '(', 3},
      {"[1, [2]], 3]", ']', '[', 11},
      {"a: '}' }", '}', '{', 7},
      {"(a)", ')', '(', -1},
      {"'abc)", ')', '(', -1},
      {"", ')', '(', -1},
  };
  for (const auto& c : cases) {
    std::string s = std::string(1, c.open) + c.text;
    char* r = find_closing(s.data() + 1, c.close, c.open);
    EXPECT_EQ(r ? static_cast<int>(r - s.data() - 1) : -1, c.at) << c.text;
  }
}

TEST_F(FrontendLexer, MultiToWide) {
  uint16_t out[16];
  EXPECT_EQ(MultiToWide("a\xc3\xa9\xe3\x81\x82", 6, out, 14), 3);
  EXPECT_EQ(out[0], 'a');
  EXPECT_EQ(out[1], 0xE9);
  EXPECT_EQ(out[2], 0x3042);
  EXPECT_EQ(out[3], 0);
  // Empty input: two terminating units.
  out[0] = out[1] = 7;
  EXPECT_EQ(MultiToWide("", 0, out, 14), 0);
  EXPECT_EQ(out[0], 0);
  EXPECT_EQ(out[1], 0);
  // Stops at srclen, at a NUL byte, and after dstmax units.
  EXPECT_EQ(MultiToWide("abcdef", 3, out, 14), 3);
  EXPECT_EQ(MultiToWide("ab\0cd", 5, out, 14), 2);
  EXPECT_EQ(MultiToWide("abcdef", 6, out, 4), 4);
  EXPECT_EQ(out[4], 0);
  // Malformed leads and cut sequences become U+FFFD and the scan goes on.
  EXPECT_EQ(MultiToWide("\x80x\xf9y\xe3\x81", 6, out, 14), 6);
  EXPECT_EQ(out[0], 0xFFFD);
  EXPECT_EQ(out[1], 'x');
  EXPECT_EQ(out[2], 0xFFFD);
  EXPECT_EQ(out[3], 'y');
  EXPECT_EQ(out[4], 0xFFFD);
  EXPECT_EQ(out[5], 0xFFFD);   // the continuation byte left over
  // A code point above 16 bits is run-time error 1595.
  static uint16_t big[8];
  EXPECT_EQ(run_catching([] { MultiToWide("\xf0\x9f\x98\x80", 4, big, 6); }), 1595);
  EXPECT_NE(std::string(message_buffer).find("MultiToWide 文字の変換エラー(サロゲート文字)"), std::string::npos);
}

TEST_F(FrontendLexer, WideToMulti) {
  const uint16_t in[] = {'a', 0xE9, 0x3042, 0xD800, 0};
  char out[32];
  EXPECT_EQ(WideToMulti(in, 5, out, 28), 1 + 2 + 3 + 3);
  EXPECT_STREQ(out, "a\xc3\xa9\xe3\x81\x82\xed\xa0\x80");
  EXPECT_EQ(WideToMulti(in, 2, out, 28), 3);
  // The limit is tested before each unit.
  EXPECT_EQ(WideToMulti(in, 5, out, 2), 3);
  EXPECT_STREQ(out, "a\xc3\xa9");
  // Round trip through both converters.
  uint16_t wide[64];
  const char* text = "ab\xe3\x81\x82\xe3\x81\x84 c";
  int units = MultiToWide(text, static_cast<int>(std::strlen(text)), wide, 60);
  EXPECT_EQ(WideToMulti(wide, units, out, 28), static_cast<int>(std::strlen(text)));
  EXPECT_STREQ(out, text);
}

TEST_F(FrontendLexer, TextUtilities) {
  char t1[] = " \t a b \t";
  EXPECT_EQ(trim_blanks(t1), 3u);
  EXPECT_STREQ(t1, "a b");
  char t2[] = "Select x";
  upper_in_place(t2);
  EXPECT_STREQ(t2, "SELECT X");
  EXPECT_EQ(casefold_compare("SELECT", "select", 6), 0);
  EXPECT_NE(casefold_compare("select", "SELECT", 6), 0);   // only the first text is folded
  EXPECT_TRUE(word_at("case 1", "case"));
  EXPECT_FALSE(word_at("cases", "case"));
  EXPECT_FALSE(word_at("cas", "case"));
  const char* q = R"(a\\'b\\\'c')";
  EXPECT_EQ(next_unescaped_quote(q, '\''), q + 3);        // two backslashes: not escaped
  EXPECT_EQ(next_unescaped_quote(q + 4, '\''), q + 10);   // three: escaped
  const char* u = R"('a:b' \\: x)";
  EXPECT_EQ(next_unquoted_char(u, ':'), u + 8);
  const char* u2 = R"(\: x:y)";
  EXPECT_EQ(next_unquoted_char(u2, ':'), u2 + 4);
  EXPECT_EQ(hex_digit_value('f'), 15);
  EXPECT_EQ(hex_digit_value('G'), -1);
  EXPECT_EQ(hex_digit_char(11), 'B');
  char path[] = "dir\\sub\\m.js";
  path_to_slashes(path);
  EXPECT_STREQ(path, "dir/sub/m.js");
  uint8_t out[16];
  EXPECT_EQ(base64_decode("aGVsbG8=", 8, out, sizeof out), 5u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(out), 5), "hello");
  EXPECT_EQ(base64_decode("aGVsbG8=", 8, out, 3), 3u);
  char kind = 0;
  EXPECT_EQ(temp_reference("^H000042", 8, &kind), 42);
  EXPECT_EQ(kind, 'H');
  EXPECT_EQ(temp_reference("^X000042", 8, &kind), -1);
  EXPECT_EQ(temp_reference("^A00042", 7, &kind), -1);
  EXPECT_EQ(std::strlen(local_time_stamp()), 19u);
}

}  // namespace
