// The collector: reachable series survive with their contents and handles,
// unreachable ones are reclaimed, external resources are released once.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "datatypes/handle.h"
#include "datatypes/object.h"
#include "evaluator/memory_stats.h"
#include "kiv_test.h"
#include "runtime/collector.h"
#include "runtime/gc_root.h"
#include "runtime/memory.h"
#include "runtime/resources.h"

namespace kiv {
namespace {

// A structural dump of a value graph: blocks and byte series, cycles shown by node.
void dump(const Cell& c, std::set<Node>& seen, std::string& out) {
  switch (c.type()) {
    case kTypeBlock: {
      Node n = c.node();
      out += "[#" + std::to_string(n);
      if (seen.insert(n).second) {
        SeriesBuffer* b = series_buffer(n);
        for (uint32_t i = 0; i < b->length(); i++) {
          out += ' ';
          Cell inner = series_buffer(n)->head_cell()[i];
          dump(inner, seen, out);
        }
      }
      out += ']';
      break;
    }
    case kTypeBinary: {
      SeriesBuffer* b = series_buffer(c.node());
      out += "#{" + std::string(reinterpret_cast<char*>(b->head_ptr()), b->used()) + "}";
      break;
    }
    default: out += std::to_string(integer_get(&c));
  }
}

std::string dump(const Cell& c) {
  std::set<Node> seen;
  std::string out;
  dump(c, seen, out);
  return out;
}

uint32_t nodes_in_use() {
  uint32_t n = 0;
  for (NodeFrame* f = g_memory.first_node_frame; f; f = f->next) n += f->in_use;
  return n;
}

// Builds [count] random blocks and byte series that refer to each other
// (sharing and cycles included) and returns them; all stay rooted in [pool].
void build_graph(RootedCells& pool, std::mt19937& rng, int count) {
  for (int i = 0; i < count; i++) {
    if (rng() % 3 == 0) {
      Node bytes = series_alloc_bytes(rng() % 300);
      uint32_t len = rng() % 40;
      pool.push(series_cell(kTypeBinary, bytes));
      uint8_t* p = reserve_tail(bytes, len);
      for (uint32_t k = 0; k < len; k++) p[k] = uint8_t('a' + (i + k) % 26);
    } else {
      Node block = series_alloc_cells(1 + rng() % 8);
      pool.push(series_cell(kTypeBlock, block));
      uint32_t len = rng() % 12;
      for (uint32_t k = 0; k < len; k++) {
        Cell v = rng() % 4 == 0 || pool.size() < 2 ? integer_cell(rng() % 1000) : pool[rng() % pool.size()];
        *append_cell(block) = v;  // append_cell may move the block; v is a copy
      }
    }
  }
  // Close some cycles: blocks that hold blocks made after them.
  for (int i = 0; i < count / 4; i++) {
    Cell a = pool[rng() % pool.size()];
    Cell b = pool[rng() % pool.size()];
    if (a.is(kTypeBlock)) *append_cell(a.node()) = b;
  }
}

TEST(Collector, SurvivorsKeepTheirContents) {
  std::mt19937 rng(1234);
  for (int round = 0; round < 4; round++) {
    RootedCells pool;
    build_graph(pool, rng, 3000);
    // Keep a random third of the values as roots; drop the rest.
    RootedCells keep;
    for (size_t i = 0; i < pool.size(); i++)
      if (rng() % 3 == 0) keep.push(pool[i]);
    std::vector<std::string> before;
    for (size_t i = 0; i < keep.size(); i++) before.push_back(dump(keep[i]));
    pool.clear();
    uint32_t used = nodes_in_use();
    gc_collect();
    EXPECT_LT(nodes_in_use(), used);  // something was reclaimed
    EXPECT_EQ(gc_verify(), 0);
    for (size_t i = 0; i < keep.size(); i++) ASSERT_EQ(dump(keep[i]), before[i]) << i;
    gc_collect();  // and again, after the first compaction moved them
    for (size_t i = 0; i < keep.size(); i++) ASSERT_EQ(dump(keep[i]), before[i]) << i;
  }
}

TEST(Collector, UnreachableSeriesAreReclaimed) {
  gc_collect();
  uint32_t base = nodes_in_use();
  {
    RootedCells pool;
    for (int i = 0; i < 5000; i++) pool.push(series_cell(kTypeBinary, series_alloc_bytes(64)));
    gc_collect();
    EXPECT_GE(nodes_in_use(), base + 5000);
  }
  gc_collect();
  EXPECT_LE(nodes_in_use(), base);
}

int big_buffer_count() {
  int n = 0;
  for (BigBlock* b = g_memory.big_buffers; b; b = b->next) n++;
  return n;
}

TEST(Collector, AbandonedBuffersAndBigBuffersAreReclaimed) {
  Root block(series_cell(kTypeBlock, series_alloc_cells(1)));
  for (int i = 0; i < 20000; i++) *append_cell(block.node()) = integer_cell(i);
  gc_collect();
  // Big buffers other tests keep alive, and the block's own (it grew past a quarter megabyte).
  const int bigs_before = big_buffer_count();
  {
    Root big(series_cell(kTypeBinary, series_alloc_bytes(3 << 20)));
    EXPECT_TRUE(series_buffer(big.node())->flags & kSeriesBig);
  }
  gc_collect();
  EXPECT_EQ(big_buffer_count(), bigs_before);
  SeriesBuffer* b = series_buffer(block.node());
  ASSERT_EQ(b->length(), 20000u);
  for (int32_t i = 0; i < 20000; i++) ASSERT_EQ(integer_get(&b->head_cell()[i]), i);
}

TEST(Collector, DataStackAndFramesAreRoots) {
  StackSave save;
  Cell* cell = stack_push_value(series_cell(kTypeBinary, series_alloc_bytes(16)));
  std::memcpy(reserve_tail(cell->node(), 3), "abc", 3);
  for (int i = 0; i < 3; i++) gc_collect();
  EXPECT_EQ(std::string(reinterpret_cast<char*>(series_buffer(cell->node())->head_ptr()), 3), "abc");
}

int g_released = 0;
void count_release(Node) { g_released++; }

TEST(Collector, UnmarkedResourcesAreReleasedOnce) {
  uint32_t cls = register_resource_class("test", count_release);
  g_released = 0;
  uint32_t kept = register_resource(1, cls);
  uint32_t dropped = register_resource(2, cls);
  // A handle! naming a registry entry marks its resource.
  Root handle(handle_of_resource(0, kept));
  gc_collect();
  EXPECT_EQ(g_released, 1);
  EXPECT_TRUE(resource_at(dropped).class_word & kResourceFree);
  EXPECT_FALSE(resource_at(kept).class_word & kResourceFree);
  gc_collect();
  EXPECT_EQ(g_released, 1);
  unregister_resource(kept, false);
}

TEST(Collector, ResourceTableGrowsAndKeepsIndexes) {
  uint32_t cls = register_resource_class("grow", nullptr);
  std::vector<uint32_t> ids;
  uint32_t cap = resource_capacity();
  for (uint32_t i = 0; i < cap; i++) ids.push_back(register_resource(1000 + i, cls));
  EXPECT_EQ(resource_capacity(), 2 * cap);
  for (uint32_t i = 0; i < ids.size(); i++) EXPECT_EQ(resource_at(ids[i]).node, 1000 + i);
  uint32_t last = ids.back();
  unregister_resource(last, false);
  EXPECT_NE(resource_used_head(), int32_t(last));
  for (size_t i = 0; i + 1 < ids.size(); i++) unregister_resource(ids[i], false);
}

int g_callback_runs = 0;
// Counts the marking runs (a stress build also verifies after each collection).
void counting_callback() {
  if (!gc_verifying_q()) g_callback_runs++;
}

TEST(Collector, MarkCallbacksAndHoles) {
  g_callback_runs = 0;
  add_mark_callback(counting_callback);
  gc_collect();
  EXPECT_EQ(g_callback_runs, 1);
  remove_mark_callback(counting_callback);
  gc_collect();
  EXPECT_EQ(g_callback_runs, 1);
}

TEST(Collector, InactiveCollectorNeverRunsOnAllocation) {
  CollectorPause pause;
  uint32_t count = gc_collection_count();
  for (int i = 0; i < 20000; i++) series_alloc_bytes(200);  // several frames' worth, all garbage
  EXPECT_EQ(gc_collection_count(), count);
  gc_collect();  // an explicit request still collects
  EXPECT_EQ(gc_collection_count(), count + 1);
}

TEST(Collector, RootGuardsNest) {
  size_t depth = root_guard_depth();
  {
    Root a;
    Root b;
    EXPECT_EQ(root_guard_depth(), depth + 2);
  }
  EXPECT_EQ(root_guard_depth(), depth);
}

}  // namespace
}  // namespace kiv

