// Hash tables: sizing and growth, hashing by type, the hash! index (duplicate
// chains, positions, shifting after insertions, removals and moves), map!
// keys, symbols and their canonical spellings, context word tables, records
// keyed by node handles and the weak owner table, the collector hooks, and the
// integer-keyed variant.
//
// Tables made here are marked by a collector callback through hashtable_mark,
// so explicit collections (which move every live buffer) check that the hooks
// keep a table whole. integer!, string! and the word types get small
// compare handlers for the duration of each test.
#include "runtime/hashtable.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <random>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "datatypes/context.h"
#include "datatypes/float.h"
#include "datatypes/object.h"
#include "datatypes/point.h"
#include "datatypes/registry.h"
#include "datatypes/symbol.h"
#include "kiv_test.h"
#include "runtime/array.h"
#include "runtime/collector.h"
#include "runtime/memory.h"
#include "runtime/murmur3.h"
#include "runtime/root_block.h"
#include "runtime/stack.h"

namespace kiv {
namespace {

using test::integer_of;

// ---------------------------------------------------------------- collector wiring

std::vector<Node> g_tables;  // marked by mark_test_tables
Node g_swept_table = 0;      // swept by sweep_test_table

void mark_test_tables() {
  HashMarkHooks hooks{gc_mark_series, gc_mark_block, gc_mark_cell};
  for (Node t : g_tables) hashtable_mark(t, hooks);
  if (Node scratch = root_table(kRootTableRefreshScratch)) hashtable_mark(scratch, hooks);
}

void sweep_test_table() {
  if (g_swept_table) hashtable_sweep(g_swept_table, gc_node_marked);
}

Node keep(Node table) {
  g_tables.push_back(table);
  return table;
}

// ---------------------------------------------------------------- test compare handlers

int compare_integer(Cell* a, const CompareArgs& args) {
  Cell* b = args.value2;
  if (!b->is(kTypeInteger)) return kNotComparable;
  int32_t x = integer_get(a), y = integer_get(b);
  return (x > y) - (x < y);
}

std::u32string code_points(const Cell* s) {
  SeriesBuffer* b = series_buffer(s->node());
  std::u32string out;
  for (uint32_t i = uint32_t(s->head()); i < b->length(); i++) {
    const uint8_t* p = b->head_ptr() + i * b->unit();
    uint32_t cp = 0;
    std::memcpy(&cp, p, b->unit());
    out += char32_t(cp);
  }
  return out;
}

// Ignores ASCII case except under strict equality.
int compare_string(Cell* a, const CompareArgs& args) {
  Cell* b = args.value2;
  CompareOp op = args.op;
  if (!b->is(kTypeString)) return kNotComparable;
  std::u32string x = code_points(a), y = code_points(b);
  if (op != kCmpStrictEqual) {
    for (auto* s : {&x, &y})
      for (char32_t& c : *s)
        if (c >= 'a' && c <= 'z') c -= 32;
  }
  return x == y ? 0 : (x < y ? -1 : 1);
}

// Exact symbols under strict equality, canonical symbols otherwise.
int compare_word(Cell* a, const CompareArgs& args) {
  Cell* b = args.value2;
  CompareOp op = args.op;
  int32_t x = word_symbol(a), y = word_symbol(b);
  if (op != kCmpStrictEqual) {
    x = symbol_resolve(x);
    y = symbol_resolve(y);
  }
  return (x > y) - (x < y);
}

constexpr TypeId kHandledTypes[] = {kTypeInteger, kTypeString,  kTypeWord,
                                    kTypeSetWord, kTypeLitWord, kTypeGetWord};

// ---------------------------------------------------------------- values

// A string! of [text] in units of [unit] bytes, rooted on the data stack.
Cell string_cell(const std::u32string& text, uint32_t unit = 1) {
  Node n = series_alloc(uint32_t(text.size()) + 1, unit, 0);
  SeriesBuffer* b = series_buffer(n);
  for (size_t i = 0; i < text.size(); i++) {
    uint32_t cp = text[i];
    std::memcpy(b->data() + i * unit, &cp, unit);
  }
  b->tail = uint32_t(text.size()) * unit;
  Cell c = series_cell(kTypeString, n);
  stack_push_value(c);
  return c;
}

// A block of [cells], rooted on the data stack.
Node block_of(const std::vector<Cell>& cells, uint32_t extra = 0) {
  Node n = series_alloc_cells(uint32_t(cells.size()) + extra + 1);
  stack_push_value(series_cell(kTypeBlock, n));
  SeriesBuffer* b = series_buffer(n);
  for (size_t i = 0; i < cells.size(); i++) b->cells()[i] = cells[i];
  b->tail = uint32_t(cells.size() * sizeof(Cell));
  return n;
}

std::vector<Cell> ints(std::initializer_list<int32_t> values) {
  std::vector<Cell> out;
  for (int32_t v : values) out.push_back(integer_cell(v));
  return out;
}

uint32_t length_of(Node block) { return series_buffer(block)->length(); }
Cell cell_at(Node block, uint32_t i) { return series_buffer(block)->head_cell()[i]; }
// The alias (a canonical id, or -1) of symbol record [i] of [records].
int32_t alias_at(Node records, uint32_t i) {
  Cell record = cell_at(records, i);
  return symbol_record_alias(&record);
}

class HashTableTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static bool wired = false;
    if (!wired) {
      add_mark_callback(mark_test_tables);
      add_sweep_callback(sweep_test_table);
      wired = true;
    }
  }

  void SetUp() override {
    for (TypeId t : kHandledTypes) saved_[t] = g_action_table[t].compare;
    g_action_table[kTypeInteger].compare = compare_integer;
    g_action_table[kTypeString].compare = compare_string;
    for (TypeId t : {kTypeWord, kTypeSetWord, kTypeLitWord, kTypeGetWord})
      g_action_table[t].compare = compare_word;
    saved_symbols_ = *root_slot(kRootSymbolTable);
  }

  void TearDown() override {
    for (TypeId t : kHandledTypes) g_action_table[t].compare = saved_[t];
    *root_slot(kRootSymbolTable) = saved_symbols_;
    g_tables.clear();
    g_swept_table = 0;
  }

  // A symbol table for [size] over a new records block, installed as the
  // runtime's (root slot kRootSymbolTable) so words hash by canonical symbol.
  Node install_symbols(uint32_t size = 100) {
    Node records = series_alloc_cells(16);
    *root_slot(kRootSymbolTable) = series_cell(kTypeBlock, records);
    return keep(hashtable_init(size, records, kHashSymbols));
  }

