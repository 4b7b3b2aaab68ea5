// The debugger link of scriptcgi-debug. Until the link itself exists every call does nothing,
// but the program already behaves as the debugging variant (it knows the CLIENT key).
#include "driver/debughooks.h"

bool debug_program = true;

bool debug_connect(const char*, const char*) { return false; }
void debug_close() {}
bool debug_link_open() { return false; }
void debug_report_text(const char*, size_t) {}
int debug_eval_frame() { return -1; }
void debug_end_run() {}
void debug_stop_hook(DW) {}
void debug_log(char, const char*, size_t) {}
