// Value store: constructors, deep copy, Integer/Float conversions and the number-text parser.
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "tests/unit/store_test_support.h"

class ValuesTest : public StoreTest {
 protected:
  void SetUp() override {
    StoreTest::SetUp();
    run_phase();
  }
  static int32_t int_of(DW h) { return reinterpret_cast<IntRec*>(dw_rec(h))->value; }
  static double float_of(DW h) { return reinterpret_cast<FloatRec*>(dw_rec(h))->value; }
  static DW* elems_of(DW arr) { return static_cast<DW*>(area_ptr(reinterpret_cast<ArrRec*>(dw_rec(arr))->elems)); }
  static DW str(const char* s) { return make_string(s, std::strlen(s), 0); }
};

// ---- constructors ----

TEST_F(ValuesTest, NumbersCarryTypeCountAndValue) {
  DW i = make_int(-42, 1), f = make_float(2.75, 0);
  EXPECT_EQ(dw_type(i), T_INT);
  EXPECT_EQ(*dw_rec(i), T_INT | 0x10);
  EXPECT_EQ(int_of(i), -42);
  EXPECT_EQ(dw_type(f), T_FLOAT);
  EXPECT_EQ(*dw_rec(f), T_FLOAT);
  EXPECT_EQ(float_of(f), 2.75);
}

TEST_F(ValuesTest, StringsAreCopiedTerminatedAndSized) {
  struct Case {
    const char* text;
    size_t len;
    const char* stored;   // the bytes up to len
  };
  const Case cases[] = {{"hello world", 5, "hello"}, {"", 0, ""}, {"a\0bc", 4, "a\0\0\0"}, {nullptr, 3, "\0\0\0"}};
  for (const Case& c : cases) {
    DW s = make_string(c.text, c.len, 1);
    StrRec* r = str_rec(s);
    EXPECT_EQ(r->hdr, T_STRING | 0x10);
    EXPECT_EQ(r->len, c.len);
    EXPECT_EQ(r->cap, c.len + 8);
    EXPECT_EQ(std::memcmp(str_text(s), c.stored, c.len), 0) << c.len;
    EXPECT_EQ(str_text(s)[c.len], 0);
  }
  DW big = make_string(std::string(3000, 'z').c_str(), 3000, 0);
  EXPECT_EQ((str_rec(big)->text >> 20) & 0xF, 15u);
  EXPECT_EQ(std::strlen(str_text(big)), 3000u);
}

TEST_F(ValuesTest, ConcatenationJoinsAtMostTotalBytes) {
  struct Case {
    const char *a, *b;
    size_t total;
    const char* want;
  };
  const Case cases[] = {{"abc", "de", 5, "abcde"}, {"abc", "de", 4, "abcd"}, {"abc", "de", 2, "ab"},
                        {"", "xyz", 3, "xyz"},     {"ab", "c", 6, "abc"}};
  for (const Case& c : cases) {
    DW s = make_string_concat(c.a, c.b, c.total, 0);
    EXPECT_EQ(str_rec(s)->len, c.total);
    EXPECT_EQ(str_rec(s)->cap, c.total + 8);
    EXPECT_STREQ(str_text(s), c.want);
    for (size_t i = std::strlen(c.want); i <= c.total; i++) EXPECT_EQ(str_text(s)[i], 0);
  }
}

TEST_F(ValuesTest, ArraysCopyHandlesWithRoomToGrow) {
  DW a = make_int(1, 0), b = str("x");
  DW in[] = {a, b, DW_NULL};
  DW kept = make_array(in, 3, true);
  DW plain = make_array(in, 3, false);
  ArrRec* r = reinterpret_cast<ArrRec*>(dw_rec(kept));
  EXPECT_EQ(r->hdr, T_ARRAY);
  EXPECT_EQ(r->count, 3u);
  EXPECT_EQ(r->cap, 13u);
  EXPECT_EQ(elems_of(kept)[1], b);
  for (uint32_t i = 3; i < 13; i++) EXPECT_EQ(elems_of(kept)[i], 0u);
  EXPECT_EQ(elems_of(plain)[0], a);
  EXPECT_EQ(header_count(a), 1u);   // only the referencing array counted it
  EXPECT_EQ(reinterpret_cast<ArrRec*>(dw_rec(make_array(nullptr, 0, true)))->cap, 10u);
}

