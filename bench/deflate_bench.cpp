// DEFLATE on 20 MiB of real text (bench/make_text_corpus.sh, run when the
// file is missing), in the same run: Kiv's compressor (services/deflate.h)
// against zlib's deflate at level 6, with the compressed sizes, and Kiv's
// inflater against zlib's inflate, both reading zlib's stream of the text.
// Each run's output is checked (a stream by inflating it with zlib, a text
// against the text), so a wrong codec cannot look fast.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "median_reporter.h"
#include "services/deflate.h"

namespace {

using Bytes = std::vector<uint8_t>;

const char* corpus_path() {
  const char* path = std::getenv("KIV_TEXT_CORPUS");
  return path && *path ? path : "/tmp/kiv-text-corpus.txt";
}

const Bytes& text() {
  static const Bytes data = [] {
    std::string path = corpus_path();
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) {
      std::string command =
          std::string(KIV_SOURCE_DIR) + "/bench/make_text_corpus.sh '" + path + "' >/dev/null";
      if (std::system(command.c_str()) != 0)
        std::fprintf(stderr, "deflate_bench: no corpus at %s\n", path.c_str());
      f = std::fopen(path.c_str(), "rb");
    }
    Bytes d;
    if (!f) return d;
    char buffer[1 << 16];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) d.insert(d.end(), buffer, buffer + n);
    std::fclose(f);
    return d;
  }();
  return data;
}

// Raw streams (no wrapper) both ways, so the two compressors do the same work.
size_t kiv_compress(const Bytes& in, Bytes* out) {
  size_t size = out->size();
  if (kiv::deflate_compress(out->data(), &size, in.data(), in.size()) != kiv::kDeflateDone) return 0;
  return size;
}

size_t zlib_compress6(const Bytes& in, Bytes* out) {
  z_stream z{};
  if (deflateInit2(&z, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) return 0;
  z.next_in = const_cast<Bytef*>(in.data());
  z.avail_in = uInt(in.size());
  z.next_out = out->data();
  z.avail_out = uInt(out->size());
  int r = deflate(&z, Z_FINISH);
  size_t n = z.total_out;
  deflateEnd(&z);
  return r == Z_STREAM_END ? n : 0;
}

bool inflates_to(const Bytes& stream, size_t size, const Bytes& expected) {
  z_stream z{};
  if (inflateInit2(&z, -15) != Z_OK) return false;
  Bytes out(expected.size() + 1);
  z.next_in = const_cast<Bytef*>(stream.data());
  z.avail_in = uInt(size);
  z.next_out = out.data();
  z.avail_out = uInt(out.size());
  int r = inflate(&z, Z_FINISH);
  out.resize(z.total_out);
  inflateEnd(&z);
  return r == Z_STREAM_END && out == expected;
}

bool inflates_to_text(const Bytes& stream, size_t size) { return inflates_to(stream, size, text()); }

// zlib's level-6 raw stream of the text: what both inflaters read.
const Bytes& zlib_stream() {
  static const Bytes stream = [] {
    Bytes out(text().size() + 1024);
    out.resize(zlib_compress6(text(), &out));
    return out;
  }();
  return stream;
}

size_t kiv_inflate(const Bytes& in, Bytes* out) {
  size_t size = out->size();
  if (kiv::deflate_decompress(out->data(), &size, in.data(), in.size()) != kiv::kDeflateDone) return 0;
  return size;
}

size_t zlib_inflate(const Bytes& in, Bytes* out) {
  z_stream z{};
  if (inflateInit2(&z, -15) != Z_OK) return 0;
  z.next_in = const_cast<Bytef*>(in.data());
  z.avail_in = uInt(in.size());
  z.next_out = out->data();
  z.avail_out = uInt(out->size());
  int r = inflate(&z, Z_FINISH);
  size_t n = z.total_out;
  inflateEnd(&z);
  return r == Z_STREAM_END ? n : 0;
}

bool is_text(const Bytes& out, size_t size) {
  return size == text().size() && std::equal(text().begin(), text().end(), out.begin());
}

// One timed codec: what it reads, what it runs (returning the bytes it wrote,
// 0 on failure) and the check of its output. An inflater is a row reading
// zlib's stream of the text and checked against the text.
struct Case {
  const char* name;
  const Bytes& (*input)();
  size_t (*run)(const Bytes& in, Bytes* out);
  bool (*valid)(const Bytes& out, size_t size);
};

constexpr Case kCases[] = {
    {"compress/kiv", text, kiv_compress, inflates_to_text},
    {"compress/zlib6", text, zlib_compress6, inflates_to_text},
    {"inflate/kiv", zlib_stream, kiv_inflate, is_text},
    {"inflate/zlib", zlib_stream, zlib_inflate, is_text},
};

size_t g_sizes[std::size(kCases)];

template <size_t I>
void run_case(benchmark::State& state) {
  const Case& c = kCases[I];
  const Bytes& in = c.input();
  if (in.empty()) {
    state.SkipWithError("no corpus");
    return;
  }
  Bytes out(2 * text().size() + 1024);  // room for a stream or the text
  size_t size = 0;
  for (auto _ : state) {
    size = c.run(in, &out);
    benchmark::DoNotOptimize(out.data());
  }
  if (size == 0 || !c.valid(out, size)) state.SkipWithError("wrong output");
  g_sizes[I] = size;
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text().size()));
}

template <size_t... I>
void register_cases(std::index_sequence<I...>) {
  register_benchmarks({{kCases[I].name, run_case<I>}...});
}

}  // namespace

int main(int argc, char** argv) {
  text();
  register_cases(std::make_index_sequence<std::size(kCases)>());
  RatioReporter reporter({
      {"compress/kiv", "compress/zlib6", "1.5"},
      {"inflate/kiv", "inflate/zlib", "1.5"},
  });
  int status = run_benchmarks(argc, argv, reporter);
  std::printf("\n%-24s %12s %9s\n", "output of", "bytes", "of text");
  for (size_t i = 0; i < std::size(kCases); i++)
    if (g_sizes[i] && std::string(kCases[i].name).rfind("compress", 0) == 0)
      std::printf("%-24s %12zu %8.2f%%\n", kCases[i].name, g_sizes[i],
                  100.0 * double(g_sizes[i]) / double(text().size()));
  return status;
}
