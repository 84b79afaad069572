// Fault handling: signals mapped to runtime error numbers, the alternate signal
// stack the handler runs on, and the floating-point environment.
//
// Every handled signal but SIGTERM and SIGHUP ends the process through the
// fault handler given to install_fatal_handlers, with the number below and
// the interrupted instruction's address. The handler runs on the thread's
// alternate stack, so a stack overflow is still reported.
//
//   SIGSEGV  19 when the fault address or the stack pointer lies in the guard
//              region of the thread's registered stack or up to
//              kStackGuardSize below it; else 1 "access violation"
//   SIGBUS   BUS_ADRALN 2, BUS_ADRERR 27, BUS_OBJERR 28, BUS_MCEERR_AR 29,
//              BUS_MCEERR_AO 30, else 34 "Bus error"
//   SIGFPE   FPE_INTDIV 13 (on x86-64 also INT_MIN / -1), FPE_INTOVF 14,
//              FPE_FLTDIV 7, FPE_FLTOVF 10, FPE_FLTUND 12, FPE_FLTRES 8,
//              FPE_FLTINV 9, FPE_FLTSUB 5, else 33 "FPU error"
//   SIGILL   ILL_ILLOPC and ILL_ILLOPN 17 (the kernel reports an undefined
//              opcode as ILL_ILLOPN on x86), ILL_ILLADR 24, ILL_ILLTRP 25,
//              ILL_PRVOPC 15, ILL_PRVREG 31, ILL_COPROC 26, ILL_BADSTK 19,
//              else 17
//   SIGTRAP  TRAP_TRACE 4 "single step", else 3 "breakpoint"
//   SIGABRT  98 "assertion failed" (abort: failed library checks, terminate)
//   SIGINT   0: silent, exit status 0
//   SIGTERM, SIGHUP   no number: the process ends quietly by the signal
//              itself, as its default action would, after the before-exit hook
//              (process_end_by_signal)
//   SIGQUIT, SIGSYS, SIGXCPU, SIGXFSZ   99 "unknown error"
//   SIGPIPE  ignored: a write to a closed pipe fails with EPIPE instead
//
// SIGINT, SIGTERM, SIGHUP and SIGQUIT keep an inherited "ignore" disposition.
// Other signals keep their defaults. The asynchronous ones are blocked while a
// handler runs; the fault signals are not, so a fault inside an exit hook still
// ends in the first error's report.
#pragma once

#include <cstdint>

namespace kiv {

// The runtime error numbers of the table above that the runtime also raises itself.
enum SignalNumber : int {
  kSignalSilent = 0,
  kSignalAccessViolation = 1,
  kSignalIntegerDivide = 13,
  kSignalStackOverflow = 19,
  kSignalAssertion = 98,
  kSignalUnknown = 99,
};

// Ends the process for a fault: [number] from the table above, [address] the
// interrupted instruction. Runs on the alternate signal stack; must be
// async-signal-safe and never return.
using FaultHandler = void (*)(int number, uintptr_t address);

// Stack and frame pointer of the last fault, written by the handler.
struct FailurePosition {
  uintptr_t stack_pointer;
  uintptr_t frame_pointer;
};
extern FailurePosition g_failure_position;

// The runtime error number of signal [signo] with [si_code]; [fault_address]
// (si_addr) and [stack_pointer] tell a stack overflow from another SIGSEGV and
// are read for kernel-generated signals only (si_code > 0). Uses the calling
// thread's registered stack bounds.
int fatal_number_for_signal(int signo, int si_code, uintptr_t fault_address, uintptr_t stack_pointer);

// Gives the calling thread an alternate signal stack unless it has a large enough
// one already (the address sanitizer installs its own). Call on every thread
// that runs Kiv code; run_on_large_stack does it for its thread. The stack is
// released when the thread ends.
void install_alt_stack_for_this_thread();

// Start-up: registers the calling thread's stack bounds, installs its alternate
// stack and the handlers of the table above, which end the process through
// [handler]. Install after the sanitizers' own initialisation (any point in
// main is).
void install_fatal_handlers(FaultHandler handler);

// Floating point as the runtime expects it: round to nearest, every exception
// masked, sticky flags clear. The x87 precision stays extended: doubles are
// computed in SSE registers, and long double routines of the C library need it.
void platform_fpu_init();

}  // namespace kiv
