// Module loading: every listed module read and parsed once per process.
#pragma once

#include <cstddef>
#include <string_view>

#include "frontend/parser.h"

// Size of the buffer that holds a module's file path (module directory, "/", name, zero byte).
constexpr size_t MODULE_PATH_MAX = 4096;
// The longest module name: error texts carry the name twice, and must still fit their record.
constexpr size_t MODULE_NAME_MAX = 1024;

extern bool modules_loaded;
// The top-level statements of all loaded modules, in order.
extern StatementList top_statements;

// Loads the modules of the module list in order (a second call does nothing).
void load_modules();
// Module kinds by extension (".jo" compiled, ".js" source); raises 1170/1175 for other names.
void check_module_kind(int index);
// Whether a module name names a file inside the module directory: not empty, no zero byte, not
// absolute, no ".." component (a slash or a backslash separates), at most MODULE_NAME_MAX bytes,
// and the module directory + "/" + name fits a path buffer of MODULE_PATH_MAX bytes. Names of
// the request, of INCLUDE and of the debug front end are all held to it.
bool module_name_confined(std::string_view name);
