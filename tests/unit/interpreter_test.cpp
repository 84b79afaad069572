// The interpreter where a table of Kiv text cannot show it: code that
// changes the block it runs, deep recursion, comparators that run Kiv code
// from inside a sort, trace events, the near of an error, native entries
// called with the check flag and the where-word of a stale throw origin.
#include "evaluator/interpreter.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "datatypes/error.h"
#include "datatypes/integer.h"
#include "datatypes/string.h"
#include "eval_test.h"
#include "evaluator/base_env.h"
#include "evaluator/lexer.h"
#include "evaluator/natives.h"
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
  std::string run(const std::string& source) { return test::eval_mold(source); }
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
  // return ends the comparator, not sorter: its -5 (given the second value
  // first) puts the first value after the second.
  EXPECT_EQ(run("sorter: func [] [sort/compare [2 1] func [x y] [return -5]] sorter"), "[1 2]");
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

TEST_F(InterpreterTest, ErrorRecordsTheCodeNearIt) {
  // The near of an error is the running block from the expression that
  // failed; the report shows it molded flat, cut to 40 characters.
  struct Case {
    const char* source;
    const char* near;
  } cases[] = {
      {"x: 1 y: x + \"a\" z: 3", "y: x + \"a\" z: 3"},
      {"f: func [a] [a * 2 a + \"b\"] f 1", "a + \"b\""},  // the function's body
      {"x: 1 (x: 2 x + none) 5", "x + none"},              // a paren runs as a block
      {"1 2 3 4 5 6 7 8 9 10 11 12 unknown-word 13 14 15 16 17 18", "unknown-word 13 14 15 16 17 18"},
      {"aaaa bbbb", "aaaa bbbb"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.source);
    ASSERT_EQ(run(c.source).substr(0, 1), "!");
    StackSave save;
    Cell* error = stack_push_value(raised_error_value());
    ASSERT_TRUE(error->is(kTypeError));
    EXPECT_EQ(test::mold(error_field(error, kErrorNear), true, false, true), c.near);
    std::string report = error_report(error);
    EXPECT_NE(report.find(std::string("\n*** Near : ") + c.near), std::string::npos) << report;
  }
  // Past 40 characters the report cuts it.
  ASSERT_EQ(run("x: 1 + \"a\" + 1111111111 + 1222222222 + 1333333333"), "!expect-arg");
  StackSave save;
  Cell* error = stack_push_value(raised_error_value());
  std::string report = error_report(error);
  EXPECT_NE(report.find("\n*** Near : x: 1 + \"a\" + 1111111111 + 1222222222 +"), std::string::npos);
  EXPECT_EQ(report.find("1333"), std::string::npos) << report;
}

TEST_F(InterpreterTest, NativeEntryChecksArgumentsWhenAsked) {
  // [args] in a native frame, refinement slots [refs]; the id of the error
  // native [id]'s entry (or its argument check) raises with check = true.
  auto outcome = [](NativeId id, std::initializer_list<Cell> args, std::initializer_list<int32_t> refs,
                    bool entry) {
    std::string text = "ok";
    ErrorId e = test::catch_error([&] {
      open_native_frame({});
      for (const Cell& c : args) stack_push_value(c);
      int32_t r[8] = {-1, -1, -1, -1, -1, -1, -1, -1};
      std::copy(refs.begin(), refs.end(), r);
      if (entry)
        EXPECT_EQ(native_entry(id)(true, r), kStatusOk);
      else
        builtin_check_args(Builtin::kNative, id, r);
    });
    return e == test::kNoError ? text : std::string("!") + error_info(e).word;
  };
  StackSave save;
  Cell* body = stack_push();
  lexer_load_utf8(body, reinterpret_cast<const uint8_t*>("1"), 1);
  const Cell n = integer_cell(255);
  const Cell text = *test::push_text("ff");
  // while: both arguments must be blocks.
  EXPECT_EQ(outcome(kNativeWhile, {n, *body}, {}, true), "!expect-arg");
  EXPECT_EQ(outcome(kNativeWhile, {*body, n}, {}, true), "!expect-arg");
  EXPECT_EQ(outcome(kNativeEither, {n, *body, text}, {}, true), "!expect-arg");
  EXPECT_EQ(outcome(kNativeIf, {n, *body}, {}, true), "ok");
  // to-hex value [integer!] /size length [integer!]: the refinement's
  // argument is tested only when the refinement is there.
  EXPECT_EQ(outcome(kNativeToHex, {n, text}, {-1}, false), "ok");
  EXPECT_EQ(outcome(kNativeToHex, {n, text}, {1}, false), "!expect-arg");
  EXPECT_EQ(outcome(kNativeToHex, {n, integer_cell(4)}, {1}, false), "ok");
  EXPECT_EQ(outcome(kNativeToHex, {text, n}, {-1}, false), "!expect-arg");
  // The error names the native, the datatype and the parameter.
  ASSERT_EQ(outcome(kNativeToHex, {n, text}, {1}, false), "!expect-arg");
  Cell* error = stack_push_value(raised_error_value());
  EXPECT_EQ(error_report(error).substr(0, error_report(error).find('\n')),
            "*** Script Error: to-hex does not allow string! for its length argument");
}

