// The PARSE dialect engine: matches an input series (block-like, string-like
// or binary!) against a rule block, capturing, collecting and changing the
// input on the way.
//
// The engine is one loop over an explicit rule stack: entering a rule block
// or starting a command (a repetition, to/thru, copy, collect, ...) pushes a
// frame, so nesting depth never grows the C++ stack. Every frame owns three
// cells of a rule-stack block (rooted on the data stack) and a record of
// integers beside it; the cells and records of all nested parse calls count
// together against one limit, past which the engine raises parse-stack.
//
// Parens in the rules run through the interpreter and may change both the
// rules and the input: the engine keeps (series, index) pairs only and
// re-reads lengths and elements after every evaluation.
#pragma once

#include <cstdint>

#include "evaluator/interpreter.h"
#include "runtime/cell.h"

namespace kiv {

// What one parse call works on. Every cell pointer is a stable cell (the
// data stack).
struct ParseRequest {
  const Cell* input = nullptr;     // the series, parsed from its index
  const Cell* rules = nullptr;     // a block!
  bool case_sensitive = false;     // /case
  int32_t limit = -1;              // absolute index where the input ends (/part), or -1 for its tail
  const Cell* callback = nullptr;  // /trace function, or null
};

// The most cells the rule stack and the input stack may hold, over all
// nested parse calls.
inline constexpr int32_t kParseStackLimit = 10000;

// MAY RUN KIV CODE. Runs the engine; writes true/false (or the block
// collected by an outermost collect without a target) into [*out], a stable
// cell. A break, continue, return or exit from a paren is returned as its
// status.
Status parse_engine(const ParseRequest& request, Cell* out);

}  // namespace kiv
