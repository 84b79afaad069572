// libFuzzer target of the LZ codec: any bytes are decoded (a stream or a
// refusal, never a crash or a read outside the input), and any input of 128
// bytes or more that compresses comes back the same from its stream.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "services/lz_codec.h"

namespace lz_fuzz {

void check(bool ok, const char* what) {
  if (!ok) {
    fprintf(stderr, "lz_fuzz: %s\n", what);
    abort();
  }
}

int run(const uint8_t* data, size_t size) {
  if (size > (size_t(1) << 20)) return 0;
  std::unique_ptr<uint8_t[]> in(new uint8_t[size ? size : 1]);
  if (size) memcpy(in.get(), data, size);
  std::vector<uint8_t> out;
  if (kiv::lz_decompress(in.get(), size, &out)) {
    check(out.size() <= 566 * size, "more output than any stream of this length holds");
  } else {
    check(out.empty(), "a refused stream left output behind");
  }
  std::vector<uint8_t> packed;
  int64_t n = kiv::lz_compress(in.get(), size, &packed);
  if (n < 0) {
    check(size < 128 || packed.empty(), "a refusal left output behind");
    return 0;
  }
  check(size_t(n) == packed.size() && size_t(n) + 8 <= size, "the stream is not shorter than its input");
  std::vector<uint8_t> back;
  check(kiv::lz_decompress(packed.data(), packed.size(), &back), "the compressor's stream is refused");
  check(back.size() == size && memcmp(back.data(), data, size) == 0, "a round trip changed the data");
  return 0;
}

}  // namespace lz_fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) { return lz_fuzz::run(data, size); }
