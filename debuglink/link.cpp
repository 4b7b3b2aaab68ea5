// The debugger link's socket: connecting to the front end with the 200 ms bound, the channel the
// framing runs on, link failures, closing, and the messages the engine sends on its own (error
// texts, console output, the end notice).
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "debuglink/link.h"
#include "debuglink/socket_io.h"
#include "driver/config.h"
#include "driver/debughooks.h"
#include "driver/journal.h"
#include "eval/eval.h"

bool debug_program = true;

static int link_fd = -1;
sigjmp_buf exchange_env;
bool exchange_active = false;

static LinkIo socket_io = socket_link_io(&link_fd);

bool link_up() { return link_fd >= 0; }
bool debug_link_open() { return link_fd >= 0; }

static void parser_report(const char* message) {
  if (link_up()) link_send_kind('D', message, std::strlen(message));
}

void debug_close() {
  if (link_fd < 0) return;
  close(link_fd);
  link_fd = -1;
  eval_hooks_on = false;
  jump_observer = nullptr;
  exchange_active = false;
  if (parser_report_hook == parser_report) parser_report_hook = nullptr;
}

void link_fail(const char* text) {
  journal_append(text, std::strlen(text));
  debug_close();
  debug_port[0] = 0;
  if (exchange_active) {
    exchange_active = false;
    evaluation_abandon();
    siglongjmp(exchange_env, 1);
  }
}

bool link_send(const char* payload, size_t len) {
  if (!link_up()) return false;
  const char* failure = wire_send(&socket_io, payload, len);
  if (!failure) return true;
  link_fail(failure);
  return false;
}

bool link_send_kind(char kind, const char* text, size_t len) {
  char small[1024];
  char* buf = len + 1 <= sizeof small ? small : static_cast<char*>(std::malloc(len + 1));
  if (!buf) return false;
  buf[0] = kind;
  if (len) std::memcpy(buf + 1, text, len);
  bool ok = link_send(buf, len + 1);
  if (buf != small) std::free(buf);
  return ok;
}

bool link_receive(LinkMessage* m, int timeout_ms) {
  if (!link_up()) return false;
  const char* failure = wire_receive(&socket_io, m, timeout_ms);
  if (!failure) return true;
  link_fail(failure);
  return false;
}

bool debug_connect(const char* address, const char* port) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* res = nullptr;
  if (getaddrinfo(address, port, &hints, &res) != 0 || !res) {
    debug_port[0] = 0;
    return false;
  }
  int fd = socket(res->ai_family, res->ai_socktype | SOCK_CLOEXEC, res->ai_protocol);
  bool ok = fd >= 0;
  if (ok) {
    int flags = fcntl(fd, F_GETFL, 0);
    fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    int r = connect(fd, res->ai_addr, res->ai_addrlen);
    ok = r == 0 || errno == EINPROGRESS;
    fcntl(fd, F_SETFL, flags);
    if (ok && r != 0) {
      pollfd p{fd, POLLOUT, 0};
      int w;
      do w = poll(&p, 1, 200);
      while (w < 0 && errno == EINTR);
      int err = 0;
      socklen_t el = sizeof err;
      // Writable also means "failed" here: the pending error decides.
      ok = w > 0 && getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &el) == 0 && err == 0;
    }
  }
  freeaddrinfo(res);
  if (!ok) {
    if (fd >= 0) close(fd);
    debug_port[0] = 0;
    return false;
  }
  link_fd = fd;
  tables_clear_all();
  frames_reset();
  step_state = Stepping{false, false, false, false, 0};
  eval_hooks_on = true;
  jump_observer = debug_unwind;
  if (!parser_report_hook) parser_report_hook = parser_report;
  return true;
}

void debug_report_text(const char* text, size_t len) {
  if (link_up()) link_send_kind('D', text, len);
}

void debug_log(char label, const char* text, size_t len) {
  if (link_up()) link_send_kind(label, text, len);
}

void debug_end_run() {
  if (!link_up()) return;
  // The end notice is not an exchange: a failure here only closes the link.
  exchange_active = false;
  link_send("X", 1);
  debug_close();
}
