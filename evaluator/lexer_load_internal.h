// Shared pieces of the token loaders (evaluator/lexer_load*.cpp): the byte
// range of a token, the failure report, and the number scanners several
// loaders use. Nothing here allocates unless it says so.
//
// Token bytes never lie in a collected series (the lexer copies or converts
// its input first, evaluator/lexer.h), so they stay put while a loader
// allocates.
#pragma once

#include <cstdint>
#include <string>

#include "evaluator/lexer_load.h"
#include "runtime/cell.h"

namespace kiv::lexload {

// Marks [token] as malformed: `invalid` with [type], or the fault given.
inline bool fail(LexToken& token, int32_t type, int32_t fault = 0) {
  token.type = type;
  token.fault = fault;
  return false;
}

// Writes [value] into the value-buffer cell [out], keeping the new-line flag
// the lexer put there.
inline void put(Cell* out, const Cell& value) {
  uint32_t nl = out->header & kFlagNewLine;
  *out = value;
  out->header |= nl;
}

inline bool digit_q(uint8_t c) { return c >= '0' && c <= '9'; }
inline int hex_value(uint8_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// An integer written as an optional sign, decimal digits and single "'"
// separators between digits. *[ok] is false for any other text; *[overflow]
// (when given) is set instead, with false *[ok], when the text is well formed
// but does not fit in 32 bits or has more than 10 digits (the exact text
// "-2147483648" fits).
int32_t scan_integer(const uint8_t* p, const uint8_t* end, bool* ok, bool* overflow);

// True when [p, end) is a decimal float: optional sign, digits with single
// "'" separators, at most one decimal mark ("." or ","), then optionally "e"
// or "E", a sign and digits; at least one digit before any exponent.
bool float_syntax_check(const uint8_t* p, const uint8_t* end);

// Reads the decimal float [p, end) (at most 312 characters, float_syntax_check
// passed): separators dropped, "," read as ".". *[ok] false when the text is
// malformed or too long, or the number overflows to infinity. The decimal
// exponent is moved by [exponent_adjust] before rounding ("50" with -2 reads
// 0.5, correctly rounded).
double scan_float(const uint8_t* p, const uint8_t* end, bool* ok, int exponent_adjust = 0);

// Reads "1.#INF", "-1.#INF", "1.#NaN" (any case after "#", optional sign).
bool scan_special_float(const uint8_t* p, const uint8_t* end, double* out);

// Decodes text between delimiters into code points. [escapes]: "^" escapes
// are decoded; [percent]: "%XX" sequences are decoded into bytes read as
// UTF-8 (a decoded byte that leads no valid sequence stands for itself).
// False on invalid UTF-8 or an invalid escape. *[max_cp] receives the largest
// code point.
bool decode_text(const uint8_t* p, const uint8_t* end, bool escapes, bool percent, std::u32string* out);

// Decodes one "^" escape at [p] (just after the "^"); returns the position
// after it and the code point in *[cp], or null when invalid.
const uint8_t* decode_escape(const uint8_t* p, const uint8_t* end, uint32_t* cp);

// MAY ALLOCATE. Writes into [out] a new text value of [type] holding [text].
void make_text(Cell* out, TypeId type, const std::u32string& text);

// Loaders by family (lexer_load_text.cpp, lexer_load_number.cpp,
// lexer_load_date.cpp). Each checks [token]; with [load] it writes the value.
bool load_string(LexToken& token, bool load, Cell* out);
bool load_raw_string(LexToken& token, bool load, Cell* out);
bool load_char(LexToken& token, bool load, Cell* out);
bool load_file(LexToken& token, bool load, Cell* out);
bool load_url(LexToken& token, bool load, Cell* out);
bool load_email(LexToken& token, bool load, Cell* out);
bool load_tag(LexToken& token, bool load, Cell* out);
bool load_ref(LexToken& token, bool load, Cell* out);
bool load_binary(LexToken& token, bool load, Cell* out);
bool load_integer(LexToken& token, bool load, Cell* out);
bool load_hex(LexToken& token, bool load, Cell* out);
bool load_float(LexToken& token, bool load, Cell* out);
bool load_percent(LexToken& token, bool load, Cell* out);
bool load_special_float(LexToken& token, bool load, Cell* out);
bool load_tuple(LexToken& token, bool load, Cell* out);
bool load_pair(LexToken& token, bool load, Cell* out);
bool load_point(LexToken& token, bool load, Cell* out);
bool load_time(LexToken& token, bool load, Cell* out);
bool load_money(LexToken& token, bool load, Cell* out);
bool load_date(LexToken& token, bool load, Cell* out);

}  // namespace kiv::lexload
