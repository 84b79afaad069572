// function! and routine!: making the values, reflection, text and comparison.
//
// A function owns its context, spec and more block; the body in the more
// block is a deep copy bound to the context, so later changes to the blocks
// it was made from do not reach it. The context's self cell holds the value
// itself. A routine keeps its body as given: it is only shown, never run.
// The spec checks and the locals helpers are in function_spec.cpp.
#include "datatypes/function.h"

#include "datatypes/actions.h"
#include "datatypes/arglist.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/registry.h"
#include "datatypes/runtime_words.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/gc_root.h"
#include "runtime/murmur3.h"
#include "runtime/stack.h"
#include "runtime/typesets.h"

namespace kiv {

namespace {

// ---------------------------------------------------------------- hooks

void function_mark(const Cell* value) {
  gc_mark_block(function_context(value));
  gc_mark_block(function_spec(value));
  gc_mark_block(function_more(value));
}

// Equal functions share their more block.
uint32_t function_hash(const Cell* value) { return hash_int32(function_more(value)); }

constexpr TypeHooks kFunctionHooks{.mark = function_mark, .hash = function_hash};

// ---------------------------------------------------------------- making

// Drops every cell pushed after [slot], which stays on top.
void keep_on_top(Cell* slot) { stack_pop(uint32_t(g_stack.top - (slot + 1))); }

// MAY ALLOCATE. Pushes the spec a function keeps: [spec] read into 0..tail,
// copied from its position when that is not its head.
Cell* push_held_spec(const Cell* spec) {
  Cell* held = stack_push_value(*spec);
  held->set_head(series_clamp_head(held, series_total_length(held)));
  if (held->head() != 0) held = block_clone(held, false, false);
  held->set_header(kTypeBlock);
  return held;
}

// MAY ALLOCATE. Pushes a new more block: [body], unset!, [code], unset!, [extra].
Cell* push_more(const Cell* body, const Cell* code, const Cell* extra) {
  Cell* more = block_push_only(kFunctionMoreCells);
  block_append_value(more, body);
  block_append_value(more, &kUnsetCell);
  block_append_value(more, code);
  block_append_value(more, &kUnsetCell);
  block_append_value(more, extra);
  return more;
}

// MAY ALLOCATE. Molds the block [block] within [limit], with /only as given.
int32_t mold_block_cell(const Cell& block, const MoldArgs& args, int32_t limit, bool only) {
  StackSave save;
  Cell* b = stack_push_value(block);
  b->set_header(kTypeBlock);
  MoldArgs a = args;
  a.limit = limit;
  a.only = only;
  return block_mold(b, a);
}

}  // namespace

Cell function_more_cell(const Cell* value, int32_t i) {
  Node more = function_more(value);
  if (i < 0 || uint32_t(i) >= series_length(more)) return kUnsetCell;
  return series_cells(more)[i];
}

void function_keep_op_copy(const Cell* value) {
  Cell copy = *value;
  Node more = function_more(&copy);
  if (series_length(more) > uint32_t(kFunctionMoreOp)) series_cells(more)[kFunctionMoreOp] = copy;
}

Node make_function_value(const Cell* spec_arg, const Cell* body_arg, Node given, int32_t code_id,
                         int32_t extra, uint32_t flags) {
  Cell* result = stack_push();
  Cell* spec = push_held_spec(spec_arg);
  Cell* body = stack_push_value(body_arg && body_arg->is(kTypeBlock) ? *body_arg : kNoneCell);
  if (body->is(kTypeBlock)) {
    body->set_head(series_clamp_head(body, series_total_length(body)));
    bool library = block_library_code_q(body->node());
    body = block_clone(body, true, true);
    if (library) block_mark_library_code(body);
  }
  Node ctx = given ? given : context_from_spec(spec, true, false, kContextFunction);
  stack_push_value(context_view(ctx));
  if (!given && body->is(kTypeBlock)) context_bind_block(body, ctx, false);
  Cell code = code_id ? integer_cell(code_id) : kUnsetCell;
  Cell more_extra = extra ? integer_cell(extra) : kUnsetCell;
  Cell* more = push_more(body, &code, &more_extra);
  *result = make_cell(kTypeFunction, ctx, spec->node(), more->node());
  result->header |= flags & ~kTypeMask;
  *context_self_cell(ctx) = *result;
  keep_on_top(result);
  arglist_attach(result);
  return ctx;
}

Cell* function_push_decoded(Node ctx, Node spec, Node body) {
  Cell* result = stack_push();
  Root keep_ctx(context_view(ctx));
  Root keep_spec(series_cell(kTypeBlock, spec));
  Root keep_body(series_cell(kTypeBlock, body));
  Cell* more = push_more(keep_body.get(), &kUnsetCell, &kUnsetCell);
  *result = make_cell(kTypeFunction, ctx, spec, more->node());
  *context_self_cell(ctx) = *result;
  keep_on_top(result);
  return result;
}

void function_set_body(const Cell* fn, const Cell* body) {
  series_cells(function_more(fn))[kFunctionMoreBody] = series_cell(kTypeBlock, body->node(), body->head());
}

bool function_decoded_finish(Cell* fn) {
  Cell spec = series_cell(kTypeBlock, function_spec(fn));
  Root keep(spec);
  uint32_t flags = function_check_spec(keep.get());
  Node ctx = function_context(fn);
  Node node = function_spec(fn);
  int32_t words = 0;
  for (uint32_t i = 0; i < series_cell_count(node); i++) {
    const Cell c = series_cells(node)[i];
    TypeId t = c.type();
    if (t != kTypeWord && t != kTypeGetWord && t != kTypeLitWord && t != kTypeRefinement) continue;
    if (context_find_symbol(ctx, word_symbol(&c), true) != words) return false;
    words++;
  }
  if (uint32_t(words) != context_word_count(ctx)) return false;
  fn->header = (fn->header & kTypeMask) | (fn->header & kFlagNewLine) | (flags & ~kTypeMask);
  *context_self_cell(ctx) = *fn;
  context_self_cell(ctx)->clear_new_line();
  arglist_attach(fn);
  return true;
}

Cell* make_routine_value(const Cell* spec_arg, const Cell* body_arg, int32_t code_id, int32_t extra,
                         bool marked) {
  Cell* result = stack_push();
  Cell* spec = push_held_spec(spec_arg);
  uint32_t words = 0;
  for (uint32_t i = 0; i < series_length(spec->node()); i++)
    if (series_cells(spec->node())[i].is(kTypeWord)) words++;
  if (words > kRoutineArgCountMax) raise_error(kErrScriptBadFuncDef, spec);
  Cell* body = stack_push_value(body_arg ? *body_arg : kNoneCell);
  Node ctx = context_from_spec(spec, true, false, kContextFunction);
  stack_push_value(context_view(ctx));
  Cell code = integer_cell(code_id);
  Cell more_extra = integer_cell(extra);
  Cell* more = push_more(body, &code, &more_extra);
  *result = make_cell(kTypeRoutine, ctx, spec->node(), more->node());
  result->header |= words << kRoutineArgCountShift;
  if (marked) result->header |= kFlagRoutineMarked;
  *context_self_cell(ctx) = *result;
  keep_on_top(result);
  arglist_attach(result);
  return result;
}

// ---------------------------------------------------------------- handlers

Cell* function_make(Cell*, const MakeArgs& args) {
  Cell* make_spec = args.spec;
  auto bad = [&] { raise_error(kErrScriptBadFuncDef, make_spec); };
  if (!make_spec->is(kTypeBlock)) bad();
  int32_t total = series_total_length(make_spec);
  int32_t head = series_clamp_head(make_spec, total);
  if (total - head < 2) bad();
  Cell* spec = stack_push_value(series_cells(make_spec->node())[head]);
  Cell* body = stack_push_value(series_cells(make_spec->node())[head + 1]);
  if (!spec->is(kTypeBlock) || !body->is(kTypeBlock)) bad();
  uint32_t flags = function_check_spec(spec);
  make_function_value(spec, body, 0, 0, 0, flags);
  return stack_last_value();
}

Cell* function_reflect(Cell* value, const ReflectArgs& args) {
  const Cell* field = args.field;
  if (is_any_word(field->type())) {
    int32_t symbol = word_symbol(field);
    if (runtime_symbol_q(symbol, kSymSpec)) {
      *value = series_cell(kTypeBlock, function_spec(value));
      return value;
    }
    if (runtime_symbol_q(symbol, kSymBody)) {
      *value = function_body(value);
      return value;
    }
    if (runtime_symbol_q(symbol, kSymWords)) {
      // The words block's words are bound to the context already.
      Node words = series_copy_buffer(context_words(function_context(value)));
      *value = series_cell(kTypeBlock, words);
      return value;
    }
  }
  raise_error(kErrInternalNotDone);
}

int32_t function_form(Cell*, const FormArgs& args) {
  return args.limit - string_append_c_string(args.buffer, "?function?");
}

int32_t routine_form(Cell*, const FormArgs& args) {
  return args.limit - string_append_c_string(args.buffer, "?routine?");
}

int32_t function_mold(Cell* value, const MoldArgs& args) {
  int32_t limit = args.limit - string_append_c_string(args.buffer, "func ");
  limit = mold_block_cell(series_cell(kTypeBlock, function_spec(value)), args, limit, false);
  Cell body = function_body(value);
  if (!body.is(kTypeBlock)) return limit - string_append_c_string(args.buffer, " none");
  return mold_block_cell(body, args, limit, false);
}

int32_t routine_mold(Cell* value, const MoldArgs& args) {
  int32_t limit = args.limit - string_append_c_string(args.buffer, "routine ");
  limit = mold_block_cell(series_cell(kTypeBlock, function_spec(value)), args, limit, args.only);
  Cell body_value = function_body(value);
  if (body_value.is(kTypeBlock)) return mold_block_cell(body_value, args, limit, false);
  limit -= string_append_c_string(args.buffer, " ");
  StackSave save;
  Cell* body = stack_push_value(body_value);
  MoldArgs a = args;
  a.limit = limit;
  return action_mold(body, a);
}

int function_compare(Cell* value, const CompareArgs& args) {
  if (args.value2->type() != value->type()) return kNotComparable;
  if (!equality_or_sort_op_q(args.op)) return kNotComparable;
  int32_t a = int32_t(function_more(value)), b = int32_t(function_more(args.value2));
  return (a > b) - (a < b);
}

// ---------------------------------------------------------------- registration

void function_datatype_init() {
  register_datatype({kTypeFunction,
                     kTypeContext,
                     "function!",
                     kActionCount,
                     {.make = function_make,
                      .reflect = function_reflect,
                      .form = function_form,
                      .mold = function_mold,
                      .compare = function_compare},
                     &kFunctionHooks});
}

void routine_datatype_init() {
  register_datatype(
      {kTypeRoutine,
       kTypeFunction,
       "routine!",
       kActionCount,
       {.reflect = kInherit, .form = routine_form, .mold = routine_mold, .compare = function_compare}});
}

}  // namespace kiv
