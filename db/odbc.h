// The ODBC binding layer: entry points, connections, statements, binding, text and errors.
#pragma once
#include <sql.h>      // unixODBC headers: types and constants only; nothing is linked
#include <sqlext.h>
#include <sqlucode.h>

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "store/store.h"

static_assert(sizeof(SQLWCHAR) == 2 && sizeof(SQLLEN) == 8 && sizeof(SQLHANDLE) == 8,
              "the unixODBC types must be the 64-bit, 16-bit-wide ones");

// ---- entry points ----
// Slot indexes of the entry-point table, in table order. SQLGetData is bound after the twenty
// so that values longer than their column slot still come back whole.
enum OdbcEntry : int {
  E_SQLDisconnect, E_SQLAllocHandle, E_SQLBindCol, E_SQLDescribeColW, E_SQLEndTran,
  E_SQLExecDirectW, E_SQLExecute, E_SQLRowCount, E_SQLFetch, E_SQLFreeHandle, E_SQLFreeStmt,
  E_SQLNumResultCols, E_SQLPrepareW, E_SQLSetConnectAttrW, E_SQLSetEnvAttr, E_SQLDriverConnectW,
  E_SQLBindParameter, E_SQLGetDiagRecW, E_SQLDescribeParam, E_SQLNumParams, E_SQLGetData,
  ODBC_ENTRY_COUNT
};
struct OdbcEntryRow {
  void** slot;
  const char* name;
};
extern void* odbc_slots[ODBC_ENTRY_COUNT];
extern const OdbcEntryRow odbc_entry_table[];   // ends with an empty row
// Calls an entry point through its slot with the prototype of the unixODBC header.
#define ODBC_CALL(name) (reinterpret_cast<decltype(&::name)>(odbc_slots[E_##name]))

// Return code of the last checked call: 0 success, 1 success with information, 100 no data.
extern int16_t odbc_last_rc;
constexpr int ODBC_DIAG_SIZE = 2048;
extern char odbc_diag_text[ODBC_DIAG_SIZE];

// ---- connections ----
// Storage of a database connection value (type 3), 24 bytes.
struct db_connection {
  uint8_t hdr;        // type 3 and reference count
  uint8_t kind;       // database kind index 1-5
  uint8_t marker;     // parameter marker character of the kind
  uint8_t numbered;   // 1: the marker is followed by its number
  uint32_t staging;   // 1: wide text for non-character parameters is staged in the scratch
  SQLHENV env;        // 0 when closed
  SQLHDBC dbc;        // 0 when closed
};
static_assert(sizeof(db_connection) == 24);

constexpr int ODBC_MAX_CONNECTIONS = 16;
extern db_connection* connection_table[ODBC_MAX_CONNECTIONS];
extern int connection_count;

// ---- statements (made by the SQL script functions) ----
constexpr int SQL_MAX_MARKERS = 256;
// Storage of a prepared statement value (type 1): this header, then text_capacity bytes of
// UTF-16 SQL text ended by a zero unit, then one DW per variable or expression marker.
struct sql_statement {
  uint8_t hdr;                           // type 1 and reference count
  uint8_t pad;
  uint16_t marker_count;                 // all markers (up to 256)
  uint16_t variable_count;               // variable and expression markers
  uint16_t numbered_count;               // numbered markers
  uint8_t marker_kind[SQL_MAX_MARKERS];  // per marker in order: 'A' numbered, 'N' variable, 'E' expression
  uint8_t variable_kind[SQL_MAX_MARKERS];  // per variable or expression marker: 'N' or 'E'
  uint8_t value_index[SQL_MAX_MARKERS];  // per marker: its position among the markers of its sort
  uint8_t bind_number[SQL_MAX_MARKERS];  // per numbered marker: N (1-255)
  uint32_t text_length;                  // bytes of SQL text written
  uint32_t text_capacity;                // bytes
};
static_assert(sizeof(sql_statement) == 1040);
inline SQLWCHAR* sql_statement_text(sql_statement* st) { return reinterpret_cast<SQLWCHAR*>(st + 1); }
inline DW* sql_statement_trees(sql_statement* st) {
  return reinterpret_cast<DW*>(reinterpret_cast<char*>(st + 1) + st->text_capacity);
}

// ---- bound values ----
constexpr int BIND_INLINE_TEXT = 2048;
constexpr int BIND_INLINE_VALUES = 256;
// Every value as zero-terminated text; the next text starts 4 bytes after the end of the last.
struct bind_value_list {
  char* text;
  uint32_t used, capacity;
  bool owned;                  // text is an allocation
  bool arrays_owned;           // offset/length/type are allocations
  uint32_t count, slots;       // values held, values the arrays can hold
  uint32_t* offset;
  uint32_t* length;            // 0 = empty
  char* type;                  // 'W': holds a byte >= 0x80, widened for character parameters
  int64_t wide_total;          // scratch bytes needed by the 'W' values; negative: never mark 'W'
  char inline_text[BIND_INLINE_TEXT];
  uint32_t inline_offset[BIND_INLINE_VALUES];
  uint32_t inline_length[BIND_INLINE_VALUES];
  char inline_type[BIND_INLINE_VALUES];
};
// no_wide: the list never marks a value 'W' (every string is bound as characters in place).
void bind_list_init(bind_value_list* list, bool no_wide);
// Appends one value's text; a text with a byte >= 0x80 is marked 'W' and adds length * 4 + 10
// to the wide total.
void bind_list_append(bind_value_list* list, const char* text, size_t len);
void bind_list_free(bind_value_list* list);

