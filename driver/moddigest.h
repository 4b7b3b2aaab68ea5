// The module directory digest: SHA-256 over the sorted list of script files with their times and
// sizes, so that a changed deployment is refused.
#pragma once
#include <cstddef>

// The listing text that is hashed (malloc'ed, zero-terminated; *len set). Null when memory fails.
char* module_dir_listing(const char* dir, size_t* len);
// The digest of the directory as 64 lower-case hexadecimal digits.
void module_dir_digest(const char* dir, char out[65]);
