// The inflater and the zlib and gzip readers against streams other programs
// wrote (python3's zlib and gzip modules over their levels, strategies,
// memory levels and windows; /usr/bin/gzip), against zlib itself on streams
// built here bit by bit, and on cut, padded and hostile input. Inputs and
// outputs live in heap buffers of their exact size, so a sanitizer build
// catches any access outside them.
#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "services/deflate.h"
#include "services/zlib_gzip.h"
#include "temp_dir.h"

namespace kiv {
namespace {

using Bytes = std::vector<uint8_t>;
using Reader = int (*)(uint8_t*, size_t*, const uint8_t*, size_t);

struct Result {
  int status;
  size_t size;  // bytes produced, or needed when too small
  Bytes data;   // what was stored
};

// Runs [reader] on a copy of [in] with exactly [cap] bytes of output room.
Result read_into(Reader reader, const Bytes& in, size_t cap) {
  std::unique_ptr<uint8_t[]> input(new uint8_t[in.size() ? in.size() : 1]);
  if (!in.empty()) memcpy(input.get(), in.data(), in.size());
  std::unique_ptr<uint8_t[]> out(cap ? new uint8_t[cap] : nullptr);
  size_t size = cap;
  int status = reader(out.get(), &size, input.get(), in.size());
  Result r{status, size, {}};
  if (status == kDeflateDone) r.data.assign(out.get(), out.get() + size);
  if (status == kDeflateTooSmall) r.data.assign(out.get(), out.get() + cap);
  return r;
}

// A size query, then a read into the size reported.
Result read_all(Reader reader, const Bytes& in) {
  Result query = read_into(reader, in, 0);
  if (query.status != kDeflateTooSmall) return query;
  return read_into(reader, in, query.size);
}

Bytes to_bytes(const std::string& s) { return Bytes(s.begin(), s.end()); }

// Text with repeats at every distance: words from a small vocabulary.
Bytes sample_text(size_t n, uint32_t seed) {
  static const char* const kWords[] = {"stream", "block",   "the",   "of", "length", "distance",
                                       "code",   "inflate", "table", "a",  "input",  "output",
                                       "symbol", "literal", "bits",  "\n"};
  std::string s;
  uint32_t x = seed;
  while (s.size() < n) {
    x = x * 1103515245u + 12345u;
    s += kWords[(x >> 16) % 16];
    s += (x >> 8) % 7 ? " " : ", ";
  }
  s.resize(n);
  return to_bytes(s);
}

Bytes noise(size_t n, uint32_t seed) {
  Bytes b(n);
  uint32_t x = seed;
  for (auto& c : b) {
    x = x * 1103515245u + 12345u;
    c = uint8_t(x >> 23);
  }
  return b;
}

// zlib's stream of [in]: raw (window bits -15), zlib (15) or gzip (31).
Bytes zlib_deflate(const Bytes& in, int window_bits, int level = 6) {
  z_stream z{};
  EXPECT_EQ(deflateInit2(&z, level, Z_DEFLATED, window_bits, 8, Z_DEFAULT_STRATEGY), Z_OK);
  Bytes out(deflateBound(&z, uLong(in.size())) + 64);
  z.next_in = const_cast<Bytef*>(in.data());
  z.avail_in = uInt(in.size());
  z.next_out = out.data();
  z.avail_out = uInt(out.size());
  EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

// True when zlib inflates the whole raw stream [in] to [expected].
bool zlib_accepts_raw(const Bytes& in, const Bytes& expected) {
  z_stream z{};
  inflateInit2(&z, -15);
  Bytes out(expected.size() + 1024);
  z.next_in = const_cast<Bytef*>(in.data());
  z.avail_in = uInt(in.size());
  z.next_out = out.data();
  z.avail_out = uInt(out.size());
  int r = inflate(&z, Z_FINISH);
  out.resize(z.total_out);
  inflateEnd(&z);
  return r == Z_STREAM_END && out == expected;
}

uint32_t crc_of(const Bytes& b) { return uint32_t(crc32(0, b.data(), uInt(b.size()))); }

void put_le(Bytes& b, uint32_t v, int n) {
  for (int i = 0; i < n; i++) b.push_back(uint8_t(v >> (8 * i)));
}

// --- streams other programs wrote -----------------------------------------

// Each oracle stream: its reader, the input it holds, the bytes.
struct OracleStream {
  int kind;  // 0 raw, 1 zlib, 2 gzip, 3 raw up to a sync flush (half the input)
  uint32_t input;
  std::string what;
  Bytes stream;
};

const char* const kOracleScript = R"PY(
import gzip, io, struct, subprocess, sys, zlib
inputs = [open(p, 'rb').read() for p in sys.argv[1:]]
out = sys.stdout.buffer
def rec(kind, idx, what, data):
    w = what.encode()
    out.write(struct.pack('<BIII', kind, idx, len(w), len(data)) + w + data)
for idx, data in enumerate(inputs):
    combos = {(level, strategy, 8, 15) for level in range(10) for strategy in range(5)}
    combos |= {(6, 0, mem, wb) for mem in range(1, 10) for wb in range(9, 16)}
    for level, strategy, mem, wb in sorted(combos):
        for kind, w in ((0, -wb), (1, wb), (2, wb + 16)):
            c = zlib.compressobj(level, zlib.DEFLATED, w, mem, strategy)
            rec(kind, idx, 'level %d strategy %d mem %d wbits %d' % (level, strategy, mem, w), c.compress(data) + c.flush())
    half = len(data) // 2
    for flush in (zlib.Z_SYNC_FLUSH, zlib.Z_FULL_FLUSH):
        for kind, w in ((0, -15), (1, 15), (2, 31)):
            c = zlib.compressobj(6, zlib.DEFLATED, w)
            rec(kind, idx, 'flush %d wbits %d' % (flush, w), c.compress(data[:half]) + c.flush(flush) + c.compress(data[half:]) + c.flush())
    c = zlib.compressobj(6, zlib.DEFLATED, -15)
    rec(3, idx, 'sync flush, no final block', c.compress(data[:half]) + c.flush(zlib.Z_SYNC_FLUSH))
    buf = io.BytesIO()
    with gzip.GzipFile(filename='named.txt', mode='wb', fileobj=buf, mtime=1234567) as g:
        g.write(data)
    rec(2, idx, 'GzipFile with a name', buf.getvalue())
    for level in range(1, 10):
        r = subprocess.run(['/usr/bin/gzip', '-n', '-%d' % level, '-c'], input=data, capture_output=True, check=True)
        rec(2, idx, 'gzip -n -%d' % level, r.stdout)
)PY";

bool have_oracles() { return access("/usr/bin/python3", X_OK) == 0 && access("/usr/bin/gzip", X_OK) == 0; }

std::vector<OracleStream> oracle_streams(const std::vector<Bytes>& inputs) {
  test::TempDir dir("kiv-inflate-");
  std::string command = "/usr/bin/python3 " + dir.path() + "/oracle.py";
  std::ofstream(dir.path() + "/oracle.py") << kOracleScript;
  for (size_t i = 0; i < inputs.size(); i++) {
    std::string path = dir.path() + "/input" + std::to_string(i);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(inputs[i].data()), std::streamsize(inputs[i].size()));
    command += " " + path;
  }
  Bytes all;
  FILE* p = popen(command.c_str(), "r");
  if (p) {
    uint8_t buffer[65536];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, p)) > 0) all.insert(all.end(), buffer, buffer + n);
    EXPECT_EQ(pclose(p), 0) << "the oracle script failed";
  }
  std::vector<OracleStream> streams;
  auto le32 = [&](size_t at) {
    return uint32_t(all[at]) | uint32_t(all[at + 1]) << 8 | uint32_t(all[at + 2]) << 16 |
           uint32_t(all[at + 3]) << 24;
  };
  for (size_t at = 0; at + 13 <= all.size();) {
    OracleStream s;
    s.kind = all[at];
    s.input = le32(at + 1);
    uint32_t what_len = le32(at + 5);
    uint32_t len = le32(at + 9);
    at += 13;
    s.what.assign(all.begin() + long(at), all.begin() + long(at + what_len));
    at += what_len;
    s.stream.assign(all.begin() + long(at), all.begin() + long(at + len));
    at += len;
    streams.push_back(std::move(s));
  }
  return streams;
}

