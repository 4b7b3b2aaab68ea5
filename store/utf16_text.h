// UTF-8 <-> UTF-16 conversion without surrogate pairs (regular expressions, ODBC text).
#pragma once
#include <cstddef>
#include <cstdint>

// UTF-8 to UTF-16: reads at most srclen bytes, stops at a NUL byte or when dstmax units are
// written. A code point of 0x10000 or above is run-time error 1595; a malformed lead byte
// (0x80-0xBF, 0xF8-0xFF) or a cut sequence gives U+FFFD and the scan goes on. The output is
// terminated by a 0 unit (an empty input writes two 0 units); dst must hold dstmax + 2 units.
// Returns the number of units written, terminators not counted.
int MultiToWide(const char* src, int srclen, uint16_t* dst, int dstmax);

// UTF-16 to UTF-8: reads at most srclen units, stops at a 0 unit or when the output has reached
// dstmax bytes (tested before each unit); each unit becomes 1 to 3 bytes (surrogates encoded on
// their own). Output NUL-terminated; dst must hold dstmax + 4 bytes. Returns the byte count.
int WideToMulti(const uint16_t* src, int srclen, char* dst, int dstmax);
