// The mechanics of the sort engines declared in runtime/sort.h.
//
// Invariants kept throughout, whatever the comparator answers:
//  - every index is bounded by loop conditions that do not depend on comparator
//    answers, so a comparator that lies cannot walk an index off the array;
//  - records move only by swaps, rotations, or merges that place each record
//    exactly once; a merge interrupted by an exception puts the records it had
//    parked in its buffer back into the gap they left (Parked), so the array stays
//    a permutation of its records.
// The engine is a template over a record type that knows the width: built in for
// the common widths 1, 2, 4 and 16, read at run time otherwise (moved 32 bits at a
// time when a multiple of 4, else byte by byte). Records are only moved through
// memcpy, never through typed pointers, so any alignment is fine.
//
// How the engines reach their results (the constants 97, n / 512, 10, 4, 7 and
// 511 are the tuning points of the adaptive sort):
//  - sort_quick's pivot is the median of three spread over the whole range (first
//    after the range start, middle, last) up to 511 records, and a median of three
//    such medians above; a sample from the first 63 records degrades to the
//    heapsort fallback on ordered stretches (organ pipe, sorted tail).
//  - Partitioning is two-way and branch-free (answers of a block of 64 records
//    gathered as offsets, then misplaced records swapped in pairs), with the
//    comparator's 0 used the other way round: when a pivot is equivalent to the
//    pivot just before the range, its whole run of equal keys is gathered in one
//    pass and never partitioned again. A comparison result is as unpredictable as
//    the data, and a branch on it costs more than the comparison.
//  - sort_merge extends natural runs shorter than 32 records by binary insertion,
//    merges them in the order that keeps the merge tree balanced (run boundary
//    "powers"), skips the records already in place at both ends of each merge and
//    moves streaks of 7 or more wins by one side as blocks (galloping).
//  - sort_adaptive turns a descending majority into an ascending one at the start
//    (whole-array reversal) rather than reversing the result at the end.
#include "runtime/sort.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "runtime/errors.h"

namespace kiv {

namespace {

// Records of [W] bytes: moved through a local array that the compiler turns into
// register moves.
template <size_t W>
struct FixedRecords {
  static constexpr size_t width() { return W; }
  static void swap(char* a, char* b) {
    unsigned char t[W];
    std::memcpy(t, a, W);
    std::memcpy(a, b, W);
    std::memcpy(b, t, W);
  }
  static void copy(char* dst, const char* src) { std::memcpy(dst, src, W); }
};

// Records whose width is a multiple of 4, swapped 32 bits at a time.
struct WordRecords {
  size_t bytes;
  size_t width() const { return bytes; }
  void swap(char* a, char* b) const {
    for (size_t k = 0; k < bytes; k += 4) {
      uint32_t x, y;
      std::memcpy(&x, a + k, 4);
      std::memcpy(&y, b + k, 4);
      std::memcpy(a + k, &y, 4);
      std::memcpy(b + k, &x, 4);
    }
  }
  void copy(char* dst, const char* src) const { std::memcpy(dst, src, bytes); }
};

// Records of any other width, swapped byte by byte.
struct ByteRecords {
  size_t bytes;
  size_t width() const { return bytes; }
  void swap(char* a, char* b) const {
    for (size_t k = 0; k < bytes; k++) std::swap(a[k], b[k]);
  }
  void copy(char* dst, const char* src) const { std::memcpy(dst, src, bytes); }
};

// Calls [f] with the record type for [width].
template <class F>
void with_records(size_t width, F&& f) {
  switch (width) {
    case 1: return f(FixedRecords<1>{});
    case 2: return f(FixedRecords<2>{});
    case 4: return f(FixedRecords<4>{});
    case 16: return f(FixedRecords<16>{});
    default:
      if (width % 4 == 0) return f(WordRecords{width});
      return f(ByteRecords{width});
  }
}

constexpr size_t kInsertionMax = 7;            // sort_quick sorts this many records or fewer by insertion
constexpr size_t kSampleStep = 97;             // sort_adaptive samples every 97th pair after the leading run
constexpr size_t kNearlyOrderedDivisor = 512;  // nearly ordered when |net| > n / 512
constexpr size_t kPivotNintherMin = 511;       // above this many records the pivot is a median of medians
constexpr size_t kRepairStep = 10;             // the repair pass checks its budget every 10 records
constexpr size_t kRepairStretch = 4;           // a record that belongs 4 or more places back is set aside
constexpr size_t kMinRun = 32;                 // sort_merge extends shorter natural runs by insertion
constexpr size_t kGallop = 7;                  // a merge searches for the end of a streak of this many wins
constexpr size_t kStackBuffer = 4096;          // bytes of C++ stack sort_quick merges and rotates through
constexpr size_t kMaxPendingRuns = 128;        // merge stack (run powers are below 64, so depth < 65)

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};
using HeapBlock = std::unique_ptr<char, FreeDeleter>;

// Takes [bytes] from the platform heap; raises internal no-memory when refused.
HeapBlock heap_block(size_t bytes) {
  void* p = std::malloc(bytes ? bytes : 1);
  if (!p) raise_error(kErrInternalNoMemory);
  return HeapBlock(static_cast<char*>(p));
}

// The merge tree level of the boundary between the run [s1, s1 + n1) and the
// run of [n2] records after it, in an array of [n] records: the first bit where
// the binary fractions of the two runs' midpoints (relative to n) differ.
unsigned node_power(size_t s1, size_t n1, size_t n2, size_t n) {
  size_t a = 2 * s1 + n1;  // twice the first midpoint
  size_t b = a + n1 + n2;  // twice the second midpoint
  unsigned power = 0;
  for (;;) {
    ++power;
    if (a >= n) {
      a -= n;
      b -= n;
    } else if (b >= n) {
      break;
    }
    a <<= 1;
    b <<= 1;
  }
  return power;
}

// One sort over the records at a fixed base address. All positions are record
// indices; [R] moves records.
template <class R>
class Sorter {
 public:
  Sorter(R rec, char* base, intptr_t context, uint32_t flags, SortComparator cmp)
      : rec_(rec), base_(base), context_(context), flags_(flags), cmp_(cmp) {}

