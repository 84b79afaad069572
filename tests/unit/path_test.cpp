// paren!, the four path types and triple!: make, to, form and mold with their
// own syntax, inheritance from block!, the actions they refuse, and triple!'s
// text. The fixture checks that every test leaves the cycle stack empty.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/float.h"
#include "datatypes/logic.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/triple.h"
#include "datatypes/typeset.h"
#include "datatypes/word.h"
#include "runtime/cycle.h"
#include "tests/unit/kiv_test.h"

namespace kiv {
namespace {

using test::Act;
using test::block_of;
using test::call;
using test::call_action;
using test::catch_error;
using test::form_of;
using test::kNoError;
using test::logic_of;
using test::make;
using test::mold;
using test::text_cell;
using test::text_of;
using test::to;
using test::word;

class PathTest : public ::testing::Test {
 protected:
  void TearDown() override { EXPECT_EQ(cycle_stack_depth(), 0u); }
};

TEST_F(PathTest, FormAndMoldTable) {
  Cell inner = *block_of({integer_cell(1), integer_cell(2)}, kTypeBlock);
  Cell marked = word("b");
  marked.header |= kFlagNewLine;
  struct Case {
    const char* name;
    Cell value;
    const char* mold;
    const char* form;
  } cases[] = {
      {"path", *block_of({word("a"), word("b"), integer_cell(1)}, kTypePath), "a/b/1", "a/b/1"},
      {"lit-path", *block_of({word("a"), word("b")}, kTypeLitPath), "'a/b", "a/b"},
      {"set-path", *block_of({word("a"), word("b")}, kTypeSetPath), "a/b:", "a/b"},
      {"get-path", *block_of({word("a"), word("b")}, kTypeGetPath), ":a/b", "a/b"},
      {"one element", *block_of({word("a")}, kTypePath), "a", "a"},
      {"empty path", *block_of({}, kTypePath), "", ""},
      {"empty set-path", *block_of({}, kTypeSetPath), ":", ""},
      {"markers are not looked at", *block_of({word("a"), marked}, kTypePath), "a/b", "a/b"},
      {"block element", *block_of({word("a"), inner, text_cell("s")}, kTypePath), "a/[1 2]/\"s\"", "a/1 2/s"},
      {"paren", *block_of({integer_cell(1), word("+"), integer_cell(2)}, kTypeParen), "(1 + 2)", "1 + 2"},
      {"empty paren", *block_of({}, kTypeParen), "()", ""},
      {"paren with a marker", *block_of({word("a"), marked}, kTypeParen), "(a\nb)", "a b"},
      {"paren in a path", *block_of({word("a"), *block_of({word("i")}, kTypeParen)}, kTypePath), "a/(i)",
       "a/i"},
      {"path in a block",
       *block_of({*block_of({word("a"), word("b")}, kTypeSetPath), integer_cell(1)}, kTypeBlock), "[a/b: 1]",
       "a/b 1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(mold(c.value), c.mold);
    EXPECT_EQ(form_of(c.value), c.form);
  }
  EXPECT_EQ(mold(*block_of({integer_cell(1), word("+"), integer_cell(2)}, kTypeParen), true), "1 + 2");
}

TEST_F(PathTest, PartAndCycles) {
  Cell* p = block_of({word("alpha"), word("beta"), word("gamma")}, kTypePath);
  // Stops after the element that brings the budget below 1.
  EXPECT_EQ(form_of(*p, 7), "alpha/b");
  EXPECT_EQ(mold(*p, false, false, false, 5), "alpha");
  EXPECT_EQ(mold(*block_of({word("a"), word("b")}, kTypeLitPath), false, false, false, 3), "'a/");
  // A path inside itself.
  Cell* self = block_of({word("a")}, kTypePath);
  block_append_value(self, self);
  EXPECT_EQ(mold(*self), "a/...");
  EXPECT_EQ(form_of(*self), "a/...");
  Cell* in_block = block_of({*self}, kTypeBlock);
  EXPECT_EQ(mold(*in_block), "[a/...]");
}

TEST_F(PathTest, MakeAndTo) {
  Cell* words = block_of({word("a"), word("b")}, kTypeBlock);
  Cell half = make_cell(kTypeFloat);
  float_set(&half, 2.9);
  Cell pct = make_cell(kTypePercent);
  float_set(&pct, -3.0);
  struct Case {
    const char* name;
    bool make;
    TypeId type;
    Cell spec;
    const char* mold;
  } cases[] = {
      {"make path from block", true, kTypePath, *words, "a/b"},
      {"make set-path from block", true, kTypeSetPath, *words, "a/b:"},
      {"make with room", true, kTypePath, integer_cell(3), ""},
      {"make with float room", true, kTypeLitPath, half, "'"},
      {"make with percent room", true, kTypeGetPath, pct, ":"},
      {"to path from block", false, kTypePath, *words, "a/b"},
      {"to get-path from path", false, kTypeGetPath, *block_of({word("x"), word("y")}, kTypePath), ":x/y"},
      {"to path wraps a value", false, kTypePath, integer_cell(4), "4"},
      {"to paren from block", false, kTypeParen, *words, "(a b)"},
      {"make paren from path", true, kTypeParen, *block_of({word("x"), word("y")}, kTypePath), "(x y)"},
      {"to block from path", false, kTypeBlock, *block_of({word("x"), word("y")}, kTypeSetPath), "[x y]"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Cell* r = c.make ? make(c.type, c.spec) : to(c.type, c.spec);
    EXPECT_EQ(r->type(), c.type);
    EXPECT_EQ(mold(*r), c.mold);
  }
  // Room for the count asked, at least one cell.
  EXPECT_GE(series_buffer(make(kTypePath, integer_cell(40))->node())->capacity, 40u * sizeof(Cell));
  EXPECT_GE(series_buffer(make(kTypePath, integer_cell(-1))->node())->capacity, sizeof(Cell));
  // A typeset! becomes the single element of a path.
  Cell typeset = typeset_cell({kTypeInteger});
  Cell* r = to(kTypePath, typeset);
  ASSERT_EQ(block_total_length(r), 1);
  EXPECT_TRUE(block_ks_abs_at(r, 0)->is(kTypeTypeset));
}

TEST_F(PathTest, Errors) {
  Cell huge = make_cell(kTypeFloat);
  float_set(&huge, -3e9);
  Cell* p = block_of({word("a")}, kTypePath);
  Cell* paren = block_of({word("a")}, kTypeParen);
  struct Case {
    const char* name;
    std::function<void()> run;
    ErrorId expected;
  } cases[] = {
      {"make path from text", [] { make(kTypePath, text_cell("a")); }, kErrScriptBadMakeArg},
      {"make set-path from a word", [] { make(kTypeSetPath, word("a")); }, kErrScriptBadMakeArg},
      {"make path from a huge float", [&] { make(kTypePath, huge); }, kErrScriptOutOfRange},
      {"to path from text that does not load", [] { to(kTypePath, text_cell("a/b [")); }, kErrSyntaxMissing},
      {"random on a path", [&] { call(kActionRandom, {*p}); }, kErrScriptExpectArg},
      {"sort on a path", [&] { call(kActionSort, {*p}); }, kErrScriptExpectArg},
      {"trim on a path", [&] { call(kActionTrim, {*p}); }, kErrScriptExpectArg},
      {"sort on a set-path", [&] { call(kActionSort, {*block_of({}, kTypeSetPath)}); }, kErrScriptExpectArg},
      {"trim on a paren", [&] { call(kActionTrim, {*paren}); }, kErrScriptExpectArg},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(catch_error(c.run), c.expected);
  }
  // What they inherit from block! works.
  EXPECT_EQ(catch_error([&] { call(kActionRandom, {*paren}); }), kNoError);
  EXPECT_EQ(integer_get(call(kActionLengthQ, {*p})), 1);
  EXPECT_EQ(mold(*call(kActionPick, {*paren, integer_cell(1)})), "a");
  EXPECT_EQ(mold(*call(kActionNext, {*block_of({word("a"), word("b")}, kTypeGetPath)})), ":b");
}

TEST_F(PathTest, PathCompare) {
  Cell a = *block_of({word("a"), word("b")}, kTypePath);
  Cell b = *block_of({word("a"), word("b")}, kTypeLitPath);
  Cell c = *block_of({word("a"), word("b")}, kTypePath);
  auto cmp = [](Cell x, Cell y, CompareOp op) {
    return logic_of(call_action(kActionCompare, {x, y, integer_cell(op)})) == 1;
  };
  EXPECT_TRUE(cmp(a, c, kCmpEqual));
  EXPECT_FALSE(cmp(a, b, kCmpEqual));
  EXPECT_TRUE(cmp(a, b, kCmpWordEqual));
  EXPECT_TRUE(cmp(b, a, kCmpWordCanonEqual));
  EXPECT_FALSE(cmp(a, *block_of({word("a"), word("b")}, kTypeSetPath), kCmpWordEqual));
}

TEST_F(PathTest, Producers) {
  Cell* b = block_of({word("a")}, kTypeBlock);
  b->header |= kFlagNewLine;
  struct Case {
    Cell* (*push)(Cell*);
    TypeId type;
  } cases[] = {{push_path, kTypePath},
               {push_lit_path, kTypeLitPath},
               {push_set_path, kTypeSetPath},
               {push_get_path, kTypeGetPath},
               {push_paren, kTypeParen}};
  for (const Case& c : cases) {
    Cell* cell = stack_push_value(*b);
    Cell* r = c.push(cell);
    EXPECT_EQ(r->header, uint32_t(c.type));  // flags cleared
    EXPECT_EQ(cell->header, uint32_t(c.type));
    EXPECT_EQ(r->node(), b->node());
    EXPECT_EQ(r, g_stack.top - 1);
  }
  Cell* p = path_init(stack_push(), 5);
  EXPECT_TRUE(p->is(kTypePath));
  EXPECT_EQ(block_total_length(p), 0);
}

// ---------------------------------------------------------------- triple!

TEST_F(PathTest, TripleText) {
  struct Case {
    Cell value;
    const char* text;
  } cases[] = {
      {triple_cell(1, -2, 3), "make triple! [1 -2 3]"},
      {triple_cell(INT32_MIN, 0, INT32_MAX), "make triple! [-2147483648 0 2147483647]"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(form_of(c.value), c.text);
    EXPECT_EQ(mold(c.value), c.text);
    EXPECT_EQ(text_of(Act(kActionMold, {c.value}).ref("only").ref("all").ref("flat").value()), c.text);
  }
  EXPECT_EQ(mold(*block_of({triple_cell(4, 5, 6)}, kTypeBlock)), "[make triple! [4 5 6]]");
}

TEST_F(PathTest, TripleRefusesEverythingElse) {
  Cell t = triple_cell(1, 2, 3);
  struct Case {
    const char* name;
    std::function<void()> run;
  } cases[] = {
      {"make",
       [&] {
         call(kActionMake, {datatype_cell(kTypeTriple), integer_cell(1)});
       }},
      {"to",
       [&] {
         call(kActionTo, {datatype_cell(kTypeTriple), integer_cell(1)});
       }},
      {"pick",
       [&] {
         call(kActionPick, {t, integer_cell(1)});
       }},
      {"length?", [&] { call(kActionLengthQ, {t}); }},
      {"add",
       [&] {
         call(kActionAdd, {t, t});
       }},
      {"random", [&] { call(kActionRandom, {t}); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(catch_error(c.run), kErrScriptExpectArg);
  }
  // Not comparable: equality is false.
  EXPECT_EQ(actions_of(kTypeTriple).compare, nullptr);
}

}  // namespace
}  // namespace kiv
