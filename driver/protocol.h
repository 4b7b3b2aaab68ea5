// The response stream: fields, the driver's records and the driver's error handlers.
#pragma once
#include <cstddef>
#include <cstdint>

#include "store/store.h"

// Output counters reported by the completion record.
extern uint32_t count_a_records;      // "A" records
extern uint32_t count_h_records;      // "H" records
extern uint32_t count_alert_records;  // "s" records
extern uint32_t count_yz_records;     // "Y" and "Z" records

// Standard output: binary, written in record order.
void out_write(const void* data, size_t len);
void out_text(const char* text);
void out_flush();
void out_close();
// Whether out_close has run.
bool out_is_closed();
// Back to the state at process start: output open, counters at zero (tests).
void protocol_reset();

// Percent-encodes text into a field (prefix, length digits, text) in out; the field must fit
// outSize - 14 bytes, else run-time error 1585. Input stops at a zero byte or after maxIn bytes.
// Returns the field's length; out is zero-terminated.
size_t field_encode(const char* text, size_t maxIn, char* out, size_t outSize);
// A plain (unencoded) text field; out needs len + 12 bytes. Returns the field's length.
size_t plain_field(const char* text, size_t len, char* out);
// A number field ("0" + digit count, then the digits); out needs 22 bytes. Returns its length.
size_t number_field(uint64_t n, char* out);

// Records written outside any handler.
void write_completion_record();
void write_fatal_record(const char* message, size_t len);
void write_journal_failure_record(const char* path);

// Accessors of an error record (type 6).
const char* error_code_text(DW rec, size_t* len);
const char* error_message_text(DW rec, size_t* len);

// The driver's handlers for what reaches the outermost frame: the intake handler (request
// commands, loading, top-level code), the run handler (the top function) and the command-line
// handler. Each writes its record (or text) and its journal text.
void handle_intake(DW code);
void handle_run(DW code);
void handle_command_line(DW code);
