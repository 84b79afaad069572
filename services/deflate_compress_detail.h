// Two pieces of the DEFLATE compressor (services/deflate_compress.cpp) that
// its tests reach directly: the code-length builder, and the compressor with
// a chosen interval for rebasing its position tables. Nothing else calls them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kiv {

// Length-limited Huffman code lengths for the [count] symbols whose counts
// are [freq], written to [lengths]: at most [limit] bits (at most 286
// symbols), a complete code, the least frequent symbols on the longest codes.
// Fewer than two used symbols give two codes of length 1.
void deflate_huffman_lengths(const uint32_t* freq, int count, int limit, uint8_t* lengths);

// deflate_compress with the hash and chain tables' positions rebased once
// they reach [rebase_at] (a multiple of 32,768, at least 65,536), so inputs
// past 4 GiB fit 32-bit positions. The stream does not depend on it.
int deflate_compress_rebasing_at(uint8_t* out, size_t* size, const uint8_t* in, size_t in_len,
                                 uint32_t rebase_at);

}  // namespace kiv
