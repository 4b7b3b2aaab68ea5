// Integer loops on a plan: building the plan of a loop and running it (see fastloop.cpp).
#pragma once
#include "eval/ops.h"

struct FastLoop;

enum FastWhere : uint8_t { FAST_DONE, FAST_AT_CONDITION, FAST_AT_BODY, FAST_AT_UPDATE };
// Where the plan stopped: the loop ended, or the tree takes over at the condition, at body
// statement index or at update index.
struct FastStop {
  FastWhere where;
  uint32_t index;
};

// Off: every loop runs on the tree (tests compare both ways).
extern bool fastloop_enabled;

// The plan of a loop (condition, body, update expressions) with its variables resolved now;
// null when the loop has none. Valid until the local stack or the global table changes.
FastLoop* fastloop_build(DW cond, DW body, const DW* updates, uint32_t nupdates);
FastStop fastloop_run(const FastLoop* plan);
