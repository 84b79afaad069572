// The core's hooks: the one way a lower layer calls up into a higher one.
//
// Each is a plain function pointer in one struct, g_hooks, so a call through a
// hook costs what a call through a global pointer does. Start-up fills the
// whole struct in one place (boot/init.cpp) and installs it with hooks_install
// before any other step; nothing else writes it, apart from tests that swap a
// hook for the length of a case and put it back. Start-up answers every hook
// but before_exit. Nothing reaches a hook before the start-up step its answer
// needs: no Kiv code runs, no text loads and no values compare before the
// datatypes, the lexer and the interpreter are up; the hooks any raise
// reaches answer from the start (current_code none! outside any code,
// make_raised_error none! until the error catalogue exists). A caller that
// finds a hook null (a test took it away) skips it or raises internal
// not-done, as its comment says.
//
// The other ways up are registrations, not hooks: a datatype's row in the
// registry (its action handlers and its mark, hash and verify hooks), the
// collector's mark and sweep callbacks, the resource classes' release
// functions, the print hooks of the services, and the fault handler start-up
// gives install_fatal_handlers.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace kiv {

enum CompareOp : int32_t;  // runtime/compare.h
enum OwnerWord : uint8_t;  // runtime/ownership.h
struct RaisedError;        // runtime/errors.h

// ---------------------------------------------------------------- called by runtime/

// -1, 0, 1 or kNotComparable for two values under [op]: the datatypes'
// comparison, which the runtime's searches and hash tables use. [value] and
// [other] are stable cells (data stack, Root). MAY RUN KIV CODE.
using CompareValuesFn = int (*)(Cell* value, Cell* other, CompareOp op);

// Makes the error! value of a raised error (runtime/errors.h); none! until
// the error catalogue exists. raise_error calls it before throwing unless
// collection is forbidden just then; the error is otherwise made when first
// asked for. MAY ALLOCATE.
using MakeRaisedErrorFn = Cell (*)(const RaisedError& raised);

// The code being evaluated now as a block! value at the current expression,
// or none!: what an error raised or made now records as its `near`. Raises
// nothing and allocates nothing.
using CurrentCodeFn = Cell (*)();

// Tells the owner of an owned series (runtime/ownership.h) that [word]
// happens to [count] units from unit [index]; true when a notification was
// sent. MAY RUN KIV CODE.
using OwnerCheckFn = bool (*)(const Cell* series, OwnerWord word, int32_t index, int32_t count,
                              const Cell* new_value);

// The hash of a stored entry of a kHashSymbols table (runtime/hashtable.h),
// for rehashing: a symbol record by its name, a word by its canonical symbol.
using EntryHashFn = uint32_t (*)(const Cell* entry);

// A map! may keep a key in its pair block in a form of its own, an unset!
// cell (no key is ever unset!). MapKeyHashFn: such a key's hash, the
// hash_value of the key it stands for. MapKeyMatchFn: true when such a key
// [packed] matches [key] (of either form) under the equality [op], the type
// check included. Neither allocates or runs Kiv code.
using MapKeyHashFn = uint32_t (*)(const Cell* packed);
using MapKeyMatchFn = bool (*)(const Cell* packed, const Cell* key, CompareOp op);

// How call frames read and write the values reference of a function's
// context (runtime/stack.h): context! answers them.
struct FrameContextOps {
  uint32_t (*values)(Node context);                   // the current values reference
  void (*set_values)(Node context, uint32_t values);  // replaces it
  bool (*heap_values_q)(Node context);                // values in a block (a node), not on this stack
};

// ---------------------------------------------------------------- called by datatypes/

// Calls the function-like [fn] with the [argc] values [args] as its leading
// arguments (taken as they are, every refinement absent) and writes its
// result into [*result] (a stable cell). The caller pushes [args] on the data
// stack (runtime/gc_root.h rule 4); [fn] and [args] are copied before
// anything allocates. A break, continue, return or exit that leaves the call
// travels as a KivThrow with its code. MAY RUN KIV CODE.
using CallValueFn = void (*)(const Cell* fn, const Cell* args, int argc, Cell* result);

// Evaluates the block [block] (a stable cell, already bound), expression by
// expression; the value it leaves is dropped. MAY RUN KIV CODE.
using ObjectEvalBlockFn = void (*)(Cell* block);

// Runs an object's change handler (the evaluator's invoke-function). Called
// with a function call frame open for [handler] (a function!, stable), named
// by [name] (the word `on-change*` or `on-deep-change*`), its arguments pushed
// from the arguments base and its locals after them; invokes it for the
// object whose context is [object_context] with [flags] (datatypes/object.h),
// leaving its result as the last pushed value. The caller closes the frame.
// MAY RUN KIV CODE.
using ObjectInvokeHandlerFn = void (*)(Cell* handler, Node object_context, const Cell* name, uint32_t flags);

// Called by context_set_in for a field of an object that has an event record:
// [object], [word], [old_value] and [new_value] are data-stack cells. MAY RUN
// KIV CODE.
using ObjectOnChangeFn = void (*)(Cell* object, Cell* word, Cell* old_value, Cell* new_value);

// Reads values out of the text of the string! [str] into *[out] (a stable
// cell): the lexer, for the conversions of the datatypes (datatypes/text_load.h).
// MAY ALLOCATE.
using TextLoadFn = void (*)(const Cell* str, Cell* out);

// ---------------------------------------------------------------- called by evaluator/

// Receives what print and prin formed, a string! [text] (a stable cell), and
// whether a line end follows. MAY ALLOCATE, MAY RUN KIV CODE.
using PrintOutputFn = void (*)(const Cell* text, bool newline);

struct CoreHooks {
  // platform/: runs first on every exit, signals included; must be
  // async-signal-safe (platform/process.h).
  void (*before_exit)();

  // runtime/
  void (*release_runtime_memory)();  // on a fatal exit not from a signal, after the report
  CompareValuesFn compare_values;
  MakeRaisedErrorFn make_raised_error;
  CurrentCodeFn current_code;
  OwnerCheckFn owner_check;
  EntryHashFn symbol_entry_hash;
  MapKeyHashFn map_key_hash;
  MapKeyMatchFn map_key_match;
  FrameContextOps context_ops;
  // The secure random source gave no bytes: raises access cannot-open with
  // %/dev/urandom; never returns. Null: the draw raises internal not-done.
  void (*no_secure_random)();

  // datatypes/
  CallValueFn call_value;
  ObjectEvalBlockFn object_eval_block;
  ObjectInvokeHandlerFn object_invoke_handler;
  ObjectOnChangeFn object_on_change;
  TextLoadFn text_load_block;      // every value of the text, as a new block!
  TextLoadFn text_load_one_value;  // the one value the text holds (none!, unset!)
  // The image of the object [face] (to image!, make image!): 1 with the
  // image written into [*out] (a stable cell), 0 for a face the back end
  // renders no image of (the conversion gives none), -1 for an object that
  // is no face. Null: objects do not convert. MAY ALLOCATE.
  int (*face_to_image)(const Cell* face, Cell* out);

  // evaluator/
  PrintOutputFn print_output;  // null: printed text goes nowhere
  // The wait native's wait of [ms] while a view is shown: the view's frames
  // run meanwhile. False when no view is shown (the native sleeps itself).
  // MAY RUN KIV CODE.
  bool (*view_wait)(int64_t ms);
};

extern CoreHooks g_hooks;

// Makes [hooks] the core's hooks, the platform's exit hook included.
void hooks_install(const CoreHooks& hooks);

}  // namespace kiv
