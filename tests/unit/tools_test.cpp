// The tracing tools as a user runs them: trace's output against golden
// files, the profiler's report, and the interactive debugger driven through
// a pseudo-terminal (and from a pipe, where it never waits).
#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "run_kiv.h"

namespace kiv {
namespace {

namespace fs = std::filesystem;

const std::string kTools = std::string(KIV_SOURCE_DIR) + "/tests/scripts/tools/";

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

// Every tests/scripts/tools/NAME.kiv with a NAME.out prints exactly that.
TEST(TraceTools, PrintWhatTheGoldenFilesHold) {
  int checked = 0;
  for (const auto& entry : fs::directory_iterator(kTools)) {
    if (entry.path().extension() != ".out") continue;
    fs::path script = entry.path();
    script.replace_extension(".kiv");
    test::KivRun run = test::run_kiv({script.string()}, kTools);
    EXPECT_EQ(run.output, read_file(entry.path().string())) << script;
    EXPECT_EQ(run.errors, "") << script;
    EXPECT_EQ(run.status, 0) << script;
    checked++;
  }
  EXPECT_GT(checked, 0);
}

// A row of the profile's table: "#rank name | count | h:mm:ss[.fraction]",
// padded with blanks; false for any other line.
bool profile_row(const std::string& line, int* rank, std::string* name, int* count) {
  std::istringstream in(line);
  std::string hash_rank, bar1, bar2, duration, rest;
  if (!(in >> hash_rank >> *name >> bar1 >> *count >> bar2 >> duration) || (in >> rest)) return false;
  if (hash_rank.size() < 2 || hash_rank[0] != '#' || bar1 != "|" || bar2 != "|") return false;
  if (hash_rank.find_first_not_of("0123456789", 1) != std::string::npos) return false;
  *rank = std::stoi(hash_rank.substr(1));
  const size_t dot = duration.find('.');
  const std::string clock = duration.substr(0, dot);
  if (clock.size() < 7 || clock[clock.size() - 3] != ':' || clock[clock.size() - 6] != ':') return false;
  for (size_t i = 0; i < clock.size(); i++)
    if (i != clock.size() - 3 && i != clock.size() - 6 && !std::isdigit(static_cast<unsigned char>(clock[i])))
      return false;
  return dot == std::string::npos || duration.find_first_not_of("0123456789", dot + 1) == std::string::npos;
}

// The report: one line per function, ranked, its name, count and duration
// in padded columns; durations vary from run to run.
TEST(TraceTools, ProfileReportRanksFunctions) {
  test::KivRun run = test::run_kiv({kTools + "profile-table.kiv"}, kTools);
  ASSERT_EQ(run.status, 0) << run.errors;
  std::vector<std::vector<std::pair<std::string, int>>> tables;
  std::istringstream lines(run.output);
  std::string line;
  std::vector<std::string> heads;
  while (std::getline(lines, line)) {
    int rank = 0, count = 0;
    std::string name;
    if (line.rfind("== ", 0) == 0) {
      heads.push_back(line);
      tables.emplace_back();
    } else if (profile_row(line, &rank, &name, &count)) {
      ASSERT_FALSE(tables.empty());
      EXPECT_EQ(rank, int(tables.back().size()) + 1) << line;
      tables.back().push_back({name, count});
    } else {
      EXPECT_EQ(line, "") << run.output;
    }
  }
  ASSERT_EQ(tables.size(), 2u) << run.output;
  EXPECT_EQ(heads[0], "== 8");
  // By count: most called first, ties in any order.
  std::map<std::string, int> counts(tables[0].begin(), tables[0].end());
  EXPECT_EQ(counts,
            (std::map<std::string, int>{{"fib", 25}, {"<", 25}, {"either", 25}, {"-", 24}, {"+", 12}}));
  for (size_t i = 1; i < tables[0].size(); i++) EXPECT_GE(tables[0][i - 1].second, tables[0][i].second);
  // By time: the calls that hold the wait come first, outermost first. In
  // the sanitizer and collector-stress builds every call is slowed so much
  // that the recursion outlasts the wait: there only the counts are checked.
  ASSERT_GE(tables[1].size(), 3u);
#if !defined(__SANITIZE_ADDRESS__) && !defined(KIV_GC_STRESS)
  EXPECT_EQ(tables[1][0].first, "do");
  EXPECT_EQ(tables[1][1].first, "<anon1>");
  EXPECT_EQ(tables[1][2].first, "wait");
#endif
}

// The debugger's prompt on a terminal: each command typed at "debug> "
// (tests/scripts/tools/debug_pty.py types them) and what it shows; the
// lines typed leave the console history as it was.
TEST(TraceTools, DebuggerPromptTakesCommandsOnATerminal) {
  test::KivRunOptions options;
  options.program = "/usr/bin/python3";
  test::KivRun run =
      test::run_kiv_with({kTools + "debug_pty.py", KIV_EXECUTABLE, kTools + "debug-prompt.kiv"}, options);
  ASSERT_EQ(run.status, 0) << run.errors;
  const std::string& out = run.output;
  auto after = [&](const std::string& typed, const std::string& shown) {
    size_t at = out.find("debug> " + typed + "\n");
    ASSERT_NE(at, std::string::npos) << typed << "\n" << out;
    EXPECT_EQ(out.compare(at + 8 + typed.size(), shown.size(), shown), 0) << typed << "\n"
                                                                          << out.substr(at, 300);
  };
  EXPECT_EQ(out.rfind("-----> EVAL y:\nInput: y: x + 1 z: y * 2\n\nStack: y:\n\ndebug> \n", 0), 0u) << out;
  after("", "-----> EVAL x\nInput: x + 1 z: y * 2\n");
  after("n", "-----> PUSH 5\n");
  after("?", "\n\t`help` or `?`: print a list of debugger's commands.\n");
  after(":x", "== 5\n");
  after(":o/a", "== 7\n");
  after("w x", "debug> -w x\n");
  after("+i", "debug> frobnicate\nUnknown command!\n");
  after("[", "*** Syntax Error: (line 1) missing ] at [\n");
  after("s", "\nStack: y:\nStack:   5\n\n");
  after("p", "debug> c\n");
  after("c", "history: [\"older line\"]\n-----> EVAL q1:\n");
  after("q", "(halted)\n");
  EXPECT_EQ(out.find("not reached"), std::string::npos);
}

// Without a terminal the debugger prints its steps and never waits.
TEST(TraceTools, DebuggerFromAPipeNeverWaits) {
  test::KivRun run = test::run_kiv({kTools + "debug-steps.kiv"}, kTools);
  EXPECT_EQ(run.status, 0) << run.errors;
  EXPECT_EQ(run.output.find("debug> "), std::string::npos);
}

}  // namespace
}  // namespace kiv