  // --- sort_merge -----------------------------------------------------------

  void merge_sort(size_t n) {
    if (n < 2) return;
    uint64_t bytes;
    if (__builtin_mul_overflow(uint64_t(n / 2), uint64_t(width()), &bytes) || bytes > 0xFFFFFFFFu)
      raise_error(kErrScriptTooLong);
    HeapBlock buffer = heap_block(size_t(bytes));
    char* buf = buffer.get();

    struct Run {
      size_t start, len;
      unsigned power;  // level of the boundary after this run
    };
    Run pending[kMaxPendingRuns];
    size_t depth = 0;

    size_t start = 0;
    size_t len = next_run(0, n, buf);
    while (start + len < n) {
      size_t start2 = start + len;
      size_t len2 = next_run(start2, n, buf);
      unsigned power = node_power(start, len, len2, n);
      while (depth > 0 && (pending[depth - 1].power > power || depth == kMaxPendingRuns)) {
        const Run& left = pending[--depth];
        merge_runs(left.start, start, start + len, buf);
        len += start - left.start;
        start = left.start;
      }
      pending[depth++] = Run{start, len, power};
      start = start2;
      len = len2;
    }
    while (depth > 0) {
      const Run& left = pending[--depth];
      merge_runs(left.start, start, start + len, buf);
      len += start - left.start;
      start = left.start;
    }
  }

  // --- sort_adaptive ----------------------------------------------------------

  void adaptive(size_t n) {
    if (n < 2) return;
    if (n <= kInsertionMax) return insertion_sort(0, n);

    // Leading run: its direction is the sign of the first unequal pair.
    size_t i = 1;
    int dir = 0;
    for (; i < n; i++) {
      int r = compare(i - 1, i);
      if (r != 0) {
        dir = r < 0 ? 1 : -1;
        break;
      }
    }
    if (dir == 0) return;  // every record equivalent to the next
    for (i++; i < n; i++) {
      int r = compare(i - 1, i);
      if (dir > 0 ? r > 0 : r < 0) break;
    }
    size_t run = i;
    if (run == n) {
      if (dir < 0) reverse(0, n);
      return;
    }

    // Sample every 97th pair after the run; net counts ascending pairs minus
    // descending ones.
    ptrdiff_t net = 0;
    for (size_t k = run + kSampleStep; k < n; k += kSampleStep) {
      int r = compare(k - 1, k);
      if (r < 0)
        net++;
      else if (r > 0)
        net--;
    }

    if (size_t(net < 0 ? -net : net) > n / kNearlyOrderedDivisor) {
      // Nearly ordered: bring the majority direction to ascending, then keep the
      // records that continue the order at the front and set the others aside.
      size_t front = 1;
      if (net < 0) {
        reverse(0, n);
      } else {
        if (dir < 0) reverse(0, run);
        front = run;
      }
      front = repair(front, n);
      return quick_hinted(front, n);
    }
    if (dir < 0) reverse(0, run);
    quick_hinted(run, n);
  }

