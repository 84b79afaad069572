// Unicode conversion: the table-driven scanner against a reference decoder, the
// validating decoder and its error, the UTF-8 and UTF-16LE loaders (units,
// widening, BOM, CR, cut-off input, heads placed mid-buffer), and the output
// conversions into the per-cell conversion buffer.
#include "runtime/unicode.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "datatypes/integer.h"
#include "datatypes/string.h"
#include "kiv_test.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/stack.h"

namespace kiv {
namespace {

using test::catch_error;
using Bytes = std::vector<uint8_t>;

// Multilingual text: Latin-1, CJK and emoji above U+FFFF.
const char kLatin1[] =
    "Gr\xC3\xBC\xC3\x9F"
    "e, caf\xC3\xA9 \xC3\xA0 la cr\xC3\xA8me";  // Grüße, café à la crème
const char kCjk[] = "\xE6\xBC\xA2\xE5\xAD\x97\xE3\x81\xA8\xE3\x81\x8B\xE3\x81\xAA";  // 漢字とかな
const char kEmoji[] = "\xF0\x9F\x98\x80 \xF0\x9F\x8E\x89";                           // 😀 🎉

// The code points of a text series from its buffer head.
std::vector<uint32_t> code_points(Node node) {
  SeriesBuffer* b = series_buffer(node);
  std::vector<uint32_t> out;
  for (uint32_t i = 0; i < b->length(); i++)
    out.push_back(unit_get(b->head_ptr() + i * b->unit(), b->unit()));
  return out;
}

Cell* push_text(Node node) { return stack_push_value(series_cell(kTypeString, node)); }

// A strict reference decoder: the code point and the bytes the table-driven
// scanner should use (an invalid lead uses 1 byte; a bad continuation byte is
// used with the sequence; a cut-off sequence uses what is left).
std::pair<int32_t, size_t> reference_decode(const uint8_t* p, size_t n) {
  uint8_t b0 = p[0];
  if (b0 < 0x80) return {b0, 1};
  int need;
  uint32_t cp;
  uint8_t lo = 0x80, hi = 0xBF;
  if (b0 >= 0xC2 && b0 <= 0xDF)
    need = 1, cp = b0 & 0x1F;
  else if (b0 >= 0xE0 && b0 <= 0xEF)
    need = 2, cp = b0 & 0x0F, lo = b0 == 0xE0 ? 0xA0 : 0x80, hi = b0 == 0xED ? 0x9F : 0xBF;
  else if (b0 >= 0xF0 && b0 <= 0xF4)
    need = 3, cp = b0 & 0x07, lo = b0 == 0xF0 ? 0x90 : 0x80, hi = b0 == 0xF4 ? 0x8F : 0xBF;
  else
    return {-1, 1};
  for (int k = 1; k <= need; k++) {
    if (size_t(k) >= n) return {-1, n};
    uint8_t c = p[k];
    if (c < (k == 1 ? lo : 0x80) || c > (k == 1 ? hi : 0xBF)) return {-1, size_t(k) + 1};
    cp = cp << 6 | (c & 0x3F);
  }
  return {int32_t(cp), size_t(need) + 1};
}

void expect_scan(const uint8_t* p, size_t n) {
  auto [want_cp, want_used] = reference_decode(p, n);
  int32_t cp = 0;
  const uint8_t* end = utf8_fast_decode_char(p, p + n, &cp);
  ASSERT_EQ(cp, want_cp) << std::hex << int(p[0]) << " " << int(n > 1 ? p[1] : 0) << " "
                         << int(n > 2 ? p[2] : 0);
  ASSERT_EQ(size_t(end - p), want_used) << std::hex << int(p[0]) << " " << int(n > 1 ? p[1] : 0);
}

TEST(Utf8Scan, TableMatchesStrictDecoder) {
  uint8_t s[4];
  for (int a = 0; a < 256; a++) {
    s[0] = uint8_t(a);
    expect_scan(s, 1);  // alone: a lead byte that needs more is cut off by the end
    for (int b = 0; b < 256; b++) {
      s[1] = uint8_t(b);
      expect_scan(s, 2);
      if (a < 0xE0) continue;
      for (int c = 0; c < 256; c++) {
        s[2] = uint8_t(c);
        expect_scan(s, 3);
        if (a < 0xF0) continue;
        for (int d : {0x00, 0x7F, 0x80, 0x9F, 0xBF, 0xC0}) {
          s[3] = uint8_t(d);
          expect_scan(s, 4);
        }
      }
    }
  }
}

TEST(Utf8Scan, EdgeCasesCountSkipAndSeqLength) {
  int32_t cp;
  const uint8_t c0[] = {0xC0, 0x80};
  EXPECT_EQ(utf8_fast_decode_char(c0, c0 + 2, &cp), c0 + 1);  // an invalid lead uses one byte
  EXPECT_EQ(cp, -1);
  const uint8_t ff[] = {0xFF};
  EXPECT_EQ(utf8_fast_decode_char(ff, ff + 1, &cp), ff + 1);
  EXPECT_EQ(cp, -1);
  // A sequence cut off by the end: -1, never a read past it.
  const uint8_t cut[] = {0xF0, 0x9F, 0x98};
  EXPECT_EQ(utf8_fast_decode_char(cut, cut + 3, &cp), cut + 3);
  EXPECT_EQ(cp, -1);

  std::string text = std::string("a") + kCjk + kEmoji;  // 1 + 5 + 3 code points
  auto* p = reinterpret_cast<const uint8_t*>(text.data());
  const uint8_t* end = p + text.size();
  EXPECT_EQ(utf8_count_chars(p, end), 9);
  EXPECT_EQ(utf8_count_chars(c0, c0 + 2), 2);  // each invalid step counts
  EXPECT_EQ(utf8_skip_chars(p, end, 2), p + 4);
  EXPECT_EQ(utf8_skip_chars(p, end, 100), end);
  EXPECT_EQ(utf8_skip_chars(p, end, -3), p);

  for (auto [lead, len] : std::vector<std::pair<int, int>>{{0x41, 0},
                                                           {0x80, 0},
                                                           {0xBF, 0},
                                                           {0xC0, 2},
                                                           {0xDF, 2},
                                                           {0xE0, 3},
                                                           {0xEF, 3},
                                                           {0xF0, 4},
                                                           {0xF8, 4},
                                                           {0xFF, 4}})
    EXPECT_EQ(utf8_seq_length(uint8_t(lead)), len) << lead;
}

TEST(Utf8Encode, SizesAndBoundedWrites) {
  for (auto [cp, size] : std::vector<std::pair<uint32_t, int>>{{0, 1},
                                                               {0x7F, 1},
                                                               {0x80, 2},
                                                               {0x7FF, 2},
                                                               {0x800, 3},
                                                               {0xD800, 3},
                                                               {0xFFFF, 3},
                                                               {0x10000, 4},
                                                               {0x10FFFF, 4}}) {
    EXPECT_EQ(utf8_char_size(cp), size) << cp;
    uint8_t out[4];
    EXPECT_EQ(utf8_encode(cp, out), size) << cp;
  }
  EXPECT_EQ(catch_error([] { utf8_char_size(0x110000); }), kErrScriptInvalidChar);
  EXPECT_EQ(integer_get(&last_raised_error().args[0]), 0x110000);
  uint8_t out[4];
  EXPECT_EQ(catch_error([&] { utf8_encode(0x110000, out); }), kErrScriptInvalidChar);

  uint8_t euro[5] = {0, 0, 0, 0, 0};
  EXPECT_EQ(utf8_encode_bounded(0x20AC, euro, 2), 2);
  EXPECT_EQ(euro[0], 0xE2);
  EXPECT_EQ(euro[1], 0x82);
  EXPECT_EQ(euro[2], 0);

  const uint32_t wide[] = {'a', 0xE9, 0x20AC, 0x1F600};
  EXPECT_EQ(utf8_size_of_chars(reinterpret_cast<const uint8_t*>(wide),
                               reinterpret_cast<const uint8_t*>(wide + 4), 4),
            10u);
}

// ---------------------------------------------------------------- validating decoder and loader

TEST(Utf8Decode, ValidatingDecoderTable) {
  struct Case {
    Bytes in;
    int32_t cp;  // -1: cut off
    uint32_t used;
    bool invalid;
  } cases[] = {
      {{0x41}, 0x41, 1, false},
      {{0xC3, 0xA9}, 0xE9, 2, false},
      {{0xC0, 0x80}, 0, 2, false},             // the one overlong form kept: U+0000
      {{0xED, 0xA0, 0x80}, 0xD800, 3, false},  // surrogates outside DC00-DCFF pass
      // The shortest form of each length passes; the longest overlong below it does not.
      {{0xC2, 0x80}, 0x80, 2, false},
      {{0xE0, 0xA0, 0x80}, 0x800, 3, false},
      {{0xF0, 0x90, 0x80, 0x80}, 0x10000, 4, false},
      {{0xC1, 0xBF}, 0, 0, true},
      {{0xE0, 0x9F, 0xBF}, 0, 0, true},
      {{0xF0, 0x8F, 0xBF, 0xBF}, 0, 0, true},
      {{0xE0, 0x80, 0x80}, 0, 0, true},        // U+0000 in three bytes
      {{0xF0, 0x8F, 0xBF, 0xBE}, 0, 0, true},  // U+FFFE in four bytes
      {{0xF0, 0x9F, 0x98, 0x80}, 0x1F600, 4, false},
      {{0xE2, 0x82}, -1, 0, false},  // cut off: nothing used
      {{0xF0}, -1, 0, false},
      {{0xED, 0xB0, 0x80}, 0, 0, true},        // U+DC00
      {{0xEF, 0xBF, 0xBE}, 0, 0, true},        // U+FFFE marks invalid input
      {{0xF4, 0x90, 0x80, 0x80}, 0, 0, true},  // above U+10FFFF
      {{0x80}, 0, 0, true},
      {{0xF8, 0x80, 0x80, 0x80}, 0, 0, true},
      {{0xC3, 0x41}, 0, 0, true},
  };
  for (const Case& c : cases) {
    uint32_t used = uint32_t(c.in.size());
    int32_t cp = 0;
    ErrorId e = catch_error([&] { cp = utf8_decode_char(c.in.data(), &used); });
    if (c.invalid) {
      EXPECT_EQ(e, kErrAccessInvalidUtf8) << std::hex << int(c.in[0]);
      continue;
    }
    EXPECT_EQ(e, kErrorIdCount);
    EXPECT_EQ(cp, c.cp) << std::hex << int(c.in[0]);
    EXPECT_EQ(used, c.used);
  }
}

TEST(Utf8Decode, InvalidInputReportsItsBytes) {
  StackSave save;
  const uint8_t text[] = {'a', 'b', 0xED, 0xB0, 0x80, 'c', 'd'};
  EXPECT_EQ(catch_error([&] { load_utf8_new(text, sizeof text); }), kErrAccessInvalidUtf8);
  const Cell& arg = last_raised_error().args[0];
  ASSERT_TRUE(arg.is(kTypeBinary));
  SeriesBuffer* b = series_buffer(arg.node());
  EXPECT_EQ(Bytes(b->head_ptr(), b->tail_ptr()), (Bytes{0xED, 0xB0, 0x80, 'c'}));
  // Fewer than four bytes when the input ends sooner.
  const uint8_t lone[] = {'x', 0x80};
  EXPECT_EQ(catch_error([&] { load_utf8_new(lone, sizeof lone); }), kErrAccessInvalidUtf8);
  EXPECT_EQ(series_buffer(last_raised_error().args[0].node())->length(), 1u);
}

TEST(Utf8Load, UnitsWideningBomAndCr) {
  struct Case {
    std::string in;
    bool cr;
    std::vector<uint32_t> cps;
    uint32_t unit;
  } cases[] = {
      {"\xC3\xA9", false, {0xE9}, 1},
      {"\xC4\x80", false, {0x100}, 2},
      {"\xF0\x9F\x98\x80", false, {0x1F600}, 4},
      {"ab\xC4\x80"
       "cd\xF0\x9F\x98\x80"
       "e",
       false,
       {'a', 'b', 0x100, 'c', 'd', 0x1F600, 'e'},
       4},
      {"\xEF\xBB\xBF", false, {}, 1},
      {"\xEF\xBB\xBF"
       "a",
       false,
       {'a'},
       1},
      {"a\r\nb\rc", true, {'a', '\n', 'b', '\n', 'c'}, 1},
      {"a\r\nb\rc", false, {'a', '\r', '\n', 'b', '\r', 'c'}, 1},
      {"\r", true, {'\n'}, 1},
  };
  for (const Case& c : cases) {
    StackSave save;
    Node n = load_utf8(c.in.c_str(), uint32_t(c.in.size()), 0, nullptr, c.cr);
    push_text(n);
    EXPECT_EQ(series_buffer(n)->unit(), c.unit) << c.in;
    EXPECT_EQ(code_points(n), c.cps) << c.in;
  }
  // ASCII runs (copied eight bytes at a time) around a widening.
  StackSave save;
  Cell* s =
      push_text(load_utf8("0123456789abcdef\xE2\x82\xAC"
                          "0123456789abcdef",
                          35, 0, nullptr, false));
  EXPECT_EQ(string_unit(s), 2u);
  EXPECT_EQ(test::text_of(*s),
            "0123456789abcdef\xE2\x82\xAC"
            "0123456789abcdef");
}

TEST(Utf8Load, CutOffInputReportsTheRest) {
  StackSave save;
  uint32_t remaining = 99;
  Node n = load_utf8("a\xE2\x82", 3, 0, &remaining, false);
  EXPECT_EQ(code_points(n), std::vector<uint32_t>{'a'});
  EXPECT_EQ(remaining, 2u);
  // Without an out count the cut-off bytes are dropped.
  EXPECT_EQ(code_points(load_utf8_new("a\xE2\x82", 3)), std::vector<uint32_t>{'a'});
}

TEST(Utf8Load, IntoTargetReplacesContentAndMeasuresRoomFromTheHead) {
  StackSave save;
  // A target whose head sits in the middle of its buffer, with a neighbour
  // allocated right after it that must come through untouched.
  Cell* target = push_text(series_alloc(32, 1, kHeadMiddle));
  Cell* neighbour = string_make_at(stack_push(), 16);
  string_append_c_string(neighbour, "neighbour");
  string_append_c_string(target, "old");
  EXPECT_EQ(series_buffer(target->node())->head, 16u);

  // 24 bytes: they fit the buffer's 32, but not the 16 after its head.
  std::string text = "0123456789abcdefghij\xC3\xA9\xC3\xA9";
  load_utf8_into(text.c_str(), uint32_t(text.size()), target, nullptr);
  SeriesBuffer* b = series_buffer(target->node());
  EXPECT_EQ(test::text_of(*target), text);
  EXPECT_EQ(b->unit(), 1u);
  EXPECT_LE(b->tail, b->capacity);
  EXPECT_EQ(test::text_of(*neighbour), "neighbour");

  // Widening in place also counts the head offset.
  Cell* mid = push_text(series_alloc(32, 1, kHeadMiddle));
  Cell* after = string_make_at(stack_push(), 16);
  string_append_c_string(after, "after");
  string_append_c_string(mid, "0123456789");
  b = widen_latin1_to_ucs2(mid->node());
  EXPECT_EQ(b->unit(), 2u);
  EXPECT_LE(b->head + 11 * 2, b->capacity);
  EXPECT_EQ(test::text_of(*mid), "0123456789");
  EXPECT_EQ(test::text_of(*after), "after");

  // Loading nothing leaves the target alone.
  load_utf8_into("", 0, mid, nullptr);
  EXPECT_EQ(test::text_of(*mid), "0123456789");

  // A target keeps its node through widening.
  Node node = target->node();
  std::string wide = std::string("ab") + kCjk + kEmoji;
  load_utf8_into(wide.c_str(), uint32_t(wide.size()), target, nullptr);
  EXPECT_EQ(target->node(), node);
  EXPECT_EQ(string_unit(target), 4u);
  EXPECT_EQ(test::text_of(*target), wide);
  EXPECT_EQ(test::text_of(*neighbour), "neighbour");
}

TEST(Utf8Load, MultilingualTextRoundTrips) {
  for (std::string text : {std::string(kLatin1), std::string(kLatin1) + kCjk,
                           std::string(kLatin1) + kCjk + kEmoji, std::string(kEmoji) + kLatin1}) {
    StackSave save;
    Cell* s = push_text(load_utf8_new(text.c_str(), uint32_t(text.size())));
    uint32_t unit = text.find('\xF0') != std::string::npos   ? 4
                    : text.find('\xE6') != std::string::npos ? 2
                                                             : 1;
    EXPECT_EQ(string_unit(s), unit) << text;
    int32_t length = -1;
    char* utf8 = to_utf8(s, &length);
    EXPECT_EQ(std::string(utf8, size_t(length)), text);
    EXPECT_EQ(utf8[length], 0);
    EXPECT_EQ(
        utf8_size_of_chars(series_buffer(s->node())->head_ptr(), series_buffer(s->node())->tail_ptr(), unit),
        text.size());
  }
}

TEST(Utf8Load, SourceInsideASeriesSurvivesWidening) {
  StackSave save;
  std::string text = std::string(200, 'x') + kLatin1 + kCjk + kEmoji + std::string(200, 'y');
  Cell* bin = stack_push_value(series_cell(kTypeBinary, series_alloc(uint32_t(text.size()), 1, 0)));
  std::memcpy(reserve_tail(bin->node(), uint32_t(text.size())), text.data(), text.size());
  Cell* s =
      push_text(load_utf8(ByteSource::series(bin->node(), 0), uint32_t(text.size()), 0, nullptr, false));
  EXPECT_EQ(test::text_of(*s), text);
}

// ---------------------------------------------------------------- output conversions

TEST(Utf8Output, ConversionBufferLimitsAndCrlf) {
  StackSave save;
  Cell* s = string_make_at(stack_push(), 16);
  string_append_c_string(s, "a\nb\xE9");  // Latin-1 é
  int32_t length = -1;
  EXPECT_STREQ(to_utf8(s, &length), "a\nb\xC3\xA9");
  EXPECT_EQ(length, 5);
  Node conversion = string_conversion_node(s);
  EXPECT_NE(conversion, 0u);
  length = 2;
  EXPECT_STREQ(to_utf8_crlf(s, &length, true), "a\r\n");
  EXPECT_EQ(length, 3);
  EXPECT_EQ(string_conversion_node(s), conversion);  // reused, not remade
  s->set_head(1);
  length = 100;
  EXPECT_STREQ(to_utf8(s, &length), "\nb\xC3\xA9");

  uint8_t out[16];
  s->set_head(0);
  EXPECT_EQ(to_utf8_into(s, out, -1, true), 5u);
  EXPECT_STREQ(reinterpret_cast<char*>(out), "a\nb\xC3\xA9");
  EXPECT_EQ(to_utf8_into(s, out, 1, true), 1u);
  EXPECT_STREQ(reinterpret_cast<char*>(out), "a");
  // Bounded: stops at the room, inside the last sequence.
  std::memset(out, 0x55, sizeof out);
  EXPECT_EQ(to_utf8_bounded(s, out, 4, 0, true), 4u);
  EXPECT_EQ(out[3], 0xC3);
  EXPECT_EQ(out[4], 0);
}

TEST(Utf16, LoadUnitsPairsAndLoneSurrogates) {
  struct Case {
    Bytes in;
    bool cr;
    std::vector<uint32_t> cps;
    uint32_t unit;
  } cases[] = {
      {{0x61, 0, 0xE9, 0}, false, {'a', 0xE9}, 1},
      {{0x61, 0, 0xAC, 0x20}, false, {'a', 0x20AC}, 2},
      {{0x3D, 0xD8, 0x00, 0xDE}, false, {0x1F600}, 4},
      {{0x3D, 0xD8, 0x41, 0x00}, false, {0xD83D, 'A'}, 4},  // unpaired high surrogate kept
      {{0x41, 0x00, 0x3D, 0xD8}, false, {'A', 0xD83D}, 4},  // ... also at the very end
      {{0x00, 0xDC}, false, {0xDC00}, 4},                   // lone low surrogate kept
      {{0x61, 0, 0x0D, 0, 0x0A, 0}, true, {'a', '\n'}, 1},
      {{0x0D, 0, 0xAC, 0x20}, true, {0x20AC}, 2},
      {{0x0D, 0, 0x3D, 0xD8, 0x00, 0xDE}, true, {0x1F600}, 4},
      {{}, false, {}, 1},
  };
  for (const Case& c : cases) {
    StackSave save;
    Node n = load_utf16le(c.in.data(), uint32_t(c.in.size() / 2), nullptr, c.cr);
    EXPECT_EQ(series_buffer(n)->unit(), c.unit);
    EXPECT_EQ(code_points(n), c.cps);
  }
}

TEST(Utf16, ConversionsOutAndBackThroughTheConversionBuffer) {
  StackSave save;
  Cell* s = string_make_at(stack_push(), 16);
  string_append_c_string(s, "a\nb");
  uint16_t* w = to_utf16_cstr(s);
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(std::vector<uint16_t>(w, w + 5), (std::vector<uint16_t>{0x61, 0x0D, 0x0A, 0x62, 0}));

  std::string text = std::string(kLatin1) + kCjk + kEmoji;
  Cell* t = push_text(load_utf8_new(text.c_str(), uint32_t(text.size())));
  int32_t length = -1;
  w = to_utf16(t, &length, false);
  ASSERT_NE(w, nullptr);
  int32_t cps = string_length(t);
  EXPECT_EQ(length, cps + 2);  // two emoji, two pairs
  // A source that is none reads the cell's own conversion buffer.
  load_utf16le(ByteSource(), uint32_t(length), t, false);
  EXPECT_EQ(test::text_of(*t), text);

  // Unit 2 text copies as one block.
  Cell* u = push_text(load_utf8_new(kCjk, sizeof kCjk - 1));
  length = -1;
  w = to_utf16(u, &length, false);
  EXPECT_EQ(length, 5);
  EXPECT_EQ(w[0], 0x6F22);
  EXPECT_EQ(w[5], 0);

  uint16_t pair[2];
  EXPECT_EQ(utf16_encode_char(0x41, pair), 1);
  EXPECT_EQ(utf16_encode_char(0x1F600, pair), 2);
  EXPECT_EQ(pair[0], 0xD83D);
  EXPECT_EQ(pair[1], 0xDE00);
  EXPECT_EQ(utf16_encode_char(0x110000, pair), 0);
}

}  // namespace
}  // namespace kiv
