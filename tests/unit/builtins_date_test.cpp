// Date records: the byte layout that the text forms and the record writers read, and the limits
// of the time values a record can hold.
#include <cstdlib>
#include <ctime>

#include "builtins/date.h"
#include "store_test_support.h"

namespace {

class DateRecordTest : public StoreTest {
 protected:
  void SetUp() override {
    StoreTest::SetUp();
    setenv("TZ", "UTC", 1);
    tzset();
  }
};

uint32_t word_at(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24; }

TEST_F(DateRecordTest, FieldsAndTimeValueSitWhereTheLayoutSays) {
  struct Row {
    int64_t secs;
    int ms;
    bool absolute;
    uint8_t b1, b2, b3, b4, b5;
    int16_t year;
    uint32_t w8, w12;
  };
  const Row rows[] = {
      // 2024-02-29 13:45:59.250, a Thursday; made from a number.
      {1709214359, 250, true, 0x11, 13, 29 | 4 << 5, 45, 59, 2024, 250, 1709214359u},
      // 2200-01-01 00:00:00.999, a Wednesday: the seconds need more than 32 bits.
      {7258118400, 999, false, 0x00, 0, 1 | 3 << 5, 0, 0, 2200, 999 | 1u << 12, 2963151104u},
  };
  for (const Row& r : rows) {
    DW d = date_new(r.secs, r.ms, r.absolute);
    ASSERT_EQ(dw_type(d), T_DATE);
    const uint8_t* rec = dw_rec(d);
    EXPECT_EQ(rec[1], r.b1) << r.secs;
    EXPECT_EQ(rec[2], r.b2) << r.secs;
    EXPECT_EQ(rec[3], r.b3) << r.secs;
    EXPECT_EQ(rec[4], r.b4) << r.secs;
    EXPECT_EQ(rec[5], r.b5) << r.secs;
    EXPECT_EQ(static_cast<int16_t>(rec[6] | rec[7] << 8), r.year) << r.secs;
    EXPECT_EQ(word_at(rec + 8), r.w8) << r.secs;
    EXPECT_EQ(word_at(rec + 12), r.w12) << r.secs;
    EXPECT_EQ(date_secs(rec), r.secs);
    EXPECT_EQ(date_ms(rec), r.ms);
  }
}

TEST_F(DateRecordTest, TimeValuesOutsideTheRecordAreRefused) {
  struct Row {
    DateFields f;
    int code;
    int64_t secs;   // when accepted, with milliseconds ms
    int ms;
  };
  const Row rows[] = {
      {{1970, 0, 1, 0, 0, 0, 0}, 0, 0, 0},
      {{1970, 0, 1, 0, 0, -1, 0}, DATE_ERR_BEFORE_1970, 0, 0},   // one second before the epoch
      {{1970, 0, 1, 0, 0, 0, -1}, DATE_ERR_BEFORE_1970, 0, 0},   // one millisecond before it
      {{1969, 11, 31, 0, 0, 0, 0}, DATE_ERR_BEFORE_1970, 0, 0},
      {{1970, -1, 1, 0, 0, 0, 0}, DATE_ERR_BEFORE_1970, 0, 0},
      {{1970, 0, 0, 0, 0, 0, 0}, DATE_ERR_BEFORE_1970, 0, 0},
      {{32767, 11, 30, 23, 59, 59, 999}, 0, 971890876799, 999},               // the last time value kept
      {{32767, 11, 31, 0, 0, 0, 0}, DATE_ERR_CONVERT, 0, 0},
      {{2024, 0, 2147483647, 0, 0, 0, 0}, DATE_ERR_CONVERT, 0, 0},
      {{2024, 2147483647, 1, 0, 0, 0, 0}, DATE_ERR_CONVERT, 0, 0},
      {{2024, 0, 1, 2147483647, 2147483647, 2147483647, 2147483647}, DATE_ERR_CONVERT, 0, 0},
      {{2024, 0, 1, 0, 0, 86399, 1000}, 0, 1704153600, 0},   // carried into the next day
  };
  for (const Row& r : rows) {
    int64_t s1, s2;
    int m1, m2;
    int local = date_local_to_time(r.f, &s1, &m1);
    int utc = date_utc_to_time(r.f, &s2, &m2);
    EXPECT_EQ(local, r.code) << r.f.year << "-" << r.f.month << "-" << r.f.day;
    EXPECT_EQ(utc, r.code) << r.f.year << "-" << r.f.month << "-" << r.f.day;
    if (r.code == 0) {
      EXPECT_EQ(s1, r.secs);
      EXPECT_EQ(s2, r.secs);   // UTC is the zone here
      EXPECT_EQ(m1, r.ms);
      EXPECT_EQ(m2, r.ms);
      DW d = date_new(s1, m1, false);
      DateFields back;
      date_record_fields(dw_rec(d), &back);
      EXPECT_LE(back.year, 32767);
    }
  }
}

}  // namespace
