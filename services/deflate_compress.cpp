// The DEFLATE compressor: one call turns a whole buffer into one raw stream.
//
// Matches are found through a rolling three-byte hash, a table of the last
// position seen for each hash value and a chain linking each position to the
// previous one with the same hash (32 KiB of positions); the search is lazy
// (a match is held back one position in case the next one is longer) and
// bounded by the chain limits and the nice length below. Symbols gather in a
// buffer of 16,384; each full buffer becomes one block, written stored, with
// the fixed code or with codes of its own, whichever costs the fewest bits.
//
// The stream is a function of the input alone: every choice (hash seed and
// width, chain limits, ties in the Huffman code lengths) is fixed, so the
// same input gives the same bytes in every build. Positions are 1-based in
// the tables so that 0 means "none"; they are rebased now and then so that
// inputs past 4 GiB still fit 32 bits, without changing any choice.
//
// The output is written only while it fits, but its size is always counted,
// so a caller whose buffer was too small learns the size it needs.
#include <algorithm>
#include <array>
#include <cstring>
#include <memory>

#include "services/deflate.h"
#include "services/deflate_compress_detail.h"

namespace kiv {

namespace {

constexpr int kLitLenCodes = 286;  // literal/length symbols a dynamic code covers
constexpr int kFixedLitLenCodes = 288;
constexpr int kDistanceCodes = 30;
constexpr int kCodeLengthCodes = 19;
constexpr int kEndOfBlock = 256;
constexpr int kMaxCodeBits = 15;
constexpr int kMaxCodeLengthBits = 7;

constexpr uint32_t kWindowMask = 0x7FFF;  // the chain is indexed by position mod 32,768
constexpr uint32_t kWindowSize = 32768;
constexpr uint32_t kMaxDistance = 32767;  // farthest candidate searched
constexpr uint32_t kMaxMatch = 258;
constexpr uint32_t kNiceLength = 128;    // a match this long ends the search
constexpr uint32_t kMaxChain = 128;      // candidates tried per search
constexpr uint32_t kGoodLength = 8;      // a pending match this long cuts the chain to a quarter
constexpr uint32_t kMaxLazyLength = 15;  // a pending match longer than this is taken unsearched
constexpr uint32_t kFarLength3 = 4096;   // a 3-byte match farther back is not worth its distance
constexpr uint32_t kBlockSymbols = 16384;
constexpr size_t kMaxStoredPiece = 65535;
constexpr uint32_t kDefaultRebaseAt = 1u << 30;

// The order in which a dynamic block sends the code-length code's lengths.
constexpr uint8_t kCodeLengthOrder[kCodeLengthCodes] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                                        11, 4,  12, 3, 13, 2, 14, 1, 15};

// Length symbols 257-285 and distance symbols 0-29: first value, extra bits.
constexpr uint16_t kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                      31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                      2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr uint16_t kDistanceBase[kDistanceCodes] = {
    1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
    193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr uint8_t kDistanceExtra[kDistanceCodes] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                                    6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

struct StaticTables {
  std::array<uint8_t, 256> length_code{};    // match length - 3 -> length symbol - 257
  std::array<uint8_t, 512> distance_code{};  // see distance_code()
  std::array<uint8_t, 256> reversed{};       // each byte with its bits in reverse order
  std::array<uint8_t, kFixedLitLenCodes> fixed_lit_len{};
};

constexpr StaticTables make_static_tables() {
  StaticTables t;
  for (int code = 0; code < 29; code++)
    for (int n = 0; n < (1 << kLengthExtra[code]); n++) {
      int length = kLengthBase[code] + n;
      if (length <= int(kMaxMatch)) t.length_code[length - 3] = uint8_t(code);
    }
  t.length_code[kMaxMatch - 3] = 28;  // 258 has a symbol of its own, not 284 with extra bits 31
  // Distances 1-256 by distance - 1; above, by (distance - 1) >> 7 in the upper half.
  for (int code = 0; code < kDistanceCodes; code++)
    for (int n = 0; n < (1 << kDistanceExtra[code]); n++) {
      int d = kDistanceBase[code] + n - 1;
      if (d < 256)
        t.distance_code[d] = uint8_t(code);
      else
        t.distance_code[256 + (d >> 7)] = uint8_t(code);
    }
  for (int i = 0; i < 256; i++) {
    int r = 0;
    for (int b = 0; b < 8; b++) r |= ((i >> b) & 1) << (7 - b);
    t.reversed[i] = uint8_t(r);
  }
  for (int s = 0; s < kFixedLitLenCodes; s++)
    t.fixed_lit_len[s] = s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8;
  return t;
}

constexpr StaticTables kTables = make_static_tables();

inline uint32_t distance_code(uint32_t distance) {
  uint32_t d = distance - 1;
  return d < 256 ? kTables.distance_code[d] : kTables.distance_code[256 + (d >> 7)];
}

// [code] of [bits] bits, reversed so that it leaves the writer most
// significant bit first.
inline uint16_t reverse_code(uint32_t code, int bits) {
  uint32_t r = uint32_t(kTables.reversed[code & 0xFF]) << 8 | kTables.reversed[(code >> 8) & 0xFF];
  return uint16_t(r >> (16 - bits));
}

// Appends bits least significant first; whole bytes go out 32 bits at a time
// (the stream is the same as byte by byte). Bytes past the end of the output
// are counted, not stored.
class BitWriter {
 public:
  BitWriter(uint8_t* out, size_t capacity) : out_(out), capacity_(capacity) {}

  // Appends the low [count] bits of [bits] (count at most 16, higher bits clear).
  void put(uint32_t bits, unsigned count) {
    buffer_ |= uint64_t(bits) << held_;
    held_ += count;
    if (held_ >= 32) {
      store4(uint32_t(buffer_));
      buffer_ >>= 32;
      held_ -= 32;
    }
  }

  // Bits held past the last whole byte: where the next bit falls in its byte.
  unsigned bit_phase() const { return held_ & 7; }

  // Pads with zero bits to the next byte boundary and sends out every whole byte held.
  void align() {
    held_ = (held_ + 7) & ~7u;
    while (held_ > 0) {
      store1(uint8_t(buffer_));
      buffer_ >>= 8;
      held_ -= 8;
    }
  }

  // Appends [n] bytes; the writer must be aligned.
  void put_bytes(const uint8_t* bytes, size_t n) {
    if (n > 0 && pos_ < capacity_) std::memcpy(out_ + pos_, bytes, std::min(n, capacity_ - pos_));
    pos_ += n;
  }

  // The size of the stream so far, with the bits held rounded up to a byte.
  size_t size() const { return pos_ + (held_ + 7) / 8; }
  bool fitted() const { return size() <= capacity_; }

 private:
  void store1(uint8_t b) {
    if (pos_ < capacity_) out_[pos_] = b;
    pos_++;
  }
  void store4(uint32_t w) {
    if (pos_ < capacity_ && capacity_ - pos_ >= 4) {
      uint8_t b[4] = {uint8_t(w), uint8_t(w >> 8), uint8_t(w >> 16), uint8_t(w >> 24)};
      std::memcpy(out_ + pos_, b, 4);
      pos_ += 4;
    } else {
      for (int i = 0; i < 4; i++) store1(uint8_t(w >> (8 * i)));
    }
  }

  uint8_t* out_;
  size_t capacity_;
  size_t pos_ = 0;
  uint64_t buffer_ = 0;
  unsigned held_ = 0;
};

// Code lengths in place over [a] (the counts of [n] symbols sorted from least
// to most frequent): afterwards a[i] is the code length of the i-th, longest
// first. Three passes: pair the two smallest weights (leaves from the left,
// internal nodes behind them), turn parent links into depths, then leaf depths.
void minimum_redundancy_lengths(uint32_t* a, int n) {
  int root = 0, leaf = 2;
  a[0] += a[1];
  for (int next = 1; next < n - 1; next++) {
    if (leaf >= n || a[root] < a[leaf]) {
      a[next] = a[root];
      a[root++] = uint32_t(next);
    } else {
      a[next] = a[leaf++];
    }
    if (leaf >= n || (root < next && a[root] < a[leaf])) {
      a[next] += a[root];
      a[root++] = uint32_t(next);
    } else {
      a[next] += a[leaf++];
    }
  }
  a[n - 2] = 0;
  for (int next = n - 3; next >= 0; next--) a[next] = a[a[next]] + 1;
  int available = 1, used = 0, next = n - 1;
  uint32_t depth = 0;
  root = n - 2;
  while (available > 0) {
    while (root >= 0 && a[root] == depth) {
      used++;
      root--;
    }
    while (available > used) {
      a[next--] = depth;
      available--;
    }
    available = 2 * used;
    depth++;
    used = 0;
  }
}

// Canonical codes for [n] symbols of [lengths], stored reversed in [codes].
void canonical_codes(const uint8_t* lengths, int n, uint16_t* codes) {
  uint32_t count[kMaxCodeBits + 1] = {};
  for (int s = 0; s < n; s++) count[lengths[s]]++;
  count[0] = 0;
  uint32_t next[kMaxCodeBits + 1] = {};
  uint32_t code = 0;
  for (int bits = 1; bits <= kMaxCodeBits; bits++) {
    code = (code + count[bits - 1]) << 1;
    next[bits] = code;
  }
  for (int s = 0; s < n; s++) codes[s] = lengths[s] ? reverse_code(next[lengths[s]]++, lengths[s]) : 0;
}

// One symbol of the code-length alphabet with its extra bits' value.
struct CodeLengthSymbol {
  uint8_t symbol;
  uint8_t extra;
};

constexpr uint8_t kCodeLengthExtraBits[kCodeLengthCodes] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                                            0, 0, 0, 0, 0, 0, 2, 3, 7};

// Run-length codes the [n] code lengths [lengths] into [out] from [*count] on,
// counting each symbol in [freq]. A run of one length stops at 138 zeros, at
// the first length and 6 repeats (16) after a change, or at 6 repeats when it
// continues a run cut at its limit; shorter runs than 3 (4 for a new
// non-zero length, which costs its first copy) go out one by one.
void run_length_code(const uint8_t* lengths, int n, CodeLengthSymbol* out, int* count, uint32_t* freq) {
  auto emit = [&](int symbol, int extra) {
    out[(*count)++] = CodeLengthSymbol{uint8_t(symbol), uint8_t(extra)};
    freq[symbol]++;
  };
  int previous = -1, run = 0;
  int next = lengths[0];
  int max_run = next == 0 ? 138 : 7, min_run = next == 0 ? 3 : 4;
  for (int i = 0; i < n; i++) {
    int current = next;
    next = i + 1 < n ? lengths[i + 1] : -1;
    if (++run < max_run && current == next) continue;
    if (run < min_run) {
      for (int k = 0; k < run; k++) emit(current, 0);
    } else if (current != 0) {
      if (current != previous) {
        emit(current, 0);
        run--;
      }
      emit(16, run - 3);
    } else if (run <= 10) {
      emit(17, run - 3);
    } else {
      emit(18, run - 11);
    }
    run = 0;
    previous = current;
    if (next == 0)
      max_run = 138, min_run = 3;
    else if (current == next)
      max_run = 6, min_run = 3;
    else
      max_run = 7, min_run = 4;
  }
}

// The tables of one call: position tables, the pending symbols and the
// per-block counts and codes.
struct Compressor {
  const uint8_t* in = nullptr;
  size_t in_len = 0;
  BitWriter writer;

