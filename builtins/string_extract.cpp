// String methods that take characters out by position: charAt, charCodeAt, slice, substr,
// substring.
#include "builtins/string_methods.h"
#include "store/utf16_text.h"

namespace {

// The characters [from, to) of the receiver (to > from, both within the count).
DW chars(StrPos* p, int64_t from, int64_t to) {
  uint32_t b0 = str_pos_offset(p, static_cast<uint32_t>(from));
  uint32_t b1 = str_pos_offset(p, static_cast<uint32_t>(to));
  return string_of(p->text + b0, b1 - b0);
}

int64_t clamp(int64_t v, int64_t lo, int64_t hi) { return v < lo ? lo : v > hi ? hi : v; }

// The index argument of charAt and charCodeAt: an Integer, anything else 0.
int64_t char_index(DW* a, int n) { return n >= 1 && is_int(a[0]) ? int_arg(a[0]) : 0; }

// The UTF-16 unit of the character at byte offset b, as MultiToWide converts it.
int32_t utf16_unit(const uint8_t* s, uint32_t len, uint32_t b) {
  uint16_t w[3];
  MultiToWide(reinterpret_cast<const char*>(s) + b, static_cast<int>(len - b), w, 1);
  return w[0];
}

}  // namespace

DW str_char_at(DW s, DW* a, int n) { return str_char_at_index(s, char_index(a, n)); }

DW str_char_code_at(DW s, DW* a, int n) {
  int32_t u = str_char_code_at_index(s, char_index(a, n));
  return u < 0 ? DW_NAN : int_value(u);
}

DW str_char_at_index(DW s, int64_t i) {
  if (i < 0 || i > 0xFFFFFFFFll) return string_new(0);
  StrPos p;
  str_pos_open(&p, s);
  uint32_t b = str_pos_offset(&p, static_cast<uint32_t>(i));
  if (b >= p.len) return string_new(0);
  uint32_t e = b + utf8_step(static_cast<uint8_t>(p.text[b]));
  return string_of(p.text + b, (e < p.len ? e : p.len) - b);
}

int32_t str_char_code_at_index(DW s, int64_t i) {
  if (i < 0 || i > 0xFFFFFFFFll) return -1;
  StrPos p;
  str_pos_open(&p, s);
  uint32_t b = str_pos_offset(&p, static_cast<uint32_t>(i));
  if (b >= p.len) return -1;
  return utf16_unit(reinterpret_cast<const uint8_t*>(p.text), p.len, b);
}

DW str_slice(DW s, DW* a, int n) {
  if (!is_int(a[0])) raise_eval_error(2715, "引数不正(非整数)");
  if (n >= 2 && !is_int(a[1])) raise_eval_error(2710, "引数不正(非整数)");
  StrPos p;
  str_pos_open(&p, s);
  int64_t count = str_pos_count(&p);
  int64_t from = int_arg(a[0]);
  if (from < 0) from += count;
  if (from < 0) from = 0;
  int64_t to = n >= 2 ? int_arg(a[1]) : count;
  if (to > count) to = count;
  if (to < 0) to += count;
  if (to - from < 1) return string_new(0);
  return chars(&p, from, to);
}

DW str_substr(DW s, DW* a, int n) {
  StrPos p;
  str_pos_open(&p, s);
  int64_t count = str_pos_count(&p);
  int64_t from = is_int(a[0]) ? int_arg(a[0]) : 0;
  if (from < 0) from += count;
  from = clamp(from, 0, count);
  int64_t length = n >= 2 ? (is_int(a[1]) ? int_arg(a[1]) : 0) : count;
  if (from + length > count) length = count - from;
  if (length < 1) return string_new(0);
  return chars(&p, from, from + length);
}

DW str_substring(DW s, DW* a, int n) {
  StrPos p;
  str_pos_open(&p, s);
  int64_t count = str_pos_count(&p);
  int64_t from = clamp(is_int(a[0]) ? int_arg(a[0]) : 0, 0, count);
  int64_t to = n >= 2 ? clamp(is_int(a[1]) ? int_arg(a[1]) : 0, 0, count) : count;
  if (from > to) {
    int64_t t = from;
    from = to;
    to = t;
  }
  if (from == to) return string_new(0);
  return chars(&p, from, to);
}
