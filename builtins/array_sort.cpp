// Array sort: by the byte order of the elements' texts, or by a script comparator.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "builtins/array_common.h"
#include "eval/compiled.h"

[[noreturn]] static void no_memory() { raise_eval_error(1400, "メモリ領域を取得できません"); }

// ---- without a comparator ----

// The texts are computed once per element. No script code runs while these buffers are in use,
// and they are kept for the process, so an error raised meanwhile (an element without a text)
// leaves nothing behind.
namespace {
struct TextKey {
  const char* text;
  DW value;
};
}  // namespace
static TextKey* text_keys;
static uint32_t text_keys_cap;
static char* text_pool;
static size_t text_pool_cap;

static void* grow(void* p, size_t bytes) {
  void* g = std::realloc(p, bytes);
  if (!g) no_memory();
  return g;
}

static size_t pool_add(size_t used, const char* t, size_t len) {
  if (used + len + 1 > text_pool_cap) {
    size_t cap = text_pool_cap ? text_pool_cap : 65536;
    while (cap < used + len + 1) cap *= 2;
    text_pool = static_cast<char*>(grow(text_pool, cap));
    text_pool_cap = cap;
  }
  std::memcpy(text_pool + used, t, len);
  text_pool[used + len] = 0;
  return used + len + 1;
}

// Writes the decimal text of v into out (at least 12 bytes); returns its length.
static size_t int_text(int32_t v, char* out) {
  char t[12];
  size_t n = 0;
  uint32_t u = v < 0 ? 0u - static_cast<uint32_t>(v) : static_cast<uint32_t>(v);
  do {
    t[n++] = static_cast<char>('0' + u % 10);
    u /= 10;
  } while (u);
  size_t len = 0;
  if (v < 0) out[len++] = '-';
  while (n) out[len++] = t[--n];
  return len;
}

static void sort_by_text(DW recv, uint32_t count) {
  if (count > text_keys_cap) {
    text_keys = static_cast<TextKey*>(grow(text_keys, static_cast<size_t>(count) * sizeof(TextKey)));
    text_keys_cap = count;
  }
  const DW* el = arr_elems(recv);
  size_t used = 0;
  // Texts of values other than strings go to the pool; their offsets become pointers after.
  for (uint32_t i = 0; i < count; i++) {
    DW v = el[i];
    text_keys[i].value = v;
    switch (dw_type(v)) {
      case T_STRING:
        text_keys[i].text = str_text(v);
        continue;
      case T_INT: {
        char t[12];
        size_t len = int_text(int_arg(v), t);
        text_keys[i].text = reinterpret_cast<const char*>(used);
        used = pool_add(used, t, len);
        continue;
      }
      default: {
        char buf[3072];
        size_t len;
        bool owned;
        char* t = value_to_text(v, &len, buf, sizeof buf, &owned);
        text_keys[i].text = reinterpret_cast<const char*>(used);
        used = pool_add(used, t, len);
        if (owned) std::free(t);
      }
    }
  }
  for (uint32_t i = 0; i < count; i++)
    if (dw_type(text_keys[i].value) != T_STRING)
      text_keys[i].text = text_pool + reinterpret_cast<size_t>(text_keys[i].text);
  std::sort(text_keys, text_keys + count,
            [](const TextKey& a, const TextKey& b) { return std::strcmp(a.text, b.text) < 0; });
  DW* out = arr_elems(recv);
  for (uint32_t i = 0; i < count; i++) out[i] = text_keys[i].value;
}

// ---- with a comparator ----

namespace {
struct Comparator {
  DW fn;
  DW body;
  uint32_t p0, p1;        // parameter names
  unsigned nlocals;
  const DW* localNames;
  // The compiled form asked for last, good while only compiled runs happen and no tree is
  // freed: a finished run of a function's form writes no variable and rebinds no global, so
  // nothing that decides the form's validity changes (a run on the tree may change anything).
  // No form (-1) is kept for the whole sort: the tree always gives the exact result.
  int form;
  bool formKnown;
  uint32_t formEpoch;
};
}  // namespace

// The sign of a comparator's result; anything but a number counts as equal.
static int result_sign(DW res) {
  int r = 0;
  if (dw_type(res) == T_INT) {
    int32_t v = int_arg(res);
    r = v < 0 ? -1 : v > 0;
  } else if (dw_type(res) == T_FLOAT) {
    double d = float_arg(res);
    r = d < 0 ? -1 : d > 0;
  }
  value_discard(res);
  return r;
}

