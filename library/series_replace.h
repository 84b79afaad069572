// The one-pass core of the library's replace: the matches are found (by find,
// or by the parse rule replace runs, which marks them), then each changed
// series is rebuilt once: the text or cells between the matches and the
// replacement values are gathered into a new series, which takes the place of
// the stretch from the first match to the end of the last in one change. Its
// owner is told once; the tail moves once.
#pragma once

#include "library/routines.h"

namespace kiv {

// The routine replace-found* (routine_ReplaceFound): series, pattern, value,
// size [integer!], all [logic!], case [logic!]. Finds [pattern] in [series]
// from its position (find, or find/case), each match [size] units or cells
// long, the next search starting after it; the first match only unless
// [all]. Every match is replaced by [value], or, when [value] is a function,
// by the result of a call of it without arguments made anew for each match,
// in order. MAY ALLOCATE, MAY RUN KIV CODE. The result is unset!.
//
// The routine replace-marked* (routine_ReplaceMarked): marks [block!],
// value. [marks] holds pairs of positions, the start and the end of each
// match, in the order found; each pair names one series (a nested one under
// /deep). A pair that ends before it starts, or starts before the end of an
// earlier match of its series, is skipped. Each match is replaced as
// replace-found* replaces it. MAY ALLOCATE, MAY RUN KIV CODE. The result is
// unset!.
//
// Both are declared with the other routines (library/routines.h).

}  // namespace kiv
