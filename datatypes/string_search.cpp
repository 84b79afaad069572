// string! search: the find and select handlers (also the ones binary! and
// vector! inherit), the set operations on text, and the head tests PARSE uses.
//
// Search model: a haystack is the buffer of the searched value, read in its own
// units (text: code points of 1, 2 or 4 bytes; binary!: bytes; vector!: signed
// integers, code points or floats); the pattern is an array of code points copied out of the
// searched-for value before the scan starts, so the scan itself never
// allocates and reads only units inside the window. Positions here are absolute
// unit indexes from the buffer's first unit; a value's head is read through
// string_head_index, so a head past the tail reads as the tail.
//
// Case-insensitive matching (text haystacks only, without /case and /same)
// folds both sides to upper case. The forward scan with a step of 1 screens
// the starts with 16-byte vector compares of the pattern's first and last units
// against every spelling that folds like them, then checks the rest of the
// pattern; every other direction, step and value kind goes through one plain
// scan loop.
#include <algorithm>
#include <cstring>
#include <unordered_set>
#include <utility>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "datatypes/actions.h"
#include "datatypes/bitset.h"
#include "datatypes/char.h"
#include "datatypes/float.h"
#include "datatypes/form.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/vector.h"
#include "datatypes/word.h"
#include "runtime/case_fold.h"
#include "runtime/errors.h"
#include "runtime/stack.h"

namespace kiv {

namespace {

// How the units of a searched buffer read.
enum class HayKind : uint8_t {
  kText,         // string family: code points, foldable
  kBytes,        // binary!: bytes, never folded
  kVectorInt,    // vector! of integer!: signed 8-, 16- or 32-bit
  kVectorChar,   // vector! of char!: unsigned 8-, 16- or 32-bit
  kVectorFloat,  // vector! of float! or percent!: 32- or 64-bit floats
};

bool vector_hay_q(HayKind kind) {
  return kind == HayKind::kVectorInt || kind == HayKind::kVectorChar || kind == HayKind::kVectorFloat;
}

// By the units its type slots give it.
HayKind hay_kind(const Cell* series) {
  switch (series_element_kind(series->type())) {
    case SeriesElement::kByte: return HayKind::kBytes;
    case SeriesElement::kVector: {
      TypeId element = vector_element_type(series);
      if (element == kTypeChar) return HayKind::kVectorChar;
      return element == kTypeFloat || element == kTypePercent ? HayKind::kVectorFloat : HayKind::kVectorInt;
    }
    default: return HayKind::kText;
  }
}

// Units of width [U] read from an address of any alignment.
template <class U>
inline U load(const uint8_t* base, int64_t i) {
  U v;
  std::memcpy(&v, base + i * int64_t(sizeof(U)), sizeof(U));
  return v;
}

// The value of vector element [i] as a double (signed integers, code points, or floats).
double vector_element(const uint8_t* base, int64_t i, uint32_t unit, HayKind kind) {
  if (kind == HayKind::kVectorFloat) {
    if (unit == 4) return double(load<float>(base, i));
    return load<double>(base, i);
  }
  if (kind == HayKind::kVectorChar) return double(unit_get(base + i * unit, unit));
  switch (unit) {
    case 1: return double(load<int8_t>(base, i));
    case 2: return double(load<int16_t>(base, i));
    case 4: return double(load<int32_t>(base, i));
    default: fatal_no_switch();
  }
}

}  // namespace

Cell string_element_at(const Cell* series, uint32_t index) {
  Cell element;
  series_element_at(series, int32_t(index), &element);
  return element;
}

namespace {

// ---------------------------------------------------------------- case-fold preimages

// Every code point below kCaseLimit whose upper-case fold differs from itself,
// as (fold, code point) pairs sorted by fold: the inverse of case_map_upper.
// Built on first use from the case tables (about 1,400 pairs); constant after.
const std::vector<std::pair<uint32_t, uint32_t>>& fold_inverse() {
  static const std::vector<std::pair<uint32_t, uint32_t>> table = [] {
    std::vector<std::pair<uint32_t, uint32_t>> t;
    // Only blocks with a row of their own hold mappings (row 0 is all zeros).
    for (uint32_t block = 0; block < kCaseIndexSize; block++) {
      if (kCaseUpperIndex[block] == 0) continue;
      for (uint32_t cp = block << kCaseBlockBits; cp < (block + 1) << kCaseBlockBits; cp++) {
        uint32_t up = case_map_upper(cp);
        if (up != cp) t.emplace_back(up, cp);
      }
    }
    std::sort(t.begin(), t.end());
    return t;
  }();
  return table;
}

inline constexpr int kMaxVariants = 6;

// Writes every code point up to [max_unit] whose fold is [fold] into [out];
// returns their number, or -1 when there are more than kMaxVariants.
int fold_variants(uint32_t fold, uint32_t max_unit, uint32_t* out) {
  int n = 0;
  if (case_map_upper(fold) == fold && fold <= max_unit) out[n++] = fold;
  const auto& inverse = fold_inverse();
  auto it = std::lower_bound(inverse.begin(), inverse.end(), std::make_pair(fold, 0u));
  for (; it != inverse.end() && it->first == fold; ++it) {
    if (it->second > max_unit) continue;
    if (n == kMaxVariants) return -1;
    out[n++] = it->second;
  }
  return n;
}

// ---------------------------------------------------------------- candidate filter

// The units of width U equal to one of up to kMaxVariants values: one letter
// in all its spellings. Tested 16 bytes at a time.
template <class U>
struct UnitSet {
  uint32_t values[kMaxVariants];
  int count = 0;
#if defined(__SSE2__)
  __m128i splat[kMaxVariants];
#endif

