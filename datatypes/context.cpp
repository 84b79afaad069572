// Contexts: making them, their words and values, global words, getting and
// setting through words, deep binding, and the accessors by slot.
//
// The words live in the kHashSymbols hash table of the context cell (word 1), which
// owns the words block; this file keeps the values block in step with it.
// Everything that allocates re-derives the context cell and the blocks from
// their nodes afterwards.
#include "datatypes/context.h"

#include <algorithm>
#include <climits>
#include <unordered_map>
#include <vector>

#include "datatypes/object.h"
#include "datatypes/registry.h"
#include "datatypes/runtime_words.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/gc_root.h"
#include "runtime/hashtable.h"
#include "runtime/hooks.h"
#include "runtime/murmur3.h"
#include "runtime/root_block.h"
#include "runtime/stack.h"
#include "runtime/typesets.h"

namespace kiv {

Node g_global_context = 0;
Node g_global_values = 0;

namespace {

// The word at [position] of [ctx]'s words block. Short-lived.
inline Cell* word_at(Node ctx, int32_t position) { return series_cells(context_words(ctx)) + position; }

// The words deep binding binds: every word type but issue!.
inline bool bindable_word_q(TypeId t) { return is_all_word(t) && t != kTypeIssue; }

inline bool self_word_q(const Cell* word) {
  return g_self_symbol && uint32_t(word_symbol(word)) == g_self_symbol;
}

// The position of [symbol] in [ctx]'s words block, or -1. Never allocates.
int32_t find_position(Node ctx, int32_t symbol, bool canonical) {
  return context_words_find_or_add(context_table(ctx), symbol, canonical, 0, nullptr);
}

// The slot a found word uses.
int32_t slot_of_position(Node ctx, int32_t position) {
  return position < 0 ? -1 : word_index(word_at(ctx, position));
}

// MAY ALLOCATE. Appends unset! cells until the heap values block of [ctx] holds [count].
void extend_values(Node ctx, uint32_t count) {
  if (context_stack_q(ctx)) return;
  Node values = context_values(ctx);
  while (series_length(values) < count) append_cell(values);
}

// Points every word of the words block of [ctx] at [ctx].
void rebind_words(Node ctx) {
  Node words = context_words(ctx);
  Cell* w = series_cells(words);
  for (uint32_t i = 0, n = series_length(words); i < n; i++) word_set_context(w + i, ctx);
}

// What a probe of a word table looks for. [words] is read in place: nothing
// allocates during a probe.
struct WordProbe {
  const Cell* words;
  int32_t symbol;
  int32_t canonical;
  bool by_alias;

