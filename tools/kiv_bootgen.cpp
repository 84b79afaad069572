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
#include <cstdlib>
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
#include "datatypes/integer.h"
#include "datatypes/object.h"
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
#include "runtime/typesets.h"
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
  // The objects whose bodies start-up runs: for each, the index of its
  // source, the object, its body and the code that follows it.
  Cell* deferred;
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

bool word_named(const Cell& c, std::string_view name) {
  return c.is(kTypeWord) && symbol_name(word_symbol(&c)) == name;
}

// The words whose values made something of the source being added (makers,
// constants, datatypes), with those values: a value made here from one is
// what start-up would make only if the word keeps its value while the
// source runs, which is checked once it has run (check_words_kept).
std::vector<std::pair<Cell, Cell>> g_words_used;

// The value of the global word [c] now, noted as used; unset for a word
// bound elsewhere (to a field of the object being made, say).
Cell value_used(const Cell& c) {
  if (word_context(&c) != g_global_context) return kUnsetCell;
  StackSave probe;
  Cell* w = stack_push_value(c);
  const Cell v = *get_word_value(w);
  g_words_used.push_back({c, v});
  return v;
}

// True when the word [c] has a value of one of the callable types now.
bool callable_now(const Cell& c) {
  const TypeId t = value_used(c).type();
  return t == kTypeFunction || t == kTypeNative || t == kTypeAction;
}

// Fails the build when a word noted as used has another value now that the
// source at [path] has run.
void check_words_kept(const std::string& path) {
  for (const auto& [word, value] : g_words_used) {
    StackSave probe;
    Cell* w = stack_push_value(word);
    const Cell now = *get_word_value(w);
    if (now.type() != value.type() || now.data1 != value.data1 || now.data2 != value.data2 ||
        now.data3 != value.data3)
      fail(path, std::string(symbol_name(word_symbol(&word))) +
                     " changes while the source runs, after values were made with it ahead");
  }
  g_words_used.clear();
}

// The cells an object maker takes at [i] of [cells] (`context [...]`,
// `object [...]`, `make object! [...]`): 2 or 3, else 0.
uint32_t object_maker_length(const Cell* cells, uint32_t i, uint32_t n) {
  const Cell& c = cells[i];
  if ((word_named(c, "context") || word_named(c, "object")) && i + 1 < n && cells[i + 1].is(kTypeBlock) &&
      callable_now(c))
    return 2;
  if (word_named(c, "make") && i + 2 < n && word_named(cells[i + 1], "object!") &&
      cells[i + 2].is(kTypeBlock))
    return 3;
  return 0;
}

bool plain_object_body(const Image& image, const Cell& body);

// True for a literal that evaluates to itself and holds no code: a number,
// a char, a string or binary, a block (taken as data).
bool data_literal(const Cell& c) {
  const TypeId t = c.type();
  return t == kTypeInteger || t == kTypeChar || t == kTypeBlock || is_any_string(t) || t == kTypeBinary;
}

// The cells of a constructor over a literal at [i] of [cells], which gives
// a new value of its own whenever it runs: `make T! literal`, `to T!
// literal` (T! a datatype of data), `copy literal`, `charset literal`;
// else 0.
uint32_t constructor_length(const Cell* cells, uint32_t i, uint32_t n) {
  const Cell& c = cells[i];
  if ((word_named(c, "copy") || word_named(c, "charset")) && i + 1 < n && data_literal(cells[i + 1]) &&
      callable_now(c))
    return 2;
  if (!(word_named(c, "make") || word_named(c, "to")) || i + 2 >= n || !data_literal(cells[i + 2])) return 0;
  // Not word! or issue!: their names would become global words when the
  // image is read, which the text start-up never adds.
  static constexpr std::string_view kData[] = {"block!",  "map!",     "hash!",  "string!", "binary!",
                                               "bitset!", "typeset!", "file!",  "url!",    "date!",
                                               "time!",   "integer!", "float!", "tuple!",  "char!"};
  for (std::string_view name : kData) {
    if (!word_named(cells[i + 1], name)) continue;
    return value_used(cells[i + 1]).is(kTypeDatatype) && callable_now(c) ? 3 : 0;
  }
  return 0;
}

