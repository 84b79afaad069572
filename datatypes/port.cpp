// port!: making ports from schemes, mold, and the forwarders that hand every
// series and I/O action to the port's actor.
#include "datatypes/port.h"

#include <initializer_list>

#include "datatypes/actions.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/function.h"
#include "datatypes/handle.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/object.h"
#include "datatypes/registry.h"
#include "datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/hooks.h"
#include "runtime/stack.h"

namespace kiv {

namespace {

// The fields of a port, in order.
constexpr const char* kPortFields[] = {"spec", "scheme", "actor", "awake", "state", "data", "extra"};

// MAY ALLOCATE. The slot of field [name] in [object] (stable), or -1.
int32_t field_slot(const Cell* object, const char* name) {
  Cell word = load_word(name);
  return object_field_index(object, &word);
}

// MAY ALLOCATE. Pushes a new port, a copy of system/standard/port when that
// is an object with every port field, else one made here with them all none.
Cell* push_new_port() {
  Cell* port = stack_push();
  StackSave save;
  Cell* proto = push_system_value({"standard", "port"});
  bool usable = proto->is(kTypeObject);
  for (const char* name : kPortFields)
    if (usable && field_slot(proto, name) < 0) usable = false;
  if (usable) {
    object_copy_core(proto, port, false, nullptr);
  } else {
    object_init_cell(port, 8);
    for (const char* name : kPortFields) {
      Cell* word = stack_push_value(load_word(name));
      context_add_word(object_context(port), word, &kNoneCell);
    }
  }
  port->set_type(kTypePort);
  *context_self_cell(object_context(port)) = *port;
  return port;
}

// MAY ALLOCATE. Sets field [name] of the port (stable) to [value] (stable),
// without change events: the port is being built.
void set_port_field(const Cell* port, const char* name, const Cell* value) {
  int32_t slot = field_slot(port, name);
  if (slot >= 0) object_get_values(port)[slot] = *value;
}

// MAY ALLOCATE. The word of action [id] (a word! of the global context).
Cell action_word(ActionId id) { return load_word(g_actions_table[id].word); }

// One call of a port's actor for an action: resolves the actor and its
// function, opens the call frame named by the action's word and pushes the
// port; the forwarded values follow, then run() calls and closes the frame.
class ActorCall {
 public:
  // MAY ALLOCATE. Access invalid-port when the port's actor is neither an
  // object! nor a handle! naming a native actor; access no-port-action with
  // the action's word when the actor object has no function of that name.
  ActorCall(ActionId id, const Cell* port) : id_(id) {
    word_ = stack_push_value(action_word(id));
    actor_ = stack_push_value(kNoneCell);
    int32_t slot = field_slot(port, "actor");
    if (slot >= 0) *actor_ = object_get_values(port)[slot];
    if (actor_->is(kTypeHandle) && handle_kind(actor_) == kHandlePortActor) {
      native_ = registry_port_actor(handle_value(actor_));
      if (!native_) raise_error(kErrAccessInvalidPort);
      open_native_frame(frame_name_of(word_));
    } else {
      if (!actor_->is(kTypeObject)) raise_error(kErrAccessInvalidPort);
      int32_t at = object_field_index(actor_, word_);
      if (at < 0 || !object_get_values(actor_)[at].is(kTypeFunction))
        raise_error(kErrAccessNoPortAction, word_);
      *actor_ = object_get_values(actor_)[at];
      open_function_frame(frame_name_of(word_), function_context(actor_));
    }
    stack_push_cell(port);
  }

  // A plain argument, or none for null.
  ActorCall& value(const Cell* v) {
    stack_push_value(v ? *v : kNoneCell);
    return *this;
  }
  // A refinement without an argument.
  ActorCall& flag(bool on) {
    stack_push_value(logic_cell(on));
    return *this;
  }
  // A refinement with its argument: its use, then the argument or none.
  ActorCall& ref(const Cell* arg) { return flag(arg != nullptr).value(arg); }

  // MAY RUN KIV CODE. Calls the actor and returns its result, left as the
  // last pushed value.
  Cell* run() {
    Cell* base = g_stack.arguments;
    if (native_) {
      Cell* result = native_(id_, base, base + 1, int32_t(g_stack.top - base - 1));
      *base = *result;
      stack_unwind();
      return g_stack.top - 1;
    }
    // The function's frame: its parameters and refinements, then its locals.
    Node spec = function_spec(actor_);
    const int32_t locals = function_count_locals(spec, 0, false);
    const int32_t params = int32_t(context_word_count(function_context(actor_))) - locals;
    while (g_stack.top - base > params) g_stack.top--;
    while (g_stack.top - base < params) stack_push_value(kNoneCell);
    init_locals(locals);
    if (!g_hooks.object_invoke_handler) raise_error(kErrInternalNotDone);
    g_hooks.object_invoke_handler(actor_, 0, word_, 0);
    stack_unwind_function();
    return g_stack.top - 1;
  }

