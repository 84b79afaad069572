// native!, action! and op!: the natives table, making values by id or from
// another callable, reflection, text and comparison by id.
//
// A native or action value names its code by id only; a make that names an
// entry no value can call (an empty natives slot, the actions without a word)
// is refused, so every native! and action! calls real code, and so is one
// whose spec does not fit the entry's own (datatypes/builtin_spec.h), so the
// code finds every argument and refinement slot it reads filled. An op copies the
// payload of the value it is made from; over a function it shares that
// function's context and more block, and the more block keeps the function.
#include "datatypes/native.h"

#include <array>

#include "datatypes/actions.h"
#include "datatypes/arglist.h"
#include "datatypes/block.h"
#include "datatypes/builtin_spec.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/function.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/registry.h"
#include "datatypes/runtime_words.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/fatal.h"
#include "runtime/gc_root.h"
#include "runtime/murmur3.h"
#include "runtime/stack.h"
#include "runtime/typesets.h"

namespace kiv {

namespace {

// ---------------------------------------------------------------- hooks

void native_mark(const Cell* value) {
  gc_mark_block(native_spec(value));
  gc_mark_block(native_more(value));
}

// Equal values share word 1 (the id, or an op's function context).
uint32_t native_hash(const Cell* value) { return hash_int32(native_id(value)); }

void op_mark(const Cell* value) {
  native_mark(value);
  if (op_over_function_q(value)) gc_mark_block(function_context(value));
}

constexpr TypeHooks kNativeHooks{.mark = native_mark, .hash = native_hash};
constexpr TypeHooks kOpHooks{.mark = op_mark, .hash = native_hash};

// ---------------------------------------------------------------- making

[[noreturn]] void raise_bad_make(TypeId type, const Cell* spec) {
  Cell datatype = datatype_cell(type);
  raise_error(kErrScriptBadMakeArg, &datatype, spec);
}

// True when the refinement or word [c] is spelled as the runtime value [v]
// (ignoring letter case).
bool spelled_q(const Cell* c, RuntimeValue v) {
  Cell name = runtime_value(v);
  return symbol_same_name_q(word_symbol(c), word_symbol(&name));
}

// MAY ALLOCATE. The native! or action! of [type] with code [id] and the
// spec block [spec_value] (from its position), pushed; [fits] checks the
// spec against the code's own (builtin_spec.h), false to refuse it.
Cell* push_by_id(TypeId type, const Cell& spec_value, int32_t id,
                 bool (*fits)(TypeId, int32_t, const Cell*)) {
  Cell* result = stack_push();
  Cell* spec = stack_push_value(spec_value);
  int32_t spec_total = series_total_length(spec);
  spec->set_head(series_clamp_head(spec, spec_total));
  // The spec is held at index 0: one given at a later position is copied from there.
  if (spec->head() != 0) spec = block_clone(spec, false, false);
  if (!fits(type, id, spec)) return nullptr;
  Node ctx = context_from_spec(spec, true, false, kContextFunction);
  Root keep(context_view(ctx));
  Cell* more = block_push_only(kNativeMoreCells);
  Cell context = *context_cell(ctx);
  block_append_value(more, &context);
  block_append_value(more, &kNoneCell);
  *result = make_cell(type, uint32_t(id), spec->node(), more->node());
  stack_pop(uint32_t(g_stack.top - (result + 1)));
  return result;
}

Builtin builtin_of(TypeId type) { return type == kTypeNative ? Builtin::kNative : Builtin::kAction; }

// make native! and make action!: [spec id] from the make block's position.
// The spec must fit the entry's own (builtin_spec.h).
Cell* make_by_id(const MakeArgs& args, TypeId type, bool (*callable)(int32_t)) {
  Cell* make_spec = args.spec;
  if (!make_spec->is(kTypeBlock)) raise_bad_make(type, make_spec);
  int32_t total = series_total_length(make_spec);
  int32_t head = series_clamp_head(make_spec, total);
  if (total - head != 2) raise_bad_make(type, make_spec);
  Cell spec_value = series_cells(make_spec->node())[head];
  Cell id_value = series_cells(make_spec->node())[head + 1];
  if (!spec_value.is(kTypeBlock) || !id_value.is(kTypeInteger) || !callable(integer_get(&id_value)))
    raise_bad_make(type, make_spec);
  Cell* made = push_by_id(
      type, spec_value, integer_get(&id_value),
      [](TypeId t, int32_t id, const Cell* spec) { return builtin_spec_fits(builtin_of(t), id, spec); });
  if (!made) raise_bad_make(type, make_spec);
  arglist_attach(made);
  return made;
}

// ---------------------------------------------------------------- text

// MAY ALLOCATE. Molds the block over [spec] (from index 0) within [limit]
// with the caller's flags and /only as given; returns the remaining limit.
int32_t mold_spec(Node spec, const MoldArgs& args, int32_t limit, bool only) {
  StackSave save;
  Cell* block = stack_push_value(series_cell(kTypeBlock, spec));
  MoldArgs a = args;
  a.limit = limit;
  a.only = only;
  return block_mold(block, a);
}

int32_t mold_as_make(Cell* value, const MoldArgs& args, const char* opening) {
  int32_t limit = args.limit - string_append_c_string(args.buffer, opening);
  limit = mold_spec(native_spec(value), args, limit, args.only);
  return limit - string_append_c_string(args.buffer, "]");
}

}  // namespace

// ---------------------------------------------------------------- the natives table

std::array<NativeEntry, kNativeTableSize> g_natives_table{};

void native_table_set(int32_t id, NativeEntry entry) {
  fatal_assert(id >= 1 && id <= kNativeTableSize);
  g_natives_table[size_t(id - 1)] = entry;
}

bool action_callable_q(int32_t id) {
  return id >= 1 && id <= kActionCount && g_actions_table[id].word[0] != '\0';
}

Cell* native_make_own(TypeId type, const Cell* spec, int32_t id) {
  fatal_assert(type == kTypeNative ? native_callable_q(id) : action_callable_q(id));
  return push_by_id(type, *spec, id, [](TypeId, int32_t, const Cell*) { return true; });
}

// ---------------------------------------------------------------- handlers

Cell* native_make(Cell*, const MakeArgs& args) { return make_by_id(args, kTypeNative, native_callable_q); }

Cell* action_value_make(Cell*, const MakeArgs& args) {
  return make_by_id(args, kTypeAction, action_callable_q);
}

bool op_spec_valid_q(Node spec) {
  int32_t count = 0;
  bool plain_word = false;
  for (uint32_t i = 0; i < series_length(spec); i++) {
    const Cell* c = series_cells(spec) + i;
    switch (c->type()) {
      case kTypeWord:
        plain_word = true;
        count++;
        break;
      case kTypeLitWord:
      case kTypeGetWord:
        // A quoted argument may not stand on the left of the operator.
        if (!plain_word) return false;
        count++;
        break;
      case kTypeRefinement:
        if (spelled_q(c, kRefinementLocal) || spelled_q(c, kRefinementExtern)) return count == 2;
        return false;
      case kTypeSetWord: return count == 2;
      default: break;
    }
  }
  return count == 2;
}

Cell* op_make(Cell*, const MakeArgs& args) {
  Cell* from = args.spec;
  TypeId type = from->type();
  bool function = type == kTypeFunction || type == kTypeRoutine;
  if (!function && type != kTypeNative && type != kTypeAction) {
    Cell datatype = datatype_cell(type);
    raise_error(kErrScriptInvalidType, &datatype);
  }
  if (!op_spec_valid_q(function ? function_spec(from) : native_spec(from))) raise_error(kErrScriptBadOpSpec);
  Cell* result = stack_push_value(*from);
  if (function) function_keep_op_copy(from);
  result->header = kTypeOp | (uint32_t(type) << 16);
  return result;
}

Cell* native_reflect(Cell* value, const ReflectArgs& args) {
  const Cell* field = args.field;
  if (is_any_word(field->type())) {
    int32_t symbol = word_symbol(field);
    if (runtime_symbol_q(symbol, kSymSpec)) {
      *value = series_cell(kTypeBlock, native_spec(value));
      return value;
    }
    if (runtime_symbol_q(symbol, kSymBody)) {
      *value = value->is(kTypeOp) && op_over_function_q(value) ? function_body(value)
                                                               : integer_cell(int32_t(native_id(value)));
      return value;
    }
  }
  raise_error(kErrInternalNotDone);
}

int32_t native_form(Cell*, const FormArgs& args) {
  return args.limit - string_append_c_string(args.buffer, "?native?");
}

int32_t action_value_form(Cell*, const FormArgs& args) {
  return args.limit - string_append_c_string(args.buffer, "?action?");
}

int32_t op_form(Cell*, const FormArgs& args) {
  return args.limit - string_append_c_string(args.buffer, "?op?");
}

int32_t native_mold(Cell* value, const MoldArgs& args) { return mold_as_make(value, args, "make native! ["); }

int32_t action_value_mold(Cell* value, const MoldArgs& args) {
  return mold_as_make(value, args, "make action! [");
}

int32_t op_mold(Cell* value, const MoldArgs& args) {
  int32_t limit = args.limit - string_append_c_string(args.buffer, "make op! ");
  bool function = op_underlying_type(value) == kTypeFunction;
  if (function)
    limit -= string_append_c_string(args.buffer, "func ");
  else
    limit -= string_append_c_string(args.buffer, "[");
  {
    // Errors raised while the spec is molded name no function.
    StackSave save;
    Cell anon = runtime_value(kWordAnon);
    open_native_frame(frame_name_of(&anon));
    limit = mold_spec(native_spec(value), args, limit, function ? false : args.only);
  }
  if (!function) return limit - string_append_c_string(args.buffer, "]");
  StackSave save;
  Cell* body = stack_push_value(function_body(value));
  if (!body->is(kTypeBlock)) return limit;
  MoldArgs a = args;
  a.limit = limit;
  a.only = false;
  return block_mold(body, a);
}

int native_compare(Cell* value, const CompareArgs& args) {
  if (args.value2->type() != value->type()) return kNotComparable;
  if (!equality_or_sort_op_q(args.op)) return kNotComparable;
  // Ops over different kinds of value are told apart first: an id and a
  // function's context node may be the same number.
  if (value->is(kTypeOp) && op_underlying_type(value) != op_underlying_type(args.value2))
    return op_underlying_type(value) < op_underlying_type(args.value2) ? -1 : 1;
  int32_t a = int32_t(native_id(value)), b = int32_t(native_id(args.value2));
  return (a > b) - (a < b);
}

// ---------------------------------------------------------------- registration

void native_datatype_init() {
  register_datatype({kTypeNative,
                     kTypeNil,
                     "native!",
                     kActionCount,
                     {.make = native_make,
                      .reflect = native_reflect,
                      .form = native_form,
                      .mold = native_mold,
                      .compare = native_compare},
                     &kNativeHooks});
}

void action_datatype_init() {
  register_datatype({kTypeAction,
                     kTypeNative,
                     "action!",
                     kActionCount,
                     {.make = action_value_make,
                      .reflect = kInherit,
                      .form = action_value_form,
                      .mold = action_value_mold,
                      .compare = native_compare},
                     &kNativeHooks});
}

void op_datatype_init() {
  register_datatype(
      {kTypeOp,
       kTypeNative,
       "op!",
       kActionCount,
       {.make = op_make, .reflect = kInherit, .form = op_form, .mold = op_mold, .compare = native_compare},
       &kOpHooks});
}

}  // namespace kiv
