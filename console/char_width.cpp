// char_width (char_width.h): two sorted tables of inclusive ranges, searched
// by halves after a check against their extremes.
#include "console/char_width.h"

#include <cstddef>

namespace kiv {

namespace {

struct CodeRange {
  uint32_t first;
  uint32_t last;
};

#include "console/char_width_tables.inc"

template <size_t N>
bool in_ranges_q(const CodeRange (&ranges)[N], uint32_t cp) {
  if (cp < ranges[0].first || cp > ranges[N - 1].last) return false;
  size_t low = 0;
  size_t high = N;
  while (low < high) {
    size_t mid = (low + high) / 2;
    if (cp > ranges[mid].last)
      low = mid + 1;
    else if (cp < ranges[mid].first)
      high = mid;
    else
      return true;
  }
  return false;
}

}  // namespace

int char_width(uint32_t cp) {
  if (cp == 0) return 0;
  if (cp < 32 || (cp >= 127 && cp < 160)) return 1;
  if (in_ranges_q(kCombiningRanges, cp)) return 0;
  if (in_ranges_q(kWideRanges, cp)) return 2;
  return 1;
}

}  // namespace kiv
