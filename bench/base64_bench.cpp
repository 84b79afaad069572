// Base-64 encode and decode of 100 MB of random bytes: Kiv's codec
// (runtime/base_codec.h) against OpenSSL's EVP_EncodeBlock / EVP_DecodeBlock
// on the same data in the same run. Both write into buffers sized in advance;
// each run checks its output so a wrong codec cannot look fast.
#include <benchmark/benchmark.h>
#include <openssl/evp.h>

#include <cstring>
#include <random>
#include <vector>

#include "median_reporter.h"
#include "runtime/base_codec.h"

namespace {

using namespace kiv;

constexpr size_t kBytes = 100u << 20;  // a multiple of 3: no padding in the middle of OpenSSL's text

const std::vector<uint8_t>& input() {
  static const std::vector<uint8_t> data = [] {
    std::vector<uint8_t> d(kBytes - kBytes % 3);
    std::mt19937_64 rng(20240601);
    for (size_t i = 0; i < d.size(); i += 8) {
      uint64_t r = rng();
      std::memcpy(d.data() + i, &r, std::min<size_t>(8, d.size() - i));
    }
    return d;
  }();
  return data;
}

const std::vector<uint8_t>& encoded() {
  static const std::vector<uint8_t> text = [] {
    std::vector<uint8_t> t(base64_encode_size(input().size()));
    encode_base64(t.data(), input().data(), input().size());
    return t;
  }();
  return text;
}

void set_bytes(benchmark::State& state) {
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(input().size()));
}

void encode_kiv(benchmark::State& state) {
  std::vector<uint8_t> out(base64_encode_size(input().size()));
  for (auto _ : state) {
    uint8_t* end = encode_base64(out.data(), input().data(), input().size());
    benchmark::DoNotOptimize(end);
    if (size_t(end - out.data()) != out.size()) state.SkipWithError("wrong length");
  }
  if (out != encoded()) state.SkipWithError("wrong text");
  set_bytes(state);
}

void encode_openssl(benchmark::State& state) {
  std::vector<uint8_t> out(base64_encode_size(input().size()) + 1);  // and a NUL
  for (auto _ : state) {
    int n = EVP_EncodeBlock(out.data(), input().data(), int(input().size()));
    benchmark::DoNotOptimize(n);
    if (size_t(n) != out.size() - 1) state.SkipWithError("wrong length");
  }
  if (std::memcmp(out.data(), encoded().data(), encoded().size()) != 0) state.SkipWithError("wrong text");
  set_bytes(state);
}

void decode_kiv(benchmark::State& state) {
  std::vector<uint8_t> out(base64_decode_capacity(encoded().size()));
  size_t written = 0;
  for (auto _ : state) {
    bool ok = decode_base64(encoded().data(), encoded().size(), 1, out.data(), &written);
    benchmark::DoNotOptimize(out.data());
    if (!ok || written != input().size()) state.SkipWithError("decode failed");
  }
  if (std::memcmp(out.data(), input().data(), input().size()) != 0) state.SkipWithError("wrong bytes");
  set_bytes(state);
}

void decode_openssl(benchmark::State& state) {
  std::vector<uint8_t> out(encoded().size() / 4 * 3);
  for (auto _ : state) {
    int n = EVP_DecodeBlock(out.data(), encoded().data(), int(encoded().size()));
    benchmark::DoNotOptimize(out.data());
    if (size_t(n) != input().size()) state.SkipWithError("decode failed");
  }
  if (std::memcmp(out.data(), input().data(), input().size()) != 0) state.SkipWithError("wrong bytes");
  set_bytes(state);
}

}  // namespace

int main(int argc, char** argv) {
  input();
  encoded();
  register_benchmarks({
      {"encode/kiv", encode_kiv},
      {"encode/openssl", encode_openssl},
      {"decode/kiv", decode_kiv},
      {"decode/openssl", decode_openssl},
  });
  RatioReporter reporter({
      {"encode/kiv", "encode/openssl", "-"},
      {"decode/kiv", "decode/openssl", "-"},
  });
  return run_benchmarks(argc, argv, reporter);
}
