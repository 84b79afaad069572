// Whole runs of the kiv executable on the scripts in tests/scripts/: what
// they print on standard output and how the process ends.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "run_kiv.h"

namespace kiv {
namespace {

namespace fs = std::filesystem;

const std::string kScripts = std::string(KIV_SOURCE_DIR) + "/tests/scripts/";

struct ScriptCase {
  std::vector<std::string> args;  // after the executable; a leading "@" stands for the scripts folder
  std::string output;
  int status;
};

std::vector<std::string> expand(const std::vector<std::string>& args) {
  std::vector<std::string> out;
  for (const std::string& a : args) out.push_back(!a.empty() && a[0] == '@' ? kScripts + a.substr(1) : a);
  return out;
}

TEST(KivScript, RunsAndEndsAsTheCommandLineAsks) {
  const ScriptCase kCases[] = {
      // The arguments as given, quotes and blanks kept; the raw text after the script.
      {{"@args.kiv", "a", "b c", "", "d\"e"},
       "[\"a\" \"b c\" \"\" {d\"e}]\n{a \"b c\" \"\" d\"e}\n\"arguments\"\ntrue\n",
       0},
      {{"@quit.kiv"}, "leaving\n", 300 % 256},
      {{"@halt.kiv"}, "1\n(halted)\n", 0},
      // Each event of a traced parse, one indentation step per nested rule;
      // a call cut short by an error leaves no indentation to the next.
      {{"@parse-trace.kiv"},
       " -->\n"
       "   input: \"ab\" \n"
       "   match: [[\"b\" | \"c\"]] \n"
       "  \n"
       "   ==> matched\n"
       "   input: \"b\" \n"
       "   match: [] \n"
       "  \n"
       "   -->\n"
       "     input: \"b\" \n"
       "     match: [| \"c\"] \n"
       "    \n"
       "     ==> matched\n"
       "     input: \"\" \n"
       "     match: [\"c\"] \n"
       "    \n"
       "   <--\n"
       " <--\n"
       "return: true\n"
       "true\n"
       " -->\n"
       "   input: \"x\" \n"
       "   match: [] \n"
       "  \n"
       "   -->\n"
       "     input: \"x\" \n"
       "     match: [(1 / 0)] \n"
       "    \n"
       "     ==> matched\n"
       "     input: \"\" \n"
       "     match: [] \n"
       "    \n"
       " -->\n"
       "   input: \"Ab\" \n"
       "   match: [] \n"
       "  \n"
       "   ==> not matched\n"
       " <--\n"
       "return: false\n"
       "false\n",
       0},
      {{"@output.kiv"}, "x: 1\nundefined-here: unset!\n[a \"é\" 1.5]\nno newline3 ∑\n", 0},
  };
  for (const ScriptCase& c : kCases) {
    test::KivRun run = test::run_kiv(expand(c.args));
    EXPECT_EQ(run.output, c.output) << c.args[0];
    EXPECT_EQ(run.status, c.status) << c.args[0];
  }
}

// A script that fails prints the error's report and ends with 254.
TEST(KivScript, FailuresPrintTheErrorAndEndWith254) {
  const ScriptCase kCases[] = {
      {{"@error.kiv"},
       "before\n*** Math Error: attempt to divide by zero\n*** Where: /\n*** Near : x / 0\n",
       254},
      {{"@no-header.kiv"}, "*** Syntax Error: script is missing a Kiv header:", 254},
      {{"@lower-header.kiv"}, "*** Syntax Error: script is missing a Kiv header:", 254},
      {{"@system-header.kiv"},
       "*** Internal Error: contains Kiv/System code which requires compilation",
       254},
      {{"missing/x.kiv"}, "*** Access Error: cannot open: %missing/x.kiv", 254},
      {{"@overflow.kiv"}, "before\n*** Internal Error: stack overflow\n", 254},
  };
  for (const ScriptCase& c : kCases) {
    test::KivRun run = test::run_kiv(expand(c.args));
    EXPECT_EQ(run.output.substr(0, c.output.size()), c.output) << c.args[0] << "\n" << run.output;
    EXPECT_EQ(run.status, c.status) << c.args[0];
  }
}

// Nested scripts: each sees its own header and parent and runs in its own
// folder; the folder and the list of running files come back, also after an
// error.
TEST(KivScript, NestedScriptsRestoreTheirState) {
  test::KivRun run = test::run_kiv({kScripts + "nested.kiv"});
  EXPECT_EQ(run.output, "inner\nouter\nsub/\nsub/inner.kiv\ninner result\ntrue\nouter\n1\n");
  EXPECT_EQ(run.status, 0);
  run = test::run_kiv({kScripts + "nested-error.kiv"});
  EXPECT_EQ(run.output, "true\ntrue\n1\n");
  EXPECT_EQ(run.status, 0);
}

// A script header's currencies join the currency list once each.
TEST(KivScript, HeaderCurrenciesJoinTheListOnce) {
  test::KivRun run = test::run_kiv({kScripts + "currencies.kiv"});
  EXPECT_EQ(run.output, "true\ntrue\n");
  EXPECT_EQ(run.status, 0);
}

// The settings and cache folder: $APPDATA/Kiv/, else .kiv/ in the home
// folder; never a shared folder such as /tmp.
TEST(KivScript, CacheFolderComesFromTheEnvironment) {
  test::KivRun run = test::run_kiv({kScripts + "cache.kiv"}, "", {"APPDATA=/data/app"});
  EXPECT_EQ(run.output, "%/data/app/Kiv/\n");
  run = test::run_kiv({kScripts + "cache.kiv"}, "", {"APPDATA", "HOME=/home/someone"});
  EXPECT_EQ(run.output, "%/home/someone/.kiv/\n");
  // Without HOME the password database names the home folder.
  run = test::run_kiv({kScripts + "cache.kiv"}, "", {"APPDATA", "HOME"});
  EXPECT_EQ(run.output.find("%/tmp"), std::string::npos) << run.output;
  EXPECT_EQ(run.status, 0);
}

// The global context holds its words in the same order on every run.
TEST(KivScript, GlobalWordsComeInTheSameOrder) {
  test::KivRun first = test::run_kiv({kScripts + "words.kiv"});
  test::KivRun second = test::run_kiv({kScripts + "words.kiv"});
  EXPECT_EQ(first.status, 0);
  EXPECT_GT(first.output.size(), 1000u);
  EXPECT_EQ(first.output, second.output);
}

// Scripts are preprocessed before they run, in their own folder: directives
// and macros are resolved, an #include finds the file beside the script
// wherever kiv runs from, and a malformed directive stops the script before
// it runs.
TEST(KivScript, ScriptsArePreprocessed) {
  // Run from elsewhere: #include finds the file beside the script.
  test::KivRun run = test::run_kiv({kScripts + "include/main.kiv"}, "/");
  EXPECT_EQ(run.output, "sibling\n7\n3 3\nlinux\nlimit\ntwo\n");
  EXPECT_EQ(run.status, 0);
  run = test::run_kiv({kScripts + "include/bad.kiv"});
  EXPECT_EQ(run.output.substr(0, 59), "*** Preprocessor Error: Syntax error\n*** Where: #if true 5\n")
      << run.output;
  EXPECT_EQ(run.output.find("never"), std::string::npos) << run.output;
  EXPECT_EQ(run.status, 254);
}

// How deep the tests below go. With the address sanitizer every native frame
// is several times larger and its stack smaller (platform/thread.h), and the
// stress build collects at every allocation, walking all of both stacks: the
// depths there are smaller, though still past what the stacks once held.
#if defined(__SANITIZE_ADDRESS__) || defined(KIV_GC_STRESS)
constexpr int kRecursionDepth = 5000;
constexpr int kNestingDepth = 1500;
#else
constexpr int kRecursionDepth = 100000;
constexpr int kNestingDepth = 10000;
#endif

// Recursion as deep as asked returns; endless recursion ends in a
// stack-overflow error that try catches, and the script goes on.
TEST(KivScript, DeepRecursionRunsAndEndlessRecursionIsAnError) {
  test::KivRun run = test::run_kiv({kScripts + "recursion.kiv", std::to_string(kRecursionDepth)});
  EXPECT_EQ(run.output, std::to_string(kRecursionDepth) + "\nstack-overflow\nstack-overflow\n1000\n");
  EXPECT_EQ(run.status, 0) << run.errors;
}

// A script whose source nests blocks and parens kNestingDepth deep, with a
// directive at the innermost level of each, is read, preprocessed and run.
TEST(KivScript, DeeplyNestedScriptRuns) {
  const std::string open_blocks(kNestingDepth, '['), close_blocks(kNestingDepth, ']');
  const std::string open_parens(kNestingDepth, '('), close_parens(kNestingDepth, ')');
  const std::string text = "Kiv []\nx: " + open_blocks + "#if true [42]" + close_blocks + "\nb: x loop " +
                           std::to_string(kNestingDepth - 1) + " [b: first b]\nprint mold b\nprint " +
                           open_parens + "#either false [1] [2]" + close_parens + "\n";
  fs::path dir = fs::temp_directory_path() / ("kiv-nested-" + std::to_string(getpid()));
  fs::create_directories(dir);
  fs::path script = dir / "nested.kiv";
  std::ofstream(script, std::ios::binary) << text;
  test::KivRun run = test::run_kiv({script.string()});
  std::error_code ignored;
  fs::remove_all(dir, ignored);
  EXPECT_EQ(run.output, "[42]\n2\n");
  EXPECT_EQ(run.status, 0) << run.errors;
}

// Without a script, kiv says how to run one and ends normally.
TEST(KivScript, NoScriptSaysHowToRunOne) {
  test::KivRun run = test::run_kiv({});
  EXPECT_NE(run.output.find("kiv script.kiv"), std::string::npos) << run.output;
  EXPECT_EQ(run.status, 0);
}

}  // namespace
}  // namespace kiv
