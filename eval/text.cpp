// The text forms of values: value_to_text (top level) and append_value_text (nested values),
// and the growable text buffer they write into.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "eval/ops.h"
#include "eval/plugins.h"
#include "store/number_text.h"

void textbuf_append(TextBuf* b, const char* s, size_t n) {
  if (b->len + n + 1 > b->cap) {
    size_t cap = b->len + n + 3096;
    char* grown;
    if (b->heap) {
      grown = static_cast<char*>(std::realloc(b->data, cap));
    } else {
      grown = static_cast<char*>(std::malloc(cap));
      if (grown && b->len) std::memcpy(grown, b->data, b->len);
    }
    if (!grown) raise_eval_error(1400, "メモリ領域を取得できません");
    b->data = grown;
    b->cap = cap;
    b->heap = true;
  }
  std::memcpy(b->data + b->len, s, n);
  b->len += n;
  b->data[b->len] = 0;
}

void textbuf_free(TextBuf* b) {
  if (b->heap) std::free(b->data);
  b->heap = false;
  b->data = nullptr;
  b->len = b->cap = 0;
}

const char* error_code(DW rec, size_t* len) {
  auto* p = static_cast<uint8_t*>(area_ptr(rec));
  uint16_t cl;
  std::memcpy(&cl, p + 4, 2);
  *len = cl;
  return reinterpret_cast<const char*>(p + 6);
}

const char* error_message(DW rec, size_t* len) {
  auto* p = static_cast<uint8_t*>(area_ptr(rec));
  uint16_t ml, cl;
  std::memcpy(&ml, p + 2, 2);
  std::memcpy(&cl, p + 4, 2);
  *len = ml;
  return reinterpret_cast<const char*>(p + 8 + cl);
}

static void append_int(TextBuf* b, int32_t v) {
  char t[16];
  textbuf_append(b, t, int_text(v, t));
}

static void append_float(TextBuf* b, double d) {
  char t[400];
  int n = number_text(d, t, sizeof t);
  textbuf_append(b, t, static_cast<size_t>(n));
}

static void append_date(TextBuf* b, DW v) {
  const uint8_t* d = dw_rec(v);
  int16_t year;
  std::memcpy(&year, d + 6, 2);
  uint32_t w;
  std::memcpy(&w, d + 8, 4);
  int ms = static_cast<int>(w & 0x3FF);
  char t[64];
  int n;
  if (ms)
    n = std::snprintf(t, sizeof t, "%04d-%02d-%02d %02d:%02d:%02d.%03d", year, (d[1] & 0x0F) + 1, d[3] & 0x1F,
                      d[2], d[4], d[5], ms);
  else
    n = std::snprintf(t, sizeof t, "%04d-%02d-%02d %02d:%02d:%02d", year, (d[1] & 0x0F) + 1, d[3] & 0x1F, d[2],
                      d[4], d[5]);
  textbuf_append(b, t, static_cast<size_t>(n));
}

static void append_error(TextBuf* b, DW v) {
  size_t cl, ml;
  const char* c = error_code(v, &cl);
  const char* m = error_message(v, &ml);
  textbuf_append(b, c, strnlen(c, cl));
  textbuf_putc(b, ':');
  textbuf_append(b, m, ml);
}

static void append_regexp(TextBuf* b, DW v) {
  char t[1024];
  size_t n = regexp_text(v, t, sizeof t);
  if (n < sizeof t) {
    textbuf_append(b, t, n);
    return;
  }
  char* big = static_cast<char*>(std::malloc(n + 1));
  if (!big) raise_eval_error(1400, "メモリ領域を取得できません");
  regexp_text(v, big, n + 1);
  textbuf_append(b, big, n);
  std::free(big);
}

static void append_name(TextBuf* b, uint32_t name) {
  name &= NAME_MASK;
  textbuf_append(b, name_text(name), name_length(name));
}

