// Parser throughput: generates a large module of realistic script and prints how fast comment
// removal and parsing run, in MB/s.
#include <chrono>
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
#include "store/store_state.h"
#include "bench/sample_module.h"


static StatementList list;

// Parses text as module 0 under an outermost frame; false (with the message printed) on error.
static bool parse_once(char* text) {
  jump_depth = 0;
  int fr = jump_push(JF_TRY);
  if (JUMP_ARM(fr)) {
    std::printf("parse failed: %s\n", message_buffer);
    return false;
  }
  list = StatementList{nullptr, 0, 0, false};
  parse_module_text(text, 0, &list);
  jump_depth = 0;
  return true;
}

static void fresh_state() {
  store_reset();
  config_reset();
  name_table_reset();
  global_top = -1;
  module_add("bench.js", 8);
}

int main(int argc, char** argv) {
  size_t target = argc > 1 ? std::strtoul(argv[1], nullptr, 10) << 20 : size_t{2} << 20;
  std::string module;
  for (int n = 0; module.size() < target; n++) append_sample_function(module, n, false);
  double mb = static_cast<double>(module.size()) / (1 << 20);
  const int rounds = 5;
  double best_parse = 1e9, best_strip = 1e9;
  size_t statements = 0;
  for (int r = 0; r < rounds; r++) {
    fresh_state();
    std::string copy = module;
    auto t0 = std::chrono::steady_clock::now();
    strip_comments(copy.data());
    auto t1 = std::chrono::steady_clock::now();
    std::string copy2 = module;
    auto t2 = std::chrono::steady_clock::now();
    if (!parse_once(copy2.data())) return 1;
    auto t3 = std::chrono::steady_clock::now();
    best_strip = std::min(best_strip, std::chrono::duration<double>(t1 - t0).count());
    best_parse = std::min(best_parse, std::chrono::duration<double>(t3 - t2).count());
    statements = list.count;
  }
  std::printf("module: %.2f MB, %zu top-level statements, %u names\n", mb, statements, name_count);
  std::printf("store used by the trees: %d of %u word-area blocks, %d of %u record blocks\n", word_last + 1,
              WORD_MAX_BLOCKS, dw_cur_block + 1, DW_MAX_BLOCKS);
  std::printf("comment removal: %.1f MB/s\n", mb / best_strip);
  std::printf("parse (comments removed, tokenized, trees built): %.1f MB/s (%.1f ms)\n", mb / best_parse,
              best_parse * 1000);
  return 0;
}
