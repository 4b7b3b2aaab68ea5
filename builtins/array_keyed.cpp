// Keyed-array forms of the Array methods (the pairs' values stand for the elements).
#include <cstring>

#include "builtins/array_common.h"

DW keyed_concat(DW recv, DW* args, int n) { return concat_values(recv, args, n); }

DW keyed_keys_method(DW recv, DW*, int) { return keyed_keys(recv); }

// Searches the pairs' values as the Array form searches elements (from is a position in the pair
// list); a match gives the pair's key as keys() does.
DW keyed_index_of(DW recv, DW* args, int n) {
  SearchValue s = search_value(args[0]);
  if (s.kind == 2) raise_eval_error(2510, "Arrayの引数不正");
  uint32_t count = keyed_rec(recv)->count;
  uint32_t from = n > 1 ? array_position(args[1], count) : 0;
  const DW* p = count ? keyed_pairs(recv) : nullptr;
  for (uint32_t i = from; i < count; i++)
    if (search_matches(s, p[2 * i + 1])) return keyed_key_value(p[2 * i]);
  return int_value(-1);
}

DW keyed_last_index_of(DW recv, DW* args, int n) {
  SearchValue s = search_value(args[0]);
  if (s.kind == 2) raise_eval_error(2515, "Arrayの引数不正");
  uint32_t count = keyed_rec(recv)->count;
  uint32_t from = n > 1 ? array_position(args[1], count) : count;
  if (!count) return int_value(-1);
  uint32_t top = from < count - 1 ? from : count - 1;
  const DW* p = keyed_pairs(recv);
  for (uint32_t i = top + 1; i-- > 0;)
    if (search_matches(s, p[2 * i + 1])) return keyed_key_value(p[2 * i]);
  return int_value(-1);
}

DW keyed_join(DW recv, DW* args, int n) {
  size_t sepLen;
  const char* sep = join_separator(args, n, &sepLen);
  uint32_t count = keyed_rec(recv)->count;
  return join_values(count ? keyed_pairs(recv) + 1 : nullptr, count, 2, sep, sepLen);
}

DW keyed_pop(DW recv, DW*, int) {
  KeyedRec* r = keyed_rec(recv);
  if (!r->count) return DW_UNDEFINED;
  r->count--;
  DW v = keyed_pairs(recv)[2 * r->count + 1];
  dw_unref(v);
  return v;
}

// One more than the largest index key present (0 when there is none).
static uint32_t next_index(DW recv) {
  uint32_t count = keyed_rec(recv)->count, next = 0;
  const DW* p = count ? keyed_pairs(recv) : nullptr;
  for (uint32_t i = 0; i < count; i++)
    if (dw_type(p[2 * i]) == T_INDEX && (p[2 * i] & INDEX_KEY_MAX) >= next) next = (p[2 * i] & INDEX_KEY_MAX) + 1;
  return next;
}

// Index keys have 24 bits: a key beyond them cannot be made.
static void check_index_room(uint64_t last) {
  if (last > INDEX_KEY_MAX) raise_eval_error(2032, "インデックス不正");
}

static void check_pair_room(uint32_t count, int n) {
  if (static_cast<uint64_t>(count) + static_cast<uint32_t>(n) > 0xFFFFFFFFu / 8 - 10)
    raise_eval_error(1400, "メモリ領域を取得できません");
}

DW keyed_push(DW recv, DW* args, int n) {
  uint32_t count = keyed_rec(recv)->count;
  uint32_t m = next_index(recv);
  check_index_room(static_cast<uint64_t>(m) + static_cast<uint32_t>(n) - 1);
  check_pair_room(count, n);
  keyed_reserve(recv, count + static_cast<uint32_t>(n));
  DW* p = keyed_pairs(recv);
  for (int i = 0; i < n; i++) {
    uint32_t at = count + static_cast<uint32_t>(i);
    p[2 * at] = INDEX_KEY_BASE + m + static_cast<uint32_t>(i);
    p[2 * at + 1] = dw_ref(args[i]);
  }
  count += static_cast<uint32_t>(n);
  keyed_rec(recv)->count = count;
  return int_value(static_cast<int32_t>(count));
}

DW keyed_to_string(DW recv, DW*, int) {
  char storage[4096];
  TextBuf b;
  textbuf_init(&b, storage, sizeof storage);
  append_value_text(recv, false, &b);
  DW s = make_string(b.data, b.len, 0);
  textbuf_free(&b);
  return s;
}

DW keyed_shift(DW recv, DW*, int) {
  KeyedRec* r = keyed_rec(recv);
  if (!r->count) return DW_UNDEFINED;
  DW* p = keyed_pairs(recv);
  DW v = p[1];
  r->count--;
  std::memmove(p, p + 2, static_cast<size_t>(r->count) * 8);
  dw_unref(v);
  return v;
}

DW keyed_unshift(DW recv, DW* args, int n) {
  uint32_t k = static_cast<uint32_t>(n);
  uint32_t count = keyed_rec(recv)->count;
  uint32_t next = next_index(recv);
  // The largest key after the move is next - 1 + k (or k - 1 for the new pairs).
  if (next) check_index_room(static_cast<uint64_t>(next) - 1 + k);
  check_index_room(k - 1u);
  check_pair_room(count, n);
  keyed_reserve(recv, count + k);
  DW* p = keyed_pairs(recv);
  for (uint32_t i = 0; i < count; i++)
    if (dw_type(p[2 * i]) == T_INDEX) p[2 * i] += k;
  std::memmove(p + 2 * k, p, static_cast<size_t>(count) * 8);
  for (uint32_t i = 0; i < k; i++) {
    p[2 * i] = INDEX_KEY_BASE + i;
    p[2 * i + 1] = dw_ref(args[i]);
  }
  keyed_rec(recv)->count = count + k;
  return int_value(static_cast<int32_t>(count + k));
}
