// The character classes and the token state machine, built from the literal
// syntax. Each state's row starts from a default (usually "a delimiter ends
// the token, a bad byte is an error, anything else stays") and overrides the
// classes that change the token's shape. The machine only finds where a
// token ends and which kind it is; the loaders check the details.
#include "evaluator/lexer_tables.h"

#include <array>
#include <initializer_list>

#include "evaluator/lexer.h"
#include "evaluator/lexer_load.h"
#include "runtime/cell.h"

namespace kiv {

namespace {

constexpr std::array<uint32_t, 256> make_classes() {
  std::array<uint32_t, 256> t{};
  for (int b = 0; b < 256; b++) t[b] = kClassLetter;
  for (int b = 1; b < 32; b++) t[b] = kClassControl;
  t[0] = uint32_t(kClassNul) | kLexNul;
  t['\t'] = t['\r'] = t[' '] = kClassBlank;
  t['\n'] = kClassLf;
  for (int b = '1'; b <= '9'; b++) t[b] = kClassDigit;
  t['0'] = kClassZero;
  t['['] = kClassBracketOpen;
  t[']'] = kClassBracketClose;
  t['('] = kClassParenOpen;
  t[')'] = kClassParenClose;
  t['{'] = kClassBraceOpen;
  t['}'] = kClassBraceClose;
  t['"'] = kClassDoubleQuote;
  t['#'] = uint32_t(kClassHash) | kLexHash;
  t['\''] = uint32_t(kClassQuote) | kLexQuote;
  t[':'] = uint32_t(kClassColon) | kLexColon;
  t['x'] = t['X'] = kClassX;
  t['T'] = kClassT;
  t['h'] = kClassH;
  t['e'] = uint32_t(kClassLowerE) | kLexExp;
  t['E'] = uint32_t(kClassUpperE) | kLexExp;
  for (int b = 'a'; b <= 'd'; b++) t[b] = kClassLowerHex;
  t['f'] = kClassLowerHex;
  for (int b = 'A'; b <= 'D'; b++) t[b] = kClassUpperHex;
  t['F'] = kClassUpperHex;
  t['/'] = kClassSlash;
  t['\\'] = kClassBackslash;
  t['<'] = uint32_t(kClassLt) | kLexLt;
  t['>'] = uint32_t(kClassGt) | kLexGt;
  t['='] = kClassEqual;
  t['%'] = uint32_t(kClassPercent) | kLexPercent;
  t[','] = uint32_t(kClassComma) | kLexComma;
  t[';'] = kClassSemicolon;
  t['@'] = kClassAt;
  t['.'] = uint32_t(kClassDot) | kLexDot;
  t['$'] = kClassDollar;
  t['+'] = uint32_t(kClassPlus) | kLexSign;
  t['-'] = uint32_t(kClassMinus) | kLexSign;
  t['^'] = uint32_t(kClassCaret) | kLexCaret;
  t[0x7F] = kClassContinuation;
  for (int b = 0x80; b <= 0xBF; b++) t[b] = kClassContinuation;
  t[0xC0] = t[0xC1] = kClassInvalid;
  for (int b = 0xC2; b <= 0xEF; b++) t[b] = uint32_t(kClassLetter) | kLexUtf8Wide;
  for (int b = 0xF0; b <= 0xF7; b++) t[b] = uint32_t(kClassLetter) | kLexUtf8Four;
  for (int b = 0xF8; b <= 0xFF; b++) t[b] = kClassInvalid;
  return t;
}

constexpr std::array<uint32_t, 256> kClassTable = make_classes();

using Classes = std::initializer_list<int>;

// Bytes that end most tokens: blanks, line ends, brackets, parens, braces, a
// double quote, a comma, a semicolon and the end of input.
constexpr Classes kDelimiters = {kClassBlank,       kClassLf,         kClassBracketOpen, kClassBracketClose,
                                 kClassParenOpen,   kClassParenClose, kClassBraceOpen,   kClassBraceClose,
                                 kClassDoubleQuote, kClassComma,      kClassSemicolon,   kClassNul};
// Bytes no token outside a string may hold.
constexpr Classes kBadBytes = {kClassBackslash, kClassControl, kClassInvalid};
constexpr Classes kDigits = {kClassDigit, kClassZero};
constexpr Classes kUpperHexLetters = {kClassUpperHex, kClassUpperE};
// The characters a word is made of, besides the ones that change its kind
// (":", "/", "@", "$").
constexpr Classes kWordChars = {kClassDigit,    kClassZero, kClassHash,   kClassQuote,  kClassX,
                                kClassT,        kClassH,    kClassLowerE, kClassUpperE, kClassLowerHex,
                                kClassUpperHex, kClassLt,   kClassGt,     kClassEqual,  kClassPercent,
                                kClassDot,      kClassPlus, kClassMinus,  kClassCaret,  kClassContinuation,
                                kClassLetter};

constexpr int final_of(int kind) { return kLexFinal + kind; }

struct Builder {
  uint8_t (&rows)[kStateCount][kClassCount];
  uint8_t (&types)[kStateCount];

