// Fatal runtime errors: message table, report formatting and process exit.
//
// Everything on the exit path is async-signal-safe: fixed buffers, write(2),
// lock-free atomics and _exit. No stdio, no allocation, no locks.
#include "runtime/fatal.h"

#include <atomic>

#include "platform/process.h"
#include "runtime/exits.h"
#include "runtime/hooks.h"

namespace kiv {

namespace {

struct FatalMessage {
  int number;
  const char* text;
};

constexpr FatalMessage kMessages[] = {
    {1, "access violation"},
    {2, "invalid alignment"},
    {3, "breakpoint"},
    {4, "single step"},
    {5, "bounds exceeded"},
    {6, "float denormal operan"},
    {7, "float divide by zero"},
    {8, "float inexact result"},
    {9, "float invalid operation"},
    {10, "float overflow"},
    {11, "float stack check"},
    {12, "float underflow"},
    {13, "integer divide by zero"},
    {14, "integer overflow"},
    {15, "privileged instruction"},
    {16, "invalid virtual address"},
    {17, "illegal instruction"},
    {18, "non-continuable exception"},
    {19, "stack error or overflow"},
    {20, "invalid disposition"},
    {21, "guard page"},
    {22, "invalid handle"},
    {23, "illegal operand"},
    {24, "illegal addressing mode"},
    {25, "illegal trap"},
    {26, "coprocessor error"},
    {27, "non-existent physical address"},
    {28, "object specific hardware error"},
    {29, "hardware memory error consumed AR"},
    {30, "hardware memory error consumed AO"},
    {31, "privileged register"},
    {32, "segmentation fault"},
    {33, "FPU error"},
    {34, "Bus error"},
    {94, "out of memory"},
    {95, "no CATCH for THROW"},
    {98, "assertion failed"},
    {99, "unknown error"},
    {100, "no value matched in CASE"},
    {101, "no value matched in SWITCH"},
};

// Appends [text] at out[pos], never past kFatalReportMax; returns the new position.
size_t put(char (&out)[kFatalReportMax], size_t pos, const char* text) {
  while (*text && pos < kFatalReportMax) out[pos++] = *text++;
  return pos;
}

size_t put_decimal(char (&out)[kFatalReportMax], size_t pos, int number) {
  char digits[12];
  int n = 0;
  // Magnitude as unsigned so INT_MIN needs no special case.
  uint32_t magnitude = number < 0 ? 0u - static_cast<uint32_t>(number) : static_cast<uint32_t>(number);
  do {
    digits[n++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude);
  if (number < 0) digits[n++] = '-';
  while (n > 0 && pos < kFatalReportMax) out[pos++] = digits[--n];
  return pos;
}

// At least 8 upper-case hex digits; all of them when the address is wider.
size_t put_hex(char (&out)[kFatalReportMax], size_t pos, uintptr_t address) {
  constexpr int kMaxDigits = static_cast<int>(sizeof(uintptr_t) * 2);
  int width = 8;
  while (width < kMaxDigits && (address >> (width * 4)) != 0) ++width;
  for (int i = width - 1; i >= 0 && pos < kFatalReportMax; --i)
    out[pos++] = "0123456789ABCDEF"[(address >> (i * 4)) & 0xF];
  return pos;
}

// A report that cannot be written is dropped: the exit status still tells.
void write_report(int number, uintptr_t address) {
  char report[kFatalReportMax];
  size_t size = format_fatal_report(number, address, report);
  if (size) write_all(1, report, size);
}

// State of the one fatal exit under way. g_exiting is claimed first; a later
// entry reads the first one's number and address (set right after the claim).
std::atomic<bool> g_exiting{false};
std::atomic<int> g_first_number{0};
std::atomic<uintptr_t> g_first_address{0};
std::atomic<bool> g_reported{false};
static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<int>::is_always_lock_free &&
              std::atomic<uintptr_t>::is_always_lock_free);

[[noreturn]] void exit_process(int number, uintptr_t address, bool release_memory) {
  if (g_exiting.exchange(true)) {
    // Re-entered: a hook failed, or another thread failed meanwhile. Finish the
    // first exit without running any hook again.
    if (!g_reported.exchange(true)) write_report(g_first_number.load(), g_first_address.load());
    process_exit_unflushed(fatal_exit_status(g_first_number.load()));
  }
  g_first_number.store(number);
  g_first_address.store(address);
  process_run_before_exit();
  if (!g_reported.exchange(true)) write_report(number, address);
  if (release_memory && g_hooks.release_runtime_memory) g_hooks.release_runtime_memory();
  process_exit_unflushed(fatal_exit_status(number));
}

}  // namespace

const char* fatal_message(int number) {
  if (number == 0) return "";
  for (const FatalMessage& m : kMessages)
    if (m.number == number) return m.text;
  return "unknown error code!";
}

size_t format_fatal_report(int number, uintptr_t address, char (&out)[kFatalReportMax]) {
  if (number == 0) return 0;
  size_t pos = put(out, 0, "\n*** Runtime Error ");
  pos = put_decimal(out, pos, number);
  pos = put(out, pos, ": ");
  pos = put(out, pos, fatal_message(number));
  pos = put(out, pos, "\n*** at: ");
  pos = put_hex(out, pos, address);
  return put(out, pos, "h\n");
}

int fatal_exit_status(int number) {
  if (number == 0) return 0;
  int status = number & 0xFF;
  return status != 0 ? status : 0xFF;
}

void fatal_exit(int number, uintptr_t address) { exit_process(number, address, true); }

void fatal_exit_from_signal(int number, uintptr_t address) { exit_process(number, address, false); }

void main_catch(uint32_t code) {
  if (code == kThrowQuiet) fatal_exit(kFatalSilent, 0);
  fatal_exit(kFatalNoCatch, reinterpret_cast<uintptr_t>(&main_catch));
}

// noinline so that the return address names the caller's call site.
__attribute__((noinline)) void fatal_assert_failed() {
  fatal_exit(kFatalAssertion, reinterpret_cast<uintptr_t>(__builtin_return_address(0)));
}

__attribute__((noinline)) void fatal_no_case() {
  fatal_exit(kFatalNoCase, reinterpret_cast<uintptr_t>(__builtin_return_address(0)));
}

__attribute__((noinline)) void fatal_no_switch() {
  fatal_exit(kFatalNoSwitch, reinterpret_cast<uintptr_t>(__builtin_return_address(0)));
}

}  // namespace kiv
