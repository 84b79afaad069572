// block!: make, to, form and mold (new-line markers, indentation, cycles,
// /part), compare, path access and the raw accessors, through the action
// entry points. The fixture checks that every test leaves the cycle stack
// empty.
#include "datatypes/block.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "datatypes/datatype.h"
#include "datatypes/float.h"
#include "datatypes/logic.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "runtime/collector.h"
#include "runtime/cycle.h"
#include "runtime/hashtable.h"
#include "runtime/root_block.h"
#include "tests/unit/kiv_test.h"

namespace kiv {
namespace {

using test::at_head;
using test::block_of;
using test::call;
using test::call_action;
using test::catch_error;
using test::form_of;
using test::kNoError;
using test::make;
using test::mold;
using test::text_cell;
using test::text_of;
using test::to;
using test::word;

class BlockTest : public ::testing::Test {
 protected:
  void TearDown() override { EXPECT_EQ(cycle_stack_depth(), 0u); }

  static Cell nl(Cell c) {
    c.header |= kFlagNewLine;
    return c;
  }

  static bool compare(Cell a, Cell b, CompareOp op) {
    return test::logic_of(call_action(kActionCompare, {a, b, integer_cell(op)})) == 1;
  }

  // Path access: get when [value] is null.
  static Cell* path_step(Cell parent, Cell element, const Cell* value = nullptr, bool case_ = false) {
    Cell* p = stack_push_value(parent);
    Cell* e = stack_push_value(element);
    Cell* v = value ? stack_push_value(*value) : nullptr;
    EvalPathArgs args;
    args.element = e;
    args.value = v;
    args.path = stack_push_value(make_cell(kTypeNone));
    args.case_ = case_;
    Cell r = *action_eval_path(p, args);
    return stack_push_value(r);
  }
};

// ---------------------------------------------------------------- mold

TEST_F(BlockTest, MoldTable) {
  Cell a = word("a"), b = word("b"), x = word("x");
  struct Case {
    const char* name;
    Cell value;
    bool only, flat;
    int32_t part;
    const char* expected;
  } cases[] = {
      {"plain", *block_of({integer_cell(1), integer_cell(2)}), false, false, -1, "[1 2]"},
      {"only", *block_of({integer_cell(1), integer_cell(2)}), true, false, -1, "1 2"},
      {"empty", *block_of({}), false, false, -1, "[]"},
      {"nested", *block_of({integer_cell(1), *block_of({integer_cell(2), integer_cell(3)}), text_cell("a")}),
       false, false, -1, R"([1 [2 3] "a"])"},
      {"words", *block_of({word("a", kTypeSetWord), word("b", kTypeLitWord), word("c", kTypeGetWord)}), false,
       false, -1, "[a: 'b :c]"},
      {"second marked", *block_of({a, nl(b)}), false, false, -1, "[a\nb]"},
      {"first marked", *block_of({nl(a), b}), false, false, -1, "[\n    a b\n]"},
      {"all marked", *block_of({nl(a), nl(b)}), false, false, -1, "[\n    a\n    b\n]"},
      {"nested marked", *block_of({nl(*block_of({nl(x)}))}), false, false, -1,
       "[\n    [\n        x\n    ]\n]"},
      {"inner marked only", *block_of({a, *block_of({nl(x), nl(x)})}), false, false, -1,
       "[a [\n    x\n    x\n]]"},
      {"flat ignores markers", *block_of({nl(a), nl(*block_of({nl(x)}))}), false, true, -1, "[a [x]]"},
      {"only with markers", *block_of({nl(a), nl(b)}), true, false, -1, "a\nb"},
      {"paren inside", *block_of({*block_of({integer_cell(1), word("+"), integer_cell(2)}, kTypeParen)}),
       false, false, -1, "[(1 + 2)]"},
      {"part cuts", *block_of({integer_cell(1), integer_cell(2), integer_cell(3)}), false, false, 4, "[1 2"},
      {"part zero", *block_of({integer_cell(1)}), false, false, 0, ""},
      {"part past end", *block_of({integer_cell(1)}), false, false, 10, "[1]"},
      {"from the head", at_head(block_of({integer_cell(1), integer_cell(2)}), 1), false, false, -1, "[2]"},
      {"head past tail", at_head(block_of({integer_cell(1)}), 7), false, false, -1, "[]"},
      {"negative head", at_head(block_of({integer_cell(1)}), -3), false, false, -1, "[1]"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(mold(c.value, c.only, false, c.flat, c.part), c.expected);
  }
}

TEST_F(BlockTest, FormTable) {
  struct Case {
    const char* name;
    Cell value;
    int32_t part;
    const char* expected;
  } cases[] = {
      {"nested", *block_of({integer_cell(1), *block_of({integer_cell(2), integer_cell(3)}), text_cell("a")}),
       -1, "1 2 3 a"},
      {"empty", *block_of({}), -1, ""},
      {"no space after line feed", *block_of({text_cell("a\n"), word("b"), text_cell("c\t"), word("d")}), -1,
       "a\nb c\td"},
      {"words lose prefixes", *block_of({word("a", kTypeSetWord), word("b", kTypeLitWord)}), -1, "a b"},
      {"part", *block_of({integer_cell(10), integer_cell(20), integer_cell(30)}), 4, "10 2"},
      {"empty nested", *block_of({*block_of({}), integer_cell(1)}), -1, " 1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(form_of(c.value, c.part), c.expected);
  }
}

TEST_F(BlockTest, CyclesAreElided) {
  Cell* self = block_of({integer_cell(1)});
  block_append_value(self, self);
  EXPECT_EQ(mold(*self), "[1 [...]]");
  EXPECT_EQ(form_of(*self), "1 ...");
  // Two blocks inside each other.
  Cell* a = block_of({word("a")});
  Cell* b = block_of({word("b"), *a});
  block_append_value(a, b);
  EXPECT_EQ(mold(*a), "[a [b [...]]]");
  // A block met twice side by side is no cycle.
  Cell* inner = block_of({integer_cell(7)});
  EXPECT_EQ(mold(*block_of({*inner, *inner})), "[[7] [7]]");
  // A paren inside itself is elided too.
  Cell* p = block_of({integer_cell(1)}, kTypeParen);
  block_append_value(p, p);
  EXPECT_EQ(mold(*p), "(1 (...))");
}

TEST_F(BlockTest, DeepNestingAndLargeBlocks) {
  // 500 levels mold fine; 1,000 exceed the cycle stack with a clear error.
  Cell* deep = block_of({});
  for (int i = 0; i < 500; i++) deep = block_of({*deep});
  std::string text = mold(*deep);
  EXPECT_EQ(text, std::string(501, '[') + std::string(501, ']'));
  for (int i = 0; i < 600; i++) deep = block_of({*deep});
  EXPECT_EQ(catch_error([&] { mold(*deep); }), kErrInternalTooDeep);
  cycle_stack_reset();

  // 100,000 cells.
  Cell* big = block_of({});
  for (int i = 0; i < 100000; i++) {
    Cell n = integer_cell(i);
    block_append_value(big, &n);
  }
  EXPECT_EQ(block_total_length(big), 100000);
  std::string m = mold(*big);
  EXPECT_EQ(m.substr(0, 8), "[0 1 2 3");
  EXPECT_EQ(m.substr(m.size() - 13), " 99998 99999]");
  EXPECT_EQ(mold(*big, false, false, false, 12), "[0 1 2 3 4 5");
  Cell* copy = make(kTypeBlock, *big);
  EXPECT_NE(copy->node(), big->node());
  EXPECT_TRUE(compare(*copy, *big, kCmpEqual));
  Cell n = integer_cell(-1);
  *block_ks_abs_at(copy, 99999) = n;
  EXPECT_TRUE(compare(*copy, *big, kCmpLesser));
  block_append_all(big, big);
  EXPECT_EQ(block_total_length(big), 200000);
  EXPECT_EQ(integer_get(block_ks_abs_at(big, 150000)), 50000);
  EXPECT_EQ(gc_verify(), 0);
}

// ---------------------------------------------------------------- compare

TEST_F(BlockTest, CompareTable) {
  Cell* one_two = block_of({integer_cell(1), integer_cell(2)});
  struct Case {
    const char* name;
    Cell a, b;
    CompareOp op;
    bool expected;
  } cases[] = {
      {"equal", *one_two, *block_of({integer_cell(1), integer_cell(2)}), kCmpEqual, true},
      {"differ", *one_two, *block_of({integer_cell(1), integer_cell(3)}), kCmpEqual, false},
      {"not-equal", *one_two, *block_of({integer_cell(1), integer_cell(3)}), kCmpNotEqual, true},
      {"lengths differ", *one_two, *block_of({integer_cell(1), integer_cell(2), integer_cell(3)}), kCmpEqual,
       false},
      {"lesser by element", *one_two, *block_of({integer_cell(1), integer_cell(3)}), kCmpLesser, true},
      {"greater by element", *one_two, *block_of({integer_cell(1), integer_cell(3)}), kCmpGreater, false},
      {"string before integer", *block_of({integer_cell(1), text_cell("a")}), *one_two, kCmpLesser, true},
      {"integer after string", *one_two, *block_of({integer_cell(1), text_cell("a")}), kCmpGreater, true},
      {"shorter is lesser", *block_of({integer_cell(1)}), *one_two, kCmpLesser, true},
      {"longer is greater", *one_two, *block_of({integer_cell(1)}), kCmpGreaterOrEqual, true},
      {"empty equals empty", *block_of({}), *block_of({}), kCmpEqual, true},
      {"from the heads", at_head(block_of({integer_cell(0), integer_cell(1), integer_cell(2)}), 1), *one_two,
       kCmpEqual, true},
      {"words ignore case", *block_of({word("abc")}), *block_of({word("ABC")}), kCmpEqual, true},
      {"strict words keep case", *block_of({word("abc")}), *block_of({word("ABC")}), kCmpStrictEqual, false},
      {"word kinds are comparable", *block_of({word("a")}), *block_of({word("a", kTypeSetWord)}), kCmpEqual,
       true},
      {"texts ignore case", *block_of({text_cell("Ab")}), *block_of({text_cell("aB")}), kCmpEqual, true},
      {"nested", *block_of({*block_of({integer_cell(1)})}), *block_of({*block_of({integer_cell(1)})}),
       kCmpEqual, true},
      {"same needs the same series", *one_two, *block_of({integer_cell(1), integer_cell(2)}), kCmpSame,
       false},
      {"same series same head", *one_two, *one_two, kCmpSame, true},
      {"same series other head", *one_two, at_head(one_two, 1), kCmpSame, false},
      {"block is not paren", *one_two, *block_of({integer_cell(1), integer_cell(2)}, kTypeParen), kCmpEqual,
       false},
      {"path and lit-path: word-equal", *block_of({word("a"), word("b")}, kTypePath),
       *block_of({word("a"), word("b")}, kTypeLitPath), kCmpWordEqual, true},
      {"path and lit-path: equal", *block_of({word("a"), word("b")}, kTypePath),
       *block_of({word("a"), word("b")}, kTypeLitPath), kCmpEqual, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(compare(c.a, c.b, c.op), c.expected);
  }
  // The raw answers for sorting.
  EXPECT_EQ(block_compare(block_of({}), {one_two, kCmpSort}), -1);
  EXPECT_EQ(block_compare(one_two, {block_of({integer_cell(1), text_cell("a")}), kCmpSort}), 1);
  EXPECT_EQ(block_compare(block_of({}), {block_of({}), kCmpSort}), 0);
  // Orderings between different types are refused.
  Cell paren = *block_of({integer_cell(1)}, kTypeParen);
  EXPECT_EQ(catch_error([&] { compare(*one_two, paren, kCmpLesser); }), kErrScriptInvalidCompare);
}

TEST_F(BlockTest, CompareCycles) {
  Cell* a = block_of({integer_cell(1)});
  block_append_value(a, a);
  Cell* b = block_of({integer_cell(1)});
  block_append_value(b, b);
  EXPECT_TRUE(compare(*a, *b, kCmpEqual));
  Cell* c = block_of({integer_cell(2)});
  block_append_value(c, c);
  EXPECT_FALSE(compare(*a, *c, kCmpEqual));
  EXPECT_TRUE(compare(*a, *c, kCmpLesser));
}

// ---------------------------------------------------------------- make and to

TEST_F(BlockTest, MakeAndTo) {
  Cell* src = block_of({integer_cell(1), nl(integer_cell(2))});
  struct Case {
    const char* name;
    bool make;
    TypeId type;
    Cell spec;
    const char* expected;
  } cases[] = {
      {"make copies", true, kTypeBlock, *src, "[1\n2]"},
      {"make from the head", true, kTypeBlock, at_head(src, 1), "[\n    2\n]"},
      {"make paren", true, kTypeParen, *src, "(1\n2)"},
      {"make block from paren", true, kTypeBlock, *block_of({word("a")}, kTypeParen), "[a]"},
      {"make with room", true, kTypeBlock, integer_cell(10), "[]"},
      {"make with negative room", true, kTypeBlock, integer_cell(-5), "[]"},
      {"to copies", false, kTypeBlock, *block_of({word("a")}, kTypePath), "[a]"},
      {"to wraps a value", false, kTypeBlock, integer_cell(5), "[5]"},
      {"to wraps a word", false, kTypeBlock, word("x", kTypeSetWord), "[x:]"},
      {"to drops the marker of a wrapped value", false, kTypeBlock, nl(integer_cell(5)), "[5]"},
      {"to paren", false, kTypeParen, *block_of({word("a"), word("b")}), "(a b)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Cell* r = c.make ? make(c.type, c.spec) : to(c.type, c.spec);
    EXPECT_EQ(r->type(), c.type);
    EXPECT_EQ(r->head(), 0);
    EXPECT_EQ(mold(*r), c.expected);
  }
  // A copy is a new series: changing it leaves the source alone.
  Cell* copy = make(kTypeBlock, *src);
  EXPECT_NE(copy->node(), src->node());
  integer_set(block_ks_abs_at(copy, 0), 9);
  EXPECT_EQ(mold(*src), "[1\n2]");
  // Room for the count asked.
  Cell* roomy = make(kTypeBlock, integer_cell(100));
  EXPECT_GE(series_buffer(roomy->node())->capacity, 100u * sizeof(Cell));
  Cell fl = float_cell(20.9);
  EXPECT_GE(series_buffer(make(kTypeBlock, fl)->node())->capacity, 20u * sizeof(Cell));
}

TEST_F(BlockTest, MakeAndToErrors) {
  Cell huge = float_cell(1e10);
  Cell nan = float_cell(std::nan(""));
  struct Case {
    const char* name;
    bool make;
    Cell spec;
    ErrorId expected;
  } cases[] = {
      {"make from text", true, text_cell("a"), kErrScriptBadMakeArg},
      {"make from a word", true, word("a"), kErrScriptBadMakeArg},
      {"make from none", true, kNoneCell, kErrScriptBadMakeArg},
      {"make from a huge float", true, huge, kErrScriptOutOfRange},
      {"make from NaN", true, nan, kErrScriptOutOfRange},
      {"make past the largest buffer", true, integer_cell(2000000000), kErrInternalNoMemory},
      {"to from text that does not load", false, text_cell("a ]"), kErrSyntaxMissing},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(catch_error([&] { c.make ? make(kTypeBlock, c.spec) : to(kTypeBlock, c.spec); }), c.expected);
  }
  // The error names the datatype and the spec.
  Cell spec = text_cell("a");
  catch_error([&] { make(kTypeBlock, spec); });
  EXPECT_TRUE(last_raised_error().args[0].is(kTypeDatatype));
  EXPECT_EQ(datatype_type(&last_raised_error().args[0]), kTypeBlock);
  EXPECT_EQ(last_raised_error().args[1].node(), spec.node());
}

// ---------------------------------------------------------------- path access

TEST_F(BlockTest, PathGet) {
  Cell* b = block_of(
      {word("a"), integer_cell(1), word("B", kTypeSetWord), integer_cell(2), text_cell("k"), word("v")});
  struct Case {
    const char* name;
    Cell parent, element;
    bool case_;
    const char* expected;  // molded
  } cases[] = {
      {"index", *b, integer_cell(2), false, "1"},
      {"index from the head", at_head(b, 1), integer_cell(1), false, "1"},
      {"index out of range", *b, integer_cell(7), false, "none"},
      {"index zero", *b, integer_cell(0), false, "none"},
      {"index before the head", at_head(b, 1), integer_cell(-1), false, "a"},
      {"word", *b, word("a"), false, "1"},
      {"word matches a set-word", *b, word("b"), false, "2"},
      {"word with case", *b, word("b"), true, "none"},
      {"missing word", *b, word("zz"), false, "none"},
      {"last word", *b, word("v"), false, "none"},
      {"other key", *b, text_cell("K"), false, "v"},
      {"other key with case", *b, text_cell("K"), true, "none"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(mold(*path_step(c.parent, c.element, nullptr, c.case_)), c.expected);
  }
}

TEST_F(BlockTest, PathSet) {
  Cell nine = integer_cell(9);
  Cell* b = block_of({word("a"), integer_cell(1), word("b")});
  EXPECT_EQ(integer_get(path_step(*b, integer_cell(2), &nine)), 9);
  EXPECT_EQ(mold(*b), "[a 9 b]");
  Cell* r = path_step(*b, word("a"), &nine);
  EXPECT_EQ(integer_get(r), 9);
  EXPECT_EQ(mold(*b), "[a 9 b]");
  // The key is last: its value is appended.
  path_step(*b, word("b"), &nine);
  EXPECT_EQ(mold(*b), "[a 9 b 9]");
  // Errors come before any change.
  EXPECT_EQ(catch_error([&] { path_step(*b, integer_cell(5), &nine); }), kErrScriptOutOfRange);
  EXPECT_EQ(catch_error([&] { path_step(*b, integer_cell(0), &nine); }), kErrScriptOutOfRange);
  EXPECT_EQ(catch_error([&] { path_step(*b, word("zz"), &nine); }), kErrScriptBadPathSet);
  EXPECT_TRUE(last_raised_error().args[1].is(kTypeNone));
  EXPECT_EQ(mold(*b), "[a 9 b 9]");
}

// ---------------------------------------------------------------- raw accessors

TEST_F(BlockTest, RawAccessorsStayWithinBounds) {
  Cell* b = block_of({integer_cell(1), integer_cell(2), integer_cell(3)});
  Cell past = at_head(b, 9);
  EXPECT_EQ(block_ks_length_q(&past), 0);
  EXPECT_EQ(past.head(), 3);
  Cell past2 = at_head(b, 9);
  EXPECT_EQ(block_ks_head(&past2), block_ks_tail(b));
  EXPECT_EQ(past2.head(), 3);
  EXPECT_TRUE(block_ks_tail_q(&past2));
  Cell neg = at_head(b, -4);
  EXPECT_EQ(block_ks_length_q(&neg), 3);
  EXPECT_EQ(integer_get(block_ks_head(&neg)), 1);

  Cell walk = *b;
  EXPECT_FALSE(block_advance(&walk));
  EXPECT_FALSE(block_advance(&walk));
  EXPECT_TRUE(block_advance(&walk));
  EXPECT_TRUE(block_advance(&walk));
  EXPECT_EQ(walk.head(), 3);

  Cell* tail_head = stack_push_value(at_head(b, 3));
  block_remove_last(tail_head);
  EXPECT_EQ(tail_head->head(), 2);
  EXPECT_EQ(mold(*b), "[1 2]");
  block_truncate(b, 9);
  EXPECT_EQ(mold(*b), "[1 2]");
  Cell* mid = stack_push_value(at_head(b, 1));
  block_truncate_at_head(mid);
  EXPECT_EQ(mold(*b), "[1]");
  block_truncate(b, -2);
  EXPECT_EQ(mold(*b), "[]");
  block_remove_last(b);
  EXPECT_EQ(mold(*b), "[]");
}

TEST_F(BlockTest, RawInsertAndAppend) {
  Cell* b = block_of({integer_cell(1), integer_cell(2)});
  Cell* pos = stack_push_value(at_head(b, 1));
  Cell x = word("x");
  block_insert_value(pos, &x, true, false);
  EXPECT_EQ(mold(*b), "[1 x 2]");
  EXPECT_EQ(pos->head(), 2);
  block_insert_value(pos, &x, false, true);
  EXPECT_EQ(mold(*b), "[x 1 x 2]");
  EXPECT_EQ(pos->head(), 2);
  Cell* past = stack_push_value(at_head(b, 10));
  block_insert_value(past, &x, true, false);
  EXPECT_EQ(mold(*b), "[x 1 x 2 x]");
  EXPECT_EQ(past->head(), 5);

  // Insert a block into itself: the cells as they were.
  Cell* c = block_of({integer_cell(1), integer_cell(2)});
  Cell* c1 = stack_push_value(at_head(c, 1));
  block_insert_all(c1, c);
  EXPECT_EQ(mold(*c), "[1 1 2 2]");
  EXPECT_EQ(c1->head(), 3);
  block_append_all(c, c1);
  EXPECT_EQ(mold(*c), "[1 1 2 2 2]");

  // Growth by one cell at a time keeps every cell.
  Cell* g = block_of({});
  for (int i = 0; i < 1000; i++) {
    Cell n = integer_cell(i);
    block_insert_value(g, &n, true, false);
  }
  EXPECT_EQ(block_total_length(g), 1000);
  for (int i = 0; i < 1000; i++) ASSERT_EQ(integer_get(block_ks_abs_at(g, i)), i);

  // Stack forms: argument into the block just below the arguments base.
  StackSave save;
  Cell* target = block_of({});
  g_stack.arguments = stack_push_value(integer_cell(5));
  block_append_arg();
  block_insert_arg();
  g_stack.arguments = target;
  target[1] = integer_cell(6);  // argument 2
  block_append_next_arg();
  EXPECT_EQ(target->head(), 1);  // insert advanced it
  EXPECT_EQ(mold(at_head(target, 0)), "[5 5 6]");
}

TEST_F(BlockTest, RawSelectAndRemove) {
  Cell* b = block_of({word("a"), integer_cell(1), word("B", kTypeSetWord), integer_cell(2), integer_cell(1)});
  Cell one = integer_cell(1), a = word("A"), bb = word("b");
  EXPECT_EQ(mold(block_select_value(b, &one)), "B:");
  Cell* from4 = stack_push_value(at_head(b, 4));
  EXPECT_TRUE(block_select_value(from4, &one).is(kTypeNone));  // found last
  EXPECT_EQ(mold(block_select_word(b, &a, false)), "1");
  EXPECT_TRUE(block_select_word(b, &a, true).is(kTypeNone));
  EXPECT_EQ(mold(block_select_word(b, &bb, false)), "2");
  Cell* from2 = stack_push_value(at_head(b, 2));
  EXPECT_TRUE(block_select_word(from2, &a, false).is(kTypeNone));

  // The removed cell's place against the head.
  Cell* h = stack_push_value(at_head(b, 3));
  Cell two = integer_cell(2), missing = integer_cell(42);
  EXPECT_TRUE(block_remove_value(h, &one, true));  // index 1: before the head
  EXPECT_EQ(mold(*b), "[a B: 2 1]");
  EXPECT_FALSE(block_remove_value(h, &missing, true));
  Cell* h1 = stack_push_value(at_head(b, 1));
  EXPECT_FALSE(block_remove_value(h1, &one, false));  // index 3: after the head
  EXPECT_EQ(mold(*b), "[a B: 2]");
  EXPECT_FALSE(block_remove_value(h1, &two, false));
  EXPECT_EQ(mold(*b), "[a B:]");
}

TEST_F(BlockTest, Construction) {
  Cell* parent = block_of({integer_cell(1)});
  Cell* child = block_new(parent, 4);
  EXPECT_TRUE(child->is(kTypeBlock));
  Cell made = *child;
  Cell seven = integer_cell(7);
  block_append_value(&made, &seven);
  EXPECT_EQ(mold(*parent), "[1 [7]]");
  block_new_ext(parent, 0);
  EXPECT_EQ(mold(*parent), "[1 [7] []]");
  EXPECT_TRUE(series_buffer(block_ks_abs_at(parent, 2)->node())->flags & kSeriesFixed);

  // Without a parent the block goes to a root slot (restored at once).
  Cell saved = *root_slot(kRootWordCache);
  Cell* rooted = block_new(nullptr, 3, kRootWordCache);
  EXPECT_EQ(rooted, root_slot(kRootWordCache));
  EXPECT_TRUE(rooted->is(kTypeBlock));
  EXPECT_EQ(block_total_length(rooted), 0);
  *root_slot(kRootWordCache) = saved;

  Cell* only = block_push_only(0);
  EXPECT_GE(series_buffer(only->node())->capacity, sizeof(Cell));
  Cell* ext = block_init_ext(stack_push(), 3, false);
  EXPECT_TRUE(series_buffer(ext->node())->cells()[2].is(kTypeUnset));
  Cell* pushed = push_block(parent);
  EXPECT_EQ(pushed->node(), parent->node());
  EXPECT_EQ(gc_verify(), 0);
}

TEST_F(BlockTest, CloneShallowAndDeep) {
  Cell* inner = block_of({integer_cell(1)});
  Cell* paren = block_of({integer_cell(2)}, kTypeParen);
  Cell* outer = block_of({nl(*inner), *paren}, kTypeParen);
  Cell* shallow = block_clone(outer, false, false);
  EXPECT_TRUE(shallow->is(kTypeParen));
  EXPECT_EQ(block_ks_abs_at(shallow, 0)->node(), inner->node());
  Cell* deep = block_clone(outer, true, false);
  EXPECT_NE(block_ks_abs_at(deep, 0)->node(), inner->node());
  EXPECT_TRUE(block_ks_abs_at(deep, 0)->new_line());
  EXPECT_EQ(block_ks_abs_at(deep, 1)->node(), paren->node());  // paren only with any_block
  Cell* all = block_clone(outer, true, true);
  EXPECT_NE(block_ks_abs_at(all, 1)->node(), paren->node());
  EXPECT_EQ(mold(*all), "(\n    [1] (2)\n)");
  // A block inside itself cannot be cloned deep.
  Cell* self = block_of({integer_cell(1)});
  block_append_value(self, self);
  EXPECT_EQ(catch_error([&] { block_clone(self, true, false); }), kErrInternalNoCycle);
  EXPECT_EQ(gc_verify(), 0);
}

TEST_F(BlockTest, DeepCopyTypes) {
  if (!actions_of(kTypeBlock).copy) GTEST_SKIP() << "block! copy is not registered yet";
  Cell* inner = block_of({integer_cell(1)});
  Cell s = text_cell("t");
  Cell* b = block_of({*inner, s, nl(*inner)});
  Cell types = datatype_cell(kTypeString);
  block_deep_copy_types(b->node(), 0, 3, 1, false, &types);
  EXPECT_EQ(block_ks_abs_at(b, 0)->node(), inner->node());
  EXPECT_NE(block_ks_abs_at(b, 1)->node(), s.node());
  types = datatype_cell(kTypeBlock);
  block_deep_copy_types(b->node(), 0, 3, 2, false, &types);
  EXPECT_NE(block_ks_abs_at(b, 0)->node(), inner->node());
  EXPECT_NE(block_ks_abs_at(b, 2)->node(), inner->node());
  EXPECT_TRUE(block_ks_abs_at(b, 2)->new_line());
}

TEST_F(BlockTest, HashIndexFollowsRawWriters) {
  Cell* h = block_of({integer_cell(5), integer_cell(6), integer_cell(7)});
  h->set_header(kTypeHash);
  block_set_hash_index(h, hashtable_init(3, h->node(), kHashBlock));
  Cell eight = integer_cell(8), nine = integer_cell(9), six = integer_cell(6);
  Cell* pos = stack_push_value(at_head(h, 1));
  block_insert_value(pos, &eight, true, false);  // 5 8 6 7
  block_append_value(h, &nine);                  // 5 8 6 7 9
  block_remove_value(h, &six, false);            // 5 8 7 9
  block_remove_last(h);                          // 5 8 7
  Cell* src = block_of({integer_cell(1), integer_cell(2)});
  block_insert_all(h, src);  // 1 2 5 8 7
  block_append_all(h, src);  // 1 2 5 8 7 1 2
  const int32_t expected[] = {1, 2, 5, 8, 7, 1, 2};
  ASSERT_EQ(block_total_length(h), 7);
  for (int32_t i = 0; i < 7; i++) {
    Cell key = integer_cell(expected[i]);
    EXPECT_EQ(hashtable_find(block_hash_index(h), &key, i, 1, kCmpEqual, false, false), i) << i;
  }
  Cell gone = integer_cell(9);
  EXPECT_EQ(hashtable_find(block_hash_index(h), &gone, 0, 1, kCmpEqual, false, false), -1);
  block_truncate(h, 2);
  EXPECT_EQ(hashtable_size(block_hash_index(h)), 2u);
}

}  // namespace
}  // namespace kiv
