// Start-up under the collector's stress mode: the stress build collects at
// every allocation of a script's run but skips start-up, which is the same
// in every run, unless KIV_GC_STRESS_BOOT asks; this runs it once that way,
// from the boot image and from the library's text.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "run_kiv.h"
#include "temp_dir.h"

namespace kiv {
namespace {

TEST(StressBoot, StartUpUnderStressFromImageAndText) {
  test::TempDir dir("kiv-stress-boot-");
  std::ofstream(dir.path() + "/s.kiv") << "Kiv []\nprint length? words-of system/words\n";
  for (const char* text : {"KIV_BOOT_FROM_TEXT", "KIV_BOOT_FROM_TEXT=1"}) {
    test::KivRun r = test::run_kiv({dir.path() + "/s.kiv"}, dir.path(), {"KIV_GC_STRESS_BOOT=1", text});
    EXPECT_EQ(r.status, 0) << text << "\n" << r.errors;
    EXPECT_GT(std::stoi(r.output.empty() ? "0" : r.output), 100) << r.output;
  }
}

}  // namespace
}  // namespace kiv
