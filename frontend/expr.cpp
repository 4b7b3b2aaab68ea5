// Expression parser: token arrays, the reader, the level-by-level reducers, constructor calls,
// new, and array and object literals.
#include <cstdlib>
#include <initializer_list>
#include <cstring>

#include "frontend/parse_internal.h"
#include "regexp/regexp.h"

constexpr DW PLACEHOLDER = 0x0FFFFFFF;
constexpr uint32_t MAX_TOKENS = 1024;
constexpr uint32_t MAX_RUN = 512;   // operands of one n-ary node

// Token arrays of one expression list. They live in a per-depth arena so that nested lists do
// not put 12 KB each on the machine stack and no token needs an allocation.
// A token's fields side by side, so that a short list touches one page of its arena, not one
// page for each field's array.
struct Token {
  DW value;
  uint32_t pos;
  uint8_t kind;
};
struct Tokens {
  Token tok[MAX_TOKENS + 8];
};
static Tokens* token_arena[MAX_NESTING + 4];
static int token_depth = 0;

int parse_depth = 0;

void nesting_enter(const char* p) {
  if (++parse_depth > MAX_NESTING) {
    parse_depth = 0;
    raise_parse_error(1120, "ステートメントの演算子不正 '%s'", source_excerpt(p, EXCERPT));
  }
}

static Tokens* tokens_enter() {
  int d = token_depth++;
  if (!token_arena[d]) {
    token_arena[d] = static_cast<Tokens*>(std::malloc(sizeof(Tokens)));
    if (!token_arena[d]) raise_eval_error(1400, "メモリ領域を取得できません");
  }
  return token_arena[d];
}

void parser_nesting_reset() {
  parse_depth = 0;
  token_depth = 0;
}

// ---- operator levels ----
constexpr uint8_t NO_LEVEL = 0xFF;
struct LevelTable {
  uint8_t v[256];
};
static constexpr LevelTable make_levels() {
  LevelTable t{};
  for (auto& x : t.v) x = NO_LEVEL;
  t.v[OP_CALL] = t.v[OP_INDEX] = t.v[OP_MEMBER] = 0;
  t.v[OP_POST_INC] = t.v[OP_POST_DEC] = 2;
  t.v[OP_PRE_INC] = t.v[OP_PRE_DEC] = t.v[OP_NOT] = t.v[OP_BIT_NOT] = t.v[OP_TYPEOF] = 3;
  t.v[OP_POW] = 4;
  t.v[OP_MUL] = t.v[OP_DIV] = t.v[OP_MOD] = 5;
  t.v[OP_ADD] = t.v[OP_SUB] = 6;
  t.v[OP_SHL] = t.v[OP_SHR] = t.v[OP_USHR] = 7;
  t.v[OP_GE] = t.v[OP_GT] = t.v[OP_LE] = t.v[OP_LT] = t.v[OP_INSTANCEOF] = 8;
  t.v[OP_EQ] = t.v[OP_STRICT_EQ] = t.v[OP_NE] = t.v[OP_STRICT_NE] = 9;
  t.v[OP_BIT_AND] = 10;
  t.v[OP_BIT_XOR] = 11;
  t.v[OP_BIT_OR] = 12;
  t.v[OP_AND] = 13;
  t.v[OP_OR] = 14;
  t.v[OP_COND] = t.v[OP_COLON] = 16;
  for (int op = OP_ASSIGN; op <= OP_XOR_ASSIGN; op++) t.v[op] = 17;
  return t;
}
static constexpr LevelTable op_level = make_levels();

// ---- built-in constructor names (reserved names 15..24) ----
struct CtorRule {
  uint8_t opcode;   // 0: an ordinary call of the name
  uint16_t min, max;
};
static const CtorRule ctor_rules[10] = {
    {0, 0, 1},              // Number
    {OP_INTEGER, 0, 1},     // Integer
    {OP_FLOAT, 0, 1},       // Float
    {0, 0, 7},              // Date
    {OP_ERROR, 1, 2},       // Error
    {OP_REGEXP, 1, 2},      // RegExp
    {0, 0, 1},              // String
    {OP_ARRAY, 0, 256},     // Array
    {0, 0, 0xFFFF},         // Hash: no limit checked
    {OP_EXCEPTION, 1, 2},   // Exception
};

DW make_arglist(const DW* items, uint32_t count) {
  void* mem;
  DW h = area_new_nonzero(sizeof(DW) * (count + 1), &mem);
  DW* w = static_cast<DW*>(mem);
  w[0] = count;
  if (count) std::memcpy(w + 1, items, sizeof(DW) * count);
  return h;
}

