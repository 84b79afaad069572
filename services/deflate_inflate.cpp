// Raw DEFLATE inflation in one call, into caller memory.
//
// Symbols are decoded through lookup tables indexed by the next input bits
// (held least significant first in a 64-bit buffer): a primary table of
// 2^kLitBits (literal/length) or 2^kDistBits (distance) entries resolves every
// code up to that length at once; a longer code's prefix entry points to a
// subtable indexed by the bits after the prefix. An entry packs
//   bits 0-3   the code bits it consumes (for a subtable pointer: the primary
//              bits; in a subtable: the code length less the primary bits)
//   bits 4-7   the extra bits that follow the symbol (a pointer: the
//              subtable's index bits)
//   bits 8-10  the kind: symbol (literal byte, distance, code length), match
//              length, end of block, subtable pointer, or invalid
//   bits 16-31 the value: literal byte, base length, base distance, code
//              length symbol, or the subtable's first index.
// Every bit pattern has an entry; the patterns no code owns (only possible in
// the one incomplete code allowed, a single one-bit code, or an empty code)
// and the symbols that must not occur (literal/length 286-287, distance
// 30-31) are invalid entries, so a table is never indexed out of range and a
// bad symbol is bad data.
//
// Input past its end reads as zero bits. The stream is done at the end of the
// final block; when the input runs out first, the symbol in progress is
// finished with those zero bits and decoding stops there (a block header cut
// short produces nothing). The output position counts every byte produced;
// bytes at or past the output's end are counted but never stored, and a
// match copies only from stored bytes (its source lies below its target).
#include "services/deflate_inflate.h"

#include <bit>
#include <cstring>

#include "services/deflate.h"

