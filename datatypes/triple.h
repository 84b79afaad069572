// triple!: an internal record of three 32-bit integers. PARSE saves its
// positions in triple! cells while it descends into sub-rules; the language
// has no literal for it, make and to refuse it, and only form and mold are
// supported.
//
// Value cell:
//   header  type id 31
//   word 1  first integer (signed 32-bit)
//   word 2  second integer
//   word 3  third integer
// Their meaning belongs to the code that makes the cell.
#pragma once

#include <cstdint>

#include "datatypes/action_slots.h"
#include "runtime/cell.h"

namespace kiv {

inline Cell triple_cell(int32_t a, int32_t b, int32_t c) {
  return make_cell(kTypeTriple, uint32_t(a), uint32_t(b), uint32_t(c));
}
inline int32_t triple_first(const Cell* t) { return int32_t(t->data1); }
inline int32_t triple_second(const Cell* t) { return int32_t(t->data2); }
inline int32_t triple_third(const Cell* t) { return int32_t(t->data3); }

// MAY ALLOCATE. Appends "make triple! [a b c]"; returns [limit] less the
// characters appended.
int32_t triple_form(Cell* value, const FormArgs& args);
// MAY ALLOCATE. The same text as triple_form, whatever the refinements.
int32_t triple_mold(Cell* value, const MoldArgs& args);

// Registers triple! (no parent).
void triple_datatype_init();

}  // namespace kiv
