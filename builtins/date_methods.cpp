// The methods of Date values: getters (local and UTC), setters and the text forms.
#include <cmath>
#include <cstdio>
#include <cstring>

#include "builtins/date.h"
#include "eval/plugins.h"

namespace {

enum DateOp : uint8_t {
  GET_DATE, GET_DAY, GET_FULL_YEAR, GET_HOURS, GET_MILLISECONDS, GET_MINUTES, GET_MONTH, GET_SECONDS,
  GET_TIME, GET_TIMEZONE_OFFSET,
  GET_UTC_DATE, GET_UTC_DAY, GET_UTC_FULL_YEAR, GET_UTC_HOURS, GET_UTC_MINUTES, GET_UTC_MONTH,
  GET_UTC_SECONDS, GET_UTC_MILLISECONDS,
  SET_FULL_YEAR, SET_MONTH, SET_DATE, SET_HOURS, SET_MINUTES, SET_SECONDS, SET_MILLISECONDS, SET_TIME,
  TO_DATE_STRING, TO_ISO_STRING, TO_STRING, TO_TIME_STRING, TO_UTC_STRING,
};

struct DateMethod {
  const char* name;
  int8_t min, max;   // argument counts
  DateOp op;
  int8_t field;      // setters: the first field replaced (0 year ... 6 milliseconds)
  int16_t code;      // setters: the error for an argument of the wrong type
};

constexpr DateMethod METHODS[] = {
    {"getDate", 0, 0, GET_DATE, 0, 0},
    {"getDay", 0, 0, GET_DAY, 0, 0},
    {"getFullYear", 0, 0, GET_FULL_YEAR, 0, 0},
    {"getHours", 0, 0, GET_HOURS, 0, 0},
    {"getMilliseconds", 0, 0, GET_MILLISECONDS, 0, 0},
    {"getMinutes", 0, 0, GET_MINUTES, 0, 0},
    {"getMonth", 0, 0, GET_MONTH, 0, 0},
    {"getSeconds", 0, 0, GET_SECONDS, 0, 0},
    {"getTime", 0, 0, GET_TIME, 0, 0},
    {"getTimezoneOffset", 0, 0, GET_TIMEZONE_OFFSET, 0, 0},
    {"getUTCDate", 0, 0, GET_UTC_DATE, 0, 0},
    {"getUTCDay", 0, 0, GET_UTC_DAY, 0, 0},
    {"getUTCFullYear", 0, 0, GET_UTC_FULL_YEAR, 0, 0},
    {"getUTCHours", 0, 0, GET_UTC_HOURS, 0, 0},
    {"getUTCMinutes", 0, 0, GET_UTC_MINUTES, 0, 0},
    {"getUTCMonth", 0, 0, GET_UTC_MONTH, 0, 0},
    {"getUTCSeconds", 0, 0, GET_UTC_SECONDS, 0, 0},
    {"getUTCMilliseconds", 0, 0, GET_UTC_MILLISECONDS, 0, 0},
    {"setDate", 1, 1, SET_DATE, 2, 5545},
    {"setFullYear", 1, 3, SET_FULL_YEAR, 0, 5535},
    {"setHours", 1, 4, SET_HOURS, 3, 5550},
    {"setMinutes", 1, 3, SET_MINUTES, 4, 5555},
    {"setMonth", 1, 2, SET_MONTH, 1, 5540},
    {"setSeconds", 1, 2, SET_SECONDS, 5, 5560},
    {"setMilliseconds", 1, 1, SET_MILLISECONDS, 6, 5565},
    {"setTime", 1, 1, SET_TIME, 0, 5570},
    {"toDateString", 0, 0, TO_DATE_STRING, 0, 0},
    {"toISOString", 0, 0, TO_ISO_STRING, 0, 0},
    {"toJSON", 0, 0, TO_ISO_STRING, 0, 0},
    {"toString", 0, 0, TO_STRING, 0, 0},
    {"toTimeString", 0, 0, TO_TIME_STRING, 0, 0},
    {"toUTCString", 0, 0, TO_UTC_STRING, 0, 0},
};

const DateMethod* find_method(uint32_t name) {
  const char* text = name_text(name);
  size_t len = name_length(name);
  for (const DateMethod& m : METHODS)
    if (std::strlen(m.name) == len && std::memcmp(m.name, text, len) == 0) return &m;
  return nullptr;
}

DW millis_value(int64_t secs, int ms) { return make_float(static_cast<double>(secs) * 1000 + ms, 0); }

int year_of(const uint8_t* rec) { return static_cast<int16_t>(rec[6] | rec[7] << 8); }

DateParts parts_of(const uint8_t* rec, bool utc) {
  DateParts p;
  int64_t secs = date_secs(rec);
  if (int e = utc ? date_utc_parts(secs, &p) : date_local_parts(secs, &p)) date_raise(e);
  return p;
}

// Replaces the fields from m->field on with the Integer arguments, then recomputes the time
// value from the local fields and every field from the time value.
DW set_fields(uint8_t* rec, const DateMethod* m, const DW* args, int n) {
  for (int i = 0; i < n; i++)
    if (dw_type(args[i]) != T_INT) raise_eval_error(m->code, "Dateのメソッド %s 引数不正", m->name);
  DateFields f;
  date_record_fields(rec, &f);
  int* slot[7] = {&f.year, &f.month, &f.day, &f.hours, &f.minutes, &f.seconds, &f.ms};
  for (int i = 0; i < n; i++) *slot[m->field + i] = reinterpret_cast<IntRec*>(dw_rec(args[i]))->value;
  if (m->op == SET_MILLISECONDS && (f.ms < 0 || f.ms > 999))
    raise_eval_error(m->code, "Dateのメソッド %s 引数不正", m->name);
  int64_t secs;
  int ms;
  if (int e = date_local_to_time(f, &secs, &ms)) date_raise(e);
  if (int e = date_store(rec, secs, ms, (rec[1] & DATE_FLAG_ABSOLUTE) != 0)) date_raise(e);
  return millis_value(secs, ms);
}

// setTime: milliseconds since 1970-01-01 UTC; the milliseconds part is dropped.
DW set_time(uint8_t* rec, const DateMethod* m, DW arg) {
  double d;
  unsigned t = dw_type(arg);
  if (t == T_INT) d = reinterpret_cast<IntRec*>(dw_rec(arg))->value;
  else if (t == T_FLOAT) d = reinterpret_cast<FloatRec*>(dw_rec(arg))->value;
  else d = NAN;
  if (!std::isfinite(d)) raise_eval_error(m->code, "Dateのメソッド %s 引数不正", m->name);
  int64_t secs;
  if (int e = date_time_from_millis(d, &secs)) date_raise(e);
  if (int e = date_store(rec, secs, 0, true)) date_raise(e);
  return millis_value(secs, 0);
}

DW text_value(const char* buf, int len) { return make_string(buf, static_cast<size_t>(len), 0); }

// The sign and the absolute hours and minutes of an offset in minutes (hours truncated toward 0).
void offset_parts(int offset, char* sign, int* hours, int* minutes) {
  *sign = offset < 0 ? '-' : '+';
  int a = offset < 0 ? -offset : offset;
  *hours = a / 60;
  *minutes = a % 60;
}

DW text_form(const uint8_t* rec, DateOp op) {
  char buf[128];
  int n;
  int year = year_of(rec), month = rec[1] & 0x0F, day = rec[3] & 0x1F, weekday = rec[3] >> 5;
  int hours = rec[2], minutes = rec[4], seconds = rec[5];
  switch (op) {
    case TO_DATE_STRING:
      n = std::snprintf(buf, sizeof buf, "%.*s %.*s %02d %04d", 3, date_day_name(weekday), 3, date_month_name(month),
                        day, year);
      break;
    case TO_ISO_STRING:
      // The local fields, as the numeric date texts are read back as local time.
      n = std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", year, month + 1, day, hours, minutes,
                        seconds, date_ms(rec));
      break;
    case TO_UTC_STRING: {
      DateParts u = parts_of(rec, true);
      n = std::snprintf(buf, sizeof buf, "%.*s, %02d %.*s %04d %02d:%02d:%02d GMT", 3, date_day_name(u.weekday), u.day,
                        3, date_month_name(u.month), u.year, u.hours, u.minutes, u.seconds);
      break;
    }
    default: {
      char sign;
      int oh, om;
      offset_parts(parts_of(rec, false).offset, &sign, &oh, &om);
      if (op == TO_TIME_STRING)
        n = std::snprintf(buf, sizeof buf, "%02d:%02d:%02d GMT%c%02d%02d", hours, minutes, seconds, sign, oh, om);
      else
        n = std::snprintf(buf, sizeof buf, "%.*s %.*s %02d %04d %02d:%02d:%02d GMT%c%02d%02d (GMT%c%02d:%02d)", 3,
                          date_day_name(weekday), 3, date_month_name(month), day, year, hours, minutes, seconds,
                          sign, oh, om, sign, oh, om);
      break;
    }
  }
  return text_value(buf, n);
}

}  // namespace

