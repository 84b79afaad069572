// The routines (routines.h): their entries, and the table that registers
// each under its id (library/routines.def) and binds its value.
#include "library/routines.h"

#include <climits>
#include <iterator>
#include <string>
#include <vector>

#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/builtin_spec.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/error.h"
#include "datatypes/file.h"
#include "datatypes/float.h"
#include "datatypes/function.h"
#include "datatypes/image.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/money.h"
#include "datatypes/object.h"
#include "datatypes/registry.h"
#include "datatypes/runtime_words.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/tuple.h"
#include "datatypes/typeset.h"
#include "datatypes/word.h"
#include "evaluator/interpreter.h"
#include "evaluator/lexer.h"
#include "evaluator/print_output.h"
#include "evaluator/routines.h"
#include "library/image_codecs.h"
#include "library/routine_args.h"
#include "library/series_replace.h"
#include "platform/process.h"
#include "platform/stdio.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/gc_root.h"
#include "runtime/stack.h"
#include "runtime/typesets.h"
#include "runtime/unicode.h"
#include "services/clipboard.h"
#include "services/console_output.h"
#include "services/file_access.h"
#include "services/os_services.h"

namespace kiv {

// ---------------------------------------------------------------- readers

// ---------------------------------------------------------------- the routines

// Output still held is written out and checked first (conout_finish).
KIV_ROUTINE(QuitReturn) {
  conout_finish();
  process_exit(integer_get(a.status));
}

// MAY RUN KIV CODE (none: the change events are not called). Stores the value
// into the word's slot of its context as it stands; returns the value.
KIV_ROUTINE(SetQuiet) {
  if (!is_any_word(a.word->type())) {
    Cell argument = name_word_cell("word");
    raise_expect_arg(nullptr, a.word->type(), &argument);
  }
  if (!word_context(a.word)) raise_error(kErrScriptNotDefined, a.word);
  context_set_in(a.word, a.value, word_context(a.word), false);
  return native_result(*a.value);
}

// Writes the value into the cell at the series' position, telling no owner.
KIV_ROUTINE(SetSlotQuiet) {
  TypeId t = a.series->type();
  if (t != kTypeBlock && t != kTypeParen && !is_any_path(t)) {
    Cell argument = name_word_cell("series");
    raise_expect_arg(nullptr, t, &argument);
  }
  int32_t total = series_total_cells(a.series);
  int32_t at = series_clamp_head(a.series, total);
  if (at < total) series_buffer_of(a.series)->head_cell()[at] = *a.value;
  return native_result(kUnsetCell);
}

// The shifts: right, left and logical right.
KIV_ROUTINE(ShiftRight) {
  return native_result(integer_cell(integer_shift(integer_get(a.data), integer_get(a.bits), false, false)));
}
KIV_ROUTINE(ShiftLeft) {
  return native_result(integer_cell(integer_shift(integer_get(a.data), integer_get(a.bits), true, false)));
}
KIV_ROUTINE(ShiftLogical) {
  return native_result(integer_cell(integer_shift(integer_get(a.data), integer_get(a.bits), false, true)));
}

KIV_ROUTINE(LastLfQ) { return native_result(logic_cell(g_last_newline != 0)); }

KIV_ROUTINE(GetCurrentDir) { return native_result(*current_dir_file()); }

KIV_ROUTINE(SetCurrentDir) {
  if (!set_current_dir(a.path)) raise_error(kErrAccessCannotOpen, a.path);
  return native_result(kUnsetCell);
}

KIV_ROUTINE(CreateDir) {
  // A directory that stood there already is refused too.
  if (!make_directory(a.path)) raise_error(kErrAccessNoCreate, a.path);
  return native_result(kUnsetCell);
}

KIV_ROUTINE(ExistsQ) { return native_result(logic_cell(file_exists(a.path))); }

KIV_ROUTINE(OsInfo) { return native_result(*os_info_object()); }

namespace {

// The integer! [components] in order; raises script invalid-arg with the
// first negative one.
void check_components(std::initializer_list<const Cell*> components) {
  for (const Cell* c : components)
    if (integer_get(c) < 0) raise_error(kErrScriptInvalidArg, c);
}

// Four components added into one word at 8-bit steps: one above 255 carries
// into the next byte.
Status four_components(const Cell* a, const Cell* b, const Cell* c, const Cell* d) {
  check_components({a, b, c, d});
  uint32_t word = 0, shift = 0;
  for (const Cell* x : {a, b, c, d}) {
    word += uint32_t(integer_get(x)) << shift;
    shift += 8;
  }
  return native_result(tuple_cell(4, word));
}

}  // namespace

// Three components, each taken modulo 256.
KIV_ROUTINE(AsColor) {
  check_components({a.r, a.g, a.b});
  uint32_t word = 0, shift = 0;
  for (const Cell* x : {a.r, a.g, a.b}) {
    word |= (uint32_t(integer_get(x)) & 0xFF) << shift;
    shift += 8;
  }
  return native_result(tuple_cell(3, word));
}

KIV_ROUTINE(AsIpv4) { return four_components(a.a, a.b, a.c, a.d); }
KIV_ROUTINE(AsRgba) { return four_components(a.r, a.g, a.b, a.a); }

// Characters from start's position up to pos's, the end kept between the
// start and the tail; a sequence cut off by the end counts as one.
KIV_ROUTINE(CountChars) {
  if (a.start->node() != a.pos->node()) raise_error(kErrScriptInvalidArg, a.pos);
  int32_t total = series_total_length(a.start);
  int32_t from = series_clamp_head(a.start, total);
  int32_t to = series_clamp_head(a.pos, total);
  if (to < from) to = from;
  const uint8_t* base = series_unit_at(series_buffer_of(a.start), 0);
  return native_result(integer_cell(utf8_count_chars(base + from, base + to)));
}

KIV_ROUTINE(StackSizeQ) { return native_result(integer_cell(int32_t(g_stack.top - g_stack.bottom))); }

// Data-stack cell [idx] counted from 1 at the bottom, or none outside 1 to
// the stack size less one.
KIV_ROUTINE(PickStack) {
  int32_t idx = integer_get(a.idx);
  int32_t size = int32_t(g_stack.top - g_stack.bottom);
  return native_result(idx > 0 && idx < size ? *stack_at(uint32_t(idx - 1)) : kNoneCell);
}

// The arguments base the routine was called from (its own frame's caller).
KIV_ROUTINE(FrameIndexQ) { return native_result(integer_cell(int32_t(stack_top_frame()->prev_args))); }

// MAY ALLOCATE. For each named frame under the routine's own, from the
// bottom: the word naming it and its arguments base.
KIV_ROUTINE(CollectCalls) {
  // The call stack is a fixed buffer: frame pointers outlast the appends.
  const CallFrame* own = stack_top_frame();
  for (const CallFrame* f = g_stack.frames_base; f < own; f++) {
    const uint32_t s = f->symbol();
    if (s == 0 || s == g_stack.body_symbol || s == g_stack.anon_symbol) continue;
    // The frame above holds this one's arguments base as its caller's.
    Cell position = integer_cell(int32_t((f + 1)->prev_args));
    Cell word = context_word_or_global(s == g_self_symbol ? 0 : f->word_context, int32_t(s));
    block_append_value(a.blk, &word);
    block_append_value(a.blk, &position);
  }
  return native_result(kUnsetCell);
}

KIV_ROUTINE(TracingQ) { return native_result(logic_cell(trace_mode_q())); }

KIV_ROUTINE(SetTraceMode) {
  trace_set_mode(!cell_false(a.on));
  return native_result(logic_cell(trace_mode_q()));
}

// Library code does not move the current code (CurrentCodeScope): a current
// block means a script's code is being evaluated below this call.
KIV_ROUTINE(StackEvalQ) { return native_result(logic_cell(g_interp.current.node != 0)); }

// catch-named: catch taking every throw, named or not, that tells the name
// (none for a throw without one, or when nothing was thrown) by setting the
// word [name]: what runs code and then passes its throw on as it came.
KIV_ROUTINE(CatchNamed) {
  Root target(*a.name);
  Root name(kUnsetCell);
  Cell own_word = load_word("catch-named");
  Status s = catch_throws(a.block, &own_word, nullptr, name.get());
  if (s != kStatusOk) return s;
  if (!name->is(kTypeWord)) *name = kNoneCell;
  set_word_value(target.get(), name.get());
  return kStatusOk;
}

KIV_ROUTINE(StdinTerminalQ) { return native_result(logic_cell(stdin_is_terminal())); }

KIV_ROUTINE(RuntimeSetting) {
  std::string_view name = symbol_name(word_symbol(a.name));
  const bool truthy = !cell_false(a.value);
  if (name == "pretty?")
    g_float_pretty = truthy;
  else if (name == "full?")
    g_float_full = truthy;
  else if (name == "money-digits")
    money_set_digits_option(a.value);
  else
    raise_error(kErrScriptInvalidArg, a.name);
  return native_result(kUnsetCell);
}

// MAY ALLOCATE. The clipboard's content: a string!, a block! of file!
// values, an image!, none when it offers nothing read here, false when it
// cannot be read. An image offered that does not decode raises access
// bad-media.
KIV_ROUTINE(ReadClipboard) {
  ClipboardData data;
  if (!clipboard_read(&data)) return native_result(kFalseCell);
  switch (data.kind) {
    case ClipboardKind::kNothing: return native_result(kNoneCell);
    case ClipboardKind::kText:
      if (data.text.size() > size_t(INT32_MAX)) raise_error(kErrScriptTooLong);
      load_string(reinterpret_cast<const uint8_t*>(data.text.data()), uint32_t(data.text.size()),
                  stack_arg(0), kEncodingUtf8);
      return kStatusOk;
    case ClipboardKind::kFiles: break;
    case ClipboardKind::kImage: {
      const std::string bytes = data.image_type == "image/bmp" ? clipboard_bmp_file(data.image) : data.image;
      Cell* image = image_push_decoded(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
      if (!image) raise_error(kErrAccessBadMedia);
      return native_result(*image);
    }
  }
  Cell* block = block_push_only(int32_t(data.files.size()));
  for (const std::string& path : data.files) {
    StackSave save;
    Cell* file = file_from_os_path(path);
    *block_append_cell(block) = *file;
  }
  return native_result(*block);
}

// MAY ALLOCATE. A string! is put on the clipboard as text, a block! of file!
// values as a list of files (relative paths taken from the current
// directory), an image! as PNG (one with no pixels clears it, as none
// does). Every value of a block is checked, and every path (a NUL in one
// raises invalid-arg), before the clipboard is touched.
KIV_ROUTINE(WriteClipboard) {
  ClipboardData data;
  if (a.data->is(kTypeString)) {
    data.kind = ClipboardKind::kText;
    data.text = string_to_utf8(a.data);
  } else if (a.data->is(kTypeBlock)) {
    data.kind = ClipboardKind::kFiles;
    const int32_t n = block_ks_length_q(a.data);
    for (int32_t i = 0; i < n; i++) {
      const Cell* value = block_ks_head(a.data) + i;
      if (!value->is(kTypeFile)) raise_error(kErrScriptInvalidArg, stack_push_value(*value));
    }
    for (int32_t i = 0; i < n; i++) {
      StackSave save;
      data.files.push_back(file_to_os_path(stack_push_value(block_ks_head(a.data)[i])));
    }
    bool relative = false;
    for (const std::string& path : data.files) relative |= path.empty() || path[0] != '/';
    if (relative) {
      StackSave save;
      const std::string dir = string_to_utf8(file_get_current_dir());
      for (std::string& path : data.files)
        if (path.empty() || path[0] != '/') path.insert(0, dir);
    }
  } else if (a.data->is(kTypeImage)) {
    if (image_pixel_count(a.data) > 0) {
      std::vector<uint8_t> png;
      image_encode_value(a.data, ImageFormat::kPng, &png);
      data.kind = ClipboardKind::kImage;
      data.image_type = "image/png";
      data.image.assign(png.begin(), png.end());
    }
  } else if (!a.data->is(kTypeNone)) {
    raise_error(kErrScriptInvalidArg, a.data);
  }
  return native_result(logic_cell(clipboard_write(data)));
}

KIV_ROUTINE(WriteStdout) {
  file_write_value(nullptr, a.data, nullptr, nullptr, false, false, false);
  return native_result(kUnsetCell);
}

KIV_ROUTINE(WriteStderr) {
  file_write_stderr(a.data);
  return native_result(kUnsetCell);
}

// system/state/GC: whether the collector runs, and the collections counted
// (each one compacts the series and the nodes alike).
KIV_ROUTINE(ActiveQ) { return native_result(logic_cell(g_collector_active)); }
KIV_ROUTINE(SeriesCycles) { return native_result(integer_cell(int32_t(gc_collection_count()))); }
KIV_ROUTINE(NodesCycles) { return native_result(integer_cell(int32_t(gc_collection_count()))); }

// ---------------------------------------------------------------- the predicates

namespace {

// A datatype predicate: whether the value's type is [type].
Status type_q(const routine_args::PredicateArgs& a, TypeId type) {
  return native_result(logic_cell(a.value->type() == type));
}

// A typeset predicate: the typeset word is read at each call, so a typeset
// redefined changes the answer.
Status typeset_q(const routine_args::PredicateArgs& a, const char* typeset) {
  Root word(load_word(typeset));
  const Cell* types = get_word_value(word.get());
  return native_result(logic_cell(types->is(kTypeTypeset) && typeset_has_q(types, a.value->type())));
}

}  // namespace

#define TYPE_PREDICATE(id, Ident, word, Type) \
  KIV_ROUTINE(Ident) { return type_q(a, kType##Type); }
#define TYPESET_PREDICATE(id, Ident, word, typeset) \
  KIV_ROUTINE(Ident) { return typeset_q(a, typeset); }
#include "library/routines.def"

// ---------------------------------------------------------------- the table

namespace {

enum class RoutineKind : uint8_t { kGlobal, kState, kCodec, kConsole, kTypePredicate, kTypesetPredicate };

struct RoutineRow {
  RoutineId id;
  RoutineKind kind;
  const char* word;
  const char* spec;  // the spec text; the typeset's word for a typeset predicate
  const DeclaredParam* params;
  RoutineEntry entry;  // null: installed from a higher layer (KIV_ROUTINE_INSTALL)
};

#define KIV_ROUTINE_ENTRY(Ident) \
  &routine_entry_of<routine_args::Ident##Args, routine_##Ident, kRoutine##Ident>
constexpr RoutineRow kRoutineRows[] = {
#define ROUTINE(id, Ident, word, params, spec)                                                \
  {kRoutine##Ident,         RoutineKind::kGlobal, word, spec, routine_args::k##Ident##Params, \
   KIV_ROUTINE_ENTRY(Ident)},
#define STATE_ROUTINE(id, Ident, word, params, spec)                                         \
  {kRoutine##Ident,         RoutineKind::kState, word, spec, routine_args::k##Ident##Params, \
   KIV_ROUTINE_ENTRY(Ident)},
#define CODEC_ROUTINE(id, Ident, word, params, spec)                                         \
  {kRoutine##Ident,         RoutineKind::kCodec, word, spec, routine_args::k##Ident##Params, \
   KIV_ROUTINE_ENTRY(Ident)},
#define CONSOLE_ROUTINE(id, Ident, word, params, spec) \
  {kRoutine##Ident, RoutineKind::kGlobal, word, spec, routine_args::k##Ident##Params, nullptr},
#define CONSOLE_FIELD_ROUTINE(id, Ident, word, params, spec) \
  {kRoutine##Ident, RoutineKind::kConsole, word, spec, routine_args::k##Ident##Params, nullptr},
#define TYPE_PREDICATE(id, Ident, word, Type)             \
  {kRoutine##Ident, RoutineKind::kTypePredicate,    word, \
   nullptr,         routine_args::kPredicateParams, KIV_ROUTINE_ENTRY(Ident)},
#define TYPESET_PREDICATE(id, Ident, word, typeset)       \
  {kRoutine##Ident, RoutineKind::kTypesetPredicate, word, \
   typeset,         routine_args::kPredicateParams, KIV_ROUTINE_ENTRY(Ident)},
#include "library/routines.def"
};
#undef KIV_ROUTINE_ENTRY

// The spec blocks of the routines, by row, when start-up took them from the
// boot image (a literal the root block holds); 0: each spec is lexed.
Node g_routine_specs = 0;

// The spec text of [row]: its own, or its family's.
std::string spec_text(const RoutineRow& row) {
  switch (row.kind) {
    case RoutineKind::kTypePredicate:
      return "\"Returns true if the value is this type\" value [any-type!] return: [logic!]";
    case RoutineKind::kTypesetPredicate: {
      std::string bare = row.spec;
      bare.pop_back();
      return "\"Returns true if the value is any type of " + bare + "\" value [any-type!] return: [logic!]";
    }
    default: return row.spec;
  }
}

// MAY ALLOCATE. The spec block of [row], pushed: lexed from its text, or
// the one the boot image gave.
Cell* push_routine_spec(const RoutineRow& row) {
  const size_t index = size_t(&row - kRoutineRows);
  if (g_routine_specs) {
    const Cell* spec = &series_cells(g_routine_specs)[index];
    fatal_assert(index < series_cell_count(g_routine_specs) && spec->is(kTypeBlock));
    return stack_push_value(*spec);
  }
  return lexer_push_utf8(spec_text(row).c_str());
}

// MAY ALLOCATE. The routine of [row], pushed: its spec checked against its
// line and kept as the spec its entry reads (builtin_spec.h). Its body, an
// empty block, is all it shows: its code is the interpreter's own.
Cell* push_routine(const RoutineRow& row) {
  Cell made;
  {
    StackSave save;
    Cell* spec = push_routine_spec(row);
    builtin_keep_own_spec(Builtin::kRoutine, row.id, row.word, spec, nullptr, row.params);
    Cell* body = block_push_only(1);
    made = *make_routine_value(spec, body, row.id, 0, false);
  }
  return stack_push_value(made);
}

}  // namespace

void routines_init() {
  for (const RoutineRow& row : kRoutineRows) {
    if (row.entry) routine_register(row.id, row.entry);
    if (row.kind == RoutineKind::kState || row.kind == RoutineKind::kCodec ||
        row.kind == RoutineKind::kConsole)
      continue;
    StackSave save;
    Cell* routine = push_routine(row);
    Root word(load_word(row.word));
    set_word_value(word.get(), routine);
  }
}

namespace {

// MAY ALLOCATE. Sets each field of [object] that a routine of [kind] names.
void routines_into(const Cell* object, RoutineKind kind) {
  for (const RoutineRow& row : kRoutineRows) {
    if (row.kind != kind) continue;
    StackSave save;
    Cell* routine = push_routine(row);
    Root word(load_word(row.word));
    int32_t i = object_field_index(object, word.get());
    if (i >= 0) object_get_values(object)[i] = *routine;
  }
}

}  // namespace

Cell* routines_push_specs() {
  Cell* specs = block_push_only(uint32_t(std::size(kRoutineRows)));
  for (const RoutineRow& row : kRoutineRows) {
    StackSave save;
    Cell* spec = push_routine_spec(row);
    block_append_value(specs, spec);
  }
  return specs;
}

void routines_use_specs(Node specs) {
  fatal_assert(series_cell_count(specs) == std::size(kRoutineRows));
  g_routine_specs = specs;
}

void gc_routines_into(const Cell* gc_object) { routines_into(gc_object, RoutineKind::kState); }

void codec_routines_into(const Cell* codec) { routines_into(codec, RoutineKind::kCodec); }

void console_routines_into(const Cell* console) { routines_into(console, RoutineKind::kConsole); }

}  // namespace kiv
