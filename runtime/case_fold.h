// Letter-case mapping of single code points: the case tables behind uppercase and
// lowercase, and behind every case-insensitive comparison, search and hash of text
// (which fold both sides to upper case).
//
// A code point maps to exactly one code point, never to several: both directions
// are the simple case mappings, so a letter whose full upper case is several code
// points keeps itself (U+00DF, U+0149, U+FB00) or takes its title-case letter
// (U+1F80 gives U+1F88), and changing case never drops a letter; title-case letters
// map both ways (U+01C5: upper U+01C4, lower U+01C6). The mapping set is Unicode
// 11.0's.
//
// Tables (constant data in runtime/case_tables.inc, made by tools/gen_case_tables.py;
// nothing to initialise at start-up): code points below kCaseLimit are cut into
// blocks of kCaseBlockSize; kCaseUpperIndex / kCaseLowerIndex give each block's row
// in kCaseRows, identical rows shared (row 0 is all zeros). An entry is the 16-bit
// difference (target - code point) mod 0x10000. Every mapping stays in the plane of
// its code point, so a lookup is two loads and an add, with no branch on the entry.
// Code points at or above kCaseLimit (0x20000) have no case and map to themselves.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kiv {

inline constexpr uint32_t kCaseBlockBits = 8;
inline constexpr uint32_t kCaseBlockSize = 1u << kCaseBlockBits;
inline constexpr uint32_t kCaseIndexSize = 0x200;
inline constexpr uint32_t kCaseLimit = kCaseIndexSize << kCaseBlockBits;

// The tables (runtime/case_tables.inc).
extern const uint16_t kCaseRows[][kCaseBlockSize];
extern const uint8_t kCaseUpperIndex[kCaseIndexSize];
extern const uint8_t kCaseLowerIndex[kCaseIndexSize];

// [cp] mapped through the case table [index] (kCaseUpperIndex or kCaseLowerIndex).
inline uint32_t case_map_with(const uint8_t* index, uint32_t cp) {
  if (cp >= kCaseLimit) return cp;
  uint32_t delta = kCaseRows[index[cp >> kCaseBlockBits]][cp & (kCaseBlockSize - 1)];
  return (cp & ~0xFFFFu) | ((cp + delta) & 0xFFFFu);
}

// [cp] in upper case ([upper] true) or lower case; a code point without that case
// mapping (any value, including ones past U+10FFFF) comes back unchanged.
inline uint32_t case_map(uint32_t cp, bool upper) {
  return case_map_with(upper ? kCaseUpperIndex : kCaseLowerIndex, cp);
}

// [cp] folded to upper case: the fold of case-insensitive hashing and comparison.
inline uint32_t case_map_upper(uint32_t cp) { return case_map_with(kCaseUpperIndex, cp); }

// [cp] in lower case.
inline uint32_t case_map_lower(uint32_t cp) { return case_map_with(kCaseLowerIndex, cp); }

// Maps in place the [count] code points stored at [units] in units of [unit_size]
// bytes (1, 2 or 4, native byte order), to upper case when [upper], else to lower.
// Stops before the first code point whose mapping does not fit the unit (only with
// unit 1: U+00FF and U+00B5 have upper-case forms above U+00FF) and returns the
// number of code points mapped, [count] when all were. The caller then widens the
// storage and resumes from the returned position; with units of 2 or 4 every mapping
// fits (BMP code points map inside the BMP). Allocates nothing.
size_t case_map_units(void* units, uint32_t unit_size, size_t count, bool upper);

}  // namespace kiv