// True when the expression at [i] of [cells] makes the same value whenever
// and wherever it runs: a literal (no word, path or paren), a lit-word or
// lit-path, none/true/false and their kin, a function maker over literal
// blocks whose spec's types name only base values, or an object maker over
// a body of such expressions. *[length] gets its cells.
bool plain_expression(const Image& image, const Cell* cells, uint32_t i, uint32_t n, uint32_t* length) {
  const Cell& c = cells[i];
  const TypeId t = c.type();
  *length = 1;
  if (t == kTypeWord) {
    static constexpr std::string_view kConstants[] = {"none", "true", "false", "yes", "no", "on", "off"};
    for (std::string_view name : kConstants) {
      if (!word_named(c, name)) continue;
      const TypeId v = value_used(c).type();
      return v == kTypeNone || v == kTypeLogic;
    }
    if (uint32_t k = constructor_length(cells, i, n)) {
      *length = k;
      return true;
    }
    if (uint32_t k = object_maker_length(cells, i, n)) {
      *length = k;
      return plain_object_body(image, cells[i + k - 1]);
    }
    const int blocks = maker_blocks(c);
    if (blocks == 0 || i + uint32_t(blocks) >= n || !callable_now(c)) return false;
    for (int k = 1; k <= blocks; k++)
      if (!cells[i + uint32_t(k)].is(kTypeBlock)) return false;
    *length = 1 + uint32_t(blocks);
    return blocks == 1 || spec_types_known(image, cells[i + 1]);
  }
  if (t == kTypeLitWord || t == kTypeLitPath) return true;
  return !is_any_word(t) && !is_any_path(t) && t != kTypeParen;
}

// True when the block [body] is a run of `set-word: expression` where each
// expression is plain (above): making an object of it at build time gives
// what start-up would make.
bool plain_object_body(const Image& image, const Cell& body) {
  const Cell* cells = series_cells(body.node());
  const uint32_t n = series_length(body.node());
  uint32_t i = 0;
  while (i < n) {
    if (!cells[i].is(kTypeSetWord)) return false;
    while (i < n && cells[i].is(kTypeSetWord)) i++;
    uint32_t length;
    if (i == n || !plain_expression(image, cells, i, n, &length)) return false;
    i += length;
  }
  return true;
}

// The literal after the sources' code: the routines' spec blocks.
const char* const kRoutineSpecs = "routine specs";
// And the objects whose bodies start-up runs.
const char* const kDeferred = "objects left to start-up";

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

// MAY ALLOCATE, MAY RUN KIV CODE (the makers). Pushes what the cells
// [cells] make when run (a maker and its blocks), of the type [type]. The
// cells are copies: the series they name stay held where they came from.
Cell* make_here(const std::string& path, const std::vector<Cell>& cells, TypeId type) {
  Cell* call = block_push_only(uint32_t(cells.size()));
  for (const Cell& c : cells) block_append_value(call, &c);
  block_mark_library_code(call);
  Cell* made = stack_push();
  try {
    if (do_block(call, made) != kStatusOk || !made->is(type)) fail(path, "a value made ahead failed");
  } catch (KivThrow& t) {
    if (t.code != kThrowError) throw;
    fail(path, caught_error());
  }
  *call = *made;
  g_stack.top = call + 1;
  return call;
}

// Copies of the [count] cells from [from] of the block [block].
std::vector<Cell> cells_of(const Cell* block, uint32_t from, uint32_t count) {
  const Cell* cells = series_cells(block->node()) + from;
  return std::vector<Cell>(cells, cells + count);
}

// MAY ALLOCATE, MAY RUN KIV CODE (the makers). Pushes the object `make
// object! [body]` makes, with a new-line marker when [new_line].
Cell* make_plain_object(const std::string& path, Cell body, bool new_line) {
  Cell* made = make_here(path, {load_word("make"), load_word("object!"), body}, kTypeObject);
  made->clear_new_line();
  if (new_line) made->header |= kFlagNewLine;
  return made;
}

