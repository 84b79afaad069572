// native!, action! and op!: make by id (empty and foreign entries refused),
// reflection, form and mold, compare by id, and op! over each kind of value.
#include "datatypes/native.h"

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

#include "block_reader.h"
#include "datatypes/builtin_spec.h"
#include "datatypes/context.h"
#include "datatypes/function.h"
#include "datatypes/runtime_words.h"
#include "evaluator/base_env.h"
#include "evaluator/natives.h"
#include "kiv_test.h"

namespace kiv {
namespace {

using test::catch_error;
using test::compare;
using test::form_of;
using test::mold;
using test::mold_of;
using test::outcome;
using test::read_block;

Status test_native_entry(bool, const int32_t*) { return kStatusOk; }

// The slots the tests fill in the natives table: two no native fills.
constexpr int32_t kTestNative = kNativeTableSize - 2;
constexpr int32_t kOtherNative = kNativeTableSize - 1;
static_assert(kOtherNative > kNativeCount);
// An action the tests use: add, whose own spec takes two scalar! or vector!.
constexpr int32_t kAddAction = kActionAdd;

class NativeTest : public ::testing::Test {
 protected:
  // The base environment keeps the own spec of every native and action.
  void SetUp() override {
    base_environment_init();
    native_table_set(kTestNative, test_native_entry);
    native_table_set(kOtherNative, test_native_entry);
  }
  void TearDown() override {
    native_table_set(kTestNative, nullptr);
    native_table_set(kOtherNative, nullptr);
  }
};

// MAY ALLOCATE. Keeps the spec [spec] as the own spec of the test native
// [id], its line declaring what the spec lists: a spec of that shape may
// then be made for [id].
void keep_own_native(const char* spec, int32_t id) {
  ASSERT_TRUE(id == kTestNative || id == kOtherNative);
  Cell* block = read_block(spec);
  std::deque<std::string> words;  // stable addresses for the declared items
  std::vector<DeclaredParam> declared;
  for (uint32_t i = 0; i < series_length(block->node()); i++) {
    Cell c = series_cells(block->node())[i];
    if (c.is(kTypeSetWord)) i++;
    const bool refinement = c.is(kTypeRefinement);
    if (refinement && mold_of(c) == "/local") break;
    if (!refinement && !c.is(kTypeWord) && !c.is(kTypeLitWord) && !c.is(kTypeGetWord)) continue;
    c.set_type(kTypeWord);
    words.push_back(mold_of(c));
    declared.push_back(
        {refinement ? DeclaredParam::kRefinement : DeclaredParam::kArgument, words.back().c_str()});
  }
  declared.push_back({DeclaredParam::kEnd, nullptr});
  builtin_keep_own_spec(Builtin::kNative, id, "test-native", block, nullptr, declared.data());
}

// make [type] from the block holding the spec block read from [spec] and [id].
Cell* make_by_id(TypeId type, const char* spec, int32_t id) {
  Cell* make_spec = test::block_of({*read_block(spec), integer_cell(id)});
  return test::make(type, *make_spec);
}

// A test native made from [spec], kept first as its own.
Cell* make_native(const char* spec, int32_t id = kTestNative) {
  keep_own_native(spec, id);
  return make_by_id(kTypeNative, spec, id);
}
// An action made from [spec], which must fit the action's own.
Cell* make_action(const char* spec, int32_t id = kAddAction) { return make_by_id(kTypeAction, spec, id); }

Cell* make_op(const Cell& from) { return test::make(kTypeOp, from); }

Cell* make_function(const char* spec, const char* body) {
  return test::make(kTypeFunction, *test::block_of({*read_block(spec), *read_block(body)}));
}

Cell* reflect(const Cell& value, const char* field) {
  return test::call(kActionReflect, {value, test::word(field)});
}

TEST_F(NativeTest, MakeByIdTakesOnlyCallableEntries) {
  struct Case {
    TypeId type;
    int32_t id;
    const char* outcome;
  } cases[] = {
      {kTypeNative, kTestNative, "make native! [[a [any-type!] b [any-type!]]]"},
      {kTypeNative, kNativeCount + 1, "!bad-make-arg"},  // slots past the natives stay empty
      {kTypeNative, kNativeTableSize, "!bad-make-arg"},
      {kTypeNative, kNativeTableSize + 1, "!bad-make-arg"},
      {kTypeNative, 0, "!bad-make-arg"},
      {kTypeNative, -1, "!bad-make-arg"},
      {kTypeAction, kActionMake, "make action! [[a [any-type!] b [any-type!]]]"},
      {kTypeAction, kActionTo, "make action! [[a [any-type!] b [any-type!]]]"},
      {kTypeAction, kActionWrite, "!bad-make-arg"},     // a spec unlike its own
      {kTypeAction, kActionEvalPath, "!bad-make-arg"},  // path evaluation: no word, other arguments
      {kTypeAction, kActionEmpty, "!bad-make-arg"},
      {kTypeAction, kActionCompare, "!bad-make-arg"},
      {kTypeAction, 0, "!bad-make-arg"},
      {kTypeAction, kActionCount + 1, "!bad-make-arg"},
  };
  keep_own_native("a [any-type!] b [any-type!]", kTestNative);
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << type_name(c.type) << " " << c.id);
    EXPECT_EQ(outcome([&] { return *make_by_id(c.type, "a [any-type!] b [any-type!]", c.id); }), c.outcome);
  }
}

