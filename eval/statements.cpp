// Statements and control flow: blocks, if, the loops, switch, break, continue, return, throw,
// try/catch/finally, and the Error/Exception values.
//
// A loop or switch arms its frame once (sigsetjmp) and keeps it armed across continues; every
// variable that changes after arming is volatile, and its receiver restores the jump depth, the
// scope markers and the local stack it recorded (arrival). try arms its frame the same way and
// runs its clauses only after an arrival has put those depths back.
#include <cstdio>
#include <cstring>

#include "eval/compiled.h"
#include "eval/ops.h"

// Variables live across an arming are assigned before it and never changed after, or volatile:
// their values survive the jump (C 7.13.2.1), which the clobber warning cannot tell.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wclobbered"
#endif

static constexpr DW NO_KEEP = 0xFFFFFFFF;

// What popping on the way out of a statement must keep alive: the value being returned.
static inline DW keep_on_pop() { return returning ? return_code : NO_KEEP; }

static inline int condition(DW c) {
  DW v = eval_node(c);
  if (v == DW_TRUE) return 1;
  if (v == DW_FALSE) return 0;
  int b = to_boolean(v);
  value_discard(v);
  return b;
}

void run_statement(DW tree, int mark) {
  dw_discard(eval_node(tree));
  if (local_top >= mark) locals_pop(mark, keep_on_pop());
}

// Runs the statements of a block from index first on.
void run_block_from(NodeRec* r, uint32_t first) {
  int savedStart = block_start;
  block_start = local_top + 1;
  block_depth++;
  uint32_t n = rec_argc(r);
  DW* s = rec_args(r);
  for (uint32_t i = first; i < n; i++) {
    eval_discard(s[i]);
    if (returning) break;
  }
  if (local_top >= block_start) locals_pop(block_start, keep_on_pop());
  block_start = savedStart;
  block_depth--;
}

DW op_block(DW, NodeRec* r) {
  stack_check();
  run_block_from(r, 0);
  return DW_UNDEFINED;
}

// The rest of a loop body whose statement `first` a plan handed back to the tree.
static void body_from(DW body, uint32_t first) {
  NodeRec* r = dw_type(body) == T_NODE ? node_rec(body) : nullptr;
  if (r && r->op == OP_BLOCK) {
    stack_check();
    run_block_from(r, first);
  } else {
    eval_discard(body);
  }
}

// Runs a loop on its compiled form when it has one. Returns false when the loop is over;
// otherwise the tree goes on where the form stopped: at the condition (*update_from is set to
// nu), or at an update (the rest of the body, if any, has been run).
static bool run_planned(DW c, DW body, const DW* updates, uint32_t nu, uint32_t* update_from) {
  *update_from = nu;
  LoopStop st;
  if (!loop_compiled_run(c, body, updates, nu, &st)) return true;
  switch (st.where) {
    case LOOP_DONE: return false;
    case LOOP_AT_BODY:
      body_from(body, st.index);
      *update_from = 0;
      return true;
    case LOOP_AT_UPDATE:
      *update_from = st.index;
      return true;
    default:
      return true;
  }
}

DW op_if(DW, NodeRec* r) {
  uint32_t n = rec_argc(r);
  DW* a = rec_args(r);
  if (condition(a[0])) return eval_node(a[1]);
  return n >= 3 ? eval_node(a[2]) : DW_UNDEFINED;
}

// A jump arrived at a loop or switch frame: drop the frames above it, the scope of the code it
// came from and the locals pushed since top.
static inline void arrival(int fr, const ScopeMark& m, int top) {
  jump_depth = fr + 1;
  scope_restore(m);
  if (local_top > top) locals_pop(top + 1, NO_KEEP);
}

DW op_while(DW, NodeRec* r) {
  DW c = r->a1, body = r->a2;
  ScopeMark m = scope_save();
  int top = local_top;
  uint32_t resume;
  int fr = jump_push(JF_LOOP);
  if (JUMP_ARM(fr)) {
    arrival(fr, m, top);
    if (jump_code == JUMP_BREAK) goto done;
  } else if (!run_planned(c, body, nullptr, 0, &resume)) {
    goto done;
  }
  while (condition(c)) eval_discard(body);
done:
  if (local_top > top) locals_pop(top + 1, NO_KEEP);
  jump_depth = fr;
  return DW_UNDEFINED;
}

