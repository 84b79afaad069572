// Change notification of owned series: the hook every series-modifying handler
// calls around a change, so that an object owning the series (through one of
// its fields) hears which action changed it, where and how much.
//
// A series is owned when its buffer carries kSeriesOwned. While it does not, a
// notification returns at once, having read nothing but the buffer's flags.
// The owner table (here) maps an owned series' node to its record: the value
// as it was owned, the owner object and the field word. The object side (who
// owns what, calling the owner's on-deep-change* handler) is object!'s: the
// owner_check hook (runtime/hooks.h); without it an owned series is reported
// to nobody.
//
// Every writer follows one protocol, which SeriesChange carries: check the
// arguments (raising before anything changes), tell the owner "before", re-plan
// (the owner's handler runs Kiv code and may have changed the series), change
// the buffer and keep a hash! index in step, then tell the owner "after":
//   SeriesChange change(series, kOwnerPoke, index, 1);   // sends "poke"
//   ... re-read the series, change it ...
//   change.done(index, 1);                                // sends "poked"
// Path assignment and uppercase/lowercase send one word once, with notify_owner.
#pragma once

#include <cstdint>
#include <exception>

#include "runtime/cell.h"
#include "runtime/fatal.h"
#include "runtime/memory.h"

namespace kiv {

// Makes the owner table (records: owned series -> owner object, field word)
// and registers its sweep: a record whose series or owner died is dropped.
void owner_table_init();
// The owner table's node.
Node owner_table();

// ---------------------------------------------------------------- owner records

// What the owner table holds for one owned series.
struct OwnerRecord {
  Cell value;  // the owned value as it was when ownership was set
  Cell owner;  // the owner object
  Cell word;   // the owner's field word the series lives under
};

// MAY ALLOCATE. Records the series [node] as owned: [record] becomes its
// record, replacing any earlier one. The cells are copied before anything
// allocates.
void owner_record_put(Node node, const OwnerRecord& record);
// The record of [node] copied to *[out]; false when it has none.
bool owner_record_get(Node node, OwnerRecord* out);
// Drops the record of [node] (its cells unset!); false when it had none.
// Never allocates.
bool owner_record_remove(Node node);

// The words sent to an owner. Each action's word is followed by its past-tense
// word (the spellings "put-ed" and "swaped" are the words' own).
// clang-format off
#define KIV_OWNER_WORDS(X)                                                                              \
  X(Clear, "clear") X(Cleared, "cleared") X(Poke, "poke") X(Poked, "poked") X(Remove, "remove")        \
  X(Removed, "removed") X(Random, "random") X(Randomized, "randomized") X(Reverse, "reverse")           \
  X(Reversed, "reversed") X(Take, "take") X(Taken, "taken") X(Move, "move") X(Moved, "moved")           \
  X(Sort, "sort") X(Sorted, "sorted") X(Swap, "swap") X(Swaped, "swaped") X(Trim, "trim")               \
  X(Trimmed, "trimmed") X(Change, "change") X(Changed, "changed") X(Append, "append")                  \
  X(Appended, "appended") X(Insert, "insert") X(Inserted, "inserted") X(Put, "put") X(PutEd, "put-ed") \
  X(SetPath, "set-path") X(Uppercase, "uppercase") X(Lowercase, "lowercase")
// clang-format on

enum OwnerWord : uint8_t {
#define KIV_OWNER_WORD_ENUM(ident, text) kOwner##ident,
  KIV_OWNER_WORDS(KIV_OWNER_WORD_ENUM)
#undef KIV_OWNER_WORD_ENUM
      kOwnerWordCount
};

// The word's spelling, e.g. "poked".
const char* owner_word_text(OwnerWord word);

// True when [series] (a series value cell) is owned by an object.
inline bool series_owned_q(const Cell* series) {
  Node node = series->node();
  return node_in_use(node) && (series_buffer(node)->flags & kSeriesOwned);
}

// MAY RUN KIV CODE. Tells the owner of [series], if it has one, that [word]
// happens to [count] units from unit [index] (counted from the buffer's first
// unit); [new_value] is the value being stored, when there is one. True when
// an owner was told.
bool notify_owner(const Cell* series, OwnerWord word, int32_t index, int32_t count,
                  const Cell* new_value = nullptr);

// MAY RUN KIV CODE. notify_owner with [action]'s own word (kOwnerPoke, ...).
inline void owner_notify_before(const Cell* series, OwnerWord action, int32_t index, int32_t count,
                                const Cell* new_value = nullptr) {
  if (series_owned_q(series)) notify_owner(series, action, index, count, new_value);
}
// MAY RUN KIV CODE. notify_owner with the past-tense word of [action] (kOwnerPoke sends
// "poked"); [action] is one of the paired words, kOwnerClear to kOwnerPut.
inline void owner_notify_after(const Cell* series, OwnerWord action, int32_t index, int32_t count,
                               const Cell* new_value = nullptr) {
  fatal_assert(action < kOwnerSetPath && action % 2 == 0);
  if (series_owned_q(series)) notify_owner(series, OwnerWord(action + 1), index, count, new_value);
}

// One change to a series, told to its owner: the constructor sends [action]'s
// word, done() its past tense. A writer that leaves by an error sends nothing
// more; one that returns without done() is a fault (fatal assertion), so no
// change goes untold. MAY RUN KIV CODE (both notifications).
class SeriesChange {
 public:
  SeriesChange(const Cell* series, OwnerWord action, int32_t index, int32_t count,
               const Cell* value = nullptr)
      : series_(series), action_(action) {
    owner_notify_before(series, action, index, count, value);
  }
  // The change is made: tells the owner where it landed and how much it was.
  void done(int32_t index, int32_t count, const Cell* value = nullptr) {
    done_ = true;
    owner_notify_after(series_, action_, index, count, value);
  }
  // Only an error may leave without done(); the count of exceptions in
  // flight is read on that path alone, so a writer pays nothing for it.
  ~SeriesChange() {
    if (!done_) fatal_assert(std::uncaught_exceptions() > 0);
  }
  SeriesChange(const SeriesChange&) = delete;
  SeriesChange& operator=(const SeriesChange&) = delete;

 private:
  const Cell* series_;
  OwnerWord action_;
  bool done_ = false;
};

}  // namespace kiv
