// sql_aggregate: the aggregation state shared by the call (aggregate.cpp) and the folding of
// rows into groups (aggregate_fold.cpp).
#pragma once
#include <cstddef>
#include <cstdint>

#include "db/sql_internal.h"

constexpr int AGG_MAX_COLUMNS = 512;   // key columns, group columns and aggregates: fewer than this

enum : uint8_t { AGG_VALUE = 1, AGG_SUM, AGG_MAX, AGG_MIN, AGG_AVERAGE, AGG_COUNT };
// Mode bits: a group order was given, there are group columns, there are key columns.
enum : int { AGG_MODE_ORDER = 1, AGG_MODE_GROUPS = 2, AGG_MODE_KEYS = 4 };

struct agg_def {
  uint8_t op;
  int col;   // from 0; -1 for count
};

// One aggregate value: a cell (a text cell keeps its text in storage of its own) and a counter.
struct agg_value {
  odbc_cell cell;
  uint32_t counter;
  char* text;
  uint32_t text_cap;
};

struct agg_state {
  sql_call* call;
  int mode;
  int key_cols[AGG_MAX_COLUMNS];
  int key_count;
  int group_cols[AGG_MAX_COLUMNS];
  int group_count;
  agg_def aggs[AGG_MAX_COLUMNS];
  int agg_count;
  int total_col;             // -1 without total
  bool want_total_count;

  int ncols;
  odbc_cell* cells;          // the row being folded
  odbc_cell* prev;           // the previous key's cells; their texts in key_text
  bool has_prev;
  char* key_text;
  size_t key_text_cap;

  // Group list: the texts one after another, and each group's place in it.
  char* groups;
  size_t groups_len, groups_cap;
  uint32_t* group_off;
  uint32_t* group_len;
  uint32_t known, known_cap;
  uint32_t* slots;           // hash of the group texts: group number + 1, 0 = empty
  uint32_t slot_cap;

  agg_value* sets;           // set s is sets[s * agg_count ...]
  uint32_t set_count, set_cap;
  agg_value total;
  uint32_t row_count;

  char* scratch;             // a row's group text
  size_t scratch_cap;
};

// The cell query's consumer.
odbc_cell* aggregate_begin(void* state, int columns);
void aggregate_row(void* state);
void aggregate_finish(void* state);

void aggregate_state_free(void* state);
// Appends a group text to the list (the known groups grow by one) and gives it a set when
// create_set is set.
uint32_t aggregate_add_group(agg_state* s, const char* text, size_t len);
// Puts an aggregate value to its initial value for its operation.
void aggregate_init_value(agg_value* v, uint8_t op);
