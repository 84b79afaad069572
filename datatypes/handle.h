// handle!: an external resource named by index.
//
// Value cell (handle! 46):
//   header  type id
//   word 1  the kind (0 null, 1 fd, 2 monitor, 3 window, 4 font, 5 rich-text)
//   word 2  the value: the raw 32-bit handle
//   word 3  the index of its external-resource registry entry
//           (runtime/resources.h), or -1 when it has none
//
// Only storage and the collector hooks stand here so far.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace kiv {

inline uint32_t handle_value(const Cell* handle) { return handle->data2; }
inline int32_t handle_resource(const Cell* handle) { return int32_t(handle->data3); }
inline Cell handle_cell(uint32_t kind, uint32_t value, int32_t resource = -1) {
  return make_cell(kTypeHandle, kind, value, uint32_t(resource));
}

}  // namespace kiv
