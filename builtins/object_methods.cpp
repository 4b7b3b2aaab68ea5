// The built-in methods of Object values used as maps, and Object.keys.
// A member function of the called name is run by the evaluator before these are reached.
#include <cstdlib>
#include <cstring>

#include "builtins/array_common.h"
#include "eval/plugins.h"

// The name index a key argument stands for: a String is interned, a name or constant is the
// name it is; anything else raises 2425.
static uint32_t key_name(DW k) {
  unsigned t = dw_type(k);
  if (t == T_STRING) return name_intern_text(str_text(k), str_rec(k)->len);
  if (t == T_CONST) return k & NAME_MASK;
  raise_eval_error(2425, "HASHのキー不正");
}

// Position of the pair named name, or -1.
static int32_t find_pair(DW obj, uint32_t name) {
  uint32_t count = obj_rec(obj)->count;
  const DW* p = count ? obj_pairs(obj) : nullptr;
  for (uint32_t i = 0; i < count; i++)
    if ((p[2 * i] & NAME_MASK) == name) return static_cast<int32_t>(i);
  return -1;
}

// A new Array of the member names of an object, each a new string.
static DW member_names(DW obj) {
  uint32_t count = obj_rec(obj)->count;
  DW res = make_array(nullptr, count, false);
  for (uint32_t i = 0; i < count; i++) {
    uint32_t name = obj_pairs(obj)[2 * i] & NAME_MASK;
    DW s = dw_ref(make_string(name_text(name), name_length(name), 0));
    arr_elems(res)[i] = s;
  }
  return res;
}

static DW o_keys(DW obj, DW*, int) { return member_names(obj); }

static DW o_to_string(DW obj, DW*, int) { return value_text_string(obj); }

static DW o_clear(DW obj, DW*, int) {
  ObjRec* o = obj_rec(obj);
  uint32_t count = o->count;
  o->count = 0;
  // The list stays allocated; the values are released once the object no longer shows them.
  const DW* p = count ? obj_pairs(obj) : nullptr;
  for (uint32_t i = 0; i < count; i++) dw_release(p[2 * i + 1]);
  return DW_UNDEFINED;
}

static DW o_delete(DW obj, DW* args, int) {
  int32_t at = find_pair(obj, key_name(args[0]));
  if (at < 0) return DW_FALSE;
  ObjRec* o = obj_rec(obj);
  DW* p = obj_pairs(obj);
  DW v = p[2 * at + 1];
  uint32_t rest = o->count - static_cast<uint32_t>(at) - 1;
  std::memmove(p + 2 * at, p + 2 * at + 2, static_cast<size_t>(rest) * 8);
  o->count--;
  dw_release(v);
  return DW_TRUE;
}

static DW o_get(DW obj, DW* args, int) {
  int32_t at = find_pair(obj, key_name(args[0]));
  return at < 0 ? DW_UNDEFINED : obj_pairs(obj)[2 * at + 1];
}

static DW o_has(DW obj, DW* args, int) { return find_pair(obj, key_name(args[0])) < 0 ? DW_FALSE : DW_TRUE; }

static DW o_set(DW obj, DW* args, int) {
  uint32_t name = key_name(args[0]);
  DW v = args[1];
  int32_t at = find_pair(obj, name);
  if (at >= 0) {
    DW* slot = obj_pairs(obj) + 2 * at + 1;
    DW old = *slot;
    *slot = dw_ref(v);
    dw_release(old);
    return v;
  }
  ObjRec* o = obj_rec(obj);
  uint32_t count = o->count;
  if (count >= o->cap) {
    // Full: a list 11 pairs longer takes the pairs over. Count and capacity are 16-bit fields.
    uint32_t cap = o->cap + 11u;
    if (cap > 0xFFFF) raise_eval_error(2170, "オブジェクトの要素数が多すぎます");
    void* mem;
    DW list = area_new(cap * 8u, &mem);
    o = obj_rec(obj);
    if (count) std::memcpy(mem, obj_pairs(obj), count * 8u);
    if (o->cap) area_release(o->pairs);
    o->pairs = list;
    o->cap = static_cast<uint16_t>(cap);
  }
  DW* p = obj_pairs(obj);
  p[2 * count] = name;
  p[2 * count + 1] = dw_ref(v);
  o->count = static_cast<uint16_t>(count + 1);
  return v;
}

