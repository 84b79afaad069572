// typeset!: the bit layout, make and to from blocks, the set operations (the
// and~/or~/xor~ actions and the set-operation codes), complement, membership,
// compare and sorting, form and mold, the block of type words, and the
// typesets function specs build.
#include "datatypes/typeset.h"

#include <gtest/gtest.h>

#include "datatypes/context.h"
#include "datatypes/series.h"
#include "kiv_test.h"

namespace kiv {
namespace {

using test::Act;
using test::at_head;
using test::block_of;
using test::call_action;
using test::catch_error;
using test::compare;
using test::form_of;
using test::mold;
using test::mold_of;
using test::outcome;
using test::word;

Cell T(std::initializer_list<TypeId> types = {}) { return typeset_cell(types); }
Cell D(TypeId t) { return datatype_cell(t); }
Cell i(int32_t n) { return integer_cell(n); }

// The global word [name] holding [value].
Cell bound(const char* name, Cell value) {
  Cell w = word(name);
  Cell* v = stack_push_value(value);
  set_word_value(&w, v);
  return w;
}

// The three map words of [set].
std::array<uint32_t, 3> words_of(const Cell& set) {
  return {typeset_map_word(&set, 1), typeset_map_word(&set, 2), typeset_map_word(&set, 3)};
}

TEST(TypesetTest, BitLayout) {
  struct Case {
    Cell set;
    std::array<uint32_t, 3> words;
  } cases[] = {
      {T({kTypeInteger}), {0x00001000, 0, 0}},
      {T({kTypeUnset}), {0x00000020, 0, 0}},
      {T({kTypeInteger, kTypeFloat, kTypePercent}), {0x00001800, 0x00000002, 0}},
      {T({kTypeDatatype, kTypeBlock}), {0x00000044, 0, 0}},
      {T({kTypeEvent}), {0, 0x00020000, 0}},
      {kTypesetAllButUnsetCell, {0xFFFFFFDF, 0xFFFFFFFF, 0xFFFFFFFF}},
  };
  for (const Case& c : cases) EXPECT_EQ(words_of(c.set), c.words) << mold_of(c.set);
  // Ids that name no type never get a bit from a datatype.
  EXPECT_EQ(words_of(T({kTypeNil, TypeId(kMaxTypeId + 1), TypeId(200)})), (std::array<uint32_t, 3>{0, 0, 0}));
  EXPECT_FALSE(typeset_has_q(&kTypesetAllButUnsetCell, TypeId(200)));
}

// The language's family typesets come from the same list as the C++ tests of
// runtime/typesets.h.
TEST(TypesetTest, FamiliesFromTheTypeList) {
  EXPECT_EQ(mold_of(typeset_cell(kTypesetAnyString)), "make typeset! [string! file! url! tag! email! ref!]");
  EXPECT_EQ(mold_of(typeset_cell(kTypesetNumber)), "make typeset! [integer! float! percent!]");
  for (Typeset family :
       {kTypesetSeries, kTypesetAnyBlock, kTypesetScalar, kTypesetAnyWord, kTypesetDefault}) {
    Cell set = typeset_cell(family);
    for (int t = 1; t <= kMaxTypeId; t++)
      EXPECT_EQ(typeset_has_q(&set, TypeId(t)), family.has(TypeId(t))) << t;
  }
}

TEST(TypesetTest, MakeAndTo) {
  Cell number = bound("ts-number", typeset_cell(kTypesetNumber));
  Cell block_type = bound("ts-block-type", D(kTypeBlock));
  Cell five = bound("ts-five", i(5));
  Cell nothing = word("ts-never-set");
  Cell* spec = block_of({D(kTypeChar), D(kTypeString), D(kTypeBlock)});
  struct Case {
    const char* name;
    Cell spec;
    const char* result;
  } cases[] = {
      {"empty block", *block_of({}), "make typeset! []"},
      {"a type twice is one bit", *block_of({D(kTypeInteger), D(kTypeInteger)}), "make typeset! [integer!]"},
      {"ids in ascending order", *block_of({D(kTypeString), D(kTypeBlock)}),
       "make typeset! [block! string!]"},
      {"words stand for their values", *block_of({D(kTypeChar), number, block_type}),
       "make typeset! [block! char! integer! float! percent!]"},
      {"a typeset in the block is joined", *block_of({T({kTypeNone}), D(kTypeLogic)}),
       "make typeset! [none! logic!]"},
      {"from the head", at_head(spec, 1), "make typeset! [block! string!]"},
      {"a typeset as it is", T({kTypePair, kTypeTag}), "make typeset! [pair! tag!]"},
      {"not a block", i(5), "!bad-to-arg"},
      {"a paren is not a block", *block_of({D(kTypeInteger)}, kTypeParen), "!bad-to-arg"},
      {"a datatype alone", D(kTypeInteger), "!bad-to-arg"},
      {"a number in the block", *block_of({D(kTypeInteger), i(5)}), "!invalid-arg"},
      {"a word of a number", *block_of({five}), "!invalid-arg"},
      {"a lit-word", *block_of({word("ts-number", kTypeLitWord)}), "!invalid-arg"},
      {"a word without a value", *block_of({nothing}), "!no-value"},
  };
  for (const Case& c : cases) {
    for (ActionId action : {kActionMake, kActionTo}) {
      SCOPED_TRACE(c.name);
      EXPECT_EQ(outcome(action, {D(kTypeTypeset), c.spec}), c.result);
    }
  }
  // invalid-arg names the value as the block holds it, before a word is read.
  EXPECT_EQ(catch_error([&] { test::make(kTypeTypeset, *block_of({i(7)})); }), kErrScriptInvalidArg);
  EXPECT_EQ(last_raised_error().args[0].type(), kTypeInteger);
  EXPECT_EQ(catch_error([&] { test::make(kTypeTypeset, *block_of({five})); }), kErrScriptInvalidArg);
  EXPECT_EQ(test::symbol_of(last_raised_error().args[0]), test::symbol_of(five));
  EXPECT_EQ(catch_error([&] { test::to(kTypeTypeset, test::text_cell("integer!")); }), kErrScriptBadToArg);
  EXPECT_EQ(test::datatype_of(last_raised_error().args[0]), kTypeTypeset);
}

// and~, or~, xor~ (codes 5, 6, 7) and the set-operation codes go through one
// routine; a datatype stands for its one-type set.
TEST(TypesetTest, SetOperations) {
  Cell ab = T({kTypeInteger, kTypeString}), bc = T({kTypeString, kTypeBlock});
  struct Case {
    int32_t op;
    Cell a, b;
    Cell result;
  } cases[] = {
      {kMathOr, ab, bc, T({kTypeInteger, kTypeString, kTypeBlock})},
      {kMathAnd, ab, bc, T({kTypeString})},
      {kMathXor, ab, bc, T({kTypeInteger, kTypeBlock})},
      {kSetUnion, ab, bc, T({kTypeInteger, kTypeString, kTypeBlock})},
      {kSetIntersect, ab, bc, T({kTypeString})},
      {kSetDifference, ab, bc, T({kTypeInteger, kTypeBlock})},
      {kSetExclude, ab, bc, T({kTypeInteger})},
      {kSetExclude, bc, ab, T({kTypeBlock})},
      {kSetExclude, ab, ab, T()},
      {kSetUnique, ab, i(5), ab},
      {kSetUnion, ab, D(kTypeFile), T({kTypeInteger, kTypeString, kTypeFile})},
      {kSetIntersect, ab, D(kTypeInteger), T({kTypeInteger})},
      {kSetExclude, ab, D(kTypeInteger), T({kTypeString})},
      {kMathXor, ab, D(kTypeString), T({kTypeInteger})},
      // The bits that name no type take part like the others.
      {kSetIntersect, kTypesetAllButUnsetCell, T({kTypeUnset}), T()},
      {kSetUnion, kTypesetAllButUnsetCell, T({kTypeUnset}), typeset_words_cell(~0u, ~0u, ~0u)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(mold_of(c.a) + " op " + std::to_string(c.op) + " " + mold_of(c.b));
    Cell a = c.a;
    EXPECT_EQ(words_of(*typeset_set_op(&a, &c.b, c.op)), words_of(c.result));
  }
  // Through the actions and the set-operation entry of the series.
  EXPECT_EQ(outcome(kActionOrT, {ab, D(kTypeNone)}), "make typeset! [none! string! integer!]");
  EXPECT_EQ(outcome(kActionAndT, {ab, bc}), "make typeset! [string!]");
  EXPECT_EQ(outcome(kActionXorT, {ab, bc}), "make typeset! [block! integer!]");
  for (Cell bad : {i(5), *block_of({D(kTypeInteger)}), word("ts-number")}) {
    EXPECT_EQ(outcome(kActionOrT, {ab, bad}), "!invalid-arg");
    EXPECT_EQ(outcome(kActionAndT, {ab, bad}), "!invalid-arg");
    EXPECT_EQ(outcome(kActionXorT, {ab, bad}), "!invalid-arg");
  }
  Cell* x = stack_push_value(ab);
  Cell* y = stack_push_value(bc);
  EXPECT_EQ(words_of(*series_set_op(x, y, {kSetExclude, false, {}})), words_of(T({kTypeInteger})));
}

TEST(TypesetTest, Complement) {
  Cell all = *Act(kActionComplement, {T()}).run();
  EXPECT_EQ(words_of(all), (std::array<uint32_t, 3>{~0u, ~0u, ~0u}));
  EXPECT_FALSE(compare(all, kTypesetAllButUnsetCell, kCmpEqual));
  EXPECT_EQ(typeset_count(&all), g_max_type_id);
  EXPECT_TRUE(compare(*Act(kActionComplement, {T({kTypeUnset})}).run(), kTypesetAllButUnsetCell, kCmpEqual));
  Cell ab = T({kTypeInteger, kTypeString});
  EXPECT_TRUE(
      compare(*Act(kActionComplement, {*Act(kActionComplement, {ab}).run()}).run(), ab, kCmpStrictEqual));
}

TEST(TypesetTest, Membership) {
  Cell set = T({kTypeInteger, kTypeBlock, kTypeEvent});
  struct Case {
    Cell value;
    const char* result;
  } cases[] = {
      {D(kTypeInteger), "true"},
      {D(kTypeBlock), "true"},
      {D(kTypeEvent), "true"},
      {D(kTypeFloat), "false"},
      {D(kTypeUnset), "false"},
      {D(kTypeDatatype), "false"},
      {T({kTypeInteger}), "!invalid-arg"},
      {i(11), "!invalid-arg"},
      {word("integer!"), "!invalid-arg"},
  };
  for (const Case& c : cases) EXPECT_EQ(outcome(kActionFind, {set, c.value}), c.result) << mold_of(c.value);
  EXPECT_EQ(outcome(kActionFind, {kTypesetAllButUnsetCell, D(kTypeUnset)}), "false");
}

TEST(TypesetTest, Compare) {
  Cell ab = T({kTypeInteger, kTypeString}), ab2 = T({kTypeString, kTypeInteger}),
       bc = T({kTypeString, kTypeBlock});
  for (CompareOp op : {kCmpEqual, kCmpStrictEqual, kCmpSame, kCmpFindEqual}) {
    EXPECT_TRUE(compare(ab, ab2, op)) << op;
    EXPECT_FALSE(compare(ab, bc, op)) << op;
  }
  EXPECT_TRUE(compare(ab, bc, kCmpNotEqual));
  EXPECT_FALSE(compare(ab, ab2, kCmpNotEqual));
  // Another type is never equal; typesets have no order.
  EXPECT_FALSE(compare(T({kTypeInteger}), D(kTypeInteger), kCmpEqual));
  EXPECT_TRUE(compare(T({kTypeInteger}), D(kTypeInteger), kCmpNotEqual));
  for (CompareOp op : {kCmpLesser, kCmpLesserOrEqual, kCmpGreater, kCmpGreaterOrEqual})
    EXPECT_EQ(catch_error([&] { compare(ab, bc, op); }), kErrScriptInvalidCompare) << op;
  // Sorting orders by the number of types; sets of one size keep their order.
  Cell* b = block_of({T({kTypeInteger, kTypeFloat, kTypePercent}), T({kTypeNone}), T(),
                      T({kTypeBlock, kTypeChar}), T({kTypeLogic})});
  Act(kActionSort, {*b}).ref("stable").run();
  EXPECT_EQ(mold_of(*b),
            "[make typeset! [] make typeset! [none!] make typeset! [logic!] make typeset! [block! char!] "
            "make typeset! [integer! float! percent!]]");
}

TEST(TypesetTest, FormAndMold) {
  Cell three = T({kTypeInteger, kTypeFloat, kTypePercent});
  struct Case {
    Cell set;
    bool only;
    int32_t part;
    const char* text;
  } cases[] = {
      {three, false, -1, "make typeset! [integer! float! percent!]"},
      {three, true, -1, "integer! float! percent!"},
      {T(), false, -1, "make typeset! []"},
      {T(), true, -1, ""},
      {T({kTypePoint2D}), false, -1, "make typeset! [point2D!]"},
      {three, false, 20, "make typeset! [integ"},
      {three, true, 12, "integer! flo"},
      {three, false, 100, "make typeset! [integer! float! percent!]"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(mold(c.set, c.only, false, false, c.part), c.text);
    if (!c.only) {
      EXPECT_EQ(form_of(c.set, c.part), c.text);
    }
  }
  EXPECT_EQ(mold_of(three, true), "make typeset! [integer! float! percent!]");  // /all changes nothing
  EXPECT_EQ(mold_of(*block_of({T({kTypeNone}), T()})), "[make typeset! [none!] make typeset! []]");
}

// The limit a mold returns is what is left after the text written, also for
// the empty set's closing bracket; a /part limit spent stops before the next name.
TEST(TypesetTest, MoldLimit) {
  struct Case {
    Cell set;
    bool only;
    int32_t limit;
    const char* text;
    int32_t left;
  } cases[] = {
      {T(), false, 100, "make typeset! []", 84},
      {T(), true, 100, "", 100},
      {T({kTypeInteger, kTypeFloat}), false, 100, "make typeset! [integer! float!]", 69},
      {T({kTypeInteger, kTypeFloat}), true, 100, "integer! float!", 85},
      {T({kTypeInteger, kTypeFloat, kTypePercent}), false, 20, "make typeset! [integer! ", -4},
  };
  for (const Case& c : cases) {
    StackSave save;
    Cell* buffer = string_make_at(stack_push(), 16);
    Cell* set = stack_push_value(c.set);
    Cell part = i(c.limit);
    MoldArgs args = test::mold_into(buffer, c.limit, &part);
    args.only = c.only;
    EXPECT_EQ(action_mold(set, args), c.left) << c.text;
    EXPECT_EQ(test::text_of(*buffer), c.text);
  }
}

TEST(TypesetTest, ToBlock) {
  Cell three = T({kTypeInteger, kTypeFloat, kTypePercent});
  struct Case {
    ActionId action;
    TypeId type;
    Cell set;
    const char* result;
  } cases[] = {
      {kActionTo, kTypeBlock, three, "[integer! float! percent!]"},
      {kActionTo, kTypeBlock, T(), "[]"},
      {kActionTo, kTypeParen, T({kTypeNone, kTypeTag}), "(none! tag!)"},
      {kActionMake, kTypeBlock, three, "!bad-make-arg"},
  };
  for (const Case& c : cases) EXPECT_EQ(outcome(c.action, {D(c.type), c.set}), c.result);
  Cell* b = test::to(kTypeBlock, three);
  ASSERT_EQ(block_ks_length_q(b), 3);
  for (int32_t k = 0; k < 3; k++) EXPECT_TRUE(block_ks_abs_at(b, k)->is(kTypeWord));
  // The block of every type, and back.
  Cell all = *Act(kActionComplement, {T()}).run();
  Cell* words = test::to(kTypeBlock, all);
  EXPECT_EQ(block_ks_length_q(words), g_max_type_id);
  // With the type words holding their datatypes (as the boot script leaves
  // them), the block makes the typeset again; the words are unset afterwards.
  for (int t = 1; t <= g_max_type_id; t++) bound(type_name(TypeId(t)), D(TypeId(t)));
  Cell* back = test::make(kTypeTypeset, *words);
  EXPECT_EQ(typeset_count(back), g_max_type_id);
  EXPECT_TRUE(compare(*back, all, kCmpNotEqual));  // the bits that name no type are not in the block
  EXPECT_TRUE(compare(*test::make(kTypeTypeset, *test::to(kTypeBlock, three)), three, kCmpEqual));
  for (int t = 1; t <= g_max_type_id; t++) bound(type_name(TypeId(t)), kUnsetCell);
}

// The typeset of a function argument's type block.
TEST(TypesetTest, FromFunctionSpec) {
  Cell number = bound("ts-spec-number", typeset_cell(kTypesetNumber));
  Cell logic = bound("ts-spec-logic", D(kTypeLogic));
  Cell other = bound("ts-spec-other", word("ts-whatever"));
  Cell five = bound("ts-spec-five", i(5));
  Cell nothing = word("ts-spec-never-set");
  struct Case {
    const char* name;
    Cell spec;
    const char* result;
  } cases[] = {
      {"datatypes and words", *block_of({D(kTypeString), logic, number}),
       "make typeset! [logic! string! integer! float! percent!]"},
      {"a word of a word gives object!", *block_of({other}), "make typeset! [object!]"},
      {"a nested block is skipped", *block_of({*block_of({D(kTypeFile)}), D(kTypeNone)}),
       "make typeset! [none!]"},
      {"a typeset", *block_of({T({kTypeTag})}), "make typeset! [tag!]"},
      {"empty", *block_of({}), "make typeset! []"},
      {"a number", *block_of({D(kTypeNone), i(5)}), "!invalid-type-spec"},
      {"a word of a number", *block_of({five}), "!invalid-type-spec"},
      {"a string", *block_of({test::text_cell("x")}), "!invalid-type-spec"},
      {"a word without a value", *block_of({nothing}), "!no-value"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Cell* out = block_of({});
    EXPECT_EQ(outcome([&] { return *typeset_from_block(out, &c.spec); }), c.result);
    // Nothing is appended when the block is refused.
    EXPECT_EQ(block_ks_length_q(out), c.result[0] == '!' ? 0 : 1);
  }
}

TEST(TypesetTest, MadeAtTheTailOfABlock) {
  Cell* out = block_of({i(1)});
  typeset_make_at(out, 0x00001800, 0x00000002, 0);
  typeset_all_but_unset(out);
  EXPECT_EQ(mold_of(*block_ks_abs_at(out, 1)), "make typeset! [integer! float! percent!]");
  Cell all = *block_ks_abs_at(out, 2);
  EXPECT_EQ(typeset_count(&all), g_max_type_id - 1);
  EXPECT_FALSE(typeset_has_q(&all, kTypeUnset));
  EXPECT_TRUE(typeset_has_q(&all, kTypeInteger));
}

}  // namespace
}  // namespace kiv
