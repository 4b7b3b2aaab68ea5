// The shared lookup of the built-in method tables and their argument-count rule.
#include "eval/method_table.h"

#include "platform/layout.h"
#include "store/names.h"

// Rows found before, by table and name index: a call site asks for the same method again and
// again, and its name's text need not be hashed and compared each time. An entry holds while
// the name table keeps its generation (an index then always names the same text).
namespace {
struct Resolved {
  const MethodTable* table;
  uint32_t name;
  uint32_t generation;
  const MethodRow* row;
};
constexpr unsigned RESOLVED_SLOTS = 256;
LARGE_STATIC Resolved resolved[RESOLVED_SLOTS];
}  // namespace

[[gnu::always_inline]] static inline const MethodRow* lookup_row(const MethodTable& t, uint32_t name) {
  unsigned h = (name * 0x9E3779B1u ^ static_cast<unsigned>(reinterpret_cast<uintptr_t>(&t) >> 4)) & (RESOLVED_SLOTS - 1);
  Resolved& e = resolved[h];
  if (e.table == &t && e.name == name && e.generation == name_table_generation) return e.row;
  const NameEntry& n = name_entries[name];
  const MethodRow* m = method_lookup(t, {name_pool + n.offset, n.len});
  if (m) e = Resolved{&t, name, name_table_generation, m};
  return m;
}

const MethodRow& method_resolve(const MethodTable& t, uint32_t name, int n) {
  const MethodRow* m = lookup_row(t, name);
  if (!m) raise_eval_error(t.unknown_code, "%s", t.unknown_text);
  if (n < m->min || (m->min == m->max && n != m->min)) raise_eval_error(t.few_code, "%s", t.count_text);
  if (m->max != NO_MAX && n > m->max) raise_eval_error(t.many_code, "%s", t.count_text);
  return *m;
}

const MethodRow* method_find(const MethodTable& t, uint32_t name, int n) {
  const MethodRow* m = lookup_row(t, name);
  return m && method_count_fits(*m, n) ? m : nullptr;
}
