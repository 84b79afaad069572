// Node frames, series frames, big and fixed buffers; allocation, growth and copying.
//
// Invariants: a node in use points at a buffer whose node field names it back;
// series frames, and the free frames kept for reuse, are kept in ascending
// address order; a free frame is empty and poisoned; big buffers are on one
// list in allocation order; every capacity is a multiple of 16.
#include "runtime/memory.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "platform/pages.h"
#include "runtime/array.h"
#include "runtime/asan.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/fatal.h"
#include "runtime/gc_root.h"

namespace kiv {

NodeEntry* g_node_table = nullptr;
MemoryState g_memory{};

namespace {

// The node table is one lazily committed reservation: node frame k owns
// handles k * kNodeFrameSize + 1 .. (k + 1) * kNodeFrameSize.
constexpr uint32_t kMaxNodeFrames = (1u << 27) / kNodeFrameSize;
NodeFrame* g_chunk_frames[kMaxNodeFrames];

inline uint32_t round16(uint64_t n) { return uint32_t((n + 15) & ~uint64_t(15)); }

// Page blocks keep their rounded size in a 16-byte record before the address handed out.
constexpr size_t kPageRecord = 16;

// Nodes of the fixed buffers, which live outside the frames and are never
// collected: the collector marks them all before its node sweep.
HeapArray<Node, 64> g_fixed;

void track_fixed(Node n) { g_fixed.push(n); }

void untrack_fixed(Node n) {
  for (size_t i = 0; i < g_fixed.count; i++)
    if (g_fixed[i] == n) {
      g_fixed.remove_unordered(i);
      return;
    }
}

}  // namespace

const Node* fixed_buffer_nodes(size_t* count) {
  *count = g_fixed.count;
  return g_fixed.items;
}

// ---------------------------------------------------------------- page blocks

void* memory_alloc_pages(size_t size) {
  size_t rounded = (size + kPageRecord + kPageSize - 1) & ~(kPageSize - 1);
  void* block = os_alloc_pages(rounded);
  if (!block) raise_error(kErrInternalNoMemory);
  // Fresh pages may reuse addresses of a frame released (and poisoned) earlier.
  KIV_UNPOISON(block, rounded);
  *static_cast<size_t*>(block) = rounded;
  g_memory.total_pages += rounded;
  return static_cast<uint8_t*>(block) + kPageRecord;
}

void* memory_resize_pages(void* address, size_t size) {
  uint8_t* block = static_cast<uint8_t*>(address) - kPageRecord;
  const size_t old_rounded = *reinterpret_cast<size_t*>(block);
  const size_t rounded = (size + kPageRecord + kPageSize - 1) & ~(kPageSize - 1);
  auto* moved = static_cast<uint8_t*>(os_resize_pages(block, old_rounded, rounded));
  if (!moved) return nullptr;
  KIV_UNPOISON(moved, rounded);
  *reinterpret_cast<size_t*>(moved) = rounded;
  g_memory.total_pages += rounded - old_rounded;
  return moved + kPageRecord;
}

void memory_free_pages(void* address) {
  uint8_t* block = static_cast<uint8_t*>(address) - kPageRecord;
  size_t rounded = *reinterpret_cast<size_t*>(block);
  g_memory.total_pages -= rounded;
  // Whatever the system maps here next (a library opened later, another
  // allocator's pages) must not find the poison of a frame released earlier.
  KIV_UNPOISON(block, rounded);
  if (!os_free_pages(block, rounded)) raise_error(kErrInternalWrongMem);
}

void memory_free_all() {
  while (g_memory.first_node_frame) release_node_frame(g_memory.first_node_frame);
  while (g_memory.first_series_frame) {
    SeriesFrame* f = g_memory.first_series_frame;
    g_memory.first_series_frame = f->next;
    memory_free_pages(f);
  }
  g_memory.current_series_frame = g_memory.last_series_frame = nullptr;
  memory_release_free_frames();
  while (g_memory.big_buffers) {
    BigBlock* b = g_memory.big_buffers;
    g_memory.big_buffers = b->next;
    memory_free_pages(b);
  }
}

void memory_fill(uint8_t* begin, uint8_t* end, uint8_t byte) {
  if (end > begin) std::memset(begin, byte, size_t(end - begin));
}

uint8_t* fill_pattern(uint8_t* buffer, uint32_t n, uint32_t count) {
  uint64_t total = uint64_t(n) * count;
  uint64_t filled = count ? n : 0;
  while (filled * 2 <= total) {
    std::memcpy(buffer + filled, buffer, filled);
    filled *= 2;
  }
  if (filled < total) std::memcpy(buffer + filled, buffer, total - filled);
  return buffer + total;
}

void memory_zero(uint32_t* first, uint32_t* last) {
  for (uint32_t* p = first; p <= last; p++) *p = 0;
}

// ---------------------------------------------------------------- frames and nodes

void memory_init() {
  if (!g_node_table) {
    size_t bytes = size_t(kMaxNodeFrames) * kNodeFrameSize * sizeof(NodeEntry) + sizeof(NodeEntry);
    g_node_table = static_cast<NodeEntry*>(os_reserve_lazy(bytes));
    if (!g_node_table) fatal_exit(94, 0);
  }
  g_memory = MemoryState{};
  g_memory.initial_frame_size = kSeriesFrameSize;
  g_memory.next_frame_size = kSeriesFrameSize;
  g_memory.max_frame_size = kSeriesFrameMax;
  g_memory.frame_watermark = g_memory.frame_budget = kFrameReserveMin;
}

NodeFrame* init_node_frame(uint32_t n) {
  uint32_t chunk = 0;
  while (chunk < kMaxNodeFrames && g_chunk_frames[chunk]) chunk++;
  if (chunk == kMaxNodeFrames || n > kNodeFrameSize) raise_error(kErrInternalNoMemory);
  auto* f = static_cast<NodeFrame*>(heap_alloc(sizeof(NodeFrame)));
  g_chunk_frames[chunk] = f;
  *f = NodeFrame{};
  f->first = chunk * kNodeFrameSize + 1;
  f->capacity = n;
  f->stamp = g_memory.collection_count;
  f->used_stamp = ~0u;  // not chosen yet
  // Thread every slot into the free list in address order.
  NodeEntry* slots = g_node_table + f->first;
  for (uint32_t k = 0; k + 1 < n; k++) slots[k] = node_free_entry(f->first + k + 1);
  slots[n - 1] = node_free_entry(0);
  f->free_head = f->first;
  f->prev = g_memory.last_node_frame;
  if (g_memory.last_node_frame)
    g_memory.last_node_frame->next = f;
  else
    g_memory.first_node_frame = g_memory.current_node_frame = f;
  g_memory.last_node_frame = f;
  return f;
}

namespace {

// The current node frame is full (or retired): the first frame with a free
// node becomes current, or a new one.
[[gnu::noinline]] NodeFrame* switch_node_frame() {
  NodeFrame* f = g_memory.first_node_frame;
  while (f && (f->free_head == 0 || f->retired)) f = f->next;
  if (!f) f = init_node_frame(kNodeFrameSize);
  f->used_stamp = g_memory.collection_count;
  g_memory.current_node_frame = f;
  return f;
}

[[gnu::always_inline]] inline Node take_node() {
  NodeFrame* f = g_memory.current_node_frame;
  if (!f || f->free_head == 0 || f->retired) [[unlikely]]
    f = switch_node_frame();
  Node n = f->free_head;
  f->free_head = uint32_t(g_node_table[n] >> 1);
  g_node_table[n] = 0;
  f->in_use++;
  return n;
}

}  // namespace

Node alloc_node() { return take_node(); }

NodeFrame* node_frame_of(Node node) { return g_chunk_frames[(node - 1) / kNodeFrameSize]; }

void release_node_frame(NodeFrame* f) {
  if (f->prev)
    f->prev->next = f->next;
  else
    g_memory.first_node_frame = f->next;
  if (f->next)
    f->next->prev = f->prev;
  else
    g_memory.last_node_frame = f->prev;
  if (g_memory.current_node_frame == f) g_memory.current_node_frame = g_memory.last_node_frame;
  uint32_t chunk = (f->first - 1) / kNodeFrameSize;
  // Only the whole pages inside the chunk's slots go back; its neighbours share the rest.
  uintptr_t begin = reinterpret_cast<uintptr_t>(g_node_table + f->first);
  uintptr_t end = begin + kNodeFrameSize * sizeof(NodeEntry);
  begin = (begin + kPageSize - 1) & ~uintptr_t(kPageSize - 1);
  end &= ~uintptr_t(kPageSize - 1);
  if (end > begin) os_discard_pages(reinterpret_cast<void*>(begin), end - begin);
  g_chunk_frames[chunk] = nullptr;
  heap_free(f);
}

void update_node_frames() {
  bool current_chosen = false;
  uint32_t now = g_memory.collection_count;
  for (NodeFrame* f = g_memory.first_node_frame; f;) {
    NodeFrame* next = f->next;
    // An empty frame that handed out nodes since the last collection stays for
    // the next cycle, which likely needs as many: making it again costs more.
    if (f->retired || (f->in_use == 0 && f->used_stamp != now)) {
      release_node_frame(f);
    } else {
      if (!current_chosen && f->in_use < f->capacity) {
        g_memory.current_node_frame = f;
        f->used_stamp = now + 1;  // current from the next cycle on
        current_chosen = true;
      }
      f->history = (f->history << 1) | (f->in_use == f->prev_in_use ? 1u : 0u);
      f->prev_in_use = f->in_use;
    }
    f = next;
  }
}

namespace {

// Links [f] into the frame list in ascending address order.
void link_series_frame(SeriesFrame* f) {
  f->next = f->prev = nullptr;
  SeriesFrame* first = g_memory.first_series_frame;
  if (!first || f < first) {
    f->next = first;
    if (first)
      first->prev = f;
    else
      g_memory.last_series_frame = f;
    g_memory.first_series_frame = f;
    if (!first) g_memory.current_series_frame = f;
  } else {
    SeriesFrame* after = first;
    while (after->next && after->next < f) after = after->next;
    f->prev = after;
    f->next = after->next;
    if (after->next)
      after->next->prev = f;
    else
      g_memory.last_series_frame = f;
    after->next = f;
  }
}

void unlink_series_frame(SeriesFrame* f) {
  if (f->prev)
    f->prev->next = f->next;
  else
    g_memory.first_series_frame = f->next;
  if (f->next)
    f->next->prev = f->prev;
  else
    g_memory.last_series_frame = f->prev;
  if (g_memory.current_series_frame == f) g_memory.current_series_frame = g_memory.last_series_frame;
}

// Puts an empty frame, already off the frame list, on the free-frame list
// (singly linked through next, ascending addresses).
void push_free_frame(SeriesFrame* f) {
  f->heap = f->area();
  f->prev = nullptr;
  KIV_POISON(f->area(), size_t(f->end - f->area()));
  SeriesFrame** link = &g_memory.free_series_frames;
  while (*link && *link < f) link = &(*link)->next;
  f->next = *link;
  *link = f;
  g_memory.free_frame_bytes += f->size;
}

// Unlinks the free frame at [link].
SeriesFrame* pop_free_frame(SeriesFrame** link) {
  SeriesFrame* f = *link;
  *link = f->next;
  g_memory.free_frame_bytes -= f->size;
  return f;
}

// Pays part of the debt: unmaps the free frame of highest address, unless the
// debt is smaller than that frame (which would then be missed at once).
void repay_frame_debt() {
  if (!g_memory.free_series_frames) {
    g_memory.frame_debt = 0;
    return;
  }
  SeriesFrame** link = &g_memory.free_series_frames;
  while ((*link)->next) link = &(*link)->next;
  if ((*link)->size > g_memory.frame_debt) return;
  SeriesFrame* f = pop_free_frame(link);
  g_memory.frame_debt = g_memory.free_series_frames ? g_memory.frame_debt - f->size : 0;
  memory_free_pages(f);
}

}  // namespace

SeriesFrame* init_series_frame(uint32_t needed) {
  if (needed >= g_memory.next_frame_size) g_memory.next_frame_size = g_memory.max_frame_size;
  SeriesFrame* f = nullptr;
  for (SeriesFrame** link = &g_memory.free_series_frames; *link; link = &(*link)->next)
    if (size_t((*link)->end - (*link)->area()) > needed) {
      f = pop_free_frame(link);
      if (g_memory.frame_debt) repay_frame_debt();
      break;
    }
  if (!f) {
    uint32_t s = g_memory.next_frame_size;
    if (s < g_memory.max_frame_size) g_memory.next_frame_size = 2 * s;
    f = static_cast<SeriesFrame*>(memory_alloc_pages(s + SeriesFrame::kSeriesFrameHeader));
    f->size = s + SeriesFrame::kSeriesFrameHeader;
    f->heap = f->area();
    f->end = f->area() + s;
    KIV_POISON(f->area(), s);
    g_memory.frame_budget = g_memory.frame_budget > f->size ? g_memory.frame_budget - f->size : 0;
  }
  link_series_frame(f);
  return f;
}

void release_series_frame(SeriesFrame* f) {
  unlink_series_frame(f);
  memory_free_pages(f);
}

void keep_free_series_frame(SeriesFrame* f) {
  unlink_series_frame(f);
  push_free_frame(f);
}

void keep_detached_series_frame(SeriesFrame* f) { push_free_frame(f); }

void update_frame_reserve(size_t live) {
  size_t mark = live > kFrameReserveMin ? live : kFrameReserveMin;
  // Room left in the frames in use counts towards the reserve, but only free frames can be given back.
  size_t free = g_memory.free_frame_bytes;
  for (SeriesFrame* f = g_memory.first_series_frame; f; f = f->next) free += size_t(f->end - f->heap);
  g_memory.frame_watermark = mark;
  g_memory.frame_debt = free > mark ? std::min(free - mark, g_memory.free_frame_bytes) : 0;
  g_memory.frame_budget = free < mark ? mark - free : 0;
}

void memory_release_free_frames() {
  while (g_memory.free_series_frames) memory_free_pages(pop_free_frame(&g_memory.free_series_frames));
  g_memory.frame_debt = 0;
  g_memory.frame_budget = g_memory.frame_watermark;
}

SeriesFrame* find_series_frame(uint32_t bytes) {
  for (SeriesFrame* f = g_memory.first_series_frame; f; f = f->next)
    if (f->heap + bytes < f->end) return f;
  return nullptr;
}

// ---------------------------------------------------------------- buffers

namespace {

// A frame with room for [needed] bytes and enough left to be worth refilling.
SeriesFrame* frame_with_room(uint32_t needed) {
  for (SeriesFrame* f = g_memory.first_series_frame; f; f = f->next) {
    size_t room = size_t(f->end - f->heap);
    if (room > needed && room >= kFrameRefillMin) return f;
  }
  return nullptr;
}

bool free_frame_fits(uint32_t needed) {
  for (SeriesFrame* f = g_memory.free_series_frames; f; f = f->next)
    if (size_t(f->end - f->area()) > needed) return true;
  return false;
}

// MAY COLLECT. The current frame is full: makes current a frame with room for
// [needed] bytes. Collects only when no frame has room, no free frame fits and
// the budget for new frames is spent.
[[gnu::noinline]] SeriesFrame* switch_series_frame(uint32_t needed) {
  SeriesFrame* f = frame_with_room(needed);
  if (!f && !free_frame_fits(needed) && g_memory.frame_budget == 0) {
    collect_if_enabled();
    f = frame_with_room(needed);
  }
  if (!f) f = init_series_frame(needed);
  g_memory.current_series_frame = f;
  return f;
}

// MAY COLLECT. A big buffer's page block, appended to the big-buffer list.
[[gnu::noinline]] SeriesBuffer* alloc_big_buffer(uint32_t needed) {
  // Pages for a buffer of frame size or more are worth a collection first;
  // a smaller one that grew its way here (see kGrowBigMin) is not.
  if (needed >= kSeriesFrameMax) collect_if_enabled();
  auto* block = static_cast<BigBlock*>(memory_alloc_pages(sizeof(BigBlock) + needed));
  block->next = nullptr;
  block->size = needed;
  BigBlock** tail = &g_memory.big_buffers;
  while (*tail) tail = &(*tail)->next;
  *tail = block;
  return block->buffer();
}

// The allocation itself, inlined into series_alloc: carving from the current
// frame is a few instructions, everything else is out of line.
[[gnu::always_inline]] inline SeriesBuffer* carve_buffer(uint32_t count, uint32_t unit, int32_t head_offset,
                                                         bool big = false) {
  uint64_t bytes = uint64_t(count) * unit;
  if (bytes > kMaxCapacity) [[unlikely]]
    raise_error(kErrInternalNoMemory);
  uint32_t capacity = round16(bytes);
  uint32_t needed = capacity + kBufferOverhead;
  SeriesBuffer* b;
  uint32_t flags = unit | kSeriesInUse | kSeriesAlloc;
  // A caller holding raw pointers it declared must not move: a rooting fault.
  fatal_assert(g_no_gc_depth == 0);
  gc_stress_point();
  if (needed >= kSeriesFrameMax || big) [[unlikely]] {
    b = alloc_big_buffer(needed);
    flags |= kSeriesBig;
  } else {
    SeriesFrame* f = g_memory.current_series_frame;
    if (!f || f->heap + needed >= f->end) [[unlikely]]
      f = switch_series_frame(needed);
    b = reinterpret_cast<SeriesBuffer*>(f->heap);
    KIV_UNPOISON(b, needed);
    f->heap += needed;
  }
  b->capacity = capacity;
  b->node = 0;
  b->unused = 0;
  uint32_t offset;
  if (head_offset == kHeadMiddle) {
    offset = capacity / 2;
    flags |= kSeriesMiddleHead;
  } else {
    offset = uint32_t(head_offset) <= capacity ? uint32_t(head_offset) : capacity;
  }
  b->flags = flags;
  b->head = b->tail = offset;
  return b;
}

}  // namespace

SeriesBuffer* alloc_series_buffer(uint32_t count, uint32_t unit, int32_t head_offset) {
  return carve_buffer(count, unit, head_offset);
}

namespace {

// series_alloc in full: stress modes, frame switches, big buffers, node frames.
[[gnu::noinline]] Node series_alloc_slow(uint32_t count, uint32_t unit, int32_t head_offset) {
  SeriesBuffer* b = carve_buffer(count, unit, head_offset);
  // Taking a node never collects, so b stays put.
  Node n = take_node();
  b->node = n;
  g_node_table[n] = reinterpret_cast<NodeEntry>(b);
  return n;
}

}  // namespace

// The common case makes no call, so it needs no saved registers: a small
// buffer from the current frame and a node from the current node frame.
Node series_alloc(uint32_t count, uint32_t unit, int32_t head_offset) {
  uint64_t bytes = uint64_t(count) * unit;
  SeriesFrame* f = g_memory.current_series_frame;
  NodeFrame* nodes = g_memory.current_node_frame;
  uint32_t capacity = round16(bytes);
  uint32_t needed = capacity + kBufferOverhead;
  if (g_stress_armed || bytes >= kSeriesFrameMax || !f || f->heap + needed >= f->end || !nodes ||
      nodes->free_head == 0 || nodes->retired || head_offset == kHeadMiddle) [[unlikely]]
    return series_alloc_slow(count, unit, head_offset);
  auto* b = reinterpret_cast<SeriesBuffer*>(f->heap);
  KIV_UNPOISON(b, needed);
  f->heap += needed;
  Node n = nodes->free_head;
  nodes->free_head = uint32_t(g_node_table[n] >> 1);
  nodes->in_use++;
  g_node_table[n] = reinterpret_cast<NodeEntry>(b);
  b->flags = unit | kSeriesInUse | kSeriesAlloc;
  b->node = n;
  b->capacity = capacity;
  b->head = b->tail = uint32_t(head_offset) <= capacity ? uint32_t(head_offset) : capacity;
  b->unused = 0;
  return n;
}

// MAY ALLOCATE (a node). Gives the buffer [b], allocated outside the
// collected frames, a node, as a fixed series with [flags] (unit included),
// [capacity] bytes and its head and tail at [offset].
Node adopt_fixed(SeriesBuffer* b, uint32_t flags, uint32_t capacity, uint32_t offset) {
  b->flags = flags | kSeriesInUse | kSeriesAlloc | kSeriesFixed;
  b->capacity = capacity;
  b->head = b->tail = offset;
  b->unused = 0;
  Node n = alloc_node();
  b->node = n;
  g_node_table[n] = reinterpret_cast<NodeEntry>(b);
  track_fixed(n);
  return n;
}

Node series_alloc_fixed(uint32_t count, uint32_t unit, int32_t head_offset) {
  uint64_t bytes = uint64_t(count) * unit;
  if (bytes > kMaxCapacity) raise_error(kErrInternalNoMemory);
  uint32_t capacity = round16(bytes);
  auto* b = static_cast<SeriesBuffer*>(heap_alloc(capacity + kBufferOverhead));
  uint32_t offset = head_offset == kHeadMiddle ? capacity / 2 : uint32_t(head_offset);
  uint32_t flags = head_offset == kHeadMiddle ? kSeriesMiddleHead : 0;
  return adopt_fixed(b, unit | flags, capacity, offset <= capacity ? offset : capacity);
}

Node series_alloc_reserved(uint32_t count, uint32_t unit) {
  uint64_t bytes = uint64_t(count) * unit;
  if (bytes > kMaxCapacity) raise_error(kErrInternalNoMemory);
  uint32_t capacity = round16(bytes);
  auto* b = static_cast<SeriesBuffer*>(os_reserve_lazy(size_t(capacity) + kBufferOverhead));
  if (!b) raise_error(kErrInternalNoMemory);
  return adopt_fixed(b, unit | kSeriesReserved, capacity, 0);
}

Node series_alloc_cells(uint32_t n) { return series_alloc(n, sizeof(Cell), 0); }

Node series_alloc_cells_unset(uint32_t n) {
  Node node = series_alloc(n, sizeof(Cell), 0);
  SeriesBuffer* b = series_buffer(node);
  Cell* c = b->cells();
  for (uint32_t i = 0; i < b->capacity / sizeof(Cell); i++) c[i] = make_cell(kTypeUnset);
  return node;
}

Node series_alloc_bytes(uint32_t n) { return series_alloc(n == 0 ? 16 : n, 1, 0); }

Node series_alloc_units(uint32_t n, uint32_t unit) { return series_alloc(n == 0 ? 16 / unit : n, unit, 0); }

Node series_alloc_bytes_filled(uint32_t n, uint8_t byte) {
  Node node = series_alloc_bytes(n);
  SeriesBuffer* b = series_buffer(node);
  std::memset(b->data(), byte, b->capacity);
  return node;
}

void series_set_flags(Node node, uint32_t bits) { series_buffer(node)->flags |= bits; }

namespace {

// Buffers grown to this size or more are big ones.
constexpr uint32_t kGrowBigMin = std::min<uint32_t>(kSeriesFrameMax, 0x40000);

// A big buffer of [node] grown to [capacity] bytes where its pages are (the
// OS moves them without a copy, and no second buffer is ever resident), its
// content moved to the data start; null when the buffer is no big one or the
// OS refuses (the caller then moves it the ordinary way).
SeriesBuffer* grow_big_in_place(Node node, uint32_t capacity) {
  // As any allocation, the stress modes may collect (and move the buffer)
  // first; growing in place leaves nothing behind to collect.
  fatal_assert(g_no_gc_depth == 0);
  gc_stress_point();
  SeriesBuffer* old = series_buffer(node);
  if (!(old->flags & kSeriesBig) || capacity <= old->capacity) return nullptr;
  BigBlock* block = reinterpret_cast<BigBlock*>(old) - 1;
  BigBlock** link = &g_memory.big_buffers;
  while (*link && *link != block) link = &(*link)->next;
  if (!*link) return nullptr;
  const uint32_t needed = capacity + kBufferOverhead;
  auto* moved = static_cast<BigBlock*>(memory_resize_pages(block, sizeof(BigBlock) + needed));
  if (!moved) return nullptr;
  *link = moved;
  moved->size = needed;
  SeriesBuffer* b = moved->buffer();
  if (b->head) {
    std::memmove(b->data(), b->head_ptr(), b->used());
    b->tail -= b->head;
    b->head = 0;
  }
  b->capacity = capacity;
  g_node_table[node] = reinterpret_cast<NodeEntry>(b);
  return b;
}

// Moves [node] to a new buffer; with [copy] the old content from its head comes along.
SeriesBuffer* move_series(Node node, int64_t new_size, bool copy) {
  SeriesBuffer* old = series_buffer(node);
  if (new_size == 0) new_size = int64_t(old->capacity) * 2;
  if (new_size <= 0 || new_size > int64_t(kMaxCapacity)) raise_error(kErrInternalNoMemory);
  uint32_t unit = old->unit();
  const uint32_t units = uint32_t((new_size + unit - 1) / unit);
  // A buffer that grows this far is likely to grow on: it gets pages of its
  // own, which grow in place from then on.
  const bool big = copy && uint64_t(units) * unit + kBufferOverhead >= kGrowBigMin;
  if (big && (old->flags & kSeriesBig)) {
    if (SeriesBuffer* grown = grow_big_in_place(node, round16(uint64_t(units) * unit))) return grown;
    old = series_buffer(node);
  }
  // Whole units, rounded up: a size that is not a multiple of the unit still fits.
  SeriesBuffer* fresh = carve_buffer(units, unit, 0, big);
  old = series_buffer(node);  // the allocation may have collected and moved it
  uint32_t length = old->tail - old->head;
  if (copy) {
    uint32_t bytes = old->capacity - old->head;
    if (bytes > fresh->capacity) bytes = fresh->capacity;
    std::memcpy(fresh->data(), old->head_ptr(), bytes);
  }
  // Placement bits belong to the new buffer; a grown fixed buffer becomes a collected one.
  fresh->flags = (old->flags & ~kSeriesPlacementFlags) | (fresh->flags & kSeriesPlacementFlags);
  fresh->node = node;
  fresh->head = 0;
  fresh->tail = length <= fresh->capacity ? length : fresh->capacity;
  g_node_table[node] = reinterpret_cast<NodeEntry>(fresh);
  if (old->flags & kSeriesReserved) {
    // Its reservation is never unmapped; its pages go back to the OS.
    untrack_fixed(node);
    os_discard_pages(old, size_t(old->capacity) + kBufferOverhead);
  } else if (old->flags & kSeriesFixed) {
    untrack_fixed(node);
    heap_free(old);
  } else {
    old->node = 0;
    old->flags &= ~kSeriesInUse;
  }
  return fresh;
}

}  // namespace

SeriesBuffer* series_realloc(Node node, int64_t new_size) { return move_series(node, new_size, false); }

SeriesBuffer* series_expand(Node node, int64_t new_size) { return move_series(node, new_size, true); }

SeriesBuffer* series_expand_filled(Node node, int64_t new_size, uint8_t byte) {
  uint32_t old_capacity = series_buffer(node)->capacity;
  SeriesBuffer* b = series_expand(node, new_size);
  if (old_capacity < b->capacity) memory_fill(b->data() + old_capacity, b->end_ptr(), byte);
  return b;
}

Node series_copy_buffer(Node node) {
  uint32_t capacity = series_buffer(node)->capacity;
  Node copy = series_alloc(capacity, 1, 0);
  SeriesBuffer* src = series_buffer(node);
  SeriesBuffer* dst = series_buffer(copy);
  dst->flags = (src->flags & ~kSeriesPlacementFlags) | (dst->flags & kSeriesPlacementFlags);
  std::memcpy(dst->data(), src->head_ptr(), src->capacity - src->head);
  dst->tail = src->tail - src->head;
  return copy;
}

Node series_copy_part(Node node, uint32_t offset, uint32_t count) {
  uint32_t unit = series_buffer(node)->unit();
  Node copy = series_alloc(count, unit, 0);
  SeriesBuffer* src = series_buffer(node);
  SeriesBuffer* dst = series_buffer(copy);
  dst->flags = (src->flags & ~(kSeriesPlacementFlags | kSeriesOwned)) | (dst->flags & kSeriesPlacementFlags);
  std::memcpy(dst->data(), src->head_ptr() + uint64_t(offset) * unit, uint64_t(count) * unit);
  dst->tail = count * unit;
  return copy;
}

namespace {

// MAY ALLOCATE. Makes room for [n] more bytes after the tail of [node]; a
// grown buffer has its head at the data start. A request larger than the
// buffer grows it as if the buffer already had that size: to twice [n].
SeriesBuffer* reserve_bytes(Node node, uint32_t n) {
  SeriesBuffer* b = series_buffer(node);
  if (uint64_t(b->tail) + n <= b->capacity) return b;
  uint64_t need = uint64_t(b->used()) + n;
  if (need > kMaxCapacity) raise_error(kErrInternalNoMemory);
  uint64_t base = b->capacity < n ? n : b->capacity;
  return series_expand(node, int64_t(series_grown_capacity(base, need)));
}

}  // namespace

Cell* append_cell(Node node) {
  SeriesBuffer* b = reserve_bytes(node, sizeof(Cell));
  Cell* c = b->tail_cell();
  *c = make_cell(kTypeUnset);
  b->tail += sizeof(Cell);
  return c;
}

uint8_t* reserve_tail(Node node, uint32_t n) {
  SeriesBuffer* b = reserve_bytes(node, n);
  uint8_t* old_tail = b->tail_ptr();
  b->tail += n;
  return old_tail;
}

// ---------------------------------------------------------------- platform heap

namespace {

struct HeapBlock {
  HeapBlock* next;
  HeapBlock* prev;
  size_t size;
  size_t pad;
};
static_assert(sizeof(HeapBlock) == 32);

HeapBlock g_heap_list{&g_heap_list, &g_heap_list, 0, 0};
size_t g_heap_bytes = 0;
size_t g_heap_blocks = 0;

void heap_link(HeapBlock* h, size_t size) {
  h->size = size;
  h->next = g_heap_list.next;
  h->prev = &g_heap_list;
  g_heap_list.next->prev = h;
  g_heap_list.next = h;
  g_heap_bytes += size + 16;
  g_heap_blocks++;
}

void heap_unlink(HeapBlock* h) {
  h->prev->next = h->next;
  h->next->prev = h->prev;
  g_heap_bytes -= h->size + 16;
  g_heap_blocks--;
}

}  // namespace

void* heap_alloc(size_t size) {
  auto* h = static_cast<HeapBlock*>(std::malloc(sizeof(HeapBlock) + size));
  if (!h) fatal_exit(94, reinterpret_cast<uintptr_t>(&heap_alloc));
  heap_link(h, size);
  return h + 1;
}

void* heap_try_alloc(size_t size) {
  if (size > SIZE_MAX - sizeof(HeapBlock)) return nullptr;
  auto* h = static_cast<HeapBlock*>(std::malloc(sizeof(HeapBlock) + size));
  if (!h) return nullptr;
  heap_link(h, size);
  return h + 1;
}

void* heap_realloc(void* block, size_t size) {
  if (!block) return heap_alloc(size);
  HeapBlock* h = static_cast<HeapBlock*>(block) - 1;
  heap_unlink(h);
  auto* moved = static_cast<HeapBlock*>(std::realloc(h, sizeof(HeapBlock) + size));
  if (!moved) fatal_exit(94, reinterpret_cast<uintptr_t>(&heap_realloc));
  heap_link(moved, size);
  return moved + 1;
}

void heap_free(void* block) {
  if (!block) return;
  HeapBlock* h = static_cast<HeapBlock*>(block) - 1;
  heap_unlink(h);
  std::free(h);
}

size_t heap_bytes() { return g_heap_bytes; }
size_t heap_block_count() { return g_heap_blocks; }

void runtime_memory_release() {
  while (g_heap_list.next != &g_heap_list) {
    HeapBlock* h = g_heap_list.next;
    heap_unlink(h);
    std::free(h);
  }
}

}  // namespace kiv
