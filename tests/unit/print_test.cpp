// print and prin: the formed text that reaches the string printers, the
// scratch block left as it was, and the default printer's bytes on a pipe.
#include <fcntl.h>
#include <gtest/gtest.h>
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
    test::evaluate(source, &out);
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
  test::evaluate(R"(prin "ab")", &out);
  EXPECT_EQ(g_captured, "abab");
  remove_print_hooks(capture, nullptr);
  test::evaluate(R"(prin "c")", &out);
  EXPECT_EQ(g_captured, "ababc");
  remove_print_hooks(capture, nullptr);
  remove_print_hooks(capture, nullptr);  // absent: no change
  test::evaluate(R"(prin "d")", &out);
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
  test::evaluate(source, &out);
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

}  // namespace
}  // namespace kiv
