// The memory manager: nodes, series buffers and the frames they are carved from.
//
// A series is reached through a node: a 32-bit handle indexing the node table,
// whose entry holds the address of the series' current buffer. Buffers move
// (growth, the collector's compaction); nodes never do, so every cell keeps
// naming its series by the same handle.
//
// Series buffer (24-byte header, then the data area):
//
//   +0  flags     bits 0-4 unit size (1, 2, 4, 8 or 16), kSeries* bits above
//   +4  node      the node pointing here (0 once the buffer is abandoned)
//   +8  capacity  data area size in bytes, always a multiple of 16
//   +12 head      byte offset of the first unit from the data start
//   +16 tail      byte offset one past the last unit
//   +20 (unused)
//   +24 data      capacity bytes
//
// Inside a series frame a buffer occupies capacity + 24 bytes, so the next
// buffer starts at buffer address + capacity + 24 and every buffer and data
// area is 8-byte aligned.
//
// Collector safety: a SeriesBuffer* or a pointer into its data is valid only
// until the next call that can allocate (every function here marked MAY
// ALLOCATE) or run Kiv code. Keep the node and re-derive.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "runtime/cell.h"

namespace kiv {

// Series buffer flags. (The collector's mark is not among them: it is kept in
// the node table, see kNodeMark.)
inline constexpr uint32_t kSeriesUnitMask = 0x1Fu;
inline constexpr uint32_t kSeriesOwned = 0x00020000u;        // owned by an object; copies drop it
inline constexpr uint32_t kSeriesLibraryCode = 0x00040000u;  // library code: block_mark_library_code
inline constexpr uint32_t kSeriesFixed = 0x00100000u;        // platform-heap buffer, never collected
inline constexpr uint32_t kSeriesReserved = 0x00200000u;     // fixed, in address space of its own
inline constexpr uint32_t kSeriesBig = 0x01000000u;          // pages of its own (2 MB or more)
inline constexpr uint32_t kSeriesMiddleHead = 0x10000000u;   // head placed mid-buffer at allocation
inline constexpr uint32_t kSeriesAlloc = 0x20000000u;        // set on every buffer
inline constexpr uint32_t kSeriesInUse = 0x80000000u;        // cleared when the series moved away

// Flags a copy of a buffer never inherits from its source.
inline constexpr uint32_t kSeriesPlacementFlags = kSeriesFixed | kSeriesReserved | kSeriesBig | kSeriesInUse;

// A KIV_TINY_SIZES build starts with small frames (and the hash tables at
// their minimum), so ordinary tests go through every growth path.
#if defined(KIV_TINY_SIZES)
inline constexpr bool kTinySizes = true;
#else
inline constexpr bool kTinySizes = false;
#endif

inline constexpr uint32_t kBufferOverhead = 24;  // per-buffer bytes besides the capacity
inline constexpr uint32_t kSeriesFrameSize =
    kTinySizes ? 0x10000 : 0x100000;                   // first series frame: 1 MB (tiny: 64 KB)
inline constexpr uint32_t kSeriesFrameMax = 0x200000;  // largest frame; big-buffer threshold
inline constexpr uint32_t kFrameRefillMin = 0xCCCC;    // below this, a new frame beats refilling
inline constexpr uint32_t kNodeFrameSize = kTinySizes ? 64 : 10000;  // nodes per node frame
inline constexpr uint32_t kMaxCapacity = 0x7FFFFF00u;                // largest data area a buffer may have
// Free frame space kept for reuse however little is live (see MemoryState);
// 0 in a tiny build, where the live bytes alone set it, so tests collect often.
inline constexpr size_t kFrameReserveMin = kTinySizes ? 0 : 4 * size_t(kSeriesFrameMax);
static_assert(kSeriesFrameSize <= kSeriesFrameMax && kSeriesFrameSize % 16 == 0);

// The data area a buffer of [capacity] bytes grows to when it must hold [need]
// bytes: twice the capacity, or the need when that is more, but at most
// kMaxCapacity, so a buffer whose doubling would pass the limit grows to the
// limit in one step. The caller refuses a need past kMaxCapacity itself.
constexpr uint64_t series_grown_capacity(uint64_t capacity, uint64_t need) {
  uint64_t size = need > 2 * capacity ? need : 2 * capacity;
  return size < kMaxCapacity ? size : kMaxCapacity;
}

struct SeriesBuffer {
  uint32_t flags;
  Node node;
  uint32_t capacity;
  uint32_t head;
  uint32_t tail;
  uint32_t unused;