TEST_F(InterpreterTest, TracerSeesEventsInOrder) {
  // The tracer logs each event word, and the value of expr and return
  // events; the mask block opening its body picks the events.
  ASSERT_EQ(run("log: copy [] tracer: func [event code pos value ref stack] "
                "[[enter exit open call return expr prolog epilog] append log event if find [expr return] "
                "event [append/only log :value]] "
                "f: func [x] [x] 0"),
            "0");
  StackSave save;
  auto traced = [&](const char* source) {
    EXPECT_EQ(run("clear log 0"), "0");
    Cell* tracer = stack_push();
    lexer_load_utf8(tracer, reinterpret_cast<const uint8_t*>(":tracer"), 7);
    Cell* fn = stack_push();
    EXPECT_EQ(do_block(tracer, fn), kStatusOk);
    Cell* code = stack_push();
    lexer_load_utf8(code, reinterpret_cast<const uint8_t*>(source), uint32_t(std::strlen(source)));
    Cell* out = stack_push();
    struct Untrace {
      ~Untrace() {
        Cell none = make_cell(kTypeNone);
        trace_set(&none);
      }
    };
    EXPECT_EQ(test::catch_error([&] {
                Untrace untrace;
                trace_set(fn);
                EXPECT_EQ(do_block(code, out), kStatusOk);
              }),
              test::kNoError);
    EXPECT_FALSE(g_interp.tracing);
    return run("log");
  };
  EXPECT_EQ(traced("1 + 2"), "[enter open call return 3 expr 3 exit]");
  // An argument is no expression of its own: expr comes for whole expressions only.
  EXPECT_EQ(traced("f 5"), "[enter open call prolog enter expr 5 exit epilog return 5 expr 5 exit]");
  // The operator inside f's argument is called (and traced) before f's call.
  EXPECT_EQ(
      traced("x: f 1 + 2 x"),
      "[enter open open call return 3 call prolog enter expr 3 exit epilog return 3 expr 3 expr 3 exit]");
  // The tracer itself runs untraced, and tracing stops with none.
  EXPECT_EQ(run("clear log 1 + 2 log"), "[]");
}

TEST(CompareActionDeathTest, SortCodesEndTheProcess) {
  // The sort codes ask for an order only the value comparison gives; through
  // the compare action they are an impossible case (fatal 101), so sort and
  // the natives never pass them there.
  Cell one = integer_cell(1);
  Cell two = integer_cell(2);
  EXPECT_EQ(action_compare_values(&one, &two, kCmpSort), -1);
  EXPECT_EXIT(action_compare(&one, &two, kCmpSort), ::testing::ExitedWithCode(101), "");
  EXPECT_EXIT(action_compare(&one, &two, kCmpCaseSort), ::testing::ExitedWithCode(101), "");
}

}  // namespace
}  // namespace kiv
