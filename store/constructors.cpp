// Value constructors (integers, floats, strings, arrays, objects) and the deep copy behind `new`.
#include <cstring>

#include "errors/raise.h"
#include "platform/layout.h"
#include "store/store.h"

static void no_memory() { raise_eval_error(1400, "メモリ領域を取得できません"); }

DW make_int(int32_t v, unsigned count) {
  DW h;
  reinterpret_cast<IntRec*>(dw_new(T_INT, &h, count))->value = v;
  return h;
}

DW make_float(double v, unsigned count) {
  DW h;
  reinterpret_cast<FloatRec*>(dw_new(T_FLOAT, &h, count))->value = v;
  return h;
}

// Copies at most `len` bytes of `text`, stopping at a zero byte; the rest up to and including
// position len is zeroed, so the stored text never shows stale storage.
static void copy_text(char* dst, const char* text, size_t len) {
  size_t n = text ? strnlen(text, len) : 0;
  if (n) std::memcpy(dst, text, n);
  if (n == len) dst[len] = 0;
  else std::memset(dst + n, 0, len + 1 - n);
}

DW make_string(const char* text, size_t len, unsigned count) {
  if (len > 0xFFFFFFFFu - 12) no_memory();
  void* p;
  DW th = area_new(len + 12, &p);
  copy_text(static_cast<char*>(p), text, len);
  DW h;
  StrRec* r = reinterpret_cast<StrRec*>(dw_new(T_STRING, &h, count));
  r->text = th;
  r->cap = static_cast<uint32_t>(len + 8);
  r->len = static_cast<uint32_t>(len);
  return h;
}

DW make_string_concat(const char* t1, const char* t2, size_t total, unsigned count) {
  if (total > 0xFFFFFFFFu - 12) no_memory();
  void* p;
  // Room for the capacity and a terminator after it.
  DW th = area_new(total + 12, &p);
  char* s = static_cast<char*>(p);
  size_t n1 = t1 ? strnlen(t1, total) : 0;
  if (n1) std::memcpy(s, t1, n1);
  copy_text(s + n1, t2, total - n1);
  DW h;
  StrRec* r = reinterpret_cast<StrRec*>(dw_new(T_STRING, &h, count));
  r->text = th;
  r->cap = static_cast<uint32_t>(total + 8);
  r->len = static_cast<uint32_t>(total);
  return h;
}

// A zeroed list of `cap` entries of `entry` bytes, the first `count` copied from `src`.
static DW new_list(const DW* src, uint32_t count, uint32_t cap, size_t entry, void** out) {
  size_t bytes = static_cast<size_t>(cap) * entry;
  DW lh = area_new(bytes, out);
  std::memset(*out, 0, bytes);
  if (count && src) std::memcpy(*out, src, static_cast<size_t>(count) * entry);
  return lh;
}

DW make_array(const DW* elems, uint32_t count, bool ref) {
  if (count > 0xFFFFFFFFu - 10) no_memory();
  void* p;
  DW lh = new_list(elems, count, count + 10, 4, &p);
  if (ref) {
    const DW* e = static_cast<const DW*>(p);
    for (uint32_t i = 0; i < count; i++) dw_ref(e[i]);
  }
  DW h;
  ArrRec* r = reinterpret_cast<ArrRec*>(dw_new(T_ARRAY, &h, 0));
  r->elems = lh;
  r->count = count;
  r->cap = count + 10;
  return h;
}

DW make_object(const DW* pairs, uint32_t count) {
  // Count and capacity are 16-bit fields.
  if (count > 0xFFFFu - 10) no_memory();
  void* p;
  DW lh = new_list(pairs, count, count + 10, 8, &p);
  const DW* e = static_cast<const DW*>(p);
  for (uint32_t i = 0; i < count; i++) dw_ref(e[2 * i + 1]);
  DW h;
  ObjRec* r = reinterpret_cast<ObjRec*>(dw_new(T_OBJECT, &h, 0));
  r->count = static_cast<uint16_t>(count);
  r->cap = static_cast<uint16_t>(count + 10);
  r->pairs = lh;
  r->ctor = 0;
  return h;
}

// ---- deep copy ----