  // [n] values (each fits U); false when there are none (no unit can match).
  bool init(const uint32_t* v, int n) {
    count = n;
    for (int k = 0; k < n; k++) {
      values[k] = v[k];
#if defined(__SSE2__)
      if constexpr (sizeof(U) == 1) splat[k] = _mm_set1_epi8(char(v[k]));
      if constexpr (sizeof(U) == 2) splat[k] = _mm_set1_epi16(short(v[k]));
      if constexpr (sizeof(U) == 4) splat[k] = _mm_set1_epi32(int(v[k]));
#endif
    }
    return n > 0;
  }
  bool has(uint32_t u) const {
    for (int k = 0; k < count; k++)
      if (u == values[k]) return true;
    return false;
  }
#if defined(__SSE2__)
  static __m128i equal(__m128i a, __m128i b) {
    if constexpr (sizeof(U) == 1) return _mm_cmpeq_epi8(a, b);
    if constexpr (sizeof(U) == 2) return _mm_cmpeq_epi16(a, b);
    return _mm_cmpeq_epi32(a, b);
  }
  // All ones in the lanes of [data] that hold a member. One or two spellings
  // are by far the most common: they take no loop.
  __m128i lanes(__m128i data) const {
    __m128i m = equal(data, splat[0]);
    if (count == 1) return m;
    m = _mm_or_si128(m, equal(data, splat[1]));
    for (int k = 2; k < count; k++) m = _mm_or_si128(m, equal(data, splat[k]));
    return m;
  }
#endif
};

// The spellings a pattern unit stands for in a haystack of width U: every
// unit that folds like it, or the unit itself. Returns the count, 0 when no
// unit of that width can match, -1 when there are too many to filter on.
template <class U>
int unit_spellings(uint32_t raw, uint32_t folded, bool fold, uint32_t* out) {
  constexpr uint32_t kMaxUnit = sizeof(U) == 1 ? 0xFF : sizeof(U) == 2 ? 0xFFFF : 0xFFFFFFFFu;
  if (fold) return fold_variants(folded, kMaxUnit, out);
  if (raw > kMaxUnit) return 0;
  out[0] = raw;
  return 1;
}

// ---------------------------------------------------------------- the pattern

enum class PatternKind : uint8_t {
  kText,    // [units]: a run of code points (a single char! is a run of one)
  kBitset,  // one unit, a member of [bits]
  kNumber,  // one unit equal to [number] (binary! and vector! haystacks)
};

struct Pattern {
  PatternKind kind = PatternKind::kText;
  std::vector<uint32_t> units;
  Node bits = 0;
  double number = 0;
  uint32_t length() const { return kind == PatternKind::kText ? uint32_t(units.size()) : 1; }
};

// Copies the code points of [count] units from [start] of the text series [node].
void read_units(Node node, uint32_t start, uint32_t count, std::vector<uint32_t>* out) {
  SeriesBuffer* b = series_buffer(node);
  uint32_t unit = b->unit();
  check_text_unit(unit);
  const uint8_t* p = b->head_ptr() + size_t(start) * unit;
  out->resize(count);
  for (uint32_t i = 0; i < count; i++) (*out)[i] = unit_get(p + size_t(i) * unit, unit);
}

void read_text_value(const Cell* text, std::vector<uint32_t>* out) {
  read_units(text->node(), uint32_t(string_head_index(text)), uint32_t(string_length(text)), out);
}

// MAY ALLOCATE (the form of a value, a word's name). What [value] looks for in [series].
Pattern make_pattern(const Cell* series, Cell* value) {
  StackSave save;  // scratch strings made here are dropped once copied out
  HayKind hay = hay_kind(series);
  Pattern p;
  // Every text type but tag! reads as string!.
  const TypeId type = value->type();
  switch (is_any_string(type) && type != kTypeTag ? kTypeString : type) {
    case kTypeChar:
      if (vector_hay_q(hay)) {
        p.kind = PatternKind::kNumber;
        p.number = double(char_get(value));
      } else {
        p.units.assign(1, char_get(value));
      }
      return p;
    case kTypeBitset:
      p.kind = PatternKind::kBitset;
      p.bits = value->node();
      return p;
    case kTypeInteger:
    case kTypeFloat:
    case kTypePercent:
      if (hay != HayKind::kText && (hay != HayKind::kBytes || !value->is(kTypePercent))) {
        p.kind = PatternKind::kNumber;
        p.number = value->is(kTypeInteger) ? double(integer_get(value)) : float_get(value);
        return p;
      }
      break;
    case kTypeWord: read_text_value(push_word_name(value), &p.units); return p;
    case kTypeBinary:
      if (hay == HayKind::kText) raise_error(kErrScriptInvalidArg, value);
      read_text_value(value, &p.units);
      return p;
    case kTypeString: read_text_value(value, &p.units); return p;
    case kTypeTag:
      // A tag is looked for with its angle brackets.
      read_text_value(value, &p.units);
      p.units.insert(p.units.begin(), '<');
      p.units.push_back('>');
      return p;
    default: break;
  }
  read_text_value(form_to_new_string(value, 0), &p.units);
  return p;
}

// ---------------------------------------------------------------- the scan

// Where and how to look: candidates are tested from [start] by [step] units,
// forward (a candidate starts there and must end by [hi]) or backward (a
// candidate ends there and must start at [lo] or later).
struct Scan {
  int64_t start;
  int64_t lo, hi;
  int64_t step;
  bool backward;
  bool match_only;  // test the first candidate only
};

// The start of the first candidate for which [matches_at] holds, or -1.
template <class F>
int64_t run_scan(const Scan& s, int64_t length, F&& matches_at) {
  if (!s.backward) {
    for (int64_t p = s.start; p + length <= s.hi; p += s.step) {
      if (matches_at(p)) return p;
      if (s.match_only) break;
    }
  } else {
    for (int64_t p = s.start; p - length + 1 >= s.lo; p -= s.step) {
      if (matches_at(p - length + 1)) return p - length + 1;
      if (s.match_only) break;
    }
  }
  return -1;
}

// Forward, step 1: candidates are the starts whose first unit and whose unit
// at the pattern's last position both spell the pattern's (tested for 64
// bytes of starts at a time), then the rest of the pattern is compared.
// Answers the match's start, -1 for none, -2 when a letter has too many
// spellings to filter on (the plain scan takes over).
template <class U>
int64_t scan_forward_fast(const uint8_t* base, int64_t from, int64_t hi, const std::vector<uint32_t>& raw,
                          const std::vector<uint32_t>& folded, bool fold) {
  const int64_t length = int64_t(raw.size());
  const int64_t last = hi - length;  // the last start a match can have
  if (last < from) return -1;
  uint32_t v[kMaxVariants];
  UnitSet<U> first, ending;
  int n = unit_spellings<U>(raw[0], fold ? folded[0] : 0, fold, v);
  if (n < 0) return -2;
  if (!first.init(v, n)) return -1;
  n = unit_spellings<U>(raw[size_t(length - 1)], fold ? folded[size_t(length - 1)] : 0, fold, v);
  if (n < 0) return -2;
  if (!ending.init(v, n)) return -1;
  // Exact: the pattern in the haystack's width, compared by memcmp.
  std::vector<U> exact;
  if (!fold) {
    for (uint32_t c : raw) {
      if (c != U(c)) return -1;  // a code point no unit of this width holds
      exact.push_back(U(c));
    }
  }
  auto matches_at = [&](int64_t p) {
    if (!fold)
      return std::memcmp(base + p * int64_t(sizeof(U)), exact.data(), size_t(length) * sizeof(U)) == 0;
    for (int64_t k = 1; k < length - 1; k++) {
      uint32_t c = load<U>(base, p + k);
      if (c != raw[size_t(k)] && case_map_upper(c) != folded[size_t(k)]) return false;
    }
    return true;
  };
  int64_t p = from;
  if constexpr (sizeof(U) == 1) {
    if (length == 1 && first.count == 1) {
      const void* hit = std::memchr(base + p, int(first.values[0]), size_t(last + 1 - p));
      return hit ? static_cast<const uint8_t*>(hit) - base : -1;
    }
  }
#if defined(__SSE2__)
  constexpr int64_t kLanes = 16 / int64_t(sizeof(U));
  const int64_t shift = length - 1;
  auto load16 = [&](int64_t at) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(base + at * int64_t(sizeof(U))));
  };
  auto lanes = [&](int64_t at) {
    return _mm_and_si128(first.lanes(load16(at)), ending.lanes(load16(at + shift)));
  };
  auto bits = [](__m128i m) { return uint64_t(uint32_t(_mm_movemask_epi8(m))); };
  // Checks the starts from [at] whose lanes are set in [mask], a unit taking sizeof(U) bits.
  auto check = [&](int64_t at, uint64_t mask) -> int64_t {
    while (mask) {
      int bit = __builtin_ctzll(mask);
      int64_t q = at + bit / int(sizeof(U));
      if (matches_at(q)) return q;
      int next = bit + int(sizeof(U));
      mask = next >= 64 ? 0 : mask & ~((uint64_t(1) << next) - 1);
    }
    return -1;
  };
  // Every load stays inside the text: a block is taken only when its last start is a valid one.
  // While blocks holding the pattern's first unit are rare, that unit alone
  // screens each block and the last unit is read only where it is there; once
  // more than one block in eight holds it, both are tested at once.
  for (uint32_t blocks = 0, hits = 0; p + 4 * kLanes - 1 <= last && hits <= 128; p += 4 * kLanes) {
    __m128i f0 = first.lanes(load16(p)), f1 = first.lanes(load16(p + kLanes));
    __m128i f2 = first.lanes(load16(p + 2 * kLanes)), f3 = first.lanes(load16(p + 3 * kLanes));
    if (++blocks == 1024) blocks = hits = 0;
    if (!_mm_movemask_epi8(_mm_or_si128(_mm_or_si128(f0, f1), _mm_or_si128(f2, f3)))) continue;
    hits++;
    uint64_t mask = bits(_mm_and_si128(f0, ending.lanes(load16(p + shift)))) |
                    bits(_mm_and_si128(f1, ending.lanes(load16(p + kLanes + shift)))) << 16 |
                    bits(_mm_and_si128(f2, ending.lanes(load16(p + 2 * kLanes + shift)))) << 32 |
                    bits(_mm_and_si128(f3, ending.lanes(load16(p + 3 * kLanes + shift)))) << 48;
    int64_t q = check(p, mask);
    if (q >= 0) return q;
  }
  for (; p + 4 * kLanes - 1 <= last; p += 4 * kLanes) {
    __m128i m0 = lanes(p), m1 = lanes(p + kLanes), m2 = lanes(p + 2 * kLanes), m3 = lanes(p + 3 * kLanes);
    if (!_mm_movemask_epi8(_mm_or_si128(_mm_or_si128(m0, m1), _mm_or_si128(m2, m3)))) continue;
    int64_t q = check(p, bits(m0) | bits(m1) << 16 | bits(m2) << 32 | bits(m3) << 48);
    if (q >= 0) return q;
  }
  for (; p + kLanes - 1 <= last; p += kLanes) {
    int64_t q = check(p, bits(lanes(p)));
    if (q >= 0) return q;
  }
#endif
  for (; p <= last; p++)
    if (first.has(load<U>(base, p)) && ending.has(load<U>(base, p + length - 1)) && matches_at(p)) return p;
  return -1;
}

