// Cached argument lists: what a call of a function-like value fetches, built
// once from its spec and kept in cell 1 of the value's more block.
//
// The list is a block!, one cell per spec item before /local, in spec order:
//   typeset!     a parameter: the types it accepts (from its type block when
//                that is not empty, else every type but unset!), its fetch
//                mode (ArgMode) in header bits 20-21
//   refinement!  a refinement; its word index its ordinal (1, 2, ...)
// then an integer!: for a function! or routine! the locals count from /local
// (function_count_locals), for a native! or action! its number of
// refinements. Item n of the list is word n of the spec as
// function_arg_word counts them, so errors name parameters through it.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace kiv {

enum ArgMode : uint32_t {
  kArgEvaluated = 0,   // word! parameter
  kArgLiteral = 1,     // get-word! parameter: the next value as it is
  kArgSoftQuoted = 2,  // lit-word! parameter: parens, get-words and get-paths evaluated
};
inline constexpr uint32_t kArgModeShift = 20;
inline ArgMode arg_mode(const Cell* param) { return ArgMode((param->header >> kArgModeShift) & 3); }

// MAY ALLOCATE. The node of the argument list of the function-like [fn]
// (native!, action!, op!, function!, routine!; a stable cell), built on first
// use. Script bad-func-def for a set-word in the spec other than `return:`,
// and for a spec of built-in code that no longer fits the code's own
// (datatypes/builtin_spec.h: a spec changed after the value was made).
Node arglist_of(const Cell* fn);

// Empties the cache of argument lists by function value and has every
// collection empty it. Once in start-up (interp_init); again does no harm.
void arglist_cache_init();

}  // namespace kiv
