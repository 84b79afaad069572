// What the runtime asks of each datatype: the row of hooks the collector, the
// heap check and the hash tables call for a cell of that type.
//
// Each datatype fills its row when it registers (datatypes/registry.h); a
// child type without a hook of its own takes its parent's. The runtime below
// the datatypes knows no payload layout: everything it needs of a cell's
// payload goes through these hooks.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace kiv {

struct TypeHooks {
  // Marks what [cell] refers to, through the collector's marking primitives
  // (runtime/collector.h). Never allocates. The heap check runs the same hook
  // with primitives that check each handle instead of marking it, so it
  // follows exactly the handles the marker follows. Null: no references.
  void (*mark)(const Cell* cell) = nullptr;
  // The hash of a value: equal values (after a type check) hash alike. Null:
  // hash_payload_words.
  uint32_t (*hash)(const Cell* cell) = nullptr;
  // Checks what the handles do not tell (a buffer of the wrong unit, a
  // position out of its range), reporting through gc_verify_fault. Null: nothing.
  void (*verify)(const Cell* cell) = nullptr;
};

// The rows, by type id; rows of unregistered types are empty.
extern TypeHooks g_type_hooks[kTypeTableRows];

// The hash of [value] through its type's row.
uint32_t hash_value(const Cell* value);
// The hash of the three payload words, for values equal only when all three are.
uint32_t hash_payload_words(const Cell* value);

}  // namespace kiv
