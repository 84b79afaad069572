// object!: making, copying and constructing objects, their event records and
// the calls of their change handlers, field access by word, and registration.
// The path, reflection, comparison and keyed handlers are in
// object_access.cpp, form and mold in object_mold.cpp.
//
// Invariants: an object's context is of kind kContextObject with heap values,
// one value per word; its self cell holds the object value as it was last
// finished (event record and class id included), so a `self` word and the
// change notification of context! see the object whole. Everything that
// allocates re-derives value cells from (context, slot) afterwards.
#include "datatypes/object.h"

#include <algorithm>
#include <initializer_list>

#include "datatypes/actions.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/function.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/owner.h"
#include "datatypes/registry.h"
#include "datatypes/runtime_words.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "runtime/collector.h"
#include "runtime/cycle.h"
#include "runtime/errors.h"
#include "runtime/hooks.h"
#include "runtime/memory.h"
#include "runtime/murmur3.h"
#include "runtime/stack.h"
#include "runtime/typesets.h"

namespace kiv {

namespace {

uint32_t g_class_counter = 0;

// ---------------------------------------------------------------- series kinds copied

constexpr Typeset typeset_of(std::initializer_list<TypeId> types) {
  uint64_t bits = 0;
  for (TypeId t : types) bits |= uint64_t(1) << t;
  return Typeset(bits);
}

// What copy/deep copies in an object.
constexpr Typeset kCopiedKinds = kTypesetAnyPath | typeset_of({kTypeBlock, kTypeParen, kTypeString, kTypeFile,
                                                               kTypeUrl, kTypeTag, kTypeEmail, kTypeRef});
// What make copies from a prototype or a spec object.
constexpr Typeset kMadeKinds = kCopiedKinds | typeset_of({kTypeHash, kTypeVector, kTypeBinary, kTypeImage});

// ---------------------------------------------------------------- event records

enum EventCell : int32_t { kEventOnChange = 0, kEventOnDeepChange = 1 };

Cell event_cell(int32_t slot, Node spec, int32_t locals) {
  return make_cell(kTypeBlock, uint32_t(slot), spec, uint32_t(locals));
}
int32_t event_slot(const Cell* c) { return int32_t(c->data1); }
Node event_spec(const Cell* c) { return c->data2; }
int32_t event_locals(const Cell* c) { return int32_t(c->data3); }

// MAY ALLOCATE. A new event record holding [on_change] and [on_deep_change].
Node make_events(Cell on_change, Cell on_deep_change) {
  Node events = series_alloc_cells(2);
  SeriesBuffer* b = series_buffer(events);
  b->head_cell()[0] = on_change;
  b->head_cell()[1] = on_deep_change;
  b->tail = b->head + 2 * sizeof(Cell);
  return events;
}

// Cell [which] of the event record [events]. Short-lived.
Cell* event_at(Node events, EventCell which) { return series_cells(events) + which; }

// The locals count of [handler]'s spec, refreshed in the record when the
// handler is not the one cached there.
int32_t handler_locals(Node events, EventCell which, const Cell* handler) {
  Node spec = function_spec(handler);
  Cell* c = event_at(events, which);
  if (event_spec(c) == spec) return event_locals(c);
  int32_t locals = function_count_locals(spec, 0, false);
  *event_at(events, which) = event_cell(event_slot(c), spec, locals);
  return locals;
}

int32_t symbol_of_value(RuntimeValue v) {
  Cell w = runtime_value(v);
  return word_symbol(&w);
}

// MAY RUN KIV CODE. Runs [handler] for the object over [ctx] with the
// argument cells [args] in a frame named by the runtime word [name].
void run_handler(Cell* handler, Node ctx, RuntimeValue name, uint32_t flags,
                 std::initializer_list<Cell*> args, int32_t locals) {
  if (!g_hooks.object_invoke_handler) raise_error(kErrInternalNotDone);
  StackSave save;
  Cell* fn = stack_push_cell(handler);
  Cell* word = stack_push_value(runtime_value(name));
  open_function_frame(frame_name_of(word), function_context(fn));
  for (Cell* a : args) stack_push_cell(a);
  init_locals(locals);
  g_hooks.object_invoke_handler(fn, ctx, word, flags);
  stack_unwind_function();
}

// ---------------------------------------------------------------- copying fields

// MAY ALLOCATE. Re-creates the function! in slot [i] of [ctx] for that
// object: a copy of its spec, its body copied deeply and bound to the object,
// and a new context made from the spec.
void remake_function(Node ctx, int32_t i) {
  StackSave save;
  Cell* fn = stack_push_cell(word_get_in(ctx, i));
  Node spec_node = function_spec(fn);
  Node more = function_more(fn);
  if (!node_in_use(spec_node) || series_buffer(spec_node)->unit() != sizeof(Cell))
    raise_error(kErrScriptBadFuncDef, fn);
  Cell spec_view = series_cell(kTypeBlock, spec_node);
  Cell* spec = block_clone(&spec_view, false, false);
  Cell* body = stack_push_value(kNoneCell);
  Cell old_body = node_in_use(more) ? function_body(fn) : kNoneCell;
  if (old_body.is(kTypeBlock)) {
    *body = *block_clone(&old_body, true, true);
    context_bind_block(body, ctx, true);
  }
  uint32_t flags = fn->header & (kFlagFunctionTrace | kFlagFunctionNoTrace);
  make_function_value(spec, body, 0, 0, 0, flags);
  *word_get_in(ctx, i) = *stack_last_value();
}

// True when [t] is one of [kinds] and the value has a buffer to copy.
bool copied_q(const Cell* v, Typeset kinds) { return kinds.has(v->type()) && v->node() != 0; }

// MAY ALLOCATE. Slot [i] of [ctx] takes a deep copy of its value; an
// any-block copy is bound to [ctx] when [rebind].
void copy_field(Node ctx, int32_t i, bool rebind) {
  StackSave save;
  Cell* item = stack_push_cell(word_get_in(ctx, i));
  CopyArgs copy;
  copy.deep = true;
  copy.result = stack_push_value(kNoneCell);
  Cell* out = action_copy(item, copy);
  if (rebind && is_any_block(out->type())) context_bind_block(out, ctx, true);
  Cell* slot = word_get_in(ctx, i);
  *slot = *out;
}

// MAY ALLOCATE. Re-creates the functions of [ctx] and copies its series
// values: those of [kinds] deeply (none when ![deep]), or with [types] those
// of the given types through block_deep_copy_types.
void copy_fields(Node ctx, bool deep, const Cell* types, Typeset kinds, bool rebind) {
  uint32_t n = context_word_count(ctx);
  if (types) {
    block_deep_copy_types(context_values(ctx), 0, int32_t(n), 1, deep, types);
  } else if (deep) {
    for (uint32_t i = 0; i < n; i++)
      if (copied_q(word_get_in(ctx, int32_t(i)), kinds)) copy_field(ctx, int32_t(i), rebind);
  }
  for (uint32_t i = 0; i < n; i++)
    if (word_get_in(ctx, int32_t(i))->is(kTypeFunction)) remake_function(ctx, int32_t(i));
}

// MAY ALLOCATE. The copy of object_copy_core, with the kinds of series
// copied and whether any-block copies are rebound to the copy.
Cell* copy_object(const Cell* source, Cell* result, bool deep, const Cell* types, Typeset kinds,
                  bool rebind) {
  StackSave save;
  Cell* src = stack_push_cell(source);
  Cell* kind = types ? stack_push_cell(types) : nullptr;
  Node from = object_context(src);
  if (kind && cycle_stack_find(from)) raise_error(kErrInternalNoCycle);
  *result = *src;
  object_set_events(result, 0);
  Node ctx = context_clone(result, kContextObject);
  object_set_owner(ctx, false);
  CycleGuard guard(from);
  copy_fields(ctx, deep, kind, kinds, rebind);
  object_finish(result);
  return result;
}

// MAY ALLOCATE. The object make and construct start from in [result]: a
// copy of the prototype [proto] when [derived] (series copied deeply and
// rebound, the event record reset until the object is finished again), else
// an empty object of 4 slots.
void start_object(const Cell* proto, bool derived, Cell* result) {
  if (!derived) {
    object_init_cell(result, 4);
    return;
  }
  copy_object(proto, result, true, nullptr, kMadeKinds, true);
  object_set_events(result, 0);
  *context_self_cell(object_context(result)) = *result;
}

// Clears the field-set marks of every word of [ctx].
void clear_field_marks(Node ctx) {
  Cell* w = series_cells(context_words(ctx));
  for (uint32_t i = 0, n = context_word_count(ctx); i < n; i++) w[i].header &= ~kFlagFieldSet;
}

// Removes the new-line markers of every value of [ctx].
void clear_value_new_lines(Node ctx) {
  Cell* v = series_cells(context_values(ctx));
  for (uint32_t i = 0, n = context_word_count(ctx); i < n; i++) v[i].clear_new_line();
}

// The symbols true, yes, on and false, no, off, none as construct reads them:
// 1 true, 0 false, -1 none, -2 anything else.
int construct_word_q(const Cell* v) {
  if (!v->is(kTypeWord)) return -2;
  int32_t s = word_symbol(v);
  for (RuntimeSymbol t : {kSymTrue, kSymYes, kSymOn})
    if (runtime_symbol_q(s, t)) return 1;
  for (RuntimeSymbol f : {kSymFalse, kSymNo, kSymOff})
    if (runtime_symbol_q(s, f)) return 0;
  return runtime_symbol_q(s, kSymNone) ? -1 : -2;
}

// A field word of [ctx] as handed out: a word! bound to the context, flags clear.
Cell field_word(Node ctx, int32_t i) {
  Cell w = context_node_word_at(ctx, i);
  w.set_header(kTypeWord);
  return w;
}

bool handler_word_q(const Cell* word) {
  int32_t s = symbol_resolve(word_symbol(word));
  return s == symbol_resolve(symbol_of_value(kWordOnChangeStar)) ||
         s == symbol_resolve(symbol_of_value(kWordOnDeepChangeStar));
}

void object_mark(const Cell* value) {
  gc_mark_block(object_context(value));
  gc_mark_block(object_events(value));
}

// Objects are equal only to themselves: the context identifies one.
uint32_t object_hash(const Cell* value) { return hash_int32(object_context(value)); }

constexpr TypeHooks kObjectHooks{.mark = object_mark, .hash = object_hash};

}  // namespace

uint32_t object_new_class() { return ++g_class_counter; }

void object_reserve_class(uint32_t class_id) { g_class_counter = std::max(g_class_counter, class_id); }

// ---------------------------------------------------------------- making objects

Cell* object_init_cell(Cell* cell, uint32_t n) {
  *cell = kUnsetCell;
  Node ctx = context_create(n, false, true, 0, kContextObject);
  *cell = object_cell(ctx);
  *context_self_cell(ctx) = *cell;
  return cell;
}

Cell* push_object(Node ctx, Node events, uint32_t class_id) {
  Cell* object = stack_push_value(object_cell(ctx, class_id, events));
  *context_self_cell(ctx) = *object;
  return object;
}

Cell* object_from_context(Node ctx, uint32_t class_id) {
  Cell* object = push_object(ctx, 0, class_id);
  Node values = context_values(ctx);
  while (series_length(values) < context_word_count(ctx)) *append_cell(values) = kUnsetCell;
  return object;
}

void object_attach_events(Node ctx, int32_t on_change, int32_t on_change_locals, int32_t on_deep_change,
                          int32_t on_deep_change_locals) {
  Cell* object = stack_last_value();
  Node events = make_events(event_cell(on_change, 0, on_change_locals),
                            event_cell(on_deep_change, 0, on_deep_change_locals));
  object_set_events(object, events);
  *context_self_cell(ctx) = *object;
  if (on_deep_change >= 0) owner_set_object(object, object, &kNoneCell);
}

void object_event_slots(const Cell* object, int32_t* on_change, int32_t* on_deep_change) {
  *on_change = *on_deep_change = -1;
  Node events = object_events(object);
  if (!events) return;
  *on_change = event_slot(event_at(events, kEventOnChange));
  *on_deep_change = event_slot(event_at(events, kEventOnDeepChange));
}

void object_finish(Cell* object) {
  Node ctx = object_context(object);
  int32_t slots[2] = {context_find_symbol(ctx, symbol_of_value(kWordOnChangeStar), true),
                      context_find_symbol(ctx, symbol_of_value(kWordOnDeepChangeStar), true)};
  object_set_events(object, 0);
  if (slots[0] < 0 && slots[1] < 0) {
    *context_self_cell(ctx) = *object;
    return;
  }
  Cell cells[2];
  for (int k = 0; k < 2; k++) {
    if (slots[k] < 0) {
      cells[k] = event_cell(-1, 0, 0);
      continue;
    }
    Cell handler = *word_get_in(ctx, slots[k]);
    if (!handler.is(kTypeFunction) && !handler.is(kTypeRoutine)) {
      Cell word = field_word(ctx, slots[k]);
      Cell datatype = datatype_cell(handler.type());
      raise_error(kErrScriptBadFieldSet, &word, &datatype);
    }
    cells[k] = event_cell(slots[k], function_spec(&handler),
                          function_count_locals(function_spec(&handler), 0, false));
  }
  object_set_events(object, make_events(cells[0], cells[1]));
  *context_self_cell(ctx) = *object;
  if (slots[1] >= 0) {
    // An object made from an owning prototype carries its owner mark
    // already, which would keep the walk off its own series.
    object_set_owner(ctx, false);
    owner_set_object(object, object, &kNoneCell);
  }
}

Cell* object_copy_core(const Cell* source, Cell* result, bool deep, const Cell* types) {
  return copy_object(source, result, deep, types, kCopiedKinds, false);
}

namespace {

// MAY RUN KIV CODE. Runs [body], bound to [object]'s new context, and
// finishes the object: the last step of make object! over a block.
void run_body(Cell* object, Cell* body) {
  Node ctx = object_context(object);
  object->clear_new_line();
  *context_self_cell(ctx) = *object;
  if (!g_hooks.object_eval_block) raise_error(kErrInternalNotDone);
  g_hooks.object_eval_block(body);
  clear_field_marks(ctx);
  clear_value_new_lines(ctx);
  object_finish(object);
}

}  // namespace

Cell* object_make(Cell* proto, const MakeArgs& args) {
  TypeId spec_type = args.spec->type();
  if (spec_type != kTypeBlock && spec_type != kTypeObject) raise_error(kErrSyntaxMalconstruct, args.spec);
  Cell* result = stack_push();
  bool derived = proto->is(kTypeObject);
  start_object(proto, derived, result);
  Node ctx = object_context(result);
  uint32_t before = context_word_count(ctx);
  if (spec_type == kTypeObject) {
    Cell* spec = stack_push_cell(args.spec);
    Node from = object_context(spec);
    for (uint32_t i = 0; i < context_word_count(from); i++) {
      Cell word = field_word(from, int32_t(i));
      Cell value = *word_get_in(from, int32_t(i));
      int32_t slot = context_set_or_add(ctx, &word, &value);
      if (copied_q(&value, kMadeKinds)) copy_field(ctx, slot, true);
      if (value.is(kTypeFunction)) remake_function(ctx, slot);
    }
    object_set_class(result,
                     derived && context_word_count(ctx) == before ? object_class(proto) : object_new_class());
  } else {
    Cell* body = stack_push_cell(args.spec);
    bool added = context_collect_set_words(ctx, body);
    context_bind_block(body, ctx, true);
    object_set_class(result, derived && !added ? object_class(proto) : object_new_class());
    run_body(result, body);
    return result;
  }
  object_finish(result);
  return result;
}

Cell* object_make_unrun(Cell* body) {
  Cell* result = stack_push();
  start_object(nullptr, false, result);
  context_collect_set_words(object_context(result), body);
  context_bind_block(body, object_context(result), true);
  object_set_class(result, object_new_class());
  *context_self_cell(object_context(result)) = *result;
  return result;
}

void object_make_run(Cell* object, Cell* body) { run_body(object, body); }

Cell* object_construct(const Cell* proto, Cell* spec, bool only) {
  Cell* result = stack_push();
  start_object(proto, proto != nullptr, result);
  Node ctx = object_context(result);
  uint32_t before = context_word_count(ctx);
  Cell* block = stack_push_cell(spec);
  Node node = block->node();
  int32_t i = block->head() < 0 ? 0 : block->head();
  while (i < int32_t(series_length(node))) {
    int32_t first = i;
    while (i < int32_t(series_length(node)) && series_cells(node)[i].is(kTypeSetWord)) i++;
    if (i == first) {
      i++;  // not a set-word: skipped
      continue;
    }
    Cell value = i < int32_t(series_length(node)) ? series_cells(node)[i] : kNoneCell;
    value.clear_new_line();
    switch (only ? -2 : construct_word_q(&value)) {
      case 1: value = kTrueCell; break;
      case 0: value = kFalseCell; break;
      case -1: value = kNoneCell; break;
      default: break;
    }
    for (int32_t k = first; k < i; k++) {
      Cell word = series_cells(node)[k];
      context_set_or_add(ctx, &word, &value);
    }
  }
  if (!proto || context_word_count(ctx) > before) object_set_class(result, object_new_class());
  object_finish(result);
  return result;
}

void object_set_fields(Cell* object, Cell* value, bool any, bool some) {
  StackSave save;
  Cell* target = stack_push_cell(object);
  Cell* source = stack_push_cell(value);
  Cell* word = stack_push();
  Cell* item = stack_push();
  Node ctx = object_context(target);
  int32_t n = int32_t(context_word_count(ctx));
  // Which field takes which value: slot pairs (field, position in the source).
  auto check = [&](const Cell* v, int32_t field) {
    if (v->is(kTypeUnset) && !any) {
      Cell w = field_word(ctx, field);
      raise_error(kErrScriptNeedValue, &w);
    }
  };
  auto set_one = [&](int32_t field) {
    if (some && item->is(kTypeNone)) return;
    *word = field_word(ctx, field);
    context_set_in(word, item, ctx, !handler_word_q(word));
  };
  if (source->is(kTypeBlock)) {
    int32_t head = source->head() < 0 ? 0 : source->head();
    auto count = [&] { return std::min<int32_t>(n, int32_t(series_length(source->node())) - head); };
    for (int32_t k = 0; k < count(); k++) check(series_cells(source->node()) + head + k, k);
    for (int32_t k = 0; k < count(); k++) {
      *item = series_cells(source->node())[head + k];
      item->clear_new_line();
      set_one(k);
    }
  } else if (is_any_object(source->type())) {
    Node from = object_context(source);
    for (uint32_t k = 0; k < context_word_count(from); k++) {
      Cell w = context_node_word_at(from, int32_t(k));
      int32_t field = context_find_symbol(ctx, word_symbol(&w), true);
      if (field >= 0) check(word_get_in(from, int32_t(k)), field);
    }
    for (uint32_t k = 0; k < context_word_count(from); k++) {
      Cell w = context_node_word_at(from, int32_t(k));
      int32_t field = context_find_symbol(ctx, word_symbol(&w), true);
      if (field < 0) continue;
      *item = *word_get_in(from, int32_t(k));
      set_one(field);
    }
  } else {
    if (n > 0) check(source, 0);
    *item = *source;
    for (int32_t k = 0; k < n; k++) set_one(k);
  }
}

// ---------------------------------------------------------------- fields

int32_t object_field_index(const Cell* object, const Cell* word) {
  return context_find_symbol(object_context(object), word_symbol(word), true);
}

const Cell* object_field_by_word(const Cell* object, const Cell* word) {
  int32_t i = object_field_index(object, word);
  return i < 0 ? &kNoneCell : word_get_in(object_context(object), i);
}

Cell* object_get_values(const Cell* object) { return series_cells(context_values(object_context(object))); }

Cell object_first_word(const Cell* object) {
  Node ctx = object_context(object);
  return context_word_count(ctx) > 0 ? field_word(ctx, 0) : kNoneCell;
}

uint32_t object_field_count(const Cell* object) { return context_word_count(object_context(object)); }

Cell* push_system_value(std::initializer_list<const char*> names) {
  Cell* value = stack_push_value(load_word("system"));
  *value = *get_word_value(value);
  for (const char* name : names) {
    if (!value->is(kTypeObject)) {
      *value = kNoneCell;
      return value;
    }
    Cell word = load_word(name);
    *value = *object_field_by_word(value, &word);
  }
  return value;
}

bool object_word_class_q(const Cell* word, uint32_t class_id) {
  const Cell* v = get_word_value(word);
  return v->is(kTypeObject) && object_class(v) == class_id;
}

bool object_field_class_q(Node ctx, int32_t i, uint32_t class_id) {
  const Cell* v = word_get_in(ctx, i);
  return v->is(kTypeObject) && object_class(v) == class_id;
}

// ---------------------------------------------------------------- change handlers

void object_on_change(Cell* object, Cell* word, Cell* old_value, Cell* new_value) {
  Node events = object_events(object);
  if (!events) return;
  int32_t slot = event_slot(event_at(events, kEventOnChange));
  if (slot < 0) return;
  StackSave save;
  Node ctx = object_context(object);
  Cell* handler = stack_push_cell(word_get_in(ctx, slot));
  if (!handler->is(kTypeFunction)) raise_error(kErrScriptInvalidObjEvt, handler);
  int32_t locals = handler_locals(events, kEventOnChange, handler);
  Cell* field = word;
  if (word_context(word) != ctx) {
    field = stack_push_cell(word);
    context_bind_word(ctx, field);
  }
  run_handler(handler, ctx, kWordOnChangeStar, kHandlerOnChange, {field, old_value, new_value}, locals);
}

void object_on_change_top(Cell* object, Cell* word) {
  Cell* old_value = g_stack.top - 1;
  object_on_change(object, word, old_value, old_value - 1);
}

void object_word_on_change_top(const Cell* word, Cell* field_word) {
  Cell* old_value = g_stack.top - 1;
  Cell* new_value = old_value - 1;
  StackSave save;
  Cell* object = stack_push_cell(get_word_value(word));
  if (!is_any_object(object->type())) return;
  object_on_change(object, field_word, old_value, new_value);
}

void object_on_deep_change(Cell* owner, Cell* word, Cell* target, Cell* action, Cell* new_value,
                           int32_t index, int32_t part) {
  Node events = object_events(owner);
  if (!events) raise_error(kErrScriptInvalidObjEvt, owner);
  int32_t slot = event_slot(event_at(events, kEventOnDeepChange));
  if (slot < 0) return;
  StackSave save;
  Cell* handler = stack_push_cell(word_get_in(object_context(owner), slot));
  if (!handler->is(kTypeFunction)) return;
  Cell* value = new_value ? new_value : stack_push_value(kNoneCell);
  Cell* at = stack_push_value(integer_cell(index));
  Cell* count = stack_push_value(integer_cell(part));
  int32_t locals = handler_locals(events, kEventOnDeepChange, handler);
  run_handler(handler, object_context(owner), kWordOnDeepChangeStar, kHandlerOnDeepChange,
              {owner, word, target, action, value, at, count}, locals);
}

// ---------------------------------------------------------------- registration

void object_datatype_init() {
  ActionSlots slots{};
  slots.make = object_make;
  slots.reflect = object_reflect;
  slots.form = object_form;
  slots.mold = object_mold;
  slots.eval_path = object_eval_path;
  slots.compare = object_compare;
  slots.copy = object_copy;
  slots.put = object_put;
  slots.select = object_select;
  slots.modify = object_modify;
  register_datatype({kTypeObject, kTypeNil, "object!", kActionCount, slots, &kObjectHooks});
}

}  // namespace kiv
