// Module loading: every listed module read and parsed once per process.
#pragma once

#include "frontend/parser.h"

extern bool modules_loaded;
// The top-level statements of all loaded modules, in order.
extern StatementList top_statements;

// Loads the modules of the module list in order (a second call does nothing).
void load_modules();
// Back to the state at process start: nothing loaded, the statement list given back (tests).
void loader_reset();
// Module kinds by extension (".jo" compiled, ".js" source); raises 1170/1175 for other names.
void check_module_kind(int index);
