// series!: the abstract datatype whose action row every series type inherits
// (through block! and string!, or directly for image!): navigation, pick and
// poke, clear, remove, reverse, take, copy, move, random, reflect and modify.
// No value ever has type series!.
//
// Series value cell (shared by every series type):
//   header  type id in bits 0-7; kFlagNewLine is kept by copies
//   word 1  head index: signed count of units from the buffer's first unit
//           (SeriesBuffer::head), which may lie below 0 or past the tail
//   word 2  node of the buffer; its unit (1, 2, 4, 8 or 16 bytes) is in the flags
//   word 3  type-specific: the hash! index table, the vector! element type id,
//           a string's conversion buffer; 0 otherwise
//
// One implementation serves every unit size. Where the element matters it
// goes through the type's row of type slots (datatypes/type_slots.h), never
// by type id: the block family gives and takes cells, binary! bytes as
// integer!, vector! its element values, the string family code points as
// char!.
//
// Invariants kept by every handler here: no read or write ever leaves the
// units between the buffer's first unit and its tail, whatever head a value
// carries (a negative head reads as 0, a head past the tail as the tail);
// every argument is checked before anything changes; every writer tells the
// owning object before and after the change and keeps a hash! index in step.
//
// Handlers follow the action-slot conventions: argument cells live on the
// data stack; navigation, clear, remove and reverse change and return their
// first argument; pick overwrites its first argument with the element.
#pragma once

#include <cstdint>

#include "datatypes/action_slots.h"
#include "datatypes/integer.h"
#include "datatypes/type_slots.h"
#include "runtime/cell.h"
#include "runtime/memory.h"
#include "runtime/typesets.h"

