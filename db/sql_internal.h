// Shared by the SQL script functions, the front-end records and aggregation: the per-call
// record and its clean-up, statement building, parameter texts and column values.
#pragma once
#include <cstddef>
#include <cstdint>

#include "db/front_text.h"
#include "db/odbc.h"
#include "eval/eval.h"
#include "frontend/parser.h"

// Database kinds: index in the kind table, marker character, numbered flag.
enum : uint8_t { KIND_SQLSERVER = 1, KIND_ORACLE = 2, KIND_DB2 = 3, KIND_POSTGRESQL = 4, KIND_SQLITE = 5 };
// 12-character rows, the first blank; the row number is the kind index.
constexpr char DB_KIND_TABLE[] = "            sqlserver   oracle      db2         postgresql  sqlite      ";
constexpr int DB_KIND_COUNT = 5;
constexpr char DB_KIND_MARKER[DB_KIND_COUNT + 1] = {0, '?', ':', '?', '$', '?'};
constexpr uint8_t DB_KIND_NUMBERED[DB_KIND_COUNT + 1] = {0, 0, 1, 0, 1, 0};
// 1-5 for a kind name (compared case-insensitively, whole rows only), 0 when not in the table.
int db_kind_index(const char* name, size_t len);

// Everything one SQL function call owns. It lives on the heap and is registered, so that what a
// jump (an error, a break out of record_map statements) leaves behind is released by the next
// call that begins at the same or a shallower depth, or when the call ends normally.
struct sql_call {
  db_connection* conn;
  sql_statement* st;
  DW held[4];                    // argument values, one reference each
  int held_count;
  DW* list;                      // values made by the call (rows, pairs), discarded at the end
  uint32_t list_count, list_cap;
  char* buf;                     // scratch text
  StatementList stmts;           // record_map statements (one reference each)
  front_text** texts;            // front-end texts being gathered
  int text_count, text_cap;
  void* extra;                   // the caller's own state, freed with extra_free
  void (*extra_free)(void* extra);
  int cleanup_at;                // its clean-up's position on the jump stack's list
  // Last: their inline storage is large and needs no clearing (sql_call_begin).
  bind_value_list vars;          // variable and expression markers
  bind_value_list nums;          // execute: numbered values of every row
};

// Begins a call; a jump that leaves it releases it.
sql_call* sql_call_begin();
// Ends a call normally: releases it and every call begun after it.
void sql_call_end(sql_call* c);
// Calls still registered (tests).
int sql_calls_in_use();

// Takes a reference on a value for the rest of the call (so that script code run meanwhile
// cannot destroy it); released when the call ends.
inline DW call_hold(sql_call* c, DW v) {
  if (c->held_count < 4) c->held[c->held_count++] = dw_ref(v);
  return v;
}
// Appends a value to the call's list (grows by grow entries, first room for first).
void call_list_add(sql_call* c, DW v, uint32_t first, uint32_t grow);
// A front-end text owned by the call until call_text_pop.
front_text* call_text_push(sql_call* c);
void call_text_pop(sql_call* c);

// Evaluates an argument tree; errors raised afterwards by the function keep pointing at the
// function's own node, not at the last node the argument evaluated.
inline DW eval_arg(DW tree) {
  int module = cur_module;
  uint32_t position = cur_position;
  DW v = eval_node(tree);
  cur_module = module;
  cur_position = position;
  return v;
}

// ---- statements ----
// The SQL argument of a function (node argument index sql_arg) evaluated and made into the call's
// statement record. The first argument must be a connection (1255). With name_field set, the
// second argument is the record name (a string, else 1260), encoded as a front-end text field into
// name_field (1,024 bytes; 1585 when longer) with its length in *name_len.
void sql_prepare(sql_call* c, NodeRec* r, bool query, char* name_field, size_t* name_len);
// The statement record of SQL text for a connection kind: markers found, text rebuilt in UTF-16.
// Raises 1005, 1350, 1595 and the parse errors of expression markers.
// The record is stored in *slot as soon as it exists, so that an error raised while it is
// built leaves it to the owner of slot.
sql_statement* sql_statement_build(sql_statement** slot, const char* text, size_t len, int kind,
                                   bool query);
// Releases the expression trees and frees the record.
void sql_statement_free(sql_statement* st);
// Evaluates every variable and expression marker in order and appends its text to values.
void sql_bind_variables(sql_statement* st, bind_value_list* values);

// ---- values ----
// The parameter text of a value: false for a type that cannot be bound. buf holds 400 bytes.
bool sql_value_text(DW v, char* buf, const char** text, size_t* len);
// "%.10f" with trailing zeros removed while more than one digit follows the point.
size_t sql_float_text(double d, char* buf, size_t size);
// A column of the fetched row as a value with the given reference count: integer, float,
// string, or undefined for NULL.
DW sql_column_value(const row_sink* sink, int col, unsigned count);

// The fetched row as an array of column values (count 0).
DW sql_row_array(const row_sink* sink);

// ---- front end ----
// Writes a whole front-end text to standard output.
void front_write(front_text* t);
