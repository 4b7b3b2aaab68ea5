// Raising errors: the message, its record and journal text through the reporter, the choice of
// the receiving frame, and the fatal stop.
#include "errors/raise.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "errors/report.h"
#include "platform/layout.h"

LARGE_STATIC char message_buffer[MESSAGE_BUFFER_SIZE];
bool throw_pending = false;
bool running = false;
int parse_module = 0;
int parse_line = 0;
int cur_module = 0;
uint32_t cur_position = 0;

// The caller's part of a message is formatted here first, so that arguments that point into
// message_buffer (an earlier error text) are read before the buffer is overwritten.
LARGE_STATIC static char format_scratch[MESSAGE_BUFFER_SIZE];
// Set while a raise builds its record and journals it: an allocation failure there cannot be
// raised again without recursion, so it ends the process.
static bool building_record = false;

void (*fatal_exit)(int status) = std::exit;

// The prefix is in the buffer; the caller's text (formatted beforehand into format_scratch)
// follows it, cut at the end of the buffer.
static size_t compose_message(int prefixLen) {
  size_t used = prefixLen < 0 ? 0 : static_cast<size_t>(prefixLen);
  if (used >= MESSAGE_BUFFER_SIZE) used = MESSAGE_BUFFER_SIZE - 1;
  size_t room = MESSAGE_BUFFER_SIZE - 1 - used;
  size_t add = strnlen(format_scratch, room);
  std::memcpy(message_buffer + used, format_scratch, add);
  used += add;
  message_buffer[used] = 0;
  return used;
}

static const char* module_text(int index) {
  const char* name = reporter.module_name ? reporter.module_name(index) : nullptr;
  return name ? name : "";
}

// Builds the record of the message in the buffer and journals the text.
static DW record_and_journal(int code, size_t len) {
  if (building_record) fatal_stop(message_buffer);
  building_record = true;
  DW rec = reporter.error_record ? reporter.error_record(code, message_buffer, len) : 0;
  if (reporter.journal) {
    reporter.journal(message_buffer, len);
    reporter.journal("\n", 1);
  }
  building_record = false;
  return rec;
}

static void report(size_t len) {
  if (reporter.error_text) reporter.error_text(message_buffer, len);
}

// Before the driver installs its outermost frame no receiver exists: the process ends. The text
// also goes to standard error, where the web server logs it (and a test run shows it).
[[noreturn]] static void jump_outermost(DW rec) {
  if (jump_depth <= 0) {
    std::fprintf(stderr, "no error frame: %s\n", message_buffer);
    fatal_stop(message_buffer);
  }
  jump_to(0, rec);
}

void raise_parse_error(int code, const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  std::vsnprintf(format_scratch, sizeof format_scratch, fmt, ap);
  va_end(ap);
  int pre = std::snprintf(message_buffer, MESSAGE_BUFFER_SIZE, "PARSE ERROR %d (%s:%d) : ", code,
                          module_text(parse_module), parse_line);
  size_t len = compose_message(pre);
  DW rec = record_and_journal(code, len);
  // A debugger evaluation receives the errors of the text it parses.
  int evalFrame = reporter.debug_eval_frame ? reporter.debug_eval_frame() : -1;
  if (evalFrame >= 0 && evalFrame < jump_depth) jump_to(evalFrame, rec);
  report(len);
  jump_outermost(rec);
}

void raise_eval_error(int code, const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  std::vsnprintf(format_scratch, sizeof format_scratch, fmt, ap);
  va_end(ap);
  int pre = std::snprintf(message_buffer, MESSAGE_BUFFER_SIZE, "EVAL ERROR %d (%s:%d:%d) : ", code,
                          module_text(cur_module), static_cast<int>(cur_position & 0xFFFF),
                          static_cast<int>((cur_position >> 16) & 0x7FFF));
  size_t len = compose_message(pre);
  DW rec = record_and_journal(code, len);
  int evalFrame = reporter.debug_eval_frame ? reporter.debug_eval_frame() : -1;
  if (evalFrame >= 0 && evalFrame < jump_depth) jump_to(evalFrame, rec);
  report(len);
  if (!running) jump_outermost(rec);
  for (int i = jump_depth - 1; i >= 0; i--) {
    if (jump_stack[i].kind == JF_TRY) {
      throw_pending = true;
      jump_to(i, rec);
    }
  }
  jump_outermost(rec);
}

void fatal_stop(const char* message) {
  if (reporter.fatal) reporter.fatal(message, std::strlen(message));
  fatal_exit(0);
  std::abort();
}
