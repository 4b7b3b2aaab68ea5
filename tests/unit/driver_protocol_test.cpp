// Fields, the driver's records and its handlers.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "driver/config.h"
#include "driver/errors.h"
#include "driver/journal.h"
#include "driver/protocol.h"
#include "driver_testutil.h"

namespace {

class ProtocolTest : public ::testing::Test {
 protected:
  void SetUp() override {
    store_reset();
    config_reset();
    journal_used = 0;
    running = false;
    count_a_records = count_h_records = count_alert_records = count_yz_records = 0;
  }
  void TearDown() override { jump_depth = 0; }
};

std::string encode(const std::string& s, size_t outSize = 4096) {
  static char out[65536];
  size_t n = field_encode(s.data(), s.size(), out, outSize);
  EXPECT_EQ(n, std::strlen(out));
  return std::string(out, n);
}

TEST_F(ProtocolTest, FieldEncoding) {
  struct Case {
    std::string in, out;
  } cases[] = {
      {"", "10"},
      {"abc", "13abc"},
      {"0123456789", "2100123456789"},
      {";,/?:@&=+$-_.*'()#", "218;,/?:@&=+$-_.*'()#"},
      {"a b", "B5a%20b"},
      {"100%", "B6100%25"},
      {"!~\"\\<>[]{}|^`", "C39%21%7E%22%5C%3C%3E%5B%5D%7B%7D%7C%5E%60"},
      {"\t\n\x7f", "B9%09%0A%7F"},
      {"あ", "B9%E3%81%82"},
      {"A%41", "B6A%2541"},
  };
  for (const Case& c : cases) EXPECT_EQ(encode(c.in), c.out) << c.in;
}

TEST_F(ProtocolTest, FieldEncodingStopsAtZeroByteOrMaxInput) {
  char out[64];
  EXPECT_EQ(field_encode("ab\0cd", 5, out, sizeof out), 4u);
  EXPECT_STREQ(out, "12ab");
  EXPECT_EQ(field_encode("abcdef", 2, out, sizeof out), 4u);
  EXPECT_STREQ(out, "12ab");
}

TEST_F(ProtocolTest, FieldTooLongRaises1585) {
  static char out[30];
  static size_t n;
  DW fits = catch_jump([] { n = field_encode("xxxxxxxxxxxxx", 13, out, 30); });  // 16 bytes
  EXPECT_EQ(fits, NO_JUMP);
  EXPECT_EQ(n, 16u);
  DW code = catch_jump([] { field_encode("xxxxxxxxxxxxxx", 14, out, 30); });    // 17 bytes
  ASSERT_NE(code, NO_JUMP);
  size_t ml;
  EXPECT_EQ(std::string(error_message_text(code, &ml)), "EVAL ERROR 1585 (:0:0) : Encodeバッファーの容量不足");
}

TEST_F(ProtocolTest, NumberFields) {
  struct Case {
    uint64_t n;
    const char* out;
  } cases[] = {{0, "10"}, {7, "17"}, {42, "242"}, {1234, "41234"},
               {4294967295u, ":4294967295"}};  // "0" + 10 digits, as the request's fields count
  for (const Case& c : cases) {
    char out[32];
    size_t len = number_field(c.n, out);
    EXPECT_EQ(std::string(out, len), c.out);
  }
}

std::string capture(void (*fn)()) {
  testing::internal::CaptureStdout();
  fn();
  out_flush();
  return testing::internal::GetCapturedStdout();
}

TEST_F(ProtocolTest, CompletionRecord) {
  EXPECT_EQ(capture([] { write_completion_record(); }), "C10101010");
  count_a_records = 3;
  count_h_records = 12;
  count_alert_records = 0;
  count_yz_records = 1000;
  EXPECT_EQ(capture([] { write_completion_record(); }), "C132121041000");
}

TEST_F(ProtocolTest, PlainRecords) {
  EXPECT_EQ(capture([] { write_fatal_record("abc", 3); }), "S14855513abc");
  // The journal-failure record carries its path unencoded.
  EXPECT_EQ(capture([] { write_journal_failure_record("C:\\log\\j.log"); }),
            "S149999238open&lock of jounal file(C:\\log\\j.log)");
  EXPECT_EQ(capture([] { write_journal_failure_record("/var/log/j o.log"); }),
            "S149999242open&lock of jounal file(/var/log/j o.log)");
}

DW error_1800() {
  return catch_jump([] { raise_eval_error(1800, "実行するJavaScriptのTOP関数が指定されていません"); });
}

std::string encoded(const std::string& s) {
  static char out[65536];
  size_t n = field_encode(s.data(), s.size(), out, sizeof out);
  return std::string(out, n);
}

TEST_F(ProtocolTest, HandlersByValueKind) {
  DW err = error_1800();
  size_t ml;
  std::string msg(error_message_text(err, &ml));
  journal_used = 0;
  DW str = make_string("abc", 3, 0);
  struct Case {
    void (*handler)(DW);
    DW value;
    std::string out, journal;
  } cases[] = {
      {handle_intake, err, "S141800" + encoded(msg), "\n" + msg + "\n"},
      {handle_run, err, "S141800" + encoded(msg), "\nERROR: CODE=1800, MESSAGE='" + msg + "'\n"},
      {handle_intake, str, "S1013abc", "\nERROR: MESSAGE='abc'\n"},
      {handle_run, str, "S1013abc", "\nERROR: MESSAGE='abc'\n"},
      {handle_intake, DW_UNDEFINED, "S1010", "\nERROR: CODE=, MESSAGE=\n"},
      {handle_run, DW(T_INT << 24 | 5), "S1010", "\nERROR: CODE=, MESSAGE=\n"},
      {handle_run, JUMP_BREAK, "S1010", "\nERROR: CODE=, MESSAGE=\n"},
      {handle_command_line, err, "ERROR  1800\x81\x46" + msg, "\n" + msg + "\n"},
      {handle_command_line, str, "ERROR\x81\x46 abc", "\nERROR\x81\x46 abc\n"},
      {handle_command_line, DW_NULL, "", ""},
  };
  for (const Case& c : cases) {
    journal_used = 0;
    testing::internal::CaptureStdout();
    c.handler(c.value);
    out_flush();
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.out);
    EXPECT_EQ(std::string(journal_buffer, journal_used), c.journal);
  }
}

// A message too long for its field raises 1585 inside the handler; that error reaches the
// outermost frame again and its record replaces the first one, with nothing half written.
int arrivals;
TEST_F(ProtocolTest, EncodingErrorInsideTheHandlerIsReportedInstead) {
  arrivals = 0;
  testing::internal::CaptureStdout();
  jump_depth = 0;
  int fr = jump_push(JF_TRY);
  if (JUMP_ARM(fr)) {
    jump_depth = fr + 1;
    arrivals++;
    if (arrivals < 5) handle_intake(jump_code);
  } else {
    static std::string long_text(1500, '\xE3');  // 4,500 encoded bytes: more than 4,096 - 14
    raise_eval_error(1234, "%s", long_text.c_str());
  }
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(arrivals, 2);
  EXPECT_EQ(out, "S141585" + encoded("EVAL ERROR 1585 (:0:0) : Encodeバッファーの容量不足"));
}

}  // namespace
