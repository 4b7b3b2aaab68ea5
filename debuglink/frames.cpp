// Debug frames: one per active call and the outermost one, kept by the evaluator's calls and
// by jumps that leave calls; the stepping state changes of calls and returns; trace reports.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "debuglink/link.h"
#include "driver/config.h"
#include "driver/debughooks.h"
#include "eval/eval.h"

DebugFrame* debug_frames = nullptr;
int debug_frame_count = 0;
static int frame_capacity = 0;
Stepping step_state;

static void frame_drop(DebugFrame* f) {
  std::free(f->trace_label);
  f->trace_label = nullptr;
}

void frames_reset() {
  while (debug_frame_count > 1) frame_drop(&debug_frames[--debug_frame_count]);
  if (!debug_frames) {
    frame_capacity = 64;
    debug_frames = static_cast<DebugFrame*>(std::calloc(frame_capacity, sizeof(DebugFrame)));
    if (!debug_frames) {
      frame_capacity = 0;
      return;
    }
  }
  debug_frames[0] = DebugFrame{};
  debug_frame_count = 1;
}

// The name under which f is reachable: a member of the receiver, else a global holding it.
static uint32_t function_name(DW f, DW object) {
  if (object && dw_type(object) == T_OBJECT) {
    auto* o = obj_rec(object);
    const DW* pairs = o->count ? static_cast<DW*>(area_ptr(o->pairs)) : nullptr;
    for (uint32_t i = 0; i < o->count; i++)
      if (pairs[2 * i + 1] == f) return pairs[2 * i] & NAME_MASK;
  }
  for (int i = global_top; i >= 0; i--)
    if (global_table[i].value == f) return global_table[i].name & NAME_MASK;
  return 0;
}

// "A" + label + "(" + name=value, ... + " )"
static void send_call_trace(const char* label, size_t len, DW f, int first) {
  char storage[1024];
  TextBuf b;
  textbuf_init(&b, storage, sizeof storage);
  textbuf_putc(&b, 'A');
  textbuf_append(&b, label, len);
  textbuf_putc(&b, '(');
  unsigned np = func_param_count(f);
  for (unsigned i = 0; i < np; i++) {
    if (i) textbuf_append(&b, ", ", 2);
    uint32_t name = func_param_name(f, i) & NAME_MASK;
    textbuf_append(&b, name_text(name), name_length(name));
    textbuf_putc(&b, '=');
    DW v = local_stack[first + static_cast<int>(i)].value;
    // Functions and other values without a text form are named, not raised over.
    if (dw_type(v) == T_FUNC) textbuf_append(&b, "function", 8);
    else if (dw_type(v) == T_INDEX || dw_type(v) == T_NONE4) textbuf_append(&b, "?", 1);
    else append_value_text(v, true, &b);
  }
  textbuf_append(&b, " )", 2);
  link_send(b.data, b.len);
  textbuf_free(&b);
}

static void send_return_trace(const char* label, size_t len, DW value) {
  char storage[1024];
  TextBuf b;
  textbuf_init(&b, storage, sizeof storage);
  textbuf_putc(&b, 'R');
  textbuf_append(&b, label, len);
  textbuf_append(&b, "( ", 2);
  if (dw_type(value) == T_FUNC) textbuf_append(&b, "function", 8);
  else if (dw_type(value) == T_INDEX || dw_type(value) == T_NONE4) textbuf_append(&b, "?", 1);
  else append_value_text(value, true, &b);
  textbuf_append(&b, " )", 2);
  link_send(b.data, b.len);
  textbuf_free(&b);
}

