// Regular-expression compiler: flags, alternatives, items, text pool, classes, nested patterns.
#include <cstdlib>
#include <cstring>

#include "errors/raise.h"
#include "frontend/tree.h"
#include "platform/layout.h"
#include "regexp/internal.h"
#include "store/hex_codes.h"

namespace {

// Scratch stacks shared by all nesting levels of one compile; each level uses the part above
// the level that called it and leaves it as it found it. Indexes, never pointers, are kept
// across a nested compile because the stacks move when they grow. They are never freed, so an
// error jump leaks nothing.
RxItem* c_items;
uint32_t c_items_cap, c_items_top;
uint16_t* c_pool;
uint32_t c_pool_cap, c_pool_top;
DW* c_alts;
uint32_t c_alts_cap, c_alts_top;
uint32_t c_slot;          // next capture slot of the compiled tree
uint8_t c_flags;
const uint16_t* c_text;   // the whole pattern, shown in messages
size_t c_text_len;
LARGE_STATIC uint64_t c_map[1024];     // one bit per UTF-16 unit, for the matcher's form of a class

void* grow(void* p, uint32_t* cap, uint32_t step, size_t elem) {
  void* q = std::realloc(p, (*cap + step) * elem);
  if (!q) raise_eval_error(1400, "メモリ領域を取得できません");
  *cap += step;
  return q;
}

// The pattern as UTF-8 for the leading '%s' of the messages that have one.
const char* pattern_text() {
  LARGE_STATIC static char buf[512];
  size_t n = c_text_len > 100 ? 100 : c_text_len;
  rx_utf16_to_utf8(c_text, n, buf, sizeof buf);
  return buf;
}

[[noreturn]] void fail(int code, const char* msg) { raise_parse_error(code, "%s", msg); }
[[noreturn]] void fail_quoted(int code, const char* tail) {
  raise_parse_error(code, "'%s'%s", pattern_text(), tail);
}

// State of one alternative being compiled. Plain data: an error jump may cross it.
struct Alt {
  uint32_t ib;        // its first item in c_items
  uint32_t pb;        // its pool base in c_pool
  uint32_t pend;      // pending literal units at the top of the pool
  uint32_t groups;    // capturing groups so far
  uint8_t lb_look;    // pending lookbehind for the next item (P or Q), else 0
  DW lb_body;
  int depth;
};

// Room for n more pool units.
void pool_reserve(Alt* a, uint32_t n) {
  if (c_pool_top - a->pb + n > static_cast<uint32_t>(RX_MAX_UNITS))
    raise_parse_error(RX_ERR_SIZE, "正規表現のフォーマット不正 (パターン過大)");
  while (c_pool_top + n > c_pool_cap) c_pool = static_cast<uint16_t*>(grow(c_pool, &c_pool_cap, 2048, 2));
}

inline void pool_put(Alt* a, uint16_t u) {
  if (c_pool_top >= c_pool_cap || c_pool_top - a->pb >= static_cast<uint32_t>(RX_MAX_UNITS)) pool_reserve(a, 1);
  c_pool[c_pool_top++] = u;
}

RxItem* append_raw(Alt* a) {
  if (c_items_top - a->ib >= static_cast<uint32_t>(RX_MAX_UNITS))
    raise_parse_error(RX_ERR_SIZE, "正規表現のフォーマット不正 (パターン過大)");
  if (c_items_top >= c_items_cap) c_items = static_cast<RxItem*>(grow(c_items, &c_items_cap, 512, sizeof(RxItem)));
  RxItem* it = &c_items[c_items_top++];
  std::memset(it, 0, sizeof *it);
  it->min = it->max = 1;
  it->text = static_cast<uint16_t>(c_pool_top - a->pb);
  return it;
}

// Appends an item; a pending lookbehind marks it, or goes before it as a carrier item when the
// item cannot carry it (a group, or an item with a lookaround of its own).
RxItem* push_item(Alt* a, uint8_t kind, DW body = 0, uint8_t look = 0) {
  if (a->lb_look) {
    if (body || look || kind == RX_GROUP || kind == RX_NCGROUP) {
      RxItem* c = append_raw(a);
      c->kind = RX_EMPTY;
      c->look = a->lb_look;
      c->body = a->lb_body;
    } else {
      look = a->lb_look;
      body = a->lb_body;
    }
    a->lb_look = 0;
    a->lb_body = 0;
  }
  RxItem* it = append_raw(a);
  it->kind = kind;
  it->body = body;
  it->look = look;
  return it;
}

// Pending literal units become an item: a run of two or more, or a single unit.
void flush(Alt* a) {
  if (!a->pend) return;
  uint32_t n = a->pend;
  a->pend = 0;
  RxItem* it = push_item(a, n >= 2 ? RX_RUN : RX_UNIT);
  it->text = static_cast<uint16_t>(c_pool_top - n - a->pb);
  it->len = static_cast<uint16_t>(n);
  pool_put(a, 0);
}

void literal(Alt* a, unsigned u) {
  if (c_flags & RXF_IGNORECASE) u = rx_fold(u);
  pool_put(a, static_cast<uint16_t>(u));
  a->pend++;
}

// \xHH, \uHHHH or \u{HHHH} at t[i] (the letter); returns the unit or -1, *next after it.
long hex_escape(const uint16_t* t, size_t i, size_t b, size_t* next) {
  int digits = t[i] == 'x' ? 2 : 4;
  size_t j = i + 1;
  bool brace = digits == 4 && j < b && t[j] == '{';
  if (brace) j++;
  long v = 0;
  for (int k = 0; k < digits; k++, j++) {
    if (j >= b) return -1;
    int h = hex_digit_value(t[j]);
    if (h < 0) return -1;
    v = v * 16 + h;
  }
  if (brace) {
    if (j >= b || t[j] != '}') return -1;
    j++;
  }
  *next = j;
  return v;
}

// ASCII punctuation that stands for itself after a backslash.
bool identity_escape(uint16_t u) {
  return u >= 0x20 && u < 0x7F && !rx_is_word(u);
}

// Skips a class from its '[' at t[j]; returns the index after its ']', or b when unterminated.
size_t skip_class(const uint16_t* t, size_t j, size_t b) {
  j++;
  while (j < b && t[j] != ']') j += t[j] == '\\' ? 2 : 1;
  return j < b ? j + 1 : b;
}

// Index of the ')' that closes the '(' at t[i], or -1. Escapes and classes are skipped.
long find_close(const uint16_t* t, size_t i, size_t b) {
  int depth = 0;
  size_t j = i;
  while (j < b) {
    uint16_t u = t[j];
    if (u == '\\') { j += 2; continue; }
    if (u == '[') { j = skip_class(t, j, b); continue; }
    if (u == '(') depth++;
    else if (u == ')' && --depth == 0) return static_cast<long>(j);
    j++;
  }
  return -1;
}

// The matcher's form of a class: ASCII map (escape classes folded in) and sorted ranges above.
void class_map(Alt* a, uint32_t start, uint32_t n, uint8_t esc) {
  uint16_t map[8] = {0, 0, 0, 0, 0, 0, 0, 0};
  unsigned lo = 0x10000, hi = 0;
  for (uint32_t k = 0; k < n; k++) {
    unsigned u = c_pool[start + k];
    if (u < 128) {
      map[u >> 4] |= static_cast<uint16_t>(1u << (u & 15));
    } else {
      if (lo == 0x10000) {
        std::memset(c_map, 0, sizeof c_map);
      }
      c_map[u >> 6] |= 1ull << (u & 63);
      if (u < lo) lo = u;
      if (u > hi) hi = u;
    }
  }
  for (unsigned u = 0; u < 128; u++) {
    bool in = ((esc & RXC_W) && rx_is_word(u)) || ((esc & RXC_NW) && !rx_is_word(u)) ||
              ((esc & RXC_D) && rx_is_digit(u)) || ((esc & RXC_ND) && !rx_is_digit(u)) ||
              ((esc & RXC_S) && rx_is_space(u)) || ((esc & RXC_NS) && !rx_is_space(u));
    if (in) map[u >> 4] |= static_cast<uint16_t>(1u << (u & 15));
  }
  for (int k = 0; k < 8; k++) pool_put(a, map[k]);
  uint32_t countAt = c_pool_top;
  pool_put(a, 0);
  uint32_t ranges = 0;
  if (lo != 0x10000) {
    // Runs of set bits, a 64-bit word at a time.
    unsigned u = lo;
    for (;;) {
      uint64_t w = c_map[u >> 6] & (~0ull << (u & 63));
      while (!w && (u | 63) < hi) {
        u = (u | 63) + 1;
        w = c_map[u >> 6];
      }
      if (!w) break;
      u = (u & ~63u) + static_cast<unsigned>(__builtin_ctzll(w));
      if (u > hi) break;
      unsigned first = u;
      w = ~c_map[u >> 6] & (~0ull << (u & 63));
      while (!w && (u | 63) < hi) {
        u = (u | 63) + 1;
        w = ~c_map[u >> 6];
      }
      unsigned end = w ? (u & ~63u) + static_cast<unsigned>(__builtin_ctzll(w)) : hi + 1;
      if (end > hi + 1) end = hi + 1;
      pool_put(a, static_cast<uint16_t>(first));
      pool_put(a, static_cast<uint16_t>(end - 1));
      ranges++;
      if (end > hi) break;
      u = end;
    }
  }
  c_pool[countAt] = static_cast<uint16_t>(ranges);
}

// One element of a class at t[j]: a unit (returned), an escape class (bits into *esc, returns
// -1). *next is set after it.
long class_element(const uint16_t* t, size_t j, size_t b, uint8_t* esc, size_t* next) {
  uint16_t u = t[j];
  if (u != '\\') {
    *next = j + 1;
    return u;
  }
  if (j + 1 >= b) fail(4740, "正規表現のエスケープ不正");
  uint16_t e = t[j + 1];
  *next = j + 2;
  switch (e) {
    case 'n': return '\n';
    case 'r': return '\r';
    case 't': return '\t';
    case 'f': return '\f';
    case 'v': return '\v';
    case '0': return 0;
    case 'w': *esc |= RXC_W; return -1;
    case 'W': *esc |= RXC_NW; return -1;
    case 'd': *esc |= RXC_D; return -1;
    case 'D': *esc |= RXC_ND; return -1;
    case 's': *esc |= RXC_S; return -1;
    case 'S': *esc |= RXC_NS; return -1;
    case 'c':
      if (j + 2 < b && t[j + 2] >= 'A' && t[j + 2] <= 'Z') {
        *next = j + 3;
        return t[j + 2] - 64;
      }
      fail(4725, "正規表現の文字不正");
    case 'x':
    case 'u': {
      long v = hex_escape(t, j + 1, b, next);
      if (v < 0) fail(e == 'x' ? 4730 : 4735, "正規表現の文字不正");
      return v;
    }
    default:
      if (identity_escape(e)) return e;
      fail(4745, "正規表現のエスケープ不正");
  }
}

// A class from its '[' at t[i]; returns the index after its ']'.
size_t compile_class(Alt* a, const uint16_t* t, size_t i, size_t b) {
  flush(a);
  size_t j = i + 1;
  if (j + 1 < b && t[j] == '^' && t[j + 1] == ']') {
    push_item(a, RX_ANY);
    return j + 2;
  }
  bool neg = j < b && t[j] == '^';
  if (neg) j++;
  uint32_t start = c_pool_top;
  uint32_t n = 0;
  uint8_t esc = 0;
  long prev = -1;  // the last unit listed, for a range; -1 after an escape class
  bool first = true;
  const bool fold = c_flags & RXF_IGNORECASE;
  for (;;) {
    if (j >= b) fail(4775, "正規表現のフォーマット不正 ([ ])");
    uint16_t u = t[j];
    if (u == ']') break;
    if (u == '-' && !first && prev >= 0 && j + 1 < b && t[j + 1] != ']') {
      size_t next;
      uint8_t dummy = 0;
      long hi = class_element(t, j + 1, b, &dummy, &next);
      if (hi < 0 || hi <= prev) fail(4720, "正規表現のフォーマット不正 ([ - ])");
      pool_reserve(a, static_cast<uint32_t>(hi - prev));
      for (long v = prev + 1; v <= hi; v++)
        c_pool[c_pool_top++] = static_cast<uint16_t>(fold ? rx_fold(static_cast<unsigned>(v)) : v);
      n += static_cast<uint32_t>(hi - prev);
      prev = hi;
      j = next;
      continue;
    }
    size_t next;
    long v = class_element(t, j, b, &esc, &next);
    first = false;
    prev = v;
    if (v >= 0) {
      pool_put(a, static_cast<uint16_t>(fold ? rx_fold(static_cast<unsigned>(v)) : v));
      n++;
    }
    j = next;
  }
  if (n == 0 && esc == 0) raise_parse_error(4600, "正規表現のフォーマット不正 (%s)", "[ ]");
  pool_put(a, 0);
  class_map(a, start, n, esc);
  RxItem* it = push_item(a, neg ? RX_NCLASS : RX_CLASS);
  it->text = static_cast<uint16_t>(start - a->pb);
  it->len = static_cast<uint16_t>(n);
  it->cls = esc;
  return j + 1;
}

// Applies a quantifier; which is the quantifier character, for the messages.
void quantify(Alt* a, uint8_t code, uint32_t min, uint32_t max, char which) {
  RxItem* it;
  if (a->pend) {
    if (a->pend >= 2) {  // the quantifier takes the last unit only
      uint16_t u = c_pool[--c_pool_top];
      a->pend--;
      flush(a);
      pool_put(a, u);
      a->pend = 1;
    }
    flush(a);
    it = &c_items[c_items_top - 1];
  } else {
    char q[2] = {which, 0};
    if (a->lb_look || c_items_top == a->ib) raise_parse_error(4605, "正規表現のフォーマット不正 (%s)", q);
    it = &c_items[c_items_top - 1];
    if (it->kind == RX_UNIT) raise_parse_error(4610, "正規表現のフォーマット不正 (%s)", q);
    if (it->quant) raise_parse_error(4605, "正規表現のフォーマット不正 (%s)", q);
    if (it->look == RXL_AHEAD || it->look == RXL_NAHEAD || it->kind == RX_EMPTY)
      fail_quoted(4645, "のフォーマット不正 (?=...)、(?!...)");
    if (it->kind == RX_RUN || it->kind == RX_GROUP || it->kind == RX_WBOUND || it->kind == RX_NWBOUND) {
      switch (which) {
        case '*': fail_quoted(4660, "のフォーマット不正 (*)");
        case '+': fail_quoted(4670, "のォーマット不正 (+)");
        case '?': fail_quoted(4680, "のォーマット不正 (?)");
        default: fail_quoted(4620, "のフォーマット不正 ({ })");
      }
    }
  }
  it->quant = code;
  it->min = static_cast<uint16_t>(min);
  it->max = static_cast<uint16_t>(max);
}

// {n}, {n,} or {n,m} from its '{' at t[i]; returns the index after it.
size_t compile_braces(Alt* a, const uint16_t* t, size_t i, size_t b) {
  size_t j = i + 1;
  uint32_t n = 0, nd = 0;
  while (j < b && rx_is_digit(t[j])) {
    if (n < 100000) n = n * 10 + (t[j] - '0');
    nd++;
    j++;
  }
  if (j >= b) fail(4780, "正規表現のフォーマット不正 ([ ])");
  uint8_t code;
  uint32_t max;
  if (t[j] == '}') {
    if (nd == 0 || n < 1 || n > 65535) fail(4750, "正規表現のフォーマット不正 ({ })");
    code = RXQ_EXACT;
    max = n;
    j++;
    if (j < b && t[j] == '?') j++;  // a lazy exact count is the same count
  } else if (t[j] == ',') {
    if (nd == 0 || n < 1 || n > 65535) fail(4755, "正規表現のフォーマット不正 ({ })");
    j++;
    uint32_t m = 0, md = 0;
    while (j < b && rx_is_digit(t[j])) {
      if (m < 100000) m = m * 10 + (t[j] - '0');
      md++;
      j++;
    }
    if (j >= b) fail(4780, "正規表現のフォーマット不正 ([ ])");
    if (t[j] != '}') fail(4770, "正規表現の数字フォーマット不正 { }");
    j++;
    if (md == 0) {
      code = RXQ_OPEN;
      max = RXQ_UNLIMITED;
    } else {
      if (m < n || m > 65535) fail(4765, "正規表現のフォーマット不正");
      code = RXQ_RANGE;
      max = m;
    }
    if (j < b && t[j] == '?') {
      code |= RXQ_LAZY;
      j++;
    }
  } else {
    fail(4760, "正規表現の数字フォーマット不正 { }");
  }
  quantify(a, code, n, max, '{');
  return j;
}

// *, + or ? at t[i]; returns the index after it (and after a lazy '?').
size_t compile_quantifier(Alt* a, const uint16_t* t, size_t i, size_t b) {
  uint16_t q = t[i];
  uint32_t min = q == '+' ? 1 : 0;
  uint32_t max = q == '?' ? 1 : RXQ_UNLIMITED;
  uint8_t code = q == '?' ? RXQ_OPT : RXQ_OPEN;
  size_t j = i + 1;
  if (j < b && t[j] == '?') {
    code |= RXQ_LAZY;
    j++;
  } else if (j < b && (t[j] == '*' || t[j] == '+')) {
    if (q == '*') fail_quoted(4655, "のフォーマット不正 (*)");
    if (q == '+') fail_quoted(4665, "のフーマット不正 (*+)");
    fail_quoted(4675, "のォーマット不正 (*)");
  }
  quantify(a, code, min, max, static_cast<char>(q));
  return j;
}

DW compile_pattern(const uint16_t* t, size_t n, int depth);

// A group or lookaround from its '(' at t[i]; returns the index after its ')'.
size_t compile_group(Alt* a, const uint16_t* t, size_t i, size_t b) {
  flush(a);
  long close = find_close(t, i, b);
  if (close < 0) fail_quoted(4640, "のフォーマット不正 (、)");
  size_t c = static_cast<size_t>(close);
  size_t bs = i + 1;
  uint8_t kind = RX_GROUP, look = 0;
  uint32_t name = 0;
  if (bs < c && t[bs] == '?') {
    uint16_t k = bs + 1 < c ? t[bs + 1] : 0;
    if (k == ':') {
      kind = RX_NCGROUP;
      bs += 2;
    } else if (k == '=' || k == '!') {
      look = k == '=' ? RXL_AHEAD : RXL_NAHEAD;
      bs += 2;
    } else if (k == '<' && bs + 2 < c && (t[bs + 2] == '=' || t[bs + 2] == '!')) {
      look = t[bs + 2] == '=' ? RXL_BEHIND : RXL_NBEHIND;
      bs += 3;
    } else if (k == '<') {
      size_t ns = bs + 2, ne = ns;
      while (ne < c && t[ne] != '>') ne++;
      if (ne >= c) fail_quoted(4635, "のフォーマット不正 (、)");
      if (ne == ns) fail(4625, "RegExp グループ不正");
      char nm[NAME_MAX_LENGTH + 4];
      size_t nl = 0;
      for (size_t k2 = ns; k2 < ne; k2++) {
        uint16_t u = t[k2];
        bool ok = u >= 0x80 || (u - 'a' + 0u) < 26u || (u - 'A' + 0u) < 26u || u == '_' ||
                  (k2 > ns && rx_is_digit(u));
        if (!ok) fail(4625, "RegExp グループ不正");
        nl += u < 0x80 ? 1 : u < 0x800 ? 2 : 3;
        if (nl > NAME_MAX_LENGTH) fail(4630, "RegExp グループ不正");
      }
      rx_utf16_to_utf8(t + ns, ne - ns, nm, sizeof nm);
      name = name_intern_text(nm, nl);
      bs = ne + 1;
    } else {
      fail(4625, "RegExp グループ不正");
    }
  }
  if (a->depth + 1 > RX_MAX_NESTING)
    raise_parse_error(RX_ERR_NESTING, "正規表現のフォーマット不正 (ネスト過多)");
  if ((look == RXL_AHEAD || look == RXL_NAHEAD) && c + 1 < b) {
    uint16_t f = t[c + 1];
    if (f == '{' || f == '*' || f == '+' || f == '?') fail_quoted(4645, "のフォーマット不正 (?=...)、(?!...)");
  }
  DW body = compile_pattern(t + bs, c - bs, a->depth + 1);
  if (look == RXL_AHEAD || look == RXL_NAHEAD) {
    RxItem* prev = c_items_top > a->ib ? &c_items[c_items_top - 1] : nullptr;
    if (prev && !a->lb_look && prev->body == 0 && prev->look == 0) {
      prev->look = look;
      prev->body = body;
    } else {
      push_item(a, RX_EMPTY, body, look);
    }
  } else if (look) {
    if (a->lb_look) push_item(a, RX_EMPTY);  // the earlier lookbehind gets a carrier of its own
    a->lb_look = look;
    a->lb_body = body;
  } else {
    RxItem* it = push_item(a, kind, body);
    if (kind == RX_GROUP) {
      if (a->groups >= static_cast<uint32_t>(RX_MAX_GROUPS) || c_slot >= 65535)
        raise_parse_error(RX_ERR_GROUPS, "RegExp グループ不正 (グループ数超過)");
      it->cls = static_cast<uint8_t>(++a->groups);
      it->name = name;
      it->text = static_cast<uint16_t>(c_slot++);
    }
  }
  return c + 1;
}

// An escape outside a class from its backslash at t[i]; returns the index after it.
size_t compile_escape(Alt* a, const uint16_t* t, size_t i, size_t b) {
  if (i + 1 >= b) fail(4710, "正規表現のフォーマット不正");
  uint16_t e = t[i + 1];
  switch (e) {
    case '0': literal(a, 0); return i + 2;
    case 'f': literal(a, '\f'); return i + 2;
    case 'n': literal(a, '\n'); return i + 2;
    case 'r': literal(a, '\r'); return i + 2;
    case 't': literal(a, '\t'); return i + 2;
    case 'v': literal(a, '\v'); return i + 2;
    case 'c':
      if (i + 2 < b && t[i + 2] >= 'A' && t[i + 2] <= 'Z') {
        literal(a, t[i + 2] - 64u);
        return i + 3;
      }
      fail(4690, "正規表現の文字不正");
    case 'x':
    case 'u': {
      size_t next;
      long v = hex_escape(t, i + 1, b, &next);
      if (v < 0) fail(e == 'x' ? 4695 : 4700, "正規表現の文字不正");
      literal(a, static_cast<unsigned>(v));
      return next;
    }
    case 'w': case 'W': case 'd': case 'D': case 's': case 'S': case 'b': case 'B': {
      static const char order[] = "wWdDsSbB";
      flush(a);
      push_item(a, static_cast<uint8_t>(RX_WORD + (std::strchr(order, e) - order)));
      return i + 2;
    }
    default:
      break;
  }
  if (e >= '1' && e <= '9') {
    flush(a);
    unsigned g = e - '0';
    uint32_t k = c_items_top;
    while (k > a->ib && !(c_items[k - 1].kind == RX_GROUP && c_items[k - 1].cls == g)) k--;
    if (k == a->ib) fail(4705, "正規表現のフォーマット不正 (\\0 ... \\9)");
    RxItem* it = push_item(a, RX_BACKREF);
    it->cls = static_cast<uint8_t>(g);
    it->text = static_cast<uint16_t>(k - 1 - a->ib);
    it->name = c_items[k - 1].text;  // the group's capture slot, for the matcher
    return i + 2;
  }
  if (identity_escape(e)) {
    literal(a, e);
    return i + 2;
  }
  fail(4715, "正規表現のフォーマット不正");
}

// Saturating width arithmetic: RXQ_UNLIMITED and above mean unbounded.
uint32_t wadd(uint32_t x, uint32_t y) { return x + y >= RXQ_UNLIMITED ? RXQ_UNLIMITED : x + y; }
uint32_t wmul(uint32_t x, uint32_t y) {
  if (x == 0 || y == 0) return 0;
  if (x >= RXQ_UNLIMITED || y >= RXQ_UNLIMITED) return RXQ_UNLIMITED;
  uint64_t p = static_cast<uint64_t>(x) * y;
  return p >= RXQ_UNLIMITED ? RXQ_UNLIMITED : static_cast<uint32_t>(p);
}

// ASCII units that can begin an item's match, ORed into map (8 units); returns RXS_ bits
// (RXS_EMPTY when the item can match without a unit).
uint8_t item_start(const Alt* a, const RxItem& it, uint16_t* map) {
  const bool icase = c_flags & RXF_IGNORECASE;
  uint8_t bits = 0;
  auto set = [&](unsigned u) { map[u >> 4] |= static_cast<uint16_t>(1u << (u & 15)); };
  auto each = [&](auto pred) {
    for (unsigned u = 0; u < 128; u++)
      if (pred(u)) set(u);
  };
  const uint16_t* pool = c_pool + a->pb;
  switch (it.kind) {
    case RX_BOL: case RX_EOL: case RX_WBOUND: case RX_NWBOUND: case RX_EMPTY:
      return RXS_EMPTY;
    case RX_BACKREF:
      return RXS_UNKNOWN;
    case RX_RUN: case RX_UNIT: {
      unsigned u = pool[it.text];
      if (u < 128) {
        set(u);
        if (icase && u - 'A' < 26u) set(u + 32);
      } else {
        bits |= RXS_NONASCII;
      }
      break;
    }
    case RX_CLASS: case RX_NCLASS: {
      const uint16_t* m = pool + it.text + it.len + 1;
      bool neg = it.kind == RX_NCLASS;
      each([&](unsigned u) { return rx_class_has(m, it.cls, icase ? rx_fold(u) : u) != neg; });
      if (neg || m[8] || (it.cls & (RXC_NW | RXC_ND | RXC_NS))) bits |= RXS_NONASCII;
      break;
    }
    case RX_WORD: each([](unsigned u) { return rx_is_word(u); }); break;
    case RX_DIGIT: each([](unsigned u) { return rx_is_digit(u); }); break;
    case RX_SPACE: each([](unsigned u) { return rx_is_space(u); }); break;
    case RX_NWORD: each([](unsigned u) { return !rx_is_word(u); }); bits |= RXS_NONASCII; break;
    case RX_NDIGIT: each([](unsigned u) { return !rx_is_digit(u); }); bits |= RXS_NONASCII; break;
    case RX_NSPACE: each([](unsigned u) { return !rx_is_space(u); }); bits |= RXS_NONASCII; break;
    case RX_DOT:
      each([](unsigned u) { return (c_flags & RXF_DOTALL) || (u != '\n' && u != '\r'); });
      bits |= RXS_NONASCII;
      break;
    case RX_ANY: each([](unsigned) { return true; }); bits |= RXS_NONASCII; break;
    case RX_GROUP: case RX_NCGROUP:
      bits |= rx_start_filter(it.body, map) & (RXS_NONASCII | RXS_EMPTY | RXS_UNKNOWN);
      break;
    default:
      return RXS_UNKNOWN;
  }
  if (it.quant && it.min == 0) bits |= RXS_EMPTY;
  return bits;
}

// Stores the alternative as a compiled sequence block and its item array.
DW store_sequence(Alt* a) {
  uint32_t count = c_items_top - a->ib;
  uint32_t plen = c_pool_top - a->pb;
  uint32_t wmin = 0, wmax = 0, groups = 0;
  for (uint32_t k = 0; k < count; k++) {
    const RxItem& it = c_items[a->ib + k];
    uint32_t lo, hi;
    switch (it.kind) {
      case RX_RUN: lo = hi = it.len; break;
      case RX_BOL: case RX_EOL: case RX_WBOUND: case RX_NWBOUND: case RX_EMPTY: lo = hi = 0; break;
      case RX_BACKREF: lo = 0; hi = RXQ_UNLIMITED; break;
      case RX_GROUP: case RX_NCGROUP: rx_width(it.body, &lo, &hi); break;
      default: lo = hi = 1; break;
    }
    if (it.kind == RX_GROUP) groups++;
    if (it.quant) {
      lo = wmul(lo, it.min);
      hi = wmul(hi, it.max);
    }
    wmin = wadd(wmin, lo);
    wmax = wadd(wmax, hi);
  }
  // The start filter, kept in the pool after everything else.
  uint16_t map[8] = {0, 0, 0, 0, 0, 0, 0, 0};
  uint8_t filter = RXS_EMPTY;
  for (uint32_t k = 0; k < count; k++) {
    uint8_t b = item_start(a, c_items[a->ib + k], map);
    filter = static_cast<uint8_t>((filter & ~RXS_EMPTY) | b);
    if (!(b & RXS_EMPTY) || (b & RXS_UNKNOWN)) break;
  }
  uint32_t mapAt = c_pool_top - a->pb;
  for (int k = 0; k < 8; k++) pool_put(a, map[k]);
  filter |= RXS_MAP;
  plen = c_pool_top - a->pb;
  void* p;
  DW h = area_new(20 + 2 * plen, &p);
  std::memset(p, 0, 20 + 2 * plen);
  RxHead* head = static_cast<RxHead*>(p);
  head->hdr = T_REGEXP;
  head->flags = c_flags;
  head->count = static_cast<uint16_t>(count);
  head->poolLen = static_cast<uint16_t>(plen);
  if (plen) std::memcpy(rx_pool(head), c_pool + a->pb, 2 * plen);
  void* ip;
  head->items = area_new((count + 1) * sizeof(RxItem), &ip);
  std::memcpy(ip, c_items + a->ib, count * sizeof(RxItem));
  RxItem* sent = static_cast<RxItem*>(ip) + count;
  std::memset(sent, 0, sizeof *sent);
  sent->name = c_slot;
  sent->cls = static_cast<uint8_t>(groups);
  sent->min = static_cast<uint16_t>(wmin > 65534 ? 65534 : wmin);
  sent->max = static_cast<uint16_t>(wmax);
  sent->quant = filter;
  sent->text = static_cast<uint16_t>(mapAt);
  return h | (static_cast<DW>(T_REGEXP) << 24);
}

// One alternative t[a0 .. b).
DW compile_alternative(const uint16_t* t, size_t a0, size_t b, int depth) {
  Alt a = {c_items_top, c_pool_top, 0, 0, 0, 0, depth};
  size_t i = a0;
  while (i < b) {
    uint16_t u = t[i];
    switch (u) {
      case '\\': i = compile_escape(&a, t, i, b); break;
      case '[': i = compile_class(&a, t, i, b); break;
      case '(': i = compile_group(&a, t, i, b); break;
      case ')': fail_quoted(4640, "のフォーマット不正 (、)");
      case '*': case '+': case '?': i = compile_quantifier(&a, t, i, b); break;
      case '{': i = compile_braces(&a, t, i, b); break;
      case '.':
        flush(&a);
        push_item(&a, RX_DOT);
        i++;
        break;
      case '^':
        flush(&a);
        if (c_items_top != a.ib) fail_quoted(4685, "のォーマット不正 ($)");
        push_item(&a, RX_BOL);
        pool_put(&a, 0);
        i++;
        break;
      case '$':
        flush(&a);
        if (i + 1 != b) fail_quoted(4687, "のォーマット不正 ($)");
        push_item(&a, RX_EOL);
        pool_put(&a, 0);
        i++;
        break;
      default:
        literal(&a, u);
        i++;
        break;
    }
  }
  flush(&a);
  if (a.lb_look) fail_quoted(4650, "のフォーマット不正 (?<=...)。(?<!...)");
  if (c_items_top == a.ib) fail(4785, "正規表現のフォーマット不正 (パターンなし)");
  DW h = store_sequence(&a);
  c_items_top = a.ib;
  c_pool_top = a.pb;
  return h;
}

DW compile_pattern(const uint16_t* t, size_t n, int depth) {
  if (n == 0) fail(4615, "正規表現のフォーマット不正 (空文字列)");
  uint32_t base = c_alts_top;
  size_t a0 = 0, j = 0;
  int par = 0;
  for (;;) {
    if (j >= n || (t[j] == '|' && par == 0)) {
      if (j == a0) fail(4615, "正規表現のフォーマット不正 (空文字列)");
      DW h = compile_alternative(t, a0, j, depth);
      if (c_alts_top - base >= static_cast<uint32_t>(RX_MAX_UNITS))
        raise_parse_error(RX_ERR_SIZE, "正規表現のフォーマット不正 (パターン過大)");
      if (c_alts_top >= c_alts_cap) c_alts = static_cast<DW*>(grow(c_alts, &c_alts_cap, 256, sizeof(DW)));
      c_alts[c_alts_top++] = h;
      if (j >= n) break;
      a0 = ++j;
      continue;
    }
    uint16_t u = t[j];
    if (u == '\\') { j = j + 2 < n ? j + 2 : n; continue; }
    if (u == '[') { j = skip_class(t, j, n); continue; }
    if (u == '(') par++;
    else if (u == ')' && par > 0) par--;
    j++;
  }
  uint32_t count = c_alts_top - base;
  if (count == 0) fail(4790, "正規表現のフォーマット不正 (パターンなし)");
  if (count == 1) {
    c_alts_top = base;
    return c_alts[base];
  }
  void* p;
  DW h = area_new(20, &p);
  std::memset(p, 0, 20);
  RxHead* head = static_cast<RxHead*>(p);
  head->hdr = T_REGEXP;
  head->flags = c_flags | RXF_ALTERNATION;
  head->count = static_cast<uint16_t>(count);
  void* lp;
  head->items = area_new(4 * count, &lp);
  std::memcpy(lp, c_alts + base, 4 * count);
  c_alts_top = base;
  return h | (static_cast<DW>(T_REGEXP) << 24);
}

}  // namespace

