// The OS's secure random source.
#pragma once

#include <cstddef>

namespace kiv {

// Fills [size] bytes at [out] from the OS's secure source: getrandom(2),
// else (no such call, or it fails) /dev/urandom. False when neither gives
// the bytes; [out] is then not to be used.
bool crypto_random_bytes(void* out, size_t size);

}  // namespace kiv
