// Native stacks: the large, lazily committed stack the interpreter runs on, and
// the per-thread stack bounds behind the native depth check and the
// stack-overflow report.
//
// Invariants:
// - A thread's bounds are recorded before it runs Kiv code: run_on_large_stack
//   records them for its thread, register_this_thread_stack for any other
//   (start-up registers the main thread through install_fatal_handlers).
// - The bounds are thread-local and written only by their own thread, so the
//   signal handler reads them without locks.
// - On an unregistered thread the depth check never reports low and a fault is
//   never taken for a stack overflow.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kiv {

// Reserve for the interpreter's stack: address space only, pages are committed
// on first touch. A level of Kiv recursion takes 1.6-2.4 KB of it in a release
// build, so this holds some 130,000-200,000 levels; unwinding a runaway
// recursion from there takes about a second, and what it committed stays
// within a few hundred MB.
// With the address sanitizer, a throw clears the shadow of the frames it
// abandons only while less than 64 MB of the stack is in use: the reserve
// stays below that.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr size_t kInterpreterStackReserve = size_t{60} << 20;
#else
inline constexpr size_t kInterpreterStackReserve = size_t{320} << 20;
#endif
// Stack that every native depth check keeps free: room for the C++ that runs
// between two checks (one call level of the interpreter, one level of a nested
// walk, a native's own work) and for raising the error. Frames with the
// address sanitizer's redzones are several times larger.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr size_t kNativeStackMargin = size_t{2} << 20;
#else
inline constexpr size_t kNativeStackMargin = size_t{256} << 10;
#endif
// Inaccessible region at the low end of a large stack; a fault in it (or a
// little below it) is a stack overflow.
inline constexpr size_t kStackGuardSize = 64 * 1024;
// Smallest reserve run_on_large_stack accepts; smaller requests are raised to it.
inline constexpr size_t kMinStackReserve = 256 * 1024;

struct NativeStackBounds {
  uintptr_t guard_low;  // lowest address of the guard region (== limit without a guard of ours)
  uintptr_t limit;      // lowest usable stack address; 0 when unregistered
};

// Lowest usable stack address of this thread (0 while unregistered). Public only
// so that native_stack_low inlines; written by the functions below.
extern thread_local constinit uintptr_t t_native_stack_limit;

// This thread's recorded bounds (zeros when unregistered). Async-signal-safe.
NativeStackBounds this_thread_stack_bounds();

// Records the calling thread's bounds as the system reports them; keeps bounds
// already recorded. Returns false when the system does not tell them.
bool register_this_thread_stack();

// Runs [fn]([arg]) on a new thread whose stack reserves [reserve_bytes] (rounded
// up to pages, at least kMinStackReserve) above a kStackGuardSize guard region,
// with its alternate signal stack installed, and returns fn's result. An
// exception that leaves fn is rethrown here after the thread ends. When the
// stack or the thread cannot be had, fn runs on the calling thread instead.
int run_on_large_stack(size_t reserve_bytes, int (*fn)(void*), void* arg);

// Current native stack position of the calling code.
inline uintptr_t native_stack_pointer() {
#if defined(__x86_64__)
  uintptr_t sp;
  asm volatile("mov %%rsp, %0" : "=r"(sp));
  return sp;
#else
  return reinterpret_cast<uintptr_t>(__builtin_frame_address(0));
#endif
}

// Bytes of stack left below the current position; SIZE_MAX when unregistered,
// 0 once past the limit.
size_t native_stack_remaining();

// True when fewer than [margin] bytes of stack are left. The interpreter's depth
// check: cheap enough for every call level.
inline bool native_stack_low(size_t margin) { return native_stack_pointer() < t_native_stack_limit + margin; }

}  // namespace kiv