TEST(Inflate, ReadsEveryStreamPythonAndGzipWrite) {
  if (!have_oracles()) GTEST_SKIP() << "needs /usr/bin/python3 and /usr/bin/gzip";
  const std::vector<Bytes> inputs = {sample_text(60000, 1), noise(70000, 2), Bytes(70000, 'a'), Bytes{}, [] {
                                       Bytes b = sample_text(30000, 3);
                                       Bytes n = noise(3000, 4);
                                       b.insert(b.begin() + 10000, n.begin(), n.end());
                                       return b;
                                     }()};
  const auto streams = oracle_streams(inputs);
  ASSERT_GT(streams.size(), 1500u);
  const Reader readers[] = {deflate_decompress, zlib_decompress, gzip_decompress, deflate_decompress};
  for (const OracleStream& s : streams) {
    SCOPED_TRACE(s.what + " of input " + std::to_string(s.input));
    Bytes expected = inputs[s.input];
    if (s.kind == 3) expected.resize(expected.size() / 2);
    Result r = read_all(readers[s.kind], s.stream);
    ASSERT_EQ(r.status, kDeflateDone);
    ASSERT_EQ(r.data, expected);
    if (expected.empty()) continue;
    // One byte short: the exact size, and what fitted stored. The gzip
    // reader answers from ISIZE before inflating.
    Result short_read = read_into(readers[s.kind], s.stream, expected.size() - 1);
    ASSERT_EQ(short_read.status, kDeflateTooSmall);
    ASSERT_EQ(short_read.size, expected.size());
    if (s.kind != 2) {
      ASSERT_TRUE(std::equal(short_read.data.begin(), short_read.data.end(), expected.begin()));
    }
  }
}

