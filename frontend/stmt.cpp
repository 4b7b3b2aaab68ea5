// Statement parser: statement lists, blocks and their scopes, declarations, control statements,
// functions and the statement functions of the keyword table.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "eval/globals.h"
#include "frontend/parse_internal.h"

bool function_just_parsed = false;
void (*parser_report_hook)(const char* message) = nullptr;

// ---- scopes ----
// Position 0 of both name arrays is never used, so a first mark of 1 or more means "inside".
static uint32_t* local_names = nullptr;   // function-local names
static uint32_t local_cap = 0;
static int32_t local_first = 0, local_last = 0;
static uint32_t* block_names = nullptr;   // let / const names
static uint32_t* block_prev = nullptr;    // per entry: the previous latest entry of its name (+1)
static uint32_t block_cap = 0;
static int32_t block_first = 0, block_last = 0;
static int32_t block_top_last = 0;        // block_last of the top level (outside every block)
// Per name index: the latest block-scoped entry of that name (+1), so that the duplicate test of
// a declaration does not scan the block.
static uint32_t* block_latest = nullptr;
// Per name index: slot + 1 of the name in the global table as last seen by the parser.
static uint32_t* global_slot = nullptr;
static uint32_t name_marks_cap = 0;
static int global_synced_top = -1;
static char* switch_body_end = nullptr;   // the cut closing brace while a switch body is read

static void ensure_name_marks(uint32_t name) {
  if (name < name_marks_cap) return;
  // Small at first: the marks are cleared as they grow, and each page cleared is a page touched.
  uint32_t cap = name_marks_cap ? name_marks_cap : 256;
  while (cap <= name) cap *= 2;
  auto grow = [&](uint32_t* a) {
    auto* b = static_cast<uint32_t*>(std::realloc(a, sizeof(uint32_t) * cap));
    if (!b) raise_eval_error(1400, "メモリ領域を取得できません");
    std::memset(b + name_marks_cap, 0, sizeof(uint32_t) * (cap - name_marks_cap));
    return b;
  };
  block_latest = grow(block_latest);
  global_slot = grow(global_slot);
  name_marks_cap = cap;
}

// Whether the global table holds the name. New slots are indexed as they appear, so a module
// with many top-level declarations is not searched once per declaration.
static bool global_has(uint32_t name) {
  name &= NAME_MASK;
  if (global_top < global_synced_top) {
    // The table was cleared: start over.
    std::memset(global_slot, 0, sizeof(uint32_t) * name_marks_cap);
    global_synced_top = -1;
  }
  for (int i = global_synced_top + 1; i <= global_top; i++) {
    uint32_t n = global_table[i].name & NAME_MASK;
    if (n >= name_count) continue;
    ensure_name_marks(n);
    if (!global_slot[n]) global_slot[n] = static_cast<uint32_t>(i) + 1;
  }
  global_synced_top = global_top;
  ensure_name_marks(name);
  uint32_t s = global_slot[name];
  if (s && static_cast<int>(s - 1) <= global_top && (global_table[s - 1].name & NAME_MASK) == name) return true;
  if (!s) return false;
  // A stale mark (the table was rebuilt in between): search it once.
  int i = global_find_up(name);
  global_slot[name] = i >= 0 ? static_cast<uint32_t>(i) + 1 : 0;
  return i >= 0;
}

static void global_register(uint32_t name) {
  if (global_has(name)) return;
  int i = global_append(name, DW_UNDEFINED);
  global_slot[name] = static_cast<uint32_t>(i) + 1;
  global_synced_top = global_top;
}

static void* grow_u32(void* a, uint32_t* cap, uint32_t need) {
  uint32_t c = *cap;
  if (need < c) return a;
  while (c <= need) c += 512 + (need - c);
  void* b = std::realloc(a, sizeof(uint32_t) * c);
  if (!b) raise_eval_error(1400, "メモリ領域を取得できません");
  *cap = c;
  return b;
}

// Excerpt of the text after the keyword, from its first non-blank byte.
static const char* excerpt_after(const char* p) {
  while (is_blank(*p)) p++;
  return source_excerpt(p, EXCERPT);
}

[[noreturn]] static void fail_1050(const char* start) {
  raise_parse_error(1050, "フォーマット不正 '%s'", source_excerpt(start, EXCERPT));
}

