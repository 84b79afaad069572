// The byte checksums: CRC-32 (the CRC of gzip and zlib streams), Adler-32
// (of zlib streams) and the internet checksum. Plain functions over bytes,
// with no state but CRC-32's tables; the checksum native and the
// compression wrappers call them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kiv {

// CRC-32 with the reflected polynomial 0xEDB88320 (initial all ones, final
// complement). [crc] is the result for the bytes before [data] (0 for none),
// so a stream can be summed in pieces: crc32_update(crc32_update(0, a), b)
// is the CRC of a followed by b.
uint32_t crc32_update(uint32_t crc, const uint8_t* data, size_t n);
inline uint32_t crc32_of(const uint8_t* data, size_t n) { return crc32_update(0, data, n); }

// Adler-32: s1 = 1 + the bytes, s2 = the sum of the s1 values, both modulo
// 65,521, giving s1 | s2 << 16. [adler] is the result for the bytes before
// [data] (1 for none).
uint32_t adler32_update(uint32_t adler, const uint8_t* data, size_t n);
inline uint32_t adler32_of(const uint8_t* data, size_t n) { return adler32_update(1, data, n); }

// The internet checksum: the ones' complement of the ones' complement sum of
// the big-endian 16-bit words (an odd last byte is the high byte of a word
// padded with zero). Summed in 64 bits, so no length loses a carry. 0xFFFF
// for no bytes.
uint16_t internet_checksum(const uint8_t* data, size_t n);
// The same in pieces: [sum] is the sum of the words before [data] (0 for
// none), each piece but the last of even length; internet_checksum_end
// folds the sum of every piece into the checksum.
uint64_t internet_sum_update(uint64_t sum, const uint8_t* data, size_t n);
uint16_t internet_checksum_end(uint64_t sum);

}  // namespace kiv
