// Error records, raising, the jump stack and the fatal stop.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "driver/config.h"
#include "driver/errors.h"
#include "driver/journal.h"
#include "driver/protocol.h"
#include "driver_testutil.h"

namespace {

std::string code_of(DW rec) {
  size_t n;
  const char* t = error_code_text(rec, &n);
  return std::string(t, n);
}
std::string message_of(DW rec) {
  size_t n;
  const char* t = error_message_text(rec, &n);
  return std::string(t, n);
}
std::string journal_text() { return std::string(journal_buffer, journal_used); }

class ErrorsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    store_reset();
    config_reset();
    journal_used = 0;
    running = false;
    throw_pending = false;
    cur_module = 0;
    cur_position = 0;
    parse_module = 0;
    parse_line = 0;
  }
  void TearDown() override {
    jump_depth = 0;
    running = false;
    cmdline_mode = false;
  }
};

TEST_F(ErrorsTest, RecordLayout) {
  DW rec = make_error_record("1400", 4, "msg text", 8);
  EXPECT_EQ(dw_type(rec), T_ERROR);
  auto* p = static_cast<const uint8_t*>(area_ptr(rec));
  EXPECT_EQ(p[0], T_ERROR);  // count 0
  EXPECT_EQ(p[1], 0);
  EXPECT_EQ(p[2] | p[3] << 8, 8);
  EXPECT_EQ(p[4] | p[5] << 8, 4);
  EXPECT_EQ(std::memcmp(p + 6, "1400\0", 5), 0);
  EXPECT_EQ(std::memcmp(p + 12, "msg text\0", 9), 0);
  EXPECT_EQ(code_of(rec), "1400");
  EXPECT_EQ(message_of(rec), "msg text");
  // A long code text still fits its storage.
  std::string code(40, '7');
  DW big = make_error_value(1, code.data(), code.size(), "m", 1);
  EXPECT_EQ(static_cast<const uint8_t*>(area_ptr(big))[1], 1);
  EXPECT_EQ(code_of(big), code);
  EXPECT_EQ(message_of(big), "m");
}

TEST_F(ErrorsTest, EvalErrorTextAndJournal) {
  module_add("a.js", 4);
  cur_module = 0;
  cur_position = (5u << 16) | 12u;
  DW code = catch_jump([] { raise_eval_error(1400, "メモリ領域を取得できません"); });
  ASSERT_NE(code, NO_JUMP);
  ASSERT_EQ(dw_type(code), T_ERROR);
  EXPECT_EQ(code_of(code), "1400");
  std::string msg = "EVAL ERROR 1400 (a.js:12:5) : メモリ領域を取得できません";
  EXPECT_EQ(message_of(code), msg);
  EXPECT_EQ(std::string(message_buffer), msg);
  EXPECT_EQ(journal_text(), msg + "\n");
}

TEST_F(ErrorsTest, PositionAndModuleForms) {
  struct Case {
    int module;
    uint32_t position;
    const char* prefix;
  } cases[] = {
      {0, 0, "EVAL ERROR 7 (a.js:0:0) : "},
      {1, (3u << 16) | 2u, "EVAL ERROR 7 (b.js:2:3) : "},
      {0, 0xFFFF0009u, "EVAL ERROR 7 (a.js:9:32767) : "},  // column keeps 15 bits
      {5, 1, "EVAL ERROR 7 (:1:0) : "},                    // no module behind the number
  };
  module_add("a.js", 4);
  module_add("b.js", 4);
  for (const Case& c : cases) {
    cur_module = c.module;
    cur_position = c.position;
    DW code = catch_jump([] { raise_eval_error(7, "x%d", 1); });
    ASSERT_NE(code, NO_JUMP);
    EXPECT_EQ(message_of(code), std::string(c.prefix) + "x1");
  }
}

TEST_F(ErrorsTest, ParseErrorNamesTheModuleBeingParsed) {
  module_add("first.js", 8);
  module_add("second.js", 9);
  parse_module = 1;
  parse_line = 17;
  running = true;  // parse errors go to the outermost frame regardless
  DW code = catch_jump([] {
    jump_push(JF_TRY);
    raise_parse_error(1165, "ファイルオープン不正 '%s'", "x.js");
  });
  ASSERT_NE(code, NO_JUMP);
  EXPECT_EQ(jump_depth, 1);
  EXPECT_EQ(code_of(code), "1165");
  EXPECT_EQ(message_of(code), "PARSE ERROR 1165 (second.js:17) : ファイルオープン不正 'x.js'");
  EXPECT_FALSE(throw_pending);
}

// Which frame an eval error reaches: the outermost before the run, the innermost try during it.
int landed_frame;
void raise_under_nested_frames() {
  landed_frame = -1;
  jump_depth = 0;
  int outer = jump_push(JF_TRY);
  if (JUMP_ARM(outer)) {
    landed_frame = 0;
    return;
  }
  jump_push(JF_LOOP);
  volatile int inner = jump_push(JF_TRY);
  if (JUMP_ARM(inner)) {
    landed_frame = inner;
    return;
  }
  jump_push(JF_FUNCTION);
  jump_push(JF_SWITCH);
  raise_eval_error(2000, "e");
}

