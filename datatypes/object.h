// object!: a context of fields wrapped in a value, with a class id and change
// handlers. error! and port! are objects too and share this layout.
//
// Value cell (object! 32, error! 34, port! 48):
//   header  type id
//   word 1  node of the object's context (datatypes/context.h)
//   word 2  class id
//   word 3  node of the event record (a two-cell series: on-change* and
//           on-deep-change*), 0 when the object has neither handler
//
// Only storage and the collector hooks stand here so far; the actions come
// with the object unit.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace kiv {

inline Node object_context(const Cell* object) { return object->data1; }
inline uint32_t object_class(const Cell* object) { return object->data2; }
inline Node object_events(const Cell* object) { return object->data3; }
inline void object_set_context(Cell* object, Node context) { object->data1 = context; }
// An object of [type] over [context] with [class_id] and [events].
inline Cell object_cell(Node context, uint32_t class_id = 0, Node events = 0, TypeId type = kTypeObject) {
  return make_cell(type, context, class_id, events);
}

}  // namespace kiv
