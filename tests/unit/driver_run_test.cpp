// The request body: CONTENT_LENGTH, and a body read to its length however it is delivered.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "driver/config.h"
#include "driver/run.h"
#include "driver_testutil.h"

namespace {

// A standard input that hands out the body a few bytes per read.
std::string feed;
size_t fed, per_read;
int read_calls;
ssize_t fake_read(int, void* buf, size_t len) {
  read_calls++;
  size_t n = std::min({len, per_read, feed.size() - fed});
  std::memcpy(buf, feed.data() + fed, n);
  fed += n;
  return static_cast<ssize_t>(n);
}

struct BodyResult {
  int status;        // 99: returned normally
  std::string out;   // fatal record, if any
  std::string body;  // what was read
  int reads;
};

BodyResult read_body(const char* contentLength, const std::string& input, size_t perRead) {
  if (contentLength) setenv("CONTENT_LENGTH", contentLength, 1);
  else unsetenv("CONTENT_LENGTH");
  feed = input;
  fed = 0;
  per_read = perRead;
  read_calls = 0;
  body_read = fake_read;
  // The result travels back through the pipe after the body.
  ChildResult r = run_child([] {
    config_reset();
    read_cgi_body();
    std::printf("%d|%zu|", read_calls, body_len);
    std::fwrite(body_buf, 1, body_len, stdout);
  });
  BodyResult b{r.status, r.out, "", 0};
  if (r.status == 99) {
    size_t bar2 = r.out.find('|', r.out.find('|') + 1);
    b.reads = std::atoi(r.out.c_str());
    b.body = r.out.substr(bar2 + 1);
    b.out.clear();
  }
  return b;
}

TEST(RunBody, ContentLength) {
  std::string big(20000, 'b');
  std::string ten_mb(10485760, 'm');
  struct Case {
    const char* length;
    std::string input;
    size_t perRead;
    int status;
    std::string body, out;
    int reads;
  } cases[] = {
      {nullptr, "ignored", 100, 99, "", "", 0},
      {"", "ignored", 100, 99, "", "", 0},
      {"5", "abcdefgh", 100, 99, "abcde", "", 1},        // bytes beyond the length are not read
      {"10", "abc", 100, 99, "abc", "", 2},               // the input ended early
      {"20000", big, 4096, 99, big, "", 5},              // an allocated buffer
      {"200", std::string(200, 'x'), 1, 99, std::string(200, 'x'), "", 200},
      {"201", std::string(201, 'x'), 1, 99, std::string(201, 'x'), "", 201},
      {"10485760", ten_mb, 1024, 99, ten_mb, "", 10240},  // many small pieces: never a fault
      {"12a", "", 1, 0, "", fatal_record("CONTENT_LENGTH is not not number format."), 0},
      {"-1", "", 1, 0, "", fatal_record("CONTENT_LENGTH is not not number format."), 0},
      {"99999999999999999999", "", 1, 0, "", fatal_record("CONTENT_LENGTH is not not number format."), 0},
  };
  for (const Case& c : cases) {
    BodyResult r = read_body(c.length, c.input, c.perRead);
    EXPECT_EQ(r.status, c.status) << (c.length ? c.length : "unset");
    EXPECT_EQ(r.out, c.out);
    EXPECT_TRUE(r.body == c.body) << (c.length ? c.length : "unset");
    if (c.status == 99) {
      EXPECT_EQ(r.reads, c.reads) << (c.length ? c.length : "unset");
    }
  }
  unsetenv("CONTENT_LENGTH");
}

}  // namespace
