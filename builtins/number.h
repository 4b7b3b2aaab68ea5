// Number parsing shared by Number.parseInt / parseFloat and the global parseInt / parseFloat.
#pragma once
#include <cstddef>

#include "store/store.h"

// parseInt of a text of len bytes: base is the radix argument, or 0 when none was given.
// Returns an Integer or NaN.
DW parse_int_text(const char* text, size_t len, bool hasRadix, int radix);
// parseFloat of a zero-terminated text of len bytes: a Float, or NaN.
DW parse_float_text(const char* text, size_t len);
// The two functions on argument values (radix: null when absent).
DW parse_int_value(DW s, const DW* radix);
DW parse_float_value(DW s);
// Number.isInteger.
DW is_integer_value(DW v);
