// The error tables built from errors.def, and the raise path.
#include "runtime/errors.h"

#include "datatypes/string.h"
#include "evaluator/actions.h"
#include "evaluator/stack.h"
#include "runtime/collector.h"
#include "runtime/exits.h"

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

}  // namespace

const ErrorInfo& error_info(ErrorId id) { return kErrors.e[id]; }
const CategoryInfo& category_info(ErrorCategory c) { return kCategories[c]; }

int error_code(ErrorId id) {
  const ErrorInfo& e = kErrors.e[id];
  return kCategories[e.category].code + e.field - 2;
}

const RaisedError& last_raised_error() { return g_raised; }

namespace {
void mark_raised_error() { gc_mark_cells(g_raised.args, g_raised.args + 3); }
}  // namespace

void raised_error_init() { add_mark_callback(mark_raised_error); }

void raise_error(ErrorId id, const Cell* arg1, const Cell* arg2, const Cell* arg3) {
  g_raised.id = id;
  g_raised.argc = arg3 ? 3 : arg2 ? 2 : arg1 ? 1 : 0;
  const Cell* args[3] = {arg1, arg2, arg3};
  for (int i = 0; i < 3; i++)
    g_raised.args[i] = args[i] ? *args[i] : make_cell(kTypeNone);
  stack_throw_error();
}

namespace {

// Molds [value] flat, cut to [limit] code points.
std::string mold_flat(Cell value, int32_t limit) {
  StackSave save;
  Cell* v = stack_push_value(value);
  Cell* buffer = string_make_at(stack_push(), 16);
  action_mold(v, buffer, false, false, true, nullptr, limit, 0);
  string_truncate(buffer, limit);
  return string_to_utf8(buffer);
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