// forEach(fn [, thisArg]): fn(value, name, object) for every pair by position, in a frame of
// this, the three parameters and fn's var locals; pairs added meanwhile within the count are
// visited too.
static DW o_for_each(DW obj, DW* args, int n) {
  DW fn = args[0];
  if (dw_type(fn) != T_FUNC || func_param_count(fn) != 3) raise_eval_error(2430, "引数の個数不正");
  static constexpr int DEFAULT_CODES[3] = {2435, 2440, 2445};
  for (unsigned i = 0; i < 3; i++)
    if (is_node(func_names(fn)[i])) raise_eval_error(DEFAULT_CODES[i], "引数の個数不正");
  DW thisArg = n > 1 ? args[1] : DW_UNDEFINED;
  unsigned nl = func_local_count(fn);
  const DW* names = func_names(fn);
  DW body = func_body(fn);

  ScopeMark saved = scope_save();
  int savedJump = jump_depth;
  int base = local_top + 1;
  local_reserve(static_cast<int>(nl) + 5);
  local_push(NAME_THIS, dw_ref(thisArg));
  local_push(names[0] & NAME_MASK, DW_UNDEFINED);
  local_push(names[1] & NAME_MASK, DW_UNDEFINED);
  local_push(names[2] & NAME_MASK, dw_ref(obj));
  for (uint32_t i = 0; i < obj_rec(obj)->count; i++) {
    const DW* p = obj_pairs(obj);
    DW value = p[2 * i + 1];
    uint32_t name = p[2 * i] & NAME_MASK;
    DW nameText = dw_ref(make_string(name_text(name), name_length(name), 0));
    DW old = local_stack[base + 1].value;
    local_stack[base + 1].value = dw_ref(value);
    dw_release(old);
    old = local_stack[base + 2].value;
    local_stack[base + 2].value = nameText;
    dw_release(old);
    local_reserve(static_cast<int>(nl) + 1);
    for (unsigned j = 0; j < nl; j++) local_push(names[3 + j] & NAME_MASK, DW_UNDEFINED);
    frame_base = base;
    param_count = 4;
    local_count = static_cast<int>(nl);
    block_depth = saved.block_depth + 1;
    bool returned;
    DW res = run_function_body(body, &returned);
    locals_pop(base + 4, res);
    value_discard(res);
  }
  locals_pop(base, DW_UNDEFINED);
  scope_restore(saved);
  jump_depth = savedJump;
  return DW_UNDEFINED;
}

// Object.keys(x): the indexes of an Array, the keys of a Keyed array, the member names of an
// Object.
static DW object_keys(DW, DW* args, int) {
  DW x = args[0];
  switch (dw_type(x)) {
    case T_ARRAY: return index_array(arr_rec(x)->count);
    case T_KEYED: return keyed_keys(x);
    case T_OBJECT: return member_names(x);
    default: raise_eval_error(2420, "Object.keysの引数不正");
  }
}

// ---- the method tables ----

constexpr MethodRow ROWS[] = {
    {"clear",    0, 0, o_clear},
    {"delete",   1, 1, o_delete},
    {"forEach",  1, 2, o_for_each},
    {"get",      1, 1, o_get},
    {"has",      1, 1, o_has},
    {"keys",     0, 0, o_keys},
    {"set",      2, 2, o_set},
    {"toString", 0, 0, o_to_string},
};

constexpr MethodRow STATIC_ROWS[] = {
    {"keys", 1, 1, object_keys, ROW_KEEPS},
};

constexpr MethodTable object_methods = method_table(ROWS, 2347, "HASHのメソッド名不正", 2450, 2455);
constexpr MethodTable object_statics = method_table(STATIC_ROWS, 2100, "OBJECTのメソッド名不正", 2105, 2110);

DW object_method(DW recv, uint32_t name, DW* args, int n) {
  return method_invoke(object_methods, name & NAME_MASK, recv, args, n);
}