// MAY ALLOCATE, MAY RUN KIV CODE (the makers). The block [body] of an object
// whose body start-up runs, already bound to it: each plain object maker a
// set-word takes gives way to the object made here, and each function maker
// to `pick [function] 1` with the function made here (pick, an action, is
// there before any library code), so that start-up makes neither. [object]
// is the object the body is bound to.
void premake_in_body(const Image& image, const std::string& path, Cell* body, const Cell* object) {
  StackSave save;
  Cell* out = block_push_only(series_length(body->node()));
  Cell* pick = stack_push_value(load_word("pick"));
  value_used(*pick);
  const bool pick_free = context_find_symbol(object_context(object), word_symbol(pick), true) < 0;
  uint32_t i = 0;
  while (i < series_length(body->node())) {
    StackSave one;
    const uint32_t n = series_length(body->node());
    const Cell c = series_cells(body->node())[i];
    const bool after_set = i >= 1 && series_cells(body->node())[i - 1].is(kTypeSetWord);
    if (!after_set) {
      block_append_value(out, &c);
      i++;
      continue;
    }
    const uint32_t object = object_maker_length(series_cells(body->node()), i, n);
    if (object && plain_object_body(image, series_cells(body->node())[i + object - 1])) {
      block_append_value(out,
                         make_plain_object(path, series_cells(body->node())[i + object - 1], c.new_line()));
      i += object;
      continue;
    }
    const int blocks = maker_blocks(c);
    bool function = pick_free && blocks > 0 && i + uint32_t(blocks) < n && callable_now(c);
    for (int k = 1; function && k <= blocks; k++)
      function = series_cells(body->node())[i + uint32_t(k)].is(kTypeBlock);
    if (function && blocks == 2) function = spec_types_known(image, series_cells(body->node())[i + 1]);
    if (!function) {
      block_append_value(out, &c);
      i++;
      continue;
    }
    Cell* made = make_here(path, cells_of(body, i, 1 + uint32_t(blocks)), kTypeFunction);
    made->clear_new_line();
    Cell* holder = block_push_only(1);
    block_append_value(holder, made);
    Cell word = *pick;
    word.clear_new_line();
    if (c.new_line()) word.header |= kFlagNewLine;
    block_append_value(out, &word);
    block_append_value(out, holder);
    Cell index = integer_cell(1);
    block_append_value(out, &index);
    i += 1 + uint32_t(blocks);
  }
  *body = *out;
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
  // The block the code goes to: the source's code, then the block of each
  // statement on from an object left to start-up to run.
  Cell* segment = stack_push_value(*rest);
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
      // An object a set-word or set-path takes, made here when its body is
      // plain: the code holds the object in place of its maker.
      const Cell* cells = series_cells(code->node());
      auto sets = [](const Cell& x) { return x.is(kTypeSetWord) || x.is(kTypeSetPath); };
      const bool taken = i >= 3 && sets(cells[i - 1]);
      const uint32_t object = i >= 2 ? object_maker_length(cells, i, n) : 0;
      if (object && taken && plain_object_body(image, cells[i + object - 1])) {
        StackSave one;
        block_append_value(segment, make_plain_object(path, cells[i + object - 1], c.new_line()));
        i += object;
        continue;
      }
      // One whose body does more, where it (or the set-word or set-path
      // that takes it) starts a statement: made here with its words and its
      // body bound to it, and its body run by start-up (object_make_run)
      // before the rest of the code from that statement on, which the image
      // holds as a block of its own.
      const bool starts =
          taken ? cells[i - 1].new_line() && !sets(cells[i - 2]) : c.new_line() && !sets(cells[i - 1]);
      if (object && starts) {
        StackSave one;
        const Cell target = taken ? cells[i - 1] : Cell{};
        Cell* body = stack_push_value(cells[i + object - 1]);
        Cell* made = object_make_unrun(body);
        premake_in_body(image, path, body, made);
        if (taken) block_truncate(segment, series_length(segment->node()) - 1);
        *segment = *block_push_only(64);
        if (taken) block_append_value(segment, &target);
        made->clear_new_line();
        if (!taken && c.new_line()) made->header |= kFlagNewLine;
        block_append_value(segment, made);
        Cell* file = stack_push_value(integer_cell(int32_t(image.files.size())));
        block_append_value(image.deferred, file);
        block_append_value(image.deferred, made);
        block_append_value(image.deferred, body);
        block_append_value(image.deferred, segment);
        i += object;
        continue;
      }
      block_append_value(segment, &c);
      i++;
      continue;
    }
    StackSave one;
    Cell* made = make_here(path, cells_of(code, i + 1, 1 + uint32_t(blocks)), kTypeFunction);
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
  check_words_kept(path);
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
      fail(i < image.files.size()    ? image.files[i]
           : i == image.files.size() ? kRoutineSpecs
                                     : kDeferred,
           "changes through the boot image");
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
       "// the block of the routines' specs, then the objects whose bodies start-up\n"
       "// runs.\n"
       "#pragma once\n\n#include <cstdint>\n\nnamespace kiv::boot_literal {\n\n";
  for (size_t i = 0; i < image.files.size(); i++) {
    std::string name = image.files[i].substr(0, image.files[i].rfind('.'));
    for (char& ch : name)
      if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
    s << "inline constexpr uint32_t k_" << name << " = " << i << ";\n";
  }
  s << "inline constexpr uint32_t kRoutineSpecs = " << image.files.size() << ";\n";
  s << "inline constexpr uint32_t kDeferredObjects = " << image.files.size() + 1 << ";\n";
  s << "inline constexpr uint32_t kCount = " << image.files.size() + 2
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
    << image.files.size()
    << ", boot_literal::kRoutineSpecs, boot_literal::kDeferredObjects, boot_literal::kCount};\n\n}  // "
       "namespace kiv\n";
  return s.str();
}

int run(void* p) {
  auto* args = static_cast<Args*>(p);
  try {
    runtime_init();
    g_collector_active = true;
#if defined(KIV_GC_STRESS)
    // The generator reads the same sources every build: like start-up, the
    // stress build collects through it only when asked.
    if (!std::getenv("KIV_GC_STRESS_BOOT")) gc_set_stress(false);
#endif
    base_environment_init();
    routines_init();
    StackSave save;
    Image image{block_push_only(256), block_push_only(16), block_push_only(64), {}, valued_global_slots()};
    add_builtins(image);
    std::set<int32_t> defined;
    for (int i = 4; i < args->argc; i++) add_source(image, args->argv[i], defined);
    block_append_value(image.literals, routines_push_specs());
    block_append_value(image.literals, image.deferred);
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
