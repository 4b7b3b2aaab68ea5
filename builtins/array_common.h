// Shared helpers and handler declarations of the Array and keyed-array methods.
#pragma once
#include <cstdint>
#include <cstring>

#include "eval/eval.h"

// The element list of an array and the pair list (key, value, key, value, ...) of a keyed array
// or an object. Area handle 0 is a valid list: read these only when the capacity is not 0.
inline DW* arr_elems(DW a) { return static_cast<DW*>(area_ptr(arr_rec(a)->elems)); }
inline DW* keyed_pairs(DW k) { return static_cast<DW*>(area_ptr(keyed_rec(k)->pairs)); }
inline DW* obj_pairs(DW o) { return static_cast<DW*>(area_ptr(obj_rec(o)->pairs)); }
inline int32_t int_arg(DW v) { return int_rec(v)->value; }
inline double float_arg(DW v) { return float_rec(v)->value; }

// Largest index a keyed-array index key can hold (24 bits).
constexpr uint32_t INDEX_KEY_MAX = 0x00FFFFFF;

// A position argument against a container of count entries: an Integer (else 2500); a negative
// p counts from the end (count + p), below 0 becomes 0, above count becomes count.
uint32_t array_position(DW arg, uint32_t count);

// Makes the element list of an array hold at least need entries; a new list gets capacity
// need + need / 2 + 10 and the old one is given back.
void array_reserve(DW arr, uint32_t need);
// The same for the pair list of a keyed array (need pairs).
void keyed_reserve(DW k, uint32_t need);

// A container element copied one level deep: an Array, Keyed array or Object becomes a new
// container (count 0) holding the same members with one reference each; any other value is
// returned as it is.
DW copy_one_level(DW v);

// The value an indexOf/lastIndexOf/includes search looks for.
struct SearchValue {
  uint8_t kind;   // 0 number, 1 string, 2 never matches
  double number;
  const char* text;
  uint32_t len;
};
// kind 2 for a value that is neither a number nor a string.
SearchValue search_value(DW v);
// Numbers match by value across Integer and Float (NaN never); strings by length and bytes.
inline bool search_matches(const SearchValue& s, DW e) {
  unsigned t = dw_type(e);
  if (s.kind == 0) {
    if (t == T_INT) return static_cast<double>(int_arg(e)) == s.number;
    if (t == T_FLOAT) return float_arg(e) == s.number;
    return false;
  }
  if (s.kind == 1 && t == T_STRING) {
    const StrRec* r = str_rec(e);
    return r->len == s.len && (s.len == 0 || std::memcmp(str_text(e), s.text, s.len) == 0);
  }
  return false;
}

// The separator argument of join: a String (else 2525), "," when absent.
const char* join_separator(DW* args, int n, size_t* len);
// A new string holding the texts of values (strings unquoted) separated by sep.
DW join_values(const DW* values, uint32_t count, uint32_t stride, const char* sep, size_t sepLen);

// The keys of a keyed array as keys() gives them: an index key as the Integer n, a name key as
// a new string of the name (it prints as the name, compares with strings and indexes the same
// pair again, which a bare name index used as a value would not).
DW keyed_key_value(DW key);
// A new Array of a keyed array's keys.
DW keyed_keys(DW k);
// A new Array of the Integers 0 .. count - 1.
DW index_array(uint32_t count);

// Method operations (MethodFn): receiver, argument values, count.
DW array_sort(DW recv, DW* args, int n);                // array_sort.cpp
DW array_splice(DW recv, DW* args, int n);              // array_edit.cpp
DW array_copy_within(DW recv, DW* args, int n);
DW array_fill(DW recv, DW* args, int n);
DW array_unshift(DW recv, DW* args, int n);
DW array_shift(DW recv, DW* args, int n);
DW array_reverse(DW recv, DW* args, int n);
// Keyed-array forms (array_keyed.cpp).
DW keyed_concat(DW recv, DW* args, int n);
DW keyed_keys_method(DW recv, DW* args, int n);
DW keyed_index_of(DW recv, DW* args, int n);
DW keyed_last_index_of(DW recv, DW* args, int n);
DW keyed_join(DW recv, DW* args, int n);
DW keyed_pop(DW recv, DW* args, int n);
DW keyed_push(DW recv, DW* args, int n);
DW keyed_to_string(DW recv, DW* args, int n);
DW keyed_shift(DW recv, DW* args, int n);
DW keyed_unshift(DW recv, DW* args, int n);
// concat of either receiver kind: the receiver's values, then each argument's.
DW concat_values(DW recv, DW* args, int n);
