// call and browse: how a command line splits into words, and whole kiv runs,
// each in a fresh directory, that start real programs (sh, cat, printf,
// true) and a stand-in xdg-open placed first on PATH.
#include "services/process_call.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "run_kiv.h"
#include "temp_dir.h"

namespace kiv {
namespace {

namespace fs = std::filesystem;

using test::read_file;
// A fresh directory removed at the end of the test.
struct TempDir : test::TempDir {
  TempDir() : test::TempDir("kiv-call-") {}
};

// Writes an executable shell script [name] with [body] into [dir].
void write_tool(const std::string& dir, const std::string& name, const std::string& body) {
  std::string file = dir + "/" + name;
  std::ofstream(file) << "#!/bin/sh\n" << body;
  chmod(file.c_str(), 0755);
}

// Runs the script [body] (its header added) in [dir].
test::KivRun run_script(const std::string& dir, const std::string& body,
                        const std::vector<std::string>& env = {}) {
  std::ofstream(dir + "/t.kiv") << "Kiv []\n" << body;
  return test::run_kiv({dir + "/t.kiv"}, dir, env);
}

// ---------------------------------------------------------------- splitting the command

TEST(CommandWords, BlanksSeparateAndQuotesGroup) {
  struct Case {
    const char* text;
    std::vector<std::string> words;
  };
  const Case cases[] = {
      {"", {}},
      {" \t ", {}},
      {"ls", {"ls"}},
      {"  printf  %s\ta  ", {"printf", "%s", "a"}},
      {R"(echo "a b" c)", {"echo", "a b", "c"}},
      {R"(x"a b"y)", {"xa by"}},
      {R"(echo "")", {"echo", ""}},
      {R"(echo "a""b")", {"echo", "a\"b"}},
      {R"(echo "unclosed  run)", {"echo", "unclosed  run"}},
      {R"(echo a\"b)", {"echo", "a\"b"}},
      {R"(echo a\\"b c")", {"echo", "a\\b c"}},
      {R"(echo a\\\"b)", {"echo", "a\\\"b"}},
      {R"(echo a\b\\c)", {"echo", "a\\b\\\\c"}},
      {"$(touch x); y", {"$(touch", "x);", "y"}},
  };
  for (const Case& c : cases) EXPECT_EQ(command_words(c.text), c.words) << c.text;
}

// ---------------------------------------------------------------- call in whole runs

TEST(Call, ExitStatusesSignalsAndNoZombie) {
  TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  test::KivRun run = run_script(dir.path(),
                                "print call/wait {true}\n"
                                "print call/wait {false}\n"
                                "print call/wait {sh -c \"exit 3\"}\n"
                                "print call/wait {sh -c \"kill -9 $$\"}\n"
                                "print call/wait {sh -c \"kill -TERM $$\"}\n"
                                "print call/wait {}\n"
                                "print call/console {printf shared}\n"
                                // Not waited for: the process id; it ends and is a
                                // zombie until the next call reaps it.
                                "pid: call {true}\n"
                                "print pid > 0\n"
                                "wait 0.3\n"
                                "print exists? append %/proc/ form pid\n"
                                "call/wait/show {true}\n"
                                "print exists? append %/proc/ form pid\n");
  EXPECT_EQ(run.output, "0\n1\n3\n137\n143\n0\nshared0\ntrue\ntrue\nfalse\n");
  EXPECT_EQ(run.errors, "");
  EXPECT_EQ(run.status, 0);
}

TEST(Call, CapturedTextBytesAndTheirDecoding) {
  TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  test::KivRun run = run_script(
      dir.path(),
      // CR LF and lone CR become LF; the text is appended at the tail.
      "out: copy {x} call/output {printf \"a\\r\\nb\\rc\"} out print mold out\n"
      // A binary! gets the bytes inserted at its head.
      "b: next #{AABB} call/output {printf \"\\001\\377\"} b print mold head b\n"
      // Plain mode: bad UTF-8 raises, the target keeps what it had.
      "out: copy {} print attempt [call/output {printf \"a\\377\"} out]\n"
      "e: try [call/output {printf \"a\\377\"} out] print [e/type e/id mold out]\n"
      // /shell, and a program not found run through the shell: U+FFFD.
      "out: copy {} call/output/shell {printf 'a\\377b' | cat} out print mold out\n"
      "out: copy {} call/output {no-such-program-kiv 2>/dev/null; printf '\\377'} out print mold out\n"
      // The error stream too, into a string! of its own.
      "e: copy {} call/error {sh -c \"echo oops >&2\"} e print mold e\n"
      // A string input goes as UTF-8; binary! input from its head.
      "out: copy {} call/input/output {cat} {é€😀^/} out print mold out\n"
      "out: copy #{} call/input/output {cat} next #{00FF01} out print mold out\n");
  EXPECT_EQ(run.output,
            "\"xa^/b^/c\"\n"
            "#{AA01FFBB}\n"
            "none\n"
            "access invalid-utf8 \"\"\n"
            "\"a\xEF\xBF\xBD\x62\"\n"
            "\"\xEF\xBF\xBD\"\n"
            "\"oops^/\"\n"
            "\"é€😀^/\"\n"
            "#{FF01}\n");
  EXPECT_EQ(run.status, 0);
}

TEST(Call, QuotedWordsShellAndTheNotFoundRetry) {
  TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  write_tool(dir.path(), "my prog", "printf '<%s>' \"$@\"\n");
  test::KivRun run = run_script(
      dir.path(),
      "out: copy {} call/output {printf [%s] \"a b\" c\\\"d \"\" e} out print out\n"
      // Without /shell a pipe is only words for the program.
      "out: copy {} call/output {echo a | tr a-z A-Z} out print mold out\n"
      "out: copy {} call/output/shell {echo a | tr a-z A-Z} out print mold out\n"
      // A program not found: the whole text runs once through /bin/sh -c.
      "out: copy {} call/output {no-such-program-kiv 2>/dev/null || echo shell} out print mold out\n"
      "print call/wait {no-such-program-kiv}\n"
      // A file! command is one path, blanks and all; /shell quotes it.
      "out: copy {} call/output %\"my prog\" out print out\n"
      "out: copy {} call/output/shell %\"my prog\" out print out\n");
  EXPECT_EQ(run.output,
            "[a b][c\"d][][e]\n"
            "\"a | tr a-z A-Z^/\"\n"
            "\"A^/\"\n"
            "\"shell^/\"\n"
            "127\n"
            "<>\n"
            "<>\n");
  EXPECT_EQ(run.status, 0);
}

TEST(Call, RedirectFilesAreCreatedAppendedOrRefused) {
  TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  std::ofstream(dir.path() + "/in.txt") << "from a file\n";
  test::KivRun run = run_script(dir.path(),
                                "print call/output {printf one} %out.txt\n"
                                "print call/output {printf two} %out.txt\n"
                                "print call/error {sh -c \"echo err >&2\"} %err.txt\n"
                                "print call/input/output {cat} %in.txt %out.txt\n"
                                // A redirect file that cannot be opened: -1, nothing starts.
                                "print call/output {touch started} %no-dir/out.txt\n"
                                "print call/input {touch started} %missing.txt\n"
                                "print call/error {touch started} %./\n"
                                "print exists? %started\n");
  EXPECT_EQ(run.output, "0\n0\n0\n0\n-1\n-1\n-1\nfalse\n");
  EXPECT_EQ(read_file(dir.path() + "/out.txt"), "onetwofrom a file\n");
  EXPECT_EQ(read_file(dir.path() + "/err.txt"), "err\n");
  EXPECT_EQ(run.status, 0);
}

TEST(Call, LargeStreamsBothWaysNeverDeadlock) {
  TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  test::KivRun run =
      run_script(dir.path(),
                 // 10 MiB through cat, written and read at once.
                 "data: head insert/dup copy {} {0123456789abcde^/} 655360\n"
                 "out: copy {} print call/input/output {cat} data out\n"
                 "print [length? out out = data]\n"
                 // The child floods standard error before it reads its input.
                 "err: copy #{} out: copy #{}\n"
                 "print call/input/output/error {sh -c \"head -c 5000000 /dev/zero >&2; cat\"} data out err\n"
                 "print [length? err length? out]\n"
                 // One that stops reading early ends only the input.
                 "out: copy {} print call/input/output {head -c 5} data out\n"
                 "print mold out\n"
                 "print call/input {true} data\n");
  EXPECT_EQ(run.output,
            "0\n10485760 true\n"
            "0\n5000000 10485760\n"
            "0\n\"01234\"\n"
            "0\n");
  EXPECT_EQ(run.errors, "");
  EXPECT_EQ(run.status, 0);
}

TEST(Call, TheChildGetsDefaultSignalsAndOnlyTheStandardDescriptors) {
  TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  // kiv ignores SIGPIPE itself; the child must not. Descriptor 7, open in
  // kiv without close-on-exec, must not reach it.
  std::ofstream(dir.path() + "/t.kiv")
      << "Kiv []\n"
         "out: copy {} call/output {grep SigIgn /proc/self/status} out prin out\n"
         "out: copy {} call/output/shell {ls /proc/$$/fd} out prin out\n";
  std::string command = "cd '" + dir.path() + "' && exec 7</dev/null '" + KIV_EXECUTABLE + "' t.kiv > result";
  ASSERT_EQ(std::system(command.c_str()), 0);
  std::string result = read_file(dir.path() + "/result");
  // The C library keeps its own two real-time signals (32 and 33) ignored;
  // none of the standard ones 1-31 may be.
  ASSERT_EQ(result.substr(0, 8), "SigIgn:\t");
  EXPECT_EQ(std::stoull(result.substr(8, 16), nullptr, 16) & 0x7FFFFFFFull, 0u) << result;
  EXPECT_EQ(result.substr(25), "0\n1\n2\n");
}

TEST(Call, DescriptorsAreReleasedOnEveryPath) {
  TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  test::KivRun run = run_script(dir.path(),
                                "count: does [length? read %/proc/self/fd/]\n"
                                "before: count\n"
                                "loop 20 [\n"
                                "  call/wait {true}\n"
                                "  call/output {true} %no-dir/x\n"
                                "  attempt [call/output {printf \"\\377\"} copy {}]\n"
                                "  call/input/output/error {cat} {abc} copy {} copy {}\n"
                                "  call/wait {no-such-program-kiv}\n"
                                "]\n"
                                "print count - before\n");
  EXPECT_EQ(run.output, "0\n");
  EXPECT_EQ(run.status, 0);
}

TEST(Call, NulInACommandOrPathRaisesBeforeAnythingStarts) {
  TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  test::KivRun run = run_script(dir.path(),
                                "foreach code [\n"
                                "  [call {touch started^@x}]\n"
                                "  [call/wait %\"started^@x\"]\n"
                                "  [call/input {touch started} %\"in^@x\"]\n"
                                "  [call/output {touch started} %\"out^@x\"]\n"
                                "  [call/error {touch started} %\"err^@x\"]\n"
                                "  [browse %\"page^@x\"]\n"
                                "  [browse to-url \"http://a.test/^@x\"]\n"
                                "] [e: try code print [e/type e/id]]\n"
                                "print exists? %started\n",
                                {"PATH=" + dir.path() + ":/usr/bin:/bin"});
  std::string expected;
  for (int i = 0; i < 7; i++) expected += "script invalid-arg\n";
  EXPECT_EQ(run.output, expected + "false\n");
  EXPECT_EQ(run.status, 0);
}

// ---------------------------------------------------------------- browse

// Waits up to five seconds for [file] to hold a complete record (ending in "#").
std::string wait_for_record(const std::string& file) {
  for (int i = 0; i < 500; i++) {
    std::string text = read_file(file);
    if (!text.empty() && text.back() == '#') return text;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return read_file(file);
}

TEST(Browse, TheUrlOrPathIsXdgOpensOneUntouchedArgument) {
  TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  write_tool(dir.path(), "xdg-open",
             "printf '%s|%s#' \"$#\" \"$1\" > \"$KIV_RECORD.tmp\"\nmv \"$KIV_RECORD.tmp\" \"$KIV_RECORD\"\n");
  std::vector<std::string> env = {"PATH=" + dir.path() + ":/usr/bin:/bin",
                                  "KIV_RECORD=" + dir.path() + "/record"};
  test::KivRun run =
      run_script(dir.path(), "print unset? browse to-url {http://a.test/x y;z$(touch pwned)`id`'q'}\n", env);
  EXPECT_EQ(run.output, "true\n");
  EXPECT_EQ(wait_for_record(dir.path() + "/record"), "1|http://a.test/x y;z$(touch pwned)`id`'q'#");
  EXPECT_FALSE(fs::exists(dir.path() + "/pwned"));

  // A file! goes as its absolute path.
  fs::remove(dir.path() + "/record");
  run = run_script(dir.path(), "browse %\"a page;$(touch pwned).html\"\n", env);
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(wait_for_record(dir.path() + "/record"),
            "1|" + fs::canonical(dir.path()).string() + "/a page;$(touch pwned).html#");
  EXPECT_FALSE(fs::exists(dir.path() + "/pwned"));
}

TEST(Browse, WithoutXdgOpenItCannotOpen) {
  TempDir dir;
  ASSERT_FALSE(dir.path().empty());
  test::KivRun run = run_script(
      dir.path(), "e: try [browse http://a.test/] print [e/type e/id mold e/arg1]\n", {"PATH=" + dir.path()});
  EXPECT_EQ(run.output, "access cannot-open http://a.test/\n");
  EXPECT_EQ(run.status, 0);
}

}  // namespace
}  // namespace kiv
