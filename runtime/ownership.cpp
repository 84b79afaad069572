// The owner table and the owner-notification hook. The table is weak: the
// collector drops a record once its series, its owner or its field word's
// context is dead.
#include "runtime/ownership.h"

#include "runtime/collector.h"
#include "runtime/hashtable.h"
#include "runtime/hooks.h"
#include "runtime/memory.h"
#include "runtime/root_block.h"

namespace kiv {

namespace {

constexpr const char* kOwnerWordTexts[kOwnerWordCount] = {
#define KIV_OWNER_WORD_TEXT(ident, text) text,
    KIV_OWNER_WORDS(KIV_OWNER_WORD_TEXT)
#undef KIV_OWNER_WORD_TEXT
};

}  // namespace

const char* owner_word_text(OwnerWord word) { return word < kOwnerWordCount ? kOwnerWordTexts[word] : ""; }

bool notify_owner(const Cell* series, OwnerWord word, int32_t index, int32_t count, const Cell* new_value) {
  if (!series_owned_q(series) || !g_hooks.owner_check) return false;
  return g_hooks.owner_check(series, word, index, count, new_value);
}

void owner_record_put(Node node, const OwnerRecord& record) {
  OwnerRecord copy = record;
  Node table = owner_table();
  int32_t at = hashtable_put(table, node);
  Cell* cells = hashtable_record(table, at);
  cells[1] = copy.value;
  cells[2] = copy.owner;
  cells[3] = copy.word;
}

bool owner_record_get(Node node, OwnerRecord* out) {
  Node table = owner_table();
  int32_t at = hashtable_get(table, node);
  if (at < 0) return false;
  const Cell* cells = hashtable_record(table, at);
  *out = OwnerRecord{cells[1], cells[2], cells[3]};
  return true;
}

bool owner_record_remove(Node node) { return hashtable_remove_key(owner_table(), node); }

namespace {

void sweep_owner_table() { hashtable_sweep(owner_table(), gc_node_marked); }

}  // namespace

void owner_table_init() {
  Node table = hashtable_init(1000, 0, kHashOwners, 3);  // the owned series' value, owner, field word
  root_table_set(kRootTableOwners, table);
  add_sweep_callback(sweep_owner_table);
}

Node owner_table() { return root_table(kRootTableOwners); }

}  // namespace kiv
