// The datatype registry: per type id its name, its row of action handlers and
// its row of runtime hooks (mark, hash, verify: runtime/type_hooks.h).
//
// Each datatype registers once, parents before children; a kInherit slot takes
// the parent's handler as it stands at that moment, so rows are resolved once
// and never linked afterwards. A record without hooks takes its parent's hook
// row the same way: a child shares its parent's payload layout unless it gives
// hooks of its own. The tables are not collector memory.
//
// Adding a datatype: a line in runtime/types.def (id, name, parent, families),
// its own unit in datatypes/ (payload layout and accessors in its header,
// handlers, hooks and its <lower>_datatype_init registering them), and a call
// in register_all_datatypes.
#pragma once

#include <cstdint>

#include "datatypes/action_slots.h"
#include "runtime/cell.h"
#include "runtime/type_hooks.h"

namespace kiv {

struct DatatypeRecord {
  TypeId id;
  TypeId parent;     // kTypeNil for none
  const char* name;  // "block!"
  int count;         // action entries given; anything but kActionCount is refused
  ActionSlots slots;
  const TypeHooks* hooks = nullptr;  // null: the parent's hook row
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
// Loads each registered type's name as a word. Needs symbols and the global context.
void load_type_words();

inline const ActionSlots& actions_of(TypeId t) { return g_action_table[t]; }
inline const char* type_name(TypeId t) { return g_type_names[t].name; }
// The parent type of [t] as the type list declares it.
TypeId type_parent(TypeId t);

// Registration functions of the datatypes, in their own files.
// Each registers its own type (or, for a unit serving several, each of them).
#define DEF(id, ident, lower, name, parent, families) void lower##_datatype_init();
#include "runtime/types.def"
#undef DEF

}  // namespace kiv