// --- streams built bit by bit ----------------------------------------------

// Writes DEFLATE bits: fields least significant bit first, Huffman codes
// most significant first.
struct BitWriter {
  Bytes out;
  uint64_t acc = 0;
  unsigned n = 0;
  BitWriter& put(uint32_t v, unsigned k) {
    acc |= uint64_t(v) << n;
    n += k;
    while (n >= 8) {
      out.push_back(uint8_t(acc));
      acc >>= 8;
      n -= 8;
    }
    return *this;
  }
  BitWriter& code(uint32_t c, unsigned len) {
    for (unsigned i = len; i-- > 0;) put((c >> i) & 1, 1);
    return *this;
  }
  Bytes done() {
    Bytes b = out;
    if (n) b.push_back(uint8_t(acc));
    return b;
  }
};

// Canonical codes for [lengths].
std::vector<uint32_t> canonical(const std::vector<uint8_t>& lengths) {
  unsigned count[16] = {};
  for (uint8_t l : lengths) count[l]++;
  count[0] = 0;
  unsigned next[16] = {};
  for (unsigned len = 1, c = 0; len < 16; len++) next[len] = c = (c + count[len - 1]) << 1;
  std::vector<uint32_t> codes(lengths.size());
  for (size_t s = 0; s < lengths.size(); s++) {
    if (lengths[s]) codes[s] = next[lengths[s]]++;
  }
  return codes;
}

// Fixed code of literal/length [s].
void fixed_symbol(BitWriter& w, unsigned s) {
  if (s < 144)
    w.code(0x30 + s, 8);
  else if (s < 256)
    w.code(0x190 + s - 144, 9);
  else if (s < 280)
    w.code(s - 256, 7);
  else
    w.code(0xC0 + s - 280, 8);
}

// A dynamic block header whose code-length code gives 0-12 four bits and
// 13-18 five bits; [items] are code-length symbols with their extra bits.
struct LengthItem {
  unsigned symbol;
  unsigned extra = 0;
  unsigned extra_bits = 0;
};
constexpr uint8_t kOrder[19] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

