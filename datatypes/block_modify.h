// block! search and modification: the handlers block! registers for append,
// insert, change, copy, find, put, select, sort, swap, take and trim (paren!,
// the path types and hash! inherit them), and the set operations behind the
// natives unique, union, intersect, exclude and difference.
//
// Shared rules (datatypes/block_modify.cpp, datatypes/block_search.cpp):
// - Every argument is checked before anything changes.
// - A head below 0 reads as the first cell and a head past the tail as the
//   tail; no handler reads or writes outside the buffer's cells.
// - Every writer tells an owning object before and after the change (the
//   action's word, then its past tense), re-reads the block after the first
//   notification (the owner's handler may have changed it) and keeps a hash!
//   index in step.
// - A source that shares the destination's buffer (a block inserted into,
//   appended to or changing itself) is read as if it had been copied first.
#pragma once

#include <cstdint>

#include "datatypes/action_slots.h"
#include "datatypes/series.h"
#include "runtime/cell.h"

namespace kiv {

// ---------------------------------------------------------------- modification (block_modify.cpp)

// MAY ALLOCATE, MAY RUN KIV CODE. append ([append] true) and insert: the
// cells of a block-family [value] from its head (the value itself with
// [only], or when it is not a block), at most [part] of them (an integer!
// normalised by the entry; negative or larger: all), [dup] times (an
// integer!; below 1 adds nothing). append leaves the head where it was;
// insert moves it past the new cells. Returns [series].
Cell* block_insert(Cell* series, const InsertArgs& args);
// MAY ALLOCATE, MAY RUN KIV CODE. change: replaces cells from the head with
// the value's cells (or the value, [only]) repeated [dup] times; [part] (an
// integer!) says how many cells go, else as many as come in. The head ends
// past the new cells. Returns [series].
Cell* block_change(Cell* series, const ChangeArgs& args);
// MAY ALLOCATE, MAY RUN KIV CODE (copies of nested values). copy: series!'s
// copy of the cells (/part), then with [deep] every nested series replaced by
// its deep copy, or with [types] only the values of the datatype! or typeset!
// given (deep with [deep]). A block met again inside itself raises internal
// no-cycle. A hash! copied with [deep] or [types] becomes a block!; otherwise
// it stays a hash! without an index yet (hash!'s own copy gives it one).
// Writes [result] and returns it.
Cell* block_copy(Cell* value, const CopyArgs& args);
// MAY ALLOCATE, MAY RUN KIV CODE. put: sets the value after [key] (found from
// the head as one value, as find/only does, case-sensitively with [case_]) to
// [value], or appends the key and the value. Returns [value].
Cell* block_put(Cell* series, const PutArgs& args);
// MAY ALLOCATE, MAY RUN KIV CODE. sort of the cells (or /skip records) from
// the head: /part, /case, /reverse, /all, /stable, /compare with the offset
// of the cell to compare in each record. /compare with a function raises
// internal not-done until the interpreter exists. Returns [series].
Cell* block_sort(Cell* series, const SortArgs& args);
// MAY RUN KIV CODE. swap: exchanges the head cells of [series1] and of the
// block-family [series2]. Returns [series1].
Cell* block_swap(Cell* series1, const SwapArgs& args);
// MAY ALLOCATE, MAY RUN KIV CODE. take: series!'s take; [deep] replaces every
// series taken by its deep copy; without [part] a single cell taken comes back
// as its value. Returns the result (none when the block is empty from its head).
Cell* block_take(Cell* series, const TakeArgs& args);
// MAY RUN KIV CODE. trim: removes every none! cell from the head on; the
// refinements change nothing for blocks. Returns [series].
Cell* block_trim(Cell* series, const TrimArgs& args);

// ---------------------------------------------------------------- search (block_search.cpp)

// MAY ALLOCATE, MAY RUN KIV CODE. find with every refinement: writes the first
// slot with the series at the match (after it with /tail), or none.
Cell* block_find(Cell* series, const FindArgs& args);
// MAY ALLOCATE, MAY RUN KIV CODE. select: the cell after the match (after the
// whole sequence for a block-family value without /only), or none, in the
// first slot.
Cell* block_select(Cell* series, const SelectArgs& select_args);

// MAY ALLOCATE, MAY RUN KIV CODE. The set operation on the cells from the heads
// of the block-family [set1] and [set2] ([set2] unused by unique), in records
// of args.skip cells identified by their first cell, matched case-sensitively
// with args.case_. Each record whose first cell is not yet in the result is
// added whole. The result (a hash! with its index when [set1], or for the
// two-block operations [set2], is a hash!; else a block!) at head 0 replaces
// [set1], which is returned. Called through series_set_op.
Cell* block_set_op(Cell* set1, Cell* set2, const SetOpArgs& args);

}  // namespace kiv
