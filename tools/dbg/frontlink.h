// The front end's side of the debugger link: a listening socket for scriptcgi-debug and the
// framed messages of one connected run.
#pragma once
#include <optional>
#include <string>

class FrontLink {
 public:
  ~FrontLink();
  // Listens on host:port; false (with a message in error()) when it cannot.
  bool listen_on(const std::string& host, int port);
  int listen_fd() const { return listen_fd_; }
  int conn_fd() const { return conn_fd_; }
  bool connected() const { return conn_fd_ >= 0; }
  // Takes a waiting connection (after poll said the listening socket is readable).
  bool accept_one();
  void drop();
  // Sends one message and waits for its acknowledgement; false (and the run dropped) on failure.
  bool send(const std::string& payload);
  // The next message, waiting up to timeout_ms; nullopt on a time-out (timed_out() set) or when
  // the run went away (connected() false).
  std::optional<std::string> receive(int timeout_ms);
  bool timed_out() const { return timed_out_; }
  const std::string& error() const { return error_; }

 private:
  int listen_fd_ = -1;
  int conn_fd_ = -1;
  bool timed_out_ = false;
  std::string error_;
};
