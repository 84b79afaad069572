// Raw arrays: growth keeps the elements, finds and removals by value, 1-based
// picks and pokes, truncation, and the bounds that keep every access inside
// head..tail. Arrays stay rooted through a binary! cell on the data stack.
// Platform-heap arrays: growth from the first capacity keeps the elements,
// unordered removal, trimming, and every block given back.
#include "runtime/array.h"

#include <gtest/gtest.h>

#include <vector>

#include "runtime/collector.h"
#include "runtime/stack.h"

namespace kiv {
namespace {

Node rooted_array(uint32_t n, uint32_t unit) {
  Node a = array_make(n, unit);
  stack_push_value(series_cell(kTypeBinary, a));
  return a;
}

std::vector<int32_t> ints(Node a) {
  std::vector<int32_t> out;
  for (uint32_t i = 1; i <= array_length(a); i++) out.push_back(array_pick_int(a, i));
  return out;
}

TEST(Array, MakeRecordsTheUnitAndLengthCountsUnits) {
  for (uint32_t unit : {1u, 2u, 4u, 8u, 16u}) {
    Node a = rooted_array(0, unit);
    EXPECT_EQ(array_flags(a) & kSeriesUnitMask, unit);
    EXPECT_EQ(array_length(a), 0u);
    EXPECT_GE(series_buffer(a)->capacity, 16u);
    reserve_tail(a, 3 * unit);
    EXPECT_EQ(array_length(a), 3u) << unit;
  }
}

TEST(Array, AppendingPastTheCapacityGrowsAndKeepsEveryElement) {
  Node a = rooted_array(2, 4);
  uint32_t capacity = series_buffer(a)->capacity;
  std::vector<int32_t> expected;
  for (int32_t i = 0; i < 1000; i++) {
    array_append_int(a, i * 7 - 300);
    expected.push_back(i * 7 - 300);
  }
  EXPECT_GT(series_buffer(a)->capacity, capacity);
  EXPECT_EQ(ints(a), expected);
  gc_collect();  // the buffer moves; the node keeps naming it
  EXPECT_EQ(ints(a), expected);
}

TEST(Array, BytesAppendAndRemove) {
  Node a = rooted_array(0, 1);
  array_append_bytes(a, "hello", 5);
  array_append_byte(a, '!');
  array_append_bytes(a, "", 0);
  array_remove_bytes(a, 1, 3);  // "ello" -> "o"
  SeriesBuffer* b = series_buffer(a);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(b->head_ptr()), b->used()), "ho!");
  array_remove_bytes(a, 2, 100);  // cut at the tail
  array_remove_bytes(a, 9, 1);    // past the tail: nothing
  b = series_buffer(a);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(b->head_ptr()), b->used()), "ho");
}

TEST(Array, HandlesFindPickPokeRemove) {
  Node a = rooted_array(4, 4);
  EXPECT_EQ(array_find_handle(a, 5), -1);  // empty
  EXPECT_EQ(array_remove_handle(a, 5), -1);
  for (uint32_t h : {10u, 20u, 30u, 20u}) array_append_handle(a, h);
  EXPECT_EQ(array_find_handle(a, 20), 4);  // byte offset of the first
  EXPECT_EQ(array_find_int(a, 30), 8);
  EXPECT_EQ(array_pick_handle(a, 1), 10u);
  EXPECT_EQ(array_pick_handle(a, 4), 20u);
  EXPECT_EQ(array_pick_handle(a, 0), 0u);  // out of range
  EXPECT_EQ(array_pick_handle(a, 5), 0u);
  EXPECT_TRUE(array_poke_handle(a, 3, 33));
  EXPECT_FALSE(array_poke_handle(a, 5, 99));
  EXPECT_EQ(array_length(a), 4u);

  EXPECT_EQ(array_remove_handle(a, 20), 4);  // the first 20 only
  EXPECT_EQ(ints(a), (std::vector<int32_t>{10, 33, 20}));
  EXPECT_EQ(array_remove_handle(a, 77), -1);
  EXPECT_EQ(ints(a), (std::vector<int32_t>{10, 33, 20}));
}

