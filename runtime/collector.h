// The garbage collector: stop-the-world mark and compact over the series frames.
//
// Roots, in marking order: the root block, the live data-stack cells, the call
// frames, the Root guards and rooted vectors of C++ code, and the registered
// mark callbacks. Marking sets the mark bit of each reachable buffer; the
// compaction then slides live buffers down (or into the previous frame's free
// tail) and points their nodes at the new addresses. Handles never move, so no
// cell is rewritten: only the node table. Dead series give their nodes back.
//
// Collection runs only while the collector is active (start-up switches it on
// once the base environment is built), except on an explicit request.
#pragma once

#include <cstddef>
#include <cstdint>

#include "runtime/cell.h"

namespace kiv {

extern bool g_collector_active;
// Symbol id of `self`: a word bound as `self` names its object's block, not a context.
extern uint32_t g_self_symbol;

// Runs a full collection now. INVALIDATES every SeriesBuffer* and pointer into series data.
void gc_collect();
// Runs a collection only while the collector is active. Called by the allocator.
void collect_if_enabled();
// True while a collection runs.
bool collecting_q();
// Number of collections so far.
uint32_t gc_collection_count();

// Called at the start of every series allocation: in a stress build it collects
// (moving every live buffer) each time, so a missing root shows up at once.
#if defined(KIV_GC_STRESS)
void gc_stress_point();
#else
inline void gc_stress_point() {}
#endif
// Stress modes switched on at run time (debug aid; the KIV_GC_STRESS build turns
// on "move" for the whole run): collect and move every live buffer at every allocation.
void gc_set_stress(bool on);

// ---------------------------------------------------------------- marking primitives
// Called by mark callbacks and by datatype mark routines. They never allocate.

// Sets the mark of [node]'s buffer; true when it was not set before. 0 is ignored.
bool gc_mark_series(Node node);
// gc_mark_series, then the cells of a newly marked block.
void gc_mark_block(Node node);
// A context: its node, symbol index, values (unless stack-held) and self cell.
void gc_mark_context(Node node);
// The references of every cell in [first, last).
void gc_mark_cells(const Cell* first, const Cell* last);
void gc_mark_cell(const Cell* cell);

// A datatype whose cells refer to something the generic table does not know
// registers its own routine (called for every live cell of that type).
using MarkCellFn = void (*)(const Cell* cell);
void gc_register_mark_cell(TypeId type, MarkCellFn fn);

// Called once per collection, after the fixed roots: mark what a module keeps.
using MarkCallback = void (*)();
inline constexpr int kMarkCallbackMax = 100;
void add_mark_callback(MarkCallback fn);
void remove_mark_callback(MarkCallback fn);

// Called after marking, before compaction: drop what refers to dead series
// (owner records, resources). [is_live] tells whether a node survived.
using SweepCallback = void (*)();
void add_sweep_callback(SweepCallback fn);
// During a collection's sweep phase: true when [node]'s buffer is marked.
bool gc_node_marked(Node node);

// Checks the heap: every live buffer's node points back at it, sizes are within
// capacities, every cell has a valid type id and names live nodes. Returns the
// number of faults found (0 for a sound heap); prints the first few.
int gc_verify();

// Memory statistics. Mode 1: the bytes in use. Modes 2 and up also append the
// per-frame details to [result] (a block cell). MAY ALLOCATE (with the collector off).
double memory_stats(Cell* result, int mode);

}  // namespace kiv
