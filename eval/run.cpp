// The driver's entry into the evaluator: running top-level statements and the top-function call.
#include <cstdlib>

#include "eval/compiled.h"
#include "eval/ops.h"

void eval_start() {
  if (stack_limit) return;
  stack_guard_init();
#ifdef SCRIPTCGI_TREE_SWITCH
  // Test builds: SCRIPTCGI_TREE_ONLY=1 runs everything on the tree (both ways are compared).
  if (const char* v = std::getenv("SCRIPTCGI_TREE_ONLY")) compiled_enabled = *v == '0';
#endif
}

void eval_run_statements(const DW* statements, uint32_t count) {
  eval_start();
  fast_return_frame = -1;
  returning = false;
  for (uint32_t i = 0; i < count; i++) {
    block_depth = 0;
    dw_discard(eval_node(statements[i]));
  }
}

void eval_run_call(DW call) {
  eval_start();
  fast_return_frame = -1;
  returning = false;
  dw_discard(eval_node(call));
}

void eval_reset() {
  local_top = 0;
  frame_base = param_count = local_count = 0;
  block_start = block_depth = 0;
  global_top = -1;
  last_location = Location{};
  last_location_const = false;
  create_missing = false;
  last_name = 0;
  stack_limit = nullptr;
  small_ints_reset();
  frameless_cache_reset();
  compiled_reset();
  fast_return_frame = -1;
  returning = false;
}
