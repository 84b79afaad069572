// Process start and the outermost catch point.
#include "boot/start.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "boot/init.h"
#include "console/terminal.h"
#include "datatypes/error.h"
#include "datatypes/registry.h"
#include "evaluator/base_env.h"
#include "library/boot_image.h"
#include "library/library.h"
#include "library/system_object.h"
#include "platform/process.h"
#include "platform/signals.h"
#include "platform/thread.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/exits.h"
#include "runtime/fatal.h"
#include "runtime/gc_root.h"
#include "runtime/stack.h"
#include "services/console_output.h"
#include "services/kivbin.h"

namespace kiv {

namespace {

struct StartArgs {
  int argc;
  char** argv;
  std::chrono::steady_clock::time_point started;
};

// Hands over to the console: it runs the script the command line names
// (after its own options) or, without one, the read-eval-print loop. The
// launch is library code, bound to the values start-up made.
void launch() {
  StackSave save;
  library_eval_in_library("cli-console-ctx/launch");
}

int run(void* p) {
  auto* args = static_cast<StartArgs*>(p);
  run_outermost([args] {
    runtime_init();
    // KIV_GC_STRESS=move or fail:N turns a collector stress mode on for this run.
    if (const char* stress = std::getenv("KIV_GC_STRESS"); stress && !gc_parse_stress(stress))
      std::fprintf(stderr, "KIV_GC_STRESS: expected move, fail:N or both joined by a comma, not %s\n",
                   stress);
    g_collector_active = true;
#if defined(KIV_GC_STRESS)
    // Start-up is the same in every run: the stress build collects through
    // it only when asked (KIV_GC_STRESS_BOOT=1, or a KIV_GC_STRESS mode set),
    // and through everything the script does.
    const bool stress_boot = std::getenv("KIV_GC_STRESS_BOOT") || std::getenv("KIV_GC_STRESS");
    if (!stress_boot) gc_set_stress(false);
#endif
    auto after_runtime = std::chrono::steady_clock::now();
    // From the boot image, the natives and actions come with its definitions.
    const bool image = library_boot_image_chosen();
    base_environment_init(!image);
    if (image) {
      library_load_image();
      base_environment_bind_operators();
    }
    auto after_base = std::chrono::steady_clock::now();
    library_init();
    console_objects_init();
    registry_seal();  // start-up is over: the handler rows are final
#if defined(KIV_GC_STRESS)
    if (!stress_boot) gc_set_stress(true);
#endif
    auto after_library = std::chrono::steady_clock::now();
    system_set_command_line(args->argc, args->argv);
    // KIV_BOOT_TIMES=1 reports how long each step of start-up took.
    if (std::getenv("KIV_BOOT_TIMES")) {
      auto us = [](auto a, auto b) {
        return (long long)std::chrono::duration_cast<std::chrono::microseconds>(b - a).count();
      };
      // From the image, the natives and actions it defines count as base
      // environment; the rest of its decode as reading the library.
      const LibraryTimes times = library_times();
      const KivbinBootTimes decode = kivbin_boot_times();
      const long long builtins = image ? decode.builtins_us : 0;
      const long long read = times.read_us - builtins;
      const long long moved = image ? read : 0;  // the image is decoded before library_init
      std::fprintf(stderr,
                   "start-up: runtime %lld us, base environment %lld us, library %lld us"
                   " (reading its sources from the %s %lld us",
                   us(args->started, after_runtime), us(after_runtime, after_base) - moved,
                   us(after_base, after_library) + moved, library_booted_from_image() ? "boot image" : "text",
                   read);
      if (image)
        std::fprintf(stderr,
                     ", of which making the functions it defines %lld us; natives and actions %lld us",
                     decode.definitions_us, builtins);
      std::fprintf(stderr, ", running their code %lld us, sealing %lld us)\n", times.run_us, times.seal_us);
    }
    launch();
    conout_finish();
  });
  return 0;
}

// The report of the error nothing caught. Forming it runs code the script
// can reach (the mold of its arguments, the catalogue it may have changed),
// so a failure there still gives a plain report, made in C++ from the
// error's category and id or, failing that, from what the raise recorded.
std::string uncaught_error_report() {
  const ErrorInfo& raised = error_info(last_raised_error().id);
  Root error(make_cell(kTypeNone));
  try {
    *error = raised_error_value();
    if (error->is(kTypeError)) return error_report(error.get());
  } catch (KivThrow&) {
    g_last_throw_code = 0;
    stack_exit_taken();
  }
  if (error->is(kTypeError)) return error_plain_report(error.get());
  return std::string("*** ") + category_info(raised.category).title + ": " + raised.word;
}

}  // namespace

void run_outermost(const std::function<void()>& body) {
  try {
    body();
  } catch (KivThrow& t) {
    if (t.code != kThrowError) main_catch(t.code);
    g_last_throw_code = 0;
    stack_exit_taken();
    std::string report = uncaught_error_report() + "\n";
    write_all(2, report.data(), report.size());
    conout_finish();
    process_exit(kExitUncaughtError);
  }
}

int start(int argc, char** argv) {
  process_hold_standard_fds();
  install_fatal_handlers(fatal_exit_from_signal);
  platform_fpu_init();
  StartArgs args{argc, argv, std::chrono::steady_clock::now()};
  return run_on_large_stack(kInterpreterStackReserve, run, &args);
}

}  // namespace kiv