  int32_t intern(Node symbols, const std::string& name, bool ignore_case = false) {
    return symbol_find(symbols, reinterpret_cast<const uint8_t*>(name.data()), uint32_t(name.size()),
                       ignore_case);
  }

  CompareFn saved_[kTypeTableRows] = {};
  Cell saved_symbols_{};
};

// Every indexed value is found at its own position, and everything is indexed.
void expect_consistent(Node table, CompareOp mode = kCmpEqual) {
  Node block = hashtable_header(table).values;
  for (uint32_t i = 0; i < length_of(block); i++) {
    Cell v = cell_at(block, i);
    EXPECT_EQ(hashtable_find(table, &v, int32_t(i), 1, mode, false, false), int32_t(i)) << "value " << i;
  }
  EXPECT_EQ(hashtable_size(table), length_of(block));
}

// ---------------------------------------------------------------- sizing

TEST_F(HashTableTest, SizingAtCreation) {
  struct Case {
    uint32_t size;
    HashKind kind;
    uint32_t buckets, upper;
  } cases[] = {
      {3, kHashBlock, 8, 6},       // trunc(4 / 0.77) = 5 -> 8
      {0, kHashMap, 8, 6},         // below 4 counts as 4
      {10, kHashRecords, 16, 12},  // trunc(12.98) = 12 -> 16
      {3999, kHashSymbols, 8192, 6307},
      {4000, kHashSymbols, 16384, 12615},  // doubled to 8,000 first
      {4000, kHashBlock, 8192, 6307},      // only kind 2 doubles
  };
  for (Case c : cases) {
    if (kTinySizes) c.buckets = 8, c.upper = 6;  // a tiny build starts every table at the minimum
    Node t = keep(hashtable_init(c.size, 0, c.kind, 1));
    HashHeader h = hashtable_header(t);
    EXPECT_EQ(h.buckets, c.buckets) << c.size << " kind " << c.kind;
    EXPECT_EQ(h.upper, c.upper) << c.size << " kind " << c.kind;
    EXPECT_EQ(h.size, 0u);
    EXPECT_EQ(h.occupied, 0u);
    EXPECT_EQ(h.stamp, 0u);
    EXPECT_EQ(series_buffer(h.flags)->used(), c.buckets / 4);
    EXPECT_EQ(array_length(h.keys), c.buckets);
    for (uint32_t i = 0; i < c.buckets; i += 97) EXPECT_EQ(hashtable_bucket_flag(t, i), kBucketEmpty);
    if (c.kind == kHashRecords) {
      EXPECT_EQ(h.record_bytes, 32u);
    }
  }
}

// ---------------------------------------------------------------- hashing by type

TEST_F(HashTableTest, HashesByType) {
  Cell none = make_cell(kTypeNone), unset = make_cell(kTypeUnset);
  EXPECT_EQ(hash_value(&none), uint32_t(-1));
  EXPECT_EQ(hash_value(&unset), uint32_t(-2));
  Cell bitset = series_cell(kTypeBitset, 5);
  EXPECT_EQ(hash_value(&bitset), 0u);

  auto same = [](Cell a, Cell b) { return hash_value(&a) == hash_value(&b); };
  for (TypeId t : {kTypeFloat, kTypePercent, kTypeTime}) {
    EXPECT_TRUE(same(float_cell(0.0, t), float_cell(-0.0, t))) << int(t);
    EXPECT_FALSE(same(float_cell(1.5, t), float_cell(-1.5, t))) << int(t);
  }
  // Points: every coordinate counts, and -0.0 is 0.0.
  EXPECT_FALSE(same(point3d_cell(1, 2, 3), point3d_cell(9, 2, 3)));
  EXPECT_FALSE(same(point3d_cell(1, 2, 3), point3d_cell(1, 2, 9)));
  EXPECT_TRUE(same(point3d_cell(-0.0f, 2, 3), point3d_cell(0, 2, 3)));
  EXPECT_TRUE(same(point2d_cell(1, -0.0f), point2d_cell(1, 0)));
  EXPECT_FALSE(same(point2d_cell(1, 2), point2d_cell(2, 1)));

  // Raw cells: a tuple hashes only the bytes its length names, whatever the others hold.
  Cell t3 = make_cell(kTypeTuple, 0x030201, 0, 0);
  t3.header |= 3u << 19;
  Cell t3x = t3;
  t3x.data2 = 0x77;
  EXPECT_TRUE(same(t3, t3x));
  Cell t4 = t3;
  t4.header = kTypeTuple | 4u << 19;
  t4.data1 |= 0x04000000;
  EXPECT_FALSE(same(t3, t4));

  // money! (raw cells): the sign of zero and the new-line flag do not count; the sign of an amount does.
  Cell zero = make_cell(kTypeMoney, 0x00000001u, 0, 0);  // currency 1, all digits 0
  Cell minus_zero = zero;
  minus_zero.header |= 0x4000 | kFlagNewLine;
  EXPECT_TRUE(same(zero, minus_zero));
  Cell five = make_cell(kTypeMoney, 0x00000001u, 0, 0x50000000u);
  Cell minus_five = five;
  minus_five.header |= 0x4000;
  EXPECT_FALSE(same(five, minus_five));

  Cell i1 = integer_cell(1), i2 = integer_cell(2);
  EXPECT_EQ(hash_value(&i1), hash_int32(1));
  EXPECT_NE(hash_value(&i1), hash_value(&i2));
}

TEST_F(HashTableTest, StringsHashByCodePointsFromTheirPosition) {
  Cell narrow = string_cell(U"Hello", 1);
  Cell wide = string_cell(U"HELLO", 2);
  Cell widest = string_cell(U"hello", 4);
  EXPECT_EQ(hash_value(&narrow), hash_value(&wide));
  EXPECT_EQ(hash_value(&narrow), hash_value(&widest));
  EXPECT_EQ(hash_string(&narrow, false), hash_string(&widest, false));
  EXPECT_NE(hash_string(&narrow, true), hash_string(&widest, true));
  EXPECT_EQ(hash_string(&widest, true), hash_string(&widest, true));

  Cell prefixed = string_cell(U"xxhello", 2);
  prefixed.set_head(2);
  EXPECT_EQ(hash_value(&prefixed), hash_value(&narrow));
  prefixed.set_head(9);  // past the tail: no code points
  Cell empty = string_cell(U"", 1);
  EXPECT_EQ(hash_value(&prefixed), hash_value(&empty));

  Cell file = narrow;
  file.set_type(kTypeFile);
  EXPECT_EQ(hash_value(&file), hash_value(&narrow));

  // binary!: the bytes from the position.
  Node bytes = array_make(8, 1);
  stack_push_value(series_cell(kTypeBinary, bytes));
  array_append_bytes(bytes, "..abc", 5);
  Cell bin = series_cell(kTypeBinary, bytes, 2);
  EXPECT_EQ(hash_value(&bin), hash_murmur3("abc", 3));
}

