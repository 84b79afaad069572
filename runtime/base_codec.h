// Text encodings of bytes: base 2, base 16, base 58 and base 64, each an
// encoder (bytes to ASCII text) and a decoder (text to bytes). Pure byte
// codecs: no collector memory, nothing here allocates a series, so pointers
// into series buffers stay valid across every call.
//
// Alphabets: base 16 writes "0123456789ABCDEF" (upper case) and reads either
// case; base 58 uses "123456789ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz";
// base 64 the standard alphabet with "=" padding (no URL-safe variant). No
// encoder writes line breaks.
//
// Decoders read [count] code points stored in units of [unit] bytes (1, 2 or
// 4, little-endian: the text buffer format of runtime/unicode.h), write at most
// base*_decode_capacity(count) bytes at [out], set *[written] and return true,
// or return false for invalid text (then *[written] and the output bytes are
// unspecified). Common rules: ";" starts a comment that runs to the next line
// feed (a comment reaching the end of the text ends decoding normally), and a
// code point above 127 is invalid in every base.
//   base 2   code points up to 0x20 are skipped; "0"/"1" give bits, most
//            significant first; 1 to 7 bits left at the end are invalid.
//   base 16  code points up to 0x20 are skipped; a single digit left at the
//            end is dropped.
//   base 58  backspace, tab, line feed, form feed, carriage return, space and
//            apostrophe are skipped; each leading "1" is one leading zero byte.
//   base 64  the same seven characters are skipped; "=" ends the data (3
//            characters pending give 2 bytes; 2 pending give 1 byte and the
//            character after the "=" is passed over unread; 0 or 1 pending are
//            invalid); text after the padding is ignored; without padding, 1
//            to 3 pending characters at the end are dropped.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kiv {

// ---------------------------------------------------------------- encoders
// Each writes the text of [n] bytes at [in] to [out], which has room for at
// least base*_encode_size(n) bytes, and returns the end of what it wrote.

uint8_t* encode_base2(uint8_t* out, const uint8_t* in, size_t n);
uint8_t* encode_base16(uint8_t* out, const uint8_t* in, size_t n);
// Quadratic in [n]; uses a scratch copy on the C++ heap.
uint8_t* encode_base58(uint8_t* out, const uint8_t* in, size_t n);
uint8_t* encode_base64(uint8_t* out, const uint8_t* in, size_t n);

// Exact (base 2, 16, 64) or largest (base 58) text length for [n] bytes.
inline constexpr uint64_t base2_encode_size(uint64_t n) { return n * 8; }
inline constexpr uint64_t base16_encode_size(uint64_t n) { return n * 2; }
inline constexpr uint64_t base58_encode_size(uint64_t n) { return n * 2; }
inline constexpr uint64_t base64_encode_size(uint64_t n) { return (n + 2) / 3 * 4; }

// ---------------------------------------------------------------- decoders

bool decode_base2(const uint8_t* text, size_t count, uint32_t unit, uint8_t* out, size_t* written);
bool decode_base16(const uint8_t* text, size_t count, uint32_t unit, uint8_t* out, size_t* written);
// Quadratic in the digit count; uses a scratch digit array on the C++ heap.
bool decode_base58(const uint8_t* text, size_t count, uint32_t unit, uint8_t* out, size_t* written);
bool decode_base64(const uint8_t* text, size_t count, uint32_t unit, uint8_t* out, size_t* written);

// Room the decoder of that base needs for [count] code points.
inline constexpr size_t base2_decode_capacity(size_t count) { return count / 8; }
inline constexpr size_t base16_decode_capacity(size_t count) { return count / 2; }
inline constexpr size_t base58_decode_capacity(size_t count) { return count; }
inline constexpr size_t base64_decode_capacity(size_t count) { return count / 4 * 3 + 3; }

// ---------------------------------------------------------------- by base number

// True for the bases above: 2, 16, 58 and 64.
inline constexpr bool base_codec_known_q(int32_t base) {
  return base == 2 || base == 16 || base == 58 || base == 64;
}
// Dispatch on [base] (one of the known bases; anything else writes nothing,
// returns [out] / 0 / false).
uint8_t* encode_base(int32_t base, uint8_t* out, const uint8_t* in, size_t n);
size_t base_decode_capacity(int32_t base, size_t count);
bool decode_base(int32_t base, const uint8_t* text, size_t count, uint32_t unit, uint8_t* out,
                 size_t* written);

}  // namespace kiv
