// Collection scheduling. Marking and compaction are not built yet: a
// collection only counts itself and retires empty node frames.
#include "runtime/collector.h"

#include <atomic>

#include "runtime/memory.h"

namespace kiv {

bool g_collector_active = false;

namespace {
bool g_collecting = false;
}

void gc_collect() {
  if (g_collecting) return;
  g_collecting = true;
  std::atomic_thread_fence(std::memory_order_seq_cst);
  update_node_frames();
  g_memory.collection_count++;
  g_collecting = false;
  std::atomic_thread_fence(std::memory_order_seq_cst);
}

void collect_if_enabled() {
  if (g_collector_active) gc_collect();
}

bool collecting_q() { return g_collecting; }

#if defined(KIV_GC_STRESS)
void gc_stress_point() {
  if (g_collector_active && !g_collecting) gc_collect();
}
#endif

}  // namespace kiv
