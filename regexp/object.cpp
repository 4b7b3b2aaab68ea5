// The RegExp object: match results, exec/test and lastIndex, methods, properties, RegExp(...).
#include <cstdlib>
#include <cstring>

#include "errors/raise.h"
#include "eval/eval.h"
#include "eval/method_table.h"
#include "eval/plugins.h"
#include "frontend/tree.h"
#include "regexp/internal.h"
#include "store/utf16_text.h"

namespace {

// UTF-8 text of a span of the subject, in a process-wide buffer that grows as needed.
char* text_buf;
size_t text_cap;

DW span_string(const uint16_t* s16, int32_t s, int32_t e) {
  if (s < 0 || e <= s) return make_string("", 0, 0);
  size_t units = static_cast<size_t>(e - s);
  size_t need = units * 3 + 4;
  if (need > text_cap) {
    char* p = static_cast<char*>(std::realloc(text_buf, need + 256));
    if (!p) raise_eval_error(1400, "メモリ領域を取得できません");
    text_buf = p;
    text_cap = need + 256;
  }
  int n = WideToMulti(s16 + s, static_cast<int>(units), text_buf, static_cast<int>(units * 3));
  if (n <= 0) raise_eval_error(5040, "正規表現のエンコード不正");
  return make_string(text_buf, static_cast<size_t>(n), 0);
}

// A keyed array with room for cap pairs, and adding a pair (the value gets a reference).
DW keyed_new(uint32_t cap) {
  DW h;
  KeyedRec* r = keyed_rec_new(&h, 0);
  void* p;
  DW pairs = area_new(cap * 8, &p);
  r = keyed_rec(h);
  r->pairs = pairs;
  r->count = 0;
  r->cap = cap;
  return h;
}

void keyed_add(DW h, DW key, DW value) {
  KeyedRec* r = keyed_rec(h);
  uint8_t* p = static_cast<uint8_t*>(area_ptr(r->pairs)) + 8 * r->count;
  DW v = dw_ref(value);
  std::memcpy(p, &key, 4);
  std::memcpy(p + 4, &v, 4);
  r->count++;
}

DW pair_array(int32_t s, int32_t e) {
  DW v[2] = {make_int(s, 0), make_int(e, 0)};
  return make_array(v, 2, true);
}

bool name_is(uint32_t name, const char* text) {
  name &= NAME_MASK;
  size_t n = std::strlen(text);
  return name_length(name) == n && std::memcmp(name_text(name), text, n) == 0;
}

// Runs a search for exec/test from the position the flags call for, updating lastIndex.
int32_t exec_search(DW re, DW subject, const uint16_t** s16, int32_t* ms) {
  StrRec* sr = str_rec(subject);
  int32_t units;
  *s16 = rx_scratch_utf16(3, str_text(subject), sr->len, &units);
  RxHead* h = rx_head(re);
  bool gs = h->flags & (RXF_GLOBAL | RXF_STICKY);
  int32_t e = -1;
  if (!gs || h->lastIndex <= 0x7FFFFFFFu) {
    int32_t from = gs ? static_cast<int32_t>(h->lastIndex) : 0;
    e = regexp_search(*s16, units, from, re, ms, h->flags);
  }
  h = rx_head(re);
  if (e < 0) h->lastIndex = 0;
  else if (gs) h->lastIndex = static_cast<uint32_t>(e);
  return e;
}

}  // namespace

DW regexp_result(int32_t end, int32_t start, const uint16_t* subject16, DW re, DW subject) {
  (void)re;
  const RxMatch& m = rx_last;
  int n = m.groups;
  DW res = keyed_new(static_cast<uint32_t>(n) + 4);
  keyed_add(res, INDEX_KEY_BASE, span_string(subject16, start, end));
  keyed_add(res, NAME_INDEX, make_int(start, 0));
  keyed_add(res, NAME_INPUT, subject);

  DW ind = keyed_new(static_cast<uint32_t>(n) + 3);
  keyed_add(ind, INDEX_KEY_BASE, pair_array(start, end));
  DW named[2 * RX_MAX_GROUPS];
  uint32_t nn = 0;
  for (int g = 1; g <= n; g++) {
    int32_t s = m.span[2 * g], e = m.span[2 * g + 1];
    keyed_add(ind, INDEX_KEY_BASE + static_cast<DW>(g), s < 0 ? DW_UNDEFINED : pair_array(s, e));
    uint32_t name = regexp_group_name(m.seq, g);
    if (name) {
      named[2 * nn] = name;
      named[2 * nn + 1] = span_string(subject16, s, e);
      nn++;
    }
  }
  keyed_add(ind, NAME_GROUPS, nn ? make_object(named, nn) : DW_UNDEFINED);
  keyed_add(ind, NAME_LENGTH, make_int(n + 1, 0));
  keyed_add(res, NAME_INDICES, ind);

  for (int g = 1; g <= n; g++)
    keyed_add(res, INDEX_KEY_BASE + static_cast<DW>(g), span_string(subject16, m.span[2 * g], m.span[2 * g + 1]));
  return res;
}

