// Script values as parameter texts, and fetched columns as script values.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "db/sql_internal.h"
#include "response/stream.h"

size_t sql_float_text(double d, char* buf, size_t size) {
  int n = std::snprintf(buf, size, "%.10f", d);
  if (n < 0) n = 0;
  size_t len = static_cast<size_t>(n) < size ? static_cast<size_t>(n) : size - 1;
  const char* point = static_cast<const char*>(std::memchr(buf, '.', len));
  if (point) {
    size_t keep = static_cast<size_t>(point - buf) + 2;   // at least one digit after the point
    while (len > keep && buf[len - 1] == '0') len--;
  }
  buf[len] = 0;
  return len;
}

bool sql_value_text(DW v, char* buf, const char** text, size_t* len) {
  switch (dw_type(v)) {
    case T_INT:
      *len = static_cast<size_t>(std::snprintf(buf, 400, "%d", int_rec(v)->value));
      *text = buf;
      return true;
    case T_FLOAT:
      *len = sql_float_text(float_rec(v)->value, buf, 400);
      *text = buf;
      return true;
    case T_STRING:
      *text = str_text(v);
      *len = str_rec(v)->len;
      return true;
    case T_CONST:
      if (v > DW_NAN) return false;
      *text = constant_name(v, len);
      return true;
    default:
      return false;
  }
}

// Integer columns: the driver's decimal text. A value beyond 32 bits (a bigint) becomes a float
// rather than a wrong integer.
static DW integer_value(const char* text, unsigned count) {
  errno = 0;
  char* end;
  long long v = std::strtoll(text, &end, 10);
  if (errno == 0 && end != text && *end == 0 && v >= INT32_MIN && v <= INT32_MAX)
    return make_int(static_cast<int32_t>(v), count);
  return make_float(std::strtod(text, nullptr), count);
}

DW sql_column_value(const row_sink* sink, int col, unsigned count) {
  int32_t len = sink->length[col];
  if (len < 0) return DW_UNDEFINED;
  const char* text = sink->text[col];
  switch (sink->kind[col]) {
    case 1: return integer_value(text, count);
    case 2: return make_float(std::strtod(text, nullptr), count);
    default: return make_string(text, static_cast<size_t>(len), count);
  }
}

static void to_stdout(const void* data, size_t len) { out_write(data, len); }

void front_write(front_text* t) { front_text_flush(t, to_stdout); }
