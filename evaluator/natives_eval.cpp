// Evaluation, context and exit natives: do, reduce, compose, get, set, unset,
// value?, bind, in, context?, construct, apply, try, catch, throw, break,
// continue, exit, return.
//
// Catch points. try and catch take errors and throws as a KivThrow, each
// under a CatchPoint (evaluator/interpreter.h), which puts tracing and the
// current code back however the block ends. A throw has already settled the
// stacks on its target catch frame when it arrives (stack_throw_value), and
// an exit passed on must find them as its own search left them: the stacks
// go back (CatchPoint::take) only on the paths where the native takes the
// exit. break, continue, return and exit reach them as statuses and pass on.
//
// Collector safety: every value a native builds or holds across evaluation
// lives on the data stack; series are re-read by (cell, index) after every
// evaluation, since the code run may change them.
#include "datatypes/block.h"
#include "datatypes/block_modify.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/error.h"
#include "datatypes/function.h"
#include "datatypes/logic.h"
#include "datatypes/map.h"
#include "datatypes/object.h"
#include "datatypes/series.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "evaluator/lexer.h"
#include "evaluator/library_calls.h"
#include "evaluator/natives.h"
#include "platform/thread.h"
#include "runtime/errors.h"
#include "runtime/gc_root.h"
#include "runtime/hooks.h"
#include "runtime/typesets.h"

namespace kiv {

namespace {

bool function_like_q(TypeId t) {
  return t == kTypeNative || t == kTypeAction || t == kTypeOp || t == kTypeFunction || t == kTypeRoutine;
}

// Inserts [value] at [out]'s head as one value, moving the head past it, with
// the owner told as insert tells it. [out] stable.
void insert_one(Cell* out, const Cell* value) {
  InsertArgs ia;
  ia.value = const_cast<Cell*>(value);
  ia.only = true;
  block_insert(out, ia);
}

// Appends [value] at [out]'s tail as one value; [out] keeps its head.
void append_one(Cell* out, const Cell* value) {
  InsertArgs ia;
  ia.value = const_cast<Cell*>(value);
  ia.only = true;
  ia.append = true;
  block_insert(out, ia);
}

// Inserts the values of the block [values] at [out]'s head, moving it past them.
void insert_all(Cell* out, const Cell* values) {
  InsertArgs ia;
  ia.value = const_cast<Cell*>(values);
  block_insert(out, ia);
}

// The block at [value]'s position clamped into 0..tail, on the stack.
Cell* push_clamped_block(const Cell* value) {
  Cell* b = stack_push_cell(value);
  b->set_head(series_clamp_head(b, series_total_cells(b)));
  return b;
}

// ---------------------------------------------------------------- do

// Owns the tracer for one do/trace: switches tracing off again however the
// evaluation ends.
class TraceOwner {
 public:
  explicit TraceOwner(const Cell* tracer) {
    trace_set(tracer);
    active_ = true;
  }
  ~TraceOwner() { stop(); }
  void stop() {
    if (!active_) return;
    active_ = false;
    Cell none = kNoneCell;
    trace_set(&none);
  }
  TraceOwner(const TraceOwner&) = delete;
  TraceOwner& operator=(const TraceOwner&) = delete;

