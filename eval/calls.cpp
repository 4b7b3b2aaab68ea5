// Calls: OP_CALL on its three paths (methods by receiver type, the conversion functions, script
// functions), call_member_function, the function-body runner, and new.
#include <alloca.h>

#include <cstdlib>
#include <cstring>

#include "eval/compile_form.h"
#include "eval/compiled.h"
#include "eval/debughooks.h"
#include "eval/ops.h"
#include "eval/plugins.h"

// ---- frameless bodies ----
// A body that pushes no jump frame of its own (no loop, switch or try) and runs no code that
// could (eval, record_map) only ever returns without a jump: its return statements find no
// frame above the one that was innermost when the call began. Such a body needs no function
// frame, which saves arming one per call. Literals and templates are not looked into: a body
// holding one keeps its frame.
static bool body_is_frameless(DW body) {
  DW stack[256];
  int n = 0;
  stack[n++] = body;
  while (n > 0) {
    DW t = stack[--n];
    unsigned ty = dw_type(t);
    if (ty == T_CONST || ty == T_INT || ty == T_FLOAT || ty == T_FUNC || ty == T_INDEX) continue;
    if (ty == T_STRING && !(str_rec(t)->flags & STR_TEMPLATE)) continue;
    if (ty != T_NODE) return false;
    NodeRec* r = node_rec(t);
    unsigned op = r->op;
    switch (op) {
      case OP_WHILE: case OP_DO_WHILE: case OP_FOR: case OP_FOR_OF: case OP_FOR_IN: case OP_TRY:
      case OP_SWITCH: case OP_EVAL: case OP_RECORD_MAP:
        return false;
      default:
        break;
    }
    if (op > OP_SQL_AGGREGATE) return false;
    uint32_t argc = rec_argc(r);
    const DW* args = rec_args(r);
    if (op == OP_CALL || op == OP_NEW) {
      // The callee (or constructor name), then the argument-list area.
      if (n + 1 + static_cast<int>(arglist_count(r->a2)) > 256) return false;
      stack[n++] = r->a1;
      argc = arglist_count(r->a2);
      args = arglist_args(r->a2);
    }
    if (n + static_cast<int>(argc) > 256) return false;
    for (uint32_t i = 0; i < argc; i++) stack[n++] = args[i];
  }
  return true;
}

// Bodies already looked at, by handle (cleared with the store and whenever trees are freed:
// handles are then reused). Beside whether a body is frameless, an entry keeps whether the
// body was found to have no compiled form: that answer holds until trees are freed (which drops
// every form), so such a call need not ask again.
static constexpr int FRAMELESS_CACHE = 512;
static DW frameless_key[FRAMELESS_CACHE];
static bool frameless_value[FRAMELESS_CACHE];
static bool formless_value[FRAMELESS_CACHE];

void frameless_cache_reset() {
  for (DW& k : frameless_key) k = 0;
}

static uint32_t frameless_epoch;

// The cache entry of a body, filled in when it held another.
static inline unsigned body_entry(DW body) {
  if (frameless_epoch != tree_free_epoch) {
    frameless_cache_reset();
    frameless_epoch = tree_free_epoch;
  }
  unsigned i = (body ^ (body >> 9)) & (FRAMELESS_CACHE - 1);
  if (frameless_key[i] != body) {
    frameless_key[i] = body;
    frameless_value[i] = body_is_frameless(body);
    formless_value[i] = false;
  }
  return i;
}

static inline bool frameless(DW body) { return frameless_value[body_entry(body)] && !eval_hooks_on; }

// The body of a function (a block: the caller checked the stack).
static inline __attribute__((always_inline)) void run_body(DW body) {
  NodeRec* r = node_rec(body);
  if (dw_type(body) == T_NODE && r->op == OP_BLOCK && !eval_hooks_on) {
    cur_module = r->modflags & 0x7F;
    cur_position = r->pos & POSITION_MASK;
    run_block_from(r, 0);
  } else {
    value_discard(eval_node(body));
  }
}

