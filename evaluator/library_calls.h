// The library functions written in Kiv that C++ code calls: one declared list.
//
// C++ below the library (the `do` native, start-up) calls a few functions the
// library defines in Kiv. It never reaches them through the global words a
// script can set: when start-up ends, the library fills this table with the
// values it made (library_calls_set), checked to be functions, and C++ calls
// go to those values for the rest of the run. Before then, a call finds the
// global word's value.
#pragma once

#include "datatypes/function.h"
#include "runtime/cell.h"

namespace kiv {

#define KIV_LIBRARY_CALLS(X)               \
  X(DoFile, "do-file")                     \
  X(ExpandDirectives, "expand-directives") \
  X(Modulo, "modulo")                      \
  X(ParseUrl, "parse-url")                 \
  X(ShowMemoryStats, "show-memory-stats")

enum class LibraryCall : uint32_t {
#define KIV_LIBRARY_CALL_ENUM(id, name) k##id,
  KIV_LIBRARY_CALLS(KIV_LIBRARY_CALL_ENUM)
#undef KIV_LIBRARY_CALL_ENUM
      kCount
};
inline constexpr uint32_t kLibraryCallCount = uint32_t(LibraryCall::kCount);

// The word the library defines [call] under.
const char* library_call_name(LibraryCall call);

// MAY ALLOCATE. Stores [value] as the function C++ calls for [call].
void library_calls_set(LibraryCall call, const Cell* value);

// MAY ALLOCATE. Pushes the function for [call] and returns it (a stable
// stack cell): the value start-up stored, or before then the global word's.
Cell* push_library_call(LibraryCall call);

// True when [fn] (a function! or an op! over one) is the function start-up
// stored for [call]: the interpreter runs a few of them as native
// translations with the same results (modulo's integer case).
bool library_call_q(LibraryCall call, const Cell* fn);

// The more node of the function stored for each call (0 for none yet): a
// first test of library_call_q in a few loads, on every function call. A key
// compared, never followed; the table in the root block keeps the node alive.
extern Node g_library_call_more[kLibraryCallCount];
inline bool library_call_maybe_q(LibraryCall call, const Cell* fn) {
  return g_library_call_more[uint32_t(call)] == function_more(fn);
}

// MAY RUN KIV CODE. Calls the library function [call] with the [argc]
// values [args] (every refinement absent) and writes its result into
// [*result] (a stable cell); the call's frame is named for the function.
void call_library(LibraryCall call, const Cell* args, int argc, Cell* result);

}  // namespace kiv