TEST_F(NativeTest, MakeRefusesOtherMakeSpecs) {
  Cell* spec = read_block("a");
  Cell id = integer_cell(kTestNative);
  const Cell specs[] = {
      id,                                               // not a block
      *test::block_of({*spec}),                         // one value
      *test::block_of({*spec, id, id}),                 // three values
      *test::block_of({*spec, *test::push_text("5")}),  // an id that is not an integer
      *test::block_of({test::word("a"), id}),           // a spec that is not a block
      *test::block_of({*spec, id}, kTypeParen),         // not a block!
  };
  for (TypeId type : {kTypeNative, kTypeAction}) {
    for (const Cell& s : specs) {
      SCOPED_TRACE(testing::Message() << type_name(type) << " " << mold_of(s));
      Cell* make_spec = stack_push_value(s);
      EXPECT_EQ(catch_error([&] { test::make(type, *make_spec); }), kErrScriptBadMakeArg);
      // The error names the type and the make spec.
      EXPECT_EQ(mold_of(last_raised_error().args[0]), type_name(type));
      EXPECT_EQ(last_raised_error().args[1].node(), make_spec->node());
    }
  }
}

TEST_F(NativeTest, MakeReadsFromThePositionAndHoldsTheSpecAtItsHead) {
  // [junk [x y] 5] from its second value; the spec [pre a b] from its second.
  keep_own_native("a b", kTestNative);
  Cell* spec = read_block("pre a b");
  Cell* make_spec = test::block_of({test::word("junk"), test::at_head(spec, 1), integer_cell(kTestNative)});
  Cell* native = test::make(kTypeNative, test::at_head(make_spec, 1));
  Cell* held = reflect(*native, "spec");
  EXPECT_EQ(mold_of(*held), "[a b]");
  EXPECT_EQ(held->head(), 0);
  EXPECT_NE(held->node(), spec->node());
  // A spec at its head is the caller's block itself.
  Cell* direct = make_by_id(kTypeNative, "a b", kTestNative);
  Cell* direct_spec = reflect(*direct, "spec");
  EXPECT_EQ(direct_spec->node(), native_spec(direct));
}

TEST_F(NativeTest, Reflect) {
  Cell* native = make_native("value [integer!]");
  Cell* action = make_action("value1 [integer!] value2 [integer!]");
  EXPECT_EQ(mold_of(*reflect(*native, "spec")), "[value [integer!]]");
  EXPECT_EQ(test::integer_of(*reflect(*native, "body")), kTestNative);
  EXPECT_EQ(test::integer_of(*reflect(*action, "body")), kAddAction);
  EXPECT_EQ(test::integer_of(*reflect(*make_op(*action), "body")), kAddAction);
  for (const char* field : {"words", "class", "whatever"})
    EXPECT_EQ(catch_error([&] { reflect(*native, field); }), kErrInternalNotDone) << field;
  EXPECT_EQ(catch_error([&] {
              test::call(kActionReflect, {*native, integer_cell(1)});
            }),
            kErrInternalNotDone);
}

