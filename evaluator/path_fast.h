// The quick way through the commonest paths: `word/field` reading a field of
// an object! and `word/field:` storing one. eval_path tries it first and
// walks the path the general way whenever it declines.
#pragma once

#include "runtime/cell.h"

namespace kiv {

// MAY ALLOCATE (the stack push of the result). Evaluates the path!,
// get-path! or set-path! [path] as eval_path would, with [value] and [push]
// as there, when it is a word whose value is an object! followed by one
// word naming a field of it, and nothing would be reported or notified on
// the way: no tracing, no change handler or event record, a field that has
// a value and, for a path!, holds no function. Returns false, having changed
// nothing, for everything else (errors included).
bool path_fast_try(const Cell* path, const Cell* value, bool push);

}  // namespace kiv
