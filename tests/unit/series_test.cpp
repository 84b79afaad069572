// The generic series actions of series!, through the action entry points on
// values of every unit size: text of 1, 2 and 4 bytes, a vector of 8-byte
// elements and blocks of 16-byte cells. block!, string!, binary!, vector!,
// hash! (and integer!'s compare, which hash! lookups need) are registered by
// the fixture as test rows that inherit from series! and are restored after.
#include "datatypes/series.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "datatypes/logic.h"
#include "datatypes/pair.h"
#include "datatypes/registry.h"
#include "datatypes/runtime_words.h"
#include "datatypes/vector.h"
#include "kiv_test.h"
#include "runtime/collector.h"
#include "runtime/hashtable.h"
#include "runtime/memory.h"
#include "runtime/random.h"

namespace kiv {
namespace {

using test::Act;
using test::at_head;
using test::call;
using test::call_action;
using test::catch_error;
using test::char_of;
using test::integer_of;
using test::kNoError;
using test::logic_of;

// The number an element stands for: an integer!'s value, a char!'s code point.
int64_t element_number(const Cell& c) { return c.is(kTypeChar) ? int64_t(char_get(&c)) : integer_get(&c); }

int integer_compare(Cell* a, const CompareArgs& args) {
  Cell* b = args.value2;
  if (!b->is(kTypeInteger)) return kNotComparable;
  int32_t x = integer_get(a), y = integer_get(b);
  return x < y ? -1 : x > y ? 1 : 0;
}

// A minimal block find for remove/key: the first cell equal in type and integer value.
Cell* block_find(Cell* series, const FindArgs& args) {
  const Cell* value = args.value;
  int32_t total = series_total_length(series);
  Cell* cells = series_buffer(series->node())->head_cell();
  for (int32_t i = std::max(series->head(), 0); i < total; i++) {
    if (cells[i].type() == value->type() && integer_get(&cells[i]) == integer_get(value)) {
      series->set_head(i);
      return series;
    }
  }
  *series = kNoneCell;
  return series;
}

// One configuration of the unit-generic tests: a type and its unit.
struct Shape {
  TypeId type;
  uint32_t unit;
};
const Shape kShapes[] = {
    {kTypeString, 1}, {kTypeString, 2}, {kTypeString, 4}, {kTypeVector, 8}, {kTypeBlock, 16},
};

class SeriesTest : public ::testing::Test {
 protected:
  test::RegistrySnapshot registry_;  // the rows below go back afterwards
  void SetUp() override {
    const ActionSlots inherit_all{.random = kInherit,
                                  .reflect = kInherit,
                                  .at = kInherit,
                                  .back = kInherit,
                                  .clear = kInherit,
                                  .copy = kInherit,
                                  .head = kInherit,
                                  .head_q = kInherit,
                                  .index_q = kInherit,
                                  .length_q = kInherit,
                                  .move = kInherit,
                                  .next = kInherit,
                                  .pick = kInherit,
                                  .poke = kInherit,
                                  .remove = kInherit,
                                  .reverse = kInherit,
                                  .skip = kInherit,
                                  .tail = kInherit,
                                  .tail_q = kInherit,
                                  .take = kInherit,
                                  .modify = kInherit};
    ActionSlots block = inherit_all;
    block.find = block_find;
    test::register_test_row(kTypeBlock, kTypeSeries, block);
    test::register_test_row(kTypeHash, kTypeBlock, inherit_all);
    test::register_test_row(kTypeString, kTypeSeries, inherit_all);
    test::register_test_row(kTypeFile, kTypeString, inherit_all);
    test::register_test_row(kTypeBinary, kTypeString, inherit_all);
    test::register_test_row(kTypeVector, kTypeString, inherit_all);
    test::register_test_row(kTypeInteger, kTypeNil, {.compare = integer_compare});
  }
  // Pushes (and so roots) a new series of [type] holding [values]: code points
  // or raw numbers for units up to 8, integer! cells for 16.
  static Cell* push_series(TypeId type, uint32_t unit, const std::vector<int64_t>& values) {
    Node node = series_alloc_units(uint32_t(values.size()), unit);
    Cell* c = stack_push_value(type == kTypeVector ? vector_cell(node, kTypeFloat) : series_cell(type, node));
    SeriesBuffer* b = series_buffer(node);
    uint8_t* p = b->head_ptr();
    for (int64_t v : values) {
      if (unit == 16) {
        Cell cell = integer_cell(int32_t(v));
        std::memcpy(p, &cell, 16);
      } else {
        std::memcpy(p, &v, unit);  // little-endian: the low bytes
      }
      p += unit;
    }
    b->tail = b->head + uint32_t(values.size()) * unit;
    return c;
  }
  static Cell* push_shape(const Shape& s, const std::vector<int64_t>& values) {
    return push_series(s.type, s.unit, values);
  }
  static Cell* push_hash(const std::vector<int64_t>& values) {
    Cell* h = push_series(kTypeHash, 16, values);
    block_set_hash_index(h, hashtable_init(uint32_t(values.size()), h->node(), kHashBlock));
    return h;
  }

  // Every unit of the buffer, from its first unit to the tail.
  static std::vector<int64_t> units(const Cell* c) {
    SeriesBuffer* b = series_buffer(c->node());
    std::vector<int64_t> out;
    for (uint8_t* p = b->head_ptr(); p < b->tail_ptr(); p += b->unit()) {
      int64_t v = 0;
      if (b->unit() == 16)
        v = integer_get(reinterpret_cast<Cell*>(p));
      else
        std::memcpy(&v, p, b->unit());
      out.push_back(v);
    }
    return out;
  }

