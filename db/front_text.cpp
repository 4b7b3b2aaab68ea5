// Text gathered for a front-end record: inline buffer, chunk chain, spool file, text fields.
#include "db/front_text.h"

#include <fcntl.h>
#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "db/odbc_internal.h"
#include "errors/raise.h"
#include "response/stream.h"

void front_text_init(front_text* t) {
  t->used = 0;
  t->total = 0;
  t->first = nullptr;
  t->last = nullptr;
  t->chunk_bytes = 0;
  t->spool_fd = -1;
  t->spooled = 0;
}

// An unnamed temporary file (gone when closed); -1 when none can be made.
static int spool_open() {
  const char* dir = std::getenv("TMPDIR");
  if (!dir || !*dir) dir = "/tmp";
  int fd = open(dir, O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd >= 0) return fd;
  char path[4096];
  if (std::strlen(dir) + 24 > sizeof path) return -1;
  std::strcpy(path, dir);
  std::strcat(path, "/scriptcgi-XXXXXX");
  fd = mkstemp(path);
  if (fd >= 0) unlink(path);
  return fd;
}

static void free_chunks(front_text* t) {
  for (front_chunk* c = t->first; c;) {
    front_chunk* next = c->next;
    std::free(c);
    c = next;
  }
  t->first = t->last = nullptr;
  t->chunk_bytes = 0;
}

// Writes the pieces whole, however the system splits the writes.
static void write_all(int fd, iovec* iov, int n) {
  while (n > 0) {
    ssize_t w = writev(fd, iov, n);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) raise_eval_error(1400, "メモリ領域を取得できません");
    size_t done = static_cast<size_t>(w);
    while (n > 0 && done >= iov->iov_len) {
      done -= iov->iov_len;
      iov++;
      n--;
    }
    if (n > 0) {
      iov->iov_base = static_cast<char*>(iov->iov_base) + done;
      iov->iov_len -= done;
    }
  }
}

// Moves the chunks to the end of the spool file. Without a file the chunks stay in memory.
static void spool_chunks(front_text* t) {
  if (t->spool_fd < 0) t->spool_fd = spool_open();
  if (t->spool_fd < 0) return;
  while (t->first) {
    iovec iov[64];
    int n = 0;
    front_chunk* c = t->first;
    for (; c && n < 64; c = c->next, n++) {
      iov[n].iov_base = c->data;
      iov[n].iov_len = c->used;
      t->spooled += c->used;
    }
    write_all(t->spool_fd, iov, n);
    while (t->first != c) {
      front_chunk* next = t->first->next;
      std::free(t->first);
      t->first = next;
    }
  }
  t->last = nullptr;
  t->chunk_bytes = 0;
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
    t->chunk_bytes += c->used;
    if (t->chunk_bytes >= FRONT_SPOOL_AFTER) spool_chunks(t);
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

// The spooled part goes first. Its read buffer is in a frame of its own, so that a record that
// never spooled keeps the stack short (every page of stack touched costs a fault).
[[gnu::noinline]] static void flush_spool(front_text* t, void (*sink)(const void* data, size_t len)) {
  char block[65536];
  size_t left = t->spooled;
  off_t at = 0;
  while (left > 0) {
    ssize_t n = pread(t->spool_fd, block, left < sizeof block ? left : sizeof block, at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) raise_eval_error(1400, "メモリ領域を取得できません");
    sink(block, static_cast<size_t>(n));
    left -= static_cast<size_t>(n);
    at += n;
  }
  close(t->spool_fd);
  t->spool_fd = -1;
  t->spooled = 0;
}

void front_text_flush(front_text* t, void (*sink)(const void* data, size_t len)) {
  if (t->spool_fd >= 0) flush_spool(t, sink);
  for (front_chunk* c = t->first; c;) {
    front_chunk* next = c->next;
    sink(c->data, c->used);
    std::free(c);
    c = next;
  }
  t->first = t->last = nullptr;
  t->chunk_bytes = 0;
  if (t->used) sink(t->buf, t->used);
  t->used = 0;
  t->total = 0;
}

void front_text_free(front_text* t) {
  free_chunks(t);
  if (t->spool_fd >= 0) close(t->spool_fd);
  front_text_init(t);
}
