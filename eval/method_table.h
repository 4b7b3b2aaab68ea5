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

// The maximum of a row without one. An argument list holds at most 255 arguments; the count
// check still reads this value as "none", never as a limit.
inline constexpr uint8_t NO_MAX = 255;

// What a row tells callers that run it without the tree around them (the compiled form): whether
// it leaves its receiver and arguments as they were and gives the same answer when run again on
// them (ROW_KEEPS), and what its result usually is (a hint: callers still check). A row without
// traits is taken to change what it is given.
enum RowTraits : uint8_t { ROW_KEEPS = 1, ROW_NUMBER = 2, ROW_STRING = 4 };

struct MethodRow {
  std::string_view name;
  uint8_t min, max;   // min == max: exactly that many; max NO_MAX: at least min
  MethodFn run;
  uint8_t traits = 0;
};

// Lookup is one probe of a perfect hash: a name's key (its length and four of its bytes) is
// spread over METHOD_SLOTS slots by a multiplier chosen at compile time so that no two rows of
// the table share a slot; the row found there is then compared whole.
inline constexpr int METHOD_SLOT_BITS = 7;
inline constexpr int METHOD_SLOTS = 1 << METHOD_SLOT_BITS;

constexpr uint32_t method_key(std::string_view s) {
  size_t n = s.size();
  auto byte = [&s](size_t i) { return static_cast<uint32_t>(static_cast<uint8_t>(s[i])); };
  return (static_cast<uint32_t>(n) | byte(n > 2 ? 2 : n - 1) << 8 | byte(n / 2) << 16 | byte(n - 1) << 24) ^ byte(0);
}
constexpr unsigned method_slot(uint32_t key, uint32_t mult) { return (key * mult) >> (32 - METHOD_SLOT_BITS); }

// A table: its rows, the hash that finds them and the errors its lookup raises.
struct MethodTable {
  const MethodRow* rows;
  uint16_t count;
  int16_t unknown_code;     // a name that is not in the table
  const char* unknown_text;
  int16_t few_code;         // fewer than the minimum, or an exact count not met
  int16_t many_code;        // more than the maximum
  const char* count_text;
  uint32_t mult;            // the hash's multiplier
  uint8_t slot[METHOD_SLOTS];   // row + 1 of the name hashed there, 0: none
};

// Rows sorted strictly by name (so that no name appears twice and a reader finds them), each
// count rule well formed: method_table refuses other rows at compile time.
template <size_t N>
constexpr bool method_rows_valid(const MethodRow (&rows)[N]) {
  if (N >= METHOD_SLOTS / 2) return false;
  for (size_t i = 0; i < N; i++) {
    if (rows[i].name.empty()) return false;
    if (rows[i].max != NO_MAX && rows[i].min > rows[i].max) return false;
    if (i && !(rows[i - 1].name < rows[i].name)) return false;
  }
  return true;
}

template <size_t N>
constexpr MethodTable method_table(const MethodRow (&rows)[N], int unknownCode, const char* unknownText,
                                   int fewCode, int manyCode, const char* countText = "引数の個数不正") {
  if (!method_rows_valid(rows)) throw "method rows: unsorted, repeated or with a malformed count rule";
  MethodTable t{rows, static_cast<uint16_t>(N), static_cast<int16_t>(unknownCode), unknownText,
                static_cast<int16_t>(fewCode), static_cast<int16_t>(manyCode), countText, 0, {}};
  for (uint32_t k = 0; k < 100000; k++) {
    uint32_t mult = 0x9E3779B1u + 2 * k;
    uint8_t slot[METHOD_SLOTS] = {};
    bool clash = false;
    for (size_t i = 0; i < N && !clash; i++) {
      unsigned s = method_slot(method_key(rows[i].name), mult);
      if (slot[s]) clash = true;
      slot[s] = static_cast<uint8_t>(i + 1);
    }
    if (clash) continue;
    t.mult = mult;
    for (int s = 0; s < METHOD_SLOTS; s++) t.slot[s] = slot[s];
    return t;
  }
  throw "no multiplier separates these names";
  // (a throw is no constant expression: a table that reaches one does not compile)
}

// The row of name, null when the table has none.
inline const MethodRow* method_lookup(const MethodTable& t, std::string_view name) {
  if (name.empty()) return nullptr;
  uint8_t s = t.slot[method_slot(method_key(name), t.mult)];
  if (!s) return nullptr;
  const MethodRow& r = t.rows[s - 1];
  return r.name == name ? &r : nullptr;
}

// Whether a call with n arguments meets the row's count rule.
inline bool method_count_fits(const MethodRow& m, int n) {
  return n >= m.min && !(m.min == m.max && n != m.min) && (m.max == NO_MAX || n <= m.max);
}

// The row of a name index; raises the table's unknown-name error when there is none, then its
// count errors when n does not meet the row's rule.
const MethodRow& method_resolve(const MethodTable& t, uint32_t name, int n);

// The row of a name index when a call with n arguments would run it; null where method_resolve
// would raise (an unknown name or a count the row refuses).
const MethodRow* method_find(const MethodTable& t, uint32_t name, int n);

// Resolves the method and runs it on the receiver.
inline DW method_invoke(const MethodTable& t, uint32_t name, DW recv, DW* args, int n) {
  return method_resolve(t, name, n).run(recv, args, n);
}