[[noreturn]] static void fail_1015(const char* start) {
  raise_parse_error(1015, "ステートメント不正(%s)", source_excerpt(start, EXCERPT_SHORT));
}
[[noreturn]] static void fail_1020(const char* start) {
  raise_parse_error(1020, "引数の個数不正 '%s'", source_excerpt(start, EXCERPT_SHORT));
}

// ---- literals ----
static char* array_literal(char* p, DW* out, char* start) {
  char* close = find_closing(p, ']', '[');
  if (!close) raise_parse_error(1070, "JSON文字列フォーマット不正 '%s'", source_excerpt(start, EXCERPT));
  *close = 0;
  DW local[64];
  DW* elems = local;
  uint32_t count = 0, cap = 64;
  bool owned = false;
  char* q = p;
  while (skip_blanks(q)) {
    DW one[20];
    uint32_t k;
    q = parse_element(q, one, 20, &k);
    if (k != 1) raise_parse_error(1070, "JSON文字列フォーマット不正 '%s'", source_excerpt(start, EXCERPT));
    if (count >= cap) elems = static_cast<DW*>(grow_array(elems, &owned, &cap, count + 1, count, sizeof(DW), 2048));
    elems[count++] = one[0];
  }
  *close = ']';
  // Each element already holds the reference that parse_element took.
  *out = make_array(elems, count, false);
  if (owned) std::free(elems);
  return close + 1;
}

static char* read_token(char* p, Tokens* t, uint32_t& n, uint32_t& levels, char* start);

static char* object_literal(char* p, DW* out, char* start) {
  char* close = find_closing(p, '}', '{');
  if (!close) raise_parse_error(1142, "JSON文字列のフォーマット不正 '%s'", source_excerpt(start, EXCERPT));
  *close = 0;
  DW local[64];
  DW* pairs = local;
  uint32_t count = 0, cap = 32;   // pairs
  bool owned = false;
  char* q = p;
  while (skip_blanks(q)) {
    // The key: one token that is a string or a name.
    Tokens* kt = tokens_enter();
    uint32_t kn = 0, lv = 0;
    q = read_token(q, kt, kn, lv, start);
    token_depth--;
    DW key = kt->tok[0].value;
    uint32_t name;
    if (kn != 1 || kt->tok[0].kind != 1 || key == PLACEHOLDER) goto bad;
    if (dw_type(key) == T_STRING) {
      name = name_intern_text(str_text(key), str_rec(key)->len);
      dw_discard(key);
    } else if (dw_type(key) == T_CONST) {
      name = key;
    } else {
      goto bad;
    }
    if (skip_blanks(q) != ':') goto bad;
    q++;
    {
      DW one[20];
      uint32_t k;
      q = parse_element(q, one, 20, &k);
      if (k != 1) goto bad;
      if (count >= 0xFFFF - 10) goto bad;   // count and capacity are 16-bit fields
      if (count >= cap) {
        uint32_t cap2 = cap * 2;
        pairs = static_cast<DW*>(grow_array(pairs, &owned, &cap2, count * 2 + 2, count * 2, sizeof(DW), 2048));
        cap = cap2 / 2;
      }
      pairs[2 * count] = name;
      pairs[2 * count + 1] = one[0];
      count++;
    }
  }
  *close = '}';
  {
    DW h = make_object(pairs, count);
    // make_object takes a reference of its own; the values already hold parse_element's.
    for (uint32_t i = 0; i < count; i++) dw_unref(pairs[2 * i + 1]);
    if (owned) std::free(pairs);
    *out = h;
  }
  return close + 1;
bad:
  raise_parse_error(1140, "文字列のフォーマット不正 '%s'", source_excerpt(start, EXCERPT));
}

// ---- the reader ----
static inline void set_op(Tokens* t, uint32_t i, unsigned op, uint32_t& levels) {
  t->tok[i].kind = static_cast<uint8_t>(op);
  if (op_level.v[op] != NO_LEVEL) levels |= 1u << op_level.v[op];
}

