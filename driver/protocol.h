// The driver's records and error handlers; the response stream itself is response/stream.h.
#pragma once
#include <cstddef>
#include <cstdint>

#include "response/stream.h"
#include "store/store.h"

// Records written outside any handler.
void write_completion_record();
void write_fatal_record(const char* message, size_t len);
void write_journal_failure_record(const char* path);

// The driver's handlers for what reaches the outermost frame: the intake handler (request
// commands, loading, top-level code), the run handler (the top function) and the command-line
// handler. Each writes its record (or text) and its journal text.
void handle_intake(DW code);
void handle_run(DW code);
void handle_command_line(DW code);
