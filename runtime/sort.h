// The two sort engines of the runtime: an in-place unstable sort (plain `sort`)
// and a stable merge sort (`sort/stable`), over raw arrays of fixed-width records.
//
// The engines know nothing of values. A record is [width] bytes (one string unit:
// 1, 2 or 4; one cell or a /skip group: 16 x k); every comparison goes through
// the caller's comparator, which gets the context and flags words unchanged.
//
// Comparator contract: cmp(a, b, context, flags) answers as a three-way order:
//   < 0  a goes before b       0  a and b are equivalent       > 0  a goes after b.
// sort_merge only asks "> 0" (take the left record when the answer is at most 0);
// sort_adaptive and sort_quick also group records that answer 0 against the pivot,
// so a comparator that means "a may stay before b" must answer below 0 for it, and
// 0 only for records that are truly interchangeable.
//
// Robustness, whatever the comparator answers (random results, always 1, ...):
// no engine reads or writes outside [base, base + n x width), and the array always
// ends as a permutation of its records. A comparator may raise (errors travel as
// the C++ exception kiv::KivThrow): the exception propagates out of the sort, the
// array may be partly sorted, but no record is lost or duplicated and the merge
// buffer is freed.
//
// The fixed-address entries (sort_adaptive, sort_merge, sort_quick) hold raw
// pointers into the array across comparator calls, so their comparator must not
// allocate, run Kiv code or otherwise move or resize the buffer holding the
// records. When the comparator can run Kiv code, use the movable-array entries
// (sort_adaptive_movable, sort_merge_movable) below.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kiv {

// Three-way order of records [a] and [b] (see the contract above).
using SortComparator = int (*)(const void* a, const void* b, intptr_t context, uint32_t flags);

// In-place unstable sort of [n] records of [width] bytes at [base]. Allocates
// nothing. Ordered or nearly ordered input (either direction) is recognised from
// its leading run and a sample of every 97th pair and repaired by run reversal and
// merging; the rest goes to sort_quick.
void sort_adaptive(void* base, size_t n, size_t width, intptr_t context, uint32_t flags, SortComparator cmp);

// Stable sort: records that compare at most 0 keep their input order. Natural runs
// (strictly descending ones reversed) merged through a heap buffer of
// (n / 2) x width bytes, freed on every exit; ordered input in either direction
// takes n - 1 comparisons.
// Raises script too-long when that size exceeds 32 bits, internal no-memory when
// malloc refuses it.
void sort_merge(void* base, size_t n, size_t width, intptr_t context, uint32_t flags, SortComparator cmp);

// In-place unstable sort, told that the first [presorted] records are already in
// order (0 or 1 when nothing is known; the hint is trusted). Quicksort with
// branch-free partitioning, runs of records equal to a pivot gathered once and not
// partitioned again, insertion sort at 7 records or fewer, heapsort past a depth
// limit; with a hint of 2 or more the unsorted tail is sorted and then merged in
// place with the ordered front. Allocates nothing (merges through a 4 KB stack
// buffer and rotations).
void sort_quick(void* base, size_t presorted, size_t n, size_t width, intptr_t context, uint32_t flags,
                SortComparator cmp);

// Movable arrays: records in a buffer that the comparator may move or shrink
// (comparators that run Kiv code can allocate, and allocation can move every
// buffer to a new address).
//
// The movable entries sort by index: they sort an array of 32-bit record indices
// and leave the records themselves where they are until the last comparator call
// has returned; then they locate the buffer once more and permute the records in
// place (no comparator runs, nothing allocates during that permutation). So while
// Kiv code runs every record is in the series exactly once (the collector sees
// each one, none is parked in C++ memory), and an error raised by the comparator
// leaves the array untouched.
//
// Before every comparator call the buffer is located again through [locate]; when
// it answers nullptr (the array no longer holds [n] records) the sort raises
// script past-end. The record pointers handed to the comparator point into the
// buffer: they are valid until the comparator allocates or runs Kiv code, so it
// copies (and roots) the two records first.
//
// Costs: one heap block of 4 x n bytes (plus 2 x n for the stable sort's merge
// buffer, plus one record); raises script too-long when n does not fit 32 bits or
// the size overflows, internal no-memory when malloc refuses it.

// The current address of the first of [n] records of [width] bytes owned by
// [owner], or nullptr when the array no longer holds them. MUST NOT allocate or run
// Kiv code.
using SortLocate = void* (*)(intptr_t owner, size_t n, size_t width);

struct SortArray {
  SortLocate locate;
  intptr_t owner;  // passed to locate unchanged, e.g. a series node handle
  size_t n;        // number of records
  size_t width;    // bytes per record
};

// sort_adaptive over a movable array. MAY RUN KIV CODE (through [cmp]).
void sort_adaptive_movable(const SortArray& array, intptr_t context, uint32_t flags, SortComparator cmp);

// sort_merge over a movable array. MAY RUN KIV CODE (through [cmp]).
void sort_merge_movable(const SortArray& array, intptr_t context, uint32_t flags, SortComparator cmp);

}  // namespace kiv
