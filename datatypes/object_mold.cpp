// object!: form and mold, and the field writer error! and port! share.
//
// Budgets are counted in code points, as every form and mold handler counts
// them: each piece written lowers the remaining limit by its length.
#include "datatypes/actions.h"
#include "datatypes/context.h"
#include "datatypes/form.h"
#include "datatypes/logic.h"
#include "datatypes/object.h"
#include "datatypes/runtime_words.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "runtime/cycle.h"
#include "runtime/stack.h"

namespace kiv {

namespace {

// True for the words of the two handler fields.
bool handler_field_q(const Cell* word) {
  int32_t s = symbol_resolve(word_symbol(word));
  for (RuntimeValue v : {kWordOnChangeStar, kWordOnDeepChangeStar}) {
    Cell w = runtime_value(v);
    if (s == symbol_resolve(word_symbol(&w))) return true;
  }
  return false;
}

}  // namespace

int32_t object_mold_fields(Cell* object, const MoldArgs& args, int32_t level) {
  Node ctx = object_context(object);
  Cell* buffer = args.buffer;
  int32_t limit = args.limit;
  const char* separator = args.flat ? " " : "\n";
  StackSave save;
  Cell* keep = stack_push_cell(object);
  Cell* name = stack_push();
  Cell* item = stack_push();
  MoldArgs each = args;
  each.only = false;
  each.indent = level < 0 ? args.indent : level;
  bool first = true;
  for (uint32_t i = 0; i < context_word_count(object_context(keep)); i++) {
    if (args.part && limit < 1) break;
    *name = context_node_word_at(ctx, int32_t(i));
    name->set_header(kTypeWord);
    if (!args.all && handler_field_q(name)) continue;
    if (level < 0 && !first) limit -= string_append_c_string(buffer, separator);
    if (level >= 0) limit = mold_indent(buffer, level, limit);
    FormArgs word_args;
    word_args.buffer = buffer;
    word_args.limit = limit;
    word_args.part = args.part;
    limit = word_form(name, word_args);
    limit -= string_append_c_string(buffer, ": ");
    *item = *word_get_in(ctx, int32_t(i));
    if (item->header == 0) *item = kUnsetCell;
    if (item->is(kTypeWord)) limit -= string_append_c_string(buffer, "'");
    each.limit = limit;
    limit = action_mold(item, each);
    if (level >= 0) limit -= string_append_c_string(buffer, separator);
    first = false;
  }
  return limit;
}

int32_t object_form(Cell* object, const FormArgs& args) {
  int32_t limit = args.limit;
  if (cycle_elide(object, args.buffer, &limit, false)) return limit;
  CycleGuard guard(object_context(object));
  MoldArgs fields;
  fields.buffer = args.buffer;
  fields.limit = limit;
  fields.part = args.part;
  return object_mold_fields(object, fields, -1);
}

int32_t object_mold(Cell* object, const MoldArgs& args) {
  return object_mold_as(object, args, "make object! [");
}

int32_t object_mold_as(Cell* object, const MoldArgs& args, const char* opening) {
  int32_t limit = args.limit;
  Cell* buffer = args.buffer;
  if (cycle_elide(object, buffer, &limit, true)) return limit;
  CycleGuard guard(object_context(object));
  if (!args.only) limit -= string_append_c_string(buffer, opening);
  MoldArgs fields = args;
  if (args.flat || args.only) {
    fields.limit = limit;
    limit = object_mold_fields(object, fields, -1);
  } else {
    limit -= string_append_c_string(buffer, "\n");
    fields.limit = limit;
    limit = object_mold_fields(object, fields, args.indent + 1);
    limit = mold_indent(buffer, args.indent, limit);
  }
  if (!args.only) limit -= string_append_c_string(buffer, "]");
  return limit;
}

}  // namespace kiv
