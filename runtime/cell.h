// The value cell: the one 16-byte record every Kiv value lives in.
//
//   word 0  header   bits 0-7   type id (TypeId)
//                    bits 8-31  flags (kFlagNewLine, kFlagStackValues, kFlagOwnsSeries, ...)
//   word 1  payload  -+
//   word 2  payload   | laid out by each datatype at the top of its own file
//   word 3  payload  -+
//
// Cells are copied whole. A cell never holds a C++ pointer: series and contexts
// are named by 32-bit node handles, natives and actions by ids, external
// resources by table index.
//
// Each datatype's header (datatypes/) lays out its payload and gives the
// accessors; only that type's unit reads or writes its raw words. The one
// layout defined here is the one every series type shares, which the memory
// manager and the text conversions below the datatypes work with:
//   word 1  head index (signed, in units)   word 2  node   word 3  type-specific
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace kiv {

enum TypeId : uint8_t {
  kTypeNil = 0,  // "no type": an empty registry row, the parent of a root type
#define DEF(id, ident, lower, name, parent, families) kType##ident = id,
#include "runtime/types.def"
#undef DEF
};
// The highest type id: the number of lines of types.def, which lists the ids in order.
inline constexpr int kMaxTypeId = 0
#define DEF(id, ident, lower, name, parent, families) +1
#include "runtime/types.def"
#undef DEF
    ;
static_assert(kMaxTypeId == 54 && kTypeEvent == kMaxTypeId, "types.def lists the ids 1..54 in order");
// Rows of the per-type tables: every id, with room for the two ids (55, 56) the
// registry keeps free after the last datatype.
inline constexpr int kTypeTableRows = kMaxTypeId + 3;

// Header flags shared by several datatypes.
inline constexpr uint32_t kTypeMask = 0xFFu;
inline constexpr uint32_t kFlagNewLine = 0x40000000u;      // a line break precedes the value when molded
inline constexpr uint32_t kFlagStackValues = 0x00400000u;  // context cell: values live on the data stack
inline constexpr uint32_t kFlagOwnsSeries = 0x00010000u;   // object's context cell: it owns series

using Node = uint32_t;  // series node handle; 0 is "no series"

struct Cell {
  uint32_t header;
  uint32_t data1;
  uint32_t data2;
  uint32_t data3;

  TypeId type() const { return TypeId(header & kTypeMask); }
  // Replaces the type id and keeps the flags.
  void set_type(TypeId t) { header = (header & ~kTypeMask) | t; }
  // Writes the whole header: type id, all flags cleared.
  void set_header(TypeId t) { header = t; }
  bool is(TypeId t) const { return type() == t; }
  bool new_line() const { return header & kFlagNewLine; }
  void clear_new_line() { header &= ~kFlagNewLine; }

  // Series view of the payload.
  int32_t head() const { return int32_t(data1); }
  void set_head(int32_t i) { data1 = uint32_t(i); }
  Node node() const { return data2; }
  void set_node(Node n) { data2 = n; }
};

static_assert(sizeof(Cell) == 16, "a value cell is exactly 16 bytes");
static_assert(offsetof(Cell, header) == 0 && offsetof(Cell, data1) == 4 && offsetof(Cell, data2) == 8 &&
              offsetof(Cell, data3) == 12);

// Copies the four words unless source and destination are the same cell.
inline void copy_cell(Cell* dst, const Cell* src) {
  if (dst != src) *dst = *src;
}

inline Cell make_cell(TypeId t, uint32_t w1 = 0, uint32_t w2 = 0, uint32_t w3 = 0) {
  return Cell{t, w1, w2, w3};
}

// Writes [v] into [*dst] as one 16-byte store: a cell written in pieces and
// then read whole (by the next copy of it) stalls that load until the stores
// drain. For hot paths that build a cell and copy it on at once.
[[gnu::always_inline]] inline void store_cell_whole(Cell* dst, const Cell& v) {
  using Words = uint32_t __attribute__((vector_size(16)));
  Words w = {v.header, v.data1, v.data2, v.data3};
  __builtin_memcpy(dst, &w, sizeof w);
}

// A series value of type [t] over [node] at [head], word 3 clear.
inline Cell series_cell(TypeId t, Node node, int32_t head = 0) { return Cell{t, uint32_t(head), node, 0}; }

}  // namespace kiv
