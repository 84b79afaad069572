// The lexer's static tables: character classes and the state machine that
// cuts tokens (built once by lexer_tables_init from the literal syntax in
// lexer_tables.cpp).
//
// A transition leads to another scanning state (below kLexFinal) or to a
// final state kLexFinal + kind, which ends the token without consuming the
// byte that caused it, except a final transition straight from the blank
// state, which consumes its byte: one-byte tokens ("[", ",", a bad byte).
// Only the blank state skips: the bytes it consumes are leading blanks, not
// part of the token.
#pragma once

#include <cstdint>

#include "evaluator/lexer_load.h"

namespace kiv {

// Character classes (the low byte of a class table entry); the high bits are
// the LexFlag bits of lexer_load.h.
enum LexClass : uint8_t {
  kClassBlank = 0,  // TAB, CR, space
  kClassLf = 1,
  kClassDigit = 2,  // 1-9
  kClassZero = 3,
  kClassBracketOpen = 4,
  kClassBracketClose = 5,
  kClassParenOpen = 6,
  kClassParenClose = 7,
  kClassBraceOpen = 8,
  kClassBraceClose = 9,
  kClassDoubleQuote = 10,
  kClassHash = 11,
  kClassQuote = 12,
  kClassColon = 13,
  kClassX = 14,
  kClassT = 15,
  kClassH = 16,
  kClassLowerE = 17,
  kClassUpperE = 18,
  kClassLowerHex = 19,  // a-d, f
  kClassUpperHex = 20,  // A-D, F
  kClassSlash = 21,
  kClassBackslash = 22,
  kClassLt = 23,
  kClassGt = 24,
  kClassEqual = 25,
  kClassPercent = 26,
  kClassComma = 27,
  kClassSemicolon = 28,
  kClassAt = 29,
  kClassDot = 30,
  kClassDollar = 31,
  kClassPlus = 32,
  kClassMinus = 33,
  kClassCaret = 34,
  kClassControl = 35,
  kClassContinuation = 36,  // DEL and UTF-8 continuation bytes
  kClassLetter = 37,        // other letters and symbols, UTF-8 lead bytes
  kClassInvalid = 38,       // C0, C1, F8-FF
  kClassNul = 39,
  kClassCount = 40
};

// Scanning states. The numbers are only table rows.
enum LexState : uint8_t {
  kStateBlank = 0,  // start of a token; skips blanks
  kStatePath,       // start of a path element, after its "/"
  kStateWord,
  kStateWordHex,      // only upper-case hex digits and digits so far: "FF" of "FFh"
  kStateWordHexH,     // "FFh"
  kStateWordColon,    // "a:": a set-word, or the scheme of a url
  kStateLitStart,     // "'"
  kStateGetStart,     // ":"
  kStateSign,         // "+" or "-"
  kStateSignDot,      // "-."
  kStateDot,          // "." first
  kStateSlash,        // "/"
  kStateSlashes,      // "//"
  kStateRefinement,   // "/a"
  kStateLt,           // "<"
  kStateTag,          // "<a"
  kStateTagDouble,    // inside double quotes of a tag
  kStateTagSingle,    // inside single quotes of a tag
  kStateTagEnd,       // "<a>"
  kStateNumber,       // "12"
  kStateNumberDot,    // "12."
  kStateNumberComma,  // "12,"
  kStateFraction,     // "1.2"
  kStateExponent,     // "1.2e"
  kStateExpSign,      // "1.2e-"
  kStateExpDigits,    // "1.2e5"
  kStateExpOrHex,     // "1E": exponent or hex digit
  kStateExpOrHexDigits,
  kStateHexNumber,  // "0F"
  kStateHexH,       // "0Fh"
  kStatePairX,      // "1x"
  kStatePairSign,   // "1x-"
  kStatePair,       // "1x2"
  kStateTuple,      // "1.2."
  kStateSpecial,    // "1.#"
  kStatePercentEnd,
  kStateTime,        // "1:"
  kStateDate,        // "1-", "1/", "2024T"
  kStateNumberHash,  // "16#"
  kStateMoney,
  kStateEmail,
  kStateUrl,
  kStateRef,
  kStateHash,  // "#"
  kStateIssue,
  kStateChar,
  kStateCharEscape,
  kStateCharEnd,
  kStateBinary,
  kStateBinaryComment,
  kStateBinaryEnd,
  kStateConstruct,
  kStateConstructEnd,
  kStateMapOpen,
  kStateString,
  kStateStringEscape,
  kStateStringEnd,
  kStateFileStart,     // "%"
  kStatePercentColon,  // "%:"
  kStatePercents,      // "%%"
  kStateFile,
  kStateFileQuoted,
  kStateFileQuotedEscape,
  kStateFileQuotedEnd,
  kStateComment,
  kStatePathWord,    // a word element of a path
  kStatePathGet,     // ":" element start
  kStatePathNumber,  // an integer element
  kStateCount
};

inline constexpr int kLexFinal = 128;
static_assert(kStateCount < kLexFinal);

// Class entries: class in the low byte, LexFlag bits above.
extern const uint32_t kLexClasses[256];
// Transitions: the next state for (state, class).
extern uint8_t g_lex_transitions[kStateCount][kClassCount];
// The datatype reported when a token ends in error in this state (0: bad-char).
extern uint8_t g_lex_state_types[kStateCount];
// The datatype of each token kind (0: none).
extern const uint8_t kLexKindTypes[kKindKindCount];

// Builds the transition and type tables. Idempotent.
void lexer_tables_init();

}  // namespace kiv
