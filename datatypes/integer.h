// integer!: the 32-bit signed integer, its action handlers, the shared integer
// arithmetic routine and the decimal text every number former uses.
//
// Value cell:
//   header  type id 11 (integer_set_cell keeps the flags; every other writer
//           replaces the whole header)
//   word 1  unused
//   word 2  the value, signed 32-bit
//   word 3  unused
//
// Integer arithmetic never wraps: a sum, difference or product that leaves the
// 32-bit range, and a division that does not come out even, give a float!
// (header 12, the double in words 2-3). Arithmetic with a float!, percent!,
// time!, money!, pair!, tuple!, point2D!, point3D!, vector! or date! operand is
// handed to that type's own arithmetic handler, looked up in the registry.
#pragma once

#include <cstdint>

#include "datatypes/action_slots.h"
#include "runtime/cell.h"

namespace kiv {

// Arithmetic op codes shared by every do-math routine.
enum MathOp : int {
  kMathAdd = 0,
  kMathSubtract = 1,
  kMathMultiply = 2,
  kMathDivide = 3,
  kMathRemainder = 4,
  kMathOr = 5,
  kMathAnd = 6,
  kMathXor = 7,
};

// The binary action handler of arithmetic [Op] through a type's do-math
// routine [Math]: one template serves add through xor for every number type.
template <Cell* (*Math)(Cell* left, Cell* right, int op), MathOp Op>
Cell* math_handler(Cell* left, const BinaryArgs& args) {
  return Math(left, args.value2, Op);
}

inline Cell integer_cell(int32_t n) { return make_cell(kTypeInteger, 0, uint32_t(n)); }

// The value of an integer! (word 2).
inline int32_t integer_get(const Cell* cell) { return int32_t(cell->data2); }
// Replaces the value of an integer! cell, leaving its header alone.
inline void integer_set(Cell* cell, int32_t value) { cell->data2 = uint32_t(value); }
// Word 2 of the cell at the arguments base.
int32_t integer_get_arg();
// Word 2 of the cell at the arguments base when it is an integer!, else 0.
int32_t integer_arg_or_zero();
// Overwrites the call's result slot (the arguments base) with [value]; returns it.
Cell* integer_box(int32_t value);
// Makes [cell] an integer! holding [value], keeping its header flags; returns it.
Cell* integer_set_cell(Cell* cell, int32_t value);
// MAY ALLOCATE. Appends an integer! at the tail of [block]; returns the new cell.
Cell* integer_make_at(const Cell* block, int32_t value);
// Pushes an integer! on the data stack; returns the new cell.
Cell* integer_push(int32_t value);

// -1, 0 or 1.
// [data] shifted by [bits] (negative counts as 0): left, right keeping the
// sign, or right filling with zeros ([logical]); 32 bits or more shift all out.
inline int32_t integer_shift(int32_t data, int32_t bits, bool left, bool logical) {
  if (bits < 0) bits = 0;
  if (left) return bits > 31 ? 0 : int32_t(uint32_t(data) << bits);
  if (logical) return bits > 31 ? 0 : int32_t(uint32_t(data) >> bits);
  return bits > 31 ? (data < 0 ? -1 : 0) : data >> bits;
}
inline int32_t integer_sign(int32_t value) { return value < 0 ? -1 : value > 0 ? 1 : 0; }
// |value|; INT32_MIN raises math overflow.
int32_t integer_abs(int32_t value);
// The decimal text of [value] in a static buffer, valid until the next call.
const char* integer_to_text(int32_t value);
// True when the double of the float! (or percent!) [cell] is NaN or lies
// outside -2147483648.0 .. 2147483647.0.
bool integer_float_out_of_range_q(const Cell* cell);

// The arithmetic of two integers under [op].
// - add, subtract, multiply: on 32-bit overflow a given [result] becomes a
//   float! holding the operation on the two values as doubles, and 0 is
//   returned; without [result] the wrapped 32-bit value is returned.
// - divide: right 0 raises math zero-divide, INT32_MIN / -1 math overflow; an
//   uneven division makes a given [result] the float! left / right (0 returned),
//   and without [result] truncates toward zero.
// - remainder: the same two errors; the sign is the left operand's.
// - or, and, xor: bitwise.
// An integer result is also written into word 2 of [result] (its header is
// left as it was). Any other op is fatal runtime error 101.
int32_t integer_do_math(int32_t left, int32_t right, int op, Cell* result);

// ---------------------------------------------------------------- hand-over between number types

// script invalid-type with [operand]'s datatype.
[[noreturn]] void raise_invalid_type(const Cell* operand);
// script not-related with the word of [action] and the datatype [type].
[[noreturn]] void raise_not_related(ActionId action, TypeId type);
// MAY RUN KIV CODE. Runs [handler] on the two argument cells and leaves its
// result in [left]; a type that registered no handler refuses [offender].
Cell* run_hand_over(BinaryFn handler, Cell* left, Cell* right, const Cell* offender);
// The handler [type] registered for the action of arithmetic [op], or null.
BinaryFn math_action_handler(TypeId type, int op);
// The action id of arithmetic [op].
ActionId math_action_id(int op);
// A number [op] R for a pair!, tuple!, point2D! or point3D! R at
// [right]: the operands are swapped and R's own arithmetic handler runs, its
// result left in [left]. Subtraction becomes -R + L where R's type negates
// (pairs and points); division and remainder, and subtraction otherwise, have
// no swapped form and raise script not-related with the action word and
// [left]'s datatype. A type without the handler raises script invalid-type.
Cell* math_hand_over_swapped(Cell* left, Cell* right, int op);

// Registers integer! (no parent).
void integer_datatype_init();

}  // namespace kiv
