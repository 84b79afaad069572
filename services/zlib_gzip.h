// The zlib (RFC 1950) and gzip (RFC 1952) wrappers around raw DEFLATE
// streams (services/deflate.h). Each takes (output, size in/out, input,
// input length) and returns a DeflateStatus: kDeflateDone with the bytes
// written or produced in [*size]; kDeflateTooSmall with the size needed;
// kDeflateBadData for a bad header or checksum (for the writers: no room even
// for the header, [*size] then holding the input length plus the overhead);
// or the inflater's statuses 3 to 5 passed through. No wrapper retries.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kiv {

// zlib: 78 01, the stream, the Adler-32 of the data, most significant first.
int zlib_compress(uint8_t* out, size_t* size, const uint8_t* in, size_t in_len);
int zlib_decompress(uint8_t* out, size_t* size, const uint8_t* in, size_t in_len);

// gzip: a 10-byte header, the stream, the CRC-32 and the length of the data.
// Data that already starts with 1F 8B 08 is returned unchanged.
int gzip_compress(uint8_t* out, size_t* size, const uint8_t* in, size_t in_len);
int gzip_decompress(uint8_t* out, size_t* size, const uint8_t* in, size_t in_len);

}  // namespace kiv
