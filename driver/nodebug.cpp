// The debugger-link calls of the plain engine: they do nothing.
#include "driver/debughooks.h"

bool debug_program = false;

bool debug_connect(const char*, const char*) { return false; }
void debug_close() {}
bool debug_link_open() { return false; }
void debug_report_text(const char*, size_t) {}
int debug_eval_frame() { return -1; }
void debug_end_run() {}
void debug_stop_hook(DW) {}
void debug_log(char, const char*, size_t) {}
void debug_call_enter(DW, int, int, DW) {}
void debug_call_leave(DW) {}
bool debug_fetch_module(int, StatementList*) { return false; }
