// Framing of the debugger link: headers, payload reception with its round budget,
// acknowledgements, and the parsers of the lists in front-end messages.
#include "debuglink/wire.h"

#include <cstdlib>
#include <cstring>

void message_free(LinkMessage* m) {
  std::free(m->data);
  m->data = nullptr;
  m->len = m->cap = 0;
}

int wire_header(size_t n, char* out) {
  char digits[20];
  int d = 0;
  do {
    digits[d++] = static_cast<char>('0' + n % 10);
    n /= 10;
  } while (n && d < 9);
  out[0] = static_cast<char>('A' + d);
  for (int i = 0; i < d; i++) out[1 + i] = digits[d - 1 - i];
  return d + 1;
}

static int read_byte(const LinkIo* io, int timeout_ms, char* c) {
  int r = io->wait(io->ctx, false, timeout_ms);
  if (r <= 0) return -1;
  return io->recv(io->ctx, c, 1) == 1 ? 0 : -1;
}

int wire_read_number(const LinkIo* io, int timeout_ms, size_t* value) {
  char c;
  if (read_byte(io, timeout_ms, &c) < 0) return -1;
  int digits = static_cast<unsigned char>(c) - 'A';
  if (digits < 0 || digits > 9) return -2;
  size_t v = 0;
  for (int i = 0; i < digits; i++) {
    if (read_byte(io, timeout_ms, &c) < 0) return -1;
    if (c < '0' || c > '9') return -2;
    v = v * 10 + static_cast<size_t>(c - '0');
  }
  *value = v;
  return 0;
}

static bool send_all(const LinkIo* io, const char* p, size_t n) {
  while (n) {
    long s = io->send(io->ctx, p, n);
    if (s <= 0) return false;
    p += s;
    n -= static_cast<size_t>(s);
  }
  return true;
}

const char* wire_send(const LinkIo* io, const char* payload, size_t len) {
  int polls = 0;
  for (;;) {
    int r = io->wait(io->ctx, true, SEND_POLL_MS);
    if (r > 0) break;
    if (r < 0) return "poll for send_bytes error\n";
    if (++polls >= SEND_POLLS) return "poll for send_bytes timeout\n";
    io->pause(io->ctx, ROUND_MS);
  }
  // Header and payload leave together: small messages from a stack buffer.
  char head[WIRE_HEADER_MAX];
  int h = wire_header(len, head);
  char small[512];
  bool ok;
  if (len + static_cast<size_t>(h) <= sizeof small) {
    std::memcpy(small, head, static_cast<size_t>(h));
    if (len) std::memcpy(small + h, payload, len);
    ok = send_all(io, small, len + static_cast<size_t>(h));
  } else {
    char* big = static_cast<char*>(std::malloc(len + static_cast<size_t>(h)));
    if (!big) return "send socket error\n";
    std::memcpy(big, head, static_cast<size_t>(h));
    std::memcpy(big + h, payload, len);
    ok = send_all(io, big, len + static_cast<size_t>(h));
    std::free(big);
  }
  if (!ok) return "send socket error\n";
  size_t ack;
  if (wire_read_number(io, ACK_TIMEOUT_MS, &ack) != 0 || ack != len) return "receive socket error\n";
  return nullptr;
}

// Makes room for at least need bytes (and the terminator) as they arrive.
static bool message_reserve(LinkMessage* m, size_t need, size_t total) {
  if (need + 1 <= m->cap) return true;
  size_t cap = m->cap ? m->cap * 2 : 4096;
  if (cap < need + 1) cap = need + 1;
  if (cap > total + 1) cap = total + 1;
  char* grown = static_cast<char*>(std::realloc(m->data, cap));
  if (!grown) return false;
  m->data = grown;
  m->cap = cap;
  return true;
}

