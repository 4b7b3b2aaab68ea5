// The driver's reporter: error texts and console output to the journal, to standard output in
// command-line mode and to the debugger link; the error record; the fatal stop's closing.
#include <cstdio>
#include <cstring>

#include "driver/config.h"
#include "driver/debughooks.h"
#include "driver/errors.h"
#include "driver/journal.h"
#include "driver/protocol.h"

static DW error_record(int code, const char* text, size_t len) {
  char codeText[16];
  int cl = std::snprintf(codeText, sizeof codeText, "%d", code);
  return make_error_record(codeText, static_cast<size_t>(cl), text, len);
}

static void error_text(const char* text, size_t len) {
  if (cmdline_mode) {
    out_write(text, len);
    out_write("\n", 1);
    out_flush();
  } else if (debug_link_open()) {
    debug_report_text(text, len);
  }
}

static void console(char label, const char* text, size_t len) {
  const char* prefix = label == 'L' ? "(L) " : "(E) ";
  if (debug_link_open()) debug_log(label, text, len);
  if (cmdline_mode) {
    out_write(prefix, 4);
    out_write(text, len);
    out_write("\n", 1);
    out_flush();
  }
  journal_append(prefix, 4);
  journal_append(text, len);
  journal_append("\n", 1);
}

static void fatal(const char* message, size_t len) {
  write_fatal_record(message, len);
  if (journal_path[0]) journal_write();
  if (debug_link_open()) debug_close();
  out_close();
}

static void journal(const char* text, size_t len) { journal_append(text, len); }

// Installed during static initialisation: it is in place before anything can raise, in the
// engine and in every program that links the driver.
[[maybe_unused]] static const bool reporter_installed = [] {
  set_reporter({module_name, error_record, journal, error_text, console, debug_eval_frame, fatal});
  return true;
}();