TEST_F(HashTableTest, WordsHashByCanonicalSymbol) {
  Node symbols = install_symbols();
  int32_t foo = intern(symbols, "foo");
  int32_t foo_upper = intern(symbols, "FOO");
  int32_t bar = intern(symbols, "bar");
  ASSERT_NE(foo, foo_upper);
  Cell base = word_cell(kTypeWord, 0, foo, 0);
  for (TypeId t : {kTypeWord, kTypeSetWord, kTypeLitWord, kTypeGetWord, kTypeRefinement, kTypeIssue}) {
    Cell w = word_cell(t, 0, foo_upper, 0);
    EXPECT_EQ(hash_value(&w), hash_value(&base)) << int(t);
  }
  Cell other = word_cell(kTypeWord, 0, bar, 0);
  EXPECT_NE(hash_value(&other), hash_value(&base));
  // A symbol! record hashes its name with ASCII letters lowered.
  Node records = hashtable_header(symbols).values;
  Cell rec_foo = cell_at(records, uint32_t(foo - 1)), rec_upper = cell_at(records, uint32_t(foo_upper - 1));
  EXPECT_EQ(hash_value(&rec_foo), hash_value(&rec_upper));
  EXPECT_EQ(hash_symbol(&rec_upper), hash_symbol_name(reinterpret_cast<const uint8_t*>("foo"), 3));
}

// ---------------------------------------------------------------- hash!

TEST_F(HashTableTest, HashEqualValuesShareOneBucket) {
  Node block = block_of(ints({7, 7, 7}));
  Node t = keep(hashtable_init(3, block, kHashBlock));
  HashHeader h = hashtable_header(t);
  EXPECT_EQ(h.occupied, 1u);
  EXPECT_EQ(h.size, 3u);
  Cell seven = integer_cell(7), eight = integer_cell(8);
  struct Case {
    int32_t start, skip;
    bool last, reverse;
    int32_t expected;
  } cases[] = {
      {0, 1, false, false, 0}, {0, 1, true, false, 2}, {1, 1, false, false, 1}, {3, 1, false, false, -1},
      {3, 1, false, true, 2},  {2, 1, false, true, 1}, {0, 1, false, true, -1}, {0, 2, true, false, 2},
      {1, 2, false, false, 1}, {1, 2, true, false, 1}, {3, 2, false, true, 2},  {2, 2, false, true, 1},
  };
  for (const Case& c : cases)
    EXPECT_EQ(hashtable_find(t, &seven, c.start, c.skip, kCmpEqual, c.last, c.reverse), c.expected)
        << "start " << c.start << " skip " << c.skip << " last " << c.last << " reverse " << c.reverse;
  EXPECT_EQ(hashtable_find(t, &eight, 0, 1, kCmpEqual, false, false), -1);
  Cell float_seven = make_cell(kTypeFloat);
  float_set(&float_seven, 7.0);
  EXPECT_EQ(hashtable_find(t, &float_seven, 0, 1, kCmpEqual, false, false), -1);  // another type
}

TEST_F(HashTableTest, HashFindModeFiltersTheEqualGroup) {
  Cell a = string_cell(U"abc"), b = string_cell(U"ABC"), c = string_cell(U"abc"), d = string_cell(U"x");
  Node block = block_of({a, b, c, d});
  Node t = keep(hashtable_init(4, block, kHashBlock));
  EXPECT_EQ(hashtable_header(t).occupied, 2u);  // abc/ABC grouped under equality
  EXPECT_EQ(hashtable_find(t, &b, 0, 1, kCmpEqual, false, false), 0);
  EXPECT_EQ(hashtable_find(t, &b, 0, 1, kCmpStrictEqual, false, false), 1);
  EXPECT_EQ(hashtable_find(t, &a, 0, 1, kCmpStrictEqual, true, false), 2);
  EXPECT_EQ(hashtable_find(t, &a, 1, 1, kCmpStrictEqual, false, false), 2);
  EXPECT_EQ(hashtable_find(t, &b, 2, 1, kCmpStrictEqual, false, false), -1);
}

TEST_F(HashTableTest, HashGrowthDoublesAtTheUpperBound) {
  for (bool with_deletes : {false, true}) {
    Node block = block_of({}, 16);
    Node t = keep(hashtable_init(3, block, kHashBlock));  // 8 buckets, bound 6
    int next = 0;
    auto add = [&] {
      *append_cell(block) = integer_cell(next++);
      return hashtable_put_value_status(t, int32_t(length_of(block)) - 1);
    };
    for (int i = 0; i < 6; i++) ASSERT_EQ(add(), 0);
    if (with_deletes)  // few live buckets left: still doubles
      for (int i = 0; i < 5; i++) hashtable_delete_value(t, i);
    EXPECT_EQ(hashtable_header(t).occupied, 6u);
    EXPECT_EQ(add(), kPutRebuilt);
    HashHeader h = hashtable_header(t);
    EXPECT_EQ(h.buckets, 16u);
    EXPECT_EQ(h.upper, 12u);
    EXPECT_EQ(h.size, 7u);  // the rebuild indexed the whole block
    expect_consistent(t);
  }
}

TEST_F(HashTableTest, HashDeleteFromChainsAndBuckets) {
  Node block = block_of(ints({5, 9, 5, 5}));
  Node t = keep(hashtable_init(4, block, kHashBlock));
  Cell five = integer_cell(5), nine = integer_cell(9);
  hashtable_delete_value(t, 2);
  EXPECT_EQ(hashtable_find(t, &five, 1, 1, kCmpEqual, false, false), 3);
  EXPECT_EQ(hashtable_find(t, &five, 0, 1, kCmpEqual, true, false), 3);
  hashtable_delete_value(t, 0);  // one value left: the bucket holds it directly
  hashtable_delete_value(t, 0);  // already unindexed: nothing
  EXPECT_EQ(hashtable_size(t), 2u);
  EXPECT_EQ(hashtable_find(t, &five, 0, 1, kCmpEqual, false, false), 3);
  hashtable_delete_value(t, 3);
  EXPECT_EQ(hashtable_find(t, &five, 0, 1, kCmpEqual, false, false), -1);
  EXPECT_EQ(hashtable_find(t, &nine, 0, 1, kCmpEqual, false, false), 1);
  EXPECT_EQ(hashtable_size(t), 1u);
  HashHeader h = hashtable_header(t);
  EXPECT_EQ(h.occupied, 2u);  // the deleted bucket stays occupied
  // The chain slot is reused by the next group.
  hashtable_put_value(t, 0);
  hashtable_put_value(t, 2);
  EXPECT_EQ(array_length(hashtable_header(t).chains), 2u);
  EXPECT_EQ(hashtable_find(t, &five, 1, 1, kCmpEqual, false, false), 2);
}