// A body that may leave through a jump: under its own function frame (kept out of line: the
// frame is armed in this function's native frame).
static DW run_body_framed(DW body, bool* returned) {
  int fr = jump_push(JF_FUNCTION);
  int savedFast = fast_return_frame;
  DW c;
  if (JUMP_ARM(fr)) {
    c = jump_code;
  } else {
    fast_return_frame = fr;
    run_body(body);
    if (!returning) {
      fast_return_frame = savedFast;
      jump_depth = fr;
      *returned = false;
      return DW_UNDEFINED;
    }
    returning = false;
    c = return_code;
  }
  fast_return_frame = savedFast;
  jump_depth = fr;
  *returned = c != JUMP_RETURN_VOID;
  return *returned ? c : DW_UNDEFINED;
}

static inline __attribute__((always_inline)) DW run_body_returning(DW body, bool* returned) {
  if (!frameless(body)) return run_body_framed(body, returned);
  int savedFast = fast_return_frame;
  fast_return_frame = jump_depth - 1;
  run_body(body);
  fast_return_frame = savedFast;
  if (!returning) {
    *returned = false;
    return DW_UNDEFINED;
  }
  returning = false;
  *returned = return_code != JUMP_RETURN_VOID;
  return *returned ? return_code : DW_UNDEFINED;
}

DW run_function_body(DW body, bool* returned) { return run_body_returning(body, returned); }

// Pushes the parameter values of a call: evaluated from argument trees (values == nullptr) or
// taken from values. Slots are nameless until the frame is entered, so that the caller's
// names still resolve while later arguments are evaluated.
static inline __attribute__((always_inline)) void push_arguments(unsigned nparams, const DW* trees, const DW* values, uint32_t n) {
  // Calls made by the arguments give back the slots they push, and the stack never shrinks:
  // one reservation covers every slot pushed here.
  local_reserve(static_cast<int>(nparams) + 1);
  for (unsigned i = 0; i < nparams; i++) {
    DW v = DW_UNDEFINED;
    if (i < n) v = dw_ref(values ? values[i] : eval_node(trees[i]));
    local_top++;
    local_stack[local_top].name = 0;
    local_stack[local_top].value = v;
  }
}

// Names the parameter slots from first on (default values evaluated in the callee's scope,
// after the earlier parameters), then pushes the var locals.
static inline __attribute__((always_inline)) void enter_frame(DW f, int first) {
  unsigned np = func_param_count(f), nl = func_local_count(f);
  DW* names = func_names(f);
  for (unsigned i = 0; i < np; i++) {
    DW entry = names[i];
    VarSlot* s = &local_stack[first + static_cast<int>(i)];
    if (dw_type(entry) == T_NODE) {
      DW* a = rec_args(node_rec(entry));
      // The default is evaluated before the slot takes its name: it sees only earlier ones.
      if (s->value == DW_UNDEFINED) {
        DW v = dw_ref(eval_node(a[1]));
        s = &local_stack[first + static_cast<int>(i)];
        s->value = v;
      }
      local_name(first + static_cast<int>(i), a[0] & NAME_MASK);
    } else {
      local_name(first + static_cast<int>(i), entry & NAME_MASK);
    }
  }
  local_reserve(static_cast<int>(nl) + 1);
  for (unsigned j = 0; j < nl; j++) local_push(names[np + j] & NAME_MASK, DW_UNDEFINED);
}

// Runs f whose parameters were pushed from slot base (and this at thisSlot, or -1). Pops the
// frame, restores the caller's scope and returns the result as a temporary when only the
// frame held it.
static inline __attribute__((always_inline)) DW finish_call(DW f, int base, const ScopeMark& saved, int thisSlot) {
  bool returned;
  DW res = run_body_returning(func_body(f), &returned);
  if (__builtin_expect(eval_hooks_on, 0)) debug_call_leave(res);
  if (thisSlot >= 0 && !returned) res = local_stack[thisSlot].value;
  locals_pop(base, res);
  scope_restore(saved);
  return res;
}

