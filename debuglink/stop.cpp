// The stop hook: break points, conditional break points and stepping decide whether a stop
// point stops; a stop sends the call stack and the position, then serves the front end's
// messages until a step command arrives.
#include <time.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "debuglink/link.h"
#include "driver/config.h"
#include "driver/debughooks.h"
#include "eval/eval.h"

// Which nodes may stop: today the parser marks the others with the no-stop flag.
static inline bool is_stop_point(DW node) { return !node_no_stop(node); }

static void pause_ms(int ms) {
  timespec t{0, ms * 1000000L};
  while (nanosleep(&t, &t) != 0 && errno == EINTR) {}
}

// A conditional break point of the module at the line whose expression is true. An error is
// reported as an evaluation reply and counts as false.
static bool condition_hit(int module, uint16_t line) {
  const ModuleTables* t = &module_tables[module];
  for (size_t i = 0; i < t->nconds; i++) {
    if (t->conds[i].line != line) continue;
    LinkMessage reply{nullptr, 0, 0};
    int r = evaluate_condition(&t->conds[i].stmts, &reply);
    if (r < 0 && reply.len) link_send(reply.data, reply.len);
    message_free(&reply);
    if (r > 0) return true;
    if (!link_up()) return false;
    t = &module_tables[module];
  }
  return false;
}

static void serve_tables(char kind, const char* p, size_t n) {
  Span name, rest;
  split_module(p, n, &name, &rest);
  int module = module_by_name(name.p, name.n);
  if (module < 0 || module >= LINK_MODULES) return;
  if (kind == 'B') tables_set_lines(module, rest);
  else if (kind == 'b') tables_set_conditions(module, rest);
  else tables_set_traces(module, rest);
}

// Messages of one stop, kept outside the frames a link failure jumps across.
static LinkMessage incoming, reply;
static char* stack_text;

static void text_free() {
  std::free(stack_text);
  stack_text = nullptr;
}

// Returns the step digit, or -1 when the link failed.
static int exchange() {
  exchange_active = true;
  if (sigsetjmp(exchange_env, 0)) {
    exchange_active = false;
    text_free();
    return -1;
  }
  size_t len;
  frames_text(&stack_text, &len);
  bool sent = link_send(stack_text ? stack_text : "", len);
  text_free();
  if (!sent) return -1;
  pause_ms(2);
  char tail[32];
  int tn = std::snprintf(tail, sizeof tail, ":%u:%u", cur_position & 0xFFFF, (cur_position >> 16) & 0x7FFF);
  const char* m = module_name(cur_module);
  size_t ml = std::strlen(m);
  stack_text = static_cast<char*>(std::malloc(ml + static_cast<size_t>(tn) + 1));
  if (!stack_text) return -1;
  stack_text[0] = 'B';
  std::memcpy(stack_text + 1, m, ml);
  std::memcpy(stack_text + 1 + ml, tail, static_cast<size_t>(tn));
  sent = link_send(stack_text, ml + static_cast<size_t>(tn) + 1);
  text_free();
  if (!sent) return -1;
  for (;;) {
    if (!link_receive(&incoming, STOP_WAIT_MS)) return -1;
    const char* p = incoming.data;
    size_t n = incoming.len;
    if (n == 5 && std::memcmp(p, "STEP", 4) == 0 && p[4] >= '0' && p[4] <= '4') {
      exchange_active = false;
      return p[4] - '0';
    }
    if (n == 0) continue;
    switch (p[0]) {
      case 'B': case 'b': case 'T':
        serve_tables(p[0], p + 1, n - 1);
        break;
      case 'E':
        evaluate_message(p + 1, n - 1, &reply);
        if (reply.len) link_send(reply.data, reply.len);
        break;
      default:
        break;  // unknown kinds are acknowledged and ignored
    }
  }
}

void debug_stop_hook(DW node) {
  if (!link_up() || !is_stop_point(node)) return;
  if (!step_state.stepping) {
    unsigned module = node_module(node);
    uint16_t line = static_cast<uint16_t>(node_position(node) & 0xFFFF);
    if (module >= LINK_MODULES) return;
    if (!table_has_line(static_cast<int>(module), line) && !condition_hit(static_cast<int>(module), line)) return;
    if (!link_up()) return;
    step_state.stepping = true;
    step_state.running = false;
  }
  // The evaluation in a condition may have moved the position: the stop is at this node.
  cur_module = node_module(node);
  cur_position = node_position(node);
  int step = exchange();
  message_free(&incoming);
  if (step < 0) raise_eval_error(1850, "ソケット通信不正");
  switch (step) {
    case 0:
      debug_end_run();
      raise_eval_error(1855, "デバッグ終了");
    case 1:
      step_state.stepping = step_state.into = step_state.out = false;
      step_state.running = true;
      break;
    case 2:
      step_state.into = true;
      break;
    case 3:
      step_state.into = false;
      break;
    case 4:
      step_state.stepping = step_state.into = false;
      step_state.depth_marker = debug_frame_count - 1;
      step_state.out = true;
      break;
  }
}
