// Making the library at start-up (library.h).
//
// Library code is immune to a script's global assignments: when the sources
// have run, library_seal copies the global context into the library's own
// context (same slots, same values) and rebinds the words of every library
// function's body that were bound to the global context to that copy. After
// `any: 5` a script's own `any` changes; `split` still calls the native.
// Left bound to the global context: words that had no value when start-up
// ended (defined later by the script or a later layer). Library state that
// scripts share lives in objects (`system` and the rest): both contexts
// hold the same object, so everything reached through it stays shared.
#include "library/library.h"

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/function.h"
#include "datatypes/integer.h"
#include "datatypes/map.h"
#include "datatypes/native.h"
#include "datatypes/object.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "evaluator/interpreter.h"
#include "evaluator/lexer.h"
#include "evaluator/library_calls.h"
#include "library/boot_image.h"
#include "library/library_texts.h"
#include "library/profiler.h"
#include "library/routines.h"
#include "library/system_object.h"
#include "runtime/errors.h"
#include "runtime/fatal.h"
#include "runtime/gc_root.h"
#include "runtime/root_block.h"
#include "runtime/stack.h"
#include "services/kivbin.h"

namespace kiv {

namespace {

// MAY RUN KIV CODE. Evaluates the block at [code], a stack cell that the
// value then replaces as the last pushed cell.
Cell* run_pushed(Cell* code) {
  Cell* result = stack_push();
  if (do_block(code, result) != kStatusOk) raise_error(kErrThrowReturn);
  *code = *result;
  g_stack.top = code + 1;
  return code;
}

// Walks every library function reachable from the values [values] (the
// global context's values when start-up ends): through object fields, map
// values, blocks, function bodies and the private contexts their words are
// bound to, each series and context once. For each word cell
// of a function body (at any depth of blocks, parens and paths) calls
// [on_word]. Allocates nothing: [on_word] may only rewrite the cell.
template <typename OnWord>
class LibraryWalk {
 public:
  explicit LibraryWalk(OnWord on_word) : on_word_(on_word) {}

  void values(const Cell* cells, uint32_t count) {
    for (uint32_t i = 0; i < count; i++) value(cells[i]);
    drain();
  }

 private:
  struct Item {
    Node node;
    bool body;
  };

  void value(const Cell& v) {
    TypeId t = v.type();
    if (t == kTypeFunction || (t == kTypeOp && op_over_function_q(&v))) {
      Cell body = function_body(&v);
      if (body.is(kTypeBlock)) series(body.node(), true);
    } else if (is_any_object(t)) {
      context(object_context(&v));
    } else if (t == kTypeMap) {
      series(map_pairs(&v), false);
    } else if (is_any_block(t)) {
      series(v.node(), false);
    }
  }

  // The values of a context with values of its own (an object's, or a
  // private context a library body's words are bound to).
  void context(Node ctx) {
    if (!ctx || ctx == g_global_context || context_stack_q(ctx) || !context_values(ctx)) return;
    if (!first_visit(ctx, kContext)) return;
    const Cell* values = series_cells(context_values(ctx));
    uint32_t n = std::min(context_word_count(ctx), series_length(context_values(ctx)));
    for (uint32_t i = 0; i < n; i++) pending_values_.push_back(values[i]);
  }

  void series(Node node, bool body) {
    if (!node) return;
    if (!first_visit(node, body ? kBody : kData)) return;
    work_.push_back({node, body});
  }

  void drain() {
    while (!work_.empty() || !pending_values_.empty()) {
      if (!pending_values_.empty()) {
        Cell v = pending_values_.back();
        pending_values_.pop_back();
        value(v);
        continue;
      }
      Item item = work_.back();
      work_.pop_back();
      SeriesBuffer* b = series_buffer(item.node);
      if (b->unit() != sizeof(Cell)) continue;
      for (uint32_t i = 0; i < b->length(); i++) {
        Cell* c = b->head_cell() + i;
        TypeId t = c->type();
        if (item.body && is_any_word(t)) {
          context(word_context(c));
          on_word_(c);
        } else if (item.body && is_any_block(t)) {
          series(c->node(), true);
        } else {
          value(*c);
        }
      }
    }
  }

