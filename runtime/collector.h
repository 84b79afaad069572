// The garbage collector: stop-the-world mark and compact over the series frames.
//
// Roots, in marking order: the root block, the Root guards and rooted vectors
// of C++ code, and the registered mark callbacks (the data and call stacks
// among them). Marking sets the mark bit of each reachable buffer; the
// compaction then slides live buffers down (or into the previous frame's free
// tail) and points their nodes at the new addresses. Handles never move, so no
// cell is rewritten: only the node table. Dead series give their nodes back.
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

// Sets the mark of [node]'s buffer (no references inside it); true when it was
// not set before. 0 is ignored.
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
// During a collection's sweep phase: true when [node]'s buffer is marked.
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
