// Per-call records of the SQL functions: what each call owns, and its release after a jump.
#include <cstdlib>
#include <cstring>

#include "db/odbc_internal.h"
#include "db/sql_internal.h"
#include "errors/raise.h"

static sql_call** calls;      // registered calls, in order of beginning
static int call_count, call_cap;
static uint64_t call_seq;

static void release(sql_call* c) {
  for (int i = 0; i < c->held_count; i++) dw_release(c->held[i]);
  for (uint32_t i = 0; i < c->list_count; i++) value_discard(c->list[i]);
  std::free(c->list);
  if (c->st) sql_statement_free(c->st);
  bind_list_free(&c->vars);
  bind_list_free(&c->nums);
  std::free(c->buf);
  for (uint32_t i = 0; i < c->stmts.count; i++) dw_release(c->stmts.items[i]);
  if (c->stmts.owned) std::free(c->stmts.items);
  for (int i = 0; i < c->text_count; i++) {
    front_text_free(c->texts[i]);
    std::free(c->texts[i]);
  }
  std::free(c->texts);
  if (c->extra && c->extra_free) c->extra_free(c->extra);
  std::free(c);
}

// Releases the calls from position k on (they are the latest).
static void release_from(int k) {
  // Latest first: a later call may hold values that an earlier one made.
  while (call_count > k) release(calls[--call_count]);
}

sql_call* sql_call_begin(uintptr_t stack) {
  // A call at the same or a deeper frame, or begun under a jump frame that no longer exists,
  // was left by a jump: nothing can use it any more. Calls still running are at shallower
  // frames (their handlers called this one through script code).
  for (int i = 0; i < call_count; i++) {
    if (calls[i]->stack <= stack || calls[i]->jump_depth > jump_depth) {
      release_from(i);
      break;
    }
  }
  if (call_count == call_cap) {
    int n = call_cap ? call_cap * 2 : 32;
    calls = static_cast<sql_call**>(db_realloc(calls, sizeof(sql_call*) * n));
    call_cap = n;
  }
  auto* c = static_cast<sql_call*>(db_alloc(sizeof(sql_call)));
  std::memset(c, 0, sizeof *c);
  bind_list_init(&c->vars, false);
  bind_list_init(&c->nums, false);
  c->stack = stack;
  c->jump_depth = jump_depth;
  c->seq = ++call_seq;
  calls[call_count++] = c;
  return c;
}

void sql_call_end(sql_call* c) {
  for (int i = call_count - 1; i >= 0; i--) {
    if (calls[i] == c) {
      release_from(i);
      return;
    }
  }
}

void sql_calls_release_all() { release_from(0); }

int sql_calls_in_use() { return call_count; }

void call_list_add(sql_call* c, DW v, uint32_t first, uint32_t grow) {
  if (c->list_count == c->list_cap) {
    uint32_t n = c->list_cap ? c->list_cap + grow : first;
    c->list = static_cast<DW*>(db_realloc(c->list, sizeof(DW) * n));
    c->list_cap = n;
  }
  c->list[c->list_count++] = v;
}

front_text* call_text_push(sql_call* c) {
  if (c->text_count == c->text_cap) {
    int n = c->text_cap ? c->text_cap * 2 : 4;
    c->texts = static_cast<front_text**>(db_realloc(c->texts, sizeof(front_text*) * n));
    c->text_cap = n;
  }
  auto* t = static_cast<front_text*>(db_alloc(sizeof(front_text)));
  front_text_init(t);
  c->texts[c->text_count++] = t;
  return t;
}

void call_text_pop(sql_call* c) {
  front_text* t = c->texts[--c->text_count];
  front_text_free(t);
  std::free(t);
}
