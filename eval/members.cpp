// Member access (a.name) and index access (a[i]), with the creation of missing members and
// elements for assignments and the growth of arrays into keyed arrays.
#include <cstring>

#include "eval/ops.h"
#include "eval/plugins.h"

static inline void no_location() { last_location.kind = LOC_NONE; }

static inline void pair_location(DW container, uint32_t index) {
  last_location.kind = LOC_PAIR;
  last_location.index = static_cast<int32_t>(index);
  last_location.container = container;
  last_location_const = false;
}

// A member of an object: its value (location left), or undefined; with create_missing a missing
// member is appended.
static DW object_member(DW obj, uint32_t name) {
  auto* o = obj_rec(obj);
  uint32_t count = o->count;
  DW* pairs = count ? static_cast<DW*>(area_ptr(o->pairs)) : nullptr;
  for (uint32_t i = 0; i < count; i++) {
    if ((pairs[2 * i] & NAME_MASK) == name) {
      pair_location(obj, i);
      return pairs[2 * i + 1];
    }
  }
  if (!create_missing) {
    no_location();
    return DW_UNDEFINED;
  }
  if (count + 1 >= o->cap) {
    uint32_t cap = o->cap + 11u;
    if (cap > 0xFFFF) raise_eval_error(2170, "オブジェクトの要素数が多すぎます");
    void* mem;
    DW list = area_new(cap * 8u, &mem);
    o = obj_rec(obj);
    if (count) std::memcpy(mem, area_ptr(o->pairs), count * 8u);
    if (o->pairs) area_release(o->pairs);
    o->pairs = list;
    o->cap = static_cast<uint16_t>(cap);
  }
  pairs = static_cast<DW*>(area_ptr(o->pairs));
  pairs[2 * count] = name;
  pairs[2 * count + 1] = DW_UNDEFINED;
  o->count = static_cast<uint16_t>(count + 1);
  pair_location(obj, count);
  return DW_UNDEFINED;
}

// Appends (key, undefined) to a keyed array, growing its pair list by 11 pairs when needed.
static DW keyed_append(DW k, DW key) {
  auto* kr = keyed_rec(k);
  uint32_t count = kr->count;
  if (count + 1 >= kr->cap) {
    uint32_t cap = kr->cap + 11u;
    void* mem;
    DW list = area_new(static_cast<size_t>(cap) * 8, &mem);
    kr = keyed_rec(k);
    if (count) std::memcpy(mem, area_ptr(kr->pairs), static_cast<size_t>(count) * 8);
    if (kr->pairs) area_release(kr->pairs);
    kr->pairs = list;
    kr->cap = cap;
  }
  DW* pairs = static_cast<DW*>(area_ptr(kr->pairs));
  pairs[2 * count] = key;
  pairs[2 * count + 1] = DW_UNDEFINED;
  kr->count = count + 1;
  pair_location(k, count);
  return DW_UNDEFINED;
}

// The pair of a keyed array whose key is key (compared under the name mask).
static int32_t keyed_find(DW k, DW key) {
  auto* kr = keyed_rec(k);
  if (!kr->count) return -1;
  const DW* pairs = static_cast<DW*>(area_ptr(kr->pairs));
  for (uint32_t i = 0; i < kr->count; i++)
    if ((pairs[2 * i] & NAME_MASK) == (key & NAME_MASK)) return static_cast<int32_t>(i);
  return -1;
}

DW op_member(DW, NodeRec* r) {
  no_location();
  DW a = eval_node(r->a1);
  return op_member_of(a, r->a2 & NAME_MASK);
}

