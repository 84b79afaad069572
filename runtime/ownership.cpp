// The owner-notification hook. Until the owner table exists, an owned series
// is recognised (kSeriesOwned) but reported to nobody.
#include "runtime/ownership.h"

#include "runtime/memory.h"

namespace kiv {

namespace {

constexpr const char* kOwnerWordTexts[kOwnerWordCount] = {
#define KIV_OWNER_WORD_TEXT(ident, text) text,
    KIV_OWNER_WORDS(KIV_OWNER_WORD_TEXT)
#undef KIV_OWNER_WORD_TEXT
};

}  // namespace

const char* owner_word_text(OwnerWord word) { return word < kOwnerWordCount ? kOwnerWordTexts[word] : ""; }

bool series_owned_q(const Cell* series) {
  Node node = series->node();
  return node_in_use(node) && (series_buffer(node)->flags & kSeriesOwned);
}

void notify_owner(const Cell* series, OwnerWord, int32_t, int32_t, const Cell*) {
  if (!series_owned_q(series)) return;
  // The owner lookup and the deep-change call come with the owner table.
}

}  // namespace kiv
