// The natives table: every native's entry point, the argument readers and
// the check of arguments for callers other than the interpreter.
//
// Each family file registers the natives it implements (natives.h); the
// slots left empty get an entry that raises internal not-done, so every id
// 1..107 names a callable slot and `make native!` accepts it.
#include "evaluator/natives.h"

#include "datatypes/logic.h"
#include "evaluator/arglist.h"
#include "runtime/errors.h"
#include "runtime/fatal.h"

namespace kiv {

// ---------------------------------------------------------------- readers and rows

namespace native_args {
#define KIV_ARGS_FILE "evaluator/natives.def"
#define KIV_ARGS_READERS
#define KIV_ARGS_FIRST_SLOT 0
#include "datatypes/named_args.inc"
}  // namespace native_args

namespace {

// The number of refinements of [list] (ending in {null, null}).
constexpr int refinement_count(const RefinementInfo* list) {
  int n = 0;
  while (list[n].word) n++;
  return n;
}

}  // namespace

const NativeInfo g_natives_info[kNativeCount + 1] = {
    {NativeId(0), "", "", nullptr, 0},
#define NATIVE(id, Ident, word, spec)                              \
  {kNative##Ident, word, spec, native_args::k##Ident##Refinements, \
   refinement_count(native_args::k##Ident##Refinements)},
#include "evaluator/natives.def"
};

// ---------------------------------------------------------------- filling the table

namespace {

uint32_t native_not_done(bool, const int32_t*) { raise_error(kErrInternalNotDone); }

}  // namespace

void native_register(NativeId id, NativeEntry entry) { native_table_set(id, entry); }

void natives_init() {
  for (int32_t id = 1; id <= kNativeCount; id++) native_table_set(id, native_not_done);
  natives_control_register();
  natives_eval_register();
  natives_function_register();
  natives_math_register();
  natives_convert_register();
  natives_parse_register();
  natives_system_register();
  natives_output_register();
}

// ---------------------------------------------------------------- checking

void native_check_args(NativeId id, const int32_t* r) { arglist_check_native(id, r); }

bool truthy(const Cell* value) {
  TypeId t = value->type();
  return !(t == kTypeNone || (t == kTypeLogic && !logic_get(value)));
}

}  // namespace kiv
