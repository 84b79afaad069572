// The LZ codec's decoder, which trusts nothing in its input, and its
// compressor: greedy matching through hash heads on 3- and 4-byte prefixes
// with one chain (on the 4-byte hash) as long as the window.
//
// Sizes read from the stream are checked before they are used: U in 64-bit
// arithmetic against what the input could produce, each block's n against
// the block limit and the room U leaves; every bit read stops at the input's
// end, and a match stays inside its block's output.
#include "services/lz_codec.h"

#include <algorithm>
#include <cstdlib>
#include <memory>

namespace kiv {

namespace {

constexpr size_t kHeadSize = 8;
constexpr uint32_t kMaxBlock = uint32_t(1) << 20;
constexpr size_t kWindow = size_t(1) << 18;
constexpr size_t kMinMatch = 3;
constexpr size_t kMaxMatch = 566;
constexpr size_t kMinInput = 128;
// The most output a stream byte can stand for; a 566-byte match takes 22 bits.
constexpr uint64_t kLargestRatio = 566;
constexpr unsigned kHash3Bits = 19;
constexpr unsigned kHash4Bits = 20;
constexpr unsigned kChainLimit = 64;

uint32_t read_le32(const uint8_t* p) {
  return uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
}

void write_le32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; i++) p[i] = uint8_t(v >> (8 * i));
}

// Least significant bit first, whole bytes taken as needed; fails at the end
// of the input rather than read past it.
class BitReader {
 public:
  BitReader(const uint8_t* in, size_t len, size_t pos) : in_(in), len_(len), pos_(pos) {}
  // Takes [k] bits (1 to 24) into [*value].
  bool take(unsigned k, uint32_t* value) {
    while (count_ < k) {
      if (pos_ >= len_) return false;
      bits_ |= uint32_t(in_[pos_++]) << count_;
      count_ += 8;
    }
    *value = bits_ & ((uint32_t(1) << k) - 1);
    bits_ >>= k;
    count_ -= k;
    return true;
  }
  // The offset after the last byte taken.
  size_t position() const { return pos_; }

 private:
  const uint8_t* in_;
  size_t len_;
  size_t pos_;
  uint32_t bits_ = 0;
  unsigned count_ = 0;
};

// Length rows: the extra bits and base of L for 0 to 5 leading zeros.
constexpr unsigned kLengthExtra[6] = {2, 2, 2, 3, 5, 9};
constexpr unsigned kLengthBase[6] = {0, 4, 8, 12, 20, 52};

// Decodes one block of [n] bytes into [block] from [reader].
bool decode_block(BitReader& reader, uint8_t* block, uint32_t n) {
  uint32_t i = 0;
  uint32_t v;
  while (i < n) {
    if (!reader.take(1, &v)) return false;
    if (!v) {
      if (!reader.take(8, &v)) return false;
      block[i++] = uint8_t(v);
      continue;
    }
    unsigned zeros = 0;
    while (zeros < 5) {
      if (!reader.take(1, &v)) return false;
      if (v) break;
      zeros++;
    }
    uint32_t extra;
    if (!reader.take(kLengthExtra[zeros], &extra)) return false;
    uint32_t length = kLengthBase[zeros] + extra + kMinMatch;
    uint32_t k;
    if (!reader.take(4, &k)) return false;
    k += 2;
    uint32_t d;
    if (!reader.take(k == 2 ? 3 : k, &d)) return false;
    if (k != 2) d += uint32_t(1) << k;
    if (d >= i || length > n - i) return false;
    const uint8_t* src = block + i - d - 1;
    for (uint32_t j = 0; j < length; j++) block[i + j] = src[j];
    i += length;
  }
  return true;
}

// Appends bits least significant first.
class BitWriter {
 public:
  explicit BitWriter(std::vector<uint8_t>* out) : out_(out) {}
  void put(uint32_t value, unsigned k) {
    bits_ |= uint64_t(value) << count_;
    count_ += k;
    while (count_ >= 8) {
      out_->push_back(uint8_t(bits_));
      bits_ >>= 8;
      count_ -= 8;
    }
  }
  // Ends the block's bit stream on a byte boundary.
  void flush() {
    if (count_) out_->push_back(uint8_t(bits_));
    bits_ = 0;
    count_ = 0;
  }

 private:
  std::vector<uint8_t>* out_;
  uint64_t bits_ = 0;
  unsigned count_ = 0;
};

void put_match(BitWriter& w, size_t length, size_t distance) {
  uint32_t l = uint32_t(length - kMinMatch);
  unsigned zeros = 0;
  while (zeros < 5 && l >= kLengthBase[zeros + 1]) zeros++;
  w.put(1, 1);
  // The zeros, then the terminating 1 below the last row.
  if (zeros < 5) {
    w.put(uint32_t(1) << zeros, zeros + 1);
  } else {
    w.put(0, 5);
  }
  w.put(l - kLengthBase[zeros], kLengthExtra[zeros]);
  uint32_t d = uint32_t(distance - 1);
  if (d < 8) {
    w.put(0, 4);
    w.put(d, 3);
    return;
  }
  unsigned k = 31 - unsigned(__builtin_clz(d));
  w.put(k - 2, 4);
  w.put(d - (uint32_t(1) << k), k);
}

