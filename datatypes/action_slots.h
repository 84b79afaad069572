// The handler signature of each action slot, and the row of 62 handlers a datatype registers.
//
// Handlers receive cells on the data stack (stable addresses: the data stack
// never moves) and a null Cell* for an absent refinement. A handler that
// "writes the first slot" overwrites its first argument and returns it.
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "runtime/compare.h"
#include "runtime/fatal.h"

namespace kiv {

enum ActionId : uint8_t {
#define DEF(id, ident, member, word, refinements, arg) kAction##ident = id,
#include "datatypes/actions.def"
#undef DEF
};
inline constexpr int kActionCount = 62;

// Arguments of path evaluation; [value] is null for a get.
struct EvalPathArgs {
  Cell* parent;
  Cell* element;
  Cell* value;
  Cell* path;
  int32_t index;  // element index within the path
  bool case_;
};

// Refinements of find and select (select never sets tail or match).
struct FindArgs {
  Cell* part;
  bool only, case_, same, any;
  Cell* with;
  Cell* skip;
  bool last, reverse, tail, match;
};

struct SortArgs {
  bool case_;
  Cell* skip;
  Cell* compare;
  Cell* part;
  bool all, reverse, stable;
};

using MakeFn = Cell* (*)(Cell* proto, Cell* spec, TypeId type);  // make and to: the new value
using RandomFn = Cell* (*)(Cell* value, bool seed, bool secure, bool only);
using ReflectFn = Cell* (*)(Cell* value, uint32_t field);  // field: the word's symbol id
using ToFn = MakeFn;
using FormFn = int32_t (*)(Cell* value, Cell* buffer, Cell* arg, int32_t limit);
using MoldFn = int32_t (*)(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* arg,
                           int32_t limit, int32_t indent);
using EvalPathFn = Cell* (*)(const EvalPathArgs& args);
using EmptyFn = void (*)();
using CompareFn = int (*)(Cell* value, Cell* other, CompareOp op);
using UnaryFn = Cell* (*)(Cell* value);
using BinaryFn = Cell* (*)(Cell* value1, Cell* value2);
using AbsoluteFn = UnaryFn;
using AddFn = BinaryFn;
using DivideFn = BinaryFn;
using MultiplyFn = BinaryFn;
using NegateFn = UnaryFn;
using PowerFn = BinaryFn;
using RemainderFn = BinaryFn;
using RoundFn = Cell* (*)(Cell* value, Cell* scale, bool even, bool down, bool half_down, bool floor,
                          bool ceiling, bool half_ceiling);
using SubtractFn = BinaryFn;
using EvenQFn = bool (*)(Cell* value);
using OddQFn = EvenQFn;
using AndTFn = BinaryFn;
using ComplementFn = UnaryFn;
using OrTFn = BinaryFn;
using XorTFn = BinaryFn;
// append and insert share the handler shape; [append] tells them apart.
using AppendFn = Cell* (*)(Cell* series, Cell* value, Cell* part, bool only, Cell* dup, bool append);
using AtFn = BinaryFn;
using BackFn = UnaryFn;
using ChangeFn = Cell* (*)(Cell* series, Cell* value, Cell* part, bool only, Cell* dup);
using ClearFn = UnaryFn;
using CopyFn = Cell* (*)(Cell* value, Cell* result, Cell* part, bool deep, Cell* types);
using FindFn = Cell* (*)(Cell* series, Cell* value, const FindArgs& args);
using HeadFn = UnaryFn;
using HeadQFn = UnaryFn;
using IndexQFn = UnaryFn;
using InsertFn = AppendFn;
using LengthQFn = int32_t (*)(Cell* series);  // -1: no length (none!)
using MoveFn = Cell* (*)(Cell* origin, Cell* target, Cell* part);
using NextFn = UnaryFn;
// pick and poke get the normalised index and the index argument itself.
using PickFn = Cell* (*)(Cell* series, int32_t index, Cell* boxed);
using PokeFn = Cell* (*)(Cell* series, int32_t index, Cell* value, Cell* boxed);
using PutFn = Cell* (*)(Cell* series, Cell* key, Cell* value, bool case_);
using RemoveFn = Cell* (*)(Cell* series, Cell* part, Cell* key);
using ReverseFn = Cell* (*)(Cell* series, Cell* part, Cell* skip);
using SelectFn = FindFn;
using SortFn = Cell* (*)(Cell* series, const SortArgs& args);
using SkipFn = BinaryFn;
using SwapFn = BinaryFn;
using TailFn = UnaryFn;
using TailQFn = UnaryFn;
using TakeFn = Cell* (*)(Cell* series, Cell* part, bool deep, bool last);
using TrimFn = Cell* (*)(Cell* series, bool head, bool tail, bool auto_, bool lines, bool all, Cell* with);
using CreateFn = UnaryFn;
using CloseFn = UnaryFn;
using DeleteFn = UnaryFn;
using ModifyFn = Cell* (*)(Cell* target, Cell* field, Cell* value, bool case_);
using OpenFn = Cell* (*)(Cell* spec, bool new_, bool read, bool write, bool seek, Cell* allow);
using OpenQFn = UnaryFn;
using QueryFn = UnaryFn;
using ReadFn = Cell* (*)(Cell* source, Cell* part, Cell* seek, bool binary, bool lines, bool info, Cell* as);
using RenameFn = BinaryFn;
using UpdateFn = UnaryFn;
using WriteFn = Cell* (*)(Cell* destination, Cell* data, bool binary, bool lines, bool info, bool append,
                          Cell* part, Cell* seek, Cell* allow, Cell* as);

// One datatype's handlers, a member per slot in slot order. A null member is
// "not supported"; kInherit takes the parent's handler at registration.
struct ActionSlots {
#define DEF(id, ident, member, word, refinements, arg) ident##Fn member = nullptr;
#include "datatypes/actions.def"
#undef DEF
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
  constexpr operator HandlerPtr<R, A...>() const { return &InheritStub<R, A...>::call; }
};
inline constexpr InheritMarker kInherit{};

template <class R, class... A>
constexpr bool is_inherit_marker(R (*fn)(A...)) {
  return fn == &InheritStub<R, A...>::call;
}

}  // namespace kiv
