// function! and routine!: spec checks, making, reflection, form and mold,
// compare by identity, the locals helpers and the argument names.
#include "datatypes/function.h"

#include <gtest/gtest.h>

#include "block_reader.h"
#include "datatypes/builtin_spec.h"
#include "datatypes/context.h"
#include "datatypes/native.h"
#include "datatypes/typeset.h"
#include "kiv_test.h"

namespace kiv {
namespace {

using test::catch_error;
using test::compare;
using test::form_of;
using test::mold;
using test::mold_of;
using test::read_block;

class FunctionTest : public ::testing::Test {
 protected:
  // Type words with values, as the base environment has them.
  void SetUp() override {
    set("integer!", datatype_cell(kTypeInteger));
    set("float!", datatype_cell(kTypeFloat));
    set("block!", datatype_cell(kTypeBlock));
    set("number!", typeset_cell({kTypeInteger, kTypeFloat, kTypePercent}));
    set("word-valued!", test::word("integer!"));
    set("five", integer_cell(5));
  }
  static void set(const char* name, Cell value) {
    Cell* word = stack_push_value(test::word(name));
    Cell* v = stack_push_value(value);
    set_word_value(word, v);
  }
};

Cell* make_function(const char* spec, const char* body) {
  return test::make(kTypeFunction, *test::block_of({*read_block(spec), *read_block(body)}));
}

Cell* reflect(const Cell& value, const char* field) {
  return test::call(kActionReflect, {value, test::word(field)});
}

// The outcome of checking [spec]: "" when it passes, else "!" and the error id.
std::string check(const char* spec) {
  Cell* block = read_block(spec);
  ErrorId e = catch_error([&] { function_check_spec(block); });
  return e == test::kNoError ? "" : std::string("!") + error_info(e).word;
}

TEST_F(FunctionTest, ValidSpecs) {
  const char* specs[] = {
      "",
      "a b",
      "\"doc\" a",
      "[catch] a",
      "a [integer!] \"doc\" b [number! block!] \"doc\" \"more\"",
      "a [word-valued!]",
      "'a :b",
      "a /ref b c \"doc\" /other /local x y",
      "a /local x [integer!] y",
      "a return: [integer!]",
      "a return: [integer!] \"doc\"",
      "a return: [integer!] /local x",
      "/ref \"doc\" b",
      "/ref return: [integer!]",
  };
  for (const char* spec : specs) EXPECT_EQ(check(spec), "") << spec;
}

TEST_F(FunctionTest, InvalidSpecs) {
  struct Case {
    const char* spec;
    const char* outcome;
  } cases[] = {
      {"[trace 1] a", "!bad-func-def"},  // attribute blocks hold words only
      {"[\"x\"]", "!bad-func-def"},
      {"a /local 'x", "!bad-func-def"},  // locals are plain words
      {"a /local :x", "!bad-func-def"},
      {"a \"doc\" [integer!]", "!bad-func-def"},  // the type block comes first
      {"a [integer!] [float!]", "!bad-func-def"},
      {"return: [integer!] a", "!bad-func-def"},  // no argument after return:
      {"a ret: [integer!]", "!bad-func-def"},
      {"return: [integer!] return: [float!]", "!bad-func-def"},
      {"/local x return: [integer!]", "!bad-func-def"},
      {"a return:", "!bad-func-def"},
      {"a return: integer!", "!bad-func-def"},
      {"a return: [integer!] [x]", "!bad-func-def"},
      {"a return: [integer!] /ref", "!bad-func-def"},
      {"a /local x /ref", "!bad-func-def"},
      {"a /local /ref", "!bad-func-def"},
      {"/ref [integer!]", "!bad-func-def"},
      {"/ref 5", "!bad-func-def"},
      {"a 5", "!bad-func-def"},
      {"a (b)", "!bad-func-def"},
      {"a [integer! 5]", "!invalid-type-spec"},
      {"a [five]", "!invalid-type-spec"},
      {"a [\"integer!\"]", "!invalid-type-spec"},
      {"a ['integer!]", "!invalid-type-spec"},
      {"a [no-such-type!]", "!no-value"},
      {"a b a", "!dup-vars"},
      {"a /A", "!dup-vars"},  // letter case aside
      {"a /ref b /local B", "!dup-vars"},
      {"'a :a", "!dup-vars"},
  };
  for (const Case& c : cases) EXPECT_EQ(check(c.spec), c.outcome) << c.spec;
}

TEST_F(FunctionTest, SpecErrorsNameWhatTheyFound) {
  // bad-func-def: the spec block itself.
  Cell* spec = read_block("a 5");
  EXPECT_EQ(catch_error([&] { function_check_spec(spec); }), kErrScriptBadFuncDef);
  EXPECT_EQ(last_raised_error().args[0].node(), spec->node());
  struct Case {
    const char* spec;
    const char* argument;
  } cases[] = {
      {"a [integer! 5]", "5"},
      {"a [five]", "five"},
      {"a [no-such-type!]", "no-such-type!"},
      // The first word that a later one repeats, named by that later one.
      {"a b c b a", "a"},
      {"a /b c /B", "/B"},
  };
  for (const Case& c : cases) {
    Cell* s = read_block(c.spec);
    EXPECT_NE(catch_error([&] { function_check_spec(s); }), test::kNoError);
    EXPECT_EQ(mold_of(last_raised_error().args[0]), c.argument) << c.spec;
  }
}

TEST_F(FunctionTest, AttributeFlags) {
  EXPECT_EQ(function_check_spec(read_block("[trace] a")), kFlagFunctionTrace);
  EXPECT_EQ(function_check_spec(read_block("[no-trace catch]")), kFlagFunctionNoTrace);
  EXPECT_EQ(function_check_spec(read_block("[TRACE no-trace]")), kFlagFunctionTrace | kFlagFunctionNoTrace);
  EXPECT_EQ(function_check_spec(read_block("a [integer!]")), 0u);
  Cell* traced = make_function("[trace] a", "a");
  EXPECT_TRUE(traced->header & kFlagFunctionTrace);
}

TEST_F(FunctionTest, TypeBlocksBecomeTypesets) {
  Cell set = function_type_block_typeset(read_block("integer! number! word-valued!"));
  for (TypeId t : {kTypeInteger, kTypeFloat, kTypePercent})
    EXPECT_TRUE(typeset_has_q(&set, t)) << type_name(t);
  EXPECT_FALSE(typeset_has_q(&set, kTypeBlock));
  // Datatypes and typesets stand for themselves.
  Cell* direct = test::block_of({datatype_cell(kTypeBlock), typeset_cell({kTypeString})});
  Cell got = function_type_block_typeset(direct);
  EXPECT_TRUE(typeset_has_q(&got, kTypeBlock));
  EXPECT_TRUE(typeset_has_q(&got, kTypeString));
  EXPECT_FALSE(typeset_has_q(&got, kTypeInteger));
}

TEST_F(FunctionTest, MakeRefusesOtherMakeSpecs) {
  Cell* spec = read_block("a");
  const Cell specs[] = {
      integer_cell(1),
      *read_block("[a]"),
      *test::block_of({*spec, integer_cell(1)}),
      *test::block_of({integer_cell(1), *spec}),
      *test::block_of({*spec, *spec}, kTypeParen),
  };
  for (const Cell& s : specs) {
    Cell* make_spec = stack_push_value(s);
    EXPECT_EQ(catch_error([&] { test::make(kTypeFunction, *make_spec); }), kErrScriptBadFuncDef)
        << mold_of(s);
    EXPECT_EQ(last_raised_error().args[0].node(), make_spec->node());
  }
  // The spec is checked.
  EXPECT_EQ(catch_error([&] { make_function("a a", ""); }), kErrScriptDupVars);
  // Values after the body are not read.
  Cell* extra = test::block_of({*spec, *read_block("a"), integer_cell(1)});
  EXPECT_TRUE(test::make(kTypeFunction, *extra)->is(kTypeFunction));
}

TEST_F(FunctionTest, MakeCopiesAndBindsTheBody) {
  Cell* spec = read_block("a b /local c");
  Cell* body = read_block("c: add a [b (a)] x");
  Cell* fn = test::make(kTypeFunction, *test::block_of({*spec, *body}));
  ASSERT_TRUE(fn->is(kTypeFunction));
  Node ctx = function_context(fn);
  // The spec at its head is held as it is; the body is a deep copy.
  EXPECT_EQ(reflect(*fn, "spec")->node(), spec->node());
  Cell* held = reflect(*fn, "body");
  EXPECT_EQ(mold_of(*held), "[c: add a [b (a)] x]");
  EXPECT_NE(held->node(), body->node());
  Cell inner = series_cells(held->node())[3];
  Cell original_inner = series_cells(body->node())[3];
  EXPECT_NE(inner.node(), original_inner.node());
  Cell paren = series_cells(inner.node())[1];
  EXPECT_NE(paren.node(), series_cells(original_inner.node())[1].node());
  // The copy's argument and local words are bound to the context, deeply; others are not.
  EXPECT_EQ(word_context(&series_cells(held->node())[0]), ctx);
  EXPECT_EQ(word_context(&series_cells(held->node())[2]), ctx);
  EXPECT_EQ(word_context(&series_cells(inner.node())[0]), ctx);
  EXPECT_EQ(word_context(&series_cells(paren.node())[0]), ctx);
  EXPECT_NE(word_context(&series_cells(held->node())[1]), ctx);
  EXPECT_NE(word_context(&series_cells(held->node())[4]), ctx);
  // The caller's body is left unbound to it.
  EXPECT_NE(word_context(&series_cells(body->node())[0]), ctx);
  // The context holds the spec's words and the function in its self cell.
  EXPECT_EQ(mold_of(*reflect(*fn, "words")), "[a b local c]");
  Cell* words = reflect(*fn, "words");
  for (int32_t i = 0; i < 4; i++) EXPECT_EQ(word_context(&series_cells(words->node())[i]), ctx);
  EXPECT_NE(words->node(), context_words(ctx));
  EXPECT_TRUE(compare(*context_self_cell(ctx), *fn, kCmpSame));
  EXPECT_TRUE(context_stack_q(ctx));
  EXPECT_EQ(context_kind(ctx), kContextFunction);
}

TEST_F(FunctionTest, ASpecNotAtItsHeadIsCopiedFromThere) {
  Cell* spec = read_block("junk a b");
  Cell* fn = test::make(kTypeFunction, *test::block_of({test::at_head(spec, 1), *read_block("a")}));
  Cell* held = reflect(*fn, "spec");
  EXPECT_EQ(held->head(), 0);
  EXPECT_EQ(mold_of(*held), "[a b]");
  Cell c = test::word("c");
  block_append_value(spec, &c);
  EXPECT_EQ(mold_of(*reflect(*fn, "spec")), "[a b]");
  // A position past the tail reads as the tail.
  Cell* past = test::make(kTypeFunction, *test::block_of({test::at_head(spec, 9), *read_block("")}));
  EXPECT_EQ(mold_of(*past), "func [][]");
}

TEST_F(FunctionTest, MakeFunctionValue) {
  Cell* spec = read_block("a");
  Cell* body = read_block("a");
  // Code id and extra go into the more block, unset! when 0.
  make_function_value(spec, body, 0, 42, 7, 0);
  Cell* with = stack_last_value();
  EXPECT_EQ(test::integer_of(function_more_cell(with, kFunctionMoreCode)), 42);
  EXPECT_EQ(test::integer_of(function_more_cell(with, kFunctionMoreExtra)), 7);
  make_function_value(spec, body, 0, 0, 0, 0);
  Cell* without = stack_last_value();
  EXPECT_TRUE(function_more_cell(without, kFunctionMoreCode).is(kTypeUnset));
  EXPECT_TRUE(function_more_cell(without, kFunctionMoreExtra).is(kTypeUnset));
  // Without a body.
  make_function_value(spec, nullptr, 0, 0, 0, 0);
  Cell* bodiless = stack_last_value();
  EXPECT_EQ(mold_of(*bodiless), "func [a] none");
  EXPECT_TRUE(reflect(*bodiless, "body")->is(kTypeNone));
  // A given context is used as it is and the body is not bound to it.
  Node given = context_from_spec(spec, true, false, kContextFunction);
  stack_push_value(context_view(given));
  EXPECT_EQ(make_function_value(spec, body, given, 0, 0, 0), given);
  Cell* fn = stack_last_value();
  EXPECT_EQ(function_context(fn), given);
  EXPECT_NE(word_context(&series_cells(function_body(fn).node())[0]), given);
  EXPECT_TRUE(compare(*context_self_cell(given), *fn, kCmpSame));
}

TEST_F(FunctionTest, FormAndMold) {
  Cell* fn = make_function("a [integer!] \"doc\" /b", "print [a]");
  EXPECT_EQ(form_of(*fn), "?function?");
  EXPECT_EQ(mold_of(*fn), "func [a [integer!] \"doc\" /b][print [a]]");
  EXPECT_EQ(mold(*fn, true), "func [a [integer!] \"doc\" /b][print [a]]");  // never /only
  EXPECT_EQ(mold(*fn, false, false, false, 12), "func [a [int");
  EXPECT_EQ(mold_of(*make_function("", "")), "func [][]");
  Cell* in_block = test::block_of({*fn, *fn});
  EXPECT_EQ(form_of(*in_block), "?function? ?function?");
}

TEST_F(FunctionTest, CompareByIdentity) {
  Cell* a = make_function("x", "x");
  Cell* b = make_function("x", "x");
  Cell* copy = stack_push_value(*a);
  EXPECT_FALSE(compare(*a, *b, kCmpEqual));
  EXPECT_TRUE(compare(*a, *b, kCmpNotEqual));
  EXPECT_TRUE(compare(*a, *copy, kCmpEqual));
  EXPECT_TRUE(compare(*a, *copy, kCmpStrictEqual));
  EXPECT_TRUE(compare(*a, *copy, kCmpSame));
  EXPECT_EQ(action_compare_values(a, copy, kCmpFindEqual), 0);
  EXPECT_EQ(action_compare_values(a, b, kCmpSort), -action_compare_values(b, a, kCmpSort));
  EXPECT_NE(action_compare_values(a, b, kCmpSort), 0);
  EXPECT_EQ(hash_value(a), hash_value(copy));
  EXPECT_EQ(catch_error([&] { compare(*a, *copy, kCmpLesser); }), kErrScriptInvalidCompare);
  Cell* routine = make_routine_value(read_block("x"), nullptr, 1, -1, false);
  EXPECT_EQ(action_compare_values(a, routine, kCmpEqual), kNotComparable);
  EXPECT_FALSE(compare(*routine, *a, kCmpEqual));
}

TEST_F(FunctionTest, Reflect) {
  Cell* fn = make_function("a", "a");
  for (const char* field : {"class", "types"})
    EXPECT_EQ(catch_error([&] { reflect(*fn, field); }), kErrInternalNotDone) << field;
  EXPECT_EQ(catch_error([&] { test::call(kActionReflect, {*fn, integer_cell(1)}); }), kErrInternalNotDone);
}

TEST_F(FunctionTest, Routines) {
  Cell* spec = read_block("a [integer!] b /c d 'e");
  Cell* body = read_block("add a b");
  Cell* routine = make_routine_value(spec, body, 12, -1, true);
  ASSERT_TRUE(routine->is(kTypeRoutine));
  EXPECT_EQ(routine_arg_count(routine), 3);  // the word! cells: a, b and d
  EXPECT_TRUE(routine->header & kFlagRoutineMarked);
  EXPECT_EQ(test::integer_of(function_more_cell(routine, kFunctionMoreCode)), 12);
  EXPECT_EQ(test::integer_of(function_more_cell(routine, kFunctionMoreExtra)), -1);
  EXPECT_EQ(form_of(*routine), "?routine?");
  EXPECT_EQ(mold_of(*routine), "routine [a [integer!] b /c d 'e][add a b]");
  EXPECT_EQ(mold(*routine, true), "routine a [integer!] b /c d 'e[add a b]");
  // reflect comes from function!; the body is the one given.
  EXPECT_EQ(reflect(*routine, "spec")->node(), spec->node());
  EXPECT_EQ(reflect(*routine, "body")->node(), body->node());
  EXPECT_EQ(mold_of(*reflect(*routine, "words")), "[a b c d e]");
  // Bodies that are not blocks are molded after a space.
  Cell* text = make_routine_value(read_block("x"), test::push_text("source"), 1, 0, false);
  EXPECT_FALSE(text->header & kFlagRoutineMarked);
  EXPECT_EQ(mold_of(*text), "routine [x] \"source\"");
  EXPECT_EQ(mold_of(*make_routine_value(read_block("x"), nullptr, 1, 0, false)), "routine [x] none");
  // Compared by identity; not made by make.
  Cell* copy = stack_push_value(*routine);
  EXPECT_TRUE(compare(*routine, *copy, kCmpEqual));
  EXPECT_FALSE(compare(*routine, *text, kCmpEqual));
  EXPECT_EQ(catch_error([&] {
              test::make(kTypeRoutine, *test::block_of({*spec, *body}));
            }),
            kErrScriptExpectArg);
}

TEST_F(FunctionTest, RoutineArgumentCountMustFitItsHeader) {
  std::string words;
  for (int i = 0; i < 31; i++) words += "w" + std::to_string(i) + " ";
  Cell* fits = make_routine_value(read_block(words), nullptr, 1, 0, false);
  EXPECT_EQ(routine_arg_count(fits), 31);
  words += "w31";
  Cell* too_many = read_block(words);
  EXPECT_EQ(catch_error([&] { make_routine_value(too_many, nullptr, 1, 0, false); }), kErrScriptBadFuncDef);
}

TEST_F(FunctionTest, CountLocals) {
  struct Case {
    const char* spec;
    int32_t start;
    int32_t loose, strict;
  } cases[] = {
      {"a /local b c", 0, 3, 3},
      {"a /local b /r c", 0, 3, 3},  // refinements after /local do not count
      {"a /local b \"doc\" [integer!] c", 0, 3, 3},
      {"a /LOCAL", 0, 1, 1},
      {"/local /local x", 0, 2, 2},  // only the first /local counts
      {"a b", 0, 0, -1},
      {"", 0, 0, -1},
      {"a /local b c", 2, 0, -1},  // words before the start do not count
      {"a /local b c", 1, 3, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.spec);
    Node spec = read_block(c.spec)->node();
    EXPECT_EQ(function_count_locals(spec, c.start, false), c.loose);
    EXPECT_EQ(function_count_locals(spec, c.start, true), c.strict);
  }
}

TEST_F(FunctionTest, InitLocals) {
  Cell* before = g_stack.top;
  init_locals(3);
  ASSERT_EQ(g_stack.top - before, 3);
  EXPECT_EQ(mold_of(before[0]), "false");
  EXPECT_EQ(mold_of(before[1]), "none");
  EXPECT_EQ(mold_of(before[2]), "none");
  init_locals(0);
  init_locals(-1);
  EXPECT_EQ(g_stack.top - before, 3);
}

TEST_F(FunctionTest, CollectLocals) {
  struct Case {
    const char* spec;
    const char* body;
    const char* new_spec;
    const char* collected;
  } cases[] = {
      {"a", "x: 1 foreach [p q] s [y: 2] repeat i 3 [] remove-each r s [] (z: a) a: 5",
       "[a /local x p q y i r z]", "[x p q y i r z]"},
      {"a /extern b", "x: 1 b: 2 foreach c [] []", "[a /local x c]", "[x c]"},
      {"a /extern b /local c d", "x: 1 b: 2", "[a /local c d x]", "[c d x]"},
      {"a /local t", "x: 1 t: 2 a: 3", "[a /local t x]", "[x]"},
      {"a [integer!] \"doc\" /ref b return: [block!]", "ref: b: return: y: 1",
       "[a [integer!] \"doc\" /ref b return: [block!] /local y]", "[y]"},
      {"a", "X: 1 x: 2 [[[x: 3 Y: 4]]] y: 5", "[a /local X Y]", "[X Y]"},
      {"a", "local: 1", "[a /local]", "[]"},
      {"a", "print a", "[a]", "[]"},
      {"a", "foreach 5 repeat [x] remove-each", "[a]", "[]"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.spec + std::string(" / ") + c.body);
    Cell* spec = read_block(c.spec);
    Cell* collected = function_collect_locals(spec, read_block(c.body));
    EXPECT_EQ(mold_of(*spec), c.new_spec);
    EXPECT_EQ(mold_of(*collected), c.collected);
  }
}

TEST_F(FunctionTest, CollectLocalsRefusesOddValuesWithExtern) {
  Cell* spec = read_block("a /extern b 5");
  EXPECT_EQ(catch_error([&] { function_collect_locals(spec, read_block("x: 1")); }), kErrScriptBadFuncExtern);
  EXPECT_EQ(mold_of(last_raised_error().args[0]), "5");
  EXPECT_EQ(mold_of(*spec), "[a /extern b 5]");  // nothing changed
  // Without /extern such values are left to the spec check.
  Cell* plain = read_block("a 5");
  function_collect_locals(plain, read_block("x: 1"));
  EXPECT_EQ(mold_of(*plain), "[a 5 /local x]");
}

TEST_F(FunctionTest, CollectLocalsEndsOnSharedAndDeepBodies) {
  // A body inside itself, and a block met again at an earlier position.
  Cell* body = read_block("x: 1 [y: 2]");
  block_append_value(body, body);
  Cell* shared = read_block("p: 1 q: 2");
  Cell later = test::at_head(shared, 2);
  block_append_value(body, &later);
  block_append_value(body, shared);
  Cell* spec = read_block("a");
  function_collect_locals(spec, body);
  EXPECT_EQ(mold_of(*spec), "[a /local x y q p]");
  // A body nested deeper than the C++ stack would take by recursion.
  Cell* deep = read_block("z: 1");
  {
    CollectorPause pause;
    for (int i = 0; i < 100000; i++) {
      Node outer = series_alloc_cells(1);
      *append_cell(outer) = *deep;
      *deep = series_cell(kTypeBlock, outer);
    }
  }
  Cell* deep_spec = read_block("");
  function_collect_locals(deep_spec, deep);
  EXPECT_EQ(mold_of(*deep_spec), "[/local z]");
}

TEST_F(FunctionTest, ArgumentWords) {
  Cell* fn = make_function("\"doc\" a [integer!] 'b :c /d e return: [block!] /local f", "");
  const char* expected[] = {"a", "b", "c", "d", "e", "local", "f", "<anon>"};
  for (int32_t n = 0; n < 8; n++) {
    Cell w = function_arg_word(fn, n);
    EXPECT_TRUE(w.is(kTypeWord));
    EXPECT_EQ(mold_of(w), expected[n]) << n;
  }
  EXPECT_EQ(mold_of(function_arg_word(fn, -1)), "<anon>");
  EXPECT_EQ(mold_of(function_arg_word(test::block_of({}), 0)), "<anon>");
  // A native of a slot no native fills, its spec kept as that slot's own.
  const int32_t id = kNativeTableSize;
  native_table_set(id, [](bool, const int32_t*) { return kStatusOk; });
  const DeclaredParam declared[] = {{DeclaredParam::kArgument, "value"},
                                    {DeclaredParam::kRefinement, "only"},
                                    {DeclaredParam::kEnd, nullptr}};
  builtin_keep_own_spec(Builtin::kNative, id, "test-native", read_block("value /only"), nullptr, declared);
  Cell* native = test::make(kTypeNative, *test::block_of({*read_block("value /only"), integer_cell(id)}));
  native_table_set(id, nullptr);
  EXPECT_EQ(mold_of(function_arg_word(native, 1)), "only");
  Cell* op = test::make(kTypeOp, *make_function("x y", "x"));
  EXPECT_EQ(mold_of(function_arg_word(op, 1)), "y");

  // The running function's words: the value of the innermost named frame's word.
  EXPECT_EQ(mold_of(running_function_arg_word(1)), "<anon>");
  set("raise-to", *make_function("base exponent", ""));
  StackSave save;
  Cell name = test::word("raise-to");
  open_function_frame(frame_name_of(&name), 0);
  open_native_frame({});
  EXPECT_EQ(mold_of(running_function_arg_word(1)), "exponent");
  Cell text = *test::push_text("x");
  EXPECT_EQ(test::catch_error([&] {
              test::call_action(kActionPower, {integer_cell(2), text});
            }),
            kErrScriptExpectArg);
  EXPECT_EQ(mold_of(last_raised_error().args[2]), "exponent");
}

TEST_F(FunctionTest, ValuesSurviveCollection) {
  Cell* fn = stack_push();
  Cell* routine = stack_push();
  {
    StackSave save;
    *fn = *make_function("a /local b", "b: a [a]");
    *routine = *make_routine_value(read_block("x"), read_block("x + 1"), 1, -1, false);
  }
  gc_collect();
  EXPECT_EQ(mold_of(*fn), "func [a /local b][b: a [a]]");
  EXPECT_EQ(mold_of(*routine), "routine [x][x + 1]");
  EXPECT_TRUE(compare(*context_self_cell(function_context(fn)), *fn, kCmpSame));
}

}  // namespace
}  // namespace kiv
