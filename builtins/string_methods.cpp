// The String method table and its dispatch.
#include "builtins/string_methods.h"
#include "eval/method_table.h"
#include "eval/plugins.h"

constexpr MethodRow ROWS[] = {
    {"charAt",        0, 1, str_char_at},
    {"charCodeAt",    0, 1, str_char_code_at},
    {"concat",        1, NO_MAX, str_concat},
    {"endsWith",      1, 2, str_ends_with},
    {"includes",      1, 2, str_includes},
    {"indexOf",       1, 2, str_index_of},
    {"lastIndexOf",   1, 2, str_last_index_of},
    {"localeCompare", 1, 3, str_locale_compare},
    {"padEnd",        1, 2, str_pad_end},
    {"padStart",      1, 2, str_pad_start},
    {"repeat",        1, 1, str_repeat},
    {"replace",       2, 2, str_replace},
    {"replaceAll",    2, 2, str_replace_all},
    {"search",        1, 1, str_search},
    {"slice",         1, 2, str_slice},
    {"split",         0, 2, str_split},
    {"startsWith",    1, 2, str_starts_with},
    {"str_match",     0, 1, str_match},
    {"str_matchAll",  1, 1, str_match_all},
    {"substr",        1, 2, str_substr},
    {"substring",     1, 2, str_substring},
    {"toLowerCase",   0, 0, str_to_lower},
    {"toUpperCase",   0, 0, str_to_upper},
    {"trim",          0, 0, str_trim},
    {"trimEnd",       0, 0, str_trim_end},
    {"trimLeft",      0, 0, str_trim_start},   // the same operations as trimStart and trimEnd
    {"trimRight",     0, 0, str_trim_end},
    {"trimStart",     0, 0, str_trim_start},
};

constexpr MethodTable string_methods = method_table(ROWS, 2820, "Stringのメソッド名不正", 2825, 2830);

int string_method_row(uint32_t name) {
  const MethodRow* m = method_lookup(string_methods, {name_text(name), name_length(name)});
  return m ? static_cast<int>(m - ROWS) : -1;
}

DW string_method(DW recv, uint32_t name, DW* args, int n) {
  return method_invoke(string_methods, name, recv, args, n);
}
