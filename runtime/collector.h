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

// ---------------------------------------------------------------- stress modes
// Debug aids switched on at run time; the KIV_GC_STRESS build starts with kMove
// on. The modes form a set:
//   kMove            collect at every series allocation, moving every live
//                    buffer to other frames and poisoning the old ones, so a
//                    pointer kept across an allocation is caught at once;
//   kFailAllocation  series allocation number n, counted from the call, raises
//                    internal no-memory as an exhausted heap does, and the mode
//                    switches itself off.
enum class StressMode { kNone, kMove, kFailAllocation };
// Switches [mode] on, with its count [n] for kFailAllocation (0 disarms it);
// kNone switches every mode off.
void gc_set_stress_mode(StressMode mode, uint64_t n = 0);
// kMove on, or every mode off.
void gc_set_stress(bool on);
bool gc_stress_move_q();
// Series allocations left up to and including the one that fails; 0 when none is armed.
uint64_t gc_stress_fail_countdown();
// Switches modes on from text (the KIV_GC_STRESS environment variable): "move",
// "fail:N", or both joined by a comma; "" and "none" switch none on. Other text
// changes nothing and gives false.
bool gc_parse_stress(const char* text);

extern bool g_stress_armed;  // some stress mode is on
void gc_stress_allocation();
// Called at the start of every series allocation. MAY COLLECT; MAY RAISE internal no-memory.
inline void gc_stress_point() {
  if (g_stress_armed) gc_stress_allocation();
}

// Unmaps the free series frames the collector keeps for reuse (recycle calls
// this after its collection, to give the memory back now).
void gc_release_free_frames();

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
