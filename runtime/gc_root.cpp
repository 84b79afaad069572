// Root guards: two intrusive stacks, marked by the collector.
#include "runtime/gc_root.h"

#include "runtime/collector.h"
#include "runtime/fatal.h"
#include "runtime/memory.h"

namespace kiv {

uint32_t g_no_gc_depth = 0;

namespace {
Root* g_roots = nullptr;
RootedCells* g_rooted = nullptr;
NodeRoot* g_node_roots = nullptr;
size_t g_depth = 0;
}  // namespace

Root::Root(Cell value) : cell_(value), prev_(g_roots) {
  g_roots = this;
  g_depth++;
}

Root::~Root() {
  fatal_assert(g_roots == this);
  g_roots = prev_;
  g_depth--;
}

RootedCells::RootedCells() : prev_(g_rooted) {
  g_rooted = this;
  g_depth++;
}

RootedCells::~RootedCells() {
  fatal_assert(g_rooted == this);
  g_rooted = prev_;
  g_depth--;
  cells_.release();
}

NodeRoot::NodeRoot(Node node, Kind kind) : node_(node), kind_(kind), prev_(g_node_roots) {
  g_node_roots = this;
  g_depth++;
}

NodeRoot::~NodeRoot() {
  fatal_assert(g_node_roots == this);
  g_node_roots = prev_;
  g_depth--;
}

void mark_root_guards() {
  for (Root* r = g_roots; r; r = r->prev_) gc_mark_cell(&r->cell_);
  for (RootedCells* v = g_rooted; v; v = v->prev_) gc_mark_cells(v->cells_.begin(), v->cells_.end());
  for (NodeRoot* n = g_node_roots; n; n = n->prev_) {
    switch (n->kind_) {
      case NodeRoot::kSeries: gc_mark_series(n->node_); break;
      case NodeRoot::kBlock: gc_mark_block(n->node_); break;
      case NodeRoot::kTable: gc_mark_table(n->node_); break;
    }
  }
}

size_t root_guard_depth() { return g_depth; }

}  // namespace kiv
