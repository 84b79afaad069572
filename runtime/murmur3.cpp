// MurmurHash3 x86_32 over byte runs, plain and with ASCII letters lowered.
#include "runtime/murmur3.h"

#include <cstring>

namespace kiv {

namespace {

inline uint32_t load32(const uint8_t* p) {
  uint32_t k;
  std::memcpy(&k, p, 4);
  return k;  // x86-64 is little-endian: byte 0 is the low byte
}

// 'A'-'Z' to 'a'-'z' in each of four bytes; bytes with bit 7 set are left alone.
inline uint32_t lower4(uint32_t w) {
  uint32_t low7 = w & 0x7F7F7F7Fu;
  uint32_t from_a = low7 + 0x3F3F3F3Fu;  // bit 7 set where the byte is >= 'A'
  uint32_t past_z = low7 + 0x25252525u;  // bit 7 set where the byte is > 'Z'
  uint32_t upper = ~w & (from_a ^ past_z) & 0x80808080u;
  return w | (upper >> 2);
}

inline uint8_t lower1(uint8_t c) { return c >= 'A' && c <= 'Z' ? uint8_t(c + 32) : c; }

template <bool kLower>
uint32_t murmur(const void* data, size_t length, uint32_t seed) {
  const auto* p = static_cast<const uint8_t*>(data);
  size_t blocks = length / 4;
  uint32_t h = seed;
  for (size_t i = 0; i < blocks; i++) {
    uint32_t k = load32(p + 4 * i);
    h = murmur3_mix(h, kLower ? lower4(k) : k);
  }
  const uint8_t* tail = p + 4 * blocks;
  uint32_t k = 0;
  auto byte = [&](size_t i) -> uint32_t { return kLower ? lower1(tail[i]) : tail[i]; };
  switch (length & 3) {
    case 3: k ^= byte(2) << 16; [[fallthrough]];
    case 2: k ^= byte(1) << 8; [[fallthrough]];
    case 1: k ^= byte(0); h ^= murmur3_scramble(k);
  }
  return murmur3_finish(h, uint32_t(length));
}

}  // namespace

uint32_t murmur3_x86_32(const void* data, size_t length, uint32_t seed) {
  return murmur<false>(data, length, seed);
}

uint32_t murmur3_x86_32_lower(const void* data, size_t length, uint32_t seed) {
  return murmur<true>(data, length, seed);
}

uint32_t hash_murmur3(const void* data, size_t length) { return murmur<false>(data, length, kHashSeed); }

}  // namespace kiv
