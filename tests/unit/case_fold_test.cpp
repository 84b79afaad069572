// Unit tests of the case tables (runtime/case_fold.h): the size and ends of the
// Unicode 11.0 mapping set, the mappings that are easy to get wrong (letters whose
// full upper case is several code points, title case, singular lower cases, letters
// from before and after 11.0), and the in-place mapping of 1-, 2- and 4-byte units.
#include "runtime/case_fold.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace kiv {
namespace {

struct MappedRange {
  uint32_t count = 0;
  uint32_t first = 0;  // lowest code point that maps elsewhere
  uint32_t last = 0;   // highest
};

MappedRange mapped_in(uint32_t from, uint32_t to, bool upper) {
  MappedRange r;
  for (uint32_t cp = from; cp <= to; ++cp) {
    if (case_map(cp, upper) == cp) continue;
    if (r.count++ == 0) r.first = cp;
    r.last = cp;
  }
  return r;
}

TEST(CaseFold, MappingSetHasTheUnicode11Size) {
  MappedRange upper_bmp = mapped_in(0, 0xFFFF, true);
  MappedRange lower_bmp = mapped_in(0, 0xFFFF, false);
  MappedRange upper_supp = mapped_in(0x10000, 0x10FFFF, true);
  MappedRange lower_supp = mapped_in(0x10000, 0x10FFFF, false);

  EXPECT_EQ(upper_bmp.count, 1175u);
  EXPECT_EQ(lower_bmp.count, 1158u);
  EXPECT_EQ(upper_supp.count, 225u);
  EXPECT_EQ(lower_supp.count, 225u);

  EXPECT_EQ(upper_bmp.first, 0x61u);
  EXPECT_EQ(case_map(0x61, true), 0x41u);
  EXPECT_EQ(lower_bmp.first, 0x41u);
  EXPECT_EQ(case_map(0x41, false), 0x61u);
  EXPECT_EQ(upper_bmp.last, 0xFF5Au);
  EXPECT_EQ(case_map(0xFF5A, true), 0xFF3Au);

  EXPECT_EQ(upper_supp.first, 0x10428u);
  EXPECT_EQ(case_map(0x10428, true), 0x10400u);
  EXPECT_EQ(upper_supp.last, 0x1E943u);
  EXPECT_EQ(case_map(0x1E943, true), 0x1E921u);
  EXPECT_EQ(lower_supp.first, 0x10400u);
  EXPECT_EQ(case_map(0x10400, false), 0x10428u);
  EXPECT_EQ(lower_supp.last, 0x1E921u);
  EXPECT_EQ(case_map(0x1E921, false), 0x1E943u);
}

TEST(CaseFold, SingleCodePointMappings) {
  struct Case {
    uint32_t cp;
    bool upper;
    uint32_t expected;
  };
  const Case cases[] = {
      // Upper case with several code points: the letter keeps itself...
      {0x00DF, true, 0x00DF},  // sharp s
      {0x0149, true, 0x0149},  // n preceded by apostrophe
      {0x01F0, true, 0x01F0},  // j with caron
      {0x0390, true, 0x0390},  // iota with dialytika and tonos
      {0x03B0, true, 0x03B0},  // upsilon with dialytika and tonos
      {0x0587, true, 0x0587},  // Armenian ech-yiwn ligature
      {0x1E96, true, 0x1E96},  // h with line below
      {0x1E9A, true, 0x1E9A},  // a with right half ring
      {0x1F50, true, 0x1F50},  // upsilon with psili
      {0xFB00, true, 0xFB00},  // ff ligature
      {0xFB06, true, 0xFB06},  // st ligature
      {0xFB13, true, 0xFB13},  // Armenian men-now ligature
      {0xFB17, true, 0xFB17},  // Armenian men-xeh ligature
      {0x1FBC, true, 0x1FBC},  // title-case alpha with prosgegrammeni
      // ... or takes its title-case letter, which is its own upper case.
      {0x1F80, true, 0x1F88},  // alpha with psili and ypogegrammeni
      {0x1F88, true, 0x1F88},
      {0x1F88, false, 0x1F80},
      {0x1FAF, true, 0x1FAF},
      {0x1FA7, true, 0x1FAF},
      {0x1FB3, true, 0x1FBC},  // alpha with ypogegrammeni
      {0x1FC3, true, 0x1FCC},  // eta with ypogegrammeni
      {0x1FF3, true, 0x1FFC},  // omega with ypogegrammeni
      {0x1FBC, false, 0x1FB3},
      // Title case maps both ways; title case letters are not their own upper case.
      {0x01C5, true, 0x01C4},
      {0x01C5, false, 0x01C6},
      {0x01C6, true, 0x01C4},
      {0x01C4, false, 0x01C6},
      // Lower case of letters with no lower-case partner of their own.
      {0x1E9E, false, 0x00DF},  // capital sharp s
      {0x0130, false, 'i'},     // I with dot above
      {0x212A, false, 'k'},     // Kelvin sign
      {0x2126, false, 0x03C9},  // Ohm sign
      // Many-to-one upper case.
      {0x0131, true, 'I'},     // dotless i
      {0x017F, true, 'S'},     // long s
      {0x03C2, true, 0x03A3},  // final sigma
      {0x0345, true, 0x0399},  // combining ypogegrammeni
      // Latin-1 letters whose upper case lies above U+00FF.
      {0x00FF, true, 0x0178},
      {0x00B5, true, 0x039C},
      {0x0178, false, 0x00FF},
      // Scripts with case: Cherokee, Georgian Mtavruli (11.0), Medefaidrin (11.0),
      // Deseret, Adlam.
      {0x13A0, false, 0xAB70},
      {0xAB70, true, 0x13A0},
      {0x10D0, true, 0x1C90},
      {0x1C90, false, 0x10D0},
      {0x16E60, true, 0x16E40},
      {0x16E40, false, 0x16E60},
      {0x10428, true, 0x10400},
      {0x1E922, true, 0x1E900},
      // Letters whose partner came after 11.0 stay unmapped: Vithkuqi (14.0),
      // U+0282 and U+A794 (capitals in 12.0), U+A7C0 (14.0).
      {0x10597, true, 0x10597},
      {0x10570, false, 0x10570},
      {0x0282, true, 0x0282},
      {0xA794, true, 0xA794},
      {0xA7C0, false, 0xA7C0},
      // No case: digits, symbols, CJK, surrogates, unassigned and out-of-range values.
      {'1', true, '1'},
      {'_', false, '_'},
      {0x4E00, true, 0x4E00},
      {0xD800, false, 0xD800},
      {0x1F600, true, 0x1F600},
      {0x10FFFF, false, 0x10FFFF},
      {0x110000, true, 0x110000},
      {0xFFFFFFFF, true, 0xFFFFFFFF},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(case_map(c.cp, c.upper), c.expected)
        << std::hex << "U+" << c.cp << (c.upper ? " to upper" : " to lower");
    EXPECT_EQ(c.upper ? case_map_upper(c.cp) : case_map_lower(c.cp), c.expected) << std::hex << "U+" << c.cp;
  }
}

// Case-insensitive comparison folds both sides to upper case: a sharp s folds to
// itself, never to an S.
TEST(CaseFold, UpperFoldKeepsSharpS) {
  const std::vector<uint32_t> mixed = {'S', 't', 'r', 'a', 0xDF, 'e'};
  const std::vector<uint32_t> capitals = {'S', 'T', 'R', 'A', 0xDF, 'E'};
  ASSERT_EQ(mixed.size(), capitals.size());
  for (size_t i = 0; i < mixed.size(); ++i) EXPECT_EQ(case_map_upper(mixed[i]), case_map_upper(capitals[i]));
  EXPECT_NE(case_map_upper(0xDF), case_map_upper('S'));
}

// The upper-case fold is stable (a mapped code point is its own upper case), and
// a code point it moves lower-cases to one of the same fold: uppercase then
// lowercase keeps a text equal under case-insensitive comparison.
TEST(CaseFold, UpperCaseIsStableAndReversible) {
  for (uint32_t cp = 0; cp < kCaseLimit; ++cp) {
    uint32_t up = case_map_upper(cp);
    EXPECT_EQ(case_map_upper(up), up) << std::hex << "U+" << cp;
    if (up != cp) {
      EXPECT_EQ(case_map_upper(case_map_lower(up)), up) << std::hex << "U+" << cp;
    }
  }
}

TEST(CaseFold, MapUnitsInPlace) {
  uint8_t latin[] = {'s', 't', 'r', 'a', 0xDF, 'e'};
  EXPECT_EQ(case_map_units(latin, 1, 6, true), 6u);
  EXPECT_EQ(std::vector<uint8_t>(latin, latin + 6), (std::vector<uint8_t>{'S', 'T', 'R', 'A', 0xDF, 'E'}));
  EXPECT_EQ(case_map_units(latin, 1, 3, false), 3u);
  EXPECT_EQ(std::vector<uint8_t>(latin, latin + 6), (std::vector<uint8_t>{'s', 't', 'r', 'A', 0xDF, 'E'}));

  uint16_t bmp[] = {'a', 0xFF, 0x01C5, 0x10D0, 0x4E00};
  EXPECT_EQ(case_map_units(bmp, 2, 5, true), 5u);
  EXPECT_EQ(std::vector<uint16_t>(bmp, bmp + 5), (std::vector<uint16_t>{'A', 0x178, 0x01C4, 0x1C90, 0x4E00}));
  EXPECT_EQ(case_map_units(bmp, 2, 5, false), 5u);
  EXPECT_EQ(std::vector<uint16_t>(bmp, bmp + 5), (std::vector<uint16_t>{'a', 0xFF, 0x01C6, 0x10D0, 0x4E00}));

  uint32_t wide[] = {'z', 0x10428, 0x1E922, 0x1F600};
  EXPECT_EQ(case_map_units(wide, 4, 4, true), 4u);
  EXPECT_EQ(std::vector<uint32_t>(wide, wide + 4), (std::vector<uint32_t>{'Z', 0x10400, 0x1E900, 0x1F600}));

  uint8_t untouched[] = {'a', 'b'};
  EXPECT_EQ(case_map_units(untouched, 3, 2, true), 0u);  // not a unit size
  EXPECT_EQ(case_map_units(untouched, 1, 0, true), 0u);
  EXPECT_EQ(untouched[0], 'a');
}

// With 1-byte units the upper-case run stops before the first code point whose
// upper case needs a wider unit, leaving it and the rest as they were, so the
// caller can widen and resume there.
TEST(CaseFold, MapUnitsStopsWhereAWiderUnitIsNeeded) {
  uint8_t text[] = {'a', 0xFF, 'b'};
  EXPECT_EQ(case_map_units(text, 1, 3, true), 1u);
  EXPECT_EQ(std::vector<uint8_t>(text, text + 3), (std::vector<uint8_t>{'A', 0xFF, 'b'}));

  std::vector<uint32_t> stops;
  for (uint32_t cp = 0; cp < 256; ++cp) {
    uint8_t unit = uint8_t(cp);
    if (case_map_units(&unit, 1, 1, true) == 0) stops.push_back(cp);
    EXPECT_EQ(case_map_units(&unit, 1, 1, false), 1u) << cp;  // lower case stays in Latin-1
  }
  EXPECT_EQ(stops, (std::vector<uint32_t>{0xB5, 0xFF}));
}

}  // namespace
}  // namespace kiv
