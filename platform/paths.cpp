// The executable's directory.
#include <unistd.h>

#include <cstring>

#include "platform/platform.h"

bool exe_directory(const char* argv0, char* out, size_t cap) {
  const char* src = argv0 ? argv0 : "";
  const char* slash = std::strrchr(src, '/');
  char self[4096];
  if (!slash) {
    // Started through PATH: the configuration still lives beside the real executable.
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n > 0) {
      self[n] = 0;
      src = self;
      slash = std::strrchr(src, '/');
    }
  }
  if (!slash) {
    if (cap < 3) return false;
    std::memcpy(out, "./", 3);
    return true;
  }
  size_t len = static_cast<size_t>(slash - src) + 1;
  if (len + 1 > cap) return false;
  std::memcpy(out, src, len);
  out[len] = 0;
  return true;
}
