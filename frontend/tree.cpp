// Operation nodes: make_node, the stop-point table and the opcode names.
#include <cstdio>
#include <cstring>

#include "errors/raise.h"
#include "frontend/parse_internal.h"
#include "frontend/tree.h"

bool no_stop_mode = false;

DW area_new_nonzero(size_t size, void** out) {
  // Handle 0 means "none" in several argument slots (a try without catch, a function without
  // names); the very first word of the word area must never be taken for one.
  DW h = area_new(size, out);
  if (h == 0) h = area_new(size, out);
  return h;
}

DW make_node(unsigned opcode, uint32_t count, const DW* args, uint32_t position) {
  DW h;
  NodeRec* r = reinterpret_cast<NodeRec*>(dw_new(T_NODE, &h, 0));
  uint8_t flags = static_cast<uint8_t>(parse_module & 0x7F);
  if (!is_stop_point_opcode(opcode) || no_stop_mode) flags |= NODE_NO_STOP;
  r->modflags = flags;
  r->op = static_cast<uint8_t>(opcode);
  r->pos = position;
  if (count <= 2) {
    r->argc = static_cast<uint8_t>(count);
    r->a1 = count > 0 ? dw_ref(args[0]) : 0;
    r->a2 = count > 1 ? dw_ref(args[1]) : 0;
    return h;
  }
  void* mem;
  DW list = area_new_nonzero(sizeof(DW) * count, &mem);
  DW* words = static_cast<DW*>(mem);
  for (uint32_t i = 0; i < count; i++) words[i] = dw_ref(args[i]);
  r->a1 = list;
  r->a2 = 0;
  if (count < NODE_COUNT_ESCAPE) {
    r->argc = static_cast<uint8_t>(count);
  } else {
    r->argc = NODE_COUNT_ESCAPE;
    if (opcode == OP_BLOCK) r->pos = count;
    else r->a2 = count;
  }
  return h;
}

const char* opcode_name(unsigned op) {
  if (op >= OP_FIRST && op <= OP_LAST_DEFINED) return opcode_facts[op - OP_FIRST].name;
  static char buf[16];
  std::snprintf(buf, sizeof buf, "OP_%u", op);
  return buf;
}
