// The natives table: every native's entry point and the argument readers.
//
// Each family file registers the natives it implements, and the services
// install theirs from start-up (natives.h); the slots left empty get an entry that raises internal not-done,
// so every id 1..107 names a callable slot and `make native!` accepts it.
#include "evaluator/natives.h"

#include <cstdio>

#include "datatypes/logic.h"
#include "datatypes/registry.h"
#include "platform/process.h"
#include "runtime/errors.h"
#include "runtime/fatal.h"

namespace kiv {

// ---------------------------------------------------------------- readers and rows

const NativeInfo g_natives_info[kNativeCount + 1] = {
    {NativeId(0), "", "", nullptr},
#define NATIVE(id, Ident, word, params, spec) {kNative##Ident, word, spec, native_args::k##Ident##Params},
#include "evaluator/natives.def"
};

// ---------------------------------------------------------------- filling the table

namespace {

Status native_not_done(bool, const int32_t*) { raise_error(kErrInternalNotDone); }

// The entries installed from above, by id, and whether natives_init has run.
NativeEntry g_installed[kNativeCount + 1] = {};
bool g_table_filled = false;

}  // namespace

void native_register(NativeId id, NativeEntry entry) { native_table_set(id, entry); }

void native_install(NativeId id, NativeEntry entry) {
  if (registry_sealed_q()) {
    std::fprintf(stderr, "*** Native install after start-up: %s\n", g_natives_info[id].word);
    process_exit(1);
  }
  fatal_assert(id >= 1 && id <= kNativeCount && entry);
  g_installed[id] = entry;
  if (g_table_filled) native_table_set(id, entry);
}

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
  for (int32_t id = 1; id <= kNativeCount; id++)
    if (g_installed[id]) native_table_set(id, g_installed[id]);
  g_table_filled = true;
}

}  // namespace kiv
