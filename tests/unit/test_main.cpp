// Unit test entry: brings the runtime up once before the tests run.
#include <gtest/gtest.h>

#include "boot/init.h"

namespace {

class RuntimeEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { kiv::runtime_init(); }
};

const auto* const g_runtime_env = ::testing::AddGlobalTestEnvironment(new RuntimeEnvironment);

}  // namespace
