// Fatal runtime errors: the numbered report and the end of the process.
//
// A fatal runtime error is a state the runtime cannot continue from: a processor
// fault (mapped from a signal), a failed internal check, an exhausted platform
// heap, or a throw that no catch point took. Every path here ends the process.
//
// Invariants:
// - The report goes to fd 1 through write(2); nothing here uses stdio or
//   allocates, so fatal_exit is safe to call from a signal handler. Output still
//   held in stdio buffers is not flushed.
// - Exit statuses are 8-bit: the status is the error number mod 256, except that
//   a non-zero number never exits 0 (such numbers exit 255).
// - Only the first fatal exit runs the hooks; one that starts while another is
//   under way (a hook faulted, two threads failed at once) finishes the first
//   one's report and status without running any hook again.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/process.h"
#include "platform/signals.h"

namespace kiv {

// The runtime error numbers the runtime itself raises. A fault signal maps to
// the numbers 1-34 (see platform/signals.h).
enum FatalError : int {
  kFatalSilent = kSignalSilent,  // no report; exit status 0
  kFatalAccessViolation = kSignalAccessViolation,
  kFatalIntegerDivide = kSignalIntegerDivide,
  kFatalStackOverflow = kSignalStackOverflow,
  kFatalOutOfMemory = 94,
  kFatalNoCatch = 95,
  kFatalAssertion = kSignalAssertion,
  kFatalUnknown = kSignalUnknown,
  kFatalNoCase = 100,
  kFatalNoSwitch = 101,
};

// The before_exit hook (runtime/hooks.h) runs first on every fatal path,
// signals included, before the report. The release_runtime_memory hook frees
// the runtime's platform-heap blocks after the report on the paths that do not
// come from a signal (a signal may have interrupted the allocator, and the OS
// reclaims the memory at exit anyway).

// The message of runtime error [number]; "unknown error code!" for a number
// without one. Number 0 has none and gives the empty string.
const char* fatal_message(int number);

// Longest report format_fatal_report writes.
inline constexpr size_t kFatalReportMax = 160;
// Writes the report of [number] at [address] into [out] and returns its length:
// "\n*** Runtime Error N: message\n*** at: XXXXXXXXh\n", the address in upper-case
// hex, at least 8 digits (a wider address shows all of them). 0 for number 0.
size_t format_fatal_report(int number, uintptr_t address, char (&out)[kFatalReportMax]);

// The exit status of runtime error [number] (see the invariants above).
int fatal_exit_status(int number);

// Ends the process with runtime error [number] at code [address]: runs the
// before_exit hook, writes the report (none for 0), runs the
// release_runtime_memory hook, then ends the process with
// fatal_exit_status(number).
[[noreturn]] void fatal_exit(int number, uintptr_t address);
// fatal_exit for signal handlers: the same, minus release_runtime_memory.
[[noreturn]] void fatal_exit_from_signal(int number, uintptr_t address);

// The handler of the outermost catch point: the quiet code 0x0BADCAFE exits 0
// without a report; any other code is 95 "no CATCH for THROW" at main_catch's
// own address.
[[noreturn]] void main_catch(uint32_t code);

// Impossible states. Each reports at its caller's return address.
[[noreturn]] void fatal_assert_failed();  // 98 "assertion failed"
[[noreturn]] void fatal_no_case();        // 100: a case-style branch matched nothing
[[noreturn]] void fatal_no_switch();      // 101: a switch-style branch matched nothing

// Ends the process with 98 when [ok] is false; kept in release builds.
inline void fatal_assert(bool ok) {
  if (!ok) [[unlikely]]
    fatal_assert_failed();
}

}  // namespace kiv