void debug_call_enter(DW f, int base, int first, DW object) {
  if (!link_up() || debug_frame_count < 1) return;
  if (debug_frame_count == frame_capacity) {
    int cap = frame_capacity * 2;
    auto* grown = static_cast<DebugFrame*>(std::realloc(debug_frames, sizeof(DebugFrame) * cap));
    if (!grown) raise_eval_error(1400, "メモリ領域を取得できません");
    debug_frames = grown;
    frame_capacity = cap;
  }
  DebugFrame* caller = &debug_frames[debug_frame_count - 1];
  caller->at_module = static_cast<uint8_t>(cur_module);
  caller->at_position = cur_position;
  caller->at_top = base - 1;
  caller->at_block_depth = block_depth - 1;
  DebugFrame* f2 = &debug_frames[debug_frame_count++];
  *f2 = DebugFrame{};
  f2->name = function_name(f, object);
  f2->frame_base = frame_base;
  f2->param_count = param_count;
  f2->local_count = local_count;
  f2->jump_index = jump_depth;
  f2->saved_stepping = step_state.stepping;
  f2->at_module = static_cast<uint8_t>(func_module(f));
  if (!step_state.into) step_state.stepping = false;
  unsigned module = func_module(f);
  if (module < LINK_MODULES) {
    const TraceEntry* t = table_trace_in(static_cast<int>(module), func_rec(f)->line, func_rec(f)->endLine);
    if (t) {
      f2->trace_label = static_cast<char*>(std::malloc(t->len + 1));
      if (f2->trace_label) {
        std::memcpy(f2->trace_label, t->label, t->len + 1);
        f2->trace_len = t->len;
      }
      send_call_trace(t->label, t->len, f, first);
    }
  }
}

// A call ends: the stepping state of the caller comes back. A return after "run" leaves it off;
// stepping that is on at the return (the user stepped inside the callee) stays on, so that a
// step past the end of a function stops in its caller.
static void leave_state(const DebugFrame* f, int depthBefore) {
  if (!step_state.running) step_state.stepping = f->saved_stepping || step_state.stepping;
  if (step_state.out && depthBefore <= step_state.depth_marker) {
    step_state.out = false;
    step_state.stepping = true;
  }
}

void debug_call_leave(DW result) {
  if (debug_frame_count <= 1) return;
  int depth = debug_frame_count - 1;
  DebugFrame* f = &debug_frames[depth];
  if (f->trace_label && link_up()) send_return_trace(f->trace_label, f->trace_len, result);
  leave_state(f, depth);
  frame_drop(f);
  debug_frame_count--;
}

// A jump to the frame at index leaves every call whose function frame lies above it.
void debug_unwind(int index) {
  while (debug_frame_count > 1 && debug_frames[debug_frame_count - 1].jump_index > index) {
    int depth = debug_frame_count - 1;
    leave_state(&debug_frames[depth], depth);
    frame_drop(&debug_frames[depth]);
    debug_frame_count--;
  }
}

const char* frame_function_name(int index, size_t* len) {
  uint32_t n = debug_frames[index].name;
  if (!n) {
    *len = 0;
    return "";
  }
  *len = name_length(n);
  return name_text(n);
}

int frame_module(int index) {
  return index == debug_frame_count - 1 ? cur_module : debug_frames[index].at_module;
}

void frames_text(char** out, size_t* len) {
  TextBuf b;
  textbuf_init(&b, nullptr, 0);
  for (int i = 0; i < debug_frame_count; i++) {
    bool inner = i == debug_frame_count - 1;
    int module = inner ? cur_module : debug_frames[i].at_module;
    uint32_t pos = inner ? cur_position : debug_frames[i].at_position;
    if (i) textbuf_putc(&b, ';');
    const char* m = module_name(module);
    textbuf_append(&b, m, std::strlen(m));
    textbuf_putc(&b, ':');
    size_t fl;
    const char* fn = frame_function_name(i, &fl);
    textbuf_append(&b, fn, fl);
    char t[32];
    int n = std::snprintf(t, sizeof t, ":%u:%u", pos & 0xFFFF, (pos >> 16) & 0x7FFF);
    textbuf_append(&b, t, static_cast<size_t>(n));
  }
  *out = b.data;
  *len = b.len;
}
