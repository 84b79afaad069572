// The collector: marking from the roots, sweeping of dead references,
// compaction of the series frames, release of dead big buffers and nodes.
//
// Marking uses an explicit work list (platform heap), so deeply nested data
// never deepens the C++ stack. Nothing here allocates a series.
#include "runtime/collector.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <string_view>

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
Node* g_work = nullptr;
size_t g_work_count = 0;
size_t g_work_capacity = 0;

void work_push(Node node) {
  if (g_work_count == g_work_capacity) {
    g_work_capacity = g_work_capacity ? 2 * g_work_capacity : 4096;
    g_work = static_cast<Node*>(heap_realloc(g_work, g_work_capacity * sizeof(Node)));
  }
  g_work[g_work_count++] = node;
}

// ---------------------------------------------------------------- node-free queue

constexpr size_t kFreeQueueSize = 20000;
Node g_free_queue[kFreeQueueSize];
size_t g_free_count = 0;

// Node frames are found by handle arithmetic, so the batch needs no sorting:
// consecutive dead buffers mostly share a frame, which the cache below reuses.
void flush_free_nodes() {
  NodeFrame* frame = nullptr;
  for (size_t i = 0; i < g_free_count; i++) {
    Node n = g_free_queue[i];
    if (!frame || n < frame->first || n >= frame->first + frame->capacity) frame = node_frame_of(n);
    free_node(frame, n);
  }
  g_free_count = 0;
}

void queue_free_node(Node n) {
  if (n == 0) return;
  if (g_free_count == kFreeQueueSize) flush_free_nodes();
  g_free_queue[g_free_count++] = n;
}

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
  while (g_work_count > 0) {
    SeriesBuffer* b = series_buffer(g_work[--g_work_count]);
    gc_mark_cells(b->head_cell(), b->tail_cell());
  }
}

}  // namespace

