// The quick object field paths (see path_fast.h).
//
// A field is found by name in the object's word table; each path site keeps
// the slot it found last in a small direct-mapped cache keyed by the path's
// node and the field element's position. The slot is a hint only: it is
// used when the object's word at that position is spelled exactly as the
// path's element (context_find_symbol_hinted), so objects of one shape hit
// whatever words block they own, and an object extended, of another shape,
// or a path block changed in place simply miss and look the field up.
//
// The cache holds no reference into the heap: its nodes are keys compared,
// never followed, so a node freed and reused only costs a miss.
#include "evaluator/path_fast.h"

#include "datatypes/context.h"
#include "datatypes/object.h"
#include "datatypes/runtime_words.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "evaluator/interpreter.h"
#include "runtime/memory.h"
#include "runtime/stack.h"
#include "runtime/typesets.h"

namespace kiv {

namespace {

// The field a path site found last. [symbol] is the element's spelling it
// was found for; an entry is only made for a spelling that is not `self`.
struct FieldHint {
  Node path = 0;
  int32_t position = -1;
  int32_t symbol = 0;
  int32_t slot = -1;
};

constexpr uint32_t kHintBits = 8;
FieldHint g_hints[1u << kHintBits];

inline FieldHint& hint_for(Node path, int32_t position) {
  uint32_t h = (path * 0x9E3779B1u) ^ (uint32_t(position) * 0x85EBCA77u);
  return g_hints[h >> (32 - kHintBits)];
}

bool self_spelling_q(int32_t symbol) {
  return g_self_symbol && symbol_resolve(symbol) == symbol_resolve(int32_t(g_self_symbol));
}

inline bool function_value_q(TypeId t) {
  return t == kTypeNative || t == kTypeAction || t == kTypeFunction || t == kTypeRoutine;
}

}  // namespace

bool path_fast_try(const Cell* path, const Cell* value, bool push) {
  if (g_interp.tracing) return false;
  const TypeId type = path->type();
  const bool set = type == kTypeSetPath;
  if (set ? !value : type != kTypePath && type != kTypeGetPath) return false;
  const Node node = path->node();
  const int32_t head = path->head() < 0 ? 0 : path->head();
  SeriesBuffer* b = series_buffer(node);
  if (b->cell_count() != uint32_t(head) + 2) return false;
  const Cell* cells = b->head_cell() + head;
  const TypeId head_type = cells[0].type();
  if ((head_type != kTypeWord && head_type != kTypeGetWord) || !cells[1].is(kTypeWord)) return false;
  const Cell* object = context_peek_slot(word_context(&cells[0]), word_index(&cells[0]));
  if (!object || !object->is(kTypeObject)) return false;
  const Node ctx = object_context(object);
  const int32_t symbol = word_symbol(&cells[1]);

  FieldHint& hint = hint_for(node, head + 1);
  const bool known = hint.path == node && hint.position == head + 1 && hint.symbol == symbol;
  const int32_t slot = context_find_symbol_hinted(ctx, symbol, known ? hint.slot : -1);
  if (slot < 0) return false;
  if (!known) {
    // `self` names the object, never a field: the general path reports it.
    if (self_spelling_q(symbol)) return false;
    hint = {node, head + 1, symbol, slot};
  } else {
    hint.slot = slot;
  }

  Cell result;
  if (!set) {
    const Cell* field = context_peek_slot(ctx, slot);
    if (!field || field->is(kTypeUnset) || field->header == 0) return false;
    if (type == kTypePath && function_value_q(field->type())) return false;
    result = *field;
  } else {
    // The object as last finished tells whether anyone hears of the change.
    const Cell* self = context_self_cell(ctx);
    if (object_events(is_any_object(self->type()) ? self : object)) return false;
    result = *value;
    Cell* field = context_field_store_slot(ctx, slot);
    if (!field) return false;
    *field = result;
  }
  if (push)
    stack_push_value(result);
  else
    stack_reset_to_value(&result);
  return true;
}

}  // namespace kiv