 private:
  bool active_ = false;
};

// Raises the error! [error] (a stable cell) again, as if raised here: like
// an error the runtime raises, it gets the position it lacks: `where` the
// innermost named frame, `near` the current code, and `stack` the
// call depth for try/keep to list (fields already set are kept, so an
// error caught and raised again still tells where it first was).
[[noreturn]] void raise_error_value(const Cell* error) {
  Cell where = where_word_cell();
  error_set_where(error, &where);
  if (error_field(error, kErrorNear).is(kTypeNone) && g_hooks.current_code) {
    Cell near = g_hooks.current_code();
    error_set_field(error, kErrorNear, &near);
  }
  if (!error_field(error, kErrorStack).is(kTypeBlock)) {
    Cell depth = integer_cell(int32_t(g_stack.frames_top - g_stack.frames_base));
    error_set_field(error, kErrorStack, &depth);
  }
  set_raised_error(error);
  stack_exit_taken();
  throw_code(kThrowError);
}

// do of a block (or of the block loaded from a string) at [block], a stack cell.
Status do_block_value(Cell* block, const native_args::DoArgs& a) {
  if (a.expand) {
    // The library's expand-directives rewrites the block in place first.
    Cell* result = stack_push();
    call_library(LibraryCall::kExpandDirectives, block, 1, result);
  }
  if (!a.next) return eval_block(block, true);
  int32_t next = 0;
  Status s = eval_next_at(block, &next);
  if (s != kStatusOk) return s;
  block->set_head(next);
  set_word_value(a.next, block);
  g_stack.top = g_stack.arguments + 1;
  return kStatusOk;
}

Status do_value(const native_args::DoArgs& a) {
  Cell* value = a.value;
  switch (value->type()) {
    case kTypeBlock:
    case kTypeParen:
    case kTypeHash: return do_block_value(push_clamped_block(value), a);
    case kTypeString: {
      Cell* block = stack_push();
      transcode(block, value, TranscodeArgs{});
      return do_block_value(block, a);
    }
    case kTypePath: return eval_path(value, nullptr, nullptr, nullptr, false);
    case kTypeFile:
    case kTypeUrl: {
      // A script: the library's do-file runs it (file, trace callback, args).
      Cell* call = stack_push_value(*value);
      stack_push_value(a.trace ? *a.trace : kNoneCell);
      stack_push_value(a.args ? *a.args : kNoneCell);
      call_library(LibraryCall::kDoFile, call, 3, call);
      return native_result(*call);
    }
    case kTypeError: raise_error_value(value);
    default: {
      Status s = eval_value(value);
      if (s != kStatusOk) return s;
      return native_result(g_stack.top[-1]);
    }
  }
}

// do/trace's evaluation: a traced body. return and exit inside it go to the
// function around, as without /trace; with none to take them (or a try/all in
// the way) this call's frame is their target and the traced evaluation ends
// with their value.
Status do_traced_body(const native_args::DoArgs& a) {
  if (stack_return_target_q()) return do_value(a);
  CallFrame* own = stack_top_frame();
  stack_set_body_flag(true);
  Status s = catch_exit_status(kExitTargetFunction, [&] { return do_value(a); });
  stack_clear_body_flag(own);
  if (!return_status_q(s)) return s;
  // return settled on this frame: its value is in the result slot.
  g_stack.top = g_stack.arguments + 1;
  return kStatusOk;
}

// The tracer installed already traces this code too, though it runs from
// an untraced body (a library function's).
[[gnu::noinline]] Status do_under_installed_tracer(const native_args::DoArgs& a) {
  struct TracingOn {
    bool saved = g_interp.tracing;
    TracingOn() { g_interp.tracing = true; }
    ~TracingOn() { g_interp.tracing = saved; }
  } on;
  return do_traced_body(a);
}

}  // namespace

// do: a block's (or a string's) code, a path, an error raised again, or one
// value evaluated. break, continue, return and exit pass on to their targets.
KIV_NATIVE(Do) {
  if (a.trace && trace_installed_q()) return do_under_installed_tracer(a);
  if (a.trace) {
    TraceOwner owner(a.trace);
    trace_event(kTraceInit, nullptr, -1, nullptr, nullptr);
    Status s = do_traced_body(a);
    if (s != kStatusOk) {
      // The exit's value sits at the stack top on its target: held while the
      // tracer runs, then put back as the exit left it.
      Cell* held = stack_push_value(*g_stack.top);
      trace_event(kTraceEnd, nullptr, -1, nullptr, nullptr);
      owner.stop();
      g_stack.top = held;
      return s;
    }
    Cell* held = stack_push_value(*stack_arg(0));
    trace_event(kTraceEnd, nullptr, -1, held, nullptr);
    owner.stop();
    g_stack.top = g_stack.arguments + 1;
    return kStatusOk;
  }
  return do_value(a);
}

// ---------------------------------------------------------------- reduce, compose

// reduce: a block's expressions, each value (new-line marker cleared) into a
// new block or inserted at /into's position; a function value comes back
// uncalled; anything else is evaluated as one expression.
KIV_NATIVE(Reduce) {
  TypeId t = a.value->type();
  if (function_like_q(t)) return kStatusOk;
  if (t != kTypeBlock) {
    Status s = eval_value(a.value);
    if (s != kStatusOk) return s;
    if (!a.into) return native_result(g_stack.top[-1]);
    insert_one(a.into, g_stack.top - 1);
    return native_result(*a.into);
  }
  Cell* source = push_clamped_block(a.value);
  // Inserting into the block being reduced would move its unread values on
  // ahead of the reading: such a target gets the values once all are made.
  const bool direct = a.into && a.into->node() != source->node();
  Cell* out = direct ? a.into : block_push_only(series_total_cells(source) - source->head());
  Cell* base = g_stack.top;
  int32_t index = source->head();
  while (index < series_total_cells(source)) {
    Status s = eval_next(source, &index, true);
    if (s != kStatusOk) return s;
    Cell* v = g_stack.top - 1;
    v->clear_new_line();
    if (direct)
      insert_one(out, v);
    else
      append_one(out, v);
    g_stack.top = base;
  }
  if (a.into && !direct) insert_all(a.into, out);
  return native_result(a.into ? *a.into : *out);
}

namespace {

struct ComposeMode {
  bool deep;
  bool only;
};

// Puts [value] into [out]: appended when [append], else inserted at its head.
void compose_put(Cell* out, const Cell* value, bool append) {
  if (append)
    append_one(out, value);
  else
    insert_one(out, value);
}

// The blocks a /deep descent is inside of, innermost first: a block met again
// on its own path is a cycle. The chain belongs to one compose call, so a
// paren that runs compose again (even on the same block) starts a chain of
// its own.
struct ComposeDescent {
  Node node;
  const ComposeDescent* outer;
};

// Composes the block [source] (a stack cell) into [out] (a stack cell);
// [outer] is the descent it was reached by (null for the block composed).
Status compose_into(Cell* source, Cell* out, ComposeMode mode, bool append, const ComposeDescent* outer) {
  for (const ComposeDescent* d = outer; d; d = d->outer)
    if (d->node == source->node()) raise_error(kErrInternalNoCycle);
  if (native_stack_low(kNativeStackMargin)) raise_error(kErrInternalStackOverflow);
  const ComposeDescent here{source->node(), outer};
  Cell* base = g_stack.top;
  for (int32_t i = source->head(); i < series_total_cells(source); i++) {
    g_stack.top = base;
    Cell* item = stack_push_value(series_cells(source->node())[i]);
    if (item->is(kTypeParen)) {
      if (series_at_tail_q(item)) continue;
      Status s = eval_block(item, false);
      if (s != kStatusOk) return s;
      Cell* v = g_stack.top - 1;
      if (v->is(kTypeUnset)) continue;
      if (v->is(kTypeBlock) && !mode.only) {
        for (int32_t j = series_clamp_head(v, series_total_cells(v)); j < series_total_cells(v); j++) {
          Cell* c = stack_push_value(series_cells(v->node())[j]);
          compose_put(out, c, append);
          g_stack.top--;
        }
        continue;
      }
      compose_put(out, v, append);
    } else if (item->is(kTypeBlock) && mode.deep) {
      Cell* copy =
          block_push_only(series_total_cells(item) - series_clamp_head(item, series_total_cells(item)));
      item->set_head(series_clamp_head(item, series_total_cells(item)));
      Status s = compose_into(item, copy, mode, true, &here);
      if (s != kStatusOk) return s;
      copy->header |= item->header & kFlagNewLine;
      compose_put(out, copy, append);
    } else {
      compose_put(out, item, append);
    }
  }
  g_stack.top = base;
  return kStatusOk;
}

}  // namespace

// compose: parens evaluated (a block result spliced unless /only), nested
// blocks composed with /deep, everything else copied.
KIV_NATIVE(Compose) {
  if (!a.value->is(kTypeBlock)) {
    Cell expected = datatype_cell(kTypeBlock);
    Cell got = datatype_cell(a.value->type());
    raise_error(kErrScriptExpectVal, &expected, &got);
  }
  Cell* source = push_clamped_block(a.value);
  ComposeMode mode{a.deep, a.only};
  if (a.into && a.into->node() != source->node()) {
    Status s = compose_into(source, a.into, mode, false, nullptr);
    if (s != kStatusOk) return s;
    return native_result(*a.into);
  }
  Cell* out = block_push_only(series_total_cells(source) - source->head());
  Status s = compose_into(source, out, mode, true, nullptr);
  if (s != kStatusOk) return s;
  // Code the library composes from its own is the library's (the block
  // itself: what the parens put in it stays whose it was).
  if (block_library_code_q(source->node())) series_set_flags(out->node(), kSeriesLibraryCode);
  if (!a.into) return native_result(*out);
  // Composed into itself: the values go in once all are made (see reduce).
  insert_all(a.into, out);
  return native_result(*a.into);
}

// ---------------------------------------------------------------- words and contexts

namespace {

// The path [path] retyped [type], evaluated into the result slot (set mode
// stores [value]); [case_sensitive] from /case.
Status path_as(const Cell* path, TypeId type, const Cell* value, bool case_sensitive) {
  Cell* p = stack_push_cell(path);
  p->set_type(type);
  return eval_path(p, nullptr, nullptr, value, false, case_sensitive);
}

bool block_like_q(TypeId t) { return is_any_block(t); }

bool settable_word_q(TypeId t) {
  return t == kTypeWord || t == kTypeSetWord || t == kTypeGetWord || t == kTypeLitWord;
}

// Value [i] of the block-like [values] from its position; none past the tail.
Cell value_at(const Cell* values, int32_t i) {
  int32_t total = series_total_cells(values);
  int32_t at = series_clamp_head(values, total) + i;
  return at < total ? series_cells(values->node())[at] : kNoneCell;
}

// MAY ALLOCATE. The pairs of the map! [map] as a new block on the stack:
// key, value, ..., a word key as word! (as foreach gives it).
Cell* push_map_spread(const Cell* map) {
  Cell* body = map_body(map);
  int32_t total = series_total_cells(body);
  Cell* cells = series_cells(body->node());
  for (int32_t i = 0; i < total; i += 2) {
    if (cells[i].is(kTypeSetWord)) cells[i].set_type(kTypeWord);
    cells[i].clear_new_line();
  }
  return body;
}

// Sets the words of the block [words] from [values] (see set): a block-like
// [values] gives one value to each word, a map! its keys and values in
// turn; anything else (or with [only]) is given whole to every word.
void native_set_words(Cell* words, Cell* values, bool any, bool only, bool some) {
  if (values->is(kTypeMap) && !only) values = push_map_spread(values);
  const bool spread = block_like_q(values->type()) && !only;
  int32_t count = series_total_cells(words) - series_clamp_head(words, series_total_cells(words));
  if (spread) {
    for (int32_t i = 0; i < count; i++) {
      Cell w = value_at(words, i);
      if (!settable_word_q(w.type())) raise_error(kErrScriptInvalidArg, &w);
      Cell v = value_at(values, i);
      if (!any && v.is(kTypeUnset)) raise_error(kErrScriptNeedValue, &w);
    }
  }
  Cell* base = g_stack.top;
  for (int32_t i = 0; i < count; i++) {
    g_stack.top = base;
    // Both blocks are read again for each word: a change handler may alter them.
    Cell* w = stack_push_value(value_at(words, i));
    if (!settable_word_q(w->type())) raise_error(kErrScriptInvalidArg, w);
    Cell* v = stack_push_value(spread ? value_at(values, i) : *values);
    if (some && v->is(kTypeNone)) continue;
    w->set_type(kTypeWord);
    set_word_value(w, v);
  }
  g_stack.top = base;
}

// The context [target] names for bind: a function's own, a word's binding,
// an object's.
Node bind_target(const Cell* target) {
  if (target->is(kTypeFunction)) return function_context(target);
  if (is_any_object(target->type())) return object_context(target);
  if (is_any_word(target->type()) && word_context(target)) return word_context(target);
  raise_error(kErrScriptInvalidArg, target);
}

// The context of [value] for in: an object's, error's or port's, or a function's.
Node in_target(const Cell* value) {
  if (is_any_object(value->type())) return object_context(value);
  if (value->is(kTypeFunction)) return function_context(value);
  return 0;
}

}  // namespace

// get: a word's value (unset! only with /any), a path evaluated in get mode,
// an object's values.
KIV_NATIVE(Get) {
  TypeId t = a.word->type();
  if (is_any_path(t)) return path_as(a.word, kTypeGetPath, nullptr, a.case_);
  if (is_any_object(t)) {
    Cell* field = stack_push_value(load_word("values"));
    ReflectArgs ra;
    ra.field = field;
    Cell* object = stack_push_cell(a.word);
    return native_result(*object_reflect(object, ra));
  }
  Cell* v = get_word_value(a.word);
  if (v->is(kTypeUnset) && !a.any) raise_error(kErrScriptNoValue, a.word);
  return native_result(*v);
}

// set: a word, a path, an object's fields or a block of words; the result is
// the value.
KIV_NATIVE(Set) {
  if (a.value->is(kTypeUnset) && !a.any) raise_error(kErrScriptNeedValue, a.word);
  Cell* value = stack_push_cell(a.value);
  TypeId t = a.word->type();
  if (is_any_path(t)) {
    Status s = path_as(a.word, kTypeSetPath, value, a.case_);
    if (s != kStatusOk) return s;
  } else if (is_any_object(t)) {
    object_set_fields(a.word, value, a.any, a.some);
  } else if (t == kTypeBlock) {
    native_set_words(a.word, value, a.any, a.only, a.some);
  } else {
    set_word_value(a.word, value);
  }
  Cell result = *value;
  g_stack.top = g_stack.arguments + 1;
  return native_result(result);
}

// unset: a word, or each word! of a block, set to unset!.
KIV_NATIVE(Unset) {
  Cell unset = make_cell(kTypeUnset);
  if (a.word->is(kTypeWord)) {
    set_word_value(a.word, &unset);
  } else {
    Cell* base = g_stack.top;
    for (int32_t i = 0;; i++) {
      g_stack.top = base;
      int32_t total = series_total_cells(a.word);
      if (series_clamp_head(a.word, total) + i >= total) break;
      Cell* w = stack_push_value(value_at(a.word, i));
      if (w->is(kTypeWord)) set_word_value(w, &unset);
    }
  }
  return native_result(unset);
}

// value?: true when the word has a value other than unset!; an unbound word,
// or one of a function that is not running, has none.
KIV_NATIVE(ValueQ) {
  const Cell* w = a.value;
  bool has = false;
  Node ctx = word_context(w);
  if (ctx) {
    int32_t index = word_index(w);
    if (index < 0) index = context_find_symbol(ctx, word_symbol(w), true);
    if (index >= 0 && context_values(ctx)) has = !get_word_value(w)->is(kTypeUnset);
  }
  return native_result(logic_cell(has));
}

// bind: a block bound deeply (in place, or a deep copy with /copy), or a word
// rebound when its context has it.
KIV_NATIVE(Bind) {
  Node ctx = bind_target(a.context);
  if (is_any_word(a.word->type())) {
    context_bind_word(ctx, a.word);
    return kStatusOk;
  }
  Cell* block = a.copy ? block_clone(a.word, true, true) : a.word;
  context_bind_block(block, ctx, context_kind(ctx) == kContextObject);
  return native_result(*block);
}

// in: the word bound to the object's (or function's) context, or none.
KIV_NATIVE(In) {
  Node ctx = in_target(a.object);
  if (!ctx) return native_result(kNoneCell);
  int32_t index = context_find_symbol(ctx, word_symbol(a.word), true);
  if (index < 0) return native_result(kNoneCell);
  Cell w = *a.word;
  if (w.is(kTypeRefinement)) w.set_type(kTypeWord);
  word_bind(&w, ctx, index);
  return native_result(w);
}

// context?: the object or function whose context the word is bound to.
KIV_NATIVE(ContextQ) {
  Node ctx = word_context(a.word);
  if (!ctx) return native_result(kNoneCell);
  Cell self = *context_self_cell(ctx);
  if (self.is(kTypeObject) || self.is(kTypeFunction) || is_any_object(self.type()))
    return native_result(self);
  return native_result(kNoneCell);
}

// construct: an object from a spec of set-words and unevaluated values.
KIV_NATIVE(Construct) { return native_result(*object_construct(a.with, a.block, a.only)); }

// ---------------------------------------------------------------- apply

// apply: calls a function with its arguments taken from a block, each the
// value of the next expression there.
KIV_NATIVE(Apply) {
  Cell* name = nullptr;
  Cell* path = nullptr;
  Cell* fn = a.func;
  if (is_any_word(a.func->type())) {
    name = stack_push_cell(a.func);
    fn = stack_push_cell(get_word_value(name));
  } else if (a.func->is(kTypePath)) {
    path = a.func;
    int32_t total = series_total_cells(path);
    int32_t head = series_clamp_head(path, total);
    if (head >= total) raise_error(kErrScriptInvalidArg, a.func);
    name = stack_push_value(series_cells(path->node())[head]);
    if (!is_any_word(name->type())) raise_error(kErrScriptInvalidArg, a.func);
    fn = stack_push_cell(get_word_value(name));
  }
  if (!function_like_q(fn->type())) raise_error(kErrScriptInvalidArg, a.func);
  Cell* args = push_clamped_block(a.args);
  int32_t index = args->head();
  CallSource source;
  source.block = args;
  source.index = &index;
  source.name = name;
  if (path) {
    source.path = path;
    source.path_index = series_clamp_head(path, series_total_cells(path)) + 1;
  }
  source.mode = uint32_t(a.all ? kCallApplyAll : kCallApply) | uint32_t(a.safer ? kCallSafer : 0u);
  Status s = eval_call(fn, source, false);
  if (s != kStatusOk) return s;
  g_stack.top = g_stack.arguments + 1;
  return kStatusOk;
}

// ---------------------------------------------------------------- try, catch, throw

// try: the block's value, or the error! it raised. With /all, break,
// continue, return, exit and throw that nothing inside takes become their
// errors (the try/all frame stops their search) and are caught likewise.
KIV_NATIVE(Try) {
  CatchPoint point;
  Cell try_word = load_word("try");
  if (a.all)
    stack_mark_try_all(frame_name_of(&try_word));
  else
    stack_mark_try(frame_name_of(&try_word));
  try {
    Status s = eval_block(a.block, false);
    if (s != kStatusOk) return s;
  } catch (KivThrow& t) {
    if (t.code != kThrowError) throw;
    // The data stack may be full (stack-overflow): the error is made from
    // this call's result slot on, while the frames of the raise stay in
    // place for /keep to capture.
    Cell* result = point.data_stack_back(1);
    *result = raised_error_value();
    if (a.keep && result->is(kTypeError)) error_capture_stack(result);
    point.resume_with(*result);
    return kStatusOk;
  }
  point.resume_with(g_stack.top[-1]);
  return kStatusOk;
}

namespace {

// True when a catch named [names] (a word! or a block of word!s) takes a throw
// named [name]; letter case does not matter.
bool catch_name_matches(const Cell* names, const Cell& name) {
  if (!name.is(kTypeWord)) return false;
  const int32_t wanted = symbol_resolve(word_symbol(&name));
  if (names->is(kTypeWord)) return symbol_resolve(word_symbol(names)) == wanted;
  bool found = false;
  int32_t total = series_total_cells(names);
  for (int32_t i = series_clamp_head(names, total); i < total; i++) {
    const Cell& item = series_cells(names->node())[i];
    if (!item.is(kTypeWord)) {
      Cell catch_word = load_word("catch");
      Cell* held = stack_push_value(catch_word);
      raise_error(kErrScriptInvalidRefineArg, held, names);
    }
    if (symbol_resolve(word_symbol(&item)) == wanted) found = true;
  }
  return found;
}

}  // namespace

Status catch_throws(const Cell* block, const Cell* frame_word, const Cell* names, Cell* taken_name) {
  CatchPoint point;
  stack_mark_catch(frame_name_of(frame_word));
  CallFrame* own = g_stack.frames_top - 1;
  try {
    Status s = eval_block(block, false);
    if (s != kStatusOk) return s;
  } catch (KivThrow& t) {
    if (t.code != kThrowThrow || g_stack.frames_top - 1 != own) throw;
    // The throw settled on this frame: its value and name are at its base.
    Cell value = g_stack.arguments[0];
    Cell name = g_stack.arguments[1];
    if (names && !catch_name_matches(names, name)) {
      g_last_throw_code = 0;
      stack_throw_value(kThrowThrow);  // on to the next catch, with its name
    }
    point.resume_with(value);
    if (taken_name) *taken_name = name;
    if (g_interp.tracing) trace_event(kTraceCatch, nullptr, -1, stack_arg(0), nullptr);
    return kStatusOk;
  }
  point.resume_with(g_stack.top[-1]);
  return kStatusOk;
}

// catch: the block's value, or the value thrown to it (by name with /name).
KIV_NATIVE(Catch) {
  Cell catch_word = load_word("catch");
  return catch_throws(a.block, &catch_word, a.name, nullptr);
}

// throw: the value (and name) to the nearest catch that takes it.
KIV_NATIVE(Throw) {
  if (g_interp.tracing) trace_event(kTraceThrow, nullptr, -1, a.value, a.name);
  g_stack.arguments[1] = a.name ? *a.name : make_cell(kTypeUnset);
  g_stack.top = g_stack.arguments + 2;
  stack_throw_value(kThrowThrow);
}

// ---------------------------------------------------------------- loop and function exits

KIV_NATIVE(Break) { return stack_throw_break(a.return_ != nullptr, false); }
KIV_NATIVE(Continue) { return stack_throw_break(false, true); }
KIV_NATIVE(Return) { return stack_throw_return(true); }
KIV_NATIVE(Exit) { return stack_throw_return(false); }

void natives_eval_register() {
  KIV_REGISTER(Do);
  KIV_REGISTER(Reduce);
  KIV_REGISTER(Compose);
  KIV_REGISTER(Get);
  KIV_REGISTER(Set);
  KIV_REGISTER(Unset);
  KIV_REGISTER(ValueQ);
  KIV_REGISTER(Bind);
  KIV_REGISTER(In);
  KIV_REGISTER(ContextQ);
  KIV_REGISTER(Construct);
  KIV_REGISTER(Apply);
  KIV_REGISTER(Try);
  KIV_REGISTER(Catch);
  KIV_REGISTER(Throw);
  KIV_REGISTER(Break);
  KIV_REGISTER(Continue);
  KIV_REGISTER(Return);
  KIV_REGISTER(Exit);
}

}  // namespace kiv