namespace kiv {
namespace {

TEST(Collector, MemoryStats) {
  Root result(series_cell(kTypeBlock, series_alloc_cells(4)));
  double used = memory_stats(result.get(), 1);
  EXPECT_GT(used, 0);
  EXPECT_EQ(series_buffer(result.node())->length(), 0u);  // mode 1 appends nothing
  memory_stats(result.get(), 2);
  SeriesBuffer* b = series_buffer(result.node());
  ASSERT_EQ(b->length(), 5u);
  Cell* c = b->head_cell();
  EXPECT_TRUE(c[0].is(kTypeBlock));  // node frames
  EXPECT_TRUE(c[1].is(kTypeBlock));  // series frames
  EXPECT_TRUE(c[2].is(kTypeBlock));  // big buffers
  EXPECT_TRUE(c[3].is(kTypeInteger) || c[3].is(kTypeFloat));
  SeriesBuffer* frames = series_buffer(c[1].node());
  ASSERT_GT(frames->length(), 0u);
  Cell first = frames->head_cell()[0];
  EXPECT_TRUE(first.new_line());
  SeriesBuffer* triple = series_buffer(first.node());
  ASSERT_EQ(triple->length(), 3u);
  Cell* t = triple->head_cell();
  EXPECT_EQ(integer_get(&t[0]) + integer_get(&t[1]), integer_get(&t[2]));  // free + used = area
}

}  // namespace
}  // namespace kiv

