// Errors and unwinding: the error record, the message buffer, the jump stack, the raising
// operations and the fatal stop.
#include "driver/errors.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "driver/config.h"
#include "driver/debughooks.h"
#include "driver/journal.h"
#include "driver/protocol.h"

static JumpFrame initial_jump_stack[256];
JumpFrame* jump_stack = initial_jump_stack;
int jump_depth = 0;
int jump_capacity = 256;
DW jump_code = 0;

char message_buffer[MESSAGE_BUFFER_SIZE];
bool throw_pending = false;
bool running = false;
int parse_module = 0;
int parse_line = 0;
int cur_module = 0;
uint32_t cur_position = 0;

// The caller's part of a message is formatted here first, so that arguments that point into
// message_buffer (an earlier error text) are read before the buffer is overwritten.
static char format_scratch[MESSAGE_BUFFER_SIZE];
// Set while a raise builds its record and journals it: an allocation failure there cannot be
// raised again without recursion, so it ends the process.
static bool building_record = false;

static void grow_jump_stack() {
  int cap = jump_capacity * 2;  // doubling keeps deep recursion linear
  auto* grown = static_cast<JumpFrame*>(std::malloc(sizeof(JumpFrame) * cap));
  if (!grown) raise_eval_error(1400, "メモリ領域を取得できません");
  // A saved context holds register values only, so a copy is as good as the original.
  std::memcpy(static_cast<void*>(grown), jump_stack, sizeof(JumpFrame) * jump_capacity);
  if (jump_stack != initial_jump_stack) std::free(jump_stack);
  jump_stack = grown;
  jump_capacity = cap;
}

int jump_push(uint8_t kind) {
  if (jump_depth >= jump_capacity) grow_jump_stack();
  jump_stack[jump_depth].kind = kind;
  return jump_depth++;
}

void jump_to(int index, DW code) {
  if (__builtin_expect(debug_frames_on, 0)) debug_unwind(index);
  jump_code = code;
  siglongjmp(jump_stack[index].ctx, 1);
}

DW make_error_value(uint8_t codeKind, const char* code, size_t codeLen, const char* msg, size_t msgLen) {
  if (codeLen > 0xFFFF || msgLen > 0xFFFF) raise_eval_error(2360, "例外ステートメント不正");
  size_t need = 6 + codeLen + 2 + msgLen + 1;
  size_t size = msgLen + 36;
  if (size < need) size = need;
  void* mem;
  DW h = area_new(size, &mem);
  auto* p = static_cast<uint8_t*>(mem);
  p[0] = T_ERROR;
  p[1] = codeKind;
  uint16_t ml = static_cast<uint16_t>(msgLen), cl = static_cast<uint16_t>(codeLen);
  std::memcpy(p + 2, &ml, 2);
  std::memcpy(p + 4, &cl, 2);
  if (codeLen) std::memcpy(p + 6, code, codeLen);
  p[6 + codeLen] = 0;
  p[6 + codeLen + 1] = 0;
  if (msgLen) std::memcpy(p + 8 + codeLen, msg, msgLen);
  p[8 + codeLen + msgLen] = 0;
  return (h & 0xF0FFFFFF) | (static_cast<DW>(T_ERROR) << 24);
}

DW make_error_record(const char* code, size_t codeLen, const char* msg, size_t msgLen) {
  return make_error_value(0, code, codeLen, msg, msgLen);
}

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

// Builds the record of the message in the buffer and journals the text.
static DW record_and_journal(int code, size_t len) {
  if (building_record) fatal_stop(message_buffer);
  building_record = true;
  char codeText[16];
  int cl = std::snprintf(codeText, sizeof codeText, "%d", code);
  DW rec = make_error_record(codeText, static_cast<size_t>(cl), message_buffer, len);
  journal_append(message_buffer, len);
  journal_append("\n", 1);
  building_record = false;
  return rec;
}

static void report(size_t len) {
  if (cmdline_mode) {
    out_write(message_buffer, len);
    out_write("\n", 1);
    out_flush();
  } else if (debug_link_open()) {
    debug_report_text(message_buffer, len);
  }
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
                          module_name(parse_module), parse_line);
  size_t len = compose_message(pre);
  DW rec = record_and_journal(code, len);
  // A debugger evaluation receives the errors of the text it parses.
  int evalFrame = debug_eval_frame();
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
                          module_name(cur_module), static_cast<int>(cur_position & 0xFFFF),
                          static_cast<int>((cur_position >> 16) & 0x7FFF));
  size_t len = compose_message(pre);
  DW rec = record_and_journal(code, len);
  int evalFrame = debug_eval_frame();
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
  write_fatal_record(message, std::strlen(message));
  if (journal_path[0]) journal_write();
  if (debug_link_open()) debug_end_run();
  out_close();
  std::exit(0);
}
