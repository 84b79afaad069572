// The routines (routines.h): one table row each, its spec and shown body as
// Kiv text and its C++ entry. A row's place in the table is its code id.
#include "library/routines.h"

#include <string>

#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/file.h"
#include "datatypes/function.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/object.h"
#include "datatypes/registry.h"
#include "datatypes/runtime_words.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/tuple.h"
#include "datatypes/typeset.h"
#include "datatypes/word.h"
#include "evaluator/interpreter.h"
#include "evaluator/lexer.h"
#include "evaluator/print_output.h"
#include "evaluator/routines.h"
#include "library/series_replace.h"
#include "platform/process.h"
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

namespace {

// Output still held is written out and checked first (conout_finish).
void quit_return(Cell* args, int32_t) {
  conout_finish();
  process_exit(integer_get(&args[0]));
}

// Raises script expect-arg for the value [given] of the argument [argument]
// of the routine running.
[[noreturn]] void raise_expect_arg(const Cell* given, const char* argument) {
  Cell where = where_word_cell();
  Cell datatype = datatype_cell(given->type());
  Cell name = name_word_cell(argument);
  raise_error(kErrScriptExpectArg, &where, &datatype, &name);
}

// MAY RUN KIV CODE (none: the change events are not called). Stores the value
// into the word's slot of its context as it stands; returns the value.
void set_quiet(Cell* args, int32_t) {
  if (!is_any_word(args[0].type())) raise_expect_arg(&args[0], "word");
  if (!word_context(&args[0])) raise_error(kErrScriptNotDefined, &args[0]);
  context_set_in(&args[0], &args[1], word_context(&args[0]), false);
  args[0] = args[1];
}

// Writes the value into the cell at the series' position, telling no owner.
void set_slot_quiet(Cell* args, int32_t) {
  TypeId t = args[0].type();
  if (t != kTypeBlock && t != kTypeParen && !is_any_path(t)) raise_expect_arg(&args[0], "series");
  int32_t total = series_total_cells(&args[0]);
  int32_t at = series_clamp_head(&args[0], total);
  if (at < total) series_buffer_of(&args[0])->head_cell()[at] = args[1];
  args[0] = kUnsetCell;
}

void last_lf_q(Cell* args, int32_t) { args[0] = logic_cell(g_last_newline != 0); }

void get_current_dir(Cell* args, int32_t) { args[0] = *current_dir_file(); }

void set_current_dir(Cell* args, int32_t) {
  if (!kiv::set_current_dir(&args[0])) raise_error(kErrAccessCannotOpen, &args[0]);
  args[0] = kUnsetCell;
}

void create_dir(Cell* args, int32_t) {
  // A directory that stood there already is refused too.
  if (!make_directory(&args[0])) raise_error(kErrAccessNoCreate, &args[0]);
  args[0] = kUnsetCell;
}

void exists_q(Cell* args, int32_t) { args[0] = logic_cell(file_exists(&args[0])); }

void os_info(Cell* args, int32_t) { args[0] = *os_info_object(); }

// [count] integer! arguments from [args]; raises script invalid-arg with the
// first negative one.
void check_components(const Cell* args, int count) {
  for (int i = 0; i < count; i++)
    if (integer_get(&args[i]) < 0) raise_error(kErrScriptInvalidArg, &args[i]);
}

// Three components, each taken modulo 256.
void as_color(Cell* args, int32_t) {
  check_components(args, 3);
  uint32_t word = 0;
  for (int i = 0; i < 3; i++) word |= (uint32_t(integer_get(&args[i])) & 0xFF) << (8 * i);
  args[0] = tuple_cell(3, word);
}

// Four components added into one word at 8-bit steps: one above 255 carries
// into the next byte.
void as_ipv4(Cell* args, int32_t) {
  check_components(args, 4);
  uint32_t word = 0;
  for (int i = 0; i < 4; i++) word += uint32_t(integer_get(&args[i])) << (8 * i);
  args[0] = tuple_cell(4, word);
}

// Characters from start's position up to pos's, the end kept between the
// start and the tail; a sequence cut off by the end counts as one.
void count_chars(Cell* args, int32_t) {
  if (args[0].node() != args[1].node()) raise_error(kErrScriptInvalidArg, &args[1]);
  int32_t total = series_total_length(&args[0]);
  int32_t from = series_clamp_head(&args[0], total);
  int32_t to = series_clamp_head(&args[1], total);
  if (to < from) to = from;
  const uint8_t* base = series_unit_at(series_buffer_of(&args[0]), 0);
  args[0] = integer_cell(utf8_count_chars(base + from, base + to));
}

void stack_size_q(Cell* args, int32_t) { args[0] = integer_cell(int32_t(g_stack.top - g_stack.bottom)); }

// Data-stack cell [idx] counted from 1 at the bottom, or none outside 1 to
// the stack size less one.
void pick_stack(Cell* args, int32_t) {
  int32_t idx = integer_get(&args[0]);
  int32_t size = int32_t(g_stack.top - g_stack.bottom);
  args[0] = idx > 0 && idx < size ? *stack_at(uint32_t(idx - 1)) : kNoneCell;
}

// The arguments base the routine was called from (its own frame's caller).
void frame_index_q(Cell* args, int32_t) { args[0] = integer_cell(int32_t(stack_top_frame()->prev_args)); }

// MAY ALLOCATE. For each named frame under the routine's own, from the
// bottom: the word naming it and its arguments base.
void collect_calls(Cell* args, int32_t) {
  // The call stack is a fixed buffer: frame pointers outlast the appends.
  const CallFrame* own = stack_top_frame();
  for (const CallFrame* f = g_stack.frames_base; f < own; f++) {
    const uint32_t s = f->symbol();
    if (s == 0 || s == g_stack.body_symbol || s == g_stack.anon_symbol) continue;
    // The frame above holds this one's arguments base as its caller's.
    Cell position = integer_cell(int32_t((f + 1)->prev_args));
    Cell word = context_word_or_global(s == g_self_symbol ? 0 : f->word_context, int32_t(s));
    block_append_value(&args[0], &word);
    block_append_value(&args[0], &position);
  }
  args[0] = kUnsetCell;
}

void tracing_q(Cell* args, int32_t) { args[0] = logic_cell(g_interp.tracing); }

// MAY ALLOCATE. The clipboard's text as a string!, none when empty, false
// when it cannot be read.
void read_clipboard(Cell* args, int32_t) {
  std::string text;
  switch (clipboard_read(&text)) {
    case ClipboardRead::kFailed: args[0] = kFalseCell; return;
    case ClipboardRead::kEmpty: args[0] = kNoneCell; return;
    case ClipboardRead::kText: break;
  }
  load_string(reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()), &args[0], kEncodingUtf8);
}