  // --- sort_quick -------------------------------------------------------------

  // Sorts [0, n) of which the first [presorted] records are in order.
  void quick_hinted(size_t presorted, size_t n) {
    if (n < 2) return;
    if (presorted > n) presorted = n;
    if (presorted < 2) return quick(0, n, depth_limit(n), false);
    if (presorted == n) return;
    quick(presorted, n, depth_limit(n - presorted), false);
    alignas(16) char stack_buffer[kStackBuffer];
    merge_in_place(0, presorted, n, stack_buffer, kStackBuffer);
  }

 private:
  R rec_;
  char* base_;
  intptr_t context_;
  uint32_t flags_;
  SortComparator cmp_;

  size_t width() const { return rec_.width(); }
  char* at(size_t i) const { return base_ + i * rec_.width(); }
  int compare(size_t i, size_t j) const { return cmp_(at(i), at(j), context_, flags_); }
  int compare_ptr(const char* a, const char* b) const { return cmp_(a, b, context_, flags_); }
  void swap(size_t i, size_t j) { rec_.swap(at(i), at(j)); }

  // Reverses the records of [lo, hi).
  void reverse(size_t lo, size_t hi) {
    while (hi - lo > 1) swap(lo++, --hi);
  }

  // Exchanges the blocks [lo, mid) and [mid, hi), through [buf] when the smaller
  // fits its [cap] bytes, else by three reversals.
  void rotate(size_t lo, size_t mid, size_t hi, char* buf, size_t cap) {
    if (lo == mid || mid == hi) return;
    size_t left = mid - lo, right = hi - mid;
    size_t w = width();
    if (left <= right && left * w <= cap) {
      std::memcpy(buf, at(lo), left * w);
      std::memmove(at(lo), at(mid), right * w);
      std::memcpy(at(lo + right), buf, left * w);
    } else if (right < left && right * w <= cap) {
      std::memcpy(buf, at(mid), right * w);
      std::memmove(at(lo + right), at(lo), left * w);
      std::memcpy(at(lo), buf, right * w);
    } else {
      reverse(lo, mid);
      reverse(mid, hi);
      reverse(lo, hi);
    }
  }

  // Insertion by swapping: each record moves left while the one before it compares above 0.
  void insertion_sort(size_t lo, size_t hi) {
    for (size_t i = lo + 1; i < hi; i++)
      for (size_t j = i; j > lo && compare(j - 1, j) > 0; j--) swap(j - 1, j);
  }

  static int depth_limit(size_t n) {
    int d = 0;
    while (n > 1) {
      n >>= 1;
      d++;
    }
    return 2 * d + 4;
  }

  // Heapsort of [lo, hi): the fallback once partitioning went too deep.
  void heap_sort(size_t lo, size_t hi) {
    size_t n = hi - lo;
    for (size_t k = n / 2; k > 0; k--) sift_down(lo, k - 1, n);
    for (size_t end = n - 1; end > 0; end--) {
      swap(lo, lo + end);
      sift_down(lo, 0, end);
    }
  }

  void sift_down(size_t lo, size_t root, size_t n) {
    for (;;) {
      size_t child = 2 * root + 1;
      if (child >= n) return;
      if (child + 1 < n && compare(lo + child + 1, lo + child) > 0) child++;
      if (compare(lo + child, lo + root) <= 0) return;
      swap(lo + root, lo + child);
      root = child;
    }
  }

  // Position of the median of the records at [a], [b] and [c].
  size_t median3(size_t a, size_t b, size_t c) const {
    if (compare(a, b) < 0) {
      if (compare(b, c) < 0) return b;
      return compare(a, c) < 0 ? c : a;
    }
    if (compare(b, c) > 0) return b;
    return compare(a, c) < 0 ? a : c;
  }

