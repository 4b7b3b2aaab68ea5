// Tokenizer: comment removal, keywords, names, number and string literals, source excerpts and
// bracket matching.
#include <climits>
#include <cstdlib>
#include <cstring>

#include "frontend/parse_internal.h"
#include "platform/layout.h"

const char* line_start = "";

static inline bool is_quote(char c) { return c == '"' || c == '\'' || c == '`'; }
static inline bool is_word_letter(char c) { return char_classes.v[static_cast<uint8_t>(c)] & (CC_LETTER | CC_UNDERSCORE); }

// ---- keywords ----
struct KeywordLetter {
  const char* const* words;   // candidates in row order; a single word when width is 0
  uint8_t count, width, longest, base;
};
static const char* const kw_a[] = {"alertToFront"};
static const char* const kw_b[] = {"break"};
static const char* const kw_c[] = {"closeDb", "const", "continue"};
static const char* const kw_d[] = {"do", "decodeURI", "decodeURIComponent"};
static const char* const kw_e[] = {"eval", "execute", "encodeURI", "encodeURIComponent"};
static const char* const kw_f[] = {"for", "function"};
static const char* const kw_i[] = {"if"};
static const char* const kw_l[] = {"let"};
static const char* const kw_m[] = {
    "mongo_find", "mongo_count", "mongo_insert", "mongo_update_one", "mongo_update_many", "mongo_delete_one",
    "mongo_delete_many", "mongo_drop_collection", "mongo_transaction", "mongo_rename_collection",
    "mongo_get_collection", "mongo_collection_name", "mongo_use_db", "mongo_current_db", "mongo_drop_db",
    "mongo_collection_names", "mongo_get_database", "mongo_rollback", "mongo_commit", "mongo_find_hash",
    "mongo_aggregate", "mongo_create_collection", "mongo_exists_collection", "mongoc_read_command",
    "mongoc_write_command"};
static const char* const kw_o[] = {"openDb"};
static const char* const kw_p[] = {"parseInt", "parseFloat"};
static const char* const kw_r[] = {"return",       "record_map",  "record_hash",  "redis_command",
                                   "redis_aggregate", "redis_keys", "redis_get",   "redis_execute",
                                   "redis_delete", "redis_lremove", "redis_linsert"};
static const char* const kw_s[] = {"select",      "selectHash", "selectInto",   "selectToFront", "selectHashToFront",
                                   "sendToFront", "switch",     "selectExists", "sql_aggregate"};
static const char* const kw_t[] = {"throw", "try"};
static const char* const kw_v[] = {"var"};
static const char* const kw_w[] = {"while"};

// Letters a..w. Single words: width 0, base = the keyword index. Tables: row width, longest
// keyword and base index of the first row.
static const KeywordLetter keyword_letters[23] = {
    {kw_a, 1, 0, 12, 42},  {kw_b, 1, 0, 5, 0},    {kw_c, 3, 10, 8, 17},  {kw_d, 3, 20, 18, 20}, {kw_e, 4, 20, 18, 23},
    {kw_f, 2, 10, 8, 27},  {nullptr, 0, 0, 0, 0}, {nullptr, 0, 0, 0, 0}, {kw_i, 1, 0, 2, 1},    {nullptr, 0, 0, 0, 0},
    {nullptr, 0, 0, 0, 0}, {kw_l, 1, 0, 3, 2},    {kw_m, 25, 24, 23, 43}, {nullptr, 0, 0, 0, 0}, {kw_o, 1, 0, 6, 16},
    {kw_p, 2, 12, 10, 40}, {nullptr, 0, 0, 0, 0}, {kw_r, 11, 18, 15, 3}, {kw_s, 9, 18, 17, 29}, {kw_t, 2, 8, 5, 38},
    {nullptr, 0, 0, 0, 0}, {kw_v, 1, 0, 3, 14},   {kw_w, 1, 0, 5, 15},
};

