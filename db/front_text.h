// Text gathered for a front-end record: inline buffer spilling into a chain of chunks, and into
// a temporary file once the chunks grow large, so that memory stays flat for any record size.
#pragma once
#include <cstddef>
#include <cstdint>

constexpr size_t FRONT_TEXT_INLINE = 1024;
// Chunk bytes held in memory before they move to the spool file.
constexpr size_t FRONT_SPOOL_AFTER = 256 * 1024;

struct front_chunk {
  front_chunk* next;
  size_t used;
  char data[];   // used bytes
};

struct front_text {
  size_t used;          // bytes in buf
  size_t total;         // bytes in the spool file, the chunks and buf together
  front_chunk* first;
  front_chunk* last;
  size_t chunk_bytes;   // bytes in the chunks
  int spool_fd;         // -1 until the chunks first move to the spool file
  size_t spooled;       // bytes in the spool file (they come before the chunks)
  char buf[FRONT_TEXT_INLINE];
};

void front_text_init(front_text* t);
// Appends a piece. When it does not fit the inline buffer, the buffer's bytes and the piece
// move together into a new chunk at the end of the chain.
void front_text_append(front_text* t, const char* piece, size_t len);
// Appends piece as a text field (percent-encoded when needed), never cut.
void front_text_field(front_text* t, const char* text, size_t len);
// Hands every byte in order to sink (spool file, chunks, then the inline buffer), freeing all.
void front_text_flush(front_text* t, void (*sink)(const void* data, size_t len));
// Frees the chunks and the spool file without writing them.
void front_text_free(front_text* t);
