// The DEFLATE compressor and the zlib and gzip writers: tiny streams against
// bytes derived by hand, the block structure of larger streams read back by a
// small block reader written here, a pin of the streams of a checked-in
// corpus, and zlib (linked in), python3's zlib and gzip(1) inflating ours.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "runtime/checksums.h"
#include "services/deflate.h"
#include "services/deflate_compress_detail.h"
#include "services/zlib_gzip.h"
#include "temp_dir.h"

namespace kiv {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes bytes_of(const std::string& s) { return Bytes(s.begin(), s.end()); }

// [n] pseudo-random bytes below [range] from [seed].
Bytes random_bytes(size_t n, uint32_t seed, uint32_t range = 256) {
  Bytes b(n);
  uint64_t x = seed * 0x9E3779B97F4A7C15ull + 1;
  for (size_t i = 0; i < n; i++) {
    x ^= x << 13, x ^= x >> 7, x ^= x << 17;
    b[i] = uint8_t((x >> 24) % range);
  }
  return b;
}

// [n] bytes of words drawn from a small vocabulary, with spaces and line ends.
Bytes text_bytes(size_t n, uint32_t seed) {
  static const char* const kWords[] = {"the",   "stream", "of",     "blocks", "a",     "window", "match",
                                       "short", "longer", "symbol", "code",   "lazy",  "search", "chain",
                                       "table", "bits",   "length", "which",  "moves", "every"};
  Bytes b;
  Bytes pick = random_bytes(n, seed);
  for (size_t i = 0; b.size() < n; i++) {
    const char* w = kWords[pick[i % n] % 20];
    b.insert(b.end(), w, w + std::strlen(w));
    b.push_back(pick[(i * 7) % n] % 11 == 0 ? '\n' : ' ');
  }
  b.resize(n);
  return b;
}

// Runs of random lengths (1-300) of random bytes.
Bytes run_bytes(size_t n, uint32_t seed) {
  Bytes r = random_bytes(2 * n + 2, seed), b;
  for (size_t i = 0; b.size() < n; i += 2) b.insert(b.end(), 1 + (r[i] * 300u) / 256, r[i + 1]);
  b.resize(n);
  return b;
}

// Our stream of [in], made in a buffer grown to the size each call reports,
// starting from none (a wrapper reports input + overhead before the true size).
template <typename Compress>
Bytes compress_with(Compress compress, const Bytes& in) {
  Bytes out;
  size_t size = 0;
  int status = compress(nullptr, &size, in.data(), in.size());
  for (int tries = 0; status != kDeflateDone && tries < 3; tries++) {
    out.resize(size);
    status = compress(out.data(), &size, in.data(), in.size());
  }
  EXPECT_EQ(status, kDeflateDone);
  EXPECT_LE(size, out.size());
  out.resize(size);
  return out;
}

Bytes deflate_of(const Bytes& in) { return compress_with(deflate_compress, in); }

// zlib's inflation of [stream] with [window_bits] (-15 raw, 15 zlib, 31 gzip);
// false when zlib refuses it or finds it does not end where it should.
bool zlib_inflate(const Bytes& stream, int window_bits, Bytes* out) {
  z_stream z{};
  if (inflateInit2(&z, window_bits) != Z_OK) return false;
  out->assign(1024, 0);
  z.next_in = const_cast<Bytef*>(stream.data());
  z.avail_in = uInt(stream.size());
  int r = Z_OK;
  while (r == Z_OK) {
    if (z.total_out == out->size()) out->resize(out->size() * 2);
    z.next_out = out->data() + z.total_out;
    z.avail_out = uInt(out->size() - z.total_out);
    r = inflate(&z, Z_FINISH);
    if (r == Z_BUF_ERROR && z.avail_out == 0) r = Z_OK;
  }
  out->resize(z.total_out);
  bool whole = r == Z_STREAM_END && z.avail_in == 0;
  inflateEnd(&z);
  return whole;
}

// ---- A small block reader: the blocks of a raw stream, symbol by symbol.

struct Symbol {
  uint16_t length;  // 0 for a literal
  uint16_t distance;
  uint8_t literal;
};

struct Block {
  int type = -1;
  bool final = false;
  size_t first_bit = 0, end_bit = 0;
  std::vector<Symbol> symbols;      // without the end of block
  std::vector<size_t> piece_sizes;  // a stored block's one piece
  size_t bytes = 0;                 // bytes it produces
};

class BlockReader {
 public:
  explicit BlockReader(const Bytes& s) : s_(s) {}

