// sql_aggregate: the aggregation object, the group order, the cell query and the result.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "db/aggregate.h"
#include "db/odbc_internal.h"
#include "errors/raise.h"
#include "eval/plugins.h"

[[noreturn]] static void bad_column() { raise_eval_error(6375, "sql_aggregate関数Column Indexが正しくありません"); }
[[noreturn]] static void too_many() { raise_eval_error(6375, "sql_aggregate関数のKeyカラム数が多すぎます"); }

// A column number (from 1) of the aggregation object as a column index (from 0).
static int column_of(DW v) {
  if (dw_type(v) != T_INT) bad_column();
  int32_t n = int_rec(v)->value;
  if (n < 1) bad_column();
  return n - 1;
}

// One column number or an array of them, appended to cols (fewer than 512 in all).
static void read_columns(DW v, int* cols, int* count) {
  if (dw_type(v) != T_ARRAY) {
    if (*count + 1 >= AGG_MAX_COLUMNS) too_many();
    cols[(*count)++] = column_of(v);
    return;
  }
  auto* a = arr_rec(v);
  if (*count + a->count >= static_cast<uint32_t>(AGG_MAX_COLUMNS)) too_many();
  for (uint32_t i = 0; i < a->count; i++) cols[(*count)++] = column_of(static_cast<DW*>(area_ptr(a->elems))[i]);
}

static void add_aggregate(agg_state* s, uint8_t op, int col) {
  if (s->agg_count + 1 >= AGG_MAX_COLUMNS) too_many();
  s->aggs[s->agg_count++] = {op, col};
}

static void read_plan(agg_state* s, DW plan) {
  auto* o = obj_rec(plan);
  for (uint32_t i = 0; i < o->count; i++) {
    const DW* pair = static_cast<DW*>(area_ptr(o->pairs)) + 2 * i;
    DW v = pair[1];
    uint8_t op = 0;
    switch (pair[0]) {
      case NAME_KEY: read_columns(v, s->key_cols, &s->key_count); continue;
      case NAME_GROUP: read_columns(v, s->group_cols, &s->group_count); continue;
      case NAME_COUNT: add_aggregate(s, AGG_COUNT, -1); continue;
      case NAME_TOTAL: s->total_col = column_of(v); continue;
      case NAME_TOTAL_COUNT: s->want_total_count = true; continue;
      case NAME_VALUE: op = AGG_VALUE; break;
      case NAME_SUM: op = AGG_SUM; break;
      case NAME_MAXIMUM: op = AGG_MAX; break;
      case NAME_MINIMUM: op = AGG_MIN; break;
      case NAME_AVERAGE: op = AGG_AVERAGE; break;
      default: raise_eval_error(6390, "sql_aggregate関数のcolumn不正(KEY STRING)");
    }
    int cols[AGG_MAX_COLUMNS];
    int n = 0;
    read_columns(v, cols, &n);
    for (int k = 0; k < n; k++) add_aggregate(s, op, cols[k]);
  }
}

// One value of a group order element: integer, float, string or constant.
static void order_value(DW v, char* buf, size_t* n) {
  char num[400];
  const char* text;
  size_t len;
  switch (dw_type(v)) {
    case T_INT: len = static_cast<size_t>(std::snprintf(num, sizeof num, "%d", int_rec(v)->value)); text = num; break;
    case T_FLOAT: len = sql_float_text(float_rec(v)->value, num, sizeof num); text = num; break;
    case T_STRING: text = str_text(v); len = str_rec(v)->len; break;
    case T_CONST:
      if (v <= DW_NAN) {
        text = constant_name(v, &len);
        break;
      }
      [[fallthrough]];
    default: raise_eval_error(6420, "sql_aggregate関数のgroup配列不正");
  }
  std::memcpy(buf + *n, text, len);
  *n += len;
}

static size_t order_value_size(DW v) {
  return dw_type(v) == T_STRING ? str_rec(v)->len : 400;
}

// Each element of the group order becomes a group text: "(" value ":" value ... ")".
static void read_group_order(agg_state* s, DW order) {
  auto* a = arr_rec(order);
  const DW* e = a->count ? static_cast<DW*>(area_ptr(a->elems)) : nullptr;
  sql_call* c = s->call;
  for (uint32_t i = 0; i < a->count; i++) {
    const DW* parts = &e[i];
    uint32_t np = 1;
    if (dw_type(e[i]) == T_ARRAY) {
      auto* inner = arr_rec(e[i]);
      np = inner->count;
      parts = np ? static_cast<DW*>(area_ptr(inner->elems)) : nullptr;
    }
    size_t need = 2;
    for (uint32_t k = 0; k < np; k++) need += order_value_size(parts[k]) + 1;
    std::free(c->buf);
    c->buf = nullptr;   // never left pointing at freed storage
    c->buf = static_cast<char*>(db_alloc(need));
    size_t n = 0;
    for (uint32_t k = 0; k < np; k++) {
      c->buf[n++] = k == 0 ? '(' : ':';
      order_value(parts[k], c->buf, &n);
    }
    if (np == 0) c->buf[n++] = '(';
    c->buf[n++] = ')';
    aggregate_add_group(s, c->buf, n);
  }
}

DW op_sql_aggregate(DW, NodeRec* r) {
  sql_call* c = sql_call_begin();
  sql_prepare(c, r, true, nullptr, nullptr);
  if (c->st->numbered_count > 0) raise_eval_error(6400, "sql_aggregate関数のSQL不正(BIND)");
  // Strings are bound as characters in place, never widened.
  bind_list_init(&c->vars, true);
  sql_bind_variables(c->st, &c->vars);

  auto* s = static_cast<agg_state*>(db_alloc(sizeof(agg_state)));
  std::memset(s, 0, sizeof *s);
  s->call = c;
  s->total_col = -1;
  c->extra = s;
  c->extra_free = aggregate_state_free;

  DW* args = rec_args(r);
  DW plan = call_hold(c, eval_arg(args[2]));
  if (dw_type(plan) != T_OBJECT) raise_eval_error(6401, "sql_aggregate関数の引数不正(NOT HASH)");
  read_plan(s, plan);
  if (s->agg_count == 0 && s->total_col < 0 && !s->want_total_count)
    raise_eval_error(6435, "sql_aggregate集合関数の引数不正");
  if (rec_argc(r) >= 4) {
    DW order = call_hold(c, eval_arg(args[3]));
    if (dw_type(order) != T_ARRAY) raise_eval_error(6405, "sql_aggregate関数のgroup並び順不正(NOT ARRAY)");
    if (s->group_count == 0) raise_eval_error(6410, "sql_aggregate関数のgroup並び順不正(NO GROUP COLUMN)");
    read_group_order(s, order);
    s->mode |= AGG_MODE_ORDER;
  }
  if (s->group_count) s->mode |= AGG_MODE_GROUPS;
  if (s->key_count) s->mode |= AGG_MODE_KEYS;

  cell_consumer consumer{s, aggregate_begin, aggregate_row, aggregate_finish};
  odbc_select_cells(c->conn, c->st, &c->vars, &consumer);
  DW result = make_array(c->list, c->list_count, true);
  c->list_count = 0;
  sql_call_end(c);
  return result;
}
