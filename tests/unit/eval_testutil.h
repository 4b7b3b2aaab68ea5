// Helpers of the evaluator's unit tests: run a script from source text in a fresh store and
// collect its console output and whatever reached the outermost frame.
#pragma once
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "driver/config.h"
#include "driver/errors.h"
#include "driver/journal.h"
#include "eval/eval.h"
#include "frontend/parser.h"

struct ScriptResult {
  std::string log;     // console lines, without their "(L) " / "(E) " labels
  std::string error;   // "" after a normal end; "<code>: <message>" for an error record reaching
                       // the outermost frame; "throw <text>" for any other thrown value
};

// The console lines of the journal collection ("(L) x\n" gives "x\n"; "(E) x\n" gives "E:x\n").
inline std::string console_lines() {
  std::string all;
  for (JournalChunk* c = journal_first; c; c = c->next) all.append(c->text, c->len);
  all.append(journal_buffer, journal_used);
  std::string out;
  size_t p = 0;
  while (p < all.size()) {
    size_t e = all.find('\n', p);
    if (e == std::string::npos) e = all.size();
    std::string line = all.substr(p, e - p);
    if (line.rfind("(L) ", 0) == 0) out += line.substr(4) + "\n";
    else if (line.rfind("(E) ", 0) == 0) out += "E:" + line.substr(4) + "\n";
    p = e + 1;
  }
  return out;
}

inline std::string describe_jump(DW code) {
  if (dw_type(code) == T_ERROR) {
    auto* p = static_cast<uint8_t*>(area_ptr(code));
    uint16_t ml, cl;
    std::memcpy(&ml, p + 2, 2);
    std::memcpy(&cl, p + 4, 2);
    return std::string(reinterpret_cast<char*>(p + 6), cl) + ": " +
           std::string(reinterpret_cast<char*>(p + 8 + cl), ml);
  }
  char buf[3072];
  size_t len;
  bool owned;
  char* t = value_to_text(code, &len, buf, sizeof buf, &owned);
  std::string s = "throw " + std::string(t, len);
  if (owned) std::free(t);
  return s;
}

// A fatal stop ends a request with status 0 (its record says what happened); in a test it must
// fail the test program instead of ending it as if every test had passed.
[[noreturn]] inline void fatal_in_test(int) {
  std::fputs("fatal stop inside a test\n", stderr);
  std::_Exit(70);
}

inline void eval_test_reset() {
  static bool modules = false;
  if (!modules) {
    fatal_exit = fatal_in_test;
    module_last = -1;
    module_add("t.js", 4);
    modules = true;
  }
  store_reset();
  name_table_reset();
  eval_reset();
  for (JournalChunk* c = journal_first; c;) {
    JournalChunk* n = c->next;
    std::free(c);
    c = n;
  }
  journal_first = journal_last = nullptr;
  journal_used = 0;
  throw_pending = false;
  cur_module = 0;
  cur_position = 0;
}

inline char script_text[1 << 16];

// The top-level statements of the script run last: one list for every run (a list that grew is
// kept, not lost to the jump that may end a run).
inline StatementList script_list{};

// Parses and runs the top-level statements; everything the run leaves is process-wide state.
__attribute__((noinline)) inline void run_script_body() {
  script_list.count = 0;
  parse_module_text(script_text, 0, &script_list);
  store_switch_to_run_phase();
  running = true;
  eval_run_statements(script_list.items, script_list.count);
}

inline ScriptResult run_script(const char* src) {
  eval_test_reset();
  std::strncpy(script_text, src, sizeof script_text - 1);
  ScriptResult res;
  jump_depth = 0;
  int fr = jump_push(JF_TRY);
  if (JUMP_ARM(fr)) {
    jump_depth = 0;
    running = false;
    res.error = describe_jump(jump_code);
    res.log = console_lines();
    return res;
  }
  run_script_body();
  jump_depth = 0;
  running = false;
  res.log = console_lines();
  return res;
}

// Only the error code of what reached the outermost frame ("" when none).
inline std::string error_code_of(const ScriptResult& r) {
  size_t c = r.error.find(':');
  return r.error.rfind("throw ", 0) == 0 || c == std::string::npos ? r.error : r.error.substr(0, c);
}

// A table row: a script, its expected console lines and its expected error (code, "throw ..."
// or "" for a normal end).
struct ScriptCase {
  const char* name;
  const char* src;
  const char* log;
  const char* error;
};

inline void run_scripts(const ScriptCase* cases, size_t n) {
  for (size_t i = 0; i < n; i++) {
    ScriptResult r = run_script(cases[i].src);
    EXPECT_EQ(error_code_of(r), cases[i].error) << cases[i].name << "\n" << r.error;
    EXPECT_EQ(r.log, cases[i].log) << cases[i].name;
  }
}
