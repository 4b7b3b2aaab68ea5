// Fuzz target: the configuration reader over a configuration file's text. Every line either
// sets what its key says or ends the program with the format's fatal record; the settings stay
// within their limits. Paths the text names are looked up relative to a private directory.
#include <fcntl.h>

#include <cstdint>
#include <vector>

#include "fuzz_support.h"

namespace {

std::string config_path;
int config_fd = -1;
std::vector<std::string> saved_environment;

// ENV lines change the environment: put the original one back.
void restore_environment() {
  clearenv();
  for (std::string& entry : saved_environment) {
    size_t eq = entry.find('=');
    setenv(entry.substr(0, eq).c_str(), entry.c_str() + eq + 1, 1);
  }
}

void read_config() { read_config_file(config_path.c_str()); }

// A digest check walks the directory it names: only names inside the private directory are
// walked, so that a text naming "/" does not walk the whole machine.
bool walks_outside(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  return text.find(">>>") != std::string::npos && (text.find('/') != std::string::npos || text.find("..") != std::string::npos ||
                                                  text.find('\\') != std::string::npos);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::string dir = fuzz::make_private_dir("fuzz-config");
  if (chdir(dir.c_str()) != 0) std::abort();
  mkdir("modules", 0755);
  fuzz::write_file("modules/a.js", "var a = 1;\n");
  fuzz::write_file("modules/b.jo", "");
  config_path = dir + "/ZOLK.config";
  config_fd = open(config_path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
  if (config_fd < 0) std::abort();
  // A fatal stop would append to the journal the text names: never open one.
  journal_lock_attempts = 0;
  for (char** e = environ; *e; e++) saved_environment.emplace_back(*e);
  return 0;
}

// Descriptors below this are checked for ones an input left open.
constexpr int FD_SWEEP = 256;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (walks_outside(data, size)) return 0;
  fuzz::engine_reset();
  if (ftruncate(config_fd, 0) != 0 || pwrite(config_fd, data, size, 0) != static_cast<ssize_t>(size)) std::abort();
  fuzz::capture_begin();
  // A fatal stop ends a real process, which closes the files it had open (the configuration
  // file, a digest directory); here the jump back leaves them open, so they are closed by hand.
  bool open_before[FD_SWEEP] = {};
  for (int fd = 0; fd < FD_SWEEP; fd++) open_before[fd] = fcntl(fd, F_GETFD) != -1;
  int code = fuzz::guarded(read_config);
  for (int fd = 0; fd < FD_SWEEP; fd++)
    if (!open_before[fd] && fcntl(fd, F_GETFD) != -1) close(fd);
  fuzz::capture_finish();
  if (code != 0 && code != -2) {
    std::fprintf(stderr, "configuration raised %d: %s\n", code, message_buffer);
    std::abort();
  }
  if (std::strlen(journal_path) > JOURNAL_PATH_MAX || std::strlen(token_key) > TOKEN_KEY_MAX ||
      std::strlen(module_dir) > MODULE_DIR_MAX || std::strlen(debug_port) > DEBUG_PORT_MAX || module_last >= MODULE_LIMIT) {
    std::fprintf(stderr, "a setting beyond its limit\n");
    std::abort();
  }
  for (int i = 0; i < var_count; i++) (void)std::strlen(var_text(i));
  for (int i = 0; i <= module_last; i++) (void)std::strlen(module_name(i));
  fuzz::capture_end();
  restore_environment();
  return 0;
}