// Reads one token into slot n (and the slots that belong to it) and advances n.
static char* read_token(char* p, Tokens* t, uint32_t& n, uint32_t& levels, char* start) {
  uint32_t i = n;
  uint32_t pos = token_position(p);
  t->tok[i].kind = 1;
  t->tok[i].value = PLACEHOLDER;
  t->tok[i].pos = pos;
  bool after_operand = i > 0 && t->tok[i - 1].kind < 31;
  bool after_value = i > 0 && t->tok[i - 1].value != PLACEHOLDER;
  n = i + 1;
  int oplen;
  if (unsigned op = operator_token(p, after_operand, after_value, &oplen)) {
    if (op == OP_COMMA) t->tok[i].kind = OP_COMMA;
    else set_op(t, i, op, levels);
    return p + oplen;
  }
  char c = *p;
  switch (c) {
    case '+':
    case '-':
    case '.':
      return read_number(c == '.' ? p : p + 1, &t->tok[i].value, c == '-' ? -1 : 1);
    case '/':
      return const_cast<char*>(regexp_literal(p + 1, &t->tok[i].value));
    case '"':
    case '\'':
    case '`':
      return read_string(p + 1, c, &t->tok[i].value);
    case '(': {
      DW args[256];
      uint32_t cnt;
      if (after_operand) {
        set_op(t, i, OP_CALL, levels);
        char* q = parse_bracketed_list(p + 1, args, 256, &cnt, '(', ')', true);
        t->tok[i + 1].kind = 1;
        t->tok[i + 1].value = make_arglist(args, cnt);
        t->tok[i + 1].pos = pos;
        n = i + 2;
        return q;
      }
      char* q = parse_bracketed_list(p + 1, args, 256, &cnt, '(', ')', false);
      t->tok[i].value = make_node(OP_GROUP, cnt, args, 0);
      return q;
    }
    case '[': {
      if (!after_operand) return array_literal(p + 1, &t->tok[i].value, start);
      set_op(t, i, OP_INDEX, levels);
      DW args[256];
      uint32_t cnt;
      char* q = parse_bracketed_list(p + 1, args, 256, &cnt, '[', ']', false);
      if (cnt != 1) fail_1015(start);
      t->tok[i + 1].kind = 1;
      t->tok[i + 1].value = args[0];
      t->tok[i + 1].pos = pos;
      n = i + 2;
      return q;
    }
    case '{':
      return object_literal(p + 1, &t->tok[i].value, start);
    default:
      break;
  }
  if (is_digit(c)) return read_number(p, &t->tok[i].value, 1);
  if (!is_ident_start(c)) fail_1015(start);
  bool after_member = i > 0 && t->tok[i - 1].kind == OP_MEMBER;
  if (!after_member && c >= 'a' && c <= 'w') {
    char* q = p;
    int kw = keyword_lookup(q);
    if (kw >= 0) return keyword_handlers[kw](q, &t->tok[i].value, start, pos);
  }
  uint32_t name;
  char* q = read_name_interned(p, &name);
  if (after_member || name < NAME_FIRST_CONSTRUCTOR || (name > NAME_LAST_CONSTRUCTOR && name != NAME_TYPEOF &&
                                                        name != NAME_INSTANCEOF && name != NAME_NEW)) {
    t->tok[i].value = name;
    return q;
  }
  if (name == NAME_TYPEOF) return set_op(t, i, OP_TYPEOF, levels), q;
  if (name == NAME_INSTANCEOF) {
    set_op(t, i, OP_INSTANCEOF, levels);
    if (!is_ident_start(skip_blanks(q))) fail_1015(start);
    t->tok[i + 1].kind = 1;
    t->tok[i + 1].pos = token_position(q);
    q = read_name_interned(q, &t->tok[i + 1].value);
    n = i + 2;
    return q;
  }
  DW args[256];
  uint32_t cnt = 0;
  if (name == NAME_NEW) {
    t->tok[i].kind = OP_NEW;
    levels |= 1;
    if (!is_ident_start(skip_blanks(q))) fail_1015(start);
    uint32_t name_pos = token_position(q);
    uint32_t k;
    q = read_name_interned(q, &k);
    char* r = q;
    char b = skip_blanks(r);
    if (b == '.') fail_1015(start);
    if (b == '(') q = parse_bracketed_list(r + 1, args, 256, &cnt, '(', ')', true);
    if (k >= NAME_FIRST_CONSTRUCTOR && k <= NAME_LAST_CONSTRUCTOR && k != NAME_HASH) {
      const CtorRule& rule = ctor_rules[k - NAME_FIRST_CONSTRUCTOR];
      if (cnt < rule.min || cnt > rule.max) fail_1020(start);
    }
    t->tok[i + 1].kind = 1;
    t->tok[i + 1].value = k;
    t->tok[i + 1].pos = name_pos;
    t->tok[i + 2].kind = OP_CALL;
    t->tok[i + 2].value = PLACEHOLDER;
    t->tok[i + 2].pos = pos;
    t->tok[i + 3].kind = 1;
    t->tok[i + 3].value = make_arglist(args, cnt);
    t->tok[i + 3].pos = pos;
    n = i + 4;
    return q;
  }
  // Constructor names: Integer, Float, Error, RegExp, Array and Exception are direct calls.
  const CtorRule& rule = ctor_rules[name - NAME_FIRST_CONSTRUCTOR];
  if (!rule.opcode) {
    t->tok[i].value = name;
    return q;
  }
  char* r = q;
  char b = skip_blanks(r);
  if (b == '.') fail_1015(start);
  if (b == '(') q = parse_bracketed_list(r + 1, args, 256, &cnt, '(', ')', false);
  if (cnt < rule.min || cnt > rule.max) fail_1020(start);
  t->tok[i].value = make_node(rule.opcode, cnt, args, pos);
  return q;
}

