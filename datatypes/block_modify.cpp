// block! modification: insert and append, change, put, swap, take, trim, copy
// and sort (find, select and the set operations are in block_search.cpp).
//
// Positions here are absolute cell indexes counted from the buffer's first
// cell (SeriesBuffer::head); every cell read or written lies below the tail.
// A value's head is used through series_clamp_head(): a negative head reads as
// 0, a head past the tail as the tail. Counts are formed in 64 bits and checked
// against the largest buffer before anything changes.
//
// Every writer runs in the same order: check the arguments (raising before
// anything changes), tell the owner "before", plan the change again from the
// block as it now is (the owner's handler runs Kiv code and may have changed
// it), change the cells, keep a hash! index in step, tell the owner "after".
// Cell pointers are re-derived after every call that may allocate.
//
// A source block that shares the destination's buffer is copied into a
// scratch block on the data stack before the destination's cells move, so
// insert, append and change read it as it was before the call.
#include "datatypes/block_modify.h"

#include <algorithm>
#include <cstring>

#include "datatypes/actions.h"
#include "datatypes/block.h"
#include "datatypes/float.h"
#include "datatypes/function.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/word.h"
#include "runtime/cycle.h"
#include "runtime/errors.h"
#include "runtime/hashtable.h"
#include "runtime/memory.h"
#include "runtime/ownership.h"
#include "runtime/sort.h"
#include "runtime/stack.h"