// A string! is put on the clipboard, none clears it; other values are refused.
void write_clipboard(Cell* args, int32_t) {
  bool done = false;
  if (args[0].is(kTypeString)) {
    std::string text = string_to_utf8(&args[0]);
    done = clipboard_write(&text);
  } else if (args[0].is(kTypeNone)) {
    done = clipboard_write(nullptr);
  }
  args[0] = logic_cell(done);
}

void write_stdout(Cell* args, int32_t) {
  file_write_value(nullptr, &args[0], nullptr, nullptr, false, false, false);
  args[0] = kUnsetCell;
}

void write_stderr(Cell* args, int32_t) {
  file_write_stderr(&args[0]);
  args[0] = kUnsetCell;
}

// The shifts: [kind] 0 right, 1 left, 2 logical right.
void shift(Cell* args, int32_t kind) {
  args[0] = integer_cell(integer_shift(integer_get(&args[0]), integer_get(&args[1]), kind == 1, kind == 2));
}

// system/state/GC: [which] 0 asks whether the collector runs, 1 and 2 count
// the collections (each one compacts the series and the nodes alike).
void gc_state(Cell* args, int32_t which) {
  args[0] = which == 0 ? logic_cell(g_collector_active) : integer_cell(int32_t(gc_collection_count()));
}

