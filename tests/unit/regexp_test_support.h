// Helpers of the regular-expression unit tests: fixture, raised error codes, searches.
#pragma once
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "driver/errors.h"
#include "frontend/tree.h"
#include "regexp/internal.h"
#include "store/store.h"

// Runs f under an outermost JF_TRY frame; returns the code of the error it raised, 0 when none.
// The message stays in message_buffer.
template <class F>
int raised_code(F&& f) {
  jump_depth = 0;
  running = false;
  int fr = jump_push(JF_TRY);
  if (JUMP_ARM(fr)) {
    jump_depth = 0;
    const char* rec = static_cast<const char*>(area_ptr(jump_code));
    return std::atoi(rec + 6);
  }
  f();
  jump_depth = 0;
  return 0;
}

// The message of the last raised error after its "... ERROR n (...) : " prefix.
inline std::string raised_message() {
  const char* p = std::strstr(message_buffer, ") : ");
  return p ? std::string(p + 4) : std::string(message_buffer);
}

class RegexpTest : public ::testing::Test {
 protected:
  void SetUp() override {
    store_reset();
    name_table_reset();
    store_switch_to_run_phase();
  }
};

// Compiles a pattern given as UTF-8 with flag letters; 0 (and a failed expectation) on error.
inline DW rx(const char* pat, const char* flags = "") {
  DW h = 0;
  int code = raised_code([&] { h = regexp_new(pat, std::strlen(pat), flags, std::strlen(flags)); });
  EXPECT_EQ(code, 0) << "pattern " << pat << ": " << message_buffer;
  return code ? 0 : h;
}

// The code raised by compiling a pattern (0 when it compiles).
inline int rx_error(const char* pat, size_t len, const char* flags = "") {
  return raised_code([&] { regexp_new(pat, len, flags, std::strlen(flags)); });
}
inline int rx_error(const char* pat, const char* flags = "") { return rx_error(pat, std::strlen(pat), flags); }

inline std::string utf8_of(const uint16_t* s, int32_t a, int32_t b) {
  if (a < 0 || b < a) return "<none>";
  std::vector<char> buf(static_cast<size_t>(b - a) * 3 + 1);
  size_t n = rx_utf16_to_utf8(s + a, static_cast<size_t>(b - a), buf.data(), buf.size());
  return std::string(buf.data(), n);
}

// One search: the error raised (0 when none), the match (start -1 when none) and the texts.
struct Found {
  int code = 0;
  int32_t start = -1, end = -1;
  std::string text;
  std::vector<std::string> groups;
};

inline Found search_in(DW re, const char* subject, int32_t from = 0) {
  Found f;
  int32_t units = 0;
  const uint16_t* s = nullptr;
  int32_t e = -1, ms = -1;
  f.code = raised_code([&] {
    s = rx_scratch_utf16(0, subject, std::strlen(subject), &units);
    e = regexp_search(s, units, from, re, &ms, rx_head(re)->flags);
  });
  if (f.code || e < 0) return f;
  f.start = ms;
  f.end = e;
  f.text = utf8_of(s, ms, e);
  for (int g = 1; g <= rx_last.groups; g++)
    f.groups.push_back(utf8_of(s, rx_last.span[2 * g], rx_last.span[2 * g + 1]));
  return f;
}

inline Found search(const char* pat, const char* flags, const char* subject, int32_t from = 0) {
  DW re = rx(pat, flags);
  if (!re) {
    Found f;
    f.code = -1;
    return f;
  }
  return search_in(re, subject, from);
}

inline RxItem* items_of(DW re) { return rx_items(rx_head(re)); }
inline std::vector<uint16_t> pool_units(DW re, const RxItem& it) {
  const uint16_t* p = rx_pool(rx_head(re)) + it.text;
  return std::vector<uint16_t>(p, p + it.len);
}
