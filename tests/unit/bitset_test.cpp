// bitset!: make and to from every kind of spec, membership (pick, find, path
// access), the changes (append, insert, remove, poke, clear) and what they
// tell an owner, the set operations over plain and complemented operands of
// different lengths, compare, copy and complement, form and mold.
#include "datatypes/bitset.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "datatypes/object.h"
#include "datatypes/runtime_words.h"
#include "datatypes/series.h"
#include "kiv_test.h"
#include "runtime/ownership.h"

namespace kiv {
namespace {

using test::Act;
using test::at_head;
using test::block_of;
using test::call_action;
using test::catch_error;
using test::compare;
using test::mold_of;
using test::outcome;
using test::push_binary;
using test::text_cell;
using test::word;

Cell i(int32_t n) { return integer_cell(n); }
Cell c(uint32_t cp) { return char_cell(cp); }
Cell f(double d) { return float_cell(d); }
Cell dash() { return word("-"); }
Cell no() { return word("not"); }

// make bitset! [spec], pushed.
Cell* bits(Cell spec) { return test::make(kTypeBitset, spec); }
Cell* bits(std::initializer_list<Cell> spec) { return bits(*block_of(spec)); }

// The mold of make bitset! [spec], or "!" and the error's id.
std::string made(Cell spec) {
  return outcome([&] { return *bits(spec); });
}

// pick's answer as text ("true", "false"), or "!" and the error's id.
std::string picked(const Cell* bitset, Cell index) { return outcome(kActionPick, {*bitset, index}); }

// The indexes below [n] that are members of [bitset], through pick.
std::vector<int32_t> members(const Cell* bitset, int32_t n) {
  std::vector<int32_t> out;
  for (int32_t k = 0; k < n; k++)
    if (logic_get(stack_push_value(call_action(kActionPick, {*bitset, i(k)})))) out.push_back(k);
  return out;
}

// ---------------------------------------------------------------- make and to

TEST(BitsetTest, MakeFromEverySpec) {
  Cell* loop = block_of({c('a')});
  block_append_value(loop, loop);
  struct Case {
    const char* name;
    Cell spec;
    const char* mold;
  } cases[] = {
      {"size 0", i(0), "make bitset! #{}"},
      {"size rounds up to bytes", i(10), "make bitset! #{0000}"},
      {"float size truncated", f(9.9), "make bitset! #{0000}"},
      {"float size toward zero", f(-0.5), "make bitset! #{}"},
      {"negative size", i(-1), "!out-of-range"},
      {"size past the integer range", f(3e10), "!out-of-range"},
      {"char: bit 65 in byte 8", c('A'), "make bitset! #{000000000000000040}"},
      {"string", text_cell("abc"), "make bitset! #{00000000000000000000000070}"},
      {"string from its position", at_head(test::push_text("zabc"), 1),
       "make bitset! #{00000000000000000000000070}"},
      {"empty string takes one byte", text_cell(""), "make bitset! #{00}"},
      {"range", *block_of({c('a'), dash(), c('c')}), "make bitset! #{00000000000000000000000070}"},
      {"values and ranges", *block_of({i(1), i(3), dash(), i(5), text_cell("A")}),
       "make bitset! #{5C0000000000000040}"},
      {"floats truncated", *block_of({f(1.5), f(2.9)}), "make bitset! #{60}"},
      {"nested blocks", *block_of({*block_of({text_cell("a")}), *block_of({c('b')})}),
       "make bitset! #{00000000000000000000000060}"},
      {"complemented", *block_of({no(), text_cell("abc")}),
       "make bitset! [not #{00000000000000000000000070}]"},
      {"complemented, nothing listed", *block_of({no()}), "make bitset! [not #{00}]"},
      {"binary", *push_binary({0xF0}), "make bitset! #{F0}"},
      {"binary from its position", *push_binary({0xAA, 0xBB}, 1), "make bitset! #{BB}"},
      {"binary in a block", *block_of({*push_binary({0x0F, 0x80})}), "make bitset! #{0F80}"},
      {"complemented binary", *block_of({no(), *push_binary({0xF0})}), "make bitset! [not #{F0}]"},
      {"complemented empty binary", *block_of({no(), *push_binary({})}), "make bitset! [not #{}]"},
      {"bitset copied", *bits({no(), c('a')}), "make bitset! [not #{00000000000000000000000040}]"},
      // errors
      {"high below low", *block_of({c('c'), dash(), c('a')}), "!past-end"},
      {"missing high", *block_of({c('a'), dash()}), "!past-end"},
      {"high of another type", *block_of({c('a'), dash(), i(99)}), "!invalid-arg"},
      {"low of another type", *block_of({i(1), dash(), c('c')}), "!invalid-arg"},
      {"negative index", *block_of({text_cell("a"), i(-5)}), "!out-of-range"},
      {"negative range", *block_of({i(-3), dash(), i(2)}), "!out-of-range"},
      {"not inside", *block_of({c('a'), no()}), "!bad-make-arg"},
      {"other type", kNoneCell, "!bad-make-arg"},
      {"other type nested", *block_of({i(1), kNoneCell}), "!bad-make-arg"},
      {"binary after a value", *block_of({c('a'), *push_binary({1})}), "!not-done"},
      {"block holding itself", *loop, "!no-cycle"},
  };
  for (const Case& k : cases) EXPECT_EQ(made(k.spec), k.mold) << k.name;
}

TEST(BitsetTest, ToRefusesSizes) {
  struct Case {
    Cell spec;
    const char* mold;
  } cases[] = {
      {i(8), "!bad-to-arg"},
      {f(8.0), "!bad-to-arg"},
      {kNoneCell, "!bad-to-arg"},
      {*block_of({kNoneCell}), "!bad-to-arg"},
      {text_cell("A"), "make bitset! #{000000000000000040}"},
      {*block_of({no(), *push_binary({0xF0})}), "make bitset! [not #{F0}]"},
  };
  for (const Case& k : cases) {
    EXPECT_EQ(outcome([&] { return *test::to(kTypeBitset, k.spec); }), k.mold) << mold_of(k.spec);
  }
}

TEST(BitsetTest, SizesAndCopies) {
  EXPECT_EQ(test::integer_of(call_action(kActionLengthQ, {*bits(i(0))})), 0);
  EXPECT_EQ(test::integer_of(call_action(kActionLengthQ, {*bits(i(10))})), 16);
  EXPECT_EQ(test::integer_of(call_action(kActionLengthQ, {*bits(text_cell("abc"))})), 104);
  // A copy shares nothing: changing it leaves the original alone.
  Cell* a = bits(text_cell("a"));
  Cell* b = test::call(kActionCopy, {*a});
  EXPECT_NE(a->node(), b->node());
  call_action(kActionAppend, {*b, c('z')});
  EXPECT_EQ(members(a, 128), std::vector<int32_t>{'a'});
  EXPECT_EQ(members(b, 128), (std::vector<int32_t>{'a', 'z'}));
  EXPECT_EQ(mold_of(*test::call(kActionCopy, {*bits({no(), c('a')})})),
            "make bitset! [not #{00000000000000000000000040}]");
}

// ---------------------------------------------------------------- membership

TEST(BitsetTest, Membership) {
  Cell* empty = bits(i(0));
  Cell* all = test::call(kActionComplement, {*empty});
  Cell* abc = bits(text_cell("abc"));
  Cell* not_a = bits({no(), text_cell("a")});  // 13 bytes: indexes 0-103 stored
  struct Case {
    const char* name;
    const Cell* bitset;
    Cell index;
    const char* answer;
  } cases[] = {
      {"empty", empty, i(0), "false"},
      {"complement of empty", all, i(0), "true"},
      {"past the bytes, plain", abc, i(1000), "false"},
      {"past the bytes, complemented", not_a, i(1000), "true"},
      {"negative, plain", abc, i(-1), "false"},
      {"negative, complemented", not_a, i(-1), "false"},
      {"negative range", all, *block_of({i(-2), dash(), i(3)}), "false"},
      {"char", abc, c('b'), "true"},
      {"integer", abc, i('d'), "false"},
      {"float truncated", abc, f(97.9), "true"},
      {"excluded", not_a, c('a'), "false"},
      {"string", abc, text_cell("cab"), "true"},
      {"string with a non-member", abc, text_cell("abd"), "false"},
      {"empty string", abc, text_cell(""), "true"},
      {"empty block", all, *block_of({}), "false"},
      {"block", abc, *block_of({c('a'), text_cell("bc")}), "true"},
      {"range", abc, *block_of({c('a'), dash(), c('c')}), "true"},
      {"range with a non-member", abc, *block_of({c('a'), dash(), c('d')}), "false"},
      // A string or range reaching past the stored bytes: the stored part bit
      // by bit, the part past them by the complement flag.
      {"string past the bytes, plain", abc, text_cell("az"), "false"},
      {"string past the bytes, complemented", not_a, text_cell("bz"), "true"},
      {"string past the bytes with an excluded one", not_a, text_cell("za"), "false"},
      {"range past the bytes, complemented", not_a, *block_of({c('b'), dash(), c('z')}), "true"},
      {"range past the bytes with an excluded one", not_a, *block_of({c('0'), dash(), c('z')}), "false"},
      {"range wholly past the bytes", not_a, *block_of({i(500), dash(), i(700)}), "true"},
      {"range past the bytes, plain", abc, *block_of({i(98), dash(), i(2000)}), "false"},
      {"range past the bytes, all stored members", not_a, *block_of({i(98), dash(), i(2000)}), "true"},
      // errors
      {"bad range", abc, *block_of({c('c'), dash(), c('a')}), "!past-end"},
      {"other type", abc, kNoneCell, "!invalid-arg"},
      {"binary index", abc, *push_binary({1}), "!not-done"},
  };
  for (const Case& k : cases) EXPECT_EQ(picked(k.bitset, k.index), k.answer) << k.name;

  // find answers none where pick answers false.
  EXPECT_EQ(outcome(kActionFind, {*abc, c('a')}), "true");
  EXPECT_EQ(outcome(kActionFind, {*abc, c('z')}), "none");
  EXPECT_EQ(outcome(kActionFind, {*not_a, i(5000)}), "true");
}

TEST(BitsetTest, WideRangesWorkByteByByte) {
  // A range over whole bytes with a partial byte at each end.
  Cell* b = bits({i(3), dash(), i(29)});
  EXPECT_EQ(mold_of(*b), "make bitset! #{1FFFFFFC}");
  EXPECT_EQ(picked(b, *block_of({i(3), dash(), i(29)})), "true");
  EXPECT_EQ(picked(b, *block_of({i(2), dash(), i(29)})), "false");
  EXPECT_EQ(picked(b, *block_of({i(3), dash(), i(30)})), "false");
  call_action(kActionRemove, {*b, *block_of({i(12), dash(), i(12)})}, {kNoRefinement, 1});
  EXPECT_EQ(picked(b, *block_of({i(3), dash(), i(29)})), "false");
  EXPECT_EQ(mold_of(*b), "make bitset! #{1FF7FFFC}");
}

TEST(BitsetTest, PathAccess) {
  Cell* b = bits(text_cell("a"));
  auto step = [&](Cell element, Cell* value) {
    EvalPathArgs a;
    a.element = stack_push_value(element);
    a.value = value;
    return outcome([&] { return *action_eval_path(b, a); });
  };
  EXPECT_EQ(step(c('a'), nullptr), "true");
  EXPECT_EQ(step(i(98), nullptr), "false");
  EXPECT_EQ(step(c('b'), stack_push_value(kTrueCell)), "true");  // answers the value set
  EXPECT_EQ(step(i(97), stack_push_value(kFalseCell)), "false");
  EXPECT_EQ(members(b, 128), std::vector<int32_t>{'b'});
  EXPECT_TRUE(b->is(kTypeBitset));  // the parent is left as it was
  EXPECT_EQ(step(text_cell("b"), nullptr), "!invalid-type");
  EXPECT_EQ(step(word("x"), nullptr), "!invalid-type");
}

// ---------------------------------------------------------------- changes

TEST(BitsetTest, Changes) {
  using Change = std::function<void(Cell*)>;
  auto append = [](Cell v) { return Change([v](Cell* b) { call_action(kActionAppend, {*b, v}); }); };
  auto insert = [](Cell v) { return Change([v](Cell* b) { call_action(kActionInsert, {*b, v}); }); };
  auto remove = [](Cell v) { return Change([v](Cell* b) { Act(kActionRemove, {*b}).ref("key", v).run(); }); };
  auto poke = [](Cell index, Cell v) {
    return Change([index, v](Cell* b) { call_action(kActionPoke, {*b, index, v}); });
  };
  auto clear = Change([](Cell* b) { call_action(kActionClear, {*b}); });
  struct Case {
    const char* name;
    Cell spec;
    Change change;
    const char* mold;
  } cases[] = {
      {"append grows a plain bitset", i(0), append(c('a')), "make bitset! #{00000000000000000000000040}"},
      {"insert is append", i(0), insert(text_cell("a")), "make bitset! #{00000000000000000000000040}"},
      {"append a range", i(8), append(*block_of({i(4), dash(), i(9)})), "make bitset! #{0FC0}"},
      {"append makes an excluded index a member again", *block_of({no(), text_cell("a")}),
       append(text_cell("a")), "make bitset! [not #{00000000000000000000000000}]"},
      {"append past a complemented bitset changes nothing", *block_of({no(), text_cell("a")}),
       append(i(1000)), "make bitset! [not #{00000000000000000000000040}]"},
      {"remove from a plain bitset", text_cell("abc"), remove(c('b')),
       "make bitset! #{00000000000000000000000050}"},
      {"remove past a plain bitset changes nothing", text_cell("a"), remove(i(1000)),
       "make bitset! #{00000000000000000000000040}"},
      {"remove from a complemented bitset excludes", *block_of({no(), text_cell("a")}), remove(c('b')),
       "make bitset! [not #{00000000000000000000000060}]"},
      {"remove past a complemented bitset grows it", *block_of({no(), i(0)}), remove(i(9)),
       "make bitset! [not #{8040}]"},
      {"poke true", i(8), poke(i(1), kTrueCell), "make bitset! #{40}"},
      {"poke a string with a value", i(8), poke(text_cell("\x01\x02"), text_cell("x")), "make bitset! #{60}"},
      {"poke false", *push_binary({0xFF}), poke(i(1), kFalseCell), "make bitset! #{BF}"},
      {"poke none", *push_binary({0xFF}), poke(i(2), kNoneCell), "make bitset! #{DF}"},
      {"poke 0", *push_binary({0xFF}), poke(i(3), i(0)), "make bitset! #{EF}"},
      {"poke 0.0", *push_binary({0xFF}), poke(i(4), f(0.0)), "make bitset! #{F7}"},
      {"poke 1 sets", *push_binary({0x00}), poke(i(0), i(1)), "make bitset! #{80}"},
      {"poke false on a complemented bitset grows it", *block_of({no(), i(0)}), poke(i(12), kFalseCell),
       "make bitset! [not #{8008}]"},
      {"clear keeps the size", text_cell("abc"), clear, "make bitset! #{00000000000000000000000000}"},
      {"clear leaves no member", *block_of({no(), text_cell("a")}), clear,
       "make bitset! #{00000000000000000000000000}"},
  };
  for (const Case& k : cases) {
    StackSave save;
    Cell* b = bits(k.spec);
    k.change(b);
    EXPECT_EQ(mold_of(*b), k.mold) << k.name;
  }
}

TEST(BitsetTest, ChangeErrorsLeaveTheBitsAlone) {
  Cell* b = bits(text_cell("a"));
  std::string before = mold_of(*b);
  struct Case {
    const char* name;
    std::function<ErrorId()> run;
    ErrorId error;
  } cases[] = {
      {"append with a negative index after good ones",
       [&] {
         return Act(kActionAppend, {*b, *block_of({c('x'), i(5000), i(-1)})}).error();
       },
       kErrScriptOutOfRange},
      {"insert with a bad range",
       [&] {
         return Act(kActionInsert, {*b, *block_of({c('x'), c('y'), dash()})}).error();
       },
       kErrScriptPastEnd},
      {"poke with a bad index",
       [&] {
         return Act(kActionPoke, {*b, kNoneCell, kTrueCell}).error();
       },
       kErrScriptInvalidArg},
      {"remove without /key", [&] { return Act(kActionRemove, {*b}).error(); }, kErrScriptMissingArg},
      {"remove with a bad key", [&] { return Act(kActionRemove, {*b}).ref("key", kNoneCell).error(); },
       kErrScriptInvalidArg},
  };
  for (const Case& k : cases) {
    EXPECT_EQ(k.run(), k.error) << k.name;
    EXPECT_EQ(mold_of(*b), before) << k.name;
  }
  EXPECT_EQ(outcome(kActionAppend, {*b, kNoneCell}), "!invalid-arg");
}

// Every change of an owned bitset tells its owner before and after.
std::vector<std::string> g_told;
bool record_owner_check(const Cell*, OwnerWord word, int32_t, int32_t, const Cell*) {
  g_told.push_back(owner_word_text(word));
  return true;
}

// Puts back the owner check a test replaced.
class ScopedOwnerCheck {
 public:
  explicit ScopedOwnerCheck(OwnerCheckFn check) : saved_(g_hooks.owner_check) { g_hooks.owner_check = check; }
  ~ScopedOwnerCheck() { g_hooks.owner_check = saved_; }
  ScopedOwnerCheck(const ScopedOwnerCheck&) = delete;
  ScopedOwnerCheck& operator=(const ScopedOwnerCheck&) = delete;