 private:
  ActionId id_;
  Cell* word_;
  Cell* actor_;  // the actor, then the function called
  PortActorFn native_ = nullptr;
};

// ---------------------------------------------------------------- forwarders

template <ActionId Id>
Cell* forward_none(Cell* port, const NoneArgs&) {
  return ActorCall(Id, port).run();
}

Cell* forward_at(Cell* port, const AtArgs& a) { return ActorCall(kActionAt, port).value(a.index).run(); }
Cell* forward_pick(Cell* port, const PickArgs& a) {
  return ActorCall(kActionPick, port).value(a.index).run();
}
Cell* forward_skip(Cell* port, const SkipArgs& a) {
  return ActorCall(kActionSkip, port).value(a.offset).run();
}

// length? gives the integer the actor answers; none for anything else.
int32_t forward_length_q(Cell* port, const NoneArgs&) {
  Cell* n = ActorCall(kActionLengthQ, port).run();
  return n->is(kTypeInteger) && integer_get(n) >= 0 ? integer_get(n) : -1;
}

template <ActionId Id>
Cell* forward_insert(Cell* port, const InsertArgs& a) {
  return ActorCall(Id, port).value(a.value).ref(a.part.arg).flag(a.only).ref(a.dup).run();
}

Cell* forward_change(Cell* port, const ChangeArgs& a) {
  return ActorCall(kActionChange, port).value(a.value).ref(a.part.arg).flag(a.only).ref(a.dup).run();
}

Cell* forward_find(Cell* port, const FindArgs& a) {
  return ActorCall(kActionFind, port)
      .value(a.value)
      .ref(a.part.arg)
      .flag(a.only)
      .flag(a.case_)
      .flag(a.same)
      .flag(a.any)
      .ref(a.with)
      .ref(a.skip.arg)
      .flag(a.last)
      .flag(a.reverse)
      .flag(a.tail)
      .flag(a.match)
      .run();
}

Cell* forward_select(Cell* port, const SelectArgs& a) {
  return ActorCall(kActionSelect, port)
      .value(a.value)
      .ref(a.part.arg)
      .flag(a.only)
      .flag(a.case_)
      .flag(a.same)
      .flag(a.any)
      .ref(a.with)
      .ref(a.skip.arg)
      .flag(a.last)
      .flag(a.reverse)
      .run();
}

Cell* forward_copy(Cell* port, const CopyArgs& a) {
  return ActorCall(kActionCopy, port).ref(a.part.arg).flag(a.deep).ref(a.types).run();
}

Cell* forward_move(Cell* port, const MoveArgs& a) {
  return ActorCall(kActionMove, port).value(a.target).ref(a.part.arg).run();
}

Cell* forward_poke(Cell* port, const PokeArgs& a) {
  return ActorCall(kActionPoke, port).value(a.index).value(a.value).run();
}

Cell* forward_put(Cell* port, const PutArgs& a) {
  return ActorCall(kActionPut, port).value(a.key).value(a.value).flag(a.case_).run();
}

Cell* forward_remove(Cell* port, const RemoveArgs& a) {
  return ActorCall(kActionRemove, port).ref(a.part.arg).ref(a.key).run();
}

Cell* forward_reverse(Cell* port, const ReverseArgs& a) {
  return ActorCall(kActionReverse, port).ref(a.part.arg).ref(a.skip.arg).run();
}

Cell* forward_sort(Cell* port, const SortArgs& a) {
  return ActorCall(kActionSort, port)
      .flag(a.case_)
      .ref(a.skip.arg)
      .ref(a.compare)
      .ref(a.part.arg)
      .flag(a.all)
      .flag(a.reverse)
      .flag(a.stable)
      .run();
}

Cell* forward_swap(Cell* port, const SwapArgs& a) {
  return ActorCall(kActionSwap, port).value(a.series2).run();
}

Cell* forward_take(Cell* port, const TakeArgs& a) {
  return ActorCall(kActionTake, port).ref(a.part.arg).flag(a.deep).flag(a.last).run();
}

Cell* forward_trim(Cell* port, const TrimArgs& a) {
  return ActorCall(kActionTrim, port)
      .flag(a.head)
      .flag(a.tail)
      .flag(a.auto_)
      .flag(a.lines)
      .flag(a.all)
      .ref(a.with)
      .run();
}

Cell* forward_modify(Cell* port, const ModifyArgs& a) {
  return ActorCall(kActionModify, port).value(a.field).value(a.value).flag(a.case_).run();
}

Cell* forward_open(Cell* port, const OpenArgs& a) {
  return ActorCall(kActionOpen, port).flag(a.new_).flag(a.read).flag(a.write).flag(a.seek).ref(a.allow).run();
}

Cell* forward_rename(Cell* port, const RenameArgs& a) {
  return ActorCall(kActionRename, port).value(a.to).run();
}

// MAY RUN KIV CODE. Calls open on [port] with only /seek as given.
void open_for(Cell* port, bool seek) {
  StackSave save;
  ActorCall(kActionOpen, port).flag(false).flag(false).flag(false).flag(seek).ref(nullptr).run();
}

// MAY RUN KIV CODE. Calls close on [port].
void close_port(Cell* port) {
  StackSave save;
  ActorCall(kActionClose, port).run();
}

// read: open, copy (with read's /part), close; the copy is the result.
Cell* port_read(Cell* port, const ReadArgs& a) {
  Cell* result = stack_push();
  open_for(port, a.seek != nullptr);
  {
    StackSave save;
    *result = *ActorCall(kActionCopy, port).ref(a.part).flag(false).ref(nullptr).run();
  }
  close_port(port);
  return result;
}

// write: open (with write's /seek), insert the data (with an integer /part),
// copy, close; the copy is the result.
Cell* port_write(Cell* port, const WriteArgs& a) {
  Cell* result = stack_push();
  open_for(port, a.seek != nullptr);
  {
    StackSave save;
    const Cell* part = a.part && a.part->is(kTypeInteger) ? a.part : nullptr;
    ActorCall(kActionInsert, port).value(a.data).ref(part).flag(false).ref(nullptr).run();
  }
  {
    StackSave save;
    *result = *ActorCall(kActionCopy, port).ref(nullptr).flag(false).ref(nullptr).run();
  }
  close_port(port);
  return result;
}

}  // namespace

Cell port_actor_handle(uint32_t number) { return handle_cell(kHandlePortActor, number); }

Cell* port_make(Cell*, const MakeArgs& args) {
  Cell* spec = args.spec;
  Cell* spec_object = stack_push_value(kNoneCell);
  if (spec->is(kTypeObject)) {
    *spec_object = *spec;
  } else if (spec->is(kTypeBlock)) {
    Cell* proto = push_system_value({"standard", "port-spec"});
    if (!proto->is(kTypeObject)) *proto = datatype_cell(kTypeObject);
    MakeArgs make;
    make.spec = spec;
    *spec_object = *object_make(proto, make);
  } else {
    raise_error(kErrAccessNoScheme, spec);
  }
  Cell* scheme = stack_push_value(kNoneCell);
  if (object_field_count(spec_object) > 0) *scheme = object_get_values(spec_object)[0];
  if (!scheme->is(kTypeWord)) raise_error(kErrAccessNoScheme, spec);

  // The scheme object: the value after the first entry of system/schemes
  // equal to the scheme word.
  Cell* schemes = push_system_value({"schemes"});
  Cell* scheme_object = stack_push_value(kNoneCell);
  if (schemes->is(kTypeBlock)) *scheme_object = block_select_word(schemes, scheme, false);
  if (!scheme_object->is(kTypeObject)) raise_error(kErrAccessUnknownScheme, spec);
  Cell* actor = stack_push_value(kNoneCell);
  if (object_field_count(scheme_object) >= 4) *actor = object_get_values(scheme_object)[3];
  if (!actor->is(kTypeObject) && !actor->is(kTypeHandle)) raise_error(kErrAccessInvalidActor, spec);

  Cell* port = push_new_port();
  set_port_field(port, "spec", spec_object);
  set_port_field(port, "scheme", scheme);
  set_port_field(port, "actor", actor);
  return port;
}

int32_t port_mold(Cell* port, const MoldArgs& args) { return object_mold_as(port, args, "make port! ["); }

int32_t port_form(Cell* port, const FormArgs& args) {
  MoldArgs mold;
  mold.part = args.part;
  mold.buffer = args.buffer;
  mold.limit = args.limit;
  return port_mold(port, mold);
}

void port_datatype_init() {
  ActionSlots row;
  row.make = port_make;
  row.reflect = kInherit;
  row.form = port_form;
  row.mold = port_mold;
  row.eval_path = kInherit;
  row.compare = kInherit;
  row.append = forward_insert<kActionAppend>;
  row.at = forward_at;
  row.back = forward_none<kActionBack>;
  row.change = forward_change;
  row.clear = forward_none<kActionClear>;
  row.copy = forward_copy;
  row.find = forward_find;
  row.head = forward_none<kActionHead>;
  row.head_q = forward_none<kActionHeadQ>;
  row.index_q = forward_none<kActionIndexQ>;
  row.insert = forward_insert<kActionInsert>;
  row.length_q = forward_length_q;
  row.move = forward_move;
  row.next = forward_none<kActionNext>;
  row.pick = forward_pick;
  row.poke = forward_poke;
  row.put = forward_put;
  row.remove = forward_remove;
  row.reverse = forward_reverse;
  row.select = forward_select;
  row.sort = forward_sort;
  row.skip = forward_skip;
  row.swap = forward_swap;
  row.tail = forward_none<kActionTail>;
  row.tail_q = forward_none<kActionTailQ>;
  row.take = forward_take;
  row.trim = forward_trim;
  row.create = forward_none<kActionCreate>;
  row.close = forward_none<kActionClose>;
  row.delete_ = forward_none<kActionDelete>;
  row.modify = forward_modify;
  row.open = forward_open;
  row.query = forward_none<kActionQuery>;
  row.read = port_read;
  row.rename = forward_rename;
  row.update = forward_none<kActionUpdate>;
  row.write = port_write;
  register_datatype({kTypePort, kTypeObject, "port!", kActionCount, row});
}

}  // namespace kiv
