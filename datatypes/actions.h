// Action dispatch: the 62 entry points and the typed workers behind them.
//
// An entry reads its arguments at the arguments base of the data stack and
// takes, for each refinement of the action's spec in order, the index of the
// refinement's first argument among the call's arguments or -1 when absent.
// It looks up the handler the first argument's datatype registered for the
// action and leaves the result in the first argument slot.
//
// Typed workers (action_form, action_mold, ...) are the same dispatch with
// plain C++ arguments, for runtime code that calls an action directly.
#pragma once

#include <cstdint>

#include "datatypes/action_slots.h"
#include "datatypes/registry.h"
#include "runtime/cell.h"

namespace kiv {

// Entry point of an action: [refinements] holds one argument index (or -1) per refinement slot.
using ActionEntry = void (*)(const int32_t* refinements);

struct ActionInfo {
  ActionId id;
  const char* word;       // "" for the slots without a word (7, 8, 9)
  int refinement_slots;
  const char* first_arg;  // name of the first argument, for the unsupported-action error
  ActionEntry entry;      // null for slot 8
};

// Slot n of the actions table: the action with id n (entry 0 is unused).
extern const ActionInfo g_actions_table[kActionCount + 1];

inline constexpr int32_t kNoRefinement = -1;
inline constexpr int32_t kNoLimit = 2147483647;

// Raises the unsupported-action error: script expect-arg naming the calling
// word, the datatype and the action's first argument.
[[noreturn]] void raise_unsupported_action(TypeId type, ActionId id);

// Raises script invalid-refine-arg naming the refinement (/part, /skip, /with,
// /compare...) and its bad argument.
[[noreturn]] void raise_refine_arg(const char* refinement, const Cell* arg);

// The handler of [type] for the action slot [member], raising the unsupported
// error when the type registered none.
#define KIV_GET_ACTION(type, Ident, member)                                          \
  ([](TypeId t_) {                                                                   \
    auto h_ = ::kiv::actions_of(t_).member;                                          \
    if (!h_) ::kiv::raise_unsupported_action(t_, ::kiv::kAction##Ident);             \
    return h_;                                                                       \
  }(type))

// ---------------------------------------------------------------- typed workers

// MAY ALLOCATE. make and to: [proto] is a datatype! naming the type, or an example value.
Cell* action_make(Cell* proto, Cell* spec);
Cell* action_to(Cell* proto, Cell* spec);
// MAY ALLOCATE. Appends the form of [value] to the string [buffer] within
// [limit] code points; returns the remaining limit.
int32_t action_form(Cell* value, Cell* buffer, Cell* arg, int32_t limit);
// MAY ALLOCATE. The same for mold.
int32_t action_mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* arg, int32_t limit,
                    int32_t indent);
// The truth of comparing two values under [op]. MAY RUN KIV CODE (through handlers).
bool action_compare(Cell* value, Cell* other, CompareOp op);
// The raw answer -1, 0, 1 or -2 (not comparable), for block elements and sorting.
int action_compare_values(Cell* value, Cell* other, CompareOp op);
Cell* action_copy(Cell* value, Cell* result, Cell* part, bool deep, Cell* types);
Cell* action_find(Cell* series, Cell* value, const FindArgs& args);
Cell* action_poke(Cell* series, int32_t index, Cell* value, Cell* boxed);
Cell* action_eval_path(const EvalPathArgs& args);

// The pick/poke index of an index argument: an integer as it is, a char! its
// code point, true 1 and false 2, anything else 0.
int32_t action_index_arg(const Cell* index);

// True for the values append/insert/copy take as a series with a buffer.
bool is_series_type(TypeId t);

}  // namespace kiv
