// kiv-bootgen: makes the boot image at build time.
//
//   kiv-bootgen IMAGE UNIT HEADER SOURCE...
//
// Writes one compact KIVBIN stream of boot data (library/boot_image.h) to
// IMAGE and, to UNIT, a C++ unit defining kiv::g_boot_image with the same
// bytes; HEADER gets the indexes of the image's literals. The stream holds:
//
//   - a definition of every native and action, made as start-up's base
//     environment makes them (evaluator/base_env.cpp), whose spec blocks the
//     decoder hands back to it;
//   - a definition of each library function a source defines at its top
//     level as `name: func spec body` (or function, does, has), made here by
//     that maker: its context, its spec and its body with the words already
//     bound (to the function's context by position, else globally), so that
//     start-up makes it without a binding pass;
//   - the literals: each source's code (what is left of it, header first)
//     in the order of the sources, which start-up runs in place of lexing
//     and running the text; then the routines' spec blocks, which start-up
//     makes the routines from in place of lexing their texts.
//
// Each source is lexed with the lexer start-up would use (library sources,
// in start-up order). The stream is decoded back by the boot rules and the
// molds (/all) of every literal and every defined value compared with what
// was encoded. A syntax error (with its line), a source without its header, a
// value the stream cannot carry or a round trip that changes a value ends the
// run with status 1 and the file's name. The output depends on the sources
// alone: the same sources give the same bytes. Files are rewritten only when
// their contents change.
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "boot/init.h"
#include "datatypes/actions.h"
#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/error.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "evaluator/base_env.h"
#include "evaluator/interpreter.h"
#include "evaluator/lexer.h"
#include "evaluator/natives.h"
#include "library/boot_image.h"
#include "library/library.h"
#include "library/routines.h"
#include "platform/thread.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/exits.h"
#include "runtime/gc_root.h"
#include "runtime/memory.h"
#include "runtime/stack.h"
#include "services/kivbin.h"