void rx_width(DW re, uint32_t* min, uint32_t* max) {
  RxHead* h = rx_head(re);
  if (h->flags & RXF_ALTERNATION) {
    uint32_t lo = RXQ_UNLIMITED, hi = 0;
    for (int k = 0; k < h->count; k++) {
      uint32_t a, b;
      rx_width(rx_alt(h, k), &a, &b);
      if (a < lo) lo = a;
      if (b > hi) hi = b;
    }
    *min = lo;
    *max = hi;
    return;
  }
  const RxItem* sent = rx_items(h) + h->count;
  *min = sent->min;
  *max = sent->max;
}

uint8_t rx_start_filter(DW re, uint16_t* map) {
  RxHead* h = rx_head(re);
  if (h->flags & RXF_ALTERNATION) {
    uint8_t bits = 0;
    for (int k = 0; k < h->count; k++) bits |= rx_start_filter(rx_alt(h, k), map);
    return bits;
  }
  const RxItem* sent = rx_items(h) + h->count;
  const uint16_t* m = rx_pool(h) + sent->text;
  for (int k = 0; k < 8; k++) map[k] |= m[k];
  return sent->quant;
}

uint32_t rx_slot_end(DW re) {
  RxHead* h = rx_head(re);
  if (h->flags & RXF_ALTERNATION) {
    uint32_t e = 0;
    for (int k = 0; k < h->count; k++) {
      uint32_t s = rx_slot_end(rx_alt(h, k));
      if (s > e) e = s;
    }
    return e;
  }
  return (rx_items(h) + h->count)->name;
}

