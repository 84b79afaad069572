// The datatype registry: per type id its name and its row of action handlers.
//
// Each datatype registers once, parents before children; a kInherit slot takes
// the parent's handler as it stands at that moment, so rows are resolved once
// and never linked afterwards. The tables are not collector memory.
#pragma once

#include <cstdint>

#include "datatypes/action_slots.h"
#include "runtime/cell.h"

namespace kiv {

struct DatatypeRecord {
  TypeId id;
  TypeId parent;     // kTypeNil for none
  const char* name;  // "block!"
  int count;         // action entries given; anything but kActionCount is refused
  ActionSlots slots;
};

struct TypeNameEntry {
  const char* name;     // static text with the trailing "!"
  uint32_t length;      // characters before the trailing "!"
  Cell word;            // the name as a word of the global context, once loaded
};

extern ActionSlots g_action_table[kTypeTableRows];
extern TypeNameEntry g_type_names[kTypeTableRows];
extern int g_max_type_id;

// Writes the type's name entry and its resolved row. A record whose count is
// not 62 prints the three-line datatype error and ends the process with 1.
void register_datatype(const DatatypeRecord& record);
// Registers every built-in datatype in parent-first order (all but event!).
void register_all_datatypes();
// Loads each registered type's name as a word. Needs symbols and the global context.
void load_type_words();

inline const ActionSlots& actions_of(TypeId t) { return g_action_table[t]; }
inline const char* type_name(TypeId t) { return g_type_names[t].name; }
// The parent type of [t] as the type list declares it.
TypeId type_parent(TypeId t);

// Registration functions of the datatypes, in their own files.
#define DEF(id, ident, lower, name, parent) void lower##_datatype_init();
#include "runtime/types.def"
#undef DEF

}  // namespace kiv