// Inserts [values] at [pos] of the hash! block and re-indexes as the hash!
// datatype does: shift the followers, then index the newcomers.
void insert_values(Node t, Node block, int32_t pos, const std::vector<Cell>& values) {
  int32_t count = int32_t(length_of(block)) - pos;
  for (size_t i = 0; i < values.size(); i++) append_cell(block);
  Cell* c = series_buffer(block)->head_cell();
  std::memmove(c + pos + values.size(), c + pos, size_t(count) * sizeof(Cell));
  for (size_t i = 0; i < values.size(); i++) c[pos + int32_t(i)] = values[i];
  ASSERT_EQ(hashtable_refresh(t, pos, int32_t(values.size()), count, false), 0);
  for (size_t i = 0; i < values.size(); i++)
    if (hashtable_put_value_status(t, pos + int32_t(i)) == kPutRebuilt) break;
}

void remove_values(Node t, Node block, int32_t pos, int32_t n) {
  hashtable_remove_range(t, pos, n);
  SeriesBuffer* b = series_buffer(block);
  int32_t count = int32_t(b->length()) - pos - n;
  std::memmove(b->head_cell() + pos, b->head_cell() + pos + n, size_t(count) * sizeof(Cell));
  b->tail -= uint32_t(n) * sizeof(Cell);
  ASSERT_EQ(hashtable_refresh(t, pos, n, count, true), 0);
}

TEST_F(HashTableTest, HashRefreshShiftsIndexesAndChains) {
  Node block = block_of(ints({5, 7, 5, 9, 5, 7}), 16);
  Node t = keep(hashtable_init(6, block, kHashBlock));
  insert_values(t, block, 2, ints({5, 11}));  // 5 7 [5 11] 5 9 5 7: chains straddle the point
  expect_consistent(t);
  Cell five = integer_cell(5);
  EXPECT_EQ(hashtable_find(t, &five, 0, 1, kCmpEqual, true, false), 6);
  remove_values(t, block, 1, 3);  // 5 [7 5 11] 5 9 5 7 -> 5 5 9 5 7
  expect_consistent(t);
  EXPECT_EQ(hashtable_find(t, &five, 2, 1, kCmpEqual, false, false), 3);
  insert_values(t, block, 0, ints({9}));
  insert_values(t, block, int32_t(length_of(block)), ints({12}));  // at the tail: nothing follows
  expect_consistent(t);
  gc_collect();  // the scratch table and every array survive and move
  insert_values(t, block, 3, ints({7, 7}));
  expect_consistent(t);
}

TEST_F(HashTableTest, HashRefreshDeclinesAboveTheLimit) {
  std::vector<Cell> many;
  for (int32_t i = 0; i < int32_t(kRefreshLimit) + 2; i++) many.push_back(integer_cell(i));
  Node block = block_of(many);
  Node t = keep(hashtable_init(uint32_t(many.size()), block, kHashBlock));
  EXPECT_EQ(hashtable_refresh(t, 1, 1, int32_t(kRefreshLimit) + 1, false), 1);
  Cell probe = integer_cell(5);
  EXPECT_EQ(hashtable_find(t, &probe, 0, 1, kCmpEqual, false, false), 5);  // untouched
  hashtable_remove_range(t, 2, 1);
  EXPECT_EQ(hashtable_refresh(t, 2, 1, int32_t(kRefreshLimit) - 1, true), 0);  // within the limit it works
}

TEST_F(HashTableTest, HashMoveRangeFollowsTheMovedValues) {
  struct Case {
    int32_t source, target, n;
  } cases[] = {{2, 6, 2}, {6, 1, 3}, {0, 8, 2}, {8, 0, 2}};
  for (const Case& c : cases) {
    std::vector<Cell> cells = ints({0, 1, 2, 3, 4, 3, 6, 1, 8, 3});
    Node block = block_of(cells);
    Node t = keep(hashtable_init(10, block, kHashBlock));
    // Apply the move to the block: take the run out, put it back at [target].
    std::vector<Cell> run(cells.begin() + c.source, cells.begin() + c.source + c.n);
    cells.erase(cells.begin() + c.source, cells.begin() + c.source + c.n);
    cells.insert(cells.begin() + c.target, run.begin(), run.end());
    std::memcpy(series_buffer(block)->head_cell(), cells.data(), cells.size() * sizeof(Cell));
    hashtable_move_range(t, c.source, c.target, c.n);
    expect_consistent(t);
  }
}

TEST_F(HashTableTest, HashRemoveAllResetsCopyAndClear) {
  Node block = block_of(ints({1, 2, 2, 3}));
  Node t = keep(hashtable_init(4, block, kHashBlock));
  Node copy_block = series_copy_buffer(block);
  stack_push_value(series_cell(kTypeBlock, copy_block));
  Node copy = keep(hashtable_copy(t, copy_block));
  hashtable_delete_value(t, 1);  // the original's chain changes, the copy's does not
  Cell two = integer_cell(2);
  EXPECT_EQ(hashtable_find(copy, &two, 0, 1, kCmpEqual, false, false), 1);
  EXPECT_EQ(hashtable_find(t, &two, 0, 1, kCmpEqual, false, false), 2);
  gc_collect();
  expect_consistent(copy);

  hashtable_remove_range(t, 0, 4);
  HashHeader h = hashtable_header(t);
  EXPECT_EQ(h.size, 0u);
  EXPECT_EQ(h.occupied, 0u);
  EXPECT_EQ(length_of(block), 4u);  // the block is the caller's
  EXPECT_EQ(hashtable_find(t, &two, 0, 1, kCmpEqual, false, false), -1);
  hashtable_put_block(t, 0, 1);
  expect_consistent(t);

  hashtable_clear(copy);
  EXPECT_EQ(length_of(copy_block), 0u);
  EXPECT_EQ(hashtable_size(copy), 0u);
  EXPECT_EQ(hashtable_find(copy, &two, 0, 1, kCmpEqual, false, false), -1);
  *append_cell(copy_block) = two;
  hashtable_put_value(copy, 0);
  EXPECT_EQ(hashtable_find(copy, &two, 0, 1, kCmpEqual, false, false), 0);
}

