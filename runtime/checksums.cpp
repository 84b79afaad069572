// CRC-32 by slicing eight bytes at a time, Adler-32 in blocks that cannot
// overflow, the internet checksum in a 64-bit accumulator.
#include "runtime/checksums.h"

#include <array>

namespace kiv {

namespace {

// kCrcTables[0] is the byte-at-a-time table; kCrcTables[k][i] is the CRC
// contribution of byte i followed by k zero bytes.
using CrcTables = std::array<std::array<uint32_t, 256>, 8>;

constexpr CrcTables make_crc_tables() {
  CrcTables t{};
  for (uint32_t i = 0; i < 256; i++) {
    uint32_t c = i;
    for (int k = 0; k < 8; k++) c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
    t[0][i] = c;
  }
  for (uint32_t i = 0; i < 256; i++)
    for (size_t k = 1; k < 8; k++) t[k][i] = (t[k - 1][i] >> 8) ^ t[0][t[k - 1][i] & 0xFF];
  return t;
}

constexpr CrcTables kCrcTables = make_crc_tables();

inline uint32_t load_le32(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

constexpr uint32_t kAdlerBase = 65521;
// The most bytes whose sums cannot overflow 32 bits from reduced s1 and s2.
constexpr size_t kAdlerBlock = 5552;

}  // namespace

uint32_t crc32_update(uint32_t crc, const uint8_t* data, size_t n) {
  const auto& t = kCrcTables;
  uint32_t c = ~crc;
  while (n >= 8) {
    uint32_t lo = load_le32(data) ^ c;
    uint32_t hi = load_le32(data + 4);
    c = t[7][lo & 0xFF] ^ t[6][(lo >> 8) & 0xFF] ^ t[5][(lo >> 16) & 0xFF] ^ t[4][lo >> 24] ^
        t[3][hi & 0xFF] ^ t[2][(hi >> 8) & 0xFF] ^ t[1][(hi >> 16) & 0xFF] ^ t[0][hi >> 24];
    data += 8;
    n -= 8;
  }
  while (n--) c = t[0][(c ^ *data++) & 0xFF] ^ (c >> 8);
  return ~c;
}

uint32_t adler32_update(uint32_t adler, const uint8_t* data, size_t n) {
  uint32_t s1 = adler & 0xFFFF;
  uint32_t s2 = adler >> 16;
  while (n > 0) {
    size_t block = n < kAdlerBlock ? n : kAdlerBlock;
    n -= block;
    while (block >= 16) {
      for (int i = 0; i < 16; i++) {
        s1 += data[i];
        s2 += s1;
      }
      data += 16;
      block -= 16;
    }
    while (block--) {
      s1 += *data++;
      s2 += s1;
    }
    s1 %= kAdlerBase;
    s2 %= kAdlerBase;
  }
  return s1 | s2 << 16;
}

uint64_t internet_sum_update(uint64_t sum, const uint8_t* data, size_t n) {
  size_t i = 0;
  for (; i + 1 < n; i += 2) sum += uint32_t(data[i]) << 8 | data[i + 1];
  if (i < n) sum += uint32_t(data[i]) << 8;
  return sum;
}

uint16_t internet_checksum_end(uint64_t sum) {
  while (sum >> 16) sum = (sum >> 16) + (sum & 0xFFFF);
  return uint16_t(~sum & 0xFFFF);
}

uint16_t internet_checksum(const uint8_t* data, size_t n) {
  return internet_checksum_end(internet_sum_update(0, data, n));
}

}  // namespace kiv
