// Ending the process and writing to file descriptors: the one place that calls
// _exit and loops over write(2).
//
// Every exit path runs the before-exit hook first (the console puts the
// terminal back in its normal mode there). process_exit also flushes stdio output; the fatal
// report path, which may run in a signal handler, uses process_exit_unflushed.
// Exit statuses are 8-bit: the status given is taken mod 256.
#pragma once

#include <cstddef>

namespace kiv {

// The status of a run that ended in an error nothing caught: -2 as an 8-bit status.
inline constexpr int kExitUncaughtError = 254;

// Sets the function every exit runs first, signals included (null: none); it
// must be async-signal-safe. The core's hooks pass theirs down
// (runtime/hooks.h: hooks_install).
void process_set_before_exit(void (*before_exit)());
// Runs that function, when there is one. Async-signal-safe.
void process_run_before_exit();

// Runs the before-exit hook, flushes stdio output, and ends the process with [status] mod 256.
[[noreturn]] void process_exit(int status);
// Ends the process with [status] mod 256 at once: no hook, no stdio flush.
// Async-signal-safe; the caller has run the before-exit hook itself when it should.
[[noreturn]] void process_exit_unflushed(int status);
// Ends the process as the default action of signal [signo] does (a shell
// sees status 128 + signo), quietly: runs the before-exit hook, resets the
// signal's disposition, unblocks it and raises it. Async-signal-safe; should
// the signal not end the process, it exits with 128 + signo.
[[noreturn]] void process_end_by_signal(int signo);

// Keeps the numbers of the standard descriptors 0, 1 and 2 taken: one that is
// closed at start-up gets /dev/null opened the other way round (write-only
// for 0, read-only for 1 and 2), so that reads or writes through it still
// fail with EBADF and no file the process opens later takes its number.
void process_hold_standard_fds();

// Writes all [size] bytes of [data] to [fd], retrying after EINTR and short
// writes. False when the descriptor refuses them (closed pipe, full disk): the
// caller reports it. Async-signal-safe.
bool write_all(int fd, const void* data, size_t size);

}  // namespace kiv
