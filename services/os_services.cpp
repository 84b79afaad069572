// os-info and the command line, over platform/system_info.h.
#include "services/os_services.h"

#include <algorithm>
#include <cctype>

#include "datatypes/context.h"
#include "datatypes/integer.h"
#include "datatypes/object.h"
#include "datatypes/string.h"
#include "datatypes/tuple.h"
#include "datatypes/word.h"
#include "platform/system_info.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"

namespace kiv {

namespace {

// Reads the decimal number at [*i] of [text] and moves past it; -1 when there
// is no digit there. Numbers past 2^31 - 1 stop growing.
int64_t read_number(std::string_view text, size_t* i) {
  if (*i >= text.size() || !std::isdigit(uint8_t(text[*i]))) return -1;
  int64_t n = 0;
  for (; *i < text.size() && std::isdigit(uint8_t(text[*i])); ++*i)
    n = std::min<int64_t>(n * 10 + (text[*i] - '0'), INT32_MAX);
  return n;
}

// MAY ALLOCATE. Adds the field [name] with [value] (a stack cell) to [object].
void add_field(Cell* object, const char* name, Cell* value) {
  StackSave save;
  Cell* word = stack_push_value(load_word(name));
  context_add_word(object_context(object), word, value);
}

}  // namespace

std::string os_arch_name(std::string_view machine) {
  static constexpr struct {
    std::string_view machine;
    std::string_view arch;
  } kArchs[] = {{"x86_64", "x86-64"}, {"amd64", "x86-64"}, {"i386", "x86-32"},
                {"i486", "x86-32"},   {"i586", "x86-32"},  {"i686", "x86-32"},
                {"aarch64", "ARM64"}, {"arm64", "ARM64"},  {"ia64", "IA-64"}};
  for (const auto& a : kArchs)
    if (machine == a.machine) return std::string(a.arch);
  if (machine.substr(0, 3) == "arm") return "ARM";
  return "Unknown";
}

OsInfo os_info_from(std::string_view release, std::string_view version, std::string_view machine) {
  OsInfo info{"Linux " + std::string(release), os_arch_name(machine), {0, 0, 0}, 0};
  // "6.1.0-18-amd64": up to three numbers separated by dots.
  size_t i = 0;
  for (int k = 0; k < 3; k++) {
    int64_t n = read_number(release, &i);
    if (n < 0) break;
    info.version[k] = uint8_t(std::min<int64_t>(n, 255));
    if (i >= release.size() || release[i] != '.') break;
    i++;
  }
  // "#1 SMP ...": the kernel's build count.
  if (!version.empty() && version[0] == '#') {
    size_t j = 1;
    info.build = int32_t(std::max<int64_t>(read_number(version, &j), 0));
  }
  return info;
}

Cell* os_info_object() {
  SystemName names;
  OsInfo info = os_system_name(&names) ? os_info_from(names.release, names.version, names.machine)
                                       : OsInfo{"Linux", "Unknown", {0, 0, 0}, 0};
  Cell* object = object_init_cell(stack_push(), 4);
  {
    StackSave save;
    Cell* name = string_make_at(stack_push(), uint32_t(info.name.size()));
    string_append_utf8(name, info.name);
    add_field(object, "name", name);
  }
  {
    StackSave save;
    add_field(object, "arch", stack_push_value(load_word(info.arch.c_str())));
  }
  {
    StackSave save;
    const int32_t bytes[3] = {info.version[0], info.version[1], info.version[2]};
    add_field(object, "version", tuple_from_bytes(bytes));
  }
  {
    StackSave save;
    add_field(object, "build", stack_push_value(integer_cell(info.build)));
  }
  return object;
}

std::string command_line_text(const std::vector<std::string>& args) {
  std::string text;
  for (const std::string& arg : args) {
    if (!text.empty()) text += ' ';
    const bool quote = arg.empty() || arg.find_first_of(" \t") != std::string::npos;
    if (quote) text += '"';
    text += arg;
    if (quote) text += '"';
  }
  return text;
}

Cell* command_line() {
  std::vector<std::string> args;
  std::string text = os_process_arguments(&args) ? command_line_text(args) : std::string();
  Cell* out = string_make_at(stack_push(), uint32_t(text.size()));
  // Arguments are bytes: a byte that starts no valid UTF-8 sequence stands
  // for the code point of its value.
  const uint8_t* p = reinterpret_cast<const uint8_t*>(text.data());
  const uint8_t* end = p + text.size();
  while (p < end) {
    int32_t cp;
    const uint8_t* next = utf8_fast_decode_char(p, end, &cp);
    if (cp < 0 || utf8_refused_q(uint32_t(cp))) {
      cp = *p;
      next = p + 1;
    }
    append_char(out->node(), uint32_t(cp));
    p = next;
  }
  return out;
}

}  // namespace kiv