// A datatype predicate: [type] is the type id it answers for.
void type_q(Cell* args, int32_t type) { args[0] = logic_cell(args[0].type() == type); }

// The datatype predicates, each the name of its datatype with "?" for "!".
const char* const kTypePredicates[] = {
    "bitset?",   "binary?", "block?",    "char?",     "email?",    "file?",       "float?",    "get-path?",
    "get-word?", "hash?",   "integer?",  "issue?",    "lit-path?", "lit-word?",   "logic?",    "map?",
    "none?",     "pair?",   "paren?",    "path?",     "percent?",  "refinement?", "set-path?", "set-word?",
    "string?",   "tag?",    "time?",     "typeset?",  "tuple?",    "unset?",      "url?",      "word?",
    "image?",    "date?",   "money?",    "ref?",      "point2D?",  "point3D?",    "handle?",   "error?",
    "action?",   "native?", "datatype?", "function?", "object?",   "op?",         "routine?",  "vector?"};

// The typesets of the typeset predicates, by their index.
const char* const kPredicateTypesets[] = {
    "any-list!", "any-block!", "any-function!", "any-object!", "any-path!", "any-string!", "any-word!",
    "series!",   "number!",    "immediate!",    "scalar!",     "all-word!", "any-point!",  "planar!"};

// A typeset predicate: the typeset word is read at each call, so a typeset
// redefined changes the answer.
void typeset_q(Cell* args, int32_t index) {
  Root word(load_word(kPredicateTypesets[index]));
  const Cell* types = get_word_value(word.get());
  args[0] = logic_cell(types->is(kTypeTypeset) && typeset_has_q(types, args[0].type()));
}

struct RoutineRow {
  const char* word;
  const char* spec;
  RoutineEntry entry;
  int32_t extra = 0;
};

// The body every routine shows: its code is the interpreter's own.
constexpr const char* kRoutineBody = "[]";

