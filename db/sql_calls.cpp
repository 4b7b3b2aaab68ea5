// Per-call records of the SQL functions: what each call owns, released when the call ends or by
// the jump that leaves it.
#include <cstddef>
#include <cstdlib>
#include <cstring>

#include "db/odbc_internal.h"
#include "db/sql_internal.h"
#include "errors/jump.h"
#include "errors/raise.h"

static int calls_live;       // calls begun and not yet released

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
  calls_live--;
}

// Registered as the call's clean-up: a jump that leaves the call releases it.
static void release_abandoned(void* call) { release(static_cast<sql_call*>(call)); }

sql_call* sql_call_begin() {
  auto* c = static_cast<sql_call*>(db_alloc(sizeof(sql_call)));
  // Everything before the bind lists is cleared; the lists set up their own headers, and
  // their inline storage is written before it is read.
  std::memset(c, 0, offsetof(sql_call, vars));
  bind_list_init(&c->vars, false);
  bind_list_init(&c->nums, false);
  c->cleanup_at = cleanup_push(release_abandoned, c);
  calls_live++;
  return c;
}

// Whatever registered after c ran inside it, and is over.
void sql_call_end(sql_call* c) { cleanup_run_from(c->cleanup_at); }

int sql_calls_in_use() { return calls_live; }

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