namespace kiv {
namespace {

struct Args {
  int argc;
  char** argv;
  int status = 1;
};

[[noreturn]] void fail(const std::string& file, const std::string& why) {
  std::fprintf(stderr, "kiv-bootgen: %s: %s\n", file.c_str(), why.c_str());
  std::fflush(stderr);
  std::_Exit(1);
}

std::string base_name(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// MAY ALLOCATE. The mold/all of [value] as UTF-8.
std::string mold_all(const Cell* value) {
  StackSave save;
  Cell* v = stack_push_cell(value);
  MoldArgs args;
  args.all = true;
  args.buffer = string_make_at(stack_push(), 1024);
  args.limit = kNoLimit;
  action_mold(v, args);
  return string_to_utf8(args.buffer);
}

// The report of the error just caught.
std::string caught_error() {
  g_last_throw_code = 0;
  stack_exit_taken();
  Cell error = raised_error_value();
  return error.is(kTypeError) ? error_report(&error) : "start-up failed";
}

// The makers a top-level definition may use, with the blocks each takes.
int maker_blocks(const Cell& c) {
  if (!c.is(kTypeWord)) return 0;
  const std::string_view name = symbol_name(word_symbol(&c));
  if (name == "func" || name == "function" || name == "has") return 2;
  if (name == "does") return 1;
  return 0;
}

// The image as it is built: definitions (word, value pairs) and literals,
// both held in blocks on the data stack.
struct Image {
  Cell* definitions;
  Cell* literals;
  std::vector<std::string> files;  // the sources' names: literals 0 to files.size() - 1
  // The global slots that have a value before any library code runs: the
  // only words a function defined by the image may name in its spec's type
  // blocks, which start-up checks as it decodes it.
  std::set<int32_t> base_slots;
};

// The global slots holding a value now.
std::set<int32_t> valued_global_slots() {
  std::set<int32_t> out;
  const uint32_t n = context_word_count(g_global_context);
  for (uint32_t i = 0; i < n; i++)
    if (!word_get_in(g_global_context, int32_t(i))->is(kTypeUnset)) out.insert(int32_t(i));
  return out;
}

// True when every word in the type blocks of the spec block [spec] names a
// value the base environment or the routines made.
bool spec_types_known(const Image& image, const Cell& spec) {
  const uint32_t n = series_length(spec.node());
  for (uint32_t i = 0; i < n; i++) {
    const Cell c = series_cells(spec.node())[i];
    if (!c.is(kTypeBlock)) continue;
    for (uint32_t k = 0; k < series_length(c.node()); k++) {
      const Cell t = series_cells(c.node())[k];
      if (!t.is(kTypeWord)) continue;
      const int32_t slot = context_find_symbol(g_global_context, word_symbol(&t), true);
      if (!image.base_slots.count(slot)) return false;
    }
  }
  return true;
}

// The literal after the sources' code: the routines' spec blocks.
const char* const kRoutineSpecs = "routine specs";

// MAY ALLOCATE. Defines every native and action as the base environment
// bound it.
void add_builtins(Image& image) {
  auto add = [&image](const char* word) {
    StackSave save;
    Cell* w = stack_push_value(load_word(word));
    Cell* v = stack_push_cell(get_word_value(w));
    block_append_value(image.definitions, w);
    block_append_value(image.definitions, v);
  };
  for (int32_t id = 1; id <= kNativeCount; id++) add(g_natives_info[id].word);
  for (int32_t id = 1; id <= kActionCount; id++)
    if (action_callable_q(id)) add(g_actions_table[id].word);
}

// MAY ALLOCATE, MAY RUN KIV CODE (the makers). Lexes the source at [path] and
// adds its top-level function definitions and, as a literal, the rest of its
// code. A definition is made here only where it surely starts a statement
// (its set-word begins a line and follows no set-word), sets a word that has
// no value yet when the source runs (nor a definition) and its spec's types
// name only what the base environment and the routines made: start-up
// defines it before any library code runs. Then runs the source.
void add_source(Image& image, const std::string& path, std::set<int32_t>& defined) {
  std::ifstream in(path, std::ios::binary);
  if (!in) fail(path, "cannot be read");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  StackSave save;
  Cell* code = nullptr;
  try {
    code = lexer_push_utf8(text);
  } catch (KivThrow& t) {
    if (t.code != kThrowError) throw;
    fail(path, caught_error());
  }
  {
    const Cell* cells = series_cells(code->node());
    if (series_length(code->node()) < 2 || !cells[0].is(kTypeWord) ||
        symbol_name(word_symbol(&cells[0])) != "Kiv" || !cells[1].is(kTypeBlock)) {
      fail(path, "does not begin with its Kiv header");
    }
  }
  Cell* rest = block_push_only(series_length(code->node()));
  uint32_t i = 0;
  while (i < series_length(code->node())) {
    const Cell c = series_cells(code->node())[i];
    const uint32_t n = series_length(code->node());
    const int blocks = i + 1 < n ? maker_blocks(series_cells(code->node())[i + 1]) : 0;
    bool premade = i >= 2 && c.is(kTypeSetWord) && c.new_line() && blocks > 0 &&
                   i + 1 + uint32_t(blocks) < n && !series_cells(code->node())[i - 1].is(kTypeSetWord);
    for (int k = 0; premade && k < blocks; k++)
      premade = series_cells(code->node())[i + 2 + k].is(kTypeBlock);
    if (premade && blocks == 2) premade = spec_types_known(image, series_cells(code->node())[i + 2]);
    if (premade) {
      StackSave probe;
      Cell* w = stack_push_value(c);
      premade = get_word_value(w)->is(kTypeUnset) && !defined.count(word_symbol(w));
    }
    if (!premade) {
      block_append_value(rest, &c);
      i++;
      continue;
    }
    StackSave one;
    Cell* call = block_push_only(3);
    for (int k = 0; k <= blocks; k++) block_append_value(call, &series_cells(code->node())[i + 1 + k]);
    block_mark_library_code(call);
    Cell* made = stack_push();
    try {
      if (do_block(call, made) != kStatusOk || !made->is(kTypeFunction)) fail(path, "a definition failed");
    } catch (KivThrow& t) {
      if (t.code != kThrowError) throw;
      fail(path, caught_error());
    }
    Cell word = c;
    word.clear_new_line();
    block_append_value(image.definitions, &word);
    block_append_value(image.definitions, made);
    defined.insert(word_symbol(&c));
    i += 2 + uint32_t(blocks);
  }
  block_append_value(image.literals, rest);
  image.files.push_back(base_name(path));
  // The source runs as start-up runs it from text (lexed anew: the run may
  // change the blocks of its code), so that the next source is made in the
  // state it meets at start-up and the global words come in their order.
  try {
    StackSave run;
    library_run_text(image.files.back().c_str(), reinterpret_cast<const unsigned char*>(text.data()),
                     uint32_t(text.size()));
  } catch (KivThrow& t) {
    if (t.code != kThrowError) throw;
    fail(path, caught_error());
  }
}

// MAY ALLOCATE. Decodes [bytes] back by the boot rules and compares every
// literal and defined value with what was encoded; a difference ends the run.
void check_round_trip(const Image& image, const std::vector<uint8_t>& bytes) {
  std::vector<std::string> literal_molds, definition_molds;
  const uint32_t literals = series_length(image.literals->node());
  for (uint32_t i = 0; i < literals; i++)
    literal_molds.push_back(mold_all(&series_cells(image.literals->node())[i]));
  const uint32_t pairs = series_length(image.definitions->node()) / 2;
  for (uint32_t k = 0; k < pairs; k++)
    definition_molds.push_back(mold_all(&series_cells(image.definitions->node())[2 * k + 1]));
  StackSave save;
  Cell* target = block_push_only(1);
  try {
    kivbin_load_boot_data(bytes.data(), bytes.size(), target);
  } catch (KivThrow& t) {
    if (t.code != kThrowError) throw;
    fail("boot image", "does not decode: " + caught_error());
  }
  if (series_length(target->node()) != literals) fail("boot image", "decodes to another number of literals");
  for (uint32_t i = 0; i < literals; i++) {
    if (mold_all(&series_cells(target->node())[i]) != literal_molds[i])
      fail(i < image.files.size() ? image.files[i] : kRoutineSpecs, "changes through the boot image");
  }
  for (uint32_t k = 0; k < pairs; k++) {
    StackSave one;
    Cell* w = stack_push_value(series_cells(image.definitions->node())[2 * k]);
    if (mold_all(get_word_value(w)) != definition_molds[k])
      fail(std::string(symbol_name(word_symbol(w))), "its value changes through the boot image");
  }
}

// Writes [contents] to [path] unless the file already holds them.
void write_if_changed(const std::string& path, const std::string& contents) {
  std::ifstream old(path, std::ios::binary);
  if (old) {
    std::string now((std::istreambuf_iterator<char>(old)), std::istreambuf_iterator<char>());
    if (now == contents) return;
  }
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << contents;
  if (!out.flush()) fail(path, "cannot be written");
}

std::string header_text(const Image& image) {
  std::ostringstream s;
  s << "// Generated by kiv-bootgen from the library's Kiv sources; do not edit.\n"
       "// The indexes of the boot image's literals among the top-level values it\n"
       "// decodes to: the code of each library source, in start-up order, then\n"
       "// the block of the routines' specs.\n"
       "#pragma once\n\n#include <cstdint>\n\nnamespace kiv::boot_literal {\n\n";
  for (size_t i = 0; i < image.files.size(); i++) {
    std::string name = image.files[i].substr(0, image.files[i].rfind('.'));
    for (char& ch : name)
      if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
    s << "inline constexpr uint32_t k_" << name << " = " << i << ";\n";
  }
  s << "inline constexpr uint32_t kRoutineSpecs = " << image.files.size() << ";\n";
  s << "inline constexpr uint32_t kCount = " << image.files.size() + 1
    << ";\n\n}  // namespace kiv::boot_literal\n";
  return s.str();
}

std::string unit_text(const Image& image, const std::vector<uint8_t>& bytes, const std::string& header) {
  std::ostringstream s;
  s << "// Generated by kiv-bootgen from the library's Kiv sources; do not edit.\n"
       "#include \"library/boot_image.h\"\n#include \""
    << base_name(header) << "\"\n\nnamespace kiv {\n\nnamespace {\n\nconst uint8_t kImage[] = {";
  char hex[8];
  for (size_t n = 0; n < bytes.size(); n++) {
    std::snprintf(hex, sizeof hex, "0x%02x,", bytes[n]);
    s << (n % 24 == 0 ? "\n    " : "") << hex;
  }
  s << "\n    0};\n\nconst BootImageFile kFiles[] = {\n";
  for (size_t i = 0; i < image.files.size(); i++) {
    std::string name = image.files[i].substr(0, image.files[i].rfind('.'));
    for (char& ch : name)
      if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
    s << "    {\"" << image.files[i] << "\", boot_literal::k_" << name << "},\n";
  }
  s << "};\n\n}  // namespace\n\nconst BootImage g_boot_image = {kImage, " << bytes.size() << ", kFiles, "
    << image.files.size() << ", boot_literal::kRoutineSpecs, boot_literal::kCount};\n\n}  // namespace kiv\n";
  return s.str();
}

int run(void* p) {
  auto* args = static_cast<Args*>(p);
  try {
    runtime_init();
    g_collector_active = true;
    base_environment_init();
    routines_init();
    StackSave save;
    Image image{block_push_only(256), block_push_only(16), {}, valued_global_slots()};
    add_builtins(image);
    std::set<int32_t> defined;
    for (int i = 4; i < args->argc; i++) add_source(image, args->argv[i], defined);
    block_append_value(image.literals, routines_push_specs());
    std::vector<uint8_t> bytes;
    try {
      // Every global word, in the order start-up from text adds them.
      Cell* names = stack_push_value(series_cell(kTypeBlock, context_words(g_global_context)));
      Cell* bin = kivbin_encode_boot(names, image.literals, image.definitions);
      const uint8_t* b = binary_head_ptr(bin);
      bytes.assign(b, b + binary_length(bin));
    } catch (KivThrow& t) {
      if (t.code != kThrowError) throw;
      fail("boot image", "cannot be written: " + caught_error());
    }
    check_round_trip(image, bytes);
    write_if_changed(args->argv[1], std::string(bytes.begin(), bytes.end()));
    write_if_changed(args->argv[2], unit_text(image, bytes, args->argv[3]));
    write_if_changed(args->argv[3], header_text(image));
  } catch (KivThrow&) {
    fail("kiv-bootgen", caught_error());
  }
  g_collector_active = false;
  memory_free_all();
  runtime_memory_release();
  args->status = 0;
  return 0;
}

}  // namespace
}  // namespace kiv

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: kiv-bootgen IMAGE UNIT HEADER SOURCE...\n");
    return 2;
  }
  kiv::Args args{argc, argv};
  kiv::run_on_large_stack(kiv::kInterpreterStackReserve, kiv::run, &args);
  return args.status;
}
