// Memory statistics: the bytes in use and the per-frame details.
#pragma once

#include "runtime/cell.h"

namespace kiv {

// Mode 1: the bytes in use. Modes 2 and up also append to [result] (a block
// cell) a block of [free used capacity] per node frame, one per series frame,
// a block of big-buffer sizes, the total bytes held and the platform-heap
// bytes. MAY ALLOCATE (with the collector paused).
double memory_stats(Cell* result, int mode);

}  // namespace kiv
