// Reference counting and the destruction of values. Destruction works through an explicit
// stack of values whose count fell to zero, so a long chain of nested values never deepens
// the machine stack.
#include <cstdlib>
#include <cstring>

#include "errors/raise.h"
#include "platform/layout.h"
#include "store/store_state.h"

// Counted handles: types 1-14. Index keys (0x0F......), 0xFF...... and constants never are.
static inline bool counted(unsigned t) { return t - 1u < 14u; }

void dw_unref(DW h) {
  if (!counted(dw_type(h))) return;
  uint8_t* hd = dw_header(h);
  unsigned c = *hd >> 4;
  if (c >= 1 && c < 15) *hd = static_cast<uint8_t>(*hd - 16);
}

// Values waiting to be destroyed; their header count is set to 15 so that nothing counts them
// again (a value reachable twice is scheduled once).
LARGE_STATIC static DW pending_initial[1024];
static DW* pending = pending_initial;
static uint32_t pending_top, pending_cap = 1024;

static void schedule(DW h, uint8_t* hd) {
  if (pending_top == pending_cap) {
    uint32_t cap = pending_cap * 2;
    DW* grown = static_cast<DW*>(store_alloc(cap * sizeof(DW)));
    std::memcpy(grown, pending, pending_top * sizeof(DW));
    if (pending != pending_initial) std::free(pending);
    pending = grown;
    pending_cap = cap;
  }
  *hd |= 0xF0;
  pending[pending_top++] = h;
}

// Operand count of a node: 255 escapes to word 3 for a block (opcode 155), else to word 2.
static inline uint32_t node_operands(const NodeRec* n) {
  if (n->argc != 255) return n->argc;
  return n->op == 155 ? n->pos : n->a2;
}

// Drops one reference held by a value being destroyed.
static void release_child(DW c) {
  unsigned t = dw_type(c);
  if (!counted(t)) return;
  uint8_t* hd = dw_header(c);
  unsigned n = *hd >> 4;
  if (n == 15) return;
  if (n > 1) {
    *hd = static_cast<uint8_t>(*hd - 16);
    return;
  }
  if (n == 1) *hd = static_cast<uint8_t>(*hd - 16);
  switch (t) {
    case T_CONN:
    case T_NONE4:
      return;   // never destroyed
    case T_INT:
    case T_DATE:
    case T_FLOAT:
      dw_free_record(c);
      return;
    case T_STRING:
      area_release(reinterpret_cast<StrRec*>(hd)->text);
      dw_free_record(c);
      return;
    default:
      schedule(c, hd);
  }
}

static void release_list(DW list, uint32_t count) {
  if (count == 0) return;
  const DW* p = static_cast<const DW*>(area_ptr(list));
  for (uint32_t i = 0; i < count; i++) release_child(p[i]);
}

// Pair lists: (key, value); keys are never counted.
static void release_pair_values(DW list, uint32_t count) {
  if (count == 0) return;
  const DW* p = static_cast<const DW*>(area_ptr(list));
  for (uint32_t i = 0; i < count; i++) release_child(p[2 * i + 1]);
}

// A regular expression owns item lists and nested patterns (regexp/).
void regexp_free(DW re);

static void destroy_one(unsigned type, DW h) {
  switch (type) {
    case T_STMT:
    case T_ERROR:
      area_release(h);
      return;
    case T_REGEXP:
      regexp_free(h);  // its item lists and nested patterns too
      return;
    case T_INT:
    case T_DATE:
    case T_FLOAT:
      break;
    case T_STRING:
      area_release(reinterpret_cast<StrRec*>(dw_rec(h))->text);
      break;
    case T_ARRAY: {
      ArrRec* r = reinterpret_cast<ArrRec*>(dw_rec(h));
      r->hdr |= 0xF0;
      release_list(r->elems, r->count);
      area_release(r->elems);
      break;
    }
    case T_KEYED: {
      KeyedRec* r = reinterpret_cast<KeyedRec*>(dw_rec(h));
      r->hdr |= 0xF0;
      release_pair_values(r->pairs, r->count);
      area_release(r->pairs);
      break;
    }
    case T_OBJECT: {
      ObjRec* r = reinterpret_cast<ObjRec*>(dw_rec(h));
      r->hdr |= 0xF0;
      release_pair_values(r->pairs, r->count);
      area_release(r->pairs);
      break;
    }
    case T_NODE: {
      NodeRec* r = reinterpret_cast<NodeRec*>(dw_rec(h));
      r->hdr |= 0xF0;
      uint32_t n = node_operands(r);
      if (n < 3) {
        if (n >= 1) release_child(r->a1);
        if (n >= 2) release_child(r->a2);
      } else {
        release_list(r->a1, n);
        area_release(r->a1);
      }
      break;
    }
    case T_FUNC: {
      FuncRec* r = reinterpret_cast<FuncRec*>(dw_rec(h));
      r->hdr |= 0xF0;
      release_child(r->body);
      if (r->nparams) {
        release_list(r->names, r->nparams);
        area_release(r->names);
      }
      break;
    }
    default:   // connections stay until closed; constants, type 4 and index keys have no storage
      return;
  }
  dw_free_record(h);
}

void dw_destroy(unsigned type, DW h) {
  destroy_one(type, h);
  while (pending_top != 0) {
    DW c = pending[--pending_top];
    destroy_one(dw_type(c), c);
  }
}

void dw_release_last(DW h) {
  unsigned t = dw_type(h);
  uint8_t* hd = dw_header(h);
  if (*hd >> 4 == 1) *hd = static_cast<uint8_t>(*hd - 16);
  dw_destroy(t, h);
}

void dw_discard(DW h) {
  unsigned t = dw_type(h);
  if (counted(t) && (*dw_header(h) >> 4) == 0) dw_destroy(t, h);
}
