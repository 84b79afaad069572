// hash!: make, to, copy and mold, lookups through the index, and the index
// kept in step with the cells through every inherited writer: after each
// change every cell is found through the index at its own position, and the
// index holds exactly the cells.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "block_reader.h"
#include "datatypes/series.h"
#include "kiv_test.h"
#include "runtime/cycle.h"
#include "runtime/hashtable.h"
#include "runtime/stack.h"

namespace kiv {
namespace {

using test::Act;
using test::at_head;
using test::catch_error;
using test::mold;
using test::mold_of;
using test::read_block;
using test::word;

Cell* hash_of(std::string_view text) { return test::make(kTypeHash, *read_block(text)); }

// The cells of a block-family value from its first cell, molded flat.
std::string whole(Cell v) {
  v.set_head(0);
  v.set_type(kTypeBlock);
  return mold(v, false, false, true);
}

// Every cell of the hash! [h] is found through its index at its own position.
void expect_in_step(const Cell* h) {
  ASSERT_TRUE(h->is(kTypeHash));
  ASSERT_TRUE(block_indexed_q(h));
  int32_t total = block_total_length(h);
  EXPECT_EQ(hashtable_size(block_hash_index(h)), uint32_t(total));
  for (int32_t i = 0; i < total; i++) {
    Cell* key = stack_push_value(*block_ks_abs_at(h, i));
    EXPECT_EQ(hashtable_find(block_hash_index(h), key, i, 1, kCmpEqual, false, false), i) << "cell " << i;
    stack_pop(1);
  }
}

class HashTest : public ::testing::Test {
 protected:
  void TearDown() override { EXPECT_EQ(cycle_stack_depth(), 0u); }
};

TEST_F(HashTest, MakeToAndMold) {
  Cell* h = hash_of("a 1 b 2");
  EXPECT_EQ(mold_of(*h), "make hash! [a 1 b 2]");
  EXPECT_EQ(mold(*h, true), "a 1 b 2");
  EXPECT_EQ(test::form_of(*h), "a 1 b 2");
  EXPECT_EQ(mold_of(Act(kActionSelect, {*h, word("b")}).value()), "2");
  expect_in_step(h);
  struct Case {
    const char* name;
    std::function<Cell*()> make;
    const char* mold;
  };
  const Case cases[] = {
      {"a number: room only", [] { return test::make(kTypeHash, integer_cell(10)); }, "make hash! []"},
      {"below 1", [] { return test::make(kTypeHash, integer_cell(-3)); }, "make hash! []"},
      {"from a position", [] { return test::make(kTypeHash, at_head(read_block("1 2 3"), 1)); },
       "make hash! [2 3]"},
      {"from a hash!", [] { return test::make(kTypeHash, *hash_of("1 1")); }, "make hash! [1 1]"},
      {"to from a value", [] { return test::to(kTypeHash, integer_cell(5)); }, "make hash! [5]"},
      {"make from a value", [] { return test::make(kTypeHash, word("w")); }, "make hash! [w]"},
      {"to from a hash!", [] { return test::to(kTypeHash, *hash_of("x")); }, "make hash! [x]"},
      {"to from a block", [] { return test::to(kTypeHash, *read_block("[1] 2")); }, "make hash! [[1] 2]"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Cell* made = c.make();
    EXPECT_EQ(mold_of(*made), c.mold);
    expect_in_step(made);
  }
  EXPECT_EQ(catch_error([] { test::make(kTypeHash, float_cell(1e12)); }), kErrScriptOutOfRange);
  // A hash! inside itself.
  Cell* self = hash_of("1");
  Act(kActionAppend, {*self, *self}).ref("only").run();
  EXPECT_EQ(mold_of(*self), "make hash! [1 [...]]");
  EXPECT_EQ(Act(kActionRandom, {*h}).error(), kErrScriptExpectArg);
}

TEST_F(HashTest, FindsThroughTheIndex) {
  Cell* h = hash_of("1 1 x 1");
  auto index_of = [&](Act a) { return test::integer_of(Act(kActionIndexQ, {*a.run()}).value()); };
  EXPECT_EQ(index_of(Act(kActionFind, {*h, integer_cell(1)})), 1);
  EXPECT_EQ(index_of(Act(kActionFind, {*h, integer_cell(1)}).ref("last")), 4);
  EXPECT_EQ(index_of(Act(kActionFind, {at_head(h, 1), integer_cell(1)})), 2);
  EXPECT_EQ(index_of(Act(kActionFind, {*h, word("X")})), 3);
  EXPECT_EQ(mold_of(Act(kActionFind, {*h, word("X")}).ref("case").value()), "none");
  // The index counts every cell: three equal values share one bucket.
  EXPECT_EQ(hashtable_size(block_hash_index(h)), 4u);
}

TEST_F(HashTest, TextTypesShareAHashButNotABucket) {
  // Every text type hashes its letters alike: the buckets of "abc", %abc
  // and <abc> hold the same hash, and a probe tells them apart by type.
  auto text = [](const char* letters, TypeId type) {
    Cell c = test::text_cell(letters);
    c.set_type(type);
    return c;
  };
  Cell* block = read_block("");
  for (Cell c : {text("abc", kTypeString), text("abc", kTypeFile), text("abc", kTypeTag),
                 text("ABC", kTypeString), text("ABC", kTypeFile), text("abc@x", kTypeEmail)})
    block_append_value(block, &c);
  Cell* h = test::make(kTypeHash, *block);
  auto index_of = [&](Act a) { return mold_of(Act(kActionIndexQ, {*a.run()}).value()); };
  EXPECT_EQ(index_of(Act(kActionFind, {*h, text("ABC", kTypeFile)})), "2");
  EXPECT_EQ(index_of(Act(kActionFind, {*h, text("ABC", kTypeTag)})), "3");
  EXPECT_EQ(index_of(Act(kActionFind, {*h, text("ABC", kTypeFile)}).ref("case")), "5");
  EXPECT_EQ(index_of(Act(kActionFind, {*h, text("abc", kTypeString)}).ref("last")), "4");
  EXPECT_EQ(index_of(Act(kActionFind, {*h, text("ABC@x", kTypeEmail)})), "6");
  EXPECT_EQ(mold_of(Act(kActionFind, {*h, text("abc", kTypeUrl)}).value()), "none");
  expect_in_step(h);
}

TEST_F(HashTest, CopiesHaveTablesOfTheirOwn) {
  Cell* h = hash_of("a 1 b 2");
  Cell* c = Act(kActionCopy, {*h}).run();
  EXPECT_NE(block_hash_index(c), block_hash_index(h));
  Act(kActionPut, {*c, word("b"), integer_cell(9)}).run();
  Act(kActionPoke, {*c, integer_cell(1), word("z")}).run();
  EXPECT_EQ(mold_of(Act(kActionSelect, {*h, word("b")}).value()), "2");
  EXPECT_EQ(mold_of(Act(kActionSelect, {*h, word("a")}).value()), "1");
  EXPECT_EQ(mold_of(Act(kActionSelect, {*c, word("a")}).value()), "none");
  expect_in_step(h);
  expect_in_step(c);
  struct Case {
    const char* name;
    Act act;
    const char* mold;
  };
  Case cases[] = {
      {"from a position", Act(kActionCopy, {at_head(h, 2)}), "make hash! [b 2]"},
      {"part", Act(kActionCopy, {*h}).ref("part", integer_cell(3)), "make hash! [a 1 b]"},
      {"deep stays a hash!", Act(kActionCopy, {*h}).ref("deep"), "make hash! [a 1 b 2]"},
      {"types stays a hash!", Act(kActionCopy, {*h}).ref("types", datatype_cell(kTypeBlock)),
       "make hash! [a 1 b 2]"},
  };
  for (Case& k : cases) {
    SCOPED_TRACE(k.name);
    Cell* r = k.act.run();
    EXPECT_EQ(mold_of(*r), k.mold);
    expect_in_step(r);
  }
}

// Each writer on a hash! of [1 2 3 a b], then the whole block and the index.
TEST_F(HashTest, IndexInStepThroughEveryWriter) {
  struct Case {
    const char* name;
    std::function<void(Cell* h, Cell* other)> change;
    const char* after;
  };
  const Case cases[] = {
      {"insert",
       [](Cell* h, Cell*) {
         Act(kActionInsert, {at_head(h, 2), integer_cell(9)}).run();
       },
       "[1 2 9 3 a b]"},
      {"insert a block",
       [](Cell* h, Cell*) {
         Act(kActionInsert, {at_head(h, 1), *read_block("7 a")}).run();
       },
       "[1 7 a 2 3 a b]"},
      {"insert/dup",
       [](Cell* h, Cell*) {
         Act(kActionInsert, {*h, integer_cell(3)}).ref("dup", integer_cell(3)).run();
       },
       "[3 3 3 1 2 3 a b]"},
      {"append",
       [](Cell* h, Cell*) {
         Act(kActionAppend, {*h, integer_cell(1)}).run();
       },
       "[1 2 3 a b 1]"},
      {"change",
       [](Cell* h, Cell*) {
         Act(kActionChange, {at_head(h, 1), word("a")}).run();
       },
       "[1 a 3 a b]"},
      {"change/part",
       [](Cell* h, Cell*) {
         Act(kActionChange, {at_head(h, 1), *read_block("x y z")}).ref("part", integer_cell(1)).run();
       },
       "[1 x y z 3 a b]"},
      {"remove", [](Cell* h, Cell*) { Act(kActionRemove, {at_head(h, 1)}).run(); }, "[1 3 a b]"},
      {"remove/part", [](Cell* h, Cell*) { Act(kActionRemove, {*h}).ref("part", integer_cell(2)).run(); },
       "[3 a b]"},
      {"remove/key", [](Cell* h, Cell*) { Act(kActionRemove, {*h}).ref("key", integer_cell(2)).run(); },
       "[1 a b]"},
      {"take", [](Cell* h, Cell*) { Act(kActionTake, {*h}).run(); }, "[2 3 a b]"},
      {"take/last/part",
       [](Cell* h, Cell*) {
         Cell* t = Act(kActionTake, {*h}).ref("last").ref("part", integer_cell(2)).run();
         EXPECT_EQ(mold_of(*t), "make hash! [a b]");
         expect_in_step(t);
       },
       "[1 2 3]"},
      {"take/deep",
       [](Cell* h, Cell*) {
         expect_in_step(Act(kActionTake, {*h}).ref("part", integer_cell(2)).ref("deep").run());
       },
       "[3 a b]"},
      {"clear", [](Cell* h, Cell*) { Act(kActionClear, {at_head(h, 3)}).run(); }, "[1 2 3]"},
      {"clear all", [](Cell* h, Cell*) { Act(kActionClear, {*h}).run(); }, "[]"},
      {"poke",
       [](Cell* h, Cell*) {
         Act(kActionPoke, {*h, integer_cell(2), word("a")}).run();
       },
       "[1 a 3 a b]"},
      {"put an existing key",
       [](Cell* h, Cell*) {
         Act(kActionPut, {*h, word("a"), integer_cell(1)}).run();
       },
       "[1 2 3 a 1]"},
      {"put a new key",
       [](Cell* h, Cell*) {
         Act(kActionPut, {*h, word("c"), integer_cell(1)}).run();
       },
       "[1 2 3 a b c 1]"},
      {"path set",
       [](Cell* h, Cell*) {
         EvalPathArgs a;
         a.element = stack_push_value(word("a"));
         a.value = stack_push_value(integer_cell(7));
         action_eval_path(h, a);
       },
       "[1 2 3 a 7]"},
      {"sort", [](Cell* h, Cell*) { Act(kActionSort, {*h}).ref("reverse").run(); }, "[b a 3 2 1]"},
      {"sort from a position", [](Cell* h, Cell*) { Act(kActionSort, {at_head(h, 3)}).ref("reverse").run(); },
       "[1 2 3 b a]"},
      {"reverse", [](Cell* h, Cell*) { Act(kActionReverse, {at_head(h, 1)}).run(); }, "[1 b a 3 2]"},
      {"swap within",
       [](Cell* h, Cell*) {
         Act(kActionSwap, {*h, at_head(h, 4)}).run();
       },
       "[b 2 3 a 1]"},
      {"swap with another",
       [](Cell* h, Cell* o) {
         Act(kActionSwap, {at_head(h, 1), *o}).run();
         EXPECT_EQ(whole(*o), "[2 y]");
         expect_in_step(o);
       },
       "[1 x 3 a b]"},
      {"move within",
       [](Cell* h, Cell*) {
         Act(kActionMove, {*h, at_head(h, 3)}).run();
       },
       "[2 3 a 1 b]"},
      {"move back",
       [](Cell* h, Cell*) {
         Act(kActionMove, {at_head(h, 3), *h}).ref("part", integer_cell(2)).run();
       },
       "[a b 1 2 3]"},
      {"move to another",
       [](Cell* h, Cell* o) {
         Act(kActionMove, {*h, at_head(o, 1)}).ref("part", integer_cell(2)).run();
         EXPECT_EQ(whole(*o), "[x 1 2 y]");
         expect_in_step(o);
       },
       "[3 a b]"},
      {"trim",
       [](Cell* h, Cell*) {
         Act(kActionInsert, {at_head(h, 1), kNoneCell}).run();
         Act(kActionAppend, {*h, kNoneCell}).run();
         Act(kActionTrim, {*h}).run();
       },
       "[1 2 3 a b]"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    StackSave save;
    Cell* h = hash_of("1 2 3 a b");
    Cell* other = hash_of("x y");
    c.change(h, other);
    EXPECT_EQ(whole(*h), c.after);
    expect_in_step(h);
  }
}

TEST_F(HashTest, SetOperationsGiveIndexedHashes) {
  Cell* a = hash_of("1 2 2 3");
  series_set_op(a, read_block("3 4"), {kSetUnion, false, {}});
  EXPECT_EQ(mold_of(*a), "make hash! [1 2 3 4]");
  expect_in_step(a);
}

// Past the shift limit an insertion rebuilds the index instead.
TEST_F(HashTest, LargeShiftRebuilds) {
  constexpr int32_t kCells = int32_t(kRefreshLimit) + 100;
  Cell* b = stack_push_value(series_cell(kTypeBlock, series_alloc_cells(kCells)));
  for (int32_t i = 0; i < kCells; i++) series_cells(b->node())[i] = integer_cell(i);
  series_buffer(b->node())->tail += uint32_t(kCells) * sizeof(Cell);
  Cell* h = test::make(kTypeHash, *b);
  Act(kActionInsert, {*h, integer_cell(-1)}).run();
  Act(kActionRemove, {at_head(h, 5)}).run();
  EXPECT_EQ(block_total_length(h), kCells);
  expect_in_step(h);
}

}  // namespace
}  // namespace kiv
