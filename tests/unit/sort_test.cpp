// Unit tests of the sort engines (runtime/sort.h): ordering and stability against
// std::stable_sort, every record width in use, the small and degenerate sizes,
// comparators that raise or answer inconsistently, and arrays that the comparator
// moves or shrinks. Run under -DKIV_SANITIZE=ON as well: the robustness cases are
// only meaningful with AddressSanitizer watching.
#include "runtime/sort.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <numeric>
#include <random>
#include <string>
#include <vector>

#include "runtime/errors.h"
#include "runtime/exits.h"

namespace kiv {
namespace {

// --- records and comparators ----------------------------------------------------
//
// Widths below 8 keep the key in the high bits of one unsigned unit (the low bits
// make records with equal keys distinguishable); wider records hold the key as an
// int32 at offset 0, an id at offset 4 and filler bytes derived from the id.

constexpr uint32_t kFlagReverse = 1;

int64_t key_of(const void* p, size_t width) {
  switch (width) {
    case 1: {
      uint8_t v;
      std::memcpy(&v, p, 1);
      return v >> 3;
    }
    case 2: {
      uint16_t v;
      std::memcpy(&v, p, 2);
      return v >> 6;
    }
    case 3: {
      uint8_t v[3];
      std::memcpy(v, p, 3);
      return (v[0] << 8 | v[1]) >> 2;
    }
    case 4: {
      uint32_t v;
      std::memcpy(&v, p, 4);
      return v >> 12;
    }
    default: {
      int32_t v;
      std::memcpy(&v, p, 4);
      return v;
    }
  }
}

long g_compares = 0;

// Orders records by key; context is the width, kFlagReverse inverts.
int compare_keys(const void* a, const void* b, intptr_t context, uint32_t flags) {
  g_compares++;
  int64_t ka = key_of(a, size_t(context)), kb = key_of(b, size_t(context));
  int r = (ka > kb) - (ka < kb);
  return (flags & kFlagReverse) ? -r : r;
}

int compare_nothing(const void*, const void*, intptr_t, uint32_t) {
  g_compares++;
  return 0;
}

// Makes [n] records of [width] bytes with keys drawn from [0, key_range).
std::vector<char> make_records(size_t n, size_t width, uint32_t key_range, std::mt19937& rng) {
  std::vector<char> v(n * width);
  for (size_t i = 0; i < n; i++) {
    char* r = v.data() + i * width;
    uint32_t key = key_range ? rng() % key_range : 0;
    uint32_t low = rng();
    switch (width) {
      case 1: {
        uint8_t x = uint8_t((key % 32) << 3 | (low & 7));
        std::memcpy(r, &x, 1);
        break;
      }
      case 2: {
        uint16_t x = uint16_t((key % 1024) << 6 | (low & 63));
        std::memcpy(r, &x, 2);
        break;
      }
      case 3: {
        uint32_t k = (key % 16384) << 2 | (low & 3);
        uint8_t x[3] = {uint8_t(k >> 8), uint8_t(k), uint8_t(low >> 8)};
        std::memcpy(r, x, 3);
        break;
      }
      case 4: {
        uint32_t x = (key % 1048576) << 12 | (low & 4095);
        std::memcpy(r, &x, 4);
        break;
      }
      default: {
        int32_t k = int32_t(key);
        uint32_t id = uint32_t(i);
        std::memcpy(r, &k, 4);
        std::memcpy(r + 4, &id, 4);
        for (size_t b = 8; b < width; b++) r[b] = char(id * 31 + b * 7);
      }
    }
  }
  return v;
}

// Rewrites the keys of [v] so that record i gets key [keys[i]] (wide records only).
void set_keys(std::vector<char>& v, size_t width, const std::vector<int32_t>& keys) {
  for (size_t i = 0; i < keys.size(); i++) std::memcpy(v.data() + i * width, &keys[i], 4);
}

std::vector<std::string> as_strings(const std::vector<char>& v, size_t width) {
  std::vector<std::string> out;
  for (size_t i = 0; i * width < v.size(); i++) out.emplace_back(v.data() + i * width, width);
  return out;
}

// The same records, in any order.
bool same_multiset(const std::vector<char>& a, const std::vector<char>& b, size_t width) {
  auto sa = as_strings(a, width), sb = as_strings(b, width);
  std::sort(sa.begin(), sa.end());
  std::sort(sb.begin(), sb.end());
  return sa == sb;
}

bool is_ordered(const std::vector<char>& v, size_t width, uint32_t flags = 0) {
  for (size_t i = 1; i * width < v.size(); i++)
    if (compare_keys(v.data() + (i - 1) * width, v.data() + i * width, intptr_t(width), flags) > 0)
      return false;
  return true;
}

// What a stable sort must give: std::stable_sort over record positions.
std::vector<char> stable_expected(const std::vector<char>& v, size_t width, uint32_t flags = 0) {
  size_t n = v.size() / width;
  std::vector<size_t> idx(n);
  std::iota(idx.begin(), idx.end(), 0);
  std::stable_sort(idx.begin(), idx.end(), [&](size_t a, size_t b) {
    return compare_keys(v.data() + a * width, v.data() + b * width, intptr_t(width), flags) < 0;
  });
  std::vector<char> out(v.size());
  for (size_t i = 0; i < n; i++) std::memcpy(out.data() + i * width, v.data() + idx[i] * width, width);
  return out;
}

enum class Engine { Adaptive, Merge, Quick, AdaptiveMovable, MergeMovable };

const Engine kAllEngines[] = {Engine::Adaptive, Engine::Merge, Engine::Quick, Engine::AdaptiveMovable,
                              Engine::MergeMovable};

bool is_stable(Engine e) { return e == Engine::Merge || e == Engine::MergeMovable; }

const char* engine_name(Engine e) {
  switch (e) {
    case Engine::Adaptive: return "adaptive";
    case Engine::Merge: return "merge";
    case Engine::Quick: return "quick";
    case Engine::AdaptiveMovable: return "adaptive-movable";
    case Engine::MergeMovable: return "merge-movable";
  }
  return "?";
}

// A movable array that stays put: the buffer of a vector.
struct FixedOwner {
  char* data;
  size_t count;
};

void* locate_fixed(intptr_t owner, size_t n, size_t width) {
  auto* o = reinterpret_cast<FixedOwner*>(owner);
  return o->count >= n ? o->data : nullptr;
}

void run_engine(Engine e, std::vector<char>& v, size_t width, intptr_t context, uint32_t flags,
                SortComparator cmp, size_t presorted = 0) {
  size_t n = v.size() / width;
  FixedOwner owner{v.data(), n};
  SortArray array{locate_fixed, reinterpret_cast<intptr_t>(&owner), n, width};
  switch (e) {
    case Engine::Adaptive: return sort_adaptive(v.data(), n, width, context, flags, cmp);
    case Engine::Merge: return sort_merge(v.data(), n, width, context, flags, cmp);
    case Engine::Quick: return sort_quick(v.data(), presorted, n, width, context, flags, cmp);
    case Engine::AdaptiveMovable: return sort_adaptive_movable(array, context, flags, cmp);
    case Engine::MergeMovable: return sort_merge_movable(array, context, flags, cmp);
  }
}

// Sorts [v] by key with [e] and checks the result: the stable order for the
// stable engines, an ordered permutation for the others.
void check_sort(Engine e, std::vector<char> v, size_t width, uint32_t flags = 0, size_t presorted = 0) {
  std::vector<char> original = v;
  run_engine(e, v, width, intptr_t(width), flags, compare_keys, presorted);
  size_t n = v.size() / width;
  if (is_stable(e)) {
    ASSERT_TRUE(v == stable_expected(original, width, flags))
        << engine_name(e) << " n=" << n << " width=" << width;
  } else {
    ASSERT_TRUE(is_ordered(v, width, flags)) << engine_name(e) << " n=" << n << " width=" << width;
    ASSERT_TRUE(same_multiset(v, original, width)) << engine_name(e) << " n=" << n << " width=" << width;
  }
}

// --- sizes 0 to 7 ---------------------------------------------------------------

TEST(Sort, EmptyAndSingleRecordAreNotTouched) {
  for (Engine e : kAllEngines) {
    std::vector<char> none;
    g_compares = 0;
    run_engine(e, none, 16, 16, 0, compare_keys);
    std::mt19937 rng(1);
    std::vector<char> one = make_records(1, 16, 100, rng), copy = one;
    run_engine(e, one, 16, 16, 0, compare_keys);
    EXPECT_EQ(g_compares, 0) << engine_name(e);
    EXPECT_EQ(one, copy) << engine_name(e);
  }
  g_compares = 0;
  sort_adaptive(nullptr, 0, 4, 4, 0, compare_keys);
  sort_merge(nullptr, 0, 4, 4, 0, compare_keys);
  sort_quick(nullptr, 0, 0, 4, 4, 0, compare_keys);
  EXPECT_EQ(g_compares, 0);
}

TEST(Sort, EveryPermutationUpToSevenRecords) {
  for (size_t n = 2; n <= 7; n++) {
    // Distinct keys, then keys with duplicates (0 0 1 1 2 2 3).
    for (int dup = 0; dup < 2; dup++) {
      std::vector<int32_t> keys(n);
      for (size_t i = 0; i < n; i++) keys[i] = int32_t(dup ? i / 2 : i);
      std::sort(keys.begin(), keys.end());
      do {
        std::mt19937 rng(7);
        std::vector<char> v = make_records(n, 16, 1, rng);
        set_keys(v, 16, keys);
        for (Engine e : kAllEngines) check_sort(e, v, 16);
      } while (std::next_permutation(keys.begin(), keys.end()));
    }
  }
}

TEST(Sort, SevenRecordsOrFewerAreSortedByInsertion) {
  // Insertion sort of 7 reversed records takes 21 comparisons; partitioning would
  // take a different count.
  std::vector<int32_t> keys = {6, 5, 4, 3, 2, 1, 0};
  std::mt19937 rng(3);
  std::vector<char> v = make_records(7, 16, 1, rng);
  set_keys(v, 16, keys);
  g_compares = 0;
  sort_quick(v.data(), 0, 7, 16, 16, 0, compare_keys);
  EXPECT_EQ(g_compares, 21);
  EXPECT_TRUE(is_ordered(v, 16));
}

// --- stability and order ----------------------------------------------------------

TEST(Sort, MergeIsStable) {
  std::mt19937 rng(11);
  for (size_t width : {8, 16, 48}) {
    for (size_t n : {2, 10, 33, 100, 1000, 10000}) {
      std::vector<char> v = make_records(n, width, 7, rng), original = v;
      sort_merge(v.data(), n, width, intptr_t(width), 0, compare_keys);
      ASSERT_EQ(v, stable_expected(original, width));
      // Ids rise within each key.
      for (size_t i = 1; i < n; i++) {
        const char* a = v.data() + (i - 1) * width;
        const char* b = v.data() + i * width;
        if (key_of(a, width) != key_of(b, width)) continue;
        uint32_t ia, ib;
        std::memcpy(&ia, a + 4, 4);
        std::memcpy(&ib, b + 4, 4);
        ASSERT_LT(ia, ib);
      }
    }
  }
}

TEST(Sort, ReverseFlagSortsDescendingAndStaysStable) {
  std::mt19937 rng(12);
  std::vector<char> v = make_records(5000, 16, 50, rng);
  for (Engine e : kAllEngines) check_sort(e, v, 16, kFlagReverse);
}

TEST(Sort, DescendingInputIsReversedWithoutPartitioning) {
  for (size_t n : {8, 100, 1000, 100000}) {
    std::vector<int32_t> keys(n);
    for (size_t i = 0; i < n; i++) keys[i] = int32_t(n - i);
    std::mt19937 rng(5);
    std::vector<char> v = make_records(n, 16, 1, rng);
    set_keys(v, 16, keys);
    for (Engine e : {Engine::Adaptive, Engine::Merge}) {
      std::vector<char> w = v;
      g_compares = 0;
      run_engine(e, w, 16, 16, 0, compare_keys);
      EXPECT_EQ(g_compares, long(n - 1)) << engine_name(e) << " n=" << n;
      EXPECT_TRUE(is_ordered(w, 16));
    }
  }
  // Descending with equal neighbours: one non-strict run, still reversed.
  std::vector<int32_t> keys(2000);
  for (size_t i = 0; i < keys.size(); i++) keys[i] = int32_t((keys.size() - i) / 3);
  std::mt19937 rng(6);
  std::vector<char> v = make_records(keys.size(), 16, 1, rng);
  set_keys(v, 16, keys);
  g_compares = 0;
  sort_adaptive(v.data(), keys.size(), 16, 16, 0, compare_keys);
  EXPECT_EQ(g_compares, long(keys.size() - 1));
  EXPECT_TRUE(is_ordered(v, 16));
}

TEST(Sort, AscendingInputTakesOnePass) {
  for (Engine e : {Engine::Adaptive, Engine::Merge}) {
    std::vector<int32_t> keys(50000);
    std::iota(keys.begin(), keys.end(), 0);
    std::mt19937 rng(8);
    std::vector<char> v = make_records(keys.size(), 16, 1, rng);
    set_keys(v, 16, keys);
    std::vector<char> copy = v;
    g_compares = 0;
    run_engine(e, v, 16, 16, 0, compare_keys);
    EXPECT_EQ(g_compares, long(keys.size() - 1)) << engine_name(e);
    EXPECT_EQ(v, copy);
  }
}

TEST(Sort, ComparatorAnsweringZeroLeavesInputUnchanged) {
  std::mt19937 rng(13);
  for (size_t width : {1, 2, 3, 4, 16, 48}) {
    for (size_t n : {2, 7, 8, 100, 5000}) {
      std::vector<char> v = make_records(n, width, 1000, rng), copy = v;
      for (Engine e : {Engine::Merge, Engine::MergeMovable, Engine::Adaptive, Engine::AdaptiveMovable}) {
        run_engine(e, v, width, intptr_t(width), 0, compare_nothing);
        ASSERT_EQ(v, copy) << engine_name(e) << " n=" << n << " width=" << width;
      }
    }
  }
}

TEST(Sort, AllWidthsRandomDifferential) {
  std::mt19937 rng(17);
  const size_t sizes[] = {2, 3, 7, 8, 9, 31, 32, 33, 64, 65, 100, 511, 512, 513, 1000, 4097, 20000};
  for (size_t width : {1, 2, 3, 4, 8, 12, 16, 20, 48}) {
    for (size_t n : sizes) {
      for (uint32_t range : {2u, 50u, 1000000u}) {
        std::vector<char> v = make_records(n, width, range, rng);
        for (Engine e : kAllEngines) check_sort(e, v, width);
      }
    }
  }
}

TEST(Sort, RandomSizesDifferential) {
  std::mt19937 rng(19);
  for (int round = 0; round < 300; round++) {
    size_t n = rng() % 3000;
    size_t width = std::vector<size_t>{1, 2, 4, 16, 48}[rng() % 5];
    uint32_t range = 1 + rng() % (round % 2 ? 10 : 100000);
    std::vector<char> v = make_records(n, width, range, rng);
    for (Engine e : kAllEngines) check_sort(e, v, width);
  }
}

// Keys of one input shape, for n records.
std::vector<int32_t> shaped_keys(const std::string& shape, size_t n, std::mt19937& rng) {
  std::vector<int32_t> k(n);
  for (size_t i = 0; i < n; i++) k[i] = int32_t(i);
  if (shape == "random") {
    for (auto& x : k) x = int32_t(rng() % 1000000000);
  } else if (shape == "reversed") {
    std::reverse(k.begin(), k.end());
  } else if (shape == "few-distinct") {
    for (auto& x : k) x = int32_t(rng() % 8);
  } else if (shape == "all-equal") {
    for (auto& x : k) x = 42;
  } else if (shape == "nearly-sorted") {
    for (size_t s = 0; s < n / 100; s++) std::swap(k[rng() % n], k[rng() % n]);
  } else if (shape == "nearly-reversed") {
    for (size_t s = 0; s < n / 100; s++) std::swap(k[rng() % n], k[rng() % n]);
    std::reverse(k.begin(), k.end());
  } else if (shape == "sorted-random-tail") {
    for (size_t i = n - n / 20; i < n; i++) k[i] = int32_t(rng() % n);
  } else if (shape == "random-head-sorted") {
    for (size_t i = 0; i < n / 20; i++) k[i] = int32_t(rng() % n);
  } else if (shape == "sawtooth") {
    for (size_t i = 0; i < n; i++) k[i] = int32_t(i % 1000);
  } else if (shape == "organ-pipe") {
    for (size_t i = 0; i < n; i++) k[i] = int32_t(i < n / 2 ? i : n - i);
  } else if (shape == "high-outliers") {
    for (size_t s = 0; s < n / 200; s++) k[rng() % n] = int32_t(n + rng() % n);
  } else if (shape == "low-outliers") {
    for (size_t s = 0; s < n / 200; s++) k[rng() % n] = -int32_t(rng() % n);
  }
  return k;
}

const char* const kShapes[] = {
    "random",        "sorted",          "reversed",           "few-distinct",       "all-equal",
    "nearly-sorted", "nearly-reversed", "sorted-random-tail", "random-head-sorted", "sawtooth",
    "organ-pipe",    "high-outliers",   "low-outliers"};

double log2n(size_t n) { return std::log2(double(n)); }

TEST(Sort, InputShapesSortCorrectlyWithinComparisonBudget) {
  std::mt19937 rng(23);
  for (size_t n : {600, 5000, 50000}) {
    for (const char* shape : kShapes) {
      std::vector<char> v = make_records(n, 16, 1, rng);
      set_keys(v, 16, shaped_keys(shape, n, rng));
      for (Engine e : {Engine::Adaptive, Engine::Merge, Engine::Quick}) {
        g_compares = 0;
        check_sort(e, v, 16);
        // Never far above n log2 n (the quicksort falls back to heapsort).
        EXPECT_LT(double(g_compares), 3.0 * double(n) * log2n(n) + 2.0 * double(n))
            << engine_name(e) << " " << shape << " n=" << n;
      }
    }
  }
}

TEST(Sort, NearlyOrderedInputIsRepairedCheaply) {
  std::mt19937 rng(29);
  size_t n = 200000;
  for (const char* shape :
       {"nearly-sorted", "nearly-reversed", "sorted-random-tail", "high-outliers", "low-outliers"}) {
    std::vector<char> v = make_records(n, 4, 1, rng);
    std::vector<int32_t> keys = shaped_keys(shape, n, rng);
    for (size_t i = 0; i < n; i++) {
      uint32_t x = uint32_t(keys[i] + 200001) << 12;  // keys within 20 bits
      std::memcpy(v.data() + i * 4, &x, 4);
    }
    std::vector<char> original = v;
    g_compares = 0;
    sort_adaptive(v.data(), n, 4, 4, 0, compare_keys);
    long adaptive = g_compares;
    EXPECT_TRUE(is_ordered(v, 4)) << shape;
    EXPECT_TRUE(same_multiset(v, original, 4)) << shape;
    v = original;
    g_compares = 0;
    sort_quick(v.data(), 0, n, 4, 4, 0, compare_keys);
    // Far fewer comparisons than partitioning the whole array.
    EXPECT_LT(adaptive * 3, g_compares) << shape;
  }
}

TEST(Sort, QuickUsesThePresortedHint) {
  std::mt19937 rng(31);
  for (size_t n : {10, 100, 1000, 30000}) {
    for (size_t width : {4, 16, 48, 3}) {
      for (size_t p : {size_t(0), size_t(1), size_t(2), n / 3, n / 2, n - n / 10, n - 1, n}) {
        std::vector<char> v = make_records(n, width, 1000, rng);
        // Make the first p records ordered.
        std::vector<char> head(v.begin(), v.begin() + p * width);
        head = stable_expected(head, width);
        std::copy(head.begin(), head.end(), v.begin());
        check_sort(Engine::Quick, v, width, 0, p);
      }
    }
  }
  // Records wider than the stack buffer of the in-place merge: merged by rotations.
  for (size_t p : {2, 20, 49}) {
    std::vector<char> v = make_records(50, 5000, 30, rng);
    std::vector<char> head(v.begin(), v.begin() + p * 5000);
    head = stable_expected(head, 5000);
    std::copy(head.begin(), head.end(), v.begin());
    check_sort(Engine::Quick, v, 5000, 0, p);
  }
  // The hint is trusted: presorted = n leaves the array as it is.
  std::vector<char> v = make_records(100, 16, 1000, rng), copy = v;
  g_compares = 0;
  sort_quick(v.data(), 100, 100, 16, 16, 0, compare_keys);
  EXPECT_EQ(v, copy);
  EXPECT_EQ(g_compares, 0);
}

// --- comparators that raise ---------------------------------------------------------

long g_throw_after = 0;

int compare_then_throw(const void* a, const void* b, intptr_t context, uint32_t flags) {
  if (g_throw_after-- == 0) throw KivThrow{kThrowError};
  return compare_keys(a, b, context, flags);
}

TEST(Sort, ComparatorThrowingMidwayLosesNoRecord) {
  std::mt19937 rng(37);
  for (size_t width : {1, 3, 4, 16, 48}) {
    for (size_t n : {50, 1000, 6000}) {
      std::vector<char> original = make_records(n, width, 100000, rng);
      // How many comparisons a full sort takes, then throw at points along it.
      for (Engine e : kAllEngines) {
        std::vector<char> v = original;
        g_compares = 0;
        run_engine(e, v, width, intptr_t(width), 0, compare_keys);
        long total = g_compares;
        for (long at : {0L, 1L, total / 7, total / 3, total / 2, total - total / 5, total - 1}) {
          v = original;
          g_throw_after = at;
          bool thrown = false;
          try {
            run_engine(e, v, width, intptr_t(width), 0, compare_then_throw);
          } catch (const KivThrow& t) {
            thrown = true;
            EXPECT_EQ(t.code, uint32_t(kThrowError));
          }
          ASSERT_TRUE(thrown) << engine_name(e) << " at " << at;
          ASSERT_TRUE(same_multiset(v, original, width))
              << engine_name(e) << " n=" << n << " width=" << width << " at " << at;
          if (e == Engine::AdaptiveMovable || e == Engine::MergeMovable) {
            ASSERT_EQ(v, original) << "a movable sort leaves the array untouched on error";
          }
        }
      }
    }
  }
}

// --- inconsistent comparators ---------------------------------------------------------

std::mt19937 g_chaos(41);

int compare_random(const void*, const void*, intptr_t, uint32_t) { return int(g_chaos() % 3) - 1; }
int compare_random_sign(const void*, const void*, intptr_t, uint32_t) { return (g_chaos() & 1) ? 1 : -1; }
int compare_always_after(const void*, const void*, intptr_t, uint32_t) { return 1; }
int compare_always_before(const void*, const void*, intptr_t, uint32_t) { return -1; }
// Consistent most of the time, which drives the engines deep into their paths.
int compare_mostly_right(const void* a, const void* b, intptr_t context, uint32_t flags) {
  if (g_chaos() % 16 == 0) return int(g_chaos() % 3) - 1;
  return compare_keys(a, b, context, flags);
}
// Ignores its arguments: answers by a pattern of calls.
long g_calls = 0;
int compare_pattern(const void*, const void*, intptr_t, uint32_t) {
  g_calls++;
  return (g_calls % 5 < 2) ? 1 : (g_calls % 7 == 0 ? 0 : -1);
}

TEST(Sort, InconsistentComparatorsNeverBreakTheArray) {
  SortComparator liars[] = {compare_random,        compare_random_sign,  compare_always_after,
                            compare_always_before, compare_mostly_right, compare_pattern};
  std::mt19937 rng(43);
  const size_t sizes[] = {2, 3, 7, 8, 9, 20, 63, 64, 100, 511, 512, 600, 3000};
  for (SortComparator liar : liars) {
    for (size_t width : {1, 3, 4, 16, 48}) {
      for (size_t n : sizes) {
        for (const char* shape : {"random", "sorted", "reversed", "nearly-sorted"}) {
          std::vector<char> original = make_records(n, width, 1000, rng);
          if (width >= 8) set_keys(original, width, shaped_keys(shape, n, rng));
          for (Engine e : kAllEngines) {
            for (size_t p : {size_t(0), n / 2}) {
              if (p && e != Engine::Quick) continue;
              // An exactly sized heap block, so the sanitizer sees any stray access.
              std::vector<char> v = original;
              run_engine(e, v, width, intptr_t(width), 0, liar, p);
              ASSERT_TRUE(same_multiset(v, original, width))
                  << engine_name(e) << " n=" << n << " width=" << width;
            }
          }
        }
      }
    }
  }
}

// --- movable arrays ----------------------------------------------------------------------

// An array in a malloc'd block that the comparator moves to a new block, or shrinks.
struct MovingOwner {
  char* data = nullptr;
  size_t count = 0;  // records the block holds
  size_t width = 0;
  long calls = 0;
  long shrink_at = -1;  // the call at which the array loses half its records
  bool move_every_call = true;
  bool scribble = false;     // the comparator also rewrites a record's key
  bool bad_pointer = false;  // a record pointer was outside the current block
};

void* locate_moving(intptr_t owner, size_t n, size_t width) {
  auto* o = reinterpret_cast<MovingOwner*>(owner);
  return (o->count >= n && o->width == width) ? o->data : nullptr;
}

void move_block(MovingOwner& o, size_t new_count) {
  char* fresh = static_cast<char*>(std::malloc(new_count * o.width + 1));
  std::memcpy(fresh, o.data, std::min(new_count, o.count) * o.width);
  std::memset(o.data, 0xDD, o.count * o.width);  // what a stale reader would see
  std::free(o.data);
  o.data = fresh;
  o.count = new_count;
}

bool inside(const MovingOwner& o, const void* p) {
  auto* c = static_cast<const char*>(p);
  return c >= o.data && c + o.width <= o.data + o.count * o.width && size_t(c - o.data) % o.width == 0;
}

// Reads both records, then (like Kiv code that allocates) moves the buffer.
int compare_and_move(const void* a, const void* b, intptr_t context, uint32_t flags) {
  auto* o = reinterpret_cast<MovingOwner*>(context);
  if (!inside(*o, a) || !inside(*o, b)) o->bad_pointer = true;
  int r = compare_keys(a, b, intptr_t(o->width), flags);
  o->calls++;
  if (o->calls == o->shrink_at) {
    move_block(*o, o->count / 2);
  } else if (o->move_every_call) {
    move_block(*o, o->count);
  }
  if (o->scribble && o->calls % 3 == 0) {
    int32_t junk = int32_t(o->calls);
    std::memcpy(o->data + (size_t(o->calls) % o->count) * o->width, &junk, 4);
  }
  return r;
}

void run_movable(bool stable, MovingOwner& o, size_t n) {
  SortArray array{locate_moving, reinterpret_cast<intptr_t>(&o), n, o.width};
  if (stable)
    sort_merge_movable(array, reinterpret_cast<intptr_t>(&o), 0, compare_and_move);
  else
    sort_adaptive_movable(array, reinterpret_cast<intptr_t>(&o), 0, compare_and_move);
}

MovingOwner moving_copy(const std::vector<char>& v, size_t width) {
  MovingOwner o;
  o.width = width;
  o.count = v.size() / width;
  o.data = static_cast<char*>(std::malloc(v.size() + 1));
  std::memcpy(o.data, v.data(), v.size());
  return o;
}

std::vector<char> contents(const MovingOwner& o) {
  return std::vector<char>(o.data, o.data + o.count * o.width);
}

TEST(Sort, MovableArrayFollowsTheBufferWhenItMoves) {
  std::mt19937 rng(47);
  for (size_t width : {3, 4, 16, 48}) {
    for (size_t n : {2, 7, 50, 600}) {
      for (bool stable : {false, true}) {
        std::vector<char> original = make_records(n, width, 200, rng);
        MovingOwner o = moving_copy(original, width);
        run_movable(stable, o, n);
        std::vector<char> got = contents(o);
        EXPECT_FALSE(o.bad_pointer);
        EXPECT_GT(o.calls, 0);
        if (stable) {
          EXPECT_EQ(got, stable_expected(original, width)) << "n=" << n << " width=" << width;
        } else {
          EXPECT_TRUE(is_ordered(got, width));
          EXPECT_TRUE(same_multiset(got, original, width));
        }
        std::free(o.data);
      }
    }
  }
}

TEST(Sort, MovableArrayThatShrinksRaisesPastEnd) {
  std::mt19937 rng(53);
  for (size_t width : {4, 16}) {
    for (bool stable : {false, true}) {
      for (long at : {1L, 2L, 100L, 2000L}) {
        size_t n = 1000;
        std::vector<char> original = make_records(n, width, 1000000, rng);
        MovingOwner o = moving_copy(original, width);
        o.shrink_at = at;
        bool raised = false;
        try {
          run_movable(stable, o, n);
        } catch (const KivThrow& t) {
          raised = true;
          EXPECT_EQ(t.code, uint32_t(kThrowError));
          EXPECT_EQ(last_raised_error().id, kErrScriptPastEnd);
        }
        EXPECT_TRUE(raised) << "at " << at;
        EXPECT_FALSE(o.bad_pointer);
        // Nothing was moved: what is left is the first half as it was.
        ASSERT_EQ(o.count, n / 2);
        std::vector<char> half(original.begin(), original.begin() + (n / 2) * width);
        EXPECT_EQ(contents(o), half);
        std::free(o.data);
      }
    }
  }
}

TEST(Sort, MovableArrayChangedUnderTheSortStaysAPermutation) {
  std::mt19937 rng(59);
  for (bool stable : {false, true}) {
    size_t n = 2000, width = 16;
    std::vector<char> original = make_records(n, width, 1000, rng);
    MovingOwner o = moving_copy(original, width);
    o.scribble = true;
    run_movable(stable, o, n);
    EXPECT_FALSE(o.bad_pointer);
    // Ids (bytes 4-7) still each appear once: records were permuted, not copied over.
    std::vector<uint32_t> ids;
    for (size_t i = 0; i < n; i++) {
      uint32_t id;
      std::memcpy(&id, o.data + i * width + 4, 4);
      ids.push_back(id);
    }
    std::sort(ids.begin(), ids.end());
    for (size_t i = 0; i < n; i++) ASSERT_EQ(ids[i], i);
    std::free(o.data);
  }
}

// --- failures of the merge buffer -----------------------------------------------------------

int compare_must_not_run(const void*, const void*, intptr_t, uint32_t) {
  ADD_FAILURE() << "comparator called";
  return 0;
}

TEST(Sort, MergeBufferOverflowRaisesTooLong) {
  // (n / 2) x width above 32 bits: refused before any record is read.
  char dummy[16] = {};
  for (size_t n : {size_t(1) << 33, (size_t(1) << 29) + 2}) {
    size_t width = n > (size_t(1) << 32) ? 1 : 16;
    bool raised = false;
    try {
      sort_merge(dummy, n, width, 0, 0, compare_must_not_run);
    } catch (const KivThrow&) {
      raised = true;
      EXPECT_EQ(last_raised_error().id, kErrScriptTooLong);
    }
    EXPECT_TRUE(raised) << n;
  }
  // The movable entries index records with 32 bits.
  FixedOwner owner{dummy, 1};
  SortArray array{locate_fixed, reinterpret_cast<intptr_t>(&owner), size_t(1) << 32 | 5, 1};
  bool raised = false;
  try {
    sort_adaptive_movable(array, 0, 0, compare_must_not_run);
  } catch (const KivThrow&) {
    raised = true;
    EXPECT_EQ(last_raised_error().id, kErrScriptTooLong);
  }
  EXPECT_TRUE(raised);
}

#if !defined(__SANITIZE_ADDRESS__)
// In a process limited to 1 GiB of address space, a 2 GiB merge buffer is refused.
void merge_with_refused_buffer() {
  struct rlimit limit = {size_t(1) << 30, size_t(1) << 30};
  setrlimit(RLIMIT_AS, &limit);
  char dummy[16] = {};
  try {
    sort_merge(dummy, size_t(1) << 28, 16, 0, 0, compare_must_not_run);
  } catch (const KivThrow&) {
    std::exit(last_raised_error().id == kErrInternalNoMemory ? 0 : 2);
  }
  std::exit(3);
}

TEST(SortDeathTest, MergeBufferRefusedRaisesNoMemory) {
  EXPECT_EXIT(merge_with_refused_buffer(), ::testing::ExitedWithCode(0), "");
}
#endif

}  // namespace
}  // namespace kiv
