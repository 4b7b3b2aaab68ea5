// String methods that take a text or a regular expression as pattern: split, replace,
// replaceAll, search, str_match, str_matchAll, and the group references of replacements.
#include <cstring>

#include "builtins/string_methods.h"
#include "frontend/tree.h"
#include "regexp/regexp.h"

namespace {

constexpr uint32_t NO_SPAN = 0xFFFFFFFFu;
constexpr int MAX_REPLACE_GROUPS = 128;
constexpr int MAX_REFERENCES = 256;

// Byte spans collected before any string is made, and the handles of the pieces.
WordList spans;
WordList pieces;
WordList matches;

void push_span(uint32_t b0, uint32_t b1) {
  words_push(&spans, b0);
  words_push(&spans, b1);
}

void push_group(const RxSubject* sub, const RxFound* f, int g) {
  int32_t s = f->span[2 * g], e = f->span[2 * g + 1];
  if (s < 0 || e <= s) push_span(NO_SPAN, NO_SPAN);
  else push_span(rx_byte(sub, s), rx_byte(sub, e));
}

DW span_string(const char* text, size_t k) {
  uint32_t b0 = spans.data[k], b1 = spans.data[k + 1];
  return b0 == NO_SPAN ? string_new(0) : string_of(text + b0, b1 - b0);
}

// An array of one string per collected span of text.
DW pieces_array(const char* text) {
  pieces.len = 0;
  for (size_t k = 0; k < spans.len; k += 2) words_push(&pieces, span_string(text, k));
  return array_of(pieces.data, pieces.len);
}

// Next search position after a match: past an empty match by one unit.
inline int32_t next_from(const RxFound& f) { return f.end == f.start ? f.end + 1 : f.end; }

void append_group(const RxSubject* sub, const RxFound* f, int g) {
  int32_t s = f->span[2 * g], e = f->span[2 * g + 1];
  if (s < 0 || e <= s) return;
  uint32_t b0 = rx_byte(sub, s);
  out_append(sub->text + b0, rx_byte(sub, e) - b0);
}

// Appends a replacement for one match, with $N and $<name> expanded when the pattern has
// groups; any other $ stays as written.
void append_replacement(const char* r, size_t rlen, const RxSubject* sub, const RxFound* f) {
  int groups = f->groups;
  if (groups == 0) {
    out_append(r, rlen);
    return;
  }
  if (groups > MAX_REPLACE_GROUPS) raise_eval_error(2717, "正規表現 $n 不正");
  int refs = 0;
  size_t i = 0;
  while (i < rlen) {
    const char* d = static_cast<const char*>(std::memchr(r + i, '$', rlen - i));
    size_t k = d ? static_cast<size_t>(d - r) : rlen;
    out_append(r + i, k - i);
    i = k;
    if (i >= rlen) break;
    if (i + 1 < rlen && r[i + 1] >= '0' && r[i + 1] <= '9') {
      size_t j = i + 1;
      int64_t num = 0;
      while (j < rlen && r[j] >= '0' && r[j] <= '9') {
        if (num < 1000000) num = num * 10 + (r[j] - '0');
        j++;
      }
      if (num < 1 || num > groups) raise_eval_error(2717, "正規表現 $n 不正");
      if (++refs >= MAX_REFERENCES) raise_eval_error(2716, "正規表現 置換個数不正");
      append_group(sub, f, static_cast<int>(num));
      i = j;
      continue;
    }
    if (i + 1 < rlen && r[i + 1] == '<') {
      const char* name = r + i + 2;
      const char* gt = static_cast<const char*>(std::memchr(name, '>', rlen - (i + 2)));
      if (gt) {
        size_t nlen = static_cast<size_t>(gt - name);
        if (nlen > NAME_MAX_LENGTH) raise_eval_error(2718, "RegExp グループ不正");
        int32_t idx = name_lookup(name, nlen);
        int g = idx >= 0 ? regexp_group_by_name(f->seq, static_cast<uint32_t>(idx)) : 0;
        size_t after = static_cast<size_t>(gt - r) + 1;
        if (g > 0 && g <= groups) {
          if (++refs >= MAX_REFERENCES) raise_eval_error(2716, "正規表現 置換個数不正");
          append_group(sub, f, g);
        } else {
          out_append(r + i, after - i);  // an unknown name stays as written
        }
        i = after;
        continue;
      }
    }
    out_append("$", 1);
    i++;
  }
}

// Text pattern argument of replace/replaceAll (a string).
DW replace_text(DW s, DW pat, DW rep, bool all) {
  const char* text = str_text(s);
  uint32_t len = str_rec(s)->len;
  const char* pt = str_text(pat);
  uint32_t plen = str_rec(pat)->len;
  const char* rt = str_text(rep);
  uint32_t rlen = str_rec(rep)->len;
  out_reset();
  if (plen == 0) {
    // An empty pattern occurs before the first character; for all, at every character
    // boundary and at the end.
    out_append(rt, rlen);
    if (!all) {
      out_append(text, len);
    } else {
      const auto* u = reinterpret_cast<const uint8_t*>(text);
      for (uint32_t b = 0; b < len;) {
        uint32_t e = b + utf8_step(u[b]);
        if (e > len) e = len;
        out_append(text + b, e - b);
        out_append(rt, rlen);
        b = e;
      }
    }
    return string_of(str_out.data, str_out.len);
  }
  int64_t at = bytes_find(text, len, 0, pt, plen);
  if (at < 0) return s;
  size_t last = 0;
  while (at >= 0) {
    out_append(text + last, static_cast<size_t>(at) - last);
    out_append(rt, rlen);
    last = static_cast<size_t>(at) + plen;
    if (!all) break;
    at = bytes_find(text, len, last, pt, plen);
  }
  out_append(text + last, len - last);
  return string_of(str_out.data, str_out.len);
}

DW replace_regexp(DW s, DW re, DW rep, bool all) {
  RxSubject sub;
  rx_subject_open(&sub, s);
  const char* rt = str_text(rep);
  uint32_t rlen = str_rec(rep)->len;
  RxFound f;
  if (!rx_find(re, &sub, 0, &f)) return s;
  out_reset();
  uint32_t last = 0;
  for (;;) {
    uint32_t b0 = rx_byte(&sub, f.start);
    out_append(sub.text + last, b0 - last);
    append_replacement(rt, rlen, &sub, &f);
    last = rx_byte(&sub, f.end);
    if (!all || !rx_find(re, &sub, next_from(f), &f)) break;
  }
  out_append(sub.text + last, sub.len - last);
  return string_of(str_out.data, str_out.len);
}

}  // namespace