TEST_F(ValuesTest, ObjectsReferenceValuesNotNames) {
  DW v = str("v");
  DW pairs[] = {60, v, 61, DW_TRUE};
  DW o = make_object(pairs, 2);
  ObjRec* r = reinterpret_cast<ObjRec*>(dw_rec(o));
  EXPECT_EQ(r->hdr, T_OBJECT);
  EXPECT_EQ(r->count, 2);
  EXPECT_EQ(r->cap, 12);
  EXPECT_EQ(r->ctor, 0u);
  EXPECT_EQ(r->flags0, 0);
  const DW* p = static_cast<const DW*>(area_ptr(r->pairs));
  EXPECT_EQ(p[0], 60u);
  EXPECT_EQ(p[3], DW_TRUE);
  EXPECT_EQ(p[4], 0u);
  EXPECT_EQ(header_count(v), 1u);
  // Count and capacity are 16-bit fields.
  std::vector<DW> many(2 * 65526, 0);
  EXPECT_EQ(raised_code([&] { make_object(many.data(), 65526); }), 1400);
  EXPECT_EQ(raised_code([&] { make_object(many.data(), 65525); }), 0);
}

// ---- deep copy ----

TEST_F(ValuesTest, CopyOfNestedArraysIsIndependent) {
  DW inner = make_array(nullptr, 0, false);
  DW s = str("t");
  DW in[] = {make_int(1, 0), inner, s};
  DW outer = make_array(in, 3, true);
  DW copy = value_copy(outer);
  EXPECT_EQ(header_count(copy), 0u);
  DW* ce = elems_of(copy);
  EXPECT_NE(copy, outer);
  EXPECT_NE(ce[1], inner);
  EXPECT_NE(ce[2], s);
  EXPECT_EQ(header_count(ce[0]), 1u);
  EXPECT_STREQ(str_text(ce[2]), "t");
  EXPECT_EQ(reinterpret_cast<ArrRec*>(dw_rec(copy))->cap, 13u);
  // Changing the copy at every level leaves the source as it was.
  reinterpret_cast<IntRec*>(dw_rec(ce[0]))->value = 99;
  str_text(ce[2])[0] = 'u';
  reinterpret_cast<ArrRec*>(dw_rec(ce[1]))->count = 1;
  EXPECT_EQ(int_of(elems_of(outer)[0]), 1);
  EXPECT_STREQ(str_text(s), "t");
  EXPECT_EQ(reinterpret_cast<ArrRec*>(dw_rec(inner))->count, 0u);
  // The copy is a value of its own: destroying it leaves the source whole.
  dw_release(dw_ref(copy));
  EXPECT_EQ(header_count(s), 1u);
  EXPECT_STREQ(str_text(s), "t");
}

TEST_F(ValuesTest, CopyKeepsKeysFlagsAndConstructor) {
  DW v = make_float(0.5, 0);
  DW pairs[] = {70, v};
  DW o = make_object(pairs, 1);
  ObjRec* r = reinterpret_cast<ObjRec*>(dw_rec(o));
  r->ctor = 71;
  r->flags = 0x1234;
  DW k;
  KeyedRec* kr = reinterpret_cast<KeyedRec*>(dw_new(T_KEYED, &k, 0));
  void* p;
  kr->pairs = area_new(32, &p);
  DW kp[] = {INDEX_KEY_BASE + 3, dw_ref(o), 72, dw_ref(make_int(8, 0))};
  std::memcpy(p, kp, sizeof kp);
  kr->count = 2;
  kr->cap = 4;
  kr->flags0 = 5;
  DW c = value_copy(k);
  KeyedRec* cr = reinterpret_cast<KeyedRec*>(dw_rec(c));
  EXPECT_EQ(cr->count, 2u);
  EXPECT_EQ(cr->cap, 4u);
  EXPECT_EQ(cr->flags0, 5);
  const DW* cp = static_cast<const DW*>(area_ptr(cr->pairs));
  EXPECT_EQ(cp[0], INDEX_KEY_BASE + 3);
  EXPECT_EQ(cp[2], 72u);
  EXPECT_EQ(int_of(cp[3]), 8);
  EXPECT_EQ(cp[4], 0u);
  ObjRec* co = reinterpret_cast<ObjRec*>(dw_rec(cp[1]));
  EXPECT_NE(cp[1], o);
  EXPECT_EQ(co->ctor, 71u);
  EXPECT_EQ(co->flags, 0x1234);
  EXPECT_EQ(header_count(cp[1]), 1u);
  EXPECT_EQ(float_of(static_cast<const DW*>(area_ptr(co->pairs))[1]), 0.5);
  // A date is copied byte for byte.
  DW d;
  uint8_t* dr = dw_new(T_DATE, &d, 1);
  for (int i = 1; i < 16; i++) dr[i] = static_cast<uint8_t>(i * 3);
  DW dc = value_copy(d);
  EXPECT_NE(dc, d);
  EXPECT_EQ(*dw_rec(dc), T_DATE);
  EXPECT_EQ(std::memcmp(dw_rec(dc) + 1, dr + 1, 15), 0);
}