const RoutineRow kRoutines[] = {
    {"quit-return", R"(["Stops evaluation and exits the program with a given status" status [integer!]])",
     quit_return},
    {"set-quiet",
     R"(["Set an object's field to a value without triggering eventual object's events" word [any-type!] value [any-type!]])",
     set_quiet},
    {"set-slot-quiet",
     R"(["Set a value in series without triggering eventual owner's events" series [any-type!] value [any-type!]])",
     set_slot_quiet},
    {"shift-right", R"(["Shift bits to the right" data [integer!] bits [integer!] return: [integer!]])",
     shift, 0},
    {"shift-left", R"(["Shift bits to the left" data [integer!] bits [integer!] return: [integer!]])", shift,
     1},
    {"shift-logical",
     R"s(["Shift bits to the right (unsigned)" data [integer!] bits [integer!] return: [integer!]])s", shift,
     2},
    {"last-lf?", R"(["Internal Use Only"])", last_lf_q},
    {"get-current-dir", R"(["Returns the platform's current directory for the process" return: [file!]])",
     get_current_dir},
    {"set-current-dir", R"(["Sets the platform's current process directory" path [file!]])", set_current_dir},
    {"create-dir", R"(["Create the given directory" path [file!]])", create_dir},
    {"exists?", R"(["Returns TRUE if the file exists" path [file!] return: [logic!]])", exists_q},
    {"os-info", R"(["Returns detailed operating system version information"])", os_info},
    {"as-color", R"(["Combine R, G and B values into a tuple" r [integer!] g [integer!] b [integer!]])",
     as_color},
    {"as-ipv4",
     R"(["Combine a, b, c and d values into a tuple" a [integer!] b [integer!] c [integer!] d [integer!]])",
     as_ipv4},
    {"as-rgba",
     R"(["Combine R, G, B and A color components into a tuple" r [integer!] g [integer!] b [integer!] a [integer!]])",
     as_ipv4},
    {"count-chars",
     R"(["Count UTF-8 encoded characters between two positions in a binary series" start [binary!] pos [binary!] return: [integer!]])",
     count_chars},
    {"stack-size?", R"([return: [integer!]])", stack_size_q},
    {"pick-stack", R"([idx [integer!]])", pick_stack},
    {"frame-index?", R"([return: [integer!]])", frame_index_q},
    {"collect-calls", R"([blk [block!]])", collect_calls},
    {"tracing?", R"([])", tracing_q},
    {"read-clipboard", R"(["Return the contents of the system clipboard"])", read_clipboard},
    {"write-clipboard", R"(["Write content to the system clipboard" data [any-type!] return: [logic!]])",
     write_clipboard},
    {"write-stdout", R"(["Write data to STDOUT" data [any-type!]])", write_stdout},
    {"replace-found*",
     R"(["Internal Use Only" series [series!] pattern [any-type!] value [any-type!] size [integer!] all [logic! none!] case [logic! none!]])",
     replace_found},
    {"replace-marked*", R"(["Internal Use Only" marks [block!] value [any-type!]])", replace_marked},
    {"write-stderr", R"(["Write data to STDERR" data [any-type!]])", write_stderr},
};

// The routines that are fields of system/state/GC.
const RoutineRow kGcRoutines[] = {
    {"active?", R"(["Returns TRUE if the collector is on" return: [logic!]])", gc_state, 0},
    {"series-cycles", R"(["Returns the number of series collections" return: [integer!]])", gc_state, 1},
    {"nodes-cycles", R"(["Returns the number of node collections" return: [integer!]])", gc_state, 2},
};

int32_t g_gc_code_id = 0;

// MAY ALLOCATE. A routine made from [spec] (Kiv text), code [code_id] and
// [extra], pushed.
Cell* push_routine(const char* spec_text, int32_t code_id, int32_t extra) {
  Cell made;
  {
    StackSave save;
    Cell* spec = lexer_push_utf8(spec_text);
    *spec = series_cells(spec->node())[0];  // the loaded text is one block
    Cell* body = lexer_push_utf8(kRoutineBody);
    *body = series_cells(body->node())[0];
    made = *make_routine_value(spec, body, code_id, extra, false);
  }
  return stack_push_value(made);
}

// MAY ALLOCATE. Binds [word] to a routine made as push_routine makes it.
void bind_routine(const char* word_name, const char* spec_text, int32_t code_id, int32_t extra) {
  StackSave save;
  Cell* routine = push_routine(spec_text, code_id, extra);
  Root word(load_word(word_name));
  set_word_value(word.get(), routine);
}

}  // namespace

void routines_init() {
  int32_t code_id = 0;
  for (const RoutineRow& row : kRoutines) {
    routine_register(++code_id, row.entry);
    bind_routine(row.word, row.spec, code_id, row.extra);
  }
  // The datatype predicates, in binding order.
  routine_register(++code_id, type_q);
  for (const char* predicate : kTypePredicates) {
    std::string name = predicate;
    name.back() = '!';
    for (int t = 1; t <= kMaxTypeId; t++) {
      const char* type = type_name(TypeId(t));
      if (!type || name != type) continue;
      bind_routine(predicate,
                   R"(["Returns true if the value is this type" value [any-type!] return: [logic!]])",
                   code_id, t);
    }
  }
  routine_register(++code_id, typeset_q);
  int32_t index = 0;
  for (const char* typeset : kPredicateTypesets) {
    std::string word = typeset;
    word.back() = '?';
    std::string bare = typeset;
    bare.pop_back();
    std::string spec =
        "[\"Returns true if the value is any type of " + bare + "\" value [any-type!] return: [logic!]]";
    bind_routine(word.c_str(), spec.c_str(), code_id, index++);
  }
  routine_register(g_gc_code_id = ++code_id, gc_state);
}

void gc_routines_into(const Cell* gc_object) {
  for (const RoutineRow& row : kGcRoutines) {
    StackSave save;
    Cell* routine = push_routine(row.spec, g_gc_code_id, row.extra);
    Root word(load_word(row.word));
    int32_t i = object_field_index(gc_object, word.get());
    if (i >= 0) object_get_values(gc_object)[i] = *routine;
  }
}

}  // namespace kiv
