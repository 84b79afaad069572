// The compiled form of code blocks: a side table per block that runs as
// code more than once, holding for each expression start the operations
// the expression resolved to when it was compiled (a word's plain value, a
// call of a known callee with its argument count and accepted types, the
// operators that follow, a paren, an object field path), run without
// re-reading the callee's argument list or re-dispatching on every cell.
//
// The general path (interpreter.cpp) stays the reference: an operation is
// trusted only while its guards hold (the code cells it was compiled from
// are still there, a callee or operator word still holds the very value it
// held); any failing guard evaluates the rest of that operand the general
// way, from the same position, and the expression is compiled again at its
// next run. Word values are always read live. So a block changed while it
// runs, a word rebound, a function redefined or an object extended behave
// exactly as they do uncompiled. While tracing, everything goes the
// general way.
#pragma once

#include <cstdint>

#include "evaluator/interp_internal.h"

namespace kiv::interp {

// MAY RUN KIV CODE. Runs the expressions of the block [node] from [index] to
// its tail, each with the stack top put back to [base] first (where it
// leaves its value) and [current] moved to it: the loop of eval_block and
// eval_block_here. While tracing, every expression goes the general way.
Status code_run(Node node, int32_t index, Cell* base, const CurrentCodeScope& current);

struct CodeCache;

// A block run by a loop native round after round, each run eval_block_here
// for a caller that counted its depth already, with the block's side table
// looked up once for the whole loop and counted as in use until the loop
// ends. The loop's argument holds the block's series; the cell is copied,
// as the argument does not change while the loop runs.
class LoopBody {
 public:
  explicit LoopBody(const Cell* block);
  ~LoopBody();
  LoopBody(const LoopBody&) = delete;
  LoopBody& operator=(const LoopBody&) = delete;

  // MAY RUN KIV CODE. One run of the block inside a loop's catch point
  // (catch_exit_status for the loop target), made only when the block's
  // program does not run it whole; with [chain] its value goes into the
  // call's result slot too.
  Status run_caught(bool chain);

 private:
  Cell block_;
  CodeCache* cache_;
};

// MAY RUN KIV CODE. Evaluates the one expression at [*index] of [node] (not
// at its tail) with its operators, pushes its value and moves [*index] past
// it: eval_expr for an expression of its own. Not while tracing.
Status code_eval_one(Node node, int32_t* index);

// Tells the compiled forms that code cells may have changed: for C++ that
// changes a series between two runs of a LoopBody (and runs no Kiv code
// after that change before the next run).
void code_changed();

// Drops every side table (none may be running) and registers the
// collector's sweep callback once. Called by interp_init.
void code_cache_init();

}  // namespace kiv::interp
