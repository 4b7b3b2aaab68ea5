// Array helpers: positions, list growth, one-level copies, search values, joining, key lists.
#include <cstring>

#include "builtins/array_common.h"

[[noreturn]] static void no_memory() { raise_eval_error(1400, "メモリ領域を取得できません"); }

uint32_t array_position(DW arg, uint32_t count) {
  if (dw_type(arg) != T_INT) raise_eval_error(2500, "引数が整数ではありません");
  int64_t p = int_arg(arg);
  if (p < 0) {
    p += count;
    if (p < 0) p = 0;
  }
  if (p > count) p = count;
  return static_cast<uint32_t>(p);
}

// A new list of cap entries of width bytes holding the first used entries of old, which is
// given back when it has a capacity (a container without one may hold handle 0, a valid list).
static DW list_realloc(DW old, uint32_t oldCap, uint32_t used, uint64_t cap, unsigned width) {
  if (cap > 0xFFFFFFFFu / width) no_memory();
  void* mem;
  DW list = area_new(static_cast<size_t>(cap) * width, &mem);
  if (used) std::memcpy(mem, area_ptr(old), static_cast<size_t>(used) * width);
  if (oldCap) area_release(old);
  return list;
}

// need + 10 as the smallest growth, and half as much again beyond it, so that appending one
// element at a time costs a constant amount per element rather than a copy of the whole list.
static uint64_t grown_capacity(uint32_t need) { return static_cast<uint64_t>(need) + need / 2 + 10; }

void array_reserve(DW arr, uint32_t need) {
  ArrRec* a = arr_rec(arr);
  if (need <= a->cap) return;
  uint64_t cap = grown_capacity(need);
  DW list = list_realloc(a->elems, a->cap, a->count, cap, 4);
  a = arr_rec(arr);
  a->elems = list;
  a->cap = static_cast<uint32_t>(cap);
}

void keyed_reserve(DW k, uint32_t need) {
  KeyedRec* r = keyed_rec(k);
  if (need <= r->cap) return;
  uint64_t cap = grown_capacity(need);
  DW list = list_realloc(r->pairs, r->cap, r->count, cap, 8);
  r = keyed_rec(k);
  r->pairs = list;
  r->cap = static_cast<uint32_t>(cap);
}

// A new pair list holding count pairs of src with one reference on each value.
static DW copy_pairs(const DW* src, uint32_t count, uint32_t cap) {
  if (cap > 0xFFFFFFFFu / 8) no_memory();
  void* mem;
  DW list = area_new(static_cast<size_t>(cap) * 8, &mem);
  DW* dst = static_cast<DW*>(mem);
  std::memset(dst, 0, static_cast<size_t>(cap) * 8);
  for (uint32_t i = 0; i < count; i++) {
    dst[2 * i] = src[2 * i];
    dst[2 * i + 1] = dw_ref(src[2 * i + 1]);
  }
  return list;
}

DW copy_one_level(DW v) {
  switch (dw_type(v)) {
    case T_ARRAY: {
      ArrRec* a = arr_rec(v);
      return make_array(a->count ? arr_elems(v) : nullptr, a->count, true);
    }
    case T_KEYED: {
      uint32_t count = keyed_rec(v)->count;
      DW list = copy_pairs(count ? keyed_pairs(v) : nullptr, count, count + 10);
      DW c;
      KeyedRec* r = keyed_rec_new(&c, 0);
      r->pairs = list;
      r->count = count;
      r->cap = count + 10;
      return c;
    }
    case T_OBJECT: {
      ObjRec* o = obj_rec(v);
      DW ctor = o->ctor;
      DW c = make_object(o->count ? obj_pairs(v) : nullptr, o->count);
      obj_rec(c)->ctor = ctor;
      return c;
    }
    default:
      return v;
  }
}

SearchValue search_value(DW v) {
  SearchValue s{2, 0.0, nullptr, 0};
  switch (dw_type(v)) {
    case T_INT:
      s.kind = 0;
      s.number = int_arg(v);
      break;
    case T_FLOAT:
      s.kind = 0;
      s.number = float_arg(v);
      break;
    case T_STRING:
      s.kind = 1;
      s.text = str_text(v);
      s.len = str_rec(v)->len;
      break;
    default:
      break;
  }
  return s;
}

DW join_values(const DW* values, uint32_t count, uint32_t stride, const char* sep, size_t sepLen) {
  char storage[4096];
  TextBuf b;
  textbuf_init(&b, storage, sizeof storage);
  for (uint32_t i = 0; i < count; i++) {
    if (i && sepLen) textbuf_append(&b, sep, sepLen);
    append_value_text(values[i * stride], false, &b);
  }
  DW s = make_string(b.data, b.len, 0);
  textbuf_free(&b);
  return s;
}

DW keyed_key_value(DW key) {
  if (dw_type(key) == T_INDEX) return int_value(static_cast<int32_t>(key & INDEX_KEY_MAX));
  uint32_t name = key & NAME_MASK;
  return make_string(name_text(name), name_length(name), 0);
}

DW keyed_keys(DW k) {
  uint32_t count = keyed_rec(k)->count;
  DW res = make_array(nullptr, count, false);
  for (uint32_t i = 0; i < count; i++) {
    // Each key value is made before the lists are read again (making values may allocate).
    DW kv = dw_ref(keyed_key_value(keyed_pairs(k)[2 * i]));
    arr_elems(res)[i] = kv;
  }
  return res;
}

DW index_array(uint32_t count) {
  DW res = make_array(nullptr, count, false);
  for (uint32_t i = 0; i < count; i++) {
    DW v = dw_ref(int_value(static_cast<int32_t>(i)));
    arr_elems(res)[i] = v;
  }
  return res;
}