  // Quicksort of [lo, hi). [has_floor]: the record just before lo is a pivot no
  // record of the range goes before, so a pivot equivalent to it marks a run of
  // equal keys, which is gathered in one pass and not partitioned again.
  void quick(size_t lo, size_t hi, int depth, bool has_floor) {
    while (hi - lo > kInsertionMax) {
      if (depth-- == 0) return heap_sort(lo, hi);
      size_t n = hi - lo;
      // The pivot sample skips the first record: after a partition the largest
      // record of the part below the pivot may sit there.
      size_t m;
      if (n <= kPivotNintherMin) {
        m = median3(lo + 1, lo + n / 2, hi - 1);
      } else {
        size_t e = n / 8, mid = lo + n / 2;
        m = median3(median3(lo + 1, lo + e, lo + 2 * e), median3(mid - e, mid, mid + e),
                    median3(hi - 1 - 2 * e, hi - 1 - e, hi - 1));
      }
      if (m != lo) swap(lo, m);

      if (has_floor && compare(lo - 1, lo) >= 0) {
        lo = partition_equal(lo, hi);
        continue;
      }
      size_t p = partition_below(lo, hi);
      // Recurse into the smaller part, continue with the larger.
      if (p - lo < hi - p - 1) {
        quick(lo, p, depth, has_floor);
        lo = p + 1;
        has_floor = true;
      } else {
        quick(p + 1, hi, depth, true);
        hi = p;
      }
    }
    insertion_sort(lo, hi);
  }

  // With the pivot at [lo], moves the records of [lo + 1, hi) that compare below
  // it to the front and the others behind, and the pivot between them; returns
  // the pivot's position. The comparisons of a block of records are made first and
  // their answers collected as offsets without a branch on them (the answers of a
  // sort are as unpredictable as the data); then the misplaced records of a left
  // and a right block are swapped pairwise.
  size_t partition_below(size_t lo, size_t hi) {
    constexpr size_t kBlock = 64;
    const SortComparator cmp = cmp_;  // locals, not members: kept in registers across calls
    const intptr_t context = context_;
    const uint32_t flags = flags_;
    const char* pivot = at(lo);
    uint8_t offsets_l[kBlock], offsets_r[kBlock];
    size_t first = lo + 1, last = hi;  // [first, last) not yet classified
    size_t base_l = first,
           base_r = last;  // left offsets count up from base_l, right ones down from base_r
    size_t num_l = 0, num_r = 0, start_l = 0, start_r = 0;
    while (first < last) {
      size_t unknown = last - first;
      size_t split_l = num_l == 0 ? (num_r == 0 ? unknown / 2 : unknown) : 0;
      size_t split_r = num_r == 0 ? unknown - split_l : 0;
      split_l = std::min(split_l, kBlock);
      split_r = std::min(split_r, kBlock);
      for (size_t i = 0; i < split_l; i++) {
        offsets_l[num_l] = uint8_t(i);
        num_l += cmp(at(first), pivot, context, flags) >= 0;  // not below: belongs on the right
        first++;
      }
      for (size_t i = 0; i < split_r;) {
        offsets_r[num_r] = uint8_t(++i);
        last--;
        num_r += cmp(at(last), pivot, context, flags) < 0;  // below: belongs on the left
      }
      size_t num = std::min(num_l, num_r);
      for (size_t k = 0; k < num; k++) swap(base_l + offsets_l[start_l + k], base_r - offsets_r[start_r + k]);
      num_l -= num;
      num_r -= num;
      start_l += num;
      start_r += num;
      if (num_l == 0) {
        start_l = 0;
        base_l = first;
      }
      if (num_r == 0) {
        start_r = 0;
        base_r = last;
      }
    }
    // Every record is classified; the misplaced ones left in one block move to the
    // boundary.
    while (num_l > 0) {
      num_l--;
      last--;
      size_t from = base_l + offsets_l[start_l + num_l];
      if (from != last) swap(from, last);
      first = last;
    }
    while (num_r > 0) {
      num_r--;
      size_t from = base_r - offsets_r[start_r + num_r];
      if (from != first) swap(from, first);
      first++;
      last = first;
    }
    size_t p = first - 1;
    if (p != lo) swap(lo, p);
    return p;
  }

  // With the pivot at [lo] equal to the floor record before it (so no record of
  // the range goes before it), gathers the records equivalent to it at the front
  // with the pivot last among them; returns the position after them.
  size_t partition_equal(size_t lo, size_t hi) {
    const char* pivot = at(lo);
    size_t i = lo + 1, j = hi;  // [lo + 1, i) equivalent, [j, hi) after the pivot
    while (i < j) {
      if (compare_ptr(at(i), pivot) <= 0) {
        i++;
      } else {
        j--;
        if (i != j) swap(i, j);
      }
    }
    if (i - 1 != lo) swap(lo, i - 1);
    return i;
  }

