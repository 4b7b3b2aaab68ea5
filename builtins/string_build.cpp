// String methods that build a new text from the receiver: concat, toUpperCase, toLowerCase,
// the trim family, padStart, padEnd, repeat.
#include <cstdlib>
#include <cstring>

#include "builtins/string_methods.h"

namespace {

// Writes copies of text (len bytes) into d until total bytes are written, doubling what is
// already there.
void fill_copies(char* d, const char* text, uint32_t len, uint64_t total) {
  if (total == 0) return;
  std::memcpy(d, text, len < total ? len : total);
  for (uint64_t done = len; done < total;) {
    uint64_t k = done <= total - done ? done : total - done;
    std::memcpy(d + done, d, k);
    done += k;
  }
}

inline bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

DW map_case(DW s, char from, int delta) {
  uint32_t len = str_rec(s)->len;
  DW h = string_new(len);
  const char* src = str_text(s);
  char* dst = str_text(h);
  for (uint32_t i = 0; i < len; i++) {
    char c = src[i];
    dst[i] = static_cast<unsigned char>(c - from) < 26 ? static_cast<char>(c + delta) : c;
  }
  return h;
}

// Removes white space at the start and/or the end. A receiver held only by the call in
// progress (a temporary) is shortened in place.
DW trim(DW s, bool start, bool end) {
  StrRec* r = str_rec(s);
  char* t = str_text(s);
  uint32_t a = 0, e = r->len;
  if (start)
    while (a < e && is_blank(t[a])) a++;
  if (end)
    while (e > a && is_blank(t[e - 1])) e--;
  if (a == 0 && e == r->len) return s;
  if (dw_count(s) <= 1) {
    std::memmove(t, t + a, e - a);
    t[e - a] = 0;
    r->len = e - a;
    return s;
  }
  return string_of(t + a, e - a);
}

DW pad(DW s, DW* a, int n, bool atStart) {
  if (!is_int(a[0])) raise_eval_error(atStart ? 2770 : 2760, "引数不正(非整数)");
  const char* pt = " ";
  uint32_t plen = 1;
  if (n >= 2) {
    if (!is_string(a[1])) raise_eval_error(atStart ? 2775 : 2765, "引数不正(非文字列)");
    if (str_rec(a[1])->len) {
      pt = str_text(a[1]);
      plen = str_rec(a[1])->len;
    }
  }
  StrPos p;
  str_pos_open(&p, s);
  int64_t count = str_pos_count(&p);
  int64_t target = int_arg(a[0]);
  if (target <= count) return s;
  uint64_t need = static_cast<uint64_t>(target - count);
  uint32_t pchars = utf8_count(pt, plen);
  uint64_t whole = need / pchars;
  uint32_t rest = utf8_offset(pt, plen, static_cast<uint32_t>(need % pchars));
  uint64_t padBytes = whole * plen + rest;
  DW h = string_new(p.len + padBytes);
  char* d = str_text(h);
  char* q = atStart ? d : d + p.len;
  fill_copies(q, pt, plen, whole * plen);
  std::memcpy(q + whole * plen, pt, rest);
  std::memcpy(atStart ? d + padBytes : d, str_text(s), p.len);
  return h;
}

}  // namespace

DW str_concat(DW s, DW* a, int n) {
  out_reset();
  out_append(str_text(s), str_rec(s)->len);
  for (int i = 0; i < n; i++) {
    if (is_string(a[i])) {
      out_append(str_text(a[i]), str_rec(a[i])->len);
      continue;
    }
    // Other values write their text into the same buffer; a grown buffer is adopted.
    if (str_out.len + 1 > str_out.cap) out_grow(1);
    TextBuf b{str_out.data, str_out.len, str_out.cap, false};
    append_value_text(a[i], false, &b);
    if (b.heap) {
      std::free(str_out.data);
      str_out.data = b.data;
      str_out.cap = b.cap;
    }
    str_out.len = b.len;
  }
  return string_of(str_out.data, str_out.len);
}

DW str_to_upper(DW s, DW*, int) { return map_case(s, 'a', -32); }
DW str_to_lower(DW s, DW*, int) { return map_case(s, 'A', 32); }
DW str_trim(DW s, DW*, int) { return trim(s, true, true); }
DW str_trim_start(DW s, DW*, int) { return trim(s, true, false); }
DW str_trim_end(DW s, DW*, int) { return trim(s, false, true); }
DW str_pad_start(DW s, DW* a, int n) { return pad(s, a, n, true); }
DW str_pad_end(DW s, DW* a, int n) { return pad(s, a, n, false); }

DW str_repeat(DW s, DW* a, int) {
  int64_t times;
  if (!int_or_floor(a[0], &times)) raise_eval_error(2795, "引数不正(非数値)");
  if (times < 0) raise_eval_error(2800, "引数不正(負数)");
  uint32_t len = str_rec(s)->len;
  uint64_t total = static_cast<uint64_t>(len) * static_cast<uint64_t>(times);
  DW h = string_new(total);
  fill_copies(str_text(h), str_text(s), len, total);
  return h;
}
