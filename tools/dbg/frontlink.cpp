// The front end's socket: listening, one connection at a time, and the framing shared with the
// engine (debuglink/wire.h) on a blocking socket.
#include "tools/dbg/frontlink.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "debuglink/socket_io.h"


FrontLink::~FrontLink() {
  drop();
  if (listen_fd_ >= 0) close(listen_fd_);
}

bool FrontLink::listen_on(const std::string& host, int port) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_PASSIVE;
  addrinfo* res = nullptr;
  std::string service = std::to_string(port);
  int rc = getaddrinfo(host.empty() ? nullptr : host.c_str(), service.c_str(), &hints, &res);
  if (rc != 0) {
    error_ = std::string("cannot resolve ") + host + ": " + gai_strerror(rc);
    return false;
  }
  int fd = socket(res->ai_family, res->ai_socktype | SOCK_CLOEXEC, res->ai_protocol);
  int one = 1;
  if (fd >= 0) setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  if (fd < 0 || bind(fd, res->ai_addr, res->ai_addrlen) != 0 || ::listen(fd, 4) != 0) {
    error_ = "cannot listen on " + host + ":" + service + ": " + std::strerror(errno);
    if (fd >= 0) close(fd);
    freeaddrinfo(res);
    return false;
  }
  freeaddrinfo(res);
  listen_fd_ = fd;
  return true;
}

bool FrontLink::accept_one() {
  int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
  if (fd < 0) return false;
  if (conn_fd_ >= 0) {
    // One run at a time: a second program finds nobody and runs without a debugger.
    close(fd);
    return false;
  }
  conn_fd_ = fd;
  return true;
}

void FrontLink::drop() {
  if (conn_fd_ >= 0) close(conn_fd_);
  conn_fd_ = -1;
}

bool FrontLink::send(const std::string& payload) {
  if (conn_fd_ < 0) return false;
  LinkIo io = socket_link_io(&conn_fd_);
  if (const char* failure = wire_send(&io, payload.data(), payload.size())) {
    error_ = failure;
    drop();
    return false;
  }
  return true;
}

std::optional<std::string> FrontLink::receive(int timeout_ms) {
  timed_out_ = false;
  if (conn_fd_ < 0) return std::nullopt;
  pollfd p{conn_fd_, POLLIN, 0};
  int r;
  do r = poll(&p, 1, timeout_ms);
  while (r < 0 && errno == EINTR);
  if (r == 0) {
    timed_out_ = true;
    return std::nullopt;
  }
  LinkIo io = socket_link_io(&conn_fd_);
  LinkMessage m{nullptr, 0, 0};
  // Once a message has begun, its bytes follow at once; a program that stops mid-message is gone.
  const char* failure = wire_receive(&io, &m, 10000);
  if (failure) {
    error_ = failure;
    message_free(&m);
    drop();
    return std::nullopt;
  }
  std::string out(m.data, m.len);
  message_free(&m);
  return out;
}