  // --- merging ----------------------------------------------------------------

  // Searches over positions where [pred] is false up to some point and true from
  // there on; each returns the first true position of [lo, hi) (hi when none).
  // Whatever pred answers, the result lies in [lo, hi].

  template <class Pred>
  static size_t first_true(size_t lo, size_t hi, Pred pred) {
    while (lo < hi) {
      size_t mid = lo + (hi - lo) / 2;
      if (pred(mid))
        hi = mid;
      else
        lo = mid + 1;
    }
    return lo;
  }

  // Probing from the front at doubling distances: cheap when the answer is near lo.
  template <class Pred>
  static size_t first_true_gallop(size_t lo, size_t hi, Pred pred) {
    size_t known = lo;  // [lo, known) false
    for (size_t dist = 1; known < hi; dist <<= 1) {
      size_t probe = lo + std::min(hi - lo, dist) - 1;  // lo, lo + 1, lo + 3, lo + 7, ...
      if (pred(probe)) return first_true(known, probe, pred);
      known = probe + 1;
    }
    return hi;
  }

  // Probing from the back at doubling distances: cheap when the answer is near hi.
  template <class Pred>
  static size_t first_true_gallop_back(size_t lo, size_t hi, Pred pred) {
    size_t known = hi;  // [known, hi) true
    for (size_t dist = 1; known > lo; dist <<= 1) {
      size_t probe = hi - std::min(hi - lo, dist);  // hi - 1, hi - 2, hi - 4, ...
      if (!pred(probe)) return first_true(probe + 1, known, pred);
      known = probe;
    }
    return lo;
  }

  // First position in [lo, hi) whose record goes after [key]: where a record equal
  // to key goes after the equal ones.
  size_t upper_bound(size_t lo, size_t hi, const char* key) const {
    return first_true(lo, hi, [&](size_t k) { return compare_ptr(at(k), key) > 0; });
  }

  // First position in [lo, hi) whose record [key] does not go after: where a
  // record equal to key goes before the equal ones.
  size_t lower_bound(size_t lo, size_t hi, const char* key) const {
    return first_true(lo, hi, [&](size_t k) { return compare_ptr(key, at(k)) <= 0; });
  }

  // Records of a merge parked in its buffer: the records [from, end) belong in the
  // gap at [to]. Put back when the merge ends, normally or by an exception from
  // the comparator, so the array always holds each record exactly once. The merge
  // loops keep their pointers in registers and store them here before each
  // comparator call.
  struct Parked {
    char* to;
    const char* from;
    const char* end;
    ~Parked() { std::memcpy(to, from, size_t(end - from)); }
  };

  // Merges the ordered runs [lo, mid) and [mid, hi), copying the left one to [buf]
  // and filling from the front; a left record goes first when it compares at most
  // 0 against the right one. Record by record without a branch on the answer (in
  // random data it is as unpredictable as the data); after kGallop wins in a row
  // by one side, the length of that side's streak is searched for and moved as a
  // block.
  void merge_low(size_t lo, size_t mid, size_t hi, char* buf) {
    const size_t w = width();
    const SortComparator cmp = cmp_;  // locals, not members: kept in registers across calls
    const intptr_t context = context_;
    const uint32_t flags = flags_;
    char* out = at(lo);
    const char* left = buf;
    const char* const left_end = buf + (mid - lo) * w;
    const char* right = at(mid);
    const char* const right_end = at(hi);
    std::memcpy(buf, out, size_t(left_end - left));
    Parked parked{out, left, left_end};  // the gap [out, right) waits for [left, left_end)
    size_t wins_l = 0, wins_r = 0;
    while (left < left_end && right < right_end) {
      parked.to = out;
      parked.from = left;
      const char* pick[2] = {left, right};
      size_t take_right = cmp(left, right, context, flags) > 0;  // 0 or 1
      size_t mask = 0 - take_right;
      rec_.copy(out, pick[take_right]);
      out += w;
      left += w & ~mask;
      right += w & mask;
      wins_r = (wins_r + 1) & mask;
      wins_l = (wins_l + 1) & ~mask;
      if ((wins_l | wins_r) < kGallop || left == left_end || right == right_end) continue;
      parked.to = out;
      parked.from = left;
      size_t count;
      if (wins_l) {
        // Left records that do not go after the right one.
        size_t n = size_t(left_end - left) / w;
        count =
            first_true_gallop(0, n, [&](size_t x) { return cmp(left + x * w, right, context, flags) > 0; });
        std::memcpy(out, left, count * w);
        left += count * w;
      } else {
        // Right records that go before the left one.
        size_t n = size_t(right_end - right) / w;
        count =
            first_true_gallop(0, n, [&](size_t x) { return cmp(left, right + x * w, context, flags) <= 0; });
        std::memmove(out, right, count * w);
        right += count * w;
      }
      out += count * w;
      wins_l = wins_r = 0;
    }
    parked.to = out;
    parked.from = left;
  }

