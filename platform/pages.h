// Memory pages from the OS: read-write (never executable) anonymous mappings.
// Failures are reported by return value; the memory manager raises the error.
#pragma once

#include <cstddef>

namespace kiv {

inline constexpr size_t kPageSize = 4096;

// Maps [size] bytes of zeroed read-write pages; null when the OS refuses.
void* os_alloc_pages(size_t size);
// Unmaps pages taken by os_alloc_pages; false when the OS refuses.
bool os_free_pages(void* address, size_t size);
// Makes the block of [old_size] bytes at [address] (from os_alloc_pages)
// [new_size] bytes, its content kept, moving it when it must: the new
// address, or null when the OS refuses (the block stays as it was).
void* os_resize_pages(void* address, size_t old_size, size_t new_size);
// Reserves [size] bytes of address space committed lazily on first touch
// (MAP_NORESERVE); returns null on failure.
void* os_reserve_lazy(size_t size);
// Gives the pages of [address, address + size) back to the OS; they read as zero afterwards.
void os_discard_pages(void* address, size_t size);
// Asks for huge pages behind the whole 2 MiB blocks of [address, address +
// size) of an anonymous mapping about to be filled at once: far fewer page
// faults. Only advice: nothing changes when the OS declines.
void os_advise_huge_pages(void* address, size_t size);

}  // namespace kiv