namespace kiv {

// ---------------------------------------------------------------- helpers

// Short-lived. The buffer of the series [value].
inline SeriesBuffer* series_buffer_of(const Cell* value) { return series_buffer(value->node()); }
// Short-lived. The address of unit [i] of [b], counted from its first unit.
inline uint8_t* series_unit_at(SeriesBuffer* b, int64_t i) { return b->head_ptr() + uint64_t(i) * b->unit(); }
// Units from the buffer's first unit to the tail, whatever the head.
inline int32_t series_total_length(const Cell* value) { return int32_t(series_buffer_of(value)->length()); }
// Cells from the buffer's first cell to the tail, whatever the head: the bytes
// in use over 16 whatever the unit, so series_total_length for a buffer of
// cells. The block family's modify and search handlers count with it.
inline int32_t series_total_cells(const Cell* value) {
  return int32_t(series_buffer_of(value)->cell_count());
}
// The head read into 0..[total]: a negative head as 0, one past [total] as [total].
inline int32_t series_clamp_head(const Cell* value, int32_t total) {
  int32_t h = value->head();
  return h < 0 ? 0 : h > total ? total : h;
}

// True when the head (a negative one read as 0) is at or past the tail.
bool series_at_tail_q(const Cell* value);
// Adds [n] to the head only when the new position is not past the tail;
// true when that new position is at or past the tail.
bool series_advance(Cell* value, int32_t n);
// Units from the head (or from the first unit when [from_start]) to the tail.
// A negative head counts as 0; a head past the tail is set to the tail and 0
// returned.
int32_t series_length_clamped(Cell* value, bool from_start);
// The new head that at ([offset_base] -1) and skip ([offset_base] 0) give for
// the integer! [arg]: head + n + offset_base for n of 1 or more, head + n
// otherwise, clamped to 0..total length. Raises script invalid-arg with [arg]
// when it is not an integer!.
int32_t series_index_arg(const Cell* value, const Cell* arg, int32_t offset_base);

// What a unit of a series of [type] is as a value (its type slots); kNone
// for a type that is not a series.
SeriesElement series_element_kind(TypeId type);
// True for the series whose units are code points or bytes: the text family
// and binary!.
bool series_text_or_bytes_q(TypeId type);

// Writes into *[out] the element of [series] at unit [index], counted from
// the buffer's first unit; the caller has checked 0 <= index < total length.
// Raises internal not-done for a series without readable units.
void series_element_at(const Cell* series, int32_t index, Cell* out);

// A series of [value]'s type over [node] at head 0, with what of [value]'s
// payload a copy keeps (vector!: its element type); word 3 is 0 otherwise.
Cell series_like(const Cell* value, Node node);

// ---------------------------------------------------------------- set operations

// The set operations behind the natives unique, union, intersect, exclude and
// difference (codes shared with typeset! and bitset!).
enum SetOp : int32_t {
  kSetUnique = 8,
  kSetUnion = 9,
  kSetIntersect = 10,
  kSetExclude = 11,
  kSetDifference = 12,
};

// For the sets held as bits (typeset!, bitset!), which also take kMathAnd,
// kMathOr and kMathXor: checks [op] is one of those or a SetOp (a fault
// otherwise) and answers true for kSetUnique, which leaves a set as it is.
bool set_op_unique_q(int32_t op);

// The order of a sort's first record against its second from the answer of
// a comparator called with the second record's value first (as f y x): true
// or a negative number puts the first record after the second; false, none
// or a positive number before it; zero keeps them equal; any other value
// counts as after. Blocks and strings sort by this one rule.
int sort_answer_order(const Cell* answer);
// MAY RUN KIV CODE. Calls the sort comparator [function] with [given_first]
// and [given_second] (stable cells; a sort gives the second record first, the
// first under /reverse), writes its answer into [answer] (a stable cell) and
// returns sort_answer_order of it. The comparator may move or cut the series
// being sorted; the sorts read records by index afterwards.
int sort_compare_by_function(const Cell* function, const Cell* given_first, const Cell* given_second,
                             Cell* answer);

// One word of members of two bit sets under [op] (not kSetUnique): kSetUnion
// and kMathOr join, kSetIntersect and kMathAnd intersect, kSetDifference and
// kMathXor keep the members of one only, kSetExclude keeps [x]'s members that
// are not [y]'s.
template <class Word>
constexpr Word set_op_combine(int32_t op, Word x, Word y) {
  switch (op) {
    case kMathOr:
    case kSetUnion: return Word(x | y);
    case kMathAnd:
    case kSetIntersect: return Word(x & y);
    case kMathXor:
    case kSetDifference: return Word(x ^ y);
    default: return Word(x & Word(~y));  // kSetExclude
  }
}

struct SetOpArgs {
  SetOp op = kSetUnique;
  bool case_ = false;  // case-sensitive matching
  RecordSize skip;     // record size, 1 without /skip
};

// MAY ALLOCATE, MAY RUN KIV CODE. The set operation args.op through [set1]'s
// type slots: block_set_op (the block family), string_set_op (text and
// bytes), bitset_set_op, typeset_set_op; [set2] is unused by unique. For a
// series it first reads /skip (an integer! of 1 or more, else script
// invalid-refine-arg); the sets held as bits leave /case and /skip unread. A
// type without set operations raises script invalid-arg. The result
// replaces [set1], which is returned.
Cell* series_set_op(Cell* set1, Cell* set2, SetOpArgs args);

// ---------------------------------------------------------------- hash! index upkeep
// Each does nothing unless [value] is a hash! with an index table. Positions
// are absolute cell indexes.

// Unindexes the [n] cells at [pos] before they leave the block. Never allocates.
void series_hash_unindex(const Cell* value, int32_t pos, int32_t n);
// MAY ALLOCATE, MAY RUN KIV CODE. Indexes the [n] cells at [pos] (new or rewritten).
void series_hash_index(const Cell* value, int32_t pos, int32_t n);
// MAY ALLOCATE, MAY RUN KIV CODE. After [offset] cells were inserted at [pos]
// (or removed from it, [removing]): shifts the indexes of the [count] cells
// that follow them, rebuilding the index when the shift declines.
void series_hash_shift(const Cell* value, int32_t pos, int32_t offset, int32_t count, bool removing);
// MAY ALLOCATE, MAY RUN KIV CODE. Gives the hash! [value] (a stable cell) a new
// index over its cells; other types are left alone.
void series_hash_index_new(Cell* value);

// ---------------------------------------------------------------- handlers of series!

// MAY RUN KIV CODE (owner notification). /seed seeds the generator from the
// bytes from the head to the tail (the result is unset!); /only picks one
// element (none when empty); else the units from the head are shuffled in place.
Cell* series_random(Cell* value, const RandomArgs& args);
// Field `owned`: the owner object or none. Any other field raises internal not-done.
Cell* series_reflect(Cell* value, const ReflectArgs& args);
Cell* series_at(Cell* value, const AtArgs& args);
Cell* series_back(Cell* value, const NoneArgs& args);
// MAY RUN KIV CODE. Cuts the tail at the head.
Cell* series_clear(Cell* value, const NoneArgs& args);
// MAY ALLOCATE. The generic copy (strings, binaries, vectors): the units from
// the head, or the /part range (integer, pair! x by y, or a position in the
// same buffer), into a new buffer of the same unit written to [result].
// Word 3 of the result is 0 except for vector! (its element type): a hash!
// result has no index yet, which hash!'s own copy gives it.
Cell* series_copy(Cell* value, const CopyArgs& args);
// MAY ALLOCATE. What series_copy makes of the [n] units at absolute [from] of
// [value]'s buffer (0 <= from, from + n <= its total length), written to
// [*out]. [value] and [out] are stable cells.
void series_copy_units(const Cell* value, int32_t from, int32_t n, Cell* out);
Cell* series_head(Cell* value, const NoneArgs& args);
Cell* series_head_q(Cell* value, const NoneArgs& args);
Cell* series_index_q(Cell* value, const NoneArgs& args);
int32_t series_length_q(Cell* value, const NoneArgs& args);
// MAY ALLOCATE, MAY RUN KIV CODE. Moves 1 (or /part) units from [origin]'s
// head to [target]'s head, within one buffer or between two. Returns [target].
Cell* series_move(Cell* origin, const MoveArgs& args);
Cell* series_next(Cell* value, const NoneArgs& args);
// The unit a pick/poke index names in [v]: head + index - 1 for a positive
// index, head + index for a negative one; -1 for index 0.
inline int64_t pick_position(const Cell* v, int32_t index) {
  if (index == 0) return -1;
  return int64_t(v->head()) + index - (index > 0 ? 1 : 0);
}
// Overwrites [value] with the element at [index] (1 is the head, -1 the unit
// before it) or none when out of range, and returns it.
Cell* series_pick(Cell* value, const PickArgs& args);
// MAY ALLOCATE (string widening), MAY RUN KIV CODE. Stores [value] at
// [index]; returns [value].
Cell* series_poke(Cell* value, const PokeArgs& args);
// MAY RUN KIV CODE (owner notification; /key runs the type's find).
Cell* series_remove(Cell* value, const RemoveArgs& args);
// MAY RUN KIV CODE.
Cell* series_reverse(Cell* value, const ReverseArgs& args);
Cell* series_skip(Cell* value, const SkipArgs& args);
Cell* series_tail(Cell* value, const NoneArgs& args);
Cell* series_tail_q(Cell* value, const NoneArgs& args);
// The units take takes from [value]: [*from, *from + *count) in absolute
// units, from the head (a negative /part count: before it) or from the tail
// with /last. False when the value is empty from its head (take answers none).
bool series_take_range(const Cell* value, const TakeArgs& args, int64_t* from, int64_t* count);
// MAY ALLOCATE, MAY RUN KIV CODE. The core of take that block! and string!
// wrap: pushes and returns none (empty from the head) or a new series of the
// value's type holding the taken units; the units leave [value]'s buffer.
Cell* series_take(Cell* value, const TakeArgs& args);
// MAY ALLOCATE, MAY RUN KIV CODE. Field `owned`: none releases ownership, a
// block [object word] makes the series owned. Returns [value].
Cell* series_modify(Cell* value, const ModifyArgs& args);

// Registers series! (type 42, no parent).
void series_datatype_init();

}  // namespace kiv
