// float!: the 64-bit IEEE double, and the storage and handlers float!,
// percent! and time! share (percent! and time! inherit float!'s row).
//
// Value cell (float! 12, percent! 38, time! 43):
//   header  type id; setting a float result replaces the whole header
//   word 1  unused
//   words 2-3  the double, low word first (percent!: the fraction itself;
//              time!: seconds)
#pragma once

#include <cstdint>
#include <cstring>

#include "datatypes/action_slots.h"
#include "runtime/cell.h"
#include "runtime/float_text.h"

namespace kiv {

// ---------------------------------------------------------------- storage

// The double of a float!, percent! or time! cell.
inline double float_get(const Cell* cell) {
  double d;
  std::memcpy(&d, &cell->data2, sizeof d);
  return d;
}
// Stores [d] in words 2-3 of [cell], leaving its header alone.
inline void float_set(Cell* cell, double d) { std::memcpy(&cell->data2, &d, sizeof d); }
// A cell of [type] (float! unless said otherwise) holding [d].
inline Cell float_cell(double d, TypeId type = kTypeFloat) {
  Cell c = make_cell(type);
  float_set(&c, d);
  return c;
}
// Makes [cell] a float! (whole header replaced) holding [d]; returns it.
inline Cell* float_set_cell(Cell* cell, double d) {
  *cell = float_cell(d);
  return cell;
}
// Pushes a float! on the data stack.
Cell* float_push(double d);
// Appends a float! to the block [block]; returns the new cell.
Cell* float_make_at(const Cell* block, double d);

// ---------------------------------------------------------------- predicates

inline double float_abs(double d) {
  uint64_t bits;
  std::memcpy(&bits, &d, sizeof bits);
  bits &= ~(uint64_t(1) << 63);
  std::memcpy(&d, &bits, sizeof d);
  return d;
}
bool float_nan_q(double d);
bool float32_nan_q(float f);
// Infinity of either sign, or NaN.
bool float_special_q(double d);
// The tolerant equality of float!, percent!, time!, date! and the points:
// never with NaN; exact equality; a difference below 2.220446049250313e-16;
// or at most 10 units in the last place apart.
bool float_almost_equal(double a, double b);
bool float32_almost_equal(float a, float b);

// A float! (or percent!) is range-checked and truncated toward zero: script
// out-of-range with the value when it lies outside int32 or is NaN. Any other
// value gives its integer (an integer!'s own value).
int32_t float_to_int(const Cell* value);

// ---------------------------------------------------------------- text

// What float_form writes a number for.
enum FloatFormKind : int {
  kFormFloat32 = 0,    // a 32-bit vector! element
  kFormFloat = 1,      // float! and 64-bit float elements
  kFormPercent32 = 2,  // a 32-bit percent element (value x 100)
  kFormPercent = 3,    // percent! and 64-bit percent elements (value x 100)
  kFormSeconds = 4,    // the seconds of a time!
  kFormPoint = 5,      // point2D! and point3D! coordinates
};
// The "pretty?" option (system/options/float): on at start.
extern bool g_float_pretty;
// The "full?" option (system/options/float): off at start; nothing reads it yet.
extern bool g_float_full;
// The form text of [d] as [kind] asks (percent kinds end in "%").
FloatText float_form(double d, FloatFormKind kind);

// ---------------------------------------------------------------- arithmetic

// 0 add, 1 subtract, 2 multiply, 3 divide, 4 remainder on two doubles, IEEE
// throughout (a zero divisor gives infinity or NaN); any other op raises
// script cannot-use with the current action's word and float!.
double float_math_op(double a, double b, int op);
// The arithmetic of float!, percent!, time! and an integer! handed over:
// [left] is the first argument slot (result), [right] the second.
Cell* float_do_math(Cell* left, Cell* right, int op);
// A random double between 0 and [max] (point2D!/point3D! use it too).
double float_random_value(double max, bool secure);

// ---------------------------------------------------------------- handlers

Cell* float_make(Cell* proto, const MakeArgs& args);
Cell* float_random(Cell* value, const RandomArgs& args);
int32_t float_form_action(Cell* value, const FormArgs& args);
int32_t float_mold(Cell* value, const MoldArgs& args);
int float_compare(Cell* value, const CompareArgs& args);
Cell* float_absolute(Cell* value, const NoneArgs& args);
Cell* float_negate(Cell* value, const NoneArgs& args);
Cell* float_power(Cell* value, const PowerArgs& args);
// round for float!, percent!, time!, integer! (with a non-integer /to) and
// the points.
Cell* float_round(Cell* value, const RoundArgs& args);
bool float_even_q(Cell* value, const NoneArgs& args);
bool float_odd_q(Cell* value, const NoneArgs& args);

}  // namespace kiv
