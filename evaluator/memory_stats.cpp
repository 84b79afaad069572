// Memory statistics as Kiv values: the figures the stats native reports.
#include "evaluator/memory_stats.h"

#include <initializer_list>

#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "runtime/collector.h"
#include "runtime/memory.h"

namespace kiv {

namespace {

// A count as an integer! while it fits, else as a float!.
Cell number_cell(double v) { return v <= 2147483647.0 ? integer_cell(int32_t(v)) : float_cell(v); }

// Appends a new block to [parent] and returns its node. MAY ALLOCATE.
Node append_block(Node parent, uint32_t capacity, bool new_line) {
  Node inner = series_alloc_cells(capacity);
  Cell* c = append_cell(parent);
  *c = series_cell(kTypeBlock, inner);
  if (new_line) c->header |= kFlagNewLine;
  return inner;
}

void append_numbers(Node parent, std::initializer_list<double> values) {
  Node inner = append_block(parent, uint32_t(values.size()), true);
  for (double v : values) *append_cell(inner) = number_cell(v);
}

}  // namespace

double memory_stats(Cell* result, int mode) {
  // Every append below may allocate, which never collects here but may add
  // frames: lists are walked by position, not by pointer.
  CollectorPause pause;
  double used = 0;
  for (NodeFrame* f = g_memory.first_node_frame; f; f = f->next) used += 4.0 * f->in_use;
  for (SeriesFrame* f = g_memory.first_series_frame; f; f = f->next) used += double(f->heap - f->area());
  for (BigBlock* b = g_memory.big_buffers; b; b = b->next) used += double(b->size);
  if (mode >= 2 && result) {
    Node root = result->node();
    double total = 0;
    Node nodes = append_block(root, 8, false);
    for (NodeFrame* f = g_memory.first_node_frame; f; f = f->next) {
      append_numbers(nodes, {double(f->capacity - f->in_use), double(f->in_use), double(f->capacity)});
      total += 4.0 * f->capacity + 36;
    }
    Node frames = append_block(root, 8, false);
    for (SeriesFrame* f = g_memory.first_series_frame; f; f = f->next) {
      double area = double(f->end - f->area());
      double in_use = double(f->heap - f->area());
      append_numbers(frames, {area - in_use, in_use, area});
      total += area + 20;
    }
    Node bigs = append_block(root, 8, false);
    for (BigBlock* b = g_memory.big_buffers; b; b = b->next) {
      *append_cell(bigs) = number_cell(double(b->size));
      total += double(b->size) + 12;
    }
    total += double(heap_bytes());
    *append_cell(root) = number_cell(total);
    *append_cell(root) = number_cell(double(heap_bytes()));
  }
  return used;
}

}  // namespace kiv
