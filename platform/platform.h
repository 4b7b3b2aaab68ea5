// The thin Linux layer: executable directory, dynamic loading, the locked journal open, clocks,
// directory walk, the system's random sequence and sleeping.
#pragma once
#include <cstddef>
#include <cstdint>
#include <ctime>

// paths.cpp: the executable's directory with a trailing '/': argv0 up to its last '/', else the
// directory of /proc/self/exe ("./" when even that is unknown). Returns false when it does not fit.
bool exe_directory(const char* argv0, char* out, size_t cap);

// dynload.cpp
void* dyn_open(const char* path);            // dlopen(path, RTLD_NOW); null on failure
void* dyn_symbol(void* lib, const char* name);
const char* dyn_error();                     // last loader error text, never null

// filelock.cpp: opens path for appending (created 0644) and takes an exclusive non-blocking lock.
// Returns the descriptor, or -1 when the open or the lock fails. The lock ends with file_close.
int file_open_locked(const char* path);
// Writes all bytes (retrying short writes); false on an error.
bool file_write_all(int fd, const void* data, size_t len);
void file_close(int fd);

// clock.cpp
time_t clock_now();                              // seconds since the epoch
void clock_local(time_t t, struct tm* out);      // local calendar fields (TZ applies)
void clock_utc(time_t t, struct tm* out);        // UTC calendar fields
// "%d/%02d/%02d %02d:%02d:%02d" of the local time now; returns its length.
int clock_local_text(char* out, size_t cap);
int clock_local_text_at(time_t t, char* out, size_t cap);
void sleep_ms(int ms);

// dirwalk.cpp: calls fn for every regular file below dir (recursively, "." and ".." skipped), with
// its path (base path, '/', name) and its modification time and size. Subdirectories are entered
// with their path. Returns false when dir cannot be opened.
struct DirEntryInfo {
  const char* path;
  const char* name;
  time_t mtime;
  uint64_t size;
};
using DirWalkFn = void (*)(void* ctx, const DirEntryInfo* entry);
bool dir_walk(const char* dir, DirWalkFn fn, void* ctx);

// rng.cpp: the system's own generator: x = x * 214013 + 2531011 (mod 2^32), result
// (x >> 16) & 0x7FFF. The request token depends on this exact sequence.
extern uint32_t rng_state;
inline void rng_seed(uint32_t seed) { rng_state = seed; }
inline int rng_next() {
  rng_state = rng_state * 214013u + 2531011u;
  return static_cast<int>((rng_state >> 16) & 0x7FFF);
}
