// error!: error objects made from the catalogue, their report text, make,
// mold, path access and compare; the catalogue itself, built at start-up from
// runtime/errors.def.
#include "datatypes/error.h"

#include <algorithm>
#include <string>
#include <string_view>

#include "datatypes/actions.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/form.h"
#include "datatypes/integer.h"
#include "datatypes/object.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/typeset.h"
#include "datatypes/word.h"
#include "platform/process.h"
#include "runtime/hooks.h"
#include "runtime/root_block.h"
#include "runtime/stack.h"

namespace kiv {

namespace {

constexpr const char* kFieldNames[kErrorFieldCount] = {"code", "type", "id",    "arg1",  "arg2",
                                                       "arg3", "near", "where", "stack", "files"};

// The ids of each category, in field order, from the one catalogue list.
struct CatalogEntry {
  ErrorCategory category;
  const char* word;
  const char* message;
};
constexpr CatalogEntry kEntries[] = {
#define CATEGORY(ident, word, code, title)
#define ERR(cat, ident, word, message) {kErrCat##cat, word, message},
#include "runtime/errors.def"
#undef CATEGORY
#undef ERR
};

Node catalog_context() {
  Cell c = *root_slot(kRootErrorCatalog);
  return c.is(kTypeObject) ? object_context(&c) : 0;
}

// The object value of a new object context [ctx] (also kept in its self cell).
Cell object_of(Node ctx, TypeId type = kTypeObject) {
  Cell object = object_cell(ctx, 0, 0, type);
  *context_self_cell(ctx) = object;
  return object;
}

// MAY ALLOCATE. Pushes a string! holding the UTF-8 [text].
Cell* push_utf8(std::string_view text) {
  Cell* s = string_make_at(stack_push(), uint32_t(text.size()));
  string_append_utf8(s, text);
  return s;
}

// MAY ALLOCATE. Pushes the message template written in [source]: a string
// alone stays a string!, a word alone (the user message's arg1) a word!, and
// anything longer becomes a block of strings, get-words (:arg1) and words.
Cell* push_template(std::string_view source) {
  Cell result = make_cell(kTypeNone);
  {
    StackSave save;
    Cell* block = block_push_only(4);
    int32_t count = 0;
    while (!source.empty()) {
      size_t skip = source.find_first_not_of(' ');
      if (skip == std::string_view::npos) break;
      source.remove_prefix(skip);
      StackSave piece;
      Cell* value;
      if (source[0] == '"') {
        size_t end = source.find('"', 1);
        value = push_utf8(source.substr(1, end - 1));
        source.remove_prefix(end + 1);
      } else {
        size_t end = std::min(source.find(' '), source.size());
        std::string name(source.substr(0, end));
        source.remove_prefix(end);
        bool get = name[0] == ':';
        value = stack_push_value(load_word(name.c_str() + (get ? 1 : 0)));
        if (get) value->set_type(kTypeGetWord);
      }
      result = *value;
      block_append_value(block, value);
      count++;
    }
    if (count != 1) result = *block;
  }
  // The series in [result] is held by nothing but this copy until pushed;
  // nothing allocates in between.
  return stack_push_value(result);
}

// MAY ALLOCATE. Adds the field [name] with a copy of [value] to [ctx].
void add_field(Node ctx, const char* name, const Cell* value) {
  StackSave save;
  Cell* word = stack_push_value(load_word(name));
  context_add_word(ctx, word, value);
}

// MAY ALLOCATE. A new object context with room for [slots] fields, rooted by
// the caller's reach through [holder] once stored.
Node new_object_context(uint32_t slots) { return context_create(slots, false, true, 0, kContextObject); }

// ---------------------------------------------------------------- reading the catalogue
//
// Errors are made from, and reported with, the catalogue scripts see as
// system/catalog/errors, and a script may change it. So what is read there is
// checked first: a category is an object! whose field 0 (code) is an integer!
// and field 1 (type, the title) a string!; a message is a field from 2 on
// holding a string!, a block!, or a word! that names arg1-arg3 or another
// field holding a string! or a block!. A category or id that fails the check
// is taken from the runtime's own catalogue (errors.def, kEntries), which no
// script reaches: the error's type and id are then global words.

// The category at field [category_index] of the catalogue when it is one
// (see above), else 0.
Node category_context(int32_t category_index) {
  Node errors = catalog_context();
  if (!errors || category_index < 0 || uint32_t(category_index) >= context_word_count(errors)) return 0;
  Cell* c = word_get_in(errors, category_index);
  if (!c->is(kTypeObject)) return 0;
  Node category = object_context(c);
  if (context_word_count(category) < 2 || !word_get_in(category, 0)->is(kTypeInteger) ||
      !word_get_in(category, 1)->is(kTypeString))
    return 0;
  return category;
}

// The slot of the field spelled like [symbol] in the object context [ctx], or -1.
int32_t field_of_symbol(Node ctx, int32_t symbol) {
  return ctx && symbol ? context_find_symbol(ctx, symbol, true) : -1;
}

int32_t word_symbol_or_zero(const Cell* c) { return is_any_word(c->type()) ? word_symbol(c) : 0; }

bool text_template_q(const Cell* c) { return c->is(kTypeString) || c->is(kTypeBlock); }

// MAY ALLOCATE. True when field [i] of the category [category] holds a
// message the report can write (see above).
bool message_q(Node category, int32_t i) {
  if (i < 2 || uint32_t(i) >= context_word_count(category)) return false;
  Cell message = *word_get_in(category, i);
  if (text_template_q(&message)) return true;
  if (!message.is(kTypeWord)) return false;
  int32_t symbol = symbol_resolve(word_symbol(&message));
  for (const char* arg : {"arg1", "arg2", "arg3"})
    if (symbol == symbol_make_caseless(arg)) return true;
  int32_t other = field_of_symbol(category, symbol);
  return other >= 2 && text_template_q(word_get_in(category, other));
}

// The catalogue's category named by [type_symbol] and its field named by
// [id_symbol], when both can be read (see above).
struct CatalogPlace {
  int32_t category_index = -1;
  Node category = 0;
  int32_t field = -1;
};
// MAY ALLOCATE.
bool catalog_place(int32_t type_symbol, int32_t id_symbol, CatalogPlace* out) {
  out->category_index = field_of_symbol(catalog_context(), type_symbol);
  out->category = category_context(out->category_index);
  if (!out->category) return false;
  out->field = field_of_symbol(out->category, id_symbol);
  return message_q(out->category, out->field);
}

// True when the symbol [symbol] is spelled [name], ignoring ASCII case.
bool symbol_spelled_q(int32_t symbol, std::string_view name) {
  std::string_view s = symbol ? symbol_name(symbol) : std::string_view();
  return s.size() == name.size() && std::equal(s.begin(), s.end(), name.begin(), [](char a, char b) {
           return (a >= 'A' && a <= 'Z' ? a | 0x20 : a) == (b >= 'A' && b <= 'Z' ? b | 0x20 : b);
         });
}

// The runtime's own entry named [type_symbol] and [id_symbol], or kErrorIdCount.
ErrorId own_error_named(int32_t type_symbol, int32_t id_symbol) {
  for (int id = 0; id < kErrorIdCount; id++) {
    const ErrorInfo& e = error_info(ErrorId(id));
    if (symbol_spelled_q(id_symbol, e.word) && symbol_spelled_q(type_symbol, category_info(e.category).word))
      return ErrorId(id);
  }
  return kErrorIdCount;
}

// True when [type_symbol] names a category of the catalogue or of the runtime's own.
bool category_known_q(int32_t type_symbol) {
  if (category_context(field_of_symbol(catalog_context(), type_symbol))) return true;
  for (int c = 0; c < kErrCategoryCount; c++)
    if (symbol_spelled_q(type_symbol, category_info(ErrorCategory(c)).word)) return true;
  return false;
}

// The runtime's own entry at category [c] and field [field], or kErrorIdCount.
ErrorId own_error_at(int32_t c, int32_t field) {
  for (int id = 0; id < kErrorIdCount; id++) {
    const ErrorInfo& e = error_info(ErrorId(id));
    if (e.category == c && e.field == field) return ErrorId(id);
  }
  return kErrorIdCount;
}

Node error_context(const Cell* error) { return object_context(error); }

// The field slot [field] of [error]'s context. Short-lived.
Cell* field_slot(const Cell* error, int32_t field) { return word_get_in(error_context(error), field); }

}  // namespace

// ---------------------------------------------------------------- the catalogue

void error_catalog_init() {
  if (catalog_context()) return;
  StackSave save;
  Node errors = new_object_context(kErrCategoryCount);
  *root_slot(kRootErrorCatalog) = object_of(errors);
  for (int c = 0; c < kErrCategoryCount; c++) {
    const CategoryInfo& info = category_info(ErrorCategory(c));
    uint32_t ids = 0;
    for (const CatalogEntry& e : kEntries) ids += e.category == c;
    Node category = new_object_context(ids + 2);
    {
      StackSave hold;
      Cell* object = stack_push_value(object_of(category));
      add_field(errors, info.word, object);
    }
    Cell code = integer_cell(info.code);
    add_field(category, "code", &code);
    {
      StackSave hold;
      add_field(category, "type", push_utf8(info.title));
    }
    for (const CatalogEntry& e : kEntries) {
      if (e.category != c) continue;
      StackSave hold;
      add_field(category, e.word, push_template(e.message));
    }
  }
  // The prototype every error copies: the ten fields, all none.
  Node proto = new_object_context(kErrorFieldCount);
  *root_slot(kRootErrorPrototype) = object_of(proto, kTypeError);
  Cell none = make_cell(kTypeNone);
  for (const char* name : kFieldNames) add_field(proto, name, &none);
}

Cell error_make_raised(const RaisedError& r) {
  if (!root_slot(kRootErrorPrototype)->is(kTypeError)) return make_cell(kTypeNone);
  Cell e = error_create(r.id, &r.args[0], &r.args[1], &r.args[2]);
  StackSave save;
  Cell* error = stack_push_value(e);
  Cell depth = integer_cell(int32_t(r.frame_depth));
  error_set_field(error, kErrorStack, &depth);
  error_set_field(error, kErrorNear, &r.near);
  if (r.where && r.where <= symbol_count()) {
    Cell where = context_global_word(int32_t(r.where));
    error_set_field(error, kErrorWhere, &where);
  }
  return *error;
}

Cell error_catalog() {
  Node ctx = catalog_context();
  return ctx ? *root_slot(kRootErrorCatalog) : make_cell(kTypeNone);
}

// ---------------------------------------------------------------- making errors

namespace {

// MAY ALLOCATE. A copy of the prototype with [code] and the category and id
// of [place] (words bound to the catalogue) set. Pushed.
Cell* push_error_at(const CatalogPlace& place, int32_t code) {
  Cell* proto = stack_push_value(*root_slot(kRootErrorPrototype));
  Node ctx = context_clone(proto, kContextObject);
  Cell* error = stack_push_value(object_of(ctx, kTypeError));
  Cell code_cell = integer_cell(code);
  error_set_field(error, kErrorCode, &code_cell);
  Cell type = context_node_word_at(catalog_context(), place.category_index);
  error_set_field(error, kErrorType, &type);
  Cell id = context_node_word_at(place.category, place.field);
  error_set_field(error, kErrorId, &id);
  return error;
}

// MAY ALLOCATE. A copy of the prototype for the runtime's entry [id]: its
// category and id as the catalogue holds them, or (when it cannot be read
// there) as global words of the runtime's own catalogue. Pushed.
Cell* push_error_of(ErrorId id) {
  const ErrorInfo& info = error_info(id);
  CatalogPlace place;
  if (catalog_place(symbol_make(category_info(info.category).word), symbol_make(info.word), &place))
    return push_error_at(place, error_code(id));
  Cell* proto = stack_push_value(*root_slot(kRootErrorPrototype));
  Node ctx = context_clone(proto, kContextObject);
  Cell* error = stack_push_value(object_of(ctx, kTypeError));
  Cell code = integer_cell(error_code(id));
  error_set_field(error, kErrorCode, &code);
  Cell type = load_word(category_info(info.category).word);
  error_set_field(error, kErrorType, &type);
  Cell id_word = load_word(info.word);
  error_set_field(error, kErrorId, &id_word);
  return error;
}

}  // namespace

Cell error_create(ErrorId id, const Cell* arg1, const Cell* arg2, const Cell* arg3) {
  // The arguments may sit anywhere: copied before the first allocation.
  Cell args[3];
  const Cell* given[3] = {arg1, arg2, arg3};
  for (int k = 0; k < 3; k++) args[k] = given[k] ? *given[k] : make_cell(kTypeNone);
  StackSave save;
  Cell* kept = stack_push_value(args[0]);
  stack_push_value(args[1]);
  stack_push_value(args[2]);
  Cell* error = push_error_of(id);
  for (int k = 0; k < 3; k++) error_set_field(error, ErrorField(kErrorArg1 + k), kept + k);
  Cell depth = integer_cell(int32_t(g_stack.frames_top - g_stack.frames_base));
  error_set_field(error, kErrorStack, &depth);
  if (g_hooks.current_code) {
    Cell near = g_hooks.current_code();
    error_set_field(error, kErrorNear, &near);
  }
  return *error;
}

Cell error_field(const Cell* error, ErrorField field) { return *field_slot(error, field); }

void error_set_field(const Cell* error, ErrorField field, const Cell* value) {
  *field_slot(error, field) = *value;
}

void error_set_where(const Cell* error, const Cell* value) {
  if (field_slot(error, kErrorWhere)->is(kTypeNone)) error_set_field(error, kErrorWhere, value);
}

int32_t error_type_symbol(const Cell* error) { return word_symbol_or_zero(field_slot(error, kErrorType)); }
int32_t error_id_symbol(const Cell* error) { return word_symbol_or_zero(field_slot(error, kErrorId)); }

[[noreturn]] void raise_bad_make_arg(TypeId type, const Cell* spec) {
  Cell datatype = datatype_cell(type);
  raise_error(kErrScriptBadMakeArg, &datatype, spec);
}

// ---------------------------------------------------------------- argument checks

void raise_expect_arg(const Cell* function, TypeId type, const Cell* argument) {
  Cell where = function ? *function : where_word_cell();
  Cell datatype = datatype_cell(type);
  raise_error(kErrScriptExpectArg, &where, &datatype, argument);
}

const Cell* check_arg_type(const Cell* function, const Cell* argument, const Cell* types, const Cell* value) {
  if (!typeset_has_q(types, value->type())) raise_expect_arg(function, value->type(), argument);
  return value;
}

const Cell* check_arg_not_unset(const Cell* function, const Cell* argument, const Cell* value) {
  if (value->is(kTypeUnset)) raise_expect_arg(function, kTypeUnset, argument);
  return value;
}

// ---------------------------------------------------------------- the call stack

namespace {

// The frames listed up to [depth]: at level 1 the named function frames, at
// higher levels every named frame.
template <class Each>
void each_listed_frame(int32_t level, uint32_t depth, Each each) {
  uint32_t in_use = uint32_t(g_stack.frames_top - g_stack.frames_base);
  CallFrame* end = g_stack.frames_base + std::min(depth, in_use);
  for (CallFrame* f = g_stack.frames_base; f < end; f++) {
    uint32_t s = f->symbol();
    if (s == 0 || s == g_stack.body_symbol || s == g_stack.anon_symbol) continue;
    if (level <= 1 && f->kind() != kFrameFunction) continue;
    each(s);
  }
}

}  // namespace

int32_t error_stack_trace_level() {
  StackSave save;
  Cell* level = push_system_value({"state", "stack-trace"});
  return level->is(kTypeInteger) ? integer_get(level) : 0;
}

void error_capture_stack(const Cell* error_arg) {
  StackSave save;
  Cell* error = stack_push_cell(error_arg);
  if (!error->is(kTypeError)) return;
  Cell depth = *field_slot(error, kErrorStack);
  if (!depth.is(kTypeInteger)) return;
  Cell* block = block_push_only(20);
  const int32_t level = error_stack_trace_level();
  each_listed_frame(level > 0 ? level : 1, uint32_t(integer_get(&depth)), [&](uint32_t s) {
    StackSave hold;
    Cell* word = stack_push_value(context_global_word(int32_t(s)));
    block_append_value(block, word);
  });
  error_set_field(error, kErrorStack, block);
  Cell* files = push_system_value({"state", "source-files"});
  if (files->is(kTypeBlock) && series_total_cells(files) > files->head())
    error_set_field(error, kErrorFiles, block_clone(files, false, false));
}

// ---------------------------------------------------------------- the report

namespace {

// MAY ALLOCATE. [value] molded flat (with /only when [only]) or formed, cut to
// [limit] code points.
std::string text_of(const Cell& value, bool form, bool only, int32_t limit) {
  StackSave save;
  open_native_frame({g_stack.body_symbol, 0});
  Cell* v = stack_push_value(value);
  Cell* buffer = string_make_at(stack_push(), 16);
  if (form) {
    FormArgs args;
    args.buffer = buffer;
    args.limit = limit;
    action_form(v, args);
  } else {
    MoldArgs args;
    args.buffer = buffer;
    args.limit = limit;
    args.flat = true;
    args.only = only;
    action_mold(v, args);
  }
  string_truncate(buffer, limit);
  return string_to_utf8(buffer);
}

bool arg_symbol_q(int32_t symbol, int32_t* field) {
  for (int k = 0; k < 3; k++) {
    if (symbol == symbol_make(kFieldNames[kErrorArg1 + k])) {
      *field = kErrorArg1 + k;
      return true;
    }
  }
  return false;
}

// Makes [error] internal invalid-error with [offender] as arg1.
void make_invalid(Cell* error, const Cell* offender) {
  StackSave save;
  Cell* bad = stack_push_cell(offender);
  Cell* fixed = push_error_of(kErrInternalInvalidError);
  error_set_field(error, kErrorType, field_slot(fixed, kErrorType));
  error_set_field(error, kErrorId, field_slot(fixed, kErrorId));
  error_set_field(error, kErrorCode, field_slot(fixed, kErrorCode));
  error_set_field(error, kErrorArg1, bad);
}

// The title and template of [error]'s category and id, read from the
// catalogue or, when it cannot be read there, from the runtime's own; an
// error neither knows becomes internal invalid-error. Both are pushed.
void resolve_template(Cell* error, Cell** title, Cell** templ) {
  for (;;) {
    int32_t type_symbol = error_type_symbol(error);
    int32_t id_symbol = error_id_symbol(error);
    CatalogPlace place;
    if (catalog_place(type_symbol, id_symbol, &place)) {
      *title = stack_push_cell(word_get_in(place.category, 1));
      *templ = stack_push_cell(word_get_in(place.category, place.field));
      int32_t field;
      // A template naming another field of the category is that field's value;
      // arg1, arg2 and arg3 are the error's own (the user message).
      if ((*templ)->is(kTypeWord) && !arg_symbol_q(word_symbol(*templ), &field)) {
        int32_t other = field_of_symbol(place.category, word_symbol(*templ));
        **templ = *word_get_in(place.category, other);
      }
      return;
    }
    ErrorId own = own_error_named(type_symbol, id_symbol);
    if (own != kErrorIdCount) {
      *title = push_utf8(category_info(error_info(own).category).title);
      *templ = push_template(error_info(own).message);
      return;
    }
    // The next round finds internal invalid-error, in one catalogue or the other.
    make_invalid(error, field_slot(error, category_known_q(type_symbol) ? kErrorId : kErrorType));
  }
}

}  // namespace

std::string error_report(const Cell* error_arg, int32_t limit) {
  StackSave save;
  Cell* error = stack_push_cell(error_arg);
  std::string out = "*** ";
  Cell* title = nullptr;
  Cell* templ = nullptr;
  resolve_template(error, &title, &templ);
  out += string_to_utf8(title);
  out += ": ";
  const bool syntax = error_type_symbol(error) == symbol_make("syntax");
  auto argument = [&](int32_t symbol) -> std::string {
    int32_t field = field_of_symbol(error_context(error), symbol);
    Cell value = field >= 0 ? *field_slot(error, field) : make_cell(kTypeNone);
    return text_of(value, syntax, false, 80);
  };
  if (templ->is(kTypeString)) {
    out += string_to_utf8(templ);
  } else if (templ->is(kTypeWord)) {
    int32_t field;
    if (arg_symbol_q(word_symbol(templ), &field))
      out += text_of(*field_slot(error, field), true, false, kNoLimit);
  } else if (templ->is(kTypeBlock)) {
    int32_t n = block_total_length(templ);
    for (int32_t k = series_clamp_head(templ, n); k < n; k++) {
      Cell element = *block_ks_abs_at(templ, k);
      if (k > templ->head()) out += ' ';
      if (element.is(kTypeString))
        out += string_to_utf8(&element);
      else if (element.is(kTypeWord) || element.is(kTypeGetWord))
        out += argument(word_symbol(&element));
    }
  } else {
    make_invalid(error, templ);
  }
  out += "\n*** Where: ";
  Cell where = *field_slot(error, kErrorWhere);
  if (where.is(kTypeWord))
    out += symbol_name(word_symbol(&where));
  else if (where.is(kTypeString))
    out += string_to_utf8(&where);
  else
    out += "???";
  out += "\n*** Near : ";
  out += text_of(*field_slot(error, kErrorNear), false, true, 40);
  const int32_t level = error_stack_trace_level();
  if (level > 0) {
    Cell stack = *field_slot(error, kErrorStack);
    if (stack.is(kTypeInteger)) {
      out += "\n*** Stack: ";
      each_listed_frame(level, uint32_t(integer_get(&stack)), [&](uint32_t s) {
        out += symbol_name(int32_t(s));
        out += ' ';
      });
    } else if (stack.is(kTypeBlock)) {
      out += "\n*** Stack: ";
      out += text_of(stack, true, false, kNoLimit);
    }
  }
  Cell files = *field_slot(error, kErrorFiles);
  if (files.is(kTypeBlock)) {
    out += "\n*** Files: ";
    out += text_of(files, false, true, 40);
  }
  if (limit >= 0 && limit != kNoLimit) {
    StackSave cut;
    Cell* s = push_utf8(out);
    string_truncate(s, limit);
    out = string_to_utf8(s);
  }
  return out;
}

std::string error_plain_report(const Cell* error) {
  int32_t type = error_type_symbol(error);
  int32_t id = error_id_symbol(error);
  std::string title = type ? std::string(symbol_name(type)) + " error" : "Error";
  for (int c = 0; c < kErrCategoryCount; c++)
    if (symbol_spelled_q(type, category_info(ErrorCategory(c)).word))
      title = category_info(ErrorCategory(c)).title;
  return "*** " + title + ": " + (id ? std::string(symbol_name(id)) : std::string("unknown error"));
}

void print_error(ErrorId id, const Cell* arg1, const Cell* arg2, const Cell* arg3) {
  StackSave save;
  Cell* error = stack_push_value(error_create(id, arg1, arg2, arg3));
  std::string report = error_report(error) + "\n";
  write_all(1, report.data(), report.size());
}

// ---------------------------------------------------------------- handlers

namespace {

// MAY ALLOCATE. Finds the category and id named [type_symbol] and
// [id_symbol]: in the catalogue (fills [*place], true) or else in the
// runtime's own (sets [*own], false). Neither: script invalid-spec-field
// with the word type, or id when the category is known.
bool find_named(int32_t type_symbol, int32_t id_symbol, CatalogPlace* place, ErrorId* own) {
  if (catalog_place(type_symbol, id_symbol, place)) return true;
  *own = own_error_named(type_symbol, id_symbol);
  if (*own != kErrorIdCount) return false;
  Cell field = name_word_cell(category_known_q(type_symbol) ? "id" : "type");
  raise_error(kErrScriptInvalidSpecField, &field);
}

}  // namespace

bool error_code_known_q(int32_t code) {
  if (code < 0) return false;
  CatalogPlace place;
  place.category_index = code / 100;
  place.category = category_context(place.category_index);
  place.field = code % 100 + 2;
  return (place.category && message_q(place.category, place.field)) ||
         own_error_at(place.category_index, place.field) != kErrorIdCount;
}

Cell* error_make(Cell* proto, const MakeArgs& args) {
  const Cell* spec = args.spec;
  StackSave save;
  Cell* error = nullptr;
  if (spec->is(kTypeInteger)) {
    int32_t n = integer_get(spec);
    if (n < 0) raise_error(kErrScriptOutOfRange, spec);
    CatalogPlace place;
    place.category_index = n / 100;
    place.category = category_context(place.category_index);
    place.field = n % 100 + 2;
    if (place.category && message_q(place.category, place.field)) {
      error = push_error_at(place, n);
    } else {
      ErrorId own = own_error_at(place.category_index, place.field);
      if (own == kErrorIdCount) raise_error(kErrScriptOutOfRange, spec);
      error = push_error_of(own);
      error_set_field(error, kErrorCode, spec);
    }
  } else if (spec->is(kTypeBlock)) {
    int32_t n = block_total_length(spec);
    int32_t head = series_clamp_head(spec, n);
    Cell first = head < n ? *block_ks_abs_at(spec, head) : make_cell(kTypeNone);
    if (first.is(kTypeWord)) {
      if (!category_known_q(word_symbol(&first))) {
        Cell type = name_word_cell("type");
        raise_error(kErrScriptInvalidSpecField, &type);
      }
      Cell second = head + 1 < n ? *block_ks_abs_at(spec, head + 1) : make_cell(kTypeNone);
      if (!second.is(kTypeNone) && !second.is(kTypeWord)) raise_error(kErrScriptInvalidArg, &second);
      CatalogPlace place;
      ErrorId own = kErrorIdCount;
      if (find_named(word_symbol(&first), word_symbol_or_zero(&second), &place, &own))
        error = push_error_at(place, place.category_index * 100 + place.field - 2);
      else
        error = push_error_of(own);
    } else if (first.is(kTypeSetWord)) {
      if (!g_hooks.object_eval_block) raise_error(kErrInternalNotDone);
      Cell* copy = stack_push_value(*root_slot(kRootErrorPrototype));
      Node ctx = context_clone(copy, kContextObject);
      error = stack_push_value(object_of(ctx, kTypeError));
      Cell* body = stack_push_cell(spec);
      context_bind_block(body, ctx, true);
      g_hooks.object_eval_block(body);
      CatalogPlace place;
      ErrorId own = kErrorIdCount;
      Cell code = integer_cell(find_named(error_type_symbol(error), error_id_symbol(error), &place, &own)
                                   ? place.category_index * 100 + place.field - 2
                                   : error_code(own));
      error_set_field(error, kErrorCode, &code);
    } else {
      raise_error(kErrInternalInvalidError);
    }
  } else if (spec->is(kTypeString)) {
    error = stack_push_value(error_create(kErrUserMessage, spec));
  } else {
    raise_bad_make_arg(kTypeError, spec);
  }
  // Where it was made, as the runtime's own errors record it (unless the
  // spec set it).
  if (field_slot(error, kErrorNear)->is(kTypeNone) && g_hooks.current_code) {
    Cell near = g_hooks.current_code();
    error_set_field(error, kErrorNear, &near);
  }
  *proto = *error;
  return proto;
}

int32_t error_form(Cell* value, const FormArgs& args) {
  return args.limit - string_append_utf8(args.buffer, error_report(value));
}

int32_t error_mold(Cell* value, const MoldArgs& args) { return object_mold_as(value, args, "make error! ["); }

Cell* error_eval_path(Cell* parent, const EvalPathArgs& args) {
  EvalPathFn object_step = actions_of(kTypeObject).eval_path;
  if (!object_step) raise_error(kErrInternalNotDone);
  return object_step(parent, args);
}

int error_compare(Cell* value, const CompareArgs& args) {
  if (!args.value2->is(kTypeError)) return kNotComparable;
  CompareFn object_compare = actions_of(kTypeObject).compare;
  if (!object_compare) return object_context(value) == object_context(args.value2) ? 0 : 1;
  // Both are compared as objects, their type ids restored afterwards.
  Cell a = *value, b = *args.value2;
  a.set_type(kTypeObject);
  b.set_type(kTypeObject);
  StackSave save;
  Cell* x = stack_push_value(a);
  CompareArgs as_objects = args;
  as_objects.value2 = stack_push_value(b);
  return object_compare(x, as_objects);
}

void error_datatype_init() {
  ActionSlots row;
  row.make = error_make;
  row.form = error_form;
  row.mold = error_mold;
  row.eval_path = error_eval_path;
  row.compare = error_compare;
  row.reflect = kInherit;
  row.copy = kInherit;
  row.find = kInherit;
  row.select = kInherit;
  register_datatype({kTypeError, kTypeObject, "error!", kActionCount, row});
}

}  // namespace kiv