  // As merge_low, copying the right run to [buf] and filling from the back.
  void merge_high(size_t lo, size_t mid, size_t hi, char* buf) {
    const size_t w = width();
    const SortComparator cmp = cmp_;
    const intptr_t context = context_;
    const uint32_t flags = flags_;
    char* out = at(hi);  // fills downwards: the next record goes at out - w
    const char* const left_begin = at(lo);
    char* left = at(mid);                      // left records remain in [left_begin, left)
    const char* right = buf + (hi - mid) * w;  // right records remain in [buf, right)
    std::memcpy(buf, left, size_t(right - buf));
    Parked parked{at(mid), buf, right};  // the gap [left, out) waits for [buf, right)
    size_t wins_l = 0, wins_r = 0;
    while (left > left_begin && right > buf) {
      parked.to = left;
      parked.end = right;
      const char* pick[2] = {right - w, left - w};
      size_t take_left = cmp(left - w, right - w, context, flags) > 0;  // 0 or 1
      size_t mask = 0 - take_left;
      out -= w;
      rec_.copy(out, pick[take_left]);
      left -= w & mask;
      right -= w & ~mask;
      wins_l = (wins_l + 1) & mask;
      wins_r = (wins_r + 1) & ~mask;
      if ((wins_l | wins_r) < kGallop || left == left_begin || right == buf) continue;
      parked.to = left;
      parked.end = right;
      size_t count;
      if (wins_l) {
        // Left records that go after the right one.
        size_t n = size_t(left - left_begin) / w;
        const char* key = right - w;
        count = n - first_true_gallop_back(
                        0, n, [&](size_t x) { return cmp(left_begin + x * w, key, context, flags) > 0; });
        left -= count * w;
        std::memmove(out - count * w, left, count * w);
      } else {
        // Right records that the left one does not go after.
        size_t n = size_t(right - buf) / w;
        const char* key = left - w;
        count = n - first_true_gallop_back(
                        0, n, [&](size_t x) { return cmp(key, buf + x * w, context, flags) <= 0; });
        right -= count * w;
        std::memcpy(out - count * w, right, count * w);
      }
      out -= count * w;
      wins_l = wins_r = 0;
    }
    parked.to = left;
    parked.end = right;
  }

  // sort_merge's merge of the adjacent ordered runs [lo, mid) and [mid, hi)
  // through [buf], which holds at least (hi - lo) / 2 records.
  void merge_runs(size_t lo, size_t mid, size_t hi, char* buf) {
    // Left records not after the first right record, and right records not
    // before the last left record, are already in place.
    const char* first_right = at(mid);
    lo = first_true_gallop(lo, mid, [&](size_t k) { return compare_ptr(at(k), first_right) > 0; });
    if (lo == mid) return;
    const char* last_left = at(mid - 1);
    hi = first_true_gallop_back(mid, hi, [&](size_t k) { return compare_ptr(last_left, at(k)) <= 0; });
    if (mid == hi) return;
    if (mid - lo <= hi - mid)
      merge_low(lo, mid, hi, buf);
    else
      merge_high(lo, mid, hi, buf);
  }

