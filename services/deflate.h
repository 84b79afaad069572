// Raw DEFLATE streams: one call compresses a whole buffer into one stream,
// one call inflates a whole stream. Both work on caller-supplied memory,
// keep no state between calls, never allocate anything the caller frees and
// report through a status; a caller whose output was too small grows it to
// the reported size and calls again.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kiv {

enum DeflateStatus : int {
  kDeflateDone = 0,           // [*size] holds the bytes written or produced
  kDeflateTooSmall = 1,       // [*size] holds the bytes the result needs
  kDeflateBadData = 2,        // malformed stream (or, for writers, no room for a header)
  kDeflateStoredTooLong = 3,  // a stored block longer than the input left
  kDeflateBadBlockType = 4,   // block type 3
  kDeflateBadDistance = 5,    // a distance reaching before the output start
};

// True for the statuses that mean the data is bad (2 to 5).
inline bool deflate_bad_data_q(int status) { return status >= kDeflateBadData; }

// Writes one complete stream of [in] (final block marked, last byte padded)
// into [out], which holds [*size] bytes. Returns kDeflateDone when it fitted,
// kDeflateTooSmall when not; either way [*size] receives the stream's size.
// Same input, same bytes, in every build.
int deflate_compress(uint8_t* out, size_t* size, const uint8_t* in, size_t in_len);

// Inflates the raw stream [in] into [out], which holds [*size] bytes.
// kDeflateDone: [*size] receives the bytes produced. kDeflateTooSmall: [*size]
// receives the bytes the stream produces. Bytes after the final block are
// ignored; a stream cut short gives what was decoded before its input ran out.
int deflate_decompress(uint8_t* out, size_t* size, const uint8_t* in, size_t in_len);

}  // namespace kiv