void dynamic_header(BitWriter& w, bool final, unsigned hlit, unsigned hdist,
                    const std::vector<LengthItem>& items, std::vector<uint8_t> code_length_lengths = {}) {
  if (code_length_lengths.empty()) {
    code_length_lengths.assign(19, 4);
    for (unsigned s = 13; s < 19; s++) code_length_lengths[s] = 5;
  }
  auto codes = canonical(code_length_lengths);
  w.put(final, 1).put(2, 2).put(hlit - 257, 5).put(hdist - 1, 5).put(15, 4);
  for (uint8_t s : kOrder) w.put(code_length_lengths[s], 3);
  for (const LengthItem& it : items) {
    w.code(codes[it.symbol], code_length_lengths[it.symbol]);
    if (it.extra_bits) w.put(it.extra, it.extra_bits);
  }
}

// Items listing [lengths] one by one.
std::vector<LengthItem> plain_items(const std::vector<uint8_t>& lengths) {
  std::vector<LengthItem> items;
  for (uint8_t l : lengths) items.push_back({l});
  return items;
}

// A dynamic block with [lit] and [dist] code lengths, then [symbols] coded
// by them (each a literal/length symbol, or for a length its extra bits
// and distance symbol as further entries: {symbol, extra, bits}).
struct Sym {
  unsigned symbol;
  bool distance = false;
  unsigned extra = 0;
  unsigned extra_bits = 0;
};
Bytes dynamic_block(const std::vector<uint8_t>& lit, const std::vector<uint8_t>& dist,
                    const std::vector<Sym>& symbols) {
  BitWriter w;
  std::vector<uint8_t> all = lit;
  all.insert(all.end(), dist.begin(), dist.end());
  dynamic_header(w, true, unsigned(lit.size()), unsigned(dist.size()), plain_items(all));
  auto lit_codes = canonical(lit);
  auto dist_codes = canonical(dist);
  for (const Sym& s : symbols) {
    if (s.distance)
      w.code(dist_codes[s.symbol], dist[s.symbol]);
    else
      w.code(lit_codes[s.symbol], lit[s.symbol]);
    if (s.extra_bits) w.put(s.extra, s.extra_bits);
  }
  return w.done();
}

// Literal/length lengths for symbols 0-256 (and more when [hlit]) with the
// given [assigned] lengths and every other symbol 0.
std::vector<uint8_t> lengths_with(unsigned hlit,
                                  std::initializer_list<std::pair<unsigned, uint8_t>> assigned) {
  std::vector<uint8_t> l(hlit, 0);
  for (auto [s, len] : assigned) l[s] = len;
  return l;
}

