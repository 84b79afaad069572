// datatype!: a value standing for a type id.
//
// Value cell:
//   word 1  the type id it stands for
//   words 2-3 unused
#pragma once

#include "runtime/cell.h"

namespace kiv {

inline Cell datatype_cell(TypeId t) { return make_cell(kTypeDatatype, t); }
// The type a datatype! stands for.
inline TypeId datatype_type(const Cell* datatype) { return TypeId(datatype->data1); }
// MAY ALLOCATE. Appends a datatype! for [t] at the tail of [block].
Cell* datatype_make_at(const Cell* block, TypeId t);
// Pushes a datatype! for [t] on the data stack.
Cell* datatype_push(TypeId t);

}  // namespace kiv
