// Fuzz target: a module's text through the script front end (comments stripped, tokenized,
// parsed into statements) and the tree walked by the dump; a parse either succeeds or ends in
// its numbered error.
#include <cstdint>

#include "frontend/parser.h"
#include "fuzz_support.h"

namespace {

char* text;
StatementList parsed;

void parse_text() {
  parse_module_text(text, 0, &parsed);
  tree_dump_list(parsed.items, parsed.count, true);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::engine_reset();
  module_add("fuzz.js", 7);
  // Exactly as long as the text and its terminator, so a read past the end is caught.
  text = static_cast<char*>(std::malloc(size + 1));
  std::memcpy(text, data, size);
  text[size] = 0;
  parsed = StatementList{nullptr, 0, 0, false};
  int code = fuzz::guarded(parse_text);
  if (code == -2) {
    std::fprintf(stderr, "fatal stop while parsing: %s\n", message_buffer);
    std::abort();
  }
  if (parsed.owned) std::free(parsed.items);
  std::free(text);
  return 0;
}
