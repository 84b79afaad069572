// The interpreter where a table of Kiv text cannot show it: code that
// changes the block it runs, deep recursion, comparators that run Kiv code
// from inside a sort, trace events and the where-word of a stale throw origin.
#include "evaluator/interpreter.h"

#include <gtest/gtest.h>

#include <string>

#include "datatypes/error.h"
#include "evaluator/base_env.h"
#include "evaluator/lexer.h"
#include "kiv_test.h"
#include "runtime/errors.h"

namespace kiv {
namespace {

class InterpreterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    base_environment_init();  // again: other suites may have changed words or hooks
  }

  // The mold of what [source] evaluates to, "" for unset!, or "!id" of the error raised.
  std::string run(const std::string& source) {
    StackSave save;
    std::string text;
    ErrorId e = test::catch_error([&] {
      Cell* code = stack_push();
      lexer_load_utf8(code, reinterpret_cast<const uint8_t*>(source.data()), uint32_t(source.size()));
      Cell* out = stack_push();
      Status s = do_block(code, out);
      text = s ? "status" : out->is(kTypeUnset) ? "" : test::mold(*out, false);
    });
    return e == test::kNoError ? text : std::string("!") + error_info(e).word;
  }
};

TEST_F(InterpreterTest, BlockChangedWhileItRuns) {
  // [setup] makes `code`; the block itself (not a copy) then runs, changing
  // itself under the interpreter; [check] reads what it did.
  struct Case {
    const char* setup;
    const char* check;
    const char* expected;
  } cases[] = {
      {"code: [n: 1 clear code n: 2]", "n", "1"},         // cut: nothing past the new tail runs
      {"code: [n: 0 append code [n: 42] 1]", "n", "42"},  // grown (and moved): the new tail is read
      {"code: [insert code [n: 7] n: 1]", "n", "1"},      // inserted before the position
      {"code: [n: 0 append/dup code [n: n + 1] 300 0]", "n", "300"},  // many moves
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.setup);
    ASSERT_EQ(run(std::string(c.setup) + " 0"), "0");
    StackSave save;
    ASSERT_EQ(test::catch_error([&] {
                Cell* word = stack_push();
                lexer_load_utf8(word, reinterpret_cast<const uint8_t*>("code"), 4);
                Cell* block = stack_push();
                ASSERT_EQ(do_block(word, block), kStatusOk);
                Cell* out = stack_push();
                ASSERT_EQ(do_block(block, out), kStatusOk);
              }),
              test::kNoError);
    EXPECT_EQ(run(c.check), c.expected);
  }
}

TEST_F(InterpreterTest, EndlessRecursionRaisesStackOverflow) {
  EXPECT_EQ(run("f: func [] [f] f"), "!stack-overflow");
  EXPECT_EQ(run("g: func [n] [1 + g n] g 1"), "!stack-overflow");
  // The stacks are usable afterwards.
  EXPECT_EQ(run("h: func [n] [either n = 0 [0] [1 + h n - 1]] h 500"), "500");
}

TEST_F(InterpreterTest, SortComparatorRunsKivCode) {
  // The comparator allocates and changes the series it sorts; the sort ends
  // with no stale read, and a break in it leaves the loop around the sort.
  EXPECT_EQ(run("b: [3 1 2] sort/compare b func [x y] [x > y] b"), "[3 2 1]");
  EXPECT_EQ(run("junk: [] b: [5 3 9 1 7 2] "
                "sort/compare b func [x y] [append/dup junk x 50 append b 0 x < y] 0 < length? junk"),
            "true");
  EXPECT_EQ(run("n: 0 while [true] [n: n + 1 sort/compare [2 1] func [x y] [break] n: 100] n"), "1");
  EXPECT_EQ(run("sorter: func [] [sort/compare [2 1] func [x y] [return 5]] sorter"), "[1 2]");
}

TEST_F(InterpreterTest, MakeObjectRunsItsSpec) {
  EXPECT_EQ(run("o: make object! [a: 1 b: a + 1] o/b"), "2");
  EXPECT_EQ(run("o/a: 5 o/a"), "5");
  EXPECT_EQ(run("o/c"), "!unset-path");
}

TEST_F(InterpreterTest, WhereWordIgnoresAPoppedThrowOrigin) {
  // A throw origin left above the call-stack top names no live frame.
  StackSave save;
  open_native_frame({});
  CallFrame* stale = g_stack.frames_top;
  g_stack.throw_origin = stale + 3;
  EXPECT_EQ(stack_where_symbol(), 0u);
  EXPECT_EQ(g_stack.throw_origin, nullptr);
}

}  // namespace
}  // namespace kiv
