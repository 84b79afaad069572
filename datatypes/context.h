// context!: the maps from symbols to value slots behind words, functions and
// objects, and the binding of blocks.
//
// A context is a node of a two-cell series. Cell 0 is the context cell:
//   word 0  header   context! (14); kFlagStackValues when the values live on the
//                    data stack; bits 11-12 the kind (ContextKind); bit 24
//                    (kFlagContextSelf) when the context binds `self`
//   word 1  the symbol index: a kHashSymbols hash table (runtime/hashtable.h) owning
//           the words block, one word! per slot in slot order, each bound to
//           this context; the table maps a symbol id (exact, or canonical) to
//           the word's position
//   word 2  the values: a block node (heap context), or for a stack context the
//           data-stack index of the running call's first argument + 1 (0 while
//           no call runs: cells never hold pointers)
// Cell 1 is the self cell: unset! when made; an object keeps its own object!
// value there, and a `self` word bound with index -1 evaluates to it.
//
// Invariants: a heap context has as many value cells as words; adding a word
// appends both. Slots are never removed. A word's slot is its word 3, equal to
// its position in the words block except for an alias spelling added to the
// global context after its canonical spelling, which shares that spelling's slot.
//
// The global context (kind 0, heap values, 4,000 slots at start) is held by
// root slot kRootGlobalContext as a block! view of its two-cell series.
//
// Collector safety: contexts are named by node everywhere. Functions marked
// MAY ALLOCATE take word and value cells that must stay reachable (data stack,
// a block, a Root); a word they write back into (an index resolved on the way)
// must be at a stable address (data stack or Root). Cell* results that point
// into a values block are short-lived; those into the data stack are stable.
#pragma once

#include <cstdint>

#include "datatypes/word.h"
#include "runtime/cell.h"
#include "runtime/hashtable.h"
#include "runtime/hooks.h"
#include "runtime/memory.h"
#include "runtime/stack.h"