TEST_F(HashTableTest, HashRebuildSizesFromTheNumber) {
  Node block = block_of(ints({1, 2, 3, 1}));
  Node t = keep(hashtable_init(4, block, kHashBlock));
  struct Case {
    uint32_t number, buckets;
  } cases[] = {{10, 16}, {7, 16}, {2, 4}, {100, 256}};
  for (const Case& c : cases) {
    hashtable_rebuild(t, c.number);
    EXPECT_EQ(hashtable_header(t).buckets, c.buckets) << c.number;
    expect_consistent(t);
  }
  // A number too small for the block still ends with every value indexed.
  std::vector<Cell> many;
  for (int32_t i = 0; i < 50; i++) many.push_back(integer_cell(i));
  Node big = block_of(many);
  Node t2 = keep(hashtable_init(50, big, kHashBlock));
  hashtable_rebuild(t2, 1);
  EXPECT_GT(hashtable_header(t2).upper, 50u);
  expect_consistent(t2);
}

// ---------------------------------------------------------------- map!

TEST_F(HashTableTest, MapLaterDuplicateWinsAndLeavesTheBlock) {
  Cell k1 = string_cell(U"one"), k2 = string_cell(U"two"), k1_upper = string_cell(U"ONE");
  Node block =
      block_of({k1, integer_cell(1), k2, integer_cell(2), k1, integer_cell(3), k1_upper, integer_cell(4)});
  Node t = keep(hashtable_init(4, block, kHashMap));
  ASSERT_EQ(length_of(block), 6u);  // the second "one" pair is gone
  EXPECT_EQ(integer_of(cell_at(block, 1)), 3);
  EXPECT_EQ(hashtable_size(t), 3u);
  EXPECT_EQ(hashtable_find(t, &k1, 0, 1, kCmpStrictEqual, false, false), 0);
  EXPECT_EQ(hashtable_find(t, &k1_upper, 0, 1, kCmpStrictEqual, false, false), 4);
  EXPECT_EQ(hashtable_find(t, &k2, 0, 1, kCmpStrictEqual, false, false), 2);

  // An appended pair whose key exists updates that pair.
  *append_cell(block) = k2;
  *append_cell(block) = integer_cell(22);
  EXPECT_EQ(hashtable_put_value(t, 6), 2);
  EXPECT_EQ(length_of(block), 6u);
  EXPECT_EQ(integer_of(cell_at(block, 3)), 22);
  // Re-keying a pair to a key held by a later pair merges them and keeps the
  // later keys' positions in step.
  Cell k3 = string_cell(U"three");
  *append_cell(block) = k3;
  *append_cell(block) = integer_cell(30);
  EXPECT_EQ(hashtable_put_value(t, 6), 6);
  hashtable_remove_range(t, 2, 2);  // unindex the "two" pair
  EXPECT_EQ(hashtable_size(t), 3u);
  series_buffer(block)->head_cell()[2] = k3;
  EXPECT_EQ(hashtable_put_value(t, 2), 4);  // the "three" pair, moved down from 6
  ASSERT_EQ(length_of(block), 6u);
  EXPECT_EQ(integer_of(cell_at(block, 5)), 22);
  EXPECT_EQ(hashtable_size(t), 3u);
  EXPECT_EQ(hashtable_find(t, &k3, 0, 1, kCmpStrictEqual, false, false), 4);
  EXPECT_EQ(hashtable_find(t, &k1_upper, 0, 1, kCmpStrictEqual, false, false), 2);
  EXPECT_EQ(hashtable_find(t, &k1, 0, 1, kCmpStrictEqual, false, false), 0);
  EXPECT_EQ(hashtable_find(t, &k2, 0, 1, kCmpStrictEqual, false, false), -1);
}

TEST_F(HashTableTest, MapWordKeysAreOneKeyInFourForms) {
  Node symbols = install_symbols();
  int32_t a = intern(symbols, "a"), b = intern(symbols, "b"), a_upper = intern(symbols, "A");
  Node block = block_of({word_cell(kTypeWord, 0, a, 0), integer_cell(1), word_cell(kTypeSetWord, 0, b, 0),
                         integer_cell(2), word_cell(kTypeLitWord, 0, a, 0), integer_cell(3)});
  Node t = keep(hashtable_init(3, block, kHashMap));
  ASSERT_EQ(length_of(block), 4u);
  EXPECT_EQ(cell_at(block, 0).header, uint32_t(kTypeSetWord));  // stored as a set-word!
  EXPECT_EQ(integer_of(cell_at(block, 1)), 3);
  for (TypeId form : {kTypeWord, kTypeSetWord, kTypeLitWord, kTypeGetWord}) {
    Cell key = word_cell(form, 0, a, 0);
    EXPECT_EQ(hashtable_find(t, &key, 0, 1, kCmpStrictEqual, false, false), 0) << int(form);
  }
  Cell refinement = word_cell(kTypeRefinement, 0, a, 0);
  EXPECT_EQ(hashtable_find(t, &refinement, 0, 1, kCmpEqual, false, false), -1);
  Cell alias = word_cell(kTypeWord, 0, a_upper, 0);
  EXPECT_EQ(hashtable_find(t, &alias, 0, 1, kCmpStrictEqual, false, false), -1);
  EXPECT_EQ(hashtable_find(t, &alias, 0, 1, kCmpEqual, false, false), 0);
}

TEST_F(HashTableTest, MapEmptiedPairsAndFindNext) {
  Cell lower = string_cell(U"key"), upper = string_cell(U"KEY"), other = string_cell(U"other");
  Node block = block_of({lower, integer_cell(1), upper, integer_cell(2), other, integer_cell(3)});
  Node t = keep(hashtable_init(3, block, kHashMap));
  HashFind state;
  std::set<int32_t> found;
  for (int32_t i = hashtable_find(t, &lower, 0, 1, kCmpEqual, false, false, &state); i >= 0;
       i = hashtable_find_next(t, &lower, &state))
    found.insert(i);
  EXPECT_EQ(found, (std::set<int32_t>{0, 2}));
  EXPECT_EQ(hashtable_find_next(t, &lower, &state), -1);

  hashtable_delete_value(t, 0);
  EXPECT_EQ(hashtable_size(t), 2u);
  EXPECT_EQ(cell_at(block, 1).header, 0u);
  EXPECT_EQ(hashtable_find(t, &lower, 0, 1, kCmpStrictEqual, false, false), -1);
  EXPECT_EQ(hashtable_find(t, &lower, 0, 1, kCmpEqual, false, false), 2);  // the live spelling
  hashtable_delete_value(t, 0);                                            // twice: nothing
  EXPECT_EQ(hashtable_size(t), 2u);
  // Putting the key again fills the emptied pair.
  *append_cell(block) = lower;
  *append_cell(block) = integer_cell(10);
  EXPECT_EQ(hashtable_put_value(t, 6), 0);
  EXPECT_EQ(hashtable_size(t), 3u);
  EXPECT_EQ(integer_of(cell_at(block, 1)), 10);
}

