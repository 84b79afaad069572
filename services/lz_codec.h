// The system's own LZ bit-stream codec, for data stored compressed in the
// program or in KIVBIN streams.
//
// Stream: S and U (32-bit little-endian: the bytes of block data after this
// 8-byte head, and the total decompressed size), then blocks back to back
// while they start less than S bytes after the head. A block is n (32-bit
// little-endian, 1 to 1,048,576 output bytes) and a bit stream read least
// significant bit first, starting on a fresh byte and ending at the last
// byte it used. Its tokens until n bytes are produced:
//   0, 8 bits                       a literal byte;
//   1, length code, distance code   a match of L + 3 bytes (3 to 566) from
//                                   D + 1 bytes back in the block's output.
// Length code: up to five single bits, stopping at a 1; the number of 0s
// chooses L = 2 bits, 4 + 2 bits, 8 + 2 bits, 12 + 3 bits, 20 + 5 bits, or
// (five 0s, no 1) 52 + 9 bits. Distance code: k = 2 + 4 bits; D is 3 bits when
// k is 2, else 2^k + k bits (reaching at most 262,144 bytes back).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kiv {

// Inflates the stream [in] of [in_len] bytes into [*out] (replacing what it
// held). False, with [*out] empty, when the stream is malformed: a block size
// out of range or past U, a match before its block's start or past its end,
// the input ending inside a block, or a U above 566 times [in_len] (more than
// any stream of that length can produce).
bool lz_decompress(const uint8_t* in, size_t in_len, std::vector<uint8_t>* out);

// Compresses [in] into one stream in [*out] and returns its size; -1 (with
// [*out] empty) when [in_len] is under 128 bytes or 2^32 - 1 or more, or when the
// stream would not fit in [in_len] - 8 bytes.
int64_t lz_compress(const uint8_t* in, size_t in_len, std::vector<uint8_t>* out);

}  // namespace kiv
