// The runner of the Kiv-text case tables in tests/kiv/ (format in
// tests/kiv/README.md): one test per file. Each case's source is loaded
// whole by the lexer; the result is compared with the mold/only of the
// block, or with the first line of the report of the error raised.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "datatypes/error.h"
#include "evaluator/lexer.h"
#include "kiv_test.h"
#include "runtime/errors.h"
#include "runtime/stack.h"

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

class KivLoadFile : public ::testing::TestWithParam<std::string> {};

TEST_P(KivLoadFile, Cases) {
  fs::path path = fs::path(KIV_SOURCE_DIR) / "tests" / "kiv" / "load" / (GetParam() + ".kiv");
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
    EXPECT_EQ(load_outcome(source), expected)
        << path.filename() << ":" << number << ": " << trim(line.substr(0, arrow));
  }
  EXPECT_GT(cases, 0) << path;
}

INSTANTIATE_TEST_SUITE_P(Load, KivLoadFile, ::testing::ValuesIn(kiv_files("load")),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                           std::string name = info.param;
                           for (char& c : name)
                             if (!isalnum(static_cast<unsigned char>(c))) c = '_';
                           return name;
                         });

}  // namespace
}  // namespace kiv