DW op_member_of(DW a, uint32_t name) {
  unsigned t = dw_type(a);
  if (t == T_ERROR) {
    no_location();
    size_t len;
    const char* text;
    if (name == NAME_NAME) text = error_code(a, &len);
    else if (name == NAME_MESSAGE) text = error_message(a, &len);
    else raise_eval_error(2035, "ステートメント不正(key/method)");
    return make_string(text, len, 0);
  }
  if (name == NAME_LENGTH) {
    no_location();
    int32_t n;
    switch (t) {
      case T_CONST: {
        size_t len;
        constant_name(a, &len);
        n = static_cast<int32_t>(len);
        break;
      }
      case T_STRING: n = static_cast<int32_t>(str_rec(a)->len); break;
      case T_ARRAY: n = static_cast<int32_t>(arr_rec(a)->count); break;
      case T_KEYED: n = static_cast<int32_t>(keyed_rec(a)->count); break;
      case T_OBJECT: n = obj_rec(a)->count; break;
      default: return DW_UNDEFINED;
    }
    return int_value(n);
  }
  if (t == T_OBJECT) return object_member(a, name);
  if (t == T_REGEXP) return regexp_property(a, name);
  raise_eval_error(2035, "ステートメント不正(key/method)");
}

// Makes room for one more element at the end of an array.
static void array_grow(DW arr) {
  auto* a = arr_rec(arr);
  uint32_t count = a->count;
  uint32_t cap = count + count / 2 + 11;
  void* mem;
  DW list = area_new(static_cast<size_t>(cap) * 4, &mem);
  a = arr_rec(arr);
  if (count) std::memcpy(mem, area_ptr(a->elems), static_cast<size_t>(count) * 4);
  if (a->elems) area_release(a->elems);
  a->elems = list;
  a->cap = cap;
}

DW* array_end_slot(DW arr) {
  if (arr_rec(arr)->count + 1 >= arr_rec(arr)->cap) array_grow(arr);
  auto* ar = arr_rec(arr);
  DW* slot = static_cast<DW*>(area_ptr(ar->elems)) + ar->count;
  *slot = DW_UNDEFINED;
  ar->count++;
  return slot;
}

// An element written beyond the end of an array: the array becomes a keyed array holding the
// elements under their index keys, then (n, undefined); it replaces the array where the array
// was read from.
static DW array_to_keyed(DW arr, uint32_t n, const Location& from) {
  auto* a = arr_rec(arr);
  uint32_t count = a->count;
  DW k;
  dw_new(T_KEYED, &k, 0);
  void* mem;
  uint32_t cap = count + 11;
  DW list = area_new(static_cast<size_t>(cap) * 8, &mem);
  a = arr_rec(arr);
  auto* pairs = static_cast<DW*>(mem);
  const DW* el = count ? static_cast<DW*>(area_ptr(a->elems)) : nullptr;
  for (uint32_t i = 0; i < count; i++) {
    pairs[2 * i] = INDEX_KEY_BASE + i;
    pairs[2 * i + 1] = dw_ref(el[i]);
  }
  pairs[2 * count] = INDEX_KEY_BASE + n;
  pairs[2 * count + 1] = DW_UNDEFINED;
  auto* kr = keyed_rec(k);
  kr->pairs = list;
  kr->count = count + 1;
  kr->cap = cap;
  if (from.kind != LOC_NONE) store_location(from, k, 3);
  pair_location(k, count);
  return DW_UNDEFINED;
}

// The n-th character (UTF-8 sequence) of a string as a new string, or undefined.
static DW string_char(DW s, uint32_t n) {
  const uint8_t* t = reinterpret_cast<const uint8_t*>(str_text(s));
  size_t len = str_rec(s)->len, p = 0;
  for (uint32_t i = 0; p < len; i++) {
    size_t l = utf8_seq_len(t[p]);
    if (p + l > len) l = len - p;
    if (i == n) return make_string(reinterpret_cast<const char*>(t + p), l, 0);
    p += l;
  }
  return DW_UNDEFINED;
}

// The names of string keys used last, by string handle. A hit is confirmed against the name's
// text, so a string changed in place, a handle given to another string or a replaced name table
// only ever misses; a miss interns as before (and raises as before for an overlong key).
static constexpr unsigned KEY_CACHE = 64;
static DW key_string[KEY_CACHE];
static uint32_t key_name[KEY_CACHE];