// var, for (var ...) and function names: the enclosing function's locals, or the globals.
static void register_var(uint32_t name, const char* start) {
  if (local_first >= 1) {
    for (int32_t i = local_first; i <= local_last; i++)
      if (local_names[i] == name) return;
    // The function value keeps its local count in one byte.
    if (local_last - local_first + 1 >= 255) fail_1050(start);
    local_names = static_cast<uint32_t*>(grow_u32(local_names, &local_cap, static_cast<uint32_t>(local_last + 1)));
    local_names[++local_last] = name;
    return;
  }
  global_register(name);
}

static void block_append(uint32_t name) {
  uint32_t need = static_cast<uint32_t>(block_last + 1);
  if (need >= block_cap) {
    uint32_t cap = block_cap;
    while (cap <= need) cap += 512 + (need - cap);
    auto* n1 = static_cast<uint32_t*>(std::realloc(block_names, sizeof(uint32_t) * cap));
    if (n1) block_names = n1;
    auto* n2 = static_cast<uint32_t*>(std::realloc(block_prev, sizeof(uint32_t) * cap));
    if (n2) block_prev = n2;
    if (!n1 || !n2) raise_eval_error(1400, "メモリ領域を取得できません");
    block_cap = cap;
  }
  ensure_name_marks(name);
  int32_t q = ++block_last;
  block_names[q] = name;
  block_prev[q] = block_latest[name];
  block_latest[name] = static_cast<uint32_t>(q) + 1;
  if (block_first < 1) block_top_last = block_last;
}

// Drops the block-scoped entries above `keep`, restoring each name's latest entry.
static void block_truncate(int32_t keep) {
  for (int32_t q = block_last; q > keep; q--) block_latest[block_names[q]] = block_prev[q];
  block_last = keep;
}

void parser_scopes_reset() {
  parser_nesting_reset();
  switch_body_end = nullptr;
  local_first = 0;
  local_last = 0;
  block_truncate(block_top_last);
  block_first = 0;
}

void parser_scopes_save(ScopeMarks* m) { *m = ScopeMarks{local_first, local_last, block_first, block_last}; }

void parser_scopes_restore(const ScopeMarks* m) {
  local_first = m->local_first;
  local_last = m->local_last;
  if (block_last > m->block_last) block_truncate(m->block_last);
  block_first = m->block_first;
}

// ---- statement lists ----
void statement_list_append(StatementList* list, DW h) {
  if (list->count >= list->capacity)
    list->items = static_cast<DW*>(grow_array(list->items, &list->owned, &list->capacity, list->count + 1,
                                              list->count, sizeof(DW), 64));
  list->items[list->count++] = h;
}

void parse_statement_list(char* text, StatementList* list, bool addref, bool report_functions) {
  function_just_parsed = false;
  char* p = text;
  for (;;) {
    char c = skip_blanks(p);
    if (c == 0) break;
    if (c == ';') {
      p++;
      continue;
    }
    DW h;
    p = parse_statement(p, &h);
    statement_list_append(list, addref ? dw_ref(h) : h);
  }
  if (report_functions && function_just_parsed && parser_report_hook) {
    char msg[600];
    std::snprintf(msg, sizeof msg, "評価する式が不正 '%s'", source_excerpt(text, EXCERPT_SHORT));
    parser_report_hook(msg);
  }
}

char* parse_statement(char* p, DW* out) {
  nesting_enter(p);
  char c = skip_blanks(p);
  uint32_t pos = token_position(p);
  char* start = p;
  if (c == '{') {
    uint32_t end_line;
    p = parse_block(p, out, &end_line);
  } else {
    char* q = p;
    int kw = c >= 'a' && c <= 'w' ? keyword_lookup(q) : -1;
    if (kw >= 0) {
      p = keyword_handlers[kw](q, out, start, pos);
    } else {
      DW r[18];
      uint32_t k;
      p = parse_expr_list(p, r, 18, &k, false);
      if (k > 1) raise_parse_error(1000, "ステートメント不正 '%s'", source_excerpt(start, EXCERPT));
      *out = k ? r[0] : 0;
    }
  }
  if (*p == ';') p++;
  nesting_leave();
  return p;
}

char* parse_block(char* p, DW* out, uint32_t* end_line) {
  char* e = find_closing(p + 1, '}', '{');
  if (!e) raise_parse_error(1145, "ステートメント不正 '{ %s'", source_excerpt(p + 1, EXCERPT));
  *e = 0;
  int32_t saved_first = block_first;
  block_first = block_last + 1;
  DW local[64];
  StatementList list = {local, 0, 64, false};
  parse_statement_list(p + 1, &list, false, false);
  *end_line = static_cast<uint32_t>(parse_line);
  block_truncate(block_first - 1);
  block_first = saved_first;
  *e = '}';
  *out = make_node(OP_BLOCK, list.count, list.items, 0);
  if (list.owned) std::free(list.items);
  return e + 1;
}