  bool matches(int32_t key) const {
    int32_t s = word_symbol(words + key);
    return by_alias ? symbol_resolve(s) == canonical : s == symbol;
  }
};

}  // namespace

const FrameContextOps kContextFrameOps{
    .values = context_values,
    .set_values = context_set_values,
    .heap_values_q = [](Node ctx) { return !context_stack_q(ctx); },
};

namespace {

// The context cell: its word table and, unless they live on the data stack,
// its values. The self cell beside it is marked as any cell.
void context_mark(const Cell* cell) {
  gc_mark_table(cell->data1);
  if (!(cell->header & kFlagStackValues)) gc_mark_block(cell->data2);
}

constexpr TypeHooks kContextHooks{.mark = context_mark};

[[noreturn]] void raise_for_word(ErrorId id, const Cell* word) {
  Cell copy = *word;
  copy.header &= kTypeMask;
  raise_error(id, &copy);
}

// The value cell of slot [i] of a context with values, or null. Short-lived.
Cell* value_cell(Node ctx, int32_t i) {
  Cell* c = context_cell(ctx);
  if (i < 0) return nullptr;
  uint32_t values = c->data2;
  if (c->header & kFlagStackValues) return values ? stack_at(values - 1 + uint32_t(i)) : nullptr;
  if (!values || uint32_t(i) >= series_length(values)) return nullptr;
  return series_cells(values) + i;
}

// Heap value #[i] for the slot accessors; script not-defined with word #[i] without one.
Cell* heap_value_or_raise(Node ctx, int32_t i) {
  Cell* c = context_cell(ctx);
  Cell* v = (c->header & kFlagStackValues) ? nullptr : value_cell(ctx, i);
  if (!v) {
    Cell word =
        i >= 0 && uint32_t(i) < context_word_count(ctx) ? context_node_word_at(ctx, i) : make_cell(kTypeNone);
    raise_error(kErrScriptNotDefined, &word);
  }
  return v;
}

void mark_field_set(Node ctx, int32_t i) {
  if (context_kind(ctx) == kContextObject && i >= 0 && uint32_t(i) < context_word_count(ctx))
    word_at(ctx, i)->header |= kFlagFieldSet;  // a header flag the words block keeps
}

}  // namespace

int32_t context_words_find_or_add(Node table, int32_t symbol, bool by_alias, Node context,
                                  int32_t* new_index) {
  if (context && hashtable_full_q(table)) hashtable_make_room(table);
  int32_t canonical = symbol_resolve(symbol);
  Node words = hashtable_values(table);
  const WordProbe p{series_cells(words), symbol, canonical, by_alias};
  HashSlot slot;
  {
    NoGcScope no_gc;
    slot =
        hashtable_probe(table, hash_int32(uint32_t(canonical)), [&p](int32_t key) { return p.matches(key); });
  }
  if (slot.found >= 0) return hashtable_found_key(table, slot);
  if (!context) return -1;
  uint32_t index = series_length(words);
  *append_cell(words) = word_cell(kTypeWord, context, symbol, int32_t(index));
  hashtable_insert_key(table, slot, int32_t(index));
  if (new_index) *new_index = int32_t(index);
  return -1;
}

uint32_t context_word_count(Node ctx) { return series_length(context_words(ctx)); }

void global_context_init() {
  if (g_global_context) return;
  Node ctx = context_create(kGlobalContextSlots, false, false, 0, kContextPlain);
  *root_slot(kRootGlobalContext) = context_view(ctx);  // the root block keeps it
  g_global_context = ctx;
  g_global_values = context_values(ctx);
}

// ---------------------------------------------------------------- making contexts

Node context_create(uint32_t slots, bool stack, bool self, Node clone, ContextKind kind) {
  if (slots == 0) slots = 1;
  Node ctx = series_alloc_cells(2);
  SeriesBuffer* b = series_buffer(ctx);
  uint32_t header = kTypeContext | ((uint32_t(kind) << kContextKindShift) & kContextKindMask);
  if (stack) header |= kFlagStackValues;
  if (self) header |= kFlagContextSelf;
  b->cells()[0] = Cell{header, 0, 0, 0};
  b->cells()[1] = make_cell(kTypeUnset);
  b->tail = 2 * sizeof(Cell);
  Root keep(context_view(ctx));
  Node table = clone ? hashtable_copy(context_table(clone), 0) : hashtable_init(slots, 0, kHashSymbols);
  context_cell(ctx)->data1 = table;
  if (clone) rebind_words(ctx);
  if (!stack) {
    uint32_t words = context_word_count(ctx);
    Node values = series_alloc_cells_unset(std::max(slots, words));
    context_set_values(ctx, values);
    series_buffer(values)->tail = words * sizeof(Cell);
  }
  return ctx;
}

Node context_from_spec(const Cell* spec, bool stack, bool self, ContextKind kind) {
  Root block(*spec);
  Node node = block->node();
  int32_t start = std::max(block->head(), 0);
  int32_t total = int32_t(series_length(node));
  Node ctx = context_create(uint32_t(std::max(total - start, 0)), stack, self, 0, kind);
  Root keep(context_view(ctx));
  for (int32_t i = start; i < int32_t(series_length(node)); i++) {
    Cell c = series_cells(node)[i];
    TypeId t = c.type();
    if (t == kTypeWord || t == kTypeGetWord || t == kTypeLitWord || t == kTypeRefinement)
      context_add_word_unset(ctx, &c);
  }
  return ctx;
}

Node context_clone(Cell* object, ContextKind kind) {
  Node old = object_context(object);
  Root keep_old(context_view(old));
  Node ctx = series_alloc_cells(2);
  SeriesBuffer* b = series_buffer(ctx);
  Cell oc = *context_cell(old);
  uint32_t header =
      (oc.header & ~kContextKindMask) | ((uint32_t(kind) << kContextKindShift) & kContextKindMask);
  b->cells()[0] = Cell{header, 0, 0, 0};
  b->cells()[1] = make_cell(kTypeUnset);
  b->tail = 2 * sizeof(Cell);
  Root keep(context_view(ctx));
  Node table = hashtable_copy(context_table(old), 0);
  context_cell(ctx)->data1 = table;
  rebind_words(ctx);
  if (!(header & kFlagStackValues)) {
    Node values = series_copy_buffer(context_values(old));
    context_set_values(ctx, values);
  }
  object_set_context(object, ctx);
  *context_self_cell(ctx) = *object;
  return ctx;
}

// ---------------------------------------------------------------- words of a context

int32_t context_find_symbol(Node ctx, int32_t symbol, bool canonical) {
  return slot_of_position(ctx, find_position(ctx, symbol, canonical));
}

int32_t context_find_symbol_hinted(Node ctx, int32_t symbol, int32_t hint) {
  if (hint >= 0 && ctx != g_global_context) {
    Node words = context_words(ctx);
    if (uint32_t(hint) < series_length(words)) {
      const Cell* w = series_cells(words) + hint;
      if (word_symbol(w) == symbol) return word_index(w);
    }
  }
  return context_find_symbol(ctx, symbol, true);
}

int32_t context_add_symbol(Node ctx, int32_t symbol, bool canonical, int32_t* new_index) {
  int32_t added = -1;
  int32_t position = context_words_find_or_add(context_table(ctx), symbol, canonical, ctx, &added);
  if (position >= 0) return slot_of_position(ctx, position);
  if (new_index) *new_index = added;
  return -1;
}

int32_t context_add_word_unset(Node ctx, const Cell* word) {
  int32_t symbol = word_symbol(word);
  int32_t added = -1;
  int32_t slot = context_add_symbol(ctx, symbol, true, &added);
  if (slot >= 0) return slot;
  extend_values(ctx, uint32_t(added) + 1);
  return added;
}

int32_t context_add_word(Node ctx, const Cell* word, const Cell* value) {
  if (context_find_symbol(ctx, word_symbol(word), true) >= 0) return -1;
  Cell v = *value;
  int32_t slot = context_add_word_unset(ctx, word);
  if (Cell* cell = value_cell(ctx, slot)) *cell = v;
  return slot;
}

int32_t context_set_or_add(Node ctx, const Cell* word, const Cell* value) {
  Cell v = *value;
  int32_t slot = context_add_word_unset(ctx, word);
  if (Cell* cell = value_cell(ctx, slot)) *cell = v;
  return slot;
}

Cell* context_find_value(int32_t symbol, Node ctx) {
  if (context_stack_q(ctx)) ctx = g_global_context;
  return value_cell(ctx, context_find_symbol(ctx, symbol, true));
}

// ---------------------------------------------------------------- global words

Cell context_add_global(int32_t symbol, bool canonical, bool alias_copy) {
  Node g = g_global_context;
  int32_t added = -1;
  int32_t position = context_words_find_or_add(context_table(g), symbol, canonical, g, &added);
  if (position >= 0) {
    Cell word = *word_at(g, position);
    word.header = kTypeWord;
    if (canonical && alias_copy) word_set_symbol(&word, symbol);
    return word;
  }
  if (symbol_resolve(symbol) != symbol) {
    // An alias spelling shares the slot of a spelling already there; the
    // probe meets the older words of its canonical symbol before the new one.
    int32_t other = find_position(g, symbol, true);
    if (other >= 0 && other != added) word_set_index(word_at(g, added), word_index(word_at(g, other)));
  }
  extend_values(g, uint32_t(added) + 1);
  Cell word = *word_at(g, added);
  word.header = kTypeWord;
  return word;
}

Cell context_global_word(int32_t symbol) { return context_add_global(symbol, false, true); }

Cell context_word_or_global(Node ctx, int32_t symbol) {
  if (ctx) {
    int32_t position = find_position(ctx, symbol, false);
    if (position >= 0) {
      Cell word = *word_at(ctx, position);
      word.header = kTypeWord;
      return word;
    }
  }
  return context_global_word(symbol);
}

// ---------------------------------------------------------------- getting and setting

Cell* context_get_in(const Cell* word, Node ctx) {
  int32_t index = word_index(word);
  if (index < 0) {
    if (self_word_q(word) && word_context(word)) return context_self_cell(word_context(word));
    raise_for_word(kErrScriptNoValue, word);
  }
  bool has_values = context_values(ctx) != 0;
  if (!has_values) raise_for_word(kErrScriptNotInContext, word);
  Cell* v = value_cell(ctx, index);
  if (!v) raise_for_word(kErrScriptNoValue, word);
  return v;
}

Cell* get_word_value_slow(const Cell* word) {
  if (!word_context(word)) raise_for_word(kErrScriptNotDefined, word);
  return context_get_in(word, word_context(word));
}

Cell* context_set_in(Cell* word, const Cell* value, Node ctx, bool fire) {
  Cell v = *value;
  // A function context whose call is not running: refuse before anything changes.
  if (!context_values(ctx)) raise_for_word(kErrScriptNotDefined, word);
  int32_t index = word_index(word);
  if (index < 0) {
    Cell w = *word;
    index = context_find_symbol(ctx, word_symbol(&w), false);
    if (index < 0) index = context_add_word_unset(ctx, &w);
    word_set_index(word, index);
  }
  if (context_stack_q(ctx)) {
    Cell* slot = stack_at(context_values(ctx) - 1 + uint32_t(index));
    *slot = v;
    return slot;
  }
  if (uint32_t(index) >= series_length(context_values(ctx))) extend_values(ctx, uint32_t(index) + 1);
  if (context_kind(ctx) == kContextObject) {
    mark_field_set(ctx, index);
    Cell self = *context_self_cell(ctx);
    if (fire && g_hooks.object_on_change && is_any_object(self.type()) && object_events(&self)) {
      StackSave save;
      Cell* object = stack_push_value(self);
      Cell* w = stack_push_cell(word);
      Cell* old_value = stack_push_value(*value_cell(ctx, index));
      Cell* new_value = stack_push_value(v);
      *value_cell(ctx, index) = v;
      g_hooks.object_on_change(object, w, old_value, new_value);
      return value_cell(ctx, index);
    }
  }
  Cell* slot = value_cell(ctx, index);
  *slot = v;
  return slot;
}

Cell* context_field_store_slot(Node ctx, int32_t i) {
  if (context_stack_q(ctx)) return nullptr;
  Cell* slot = value_cell(ctx, i);
  if (slot) mark_field_set(ctx, i);
  return slot;
}

Cell* set_word_value_slow(Cell* word, const Cell* value) {
  if (!word_context(word)) raise_for_word(kErrScriptNotDefined, word);
  return context_set_in(word, value, word_context(word), true);
}

// ---------------------------------------------------------------- binding

int32_t context_bind_word(Node ctx, Cell* word) {
  int32_t slot = context_find_symbol(ctx, word_symbol(word), true);
  if (slot < 0) return -1;
  word_bind(word, ctx, slot);
  return slot;
}

Cell* context_bind_block(Cell* block, Node ctx, bool self) {
  // Cells [from, to) of a series still to bind. Each series is walked once;
  // when it is met again at an earlier position, only the cells before the
  // part already bound are added.
  struct Span {
    Node node;
    int32_t from, to;
  };
  std::vector<Span> work;
  std::unordered_map<Node, int32_t> lowest;
  auto visit = [&](Node node, int32_t head) {
    if (!node) return;
    int32_t start = std::max(head, 0);
    auto [it, fresh] = lowest.try_emplace(node, start);
    if (fresh) {
      work.push_back({node, start, INT32_MAX});
    } else if (start < it->second) {
      work.push_back({node, start, it->second});
      it->second = start;
    }
  };
  visit(block->node(), block->head());
  while (!work.empty()) {
    Span s = work.back();
    work.pop_back();
    SeriesBuffer* b = series_buffer(s.node);
    if (b->unit() != sizeof(Cell)) continue;
    int32_t end = std::min(s.to, int32_t(b->length()));
    for (int32_t i = s.from; i < end; i++) {
      Cell* c = series_buffer(s.node)->head_cell() + i;
      TypeId t = c->type();
      if (bindable_word_q(t)) {
        if (self && t == kTypeWord && self_word_q(c)) {
          word_bind(c, ctx, -1);
        } else {
          context_bind_word(ctx, c);
        }
      } else if (is_any_block(t)) {
        visit(c->node(), c->head());
      }
    }
  }
  return block;
}

bool context_collect_set_words(Node ctx, Cell* block) {
  Node node = block->node();
  int32_t total = int32_t(series_length(node));
  if (block->head() > total) block->set_head(total);
  int32_t start = std::max(block->head(), 0);
  uint32_t before = context_word_count(ctx);
  for (int32_t i = start; i < int32_t(series_length(node)); i++) {
    Cell c = series_cells(node)[i];
    if (c.is(kTypeSetWord)) context_add_word_unset(ctx, &c);
  }
  return context_word_count(ctx) > before;
}

// ---------------------------------------------------------------- access by slot

Cell context_node_word_at(Node ctx, int32_t i) { return *word_at(ctx, i); }

Cell* word_get_in(Node ctx, int32_t i) { return series_cells(context_values(ctx)) + i; }

Cell* push_context_value(Node ctx, int32_t i) {
  Cell* v = value_cell(ctx, i);
  if (!v) {
    Cell word =
        i >= 0 && uint32_t(i) < context_word_count(ctx) ? context_node_word_at(ctx, i) : make_cell(kTypeNone);
    raise_error(kErrScriptNotDefined, &word);
  }
  return stack_push_cell(v);
}

Cell* push_context_word(Node ctx, int32_t i) { return stack_push_value(context_node_word_at(ctx, i)); }

void set_context_word_push_old(Node ctx, int32_t i) {
  Cell* last = g_stack.top - 1;
  Cell* slot = heap_value_or_raise(ctx, i);
  mark_field_set(ctx, i);
  stack_push_cell(slot);
  *slot = *last;
}

void set_context_word_keep(Node ctx, int32_t i) {
  Cell* last = g_stack.top - 1;
  Cell* slot = heap_value_or_raise(ctx, i);
  mark_field_set(ctx, i);
  *slot = *last;
}

void context_datatype_init() {
  register_datatype({kTypeContext, kTypeNil, "context!", kActionCount, {}, &kContextHooks});
}

}  // namespace kiv