// The cached name of a string key, or -1 (*slot: where the string's entry goes).
static int32_t cached_key_name(DW s, unsigned* slot) {
  size_t len = str_rec(s)->len;
  unsigned k = (s ^ (s >> 6)) & (KEY_CACHE - 1);
  uint32_t n = key_name[k];
  *slot = k;
  if (key_string[k] == s && n < name_count && name_entries[n].len == len && std::memcmp(name_text(n), str_text(s), len) == 0)
    return static_cast<int32_t>(n);
  return -1;
}

static uint32_t string_key_name(DW s) {
  unsigned k;
  int32_t n = cached_key_name(s, &k);
  if (n >= 0) return static_cast<uint32_t>(n);
  uint32_t name = name_intern_text(str_text(s), str_rec(s)->len);
  key_string[k] = s;
  key_name[k] = name;
  return name;
}

int32_t string_key_known(DW s) {
  unsigned k;
  int32_t n = cached_key_name(s, &k);
  if (n >= 0) return n;
  n = name_lookup(str_text(s), str_rec(s)->len);
  if (n >= 0) {
    key_string[k] = s;
    key_name[k] = static_cast<uint32_t>(n);
  }
  return n;
}

DW op_index(DW, NodeRec* r) {
  no_location();
  DW a = eval_node(r->a1);
  Location from = last_location;
  DW i;
  if (tree_runs_code(r->a2)) {
    // The index is an ordinary read, whatever the target around it.
    bool savedCreate = create_missing;
    create_missing = false;
    dw_ref(a);
    i = eval_node(r->a2);
    dw_unref(a);
    create_missing = savedCreate;
  } else {
    i = eval_node(r->a2);
  }
  unsigned ta = dw_type(a), ti = dw_type(i);
  if (ti == T_STRING || ti == T_CONST) {
    uint32_t name;
    if (ti == T_STRING) {
      name = string_key_name(i);
      dw_discard(i);
    } else {
      name = i & NAME_MASK;
    }
    if (ta == T_OBJECT) return object_member(a, name);
    if (ta == T_KEYED) {
      int32_t p = keyed_find(a, name);
      if (p >= 0) {
        pair_location(a, static_cast<uint32_t>(p));
        return static_cast<DW*>(area_ptr(keyed_rec(a)->pairs))[2 * p + 1];
      }
      if (create_missing) return keyed_append(a, name);
      no_location();
      return DW_UNDEFINED;
    }
    raise_eval_error(2023, "オペランド不正[index]");
  }
  if (ti != T_INT) raise_eval_error(2032, "インデックス不正");
  int32_t n = int_rec(i)->value;
  dw_discard(i);
  if (n < 0) raise_eval_error(2025, "インデックス不正");
  uint32_t u = static_cast<uint32_t>(n);
  switch (ta) {
    case T_ARRAY: {
      auto* ar = arr_rec(a);
      if (u < ar->count) {
        last_location.kind = LOC_ELEMENT;
        last_location.index = n;
        last_location.container = a;
        last_location_const = false;
        return static_cast<DW*>(area_ptr(ar->elems))[u];
      }
      if (!create_missing) raise_eval_error(2032, "インデックス不正");
      if (u == ar->count) {
        array_end_slot(a);
        last_location.kind = LOC_ELEMENT;
        last_location.index = n;
        last_location.container = a;
        last_location_const = false;
        return DW_UNDEFINED;
      }
      if (u >= 0x01000000) raise_eval_error(2032, "インデックス不正");
      return array_to_keyed(a, u, from);
    }
    case T_KEYED: {
      if (u >= 0x01000000) raise_eval_error(2032, "インデックス不正");
      DW key = INDEX_KEY_BASE + u;
      int32_t p = keyed_find(a, key);
      if (p >= 0) {
        pair_location(a, static_cast<uint32_t>(p));
        return static_cast<DW*>(area_ptr(keyed_rec(a)->pairs))[2 * p + 1];
      }
      if (create_missing) return keyed_append(a, key);
      raise_eval_error(2032, "インデックス不正");
    }
    case T_STRING: no_location(); return string_char(a, u);
    default: raise_eval_error(2030, "オペランド不正[index]");
  }
}