DW op_do_while(DW, NodeRec* r) {
  DW body = r->a1, c = r->a2;
  ScopeMark m = scope_save();
  int top = local_top;
  int fr = jump_push(JF_LOOP);
  if (JUMP_ARM(fr)) {
    arrival(fr, m, top);
    if (jump_code == JUMP_BREAK) goto done;
    goto test;
  }
  do {
    eval_discard(body);
  test:;
  } while (condition(c));
done:
  if (local_top > top) locals_pop(top + 1, NO_KEEP);
  jump_depth = fr;
  return DW_UNDEFINED;
}

DW op_for(DW, NodeRec* r) {
  DW* a = rec_args(r);
  DW* words = static_cast<DW*>(area_ptr(a[0]));
  uint32_t ni = a[1] >> 16, nu = a[1] & 0xFFFF;
  DW body = a[2];
  DW c = words[ni];
  block_depth++;
  ScopeMark m = scope_save();
  int top = local_top;
  volatile int iterTop = top;
  volatile bool started = false;
  uint32_t update_from;
  int fr = jump_push(JF_LOOP);
  if (JUMP_ARM(fr)) {
    arrival(fr, m, iterTop);
    if (jump_code == JUMP_BREAK || !started) goto done;
    update_from = 0;
    goto update;
  }
  for (uint32_t i = 0; i < ni; i++) eval_discard(words[i]);
  iterTop = local_top;
  started = true;
  if (!run_planned(c, body, words + ni + 1, nu, &update_from)) goto done;
  if (update_from < nu) goto update;
  while (condition(c)) {
    eval_discard(body);
    update_from = 0;
  update:
    for (uint32_t j = update_from; j < nu; j++) eval_discard(words[ni + 1 + j]);
  }
done:
  if (local_top > top) locals_pop(top + 1, NO_KEEP);
  jump_depth = fr;
  block_depth = m.block_depth - 1;
  return DW_UNDEFINED;
}

// Number of rounds of for ... in / for ... of over coll; raises for unsupported collections.
static uint32_t item_count(DW coll, bool of) {
  switch (dw_type(coll)) {
    case T_OBJECT:
      if (of) raise_eval_error(2055, "ステートメント不正(for .. of)");
      return obj_rec(coll)->count;
    case T_ARRAY: return arr_rec(coll)->count;
    case T_KEYED: return keyed_rec(coll)->count;
    case T_STRING:
      if (!of) raise_eval_error(2057, "ステートメント不正(for .. in)");
      return str_rec(coll)->len;
    default:
      if (of) raise_eval_error(2055, "ステートメント不正(for .. of)");
      raise_eval_error(2057, "ステートメント不正(for .. in)");
  }
}

// Item i of the collection, with one reference. Members removed meanwhile give undefined.
static DW item_at(DW coll, uint32_t i, bool of) {
  switch (dw_type(coll)) {
    case T_OBJECT: {
      auto* o = obj_rec(coll);
      if (i >= o->count) return DW_UNDEFINED;
      uint32_t name = static_cast<DW*>(area_ptr(o->pairs))[2 * i] & NAME_MASK;
      return make_string(name_text(name), name_length(name), 1);
    }
    case T_ARRAY: {
      if (!of) return dw_ref(int_value(static_cast<int32_t>(i)));
      auto* a = arr_rec(coll);
      if (i >= a->count) return DW_UNDEFINED;
      return dw_ref(static_cast<DW*>(area_ptr(a->elems))[i]);
    }
    case T_KEYED: {
      auto* k = keyed_rec(coll);
      if (i >= k->count) return DW_UNDEFINED;
      const DW* p = static_cast<DW*>(area_ptr(k->pairs)) + 2 * i;
      if (of) return dw_ref(p[1]);
      if (dw_type(p[0]) == T_INDEX) return dw_ref(int_value(static_cast<int32_t>(p[0] & 0xFFFFFF)));
      uint32_t name = p[0] & NAME_MASK;
      return make_string(name_text(name), name_length(name), 1);
    }
    default: {
      if (i >= str_rec(coll)->len) return DW_UNDEFINED;
      return make_string(str_text(coll) + i, 1, 1);
    }
  }
}

