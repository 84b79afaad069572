// UTF-8 decoding into a string! buffer and encoding from it, against a plain
// C++ loop doing the same conversion (decode into std::u32string, encode from
// it), on one 50 MB multilingual text generated here: ASCII prose with Latin-1,
// CJK and emoji words mixed in. The text widens the string to 4-byte units.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <string>

#include "boot/init.h"
#include "datatypes/string.h"
#include "runtime/collector.h"
#include "runtime/memory.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"

namespace {

constexpr size_t kTextBytes = 50u << 20;

const std::string& multilingual_text() {
  static const std::string text = [] {
    const char* words[] = {
        "the ",
        "quick ",
        "brown ",
        "fox ",
        "jumps ",
        "over ",
        "a ",
        "lazy ",
        "dog, ",
        "and ",
        "then ",
        "stops.\n",
        "text ",
        "of ",
        "many ",
        "words ",
        "Gr\xC3\xBC\xC3\x9F"
        "e ",
        "caf\xC3\xA9 ",
        "na\xC3\xAFve ",
        "\xC3\xA0 ",  // Latin-1
        "\xE6\xBC\xA2\xE5\xAD\x97 ",
        "\xE6\x9D\xB1\xE4\xBA\xAC ",
        "\xE3\x81\x8B\xE3\x81\xAA ",  // CJK
        "\xF0\x9F\x98\x80 ",
        "\xF0\x9F\x8E\x89 ",  // emoji
    };
    std::mt19937 rng(12345);
    std::string out;
    out.reserve(kTextBytes + 16);
    while (out.size() < kTextBytes) out += words[rng() % (sizeof words / sizeof *words)];
    return out;
  }();
  return text;
}

// ---------------------------------------------------------------- plain C++

std::u32string plain_decode(const std::string& in) {
  std::u32string out;
  out.reserve(in.size());
  const auto* p = reinterpret_cast<const unsigned char*>(in.data());
  const unsigned char* end = p + in.size();
  while (p < end) {
    unsigned char b = *p;
    char32_t cp;
    int n;
    if (b < 0x80)
      cp = b, n = 1;
    else if ((b & 0xE0) == 0xC0)
      cp = b & 0x1F, n = 2;
    else if ((b & 0xF0) == 0xE0)
      cp = b & 0x0F, n = 3;
    else if ((b & 0xF8) == 0xF0)
      cp = b & 0x07, n = 4;
    else
      throw std::runtime_error("invalid UTF-8");
    if (end - p < n) throw std::runtime_error("truncated UTF-8");
    for (int k = 1; k < n; k++) {
      if ((p[k] & 0xC0) != 0x80) throw std::runtime_error("invalid UTF-8");
      cp = cp << 6 | (p[k] & 0x3F);
    }
    out.push_back(cp);
    p += n;
  }
  return out;
}

std::string plain_encode(const std::u32string& in) {
  std::string out;
  out.reserve(in.size() * 4);
  for (char32_t cp : in) {
    if (cp < 0x80) {
      out.push_back(char(cp));
    } else if (cp < 0x800) {
      out.push_back(char(0xC0 | cp >> 6));
      out.push_back(char(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(char(0xE0 | cp >> 12));
      out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(char(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(char(0xF0 | cp >> 18));
      out.push_back(char(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(char(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(char(0x80 | (cp & 0x3F)));
    }
  }
  return out;
}

void BM_PlainDecode(benchmark::State& state) {
  const std::string& text = multilingual_text();
  for (auto _ : state) {
    std::u32string s = plain_decode(text);
    benchmark::DoNotOptimize(s.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
}

void BM_PlainEncode(benchmark::State& state) {
  const std::string& text = multilingual_text();
  std::u32string decoded = plain_decode(text);
  for (auto _ : state) {
    std::string s = plain_encode(decoded);
    benchmark::DoNotOptimize(s.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
}

// ---------------------------------------------------------------- Kiv

void BM_KivDecode(benchmark::State& state) {
  kiv::runtime_init();
  const std::string& text = multilingual_text();
  for (auto _ : state) {
    kiv::Node n = kiv::load_utf8_new(text.data(), uint32_t(text.size()));
    benchmark::DoNotOptimize(kiv::series_buffer(n)->tail);
    state.PauseTiming();
    kiv::gc_collect();  // the unrooted result goes
    state.ResumeTiming();
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
}

void BM_KivEncode(benchmark::State& state) {
  kiv::runtime_init();
  const std::string& text = multilingual_text();
  kiv::StackSave save;
  kiv::Cell* s = kiv::stack_push_value(kiv::make_cell(kiv::kTypeString));
  *s = kiv::series_cell(kiv::kTypeString, kiv::load_utf8_new(text.data(), uint32_t(text.size())));
  if (kiv::string_unit(s) != 4) state.SkipWithError("the text should widen to 4-byte units");
  int32_t length = -1;
  char* out = kiv::to_utf8(s, &length);
  if (size_t(length) != text.size() || std::memcmp(out, text.data(), text.size()) != 0)
    state.SkipWithError("round trip differs");
  for (auto _ : state) {
    length = -1;
    benchmark::DoNotOptimize(kiv::to_utf8(s, &length));
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
}

BENCHMARK(BM_PlainDecode)->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_KivDecode)->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_PlainEncode)->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_KivEncode)->Unit(benchmark::kMillisecond)->Iterations(10);

}  // namespace

BENCHMARK_MAIN();
