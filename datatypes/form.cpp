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

namespace {

// Molds [value] flat, cut to [limit] code points.
std::string mold_flat(Cell value, int32_t limit) {
  StackSave save;
  Cell* v = stack_push_value(value);
  MoldArgs args;
  args.flat = true;
  args.buffer = string_make_at(stack_push(), 16);
  args.limit = limit;
  action_mold(v, args);
  string_truncate(args.buffer, limit);
  return string_to_utf8(args.buffer);
}

}  // namespace

std::string form_raised_error(const RaisedError& e) {
  const ErrorInfo& info = error_info(e.id);
  std::string out = "*** ";
  out += category_info(info.category).title;
  out += ": ";
  // The message: double-quoted strings and argument references, blank-separated.
  std::string_view m = info.message;
  bool first = true;
  while (!m.empty()) {
    size_t skip = m.find_first_not_of(' ');
    if (skip == std::string_view::npos) break;
    m.remove_prefix(skip);
    std::string piece;
    if (m[0] == '"') {
      size_t end = m.find('"', 1);
      piece = std::string(m.substr(1, end - 1));
      m.remove_prefix(end + 1);
    } else {
      size_t end = m.find(' ');
      std::string_view ref = m.substr(0, end);
      m.remove_prefix(end == std::string_view::npos ? m.size() : end);
      if (ref[0] == ':') ref.remove_prefix(1);
      int n = ref.size() == 4 ? ref[3] - '1' : -1;
      piece = n >= 0 && n < 3 && n < e.argc ? mold_flat(e.args[n], 80) : "???";
    }
    if (!first) out += ' ';
    out += piece;
    first = false;
  }
  out += "\n*** Where: ???";
  return out;
}

}  // namespace kiv