// The containers being copied, outermost first: a value that contains itself, or nesting
// deeper than this, cannot be copied.
constexpr unsigned COPY_MAX_DEPTH = 4096;
LARGE_STATIC static DW copy_path[COPY_MAX_DEPTH];
static unsigned copy_depth;

[[noreturn]] static void copy_refused() { raise_eval_error(1420, "newの引数不正"); }

static void copy_enter(DW h) {
  if (copy_depth == COPY_MAX_DEPTH) copy_refused();
  for (unsigned i = 0; i < copy_depth; i++)
    if (copy_path[i] == h) copy_refused();
  copy_path[copy_depth++] = h;
}

static DW copy_value(DW h);

// Copies `count` entries of a list of `cap` entries; entries are single handles (stride 1) or
// (key, value) pairs (stride 2) whose values are copied and referenced.
static DW copy_list(DW src_list, uint32_t count, uint32_t cap, unsigned stride) {
  void* p;
  size_t bytes = static_cast<size_t>(cap) * 4 * stride;
  DW lh = area_new(bytes, &p);
  std::memset(p, 0, bytes);
  DW* dst = static_cast<DW*>(p);
  for (uint32_t i = 0; i < count; i++) {
    // The source list is read afresh each time: it does not move, but copies allocate.
    const DW* src = static_cast<const DW*>(area_ptr(src_list));
    if (stride == 2) dst[2 * i] = src[2 * i];
    DW c = copy_value(src[stride * i + stride - 1]);
    // Error records and regular expressions come back shared and already referenced once.
    unsigned t = dw_type(c);
    dst[stride * i + stride - 1] = (t == T_ERROR || t == T_REGEXP) ? c : dw_ref(c);
  }
  return lh;
}

static DW copy_value(DW h) {
  switch (dw_type(h)) {
    case T_INT:
      return make_int(reinterpret_cast<IntRec*>(dw_rec(h))->value, 0);
    case T_FLOAT:
      return make_float(reinterpret_cast<FloatRec*>(dw_rec(h))->value, 0);
    case T_STRING:
      return make_string(str_text(h), str_rec(h)->len, 0);
    case T_DATE: {
      DW c;
      uint8_t* rec = dw_new(T_DATE, &c, 0);
      std::memcpy(rec + 1, dw_rec(h) + 1, 15);
      return c;
    }
    case T_ERROR:
    case T_REGEXP:
      return dw_ref(h);
    case T_ARRAY:
    case T_KEYED: {
      // Same record layout: the list handle, count and capacity; elements or (key, value) pairs.
      copy_enter(h);
      ArrRec src = *reinterpret_cast<ArrRec*>(dw_rec(h));
      uint32_t cap = src.cap > src.count ? src.cap : src.count;
      DW c;
      ArrRec* r = reinterpret_cast<ArrRec*>(dw_new(dw_type(h), &c, 0));
      std::memcpy(reinterpret_cast<uint8_t*>(r) + 1, &src.flags0, 3);
      r->count = src.count;
      r->cap = cap;
      DW lh = copy_list(src.elems, src.count, cap, dw_type(h) == T_ARRAY ? 1 : 2);
      reinterpret_cast<ArrRec*>(dw_rec(c))->elems = lh;
      copy_depth--;
      return c;
    }
    case T_OBJECT: {
      copy_enter(h);
      ObjRec src = *reinterpret_cast<ObjRec*>(dw_rec(h));
      uint16_t cap = src.cap > src.count ? src.cap : src.count;
      DW c;
      ObjRec* r = reinterpret_cast<ObjRec*>(dw_new(T_OBJECT, &c, 0));
      std::memcpy(reinterpret_cast<uint8_t*>(r) + 1, &src.flags0, 3);
      r->count = src.count;
      r->cap = cap;
      r->ctor = src.ctor;
      DW lh = copy_list(src.pairs, src.count, cap, 2);
      reinterpret_cast<ObjRec*>(dw_rec(c))->pairs = lh;
      copy_depth--;
      return c;
    }
    default:
      copy_refused();
  }
}

DW value_copy(DW h) {
  copy_depth = 0;
  return copy_value(h);
}
