// Keeping values alive and buffers in place across allocations: the rooting
// rules of the C++ code, as the code relies on them, and the guards that
// implement them.
//
// Any call marked MAY ALLOCATE (or MAY RUN KIV CODE) may collect, which frees
// every series no root reaches and moves every live buffer. A cell itself
// never moves with a collection: it holds handles, not addresses, so a copy
// of one stays valid exactly as long as the nodes it names live. So, by
// situation:
//
//   1. Arguments and results of a call, and the values a handler makes on the
//      way, live on the data stack (runtime/stack.h): stack_push and the
//      argument slots. The data stack never moves, so a Cell* into it stays
//      valid while the cell is on it. A StackSave puts the stack back when
//      the scope ends.
//   2. A C++ local cell (a copy of a slot, a stack cell or a root) is safe
//      across an allocation while the nodes it names are reachable elsewhere:
//      from the stack, a root, or a value that is. A value whose nodes only
//      the local holds (one just made, or copied out of a series that may
//      drop it) is pushed on the data stack, or held in a Root (one value)
//      or RootedCells (many), before the next allocation. A bare node that
//      no cell names yet (a hash table or array the runtime is building): a
//      NodeRoot.
//   3. A raw Cell* or uint8_t* into a series buffer is valid only until the
//      next allocation: copy the cell out, or keep (handle, index), before
//      anything allocates. Code that holds one across a stretch of work that
//      must not allocate says so with a NoGcScope: an allocation inside it is
//      a fatal assertion, not a silent dangling pointer.
//   4. C++ code that calls Kiv code (call_value, the sort comparator, the
//      tracer, the lexer's and PARSE's callbacks, the library calls) pushes
//      the arguments on the data stack and passes them from there; the call
//      copies the function and the arguments before anything allocates.
//   5. Work that must allocate without collecting (building a statistics
//      block while walking the frames) runs under a CollectorPause
//      (runtime/collector.h).
//   6. A C++ static that names a series is a registered root: a root block
//      slot or root table (runtime/root_block.h), or a mark callback.
//
// Root and RootedCells nest strictly (LIFO); a guard destroyed out of order is
// a fatal assertion. Their balance, and that of NoGcScope, is checked after
// every unit test.
#pragma once

#include <cstddef>
#include <cstdint>

#include "runtime/array.h"
#include "runtime/cell.h"

namespace kiv {

class Root {
 public:
  explicit Root(Cell value = Cell{kTypeNone, 0, 0, 0});
  ~Root();
  Root(const Root&) = delete;
  Root& operator=(const Root&) = delete;

  Cell* get() { return &cell_; }
  Cell* operator->() { return &cell_; }
  Cell& operator*() { return cell_; }
  Node node() const { return cell_.node(); }

 private:
  friend void mark_root_guards();
  Cell cell_;
  Root* prev_;
};

// A growable array of rooted cells (platform heap, never a series).
class RootedCells {
 public:
  RootedCells();
  ~RootedCells();
  RootedCells(const RootedCells&) = delete;
  RootedCells& operator=(const RootedCells&) = delete;

  void push(const Cell& c) { cells_.push(c); }
  Cell& operator[](size_t i) { return cells_[i]; }
  size_t size() const { return cells_.count; }
  void clear() { cells_.clear(); }

 private:
  friend void mark_root_guards();
  HeapArray<Cell> cells_;
  RootedCells* prev_;
};

// Keeps a bare node alive: a series of bytes (kSeries), a series of cells whose
// cells are marked too (kBlock), or a hash table with everything it names (kTable).
class NodeRoot {
 public:
  enum Kind : uint8_t { kSeries, kBlock, kTable };
  NodeRoot(Node node, Kind kind);
  ~NodeRoot();
  NodeRoot(const NodeRoot&) = delete;
  NodeRoot& operator=(const NodeRoot&) = delete;
  void set(Node node) { node_ = node; }

 private:
  friend void mark_root_guards();
  Node node_;
  Kind kind_;
  NodeRoot* prev_;
};

// Marks every live guard. Called by the collector.
void mark_root_guards();
// Number of live Root, RootedCells and NodeRoot guards (balance checks in tests).
size_t root_guard_depth();

// Depth of the NoGcScope guards now open; the allocator asserts it is 0.
extern uint32_t g_no_gc_depth;

// Declares that nothing allocates for the guard's lifetime (see rule 3 above).
class NoGcScope {
 public:
  NoGcScope() { g_no_gc_depth++; }
  ~NoGcScope() { g_no_gc_depth--; }
  NoGcScope(const NoGcScope&) = delete;
  NoGcScope& operator=(const NoGcScope&) = delete;
};

}  // namespace kiv
