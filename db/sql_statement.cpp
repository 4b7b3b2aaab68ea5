// SQL text to statement record: parameter markers, blank folding, UTF-16 text; marker values.
#include <strings.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "db/odbc_internal.h"
#include "db/sql_internal.h"
#include "errors/raise.h"
#include "response/stream.h"
#include "store/utf16_text.h"

int db_kind_index(const char* name, size_t len) {
  if (len == 0 || len > 11) return 0;
  for (int k = 1; k <= DB_KIND_COUNT; k++) {
    const char* row = DB_KIND_TABLE + 12 * k;
    size_t n = 0;
    while (n < 12 && row[n] != ' ') n++;
    if (n == len && strncasecmp(row, name, len) == 0) return k;
  }
  return 0;
}

static bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
static bool is_name_start(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; }
static bool is_name_char(char c) { return is_name_start(c) || (c >= '0' && c <= '9'); }
static bool is_quote(char c) { return c == '\'' || c == '"' || c == '`'; }

[[noreturn]] static void bad_sql(const char* what) { raise_eval_error(1350, "SQL文不正(%s)", what); }

// Output of the rebuild: UTF-16 units into the record's text.
struct wide_out {
  uint16_t* p;
  uint32_t used, cap;   // units; cap leaves room for MultiToWide's two terminating units
};

static void put_unit(wide_out* o, uint16_t u) {
  if (o->used >= o->cap) raise_eval_error(1400, "メモリ領域を取得できません");
  o->p[o->used++] = u;
}

// Copies text[from, to) converted to UTF-16, every run of blanks, tabs and line ends (quoted text
// included) becoming one blank.
static void copy_folded(wide_out* o, const char* text, size_t from, size_t to) {
  size_t i = from;
  while (i < to) {
    if (is_blank(text[i])) {
      while (i < to && is_blank(text[i])) i++;
      put_unit(o, ' ');
      continue;
    }
    size_t j = i;
    while (j < to && !is_blank(text[j]) && text[j] != 0) j++;
    if (j == i) {   // a zero byte ends nothing: it is sent as it is
      put_unit(o, 0);
      i++;
      continue;
    }
    int room = static_cast<int>(o->cap - o->used);
    int n = MultiToWide(text + i, static_cast<int>(j - i), o->p + o->used, room);
    o->used += static_cast<uint32_t>(n);
    i = j;
  }
}

// The end of an expression marker's braces: the position of the matching '}', braces nesting
// and quoted text skipped; len when there is none.
static size_t closing_brace(const char* text, size_t len, size_t open) {
  int depth = 0;
  char quote = 0;
  for (size_t i = open; i < len; i++) {
    char c = text[i];
    if (quote) {
      if (c == quote) quote = 0;
    } else if (is_quote(c)) {
      quote = c;
    } else if (c == '{') {
      depth++;
    } else if (c == '}' && --depth == 0) {
      return i;
    }
  }
  return len;
}

// Text of an expression marker, parsed at run time (writable and zero-terminated).
static char* parse_buf;
static size_t parse_cap;

static DW parse_marker_expression(const char* text, size_t len) {
  if (len + 1 > parse_cap) {
    parse_cap = len + 256;
    parse_buf = static_cast<char*>(db_realloc(parse_buf, parse_cap));
  }
  std::memcpy(parse_buf, text, len);
  parse_buf[len] = 0;
  DW trees[256];
  uint32_t n = parse_expression_text(parse_buf, PARSE_NO_STOP, trees, 256);
  if (n == 0) bad_sql("バインドの記述不正");
  DW group = make_node(OP_GROUP, n, trees, cur_position);
  for (uint32_t k = 0; k < n; k++) dw_release(trees[k]);   // the group holds them now
  return dw_ref(group);
}