DW str_split(DW s, DW* a, int n) {
  if (n == 0) return array_of(&s, 1);
  // A negative limit, like none, sets no limit.
  uint64_t limit = UINT64_MAX;
  if (n >= 2) {
    if (!is_int(a[1])) raise_eval_error(2740, "引数不正(非整数)");
    if (int_arg(a[1]) >= 0) limit = static_cast<uint64_t>(int_arg(a[1]));
  }
  spans.len = 0;
  const char* text = str_text(s);
  uint32_t len = str_rec(s)->len;
  auto room = [&] { return spans.len / 2 < limit; };
  if (dw_type(a[0]) == T_REGEXP) {
    RxSubject sub;
    rx_subject_open(&sub, s);
    uint32_t last = 0;
    RxFound f;
    int32_t from = 0;
    while (room() && rx_find(a[0], &sub, from, &f) && f.end != f.start) {
      uint32_t b0 = rx_byte(&sub, f.start);
      push_span(last, b0);
      for (int g = 1; g <= f.groups && room(); g++) push_group(&sub, &f, g);
      last = rx_byte(&sub, f.end);
      from = f.end;
    }
    if (room()) push_span(last, len);
  } else {
    char buf[512];
    size_t slen;
    bool owned;
    const char* sep = arg_text(a[0], &slen, buf, sizeof buf, &owned);
    if (slen == 0) {
      const auto* u = reinterpret_cast<const uint8_t*>(text);
      for (uint32_t b = 0; b < len && room();) {
        uint32_t e = b + utf8_step(u[b]);
        if (e > len) e = len;
        push_span(b, e);
        b = e;
      }
    } else {
      size_t pos = 0;
      int64_t at;
      while (room() && (at = bytes_find(text, len, pos, sep, slen)) >= 0) {
        push_span(static_cast<uint32_t>(pos), static_cast<uint32_t>(at));
        pos = static_cast<size_t>(at) + slen;
      }
      if (room()) push_span(static_cast<uint32_t>(pos), len);
    }
    text_done(sep, owned);
  }
  return pieces_array(str_text(s));
}

