// The owner table and the owner-notification hook. The table is weak: the
// collector drops a record once its series or its owner is dead. Until
// objects can hear about changes, an owned series is reported to nobody.
#include "runtime/ownership.h"

#include "runtime/collector.h"
#include "runtime/hashtable.h"
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

void notify_owner(const Cell* series, OwnerWord, int32_t, int32_t, const Cell*) {
  if (!series_owned_q(series)) return;
  // The owner lookup and the deep-change call come with the owner table.
}

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
