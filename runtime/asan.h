// Marks memory the runtime manages itself (series frames) as unusable or usable
// for AddressSanitizer, so a stale pointer into a freed or moved-from buffer is
// reported. No-ops in builds without the sanitizer.
#pragma once

#include <cstddef>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#define KIV_POISON(addr, size) ASAN_POISON_MEMORY_REGION((addr), (size))
#define KIV_UNPOISON(addr, size) ASAN_UNPOISON_MEMORY_REGION((addr), (size))
#else
#define KIV_POISON(addr, size) ((void)(addr), (void)(size))
#define KIV_UNPOISON(addr, size) ((void)(addr), (void)(size))
#endif
