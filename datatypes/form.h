// Forming and molding helpers every datatype shares: indentation, the elision
// of a series met again inside itself, forming into a new string, and the
// report of a raised error as the console prints it.
#pragma once

#include <cstdint>
#include <string>

#include "runtime/cell.h"
#include "runtime/errors.h"

namespace kiv {

// MAY ALLOCATE. Appends four spaces per level to the string [out]; returns
// [remaining] less 4 x levels.
int32_t mold_indent(Cell* out, int32_t levels, int32_t remaining);

// MAY ALLOCATE. Appends the whole form (or mold) of [value] to the string [out].
void form_whole(Cell* value, Cell* out);
void mold_whole(Cell* value, Cell* out);

// MAY ALLOCATE. Pushes a new string holding the form of [value], cut to [limit]
// code points when the limit is positive.
Cell* form_to_new_string(Cell* value, int32_t limit);

// The node a nested walk (form, mold, compare, copy) pushes on the cycle stack
// for [value]: an object's context, a series' buffer.
Node cycle_node_of(const Cell* value);
// MAY ALLOCATE. When [value]'s node is on the cycle stack: appends its elision
// text to the string [out], lowers *[remaining] by its length and returns true.
bool cycle_elide(const Cell* value, Cell* out, int32_t* remaining, bool molding);

// MAY ALLOCATE. The report of an error as the console prints it:
// "*** " title ": " message with the arguments molded in, then the Where line.

}  // namespace kiv
