#pragma once
#include <cstdint>

#include "runtime/cell.h"
namespace kiv {
// Token kinds of the state machine. Kinds 0-12 are structure the lexer core
// handles itself; kinds 13-35 are literals it hands to lexer_load_token.
enum LexKind : int {
  kKindEnd = 0,
  kKindError = 1,
  kKindBlockOpen = 2,
  kKindBlockClose = 3,
  kKindParenOpen = 4,
  kKindParenClose = 5,
  kKindBraceOpen = 6,
  kKindBraceClose = 7,
  kKindMapOpen = 8,
  kKindPathStart = 9,
  kKindConstruct = 10,
  kKindComment = 11,
  kKindComma = 12,
  kKindString = 13,
  kKindWord = 14,
  kKindIssue = 15,
  kKindInteger = 16,
  kKindRefinement = 17,
  kKindChar = 18,
  kKindFile = 19,
  kKindBinary = 20,
  kKindPercent = 21,
  kKindFloat = 22,
  kKindSpecialFloat = 23,
  kKindTuple = 24,
  kKindDate = 25,
  kKindPair = 26,
  kKindPoint = 27,
  kKindTime = 28,
  kKindMoney = 29,
  kKindTag = 30,
  kKindUrl = 31,
  kKindEmail = 32,
  kKindHex = 33,
  kKindRawString = 34,
  kKindRef = 35,
  kKindKindCount = 36
};

// Character flags of a token: the OR of the flag bits of its bytes.
enum LexFlag : uint32_t {
  kLexGt = 0x80000,
  kLexPercent = 0x40000,
  kLexLt = 0x100000,
  kLexSign = 0x200000,
  kLexNul = 0x400000,
  kLexHash = 0x800000,
  kLexExp = 0x1000000,
  kLexQuote = 0x2000000,
  kLexColon = 0x4000000,
  kLexComma = 0x8000000,
  kLexDot = 0x10000000,
  kLexCaret = 0x20000000,
  kLexUtf8Wide = 0x40000000,
  kLexUtf8Four = 0x80000000,
};
// One token handed to a loader.
struct LexToken {
  const uint8_t* start;   // first byte of the token
  const uint8_t* end;     // one past its last byte
  uint32_t flags;         // LexFlag bits of its bytes
  int kind;               // token kind, kKindString..kKindRef
  int32_t type;           // in: the datatype id the state machine gave; out: the datatype
                          // decided (word kinds), or on failure the datatype to report
  int32_t fault;          // out on failure: 0 = `invalid` with `type`, -1 = bad-char, -2 = malconstruct
  const uint8_t* resume;  // out: where scanning resumes when the loader ended the token
                          // early (a word ends at a Unicode blank); null = at `end`
};
// Checks (load false) or loads (load true) the token. On load, writes the value into
// *out: a cell of the lexer's value buffer, which stays put across collections (the
// loader may allocate). Returns false when the text is malformed (token.type and
// token.fault say how); the core raises the syntax error with line and near text.
// Loaders never raise syntax errors themselves.
bool lexer_load_token(LexToken& token, bool load, Cell* out);
// True when a Unicode blank (U+0085, U+00A0, U+1680, U+2000..U+200A, U+2028, U+2029,
// U+202F, U+205F, U+3000, U+180E, U+200B) starts at p (before end); *length gets its byte length.
bool lexer_unicode_blank(const uint8_t* p, const uint8_t* end, int* length);
}  // namespace kiv
