// Shared pieces of the fuzz targets: the process-wide state put back between inputs, a guard that
// turns a fatal stop into a return, an outermost error frame, and a private temporary directory.
#pragma once
#include <sys/stat.h>
#include <unistd.h>

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "driver/config.h"
#include "driver/errors.h"
#include "driver/intake.h"
#include "driver/journal.h"
#include "driver/loader.h"
#include "driver/protocol.h"
#include "driver/run.h"
#include "driver/token.h"
#include "eval/eval.h"
#include "frontend/tree.h"
#include "store/store.h"

namespace fuzz {

// A fatal stop ends the process in production; here it jumps back to the harness.
inline sigjmp_buf fatal_guard;
inline bool fatal_armed = false;
inline void fatal_jump(int) {
  if (!fatal_armed) std::_Exit(0);
  fatal_armed = false;
  siglongjmp(fatal_guard, 1);
}

// Gives back what one request collected: journal texts and a request body of its own.
inline void free_request_buffers() {
  static char* const initial_body = body_buf;
  for (JournalChunk* c = journal_first; c;) {
    JournalChunk* n = c->next;
    std::free(c);
    c = n;
  }
  journal_first = journal_last = nullptr;
  journal_used = 0;
  if (body_buf != initial_body) std::free(body_buf);
  body_buf = initial_body;
  body_len = 0;
}

// Every process-wide setting and table back to the state at process start.
inline void engine_reset() {
  free_request_buffers();
  config_reset();
  store_reset();
  name_table_reset();
  eval_reset();
  protocol_reset();
  intake_reset();
  loader_reset();
  request_failed = false;
  token_len = token_digest_len = 0;
  token_text[0] = token_digest_text[0] = 0;
  jump_depth = 0;
  throw_pending = false;
  running = false;
  parse_module = parse_line = 0;
  cur_module = 0;
  cur_position = 0;
  fatal_exit = fatal_jump;
}

// Runs fn under an outermost error frame and the fatal guard. Returns 0 when fn returned, the
// code of the error that reached the frame (-1 for a thrown value that is no error record), or
// -2 after a fatal stop.
inline int guarded(void (*fn)()) {
  fatal_armed = true;
  if (sigsetjmp(fatal_guard, 0)) return -2;
  jump_depth = 0;
  int fr = jump_push(JF_TRY);
  if (JUMP_ARM(fr)) {
    jump_depth = 0;
    running = false;
    fatal_armed = false;
    if (dw_type(jump_code) != T_ERROR) return -1;
    size_t len;
    const char* code = error_code_text(jump_code, &len);
    return std::atoi(std::string(code, len).c_str());
  }
  fn();
  jump_depth = 0;
  running = false;
  fatal_armed = false;
  return 0;
}

// A private directory under TMPDIR (else /dev/shm, else /tmp: a file system in memory keeps the
// journal's writes cheap), removed at exit.
inline std::string make_private_dir(const char* tag) {
  const char* tmp = std::getenv("TMPDIR");
  if (!tmp || !*tmp) tmp = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
  std::string tmpl = std::string(tmp) + "/scriptcgi-" + tag + "-XXXXXX";
  static std::string made;
  made = tmpl;
  if (!mkdtemp(made.data())) {
    std::perror("mkdtemp");
    std::abort();
  }
  std::atexit([] {
    std::string cmd = "rm -rf '" + made + "'";
    if (std::system(cmd.c_str()) != 0) {
    }
  });
  return made;
}

inline void write_file(const std::string& path, const char* text, size_t len) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (!f || std::fwrite(text, 1, len, f) != len) {
    std::perror(path.c_str());
    std::abort();
  }
  std::fclose(f);
}
inline void write_file(const std::string& path, const char* text) { write_file(path, text, std::strlen(text)); }

// Standard output goes to memory for one input: the response can then be looked at.
struct Captured {
  char* data = nullptr;
  size_t len = 0;
};
inline Captured capture;
inline FILE* const original_stdout = stdout;
inline void capture_begin() {
  capture = Captured{};
  stdout = open_memstream(&capture.data, &capture.len);
  if (!stdout) std::abort();
}
// Closes the stream unless the engine closed it; the text stays in capture until capture_end.
inline void capture_finish() {
  if (!out_is_closed()) std::fclose(stdout);
  stdout = original_stdout;
}
inline void capture_end() {
  std::free(capture.data);
  capture = Captured{};
}

}  // namespace fuzz
