// Date records: calendar fields to time values and back (local time through the zone rules of
// TZ, UTC by calendar arithmetic), the record's byte layout, the clock and the date errors.
#include <cerrno>
#include <cmath>
#include <ctime>

#include "builtins/date.h"
#include "errors/raise.h"

namespace {

constexpr int64_t floor_div(int64_t a, int64_t b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }
constexpr int64_t floor_mod(int64_t a, int64_t b) { return a - floor_div(a, b) * b; }

// Days from 1970-01-01 to y-m-d of the proleptic Gregorian calendar (m 1-12).
constexpr int64_t days_from_civil(int64_t y, int64_t m, int64_t d) {
  y -= m <= 2;
  int64_t era = floor_div(y, 400);
  int64_t yoe = y - era * 400;
  int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

// The year field is 16 bits signed. The last time value kept is 32767-12-30 23:59:59 UTC, a day
// short of the year's end, so that its local year is within range in every zone.
constexpr int DATE_MAX_YEAR = 32767;
constexpr int64_t DATE_MAX_SECS = days_from_civil(DATE_MAX_YEAR, 12, 31) * 86400 - 1;
constexpr int64_t DATE_MAX_DAYS = 12000000;   // a day count beyond any keepable date

// Normalised fields: year and month 0-11 carried, time of day in seconds 0-86399 with whole
// days carried into the day, milliseconds 0-999 carried into the seconds.
struct Norm {
  int64_t year, day, secs;
  int month, ms;
};

int normalise(const DateFields& f, Norm* n) {
  if (f.year < 1970 || f.month < 0 || f.day < 1) return DATE_ERR_BEFORE_1970;
  int64_t t = static_cast<int64_t>(f.hours) * 3600 + static_cast<int64_t>(f.minutes) * 60 + f.seconds +
              floor_div(f.ms, 1000);
  n->ms = static_cast<int>(floor_mod(f.ms, 1000));
  n->day = f.day + floor_div(t, 86400);
  n->secs = floor_mod(t, 86400);
  n->year = f.year + f.month / 12;
  n->month = f.month % 12;
  if (n->year > DATE_MAX_YEAR || n->day > DATE_MAX_DAYS) return DATE_ERR_CONVERT;
  if (n->day < -DATE_MAX_DAYS) return DATE_ERR_BEFORE_1970;
  return 0;
}

void fill_parts(const struct tm& tm, DateParts* p) {
  p->year = tm.tm_year + 1900;
  p->month = tm.tm_mon;
  p->day = tm.tm_mday;
  p->weekday = tm.tm_wday;
  p->hours = tm.tm_hour;
  p->minutes = tm.tm_min;
  p->seconds = tm.tm_sec;
  p->offset = static_cast<int>(tm.tm_gmtoff / 60);
}

}  // namespace

int date_check_range(int64_t secs) {
  if (secs < 0) return DATE_ERR_BEFORE_1970;
  if (secs > DATE_MAX_SECS) return DATE_ERR_CONVERT;
  return 0;
}

int date_time_from_millis(double d, int64_t* secs) {
  if (!std::isfinite(d)) return DATE_ERR_ARGUMENTS;
  if (d < 0) return DATE_ERR_BEFORE_1970;
  double s = std::floor(d / 1000);
  if (s > static_cast<double>(DATE_MAX_SECS)) return DATE_ERR_CONVERT;
  *secs = static_cast<int64_t>(s);
  return 0;
}

int date_local_to_time(const DateFields& f, int64_t* secs, int* ms) {
  Norm n;
  if (int e = normalise(f, &n)) return e;
  struct tm tm = {};
  tm.tm_year = static_cast<int>(n.year - 1900);
  tm.tm_mon = n.month;
  tm.tm_mday = static_cast<int>(n.day);
  tm.tm_hour = static_cast<int>(n.secs / 3600);
  tm.tm_min = static_cast<int>(n.secs / 60 % 60);
  tm.tm_sec = static_cast<int>(n.secs % 60);
  // The zone rules decide whether daylight-saving time applies at that date.
  tm.tm_isdst = -1;
  errno = 0;
  time_t t = mktime(&tm);
  if (t == static_cast<time_t>(-1) && errno == EOVERFLOW) return DATE_ERR_CONVERT;
  if (int e = date_check_range(t)) return e;
  *secs = t;
  *ms = n.ms;
  return 0;
}

int date_utc_to_time(const DateFields& f, int64_t* secs, int* ms) {
  Norm n;
  if (int e = normalise(f, &n)) return e;
  int64_t t = (days_from_civil(n.year, n.month + 1, 1) + n.day - 1) * 86400 + n.secs;
  if (int e = date_check_range(t)) return e;
  *secs = t;
  *ms = n.ms;
  return 0;
}

int date_local_parts(int64_t secs, DateParts* p) {
  if (int e = date_check_range(secs)) return e;
  // Picks up a TZ changed since the last call (localtime_r alone need not).
  tzset();
  time_t t = static_cast<time_t>(secs);
  struct tm tm;
  if (!localtime_r(&t, &tm) || tm.tm_year + 1900 > DATE_MAX_YEAR) return DATE_ERR_CONVERT;
  fill_parts(tm, p);
  return 0;
}

int date_utc_parts(int64_t secs, DateParts* p) {
  if (int e = date_check_range(secs)) return e;
  time_t t = static_cast<time_t>(secs);
  struct tm tm;
  if (!gmtime_r(&t, &tm)) return DATE_ERR_CONVERT;
  fill_parts(tm, p);
  p->offset = 0;
  return 0;
}

static void pack(uint8_t* rec, int64_t secs, int ms, bool absolute, const DateParts& p) {
  uint64_t s = static_cast<uint64_t>(secs);
  uint32_t w8 = static_cast<uint32_t>(ms & 0x3FF) | static_cast<uint32_t>((s >> 32) & 0xFFFFF) << 12;
  uint32_t w12 = static_cast<uint32_t>(s);
  rec[1] = static_cast<uint8_t>(p.month | (absolute ? DATE_FLAG_ABSOLUTE : 0));
  rec[2] = static_cast<uint8_t>(p.hours);
  rec[3] = static_cast<uint8_t>(p.day | p.weekday << 5);
  rec[4] = static_cast<uint8_t>(p.minutes);
  rec[5] = static_cast<uint8_t>(p.seconds);
  uint16_t y = static_cast<uint16_t>(p.year);
  rec[6] = static_cast<uint8_t>(y);
  rec[7] = static_cast<uint8_t>(y >> 8);
  for (int i = 0; i < 4; i++) {
    rec[8 + i] = static_cast<uint8_t>(w8 >> (8 * i));
    rec[12 + i] = static_cast<uint8_t>(w12 >> (8 * i));
  }
}

int date_store(uint8_t* rec, int64_t secs, int ms, bool absolute) {
  DateParts p;
  if (int e = date_local_parts(secs, &p)) return e;
  pack(rec, secs, ms, absolute, p);
  return 0;
}

void date_record_fields(const uint8_t* rec, DateFields* f) {
  f->year = static_cast<int16_t>(rec[6] | rec[7] << 8);
  f->month = rec[1] & 0x0F;
  f->day = rec[3] & 0x1F;
  f->hours = rec[2];
  f->minutes = rec[4];
  f->seconds = rec[5];
  f->ms = date_ms(rec);
}

DW date_new(int64_t secs, int ms, bool absolute) {
  DateParts p;
  if (int e = date_local_parts(secs, &p)) date_raise(e);
  DW h;
  uint8_t* rec = dw_new(T_DATE, &h, 0);
  pack(rec, secs, ms, absolute, p);
  return h;
}

void date_clock(int64_t* secs, int* ms) {
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  *secs = ts.tv_sec;
  *ms = static_cast<int>(ts.tv_nsec / 1000000);
}

void date_raise(int code) {
  switch (code) {
    case DATE_ERR_CONVERT:
    case DATE_ERR_BEFORE_1970:
      raise_eval_error(code, "Date関連ステートメント不正(1970/01/01以前の年月日)");
    case DATE_ERR_TEXT:
    case DATE_ERR_NUMERIC_TEXT:
    case DATE_ERR_PARSE_ARGUMENT:
      raise_eval_error(code, "Dateで日付・時刻の文字列不正");
    case DATE_ERR_FIELD_VALUE:
      raise_eval_error(code, "Dateで日付・時刻の値不正");
    default:
      raise_eval_error(DATE_ERR_ARGUMENTS, "Dateで日付・時刻の文字列・値不正");
  }
}