#include "runtime/hashtable.h"
#include "runtime/ownership.h"

namespace kiv {
namespace {

TEST(Collector, OwnerTableForgetsDeadSeriesAndOwners) {
  Node table = owner_table();
  Root owner_context(series_cell(kTypeBlock, series_alloc_cells(2)));
  Root kept(series_cell(kTypeBinary, series_alloc_bytes(8)));
  Node dropped = series_alloc_bytes(8);
  Node orphan = series_alloc_bytes(8);  // its owner dies
  Root orphan_root(series_cell(kTypeBinary, orphan));
  Node dead_owner = series_alloc_cells(2);
  struct Rec {
    Node series, owner;
  } recs[] = {{kept.node(), owner_context.node()}, {dropped, owner_context.node()}, {orphan, dead_owner}};
  for (const Rec& r : recs) {
    int32_t at = hashtable_put(table, r.series);
    Cell* rec = hashtable_record(table, at);
    rec[1] = series_cell(kTypeBinary, r.series);
    rec[2] = object_cell(r.owner);
  }
  gc_collect();
  EXPECT_GE(hashtable_get(table, kept.node()), 0);
  EXPECT_EQ(hashtable_get(table, dropped), -1);
  EXPECT_EQ(hashtable_get(table, orphan), -1);
  hashtable_remove_key(table, kept.node());
}

}  // namespace
}  // namespace kiv