  // Every cell of a hash! is found through its index at its own position.
  static void expect_indexed(const Cell* h) {
    std::vector<int64_t> v = units(h);
    ASSERT_EQ(hashtable_size(block_hash_index(h)), v.size());
    for (size_t i = 0; i < v.size(); i++) {
      Cell key = integer_cell(int32_t(v[i]));
      int32_t first = hashtable_find(block_hash_index(h), &key, 0, 1, kCmpEqual, false, false);
      // With duplicates the first is at or before i; from i on, i itself.
      EXPECT_LE(first, int32_t(i));
      EXPECT_EQ(hashtable_find(block_hash_index(h), &key, int32_t(i), 1, kCmpEqual, false, false),
                int32_t(i));
    }
  }

 private:
  test::SavedRegistry saved_;
};

// ---------------------------------------------------------------- navigation

TEST_F(SeriesTest, NavigationStaysWithinBoundsForEveryUnit) {
  struct Case {
    ActionId action;
    int32_t head;
    int32_t arg;  // for at and skip
    int32_t expect;
  } cases[] = {
      {kActionAt, 0, 0, 0},         {kActionAt, 0, 1, 0},   {kActionAt, 0, 5, 3},
      {kActionAt, 0, -1, 0},        {kActionAt, 2, -1, 1},  {kActionAt, 1, 2, 2},
      {kActionAt, 10, 1, 3},        {kActionAt, -5, 2, 0},  {kActionAt, 1, INT32_MAX, 3},
      {kActionAt, 1, INT32_MIN, 0}, {kActionSkip, 1, 1, 2}, {kActionSkip, 1, -1, 0},
      {kActionSkip, 1, 0, 1},       {kActionSkip, 2, 9, 3}, {kActionSkip, 0, INT32_MIN, 0},
      {kActionNext, 0, 0, 1},       {kActionNext, 3, 0, 3}, {kActionNext, 7, 0, 7},
      {kActionBack, 1, 0, 0},       {kActionBack, 0, 0, 0}, {kActionBack, -2, 0, -2},
      {kActionHead, 2, 0, 0},       {kActionTail, 0, 0, 3}, {kActionTail, 9, 0, 3},
  };
  for (const Shape& s : kShapes) {
    Cell* v = push_shape(s, {7, 8, 9});
    for (const Case& c : cases) {
      Cell start = at_head(v, c.head);
      Cell r = c.action == kActionAt || c.action == kActionSkip
                   ? call_action(c.action, {start, integer_cell(c.arg)})
                   : call_action(c.action, {start});
      EXPECT_EQ(r.head(), c.expect) << "unit " << s.unit << " action " << int(c.action) << " head " << c.head
                                    << " arg " << c.arg;
      EXPECT_EQ(r.type(), s.type);
    }
    EXPECT_EQ(catch_error([&] { call_action(kActionAt, {*v, kNoneCell}); }), kErrScriptInvalidArg);
    EXPECT_EQ(catch_error([&] { call_action(kActionSkip, {*v, char_cell(1)}); }), kErrScriptInvalidArg);
  }
}

TEST_F(SeriesTest, QueriesAndHostileHeads) {
  for (const Shape& s : kShapes) {
    Cell* v = push_shape(s, {7, 8, 9});
    struct Case {
      int32_t head;
      bool head_q, tail_q;
      int32_t index, length;
    } cases[] = {
        {0, true, false, 1, 3}, {2, false, false, 3, 1},   {3, false, true, 4, 0},
        {8, false, true, 9, 0}, {-4, false, false, -3, 3}, {INT32_MIN, false, false, INT32_MIN + 1, 3},
    };
    for (const Case& c : cases) {
      Cell x = at_head(v, c.head);
      EXPECT_TRUE(logic_of(call_action(kActionHeadQ, {x})) == (c.head_q ? 1u : 0u)) << c.head;
      EXPECT_TRUE(logic_of(call_action(kActionTailQ, {x})) == (c.tail_q ? 1u : 0u)) << c.head;
      EXPECT_EQ(integer_of(call_action(kActionIndexQ, {x})), c.index) << c.head;
      EXPECT_EQ(integer_of(call_action(kActionLengthQ, {x})), c.length) << c.head;
    }
    // length? pulls a head past the tail back to the tail; index? reports the stored head.
    Cell past = at_head(v, 8);
    EXPECT_EQ(series_length_clamped(&past, false), 0);
    EXPECT_EQ(past.head(), 3);
    past.set_head(8);
    EXPECT_EQ(series_length_clamped(&past, true), 3);
    EXPECT_EQ(past.head(), 8);
    EXPECT_EQ(catch_error([&] { call_action(kActionIndexQ, {at_head(v, INT32_MAX)}); }),
              kErrScriptOutOfRange);
  }
}

TEST_F(SeriesTest, AdvanceStopsAtTheTail) {
  Cell* v = push_shape({kTypeString, 1}, {1, 2, 3});
  EXPECT_FALSE(series_advance(v, 2));
  EXPECT_EQ(v->head(), 2);
  EXPECT_TRUE(series_advance(v, 1));
  EXPECT_EQ(v->head(), 3);
  EXPECT_TRUE(series_advance(v, 1));  // past the tail: not moved
  EXPECT_EQ(v->head(), 3);
  v->set_head(INT32_MAX);
  EXPECT_TRUE(series_advance(v, INT32_MAX));
  EXPECT_EQ(v->head(), INT32_MAX);
  EXPECT_TRUE(series_at_tail_q(v));
  v->set_head(INT32_MIN);
  EXPECT_FALSE(series_advance(v, -1));  // no wrap-around to a huge head
  EXPECT_EQ(v->head(), INT32_MIN);
  v->set_head(-1);
  EXPECT_FALSE(series_at_tail_q(v));
  EXPECT_EQ(series_total_length(v), 3);
}

// ---------------------------------------------------------------- pick and poke

TEST_F(SeriesTest, PickGivesTheElementOrNone) {
  struct Case {
    int32_t head, index;
    int64_t expect;  // -1: none
  } cases[] = {
      {0, 0, -1},
      {0, -1, -1},
      {0, 1, 10},
      {0, 3, 30},
      {0, 4, -1},
      {1, -1, 10},
      {2, -2, 10},
      {2, -3, -1},
      {1, 2, 30},
      {5, -3, 30},
      {-2, 3, 10},
      {-2, 2, -1},
      {1, INT32_MAX, -1},
      {2, INT32_MIN, -1},
      {INT32_MAX, INT32_MAX, -1},
      {INT32_MIN, INT32_MIN, -1},
  };
  for (const Shape& s : kShapes) {
    if (s.type == kTypeVector) continue;  // its units are raw doubles: below
    Cell* v = push_shape(s, {10, 20, 30});
    for (const Case& c : cases) {
      Cell r = call_action(kActionPick, {at_head(v, c.head), integer_cell(c.index)});
      if (c.expect < 0) {
        EXPECT_TRUE(r.is(kTypeNone)) << "unit " << s.unit << " head " << c.head << " index " << c.index;
        continue;
      }
      EXPECT_TRUE(r.is(s.unit == 16 ? kTypeInteger : kTypeChar)) << s.unit;
      EXPECT_EQ(element_number(r), c.expect)
          << "unit " << s.unit << " head " << c.head << " index " << c.index;
    }
  }
  // binary! gives integers; logic indexes pick the first and second.
  Cell* bin = push_series(kTypeBinary, 1, {0xFF, 2});
  Cell r = call_action(kActionPick, {*bin, integer_cell(1)});
  EXPECT_TRUE(r.is(kTypeInteger));
  EXPECT_EQ(integer_get(&r), 255);
  EXPECT_EQ(integer_of(call_action(kActionPick, {*bin, kFalseCell})), 2);
  // A vector of float! elements gives float! values.
  Cell* vec = push_shape({kTypeVector, 8}, {std::bit_cast<int64_t>(2.5)});
  r = call_action(kActionPick, {*vec, integer_cell(1)});
  EXPECT_TRUE(r.is(kTypeFloat));
  EXPECT_EQ(float_get(&r), 2.5);
}

TEST_F(SeriesTest, PokeChecksBeforeWriting) {
  Cell ch = char_cell('z');
  for (const Shape& s : kShapes) {
    if (s.type == kTypeVector) continue;
    Cell* v = push_shape(s, {10, 20, 30});
    Cell value = s.unit == 16 ? integer_cell(99) : ch;
    for (int32_t index : {0, 4, -1, INT32_MAX, INT32_MIN}) {
      EXPECT_EQ(catch_error([&] {
                  call_action(kActionPoke, {*v, integer_cell(index), value});
                }),
                kErrScriptOutOfRange)
          << index;
      EXPECT_EQ(integer_get(&last_raised_error().args[0]), index);
    }
    Cell r = call_action(kActionPoke, {at_head(v, 1), integer_cell(-1), value});
    EXPECT_EQ(element_number(r), element_number(value));
    EXPECT_EQ(units(v), (std::vector<int64_t>{element_number(value), 20, 30})) << s.unit;
  }
  Cell* text = push_shape({kTypeString, 1}, {'a', 'b', 'c'});
  EXPECT_EQ(catch_error([&] {
              call_action(kActionPoke, {*text, integer_cell(1), integer_cell(65)});
            }),
            kErrScriptInvalidArg);
  EXPECT_EQ(catch_error([&] {
              call_action(kActionPoke, {*text, integer_cell(1), char_cell(0x110000)});
            }),
            kErrScriptInvalidArg);
  EXPECT_EQ(units(text), (std::vector<int64_t>{'a', 'b', 'c'}));
}

TEST_F(SeriesTest, PokeWidensText) {
  Cell* text = push_shape({kTypeString, 1}, {'a', 'b', 'c'});
  Cell* other = stack_push_value(at_head(text, 2));  // another value on the same buffer
  call_action(kActionPoke, {*text, integer_cell(2), char_cell(0xE9)});
  EXPECT_EQ(series_buffer(text->node())->unit(), 1u);  // U+00E9 fits one byte
  call_action(kActionPoke, {*text, integer_cell(2), char_cell(0x20AC)});
  EXPECT_EQ(series_buffer(text->node())->unit(), 2u);
  EXPECT_EQ(units(text), (std::vector<int64_t>{'a', 0x20AC, 'c'}));
  call_action(kActionPoke, {*text, integer_cell(3), char_cell(0x1F600)});
  EXPECT_EQ(series_buffer(text->node())->unit(), 4u);
  EXPECT_EQ(units(text), (std::vector<int64_t>{'a', 0x20AC, 0x1F600}));
  EXPECT_EQ(char_of(call_action(kActionPick, {*other, integer_cell(1)})), 0x1F600u);
}

TEST_F(SeriesTest, PokeBytesAndVectors) {
  Cell* bin = push_series(kTypeBinary, 1, {0, 0, 0});
  call_action(kActionPoke, {*bin, integer_cell(1), integer_cell(255)});
  call_action(kActionPoke, {*bin, integer_cell(2), integer_cell(-1)});
  call_action(kActionPoke, {*bin, integer_cell(3), char_cell('A')});
  EXPECT_EQ(units(bin), (std::vector<int64_t>{255, 255, 'A'}));
  for (Cell bad : {integer_cell(256), integer_cell(-129), char_cell(0x100), kNoneCell})
    EXPECT_EQ(catch_error([&] {
                call_action(kActionPoke, {*bin, integer_cell(1), bad});
              }),
              kErrScriptInvalidArg);
  EXPECT_EQ(units(bin), (std::vector<int64_t>{255, 255, 'A'}));
  // A vector takes values of its element type only.
  Cell* vec = push_shape({kTypeVector, 8}, {0});
  call_action(kActionPoke, {*vec, integer_cell(1), float_cell(2.5)});
  EXPECT_EQ(units(vec), (std::vector<int64_t>{std::bit_cast<int64_t>(2.5)}));
  EXPECT_EQ(catch_error([&] {
              call_action(kActionPoke, {*vec, integer_cell(1), integer_cell(2)});
            }),
            kErrScriptInvalidArg);
  EXPECT_EQ(units(vec), (std::vector<int64_t>{std::bit_cast<int64_t>(2.5)}));
}

// ---------------------------------------------------------------- clear, remove, reverse

TEST_F(SeriesTest, ClearCutsAtTheHead) {
  for (const Shape& s : kShapes) {
    struct Case {
      int32_t head;
      std::vector<int64_t> expect;
    } cases[] = {{1, {1}}, {0, {}}, {3, {1, 2, 3}}, {9, {1, 2, 3}}, {-3, {}}};
    for (const Case& c : cases) {
      Cell* v = push_shape(s, {1, 2, 3});
      Cell r = call_action(kActionClear, {at_head(v, c.head)});
      EXPECT_EQ(r.head(), c.head);
      EXPECT_EQ(units(v), c.expect) << "unit " << s.unit << " head " << c.head;
    }
  }
}

TEST_F(SeriesTest, RemoveCountsAndPositions) {
  struct Case {
    int32_t head;
    int32_t part;  // INT32_MIN: no /part
    std::vector<int64_t> expect;
  } cases[] = {
      {0, INT32_MIN, {2, 3, 4, 5}},
      {2, INT32_MIN, {1, 2, 4, 5}},
      {2, 2, {1, 2, 5}},
      {3, 99, {1, 2, 3}},
      {1, 0, {1, 2, 3, 4, 5}},
      {1, -2, {1, 2, 3, 4, 5}},
      {5, INT32_MIN, {1, 2, 3, 4, 5}},
      {50, 3, {1, 2, 3, 4, 5}},
      {-7, 2, {3, 4, 5}},
      {1, INT32_MAX, {1}},
  };
  for (const Shape& s : kShapes) {
    for (const Case& c : cases) {
      Cell* v = push_shape(s, {1, 2, 3, 4, 5});
      Act remove(kActionRemove, {at_head(v, c.head)});
      if (c.part != INT32_MIN) remove.ref("part", integer_cell(c.part));
      Cell r = remove.value();
      EXPECT_EQ(r.head(), c.head);
      EXPECT_EQ(units(v), c.expect) << "unit " << s.unit << " head " << c.head << " part " << c.part;
    }
    // A position in the same series ends the removal; one elsewhere is refused.
    Cell* v = push_shape(s, {1, 2, 3, 4, 5});
    Act(kActionRemove, {at_head(v, 1)}).ref("part", at_head(v, 3)).value();
    EXPECT_EQ(units(v), (std::vector<int64_t>{1, 4, 5}));
    Cell* w = push_shape(s, {1, 2});
    EXPECT_EQ(Act(kActionRemove, {*v}).ref("part", *w).error(), kErrScriptInvalidRefineArg);
    EXPECT_EQ(Act(kActionRemove, {*v}).ref("part", kNoneCell).error(), kErrScriptInvalidRefineArg);
    EXPECT_EQ(units(v), (std::vector<int64_t>{1, 4, 5}));
  }
}

TEST_F(SeriesTest, RemoveKeyTakesTheKeyAndItsValue) {
  Cell* v = push_series(kTypeBlock, 16, {1, 10, 2, 20, 3, 30});
  Cell r = Act(kActionRemove, {*v}).ref("key", integer_cell(2)).value();
  EXPECT_EQ(units(v), (std::vector<int64_t>{1, 10, 3, 30}));
  EXPECT_EQ(r.head(), 2);  // where the key was
  EXPECT_TRUE(Act(kActionRemove, {*v}).ref("key", integer_cell(7)).value().is(kTypeNone));
  EXPECT_EQ(units(v).size(), 4u);
}

TEST_F(SeriesTest, ReverseRecords) {
  struct Case {
    int32_t head;
    int32_t part, skip;  // 0: absent
    std::vector<int64_t> expect;
    ErrorId error;
  } cases[] = {
      {0, 0, 0, {6, 5, 4, 3, 2, 1}, kNoError},
      {2, 0, 0, {1, 2, 6, 5, 4, 3}, kNoError},
      {1, 3, 0, {1, 4, 3, 2, 5, 6}, kNoError},
      {0, 0, 2, {5, 6, 3, 4, 1, 2}, kNoError},
      {0, 0, 3, {4, 5, 6, 1, 2, 3}, kNoError},
      {0, 0, 6, {1, 2, 3, 4, 5, 6}, kNoError},
      {0, 99, 0, {6, 5, 4, 3, 2, 1}, kNoError},
      {6, 0, 0, {1, 2, 3, 4, 5, 6}, kNoError},
      {0, -1, 0, {1, 2, 3, 4, 5, 6}, kNoError},
      {-3, 2, 0, {2, 1, 3, 4, 5, 6}, kNoError},
      {0, 0, 4, {1, 2, 3, 4, 5, 6}, kErrScriptInvalidRefineArg},
      {0, 0, 8, {1, 2, 3, 4, 5, 6}, kErrScriptInvalidRefineArg},
      {0, 0, -1, {1, 2, 3, 4, 5, 6}, kErrScriptOutOfRange},
      {0, 0, INT32_MIN, {1, 2, 3, 4, 5, 6}, kErrScriptOutOfRange},
  };
  for (const Shape& s : kShapes) {
    for (const Case& c : cases) {
      Cell* v = push_shape(s, {1, 2, 3, 4, 5, 6});
      ErrorId e = catch_error([&] {
        Act reverse(kActionReverse, {at_head(v, c.head)});
        if (c.part) reverse.ref("part", integer_cell(c.part));
        if (c.skip) reverse.ref("skip", integer_cell(c.skip));
        reverse.value();
      });
      EXPECT_EQ(e, c.error) << "unit " << s.unit << " part " << c.part << " skip " << c.skip;
      EXPECT_EQ(units(v), c.expect) << "unit " << s.unit << " part " << c.part << " skip " << c.skip;
    }
  }
  Cell* v = push_shape({kTypeString, 1}, {1, 2});
  EXPECT_EQ(Act(kActionReverse, {*v}).ref("skip", kNoneCell).error(), kErrScriptInvalidRefineArg);
}

// ---------------------------------------------------------------- take and copy

TEST_F(SeriesTest, TakeFromHeadOrTail) {
  struct Case {
    int32_t head;
    int32_t part;  // INT32_MIN: absent
    bool last;
    std::vector<int64_t> taken, rest;  // taken {-1}: none
  } cases[] = {
      {0, INT32_MIN, false, {1}, {2, 3, 4, 5}},
      {0, INT32_MIN, true, {5}, {1, 2, 3, 4}},
      {1, 2, false, {2, 3}, {1, 4, 5}},
      {1, 2, true, {4, 5}, {1, 2, 3}},
      {2, 99, false, {3, 4, 5}, {1, 2}},
      {3, 99, true, {4, 5}, {1, 2, 3}},
      {3, -2, false, {2, 3}, {1, 4, 5}},
      {1, -5, false, {1}, {2, 3, 4, 5}},
      {0, -1, false, {}, {1, 2, 3, 4, 5}},
      {2, 0, false, {}, {1, 2, 3, 4, 5}},
      {2, -1, true, {}, {1, 2, 3, 4, 5}},
      {5, INT32_MIN, false, {-1}, {1, 2, 3, 4, 5}},
      {9, 2, true, {-1}, {1, 2, 3, 4, 5}},
      {-4, 2, false, {1, 2}, {3, 4, 5}},
      {2, INT32_MIN + 1, false, {1, 2}, {3, 4, 5}},
      {1, INT32_MAX, true, {2, 3, 4, 5}, {1}},
  };
  for (const Shape& s : kShapes) {
    for (const Case& c : cases) {
      Cell* v = push_shape(s, {1, 2, 3, 4, 5});
      Act take(kActionTake, {at_head(v, c.head)});
      if (c.part != INT32_MIN) take.ref("part", integer_cell(c.part));
      if (c.last) take.ref("last");
      Cell* r = take.run();
      std::string where = "unit " + std::to_string(s.unit) + " head " + std::to_string(c.head) + " part " +
                          std::to_string(c.part) + (c.last ? " last" : "");
      if (c.taken == std::vector<int64_t>{-1}) {
        EXPECT_TRUE(r->is(kTypeNone)) << where;
      } else {
        EXPECT_EQ(r->type(), s.type) << where;
        EXPECT_EQ(r->head(), 0);
        EXPECT_EQ(series_buffer(r->node())->unit(), s.unit);
        EXPECT_EQ(units(r), c.taken) << where;
        if (s.type == kTypeVector) {
          EXPECT_EQ(vector_element_type(r), kTypeFloat);
        }
      }
      EXPECT_EQ(units(v), c.rest) << where;
    }
    // /part with a position: up to it, or with /last from it to the tail.
    Cell* v = push_shape(s, {1, 2, 3, 4, 5});
    EXPECT_EQ(units(Act(kActionTake, {at_head(v, 1)}).ref("part", at_head(v, 3)).run()),
              (std::vector<int64_t>{2, 3}));
    EXPECT_EQ(units(Act(kActionTake, {*v}).ref("part", at_head(v, 1)).ref("last").run()),
              (std::vector<int64_t>{4, 5}));
    EXPECT_EQ(units(v), (std::vector<int64_t>{1}));
    EXPECT_EQ(Act(kActionTake, {*v}).ref("part", kTrueCell).error(), kErrScriptInvalidRefineArg);
  }
}

TEST_F(SeriesTest, CopyRanges) {
  struct Case {
    int32_t head;
    Cell part;  // none: absent
    std::vector<int64_t> expect;
  } cases[] = {
      {0, kNoneCell, {1, 2, 3, 4, 5}},
      {2, kNoneCell, {3, 4, 5}},
      {7, kNoneCell, {}},
      {-3, kNoneCell, {1, 2, 3, 4, 5}},
      {1, integer_cell(2), {2, 3}},
      {1, integer_cell(99), {2, 3, 4, 5}},
      {3, integer_cell(-2), {2, 3}},
      {1, integer_cell(-9), {1}},
      {0, pair_cell(2, 4), {2, 3}},
      {1, pair_cell(-1, 1), {1, 2}},
      {0, pair_cell(4, 2), {}},
      {0, pair_cell(INT32_MIN, INT32_MAX), {1, 2, 3, 4, 5}},
      {4, integer_cell(INT32_MIN), {1, 2, 3, 4}},
  };
  for (const Shape& s : kShapes) {
    Cell* v = push_shape(s, {1, 2, 3, 4, 5});
    for (const Case& c : cases) {
      Cell x = at_head(v, c.head);
      Act copy(kActionCopy, {x});
      if (!c.part.is(kTypeNone)) copy.ref("part", c.part);
      Cell* r = copy.run();
      EXPECT_EQ(r->type(), s.type);
      EXPECT_EQ(r->head(), 0);
      EXPECT_NE(r->node(), v->node());
      EXPECT_EQ(units(r), c.expect) << "unit " << s.unit << " head " << c.head << " part type "
                                    << int(c.part.type());
    }
    EXPECT_EQ(units(Act(kActionCopy, {at_head(v, 1)}).ref("part", at_head(v, 3)).run()),
              (std::vector<int64_t>{2, 3}));
    EXPECT_EQ(Act(kActionCopy, {*v}).ref("part", kTrueCell).error(), kErrScriptInvalidRefineArg);
    EXPECT_EQ(units(v), (std::vector<int64_t>{1, 2, 3, 4, 5}));
  }
}

TEST_F(SeriesTest, CopyKeepsTypeFlagsButNeverOwnership) {
  Cell* v = push_shape({kTypeVector, 8}, {1, 2});
  v->header |= kFlagNewLine;
  series_set_flags(v->node(), kSeriesOwned);
  Cell* r = call(kActionCopy, {*v});
  EXPECT_TRUE(r->new_line());
  EXPECT_EQ(vector_element_type(r), kTypeFloat);
  EXPECT_EQ(series_buffer(r->node())->flags & kSeriesOwned, 0u);
  EXPECT_EQ(series_buffer(r->node())->unit(), 8u);
  series_buffer(v->node())->flags &= ~kSeriesOwned;
  // A string's conversion buffer is its own: the copy starts without one.
  Cell* text = push_shape({kTypeString, 2}, {'a'});
  string_set_conversion_node(text, text->node());
  EXPECT_EQ(string_conversion_node(call(kActionCopy, {*text})), 0u);
}

// ---------------------------------------------------------------- move

TEST_F(SeriesTest, MoveWithinOneBuffer) {
  struct Case {
    int32_t from, to, part;
    std::vector<int64_t> expect;
  } cases[] = {
      {0, 2, 1, {2, 3, 1, 4, 5}},  {0, 1, 1, {2, 1, 3, 4, 5}}, {0, 5, 1, {2, 3, 4, 5, 1}},
      {0, 9, 2, {3, 4, 5, 1, 2}},  {0, 4, 2, {3, 4, 5, 1, 2}}, {0, 2, 2, {3, 1, 2, 4, 5}},
      {3, 0, 2, {4, 5, 1, 2, 3}},  {4, 1, 1, {1, 5, 2, 3, 4}}, {3, -2, 1, {4, 1, 2, 3, 5}},
      {1, 1, 1, {1, 2, 3, 4, 5}},  {1, 2, 2, {1, 2, 3, 4, 5}}, {5, 0, 1, {1, 2, 3, 4, 5}},
      {2, 0, 99, {3, 4, 5, 1, 2}}, {2, 0, 0, {1, 2, 3, 4, 5}},
  };
  for (const Shape& s : kShapes) {
    for (const Case& c : cases) {
      Cell* v = push_shape(s, {1, 2, 3, 4, 5});
      Cell target = at_head(v, c.to);
      Cell r = Act(kActionMove, {at_head(v, c.from), target}).ref("part", integer_cell(c.part)).value();
      EXPECT_EQ(r.head(), c.to);
      EXPECT_EQ(units(v), c.expect) << "unit " << s.unit << " from " << c.from << " to " << c.to << " part "
                                    << c.part;
    }
  }
}

TEST_F(SeriesTest, MoveBetweenBuffers) {
  for (const Shape& s : kShapes) {
    Cell* a = push_shape(s, {1, 2, 3, 4});
    Cell* b = push_shape(s, {7, 8});
    Act(kActionMove, {at_head(a, 1), at_head(b, 1)}).ref("part", integer_cell(2)).value();
    EXPECT_EQ(units(a), (std::vector<int64_t>{1, 4})) << s.unit;
    EXPECT_EQ(units(b), (std::vector<int64_t>{7, 2, 3, 8})) << s.unit;
    // To the tail, all that is left.
    Act(kActionMove, {*a, at_head(b, 99)}).ref("part", integer_cell(99)).value();
    EXPECT_EQ(units(a), (std::vector<int64_t>{}));
    EXPECT_EQ(units(b), (std::vector<int64_t>{7, 2, 3, 8, 1, 4}));
    call_action(kActionMove, {*a, *b});  // from the tail: nothing
    EXPECT_EQ(units(b).size(), 6u);
    // Growth: the target's buffer moves; everything arrives.
    std::vector<int64_t> many(300);
    for (int i = 0; i < 300; i++) many[size_t(i)] = i % 250 + 1;
    Cell* big = push_shape(s, many);
    Act(kActionMove, {*big, *a}).ref("part", integer_cell(300)).value();
    EXPECT_EQ(units(a), many);
  }
}

TEST_F(SeriesTest, MoveTextWidensAndRefusesOtherKinds) {
  Cell* wide = push_shape({kTypeString, 4}, {'a', 0x1F600});
  Cell* narrow = push_shape({kTypeFile, 1}, {'x', 'y'});
  Act(kActionMove, {*wide, at_head(narrow, 1)}).ref("part", integer_cell(2)).value();
  EXPECT_EQ(series_buffer(narrow->node())->unit(), 4u);
  EXPECT_EQ(units(narrow), (std::vector<int64_t>{'x', 'a', 0x1F600, 'y'}));
  // 4 bytes into an empty 4-byte string.
  Act(kActionMove, {*narrow, *wide}).ref("part", integer_cell(2)).value();
  EXPECT_EQ(units(wide), (std::vector<int64_t>{'x', 'a'}));
  Cell* latin = push_shape({kTypeString, 1}, {'q'});
  call_action(kActionMove, {*latin, *narrow});  // narrower units widen as they arrive
  EXPECT_EQ(units(narrow), (std::vector<int64_t>{'q', 0x1F600, 'y'}));

  Cell* bin = push_series(kTypeBinary, 1, {0xC3});
  Cell* text1 = push_shape({kTypeString, 1}, {});
  call_action(kActionMove, {*bin, *text1});
  EXPECT_EQ(units(text1), (std::vector<int64_t>{0xC3}));
  EXPECT_EQ(units(bin), (std::vector<int64_t>{}));
  bin = push_series(kTypeBinary, 1, {1, 2});

  Cell* block = push_shape({kTypeBlock, 16}, {1, 2});
  Cell* vec4 = push_series(kTypeVector, 8, {1});
  vector_set_element_type(vec4, kTypePercent);  // same size, another element type
  Cell* vec8 = push_shape({kTypeVector, 8}, {2});
  struct Case {
    Cell *from, *to;
    ErrorId error;
  } cases[] = {
      {block, narrow, kErrScriptMoveBad}, {narrow, block, kErrScriptMoveBad},
      {bin, wide, kErrScriptMoveBad},     {wide, bin, kErrScriptMoveBad},
      {vec4, vec8, kErrScriptMoveBad},    {vec8, narrow, kErrScriptMoveBad},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(type_name(c.from->type())) + " to " + type_name(c.to->type()));
    std::vector<int64_t> before_from = units(c.from), before_to = units(c.to);
    EXPECT_EQ(catch_error([&] { call_action(kActionMove, {*c.from, *c.to}); }), c.error);
    EXPECT_EQ(units(c.from), before_from);
    EXPECT_EQ(units(c.to), before_to);
  }
  EXPECT_EQ(catch_error([&] { call_action(kActionMove, {*block, integer_cell(1)}); }), kErrScriptExpectArg);
  EXPECT_EQ(Act(kActionMove, {*block, *block}).ref("part", kNoneCell).error(), kErrScriptInvalidRefineArg);
}

// ---------------------------------------------------------------- random

TEST_F(SeriesTest, RandomShufflesPicksAndSeeds) {
  for (const Shape& s : kShapes) {
    std::vector<int64_t> values;
    for (int i = 1; i <= 40; i++) values.push_back(i);
    Cell* v = push_shape(s, values);
    call_action(kActionRandom, {at_head(v, 10)});
    std::vector<int64_t> after = units(v);
    EXPECT_TRUE(std::equal(values.begin(), values.begin() + 10, after.begin()))
        << "units before the head stay";
    EXPECT_NE(after, values) << s.unit;
    std::sort(after.begin(), after.end());
    EXPECT_EQ(after, values);
    if (s.type == kTypeVector) continue;
    Cell one = Act(kActionRandom, {at_head(v, 39)}).ref("only").value();
    EXPECT_EQ(element_number(one), units(v)[39]);
    EXPECT_TRUE(Act(kActionRandom, {at_head(v, 40)}).ref("only").value().is(kTypeNone));
  }
  // The same bytes seed the same sequence.
  Cell* seed = push_shape({kTypeString, 1}, {'k', 'i', 'v'});
  EXPECT_TRUE(Act(kActionRandom, {*seed}).ref("seed").value().is(kTypeUnset));
  int32_t first = random_integer(false, 1000000);
  Act(kActionRandom, {*seed}).ref("seed").value();
  EXPECT_EQ(random_integer(false, 1000000), first);
}

// ---------------------------------------------------------------- hash! index upkeep

TEST_F(SeriesTest, HashIndexFollowsEveryWriter) {
  struct Step {
    const char* name;
    std::function<void(Cell*)> run;
  } steps[] = {
      {"poke",
       [](Cell* h) {
         call_action(kActionPoke, {*h, integer_cell(2), integer_cell(7)});
       }},
      {"remove", [](Cell* h) { Act(kActionRemove, {at_head(h, 1)}).ref("part", integer_cell(2)).value(); }},
      {"take", [](Cell* h) { Act(kActionTake, {at_head(h, 1)}).ref("part", integer_cell(2)).value(); }},
      {"take/last", [](Cell* h) { Act(kActionTake, {*h}).ref("last").value(); }},
      {"reverse", [](Cell* h) { call_action(kActionReverse, {at_head(h, 1)}); }},
      {"reverse/skip", [](Cell* h) { Act(kActionReverse, {*h}).ref("skip", integer_cell(3)).value(); }},
      {"clear", [](Cell* h) { call_action(kActionClear, {at_head(h, 4)}); }},
      {"move within",
       [](Cell* h) {
         Act(kActionMove, {*h, at_head(h, 3)}).ref("part", integer_cell(2)).value();
       }},
      {"move back",
       [](Cell* h) {
         call_action(kActionMove, {at_head(h, 4), at_head(h, 1)});
       }},
      {"random", [](Cell* h) { call_action(kActionRandom, {*h}); }},
  };
  for (const Step& step : steps) {
    Cell* h = push_hash({5, 1, 5, 2, 3, 4});
    step.run(h);
    SCOPED_TRACE(step.name);
    expect_indexed(h);
  }
  // Moves between two hash!es re-index both sides; a taken part gets an index of its own.
  Cell* a = push_hash({1, 2, 3, 4});
  Cell* b = push_hash({9, 8});
  Act(kActionMove, {at_head(a, 1), at_head(b, 1)}).ref("part", integer_cell(2)).value();
  expect_indexed(a);
  expect_indexed(b);
  Cell* taken = Act(kActionTake, {*b}).ref("part", integer_cell(3)).run();
  ASSERT_TRUE(taken->is(kTypeHash));
  ASSERT_NE(block_hash_index(taken), 0u);
  expect_indexed(taken);
  expect_indexed(b);
}

// ---------------------------------------------------------------- reflect and modify

TEST_F(SeriesTest, ReflectAndModifyOtherFields) {
  Cell* v = push_shape({kTypeBlock, 16}, {1});
  Cell field = word_cell(kTypeWord, 0, 12345, 0);
  EXPECT_EQ(catch_error([&] { call_action(kActionReflect, {*v, field}); }), kErrInternalNotDone);
  // A field that is not a word is refused before its payload is read as a symbol.
  EXPECT_EQ(catch_error([&] { call_action(kActionReflect, {*v, integer_cell(7)}); }), kErrInternalNotDone);
  Cell r = call_action(kActionModify, {*v, field, integer_cell(5)});
  EXPECT_EQ(integer_get(&r), 5);
  EXPECT_EQ(units(v), (std::vector<int64_t>{1}));
}

TEST_F(SeriesTest, OwnedFieldOfAnUnownedSeries) {
  if (!runtime_words_ready()) GTEST_SKIP() << "the runtime words are not made at start-up yet";
  Cell* v = push_shape({kTypeBlock, 16}, {1});
  Cell owned = word_cell(kTypeWord, 0, runtime_symbol(kSymOwned), 0);
  EXPECT_TRUE(call_action(kActionReflect, {*v, owned}).is(kTypeNone));
  EXPECT_TRUE(call_action(kActionModify, {*v, owned, kNoneCell}).is(kTypeNone));
  EXPECT_EQ(catch_error([&] {
              call_action(kActionModify, {*v, owned, integer_cell(1)});
            }),
            kErrScriptInvalidArg);
}

// ---------------------------------------------------------------- collector safety

TEST_F(SeriesTest, WritersLeaveASoundHeap) {
  // Under the stress build every allocation moves every buffer; here the
  // allocating paths run and the heap is checked afterwards.
  for (const Shape& s : kShapes) {
    Cell* v = push_shape(s, {1, 2, 3, 4, 5, 6});
    Cell* w = push_shape(s, {});
    for (int i = 0; i < 20; i++) {
      Cell* taken = Act(kActionTake, {at_head(v, 1)}).ref("part", integer_cell(2)).run();
      Act(kActionMove, {*taken, *v}).ref("part", integer_cell(2)).value();
      Act(kActionCopy, {*v}).ref("part", integer_cell(3)).run();
      Act(kActionMove, {*v, *w}).ref("part", integer_cell(2)).value();
      Act(kActionMove, {*w, *v}).ref("part", integer_cell(2)).value();
    }
    EXPECT_EQ(units(v).size() + units(w).size(), 6u);
  }
  gc_collect();
  EXPECT_EQ(gc_verify(), 0);
}

}  // namespace
}  // namespace kiv
