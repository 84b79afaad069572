// Making function! values and counting their locals: what objects need to
// re-create their methods and call their change handlers.
#include <algorithm>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/function.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/runtime_words.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "runtime/memory.h"
#include "runtime/stack.h"

namespace kiv {

Node make_function_value(const Cell* spec_in, const Cell* body_in, Node context, int32_t native_code,
                         int32_t extra, uint32_t flags) {
  Cell* result = stack_push();
  StackSave save;
  Cell* spec = stack_push_cell(spec_in);
  int32_t spec_head = std::clamp<int32_t>(spec->head(), 0, int32_t(series_length(spec->node())));
  spec->set_head(spec_head);
  if (spec_head != 0) spec = block_clone(spec, false, false);
  Cell* body = stack_push_value(body_in && body_in->is(kTypeBlock) ? *body_in : kNoneCell);
  if (body->is(kTypeBlock)) {
    body->set_head(std::clamp<int32_t>(body->head(), 0, int32_t(series_length(body->node()))));
    *body = *block_clone(body, true, true);
  }
  Node ctx = context ? context : context_from_spec(spec, true, false, kContextFunction);
  stack_push_value(context_view(ctx));
  Cell* more = block_push_only(5);
  Cell cells[5] = {*body, kUnsetCell, native_code ? integer_cell(native_code) : kUnsetCell, kUnsetCell,
                   extra ? integer_cell(extra) : kUnsetCell};
  for (const Cell& c : cells) block_append_value(more, &c);
  *result = function_cell(ctx, spec->node(), more->node(), flags);
  *context_self_cell(ctx) = *result;
  if (!context && body->is(kTypeBlock)) context_bind_block(body, ctx, false);
  return ctx;
}

int32_t function_count_locals(Node spec, int32_t start, bool strict) {
  Cell local = runtime_value(kRefinementLocal);
  int32_t local_symbol = symbol_resolve(word_symbol(&local));
  int32_t count = -1;
  if (!node_in_use(spec) || series_buffer(spec)->unit() != sizeof(Cell)) return strict ? -1 : 0;
  for (int32_t i = std::max(start, 0); i < int32_t(series_length(spec)); i++) {
    const Cell* c = series_cells(spec) + i;
    if (count < 0) {
      if (c->is(kTypeRefinement) && symbol_resolve(word_symbol(c)) == local_symbol) count = 1;
    } else if (c->is(kTypeWord)) {
      count++;
    }
  }
  return count >= 0 ? count : strict ? -1 : 0;
}

}  // namespace kiv
