// Ending the process and writing to file descriptors: the one place that calls
// _exit and loops over write(2).
//
// Every exit path runs g_before_exit first (the console puts the terminal back
// in its normal mode there). process_exit also flushes stdio output; the fatal
// report path, which may run in a signal handler, uses process_exit_unflushed.
// Exit statuses are 8-bit: the status given is taken mod 256.
#pragma once

#include <cstddef>

namespace kiv {

// Runs first on every exit, signals included; must be async-signal-safe. May be null.
extern void (*g_before_exit)();

// Runs g_before_exit, flushes stdio output, and ends the process with [status] mod 256.
[[noreturn]] void process_exit(int status);
// Ends the process with [status] mod 256 at once: no hook, no stdio flush.
// Async-signal-safe; the caller has run g_before_exit itself when it should.
[[noreturn]] void process_exit_unflushed(int status);

// Writes all [size] bytes of [data] to [fd], retrying after EINTR and short
// writes. False when the descriptor refuses them (closed pipe, full disk): the
// caller reports it. Async-signal-safe.
bool write_all(int fd, const void* data, size_t size);

}  // namespace kiv
