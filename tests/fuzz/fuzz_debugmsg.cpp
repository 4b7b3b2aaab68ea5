// libFuzzer entry point: bytes from a debug front end through the link's message reader and the
// parsers of break-point lists, condition and trace entries and evaluation selectors.
#include <cstddef>
#include <cstdint>
#include <cstring>

// The reader is compiled in here, so the target needs nothing beyond the standard library.
#include "debuglink/wire.cpp"

namespace {
struct Bytes {
  const uint8_t* p;
  size_t n, pos;
};

int mem_wait(void* ctx, bool write, int) {
  auto* b = static_cast<Bytes*>(ctx);
  return write || b->pos < b->n ? 1 : 0;
}
long mem_recv(void* ctx, char* buf, size_t n) {
  auto* b = static_cast<Bytes*>(ctx);
  size_t left = b->n - b->pos;
  if (left == 0) return 0;
  if (n > left) n = left;
  std::memcpy(buf, b->p + b->pos, n);
  b->pos += n;
  return static_cast<long>(n);
}
long mem_send(void*, const char*, size_t n) { return static_cast<long>(n); }
void mem_pause(void*, int) {}

void use_message(const LinkMessage& m) {
  if (m.len == 0) return;
  const char* p = m.data + 1;
  size_t n = m.len - 1;
  Span name, rest;
  switch (m.data[0]) {
    case 'B': {
      split_module(p, n, &name, &rest);
      uint16_t lines[64];
      size_t count = parse_line_list(rest, lines, 64);
      for (size_t i = 0; i < count; i++)
        if (lines[i] == 0) __builtin_trap();
      break;
    }
    case 'b': case 'T': {
      split_module(p, n, &name, &rest);
      size_t pos = 0;
      uint16_t line;
      Span text;
      while (next_entry(rest, &pos, &line, &text))
        if (text.p < rest.p || text.p + text.n > rest.p + rest.n) __builtin_trap();
      break;
    }
    case 'E': {
      Selector s;
      if (parse_selector(p, n, &s) == 0 && (s.expr.p + s.expr.n != p + n)) __builtin_trap();
      break;
    }
    default:
      break;
  }
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Bytes b{data, size, 0};
  LinkIo io{mem_wait, mem_recv, mem_send, mem_pause, &b};
  LinkMessage m{nullptr, 0, 0};
  while (!wire_receive(&io, &m, 0)) use_message(m);
  message_free(&m);
  // The same bytes as one table text of a module fetch, split as the engine splits it.
  Span all{reinterpret_cast<const char*>(data), size};
  size_t pos = 0;
  uint16_t line;
  Span text;
  while (next_entry(all, &pos, &line, &text)) {}
  return 0;
}
