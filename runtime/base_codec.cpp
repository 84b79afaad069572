// Base 2, 16, 58 and 64 codecs (contract in runtime/base_codec.h).
//
// Decoders are templated on the text unit so the hot loops read bytes
// directly; every code point is range-checked against 127 before any table
// lookup, so the 128-entry tables are never read out of bounds.
#include "runtime/base_codec.h"

#include <array>
#include <cstring>
#include <type_traits>
#include <vector>

namespace kiv {

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";
constexpr char kBase58Alphabet[] = "123456789ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz";
constexpr char kBase64Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Decode table values besides digits.
constexpr uint8_t kSkip = 0x40;
constexpr uint8_t kInvalid = 0x80;
constexpr uint8_t kNotHex = 0xFF;

// The blanks base 58 and base 64 pass over: backspace, tab, line feed, form
// feed, carriage return, space and apostrophe.
constexpr bool codec_blank_q(uint32_t c) {
  return c == 0x08 || c == 0x09 || c == 0x0A || c == 0x0C || c == 0x0D || c == 0x20 || c == 0x27;
}

constexpr std::array<uint8_t, 128> make_hex_table() {
  std::array<uint8_t, 128> t{};
  for (auto& v : t) v = kNotHex;
  for (int i = 0; i < 10; ++i) t['0' + i] = uint8_t(i);
  for (int i = 0; i < 6; ++i) t['A' + i] = t['a' + i] = uint8_t(10 + i);
  return t;
}

constexpr std::array<uint8_t, 128> make_alphabet_table(const char* alphabet, int size) {
  std::array<uint8_t, 128> t{};
  for (uint32_t c = 0; c < 128; ++c) t[c] = codec_blank_q(c) ? kSkip : kInvalid;
  for (int i = 0; i < size; ++i) t[uint8_t(alphabet[i])] = uint8_t(i);
  return t;
}

constexpr auto kHexTable = make_hex_table();

// Two base-64 characters for every 12-bit value, first character first in memory.
constexpr std::array<std::array<uint8_t, 2>, 4096> make_base64_pairs() {
  std::array<std::array<uint8_t, 2>, 4096> t{};
  for (uint32_t v = 0; v < 4096; ++v)
    t[v] = {uint8_t(kBase64Alphabet[v >> 6]), uint8_t(kBase64Alphabet[v & 63])};
  return t;
}
constexpr auto kBase64Pairs = make_base64_pairs();
constexpr auto kBase58Table = make_alphabet_table(kBase58Alphabet, 58);
constexpr auto kBase64Table = make_alphabet_table(kBase64Alphabet, 64);

template <uint32_t Unit>
inline uint32_t read_unit(const uint8_t* p) {
  if constexpr (Unit == 1)
    return *p;
  else if constexpr (Unit == 2)
    return uint32_t(p[0]) | uint32_t(p[1]) << 8;
  else
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// Index of the first line feed at or after [i], or [count].
template <uint32_t Unit>
size_t skip_comment(const uint8_t* text, size_t i, size_t count) {
  while (i < count && read_unit<Unit>(text + i * Unit) != '\n') ++i;
  return i;
}

template <uint32_t Unit>
bool base2_decode_unit(const uint8_t* text, size_t count, uint8_t* out, size_t* written) {
  uint8_t* o = out;
  uint32_t acc = 0, bits = 0;
  for (size_t i = 0; i < count; ++i) {
    uint32_t c = read_unit<Unit>(text + i * Unit);
    if (c == ';') {
      i = skip_comment<Unit>(text, i, count);
      continue;
    }
    if (c <= 0x20) continue;
    if (c != '0' && c != '1') return false;
    acc = acc << 1 | (c - '0');
    if (++bits == 8) {
      *o++ = uint8_t(acc);
      acc = bits = 0;
    }
  }
  if (bits) return false;
  *written = size_t(o - out);
  return true;
}

template <uint32_t Unit>
bool base16_decode_unit(const uint8_t* text, size_t count, uint8_t* out, size_t* written) {
  uint8_t* o = out;
  uint32_t acc = 0;
  bool odd = false;
  for (size_t i = 0; i < count; ++i) {
    uint32_t c = read_unit<Unit>(text + i * Unit);
    if (c > 127) return false;
    if (c == ';') {
      i = skip_comment<Unit>(text, i, count);
      continue;
    }
    if (c <= 0x20) continue;
    uint32_t v = kHexTable[c];
    if (v > 15) return false;
    acc = acc << 4 | v;
    if (odd) *o++ = uint8_t(acc);
    odd = !odd;
  }
  *written = size_t(o - out);
  return true;
}

// Converts the big-endian number [in] of [n] digits in base From into base To
// digits at the end of [out] (room for [size] digits, which must be enough);
// returns how many digits it wrote there. Leading zero digits of [in] add
// nothing: the callers count them apart.
template <uint32_t From, uint32_t To>
size_t convert_radix(const uint8_t* in, size_t n, uint8_t* out, size_t size) {
  size_t used = 0;  // significant digits at the end of [out]
  for (size_t k = 0; k < n; ++k) {
    uint32_t carry = in[k];
    size_t j = 0;
    for (; j < used || carry; ++j) {
      uint8_t& d = out[size - 1 - j];
      carry += From * d;
      d = uint8_t(carry % To);
      carry /= To;
    }
    used = j;
  }
  return used;
}

template <uint32_t Unit>
bool base58_decode_unit(const uint8_t* text, size_t count, uint8_t* out, size_t* written) {
  std::vector<uint8_t> digits;
  digits.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    uint32_t c = read_unit<Unit>(text + i * Unit);
    if (c > 127) return false;
    if (c == ';') {
      i = skip_comment<Unit>(text, i, count);
      continue;
    }
    uint8_t v = kBase58Table[c];
    if (v == kSkip) continue;
    if (v == kInvalid) return false;
    digits.push_back(v);
  }
  size_t m = digits.size(), zeros = 0;
  while (zeros < m && digits[zeros] == 0) ++zeros;
  // The number below the leading zeros needs fewer bytes than it has digits
  // (58^k < 256^k), so the whole result fits the capacity of [count] bytes.
  size_t size = m - zeros;
  std::vector<uint8_t> bytes(size);
  size_t used = convert_radix<58, 256>(digits.data() + zeros, m - zeros, bytes.data(), size);
  std::memset(out, 0, zeros);
  if (used) std::memcpy(out + zeros, bytes.data() + size - used, used);
  *written = zeros + used;
  return true;
}

// The padding rules of base 64 at an "=" met with [pending] characters in
// [acc]; returns false for invalid padding.
inline bool base64_pad(uint32_t acc, uint32_t pending, uint8_t*& o) {
  if (pending == 3) {
    *o++ = uint8_t(acc >> 10);
    *o++ = uint8_t(acc >> 2);
    return true;
  }
  if (pending == 2) {
    *o++ = uint8_t(acc >> 4);
    return true;
  }
  return false;
}

template <uint32_t Unit>
bool base64_decode_unit(const uint8_t* text, size_t count, uint8_t* out, size_t* written) {
  uint8_t* o = out;
  uint32_t acc = 0, pending = 0;
  size_t i = 0;
  for (;;) {
    // Whole groups of four plain digits, the common case, at full speed.
    if (pending == 0) {
      while (i + 4 <= count) {
        const uint8_t* p = text + i * Unit;
        uint32_t c0 = read_unit<Unit>(p), c1 = read_unit<Unit>(p + Unit), c2 = read_unit<Unit>(p + 2 * Unit),
                 c3 = read_unit<Unit>(p + 3 * Unit);
        if ((c0 | c1 | c2 | c3) > 127) break;
        uint32_t v0 = kBase64Table[c0], v1 = kBase64Table[c1], v2 = kBase64Table[c2], v3 = kBase64Table[c3];
        if ((v0 | v1 | v2 | v3) >= 64) break;  // a blank, "=" (not in the table) or an invalid character
        uint32_t group = v0 << 18 | v1 << 12 | v2 << 6 | v3;
        o[0] = uint8_t(group >> 16);
        o[1] = uint8_t(group >> 8);
        o[2] = uint8_t(group);
        o += 3;
        i += 4;
      }
    }
    if (i >= count) break;
    uint32_t c = read_unit<Unit>(text + i * Unit);
    if (c > 127) return false;
    if (c == ';') {
      i = skip_comment<Unit>(text, i, count) + 1;
      continue;
    }
    if (c == '=') {
      if (!base64_pad(acc, pending, o)) return false;
      *written = size_t(o - out);
      return true;
    }
    uint8_t v = kBase64Table[c];
    if (v == kInvalid) return false;
    ++i;
    if (v == kSkip) continue;
    acc = acc << 6 | v;
    if (++pending == 4) {
      o[0] = uint8_t(acc >> 16);
      o[1] = uint8_t(acc >> 8);
      o[2] = uint8_t(acc);
      o += 3;
      acc = pending = 0;
    }
  }
  *written = size_t(o - out);
  return true;
}

// Calls [decode] with the code unit size [unit] (1, 2 or 4 bytes) as a
// std::integral_constant, so it can pick the decoder instance for it; any
// other size fails.
template <class Decode>
bool dispatch_unit(uint32_t unit, Decode decode) {
  switch (unit) {
    case 1: return decode(std::integral_constant<uint32_t, 1>{});
    case 2: return decode(std::integral_constant<uint32_t, 2>{});
    case 4: return decode(std::integral_constant<uint32_t, 4>{});
    default: return false;
  }
}

}  // namespace

