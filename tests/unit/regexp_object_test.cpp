// The RegExp object: match results, exec/test and lastIndex, source, properties, errors.
#include <string>
#include <vector>

#include "eval/eval.h"
#include "store/store_state.h"
#include "regexp_test_support.h"

namespace {

using ObjectTest = RegexpTest;

DW str(const char* s) { return make_string(s, std::strlen(s), 1); }
std::string text_of(DW v) {
  if (dw_type(v) != T_STRING) return "<type " + std::to_string(dw_type(v)) + ">";
  return std::string(str_text(v), str_rec(v)->len);
}
uint32_t nm(const char* s) { return name_intern_text(s, std::strlen(s)); }

struct Pair { DW key, value; };
std::vector<Pair> pairs_of(DW keyed) {
  std::vector<Pair> out;
  if (dw_type(keyed) != T_KEYED) return out;
  KeyedRec* r = reinterpret_cast<KeyedRec*>(dw_rec(keyed));
  const DW* p = static_cast<const DW*>(area_ptr(r->pairs));
  for (uint32_t k = 0; k < r->count; k++) out.push_back({p[2 * k], p[2 * k + 1]});
  return out;
}
std::vector<int32_t> ints_of(DW arr) {
  std::vector<int32_t> out;
  if (dw_type(arr) != T_ARRAY) return out;
  ArrRec* r = reinterpret_cast<ArrRec*>(dw_rec(arr));
  const DW* e = static_cast<const DW*>(area_ptr(r->elems));
  for (uint32_t k = 0; k < r->count; k++) out.push_back(reinterpret_cast<IntRec*>(dw_rec(e[k]))->value);
  return out;
}
int32_t int_of(DW v) { return dw_type(v) == T_INT ? reinterpret_cast<IntRec*>(dw_rec(v))->value : -999; }

DW call(DW re, const char* method, std::vector<DW> args, int* code) {
  DW out = 0;
  *code = raised_code([&] { out = regexp_method(re, nm(method), args.data(), static_cast<int>(args.size())); });
  return out;
}
DW prop(DW re, const char* name, int* code) {
  DW out = 0;
  *code = raised_code([&] { out = regexp_property(re, nm(name)); });
  return out;
}

TEST_F(ObjectTest, ExecResultShape) {
  DW re = rx("(\\d+)-(\\d+)");
  DW subject = str("x12-345");
  int code;
  DW res = call(re, "exec", {subject}, &code);
  ASSERT_EQ(code, 0);
  std::vector<Pair> p = pairs_of(res);
  ASSERT_EQ(p.size(), 6u);
  EXPECT_EQ(p[0].key, INDEX_KEY_BASE);
  EXPECT_EQ(text_of(p[0].value), "12-345");
  EXPECT_EQ(p[1].key, static_cast<DW>(NAME_INDEX));
  EXPECT_EQ(int_of(p[1].value), 1);
  EXPECT_EQ(p[2].key, static_cast<DW>(NAME_INPUT));
  EXPECT_EQ(p[2].value, subject);  // the subject itself, one more reference
  EXPECT_EQ(*dw_header(subject) >> 4, 2u);
  EXPECT_EQ(p[3].key, static_cast<DW>(NAME_INDICES));
  EXPECT_EQ(p[4].key, INDEX_KEY_BASE + 1);
  EXPECT_EQ(text_of(p[4].value), "12");
  EXPECT_EQ(p[5].key, INDEX_KEY_BASE + 2);
  EXPECT_EQ(text_of(p[5].value), "345");
  EXPECT_EQ(reinterpret_cast<KeyedRec*>(dw_rec(res))->cap, 6u);

  std::vector<Pair> ind = pairs_of(p[3].value);
  ASSERT_EQ(ind.size(), 5u);
  EXPECT_EQ(ints_of(ind[0].value), (std::vector<int32_t>{1, 7}));
  EXPECT_EQ(ind[1].key, INDEX_KEY_BASE + 1);
  EXPECT_EQ(ints_of(ind[1].value), (std::vector<int32_t>{1, 3}));
  EXPECT_EQ(ints_of(ind[2].value), (std::vector<int32_t>{4, 7}));
  EXPECT_EQ(ind[3].key, static_cast<DW>(NAME_GROUPS));
  EXPECT_EQ(ind[3].value, DW_UNDEFINED);
  EXPECT_EQ(ind[4].key, static_cast<DW>(NAME_LENGTH));
  EXPECT_EQ(int_of(ind[4].value), 3);
  dw_release(res);
  EXPECT_EQ(*dw_header(subject) >> 4, 1u);
}

TEST_F(ObjectTest, ExecWithoutGroupsNamedGroupsAndNonAscii) {
  int code;
  DW res = call(rx("b+"), "exec", {str("aabbbc")}, &code);
  std::vector<Pair> p = pairs_of(res);
  ASSERT_EQ(p.size(), 4u);
  EXPECT_EQ(int_of(p[1].value), 2);
  std::vector<Pair> ind = pairs_of(p[3].value);
  ASSERT_EQ(ind.size(), 3u);
  EXPECT_EQ(ind[1].value, DW_UNDEFINED);  // groups
  EXPECT_EQ(int_of(ind[2].value), 1);     // length

  res = call(rx("(?<y>\\d+)年(\\d+)(?<d>日)"), "exec", {str("令和2024年5日")}, &code);
  ASSERT_EQ(code, 0);
  p = pairs_of(res);
  ASSERT_EQ(p.size(), 7u);
  EXPECT_EQ(int_of(p[1].value), 2);  // UTF-16 units: 令和 are two
  EXPECT_EQ(text_of(p[0].value), "2024年5日");
  EXPECT_EQ(text_of(p[4].value), "2024");
  EXPECT_EQ(text_of(p[6].value), "日");
  ind = pairs_of(p[3].value);
  EXPECT_EQ(ints_of(ind[0].value), (std::vector<int32_t>{2, 9}));
  EXPECT_EQ(ints_of(ind[3].value), (std::vector<int32_t>{8, 9}));
  DW groups = ind[4].value;
  ASSERT_EQ(dw_type(groups), T_OBJECT);
  ObjRec* o = reinterpret_cast<ObjRec*>(dw_rec(groups));
  ASSERT_EQ(o->count, 2);
  const DW* op = static_cast<const DW*>(area_ptr(o->pairs));
  EXPECT_EQ(op[0], nm("y"));
  EXPECT_EQ(text_of(op[1]), "2024");
  EXPECT_EQ(op[2], nm("d"));
  EXPECT_EQ(text_of(op[3]), "日");

  // Texts come from the subject as written, not from its folded copy.
  res = call(rx("abc", "i"), "exec", {str("xAbC")}, &code);
  EXPECT_EQ(text_of(pairs_of(res)[0].value), "AbC");
  EXPECT_EQ(call(rx("z"), "exec", {str("abc")}, &code), DW_NULL);
}

TEST_F(ObjectTest, LastIndexProgressions) {
  struct Row { const char* pat; const char* flags; const char* subject; std::vector<int32_t> starts; std::vector<uint32_t> after; };
  const Row rows[] = {
      {"a", "g", "aXaXa", {0, 2, 4, -1, 0}, {1, 3, 5, 0, 1}},
      {"a", "y", "aab", {0, 1, -1, 0}, {1, 2, 0, 1}},
      {"a", "", "aXa", {0, 0}, {0, 0}},  // without g or y every search starts at 0
      {"う", "g", "あいうう", {2, 3, -1}, {3, 4, 0}},
      {"x*", "g", "ab", {0, 0}, {0, 0}},  // an empty match leaves lastIndex where it was
  };
  for (const Row& r : rows) {
    DW re = rx(r.pat, r.flags);
    DW s = str(r.subject);
    for (size_t k = 0; k < r.starts.size(); k++) {
      int code;
      DW res = call(re, "exec", {s}, &code);
      ASSERT_EQ(code, 0);
      int32_t start = res == DW_NULL ? -1 : int_of(pairs_of(res)[1].value);
      EXPECT_EQ(start, r.starts[k]) << r.pat << " step " << k;
      EXPECT_EQ(rx_head(re)->lastIndex, r.after[k]) << r.pat << " step " << k;
    }
  }
  // test follows the same rules; lastIndex reads as an integer and assigns through its location.
  DW re = rx("o", "g");
  DW s = str("foo");
  int code;
  EXPECT_EQ(call(re, "test", {s}, &code), DW_TRUE);
  EXPECT_EQ(call(re, "test", {s}, &code), DW_TRUE);
  EXPECT_EQ(int_of(prop(re, "lastIndex", &code)), 3);
  EXPECT_EQ(last_location.kind, LOC_FIELD);
  store_location(last_location, make_int(1, 0), 0);
  EXPECT_EQ(rx_head(re)->lastIndex, 1u);
  EXPECT_EQ(call(re, "test", {s}, &code), DW_TRUE);
  EXPECT_EQ(call(re, "test", {s}, &code), DW_TRUE);
  EXPECT_EQ(call(re, "test", {s}, &code), DW_FALSE);
  EXPECT_EQ(rx_head(re)->lastIndex, 0u);
  rx_head(re)->lastIndex = 99;  // beyond the subject: no match, back to 0
  EXPECT_EQ(call(re, "exec", {s}, &code), DW_NULL);
  EXPECT_EQ(rx_head(re)->lastIndex, 0u);
}

TEST_F(ObjectTest, SourceAndToString) {
  struct Row { const char* pat; const char* flags; const char* text; };
  const Row rows[] = {
      {"a|b", "", "/a|b/"},
      {"ab*", "gi", "/AB*/ig"},
      {"x", "gimsy", "/X/imgys"},
      {"a{2,3}?b{2}c{2,}d{3,}?", "", "/a{2,3}?b{2}c{2,}d{3,}?/"},
      {"a*?b+?c??", "", "/a*?b+?c?" "?/"},
      {"(?:ab)+c", "", "/(?:ab)+c/"},
      {"(?<n>x)\\1", "", "/(x)\\1/"},
      {"a(?=b)c(?!d)", "", "/a(?=b)c(?!d)/"},
      {"(?<=a)b(?<!c)d", "", "/(?<=a)b(?<!c)d/"},
      {"(?=a)(x)(?!y)", "", "/(?=a)(x)(?!y)/"},
      {"[a-c\\d]", "", "/[\\dabc]/"},
      {"[^\\]\\-^]", "", "/[^\\]\\-\\^]/"},
      {"a\\.b\\/\\$", "", "/a\\.b\\/\\$/"},
      {"\\n\\t\\x01", "", "/\\n\\t\\x01/"},
      {"^\\w\\W\\d\\D\\s\\S\\b\\B.[^]$", "", "/^\\w\\W\\d\\D\\s\\S\\b\\B.[^]$/"},
      {"日本+", "", "/日本+/"},
  };
  for (const Row& r : rows) {
    DW re = rx(r.pat, r.flags);
    int code;
    DW t = call(re, "toString", {}, &code);
    ASSERT_EQ(code, 0) << r.pat;
    EXPECT_EQ(text_of(t), r.text) << r.pat;
    // The source compiles back to the same pattern.
    size_t n;
    std::string src = regexp_source(re, &n);
    DW again = rx(src.c_str(), r.flags);
    ASSERT_TRUE(again) << src;
    EXPECT_EQ(std::string(regexp_source(again, &n)), src);
  }
  char small[6];
  DW re = rx("abcdef");
  EXPECT_EQ(regexp_text(re, small, sizeof small), 8u);
  EXPECT_STREQ(small, "/abcd");
  // Codes the regeneration does not know.
  items_of(re)[0].quant = 0x11;
  EXPECT_EQ(raised_code([&] { regexp_to_string(re); }), 5050);
  EXPECT_EQ(raised_message(), "正規表現の{min,max}不正");
  items_of(re)[0].quant = 0;
  items_of(re)[0].kind = 77;
  EXPECT_EQ(raised_code([&] { regexp_to_string(re); }), 5065);
  EXPECT_EQ(raised_message(), "正規表現のコマンド不正");
}

TEST_F(ObjectTest, Properties) {
  DW plain = rx("a/b");
  DW all = rx("x", "gimsy");
  int code;
  EXPECT_EQ(prop(plain, "flags", &code), DW_NULL);
  EXPECT_EQ(text_of(prop(rx("x", "gi"), "flags", &code)), "ig");
  EXPECT_EQ(text_of(prop(all, "flags", &code)), "imgys");
  struct Row { const char* name; DW plainValue, allValue; };
  const Row rows[] = {
      {"dotAll", DW_FALSE, DW_TRUE},    {"global", DW_FALSE, DW_TRUE},
      {"ignoreCase", DW_FALSE, DW_TRUE}, {"multiline", DW_FALSE, DW_TRUE},
      {"sticky", DW_FALSE, DW_TRUE},    {"unicode", DW_TRUE, DW_TRUE},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(prop(plain, r.name, &code), r.plainValue) << r.name;
    EXPECT_EQ(prop(all, r.name, &code), r.allValue) << r.name;
    EXPECT_EQ(last_location.kind, LOC_NONE);
  }
  EXPECT_EQ(text_of(prop(plain, "source", &code)), "a\\/b");
  EXPECT_EQ(int_of(prop(plain, "lastIndex", &code)), 0);
  prop(plain, "lastindex", &code);
  EXPECT_EQ(code, 5080);
  EXPECT_EQ(raised_message(), "正規表現プロパティ不正");
}

TEST_F(ObjectTest, MethodErrors) {
  DW re = rx("a");
  DW s = str("a");
  struct Row { const char* method; std::vector<DW> args; int code; const char* message; };
  const Row rows[] = {
      {"match", {s}, 5070, "正規表現のメソッド名不正"},
      {"exec", {}, 5075, "引数の個数不正"},
      {"test", {s, s}, 5075, "引数の個数不正"},
      {"toString", {s}, 5075, "引数の個数不正"},
      {"exec", {make_int(1, 1)}, 5042, "引数不正(非文字列)"},
      {"test", {DW_NULL}, 5045, "引数不正(非文字列)"},
  };
  for (const Row& r : rows) {
    int code;
    call(re, r.method, r.args, &code);
    EXPECT_EQ(code, r.code) << r.method;
    EXPECT_EQ(raised_message(), r.message) << r.method;
    EXPECT_EQ(std::strncmp(message_buffer, "EVAL ERROR", 10), 0);
  }
}

TEST_F(ObjectTest, FreeGivesBackNestedStorage) {
  // Compiling and freeing over and over does not take new blocks in any area.
  auto cycle = [] {
    DW re = rx("(a(?=b)|c(?:d|e)+)x[一-龠]");
    EXPECT_EQ(raised_code([&] { regexp_free(re); }), 0);
  };
  cycle();
  int32_t before[16];
  for (int a = 1; a < 15; a++) before[a] = sized_areas[a].cur;
  uint32_t big = area15_next;
  for (int k = 0; k < 200; k++) cycle();
  for (int a = 1; a < 15; a++) EXPECT_EQ(sized_areas[a].cur, before[a]) << "area " << a;
  EXPECT_EQ(area15_next, big);
}

}  // namespace
