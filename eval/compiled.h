// The compiled form of functions and loops: numeric code over native cells, run instead of the
// tree where it gives exactly what the tree gives (see compile_form.cpp and vm_form.cpp).
#pragma once
#include "eval/ops.h"

// Off: everything runs on the tree (tests and the tree-only test switch compare both ways).
extern bool compiled_enabled;

// ---- loops run by the tree's loop statements ----
enum LoopWhere : uint8_t { LOOP_DONE, LOOP_AT_CONDITION, LOOP_AT_BODY, LOOP_AT_UPDATE };
// Where the compiled loop stopped: the loop ended, or the tree takes over at the condition, at
// body statement index or at update index (that statement has changed nothing yet).
struct LoopStop {
  LoopWhere where;
  uint32_t index;
};
// Runs a for or while loop (its inits already run) on its compiled form. False when it has
// none or cannot start now: the tree runs the whole loop.
bool loop_compiled_run(DW cond, DW body, const DW* updates, uint32_t nupdates, LoopStop* stop);

// ---- calls of script functions ----
// The compiled form of a function value, valid for a call now; -1 when it has none.
int func_compiled(DW func);
int func_compiled_params(int form);
// The compiled form of a function called by new (a constructor that only gives this members),
// run as func_compiled's are; -1 when it has none.
int ctor_compiled(DW func);
// Runs the form on the argument values (one per parameter). False when the run was abandoned:
// it changed nothing, and the call must be made on the tree from its start with the same values.
bool func_compiled_run(int form, const DW* args, DW* result);
// As func_compiled_run for a caller that uses only a number the function returns (a library
// callback such as a sort's comparator): no value is made for a number.
enum CompiledEnd : uint8_t { CE_ABANDONED, CE_UNDEFINED, CE_NUMBER, CE_VALUE };
// CE_NUMBER: *number holds it (an Integer as its double); CE_VALUE: *value holds the value
// (an object, as func_compiled_run gives it).
CompiledEnd func_compiled_run_number(int form, const DW* args, double* number, DW* value);

// Runs that the compiled form finished itself (calls, and loops run to their end): tests check
// that what they compare really ran compiled.
extern uint32_t compiled_runs;
// Throws that a catch clause of the compiled form took (without the tree).
extern uint32_t compiled_catches;

// Forgets every compiled form (trees were freed or the store was reset: handles are reused).
void compiled_reset();
