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

}  // namespace

int zlib_compress(uint8_t* out, size_t* size, const uint8_t* in, size_t in_len) {
  const size_t capacity = *size;
  if (capacity < kZlibHeader + kZlibTrailer) {
    *size = in_len + kZlibHeader + kZlibTrailer;
    return kDeflateBadData;
  }
  std::memcpy(out, kZlibHeaderBytes, kZlibHeader);
  size_t stream = capacity - kZlibHeader;
  int status = deflate_compress(out + kZlibHeader, &stream, in, in_len);
  size_t total = kZlibHeader + stream + kZlibTrailer;
  *size = total;
  if (status != kDeflateDone) return status;
  if (total > capacity) return kDeflateTooSmall;
  put_be32(out + kZlibHeader + stream, adler32_of(in, in_len));
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
  if (capacity < kGzipHeader + kGzipTrailer) {
    *size = in_len + kGzipHeader + kGzipTrailer;
    return kDeflateBadData;
  }
  std::memcpy(out, kGzipHeaderBytes, kGzipHeader);
  size_t stream = capacity - kGzipHeader;
  int status = deflate_compress(out + kGzipHeader, &stream, in, in_len);
  size_t total = kGzipHeader + stream + kGzipTrailer;
  *size = total;
  if (status != kDeflateDone) return status;
  if (total > capacity) return kDeflateTooSmall;
  put_le32(out + kGzipHeader + stream, crc32_of(in, in_len));
  put_le32(out + kGzipHeader + stream + 4, uint32_t(in_len));  // ISIZE: the length modulo 2^32
  return kDeflateDone;
}

}  // namespace kiv
