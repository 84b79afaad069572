// The runner of the Kiv-text case tables in tests/kiv/ (format in
// tests/kiv/README.md): one test per file, run as one script by the kiv
// executable. Each case's source is loaded whole by the lexer and, for the
// eval and library tables, evaluated; the result is compared with the
// mold/only of the values loaded, the mold of the value, or the first line
// of the report of the error raised; what a case prints is compared when
// the case expects it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "run_kiv.h"

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

// A Kiv string literal of the UTF-8 [text].
std::string kiv_string(const std::string& text) {
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '^') {
      out += '^';
      out += char(c);
    } else if (c == '\n') {
      out += "^/";
    } else if (c == '\t') {
      out += "^-";
    } else if (c < 0x20 || c == 0x7F) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "^(%02X)", c);
      out += hex;
    } else {
      out += char(c);
    }
  }
  return out + "\"";
}

struct Case {
  int line;
  std::string source;    // as written, for messages
  std::string code;      // with the \n escapes read
  std::string expected;  // the same
};

// The cases of the table [path].
std::vector<Case> read_cases(const fs::path& path) {
  std::vector<Case> cases;
  std::ifstream in(path);
  EXPECT_TRUE(in) << path;
  std::string line;
  int number = 0;
  while (std::getline(in, line)) {
    number++;
    std::string t = trim(line);
    if (t.empty() || t[0] == ';') continue;
    // " ==> ", or " ==>" ending the line for an empty result.
    size_t arrow = line.find(" ==> ");
    if (arrow == std::string::npos && line.size() >= 4 && line.compare(line.size() - 4, 4, " ==>") == 0)
      arrow = line.size() - 4;
    EXPECT_NE(arrow, std::string::npos) << path.filename() << ":" << number << ": no \" ==> \"";
    if (arrow == std::string::npos) continue;
    std::string source = trim(line.substr(0, arrow));
    std::string expected = arrow + 5 <= line.size() ? unescape_source(trim(line.substr(arrow + 5))) : "";
    cases.push_back({number, source, unescape_source(source), expected});
  }
  return cases;
}

// The script that runs a table's cases in order. Each case writes \1, then
// what it prints, then \2, its outcome and \3: "V" and the value's mold (a
// load case: the mold/only of the values loaded), "U" for unset!, or "E",
// the error's category and id, \4 and its report. The script ends with \5.
std::string table_script(const std::vector<Case>& cases, bool load) {
  std::string script =
      "Kiv [Title: \"case table\"]\n"
      "kiv-case-report: func [result [any-type!] load? [logic!]][\n"
      "  prin \"^(02)\"\n"
      "  prin case [\n"
      "    error? :result [kiv-case-join [\"E\" result/type \" \" result/id \"^(04)\" result]]\n"
      "    unset? :result [\"U\"]\n"
      "    load? [append copy \"V\" result]\n"
      "    true [append copy \"V\" mold :result]\n"
      "  ]\n"
      "  prin \"^(03)\"\n"
      "]\n"
      "kiv-case-join: func [block [block!] /local out][\n"
      "  out: copy \"\" foreach v reduce block [append out form :v] out\n"
      "]\n";
  for (const Case& c : cases) {
    script += "prin \"^(01)\" set/any 'kiv-case-result try/all [";
    script += load ? "mold/only transcode " + kiv_string(c.code) : "do transcode " + kiv_string(c.code);
    script += std::string("] kiv-case-report :kiv-case-result ") + (load ? "true" : "false") + "\n";
  }
  return script + "prin \"^(05)\"\n";
}

// What the case whose output is [out] gives, as its expectation [expected]
// is written: printed text, a mold, an error's report line or its id.
std::string outcome(const std::string& out, const std::string& expected) {
  const std::string prints = "prints ";
  size_t mark = out.find('\2');
  if (mark == std::string::npos) return "(no outcome)";
  if (expected.compare(0, prints.size(), prints) == 0) return prints + out.substr(0, mark);
  std::string result = out.substr(mark + 1);
  if (!result.empty() && result.back() == '\3') result.pop_back();
  if (result.empty()) return "(no outcome)";
  switch (result[0]) {
    case 'U': return "";
    case 'V': return result.substr(1);
    default: {
      size_t sep = result.find('\4');
      if (!expected.empty() && expected[0] == '!') return "!" + result.substr(1, sep - 1);
      std::string report = result.substr(sep + 1);
      return report.substr(0, report.find('\n'));
    }
  }
}

