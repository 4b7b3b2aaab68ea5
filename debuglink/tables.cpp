// Per-module debug tables: break points, conditional break points (parsed statements) and trace
// points, filled by front-end messages and by the module fetch.
#include <cstdlib>
#include <cstring>

#include "debuglink/link.h"
#include "driver/config.h"
#include "platform/layout.h"

LARGE_STATIC ModuleTables module_tables[LINK_MODULES];

static void release_conditions(ModuleTables* t) {
  for (size_t i = 0; i < t->nconds; i++) {
    StatementList* s = &t->conds[i].stmts;
    for (uint32_t k = 0; k < s->count; k++) dw_release(s->items[k]);
    if (s->owned) std::free(s->items);
  }
  std::free(t->conds);
  t->conds = nullptr;
  t->nconds = 0;
}

static void release_traces(ModuleTables* t) {
  for (size_t i = 0; i < t->ntraces; i++) std::free(t->traces[i].label);
  std::free(t->traces);
  t->traces = nullptr;
  t->ntraces = 0;
}

void tables_clear_all() {
  for (ModuleTables& t : module_tables) {
    std::free(t.lines);
    t.lines = nullptr;
    t.nlines = 0;
    release_conditions(&t);
    release_traces(&t);
  }
}

int module_by_name(const char* name, size_t len) {
  for (int i = 0; i <= module_last && i < LINK_MODULES; i++) {
    const char* m = module_name(i);
    if (std::strlen(m) != len) continue;
    size_t k = 0;
    for (; k < len; k++) {
      char c = name[k] == '\\' ? '/' : name[k];
      char d = m[k] == '\\' ? '/' : m[k];
      if (c != d) break;
    }
    if (k == len) return i;
  }
  return -1;
}

void tables_set_lines(int module, Span list) {
  ModuleTables* t = &module_tables[module];
  std::free(t->lines);
  t->lines = nullptr;
  t->nlines = 0;
  size_t cap = list.n / 2 + 1;
  auto* lines = static_cast<uint16_t*>(std::malloc(cap * sizeof(uint16_t)));
  if (!lines) return;
  t->nlines = parse_line_list(list, lines, cap);
  t->lines = lines;
}

void tables_set_conditions(int module, Span list) {
  ModuleTables* t = &module_tables[module];
  release_conditions(t);
  size_t pos = 0, cap = 0;
  uint16_t line;
  Span text;
  while (next_entry(list, &pos, &line, &text)) {
    if (text.n == 0 && line == 0) continue;
    if (t->nconds == cap) {
      size_t grown = cap ? cap * 2 : 8;
      auto* c = static_cast<CondEntry*>(std::realloc(t->conds, grown * sizeof(CondEntry)));
      if (!c) return;
      t->conds = c;
      cap = grown;
    }
    CondEntry* e = &t->conds[t->nconds];
    e->stmts = StatementList{nullptr, 0, 0, false};
    // An expression that does not parse is reported and its entry never fires.
    e->line = parse_condition(text.p, text.n, module, &e->stmts) ? line : 0;
    t->nconds++;
  }
}

void tables_set_traces(int module, Span list) {
  ModuleTables* t = &module_tables[module];
  release_traces(t);
  size_t pos = 0, cap = 0;
  uint16_t line;
  Span text;
  while (next_entry(list, &pos, &line, &text)) {
    if (!line) continue;
    if (t->ntraces == cap) {
      size_t grown = cap ? cap * 2 : 8;
      auto* tr = static_cast<TraceEntry*>(std::realloc(t->traces, grown * sizeof(TraceEntry)));
      if (!tr) return;
      t->traces = tr;
      cap = grown;
    }
    char* label = static_cast<char*>(std::malloc(text.n + 1));
    if (!label) return;
    std::memcpy(label, text.p, text.n);
    label[text.n] = 0;
    t->traces[t->ntraces++] = TraceEntry{line, label, text.n};
  }
}

static const char* find_text(const char* p, const char* end, const char* marker) {
  size_t m = std::strlen(marker);
  for (const char* q = p; q + m <= end; q++)
    if (std::memcmp(q, marker, m) == 0) return q;
  return nullptr;
}

void tables_set_all(int module, const char* p, size_t n) {
  if (module < 0 || module >= LINK_MODULES) return;
  if (n == 4 && std::memcmp(p, "&&&&", 4) == 0) return;
  const char* end = p + n;
  const char* hash = find_text(p, end, "###");
  const char* traceEnd = hash ? hash : end;
  const char* linesStart = hash ? hash + 3 : end;
  const char* dollar = find_text(linesStart, end, "$$$");
  const char* linesEnd = dollar ? dollar : end;
  const char* condStart = dollar ? dollar + 3 : end;
  tables_set_traces(module, Span{p, static_cast<size_t>(traceEnd - p)});
  tables_set_lines(module, Span{linesStart, static_cast<size_t>(linesEnd - linesStart)});
  tables_set_conditions(module, Span{condStart, static_cast<size_t>(end - condStart)});
}

bool table_has_line(int module, uint16_t line) {
  const ModuleTables* t = &module_tables[module];
  for (size_t i = 0; i < t->nlines; i++)
    if (t->lines[i] == line) return true;
  return false;
}

const TraceEntry* table_trace_in(int module, unsigned first, unsigned last) {
  const ModuleTables* t = &module_tables[module];
  for (size_t i = 0; i < t->ntraces; i++)
    if (t->traces[i].line >= first && t->traces[i].line <= last) return &t->traces[i];
  return nullptr;
}