// ---------------------------------------------------------------- encoders

uint8_t* encode_base2(uint8_t* out, const uint8_t* in, size_t n) {
  for (size_t i = 0; i < n; ++i)
    for (int bit = 7; bit >= 0; --bit) *out++ = uint8_t('0' + ((in[i] >> bit) & 1));
  return out;
}

uint8_t* encode_base16(uint8_t* out, const uint8_t* in, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    *out++ = uint8_t(kHexDigits[in[i] >> 4]);
    *out++ = uint8_t(kHexDigits[in[i] & 15]);
  }
  return out;
}

uint8_t* encode_base58(uint8_t* out, const uint8_t* in, size_t n) {
  size_t zeros = 0;
  while (zeros < n && in[zeros] == 0) ++zeros;
  // log(256) / log(58) < 1.38: room for every base-58 digit of the rest.
  size_t size = (n - zeros) * 138 / 100 + 1;
  std::vector<uint8_t> digits(size);
  size_t used = convert_radix<256, 58>(in + zeros, n - zeros, digits.data(), size);
  for (size_t k = 0; k < zeros; ++k) *out++ = '1';
  for (size_t j = size - used; j < size; ++j) *out++ = uint8_t(kBase58Alphabet[digits[j]]);
  return out;
}

uint8_t* encode_base64(uint8_t* out, const uint8_t* in, size_t n) {
  size_t i = 0;
  for (; i + 3 <= n; i += 3) {
    uint32_t group = uint32_t(in[i]) << 16 | uint32_t(in[i + 1]) << 8 | in[i + 2];
    std::memcpy(out, kBase64Pairs[group >> 12].data(), 2);
    std::memcpy(out + 2, kBase64Pairs[group & 0xFFF].data(), 2);
    out += 4;
  }
  if (n - i == 1) {
    uint32_t group = uint32_t(in[i]) << 16;
    *out++ = uint8_t(kBase64Alphabet[group >> 18]);
    *out++ = uint8_t(kBase64Alphabet[(group >> 12) & 63]);
    *out++ = '=';
    *out++ = '=';
  } else if (n - i == 2) {
    uint32_t group = uint32_t(in[i]) << 16 | uint32_t(in[i + 1]) << 8;
    *out++ = uint8_t(kBase64Alphabet[group >> 18]);
    *out++ = uint8_t(kBase64Alphabet[(group >> 12) & 63]);
    *out++ = uint8_t(kBase64Alphabet[(group >> 6) & 63]);
    *out++ = '=';
  }
  return out;
}

