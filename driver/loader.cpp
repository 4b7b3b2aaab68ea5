// Module loading: every listed module read from the module directory and parsed, once per process.
#include "driver/loader.h"

#include <cstdio>
#include <cstring>

#include "driver/compiled_module.h"
#include "driver/config.h"
#include "driver/debughooks.h"
#include "driver/errors.h"
#include "driver/intake.h"
#include "frontend/parser.h"

bool modules_loaded = false;
StatementList top_statements = {nullptr, 0, 0, false};
bool module_compiled[MODULE_LIMIT + 2];
// The file of a compiled module, kept for the next one.
static SourceBuffer image_file = {nullptr, 0, false};

void check_module_kind(int index) {
  const char* name = module_name(index);
  const char* base = std::strrchr(name, '/');
  base = base ? base + 1 : name;
  const char* dot = std::strrchr(base, '.');
  if (!dot) raise_parse_error(1170, "モジュール名不正 '%s'", name);
  if (dot[1] != 'j' && dot[1] != 'J') raise_parse_error(1170, "モジュール名不正 '%.*s'", 255, name);
  if (dot[2] == 'o' || dot[2] == 'O')
    module_compiled[index] = true;
  else if (dot[2] != 's' && dot[2] != 'S')
    raise_parse_error(1175, "モジュール名不正 '%.*s'", 255, name);
}

void module_path(int index, char* out, size_t cap) {
  const char* name = module_name(index);
  if (cmdline_mode || module_dir[0] == 0) {
    std::snprintf(out, cap, "%s", name);
    return;
  }
  size_t n = std::strlen(module_dir);
  const char* sep = n > 0 && module_dir[n - 1] == '/' ? "" : "/";
  std::snprintf(out, cap, "%s%s%s", module_dir, sep, name);
}

void load_modules() {
  if (modules_loaded) return;
  modules_loaded = true;
  for (int i = 0; i <= module_last; i++) {
    char path[4096];
    // scriptcgi-debug asks its front end first, unless the request said "L".
    if (!modules_from_files && debug_link_open() && debug_fetch_module(i, &top_statements)) continue;
    module_path(i, path, sizeof path);
    if (module_compiled[i]) {
      parse_module = i;
      parse_line = 0;
      size_t image_file_size = read_source_file(path, &image_file);
      install_compiled_module(reinterpret_cast<const unsigned char*>(image_file.text), image_file_size, i,
                              &top_statements);
      continue;
    }
    load_module_source(path, i, &top_statements);
  }
}
