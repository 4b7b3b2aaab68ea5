// The String method table and its dispatch: name lookup, argument-count rules, the call.
#include <cstring>

#include "builtins/string_methods.h"
#include "eval/plugins.h"
#include "frontend/tree.h"

namespace {

// A count rule: exact (min == max), or a minimum with a maximum (NO_MAX: none).
constexpr int NO_MAX = 255;
struct MethodRow {
  char name[15];   // 14 characters, blank-padded
  uint8_t len;
  uint8_t min, max;
  bool exact;
  StringOp op;
};

constexpr MethodRow METHODS[] = {
    {"charAt        ", 6, 0, 1, false, str_char_at},
    {"charCodeAt    ", 10, 0, 1, false, str_char_code_at},
    {"concat        ", 6, 1, NO_MAX, false, str_concat},
    {"indexOf       ", 7, 1, 2, false, str_index_of},
    {"lastIndexOf   ", 11, 1, 2, false, str_last_index_of},
    {"toUpperCase   ", 11, 0, 0, true, str_to_upper},
    {"toLowerCase   ", 11, 0, 0, true, str_to_lower},
    {"substr        ", 6, 1, 2, false, str_substr},
    {"substring     ", 9, 1, 2, false, str_substring},
    {"split         ", 5, 0, 2, false, str_split},
    {"slice         ", 5, 1, 2, false, str_slice},
    {"replace       ", 7, 2, 2, true, str_replace},
    {"replaceAll    ", 10, 2, 2, true, str_replace_all},
    {"includes      ", 8, 1, 2, false, str_includes},
    {"localeCompare ", 13, 1, 3, false, str_locale_compare},
    {"padEnd        ", 6, 1, 2, false, str_pad_end},
    {"padStart      ", 8, 1, 2, false, str_pad_start},
    {"repeat        ", 6, 1, 1, true, str_repeat},
    {"startsWith    ", 10, 1, 2, false, str_starts_with},
    {"trim          ", 4, 0, 0, true, str_trim},
    {"trimStart     ", 9, 0, 0, true, str_trim_start},
    {"trimEnd       ", 7, 0, 0, true, str_trim_end},
    {"endsWith      ", 8, 1, 2, false, str_ends_with},
    {"search        ", 6, 1, 1, true, str_search},
    {"str_match     ", 9, 0, 1, false, str_match},
    {"str_matchAll  ", 12, 1, 1, true, str_match_all},
    {"trimLeft      ", 8, 0, 0, true, str_trim_start},
    {"trimRight     ", 9, 0, 0, true, str_trim_end},
};
constexpr int METHOD_COUNT = sizeof METHODS / sizeof METHODS[0];

constexpr bool rows_consistent() {
  for (const MethodRow& m : METHODS) {
    if (m.len > 14 || m.name[m.len - 1] == ' ' || (m.len < 14 && m.name[m.len] != ' ')) return false;
    if (m.exact != (m.min == m.max)) return false;
  }
  return true;
}
static_assert(rows_consistent(), "method rows: name lengths, padding and count rules");

}  // namespace

int string_method_row(uint32_t name) {
  size_t n = name_length(name);
  if (n > 14) return -1;
  const char* t = name_text(name);
  for (int i = 0; i < METHOD_COUNT; i++)
    if (METHODS[i].len == n && std::memcmp(METHODS[i].name, t, n) == 0) return i;
  return -1;
}

DW string_method(DW recv, uint32_t name, DW* args, int n) {
  int row = string_method_row(name);
  if (row < 0) raise_eval_error(2820, "Stringのメソッド名不正");
  const MethodRow& m = METHODS[row];
  if (m.exact ? n != m.min : n < m.min) raise_eval_error(2825, "引数の個数不正");
  if (n > m.max) raise_eval_error(2830, "引数の個数不正");
  return m.op(recv, args, n);
}