TEST_F(HashTableTest, MapAlwaysDoubles) {
  Node block = block_of({}, 32);
  Node t = keep(hashtable_init(3, block, kHashMap));  // 8 buckets, bound 6
  for (int32_t i = 0; i < 7; i++) {
    *append_cell(block) = integer_cell(i);
    *append_cell(block) = integer_cell(i * 10);
    hashtable_put_value(t, 2 * i);
    if (i < 6) hashtable_delete_value(t, 2 * i);  // emptied pairs keep their buckets
  }
  HashHeader h = hashtable_header(t);
  EXPECT_EQ(h.buckets, 16u);
  EXPECT_EQ(h.upper, 12u);  // trunc(16 x 0.77 + 0.5)
  EXPECT_EQ(h.occupied, 7u);
  EXPECT_EQ(h.size, 1u);
  for (int32_t i = 0; i < 7; i++) {
    Cell key = integer_cell(i);
    EXPECT_EQ(hashtable_find(t, &key, 0, 1, kCmpEqual, false, false), i == 6 ? 12 : -1);
  }
}

// ---------------------------------------------------------------- symbols

TEST_F(HashTableTest, SymbolsInternWithCanonicalAliases) {
  Node symbols = install_symbols(4);
  int32_t foo = intern(symbols, "foo");
  EXPECT_EQ(foo, 1);
  EXPECT_EQ(intern(symbols, "foo"), foo);
  int32_t foo2 = intern(symbols, "Foo");
  int32_t foo3 = intern(symbols, "FOO");
  EXPECT_EQ(foo2, 2);
  EXPECT_EQ(foo3, 3);
  Node records = hashtable_header(symbols).values;
  EXPECT_EQ(alias_at(records, 0), -1);
  EXPECT_EQ(alias_at(records, 1), foo);
  EXPECT_EQ(alias_at(records, 2), foo);  // the first spelling, not the second
  EXPECT_EQ(symbol_resolve(foo3), foo);
  EXPECT_EQ(intern(symbols, "fOo", true), foo);  // caseless: nothing new
  EXPECT_EQ(length_of(records), 3u);
  int32_t bar = intern(symbols, "BAR", true);  // caseless and new: canonical
  EXPECT_EQ(alias_at(records, uint32_t(bar - 1)), -1);
  EXPECT_EQ(intern(symbols, "bar"), bar + 1);

  // Only ASCII letters fold: e-acute in two cases are two canonical symbols.
  int32_t lower_e = intern(symbols, "\xC3\xA9"), upper_e = intern(symbols, "\xC3\x89");
  EXPECT_NE(lower_e, upper_e);
  EXPECT_EQ(symbol_resolve(upper_e), upper_e);

  // The name: the bytes up to the tail, then a NUL.
  Cell rec = cell_at(records, uint32_t(foo2 - 1));
  EXPECT_TRUE(rec.is(kTypeSymbol));
  EXPECT_EQ(symbol_record_string(&rec), 0u);
  SeriesBuffer* name = series_buffer(symbol_record_name(&rec));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(name->head_ptr()), name->used()), "Foo");
  EXPECT_EQ(name->tail_ptr()[0], 0);
  EXPECT_EQ(intern(symbols, ""), intern(symbols, ""));
}

TEST_F(HashTableTest, AliasRecordedAfterAResizeIsCanonical) {
  // In 8 buckets, a name whose hash ends in 7 puts its first spelling in bucket
  // 7 and its second in bucket 0. The in-place resize moves bucket 0 first, so
  // in the larger table the second spelling precedes the first on the path:
  // a third spelling meets the alias before the canonical record.
  Node symbols = install_symbols(4);
  std::string name;
  for (int i = 0; name.empty(); i++) {
    std::string n = "nm" + std::to_string(i);
    if ((hash_symbol_name(reinterpret_cast<const uint8_t*>(n.data()), uint32_t(n.size())) & 7) == 7) name = n;
  }
  std::string upper = name, mixed = name;
  for (char& ch : upper) ch = char(std::toupper(ch));
  mixed[0] = char(std::toupper(mixed[0]));
  int32_t first = intern(symbols, name);
  int32_t second = intern(symbols, upper);
  for (const char* filler : {"f1", "f2", "f3", "f4"}) intern(symbols, filler);
  ASSERT_EQ(hashtable_header(symbols).occupied, 6u);  // at the bound: the next intern resizes
  int32_t third = intern(symbols, mixed);
  EXPECT_EQ(hashtable_header(symbols).buckets, 256u);
  Node records = hashtable_header(symbols).values;
  EXPECT_EQ(alias_at(records, uint32_t(second - 1)), first);
  EXPECT_EQ(alias_at(records, uint32_t(third - 1)), first);
  EXPECT_EQ(intern(symbols, mixed), third);
  EXPECT_EQ(intern(symbols, upper, true), first);
}

TEST_F(HashTableTest, SymbolAliasesStayCanonicalUnderGrowth) {
  // Three spellings of each name in a row, through two in-place resizes.
  Node symbols = install_symbols(4);
  std::map<std::string, int32_t> first;
  std::mt19937 rng(11);
  for (int i = 0; i < 300; i++) {
    std::string n = "name" + std::to_string(i) + "x";
    for (int round = 0; round < 3; round++) {
      std::string spelling = n;
      for (char& ch : spelling)
        if (rng() % 2) ch = char(std::toupper(ch));
      int32_t id = intern(symbols, spelling);
      first.emplace(n, id);
      EXPECT_EQ(symbol_resolve(id), first[n]) << spelling;
      EXPECT_EQ(intern(symbols, spelling), id);
    }
  }
  Node records = hashtable_header(symbols).values;
  for (uint32_t i = 0; i < length_of(records); i++) {
    int32_t alias = alias_at(records, i);
    if (alias > 0) {
      EXPECT_EQ(alias_at(records, uint32_t(alias - 1)), -1) << i;
    }
  }
  EXPECT_EQ(hashtable_header(symbols).buckets, 8u * 32 * 32);  // grew in place twice
  gc_collect();
  for (auto& [n, id] : first) EXPECT_EQ(intern(symbols, n, true), id);
}