// The list inside the parentheses that open at p: pointer after ')' or null when there is no
// ')' or text is left over. Errors of the list itself are raised as usual.
static char* paren_list(char* p, DW* out, uint32_t max, uint32_t* count, bool addref) {
  char* e = find_closing(p + 1, ')', '(');
  if (!e) return nullptr;
  *e = 0;
  char* q = parse_expr_list(p + 1, out, max, count, addref);
  bool rest = skip_blanks(q) != 0;
  *e = ')';
  return rest ? nullptr : e + 1;
}

static DW node_of(unsigned op, uint32_t count, const DW* args, uint32_t pos) { return make_node(op, count, args, pos); }

// ---- keyword handlers ----
static char* h_break(char* p, DW* out, char* start, uint32_t pos) {
  if (skip_blanks(p) != ';') raise_parse_error(1105, "ステートメント不正 '%s'", source_excerpt(start, EXCERPT_SHORT));
  *out = node_of(OP_BREAK, 0, nullptr, pos);
  return p;
}

static char* h_continue(char* p, DW* out, char* start, uint32_t pos) {
  if (skip_blanks(p) != ';') raise_parse_error(1110, "ステートメント不正 '%s'", source_excerpt(start, EXCERPT_SHORT));
  *out = node_of(OP_CONTINUE, 0, nullptr, pos);
  return p;
}

static char* h_return(char* p, DW* out, char* start, uint32_t pos) {
  DW r[8];
  uint32_t k;
  p = parse_expr_list(p, r, 8, &k, false);
  if (k >= 2) raise_parse_error(1115, "ステートメント不正 '%s'", source_excerpt(start, EXCERPT_SHORT));
  *out = node_of(OP_RETURN, k, r, pos);
  return p;
}

static char* h_throw(char* p, DW* out, char* start, uint32_t pos) {
  DW r[4];
  uint32_t k;
  p = parse_expr_list(p, r, 4, &k, false);
  if (k != 1) raise_parse_error(1100, "ステートメント不正 '%s'", source_excerpt(start, EXCERPT_SHORT));
  *out = node_of(OP_THROW, 1, r, pos);
  return p;
}

// An "else if" chain is read in a loop, not by recursion, so that long chains do not count as
// nesting; the nodes are built from the last link back: IF(a, s1, IF(b, s2, ...)).
struct IfLink {
  DW cond, then;
  uint32_t pos;
};

static char* h_if(char* p, DW* out, char* start, uint32_t pos) {
  IfLink local[16];
  IfLink* links = local;
  uint32_t n = 0, cap = 16;
  bool owned = false;
  DW last_else = 0;
  bool has_else = false;
  char* q = p;
  for (;;) {
    DW c[10];
    uint32_t k = 0;
    if (skip_blanks(q) != '(' || !(q = paren_list(q, c, 10, &k, false)) || k != 1)
      raise_parse_error(1075, "ステートメント不正 '%s", source_excerpt(start, EXCERPT));
    if (n >= cap) links = static_cast<IfLink*>(grow_array(links, &owned, &cap, n + 1, n, sizeof(IfLink), 64));
    links[n].cond = c[0];
    links[n].pos = pos;
    q = parse_statement(q, &links[n].then);
    n++;
    skip_blanks(q);
    if (!keyword_at(q, "else")) break;
    char* r = q + 4;
    skip_blanks(r);
    if (keyword_at(r, "if")) {
      start = r;
      pos = token_position(r);
      q = r + 2;
      continue;
    }
    q = parse_statement(q + 4, &last_else);
    has_else = true;
    break;
  }
  DW inner = last_else;
  bool inner_present = has_else;
  for (uint32_t i = n; i-- > 0;) {
    DW args[3] = {links[i].cond, links[i].then, inner};
    inner = node_of(OP_IF, inner_present ? 3 : 2, args, links[i].pos);
    inner_present = true;
  }
  if (owned) std::free(links);
  *out = inner;
  return q;
}

