// libFuzzer target of the inflater and the zlib and gzip readers. The first
// byte picks the reader (raw, zlib, gzip); the rest is its input. Whatever
// the bytes, a reader answers with a status: never a crash, a read outside
// its input or a write outside its output. Its answers must also agree with
// themselves (a too-small output reports the size a second call fills) and
// with zlib: whenever zlib inflates the whole input, ours gives the same bytes.
#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "services/deflate.h"
#include "services/zlib_gzip.h"

namespace inflate_fuzz {

using Reader = int (*)(uint8_t*, size_t*, const uint8_t*, size_t);

// Larger outputs are left unchecked: a hostile stream may claim 1,032 times
// its length.
constexpr size_t kMaxOutput = size_t(1) << 24;
// zlib's room when ours refused the stream.
constexpr size_t kOracleRoom = size_t(1) << 20;

void check(bool ok, const char* what) {
  if (!ok) {
    fprintf(stderr, "inflate_fuzz: %s\n", what);
    abort();
  }
}

// zlib's reading of the whole of [in], or -1 when it does not inflate all of
// it in one go into [cap] bytes.
long zlib_reading(int window_bits, const uint8_t* in, size_t len, uint8_t* out, size_t cap) {
  z_stream z{};
  if (inflateInit2(&z, window_bits) != Z_OK) return -1;
  z.next_in = const_cast<Bytef*>(in);
  z.avail_in = uInt(len);
  z.next_out = out;
  z.avail_out = uInt(cap);
  int r = inflate(&z, Z_FINISH);
  long produced = long(z.total_out);
  bool whole = r == Z_STREAM_END && z.avail_in == 0;
  inflateEnd(&z);
  return whole ? produced : -1;
}

int run(const uint8_t* data, size_t size) {
  if (size < 1 || size > (size_t(1) << 20)) return 0;
  const unsigned mode = data[0] % 3;
  const Reader reader = mode == 0   ? kiv::deflate_decompress
                        : mode == 1 ? kiv::zlib_decompress
                                    : kiv::gzip_decompress;
  const int window_bits = mode == 0 ? -15 : mode == 1 ? 15 : 31;
  // The input in a buffer of its own size, so a read past it is caught.
  const size_t len = size - 1;
  std::unique_ptr<uint8_t[]> in(new uint8_t[len ? len : 1]);
  if (len) memcpy(in.get(), data + 1, len);

  // With no room, a size query.
  size_t needed = 0;
  int status = reader(nullptr, &needed, in.get(), len);
  check(status >= kiv::kDeflateDone && status <= kiv::kDeflateBadDistance, "a status out of range");
  check(status != kiv::kDeflateDone || needed == 0, "nothing was stored, yet something was produced");
  check(status != kiv::kDeflateTooSmall || needed > 0, "too small for nothing");
  const bool answered = !kiv::deflate_bad_data_q(status) && needed <= kMaxOutput;

  std::unique_ptr<uint8_t[]> out(new uint8_t[answered && needed ? needed : 1]);
  size_t got = needed;
  if (answered) {
    status = reader(out.get(), &got, in.get(), len);
    // Raw streams are read the same whatever the room.
    if (mode == 0) check(status == kiv::kDeflateDone && got == needed, "the reported size does not fill");
  }
  if (answered && status == kiv::kDeflateDone && mode == 0 && needed > 0) {
    size_t short_size = needed - 1;
    std::unique_ptr<uint8_t[]> short_out(new uint8_t[short_size ? short_size : 1]);
    check(
        reader(short_out.get(), &short_size, in.get(), len) == kiv::kDeflateTooSmall && short_size == needed,
        "one byte short is not reported with the exact size");
    check(memcmp(short_out.get(), out.get(), needed - 1) == 0, "a short output differs from the whole");
  }

  // zlib gets room for one byte more than ours produced (so a longer
  // reading shows), or kOracleRoom when ours refused.
  const size_t room = answered && status == kiv::kDeflateDone ? got + 1 : kOracleRoom;
  std::unique_ptr<uint8_t[]> oracle(new uint8_t[room]);
  long z = zlib_reading(window_bits, in.get(), len, oracle.get(), room);
  if (z >= 0) {
    check(answered && status == kiv::kDeflateDone, "zlib inflates a stream ours refuses");
    check(size_t(z) == got && memcmp(oracle.get(), out.get(), got) == 0, "zlib reads the stream differently");
  }
  return 0;
}

}  // namespace inflate_fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return inflate_fuzz::run(data, size);
}
