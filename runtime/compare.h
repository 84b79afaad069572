// Comparison operator codes and the comparison the runtime's searches call.
//
// Values are compared by their datatypes (the compare action); the runtime
// below the datatypes (hash tables, sorting helpers) reaches that comparison
// through the compare_values hook (runtime/hooks.h).
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace kiv {

// Comparison operator codes given to every compare handler.
enum CompareOp : int32_t {
  kCmpEqual = 0,
  kCmpNotEqual = 1,
  kCmpStrictEqual = 2,
  kCmpLesser = 3,
  kCmpLesserOrEqual = 4,
  kCmpGreater = 5,
  kCmpGreaterOrEqual = 6,
  kCmpSort = 7,
  kCmpCaseSort = 8,
  kCmpSame = 9,
  kCmpWordEqual = 10,       // word! equals lit-word!, path! lit-path!, by exact symbol
  kCmpWordCanonEqual = 11,  // the same by canonical symbol
  kCmpFindEqual = 12,       // the default of find and select
};
// A compare handler's answer when the values cannot be ordered.
inline constexpr int kNotComparable = -2;

// The operators that only ask for equality or a sort order: the ones a type
// without an order of its own (none!, logic!, the callables) still answers.
inline bool equality_or_sort_op_q(CompareOp op) {
  switch (op) {
    case kCmpEqual:
    case kCmpNotEqual:
    case kCmpStrictEqual:
    case kCmpSort:
    case kCmpCaseSort:
    case kCmpSame:
    case kCmpFindEqual: return true;
    default: return false;
  }
}

}  // namespace kiv