int keyword_lookup(char*& p) {
  char c = *p;
  if (c < 'a' || c > 'w') return -1;
  const KeywordLetter& L = keyword_letters[c - 'a'];
  if (!L.count) return -1;
  if (L.width == 0) {
    size_t n = L.longest;
    if (std::strncmp(p, L.words[0], n) != 0 || is_ident_char(p[n])) return -1;
    p += n;
    return L.base;
  }
  size_t n = 0;
  while (n < L.width && is_word_letter(p[n])) n++;
  if (n > L.longest || is_ident_char(p[n])) return -1;
  for (int row = 0; row < L.count; row++) {
    const char* w = L.words[row];
    if (std::strlen(w) == n && std::memcmp(w, p, n) == 0) {
      p += n;
      return L.base + row;
    }
  }
  return -1;
}

bool keyword_at(const char* p, const char* word, size_t len) {
  return std::strncmp(p, word, len) == 0 && !is_ident_char(p[len]);
}

// ---- operators ----
unsigned operator_token(const char* p, bool after_operand, bool after_value, int* len) {
  auto op = [len](unsigned code, int n) {
    *len = n;
    return code;
  };
  char c = *p;
  switch (c) {
    case '!':
      if (p[1] == '=') return p[2] == '=' ? op(OP_STRICT_NE, 3) : op(OP_NE, 2);
      return op(OP_NOT, 1);
    case '%':
      return p[1] == '=' ? op(OP_MOD_ASSIGN, 2) : op(OP_MOD, 1);
    case '&':
      if (p[1] == '&') return op(OP_AND, 2);
      if (p[1] == '=') return op(OP_AND_ASSIGN, 2);
      return op(OP_BIT_AND, 1);
    case '*':
      if (p[1] == '*') return op(OP_POW, 2);
      if (p[1] == '=') return op(OP_MUL_ASSIGN, 2);
      return op(OP_MUL, 1);
    case '+':
    case '-': {
      bool plus = c == '+';
      if (!after_value && is_digit(p[1])) return 0;   // a signed number
      if (p[1] == c)
        return op(plus ? (after_operand ? OP_POST_INC : OP_PRE_INC) : (after_operand ? OP_POST_DEC : OP_PRE_DEC), 2);
      if (p[1] == '=') return op(plus ? OP_ADD_ASSIGN : OP_SUB_ASSIGN, 2);
      return op(plus ? OP_ADD : OP_SUB, 1);
    }
    case ',':
      return op(OP_COMMA, 1);
    case '.':
      return after_operand ? op(OP_MEMBER, 1) : 0;   // else a number
    case '/':
      if (!after_value) return 0;   // a pattern literal
      return p[1] == '=' ? op(OP_DIV_ASSIGN, 2) : op(OP_DIV, 1);
    case ':':
      return op(OP_COLON, 1);
    case '<':
      if (p[1] == '=') return op(OP_LE, 2);
      if (p[1] == '<') return op(OP_SHL, 2);
      return op(OP_LT, 1);
    case '=':
      if (p[1] == '=') return p[2] == '=' ? op(OP_STRICT_EQ, 3) : op(OP_EQ, 2);
      return op(OP_ASSIGN, 1);
    case '>':
      if (p[1] == '>') return p[2] == '>' ? op(OP_USHR, 3) : op(OP_SHR, 2);
      if (p[1] == '=') return op(OP_GE, 2);
      return op(OP_GT, 1);
    case '?':
      return op(OP_COND, 1);
    case '^':
      return p[1] == '=' ? op(OP_XOR_ASSIGN, 2) : op(OP_BIT_XOR, 1);
    case '|':
      if (p[1] == '|') return op(OP_OR, 2);
      if (p[1] == '=') return op(OP_OR_ASSIGN, 2);
      return op(OP_BIT_OR, 1);
    case '~':
      return op(OP_BIT_NOT, 1);
    default:
      return 0;
  }
}

// ---- names ----
char* read_name_interned(char* p, uint32_t* name) {
  uint32_t h = 0;
  size_t n = 0;
  while (n < NAME_MAX_LENGTH + 4 && is_ident_char(p[n])) {
    h = name_hash_step(h, static_cast<uint32_t>(n + 1), static_cast<uint8_t>(p[n]));
    n++;
  }
  if (n > NAME_MAX_LENGTH) raise_parse_error(1005, "関数・変数名の長さ不正");
  *name = name_intern(p, n, h);
  return p + n;
}

