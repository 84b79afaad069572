// MurmurHash3 x86_32: the runtime's hash of bytes, and its 32-bit finaliser.
//
// Every table hash in the runtime is built from these pieces. Blocks are read
// as little-endian 32-bit words, so a hash never depends on alignment. The
// runtime seed (kHashSeed) is fixed; hash values never leave the process.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kiv {

// The seed of every runtime hash of bytes.
inline constexpr uint32_t kHashSeed = 0x5BD1E995u;

inline constexpr uint32_t kMurmurC1 = 0xCC9E2D51u;
inline constexpr uint32_t kMurmurC2 = 0x1B873593u;

inline constexpr uint32_t murmur3_rotl(uint32_t x, int r) { return (x << r) | (x >> (32 - r)); }

// Scrambles one 32-bit block before it is mixed in (also used for the tail).
inline constexpr uint32_t murmur3_scramble(uint32_t k) {
  k *= kMurmurC1;
  k = murmur3_rotl(k, 15);
  return k * kMurmurC2;
}

// Mixes the full block [k] into the running hash [h].
inline constexpr uint32_t murmur3_mix(uint32_t h, uint32_t k) {
  h ^= murmur3_scramble(k);
  h = murmur3_rotl(h, 13);
  return h * 5 + 0xE6546B64u;
}

// The 32-bit finaliser: every input bit affects every output bit.
inline constexpr uint32_t murmur3_fmix32(uint32_t h) {
  h ^= h >> 16;
  h *= 0x85EBCA6Bu;
  h ^= h >> 13;
  h *= 0xC2B2AE35u;
  h ^= h >> 16;
  return h;
}

// Ends a hash over [length] bytes.
inline constexpr uint32_t murmur3_finish(uint32_t h, uint32_t length) { return murmur3_fmix32(h ^ length); }

// MurmurHash3 x86_32 of [length] bytes at [data] with [seed].
uint32_t murmur3_x86_32(const void* data, size_t length, uint32_t seed);
// The same with the ASCII letters A-Z read as a-z (other bytes unchanged).
uint32_t murmur3_x86_32_lower(const void* data, size_t length, uint32_t seed);

// MurmurHash3 x86_32 with the runtime seed.
uint32_t hash_murmur3(const void* data, size_t length);
// The finaliser of a 32-bit key: the hash of integers, ids and node handles.
inline constexpr uint32_t hash_int32(uint32_t key) { return murmur3_fmix32(key); }

}  // namespace kiv
