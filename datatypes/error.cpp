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
#include "runtime/root_block.h"
#include "runtime/stack.h"

namespace kiv {

int32_t g_stack_trace_level = 0;

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

// The context of a category object (none: 0).
Node category_context(int32_t category_index) {
  Node errors = catalog_context();
  if (!errors || category_index < 0 || uint32_t(category_index) >= context_word_count(errors)) return 0;
  Cell* c = word_get_in(errors, category_index);
  return c->is(kTypeObject) ? object_context(c) : 0;
}

Node error_context(const Cell* error) { return object_context(error); }

// The field slot [field] of [error]'s context. Short-lived.
Cell* field_slot(const Cell* error, int32_t field) { return word_get_in(error_context(error), field); }

// The slot of the field spelled like [symbol] in the object context [ctx], or -1.
int32_t field_of_symbol(Node ctx, int32_t symbol) {
  return ctx ? context_find_symbol(ctx, symbol, true) : -1;
}

int32_t word_symbol_or_zero(const Cell* c) { return is_any_word(c->type()) ? word_symbol(c) : 0; }

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
  g_make_raised_error = [](const RaisedError& r) {
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
  };
}

Cell error_catalog() {
  Node ctx = catalog_context();
  return ctx ? *root_slot(kRootErrorCatalog) : make_cell(kTypeNone);
}

// ---------------------------------------------------------------- making errors

namespace {

// MAY ALLOCATE. A copy of the prototype with code, type and id set for
// category [c] and field [i] of that category. Pushed.
Cell* push_error_of(int32_t c, int32_t i) {
  Cell* proto = stack_push_value(*root_slot(kRootErrorPrototype));
  Node ctx = context_clone(proto, kContextObject);
  Cell* error = stack_push_value(object_of(ctx, kTypeError));
  Cell code = integer_cell(category_info(ErrorCategory(c)).code + i - 2);
  error_set_field(error, kErrorCode, &code);
  Cell type = context_node_word_at(catalog_context(), c);
  error_set_field(error, kErrorType, &type);
  Cell id = context_node_word_at(category_context(c), i);
  error_set_field(error, kErrorId, &id);
  return error;
}

}  // namespace

