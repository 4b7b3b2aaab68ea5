// Calls from the engine into the debugger link (the evaluator's stop points and console, the
// driver's connection). scriptcgi links the no-op versions (driver/nodebug.cpp); scriptcgi-debug
// links the real link (debuglink/).
#pragma once
#include <cstddef>

#include "store/store.h"

// True in scriptcgi-debug only: it knows the CLIENT configuration key and opens the link.
extern bool debug_program;

// Opens the link to the debug front end; false when nobody answers (the run goes on without it).
bool debug_connect(const char* address, const char* port);
// Closes the socket and forgets it; harmless when the link is not open.
void debug_close();
bool debug_link_open();
// Sends an error text ("D" + text) to the front end when the link is open.
void debug_report_text(const char* text, size_t len);
// Jump-stack index of the frame of a debugger evaluation in progress, -1 when there is none.
// Raised run-time errors go there instead of to a script try.
int debug_eval_frame();
// End of the run: tells an open link that the run ended ("X") and closes it.
void debug_end_run();
// Called by the evaluator before a node that may be a stop point.
void debug_stop_hook(DW node);
// Console output of the script: the label character and the text.
void debug_log(char label, const char* text, size_t len);
