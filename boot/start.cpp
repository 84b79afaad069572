// Process start and the outermost catch point.
#include "boot/start.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "boot/init.h"
#include "datatypes/error.h"
#include "platform/process.h"
#include "platform/signals.h"
#include "platform/thread.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/exits.h"
#include "runtime/fatal.h"

namespace kiv {

namespace {

// An uncaught error's exit status: -2 as an 8-bit status.
constexpr int kUncaughtErrorStatus = 254;

struct StartArgs {
  int argc;
  char** argv;
};

int run(void* p) {
  auto* args = static_cast<StartArgs*>(p);
  (void)args;
  run_outermost([] {
    runtime_init();
    // KIV_GC_STRESS=move or fail:N turns a collector stress mode on for this run.
    if (const char* stress = std::getenv("KIV_GC_STRESS"); stress && !gc_parse_stress(stress))
      std::fprintf(stderr, "KIV_GC_STRESS: expected move, fail:N or both joined by a comma, not %s\n",
                   stress);
    g_collector_active = true;
  });
  return 0;
}

}  // namespace

void run_outermost(const std::function<void()>& body) {
  try {
    body();
  } catch (KivThrow& t) {
    if (t.code != kThrowError) main_catch(t.code);
    g_last_throw_code = 0;
    Cell error = raised_error_value();
    std::string report =
        (error.is(kTypeError) ? error_report(&error) : error_info(last_raised_error().id).word) +
        std::string("\n");
    write_all(1, report.data(), report.size());
    process_exit(kUncaughtErrorStatus);
  }
}

int start(int argc, char** argv) {
  install_fatal_handlers(fatal_exit_from_signal);
  platform_fpu_init();
  StartArgs args{argc, argv};
  return run_on_large_stack(kInterpreterStackReserve, run, &args);
}

}  // namespace kiv
