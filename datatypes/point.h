// point2D! and point3D!: coordinates as IEEE single-precision floats.
//
// Value cell (point2D! 51, point3D! 52):
//   header  type id
//   word 1  x, the bits of a 32-bit float
//   word 2  y
//   word 3  z for point3D!; unused for point2D!
//
// Only storage and hashing stand here so far (datatypes/point.cpp).
#pragma once

#include <bit>
#include <cstdint>

#include "runtime/cell.h"

namespace kiv {

inline Cell point2d_cell(float x, float y) {
  return make_cell(kTypePoint2D, std::bit_cast<uint32_t>(x), std::bit_cast<uint32_t>(y));
}
inline Cell point3d_cell(float x, float y, float z) {
  return make_cell(kTypePoint3D, std::bit_cast<uint32_t>(x), std::bit_cast<uint32_t>(y),
                   std::bit_cast<uint32_t>(z));
}
inline float point_x(const Cell* point) { return std::bit_cast<float>(point->data1); }
inline float point_y(const Cell* point) { return std::bit_cast<float>(point->data2); }
// z of a point3D!.
inline float point_z(const Cell* point) { return std::bit_cast<float>(point->data3); }

}  // namespace kiv
