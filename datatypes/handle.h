// handle!: an opaque operating-system or back-end handle carried through the
// language, tagged with what it refers to. Scripts form, mold and compare
// handles; only native code makes them.
//
// Value cell (handle! 46):
//   header  type id
//   word 1  the kind (kHandleNull ... kHandlePortActor)
//   word 2  the value: the raw 32-bit handle (a descriptor), or the index of
//           its external-resource registry entry (runtime/resources.h)
//   word 3  -1 for a raw handle; for a registry entry its generation, so a
//           handle whose entry was freed or reused reads as gone
#pragma once

#include <cstdint>

#include "datatypes/action_slots.h"
#include "runtime/cell.h"

namespace kiv {

enum HandleKind : uint32_t {
  kHandleNull = 0,
  kHandleFd = 1,
  kHandleMonitor = 2,
  kHandleWindow = 3,
  kHandleFont = 4,
  kHandleRichText = 5,
  kHandlePortActor = 6,  // a native port actor: its number in the registry (datatypes/port.h)
};

inline constexpr uint32_t kHandleNoEntry = 0xFFFFFFFFu;

inline uint32_t handle_kind(const Cell* handle) { return handle->data1; }
inline uint32_t handle_value(const Cell* handle) { return handle->data2; }
inline uint32_t handle_generation(const Cell* handle) { return handle->data3; }
// A raw handle of [kind].
inline Cell handle_cell(uint32_t kind, uint32_t value) {
  return make_cell(kTypeHandle, kind, value, kHandleNoEntry);
}
// A handle of [kind] naming registry entry [index] as it is now.
Cell handle_of_resource(uint32_t kind, uint32_t index);
// True for a raw handle, or one whose registry entry still holds the
// instance it named.
bool handle_live_q(const Cell* handle);

// Makes [cell] a handle!; returns it.
Cell* handle_init(Cell* cell, uint32_t value, uint32_t kind);
// Makes the current call's result (the first argument slot) a handle!.
Cell* handle_box(uint32_t value, uint32_t kind);
// Appends a handle! to [block]; returns the new cell (short-lived).
Cell* handle_make_at(const Cell* block, uint32_t value, uint32_t kind);
Cell* handle_push(uint32_t value, uint32_t kind);
Cell* handle_push_null();

// The name of a kind for mold/all ("window"), or "" for null and unknown kinds.
const char* handle_kind_name(uint32_t kind);

int32_t handle_form(Cell* value, const FormArgs& args);
int32_t handle_mold(Cell* value, const MoldArgs& args);
// Against a handle!: the values as signed integers, kinds ignored (a
// registry handle orders after by generation). Against anything else: 1,
// never not-comparable.
int handle_compare(Cell* value, const CompareArgs& args);

}  // namespace kiv
