// Array method table and dispatch, and the Array methods that read or append.
#include <cstring>

#include "builtins/array_common.h"
#include "eval/plugins.h"

// ---- methods that read or append ----

DW concat_values(DW recv, DW* args, int n) {
  if (n > 256) raise_eval_error(2505, "Array.concatの引数不正");
  uint64_t total = 0;
  for (int i = -1; i < n; i++) {
    DW v = i < 0 ? recv : args[i];
    unsigned t = dw_type(v);
    if (t == T_ARRAY) total += arr_rec(v)->count;
    else if (t == T_KEYED) total += keyed_rec(v)->count;
    else raise_eval_error(2505, "Array.concatの引数不正");
  }
  if (total > 0xFFFFFFFFu - 10) raise_eval_error(1400, "メモリ領域を取得できません");
  DW res = make_array(nullptr, static_cast<uint32_t>(total), false);
  DW* out = arr_elems(res);
  for (int i = -1; i < n; i++) {
    DW v = i < 0 ? recv : args[i];
    if (dw_type(v) == T_ARRAY) {
      uint32_t c = arr_rec(v)->count;
      const DW* el = c ? arr_elems(v) : nullptr;
      for (uint32_t j = 0; j < c; j++) *out++ = dw_ref(el[j]);
    } else {
      uint32_t c = keyed_rec(v)->count;
      const DW* p = c ? keyed_pairs(v) : nullptr;
      for (uint32_t j = 0; j < c; j++) *out++ = dw_ref(p[2 * j + 1]);
    }
  }
  return res;
}

static DW a_concat(DW recv, DW* args, int n) { return concat_values(recv, args, n); }

static DW a_keys(DW recv, DW*, int) { return index_array(arr_rec(recv)->count); }

static DW a_index_of(DW recv, DW* args, int n) {
  SearchValue s = search_value(args[0]);
  if (s.kind == 2) raise_eval_error(2510, "Arrayの引数不正");
  uint32_t count = arr_rec(recv)->count;
  uint32_t from = n > 1 ? array_position(args[1], count) : 0;
  const DW* el = count ? arr_elems(recv) : nullptr;
  for (uint32_t i = from; i < count; i++)
    if (search_matches(s, el[i])) return int_value(static_cast<int32_t>(i));
  return int_value(-1);
}

static DW a_last_index_of(DW recv, DW* args, int n) {
  SearchValue s = search_value(args[0]);
  if (s.kind == 2) raise_eval_error(2515, "Arrayの引数不正");
  uint32_t count = arr_rec(recv)->count;
  uint32_t from = n > 1 ? array_position(args[1], count) : count;
  if (!count) return int_value(-1);
  uint32_t top = from < count - 1 ? from : count - 1;
  const DW* el = arr_elems(recv);
  for (uint32_t i = top + 1; i-- > 0;)
    if (search_matches(s, el[i])) return int_value(static_cast<int32_t>(i));
  return int_value(-1);
}

// The separator of join: a String, "," when absent.
const char* join_separator(DW* args, int n, size_t* len) {
  if (n < 1) {
    *len = 1;
    return ",";
  }
  if (dw_type(args[0]) != T_STRING) raise_eval_error(2525, "引数不正");
  *len = str_rec(args[0])->len;
  return str_text(args[0]);
}

static DW a_join(DW recv, DW* args, int n) {
  size_t sepLen;
  const char* sep = join_separator(args, n, &sepLen);
  uint32_t count = arr_rec(recv)->count;
  return join_values(count ? arr_elems(recv) : nullptr, count, 1, sep, sepLen);
}

static DW a_pop(DW recv, DW*, int) {
  ArrRec* a = arr_rec(recv);
  if (!a->count) return DW_UNDEFINED;
  DW v = arr_elems(recv)[--a->count];
  // The array's reference goes with the value, which the caller receives as a temporary.
  dw_unref(v);
  return v;
}

static DW a_push(DW recv, DW* args, int n) {
  uint32_t count = arr_rec(recv)->count;
  if (static_cast<uint64_t>(count) + static_cast<uint32_t>(n) > 0xFFFFFFFFu - 10)
    raise_eval_error(1400, "メモリ領域を取得できません");
  array_reserve(recv, count + static_cast<uint32_t>(n));
  DW* el = arr_elems(recv);
  for (int i = 0; i < n; i++) el[count + static_cast<uint32_t>(i)] = dw_ref(args[i]);
  count += static_cast<uint32_t>(n);
  arr_rec(recv)->count = count;
  return int_value(static_cast<int32_t>(count));
}

