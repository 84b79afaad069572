// print and prin: the formed text that reaches the string printers, the
// scratch block left as it was, and the default printer's bytes on a pipe
// and on a pseudo-terminal.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <string>

#include "datatypes/block.h"
#include "evaluator/base_env.h"
#include "evaluator/print_output.h"
#include "runtime/root_block.h"
#include "services/console_output.h"
#include "services/print_hooks.h"
#include "tests/unit/eval_test.h"
#include "tests/unit/kiv_test.h"

namespace kiv {
namespace {

std::string g_captured;

void capture(const Cell* text, bool newline) {
  g_captured += string_to_utf8(text);
  if (newline) g_captured += "\n";
}

// Runs [source] with the default printer replaced by the capture.
std::string printed(std::string_view source) {
  g_captured.clear();
  Cell* base = g_stack.top;
  remove_print_hooks(print_string_stdout, nullptr);
  add_print_hooks(capture, nullptr);
  Cell* out;
  std::string error = test::outcome([&] {
    EXPECT_EQ(test::evaluate(source, &out), kStatusOk);
    return kNoneCell;
  });
  remove_print_hooks(capture, nullptr);
  add_print_hooks(print_string_stdout, nullptr);
  g_stack.top = base;
  if (error != "none") return error;
  return g_captured;
}

class Print : public ::testing::Test {
 protected:
  void SetUp() override { base_environment_init(); }
};
class PrintHooks : public Print {};
class ConsoleOutput : public Print {};

int32_t scratch_length() { return block_total_length(root_slot(kRootPrintScratch)); }

TEST_F(Print, FormsValuesAndReducedBlocks) {
  struct Case {
    const char* source;
    const char* out;
  } cases[] = {
      {R"(print [1 + 2 "a" [b c]])", "3 a b c\n"},
      {R"(prin "x")", "x"},
      {R"(print "")", "\n"},
      {R"(print 12 prin 'w print 1.5)", "12\nw1.5\n"},
      {R"(print next "abc")", "bc\n"},
      {R"(s: "abc" print skip s 10)", "\n"},
      {R"(print [])", "\n"},
      {R"(b: [1 2 3] print next b)", "2 3\n"},
      {R"(print none)", "none\n"},
      {R"(prin [x: 5 x * 2] prin " " print x)", "5 10 5\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(printed(c.source), c.out) << c.source;
}

TEST_F(Print, ResultIsUnsetAndSetsTheLastNewlineFlag) {
  EXPECT_EQ(printed("prin 1"), "1");
  EXPECT_EQ(g_last_newline, 0);
  EXPECT_EQ(printed("print 1"), "1\n");
  EXPECT_EQ(g_last_newline, 1);
  EXPECT_EQ(printed(R"(print type? prin 1)"), "1unset\n");
}

TEST_F(Print, NestedPrintGoesFirstAndTheScratchBlockIsCutBack) {
  int32_t before = scratch_length();
  EXPECT_EQ(printed(R"(print [1 print [2 3] 4])"), "2 3\n1  4\n");
  EXPECT_EQ(scratch_length(), before);
}

TEST_F(Print, ErrorsAndExitsInTheArgumentLeaveTheScratchBlock) {
  int32_t before = scratch_length();
  EXPECT_EQ(printed(R"(print [1 2 + "a"])"), "!expect-arg");
  EXPECT_EQ(scratch_length(), before);
  EXPECT_EQ(printed(R"(f: does [print [1 return 2 3]] prin f)"), "2");
  EXPECT_EQ(printed(R"(while [true] [print [1 break]] prin "done")"), "done");
  EXPECT_EQ(scratch_length(), before);
  EXPECT_EQ(root_slot(kRootPrintScratch)->head(), 0);
}

TEST_F(PrintHooks, PrintersRunInOrderAndRemoveTakesTheFirst) {
  g_captured.clear();
  remove_print_hooks(print_string_stdout, nullptr);
  add_print_hooks(capture, nullptr);
  add_print_hooks(capture, nullptr);
  Cell* out;
  EXPECT_EQ(test::evaluate(R"(prin "ab")", &out), kStatusOk);
  EXPECT_EQ(g_captured, "abab");
  remove_print_hooks(capture, nullptr);
  EXPECT_EQ(test::evaluate(R"(prin "c")", &out), kStatusOk);
  EXPECT_EQ(g_captured, "ababc");
  remove_print_hooks(capture, nullptr);
  remove_print_hooks(capture, nullptr);  // absent: no change
  EXPECT_EQ(test::evaluate(R"(prin "d")", &out), kStatusOk);
  EXPECT_EQ(g_captured, "ababc");
  add_print_hooks(print_string_stdout, nullptr);
  g_stack.top -= 6;
}

// The bytes the default printer writes for [source] to a pipe.
std::string piped(std::string_view source) {
  int fds[2];
  EXPECT_EQ(pipe(fds), 0);
  int old_fd = conout_fd();
  conout_init(fds[1]);
  Cell* base = g_stack.top;
  Cell* out;
  EXPECT_EQ(test::evaluate(source, &out), kStatusOk) << source;
  g_stack.top = base;
  conout_init(old_fd);
  close(fds[1]);
  std::string bytes;
  char chunk[4096];
  ssize_t n;
  while ((n = read(fds[0], chunk, sizeof chunk)) > 0) bytes.append(chunk, size_t(n));
  close(fds[0]);
  return bytes;
}

TEST_F(ConsoleOutput, PipeGetsUtf8WithLfAndEscapesUnchanged) {
  EXPECT_EQ(piped(R"k(print "a^(e9)b^(20AC)^(1F600)")k"),
            "a\xC3\xA9"
            "b\xE2\x82\xAC\xF0\x9F\x98\x80\n");
  EXPECT_EQ(piped(R"k(prin "^(1B)[31;1mX")k"), "\x1b[31;1mX");
  // Past one buffer: 3,000 two-byte characters arrive whole.
  std::string big = piped(R"k(print append/dup copy "" #"^(e9)" 3000)k");
  ASSERT_EQ(big.size(), 6001u);
  EXPECT_EQ(big.substr(0, 2), "\xC3\xA9");
  EXPECT_EQ(big.back(), '\n');
}

// The bytes that reach the master side of a pseudo-terminal when the
// default printer writes [source] to its slave side (raw mode: no line-end
// translation). Reads until [want] bytes came, then briefly for any more.
std::string on_terminal(std::string_view source, size_t want) {
  int master = posix_openpt(O_RDWR | O_NOCTTY);
  EXPECT_GE(master, 0);
  if (master < 0) return "";
  EXPECT_EQ(grantpt(master), 0);
  EXPECT_EQ(unlockpt(master), 0);
  int slave = open(ptsname(master), O_RDWR | O_NOCTTY);
  EXPECT_GE(slave, 0);
  termios mode;
  EXPECT_EQ(tcgetattr(slave, &mode), 0);
  cfmakeraw(&mode);
  EXPECT_EQ(tcsetattr(slave, TCSANOW, &mode), 0);
  int old_fd = conout_fd();
  conout_init(slave);
  Cell* base = g_stack.top;
  Cell* out;
  EXPECT_EQ(test::evaluate(source, &out), kStatusOk) << source;
  g_stack.top = base;
  conout_init(old_fd);
  std::string bytes;
  char chunk[4096];
  pollfd ready = {master, POLLIN, 0};
  while (poll(&ready, 1, bytes.size() < want ? 2000 : 50) > 0) {
    ssize_t n = read(master, chunk, sizeof chunk);
    if (n <= 0) break;
    bytes.append(chunk, size_t(n));
  }
  close(slave);
  close(master);
  return bytes;
}

// True when this machine can open a pseudo-terminal (a minimal container may have none).
bool pseudo_terminals_q() {
  int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0) return false;
  bool ok = grantpt(master) == 0 && unlockpt(master) == 0;
  if (ok) {
    int slave = open(ptsname(master), O_RDWR | O_NOCTTY);
    ok = slave >= 0;
    if (ok) close(slave);
  }
  close(master);
  return ok;
}

TEST_F(ConsoleOutput, TerminalGetsStandardSequences) {
  if (!pseudo_terminals_q()) GTEST_SKIP() << "no pseudo-terminal can be opened on this machine";
  // Attributes start as light grey on black; each case starts afresh.
  struct Case {
    const char* text;  // Kiv string contents, ^(1B) for ESC
    std::string out;
  } cases[] = {
      {"a^(e9)^(1B)[31mX", "a\xC3\xA9\x1b[0;31mX"},
      {"^(1B)[44m^(1B)[7m", "\x1b[0;44m\x1b[0;34;47m"},
      {"^(1B)[7m", "\x1b[0;30;47m"},
      // Attributes build on the previous sequence; 1 brightens the text
      // only; 39 and 49 give the default colours back.
      {"^(1B)[31m^(1B)[44mZ^(1B)[0m", "\x1b[0;31m\x1b[0;31;44mZ\x1b[0m"},
      {"^(1B)[1;32m", "\x1b[0;1;32m"},
      {"^(1B)[1;31;44m", "\x1b[0;1;31;44m"},
      {"^(1B)[31;44m^(1B)[39m^(1B)[49m", "\x1b[0;31;44m\x1b[0;44m\x1b[0m"},
      {"^(1B)[4m", "\x1b[0;4m"},
      {"^(1B)[3A^(1B)[12B^(1B)[2C^(1B)[1D^(1B)[0A", "\x1b[3A\x1b[12B\x1b[2C\x1b[1D"},
      // Column first, 0-based; terminals take row first, 1-based.
      {"^(1B)[5;10H^(1B)[H^(1B)[f^(1B)[0;0f", "\x1b[11;6H\x1b[H\x1b[H\x1b[1;1H"},
      {"^(1B)[s^(1B)[u",
       "\x1b"
       "7\x1b"
       "8"},
      {"^(1B)[J^(1B)[1J^(1B)[2J", "\x1b[J\x1b[1J\x1b[2J\x1b[H"},
      {"^(1B)[K^(1B)[1K^(1B)[2K^(1B)[3J^(1B)[3K", "\x1b[K\x1b[1K\r\x1b[2K\r"},
      // Not ESC [: printed; unknown final: consumed and dropped; cut off.
      {"^(1B)x^(1B)[5Zok^(1B)[12", "\x1bxok"},
  };
  for (const Case& c : cases) {
    std::string source = std::string("prin \"") + c.text + "\"";
    EXPECT_EQ(on_terminal(source, c.out.size()), c.out) << c.text;
  }
  EXPECT_EQ(on_terminal(R"(print "a" print "b")", 4), "a\nb\n");
}

}  // namespace
}  // namespace kiv