namespace kiv {

enum ContextKind : uint32_t {
  kContextPlain = 0,     // the global context and plain contexts
  kContextFunction = 1,  // contexts of function-like values
  kContextObject = 2,    // object contexts
};

inline constexpr uint32_t kContextKindShift = 11;
inline constexpr uint32_t kContextKindMask = 0x1800u;
inline constexpr uint32_t kFlagContextSelf = 0x01000000u;  // the context binds `self`
// On a word of an object context's words block: the field has been set.
inline constexpr uint32_t kFlagFieldSet = 0x2000u;

inline constexpr uint32_t kGlobalContextSlots = 4000;

// The context cell of [ctx]. Short-lived.
inline Cell* context_cell(Node ctx) { return series_buffer(ctx)->cells(); }
// Word 1 of the context cell: the symbol index table.
inline Node context_table(Node ctx) { return context_cell(ctx)->data1; }
// The symbol table of the context! cell [cell] (a context's cell 0, or a copy of it).
inline Node context_cell_table(const Cell* cell) { return cell->data1; }
// Word 2 of the context cell: the values reference (a block node, or for a
// stack context a data-stack index + 1; 0 while none).
inline uint32_t context_values(Node ctx) { return context_cell(ctx)->data2; }
inline void context_set_values(Node ctx, uint32_t values) { context_cell(ctx)->data2 = values; }
// A block! view of a context's two-cell series: what roots and marks a bare context.
inline Cell context_view(Node ctx) { return series_cell(kTypeBlock, ctx); }
// The self cell of [ctx]. Short-lived.
inline Cell* context_self_cell(Node ctx) { return series_buffer(ctx)->cells() + 1; }
inline ContextKind context_kind(Node ctx) {
  return ContextKind((context_cell(ctx)->header & kContextKindMask) >> kContextKindShift);
}
inline bool context_stack_q(Node ctx) { return context_cell(ctx)->header & kFlagStackValues; }
// The global context's node (0 before global_context_init).
extern Node g_global_context;
// Its values block, made with it and never replaced (it only grows in place
// or moves under the same node): word reads skip the context cell.
extern Node g_global_values;
// The hot paths of word reads and writes, inline: a few loads, no call.
// The value slot [index] of [ctx] when the context holds values now and has
// that slot, else null. Raises nothing. Short-lived for heap contexts.
[[gnu::always_inline]] inline Cell* context_peek_slot(Node ctx, int32_t index) {
  if (!ctx || index < 0) return nullptr;
  if (ctx == g_global_context) {
    SeriesBuffer* g = series_buffer(g_global_values);
    return uint32_t(index) < g->cell_count() ? g->head_cell() + index : nullptr;
  }
  const Cell* c = context_cell(ctx);
  const uint32_t values = c->data2;
  if (!values) return nullptr;
  if (c->header & kFlagStackValues) return stack_at(values - 1 + uint32_t(index));
  SeriesBuffer* b = series_buffer(values);
  if (uint32_t(index) >= b->cell_count()) return nullptr;
  return b->head_cell() + index;
}
// The slot a store into slot [index] of [ctx] writes and nothing more (no
// object field flag, no change event, no growth), else null: context_set_in
// does the rest. Short-lived for heap contexts.
[[gnu::always_inline]] inline Cell* context_plain_store_slot(Node ctx, int32_t index) {
  if (ctx && ctx != g_global_context) {
    const Cell* c = context_cell(ctx);
    const bool object = ((c->header & kContextKindMask) >> kContextKindShift) == kContextObject;
    if (object && !(c->header & kFlagStackValues)) return nullptr;
  }
  return context_peek_slot(ctx, index);
}
// The words block of [ctx].
inline Node context_words(Node ctx) { return hashtable_values(context_table(ctx)); }
// Number of words (slots) of [ctx].
uint32_t context_word_count(Node ctx);

// MAY ALLOCATE. Makes the global context (once; later calls do nothing). Needs
// the symbol table.
void global_context_init();

// The stack's view of a function context's values reference: context!'s
// answer to the context_ops hook (runtime/hooks.h).
extern const FrameContextOps kContextFrameOps;

// ---------------------------------------------------------------- making contexts

// MAY ALLOCATE. A new context of [slots] slots (0 counts as 1). Heap contexts
// get a values block with room for the slots and no value in use; stack
// contexts get values 0. With [clone] (a context node, or 0) the new context
// starts with a copy of clone's words, rebound to it (heap values unset!).
// The caller roots the result before its next allocation.
Node context_create(uint32_t slots, bool stack, bool self, Node clone, ContextKind kind);
// MAY ALLOCATE. A context with one word per word!, get-word!, lit-word! and
// refinement! of the block [spec] from its position (canonical match; other
// cells skipped); heap values unset!, one per word.
Node context_from_spec(const Cell* spec, bool stack, bool self, ContextKind kind);
// MAY ALLOCATE. Gives the object! (or error!/port!) [object] a copy of its
// context: same words rebound to the copy, a copy of the values block, stack
// and self flags kept, [kind] as given; the self cell holds the updated
// object. [object] must be stable. Returns the new node.
Node context_clone(Cell* object, ContextKind kind);

// ---------------------------------------------------------------- words of a context

// The slot of [symbol] in [ctx] (exact spelling, or the same canonical symbol
// when [canonical]), or -1.
int32_t context_find_symbol(Node ctx, int32_t symbol, bool canonical);
// MAY ALLOCATE. The slot of [symbol] when present; else appends a word! for it
// (bound to [ctx], slot = its position), writes that slot to *[new_index] and
// returns -1. No value cell is added.
int32_t context_add_symbol(Node ctx, int32_t symbol, bool canonical, int32_t* new_index);
// MAY ALLOCATE. The slot of [word]'s symbol (canonical match), adding it when
// absent; a new slot of a heap context gets an unset! value.
int32_t context_add_word_unset(Node ctx, const Cell* word);
// MAY ALLOCATE. When [word]'s symbol is absent (canonical match): adds it with
// a copy of [value] and returns the new slot; when present: -1, nothing changes.
int32_t context_add_word(Node ctx, const Cell* word, const Cell* value);
// MAY ALLOCATE. Adds [word] with a copy of [value], or overwrites its existing
// slot with it. Returns the slot.
int32_t context_set_or_add(Node ctx, const Cell* word, const Cell* value);
// The slot of [symbol] in [ctx] (canonical match), or -1, looking first at
// the word at position [hint] of its words block (-1: none): a context other
// than the global one holds one word per canonical spelling, at the position
// equal to its slot, so a word there spelled exactly [symbol] is the one the
// table would find. Allocates nothing, raises nothing.
int32_t context_find_symbol_hinted(Node ctx, int32_t symbol, int32_t hint);
// Where the words and values of a heap context are now. Short-lived: valid
// until the next allocation (the blocks move, or grow).
struct ContextLayout {
  Cell* words;          // the words block's cells
  uint32_t word_count;  // and their number
  Cell* values;         // the values block's cells
  uint32_t value_count;
  Cell* self;   // the self cell
  bool object;  // an object context: a store marks a field's word with kFlagFieldSet
};
// The layout of [ctx] into [*out] when it holds heap values, else false.
// Allocates nothing, raises nothing.
[[gnu::always_inline]] inline bool context_layout(Node ctx, ContextLayout* out) {
  Cell* c = context_cell(ctx);
  const uint32_t values = c->data2;
  if (!values || (c->header & kFlagStackValues)) return false;
  SeriesBuffer* wb = series_buffer(hashtable_values(context_cell_table(c)));
  SeriesBuffer* vb = series_buffer(values);
  out->words = wb->head_cell();
  out->word_count = wb->cell_count();
  out->values = vb->head_cell();
  out->value_count = vb->cell_count();
  out->self = c + 1;
  out->object = ((c->header & kContextKindMask) >> kContextKindShift) == kContextObject;
  return true;
}
// A field of a heap context, as context_field_find finds it. Short-lived.
struct ContextField {
  Cell* word;   // the field's word in the words block
  Cell* value;  // its value cell
};
// The field spelled [symbol] (canonical match) of [ctx], a context other
// than the global one whose layout is [l], when it has its value cell:
// into [*out], true; else false. Looks first at the word at position
// [*hint] of the words block, as context_find_symbol_hinted does, and
// leaves the slot found in [*hint]. Allocates nothing, raises nothing.
[[gnu::always_inline]] inline bool context_field_find(Node ctx, const ContextLayout& l, int32_t symbol,
                                                      int32_t* hint, ContextField* out) {
  uint32_t at = uint32_t(*hint);
  if (at >= l.word_count || word_symbol(l.words + at) != symbol) {
    const int32_t slot = context_find_symbol(ctx, symbol, true);
    if (slot < 0) return false;
    *hint = slot;
    at = uint32_t(slot);
    if (at >= l.word_count) return false;
  }
  if (at >= l.value_count) return false;
  out->word = l.words + at;
  out->value = l.values + at;
  return true;
}
// Marks the field [f] of a context of layout [l] set by a store that
// notifies nobody, as context_field_store_slot does.
[[gnu::always_inline]] inline void context_field_mark(const ContextLayout& l, const ContextField& f) {
  if (l.object) f.word->header |= kFlagFieldSet;
}
// The value cell of [symbol] (canonical match) in [ctx], or in the global
// context when [ctx] is a stack context; null when absent. Short-lived.
Cell* context_find_value(int32_t symbol, Node ctx);

// ---------------------------------------------------------------- global words

// MAY ALLOCATE. The global context's word for [symbol] (canonical match when
// [canonical], else exact), added with an unset! value when absent. With
// [canonical] and [alias_copy], a word found under another spelling comes back
// with [symbol] as its spelling, sharing the found word's slot. A new alias
// spelling added by exact match shares its canonical spelling's slot when that
// spelling is in the global context (else it keeps a slot of its own).
Cell context_add_global(int32_t symbol, bool canonical, bool alias_copy);
// MAY ALLOCATE. context_add_global with exact match and alias copy.
Cell context_global_word(int32_t symbol);
// MAY ALLOCATE. [ctx]'s word for [symbol] (exact match; [ctx] may be 0), else
// the global context's word (added when absent).
Cell context_word_or_global(Node ctx, int32_t symbol);

// ---------------------------------------------------------------- getting and setting

// The value cell of [word] in [ctx]. A word with index -1 whose symbol is
// exactly `self` gives the self cell of the word's own context. Raises script
// no-value (index -1 otherwise, or a slot without a value yet) or
// not-in-context (no values: a function not running). Short-lived for heap
// contexts, stable for stack contexts.
Cell* context_get_in(const Cell* word, Node ctx);
// context_get_in through the word's own context; an unbound word raises script not-defined.
// Inline: a word whose slot holds a value now is read with a few loads.
Cell* get_word_value_slow(const Cell* word);
inline Cell* get_word_value(const Cell* word) {
  if (Cell* v = context_peek_slot(word_context(word), word_index(word))) return v;
  return get_word_value_slow(word);
}
// MAY ALLOCATE, MAY RUN KIV CODE. Stores a copy of [value] in [word]'s slot of
// [ctx]. A word with index -1 is looked up (exact), added when absent
// (canonical), and the slot written back into [word] (stable). Raises script
// not-defined when the context has no values. In an object context the
// field's word gets kFlagFieldSet; with [fire] an object with an event record
// hears of the change through the object_on_change hook. Returns the slot (short-lived).
Cell* context_set_in(Cell* word, const Cell* value, Node ctx, bool fire);
// The heap value cell of slot [i] of [ctx] for a store of a field that
// notifies nobody, the word marked with kFlagFieldSet in an object context;
// null (nothing marked) when [ctx] has no such heap value. Short-lived.
Cell* context_field_store_slot(Node ctx, int32_t i);
// MAY ALLOCATE, MAY RUN KIV CODE. context_set_in through the word's own
// context, firing the change event; an unbound word raises script not-defined.
// Inline: a store that notifies nobody and needs no growth is one copy.
Cell* set_word_value_slow(Cell* word, const Cell* value);
inline Cell* set_word_value(Cell* word, const Cell* value) {
  if (Cell* slot = context_plain_store_slot(word_context(word), word_index(word))) {
    *slot = *value;
    return slot;
  }
  return set_word_value_slow(word, value);
}

// ---------------------------------------------------------------- binding

// Binds [word] to [ctx] when its symbol is there (canonical match): sets its
// context and index and returns the index; else -1 and the word is unchanged.
int32_t context_bind_word(Node ctx, Cell* word);
// Binds the block [block] deeply from its position: every word!, set-word!,
// get-word!, lit-word! and refinement! whose symbol [ctx] holds (canonical
// match), through nested block!, paren!, the four path types and hash!; with
// [self], a word! spelled exactly `self` is bound to [ctx] with index -1.
// issue! is never bound. Each series is walked once per call, so shared and
// self-containing blocks terminate. Allocates nothing. Returns [block].
Cell* context_bind_block(Cell* block, Node ctx, bool self);
// MAY ALLOCATE. Adds every set-word! at the top level of the block [block]
// (from its position, first clamped to its tail and written back; [block]
// stable) to [ctx] with unset! values; true when the word count grew.
bool context_collect_set_words(Node ctx, Cell* block);

// ---------------------------------------------------------------- word tables

// MAY ALLOCATE when [context] is given. The position of the word for [symbol]
// in a context word table (kHashSymbols over a words block of word cells): the same
// id, or with [by_alias] the same canonical id. When it is missing and
// [context] is not 0, a word! cell bound to [context] with its own position as
// index is appended and indexed, its position is written to [*new_index] and
// -1 is returned; without [context], -1.
int32_t context_words_find_or_add(Node table, int32_t symbol, bool by_alias, Node context,
                                  int32_t* new_index);

// ---------------------------------------------------------------- access by slot

// A copy of word #[i] of [ctx]'s words block.
Cell context_node_word_at(Node ctx, int32_t i);
// Value #[i] of [ctx]'s heap values block, unchecked. Short-lived.
Cell* word_get_in(Node ctx, int32_t i);
// Pushes a copy of value #[i] (stack or heap values); script not-defined with
// word #[i] when the context has no values.
Cell* push_context_value(Node ctx, int32_t i);
// Pushes a copy of word #[i].
Cell* push_context_word(Node ctx, int32_t i);
// Heap contexts: pushes a copy of the old value #[i], then stores the value
// that was last on the data stack before that push into slot #[i]. An object
// context first marks word #[i] with kFlagFieldSet.
void set_context_word_push_old(Node ctx, int32_t i);
// The same without pushing the old value.
void set_context_word_keep(Node ctx, int32_t i);

// Registers context! (type 14, no parent, no handlers).
void context_datatype_init();

}  // namespace kiv