TEST_F(NativeTest, FormAndMold) {
  Cell* native = make_native("a [integer!] \"doc\"");
  Cell* action = make_action("value1 [integer!] value2 [integer!]");
  Cell* op = make_op(*action);
  EXPECT_EQ(form_of(*native), "?native?");
  EXPECT_EQ(form_of(*action), "?action?");
  EXPECT_EQ(form_of(*op), "?op?");
  EXPECT_EQ(mold_of(*native), "make native! [[a [integer!] \"doc\"]]");
  EXPECT_EQ(mold_of(*action), "make action! [[value1 [integer!] value2 [integer!]]]");
  EXPECT_EQ(mold_of(*op), "make op! [[value1 [integer!] value2 [integer!]]]");
  EXPECT_EQ(mold(*native, true), "make native! [a [integer!] \"doc\"]");
  EXPECT_EQ(mold(*native, false, false, false, 16), "make native! [[a");
  // Inside a block the budget runs on past each value.
  Cell* pair = test::block_of({*native, *op});
  EXPECT_EQ(mold(*pair, false, false, false, 40), "[make native! [[a [integer!] \"doc\"]] mak");
  EXPECT_EQ(form_of(*pair), "?native? ?op?");
}

TEST_F(NativeTest, CompareById) {
  keep_own_native("a", kTestNative);
  Cell* a = make_by_id(kTypeNative, "a", kTestNative);
  Cell* same_id = make_by_id(kTypeNative, "x [integer!]", kTestNative);
  Cell* other = make_native("a", kOtherNative);
  Cell* op = make_op(*make_native("a b"));
  // The native and the action with id 11, each from its own spec.
  Cell* native_11 = make_by_id(kTypeNative, g_natives_info[kAddAction].spec, kAddAction);
  Cell* action = make_action("a [integer!] b [integer!]");
  EXPECT_TRUE(compare(*a, *same_id, kCmpEqual));  // whatever their specs
  EXPECT_TRUE(compare(*a, *same_id, kCmpSame));
  EXPECT_TRUE(compare(*a, *other, kCmpNotEqual));
  EXPECT_FALSE(compare(*a, *other, kCmpStrictEqual));
  EXPECT_EQ(action_compare_values(a, other, kCmpSort), -1);
  EXPECT_EQ(action_compare_values(other, a, kCmpCaseSort), 1);
  EXPECT_EQ(action_compare_values(a, same_id, kCmpFindEqual), 0);
  // A native and an op made from it, a native and an action of the same id.
  EXPECT_EQ(action_compare_values(a, op, kCmpEqual), kNotComparable);
  EXPECT_FALSE(compare(*a, *op, kCmpEqual));
  EXPECT_FALSE(compare(*native_11, *action, kCmpEqual));
  // No order for < and friends.
  EXPECT_EQ(catch_error([&] { compare(*a, *other, kCmpLesser); }), kErrScriptInvalidCompare);
  EXPECT_EQ(catch_error([&] { compare(*a, *op, kCmpGreater); }), kErrScriptInvalidCompare);
  // Equal values hash alike.
  EXPECT_EQ(hash_value(a), hash_value(same_id));
}

TEST_F(NativeTest, OpsOverDifferentKindsAreNotEqualEvenWithTheSameNumber) {
  // An op over a function carries its context node where an op over a native
  // carries the id: the same number must not make them equal.
  Cell* fn_op = make_op(*make_function("a b", "a"));
  Cell* native = make_native("a b");
  Cell* native_op = make_op(*native);
  Cell forged = *native_op;
  forged.data1 = fn_op->data1;
  Cell* same_number = stack_push_value(forged);
  EXPECT_FALSE(compare(*fn_op, *same_number, kCmpEqual));
  EXPECT_NE(action_compare_values(fn_op, same_number, kCmpSort), 0);
  EXPECT_EQ(action_compare_values(same_number, fn_op, kCmpSort),
            -action_compare_values(fn_op, same_number, kCmpSort));
}