namespace kiv {

namespace {

constexpr unsigned kLitBits = 10;
constexpr unsigned kDistBits = 8;
constexpr unsigned kCodeLengthBits = 7;
constexpr unsigned kMaxCodeBits = 15;
constexpr unsigned kMaxLitSymbols = 288;
constexpr unsigned kMaxDistSymbols = 32;
constexpr unsigned kCodeLengthSymbols = 19;
constexpr unsigned kMaxMatch = 258;

// A complete code's subtables: one per prefix, 2^s entries resolving s bits,
// holding at least s + 1 codes; so 286 literal/length codes need at most
// 286 / 6 * 32 entries past the primary table, 30 distance codes 30 / 8 * 128.
constexpr size_t kLitTableSize = (size_t(1) << kLitBits) + 1536;
constexpr size_t kDistTableSize = (size_t(1) << kDistBits) + 512;
constexpr size_t kCodeLengthTableSize = size_t(1) << kCodeLengthBits;

enum EntryKind : uint32_t {
  kSymbol = 0,
  kLength = 1,
  kEndOfBlock = 2,
  kSubtable = 3,
  kInvalid = 4,
};

constexpr uint32_t make_entry(EntryKind kind, unsigned extra, unsigned value) {
  return uint32_t(value) << 16 | uint32_t(kind) << 8 | uint32_t(extra) << 4;
}
constexpr unsigned entry_bits(uint32_t e) { return e & 15; }
constexpr unsigned entry_extra(uint32_t e) { return (e >> 4) & 15; }
constexpr uint32_t entry_kind(uint32_t e) { return (e >> 8) & 7; }
constexpr unsigned entry_value(uint32_t e) { return e >> 16; }

constexpr uint32_t kInvalidEntry = make_entry(kInvalid, 0, 0);

constexpr uint16_t kLengthBase[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
                                      31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr uint8_t kLengthExtra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                      2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr uint16_t kDistBase[30] = {1,    2,    3,    4,    5,    7,    9,    13,    17,    25,
                                    33,   49,   65,   97,   129,  193,  257,  385,   513,   769,
                                    1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr uint8_t kDistExtra[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                    6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

// The order in which a dynamic header lists the code-length code's lengths.
constexpr uint8_t kCodeLengthOrder[kCodeLengthSymbols] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                                          11, 4,  12, 3, 13, 2, 14, 1, 15};

// What each symbol decodes to, less its code bits.
struct SymbolInfo {
  uint32_t lit[kMaxLitSymbols];
  uint32_t dist[kMaxDistSymbols];
  uint32_t code_length[kCodeLengthSymbols];
};

constexpr SymbolInfo make_symbol_info() {
  SymbolInfo info{};
  for (unsigned s = 0; s < 256; s++) info.lit[s] = make_entry(kSymbol, 0, s);
  info.lit[256] = make_entry(kEndOfBlock, 0, 0);
  for (unsigned s = 257; s < 286; s++)
    info.lit[s] = make_entry(kLength, kLengthExtra[s - 257], kLengthBase[s - 257]);
  info.lit[286] = info.lit[287] = kInvalidEntry;
  for (unsigned s = 0; s < 30; s++) info.dist[s] = make_entry(kSymbol, kDistExtra[s], kDistBase[s]);
  info.dist[30] = info.dist[31] = kInvalidEntry;
  for (unsigned s = 0; s < kCodeLengthSymbols; s++) info.code_length[s] = make_entry(kSymbol, 0, s);
  return info;
}

constexpr SymbolInfo kSymbolInfo = make_symbol_info();

unsigned reverse_bits(unsigned code, unsigned length) {
  unsigned r = 0;
  for (unsigned i = 0; i < length; i++) {
    r = r << 1 | (code & 1);
    code >>= 1;
  }
  return r;
}

// Fills [table] (room for [capacity] entries) for the canonical code whose
// lengths are [lengths] over [count] symbols, decoding to [info]. False for
// an over-subscribed code, and for an incomplete one unless [incomplete_ok]
// and the code is empty or a single one-bit code.
bool build_table(uint32_t* table, size_t capacity, unsigned primary_bits, const uint8_t* lengths,
                 unsigned count, const uint32_t* info, bool incomplete_ok) {
  unsigned counts[kMaxCodeBits + 1] = {};
  unsigned used = 0;
  unsigned longest = 0;
  for (unsigned s = 0; s < count; s++) {
    if (!lengths[s]) continue;
    counts[lengths[s]]++;
    used++;
    if (lengths[s] > longest) longest = lengths[s];
  }
  int left = 1;
  for (unsigned len = 1; len <= kMaxCodeBits; len++) {
    left = left * 2 - int(counts[len]);
    if (left < 0) return false;
  }
  if (left > 0 && !(incomplete_ok && (used == 0 || (used == 1 && counts[1] == 1)))) return false;

  const size_t primary_size = size_t(1) << primary_bits;
  for (size_t i = 0; i < primary_size; i++) table[i] = kInvalidEntry;
  unsigned next_code[kMaxCodeBits + 1] = {};
  for (unsigned len = 1, code = 0; len <= kMaxCodeBits; len++) {
    code = (code + counts[len - 1]) << 1;
    next_code[len] = code;
  }
  // A long code's subtable resolves as many bits as the longest code sharing
  // its prefix needs.
  uint8_t sub_bits[size_t(1) << kLitBits];
  if (longest > primary_bits) {
    memset(sub_bits, 0, primary_size);
    unsigned probe[kMaxCodeBits + 1];
    memcpy(probe, next_code, sizeof probe);
    for (unsigned s = 0; s < count; s++) {
      unsigned len = lengths[s];
      if (len <= primary_bits) continue;
      unsigned prefix = reverse_bits(probe[len]++, len) & unsigned(primary_size - 1);
      if (len - primary_bits > sub_bits[prefix]) sub_bits[prefix] = uint8_t(len - primary_bits);
    }
  }
  size_t next_free = primary_size;
  for (unsigned s = 0; s < count; s++) {
    unsigned len = lengths[s];
    if (!len) continue;
    unsigned rev = reverse_bits(next_code[len]++, len);
    if (len <= primary_bits) {
      for (size_t i = rev; i < primary_size; i += size_t(1) << len) table[i] = info[s] | len;
      continue;
    }
    unsigned prefix = rev & unsigned(primary_size - 1);
    unsigned bits = sub_bits[prefix];
    if (entry_kind(table[prefix]) != kSubtable) {
      if (next_free + (size_t(1) << bits) > capacity) return false;
      table[prefix] = make_entry(kSubtable, bits, unsigned(next_free)) | primary_bits;
      for (size_t i = 0; i < (size_t(1) << bits); i++) table[next_free + i] = kInvalidEntry;
      next_free += size_t(1) << bits;
    }
    size_t start = entry_value(table[prefix]);
    for (size_t i = rev >> primary_bits; i < (size_t(1) << bits); i += size_t(1) << (len - primary_bits)) {
      table[start + i] = info[s] | (len - primary_bits);
    }
  }
  return true;
}

struct FixedTables {
  uint32_t lit[size_t(1) << kLitBits];
  uint32_t dist[size_t(1) << kDistBits];
};

const FixedTables& fixed_tables() {
  static const FixedTables tables = [] {
    FixedTables t;
    uint8_t lengths[kMaxLitSymbols];
    for (unsigned s = 0; s < kMaxLitSymbols; s++) lengths[s] = s < 144 ? 8 : s < 256 ? 9 : s < 280 ? 7 : 8;
    build_table(t.lit, sizeof t.lit / sizeof t.lit[0], kLitBits, lengths, kMaxLitSymbols, kSymbolInfo.lit,
                false);
    for (unsigned s = 0; s < kMaxDistSymbols; s++) lengths[s] = 5;
    build_table(t.dist, sizeof t.dist / sizeof t.dist[0], kDistBits, lengths, kMaxDistSymbols,
                kSymbolInfo.dist, false);
    return t;
  }();
  return tables;
}

uint64_t load_le64(const uint8_t* p) {
  uint64_t v;
  memcpy(&v, p, 8);
  if constexpr (std::endian::native == std::endian::big) v = __builtin_bswap64(v);
  return v;
}

// How a block's symbols ended.
enum BlockEnd { kBlockDone = -1, kInputEnded = -2 };

class Inflater {
 public:
  Inflater(uint8_t* out, size_t cap, const uint8_t* in, size_t in_len)
      : in_start_(in), in_next_(in), in_end_(in + in_len), out_(out), cap_(cap) {}

  // Decodes the whole stream; returns a DeflateStatus (produced() counts the bytes).
  int run(InflateEnd* end);
  size_t produced() const { return pos_; }

 private:
  // Holds at least 57 bits afterwards; past the input's end, zero bits.
  void refill() {
    if (in_end_ - in_next_ >= 8) {
      bits_ |= load_le64(in_next_) << count_;
      in_next_ += (63 - count_) >> 3;
      count_ |= 56;
      return;
    }
    while (count_ <= 56) {
      if (in_next_ < in_end_) {
        bits_ |= uint64_t(*in_next_++) << count_;
      } else {
        zero_bytes_++;
      }
      count_ += 8;
    }
  }
  unsigned peek(unsigned n) const { return unsigned(bits_ & ((uint64_t(1) << n) - 1)); }
  void consume(unsigned n) {
    bits_ >>= n;
    count_ -= n;
  }
  unsigned take(unsigned n) {
    unsigned v = peek(n);
    consume(n);
    return v;
  }
  // Input bits not yet consumed: negative once zero bits past the end were.
  int64_t real_bits_left() const {
    return int64_t(in_end_ - in_next_) * 8 + int64_t(count_) - int64_t(zero_bytes_) * 8;
  }
  // Resolves a subtable pointer; consumes the code's bits.
  uint32_t decode(const uint32_t* table, unsigned primary_bits) {
    uint32_t e = table[peek(primary_bits)];
    if (entry_kind(e) == kSubtable) {
      consume(primary_bits);
      e = table[entry_value(e) + peek(entry_extra(e))];
    }
    consume(entry_bits(e));
    return e;
  }

  int stored_block();
  int dynamic_tables();
  int decode_symbols(const uint32_t* lit, const uint32_t* dist);
  void copy_match(size_t distance, size_t length);
  int finish(InflateEnd* end, bool complete);

  const uint8_t* in_start_;
  const uint8_t* in_next_;
  const uint8_t* in_end_;
  uint64_t bits_ = 0;
  unsigned count_ = 0;
  size_t zero_bytes_ = 0;
  uint8_t* out_;
  size_t cap_;
  size_t pos_ = 0;
  uint32_t lit_[kLitTableSize];
  uint32_t dist_[kDistTableSize];
};

int Inflater::finish(InflateEnd* end, bool complete) {
  if (end) {
    end->complete = complete && real_bits_left() >= 0;
    size_t bit_pos = size_t(in_next_ - in_start_) * 8 + zero_bytes_ * 8 - count_;
    end->consumed = (bit_pos + 7) / 8;
  }
  return pos_ > cap_ ? kDeflateTooSmall : kDeflateDone;
}

int Inflater::run(InflateEnd* end) {
  for (;;) {
    if (real_bits_left() <= 0) return finish(end, false);
    refill();
    bool final = take(1);
    unsigned type = take(2);
    if (real_bits_left() < 0) return finish(end, false);
    int status;
    if (type == 0) {
      status = stored_block();
    } else if (type == 1) {
      const FixedTables& fixed = fixed_tables();
      status = decode_symbols(fixed.lit, fixed.dist);
    } else if (type == 2) {
      status = dynamic_tables();
      if (status == kBlockDone) status = decode_symbols(lit_, dist_);
    } else {
      return kDeflateBadBlockType;
    }
    if (status == kInputEnded) return finish(end, false);
    if (status != kBlockDone) return status;
    if (final) return finish(end, true);
  }
}

int Inflater::stored_block() {
  consume(count_ & 7);
  refill();
  unsigned len = take(16);
  take(16);  // NLEN, its complement, is not compared
  if (real_bits_left() < 0) return kInputEnded;
  // The whole input bytes still in the buffer go back to the input (the
  // zero bytes past its end, the buffer's top ones, are dropped).
  in_next_ -= (count_ >> 3) - zero_bytes_;
  zero_bytes_ = 0;
  bits_ = 0;
  count_ = 0;
  if (size_t(in_end_ - in_next_) < len) return kDeflateStoredTooLong;
  if (pos_ < cap_) memcpy(out_ + pos_, in_next_, len < cap_ - pos_ ? len : cap_ - pos_);
  pos_ += len;
  in_next_ += len;
  return kBlockDone;
}

int Inflater::dynamic_tables() {
  refill();
  unsigned hlit = 257 + take(5);
  unsigned hdist = 1 + take(5);
  unsigned hclen = 4 + take(4);
  uint8_t lengths[kMaxLitSymbols + kMaxDistSymbols] = {};
  for (unsigned i = 0; i < hclen; i++) {
    if (count_ < 3) refill();
    lengths[kCodeLengthOrder[i]] = uint8_t(take(3));
  }
  if (real_bits_left() < 0) return kInputEnded;
  if (hlit > 286 || hdist > 30) return kDeflateBadData;
  uint32_t code_lengths[kCodeLengthTableSize];
  if (!build_table(code_lengths, kCodeLengthTableSize, kCodeLengthBits, lengths, kCodeLengthSymbols,
                   kSymbolInfo.code_length, false)) {
    return kDeflateBadData;
  }
  memset(lengths, 0, sizeof lengths);
  const unsigned total = hlit + hdist;
  for (unsigned i = 0; i < total;) {
    refill();
    unsigned symbol = entry_value(decode(code_lengths, kCodeLengthBits));
    unsigned repeat = 1;
    uint8_t value = uint8_t(symbol);
    if (symbol == 16) {
      repeat = 3 + take(2);
      value = i ? lengths[i - 1] : 0;
    } else if (symbol == 17) {
      repeat = 3 + take(3);
      value = 0;
    } else if (symbol == 18) {
      repeat = 11 + take(7);
      value = 0;
    }
    if (real_bits_left() < 0) return kInputEnded;
    if ((symbol == 16 && i == 0) || repeat > total - i) return kDeflateBadData;
    memset(lengths + i, value, repeat);
    i += repeat;
  }
  // A code with no end of block could never end its block.
  if (!lengths[256]) return kDeflateBadData;
  if (!build_table(lit_, kLitTableSize, kLitBits, lengths, hlit, kSymbolInfo.lit, true) ||
      !build_table(dist_, kDistTableSize, kDistBits, lengths + hlit, hdist, kSymbolInfo.dist, true)) {
    return kDeflateBadData;
  }
  return kBlockDone;
}

// Copies a match of [length] bytes from [distance] back while the output
// has room for the whole match and a word's overshoot.
void Inflater::copy_match(size_t distance, size_t length) {
  uint8_t* dst = out_ + pos_;
  const uint8_t* src = dst - distance;
  uint8_t* stop = dst + length;
  if (distance >= 8) {
    do {
      memcpy(dst, src, 8);
      dst += 8;
      src += 8;
    } while (dst < stop);
  } else if (distance == 1) {
    memset(dst, *src, length);
  } else {
    do *dst++ = *src++;
    while (dst < stop);
  }
  pos_ += length;
}

int Inflater::decode_symbols(const uint32_t* lit, const uint32_t* dist) {
  // Fast: whole input words and room for a longest match plus overshoot.
  while (in_end_ - in_next_ >= 8 && pos_ + kMaxMatch + 8 <= cap_) {
    refill();
    uint32_t e = decode(lit, kLitBits);
    uint32_t kind = entry_kind(e);
    if (kind == kSymbol) {
      out_[pos_++] = uint8_t(entry_value(e));
      // A second literal while the buffer surely holds it.
      e = lit[peek(kLitBits)];
      if (entry_kind(e) == kSymbol) {
        consume(entry_bits(e));
        out_[pos_++] = uint8_t(entry_value(e));
      }
      continue;
    }
    if (kind == kEndOfBlock) return kBlockDone;
    if (kind != kLength) return kDeflateBadData;
    size_t length = entry_value(e) + take(entry_extra(e));
    e = decode(dist, kDistBits);
    if (entry_kind(e) != kSymbol) return kDeflateBadData;
    size_t distance = entry_value(e) + take(entry_extra(e));
    if (distance > pos_) return kDeflateBadDistance;
    copy_match(distance, length);
  }
  // Careful: one symbol at a time, stopping where the input runs out, and
  // storing only below the output's end.
  for (;;) {
    if (real_bits_left() <= 0) return kInputEnded;
    refill();
    uint32_t e = decode(lit, kLitBits);
    uint32_t kind = entry_kind(e);
    if (kind == kSymbol) {
      if (pos_ < cap_) out_[pos_] = uint8_t(entry_value(e));
      pos_++;
      continue;
    }
    if (kind == kEndOfBlock) return kBlockDone;
    if (kind != kLength) return kDeflateBadData;
    size_t length = entry_value(e) + take(entry_extra(e));
    e = decode(dist, kDistBits);
    if (entry_kind(e) != kSymbol) return kDeflateBadData;
    size_t distance = entry_value(e) + take(entry_extra(e));
    if (distance > pos_) return kDeflateBadDistance;
    if (pos_ < cap_) {
      size_t stored = length < cap_ - pos_ ? length : cap_ - pos_;
      uint8_t* dst = out_ + pos_;
      const uint8_t* src = dst - distance;
      for (size_t i = 0; i < stored; i++) dst[i] = src[i];
    }
    pos_ += length;
  }
}

}  // namespace

int deflate_inflate(uint8_t* out, size_t* size, const uint8_t* in, size_t in_len, InflateEnd* end) {
  Inflater inflater(out, *size, in, in_len);
  int status = inflater.run(end);
  if (status == kDeflateDone || status == kDeflateTooSmall) *size = inflater.produced();
  return status;
}

int deflate_decompress(uint8_t* out, size_t* size, const uint8_t* in, size_t in_len) {
  return deflate_inflate(out, size, in, in_len, nullptr);
}

}  // namespace kiv
