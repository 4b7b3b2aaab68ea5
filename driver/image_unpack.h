// Unpacking the zero-run packed stream of a compiled module.
#pragma once
#include <cstddef>
#include <cstdint>

// Unpacks the packed stream packed[0, packed_size) into the kept unpacking buffer, which must
// then hold exactly out_size bytes. Returns the buffer (valid until the next call), or null when
// the stream is malformed: its table does not fit, a count byte is missing, or the output would
// be longer or shorter than out_size (a size that the stream cannot reach is refused before the
// buffer grows). Raises 1400 when the buffer cannot grow.
const uint8_t* image_unpack(const uint8_t* packed, size_t packed_size, size_t out_size);
