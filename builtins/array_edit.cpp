// Array methods that rewrite the element list in place: reverse, shift, unshift, copyWithin, fill, splice.
#include <cstdlib>
#include <cstring>

#include "builtins/array_common.h"

DW array_reverse(DW recv, DW*, int) {
  uint32_t count = arr_rec(recv)->count;
  if (count < 2) return recv;
  DW* el = arr_elems(recv);
  for (uint32_t i = 0, j = count - 1; i < j; i++, j--) {
    DW t = el[i];
    el[i] = el[j];
    el[j] = t;
  }
  return recv;
}

DW array_shift(DW recv, DW*, int) {
  ArrRec* a = arr_rec(recv);
  if (!a->count) return DW_UNDEFINED;
  DW* el = arr_elems(recv);
  DW v = el[0];
  a->count--;
  std::memmove(el, el + 1, static_cast<size_t>(a->count) * 4);
  dw_unref(v);
  return v;
}

// Opens a gap of k entries at position at (count grows by k); the gap holds undefined.
static void open_gap(DW recv, uint32_t at, uint32_t k) {
  uint32_t count = arr_rec(recv)->count;
  if (static_cast<uint64_t>(count) + k > 0xFFFFFFFFu - 10) raise_eval_error(1400, "メモリ領域を取得できません");
  array_reserve(recv, count + k);
  DW* el = arr_elems(recv);
  std::memmove(el + at + k, el + at, static_cast<size_t>(count - at) * 4);
  for (uint32_t i = 0; i < k; i++) el[at + i] = DW_UNDEFINED;
  arr_rec(recv)->count = count + k;
}

DW array_unshift(DW recv, DW* args, int n) {
  uint32_t k = static_cast<uint32_t>(n);
  open_gap(recv, 0, k);
  DW* el = arr_elems(recv);
  for (uint32_t i = 0; i < k; i++) el[i] = dw_ref(args[i]);
  return int_value(static_cast<int32_t>(arr_rec(recv)->count));
}

// Work space for copyWithin: no script code runs while it is in use, and it is kept for the
// process, so that an error raised meanwhile leaves nothing behind.
static DW* aside_list;
static uint32_t aside_cap;

static DW* aside_reserve(uint32_t k) {
  if (k > aside_cap) {
    DW* grown = static_cast<DW*>(std::realloc(aside_list, static_cast<size_t>(k) * sizeof(DW)));
    if (!grown) raise_eval_error(1400, "メモリ領域を取得できません");
    aside_list = grown;
    aside_cap = k;
  }
  return aside_list;
}

DW array_copy_within(DW recv, DW* args, int n) {
  uint32_t count = arr_rec(recv)->count;
  uint32_t target = array_position(args[0], count);
  uint32_t start = n > 1 ? array_position(args[1], count) : 0;
  uint32_t end = n > 2 ? array_position(args[2], count) : count;
  if (start >= end || target >= count) return recv;
  uint32_t k = end - start;
  if (k > count - target) k = count - target;
  DW* aside = aside_reserve(k);
  // Each element set aside is held until the end: writing an earlier position may release it.
  const DW* el = arr_elems(recv);
  for (uint32_t i = 0; i < k; i++) aside[i] = dw_ref(el[start + i]);
  for (uint32_t i = 0; i < k; i++) {
    DW c = dw_ref(copy_one_level(aside[i]));
    DW* slot = arr_elems(recv) + target + i;
    DW old = *slot;
    *slot = c;
    dw_release(old);
  }
  for (uint32_t i = 0; i < k; i++) dw_release(aside[i]);
  return recv;
}

DW array_fill(DW recv, DW* args, int n) {
  uint32_t count = arr_rec(recv)->count;
  uint32_t start = n > 1 ? array_position(args[1], count) : 0;
  uint32_t end = n > 2 ? array_position(args[2], count) : count;
  DW v = args[0];
  DW* el = count ? arr_elems(recv) : nullptr;
  for (uint32_t i = start; i < end; i++) {
    DW old = el[i];
    el[i] = dw_ref(v);
    dw_release(old);
  }
  return recv;
}

DW array_splice(DW recv, DW* args, int n) {
  uint32_t count = arr_rec(recv)->count;
  uint32_t start = array_position(args[0], count);
  if (n == 1) {
    // The tail moves to a new array with the references it had.
    uint32_t k = count - start;
    DW res = make_array(nullptr, k, false);
    if (k) std::memcpy(arr_elems(res), arr_elems(recv) + start, static_cast<size_t>(k) * 4);
    arr_rec(recv)->count = start;
    return res;
  }
  if (dw_type(args[1]) != T_INT) raise_eval_error(2530, "引数不正(非整数)");
  int32_t dc = int_arg(args[1]);
  uint32_t del = dc < 1 ? 0 : static_cast<uint32_t>(dc);
  if (del > count - start) del = count - start;
  uint32_t ins = static_cast<uint32_t>(n - 2);
  if (ins == 0 && del == 0) raise_eval_error(2535, "引数不正(要素の削除・追加がない)");
  if (del) {
    DW* el = arr_elems(recv);
    // The removed elements are released after the list is consistent again.
    DW* removed = aside_reserve(del);
    std::memcpy(removed, el + start, static_cast<size_t>(del) * 4);
    std::memmove(el + start, el + start + del, static_cast<size_t>(count - start - del) * 4);
    arr_rec(recv)->count = count - del;
    for (uint32_t i = 0; i < del; i++) dw_release(removed[i]);
  }
  if (ins) {
    open_gap(recv, start, ins);
    DW* el = arr_elems(recv);
    for (uint32_t i = 0; i < ins; i++) el[start + i] = dw_ref(args[2 + i]);
  }
  return DW_UNDEFINED;
}
