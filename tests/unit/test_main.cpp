// Unit test entry: brings the runtime up once, switches the collector on, and
// gives every test fresh stacks with a try frame at the bottom, so an error a
// test does not catch itself reaches it as a KivThrow.
//
// After every test the heap is checked (gc_verify) and the guards must be
// balanced: no Root, RootedCells, NodeRoot or NoGcScope left open, nothing on
// the cycle stack. At the end the runtime gives back all its memory, so the
// leak checker of a sanitizer build sees only what was really lost.
#include <gtest/gtest.h>

#include "boot/init.h"
#include "platform/thread.h"
#include "runtime/collector.h"
#include "runtime/cycle.h"
#include "runtime/exits.h"
#include "runtime/gc_root.h"
#include "runtime/memory.h"
#include "runtime/stack.h"

namespace {

class RuntimeEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    // The tests run Kiv code on this thread: with its bounds known, the
    // native depth check ends a deep recursion before the stack does.
    kiv::register_this_thread_stack();
    kiv::runtime_init();
    kiv::g_collector_active = true;
  }
  void TearDown() override {
    kiv::g_collector_active = false;
    kiv::memory_free_all();
    kiv::runtime_memory_release();
  }
};

class FreshStacksAndSoundHeap : public ::testing::EmptyTestEventListener {
  void OnTestStart(const ::testing::TestInfo&) override {
    kiv::g_stack.arguments = kiv::g_stack.top = kiv::g_stack.bottom;
    kiv::g_stack.frames_top = kiv::g_stack.frames_base;
    kiv::g_stack.throw_origin = nullptr;
    kiv::g_stack.settled = nullptr;
    kiv::g_last_throw_code = 0;
    kiv::cycle_stack_reset();
    kiv::stack_mark_try({});
  }

  void OnTestEnd(const ::testing::TestInfo& info) override {
    if (info.result()->Skipped()) return;
    EXPECT_EQ(kiv::root_guard_depth(), 0u) << "a root guard outlived the test";
    EXPECT_EQ(kiv::g_no_gc_depth, 0u) << "a NoGcScope outlived the test";
    EXPECT_EQ(kiv::cycle_stack_depth(), 0u) << "the cycle stack was left unbalanced";
    EXPECT_EQ(kiv::gc_verify(), 0) << "the heap is unsound after the test";
  }
};

const auto* const g_runtime_env = ::testing::AddGlobalTestEnvironment(new RuntimeEnvironment);

const bool g_listener = [] {
  ::testing::UnitTest::GetInstance()->listeners().Append(new FreshStacksAndSoundHeap);
  return true;
}();

}  // namespace
