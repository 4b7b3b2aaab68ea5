// The adapter between the pattern-based String methods and the regular-expression engine: the
// receiver's UTF-16 form with its unit-to-byte map, patterns from values, and the one search
// call that every method goes through.
#include <cstdlib>
#include <cstring>

#include "builtins/string_methods.h"
#include "regexp/regexp.h"

namespace {

uint32_t* unit_map;
size_t unit_map_cap;

// Byte offset of every unit of the UTF-16 form, following MultiToWide's reading of the bytes:
// one unit per ASCII byte, per well-formed two- or three-byte sequence, and per byte that
// cannot start one; the conversion ends at a zero byte.
void build_unit_map(const char* text, uint32_t len, int32_t units) {
  size_t need = static_cast<size_t>(units) + 1;
  if (need > unit_map_cap) {
    size_t cap = need + need / 2 + 256;
    auto* p = static_cast<uint32_t*>(std::realloc(unit_map, cap * sizeof(uint32_t)));
    if (!p) raise_eval_error(1400, "メモリ領域を取得できません");
    unit_map = p;
    unit_map_cap = cap;
  }
  const auto* s = reinterpret_cast<const uint8_t*>(text);
  uint32_t b = 0;
  for (int32_t u = 0; u < units; u++) {
    unit_map[u] = b;
    uint8_t c = s[b];
    uint32_t extra = c >= 0xC0 && c <= 0xDF ? 1 : c >= 0xE0 && c <= 0xEF ? 2 : 0;
    uint32_t k = 1;
    while (k <= extra && b + k < len && (s[b + k] & 0xC0) == 0x80) k++;
    b += k > extra ? extra + 1 : 1;
  }
  unit_map[units] = b;
}

}  // namespace

void rx_subject_open(RxSubject* sub, DW s) {
  sub->text = str_text(s);
  sub->len = str_rec(s)->len;
  int32_t units;
  sub->s16 = rx_scratch_utf16(0, sub->text, sub->len, &units);
  sub->units = units;
  sub->unit_byte = nullptr;
  // As many units as bytes: every byte is one unit of its own.
  if (static_cast<uint32_t>(units) != sub->len) {
    build_unit_map(sub->text, sub->len, units);
    sub->unit_byte = unit_map;
  }
}

bool rx_find(DW re, const RxSubject* sub, int32_t from, RxFound* f) {
  int32_t start;
  int32_t end = regexp_search(sub->s16, sub->units, from, re, &start, rx_head(re)->flags);
  if (end < 0) return false;
  f->start = start;
  f->end = end;
  f->groups = rx_last.groups;
  f->span = rx_last.span;
  f->seq = rx_last.seq;
  return true;
}

DW rx_exec_result(DW re, const RxSubject* sub, const RxFound* f, DW subject) {
  return regexp_result(f->end, f->start, sub->s16, re, subject);
}

DW rx_from_value(DW v, const char* flags, bool* temp) {
  *temp = false;
  if (dw_type(v) == T_REGEXP) return v;
  char buf[512];
  size_t len;
  bool owned;
  const char* t = arg_text(v, &len, buf, sizeof buf, &owned);
  DW re = regexp_new(t, len, flags, std::strlen(flags));
  text_done(t, owned);
  *temp = true;
  return re;
}

void rx_done(DW re, bool temp) {
  if (temp) regexp_free(re);
}

bool rx_global(DW re) { return rx_head(re)->flags & RXF_GLOBAL; }
