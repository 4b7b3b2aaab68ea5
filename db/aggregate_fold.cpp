// Folding fetched rows into key groups and sub-groups: key breaks, group texts, the aggregates.
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "db/aggregate.h"
#include "db/odbc_internal.h"
#include "errors/raise.h"

void aggregate_init_value(agg_value* v, uint8_t op) {
  v->cell.type = CELL_INT;
  v->cell.length = 0;
  v->cell.v.i = op == AGG_MAX ? -2147483632 : op == AGG_MIN ? 2147483632 : 0;
  v->counter = 0;
}

void aggregate_state_free(void* p) {
  auto* s = static_cast<agg_state*>(p);
  std::free(s->cells);
  std::free(s->prev);
  std::free(s->key_text);
  std::free(s->groups);
  std::free(s->group_off);
  std::free(s->group_len);
  std::free(s->slots);
  for (uint32_t i = 0; i < s->set_cap * static_cast<uint32_t>(s->agg_count); i++) std::free(s->sets[i].text);
  std::free(s->sets);
  std::free(s->scratch);
  std::free(s);
}

// ---- sets ----

static void init_set(agg_state* s, uint32_t set) {
  agg_value* v = s->sets + static_cast<size_t>(set) * s->agg_count;
  for (int a = 0; a < s->agg_count; a++) aggregate_init_value(&v[a], s->aggs[a].op);
}

// Room for n sets; new room is zeroed (no text storage yet).
static void reserve_sets(agg_state* s, uint32_t n) {
  if (n <= s->set_cap) return;
  uint32_t cap = n + n / 2 + 8;
  size_t per = static_cast<size_t>(s->agg_count);
  s->sets = static_cast<agg_value*>(db_realloc(s->sets, sizeof(agg_value) * per * cap + 1));
  std::memset(s->sets + per * s->set_cap, 0, sizeof(agg_value) * per * (cap - s->set_cap));
  s->set_cap = cap;
}

// Makes sets 0..n-1 exist and initialises them all.
static void reset_sets(agg_state* s, uint32_t n) {
  reserve_sets(s, n);
  s->set_count = n;
  for (uint32_t i = 0; i < n; i++) init_set(s, i);
}

// One more set, initialised.
static void add_set(agg_state* s) {
  reserve_sets(s, s->set_count + 1);
  init_set(s, s->set_count++);
}

// ---- group list ----

static uint32_t text_hash(const char* t, size_t n) {
  uint32_t h = 2166136261u;
  for (size_t i = 0; i < n; i++) h = (h ^ static_cast<uint8_t>(t[i])) * 16777619u;
  return h;
}

static uint32_t* group_slot(agg_state* s, const char* t, size_t n) {
  uint32_t i = text_hash(t, n) & (s->slot_cap - 1);
  for (;;) {
    uint32_t g = s->slots[i];
    if (!g) return &s->slots[i];
    g--;
    if (s->group_len[g] == n && std::memcmp(s->groups + s->group_off[g], t, n) == 0) return &s->slots[i];
    i = (i + 1) & (s->slot_cap - 1);
  }
}

static void rehash(agg_state* s, uint32_t cap) {
  std::free(s->slots);
  s->slots = static_cast<uint32_t*>(db_alloc(sizeof(uint32_t) * cap));
  std::memset(s->slots, 0, sizeof(uint32_t) * cap);
  s->slot_cap = cap;
  for (uint32_t g = 0; g < s->known; g++) *group_slot(s, s->groups + s->group_off[g], s->group_len[g]) = g + 1;
}

uint32_t aggregate_add_group(agg_state* s, const char* text, size_t len) {
  if (s->groups_len + len + 1 > s->groups_cap) {
    s->groups_cap = (s->groups_len + len + 1) * 2 + 256;
    s->groups = static_cast<char*>(db_realloc(s->groups, s->groups_cap));
  }
  if (s->known == s->known_cap) {
    s->known_cap = s->known_cap * 2 + 64;
    s->group_off = static_cast<uint32_t*>(db_realloc(s->group_off, sizeof(uint32_t) * s->known_cap));
    s->group_len = static_cast<uint32_t*>(db_realloc(s->group_len, sizeof(uint32_t) * s->known_cap));
  }
  if ((s->known + 1) * 2 > s->slot_cap) rehash(s, s->slot_cap ? s->slot_cap * 2 : 256);
  std::memcpy(s->groups + s->groups_len, text, len);
  uint32_t g = s->known++;
  s->group_off[g] = static_cast<uint32_t>(s->groups_len);
  s->group_len[g] = static_cast<uint32_t>(len);
  s->groups_len += len;
  uint32_t* slot = group_slot(s, text, len);
  if (!*slot) *slot = g + 1;   // a text given twice keeps its first group
  return g;
}

