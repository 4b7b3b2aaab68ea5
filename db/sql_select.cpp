// select, selectHash, selectExists and selectInto: query results as script values.
#include <cstdlib>
#include <cstring>

#include "db/odbc_internal.h"
#include "db/sql_internal.h"
#include "errors/raise.h"
#include "eval/plugins.h"

constexpr uint32_t ROWS_FIRST = 1024, ROWS_GROW = 4096;

// A query's statement: query text, no numbered markers (they have no values here), variables bound.
static void prepare_query(sql_call* c, NodeRec* r) {
  sql_prepare(c, r, true, nullptr, nullptr);
  if (c->st->numbered_count > 0) raise_eval_error(1275, "バインド不正");
  sql_bind_variables(c->st, &c->vars);
}

// Runs the query of c in mode 2 or 3 with a 4,096-byte row buffer.
static int run_rows(sql_call* c, int mode, row_callback on_row, name_callback on_name, select_output* out) {
  alignas(8) char buffer[4096];
  row_sink sink;
  row_sink_init(&sink, buffer, sizeof buffer, on_row, on_name);
  out->user = c;
  return odbc_select(c->conn, c->st, mode, &c->vars, &sink, out);
}

// The row list of the call as an array (the rows pass to it).
static DW rows_array(sql_call* c) {
  DW a = make_array(c->list, c->list_count, true);
  c->list_count = 0;
  return a;
}

// ---- select, selectExists ----

DW sql_row_array(const row_sink* sink) {
  DW vals[ODBC_MAX_COLUMNS];
  for (int i = 0; i < sink->column_count; i++) vals[i] = sql_column_value(sink, i, 0);
  return make_array(vals, static_cast<uint32_t>(sink->column_count), true);
}

static int add_row(row_sink* sink, int, select_output* out) {
  auto* c = static_cast<sql_call*>(out->user);
  call_list_add(c, sql_row_array(sink), ROWS_FIRST, ROWS_GROW);
  return 0;
}

DW op_select(DW, NodeRec* r) {
  sql_call* c = sql_call_begin();
  prepare_query(c, r);
  select_output out{};
  run_rows(c, SELECT_ROWS, add_row, nullptr, &out);
  DW result = rows_array(c);
  sql_call_end(c);
  return result;
}

static int skip_row(row_sink*, int, select_output*) { return 0; }

DW op_select_exists(DW, NodeRec* r) {
  sql_call* c = sql_call_begin();
  prepare_query(c, r);
  select_output out{};
  int n = run_rows(c, SELECT_ROWS, skip_row, nullptr, &out);
  sql_call_end(c);
  return n > 0 ? DW_TRUE : DW_FALSE;
}

// ---- selectHash ----

// Column names interned once, before the first row. A name that repeats (two columns of the same
// name) keeps its first place and the value of its last column, as an object literal would.
struct hash_columns {
  DW keys[2 * ODBC_MAX_COLUMNS];    // mode 3 writes each column's key at keys[2 * i]
  DW pairs[2 * ODBC_MAX_COLUMNS];   // the distinct keys, in order of first appearance
  int place[ODBC_MAX_COLUMNS];      // per column: its pair
  int unique;
};

static DW intern_column(const char* name, size_t len) { return name_intern_text(name, len); }

static int add_hash_row(row_sink* sink, int row, select_output* out) {
  auto* c = static_cast<sql_call*>(out->user);
  auto* h = static_cast<hash_columns*>(c->extra);
  int n = sink->column_count;
  if (row == 0) {
    h->unique = 0;
    for (int i = 0; i < n; i++) {
      DW key = out->key_list[2 * i];
      int p = 0;
      while (p < h->unique && h->pairs[2 * p] != key) p++;
      if (p == h->unique) h->pairs[2 * h->unique++] = key;
      h->place[i] = p;
    }
  }
  DW pairs[2 * ODBC_MAX_COLUMNS];
  for (int p = 0; p < h->unique; p++) {
    pairs[2 * p] = h->pairs[2 * p];
    pairs[2 * p + 1] = DW_UNDEFINED;
  }
  for (int i = 0; i < n; i++) {
    DW* slot = &pairs[2 * h->place[i] + 1];
    value_discard(*slot);   // an earlier column of the same name
    *slot = sql_column_value(sink, i, 0);
  }
  call_list_add(c, make_object(pairs, static_cast<uint32_t>(h->unique)), ROWS_FIRST, ROWS_GROW);
  return 0;
}

static void free_plain(void* p) { std::free(p); }

DW op_select_hash(DW, NodeRec* r) {
  sql_call* c = sql_call_begin();
  prepare_query(c, r);
  auto* h = static_cast<hash_columns*>(db_alloc(sizeof(hash_columns)));
  c->extra = h;
  c->extra_free = free_plain;
  select_output out{};
  out.key_list = h->keys;
  run_rows(c, SELECT_HASH, add_hash_row, intern_column, &out);
  DW result = rows_array(c);
  sql_call_end(c);
  return result;
}

// ---- selectInto ----

// Only a name, a member or an element is a place.
static bool is_place(DW target) {
  if (dw_type(target) == T_CONST) return target > DW_NAN;
  if (dw_type(target) != T_NODE) return false;
  unsigned op = node_op(target);
  return op == OP_MEMBER || op == OP_INDEX;
}

struct into_targets {
  int count;
  Location loc[256];
};

static void release_targets(void* p) {
  auto* t = static_cast<into_targets*>(p);
  for (int i = 0; i < t->count; i++)
    if (t->loc[i].kind == LOC_ELEMENT || t->loc[i].kind == LOC_PAIR) dw_release(t->loc[i].container);
  std::free(t);
}

DW op_select_into(DW, NodeRec* r) {
  sql_call* c = sql_call_begin();
  sql_prepare(c, r, true, nullptr, nullptr);
  if (c->st->numbered_count > 0) raise_eval_error(1275, "バインド不正");
  uint32_t argc = rec_argc(r);
  auto* t = static_cast<into_targets*>(db_alloc(sizeof(into_targets)));
  t->count = 0;
  c->extra = t;
  c->extra_free = release_targets;
  DW* args = rec_args(r);
  for (uint32_t i = 2; i < argc; i++) {
    // The location is cleared first: a target that is not a place leaves none.
    create_missing = true;
    last_location.kind = LOC_NONE;
    last_location_const = false;
    DW v = eval_arg(args[i]);
    create_missing = false;
    value_discard(v);
    if (!is_place(args[i]) || last_location.kind == LOC_NONE || last_location_const)
      raise_eval_error(1280, "関数selIntoの値設定先不正");
    Location& loc = t->loc[t->count++];
    loc = last_location;
    // The container stays alive while the query runs, whatever the marker expressions do.
    if (loc.kind == LOC_ELEMENT || loc.kind == LOC_PAIR) dw_ref(loc.container);
  }
  sql_bind_variables(c->st, &c->vars);
  alignas(8) char buffer[4096];
  row_sink sink;
  row_sink_init(&sink, buffer, sizeof buffer, nullptr, nullptr);
  select_output out{};
  out.target_count = t->count;
  int n = odbc_select(c->conn, c->st, SELECT_INTO, &c->vars, &sink, &out);
  if (n == 1) {
    for (int i = 0; i < t->count; i++) {
      DW v = sql_column_value(&sink, i, 0);
      store_location(t->loc[i], v, 3);
      value_discard(v);   // not kept when the place is a number field
    }
  }
  row_sink_free(&sink);
  sql_call_end(c);
  return make_int(n, 0);
}
