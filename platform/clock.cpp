// Clocks and sleeping.
#include <cstdio>
#include <ctime>

#include "platform/platform.h"

// clock_gettime reaches the vDSO through a pointer the loader sets at start; time() is bound
// through a lookup of its own at its first call.
time_t clock_now() {
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  return ts.tv_sec;
}

void clock_local(time_t t, struct tm* out) { localtime_r(&t, out); }

void clock_utc(time_t t, struct tm* out) { gmtime_r(&t, out); }

int clock_local_text(char* out, size_t cap) { return clock_local_text_at(clock_now(), out, cap); }

int clock_local_text_at(time_t t, char* out, size_t cap) {
  struct tm tm;
  clock_local(t, &tm);
  int n = std::snprintf(out, cap, "%d/%02d/%02d %02d:%02d:%02d", tm.tm_year + 1900, tm.tm_mon + 1,
                        tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
  if (n < 0) n = 0;
  if (static_cast<size_t>(n) >= cap) n = cap ? static_cast<int>(cap - 1) : 0;
  return n;
}

void sleep_ms(int ms) {
  struct timespec ts{ms / 1000, static_cast<long>(ms % 1000) * 1000000L};
  while (nanosleep(&ts, &ts) != 0) {
  }
}