// ---------------------------------------------------------------- context word tables

TEST_F(HashTableTest, ContextWordsByIdOrCanonicalId) {
  Node symbols = install_symbols();
  int32_t self = intern(symbols, "self"), foo = intern(symbols, "foo"), foo_upper = intern(symbols, "FOO");
  Node words = block_of({}, 4);
  Node context = words;                                   // any live node serves as the binding here
  Node t = keep(hashtable_init(4, words, kHashSymbols));  // 8 buckets, bound 6
  int32_t index = -7;
  EXPECT_EQ(context_words_find_or_add(t, foo, false, 0, &index), -1);  // no context: nothing added
  EXPECT_EQ(index, -7);
  EXPECT_EQ(context_words_find_or_add(t, foo, false, context, &index), -1);
  EXPECT_EQ(index, 0);
  Cell w = cell_at(words, 0);
  EXPECT_EQ(w.header, uint32_t(kTypeWord));
  EXPECT_EQ(word_context(&w), context);
  EXPECT_EQ(word_symbol(&w), foo);
  EXPECT_EQ(word_index(&w), 0);
  EXPECT_EQ(context_words_find_or_add(t, foo, false, context, &index), 0);
  EXPECT_EQ(context_words_find_or_add(t, foo_upper, false, 0, &index), -1);
  EXPECT_EQ(context_words_find_or_add(t, foo_upper, true, 0, &index), 0);
  EXPECT_EQ(context_words_find_or_add(t, self, true, context, &index), -1);
  EXPECT_EQ(index, 1);

  // Growth: the seventh word finds the table at its bound: x16 in place.
  std::vector<int32_t> ids{foo, self};
  for (int i = 0; i < 20; i++) {
    int32_t id = intern(symbols, "w" + std::to_string(i));
    ids.push_back(id);
    context_words_find_or_add(t, id, false, context, &index);
    EXPECT_EQ(index, int32_t(ids.size()) - 1);
    if (ids.size() == 7) {
      EXPECT_EQ(hashtable_header(t).buckets, 256u);
    }
  }
  gc_collect();
  for (size_t i = 0; i < ids.size(); i++)
    EXPECT_EQ(context_words_find_or_add(t, ids[i], false, 0, nullptr), int32_t(i));

  // A kind-2 table made over an existing words block indexes it.
  Node again = keep(hashtable_init(4, words, kHashSymbols));
  for (size_t i = 0; i < ids.size(); i++)
    EXPECT_EQ(context_words_find_or_add(again, ids[i], true, 0, nullptr), int32_t(i));
}

// ---------------------------------------------------------------- records

TEST_F(HashTableTest, RecordsPutGetRemoveAndCompactOnGrowth) {
  Node t = keep(hashtable_init(3, 0, kHashRecords, 2));  // 8 buckets, 48-byte records
  std::map<uint32_t, int32_t> value_of;
  bool added = false;
  int32_t first = hashtable_put(t, 1001, &added);
  EXPECT_TRUE(added);
  EXPECT_EQ(first, 0);
  EXPECT_EQ(hashtable_put(t, 1001, &added), first);
  EXPECT_FALSE(added);
  Cell* rec = hashtable_record(t, first);
  EXPECT_EQ(rec[0].header, uint32_t(kTypeUnset));
  EXPECT_EQ(hashtable_record_key(rec), 1001u);
  EXPECT_TRUE(rec[1].is(kTypeUnset) && rec[2].is(kTypeUnset));
  EXPECT_EQ(hashtable_put(t, 1002), 3);  // the next record, 3 cells on

  for (uint32_t k = 1; k <= 60; k++) {
    int32_t at = hashtable_put(t, k);
    hashtable_record(t, at)[1] = integer_cell(int32_t(k) * 3);
    value_of[k] = int32_t(k) * 3;
    if (k % 3 == 0) {
      EXPECT_TRUE(hashtable_remove_key(t, k));
      value_of.erase(k);
    }
  }
  EXPECT_FALSE(hashtable_remove_key(t, 3));
  EXPECT_EQ(hashtable_get(t, 3), -1);
  EXPECT_TRUE(hashtable_remove_key(t, 1001));
  EXPECT_TRUE(hashtable_remove_key(t, 1002));
  gc_collect();
  HashHeader h = hashtable_header(t);
  EXPECT_EQ(h.size, value_of.size());
  // Growth rebuilt the records block with the records in use only.
  EXPECT_LT(length_of(h.values), 3u * 60);
  for (auto [k, v] : value_of) {
    int32_t at = hashtable_get(t, k);
    ASSERT_GE(at, 0) << k;
    EXPECT_EQ(hashtable_record_key(hashtable_record(t, at)), k);
    EXPECT_EQ(integer_get(&hashtable_record(t, at)[1]), v);
  }
  hashtable_clear(t);
  EXPECT_EQ(hashtable_get(t, 1), -1);
  EXPECT_EQ(hashtable_put(t, 1), 0);
}

// Marking: counts what each hook was given.
std::vector<Node> g_marked_series, g_marked_blocks;
std::vector<uint32_t> g_marked_cells;
bool count_series(Node n) {
  g_marked_series.push_back(n);
  return true;
}
void count_block(Node n) { g_marked_blocks.push_back(n); }
void count_cell(const Cell* c) { g_marked_cells.push_back(uint32_t(integer_get(c))); }

// Element 0 of the chain store heads its free list; chain 1 is element 1.
Node first_chain(const HashHeader& h) { return array_pick_handle(h.chains, 2); }

bool contains(const std::vector<Node>& v, Node n) { return std::find(v.begin(), v.end(), n) != v.end(); }