// The tree's call of f: parameters from argument trees or from values, then the body; a
// constructor call also gets a new object as this (returned unless the body returns a value).
static inline __attribute__((always_inline)) DW call_on_tree(DW f, const DW* trees, const DW* values, uint32_t n,
                                                              bool construct) {
  unsigned np = func_param_count(f);
  int base = local_top + 1;
  push_arguments(np, trees, values, n);
  ScopeMark saved = scope_save();
  frame_base = base;
  param_count = static_cast<int>(np);
  local_count = static_cast<int>(func_local_count(f));
  block_depth = saved.block_depth + 1;
  enter_frame(f, base);
  int thisSlot = construct ? local_push(NAME_THIS, dw_ref(make_object(nullptr, 0))) : -1;
  if (__builtin_expect(eval_hooks_on, 0)) debug_call_enter(f, base, base, 0);
  return finish_call(f, base, saved, thisSlot);
}


// A call of a function that has a compiled form: the arguments are evaluated (as the tree
// evaluates them: one per parameter, in order) and the form runs on them; when it gives up, the
// call is made on the tree with the same values. Returns false (having evaluated nothing) when
// the call has missing arguments.
static bool invoke_compiled(DW f, int form, const DW* trees, uint32_t n, DW* res, bool construct = false) {
  int np = func_compiled_params(form);
  if (static_cast<int>(n) < np) return false;
  DW vals[64];   // a form has at most 64 parameters and locals
  for (int i = 0; i < np; i++) vals[i] = dw_ref(eval_node(trees[i]));
  // The arguments may have run code that dropped the forms: ask again.
  form = construct ? ctor_compiled(f) : func_compiled(f);
  if (form < 0 || !func_compiled_run(form, vals, res))
    *res = call_on_tree(f, nullptr, vals, static_cast<uint32_t>(np), construct);
  for (int i = 0; i < np; i++) {
    if (vals[i] == *res) dw_unref(vals[i]);
    else dw_release(vals[i]);
  }
  return true;
}

static DW invoke(DW f, const DW* trees, uint32_t n) {
  stack_check();
  // Held by the tree and a variable, the function cannot go away while its arguments run;
  // otherwise it is held here for the call.
  bool hold = dw_count(f) < 2;
  if (hold) dw_ref(f);
  DW body = func_body(f);
  unsigned e = body_entry(body);
  if (!formless_value[e]) {
    int form = func_compiled(f);
    DW compiled;
    if (form >= 0) {
      if (invoke_compiled(f, form, trees, n, &compiled)) {
        if (hold) dw_unref(f);
        return compiled;
      }
    } else if (compiled_enabled && !eval_hooks_on && form::compile_function(f) < 0) {
      formless_value[e] = true;
    }
  }
  DW res = call_on_tree(f, trees, nullptr, n, false);
  if (hold) dw_unref(f);
  return res;
}

DW call_function(DW, NodeRec* r) {
  last_name = 0;
  DW f = eval_node(r->a1);
  if (dw_type(f) != T_FUNC) {
    if (last_name) raise_eval_error(2155, "関数不正(%s), %d", name_text(last_name), dw_type(f));
    raise_eval_error(2150, "関数不正");
  }
  return invoke(f, arglist_args(r->a2), arglist_count(r->a2));
}

