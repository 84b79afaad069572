// Action dispatch: the 62 entry points and the typed workers behind them.
//
// An entry reads its arguments at the arguments base of the data stack and
// takes, for each refinement of the action's spec in order, the index of the
// refinement's first argument among the call's arguments or -1 when absent.
// It fills the action's argument struct (datatypes/action_slots.h) by name,
// normalises the shared refinements (/part, /skip, sort's plan) once, looks up
// the handler the first argument's datatype registered for the action and
// leaves the result in the first argument slot.
//
// Typed workers (action_form, action_mold, ...) are the same dispatch with an
// argument struct built in C++, for runtime code that calls an action directly.
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
  const char* word;                   // "" for the slots without a word (7, 8, 9)
  const char* first_arg;              // name of the first argument, for the unsupported-action error
  const char* spec;                   // the spec block of its action! value as text ("" without a word)
  const DeclaredParam* params;        // the arguments after the first and the refinements, in spec order
  const RefinementInfo* refinements;  // in spec order, which is the order of the refinement slots
  int refinement_count;
  ActionEntry entry;
};

// Slot n of the actions table: the action with id n (entry 0 is unused).
extern const ActionInfo g_actions_table[kActionCount + 1];

// The refinement slot of [word] ("part", "case", ...) in action [id]'s spec, or -1.
int action_refinement_slot(ActionId id, const char* word);

inline constexpr int32_t kNoRefinement = -1;
inline constexpr int32_t kNoLimit = 2147483647;

// Raises the unsupported-action error: script expect-arg naming the calling
// word, the datatype and the action's first argument.
[[noreturn]] void raise_unsupported_action(TypeId type, ActionId id);

// Raises script invalid-refine-arg naming the refinement (/part, /skip, /with,
// /compare...) and its bad argument.
[[noreturn]] void raise_refine_arg(const char* refinement, const Cell* arg);

// The handler of [type] in the slot [Member] of action [id], raising the
// unsupported error when the type registered none.
template <auto Member>
auto action_handler(TypeId type, ActionId id) {
  auto h = actions_of(type).*Member;
  if (!h) raise_unsupported_action(type, id);
  return h;
}

// A form handler that writes what [Mold] writes: the same buffer, limit and
// /part, no other refinement.
template <int32_t (*Mold)(Cell*, const MoldArgs&)>
int32_t form_as_mold(Cell* value, const FormArgs& args) {
  MoldArgs m;
  m.part = args.part;
  m.buffer = args.buffer;
  m.limit = args.limit;
  return Mold(value, m);
}

// ---------------------------------------------------------------- shared refinements

// True for the values append/insert/copy take as a series with a buffer.
bool is_series_type(TypeId t);

// The /part reading every action shares (see PartLimit): [arg] against the
// series value [reference]. A null [arg] gives an absent limit.
PartLimit part_limit_of(const Cell* reference, Cell* arg);
// A /skip argument checked to be an integer! (invalid-refine-arg naming skip otherwise).
RecordSize record_size_of(Cell* arg);

// The pick/poke index of an index argument: an integer as it is, a char! its
// code point, true 1 and false 2, anything else 0.
int32_t action_index_arg(const Cell* index);

// ---------------------------------------------------------------- calling an action from C++

// A call of action [id] from C++ through its entry, as the interpreter makes
// one: its arguments in spec order from the first, then its refinements by
// word, each with its argument when it takes one. The entry reads them and
// normalises them once (/part, /skip, sort's plan and the rest, with the
// errors a script's call would raise) and dispatches on the first argument's
// type. The call opens an unnamed frame when made: an error raised in it
// names the function running now. Built and run in one go:
//
//   Cell* found = ActionCall(kActionFind).arg(*series).arg(*pattern).ref("case").run();
class ActionCall {
 public:
  explicit ActionCall(ActionId id);
  ActionCall(const ActionCall&) = delete;
  ActionCall& operator=(const ActionCall&) = delete;
  // The next argument, copied onto the data stack at once.
  ActionCall& arg(const Cell& value);
  // The refinement [word] of the action's spec, without an argument / with [value].
  ActionCall& ref(const char* word);
  ActionCall& ref(const char* word, const Cell& value);
  // MAY ALLOCATE, MAY RUN KIV CODE. Calls the entry and closes the frame;
  // returns the result, pushed where the first argument was.
  Cell* run();

 private:
  int32_t& slot_of(const char* word);
  ActionId id_;
  bool refinement_args_ = false;
  int32_t refs_[kActionMaxRefinements];
};

// ---------------------------------------------------------------- typed workers

// MAY ALLOCATE. make and to: [proto] is a datatype! naming the type, or an example value.
Cell* action_make(Cell* proto, Cell* spec);
Cell* action_to(Cell* proto, Cell* spec);
// The type make and to make: the one a datatype! names, else [proto]'s own.
TypeId make_target_type(const Cell* proto);
// MAY ALLOCATE. Appends the form of [value] to the string args.buffer within
// args.limit code points; returns the remaining limit.
int32_t action_form(Cell* value, const FormArgs& args);
// MAY ALLOCATE. The same for mold.
int32_t action_mold(Cell* value, const MoldArgs& args);
// The truth of comparing two values under [op]. MAY RUN KIV CODE (through handlers).
bool action_compare(Cell* value, Cell* other, CompareOp op);
// The raw answer -1, 0, 1 or -2 (not comparable), for block elements and sorting.
int action_compare_values(Cell* value, Cell* other, CompareOp op);
// MAY ALLOCATE. copy into args.result.
Cell* action_copy(Cell* value, const CopyArgs& args);
// MAY ALLOCATE, MAY RUN KIV CODE. find: the series at the match, or none.
Cell* action_find(Cell* series, const FindArgs& args);
// MAY ALLOCATE, MAY RUN KIV CODE. poke at args.position.
Cell* action_poke(Cell* series, const PokeArgs& args);
// MAY ALLOCATE, MAY RUN KIV CODE. An integer path element [index] on
// [series]: pick without [value] (null), poke [value] with it.
Cell* action_pick_or_poke(Cell* series, Cell* index, Cell* value);
// pick with no refinement, as its entry runs it, when [index] is an
// integer and [series]'s handler is the series one: the result, written
// over [*series]. Null, having changed nothing, for any other pair. Runs no
// Kiv code, allocates nothing.
Cell* action_pick_plain(Cell* series, const Cell* index);
// MAY ALLOCATE. append with no refinement, as its entry runs it, when
// [value] is a text or a char! and [series] a text no owner watches: the
// result, written over [*series]. Null, having changed nothing, for any
// other pair. Runs no Kiv code and changes no block.
Cell* action_append_text(Cell* series, Cell* value);
// What a keyed path step sets: [found] is the series at the match of the key.
using PathSetAfterFn = Cell* (*)(Cell* found, const EvalPathArgs& args);
// MAY ALLOCATE, MAY RUN KIV CODE. One path step on a series of scalar elements
// (any-string!, vector!): a word element is an invalid path; an integer picks
// or pokes; any other element selects the element after a match of it, or,
// with a value to set, hands the series at the match to [set_after] (no match
// raises bad-path-set).
Cell* action_eval_path_by_key(Cell* parent, const EvalPathArgs& args, PathSetAfterFn set_after);
// MAY ALLOCATE, MAY RUN KIV CODE. One step of a path on [parent].
Cell* action_eval_path(Cell* parent, const EvalPathArgs& args);

}  // namespace kiv