static void append_keyed(TextBuf* b, DW v, bool quote) {
  auto* k = keyed_rec(v);
  textbuf_putc(b, '[');
  const DW* pairs = k->count ? static_cast<DW*>(area_ptr(k->pairs)) : nullptr;
  for (uint32_t i = 0; i < k->count; i++) {
    if (i) textbuf_putc(b, ',');
    DW key = pairs[2 * i];
    if (dw_type(key) == T_INDEX) append_int(b, static_cast<int32_t>(key & 0xFFFFFF));
    else append_name(b, key);
    textbuf_putc(b, ':');
    append_value_text(pairs[2 * i + 1], quote, b);
  }
  textbuf_putc(b, ']');
}

static void append_array(TextBuf* b, DW v, bool quote) {
  auto* a = arr_rec(v);
  textbuf_putc(b, '[');
  const DW* el = a->count ? static_cast<DW*>(area_ptr(a->elems)) : nullptr;
  for (uint32_t i = 0; i < a->count; i++) {
    if (i) textbuf_putc(b, ',');
    append_value_text(el[i], quote, b);
  }
  textbuf_putc(b, ']');
}

// nested: member names in single quotes; values always quoted.
static void append_object(TextBuf* b, DW v, bool nested) {
  auto* o = obj_rec(v);
  textbuf_putc(b, '{');
  const DW* pairs = o->count ? static_cast<DW*>(area_ptr(o->pairs)) : nullptr;
  for (uint32_t i = 0; i < o->count; i++) {
    if (i) textbuf_putc(b, ',');
    if (nested) textbuf_putc(b, '\'');
    append_name(b, pairs[2 * i]);
    if (nested) textbuf_putc(b, '\'');
    textbuf_putc(b, ':');
    append_value_text(pairs[2 * i + 1], true, b);
  }
  textbuf_putc(b, '}');
}

// Shared by both forms; top selects the top-level variants.
static void append_text(DW v, bool quote, TextBuf* b, bool top) {
  stack_check();
  switch (dw_type(v)) {
    case T_CONST: {
      size_t n;
      const char* t = constant_name(v, &n);
      textbuf_append(b, t, n);
      return;
    }
    case T_INT: append_int(b, int_rec(v)->value); return;
    case T_FLOAT: append_float(b, float_rec(v)->value); return;
    case T_STRING:
      quote = quote && !top;
      if (quote) textbuf_putc(b, '"');
      textbuf_append(b, str_text(v), str_rec(v)->len);
      if (quote) textbuf_putc(b, '"');
      return;
    case T_DATE: append_date(b, v); return;
    case T_ERROR: append_error(b, v); return;
    case T_REGEXP: append_regexp(b, v); return;
    case T_STMT: textbuf_append(b, "SQL_Object", 10); return;
    case T_CONN: textbuf_append(b, "DB_Connection", 13); return;
    case T_NODE:
      if (top) {
        char t[40];
        int n = std::snprintf(t, sizeof t, "operation_index: %d", node_rec(v)->op);
        textbuf_append(b, t, static_cast<size_t>(n));
      } else {
        textbuf_append(b, "Operation", 9);
      }
      return;
    case T_ARRAY: append_array(b, v, quote); return;
    case T_KEYED: append_keyed(b, v, quote); return;
    case T_OBJECT: append_object(b, v, !top); return;
    default:
      if (top) raise_eval_error(2522, "データの型不正");
      raise_eval_error(2520, "データの型不正");
  }
}

void append_value_text(DW v, bool quote, TextBuf* b) { append_text(v, quote, b, false); }

char* value_to_text(DW v, size_t* len, char* buf, size_t size, bool* owned) {
  TextBuf b;
  textbuf_init(&b, buf, size);
  append_text(v, true, &b, true);
  *len = b.len;
  *owned = b.heap;
  return b.data;
}

DW value_text_string(DW v) {
  char buf[3072];
  size_t len;
  bool owned;
  char* t = value_to_text(v, &len, buf, sizeof buf, &owned);
  DW s = make_string(t, len, 0);
  if (owned) std::free(t);
  return s;
}
