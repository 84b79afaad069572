// Roots for values held in C++ locals.
//
// A value that lives only in a C++ variable is invisible to the collector. Root
// holds one cell and keeps it reachable (and its contents current) for the
// guard's lifetime; RootedCells does the same for many. Guards nest strictly
// (LIFO); a guard destroyed out of order is a fatal assertion.
#pragma once

#include <cstddef>

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
  Node node() const { return cell_.data2; }

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

  void push(const Cell& c);
  Cell& operator[](size_t i) { return cells_[i]; }
  size_t size() const { return size_; }
  void clear() { size_ = 0; }

 private:
  friend void mark_root_guards();
  Cell* cells_ = nullptr;
  size_t size_ = 0;
  size_t capacity_ = 0;
  RootedCells* prev_;
};

// Marks every live guard. Called by the collector.
void mark_root_guards();
// Number of live guards (balance checks in tests).
size_t root_guard_depth();

}  // namespace kiv
