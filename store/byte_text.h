// Small helpers over byte texts: trimming, ASCII case, path separators, Base64, temporary
// references, time stamps.
#pragma once
#include <cstddef>
#include <cstdint>

// Strips spaces and tabs at both ends in place; returns the new length.
size_t trim_blanks(char* text);
// ASCII a-z to A-Z in place.
void upper_in_place(char* text);
// Compares n bytes, folding A-Z of a (only) to lower case; <0, 0, >0 like strncmp.
int casefold_compare(const char* a, const char* b, size_t n);
// Backslashes to slashes in place (the path separator here is '/').
void path_to_slashes(char* path);
// Standard-alphabet Base64 to bytes; stops at '=' or at the first byte outside the alphabet.
// Writes at most cap bytes and returns the count.
size_t base64_decode(const char* text, size_t len, uint8_t* out, size_t cap);
// 8 bytes "^A" or "^H" and six decimal digits: the number, or -1. *kind gets 'A' or 'H'.
int32_t temp_reference(const char* text, size_t len, char* kind);
// The current local time as "%d/%02d/%02d %02d:%02d:%02d" in a 50-byte static buffer.
const char* local_time_stamp();
