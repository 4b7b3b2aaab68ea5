// record_hash (first column to second column) and record_map (statements run once per row).
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "db/odbc_internal.h"
#include "db/sql_internal.h"
#include "errors/raise.h"
#include "eval/plugins.h"

static void prepare_query(sql_call* c, NodeRec* r) {
  sql_prepare(c, r, true, nullptr, nullptr);
  if (c->st->numbered_count > 0) raise_eval_error(1275, "バインド不正");
  sql_bind_variables(c->st, &c->vars);
}

static int run_rows(sql_call* c, row_callback on_row) {
  alignas(8) char buffer[4096];
  row_sink sink;
  row_sink_init(&sink, buffer, sizeof buffer, on_row, nullptr);
  select_output out{};
  out.user = c;
  return odbc_select(c->conn, c->st, SELECT_ROWS, &c->vars, &sink, &out);
}

// ---- record_hash ----

// Where each key's pair is in the call's list: open addressing on the name index. A key that
// comes again in a later row takes that row's value in its first place, so the object holds
// each name once.
struct key_places {
  uint32_t* slot;   // pair number + 1, 0 = empty
  uint32_t cap, used;
};

static void free_places(void* p) {
  auto* k = static_cast<key_places*>(p);
  std::free(k->slot);
  std::free(k);
}

static uint32_t* find_place(key_places* k, DW key, const DW* list) {
  uint32_t i = (key * 2654435761u) & (k->cap - 1);
  while (k->slot[i] && list[2 * (k->slot[i] - 1)] != key) i = (i + 1) & (k->cap - 1);
  return &k->slot[i];
}

static int add_pair(row_sink* sink, int, select_output* out) {
  if (sink->length[0] < 0) return 0;   // no key
  auto* c = static_cast<sql_call*>(out->user);
  auto* k = static_cast<key_places*>(c->extra);
  DW key = name_intern_text(sink->text[0], static_cast<size_t>(sink->length[0]));
  DW value = sink->column_count > 1 ? sql_column_value(sink, 1, 0) : DW_UNDEFINED;
  uint32_t* place = find_place(k, key, c->list);
  if (*place) {
    DW* v = &c->list[2 * (*place - 1) + 1];
    value_discard(*v);
    *v = value;
    return 0;
  }
  call_list_add(c, key, 1024, 512);
  call_list_add(c, value, 1024, 512);
  *place = c->list_count / 2;
  if (++k->used * 2 > k->cap) {
    // Twice the room, every pair placed again.
    std::free(k->slot);
    k->cap *= 2;
    k->slot = static_cast<uint32_t*>(db_alloc(sizeof(uint32_t) * k->cap));
    std::memset(k->slot, 0, sizeof(uint32_t) * k->cap);
    for (uint32_t p = 0; p < c->list_count / 2; p++) *find_place(k, c->list[2 * p], c->list) = p + 1;
  }
  return 0;
}

DW op_record_hash(DW, NodeRec* r) {
  sql_call* c = sql_call_begin();
  prepare_query(c, r);
  auto* k = static_cast<key_places*>(db_alloc(sizeof(key_places)));
  k->cap = 1024;
  k->used = 0;
  k->slot = nullptr;
  c->extra = k;
  c->extra_free = free_places;
  k->slot = static_cast<uint32_t*>(db_alloc(sizeof(uint32_t) * k->cap));
  std::memset(k->slot, 0, sizeof(uint32_t) * k->cap);
  run_rows(c, add_pair);
  DW result = make_object(c->list, c->list_count / 2);   // takes a reference on each value
  c->list_count = 0;
  sql_call_end(c);
  return result;
}

// ---- record_map ----

struct map_state {
  int slot;         // the local slot of _c__o__l__m_
  long max_column;  // largest %N of the statements
  bool stopped;     // a return ran: the remaining rows are fetched but not handed over
};