// ---- reducers ----
static inline bool holds_value(const Tokens* t, int i) { return t->tok[i].kind == 1 && t->tok[i].value != PLACEHOLDER; }
static inline void consume(Tokens* t, int i) {
  t->tok[i].kind = 1;
  t->tok[i].value = PLACEHOLDER;
}
// Nearest value slot left (dir -1) or right (dir +1) of i, passing consumed slots only; -1 when
// an unreduced operator or the end comes first.
static int operand_at(const Tokens* t, int n, int i, int dir) {
  for (int j = i + dir; j >= 0 && j < n; j += dir) {
    if (t->tok[j].kind != 1) return -1;
    if (t->tok[j].value != PLACEHOLDER) return j;
  }
  return -1;
}
static int next_live(const Tokens* t, int n, int i) {
  for (int j = i + 1; j < n; j++)
    if (t->tok[j].kind != 1 || t->tok[j].value != PLACEHOLDER) return j;
  return n;
}

static DW node2(unsigned op, DW a, DW b, uint32_t pos) {
  DW args[2] = {a, b};
  return make_node(op, 2, args, pos);
}

// Binary operators of one level, leftmost first. Level 0 also forms OP_NEW.
static bool reduce_binary_left(Tokens* t, int n, int level) {
  int prev = -1;
  for (int i = 0; i < n; i++) {
    unsigned k = t->tok[i].kind;
    if (k == 1) {
      if (t->tok[i].value != PLACEHOLDER) prev = i;
      continue;
    }
    if (op_level.v[k] != level) {
      prev = -1;
      continue;
    }
    if (prev < 0) return false;
    int right = operand_at(t, n, i, 1);
    if (right < 0) return false;
    // What follows "." must be a name: "a.5" or "a.(b)" names no member (its value is no name index).
    if (k == OP_MEMBER && dw_type(t->tok[right].value) != T_CONST) return false;
    if (k == OP_CALL && prev > 0 && t->tok[prev - 1].kind == OP_NEW) {
      t->tok[prev - 1].value = node2(OP_NEW, t->tok[prev].value, t->tok[right].value, t->tok[i].pos);
      t->tok[prev - 1].kind = 1;
      consume(t, prev);
      prev = prev - 1;
    } else {
      t->tok[prev].value = node2(k, t->tok[prev].value, t->tok[right].value, t->tok[i].pos);
    }
    consume(t, i);
    consume(t, right);
    i = right;
  }
  return true;
}

// Binary operators of one level, rightmost first.
static bool reduce_binary_right(Tokens* t, int n, int level) {
  for (int i = n - 1; i >= 0; i--) {
    unsigned k = t->tok[i].kind;
    if (k == 1 || op_level.v[k] != level) continue;
    int left = operand_at(t, n, i, -1);
    int right = operand_at(t, n, i, 1);
    if (left < 0 || right < 0) return false;
    t->tok[left].value = node2(k, t->tok[left].value, t->tok[right].value, t->tok[i].pos);
    consume(t, i);
    consume(t, right);
    i = left;
  }
  return true;
}

// Postfix ++ (all of them, left to right), then postfix --.
static bool reduce_postfix(Tokens* t, int n) {
  for (unsigned op : {unsigned(OP_POST_INC), unsigned(OP_POST_DEC)}) {
    for (int i = 0; i < n; i++) {
      if (t->tok[i].kind != op) continue;
      int left = operand_at(t, n, i, -1);
      if (left < 0) return false;
      DW a = t->tok[left].value;
      t->tok[left].value = make_node(op, 1, &a, t->tok[i].pos);
      consume(t, i);
    }
  }
  return true;
}