// Runs the table [name] of [area] through the kiv executable.
void run_table(const char* area, const std::string& name, bool load) {
  fs::path path = fs::path(KIV_SOURCE_DIR) / "tests" / "kiv" / area / (name + ".kiv");
  std::vector<Case> cases = read_cases(path);
  ASSERT_FALSE(cases.empty()) << path;
  fs::path dir = fs::temp_directory_path() / ("kiv-tables-" + std::to_string(getpid()));
  fs::create_directories(dir);
  fs::path script = dir / (std::string(area) + "-" + name + ".kiv");
  {
    std::ofstream out(script, std::ios::binary);
    out << table_script(cases, load);
  }
  test::KivRun run = test::run_kiv({script.string()});
  std::error_code ignored;
  fs::remove_all(dir, ignored);
  EXPECT_EQ(run.status, 0) << path.filename() << ": kiv ended with " << run.status << "\n" << run.output;
  EXPECT_NE(run.output.find('\5'), std::string::npos)
      << path.filename() << ": the table did not run to its end";
  // The outputs of the cases, in order: the text after each \1.
  std::vector<std::string> outs;
  size_t at = run.output.find('\1');
  while (at != std::string::npos) {
    size_t next = run.output.find_first_of(std::string("\1\5", 2), at + 1);
    outs.push_back(run.output.substr(at + 1, next == std::string::npos ? std::string::npos : next - at - 1));
    at = next != std::string::npos && run.output[next] == '\1' ? next : std::string::npos;
  }
  for (size_t i = 0; i < cases.size(); i++) {
    std::string got = i < outs.size() ? outcome(outs[i], cases[i].expected) : "(not run)";
    EXPECT_EQ(got, cases[i].expected) << path.filename() << ":" << cases[i].line << ": " << cases[i].source;
  }
}

class KivLoadFile : public ::testing::TestWithParam<std::string> {};

TEST_P(KivLoadFile, Cases) { run_table("load", GetParam(), true); }

class KivEvalFile : public ::testing::TestWithParam<std::string> {};

TEST_P(KivEvalFile, Cases) { run_table("eval", GetParam(), false); }

class KivLibraryFile : public ::testing::TestWithParam<std::string> {};

TEST_P(KivLibraryFile, Cases) { run_table("library", GetParam(), false); }

class KivParseFile : public ::testing::TestWithParam<std::string> {};

TEST_P(KivParseFile, Cases) { run_table("parse", GetParam(), false); }

class KivViewFile : public ::testing::TestWithParam<std::string> {};

TEST_P(KivViewFile, Cases) { run_table("view", GetParam(), false); }

std::string file_test_name(const ::testing::TestParamInfo<std::string>& info) {
  std::string name = info.param;
  for (char& c : name)
    if (!isalnum(static_cast<unsigned char>(c))) c = '_';
  return name;
}

INSTANTIATE_TEST_SUITE_P(Load, KivLoadFile, ::testing::ValuesIn(kiv_files("load")), file_test_name);
INSTANTIATE_TEST_SUITE_P(Eval, KivEvalFile, ::testing::ValuesIn(kiv_files("eval")), file_test_name);
INSTANTIATE_TEST_SUITE_P(Library, KivLibraryFile, ::testing::ValuesIn(kiv_files("library")), file_test_name);
INSTANTIATE_TEST_SUITE_P(Parse, KivParseFile, ::testing::ValuesIn(kiv_files("parse")), file_test_name);
INSTANTIATE_TEST_SUITE_P(View, KivViewFile, ::testing::ValuesIn(kiv_files("view")), file_test_name);

}  // namespace
}  // namespace kiv