// The start of the match of [pat] in [series] under [scan], or -1. Never allocates.
int64_t scan_series(const Cell* series, const Pattern& pat, const Scan& scan, bool fold) {
  SeriesBuffer* b = series_buffer(series->node());
  const uint32_t unit = b->unit();
  const uint8_t* base = b->head_ptr();
  const HayKind hay = hay_kind(series);
  const int64_t length = pat.length();
  if (length == 0) return -1;

  if (vector_hay_q(hay)) {
    const bool single_float = hay == HayKind::kVectorFloat && unit == 4;
    auto equal = [&](int64_t i, double want) {
      if (single_float) return load<float>(base, i) == float(want);
      return vector_element(base, i, unit, hay) == want;
    };
    switch (pat.kind) {
      case PatternKind::kNumber: return run_scan(scan, 1, [&](int64_t p) { return equal(p, pat.number); });
      case PatternKind::kBitset:
        return run_scan(scan, 1, [&](int64_t p) {
          double v = vector_element(base, p, unit, hay);
          return v >= 0 && v < 4294967296.0 && v == double(uint32_t(v)) &&
                 bitset_bit_q(pat.bits, uint32_t(v));
        });
      case PatternKind::kText:
        return run_scan(scan, length, [&](int64_t p) {
          for (int64_t k = 0; k < length; k++)
            if (!equal(p + k, double(pat.units[size_t(k)]))) return false;
          return true;
        });
    }
    fatal_no_switch();
  }

  check_text_unit(unit);
  return with_text_unit(unit, [&](auto* tag) -> int64_t {
    using U = std::remove_pointer_t<decltype(tag)>;
    switch (pat.kind) {
      case PatternKind::kNumber:
        return run_scan(scan, 1, [&](int64_t p) { return double(load<U>(base, p)) == pat.number; });
      case PatternKind::kBitset:
        return run_scan(scan, 1, [&](int64_t p) { return bitset_bit_q(pat.bits, load<U>(base, p)); });
      case PatternKind::kText: break;
    }
    std::vector<uint32_t> folded;
    if (fold) {
      folded.resize(pat.units.size());
      for (size_t k = 0; k < folded.size(); k++) folded[k] = case_map_upper(pat.units[k]);
    }
    if (!scan.backward && scan.step == 1 && !scan.match_only) {
      int64_t hit = scan_forward_fast<U>(base, scan.start, scan.hi, pat.units, folded, fold);
      if (hit != -2) return hit;
    }
    const std::vector<uint32_t>& raw = pat.units;
    if (fold) {
      return run_scan(scan, length, [&](int64_t p) {
        for (int64_t k = 0; k < length; k++) {
          uint32_t c = load<U>(base, p + k);
          if (c != raw[size_t(k)] && case_map_upper(c) != folded[size_t(k)]) return false;
        }
        return true;
      });
    }
    return run_scan(scan, length, [&](int64_t p) {
      for (int64_t k = 0; k < length; k++)
        if (load<U>(base, p + k) != raw[size_t(k)]) return false;
      return true;
    });
  });
}

