// Whole runs of the kiv executable on the scripts in tests/scripts/: what
// they print on standard output and on standard error, and how the process
// ends.
#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
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
    EXPECT_EQ(run.errors, "") << c.args[0];
    EXPECT_EQ(run.status, c.status) << c.args[0];
  }
}

// A script that fails ends with 1 and its report on standard error; what it
// printed itself before stays on standard output. An error raised while the
// script runs names it on a Files line (its path cut at 40 characters).
TEST(KivScript, FailuresReportOnStandardErrorAndEndWith1) {
  struct FailureCase {
    std::vector<std::string> args;
    std::string output;
    std::string report;  // standard error
    bool whole = true;   // else its start
    bool files = true;   // the script was running: the Files line ends the report
  } const kCases[] = {
      {{"@error.kiv"},
       "before\n",
       "*** Math Error: attempt to divide by zero\n*** Where: /\n*** Near : x / 0\n"},
      {{"@no-header.kiv"}, "", "*** Error: Kiv header not found!\n", true, false},
      {{"@lower-header.kiv"}, "", "*** Error: Kiv header not found!\n", true, false},
      {{"@system-header.kiv"},
       "",
       "*** Error: contains Kiv/System code which requires compilation!\n",
       true,
       false},
      {{"@syntax-error.kiv"},
       "",
       "*** Syntax Error: (line 3) missing ] at [1 2\n*** Where: transcode\n*** Near : none\n",
       true,
       false},
      {{"missing/x.kiv"},
       "",
       "*** Access Error: cannot open: %missing/x.kiv\n*** Where: read\n*** Near : none\n",
       true,
       false},
      // Near: the script's own code, never the library's.
      {{"@cause-error.kiv"},
       "before\n",
       "*** User Error: x\n*** Where: do\n*** Near : cause-error 'user 'message [\"x\"]\n"},
      {{"@throw.kiv"}, "", "*** Throw Error: no catch for throw: 5\n*** Where: throw\n*** Near : throw 5\n"},
      // A catalogue the script broke: the runtime's own entries report.
      {{"@catalog-none.kiv"},
       "before\n",
       "*** Math Error: attempt to divide by zero\n*** Where: /\n*** Near : 1 / 0\n"},
      {{"@catalog-empty.kiv"},
       "before\n",
       "*** Math Error: attempt to divide by zero\n*** Where: /\n*** Near : 1 / 0\n"},
      // Where the stack ends depends on the build: the first line only.
      {{"@overflow.kiv"}, "before\n", "*** Internal Error: stack overflow\n", false, false},
      // After the script's name, --catch is the script's own argument.
      {{"@error.kiv", "--catch"},
       "before\n",
       "*** Math Error: attempt to divide by zero\n*** Where: /\n*** Near : x / 0\n"},
  };
  for (const FailureCase& c : kCases) {
    test::KivRun run = test::run_kiv(expand(c.args));
    EXPECT_EQ(run.output, c.output) << c.args[0];
    std::string report = c.report;
    if (c.files) report += "*** Files: " + ("%" + expand(c.args)[0]).substr(0, 40) + "\n";
    EXPECT_EQ(c.whole ? run.errors : run.errors.substr(0, report.size()), report) << c.args[0];
    EXPECT_EQ(run.status, 1) << c.args[0];
  }
}

// --catch before the script's name keeps the console open after the script,
// whatever its end; the console's own end (here the end of its input)
// decides the status. Without a script to read, the console starts with its
// banner.
TEST(KivScript, CatchOpensTheConsoleAfterTheScript) {
  const std::string banner = "--== Kiv 0.6.6 ==-- \nType HELP for starting information. \n\n";
  const struct {
    std::vector<std::string> args;
    std::string output;
    std::string report;
  } kCases[] = {
      {{"--catch", "@error.kiv"}, "before\n", "*** Math Error: attempt to divide by zero\n"},
      {{"--catch", "@no-header.kiv"}, "", "*** Error: Kiv header not found!\n"},
      {{"--catch", "@halt.kiv"}, "1\n(halted)\n", ""},
      {{"--other", "--catch", "@args.kiv", "x"}, "[\"x\"]\n\"x\"\n\"arguments\"\ntrue\n", ""},
      {{"--catch", "missing.kiv"}, banner, "*** Access Error: cannot open: %missing.kiv\n"},
  };
  for (const auto& c : kCases) {
    test::KivRun run = test::run_kiv(expand(c.args));
    EXPECT_EQ(run.output, c.output) << c.args[1];
    EXPECT_EQ(run.errors.substr(0, c.report.size()), c.report) << c.args[1] << "\n" << run.errors;
    EXPECT_EQ(run.status, 0) << c.args[1];
  }
}