  std::unique_ptr<uint32_t[]> head;   // per hash value: last position, 0 for none
  std::unique_ptr<uint32_t[]> chain;  // per position mod 32,768: the previous one with its hash
  size_t head_size = 0, chain_size = 0;
  size_t base = 0;  // the tables hold position - base

  std::unique_ptr<uint32_t[]> symbols;  // a literal byte, or distance << 8 | (length - 3)
  uint32_t symbol_count = 0;
  size_t block_start = 0;  // input offset of the block's first byte
  size_t block_bytes = 0;  // input bytes its symbols cover

  uint32_t lit_len_freq[kFixedLitLenCodes] = {};
  uint32_t distance_freq[kDistanceCodes] = {};

  uint8_t lit_len_lengths[kLitLenCodes] = {};
  uint8_t distance_lengths[kDistanceCodes] = {};
  uint16_t lit_len_codes[kFixedLitLenCodes] = {};
  uint16_t distance_codes[kDistanceCodes] = {};
  uint16_t fixed_lit_len_codes[kFixedLitLenCodes] = {};
  uint8_t fixed_distance_lengths[kDistanceCodes] = {};
  uint16_t fixed_distance_codes[kDistanceCodes] = {};

  Compressor(uint8_t* out, size_t capacity) : writer(out, capacity) {
    canonical_codes(kTables.fixed_lit_len.data(), kFixedLitLenCodes, fixed_lit_len_codes);
    std::fill(std::begin(fixed_distance_lengths), std::end(fixed_distance_lengths), uint8_t(5));
    canonical_codes(fixed_distance_lengths, kDistanceCodes, fixed_distance_codes);
  }