static char* h_while(char* p, DW* out, char*, uint32_t pos) {
  DW args[8];
  uint32_t k = 0;
  char* q = p;
  if (skip_blanks(q) != '(' || !(q = paren_list(q, args, 8, &k, false)) || k != 1)
    raise_parse_error(1080, "ステートメント不正 'while %s", excerpt_after(p));
  q = parse_statement(q, &args[1]);
  *out = node_of(OP_WHILE, 2, args, pos);
  return q;
}

static char* h_do(char* p, DW* out, char*, uint32_t pos) {
  DW args[4];
  char* q = parse_statement(p, &args[0]);
  skip_blanks(q);
  if (!keyword_at(q, "while")) raise_parse_error(1085, "ステートメント不正 'do %s %s", "", excerpt_after(q));
  q += 5;
  char* r = q;
  uint32_t k = 0;
  if (skip_blanks(r) != '(' || !(r = paren_list(r, args + 1, 4, &k, false)) || k != 1)
    raise_parse_error(1085, "ステートメント不正 'do %s %s", "... while", excerpt_after(q));
  if (*r == ';') r++;
  *out = node_of(OP_DO_WHILE, 2, args, pos);
  return r;
}

// First ';' of a for header that is not escaped by a backslash (quotes are not considered).
static char* header_semicolon(char* p) {
  for (char* s = p; (s = std::strchr(s, ';')); s++)
    if (!is_escaped(p, s)) return s;
  return nullptr;
}

static char* h_for(char* p, DW* out, char*, uint32_t pos) {
  char* q = p;
  char* e;
  if (skip_blanks(q) != '(' || !(e = find_closing(q + 1, ')', '(')))
    raise_parse_error(1090, "ステートメント不正 'for %s'", excerpt_after(p));
  *e = 0;
  char* in = q + 1;
  DW args[4];
  unsigned op;
  uint32_t argc;
  char* semi = header_semicolon(in);
  char* semi2 = nullptr;
  // A let or const in the header belongs to the loop: the header and the body get a scope of
  // their own, so that two loops in one block may both declare "let i".
  int32_t saved_first = block_first;
  block_first = block_last + 1;
  if (semi) {
    DW words[256];
    uint32_t ninit = 0, ncond = 0, nupd = 0;
    semi2 = header_semicolon(semi + 1);
    if (!semi2) goto bad;
    *semi = 0;
    {
      char* r = parse_expr_list(in, words, 256, &ninit, true);
      if (skip_blanks(r)) goto bad;
    }
    *semi = ';';
    *semi2 = 0;
    {
      DW c[8];
      char* r = parse_expr_list(semi + 1, c, 8, &ncond, true);
      if (skip_blanks(r) || ncond != 1) goto bad;
      words[ninit] = c[0];
    }
    *semi2 = ';';
    {
      char* r = parse_expr_list(semi2 + 1, words + ninit + 1, 254 - ninit, &nupd, true);
      if (skip_blanks(r)) goto bad;
    }
    void* mem;
    uint32_t total = ninit + 1 + nupd;
    args[0] = area_new_nonzero(sizeof(DW) * total, &mem);
    std::memcpy(mem, words, sizeof(DW) * total);
    args[1] = (ninit << 16) + nupd;
    op = OP_FOR;
    argc = 3;
  } else {
    char* r = in;
    uint32_t kind = FOR_KIND_LET;
    skip_blanks(r);
    if (keyword_at(r, "var")) kind = FOR_KIND_VAR, r += 3;
    else if (keyword_at(r, "let")) kind = FOR_KIND_LET, r += 3;
    else if (keyword_at(r, "const")) kind = FOR_KIND_CONST, r += 5;
    if (!is_ident_start(skip_blanks(r))) goto bad;
    uint32_t name;
    r = read_name_interned(r, &name);
    if (kind == FOR_KIND_VAR) register_var(name, p);
    skip_blanks(r);
    if (keyword_at(r, "of")) op = OP_FOR_OF;
    else if (keyword_at(r, "in")) op = OP_FOR_IN;
    else goto bad;
    uint32_t k;
    DW ex[4];
    r = parse_expr_list(r + 2, ex, 4, &k, false);
    if (skip_blanks(r) || k != 1) goto bad;
    args[0] = name;
    args[1] = ex[0];
    args[3] = kind;
    argc = 4;
  }
  *e = ')';
  {
    DW body;
    q = parse_statement(e + 1, &body);
    args[2] = body;
  }
  block_truncate(block_first - 1);
  block_first = saved_first;
  *out = node_of(op, argc, args, pos);
  return q;
bad:
  // The message shows the whole header.
  *e = ')';
  if (semi) *semi = ';';
  if (semi2) *semi2 = ';';
  raise_parse_error(1090, "ステートメント不正 'for %s'", excerpt_after(p));
}