DW call_member_function(DW fn, const DW* values, int n, DW object) {
  stack_check();
  dw_ref(fn);
  unsigned np = func_param_count(fn);
  int base = local_top + 1;
  local_push(NAME_THIS, dw_ref(object));
  push_arguments(np, nullptr, values, static_cast<uint32_t>(n < 0 ? 0 : n));
  ScopeMark saved = scope_save();
  frame_base = base;
  // The this slot counts with the parameters, so that the var locals start after it.
  param_count = static_cast<int>(np) + 1;
  local_count = static_cast<int>(func_local_count(fn));
  block_depth = saved.block_depth + 1;
  enter_frame(fn, base + 1);
  if (__builtin_expect(eval_hooks_on, 0)) debug_call_enter(fn, base, base + 1, object);
  DW res = finish_call(fn, base, saved, -1);
  dw_unref(fn);
  return res;
}

// ---- method calls ----

// Gives back a hold the call took (dw_unref): a count that stays above zero is only decremented.
static inline void give_back(DW h) {
  if (dw_type(h) - 1u < 14u) {
    uint8_t* hd = dw_header(h);
    unsigned c = *hd >> 4;
    if (c - 1u < 14u) *hd = static_cast<uint8_t>(*hd - 16);
  }
}

static DW to_string_method(DW recv, uint32_t name) {
  if (!(name_length(name) == 8 && std::memcmp(name_text(name), "toString", 8) == 0)) {
    dw_discard(recv);
    raise_eval_error(2145, "メソッド名不正");
  }
  DW s = value_text_string(recv);
  dw_discard(recv);
  return s;
}

// The member of an object that holds a function under name, or 0.
static DW member_function(DW obj, uint32_t name) {
  auto* o = obj_rec(obj);
  if (!o->count) return 0;
  const DW* pairs = static_cast<DW*>(area_ptr(o->pairs));
  for (uint32_t i = 0; i < o->count; i++)
    if ((pairs[2 * i] & NAME_MASK) == name) return dw_type(pairs[2 * i + 1]) == T_FUNC ? pairs[2 * i + 1] : 0;
  return 0;
}

static DW method_call(DW member, DW list) {
  NodeRec* mr = node_rec(member);
  DW recvTree = mr->a1;
  uint32_t name = mr->a2 & NAME_MASK;
  uint32_t n = arglist_count(list);
  const DW* trees = arglist_args(list);
  DW* vals = n ? static_cast<DW*>(alloca(n * sizeof(DW))) : nullptr;
  // Each argument is held while the later ones are evaluated and the method runs.
  for (uint32_t i = 0; i < n; i++) vals[i] = dw_ref(eval_node(trees[i]));
  DW res;
  int nn = static_cast<int>(n);
  if (dw_type(recvTree) == T_CONST && is_static_object(recvTree)) {
    res = call_static_method(recvTree, name, vals, nn);
  } else {
    DW recv = eval_node(recvTree);
    switch (dw_type(recv)) {
      case T_CONST: case T_INT: case T_ERROR: case T_FLOAT:
        res = to_string_method(recv, name);
        break;
      case T_DATE: case T_REGEXP: case T_STRING: case T_ARRAY: case T_KEYED: case T_OBJECT: {
        dw_ref(recv);
        unsigned t = dw_type(recv);
        if (t == T_DATE) res = date_method(recv, name, vals, nn);
        else if (t == T_REGEXP) res = regexp_method(recv, name, vals, nn);
        else if (t == T_STRING) res = string_method(recv, name, vals, nn);
        else if (t == T_ARRAY) res = array_method(recv, name, vals, nn);
        else if (t == T_KEYED) res = keyed_method(recv, name, vals, nn);
        else {
          DW fn = member_function(recv, name);
          res = fn ? call_member_function(fn, vals, nn, recv) : object_method(recv, name, vals, nn);
        }
        give_back(recv);
        break;
      }
      default:
        last_location.kind = LOC_NONE;
        res = DW_UNDEFINED;
        break;
    }
  }
  for (uint32_t i = 0; i < n; i++) {
    if (vals[i] == res) give_back(vals[i]);
    else dw_release(vals[i]);
  }
  return res;
}