// The group text of the row: "(" value ":" value ... ")".
static size_t row_group_text(agg_state* s) {
  size_t need = 2;
  for (int k = 0; k < s->group_count; k++) need += s->cells[s->group_cols[k]].length + 40;
  if (need > s->scratch_cap) {
    s->scratch_cap = need * 2;
    s->scratch = static_cast<char*>(db_realloc(s->scratch, s->scratch_cap));
  }
  char* p = s->scratch;
  size_t n = 0;
  for (int k = 0; k < s->group_count; k++) {
    p[n++] = k == 0 ? '(' : ':';
    const odbc_cell& c = s->cells[s->group_cols[k]];
    if (c.type == CELL_INT) n += static_cast<size_t>(std::snprintf(p + n, 24, "%d", c.v.i));
    else if (c.type == CELL_FLOAT) n += sql_float_text(c.v.f, p + n, 40);
    else if (c.type == CELL_TEXT) {
      std::memcpy(p + n, c.v.text, c.length);
      n += c.length;
    }
  }
  p[n++] = ')';
  return n;
}

// ---- numbers ----

// The cell as a number cell, or false for a text that is not a number.
static bool number_of(const odbc_cell& c, odbc_cell* out) {
  if (c.type == CELL_INT || c.type == CELL_FLOAT) {
    *out = c;
    return true;
  }
  if (c.type != CELL_TEXT) raise_eval_error(6350, "sql_aggregate集合関数のデータタイプ不正");
  if (c.length == 0 || c.length > 256) return false;
  char buf[260];
  std::memcpy(buf, c.v.text, c.length);
  buf[c.length] = 0;
  char* end;
  double d = std::strtod(buf, &end);
  if (end != buf + c.length) return false;
  double a = std::fabs(d);
  if (d == 0 || (a - std::floor(a) < 1e-6 && std::trunc(d) >= INT32_MIN && std::trunc(d) <= INT32_MAX)) {
    out->type = CELL_INT;
    out->v.i = static_cast<int32_t>(std::trunc(d));
  } else {
    out->type = CELL_FLOAT;
    out->v.f = d;
  }
  return true;
}

static double as_double(const odbc_cell& c) { return c.type == CELL_INT ? c.v.i : c.v.f; }

// Integer + integer stays an integer while it fits 32 bits; anything else is a float.
static void add_number(odbc_cell* sum, const odbc_cell& n) {
  if (sum->type == CELL_INT && n.type == CELL_INT) {
    int64_t r = static_cast<int64_t>(sum->v.i) + n.v.i;
    if (r >= INT32_MIN && r <= INT32_MAX) {
      sum->v.i = static_cast<int32_t>(r);
      return;
    }
  }
  double r = as_double(*sum) + as_double(n);
  sum->type = CELL_FLOAT;
  sum->v.f = r;
}

static bool greater(const odbc_cell& a, const odbc_cell& b) {
  if (a.type == CELL_INT && b.type == CELL_INT) return a.v.i > b.v.i;
  return as_double(a) > as_double(b);
}

// The row's value of a `value` aggregate, its text kept in storage of its own.
static void keep_value(agg_value* v, const odbc_cell& c) {
  v->cell = c;
  if (c.type != CELL_TEXT) return;
  if (c.length + 1 > v->text_cap) {
    v->text_cap = c.length + 64;
    v->text = static_cast<char*>(db_realloc(v->text, v->text_cap));
  }
  std::memcpy(v->text, c.v.text, c.length);
  v->text[c.length] = 0;
  v->cell.v.text = v->text;
}

