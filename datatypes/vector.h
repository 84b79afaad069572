// vector!: a packed series of numbers of one element type.
//
// Value cell (vector! 35):
//   header  type id; kFlagNewLine is kept by copies
//   word 1  head index, in elements (the series view of runtime/cell.h)
//   word 2  node of the buffer; its unit is the element size (1, 2, 4 or 8 bytes)
//   word 3  the element type id: char!, integer!, float! or percent!
//
// Buffer: raw little-endian machine numbers, never cells. integer! and char!
// elements take 1, 2 or 4 bytes (8, 16 or 32 bits), float! 4 or 8 (IEEE single
// or double), percent! always 8 (the fraction: 50% is 0.5). A store keeps the
// low 8, 16 or 32 bits of an integer or a code point without a range test.
// Read back, integer! elements are sign-extended (8 bits holding 200 read as
// -56) and char! elements zero-extended (8 bits holding 255 read as 255).
// Invariant: every char! element reads as a code point (0..10FFFF): the
// narrow ones cannot hold more, and the arithmetic refuses a 32-bit result
// beyond it.
//
// vector! is a child of string!: navigation, pick, poke, clear, remove,
// reverse, copy, move, take, find, select, sort, random, reflect and modify
// are the series! and string! handlers, which read and write elements through
// the functions below. make, form, mold, compare and path access
// (datatypes/vector.cpp), the arithmetic (datatypes/vector_math.cpp), append,
// insert and change (datatypes/vector_modify.cpp) are vector!'s own.
#pragma once

#include <cstdint>

#include "datatypes/action_slots.h"
#include "runtime/cell.h"
#include "runtime/memory.h"

namespace kiv {

// ---------------------------------------------------------------- the cell

// A vector! over [node] at [head] whose elements are of [element] type.
inline Cell vector_cell(Node node, TypeId element, int32_t head = 0) {
  return make_cell(kTypeVector, uint32_t(head), node, element);
}
inline TypeId vector_element_type(const Cell* vector) { return TypeId(vector->data3); }
inline void vector_set_element_type(Cell* vector, TypeId element) { vector->data3 = element; }

// True for the types a vector's elements may have.
constexpr bool vector_element_type_q(TypeId t) {
  return t == kTypeChar || t == kTypeInteger || t == kTypeFloat || t == kTypePercent;
}
// The element size in bytes a type gets when none is asked for: 4 for char!
// and integer!, 8 for float! and percent!.
constexpr uint32_t vector_default_size(TypeId element) {
  return element == kTypeFloat || element == kTypePercent ? 8 : 4;
}
// The element size in bytes of [vector] (its buffer's unit).
inline uint32_t vector_size(const Cell* vector) { return series_buffer(vector->node())->unit(); }

// ---------------------------------------------------------------- elements
// [p] is the address of one element of [size] bytes (any alignment).

// An integer element of 1, 2 or 4 bytes, sign-extended.
int32_t vector_read_int(const uint8_t* p, uint32_t size);
// A float element of 4 or 8 bytes as a double.
double vector_read_float(const uint8_t* p, uint32_t size);
// The number an element of [element] type stands for: integers sign-extended,
// code points zero-extended, floats as doubles (percent!: the fraction).
double vector_element_number(const uint8_t* p, uint32_t size, TypeId element);
// The element as a value of [element] type.
Cell vector_get_element(const uint8_t* p, uint32_t size, TypeId element);
// Stores [value]: char! and integer! as their low 8, 16 or 32 bits, float! and
// percent! as a single (size 4) or double (size 8). Any other type raises
// script invalid-type with the value's datatype.
void vector_set_element(uint8_t* p, const Cell* value, uint32_t size);

// The element of [vector] at absolute [index] (0 <= index < total length).
Cell vector_element_at(const Cell* vector, int32_t index);
// Raises script invalid-arg with [value] unless it has [vector]'s element type.
void vector_check_value(const Cell* vector, const Cell* value);
// Stores [value] (checked by vector_check_value) at absolute [index] (0 <=
// index < total length).
void vector_store_at(const Cell* vector, int32_t index, const Cell* value);

// ---------------------------------------------------------------- construction

// MAY ALLOCATE. Makes *[out] an empty vector of [element] type and [size]-byte
// elements with room for [capacity] elements; a capacity past the largest
// buffer raises internal no-memory. Returns [out].
Cell* vector_init(Cell* out, uint64_t capacity, TypeId element, uint32_t size);
// MAY ALLOCATE. Pushes a new block! (room for at least 1 cell) holding one
// value per element of [vector] from its head, and returns it.
Cell* vector_to_block(const Cell* vector);

// ---------------------------------------------------------------- handlers

// MAY ALLOCATE. The arithmetic and bitwise actions (op codes of MathOp) with a
// vector on either side; the result replaces [left], which is returned.
// - Two vectors (the same element type, else script not-same-type): a new
//   vector of the shorter length from the two heads, with the larger element
//   size; element i is a[i] op b[i].
// - Vector op scalar: the vector's own elements from its head change in place
//   and the vector is the result.
// - Scalar op vector (handed over by integer!, char!, float!, percent!): add,
//   multiply and the bitwise ops go as vector op scalar; subtract, divide and
//   remainder give a new vector of scalar op element, the vector unchanged.
// The scalar is integer!, char!, float! or percent!, else internal not-done.
// Float and percent elements compute in doubles through float_math_op (the
// bitwise ops raise script cannot-use); char and integer elements in int32
// through integer_do_math (add, subtract and multiply wrap, division
// truncates, a zero divisor raises math zero-divide), a float scalar
// truncated toward zero; a 32-bit char result beyond 10FFFF raises math
// overflow. An error leaves the vector as it was.
Cell* vector_do_math(Cell* left, Cell* right, int op);

// MAY ALLOCATE, MAY RUN KIV CODE. append ([append] true) and insert: the value
// (a block!, paren! or hash! gives its values from its head, cut to /part),
// repeated /dup times, at the tail (append, or a head at the tail) or at the
// head. append answers the vector at its head, insert the position after the
// inserted elements.
Cell* vector_insert(Cell* vector, const InsertArgs& args);
// MAY ALLOCATE, MAY RUN KIV CODE. change: the value (any block or path gives
// its values from its head; a vector! of the same element type its elements,
// else script not-same-type; anything else itself), repeated /dup times,
// replaces /part elements (or as many as it brings) from the head; answers
// the position after the written elements.
Cell* vector_change(Cell* vector, const ChangeArgs& args);

// Registers vector! (type 35, parent string!).
void vector_datatype_init();

}  // namespace kiv
