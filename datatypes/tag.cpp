// tag!, email! and ref!: text values with string!'s cell and buffer
// (datatypes/string.h), type ids 44, 45 and 50, each a string! in storage and
// behaviour. The text excludes the delimiters: a tag holds what stands between
// "<" and ">", a ref what follows "@". What differs from string!:
// - tag!: form and mold both write "<", the text, ">";
// - email!: mold writes the text as it is; path access reads and sets the
//   `user` (before the first "@") and `host` (after it) parts;
// - ref!: mold writes "@" and the text; no path access and no append.
// Each writer of the budget takes one unit of it per delimiter written.
#include <algorithm>

#include "datatypes/actions.h"
#include "datatypes/char.h"
#include "datatypes/integer.h"
#include "datatypes/registry.h"
#include "datatypes/runtime_words.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/stack.h"

namespace kiv {

namespace {

// ---------------------------------------------------------------- form and mold

// "<", the text as string!'s form writes it within the budget less one, ">".
int32_t tag_form(Cell* value, const FormArgs& args) {
  append_char(args.buffer->node(), '<');
  FormArgs inner = args;
  inner.limit = args.limit - 1;
  int32_t limit = string_form(value, inner);
  append_char(args.buffer->node(), '>');
  return limit - 1;
}

int32_t tag_mold(Cell* value, const MoldArgs& args) { return tag_form(value, form_args_of(args)); }

int32_t email_mold(Cell* value, const MoldArgs& args) { return string_form(value, form_args_of(args)); }

// "@", then the text within the budget less one.
int32_t ref_mold(Cell* value, const MoldArgs& args) {
  append_char(args.buffer->node(), '@');
  FormArgs inner = form_args_of(args);
  inner.limit = args.limit - 1;
  return string_form(value, inner);
}

// ---------------------------------------------------------------- email! path access

// MAY ALLOCATE. Pushes a new string! holding the [count] code points of
// [email] from absolute index [start].
Cell* push_part(const Cell* email, int32_t start, int32_t count) {
  Cell* out = string_make_at(stack_push(), uint32_t(count));
  Cell from = *email;
  from.set_head(start);
  string_concatenate(out, &from, count, 0, ConcatMode::kAppend);
  return out;
}

// MAY ALLOCATE, MAY RUN KIV CODE. Replaces the [count] code points of [email]
// from absolute index [start] by [value] as change/part does.
void change_part(const Cell* email, int32_t start, int32_t count, Cell* value) {
  Cell* at = stack_push_cell(email);
  string_set_conversion_node(at, 0);
  at->set_head(start);
  ChangeArgs change;
  change.value = value;
  change.part.arg = stack_push_value(integer_cell(count));
  change.part.count = count;
  action_handler<&ActionSlots::change>(kTypeEmail, kActionChange)(at, change);
}

// Path access on an email!: the words `user` and `host` read a new string!
// of the text before the first "@" or after it (the whole text and an empty
// string without one), and set that part in place; an integer! is string!'s
// pick and poke. Setting the host of an address without "@" puts an "@"
// before it, so that the value read back is the one set.
Cell* email_eval_path(Cell* email, const EvalPathArgs& args) {
  const Cell* where = args.path ? args.path : email;
  const Cell* element = args.element;
  if (element->is(kTypeInteger))
    return action_handler<&ActionSlots::eval_path>(kTypeString, kActionEvalPath)(email, args);
  bool user = false;
  if (element->is(kTypeWord)) {
    int32_t symbol = word_symbol(element);
    user = runtime_symbol_q(symbol, kSymUser);
    if (!user && !runtime_symbol_q(symbol, kSymHost)) raise_error(kErrScriptInvalidPath, where, element);
  } else {
    raise_error(kErrScriptInvalidPath, where, element);
  }
  const int32_t head = string_head_index(email);
  const int32_t length = string_length(email);
  int32_t at = string_find_char(email, '@');
  const bool has_at = at >= 0;
  if (!has_at) at = length;
  const int32_t start = user ? head : has_at ? head + at + 1 : head + length;
  const int32_t count = user ? at : length - std::min(length, at + 1);
  if (!args.value) return push_part(email, start, count);
  if (!user && !has_at) {
    Cell* sign = stack_push_value(char_cell('@'));
    change_part(email, start, 0, sign);
    change_part(email, start + 1, 0, args.value);
  } else {
    change_part(email, start, count, args.value);
  }
  return args.value;
}

}  // namespace

// ---------------------------------------------------------------- registration

void tag_datatype_init() {
  ActionSlots slots = string_text_slots();
  slots.form = tag_form;
  slots.mold = tag_mold;
  register_datatype({kTypeTag, kTypeString, "tag!", kActionCount, slots});
}

void email_datatype_init() {
  ActionSlots slots = string_text_slots();
  slots.mold = email_mold;
  slots.eval_path = email_eval_path;
  register_datatype({kTypeEmail, kTypeString, "email!", kActionCount, slots});
}

void ref_datatype_init() {
  ActionSlots slots = string_text_slots();
  slots.mold = ref_mold;
  slots.eval_path = nullptr;
  slots.append = nullptr;
  register_datatype({kTypeRef, kTypeString, "ref!", kActionCount, slots});
}

}  // namespace kiv
