// map!: make and to, lookups (letter case ignored, /case, /same, the word
// kinds), put and path steps, remove/key and revival, extend, the foreach
// step, reflection, form and mold, compare, copy, clear, growth, and make/to
// block! of a map.
#include "datatypes/map.h"

#include <gtest/gtest.h>

#include <string>

#include "block_reader.h"
#include "datatypes/context.h"
#include "kiv_test.h"
#include "runtime/cycle.h"
#include "runtime/hashtable.h"
#include "runtime/stack.h"

namespace kiv {
namespace {

using test::Act;
using test::catch_error;
using test::compare;
using test::form_of;
using test::kNoError;
using test::mold;
using test::mold_of;
using test::outcome;
using test::push_text;
using test::read_block;
using test::text_cell;
using test::word;

// A map! made from the block [text] reads as (pushed).
Cell* map_of(std::string_view text) { return test::make(kTypeMap, *read_block(text)); }

std::string flat(Cell v) { return mold(v, false, false, true); }

// What [body] answers, molded flat, or "!" and the id word of the error it raises.
std::string flat_outcome(const std::function<Cell()>& body) {
  std::string text;
  ErrorId e = catch_error([&] { text = flat(*stack_push_value(body())); });
  return e == kNoError ? text : std::string("!") + error_info(e).word;
}

int32_t length_of(Cell m) { return test::integer_of(test::call_action(kActionLengthQ, {m})); }

Cell select(Cell m, Cell key) { return test::call_action(kActionSelect, {m, key}); }

// The outcome of a path step on [m]: a read without [value], else a set.
std::string path(Cell* m, Cell key, Cell* value = nullptr, bool case_sensitive = false) {
  return outcome([&] {
    EvalPathArgs a;
    a.element = stack_push_value(key);
    a.value = value;
    a.case_ = case_sensitive;
    return *action_eval_path(m, a);
  });
}

class MapTest : public ::testing::Test {
 protected:
  void TearDown() override { EXPECT_EQ(cycle_stack_depth(), 0u); }
};

TEST_F(MapTest, MakeAndTo) {
  struct Case {
    const char* name;
    std::function<Cell()> body;
    const char* outcome;
  };
  const Case cases[] = {
      {"pairs", [] { return *map_of("a 1 b 2"); }, "#[a: 1 b: 2]"},
      {"word kinds become set-words", [] { return *map_of("'a 1 :b 2 c: 3"); }, "#[a: 1 b: 2 c: 3]"},
      {"a later duplicate gives its value to the first pair", [] { return *map_of("a 1 b 2 a 3"); },
       "#[a: 3 b: 2]"},
      {"duplicates compare letter case", [] { return *map_of("\"k\" 1 \"K\" 2"); }, "#[\"k\" 1 \"K\" 2]"},
      {"from the position", [] { return *test::make(kTypeMap, test::at_head(read_block("x a 1"), 1)); },
       "#[a: 1]"},
      {"from the position, odd",
       [] { return *test::make(kTypeMap, test::at_head(read_block("x a 1 b"), 1)); }, "!invalid-arg"},
      {"empty block", [] { return *map_of(""); }, "#[]"},
      {"odd count", [] { return *map_of("a 1 b"); }, "!invalid-arg"},
      {"a block key", [] { return *map_of("[1] 2"); }, "!invalid-path"},
      {"a number: room only", [] { return *test::make(kTypeMap, integer_cell(3)); }, "#[]"},
      {"a float is truncated", [] { return *test::make(kTypeMap, float_cell(2.7)); }, "#[]"},
      {"a negative number", [] { return *test::make(kTypeMap, integer_cell(-1)); }, "!out-of-range"},
      {"a float out of range", [] { return *test::make(kTypeMap, float_cell(1e12)); }, "!out-of-range"},
      {"to from a number", [] { return *test::to(kTypeMap, integer_cell(3)); }, "!bad-to-arg"},
      {"make from text", [] { return *test::make(kTypeMap, text_cell("a 1")); }, "!bad-to-arg"},
      {"to from a paren", [] { return *test::to(kTypeMap, *block_ks_abs_at(read_block("(a 1)"), 0)); },
       "#[a: 1]"},
      {"to from a hash!", [] { return *test::to(kTypeMap, *test::make(kTypeHash, *read_block("k 7"))); },
       "#[k: 7]"},
      {"from a map: a copy", [] { return *test::make(kTypeMap, *map_of("a 1")); }, "#[a: 1]"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(flat_outcome(c.body), c.outcome);
  }
  EXPECT_EQ(length_of(*map_of("a 1 b 2")), 2);
  EXPECT_EQ(length_of(*map_of("a 1 a 2")), 1);
  EXPECT_EQ(test::integer_of(select(*map_of("a 1 a 2"), word("a"))), 2);
  // The new-line markers of the source do not reach the map.
  Cell* b = read_block("a 1");
  block_ks_abs_at(b, 1)->header |= kFlagNewLine;
  Cell* m = test::make(kTypeMap, *b);
  EXPECT_FALSE(select(*m, word("a")).new_line());
}

TEST_F(MapTest, LookupModes) {
  Cell* m = map_of("\"Key\" 1 a 2");
  Cell upper = *push_text("KEY");
  struct Case {
    const char* name;
    Act act;
    const char* outcome;
  };
  Case cases[] = {
      {"select ignores letter case", Act(kActionSelect, {*m, upper}), "1"},
      {"select/case does not", Act(kActionSelect, {*m, upper}).ref("case"), "none"},
      {"select/case, same case", Act(kActionSelect, {*m, text_cell("Key")}).ref("case"), "1"},
      {"select/same needs the stored key itself", Act(kActionSelect, {*m, text_cell("Key")}).ref("same"),
       "none"},
      {"a word finds a set-word key", Act(kActionSelect, {*m, word("a")}), "2"},
      {"so does a lit-word", Act(kActionSelect, {*m, word("a", kTypeLitWord)}), "2"},
      {"and a get-word", Act(kActionSelect, {*m, word("a", kTypeGetWord)}), "2"},
      {"a word in another case", Act(kActionSelect, {*m, word("A")}), "2"},
      {"but not with /case", Act(kActionSelect, {*m, word("A")}).ref("case"), "none"},
      {"missing", Act(kActionSelect, {*m, word("zz")}), "none"},
      {"a key of no key type", Act(kActionSelect, {*m, *read_block("1")}), "none"},
      {"find gives the stored key", Act(kActionFind, {*m, upper}), "\"Key\""},
      {"a set-word key comes back a word", Act(kActionFind, {*m, word("a", kTypeSetWord)}), "a"},
      {"find/case misses", Act(kActionFind, {*m, upper}).ref("case"), "none"},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(outcome([&] { return *c.act.run(); }), c.outcome);
  }
  EXPECT_EQ(test::call_action(kActionFind, {*m, word("a")}).type(), kTypeWord);
}

TEST_F(MapTest, PutAndPathSteps) {
  Cell* m = map_of("a 1");
  Cell* two = stack_push_value(integer_cell(2));
  EXPECT_EQ(outcome([&] { return *Act(kActionPut, {*m, word("b"), *two}).run(); }), "2");
  EXPECT_EQ(flat(*m), "#[a: 1 b: 2]");
  // A key that differs only in letter case sets the stored pair, keeping its key.
  EXPECT_EQ(path(m, word("A"), stack_push_value(integer_cell(5))), "5");
  EXPECT_EQ(flat(*m), "#[a: 5 b: 2]");
  // With /case it is another key.
  Act(kActionPut, {*m, word("A"), integer_cell(6)}).ref("case").run();
  EXPECT_EQ(flat(*m), "#[a: 5 b: 2 A: 6]");
  EXPECT_EQ(path(m, word("b")), "2");
  EXPECT_EQ(path(m, word("zz")), "none");
  // An integer element is a key like another, not a position.
  EXPECT_EQ(path(m, integer_cell(1)), "none");
  EXPECT_EQ(path(m, integer_cell(1), stack_push_value(word("one"))), "one");
  EXPECT_EQ(path(m, integer_cell(1)), "one");
  Act(kActionRemove, {*m}).ref("key", integer_cell(1)).run();
  EXPECT_EQ(path(m, word("A"), nullptr, true), "6");
  // none is a value like another: the pair stays.
  EXPECT_EQ(path(m, word("b"), stack_push_value(kNoneCell)), "none");
  EXPECT_EQ(length_of(*m), 3);
  EXPECT_EQ(flat(*m), "#[a: 5 b: none A: 6]");
  // A new key of no key type: invalid-path naming the path and the datatype.
  Cell* p = read_block("m x");
  p->set_type(kTypePath);
  ErrorId e = catch_error([&] {
    EvalPathArgs a;
    a.element = stack_push_value(*read_block("1"));
    a.value = two;
    a.path = p;
    action_eval_path(m, a);
  });
  EXPECT_EQ(e, kErrScriptInvalidPath);
  EXPECT_EQ(mold_of(last_raised_error().args[0]), "m/x");
  EXPECT_EQ(mold_of(last_raised_error().args[1]), "block!");
  EXPECT_EQ(Act(kActionPut, {*m, *read_block(""), *two}).error(), kErrScriptInvalidPath);
  EXPECT_EQ(mold_of(last_raised_error().args[0]), "none");
  EXPECT_EQ(length_of(*m), 3);
}

TEST_F(MapTest, SeriesKeysAreCopies) {
  Cell* s = push_text("abc");
  Cell* m = map_of("");
  Act(kActionPut, {*m, *s, integer_cell(1)}).run();
  string_append_utf8(s, "def");
  EXPECT_EQ(flat(*m), "#[\"abc\" 1]");
  EXPECT_EQ(mold_of(select(*m, text_cell("abc"))), "1");
  // From the key's position.
  Cell at = test::at_head(push_text("xyz"), 1);
  Act(kActionPut, {*m, at, integer_cell(2)}).run();
  EXPECT_EQ(flat(*m), "#[\"abc\" 1 \"yz\" 2]");
  // A string key made from a block is copied too.
  Cell* b = read_block("\"k\" 1");
  Cell* from_block = test::make(kTypeMap, *b);
  string_append_utf8(block_ks_abs_at(b, 0), "!");
  EXPECT_EQ(flat(*from_block), "#[\"k\" 1]");
}

TEST_F(MapTest, TextKeysOfEachType) {
  for (TypeId t : {kTypeString, kTypeFile, kTypeUrl, kTypeTag, kTypeEmail, kTypeRef}) {
    SCOPED_TRACE(type_name(t));
    Cell* m = map_of("");
    Act(kActionPut, {*m, *push_text("Ab", 1, t), integer_cell(1)}).run();
    EXPECT_EQ(mold_of(select(*m, *push_text("aB", 1, t))), "1");
    EXPECT_EQ(mold_of(Act(kActionSelect, {*m, *push_text("aB", 1, t)}).ref("case").value()), "none");
    // Another text type is another key.
    TypeId other = t == kTypeString ? kTypeFile : kTypeString;
    EXPECT_EQ(mold_of(select(*m, *push_text("Ab", 1, other))), "none");
    EXPECT_EQ(test::call_action(kActionFind, {*m, *push_text("ab", 1, t)}).type(), t);
  }
}

TEST_F(MapTest, RemoveEmptiesAndSettingRevives) {
  Cell* m = map_of("a 1 b 2 c 3");
  Act(kActionRemove, {*m}).ref("key", word("b")).run();
  EXPECT_EQ(length_of(*m), 2);
  EXPECT_EQ(mold_of(select(*m, word("b"))), "none");
  EXPECT_EQ(mold_of(test::call_action(kActionFind, {*m, word("b")})), "none");
  EXPECT_EQ(mold_of(*m), "#[\n    a: 1\n    c: 3\n]");
  // Letter case counts for remove: nothing happens.
  Act(kActionRemove, {*m}).ref("key", word("A")).run();
  Act(kActionRemove, {*m}).ref("key", word("zz")).run();
  EXPECT_EQ(length_of(*m), 2);
  // Setting the key again fills the same place, counted again.
  Act(kActionPut, {*m, word("b"), integer_cell(9)}).run();
  EXPECT_EQ(length_of(*m), 3);
  EXPECT_EQ(flat(*m), "#[a: 1 b: 9 c: 3]");
  EXPECT_EQ(series_total_cells(&*m), 6);
  // Removing the last pair: the pair before it molds without a trailing separator.
  Act(kActionRemove, {*m}).ref("key", word("c")).run();
  EXPECT_EQ(flat(*m), "#[a: 1 b: 9]");
  EXPECT_EQ(form_of(*m), "a: 1\nb: 9");
  EXPECT_EQ(Act(kActionRemove, {*m}).error(), kErrScriptMissingArg);
  EXPECT_EQ(Act(kActionRemove, {*m}).ref("part", integer_cell(1)).error(), kErrScriptMissingArg);
}

TEST_F(MapTest, Extend) {
  Cell* m = map_of("a 1 \"s\" 2");
  map_extend(m, read_block("b 3 A 4 \"S\" 5"), false);
  EXPECT_EQ(flat(*m), "#[a: 4 \"s\" 5 b: 3]");
  map_extend(m, read_block("A 6"), true);
  EXPECT_EQ(flat(*m), "#[a: 4 \"s\" 5 b: 3 A: 6]");
  // A removed key is revived in its place.
  Act(kActionRemove, {*m}).ref("key", word("b")).run();
  map_extend(m, read_block("b 7"), false);
  EXPECT_EQ(flat(*m), "#[a: 4 \"s\" 5 b: 7 A: 6]");
  // From another map.
  map_extend(m, map_of("z 0"), false);
  EXPECT_EQ(length_of(*m), 5);
  // Bad input changes nothing.
  EXPECT_EQ(catch_error([&] { map_extend(m, read_block("c 1 d"), false); }), kErrScriptInvalidArg);
  EXPECT_EQ(catch_error([&] { map_extend(m, read_block("c 1 [x] 2"), false); }), kErrScriptInvalidPath);
  EXPECT_EQ(mold_of(last_raised_error().args[0]), "none");
  EXPECT_EQ(catch_error([&] { map_extend(m, stack_push_value(integer_cell(1)), false); }),
            kErrScriptInvalidArg);
  EXPECT_EQ(length_of(*m), 5);
}

TEST_F(MapTest, ForeachStep) {
  Cell* m = map_of("a 1 b 2 c 3");
  Act(kActionRemove, {*m}).ref("key", word("b")).run();
  Cell* words = read_block("k v");
  auto step = [&](int32_t* pos) {
    bool any = map_foreach_next(m, pos, words);
    return std::string(any ? "" : "end ") + mold_of(*word_get(&series_cells(words->node())[0])) + " " +
           mold_of(*word_get(&series_cells(words->node())[1]));
  };
  int32_t pos = 0;
  EXPECT_EQ(step(&pos), "a 1");
  EXPECT_EQ(step(&pos), "c 3");
  EXPECT_EQ(step(&pos), "end none none");
  // Three words: the pairs run out part way.
  words = read_block("x y z");
  pos = 0;
  EXPECT_TRUE(map_foreach_next(m, &pos, words));
  EXPECT_EQ(mold_of(*word_get(&series_cells(words->node())[2])), "c");
  EXPECT_TRUE(map_foreach_next(m, &pos, words));
  EXPECT_EQ(mold_of(*word_get(&series_cells(words->node())[0])), "3");
  EXPECT_EQ(mold_of(*word_get(&series_cells(words->node())[1])), "none");
  pos = 0;
  EXPECT_EQ(catch_error([&] { map_foreach_next(m, &pos, read_block("k 1")); }), kErrScriptInvalidArg);
  EXPECT_EQ(mold_of(last_raised_error().args[0]), "1");
  EXPECT_EQ(pos, 0);
}

TEST_F(MapTest, Reflect) {
  Cell* m = map_of("a 1 \"s\" 2 b 3");
  Act(kActionRemove, {*m}).ref("key", word("b")).run();
  auto reflect = [&](const char* field) {
    return outcome([&] { return *Act(kActionReflect, {*m, word(field)}).run(); });
  };
  EXPECT_EQ(reflect("words"), "[a \"s\"]");
  EXPECT_EQ(reflect("values"), "[1 2]");
  EXPECT_EQ(reflect("body"), "[\n    a: 1\n    \"s\" 2\n]");
  EXPECT_EQ(reflect("spec"), "!not-done");
  EXPECT_EQ(outcome([&] { return *Act(kActionReflect, {*m, integer_cell(1)}).run(); }), "!not-done");
  // make and to block! give the body.
  EXPECT_EQ(outcome([&] { return *test::to(kTypeBlock, *m); }), "[\n    a: 1\n    \"s\" 2\n]");
  EXPECT_EQ(outcome([&] { return *test::make(kTypeBlock, *m); }), "[\n    a: 1\n    \"s\" 2\n]");
  EXPECT_EQ(flat(*test::to(kTypeParen, *m)), "(a: 1 \"s\" 2)");
  EXPECT_EQ(flat(*test::to(kTypeHash, *m)), "make hash! [a: 1 \"s\" 2]");
}

TEST_F(MapTest, FormAndMold) {
  Cell* m = map_of("a 1 b [x y]");
  EXPECT_EQ(mold_of(*m), "#[\n    a: 1\n    b: [x y]\n]");
  EXPECT_EQ(mold(*m, true), "a: 1\nb: [x y]\n");
  EXPECT_EQ(flat(*m), "#[a: 1 b: [x y]]");
  EXPECT_EQ(mold(*m, true, false, true), "a: 1 b: [x y]");
  EXPECT_EQ(form_of(*m), "a: 1\nb: [x y]");
  EXPECT_EQ(mold_of(*map_of("")), "#[]");
  EXPECT_EQ(form_of(*map_of("")), "");
  // Nested: the inner map indents one level more, its closing bracket too.
  Cell* outer = map_of("k 0");
  Act(kActionPut, {*outer, word("in"), *map_of("x 1")}).run();
  EXPECT_EQ(mold_of(*outer), "#[\n    k: 0\n    in: #[\n        x: 1\n    ]\n]");
  // /part stops once the budget is spent.
  EXPECT_EQ(mold(*map_of("a 1 b 2 c 3"), false, false, true, 8), "#[a: 1 b");
  // A map inside itself is elided.
  Cell* self = map_of("a 1");
  Act(kActionPut, {*self, word("me"), *self}).run();
  EXPECT_EQ(flat(*self), "#[a: 1 me: #[...]]");
  EXPECT_EQ(form_of(*self), "a: 1\nme: #[...]");
}

TEST_F(MapTest, Compare) {
  Cell* ab = map_of("a 1 b 2");
  Cell* ba = map_of("b 2 a 1");
  EXPECT_TRUE(compare(*ab, *ba, kCmpEqual));
  EXPECT_TRUE(compare(*ab, *ba, kCmpStrictEqual));
  EXPECT_FALSE(compare(*ab, *ba, kCmpNotEqual));
  EXPECT_FALSE(compare(*ab, *ba, kCmpSame));
  EXPECT_TRUE(compare(*ab, *ab, kCmpSame));
  EXPECT_FALSE(compare(*ab, *map_of("a 1"), kCmpEqual));
  EXPECT_FALSE(compare(*ab, *map_of("a 1 b 3"), kCmpEqual));
  EXPECT_TRUE(compare(*map_of(""), *map_of(""), kCmpEqual));
  // Letter case of keys and values, and the type of values: only strictly.
  EXPECT_TRUE(compare(*map_of("A 1"), *map_of("a 1"), kCmpEqual));
  EXPECT_FALSE(compare(*map_of("A 1"), *map_of("a 1"), kCmpStrictEqual));
  EXPECT_TRUE(compare(*map_of("a \"x\""), *map_of("a \"X\""), kCmpEqual));
  EXPECT_FALSE(compare(*map_of("a \"x\""), *map_of("a \"X\""), kCmpStrictEqual));
  Cell* f = map_of("a 0");
  Act(kActionPut, {*f, word("a"), float_cell(1.0)}).run();
  EXPECT_TRUE(compare(*map_of("a 1"), *f, kCmpEqual));
  EXPECT_FALSE(compare(*map_of("a 1"), *f, kCmpStrictEqual));
  // Two keys matching one key without case: either may hold the equal value.
  EXPECT_TRUE(compare(*map_of("\"k\" 2 \"K\" 1"), *map_of("\"K\" 1 \"k\" 2"), kCmpEqual));
  EXPECT_FALSE(compare(*map_of("\"k\" 2 \"K\" 1"), *map_of("\"K\" 1 \"k\" 3"), kCmpEqual));
  // The sort orders are consistent; the other orders are no comparison.
  int order = action_compare_values(ab, ba, kCmpSort);
  EXPECT_NE(order, 0);
  EXPECT_EQ(action_compare_values(ba, ab, kCmpSort), -order);
  EXPECT_EQ(action_compare_values(ab, ab, kCmpCaseSort), 0);
  EXPECT_EQ(catch_error([&] { compare(*ab, *ba, kCmpLesser); }), kErrScriptInvalidCompare);
  EXPECT_FALSE(compare(*ab, integer_cell(1), kCmpEqual));
  // Maps inside themselves.
  Cell* x = map_of("a 1");
  Act(kActionPut, {*x, word("me"), *x}).run();
  Cell* y = map_of("a 1");
  Act(kActionPut, {*y, word("me"), *y}).run();
  EXPECT_TRUE(compare(*x, *y, kCmpEqual));
}

TEST_F(MapTest, Copy) {
  Cell* inner = read_block("1 2");
  Cell* m = map_of("a 1");
  Act(kActionPut, {*m, word("b"), *inner}).run();
  Act(kActionRemove, {*m}).ref("key", word("a")).run();
  Cell* c = Act(kActionCopy, {*m}).run();
  Act(kActionPut, {*c, word("z"), integer_cell(0)}).run();
  Act(kActionPut, {*c, word("a"), integer_cell(5)}).run();
  EXPECT_EQ(flat(*m), "#[b: [1 2]]");
  EXPECT_EQ(flat(*c), "#[a: 5 b: [1 2] z: 0]");
  EXPECT_EQ(length_of(*c), 3);
  // Shallow: the block is shared; /deep copies it; /types copies the values of those types.
  Cell shallow = select(*c, word("b"));
  EXPECT_EQ(shallow.node(), inner->node());
  Cell* deep = Act(kActionCopy, {*m}).ref("deep").run();
  EXPECT_NE(select(*deep, word("b")).node(), inner->node());
  Cell* typed = Act(kActionCopy, {*m}).ref("types", datatype_cell(kTypeBlock)).run();
  EXPECT_NE(select(*typed, word("b")).node(), inner->node());
  Cell* untyped = Act(kActionCopy, {*m}).ref("types", datatype_cell(kTypeString)).run();
  EXPECT_EQ(select(*untyped, word("b")).node(), inner->node());
  EXPECT_EQ(flat(*deep), "#[b: [1 2]]");
  EXPECT_EQ(Act(kActionCopy, {*m}).ref("part", integer_cell(1)).error(), kErrScriptInvalidRefineArg);
}

TEST_F(MapTest, ClearAndUnsupported) {
  Cell* m = map_of("a 1 b 2");
  Act(kActionClear, {*m}).run();
  EXPECT_EQ(length_of(*m), 0);
  EXPECT_EQ(mold_of(*m), "#[]");
  Act(kActionPut, {*m, word("c"), integer_cell(3)}).run();
  EXPECT_EQ(flat(*m), "#[c: 3]");
  EXPECT_EQ(Act(kActionAppend, {*m, integer_cell(1)}).error(), kErrScriptExpectArg);
  EXPECT_EQ(Act(kActionPick, {*m, integer_cell(1)}).error(), kErrScriptExpectArg);
}

// Enough keys to grow the index several times; removed pairs revived in place.
TEST_F(MapTest, GrowsAndKeepsEveryKey) {
  Cell* m = map_of("");
  Cell* key = stack_push();
  constexpr int32_t kKeys = 300;
  for (int32_t i = 0; i < kKeys; i++) {
    *key = *push_text("k" + std::to_string(i));
    Act(kActionPut, {*m, *key, integer_cell(i)}).run();
    stack_pop(1);
  }
  for (int32_t i = 0; i < kKeys; i += 3)
    Act(kActionRemove, {*m}).ref("key", text_cell("k" + std::to_string(i))).run();
  EXPECT_EQ(length_of(*m), kKeys - kKeys / 3);
  for (int32_t i = 0; i < kKeys; i += 6)
    Act(kActionPut, {*m, text_cell("k" + std::to_string(i)), integer_cell(-i)}).run();
  EXPECT_EQ(length_of(*m), kKeys - kKeys / 3 + kKeys / 6);
  EXPECT_EQ(series_total_cells(m), 2 * kKeys);
  for (int32_t i = 0; i < kKeys; i++) {
    Cell v = select(*m, text_cell("k" + std::to_string(i)));
    std::string want = i % 6 == 0 ? std::to_string(-i) : i % 3 == 0 ? "none" : std::to_string(i);
    ASSERT_EQ(mold_of(v), want) << i;
  }
  EXPECT_EQ(hashtable_size(map_table(m)), uint32_t(length_of(*m)));
}

TEST_F(MapTest, KeysOfOneHashStayApart) {
  // The 256 letter-case spellings of "abcdefgh" share one hash: put/case
  // makes 256 keys probed past each other, each found only by itself.
  Cell* m = map_of("");
  auto spelling = [](int bits) {
    std::string k = "abcdefgh";
    for (int b = 0; b < 8; b++)
      if (bits >> b & 1) k[size_t(b)] = char(k[size_t(b)] - 32);
    return k;
  };
  for (int i = 0; i < 256; i++)
    Act(kActionPut, {*m, *push_text(spelling(i)), integer_cell(i)}).ref("case").run();
  EXPECT_EQ(length_of(*m), 256);
  for (int i = 0; i < 256; i += 5) {
    Cell v = *Act(kActionSelect, {*m, *push_text(spelling(i))}).ref("case").run();
    ASSERT_EQ(mold_of(v), std::to_string(i)) << spelling(i);
  }
  for (int i = 0; i < 256; i += 2) Act(kActionRemove, {*m}).ref("key", *push_text(spelling(i))).run();
  EXPECT_EQ(length_of(*m), 128);
  // Without /case any spelling finds one of the pairs left: an odd one.
  Cell any = select(*m, text_cell("abcdefgh"));
  ASSERT_TRUE(any.is(kTypeInteger));
  EXPECT_EQ(integer_get(&any) % 2, 1);
  EXPECT_EQ(mold_of(*Act(kActionSelect, {*m, *push_text(spelling(7))}).ref("case").run()), "7");
  EXPECT_EQ(mold_of(*Act(kActionSelect, {*m, *push_text(spelling(8))}).ref("case").run()), "none");
}

TEST_F(MapTest, ShortTextKeysArePackedUntilTakenAsValues) {
  Cell* m = map_of("");
  auto put = [&](Cell key, int32_t v) { Act(kActionPut, {*m, key, integer_cell(v)}).run(); };
  auto key_cell = [&](int32_t pair) { return series_cells(map_pairs(m))[2 * pair]; };
  put(text_cell("eleven-char"), 1);            // 11 code points: packed
  put(text_cell("twelve-chars"), 2);           // 12: a series
  put(text_cell("\xC3\xBF", 2), 3);            // U+00FF, from a wide buffer: packed
  put(text_cell("\xC4\x80"), 4);               // U+0100: a series
  put(test::at_head(push_text("xyz"), 1), 5);  // from its position: "yz", packed
  put(text_cell(""), 6);
  const TypeId stored[] = {kTypeUnset, kTypeString, kTypeUnset, kTypeString, kTypeUnset, kTypeUnset};
  for (int32_t i = 0; i < 6; i++) EXPECT_EQ(key_cell(i).type(), stored[i]) << "pair " << i;
  struct Case {
    Cell key;
    bool case_sensitive;
    const char* value;
  };
  const Case cases[] = {
      {text_cell("ELEVEN-CHAR"), false, "1"},
      {text_cell("ELEVEN-CHAR"), true, "none"},
      {text_cell("Twelve-Chars"), false, "2"},
      {text_cell("\xC5\xB8"), false, "3"},  // U+0178 folds with U+00FF
      {text_cell("\xC5\xB8"), true, "none"},
      {text_cell("\xC4\x80"), true, "4"},
      {text_cell("YZ"), false, "5"},
      {test::at_head(push_text("xYZ"), 1), false, "5"},  // a byte text read from its position
      {test::at_head(push_text("xYZ"), 1), true, "none"},
      {text_cell("\xC3\x9F"), false, "none"},  // U+00DF: a byte text that differs in one byte
      {text_cell("\xC3\xBF"), true, "3"},      // U+00FF in a byte text
      {text_cell(""), false, "6"},
      {text_cell("eleven-cha"), false, "none"},
      {*push_text("yz", 1, kTypeFile), false, "none"},
      {kUnsetCell, false, "none"},  // an unset! lookup is no packed key
  };
  for (const Case& c : cases) {
    Act select(kActionSelect, {*m, c.key});
    if (c.case_sensitive) select.ref("case");
    EXPECT_EQ(mold_of(*select.run()), c.value) << mold_of(c.key) << (c.case_sensitive ? " /case" : "");
  }
  // Latin-1 letters of a byte text fold with letter case; with /case they differ.
  Cell* latin = map_of("");
  Act(kActionPut, {*latin, text_cell("caf\xC3\xA9"), integer_cell(7)}).run();
  EXPECT_EQ(mold_of(select(*latin, text_cell("CAF\xC3\x89"))), "7");
  EXPECT_EQ(mold_of(*Act(kActionSelect, {*latin, text_cell("caf\xC3\x89")}).ref("case").run()), "none");
  EXPECT_EQ(mold_of(*Act(kActionSelect, {*latin, text_cell("caf\xC3\xA9")}).ref("case").run()), "7");
  EXPECT_EQ(flat(*m),
            "#[\"eleven-char\" 1 \"twelve-chars\" 2 \"\xC3\xBF\" 3 \"\xC4\x80\" 4 \"yz\" 5 \"\" 6]");
  EXPECT_EQ(key_cell(0).type(), kTypeUnset) << "molding gives a packed key no series";
  // find gives the key a series of its own, kept in its place: the same
  // series every time, found by /same.
  Cell found = *Act(kActionFind, {*m, text_cell("Eleven-Char")}).run();
  EXPECT_EQ(key_cell(0).type(), kTypeString);
  EXPECT_EQ(key_cell(0).node(), found.node());
  EXPECT_EQ(Act(kActionFind, {*m, text_cell("eleven-char")}).run()->node(), found.node());
  EXPECT_EQ(mold_of(*Act(kActionSelect, {*m, found}).ref("same").run()), "1");
  EXPECT_EQ(mold_of(*Act(kActionSelect, {*m, text_cell("yz")}).ref("same").run()), "none");
  // A copy shares its keys as series; a deep copy has its own.
  Cell copy = *Act(kActionCopy, {*m}).run();
  Cell deep = *Act(kActionCopy, {*m}).ref("deep").run();
  Cell yz = *Act(kActionFind, {*m, text_cell("yz")}).run();
  EXPECT_EQ(Act(kActionFind, {copy, text_cell("yz")}).run()->node(), yz.node());
  EXPECT_NE(Act(kActionFind, {deep, text_cell("yz")}).run()->node(), yz.node());
  EXPECT_TRUE(compare(copy, *m, kCmpStrictEqual));
  EXPECT_TRUE(compare(deep, *m, kCmpStrictEqual));
  EXPECT_TRUE(compare(
      *m, *map_of("\"ELEVEN-CHAR\" 1 \"twelve-chars\" 2 \"\xC3\xBF\" 3 \"\xC4\x80\" 4 \"yz\" 5 \"\" 6"),
      kCmpEqual));
}

TEST_F(MapTest, MakeSizesItsIndexForPairs) {
  if (kTinySizes) GTEST_SKIP() << "a tiny build starts every table at the minimum";
  // Room for 1,000 pairs: trunc(1,000 / 0.77) = 1,298 -> 2,048 buckets.
  Cell* m = test::make(kTypeMap, integer_cell(1000));
  EXPECT_EQ(hashtable_header(map_table(m)).buckets, 2048u);
}

TEST_F(MapTest, MakeAt) {
  // The pairs are handed over: keys normalised in place, no copies.
  Cell* b = read_block("x 1 'y 2 x 3");
  Cell* m = map_make_at(stack_push(), b->node(), 0);
  EXPECT_EQ(flat(*m), "#[x: 3 y: 2]");
  EXPECT_EQ(map_pairs(m), b->node());
  EXPECT_EQ(flat(*map_make_at(stack_push(), 0, 10)), "#[]");
  EXPECT_EQ(catch_error([] { map_make_at(stack_push(), read_block("x")->node(), 0); }), kErrScriptInvalidArg);
  EXPECT_EQ(catch_error([] { map_make_at(stack_push(), read_block("[] 1")->node(), 0); }),
            kErrScriptInvalidPath);
}

}  // namespace
}  // namespace kiv