DW op_for_in_of(DW, NodeRec* r) {
  DW* a = rec_args(r);
  uint32_t x = a[0] & NAME_MASK;
  DW e = a[1], body = a[2];
  uint32_t kind = a[3];
  bool of = r->op == OP_FOR_OF;
  block_depth++;
  ScopeMark m = scope_save();
  int top = local_top;
  volatile int iterTop = top;
  volatile bool started = false;
  volatile DW coll = DW_UNDEFINED;
  volatile uint32_t i = 0;
  volatile uint32_t count = 0;
  volatile bool global = false;
  volatile int slot = -1;
  int fr = jump_push(JF_LOOP);
  if (JUMP_ARM(fr)) {
    arrival(fr, m, iterTop);
    if (jump_code == JUMP_BREAK || !started) goto done;
    goto next;
  }
  // The loop variable's slot.
  if (kind == FOR_KIND_VAR) {
    slot = -1;
    if (frame_base < 1) {
      global = true;
      slot = global_find_up(x);
    } else {
      global = false;
      int first = frame_base + param_count;
      for (int k = first; k < first + local_count && k <= local_top; k++)
        if ((local_stack[k].name & NAME_MASK) == x) {
          slot = k;
          break;
        }
    }
    if (slot < 0) {
      if (of) raise_eval_error(2050, "ステートメント不正(for ... of)");
      raise_eval_error(2056, "ステートメント不正(for ... in)");
    }
  } else {
    global = false;
    slot = local_push(kind == FOR_KIND_CONST ? x | CONST_BIT : x, DW_UNDEFINED);
  }
  coll = dw_ref(eval_node(e));
  count = item_count(coll, of);
  iterTop = local_top;
  started = true;
  i = 0;
  while (i < count) {
    {
      DW item = item_at(coll, i, of);
      DW* place = global ? &global_table[slot].value : &local_stack[slot].value;
      DW old = *place;
      *place = item;
      dw_release(old);
    }
    eval_discard(body);
  next:
    i = i + 1;
  }
done:
  if (started) dw_release(coll);
  if (local_top > top) locals_pop(top + 1, NO_KEEP);
  jump_depth = fr;
  block_depth = m.block_depth - 1;
  return DW_UNDEFINED;
}

DW op_switch(DW, NodeRec* r) {
  DW* blk = static_cast<DW*>(area_ptr(r->a1));
  uint32_t* table = static_cast<uint32_t*>(area_ptr(blk[1]));
  uint32_t npairs = table[0], nstmts = table[1];
  DW* stmts = nstmts ? static_cast<DW*>(area_ptr(blk[2])) : nullptr;
  bool hasDefault = blk[3] != 0;
  ScopeMark m = scope_save();
  volatile int stmtTop = local_top;
  volatile DW disc = DW_UNDEFINED;
  int64_t start = -1;
  int fr = jump_push(JF_SWITCH);
  if (JUMP_ARM(fr)) {
    // Only a break arrives here; slots pushed by code it left (calls, blocks) go.
    arrival(fr, m, stmtTop);
    goto done;
  }
  disc = dw_ref(eval_node(blk[0]));
  for (uint32_t p = 2; p < npairs; p++) {
    DW v = eval_node(table[2 * p]);
    bool match = strict_equal_test(disc, v);
    if (v != disc) dw_discard(v);
    if (match) {
      start = table[2 * p + 1];
      break;
    }
  }
  if (start < 0 && hasDefault) start = table[3];
  if (start >= 0) {
    for (uint32_t i = static_cast<uint32_t>(start); i < nstmts; i++) {
      stmtTop = local_top;
      eval_discard(stmts[i]);
    }
  }
done:
  jump_depth = fr;
  dw_unref(disc);
  dw_discard(disc);
  return DW_UNDEFINED;
}

// ---- transfers ----

bool jump_accepts(uint8_t kind, DW code, bool pending) {
  if (pending) return kind == JF_TRY;
  if (code == JUMP_BREAK) return kind == JF_LOOP || kind == JF_TRY || kind == JF_SWITCH;
  if (code == JUMP_CONTINUE) return kind == JF_LOOP || kind == JF_TRY;
  return kind == JF_FUNCTION || kind == JF_TRY;
}

DW op_break(DW, NodeRec*) {
  throw_pending = false;
  for (int i = jump_depth - 1; i >= 0; i--)
    if (jump_accepts(jump_stack[i].kind, JUMP_BREAK, false)) jump_to(i, JUMP_BREAK);
  raise_eval_error(2070, "ステートメント不正(break)");
}

DW op_continue(DW, NodeRec*) {
  throw_pending = false;
  for (int i = jump_depth - 1; i >= 0; i--)
    if (jump_accepts(jump_stack[i].kind, JUMP_CONTINUE, false)) jump_to(i, JUMP_CONTINUE);
  raise_eval_error(2075, "ステートメント不正(continue)");
}

