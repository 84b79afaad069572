// Base 2, 16, 58 and 64 codecs: published vectors both ways, the decoders'
// skipping, comment and padding rules, and rejection of bad text (code points
// above 127 included) for every text unit.
#include "runtime/base_codec.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kiv {
namespace {

using namespace std::literals;

std::string encode(int32_t base, std::string_view bytes) {
  std::string out(size_t(bytes.size() * 8 + 8), '\0');
  auto* begin = reinterpret_cast<uint8_t*>(out.data());
  uint8_t* end = encode_base(base, begin, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  out.resize(size_t(end - begin));
  return out;
}

// Decodes [text] (code points) stored in units of [unit] bytes; nullopt when refused.
std::optional<std::string> decode(int32_t base, std::u32string_view text, uint32_t unit = 1) {
  std::vector<uint8_t> stored(text.size() * unit);
  for (size_t i = 0; i < text.size(); ++i)
    for (uint32_t k = 0; k < unit; ++k) stored[i * unit + k] = uint8_t(text[i] >> (8 * k));
  std::string out(base_decode_capacity(base, text.size()), '\0');
  size_t written = 0;
  if (!decode_base(base, stored.data(), text.size(), unit, reinterpret_cast<uint8_t*>(out.data()), &written))
    return std::nullopt;
  EXPECT_LE(written, out.size());
  out.resize(written);
  return out;
}

std::u32string wide(std::string_view s) { return {s.begin(), s.end()}; }

struct Vector {
  int32_t base;
  std::string_view bytes;
  std::string_view text;
};

// RFC 4648 test vectors (base 64 and base 16), the usual base-58 vectors, and
// a few of our own: leading zero bytes, every bit pattern of one byte.
const Vector kVectors[] = {
    {64, "", ""},
    {64, "f", "Zg=="},
    {64, "fo", "Zm8="},
    {64, "foo", "Zm9v"},
    {64, "foob", "Zm9vYg=="},
    {64, "fooba", "Zm9vYmE="},
    {64, "foobar", "Zm9vYmFy"},
    {64, "\xFF", "/w=="},
    {64, "\xFB\xFF\xBF", "+/+/"},
    {16, "", ""},
    {16, "f", "66"},
    {16, "foobar", "666F6F626172"},
    {16, "\x00\xFF\x0F"sv, "00FF0F"},
    {58, "", ""},
    {58, "a", "2g"},
    {58,
     "\x00"
     "a"sv,
     "12g"},
    {58,
     "\x00\x00"
     "a"sv,
     "112g"},
    {58, "\x00"sv, "1"},
    {58, "\xFF", "5Q"},
    {58, "Hello World!", "2NEpo7TZRRrLZSi2U"},
    {58, "The quick brown fox jumps over the lazy dog.",
     "USm3fpXnKG5EUBx2ndxBDMPVciP5hGey2Jh4NDv6gmeo1LkMeiKrLJUUBk6Z"},
    {58, "\x00\x00\x00\x28\x7F\xB4\xCD"sv, "111233QC4"},
    {2, "", ""},
    {2, "\xFF", "11111111"},
    {2, "\x01\x80", "0000000110000000"},
};

TEST(BaseCodecTest, VectorsBothWays) {
  for (const Vector& v : kVectors) {
    SCOPED_TRACE(testing::Message() << "base " << v.base << " " << v.text);
    EXPECT_EQ(encode(v.base, v.bytes), v.text);
    for (uint32_t unit : {1u, 2u, 4u}) EXPECT_EQ(decode(v.base, wide(v.text), unit), std::string(v.bytes));
  }
}

TEST(BaseCodecTest, RoundTripsEveryLength) {
  std::string bytes;
  for (int n = 0; n < 70; ++n) {
    for (int32_t base : {2, 16, 58, 64}) {
      SCOPED_TRACE(testing::Message() << "base " << base << " length " << n);
      EXPECT_EQ(decode(base, wide(encode(base, bytes))), bytes);
    }
    bytes.push_back(char(n % 3 == 0 ? 0 : n * 37));  // zeros, leading ones included
  }
}

TEST(BaseCodecTest, DecoderRules) {
  struct Case {
    int32_t base;
    std::u32string_view text;
    std::optional<std::string_view> bytes;  // nullopt: refused
  } cases[] = {
      // Base 64: blanks and comments skipped, padding rules.
      {64, U"Zm 9v\r\n Y\tm'Fy", "foobar"},
      {64, U"Zm9v ; a comment = here\nYmFy", "foobar"},
      {64, U"Zm9v ; comment to the end", "foo"},
      {64, U"/w", ""},       // pending characters without padding are dropped
      {64, U"/w=", "\xFF"},  // the character after the first "=" is never read
      {64, U"/w=?!", "\xFF"},
      {64, U"Zm8=trailing text", "fo"},
      {64, U"=", std::nullopt},
      {64, U"Z=", std::nullopt},
      {64, U"Zm9v-A", std::nullopt},
      {64, U"Zm9v_A", std::nullopt},
      {64, U"Zm\v9v", std::nullopt},
      {64, std::u32string_view(U"Zm\0v", 4), std::nullopt},
      {64, U"Zm9v\u00C0", std::nullopt},  // above 127: refused, not looked up
      {64, U"Zm9v\u0141", std::nullopt},
      {64, U"Zm9v\U0001F600", std::nullopt},
      {64, U"\u0141\u0141\u0141\u0141", std::nullopt},  // whole groups take the fast path
      // Base 16.
      {16, U"0F 0f", "\x0F\x0F"},
      {16, U"0F0", "\x0F"},
      {16, U"0G", std::nullopt},
      {16, U"0F ; note\n10", "\x0F\x10"},
      {16, U"\u00B0\u00B1", std::nullopt},  // masked to 7 bits these would read "01"
      {16, U"\u0130\u0131", std::nullopt},
      // Base 58.
      {58, U"112g",
       "\x00\x00"
       "a"sv},
      {58, U"1 1\t2'g",
       "\x00\x00"
       "a"sv},
      {58, U"0", std::nullopt},
      {58, U"2g\u00E9zz", std::nullopt},  // no silent prefix
      {58, U"2g;x\n", "a"},
      // Base 2.
      {2, U"00000001 ; comment", "\x01"},
      {2, U"0000000", std::nullopt},
      {2, U"00000002", std::nullopt},
      {2, U"0000 0001\n1111\t1111", "\x01\xFF"},
      {2, U"0000000\u0131", std::nullopt},
  };
  for (const Case& c : cases) {
    for (uint32_t unit : {1u, 2u, 4u}) {
      bool fits = true;
      for (char32_t cp : c.text) fits = fits && (unit == 4 || cp < (1u << (8 * unit)));
      if (!fits) continue;
      SCOPED_TRACE(testing::Message() << "base " << c.base << " case " << (&c - cases) << " unit " << unit);
      auto got = decode(c.base, c.text, unit);
      if (c.bytes)
        EXPECT_EQ(got, std::string(*c.bytes));
      else
        EXPECT_EQ(got, std::nullopt);
    }
  }
}

TEST(BaseCodecTest, UnknownBaseAndUnit) {
  EXPECT_FALSE(base_codec_known_q(10));
  EXPECT_EQ(decode(10, U"00"), std::nullopt);
  uint8_t text[] = {'0', '0'}, out[4];
  size_t written = 0;
  EXPECT_FALSE(decode_base16(text, 2, 3, out, &written));
}

}  // namespace
}  // namespace kiv