static char* declaration(char* p, DW* out, char* start, uint32_t pos, unsigned op, const char* word) {
  DW items[256];
  uint32_t k;
  p = parse_expr_list(p, items, 256, &k, false);
  bool ok = k > 0;
  uint32_t names[256];
  for (uint32_t i = 0; ok && i < k; i++) {
    DW it = items[i];
    if (dw_type(it) == T_CONST) names[i] = it;
    else if (is_node(it) && node_op(it) == OP_ASSIGN && dw_type(node_arg(it, 0)) == T_CONST) names[i] = node_arg(it, 0);
    else ok = false;
  }
  if (!ok) {
    if (op == OP_VAR) raise_parse_error(1025, "フォーマット不正 '%s'", source_excerpt(start, EXCERPT));
    raise_parse_error(1030, "フォーマット不正 '%s' in '%s'", word, source_excerpt(start, EXCERPT));
  }
  for (uint32_t i = 0; i < k; i++) {
    uint32_t name = names[i];
    if (op == OP_VAR) {
      register_var(name, start);
      continue;
    }
    bool dup;
    if (block_first < 1) {
      if (local_first >= 1) {
        dup = false;
        for (int32_t j = local_first; j <= local_last; j++) dup |= local_names[j] == name;
      } else {
        dup = global_has(name);
      }
    } else {
      ensure_name_marks(name);
      int32_t latest = static_cast<int32_t>(block_latest[name]) - 1;
      dup = latest >= block_first && latest <= block_last;
    }
    if (dup) raise_parse_error(1035, "'%s'内で変数名の重複 '%s'", word, source_excerpt(start, EXCERPT));
    block_append(name);
  }
  *out = node_of(op, k, items, pos);
  return p;
}

static char* h_var(char* p, DW* out, char* start, uint32_t pos) { return declaration(p, out, start, pos, OP_VAR, "var"); }
static char* h_let(char* p, DW* out, char* start, uint32_t pos) { return declaration(p, out, start, pos, OP_LET, "let"); }
static char* h_const(char* p, DW* out, char* start, uint32_t pos) {
  return declaration(p, out, start, pos, OP_CONST, "const");
}

static char* h_function(char* p, DW* out, char* start, uint32_t pos) {
  uint32_t start_line = static_cast<uint32_t>(parse_line);
  char* q = p;
  bool named = false;
  uint32_t fname = 0;
  if (is_ident_start(skip_blanks(q))) {
    q = read_name_interned(q, &fname);
    if (fname < NAME_RESERVED_COUNT) raise_parse_error(1040, "関数名不正 '%s'", source_excerpt(start, EXCERPT));
    register_var(fname, start);
    named = true;
  }
  DW params[256];
  uint32_t np = 0;
  if (skip_blanks(q) != '(' || !(q = paren_list(q, params, 256, &np, true))) fail_1050(start);
  for (uint32_t i = 0; i < np; i++) {
    DW e = params[i];
    if (dw_type(e) == T_CONST) continue;
    if (is_node(e) && node_op(e) == OP_ASSIGN && dw_type(node_arg(e, 0)) == T_CONST) continue;
    fail_1050(start);
  }
  if (skip_blanks(q) != '{') fail_1050(start);
  int32_t saved_first = local_first;
  local_first = local_last + 1;
  DW body;
  uint32_t end_line;
  q = parse_block(q, &body, &end_line);
  uint32_t nlocals = static_cast<uint32_t>(local_last - local_first + 1);
  DW h;
  FuncRec* f = reinterpret_cast<FuncRec*>(dw_new(T_FUNC, &h, 0));
  f->module = static_cast<uint8_t>(parse_module & 0x7F);
  f->nparams = static_cast<uint8_t>(np);
  f->nlocals = static_cast<uint8_t>(nlocals);
  f->body = dw_ref(body);
  f->line = static_cast<uint16_t>(start_line);
  f->endLine = static_cast<uint16_t>(end_line);
  f->names = 0;
  if (np + nlocals) {
    void* mem;
    DW names = area_new_nonzero(sizeof(DW) * (np + nlocals), &mem);
    DW* w = static_cast<DW*>(mem);
    std::memcpy(w, params, sizeof(DW) * np);
    for (uint32_t i = 0; i < nlocals; i++) w[np + i] = local_names[local_first + static_cast<int32_t>(i)];
    func_rec(h)->names = names;
  }
  if (named) {
    DW args[2] = {fname, h};
    *out = make_node(OP_ASSIGN, 2, args, pos);
  } else {
    *out = h;
  }
  local_last = local_first - 1;
  local_first = saved_first;
  function_just_parsed = true;
  return q;
}

