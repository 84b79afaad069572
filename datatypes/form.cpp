// Forming and molding helpers shared by the datatypes.
#include "datatypes/form.h"

#include <string_view>

#include "datatypes/actions.h"
#include "datatypes/object.h"
#include "datatypes/string.h"
#include "runtime/cycle.h"
#include "runtime/stack.h"
#include "runtime/typesets.h"

namespace kiv {

int32_t mold_indent(Cell* out, int32_t levels, int32_t remaining) {
  for (int32_t i = 0; i < levels; i++) string_append_c_string(out, "    ");
  return remaining - 4 * (levels > 0 ? levels : 0);
}

void form_whole(Cell* value, Cell* out) {
  FormArgs args;
  args.buffer = out;
  args.limit = kNoLimit;
  action_form(value, args);
}

void mold_whole(Cell* value, Cell* out) {
  MoldArgs args;
  args.buffer = out;
  args.limit = kNoLimit;
  action_mold(value, args);
}

Cell* form_to_new_string(Cell* value, int32_t limit) {
  FormArgs args;
  args.buffer = string_make_at(stack_push(), 16);
  args.limit = limit > 0 ? limit : kNoLimit;
  action_form(value, args);
  if (limit > 0) string_truncate(args.buffer, limit);
  return args.buffer;
}

Node cycle_node_of(const Cell* value) {
  return is_any_object(value->type()) ? object_context(value) : value->node();
}

bool cycle_elide(const Cell* value, Cell* out, int32_t* remaining, bool molding) {
  if (!cycle_stack_find(cycle_node_of(value))) return false;
  const char* text = "...";
  if (molding) {
    switch (value->type()) {
      case kTypeBlock:
      case kTypeHash: text = "[...]"; break;
      case kTypeParen: text = "(...)"; break;
      case kTypeMap: text = "#[...]"; break;
      case kTypeObject: text = "make object! [...]"; break;
      default: break;
    }
  }
  *remaining -= string_append_c_string(out, text);
  return true;
}

}  // namespace kiv