// After --catch, the script that ended is no longer among the running files,
// so the console's errors name none of it.
TEST(KivScript, CatchLeavesNoScriptFileBehind) {
  test::KivRunOptions options;
  options.has_input_text = true;
  options.input_text = "print mold system/state/source-files\n";
  test::KivRun run = test::run_kiv_with(expand({"--catch", "@error.kiv"}), options);
  EXPECT_EQ(run.output, "before\n[]\n") << run.errors;
  EXPECT_EQ(run.status, 0);
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
}

// A failing directive or macro reports itself once, on standard error, and
// stops the run before the script runs, with the status of a failed script;
// a script that runs such a script stops with it.
TEST(KivScript, PreprocessorFailuresReportOnceAndEndWith1) {
  const struct {
    const char* script;
    std::string output;
    std::string errors;
  } kCases[] = {
      {"include/bad.kiv", "", "*** Preprocessor Error: Syntax error\n*** Where: #if true 5\n"},
      {"include/bad-do.kiv", "",
       "*** Preprocessor Error in #do\n*** Math Error: attempt to divide by zero\n*** Where: #do\n"
       "*** Near : 1 / 0\n"},
      {"include/bad-macro.kiv", "", "*** Macro Error: no value returned by nothing macro\n"},
      {"include/runs-bad.kiv", "outer\n", "*** Preprocessor Error: Syntax error\n*** Where: #if true 5\n"},
  };
  for (const auto& c : kCases) {
    test::KivRun run = test::run_kiv({kScripts + c.script});
    EXPECT_EQ(run.output, c.output) << c.script;
    EXPECT_EQ(run.errors, c.errors) << c.script;
    EXPECT_EQ(run.status, 1) << c.script;
  }
}

// The reports of failing directives and macros, in full: each goes to
// standard error and halts, and the catch the script set takes the halt.
TEST(KivScript, PreprocessorReportsGoToStandardError) {
  test::KivRun run = test::run_kiv({kScripts + "preprocessor-reports.kiv"});
  std::string halts;
  for (int i = 0; i < 14; i++) halts += "halt-request\n";
  EXPECT_EQ(run.output, halts);
  EXPECT_EQ(run.errors,
            "*** Preprocessor Error: Syntax error\n*** Where: #if true 5\n"
            "*** Preprocessor Error: Syntax error\n*** Where: #either true [a] b\n"
            "*** Preprocessor Error: Syntax error\n*** Where: #trace maybe\n"
            "*** Preprocessor Error: Syntax error\n*** Where: #process 1\n"
            "*** Preprocessor Error: Syntax error\n*** Where: #do 1\n"
            "*** Preprocessor Error: Syntax error\n*** Where: #macro foo: bar [x] [x]\n"
            "*** Preprocessor Error in #if\n*** Math Error: attempt to divide by zero\n*** Where: #if\n"
            "*** Near : 1 / 0\n"
            "*** Macro Error: unknown refinement\n*** Where: x/q\n"
            "*** Macro Error: invalid specification\n*** Where: [[integer!] func [s]]\n"
            "*** Macro Error: invalid specification\n*** Where: [[] func [s e]]\n"
            "*** Macro Error: invalid specification\n*** Where: [m: func [/r x]]\n"
            "*** Macro Error: no value returned by nothing macro\n"
            "*** Macro Error: [manual] macro not returning a position\n"
            "*** Where: [func [[manual] s e][[a b]] s e]\n"
            "*** Preprocessor Error in #macro\n*** Math Error: attempt to divide by zero\n*** Where: #macro\n"
            "*** Near : 1 / 0\n");
  EXPECT_EQ(run.status, 0);
}