// ---- numbers ----
char* read_number(char* p, DW* out, int sign) {
  const char* q = p;
  double d = 0;
  int64_t iv = 0;
  int kind = parse_number(&q, &d, &iv, sign);
  if (kind == 0 && iv >= INT32_MIN && iv <= INT32_MAX) *out = make_int(static_cast<int32_t>(iv), 0);
  else *out = make_float(kind == 0 ? static_cast<double>(iv) : d, 0);
  return const_cast<char*>(q);
}

// ---- strings ----
static char* string_buf = nullptr;
static size_t string_cap = 0;

static void string_reserve(size_t need) {
  if (need + 8 <= string_cap) return;
  size_t cap = string_cap ? string_cap : 4096;
  while (cap < need + 8) cap = cap < (1u << 20) ? cap + 4096 : cap + cap / 2;
  char* b = static_cast<char*>(std::realloc(string_buf, cap));
  if (!b) raise_eval_error(1400, "メモリ領域を取得できません");
  string_buf = b;
  string_cap = cap;
}

char* read_string(char* p, char quote, DW* out) {
  size_t n = 0;
  string_reserve(256);
  for (;;) {
    // Copy the run of ordinary bytes in one step.
    char* run = p;
    while (*p != quote && *p != '\\' && *p != '\r' && *p != '\n' && *p) p++;
    size_t len = static_cast<size_t>(p - run);
    if (len) {
      string_reserve(n + len + 2);
      std::memcpy(string_buf + n, run, len);
      n += len;
    }
    char c = *p;
    string_reserve(n + 4);
    if (c == 0) raise_parse_error(1010, "JSON文字列不正");
    if (c == quote) {
      p++;
      break;
    }
    if (c == '\r') {
      p++;
      continue;
    }
    if (c == '\n') {
      parse_line++;
      string_buf[n++] = '\n';
      p++;
      continue;
    }
    // Backslash: the next byte is taken.
    char e = p[1];
    if (e == 0) raise_parse_error(1010, "JSON文字列不正");
    if (e == '\n') parse_line++;
    if (quote == '`') {
      if (e != '`') string_buf[n++] = '\\';
      string_buf[n++] = e;
    } else {
      string_buf[n++] = e == 'n' ? '\n' : e == 'r' ? '\r' : e == 't' ? '\t' : e;
    }
    p += 2;
  }
  DW h = make_string(string_buf, n, 0);
  if (quote == '`') str_rec(h)->flags = STR_TEMPLATE;
  *out = h;
  return p;
}

// ---- excerpts ----
LARGE_STATIC static char excerpt_buf[512];

const char* source_excerpt(const char* p, int n) {
  size_t out = 0;
  int chars = 0;
  bool at_lf = false;
  while (chars < n) {
    unsigned char c = static_cast<unsigned char>(*p);
    if (c == 0) break;
    if (c == '\n') {
      at_lf = true;
      break;
    }
    size_t len = c < 0xC0 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : c < 0xF8 ? 4 : c < 0xFC ? 5 : c < 0xFE ? 6 : 1;
    if (out + len > 510) break;
    size_t k = 0;
    while (k < len && p[k] && (k == 0 || p[k] != '\n')) {
      excerpt_buf[out + k] = p[k];
      k++;
    }
    out += k;
    p += k;
    chars++;
    if (k < len) continue;   // a cut sequence: the loop stops at the NUL or line feed next
  }
  if (at_lf && out > 0 && excerpt_buf[out - 1] == '\r') out--;
  excerpt_buf[out] = 0;
  return excerpt_buf;
}

// Bytes at which the comment scanner stops: the end, a slash, the quotes.
struct StopTable {
  bool v[256];
};
static constexpr StopTable make_stops(char a, char b) {
  StopTable t{};
  t.v[0] = t.v[static_cast<uint8_t>(a)] = t.v[static_cast<uint8_t>(b)] = true;
  t.v[static_cast<uint8_t>('"')] = t.v[static_cast<uint8_t>('\'')] = t.v[static_cast<uint8_t>('`')] = true;
  return t;
}
static constexpr StopTable slash_stops = make_stops('/', '/');
static constexpr StopTable star_stops = make_stops('*', '*');

