// The error tables built from errors.def, and the raise path.
#include "runtime/errors.h"

#include "runtime/collector.h"
#include "runtime/exits.h"
#include "runtime/gc_root.h"
#include "runtime/hooks.h"
#include "runtime/stack.h"

namespace kiv {

namespace {

constexpr CategoryInfo kCategories[] = {
#define CATEGORY(ident, word, code, title) {word, code, title},
#define ERR(cat, ident, word, message)
#include "runtime/errors.def"
#undef CATEGORY
#undef ERR
};

// Field positions: each id's position within its category, counted from 2.
struct FieldCounter {
  uint8_t next[kErrCategoryCount] = {};
  constexpr uint8_t take(ErrorCategory c) { return uint8_t(2 + next[c]++); }
};

constexpr auto build_errors() {
  struct Table {
    ErrorInfo e[kErrorIdCount];
  } t{};
  FieldCounter f;
  int i = 0;
#define CATEGORY(ident, word, code, title)
#define ERR(cat, ident, word, message) \
  t.e[i++] = ErrorInfo{kErrCat##cat, f.take(kErrCat##cat), word, message};
#include "runtime/errors.def"
#undef CATEGORY
#undef ERR
  return t;
}

constexpr auto kErrors = build_errors();

RaisedError g_raised{};

// Where the throw in flight started (raised_error_note_throw_start).
struct ThrowStart {
  uint32_t where = 0;
  Cell near;
};
ThrowStart g_throw_start{};

}  // namespace

const ErrorInfo& error_info(ErrorId id) { return kErrors.e[id]; }
const CategoryInfo& category_info(ErrorCategory c) { return kCategories[c]; }

int error_code(ErrorId id) {
  const ErrorInfo& e = kErrors.e[id];
  return kCategories[e.category].code + e.field - 2;
}

const RaisedError& last_raised_error() { return g_raised; }

void raised_error_restore(const RaisedError& saved) { g_raised = saved; }

namespace {
void mark_raised_error() {
  gc_mark_cells(g_raised.args, g_raised.args + 3);
  gc_mark_cells(&g_raised.error, &g_raised.error + 1);
  gc_mark_cells(&g_raised.near, &g_raised.near + 1);
  gc_mark_cells(&g_throw_start.near, &g_throw_start.near + 1);
}
}  // namespace

void raised_error_init() {
  g_raised.error = make_cell(kTypeNone);
  g_raised.near = make_cell(kTypeNone);
  g_throw_start.near = make_cell(kTypeNone);
  add_mark_callback(mark_raised_error);
}

Cell raised_error_value() {
  if (g_raised.error.is(kTypeNone) && g_hooks.make_raised_error)
    g_raised.error = g_hooks.make_raised_error(g_raised);
  return g_raised.error;
}

void set_raised_error(const Cell* error) { g_raised.error = *error; }

void raised_error_note_throw_start(uint32_t where) {
  g_throw_start.where = where;
  g_throw_start.near = g_hooks.current_code ? g_hooks.current_code() : make_cell(kTypeNone);
}

void raise_error(ErrorId id, const Cell* arg1, const Cell* arg2, const Cell* arg3) {
  // The arguments are copied before anything can allocate.
  g_raised.id = id;
  g_raised.argc = arg3 ? 3 : arg2 ? 2 : arg1 ? 1 : 0;
  const Cell* args[3] = {arg1, arg2, arg3};
  for (int i = 0; i < 3; i++) g_raised.args[i] = args[i] ? *args[i] : make_cell(kTypeNone);
  const bool stacks = g_stack.frames_base != nullptr;  // not yet during early start-up
  // A throw that found no catch is reported where it started.
  const bool from_throw = id == kErrThrowThrow && stacks && g_stack.throw_origin;
  g_raised.frame_depth = stacks ? uint32_t(g_stack.frames_top - g_stack.frames_base) : 0;
  g_raised.where = stacks ? stack_where_symbol() : 0;
  g_raised.near = g_hooks.current_code ? g_hooks.current_code() : make_cell(kTypeNone);
  if (from_throw) {
    g_raised.where = g_throw_start.where;
    g_raised.near = g_throw_start.near;
  }
  g_raised.error = make_cell(kTypeNone);
  // An error settles nothing: every catch point it passes restores its own.
  stack_exit_taken();
  // Making the error! value allocates and pushes; it waits for the catch point
  // (raised_error_value) when collection is forbidden here, when the data
  // stack is what overflowed, or when this error was raised while making
  // another one (which it then replaces).
  static bool making = false;
  if (g_hooks.make_raised_error && g_no_gc_depth == 0 && id != kErrInternalStackOverflow && !making) {
    making = true;
    struct Done {
      ~Done() { making = false; }
    } done;
    g_raised.error = g_hooks.make_raised_error(g_raised);
  }
  // The nearest try frame's catch point restores its own saved stack
  // positions; an error nothing catches reaches the outermost catch point.
  throw_code(kThrowError);
}

}  // namespace kiv
