// unset!, none! and logic!: their value producers, shared constants and the
// truth rules every conditional applies.
//
// unset! and none! have no payload. logic! value cell:
//   word 1  1 for true, 0 for false (a logic counts as true only when it is exactly 1)
//
// Truth: none and false are the only false values; every other value is true,
// 0 and empty series included.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace kiv {

inline constexpr Cell kUnsetCell{kTypeUnset, 0, 0, 0};
inline constexpr Cell kNoneCell{kTypeNone, 0, 0, 0};
inline constexpr Cell kTrueCell{kTypeLogic, 1, 0, 0};
inline constexpr Cell kFalseCell{kTypeLogic, 0, 0, 0};

[[gnu::always_inline]] inline Cell logic_cell(bool b) { return Cell{kTypeLogic, uint32_t(b), 0, 0}; }

// Producers: overwrite the call's result slot, append to a block (MAY ALLOCATE), or push.
Cell* set_result_unset();
Cell* unset_make_at(const Cell* block);
Cell* push_unset();
Cell* set_result_none();
Cell* none_make_at(const Cell* block);
Cell* push_none();
Cell* logic_box(uint32_t flag);
Cell* logic_make_at(const Cell* block, uint32_t flag);
Cell* logic_push(uint32_t flag);
inline uint32_t logic_get(const Cell* c) { return c->data1; }

// False for none! and for a logic! that is not exactly true.
inline bool cell_false(const Cell* c) { return c->is(kTypeNone) || (c->is(kTypeLogic) && c->data1 != 1); }

// The truth of the cell at the arguments base; unset! raises script no-return.
bool true_value_q();
// The falseness of the cell at the arguments base; no check for unset!.
bool false_value_q();
// The truth of any cell; with [check], unset! raises script no-value naming [word].
bool logic_cell_true_q(const Cell* cell, bool check, const Cell* word);
// Of the last value on the data stack (the arguments base when nothing is above it).
bool logic_top_false_q();
bool logic_top_true_q();

}  // namespace kiv