// An op over each kind of value: its type, text, body and comparison.
TEST_F(NativeTest, OpOverEachKindOfValue) {
  Cell* routine_body = read_block("a + b");
  Cell* routine = make_routine_value(read_block("a b"), routine_body, 3, -1, false);
  Cell* function = make_function("a b", "add a b");
  struct Case {
    Cell from;
    const char* mold;
    std::string body;
  } cases[] = {
      {*make_native("a b"), "make op! [[a b]]", std::to_string(kTestNative)},
      {*make_action("value1 [integer!] value2 [integer!]"),
       "make op! [[value1 [integer!] value2 [integer!]]]", "11"},
      {*function, "make op! func [a b][add a b]", "[add a b]"},
      {*routine, "make op! [[a b]]", "[a + b]"},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(type_name(c.from.type()));
    Cell* from = stack_push_value(c.from);
    Cell* op = make_op(*from);
    ASSERT_TRUE(op->is(kTypeOp));
    EXPECT_EQ(op_underlying_type(op), from->type());
    EXPECT_EQ(form_of(*op), "?op?");
    EXPECT_EQ(mold_of(*op), c.mold);
    EXPECT_EQ(mold_of(*reflect(*op, "body")), c.body);
    EXPECT_EQ(reflect(*op, "spec")->node(), native_spec(from));
    Cell* again = make_op(*from);
    EXPECT_TRUE(compare(*op, *again, kCmpEqual));
    EXPECT_FALSE(compare(*op, *from, kCmpEqual));
  }
  // The function keeps a copy of itself where the op finds it.
  Cell kept = function_more_cell(function, kFunctionMoreOp);
  EXPECT_TRUE(compare(kept, *function, kCmpSame));
  EXPECT_TRUE(compare(function_more_cell(routine, kFunctionMoreOp), *routine, kCmpSame));
  // The op survives a collection with its function reached through it alone.
  Cell* op = stack_push();
  {
    StackSave save;
    *op = *make_op(*make_function("x y", "x * y"));
  }
  gc_collect();
  EXPECT_EQ(mold_of(*op), "make op! func [x y][x * y]");
}

TEST_F(NativeTest, OpSpecsMustHaveTwoLeadingArguments) {
  struct Case {
    const char* spec;
    const char* outcome;  // "" when the op is made
  } cases[] = {
      {"a b", ""},
      {"\"doc\" a [integer!] \"doc\" b [integer!]", ""},
      {"a 'b", ""},
      {"a :b", ""},
      {"a b /local c", ""},
      {"a b /extern c", ""},
      {"a b return: [integer!]", ""},
      {"a", "!bad-op-spec"},
      {"a b c", "!bad-op-spec"},
      {"'a b", "!bad-op-spec"},
      {":a b", "!bad-op-spec"},
      {"a /ref b", "!bad-op-spec"},
      {"a b /ref", "!bad-op-spec"},
      {"a return: [integer!] b", "!bad-op-spec"},
      {"/local a b", "!bad-op-spec"},
      {"", "!bad-op-spec"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.spec);
    Cell* native = make_native(c.spec);
    std::string got = outcome([&] { return *make_op(*native); });
    EXPECT_EQ(got.rfind("!", 0) == 0 ? got : "", c.outcome);
  }
  // Values that are not function-like, and ops themselves.
  Cell* op = make_op(*make_native("a b"));
  for (const Cell& v : {integer_cell(1), *read_block("a b"), *op}) {
    EXPECT_EQ(catch_error([&] { make_op(v); }), kErrScriptInvalidType);
    EXPECT_EQ(test::datatype_of(last_raised_error().args[0]), v.type());
  }
}

TEST_F(NativeTest, ValuesSurviveCollection) {
  Cell* native = make_native("a b");
  Cell* action = make_action("a [integer!] b [integer!]");
  gc_collect();
  EXPECT_EQ(mold_of(*native), "make native! [[a b]]");
  EXPECT_EQ(mold_of(*action), "make action! [[a [integer!] b [integer!]]]");
}

}  // namespace
}  // namespace kiv
