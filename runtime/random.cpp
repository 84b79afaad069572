// The twister generator and the secure source.
#include "runtime/random.h"

#include "platform/entropy.h"
#include "runtime/errors.h"
#include "runtime/hooks.h"

namespace kiv {

namespace {

constexpr int kN = 624;
constexpr int kM = 397;
int32_t g_state[kN];
int g_index = kN;

// Arithmetic right shift of a 32-bit word.
inline uint32_t sar(uint32_t x, int n) { return uint32_t(int32_t(x) >> n); }

void regenerate() {
  for (int k = 0; k < kN; k++) {
    uint32_t y = (uint32_t(g_state[k]) & 0x80000000u) | (uint32_t(g_state[(k + 1) % kN]) & 0x7FFFFFFFu);
    uint32_t v = uint32_t(g_state[(k + kM) % kN]) ^ sar(y, 1) ^ ((y & 1) ? 0x9908B0DFu : 0u);
    g_state[k] = int32_t(v);
  }
  g_index = 0;
}

}  // namespace

void random_init() { random_seed(kDefaultRandomSeed); }

void random_seed(uint32_t seed) {
  g_state[0] = int32_t(seed);
  for (int i = 1; i < kN; i++) {
    uint32_t prev = uint32_t(g_state[i - 1]);
    g_state[i] = int32_t(1812433253u * (prev ^ sar(prev, 30)) + uint32_t(i));
  }
  g_index = 0;
}

int32_t random_next() {
  if (g_index >= kN) regenerate();
  uint32_t y = uint32_t(g_state[g_index++]);
  y ^= sar(y, 11);
  y ^= (y << 7) & 0x9D2C5680u;
  y ^= (y << 15) & 0xEFC60000u;
  y ^= sar(y, 18);
  return int32_t(y);
}

int32_t random_next_secure() {
  uint32_t v = 0;
  // No secure source is an error: a secure draw never comes from the generator.
  if (!crypto_random_bytes(&v, sizeof v)) {
    if (g_hooks.no_secure_random) g_hooks.no_secure_random();
    raise_error(kErrInternalNotDone);
  }
  return int32_t(v & 0x7FFFFFFFu);
}

int32_t random_integer(bool secure, int32_t n) {
  auto draw = [secure] { return secure ? random_next_secure() : random_next(); };
  if (n == 0) return 0;
  if (n == INT32_MIN) return ~draw();
  int32_t m = n < 0 ? -n : n;
  int32_t limit = (0x7FFFFFFF / m) * m;
  int32_t d;
  do d = draw();
  while (d >= limit);
  int32_t result = d % m + 1;
  return n < 0 ? -result : result;
}

}  // namespace kiv
