// vector!: make from numbers and spec blocks, element storage and read-back,
// form and mold, compare, arithmetic with scalars on either side and with
// vectors, path access, make/to block!, and the series actions on vectors,
// through the action entry points.
#include "datatypes/vector.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "datatypes/series.h"
#include "kiv_test.h"
#include "runtime/type_hooks.h"

namespace kiv {
namespace {

using test::Act;
using test::at_head;
using test::call_action;
using test::catch_error;
using test::compare;
using test::form_of;
using test::mold;
using test::mold_of;
using test::outcome;

Cell i(int32_t n) { return integer_cell(n); }
Cell f(double d) { return float_cell(d); }
Cell pc(double d) { return float_cell(d, kTypePercent); }
Cell c(uint32_t cp) { return char_cell(cp); }
Cell w(const char* name) { return test::word(name); }
Cell blk(std::initializer_list<Cell> cells) { return *test::block_of(cells); }
Cell text(const char* s) { return test::text_cell(s); }

// A value of the element type named [type] for the number [n].
Cell element_of(const std::string& type, double n) {
  if (type == "integer!") return i(int32_t(n));
  if (type == "char!") return c(uint32_t(n));
  if (type == "float!") return f(n);
  return pc(n);
}

// make vector! [type bits [values]], pushed.
Cell vec(const char* type, int32_t bits, std::initializer_list<double> values) {
  Cell* list = test::block_of({});
  for (double n : values) {
    Cell e = element_of(type, n);
    block_append_value(list, &e);
  }
  return *test::make(kTypeVector, blk({w(type), i(bits), *list}));
}
// make vector! [values] (default sizes), pushed.
Cell vec(std::initializer_list<Cell> values) { return *test::make(kTypeVector, blk(values)); }

// ---------------------------------------------------------------- make

TEST(VectorTest, MakeFromSpecs) {
  struct Case {
    const char* name;
    std::function<Cell()> spec;
    const char* result;  // molded, or "!" and the error id
  } cases[] = {
      {"count", [] { return i(3); }, "make vector! [0 0 0]"},
      {"float count truncated", [] { return f(2.9); }, "make vector! [0 0]"},
      {"zero count", [] { return i(0); }, "make vector! [integer! 32 []]"},
      {"negative count", [] { return i(-4); }, "make vector! [integer! 32 []]"},
      {"count out of range", [] { return f(3e9); }, "!out-of-range"},
      {"empty block", [] { return blk({}); }, "make vector! [integer! 32 []]"},
      {"integers",
       [] {
         return blk({i(1), i(-2), i(3)});
       },
       "make vector! [1 -2 3]"},
      {"floats",
       [] {
         return blk({f(1.5), f(-2)});
       },
       "make vector! [1.5 -2.0]"},
      {"percents",
       [] {
         return blk({pc(0.5), pc(-0.125)});
       },
       "make vector! [50% -12.5%]"},
      {"chars",
       [] {
         return blk({c('a'), c('"'), c('\n')});
       },
       R"t(make vector! [#"a" #"^"" #"^/"])t"},
      {"values from the block's head",
       [] {
         return at_head(test::block_of({i(1), i(2)}), 1);
       },
       "make vector! [2]"},
      {"mixed values",
       [] {
         return blk({i(1), f(2.0)});
       },
       "!invalid-arg"},
      {"a first value of no element type", [] { return blk({text("x")}); }, "!invalid-type"},
      {"8 bits keep the low byte",
       [] {
         return blk({w("integer!"), i(8), blk({i(1), i(2), i(300)})});
       },
       "make vector! [integer! 8 [1 2 44]]"},
      {"count beyond the values is zero-filled",
       [] {
         return blk({w("integer!"), i(16), i(5), blk({i(1), i(2)})});
       },
       "make vector! [integer! 16 [1 2 0 0 0]]"},
      {"values beyond the count",
       [] {
         return blk({w("integer!"), i(32), i(1), blk({i(7), i(8)})});
       },
       "make vector! [7 8]"},
      {"count alone",
       [] {
         return blk({w("float!"), i(64), i(2)});
       },
       "make vector! [0.0 0.0]"},
      {"count below 1",
       [] {
         return blk({w("integer!"), i(8), i(-3)});
       },
       "make vector! [integer! 8 []]"},
      {"type word in any case",
       [] {
         return blk({w("Integer!"), i(32), i(1)});
       },
       "make vector! [0]"},
      {"chars of 8 bits",
       [] {
         return blk({w("char!"), i(8), blk({c('a')})});
       },
       R"t(make vector! [char! 8 [#"a"]])t"},
      {"floats of 32 bits",
       [] {
         return blk({w("float!"), i(32), blk({f(1.5)})});
       },
       "make vector! [float! 32 [1.5]]"},
      {"percent without bits",
       [] {
         return blk({w("percent!"), blk({pc(0.5)})});
       },
       "make vector! [50%]"},
      {"percent takes any bits as 64",
       [] {
         return blk({w("percent!"), i(8), blk({pc(0.5)})});
       },
       "make vector! [50%]"},
      {"bad bits",
       [] {
         return blk({w("integer!"), i(12), blk({i(1)})});
       },
       "!bad-make-arg"},
      {"64-bit integers",
       [] {
         return blk({w("integer!"), i(64), i(1)});
       },
       "!bad-make-arg"},
      {"16-bit floats",
       [] {
         return blk({w("float!"), i(16), i(1)});
       },
       "!bad-make-arg"},
      {"unknown type word",
       [] {
         return blk({w("string!"), i(8), i(1)});
       },
       "!bad-make-arg"},
      {"type word alone", [] { return blk({w("integer!")}); }, "!bad-make-arg"},
      {"float without bits",
       [] {
         return blk({w("float!"), blk({f(1.0)})});
       },
       "!invalid-spec-field"},
      {"nothing after the bits",
       [] {
         return blk({w("integer!"), i(8)});
       },
       "!invalid-spec-field"},
      {"a word after the bits",
       [] {
         return blk({w("integer!"), i(8), w("x")});
       },
       "!invalid-spec-field"},
      {"a word after the count",
       [] {
         return blk({w("integer!"), i(8), i(2), w("x")});
       },
       "!invalid-spec-field"},
      {"values of another type",
       [] {
         return blk({w("integer!"), i(8), blk({f(1.0)})});
       },
       "!invalid-arg"},
      {"too many elements",
       [] {
         return blk({w("integer!"), i(32), i(1000000000)});
       },
       "!no-memory"},
      {"text", [] { return text("x"); }, "!not-done"},
      {"none", [] { return kNoneCell; }, "!not-done"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    EXPECT_EQ(outcome([&] { return *test::make(kTypeVector, k.spec()); }), k.result);
  }
  // The spec block itself is the error's argument, at its own position.
  Cell spec = blk({w("integer!"), i(12), i(1)});
  EXPECT_EQ(catch_error([&] { test::make(kTypeVector, spec); }), kErrScriptBadMakeArg);
  EXPECT_EQ(last_raised_error().args[1].node(), spec.node());
  // to vector! is not supported.
  EXPECT_EQ(outcome([] { return *test::to(kTypeVector, blk({i(1)})); }), "!expect-arg");
}

// ---------------------------------------------------------------- elements

TEST(VectorTest, ElementsStoreLowBitsAndReadBack) {
  struct Case {
    const char* type;
    int32_t bits;
    double stored;
    const char* read;  // the molded element picked back
  } cases[] = {
      {"integer!", 8, 200, "-56"},  // sign-extended
      {"integer!", 8, -1, "-1"},
      {"integer!", 16, 40000, "-25536"},
      {"integer!", 16, 65536 + 7, "7"},
      {"integer!", 32, -2147483648.0, "-2147483648"},
      {"char!", 8, 255, R"t(#"^(FF)")t"},  // zero-extended
      {"char!", 8, 256 + 'a', R"t(#"a")t"},
      {"char!", 16, 0xFFFF, R"t(#"^(FFFF)")t"},
      {"char!", 32, 0x10FFFF, R"t(#"^(10FFFF)")t"},
      {"float!", 32, 0.1, "0.10000000149011612"},  // a single, read back as a double
      {"float!", 64, 0.1, "0.1"},
      {"percent!", 64, 0.125, "12.5%"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(testing::Message() << k.type << " " << k.bits << " " << k.stored);
    Cell v = vec(k.type, k.bits, {k.stored});
    EXPECT_EQ(vector_size(&v) * 8, uint32_t(k.bits));
    Cell r = call_action(kActionPick, {v, i(1)});
    EXPECT_EQ(mold_of(r, true), k.read);
  }
}

// ---------------------------------------------------------------- form and mold

TEST(VectorTest, FormAndMold) {
  Cell ints = vec({i(1), i(2), i(3)});
  Cell bytes = vec("integer!", 8, {1, 2, 3});
  Cell chars = vec({c('a'), c('\n'), c('"')});
  Cell high = vec("char!", 8, {255});
  Cell singles = vec("float!", 32, {0.1, 1e10});
  Cell doubles = vec({f(0.1), f(-0.0)});
  Cell percents = vec({pc(0.5), pc(0.0001)});
  Cell empty = vec({});
  Cell long_vector = *test::make(kTypeVector, i(100));
  struct Case {
    const char* name;
    std::function<std::string()> text;
    const char* expected;
  } cases[] = {
      {"form", [&] { return form_of(ints); }, "1 2 3"},
      {"form from the head", [&] { return form_of(at_head(&ints, 1)); }, "2 3"},
      {"form of chars escapes them", [&] { return form_of(chars); }, R"t(a ^/ ^")t"},
      {"form of singles", [&] { return form_of(singles); }, "0.1 1.0e10"},
      {"form of percents", [&] { return form_of(percents); }, "50% 0.01%"},
      {"form of empty", [&] { return form_of(empty); }, ""},
      {"form/part", [&] { return form_of(long_vector, 7); }, "0 0 0 0"},
      {"mold, default size", [&] { return mold_of(ints); }, "make vector! [1 2 3]"},
      {"mold, 8 bits", [&] { return mold_of(bytes); }, "make vector! [integer! 8 [1 2 3]]"},
      {"mold of chars", [&] { return mold_of(chars); }, R"t(make vector! [#"a" #"^/" #"^""])t"},
      {"mold/all of a high char", [&] { return mold_of(high, true); },
       R"t(make vector! [char! 8 [#"^(FF)"]])t"},
      {"mold of singles", [&] { return mold_of(singles); }, "make vector! [float! 32 [0.1 1.0e10]]"},
      {"mold of doubles", [&] { return mold_of(doubles); }, "make vector! [0.1 0.0]"},
      {"mold of empty", [&] { return mold_of(empty); }, "make vector! [integer! 32 []]"},
      {"mold at the tail of a full buffer", [&] { return mold_of(at_head(&ints, 3)); }, "make vector! []"},
      {"mold/only", [&] { return mold(ints, true); }, "1 2 3"},
      {"mold/only, 8 bits", [&] { return mold(bytes, true); }, "integer! 8 [1 2 3]"},
      {"mold/part", [&] { return mold(long_vector, false, false, false, 20); }, "make vector! [0 0 0 "},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    EXPECT_EQ(k.text(), k.expected);
  }
}

// ---------------------------------------------------------------- compare

TEST(VectorTest, Compare) {
  Cell a = vec({i(1), i(2), i(3)});
  Cell a8 = vec("integer!", 8, {1, 2, 3});
  Cell shorter = vec({i(1), i(2)});
  Cell bigger = vec({i(1), i(3)});
  Cell floats = vec({f(1), f(2), f(3)});
  Cell nans = vec({f(NAN), f(2)});
  Cell other_nans = vec({f(1), f(2)});
  Cell high = vec("char!", 8, {255});
  Cell low = vec("char!", 8, {1});
  struct Case {
    const char* name;
    Cell x, y;
    CompareOp op;
    bool truth;
  } cases[] = {
      {"equal", a, vec({i(1), i(2), i(3)}), kCmpEqual, true},
      {"element sizes do not matter", a, a8, kCmpStrictEqual, true},
      {"lengths differ", a, shorter, kCmpEqual, false},
      {"not equal", a, shorter, kCmpNotEqual, true},
      {"shorter first", shorter, a, kCmpLesser, true},
      {"first difference decides", bigger, a, kCmpGreater, true},
      {"from the heads", at_head(&a, 1), vec({i(2), i(3)}), kCmpEqual, true},
      {"NaN counts as equal", nans, other_nans, kCmpEqual, true},
      {"chars are unsigned", high, low, kCmpGreater, true},
      {"same value", a, a, kCmpSame, true},
      {"equal but not the same", a, vec({i(1), i(2), i(3)}), kCmpSame, false},
      {"another head is not the same", a, at_head(&a, 1), kCmpSame, false},
      {"a block is never equal", a, blk({i(1), i(2), i(3)}), kCmpEqual, false},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    EXPECT_EQ(compare(k.x, k.y, k.op), k.truth);
  }
  EXPECT_EQ(catch_error([&] { compare(a, floats, kCmpEqual); }), kErrScriptNotSameType);
  EXPECT_EQ(catch_error([&] { compare(a, blk({i(1)}), kCmpLesser); }), kErrScriptInvalidCompare);
  // Equal vectors hash alike, whatever their element sizes.
  EXPECT_EQ(hash_value(&a), hash_value(&a8));
  EXPECT_EQ(hash_value(&nans), hash_value(&nans));
  Cell zero = vec({f(0.0)}), minus_zero = vec({f(-0.0)});
  EXPECT_EQ(hash_value(&zero), hash_value(&minus_zero));
}

// ---------------------------------------------------------------- arithmetic

// The outcome of [action] on [left] and [right], then the mold of [watched]
// after it, separated by " | ".
std::string math(ActionId action, Cell left, Cell right, Cell watched) {
  std::string result = outcome(action, {left, right});
  return result + " | " + mold_of(watched);
}

TEST(VectorTest, ArithmeticWithScalars) {
  struct Case {
    const char* name;
    std::function<Cell()> vector;
    ActionId action;
    Cell scalar;
    bool scalar_first;
    const char* expected;  // result | the vector afterwards
  } cases[] = {
      // The vector changes in place and is the result.
      {"add",
       [] {
         return vec({i(1), i(2)});
       },
       kActionAdd, i(1), false, "make vector! [2 3] | make vector! [2 3]"},
      {"add wraps", [] { return vec({i(2147483647)}); }, kActionAdd, i(1), false,
       "make vector! [-2147483648] | make vector! [-2147483648]"},
      {"divide truncates",
       [] {
         return vec({i(7), i(-7)});
       },
       kActionDivide, i(2), false, "make vector! [3 -3] | make vector! [3 -3]"},
      {"remainder",
       [] {
         return vec({i(7), i(-7)});
       },
       kActionRemainder, i(2), false, "make vector! [1 -1] | make vector! [1 -1]"},
      {"8 bits keep the low byte", [] { return vec("integer!", 8, {100}); }, kActionMultiply, i(3), false,
       "make vector! [integer! 8 [44]] | make vector! [integer! 8 [44]]"},
      {"a float scalar is truncated",
       [] {
         return vec({i(1), i(2)});
       },
       kActionMultiply, f(2.9), false, "make vector! [2 4] | make vector! [2 4]"},
      {"bitwise and",
       [] {
         return vec({i(6), i(5)});
       },
       kActionAndT, i(3), false, "make vector! [2 1] | make vector! [2 1]"},
      {"bitwise or",
       [] {
         return vec({i(6), i(5)});
       },
       kActionOrT, i(8), false, "make vector! [14 13] | make vector! [14 13]"},
      {"bitwise xor",
       [] {
         return vec({i(6), i(5)});
       },
       kActionXorT, i(1), false, "make vector! [7 4] | make vector! [7 4]"},
      {"from the head only",
       [] {
         return at_head(test::make(kTypeVector, blk({i(1), i(2)})), 1);
       },
       kActionAdd, i(5), false, "make vector! [7] | make vector! [7]"},
      {"floats",
       [] {
         return vec({f(1.5), f(2)});
       },
       kActionMultiply, i(2), false, "make vector! [3.0 4.0] | make vector! [3.0 4.0]"},
      {"float division by zero",
       [] {
         return vec({f(1), f(-1)});
       },
       kActionDivide, i(0), false, "make vector! [1.#INF -1.#INF] | make vector! [1.#INF -1.#INF]"},
      {"singles", [] { return vec("float!", 32, {0.5}); }, kActionAdd, f(0.25), false,
       "make vector! [float! 32 [0.75]] | make vector! [float! 32 [0.75]]"},
      {"percents", [] { return vec({pc(0.5)}); }, kActionMultiply, i(2), false,
       "make vector! [100%] | make vector! [100%]"},
      {"chars",
       [] {
         return vec({c('a'), c('b')});
       },
       kActionAdd, i(1), false, R"t(make vector! [#"b" #"c"] | make vector! [#"b" #"c"])t"},
      {"8-bit chars wrap", [] { return vec("char!", 8, {'a'}); }, kActionAdd, i(200), false,
       R"t(make vector! [char! 8 [#")"]] | make vector! [char! 8 [#")"]])t"},
      // Errors leave the vector as it was.
      {"zero divide",
       [] {
         return vec({i(1), i(2)});
       },
       kActionDivide, i(0), false, "!zero-divide | make vector! [1 2]"},
      {"overflow past the first element",
       [] {
         return vec({i(4), i(-2147483647 - 1)});
       },
       kActionDivide, i(-1), false, "!overflow | make vector! [4 -2147483648]"},
      {"chars past the last code point",
       [] {
         return vec({c('a'), c(0x10FFFF)});
       },
       kActionAdd, i(1), false, "!overflow | make vector! [#\"a\" #\"\xF4\x8F\xBF\xBF\"]"},
      {"chars below zero", [] { return vec({c('a')}); }, kActionSubtract, i(98), false,
       R"t(!overflow | make vector! [#"a"])t"},
      {"bitwise on floats", [] { return vec({f(1)}); }, kActionAndT, i(1), false,
       "!cannot-use | make vector! [1.0]"},
      {"a scalar of no number type", [] { return vec({i(1)}); }, kActionAdd, kNoneCell, false,
       "!not-done | make vector! [1]"},
      {"a text scalar", [] { return vec({i(1)}); }, kActionAdd, text("1"), false,
       "!not-done | make vector! [1]"},
      // With the scalar first, add and multiply change the vector in place;
      // subtract, divide and remainder give a new vector of scalar op element.
      {"1 + v",
       [] {
         return vec({i(1), i(2)});
       },
       kActionAdd, i(1), true, "make vector! [2 3] | make vector! [2 3]"},
      {"2 * v",
       [] {
         return vec({i(1), i(2)});
       },
       kActionMultiply, i(2), true, "make vector! [2 4] | make vector! [2 4]"},
      {"10 - v",
       [] {
         return vec({i(1), i(2), i(3)});
       },
       kActionSubtract, i(10), true, "make vector! [9 8 7] | make vector! [1 2 3]"},
      {"10 / v",
       [] {
         return vec({i(3), i(-4)});
       },
       kActionDivide, i(10), true, "make vector! [3 -2] | make vector! [3 -4]"},
      {"10 // v",
       [] {
         return vec({i(3), i(4)});
       },
       kActionRemainder, i(10), true, "make vector! [1 2] | make vector! [3 4]"},
      {"8 bits, scalar first", [] { return vec("integer!", 8, {1}); }, kActionSubtract, i(0), true,
       "make vector! [integer! 8 [-1]] | make vector! [integer! 8 [1]]"},
      {"1 / 0-element", [] { return vec({i(0)}); }, kActionDivide, i(1), true,
       "!zero-divide | make vector! [0]"},
      {"1.5 - floats",
       [] {
         return vec({f(1), f(0.5)});
       },
       kActionSubtract, f(1.5), true, "make vector! [0.5 1.0] | make vector! [1.0 0.5]"},
      {"50% * floats", [] { return vec({f(2)}); }, kActionMultiply, pc(0.5), true,
       "make vector! [1.0] | make vector! [1.0]"},
      {"char - chars", [] { return vec({c(1)}); }, kActionSubtract, c('z'), true,
       R"t(make vector! [#"y"] | make vector! [#"^A"])t"},
      {"char + integers", [] { return vec({i(1)}); }, kActionAdd, c('a'), true,
       "make vector! [98] | make vector! [98]"},
      {"a time first", [] { return vec({f(1)}); }, kActionAdd, float_cell(60, kTypeTime), true,
       "!not-done | make vector! [1.0]"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    Cell v = k.vector();
    EXPECT_EQ(k.scalar_first ? math(k.action, k.scalar, v, v) : math(k.action, v, k.scalar, v), k.expected);
  }
}

// The identities change nothing, and so touch nothing: a -0.0 stays.
TEST(VectorTest, IdentitiesLeaveTheElements) {
  for (ActionId action : {kActionAdd, kActionSubtract, kActionMultiply, kActionDivide}) {
    Cell v = vec({f(-0.0), f(NAN)});
    Cell scalar = action == kActionAdd || action == kActionSubtract ? i(0) : f(1.0);
    Cell r = call_action(action, {v, scalar});
    EXPECT_EQ(r.node(), v.node());
    Cell zero = call_action(kActionPick, {v, i(1)});
    EXPECT_TRUE(std::signbit(float_get(&zero))) << int(action);
    EXPECT_EQ(mold_of(v), "make vector! [0.0 1.#NaN]") << int(action);
  }
}

TEST(VectorTest, ArithmeticBetweenVectors) {
  struct Case {
    const char* name;
    std::function<Cell()> left, right;
    ActionId action;
    const char* expected;  // result | the left vector afterwards
  } cases[] = {
      {"the shorter length",
       [] {
         return vec({i(1), i(2), i(3)});
       },
       [] {
         return vec({i(10), i(20)});
       },
       kActionAdd, "make vector! [11 22] | make vector! [1 2 3]"},
      {"from the heads",
       [] {
         return at_head(test::make(kTypeVector, blk({i(1), i(2), i(3)})), 1);
       },
       [] {
         return vec({i(1), i(1)});
       },
       kActionMultiply, "make vector! [2 3] | make vector! [2 3]"},
      {"the larger element size",
       [] {
         return vec("integer!", 8, {1, 2});
       },
       [] {
         return vec({i(300), i(1)});
       },
       kActionAdd, "make vector! [301 3] | make vector! [integer! 8 [1 2]]"},
      {"16 bits wrap", [] { return vec("integer!", 16, {30000}); }, [] { return vec("integer!", 8, {30}); },
       kActionMultiply, "make vector! [integer! 16 [-17504]] | make vector! [integer! 16 [30000]]"},
      {"subtract",
       [] {
         return vec({i(5), i(5)});
       },
       [] {
         return vec({i(1), i(7)});
       },
       kActionSubtract, "make vector! [4 -2] | make vector! [5 5]"},
      {"floats of two sizes", [] { return vec("float!", 32, {0.5}); },
       [] {
         return vec({f(3), f(9)});
       },
       kActionDivide, "make vector! [0.1666666666666667] | make vector! [float! 32 [0.5]]"},
      {"chars", [] { return vec({c('a')}); }, [] { return vec({c(1)}); }, kActionAdd,
       R"t(make vector! [#"b"] | make vector! [#"a"])t"},
      {"an empty result", [] { return vec({i(1)}); }, [] { return vec({}); }, kActionAdd,
       "make vector! [integer! 32 []] | make vector! [1]"},
      {"zero divide",
       [] {
         return vec({i(1), i(2)});
       },
       [] {
         return vec({i(1), i(0)});
       },
       kActionDivide, "!zero-divide | make vector! [1 2]"},
      {"other element types", [] { return vec({i(1)}); }, [] { return vec({f(1)}); }, kActionAdd,
       "!not-same-type | make vector! [1]"},
      {"bitwise on floats", [] { return vec({f(1)}); }, [] { return vec({f(1)}); }, kActionOrT,
       "!cannot-use | make vector! [1.0]"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    Cell a = k.left(), b = k.right();
    EXPECT_EQ(math(k.action, a, b, a), k.expected);
  }
}

// ---------------------------------------------------------------- path access and blocks

TEST(VectorTest, PathAccess) {
  auto step = [](Cell parent, Cell element, const Cell* value) {
    EvalPathArgs args;
    args.element = stack_push_value(element);
    args.value = value ? stack_push_value(*value) : nullptr;
    args.path = stack_push_value(kNoneCell);
    Cell r = *action_eval_path(stack_push_value(parent), args);
    return stack_push_value(r);
  };
  // An integer is an index; any other value a key matched as a number.
  Cell v = vec({i(10), i(20), i(30)});
  EXPECT_EQ(mold_of(*step(v, i(2), nullptr)), "20");
  EXPECT_EQ(mold_of(*step(v, i(9), nullptr)), "none");
  EXPECT_EQ(mold_of(*step(v, f(20), nullptr)), "30");  // the element after a match
  EXPECT_EQ(mold_of(*step(v, f(30), nullptr)), "none");
  Cell nine = i(9);
  EXPECT_EQ(mold_of(*step(v, i(1), &nine)), "9");
  EXPECT_EQ(mold_of(*step(v, f(20), &nine)), "9");
  EXPECT_EQ(mold_of(v), "make vector! [9 20 9]");
  Cell chars = vec({c('a'), c('b')});
  Cell wide = c(0x20AC);
  step(chars, c('a'), &wide);
  EXPECT_EQ(mold_of(chars), R"(make vector! [#"a" #"€"])");
  EXPECT_EQ(vector_size(&chars), 4u);
  struct Error {
    const char* name;
    Cell element;
    const Cell* value;
    ErrorId error;
  } errors[] = {
      {"index out of range", i(4), &nine, kErrScriptOutOfRange},
      {"no match to set", f(99), &nine, kErrScriptBadPathSet},
      {"a value of another type", i(1), &wide, kErrScriptInvalidArg},
      {"a word", w("a"), nullptr, kErrScriptInvalidPath},
  };
  for (const Error& e : errors) {
    SCOPED_TRACE(e.name);
    EXPECT_EQ(catch_error([&] { step(v, e.element, e.value); }), e.error);
  }
  EXPECT_EQ(mold_of(v), "make vector! [9 20 9]");
  // A match at the last element has nothing after it to set.
  EXPECT_EQ(catch_error([&] { step(vec({i(1), i(2)}), f(2), &nine); }), kErrScriptOutOfRange);
}

TEST(VectorTest, MakeAndToBlock) {
  Cell v = vec("integer!", 8, {1, -2, 3});
  EXPECT_EQ(mold_of(*test::make(kTypeBlock, v)), "[1 -2 3]");
  EXPECT_EQ(mold_of(*test::to(kTypeBlock, at_head(&v, 1))), "[-2 3]");
  EXPECT_EQ(mold_of(*test::to(kTypeParen, vec({pc(0.5)}))), "(50%)");
  EXPECT_EQ(mold_of(*test::make(kTypeBlock, vec({}))), "[]");
  EXPECT_EQ(mold_of(*test::to(kTypeBlock, vec("char!", 16, {'x'}))), R"([#"x"])");
  // Back again.
  EXPECT_EQ(mold_of(*test::make(kTypeVector, *test::to(kTypeBlock, vec({f(1.5), f(2)})))),
            "make vector! [1.5 2.0]");
}

// ---------------------------------------------------------------- series actions

TEST(VectorTest, SeriesActions) {
  struct Case {
    const char* name;
    std::function<Cell()> vector;
    std::function<Cell(Cell)> act;
    const char* expected;  // result | the vector afterwards
  } cases[] = {
      {"pick",
       [] {
         return vec({i(1), i(2)});
       },
       [](Cell v) {
         return call_action(kActionPick, {v, i(2)});
       },
       "2 | make vector! [1 2]"},
      {"pick past the tail", [] { return vec({i(1)}); },
       [](Cell v) {
         return call_action(kActionPick, {v, i(2)});
       },
       "none | make vector! [1]"},
      {"poke",
       [] {
         return vec("integer!", 8, {1, 2});
       },
       [](Cell v) {
         return call_action(kActionPoke, {v, i(2), i(511)});
       },
       "511 | make vector! [integer! 8 [1 -1]]"},
      {"poke another type", [] { return vec({i(1)}); },
       [](Cell v) {
         return call_action(kActionPoke, {v, i(1), f(1)});
       },
       "!invalid-arg | make vector! [1]"},
      {"poke out of range", [] { return vec({i(1)}); },
       [](Cell v) {
         return call_action(kActionPoke, {v, i(2), i(1)});
       },
       "!out-of-range | make vector! [1]"},
      {"append", [] { return vec({i(1)}); },
       [](Cell v) {
         return call_action(kActionAppend, {v, i(2)});
       },
       "make vector! [1 2] | make vector! [1 2]"},
      {"append keeps the head",
       [] {
         return at_head(test::make(kTypeVector, blk({i(1), i(2)})), 1);
       },
       [](Cell v) {
         return call_action(kActionAppend, {v, i(3)});
       },
       "make vector! [2 3] | make vector! [1 2 3]"},
      {"append a block", [] { return vec({f(1)}); },
       [](Cell v) {
         return call_action(kActionAppend, {v, blk({f(2), f(3)})});
       },
       "make vector! [1.0 2.0 3.0] | make vector! [1.0 2.0 3.0]"},
      {"append/part", [] { return vec({i(1)}); },
       [](Cell v) {
         return Act(kActionAppend, {v, blk({i(2), i(3), i(4)})}).ref("part", i(2)).value();
       },
       "make vector! [1 2 3] | make vector! [1 2 3]"},
      {"append/part 0", [] { return vec({i(1)}); },
       [](Cell v) {
         return Act(kActionAppend, {v, blk({i(2)})}).ref("part", i(0)).value();
       },
       "make vector! [1] | make vector! [1]"},
      {"append/dup", [] { return vec("integer!", 16, {1}); },
       [](Cell v) {
         return Act(kActionAppend, {v, blk({i(2), i(3)})}).ref("dup", i(3)).value();
       },
       "make vector! [integer! 16 [1 2 3 2 3 2 3]] | make vector! [integer! 16 [1 2 3 2 3 2 3]]"},
      {"append/dup 0", [] { return vec({i(1)}); },
       [](Cell v) {
         return Act(kActionAppend, {v, i(2)}).ref("dup", i(0)).value();
       },
       "make vector! [1] | make vector! [1]"},
      {"append another type", [] { return vec({i(1)}); },
       [](Cell v) {
         return call_action(kActionAppend, {v, blk({i(2), f(3)})});
       },
       "!invalid-arg | make vector! [1]"},
      {"append a path", [] { return vec({i(1)}); },
       [](Cell v) {
         return call_action(kActionAppend, {v, *test::block_of({i(2)}, kTypePath)});
       },
       "!invalid-arg | make vector! [1]"},
      {"insert",
       [] {
         return vec({i(1), i(2)});
       },
       [](Cell v) {
         return call_action(kActionInsert, {v, i(0)});
       },
       "make vector! [1 2] | make vector! [0 1 2]"},
      {"insert in the middle",
       [] {
         return at_head(test::make(kTypeVector, blk({i(1), i(4)})), 1);
       },
       [](Cell v) {
         return call_action(kActionInsert, {v, blk({i(2), i(3)})});
       },
       "make vector! [4] | make vector! [1 2 3 4]"},
      {"insert at the tail", [] { return at_head(test::make(kTypeVector, blk({c('a')})), 1); },
       [](Cell v) {
         return call_action(kActionInsert, {v, c('b')});
       },
       R"t(make vector! [] | make vector! [#"a" #"b"])t"},
      {"change",
       [] {
         return vec({i(1), i(2), i(3)});
       },
       [](Cell v) {
         return call_action(kActionChange, {v, blk({i(7), i(8)})});
       },
       "make vector! [3] | make vector! [7 8 3]"},
      {"change past the tail", [] { return vec({i(1)}); },
       [](Cell v) {
         return call_action(kActionChange, {v, blk({i(7), i(8)})});
       },
       "make vector! [] | make vector! [7 8]"},
      {"change/part",
       [] {
         return vec({i(1), i(2), i(3)});
       },
       [](Cell v) {
         return Act(kActionChange, {v, i(9)}).ref("part", i(2)).value();
       },
       "make vector! [3] | make vector! [9 3]"},
      {"change/dup",
       [] {
         return vec({i(1), i(2), i(3)});
       },
       [](Cell v) {
         return Act(kActionChange, {v, i(9)}).ref("dup", i(2)).value();
       },
       "make vector! [3] | make vector! [9 9 3]"},
      {"change with a vector converts",
       [] {
         return vec("integer!", 8, {1, 2, 3});
       },
       [](Cell v) {
         return call_action(kActionChange, {v, vec({i(300), i(-1)})});
       },
       "make vector! [integer! 8 [3]] | make vector! [integer! 8 [44 -1 3]]"},
      {"change with a vector of singles",
       [] {
         return vec({f(1), f(2)});
       },
       [](Cell v) {
         return call_action(kActionChange, {v, vec("float!", 32, {0.5})});
       },
       "make vector! [2.0] | make vector! [0.5 2.0]"},
      {"change with a vector of another type", [] { return vec({i(1)}); },
       [](Cell v) {
         return call_action(kActionChange, {v, vec({f(2)})});
       },
       "!not-same-type | make vector! [1]"},
      {"change with a path",
       [] {
         return vec({i(1), i(2)});
       },
       [](Cell v) {
         return call_action(kActionChange, {v, *test::block_of({i(5)}, kTypePath)});
       },
       "make vector! [2] | make vector! [5 2]"},
      {"change another type",
       [] {
         return vec({i(1), i(2)});
       },
       [](Cell v) {
         return call_action(kActionChange, {v, blk({i(5), c('x')})});
       },
       "!invalid-arg | make vector! [1 2]"},
      {"remove",
       [] {
         return vec({i(1), i(2), i(3)});
       },
       [](Cell v) { return call_action(kActionRemove, {v}); }, "make vector! [2 3] | make vector! [2 3]"},
      {"clear",
       [] {
         return at_head(test::make(kTypeVector, blk({i(1), i(2)})), 1);
       },
       [](Cell v) { return call_action(kActionClear, {v}); }, "make vector! [] | make vector! [1]"},
      {"copy/part",
       [] {
         return vec("float!", 32, {1, 2, 3});
       },
       [](Cell v) { return Act(kActionCopy, {v}).ref("part", i(2)).value(); },
       "make vector! [float! 32 [1.0 2.0]] | make vector! [float! 32 [1.0 2.0 3.0]]"},
      {"find",
       [] {
         return vec({i(1), i(2), i(3)});
       },
       [](Cell v) {
         return call_action(kActionFind, {v, i(2)});
       },
       "make vector! [2 3] | make vector! [1 2 3]"},
      {"find a float in integers",
       [] {
         return vec({i(1), i(2)});
       },
       [](Cell v) {
         return call_action(kActionFind, {v, f(2)});
       },
       "make vector! [2] | make vector! [1 2]"},
      {"find a high char",
       [] {
         return vec("char!", 8, {1, 255});
       },
       [](Cell v) {
         return call_action(kActionFind, {v, c(255)});
       },
       R"t(make vector! [char! 8 [#"ÿ"]] | make vector! [char! 8 [#"^A" #"ÿ"]])t"},
      {"select",
       [] {
         return vec({pc(0.1), pc(0.2)});
       },
       [](Cell v) {
         return call_action(kActionSelect, {v, pc(0.1)});
       },
       "20% | make vector! [10% 20%]"},
      {"sort",
       [] {
         return vec("integer!", 8, {3, -1, 2});
       },
       [](Cell v) { return call_action(kActionSort, {v}); },
       "make vector! [integer! 8 [-1 2 3]] | make vector! [integer! 8 [-1 2 3]]"},
      {"sort chars unsigned",
       [] {
         return vec("char!", 8, {255, 1});
       },
       [](Cell v) { return call_action(kActionSort, {v}); },
       R"t(make vector! [char! 8 [#"^A" #"ÿ"]] | make vector! [char! 8 [#"^A" #"ÿ"]])t"},
      {"sort floats",
       [] {
         return vec({f(2.5), f(-1)});
       },
       [](Cell v) { return call_action(kActionSort, {v}); },
       "make vector! [-1.0 2.5] | make vector! [-1.0 2.5]"},
      {"reverse",
       [] {
         return vec("integer!", 16, {1, 2, 3});
       },
       [](Cell v) { return call_action(kActionReverse, {v}); },
       "make vector! [integer! 16 [3 2 1]] | make vector! [integer! 16 [3 2 1]]"},
      {"take",
       [] {
         return vec({i(1), i(2)});
       },
       [](Cell v) { return call_action(kActionTake, {v}); }, "1 | make vector! [2]"},
      {"take a high char", [] { return vec("char!", 8, {255}); },
       [](Cell v) { return call_action(kActionTake, {v}); }, R"t(#"ÿ" | make vector! [char! 8 []])t"},
      {"take/part",
       [] {
         return vec({i(1), i(2), i(3)});
       },
       [](Cell v) { return Act(kActionTake, {v}).ref("part", i(2)).value(); },
       "make vector! [1 2] | make vector! [3]"},
      {"length?",
       [] {
         return at_head(test::make(kTypeVector, blk({i(1), i(2)})), 1);
       },
       [](Cell v) { return call_action(kActionLengthQ, {v}); }, "1 | make vector! [1 2]"},
      {"swap is not supported", [] { return vec({i(1)}); },
       [](Cell v) {
         return call_action(kActionSwap, {v, vec({i(2)})});
       },
       "!expect-arg | make vector! [1]"},
      {"trim is not supported", [] { return vec({i(1)}); },
       [](Cell v) { return call_action(kActionTrim, {v}); }, "!expect-arg | make vector! [1]"},
      {"negate is not supported", [] { return vec({i(1)}); },
       [](Cell v) { return call_action(kActionNegate, {v}); }, "!expect-arg | make vector! [1]"},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    Cell v = k.vector();
    std::string result = outcome([&] { return k.act(v); });
    EXPECT_EQ(result + " | " + mold_of(at_head(&v, 0)), k.expected);
  }
}

// A value taken from the vector itself reads as it was before the change.
TEST(VectorTest, ChangeWithItself) {
  Cell v = vec({i(1), i(2), i(3)});
  call_action(kActionChange, {at_head(&v, 1), v});
  EXPECT_EQ(mold_of(v), "make vector! [1 1 2 3]");
  Cell moved = vec({i(1), i(2)});
  call_action(kActionMove, {moved, at_head(&moved, 2)});
  EXPECT_EQ(mold_of(moved), "make vector! [2 1]");
}

// Growth by many appends keeps every element (the stress build moves the
// buffer at every allocation).
TEST(VectorTest, AppendsGrowTheBuffer) {
  Cell v = vec("integer!", 16, {});
  for (int32_t n = 0; n < 2000; n++) call_action(kActionAppend, {v, i(n)});
  Cell* more = test::block_of({i(-1), i(-2)});
  Act(kActionInsert, {v, *more}).ref("dup", i(500)).run();
  EXPECT_EQ(series_total_length(&v), 3000);
  EXPECT_EQ(test::integer_of(call_action(kActionPick, {v, i(1)})), -1);
  EXPECT_EQ(test::integer_of(call_action(kActionPick, {v, i(1000)})), -2);
  EXPECT_EQ(test::integer_of(call_action(kActionPick, {v, i(3000)})), 1999);
  EXPECT_EQ(catch_error([&] {
              Act(kActionAppend, {v, i(1)}).ref("dup", i(2000000000)).run();
            }),
            kErrInternalNoMemory);
  EXPECT_EQ(series_total_length(&v), 3000);
}

}  // namespace
}  // namespace kiv
