// The datatype registry: per type id its name, its row of action handlers,
// its row of what generic code reaches beyond the actions (TypeSlots:
// datatypes/type_slots.h) and its row of runtime hooks (mark, hash, verify:
// runtime/type_hooks.h).
//
// Each datatype registers once, parents before children; a kInherit slot takes
// the parent's handler as it stands at that moment, so rows are resolved once
// (only registry_install follows an inherited slot down afterwards, at
// start-up). A record without hooks takes its parent's hook
// row the same way, and one without type slots its parent's type slots: a
// child shares its parent's payload layout and units unless it gives rows of
// its own. The tables are not collector memory.
//
// A layer above the datatypes (a service, the library, the console) adds or
// overrides handlers through registry_install alone, during start-up: it
// never writes a row itself. The registry remembers which slots each type
// took by kInherit, so an install reaches the children that inherit the
// slot. Once start-up is over (registry_seal) the rows are final: a later
// registration or install ends the process with a report.
//
// Adding a datatype: a line in runtime/types.def (id, name, parent, families),
// and its own unit in datatypes/: payload layout and accessors in its header;
// handlers, hooks, type slots (for a series or a set) and its
// <lower>_datatype_init registering them, which register_all_datatypes calls
// from the types.def line.
#pragma once

#include <cstdint>

#include "datatypes/action_slots.h"
#include "datatypes/type_slots.h"
#include "runtime/cell.h"
#include "runtime/type_hooks.h"

namespace kiv {

struct DatatypeRecord {
  TypeId id;
  TypeId parent;     // kTypeNil for none
  const char* name;  // "block!"
  int count;         // action entries given; anything but kActionCount is refused
  ActionSlots slots;
  const TypeHooks* hooks = nullptr;       // null: the parent's hook row
  const TypeSlots* type_slots = nullptr;  // null: the parent's type slots
};

struct TypeNameEntry {
  const char* name;  // static text with the trailing "!"
  uint32_t length;   // characters before the trailing "!"
  Cell word;         // the name as a word of the global context, once loaded
};

extern ActionSlots g_action_table[kTypeTableRows];
extern TypeNameEntry g_type_names[kTypeTableRows];
extern int g_max_type_id;

// Writes the type's name entry, its resolved handler row and its hook row. A
// record whose count is not 62 prints the three-line datatype error and ends
// the process with 1.
void register_datatype(const DatatypeRecord& record);
// Registers every built-in datatype in parent-first order.
void register_all_datatypes();

// The one way a layer above the datatypes changes handlers, at start-up:
// each non-null slot of [slots] becomes [type]'s handler (kInherit takes its
// parent's handler again, as a registration would), and every registered
// type below it that took that slot by kInherit, directly or through its
// parent, takes the new handler too. Null slots are left as they are. After
// registry_seal it writes the three-line datatype error naming the type and
// ends the process with 1.
void registry_install(TypeId type, const ActionSlots& slots);
// A native port actor: C++ code that answers the actions forwarded to a port
// whose actor is the handle! of kind kHandlePortActor naming it
// (datatypes/port.h). [action] is the action, [port] the port (stable), and
// [args] the [count] stable cells the forwarder passes after it, as a Kiv
// actor function receives them. Returns the action's result, a cell the
// caller copies at once. MAY ALLOCATE, MAY RUN KIV CODE.
using PortActorFn = Cell* (*)(ActionId action, Cell* port, Cell* args, int32_t count);
// Adds a native port actor during start-up and returns its number (from 1),
// the value of the handle! that names it. After registry_seal it writes the
// three-line datatype error naming port! and ends the process with 1.
uint32_t registry_add_port_actor(PortActorFn actor);
// The native port actor numbered [number], or null when there is none.
PortActorFn registry_port_actor(uint32_t number);
// Start-up is over: the handler rows are final.
void registry_seal();
bool registry_sealed_q();
// Loads each registered type's name as a word. Needs symbols and the global context.
void load_type_words();

inline const ActionSlots& actions_of(TypeId t) { return g_action_table[t]; }
extern TypeSlots g_type_slots[kTypeTableRows];
inline const TypeSlots& type_slots_of(TypeId t) { return g_type_slots[t]; }
inline const char* type_name(TypeId t) { return g_type_names[t].name; }
// The parent type of [t] as the type list declares it.
TypeId type_parent(TypeId t);

// Registration functions of the datatypes, in their own files.
// Each registers its own type (or, for a unit serving several, each of them).
#define DEF(id, ident, lower, name, parent, families) void lower##_datatype_init();
#include "runtime/types.def"
#undef DEF

}  // namespace kiv
