// scriptcgi-limits: runs a CGI program under CPU-time, memory and core-file limits.
//
// A web server without per-request limits of its own (lighttpd's mod_cgi) names this program as
// the interpreter of the engine: it is started as `scriptcgi-limits PROGRAM [ARGS...]`, sets the
// limits and replaces itself with PROGRAM, whose argv[0] stays the full path the server gave (the
// engine finds its configuration beside it). The limits come from the server's environment:
//   LIMIT_CPU_SECONDS  CPU seconds (SIGXCPU at that, SIGKILL one second later), default 10
//   LIMIT_MEMORY_MB    address space in MiB, default 512; 0 leaves it unlimited
// Both are removed from the environment before the program starts.
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

static long limit_from(const char* name, long fallback) {
  const char* text = std::getenv(name);
  if (!text || !*text) return fallback;
  char* end = nullptr;
  errno = 0;
  long v = std::strtol(text, &end, 10);
  if (errno || *end || v < 0) {
    std::fprintf(stderr, "scriptcgi-limits: %s=%s is not a count\n", name, text);
    std::exit(126);
  }
  return v;
}

static void set_limit(int resource, rlim_t soft, rlim_t hard, const char* what) {
  rlimit r{soft, hard};
  rlimit now{};
  // A limit can only be lowered: keep a lower one that the server already has.
  if (getrlimit(resource, &now) == 0 && now.rlim_max != RLIM_INFINITY && now.rlim_max < hard) {
    r.rlim_max = now.rlim_max;
    if (r.rlim_cur > r.rlim_max) r.rlim_cur = r.rlim_max;
  }
  if (setrlimit(resource, &r) != 0) {
    std::fprintf(stderr, "scriptcgi-limits: cannot limit %s: %s\n", what, std::strerror(errno));
    std::exit(126);
  }
}

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: scriptcgi-limits PROGRAM [ARGS...]\n");
    return 126;
  }
  long cpu = limit_from("LIMIT_CPU_SECONDS", 10);
  long memory = limit_from("LIMIT_MEMORY_MB", 512);
  unsetenv("LIMIT_CPU_SECONDS");
  unsetenv("LIMIT_MEMORY_MB");
  if (cpu > 0) set_limit(RLIMIT_CPU, static_cast<rlim_t>(cpu), static_cast<rlim_t>(cpu) + 1, "CPU time");
  if (memory > 0) {
    rlim_t bytes = static_cast<rlim_t>(memory) << 20;
    set_limit(RLIMIT_AS, bytes, bytes, "memory");
  }
  set_limit(RLIMIT_CORE, 0, 0, "core files");  // a killed request leaves no core file behind
  execv(argv[1], argv + 1);
  std::fprintf(stderr, "scriptcgi-limits: cannot run %s: %s\n", argv[1], std::strerror(errno));
  return 127;
}