// A found match: its first unit and its length in units.
struct Match {
  int64_t start = -1;
  int64_t length = 0;
};

// MAY ALLOCATE. The search shared by find and select ([tail] and [match] of
// [args] are read only by the caller).
Match find_core(Cell* series, Cell* value, const FindArgs& args) {
  Match none;
  const int32_t total = string_total_length(series);
  const int32_t head = string_head_index(series);
  if (total == 0 || (!args.reverse && head >= total)) return none;
  if (args.any || args.with) raise_error(kErrInternalNotDone);

  const int64_t step = args.skip.size;

  // The units the window may take: after the head, or before it with /reverse.
  const int64_t room = args.reverse ? head : total - head;
  int64_t count = room;
  if (args.part) {
    // A position ends the window (begins it with /reverse).
    count = args.part.count;
    if (count < 1) return none;
    count = std::min(count, room);
  }

  Scan scan{};
  scan.step = step;
  scan.match_only = args.match;
  if (args.reverse) {
    if (head == 0 || args.match) return none;
    scan.backward = true;
    scan.start = head - 1;
    scan.lo = head - count;
    scan.hi = head;
  } else if (args.last) {
    scan.backward = true;
    scan.lo = head;
    scan.hi = head + count;
    scan.start = scan.hi - 1;
  } else {
    scan.start = scan.lo = head;
    scan.hi = head + count;
  }

  Pattern pat = make_pattern(series, value);
  // Forming the value may have run code that changed the series: the window is kept inside the text.
  const int64_t now = string_total_length(series);
  scan.hi = std::min(scan.hi, now);
  if (scan.backward) scan.start = std::min(scan.start, now - 1);

  bool fold = hay_kind(series) == HayKind::kText && !args.case_ && !args.same;
  Match m;
  m.start = scan_series(series, pat, scan, fold);
  m.length = pat.length();
  return m;
}

}  // namespace