// ---- quotes and brackets ----
bool is_escaped(const char* start, const char* p) {
  size_t n = 0;
  while (p - n > start && p[-1 - static_cast<ptrdiff_t>(n)] == '\\') n++;
  return n & 1;
}

const char* next_unescaped_quote(const char* p, char q) {
  const char* start = p;
  for (const char* s = p; (s = std::strchr(s, q)); s++)
    if (!is_escaped(start, s)) return s;
  return nullptr;
}

char* closing_quote(char* p) {
  char quote = *p;
  char* q = p + 1;
  for (;;) {
    q = std::strchr(q, quote);
    if (!q) return nullptr;
    if (!is_escaped(p, q)) return q;
    q++;
  }
}

static constexpr StopTable paren_stops = make_stops('(', ')');
static constexpr StopTable square_stops = make_stops('[', ']');
static constexpr StopTable brace_stops = make_stops('{', '}');

char* find_closing(char* p, char close, char open) {
  const bool* stops = close == ')' ? paren_stops.v : close == ']' ? square_stops.v : brace_stops.v;
  int depth = 0;
  for (;; p++) {
    while (!stops[static_cast<uint8_t>(*p)]) p++;
    char c = *p;
    if (c == 0) return nullptr;
    if (is_quote(c)) {
      char* e = closing_quote(p);
      if (!e) return nullptr;
      p = e;
      continue;
    }
    if (c == close) {
      if (p[-1] == '\\') continue;
      if (depth == 0) return p;
      depth--;
    } else if (c == open) {
      if (p[-1] == '\\') continue;
      depth++;
    }
  }
}

char* next_unquoted(char* p, char c) {
  char* start = p;
  for (;; p++) {
    char b = *p;
    if (b == 0) return nullptr;
    if (is_quote(b)) {
      char* e = closing_quote(p);
      if (!e) return nullptr;
      p = e;
      continue;
    }
    if (b == c && !is_escaped(start, p)) return p;
  }
}

const char* next_unquoted_char(const char* p, char c) { return next_unquoted(const_cast<char*>(p), c); }

// ---- comment removal ----
// Next position at or after q that is the end, a quote, or the two bytes c1 c2.
static inline char* scan_to(char* q, const StopTable& stops, char c1, char c2) {
  for (;;) {
    while (!stops.v[static_cast<uint8_t>(*q)]) q++;
    if (*q != c1 || q[1] == c2) return q;
    q++;
  }
}

void strip_comments(char* text) {
  // Block comments. Quotes pair up like string delimiters, inside a comment too, while its end
  // is sought.
  char* s = text;
  for (;;) {
    char* q = scan_to(s, slash_stops, '/', '*');
    if (!*q) break;
    if (is_quote(*q)) {
      char* e = closing_quote(q);
      if (!e) break;
      s = e + 1;
      continue;
    }
    char* r = q + 2;
    for (;;) {
      r = scan_to(r, star_stops, '*', '/');
      if (!*r) raise_parse_error(1580, "コメント不正");
      if (!is_quote(*r)) break;
      char* e = closing_quote(r);
      if (!e) raise_parse_error(1580, "コメント不正");
      r = e + 1;
    }
    for (char* b = q; b < r + 2; b++)
      if (*b != '\n') *b = ' ';
    s = r + 2;
  }
  // Line comments.
  s = text;
  for (;;) {
    char* q = scan_to(s, slash_stops, '/', '/');
    if (!*q) break;
    if (is_quote(*q)) {
      char* e = closing_quote(q);
      if (!e) break;
      s = e + 1;
      continue;
    }
    char* lf = std::strchr(q, '\n');
    if (!lf) {
      *q = 0;
      break;
    }
    std::memset(q, ' ', static_cast<size_t>(lf - q));
    s = lf;
  }
}