TEST_F(HashTableTest, MarkingByKind) {
  Node key_bytes = array_make(4, 1);
  stack_push_value(series_cell(kTypeBinary, key_bytes));
  Node key_block = block_of({});
  HashMarkHooks hooks{count_series, count_block, count_cell};
  for (HashKind kind : {kHashRecords, kHashOwners}) {
    Node t = keep(hashtable_init(4, 0, kind, 1));
    hashtable_record(t, hashtable_put(t, key_bytes))[1] = integer_cell(41);
    hashtable_record(t, hashtable_put(t, key_block))[1] = integer_cell(42);
    hashtable_put(t, 999999);
    hashtable_remove_key(t, 999999);  // freed records are not marked
    g_marked_series.clear(), g_marked_blocks.clear(), g_marked_cells.clear();
    hashtable_mark(t, hooks);
    HashHeader h = hashtable_header(t);
    for (Node n : {t, h.flags, h.keys, h.values}) EXPECT_TRUE(contains(g_marked_series, n)) << kind;
    if (kind == kHashRecords) {
      EXPECT_TRUE(contains(g_marked_series, key_bytes));  // a byte series: the buffer only
      EXPECT_TRUE(contains(g_marked_blocks, key_block));  // a cell series: with its cells
      EXPECT_EQ(g_marked_cells, (std::vector<uint32_t>{41, 42}));
    } else {  // weak: no record content
      EXPECT_FALSE(contains(g_marked_series, key_bytes));
      EXPECT_TRUE(g_marked_blocks.empty());
      EXPECT_TRUE(g_marked_cells.empty());
    }
  }
  // hash!: the index map, the chain store and each chain; the block with its cells.
  Node block = block_of(ints({4, 4, 4}));
  Node t = keep(hashtable_init(3, block, kHashBlock));
  g_marked_series.clear(), g_marked_blocks.clear();
  hashtable_mark(t, hooks);
  HashHeader h = hashtable_header(t);
  for (Node n : {t, h.flags, h.keys, h.index_map, h.chains, first_chain(h)})
    EXPECT_TRUE(contains(g_marked_series, n));
  EXPECT_EQ(g_marked_blocks, std::vector<Node>{block});
}

std::set<Node> g_live;
bool in_live_set(Node n) { return g_live.count(n) > 0; }

TEST_F(HashTableTest, OwnerSweepDropsRecordsNamingDeadNodes) {
  Node t = keep(hashtable_init(8, 0, kHashOwners, 3));  // value, owner, field word
  // Real series stand for the owned series (bytes) and for the owners'
  // contexts and field words' contexts (cells); the predicate decides which
  // of them count as live.
  std::vector<Node> n;
  for (int i = 0; i < 9; i++) {
    bool cells = i >= 5;
    n.push_back(cells ? series_alloc_cells(2) : array_make(4, 1));
    stack_push_value(series_cell(cells ? kTypeBlock : kTypeBinary, n.back()));
  }
  Node owner = n[5], dead_owner = n[6], context = n[7], dead_context = n[8];
  struct Row {
    Node key, owner, field_context;
    bool kept;
  } rows[] = {
      {n[0], owner, context, true},
      {n[1], owner, context, false},  // the owned series died
      {n[2], dead_owner, context, false},
      {n[3], owner, dead_context, false},
      {n[4], owner, 0, true},  // an unbound field word names no context
  };
  g_live = {n[0], n[2], n[3], n[4], owner, context};
  for (const Row& r : rows) {
    Cell* rec = hashtable_record(t, hashtable_put(t, r.key));
    rec[1] = series_cell(kTypeBinary, r.key);
    rec[2] = object_cell(r.owner);
    rec[3] = word_cell(kTypeWord, r.field_context, 1, 0);
  }
  hashtable_sweep(t, in_live_set);
  for (const Row& r : rows) EXPECT_EQ(hashtable_get(t, r.key) >= 0, r.kept) << r.key;
  EXPECT_EQ(hashtable_size(t), 2u);
  // A swept record's cells no longer name anything.
  for (uint32_t i = 0; i < length_of(hashtable_header(t).values); i += 4) {
    Cell* rec = hashtable_record(t, int32_t(i));
    if (rec[0].header == 0) {
      EXPECT_TRUE(rec[1].is(kTypeUnset) && rec[2].is(kTypeUnset) && rec[3].is(kTypeUnset));
    }
  }
}

TEST_F(HashTableTest, OwnerTableIsWeakUnderTheCollector) {
  Node t = keep(hashtable_init(8, 0, kHashOwners, 3));
  Node owner_block = block_of({});  // stands in for the owner's context
  Node kept = array_make(4, 1);
  stack_push_value(series_cell(kTypeBinary, kept));
  Node dropped = array_make(4, 1);  // unreachable once the collection runs
  for (Node key : {kept, dropped}) {
    Cell* rec = hashtable_record(t, hashtable_put(t, key));
    rec[1] = series_cell(kTypeBinary, key);
    rec[2] = object_cell(owner_block);
  }
  g_swept_table = t;
  gc_collect();
  EXPECT_GE(hashtable_get(t, kept), 0);
  EXPECT_EQ(hashtable_get(t, dropped), -1);
  EXPECT_EQ(hashtable_size(t), 1u);
}

// ---------------------------------------------------------------- integer-keyed variant

TEST_F(HashTableTest, IntHashAgainstAMap) {
  size_t blocks = heap_block_count();
  IntHash* t = inthash_new(3);
  EXPECT_EQ(t->buckets, 8u);
  EXPECT_EQ(t->upper, 6u);
  std::unordered_map<uint32_t, uint32_t> oracle;
  std::mt19937 rng(5);
  for (int i = 0; i < 20000; i++) {
    uint32_t key = rng() % 3000, op = rng() % 4;
    if (op < 2) {
      inthash_put(t, key, uint32_t(i));
      oracle[key] = uint32_t(i);
    } else if (op == 2) {
      EXPECT_EQ(inthash_remove(t, key), oracle.erase(key) > 0);
    } else {
      uint32_t* v = inthash_get(t, key);
      auto it = oracle.find(key);
      ASSERT_EQ(v != nullptr, it != oracle.end()) << key;
      if (v) {
        EXPECT_EQ(*v, it->second);
      }
    }
  }
  EXPECT_EQ(t->size, oracle.size());
  EXPECT_LE(t->occupied, t->upper);
  std::unordered_map<uint32_t, uint32_t> seen;
  uint32_t cursor = 0, key, value;
  while (inthash_next_live(t, &cursor, &key, &value)) seen[key] = value;
  EXPECT_EQ(seen, oracle);

  inthash_resize(t, 4);  // never below what the live pairs need
  EXPECT_GT(t->upper, t->size);
  for (auto [k, v] : oracle) ASSERT_TRUE(inthash_get(t, k) && *inthash_get(t, k) == v);
  inthash_clear(t);
  EXPECT_EQ(inthash_get(t, oracle.begin()->first), nullptr);
  cursor = 0;
  EXPECT_FALSE(inthash_next_live(t, &cursor, &key, &value));
  inthash_free(t);
  EXPECT_EQ(heap_block_count(), blocks);
}

}  // namespace
}  // namespace kiv
