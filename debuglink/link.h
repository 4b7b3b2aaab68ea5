// State shared by the parts of the debugger link: the socket, the current exchange, the
// stepping state, the per-module tables and the debug frames.
#pragma once
#include <csetjmp>
#include <cstddef>
#include <cstdint>

#include "debuglink/wire.h"
#include "frontend/parser.h"
#include "store/store.h"

constexpr int LINK_MODULES = 256;
constexpr int STOP_WAIT_MS = 2 * 60 * 60 * 1000;   // a message while stopped

// ---- the socket ----
bool link_up();
// A link failure: the text goes to the journal, the link is closed and the debugger port
// cleared. Inside an exchange the jump goes back to it; otherwise the caller sees false.
void link_fail(const char* text);
// Sends a payload (and waits for its acknowledgement); false when the link is down or failed.
bool link_send(const char* payload, size_t len);
// The same with a kind letter before the text.
bool link_send_kind(char kind, const char* text, size_t len);
bool link_receive(LinkMessage* m, int timeout_ms);

// An exchange: a link failure inside it jumps back to where it began. Only one is active.
extern sigjmp_buf exchange_env;
extern bool exchange_active;

// ---- stepping ----
struct Stepping {
  bool stepping, into, out, running;
  int depth_marker;
};
extern Stepping step_state;

// ---- per-module tables ----
struct CondEntry {
  uint16_t line;
  StatementList stmts;
};
struct TraceEntry {
  uint16_t line;
  char* label;
  size_t len;
};
struct ModuleTables {
  uint16_t* lines;
  size_t nlines;
  CondEntry* conds;
  size_t nconds;
  TraceEntry* traces;
  size_t ntraces;
};
extern ModuleTables module_tables[LINK_MODULES];
void tables_clear_all();
// The module number of a name (backslashes count as '/'); -1 when no module has it.
int module_by_name(const char* name, size_t len);
// Replace one module's table from the list part of a message (the text after "name:").
void tables_set_lines(int module, Span list);
void tables_set_conditions(int module, Span list);
void tables_set_traces(int module, Span list);
// The module-fetch form: traces "###" lines "$$$" conditions; "&&&&" means none.
void tables_set_all(int module, const char* p, size_t n);
bool table_has_line(int module, uint16_t line);
const TraceEntry* table_trace_in(int module, unsigned first, unsigned last);

// ---- debug frames ----
struct DebugFrame {
  uint32_t name;          // function name index; 0 for the outermost frame and nameless calls
  int frame_base, param_count, local_count;
  int jump_index;         // where the call's function frame sits; a jump below it leaves the call
  bool saved_stepping;
  char* trace_label;      // the label of the trace point that reported the call (owned), or null
  size_t trace_len;
  // Where this frame is while an inner one runs (recorded when the inner one is pushed).
  uint8_t at_module;
  uint32_t at_position;
  int at_top, at_block_depth;
};
extern DebugFrame* debug_frames;
extern int debug_frame_count;   // the outermost frame included
void frames_reset();
// A jump to the jump-stack frame at index leaves the calls above it (the jump observer).
void debug_unwind(int index);
// The call-stack text: "module:function:line:column" per frame from the outermost, ";" between.
void frames_text(char** out, size_t* len);
const char* frame_function_name(int index, size_t* len);
int frame_module(int index);

// ---- evaluation ----
// The reply to an evaluation message (payload after "E").
void evaluate_message(const char* p, size_t n, LinkMessage* reply);
// Runs parsed statements in the innermost frame with the evaluation flag on. Returns 1 when the
// last value is true, 0 when false, and -1 on an error, whose reply text is left in *reply.
int evaluate_condition(const StatementList* stmts, LinkMessage* reply);
// Parses a conditional break point's expression; false (reported) when it does not parse.
bool parse_condition(const char* text, size_t n, int module, StatementList* out);

// A link failure leaves an evaluation in progress (its parser reported over the link): the
// evaluation's state is given back before the jump to the exchange.
void evaluation_abandon();

// Appends to a reply.
void reply_set(LinkMessage* m, const char* p, size_t n);
void reply_add(LinkMessage* m, const char* p, size_t n);
