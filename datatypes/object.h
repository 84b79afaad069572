// object!: a context of fields wrapped in a value, with a class id and change
// handlers. error! and port! are objects too and share this layout and most
// of the handlers here.
//
// Value cell (object! 32, error! 34, port! 48):
//   header  type id
//   word 1  node of the object's context (datatypes/context.h): kind
//           kContextObject, heap values, `self` binding on; its self cell
//           holds a copy of the object value; kFlagOwnsSeries on its context
//           cell when the object owns the series of its fields
//   word 2  class id: objects made with the same words from the same
//           prototype share it; 0 for an object made by object_init_cell alone
//   word 3  node of the event record, 0 when the object has neither handler
//
// Event record: a two-cell series, cell 0 for `on-change*`, cell 1 for
// `on-deep-change*`. Each is a block! cell naming the handler's spec: word 1
// the handler's slot in the object's context (-1 when absent), word 2 the
// spec node, word 3 the handler's locals count. The spec node tells a
// replaced handler from the cached one; the record's marking keeps that spec
// alive, so its node is never reused while it is cached.
//
// Field-set mark: kFlagFieldSet on a field's word in the words block, set
// whenever the field is assigned, cleared after make evaluates its spec and by
// modify of `changed`; reflect of `changed` lists the marked fields.
//
// Kiv code runs through two of the evaluator's hooks (runtime/hooks.h;
// without them making an object from a block, or calling a change handler,
// raises internal not-done): object_eval_block evaluates a make spec and
// object_invoke_handler runs a handler function.
//
// Collector safety: object cells passed to anything marked MAY ALLOCATE must
// be stable (data stack, Root); Cell* results into a values block are short-lived.
#pragma once

#include <cstdint>
#include <initializer_list>

#include "datatypes/action_slots.h"
#include "datatypes/context.h"
#include "runtime/cell.h"
#include "runtime/hooks.h"