Cell error_create(ErrorId id, const Cell* arg1, const Cell* arg2, const Cell* arg3) {
  const ErrorInfo& info = error_info(id);
  // The arguments may sit anywhere: copied before the first allocation.
  Cell args[3];
  const Cell* given[3] = {arg1, arg2, arg3};
  for (int k = 0; k < 3; k++) args[k] = given[k] ? *given[k] : make_cell(kTypeNone);
  StackSave save;
  Cell* kept = stack_push_value(args[0]);
  stack_push_value(args[1]);
  stack_push_value(args[2]);
  Cell* error = push_error_of(info.category, info.field);
  for (int k = 0; k < 3; k++) error_set_field(error, ErrorField(kErrorArg1 + k), kept + k);
  Cell depth = integer_cell(int32_t(g_stack.frames_top - g_stack.frames_base));
  error_set_field(error, kErrorStack, &depth);
  if (g_current_code) {
    Cell near = g_current_code();
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

namespace {

[[noreturn]] void raise_expect_arg(const Cell* function, TypeId type, const Cell* argument) {
  Cell datatype = datatype_cell(type);
  raise_error(kErrScriptExpectArg, function, &datatype, argument);
}

}  // namespace

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

void error_capture_stack(const Cell* error_arg) {
  StackSave save;
  Cell* error = stack_push_cell(error_arg);
  if (!error->is(kTypeError)) return;
  Cell depth = *field_slot(error, kErrorStack);
  if (!depth.is(kTypeInteger)) return;
  Cell* block = block_push_only(20);
  each_listed_frame(g_stack_trace_level > 0 ? g_stack_trace_level : 1, uint32_t(integer_get(&depth)),
                    [&](uint32_t s) {
                      StackSave hold;
                      Cell* word = stack_push_value(context_global_word(int32_t(s)));
                      block_append_value(block, word);
                    });
  error_set_field(error, kErrorStack, block);
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
  Cell* fixed = push_error_of(kErrCatInternal, error_info(kErrInternalInvalidError).field);
  error_set_field(error, kErrorType, field_slot(fixed, kErrorType));
  error_set_field(error, kErrorId, field_slot(fixed, kErrorId));
  error_set_field(error, kErrorCode, field_slot(fixed, kErrorCode));
  error_set_field(error, kErrorArg1, bad);
}

// The category context and template of [error], turning it into internal
// invalid-error when the catalogue has neither. The template is pushed.
Node resolve_template(Cell* error, Cell** templ) {
  for (int attempt = 0; attempt < 3; attempt++) {
    Node category = 0;
    int32_t c = field_of_symbol(catalog_context(), error_type_symbol(error));
    if (c >= 0) category = category_context(c);
    if (!category) {
      make_invalid(error, field_slot(error, kErrorType));
      continue;
    }
    int32_t i = field_of_symbol(category, error_id_symbol(error));
    if (i < 2) {
      make_invalid(error, field_slot(error, kErrorId));
      continue;
    }
    *templ = stack_push_cell(word_get_in(category, i));
    int32_t field;
    // A template naming another field of the category is that field's value;
    // arg1, arg2 and arg3 are the error's own (the user message).
    if ((*templ)->is(kTypeWord) && !arg_symbol_q(word_symbol(*templ), &field)) {
      int32_t other = field_of_symbol(category, word_symbol(*templ));
      if (other >= 0) **templ = *word_get_in(category, other);
    }
    return category;
  }
  return 0;
}

}  // namespace

std::string error_report(const Cell* error_arg, int32_t limit) {
  StackSave save;
  Cell* error = stack_push_cell(error_arg);
  std::string out = "*** ";
  Cell* templ = nullptr;
  Node category = resolve_template(error, &templ);
  if (!category) return out;
  Cell* title = word_get_in(category, 1);
  out += title->is(kTypeString) ? string_to_utf8(title) : "";
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
  if (g_stack_trace_level > 0) {
    Cell stack = *field_slot(error, kErrorStack);
    if (stack.is(kTypeInteger)) {
      out += "\n*** Stack: ";
      each_listed_frame(g_stack_trace_level, uint32_t(integer_get(&stack)), [&](uint32_t s) {
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

void print_error(ErrorId id, const Cell* arg1, const Cell* arg2, const Cell* arg3) {
  StackSave save;
  Cell* error = stack_push_value(error_create(id, arg1, arg2, arg3));
  std::string report = error_report(error) + "\n";
  write_all(1, report.data(), report.size());
}

// ---------------------------------------------------------------- handlers

Cell* error_make(Cell* proto, const MakeArgs& args) {
  const Cell* spec = args.spec;
  StackSave save;
  Cell* error = nullptr;
  if (spec->is(kTypeInteger)) {
    int32_t n = integer_get(spec);
    int32_t c = n / 100;
    Node category = category_context(c);
    int32_t i = (n % 100 + 100) % 100 + 2;
    if (n < 0 || !category || uint32_t(i) >= context_word_count(category))
      raise_error(kErrScriptOutOfRange, spec);
    error = push_error_of(c, i);
    error_set_field(error, kErrorCode, spec);
  } else if (spec->is(kTypeBlock)) {
    int32_t n = block_total_length(spec);
    int32_t head = series_clamp_head(spec, n);
    Cell first = head < n ? *block_ks_abs_at(spec, head) : make_cell(kTypeNone);
    if (first.is(kTypeWord)) {
      int32_t c = field_of_symbol(catalog_context(), word_symbol(&first));
      if (c < 0) {
        Cell type = name_word_cell("type");
        raise_error(kErrScriptInvalidSpecField, &type);
      }
      Cell second = head + 1 < n ? *block_ks_abs_at(spec, head + 1) : make_cell(kTypeNone);
      if (!second.is(kTypeNone) && !second.is(kTypeWord)) raise_error(kErrScriptInvalidArg, &second);
      int32_t i = second.is(kTypeWord) ? field_of_symbol(category_context(c), word_symbol(&second)) : -1;
      if (i < 2) {
        Cell id = name_word_cell("id");
        raise_error(kErrScriptInvalidSpecField, &id);
      }
      error = push_error_of(c, i);
    } else if (first.is(kTypeSetWord)) {
      if (!g_object_eval_block) raise_error(kErrInternalNotDone);
      Cell* copy = stack_push_value(*root_slot(kRootErrorPrototype));
      Node ctx = context_clone(copy, kContextObject);
      error = stack_push_value(object_of(ctx, kTypeError));
      Cell* body = stack_push_cell(spec);
      context_bind_block(body, ctx, true);
      g_object_eval_block(body);
      int32_t c = field_of_symbol(catalog_context(), error_type_symbol(error));
      if (c < 0) {
        Cell type = name_word_cell("type");
        raise_error(kErrScriptInvalidSpecField, &type);
      }
      int32_t i = field_of_symbol(category_context(c), error_id_symbol(error));
      if (i < 2) {
        Cell id = name_word_cell("id");
        raise_error(kErrScriptInvalidSpecField, &id);
      }
      Cell code = integer_cell(category_info(ErrorCategory(c)).code + i - 2);
      error_set_field(error, kErrorCode, &code);
    } else {
      raise_error(kErrInternalInvalidError);
    }
  } else if (spec->is(kTypeString)) {
    error = stack_push_value(error_create(kErrUserMessage, spec));
  } else {
    raise_bad_make_arg(kTypeError, spec);
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
