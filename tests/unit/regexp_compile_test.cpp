// The regular-expression compiler: the compiled layout, flags, literals and every compile error.
#include <string>

#include "regexp_test_support.h"

namespace {

using CompileTest = RegexpTest;

TEST_F(CompileTest, FlagLetters) {
  uint8_t f = 0;
  EXPECT_EQ(raised_code([&] { f = regexp_flags("gimsyu", 6); }), 0);
  EXPECT_EQ(f, RXF_GLOBAL | RXF_IGNORECASE | RXF_MULTILINE | RXF_DOTALL | RXF_STICKY);
  EXPECT_EQ(raised_code([&] { f = regexp_flags("u", 1); }), 0);
  EXPECT_EQ(f, 0);
  EXPECT_EQ(raised_code([] { regexp_flags("gx", 2); }), 4795);
  EXPECT_EQ(raised_message(), "正規表現のオプション不正(gx)");
}

TEST_F(CompileTest, SequenceHeaderAndItems) {
  DW re = rx("ab*", "g");
  ASSERT_TRUE(re);
  EXPECT_EQ(dw_type(re), T_REGEXP);
  RxHead* h = rx_head(re);
  EXPECT_EQ(h->hdr, T_REGEXP);  // header byte: type 7, count 0
  EXPECT_EQ(h->flags, RXF_GLOBAL);
  EXPECT_EQ(h->lastIndex, 0u);
  ASSERT_EQ(h->count, 2);
  RxItem* it = items_of(re);
  EXPECT_EQ(it[0].kind, RX_UNIT);
  EXPECT_EQ(it[0].quant, RXQ_NONE);
  EXPECT_EQ(pool_units(re, it[0]), std::vector<uint16_t>{'a'});
  EXPECT_EQ(it[1].kind, RX_UNIT);
  EXPECT_EQ(it[1].quant, RXQ_OPEN);
  EXPECT_EQ(it[1].min, 0);
  EXPECT_EQ(it[1].max, RXQ_UNLIMITED);
  EXPECT_EQ(pool_units(re, it[1]), std::vector<uint16_t>{'b'});
  // Each literal is followed by a 0 unit in the pool.
  EXPECT_EQ(rx_pool(h)[it[0].text + 1], 0);

  re = rx("abc+d");
  it = items_of(re);
  ASSERT_EQ(rx_head(re)->count, 3);
  EXPECT_EQ(it[0].kind, RX_RUN);
  EXPECT_EQ(pool_units(re, it[0]), (std::vector<uint16_t>{'a', 'b'}));
  EXPECT_EQ(it[1].kind, RX_UNIT);
  EXPECT_EQ(it[1].min, 1);
  EXPECT_EQ(it[2].kind, RX_UNIT);
}

TEST_F(CompileTest, QuantifierEncoding) {
  struct Row { const char* pat; uint8_t code; uint16_t min, max; };
  const Row rows[] = {
      {"a*", RXQ_OPEN, 0, RXQ_UNLIMITED},
      {"a+", RXQ_OPEN, 1, RXQ_UNLIMITED},
      {"a?", RXQ_OPT, 0, 1},
      {"a*?", RXQ_OPEN | RXQ_LAZY, 0, RXQ_UNLIMITED},
      {"a+?", RXQ_OPEN | RXQ_LAZY, 1, RXQ_UNLIMITED},
      {"a??", RXQ_OPT | RXQ_LAZY, 0, 1},
      {"a{3}", RXQ_EXACT, 3, 3},
      {"a{3}?", RXQ_EXACT, 3, 3},
      {"a{2,}", RXQ_OPEN, 2, RXQ_UNLIMITED},
      {"a{2,}?", RXQ_OPEN | RXQ_LAZY, 2, RXQ_UNLIMITED},
      {"a{2,3}", RXQ_RANGE, 2, 3},
      {"a{2,3}?", RXQ_RANGE | RXQ_LAZY, 2, 3},
      {"a{65535}", RXQ_EXACT, 65535, 65535},
      {"\\d{1,65535}", RXQ_RANGE, 1, 65535},
  };
  for (const Row& r : rows) {
    DW re = rx(r.pat);
    ASSERT_TRUE(re) << r.pat;
    const RxItem& it = items_of(re)[0];
    EXPECT_EQ(it.quant, r.code) << r.pat;
    EXPECT_EQ(it.min, r.min) << r.pat;
    EXPECT_EQ(it.max, r.max) << r.pat;
  }
}

TEST_F(CompileTest, ItemKinds) {
  struct Row { const char* pat; std::vector<uint8_t> kinds; };
  const Row rows[] = {
      {"^a$", {RX_BOL, RX_UNIT, RX_EOL}},
      {"\\w\\W\\d\\D\\s\\S\\b\\B", {RX_WORD, RX_NWORD, RX_DIGIT, RX_NDIGIT, RX_SPACE, RX_NSPACE, RX_WBOUND, RX_NWBOUND}},
      {".[^][x][^x]", {RX_DOT, RX_ANY, RX_CLASS, RX_NCLASS}},
      {"(a)(?:b)\\1", {RX_GROUP, RX_NCGROUP, RX_BACKREF}},
      {"ab\\.c", {RX_RUN}},
      {"a\\d", {RX_UNIT, RX_DIGIT}},
  };
  for (const Row& r : rows) {
    DW re = rx(r.pat);
    ASSERT_TRUE(re) << r.pat;
    RxHead* h = rx_head(re);
    std::vector<uint8_t> kinds;
    for (int k = 0; k < h->count; k++) kinds.push_back(items_of(re)[k].kind);
    EXPECT_EQ(kinds, r.kinds) << r.pat;
  }
}

TEST_F(CompileTest, ClassesStoreExpandedUnits) {
  DW re = rx("[a-c]");
  RxItem it = items_of(re)[0];
  EXPECT_EQ(it.kind, RX_CLASS);
  EXPECT_EQ(pool_units(re, it), (std::vector<uint16_t>{'a', 'b', 'c'}));
  re = rx("[a-cZ]", "i");
  it = items_of(re)[0];
  EXPECT_EQ(pool_units(re, it), (std::vector<uint16_t>{'A', 'B', 'C', 'Z'}));
  re = rx("[^\\d\\s_-]");
  it = items_of(re)[0];
  EXPECT_EQ(it.kind, RX_NCLASS);
  EXPECT_EQ(it.cls, RXC_D | RXC_S);
  EXPECT_EQ(pool_units(re, it), (std::vector<uint16_t>{'_', '-'}));
  EXPECT_EQ(rx_pool(rx_head(re))[it.text + it.len], 0);  // 0 unit after the units
  re = rx("[-a\\]\\n\\x41\\u3042\\cA]");
  it = items_of(re)[0];
  EXPECT_EQ(pool_units(re, it), (std::vector<uint16_t>{'-', 'a', ']', '\n', 'A', 0x3042, 1}));
  re = rx("[ぁ-ぃ]");
  EXPECT_EQ(pool_units(re, items_of(re)[0]), (std::vector<uint16_t>{0x3041, 0x3042, 0x3043}));
}

TEST_F(CompileTest, ClassMatcherFormAgreesWithTheUnits) {
  // Random sets of ranges, many across 64-unit boundaries; every unit's membership is checked.
  uint64_t seed = 42;
  auto next = [&] {
    seed ^= seed << 13;
    seed ^= seed >> 7;
    seed ^= seed << 17;
    return static_cast<unsigned>(seed >> 20);
  };
  for (int round = 0; round < 40; round++) {
    std::vector<bool> in(0x10000, false);
    std::string pat = "[";
    char buf[32];
    int n = 1 + static_cast<int>(next() % 6);
    for (int k = 0; k < n; k++) {
      unsigned lo = 0x60 + next() % 0x400, len = next() % (k % 2 ? 3 : 200);
      unsigned hi = lo + len;
      if (len) std::snprintf(buf, sizeof buf, "\\u%04X-\\u%04X", lo, hi);
      else std::snprintf(buf, sizeof buf, "\\u%04X", lo);
      pat += buf;
      for (unsigned u = lo; u <= hi; u++) in[u] = true;
    }
    pat += "]";
    DW re = rx(pat.c_str());
    ASSERT_TRUE(re) << pat;
    const RxItem& it = items_of(re)[0];
    const uint16_t* map = rx_pool(rx_head(re)) + it.text + it.len + 1;
    for (unsigned u = 0; u < 0x600; u++) ASSERT_EQ(rx_class_has(map, it.cls, u), in[u]) << pat << " unit " << u;
  }
}

TEST_F(CompileTest, IgnoreCaseUpperCasesLiterals) {
  DW re = rx("ab\\x63", "i");
  RxItem it = items_of(re)[0];
  EXPECT_EQ(it.kind, RX_RUN);
  EXPECT_EQ(pool_units(re, it), (std::vector<uint16_t>{'A', 'B', 'C'}));
}

TEST_F(CompileTest, AlternationContainer) {
  DW re = rx("a|bc|(d)", "gi");
  RxHead* h = rx_head(re);
  EXPECT_EQ(h->flags, RXF_ALTERNATION | RXF_GLOBAL | RXF_IGNORECASE);
  ASSERT_EQ(h->count, 3);
  DW a0 = rx_alt(h, 0), a1 = rx_alt(h, 1), a2 = rx_alt(h, 2);
  EXPECT_EQ(dw_type(a0), T_REGEXP);
  EXPECT_EQ(items_of(a0)[0].kind, RX_UNIT);
  EXPECT_EQ(items_of(a1)[0].kind, RX_RUN);
  EXPECT_EQ(items_of(a2)[0].kind, RX_GROUP);
  EXPECT_EQ(items_of(a2)[0].cls, 1);
  EXPECT_EQ(regexp_group_count(a2), 1);
  // A '|' inside a group or a class does not split the pattern.
  EXPECT_FALSE(rx_head(rx("(a|b)[|]"))->flags & RXF_ALTERNATION);
}

TEST_F(CompileTest, GroupsNumberPerSequence) {
  DW re = rx("(a)((b)c)(?<tag>d)");
  RxItem* it = items_of(re);
  ASSERT_EQ(rx_head(re)->count, 3);
  EXPECT_EQ(it[0].cls, 1);
  EXPECT_EQ(it[1].cls, 2);
  EXPECT_EQ(it[2].cls, 3);
  EXPECT_EQ(regexp_group_count(re), 3);
  // The inner group is group 1 of the nested pattern.
  DW inner = it[1].body;
  EXPECT_EQ(items_of(inner)[0].kind, RX_GROUP);
  EXPECT_EQ(items_of(inner)[0].cls, 1);
  EXPECT_EQ(it[2].name, name_intern_text("tag", 3));
  EXPECT_EQ(regexp_group_by_name(re, name_intern_text("tag", 3)), 3);
  EXPECT_EQ(regexp_group_by_name(re, name_intern_text("nope", 4)), 0);
  // A back-reference holds the referenced group's item index.
  re = rx("x(a)(b)\\2");
  it = items_of(re);
  EXPECT_EQ(it[3].kind, RX_BACKREF);
  EXPECT_EQ(it[3].cls, 2);
  EXPECT_EQ(it[3].text, 2);
}

TEST_F(CompileTest, LookaroundMarkers) {
  DW re = rx("a(?=b)c");
  RxItem* it = items_of(re);
  ASSERT_EQ(rx_head(re)->count, 2);
  EXPECT_EQ(it[0].look, RXL_AHEAD);
  EXPECT_EQ(items_of(it[0].body)[0].kind, RX_UNIT);
  re = rx("x(?<!a)bc");
  it = items_of(re);
  ASSERT_EQ(rx_head(re)->count, 2);
  EXPECT_EQ(it[1].kind, RX_RUN);
  EXPECT_EQ(it[1].look, RXL_NBEHIND);
  // Where the neighbouring item cannot carry the marker, a zero-width item does.
  struct Row { const char* pat; std::vector<uint8_t> kinds; std::vector<uint8_t> looks; };
  const Row rows[] = {
      {"(?=a)b", {RX_EMPTY, RX_UNIT}, {RXL_AHEAD, 0}},
      {"(a)(?!b)", {RX_GROUP, RX_EMPTY}, {0, RXL_NAHEAD}},
      {"(?<=a)(b)", {RX_EMPTY, RX_GROUP}, {RXL_BEHIND, 0}},
      {"a(?=b)(?=c)", {RX_UNIT, RX_EMPTY}, {RXL_AHEAD, RXL_AHEAD}},
      {"(?<=a)(?<=b)c", {RX_EMPTY, RX_UNIT}, {RXL_BEHIND, RXL_BEHIND}},
      {"(?<=a)b(?=c)", {RX_UNIT, RX_EMPTY}, {RXL_BEHIND, RXL_AHEAD}},
  };
  for (const Row& r : rows) {
    re = rx(r.pat);
    ASSERT_TRUE(re) << r.pat;
    std::vector<uint8_t> kinds, looks;
    for (int k = 0; k < rx_head(re)->count; k++) {
      kinds.push_back(items_of(re)[k].kind);
      looks.push_back(items_of(re)[k].look);
    }
    EXPECT_EQ(kinds, r.kinds) << r.pat;
    EXPECT_EQ(looks, r.looks) << r.pat;
  }
}

TEST_F(CompileTest, LoadPhaseCompileIsUsable) {
  store_reset();
  name_table_reset();
  DW re = rx("(x+)y");  // word area storage
  ASSERT_TRUE(re);
  store_switch_to_run_phase();
  Found f = search_in(re, "axxy");
  EXPECT_EQ(f.text, "xxy");
}

TEST_F(CompileTest, Literals) {
  struct Row { const char* text; int code; size_t used; const char* source; uint8_t flags; };
  const Row rows[] = {
      {"abc/g;", 0, 5, "abc", RXF_GLOBAL},
      {"a\\/b/ x", 0, 5, "a\\/b", 0},
      {"\\\\/i", 0, 4, "\\\\", RXF_IGNORECASE},  // an escaped backslash does not hide the slash
      {"[/]/", 0, 4, "[/]", 0},                   // nor does a class
      {"abc", 4805, 0, nullptr, 0},
      {"ab\n/", 4805, 0, nullptr, 0},
      {"a/q", 4795, 0, nullptr, 0},
      {"/", 4615, 0, nullptr, 0},
  };
  for (const Row& r : rows) {
    DW h = 0;
    const char* end = nullptr;
    int code = raised_code([&] { end = regexp_literal(r.text, &h); });
    EXPECT_EQ(code, r.code) << r.text;
    if (code) continue;
    EXPECT_EQ(static_cast<size_t>(end - r.text), r.used) << r.text;
    size_t n;
    EXPECT_EQ(std::string(regexp_source(h, &n)), r.source) << r.text;
    EXPECT_EQ(rx_head(h)->flags, r.flags) << r.text;
  }
}

TEST_F(CompileTest, Constructor) {
  DW re = 0;
  DW args[2] = {make_string("a+", 2, 1), make_string("gi", 2, 1)};
  EXPECT_EQ(raised_code([&] { re = regexp_construct(args, 2); }), 0);
  EXPECT_EQ(rx_head(re)->flags, RXF_GLOBAL | RXF_IGNORECASE);
  DW bad[2] = {make_int(3, 1), args[1]};
  EXPECT_EQ(raised_code([&] { regexp_construct(bad, 1); }), 5085);
  EXPECT_EQ(raised_message(), "正規表現のパターン不正(非文字列)");
  DW bad2[2] = {args[0], make_int(3, 1)};
  EXPECT_EQ(raised_code([&] { regexp_construct(bad2, 2); }), 5090);
  EXPECT_EQ(raised_message(), "正規表現のオプション不正(非文字列)");
  DW empty[1] = {make_string("", 0, 1)};
  EXPECT_EQ(raised_code([&] { regexp_construct(empty, 1); }), 4615);
  DW x[2] = {args[0], make_string("x", 1, 1)};
  EXPECT_EQ(raised_code([&] { regexp_construct(x, 2); }), 4795);
  // Compile errors are parse errors even at run time.
  EXPECT_EQ(std::strncmp(message_buffer, "PARSE ERROR 4795", 16), 0);
}

TEST_F(CompileTest, EveryCompileError) {
  struct Row { int code; std::string pat; const char* message; };
  const std::string longName = "(?<" + std::string(201, 'n') + ">x)";
  std::string manyGroups;
  for (int k = 0; k < 256; k++) manyGroups += "(a)";
  std::string deep;
  for (int k = 0; k < 201; k++) deep += "(?:";
  deep += "a";
  for (int k = 0; k < 201; k++) deep += ")";
  const Row rows[] = {
      {4600, "a[]", "正規表現のフォーマット不正 ([ ])"},
      {4605, "*a", "正規表現のフォーマット不正 (*)"},
      {4605, "{2}", "正規表現のフォーマット不正 ({)"},
      {4605, "\\d*{2}", nullptr},
      {4605, "(?<=a)*b", nullptr},
      {4610, "a*{2}", "正規表現のフォーマット不正 ({)"},
      {4615, "", "正規表現のフォーマット不正 (空文字列)"},
      {4615, "a|", nullptr},
      {4615, "a||b", nullptr},
      {4615, "()", nullptr},
      {4620, "\\b{2}", "'\\b{2}'のフォーマット不正 ({ })"},
      {4625, "(?<1a>x)", "RegExp グループ不正"},
      {4625, "(?<>x)", nullptr},
      {4625, "(?x)", nullptr},
      {4630, longName, "RegExp グループ不正"},
      {4635, "(?<abc)", "'(?<abc)'のフォーマット不正 (、)"},
      {4640, "(a", "'(a'のフォーマット不正 (、)"},
      {4640, "a)", nullptr},
      {4640, "(a[)]", nullptr},
      {4645, "a(?=b)*", "'a(?=b)*'のフォーマット不正 (?=...)、(?!...)"},
      {4645, "a(?!b){2}", nullptr},
      {4650, "a(?<=b)", "'a(?<=b)'のフォーマット不正 (?<=...)。(?<!...)"},
      {4650, "(?<!b)|a", nullptr},
      {4655, "a**", "'a**'のフォーマット不正 (*)"},
      {4660, "\\b*", "'\\b*'のフォーマット不正 (*)"},
      {4660, "(a)*", nullptr},
      {4665, "a+*", "'a+*'のフーマット不正 (*+)"},
      {4670, "(ab)+", "'(ab)+'のォーマット不正 (+)"},
      {4675, "a?+", "'a?+'のォーマット不正 (*)"},
      {4680, "\\B?", "'\\B?'のォーマット不正 (?)"},
      {4685, "a^", "'a^'のォーマット不正 ($)"},
      {4687, "a$b", "'a$b'のォーマット不正 ($)"},
      {4690, "\\c1", "正規表現の文字不正"},
      {4690, "\\ca", nullptr},
      {4695, "\\xZ1", "正規表現の文字不正"},
      {4695, "\\x4", nullptr},
      {4700, "\\u12", "正規表現の文字不正"},
      {4700, "\\u{41}", nullptr},
      {4705, "\\1", "正規表現のフォーマット不正 (\\0 ... \\9)"},
      {4705, "(a)|\\1", nullptr},
      {4705, "(a)(?:\\1)", nullptr},
      {4710, "a\\", "正規表現のフォーマット不正"},
      {4715, "\\q", "正規表現のフォーマット不正"},
      {4715, "\\k<a>", nullptr},
      {4720, "[z-a]", "正規表現のフォーマット不正 ([ - ])"},
      {4720, "[a-a]", nullptr},
      {4720, "[a-\\d]", nullptr},
      {4725, "[\\c1]", "正規表現の文字不正"},
      {4730, "[\\xG0]", "正規表現の文字不正"},
      {4735, "[\\u00G0]", "正規表現の文字不正"},
      {4740, "[\\", "正規表現のエスケープ不正"},
      {4745, "[\\q]", "正規表現のエスケープ不正"},
      {4745, "[\\b]", nullptr},
      {4750, "a{}", "正規表現のフォーマット不正 ({ })"},
      {4750, "a{0}", nullptr},
      {4750, "a{65536}", nullptr},
      {4755, "a{0,3}", "正規表現のフォーマット不正 ({ })"},
      {4755, "a{,3}", nullptr},
      {4760, "a{x}", "正規表現の数字フォーマット不正 { }"},
      {4765, "a{3,2}", "正規表現のフォーマット不正"},
      {4765, "a{1,65536}", nullptr},
      {4770, "a{2,x}", "正規表現の数字フォーマット不正 { }"},
      {4775, "[abc", "正規表現のフォーマット不正 ([ ])"},
      {4780, "a{2", "正規表現のフォーマット不正 ([ ])"},
      {4780, "a{2,3", nullptr},
      {RX_ERR_GROUPS, manyGroups, nullptr},
      {RX_ERR_NESTING, deep, "正規表現のフォーマット不正 (ネスト過多)"},
      {RX_ERR_SIZE, "[\\u0000-\\uFFFF]", "正規表現のフォーマット不正 (パターン過大)"},
      {RX_ERR_SIZE, std::string(70000, 'a'), nullptr},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(rx_error(r.pat.data(), r.pat.size()), r.code) << r.pat.substr(0, 40);
    if (r.message) {
      EXPECT_EQ(raised_message(), r.message) << r.pat;
    }
  }
  // 255 groups and 200 levels are still accepted.
  std::string groups255;
  for (int k = 0; k < 255; k++) groups255 += "(a)";
  EXPECT_EQ(rx_error(groups255.c_str()), 0);
  EXPECT_EQ(rx_error(deep.substr(3, deep.size() - 4).c_str()), 0);
}

TEST_F(CompileTest, ConversionErrors) {
  // A text that yields no unit: 4800. A character above U+FFFF: the converter's 1595.
  EXPECT_EQ(rx_error("\0a", 2), 4800);
  EXPECT_EQ(raised_message(), "文字のEncode変換不正");
  EXPECT_EQ(rx_error("a\xF0\x9F\x98\x80"), 1595);
  uint16_t buf[16];
  bool alloc = true;
  size_t len = 3;
  uint16_t* t = nullptr;
  EXPECT_EQ(raised_code([&] { t = to_utf16("abc", &len, buf, 16, &alloc, true); }), 0);
  EXPECT_FALSE(alloc);
  EXPECT_EQ(t, buf + 1);
  EXPECT_EQ(len, 3u);
  EXPECT_EQ(t[-1], 0);
  EXPECT_EQ(t[0], 'A');
  EXPECT_EQ(t[2], 'C');
  EXPECT_EQ(t[3], 0);
  len = 12;  // 12 + 6 is not below 16 units: an allocated copy
  EXPECT_EQ(raised_code([&] { t = to_utf16("あいうえ", &len, buf, 16, &alloc, false); }), 0);
  EXPECT_TRUE(alloc);
  EXPECT_EQ(len, 4u);
  EXPECT_EQ(t[3], 0x3048);
  std::free(t - 1);
}

TEST_F(CompileTest, IdentityEscapesOfPunctuation) {
  // Punctuation may be escaped inside and outside classes; letters and digits may not.
  EXPECT_EQ(rx_error("\\-\\,\\:\\'\\\"\\<\\>\\=\\!\\#\\@\\%\\&\\~\\ "), 0);
  EXPECT_EQ(rx_error("[\\.\\/\\*\\+\\?\\(\\)\\{\\}\\|\\$\\^]"), 0);
  EXPECT_EQ(rx_error("\\e"), 4715);
  EXPECT_EQ(rx_error("[\\e]"), 4745);
}

}  // namespace
