// native!, action! and op!: storage and collector hooks.
#include "datatypes/native.h"

#include "datatypes/function.h"
#include "datatypes/registry.h"
#include "runtime/collector.h"
#include "runtime/murmur3.h"

namespace kiv {

namespace {

void native_mark(const Cell* value) {
  gc_mark_block(native_spec(value));
  gc_mark_block(native_more(value));
}

// Natives and actions are the same value when they share their more block.
uint32_t native_hash(const Cell* value) { return hash_int32(native_more(value)); }

void op_mark(const Cell* value) {
  native_mark(value);
  TypeId under = op_underlying_type(value);
  if (under == kTypeFunction || under == kTypeRoutine) gc_mark_block(function_context(value));
}

constexpr TypeHooks kNativeHooks{.mark = native_mark, .hash = native_hash};
// An op over a function names the function's context: all three words count.
constexpr TypeHooks kOpHooks{.mark = op_mark};

}  // namespace

void native_datatype_init() {
  register_datatype({kTypeNative, kTypeNil, "native!", kActionCount, {}, &kNativeHooks});
}

void action_datatype_init() { register_datatype({kTypeAction, kTypeNative, "action!", kActionCount, {}}); }

void op_datatype_init() { register_datatype({kTypeOp, kTypeNative, "op!", kActionCount, {}, &kOpHooks}); }

}  // namespace kiv
