// The OS's secure random source.
#pragma once

#include <cstddef>

namespace kiv {

// Fills [size] bytes at [out] from the OS's secure source; false when it is not available.
bool os_secure_random(void* out, size_t size);

}  // namespace kiv
