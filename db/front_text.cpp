// Text gathered for a front-end record: inline buffer, chunk chain, text fields.
#include "db/front_text.h"

#include <cstdlib>
#include <cstring>

#include "db/odbc_internal.h"
#include "driver/protocol.h"

void front_text_init(front_text* t) {
  t->used = 0;
  t->total = 0;
  t->first = nullptr;
  t->last = nullptr;
}

void front_text_append(front_text* t, const char* piece, size_t len) {
  if (t->used + len + 6 < FRONT_TEXT_INLINE) {
    std::memcpy(t->buf + t->used, piece, len);
    t->used += len;
  } else {
    auto* c = static_cast<front_chunk*>(db_alloc(sizeof(front_chunk) + t->used + len));
    std::memcpy(c->data, t->buf, t->used);
    std::memcpy(c->data + t->used, piece, len);
    c->used = t->used + len;
    c->next = nullptr;
    if (t->last) t->last->next = c;
    else t->first = c;
    t->last = c;
    t->used = 0;
  }
  t->total += len;
}

void front_text_field(front_text* t, const char* text, size_t len) {
  // Every byte may triple when escaped; field_encode wants 14 bytes to spare besides.
  size_t need = len * 3 + 32;
  char small[1024];
  char* out = need <= sizeof small ? small : static_cast<char*>(db_alloc(need));
  size_t n = field_encode(text, len, out, need);
  front_text_append(t, out, n);
  if (out != small) std::free(out);
}

void front_text_flush(front_text* t, void (*sink)(const void* data, size_t len)) {
  for (front_chunk* c = t->first; c;) {
    front_chunk* next = c->next;
    sink(c->data, c->used);
    std::free(c);
    c = next;
  }
  t->first = t->last = nullptr;
  if (t->used) sink(t->buf, t->used);
  t->used = 0;
  t->total = 0;
}

void front_text_free(front_text* t) {
  for (front_chunk* c = t->first; c;) {
    front_chunk* next = c->next;
    std::free(c);
    c = next;
  }
  front_text_init(t);
}
