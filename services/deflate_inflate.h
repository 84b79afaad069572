// The inflater behind deflate_decompress, with what the zlib and gzip readers
// need besides the bytes: whether the stream really ended, and where. A
// wrapper accepts its stream only when the final block ended inside the input
// and its last byte is the one before the trailer, so a stream cut anywhere
// (or followed by a second member) never passes as shorter data.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kiv {

struct InflateEnd {
  // The final block's end was reached without reading past the input.
  bool complete = false;
  // Bytes of input up to and including the one that holds the stream's last
  // bit; meaningful when [complete].
  size_t consumed = 0;
};

// deflate_decompress, also filling [*end] (statuses and [*size] the same).
int deflate_inflate(uint8_t* out, size_t* size, const uint8_t* in, size_t in_len, InflateEnd* end);

}  // namespace kiv