// Calls the comparator on (a, b) in a frame of its own: its parameters, then its var locals.
// `this` is not bound. A comparator with a compiled form runs there; a run the form gives up
// is made again on the tree from its start.
static int compare_call(Comparator& c, DW a, DW b) {
  if (!c.formKnown || c.formEpoch != tree_free_epoch) {
    c.form = func_compiled(c.fn);
    c.formKnown = true;
    c.formEpoch = tree_free_epoch;
  }
  if (c.form >= 0) {
    const DW args[2] = {a, b};
    double d;
    DW res;
    switch (func_compiled_run_number(c.form, args, &d, &res)) {
      case CE_NUMBER: return d < 0 ? -1 : d > 0;
      case CE_VALUE: return result_sign(res);
      case CE_UNDEFINED: raise_eval_error(2540, "ソートでの比較結果不正");
      case CE_ABANDONED: break;
    }
  }
  if (c.form >= 0) c.formKnown = false;
  ScopeMark saved = scope_save();
  int base = local_top + 1;
  local_reserve(static_cast<int>(c.nlocals) + 3);
  local_push(c.p0, dw_ref(a));
  local_push(c.p1, dw_ref(b));
  for (unsigned i = 0; i < c.nlocals; i++) local_push(c.localNames[i] & NAME_MASK, DW_UNDEFINED);
  frame_base = base;
  param_count = 2;
  local_count = static_cast<int>(c.nlocals);
  block_depth = saved.block_depth + 1;
  bool returned;
  DW res = run_function_body(c.body, &returned);
  locals_pop(base, res);
  scope_restore(saved);
  if (!returned) raise_eval_error(2540, "ソートでの比較結果不正");
  return result_sign(res);
}

// Merge sort over a private list of the elements: every index stays within the list whatever
// the comparator answers, and the comparator may change the array meanwhile.
static void insertion_sort(DW* v, uint32_t n, Comparator& c) {
  for (uint32_t i = 1; i < n; i++) {
    DW x = v[i];
    // Binary search for the place of x among v[0 .. i): after the equal ones, so runs stay stable.
    uint32_t lo = 0, hi = i;
    while (lo < hi) {
      uint32_t mid = lo + (hi - lo) / 2;
      if (compare_call(c, x, v[mid]) < 0) hi = mid;
      else lo = mid + 1;
    }
    std::memmove(v + lo + 1, v + lo, static_cast<size_t>(i - lo) * sizeof(DW));
    v[lo] = x;
  }
}

static void merge_sort(DW* v, DW* tmp, uint32_t n, Comparator& c) {
  if (n <= 8) {
    insertion_sort(v, n, c);
    return;
  }
  uint32_t h = n / 2;
  merge_sort(v, tmp, h, c);
  merge_sort(v + h, tmp, n - h, c);
  if (compare_call(c, v[h - 1], v[h]) <= 0) return;
  std::memcpy(tmp, v, static_cast<size_t>(h) * sizeof(DW));
  uint32_t i = 0, j = h, k = 0;
  while (i < h && j < n) {
    if (compare_call(c, v[j], tmp[i]) < 0) v[k++] = v[j++];
    else v[k++] = tmp[i++];
  }
  while (i < h) v[k++] = tmp[i++];
}

// A sort's private lists; one set is kept for the next sort (a comparator may sort too, and an
// error leaves its lists to the process).
static DW* spare_lists;
static uint32_t spare_cap;

static DW* take_lists(uint32_t count) {
  if (spare_lists && spare_cap >= count) {
    DW* l = spare_lists;
    spare_lists = nullptr;
    return l;
  }
  DW* l = static_cast<DW*>(std::malloc(static_cast<size_t>(count) * 2 * sizeof(DW)));
  if (!l) no_memory();
  return l;
}

static void give_back_lists(DW* l, uint32_t count) {
  if (spare_lists && spare_cap >= count) {
    std::free(l);
    return;
  }
  std::free(spare_lists);
  spare_lists = l;
  spare_cap = count;
}

static void sort_by_comparator(DW recv, uint32_t count, DW fn) {
  Comparator c;
  c.fn = fn;
  c.body = func_body(fn);
  c.p0 = func_param_name(fn, 0) & NAME_MASK;
  c.p1 = func_param_name(fn, 1) & NAME_MASK;
  c.nlocals = func_local_count(fn);
  c.localNames = c.nlocals ? func_names(fn) + 2 : nullptr;
  c.form = -1;
  c.formKnown = false;
  c.formEpoch = 0;
  DW* list = take_lists(count);
  DW* tmp = list + count;
  // The private list holds a reference on every element until they are back in the array.
  const DW* el = arr_elems(recv);
  for (uint32_t i = 0; i < count; i++) list[i] = dw_ref(el[i]);
  merge_sort(list, tmp, count, c);
  // The sorted elements replace whatever the array holds now.
  ArrRec* a = arr_rec(recv);
  uint32_t now = a->count;
  a->count = 0;
  DW* cur = now ? arr_elems(recv) : nullptr;
  for (uint32_t i = 0; i < now; i++) dw_release(cur[i]);
  array_reserve(recv, count);
  std::memcpy(arr_elems(recv), list, static_cast<size_t>(count) * sizeof(DW));
  arr_rec(recv)->count = count;
  give_back_lists(list, count);
}

DW array_sort(DW recv, DW* args, int n) {
  if (n > 0) {
    DW fn = args[0];
    if (dw_type(fn) != T_FUNC) raise_eval_error(2545, "引数不正(非関数)");
    if (func_param_count(fn) != 2) raise_eval_error(2550, "引数の個数不正");
  }
  uint32_t count = arr_rec(recv)->count;
  if (count < 2) return recv;
  if (n > 0) sort_by_comparator(recv, count, args[0]);
  else sort_by_text(recv, count);
  return recv;
}
