// Result and scratch storage of the String methods: exact-byte strings, arrays of pieces, the
// process-wide output buffer and word lists, argument texts and byte-wise search.
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "builtins/string_methods.h"

OutBuf str_out;

[[noreturn]] static void no_memory() { raise_eval_error(1400, "メモリ領域を取得できません"); }

void out_grow(size_t need) {
  size_t cap = str_out.len + need;
  if (cap < str_out.len) no_memory();
  cap += cap / 2 + 4096;
  char* p = static_cast<char*>(std::realloc(str_out.data, cap));
  if (!p) no_memory();
  str_out.data = p;
  str_out.cap = cap;
}

void words_push(WordList* w, uint32_t v) {
  if (w->len == w->cap) {
    size_t cap = w->cap + w->cap / 2 + 1024;
    auto* p = static_cast<uint32_t*>(std::realloc(w->data, cap * sizeof(uint32_t)));
    if (!p) no_memory();
    w->data = p;
    w->cap = cap;
  }
  w->data[w->len++] = v;
}

DW string_new(uint64_t len) {
  if (len > 0xFFFFFFFFull - 16) no_memory();
  return make_string(nullptr, static_cast<size_t>(len), 0);
}

DW string_of(const char* text, size_t len) {
  DW h = string_new(len);
  if (len) std::memcpy(str_text(h), text, len);
  return h;
}

DW array_of(const DW* values, size_t count) {
  if (count > 0xFFFFFFF0u) no_memory();
  return make_array(values, static_cast<uint32_t>(count), true);
}

bool int_or_floor(DW v, int64_t* out) {
  unsigned t = dw_type(v);
  if (t == T_INT) {
    *out = int_arg(v);
    return true;
  }
  if (t != T_FLOAT) return false;
  double d = std::floor(float_rec(v)->value);
  if (std::isnan(d)) d = 0;
  if (d < -2147483648.0) d = -2147483648.0;
  if (d > 2147483647.0) d = 2147483647.0;
  *out = static_cast<int64_t>(d);
  return true;
}

const char* arg_text(DW v, size_t* len, char* buf, size_t size, bool* owned) {
  if (dw_type(v) == T_STRING) {
    *owned = false;
    *len = str_rec(v)->len;
    return str_text(v);
  }
  return value_to_text(v, len, buf, size, owned);
}

void text_done(const char* t, bool owned) {
  if (owned) std::free(const_cast<char*>(t));
}

int64_t bytes_find(const char* hay, size_t hlen, size_t from, const char* needle, size_t nlen) {
  if (from > hlen || nlen > hlen - from) return -1;
  if (nlen == 0) return static_cast<int64_t>(from);
  const void* p = memmem(hay + from, hlen - from, needle, nlen);
  return p ? static_cast<const char*>(p) - hay : -1;
}
