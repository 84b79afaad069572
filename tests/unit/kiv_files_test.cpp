// The runner of the Kiv-text case tables in tests/kiv/ (format in
// tests/kiv/README.md): one test per file. Each case's source is loaded
// whole by the lexer; the result is compared with the mold/only of the
// block, or with the first line of the report of the error raised. What
// eval cases print is captured, and compared when a case expects it.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "datatypes/context.h"
#include "datatypes/error.h"
#include "datatypes/string.h"
#include "eval_test.h"
#include "evaluator/base_env.h"
#include "evaluator/interpreter.h"
#include "evaluator/lexer.h"
#include "kiv_test.h"
#include "runtime/errors.h"
#include "runtime/stack.h"
#include "services/print_hooks.h"

namespace kiv {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> kiv_files(const char* area) {
  std::vector<std::string> files;
  fs::path dir = fs::path(KIV_SOURCE_DIR) / "tests" / "kiv" / area;
  if (!fs::is_directory(dir)) return files;
  for (const auto& entry : fs::directory_iterator(dir))
    if (entry.path().extension() == ".kiv") files.push_back(entry.path().stem().string());
  std::sort(files.begin(), files.end());
  return files;
}

// "\n" (backslash, n) stands for a line feed on both sides of a case.
std::string unescape_source(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); i++) {
    if (text[i] == '\\' && i + 1 < text.size() && text[i + 1] == 'n') {
      out += '\n';
      i++;
    } else {
      out += text[i];
    }
  }
  return out;
}

std::string trim(const std::string& s) {
  size_t a = s.find_first_not_of(" \t\r");
  if (a == std::string::npos) return "";
  size_t b = s.find_last_not_of(" \t\r");
  return s.substr(a, b - a + 1);
}

// What loading [source] gives: the mold/only of the values, or the first
// line of the error report.
std::string load_outcome(const std::string& source) {
  StackSave save;
  std::string text;
  ErrorId e = test::catch_error([&] {
    Cell* out = stack_push();
    lexer_load_utf8(out, reinterpret_cast<const uint8_t*>(source.data()), uint32_t(source.size()));
    text = test::mold(*out, true);
  });
  if (e == test::kNoError) return text;
  Cell error = raised_error_value();
  Cell* rooted = stack_push_value(error);
  std::string report = error_report(rooted);
  return report.substr(0, report.find('\n'));
}

// What evaluating [source] as a block gives: the mold of its value (empty
// for unset!), the first line of the error report, or with [by_id] the
// error's "!category id".
std::string eval_outcome(const std::string& source, bool by_id) {
  StackSave save;
  std::string text;
  ErrorId e = test::catch_error([&] {
    Cell* out;
    Status s = test::evaluate(source, &out);
    if (s) {
      text = "status " + std::to_string(s);
      return;
    }
    text = out->is(kTypeUnset) ? "" : test::mold(*out, false);
  });
  if (e == test::kNoError) return text;
  if (by_id) {
    const ErrorInfo& info = error_info(e);
    return std::string("!") + category_info(info.category).word + " " + info.word;
  }
  Cell error = raised_error_value();
  Cell* rooted = stack_push_value(error);
  std::string report = error_report(rooted);
  return report.substr(0, report.find('\n'));
}

// The text printed while an eval case runs.
std::string g_printed;

void capture_print(const Cell* text, bool newline) {
  g_printed += string_to_utf8(text);
  if (newline) g_printed += "\n";
}

// Evaluates a case with its printed output captured instead of written out:
// the printed text when [expected] begins with "prints ", else the outcome.
std::string eval_case(const std::string& source, const std::string& expected) {
  const std::string prints = "prints ";
  g_printed.clear();
  remove_print_hooks(print_string_stdout, nullptr);
  add_print_hooks(capture_print, nullptr);
  std::string result = eval_outcome(source, !expected.empty() && expected[0] == '!');
  remove_print_hooks(capture_print, nullptr);
  add_print_hooks(print_string_stdout, nullptr);
  return expected.compare(0, prints.size(), prints) == 0 ? prints + g_printed : result;
}

// Runs every case of the table [path] through [outcome].
template <class Outcome>
void run_cases(const fs::path& path, Outcome outcome) {
  std::ifstream in(path);
  ASSERT_TRUE(in) << path;
  std::string line;
  int number = 0, cases = 0;
  while (std::getline(in, line)) {
    number++;
    std::string t = trim(line);
    if (t.empty() || t[0] == ';') continue;
    // " ==> ", or " ==>" ending the line for an empty result.
    size_t arrow = line.find(" ==> ");
    if (arrow == std::string::npos && line.size() >= 4 && line.compare(line.size() - 4, 4, " ==>") == 0)
      arrow = line.size() - 4;
    ASSERT_NE(arrow, std::string::npos) << path.filename() << ":" << number << ": no \" ==> \"";
    std::string source = unescape_source(trim(line.substr(0, arrow)));
    std::string expected = arrow + 5 <= line.size() ? unescape_source(trim(line.substr(arrow + 5))) : "";
    cases++;
    EXPECT_EQ(outcome(source, expected), expected)
        << path.filename() << ":" << number << ": " << trim(line.substr(0, arrow));
  }
  EXPECT_GT(cases, 0) << path;
}

class KivLoadFile : public ::testing::TestWithParam<std::string> {};

TEST_P(KivLoadFile, Cases) {
  run_cases(fs::path(KIV_SOURCE_DIR) / "tests" / "kiv" / "load" / (GetParam() + ".kiv"),
            [](const std::string& source, const std::string&) { return load_outcome(source); });
}

class KivEvalFile : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    // Each file starts from the base environment alone: the words earlier
    // files and suites set are emptied first.
    Node values = context_values(g_global_context);
    for (uint32_t i = 0; i < series_length(values); i++) series_cells(values)[i] = make_cell(kTypeUnset);
    base_environment_init();
  }
};

TEST_P(KivEvalFile, Cases) {
  run_cases(fs::path(KIV_SOURCE_DIR) / "tests" / "kiv" / "eval" / (GetParam() + ".kiv"), eval_case);
}

std::string file_test_name(const ::testing::TestParamInfo<std::string>& info) {
  std::string name = info.param;
  for (char& c : name)
    if (!isalnum(static_cast<unsigned char>(c))) c = '_';
  return name;
}

INSTANTIATE_TEST_SUITE_P(Load, KivLoadFile, ::testing::ValuesIn(kiv_files("load")), file_test_name);
INSTANTIATE_TEST_SUITE_P(Eval, KivEvalFile, ::testing::ValuesIn(kiv_files("eval")), file_test_name);

}  // namespace
}  // namespace kiv
