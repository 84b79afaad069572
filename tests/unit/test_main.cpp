// Unit test entry: brings the runtime up once, switches the collector on, and
// gives every test fresh stacks with a try frame at the bottom, so an error a
// test does not catch itself reaches it as a KivThrow.
#include <gtest/gtest.h>

#include "boot/init.h"
#include "runtime/stack.h"
#include "runtime/collector.h"
#include "runtime/exits.h"

namespace {

class RuntimeEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    kiv::runtime_init();
    kiv::g_collector_active = true;
  }
};

class FreshStacks : public ::testing::EmptyTestEventListener {
  void OnTestStart(const ::testing::TestInfo&) override {
    kiv::g_stack.arguments = kiv::g_stack.top = kiv::g_stack.bottom;
    kiv::g_stack.frames_top = kiv::g_stack.frames_base;
    kiv::g_stack.throw_origin = nullptr;
    kiv::g_last_throw_code = 0;
    kiv::stack_mark_try({});
  }
};

const auto* const g_runtime_env = ::testing::AddGlobalTestEnvironment(new RuntimeEnvironment);

const bool g_listener = [] {
  ::testing::UnitTest::GetInstance()->listeners().Append(new FreshStacks);
  return true;
}();

}  // namespace
