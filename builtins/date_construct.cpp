// Making Dates: new Date(...) / Date(...) by argument count, and the static functions Date.now,
// Date.parse and Date.UTC.
#include "builtins/date.h"
#include "eval/plugins.h"

namespace {

constexpr int DATE_MAX_FIELD_YEAR = 3000;

// Year, month, day, hours, minutes, seconds, milliseconds from 1 to 7 Integers of at least 0;
// missing ones are day 1 and 0, a year below 100 is 1900 + year.
int fields_from_values(const DW* v, int n, DateFields* f) {
  int a[7] = {0, 0, 1, 0, 0, 0, 0};
  for (int i = 0; i < n; i++) {
    if (dw_type(v[i]) != T_INT) return DATE_ERR_FIELD_VALUE;
    int32_t x = int_rec(v[i])->value;
    if (x < 0) return DATE_ERR_FIELD_VALUE;
    a[i] = x;
  }
  if (a[0] > DATE_MAX_FIELD_YEAR) return DATE_ERR_FIELD_VALUE;
  if (a[0] < 100) a[0] += 1900;
  *f = {a[0], a[1], a[2], a[3], a[4], a[5], a[6]};
  return 0;
}

// The one-argument form: milliseconds, a date text, or another Date (copied).
int time_from_value(DW v, int64_t* secs, int* ms, bool* absolute) {
  switch (dw_type(v)) {
    case T_INT:
      *ms = 0;
      *absolute = true;
      return date_time_from_millis(int_rec(v)->value, secs);
    case T_FLOAT:
      *ms = 0;
      *absolute = true;
      return date_time_from_millis(float_rec(v)->value, secs);
    case T_STRING:
      return date_parse_text(str_text(v), str_rec(v)->len, secs, ms, absolute);
    case T_DATE: {
      const uint8_t* rec = dw_rec(v);
      *secs = date_secs(rec);
      *ms = date_ms(rec);
      *absolute = (rec[1] & DATE_FLAG_ABSOLUTE) != 0;
      return 0;
    }
    default:
      return DATE_ERR_ARGUMENTS;
  }
}

inline DW millis_value(int64_t secs, int ms) { return make_float(static_cast<double>(secs) * 1000 + ms, 0); }

}  // namespace

DW op_date(DW, NodeRec* r) {
  uint32_t n = rec_argc(r);
  int64_t secs;
  int ms;
  if (n > 7) date_raise(DATE_ERR_ARGUMENTS);
  if (n == 0) {
    date_clock(&secs, &ms);
    return date_new(secs, ms, false);
  }
  const DW* trees = rec_args(r);
  DW vals[7];
  // Each argument is held while the later ones are evaluated.
  for (uint32_t i = 0; i < n; i++) vals[i] = dw_ref(eval_node(trees[i]));
  bool absolute = false;
  int err;
  if (n == 1) {
    err = time_from_value(vals[0], &secs, &ms, &absolute);
  } else {
    DateFields f;
    err = fields_from_values(vals, static_cast<int>(n), &f);
    if (!err) err = date_local_to_time(f, &secs, &ms);
  }
  for (uint32_t i = 0; i < n; i++) dw_release(vals[i]);
  if (err) date_raise(err);
  return date_new(secs, ms, absolute);
}

// Date.now(): whole seconds.
static DW date_now(DW, DW*, int) {
  int64_t secs;
  int ms;
  date_clock(&secs, &ms);
  return make_float(static_cast<double>(secs) * 1000, 0);
}

static DW date_parse_static(DW, DW* args, int) {
  if (dw_type(args[0]) != T_STRING) date_raise(DATE_ERR_PARSE_ARGUMENT);
  int64_t secs;
  int ms;
  bool zoned;
  if (int err = date_parse_text(str_text(args[0]), str_rec(args[0])->len, &secs, &ms, &zoned)) date_raise(err);
  return millis_value(secs, ms);
}

static DW date_utc(DW, DW* args, int n) {
  DateFields f;
  int64_t secs;
  int ms;
  int err = fields_from_values(args, n, &f);
  if (!err) err = date_utc_to_time(f, &secs, &ms);
  if (err) date_raise(err);
  return millis_value(secs, ms);
}

constexpr MethodRow ROWS[] = {
    {"UTC",   1, 7, date_utc},
    {"now",   0, 0, date_now},
    {"parse", 1, 1, date_parse_static},
};

constexpr MethodTable date_statics = method_table(ROWS, 2085, "DATEのメソッド名不正", 2090, 2093);