namespace kiv {

inline Node object_context(const Cell* object) { return object->data1; }
inline uint32_t object_class(const Cell* object) { return object->data2; }
inline Node object_events(const Cell* object) { return object->data3; }
inline void object_set_context(Cell* object, Node context) { object->data1 = context; }
inline void object_set_class(Cell* object, uint32_t class_id) { object->data2 = class_id; }
inline void object_set_events(Cell* object, Node events) { object->data3 = events; }
// An object of [type] over [context] with [class_id] and [events].
inline Cell object_cell(Node context, uint32_t class_id = 0, Node events = 0, TypeId type = kTypeObject) {
  return make_cell(type, context, class_id, events);
}

// True when the object over [ctx] owns the series of its fields.
inline bool object_owner_q(Node ctx) { return context_cell(ctx)->header & kFlagOwnsSeries; }
inline void object_set_owner(Node ctx, bool on) {
  Cell* c = context_cell(ctx);
  c->header = on ? c->header | kFlagOwnsSeries : c->header & ~kFlagOwnsSeries;
}

// ---------------------------------------------------------------- hooks

// The flags word the object_invoke_handler hook is called with.
inline constexpr uint32_t kHandlerOnChange = 8;
inline constexpr uint32_t kHandlerOnDeepChange = 16;

// ---------------------------------------------------------------- making objects

// MAY ALLOCATE. Makes the stable [cell] an empty object: a new context of [n]
// slots, class 0, no event record; the object is stored in its self cell.
Cell* object_init_cell(Cell* cell, uint32_t n);
// Pushes an object over [ctx] with [events] and [class_id] and stores it in
// the context's self cell.
Cell* push_object(Node ctx, Node events, uint32_t class_id);
// MAY ALLOCATE. Pushes an object over the existing context [ctx]; unset!
// values are appended until there is one value per word.
Cell* object_from_context(Node ctx, uint32_t class_id);
// MAY ALLOCATE. Gives the object last pushed on the data stack (over [ctx])
// an event record with the handlers' slots and locals counts (slot -1: no
// such handler; spec nodes unknown, so the counts are refreshed at the first
// call); with an on-deep-change* slot the object becomes the owner of its
// series. The object is stored in the self cell.
void object_attach_events(Node ctx, int32_t on_change, int32_t on_change_locals, int32_t on_deep_change,
                          int32_t on_deep_change_locals);
// The context slots the event record of [object] names for on-change* and
// on-deep-change* (-1 each when absent, and both without an event record).
void object_event_slots(const Cell* object, int32_t* on_change, int32_t* on_deep_change);
// A new class id (1, 2, ... in the order asked).
uint32_t object_new_class();
// Keeps [class_id], given to an object made elsewhere (boot data), from
// being handed out again: later new classes come after it.
void object_reserve_class(uint32_t class_id);

// MAY ALLOCATE, MAY RUN KIV CODE. make object! and make of a prototype
// object: [proto] is a datatype! or the prototype; the spec is a block!
// (bound to the new object and evaluated) or an object! (its fields added or
// overwritten). Syntax malconstruct for any other spec. Writes the new object
// to a new stack cell and returns it.
Cell* object_make(Cell* proto, const MakeArgs& args);
// The two halves of make object! over a block, for an object made ahead of
// its body's run (the boot image). MAY ALLOCATE: pushes a new object with a
// word for each set-word of the block [body], which is bound to it in place.
Cell* object_make_unrun(Cell* body);
// MAY ALLOCATE, MAY RUN KIV CODE: runs [body], bound to the new [object]
// (object_make_unrun), and finishes the object as make does.
void object_make_run(Cell* object, Cell* body);
// MAY ALLOCATE. A copy of the object [source] written to [result] (stable):
// a context with the source's words and a copy of each value, the class id
// kept, functions re-created for the copy; with [deep] every series value of
// the copied kinds is copied deeply, with [types] (a datatype! or typeset!,
// or null) only values of those types are. Ends with object_finish.
Cell* object_copy_core(const Cell* source, Cell* result, bool deep, const Cell* types);
// MAY ALLOCATE, MAY RUN KIV CODE (ownership). Builds the event record of the
// stable [object] from its `on-change*` and `on-deep-change*` fields (script
// bad-field-set with the field word and the datatype when a handler field
// holds no function! or routine!), makes an object with on-deep-change* the
// owner of its series, and stores the object in its self cell.
void object_finish(Cell* object);
// MAY ALLOCATE. The construct native: a new object (or a copy of [proto], a
// stable object or null) with a field for each top-level set-word of [spec]
// holding the value after it unevaluated (none after the last set-word);
// unless [only], the words true, yes, on give true, false, no, off give
// false, and none gives none. The class is a new one unless a prototype
// gained no field. Returns the pushed object.
Cell* object_construct(const Cell* proto, Cell* spec, bool only);
// MAY ALLOCATE, MAY RUN KIV CODE. The set native on an object: from a block!
// the values in order to the fields in order (as many as both have), from an
// object! each field found by name in [object], anything else to every field.
// Without [any] an unset! value raises script need-value with the field word,
// before any field changes; [some] skips none values. on-change* hears of
// every field but the two handler fields.
void object_set_fields(Cell* object, Cell* value, bool any, bool some);

// ---------------------------------------------------------------- fields

// The slot of [word]'s symbol in [object] (canonical match), or -1.
int32_t object_field_index(const Cell* object, const Cell* word);
// The value of [word]'s field, or the shared none cell when absent. Short-lived.
const Cell* object_field_by_word(const Cell* object, const Cell* word);
// The first value cell of [object]. Short-lived.
Cell* object_get_values(const Cell* object);
// Word #0 of [object]'s context (none when it has none), and the number of words.
Cell object_first_word(const Cell* object);
uint32_t object_field_count(const Cell* object);
// MAY ALLOCATE. Pushes the value at system/[names...] (a field of a field of
// the object system...), or none when `system` or a step on the way is not
// an object or lacks the field: how the runtime follows a system setting.
Cell* push_system_value(std::initializer_list<const char*> names);
// True when the value of [word] is an object of class [class_id].
bool object_word_class_q(const Cell* word, uint32_t class_id);
// True when value #[i] of the context [ctx] is an object of class [class_id].
bool object_field_class_q(Node ctx, int32_t i, uint32_t class_id);

// ---------------------------------------------------------------- change handlers

// MAY RUN KIV CODE. Calls the `on-change*` handler of [object] with the field
// [word], the [old_value] and the [new_value]; nothing without one. Script
// invalid-obj-evt when the handler field holds no function!. Stable cells.
void object_on_change(Cell* object, Cell* word, Cell* old_value, Cell* new_value);
// MAY RUN KIV CODE. object_on_change with the last data-stack cell as the old
// value and the cell below it as the new value.
void object_on_change_top(Cell* object, Cell* word);
// MAY RUN KIV CODE. The same for the object held by [word].
void object_word_on_change_top(const Cell* word, Cell* field_word);
// MAY RUN KIV CODE. Calls the `on-deep-change*` handler of [owner] with
// [owner], the field [word], the changed series [target], the [action] word,
// [new_value] (null: none), [index] and [part]. Script invalid-obj-evt with
// the owner when it has no event record; nothing when it has no such handler
// or the field holds no function!. Stable cells.
void object_on_deep_change(Cell* owner, Cell* word, Cell* target, Cell* action, Cell* new_value,
                           int32_t index, int32_t part);

// ---------------------------------------------------------------- handlers of object! (error! reuses them)

// MAY ALLOCATE. Field `changed`, `class`, `words`, `values`, `body`, `owner`,
// `events?`; internal not-done for any other. Writes the first slot.
Cell* object_reflect(Cell* object, const ReflectArgs& args);
// MAY ALLOCATE. The body of [object] (reflect `body`): for each field a
// set-word! with the new-line marker, then its value, word! and path!
// values made lit-word! and lit-path!. Pushes the block and returns it.
Cell* object_body(const Cell* object);
// MAY ALLOCATE, MAY RUN KIV CODE. One path step: get, or with args.value set
// the field and call on-change*. The element is bound to the object on the
// way. Errors: script invalid-path for an element that is not a word, an
// absent field when args.by_key, or `self`; script unset-path for an absent
// or unset field otherwise; with args.absent_ok and args.by_key an absent
// field gives unset! instead.
Cell* object_eval_path(Cell* object, const EvalPathArgs& args);
// MAY RUN KIV CODE. -2 unless args.value2 is an object!; the same context is
// equal; otherwise by field count, then field by field (symbols, then values).
int object_compare(Cell* object, const CompareArgs& args);
// MAY ALLOCATE. copy: script invalid-refine-arg with /part; else object_copy_core.
Cell* object_copy(Cell* object, const CopyArgs& args);
// MAY ALLOCATE, MAY RUN KIV CODE. put: the field named by the word! key set as
// a path would (an absent field raises invalid-path); the result is the value.
Cell* object_put(Cell* object, const PutArgs& args);
// select: the value of the field named by a word key, or none.
Cell* object_select(Cell* object, const SelectArgs& args);
// MAY ALLOCATE, MAY RUN KIV CODE. modify of `changed` (none clears the marks),
// `owner` and `owned`; other fields do nothing. The result is the new value.
Cell* object_modify(Cell* object, const ModifyArgs& args);
// MAY ALLOCATE. form: the fields on lines of their own, without indentation.
int32_t object_form(Cell* object, const FormArgs& args);
// MAY ALLOCATE. mold: "make object! [", the fields, "]".
int32_t object_mold(Cell* object, const MoldArgs& args);
// MAY ALLOCATE. The field writer of form and mold (error! and port! call it
// behind their own prefix): each field as its name, ": ", a "'" before a
// word! value, and the value molded with args.all and args.flat; the two
// handler fields only with args.all. With [level] of 0 or more each field is
// indented [level] levels and followed by a separator; with -1 there is no
// indentation and separators go only between fields. The separator is a
// space with args.flat, else a newline. Stops once args.part is given and
// the budget is used up. Returns the remaining budget of args.limit.
int32_t object_mold_fields(Cell* object, const MoldArgs& args, int32_t level);
// MAY ALLOCATE. object!'s mold behind [opening] ("make object! [" for
// object!, "make error! [" for error!): the fields on their own lines, or on
// one with /flat or /only (no brackets with /only), then "]".
int32_t object_mold_as(Cell* object, const MoldArgs& args, const char* opening);

}  // namespace kiv
