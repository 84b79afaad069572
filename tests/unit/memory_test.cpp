// Series allocation, growth and copying; node and series frames.
#include "runtime/memory.h"

#include <gtest/gtest.h>

#include <cstring>

#include "kiv_test.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/gc_root.h"

namespace kiv {
namespace {

// Keeps a raw series alive: binary! cells mark their node whatever its unit.
Node rooted(RootedCells& roots, Node n) {
  roots.push(series_cell(kTypeBinary, n));
  return n;
}

TEST(Memory, CapacitiesAreMultiplesOf16) {
  struct Case {
    uint32_t count, unit, capacity;
  } cases[] = {{0, 1, 0}, {1, 1, 16}, {17, 1, 32}, {3, 4, 16}, {5, 4, 32}, {2, 16, 32}, {3, 8, 32}};
  RootedCells roots;
  for (const Case& c : cases) {
    Node n = rooted(roots, series_alloc(c.count, c.unit, 0));
    SeriesBuffer* b = series_buffer(n);
    EXPECT_EQ(b->capacity, c.capacity) << c.count << " x " << c.unit;
    EXPECT_EQ(b->unit(), c.unit);
    EXPECT_EQ(b->node, n);
    EXPECT_TRUE(b->flags & kSeriesInUse);
    EXPECT_TRUE(b->flags & kSeriesAlloc);
    EXPECT_EQ(b->head, 0u);
    EXPECT_EQ(b->tail, 0u);
  }
  EXPECT_EQ(series_buffer(series_alloc_bytes(0))->capacity, 16u);
  EXPECT_EQ(series_buffer(series_alloc_units(0, 4))->capacity / 4, 4u);
  EXPECT_EQ(series_buffer(series_alloc_units(0, 2))->capacity / 2, 8u);
}

TEST(Memory, MiddleHead) {
  SeriesBuffer* b = series_buffer(series_alloc(32, 1, kHeadMiddle));
  EXPECT_EQ(b->head, 16u);
  EXPECT_EQ(b->tail, 16u);
  EXPECT_TRUE(b->flags & kSeriesMiddleHead);
}

TEST(Memory, BuffersFollowEachOtherInAFrame) {
  bool move = gc_stress_move_q();
  gc_set_stress(false);  // a collection between the two would move the first
  RootedCells roots;
  Node na = rooted(roots, series_alloc(40, 1, 0));
  Node nb = rooted(roots, series_alloc(8, 1, 0));
  gc_set_stress(move);
  SeriesBuffer* a = series_buffer(na);
  SeriesBuffer* b = series_buffer(nb);
  if (reinterpret_cast<uint8_t*>(b) > reinterpret_cast<uint8_t*>(a)) {  // unless a new frame began
    EXPECT_EQ(reinterpret_cast<uint8_t*>(b), reinterpret_cast<uint8_t*>(a) + a->capacity + kBufferOverhead);
  }
  EXPECT_EQ(reinterpret_cast<uintptr_t>(a->data()) % 8, 0u);
}

TEST(Memory, BigBufferThreshold) {
  // needed = capacity + 24 reaches 2 MB: a big buffer of its own.
  RootedCells roots;
  Node big = rooted(roots, series_alloc(kSeriesFrameMax - kBufferOverhead, 1, 0));
  EXPECT_TRUE(series_buffer(big)->flags & kSeriesBig);
  Node small = rooted(roots, series_alloc(kSeriesFrameMax - kBufferOverhead - 16, 1, 0));
  EXPECT_FALSE(series_buffer(small)->flags & kSeriesBig);
}

TEST(Memory, ExpandDoublesAndAbandonsTheOldBuffer) {
  bool move = gc_stress_move_q();
  gc_set_stress(false);  // the old buffer is inspected after the move
  bool active = g_collector_active;
  g_collector_active = false;
  RootedCells roots;
  Node n = rooted(roots, series_alloc(16, 1, 0));
  std::memcpy(reserve_tail(n, 10), "0123456789", 10);
  SeriesBuffer* old = series_buffer(n);
  SeriesBuffer* grown = series_expand(n, 0);
  g_collector_active = active;
  gc_set_stress(move);
  EXPECT_EQ(grown->capacity, 32u);
  EXPECT_EQ(series_buffer(n), grown);
  EXPECT_EQ(grown->used(), 10u);
  EXPECT_EQ(std::memcmp(grown->head_ptr(), "0123456789", 10), 0);
  EXPECT_EQ(old->node, 0u);
  EXPECT_FALSE(old->flags & kSeriesInUse);
  EXPECT_EQ(std::memcmp(old->head_ptr(), "0123456789", 10), 0);  // the old bytes stay
}

TEST(Memory, ExpandCopiesFromTheHead) {
  RootedCells roots;
  Node n = rooted(roots, series_alloc(32, 1, kHeadMiddle));
  std::memcpy(reserve_tail(n, 4), "abcd", 4);
  SeriesBuffer* b = series_expand(n, 64);
  EXPECT_EQ(b->head, 0u);
  EXPECT_EQ(b->used(), 4u);
  EXPECT_EQ(std::memcmp(b->data(), "abcd", 4), 0);
  EXPECT_EQ(b->flags & kSeriesMiddleHead, kSeriesMiddleHead);
}

// A buffer grown past a quarter megabyte gets pages of its own, and grows
// in place from then on: the bytes from the head come along to the data
// start, and the page blocks stay listed (nothing leaks, nothing is freed twice).
TEST(Memory, GrownBigBuffersGrowInPlace) {
  RootedCells roots;
  Node n = rooted(roots, series_alloc(64, 1, 0));
  std::memcpy(reserve_tail(n, 3), "xyz", 3);
  uint32_t size = 64;
  for (uint32_t round = 0; round < 8; round++) {
    // The head one byte in: the grown buffer must start at it.
    SeriesBuffer* b = series_buffer(n);
    const uint32_t length = b->used();
    std::memmove(b->data() + 1, b->head_ptr(), length);
    b->head = 1;
    b->tail = 1 + length;
    size *= 4;
    b = series_expand(n, size);
    ASSERT_EQ(series_buffer(n), b);
    EXPECT_EQ(b->head, 0u);
    EXPECT_GE(b->capacity, size);
    ASSERT_EQ(b->used(), 3 + round * 2);
    EXPECT_EQ(std::memcmp(b->data(), "xyz", 3), 0);
    EXPECT_EQ(bool(b->flags & kSeriesBig), size + kBufferOverhead >= 0x40000) << size;
    std::memcpy(reserve_tail(n, 2), "..", 2);
  }
  gc_collect();
  SeriesBuffer* b = series_buffer(n);
  EXPECT_EQ(b->used(), 19u);
  EXPECT_EQ(std::memcmp(b->data(), "xyz....", 7), 0);
}

// A buffer grown to pages of its own below the frame size, and grown in
// place from then on, leaves nothing to collect: no collection runs for it,
// however far it grows.
TEST(Memory, GrowingInPlaceCollectsNothing) {
  bool move = gc_stress_move_q();
  gc_set_stress(false);
  RootedCells roots;
  Node n = rooted(roots, series_alloc(64, 1, 0));
  const uint32_t collections = gc_collection_count();
  for (uint32_t size = 0x80000; size <= 0x1000000; size *= 2) {
    series_expand(n, size);
    ASSERT_TRUE(series_buffer(n)->flags & kSeriesBig);
  }
  EXPECT_EQ(gc_collection_count(), collections);
  EXPECT_GE(series_buffer(n)->capacity, 0x1000000u);
  gc_set_stress(move);
}

TEST(Memory, MoveBytesIsMemmoveForEveryShortLength) {
  // Each length around the word sizes, apart and overlapping either way.
  for (size_t n = 0; n <= 40; n++) {
    for (int shift : {-5, -1, 0, 1, 3, 9, 64}) {
      uint8_t got[160], want[160];
      for (size_t i = 0; i < sizeof got; i++) got[i] = want[i] = uint8_t(i * 7 + 1);
      uint8_t* src = got + 32;
      move_bytes(src + shift, src, n);
      std::memmove(want + 32 + shift, want + 32, n);
      ASSERT_EQ(std::memcmp(got, want, sizeof got), 0) << "n " << n << " shift " << shift;
    }
  }
}

TEST(Memory, ExpandFilled) {
  RootedCells roots;
  Node n = rooted(roots, series_alloc_bytes_filled(16, 0x11));
  SeriesBuffer* b = series_expand_filled(n, 48, 0x22);
  EXPECT_EQ(b->capacity, 48u);
  EXPECT_EQ(b->data()[15], 0x11);
  EXPECT_EQ(b->data()[16], 0x22);
  EXPECT_EQ(b->data()[47], 0x22);
}

TEST(Memory, ReallocRejectsNonPositiveSizes) {
  RootedCells roots;
  Node n = rooted(roots, series_alloc(16, 1, 0));
  EXPECT_EQ(test::catch_error([&] { series_realloc(n, -16); }), kErrInternalNoMemory);
  EXPECT_EQ(test::catch_error([&] { series_alloc(0x40000000, 16, 0); }), kErrInternalNoMemory);
}

TEST(Memory, AppendCellDoublesAFullBlock) {
  RootedCells roots;
  Node n = rooted(roots, series_alloc_cells(2));
  append_cell(n)->header = kTypeNone;
  append_cell(n)->header = kTypeNone;
  EXPECT_EQ(series_buffer(n)->capacity, 32u);
  Cell* c = append_cell(n);
  EXPECT_EQ(c->type(), kTypeUnset);
  SeriesBuffer* b = series_buffer(n);
  EXPECT_EQ(b->capacity, 64u);
  EXPECT_EQ(b->length(), 3u);
  EXPECT_EQ(b->cells()[0].type(), kTypeNone);
}

TEST(Memory, ReserveTailGrowth) {
  RootedCells roots;
  Node n = rooted(roots, series_alloc_bytes(32));
  reserve_tail(n, 100);
  EXPECT_EQ(series_buffer(n)->capacity, 208u);  // 2 x 100, rounded up
  Node m = rooted(roots, series_alloc_bytes(32));
  reserve_tail(m, 20);
  reserve_tail(m, 20);
  EXPECT_EQ(series_buffer(m)->capacity, 64u);  // twice the capacity
  EXPECT_EQ(series_buffer(m)->used(), 40u);
}

TEST(Memory, CopyBufferAndPart) {
  RootedCells roots;
  Node n = rooted(roots, series_alloc(8, 4, 0));
  for (uint32_t i = 0; i < 8; i++) {
    uint32_t v = 100 + i;
    std::memcpy(reserve_tail(n, 4), &v, 4);
  }
  series_set_flags(n, kSeriesOwned);
  Node whole = rooted(roots, series_copy_buffer(n));
  SeriesBuffer* w = series_buffer(whole);
  EXPECT_EQ(w->capacity, series_buffer(n)->capacity);
  EXPECT_EQ(w->used(), 32u);
  EXPECT_EQ(w->unit(), 4u);
  EXPECT_TRUE(w->flags & kSeriesOwned);
  Node part = rooted(roots, series_copy_part(n, 2, 3));
  SeriesBuffer* p = series_buffer(part);
  EXPECT_EQ(p->length(), 3u);
  EXPECT_FALSE(p->flags & kSeriesOwned);
  uint32_t first;
  std::memcpy(&first, p->data(), 4);
  EXPECT_EQ(first, 102u);
}

TEST(Memory, GrownFixedBufferBecomesCollected) {
  RootedCells roots;
  Node n = rooted(roots, series_alloc_fixed(2, 16, 0));
  EXPECT_TRUE(series_buffer(n)->flags & kSeriesFixed);
  gc_collect();  // the collector's own work list is in place before counting
  size_t blocks = heap_block_count();
  for (int i = 0; i < 3; i++) append_cell(n);
  SeriesBuffer* b = series_buffer(n);
  EXPECT_FALSE(b->flags & kSeriesFixed);
  EXPECT_EQ(b->length(), 3u);
  EXPECT_EQ(heap_block_count(), blocks - 1);
}

TEST(Memory, SeriesFramesStayInAddressOrder) {
  RootedCells roots;
  for (int i = 0; i < 6; i++) rooted(roots, series_alloc(600000, 1, 0));  // several frames' worth
  int frames = 0;
  for (SeriesFrame* f = g_memory.first_series_frame; f; f = f->next) {
    if (f->next) {
      EXPECT_LT(f, f->next);
      EXPECT_EQ(f->next->prev, f);
    } else {
      EXPECT_EQ(g_memory.last_series_frame, f);
    }
    frames++;
  }
  EXPECT_GE(frames, 2);
  EXPECT_EQ(g_memory.next_frame_size, kSeriesFrameMax);
}

TEST(Memory, NodeFramesGrowAndEmptyOnesGo) {
  // Raw nodes without buffers: keep the collector away while they are out.
  bool active = g_collector_active;
  g_collector_active = false;
  NodeFrame* frame = init_node_frame(kNodeFrameSize);
  g_memory.current_node_frame = frame;
  // Fill this frame (10,000 nodes) and take one more: it comes from another frame.
  Node nodes[kNodeFrameSize];
  for (uint32_t i = 0; i < kNodeFrameSize; i++) nodes[i] = alloc_node();
  EXPECT_EQ(frame->in_use, kNodeFrameSize);
  EXPECT_EQ(frame->free_head, 0u);
  Node extra = alloc_node();
  EXPECT_NE(node_frame_of(extra), frame);
  for (uint32_t i = 0; i < kNodeFrameSize; i++) {
    EXPECT_EQ(node_frame_of(nodes[i]), frame);
    free_node(frame, nodes[i]);
  }
  free_node(node_frame_of(extra), extra);
  EXPECT_EQ(frame->in_use, 0u);
  g_collector_active = active;
  gc_collect();
  for (NodeFrame* f = g_memory.first_node_frame; f; f = f->next) EXPECT_NE(f, frame);
}

TEST(Memory, PlatformHeapKeepsItsBlocksListed) {
  size_t before = heap_bytes();
  void* a = heap_alloc(100);
  EXPECT_EQ(heap_bytes(), before + 116);
  a = heap_realloc(a, 200);
  EXPECT_EQ(heap_bytes(), before + 216);
  heap_free(a);
  EXPECT_EQ(heap_bytes(), before);
}

}  // namespace
}  // namespace kiv