  void literal(uint8_t byte) {
    symbols[symbol_count++] = byte;
    lit_len_freq[byte]++;
    block_bytes++;
    if (symbol_count == kBlockSymbols) write_block(false);
  }

  void match(uint32_t length, uint32_t distance) {
    symbols[symbol_count++] = distance << 8 | (length - 3);
    lit_len_freq[257 + kTables.length_code[length - 3]]++;
    distance_freq[distance_code(distance)]++;
    block_bytes += length;
    if (symbol_count == kBlockSymbols) write_block(false);
  }

  void write_block(bool final);
  void write_stored(bool final);
  void write_symbols(const uint16_t* lit_codes, const uint8_t* lit_lengths, const uint16_t* dist_codes,
                     const uint8_t* dist_lengths);
  void rebase(size_t position);
  void run(uint32_t rebase_at);
};

void Compressor::write_symbols(const uint16_t* lit_codes, const uint8_t* lit_lengths,
                               const uint16_t* dist_codes, const uint8_t* dist_lengths) {
  BitWriter& w = writer;
  for (uint32_t i = 0; i < symbol_count; i++) {
    uint32_t s = symbols[i];
    if (s < 256) {
      w.put(lit_codes[s], lit_lengths[s]);
      continue;
    }
    uint32_t length_minus3 = s & 0xFF, distance = s >> 8;
    uint32_t lc = kTables.length_code[length_minus3];
    uint32_t dc = distance_code(distance);
    uint32_t bits = lit_codes[257 + lc], count = lit_lengths[257 + lc];
    bits |= (length_minus3 + 3 - kLengthBase[lc]) << count;
    count += kLengthExtra[lc];  // at most 15 + 5 bits
    w.put(bits & 0xFFFF, std::min(count, 16u));
    if (count > 16) w.put(bits >> 16, count - 16);
    bits = dist_codes[dc] | (distance - kDistanceBase[dc]) << dist_lengths[dc];
    count = dist_lengths[dc] + kDistanceExtra[dc];  // at most 15 + 13 bits
    w.put(bits & 0xFFFF, std::min(count, 16u));
    if (count > 16) w.put(bits >> 16, count - 16);
  }
  w.put(lit_codes[kEndOfBlock], lit_lengths[kEndOfBlock]);
}

void Compressor::write_stored(bool final) {
  size_t offset = block_start, left = block_bytes;
  do {
    size_t piece = std::min(left, kMaxStoredPiece);
    writer.put(final && piece == left ? 1 : 0, 3);  // BFINAL, BTYPE 00
    writer.align();
    writer.put(uint32_t(piece), 16);
    writer.put(uint32_t(~piece & 0xFFFF), 16);
    writer.align();
    writer.put_bytes(in + offset, piece);
    offset += piece;
    left -= piece;
  } while (left > 0);
}

void Compressor::write_block(bool final) {
  lit_len_freq[kEndOfBlock] = 1;
  deflate_huffman_lengths(lit_len_freq, kLitLenCodes, kMaxCodeBits, lit_len_lengths);
  deflate_huffman_lengths(distance_freq, kDistanceCodes, kMaxCodeBits, distance_lengths);
  int hlit = kLitLenCodes, hdist = kDistanceCodes;
  while (hlit > 257 && lit_len_lengths[hlit - 1] == 0) hlit--;
  while (hdist > 1 && distance_lengths[hdist - 1] == 0) hdist--;

  CodeLengthSymbol runs[kLitLenCodes + kDistanceCodes];
  int run_count = 0;
  uint32_t cl_freq[kCodeLengthCodes] = {};
  run_length_code(lit_len_lengths, hlit, runs, &run_count, cl_freq);
  run_length_code(distance_lengths, hdist, runs, &run_count, cl_freq);
  uint8_t cl_lengths[kCodeLengthCodes];
  deflate_huffman_lengths(cl_freq, kCodeLengthCodes, kMaxCodeLengthBits, cl_lengths);
  int hclen = kCodeLengthCodes;
  while (hclen > 4 && cl_lengths[kCodeLengthOrder[hclen - 1]] == 0) hclen--;

  // Exact sizes in bits of the three encodings.
  uint64_t extra = 0, dynamic = 17 + 3 * uint64_t(hclen), fixed = 3;
  for (int s = 0; s < kLitLenCodes; s++) {
    uint64_t f = lit_len_freq[s];
    if (f == 0) continue;
    if (s > 256) extra += f * kLengthExtra[s - 257];
    dynamic += f * lit_len_lengths[s];
    fixed += f * kTables.fixed_lit_len[s];
  }
  for (int s = 0; s < kDistanceCodes; s++) {
    uint64_t f = distance_freq[s];
    extra += f * kDistanceExtra[s];
    dynamic += f * distance_lengths[s];
    fixed += f * fixed_distance_lengths[s];
  }
  for (int s = 0; s < kCodeLengthCodes; s++)
    dynamic += uint64_t(cl_freq[s]) * (cl_lengths[s] + kCodeLengthExtraBits[s]);
  dynamic += extra;
  fixed += extra;
  uint64_t pieces = block_bytes == 0 ? 1 : (block_bytes + kMaxStoredPiece - 1) / kMaxStoredPiece;
  uint64_t stored =
      3 + (8 - ((writer.bit_phase() + 3) & 7)) % 8 + 32 + 40 * (pieces - 1) + 8 * uint64_t(block_bytes);

  if (std::min(dynamic, fixed) >= stored) {
    write_stored(final);
  } else if (dynamic < fixed) {
    canonical_codes(lit_len_lengths, kLitLenCodes, lit_len_codes);
    canonical_codes(distance_lengths, kDistanceCodes, distance_codes);
    uint16_t cl_codes[kCodeLengthCodes];
    canonical_codes(cl_lengths, kCodeLengthCodes, cl_codes);
    writer.put(final ? 1 : 0, 1);
    writer.put(2, 2);
    writer.put(uint32_t(hlit - 257), 5);
    writer.put(uint32_t(hdist - 1), 5);
    writer.put(uint32_t(hclen - 4), 4);
    for (int i = 0; i < hclen; i++) writer.put(cl_lengths[kCodeLengthOrder[i]], 3);
    for (int i = 0; i < run_count; i++) {
      int s = runs[i].symbol;
      writer.put(cl_codes[s], cl_lengths[s]);
      if (kCodeLengthExtraBits[s]) writer.put(runs[i].extra, kCodeLengthExtraBits[s]);
    }
    write_symbols(lit_len_codes, lit_len_lengths, distance_codes, distance_lengths);
  } else {
    writer.put(final ? 1 : 0, 1);
    writer.put(1, 2);
    write_symbols(fixed_lit_len_codes, kTables.fixed_lit_len.data(), fixed_distance_codes,
                  fixed_distance_lengths);
  }

  std::fill(std::begin(lit_len_freq), std::end(lit_len_freq), 0u);
  std::fill(std::begin(distance_freq), std::end(distance_freq), 0u);
  symbol_count = 0;
  block_start += block_bytes;
  block_bytes = 0;
}

// Moves [base] up by a multiple of 32,768, leaving [position] one window above
// it; entries that fall to 0 or below were a window or more back, which
// no search reaches, so "none" stands for them exactly.
void Compressor::rebase(size_t position) {
  size_t relative = position - base;
  uint32_t delta = uint32_t((relative - kWindowSize) & ~size_t(kWindowMask));
  auto shift = [delta](uint32_t v) { return v > delta ? v - delta : 0; };
  for (size_t i = 0; i < head_size; i++) head[i] = shift(head[i]);
  for (size_t i = 0; i < chain_size; i++) chain[i] = shift(chain[i]);
  base += delta;
}

// How many bytes [a] and [b] share from [start] on, at most [limit].
inline uint32_t common_length(const uint8_t* a, const uint8_t* b, uint32_t start, uint32_t limit) {
  uint32_t n = start;
  while (n + 8 <= limit) {
    uint64_t x, y;
    std::memcpy(&x, a + n, 8);
    std::memcpy(&y, b + n, 8);
    if (x != y) return n + uint32_t(__builtin_ctzll(x ^ y)) / 8;  // little-endian: the first byte is lowest
    n += 8;
  }
  while (n < limit && a[n] == b[n]) n++;
  return n;
}

inline uint16_t load16(const uint8_t* p) {
  uint16_t v;
  std::memcpy(&v, p, 2);
  return v;
}

void Compressor::run(uint32_t rebase_at) {
  const uint8_t* data = in;
  const size_t n = in_len;
  uint32_t hash_bits = 8;
  while (hash_bits < 15 && (size_t(1) << hash_bits) < n) hash_bits++;
  const uint32_t hash_mask = (1u << hash_bits) - 1;
  head_size = size_t(1) << hash_bits;
  chain_size = n < kWindowSize ? n + 1 : kWindowSize;
  head = std::make_unique<uint32_t[]>(head_size);  // zeroed: no position yet
  chain.reset(new uint32_t[chain_size]);           // written before it is read
  symbols.reset(new uint32_t[std::min<size_t>(kBlockSymbols, std::max<size_t>(n, 1))]);

  // The hash of position p covers bytes p, p + 1 and p + 2 (1-based).
  uint32_t hash = n >= 2 ? uint32_t(data[0]) << 5 ^ data[1] : 0;
  uint32_t skip = 0;         // positions left inside the last match
  bool pending = false;      // the previous position waits as a literal or a match
  uint32_t prev_length = 2;  // its match length, 2 for none
  uint32_t prev_distance = 0;
  for (size_t p = 1; p <= n; p++) {
    if (p - base >= rebase_at) rebase(p);
    const uint32_t here = uint32_t(p - base);
    uint32_t candidate = 0;
    if (p + 2 <= n) {
      hash = (hash << 5 ^ data[p + 1]) & hash_mask;
      candidate = head[hash];
      head[hash] = here;
      chain[here & kWindowMask] = candidate;
    }
    if (skip > 0) {
      skip--;
      continue;
    }

    uint32_t length = 2, distance = 0;
    if (candidate != 0 && here - candidate <= kMaxDistance && prev_length <= kMaxLazyLength) {
      const size_t left = n - p + 1;
      const uint32_t max_length = left < kMaxMatch ? uint32_t(left) : kMaxMatch;
      uint32_t best = prev_length;  // only a match longer than the pending one counts
      if (max_length > best) {
        const uint32_t nice = std::min(kNiceLength, max_length);
        uint32_t tries = prev_length >= kGoodLength ? kMaxChain / 4 : kMaxChain;
        const uint8_t* s = data + p - 1;
        const uint16_t start = load16(s);
        uint32_t c = candidate;
        for (;;) {
          const uint8_t* m = s - (here - c);
          // Cheap tests first: a longer match agrees at its last two bytes
          // as long as the best so far, and at its first two.
          if (load16(m + best - 1) == load16(s + best - 1) && load16(m) == start) {
            uint32_t len = common_length(m, s, 2, max_length);
            if (len > best) {
              best = len;
              distance = here - c;
              if (len >= nice) break;
            }
          }
          if (--tries == 0) break;
          c = chain[c & kWindowMask];
          if (c == 0 || here - c > kMaxDistance) break;
        }
      }
      if (distance != 0) length = best;
      if (length == 3 && distance > kFarLength3) length = 2;
    }

    if (prev_length >= 3 && length <= prev_length) {
      match(prev_length, prev_distance);
      skip = prev_length - 2;  // the match ends at p + prev_length - 2
      prev_length = 2;
      pending = false;
    } else {
      if (pending) literal(data[p - 2]);
      pending = true;
      prev_length = length;
      prev_distance = distance;
    }
  }
  if (pending) literal(data[n - 1]);
  write_block(true);
  writer.align();
}

int compress(uint8_t* out, size_t* size, const uint8_t* in, size_t in_len, uint32_t rebase_at) {
  Compressor c(out, *size);
  c.in = in;
  c.in_len = in_len;
  c.run(std::max<uint32_t>(2 * kWindowSize, rebase_at & ~kWindowMask));
  *size = c.writer.size();
  return c.writer.fitted() ? kDeflateDone : kDeflateTooSmall;
}

}  // namespace

