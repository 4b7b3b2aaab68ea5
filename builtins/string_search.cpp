// String methods that look for a text: indexOf, lastIndexOf, includes, startsWith, endsWith,
// and localeCompare, which is not available.
#include <cstring>

#include "builtins/string_methods.h"

namespace {

// A position argument of includes/startsWith: Integer or floor of a Float, negative as 0.
uint32_t position_arg(DW* a, int n, int code) {
  if (n < 2) return 0;
  int64_t v;
  if (!int_or_floor(a[1], &v)) raise_eval_error(code, "引数不正(非数値)");
  return v < 0 ? 0 : static_cast<uint32_t>(v);
}

// The start of the last occurrence of needle that starts at or before byte limit, or -1.
int64_t last_find(const char* hay, size_t hlen, size_t limit, const char* needle, size_t nlen) {
  if (nlen > hlen) return -1;
  size_t pos = hlen - nlen;
  if (pos > limit) pos = limit;
  for (;;) {
    const void* c = memrchr(hay, static_cast<unsigned char>(needle[0]), pos + 1);
    if (!c) return -1;
    pos = static_cast<size_t>(static_cast<const char*>(c) - hay);
    if (std::memcmp(hay + pos, needle, nlen) == 0) return static_cast<int64_t>(pos);
    if (pos == 0) return -1;
    pos--;
  }
}

}  // namespace

// indexOf and lastIndexOf: the character position of the first match at or after from (or the
// last at or before it), -1 when none; an empty search text gives from itself.
static DW search_position(DW s, DW* a, int n, bool last) {
  StrPos p;
  str_pos_open(&p, s);
  int64_t count = str_pos_count(&p);
  int64_t from = n >= 2 ? int_arg(a[1]) : (last ? count : 0);
  if (from < 0) from = 0;
  if (from > count) from = count;
  char buf[512];
  size_t slen;
  bool owned;
  const char* t = arg_text(a[0], &slen, buf, sizeof buf, &owned);
  int64_t r = from;
  if (slen) {
    size_t start = str_pos_offset(&p, static_cast<uint32_t>(from));
    int64_t at = last ? last_find(p.text, p.len, start, t, slen) : bytes_find(p.text, p.len, start, t, slen);
    r = at < 0 ? -1 : str_pos_index(&p, static_cast<uint32_t>(at));
  }
  text_done(t, owned);
  return int_value(static_cast<int32_t>(r));
}

DW str_index_of(DW s, DW* a, int n) {
  if (n >= 2 && !is_int(a[1])) raise_eval_error(2700, "引数不正(非整数)");
  return search_position(s, a, n, false);
}

DW str_last_index_of(DW s, DW* a, int n) {
  if (n >= 2 && !is_int(a[1])) raise_eval_error(2705, "引数不正(非整数)");
  return search_position(s, a, n, true);
}

DW str_includes(DW s, DW* a, int n) {
  uint32_t from = position_arg(a, n, 2780);
  if (!is_string(a[0])) raise_eval_error(2785, "引数不正(非文字列)");
  uint32_t slen = str_rec(a[0])->len;
  if (slen == 0) return DW_TRUE;
  StrPos p;
  str_pos_open(&p, s);
  uint32_t b = str_pos_offset(&p, from);
  return bytes_find(p.text, p.len, b, str_text(a[0]), slen) >= 0 ? DW_TRUE : DW_FALSE;
}

DW str_starts_with(DW s, DW* a, int n) {
  uint32_t pos = position_arg(a, n, 2805);
  if (!is_string(a[0])) raise_eval_error(2810, "引数不正(非文字列)");
  uint32_t slen = str_rec(a[0])->len;
  if (slen == 0) return DW_TRUE;
  StrPos p;
  str_pos_open(&p, s);
  uint32_t b = str_pos_offset(&p, pos);
  return p.len - b >= slen && std::memcmp(p.text + b, str_text(a[0]), slen) == 0 ? DW_TRUE : DW_FALSE;
}

DW str_ends_with(DW s, DW* a, int n) {
  int64_t end = -1;  // the character count
  if (n >= 2) {
    if (!int_or_floor(a[1], &end)) end = 0;
    if (end < 0) end = 0;
  }
  if (!is_string(a[0])) raise_eval_error(2815, "引数不正(非文字列)");
  uint32_t slen = str_rec(a[0])->len;
  if (slen == 0) return DW_TRUE;
  StrPos p;
  str_pos_open(&p, s);
  uint32_t b = end < 0 ? p.len : str_pos_offset(&p, static_cast<uint32_t>(end));
  return b >= slen && std::memcmp(p.text + b - slen, str_text(a[0]), slen) == 0 ? DW_TRUE : DW_FALSE;
}

DW str_locale_compare(DW, DW*, int) {
  raise_eval_error(2787, "関数 localeCompare は実装されていません。");
}
