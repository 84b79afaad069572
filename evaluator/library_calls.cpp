// The table of library functions C++ code calls (library_calls.h).
#include "evaluator/library_calls.h"

#include "datatypes/block.h"
#include "datatypes/context.h"
#include "datatypes/function.h"
#include "datatypes/word.h"
#include "evaluator/interpreter.h"
#include "runtime/gc_root.h"
#include "runtime/root_block.h"
#include "runtime/stack.h"

namespace kiv {

namespace {

constexpr const char* kNames[] = {
#define KIV_LIBRARY_CALL_NAME(id, name) name,
    KIV_LIBRARY_CALLS(KIV_LIBRARY_CALL_NAME)
#undef KIV_LIBRARY_CALL_NAME
};
static_assert(sizeof(kNames) / sizeof(kNames[0]) == kLibraryCallCount);

// The cell holding the function for [call], or null while no table exists. Short-lived.
Cell* stored(LibraryCall call) {
  Cell* table = root_slot(kRootLibraryCalls);
  if (!table->is(kTypeBlock)) return nullptr;
  Cell* c = series_cells(table->node()) + uint32_t(call);
  return c->is(kTypeUnset) ? nullptr : c;
}

}  // namespace

Node g_library_call_more[kLibraryCallCount] = {};

const char* library_call_name(LibraryCall call) { return kNames[uint32_t(call)]; }

void library_calls_set(LibraryCall call, const Cell* value) {
  Root keep(*value);
  if (!root_slot(kRootLibraryCalls)->is(kTypeBlock)) {
    Cell* table = block_new(nullptr, int32_t(kLibraryCallCount), kRootLibraryCalls);
    Cell* cells = series_cells(table->node());
    for (uint32_t i = 0; i < kLibraryCallCount; i++) cells[i] = make_cell(kTypeUnset);
    series_buffer(table->node())->tail = kLibraryCallCount * sizeof(Cell);
  }
  series_cells(root_slot(kRootLibraryCalls)->node())[uint32_t(call)] = *keep;
  g_library_call_more[uint32_t(call)] = keep->is(kTypeFunction) ? function_more(keep.get()) : 0;
}

Cell* push_library_call(LibraryCall call) {
  if (const Cell* c = stored(call)) return stack_push_cell(c);
  Root word(load_word(library_call_name(call)));
  return stack_push_cell(get_word_value(word.get()));
}

bool library_call_q(LibraryCall call, const Cell* fn) {
  const Cell* c = stored(call);
  return c && c->is(kTypeFunction) && function_more(c) == function_more(fn) &&
         function_context(c) == function_context(fn);
}

void call_library(LibraryCall call, const Cell* args, int argc, Cell* result) {
  Cell* fn = push_library_call(call);
  Cell* name = stack_push_value(load_word(library_call_name(call)));
  call_value(fn, args, argc, result, name);
}

}  // namespace kiv
