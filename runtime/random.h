// The process-wide random generator, and the secure source.
//
// A twister of 624 words whose right shifts are arithmetic: every output lies
// in 0..2^31 - 1, and the first draw after seeding is the tempered seed itself.
#pragma once

#include <cstdint>

namespace kiv {

inline constexpr uint32_t kDefaultRandomSeed = 19650218;

// Seeds the generator with the default seed.
void random_init();
// Re-seeds the generator; the next draws restart from that state.
void random_seed(uint32_t seed);
// Next value in 0..2^31 - 1.
int32_t random_next();
// 4 bytes from the OS's secure source with bit 31 cleared. Raises access
// cannot-open (the no_secure_random hook) when the source gives nothing.
int32_t random_next_secure();
// A uniformly drawn integer: 1..n for n > 0, n..-1 for n < 0, 0 for 0.
int32_t random_integer(bool secure, int32_t n);

}  // namespace kiv