// ---------------------------------------------------------------- find and select

Cell* string_find(Cell* series, const FindArgs& args) {
  Match m = find_core(series, args.value, args);
  if (m.start < 0) {
    *series = kNoneCell;
    return series;
  }
  series->set_head(int32_t(args.tail ? m.start + m.length : m.start));
  return series;
}

Cell* string_select(Cell* series, const SelectArgs& args) {
  const FindArgs find = find_args_of(args);
  Match m = find_core(series, find.value, find);
  int64_t after = m.start + m.length;
  if (m.start < 0 || after >= string_total_length(series)) {
    *series = kNoneCell;
    return series;
  }
  *series = string_element_at(series, uint32_t(after));
  return series;
}

// ---------------------------------------------------------------- set operations

Cell* string_set_op(Cell* a, Cell* b, const SetOpArgs& args) {
  const SetOp op = args.op;
  const bool case_sensitive = args.case_;
  const int64_t size = args.skip.size;
  // Text goes with text, bytes with bytes: a result never mixes the two.
  auto units = [](const Cell* v) { return series_element_kind(v->type()); };
  if (!series_text_or_bytes_q(a->type())) raise_error(kErrScriptInvalidArg, a);
  if (op != kSetUnique && (!b || !series_text_or_bytes_q(b->type()) || units(b) != units(a)))
    raise_error(kErrScriptInvalidArg, b);
  const bool fold = !case_sensitive && units(a) == SeriesElement::kCodePoint;

  struct Source {
    Node node;
    uint32_t head, length;
  };
  Source sa{a->node(), uint32_t(string_head_index(a)), uint32_t(string_length(a))};
  Source sb{0, 0, 0};
  if (op != kSetUnique) sb = {b->node(), uint32_t(string_head_index(b)), uint32_t(string_length(b))};

  uint64_t room = sa.length + ((op == kSetUnion || op == kSetDifference) ? sb.length : 0);
  uint32_t unit = series_buffer(sa.node)->unit();
  if (sb.node) unit = std::max(unit, series_buffer(sb.node)->unit());
  check_text_unit(unit);
  if (room * unit > kMaxCapacity) raise_error(kErrInternalNoMemory);
  Cell* result = string_init_unit(stack_push(), uint32_t(room), unit);
  const Node out = result->node();
  // Nothing below allocates: the result has room for every unit it can take.

  auto key = [&](uint32_t cp) { return fold ? case_map_upper(cp) : cp; };
  auto first_units = [&](const Source& s) {
    std::unordered_set<uint32_t> set;
    for (uint64_t i = 0; i < s.length; i += uint64_t(size))
      set.insert(key(string_char_at_node(s.node, s.head + uint32_t(i))));
    return set;
  };
  std::unordered_set<uint32_t> taken;
  // Adds the records of [from] whose first unit is (or, [keep_present] false, is
  // not) in [other], skipping the ones whose first unit the result already has.
  auto pass = [&](const Source& from, const std::unordered_set<uint32_t>* other, bool keep_present) {
    for (uint64_t i = 0; i < from.length; i += uint64_t(size)) {
      uint32_t k = key(string_char_at_node(from.node, from.head + uint32_t(i)));
      if (other && (other->count(k) != 0) != keep_present) continue;
      if (!taken.insert(k).second) continue;
      uint64_t n = std::min<uint64_t>(uint64_t(size), from.length - i);
      SeriesBuffer* ob = series_buffer(out);
      for (uint64_t j = 0; j < n; j++) {
        unit_put(ob->tail_ptr(), unit, string_char_at_node(from.node, from.head + uint32_t(i + j)));
        ob->tail += unit;
      }
    }
  };
  switch (op) {
    case kSetUnique: pass(sa, nullptr, true); break;
    case kSetUnion:
      pass(sa, nullptr, true);
      pass(sb, nullptr, true);
      break;
    case kSetIntersect: {
      auto in_b = first_units(sb);
      pass(sa, &in_b, true);
      break;
    }
    case kSetDifference: {
      auto in_a = first_units(sa), in_b = first_units(sb);
      pass(sa, &in_b, false);
      pass(sb, &in_a, false);
      break;
    }
    default: {  // exclude
      auto in_b = first_units(sb);
      pass(sa, &in_b, false);
      break;
    }
  }
  *a = series_cell(a->type(), out);
  return a;
}

