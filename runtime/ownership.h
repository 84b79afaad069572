// Change notification of owned series: the hook every series-modifying handler
// calls around a change, so that an object owning the series (through one of
// its fields) hears which action changed it, where and how much.
//
// A series is owned when its buffer carries kSeriesOwned. While it does not, a
// notification returns at once, having read nothing but the buffer's flags. The
// owner table and the object side (who owns what, the deep-change handler) are
// not built yet: for now an owned series is not reported to anyone.
//
// Usage in a handler (before the first change, after the last):
//   owner_notify_before(series, kOwnerPoke, index, 1);
//   ... change ...
//   owner_notify_after(series, kOwnerPoke, index, 1);    // sends "poked"
// Path assignment and uppercase/lowercase send one word once, with notify_owner.
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "runtime/fatal.h"

namespace kiv {

// Makes the owner table (records: owned series -> owner object, field word)
// and registers its sweep: a record whose series or owner died is dropped.
void owner_table_init();
// The owner table's node.
Node owner_table();

// The words sent to an owner. Each action's word is followed by its past-tense
// word (the spellings "put-ed" and "swaped" are the words' own).
#define KIV_OWNER_WORDS(X)                                                                              \
  X(Clear, "clear") X(Cleared, "cleared") X(Poke, "poke") X(Poked, "poked") X(Remove, "remove")        \
  X(Removed, "removed") X(Random, "random") X(Randomized, "randomized") X(Reverse, "reverse")           \
  X(Reversed, "reversed") X(Take, "take") X(Taken, "taken") X(Move, "move") X(Moved, "moved")           \
  X(Sort, "sort") X(Sorted, "sorted") X(Swap, "swap") X(Swaped, "swaped") X(Trim, "trim")               \
  X(Trimmed, "trimmed") X(Change, "change") X(Changed, "changed") X(Append, "append")                  \
  X(Appended, "appended") X(Insert, "insert") X(Inserted, "inserted") X(Put, "put") X(PutEd, "put-ed") \
  X(SetPath, "set-path") X(Uppercase, "uppercase") X(Lowercase, "lowercase")

enum OwnerWord : uint8_t {
#define KIV_OWNER_WORD_ENUM(ident, text) kOwner##ident,
  KIV_OWNER_WORDS(KIV_OWNER_WORD_ENUM)
#undef KIV_OWNER_WORD_ENUM
      kOwnerWordCount
};

// The word's spelling, e.g. "poked".
const char* owner_word_text(OwnerWord word);

// True when [series] (a series value cell) is owned by an object.
bool series_owned_q(const Cell* series);

// MAY RUN KIV CODE. Tells the owner of [series], if it has one, that [word]
// happens to [count] units from unit [index] (counted from the buffer's first
// unit); [new_value] is the value being stored, when there is one.
void notify_owner(const Cell* series, OwnerWord word, int32_t index, int32_t count,
                  const Cell* new_value = nullptr);

// MAY RUN KIV CODE. notify_owner with [action]'s own word (kOwnerPoke, ...).
inline void owner_notify_before(const Cell* series, OwnerWord action, int32_t index, int32_t count,
                                const Cell* new_value = nullptr) {
  notify_owner(series, action, index, count, new_value);
}
// MAY RUN KIV CODE. notify_owner with the past-tense word of [action] (kOwnerPoke sends
// "poked"); [action] is one of the paired words, kOwnerClear to kOwnerPut.
inline void owner_notify_after(const Cell* series, OwnerWord action, int32_t index, int32_t count,
                               const Cell* new_value = nullptr) {
  fatal_assert(action < kOwnerSetPath && action % 2 == 0);
  notify_owner(series, OwnerWord(action + 1), index, count, new_value);
}

}  // namespace kiv