namespace kiv {
namespace {

size_t free_frame_count() {
  size_t n = 0;
  for (SeriesFrame* f = g_memory.free_series_frames; f; f = f->next) {
    if (f->next) {
      EXPECT_LT(f, f->next);  // ascending addresses
    }
    EXPECT_EQ(f->heap, f->area());
    n++;
  }
  return n;
}

// Makes [bytes] of unreachable 1,000-byte series without collecting.
void make_garbage(size_t bytes) {
  CollectorPause pause;
  for (size_t made = 0; made < bytes; made += 1000 + kBufferOverhead) series_alloc_bytes(1000);
}

TEST(Collector, EmptiedFramesAreKeptForReuseAndReleasedOnRequest) {
  gc_collect();
  gc_release_free_frames();
  make_garbage(3 * kSeriesFrameMax);
  size_t pages = g_memory.total_pages;
  gc_collect();
  // The emptied frames stay mapped, off the frame list. (Under the move stress
  // mode the collection may map a frame to move the live buffers into.)
  EXPECT_GE(free_frame_count(), 2u);
  EXPECT_GE(g_memory.total_pages, pages);
  for (SeriesFrame* f = g_memory.free_series_frames; f; f = f->next)
    for (SeriesFrame* g = g_memory.first_series_frame; g; g = g->next) ASSERT_NE(f, g);
  // New series fill them, once the room left in the frames in use is gone,
  // before any page is mapped.
  pages = g_memory.total_pages;
  size_t kept = g_memory.free_frame_bytes;
  size_t room = 0;
  for (SeriesFrame* f = g_memory.first_series_frame; f; f = f->next) room += size_t(f->end - f->heap);
  make_garbage(room + kept / 2);
  EXPECT_LT(g_memory.free_frame_bytes, kept);
  EXPECT_LE(g_memory.total_pages, pages);  // less when some were beyond the watermark
  gc_collect();
  size_t free_bytes = g_memory.free_frame_bytes;
  pages = g_memory.total_pages;
  gc_release_free_frames();
  EXPECT_EQ(free_frame_count(), 0u);
  EXPECT_EQ(g_memory.free_frame_bytes, 0u);
  EXPECT_LE(g_memory.total_pages + free_bytes, pages);  // page records round each block up
  EXPECT_EQ(gc_verify(), 0);
}

// A burst of garbage well past the watermark: the collection that empties its
// frames keeps them all; the allocator then unmaps one for each it reuses,
// until what is left is within the watermark.
TEST(Collector, BurstBeyondTheWatermarkIsGivenBackAsFramesAreReused) {
  gc_collect();
  gc_release_free_frames();
  size_t burst = g_memory.frame_watermark + 8 * size_t(kSeriesFrameMax);
  make_garbage(burst);
  size_t pages = g_memory.total_pages;
  gc_collect();
  EXPECT_GE(g_memory.total_pages, pages);
  EXPECT_GT(g_memory.frame_debt, g_memory.free_frame_bytes / 2);
  EXPECT_EQ(g_memory.frame_budget, 0u);
  pages = g_memory.total_pages;
  size_t free_before = g_memory.free_frame_bytes;
  make_garbage(2 * size_t(kSeriesFrameMax));
  EXPECT_LT(g_memory.total_pages, pages);
  // A frame taken from the list costs the list a second one.
  EXPECT_LT(g_memory.free_frame_bytes + 2 * size_t(kSeriesFrameMax), free_before);
  make_garbage(burst);
  EXPECT_EQ(g_memory.frame_debt, 0u);
  EXPECT_EQ(g_memory.free_series_frames, nullptr);
  gc_collect();
  EXPECT_EQ(gc_verify(), 0);
}

}  // namespace
}  // namespace kiv

