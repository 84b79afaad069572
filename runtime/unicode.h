// Unicode text storage and conversion: the unit rule and in-place widening,
// UTF-8 decoding (a table-driven scanner and a validating decoder), UTF-8
// encoding and sizes, loading UTF-8 and UTF-16LE text into string buffers, and
// the per-cell conversion buffer that UTF-8 and UTF-16 output is written into.
//
// Unit rule: a text buffer stores one code point per unit, every unit of one
// buffer of the same width: 1 byte (U+0000-U+00FF), 2 bytes (up to U+FFFF) or
// 4 bytes (up to U+10FFFF), little-endian, never surrogate pairs. Storing a code
// point that does not fit widens the whole buffer in place first; a buffer never
// narrows by itself. Any other unit met by a text routine is fatal runtime error 101.
//
// Room is always measured from the buffer's head (SeriesBuffer::head), never
// from the data start: a buffer whose head sits mid-area has less room.
//
// Conversion buffer: word 3 of a string-like cell (string!, file!, url!, tag!,
// email!, ref!) holds the node of a byte series, or 0 while it has none. Every
// to_utf8/to_utf16 of that cell writes its result there, growing it when short
// and never shrinking it. The collector marks it with the cell. A result is valid
// until the next allocation or the next conversion through a cell naming the
// same conversion buffer (a copied cell shares it until one of them gets a new one).
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "runtime/fatal.h"
#include "runtime/memory.h"

