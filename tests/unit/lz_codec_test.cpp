// The LZ codec: streams built here token by token (every length row, the
// distance codes' ends, block boundaries), each way a stream is refused, and
// round trips through the compressor. Streams are read from heap buffers of
// their exact size, so a sanitizer build catches a read past one.
#include "services/lz_codec.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace kiv {
namespace {

using Bytes = std::vector<uint8_t>;

bool decode(const Bytes& stream, Bytes* out) {
  std::unique_ptr<uint8_t[]> in(new uint8_t[stream.size() ? stream.size() : 1]);
  if (!stream.empty()) memcpy(in.get(), stream.data(), stream.size());
  return lz_decompress(in.get(), stream.size(), out);
}

void put_le32(Bytes& b, uint32_t v) {
  for (int i = 0; i < 4; i++) b.push_back(uint8_t(v >> (8 * i)));
}

// One block's tokens, least significant bit first.
struct Tokens {
  Bytes bits_out;
  uint64_t acc = 0;
  unsigned n = 0;
  Tokens& put(uint32_t v, unsigned k) {
    acc |= uint64_t(v) << n;
    n += k;
    while (n >= 8) {
      bits_out.push_back(uint8_t(acc));
      acc >>= 8;
      n -= 8;
    }
    return *this;
  }
  Tokens& literal(uint8_t c) { return put(0, 1).put(c, 8); }
  // A match of [length] bytes (3 to 566) from [back] bytes back.
  Tokens& match(unsigned length, unsigned back) {
    unsigned l = length - 3;
    static const unsigned base[6] = {0, 4, 8, 12, 20, 52};
    static const unsigned extra[6] = {2, 2, 2, 3, 5, 9};
    unsigned row = 0;
    while (row < 5 && l >= base[row + 1]) row++;
    put(1, 1);
    for (unsigned z = 0; z < row; z++) put(0, 1);
    if (row < 5) put(1, 1);
    put(l - base[row], extra[row]);
    unsigned d = back - 1;
    if (d < 8) return put(0, 4).put(d, 3);
    unsigned k = 31 - unsigned(__builtin_clz(d));
    return put(k - 2, 4).put(d - (1u << k), k);
  }
  Bytes bytes() const {
    Bytes b = bits_out;
    if (n) b.push_back(uint8_t(acc));
    return b;
  }
};

// A stream of [blocks] (each its n and its tokens) with U = [total].
Bytes stream_of(const std::vector<std::pair<uint32_t, Tokens>>& blocks, uint32_t total) {
  Bytes data;
  for (const auto& [n, tokens] : blocks) {
    put_le32(data, n);
    Bytes t = tokens.bytes();
    data.insert(data.end(), t.begin(), t.end());
  }
  Bytes s;
  put_le32(s, uint32_t(data.size()));
  put_le32(s, total);
  s.insert(s.end(), data.begin(), data.end());
  return s;
}

std::string as_text(const Bytes& b) { return std::string(b.begin(), b.end()); }

TEST(LzCodec, TokensDecodeAsWritten) {
  // Every length row at both its ends, and distances of each code's width.
  std::string expected = "xyz";
  Tokens t;
  t.literal('x').literal('y').literal('z');
  for (unsigned length : {3u, 6u, 7u, 10u, 11u, 14u, 15u, 22u, 23u, 54u, 55u, 566u}) {
    for (unsigned back : {1u, 2u, 3u}) {
      t.match(length, back);
      for (unsigned i = 0; i < length; i++) expected += expected[expected.size() - back];
    }
  }
  for (unsigned back : {8u, 9u, 16u, 17u, 1000u, unsigned(expected.size())}) {
    t.match(5, back);
    for (unsigned i = 0; i < 5; i++) expected += expected[expected.size() - back];
  }
  Bytes out;
  ASSERT_TRUE(decode(stream_of({{uint32_t(expected.size()), t}}, uint32_t(expected.size())), &out));
  EXPECT_EQ(as_text(out), expected);

  // The shortest match copies three bytes; distance code 0 repeats the byte before.
  ASSERT_TRUE(decode(stream_of({{4, Tokens().literal('q').match(3, 1)}}, 4), &out));
  EXPECT_EQ(as_text(out), "qqqq");
  // A block of one byte is one literal; blocks follow one another, each on a fresh byte.
  ASSERT_TRUE(
      decode(stream_of({{1, Tokens().literal('a')}, {5, Tokens().literal('b').match(4, 1)}}, 6), &out));
  EXPECT_EQ(as_text(out), "abbbbb");
  // The farthest reach: 262,144 bytes back.
  Tokens far;
  far.literal('F');
  for (unsigned i = 0; i < 262143 / 566; i++) far.literal('.').match(565, 1);
  unsigned produced = 1 + 262143 / 566 * 566;
  while (produced < 262144) far.literal('.'), produced++;
  far.match(3, 262144);
  ASSERT_TRUE(decode(stream_of({{262147, far}}, 262147), &out));
  EXPECT_EQ(as_text(Bytes(out.end() - 3, out.end())), "F..");
}

TEST(LzCodec, MalformedStreamsAreRefused) {
  auto with_tail = [](Bytes s, size_t drop) {
    s.resize(s.size() - drop);
    return s;
  };
  Bytes past_u = stream_of({{4, Tokens().literal('a').match(3, 1)}}, 3);
  Bytes hostile;
  put_le32(hostile, 0);
  put_le32(hostile, 0xFFFFFFFF);
  Bytes just_beyond;
  put_le32(just_beyond, 4);
  put_le32(just_beyond, 566 * 12 + 1);
  put_le32(just_beyond, 1);
  const std::vector<std::pair<const char*, Bytes>> cases = {
      {"shorter than the head", Bytes{1, 0, 0, 0, 1, 0, 0}},
      {"a block of no bytes", stream_of({{0, Tokens().literal('a')}}, 1)},
      {"a block above 1 MiB", stream_of({{(1u << 20) + 1, Tokens().literal('a')}}, (1u << 20) + 1)},
      {"a block past U", past_u},
      {"a match before the block", stream_of({{4, Tokens().literal('a').match(3, 2)}}, 4)},
      {"a match into the block before",
       stream_of({{1, Tokens().literal('a')}, {3, Tokens().match(3, 1)}}, 4)},
      {"a match past the block", stream_of({{3, Tokens().literal('a').match(3, 1)}}, 3)},
      {"the input ending inside a block",
       with_tail(stream_of({{4, Tokens().literal('a').match(3, 1)}}, 4), 1)},
      {"the input ending before a block's size", with_tail(stream_of({{1, Tokens().literal('a')}}, 1), 3)},
      {"U far above what the stream could hold", hostile},
      {"U above 566 times the stream", just_beyond},
  };
  for (const auto& [what, stream] : cases) {
    SCOPED_TRACE(what);
    Bytes out = {1, 2, 3};
    EXPECT_FALSE(decode(stream, &out));
    EXPECT_TRUE(out.empty());
  }
  // S bounds the blocks: data after it is not read.
  Bytes s = stream_of({{1, Tokens().literal('a')}}, 5);
  Bytes more = stream_of({{1, Tokens().literal('b')}}, 1);
  s.insert(s.end(), more.begin() + 8, more.end());
  Bytes out;
  ASSERT_TRUE(decode(s, &out));
  EXPECT_EQ(as_text(out), "a");
  // An empty stream is empty data.
  ASSERT_TRUE(decode(Bytes(8, 0), &out));
  EXPECT_TRUE(out.empty());
}

Bytes varied_data(size_t n, uint32_t seed) {
  static const char* const kWords[] = {"alpha ",   "beta ",  "gamma ", "delta\n",
                                       "epsilon ", "zeta, ", "eta ",   "theta "};
  Bytes b;
  uint32_t x = seed;
  while (b.size() < n) {
    x = x * 1103515245u + 12345u;
    if ((x >> 28) == 0) {
      // A run, or a copy from far back.
      size_t len = (x >> 8) % 700;
      if ((x >> 4) & 1 && b.size() > 300000) {
        size_t from = b.size() - 200000 - (x >> 12) % 60000;
        for (size_t i = 0; i < len; i++) b.push_back(b[from + i]);
      } else {
        b.insert(b.end(), len, uint8_t(x >> 20));
      }
    } else {
      const char* w = kWords[(x >> 16) % 8];
      b.insert(b.end(), w, w + strlen(w));
    }
  }
  b.resize(n);
  return b;
}

TEST(LzCodec, CompressorRoundTrips) {
  for (size_t n : {size_t(128), size_t(1000), size_t(100000), size_t(2500000)}) {
    SCOPED_TRACE(n);
    Bytes data = varied_data(n, uint32_t(n));
    Bytes packed;
    int64_t size = lz_compress(data.data(), data.size(), &packed);
    ASSERT_GT(size, 0);
    ASSERT_EQ(size_t(size), packed.size());
    EXPECT_LE(packed.size(), n - 8);
    Bytes back;
    ASSERT_TRUE(decode(packed, &back));
    EXPECT_EQ(back, data);
  }
  Bytes packed;
  Bytes short_input(127, 'a');
  EXPECT_EQ(lz_compress(short_input.data(), short_input.size(), &packed), -1);
  // Data that does not compress does not fit.
  Bytes noise(5000);
  uint32_t x = 9;
  for (auto& c : noise) c = uint8_t((x = x * 1103515245u + 12345u) >> 23);
  EXPECT_EQ(lz_compress(noise.data(), noise.size(), &packed), -1);
  EXPECT_TRUE(packed.empty());
}

}  // namespace
}  // namespace kiv
