// Registration of datatypes and the resolved handler rows.
#include "datatypes/registry.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <vector>

#include "datatypes/actions.h"
#include "datatypes/word.h"
#include "platform/process.h"
#include "runtime/compare.h"
#include "runtime/fatal.h"

namespace kiv {

ActionSlots g_action_table[kTypeTableRows];
TypeSlots g_type_slots[kTypeTableRows];
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

// What registration recorded of each row beyond its handlers: the parent it
// named (test rows may name another than the type list) and the slots it
// took by kInherit (bit [slot id]), which registry_install follows down.
struct RowOrigin {
  TypeId parent = kTypeNil;
  uint64_t inherited = 0;
};
static_assert(kActionCount < 64, "one bit per action slot");
RowOrigin g_origins[kTypeTableRows];

bool g_sealed = false;

// Writes [text] (the lines of a datatype error) and ends the process with 1.
[[noreturn]] void datatype_error(const char* text) {
  write_all(1, text, std::strlen(text));
  process_exit(1);
}

// Once start-up is over, the rows are final.
void check_open(TypeId type) {
  if (!g_sealed) return;
  char text[120];
  std::snprintf(text, sizeof text, "*** Datatype Error: handlers changed after start-up for type: %d\n",
                int(type));
  datatype_error(text);
}

// Sets slot [member] of [type]'s row to [handler], and of every registered
// type below it that inherits the slot ([bit] in its inherited slots).
template <class Fn>
void set_slot_down(TypeId type, Fn ActionSlots::*member, Fn handler, uint64_t bit) {
  g_action_table[type].*member = handler;
  for (int t = 1; t < kTypeTableRows; t++)
    if (t != type && g_origins[t].parent == type && (g_origins[t].inherited & bit))
      set_slot_down(TypeId(t), member, handler, bit);
}

// One slot of registry_install: [given] null leaves it, kInherit takes the
// parent's handler and marks the slot inherited, a handler replaces it.
template <class Fn>
void install_slot(TypeId type, Fn ActionSlots::*member, Fn given, uint64_t bit) {
  if (!given) return;
  RowOrigin& origin = g_origins[type];
  Fn handler = given;
  origin.inherited &= ~bit;
  if (is_inherit_marker(given)) {
    handler = origin.parent ? g_action_table[origin.parent].*member : nullptr;
    if (origin.parent) origin.inherited |= bit;
  }
  set_slot_down(type, member, handler, bit);
}

}  // namespace

TypeId type_parent(TypeId t) { return kParents[t]; }

void register_datatype(const DatatypeRecord& r) {
  check_open(r.id);
  if (r.id > g_max_type_id) g_max_type_id = r.id;
  TypeNameEntry& entry = g_type_names[r.id];
  entry.name = r.name;
  entry.length = uint32_t(std::strlen(r.name) - 1);
  entry.word = make_cell(kTypeNil);
  if (r.count != kActionCount) {
    char text[160];
    std::snprintf(text, sizeof text,
                  "*** Datatype Error: invalid actions count for type: %d\n*** Found: %d\n*** Expected: %d\n",
                  int(r.id), r.count, kActionCount);
    datatype_error(text);
  }
  const ActionSlots& parent = g_action_table[r.parent];
  ActionSlots row = r.slots;
  RowOrigin origin{r.parent, 0};
#define ACTION(id, ident, member, ...)                     \
  if (is_inherit_marker(row.member)) {                     \
    row.member = r.parent ? parent.member : nullptr;       \
    if (r.parent) origin.inherited |= uint64_t(1) << (id); \
  }
#include "datatypes/actions.def"
  g_action_table[r.id] = row;
  g_origins[r.id] = origin;
  g_type_hooks[r.id] = r.hooks ? *r.hooks : g_type_hooks[r.parent];
  g_type_slots[r.id] = r.type_slots ? *r.type_slots : g_type_slots[r.parent];
}

void registry_install(TypeId type, const ActionSlots& slots) {
  check_open(type);
#define ACTION(id, ident, member, ...) \
  install_slot(type, &ActionSlots::member, slots.member, uint64_t(1) << (id));
#include "datatypes/actions.def"
}

namespace {
// The native port actors, numbered from 1 in the order added.
std::vector<PortActorFn> g_port_actors;
}  // namespace

uint32_t registry_add_port_actor(PortActorFn actor) {
  check_open(kTypePort);
  g_port_actors.push_back(actor);
  return uint32_t(g_port_actors.size());
}

PortActorFn registry_port_actor(uint32_t number) {
  return number >= 1 && number <= g_port_actors.size() ? g_port_actors[number - 1] : nullptr;
}

void registry_seal() { g_sealed = true; }
bool registry_sealed_q() { return g_sealed; }

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
// stands.
void register_all_datatypes() {
  for (TypeId t : kInitOrder) kInits[t]();
}

// Type names become words once the symbol table and the global context exist.
void load_type_words() {
  for (int t = 1; t <= g_max_type_id; t++) load_word_into(&g_type_names[t].word, g_type_names[t].name);
}

}  // namespace kiv
