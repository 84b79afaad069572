// Library code calls the functions start-up made: a script's global
// assignments change the script's own words only, and never whether an
// uncaught error is reported or how the process ends.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "run_kiv.h"

namespace kiv {
namespace {

const std::string kImmunity = std::string(KIV_SOURCE_DIR) + "/tests/scripts/immunity/";

// Each case runs after a start-up from the boot image (when kiv has one) and
// after one from the library's text.
const std::vector<std::string> kStartUps[] = {{"KIV_BOOT_FROM_TEXT"}, {"KIV_BOOT_FROM_TEXT=1"}};

TEST(LibraryImmunity, LibraryCallsIgnoreTheScriptsWords) {
  for (const auto& env : kStartUps) {
    test::KivRun run = test::run_kiv({kImmunity + "calls.kiv"}, "", env);
    EXPECT_EQ(run.output,
              "[\"a\" \"b\"]\n"
              "[1 [2]]\n"
              "\"a+b+c\"\n"
              "\"bAb\"\n"
              "sub ran\n"
              "unset\n"
              "3\n"
              "true\n");
    EXPECT_EQ(run.errors, "");
    EXPECT_EQ(run.status, 0);
  }
}

TEST(LibraryImmunity, UncaughtErrorsAreReportedWhateverTheScriptSet) {
  for (const auto& env : kStartUps) {
    test::KivRun run = test::run_kiv({kImmunity + "report.kiv"}, "", env);
    EXPECT_EQ(run.output, "before\n");
    EXPECT_EQ(run.errors.substr(0, 41), "*** Math Error: attempt to divide by zero") << run.errors;
    EXPECT_EQ(run.status, 1);
  }
}

}  // namespace
}  // namespace kiv