  void set(int state, Classes classes, int next) {
    for (int c : classes) rows[state][c] = uint8_t(next);
  }
  void all(int state, int next) {
    for (int c = 0; c < kClassCount; c++) rows[state][c] = uint8_t(next);
  }
  // The common shape: delimiters end the token as [kind], bad bytes are
  // errors, anything else stays in [state].
  void body(int state, int kind, TypeId type) {
    all(state, state);
    set(state, kDelimiters, final_of(kind));
    set(state, kBadBytes, final_of(kKindError));
    types[state] = type;
  }
  // A state that accepts nothing but what is set after it: all else is an error.
  void strict(int state, TypeId type) {
    all(state, final_of(kKindError));
    types[state] = type;
  }
  // The word row: word characters stay, ":" "/" "@" "$" change the kind.
  void word(int state, TypeId type) {
    strict(state, type);
    set(state, kWordChars, kStateWord);
    set(state, kDelimiters, final_of(kKindWord));
    set(state, {kClassColon}, kStateWordColon);
    set(state, {kClassSlash}, final_of(kKindPathStart));
    set(state, {kClassAt}, kStateEmail);
    set(state, {kClassDollar}, kStateMoney);
  }
  // The rows a double-quoted text shares: "^" escapes, LF and bad bytes are errors.
  void quoted(int state, int escape, int end, TypeId type) {
    all(state, state);
    set(state, {kClassDoubleQuote}, end);
    set(state, {kClassCaret}, escape);
    set(state, {kClassLf, kClassNul, kClassInvalid}, final_of(kKindError));
    types[state] = type;
    all(escape, state);
    set(escape, {kClassLf, kClassNul, kClassInvalid}, final_of(kKindError));
    types[escape] = type;
  }
};

}  // namespace

const uint32_t kLexClasses[256] = {
#define ROW(i) kClassTable[i], kClassTable[i + 1], kClassTable[i + 2], kClassTable[i + 3]
#define ROW16(i) ROW(i), ROW(i + 4), ROW(i + 8), ROW(i + 12)
    ROW16(0),   ROW16(16),  ROW16(32),  ROW16(48),  ROW16(64),  ROW16(80),  ROW16(96),  ROW16(112),
    ROW16(128), ROW16(144), ROW16(160), ROW16(176), ROW16(192), ROW16(208), ROW16(224), ROW16(240),
#undef ROW16
#undef ROW
};

uint8_t g_lex_transitions[kStateCount][kClassCount];
uint8_t g_lex_state_types[kStateCount];

const uint8_t kLexKindTypes[kKindKindCount] = {0,
                                               kTypeError,
                                               0,
                                               0,
                                               0,
                                               0,
                                               0,
                                               kTypeString,
                                               0,
                                               0,
                                               0,
                                               0,
                                               0,
                                               kTypeString,
                                               kTypeWord,
                                               kTypeIssue,
                                               kTypeInteger,
                                               kTypeRefinement,
                                               kTypeChar,
                                               kTypeFile,
                                               kTypeBinary,
                                               kTypePercent,
                                               kTypeFloat,
                                               kTypeFloat,
                                               kTypeTuple,
                                               kTypeDate,
                                               kTypePair,
                                               kTypePoint2D,
                                               kTypeTime,
                                               kTypeMoney,
                                               kTypeTag,
                                               kTypeUrl,
                                               kTypeEmail,
                                               kTypeInteger,
                                               kTypeString,
                                               kTypeRef};

void lexer_tables_init() {
  Builder b{g_lex_transitions, g_lex_state_types};
  const int error = final_of(kKindError);

  // The blank state: where every token starts.
  b.strict(kStateBlank, kTypeNil);
  b.set(kStateBlank, {kClassBlank, kClassLf, kClassControl}, kStateBlank);
  b.set(kStateBlank, {kClassNul}, final_of(kKindEnd));
  b.set(kStateBlank, {kClassBracketOpen}, final_of(kKindBlockOpen));
  b.set(kStateBlank, {kClassBracketClose}, final_of(kKindBlockClose));
  b.set(kStateBlank, {kClassParenOpen}, final_of(kKindParenOpen));
  b.set(kStateBlank, {kClassParenClose}, final_of(kKindParenClose));
  b.set(kStateBlank, {kClassBraceOpen}, final_of(kKindBraceOpen));
  b.set(kStateBlank, {kClassComma}, final_of(kKindComma));
  b.set(kStateBlank, kDigits, kStateNumber);
  b.set(kStateBlank, {kClassDoubleQuote}, kStateString);
  b.set(kStateBlank, {kClassSemicolon}, kStateComment);
  b.set(kStateBlank, {kClassHash}, kStateHash);
  b.set(kStateBlank, {kClassPercent}, kStateFileStart);
  b.set(kStateBlank, {kClassLt}, kStateLt);
  b.set(kStateBlank, {kClassAt}, kStateRef);
  b.set(kStateBlank, {kClassDollar}, kStateMoney);
  b.set(kStateBlank, {kClassPlus, kClassMinus}, kStateSign);
  b.set(kStateBlank, {kClassDot}, kStateDot);
  b.set(kStateBlank, {kClassQuote}, kStateLitStart);
  b.set(kStateBlank, {kClassColon}, kStateGetStart);
  b.set(kStateBlank, {kClassSlash}, kStateSlash);
  b.set(kStateBlank,
        {kClassX, kClassT, kClassH, kClassLowerE, kClassLowerHex, kClassGt, kClassEqual, kClassCaret,
         kClassLetter},
        kStateWord);
  b.set(kStateBlank, kUpperHexLetters, kStateWordHex);

  // Words and their prefixes.
  b.word(kStateWord, kTypeWord);
  b.word(kStateWordHex, kTypeWord);
  b.set(kStateWordHex, kDigits, kStateWordHex);
  b.set(kStateWordHex, kUpperHexLetters, kStateWordHex);
  b.set(kStateWordHex, {kClassH}, kStateWordHexH);
  b.word(kStateWordHexH, kTypeWord);
  b.set(kStateWordHexH, kDelimiters, final_of(kKindHex));
  // "a:" then a delimiter is a set-word; anything else makes a url.
  b.body(kStateWordColon, kKindWord, kTypeUrl);
  for (int c = 0; c < kClassCount; c++)
    if (b.rows[kStateWordColon][c] == kStateWordColon) b.rows[kStateWordColon][c] = kStateUrl;
  b.word(kStateLitStart, kTypeLitWord);
  b.set(kStateLitStart, {kClassSlash}, kStateRefinement);
  b.set(kStateLitStart, {kClassColon}, kStateWord);
  b.word(kStateGetStart, kTypeGetWord);
  b.set(kStateGetStart, {kClassSlash}, kStateRefinement);
  b.set(kStateGetStart, {kClassColon}, kStateWord);
  b.word(kStateSign, kTypeWord);
  b.set(kStateSign, kDigits, kStateNumber);
  b.set(kStateSign, {kClassDot}, kStateSignDot);
  b.word(kStateSignDot, kTypeWord);
  b.set(kStateSignDot, kDigits, kStateFraction);
  b.word(kStateDot, kTypeWord);
  b.set(kStateDot, kDigits, kStateFraction);
  b.strict(kStateSlash, kTypeRefinement);
  b.set(kStateSlash, kDelimiters, final_of(kKindWord));
  b.set(kStateSlash, {kClassSlash}, kStateSlashes);
  b.set(kStateSlash, kWordChars, kStateRefinement);
  b.set(kStateSlash, {kClassColon}, kStateRefinement);
  b.strict(kStateSlashes, kTypeWord);
  b.set(kStateSlashes, kDelimiters, final_of(kKindWord));
  b.set(kStateSlashes, {kClassSlash}, kStateSlashes);
  b.strict(kStateRefinement, kTypeRefinement);
  b.set(kStateRefinement, kDelimiters, final_of(kKindRefinement));
  b.set(kStateRefinement, kWordChars, kStateRefinement);
  b.set(kStateRefinement, {kClassColon, kClassAt, kClassDollar}, kStateRefinement);

  // "<": a word ("<", "<=", "<>", "<<") or a tag.
  b.strict(kStateLt, kTypeTag);
  b.set(kStateLt, kDelimiters, final_of(kKindWord));
  b.all(kStateTag, kStateTag);
  for (int c = 0; c < kClassCount; c++)
    if (b.rows[kStateBlank][c] != error) b.rows[kStateLt][c] = kStateTag;
  b.set(kStateLt, kDelimiters, final_of(kKindWord));
  b.set(kStateLt, {kClassEqual, kClassLt, kClassGt}, kStateWord);
  b.set(kStateLt, kBadBytes, error);
  b.types[kStateTag] = kTypeTag;
  b.set(kStateTag, {kClassGt}, kStateTagEnd);
  b.set(kStateTag, {kClassDoubleQuote}, kStateTagDouble);
  b.set(kStateTag, {kClassQuote}, kStateTagSingle);
  b.set(kStateTag, {kClassLf, kClassNul, kClassInvalid}, error);
  b.all(kStateTagDouble, kStateTagDouble);
  b.set(kStateTagDouble, {kClassDoubleQuote}, kStateTag);
  b.set(kStateTagDouble, {kClassLf, kClassNul, kClassInvalid}, error);
  b.types[kStateTagDouble] = kTypeTag;
  b.all(kStateTagSingle, kStateTagSingle);
  b.set(kStateTagSingle, {kClassQuote}, kStateTag);
  b.set(kStateTagSingle, {kClassLf, kClassNul, kClassInvalid}, error);
  b.types[kStateTagSingle] = kTypeTag;
  b.strict(kStateTagEnd, kTypeTag);
  b.set(kStateTagEnd, kDelimiters, final_of(kKindTag));

  // Numbers: integers, then what the next character turns them into.
  b.strict(kStateNumber, kTypeInteger);
  b.set(kStateNumber, kDelimiters, final_of(kKindInteger));
  b.set(kStateNumber, kDigits, kStateNumber);
  b.set(kStateNumber, {kClassQuote}, kStateNumber);
  b.set(kStateNumber, {kClassDot}, kStateNumberDot);
  b.set(kStateNumber, {kClassComma}, kStateNumberComma);
  b.set(kStateNumber, {kClassLowerE}, kStateExponent);
  b.set(kStateNumber, {kClassUpperE}, kStateExpOrHex);
  b.set(kStateNumber, {kClassUpperHex}, kStateHexNumber);
  b.set(kStateNumber, {kClassH}, kStateHexH);
  b.set(kStateNumber, {kClassX}, kStatePairX);
  b.set(kStateNumber, {kClassColon}, kStateTime);
  b.set(kStateNumber, {kClassMinus, kClassSlash, kClassT}, kStateDate);
  b.set(kStateNumber, {kClassPercent}, kStatePercentEnd);
  b.set(kStateNumber, {kClassHash}, kStateNumberHash);
  b.set(kStateNumber, {kClassAt}, kStateEmail);

  b.strict(kStateNumberDot, kTypeFloat);
  b.set(kStateNumberDot, kDelimiters, final_of(kKindFloat));
  b.set(kStateNumberDot, kDigits, kStateFraction);
  b.set(kStateNumberDot, {kClassHash}, kStateSpecial);
  b.set(kStateNumberDot, {kClassLowerE, kClassUpperE}, kStateExponent);
  b.set(kStateNumberDot, {kClassPercent}, kStatePercentEnd);
  b.set(kStateNumberDot, {kClassX}, kStatePairX);
  b.set(kStateNumberDot, {kClassDot}, kStateTuple);

  b.strict(kStateNumberComma, kTypeFloat);
  b.set(kStateNumberComma, kDelimiters, final_of(kKindFloat));
  b.set(kStateNumberComma, kDigits, kStateFraction);

  b.strict(kStateFraction, kTypeFloat);
  b.set(kStateFraction, kDelimiters, final_of(kKindFloat));
  b.set(kStateFraction, kDigits, kStateFraction);
  b.set(kStateFraction, {kClassQuote}, kStateFraction);
  b.set(kStateFraction, {kClassDot}, kStateTuple);
  b.set(kStateFraction, {kClassLowerE, kClassUpperE}, kStateExponent);
  b.set(kStateFraction, {kClassPercent}, kStatePercentEnd);
  b.set(kStateFraction, {kClassX}, kStatePairX);

  b.strict(kStateExponent, kTypeFloat);
  b.set(kStateExponent, kDigits, kStateExpDigits);
  b.set(kStateExponent, {kClassPlus, kClassMinus}, kStateExpSign);
  b.strict(kStateExpSign, kTypeFloat);
  b.set(kStateExpSign, kDigits, kStateExpDigits);
  b.strict(kStateExpDigits, kTypeFloat);
  b.set(kStateExpDigits, kDelimiters, final_of(kKindFloat));
  b.set(kStateExpDigits, kDigits, kStateExpDigits);
  b.set(kStateExpDigits, {kClassPercent}, kStatePercentEnd);

  // "1E": an exponent ("1E5") or a hex integer ("1E5h", "1EFh").
  b.strict(kStateExpOrHex, kTypeFloat);
  b.set(kStateExpOrHex, kDigits, kStateExpOrHexDigits);
  b.set(kStateExpOrHex, {kClassPlus, kClassMinus}, kStateExpSign);
  b.set(kStateExpOrHex, kUpperHexLetters, kStateHexNumber);
  b.set(kStateExpOrHex, {kClassH}, kStateHexH);
  b.strict(kStateExpOrHexDigits, kTypeFloat);
  b.set(kStateExpOrHexDigits, kDelimiters, final_of(kKindFloat));
  b.set(kStateExpOrHexDigits, kDigits, kStateExpOrHexDigits);
  b.set(kStateExpOrHexDigits, kUpperHexLetters, kStateHexNumber);
  b.set(kStateExpOrHexDigits, {kClassH}, kStateHexH);
  b.set(kStateExpOrHexDigits, {kClassPercent}, kStatePercentEnd);

  b.strict(kStateHexNumber, kTypeInteger);
  b.set(kStateHexNumber, kDigits, kStateHexNumber);
  b.set(kStateHexNumber, kUpperHexLetters, kStateHexNumber);
  b.set(kStateHexNumber, {kClassH}, kStateHexH);
  b.strict(kStateHexH, kTypeInteger);
  b.set(kStateHexH, kDelimiters, final_of(kKindHex));

  b.strict(kStatePairX, kTypePair);
  b.set(kStatePairX, kDigits, kStatePair);
  b.set(kStatePairX, {kClassPlus, kClassMinus}, kStatePairSign);
  b.strict(kStatePairSign, kTypePair);
  b.set(kStatePairSign, kDigits, kStatePair);
  b.strict(kStatePair, kTypePair);
  b.set(kStatePair, kDelimiters, final_of(kKindPair));
  b.set(kStatePair, kDigits, kStatePair);
  b.set(kStatePair, {kClassDot, kClassQuote, kClassLowerE, kClassUpperE}, kStatePair);

  b.strict(kStateTuple, kTypeTuple);
  b.set(kStateTuple, kDelimiters, final_of(kKindTuple));
  b.set(kStateTuple, kDigits, kStateTuple);
  b.set(kStateTuple, {kClassDot}, kStateTuple);

  b.strict(kStateSpecial, kTypeFloat);
  b.set(kStateSpecial, kDelimiters, final_of(kKindSpecialFloat));
  b.set(kStateSpecial, kWordChars, kStateSpecial);

  b.strict(kStatePercentEnd, kTypePercent);
  b.set(kStatePercentEnd, kDelimiters, final_of(kKindPercent));

  b.strict(kStateTime, kTypeTime);
  b.set(kStateTime, kDelimiters, final_of(kKindTime));
  b.set(kStateTime, kDigits, kStateTime);
  b.set(kStateTime, {kClassColon, kClassDot, kClassQuote, kClassLowerE, kClassUpperE}, kStateTime);
  // A comma inside a time is its decimal mark only when a digit follows;
  // the loader sees the whole text either way.
  b.set(kStateTime, {kClassComma}, kStateTime);

  b.body(kStateDate, kKindDate, kTypeDate);
  b.set(kStateDate, {kClassQuote, kClassHash, kClassAt, kClassDollar, kClassCaret, kClassPercent}, error);

  b.strict(kStateNumberHash, kTypeBinary);
  b.set(kStateNumberHash, {kClassBraceOpen}, kStateBinary);

  b.strict(kStateMoney, kTypeMoney);
  b.set(kStateMoney, kDelimiters, final_of(kKindMoney));
  b.set(kStateMoney, kDigits, kStateMoney);
  b.set(kStateMoney, {kClassQuote, kClassDot}, kStateMoney);
  b.set(kStateMoney, {kClassComma}, kStateMoney);

  // Texts that run to the next delimiter.
  b.body(kStateEmail, kKindEmail, kTypeEmail);
  b.body(kStateUrl, kKindUrl, kTypeUrl);
  b.body(kStateRef, kKindRef, kTypeRef);
  b.body(kStateIssue, kKindIssue, kTypeIssue);
  b.body(kStateFile, kKindFile, kTypeFile);
  b.set(kStateFile, {kClassBackslash}, kStateFile);

  // "#": issue, char, binary, construction or map.
  b.body(kStateHash, kKindIssue, kTypeIssue);
  b.set(kStateHash, kDelimiters, final_of(kKindIssue));
  for (int c = 0; c < kClassCount; c++)
    if (b.rows[kStateHash][c] == kStateHash) b.rows[kStateHash][c] = kStateIssue;
  b.set(kStateHash, {kClassDoubleQuote}, kStateChar);
  b.set(kStateHash, {kClassBraceOpen}, kStateBinary);
  b.set(kStateHash, {kClassParenOpen}, kStateConstruct);
  b.set(kStateHash, {kClassBracketOpen}, kStateMapOpen);
  b.quoted(kStateChar, kStateCharEscape, kStateCharEnd, kTypeChar);
  b.all(kStateCharEnd, final_of(kKindChar));
  b.types[kStateCharEnd] = kTypeChar;

  b.all(kStateBinary, kStateBinary);
  b.set(kStateBinary, {kClassBraceClose}, kStateBinaryEnd);
  b.set(kStateBinary, {kClassSemicolon}, kStateBinaryComment);
  b.set(kStateBinary, {kClassNul, kClassInvalid, kClassBraceOpen}, error);
  b.types[kStateBinary] = kTypeBinary;
  b.all(kStateBinaryComment, kStateBinaryComment);
  b.set(kStateBinaryComment, {kClassLf}, kStateBinary);
  b.set(kStateBinaryComment, {kClassNul}, error);
  b.types[kStateBinaryComment] = kTypeBinary;
  b.strict(kStateBinaryEnd, kTypeBinary);
  b.set(kStateBinaryEnd, kDelimiters, final_of(kKindBinary));

  // "#(" name ")": the handler checks the name; a line end or the end of
  // input before ")" ends the token as it is, for the handler to refuse.
  b.all(kStateConstruct, kStateConstruct);
  b.set(kStateConstruct, {kClassParenClose}, kStateConstructEnd);
  b.set(kStateConstruct, {kClassLf, kClassNul}, final_of(kKindConstruct));
  b.types[kStateConstruct] = kTypeNil;
  b.all(kStateConstructEnd, final_of(kKindConstruct));
  b.all(kStateMapOpen, final_of(kKindMapOpen));

  b.quoted(kStateString, kStateStringEscape, kStateStringEnd, kTypeString);
  b.all(kStateStringEnd, final_of(kKindString));
  b.types[kStateStringEnd] = kTypeString;

  // "%": a file, a quoted file, or the "%{" / "%%{" opening of a raw string
  // (whose content the raw-string handler finds). A "%" or "%:" that a
  // delimiter ends is the word "%" (the remainder operator) or its set-word;
  // the empty file is written %"".
  b.body(kStateFileStart, kKindFile, kTypeFile);
  for (int c = 0; c < kClassCount; c++)
    if (b.rows[kStateFileStart][c] == kStateFileStart) b.rows[kStateFileStart][c] = kStateFile;
  b.set(kStateFileStart, {kClassBackslash}, kStateFile);
  b.set(kStateFileStart, kDelimiters, final_of(kKindWord));
  b.set(kStateFileStart, {kClassColon}, kStatePercentColon);
  b.body(kStatePercentColon, kKindWord, kTypeFile);
  for (int c = 0; c < kClassCount; c++)
    if (b.rows[kStatePercentColon][c] == kStatePercentColon) b.rows[kStatePercentColon][c] = kStateFile;
  b.set(kStatePercentColon, {kClassBackslash}, kStateFile);
  b.set(kStateFileStart, {kClassDoubleQuote}, kStateFileQuoted);
  b.set(kStateFileStart, {kClassBraceOpen}, final_of(kKindRawString));
  b.set(kStateFileStart, {kClassPercent}, kStatePercents);
  b.body(kStatePercents, kKindFile, kTypeFile);
  for (int c = 0; c < kClassCount; c++)
    if (b.rows[kStatePercents][c] == kStatePercents) b.rows[kStatePercents][c] = kStateFile;
  b.set(kStatePercents, {kClassPercent}, kStatePercents);
  b.set(kStatePercents, {kClassBraceOpen}, final_of(kKindRawString));
  b.quoted(kStateFileQuoted, kStateFileQuotedEscape, kStateFileQuotedEnd, kTypeFile);
  b.all(kStateFileQuotedEnd, final_of(kKindFile));
  b.types[kStateFileQuotedEnd] = kTypeFile;

  b.all(kStateComment, kStateComment);
  b.set(kStateComment, {kClassLf, kClassNul}, final_of(kKindComment));
  b.types[kStateComment] = kTypeNil;

  // Path elements, after a "/": words, get-words, integers, parens and strings.
  b.strict(kStatePath, kTypePath);
  b.set(kStatePath, kWordChars, kStatePathWord);
  b.set(kStatePath, kDigits, kStatePathNumber);
  b.set(kStatePath, {kClassColon}, kStatePathGet);
  b.set(kStatePath, {kClassParenOpen}, final_of(kKindParenOpen));
  b.set(kStatePath, {kClassDoubleQuote}, kStateString);
  b.set(kStatePath, {kClassAt, kClassDollar}, kStatePathWord);
  b.strict(kStatePathWord, kTypeWord);
  b.set(kStatePathWord, kWordChars, kStatePathWord);
  b.set(kStatePathWord, {kClassAt, kClassDollar}, kStatePathWord);
  b.set(kStatePathWord, kDelimiters, final_of(kKindWord));
  b.set(kStatePathWord, {kClassColon, kClassSlash}, final_of(kKindWord));
  b.strict(kStatePathGet, kTypeGetWord);
  b.set(kStatePathGet, kWordChars, kStatePathWord);
  b.strict(kStatePathNumber, kTypeInteger);
  b.set(kStatePathNumber, kDigits, kStatePathNumber);
  b.set(kStatePathNumber, {kClassQuote}, kStatePathNumber);
  b.set(kStatePathNumber, kDelimiters, final_of(kKindInteger));
  b.set(kStatePathNumber, {kClassColon, kClassSlash}, final_of(kKindInteger));
}

}  // namespace kiv