namespace kiv {
namespace {

// ---------------------------------------------------------------- node marks and the node sweep

// After a collection, in every node frame: no entry keeps a mark, the free
// list runs over free entries in ascending handle order (so it has no cycle),
// and with the nodes in use it accounts for every slot.
void expect_node_frames_swept() {
  for (NodeFrame* f = g_memory.first_node_frame; f; f = f->next) {
    uint32_t in_use = 0;
    for (uint32_t h = f->first; h < f->first + f->capacity; h++)
      if (!(g_node_table[h] & kNodeFree)) {
        in_use++;
        ASSERT_FALSE(g_node_table[h] & kNodeMark) << "node " << h;
      }
    ASSERT_EQ(in_use, f->in_use) << "frame at " << f->first;
    uint32_t free_count = 0;
    for (uint32_t h = f->free_head, prev = f->first - 1; h; prev = h, h = uint32_t(g_node_table[h] >> 1)) {
      ASSERT_GT(h, prev) << "frame at " << f->first;
      ASSERT_LT(h, f->first + f->capacity);
      ASSERT_TRUE(g_node_table[h] & kNodeFree) << "node " << h;
      free_count++;
    }
    ASSERT_EQ(free_count + in_use, f->capacity) << "frame at " << f->first;
  }
}

std::string bytes_of(Node n) {
  SeriesBuffer* b = series_buffer(n);
  return std::string(reinterpret_cast<char*>(b->head_ptr()), b->used());
}

// A byte series holding "[tag]:[i]" and filler up to [size] bytes.
Node tagged_series(char tag, int i, uint32_t size) {
  Node n = series_alloc_bytes(size);
  std::string text = tag + std::to_string(i) + ":";
  text.resize(size, char('a' + i % 26));
  std::memcpy(reserve_tail(n, size), text.data(), size);
  return n;
}

// The collection finds the live buffers through the node table: a dead or
// abandoned buffer is never read, so scribbling over it, header and all,
// changes nothing. Its space is reclaimed and the survivors keep their bytes.
TEST(Collector, DeadAndAbandonedBuffersAreNeverRead) {
  gc_collect();
  std::mt19937 rng(99);
  RootedCells live;
  std::vector<std::string> kept;
  std::vector<Node> dead;
  std::vector<SeriesBuffer*> abandoned;
  {
    CollectorPause pause;  // nothing moves until the scribbling is done
    // Several frames' worth of live and dead series, mixed at random.
    for (int i = 0; i < 4000; i++) {
      bool alive = rng() % 2 == 0;
      Node n = tagged_series(alive ? 'L' : 'D', i, 16 + rng() % 1500);
      if (!alive) {
        dead.push_back(n);
        continue;
      }
      if (i % 7 == 0) {
        abandoned.push_back(series_buffer(n));
        series_expand(n, 0);
      }
      live.push(make_cell(kTypeBinary, 0, n));
      kept.push_back(bytes_of(n));
    }
  }
  for (SeriesBuffer* b : abandoned) std::memset(b, 0xA5, kBufferOverhead + b->capacity);
  for (Node n : dead) {
    SeriesBuffer* b = series_buffer(n);
    std::memset(b, 0xA5, kBufferOverhead + b->capacity);
  }
  gc_collect();
  ASSERT_EQ(gc_verify(), 0);
  for (Node n : dead) ASSERT_FALSE(node_in_use(n)) << n;
  for (size_t i = 0; i < kept.size(); i++) ASSERT_EQ(bytes_of(live[i].node()), kept[i]) << i;
  expect_node_frames_swept();
}

// The node sweep hands freed handles out again in ascending order, so series
// made after a collection sit behind older survivors with higher handles: a
// frame's live buffers are then out of handle order, and the compaction must
// still move them in address order.
TEST(Collector, BuffersOutOfHandleOrderCompact) {
  gc_collect();
  RootedCells first, second;
  std::vector<std::string> first_bytes, second_bytes;
  {
    RootedCells dropped;
    for (int i = 0; i < 600; i++) {
      Node n = tagged_series('A', i, 40 + i % 300);
      (i % 2 ? dropped : first).push(make_cell(kTypeBinary, 0, n));
    }
  }
  for (size_t i = 0; i < first.size(); i++) first_bytes.push_back(bytes_of(first[i].node()));
  gc_collect();
  for (int i = 0; i < 300; i++) second.push(make_cell(kTypeBinary, 0, tagged_series('B', i, 40 + i % 300)));
  for (size_t i = 0; i < second.size(); i++) second_bytes.push_back(bytes_of(second[i].node()));
  // The case under test must occur: a later handle at a lower address in the same frame.
  int inversions = 0;
  for (SeriesFrame* f = g_memory.first_series_frame; f; f = f->next) {
    auto in_frame = [f](Node n) {
      auto* p = reinterpret_cast<uint8_t*>(series_buffer(n));
      return p >= f->area() && p < f->heap;
    };
    for (size_t i = 0; i < first.size(); i++)
      for (size_t j = 0; j < second.size(); j++) {
        Node a = first[i].node(), b = second[j].node();
        if (in_frame(a) && in_frame(b) && (a < b) != (series_buffer(a) < series_buffer(b))) inversions++;
      }
  }
  ASSERT_GT(inversions, 0);
  // Drop every third of both, so runs of every shape have to slide.
  RootedCells survivors;
  std::vector<std::string> survivor_bytes;
  for (size_t i = 0; i < first.size() + second.size(); i++) {
    if (i % 3 == 0) continue;
    bool old = i < first.size();
    size_t k = old ? i : i - first.size();
    survivors.push(old ? first[k] : second[k]);
    survivor_bytes.push_back(old ? first_bytes[k] : second_bytes[k]);
  }
  first.clear();
  second.clear();
  gc_collect();
  ASSERT_EQ(gc_verify(), 0);
  for (size_t i = 0; i < survivors.size(); i++)
    ASSERT_EQ(bytes_of(survivors[i].node()), survivor_bytes[i]) << i;
  expect_node_frames_swept();
}

// What the sweep callbacks see of the marks, kept in the node table entries:
// a reached node is marked; an unreached one is not, nor a free node (whose
// free-list link may have the mark's bit set), nor a fixed buffer nobody
// reached, which keeps its node all the same.
struct SweepProbe {
  Node reached, unreached, free_handle, fixed;
  bool marked[4];
  bool ran;
};
SweepProbe* g_probe = nullptr;

void probe_sweep() {
  if (!g_probe) return;
  g_probe->ran = true;
  Node nodes[] = {g_probe->reached, g_probe->unreached, g_probe->free_handle, g_probe->fixed};
  for (int i = 0; i < 4; i++) g_probe->marked[i] = gc_node_marked(nodes[i]);
}

TEST(Collector, SweepSeesMarksOfReachedNodesOnly) {
  static bool registered = (add_sweep_callback(probe_sweep), true);
  ASSERT_TRUE(registered);
  SweepProbe probe{};
  Root reached(make_cell(kTypeBinary, 0, tagged_series('R', 1, 32)));
  probe.reached = reached.node();
  probe.unreached = tagged_series('U', 2, 32);
  probe.fixed = series_alloc_fixed(16, 1, 0);
  std::memcpy(reserve_tail(probe.fixed, 5), "fixed", 5);
  for (NodeFrame* f = g_memory.first_node_frame; f && !probe.free_handle; f = f->next)
    for (uint32_t h = f->free_head; h && !probe.free_handle; h = uint32_t(g_node_table[h] >> 1))
      if (g_node_table[h] & kNodeMark) probe.free_handle = h;
  ASSERT_NE(probe.free_handle, 0u);
  g_probe = &probe;
  gc_collect();
  g_probe = nullptr;
  ASSERT_TRUE(probe.ran);
  EXPECT_TRUE(probe.marked[0]);
  EXPECT_FALSE(probe.marked[1]);
  EXPECT_FALSE(probe.marked[2]);
  EXPECT_FALSE(probe.marked[3]);
  EXPECT_FALSE(node_in_use(probe.unreached));
  EXPECT_FALSE(node_in_use(probe.free_handle));
  ASSERT_TRUE(node_in_use(probe.fixed));
  EXPECT_EQ(bytes_of(probe.fixed), "fixed");
  EXPECT_EQ(bytes_of(probe.reached).substr(0, 3), "R1:");
  EXPECT_EQ(gc_verify(), 0);
}

}  // namespace
}  // namespace kiv
