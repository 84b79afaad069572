// Signal handlers for fatal runtime errors, alternate signal stacks, and the
// floating-point environment.
//
// The handler is async-signal-safe: it reads the ucontext, the thread's stack
// bounds (thread-local, written only by the same thread) and ends the process
// through the registered fault handler. It never returns.
#include "platform/signals.h"

#include <sys/mman.h>
#include <ucontext.h>

#include <cfenv>
#include <csignal>

#include "platform/pages.h"
#include "platform/process.h"
#include "platform/thread.h"

namespace kiv {

FailurePosition g_failure_position = {0, 0};

namespace {

FaultHandler g_fault_handler = nullptr;

constexpr size_t kAltStackSize = 64 * 1024;
// An alternate stack already in place is kept when at least this large.
constexpr size_t kAltStackKeep = 16 * 1024;

// The alternate stack this module mapped for its thread (guard page included);
// unmapped when the thread ends.
struct AltStack {
  void* mapping = nullptr;
  size_t size = 0;
  ~AltStack();
};

AltStack::~AltStack() {
  if (!mapping) return;
  stack_t current;
  if (sigaltstack(nullptr, &current) == 0 && current.ss_sp == static_cast<char*>(mapping) + kPageSize) {
    stack_t off{};
    off.ss_flags = SS_DISABLE;
    sigaltstack(&off, nullptr);
  }
  munmap(mapping, size);
}

thread_local AltStack t_alt_stack;

bool in_stack_overflow_window(uintptr_t address) {
  NativeStackBounds bounds = this_thread_stack_bounds();
  if (!bounds.limit) return false;
  uintptr_t low = bounds.guard_low > kStackGuardSize ? bounds.guard_low - kStackGuardSize : 0;
  return address >= low && address < bounds.limit;
}

int segv_number(int si_code, uintptr_t fault_address, uintptr_t stack_pointer) {
  if (si_code > 0 && (in_stack_overflow_window(fault_address) || in_stack_overflow_window(stack_pointer)))
    return kSignalStackOverflow;
  return kSignalAccessViolation;
}

// si_code -> runtime error number, per signal; codes not listed take the
// signal's fallback number.
struct CodeNumber {
  int si_code;
  int number;
};

constexpr CodeNumber kBusNumbers[] = {
    {BUS_ADRALN, 2}, {BUS_ADRERR, 27}, {BUS_OBJERR, 28}, {BUS_MCEERR_AR, 29}, {BUS_MCEERR_AO, 30},
};
constexpr CodeNumber kFpeNumbers[] = {
    {FPE_INTDIV, kSignalIntegerDivide},
    {FPE_INTOVF, 14},
    {FPE_FLTDIV, 7},
    {FPE_FLTOVF, 10},
    {FPE_FLTUND, 12},
    {FPE_FLTRES, 8},
    {FPE_FLTINV, 9},
    {FPE_FLTSUB, 5},
};
// ILL_ILLOPC, ILL_ILLOPN and the rest fall back to 17.
constexpr CodeNumber kIllNumbers[] = {
    {ILL_ILLADR, 24}, {ILL_ILLTRP, 25}, {ILL_PRVOPC, 15},
    {ILL_PRVREG, 31}, {ILL_COPROC, 26}, {ILL_BADSTK, kSignalStackOverflow},
};

template <size_t N>
int number_for_code(const CodeNumber (&table)[N], int si_code, int fallback) {
  for (const CodeNumber& row : table)
    if (row.si_code == si_code) return row.number;
  return fallback;
}

void on_fatal_signal(int signo, siginfo_t* info, void* context) {
  // Requests to end are no failure: no report, the signal's own status.
  if (signo == SIGTERM || signo == SIGHUP) process_end_by_signal(signo);
  uintptr_t pc = 0;
  uintptr_t sp = 0;
  uintptr_t fp = 0;
#if defined(__x86_64__)
  const mcontext_t& mc = static_cast<ucontext_t*>(context)->uc_mcontext;
  pc = static_cast<uintptr_t>(mc.gregs[REG_RIP]);
  sp = static_cast<uintptr_t>(mc.gregs[REG_RSP]);
  fp = static_cast<uintptr_t>(mc.gregs[REG_RBP]);
#endif
  g_failure_position = {sp, fp};
  int number = fatal_number_for_signal(signo, info->si_code, reinterpret_cast<uintptr_t>(info->si_addr), sp);
  g_fault_handler(number, pc);
}

constexpr int kFaultSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGTRAP, SIGABRT, SIGSYS, SIGXCPU, SIGXFSZ};
// Asynchronous requests to end; an inherited "ignore" is kept for these.
constexpr int kEndSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

void install(int signo, const sigset_t& blocked, int extra_flags) {
  struct sigaction action {};
  action.sa_sigaction = on_fatal_signal;
  action.sa_mask = blocked;
  action.sa_flags = SA_SIGINFO | SA_ONSTACK | extra_flags;
  sigaction(signo, &action, nullptr);
}

}  // namespace

int fatal_number_for_signal(int signo, int si_code, uintptr_t fault_address, uintptr_t stack_pointer) {
  switch (signo) {
    case SIGSEGV: return segv_number(si_code, fault_address, stack_pointer);
    case SIGBUS: return number_for_code(kBusNumbers, si_code, 34);
    case SIGFPE: return number_for_code(kFpeNumbers, si_code, 33);
    case SIGILL: return number_for_code(kIllNumbers, si_code, 17);
    case SIGTRAP: return si_code == TRAP_TRACE ? 4 : 3;
    case SIGABRT: return kSignalAssertion;
    case SIGINT: return kSignalSilent;
    default: return kSignalUnknown;
  }
}

void install_alt_stack_for_this_thread() {
  stack_t current;
  if (sigaltstack(nullptr, &current) == 0 && !(current.ss_flags & SS_DISABLE) &&
      current.ss_size >= kAltStackKeep)
    return;
  // A PROT_NONE page below the stack turns an overflowing handler into a
  // fault instead of silent corruption of whatever lies below.
  size_t size = kPageSize + kAltStackSize;
  void* mapping = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_STACK, -1, 0);
  if (mapping == MAP_FAILED) return;  // faults are still reported, except a stack overflow
  stack_t stack{};
  stack.ss_sp = static_cast<char*>(mapping) + kPageSize;
  stack.ss_size = kAltStackSize;
  if (mprotect(mapping, kPageSize, PROT_NONE) != 0 || sigaltstack(&stack, nullptr) != 0) {
    munmap(mapping, size);
    return;
  }
  if (t_alt_stack.mapping) munmap(t_alt_stack.mapping, t_alt_stack.size);  // replaced, so unused
  t_alt_stack.mapping = mapping;
  t_alt_stack.size = size;
}

void install_fatal_handlers(FaultHandler handler) {
  g_fault_handler = handler;
  register_this_thread_stack();
  install_alt_stack_for_this_thread();

  sigset_t blocked;
  sigemptyset(&blocked);
  for (int signo : kEndSignals) sigaddset(&blocked, signo);

  // SA_NODEFER: a fault inside an exit hook re-enters the handler, which
  // finishes the first exit, rather than being fatal to the process unreported.
  for (int signo : kFaultSignals) install(signo, blocked, SA_NODEFER);
  for (int signo : kEndSignals) {
    struct sigaction previous {};
    if (sigaction(signo, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN) continue;
    install(signo, blocked, 0);
  }
  signal(SIGPIPE, SIG_IGN);
}

void platform_fpu_init() { fesetenv(FE_DFL_ENV); }

}  // namespace kiv
