// Large interpreter stacks and per-thread stack bounds.
//
// Stack mapping of run_on_large_stack (low addresses first):
//
//   base                      guard region, PROT_NONE, kStackGuardSize
//   base + kStackGuardSize    usable stack (MAP_NORESERVE: committed on touch)
//   base + total              top; the thread library keeps its descriptor here
//
// The mapping is unmapped once the thread is joined.
#include "platform/thread.h"

#include <pthread.h>
#include <sys/mman.h>

#include <cstdint>
#include <exception>

#include "platform/pages.h"
#include "platform/signals.h"

namespace kiv {

thread_local constinit uintptr_t t_native_stack_limit = 0;

namespace {

thread_local constinit uintptr_t t_native_stack_guard_low = 0;

void set_bounds(uintptr_t guard_low, uintptr_t limit) {
  t_native_stack_guard_low = guard_low;
  t_native_stack_limit = limit;
}

struct LargeStackCall {
  int (*fn)(void*);
  void* arg;
  uintptr_t guard_low;
  uintptr_t limit;
  int result;
  std::exception_ptr error;
};

void* large_stack_entry(void* data) {
  auto* call = static_cast<LargeStackCall*>(data);
  set_bounds(call->guard_low, call->limit);
  install_alt_stack_for_this_thread();
  try {
    call->result = call->fn(call->arg);
  } catch (...) {
    call->error = std::current_exception();
  }
  return nullptr;
}

size_t round_up_to_page(size_t n) { return (n + kPageSize - 1) & ~(kPageSize - 1); }

// fn on the calling thread, for when no large stack can be had.
int run_here(int (*fn)(void*), void* arg) {
  register_this_thread_stack();
  return fn(arg);
}

}  // namespace

NativeStackBounds this_thread_stack_bounds() { return {t_native_stack_guard_low, t_native_stack_limit}; }

bool register_this_thread_stack() {
  if (t_native_stack_limit) return true;
  pthread_attr_t attr;
  if (pthread_getattr_np(pthread_self(), &attr) != 0) return false;
  void* low = nullptr;
  size_t size = 0;
  size_t guard = 0;
  bool ok = pthread_attr_getstack(&attr, &low, &size) == 0 && low;
  if (ok && pthread_attr_getguardsize(&attr, &guard) != 0) guard = 0;
  pthread_attr_destroy(&attr);
  if (!ok) return false;
  // The thread library reports the usable stack; its guard, if any, lies below.
  uintptr_t limit = reinterpret_cast<uintptr_t>(low);
  set_bounds(limit - guard, limit);
  return true;
}

int run_on_large_stack(size_t reserve_bytes, int (*fn)(void*), void* arg) {
  size_t reserve = round_up_to_page(reserve_bytes < kMinStackReserve ? kMinStackReserve : reserve_bytes);
  size_t total = kStackGuardSize + reserve;
  void* mapping = mmap(nullptr, total, PROT_READ | PROT_WRITE,
                       MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE | MAP_STACK, -1, 0);
  if (mapping == MAP_FAILED) return run_here(fn, arg);
  auto* base = static_cast<char*>(mapping);
  if (mprotect(base, kStackGuardSize, PROT_NONE) != 0) {
    munmap(mapping, total);
    return run_here(fn, arg);
  }

  LargeStackCall call{
      fn, arg,    reinterpret_cast<uintptr_t>(base), reinterpret_cast<uintptr_t>(base + kStackGuardSize),
      0,  nullptr};
  pthread_attr_t attr;
  pthread_t thread;
  bool started = pthread_attr_init(&attr) == 0;
  if (started) {
    started = pthread_attr_setstack(&attr, base + kStackGuardSize, reserve) == 0 &&
              pthread_create(&thread, &attr, large_stack_entry, &call) == 0;
    pthread_attr_destroy(&attr);
  }
  if (!started) {
    munmap(mapping, total);
    return run_here(fn, arg);
  }
  pthread_join(thread, nullptr);
  munmap(mapping, total);
  if (call.error) std::rethrow_exception(call.error);
  return call.result;
}

size_t native_stack_remaining() {
  uintptr_t limit = t_native_stack_limit;
  if (!limit) return SIZE_MAX;
  uintptr_t sp = native_stack_pointer();
  return sp > limit ? sp - limit : 0;
}

}  // namespace kiv
