// Shared inside the ODBC layer: allocation, per-call frames, boundary text, column layout.
#pragma once
#include <cstddef>
#include <cstdint>

#include "db/odbc.h"

void* db_alloc(size_t size);                 // raises 1400 when there is no memory
void* db_realloc(void* p, size_t size);

// ---- per-call resources ----
// Every statement operation owns a frame holding what it allocated: its statement handle,
// its private parameter scratch, its row buffer and the buffers of values longer than their
// slot. A frame is released when the operation ends, before the layer raises an error, by the
// jump that leaves it (an error raised by a row callback: the frame is a clean-up of the jump
// stack), or by the close-all at the end of the run.
struct spill_buf {
  char* p;
  size_t cap;
};
struct odbc_frame {
  SQLHSTMT stmt;
  SQLHDBC dbc;          // connection of stmt
  int cleanup_at;       // its clean-up's position on the jump stack's list
  char* scratch;        // private parameter scratch
  char* row;            // allocated row buffer
  void* columns;        // allocated column records (cell query)
  char* cell_text;      // text area of the cells
  spill_buf* spill;     // per column, allocated on first use
  int spill_count;
};
odbc_frame* frame_begin();
void frame_end(odbc_frame* f);               // releases f and every frame above it
void frame_release_all();
int frames_in_use();
// The connection is being closed, which frees its statements: frames forget their handles.
void frame_forget_connection(SQLHDBC dbc);
// Releases frame f (when given) and those above it, then raises code with message (taken as it
// stands, never as a format).
[[noreturn]] void odbc_raise(odbc_frame* f, int code, const char* message);
// Writes message and the handle's diagnostic records into odbc_diag_text.
void odbc_diag_build(const char* message, SQLSMALLINT handle_type, SQLHANDLE handle);
// odbc_fail_check that releases frame f before raising.
void odbc_check(odbc_frame* f, int code, const char* message, SQLSMALLINT handle_type,
                SQLHANDLE handle);

// ---- text ----
// Process-wide conversion buffer of at least size bytes (its contents are not kept).
char* conv_buffer(size_t size);
// UTF-16 (units, not terminated needed) to UTF-8 in the conversion buffer; returns its length.
size_t wide_to_utf8(const char* units_bytes, size_t units, char** out);
// Character data to UTF-8: the converted text in the conversion buffer, or the text itself.
size_t char_to_utf8(const char* text, size_t len, const char** out);

// ---- columns ----
struct column_layout {
  uint8_t wide;         // fetched as UTF-16
  uint8_t kind;         // 1 integer, 2 float, 3 text
  uint32_t slot;        // slot size; the bound buffer is slot + 4 bytes
};
column_layout column_layout_of(SQLSMALLINT data_type, SQLULEN column_size, SQLSMALLINT digits);
bool odbc_is_char_type(SQLSMALLINT data_type);
// The bytes of column col (from 0) of the fetched row: its slot, or, when the driver reported
// more than the slot holds, the whole value read again with SQLGetData into a spill buffer of
// frame f. Returns the byte length (SQL_NULL_DATA for NULL) and sets *data.
SQLLEN column_value(odbc_frame* f, SQLHSTMT stmt, int col, const column_layout& c, char* slot,
                    SQLLEN indicator, const char** data);
char* spill_reserve(odbc_frame* f, int col, size_t size);

// ---- statements ----
SQLHSTMT stmt_alloc(odbc_frame* f, db_connection* conn, int code);
void stmt_prepare(odbc_frame* f, SQLHSTMT stmt, sql_statement* st, int code);
// SQLNumParams (not checked) must report the statement's marker count.
void stmt_check_params(odbc_frame* f, SQLHSTMT stmt, sql_statement* st, int code);
// Scratch bytes that the wide values among the given value indexes need.
size_t wide_need(const bind_value_list* values, const int* indexes, int n);
// The process-wide scratch, or a private one in frame f when need reaches its size.
char* scratch_for(odbc_frame* f, size_t need, size_t* capacity);
// Binds one parameter (index from 0) from the value at value_index; wide texts are converted
// into scratch at offset (capacity bytes in all). Returns the new scratch offset; frame f is
// released before any raise.
size_t bind_marker(odbc_frame* f, db_connection* conn, SQLHSTMT stmt, bind_value_list* values,
                   SQLLEN* indicators, int value_index, int param_index, char* scratch,
                   size_t offset, size_t capacity);
// Binds every marker of a query (variable and expression markers) from values.
void bind_query_markers(odbc_frame* f, db_connection* conn, SQLHSTMT stmt, sql_statement* st,
                        bind_value_list* values, SQLLEN* indicators, int mismatch_code);
// A query prepared with its markers bound (indicators: one per marker, kept by the caller while
// the statement lives) and its column count described.
SQLHSTMT query_open(odbc_frame* f, db_connection* conn, sql_statement* st, bind_value_list* values,
                    SQLLEN* indicators, SQLSMALLINT* ncols);
// Frees the statement handle of f with the checked SQLFreeStmt/SQLFreeHandle calls (a code of
// 0 skips that call), then the frame.
void stmt_finish(odbc_frame* f, SQLHSTMT stmt, int close_code, int unbind_code, int reset_code,
                 int free_code);