  // Each node is visited once as a body, once as data and once as a
  // context: a bit of each kind per node number (node numbers are dense).
  enum Visit : uint8_t { kBody = 1, kData = 2, kContext = 4 };
  bool first_visit(Node node, Visit kind) {
    if (node >= visited_.size()) visited_.resize(size_t(node) + 1024, 0);
    if (visited_[node] & kind) return false;
    visited_[node] |= kind;
    return true;
  }

  OnWord on_word_;
  std::vector<Item> work_;
  std::vector<Cell> pending_values_;
  std::vector<uint8_t> visited_;
};

template <typename OnWord>
void walk_library(const Cell* values, uint32_t count, OnWord on_word) {
  LibraryWalk<OnWord> walk(on_word);
  walk.values(values, count);
}

// MAY ALLOCATE. Makes the library's own context and binds library code to it
// (see the top of this file), then fills the table of library functions that
// C++ code calls from it.
void library_seal() {
  Node global = g_global_context;
  uint32_t count = context_word_count(global);
  Node lib = context_create(count, false, false, global, kContextPlain);
  *root_slot(kRootLibraryContext) = context_view(lib);
  {
    const Cell* from = series_cells(g_global_values);
    Cell* to = series_cells(context_values(lib));
    for (uint32_t i = 0; i < count; i++) to[i] = from[i];
  }
  NoGcScope no_gc;
  const Cell* values = series_cells(context_values(lib));
  walk_library(values, count, [&](Cell* word) {
    if (word->is(kTypeIssue) || word_context(word) != global) return;
    int32_t index = word_index(word);
    if (index < 0 || uint32_t(index) >= count) return;
    if (values[index].is(kTypeUnset)) return;
    word_bind(word, lib, index);
  });
}

// MAY ALLOCATE. Fills the table of library functions C++ calls from the
// library's own context; a missing one is a fault of the build.
void library_calls_fill() {
  Node lib = root_slot(kRootLibraryContext)->node();
  for (uint32_t i = 0; i < kLibraryCallCount; i++) {
    LibraryCall call = LibraryCall(i);
    int32_t symbol = symbol_make(library_call_name(call));
    int32_t slot = context_find_symbol(lib, symbol, true);
    const Cell* value = slot >= 0 ? word_get_in(lib, slot) : nullptr;
    fatal_assert(value && value->is(kTypeFunction));
    Cell copy = *value;
    library_calls_set(call, &copy);
  }
}

// MAY RUN KIV CODE. Runs [code], a pushed block of a library source's values
// from its header on, in the global context.
void run_source_block(const char* name, Cell* code) {
  // Every source starts with its header: the word Kiv and a block.
  const Cell* cells = series_cells(code->node());
  if (series_length(code->node()) < 2 || !cells[0].is(kTypeWord) ||
      symbol_name(word_symbol(&cells[0])) != "Kiv" || !cells[1].is(kTypeBlock)) {
    raise_error(kErrSyntaxNoHeader, file_load_push(ByteSource(reinterpret_cast<const uint8_t*>(name)),
                                                   uint32_t(std::strlen(name)), kEncodingUtf8));
  }
  code->set_head(2);
  block_mark_library_code(code);
  run_pushed(code);
}

const BootImage* g_image = nullptr;

// MAY RUN KIV CODE. Runs the image's objects of the source [file] whose
// bodies start-up runs, each followed by the code after it.
void run_deferred_objects(int file) {
  fatal_assert(g_image->deferred_objects < g_image->literal_count);
  const Node deferred = series_cells(g_root_block)[kRootSlotCount + g_image->deferred_objects].node();
  for (uint32_t k = 0; k + 3 < series_cell_count(deferred); k += 4) {
    const Cell* entry = series_cells(deferred) + k;
    if (!entry[0].is(kTypeInteger) || integer_get(&entry[0]) != file) continue;
    fatal_assert(entry[1].is(kTypeObject) && entry[2].is(kTypeBlock) && entry[3].is(kTypeBlock));
    StackSave save;
    Cell* object = stack_push_value(entry[1]);
    Cell* body = stack_push_value(entry[2]);
    Cell* code = stack_push_value(series_cells(deferred)[k + 3]);
    object_make_run(object, body);
    block_mark_library_code(code);
    run_pushed(code);
  }
}
bool g_from_image = false;
bool g_image_loaded = false;
LibraryTimes g_times;

// Microseconds since [start].
long long since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start)
      .count();
}

}  // namespace

