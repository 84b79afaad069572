// The collector: marking from the roots, sweeping of dead references,
// compaction of the series frames, release of dead big buffers and nodes.
//
// A collection runs in phases: marking sets the mark bit of each reachable
// node in the node table; the sweep callbacks drop what refers to unmarked
// nodes; the node sweep walks the node table, frees every unmarked node and
// lists the buffers of the marked ones; the compaction moves those buffers,
// frame by frame in address order. A dead buffer is never read: only the live
// buffers' headers and the dense node table are touched, however much garbage
// the frames hold. Outside a collection no node is marked.
//
// Marking uses an explicit work list (platform heap), so deeply nested data
// never deepens the C++ stack. Nothing here allocates a series.
#include "runtime/collector.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "runtime/array.h"
#include "runtime/asan.h"
#include "runtime/errors.h"
#include "runtime/fatal.h"
#include "runtime/gc_root.h"
#include "runtime/hashtable.h"
#include "runtime/memory.h"
#include "runtime/resources.h"
#include "runtime/root_block.h"
#include "runtime/type_hooks.h"

namespace kiv {

bool g_collector_active = false;
#if defined(KIV_GC_STRESS)
bool g_stress_armed = true;
#else
bool g_stress_armed = false;
#endif

namespace {

bool g_collecting = false;
// What the marking primitives do: mark (a collection), check each handle
// (gc_verify), or tell whether each handle is marked (gc_cell_marked).
enum class MarkMode : uint8_t { kMark, kVerify, kQuery };
MarkMode g_mode = MarkMode::kMark;
bool (*g_query_node_ok)(Node) = nullptr;
bool g_query_dead = false;
#if defined(KIV_GC_STRESS)
bool g_stress_move = true;
#else
bool g_stress_move = false;
#endif
uint64_t g_fail_countdown = 0;  // series allocations left up to the one that fails

MarkCallback g_mark_callbacks[kMarkCallbackMax];
int g_mark_callback_count = 0;
SweepCallback g_sweep_callbacks[kMarkCallbackMax];
int g_sweep_callback_count = 0;

// ---------------------------------------------------------------- work list

// Blocks marked but whose cells are not marked yet.
HeapArray<Node, 4096> g_work;

void work_push(Node node) { g_work.push(node); }

// ---------------------------------------------------------------- scratch arrays

// A platform-heap array kept from one collection to the next.
template <typename T>
using ScratchArray = HeapArray<T, 1024>;

// ---------------------------------------------------------------- marking

inline bool live_node(Node n) { return n != 0 && node_in_use(n); }

// The other modes' side of the primitives. True when marking should go on.
bool check_handle(Node n, const char* what) {
  if (g_mode == MarkMode::kQuery) {
    if (n && !g_query_node_ok(n)) g_query_dead = true;
    return false;
  }
  if (n == 0 || live_node(n)) return true;
  gc_verify_fault(what, n, 0);
  return false;
}

void process_work() {
  while (g_work.count > 0) {
    SeriesBuffer* b = series_buffer(g_work.pop());
    gc_mark_cells(b->head_cell(), b->tail_cell());
  }
}

}  // namespace

// Only the node table is touched: a buffer without references is never read.
bool gc_mark_series(Node node) {
  if (g_mode != MarkMode::kMark) {
    check_handle(node, "cell names a dead series");
    return false;
  }
  if (node == 0) return false;
  NodeEntry e = g_node_table[node];
  if ((e & (kNodeFree | kNodeMark)) || e == 0) return false;
  g_node_table[node] = e | kNodeMark;
  return true;
}

void gc_mark_block(Node node) {
  if (g_mode != MarkMode::kMark) {
    if (check_handle(node, "cell names a dead block") && node && series_buffer(node)->unit() != sizeof(Cell))
      gc_verify_fault("block handle names a series that holds no cells", node, series_buffer(node)->unit());
    return;
  }
  if (gc_mark_series(node) && series_buffer(node)->unit() == sizeof(Cell)) work_push(node);
}

void gc_mark_table(Node table) {
  static const HashMarkHooks hooks{gc_mark_series, gc_mark_block, gc_mark_cell};
  if (g_mode != MarkMode::kMark && !check_handle(table, "cell names a dead hash table")) return;
  if (live_node(table)) hashtable_mark(table, hooks);
}

void gc_mark_resource(uint32_t index) {
  if (g_mode != MarkMode::kMark) {
    if (g_mode == MarkMode::kVerify && index >= resource_capacity())
      gc_verify_fault("resource index out of range", index, 0);
    return;
  }
  mark_resource(index, 0);
}

void gc_mark_cell(const Cell* c) {
  TypeId t = c->type();
  if (t > kMaxTypeId) {
    if (g_mode == MarkMode::kVerify) gc_verify_fault("bad type id", t, 0);
    return;
  }
  if (auto mark = g_type_hooks[t].mark) mark(c);
  if (g_mode == MarkMode::kVerify)
    if (auto verify = g_type_hooks[t].verify) verify(c);
}

void gc_mark_cells(const Cell* first, const Cell* last) {
  for (const Cell* c = first; c < last; c++) gc_mark_cell(c);
}

void add_mark_callback(MarkCallback fn) {
  fatal_assert(g_mark_callback_count < kMarkCallbackMax);
  g_mark_callbacks[g_mark_callback_count++] = fn;
}

void remove_mark_callback(MarkCallback fn) {
  for (int i = 0; i < g_mark_callback_count; i++)
    if (g_mark_callbacks[i] == fn) {
      g_mark_callbacks[i] = nullptr;
      return;
    }
}

void add_sweep_callback(SweepCallback fn) {
  fatal_assert(g_sweep_callback_count < kMarkCallbackMax);
  g_sweep_callbacks[g_sweep_callback_count++] = fn;
}

bool gc_node_marked(Node node) {
  return node != 0 && (g_node_table[node] & (kNodeFree | kNodeMark)) == kNodeMark;
}

bool gc_cell_refs_q(const Cell* cell, bool (*node_ok)(Node)) {
  MarkMode was = g_mode;
  g_mode = MarkMode::kQuery;
  g_query_node_ok = node_ok;
  g_query_dead = false;
  gc_mark_cell(cell);
  g_mode = was;
  return !g_query_dead;
}

namespace {

void mark_roots() {
  gc_mark_block(g_root_block);
  process_work();
  mark_root_guards();
  process_work();
  for (int i = 0; i < g_mark_callback_count; i++)
    if (g_mark_callbacks[i]) {
      g_mark_callbacks[i]();
      process_work();
    }
}

// ---------------------------------------------------------------- node sweep

// The buffers of the marked nodes, in handle order (node sweep), then grouped
// by series frame, each group in address order (group_live_buffers).
ScratchArray<SeriesBuffer*> g_live;
ScratchArray<SeriesBuffer*> g_live_by_frame;
// The series frames in address order at the start of the compaction, and the
// group of each: g_frames[k]'s live buffers are g_live_by_frame from
// g_group_starts[k] up to g_group_starts[k + 1].
ScratchArray<SeriesFrame*> g_frames;
ScratchArray<size_t> g_group_starts;

// Fixed buffers are never collected: their nodes are marked, reached or not,
// so the node sweep keeps them.
void mark_fixed_nodes() {
  size_t count;
  const Node* nodes = fixed_buffer_nodes(&count);
  for (size_t i = 0; i < count; i++) g_node_table[nodes[i]] |= kNodeMark;
}

// Unmaps the big buffers whose nodes are not marked (and the abandoned ones).
// Runs before the node sweep, which frees their nodes and clears the marks of the others.
void release_big_buffers() {
  BigBlock** link = &g_memory.big_buffers;
  while (BigBlock* block = *link) {
    SeriesBuffer* b = block->buffer();
    if ((b->flags & kSeriesInUse) && b->node && (g_node_table[b->node] & kNodeMark)) {
      link = &block->next;
    } else {
      *link = block->next;
      memory_free_pages(block);
    }
  }
}

// Walks every node frame's slots: a node in use without its mark is dead and
// becomes free, a marked one loses its mark and its buffer goes on g_live.
// Each frame's free list is rebuilt in ascending handle order, so the nodes
// handed out next follow the order of the buffers carved for them.
void sweep_nodes() {
  g_live.count = 0;
  for (NodeFrame* f = g_memory.first_node_frame; f; f = f->next) {
    NodeEntry* slots = g_node_table + f->first;
    NodeEntry* last_free = nullptr;
    uint32_t free_head = 0;
    uint32_t in_use = 0;
    for (uint32_t k = 0; k < f->capacity; k++) {
      NodeEntry e = slots[k];
      if ((e & (kNodeFree | kNodeMark)) == kNodeMark) {
        slots[k] = e & ~kNodeMark;
        g_live.push(reinterpret_cast<SeriesBuffer*>(e & ~kNodeMark));
        in_use++;
      } else if (e == 0) {
        in_use++;  // taken, its buffer not yet given
      } else {
        if (last_free)
          *last_free = node_free_entry(f->first + k);
        else
          free_head = f->first + k;
        last_free = &slots[k];
      }
    }
    if (last_free) *last_free = node_free_entry(0);
    f->free_head = free_head;
    f->in_use = in_use;
  }
}

// The index in g_frames of the frame whose used area holds [b], or
// g_frames.count for a buffer outside the frames (big and fixed ones). Tries
// the frame of the previous call first ([hint]): consecutive buffers of
// g_live mostly share a frame.
size_t frame_index(const SeriesBuffer* b, size_t& hint) {
  auto a = reinterpret_cast<uintptr_t>(b);
  size_t m = g_frames.count;
  if (hint < m && a > reinterpret_cast<uintptr_t>(g_frames[hint]) &&
      a < reinterpret_cast<uintptr_t>(g_frames[hint]->heap))
    return hint;
  SeriesFrame** first = g_frames.items;
  SeriesFrame** after = std::upper_bound(first, first + m, a, [](uintptr_t x, const SeriesFrame* f) {
    return x < reinterpret_cast<uintptr_t>(f);
  });
  if (after == first || a >= reinterpret_cast<uintptr_t>(after[-1]->heap)) return m;
  return hint = size_t(after - 1 - first);
}

// Groups g_live by frame into g_live_by_frame with a counting sort on the
// frame index, which keeps handle order inside a group; then puts each group
// in address order, which it mostly is already, as each frame's free list
// hands out nodes in handle order.
void group_live_buffers() {
  g_frames.count = 0;
  for (SeriesFrame* f = g_memory.first_series_frame; f; f = f->next) g_frames.push(f);
  size_t m = g_frames.count;
  size_t n = g_live.count;
  g_group_starts.reserve(m + 1);
  g_live_by_frame.reserve(n);
  size_t* ends = g_group_starts.items;
  std::fill(ends, ends + m + 1, size_t(0));
  size_t hint = m;
  for (size_t i = 0; i < n; i++) ends[frame_index(g_live[i], hint)]++;
  for (size_t k = 1; k <= m; k++) ends[k] += ends[k - 1];
  // Filled from the back, each group keeps its order and its end becomes its start.
  for (size_t i = n; i-- > 0;) g_live_by_frame[--ends[frame_index(g_live[i], hint)]] = g_live[i];
  for (size_t k = 0; k < m; k++) {
    SeriesBuffer** first = g_live_by_frame.items + ends[k];
    SeriesBuffer** last = g_live_by_frame.items + ends[k + 1];
    if (!std::is_sorted(first, last, std::less<>())) std::sort(first, last, std::less<>());
  }
}

// ---------------------------------------------------------------- compaction

inline uint32_t buffer_span(const SeriesBuffer* b) { return b->capacity + kBufferOverhead; }

// Moves the run [from, from + length) to [to, ...) and repoints the nodes of its buffers.
void move_run(uint8_t* from, uint8_t* to, size_t length) {
  if (from == to || length == 0) return;
  KIV_UNPOISON(to, length);
  std::memmove(to, from, length);
  for (uint8_t* p = to; p < to + length;) {
    auto* b = reinterpret_cast<SeriesBuffer*>(p);
    g_node_table[b->node] = reinterpret_cast<NodeEntry>(b);
    p += buffer_span(b);
  }
}

// Compacts [frame], whose live buffers are [live, live_end) in address order:
// each run of adjacent live buffers moves into [target]'s free tail while that
// has room, else slides down over the dead space before it. What lies between
// live buffers is dead and is never read. Sets the frame's new heap.
void compact_frame(SeriesFrame* frame, SeriesFrame* target, SeriesBuffer** live, SeriesBuffer** live_end) {
  uint8_t* dead = nullptr;       // where the next run goes within this frame
  uint8_t* end = frame->area();  // end of the last run, at its address before the move
  while (live < live_end) {
    auto* run = reinterpret_cast<uint8_t*>(*live);
    if (run != end && !dead) dead = end;
    // The run ends at a gap, or where the target has no more room.
    size_t room = target ? size_t(target->end - target->heap) : SIZE_MAX;
    size_t length = 0;
    while (live < live_end && reinterpret_cast<uint8_t*>(*live) == run + length) {
      uint32_t span = buffer_span(*live);
      if (length + span > room) break;
      length += span;
      live++;
    }
    if (length == 0) {
      // The next buffer does not fit the target: it and every later run stay
      // in this frame, so none jumps ahead of it.
      target = nullptr;
      continue;
    }
    if (target) {
      move_run(run, target->heap, length);
      target->heap += length;
      if (!dead) dead = run;
      if (size_t(target->end - target->heap) <= kFrameRefillMin) target = nullptr;
    } else if (dead) {
      move_run(run, dead, length);
      dead += length;
    }
    end = run + length;
  }
  if (!dead && end != frame->heap) dead = end;
  if (dead) {
    KIV_POISON(dead, size_t(frame->heap - dead));
    frame->heap = dead;
  }
}

SeriesBuffer** frame_live_begin(size_t k) { return g_live_by_frame.items + g_group_starts[k]; }
SeriesBuffer** frame_live_end(size_t k) { return g_live_by_frame.items + g_group_starts[k + 1]; }

// Compacts the frames in address order, each one moving its live buffers into
// the previous frame's free tail while that has more than kFrameRefillMin
// bytes. A frame left empty is kept for reuse, unless it is the last one.
void compact_frames() {
  SeriesFrame* prev = nullptr;
  for (size_t k = 0; k < g_frames.count; k++) {
    SeriesFrame* f = g_frames[k];
    SeriesFrame* target = prev && size_t(prev->end - prev->heap) > kFrameRefillMin ? prev : nullptr;
    compact_frame(f, target, frame_live_begin(k), frame_live_end(k));
    if (f->heap == f->area() && k + 1 < g_frames.count)
      keep_free_series_frame(f);
    else
      prev = f;
  }
  if (!g_memory.current_series_frame) g_memory.current_series_frame = g_memory.last_series_frame;
}

// Stress compaction: every live buffer moves to a new frame, so any pointer
// into a buffer kept across an allocation points at dead, poisoned memory.
void evacuate_frames() {
  // Detach the old frames; fresh ones receive every live buffer.
  g_memory.first_series_frame = g_memory.last_series_frame = g_memory.current_series_frame = nullptr;
  uint32_t saved_next = g_memory.next_frame_size;
  g_memory.next_frame_size = kSeriesFrameMax;
  SeriesFrame* dest = nullptr;
  for (size_t k = 0; k < g_frames.count; k++) {
    for (SeriesBuffer** live = frame_live_begin(k); live < frame_live_end(k); live++) {
      SeriesBuffer* b = *live;
      uint32_t span = buffer_span(b);
      if (!dest || dest->heap + span > dest->end) dest = init_series_frame(span);
      KIV_UNPOISON(dest->heap, span);
      std::memcpy(dest->heap, b, span);
      g_node_table[b->node] = reinterpret_cast<NodeEntry>(dest->heap);
      dest->heap += span;
    }
  }
  // The old frames wait poisoned on the free list, so a stale pointer into
  // them is caught until a later collection hands them out again.
  for (size_t k = 0; k < g_frames.count; k++) {
    SeriesFrame* f = g_frames[k];
    std::memset(f->area(), 0xDB, size_t(f->heap - f->area()));
    keep_detached_series_frame(f);
  }
  if (!g_memory.first_series_frame) init_series_frame();
  g_memory.current_series_frame = g_memory.last_series_frame;
  g_memory.next_frame_size = saved_next;
}

// Bytes that survived in series frames and big buffers, which set the frame reserve.
size_t live_bytes() {
  size_t live = 0;
  for (SeriesFrame* f = g_memory.first_series_frame; f; f = f->next) live += size_t(f->heap - f->area());
  for (BigBlock* b = g_memory.big_buffers; b; b = b->next) live += b->size;
  return live;
}

}  // namespace

void gc_collect() {
  if (g_collecting) return;
  g_collecting = true;
  std::atomic_thread_fence(std::memory_order_seq_cst);
  mark_roots();
  sweep_resources();
  for (int i = 0; i < g_sweep_callback_count; i++) g_sweep_callbacks[i]();
  mark_fixed_nodes();
  release_big_buffers();
  sweep_nodes();
  group_live_buffers();
  if (g_stress_move)
    evacuate_frames();
  else
    compact_frames();
  update_frame_reserve(live_bytes());
  update_node_frames();
  g_live.trim(g_live.count);
  g_live_by_frame.trim(g_live.count);
  g_memory.collection_count++;
  if (g_stress_move)
    if (int faults = gc_verify()) fatal_exit(kFatalAssertion, faults);
  g_collecting = false;
  std::atomic_thread_fence(std::memory_order_seq_cst);
}

void collect_if_enabled() {
  if (g_collector_active) gc_collect();
}

bool collecting_q() { return g_collecting; }
uint32_t gc_collection_count() { return g_memory.collection_count; }
void gc_release_free_frames() { memory_release_free_frames(); }

// ---------------------------------------------------------------- stress modes

void gc_set_stress_mode(StressMode mode, uint64_t n) {
  switch (mode) {
    case StressMode::kNone:
      g_stress_move = false;
      g_fail_countdown = 0;
      break;
    case StressMode::kMove: g_stress_move = true; break;
    case StressMode::kFailAllocation: g_fail_countdown = n; break;
  }
  g_stress_armed = g_stress_move || g_fail_countdown != 0;
}

void gc_set_stress(bool on) { gc_set_stress_mode(on ? StressMode::kMove : StressMode::kNone); }
bool gc_stress_move_q() { return g_stress_move; }
uint64_t gc_stress_fail_countdown() { return g_fail_countdown; }

bool gc_parse_stress(const char* text) {
  std::string_view rest(text);
  if (rest.empty() || rest == "none") return true;
  bool move = false;
  uint64_t fail = 0;
  while (true) {
    size_t comma = rest.find(',');
    std::string_view item = rest.substr(0, comma);
    if (item == "move") {
      move = true;
    } else if (item.starts_with("fail:") && item.size() > 5 && item.size() <= 5 + 18) {
      fail = 0;  // the last count given wins
      for (char c : item.substr(5)) {
        if (c < '0' || c > '9') return false;
        fail = fail * 10 + uint64_t(c - '0');
      }
      if (fail == 0) return false;
    } else {
      return false;
    }
    if (comma == std::string_view::npos) break;
    rest = rest.substr(comma + 1);
  }
  if (move) gc_set_stress_mode(StressMode::kMove);
  if (fail) gc_set_stress_mode(StressMode::kFailAllocation, fail);
  return true;
}

void gc_stress_allocation() {
  if (g_fail_countdown && --g_fail_countdown == 0) {
    g_stress_armed = g_stress_move;
    raise_error(kErrInternalNoMemory);
  }
  if (g_stress_move && g_collector_active && !g_collecting) gc_collect();
}

// ---------------------------------------------------------------- verification

namespace {

int g_faults = 0;

void verify_buffer(SeriesBuffer* b) {
  if (!(b->flags & kSeriesInUse)) return;
  if (!node_in_use(b->node) || series_buffer(b->node) != b)
    gc_verify_fault("node does not point back", b->node, 0);
  else if (g_node_table[b->node] & kNodeMark)
    gc_verify_fault("mark left set", b->node, 0);
  if (b->capacity % 16 || b->head > b->tail || b->tail > b->capacity)
    gc_verify_fault("bad extent", b->head, b->tail);
  if (b->unit() == sizeof(Cell)) gc_mark_cells(b->head_cell(), b->tail_cell());
}

}  // namespace

bool gc_verifying_q() { return g_mode == MarkMode::kVerify; }

void gc_verify_fault(const char* what, uintptr_t a, uintptr_t b) {
  if (g_faults++ < 5)
    std::fprintf(stderr, "gc_verify: %s (%lx, %lx)\n", what, (unsigned long)a, (unsigned long)b);
}

int gc_verify() {
  if (g_mode != MarkMode::kMark) return 0;
  g_faults = 0;
  g_mode = MarkMode::kVerify;
  for (SeriesFrame* f = g_memory.first_series_frame; f; f = f->next) {
    for (uint8_t* p = f->area(); p < f->heap;) {
      auto* b = reinterpret_cast<SeriesBuffer*>(p);
      verify_buffer(b);
      p += buffer_span(b);
    }
  }
  for (BigBlock* block = g_memory.big_buffers; block; block = block->next) verify_buffer(block->buffer());
  size_t fixed_count;
  const Node* fixed = fixed_buffer_nodes(&fixed_count);
  for (size_t i = 0; i < fixed_count; i++) verify_buffer(series_buffer(fixed[i]));
  // The roots outside the heap: guards and what the callbacks mark.
  mark_root_guards();
  for (int i = 0; i < g_mark_callback_count; i++)
    if (g_mark_callbacks[i]) g_mark_callbacks[i]();
  g_mode = MarkMode::kMark;
  return g_faults;
}

}  // namespace kiv
