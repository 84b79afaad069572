// The console's help words as whole runs: what help prints with print's
// own line end, and that neither a script's assignments nor a library
// function's printed source change what help sees.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "run_kiv.h"
#include "temp_dir.h"

namespace kiv {
namespace {

const std::string kHelpScripts = std::string(KIV_SOURCE_DIR) + "/tests/scripts/help/";

// Each case runs after a start-up from the boot image (when kiv has one) and
// after one from the library's text.
const std::vector<std::string> kStartUps[] = {{"KIV_BOOT_FROM_TEXT"}, {"KIV_BOOT_FROM_TEXT=1"}};

// Writes a script of [body] under [dir] and returns its path.
std::string write_script(const test::TempDir& dir, const std::string& body) {
  std::string path = dir.path() + "/help.kiv";
  std::ofstream(path) << "Kiv []\n" << body;
  return path;
}

TEST(Help, AlonePrintsTheUsageTextAndAnEmptyLine) {
  const std::string usage =
      "\n"
      "\tUse HELP or ? to view built-in docs for functions, values \n"
      "\tfor contexts, or all values of a given datatype:\n"
      "\n"
      "\t\thelp append\n"
      "\t\t? system\n"
      "\t\t? function!\n"
      "\n"
      "\tTo search for values by name, use a word:\n"
      "\n"
      "\t\t? pri\n"
      "\t\t? to-\n"
      "\n"
      "\tTo also search in function specs, use a string:\n"
      "\n"
      "\t\t? \"pri\"\n"
      "\t\t? \"issue!\"\n"
      "\n"
      "\tTo buffer and return output, rather than printing results, \n"
      "\tuse help-string:\n"
      "\n"
      "\t\thelp-string append\n"
      "\n"
      "\tOther useful functions:\n"
      "\n"
      "\t\t??     - Display a word and the value it references\n"
      "\t\tprobe  - Print a molded value\n"
      "\t\tsource - Show a function's source code\n"
      "\t\twhat   - Show a list of known functions or words\n"
      "\t\tabout  - Display version number and build date\n"
      "\t\tquit   - Leave the Kiv console\n"
      "\t\n"
      "\n";
  test::TempDir dir;
  for (const auto& env : kStartUps) {
    for (const char* body : {"help\n", "?\n", "print 1 help\n"}) {
      test::KivRun run = test::run_kiv({write_script(dir, body)}, "", env);
      std::string expected = std::string(body).rfind("print 1", 0) == 0 ? "1\n" + usage : usage;
      EXPECT_EQ(run.output, expected) << body;
      EXPECT_EQ(run.errors, "");
      EXPECT_EQ(run.status, 0);
    }
  }
}

TEST(Help, IgnoresTheScriptsWords) {
  for (const auto& env : kStartUps) {
    test::KivRun run = test::run_kiv({kHelpScripts + "immunity.kiv"}, "", env);
    EXPECT_EQ(run.output,
              "USAGE:\n"
              "     A-AN str\n"
              "\n"
              "DESCRIPTION: \n"
              "     Returns the appropriate variant of a or an (simple, vs 100% grammatically correct). \n"
              "     A-AN is a function! value.\n"
              "\n"
              "ARGUMENTS:\n"
              "     str          [string!] \n"
              "\n"
              "REFINEMENTS:\n"
              "     /pre         => Prepend to str.\n"
              "\n"
              "     ellipsize-at    function!     Truncate and add ellipsis if str is longe...\n"
              "\n"
              "help-ctx/dot-str: func [\"Add an ending dot if there isn't one\" str [string!]][\n"
              "    either #\".\" = last str [copy str] [append copy str \".\"]\n"
              "]\n");
    EXPECT_EQ(run.errors, "");
    EXPECT_EQ(run.status, 0);
  }
}

// Every global function's printed source loads back to its spec and body.
TEST(Help, SourceOfEveryFunctionLoadsBack) {
  test::TempDir dir;
  for (const auto& env : kStartUps) {
    test::KivRun sources = test::run_kiv({kHelpScripts + "sources.kiv"}, "", env);
    ASSERT_EQ(sources.status, 0) << sources.errors;
    std::string path = dir.path() + "/sources.txt";
    std::ofstream(path) << sources.output;
    test::KivRun check = test::run_kiv({kHelpScripts + "sources_load_back.kiv", path}, "", env);
    EXPECT_EQ(check.output, "true true []\n");
    EXPECT_EQ(check.errors, "");
    EXPECT_EQ(check.status, 0);
  }
}

// help over every global word and datatype raises nothing, and no function's
// display finds its spec malformed or a type block doubtful (a fault in any
// spec of the library or the natives' table shows here). The stress build,
// which collects at every allocation, takes every 40th word.
TEST(Help, SweepsOverEveryWord) {
#if defined(__SANITIZE_ADDRESS__) || defined(KIV_GC_STRESS)
  const std::string step = "40";
#else
  const std::string step = "1";
#endif
  test::KivRun run = test::run_kiv({kHelpScripts + "sweeps.kiv", step});
  EXPECT_NE(run.output.find(" [] []\n"), std::string::npos) << run.output;
  EXPECT_GT(std::stoi(run.output), step == "1" ? 1000 : 25) << run.output;
  EXPECT_EQ(run.errors, "");
  EXPECT_EQ(run.status, 0);
}

}  // namespace
}  // namespace kiv
