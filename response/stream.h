// The response stream: standard output, the fields of its records and the record counters.
#pragma once
#include <cstddef>
#include <cstdint>

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
// Decimal digits of n.
int digit_count(uint64_t n);
// Writes n's d = digit_count(n) digits at out (no terminator); returns out + d. The records of
// every request use it instead of the printf family, whose code and tables a small request would
// otherwise page in.
char* decimal_digits(char* out, uint64_t n, int d);
