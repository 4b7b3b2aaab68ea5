// The String method table and its dispatch.
#include "builtins/string_methods.h"
#include "eval/method_table.h"
#include "eval/plugins.h"

constexpr MethodRow ROWS[] = {
    {"charAt",        0, 1, str_char_at, ROW_KEEPS | ROW_STRING},
    {"charCodeAt",    0, 1, str_char_code_at, ROW_KEEPS | ROW_NUMBER},
    {"concat",        1, NO_MAX, str_concat, ROW_KEEPS | ROW_STRING},
    {"endsWith",      1, 2, str_ends_with, ROW_KEEPS},
    {"includes",      1, 2, str_includes, ROW_KEEPS},
    {"indexOf",       1, 2, str_index_of, ROW_KEEPS | ROW_NUMBER},
    {"lastIndexOf",   1, 2, str_last_index_of, ROW_KEEPS | ROW_NUMBER},
    {"localeCompare", 1, 3, str_locale_compare, ROW_KEEPS},
    {"padEnd",        1, 2, str_pad_end, ROW_KEEPS | ROW_STRING},
    {"padStart",      1, 2, str_pad_start, ROW_KEEPS | ROW_STRING},
    {"repeat",        1, 1, str_repeat, ROW_KEEPS | ROW_STRING},
    {"replace",       2, 2, str_replace, ROW_KEEPS | ROW_STRING},
    {"replaceAll",    2, 2, str_replace_all, ROW_KEEPS | ROW_STRING},
    {"search",        1, 1, str_search, ROW_KEEPS | ROW_NUMBER},
    {"slice",         1, 2, str_slice, ROW_KEEPS | ROW_STRING},
    {"split",         0, 2, str_split, ROW_KEEPS},
    {"startsWith",    1, 2, str_starts_with, ROW_KEEPS},
    {"str_match",     0, 1, str_match, ROW_KEEPS},
    {"str_matchAll",  1, 1, str_match_all, ROW_KEEPS},
    {"substr",        1, 2, str_substr, ROW_KEEPS | ROW_STRING},
    {"substring",     1, 2, str_substring, ROW_KEEPS | ROW_STRING},
    {"toLowerCase",   0, 0, str_to_lower, ROW_KEEPS | ROW_STRING},
    {"toUpperCase",   0, 0, str_to_upper, ROW_KEEPS | ROW_STRING},
    {"trim",          0, 0, str_trim, ROW_KEEPS | ROW_STRING},
    {"trimEnd",       0, 0, str_trim_end, ROW_KEEPS | ROW_STRING},
    {"trimLeft",      0, 0, str_trim_start, ROW_KEEPS | ROW_STRING},   // the same operations as trimStart and trimEnd
    {"trimRight",     0, 0, str_trim_end, ROW_KEEPS | ROW_STRING},
    {"trimStart",     0, 0, str_trim_start, ROW_KEEPS | ROW_STRING},
};

constexpr MethodTable string_methods = method_table(ROWS, 2820, "Stringのメソッド名不正", 2825, 2830);

int string_method_row(uint32_t name) {
  const MethodRow* m = method_lookup(string_methods, {name_text(name), name_length(name)});
  return m ? static_cast<int>(m - ROWS) : -1;
}

DW string_method(DW recv, uint32_t name, DW* args, int n) {
  return method_invoke(string_methods, name, recv, args, n);
}