// ---- queries ----
constexpr int ODBC_MAX_COLUMNS = 256;
constexpr uint32_t ODBC_TEXT_SLOT_LIMIT = 65536;   // largest slot of a text column

struct row_sink;
struct select_output;
struct front_text;
// Called once per fetched row in modes 2 and 3: 0 on success.
using row_callback = int (*)(row_sink* sink, int row, select_output* out);
// Called once per column in mode 3 (and by row callbacks if they wish): the key for the column.
using name_callback = DW (*)(const char* name, size_t len);

struct row_sink {
  uint8_t wide[ODBC_MAX_COLUMNS];      // 1: fetched as UTF-16
  uint8_t kind[ODBC_MAX_COLUMNS];      // 1 integer, 2 float, 3 text
  char* row_buffer;                    // where a fetched row lives
  uint32_t capacity;
  bool owned;                          // row_buffer is an allocation of the query (freed by it)
  int column_count;
  uint32_t offset[ODBC_MAX_COLUMNS];   // slot of each column in the row buffer
  int32_t length[ODBC_MAX_COLUMNS];    // bytes of the value after conversion, -1 for SQL NULL
  // Where each column's value is after conversion: its slot, or a buffer of its own when the
  // value is longer than the slot. Zero-terminated. Valid during the row callback.
  const char* text[ODBC_MAX_COLUMNS];
  row_callback on_row;
  name_callback on_name;
  char* caller_buffer;                 // the inline buffer given to row_sink_init
  uint32_t caller_capacity;
  void* spill;                         // buffers of long values kept after a mode 1 query
  int spill_count;
};
// buffer: the caller's inline row buffer (4,096 or 2,048 bytes).
void row_sink_init(row_sink* sink, char* buffer, uint32_t capacity, row_callback on_row,
                   name_callback on_name);
// After a mode 1 query the fetched row stays readable in the sink until this is called; it
// frees what the query allocated for it (nothing after other modes, or after an error).
void row_sink_free(row_sink* sink);

// What a query writes besides the sink; the rest is the caller's.
struct select_output {
  int target_count;     // mode 1: number of targets (each row must have as many columns)
  DW* key_list;         // mode 3: pair list; column i's key is written to key_list[2 * i]
  front_text* names;    // mode 5: column names as text fields
  front_text* rows;     // modes 4 and 5: one value field per column per row
  int row_count;        // rows fetched, set by every query
  void* user;           // the caller's own
};

enum SelectMode : int {
  SELECT_INTO = 1,          // one row into variables
  SELECT_ROWS = 2,          // rows through the row callback
  SELECT_HASH = 3,          // rows with column names
  SELECT_TO_FRONT = 4,      // rows as front-end fields
  SELECT_HASH_TO_FRONT = 5  // column names and rows as front-end fields
};

// ---- cells (aggregation) ----
// One converted column of a fetched row, 16 bytes.
struct odbc_cell {
  union {
    int32_t i;
    double f;
    const char* text;
  } v;
  uint32_t length;   // bytes of text (cell type 3)
  uint32_t type;     // 1 integer, 2 float, 3 text, 9 NULL
};
static_assert(sizeof(odbc_cell) == 16);
enum : uint32_t { CELL_INT = 1, CELL_FLOAT = 2, CELL_TEXT = 3, CELL_NULL = 9 };

// The aggregation behind a cell query.
struct cell_consumer {
  void* state;
  // Told the column count once the result is known; returns where each row's cells go.
  odbc_cell* (*begin)(void* state, int columns);
  void (*row)(void* state);      // after each row was converted into the cells
  void (*finish)(void* state);   // once after the last row
};

// ---- operations ----
// All errors are raised with raise_eval_error and do not return.
void odbc_connect(db_connection* conn, std::string_view library, std::string_view conn_string);
void odbc_disconnect(db_connection* conn, bool commit);
void odbc_disconnect_all();   // end of every run: roll back and close what is still open

int odbc_select(db_connection* conn, sql_statement* st, int mode, bind_value_list* values,
                row_sink* sink, select_output* out);
int64_t odbc_execute_direct(db_connection* conn, sql_statement* st);
int64_t odbc_execute_prepared(db_connection* conn, sql_statement* st, bind_value_list* values);
int64_t odbc_execute_batch(db_connection* conn, sql_statement* st, bind_value_list* variables,
                           bind_value_list* numbered, int passes);
void odbc_select_cells(db_connection* conn, sql_statement* st, bind_value_list* values,
                       cell_consumer* consumer);

// Raises code with message, the handle's diagnostic records appended as "\nstatus=%s\n" pieces,
// when the last return code is a failure (not 0, 1).
void odbc_fail_check(int code, const char* message, SQLSMALLINT handle_type, SQLHANDLE handle);

// Character data from a driver: 0 for plain ASCII, -1 when it scores as UTF-8 (use it as it
// stands), else the length of its CP932-to-UTF-8 conversion written (zero-terminated) to dest.
int odbc_text_to_utf8(const char* text, size_t len, char* dest, size_t dest_size);
