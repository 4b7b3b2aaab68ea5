// Compiled modules (.jo): the image layout shared by the installer and the compiler, and the
// installer that copies an image's blocks into the value store.
#pragma once
#include <cstddef>
#include <cstdint>

#include "frontend/parser.h"

// Section tags of the section stream. Each section is a tag word, an argument word and its
// payload; the stream ends at IMAGE_END or after its S bytes.
enum : uint32_t {
  IMAGE_DW_BLOCKS = 0x01000100,        // (H << 16) | L: H * 256 + L records of 16 bytes
  IMAGE_WORD_BLOCKS = 0x01000200,      // (H << 16) | L: H * 1024 + L words, then B used counts
  IMAGE_NAMES = 0x01000300,            // N: N entries, N (key, index) pairs, pool size Q, pool
  IMAGE_GLOBALS = 0x01000400,          // N name identifiers
  IMAGE_REMAP_IN_RECORDS = 0x01000500, // N positions (block << 16 | word) in DW blocks
  IMAGE_DW_IN_RECORDS = 0x01000600,
  IMAGE_WORDS_IN_RECORDS = 0x01000700,
  IMAGE_REMAP_IN_WORDS = 0x01000800,   // N positions (block << 10 | word) in word-area blocks
  IMAGE_DW_IN_WORDS = 0x01000900,
  IMAGE_WORDS_IN_WORDS = 0x01000A00,
  IMAGE_STATEMENTS = 0x01000B00,       // N statement handles
  IMAGE_END = 0xFFFFFFFF,
};

// Refusals of a malformed image (parse errors naming the module).
enum : int {
  IMAGE_ERR_SIZE = 1185,      // header, S or P against the file, the packed stream
  IMAGE_ERR_SECTION = 1190,   // a section past the stream, a count or block that does not fit
  IMAGE_ERR_POSITION = 1195,  // a position, handle or identifier outside the installed blocks
  IMAGE_ERR_NAMES = 1200,     // a name entry outside the pool, unsorted pairs, reserved names
};

// Installs the image data[0, size) (a whole .jo file) as module number `module`: the store's
// floors are raised and its blocks go onto fresh block numbers, handles are relocated,
// names replaced or merged, its globals defined and its top-level statements appended to list.
// A malformed image is refused with one of the errors above before anything outside the blocks
// it installed is written.
void install_compiled_module(const unsigned char* data, size_t size, int module, StatementList* list);