DW str_replace(DW s, DW* a, int) {
  if (!is_string(a[1])) raise_eval_error(2720, "引数不正(非文字列)");
  if (is_string(a[0])) return replace_text(s, a[0], a[1], false);
  if (dw_type(a[0]) == T_REGEXP) return replace_regexp(s, a[0], a[1], false);
  raise_eval_error(2725, "引数不正(非文字列)");
}

DW str_replace_all(DW s, DW* a, int) {
  if (!is_string(a[1])) raise_eval_error(2730, "引数不正(非文字列)");
  if (is_string(a[0])) return replace_text(s, a[0], a[1], true);
  if (dw_type(a[0]) == T_REGEXP) {
    if (!rx_global(a[0])) raise_eval_error(2732, "引数不正(正規表現のgオプション)");
    return replace_regexp(s, a[0], a[1], true);
  }
  raise_eval_error(2735, "引数不正(非文字列)");
}

DW str_search(DW s, DW* a, int) {
  bool temp;
  DW re = rx_from_value(a[0], "", &temp);
  RxSubject sub;
  rx_subject_open(&sub, s);
  RxFound f;
  int32_t r = rx_find(re, &sub, 0, &f) && f.end != f.start ? f.start : -1;
  rx_done(re, temp);
  return int_value(r);
}

DW str_match(DW s, DW* a, int n) {
  if (n == 0) {
    DW empty = string_new(0);
    return array_of(&empty, 1);
  }
  bool temp;
  DW re = rx_from_value(a[0], "", &temp);
  RxSubject sub;
  rx_subject_open(&sub, s);
  RxFound f;
  DW res = DW_NULL;
  if (rx_global(re)) {
    spans.len = 0;
    for (int32_t from = 0; rx_find(re, &sub, from, &f); from = next_from(f))
      push_span(rx_byte(&sub, f.start), rx_byte(&sub, f.end));
    if (spans.len) res = pieces_array(sub.text);
  } else if (rx_find(re, &sub, 0, &f)) {
    res = rx_exec_result(re, &sub, &f, s);
  }
  rx_done(re, temp);
  return res;
}

DW str_match_all(DW s, DW* a, int) {
  bool temp = false;
  DW re = a[0];
  if (dw_type(re) == T_REGEXP) {
    if (!rx_global(re)) raise_eval_error(2745, "正規表現のオプション不正");
  } else {
    re = rx_from_value(a[0], "g", &temp);
  }
  RxSubject sub;
  rx_subject_open(&sub, s);
  // Per match: the group count, then the spans of the match and of each group.
  spans.len = 0;
  RxFound f;
  bool empty = false;
  for (int32_t from = 0; rx_find(re, &sub, from, &f); from = f.end) {
    if (f.end == f.start) {
      empty = true;
      break;
    }
    words_push(&spans, static_cast<uint32_t>(f.groups));
    push_span(rx_byte(&sub, f.start), rx_byte(&sub, f.end));
    for (int g = 1; g <= f.groups; g++) push_group(&sub, &f, g);
  }
  rx_done(re, temp);
  if (empty) raise_eval_error(2750, "REGEXPのマルチバイト不正");
  // The match arrays, then the list of them; the spans stay put while pieces is reused.
  matches.len = 0;
  const char* text = str_text(s);
  for (size_t k = 0; k < spans.len;) {
    uint32_t groups = spans.data[k++];
    pieces.len = 0;
    for (uint32_t g = 0; g <= groups; g++, k += 2) words_push(&pieces, span_string(text, k));
    words_push(&matches, array_of(pieces.data, pieces.len));
  }
  return array_of(matches.data, matches.len);
}
