// error!: an object (datatypes/object.h) whose context holds the ten error
// fields, made from the error catalogue by category and id.
//
// Value cell (error! 34): object!'s layout (context node, class id, events).
// The context's fields, in order:
//   0 code   integer!: category base + id index - 2
//   1 type   the category word, bound to the catalogue
//   2 id     the id word, bound to its category object
//   3-5 arg1 arg2 arg3
//   6 near   where the error happened in the code being evaluated
//   7 where  the word of the function that raised it
//   8 stack  integer!: the call-stack depth when raised; a block of the
//            calling functions' words once captured
//   9 files  a block of source files, when known
//
// The catalogue (the object system/catalog/errors) is built at start-up from
// runtime/errors.def: ten category objects, each with `code`, `type` (the
// title) and one field per id holding its message template: a string!, a
// block of strings and argument words, or the word arg1.
#pragma once

#include <cstdint>
#include <string>

#include "datatypes/actions.h"
#include "runtime/cell.h"
#include "runtime/errors.h"

namespace kiv {

enum ErrorField : int32_t {
  kErrorCode = 0,
  kErrorType,
  kErrorId,
  kErrorArg1,
  kErrorArg2,
  kErrorArg3,
  kErrorNear,
  kErrorWhere,
  kErrorStack,
  kErrorFiles,
  kErrorFieldCount
};

// MAY ALLOCATE. Builds the catalogue and the error prototype (once).
void error_catalog_init();
// The catalogue object (system/catalog/errors), none! before error_catalog_init.
Cell error_catalog();
// MAY ALLOCATE. error!'s answer to the make_raised_error hook
// (runtime/hooks.h): the error! value of [raised], with its depth, near and
// where; none! before error_catalog_init.
Cell error_make_raised(const RaisedError& raised);

// MAY ALLOCATE. A new error! of catalogue entry [id] with up to three
// arguments (null: none). `stack` holds the current call depth.
Cell error_create(ErrorId id, const Cell* arg1 = nullptr, const Cell* arg2 = nullptr,
                  const Cell* arg3 = nullptr);
// True when make error! takes the integer [code]: a message of the catalogue
// or one of the runtime's own entries.
bool error_code_known_q(int32_t code);
// A copy of field [field] of the error [error].
Cell error_field(const Cell* error, ErrorField field);
// Stores [value] in field [field] of [error] (no change event).
void error_set_field(const Cell* error, ErrorField field, const Cell* value);
// Copies [value] into `where` when `where` is still none.
void error_set_where(const Cell* error, const Cell* value);
// The symbols of the `type` and `id` words (0 when the field is not a word).
int32_t error_type_symbol(const Cell* error);
int32_t error_id_symbol(const Cell* error);
// MAY ALLOCATE. When `stack` holds a depth, replaces it with a block of the
// words of the calling frames up to that depth, and puts a copy of
// system/state/source-files in `files` when that block is not empty.
void error_capture_stack(const Cell* error);

// MAY ALLOCATE. The stack-trace level, system/state/stack-trace (0 when that
// is not an integer): a positive level adds the Stack line to the report
// and is the depth of the capture.
int32_t error_stack_trace_level();

// MAY ALLOCATE. The report text of an error ("*** Script Error: ..."), cut to
// [limit] code points.
std::string error_report(const Cell* error, int32_t limit = kNoLimit);

// The first line of [error]'s report as far as it can be had without running
// anything or reading the catalogue: "*** " and the title of its category in
// the runtime's own catalogue (else its type word), ": " and its id word.
// Allocates nothing: for when the report itself failed.
std::string error_plain_report(const Cell* error);

// MAY ALLOCATE. Writes the report of [id] with its arguments to standard output
// and returns without throwing.
void print_error(ErrorId id, const Cell* arg1 = nullptr, const Cell* arg2 = nullptr,
                 const Cell* arg3 = nullptr);
// script bad-make-arg with the datatype of [type] and the spec.
[[noreturn]] void raise_bad_make_arg(TypeId type, const Cell* spec);

// ---------------------------------------------------------------- argument checks

// MAY ALLOCATE. Script expect-arg: [function] (a word naming the callable;
// null: the running function, where_word_cell) does not allow [type] for its
// [argument] (a word) argument. Every argument error of the system is built
// here: the natives', the actions', the routines' and the argument checks'.
[[noreturn]] void raise_expect_arg(const Cell* function, TypeId type, const Cell* argument);

// [value] when its type is in the typeset! [types]; else script expect-arg
// with [function] (the function's name), the value's datatype and [argument].
const Cell* check_arg_type(const Cell* function, const Cell* argument, const Cell* types, const Cell* value);
// [value] unless it is unset!: script expect-arg with [function], unset! and [argument].
const Cell* check_arg_not_unset(const Cell* function, const Cell* argument, const Cell* value);

// ---------------------------------------------------------------- handlers

Cell* error_make(Cell* proto, const MakeArgs& args);
int32_t error_form(Cell* value, const FormArgs& args);
int32_t error_mold(Cell* value, const MoldArgs& args);
Cell* error_eval_path(Cell* parent, const EvalPathArgs& args);
int error_compare(Cell* value, const CompareArgs& args);

}  // namespace kiv