TEST_F(ValuesTest, SharedValuesAreReferencedOnce) {
  void* p;
  DW re = (area_new(40, &p) & 0xF0FFFFFF) | (DW{T_REGEXP} << 24);
  static_cast<uint8_t*>(p)[0] = T_REGEXP;
  EXPECT_EQ(value_copy(re), re);
  EXPECT_EQ(header_count(re), 1u);
  DW arr = make_array(&re, 1, true);   // 2
  DW c = value_copy(arr);
  EXPECT_EQ(elems_of(c)[0], re);
  EXPECT_EQ(header_count(re), 3u);   // one more, for the copied array's element
}

TEST_F(ValuesTest, CopyRefusesWhatCannotBeCopied) {
  DW self = make_array(nullptr, 0, false);
  reinterpret_cast<ArrRec*>(dw_rec(self))->count = 1;
  elems_of(self)[0] = self;
  DW deep = make_int(1, 0);
  for (int i = 0; i < 5000; i++) deep = make_array(&deep, 1, true);
  DW fn;
  dw_new(T_FUNC, &fn, 1);
  DW nested_null[] = {make_int(1, 0), DW_NULL};
  const DW refused[] = {DW_UNDEFINED, DW_TRUE, DW_NULL, 40,   INDEX_KEY_BASE + 1, fn,
                        make_array(nested_null, 2, true),        self, deep};
  for (DW h : refused) {
    EXPECT_EQ(raised_code([&] { value_copy(h); }), 1420) << std::hex << h;
    EXPECT_TRUE(message_ends_with("newの引数不正"));
  }
  DW shallow = make_int(1, 0);
  for (int i = 0; i < 1000; i++) shallow = make_array(&shallow, 1, true);
  EXPECT_EQ(raised_code([&] { value_copy(shallow); }), 0);
}

// ---- the number-text parser ----

TEST_F(ValuesTest, ParseNumberTable) {
  constexpr double INF = std::numeric_limits<double>::infinity();
  struct Case {
    const char* text;
    int sign;
    int kind;   // 0 integer, 1 float
    int64_t i;
    double d;
    int used;   // characters consumed
  };
  const Case cases[] = {
      {"0x1F", 1, 0, 31, 0, 4},
      {"0xfF;", -1, 0, -255, 0, 4},
      {"0X1F", 1, 0, 0, 0, 1},
      {"0x", 1, 0, 0, 0, 2},
      {"0x7fffffffffffffff", 1, 0, INT64_MAX, 0, 18},
      {"0x10000000000000000", 1, 1, 0, 18446744073709551616.0, 19},
      {".5e3", 1, 1, 0, 500.0, 4},
      {".25)", 1, 1, 0, 0.25, 3},
      {".5E-1", -1, 1, 0, -0.05, 5},
      {"12.05", 1, 1, 0, 12.05, 5},
      {"1.5e2", 1, 1, 0, 150.0, 5},
      {"1e5", 1, 1, 0, 100000.0, 3},
      {"2E+2", 1, 1, 0, 200.0, 4},
      {"5e-3", 1, 1, 0, 0.005, 4},
      {"1.", 1, 1, 0, 1.0, 2},
      {"1.e3", 1, 1, 0, 1000.0, 4},
      {"1.2.3", 1, 1, 0, 1.2, 3},
      {"12abc", 1, 0, 12, 0, 2},
      {"7", -1, 0, -7, 0, 1},
      {"abc", 1, 0, 0, 0, 0},
      {"east", 1, 0, 0, 0, 0},
      {"", 1, 0, 0, 0, 0},
      {"4294967296", 1, 0, 4294967296, 0, 10},
      {"9223372036854775807", 1, 0, INT64_MAX, 0, 19},
      {"9223372036854775808", -1, 0, INT64_MIN, 0, 19},
      {"9223372036854775808", 1, 1, 0, 9223372036854775808.0, 19},
      {"99999999999999999999", 1, 1, 0, 1e20, 20},
      {"0.1000000000000000000001", 1, 1, 0, 0.1, 24},
      {"1e400", 1, 1, 0, INF, 5},
      {"1e400", -1, 1, 0, -INF, 5},
      {"1e-400", 1, 1, 0, 0.0, 6},
      {"0.0001e-330", 1, 1, 0, 0.0, 11},
      {"12345678901234567890123456789e-10", 1, 1, 0, 1234567890123456789.0123456789, 33},
  };
  for (const Case& c : cases) {
    const char* p = c.text;
    double d = -1;
    int64_t i = -1;
    int kind = -1;
    int code = raised_code([&] { kind = parse_number(&p, &d, &i, c.sign); });
    ASSERT_EQ(code, 0) << c.text;
    EXPECT_EQ(kind, c.kind) << c.text;
    if (c.kind == 0) {
      EXPECT_EQ(i, c.i) << c.text;
    } else {
      EXPECT_EQ(d, c.d) << c.text;
    }
    EXPECT_EQ(p - c.text, c.used) << c.text;
  }
}

