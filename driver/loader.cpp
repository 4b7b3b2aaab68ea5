// Module loading: every listed module read from the module directory and parsed, once per process.
#include "driver/loader.h"

#include <cstdio>
#include <cstdlib>
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

void loader_reset() {
  modules_loaded = false;
  if (top_statements.owned) std::free(top_statements.items);
  top_statements = {nullptr, 0, 0, false};
  std::memset(module_compiled, 0, sizeof module_compiled);
}

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

// The separator put between the module directory and a name ("" when there is none to add).
static const char* module_dir_separator() {
  size_t n = std::strlen(module_dir);
  return n == 0 || module_dir[n - 1] == '/' ? "" : "/";
}

bool module_name_confined(std::string_view name) {
  if (name.empty() || name.front() == '/' || name.front() == '\\') return false;
  if (name.find('\0') != std::string_view::npos) return false;
  size_t room = MODULE_PATH_MAX - 1 - std::strlen(module_dir) - std::strlen(module_dir_separator());
  if (name.size() > MODULE_NAME_MAX || name.size() > room) return false;
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = name.find_first_of("/\\", start);
    if (end == std::string_view::npos) end = name.size();
    if (name.substr(start, end - start) == "..") return false;
    start = end + 1;
  }
  return true;
}

// The file path of a module; false when it does not fit (it is never cut).
static bool module_path(int index, char* out, size_t cap) {
  const char* parts[3] = {"", "", module_name(index)};
  if (!cmdline_mode && module_dir[0] != 0) {
    parts[0] = module_dir;
    parts[1] = module_dir_separator();
  }
  size_t n = 0;
  for (const char* part : parts) {
    size_t len = std::strlen(part);
    if (len >= cap - n) return false;
    std::memcpy(out + n, part, len);
    n += len;
  }
  out[n] = 0;
  return true;
}

void load_modules() {
  if (modules_loaded) return;
  modules_loaded = true;
  for (int i = 0; i <= module_last; i++) {
    char path[MODULE_PATH_MAX];
    const char* name = module_name(i);
    // Outside command-line mode every name stays inside the module directory.
    if (!module_path(i, path, sizeof path) || (!cmdline_mode && !module_name_confined(name))) {
      parse_module = i;
      parse_line = 0;
      raise_parse_error(1170, "モジュール名不正 '%.*s'", 255, name);
    }
    // scriptcgi-debug asks its front end first, unless the request said "L".
    if (!modules_from_files && debug_link_open() && debug_fetch_module(i, &top_statements)) continue;
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