// Output that cannot be written makes the run fail. A reader that went away
// (EPIPE) ends it at once and quietly, as SIGPIPE would (141); a full disk
// or a closed standard output ends it with a report and 254, also when the
// only output is the last piece written; a broken pipe that is not standard
// output is an ordinary error.
TEST(KivScript, LostOutputIsAFailure) {
  using test::KivOutput;
  const struct {
    const char* script;
    KivOutput output;
    int status;
    std::string errors;
  } kCases[] = {
      {"print-last.kiv", KivOutput::kDevFull, 254,
       "*** Access Error: cannot write to standard output: No space left on device\n"},
      {"print-last.kiv", KivOutput::kClosed, 254,
       "*** Access Error: cannot write to standard output: Bad file descriptor\n"},
      {"print-many.kiv", KivOutput::kBrokenPipe, 141, ""},
      {"print-last.kiv", KivOutput::kBrokenPipe, 141, ""},
      {"write-stdout.kiv", KivOutput::kDevFull, 254,
       "*** Access Error: cannot write to standard output: No space left on device\n"},
      {"quit.kiv", KivOutput::kDevFull, 254,
       "*** Access Error: cannot write to standard output: No space left on device\n"},
  };
  for (const auto& c : kCases) {
    test::KivRunOptions options;
    options.output = c.output;
    test::KivRun run = test::run_kiv_with({kScripts + c.script}, options);
    EXPECT_EQ(run.status, c.status) << c.script << " " << int(c.output);
    EXPECT_EQ(run.errors, c.errors) << c.script << " " << int(c.output);
  }
  // Without a script: the console's banner is lost too.
  test::KivRunOptions full;
  full.output = KivOutput::kDevFull;
  EXPECT_EQ(test::run_kiv_with({}, full).status, 254);
  // EPIPE on standard error, reached as a file, is an error the script catches.
  test::KivRunOptions broken;
  broken.broken_errors = true;
  test::KivRun run = test::run_kiv_with({kScripts + "write-stderr-file.kiv"}, broken);
  EXPECT_EQ(run.output, "access cannot-open\nafter\n");
  EXPECT_EQ(run.status, 0);
}

// SIGTERM and SIGHUP end the run quietly, by the signal itself (a shell sees
// 128 + the signal); Ctrl-C ends it silently with 0; SIGQUIT is a runtime
// error with its report.
TEST(KivScript, EndSignalsEndTheRunQuietly) {
  const struct {
    int signo;
    int status;
    std::string output;
  } kCases[] = {
      {SIGTERM, 128 + SIGTERM, "ready\n"},
      {SIGHUP, 128 + SIGHUP, "ready\n"},
      {SIGINT, 0, "ready\n"},
      {SIGQUIT, 99, "ready\n\n*** Runtime Error 99: unknown error\n*** at: "},
  };
  for (const auto& c : kCases) {
    test::KivRunOptions options;
    options.signal = c.signo;
    options.signal_after = "ready\n";
    test::KivRun run = test::run_kiv_with({kScripts + "wait-forever.kiv"}, options);
    EXPECT_EQ(run.status, c.status) << "signal " << c.signo;
    EXPECT_EQ(run.output.substr(0, c.output.size()), c.output) << "signal " << c.signo;
    EXPECT_EQ(run.errors, "") << "signal " << c.signo;
  }
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

// Without a script, kiv opens the console: its banner, then (standard
// input at its end) a normal end.
TEST(KivScript, WithoutAScriptTheConsoleRuns) {
  test::KivRun run = test::run_kiv({});
  EXPECT_EQ(run.output, "--== Kiv 0.6.6 ==-- \nType HELP for starting information. \n\n");
  EXPECT_EQ(run.errors, "");
  EXPECT_EQ(run.status, 0);
}

}  // namespace
}  // namespace kiv