[[noreturn]] static void fail_try(const char* after, const char* part, const char* at) {
  raise_parse_error(1095, "ステートメント不正 in '%s%s%s %s'", "try", after, part, excerpt_after(at));
}

static char* h_try(char* p, DW* out, char*, uint32_t pos) {
  DW args[3];
  uint32_t end_line;
  char* q = p;
  if (skip_blanks(q) != '{') fail_try("", "", q);
  q = parse_block(q, &args[0], &end_line);
  args[1] = 0;
  uint32_t argc = 2;
  skip_blanks(q);
  bool has_catch = false;
  if (keyword_at(q, "catch")) {
    q += 5;
    DW nm[18];
    uint32_t k = 0;
    char* r = q;
    if (skip_blanks(r) != '(' || !(r = paren_list(r, nm, 18, &k, false)) || k != 1 || dw_type(nm[0]) != T_CONST)
      fail_try(" ... ", "catch", q);
    if (skip_blanks(r) != '{') fail_try(" ... ", "catch", r);
    DW block;
    q = parse_block(r, &block, &end_line);
    void* mem;
    args[1] = area_new_nonzero(12, &mem);
    DW* w = static_cast<DW*>(mem);
    w[0] = nm[0];
    w[1] = dw_ref(block);
    w[2] = 0;
    has_catch = true;
    skip_blanks(q);
  }
  if (keyword_at(q, "finally")) {
    char* r = q + 7;
    if (skip_blanks(r) != '{') fail_try(" ... ", "finally", r);
    q = parse_block(r, &args[2], &end_line);
    argc = 3;
  } else if (!has_catch) {
    fail_try(" ... ", "", q);
  }
  *out = node_of(OP_TRY, argc, args, pos);
  return q;
}

[[noreturn]] static void fail_switch(const char* at) {
  if (switch_body_end) *switch_body_end = '}';
  switch_body_end = nullptr;
  raise_parse_error(1160, "ステートメント不正 '%s %s'", "switch", excerpt_after(at));
}

static char* h_switch(char* p, DW* out, char*, uint32_t pos) {
  DW disc[128];
  uint32_t k = 0;
  char* q = p;
  if (skip_blanks(q) != '(' || !(q = paren_list(q, disc, 128, &k, false)) || k != 1) fail_switch(p);
  if (skip_blanks(q) != '{') fail_switch(p);
  char* e = find_closing(q + 1, '}', '{');
  if (!e) fail_switch(p);
  *e = 0;
  char* outer_end = switch_body_end;
  switch_body_end = e;
  char* b = q + 1;
  skip_blanks(b);
  if (!keyword_at(b, "case")) fail_switch(p);
  uint32_t local_cases[128];
  uint32_t* cases = local_cases;   // pairs (value, statement index)
  uint32_t case_cap = 128, ncases = 0;
  bool cases_owned = false;
  DW local_stmts[64];
  StatementList stmts = {local_stmts, 0, 64, false};
  uint32_t default_index = 0, has_default = 0;
  while (skip_blanks(b)) {
    if (keyword_at(b, "case")) {
      char* colon = next_unquoted(b + 4, ':');
      if (!colon) fail_switch(p);
      *colon = 0;
      DW v[128];
      uint32_t n;
      char* r = parse_expr_list(b + 4, v, 128, &n, true);
      bool bad = skip_blanks(r) || n != 1 || v[0] == DW_UNDEFINED;
      *colon = ':';
      if (bad) fail_switch(p);
      if (ncases >= 1021) raise_parse_error(1150, "switch文のcaseが多すぎます 'switch %s'", excerpt_after(p));
      if (2 * ncases + 2 > case_cap)
        cases = static_cast<uint32_t*>(grow_array(cases, &cases_owned, &case_cap, 2 * ncases + 2, 2 * ncases,
                                                  sizeof(uint32_t), 256));
      cases[2 * ncases] = v[0];
      cases[2 * ncases + 1] = stmts.count;
      ncases++;
      b = colon + 1;
    } else if (keyword_at(b, "default")) {
      char* r = b + 7;
      if (skip_blanks(r) != ':') fail_switch(p);
      default_index = stmts.count;
      has_default = 1;
      b = r + 1;
    } else {
      DW v[128];
      uint32_t n;
      b = parse_expr_list(b, v, 128, &n, true);
      for (uint32_t i = 0; i < n; i++) statement_list_append(&stmts, v[i]);
    }
  }
  *e = '}';
  switch_body_end = outer_end;
  if (stmts.count == 0 || ncases == 0) raise_parse_error(1155, "ステートメント不正 'switch %s'", excerpt_after(p));
  void* mem;
  DW table = area_new_nonzero(sizeof(uint32_t) * 2 * (ncases + 2), &mem);
  uint32_t* tw = static_cast<uint32_t*>(mem);
  tw[0] = ncases + 2;
  tw[1] = stmts.count;
  tw[2] = 0;
  tw[3] = default_index;
  std::memcpy(tw + 4, cases, sizeof(uint32_t) * 2 * ncases);
  DW array = area_new_nonzero(sizeof(DW) * stmts.count, &mem);
  std::memcpy(mem, stmts.items, sizeof(DW) * stmts.count);
  DW words[4] = {disc[0], table, array, has_default};
  DW h = make_node(OP_SWITCH, 4, words, pos);
  node_rec(h)->modflags &= 0x7F;
  if (cases_owned) std::free(cases);
  if (stmts.owned) std::free(stmts.items);
  *out = h;
  return e + 1;
}

