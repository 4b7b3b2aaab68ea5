// The driver's records (completion, fatal, journal failure) and its handlers of what reaches the
// outermost frame.
#include "driver/protocol.h"

#include <cstdio>
#include <cstring>

#include "driver/errors.h"
#include "driver/journal.h"
#include "platform/layout.h"
#include "response/stream.h"

void write_completion_record() {
  char rec[1 + 4 * 24];
  size_t n = 0;
  rec[n++] = 'C';
  n += number_field(count_a_records, rec + n);
  n += number_field(count_h_records, rec + n);
  n += number_field(count_alert_records, rec + n);
  n += number_field(count_yz_records, rec + n);
  out_write(rec, n);
  out_flush();
}

// "S" + code field + a plain field of the message, for records that are never encoded.
static void write_plain_error(const char* codeField, const char* message, size_t len) {
  char head[24];
  out_write("S", 1);
  out_text(codeField);
  int d = digit_count(len);
  head[0] = static_cast<char>('0' + d);
  out_write(head, static_cast<size_t>(decimal_digits(head + 1, len, d) - head));
  out_write(message, len);
  out_flush();
}

void write_fatal_record(const char* message, size_t len) { write_plain_error("148555", message, len); }

void write_journal_failure_record(const char* path) {
  char msg[512];
  int n = std::snprintf(msg, sizeof msg, "open&lock of jounal file(%s)", path);
  if (n < 0) n = 0;
  if (static_cast<size_t>(n) >= sizeof msg) n = sizeof msg - 1;
  write_plain_error("149999", msg, static_cast<size_t>(n));
}

// ---- the driver's handlers ----

// Fields are encoded into these before anything is written, so an encoding error (1585) that
// unwinds to the outermost frame again leaves no half record behind.
LARGE_STATIC static char code_field[256];
LARGE_STATIC static char text_field[MESSAGE_BUFFER_SIZE];

static void write_error_record(DW rec) {
  size_t cl, ml;
  const char* code = error_code_text(rec, &cl);
  const char* msg = error_message_text(rec, &ml);
  size_t cf = field_encode(code, cl, code_field, sizeof code_field);
  size_t tf = field_encode(msg, ml, text_field, 4096);
  out_write("S", 1);
  out_write(code_field, cf);
  out_write(text_field, tf);
  out_flush();
}

static const char* string_text(DW h, size_t* len) {
  const char* t = str_text(h);
  *len = strnlen(t, str_rec(h)->len);
  return t;
}

static void intake_error(DW rec) {
  write_error_record(rec);
  size_t ml;
  const char* msg = error_message_text(rec, &ml);
  journal_append("\n", 1);
  journal_append(msg, ml);
  journal_append("\n", 1);
}

static void run_error(DW rec) {
  write_error_record(rec);
  size_t cl, ml;
  const char* code = error_code_text(rec, &cl);
  const char* msg = error_message_text(rec, &ml);
  journal_append_text("\nERROR: CODE=");
  journal_append(code, cl);
  journal_append_text(", MESSAGE='");
  journal_append(msg, ml);
  journal_append_text("'\n");
}

static void run_string(DW h) {
  size_t len;
  const char* t = string_text(h, &len);
  size_t tf = field_encode(t, len, text_field, sizeof text_field);
  out_write("S10", 3);
  out_write(text_field, tf);
  out_flush();
  journal_append_text("\nERROR: MESSAGE='");
  journal_append(t, len);
  journal_append_text("'\n");
}

static void run_other(DW) {
  out_write("S1010", 5);
  out_flush();
  journal_append_text("\nERROR: CODE=, MESSAGE=\n");
}

// The command-line handler's texts carry the full-width colon as Shift-JIS bytes.
#define SJIS_COLON "\x81\x46"

static void cmdline_error(DW rec) {
  size_t cl, ml;
  const char* code = error_code_text(rec, &cl);
  const char* msg = error_message_text(rec, &ml);
  out_write("ERROR  ", 7);
  out_write(code, cl);
  out_write(SJIS_COLON, 2);
  out_write(msg, ml);
  out_flush();
  journal_append("\n", 1);
  journal_append(msg, ml);
  journal_append("\n", 1);
}

static void cmdline_string(DW h) {
  size_t len;
  const char* t = string_text(h, &len);
  out_text("ERROR" SJIS_COLON " ");
  out_write(t, len);
  out_flush();
  journal_append_text("\nERROR" SJIS_COLON " ");
  journal_append(t, len);
  journal_append("\n", 1);
}

static void cmdline_other(DW) {}

enum { HK_ERROR, HK_STRING, HK_OTHER };
using HandlerFn = void (*)(DW);
static constexpr HandlerFn intake_handlers[3] = {intake_error, run_string, run_other};
static constexpr HandlerFn run_handlers[3] = {run_error, run_string, run_other};
static constexpr HandlerFn cmdline_handlers[3] = {cmdline_error, cmdline_string, cmdline_other};

static int handled_kind(DW h) {
  switch (dw_type(h)) {
    case T_ERROR: return HK_ERROR;
    case T_STRING: return HK_STRING;
    default: return HK_OTHER;
  }
}

void handle_intake(DW code) { intake_handlers[handled_kind(code)](code); }
void handle_run(DW code) { run_handlers[handled_kind(code)](code); }
void handle_command_line(DW code) { cmdline_handlers[handled_kind(code)](code); }