  // Finds the run that starts at [lo] (strictly descending ones reversed),
  // extends it to kMinRun records by binary insertion, returns its length.
  // [tmp] holds one record.
  size_t next_run(size_t lo, size_t n, char* tmp) {
    size_t end = lo + 1;
    if (end < n) {
      if (compare(lo, end) > 0) {
        end++;
        while (end < n && compare(end - 1, end) > 0) end++;
        reverse(lo, end);
      } else {
        end++;
        while (end < n && compare(end - 1, end) <= 0) end++;
      }
    }
    size_t want = std::min(n, lo + kMinRun);
    size_t w = width();
    for (; end < want; end++) {
      // Where record end goes: after every record it does not go before. A search
      // of fixed length without a branch on the answers.
      const char* key = at(end);
      size_t pos = lo, len = end - lo;  // the place lies in [pos, pos + len]
      while (len > 1) {
        size_t half = len / 2;
        size_t after = compare_ptr(at(pos + half), key) > 0;  // 1: the place is at or before
        pos += half & (after - 1);
        len -= half;
      }
      pos += compare_ptr(at(pos), key) <= 0;
      if (pos == end) continue;
      rec_.copy(tmp, at(end));
      std::memmove(at(pos + 1), at(pos), (end - pos) * w);
      rec_.copy(at(pos), tmp);
    }
    return end - lo;
  }

  // Merges the ordered runs [lo, mid) and [mid, hi) in place: through [buf] ([cap]
  // bytes) once the shorter run fits it and the two are of similar length, else
  // by splitting the longer run, rotating and merging both halves.
  void merge_in_place(size_t lo, size_t mid, size_t hi, char* buf, size_t cap) {
    for (;;) {
      if (lo == mid || mid == hi) return;
      lo = upper_bound(lo, mid, at(mid));
      if (lo == mid) return;
      hi = lower_bound(mid, hi, at(mid - 1));
      if (mid == hi) return;
      size_t len1 = mid - lo, len2 = hi - mid;
      if (len1 + len2 == 2) {
        swap(lo, mid);  // both bounds say the right record goes first
        return;
      }
      size_t shorter = std::min(len1, len2), longer = std::max(len1, len2);
      if (shorter * width() <= cap && longer <= 8 * shorter) {
        if (len1 <= len2)
          merge_low(lo, mid, hi, buf);
        else
          merge_high(lo, mid, hi, buf);
        return;
      }
      size_t cut1, cut2;
      if (len1 > len2) {
        cut1 = lo + len1 / 2;
        cut2 = lower_bound(mid, hi, at(cut1));
      } else {
        cut2 = mid + len2 / 2;
        cut1 = upper_bound(lo, mid, at(cut2));
      }
      rotate(cut1, mid, cut2, buf, cap);
      size_t new_mid = cut1 + (cut2 - mid);
      // Recurse into the smaller half, continue with the larger.
      if ((new_mid - lo) < (hi - new_mid)) {
        merge_in_place(lo, cut1, new_mid, buf, cap);
        lo = new_mid;
        mid = cut2;
      } else {
        merge_in_place(new_mid, cut2, hi, buf, cap);
        hi = new_mid;
        mid = cut1;
      }
    }
  }

  // --- the repair pass of sort_adaptive ------------------------------------------

