// Variables: lookup through the local stack and the global table, the declarations var, let and
// const, and writing through a location.
#include <cstring>

#include "eval/ops.h"

DW lookup_global(uint32_t name) {
  int i = global_find_down(name);
  if (i >= 0) {
    last_location.kind = LOC_GLOBAL;
    last_location.index = i;
    last_location_const = (global_table[i].name & CONST_BIT) != 0;
    return global_table[i].value;
  }
  last_location.kind = LOC_GLOBAL;
  last_location.index = global_append(name, DW_UNDEFINED);
  last_location_const = false;
  return DW_UNDEFINED;
}

// The name and initial-value tree of a declaration item.
static bool decl_item(DW item, uint32_t* name, DW* init) {
  unsigned t = dw_type(item);
  if (t == T_CONST) {
    *name = item & NAME_MASK;
    *init = 0xFFFFFFFF;
    return true;
  }
  if (t == T_NODE) {
    DW* a = rec_args(node_rec(item));
    *name = a[0] & NAME_MASK;
    *init = a[1];
    return true;
  }
  return false;
}

DW op_var(DW, NodeRec* r) {
  uint32_t n = rec_argc(r);
  for (uint32_t i = 0; i < n; i++) {
    DW item = rec_args(r)[i];
    uint32_t name;
    DW init;
    if (!decl_item(item, &name, &init)) raise_eval_error(2040, "変数名不正");
    DW v = init == 0xFFFFFFFF ? DW_UNDEFINED : eval_node(init);
    dw_ref(v);
    if (frame_base < 1) {
      int s = global_find_up(name);
      if (s >= 0) {
        DW old = global_table[s].value;
        global_table[s].value = v;
        dw_release(old);
      } else {
        global_append(name, v);
      }
    } else {
      int s = -1;
      for (int k = frame_base; k <= local_top; k++)
        if ((local_stack[k].name & NAME_MASK) == name) {
          s = k;
          break;
        }
      if (s >= 0) {
        DW old = local_stack[s].value;
        local_stack[s].value = v;
        dw_release(old);
      } else {
        local_push(name, v);
      }
    }
  }
  return DW_UNDEFINED;
}

DW op_let(DW, NodeRec* r) {
  if (block_depth <= 0) raise_eval_error(2045, "ステートメント不正(let/const)");
  uint32_t constBit = r->op == OP_CONST ? CONST_BIT : 0;
  uint32_t n = rec_argc(r);
  local_reserve(static_cast<int>(n));
  for (uint32_t i = 0; i < n; i++) {
    DW item = rec_args(r)[i];
    uint32_t name;
    DW init;
    if (!decl_item(item, &name, &init)) raise_eval_error(2040, "変数名不正");
    if (name < 4) {
      if (init == 0xFFFFFFFF) raise_eval_error(2047, "変数名不正(let/const)");
      raise_eval_error(2048, "変数名不正(let/const)");
    }
    DW v = init == 0xFFFFFFFF ? DW_UNDEFINED : eval_node(init);
    dw_ref(v);
    int low = block_start < 1 ? 1 : block_start;
    int s = -1;
    for (int k = low; k <= local_top; k++)
      if ((local_stack[k].name & NAME_MASK) == name) {
        s = k;
        break;
      }
    if (s >= 0) {
      DW old = local_stack[s].value;
      local_stack[s].name = name | constBit;
      local_stack[s].value = v;
      dw_release(old);
    } else {
      local_push(name | constBit, v);
    }
  }
  return DW_UNDEFINED;
}

DW* location_slot(const Location& loc) {
  switch (loc.kind) {
    case LOC_LOCAL:
      return loc.index >= 1 && loc.index <= local_top ? &local_stack[loc.index].value : nullptr;
    case LOC_GLOBAL:
      return loc.index >= 0 && loc.index <= global_top ? &global_table[loc.index].value : nullptr;
    case LOC_ELEMENT: {
      if (dw_type(loc.container) != T_ARRAY) return nullptr;
      auto* a = arr_rec(loc.container);
      if (loc.index < 0 || static_cast<uint32_t>(loc.index) >= a->count) return nullptr;
      return static_cast<DW*>(area_ptr(a->elems)) + loc.index;
    }
    case LOC_PAIR: {
      uint32_t count;
      DW list;
      if (dw_type(loc.container) == T_OBJECT) {
        auto* o = obj_rec(loc.container);
        count = o->count;
        list = o->pairs;
      } else if (dw_type(loc.container) == T_KEYED) {
        auto* k = keyed_rec(loc.container);
        count = k->count;
        list = k->pairs;
      } else {
        return nullptr;
      }
      if (loc.index < 0 || static_cast<uint32_t>(loc.index) >= count) return nullptr;
      return static_cast<DW*>(area_ptr(list)) + 2 * loc.index + 1;
    }
    default: raise_eval_error(2000, "value_ptrのタイプ不正");
  }
}

void store_location(const Location& loc, DW value, int mode) {
  if (loc.kind == LOC_FIELD) {
    int32_t v = 0;
    if (dw_type(value) == T_INT) v = int_rec(value)->value;
    else if (dw_type(value) == T_FLOAT) v = double_to_int32(float_rec(value)->value);
    std::memcpy(loc.field + 8, &v, 4);
    return;
  }
  DW* slot = location_slot(loc);
  // A container that lost the element or pair meanwhile: nothing left to write.
  if (!slot) return;
  DW old = *slot;
  if (mode & 1) dw_ref(value);
  *slot = value;
  if (mode & 2) dw_release(old);
}
