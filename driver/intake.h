// Request intake: the request buffer and the commands it carries.
#pragma once
#include <cstddef>

#include "driver/config.h"

extern char call_text[TOP_FUNCTION_MAX + 1];   // the "P" call text
extern size_t call_len;
extern bool call_given;
extern bool modules_from_files;                // "L": modules from files even with a debugger

// Executes the commands of the request text (body_buf) in order; errors are raised.
void run_request_commands();
// Back to the state at process start: no call text, no temporaries (tests).
void intake_reset();
// Argument mode: NAME=VALUE items separated by ";" become string globals.
void define_argument_variables(const char* list);