namespace kiv {

namespace {

// The most cells a buffer may hold.
constexpr int64_t kMaxCells = kMaxCapacity / sizeof(Cell);

// MAY ALLOCATE, MAY RUN KIV CODE. After [n] cells were inserted at [pos] of
// [v] (already in place) ahead of [moved] cells that used to start at [pos]:
// shifts their stored indexes and indexes the new cells, or rebuilds the
// index when the shift declines.
void hash_after_insert(const Cell* v, int32_t pos, int32_t n, int32_t moved) {
  if (!block_indexed_q(v) || n <= 0) return;
  if (hashtable_refresh(block_hash_index(v), pos, n, moved, false)) {
    hashtable_rebuild(block_hash_index(v), uint32_t(series_total_cells(v)));
    return;
  }
  for (int32_t i = 0; i < n; i++)
    if (hashtable_put_value_status(block_hash_index(v), pos + i) == kPutRebuilt)
      return;  // the whole block is indexed
}

// MAY ALLOCATE, MAY RUN KIV CODE. A new index over every cell of [v].
void hash_rebuild(const Cell* v) {
  if (block_indexed_q(v)) hashtable_rebuild(block_hash_index(v), uint32_t(series_total_cells(v)));
}

// True for the values a deep copy replaces by their own copies.
bool deep_copied_q(TypeId t) {
  return is_any_block(t) || is_any_string(t) || t == kTypeBinary || t == kTypeVector || t == kTypeImage;
}

// MAY ALLOCATE, MAY RUN KIV CODE. Replaces every series value among the cells
// of the block [block] (a stable cell) by its deep copy, keeping each cell's
// new-line marker.
void deep_copy_cells(const Cell* block) {
  for (int32_t i = 0; i < series_total_cells(block); i++) {
    Cell c = series_cells(block->node())[i];
    if (!deep_copied_q(c.type())) continue;
    StackSave save;
    Cell* item = stack_push_value(c);
    CopyArgs deep;
    deep.deep = true;
    deep.result = stack_push_value(kNoneCell);
    Cell out = *action_copy(item, deep);
    out.header = (out.header & ~kFlagNewLine) | (c.header & kFlagNewLine);
    // The block itself is never shortened by a copy, but stay inside it regardless.
    if (i < series_total_cells(block)) series_cells(block->node())[i] = out;
  }
}

// ---------------------------------------------------------------- insert, append, change

// Where the cells added by insert and change come from: [count] cells of the
// buffer [node] from absolute index [from], or with node 0 the single
// (stable) cell [value].
struct Source {
  Node node;
  int32_t from;
  int32_t count;
  const Cell* value;
};

// The cells of a block-family [value] from its head, or, with [only] or for
// any other value, the value itself.
Source source_of(const Cell* value, bool only) {
  if (!only && is_any_block(value->type())) {
    int32_t total = series_total_cells(value);
    int32_t from = series_clamp_head(value, total);
    return {value->node(), from, total - from, nullptr};
  }
  return {0, 0, 1, value};
}

// MAY ALLOCATE. When [src] reads the buffer [target], its cells are copied
// into a scratch block on the data stack and read from there.
void detach_source(Source* src, Node target) {
  if (src->node != target || src->count == 0) return;
  Node copy = series_copy_part(src->node, uint32_t(src->from), uint32_t(src->count));
  stack_push_value(series_cell(kTypeBlock, copy));
  src->node = copy;
  src->from = 0;
}

// MAY ALLOCATE. Opens [n] cells at [pos] (at most the total length) of [v]'s
// buffer, moving the cells from there up; a short buffer grows to the needed
// size, twice that with [doubled]. The gap keeps stale cells for the caller
// to overwrite at once. The caller has checked that the new length fits.
void open_gap(const Cell* v, int32_t pos, int32_t n, bool doubled) {
  SeriesBuffer* b = series_buffer_of(v);
  uint64_t length = uint64_t(int32_t(b->cell_count()));
  uint64_t need = (length + uint64_t(n)) * sizeof(Cell);
  if (b->head + need > b->capacity) {
    uint64_t size = doubled ? std::min<uint64_t>(2 * need, kMaxCapacity) : need;
    b = series_expand(v->node(), int64_t(size));
  }
  Cell* cells = b->head_cell();
  std::memmove(cells + pos + n, cells + pos, size_t(length - uint64_t(pos)) * sizeof(Cell));
  b->tail += uint32_t(n) * sizeof(Cell);
}

// Writes [src] (its [count] first cells) at [pos] of [v], then repeats that
// stretch until [n] cells are written. Never allocates.
void fill_cells(const Cell* v, int32_t pos, const Source& src, int32_t count, int32_t n) {
  Cell* dst = series_cells(v->node()) + pos;
  if (src.node)
    std::memcpy(dst, series_cells(src.node) + src.from, size_t(count) * sizeof(Cell));
  else
    dst[0] = *src.value;
  // Each round doubles the stretch already written.
  for (int64_t done = count; done < n;) {
    int64_t k = std::min<int64_t>(done, n - done);
    std::memcpy(dst + done, dst, size_t(k) * sizeof(Cell));
    done += k;
  }
}

// The repeat count of /dup: an integer! (else script invalid-arg), 1 without it.
int64_t dup_count(const Cell* dup) {
  if (!dup) return 1;
  if (!dup->is(kTypeInteger)) raise_error(kErrScriptInvalidArg, dup);
  return integer_get(dup);
}

// An insertion planned against the block as it is now.
struct InsertPlan {
  Source src;
  int32_t count;  // source cells taken
  int32_t n;      // cells added: count times the repeat count
  int32_t pos;    // insertion point
};

// Plans insert/append of [value] into [series]; n is 0 when nothing changes.
// Raises internal no-memory when the result would not fit a buffer.
InsertPlan plan_insert(Cell* series, const Cell* value, int64_t part, bool only, int64_t times, bool append) {
  InsertPlan p{source_of(value, only), 0, 0, 0};
  int64_t count = p.src.count;
  if (part >= 0 && part < count) count = part;
  int32_t total = series_total_cells(series);
  if (series->head() > total) series->set_head(total);
  p.pos = append ? total : series_clamp_head(series, total);
  if (count <= 0 || times < 1) return p;
  int64_t n = count * times;  // both below 2^31: no overflow in 64 bits
  if (n > kMaxCells - total) raise_error(kErrInternalNoMemory);
  p.count = int32_t(count);
  p.n = int32_t(n);
  return p;
}

}  // namespace

Cell* block_insert(Cell* series, const InsertArgs& args) {
  // The common case first: one cell, no /part or /dup, no owner to tell.
  if (!args.part && !args.dup && (args.only || !is_any_block(args.value->type())) &&
      !(series_buffer_of(series)->flags & kSeriesOwned)) {
    SeriesBuffer* b = series_buffer_of(series);
    int32_t total = int32_t(b->cell_count());
    if (series->head() > total) series->set_head(total);
    int32_t pos = args.append ? total : series_clamp_head(series, total);
    if (total >= kMaxCells) raise_error(kErrInternalNoMemory);
    if (b->tail + sizeof(Cell) > b->capacity) {
      open_gap(series, pos, 1, true);
      b = series_buffer_of(series);
    } else {
      Cell* cells = b->head_cell();
      if (pos < total) std::memmove(cells + pos + 1, cells + pos, size_t(total - pos) * sizeof(Cell));
      b->tail += sizeof(Cell);
    }
    b->head_cell()[pos] = *args.value;
    hash_after_insert(series, pos, 1, total - pos);
    if (!args.append) series->set_head(pos + 1);
    return series;
  }
  int64_t limit = args.part ? args.part.count : -1;
  int64_t times = dup_count(args.dup);
  InsertPlan p = plan_insert(series, args.value, limit, args.only, times, args.append);
  if (p.n == 0) return series;
  SeriesChange change(series, args.append ? kOwnerAppend : kOwnerInsert, p.pos, p.n, args.value);
  p = plan_insert(series, args.value, limit, args.only, times, args.append);
  if (p.n > 0) {
    StackSave save;
    detach_source(&p.src, series->node());
    int32_t moved = series_total_cells(series) - p.pos;
    open_gap(series, p.pos, p.n, times < 5);
    fill_cells(series, p.pos, p.src, p.count, p.n);
    hash_after_insert(series, p.pos, p.n, moved);
  }
  change.done(p.pos, p.n, args.value);
  if (!args.append) series->set_head(std::min(p.pos + p.n, series_total_cells(series)));
  return series;
}

namespace {

// A change planned against the block as it is now.
struct ChangePlan {
  Source src;
  int32_t head;
  int32_t count;     // source cells
  int32_t n;         // cells written: count times the repeat count
  int32_t replaced;  // cells replaced from the head
};

ChangePlan plan_change(Cell* series, const Cell* value, const PartLimit& part, bool only, int64_t times) {
  ChangePlan p{source_of(value, only), 0, 0, 0, 0};
  int32_t total = series_total_cells(series);
  if (series->head() > total) series->set_head(total);
  p.head = series_clamp_head(series, total);
  int64_t n = times < 1 ? 0 : int64_t(p.src.count) * times;
  int64_t room = total - p.head;
  int64_t replaced = part ? part.count : n;
  p.replaced = int32_t(std::clamp<int64_t>(replaced, 0, room));
  if (n - p.replaced > kMaxCells - total) raise_error(kErrInternalNoMemory);
  p.count = n > 0 ? p.src.count : 0;
  p.n = int32_t(n);
  return p;
}

}  // namespace

Cell* block_change(Cell* series, const ChangeArgs& args) {
  int64_t times = dup_count(args.dup);
  ChangePlan p = plan_change(series, args.value, args.part, args.only, times);
  if (p.n == 0 && p.replaced == 0) return series;
  SeriesChange change(series, kOwnerChange, p.head, p.n, args.value);
  p = plan_change(series, args.value, args.part, args.only, times);
  if (p.n > 0 || p.replaced > 0) {
    StackSave save;
    detach_source(&p.src, series->node());
    int32_t total = series_total_cells(series);
    int64_t size = int64_t(total) + p.n - p.replaced;
    SeriesBuffer* b = series_buffer_of(series);
    if (b->head + uint64_t(size) * sizeof(Cell) > b->capacity)
      b = series_expand(series->node(), size * int64_t(sizeof(Cell)));
    Cell* cells = b->head_cell();
    int32_t rest = total - p.head - p.replaced;
    std::memmove(cells + p.head + p.n, cells + p.head + p.replaced, size_t(rest) * sizeof(Cell));
    b->tail = b->head + uint32_t(size) * sizeof(Cell);
    if (p.n > 0) fill_cells(series, p.head, p.src, p.count, p.n);
    hash_rebuild(series);
  }
  change.done(p.head, p.n, args.value);
  series->set_head(std::min(p.head + p.n, series_total_cells(series)));
  return series;
}

// ---------------------------------------------------------------- put

Cell* block_put(Cell* series, const PutArgs& args) {
  // The key is one value: a block or a datatype is looked for as itself.
  FindArgs find;
  find.value = args.key;
  find.only = true;
  find.case_ = args.case_;
  Cell* found = block_find(stack_push_value(*series), find);
  int32_t total = series_total_cells(series);
  int32_t at = found->is(kTypeNone) ? -1 : series_clamp_head(found, total);
  if (at >= 0 && at + 1 < total) {
    Cell* old = stack_push_value(series_cells(series->node())[at + 1]);
    if (action_compare_values(old, args.value, kCmpFindEqual) == 0) return args.value;
    SeriesChange change(series, kOwnerPut, at + 1, 1, args.value);
    if (at + 1 < series_total_cells(series)) {
      if (block_indexed_q(series)) hashtable_delete_value(block_hash_index(series), at + 1);
      series_cells(series->node())[at + 1] = *args.value;
      if (block_indexed_q(series)) hashtable_put_value(block_hash_index(series), at + 1);
    }
    change.done(at + 1, 1, args.value);
    return args.value;
  }
  // Missing key: key and value at the tail; the key as last cell: the value after it.
  int32_t n = at < 0 ? 2 : 1;
  if (n > kMaxCells - total) raise_error(kErrInternalNoMemory);
  SeriesChange change(series, kOwnerPut, total, n, args.value);
  total = series_total_cells(series);
  if (n > kMaxCells - total) raise_error(kErrInternalNoMemory);
  open_gap(series, total, n, true);
  Cell* cells = series_cells(series->node()) + total;
  if (n == 2) *cells++ = *args.key;
  *cells = *args.value;
  hash_after_insert(series, total, n, 0);
  change.done(total, n, args.value);
  return args.value;
}

// ---------------------------------------------------------------- swap

Cell* block_swap(Cell* a, const SwapArgs& args) {
  if (!is_any_block(args.series2->type())) raise_error(kErrScriptInvalidArg, args.series2);
  auto at_tail = [](const Cell* v) { return std::max(v->head(), 0) >= series_total_cells(v); };
  if (at_tail(a) || at_tail(args.series2)) return a;
  SeriesChange change_a(a, kOwnerSwap, series_clamp_head(a, series_total_cells(a)), 1, args.series2);
  SeriesChange change_b(args.series2, kOwnerSwap,
                        series_clamp_head(args.series2, series_total_cells(args.series2)), 1, a);
  int32_t ia = series_clamp_head(a, series_total_cells(a));
  int32_t ib = series_clamp_head(args.series2, series_total_cells(args.series2));
  bool live = !at_tail(a) && !at_tail(args.series2);
  if (live) {
    // The positions each indexed side sees change: both when the two share a buffer.
    bool shared = a->node() == args.series2->node();
    const Cell* sides[2] = {a, args.series2};
    for (const Cell* v : sides) {
      if (!block_indexed_q(v)) continue;
      hashtable_delete_value(block_hash_index(v), v == a ? ia : ib);
      if (shared) hashtable_delete_value(block_hash_index(v), v == a ? ib : ia);
    }
    std::swap(series_cells(a->node())[ia], series_cells(args.series2->node())[ib]);
    Node done = 0;  // a table already brought up to date
    for (const Cell* v : sides) {
      if (!block_indexed_q(v) || block_hash_index(v) == done) continue;
      int32_t own = v == a ? ia : ib, other = v == a ? ib : ia;
      bool rebuilt = hashtable_put_value_status(block_hash_index(v), own) == kPutRebuilt;
      if (!rebuilt && shared && other != own) hashtable_put_value_status(block_hash_index(v), other);
      done = block_hash_index(v);
    }
  }
  change_a.done(ia, live ? 1 : 0, args.series2);
  change_b.done(ib, live ? 1 : 0, a);
  return a;
}

// ---------------------------------------------------------------- take

Cell* block_take(Cell* series, const TakeArgs& args) {
  StackSave save;
  // With /deep the copies are made before anything leaves the block: a copy
  // that fails (a cycle, a value that cannot be copied) then loses nothing.
  Cell* copies = nullptr;
  int64_t from = 0, n = 0;
  if (args.deep && series_take_range(series, args, &from, &n) && n > 0) {
    Node node = series_copy_part(series->node(), uint32_t(from), uint32_t(n));
    copies = stack_push_value(series_cell(kTypeBlock, node));
    deep_copy_cells(copies);
  }
  TakeArgs shallow = args;
  shallow.deep = false;
  Cell* taken = series_take(series, shallow);
  if (taken->is(kTypeNone)) {
    *series = kNoneCell;
    return series;
  }
  if (args.deep) {
    if (copies && series_total_cells(taken) == n)
      std::memcpy(series_cells(taken->node()), series_cells(copies->node()), size_t(n) * sizeof(Cell));
    else
      deep_copy_cells(taken);  // the owner's handler changed the block in between
    hash_rebuild(taken);
  }
  if (!args.part && series_total_cells(taken) == 1)
    *series = series_cells(taken->node())[0];
  else
    *series = *taken;
  return series;
}

// ---------------------------------------------------------------- trim

Cell* block_trim(Cell* series, const TrimArgs& args) {
  auto nones_after_head = [series] {
    int32_t total = series_total_cells(series);
    const Cell* cells = series_cells(series->node());
    int32_t n = 0;
    for (int32_t i = series_clamp_head(series, total); i < total; i++) n += cells[i].is(kTypeNone);
    return n;
  };
  if (nones_after_head() == 0) return series;
  int32_t head = series_clamp_head(series, series_total_cells(series));
  SeriesChange change(series, kOwnerTrim, head, series_total_cells(series) - head);
  int32_t total = series_total_cells(series);
  head = series_clamp_head(series, total);
  SeriesBuffer* b = series_buffer_of(series);
  Cell* cells = b->head_cell();
  int32_t kept = head;
  for (int32_t i = head; i < total; i++)
    if (!cells[i].is(kTypeNone)) cells[kept++] = cells[i];
  b->tail = b->head + uint32_t(kept) * sizeof(Cell);
  if (kept < total) hash_rebuild(series);
  change.done(head, kept - head);
  return series;
}

// ---------------------------------------------------------------- copy

Cell* block_copy(Cell* value, const CopyArgs& args) {
  if (args.types && !args.types->is(kTypeDatatype) && !args.types->is(kTypeTypeset))
    raise_error(kErrScriptInvalidArg, args.types);
  if (args.deep && cycle_stack_find(value->node())) raise_error(kErrInternalNoCycle);
  series_copy(value, args);
  if (!args.deep && !args.types) return args.result;
  if (args.result->is(kTypeHash)) {
    args.result->set_type(kTypeBlock);
    block_set_hash_index(args.result, 0);
  }
  if (!args.deep) {
    block_deep_copy_types(args.result->node(), 0, series_total_cells(args.result), 1, false, args.types);
    return args.result;
  }
  CycleGuard guard(value->node());
  if (args.types)
    block_deep_copy_types(args.result->node(), 0, series_total_cells(args.result), 1, true, args.types);
  else
    deep_copy_cells(args.result);
  return args.result;
}

// ---------------------------------------------------------------- sort

namespace {

// What a sort compares, shared by the comparator and the locate callback.
struct SortState {
  Node node;
  int32_t start;   // absolute index of the first record's first cell
  int32_t size;    // cells per record
  int32_t offset;  // the cell of each record compared (without /all)
  bool all;
  bool reverse;
  CompareOp op;
  Cell* left;  // stack cells the compared cells are copied into
  Cell* right;
  const Cell* function;  // a comparator function, or null
  Cell* result;          // its answer (stack cell)
  Cell* record_a;        // /all with a function: the two records as blocks (stack cells)
  Cell* record_b;
  CompareFn direct;  // plain keys of one type: that type's compare handler
};

// The records' first cell in the buffer as it is now, or null when the block
// no longer holds them (the sort then raises script past-end).
void* locate_records(intptr_t owner, size_t n, size_t width) {
  const SortState& s = *reinterpret_cast<const SortState*>(owner);
  SeriesBuffer* b = series_buffer(s.node);
  if (uint64_t(s.start) * sizeof(Cell) + uint64_t(n) * width > b->used()) return nullptr;
  return b->head_cell() + s.start;
}

// The cell at absolute [i] of the sorted block, copied into [out]; raises
// script past-end when the block was cut below it.
void load_cell(const SortState& s, int64_t i, Cell* out) {
  SeriesBuffer* b = series_buffer(s.node);
  if (i >= int32_t(b->cell_count())) raise_error(kErrScriptPastEnd);
  *out = b->head_cell()[i];
}

// The order of two cells: their type's answer, or for values it cannot order
// the difference of their type ids; negated with /reverse.
int order_cells(const SortState& s) {
  int r = action_compare_values(s.left, s.right, s.op);
  if (r == kNotComparable) r = int(s.left->type()) - int(s.right->type());
  return s.reverse ? -r : r;
}

// MAY ALLOCATE. Makes the block [out] hold the cells of the record at [i].
void load_record(const SortState& s, int64_t i, Cell* out) {
  block_truncate(out, 0);
  for (int32_t j = 0; j < s.size; j++) {
    Cell c;
    load_cell(s, i + j, &c);
    block_append_value(out, &c);
  }
}

// MAY RUN KIV CODE. The order of the records at [ia] and [ib] through the
// comparator function: given the second record's value first (the first's
// with /reverse), and the records themselves as blocks with /all.
int order_by_function(const SortState& s, int64_t ia, int64_t ib) {
  Cell *a = s.left, *b = s.right;
  if (s.all) {
    load_record(s, ia, s.record_a);
    load_record(s, ib, s.record_b);
    a = s.record_a, b = s.record_b;
  } else {
    load_cell(s, ia + s.offset, s.left);
    load_cell(s, ib + s.offset, s.right);
  }
  return sort_compare_by_function(s.function, s.reverse ? a : b, s.reverse ? b : a, s.result);
}

// The sort engines' comparator: records [a] and [b] point into the block's
// buffer at the call. Anything that may allocate reads by index afterwards.
int compare_records(const void* a, const void* b, intptr_t context, uint32_t) {
  const SortState& s = *reinterpret_cast<const SortState*>(context);
  const Cell* x = static_cast<const Cell*>(a);
  const Cell* y = static_cast<const Cell*>(b);
  if (!s.all && !s.function) {
    *s.left = x[s.offset];
    *s.right = y[s.offset];
    return order_cells(s);
  }
  const Cell* base = series_cells(s.node);
  int64_t ia = x - base, ib = y - base;
  if (s.function) return order_by_function(s, ia, ib);
  for (int32_t j = 0; j < s.size; j++) {
    load_cell(s, ia + j, s.left);
    load_cell(s, ib + j, s.right);
    if (int r = order_cells(s)) return r;
  }
  return 0;
}

// The order of two plain cells (see plain_key_q), read where they lie: their
// compare handlers neither allocate nor write, so the cells stay put.
inline int order_plain(const SortState& s, const Cell* x, const Cell* y) {
  Cell* a = const_cast<Cell*>(x);
  Cell* b = const_cast<Cell*>(y);
  int r = s.direct ? s.direct(a, CompareArgs{b, s.op}) : action_compare_values(a, b, s.op);
  if (r == kNotComparable) r = int(x->type()) - int(y->type());
  return s.reverse ? -r : r;
}

// The comparator of the in-place engines: nothing it calls allocates (see
// plain_keys_q), so [a] and [b] stay valid throughout.
int compare_plain_records(const void* a, const void* b, intptr_t context, uint32_t) {
  const SortState& s = *reinterpret_cast<const SortState*>(context);
  const Cell* x = static_cast<const Cell*>(a);
  const Cell* y = static_cast<const Cell*>(b);
  if (!s.all) return order_plain(s, x + s.offset, y + s.offset);
  for (int32_t j = 0; j < s.size; j++)
    if (int r = order_plain(s, x + j, y + j)) return r;
  return 0;
}

// compare_plain_records for one key cell per record of a single type: its
// handler called straight away (the common sort of numbers or characters).
template <bool Reverse>
int compare_direct_keys(const void* a, const void* b, intptr_t context, uint32_t) {
  const SortState& s = *reinterpret_cast<const SortState*>(context);
  Cell* x = const_cast<Cell*>(static_cast<const Cell*>(a)) + s.offset;
  Cell* y = const_cast<Cell*>(static_cast<const Cell*>(b)) + s.offset;
  int r = s.direct(x, CompareArgs{y, s.op});
  if (__builtin_expect(r == kNotComparable, 0)) r = int(x->type()) - int(y->type());
  return Reverse ? -r : r;
}

// Sorts [count] integer! cells at [cells] by value, descending with
// [reverse]; equal ones keep their order with [stable]. Nothing here
// allocates series, so the cells stay put.
void sort_integer_cells(Cell* cells, size_t count, bool reverse, bool stable) {
  auto less = [](const Cell& a, const Cell& b) { return integer_get(&a) < integer_get(&b); };
  auto greater = [](const Cell& a, const Cell& b) { return integer_get(&a) > integer_get(&b); };
  if (stable)
    reverse ? std::stable_sort(cells, cells + count, greater) : std::stable_sort(cells, cells + count, less);
  else
    reverse ? std::sort(cells, cells + count, greater) : std::sort(cells, cells + count, less);
}

// Types whose ordering never allocates or runs Kiv code, whatever they are
// compared with: records keyed only by them may be sorted in place by the
// fixed-address engines, which hold pointers into the buffer across
// comparisons. Any other key (words compare by their names' text, series by
// content) goes through the movable-array engines.
bool plain_key_q(TypeId t) {
  switch (t) {
    case kTypeInteger:
    case kTypeChar:
    case kTypeLogic:
    case kTypeNone:
    case kTypeUnset:
    case kTypeDatatype: return true;
    default: return false;
  }
}

// Whether every cell the sort compares is of a plain key type. When they all
// have one type that the compare action hands straight to the type's own
// handler (every plain type but logic!), that handler goes into [s].direct.
bool plain_keys_q(SortState* s, int64_t records) {
  const Cell* cells = series_cells(s->node) + s->start;
  TypeId first = records > 0 ? cells[s->all ? 0 : s->offset].type() : kTypeNil;
  bool one_type = true;
  auto check = [&](TypeId t) {
    one_type = one_type && t == first;
    return plain_key_q(t);
  };
  for (int64_t r = 0; r < records; r++) {
    const Cell* record = cells + r * s->size;
    if (!s->all) {
      if (!check(record[s->offset].type())) return false;
      continue;
    }
    for (int32_t j = 0; j < s->size; j++)
      if (!check(record[j].type())) return false;
  }
  if (one_type && first != kTypeLogic) s->direct = actions_of(first).compare;
  return true;
}

}  // namespace

Cell* block_sort(Cell* series, const SortArgs& args) {
  const SortPlan& plan = args.plan;
  int64_t start = plan.start, count = plan.count, size = plan.record;
  const Cell* function = plan.comparator;
  if (count / size < 2) return series;

  SeriesChange change(series, kOwnerSort, int32_t(start), int32_t(count));
  // Whole records only, should the owner's handler have cut the block.
  int32_t total = series_total_cells(series);
  count = std::clamp<int64_t>(total - start, 0, count) / size * size;
  if (count / size >= 2) {
    StackSave save;
    SortState s{};
    s.node = series->node();
    s.start = int32_t(start);
    s.size = int32_t(size);
    s.offset = plan.offset;
    s.all = args.all;
    s.reverse = args.reverse;
    s.op = args.case_ ? kCmpCaseSort : kCmpSort;
    s.left = stack_push();
    s.right = stack_push();
    s.function = function;
    if (function) {
      s.result = stack_push();
      if (args.all) {
        s.record_a = init_block(stack_push(), s.size);
        s.record_b = init_block(stack_push(), s.size);
      }
    }
    size_t records = size_t(count / size), width = size_t(size) * sizeof(Cell);
    intptr_t context = reinterpret_cast<intptr_t>(&s);
    if (!function && plain_keys_q(&s, int64_t(records)) && s.size == 1 &&
        s.direct == actions_of(kTypeInteger).compare) {
      // Integers alone: ordered by their values with the comparison inline.
      Cell* base = series_cells(s.node) + s.start;
      sort_integer_cells(base, records, s.reverse, args.stable);
    } else if (!function && plain_keys_q(&s, int64_t(records))) {
      void* base = series_cells(s.node) + s.start;
      SortComparator compare = compare_plain_records;
      if (s.direct && !s.all) compare = s.reverse ? compare_direct_keys<true> : compare_direct_keys<false>;
      if (args.stable)
        sort_merge(base, records, width, context, 0, compare);
      else
        sort_adaptive(base, records, width, context, 0, compare);
    } else {
      SortArray array{locate_records, context, records, width};
      if (args.stable)
        sort_merge_movable(array, context, 0, compare_records);
      else
        sort_adaptive_movable(array, context, 0, compare_records);
    }
    if (block_indexed_q(series)) {
      // The sorted cells' entries are stale: index the cells from the start again.
      int32_t now = series_total_cells(series);
      hashtable_remove_range(block_hash_index(series), int32_t(start), now - int32_t(start));
      hashtable_put_block(block_hash_index(series), int32_t(start), 1);
    }
  }
  change.done(int32_t(start), int32_t(count));
  return series;
}

}  // namespace kiv
