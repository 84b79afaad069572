// point2D! and point3D!: coordinates as IEEE single-precision floats.
//
// Value cell (point2D! 51, point3D! 52):
//   header  type id
//   word 1  x, the bits of a 32-bit float
//   word 2  y
//   word 3  z for point3D!; unused for point2D!
//
// The two types are twins: every function here serves both, by the type of
// the point it is given. Arithmetic is done in doubles through float!'s
// operations and stored back as 32-bit floats.
#pragma once

#include <bit>
#include <cstdint>

#include "datatypes/action_slots.h"
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

// Makes [cell] a point2D! (x, y) or a point3D! (x, y, z), keeping its header
// flags; returns it.
Cell* point2d_init(Cell* cell, float x, float y);
Cell* point3d_init(Cell* cell, float x, float y, float z);
// Pushes a new point on the data stack; returns it.
Cell* point2d_push(float x, float y);
Cell* point3d_push(float x, float y, float z);

// The number of an integer! or float! (or percent!) cell as a 32-bit float.
float point_number_to_float32(const Cell* number);

// The arithmetic of the point [left] with [right] under [op] (0 add ... 4
// remainder), written into [left]; returns [left]. [right] gives one operand
// for every coordinate (an integer!, or a float! or percent!, which multiplies
// or divides each coordinate as a 32-bit float) or one per coordinate (a point
// of [left]'s type, or for a point2D! a pair!). Each coordinate follows
// float!'s arithmetic (float_math_op) and is stored as a 32-bit float. Any
// other [right] raises script invalid-type. integer!, float! and pair! hand
// their point operations here.
Cell* point_do_math(Cell* left, Cell* right, int op);
// Each coordinate of [point] becomes 0.0 less it (+0.0 stays +0.0), in place.
Cell* point_negate(Cell* point, const NoneArgs& args);

}  // namespace kiv
