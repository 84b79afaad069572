// object!: the handlers that read and write fields by name (path steps,
// select, put), reflection, modify and comparison. error! reuses the path
// step and the comparison.
//
// Field words handed out (reflect, body) are word-family cells bound to the
// object with their flags cleared: the field-set mark stays in the words block.
#include <algorithm>

#include "datatypes/actions.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/object.h"
#include "datatypes/owner.h"
#include "datatypes/runtime_words.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "runtime/cycle.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/stack.h"
#include "runtime/typesets.h"

namespace kiv {

namespace {

// Word #[i] of [ctx] as a cell of [type] bound to it, flags clear.
Cell field_word_as(Node ctx, int32_t i, TypeId type) {
  Cell w = context_node_word_at(ctx, i);
  w.set_header(type);
  return w;
}

// True when the word [field] is the runtime word [v] (letter case ignored).
bool field_is(const Cell* field, RuntimeValue v) {
  Cell w = runtime_value(v);
  return symbol_resolve(word_symbol(field)) == symbol_resolve(word_symbol(&w));
}

bool field_is(const Cell* field, RuntimeSymbol s) { return runtime_symbol_q(word_symbol(field), s); }

// MAY ALLOCATE. Pushes a block of the words of [ctx] (those whose field-set
// mark is on, with [marked_only]).
Cell* push_words(Node ctx, bool marked_only) {
  uint32_t n = context_word_count(ctx);
  Cell* block = block_push_only(int32_t(n));
  for (uint32_t i = 0; i < n; i++) {
    Cell w = context_node_word_at(ctx, int32_t(i));
    if (marked_only && !(w.header & kFlagFieldSet)) continue;
    w.set_header(kTypeWord);
    block_append_value(block, &w);
  }
  return block;
}

[[noreturn]] void raise_path(ErrorId id, const EvalPathArgs& args) {
  Cell path = args.path ? *args.path : kNoneCell;
  raise_error(id, &path, args.element);
}

// What a path step answers for a field that is absent (or unset!).
Cell* absent_field(const EvalPathArgs& args) {
  if (args.absent_ok && args.by_key) return stack_push_value(kUnsetCell);
  raise_path(args.by_key ? kErrScriptInvalidPath : kErrScriptUnsetPath, args);
}

bool number_family_q(TypeId t) { return t == kTypeInteger || t == kTypeFloat || t == kTypePercent; }

}  // namespace

// ---------------------------------------------------------------- reflect

Cell* object_body(const Cell* object) {
  Node ctx = object_context(object);
  uint32_t n = context_word_count(ctx);
  Cell* block = block_push_only(int32_t(2 * n));
  for (uint32_t i = 0; i < n; i++) {
    Cell w = field_word_as(ctx, int32_t(i), kTypeSetWord);
    w.header |= kFlagNewLine;
    block_append_value(block, &w);
    Cell v = *word_get_in(ctx, int32_t(i));
    if (v.header == 0) v = kUnsetCell;
    v.clear_new_line();
    if (v.is(kTypeWord)) v.set_type(kTypeLitWord);
    if (v.is(kTypePath)) v.set_type(kTypeLitPath);
    block_append_value(block, &v);
  }
  return block;
}

Cell* object_reflect(Cell* object, const ReflectArgs& args) {
  const Cell* field = args.field;
  Node ctx = object_context(object);
  if (!is_all_word(field->type())) raise_error(kErrInternalNotDone);
  Cell result;
  if (field_is(field, kWordChanged)) {
    result = *push_words(ctx, true);
  } else if (field_is(field, kSymClass)) {
    result = integer_cell(int32_t(object_class(object)));
  } else if (field_is(field, kSymWords)) {
    result = *push_words(ctx, false);
  } else if (field_is(field, kSymValues)) {
    Cell values = series_cell(kTypeBlock, context_values(ctx));
    result = *block_clone(&values, false, false);
  } else if (field_is(field, kSymBody)) {
    result = *object_body(object);
  } else if (field_is(field, kSymOwner)) {
    result = logic_cell(object_owner_q(ctx));
  } else if (field_is(field, kSymEventsQ)) {
    result = logic_cell(object_events(object) != 0);
  } else {
    raise_error(kErrInternalNotDone);
  }
  *object = result;
  return object;
}

// ---------------------------------------------------------------- path steps, select, put

Cell* object_eval_path(Cell* object, const EvalPathArgs& args) {
  Cell* element = args.element;
  if (!is_any_word(element->type())) raise_path(kErrScriptInvalidPath, args);
  Node ctx = object_context(object);
  if (args.value && g_self_symbol &&
      symbol_resolve(word_symbol(element)) == symbol_resolve(int32_t(g_self_symbol)))
    raise_path(kErrScriptInvalidPath, args);  // `self` names the object, never a field
  if (word_context(element) != ctx || word_index(element) < 0) {
    int32_t i = context_find_symbol(ctx, word_symbol(element), true);
    if (i < 0) return absent_field(args);
    word_bind(element, ctx, i);
  }
  int32_t i = word_index(element);
  if (!args.value) {
    Cell* v = word_get_in(ctx, i);
    if (v->is(kTypeUnset) || v->header == 0) return absent_field(args);
    return stack_push_cell(v);
  }
  // The object as last finished: a copy of it made before (a `self` taken
  // while it was being made) may lack its event record.
  Cell* current = stack_push_cell(object);
  if (is_any_object(context_self_cell(ctx)->type())) *current = *context_self_cell(ctx);
  Cell* old_value = object_events(current) ? stack_push_cell(word_get_in(ctx, i)) : nullptr;
  context_set_in(element, args.value, ctx, false);
  if (old_value) object_on_change(current, element, old_value, args.value);
  return args.value;
}

Cell* object_select(Cell* object, const SelectArgs& args) {
  const Cell* key = args.value;
  if (!is_any_word(key->type())) {
    Cell datatype = datatype_cell(key->type());
    raise_error(kErrScriptInvalidType, &datatype);
  }
  int32_t i = object_field_index(object, key);
  *object = i < 0 ? kNoneCell : *word_get_in(object_context(object), i);
  return object;
}

Cell* object_put(Cell* object, const PutArgs& args) {
  if (!args.key->is(kTypeWord)) {
    Cell datatype = datatype_cell(args.key->type());
    raise_error(kErrScriptInvalidKeyType, &datatype);
  }
  EvalPathArgs step;
  step.element = args.key;
  step.value = args.value;
  step.by_key = true;
  object_eval_path(object, step);
  return args.value;
}

// ---------------------------------------------------------------- modify and copy

Cell* object_modify(Cell* object, const ModifyArgs& args) {
  const Cell* field = args.field;
  if (!is_all_word(field->type())) return args.value;
  Node ctx = object_context(object);
  if (field_is(field, kWordChanged)) {
    if (!args.value->is(kTypeNone)) raise_error(kErrScriptInvalidArg, args.value);
    Cell* w = series_cells(context_words(ctx));
    for (uint32_t i = 0, n = context_word_count(ctx); i < n; i++) w[i].header &= ~kFlagFieldSet;
  } else if (field_is(field, kSymOwner)) {
    owner_set_object(object, object, &kNoneCell);
  } else if (field_is(field, kSymOwned)) {
    if (args.value->is(kTypeNone)) {
      owner_set(object, object, &kNoneCell);
      return args.value;
    }
    // [owner word]: the object's series become that owner's, under that word.
    Cell* spec = args.value;
    bool pair = spec->is(kTypeBlock) && block_ks_length_q(spec) >= 2;
    Cell owner = pair ? *block_ks_head(spec) : kNoneCell;
    Cell word = pair ? block_ks_head(spec)[1] : kNoneCell;
    if (!owner.is(kTypeObject) || !is_any_word(word.type())) raise_error(kErrScriptInvalidArg, spec);
    Cell* o = stack_push_value(owner);
    Cell* w = stack_push_value(word);
    owner_set_object(object, o, w);
  }
  return args.value;
}

Cell* object_copy(Cell* object, const CopyArgs& args) {
  if (args.part) raise_refine_arg("part", args.part.arg);
  return object_copy_core(object, args.result, args.deep, args.types);
}

// ---------------------------------------------------------------- compare

int object_compare(Cell* object, const CompareArgs& args) {
  Cell* other = args.value2;
  if (!is_any_object(other->type())) return kNotComparable;
  Node a = object_context(object), b = object_context(other);
  if (a == b) return 0;
  if (args.op == kCmpSame) return -1;
  if (cycle_stack_find(a)) return cycle_stack_find(b) ? 0 : -1;
  uint32_t n = context_word_count(a);
  uint32_t m = context_word_count(b);
  if (n != m) return n > m ? 1 : -1;
  CycleGuard guard_a(a);
  CycleGuard guard_b(b);
  StackSave save;
  Cell* x = stack_push();
  Cell* y = stack_push();
  for (uint32_t i = 0; i < n; i++) {
    Cell wa = context_node_word_at(a, int32_t(i));
    Cell wb = context_node_word_at(b, int32_t(i));
    int32_t sa = symbol_resolve(word_symbol(&wa));
    int32_t sb = symbol_resolve(word_symbol(&wb));
    if (sa != sb) return sa < sb ? -1 : 1;
    *x = *word_get_in(a, int32_t(i));
    *y = *word_get_in(b, int32_t(i));
    TypeId ta = x->type(), tb = y->type();
    bool alike =
        ta == tb || (is_any_word(ta) && is_any_word(tb)) || (number_family_q(ta) && number_family_q(tb));
    if (!alike) return ta < tb ? -1 : 1;
    int r = action_compare_values(x, y, args.op);
    if (r != 0) return r;
  }
  return 0;
}

}  // namespace kiv
