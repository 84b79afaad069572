// vector!: the arithmetic and bitwise actions, with another vector or a
// scalar on either side (vector_do_math, datatypes/vector.h).
//
// One loop computes every case: result element k combines, on each side,
// element k of a vector or the scalar, read as an int32 (char! and integer!
// elements; code points zero-extended) or a double (float! and percent!), and
// is stored at the result's element size. The loop never allocates: a new
// result's buffer is made first and the operands' buffers are read after.
// In place, a computation that may fail after its first element runs into a
// scratch copy first, so an error leaves the vector as it was.
#include <algorithm>
#include <cstring>
#include <vector>

#include "datatypes/char.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/series.h"
#include "datatypes/vector.h"
#include "runtime/errors.h"
#include "runtime/numbers.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"

namespace kiv {

namespace {

enum class Kind : uint8_t { kInteger, kChar, kFloat };

Kind kind_of(TypeId element) {
  switch (element) {
    case kTypeInteger: return Kind::kInteger;
    case kTypeChar: return Kind::kChar;
    case kTypeFloat:
    case kTypePercent: return Kind::kFloat;
    default: fatal_no_switch();
  }
}

// One side of an operation: the elements of [size] bytes from [base], or,
// with [base] null, the scalar [i] (as an integer) and [d] (as a double).
struct Operand {
  const uint8_t* base = nullptr;
  uint32_t size = 0;
  int32_t i = 0;
  double d = 0;