uint8_t regexp_flags(const char* letters, size_t len) {
  uint8_t f = 0;
  for (size_t k = 0; k < len; k++) {
    switch (letters[k]) {
      case 'm': f |= RXF_MULTILINE; break;
      case 'i': f |= RXF_IGNORECASE; break;
      case 'g': f |= RXF_GLOBAL; break;
      case 'y': f |= RXF_STICKY; break;
      case 's': f |= RXF_DOTALL; break;
      case 'u': break;
      default: raise_parse_error(4795, "正規表現のオプション不正(%.*s)", static_cast<int>(len > 255 ? 255 : len), letters);
    }
  }
  return f;
}

DW regexp_compile(const uint16_t* text16, size_t length, uint8_t flags) {
  c_items_top = c_pool_top = c_alts_top = 0;
  c_slot = 0;
  c_flags = flags & ~RXF_ALTERNATION;
  c_text = text16;
  c_text_len = length;
  return compile_pattern(text16, length, 0);
}

DW regexp_new(const char* pattern, size_t plen, const char* flags, size_t flen) {
  uint8_t f = regexp_flags(flags, flen);
  if (plen == 0) fail(4615, "正規表現のフォーマット不正 (空文字列)");
  int32_t units;
  uint16_t* t = rx_scratch_utf16(2, pattern, plen, &units);
  return regexp_compile(t, static_cast<size_t>(units), f);
}

