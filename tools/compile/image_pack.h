// The zero-run packing of compiled modules, with escape and code bytes chosen from the data.
#pragma once
#include <cstdint>
#include <vector>

// The packed stream (table, then body) that unpacks to exactly s.
std::vector<uint8_t> pack_stream(const std::vector<uint8_t>& s);