  int32_t integer(int64_t k, Kind kind) const {
    if (!base) return i;
    const uint8_t* p = base + k * size;
    if (kind != Kind::kChar) return vector_read_int(p, size);
    uint32_t cp = 0;
    std::memcpy(&cp, p, size);
    return int32_t(cp);
  }
  double number(int64_t k) const { return base ? vector_read_float(base + k * size, size) : d; }
};

Operand elements_from(const uint8_t* base, uint32_t size) {
  Operand o;
  o.base = base;
  o.size = size;
  return o;
}

// [value] as a scalar operand: integer! and char! as they are, float! and
// percent! truncated toward zero for integer elements. False for anything else.
bool scalar_of(const Cell* value, Operand* out) {
  switch (value->type()) {
    case kTypeInteger:
      out->i = integer_get(value);
      out->d = out->i;
      return true;
    case kTypeChar:
      out->i = int32_t(char_get(value));
      out->d = out->i;
      return true;
    case kTypeFloat:
    case kTypePercent:
      out->d = float_get(value);
      out->i = double_to_int32(out->d);
      return true;
    default: return false;
  }
}

Operand scalar_operand(const Cell* value) {
  Operand s;
  if (!scalar_of(value, &s)) raise_error(kErrInternalNotDone);
  return s;
}

void put_int(uint8_t* p, uint32_t size, int32_t n) {
  uint32_t bits = uint32_t(n);
  std::memcpy(p, &bits, size);  // the low bytes
}

void put_float(uint8_t* p, uint32_t size, double d) {
  if (size == 8) {
    std::memcpy(p, &d, 8);
    return;
  }
  float f = float(d);
  std::memcpy(p, &f, 4);
}

// Writes [n] elements of [size] bytes at [out]: element k is x[k] op y[k].
// [out] may be the elements [x] reads (same size, same place).
void compute(uint8_t* out, uint32_t size, Kind kind, const Operand& x, const Operand& y, int32_t n, int op) {
  if (kind == Kind::kFloat) {
    for (int32_t k = 0; k < n; k++)
      put_float(out + size_t(k) * size, size, float_math_op(x.number(k), y.number(k), op));
    return;
  }
  for (int32_t k = 0; k < n; k++) {
    int32_t r = integer_do_math(x.integer(k, kind), y.integer(k, kind), op, nullptr);
    if (kind == Kind::kChar && size == 4 && uint32_t(r) > kMaxCodePoint) raise_error(kErrMathOverflow);
    put_int(out + size_t(k) * size, size, r);
  }
}

// True when op [scalar] leaves every element as it is: adding or subtracting
// 0, multiplying or dividing by 1.
bool identity_q(int op, const Operand& scalar, Kind kind) {
  double v = kind == Kind::kFloat ? scalar.d : double(scalar.i);
  if (op == kMathAdd || op == kMathSubtract) return v == 0;
  if (op == kMathMultiply || op == kMathDivide) return v == 1;
  return false;
}

// True when element op [scalar] can fail at an element after the first, having
// written those before it: a 32-bit char result past 10FFFF, or -2147483648
// divided by -1. (A zero divisor and the bitwise ops on floats fail at the first.)
bool may_fail_late_q(int op, const Operand& scalar, Kind kind, uint32_t size) {
  if (kind == Kind::kFloat || size != 4) return false;
  return kind == Kind::kChar || ((op == kMathDivide || op == kMathRemainder) && scalar.i == -1);
}

// Every element of [vector] from its head becomes element op [scalar]; returns [vector].
Cell* scalar_in_place(Cell* vector, const Operand& scalar, int op) {
  Kind kind = kind_of(vector_element_type(vector));
  if (identity_q(op, scalar, kind)) return vector;
  int32_t total = series_total_length(vector);
  int32_t head = series_clamp_head(vector, total);
  int32_t n = total - head;
  SeriesBuffer* b = series_buffer_of(vector);
  uint32_t size = b->unit();
  uint8_t* at = series_unit_at(b, head);
  if (!may_fail_late_q(op, scalar, kind, size)) {
    compute(at, size, kind, elements_from(at, size), scalar, n, op);
    return vector;
  }
  std::vector<uint8_t> scratch(size_t(n) * size);  // not collector memory: the buffer stays put
  compute(scratch.data(), size, kind, elements_from(at, size), scalar, n, op);
  std::memcpy(at, scratch.data(), scratch.size());
  return vector;
}

// MAY ALLOCATE. [scalar] op each element of [vector] from its head, into a new
// vector of the same element type and size, which replaces [left].
Cell* scalar_first_new(Cell* left, const Operand& scalar, const Cell* vector, int op) {
  TypeId element = vector_element_type(vector);
  int32_t total = series_total_length(vector);
  int32_t head = series_clamp_head(vector, total);
  int32_t n = total - head;
  uint32_t size = vector_size(vector);
  Cell* result = vector_init(stack_push(), uint64_t(n), element, size);
  SeriesBuffer* rb = series_buffer_of(result);
  const uint8_t* from = series_unit_at(series_buffer_of(vector), head);
  compute(rb->head_ptr(), size, kind_of(element), scalar, elements_from(from, size), n, op);
  rb->tail = rb->head + uint32_t(n) * size;
  *left = *result;
  return left;
}

// MAY ALLOCATE. a[i] op b[i] over the common length from the two heads, into a
// new vector with the larger element size, which replaces [left].
Cell* vector_pair_op(Cell* left, const Cell* right, int op) {
  TypeId element = vector_element_type(left);
  if (vector_element_type(right) != element) raise_error(kErrScriptNotSameType);
  int32_t ta = series_total_length(left), tb = series_total_length(right);
  int32_t ha = series_clamp_head(left, ta), hb = series_clamp_head(right, tb);
  int32_t n = std::min(ta - ha, tb - hb);
  uint32_t sa = vector_size(left), sb = vector_size(right);
  uint32_t size = std::max(sa, sb);
  Cell* result = vector_init(stack_push(), uint64_t(n), element, size);
  SeriesBuffer* rb = series_buffer_of(result);
  Operand x = elements_from(series_unit_at(series_buffer_of(left), ha), sa);
  Operand y = elements_from(series_unit_at(series_buffer_of(right), hb), sb);
  compute(rb->head_ptr(), size, kind_of(element), x, y, n, op);
  rb->tail = rb->head + uint32_t(n) * size;
  *left = *result;
  return left;
}

}  // namespace

Cell* vector_do_math(Cell* left, Cell* right, int op) {
  if (op < kMathAdd || op > kMathXor) fatal_no_switch();
  if (left->is(kTypeVector)) {
    if (right->is(kTypeVector)) return vector_pair_op(left, right, op);
    return scalar_in_place(left, scalar_operand(right), op);
  }
  // Handed over by a number type: the scalar is on the left.
  if (!right->is(kTypeVector)) raise_invalid_type(right);
  Operand scalar = scalar_operand(left);
  if (op == kMathSubtract || op == kMathDivide || op == kMathRemainder)
    return scalar_first_new(left, scalar, right, op);
  *left = *scalar_in_place(right, scalar, op);
  return left;
}

}  // namespace kiv
