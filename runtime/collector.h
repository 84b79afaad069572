// The garbage collector's interface to the rest of the runtime.
//
// Collection runs only while the collector is active (start-up switches it on
// once the base environment is built), except on an explicit request.
#pragma once

#include <cstdint>

namespace kiv {

extern bool g_collector_active;

// Runs a full collection now. INVALIDATES every SeriesBuffer* and pointer into series data.
void gc_collect();
// Runs a collection only while the collector is active. Called by the allocator.
void collect_if_enabled();
// True while a collection runs.
bool collecting_q();

// Called at the start of every series allocation: in a stress build it collects
// (moving every live buffer) each time, so a missing root shows up at once.
#if defined(KIV_GC_STRESS)
void gc_stress_point();
#else
inline void gc_stress_point() {}
#endif

}  // namespace kiv