// Statement functions: '(' and a bracketed argument list, the count checked.
struct StatementFunction {
  uint8_t opcode;
  uint8_t min, max;     // max 255: no upper bound besides the list limit
  uint16_t list_max;    // results allowed + 1
  uint16_t code;        // error for a missing '(' or a bad count
  uint16_t count_code;  // error for a bad count when it differs
};

static const char* message_of(int code) {
  switch (code) {
    case 1210: return "ステートメント不正(引数の数) '%s'";
    case 1220: return "引数の個数不正 '%s'";
    default: return "ステートメント不正 '%s'";
  }
}

static char* statement_function(char* p, DW* out, char* start, uint32_t pos, const StatementFunction& f) {
  char* q = p;
  if (skip_blanks(q) != '(') raise_parse_error(f.code, message_of(f.code), source_excerpt(start, EXCERPT));
  DW args[256];
  uint32_t k;
  q = parse_bracketed_list(q + 1, args, f.list_max, &k, '(', ')', false);
  bool ok = k >= f.min && k <= f.max;
  if (f.opcode == OP_SEND_TO_FRONT && k == 1) ok = dw_type(args[0]) == T_STRING || dw_type(args[0]) == T_CONST;
  if (!ok) raise_parse_error(f.count_code, message_of(f.count_code), source_excerpt(start, EXCERPT));
  *out = make_node(f.opcode, k, args, pos);
  return q;
}

#define STATEMENT_FUNCTION(fn, op, mn, mx, lmax, code, ccode)                  \
  static char* fn(char* p, DW* out, char* start, uint32_t pos) {                \
    static const StatementFunction f = {op, mn, mx, lmax, code, ccode};        \
    return statement_function(p, out, start, pos, f);                          \
  }