TEST(Inflate, StreamsBuiltBitByBitAgreeWithZlib) {
  struct Case {
    const char* what;
    Bytes stream;
    int status;
    Bytes expected;  // when status is kDeflateDone
    bool zlib_accepts;
  };
  const std::vector<uint8_t> no_dist = {0};
  const std::vector<Case> cases = {
      {"empty final fixed block", BitWriter().put(1, 1).put(1, 2).code(0, 7).done(), kDeflateDone, {}, true},
      {"a single one-bit code used",
       dynamic_block(lengths_with(257, {{256, 1}}), no_dist, {{256}}),
       kDeflateDone,
       {},
       true},
      {"a single one-bit code's unowned pattern",
       [] {
         BitWriter w;
         std::vector<uint8_t> all = lengths_with(257, {{256, 1}});
         all.push_back(0);
         dynamic_header(w, true, 257, 1, plain_items(all));
         return w.put(1, 1).done();
       }(),
       kDeflateBadData,
       {},
       false},
      {"a single one-bit distance code",
       dynamic_block(lengths_with(258, {{'a', 2}, {256, 2}, {257, 1}}), {1},
                     {{'a'}, {257}, {0, true}, {256}}),
       kDeflateDone, to_bytes("aaaa"), true},
      {"a length with an empty distance table",
       dynamic_block(lengths_with(258, {{'a', 2}, {256, 2}, {257, 1}}), {0},
                     {{'a'}, {257}, {0, true}, {256}}),
       kDeflateBadData,
       {},
       false},
      {"an over-subscribed literal/length code",
       dynamic_block(lengths_with(257, {{'a', 1}, {'b', 1}, {256, 1}}), {1}, {{256}}),
       kDeflateBadData,
       {},
       false},
      {"an incomplete literal/length code",
       dynamic_block(lengths_with(257, {{'a', 2}, {256, 2}}), {1}, {{'a'}, {256}}),
       kDeflateBadData,
       {},
       false},
      {"no end-of-block code",
       dynamic_block(lengths_with(257, {{'a', 1}, {'b', 1}}), {1}, {{'a'}}),
       kDeflateBadData,
       {},
       false},
      {"an incomplete code-length code",
       [] {
         BitWriter w;
         std::vector<uint8_t> cl(19, 0);
         cl[0] = cl[1] = 2;
         dynamic_header(w, true, 257, 1, {{1}, {0}}, cl);
         return w.done();
       }(),
       kDeflateBadData,
       {},
       false},
      {"an over-subscribed code-length code",
       [] {
         BitWriter w;
         dynamic_header(w, true, 257, 1, {}, std::vector<uint8_t>(19, 1));
         return w.done();
       }(),
       kDeflateBadData,
       {},
       false},
      {"repeat code 16 first",
       [] {
         BitWriter w;
         dynamic_header(w, true, 257, 1, {{16, 0, 2}});
         return w.done();
       }(),
       kDeflateBadData,
       {},
       false},
      {"a zero run past HLIT + HDIST",
       [] {
         BitWriter w;
         dynamic_header(w, true, 257, 1, {{18, 127, 7}, {18, 127, 7}, {1}});
         return w.done();
       }(),
       kDeflateBadData,
       {},
       false},
      {"a repeat past HLIT + HDIST",
       [] {
         BitWriter w;
         std::vector<LengthItem> items = plain_items(lengths_with(256, {}));
         items.push_back({1});
         items.push_back({16, 3, 2});
         dynamic_header(w, true, 257, 1, items);
         return w.done();
       }(),
       kDeflateBadData,
       {},
       false},
      {"HLIT of 287",
       [] {
         BitWriter w;
         dynamic_header(w, true, 287, 1, {});
         return w.done();
       }(),
       kDeflateBadData,
       {},
       false},
      {"HDIST of 31",
       [] {
         BitWriter w;
         dynamic_header(w, true, 257, 31, {});
         return w.done();
       }(),
       kDeflateBadData,
       {},
       false},
      {"fixed literal/length symbol 286",
       [] {
         BitWriter w;
         w.put(1, 1).put(1, 2);
         fixed_symbol(w, 286);
         return w.done();
       }(),
       kDeflateBadData,
       {},
       false},
      {"fixed literal/length symbol 287",
       [] {
         BitWriter w;
         w.put(1, 1).put(1, 2);
         fixed_symbol(w, 287);
         return w.done();
       }(),
       kDeflateBadData,
       {},
       false},
      {"fixed distance symbol 30",
       [] {
         BitWriter w;
         w.put(1, 1).put(1, 2);
         fixed_symbol(w, 'x');
         fixed_symbol(w, 257);
         w.code(30, 5);
         return w.done();
       }(),
       kDeflateBadData,
       {},
       false},
      {"fixed distance symbol 31",
       [] {
         BitWriter w;
         w.put(1, 1).put(1, 2);
         fixed_symbol(w, 'x');
         fixed_symbol(w, 257);
         w.code(31, 5);
         return w.done();
       }(),
       kDeflateBadData,
       {},
       false},
      {"a distance before the start",
       [] {
         BitWriter w;
         w.put(1, 1).put(1, 2);
         fixed_symbol(w, 'x');
         fixed_symbol(w, 257);
         w.code(1, 5);  // distance 2
         return w.done();
       }(),
       kDeflateBadDistance,
       {},
       false},
      {"a distance to the first byte",
       [] {
         BitWriter w;
         w.put(1, 1).put(1, 2);
         fixed_symbol(w, 'x');
         fixed_symbol(w, 'y');
         fixed_symbol(w, 257);
         w.code(1, 5);
         fixed_symbol(w, 256);
         return w.done();
       }(),
       kDeflateDone, to_bytes("xyxyx"), true},
      {"block type 3", BitWriter().put(1, 1).put(3, 2).put(0, 16).done(), kDeflateBadBlockType, {}, false},
      {"a stored block longer than the input",
       [] {
         Bytes b = {1, 10, 0, 0xF5, 0xFF, 'a', 'b', 'c'};
         return b;
       }(),
       kDeflateStoredTooLong,
       {},
       false},
      {"a stored block, NLEN not compared", Bytes{1, 3, 0, 0, 0, 'a', 'b', 'c'}, kDeflateDone,
       to_bytes("abc"), false},
      {"a stored block then a fixed one", Bytes{0, 3, 0, 0xFC, 0xFF, 'a', 'b', 'c', 0x03, 0x00}, kDeflateDone,
       to_bytes("abc"), true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Result r = read_all(deflate_decompress, c.stream);
    EXPECT_EQ(r.status, c.status);
    if (c.status == kDeflateDone) {
      EXPECT_EQ(r.data, c.expected);
    }
    EXPECT_EQ(zlib_accepts_raw(c.stream, c.expected), c.zlib_accepts);
  }
}

TEST(Inflate, MatchesPastTheOutputEndAreCountedNotCopied) {
  // Long runs at distance 1 and 9 (word copies), then text.
  Bytes data(100000, 'a');
  Bytes pattern = to_bytes("abcdefghi");
  for (int i = 0; i < 5000; i++) data.insert(data.end(), pattern.begin(), pattern.end());
  Bytes text = sample_text(20000, 7);
  data.insert(data.end(), text.begin(), text.end());
  const Bytes stream = zlib_deflate(data, -15, 9);
  for (size_t cap : {size_t(0), size_t(1), size_t(2), size_t(257), size_t(258), size_t(259), size_t(99999),
                     size_t(100005), size_t(145000), data.size() - 1}) {
    SCOPED_TRACE(cap);
    Result r = read_into(deflate_decompress, stream, cap);
    ASSERT_EQ(r.status, kDeflateTooSmall);
    EXPECT_EQ(r.size, data.size());
    EXPECT_TRUE(std::equal(r.data.begin(), r.data.end(), data.begin()));
  }
}

TEST(Inflate, TrailingBytesAreIgnoredAndCutRawStreamsStopCleanly) {
  const Bytes data = sample_text(5000, 11);
  for (int level : {0, 1, 9}) {
    SCOPED_TRACE(level);
    const Bytes stream = zlib_deflate(data, -15, level);
    Bytes padded = stream;
    Bytes junk = noise(100, 5);
    padded.insert(padded.end(), junk.begin(), junk.end());
    EXPECT_EQ(read_all(deflate_decompress, padded).data, data);
    for (size_t cut = 0; cut < stream.size(); cut++) {
      Result r = read_all(deflate_decompress, Bytes(stream.begin(), stream.begin() + long(cut)));
      ASSERT_TRUE(r.status == kDeflateDone || deflate_bad_data_q(r.status)) << cut;
      if (r.status != kDeflateDone) continue;
      // Every symbol but the last, finished with zero bits, is the stream's.
      ASSERT_LE(r.data.size(), data.size() + 258) << cut;
      size_t sure = r.data.size() > 258 ? r.data.size() - 258 : 0;
      ASSERT_TRUE(std::equal(r.data.begin(), r.data.begin() + long(sure), data.begin())) << cut;
    }
  }
  EXPECT_EQ(read_all(deflate_decompress, {}).status, kDeflateDone);

  // A block header cut anywhere adds nothing to what came before it: a
  // stored block, then a dynamic header of 1,338 bits (every code-length
  // item four bits) and an end of block.
  BitWriter w;
  w.put(0, 3).put(0, 5).put(3, 16).put(0xFFFC, 16).put('a', 8).put('b', 8).put('c', 8);
  std::vector<uint8_t> lengths(286, 9);
  for (unsigned s = 0; s < 226; s++) lengths[s] = 8;
  std::vector<uint8_t> dist(30, 5);
  dist[0] = dist[1] = 4;
  std::vector<uint8_t> all = lengths;
  all.insert(all.end(), dist.begin(), dist.end());
  dynamic_header(w, true, 286, 30, plain_items(all));
  w.code(canonical(lengths)[256], 9);
  const Bytes stream = w.done();
  ASSERT_TRUE(zlib_accepts_raw(stream, to_bytes("abc")));
  for (size_t cut = 8; cut * 8 < 64 + 1338; cut++) {
    Result r = read_all(deflate_decompress, Bytes(stream.begin(), stream.begin() + long(cut)));
    ASSERT_EQ(r.status, kDeflateDone) << cut;
    ASSERT_EQ(r.data, to_bytes("abc")) << cut;
  }
}

// --- the zlib and gzip readers ---------------------------------------------

// A gzip file of [data] with the optional fields of [flags] (extra, name,
// comment, header CRC), the stream zlib's.
Bytes gzip_with(const Bytes& data, uint8_t flags) {
  Bytes g = {0x1F, 0x8B, 8, flags, 1, 2, 3, 4, 0, 3};
  if (flags & 4) {
    put_le(g, 6, 2);
    for (uint8_t c : {uint8_t('A'), uint8_t('B'), uint8_t(2), uint8_t(0), uint8_t('x'), uint8_t('y')})
      g.push_back(c);
  }
  if (flags & 8) {
    for (char c : std::string("file.txt")) g.push_back(uint8_t(c));
    g.push_back(0);
  }
  if (flags & 16) {
    for (char c : std::string("a comment")) g.push_back(uint8_t(c));
    g.push_back(0);
  }
  if (flags & 2) put_le(g, crc_of(g) & 0xFFFF, 2);
  Bytes raw = zlib_deflate(data, -15);
  g.insert(g.end(), raw.begin(), raw.end());
  put_le(g, crc_of(data), 4);
  put_le(g, uint32_t(data.size()), 4);
  return g;
}

TEST(GzipRead, OptionalHeaderFields) {
  const Bytes data = sample_text(3000, 21);
  for (uint8_t flags = 0; flags < 32; flags += 2) {
    SCOPED_TRACE(int(flags));
    Bytes g = gzip_with(data, flags);
    EXPECT_EQ(read_all(gzip_decompress, g).data, data);
    if (flags & 2) {
      // One header byte altered: the header CRC no longer matches.
      Bytes bad = g;
      bad[5] ^= 1;
      EXPECT_EQ(read_all(gzip_decompress, bad).status, kDeflateBadData);
    }
  }
}

TEST(GzipRead, BadHeadersAndTrailers) {
  const Bytes data = sample_text(3000, 22);
  const Bytes good = gzip_with(data, 8);
  auto altered = [&](size_t at, uint8_t value) {
    Bytes b = good;
    b[at] = value;
    return b;
  };
  Bytes long_extra = gzip_with(data, 4);
  long_extra[10] = long_extra[11] = 0xFF;
  Bytes open_name = {0x1F, 0x8B, 8, 8, 0, 0, 0, 0, 0, 3};
  open_name.resize(40, 'n');
  Bytes two_members = gzip_with(data, 0);
  Bytes second = gzip_with(sample_text(100, 23), 0);
  two_members.insert(two_members.end(), second.begin(), second.end());
  Bytes hostile = {0x1F, 0x8B, 8, 0, 0, 0, 0, 0, 0, 3, 0x03, 0x00};
  put_le(hostile, 0, 4);
  put_le(hostile, 1033 * 2, 4);
  const std::vector<std::pair<const char*, Bytes>> cases = {
      {"too short", Bytes(good.begin(), good.begin() + 17)},
      {"magic", altered(1, 0x8C)},
      {"method", altered(2, 7)},
      {"reserved flag", altered(3, 0x28)},
      {"extra field past the trailer", long_extra},
      {"unterminated name", open_name},
      {"CRC", altered(good.size() - 8, good[good.size() - 8] ^ 1)},
      {"ISIZE", altered(good.size() - 4, good[good.size() - 4] ^ 1)},
      {"two members", two_members},
  };
  for (const auto& [what, bytes] : cases) {
    SCOPED_TRACE(what);
    EXPECT_EQ(read_into(gzip_decompress, bytes, 1 << 20).status, kDeflateBadData);
  }
  // Above 1,032 times the DEFLATE data, ISIZE is not believed; at 1,032
  // times, it is reported without inflating.
  EXPECT_EQ(read_into(gzip_decompress, hostile, 100).status, kDeflateBadData);
  hostile.resize(hostile.size() - 4);
  put_le(hostile, 1032 * 2, 4);
  Result r = read_into(gzip_decompress, hostile, 100);
  EXPECT_EQ(r.status, kDeflateTooSmall);
  EXPECT_EQ(r.size, 1032u * 2);
}

TEST(ZlibRead, Headers) {
  const Bytes data = sample_text(2000, 31);
  Bytes good = zlib_deflate(data, 15);
  ASSERT_EQ(good[0], 0x78);
  ASSERT_EQ(good[1], 0x9C);
  struct Case {
    uint8_t cmf, flg;
    int status;
  } cases[] = {
      {0x78, 0x9C, kDeflateDone},    {0x78, 0x01, kDeflateDone},    {0x78, 0xDA, kDeflateDone},
      {0x08, 0x1D, kDeflateDone},    {0x78, 0x20, kDeflateBadData},  // preset dictionary
      {0x88, 0x01, kDeflateBadData},                                 // window above 32 KB, check bits
      {0x88, 0x1C, kDeflateBadData},                                 // window above 32 KB
      {0x78, 0x00, kDeflateBadData},                                 // check bits
      {0x77, 0x09, kDeflateBadData},                                 // method 7
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(int(c.cmf) * 256 + c.flg);
    Bytes b = good;
    b[0] = c.cmf;
    b[1] = c.flg;
    Result r = read_all(zlib_decompress, b);
    EXPECT_EQ(r.status, c.status);
    if (c.status == kDeflateDone) {
      EXPECT_EQ(r.data, data);
    }
  }
  Bytes bad_adler = good;
  bad_adler.back() ^= 1;
  EXPECT_EQ(read_all(zlib_decompress, bad_adler).status, kDeflateBadData);
  EXPECT_EQ(read_all(zlib_decompress, Bytes(good.begin(), good.begin() + 5)).status, kDeflateBadData);
}

TEST(WrappedRead, StreamsCutAnywhereAreRefused) {
  const Bytes data = sample_text(4000, 41);
  const Bytes empty;
  const std::vector<std::pair<Reader, Bytes>> streams = {
      {zlib_decompress, zlib_deflate(data, 15)},    {zlib_decompress, zlib_deflate(empty, 15)},
      {zlib_decompress, zlib_deflate(data, 15, 0)}, {gzip_decompress, gzip_with(data, 2 | 4 | 8 | 16)},
      {gzip_decompress, gzip_with(empty, 0)},       {gzip_decompress, zlib_deflate(data, 31, 0)},
  };
  for (const auto& [reader, stream] : streams) {
    ASSERT_EQ(read_all(reader, stream).status, kDeflateDone);
    for (size_t cut = 0; cut < stream.size(); cut++) {
      // A gzip reader may first ask for room for a cut stream's would-be
      // ISIZE; given it, it refuses the stream.
      Result r = read_all(reader, Bytes(stream.begin(), stream.begin() + long(cut)));
      ASSERT_TRUE(deflate_bad_data_q(r.status)) << "cut at " << cut << " of " << stream.size();
    }
  }
}

}  // namespace
}  // namespace kiv