static void fold(agg_value* v, uint8_t op, const odbc_cell& c) {
  if (op == AGG_COUNT) {
    v->counter++;
    return;
  }
  if (op == AGG_VALUE) {
    keep_value(v, c);
    return;
  }
  if (c.type == CELL_NULL) return;
  odbc_cell n;
  if (!number_of(c, &n)) {
    if (op == AGG_MAX) raise_eval_error(6360, "sql_aggregate関数のデータタイプ不正");
    if (op == AGG_MIN) raise_eval_error(6365, "aggregate関数のデータタイプ不正");
    raise_eval_error(6355, "aggregate関数のデータタイプ不正");
  }
  switch (op) {
    case AGG_SUM: add_number(&v->cell, n); break;
    case AGG_AVERAGE:
      v->counter++;
      add_number(&v->cell, n);
      break;
    case AGG_MAX:
      if (greater(n, v->cell)) v->cell = n;
      break;
    case AGG_MIN:
      if (greater(v->cell, n)) v->cell = n;
      break;
    default: break;
  }
}

// ---- the consumer ----

odbc_cell* aggregate_begin(void* state, int columns) {
  auto* s = static_cast<agg_state*>(state);
  // Column numbers are checked against the result's columns.
  auto check = [columns](int col) {
    if (col >= columns) raise_eval_error(6375, "sql_aggregate関数Column Indexが正しくありません");
  };
  for (int k = 0; k < s->key_count; k++) check(s->key_cols[k]);
  for (int k = 0; k < s->group_count; k++) check(s->group_cols[k]);
  for (int a = 0; a < s->agg_count; a++) check(s->aggs[a].col);
  check(s->total_col);
  s->ncols = columns;
  s->cells = static_cast<odbc_cell*>(db_alloc(sizeof(odbc_cell) * (columns + 1)));
  std::memset(s->cells, 0, sizeof(odbc_cell) * (columns + 1));
  if (s->key_count) s->prev = static_cast<odbc_cell*>(db_alloc(sizeof(odbc_cell) * s->key_count));
  s->has_prev = false;
  aggregate_init_value(&s->total, AGG_SUM);
  s->row_count = 0;
  if (s->mode == 0) reset_sets(s, 1);
  else if (s->mode & AGG_MODE_ORDER) reset_sets(s, s->known);
  else reset_sets(s, 0);
  return s->cells;
}

static bool same_cell(const odbc_cell& a, const odbc_cell& b) {
  if (a.type != b.type) return false;
  switch (a.type) {
    case CELL_INT: return a.v.i == b.v.i;
    case CELL_FLOAT: return a.v.f == b.v.f;
    case CELL_TEXT: return a.length == b.length && std::memcmp(a.v.text, b.v.text, a.length) == 0;
    default: return true;
  }
}

// The previous key becomes a copy of this row's key cells.
static void keep_key(agg_state* s) {
  size_t need = 0;
  for (int k = 0; k < s->key_count; k++) need += s->cells[s->key_cols[k]].length + 1;
  if (need > s->key_text_cap) {
    s->key_text_cap = need * 2 + 64;
    s->key_text = static_cast<char*>(db_realloc(s->key_text, s->key_text_cap));
  }
  size_t at = 0;
  for (int k = 0; k < s->key_count; k++) {
    odbc_cell c = s->cells[s->key_cols[k]];
    if (c.type == CELL_TEXT) {
      std::memcpy(s->key_text + at, c.v.text, c.length);
      s->key_text[at + c.length] = 0;
      c.v.text = s->key_text + at;
      at += c.length + 1;
    }
    s->prev[k] = c;
  }
  s->has_prev = true;
}

void aggregate_row(void* state) {
  auto* s = static_cast<agg_state*>(state);
  if (s->key_count) {
    bool brk = !s->has_prev;
    for (int k = 0; k < s->key_count && !brk; k++) brk = !same_cell(s->cells[s->key_cols[k]], s->prev[k]);
    if (brk) {
      if (s->has_prev) aggregate_finish(s);
      if (s->mode & AGG_MODE_ORDER) {
        reset_sets(s, s->known);
      } else if (s->mode & AGG_MODE_GROUPS) {
        s->known = 0;
        s->groups_len = 0;
        if (s->slot_cap) std::memset(s->slots, 0, sizeof(uint32_t) * s->slot_cap);
        reset_sets(s, 0);
      } else {
        reset_sets(s, 1);
      }
      aggregate_init_value(&s->total, AGG_SUM);
      s->row_count = 0;
      keep_key(s);
    }
  }
  if (s->total_col >= 0) fold(&s->total, AGG_SUM, s->cells[s->total_col]);
  s->row_count++;

  uint32_t set = 0;
  if (s->group_count) {
    size_t n = row_group_text(s);
    uint32_t g = s->slot_cap ? *group_slot(s, s->scratch, n) : 0;
    if (g) {
      set = g - 1;
    } else {
      if (s->mode & AGG_MODE_ORDER) return;   // not a group of the order: counted, not aggregated
      set = aggregate_add_group(s, s->scratch, n);
      add_set(s);
    }
  }
  agg_value* v = s->sets + static_cast<size_t>(set) * s->agg_count;
  for (int a = 0; a < s->agg_count; a++) {
    const agg_def& d = s->aggs[a];
    fold(&v[a], d.op, d.col >= 0 ? s->cells[d.col] : s->cells[0]);
  }
}

