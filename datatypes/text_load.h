// Text loading for the datatypes: the lexer lives above this layer, so the
// conversions that read values out of text (to block! of a string, to pair!,
// time!, tuple!, point2D!, point3D! of text) reach it through these hooks,
// the text_load_block and text_load_one_value hooks (runtime/hooks.h).
// Without them they raise internal not-done.
#pragma once

#include "runtime/cell.h"

namespace kiv {

// MAY ALLOCATE. The values of the text of [str] (from its head) as a new
// block! in *[out] (a stable cell). Syntax errors are raised.
void text_load_block(const Cell* str, Cell* out);
// MAY ALLOCATE. The one value the text of [str] holds, in *[out] (a stable
// cell): none! when more than one value (or anything but blanks) follows the
// first, unset! when the text holds no value. Syntax errors are raised.
void transcode_one_value_into(const Cell* str, Cell* out);

}  // namespace kiv
