// Raising: the message buffer, the position of the code being parsed or run, the raising
// operations and the fatal stop. Where the texts go is decided by the reporter (report.h).
#pragma once
#include <cstddef>
#include <cstdint>

#include "errors/jump.h"

constexpr int MESSAGE_BUFFER_SIZE = 16384;

extern char message_buffer[MESSAGE_BUFFER_SIZE];
extern bool throw_pending;
extern bool running;            // errors reach script try statements only once this is set
extern int parse_module;        // module list entry being parsed
extern int parse_line;          // tokenizer's current line
extern int cur_module;          // module number of the node being evaluated
extern uint32_t cur_position;   // position word of the node being evaluated

// Both format the message into message_buffer behind the code and position, make the error
// record, journal the text, report it and jump: to the debugger's evaluation frame, to the
// innermost script try (run-time errors while running) or to the outermost frame.
[[noreturn]] void raise_parse_error(int code, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
[[noreturn]] void raise_eval_error(int code, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
// Writes the fatal record and the journal, closes the outputs and ends the process (status 0).
[[noreturn]] void fatal_stop(const char* message);