void deflate_huffman_lengths(const uint32_t* freq, int count, int limit, uint8_t* lengths) {
  uint16_t order[kLitLenCodes];
  uint32_t weight[kLitLenCodes];
  int used = 0;
  for (int s = 0; s < count; s++) {
    lengths[s] = 0;
    if (freq[s] == 0) continue;
    // Stable insertion by count: equal counts keep symbol order.
    int i = used++;
    while (i > 0 && freq[order[i - 1]] > freq[s]) {
      order[i] = order[i - 1];
      i--;
    }
    order[i] = uint16_t(s);
  }
  if (used < 2) {
    // A code needs two symbols: 0 and 1, or the one used symbol and 0.
    lengths[0] = 1;
    if (used == 1 && order[0] > 1)
      lengths[order[0]] = 1;
    else
      lengths[1] = 1;
    return;
  }
  for (int i = 0; i < used; i++) weight[i] = freq[order[i]];
  minimum_redundancy_lengths(weight, used);

  uint32_t per_length[kLitLenCodes + 1] = {};
  for (int i = 0; i < used; i++) per_length[weight[i]]++;
  int longest = int(weight[0]);
  if (longest > limit) {
    // Fold the overlong codes into the limit, then while the code is
    // over-full take one code off the deepest level and hang it, with a code
    // from the deepest shorter level, one level below that one.
    for (int bits = limit + 1; bits <= longest; bits++) per_length[limit] += per_length[bits];
    uint64_t kraft = 0;
    for (int bits = 1; bits <= limit; bits++) kraft += uint64_t(per_length[bits]) << (limit - bits);
    while (kraft > (uint64_t(1) << limit) && per_length[limit] > 0) {
      per_length[limit]--;
      int bits = limit - 1;
      while (bits > 0 && per_length[bits] == 0) bits--;
      if (bits == 0) break;
      per_length[bits]--;
      per_length[bits + 1] += 2;
      kraft--;
    }
    longest = limit;
  }
  int i = 0;
  for (int bits = longest; bits >= 1; bits--)
    for (uint32_t k = 0; k < per_length[bits]; k++) lengths[order[i++]] = uint8_t(bits);
}

int deflate_compress_rebasing_at(uint8_t* out, size_t* size, const uint8_t* in, size_t in_len,
                                 uint32_t rebase_at) {
  return compress(out, size, in, in_len, rebase_at);
}

int deflate_compress(uint8_t* out, size_t* size, const uint8_t* in, size_t in_len) {
  return compress(out, size, in, in_len, kDefaultRebaseAt);
}

}  // namespace kiv
