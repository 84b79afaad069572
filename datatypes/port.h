// port!: the I/O abstraction. A port is an object (datatypes/object.h) whose
// behaviour comes from a scheme: the datatype does no I/O itself, it forwards
// each series and I/O action, with its arguments, to the function of the same
// name in the port's actor.
//
// Fields, in the order of system/standard/port: spec (the spec object, whose
// first field holds the scheme's name as a word!), scheme (that word), actor
// (an object! of functions, or a handle! naming a native actor), awake,
// state, data, extra (the scheme's own).
//
// Schemes: system/schemes is a block of scheme-name words, each followed by
// its scheme object; the fourth field of a scheme object is its actor.
//
// Forwarding: the actor's function receives the port, the action's plain
// arguments, then for each refinement of the action in spec order a logic!
// (used or not) followed, for a refinement with an argument, by that
// argument or none. Its frame is named by the action's word, so an error in
// it lists that word. A function that takes fewer values gets the leading
// ones; one that takes more gets none for the rest. A native actor (a C++
// PortActorFn added by registry_add_port_actor, datatypes/registry.h)
// receives the same values.
//
// read opens the port, copies its content and closes it; write opens it,
// inserts the data, copies and closes it (the results of open, insert and
// close are dropped).
#pragma once

#include <cstdint>

#include "datatypes/action_slots.h"
#include "runtime/cell.h"

namespace kiv {

// The handle! a scheme's actor field holds to reach the native port actor
// numbered [number] (registry_add_port_actor).
Cell port_actor_handle(uint32_t number);

// MAY ALLOCATE, MAY RUN KIV CODE. make port! [spec]: an object! spec is the
// spec object itself, a block! makes one from system/standard/port-spec. The
// spec's first field must hold a word! (access no-scheme), which must name
// an object in system/schemes (access unknown-scheme) whose fourth field
// holds an object! or handle! (access invalid-actor); each error carries the
// spec as given. Any other spec raises access no-scheme. Pushes the port.
Cell* port_make(Cell* proto, const MakeArgs& args);

// MAY ALLOCATE. mold: "make port! [", the fields as object! molds them, "]".
// form is mold without refinements.
int32_t port_mold(Cell* port, const MoldArgs& args);
int32_t port_form(Cell* port, const FormArgs& args);

}  // namespace kiv
