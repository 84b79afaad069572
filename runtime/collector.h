// The garbage collector: stop-the-world mark and compact over the series frames.
//
// Roots, in marking order: the root block, the Root guards and rooted vectors
// of C++ code, and the registered mark callbacks (the data and call stacks
// among them). Marking sets the mark bit of each reachable node, in its node
// table entry; a sweep of the node table then frees the nodes left unmarked
// and lists the buffers of the others, and the compaction slides those buffers
// down (or into the previous frame's free tail) and points their nodes at the
// new addresses. Dead buffers are never read. Handles never move, so no cell
// is rewritten: only the node table.
// The collector knows no payload layout: a cell's references are marked by its
// type's mark hook (runtime/type_hooks.h).
//
// Collection runs only while the collector is active (start-up switches it on
// once the base environment is built), except on an explicit request.
#pragma once

#include <cstddef>
#include <cstdint>

#include "runtime/cell.h"

namespace kiv {

extern bool g_collector_active;

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

// Keeps the collector from running on allocation for the guard's lifetime (an
// explicit gc_collect still collects); restored on every exit, errors included.
class CollectorPause {
 public:
  CollectorPause() : was_(g_collector_active) { g_collector_active = false; }
  ~CollectorPause() { g_collector_active = was_; }
  CollectorPause(const CollectorPause&) = delete;
  CollectorPause& operator=(const CollectorPause&) = delete;

 private:
  bool was_;
};

// ---------------------------------------------------------------- marking primitives
// Called by the types' mark hooks (runtime/type_hooks.h) and by mark callbacks.
// They never allocate. During gc_verify they check each handle they are given
// (0, or a node in use of the right kind) instead of marking it.

// Marks [node], a series with no references inside it (its buffer is not
// read); true when it was not marked before. 0 and free nodes are ignored.
bool gc_mark_series(Node node);
// A series of value cells (a block, a context): marks it and, once, every cell
// from its head to its tail through the cells' hooks.
void gc_mark_block(Node node);
// A hash table (runtime/hashtable.h): its header, arrays and values.
void gc_mark_table(Node table);
// An external resource by registry index (runtime/resources.h).
void gc_mark_resource(uint32_t index);
// The references of every cell in [first, last), through their types' hooks.
void gc_mark_cells(const Cell* first, const Cell* last);
void gc_mark_cell(const Cell* cell);

// Called once per collection, after the root block and the Root guards: mark
// what a module keeps (the stacks, the last raised error, ...). gc_verify
// calls them too, with the primitives checking instead of marking.
using MarkCallback = void (*)();
inline constexpr int kMarkCallbackMax = 100;
void add_mark_callback(MarkCallback fn);
void remove_mark_callback(MarkCallback fn);

// Called after marking, before compaction: drop what refers to dead series
// (owner records, resources).
using SweepCallback = void (*)();
void add_sweep_callback(SweepCallback fn);
// During a collection's sweep phase: true when [node] is marked.
bool gc_node_marked(Node node);
// True when [node_ok] accepts every handle [cell]'s mark hook follows (with
// gc_node_marked during a sweep: a weak record naming the cell may stay).
bool gc_cell_refs_q(const Cell* cell, bool (*node_ok)(Node));

// ---------------------------------------------------------------- heap check

// Checks the heap: every buffer's node points back at it and its extent is
// within its capacity; every cell of every block (fixed ones included) has a
// valid type id, and every handle its type's mark hook follows names a live
// node; the same for every root (the root block, the mark callbacks' roots, the
// Root guards). Returns the number of faults found (0 for a sound heap) and
// prints the first few to stderr. Never allocates.
int gc_verify();
// True while gc_verify runs the hooks and callbacks as checks.
bool gc_verifying_q();
// Reports one fault found by a verify hook: [what] and two numbers that locate it.
void gc_verify_fault(const char* what, uintptr_t a, uintptr_t b);

}  // namespace kiv