sql_statement* sql_statement_build(sql_statement** slot, const char* text, size_t len, int kind,
                                   bool query) {
  // The first word decides whether the text is a query: it agrees, over its own length, with the
  // beginning of "select" (an empty word agrees too).
  size_t i = 0;
  while (i < len && is_blank(text[i])) i++;
  size_t w = i;
  if (i < len && is_name_start(text[i]))
    while (i < len && is_name_char(text[i])) i++;
  size_t wl = i - w;
  if (wl > NAME_MAX_LENGTH) raise_parse_error(1005, "関数・変数名の長さ不正");
  bool is_query = wl <= 6 && strncasecmp(text + w, "select", wl) == 0;
  if (is_query != query) bad_sql("関数/select");

  // Marker positions: ':' outside quotes, not after a backslash, not part of "::".
  uint32_t at[SQL_MAX_MARKERS];
  int count = 0;
  char quote = 0;
  for (size_t k = 0; k < len; k++) {
    char c = text[k];
    if (quote) {
      if (c == quote) quote = 0;
      continue;
    }
    if (is_quote(c)) {
      quote = c;
      continue;
    }
    if (c != ':') continue;
    if (k + 1 < len && text[k + 1] == ':') {
      k++;
      continue;
    }
    if (k > 0 && text[k - 1] == '\\') continue;
    if (count == SQL_MAX_MARKERS) bad_sql("バインド数不正。256以上");
    at[count++] = static_cast<uint32_t>(k);
  }

  // At most one unit per byte; a marker of two bytes or more becomes at most four units.
  uint32_t cap = static_cast<uint32_t>((len + 520) * 2) & ~3u;
  size_t size = sizeof(sql_statement) + cap + sizeof(DW) * SQL_MAX_MARKERS;
  auto* st = static_cast<sql_statement*>(db_alloc(size));
  std::memset(st, 0, sizeof(sql_statement));
  st->hdr = T_STMT;
  st->text_capacity = cap;
  *slot = st;   // owned by the caller from here on, so that an error below frees it
  DW* trees = sql_statement_trees(st);

  // A PostgreSQL statement's markers are numbered by their position ($1, $2, ...). Its ODBC
  // driver recognises only '?' markers and numbers them itself, in order of appearance, when it
  // sends the statement to the server, so writing '?' gives the server exactly those numbers.
  char marker = DB_KIND_MARKER[kind];
  bool numbered = DB_KIND_NUMBERED[kind] != 0;
  if (kind == KIND_POSTGRESQL) {
    marker = '?';
    numbered = false;
  }

  wide_out o{sql_statement_text(st), 0, cap / 2 - 2};
  size_t from = 0;
  for (int m = 0; m < count; m++) {
    copy_folded(&o, text, from, at[m]);
    size_t p = at[m] + 1;
    char c = p < len ? text[p] : 0;
    if (c >= '0' && c <= '9') {
      long n = 0;
      while (p < len && text[p] >= '0' && text[p] <= '9') {
        if (n < 100000) n = n * 10 + (text[p] - '0');
        p++;
      }
      if (n < 1 || n > 255) bad_sql("バインド番号不正。1～256でない");
      st->marker_kind[m] = 'A';
      st->value_index[m] = static_cast<uint8_t>(st->numbered_count);
      st->bind_number[st->numbered_count] = static_cast<uint8_t>(n);
      st->numbered_count++;
    } else if (is_name_start(c)) {
      size_t s = p;
      while (p < len && is_name_char(text[p])) p++;
      uint32_t name = name_intern_text(text + s, p - s);
      int v = st->variable_count;
      st->marker_kind[m] = 'N';
      st->variable_kind[v] = 'N';
      st->value_index[m] = static_cast<uint8_t>(v);
      trees[v] = name;
      st->variable_count++;
    } else if (c == '{') {
      size_t close = closing_brace(text, len, p);
      if (close == len) bad_sql("バインドの記述不正");
      int v = st->variable_count;
      trees[v] = parse_marker_expression(text + p + 1, close - p - 1);
      st->marker_kind[m] = 'E';
      st->variable_kind[v] = 'E';
      st->value_index[m] = static_cast<uint8_t>(v);
      st->variable_count++;
      p = close + 1;
    } else {
      bad_sql("バインドの記述不正");
    }
    st->marker_count++;
    put_unit(&o, static_cast<uint8_t>(marker));
    if (numbered) {
      char digits[8];
      int nd = std::snprintf(digits, sizeof digits, "%d", m + 1);
      for (int d = 0; d < nd; d++) put_unit(&o, static_cast<uint8_t>(digits[d]));
    }
    from = p;
  }
  copy_folded(&o, text, from, len);
  o.p[o.used] = 0;
  st->text_length = o.used * 2;
  return st;
}

void sql_statement_free(sql_statement* st) {
  DW* trees = sql_statement_trees(st);
  for (int v = 0; v < st->variable_count; v++)
    if (st->variable_kind[v] == 'E') dw_release(trees[v]);
  std::free(st);
}

void sql_bind_variables(sql_statement* st, bind_value_list* values) {
  DW* trees = sql_statement_trees(st);
  char buf[400];
  for (int v = 0; v < st->variable_count; v++) {
    DW val = eval_arg(trees[v]);
    const char* text;
    size_t len;
    if (!sql_value_text(val, buf, &text, &len)) {
      value_discard(val);
      raise_eval_error(1355, "バインドするデータ型不正");
    }
    bind_list_append(values, text, len);
    value_discard(val);
  }
}

void sql_prepare(sql_call* c, NodeRec* r, bool query, char* name_field, size_t* name_len) {
  DW* args = rec_args(r);
  DW conn = call_hold(c, eval_arg(args[0]));
  if (dw_type(conn) != T_CONN) raise_eval_error(1255, "データベース接続不正");
  c->conn = static_cast<db_connection*>(area_ptr(conn));
  int sql_arg = 1;
  if (name_field) {
    DW name = call_hold(c, eval_arg(args[1]));
    if (dw_type(name) != T_STRING) raise_eval_error(1260, "JavaScriptの変数名不正");
    *name_len = field_encode(str_text(name), str_rec(name)->len, name_field, 1024);
    sql_arg = 2;
  }
  DW sql = call_hold(c, eval_arg(args[sql_arg]));
  if (dw_type(sql) != T_STRING) raise_eval_error(1265, "SQL文不正");
  sql_statement_build(&c->st, str_text(sql), str_rec(sql)->len, c->conn->kind, query);
}