DW regexp_exec(DW re, DW subject) {
  const uint16_t* s16;
  int32_t ms;
  int32_t e = exec_search(re, subject, &s16, &ms);
  if (e < 0) return DW_NULL;
  return regexp_result(e, ms, s16, re, subject);
}

bool regexp_test(DW re, DW subject) {
  const uint16_t* s16;
  int32_t ms;
  return exec_search(re, subject, &s16, &ms) >= 0;
}

static DW rx_exec_method(DW re, DW* args, int) {
  if (dw_type(args[0]) != T_STRING) raise_eval_error(5042, "引数不正(非文字列)");
  return regexp_exec(re, args[0]);
}

static DW rx_test_method(DW re, DW* args, int) {
  if (dw_type(args[0]) != T_STRING) raise_eval_error(5045, "引数不正(非文字列)");
  return regexp_test(re, args[0]) ? DW_TRUE : DW_FALSE;
}

static DW rx_to_string_method(DW re, DW*, int) { return regexp_to_string(re); }

constexpr MethodRow ROWS[] = {
    {"exec",     1, 1, rx_exec_method},
    {"test",     1, 1, rx_test_method},
    {"toString", 0, 0, rx_to_string_method},
};

constexpr MethodTable regexp_methods = method_table(ROWS, 5070, "正規表現のメソッド名不正", 5075, 5075);

DW regexp_method(DW re, uint32_t name, DW* args, int count) {
  return method_invoke(regexp_methods, name, re, args, count);
}

DW regexp_property(DW re, uint32_t name) {
  RxHead* h = rx_head(re);
  uint8_t f = h->flags;
  last_location.kind = LOC_NONE;
  if (name_is(name, "lastIndex")) {
    last_location.kind = LOC_FIELD;
    last_location.field = reinterpret_cast<uint8_t*>(h);
    return make_int(static_cast<int32_t>(h->lastIndex), 0);
  }
  if (name_is(name, "flags")) {
    char letters[8];
    int n = regexp_flag_letters(f, letters);
    return n ? make_string(letters, static_cast<size_t>(n), 0) : DW_NULL;
  }
  if (name_is(name, "source")) {
    size_t n;
    const char* s = regexp_source(re, &n);
    return make_string(s, n, 0);
  }
  uint8_t bit = 0;
  if (name_is(name, "dotAll")) bit = RXF_DOTALL;
  else if (name_is(name, "global")) bit = RXF_GLOBAL;
  else if (name_is(name, "ignoreCase")) bit = RXF_IGNORECASE;
  else if (name_is(name, "multiline")) bit = RXF_MULTILINE;
  else if (name_is(name, "sticky")) bit = RXF_STICKY;
  else if (name_is(name, "unicode")) return DW_TRUE;
  else raise_eval_error(5080, "正規表現プロパティ不正");
  return (f & bit) ? DW_TRUE : DW_FALSE;
}

DW op_regexp(DW, NodeRec* r) {
  uint32_t n = rec_argc(r);
  if (n == 0) raise_eval_error(5085, "正規表現のパターン不正(非文字列)");
  DW args[2] = {DW_UNDEFINED, DW_UNDEFINED};
  args[0] = eval_node(rec_args(r)[0]);
  if (n >= 2) args[1] = eval_node(rec_args(r)[1]);
  DW re = regexp_construct(args, n >= 2 ? 2 : 1);
  dw_discard(args[0]);
  if (n >= 2) dw_discard(args[1]);
  return re;
}