  uint8_t* data() { return reinterpret_cast<uint8_t*>(this + 1); }
  uint32_t unit() const { return flags & kSeriesUnitMask; }
  uint8_t* head_ptr() { return data() + head; }
  uint8_t* tail_ptr() { return data() + tail; }
  uint8_t* end_ptr() { return data() + capacity; }
  uint32_t used() const { return tail - head; }
  // Units from the head to the tail. Text and cell units are powers of two:
  // a shift, where a record width divides.
  uint32_t length() const {
    uint32_t u = unit();
    return (u & (u - 1)) == 0 ? used() >> std::countr_zero(u) : used() / u;
  }
  // Cells from the head to the tail: the bytes in use over 16, whatever the
  // unit (length() for a buffer of cells).
  uint32_t cell_count() const { return used() / sizeof(Cell); }
  Cell* cells() { return reinterpret_cast<Cell*>(data()); }
  Cell* head_cell() { return reinterpret_cast<Cell*>(head_ptr()); }
  Cell* tail_cell() { return reinterpret_cast<Cell*>(tail_ptr()); }
};
static_assert(sizeof(SeriesBuffer) == 24 && sizeof(SeriesBuffer) == kBufferOverhead);
static_assert(offsetof(SeriesBuffer, flags) == 0 && offsetof(SeriesBuffer, node) == 4 &&
              offsetof(SeriesBuffer, capacity) == 8 && offsetof(SeriesBuffer, head) == 12 &&
              offsetof(SeriesBuffer, tail) == 16);

// ---------------------------------------------------------------- node table

// Node table entry: a buffer address while in use, (next free handle << 1) | 1
// while free. Handle 0 is never handed out. Buffers are 8-byte aligned, so an
// entry in use has its low bits free: bit 1 is the collector's mark, set while
// a collection marks and cleared by its node sweep, so outside a collection
// every entry in use is the bare address.
using NodeEntry = uintptr_t;
extern NodeEntry* g_node_table;
static_assert(sizeof(NodeEntry) == 8, "node entries hold 64-bit buffer addresses");
inline constexpr NodeEntry kNodeFree = 1;
inline constexpr NodeEntry kNodeMark = 2;

// The entry of a free node that links to the free handle [next] (0 ends the list).
inline NodeEntry node_free_entry(uint32_t next) { return (NodeEntry(next) << 1) | kNodeFree; }
// The buffer of a live series node. Short-lived: see the header comment.
inline SeriesBuffer* series_buffer(Node n) {
  return reinterpret_cast<SeriesBuffer*>(g_node_table[n] & ~kNodeMark);
}
inline bool node_in_use(Node n) {
  return n != 0 && (g_node_table[n] & kNodeFree) == 0 && g_node_table[n] != 0;
}
// Short-lived. The cell at the head of the buffer of cells [n]: its first cell.
inline Cell* series_cells(Node n) { return series_buffer(n)->head_cell(); }
// Units from the head to the tail of [n] (SeriesBuffer::length).
inline uint32_t series_length(Node n) { return series_buffer(n)->length(); }
// Cells from the head to the tail of [n], in 16-byte steps (SeriesBuffer::cell_count).
inline uint32_t series_cell_count(Node n) { return series_buffer(n)->cell_count(); }

// A node frame: a chunk of kNodeFrameSize consecutive handles.
struct NodeFrame {
  NodeFrame* next;
  NodeFrame* prev;
  uint32_t first;        // first handle of the chunk
  uint32_t capacity;     // nodes in the chunk
  uint32_t free_head;    // first free handle, 0 when none
  uint32_t in_use;       // nodes handed out
  uint32_t stamp;        // collection count when made
  uint32_t prev_in_use;  // nodes in use at the previous collection
  uint32_t history;      // shifted at each collection; bit 0: in-use count unchanged
  uint32_t retired;      // gives out no nodes; released after the next collection
  uint32_t used_stamp;   // collection count when last chosen to hand out nodes
};

// A series frame: a page block whose area buffers are carved from, bump-pointer style.
struct SeriesFrame {
  SeriesFrame* next;
  SeriesFrame* prev;
  size_t size;    // area size + header
  uint8_t* heap;  // first free byte
  uint8_t* end;   // end of the area
  uint8_t* area() { return reinterpret_cast<uint8_t*>(this) + kSeriesFrameHeader; }
  static constexpr size_t kSeriesFrameHeader = 48;
};
// Frame buffers start 8-byte aligned (fixed and big ones 16-byte aligned), so
// a node table entry has its low bits for kNodeFree and kNodeMark.
static_assert(SeriesFrame::kSeriesFrameHeader % 8 == 0 && kBufferOverhead % 8 == 0);

// A big buffer's page block: this link record, then the series buffer.
struct BigBlock {
  BigBlock* next;
  size_t size;  // requested size (header + capacity)
  SeriesBuffer* buffer() { return reinterpret_cast<SeriesBuffer*>(this + 1); }
};
static_assert(sizeof(BigBlock) == 16);

// The collector parameters record.
//
// Frame reserve: the collector does not unmap the series frames its compaction
// empties; they wait, poisoned, on free_series_frames (ascending addresses,
// off the frame list) and the allocator takes them before it maps new pages.
// After each collection the watermark is set to the bytes that survived in
// frames and big buffers, at least kFrameReserveMin: free frames up to it are
// kept, and so is room to map new frames up to it (frame_budget) before the
// allocator asks for the next collection, so a collection comes once per
// watermark's worth of allocation. Free frames beyond the watermark (after a
// burst of garbage) are owed back (frame_debt): each time the allocator takes
// a free frame it unmaps another while the debt lasts, so the burst's pages
// go back over the following allocations instead of inside the collection
// that found them empty. memory_release_free_frames gives all of them back.
struct MemoryState {
  size_t total_pages;  // bytes currently held in page blocks
  NodeFrame* first_node_frame;
  NodeFrame* last_node_frame;
  NodeFrame* current_node_frame;
  SeriesFrame* first_series_frame;
  SeriesFrame* current_series_frame;
  SeriesFrame* last_series_frame;
  uint32_t initial_frame_size;
  uint32_t next_frame_size;
  uint32_t max_frame_size;
  BigBlock* big_buffers;
  uint32_t collection_count;
  SeriesFrame* free_series_frames;  // emptied frames kept for reuse, ascending addresses
  size_t free_frame_bytes;          // their block sizes, summed
  size_t frame_watermark;           // free frame bytes kept; set by each collection
  size_t frame_debt;                // free frame bytes beyond the watermark still to unmap
  size_t frame_budget;              // bytes of new frames the allocator may map before collecting
};
extern MemoryState g_memory;

// ---------------------------------------------------------------- page blocks

// MAY ALLOCATE (raises). Rounds [size] plus a 16-byte size record up to whole
// pages and maps them. A failure raises internal no-memory.
void* memory_alloc_pages(size_t size);
// Resizes a block from memory_alloc_pages to hold [size] bytes, its content
// kept: its new address, or null (the block as it was) when the OS refuses.
void* memory_resize_pages(void* address, size_t size);
// Unmaps a block from memory_alloc_pages; a failure raises internal wrong-mem.
void memory_free_pages(void* address);
// Releases every node frame, series frame and big buffer.
void memory_free_all();
void memory_fill(uint8_t* begin, uint8_t* end, uint8_t byte);
// Repeats the first [n] bytes of [buffer] until it holds n x [count] bytes,
// copying the filled prefix onto the space after it; returns the end.
uint8_t* fill_pattern(uint8_t* buffer, uint32_t n, uint32_t count);
// Writes 0 into every 32-bit word from [first] up to and including [last].
void memory_zero(uint32_t* first, uint32_t* last);

// ---------------------------------------------------------------- frames and nodes

// Resets the collector parameters and reserves the node table.
void memory_init();
NodeFrame* init_node_frame(uint32_t n);
// Takes a node (never collects; makes a node frame when every frame is full).
Node alloc_node();
// Gives [node] back to [frame]. (The collector frees dead nodes by rebuilding
// each frame's free list in its node sweep instead.)
inline void free_node(NodeFrame* frame, Node node) {
  g_node_table[node] = node_free_entry(frame->free_head);
  frame->free_head = node;
  frame->in_use--;
}
// The node frame a handle belongs to.
NodeFrame* node_frame_of(Node node);
void release_node_frame(NodeFrame* frame);
// After a collection: releases retired node frames and empty ones that handed
// out no node since the previous collection, picks the current one, updates histories.
void update_node_frames();
// A frame with room for a buffer of [needed] bytes, linked in address order: a
// free frame when one is big enough, else new pages of the next frame size.
SeriesFrame* init_series_frame(uint32_t needed = 0);
void release_series_frame(SeriesFrame* frame);
// Unlinks an emptied frame and keeps it on the free-frame list, poisoned.
void keep_free_series_frame(SeriesFrame* frame);
// The same for a frame already off the frame list (the collector's evacuation).
void keep_detached_series_frame(SeriesFrame* frame);
// After a compaction: sets the watermark from the [live] bytes, the debt and the budget.
void update_frame_reserve(size_t live);
// Unmaps every kept free frame.
void memory_release_free_frames();
// The first frame with room for [bytes] below its end, or null.
SeriesFrame* find_series_frame(uint32_t bytes);

// ---------------------------------------------------------------- buffers

// A head offset of kHeadMiddle places the head in the middle of the data area.
inline constexpr int32_t kHeadMiddle = -1;

// MAY ALLOCATE (may collect). The node field is left 0 for the caller.
SeriesBuffer* alloc_series_buffer(uint32_t count, uint32_t unit, int32_t head_offset);
// MAY ALLOCATE. A new series of [count] units, head at [head_offset] bytes.
Node series_alloc(uint32_t count, uint32_t unit, int32_t head_offset);
// MAY ALLOCATE. A permanent buffer outside the collected frames (platform heap).
Node series_alloc_fixed(uint32_t count, uint32_t unit, int32_t head_offset);
// MAY ALLOCATE (a node). A permanent buffer of [count] units in address space
// reserved for it alone and committed page by page as it is written, so a
// large capacity costs memory only as far as it is used. Like a fixed buffer it
// is never collected or moved; its reservation stays for the life of the process.
Node series_alloc_reserved(uint32_t count, uint32_t unit);
Node series_alloc_cells(uint32_t n);                       // MAY ALLOCATE
Node series_alloc_cells_unset(uint32_t n);                 // MAY ALLOCATE; every cell of the capacity unset!
Node series_alloc_bytes(uint32_t n);                       // MAY ALLOCATE; 0 gives 16 bytes
Node series_alloc_units(uint32_t n, uint32_t unit);        // MAY ALLOCATE; 0 gives 16 bytes' worth
Node series_alloc_bytes_filled(uint32_t n, uint8_t byte);  // MAY ALLOCATE
void series_set_flags(Node node, uint32_t bits);
// The nodes of every fixed buffer (root block, stacks, other permanent blocks).
const Node* fixed_buffer_nodes(size_t* count);

// MAY ALLOCATE. Moves the series to a new buffer of [new_size] bytes (0: twice
// the capacity) without copying; head at the data start, tail = head + old length.
SeriesBuffer* series_realloc(Node node, int64_t new_size);
// MAY ALLOCATE. series_realloc, then the old content (from its head) is copied over.
SeriesBuffer* series_expand(Node node, int64_t new_size);
// MAY ALLOCATE. series_expand, then the bytes past the old capacity are set to [byte].
SeriesBuffer* series_expand_filled(Node node, int64_t new_size, uint8_t byte);
// MAY ALLOCATE. A new series with the same capacity, unit, flags and content.
Node series_copy_buffer(Node node);
// MAY ALLOCATE. A new series of [count] units copied from unit [offset] after the head; never owned.
Node series_copy_part(Node node, uint32_t offset, uint32_t count);

// MAY ALLOCATE. Appends an unset! cell at the tail (a full buffer grows by
// series_grown_capacity) and returns it for the caller to fill. Raises internal
// no-memory only when the cells themselves would pass kMaxCapacity.
Cell* append_cell(Node node);
// MAY ALLOCATE. append_cell on the series of a block value.
inline Cell* block_append_cell(const Cell* block) { return append_cell(block->node()); }
// MAY ALLOCATE. Advances the tail by [n] bytes, growing the buffer when short
// (by series_grown_capacity; no-memory when the used bytes and [n] pass
// kMaxCapacity), and returns the old tail for the caller to write the n bytes.
uint8_t* reserve_tail(Node node, uint32_t n);

// Copies [n] bytes (sizeof(Word) to twice that) as two words, one from each
// end: both are loaded before either is stored.
template <class Word>
inline void move_bytes_as_words(uint8_t* dst, const uint8_t* src, size_t n) {
  Word a, b;
  std::memcpy(&a, src, sizeof a);
  std::memcpy(&b, src + n - sizeof b, sizeof b);
  std::memcpy(dst, &a, sizeof a);
  std::memcpy(dst + n - sizeof b, &b, sizeof b);
}

// memmove of [n] bytes from [src] to [dst], with the short runs of text
// (a word, a piece appended) copied inline rather than by a library call. Every
// load comes before the first store, so overlapping runs copy as memmove would.
inline void move_bytes(uint8_t* dst, const uint8_t* src, size_t n) {
  if (n > 16) {
    std::memmove(dst, src, n);
  } else if (n >= 8) {
    move_bytes_as_words<uint64_t>(dst, src, n);
  } else if (n >= 4) {
    move_bytes_as_words<uint32_t>(dst, src, n);
  } else if (n > 0) {
    uint8_t a = src[0], b = src[n / 2], c = src[n - 1];
    dst[0] = a;
    dst[n / 2] = b;
    dst[n - 1] = c;
  }
}

// ---------------------------------------------------------------- platform heap

// The runtime's own scratch blocks. Every block is on one list, released by
// runtime_memory_release; an exhausted heap is fatal runtime error 94.
void* heap_alloc(size_t size);
// heap_alloc for a block whose size the caller does not bound (an image's
// pixels): null when the heap cannot give it, for the caller to report.
void* heap_try_alloc(size_t size);
void* heap_realloc(void* block, size_t size);
void heap_free(void* block);
// Sum of (size + 16) over the live platform-heap blocks.
size_t heap_bytes();
size_t heap_block_count();
void runtime_memory_release();

// The collector calls this to count a collection (node frame stamps read it).
inline uint32_t collection_count() { return g_memory.collection_count; }

}  // namespace kiv