  // The blocks up to the final one, with the bytes they produce in [out];
  // false on anything malformed.
  bool read(std::vector<Block>* blocks, Bytes* out) {
    for (;;) {
      Block b;
      b.first_bit = bit_;
      b.final = bits(1);
      b.type = int(bits(2));
      size_t before = out->size();
      if (b.type == 0) {
        bit_ = (bit_ + 7) & ~size_t(7);
        uint32_t len = bits(16), nlen = bits(16);
        if ((len ^ 0xFFFF) != nlen || bit_ / 8 + len > s_.size()) return false;
        out->insert(out->end(), s_.begin() + long(bit_ / 8), s_.begin() + long(bit_ / 8 + len));
        bit_ += 8 * size_t(len);
        b.piece_sizes.push_back(len);
      } else if (b.type == 1 || b.type == 2) {
        Code lit, dist;
        if (b.type == 1) {
          uint8_t l[288], d[30];
          for (int i = 0; i < 288; i++) l[i] = i < 144 ? 8 : i < 256 ? 9 : i < 280 ? 7 : 8;
          for (int i = 0; i < 30; i++) d[i] = 5;
          lit.build(l, 288);
          dist.build(d, 30);
        } else if (!read_dynamic_codes(&lit, &dist)) {
          return false;
        }
        if (!read_symbols(lit, dist, &b, out)) return false;
      } else {
        return false;
      }
      b.end_bit = bit_;
      b.bytes = out->size() - before;
      blocks->push_back(b);
      if (bit_ > 8 * s_.size()) return false;
      if (b.final) return (bit_ + 7) / 8 == s_.size();
    }
  }

 private:
  // A canonical code: per length, how many codes; the symbols in code order.
  struct Code {
    uint16_t count[16] = {};
    uint16_t symbol[288] = {};
    void build(const uint8_t* lengths, int n) {
      uint16_t offset[16] = {};
      for (int i = 0; i < n; i++) count[lengths[i]]++;
      count[0] = 0;
      for (int len = 1; len < 15; len++) offset[len + 1] = offset[len] + count[len];
      for (int i = 0; i < n; i++)
        if (lengths[i]) symbol[offset[lengths[i]]++] = uint16_t(i);
    }
  };

  uint32_t peek(int n) const {
    uint32_t v = 0;
    for (int i = 0; i < n; i++) {
      size_t at = bit_ + size_t(i);
      uint32_t bit = at / 8 < s_.size() ? (s_[at / 8] >> (at % 8)) & 1 : 0;
      v |= bit << i;
    }
    return v;
  }
  uint32_t bits(int n) {
    uint32_t v = peek(n);
    bit_ += size_t(n);
    return v;
  }

  int decode(const Code& c) {
    int code = 0, first = 0, index = 0;
    for (int len = 1; len <= 15; len++) {
      code |= int(bits(1));
      if (code - first < c.count[len]) return c.symbol[index + code - first];
      index += c.count[len];
      first = (first + c.count[len]) << 1;
      code <<= 1;
    }
    return -1;
  }

  bool read_dynamic_codes(Code* lit, Code* dist) {
    static const uint8_t kOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};
    int hlit = int(bits(5)) + 257, hdist = int(bits(5)) + 1, hclen = int(bits(4)) + 4;
    uint8_t cl[19] = {};
    for (int i = 0; i < hclen; i++) cl[kOrder[i]] = uint8_t(bits(3));
    Code clc;
    clc.build(cl, 19);
    uint8_t lengths[320] = {};
    for (int i = 0; i < hlit + hdist;) {
      int s = decode(clc), repeat = 0, value = 0;
      if (s < 0) return false;
      if (s < 16) {
        lengths[i++] = uint8_t(s);
        continue;
      }
      if (s == 16) {
        if (i == 0) return false;
        value = lengths[i - 1];
        repeat = 3 + int(bits(2));
      } else {
        repeat = s == 17 ? 3 + int(bits(3)) : 11 + int(bits(7));
      }
      if (i + repeat > hlit + hdist) return false;
      while (repeat--) lengths[i++] = uint8_t(value);
    }
    lit->build(lengths, hlit);
    dist->build(lengths + hlit, hdist);
    return true;
  }

