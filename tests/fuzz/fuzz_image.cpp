// libFuzzer entry point for the compiled-module installer: every input is installed as the first
// module of a fresh engine (the name table is replaced) and again after a source module (the
// blocks are relocated and the names merged). A refusal is a parse error caught at the
// outermost frame; anything else the sanitizers see is a fault.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "driver/compiled_module.h"
#include "driver/config.h"
#include "driver/errors.h"
#include "eval/eval.h"
#include "eval/globals.h"
#include "frontend/parser.h"
#include "frontend/tree.h"
#include "store/store.h"

namespace {

const uint8_t* input;
size_t input_size;
StatementList statements;
char source[] = "var before = {k: [1, 'two', 3.5]};\nfunction f(a, b) { return a + b + before.k.length; }\n";
char source_copy[sizeof source];

// The name pool keeps its old buffers when it grows or is replaced (texts may still be pointed
// at, and a process serves one request); between inputs the last one is given back here.
char* pool_seen;
uint32_t pool_seen_cap;

void fresh() {
  if (pool_seen && name_pool != pool_seen) {
    std::free(name_pool);
    name_pool = pool_seen;
    name_pool_cap = pool_seen_cap;
  }
  if (statements.owned) std::free(statements.items);
  store_reset();
  config_reset();
  module_add("s.js", 4);
  module_add("f.jo", 4);
  name_table_reset();
  eval_reset();
  pool_seen = name_pool;
  pool_seen_cap = name_pool_cap;
  parse_module = 0;
  parse_line = 1;
  no_stop_mode = false;
  statements = StatementList{nullptr, 0, 0, false};
}

// Runs the installation under an outermost frame; a refusal lands there.
void install_guarded(bool after_source) {
  jump_depth = 0;
  int fr = jump_push(JF_TRY);
  if (JUMP_ARM(fr)) {
    jump_depth = 0;
    return;
  }
  if (after_source) {
    std::memcpy(source_copy, source, sizeof source);
    parse_module_text(source_copy, 0, &statements);
  }
  store_raise_floors();
  install_compiled_module(input, input_size, 1, &statements);
  jump_depth = 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  input = data;
  input_size = size;
  for (bool after : {false, true}) {
    fresh();
    install_guarded(after);
  }
  return 0;
}
