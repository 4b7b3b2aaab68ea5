// Writing a compiled module: a source module parsed by the engine's own front end, saved as
// the image that the installer reads.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Parses text (len bytes) as the module `name` and fills *image with the whole .jo file.
// Returns false on a parse error, with the error text as the engine writes it in *error.
bool build_image(const char* text, size_t len, const char* name, std::vector<uint8_t>* image, std::string* error);

// The section stream wrapped as a file: packed when that is smaller.
std::vector<uint8_t> wrap_image(const std::vector<uint8_t>& stream);