STATEMENT_FUNCTION(h_record_map, OP_RECORD_MAP, 3, 3, 256, 1210, 1210)
STATEMENT_FUNCTION(h_record_hash, OP_RECORD_HASH, 2, 3, 256, 1210, 1210)
STATEMENT_FUNCTION(h_open_db, OP_OPEN_DB, 3, 3, 256, 1210, 1210)
STATEMENT_FUNCTION(h_close_db, OP_CLOSE_DB, 1, 2, 256, 1210, 1210)
STATEMENT_FUNCTION(h_execute, OP_EXECUTE, 2, 3, 256, 1210, 1210)
STATEMENT_FUNCTION(h_select, OP_SELECT, 2, 2, 256, 1210, 1210)
STATEMENT_FUNCTION(h_select_hash, OP_SELECT_HASH, 2, 2, 256, 1210, 1210)
STATEMENT_FUNCTION(h_select_into, OP_SELECT_INTO, 3, 255, 256, 1210, 1210)
STATEMENT_FUNCTION(h_select_to_front, OP_SELECT_TO_FRONT, 3, 3, 256, 1210, 1210)
STATEMENT_FUNCTION(h_select_hash_to_front, OP_SELECT_HASH_TO_FRONT, 3, 3, 256, 1210, 1210)
STATEMENT_FUNCTION(h_select_exists, OP_SELECT_EXISTS, 2, 2, 256, 1210, 1210)
STATEMENT_FUNCTION(h_sql_aggregate, OP_SQL_AGGREGATE, 3, 4, 256, 1210, 1210)
STATEMENT_FUNCTION(h_send_to_front, OP_SEND_TO_FRONT, 2, 2, 80, 1230, 1230)
STATEMENT_FUNCTION(h_parse_int, OP_PARSE_INT, 0, 2, 80, 1225, 1225)
STATEMENT_FUNCTION(h_alert_to_front, OP_ALERT_TO_FRONT, 1, 1, 80, 1235, 1235)
STATEMENT_FUNCTION(h_decode_uri, OP_DECODE_URI, 1, 1, 256, 1215, 1220)
STATEMENT_FUNCTION(h_decode_uri_component, OP_DECODE_URI_COMPONENT, 1, 1, 256, 1215, 1220)
STATEMENT_FUNCTION(h_encode_uri, OP_ENCODE_URI, 1, 1, 256, 1215, 1220)
STATEMENT_FUNCTION(h_encode_uri_component, OP_ENCODE_URI_COMPONENT, 1, 1, 256, 1215, 1220)
STATEMENT_FUNCTION(h_eval, OP_EVAL, 1, 1, 256, 1215, 1220)
STATEMENT_FUNCTION(h_parse_float, OP_PARSE_FLOAT, 1, 1, 256, 1215, 1220)
#undef STATEMENT_FUNCTION

// Statement words that are reserved but not available.
static char* h_unavailable(char*, DW*, char* start, uint32_t) {
  raise_parse_error(1211, "ステートメント不正 '%s'", source_excerpt(start, EXCERPT));
}

const KeywordHandler keyword_handlers[KEYWORD_COUNT] = {
    h_break,                 // 0 break
    h_if,                    // 1 if
    h_let,                   // 2 let
    h_return,                // 3 return
    h_record_map,            // 4 record_map
    h_record_hash,           // 5 record_hash
    h_unavailable,           // 6 redis_command
    h_unavailable,           // 7 redis_aggregate
    h_unavailable,           // 8 redis_keys
    h_unavailable,           // 9 redis_get
    h_unavailable,           // 10 redis_execute
    h_unavailable,           // 11 redis_delete
    h_unavailable,           // 12 redis_lremove
    h_unavailable,           // 13 redis_linsert
    h_var,                   // 14 var
    h_while,                 // 15 while
    h_open_db,               // 16 openDb
    h_close_db,              // 17 closeDb
    h_const,                 // 18 const
    h_continue,              // 19 continue
    h_do,                    // 20 do
    h_decode_uri,            // 21 decodeURI
    h_decode_uri_component,  // 22 decodeURIComponent
    h_eval,                  // 23 eval
    h_execute,               // 24 execute
    h_encode_uri,            // 25 encodeURI
    h_encode_uri_component,  // 26 encodeURIComponent
    h_for,                   // 27 for
    h_function,              // 28 function
    h_select,                // 29 select
    h_select_hash,           // 30 selectHash
    h_select_into,           // 31 selectInto
    h_select_to_front,       // 32 selectToFront
    h_select_hash_to_front,  // 33 selectHashToFront
    h_send_to_front,         // 34 sendToFront
    h_switch,                // 35 switch
    h_select_exists,         // 36 selectExists
    h_sql_aggregate,         // 37 sql_aggregate
    h_throw,                 // 38 throw
    h_try,                   // 39 try
    h_parse_int,             // 40 parseInt
    h_parse_float,           // 41 parseFloat
    h_alert_to_front,        // 42 alertToFront
    h_unavailable, h_unavailable, h_unavailable, h_unavailable, h_unavailable,  // 43-47 mongo_...
    h_unavailable, h_unavailable, h_unavailable, h_unavailable, h_unavailable,  // 48-52
    h_unavailable, h_unavailable, h_unavailable, h_unavailable, h_unavailable,  // 53-57
    h_unavailable, h_unavailable, h_unavailable, h_unavailable, h_unavailable,  // 58-62
    h_unavailable, h_unavailable, h_unavailable, h_unavailable, h_unavailable,  // 63-67
};