const char* regexp_literal(const char* p, DW* handle) {
  const char* s = p;
  bool inClass = false;
  for (;; p++) {
    char c = *p;
    if (c == 0 || c == '\n' || c == '\r') fail(4805, "正規表現のフォーマット不正 (/)");
    if (c == '\\') {
      if (p[1] == 0 || p[1] == '\n' || p[1] == '\r') fail(4805, "正規表現のフォーマット不正 (/)");
      p++;
    } else if (c == '[') {
      inClass = true;
    } else if (c == ']') {
      inClass = false;
    } else if (c == '/' && !inClass) {
      break;
    }
  }
  const char* f = p + 1;
  const char* fe = f;
  while ((*fe >= 'a' && *fe <= 'z') || (*fe >= 'A' && *fe <= 'Z')) fe++;
  if (fe - f > 255) raise_parse_error(4795, "正規表現のオプション不正(%.*s)", 255, f);
  *handle = regexp_new(s, static_cast<size_t>(p - s), f, static_cast<size_t>(fe - f));
  return fe;
}

DW regexp_construct(const DW* args, int count) {
  if (count < 1 || dw_type(args[0]) != T_STRING) raise_eval_error(5085, "正規表現のパターン不正(非文字列)");
  const char* flags = "";
  size_t flen = 0;
  if (count >= 2) {
    if (dw_type(args[1]) != T_STRING) raise_eval_error(5090, "正規表現のオプション不正(非文字列)");
    flags = str_text(args[1]);
    flen = str_rec(args[1])->len;
  }
  return regexp_new(str_text(args[0]), str_rec(args[0])->len, flags, flen);
}

void regexp_free(DW re) {
  if (!store_run_phase || dw_type(re) != T_REGEXP) return;
  RxHead* h = rx_head(re);
  if (h->flags & RXF_ALTERNATION) {
    for (int k = 0; k < h->count; k++) regexp_free(rx_alt(h, k));
  } else {
    RxItem* it = rx_items(h);
    for (int k = 0; k < h->count; k++)
      if (it[k].body) regexp_free(it[k].body);
  }
  area_release(h->items);
  area_release(re & 0x00FFFFFF);
}
