// error!: the catalogue built from the one error list, errors made by id, by
// code, by block and from text, the report text of every category, the where,
// near, stack and files lines, mold, and the raise path's error! values.
#include "datatypes/error.h"

#include <gtest/gtest.h>

#include <string>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/object.h"
#include "datatypes/symbol.h"
#include "datatypes/typeset.h"
#include "eval_test.h"
#include "evaluator/base_env.h"
#include "kiv_test.h"

namespace kiv {
namespace {

using test::block_of;
using test::catch_error;
using test::mold_of;
using test::outcome;
using test::push_text;
using test::word;

class ErrorTest : public ::testing::Test {
 protected:
  void TearDown() override { test::eval_mold("unset 'system"); }
};

// Makes `system` an object whose `state` holds [fields]: the settings the
// report and the capture read.
void set_system_state(const std::string& fields) {
  base_environment_init();
  EXPECT_EQ(test::eval_mold("system: make object! [state: make object! [" + fields + "]] 1"), "1");
}

// The report of the error raised by [body].
std::string report_of(const std::function<void()>& body) {
  EXPECT_NE(catch_error(body), test::kNoError);
  Cell error = raised_error_value();
  EXPECT_TRUE(error.is(kTypeError));
  return error_report(&error);
}

std::string report(const Cell& error) { return error_report(&error); }

// Every id the raise path picks by position is the catalogue's field at that
// position, under its own spelling, in the category of its code.
TEST_F(ErrorTest, CatalogueMatchesTheIdList) {
  Cell catalog = error_catalog();
  ASSERT_TRUE(catalog.is(kTypeObject));
  Node errors = object_context(&catalog);
  ASSERT_EQ(context_word_count(errors), uint32_t(kErrCategoryCount));
  for (int c = 0; c < kErrCategoryCount; c++) {
    Cell name = context_node_word_at(errors, c);
    EXPECT_EQ(symbol_name(word_symbol(&name)), category_info(ErrorCategory(c)).word);
    Node category = object_context(word_get_in(errors, c));
    EXPECT_EQ(test::integer_of(*word_get_in(category, 0)), category_info(ErrorCategory(c)).code);
  }
  for (int id = 0; id < kErrorIdCount; id++) {
    const ErrorInfo& info = error_info(ErrorId(id));
    Node category = object_context(word_get_in(errors, info.category));
    Cell field = context_node_word_at(category, info.field);
    EXPECT_EQ(symbol_name(word_symbol(&field)), info.word);
    Cell& error = *stack_push_value(error_create(ErrorId(id)));
    EXPECT_EQ(test::integer_of(error_field(&error, kErrorCode)), error_code(ErrorId(id)));
  }
}

TEST_F(ErrorTest, ReportOfEachKindOfMessage) {
  Cell foo = word("foo");
  Cell one = integer_cell(1);
  Cell text = *push_text("file.kiv");
  struct Case {
    ErrorId id;
    const Cell *a1, *a2;
    const char* message;
  } cases[] = {
      {kErrThrowBreak, nullptr, nullptr, "*** Throw Error: no loop to break"},
      {kErrNoteNoLoad, &text, nullptr, "*** note: cannot load:  \"file.kiv\""},
      {kErrSyntaxInvalid, &text, &one, "*** Syntax Error: file.kiv invalid 1 at none"},
      {kErrScriptNoValue, &foo, nullptr, "*** Script Error: foo has no value"},
      {kErrScriptExpectArg, &foo, &one, "*** Script Error: foo does not allow 1 for its none argument"},
      {kErrMathZeroDivide, nullptr, nullptr, "*** Math Error: attempt to divide by zero"},
      {kErrAccessCannotOpen, &text, nullptr, "*** Access Error: cannot open: \"file.kiv\""},
      {kErrUserMessage, &text, nullptr, "*** User Error: file.kiv"},
      {kErrInternalBadPath, &foo, nullptr, "*** Internal Error: bad path: foo"},
      {kErrInternalDeprecated, &foo, &one, "*** Internal Error: foo is DEPRECATED, please use 1 instead"},
  };
  for (const Case& c : cases) {
    std::string text = report(*stack_push_value(error_create(c.id, c.a1, c.a2)));
    EXPECT_EQ(text, std::string(c.message) + "\n*** Where: ???\n*** Near : none") << error_info(c.id).word;
  }
  // An argument longer than 80 characters is cut.
  Cell long_text = *push_text(std::string(100, 'x'));
  std::string cut = report(*stack_push_value(error_create(kErrScriptInvalidArg, &long_text)));
  EXPECT_NE(cut.find("invalid argument: {" + std::string(79, 'x') + "\n"), std::string::npos) << cut;
}

TEST_F(ErrorTest, MakeByCodeBlockAndText) {
  struct Case {
    Cell spec;
    const char* result;  // the first line of the report, or "!error-id"
  } cases[] = {
      {integer_cell(300), "*** Script Error: none has no value"},
      {integer_cell(302), "*** Script Error: none word is not bound to a context"},
      {integer_cell(400), "*** Math Error: attempt to divide by zero"},
      {integer_cell(399), "!out-of-range"},
      {integer_cell(-1), "!out-of-range"},
      {integer_cell(1000), "!out-of-range"},
      {integer_cell(403), "!out-of-range"},
      {integer_cell(600), "!out-of-range"},
      {*block_of({word("math"), word("overflow")}), "*** Math Error: math or number overflow"},
      {*block_of({word("math"), word("overflow"), integer_cell(7)}),
       "*** Math Error: math or number overflow"},
      {*block_of({word("math")}), "!invalid-spec-field"},
      {*block_of({word("math"), word("nonsense")}), "!invalid-spec-field"},
      {*block_of({word("nonsense"), word("overflow")}), "!invalid-spec-field"},
      {*block_of({word("math"), integer_cell(5)}), "!invalid-arg"},
      {*block_of({integer_cell(1), integer_cell(2)}), "!invalid-error"},
      {*push_text("boom"), "*** User Error: boom"},
      {kTrueCell, "!bad-make-arg"},
  };
  for (const Case& c : cases) {
    std::string got = outcome([&] { return *test::make(kTypeError, c.spec); });
    if (got[0] != '!') {
      Cell made = *test::make(kTypeError, c.spec);
      got = report(made);
      got = got.substr(0, got.find('\n'));
    }
    EXPECT_EQ(got, c.result) << mold_of(c.spec);
  }
  Cell made = *test::make(kTypeError, integer_cell(401));
  EXPECT_EQ(test::integer_of(error_field(&made, kErrorCode)), 401);
  EXPECT_EQ(symbol_name(error_type_symbol(&made)), "math");
}

// A stand-in for the evaluator: set-word value pairs, a lit-word evaluating
// to its word.
void pairs_eval(Cell* block) {
  StackSave save;
  int32_t n = block_total_length(block);
  for (int32_t i = series_clamp_head(block, n); i + 1 < n; i += 2) {
    Cell* target = stack_push_cell(block_ks_abs_at(block, i));
    Cell* value = stack_push_cell(block_ks_abs_at(block, i + 1));
    if (value->is(kTypeLitWord)) value->set_type(kTypeWord);
    set_word_value(target, value);
  }
}

TEST_F(ErrorTest, MakeFromASpecEvaluatedInTheError) {
  ObjectEvalBlockFn saved = g_hooks.object_eval_block;
  g_hooks.object_eval_block = pairs_eval;
  Cell* made = test::make(
      kTypeError, *block_of({word("type", kTypeSetWord), word("math", kTypeLitWord), word("id", kTypeSetWord),
                             word("overflow", kTypeLitWord), word("arg1", kTypeSetWord), integer_cell(5)}));
  EXPECT_EQ(test::integer_of(error_field(made, kErrorCode)), 401);
  EXPECT_EQ(report(*made).substr(0, 39), "*** Math Error: math or number overflow");
  EXPECT_EQ(test::integer_of(error_field(made, kErrorArg1)), 5);
  EXPECT_EQ(
      outcome([] {
        return *test::make(kTypeError, *block_of({word("id", kTypeSetWord), word("overflow", kTypeLitWord)}));
      }),
      "!invalid-spec-field");
  g_hooks.object_eval_block = saved;
  // Path access and compare go through object!.
  EXPECT_EQ(mold_of(*test::call(kActionEvalPath, {*made, word("id")})), "overflow");
  EXPECT_TRUE(test::compare(*made, *made, kCmpEqual));
  EXPECT_FALSE(test::compare(*made, integer_cell(1), kCmpEqual));
}

TEST_F(ErrorTest, FieldsThatAreNotInTheCatalogue) {
  Cell& error = *stack_push_value(error_create(kErrScriptNoValue));
  Cell bogus = word("bogus");
  error_set_field(&error, kErrorId, &bogus);
  EXPECT_EQ(report(error).substr(0, report(error).find('\n')),
            "*** Internal Error: invalid error object field value: bogus");
  Cell& error2 = *stack_push_value(error_create(kErrScriptNoValue));
  error_set_field(&error2, kErrorType, &bogus);
  EXPECT_EQ(report(error2).substr(0, report(error2).find('\n')),
            "*** Internal Error: invalid error object field value: bogus");
}

TEST_F(ErrorTest, WhereNearStackAndFiles) {
  Cell& error = *stack_push_value(error_create(kErrMathOverflow));
  Cell fn = word("my-function");
  error_set_where(&error, &fn);
  Cell other = word("other");
  error_set_where(&error, &other);  // only when still none
  Cell near = *push_text(std::string(60, 'n'));
  error_set_field(&error, kErrorNear, &near);
  Cell files = *block_of({word("a"), word("b")});
  error_set_field(&error, kErrorFiles, &files);
  EXPECT_EQ(report(error), "*** Math Error: math or number overflow\n*** Where: my-function\n*** Near : {" +
                               std::string(39, 'n') + "\n*** Files: a b");
  Cell label = *push_text("label");
  error_set_field(&error, kErrorWhere, &label);
  EXPECT_NE(report(error).find("*** Where: label\n"), std::string::npos);
  Cell one = integer_cell(1);
  error_set_field(&error, kErrorWhere, &one);
  EXPECT_NE(report(error).find("*** Where: ???\n"), std::string::npos);

  // The Stack line lists the named function frames up to the raise.
  StackSave save;
  open_function_frame(frame_name_of(&fn), 0);
  open_native_frame({});
  Cell inner = word("inner");
  open_function_frame(frame_name_of(&inner), 0);
  std::string text = report_of([] { raise_error(kErrMathPositive); });
  EXPECT_EQ(text.find("*** Stack"), std::string::npos);
  EXPECT_NE(text.find("*** Where: inner\n"), std::string::npos) << text;
  // system/state/stack-trace as it starts: no Stack line, no files captured.
  set_system_state("stack-trace: 0 source-files: []");
  text = report_of([] { raise_error(kErrMathPositive); });
  EXPECT_EQ(text.find("*** Stack"), std::string::npos);
  Cell raised = raised_error_value();
  error_capture_stack(&raised);
  EXPECT_EQ(mold_of(error_field(&raised, kErrorStack)), "[my-function inner]");
  EXPECT_EQ(mold_of(error_field(&raised, kErrorFiles)), "none");
  // A positive level adds the Stack line; the running scripts are captured
  // as a copy, kept when the block changes.
  set_system_state("stack-trace: 1 source-files: [%a.kiv %b.kiv]");
  text = report_of([] { raise_error(kErrMathPositive); });
  EXPECT_NE(text.find("\n*** Stack: my-function inner "), std::string::npos) << text;
  raised = raised_error_value();
  error_capture_stack(&raised);
  EXPECT_EQ(mold_of(error_field(&raised, kErrorStack)), "[my-function inner]");
  test::eval_mold("clear system/state/source-files");
  EXPECT_EQ(mold_of(error_field(&raised, kErrorFiles)), "[%a.kiv %b.kiv]");
  EXPECT_NE(report(raised).find("\n*** Files: %a.kiv %b.kiv"), std::string::npos) << report(raised);
}

TEST_F(ErrorTest, MoldListsTheFields) {
  Cell one = integer_cell(1);
  Cell& error = *stack_push_value(error_create(kErrScriptInvalidArg, &one));
  std::string text = mold_of(error);
  EXPECT_EQ(text.substr(0, 36), "make error! [\n    code: 309\n    type") << text;
  EXPECT_NE(text.find("\n    arg1: 1\n    arg2: none\n"), std::string::npos) << text;
  EXPECT_EQ(text.substr(text.size() - 2), "\n]");
}

// An error raised where no error! can be made on the spot (a full data stack)
// is made at the catch point instead.
TEST_F(ErrorTest, StackOverflowIsMadeAtTheCatchPoint) {
  ErrorId id = catch_error([] {
    for (;;) stack_push();
  });
  EXPECT_EQ(id, kErrInternalStackOverflow);
  Cell error = raised_error_value();
  ASSERT_TRUE(error.is(kTypeError));
  EXPECT_EQ(report(error).substr(0, 34), "*** Internal Error: stack overflow");
}

TEST_F(ErrorTest, ArgumentChecks) {
  Cell fn = word("add"), arg = word("value");
  Cell numbers = typeset_cell(kTypesetNumber);
  Cell one = integer_cell(1), text = *push_text("x");
  EXPECT_EQ(check_arg_type(&fn, &arg, &numbers, &one), &one);
  std::string text_report = report_of([&] { check_arg_type(&fn, &arg, &numbers, &text); });
  EXPECT_EQ(text_report.substr(0, text_report.find('\n')),
            "*** Script Error: add does not allow string! for its value argument");
  EXPECT_EQ(check_arg_not_unset(&fn, &arg, &one), &one);
  EXPECT_EQ(catch_error([&] { check_arg_not_unset(&fn, &arg, &kUnsetCell); }), kErrScriptExpectArg);
}

TEST_F(ErrorTest, PrintErrorWritesTheReport) {
  testing::internal::CaptureStdout();
  Cell one = integer_cell(1);
  print_error(kErrScriptInvalidArg, &one);
  EXPECT_EQ(testing::internal::GetCapturedStdout(),
            "*** Script Error: invalid argument: 1\n*** Where: ???\n*** Near : none\n");
}

}  // namespace
}  // namespace kiv
