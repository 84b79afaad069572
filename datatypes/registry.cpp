// Registration of datatypes and the resolved handler rows.
#include "datatypes/registry.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "datatypes/word.h"
#include "runtime/fatal.h"

namespace kiv {

ActionSlots g_action_table[kTypeTableRows];
// Every type id has its name from the start, so a datatype! forms and molds
// even before (or without) its type's handlers being registered.
TypeNameEntry g_type_names[kTypeTableRows] = {
    {"", 0, {}},
#define DEF(id, ident, lower, name, parent) {name, sizeof(name) - 2, {}},
#include "runtime/types.def"
#undef DEF
};
int g_max_type_id = 0;

namespace {

constexpr TypeId kParents[kTypeTableRows] = {
    kTypeNil,
#define DEF(id, ident, lower, name, parent) kType##parent,
#include "runtime/types.def"
#undef DEF
};

void print_raw(const char* text) {
  size_t n = std::strlen(text);
  while (n > 0) {
    ssize_t w = write(1, text, n);
    if (w <= 0) return;
    text += w;
    n -= size_t(w);
  }
}

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
    print_raw(line);
    _exit(1);
  }
  const ActionSlots& parent = g_action_table[r.parent];
  ActionSlots row = r.slots;
#define DEF(id, ident, member, word, refinements, arg) \
  if (is_inherit_marker(row.member)) row.member = r.parent ? parent.member : nullptr;
#include "evaluator/actions.def"
#undef DEF
  g_action_table[r.id] = row;
}

// Parents before children: a kInherit slot copies the parent's row as it stands.
void register_all_datatypes() {
  datatype_datatype_init();
  unset_datatype_init();
  none_datatype_init();
  logic_datatype_init();
  series_datatype_init();
  block_datatype_init();
  string_datatype_init();
  integer_datatype_init();
  symbol_datatype_init();
  context_datatype_init();
  word_datatype_init();
  lit_word_datatype_init();
  set_word_datatype_init();
  get_word_datatype_init();
  refinement_datatype_init();
  char_datatype_init();
  path_datatype_init();
  lit_path_datatype_init();
  set_path_datatype_init();
  get_path_datatype_init();
  paren_datatype_init();
  issue_datatype_init();
  triple_datatype_init();
}

// Type names become words once the symbol table and the global context exist.
void load_type_words() {
  for (int t = 1; t <= g_max_type_id; t++) load_word_into(&g_type_names[t].word, g_type_names[t].name);
}

}  // namespace kiv