// ---------------------------------------------------------------- decoders

bool decode_base2(const uint8_t* text, size_t count, uint32_t unit, uint8_t* out, size_t* written) {
  return dispatch_unit(
      unit, [&](auto u) { return base2_decode_unit<decltype(u)::value>(text, count, out, written); });
}

bool decode_base16(const uint8_t* text, size_t count, uint32_t unit, uint8_t* out, size_t* written) {
  return dispatch_unit(
      unit, [&](auto u) { return base16_decode_unit<decltype(u)::value>(text, count, out, written); });
}

bool decode_base58(const uint8_t* text, size_t count, uint32_t unit, uint8_t* out, size_t* written) {
  return dispatch_unit(
      unit, [&](auto u) { return base58_decode_unit<decltype(u)::value>(text, count, out, written); });
}

bool decode_base64(const uint8_t* text, size_t count, uint32_t unit, uint8_t* out, size_t* written) {
  return dispatch_unit(
      unit, [&](auto u) { return base64_decode_unit<decltype(u)::value>(text, count, out, written); });
}

// ---------------------------------------------------------------- by base number

uint8_t* encode_base(int32_t base, uint8_t* out, const uint8_t* in, size_t n) {
  switch (base) {
    case 2: return encode_base2(out, in, n);
    case 16: return encode_base16(out, in, n);
    case 58: return encode_base58(out, in, n);
    case 64: return encode_base64(out, in, n);
    default: return out;
  }
}

size_t base_decode_capacity(int32_t base, size_t count) {
  switch (base) {
    case 2: return base2_decode_capacity(count);
    case 16: return base16_decode_capacity(count);
    case 58: return base58_decode_capacity(count);
    case 64: return base64_decode_capacity(count);
    default: return 0;
  }
}

bool decode_base(int32_t base, const uint8_t* text, size_t count, uint32_t unit, uint8_t* out,
                 size_t* written) {
  switch (base) {
    case 2: return decode_base2(text, count, unit, out, written);
    case 16: return decode_base16(text, count, unit, out, written);
    case 58: return decode_base58(text, count, unit, out, written);
    case 64: return decode_base64(text, count, unit, out, written);
    default: return false;
  }
}

}  // namespace kiv
