// The parts of the system object made in C++ (system_object.h).
#include "library/system_object.h"

#include <cstring>
#include <string>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/file.h"
#include "datatypes/logic.h"
#include "datatypes/money.h"
#include "datatypes/object.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "evaluator/interpreter.h"
#include "library/library.h"
#include "library/routines.h"
#include "platform/environment.h"
#include "runtime/errors.h"
#include "runtime/fatal.h"
#include "runtime/gc_root.h"
#include "runtime/root_block.h"
#include "runtime/stack.h"
#include "services/os_services.h"

namespace kiv {

namespace {

// MAY ALLOCATE. Pushes the value of the global word [name].
Cell* push_global(const char* name) {
  Root word(load_word(name));
  return stack_push_cell(get_word_value(word.get()));
}

// MAY ALLOCATE. Sets field [name] of the object [object] (a stable cell) to
// [value] (a stable cell), without change events: the object is being built.
void set_field(const Cell* object, const char* name, const Cell* value) {
  Root word(load_word(name));
  int32_t i = object_field_index(object, word.get());
  if (i < 0) fatal_no_switch();
  object_get_values(object)[i] = *value;
}

// MAY ALLOCATE. Pushes the value of field [name] of [object] (a stable cell).
Cell* push_field(const Cell* object, const char* name) {
  Root word(load_word(name));
  int32_t i = object_field_index(object, word.get());
  if (i < 0) fatal_no_switch();
  return stack_push_cell(&object_get_values(object)[i]);
}

// MAY ALLOCATE. Pushes the block of the arguments [first, last) as strings.
Cell* push_arguments(char** first, char** last) {
  Cell* list = block_push_only(int32_t(last - first));
  for (char** a = first; a < last; a++)
    string_load_append(list, ByteSource(reinterpret_cast<const uint8_t*>(*a)), uint32_t(std::strlen(*a)),
                       kEncodingUtf8);
  return list;
}

// MAY ALLOCATE. Pushes the raw text of the arguments [first, last): joined by
// blanks, an argument holding a blank or nothing between double quotes.
Cell* push_raw_arguments(char** first, char** last) {
  std::string raw = command_line_text(std::vector<std::string>(first, last));
  return load_string(ByteSource(reinterpret_cast<const uint8_t*>(raw.data())), uint32_t(raw.size()), nullptr,
                     kEncodingUtf8);
}

}  // namespace

void system_object_finish() {
  StackSave save;
  Cell* system = push_global("system");
  Cell* catalog = push_field(system, "catalog");
  // The catalogue the error reports are formed from.
  set_field(catalog, "errors", root_slot(kRootErrorCatalog));

  // system/words is the global context seen as an object.
  Cell* words = stack_push_value(object_cell(g_global_context, object_new_class()));
  *context_self_cell(g_global_context) = *words;
  set_field(system, "words", words);

  Cell* state = push_field(system, "state");
  Cell* gc = push_field(state, "GC");
  gc_routines_into(gc);

  codec_routines_into(library_eval("system/codecs/kivbin"));

  Cell* locale = push_field(system, "locale");
  Cell* currencies = push_field(locale, "currencies");
  Cell* list = stack_push_value(money_currency_list());
  set_field(currencies, "list", list);
  // Its object guards every change of the list (system.kiv).
  library_eval("modify system/locale/currencies/list 'owned reduce [system/locale/currencies 'list]");
  // The month names dates are read and written with.
  set_field(locale, "months", root_slot(kRootMonthNames));

  // The settings and cache directory: $APPDATA/Kiv/, else ~/.kiv/; none
  // without a home.
  std::string dir;
  std::string suffix = "/Kiv/";
  if (!os_get_env("APPDATA", &dir) || dir.empty()) {
    suffix = "/.kiv/";
    if (!os_home_dir(&dir)) dir.clear();
  }
  Cell* options = push_field(system, "options");
  Cell* cache = stack_push_value(kNoneCell);
  if (!dir.empty()) *cache = *file_from_os_path(dir + suffix);
  set_field(options, "cache", cache);
}

void system_set_command_line(int argc, char** argv) {
  StackSave save;
  Cell* system = push_global("system");
  Cell* script = push_field(system, "script");
  set_field(script, "args", push_raw_arguments(argv, argv + argc));
  library_eval("extract-boot-args");
  // The arguments as the OS gave them: the joined text cannot carry a double
  // quote inside an argument back out.
  Cell* options = push_field(system, "options");
  set_field(options, "args", push_arguments(argv + 1, argv + argc));
}

}  // namespace kiv
