// Process start and the outermost catch point.
#include "boot/start.h"

#include <cstdio>
#include <cstdlib>

#include "boot/init.h"
#include "platform/signals.h"
#include "platform/thread.h"
#include "runtime/collector.h"
#include "runtime/exits.h"
#include "runtime/fatal.h"

namespace kiv {

namespace {

struct StartArgs {
  int argc;
  char** argv;
};

int run(void* p) {
  auto* args = static_cast<StartArgs*>(p);
  (void)args;
  try {
    runtime_init();
    // KIV_GC_STRESS=move or fail:N turns a collector stress mode on for this run.
    if (const char* stress = std::getenv("KIV_GC_STRESS"); stress && !gc_parse_stress(stress))
      std::fprintf(stderr, "KIV_GC_STRESS: expected move, fail:N or both joined by a comma, not %s\n", stress);
    g_collector_active = true;
  } catch (KivThrow& t) {
    main_catch(t.code);
  }
  return 0;
}

}  // namespace

int start(int argc, char** argv) {
  install_fatal_handlers();
  platform_fpu_init();
  StartArgs args{argc, argv};
  return run_on_large_stack(kInterpreterStackReserve, run, &args);
}

}  // namespace kiv
