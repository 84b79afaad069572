// Raising language errors.
//
// Every error the runtime raises goes through raise_error with an id from
// errors.def. The id fixes the category and the field position in the
// catalogue; up to three argument cells travel with it.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace kiv {

enum ErrorCategory : uint8_t {
#define CATEGORY(ident, word, code, title) kErrCat##ident,
#define ERR(cat, ident, word, message)
#include "runtime/errors.def"
#undef CATEGORY
#undef ERR
  kErrCategoryCount
};

enum ErrorId : uint16_t {
#define CATEGORY(ident, word, code, title)
#define ERR(cat, ident, word, message) kErr##cat##ident,
#include "runtime/errors.def"
#undef CATEGORY
#undef ERR
  kErrorIdCount
};

struct ErrorInfo {
  ErrorCategory category;
  uint8_t field;        // field position in the category object (ids start at 2)
  const char* word;     // id word, e.g. "no-value"
  const char* message;  // message as Kiv source: strings and :argN references
};

struct CategoryInfo {
  const char* word;   // "script"
  int code;           // base number: 0, 100, ... 900
  const char* title;  // "Script Error"
};

const ErrorInfo& error_info(ErrorId id);
const CategoryInfo& category_info(ErrorCategory c);
// category x 100 + field - 2: the number an error! value reports as its code.
int error_code(ErrorId id);

// Raises [id] with up to three arguments (null for absent ones: they become none):
// records them and throws kThrowError to the nearest catch point. The arguments
// are copied before anything can allocate. Never returns.
[[noreturn]] void raise_error(ErrorId id, const Cell* arg1 = nullptr, const Cell* arg2 = nullptr,
                              const Cell* arg3 = nullptr);

// The most recently raised error: what raise_error was given and where the
// call stack stood, and the error! value made of it (none until made).
struct RaisedError {
  ErrorId id;
  int argc;
  Cell args[3];
  uint32_t frame_depth;  // call frames in use when it was raised
  uint32_t where;        // symbol of the innermost named call frame, or 0
  Cell near;             // the code being evaluated at the raise (the current_code hook), or none!
  Cell error;            // the error! value, or none! until it is made
};
const RaisedError& last_raised_error();
// Puts back [saved], a raise in flight that code run meanwhile (a tracer
// told of it) may have replaced with raises of its own.
void raised_error_restore(const RaisedError& saved);
// Keeps the cells of the last raised error reachable. Called once at start-up.
void raised_error_init();

// The error! value is made by the make_raised_error hook (error!'s,
// runtime/hooks.h). raise_error calls it before throwing unless collection is
// forbidden just then (NoGcScope); the error is then made when first asked
// for (raised_error_value). Its `near` is what the current_code hook answers.
// The error! value of the last raised error, made now when it was not made
// at the raise; none! before error! is registered. MAY ALLOCATE.
Cell raised_error_value();
// Makes [error] (an error! value, e.g. one a script throws again) the last
// raised error, as raise_error would have made it.
void set_raised_error(const Cell* error);
// A throw starts its search: notes the `where` symbol [where] and the
// current code, which the error "no catch for throw" reports when the
// search ends without a catch, however far the throw travelled (catches
// with other names it passed, library code). Valid while the throw's origin
// frame (g_stack.throw_origin) is set.
void raised_error_note_throw_start(uint32_t where);

}  // namespace kiv