TEST_F(ErrorsTest, EvalErrorTarget) {
  for (bool run : {false, true}) {
    running = run;
    throw_pending = false;
    raise_under_nested_frames();
    EXPECT_EQ(landed_frame, run ? 2 : 0) << "running=" << run;
    EXPECT_EQ(throw_pending, run);
  }
}

TEST_F(ErrorsTest, JumpCarriesAnyCodeIncludingUndefined) {
  for (DW sent : {DW_UNDEFINED, JUMP_BREAK, JUMP_CONTINUE, JUMP_RETURN_VOID, DW(0x09000123)}) {
    static DW value;
    value = sent;
    DW got = catch_jump([] { jump_to(0, value); });
    EXPECT_EQ(got, sent);
  }
}

TEST_F(ErrorsTest, FramesSurviveStackGrowth) {
  static int depthAtJump;
  DW got = catch_jump([] {
    for (int i = 0; i < 700; i++) jump_push(JF_LOOP);  // grows the stack twice
    depthAtJump = jump_depth;
    jump_to(0, JUMP_BREAK);
  });
  EXPECT_EQ(got, JUMP_BREAK);
  EXPECT_EQ(depthAtJump, 701);
  EXPECT_GE(jump_capacity, 768);
  EXPECT_EQ(jump_capacity % 256, 0);
}

TEST_F(ErrorsTest, LongMessageIsCutAtTheBufferEnd) {
  static std::string big;
  big.assign(20000, 'z');
  DW code = catch_jump([] { raise_eval_error(1, "%s", big.c_str()); });
  ASSERT_NE(code, NO_JUMP);
  std::string msg = message_of(code);
  EXPECT_EQ(msg.size(), size_t(MESSAGE_BUFFER_SIZE - 1));
  EXPECT_EQ(msg.substr(0, 22), "EVAL ERROR 1 (:0:0) : ");
  EXPECT_EQ(msg.back(), 'z');
}

TEST_F(ErrorsTest, ArgumentsMayPointIntoTheMessageBuffer) {
  catch_jump([] { raise_eval_error(1, "first"); });
  DW code = catch_jump([] { raise_eval_error(2, "again: %s", message_buffer); });
  EXPECT_EQ(message_of(code), "EVAL ERROR 2 (:0:0) : again: EVAL ERROR 1 (:0:0) : first");
}

TEST_F(ErrorsTest, CommandLineModePrintsEachErrorOnItsOwnLine) {
  cmdline_mode = true;
  testing::internal::CaptureStdout();
  catch_jump([] { raise_eval_error(5, "one"); });
  catch_jump([] { raise_parse_error(6, "two"); });
  std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(out, "EVAL ERROR 5 (:0:0) : one\nPARSE ERROR 6 (:0) : two\n");
  EXPECT_EQ(journal_text(), out);
}

TEST_F(ErrorsTest, CgiModeDoesNotPrintTheErrorText) {
  testing::internal::CaptureStdout();
  catch_jump([] { raise_eval_error(5, "one"); });
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
}

TEST_F(ErrorsTest, FatalStopRecordAndExit) {
  struct Case {
    const char* message;
    std::string record;
  } cases[] = {
      {"abc", "S14855513abc"},
      {"", "S14855510"},
      {"受信", "S14855516受信"},  // plain field: bytes as they are
  };
  for (const Case& c : cases) {
    ChildResult r = run_child([&] { fatal_stop(c.message); });
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, c.record);
  }
}

TEST_F(ErrorsTest, RaiseBeforeAnyFrameEndsTheProcess) {
  jump_depth = 0;
  ChildResult r = run_child([] { raise_eval_error(1400, "メモリ領域を取得できません"); });
  EXPECT_EQ(r.status, 0);
  std::string msg = "EVAL ERROR 1400 (:0:0) : メモリ領域を取得できません";
  EXPECT_EQ(r.out, fatal_record(msg));
}

TEST_F(ErrorsTest, FatalStopWritesTheJournal) {
  std::string dir = make_temp_dir();
  std::string path = dir + "/journal.log";
  std::snprintf(journal_path, sizeof journal_path, "%s", path.c_str());
  std::snprintf(start_time, sizeof start_time, "2024/01/02 03:04:05");
  journal_append_text("collected\n");
  ChildResult r = run_child([] { fatal_stop("stop"); });
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.out, "S14855514stop");
  std::string j = read_file(path);
  EXPECT_EQ(j.substr(0, 52), "-----  start : 2024/01/02 03:04:05  -----\ncollected\n");
  EXPECT_NE(j.find("\n=====  end : "), std::string::npos);
  remove_tree(dir);
}

}  // namespace