TEST_F(ValuesTest, ParseNumberErrorsShowTheRestOfTheLine) {
  struct Case {
    const char* text;
    const char* shown;
  };
  const Case cases[] = {{".e3", "e3"},     {".5e", ""},         {"1e", ""},         {"1e+x rest\nnext", "x rest"},
                        {".", ""},         {".5.3", ".3"},      {".5e3.1", ".1"},   {"3E-;", ";"},
                        {".x\r\n", "x"}};
  for (const Case& c : cases) {
    const char* p = c.text;
    double d;
    int64_t i;
    EXPECT_EQ(raised_code([&] { parse_number(&p, &d, &i, 1); }), 1405) << c.text;
    EXPECT_TRUE(std::strstr(message_buffer, "PARSE ERROR 1405")) << message_buffer;
    std::string tail = std::string("数字のフォーマット不正 '") + c.shown + "'";
    EXPECT_TRUE(message_ends_with(tail.c_str())) << c.text << " -> " << message_buffer;
  }
  // At most 120 bytes, never half a character.
  std::string text = ".e" + std::string(117, 'a') + "あいう";
  const char* p = text.c_str();
  double d;
  int64_t i;
  EXPECT_EQ(raised_code([&] { parse_number(&p, &d, &i, 1); }), 1405);
  std::string shown = "e" + std::string(117, 'a');   // 118 bytes; "あ" would end at 121
  EXPECT_TRUE(message_ends_with(("'" + shown + "'").c_str())) << message_buffer;
}

// ---- Integer(x) and Float(x) ----

TEST_F(ValuesTest, ToIntegerTable) {
  struct Case {
    DW in;
    unsigned type;
    double want;
  };
  const double NaN = std::numeric_limits<double>::quiet_NaN();
  const Case cases[] = {
      {make_int(5, 0), T_INT, 5},
      {make_float(7.9, 0), T_INT, 7},
      {make_float(-7.9, 0), T_INT, -7},
      {make_float(3e9, 0), T_INT, -1294967296},   // low 32 bits
      {make_float(NaN, 0), T_INT, 0},
      {str("12abc"), T_INT, 12},
      {str("-7.9"), T_INT, -7},
      {str("7.9"), T_INT, 7},
      {str("-0.5"), T_INT, 0},
      {str("+5"), T_INT, 5},
      {str("0x10"), T_INT, 16},
      {str("-0x10"), T_INT, -16},
      {str("4294967297"), T_INT, 1},
      {str("1e5"), T_INT, 100000},
      {str("abc"), T_INT, 0},
      {str(" 12"), T_INT, 0},
      {str("3000000000.5"), T_FLOAT, 3000000000.5},
      {str("-3000000000.5"), T_FLOAT, -3000000000.5},
      {str("1e20"), T_FLOAT, 1e20},
  };
  for (const Case& c : cases) {
    DW r = to_integer(c.in);
    ASSERT_EQ(dw_type(r), c.type) << c.want;
    EXPECT_EQ(header_count(r), 0u);
    EXPECT_EQ(c.type == T_INT ? int_of(r) : float_of(r), c.want);
  }
}

TEST_F(ValuesTest, ToFloatTable) {
  struct Case {
    DW in;
    double want;
  };
  const Case cases[] = {{make_int(3, 0), 3.0},  {make_float(2.75, 0), 2.75}, {str("-2.5"), -2.5},
                        {str("12abc"), 12.0},   {str("abc"), 0.0},          {str("+1e2"), 100.0},
                        {str("0x1F"), 31.0},    {str("-.5"), -0.5}};
  for (const Case& c : cases) {
    DW r = to_float(c.in);
    ASSERT_EQ(dw_type(r), T_FLOAT);
    EXPECT_EQ(header_count(r), 0u);
    EXPECT_EQ(float_of(r), c.want);
  }
}

TEST_F(ValuesTest, ConversionsRefuseOtherTypes) {
  DW arr = make_array(nullptr, 0, false);
  struct Case {
    bool integer;
    DW in;
    int code;
    const char* message;
  };
  const Case cases[] = {{true, arr, 1410, "Integerの引数不正"},   {true, DW_NULL, 1410, "Integerの引数不正"},
                        {false, arr, 1415, "Floatの引数不正"},    {false, DW_TRUE, 1415, "Floatの引数不正"},
                        {true, str("1e"), 1405, "数字のフォーマット不正 ''"},
                        {false, str(".x"), 1405, "数字のフォーマット不正 'x'"}};
  for (const Case& c : cases) {
    EXPECT_EQ(raised_code([&] { c.integer ? to_integer(c.in) : to_float(c.in); }), c.code);
    EXPECT_TRUE(message_ends_with(c.message)) << message_buffer;
  }
}
