// string! search and append, against plain C++ doing the same work.
//
// find: one 50 MB multilingual text generated here (ASCII prose with Latin-1,
// CJK and emoji words; as a string! it is stored in 4-byte units) holds a
// needle near its end. Kiv's find (exact with /case, and the default
// case-insensitive one) runs against std::string::find on the same text as
// UTF-8 and std::u32string::find on it as code points. Two needles: one whose
// first letter is rare in the text, one that starts like many of its words.
//
// append: N characters (mostly ASCII, every 97th one Latin-1, CJK or emoji)
// appended one at a time through the append handler to a string that starts
// empty, for N = 100K, 1M and 10M; the cost per character should not grow
// with N. std::u32string::push_back is the reference.
#include <benchmark/benchmark.h>

#include <random>
#include <string>

#include "boot/init.h"
#include "datatypes/char.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "runtime/collector.h"
#include "runtime/memory.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"

namespace {

constexpr size_t kTextBytes = 50u << 20;

const char* const kNeedles[] = {
    "Quintessential caf\xC3\xA9 \xE6\xBC\xA2\xE5\xAD\x97 \xF0\x9F\x98\x80 end-marker",  // rare first letter
    "the lazy caf\xC3\xA9 \xE6\xBC\xA2\xE5\xAD\x97 \xF0\x9F\x8E\x89 end-marker",        // common first letter
};

// The text with both needles planted at 97% of its length.
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
    out.reserve(kTextBytes + 256);
    bool planted = false;
    while (out.size() < kTextBytes) {
      if (!planted && out.size() > kTextBytes / 100 * 97) {
        for (const char* needle : kNeedles) (out += needle) += ' ';
        planted = true;
      }
      out += words[rng() % (sizeof words / sizeof *words)];
    }
    return out;
  }();
  return text;
}

std::u32string decode(const std::string& in) {
  std::u32string out;
  const auto* p = reinterpret_cast<const uint8_t*>(in.data());
  const uint8_t* end = p + in.size();
  while (p < end) {
    int32_t cp;
    p = kiv::utf8_fast_decode_char(p, end, &cp);
    out.push_back(char32_t(cp));
  }
  return out;
}

const std::u32string& text32() {
  static const std::u32string t = decode(multilingual_text());
  return t;
}

// The haystack as a string! in a root slot of the data stack (made once).
kiv::Cell* kiv_text() {
  static kiv::Cell* cell = [] {
    kiv::runtime_init();
    const std::string& t = multilingual_text();
    kiv::Cell* c = kiv::stack_push_value(kiv::make_cell(kiv::kTypeUnset));
    *c = kiv::series_cell(kiv::kTypeString, kiv::load_utf8_new(t.data(), uint32_t(t.size())));
    return c;
  }();
  return cell;
}

// ---------------------------------------------------------------- find

void BM_StdStringFind(benchmark::State& state) {
  const std::string& text = multilingual_text();
  const std::string needle = kNeedles[state.range(0)];
  for (auto _ : state) benchmark::DoNotOptimize(text.find(needle));
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(text.size()));
}

void BM_StdU32Find(benchmark::State& state) {
  const std::u32string& text = text32();
  const std::u32string needle = decode(kNeedles[state.range(0)]);
  for (auto _ : state) benchmark::DoNotOptimize(text.find(needle));
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(multilingual_text().size()));
}

void kiv_find(benchmark::State& state, bool case_sensitive) {
  kiv::Cell* hay = kiv_text();
  if (kiv::string_unit(hay) != 4) state.SkipWithError("the text should be stored in 4-byte units");
  kiv::StackSave save;
  kiv::Cell* needle = kiv::stack_push_value(kiv::make_cell(kiv::kTypeUnset));
  const std::string utf8 = kNeedles[state.range(0)];
  kiv::string_make_at(needle, 16);
  kiv::string_append_utf8(needle, utf8);
  // The answer must be where the plain search puts it.
  const size_t want = text32().find(decode(utf8));
  kiv::FindArgs args;
  args.value = needle;
  args.case_ = case_sensitive;
  for (auto _ : state) {
    kiv::Cell* series = kiv::stack_push_cell(hay);
    kiv::string_find(series, args);
    if (size_t(series->head()) != want) state.SkipWithError("find answered another position");
    kiv::stack_pop(1);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(multilingual_text().size()));
}

void BM_KivFindCase(benchmark::State& state) { kiv_find(state, true); }
void BM_KivFindFolded(benchmark::State& state) { kiv_find(state, false); }

// ---------------------------------------------------------------- append

// The i-th character appended: ASCII, with a Latin-1, CJK or emoji one every 97th.
inline uint32_t nth_char(int64_t i) {
  static const uint32_t kRare[] = {0xE9, 0x6F22, 0x1F600};
  return i % 97 == 96 ? kRare[(i / 97) % 3] : uint32_t('a' + i % 26);
}

void BM_KivAppendChars(benchmark::State& state) {
  kiv::runtime_init();
  const int64_t n = state.range(0);
  for (auto _ : state) {
    state.PauseTiming();
    kiv::StackSave save;
    kiv::gc_collect();  // the previous round's string goes
    kiv::Cell* s = kiv::string_make_at(kiv::stack_push(), 0);
    kiv::InsertArgs append;
    append.value = kiv::stack_push_value(kiv::char_cell(0));
    append.append = true;
    state.ResumeTiming();
    for (int64_t i = 0; i < n; i++) {
      kiv::char_set(append.value, nth_char(i));
      kiv::string_insert(s, append);
    }
    if (kiv::string_length(s) != n) state.SkipWithError("wrong length");
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * n);
  state.counters["ns_per_char"] = benchmark::Counter(
      double(n) * 1e-9, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_StdU32PushBack(benchmark::State& state) {
  const int64_t n = state.range(0);
  for (auto _ : state) {
    std::u32string s;
    for (int64_t i = 0; i < n; i++) s.push_back(char32_t(nth_char(i)));
    benchmark::DoNotOptimize(s.data());
  }
  state.SetItemsProcessed(int64_t(state.iterations()) * n);
  state.counters["ns_per_char"] = benchmark::Counter(
      double(n) * 1e-9, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

BENCHMARK(BM_StdStringFind)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StdU32Find)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_KivFindCase)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_KivFindFolded)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_KivAppendChars)->Arg(100000)->Arg(1000000)->Arg(10000000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StdU32PushBack)->Arg(100000)->Arg(1000000)->Arg(10000000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