DW date_method(DW recv, uint32_t name, DW* args, int n) {
  const DateMethod* m = find_method(name);
  if (!m) raise_eval_error(5575, "DATEのメソッド名不正");
  if (n < m->min || (m->min == m->max && n != m->min)) raise_eval_error(5580, "DATEのメソッドで引数不正");
  if (n > m->max) raise_eval_error(5585, "DATEのメソッドで引数不正");
  uint8_t* rec = dw_rec(recv);
  switch (m->op) {
    case GET_DATE: return int_value(rec[3] & 0x1F);
    case GET_DAY: return int_value(rec[3] >> 5);
    case GET_FULL_YEAR: return int_value(year_of(rec));
    case GET_HOURS: return int_value(rec[2]);
    case GET_MILLISECONDS:
    case GET_UTC_MILLISECONDS: return int_value(date_ms(rec));
    case GET_MINUTES: return int_value(rec[4]);
    case GET_MONTH: return int_value(rec[1] & 0x0F);
    case GET_SECONDS: return int_value(rec[5]);
    case GET_TIME: return millis_value(date_secs(rec), date_ms(rec));
    case GET_TIMEZONE_OFFSET: return int_value(-parts_of(rec, false).offset);
    case GET_UTC_DATE: return int_value(parts_of(rec, true).day);
    case GET_UTC_DAY: return int_value(parts_of(rec, true).weekday);
    case GET_UTC_FULL_YEAR: return int_value(parts_of(rec, true).year);
    case GET_UTC_HOURS: return int_value(parts_of(rec, true).hours);
    case GET_UTC_MINUTES: return int_value(parts_of(rec, true).minutes);
    case GET_UTC_MONTH: return int_value(parts_of(rec, true).month);
    case GET_UTC_SECONDS: return int_value(parts_of(rec, true).seconds);
    case SET_TIME: return set_time(rec, m, args[0]);
    case SET_FULL_YEAR: case SET_MONTH: case SET_DATE: case SET_HOURS: case SET_MINUTES: case SET_SECONDS:
    case SET_MILLISECONDS:
      return set_fields(rec, m, args, n);
    default: return text_form(rec, m->op);
  }
}
