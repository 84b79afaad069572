// Fatal runtime errors, signal mapping and native stacks.
//
// A fatal path ends the process, so each such case runs in a forked child with
// the handlers installed and its standard output in a pipe; the parent checks
// the exit status and the exact output.
#include "runtime/fatal.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cfenv>
#include <climits>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "platform/signals.h"
#include "platform/thread.h"
#include "runtime/exits.h"
#include "runtime/hooks.h"

namespace kiv {
namespace {

struct ChildRun {
  bool exited;  // ended through exit/_exit rather than by a signal
  int status;   // exit status, or the signal that ended it
  std::string output;
};

// Runs [body] in a forked child whose standard output goes to a pipe, with the
// fatal handlers installed. A body that returns ends the child with status 200;
// one that hangs is ended by SIGALRM.
ChildRun run_child(void (*body)()) {
  int fds[2];
  if (pipe(fds) != 0) return {false, -1, "pipe failed"};
  std::fflush(nullptr);
  pid_t pid = fork();
  if (pid < 0) {
    close(fds[0]);
    close(fds[1]);
    return {false, -1, "fork failed"};
  }
  if (pid == 0) {
    close(fds[0]);
    dup2(fds[1], 1);
    close(fds[1]);
    alarm(30);
    install_fatal_handlers(fatal_exit_from_signal);
    body();
    _exit(200);
  }
  close(fds[1]);
  std::string output;
  char buffer[512];
  ssize_t n;
  while ((n = read(fds[0], buffer, sizeof buffer)) != 0) {
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) break;
    output.append(buffer, static_cast<size_t>(n));
  }
  close(fds[0]);
  int wstatus = 0;
  waitpid(pid, &wstatus, 0);
  if (WIFEXITED(wstatus)) return {true, WEXITSTATUS(wstatus), output};
  return {false, WIFSIGNALED(wstatus) ? WTERMSIG(wstatus) : -1, output};
}

// True when [output] is [pattern], where each '@' in the pattern stands for an
// address: 8 or more upper-case hex digits.
bool matches(const std::string& output, const std::string& pattern) {
  size_t at = 0;
  for (char p : pattern) {
    if (p != '@') {
      if (at >= output.size() || output[at] != p) return false;
      ++at;
      continue;
    }
    size_t digits = 0;
    while (at < output.size() && std::isxdigit(static_cast<unsigned char>(output[at])) &&
           !std::islower(static_cast<unsigned char>(output[at])))
      ++at, ++digits;
    if (digits < 8) return false;
  }
  return at == output.size();
}

// The address of the "*** at:" line of [report]; 0 when there is none.
uintptr_t reported_address(const std::string& report) {
  size_t at = report.find("*** at: ");
  return at == std::string::npos ? 0
                                 : static_cast<uintptr_t>(std::stoull(report.substr(at + 8), nullptr, 16));
}

void write_marker(const char* text) {
  ssize_t ignored = write(1, text, 1);
  (void)ignored;
}

// Makes [before_exit] and [release_memory] the core's exit hooks, the other
// hooks as they are (in the child process a case runs in).
void set_exit_hooks(void (*before_exit)(), void (*release_memory)() = g_hooks.release_runtime_memory) {
  CoreHooks hooks = g_hooks;
  hooks.before_exit = before_exit;
  hooks.release_runtime_memory = release_memory;
  hooks_install(hooks);
}

// ---------------------------------------------------------------- triggers
// The faults must reach the processor: the sanitizers would otherwise report
// them first, and the compiler must not see through the operands.

__attribute__((noinline, no_sanitize("undefined"))) int divide(int a, int b) { return a / b; }

void divide_by_zero() {
  volatile int zero = 0;
  std::printf("%d", divide(1, zero));
}

__attribute__((noinline, no_sanitize("address", "undefined"))) void write_null() {
  volatile int* volatile pointer = nullptr;
  *pointer = 1;
}

__attribute__((noinline, no_sanitize("undefined"))) double divide_float(double a, double b) { return a / b; }

void float_divide_by_zero_trapped() {
  feenableexcept(FE_DIVBYZERO);
  volatile double zero = 0.0;
  std::printf("%f", divide_float(1.0, zero));
}

volatile int g_depth_limit = INT_MAX;

__attribute__((noinline, no_sanitize("address"))) int recurse(int depth) {
  volatile char pad[256];
  pad[0] = static_cast<char>(depth);
  int below = depth == g_depth_limit ? 0 : recurse(depth + 1);
  return below + pad[0];
}

int recurse_on_stack(void*) { return recurse(0); }

// ---------------------------------------------------------------- the table

struct FatalCase {
  const char* name;
  void (*body)();
  int status;
  const char* output;  // the whole output; '@' stands for an address
};

#define REPORT(n, message) "\n*** Runtime Error " #n ": " message "\n*** at: @h\n"

const FatalCase kFatalCases[] = {
    {"IntegerDivideByZero", divide_by_zero, 13, REPORT(13, "integer divide by zero")},
    {"NullWrite", write_null, 1, REPORT(1, "access violation")},
    {"FloatDivideTrapped", float_divide_by_zero_trapped, 7, REPORT(7, "float divide by zero")},
    {"IllegalInstruction", [] { __builtin_trap(); }, 17, REPORT(17, "illegal instruction")},
    {"Abort", [] { std::abort(); }, 98, REPORT(98, "assertion failed")},
    {"Quit", [] { raise(SIGQUIT); }, 99, REPORT(99, "unknown error")},
    {"ControlC", [] { raise(SIGINT); }, 0, ""},
    {"StackOverflowOnLargeStack", [] { run_on_large_stack(1 << 20, recurse_on_stack, nullptr); }, 19,
     REPORT(19, "stack error or overflow")},
    {"StackOverflowOnMainThread", [] { recurse(0); }, 19, REPORT(19, "stack error or overflow")},
    {"UnknownNumber", [] { fatal_exit(102, 0x1234); }, 102,
     "\n*** Runtime Error 102: unknown error code!\n*** at: 00001234h\n"},
    {"NegativeNumberWraps", [] { fatal_exit(-2, 0); }, 254, REPORT(-2, "unknown error code!")},
    {"MultipleOf256NeverExitsZero", [] { fatal_exit(256, 0); }, 255, REPORT(256, "unknown error code!")},
    {"UncaughtThrow", [] { main_catch(kThrowThrow); }, 95, REPORT(95, "no CATCH for THROW")},
    {"QuietThrow", [] { main_catch(kThrowQuiet); }, 0, ""},
    {"AssertionFailed", [] { fatal_assert(divide(4, 2) == 3); }, 98, REPORT(98, "assertion failed")},
    {"NoCase", [] { fatal_no_case(); }, 100, REPORT(100, "no value matched in CASE")},
    {"NoSwitch", [] { fatal_no_switch(); }, 101, REPORT(101, "no value matched in SWITCH")},
    // Hooks: the terminal hook first, the memory hook after the report, and
    // never the memory hook on a signal path.
    {"HooksOnFatalExit",
     [] {
       set_exit_hooks([] { write_marker("B"); }, [] { write_marker("R"); });
       fatal_exit(95, 0xABC);
     },
     95, "B" REPORT(95, "no CATCH for THROW") "R"},
    {"HooksOnSilentExit",
     [] {
       set_exit_hooks([] { write_marker("B"); }, [] { write_marker("R"); });
       fatal_exit(0, 0);
     },
     0, "BR"},
    {"HooksOnSignal",
     [] {
       set_exit_hooks([] { write_marker("B"); }, [] { write_marker("R"); });
       divide_by_zero();
     },
     13, "B" REPORT(13, "integer divide by zero")},
    // A hook that faults: the first error is still the one reported and returned.
    {"FaultingHook",
     [] {
       set_exit_hooks(write_null);
       fatal_exit(102, 0x1234);
     },
     102, "\n*** Runtime Error 102: unknown error code!\n*** at: 00001234h\n"},
};

#undef REPORT

void PrintTo(const FatalCase& c, std::ostream* os) { *os << c.name; }

class FatalExitTest : public ::testing::TestWithParam<FatalCase> {};

TEST_P(FatalExitTest, EndsWithStatusAndReport) {
  const FatalCase& c = GetParam();
  ChildRun run = run_child(c.body);
  ASSERT_TRUE(run.exited) << "ended by signal " << run.status << "; output: " << run.output;
  EXPECT_EQ(run.status, c.status);
  EXPECT_TRUE(matches(run.output, c.output)) << "output: [" << run.output << "]";
}

INSTANTIATE_TEST_SUITE_P(Fatal, FatalExitTest, ::testing::ValuesIn(kFatalCases),
                         [](const ::testing::TestParamInfo<FatalCase>& info) {
                           return std::string(info.param.name);
                         });

// SIGTERM and SIGHUP ask the process to end; that is no failure: it ends by
// the signal itself, as the default action would, with no report, after the
// terminal hook.
TEST(FatalEndSignals, EndQuietlyByTheSignal) {
  struct Row {
    int signo;
    void (*body)();
  } const rows[] = {
      {SIGTERM,
       [] {
         set_exit_hooks([] { write_marker("B"); });
         raise(SIGTERM);
       }},
      {SIGHUP,
       [] {
         set_exit_hooks([] { write_marker("B"); });
         raise(SIGHUP);
       }},
  };
  for (const Row& row : rows) {
    ChildRun run = run_child(row.body);
    EXPECT_FALSE(run.exited) << "signal " << row.signo << " exited with " << run.status;
    EXPECT_EQ(run.status, row.signo);
    EXPECT_EQ(run.output, "B") << "signal " << row.signo;
  }
}

// The reported address is the faulting instruction, inside the function that divides.
TEST(FatalAddress, DivideReportsTheFaultingInstruction) {
  ChildRun run = run_child(divide_by_zero);
  uintptr_t at = reported_address(run.output);
  uintptr_t function = reinterpret_cast<uintptr_t>(&divide);
  EXPECT_GE(at, function) << run.output;
  EXPECT_LT(at, function + 64) << run.output;
}

TEST(FatalAddress, UncaughtThrowReportsMainCatch) {
  ChildRun run = run_child([] { main_catch(kThrowError); });
  EXPECT_EQ(reported_address(run.output), reinterpret_cast<uintptr_t>(&main_catch));
}

TEST(FatalReport, FormatsNumberMessageAndAddress) {
  struct Row {
    int number;
    uintptr_t address;
    const char* text;
  } const rows[] = {
      {13, 0x401000, "\n*** Runtime Error 13: integer divide by zero\n*** at: 00401000h\n"},
      {6, 0, "\n*** Runtime Error 6: float denormal operan\n*** at: 00000000h\n"},
      {34, 0xFFFFFFFF, "\n*** Runtime Error 34: Bus error\n*** at: FFFFFFFFh\n"},
      {94, 0x7F12345678AB, "\n*** Runtime Error 94: out of memory\n*** at: 7F12345678ABh\n"},
      {35, UINTPTR_MAX, "\n*** Runtime Error 35: unknown error code!\n*** at: FFFFFFFFFFFFFFFFh\n"},
      {INT_MIN, 1, "\n*** Runtime Error -2147483648: unknown error code!\n*** at: 00000001h\n"},
      {0, 0x1234, ""},
  };
  for (const Row& row : rows) {
    char out[kFatalReportMax];
    size_t size = format_fatal_report(row.number, row.address, out);
    EXPECT_EQ(std::string(out, size), row.text) << "number " << row.number;
  }
}

TEST(FatalSignalMap, MapsSignalCodesToNumbers) {
  struct Row {
    int signo;
    int si_code;
    int number;
  } const rows[] = {
      {SIGFPE, FPE_INTDIV, 13}, {SIGFPE, FPE_INTOVF, 14}, {SIGFPE, FPE_FLTDIV, 7},
      {SIGFPE, FPE_FLTOVF, 10}, {SIGFPE, FPE_FLTUND, 12}, {SIGFPE, FPE_FLTRES, 8},
      {SIGFPE, FPE_FLTINV, 9},  {SIGFPE, FPE_FLTSUB, 5},  {SIGFPE, SI_USER, 33},
      {SIGBUS, BUS_ADRALN, 2},  {SIGBUS, BUS_ADRERR, 27}, {SIGBUS, BUS_MCEERR_AR, 29},
      {SIGBUS, SI_USER, 34},    {SIGILL, ILL_ILLOPN, 17}, {SIGILL, ILL_PRVOPC, 15},
      {SIGTRAP, TRAP_BRKPT, 3}, {SIGTRAP, TRAP_TRACE, 4}, {SIGINT, SI_USER, 0},
      {SIGABRT, SI_TKILL, 98},  {SIGHUP, SI_USER, 99},    {SIGSEGV, SEGV_MAPERR, 1},
  };
  for (const Row& row : rows)
    EXPECT_EQ(fatal_number_for_signal(row.signo, row.si_code, 0x10, 0x7FFF0000), row.number)
        << "signal " << row.signo << " code " << row.si_code;
}

// A SIGSEGV is a stack overflow when its address or the stack pointer lies in
// the guard region of the thread's stack, or at most one guard size below it.
TEST(FatalSignalMap, TellsStackOverflowByTheGuardRegion) {
  int mismatches = run_on_large_stack(
      1 << 20,
      [](void*) {
        NativeStackBounds b = this_thread_stack_bounds();
        struct Row {
          int si_code;
          uintptr_t address;
          uintptr_t sp;
          int number;
        } const rows[] = {
            {SEGV_ACCERR, b.guard_low, b.limit + 4096, 19},
            {SEGV_ACCERR, b.limit - 1, b.limit + 4096, 19},
            {SEGV_MAPERR, b.guard_low - kStackGuardSize, b.limit + 4096, 19},
            {SEGV_MAPERR, b.guard_low - kStackGuardSize - 1, b.limit + 4096, 1},
            {SEGV_MAPERR, 0x10, b.limit - 8, 19},  // the stack pointer already left the stack
            {SEGV_MAPERR, b.limit, b.limit + 4096, 1},
            {SI_USER, b.guard_low, b.limit - 8, 1},  // sent by kill: no address to go by
        };
        int bad = 0;
        for (const Row& row : rows)
          bad += fatal_number_for_signal(SIGSEGV, row.si_code, row.address, row.sp) != row.number;
        return b.limit - b.guard_low == kStackGuardSize ? bad : 100;
      },
      nullptr);
  EXPECT_EQ(mismatches, 0);
}

// Stack left, measured one 8 KB frame deeper than the caller.
__attribute__((noinline)) size_t remaining_one_frame_down() {
  char pad[8192];
  asm volatile("" : : "r"(pad) : "memory");  // the array escapes: all of it is laid out
  return native_stack_remaining();
}

TEST(FatalStack, LargeStackReportsItsDepth) {
  constexpr size_t kReserve = size_t{8} << 20;
  // Returns the number of the first failing check, 0 when all hold.
  int failed = run_on_large_stack(
      kReserve,
      [](void*) {
        size_t top = native_stack_remaining();
        if (top > kReserve || top < kReserve - 64 * 1024) return 1;  // only the thread's own data above
        if (native_stack_low(64 * 1024)) return 2;
        if (!native_stack_low(kReserve)) return 3;
        if (remaining_one_frame_down() + 8192 > top) return 4;
        return 0;
      },
      nullptr);
  EXPECT_EQ(failed, 0);
}

TEST(FatalStack, LargeStackReturnsResultAndPassesExceptionsOn) {
  int value = 41;
  EXPECT_EQ(run_on_large_stack(
                1 << 20, [](void* arg) { return *static_cast<int*>(arg) + 1; }, &value),
            42);
  try {
    run_on_large_stack(
        1 << 20, [](void*) -> int { throw_code(kThrowThrow); }, nullptr);
    ADD_FAILURE() << "the throw did not arrive";
  } catch (const KivThrow& t) {
    EXPECT_EQ(t.code, kThrowThrow);
  }
}

TEST(FatalStack, UnregisteredThreadNeverReportsLow) {
  size_t remaining = 0;
  bool low = true;
  std::thread([&] {
    remaining = native_stack_remaining();
    low = native_stack_low(size_t{1} << 40);
  }).join();
  EXPECT_EQ(remaining, SIZE_MAX);
  EXPECT_FALSE(low);
}

// Without address space for the large stack, fn still runs, on the calling thread.
TEST(FatalStack, FallsBackToTheCallingThread) {
  ChildRun run = run_child([] {
    // Room for what the process maps already, not for the large stack.
    long pages = 0;
    if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
      if (std::fscanf(statm, "%ld", &pages) != 1) pages = 0;
      std::fclose(statm);
    }
    rlim_t room = static_cast<rlim_t>(pages) * 4096 + (rlim_t{64} << 20);
    rlimit limit{room, room};
    if (pages == 0 || setrlimit(RLIMIT_AS, &limit) != 0) _exit(201);
    static pthread_t caller = pthread_self();
    _exit(run_on_large_stack(
        size_t{1} << 30, [](void*) { return pthread_equal(pthread_self(), caller) ? 7 : 8; }, nullptr));
  });
  EXPECT_TRUE(run.exited);
  EXPECT_EQ(run.status, 7);
}

TEST(FatalFpu, InitRestoresRoundingAndMasks) {
  fesetround(FE_UPWARD);
  feenableexcept(FE_DIVBYZERO | FE_INVALID);
  platform_fpu_init();
  EXPECT_EQ(fegetround(), FE_TONEAREST);
  EXPECT_EQ(fegetexcept(), 0);
  volatile double zero = 0.0;
  EXPECT_EQ(divide_float(1.0, zero), HUGE_VAL);
  EXPECT_NE(fetestexcept(FE_DIVBYZERO), 0);
  platform_fpu_init();
}

}  // namespace
}  // namespace kiv