// Prefix operators, rightmost first.
static bool reduce_prefix(Tokens* t, int n) {
  for (int i = n - 1; i >= 0; i--) {
    unsigned k = t->tok[i].kind;
    if (k == 1 || op_level.v[k] != 3) continue;
    int right = operand_at(t, n, i, 1);
    if (right < 0) return false;
    DW a = t->tok[right].value;
    t->tok[right].value = make_node(k, 1, &a, t->tok[i].pos);
    consume(t, i);
  }
  return true;
}

// Runs of one operator become one node (at most MAX_RUN operands per node).
static bool reduce_nary(Tokens* t, int n, int level) {
  DW ops[MAX_RUN];
  for (int i = 0; i < n; i++) {
    unsigned k = t->tok[i].kind;
    if (k == 1 || op_level.v[k] != level) continue;
    int first = operand_at(t, n, i, -1);
    if (first < 0) return false;
    uint32_t pos = t->tok[i].pos;
    uint32_t m = 0;
    ops[m++] = t->tok[first].value;
    int j = i;   // an operator of the run
    for (;;) {
      int r = next_live(t, n, j);
      if (r >= n || !holds_value(t, r)) return false;   // operator at the end, or two operators
      consume(t, j);
      if (m == MAX_RUN) {
        // A longer run goes on with the node built so far as its first operand.
        ops[0] = make_node(k, m, ops, pos);
        m = 1;
      }
      ops[m++] = t->tok[r].value;
      consume(t, r);
      int s = next_live(t, n, r);
      if (s < n && t->tok[s].kind == 1) return false;   // two operands in a row
      if (s >= n || t->tok[s].kind != k) {
        i = s - 1;
        break;
      }
      j = s;
    }
    t->tok[first].value = make_node(k, m, ops, pos);
  }
  return true;
}

// c ? a : b, rightmost ? first.
static bool reduce_conditional(Tokens* t, int n) {
  for (int i = n - 1; i >= 0; i--) {
    if (t->tok[i].kind != OP_COND) continue;
    int c = operand_at(t, n, i, -1);
    if (c < 0) return false;
    int a = next_live(t, n, i);
    if (a >= n || !holds_value(t, a)) return false;
    int colon = next_live(t, n, a);
    if (colon >= n || t->tok[colon].kind != OP_COLON) return false;
    int b = next_live(t, n, colon);
    if (b >= n || !holds_value(t, b)) return false;
    DW args[3] = {t->tok[c].value, t->tok[a].value, t->tok[b].value};
    t->tok[c].value = make_node(OP_COND, 3, args, t->tok[i].pos);
    consume(t, i);
    consume(t, a);
    consume(t, colon);
    consume(t, b);
  }
  return true;
}

// Drops consumed slots so that the next level's operand searches stay short.
static int compact(Tokens* t, int n) {
  int w = 0;
  for (int r = 0; r < n; r++) {
    if (t->tok[r].kind == 1 && t->tok[r].value == PLACEHOLDER) continue;
    if (w != r) t->tok[w] = t->tok[r];
    w++;
  }
  return w;
}

static bool reduce(Tokens* t, int& n, uint32_t levels) {
  for (int level = 0; level <= 23; level++) {
    if (!(levels & (1u << level))) continue;
    bool ok;
    switch (level) {
      case 0: case 7: case 8: case 9: ok = reduce_binary_left(t, n, level); break;
      case 2: ok = reduce_postfix(t, n); break;
      case 3: ok = reduce_prefix(t, n); break;
      case 4: case 17: ok = reduce_binary_right(t, n, level); break;
      case 5: case 6: case 10: case 11: case 12: case 13: case 14: ok = reduce_nary(t, n, level); break;
      case 16: ok = reduce_conditional(t, n); break;
      default: ok = false; break;
    }
    if (!ok) return false;
    n = compact(t, n);
  }
  return true;
}

// ---- lists ----
enum ListMode { MODE_LIST, MODE_ELEMENT, MODE_TOP_CALL };