uint32_t hash3(const uint8_t* p) {
  return ((uint32_t(p[0]) << 14) + (uint32_t(p[1]) << 7) + p[2]) & ((1u << kHash3Bits) - 1);
}
uint32_t hash4(const uint8_t* p) {
  return ((uint32_t(p[0]) << 15) + (uint32_t(p[1]) << 10) + (uint32_t(p[2]) << 5) + p[3]) &
         ((1u << kHash4Bits) - 1);
}

// Positions are kept plus one, so that 0 (a page the system hands out
// zeroed, left untouched where no position lands) means none.
class MatchFinder {
 public:
  MatchFinder(const uint8_t* in, size_t len)
      : in_(in),
        len_(len),
        head3_(zeroed(size_t(1) << kHash3Bits)),
        head4_(zeroed(size_t(1) << kHash4Bits)),
        chain_(zeroed(kWindow)) {}

  bool ready() const { return head3_ && head4_ && chain_; }

  void insert(size_t p) {
    if (len_ - p >= 3) head3_.get()[hash3(in_ + p)] = uint32_t(p + 1);
    if (len_ - p >= 4) {
      uint32_t h = hash4(in_ + p);
      chain_.get()[p & (kWindow - 1)] = head4_.get()[h];
      head4_.get()[h] = uint32_t(p + 1);
    }
  }

  // The longest match for [p] inside [block_start, block_end), at most
  // kMaxMatch long and kWindow back; its length (0 for none) and distance.
  size_t find(size_t p, size_t block_start, size_t block_end, size_t* distance) const {
    const size_t limit = std::min(kMaxMatch, block_end - p);
    if (limit < kMinMatch) return 0;
    size_t best = 0;
    auto consider = [&](size_t c) {
      size_t n = 0;
      while (n < limit && in_[c + n] == in_[p + n]) n++;
      if (n > best) {
        best = n;
        *distance = p - c;
      }
    };
    // [slot] holds a position plus one.
    auto in_reach = [&](uint32_t slot) {
      return slot > block_start && slot <= p && p - (slot - 1) <= kWindow;
    };
    if (limit >= 4) {
      uint32_t slot = head4_.get()[hash4(in_ + p)];
      for (unsigned tries = 0; tries < kChainLimit && in_reach(slot) && best < limit; tries++) {
        consider(slot - 1);
        uint32_t next = chain_.get()[(slot - 1) & (kWindow - 1)];
        if (next >= slot) break;
        slot = next;
      }
    }
    if (best < kMinMatch) {
      uint32_t slot = head3_.get()[hash3(in_ + p)];
      if (in_reach(slot)) consider(slot - 1);
    }
    return best >= kMinMatch ? best : 0;
  }

 private:
  struct Free {
    void operator()(uint32_t* p) const { free(p); }
  };
  using Table = std::unique_ptr<uint32_t, Free>;
  static Table zeroed(size_t n) { return Table(static_cast<uint32_t*>(calloc(n, sizeof(uint32_t)))); }

  const uint8_t* in_;
  size_t len_;
  Table head3_;
  Table head4_;
  Table chain_;
};

}  // namespace

bool lz_decompress(const uint8_t* in, size_t in_len, std::vector<uint8_t>* out) {
  out->clear();
  if (in_len < kHeadSize) return false;
  const uint32_t data_size = read_le32(in);
  const uint32_t total = read_le32(in + 4);
  if (uint64_t(total) > kLargestRatio * uint64_t(in_len)) return false;
  out->resize(total);
  size_t used = 0;
  size_t pos = kHeadSize;
  while (pos - kHeadSize < data_size) {
    if (in_len - pos < 4) return out->clear(), false;
    const uint32_t n = read_le32(in + pos);
    if (n < 1 || n > kMaxBlock || n > total - used) return out->clear(), false;
    BitReader reader(in, in_len, pos + 4);
    if (!decode_block(reader, out->data() + used, n)) return out->clear(), false;
    pos = reader.position();
    used += n;
  }
  out->resize(used);
  return true;
}

int64_t lz_compress(const uint8_t* in, size_t in_len, std::vector<uint8_t>* out) {
  out->clear();
  if (in_len < kMinInput || in_len >= UINT32_MAX) return -1;
  const size_t room = in_len - kHeadSize;
  out->resize(kHeadSize);
  MatchFinder finder(in, in_len);
  if (!finder.ready()) return out->clear(), -1;
  BitWriter writer(out);
  for (size_t block_start = 0; block_start < in_len; block_start += kMaxBlock) {
    const size_t block_end = std::min(in_len, block_start + kMaxBlock);
    size_t at = out->size();
    out->resize(at + 4);
    write_le32(out->data() + at, uint32_t(block_end - block_start));
    for (size_t p = block_start; p < block_end;) {
      size_t distance = 0;
      size_t length = finder.find(p, block_start, block_end, &distance);
      if (length) {
        put_match(writer, length, distance);
      } else {
        writer.put(uint32_t(in[p]) << 1, 9);
        length = 1;
      }
      for (size_t q = p; q < p + length; q++) finder.insert(q);
      p += length;
      if (out->size() > room) return out->clear(), -1;
    }
    writer.flush();
  }
  if (out->size() > room) return out->clear(), -1;
  write_le32(out->data(), uint32_t(out->size() - kHeadSize));
  write_le32(out->data() + 4, uint32_t(in_len));
  return int64_t(out->size());
}

}  // namespace kiv
