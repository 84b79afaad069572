// The profiler's event handling in C++ (profiler.cpp), standing in for the
// tracer function system/tools/profiler.
#pragma once

namespace kiv {

// MAY ALLOCATE. Start-up, once the library's texts ran: the profiler's
// events go to C++ whenever system/tools/profiler is the tracer.
void profiler_init();

}  // namespace kiv
