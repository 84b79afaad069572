// Building the cached argument lists (arglist.h).
#include "datatypes/arglist.h"

#include "datatypes/block.h"
#include "datatypes/builtin_spec.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/function.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/native.h"
#include "datatypes/runtime_words.h"
#include "datatypes/symbol.h"
#include "datatypes/typeset.h"
#include "datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/gc_root.h"
#include "runtime/memory.h"
#include "runtime/stack.h"

namespace kiv {

namespace {

// The spec and more nodes of a function-like value (an op! as its underlying value).
Node spec_node(const Cell* fn) {
  TypeId t = fn->is(kTypeOp) ? op_underlying_type(fn) : fn->type();
  return t == kTypeFunction || t == kTypeRoutine ? function_spec(fn) : native_spec(fn);
}
Node more_node(const Cell* fn) {
  return fn->is(kTypeFunction) || fn->is(kTypeRoutine) ? function_more(fn) : native_more(fn);
}
bool function_kind_q(const Cell* fn) {
  TypeId t = fn->is(kTypeOp) ? op_underlying_type(fn) : fn->type();
  return t == kTypeFunction || t == kTypeRoutine;
}

// Script bad-func-def with the spec of [fn] when it calls built-in code (a
// native! or action!) and its argument list, the first [count] cells of
// [list], does not fit that code's own spec. (A routine! is made only from
// its own spec.)
void check_builtin_fits(const Cell* fn, Node list, int32_t count) {
  TypeId t = fn->is(kTypeOp) ? op_underlying_type(fn) : fn->type();
  if (t != kTypeNative && t != kTypeAction) return;
  const Builtin kind = t == kTypeNative ? Builtin::kNative : Builtin::kAction;
  if (builtin_list_fits(kind, int32_t(native_id(fn)), list, count)) return;
  Cell spec = series_cell(kTypeBlock, spec_node(fn));
  raise_error(kErrScriptBadFuncDef, &spec);
}

// MAY ALLOCATE. Builds the list of [fn] (stable) into a new block.
Node build(const Cell* fn) {
  Node spec = spec_node(fn);
  const bool is_function = function_kind_q(fn);
  Root list(series_cell(kTypeBlock, series_alloc_cells(8)));
  int32_t refinements = 0;
  int32_t locals = 0;
  int32_t params = -1;  // leading parameters: set at the first refinement
  bool plain = true;
  int32_t n = int32_t(series_length(spec));
  for (int32_t i = 0; i < n; i++) {
    Cell c = series_cells(spec)[i];
    switch (c.type()) {
      case kTypeWord:
      case kTypeGetWord:
      case kTypeLitWord: {
        ArgMode mode = c.is(kTypeWord) ? kArgEvaluated : c.is(kTypeGetWord) ? kArgLiteral : kArgSoftQuoted;
        if (params < 0 && mode != kArgEvaluated) plain = false;
        Cell set = kTypesetAllButUnsetCell;
        if (i + 1 < int32_t(series_length(spec))) {
          Cell next = series_cells(spec)[i + 1];
          if (next.is(kTypeBlock) && next.node() &&
              series_cell_count(next.node()) > uint32_t(std::max(next.head(), 0))) {
            Root types(next);
            set = function_type_block_typeset(types.get());
          }
        }
        set.header = kTypeTypeset | (uint32_t(mode) << kArgModeShift);
        block_append_value(list.get(), &set);
        break;
      }
      case kTypeRefinement: {
        Cell local = runtime_value(kRefinementLocal);
        if (symbol_same_name_q(word_symbol(&c), word_symbol(&local))) {
          if (is_function) locals = function_count_locals(spec, i, false);
          i = n;  // /local and what follows are not parameters
          break;
        }
        if (params < 0) params = int32_t(series_length(list.node()));
        Cell r = c;
        word_set_index(&r, ++refinements);
        block_append_value(list.get(), &r);
        break;
      }
      case kTypeSetWord:
        if (!runtime_symbol_q(word_symbol(&c), kSymReturn)) {
          Cell spec_block = series_cell(kTypeBlock, spec);
          raise_error(kErrScriptBadFuncDef, &spec_block);
        }
        i++;  // its type block
        break;
      default: break;
    }
  }
  check_builtin_fits(fn, list.node(), int32_t(series_length(list.node())));
  if (params < 0) params = int32_t(series_length(list.node()));
  Cell tail = integer_cell(is_function ? locals : refinements);
  if (params > int32_t(kShapeParamsMax)) {
    params = 0;
    plain = false;
  }
  tail.header |= (uint32_t(params) << kShapeParamsShift) | (plain ? kShapePlain : 0);
  block_append_value(list.get(), &tail);
  return list.node();
}

}  // namespace

Node arglist_build_into(const Cell* fn) {
  Node list = build(fn);
  series_cells(more_node(fn))[kArglistCell] = series_cell(kTypeBlock, list);
  return list;
}

void arglist_attach(const Cell* fn) { (void)arglist_build_into(fn); }

}  // namespace kiv
