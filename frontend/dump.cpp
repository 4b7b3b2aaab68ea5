// Tree dump: a compact one-line text form of program trees for tests and debugging.
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "frontend/parser.h"

static char* dump_buf = nullptr;
static size_t dump_len = 0, dump_cap = 0;
static bool dump_positions = false;

static void put(const char* s, size_t n) {
  if (dump_len + n + 1 > dump_cap) {
    size_t cap = dump_cap ? dump_cap : 1024;
    while (cap < dump_len + n + 1) cap *= 2;
    char* b = static_cast<char*>(std::realloc(dump_buf, cap));
    if (!b) std::abort();
    dump_buf = b;
    dump_cap = cap;
  }
  std::memcpy(dump_buf + dump_len, s, n);
  dump_len += n;
  dump_buf[dump_len] = 0;
}
static void put(const char* s) { put(s, std::strlen(s)); }
static void putf(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
static void putf(const char* fmt, ...) {
  char tmp[64];
  va_list ap;
  va_start(ap, fmt);
  int n = std::vsnprintf(tmp, sizeof tmp, fmt, ap);
  va_end(ap);
  put(tmp, static_cast<size_t>(n < 0 ? 0 : n >= 64 ? 63 : n));
}

static void dump(DW h);

static void dump_words(const DW* w, uint32_t n, const char* open, const char* close) {
  put(open);
  for (uint32_t i = 0; i < n; i++) {
    if (i) put(",");
    dump(w[i]);
  }
  put(close);
}

static void dump_string(DW h) {
  const StrRec* r = str_rec(h);
  bool tmpl = r->flags & STR_TEMPLATE;
  const char* t = str_text(h);
  put(tmpl ? "`" : "\"");
  for (uint32_t i = 0; i < r->len; i++) {
    char c = t[i];
    if (c == '\n') put("\\n");
    else if (c == '\r') put("\\r");
    else if (c == '\t') put("\\t");
    else if ((c == '"' && !tmpl) || c == '\\') {
      put("\\");
      put(&c, 1);
    } else {
      put(&c, 1);
    }
  }
  put(tmpl ? "`" : "\"");
}

static void dump_float(double d) {
  char tmp[40];
  std::snprintf(tmp, sizeof tmp, "%.15g", d);
  if (std::strtod(tmp, nullptr) != d) std::snprintf(tmp, sizeof tmp, "%.17g", d);
  put(tmp);
  if (std::isfinite(d) && !std::strpbrk(tmp, ".e")) put(".0");
}

static void dump_position(uint32_t pos) {
  if (dump_positions) putf("@%u:%u", position_line(pos), position_column(pos));
}

static void dump_function(DW h) {
  put("FUNCTION");
  if (dump_positions) putf("@%u-%u", func_rec(h)->line, func_rec(h)->endLine);
  put("(");
  unsigned np = func_param_count(h), nl = func_local_count(h);
  DW* names = func_names(h);
  for (unsigned i = 0; i < np; i++) {
    if (i) put(",");
    dump(names[i]);
  }
  put("|");
  for (unsigned i = 0; i < nl; i++) {
    if (i) put(",");
    dump(names[np + i]);
  }
  put(")");
  dump(func_body(h));
}

static void dump_node(DW h) {
  unsigned op = node_op(h);
  uint32_t n = node_argc(h);
  const DW* a = node_args(h);
  put(opcode_name(op));
  dump_position(node_position(h));
  switch (op) {
    case OP_CALL:
    case OP_NEW:
      put("(");
      dump(a[0]);
      put(",");
      dump_words(arglist_args(a[1]), arglist_count(a[1]), "[", "]");
      put(")");
      return;
    case OP_FOR: {
      uint32_t ni = for_init_count(h), nu = for_update_count(h);
      const DW* w = for_words(h);
      put("(");
      dump_words(w, ni, "[", "]");
      put(",");
      dump(w[ni]);
      put(",");
      dump_words(w + ni + 1, nu, "[", "]");
      put(",");
      dump(a[2]);
      put(")");
      return;
    }
    case OP_FOR_OF:
    case OP_FOR_IN:
      put("(");
      dump(a[0]);
      put(",");
      dump(a[1]);
      put(",");
      dump(a[2]);
      putf(",%u)", a[3]);
      return;
    case OP_TRY:
      put("(");
      dump(a[0]);
      if (a[1]) {
        put(",CATCH(");
        dump(try_catch_name(a[1]));
        put(",");
        dump(try_catch_block(a[1]));
        put(")");
      } else {
        put(",0");
      }
      if (n > 2) {
        put(",");
        dump(a[2]);
      }
      put(")");
      return;
    case OP_SWITCH: {
      put("(");
      dump(switch_discriminant(h));
      put(",{");
      uint32_t pairs = switch_pair_count(h);
      for (uint32_t i = 2; i < pairs; i++) {
        if (i > 2) put(",");
        dump(switch_case_value(h, i));
        putf(":%u", switch_case_index(h, i));
      }
      if (switch_has_default(h)) putf("%sdefault:%u", pairs > 2 ? "," : "", switch_default_index(h));
      put("},");
      dump_words(switch_statements(h), switch_statement_count(h), "[", "]");
      put(")");
      return;
    }
    default:
      dump_words(a, n, "(", ")");
      return;
  }
}

static void dump(DW h) {
  switch (dw_type(h)) {
    case T_CONST:
      if (h < name_count) put(name_text(h));
      else putf("#%u", h);
      return;
    case T_INT:
      putf("%d", int_rec(h)->value);
      return;
    case T_FLOAT:
      dump_float(float_rec(h)->value);
      return;
    case T_STRING:
      dump_string(h);
      return;
    case T_REGEXP:
      put("REGEXP");
      return;
    case T_ARRAY: {
      const ArrRec* r = arr_rec(h);
      dump_words(static_cast<DW*>(area_ptr(r->elems)), r->count, "[", "]");
      return;
    }
    case T_OBJECT: {
      const ObjRec* r = obj_rec(h);
      const DW* pairs = static_cast<DW*>(area_ptr(r->pairs));
      put("{");
      for (uint32_t i = 0; i < r->count; i++) {
        if (i) put(",");
        dump(pairs[2 * i]);
        put(":");
        dump(pairs[2 * i + 1]);
      }
      put("}");
      return;
    }
    case T_NODE:
      dump_node(h);
      return;
    case T_FUNC:
      dump_function(h);
      return;
    default:
      putf("<type %u>", dw_type(h));
      return;
  }
}

const char* tree_dump(DW h, bool positions) {
  dump_len = 0;
  put("");
  dump_positions = positions;
  dump(h);
  return dump_buf;
}

const char* tree_dump_list(const DW* items, uint32_t count, bool positions) {
  dump_len = 0;
  put("");
  dump_positions = positions;
  for (uint32_t i = 0; i < count; i++) {
    if (i) put(";");
    dump(items[i]);
  }
  return dump_buf;
}
