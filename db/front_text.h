// Text gathered for a front-end record: inline buffer spilling into a chain of chunks.
#pragma once
#include <cstddef>
#include <cstdint>

constexpr size_t FRONT_TEXT_INLINE = 1024;

struct front_chunk {
  front_chunk* next;
  size_t used;
  char data[];   // used bytes
};

struct front_text {
  size_t used;          // bytes in buf
  size_t total;         // bytes in the chunks and buf together
  front_chunk* first;
  front_chunk* last;
  char buf[FRONT_TEXT_INLINE];
};

void front_text_init(front_text* t);
// Appends a piece. When it does not fit the inline buffer, the buffer's bytes and the piece
// move together into a new chunk at the end of the chain.
void front_text_append(front_text* t, const char* piece, size_t len);
// Appends piece as a text field (percent-encoded when needed), never cut.
void front_text_field(front_text* t, const char* text, size_t len);
// Hands every byte in order to sink (chunks first, then the inline buffer), freeing the chunks.
void front_text_flush(front_text* t, void (*sink)(const void* data, size_t len));
// Frees the chunks without writing them.
void front_text_free(front_text* t);
