// The routines (routines.h): one table row each, its spec and shown body as
// Kiv text and its C++ entry. A row's place in the table is its code id.
#include "library/routines.h"

#include <cstring>
#include <string>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/file.h"
#include "datatypes/function.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/object.h"
#include "datatypes/registry.h"
#include "datatypes/typeset.h"
#include "datatypes/word.h"
#include "evaluator/lexer.h"
#include "evaluator/routines.h"
#include "platform/process.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/gc_root.h"
#include "runtime/stack.h"
#include "services/file_access.h"
#include "services/os_services.h"

namespace kiv {

namespace {

void quit_return(Cell* args, int32_t) { process_exit(integer_get(&args[0])); }

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
    {"shift-right", R"(["Shift bits to the right" data [integer!] bits [integer!] return: [integer!]])",
     shift, 0},
    {"shift-left", R"(["Shift bits to the left" data [integer!] bits [integer!] return: [integer!]])", shift,
     1},
    {"shift-logical",
     R"s(["Shift bits to the right (unsigned)" data [integer!] bits [integer!] return: [integer!]])s", shift,
     2},
    {"get-current-dir", R"(["Returns the platform's current directory for the process" return: [file!]])",
     get_current_dir},
    {"set-current-dir", R"(["Sets the platform's current process directory" path [file!]])", set_current_dir},
    {"create-dir", R"(["Create the given directory" path [file!]])", create_dir},
    {"exists?", R"(["Returns TRUE if the file exists" path [file!] return: [logic!]])", exists_q},
    {"os-info", R"(["Returns detailed operating system version information"])", os_info},
};

// MAY ALLOCATE. Pushes the block loaded from the UTF-8 [text].
Cell* push_loaded(const char* text) {
  Cell* out = stack_push();
  return lexer_load_utf8(out, reinterpret_cast<const uint8_t*>(text), uint32_t(std::strlen(text)));
}

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
    Cell* spec = push_loaded(spec_text);
    *spec = series_cells(spec->node())[0];  // the loaded text is one block
    Cell* body = push_loaded(kRoutineBody);
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
