// Owning series for objects: the walks that mark and release owned series and
// the check that tells an owner about a change. The records themselves live
// in the owner table (runtime/ownership.h); the owned flag in each buffer.
//
// The walks read block cells one at a time by (node, index), re-reading after
// each step, since recording an owned series allocates and may move buffers.
#include "datatypes/owner.h"

#include "datatypes/context.h"
#include "datatypes/logic.h"
#include "datatypes/object.h"
#include "datatypes/runtime_words.h"
#include "datatypes/series.h"
#include "runtime/cycle.h"
#include "runtime/memory.h"
#include "runtime/stack.h"
#include "runtime/typesets.h"

namespace kiv {

namespace {

// The types whose buffer can be owned.
bool ownable_q(TypeId t) {
  return is_any_block(t) || is_any_string(t) || t == kTypeBinary || t == kTypeVector || t == kTypeBitset ||
         t == kTypeImage;
}

// The runtime word sent for each owner word.
constexpr RuntimeValue kOwnerWordValues[kOwnerWordCount] = {
    kWordClear,      kWordCleared,   kWordPoke,     kWordPoked,  kWordRemove,   kWordRemoved, kWordRandom,
    kWordRandomized, kWordReverse,   kWordReversed, kWordTake,   kWordTaken,    kWordMove,    kWordMoved,
    kWordSort,       kWordSorted,    kWordSwap,     kWordSwaped, kWordTrim,     kWordTrimmed, kWordChange,
    kWordChanged,    kWordAppend,    kWordAppended, kWordInsert, kWordInserted, kWordPut,     kWordPutEd,
    kWordSetPath,    kWordUppercase, kWordLowercase};

// A field word of [ctx] as handed out: a plain word! bound to the context.
Cell field_word(Node ctx, int32_t i) {
  Cell w = context_node_word_at(ctx, i);
  w.set_header(kTypeWord);
  return w;
}

// Calls [each] with a copy of every cell of the block [value] from its head,
// unless the block is on the cycle stack already.
template <class Each>
void walk_block(const Cell* value, Each&& each) {
  Node node = value->node();
  if (!node_in_use(node) || cycle_stack_find(node)) return;
  CycleGuard guard(node);
  int32_t total = int32_t(series_cell_count(node));
  int32_t head = value->head() < 0 ? 0 : value->head();
  for (int32_t i = head; i < int32_t(series_cell_count(node)) && i < total; i++) {
    Cell c = series_buffer(node)->head_cell()[i];
    each(&c);
  }
}

// Calls [each] with a copy of every field value of the object [value] and the
// field's word, unless the object owns series itself or is on the cycle stack.
template <class Each>
void walk_object(const Cell* value, Each&& each) {
  Node ctx = object_context(value);
  if (!ctx || object_owner_q(ctx) || cycle_stack_find(ctx)) return;
  CycleGuard guard(ctx);
  for (uint32_t i = 0; i < context_word_count(ctx); i++) {
    Cell v = *word_get_in(ctx, int32_t(i));
    Cell w = field_word(ctx, int32_t(i));
    each(&v, &w);
  }
}

// The owner as its records keep it: without its event record, which a later
// finish of the object replaces (a record naming a dead event record would be
// swept). The object as it stands is read from its context's self cell.
Cell recorded_owner(const Cell* owner) {
  Cell o = *owner;
  if (is_any_object(o.type())) object_set_events(&o, 0);
  return o;
}

// The owner object of [record] as it stands now.
Cell current_owner(const OwnerRecord& record) {
  if (!is_any_object(record.owner.type())) return record.owner;
  Cell self = *context_self_cell(object_context(&record.owner));
  return is_any_object(self.type()) ? self : record.owner;
}

}  // namespace

void owner_set(const Cell* value, const Cell* owner, const Cell* word) {
  const Cell v = *value, o = recorded_owner(owner), w = *word;
  TypeId t = v.type();
  if (ownable_q(t) && node_in_use(v.node())) {
    SeriesBuffer* b = series_buffer(v.node());
    if (!(b->flags & kSeriesOwned)) {
      b->flags |= kSeriesOwned;
      owner_record_put(v.node(), OwnerRecord{v, o, w});
    }
    if (is_any_block(t)) walk_block(&v, [&](const Cell* c) { owner_set(c, &o, &w); });
    return;
  }
  if (t == kTypeObject) {
    walk_object(&v, [&](const Cell* field, const Cell* field_word) {
      if (field->is(kTypeObject) && object_context(field) == object_context(&o)) return;
      owner_set(field, &o, field_word);
    });
  }
}

void owner_set_object(const Cell* value, const Cell* owner, const Cell* word) {
  const Cell o = *owner;
  owner_set(value, &o, word);
  if (is_any_object(o.type()) && object_context(&o)) object_set_owner(object_context(&o), true);
}

void owner_unset(const Cell* value) {
  const Cell v = *value;
  TypeId t = v.type();
  if (ownable_q(t) && node_in_use(v.node())) {
    series_buffer(v.node())->flags &= ~kSeriesOwned;
    owner_record_remove(v.node());
    if (is_any_block(t)) walk_block(&v, [](const Cell* c) { owner_unset(c); });
    return;
  }
  if (t == kTypeObject) walk_object(&v, [](const Cell* field, const Cell*) { owner_unset(field); });
}

void owner_unset_range(Node node, int32_t index, int32_t count) {
  for (int32_t i = index < 0 ? 0 : index; i < index + count && i < int32_t(series_cell_count(node)); i++) {
    Cell c = series_buffer(node)->head_cell()[i];
    owner_unset(&c);
  }
}

Cell owner_lookup(Node node) {
  OwnerRecord record;
  return node && owner_record_get(node, &record) ? current_owner(record) : kNoneCell;
}

bool owner_check(const Cell* series, OwnerWord action, int32_t index, int32_t count, const Cell* new_value) {
  Node node = series->is(kTypeObject) ? object_context(series) : series->node();
  OwnerRecord record;
  if (!node || !owner_record_get(node, &record)) return false;
  Cell current = current_owner(record);
  if (!is_any_object(current.type()) || !object_events(&current)) return false;
  StackSave save;
  Cell* owner = stack_push_value(current);
  Cell* word = stack_push_value(record.word);
  Cell* target = stack_push_cell(series);
  Cell* verb = stack_push_value(runtime_value(kOwnerWordValues[action]));
  Cell* value = stack_push_value(new_value ? *new_value : kNoneCell);
  object_on_deep_change(owner, word, target, verb, value, index, count);
  return true;
}

}  // namespace kiv