// Date(...) as a call: the OP_DATE handler on a temporary node of the argument trees.
static DW date_call(const DW* trees, uint32_t n, uint32_t position) {
  DW tmp = dw_ref(make_node(OP_DATE, n, trees, position));
  DW res = op_date(tmp, node_rec(tmp));
  dw_release(tmp);
  return res;
}

DW op_call(DW node, NodeRec* r) {
  bool savedCreate = create_missing;
  create_missing = false;
  DW callee = r->a1;
  DW res;
  if (dw_type(callee) == T_NODE && node_rec(callee)->op == OP_MEMBER) {
    res = method_call(callee, r->a2);
  } else if (callee == NAME_NUMBER || callee == NAME_STRING || callee == NAME_DATE) {
    uint32_t n = arglist_count(r->a2);
    const DW* trees = arglist_args(r->a2);
    if (callee == NAME_DATE) res = date_call(trees, n, r->pos & POSITION_MASK);
    else if (callee == NAME_NUMBER) res = n ? number_of_tree(trees[0]) : int_value(0);
    else res = n ? string_of_tree(trees[0]) : make_string("", 0, 0);
  } else {
    res = call_function(node, r);
  }
  create_missing = savedCreate;
  return res;
}

// ---- new ----

static DW construct(DW k, const DW* trees, uint32_t n) {
  DW f = lookup_variable(k);
  if (dw_type(f) != T_FUNC) raise_eval_error(2370, "newステートメント不正");
  stack_check();
  dw_ref(f);
  DW res;
  int form = ctor_compiled(f);
  if (form < 0 || !invoke_compiled(f, form, trees, n, &res, true)) res = call_on_tree(f, trees, nullptr, n, true);
  if (dw_type(res) == T_OBJECT) obj_rec(res)->ctor = k & NAME_MASK;
  dw_unref(f);
  return res;
}

DW op_new(DW, NodeRec* r) {
  DW k = r->a1;
  if (dw_type(k) != T_CONST) raise_eval_error(2365, "newステートメント不正");
  last_name = k & NAME_MASK;
  uint32_t n = arglist_count(r->a2);
  const DW* trees = arglist_args(r->a2);
  bool savedCreate = create_missing;
  create_missing = false;
  DW res;
  switch (k & NAME_MASK) {
    case NAME_NUMBER: res = n ? number_of_tree(trees[0]) : int_value(0); break;
    case NAME_INTEGER:
    case NAME_FLOAT: {
      bool isInt = (k & NAME_MASK) == NAME_INTEGER;
      if (!n) {
        res = isInt ? int_value(0) : make_float(0.0, 0);
        break;
      }
      DW v = eval_node(trees[0]);
      res = isInt ? to_integer(v) : to_float(v);
      if (v != res) dw_discard(v);
      break;
    }
    case NAME_DATE: res = date_call(trees, n, r->pos & POSITION_MASK); break;
    case NAME_ERROR:
    case NAME_EXCEPTION: {
      if (!n) raise_eval_error(2360, "例外ステートメント不正");
      DW msg = eval_node(trees[0]);
      if (dw_type(msg) != T_STRING) raise_eval_error(2360, "例外ステートメント不正");
      DW code = n >= 2 ? eval_holding(msg, trees[1]) : DW_UNDEFINED;
      res = op_error_values(msg, code, n >= 2);
      dw_discard(msg);
      if (code != msg) dw_discard(code);
      break;
    }
    case NAME_REGEXP: {
      DW tmp = dw_ref(make_node(OP_REGEXP, n > 2 ? 2 : n, trees, r->pos & POSITION_MASK));
      res = op_regexp(tmp, node_rec(tmp));
      dw_release(tmp);
      break;
    }
    case NAME_STRING: res = n ? string_of_tree(trees[0]) : make_string("", 0, 0); break;
    case NAME_ARRAY: res = array_of_trees(trees, n); break;
    default: res = construct(k, trees, n); break;
  }
  create_missing = savedCreate;
  return res;
}