DW op_return(DW, NodeRec* r) {
  DW v = rec_argc(r) ? eval_node(r->a1) : JUMP_RETURN_VOID;
  throw_pending = false;
  if (jump_depth - 1 == fast_return_frame) {
    return_code = v;
    returning = true;
    return DW_UNDEFINED;
  }
  for (int i = jump_depth - 1; i >= 0; i--) {
    uint8_t k = jump_stack[i].kind;
    if (k == JF_FUNCTION || k == JF_TRY) jump_to(i, v);
  }
  raise_eval_error(2080, "return文不正");
}

DW op_throw(DW, NodeRec* r) {
  DW v = eval_node(r->a1);
  for (int i = jump_depth - 1; i >= 0; i--) {
    if (jump_stack[i].kind == JF_TRY) {
      throw_pending = true;
      jump_to(i, v);
    }
  }
  raise_eval_error(2065, "ステートメント不正(throw)");
}

// A value that a transfer carries (not one of the three jump codes).
static inline bool is_value_code(DW k) { return k != JUMP_BREAK && k != JUMP_CONTINUE && k != JUMP_RETURN_VOID; }

// A jump arrived at a try frame whose statement began with local_top = mark - 1 (the frames
// above it and the locals pushed since are dead): the catch clause, the finally block, and the
// transfer passed on. t is the index of the try frame.
static DW try_arrived(NodeRec* r, DW k, int mark, int t) {
  uint32_t n = rec_argc(r);
  DW* a = rec_args(r);
  DW pair = a[1], fin = n >= 3 ? a[2] : 0;
  bool pending = throw_pending;
  throw_pending = false;
  if (pending && pair) {
    DW* cp = static_cast<DW*>(area_ptr(pair));
    DW param = cp[0], catchBlock = cp[1];
    local_push(param & NAME_MASK, dw_ref(k));
    run_statement(catchBlock, mark + 1);
    locals_pop(mark, keep_on_pop());
    // A return in the catch block leaves at once, as its jump would (the try frame is gone).
    if (fin && !returning) run_statement(fin, mark);
    return DW_UNDEFINED;
  }
  if (fin) {
    // The carried value must outlive the finally block unchanged.
    bool held = is_value_code(k);
    if (held) dw_ref(k);
    run_statement(fin, mark);
    if (held) dw_unref(k);
    // A return in the finally block abandons the transfer.
    if (returning) return DW_UNDEFINED;
  }
  for (int i = t - 1; i >= 0; i--) {
    if (jump_accepts(jump_stack[i].kind, k, pending)) {
      throw_pending = pending;
      jump_to(i, k);
    }
  }
  raise_eval_error(2060, "ステートメント不正(try ... catch)");
}

// The try frame is armed here, in the statement's own native frame: nothing it records changes
// after arming. An arrival puts back the scope markers and the local stack (a local that held
// the carried value only gives up its reference) before the clauses run.
DW op_try(DW, NodeRec* r) {
  const ScopeMark m = scope_save();
  const int mark = local_top + 1;
  const int fr = jump_push(JF_TRY);
  if (JUMP_ARM(fr)) {
    DW k = jump_code;
    jump_depth = fr;
    locals_pop(mark, k);
    scope_restore(m);
    return try_arrived(r, k, mark, fr);
  }
  run_statement(rec_args(r)[0], mark);
  jump_depth = fr;
  if (rec_argc(r) >= 3) run_statement(rec_args(r)[2], mark);
  return DW_UNDEFINED;
}

// ---- Error / Exception ----

DW op_error_values(DW message, DW code, bool hasCode) {
  if (dw_type(message) != T_STRING) raise_eval_error(2360, "例外ステートメント不正");
  uint8_t kind = 9;
  char num[16];
  const char* ct = "";
  size_t cl = 0;
  if (hasCode) {
    if (dw_type(code) == T_STRING) {
      kind = 1;
      ct = str_text(code);
      cl = str_rec(code)->len;
    } else if (dw_type(code) == T_INT) {
      kind = 0;
      cl = static_cast<size_t>(std::snprintf(num, sizeof num, "%d", int_rec(code)->value));
      ct = num;
    } else {
      raise_eval_error(2360, "例外ステートメント不正");
    }
  }
  return make_error_value(kind, ct, cl, str_text(message), str_rec(message)->len);
}

DW op_error(DW, NodeRec* r) {
  uint32_t n = rec_argc(r);
  DW* a = rec_args(r);
  DW msg = eval_node(a[0]);
  if (dw_type(msg) != T_STRING) raise_eval_error(2360, "例外ステートメント不正");
  DW code = n >= 2 ? eval_holding(msg, a[1]) : DW_UNDEFINED;
  DW e = op_error_values(msg, code, n >= 2);
  dw_discard(msg);
  if (code != msg) dw_discard(code);
  return e;
}
