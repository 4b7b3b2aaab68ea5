// Writing a compiled module: a source module parsed by the engine's own front end, saved as
// the image that the installer reads.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Parses text (len bytes) as the module `name` and fills *image with the whole .jo file, packed
// when that is smaller unless `unpacked` asks for the stream as it is (larger, but installed
// without unpacking). Returns false on a parse error, with the error text as the engine writes
// it in *error.
bool build_image(const char* text, size_t len, const char* name, std::vector<uint8_t>* image, std::string* error,
                 bool unpacked = false);

// The section stream wrapped as a file: packed when that is smaller (and packing is wanted).
std::vector<uint8_t> wrap_image(const std::vector<uint8_t>& stream, bool pack = true);