static DW a_slice(DW recv, DW* args, int n) {
  uint32_t count = arr_rec(recv)->count;
  uint32_t start = n > 0 ? array_position(args[0], count) : 0;
  uint32_t end = n > 1 ? array_position(args[1], count) : count;
  uint32_t k = start < end ? end - start : 0;
  DW res = make_array(nullptr, k, false);
  for (uint32_t i = 0; i < k; i++) {
    // Copies allocate: the lists are looked up again for every element.
    DW c = dw_ref(copy_one_level(arr_elems(recv)[start + i]));
    arr_elems(res)[i] = c;
  }
  return res;
}

static DW a_to_string(DW recv, DW*, int) {
  char storage[4096];
  TextBuf b;
  textbuf_init(&b, storage, sizeof storage);
  append_value_text(recv, false, &b);
  DW s = make_string(b.data, b.len, 0);
  textbuf_free(&b);
  return s;
}

static DW a_includes(DW recv, DW* args, int n) {
  uint32_t count = arr_rec(recv)->count;
  if (!count) return DW_FALSE;
  uint32_t from = n > 1 ? array_position(args[1], count) : 0;
  SearchValue s = search_value(args[0]);
  if (s.kind == 2) return DW_FALSE;
  const DW* el = arr_elems(recv);
  for (uint32_t i = from; i < count; i++)
    if (search_matches(s, el[i])) return DW_TRUE;
  return DW_FALSE;
}

// ---- the method table ----

namespace {
struct ArrayMethod {
  char name[12];
  uint8_t min;        // fewest arguments
  int8_t max;         // most arguments, -1: no limit
  bool exact;         // min is the exact count
  ArrayHandler array;
  ArrayHandler keyed; // null: not available for keyed arrays
};
}  // namespace

static constexpr ArrayMethod METHODS[] = {
    {"concat", 1, -1, false, a_concat, keyed_concat},
    {"keys", 0, 0, true, a_keys, keyed_keys_method},
    {"reverse", 0, 0, true, array_reverse, nullptr},
    {"indexOf", 1, 2, false, a_index_of, keyed_index_of},
    {"lastIndexOf", 1, 2, false, a_last_index_of, keyed_last_index_of},
    {"join", 0, 1, false, a_join, keyed_join},
    {"pop", 0, 0, true, a_pop, keyed_pop},
    {"push", 1, -1, false, a_push, keyed_push},
    {"slice", 0, 2, false, a_slice, nullptr},
    {"toString", 0, 0, true, a_to_string, keyed_to_string},
    {"shift", 0, 0, true, array_shift, keyed_shift},
    {"unshift", 1, -1, false, array_unshift, keyed_unshift},
    {"copyWithin", 1, 3, false, array_copy_within, nullptr},
    {"fill", 1, 3, false, array_fill, nullptr},
    {"includes", 1, 2, false, a_includes, nullptr},
    {"sort", 0, 1, false, array_sort, nullptr},
    {"splice", 1, -1, false, array_splice, nullptr},
};

static const ArrayMethod* find_method(uint32_t name) {
  const char* text = name_text(name);
  size_t len = name_length(name);
  if (len == 0 || len >= sizeof METHODS[0].name) return nullptr;
  for (const ArrayMethod& m : METHODS)
    if (m.name[0] == text[0] && m.name[len] == 0 && std::memcmp(m.name, text, len) == 0) return &m;
  return nullptr;
}

// Argument-count check: tooFew for fewer (or a wrong exact count), tooMany for more.
static void check_count(const ArrayMethod& m, int n, int tooFew, int tooMany) {
  if (m.exact ? n != m.min : n < m.min) raise_eval_error(tooFew, "引数の個数不正");
  if (m.max >= 0 && n > m.max) raise_eval_error(tooMany, "引数の個数不正");
}

DW array_method(DW recv, uint32_t name, DW* args, int n) {
  const ArrayMethod* m = find_method(name & NAME_MASK);
  if (!m) raise_eval_error(2570, "Arrayのメソッド名不正");
  check_count(*m, n, 2575, 2580);
  return m->array(recv, args, n);
}

DW keyed_method(DW recv, uint32_t name, DW* args, int n) {
  const ArrayMethod* m = find_method(name & NAME_MASK);
  if (!m) raise_eval_error(2552, "Arrayのメソッド名不正");
  check_count(*m, n, 2555, 2560);
  if (!m->keyed) raise_eval_error(2565, "Arrayのメソッド名不正");
  return m->keyed(recv, args, n);
}