  // Walks [front, n) of a nearly ascending array whose first [front] records are in
  // order. Each record that continues the order joins the ordered front; one that
  // belongs fewer than 4 places back is inserted there; one that belongs further
  // back is set aside, unless the next record also falls below the front's last
  // records, in which case those few are the ones out of place and are set aside
  // instead. Set-aside records gather right after the front. Every 10 records the
  // pass stops when more than a quarter of what it saw was set aside (the input
  // was not that nearly ordered after all). Returns the length of the ordered front;
  // the records after it are unordered.
  size_t repair(size_t front, size_t n) {
    size_t w = front;  // ordered [0, w), set aside [w, i)
    size_t aside = 0;
    size_t i = front;
    size_t seen = 0;
    while (i < n) {
      size_t chunk_end = std::min(n, i + kRepairStep);
      for (; i < chunk_end; i++) {
        if (w == 0 || compare(w - 1, i) <= 0) {
          if (w != i) swap(w, i);
          w++;
          continue;
        }
        // How many of the last front records go after record i (at least one).
        size_t d = 1;
        while (d < kRepairStretch && d < w && compare(w - 1 - d, i) > 0) d++;
        if (d == kRepairStretch) {  // belongs 4 or more places back
          aside++;
          continue;
        }
        if (i + 1 < n && compare(w - d, i + 1) > 0) {
          // The next record is below them too: set the d records aside, keep record i.
          swap(w - d, i);
          w = w - d + 1;
          aside += d;
          continue;
        }
        // Insert record i d places back.
        if (w != i) swap(w, i);
        for (size_t k = 0; k < d; k++) swap(w - k - 1, w - k);
        w++;
      }
      seen += kRepairStep;
      if (aside * 4 > seen + 4 * kRepairStep) {
        // Not nearly ordered after all: leave the rest to sort_quick.
        break;
      }
    }
    return w;
  }
};

// --- movable arrays: sorting by index ----------------------------------------------

struct IndexedSort {
  const SortArray* array;
  SortComparator cmp;
  intptr_t context;
};

// Compares the records named by two 32-bit indices, locating the buffer first.
int compare_indexed(const void* a, const void* b, intptr_t state, uint32_t flags) {
  const IndexedSort& s = *reinterpret_cast<const IndexedSort*>(state);
  const SortArray& array = *s.array;
  char* base = static_cast<char*>(array.locate(array.owner, array.n, array.width));
  if (!base) raise_error(kErrScriptPastEnd);
  uint32_t ia, ib;
  std::memcpy(&ia, a, 4);
  std::memcpy(&ib, b, 4);
  return s.cmp(base + size_t(ia) * array.width, base + size_t(ib) * array.width, s.context, flags);
}

void sort_by_index(const SortArray& array, intptr_t context, uint32_t flags, SortComparator cmp,
                   bool stable) {
  size_t n = array.n, width = array.width;
  if (n < 2 || width == 0) return;
  if (n > 0xFFFFFFFFu) raise_error(kErrScriptTooLong);
  size_t bytes;
  if (__builtin_add_overflow(n * 4, width, &bytes)) raise_error(kErrScriptTooLong);
  HeapBlock block = heap_block(bytes);
  char* order = block.get();  // order[i]: index of the record that goes to position i
  char* tmp = order + n * 4;
  for (size_t i = 0; i < n; i++) {
    uint32_t v = uint32_t(i);
    std::memcpy(order + i * 4, &v, 4);
  }

  IndexedSort state{&array, cmp, context};
  Sorter<FixedRecords<4>> sorter({}, order, reinterpret_cast<intptr_t>(&state), flags, compare_indexed);
  if (stable)
    sorter.merge_sort(n);
  else
    sorter.adaptive(n);

  // No comparator runs from here on: locate once, then follow each cycle of the
  // permutation, marking placed positions with their own index.
  char* base = static_cast<char*>(array.locate(array.owner, n, width));
  if (!base) raise_error(kErrScriptPastEnd);
  auto index_at = [&](size_t i) {
    uint32_t v;
    std::memcpy(&v, order + i * 4, 4);
    return size_t(v);
  };
  auto mark_placed = [&](size_t i) {
    uint32_t v = uint32_t(i);
    std::memcpy(order + i * 4, &v, 4);
  };
  for (size_t i = 0; i < n; i++) {
    if (index_at(i) == i) continue;
    std::memcpy(tmp, base + i * width, width);
    size_t j = i;
    for (;;) {
      size_t k = index_at(j);
      mark_placed(j);
      if (k == i || k >= n) {
        std::memcpy(base + j * width, tmp, width);
        break;
      }
      std::memcpy(base + j * width, base + k * width, width);
      j = k;
    }
  }
}

}  // namespace

void sort_adaptive(void* base, size_t n, size_t width, intptr_t context, uint32_t flags, SortComparator cmp) {
  if (n < 2 || width == 0) return;
  with_records(width, [&](auto rec) {
    Sorter<decltype(rec)>(rec, static_cast<char*>(base), context, flags, cmp).adaptive(n);
  });
}

void sort_merge(void* base, size_t n, size_t width, intptr_t context, uint32_t flags, SortComparator cmp) {
  if (n < 2 || width == 0) return;
  with_records(width, [&](auto rec) {
    Sorter<decltype(rec)>(rec, static_cast<char*>(base), context, flags, cmp).merge_sort(n);
  });
}

void sort_quick(void* base, size_t presorted, size_t n, size_t width, intptr_t context, uint32_t flags,
                SortComparator cmp) {
  if (n < 2 || width == 0) return;
  with_records(width, [&](auto rec) {
    Sorter<decltype(rec)>(rec, static_cast<char*>(base), context, flags, cmp).quick_hinted(presorted, n);
  });
}

void sort_adaptive_movable(const SortArray& array, intptr_t context, uint32_t flags, SortComparator cmp) {
  sort_by_index(array, context, flags, cmp, false);
}

void sort_merge_movable(const SortArray& array, intptr_t context, uint32_t flags, SortComparator cmp) {
  sort_by_index(array, context, flags, cmp, true);
}

}  // namespace kiv