 private:
  OwnerCheckFn saved_;
};

TEST(BitsetTest, OwnershipAndNotification) {
  if (!runtime_words_ready()) GTEST_SKIP() << "the runtime words are not made at start-up yet";
  ScopedOwnerCheck recording(record_owner_check);
  g_told.clear();
  Cell* owner = object_init_cell(stack_push(), 1);
  Cell* b = bits(text_cell("a"));
  Cell owned = word("owned");
  EXPECT_EQ(outcome(kActionReflect, {*b, owned}), "none");
  call_action(kActionModify, {*b, owned, *block_of({*owner, word("charset")})});
  Cell by = call_action(kActionReflect, {*b, owned});
  ASSERT_TRUE(by.is(kTypeObject));
  EXPECT_EQ(object_context(&by), object_context(owner));

  call_action(kActionPoke, {*b, c('b'), kTrueCell});
  call_action(kActionAppend, {*b, c('c')});
  call_action(kActionInsert, {*b, c('d')});
  Act(kActionRemove, {*b}).ref("key", c('a')).run();
  call_action(kActionClear, {*b});
  EXPECT_EQ(g_told, (std::vector<std::string>{"poke", "poked", "insert", "inserted", "insert", "inserted",
                                              "remove", "removed", "clear", "cleared"}));
  // Reading tells nobody; copies and set operation results are not owned.
  g_told.clear();
  call_action(kActionPick, {*b, c('a')});
  EXPECT_EQ(outcome(kActionReflect, {*test::call(kActionCopy, {*b}), owned}), "none");
  EXPECT_EQ(outcome(kActionReflect, {*test::call(kActionComplement, {*b}), owned}), "none");
  EXPECT_EQ(outcome(kActionReflect, {*test::call(kActionOrT, {*b, *b}), owned}), "none");
  EXPECT_TRUE(g_told.empty());

  // Released, it tells nobody.
  call_action(kActionModify, {*b, owned, kNoneCell});
  EXPECT_EQ(outcome(kActionReflect, {*b, owned}), "none");
  call_action(kActionAppend, {*b, c('a')});
  EXPECT_TRUE(g_told.empty());

  // Other fields: reflect is not done, modify ignores them.
  EXPECT_EQ(outcome(kActionReflect, {*b, word("size")}), "!not-done");
  EXPECT_EQ(outcome(kActionReflect, {*b, i(1)}), "!not-done");
  EXPECT_EQ(outcome(kActionModify, {*b, word("size"), i(5)}), "5");
}

// ---------------------------------------------------------------- set operations

// The membership of index [k] in the result of [op] on memberships [x] and [y].
bool expected_member(int32_t op, bool x, bool y) {
  switch (op) {
    case kMathOr:
    case kSetUnion: return x || y;
    case kMathAnd:
    case kSetIntersect: return x && y;
    case kMathXor:
    case kSetDifference: return x != y;
    default: return x && !y;  // kSetExclude
  }
}

// Every operation on every pair of operands, plain and complemented, of
// different lengths: the result's members are the operation on the members.
TEST(BitsetTest, SetOperationsFollowMembership) {
  StackSave save;
  std::vector<Cell*> operands = {
      bits(i(0)),
      bits(*push_binary({0xF0})),
      bits({no(), *push_binary({0x0F})}),
      bits(*push_binary({0xAA, 0xAA})),
      bits({no(), *push_binary({0x00, 0xFF, 0x3C})}),
      bits({no()}),
      bits({i(5), dash(), i(20)}),
  };
  constexpr int32_t kProbe = 48;  // past every operand's bytes
  for (int32_t op : {int32_t(kSetUnion), int32_t(kSetIntersect), int32_t(kSetExclude),
                     int32_t(kSetDifference), int32_t(kMathOr), int32_t(kMathAnd), int32_t(kMathXor)}) {
    for (Cell* a : operands) {
      for (Cell* b : operands) {
        StackSave each;
        Cell* r = stack_push_value(*a);
        bitset_set_op(r, b, op);
        uint32_t longer = std::max(bitset_byte_count(a), bitset_byte_count(b));
        EXPECT_EQ(bitset_byte_count(r), longer) << op << " " << mold_of(*a) << " " << mold_of(*b);
        for (int32_t k = 0; k < kProbe; k++) {
          bool x = bitset_bit_q(a->node(), uint32_t(k)), y = bitset_bit_q(b->node(), uint32_t(k));
          ASSERT_EQ(bitset_bit_q(r->node(), uint32_t(k)), expected_member(op, x, y))
              << "op " << op << " index " << k << ": " << mold_of(*a) << " with " << mold_of(*b);
        }
      }
    }
  }
}

TEST(BitsetTest, SetOperationLayouts) {
  Cell* plain = bits(*push_binary({0xF0}));
  Cell* not0f = bits({no(), *push_binary({0x0F})});
  Cell* long_not = bits({no(), *push_binary({0x00, 0xFF})});  // members 0-7 and 16 on
  Cell* short_not = bits({no(), *push_binary({0xF0})});       // members 4-7 and 8 on
  Cell* wide = bits(*push_binary({0xAA, 0xAA}));
  auto run = [](Cell* a, Cell* b, SetOp op) {
    return outcome([&] { return *series_set_op(stack_push_value(*a), b, {op, false, {}}); });
  };
  auto action = [](ActionId id, Cell* a, Cell* b) { return outcome(id, {*a, *b}); };
  struct Case {
    std::string got;
    const char* mold;
  } cases[] = {
      {run(plain, not0f, kSetUnion), "make bitset! [not #{0F}]"},
      {run(plain, long_not, kSetUnion), "make bitset! [not #{00FF}]"},
      {run(plain, long_not, kSetIntersect), "make bitset! #{F000}"},
      {run(plain, long_not, kSetExclude), "make bitset! #{0000}"},
      {run(long_not, plain, kSetExclude), "make bitset! [not #{F0FF}]"},
      {run(plain, long_not, kSetDifference), "make bitset! [not #{F0FF}]"},
      // The shorter operand complemented: its bytes past its end count as FF.
      {run(short_not, wide, kSetIntersect), "make bitset! #{0AAA}"},
      {action(kActionAndT, short_not, wide), "make bitset! #{0AAA}"},
      {action(kActionOrT, short_not, wide), "make bitset! [not #{5000}]"},
      {action(kActionXorT, short_not, wide), "make bitset! [not #{5AAA}]"},
      {run(wide, short_not, kSetExclude), "make bitset! #{A000}"},
      {run(short_not, long_not, kSetIntersect), "make bitset! [not #{F0FF}]"},
      {run(plain, wide, kSetUnique), "make bitset! #{F0}"},
      // errors
      {run(plain, stack_push_value(text_cell("a")), kSetUnion), "!invalid-type"},
      {action(kActionAndT, plain, stack_push_value(i(1))), "!invalid-type"},
  };
  for (const Case& k : cases) EXPECT_EQ(k.got, k.mold);
}

// ---------------------------------------------------------------- complement, compare, mold

TEST(BitsetTest, ComplementInvertsEveryMembership) {
  Cell* b = bits({c('a'), dash(), c('c')});
  Cell* n = test::call(kActionComplement, {*b});
  EXPECT_EQ(mold_of(*n), "make bitset! [not #{00000000000000000000000070}]");
  EXPECT_EQ(picked(n, c('a')), "false");
  EXPECT_EQ(picked(n, c('d')), "true");
  EXPECT_EQ(picked(n, i(5000)), "true");
  EXPECT_EQ(mold_of(*test::call(kActionComplement, {*n})), mold_of(*b));
  EXPECT_EQ(mold_of(*test::call(kActionNegate, {*b})), mold_of(*n));
  EXPECT_EQ(mold_of(*b), "make bitset! #{00000000000000000000000070}");  // the operand is untouched
  EXPECT_EQ(mold_of(*test::call(kActionComplement, {*bits(i(0))})), "make bitset! [not #{}]");
}

TEST(BitsetTest, Compare) {
  Cell* a = bits(*push_binary({0x01, 0x00}));
  Cell* same_bytes = bits(*push_binary({0x01, 0x00}));
  Cell* later = bits(*push_binary({0x00, 0x01}));
  Cell* complemented = bits({no(), *push_binary({0xFE, 0xFF})});  // the same stored bytes as [a]
  Cell* empty = bits(i(0));
  EXPECT_TRUE(compare(*a, *same_bytes, kCmpEqual));
  EXPECT_TRUE(compare(*a, *same_bytes, kCmpStrictEqual));
  EXPECT_FALSE(compare(*a, *same_bytes, kCmpSame));
  EXPECT_TRUE(compare(*a, *a, kCmpSame));
  EXPECT_TRUE(compare(*a, *later, kCmpLesser));  // the last byte decides first
  EXPECT_TRUE(compare(*a, *complemented, kCmpLesser));
  EXPECT_FALSE(compare(*a, *complemented, kCmpEqual));
  EXPECT_FALSE(compare(*bits(i(8)), *bits(i(16)), kCmpEqual));
  EXPECT_TRUE(compare(*bits(i(8)), *bits(i(16)), kCmpLesser));
  // Empty plain and empty complemented sets differ: no member against every one.
  EXPECT_FALSE(compare(*empty, *test::call(kActionComplement, {*empty}), kCmpEqual));
  EXPECT_FALSE(compare(*a, text_cell("a"), kCmpEqual));
  EXPECT_TRUE(compare(*a, i(1), kCmpNotEqual));
}

TEST(BitsetTest, FormAndMoldAlike) {
  Cell* b = bits({no(), *push_binary({0x12, 0xAB})});
  EXPECT_EQ(test::form_of(*b), "make bitset! [not #{12AB}]");
  EXPECT_EQ(test::mold(*b, false, true), "make bitset! [not #{12AB}]");
  EXPECT_EQ(test::form_of(*b, 22), "make bitset! [not #{12");
  // Molded inside a block with a limit: the output stops after the byte that passed it.
  StackSave save;
  Cell* buffer = string_make_at(stack_push(), 16);
  int32_t left = action_mold(b, test::mold_into(buffer, 20, stack_push_value(i(20))));
  EXPECT_EQ(test::text_of(*buffer), "make bitset! [not #{12");
  EXPECT_EQ(left, -2);
}

}  // namespace
}  // namespace kiv