// ---- results ----

static DW cell_value(const odbc_cell& c) {
  switch (c.type) {
    case CELL_INT: return make_int(c.v.i, 0);
    case CELL_FLOAT: return make_float(c.v.f, 0);
    case CELL_TEXT: return make_string(c.v.text, c.length, 0);
    default: return DW_UNDEFINED;
  }
}

static DW result_value(const agg_value& v, uint8_t op) {
  if (op == AGG_COUNT) return make_int(static_cast<int32_t>(v.counter), 0);
  if (op == AGG_AVERAGE) return make_float(as_double(v.cell) / (v.counter ? v.counter : 1), 0);
  return cell_value(v.cell);
}

// The results of one set: the single result when there is one aggregate, else an array.
static DW set_results(agg_state* s, uint32_t set) {
  const agg_value* v = s->sets + static_cast<size_t>(set) * s->agg_count;
  if (s->agg_count == 1) return result_value(v[0], s->aggs[0].op);
  DW items[AGG_MAX_COLUMNS];
  for (int a = 0; a < s->agg_count; a++) items[a] = result_value(v[a], s->aggs[a].op);
  return make_array(items, static_cast<uint32_t>(s->agg_count), true);
}

void aggregate_finish(void* state) {
  auto* s = static_cast<agg_state*>(state);
  if (s->key_count && !s->has_prev) return;

  // The values: the one set's results, or one item per group; then the row count and the total.
  bool grouped = (s->mode & AGG_MODE_GROUPS) != 0;
  uint32_t count = (grouped ? s->known : static_cast<uint32_t>(s->agg_count)) + 2;
  DW* items = static_cast<DW*>(db_alloc(sizeof(DW) * count));
  uint32_t n = 0;
  if (grouped) {
    for (uint32_t g = 0; g < s->known; g++) items[n++] = set_results(s, g);
  } else {
    for (int a = 0; a < s->agg_count; a++) items[n++] = result_value(s->sets[a], s->aggs[a].op);
  }
  if (s->want_total_count) items[n++] = make_int(static_cast<int32_t>(s->row_count), 0);
  if (s->total_col >= 0) items[n++] = cell_value(s->total.cell);
  DW entry[3];
  entry[2] = n == 1 ? items[0] : make_array(items, n, true);
  std::free(items);

  // Key text: the key cells one after another.
  size_t need = 1;
  for (int k = 0; k < s->key_count; k++) need += s->prev[k].length + 32;
  char small[256];
  char* key = need <= sizeof small ? small : static_cast<char*>(db_alloc(need));
  size_t kn = 0;
  for (int k = 0; k < s->key_count; k++) {
    const odbc_cell& cell = s->prev[k];
    if (cell.type == CELL_INT) kn += static_cast<size_t>(std::snprintf(key + kn, 24, "%d", cell.v.i));
    else if (cell.type == CELL_FLOAT) kn += static_cast<size_t>(std::snprintf(key + kn, 32, "%g", cell.v.f));
    else if (cell.type == CELL_TEXT) {
      std::memcpy(key + kn, cell.v.text, cell.length);
      kn += cell.length;
    }
  }
  entry[0] = make_string(key, kn, 0);
  if (key != small) std::free(key);
  entry[1] = grouped ? make_string(s->groups, s->groups_len, 0) : make_string("", 0, 0);
  call_list_add(s->call, make_array(entry, 3, true), 64, 1024);
}
