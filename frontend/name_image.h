// The name table as a compiled module carries it: checking the stored entries, replacing the
// table with them, or merging them into a table already in use.
#pragma once
#include <cstddef>
#include <cstdint>

#include "frontend/tree.h"

// A name table held in an image (little-endian, possibly unaligned): count entries of 12 bytes,
// count (key, index) pairs of 8 bytes, and pool_size bytes of pool text.
struct NameImage {
  const uint8_t* entries;
  const uint8_t* pairs;
  const uint8_t* pool;
  uint32_t count;
  uint32_t pool_size;
};

// Whether the stored table is sound: every entry's text lies inside the pool and ends with a
// zero byte, is at most 200 bytes and matches its key; the pairs are sorted by key and name
// entries with that key; the first 53 entries are the reserved names in their order. Writes
// nothing.
bool name_image_valid(const NameImage& img);
// True when the table holds only the reserved names, so that an image may replace it.
bool name_table_only_reserved();
// Replaces the table and the pool with the image's (checked with name_image_valid first).
void name_table_replace(const NameImage& img);
// Interns every entry of the image; remap[i] receives the index that entry i has now.
void name_table_merge(const NameImage& img, uint32_t* remap);
