// Entry points of the script front end: comment removal, module loading, statement and
// expression parsing of run-time text, and the tree dump used by tests and debugging.
#pragma once
#include <cstddef>
#include <cstdint>

#include "frontend/tree.h"

// A growable list of statement handles. owned: items was allocated by the parser (and may be
// freed when it grows); a caller may start it on its own storage with owned = false, or all
// zero (items = nullptr) to let the parser allocate.
struct StatementList {
  DW* items;
  uint32_t count;
  uint32_t capacity;
  bool owned;
};

// A source text buffer: capacity in bytes, the NUL-terminated text, owned when allocated here.
struct SourceBuffer {
  char* text;
  size_t capacity;
  bool owned;
};

// ---- process-wide parser state ----
// The line counter is parse_line (driver/errors.h), which parse errors print; positions use its
// low 16 bits. The column of a token is its distance from line_start.
extern const char* line_start;         // last line feed passed (or the start of the text)
extern bool function_just_parsed;      // set by a function literal; ends the enclosing expression
// Receives the "評価する式が不正 '%s'" diagnostic of run-time text that contained a function
// literal (console output or the debugger link); null drops it.
extern void (*parser_report_hook)(const char* message);

// Removes /* */ and // comments in place (line feeds of block comments are kept). Raises 1580
// for a block comment without its end.
void strip_comments(char* text);

// Reads a whole file (binary) into the buffer, NUL-terminated; 1165 when it cannot be opened.
// Returns the number of bytes read.
size_t read_source_file(const char* path, SourceBuffer* buf);

// Loads one source module: module becomes the module being parsed (parse_module), the line
// counter starts at 1, the file is read, cleaned of comments and its top-level statements are
// appended to list (one reference each).
void load_module_source(const char* path, int module, StatementList* list);
// As load_module_source for a text already in memory (writable, NUL-terminated), e.g. supplied
// by the debugger link.
void parse_module_text(char* text, int module, StatementList* list);

// Parses statements until the end of text, appending them to list.
void parse_statement_list(char* text, StatementList* list, bool addref, bool report_functions);
void statement_list_append(StatementList* list, DW h);

// Flags of run-time parses.
enum : unsigned {
  PARSE_NO_STOP = 1,          // nodes made with the no-stop mode on
  PARSE_STRIP_COMMENTS = 2,   // run strip_comments over the text first
  PARSE_REPORT_FUNCTIONS = 4, // report a function literal through parser_report_hook
};
// Parses run-time text (writable, NUL-terminated; it is restored unless comments are stripped)
// as one list of expressions separated by top-level commas, like the argument of eval or a
// template substitution. Up to max - 1 results (error 1123 at max) are stored in out, each with
// one reference. The line counter is 0 during the parse and restored afterwards, as are the
// no-stop mode and the scope marks. Returns the number of results.
uint32_t parse_expression_text(char* text, unsigned flags, DW* out, uint32_t max);
// Parses run-time text as statements (record_map text, debugger evaluations), appending them to
// list with one reference each. Same state handling as parse_expression_text.
void parse_statement_text(char* text, unsigned flags, StatementList* list);
// The top-function call text: comments stripped, no-stop mode on, line 0. At most 31 tokens up
// to an optional ";" (else 1720), reducing to exactly one OP_CALL node (1730 when it does not
// reduce, run-time error 1725 when the result is not a single call). *function_seen reports a
// function literal in the text. Returns the call node with one reference.
DW parse_top_call(char* text, bool* function_seen);

// Tree dump: a compact one-line text form of a tree, e.g. "ADD(a,b,SUB(c,1))". Names print as
// their text, strings quoted, argument lists as [..], functions as function(params|locals){..}.
// With positions, every node prints "@line:column" after its name. The text lives in a static
// buffer that the next call overwrites.
const char* tree_dump(DW h, bool positions);
const char* tree_dump_list(const DW* items, uint32_t count, bool positions);
