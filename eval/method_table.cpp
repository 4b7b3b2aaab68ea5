// The shared lookup of the built-in method tables and their argument-count rule.
#include "eval/method_table.h"

const MethodRow& method_resolve(const MethodTable& t, uint32_t name, int n) {
  const MethodRow* m = method_lookup(t, {name_text(name), name_length(name)});
  if (!m) raise_eval_error(t.unknown_code, "%s", t.unknown_text);
  if (n < m->min || (m->min == m->max && n != m->min)) raise_eval_error(t.few_code, "%s", t.count_text);
  if (m->max != NO_MAX && n > m->max) raise_eval_error(t.many_code, "%s", t.count_text);
  return *m;
}
