// Registration of datatypes and the resolved handler rows.
#include "datatypes/registry.h"

#include <array>
#include <cstdio>
#include <cstring>

#include "datatypes/actions.h"
#include "datatypes/word.h"
#include "platform/process.h"
#include "runtime/compare.h"
#include "runtime/fatal.h"

namespace kiv {

ActionSlots g_action_table[kTypeTableRows];
// Every type id has its name from the start, so a datatype! forms and molds
// even before (or without) its type's handlers being registered.
TypeNameEntry g_type_names[kTypeTableRows] = {
    {"", 0, {}},
#define DEF(id, ident, lower, name, parent, families) {name, sizeof(name) - 2, {}},
#include "runtime/types.def"
#undef DEF
};
int g_max_type_id = 0;

namespace {

constexpr TypeId kParents[kTypeTableRows] = {
    kTypeNil,
#define DEF(id, ident, lower, name, parent, families) kType##parent,
#include "runtime/types.def"
#undef DEF
};

}  // namespace

TypeId type_parent(TypeId t) { return kParents[t]; }

void register_datatype(const DatatypeRecord& r) {
  if (r.id > g_max_type_id) g_max_type_id = r.id;
  TypeNameEntry& entry = g_type_names[r.id];
  entry.name = r.name;
  entry.length = uint32_t(std::strlen(r.name) - 1);
  entry.word = make_cell(kTypeNil);
  if (r.count != kActionCount) {
    char line[160];
    std::snprintf(line, sizeof line,
                  "*** Datatype Error: invalid actions count for type: %d\n*** Found: %d\n*** Expected: %d\n",
                  int(r.id), r.count, kActionCount);
    write_all(1, line, std::strlen(line));
    process_exit(1);
  }
  const ActionSlots& parent = g_action_table[r.parent];
  ActionSlots row = r.slots;
#define ACTION(id, ident, member, word, first, Result, ArgsName) \
  if (is_inherit_marker(row.member)) row.member = r.parent ? parent.member : nullptr;
#include "datatypes/actions.def"
  g_action_table[r.id] = row;
  g_type_hooks[r.id] = r.hooks ? *r.hooks : g_type_hooks[r.parent];
}

namespace {

using InitFn = void (*)();

constexpr InitFn kInits[kTypeTableRows] = {
    nullptr,
#define DEF(id, ident, lower, name, parent, families) &lower##_datatype_init,
#include "runtime/types.def"
#undef DEF
};

// Links from a type up to a root type.
constexpr int depth_of(TypeId t) {
  int depth = 0;
  for (TypeId p = kParents[t]; p != kTypeNil; p = kParents[p]) depth++;
  return depth;
}

// Every type id, parents before children (by depth, then by id).
constexpr std::array<TypeId, kMaxTypeId> kInitOrder = [] {
  std::array<TypeId, kMaxTypeId> order{};
  int n = 0;
  for (int depth = 0; n < kMaxTypeId; depth++)
    for (int t = 1; t <= kMaxTypeId; t++)
      if (depth_of(TypeId(t)) == depth) order[n++] = TypeId(t);
  return order;
}();

}  // namespace

// Parents before children: a kInherit slot copies the parent's row as it
// stands. event! is left to the text-mode interface, which registers it.
void register_all_datatypes() {
  for (TypeId t : kInitOrder)
    if (t != kTypeEvent) kInits[t]();
}

// Type names become words once the symbol table and the global context exist.
void load_type_words() {
  for (int t = 1; t <= g_max_type_id; t++) load_word_into(&g_type_names[t].word, g_type_names[t].name);
}

}  // namespace kiv
