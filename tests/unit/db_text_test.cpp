// ODBC layer pieces that need no database: text scoring, column slots, values, record text.
#include <string>
#include <vector>

#include "db/front_text.h"
#include "db/odbc_internal.h"
#include "db_test_support.h"

using namespace dbtest;

namespace {

TEST(OdbcText, ScoresDriverTextAndConvertsCp932) {
  struct Case {
    std::string in;
    int result;          // 0 ASCII, -1 UTF-8 as it stands, 1 converted
    std::string out;     // the conversion when converted
  } cases[] = {
      {"abc", 0, ""},
      {std::string("abc\0\x93\xFA", 6), 0, ""},            // scanning stops at a zero byte
      {"日本語", -1, ""},
      {"caf\xC3\xA9", -1, ""},                              // C3 A9: a UTF-8 pair
      {"\x93\xFA\x96\x7B\x8C\xEA", 1, "日本語"},
      {"\xB1\xB2\xB3", 1, "ｱｲｳ"},                           // half-width katakana grow to 3 bytes
      {"x\x83\x5C" "y", 1, "xソy"},
      {"\x93\xFA\x81", 1, "日\xEF\xBF\xBD"},                // a cut character becomes U+FFFD
      {"\xC2\x80\xC2\x81", 1, "ﾂ\xEF\xBF\xBDﾂ\xEF\xBF\xBD"},    // C2 80 scores as code page
  };
  for (const Case& c : cases) {
    char dest[64];
    int n = odbc_text_to_utf8(c.in.data(), c.in.size(), dest, sizeof dest);
    if (c.result <= 0) {
      EXPECT_EQ(n, c.result) << c.in;
    } else {
      ASSERT_GT(n, 0) << c.in;
      EXPECT_EQ(std::string(dest, static_cast<size_t>(n)), c.out) << c.in;
      EXPECT_EQ(dest[n], 0);
    }
  }
  // A destination too small for the conversion: the text is used as it stands.
  char small[4];
  EXPECT_EQ(odbc_text_to_utf8("\x93\xFA\x96\x7B", 4, small, sizeof small), 0);
}

TEST(OdbcText, ColumnKindsAndSlots) {
  struct Case {
    SQLSMALLINT type;
    SQLULEN size;
    SQLSMALLINT digits;
    int wide, kind;
    uint32_t slot;
  } cases[] = {
      {SQL_WVARCHAR, 10, 0, 1, 3, 48},   {SQL_VARCHAR, 255, 0, 1, 3, 1028},
      {SQL_CHAR, 1, 0, 1, 3, 12},        {SQL_WLONGVARCHAR, 8190, 0, 1, 3, 32768},
      {SQL_LONGVARCHAR, 0, 0, 1, 3, ODBC_TEXT_SLOT_LIMIT},
      {SQL_VARCHAR, 1u << 30, 0, 1, 3, ODBC_TEXT_SLOT_LIMIT},
      {SQL_INTEGER, 10, 0, 0, 1, 30},    {SQL_BIGINT, 19, 0, 0, 1, 30},
      {SQL_TINYINT, 3, 0, 0, 1, 30},     {SQL_SMALLINT, 5, 0, 0, 1, 30},
      {SQL_NUMERIC, 8, 0, 0, 1, 30},     {SQL_DECIMAL, 10, 2, 0, 2, 30},
      {SQL_DOUBLE, 15, 0, 0, 2, 30},     {SQL_REAL, 7, 0, 0, 2, 30},
      {SQL_FLOAT, 15, 0, 0, 2, 30},      {SQL_TYPE_DATE, 10, 0, 0, 3, 40},
      {SQL_TYPE_TIMESTAMP, 26, 6, 0, 3, 40}, {SQL_VARBINARY, 0, 0, 0, 3, 40},
      {SQL_BIT, 1, 0, 0, 3, 40},
  };
  for (const Case& c : cases) {
    column_layout l = column_layout_of(c.type, c.size, c.digits);
    EXPECT_EQ(l.wide, c.wide) << c.type;
    EXPECT_EQ(l.kind, c.kind) << c.type;
    EXPECT_EQ(l.slot, c.slot) << c.type << " size " << c.size;
  }
}

TEST(OdbcText, BoundValuesGrowAndMarkWideText) {
  store_reset();
  Values v({"abc", "日本", ""});
  EXPECT_EQ(std::string(v.list.type, 3), " W ");
  EXPECT_EQ(v.list.wide_total, 6 * 4 + 10);
  std::vector<std::string> more;
  for (int i = 0; i < 600; i++) more.push_back(std::string(static_cast<size_t>(i % 13), 'a' + i % 26) + "値");
  for (const std::string& s : more) bind_list_append(&v.list, s.data(), s.size());
  ASSERT_EQ(v.list.count, 603u);
  EXPECT_TRUE(v.list.owned && v.list.arrays_owned);
  for (size_t i = 0; i < more.size(); i++) {
    uint32_t k = static_cast<uint32_t>(i + 3);
    EXPECT_EQ(std::string(v.list.text + v.list.offset[k], v.list.length[k]), more[i]);
    EXPECT_EQ(v.list.text[v.list.offset[k] + v.list.length[k]], 0);
    EXPECT_EQ(v.list.type[k], 'W');
  }
  EXPECT_EQ(std::string(v.list.text + v.list.offset[1]), "日本") << "earlier texts survive the growth";
  EXPECT_EQ(v.list.offset[1], 3u + 4u) << "a text starts 4 bytes after the end of the last";
  // A list that never widens (aggregation) keeps its wide total negative.
  Values plain({"日本"}, true);
  EXPECT_EQ(plain.list.type[0], ' ');
  EXPECT_LT(plain.list.wide_total, 0);
}

std::string flushed;
void collect(const void* data, size_t len) { flushed.append(static_cast<const char*>(data), len); }

TEST(OdbcText, FrontTextKeepsOrderAcrossChunks) {
  store_reset();
  front_text t;
  front_text_init(&t);
  std::string expect;
  for (int i = 0; i < 400; i++) {
    std::string piece(static_cast<size_t>(i % 37 + (i % 50 == 0 ? 1500 : 0)), static_cast<char>('A' + i % 26));
    front_text_append(&t, piece.data(), piece.size());
    expect += piece;
  }
  struct Field {
    const char* in;
    const char* out;
  } fields[] = {{"abc", "13abc"}, {"a b", "B5a%20b"}, {"", "10"}, {"日", "B9%E6%97%A5"}};
  for (const Field& f : fields) {
    front_text_field(&t, f.in, std::strlen(f.in));
    expect += f.out;
  }
  EXPECT_EQ(t.total, expect.size());
  EXPECT_NE(t.first, nullptr);
  flushed.clear();
  front_text_flush(&t, collect);
  EXPECT_TRUE(flushed == expect) << "the flushed text differs (" << flushed.size() << " bytes)";
  EXPECT_EQ(t.first, nullptr);
  EXPECT_EQ(t.total, 0u);
}

}  // namespace
