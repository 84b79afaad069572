// vector!: a series of numbers of one element type.
//
// Value cell (vector! 35):
//   header  type id; kFlagNewLine is kept by copies
//   word 1  head index, in elements (the series view of runtime/cell.h)
//   word 2  node of the buffer; its unit is the element size (1, 2, 4 or 8 bytes)
//   word 3  the element type id: char!, integer!, float! or percent!
//
// Only storage and the collector hooks stand here so far (datatypes/vector.cpp);
// the generic series actions serve the rest.
#pragma once

#include "runtime/cell.h"

namespace kiv {

// A vector! over [node] at [head] whose elements are of [element] type.
inline Cell vector_cell(Node node, TypeId element, int32_t head = 0) {
  return make_cell(kTypeVector, uint32_t(head), node, element);
}
inline TypeId vector_element_type(const Cell* vector) { return TypeId(vector->data3); }
inline void vector_set_element_type(Cell* vector, TypeId element) { vector->data3 = element; }

}  // namespace kiv
