// What the evaluator's tests share: evaluating Kiv source text.
#pragma once

#include <string>
#include <string_view>

#include "evaluator/interpreter.h"
#include "evaluator/lexer.h"
#include "kiv_test.h"
#include "runtime/stack.h"

namespace kiv::test {

// MAY RUN KIV CODE. Loads [source] and evaluates it as a block; its value
// goes to a cell pushed on the data stack, which *[out] points at. Returns
// the status the block ended with (break, return... at the top level).
inline Status evaluate(std::string_view source, Cell** out) {
  Cell* code = stack_push();
  lexer_load_utf8(code, reinterpret_cast<const uint8_t*>(source.data()), uint32_t(source.size()));
  *out = stack_push();
  return do_block(code, *out);
}

// MAY RUN KIV CODE. The mold of what [source] evaluates to, "" for unset!,
// "status" for a break, return... at the top level, or "!id" of the error raised.
inline std::string eval_mold(const std::string& source) {
  StackSave save;
  std::string text;
  ErrorId e = catch_error([&] {
    Cell* out;
    Status s = evaluate(source, &out);
    text = s != kStatusOk ? "status" : out->is(kTypeUnset) ? "" : mold(*out, false);
  });
  return e == kNoError ? text : std::string("!") + error_info(e).word;
}

}  // namespace kiv::test
