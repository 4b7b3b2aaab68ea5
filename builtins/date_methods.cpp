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

// A setter's rule: its name (for the message), the first field it replaces (0 year ...
// 6 milliseconds) and the error for an argument of the wrong type.
struct Setter {
  const char* name;
  int8_t field;
  int16_t code;
};

constexpr Setter setter_of(DateOp op) {
  switch (op) {
    case SET_FULL_YEAR: return {"setFullYear", 0, 5535};
    case SET_MONTH: return {"setMonth", 1, 5540};
    case SET_DATE: return {"setDate", 2, 5545};
    case SET_HOURS: return {"setHours", 3, 5550};
    case SET_MINUTES: return {"setMinutes", 4, 5555};
    case SET_SECONDS: return {"setSeconds", 5, 5560};
    case SET_MILLISECONDS: return {"setMilliseconds", 6, 5565};
    case SET_TIME: return {"setTime", 0, 5570};
    default: return {"", 0, 0};
  }
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
DW set_fields(uint8_t* rec, DateOp op, const DW* args, int n) {
  const Setter m = setter_of(op);
  for (int i = 0; i < n; i++)
    if (dw_type(args[i]) != T_INT) raise_eval_error(m.code, "Dateのメソッド %s 引数不正", m.name);
  DateFields f;
  date_record_fields(rec, &f);
  int* slot[7] = {&f.year, &f.month, &f.day, &f.hours, &f.minutes, &f.seconds, &f.ms};
  for (int i = 0; i < n; i++) *slot[m.field + i] = int_rec(args[i])->value;
  if (op == SET_MILLISECONDS && (f.ms < 0 || f.ms > 999))
    raise_eval_error(m.code, "Dateのメソッド %s 引数不正", m.name);
  int64_t secs;
  int ms;
  if (int e = date_local_to_time(f, &secs, &ms)) date_raise(e);
  if (int e = date_store(rec, secs, ms, (rec[1] & DATE_FLAG_ABSOLUTE) != 0)) date_raise(e);
  return millis_value(secs, ms);
}

// setTime: milliseconds since 1970-01-01 UTC; the milliseconds part is dropped.
DW set_time(uint8_t* rec, DW arg) {
  const Setter m = setter_of(SET_TIME);
  double d;
  unsigned t = dw_type(arg);
  if (t == T_INT) d = int_rec(arg)->value;
  else if (t == T_FLOAT) d = float_rec(arg)->value;
  else d = NAN;
  if (!std::isfinite(d)) raise_eval_error(m.code, "Dateのメソッド %s 引数不正", m.name);
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

// One operation on the record; Op is a constant in every instance, so each folds to its case.
template <DateOp Op>
DW date_op(DW recv, DW* args, int n) {
  uint8_t* rec = dw_rec(recv);
  switch (Op) {
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
    case SET_TIME: return set_time(rec, args[0]);
    case SET_FULL_YEAR: case SET_MONTH: case SET_DATE: case SET_HOURS: case SET_MINUTES: case SET_SECONDS:
    case SET_MILLISECONDS:
      return set_fields(rec, Op, args, n);
    default: return text_form(rec, Op);
  }
}

constexpr MethodRow ROWS[] = {
    {"getDate",            0, 0, date_op<GET_DATE>},
    {"getDay",             0, 0, date_op<GET_DAY>},
    {"getFullYear",        0, 0, date_op<GET_FULL_YEAR>},
    {"getHours",           0, 0, date_op<GET_HOURS>},
    {"getMilliseconds",    0, 0, date_op<GET_MILLISECONDS>},
    {"getMinutes",         0, 0, date_op<GET_MINUTES>},
    {"getMonth",           0, 0, date_op<GET_MONTH>},
    {"getSeconds",         0, 0, date_op<GET_SECONDS>},
    {"getTime",            0, 0, date_op<GET_TIME>},
    {"getTimezoneOffset",  0, 0, date_op<GET_TIMEZONE_OFFSET>},
    {"getUTCDate",         0, 0, date_op<GET_UTC_DATE>},
    {"getUTCDay",          0, 0, date_op<GET_UTC_DAY>},
    {"getUTCFullYear",     0, 0, date_op<GET_UTC_FULL_YEAR>},
    {"getUTCHours",        0, 0, date_op<GET_UTC_HOURS>},
    {"getUTCMilliseconds", 0, 0, date_op<GET_UTC_MILLISECONDS>},
    {"getUTCMinutes",      0, 0, date_op<GET_UTC_MINUTES>},
    {"getUTCMonth",        0, 0, date_op<GET_UTC_MONTH>},
    {"getUTCSeconds",      0, 0, date_op<GET_UTC_SECONDS>},
    {"setDate",            1, 1, date_op<SET_DATE>},
    {"setFullYear",        1, 3, date_op<SET_FULL_YEAR>},
    {"setHours",           1, 4, date_op<SET_HOURS>},
    {"setMilliseconds",    1, 1, date_op<SET_MILLISECONDS>},
    {"setMinutes",         1, 3, date_op<SET_MINUTES>},
    {"setMonth",           1, 2, date_op<SET_MONTH>},
    {"setSeconds",         1, 2, date_op<SET_SECONDS>},
    {"setTime",            1, 1, date_op<SET_TIME>},
    {"toDateString",       0, 0, date_op<TO_DATE_STRING>},
    {"toISOString",        0, 0, date_op<TO_ISO_STRING>},
    {"toJSON",             0, 0, date_op<TO_ISO_STRING>},
    {"toString",           0, 0, date_op<TO_STRING>},
    {"toTimeString",       0, 0, date_op<TO_TIME_STRING>},
    {"toUTCString",        0, 0, date_op<TO_UTC_STRING>},
};

}  // namespace

constexpr MethodTable date_methods =
    method_table(ROWS, 5575, "DATEのメソッド名不正", 5580, 5585, "DATEのメソッドで引数不正");

DW date_method(DW recv, uint32_t name, DW* args, int n) { return method_invoke(date_methods, name, recv, args, n); }
