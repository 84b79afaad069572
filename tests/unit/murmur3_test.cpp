// MurmurHash3 x86_32 against its published test vectors, the ASCII-lowering
// variant against the plain hash of lowered text, and the finaliser.
#include "runtime/murmur3.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "runtime/random.h"

namespace kiv {
namespace {

TEST(Murmur3, PublishedVectors) {
  struct Case {
    std::string data;
    uint32_t seed;
    uint32_t expected;
  } cases[] = {
      {"", 0, 0},
      {"", 1, 0x514E28B7},
      {"", 0xFFFFFFFF, 0x81F16F39},
      {"\xFF\xFF\xFF\xFF", 0, 0x76293B50},
      {"\x21\x43\x65\x87", 0, 0xF55B516B},
      {"\x21\x43\x65\x87", 0x5082EDEE, 0x2362F9DE},
      {"\x21\x43\x65", 0, 0x7E4A8634},
      {"\x21\x43", 0, 0xA0F7B07A},
      {"\x21", 0, 0x72661CF4},
      {std::string("\0\0\0\0", 4), 0, 0x2362F9DE},
      {std::string("\0\0\0", 3), 0, 0x85F0B427},
      {std::string("\0\0", 2), 0, 0x30F4C306},
      {std::string("\0", 1), 0, 0x514E28B7},
      {"aaaa", 0x9747B28C, 0x5A97808A},
      {"aaa", 0x9747B28C, 0x283E0130},
      {"aa", 0x9747B28C, 0x5D211726},
      {"a", 0x9747B28C, 0x7FA09EA6},
      {"abcd", 0x9747B28C, 0xF0478627},
      {"abc", 0x9747B28C, 0xC84A62DD},
      {"ab", 0x9747B28C, 0x74875592},
      {"Hello, world!", 0x9747B28C, 0x24884CBA},
      {"\xCF\x80\xCF\x80\xCF\x80\xCF\x80\xCF\x80\xCF\x80\xCF\x80\xCF\x80", 0x9747B28C, 0xD58063C1},
      {std::string(256, 'a'), 0x9747B28C, 0x37405BDC},
      {"The quick brown fox jumps over the lazy dog", 0x9747B28C, 0x2FA826CD},
  };
  for (const Case& c : cases)
    EXPECT_EQ(murmur3_x86_32(c.data.data(), c.data.size(), c.seed), c.expected)
        << "\"" << c.data << "\" seed " << std::hex << c.seed;
}

TEST(Murmur3, UnalignedInputHashesAlike) {
  alignas(8) char buffer[40];
  const std::string text = "unaligned blocks read whole";
  for (int shift = 0; shift < 4; shift++) {
    std::memcpy(buffer + shift, text.data(), text.size());
    EXPECT_EQ(murmur3_x86_32(buffer + shift, text.size(), 7), murmur3_x86_32(text.data(), text.size(), 7));
  }
}

TEST(Murmur3, LowerVariantFoldsOnlyAsciiLetters) {
  // Every tail length; bytes just outside A-Z; high bytes whose low seven bits
  // fall in A-Z (0xC1, 0xDA) must stay as they are.
  const std::string mixed = "AZaz@[`{ Hello WORLD 09\xC1\xDA\xC3\x89";
  const std::string lowered = "azaz@[`{ hello world 09\xC1\xDA\xC3\x89";
  for (size_t n = 0; n <= mixed.size(); n++)
    EXPECT_EQ(murmur3_x86_32_lower(mixed.data(), n, 42), murmur3_x86_32(lowered.data(), n, 42)) << n;
  EXPECT_NE(murmur3_x86_32_lower("\xC1", 1, 42), murmur3_x86_32("\xE1", 1, 42));
}

TEST(Murmur3, RuntimeSeedAndFinaliser) {
  EXPECT_EQ(hash_murmur3("abc", 3), murmur3_x86_32("abc", 3, kHashSeed));
  // The empty hash with seed 1 is the finaliser of 1.
  EXPECT_EQ(hash_int32(1), 0x514E28B7u);
  EXPECT_EQ(hash_int32(0), 0u);
  EXPECT_NE(hash_int32(2), hash_int32(3));
}

}  // namespace
}  // namespace kiv
