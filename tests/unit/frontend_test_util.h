// Helpers of the front end's unit tests: a fresh front end, parsing snippets into a tree dump,
// and catching parse errors with their code and text.
#pragma once
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "driver/config.h"
#include "driver/errors.h"
#include "eval/globals.h"
#include "frontend/parser.h"
#include "frontend/tree.h"
#include "store/store.h"

// Result of a parse: the dump of the statements, or the error that ended it.
struct ParseOutcome {
  int code;            // 0 when the parse succeeded
  std::string text;    // dump, or the whole error text
};

// Clears the store, the name table, the global table and the module list; registers "t.js" as
// module 0.
inline void frontend_fresh() {
  store_reset();
  config_reset();
  name_table_reset();
  global_top = -1;
  module_add("t.js", 4);
  parse_module = 0;
  parse_line = 1;
  no_stop_mode = false;
}

namespace frontend_test {
inline char* source_copy;             // the text being parsed: exactly as long as the source
inline StatementList parsed;          // statements of the last successful parse
inline void (*action)() = nullptr;
inline void parse_copy() { parse_module_text(source_copy, 0, &parsed); }
}  // namespace frontend_test

// Runs fn under an outermost frame; returns the error code (0 when fn returned).
inline int run_catching(void (*fn)()) {
  jump_depth = 0;
  int fr = jump_push(JF_TRY);
  if (JUMP_ARM(fr)) {
    jump_depth = 0;
    int code = 0;
    std::sscanf(message_buffer, "%*s ERROR %d", &code);
    return code ? code : -1;
  }
  fn();
  jump_depth = 0;
  return 0;
}

// Parses src as module 0 (comments stripped, statements appended to a fresh list). The text is
// copied into an allocation of exactly its length + 1, so a read past its end is caught by the
// address sanitizer.
inline ParseOutcome parse_source(const std::string& src, bool positions = false) {
  using namespace frontend_test;
  source_copy = static_cast<char*>(std::malloc(src.size() + 1));
  std::memcpy(source_copy, src.c_str(), src.size() + 1);
  parsed = StatementList{nullptr, 0, 0, false};
  int code = run_catching(parse_copy);
  std::free(source_copy);
  if (code) return {code, message_buffer};
  return {0, tree_dump_list(parsed.items, parsed.count, positions)};
}

// The error text after the "PARSE ERROR n (module:line) : " prefix.
inline std::string error_detail(const std::string& text) {
  size_t at = text.find(" : ");
  return at == std::string::npos ? text : text.substr(at + 3);
}
