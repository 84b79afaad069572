// tuple!: make and to, text, compare, the saturating arithmetic (and the
// hand-over from integer!), path access, pick, reverse, complement, random
// and the byte helpers, through the action entry points.
#include "datatypes/tuple.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "datatypes/datatype.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/symbol.h"
#include "kiv_test.h"
#include "runtime/collector.h"
#include "runtime/random.h"
#include "runtime/type_hooks.h"

namespace kiv {
namespace {

using test::Act;
using test::block_of;
using test::call_action;
using test::catch_error;
using test::compare;
using test::form_of;
using test::mold_of;
using test::outcome;
using test::push_binary;
using test::push_text;

// The tuple of [bytes] (fewer than 3 padded with zeros).
Cell tup(std::initializer_list<int32_t> bytes) {
  return *tuple_from_bytes(std::span<const int32_t>(bytes.begin(), bytes.size()));
}

Cell percent_cell(double d) { return float_cell(d, kTypePercent); }

// An issue! of [name]; interning runs with the collector paused, as symbol_make needs.
Cell issue_cell(const char* name) {
  CollectorPause pause;
  return word_cell(kTypeIssue, 0, symbol_make(name), -1);
}

TEST(TupleTest, MakeAndTo) {
  Cell type = datatype_cell(kTypeTuple);
  Cell twelve_bytes = *push_binary({1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13});
  struct Case {
    const char* name;
    Cell spec;
    const char* expected;  // mold, or "!" and the error id
  } cases[] = {
      {"short block padded", *block_of({integer_cell(1), integer_cell(2)}), "1.2.0"},
      {"empty block", *block_of({}), "0.0.0"},
      {"floats truncate", *block_of({float_cell(1.9), float_cell(255.99), float_cell(-0.5)}), "1.255.0"},
      {"chars", *block_of({char_cell('A'), char_cell(0), char_cell(255)}), "65.0.255"},
      {"twelve values",
       *block_of({integer_cell(1), integer_cell(2), integer_cell(3), integer_cell(4), integer_cell(5),
                  integer_cell(6), integer_cell(7), integer_cell(8), integer_cell(9), integer_cell(10),
                  integer_cell(11), integer_cell(12)}),
       "1.2.3.4.5.6.7.8.9.10.11.12"},
      {"block from its position", test::at_head(block_of({integer_cell(9), integer_cell(1)}), 1), "1.0.0"},
      {"paren", *block_of({integer_cell(7)}, kTypeParen), "7.0.0"},
      {"thirteen values",
       *block_of({integer_cell(1), integer_cell(2), integer_cell(3), integer_cell(4), integer_cell(5),
                  integer_cell(6), integer_cell(7), integer_cell(8), integer_cell(9), integer_cell(10),
                  integer_cell(11), integer_cell(12), integer_cell(13)}),
       "!bad-to-arg"},
      {"integer above 255", *block_of({integer_cell(256), integer_cell(0), integer_cell(0)}), "!bad-to-arg"},
      {"negative integer", *block_of({integer_cell(-1)}), "!bad-to-arg"},
      {"float 256", *block_of({float_cell(256.0)}), "!bad-to-arg"},
      {"float NaN", *block_of({float_cell(NAN)}), "!bad-to-arg"},
      {"char above 255", *block_of({char_cell(256)}), "!bad-to-arg"},
      {"other value", *block_of({integer_cell(1), kNoneCell}), "!bad-to-arg"},
      {"binary padded", *push_binary({1, 2}), "1.2.0"},
      {"binary: first 12 bytes", twelve_bytes, "1.2.3.4.5.6.7.8.9.10.11.12"},
      {"binary from its position", *push_binary({1, 2, 3, 4}, 3), "4.0.0"},
      {"issue of 3 digits", issue_cell("F80"), "255.136.0"},
      {"issue of 6 digits", issue_cell("FFFFFF"), "255.255.255"},
      {"issue of 8 digits", issue_cell("11223344"), "17.34.51.68"},
      {"issue lower case", issue_cell("ff8000"), "255.128.0"},
      {"issue of 5 digits", issue_cell("12345"), "!invalid-data"},
      {"issue not hexadecimal", issue_cell("GG0"), "!invalid-data"},
      {"tuple itself", tup({1, 2, 3, 4}), "1.2.3.4"},
      {"integer", integer_cell(1), "!bad-to-arg"},
      {"none", kNoneCell, "!bad-to-arg"},
      {"text", *push_text(" 1.2.3 "), "1.2.3"},
      {"text of another value", *push_text("1.2"), "!bad-to-arg"},
      {"text of two values", *push_text("1.2.3 4"), "!bad-to-arg"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(outcome(kActionTo, {type, c.spec}), c.expected) << c.name;
    EXPECT_EQ(outcome(kActionMake, {type, c.spec}), c.expected) << c.name;
  }
  // The refusal names tuple! and the spec.
  catch_error([] { call_action(kActionTo, {datatype_cell(kTypeTuple), integer_cell(1)}); });
  EXPECT_EQ(datatype_type(&last_raised_error().args[0]), kTypeTuple);
  EXPECT_TRUE(last_raised_error().args[1].is(kTypeInteger));
  // An example tuple makes a tuple too.
  EXPECT_EQ(outcome(kActionMake, {tup({9, 9, 9}), *block_of({integer_cell(4)})}), "4.0.0");
}

TEST(TupleTest, FormMoldAndLength) {
  EXPECT_EQ(form_of(tup({255, 0, 0})), "255.0.0");
  EXPECT_EQ(mold_of(tup({1, 2, 3, 4})), "1.2.3.4");
  EXPECT_EQ(form_of(tup({100, 200, 0}), 5), "100.2");
  EXPECT_EQ(test::integer_of(call_action(kActionLengthQ, {tup({1, 2, 3, 4, 5})})), 5);
  EXPECT_EQ(test::integer_of(call_action(kActionLengthQ, {tup({1})})), 3);
}

TEST(TupleTest, CompareCountsMissingBytesAsZero) {
  struct Case {
    Cell a, b;
    CompareOp op;
    bool expected;
  } cases[] = {
      {tup({1, 2, 3}), tup({1, 2, 3, 0}), kCmpEqual, true},
      {tup({1, 2, 3}), tup({1, 2, 3, 0}), kCmpStrictEqual, true},
      {tup({1, 2, 3}), tup({1, 2, 3, 1}), kCmpEqual, false},
      {tup({1, 2, 3}), tup({1, 2, 4}), kCmpLesser, true},
      {tup({1, 2, 3, 1}), tup({1, 2, 3}), kCmpGreater, true},
      {tup({200, 0, 0}), tup({100, 255, 255}), kCmpGreater, true},
      {tup({1, 2, 3}), integer_cell(1), kCmpEqual, false},
      {tup({1, 2, 3}), integer_cell(1), kCmpNotEqual, true},
  };
  for (const Case& c : cases)
    EXPECT_EQ(compare(c.a, c.b, c.op), c.expected) << mold_of(c.a) << " " << c.op << " " << mold_of(c.b);
  EXPECT_EQ(catch_error([] {
              compare(tup({1, 2, 3}), integer_cell(1), kCmpLesser);
            }),
            kErrScriptInvalidCompare);
  // Equal tuples hash alike, so either finds the other as a key.
  Cell short_tuple = tup({1, 2, 3}), long_tuple = tup({1, 2, 3, 0, 0});
  EXPECT_EQ(hash_value(&short_tuple), hash_value(&long_tuple));
}

TEST(TupleTest, ArithmeticSaturates) {
  struct Case {
    ActionId action;
    Cell a, b;
    const char* expected;  // mold, or "!" and the error id
  } cases[] = {
      // Tuples: the longer count wins, missing bytes count as 0.
      {kActionAdd, tup({1, 2, 3}), tup({1, 1, 1, 1}), "2.3.4.1"},
      {kActionAdd, tup({1, 2, 3, 4}), tup({1, 1, 1}), "2.3.4.4"},
      {kActionAdd, tup({1, 2, 3}), tup({0, 0, 0, 0, 5}), "1.2.3.0.5"},
      {kActionMultiply, tup({1, 2, 3, 4}), tup({2, 2, 2}), "2.4.6.0"},
      {kActionSubtract, tup({10, 1, 200}), tup({5, 2, 100}), "5.0.100"},
      {kActionRemainder, tup({7, 8, 9}), tup({4, 3, 2}), "3.2.1"},
      {kActionDivide, tup({1, 2, 3, 4}), tup({1, 1, 1}), "!zero-divide"},
      // Integers: the same operand for every byte.
      {kActionAdd, tup({250, 250, 250}), integer_cell(10), "255.255.255"},
      {kActionSubtract, tup({1, 2, 3}), integer_cell(5), "0.0.0"},
      {kActionDivide, tup({10, 20, 30}), integer_cell(3), "3.6.10"},
      {kActionDivide, tup({10, 20, 30}), integer_cell(-1), "0.0.0"},
      {kActionDivide, tup({1, 2, 3}), integer_cell(0), "!zero-divide"},
      {kActionRemainder, tup({7, 8, 9}), integer_cell(4), "3.0.1"},
      {kActionRemainder, tup({7, 8, 9}), integer_cell(0), "!zero-divide"},
      // Past the 32-bit range: 255 above, 0 below.
      {kActionAdd, tup({10, 0, 0}), integer_cell(INT32_MAX), "255.255.255"},
      {kActionMultiply, tup({10, 0, 1}), integer_cell(100000000), "255.0.255"},
      {kActionMultiply, tup({2, 0, 1}), integer_cell(INT32_MIN), "0.0.0"},
      {kActionSubtract, tup({0, 0, 0}), integer_cell(INT32_MIN), "255.255.255"},
      // Bitwise, then clamped.
      {kActionAndT, tup({12, 10, 255}), integer_cell(10), "8.10.10"},
      {kActionOrT, tup({1, 2, 3}), tup({4, 4, 4}), "5.6.7"},
      {kActionXorT, tup({255, 0, 15}), integer_cell(255), "0.255.240"},
      {kActionOrT, tup({1, 2, 3}), integer_cell(-1), "0.0.0"},
      // Floats and percents: truncated toward zero; NaN gives 0.
      {kActionMultiply, tup({10, 20, 30}), float_cell(1.5), "15.30.45"},
      {kActionMultiply, tup({100, 100, 100}), float_cell(3.0), "255.255.255"},
      {kActionMultiply, tup({10, 20, 31}), percent_cell(0.5), "5.10.15"},
      {kActionSubtract, tup({10, 20, 30}), float_cell(10.5), "0.9.19"},
      {kActionDivide, tup({0, 2, 3}), float_cell(0.0), "0.255.255"},
      {kActionRemainder, tup({7, 8, 9}), float_cell(2.0), "1.0.1"},
      {kActionAndT, tup({1, 2, 3}), float_cell(1.0), "!cannot-use"},
      // Operands of other types.
      {kActionAdd, tup({1, 2, 3}), kNoneCell, "!invalid-type"},
      {kActionAdd, tup({1, 2, 3}), char_cell('a'), "!invalid-type"},
      {kActionAdd, tup({1, 2, 3}), *push_text("a"), "!invalid-type"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(outcome(c.action, {c.a, c.b}), c.expected)
        << g_actions_table[c.action].word << " " << mold_of(c.a) << " " << mold_of(c.b);

  // A zero divisor stops at its byte; the bytes before it stay written.
  Cell t = tup({10, 20, 30, 40}), divisor = tup({2, 5, 3});
  EXPECT_EQ(catch_error([&] { tuple_do_math(&t, &divisor, kMathDivide); }), kErrMathZeroDivide);
  EXPECT_EQ(mold_of(t), "5.4.10.40");
}

TEST(TupleTest, NumberFirstSwapsOrRefuses) {
  // integer! hands over to the tuple's handlers.
  EXPECT_EQ(outcome(kActionAdd, {integer_cell(10), tup({1, 2, 3})}), "11.12.13");
  EXPECT_EQ(outcome(kActionMultiply, {integer_cell(2), tup({1, 2, 200})}), "2.4.255");
  EXPECT_EQ(outcome(kActionAndT, {integer_cell(12), tup({10, 20, 30})}), "8.4.12");
  EXPECT_EQ(outcome(kActionSubtract, {integer_cell(10), tup({1, 2, 3})}), "!not-related");
  EXPECT_EQ(outcome(kActionDivide, {integer_cell(10), tup({1, 2, 3})}), "!not-related");

  // float! and percent! hand over without swapping: the tuple's arithmetic swaps.
  EXPECT_EQ(outcome(kActionMultiply, {float_cell(1.5), tup({10, 20, 30})}), "15.30.45");
  EXPECT_EQ(outcome(kActionAdd, {percent_cell(0.5), tup({10, 20, 30})}), "10.20.30");
  EXPECT_EQ(outcome(kActionSubtract, {float_cell(1.5), tup({1, 2, 3})}), "!not-related");
  EXPECT_EQ(outcome(kActionRemainder, {float_cell(1.5), tup({1, 2, 3})}), "!not-related");

  // A number in the first slot: the result lands there.
  StackSave save;
  Cell* number = stack_push_value(float_cell(1.5));
  Cell* tuple = stack_push_value(tup({10, 20, 30}));
  EXPECT_EQ(mold_of(*tuple_do_math(number, tuple, kMathMultiply)), "15.30.45");
  EXPECT_TRUE(number->is(kTypeTuple));
  // Subtract, divide and remainder have no swapped form: they name the action and the number's type.
  for (int op : {kMathSubtract, kMathDivide, kMathRemainder}) {
    *number = float_cell(1.5);
    *tuple = tup({10, 20, 30});
    EXPECT_EQ(catch_error([&] { tuple_do_math(number, tuple, op); }), kErrScriptNotRelated) << op;
    EXPECT_EQ(symbol_name(word_symbol(&last_raised_error().args[0])),
              g_actions_table[math_action_id(op)].word);
    EXPECT_EQ(datatype_type(&last_raised_error().args[1]), kTypeFloat);
  }
}

// One step of path access on the tuple [parent] (changed in place when setting).
Cell* path_step(Cell* parent, Cell element, const Cell* value = nullptr) {
  EvalPathArgs args;
  args.element = stack_push_value(element);
  args.value = value ? stack_push_value(*value) : nullptr;
  return action_eval_path(parent, args);
}

TEST(TupleTest, PathAccess) {
  StackSave save;
  Cell* t = stack_push_value(tup({1, 2, 3, 4}));
  EXPECT_EQ(test::integer_of(*path_step(t, integer_cell(2))), 2);
  struct Bad {
    const char* name;
    Cell element;
    const Cell* value;
    ErrorId error;
  } bad[] = {
      {"index 0", integer_cell(0), nullptr, kErrScriptOutOfRange},
      {"index past the count", integer_cell(5), nullptr, kErrScriptOutOfRange},
      {"word element", test::word("x"), nullptr, kErrScriptInvalidType},
      {"set past the count", integer_cell(5), &kNoneCell, kErrScriptOutOfRange},
      {"set a float", integer_cell(1), stack_push_value(float_cell(1.0)), kErrScriptInvalidType},
  };
  for (const Bad& b : bad)
    EXPECT_EQ(catch_error([&] { path_step(t, b.element, b.value); }), b.error) << b.name;
  EXPECT_EQ(mold_of(*t), "1.2.3.4");

  // Setting clamps and returns the value set.
  Cell big = integer_cell(300), low = integer_cell(-5);
  EXPECT_EQ(test::integer_of(*path_step(t, integer_cell(1), &big)), 300);
  path_step(t, integer_cell(3), &low);
  EXPECT_EQ(mold_of(*t), "255.2.0.4");

  // none cuts the count at the index, never below 3, and clears what it cuts.
  t->header |= kFlagNewLine;
  path_step(t, integer_cell(4), &kNoneCell);
  EXPECT_EQ(mold_of(*t), "255.2.0");
  EXPECT_FALSE(t->new_line());  // the count changed: bits 29-31 cleared
  Cell* u = stack_push_value(tup({1, 2, 3}));
  u->header |= kFlagNewLine;
  path_step(u, integer_cell(2), &kNoneCell);
  EXPECT_EQ(mold_of(*u), "1.0.0");
  EXPECT_TRUE(u->new_line());  // count unchanged: header kept
  Cell* v = stack_push_value(tup({1, 2, 3, 4, 5, 6}));
  path_step(v, integer_cell(5), &kNoneCell);
  Cell made = tup({1, 2, 3, 4});
  EXPECT_TRUE(compare(*v, made, kCmpEqual));
  EXPECT_EQ(hash_value(v), hash_value(&made));
  EXPECT_EQ(std::memcmp(tuple_bytes(v), tuple_bytes(&made), kTupleMaxLength), 0);
}

TEST(TupleTest, PickAndZero) {
  Cell t = tup({1, 2, 3});
  EXPECT_EQ(test::integer_of(call_action(kActionPick, {t, integer_cell(3)})), 3);
  for (int32_t i : {0, 4, -1}) {
    EXPECT_EQ(catch_error([&] {
                call_action(kActionPick, {t, integer_cell(i)});
              }),
              kErrScriptOutOfRange)
        << i;
    EXPECT_EQ(integer_get(&last_raised_error().args[0]), i);
  }
  EXPECT_TRUE(tuple_zero_q(&*tuple_from_bytes(std::vector<int32_t>{0, 0, 0, 0})));
  EXPECT_FALSE(tuple_zero_q(&t));
}

TEST(TupleTest, Reverse) {
  Cell four = tup({1, 2, 3, 4});
  struct Case {
    const char* name;
    Cell value;
    const Cell* part;
    const Cell* skip;
    const char* expected;  // mold, or "!" and the error id
  } cases[] = {
      {"whole", four, nullptr, nullptr, "4.3.2.1"},
      {"part", four, stack_push_value(integer_cell(2)), nullptr, "2.1.3.4"},
      {"part past the count", four, stack_push_value(integer_cell(10)), nullptr, "4.3.2.1"},
      {"part 0", four, stack_push_value(integer_cell(0)), nullptr, "1.2.3.4"},
      {"skip 2", four, nullptr, stack_push_value(integer_cell(2)), "3.4.1.2"},
      {"skip 2 of 6", tup({1, 2, 3, 4, 5, 6}), nullptr, stack_push_value(integer_cell(2)), "5.6.3.4.1.2"},
      {"skip the length", four, nullptr, stack_push_value(integer_cell(4)), "1.2.3.4"},
      {"part and skip", tup({1, 2, 3, 4, 5}), stack_push_value(integer_cell(4)),
       stack_push_value(integer_cell(2)), "3.4.1.2.5"},
      {"negative part", four, stack_push_value(integer_cell(-1)), nullptr, "!out-of-range"},
      {"part not an integer", four, stack_push_value(float_cell(2.0)), nullptr, "!invalid-refine-arg"},
      {"skip 0", four, nullptr, stack_push_value(integer_cell(0)), "!out-of-range"},
      {"skip not dividing", four, nullptr, stack_push_value(integer_cell(3)), "!invalid-refine-arg"},
      {"skip above the length", four, nullptr, stack_push_value(integer_cell(5)), "!invalid-refine-arg"},
      {"skip not an integer", four, nullptr, stack_push_value(kNoneCell), "!invalid-refine-arg"},
  };
  for (const Case& c : cases) {
    Act reverse(kActionReverse, {c.value});
    if (c.part) reverse.ref("part", *c.part);
    if (c.skip) reverse.ref("skip", *c.skip);
    EXPECT_EQ(outcome([&] { return *reverse.run(); }), c.expected) << c.name;
  }
}

TEST(TupleTest, ComplementAndRandom) {
  EXPECT_EQ(mold_of(call_action(kActionComplement, {tup({0, 255, 15, 1})})), "255.0.240.254");

  // /seed seeds with the three payload words xored; the result is unset!.
  Cell seed = tup({1, 2, 3, 4, 5, 6, 7, 8, 9});
  EXPECT_TRUE(Act(kActionRandom, {seed}).ref("seed").value().is(kTypeUnset));
  int32_t first = random_next();
  random_seed((1 | 2 << 8 | 3 << 16 | 4 << 24) ^ (5 | 6 << 8 | 7 << 16 | 8 << 24) ^ 9);
  EXPECT_EQ(random_next(), first);

  // Each byte b becomes 0..b.
  bool varied = false;
  for (int i = 0; i < 50; i++) {
    Cell r = call_action(kActionRandom, {tup({0, 1, 255, 10})});
    const uint8_t* b = tuple_bytes(&r);
    EXPECT_EQ(tuple_length(&r), 4u);
    EXPECT_EQ(b[0], 0);
    EXPECT_LE(b[1], 1);
    EXPECT_LE(b[3], 10);
    varied = varied || b[2] != 255;
  }
  EXPECT_TRUE(varied);
}

TEST(TupleTest, Helpers) {
  Cell c;
  tuple_set_rgba(&c, 1, 2, 3, -1);
  EXPECT_EQ(mold_of(c), "1.2.3");
  tuple_set_rgba(&c, 1, 2, 3, 128);
  EXPECT_EQ(mold_of(c), "1.2.3.128");
  EXPECT_EQ(mold_of(*tuple_from_bytes(std::vector<int32_t>{300, 1})), "44.1.0");
  EXPECT_EQ(mold_of(*tuple_push(4, 0x04030201, 0, 0)), "1.2.3.4");
}

}  // namespace
}  // namespace kiv