TEST(Array, TruncateClearAndCopy) {
  Node a = rooted_array(0, 4);
  for (int32_t i = 1; i <= 5; i++) array_append_int(a, i);
  array_truncate(a, 4);  // keeps 1..3
  EXPECT_EQ(ints(a), (std::vector<int32_t>{1, 2, 3}));
  array_truncate(a, 9);  // never moves the tail forward
  EXPECT_EQ(ints(a), (std::vector<int32_t>{1, 2, 3}));

  Node copy = array_copy(a);
  stack_push_value(series_cell(kTypeBinary, copy));
  EXPECT_EQ(array_flags(copy) & kSeriesUnitMask, 4u);
  array_truncate(a, 1);
  EXPECT_EQ(array_length(a), 0u);
  EXPECT_EQ(ints(copy), (std::vector<int32_t>{1, 2, 3}));  // independent of the source
  array_append_int(copy, 4);
  array_truncate(copy, 0);
  EXPECT_EQ(array_length(copy), 0u);
  array_append_int(a, 8);
  array_clear(a);
  EXPECT_EQ(array_length(a), 0u);
}

// ---------------------------------------------------------------- HeapArray

TEST(HeapArray, GrowsByDoublingFromItsFirstCapacityAndKeepsEveryElement) {
  size_t blocks = heap_block_count();
  HeapArray<uint32_t, 4> a;
  EXPECT_EQ(a.capacity, 0u);  // zero is empty: no block until the first push
  std::vector<size_t> capacities;
  for (uint32_t i = 0; i < 37; i++) {
    a.push(i * 7);
    if (capacities.empty() || capacities.back() != a.capacity) capacities.push_back(a.capacity);
  }
  EXPECT_EQ(capacities, (std::vector<size_t>{4, 8, 16, 32, 64}));
  ASSERT_EQ(a.count, 37u);
  for (uint32_t i = 0; i < 37; i++) EXPECT_EQ(a[i], i * 7);
  EXPECT_EQ(heap_block_count(), blocks + 1);

  a.reserve(200);  // straight to the first doubling that holds it
  EXPECT_EQ(a.capacity, 256u);
  EXPECT_EQ(a[36], 252u);
  a.release();
  EXPECT_EQ(a.count + a.capacity, 0u);
  EXPECT_EQ(a.items, nullptr);
  EXPECT_EQ(heap_block_count(), blocks);
}

TEST(HeapArray, PopRemoveUnorderedAndResize) {
  HeapArray<int32_t> a;
  for (int32_t v : {10, 20, 30, 40}) a.push(v);
  a.remove_unordered(1);  // the last one takes its place
  EXPECT_EQ(std::vector<int32_t>(a.begin(), a.end()), (std::vector<int32_t>{10, 40, 30}));
  EXPECT_EQ(a.pop(), 30);
  a.remove_unordered(1);  // the last one itself
  EXPECT_EQ(std::vector<int32_t>(a.begin(), a.end()), (std::vector<int32_t>{10}));
  a.resize(40);
  EXPECT_EQ(a.count, 40u);
  EXPECT_EQ(a[0], 10);
  a.clear();
  EXPECT_EQ(a.count, 0u);
  EXPECT_EQ(a.capacity, 64u);  // clearing keeps the memory
  a.release();
}

TEST(HeapArray, TrimGivesBackOnlyWhatFarExceedsTheUse) {
  HeapArray<uint64_t, 8> a;
  a.resize(8);
  a.trim(0);  // never below the first capacity
  EXPECT_EQ(a.capacity, 8u);
  a.resize(100);
  a.trim(32);  // 128 / 4 is not more than 32
  EXPECT_EQ(a.capacity, 128u);
  a.trim(31);
  EXPECT_EQ(a.capacity, 0u);
  EXPECT_EQ(a.count, 0u);
}

}  // namespace
}  // namespace kiv
