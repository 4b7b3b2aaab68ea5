// Integer functions on a plan (see intfunc.cpp): the calls of script functions that compute
// only with Integers run on native integers.
#pragma once
#include "eval/ops.h"

// Off: every call runs on the tree (tests compare both ways).
extern bool intfunc_enabled;

// The plan of a function value, valid for a call now; -1 when it has none.
int intfunc_plan(DW func);
int intfunc_param_count(int plan);
// Runs a plan on the argument values (one per parameter). False when the run was abandoned
// (an argument that is not an Integer, or anything the plan cannot do): the call must then be
// made on the tree, from its start, with the same values.
bool intfunc_run(int plan, const DW* args, DW* result);
// Forgets every plan (the store was reset: handles are reused).
void intfunc_reset();
