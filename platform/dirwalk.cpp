// Recursive walk of a directory's regular files.
#include <dirent.h>
#include <sys/stat.h>

#include <cstdlib>
#include <cstring>

#include "platform/platform.h"

static bool walk(char* path, size_t len, size_t cap, DirWalkFn fn, void* ctx) {
  DIR* d = opendir(path);
  if (!d) return false;
  while (struct dirent* e = readdir(d)) {
    const char* name = e->d_name;
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
    size_t nl = std::strlen(name);
    if (len + 1 + nl + 1 > cap) continue;  // a path the system cannot name is skipped
    path[len] = '/';
    std::memcpy(path + len + 1, name, nl + 1);
    struct stat st;
    if (stat(path, &st) == 0) {
      if (S_ISDIR(st.st_mode)) {
        walk(path, len + 1 + nl, cap, fn, ctx);
      } else if (S_ISREG(st.st_mode)) {
        DirEntryInfo info{path, path + len + 1, st.st_mtime, static_cast<uint64_t>(st.st_size)};
        fn(ctx, &info);
      }
    }
    path[len] = 0;
  }
  closedir(d);
  return true;
}

bool dir_walk(const char* dir, DirWalkFn fn, void* ctx) {
  constexpr size_t cap = 8192;
  char* path = static_cast<char*>(std::malloc(cap));
  if (!path) return false;
  size_t len = std::strlen(dir);
  if (len + 1 > cap) {
    std::free(path);
    return false;
  }
  std::memcpy(path, dir, len + 1);
  while (len > 1 && path[len - 1] == '/') path[--len] = 0;  // base path without its trailing '/'
  bool ok = walk(path, len, cap, fn, ctx);
  std::free(path);
  return ok;
}
