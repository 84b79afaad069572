// binary!: a series of bytes.
//
// Value cell (binary! 41):
//   header  type id
//   word 1  head index: a byte offset from the buffer's first byte
//   word 2  node of a buffer of unit 1
//   word 3  unused
//
// Only storage and the collector hooks stand here so far; the actions come
// with the binary unit (string!'s search and modification handlers already
// read bytes: datatypes/string.h).
#pragma once

#include "runtime/cell.h"

namespace kiv {

// A binary! over [node] at [head].
inline Cell binary_cell(Node node, int32_t head = 0) { return series_cell(kTypeBinary, node, head); }

}  // namespace kiv