// The statements text with each %0 written as _c__o__l__m_ and each %N as _c__o__l__m_[N-1].
// A % outside quotes must be followed by a number; a backslash before it gives a plain %.
static size_t rewrite_columns(const char* text, size_t len, char* out, long* max_column) {
  static constexpr char ROW_NAME[] = "_c__o__l__m_";
  size_t o = 0;
  char quote = 0;
  *max_column = 0;
  for (size_t i = 0; i < len; i++) {
    char ch = text[i];
    if (quote) {
      if (ch == quote) quote = 0;
      out[o++] = ch;
      continue;
    }
    if (ch == '\'' || ch == '"' || ch == '`') {
      quote = ch;
      out[o++] = ch;
      continue;
    }
    if (ch != '%') {
      out[o++] = ch;
      continue;
    }
    if (o > 0 && out[o - 1] == '\\') {
      out[o - 1] = '%';
      continue;
    }
    if (i + 1 >= len || text[i + 1] < '0' || text[i + 1] > '9') raise_eval_error(1290, "DB拡張関数の文字列不正");
    long n = 0;
    while (i + 1 < len && text[i + 1] >= '0' && text[i + 1] <= '9') {
      if (n < 1000000) n = n * 10 + (text[i + 1] - '0');
      i++;
    }
    if (n > *max_column) *max_column = n;
    std::memcpy(out + o, ROW_NAME, sizeof ROW_NAME - 1);
    o += sizeof ROW_NAME - 1;
    if (n > 0) o += static_cast<size_t>(std::snprintf(out + o, 16, "[%ld]", n - 1));
  }
  out[o] = 0;
  return o;
}

static void free_map_state(void* p) { std::free(p); }

static int map_row(row_sink* sink, int, select_output* out) {
  auto* c = static_cast<sql_call*>(out->user);
  auto* m = static_cast<map_state*>(c->extra);
  if (m->stopped) return 0;
  if (m->max_column > sink->column_count)
    raise_eval_error(1285, "record_map関数でStatement中ののColumn Index不正");
  DW row = dw_ref(sql_row_array(sink));
  local_stack[m->slot].value = row;
  // The row's name is a local: it is found only inside an open block.
  int depth = block_depth;
  if (block_depth == 0) block_depth = 1;
  // The statements run as one block per row: what they declare lasts until the row ends.
  for (uint32_t i = 0; i < c->stmts.count && !returning; i++) value_discard(eval_arg(c->stmts.items[i]));
  if (local_top > m->slot) locals_pop(m->slot + 1, returning ? return_code : 0xFFFFFFFF);
  block_depth = depth;
  local_stack[m->slot].value = DW_UNDEFINED;
  dw_release(row);
  if (returning) m->stopped = true;   // the enclosing function returns once the query is done
  return 0;
}

DW op_record_map(DW, NodeRec* r) {
  sql_call* c = sql_call_begin();
  prepare_query(c, r);
  DW text = call_hold(c, eval_arg(rec_args(r)[2]));
  if (dw_type(text) != T_STRING) raise_eval_error(1295, "record_map関数の引数不正");
  auto* m = static_cast<map_state*>(db_alloc(sizeof(map_state)));
  m->stopped = false;
  c->extra = m;
  c->extra_free = free_map_state;
  size_t len = str_rec(text)->len;
  // %0 (two bytes) becomes 12, %N at most N's digits + 14: eight times the text is enough.
  c->buf = static_cast<char*>(db_alloc(len * 8 + 16));
  rewrite_columns(str_text(text), len, c->buf, &m->max_column);
  parse_statement_text(c->buf, PARSE_NO_STOP | PARSE_REPORT_FUNCTIONS, &c->stmts);
  if (c->stmts.count == 0) raise_eval_error(1300, "record_map関数の引数不正");

  int top = local_top;
  m->slot = local_push(NAME_COLM_KEY, DW_UNDEFINED);
  run_rows(c, map_row);
  locals_pop(m->slot, DW_UNDEFINED);
  local_top = top;
  sql_call_end(c);
  return DW_UNDEFINED;
}
