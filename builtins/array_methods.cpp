// Array method table and dispatch, and the Array methods that read or append.
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
// Arrays and Keyed arrays share the rows; each operation picks the form for its receiver.

namespace {

template <MethodFn ForArray, MethodFn ForKeyed>
DW either(DW recv, DW* args, int n) {
  return dw_type(recv) == T_KEYED ? ForKeyed(recv, args, n) : ForArray(recv, args, n);
}

// A method that Keyed arrays do not have: found, counted, then refused.
template <MethodFn ForArray>
DW array_only(DW recv, DW* args, int n) {
  if (dw_type(recv) == T_KEYED) raise_eval_error(2565, "Arrayのメソッド名不正");
  return ForArray(recv, args, n);
}

constexpr MethodRow ROWS[] = {
    {"concat",      1, NO_MAX, either<a_concat, keyed_concat>, ROW_KEEPS},
    {"copyWithin",  1, 3, array_only<array_copy_within>},
    {"fill",        1, 3, array_only<array_fill>},
    {"includes",    1, 2, array_only<a_includes>, ROW_KEEPS},
    {"indexOf",     1, 2, either<a_index_of, keyed_index_of>, ROW_KEEPS | ROW_NUMBER},
    {"join",        0, 1, either<a_join, keyed_join>, ROW_KEEPS | ROW_STRING},
    {"keys",        0, 0, either<a_keys, keyed_keys_method>, ROW_KEEPS},
    {"lastIndexOf", 1, 2, either<a_last_index_of, keyed_last_index_of>, ROW_KEEPS | ROW_NUMBER},
    {"pop",         0, 0, either<a_pop, keyed_pop>},
    {"push",        1, NO_MAX, either<a_push, keyed_push>, ROW_NUMBER},
    {"reverse",     0, 0, array_only<array_reverse>},
    {"shift",       0, 0, either<array_shift, keyed_shift>},
    {"slice",       0, 2, array_only<a_slice>, ROW_KEEPS},
    {"sort",        0, 1, array_only<array_sort>},
    {"splice",      1, NO_MAX, array_only<array_splice>},
    {"toString",    0, 0, either<a_to_string, keyed_to_string>, ROW_KEEPS | ROW_STRING},
    {"unshift",     1, NO_MAX, either<array_unshift, keyed_unshift>, ROW_NUMBER},
};

}  // namespace

constexpr MethodTable array_methods = method_table(ROWS, 2570, "Arrayのメソッド名不正", 2575, 2580);
constexpr MethodTable keyed_methods = method_table(ROWS, 2552, "Arrayのメソッド名不正", 2555, 2560);

DW array_method(DW recv, uint32_t name, DW* args, int n) { return method_invoke(array_methods, name, recv, args, n); }

DW keyed_method(DW recv, uint32_t name, DW* args, int n) { return method_invoke(keyed_methods, name, recv, args, n); }
