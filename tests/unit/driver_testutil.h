// Helpers of the driver's unit tests: catching jumps, running code in a child process with its
// standard output captured, temporary directories.
#pragma once
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "driver/errors.h"

constexpr DW NO_JUMP = 0xFFFFFFFF;

// Runs fn under an outermost JF_TRY frame; returns the code that arrived there, or NO_JUMP when
// fn returned normally.
inline DW catch_jump(void (*fn)()) {
  jump_depth = 0;
  int fr = jump_push(JF_TRY);
  if (JUMP_ARM(fr)) {
    jump_depth = fr + 1;
    return jump_code;
  }
  fn();
  jump_depth = 0;
  return NO_JUMP;
}

struct ChildResult {
  int status;       // exit status, or -1 when the child did not exit normally
  std::string out;  // everything it wrote to standard output
};

// Runs fn in a forked child whose standard output goes into a pipe; the child exits with 99 if
// fn returns.
template <class F>
ChildResult run_child(F fn) {
  int p[2];
  if (pipe(p) != 0) return {-1, ""};
  std::fflush(stdout);
  pid_t pid = fork();
  if (pid == 0) {
    dup2(p[1], 1);
    close(p[0]);
    close(p[1]);
    fn();
    std::fflush(stdout);
    _exit(99);
  }
  close(p[1]);
  std::string out;
  char buf[4096];
  ssize_t n;
  while ((n = read(p[0], buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
  close(p[0]);
  int st = 0;
  waitpid(pid, &st, 0);
  return {WIFEXITED(st) ? WEXITSTATUS(st) : -1, out};
}

inline std::string make_temp_dir() {
  char tmpl[] = "/tmp/driver_test_XXXXXX";
  char* d = mkdtemp(tmpl);
  return d ? std::string(d) : std::string();
}

inline void write_file(const std::string& path, const std::string& text) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return;
  std::fwrite(text.data(), 1, text.size(), f);
  std::fclose(f);
}

inline std::string read_file(const std::string& path) {
  std::string s;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return s;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
  std::fclose(f);
  return s;
}

inline void remove_tree(const std::string& dir) {
  std::string cmd = "rm -rf '" + dir + "'";
  if (std::system(cmd.c_str()) != 0) {
  }
}

// The fatal record of a message: "S148555" and a plain field.
inline std::string fatal_record(const std::string& msg) {
  std::string len = std::to_string(msg.size());
  return "S148555" + std::to_string(len.size()) + len + msg;
}