bool gc_mark_series(Node node) {
  if (g_mode != MarkMode::kMark) {
    check_handle(node, "cell names a dead series");
    return false;
  }
  if (!live_node(node)) return false;
  SeriesBuffer* b = series_buffer(node);
  if (b->flags & kSeriesMark) return false;
  b->flags |= kSeriesMark;
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

bool gc_node_marked(Node node) { return live_node(node) && (series_buffer(node)->flags & kSeriesMark); }

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

// Walks a frame: dead buffers give their nodes back, live runs slide down
// (or into [target]'s free tail while it has room). Returns the frame's new heap.
void compact_frame(SeriesFrame* frame, SeriesFrame* target) {
  uint8_t* p = frame->area();
  uint8_t* dead = nullptr;  // where the next live run goes within this frame
  while (p < frame->heap) {
    auto* b = reinterpret_cast<SeriesBuffer*>(p);
    uint32_t span = buffer_span(b);
    if (!(b->flags & kSeriesMark)) {
      if ((b->flags & kSeriesInUse) && b->node) queue_free_node(b->node);
      if (!dead) dead = p;
      p += span;
      continue;
    }
    // A run of consecutive live buffers.
    uint8_t* run = p;
    size_t length = 0;
    size_t target_room = target ? size_t(target->end - target->heap) : 0;
    while (p < frame->heap) {
      auto* r = reinterpret_cast<SeriesBuffer*>(p);
      if (!(r->flags & kSeriesMark)) break;
      uint32_t s = buffer_span(r);
      if (target && length + s > target_room) break;
      r->flags &= ~kSeriesMark;
      length += s;
      p += s;
    }
    if (target && length > 0 && length <= target_room) {
      move_run(run, target->heap, length);
      target->heap += length;
      if (!dead) dead = run;
      if (size_t(target->end - target->heap) <= kFrameRefillMin) target = nullptr;
    } else if (dead) {
      move_run(run, dead, length);
      dead += length;
    } else {
      target = nullptr;  // the run stays; later runs may not jump ahead of it
    }
    if (length == 0) {
      // A single buffer larger than the target's room: clear its mark and slide it.
      auto* r = reinterpret_cast<SeriesBuffer*>(p);
      uint32_t s = buffer_span(r);
      r->flags &= ~kSeriesMark;
      if (dead) {
        move_run(p, dead, s);
        dead += s;
      }
      p += s;
      target = nullptr;
    }
  }
  if (dead) {
    KIV_POISON(dead, size_t(frame->heap - dead));
    frame->heap = dead;
  }
}

void compact_frames() {
  SeriesFrame* prev = nullptr;
  for (SeriesFrame* f = g_memory.first_series_frame; f;) {
    SeriesFrame* next = f->next;
    SeriesFrame* target = prev && size_t(prev->end - prev->heap) > kFrameRefillMin ? prev : nullptr;
    compact_frame(f, target);
    if (f->heap == f->area() && next) {
      keep_free_series_frame(f);
    } else {
      prev = f;
    }
    f = next;
  }
  if (!g_memory.current_series_frame) g_memory.current_series_frame = g_memory.last_series_frame;
}

// Stress compaction: every live buffer moves to a new frame, so any pointer
// into a buffer kept across an allocation points at dead, poisoned memory.
void evacuate_frames() {
  SeriesFrame* old_first = g_memory.first_series_frame;
  // Detach the old frames; fresh ones receive every live buffer.
  SeriesFrame* olds = old_first;
  g_memory.first_series_frame = g_memory.last_series_frame = g_memory.current_series_frame = nullptr;
  uint32_t saved_next = g_memory.next_frame_size;
  g_memory.next_frame_size = kSeriesFrameMax;
  SeriesFrame* dest = nullptr;
  for (SeriesFrame* f = olds; f; f = f->next) {
    for (uint8_t* p = f->area(); p < f->heap;) {
      auto* b = reinterpret_cast<SeriesBuffer*>(p);
      uint32_t span = buffer_span(b);
      if (b->flags & kSeriesMark) {
        b->flags &= ~kSeriesMark;
        if (!dest || dest->heap + span > dest->end) dest = init_series_frame(span);
        KIV_UNPOISON(dest->heap, span);
        std::memcpy(dest->heap, b, span);
        g_node_table[b->node] = reinterpret_cast<NodeEntry>(dest->heap);
        dest->heap += span;
      } else if ((b->flags & kSeriesInUse) && b->node) {
        queue_free_node(b->node);
      }
      p += span;
    }
  }
  // The old frames wait poisoned on the free list, so a stale pointer into
  // them is caught until a later collection hands them out again.
  for (SeriesFrame* f = olds; f;) {
    SeriesFrame* next = f->next;
    std::memset(f->area(), 0xDB, size_t(f->heap - f->area()));
    keep_detached_series_frame(f);
    f = next;
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

void release_big_buffers() {
  BigBlock** link = &g_memory.big_buffers;
  while (BigBlock* block = *link) {
    SeriesBuffer* b = block->buffer();
    if (b->flags & kSeriesMark) {
      b->flags &= ~kSeriesMark;
      link = &block->next;
    } else {
      if ((b->flags & kSeriesInUse) && b->node) queue_free_node(b->node);
      *link = block->next;
      memory_free_pages(block);
    }
  }
}

void clear_fixed_marks() {
  size_t count;
  const Node* nodes = fixed_buffer_nodes(&count);
  for (size_t i = 0; i < count; i++) series_buffer(nodes[i])->flags &= ~kSeriesMark;
}

}  // namespace

void gc_collect() {
  if (g_collecting) return;
  g_collecting = true;
  std::atomic_thread_fence(std::memory_order_seq_cst);
  mark_roots();
  sweep_resources();
  for (int i = 0; i < g_sweep_callback_count; i++) g_sweep_callbacks[i]();
  if (g_stress_move)
    evacuate_frames();
  else
    compact_frames();
  release_big_buffers();
  update_frame_reserve(live_bytes());
  flush_free_nodes();
  update_node_frames();
  clear_fixed_marks();
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
    case StressMode::kMove:
      g_stress_move = true;
      break;
    case StressMode::kFailAllocation:
      g_fail_countdown = n;
      break;
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
  if (!node_in_use(b->node) || series_buffer(b->node) != b) gc_verify_fault("node does not point back", b->node, 0);
  if (b->capacity % 16 || b->head > b->tail || b->tail > b->capacity)
    gc_verify_fault("bad extent", b->head, b->tail);
  if (b->flags & kSeriesMark) gc_verify_fault("mark left set", b->node, 0);
  if (b->unit() == sizeof(Cell)) gc_mark_cells(b->head_cell(), b->tail_cell());
}

}  // namespace

bool gc_verifying_q() { return g_mode == MarkMode::kVerify; }

void gc_verify_fault(const char* what, uintptr_t a, uintptr_t b) {
  if (g_faults++ < 5) std::fprintf(stderr, "gc_verify: %s (%lx, %lx)\n", what, (unsigned long)a, (unsigned long)b);
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
