// The console without a terminal: whole runs of kiv with lines on standard
// input (what the read-eval-print loop prints, how it ends, the settings it
// keeps), and the directory listings, whose columns hold tabs and blanks.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "run_kiv.h"

namespace kiv {
namespace {

namespace fs = std::filesystem;

// A fresh directory, removed with everything in it at the end of the test.
class TempDir {
 public:
  TempDir() {
    char pattern[] = "/tmp/kiv-console-XXXXXX";
    if (mkdtemp(pattern)) path_ = pattern;
  }
  ~TempDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  const std::string& path() const { return path_; }
  void write(const std::string& name, const std::string& text) const {
    fs::create_directories(fs::path(path_ / fs::path(name)).parent_path());
    std::ofstream(fs::path(path_) / name, std::ios::binary) << text;
  }

 private:
  std::string path_;
};

const std::string kBanner = "--== Kiv 0.6.6 ==-- \nType HELP for starting information. \n\n";

// Runs kiv with [input] on a pipe as standard input and [home] as HOME.
test::KivRun run_console(const std::string& input, const std::string& home,
                         const std::vector<std::string>& args = {}) {
  test::KivRunOptions options;
  options.has_input_text = true;
  options.input_text = input;
  options.env = {"HOME=" + home, "APPDATA"};
  return test::run_kiv_with(args, options);
}

// Lines from a pipe: no prompt and no escape sequence; results after "== ",
// reports of errors followed by an empty line, multi-line input collected
// until its delimiters close; the end of the input ends the run with 0.
TEST(ConsoleRepl, LinesFromAPipe) {
  TempDir home;
  const struct {
    const char* what;
    std::string input;
    std::string output;
    int status;
  } kCases[] = {
      {"results", "1 + 2\nprint \"hi\"\n\n1.5 + 1\n", "== 3\nhi\n== 2.5\n", 0},
      {"an error, then more", "1 / 0\nprint 1\n",
       "*** Math Error: attempt to divide by zero\n*** Where: /\n*** Near : 1 / 0 \n\n1\n", 0},
      {"multi-line input", "print [1\n\n2]\nx: {a\nb}\n", "1 2\n== \"a^/b\"\n", 0},
      {"a syntax error at once", "]\n1\n",
       "*** Syntax Error: (line 1) missing [ at ]\n*** Where: transcode\n*** Near : none\n== 1\n", 0},
      {"escape drops the pending input", "x: [1\n2\x1b\nx\n",
       "(escape)\n*** Script Error: x has no value\n*** Where: catch\n*** Near : x \n\n", 0},
      {"halt", "halt\nprint 2\n", "(halted)\n2\n", 0},
      {"a last line without its line feed", "print 5", "5\n", 0},
      {"pending input at the end runs, its error shown", "print [1\n",
       "*** Syntax Error: (line 1) missing ] at [1\n*** Where: transcode\n*** Near : none\n", 0},
      {"a CR before the LF stays in the line", "print \"a\"\r\n", "a\n", 0},
      {"bad UTF-8 reads as U+FFFD", "print \"a\xff\"\n", "a\xef\xbf\xbd\n", 0},
      {"a prompt that fails is reported once and reset",
       "system/console/prompt: does [1 / 0]\n1\nsame? system/console/prompt system/console/def-prompt\n",
       "== func [][1 / 0]\n*** Math Error: attempt to divide by zero\n*** Where: system/console/prompt\n"
       "*** Near : 1 / 0\n== 1\n== true\n",
       0},
      {"quit/return", "print 1\nquit/return 3\nprint 2\n", "1\n", 3},
      {"q", "q\nprint 2\n", "", 0},
  };
  for (const auto& c : kCases) {
    test::KivRun run = run_console(c.input, home.path());
    EXPECT_EQ(run.output, kBanner + c.output) << c.what;
    EXPECT_EQ(run.errors, "") << c.what;
    EXPECT_EQ(run.status, c.status) << c.what;
    EXPECT_EQ(run.output.find('\x1b'), std::string::npos) << c.what;
  }
}

// The settings: quit saves them (history and all) under the home, in a
// private directory; the end of the input leaves the file as it was;
// without a home nothing is written, and settings that cannot be saved
// cost quit one line on standard error, not its status.
TEST(ConsoleRepl, QuitSavesTheSettingsAndTheEndOfInputDoesNot) {
  TempDir home;
  const fs::path dir = fs::path(home.path()) / ".kiv" / "Kiv-Console";
  const fs::path file = dir / "console-cfg.kiv";
  test::KivRun run = run_console("insert system/console/history \"typed\"\nq\n", home.path());
  EXPECT_EQ(run.status, 0) << run.errors;
  ASSERT_TRUE(fs::exists(file));
  EXPECT_EQ(fs::status(dir).permissions() & fs::perms::all, fs::perms::owner_all);
  EXPECT_EQ(fs::status(dir.parent_path()).permissions() & fs::perms::all, fs::perms::owner_all);
  std::ifstream in(file);
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(
      text,
      "Kiv [\n\tPurpose: \"Kiv Console Configuration File\"\n]\n\nbuffer-lines: 10000 history: [\"typed\"]");
  EXPECT_EQ(std::vector<fs::path>(fs::directory_iterator(dir), fs::directory_iterator()),
            std::vector<fs::path>{file});

  // Back at the next start; the end of the input writes nothing.
  run =
      run_console("print mold system/console/history\ninsert system/console/history \"more\"\n", home.path());
  EXPECT_EQ(run.output, kBanner + "[\"typed\"]\n== [\"typed\"]\n");
  std::ifstream again(file);
  EXPECT_EQ(std::string((std::istreambuf_iterator<char>(again)), std::istreambuf_iterator<char>()), text);

  // A file in the way of the settings file: quit reports it on one line and
  // keeps its status.
  fs::remove(file);
  fs::create_directory(file);
  run = run_console("quit/return 4\n", home.path());
  EXPECT_EQ(run.status, 4);
  EXPECT_EQ(run.errors,
            "*** Console settings not saved: *** Access Error: cannot create: %" + file.string() + "\n");

  // No home at all: nothing is made anywhere.
  test::KivRunOptions options;
  options.has_input_text = true;
  options.input_text = "print system/options/cache\nq\n";
  options.env = {"HOME=" + home.path() + "/missing", "APPDATA"};
  run = test::run_kiv_with({}, options);
  EXPECT_EQ(run.status, 0) << run.errors;
  EXPECT_EQ(run.errors, "");
  EXPECT_FALSE(fs::exists(home.path() + "/missing"));
}

// --catch: after the script, the console reads the rest of the input.
TEST(ConsoleRepl, CatchKeepsTheConsoleAfterTheScript) {
  TempDir home;
  home.write("s.kiv", "Kiv []\nx: 5\n1 / 0\n");
  test::KivRun run = run_console("x + 1\n", home.path(), {"--catch", home.path() + "/s.kiv"});
  EXPECT_EQ(run.output, "== 6\n");
  EXPECT_EQ(run.errors.substr(0, 42), "*** Math Error: attempt to divide by zero\n");
  EXPECT_EQ(run.status, 0);
}

// list-dir fits its columns to the console's width (80 without a terminal):
// three columns of 18 characters, two of 31 with /col 2, one of 66 with ll;
// a name as wide as its column or wider is cut.
TEST(ConsoleCommands, ListDirFitsColumnsToTheWidth) {
  TempDir dir;
  dir.write("list/a.txt", "");
  dir.write("list/bb.txt", "");
  dir.write("list/dir/x", "");
  dir.write("list/abcdefghijklmnopqrstuvwxyz.txt", "");
  dir.write("t.kiv",
            "Kiv []\nlist-dir %list\nprint \"-\"\nlist-dir/col %list 2\nprint \"-\"\nll list\nprint \"-\"\n"
            "ls %list/dir/\n");
  test::KivRun run = test::run_kiv({dir.path() + "/t.kiv"});
  const auto pad = [](const std::string& name, size_t width) {
    return "\t" + name + std::string(width - name.size(), ' ') + " ";
  };
  const std::string long_name = "abcdefghijklmnopqrstuvwxyz.txt";
  EXPECT_EQ(run.output, pad("a.txt", 18) + pad("abcdefghijklmn...", 18) + pad("bb.txt", 18) + "\n" +
                            pad("dir/", 18) + "\n-\n" +                             //
                            pad("a.txt", 31) + pad(long_name, 31) + "\n" +          //
                            pad("bb.txt", 31) + pad("dir/", 31) + "\n-\n" +         //
                            pad("a.txt", 66) + "\n" + pad(long_name, 66) + "\n" +   //
                            pad("bb.txt", 66) + "\n" + pad("dir/", 66) + "\n-\n" +  //
                            pad("x", 18) + "\n");
  EXPECT_EQ(run.errors, "");
  EXPECT_EQ(run.status, 0);
}

}  // namespace
}  // namespace kiv
