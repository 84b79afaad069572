// mmap-based page blocks for the memory manager.
#include "platform/pages.h"

#include <sys/mman.h>

#include <cstdint>

namespace kiv {

void* os_alloc_pages(size_t size) {
  void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  return p == MAP_FAILED ? nullptr : p;
}

bool os_free_pages(void* address, size_t size) { return munmap(address, size) == 0; }

void* os_resize_pages(void* address, size_t old_size, size_t new_size) {
  void* p = mremap(address, old_size, new_size, MREMAP_MAYMOVE);
  return p == MAP_FAILED ? nullptr : p;
}

void* os_reserve_lazy(size_t size) {
  void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  return p == MAP_FAILED ? nullptr : p;
}

void os_discard_pages(void* address, size_t size) { madvise(address, size, MADV_DONTNEED); }

void os_advise_huge_pages(void* address, size_t size) {
  constexpr uintptr_t kHuge = uintptr_t(2) << 20;
  const uintptr_t start = (reinterpret_cast<uintptr_t>(address) + kHuge - 1) & ~(kHuge - 1);
  const uintptr_t end = (reinterpret_cast<uintptr_t>(address) + size) & ~(kHuge - 1);
  if (end > start) madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
}

}  // namespace kiv
