// Evaluation of literals: array, object and keyed-array literals (a literal of plain values is
// one persistent value) and template strings.
#include <cstdlib>
#include <cstring>

#include "eval/ops.h"
#include "frontend/parser.h"

static bool literal_plain(DW lit, int depth);

static bool element_plain(DW e, int depth) {
  switch (dw_type(e)) {
    case T_STMT: case T_INT: case T_CONN: case T_DATE: case T_ERROR: case T_REGEXP: case T_FLOAT: case T_FUNC:
      return true;
    case T_STRING: return (str_rec(e)->flags & STR_TEMPLATE) == 0;
    case T_ARRAY: case T_KEYED: case T_OBJECT: return literal_plain(e, depth + 1);
    default: return false;
  }
}

// A literal needs no evaluation when all its members are plain. A value nested deeper than the
// limit (only a container holding itself gets there) counts as plain.
static bool literal_plain(DW lit, int depth) {
  if (depth > 64) return true;
  unsigned t = dw_type(lit);
  if (t == T_ARRAY) {
    auto* a = arr_rec(lit);
    const DW* el = a->count ? static_cast<DW*>(area_ptr(a->elems)) : nullptr;
    for (uint32_t i = 0; i < a->count; i++)
      if (!element_plain(el[i], depth)) return false;
    return true;
  }
  uint32_t n;
  DW list;
  if (t == T_KEYED) {
    auto* k = keyed_rec(lit);
    n = k->count;
    list = k->pairs;
  } else {
    auto* o = obj_rec(lit);
    n = o->count;
    list = o->pairs;
  }
  const DW* pairs = n ? static_cast<DW*>(area_ptr(list)) : nullptr;
  for (uint32_t i = 0; i < n; i++)
    if (!element_plain(pairs[2 * i + 1], depth)) return false;
  return true;
}

// A member of a literal being rebuilt, with one reference.
static DW member_value(DW e) {
  unsigned t = dw_type(e);
  DW v = (t == T_STMT || t == T_CONN) ? e : eval_node(e);
  return dw_ref(v);
}

DW eval_literal(DW lit) {
  stack_check();
  if (literal_plain(lit, 0)) return lit;
  unsigned t = dw_type(lit);
  if (t == T_ARRAY) {
    auto* a = arr_rec(lit);
    uint32_t n = a->count;
    if (!n) return lit;
    DW local[64];
    DW* vals = n <= 64 ? local : static_cast<DW*>(store_alloc(n * sizeof(DW)));
    for (uint32_t i = 0; i < n; i++) {
      // The element list is read again each time: evaluation may run code that changes it.
      a = arr_rec(lit);
      DW e = i < a->count ? static_cast<DW*>(area_ptr(a->elems))[i] : DW_UNDEFINED;
      vals[i] = member_value(e);
    }
    DW h = make_array(vals, n, false);
    if (vals != local) std::free(vals);
    return h;
  }
  uint32_t n = t == T_KEYED ? keyed_rec(lit)->count : obj_rec(lit)->count;
  if (!n) return lit;
  DW local[128];
  DW* pairs = n <= 64 ? local : static_cast<DW*>(store_alloc(2 * n * sizeof(DW)));
  for (uint32_t i = 0; i < n; i++) {
    uint32_t cnt;
    DW list;
    if (t == T_KEYED) {
      auto* k = keyed_rec(lit);
      cnt = k->count;
      list = k->pairs;
    } else {
      auto* o = obj_rec(lit);
      cnt = o->count;
      list = o->pairs;
    }
    const DW* src = static_cast<DW*>(area_ptr(list));
    pairs[2 * i] = i < cnt ? src[2 * i] : DW_UNDEFINED;
    pairs[2 * i + 1] = member_value(i < cnt ? src[2 * i + 1] : DW_UNDEFINED);
  }
  DW h;
  if (t == T_OBJECT) {
    h = make_object(pairs, n);
    // make_object took its own reference on each value.
    for (uint32_t i = 0; i < n; i++) dw_unref(pairs[2 * i + 1]);
  } else {
    KeyedRec* k = keyed_rec_new(&h, 0);
    void* mem;
    k->pairs = area_new((n + 10) * 8, &mem);
    k = keyed_rec(h);
    k->count = n;
    k->cap = n + 10;
    if (n) std::memcpy(mem, pairs, n * 8);
  }
  if (pairs != local) std::free(pairs);
  return h;
}

// Number of backslashes right before position p of text (not before start).
static size_t backslashes_before(const char* text, size_t p) {
  size_t n = 0;
  while (p > n && text[p - n - 1] == '\\') n++;
  return n;
}

DW eval_template(DW s) {
  const char* text = str_text(s);
  size_t len = str_rec(s)->len;
  char storage[4096];
  TextBuf out;
  textbuf_init(&out, storage, sizeof storage);
  size_t pos = 0;       // next byte to copy
  size_t scan = 0;      // where the search for "${" goes on
  for (;;) {
    const char* found = nullptr;
    for (size_t i = scan; i + 1 < len; i++)
      if (text[i] == '$' && text[i + 1] == '{') {
        found = text + i;
        break;
      }
    if (!found) break;
    size_t at = static_cast<size_t>(found - text);
    if (backslashes_before(text, at) & 1) {
      scan = at + 2;
      continue;
    }
    size_t close = at + 2;
    while (close < len && text[close] != '}') close++;
    if (close >= len || (backslashes_before(text, close) & 1)) raise_eval_error(2010, "フォーマット不正 ${ ... }");
    size_t exprLen = close - (at + 2);
    if (exprLen >= 512) raise_eval_error(2005, "バッファーのオーバーフロー ${...}");
    textbuf_append(&out, text + pos, at - pos);
    char expr[512];
    std::memcpy(expr, text + at + 2, exprLen);
    expr[exprLen] = 0;
    DW trees[256];
    uint32_t count = parse_expression_text(expr, PARSE_REPORT_FUNCTIONS, trees, 256);
    DW last = DW_UNDEFINED;
    for (uint32_t i = 0; i < count; i++) {
      if (i) dw_discard(last);
      last = eval_node(trees[i]);
    }
    append_value_text(last, false, &out);
    dw_discard(last);
    for (uint32_t i = 0; i < count; i++) dw_release(trees[i]);
    // The template's text may have moved if evaluation reallocated storage; read it again.
    text = str_text(s);
    pos = scan = close + 1;
  }
  textbuf_append(&out, text + pos, len - pos);
  DW h = make_string(out.data, out.len, 0);
  textbuf_free(&out);
  return h;
}
