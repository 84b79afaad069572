// A type's second row in the registry: what generic code reaches in a type
// beyond its 62 action handlers, so that the series! handlers and the
// searches never test for block!, binary!, vector! or text by type id, and
// the set operations never test for bitset! or typeset!.
//
// A series type's row says how its units read and write as values; a set's
// row gives its set operation. A datatype registered without a row takes
// its parent's whole (url! and file! read their units as string! does,
// paren! and hash! as block!); a type with neither has the empty row.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace kiv {

struct SetOpArgs;  // datatypes/series.h

// What one unit of a series is as a value.
enum class SeriesElement : uint8_t {
  kNone,       // no units to read (every type that is not a series; image!: its own handlers)
  kCell,       // the block family: the cell as it is
  kByte,       // binary!: an integer! 0..255
  kVector,     // vector!: a value of the vector's element type
  kCodePoint,  // the text family: a char!
};

struct TypeSlots {
  SeriesElement element = SeriesElement::kNone;
  // The value unit [index] (absolute, 0 <= index < total length) holds.
  Cell (*unit_value)(const Cell* series, int32_t index) = nullptr;
  // Raises the error storing [value] as a unit of [series] meets; runs
  // before anything changes. Null: every value fits.
  void (*unit_check)(const Cell* series, const Cell* value) = nullptr;
  // MAY ALLOCATE (a string widening), MAY RUN KIV CODE (a hash! index).
  // Stores [value], checked by unit_check, at unit [index] (absolute, inside
  // the buffer).
  void (*unit_store)(const Cell* series, int32_t index, const Cell* value) = nullptr;
  // Gives [copy] (a new series of [series]'s type over another buffer) what
  // of [series]'s payload a copy keeps beyond the buffer: vector! its element
  // type. Null: nothing.
  void (*keep_kind)(const Cell* series, Cell* copy) = nullptr;
  // Whether two series of this element kind hold units of the same kind
  // (vector!: the same element type and unit size), so units move between
  // them as they are. Null: always.
  bool (*same_units_q)(const Cell* a, const Cell* b) = nullptr;
  // MAY ALLOCATE, MAY RUN KIV CODE. The set operation args.op of [set1]
  // with [set2] (unused by unique); the result replaces [set1], which is
  // returned. Null: no set operations.
  Cell* (*set_op)(Cell* set1, Cell* set2, const SetOpArgs& args) = nullptr;
};

}  // namespace kiv
