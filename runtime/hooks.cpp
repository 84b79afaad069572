// The core's hooks and their installation.
#include "runtime/hooks.h"

#include "platform/process.h"

namespace kiv {

CoreHooks g_hooks{};

void hooks_install(const CoreHooks& hooks) {
  g_hooks = hooks;
  process_set_before_exit(hooks.before_exit);
}

}  // namespace kiv
