// One row shape for every table of built-in methods, the table's error codes and the lookup.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "errors/raise.h"
#include "frontend/tree.h"
#include "store/store.h"

// A method's operation: the receiver (a static object's own name for Math, Number, ...), the
// evaluated arguments and their count, already checked against the row.
using MethodFn = DW (*)(DW recv, DW* args, int n);

// The maximum of a row without one. An argument list holds at most 255 arguments, but the
// check skips this value anyway so that no count can meet it by accident.
inline constexpr uint8_t NO_MAX = 255;

struct MethodRow {
  std::string_view name;
  uint8_t min, max;   // min == max: exactly that many; max NO_MAX: at least min
  MethodFn run;
};

// A table: its rows sorted by name (byte order) and the errors its lookup raises.
struct MethodTable {
  const MethodRow* rows;
  uint16_t count;
  int16_t unknown_code;     // a name that is not in the table
  const char* unknown_text;
  int16_t few_code;         // fewer than the minimum, or an exact count not met
  int16_t many_code;        // more than the maximum
  const char* count_text;
};

// Rows sorted strictly by name, each count rule well formed: checked by static_assert beside
// every table so that the binary search below can rely on it.
template <size_t N>
constexpr bool method_rows_valid(const MethodRow (&rows)[N]) {
  for (size_t i = 0; i < N; i++) {
    if (rows[i].name.empty() || !rows[i].run) return false;
    if (rows[i].max != NO_MAX && rows[i].min > rows[i].max) return false;
    if (i && !(rows[i - 1].name < rows[i].name)) return false;
  }
  return true;
}

template <size_t N>
constexpr MethodTable method_table(const MethodRow (&rows)[N], int unknownCode, const char* unknownText,
                                   int fewCode, int manyCode, const char* countText = "引数の個数不正") {
  return {rows, static_cast<uint16_t>(N), static_cast<int16_t>(unknownCode), unknownText,
          static_cast<int16_t>(fewCode), static_cast<int16_t>(manyCode), countText};
}

// The row of name, null when the table has none.
inline const MethodRow* method_lookup(const MethodTable& t, std::string_view name) {
  size_t lo = 0, hi = t.count;
  while (lo < hi) {
    size_t mid = (lo + hi) / 2;
    int c = t.rows[mid].name.compare(name);
    if (c == 0) return &t.rows[mid];
    if (c < 0) lo = mid + 1;
    else hi = mid;
  }
  return nullptr;
}

// The row of a name index; raises the table's unknown-name error when there is none, then its
// count errors when n does not meet the row's rule.
const MethodRow& method_resolve(const MethodTable& t, uint32_t name, int n);

// Resolves the method and runs it on the receiver.
inline DW method_invoke(const MethodTable& t, uint32_t name, DW recv, DW* args, int n) {
  return method_resolve(t, name, n).run(recv, args, n);
}
