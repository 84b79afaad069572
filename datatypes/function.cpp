// function! and routine!: storage and collector hooks.
#include "datatypes/function.h"

#include "datatypes/registry.h"
#include "runtime/collector.h"

namespace kiv {

namespace {

void function_mark(const Cell* value) {
  gc_mark_block(function_context(value));
  gc_mark_block(function_spec(value));
  gc_mark_block(function_more(value));
}

// Equal only to themselves: all three payload words count (the default hash).
constexpr TypeHooks kFunctionHooks{.mark = function_mark};

}  // namespace

void function_datatype_init() {
  register_datatype({kTypeFunction, kTypeContext, "function!", kActionCount, {}, &kFunctionHooks});
}

void routine_datatype_init() {
  register_datatype({kTypeRoutine, kTypeFunction, "routine!", kActionCount, {}});
}

}  // namespace kiv