namespace kiv {

inline constexpr uint32_t kMaxCodePoint = 0x10FFFF;
// The code points below kMaxCodePoint that UTF-8 text may not carry: the
// decoder refuses U+FFFE and U+DC00..U+DCFF. Molds escape them.
inline constexpr bool utf8_refused_q(uint32_t cp) { return cp == 0xFFFE || (cp >= 0xDC00 && cp <= 0xDCFF); }
// The code points from 0x80 up that separate values in source text as a
// space does.
inline constexpr bool unicode_blank_q(uint32_t cp) {
  return cp == 0x85 || cp == 0xA0 || cp == 0x1680 || (cp >= 0x2000 && cp <= 0x200B) || cp == 0x2028 ||
         cp == 0x2029 || cp == 0x202F || cp == 0x205F || cp == 0x3000 || cp == 0x180E;
}

// The narrowest storage unit that holds [cp]: 1, 2 or 4 bytes.
constexpr uint32_t unit_for_code_point(uint32_t cp) { return cp <= 0xFF ? 1 : cp <= 0xFFFF ? 2 : 4; }

// The code point stored in the unit at [p] of width [unit] (1, 2 or 4; anything else is fatal 101).
inline uint32_t unit_get(const uint8_t* p, uint32_t unit) {
  switch (unit) {
    case 1: return *p;
    case 2: return uint32_t(p[0]) | uint32_t(p[1]) << 8;
    case 4: return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
    default: fatal_no_switch();
  }
}

// Stores [cp] in the unit at [p] of width [unit]; the caller has checked that it fits.
inline void unit_put(uint8_t* p, uint32_t unit, uint32_t cp) {
  switch (unit) {
    case 1: p[0] = uint8_t(cp); return;
    case 2:
      p[0] = uint8_t(cp);
      p[1] = uint8_t(cp >> 8);
      return;
    case 4:
      p[0] = uint8_t(cp);
      p[1] = uint8_t(cp >> 8);
      p[2] = uint8_t(cp >> 16);
      p[3] = uint8_t(cp >> 24);
      return;
    default: fatal_no_switch();
  }
}

// Fatal 101 unless [unit] is a text unit (1, 2 or 4).
inline void check_text_unit(uint32_t unit) {
  if (unit != 1 && unit != 2 && unit != 4) fatal_no_switch();
}

// Calls [f] with a null pointer of the unit's C++ type (uint8_t, uint16_t or
// uint32_t), so that unit-generic loops are written once and instantiated per width.
template <class F>
inline decltype(auto) with_text_unit(uint32_t unit, F&& f) {
  switch (unit) {
    case 1: return f(static_cast<uint8_t*>(nullptr));
    case 2: return f(static_cast<uint16_t*>(nullptr));
    case 4: return f(static_cast<uint32_t*>(nullptr));
    default: fatal_no_switch();
  }
}

// ---------------------------------------------------------------- UTF-8 scanning (no validation of meaning)

// The decoder table: 256 byte classes (0-11), then 108 transitions indexed by
// state + class, states pre-multiplied by 12; state 0 accepts, 12 rejects.
extern const uint8_t kUtf8DecodeTable[364];

// Decodes the sequence at [p] (p < end) and returns the position after it. *[cp]
// is the code point, or -1 for an invalid sequence: an invalid lead byte uses one
// byte, an invalid byte in a continuation position is used with the sequence, and
// a sequence cut off by [end] uses what is left. Never reads at or past [end].
// Strict: overlong forms, surrogates and values above U+10FFFF are invalid.
const uint8_t* utf8_fast_decode_char(const uint8_t* p, const uint8_t* end, int32_t* cp);

// Number of decoder steps from [start] to [end] (invalid sequences count one each).
int32_t utf8_count_chars(const uint8_t* start, const uint8_t* end);
// The position after [n] sequences, or [end] when the range ends first; n <= 0 gives start.
const uint8_t* utf8_skip_chars(const uint8_t* start, const uint8_t* end, int32_t n);
// 4 for F0-FF, 3 for E0-EF, 2 for C0-DF, 0 for ASCII and continuation bytes.
int utf8_seq_length(uint8_t lead);

// ---------------------------------------------------------------- sizes and encoding

// Bytes of the UTF-8 sequence of [cp]. MAY ALLOCATE: above U+10FFFF raises script invalid-char.
int utf8_char_size(uint32_t cp);
// UTF-8 bytes of the units from [start] to [end] of width [unit]. MAY ALLOCATE (invalid-char).
uint64_t utf8_size_of_chars(const uint8_t* start, const uint8_t* end, uint32_t unit);
// Writes the 1-4 bytes of [cp] at [dst] and returns their number; surrogates are
// written as three bytes. MAY ALLOCATE: above U+10FFFF raises invalid-char, writing nothing.
int utf8_encode(uint32_t cp, uint8_t* dst);
// utf8_encode writing byte k only while [room] > k (a sequence that does not fit
// is written in part); returns the bytes written. MAY ALLOCATE (invalid-char).
int utf8_encode_bounded(uint32_t cp, uint8_t* dst, uint32_t room);
// [cp] appended to [out] as UTF-8, without any check (cp <= U+10FFFF).
inline uint8_t* utf8_put(uint8_t* out, uint32_t cp) {
  if (cp < 0x80) {
    *out++ = uint8_t(cp);
  } else if (cp < 0x800) {
    *out++ = uint8_t(0xC0 | cp >> 6);
    *out++ = uint8_t(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    *out++ = uint8_t(0xE0 | cp >> 12);
    *out++ = uint8_t(0x80 | ((cp >> 6) & 0x3F));
    *out++ = uint8_t(0x80 | (cp & 0x3F));
  } else {
    *out++ = uint8_t(0xF0 | cp >> 18);
    *out++ = uint8_t(0x80 | ((cp >> 12) & 0x3F));
    *out++ = uint8_t(0x80 | ((cp >> 6) & 0x3F));
    *out++ = uint8_t(0x80 | (cp & 0x3F));
  }
  return out;
}

// ---------------------------------------------------------------- string value to UTF-8
// [str] is a string-like cell at a stable address (data stack, Root, fixed buffer):
// the conversion buffer's node is written into its word 3 after allocating.

// MAY ALLOCATE. Encodes [str] from its head, up to *[length] code points (-1, or
// a length not below the string's, means all), into its conversion buffer ended
// by a NUL; writes the byte count (NUL excluded) into *[length]; returns the bytes.
char* to_utf8(Cell* str, int32_t* length);
// to_utf8, writing every LF as CR LF when [crlf] is set.
char* to_utf8_crlf(Cell* str, int32_t* length, bool crlf);
// Encodes from the head up to [n] code points (-1 or not below the length: all)
// into [dst], sized by the caller with utf8_size_of_chars; adds a NUL when [nul].
// Returns the bytes written without the NUL. MAY ALLOCATE only to raise invalid-char.
uint32_t to_utf8_into(const Cell* str, uint8_t* dst, int32_t n, bool nul);
// Encodes up to [n] code points (n <= 0 or not below the length: all) while
// output stays within [room] bytes, the last sequence possibly cut; the NUL (when
// [nul]) goes after the last byte written, so [dst] needs room + 1 bytes. Returns
// the bytes written without the NUL.
uint32_t to_utf8_bounded(const Cell* str, uint8_t* dst, uint32_t room, int32_t n, bool nul);

// ---------------------------------------------------------------- UTF-8 to string

// Decodes one sequence with validation. On entry *[count] is the bytes available,
// on return the bytes used. Returns the code point, or -1 (nothing used) when the
// available bytes end inside the sequence. Surrogates other than U+DC00-U+DCFF
// and the two-byte C0 80 for U+0000 are accepted; other overlong forms (every
// C1 lead among them), U+DC00-U+DCFF, U+FFFE, values above U+10FFFF,
// continuation and F8-FF leads are invalid: MAY ALLOCATE, an invalid sequence
// raises access invalid-utf8 with a binary! of up to 4 bytes.
int32_t utf8_decode_char(const uint8_t* p, uint32_t* count);
// MAY ALLOCATE. Raises access invalid-utf8 with the binary! of the (at most 4) bytes at [p].
[[noreturn]] void raise_invalid_utf8(const uint8_t* p, uint32_t available);

// Where a loader reads its input: outside collected memory (a plain pointer), or
// inside a series, named by (node, byte offset from the buffer's head) and
// re-derived after every allocation the loader makes.
struct ByteSource {
  const uint8_t* raw = nullptr;
  Node node = 0;
  uint32_t offset = 0;

  ByteSource() = default;
  ByteSource(const uint8_t* p) : raw(p) {}  // NOLINT: a plain pointer is a source
  ByteSource(const char* p) : raw(reinterpret_cast<const uint8_t*>(p)) {}  // NOLINT
  static ByteSource series(Node n, uint32_t byte_offset) {
    ByteSource s;
    s.node = n;
    s.offset = byte_offset;
    return s;
  }
  bool none() const { return !raw && !node; }
  // Short-lived: re-read after anything that may allocate.
  const uint8_t* data() const { return raw ? raw : series_buffer(node)->head_ptr() + offset; }
};

// MAY ALLOCATE. Decodes [length] bytes of UTF-8 into the series [target], or a
// new one (unit 1) when target is 0, replacing its content from its head; returns
// the node. A BOM at the start is skipped. Input that ends inside a sequence stops
// the decoding: *[remaining] (when given) receives the undecoded byte count,
// otherwise those bytes are dropped. With [cr], CR LF and lone CR become LF.
// A length of 0 leaves a target's content alone. Invalid input raises invalid-utf8
// (the target then holds the text decoded before it).
Node load_utf8(ByteSource src, uint32_t length, Node target, uint32_t* remaining, bool cr);
// MAY ALLOCATE. load_utf8 into [str]'s buffer, without CR conversion.
Node load_utf8_into(ByteSource src, uint32_t length, Cell* str, uint32_t* remaining);
// MAY ALLOCATE. load_utf8 into a new series, dropping a cut-off tail.
Node load_utf8_new(ByteSource src, uint32_t length);

// ---------------------------------------------------------------- UTF-16

// MAY ALLOCATE. Decodes [count] UTF-16LE units into [str]'s buffer (replacing its
// content from its head and setting its unit) or into a new series when [str] is
// null; returns the node. A source that is none() reads [str]'s own conversion
// buffer. The unit is the narrowest that holds the text; surrogate pairs become
// one code point; an unpaired surrogate, high or low, is stored as it is. With
// [cr] every 0x000D unit is dropped.
Node load_utf16le(ByteSource src, uint32_t count, Cell* str, bool cr);
// Writes [cp] as one unit (below U+10000) or a surrogate pair; returns 1 or 2, or
// 0 (nothing written) at U+110000 and above.
int utf16_encode_char(uint32_t cp, uint16_t* dst);
// MAY ALLOCATE. Converts [str] from its head, up to *[length] code points (-1 or
// not below the length: all), to UTF-16LE in its conversion buffer, ended by a
// 16-bit NUL; with [crlf] each LF is preceded by CR. Writes the units written
// (NUL excluded) into *[length]. Null when the text holds a code point at or
// above U+110000.
uint16_t* to_utf16(Cell* str, int32_t* length, bool crlf);
// MAY ALLOCATE. to_utf16 of the whole text with CR LF line ends, NUL-terminated.
uint16_t* to_utf16_cstr(Cell* str);

// ---------------------------------------------------------------- widening and the conversion buffer

// Word 3 of a string-like cell: its conversion buffer's node, or 0.
inline Node string_conversion_node(const Cell* str) { return str->data3; }
inline void string_set_conversion_node(Cell* str, Node node) { str->data3 = node; }

// MAY ALLOCATE. Widens the text series [node] to [unit] (a no-op when it is
// already that wide or wider), growing it first when its capacity from the head
// is short of the widened text plus [extra_units] units. The units are copied from
// the last to the first, zero-extended. Returns the buffer (it may have moved).
SeriesBuffer* widen_series(Node node, uint32_t unit, uint32_t extra_units = 1);
SeriesBuffer* widen_latin1_to_ucs2(Node node);  // MAY ALLOCATE
SeriesBuffer* widen_latin1_to_ucs4(Node node);  // MAY ALLOCATE
SeriesBuffer* widen_ucs2_to_ucs4(Node node);    // MAY ALLOCATE

// MAY ALLOCATE. The conversion buffer of the string-like cell [str] with at least
// [bytes] of capacity, made or grown as needed (its node goes into word 3).
SeriesBuffer* conversion_buffer(Cell* str, uint64_t bytes);

}  // namespace kiv
