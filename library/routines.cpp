// The routines (routines.h): one table row each, its spec and shown body as
// Kiv text and its C++ entry. A row's place in the table is its code id.
#include "library/routines.h"

#include <cstring>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/file.h"
#include "datatypes/function.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/word.h"
#include "evaluator/lexer.h"
#include "evaluator/routines.h"
#include "platform/directory.h"
#include "platform/process.h"
#include "runtime/errors.h"
#include "runtime/gc_root.h"
#include "runtime/stack.h"

namespace kiv {

namespace {

void quit_return(Cell* args) { process_exit(integer_get(&args[0])); }

void get_current_dir(Cell* args) {
  Cell* dir = file_get_current_dir();
  dir->set_type(kTypeFile);
  args[0] = *dir;
}

void set_current_dir(Cell* args) {
  if (!os_set_current_dir(file_to_os_path(&args[0]))) raise_error(kErrAccessCannotOpen, &args[0]);
  args[0] = kUnsetCell;
}

void create_dir(Cell* args) {
  if (!os_make_dir(file_to_os_path(&args[0]))) raise_error(kErrAccessNoCreate, &args[0]);
  args[0] = kUnsetCell;
}

void exists_q(Cell* args) { args[0] = logic_cell(os_path_exists(file_to_os_path(&args[0]))); }

struct RoutineRow {
  const char* word;
  const char* spec;
  RoutineEntry entry;
};

// The body every routine shows: its code is the interpreter's own.
constexpr const char* kRoutineBody = "[]";

const RoutineRow kRoutines[] = {
    {"quit-return", R"(["Stops evaluation and exits the program with a given status" status [integer!]])",
     quit_return},
    {"get-current-dir", R"(["Returns the platform's current directory for the process" return: [file!]])",
     get_current_dir},
    {"set-current-dir", R"(["Sets the platform's current process directory" path [file!]])", set_current_dir},
    {"create-dir", R"(["Create the given directory" path [file!]])", create_dir},
    {"exists?", R"(["Returns TRUE if the file exists" path [file!] return: [logic!]])", exists_q},
};

// MAY ALLOCATE. Pushes the block loaded from the UTF-8 [text].
Cell* push_loaded(const char* text) {
  Cell* out = stack_push();
  return lexer_load_utf8(out, reinterpret_cast<const uint8_t*>(text), uint32_t(std::strlen(text)));
}

}  // namespace

void routines_init() {
  int32_t code_id = 0;
  for (const RoutineRow& row : kRoutines) {
    code_id++;
    routine_register(code_id, row.entry);
    StackSave save;
    Cell* spec = push_loaded(row.spec);
    *spec = series_cells(spec->node())[0];  // the loaded text is one block
    Cell* body = push_loaded(kRoutineBody);
    *body = series_cells(body->node())[0];
    Cell* routine = make_routine_value(spec, body, code_id, 0, false);
    Root word(load_word(row.word));
    set_word_value(word.get(), routine);
  }
}

}  // namespace kiv