void library_use_boot_image(const BootImage* image) { g_image = image; }

bool library_boot_image_chosen() {
  const char* text_boot = std::getenv("KIV_BOOT_FROM_TEXT");
  return g_image && !(text_boot && *text_boot && std::strcmp(text_boot, "0") != 0);
}

void library_load_image() {
  auto start = std::chrono::steady_clock::now();
  fatal_assert(g_image && !g_image_loaded);
  // A definition holds its word, its value and a native's spec at the tail
  // while it is decoded.
  fatal_assert(g_image->literal_count + 3 <= root_block_room());
  StackSave save;
  Cell* root = stack_push_value(series_cell(kTypeBlock, g_root_block));
  const int32_t base = kivbin_load_boot_data(g_image->data, g_image->size, root);
  root_block_assert_fixed();
  fatal_assert(base == int32_t(kRootSlotCount) &&
               series_cell_count(g_root_block) == kRootSlotCount + g_image->literal_count);
  g_image_loaded = true;
  g_times.read_us += since(start);
}

LibraryTimes library_times() { return g_times; }

bool library_booted_from_image() { return g_from_image; }

void library_run_text(const char* name, const unsigned char* text, uint32_t length) {
  auto start = std::chrono::steady_clock::now();
  Cell* code = lexer_push_utf8(std::string_view(reinterpret_cast<const char*>(text), length));
  g_times.read_us += since(start);
  start = std::chrono::steady_clock::now();
  run_source_block(name, code);
  g_times.run_us += since(start);
}

Cell* library_eval(std::string_view text) {
  Cell* code = lexer_push_utf8(text);
  block_mark_library_code(code);
  return run_pushed(code);
}

Cell* library_eval_in_library(std::string_view text) {
  Cell* code = lexer_push_utf8(text);
  const Cell* lib = root_slot(kRootLibraryContext);
  if (lib->is(kTypeBlock)) context_bind_block(code, lib->node(), false);
  block_mark_library_code(code);
  return run_pushed(code);
}

void library_init() {
  g_from_image = g_image_loaded;
  if (g_from_image) {
    fatal_assert(g_image->routine_specs < g_image->literal_count);
    routines_use_specs(series_cells(g_root_block)[kRootSlotCount + g_image->routine_specs].node());
  }
  routines_init();
  if (g_from_image) {
    for (int i = 0; i < g_image->file_count; i++) {
      StackSave save;
      const BootImageFile& f = g_image->files[i];
      fatal_assert(f.literal < g_image->literal_count);
      auto start = std::chrono::steady_clock::now();
      // Its code is run from a copy of the literal's cell: the run takes
      // the cell's place for its result.
      Cell* code = stack_push_value(series_cells(g_root_block)[kRootSlotCount + f.literal]);
      fatal_assert(code->is(kTypeBlock));
      run_source_block(f.name, code);
      run_deferred_objects(i);
      g_times.run_us += since(start);
    }
  } else {
    for (int i = 0; i < g_library_text_count; i++) {
      StackSave save;
      const LibraryText& t = g_library_texts[i];
      library_run_text(t.name, t.text, t.length);
    }
  }
  auto start = std::chrono::steady_clock::now();
  system_object_finish();
  profiler_init();
  library_seal();
  library_calls_fill();
  g_times.seal_us += since(start);
}

}  // namespace kiv
