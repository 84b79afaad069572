// The console routines with standard input a file: lines read as UTF-8
// without prompt or escape sequences, the end of the input, and bytes read
// into a binary.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "tests/unit/run_kiv.h"
#include "tests/unit/temp_dir.h"

namespace kiv {
namespace {

struct StdinCase {
  const char* name;
  std::string input;  // standard input's bytes
  const char* code;   // the script after its header
  const char* output;
};

// Reads one line through the routines ask uses, and prints what came.
constexpr const char* kReadLine =
    "read-line: func [/local s got][s: make string! 1 _set-buffer-history s [] "
    "got: _read-input \">> \" false print mold reduce [got s]]\n";

const StdinCase kCases[] = {
    {.name = "LinesKeepCrBeforeLf",
     .input = "one\r\ntwo\n",
     .code = "read-line read-line read-line",
     .output = "[true \"one^M\"]\n[true \"two\"]\n[false \"\"]\n"},
    {.name = "LastLineWithoutLineFeed",
     .input = "a\nlast",
     .code = "read-line read-line read-line read-line",
     .output = "[true \"a\"]\n[true \"last\"]\n[false \"\"]\n[false \"\"]\n"},
    {.name = "BadBytesAreReplacementCharacters",
     .input = "a\xff"
              "b\xc3(\xe4\xb8\xad\xf0\x9f\x98\x80\xed\xa0\x80z\n",
     .code = "read-line",
     .output = "[true \"a\xef\xbf\xbd"
               "b\xef\xbf\xbd(\xe4\xb8\xad\xf0\x9f\x98\x80\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbdz\"]\n"},
    {.name = "SequenceCutByTheEnd",
     .input = "x\xe4\xb8",
     .code = "read-line read-line",
     .output = "[true \"x\xef\xbf\xbd\"]\n[false \"\"]\n"},
    {.name = "EmptyInput",
     .input = "",
     .code = "read-line probe input-stdin",
     .output = "[false \"\"]\n\"\"\n"},
    {.name = "InputStdinReadsALine",
     .input = "first\nsecond\n",
     .code = "probe input-stdin probe input-stdin probe input-stdin",
     .output = "\"first\"\n\"second\"\n\"\"\n"},
    {.name = "HiddenLinesArePlainOnAPipe",
     .input = "secret\n",
     .code = "s: make string! 1 h: copy [] _set-buffer-history s h _read-input \"pw: \" true probe s probe h",
     .output = "\"secret\"\n[]\n"},
    {.name = "ReadStdinAppendsAtTheTail",  // and at the end of the input adds nothing
     .input = "12345678",
     .code =
         "b: make binary! 0 read-stdin b 5 probe b read-stdin tail b 100 probe b read-stdin tail b 4 probe b",
     .output = "#{3132333435}\n#{3132333435363738}\n#{3132333435363738}\n"},
    {.name = "ReadStdinInsertsAtThePosition",
     .input = "xy",
     .code = "b: next #{AABB} read-stdin b 2 probe head b probe b",
     .output = "#{AA7879BB}\n#{7879BB}\n"},
    {.name = "ReadStdinOfNothing",
     .input = "abc",
     .code = "b: copy #{} read-stdin b 0 read-stdin b -3 probe b probe input-stdin",
     .output = "#{}\n\"abc\"\n"},
    {.name = "LinesAndBytesInTurn",
     .input = "line\nrest",
     .code = "read-line b: copy #{} read-stdin b 10 probe to string! b",
     .output = "[true \"line\"]\n\"rest\"\n"},
};

class ConsoleStdin : public testing::TestWithParam<StdinCase> {};

TEST_P(ConsoleStdin, Reads) {
  const StdinCase& c = GetParam();
  test::TempDir dir;
  std::string script = dir.path() + "/t.kiv";
  std::string input = dir.path() + "/input";
  std::ofstream(script) << "Kiv []\n" << kReadLine << c.code << "\n";
  std::ofstream(input, std::ios::binary) << c.input;
  test::KivRunOptions options;
  options.input = input;
  options.env = {"HOME=" + dir.path(), "APPDATA"};
  test::KivRun run = test::run_kiv_with({script}, options);
  EXPECT_EQ(run.status, 0) << run.errors;
  EXPECT_EQ(run.errors, "");
  EXPECT_EQ(run.output, c.output);
  EXPECT_EQ(run.output.find('\x1b'), std::string::npos) << "no escape sequence without a terminal";
}

INSTANTIATE_TEST_SUITE_P(Cases, ConsoleStdin, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<StdinCase>& info) { return info.param.name; });

}  // namespace
}  // namespace kiv
