// The zlib and gzip writers: a fixed header, the raw stream of
// services/deflate_compress.cpp, and the checksum trailer. Sizes are reported
// as the compressor reports them, raised by the wrapper's own bytes.
#include <cstring>

#include "runtime/checksums.h"
#include "services/deflate.h"
#include "services/zlib_gzip.h"

namespace kiv {

namespace {

constexpr size_t kZlibHeader = 2, kZlibTrailer = 4;
constexpr size_t kGzipHeader = 10, kGzipTrailer = 8;

// Method 8 with a 32 KiB window; no dictionary, check bits making 0x7801 a multiple of 31.
constexpr uint8_t kZlibHeaderBytes[kZlibHeader] = {0x78, 0x01};
// Magic, method 8, no flags, no time, XFL 4, OS 4.
constexpr uint8_t kGzipHeaderBytes[kGzipHeader] = {0x1F, 0x8B, 0x08, 0, 0, 0, 0, 0, 4, 4};

void put_be32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; i++) p[i] = uint8_t(v >> (24 - 8 * i));
}

void put_le32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; i++) p[i] = uint8_t(v >> (8 * i));
}

// Writes [header] ([header_size] bytes), then the raw stream of [in], leaving
// [trailer_size] bytes for the caller's trailer after it: the status, with
// [*size] the whole size needed and [*trailer_at] where the trailer goes.
int wrap_stream(uint8_t* out, size_t* size, const uint8_t* in, size_t in_len, const uint8_t* header,
                size_t header_size, size_t trailer_size, size_t* trailer_at) {
  const size_t capacity = *size;
  if (capacity < header_size + trailer_size) {
    *size = in_len + header_size + trailer_size;
    return kDeflateBadData;
  }
  std::memcpy(out, header, header_size);
  size_t stream = capacity - header_size;
  int status = deflate_compress(out + header_size, &stream, in, in_len);
  *trailer_at = header_size + stream;
  *size = *trailer_at + trailer_size;
  if (status != kDeflateDone) return status;
  return *size > capacity ? kDeflateTooSmall : kDeflateDone;
}

}  // namespace

int zlib_compress(uint8_t* out, size_t* size, const uint8_t* in, size_t in_len) {
  size_t at = 0;
  int status = wrap_stream(out, size, in, in_len, kZlibHeaderBytes, kZlibHeader, kZlibTrailer, &at);
  if (status != kDeflateDone) return status;
  put_be32(out + at, adler32_of(in, in_len));
  return kDeflateDone;
}

int gzip_compress(uint8_t* out, size_t* size, const uint8_t* in, size_t in_len) {
  const size_t capacity = *size;
  if (in_len > 2 && in[0] == 0x1F && in[1] == 0x8B && in[2] == 0x08) {
    // Already a gzip stream: passed through as it is.
    *size = in_len;
    if (in_len > capacity) return kDeflateTooSmall;
    std::memmove(out, in, in_len);
    return kDeflateDone;
  }
  size_t at = 0;
  int status = wrap_stream(out, size, in, in_len, kGzipHeaderBytes, kGzipHeader, kGzipTrailer, &at);
  if (status != kDeflateDone) return status;
  put_le32(out + at, crc32_of(in, in_len));
  put_le32(out + at + 4, uint32_t(in_len));  // ISIZE: the length modulo 2^32
  return kDeflateDone;
}

}  // namespace kiv