static char* expr_core(char* p, DW* out, uint32_t max, uint32_t* count, bool addref, ListMode mode) {
  char* start = p;
  nesting_enter(p);
  Tokens* t = tokens_enter();
  uint32_t n = 0, levels = 0;
  uint32_t limit = mode == MODE_TOP_CALL ? 32 : MAX_TOKENS;
  function_just_parsed = false;
  for (;;) {
    char c = skip_blanks(p);
    if (c == 0) break;
    if (c == ';') {
      if (mode == MODE_ELEMENT) raise_parse_error(1055, "JSON文字列不正 ';'");
      p++;   // one trailing ; is consumed
      break;
    }
    p = read_token(p, t, n, levels, start);
    if (mode == MODE_ELEMENT && t->tok[n - 1].kind == OP_COMMA) {
      n--;   // the top-level comma ends the element
      break;
    }
    if (n >= limit) {
      if (mode == MODE_ELEMENT) raise_parse_error(1060, "JSON文字列の演算子不正 '%s'", source_excerpt(start, EXCERPT));
      if (mode == MODE_TOP_CALL)
        raise_parse_error(1720, "TOP関数のステートメントの演算子不正 '%s'", source_excerpt(start, EXCERPT));
      raise_parse_error(1120, "ステートメントの演算子不正 '%s'", source_excerpt(start, EXCERPT));
    }
    if (mode != MODE_ELEMENT && function_just_parsed) break;
  }
  int fail_code = mode == MODE_ELEMENT ? 1065 : mode == MODE_TOP_CALL ? 1730 : 1125;
  const char* fail_fmt = mode == MODE_ELEMENT    ? "JSON文字列フォーマット不正 '%s'"
                         : mode == MODE_TOP_CALL ? "TOP関数のフォーマット不正 '%s'"
                                                 : "フォーマット不正 '%s'";
  uint32_t results = 0;
  if (n > 0) {
    int ni = static_cast<int>(n);
    if (t->tok[ni - 1].kind >= 103 || !reduce(t, ni, levels)) raise_parse_error(fail_code, fail_fmt, source_excerpt(start, EXCERPT));
    for (int i = 0; i < ni; i++) {
      if (t->tok[i].kind != 1) {
        if (t->tok[i].kind != OP_COMMA) raise_parse_error(fail_code, fail_fmt, source_excerpt(start, EXCERPT));
        continue;
      }
      if (t->tok[i].value == PLACEHOLDER) continue;
      if (results + 1 >= max) {
        if (mode == MODE_ELEMENT) raise_parse_error(fail_code, fail_fmt, source_excerpt(start, EXCERPT));
        raise_parse_error(1123, "引数の数不正 '%s'", source_excerpt(start, EXCERPT));
      }
      out[results++] = addref ? dw_ref(t->tok[i].value) : t->tok[i].value;
    }
  }
  *count = results;
  token_depth--;
  nesting_leave();
  return p;
}

char* parse_expr_list(char* p, DW* out, uint32_t max, uint32_t* count, bool addref) {
  return expr_core(p, out, max, count, addref, MODE_LIST);
}

char* parse_element(char* p, DW* out, uint32_t max, uint32_t* count) {
  return expr_core(p, out, max, count, true, MODE_ELEMENT);
}

char* parse_call_list(char* p, DW* out, uint32_t* count) {
  return expr_core(p, out, 32, count, false, MODE_TOP_CALL);
}

char* parse_bracketed_list(char* p, DW* out, uint32_t max, uint32_t* count, char open, char close, bool addref) {
  char* e = find_closing(p, close, open);
  if (!e) raise_parse_error(1130, "ステートメント不正 ('%.1s'なし) %.1s%s", &close, &open, source_excerpt(p, EXCERPT));
  *e = 0;
  char* q = parse_expr_list(p, out, max, count, addref);
  if (skip_blanks(q)) {
    char rest[512];
    std::strcpy(rest, source_excerpt(q, 20));
    raise_parse_error(1135, "ステートメント不正 ('%s') in %.1s%s", rest, &open, source_excerpt(p, EXCERPT));
  }
  *e = close;
  return e + 1;
}

void* grow_array(void* items, bool* owned, uint32_t* capacity, uint32_t need, uint32_t keep, size_t elem,
                 uint32_t step) {
  uint32_t cap = *capacity;
  if (need <= cap) return items;
  while (cap < need) cap += cap / 2 > step ? cap / 2 : step;
  void* grown = *owned ? std::realloc(items, elem * cap) : std::malloc(elem * cap);
  if (!grown) raise_eval_error(1400, "メモリ領域を取得できません");
  if (!*owned && keep) std::memcpy(grown, items, elem * keep);
  *owned = true;
  *capacity = cap;
  return grown;
}