const char* wire_receive(const LinkIo* io, LinkMessage* m, int timeout_ms) {
  m->len = 0;
  size_t len;
  int r = wire_read_number(io, timeout_ms, &len);
  if (r != 0) return "recv error\n";
  if (!message_reserve(m, 0, len)) return "recv error\n";
  size_t got = 0;
  long spent = 0;
  while (got < len) {
    int w = io->wait(io->ctx, false, timeout_ms);
    if (w < 0) return "poll(R) for receive_bytes error\n";
    if (w == 0) {
      io->pause(io->ctx, ROUND_MS);
    } else {
      size_t chunk = len - got;
      if (chunk > 1 << 20) chunk = 1 << 20;
      if (!message_reserve(m, got + chunk, len)) return "recv error\n";
      long n = io->recv(io->ctx, m->data + got, chunk);
      if (n <= 0) return "recv error\n";
      got += static_cast<size_t>(n);
    }
    spent += ROUND_MS;
    if (got < len && spent >= PAYLOAD_BUDGET_MS) return "recv error\n";
  }
  m->len = got;
  m->data[got] = 0;
  int w = io->wait(io->ctx, true, ACK_TIMEOUT_MS);
  if (w < 0) return "poll(W) for receive_bytes error\n";
  if (w == 0) return "poll(W) for receive_bytes timeout\n";
  char head[WIRE_HEADER_MAX];
  int h = wire_header(len, head);
  if (!send_all(io, head, static_cast<size_t>(h))) return "receive_bytes ack len send error\n";
  return nullptr;
}

// ---- lists ----

void split_module(const char* p, size_t n, Span* name, Span* rest) {
  const char* colon = static_cast<const char*>(std::memchr(p, ':', n));
  if (!colon) {
    *name = {p, n};
    *rest = {p + n, 0};
    return;
  }
  *name = {p, static_cast<size_t>(colon - p)};
  *rest = {colon + 1, n - static_cast<size_t>(colon - p) - 1};
}

// A line number 1..65535 written in decimal digits only; 0 otherwise.
static uint16_t line_number(const char* p, size_t n) {
  if (n == 0 || n > 5) return 0;
  unsigned v = 0;
  for (size_t i = 0; i < n; i++) {
    if (p[i] < '0' || p[i] > '9') return 0;
    v = v * 10 + static_cast<unsigned>(p[i] - '0');
  }
  return v <= 0xFFFF ? static_cast<uint16_t>(v) : 0;
}

size_t parse_line_list(Span t, uint16_t* out, size_t cap) {
  size_t count = 0, i = 0;
  while (i < t.n) {
    size_t j = i;
    while (j < t.n && t.p[j] != ':') j++;
    uint16_t line = line_number(t.p + i, j - i);
    if (line && count < cap) out[count++] = line;
    i = j + 1;
  }
  return count;
}

bool next_entry(Span t, size_t* pos, uint16_t* line, Span* text) {
  size_t i = *pos;
  if (i >= t.n) return false;
  size_t colon = i;
  while (colon < t.n && t.p[colon] != ':' && t.p[colon] != ';') colon++;
  if (colon >= t.n || t.p[colon] == ';') {
    // No "line:" before the end of the entry: skip it.
    *line = 0;
    *text = {t.p + colon, 0};
    *pos = colon + 1;
    return true;
  }
  *line = line_number(t.p + i, colon - i);
  size_t j = colon + 1;
  char quote = 0;
  while (j < t.n) {
    char c = t.p[j];
    if (quote) {
      if (c == '\\') j++;
      else if (c == quote) quote = 0;
    } else if (c == '"' || c == '\'' || c == '`') {
      quote = c;
    } else if (c == ';') {
      break;
    }
    j++;
  }
  if (j > t.n) j = t.n;
  *text = {t.p + colon + 1, j - colon - 1};
  *pos = j + 1;
  return true;
}

int parse_selector(const char* p, size_t n, Selector* s) {
  const char* semi = static_cast<const char*>(std::memchr(p, ';', n));
  if (!semi) return -1;
  size_t sn = static_cast<size_t>(semi - p);
  s->expr = {semi + 1, n - sn - 1};
  s->given = sn > 0;
  s->depth = -1;
  s->module = s->function = {p, 0};
  if (!s->given) return 0;
  // module ":" function ":" depth ":"
  const char* c1 = static_cast<const char*>(std::memchr(p, ':', sn));
  if (!c1) return -2;
  const char* c2 = static_cast<const char*>(std::memchr(c1 + 1, ':', static_cast<size_t>(semi - c1 - 1)));
  if (!c2) return -2;
  const char* c3 = static_cast<const char*>(std::memchr(c2 + 1, ':', static_cast<size_t>(semi - c2 - 1)));
  if (!c3 || c3 + 1 != semi || c3 == c2 + 1 || c3 - c2 - 1 > 9) return -2;
  long d = 0;
  for (const char* q = c2 + 1; q < c3; q++) {
    if (*q < '0' || *q > '9') return -2;
    d = d * 10 + (*q - '0');
  }
  s->module = {p, static_cast<size_t>(c1 - p)};
  s->function = {c1 + 1, static_cast<size_t>(c2 - c1 - 1)};
  s->depth = d;
  return 0;
}
