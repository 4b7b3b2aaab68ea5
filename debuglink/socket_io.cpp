// The link's byte channel over a connected socket: poll, recv and send with their retries.
#include "debuglink/socket_io.h"

#include <poll.h>
#include <sys/socket.h>
#include <time.h>

#include <cerrno>

static int sock_wait(void* ctx, bool write, int timeout_ms) {
  pollfd p{*static_cast<int*>(ctx), static_cast<short>(write ? POLLOUT : POLLIN), 0};
  for (;;) {
    int r = poll(&p, 1, timeout_ms);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return -1;
    if (r == 0) return 0;
    // A hung-up peer still reads as "ready": recv then reports the end.
    if (write && (p.revents & (POLLERR | POLLHUP))) return -1;
    return 1;
  }
}

static long sock_recv(void* ctx, char* buf, size_t n) {
  for (;;) {
    ssize_t r = recv(*static_cast<int*>(ctx), buf, n, 0);
    if (r < 0 && errno == EINTR) continue;
    return r;
  }
}

static long sock_send(void* ctx, const char* buf, size_t n) {
  for (;;) {
    // A peer that went away must not end the process with SIGPIPE.
    ssize_t r = send(*static_cast<int*>(ctx), buf, n, MSG_NOSIGNAL);
    if (r < 0 && errno == EINTR) continue;
    return r;
  }
}

static void sock_pause(void*, int ms) {
  timespec t{ms / 1000, (ms % 1000) * 1000000L};
  while (nanosleep(&t, &t) != 0 && errno == EINTR) {}
}

LinkIo socket_link_io(int* fd) { return LinkIo{sock_wait, sock_recv, sock_send, sock_pause, fd}; }
