// Framing of the debugger link over an abstract byte channel: length headers, payloads and
// acknowledgements, with the link's time-outs and failure texts. No socket is touched here, so
// the reader can be fed bytes from memory.
#pragma once
#include <cstddef>
#include <cstdint>

// The channel. wait: 1 ready, 0 timed out, -1 error; recv: bytes read, 0 at end, -1 error;
// send: bytes sent, -1 error; pause sleeps.
struct LinkIo {
  int (*wait)(void* ctx, bool write, int timeout_ms);
  long (*recv)(void* ctx, char* buf, size_t n);
  long (*send)(void* ctx, const char* buf, size_t n);
  void (*pause)(void* ctx, int ms);
  void* ctx;
};

// A received payload: grown on the heap as its bytes arrive (a length that lies reserves
// nothing it never receives), always NUL-terminated.
struct LinkMessage {
  char* data;
  size_t len;
  size_t cap;
};
void message_free(LinkMessage* m);

constexpr int WIRE_HEADER_MAX = 10;           // "J" + nine digits
constexpr size_t WIRE_LENGTH_MAX = 999999999; // the largest length a header can carry
constexpr int ACK_TIMEOUT_MS = 10000;
constexpr int SEND_POLL_MS = 10000;
constexpr int SEND_POLLS = 50;
constexpr int ROUND_MS = 50;
constexpr int PAYLOAD_BUDGET_MS = 120000;

// "A" + d followed by the d digits of n: 5 gives "B5", 12 gives "C12". Returns the size.
int wire_header(size_t n, char* out);

// Reads one number (a header letter and its digits), each byte within timeout_ms. Returns 0 and
// sets *value, or -1 when the channel failed or timed out, -2 when the bytes are no number.
int wire_read_number(const LinkIo* io, int timeout_ms, size_t* value);

// Sends header and payload, then reads the acknowledgement and compares it with the payload
// length. Returns nullptr, or the failure text.
const char* wire_send(const LinkIo* io, const char* payload, size_t len);
// Receives one message (number within timeout_ms, payload polled with timeout_ms per round)
// and acknowledges it. Returns nullptr, or the failure text.
const char* wire_receive(const LinkIo* io, LinkMessage* m, int timeout_ms);

// ---- the lists that front-end messages carry ----

// "name:rest": the module name up to the first ':' and what follows (empty without ':').
struct Span {
  const char* p;
  size_t n;
};
void split_module(const char* p, size_t n, Span* name, Span* rest);
// Break-point lines: decimal numbers each ended by ':'. Entries that are no line number (empty,
// not digits, 0 or above 65535) are skipped. Returns the count stored (at most cap).
size_t parse_line_list(Span t, uint16_t* out, size_t cap);
// Next "line:text;" entry of a conditional or trace list from *pos; the text ends at the first
// ';' outside quotes (or at the end). Returns false at the end. *line is 0 for an entry whose
// line is not a number 1..65535.
bool next_entry(Span t, size_t* pos, uint16_t* line, Span* text);
// The frame selector of an evaluation, "[module:function:depth:];expression".
struct Selector {
  bool given;
  Span module, function;
  long depth;
  Span expr;
};
// 0: parsed; -1: no ';' (format error); -2: a selector that names no frame form.
int parse_selector(const char* p, size_t n, Selector* s);
