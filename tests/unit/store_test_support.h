// Shared helpers of the value-store unit tests: a fresh store per test and the capture of
// raised errors through an outermost try frame.
#pragma once
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "driver/errors.h"
#include "store/store.h"
#include "store/store_state.h"

// Runs f under an outermost JF_TRY frame. Returns the code of the error it raised (0 when it
// returned normally); the raised message stays in message_buffer.
template <class F>
int raised_code(F&& f) {
  jump_depth = 0;
  running = false;
  int fr = jump_push(JF_TRY);
  if (JUMP_ARM(fr)) {
    jump_depth = 0;
    const char* rec = static_cast<const char*>(area_ptr(jump_code));
    return std::atoi(rec + 6);   // the code as decimal text
  }
  f();
  jump_depth = 0;
  return 0;
}

// True when the last raised message ends with `tail`.
inline bool message_ends_with(const char* tail) {
  size_t n = std::strlen(message_buffer), t = std::strlen(tail);
  return n >= t && std::memcmp(message_buffer + n - t, tail, t) == 0;
}

inline unsigned header_count(DW h) { return *dw_header(h) >> 4; }

class StoreTest : public ::testing::Test {
 protected:
  void SetUp() override { store_reset(); }
  void TearDown() override { store_reset(); }
  static void run_phase() { store_switch_to_run_phase(); }
};
