// libFuzzer target of the DEFLATE compressor and its writers: the raw, zlib
// and gzip streams of any input must inflate back to the input with zlib,
// and a buffer one byte short must be reported with the same exact size.
// The first input byte picks a smaller output buffer for the raw stream, so
// the writer's counting past the end is exercised on every input.
#include <zlib.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "services/deflate.h"
#include "services/zlib_gzip.h"

namespace {

using Compress = int (*)(uint8_t*, size_t*, const uint8_t*, size_t);

// Compresses [data] with [compress], growing the buffer to the size each call
// reports; aborts when the reports do not settle.
std::vector<uint8_t> compressed(Compress compress, const uint8_t* data, size_t size) {
  std::vector<uint8_t> out;
  size_t n = 0;
  int status = compress(nullptr, &n, data, size);
  for (int tries = 0; status != kiv::kDeflateDone; tries++) {
    if (tries == 3 || (status != kiv::kDeflateTooSmall && status != kiv::kDeflateBadData)) std::abort();
    out.resize(n);
    status = compress(out.data(), &n, data, size);
  }
  if (n > out.size()) std::abort();
  out.resize(n);
  return out;
}

void check_inflates(const std::vector<uint8_t>& stream, int window_bits, const uint8_t* data, size_t size) {
  z_stream z{};
  if (inflateInit2(&z, window_bits) != Z_OK) std::abort();
  std::vector<uint8_t> out(size + 1);
  z.next_in = const_cast<Bytef*>(stream.data());
  z.avail_in = uInt(stream.size());
  z.next_out = out.data();
  z.avail_out = uInt(out.size());
  int r = inflate(&z, Z_FINISH);
  size_t produced = z.total_out;
  bool whole = r == Z_STREAM_END && z.avail_in == 0;
  inflateEnd(&z);
  if (!whole || produced != size || (size && std::memcmp(out.data(), data, size) != 0)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> raw = compressed(kiv::deflate_compress, data, size);
  check_inflates(raw, -15, data, size);
  check_inflates(compressed(kiv::zlib_compress, data, size), 15, data, size);
  std::vector<uint8_t> gzip = compressed(kiv::gzip_compress, data, size);
  if (size > 2 && data[0] == 0x1F && data[1] == 0x8B && data[2] == 0x08) {  // passed through as it is
    if (gzip.size() != size || std::memcmp(gzip.data(), data, size) != 0) std::abort();
  } else {
    check_inflates(gzip, 31, data, size);
  }

  // Short by 1 to 256 bytes: the exact size, and the bytes that fitted are the stream's.
  size_t cut = std::min(raw.size(), size_t(size ? data[0] : 0) + 1);
  std::vector<uint8_t> part(raw.size() - cut + 8, 0xA5);
  size_t n = raw.size() - cut;
  if (kiv::deflate_compress(part.data(), &n, data, size) != kiv::kDeflateTooSmall || n != raw.size())
    std::abort();
  if (std::memcmp(part.data(), raw.data(), raw.size() - cut) != 0) std::abort();
  for (size_t i = raw.size() - cut; i < part.size(); i++)
    if (part[i] != 0xA5) std::abort();
  return 0;
}
