// The jump stack's clean-ups and the protected call.
#include <gtest/gtest.h>

#include <string>

#include "errors/jump.h"

namespace {

std::string ran;
void note(void* arg) { ran += static_cast<const char*>(arg); }

struct CleanupTest : ::testing::Test {
  void SetUp() override {
    jump_depth = 0;
    cleanup_run_from(0);
    ran.clear();
  }
  void TearDown() override {
    cleanup_run_from(0);
    jump_depth = 0;
  }
};

// Registers "b" and "c" under one more frame and jumps to frame target.
[[noreturn]] void register_and_jump(int target) {
  jump_push(JF_FUNCTION);
  cleanup_push(note, const_cast<char*>("b"));
  cleanup_push(note, const_cast<char*>("c"));
  jump_to(target, 7);
}

// "a" is registered in the outer frame's region; the jump lands on the outer frame, or on an
// inner one armed after "a". Returns what ran at the jump, what ran at the next registration,
// the code and what is still registered.
std::string run_jump_case(bool to_outer) {
  jump_depth = 0;
  ran.clear();
  int outer = jump_push(JF_TRY);
  cleanup_push(note, const_cast<char*>("a"));
  int target = to_outer ? outer : jump_push(JF_TRY);
  if (JUMP_ARM(target)) {
    jump_depth = target + 1;
    std::string seen = ran + "|";
    int at = cleanup_push(note, const_cast<char*>("d"));
    seen += ran;
    cleanup_run_from(at);
    return seen + "|" + std::to_string(jump_code) + "|" + std::to_string(cleanups_registered());
  }
  register_and_jump(target);
}

TEST_F(CleanupTest, AJumpLeavesItsWorkToTheNextRegistration) {
  // Nothing runs during the jump: what the left work made is still there for the receiver.
  EXPECT_EQ(run_jump_case(false), "|cb|7|1");    // "a" encloses the receiver: still registered
  cleanup_run_from(0);
  EXPECT_EQ(run_jump_case(true), "|cba|7|0");
}

TEST_F(CleanupTest, NormalEndRunsItsOwnAndLaterOnes) {
  jump_push(JF_TRY);
  int a = cleanup_push(note, const_cast<char*>("a"));
  int b = cleanup_push(note, const_cast<char*>("b"));
  cleanup_push(note, const_cast<char*>("c"));
  cleanup_run_from(b);
  EXPECT_EQ(ran, "cb");
  EXPECT_EQ(cleanups_registered(), 1);
  cleanup_run_from(a);
  EXPECT_EQ(ran, "cba");
  EXPECT_EQ(cleanups_registered(), 0);
}

TEST_F(CleanupTest, ManyRegistrationsGrowTheList) {
  jump_push(JF_TRY);
  for (int i = 0; i < 500; i++) cleanup_push(note, const_cast<char*>("x"));
  EXPECT_EQ(cleanups_registered(), 500);
  cleanup_run_from(0);
  EXPECT_EQ(ran, std::string(500, 'x'));
}

// A keeper that records one counter and puts it back.
int counter;
void save_counter(void* mark) { *static_cast<int*>(mark) = counter; }
DW kept;
void restore_counter(const void* mark, DW keep) {
  counter = *static_cast<const int*>(mark);
  kept = keep;
}
const DepthKeeper keeper = {save_counter, restore_counter};

TEST_F(CleanupTest, ProtectedCallPutsTheDepthsBack) {
  set_depth_keeper(&keeper);
  jump_depth = 0;
  jump_push(JF_TRY);
  counter = 5;
  DW code = 0;
  bool jumped = jump_protect(JF_TRY, [](void*) {
    counter = 9;
    jump_push(JF_LOOP);
    jump_push(JF_FUNCTION);
    jump_to(1, 42);
  }, nullptr, &code);
  EXPECT_TRUE(jumped);
  EXPECT_EQ(code, 42u);
  EXPECT_EQ(kept, 42u);
  EXPECT_EQ(counter, 5);
  EXPECT_EQ(jump_depth, 1);
  jumped = jump_protect(JF_TRY, [](void*) { counter = 6; }, nullptr, &code);
  EXPECT_FALSE(jumped);
  EXPECT_EQ(counter, 6);
  EXPECT_EQ(jump_depth, 1);
  set_depth_keeper(nullptr);
}

}  // namespace