  bool read_symbols(const Code& lit, const Code& dist, Block* b, Bytes* out) {
    static const uint16_t kLBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                        31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
    static const uint16_t kDBase[30] = {1,    2,    3,    4,    5,    7,    9,    13,    17,    25,
                                        33,   49,   65,   97,   129,  193,  257,  385,   513,   769,
                                        1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
    for (;;) {
      if (bit_ > 8 * s_.size()) return false;
      int s = decode(lit);
      if (s < 0 || s > 285) return false;
      if (s == 256) return true;
      if (s < 256) {
        b->symbols.push_back({0, 0, uint8_t(s)});
        out->push_back(uint8_t(s));
        continue;
      }
      int lc = s - 257;
      int lextra = lc < 8 || lc == 28 ? 0 : (lc - 4) / 4;
      int length = kLBase[lc] + int(bits(lextra));
      int dc = decode(dist);
      if (dc < 0 || dc > 29) return false;
      int dextra = dc < 4 ? 0 : (dc - 2) / 2;
      int distance = kDBase[dc] + int(bits(dextra));
      if (size_t(distance) > out->size()) return false;
      b->symbols.push_back({uint16_t(length), uint16_t(distance), 0});
      for (int k = 0; k < length; k++) out->push_back((*out)[out->size() - size_t(distance)]);
    }
  }

  const Bytes& s_;
  size_t bit_ = 0;
};

// The blocks of our stream of [in], which must read back to [in].
std::vector<Block> blocks_of(const Bytes& in) {
  Bytes stream = deflate_of(in), out;
  std::vector<Block> blocks;
  EXPECT_TRUE(BlockReader(stream).read(&blocks, &out));
  EXPECT_EQ(out, in);
  return blocks;
}

// Bits the fixed code spends on [b]'s symbols, header and end of block included.
size_t fixed_cost(const Block& b) {
  size_t bits = 3 + 7;
  for (const Symbol& s : b.symbols) {
    if (s.length == 0) {
      bits += s.literal < 144 ? 8 : 9;
      continue;
    }
    // Symbols 257-279 take 7 bits, 280-285 (lengths 115 and up) 8.
    int l = s.length, lbits = l < 115 ? 7 : 8;
    for (int top : {10, 18, 34, 66, 130, 257}) lbits += l > top && l < 258;
    int d = s.distance, dextra = 0;
    while (d > (4 << dextra)) dextra++;
    bits += size_t(lbits + 5 + dextra);
  }
  return bits;
}

// ---- Tiny streams, derived by hand from the fixed code.

TEST(DeflateCompress, TinyStreamsMatchTheirHandDerivedBytes) {
  struct Case {
    const char* name;
    std::string input;
    Bytes stream;
  };
  const Case cases[] = {
      // Header (final, fixed), end of block: 1 10 0000000.
      {.name = "empty", .input = "", .stream = {0x03, 0x00}},
      // Three literals 0x61-0x63 (8-bit codes 0x91-0x93), end of block.
      {.name = "three literals", .input = "abc", .stream = {0x4B, 0x4C, 0x4A, 0x06, 0x00}},
      // 'a', then one overlapping match of 99 at distance 1 (symbol 279, 4
      // extra bits 0; distance code 0), end of block.
      {.name = "run", .input = std::string(100, 'a'), .stream = {0x4B, 0xA4, 0x03, 0x00, 0x00}},
      // a b c, then a match of 9 at distance 3 (symbol 263; distance code 2).
      {.name = "phrase", .input = "abcabcabcabc", .stream = {0x4B, 0x4C, 0x4A, 0x86, 0x23, 0x00}},
      // Lazy: at the second 'a', "abc" matches 3 at distance 9, but the next
      // position matches "bcde" 4 at distance 6, so 'a' goes out as a literal
      // and the longer match follows (symbol 258; distance code 4, extra 1).
      {.name = "lazy",
       .input = "abcXbcdeYabcde",
       .stream = {0x4B, 0x4C, 0x4A, 0x8E, 0x48, 0x4A, 0x4E, 0x49, 0x8D, 0x4C, 0x04, 0x91, 0x00}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes in = bytes_of(c.input);
    EXPECT_EQ(deflate_of(in), c.stream);
    Bytes back;
    EXPECT_TRUE(zlib_inflate(c.stream, -15, &back));
    EXPECT_EQ(back, in);
  }
}

TEST(DeflateCompress, ThreeByteMatchesFarBackGoAsLiterals) {
  // "\xFA\xFB\xFC" again after filler that never holds those bytes: 4,000
  // back it is a match, 5,000 back three literals.
  for (size_t distance : {4000u, 4096u, 4097u, 5000u}) {
    SCOPED_TRACE(distance);
    Bytes in = {0xFA, 0xFB, 0xFC};
    Bytes filler = random_bytes(distance - 3, 7, 200);
    in.insert(in.end(), filler.begin(), filler.end());
    in.insert(in.end(), {0xFA, 0xFB, 0xFC});
    std::vector<Block> blocks = blocks_of(in);
    ASSERT_FALSE(blocks.empty());
    const std::vector<Symbol>& s = blocks.back().symbols;
    ASSERT_GE(s.size(), 3u);
    if (distance <= 4096) {
      EXPECT_EQ(s.back().length, 3);
      EXPECT_EQ(s.back().distance, distance);
    } else {
      for (size_t i = s.size() - 3; i < s.size(); i++) EXPECT_EQ(s[i].length, 0) << i;
    }
  }
}

// ---- Block structure.

TEST(DeflateCompress, BlocksHold16384SymbolsAndTakeTheCheapestEncoding) {
  // Text, then random bytes, then text again: dynamic blocks, stored ones,
  // and whatever is cheapest where they meet.
  Bytes in = text_bytes(150000, 1), noise = random_bytes(70000, 2), more = text_bytes(60000, 3);
  in.insert(in.end(), noise.begin(), noise.end());
  in.insert(in.end(), more.begin(), more.end());
  std::vector<Block> blocks = blocks_of(in);
  int types[3] = {};
  for (size_t i = 0; i < blocks.size(); i++) {
    const Block& b = blocks[i];
    SCOPED_TRACE(i);
    types[b.type]++;
    EXPECT_EQ(b.final, i + 1 == blocks.size());
    // A stored block's symbols are not in the stream: it covers at least one byte for each.
    if (i + 1 < blocks.size()) {
      if (b.type == 0)
        EXPECT_GE(b.bytes, 16384u);
      else
        EXPECT_EQ(b.symbols.size(), 16384u);
    }
    size_t cost = b.end_bit - b.first_bit;
    size_t stored_cost = 3 + (8 - (b.first_bit + 3) % 8) % 8 + 32 + 8 * b.bytes;
    if (b.type == 2) {
      EXPECT_LT(cost, fixed_cost(b));
      EXPECT_LT(cost, stored_cost);
    } else if (b.type == 1) {
      EXPECT_EQ(cost, fixed_cost(b));
      EXPECT_LT(cost, stored_cost);
    } else {
      EXPECT_EQ(cost, stored_cost);
    }
  }
  EXPECT_GT(types[0], 0);
  EXPECT_GT(types[2], 0);
  // A short text costs less in the fixed code than with codes of its own.
  std::vector<Block> short_text = blocks_of(bytes_of("The fixed code serves short texts best."));
  ASSERT_EQ(short_text.size(), 1u);
  EXPECT_EQ(short_text[0].type, 1);
}

TEST(DeflateCompress, IncompressibleDataGoesOutInStoredBlocks) {
  for (size_t n : {1000u, 16384u, 16385u, 70000u}) {
    SCOPED_TRACE(n);
    std::vector<Block> blocks = blocks_of(random_bytes(n, 11));
    for (const Block& b : blocks) {
      // A final block left with no symbols is the end of block alone, in the fixed code.
      EXPECT_EQ(b.type, b.bytes == 0 ? 1 : 0);
      for (size_t piece : b.piece_sizes) EXPECT_LE(piece, 65535u);
    }
  }
}

// ---- Huffman code lengths.

TEST(DeflateCompress, CodeLengthsAreLimitedCompleteAndOrderedByCount) {
  struct Case {
    const char* name;
    int symbols, limit;
    uint32_t (*count)(int);
  };
  const Case cases[] = {
      // Fibonacci counts make the deepest optimal trees, far past the limits.
      {"fibonacci 286 / 15", 286, 15,
       [](int i) {
         uint32_t a = 1, b = 1;
         for (int k = 0; k < i % 30; k++) a = std::exchange(b, a + b);
         return i % 7 == 3 ? 0u : a;
       }},
      {"fibonacci 19 / 7", 19, 7,
       [](int i) {
         uint32_t a = 1, b = 1;
         for (int k = 0; k < i; k++) a = std::exchange(b, a + b);
         return a;
       }},
      {"powers of two 30 / 15", 30, 15, [](int i) { return 1u << (i % 24); }},
      {"even counts", 286, 15, [](int i) { return uint32_t(i % 3 == 0 ? 5 : 0); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint32_t> freq(size_t(c.symbols));
    for (int i = 0; i < c.symbols; i++) freq[size_t(i)] = c.count(i);
    std::vector<uint8_t> lengths(size_t(c.symbols));
    deflate_huffman_lengths(freq.data(), c.symbols, c.limit, lengths.data());
    uint64_t kraft = 0;
    for (int i = 0; i < c.symbols; i++) {
      EXPECT_LE(lengths[size_t(i)], c.limit);
      EXPECT_EQ(lengths[size_t(i)] == 0, freq[size_t(i)] == 0) << i;
      if (lengths[size_t(i)]) kraft += uint64_t(1) << (c.limit - lengths[size_t(i)]);
      for (int j = 0; j < c.symbols; j++) {
        if (freq[size_t(i)] && freq[size_t(i)] < freq[size_t(j)]) {
          EXPECT_GE(lengths[size_t(i)], lengths[size_t(j)]) << i << " " << j;
        }
      }
    }
    EXPECT_EQ(kraft, uint64_t(1) << c.limit);  // complete: no code wasted, none over-full
  }
}

TEST(DeflateCompress, FewerThanTwoUsedSymbolsGiveTwoCodesOfOneBit) {
  struct Case {
    std::vector<int> used;
    std::vector<int> one_bit;
  };
  const Case cases[] = {{{}, {0, 1}}, {{0}, {0, 1}}, {{1}, {0, 1}}, {{7}, {0, 7}}};
  for (const Case& c : cases) {
    uint32_t freq[30] = {};
    for (int s : c.used) freq[s] = 9;
    uint8_t lengths[30];
    deflate_huffman_lengths(freq, 30, 15, lengths);
    for (int s = 0; s < 30; s++) {
      bool one = std::find(c.one_bit.begin(), c.one_bit.end(), s) != c.one_bit.end();
      EXPECT_EQ(lengths[s], one ? 1 : 0) << s;
    }
  }
}

// ---- The streams of the corpus, pinned.

std::string sha256_hex(const Bytes& b) {
  unsigned char digest[32];
  unsigned int n = 0;
  EVP_Digest(b.data(), b.size(), digest, &n, EVP_sha256(), nullptr);
  std::string hex;
  char two[3];
  for (unsigned i = 0; i < n; i++) {
    std::snprintf(two, sizeof two, "%02x", digest[i]);
    hex += two;
  }
  return hex;
}

TEST(DeflateCompress, CorpusStreamsArePinned) {
  // A change to any of these is a change of the stream format's choices:
  // deliberate or not, it shows here.
  struct Case {
    const char* file;
    size_t stream_size;
    const char* sha256;
  };
  const Case cases[] = {
      {"license.txt", 3948, "535e8c90ff229bed13746619a9ff0592c6c050306281a65e3a72f7de74c3cf55"},
      {"mixed.bin", 11410, "bf81c2c4de968eef46c40a8f5ce4b107c297419550db9827be2fa6918e9679c8"},
      {"short.txt", 39, "081efe3e2ccac44662f186bfb2a72e50ce2467ef5f225667e87a6c411a6fe1fc"},
      {"source.cpp.txt", 1017, "4180e0c6ec2841ebed9f73ae1ca0d6677eed6392e7edf3e3349d307af21dab07"},
      {"table.csv", 7401, "6280d64bfc507e4bf8bfd49b4439ec9bf8676b5e0a72e01bcb0a46cc2daec70d"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    std::string text =
        test::read_file(std::string(KIV_SOURCE_DIR) + "/tests/unit/data/deflate_corpus/" + c.file);
    ASSERT_FALSE(text.empty());
    Bytes in = bytes_of(text), stream = deflate_of(in), back;
    EXPECT_TRUE(zlib_inflate(stream, -15, &back));
    EXPECT_EQ(back, in);
    EXPECT_EQ(stream.size(), c.stream_size);
    EXPECT_EQ(sha256_hex(stream), c.sha256);
  }
}

// ---- Inflated by others.

TEST(DeflateCompress, ZlibInflatesOurStreamsAtEverySizeBoundary) {
  // Around 16,384 literals a block, the 32 KiB window, the largest stored
  // piece and the hash width's steps (256 to 32,768 bytes).
  const size_t sizes[] = {0,     1,     2,     3,     4,     255,   256,   257,   4097,   16383, 16384,
                          16385, 32767, 32768, 32769, 49152, 65534, 65535, 65536, 131071, 200000};
  struct Kind {
    const char* name;
    Bytes (*make)(size_t, uint32_t);
  };
  const Kind kinds[] = {
      {"random", [](size_t n, uint32_t seed) { return random_bytes(n, seed); }},
      {"text", text_bytes},
      {"runs", run_bytes},
      {"few byte values", [](size_t n, uint32_t seed) { return random_bytes(n, seed, 3); }},
  };
  for (const Kind& k : kinds) {
    for (size_t n : sizes) {
      SCOPED_TRACE(std::string(k.name) + " " + std::to_string(n));
      Bytes in = k.make(n, uint32_t(n) + 5), back;
      EXPECT_TRUE(zlib_inflate(deflate_of(in), -15, &back));
      EXPECT_EQ(back, in);
      EXPECT_TRUE(zlib_inflate(compress_with(zlib_compress, in), 15, &back));
      EXPECT_EQ(back, in);
      EXPECT_TRUE(zlib_inflate(compress_with(gzip_compress, in), 31, &back));
      EXPECT_EQ(back, in);
    }
  }
}

TEST(DeflateCompress, RebasingThePositionTablesDoesNotChangeTheStream) {
  // Text with phrases repeated from up to a window back, so that matches
  // reach across every rebase.
  Bytes in = text_bytes(300000, 9), runs = run_bytes(100000, 10);
  in.insert(in.begin() + 150000, runs.begin(), runs.end());
  Bytes reference = deflate_of(in);
  for (uint32_t at : {65536u, 98304u}) {
    size_t size = reference.size();
    Bytes out(size);
    EXPECT_EQ(deflate_compress_rebasing_at(out.data(), &size, in.data(), in.size(), at), kDeflateDone);
    EXPECT_EQ(out, reference) << at;
  }
}

TEST(DeflateCompress, TooSmallOutputGivesTheExactSizeAndWritesNoFurther) {
  // Text (a fixed or dynamic block) and random bytes (a stored block, copied
  // in part), through the raw compressor and both wrappers.
  struct Writer {
    const char* name;
    int (*compress)(uint8_t*, size_t*, const uint8_t*, size_t);
    size_t header;  // below this the writer reports bad data and input + overhead
    size_t overhead;
  };
  const Writer writers[] = {
      {"deflate", deflate_compress, 0, 0}, {"zlib", zlib_compress, 6, 6}, {"gzip", gzip_compress, 18, 18}};
  const Bytes inputs[] = {bytes_of("a short text, a short text again, and its end"), random_bytes(300, 4)};
  for (const Writer& w : writers) {
    for (const Bytes& in : inputs) {
      Bytes full = compress_with(w.compress, in);
      for (size_t capacity = 0; capacity <= full.size(); capacity++) {
        SCOPED_TRACE(std::string(w.name) + " " + std::to_string(in.size()) + " into " +
                     std::to_string(capacity));
        Bytes out(capacity + 16, 0xA5);
        size_t size = capacity;
        int status = w.compress(out.data(), &size, in.data(), in.size());
        if (capacity < w.header) {
          EXPECT_EQ(status, kDeflateBadData);
          EXPECT_EQ(size, in.size() + w.overhead);
        } else if (capacity < full.size()) {
          EXPECT_EQ(status, kDeflateTooSmall);
          EXPECT_EQ(size, full.size());
        } else {
          EXPECT_EQ(status, kDeflateDone);
          EXPECT_EQ(size, full.size());
          EXPECT_TRUE(std::equal(full.begin(), full.end(), out.begin()));
        }
        for (size_t i = capacity; i < out.size(); i++)
          ASSERT_EQ(out[i], 0xA5) << "written past the end at " << i;
      }
    }
  }
}

TEST(DeflateCompress, WrappersWriteTheirHeadersAndTrailers) {
  Bytes in = text_bytes(5000, 21);
  Bytes z = compress_with(zlib_compress, in), g = compress_with(gzip_compress, in), raw = deflate_of(in);
  ASSERT_EQ(z.size(), raw.size() + 6);
  EXPECT_EQ(Bytes(z.begin(), z.begin() + 2), (Bytes{0x78, 0x01}));
  EXPECT_TRUE(std::equal(raw.begin(), raw.end(), z.begin() + 2));
  uint32_t adler = adler32_of(in.data(), in.size());
  EXPECT_EQ(Bytes(z.end() - 4, z.end()),
            (Bytes{uint8_t(adler >> 24), uint8_t(adler >> 16), uint8_t(adler >> 8), uint8_t(adler)}));
  ASSERT_EQ(g.size(), raw.size() + 18);
  EXPECT_EQ(Bytes(g.begin(), g.begin() + 10), (Bytes{0x1F, 0x8B, 8, 0, 0, 0, 0, 0, 4, 4}));
  EXPECT_TRUE(std::equal(raw.begin(), raw.end(), g.begin() + 10));
  uint32_t crc = crc32_of(in.data(), in.size());
  EXPECT_EQ(Bytes(g.end() - 8, g.end()), (Bytes{uint8_t(crc), uint8_t(crc >> 8), uint8_t(crc >> 16),
                                                uint8_t(crc >> 24), 0x88, 0x13, 0, 0}));  // 5,000
}

TEST(DeflateCompress, GzipOfAGzipStreamIsTheSameStream) {
  Bytes g = compress_with(gzip_compress, text_bytes(3000, 8));
  EXPECT_EQ(compress_with(gzip_compress, g), g);
  size_t size = g.size() - 1;
  Bytes out(size);
  EXPECT_EQ(gzip_compress(out.data(), &size, g.data(), g.size()), kDeflateTooSmall);
  EXPECT_EQ(size, g.size());
  // Only the whole magic and method pass through.
  for (Bytes in : {Bytes{0x1F, 0x8B}, Bytes{0x1F, 0x8B, 0x09, 1, 2, 3}}) {
    Bytes back;
    EXPECT_TRUE(zlib_inflate(compress_with(gzip_compress, in), 31, &back));
    EXPECT_EQ(back, in);
  }
}

TEST(DeflateCompress, Python3AndGzipInflateOurStreams) {
  test::TempDir dir("kiv-deflate-");
  ASSERT_FALSE(dir.path().empty());
  const Bytes inputs[] = {text_bytes(100000, 31), run_bytes(40000, 32), Bytes{}};
  for (size_t i = 0; i < std::size(inputs); i++) {
    SCOPED_TRACE(i);
    const Bytes& in = inputs[i];
    std::string base = dir.path() + "/" + std::to_string(i);
    auto write = [](const std::string& path, const Bytes& b) {
      FILE* f = std::fopen(path.c_str(), "wb");
      ASSERT_NE(f, nullptr);
      if (!b.empty()) std::fwrite(b.data(), 1, b.size(), f);
      std::fclose(f);
    };
    write(base + ".data", in);
    write(base + ".raw", deflate_of(in));
    write(base + ".zlib", compress_with(zlib_compress, in));
    write(base + ".gz", compress_with(gzip_compress, in));
    // Debian's own interpreter: the one first on the path may be another build.
    std::string command =
        "/usr/bin/python3 -c \"import sys, zlib; b = sys.argv[1]; d = open(b + '.data', 'rb').read(); "
        "print(*(zlib.decompress(open(b + e, 'rb').read(), w) == d for e, w in "
        "(('.raw', -15), ('.zlib', 15), ('.gz', 31))))\" " +
        base + " && gzip -dc " + base + ".gz | cmp -s - " + base + ".data && echo same";
    std::string out;
    FILE* p = popen(command.c_str(), "r");
    ASSERT_NE(p, nullptr);
    char buffer[256];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, p)) > 0) out.append(buffer, n);
    pclose(p);
    EXPECT_EQ(out, "True True True\nsame\n");
  }
}

}  // namespace
}  // namespace kiv