// ---------------------------------------------------------------- PARSE tests

bool string_tag_brackets_q(const Cell* str, const Cell* tag, bool case_sensitive) {
  uint32_t head = uint32_t(string_head_index(str));
  uint32_t length = uint32_t(string_length(str));
  uint32_t n = uint32_t(string_length(tag));
  if (uint64_t(n) + 2 > length) return false;
  if (string_char_at(str, head) != '<' || string_char_at(str, head + n + 1) != '>') return false;
  uint32_t tag_head = uint32_t(string_head_index(tag));
  for (uint32_t i = 0; i < n; i++) {
    uint32_t x = string_char_at(str, head + 1 + i), y = string_char_at(tag, tag_head + i);
    if (x != y && (case_sensitive || case_map_upper(x) != case_map_upper(y))) return false;
  }
  return true;
}

bool string_match_head_q(const Cell* str, const Cell* value, CompareOp op) {
  bool case_sensitive = op == kCmpStrictEqual;
  if (value->is(kTypeChar)) {
    if (string_at_tail_q(str)) return false;
    uint32_t c = string_char_at(str, uint32_t(string_head_index(str)));
    uint32_t v = char_get(value);
    return c == v || (!case_sensitive && case_map_upper(c) == case_map_upper(v));
  }
  if (value->is(kTypeTag)) return string_tag_brackets_q(str, value, case_sensitive);
  if (!is_any_string(value->type())) return false;
  return string_compare_core(str, value, op, 1) == 0;
}

bool string_head_in_bitset_q(const Cell* str, const Cell* bitset) {
  if (string_at_tail_q(str)) return false;
  return bitset_bit_q(bitset->node(), string_char_at(str, uint32_t(string_head_index(str))));
}

}  // namespace kiv
