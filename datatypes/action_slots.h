// What an action handler receives and the row of 62 handlers a datatype registers.
//
// Every handler has the one shape Result (*)(Cell* first, const XArgs& args):
// [first] is the first argument, also the result slot, and XArgs is the
// argument struct generated from the action's line in actions.def, one named
// field per argument and refinement (a null Cell* or false for an absent one).
// Argument cells live on the data stack (stable addresses: the data stack never
// moves). A handler that "writes the first slot" overwrites [first] and returns it.
// In a handler's comment [name] is [first] or the field args.name.
//
// The entry (datatypes/actions.cpp) reads and normalises the shared refinement
// arguments once, before the handler runs: /part into a PartLimit, /skip into
// a RecordSize, sort's refinements into a SortPlan.
#pragma once

#include <algorithm>
#include <cstdint>

#include "datatypes/named_args.h"
#include "runtime/cell.h"
#include "runtime/compare.h"
#include "runtime/fatal.h"

namespace kiv {

enum ActionId : uint8_t {
#define ACTION(id, ident, member, word, first, Result, ArgsName, spec) kAction##ident = id,
#include "datatypes/actions.def"
};
// The number of actions: the ACTION lines of actions.def, which list the ids in order.
inline constexpr int kActionCount = 0
#define ACTION(id, ident, member, word, first, Result, ArgsName, spec) +1
#include "datatypes/actions.def"
    ;
static_assert(kActionCount == 62 && kActionWrite == kActionCount, "actions.def lists the ids 1..62 in order");

// ---------------------------------------------------------------- normalised refinements

// A /part limit as the entry read it. One reading serves every action: an
// integer! is a count, a position in the same series (same type and buffer)
// is its head's distance from the reference value's head; anything else
// raises script invalid-refine-arg. The count may be negative: units before
// the head. The entry reads the count only when the reference is a series
// with a buffer; for other values (a port, an image) [arg] is left to the handler.
struct PartLimit {
  Cell* arg = nullptr;    // the argument as given; null without /part
  int64_t count = 0;      // the signed count, read against the reference value
  bool position = false;  // the argument was a position, not a count
  explicit operator bool() const { return arg != nullptr; }
};

// A /skip record size: the argument, checked to be an integer!, and its value
// (1 without /skip). The range an action accepts is the action's to check.
struct RecordSize {
  Cell* arg = nullptr;
  int64_t size = 1;
  explicit operator bool() const { return arg != nullptr; }
};

// What sort sorts and how, planned by the entry from the refinements before
// anything changes: [count] units from [start] (absolute units, a /part before
// the head included), as records of [record] units compared on their unit
// [offset] (or all of them with [all]), through [comparator] (a function
// value) when given. A count of 0 sorts nothing.
struct SortPlan {
  int32_t start = 0;
  int32_t count = 0;
  int32_t record = 1;
  int32_t offset = 0;
  Cell* comparator = nullptr;
};

// ---------------------------------------------------------------- argument structs

#define KIV_ARGS_FILE "datatypes/actions.def"
#define KIV_ARGS_STRUCTS
#include "datatypes/named_args.inc"

// The most refinements an action takes: how many refinement slots a call of
// any action fills.
inline constexpr int kActionMaxRefinements = std::max({0
#define ACTION(id, ident, member, word, first, Result, ArgsName, spec) , k##ArgsName##RefinementCount
#include "datatypes/actions.def"
});

// find's arguments as select gives them (select never sets tail or match).
inline FindArgs find_args_of(const SelectArgs& s) {
  FindArgs f;
  f.value = s.value;
  f.part = s.part;
  f.only = s.only;
  f.case_ = s.case_;
  f.same = s.same;
  f.any = s.any;
  f.with = s.with;
  f.skip = s.skip;
  f.last = s.last;
  f.reverse = s.reverse;
  return f;
}

// form's arguments within a mold: the same buffer, /part argument and limit.
inline FormArgs form_args_of(const MoldArgs& m) {
  FormArgs f;
  f.part = m.part;
  f.buffer = m.buffer;
  f.limit = m.limit;
  return f;
}

// ---------------------------------------------------------------- handler types and rows

#define ACTION(id, ident, member, word, first, Result, ArgsName, spec) \
  using ident##Fn = Result (*)(Cell * first_arg, const ArgsName##Args& args);
#include "datatypes/actions.def"

// The shapes several slots share: the arithmetic and bitwise actions, and the
// actions that take nothing but their first argument.
using BinaryFn = AddFn;
using UnaryFn = Cell* (*)(Cell* first_arg, const NoneArgs& args);

// One datatype's handlers, a member per slot in slot order. A null member is
// "not supported"; kInherit takes the parent's handler at registration.
struct ActionSlots {
#define ACTION(id, ident, member, word, first, Result, ArgsName, spec) ident##Fn member = nullptr;
#include "datatypes/actions.def"
};

// Stands in for any handler type: resolved to the parent's handler at registration.
template <class R, class... A>
struct InheritStub {
  static R call(A...) { fatal_exit(98, 0); }
};
template <class R, class... A>
using HandlerPtr = R (*)(A...);
struct InheritMarker {
  template <class R, class... A>
  constexpr operator HandlerPtr<R, A...>() const {
    return &InheritStub<R, A...>::call;
  }
};
inline constexpr InheritMarker kInherit{};

template <class R, class... A>
constexpr bool is_inherit_marker(R (*fn)(A...)) {
  return fn == &InheritStub<R, A...>::call;
}

// A row whose every slot takes the parent's handler.
inline ActionSlots inherit_all_slots() {
  ActionSlots s;
#define ACTION(id, ident, member, word, first, Result, ArgsName, spec) s.member = kInherit;
#include "datatypes/actions.def"
  return s;
}

}  // namespace kiv
