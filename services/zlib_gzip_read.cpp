// The zlib and gzip readers: header checks, the inflater on the bytes
// between header and trailer, then the trailer's checks.
//
// Both accept their DEFLATE data only when its final block ends inside it and
// its last byte is the one before the trailer. A stream cut anywhere leaves
// the final block unfinished or its end short of where the trailer is now
// read from; a gzip file of two members ends its first stream long before the
// last trailer. Either way the result is bad data, never a shorter output.
#include <cstring>
#include <initializer_list>

#include "runtime/checksums.h"
#include "services/deflate.h"
#include "services/deflate_inflate.h"
#include "services/zlib_gzip.h"

namespace kiv {

namespace {

constexpr size_t kZlibOverhead = 6;
constexpr size_t kGzipHeader = 10;
constexpr size_t kGzipTrailer = 8;
constexpr size_t kGzipOverhead = kGzipHeader + kGzipTrailer;

// No DEFLATE stream produces more than 1,032 bytes per byte of its data: a
// 258-byte match takes at least two bits.
constexpr uint64_t kDeflateLargestRatio = 1032;

enum GzipFlag : uint8_t {
  kGzipHeaderCrc = 0x02,
  kGzipExtra = 0x04,
  kGzipName = 0x08,
  kGzipComment = 0x10,
  kGzipReservedFlags = 0xE0,
};

uint32_t read_be32(const uint8_t* p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}
uint32_t read_le32(const uint8_t* p) {
  return uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
}
unsigned read_le16(const uint8_t* p) { return unsigned(p[1]) << 8 | p[0]; }

// Inflates [data] into [out] and requires the stream to fill [data] exactly.
// Returns the inflater's status, or kDeflateBadData for a stream that did
// not end where [data] does.
int inflate_exact(uint8_t* out, size_t* size, const uint8_t* data, size_t data_len) {
  InflateEnd end;
  size_t produced = *size;
  int status = deflate_inflate(out, &produced, data, data_len, &end);
  if (deflate_bad_data_q(status)) return status;
  if (!end.complete || end.consumed != data_len) return kDeflateBadData;
  *size = produced;
  return status;
}

}  // namespace

int zlib_decompress(uint8_t* out, size_t* size, const uint8_t* in, size_t in_len) {
  if (in_len < kZlibOverhead) return kDeflateBadData;
  const unsigned cmf = in[0];
  const unsigned flg = in[1];
  if ((cmf * 256 + flg) % 31 != 0 || (cmf & 0x0F) != 8 || (cmf & 0x80) || (flg & 0x20))
    return kDeflateBadData;
  size_t produced = *size;
  int status = inflate_exact(out, &produced, in + 2, in_len - kZlibOverhead);
  if (status != kDeflateDone) {
    if (status == kDeflateTooSmall) *size = produced;
    return status;
  }
  if (adler32_of(out, produced) != read_be32(in + in_len - 4)) return kDeflateBadData;
  *size = produced;
  return kDeflateDone;
}

int gzip_decompress(uint8_t* out, size_t* size, const uint8_t* in, size_t in_len) {
  if (in_len < kGzipOverhead || in[0] != 0x1F || in[1] != 0x8B || in[2] != 8) return kDeflateBadData;
  const uint8_t flags = in[3];
  if (flags & kGzipReservedFlags) return kDeflateBadData;
  // Every optional field ends before the trailer.
  const size_t limit = in_len - kGzipTrailer;
  size_t p = kGzipHeader;
  if (flags & kGzipExtra) {
    if (limit - p < 2) return kDeflateBadData;
    size_t extra = read_le16(in + p);
    p += 2;
    if (limit - p < extra) return kDeflateBadData;
    p += extra;
  }
  for (uint8_t field : {kGzipName, kGzipComment}) {
    if (!(flags & field)) continue;
    const void* zero = memchr(in + p, 0, limit - p);
    if (!zero) return kDeflateBadData;
    p = size_t(static_cast<const uint8_t*>(zero) - in) + 1;
  }
  if (flags & kGzipHeaderCrc) {
    if (limit - p < 2) return kDeflateBadData;
    if ((crc32_of(in, p) & 0xFFFF) != read_le16(in + p)) return kDeflateBadData;
    p += 2;
  }
  const size_t data_len = limit - p;
  const uint32_t crc = read_le32(in + limit);
  const uint32_t isize = read_le32(in + limit + 4);
  if (isize > kDeflateLargestRatio * data_len) return kDeflateBadData;
  if (isize > *size) {
    *size = isize;
    return kDeflateTooSmall;
  }
  size_t produced = *size;
  int status = inflate_exact(out, &produced, in + p, data_len);
  if (status != kDeflateDone) {
    if (status == kDeflateTooSmall) *size = produced;
    return status;
  }
  // ISIZE is the length modulo 2^32.
  if (uint32_t(produced) != isize || crc32_of(out, produced) != crc) return kDeflateBadData;
  *size = produced;
  return kDeflateDone;
}

}  // namespace kiv
