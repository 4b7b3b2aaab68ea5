// Number text written digit by digit: Integers in decimal, Floats with ten decimals exactly
// rounded (the bytes "%d" and "%.10f" give), without going through the formatted-output library.
#pragma once
#include <cstddef>
#include <cstdint>

// Decimal text of v, zero-terminated (buf holds at least 12 bytes); returns the length.
size_t int_text(int32_t v, char* buf);

// The text "%.10f" gives for x, in buf of `size` bytes (zero-terminated); returns the length
// that snprintf returns: the full text's, while at most size - 1 bytes are written). Finite
// values below 2^94 are written here, larger ones, NaN and the infinities by snprintf.
int fixed10_text(double x, char* buf, size_t size);
