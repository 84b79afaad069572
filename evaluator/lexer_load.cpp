// The token loaders: lexer_load_token hands each token of kinds 13-35 to the
// loader of its kind, which checks the literal's shape and, when asked,
// builds the value in the lexer's value-buffer cell. This file holds the
// dispatch, the Unicode blanks and the word family (words of every kind,
// issues, refinements); text literals are in lexer_load_text.cpp, numbers in
// lexer_load_number.cpp, dates in lexer_load_date.cpp.
//
// Loaders never raise syntax errors: a malformed token makes them return
// false with the datatype (or fault) the lexer reports.
#include "evaluator/lexer_load.h"

#include "datatypes/context.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "evaluator/lexer_load_internal.h"
#include "runtime/unicode.h"

namespace kiv {

namespace {

using lexload::fail;
using lexload::put;

bool colon_in_q(const uint8_t* p, const uint8_t* end) {
  for (; p < end; p++)
    if (*p == ':') return true;
  return false;
}

// The datatype a word token reads as, and its name: a leading "'" makes a
// lit-word!, a leading ":" a get-word!, a trailing ":" a set-word!. Any other
// ":" (both ends, or inside) is malformed.
bool classify_word(LexToken& token, const uint8_t** name, const uint8_t** name_end, const uint8_t* end) {
  const uint8_t* p = token.start;
  size_t n = size_t(end - p);
  if (p[0] == '\'') {
    if (n < 2 || colon_in_q(p + 1, end)) return fail(token, kTypeLitWord);
    token.type = kTypeLitWord;
    *name = p + 1;
    *name_end = end;
    return true;
  }
  if (p[0] == ':') {
    if (n < 2 || colon_in_q(p + 1, end)) return fail(token, kTypeWord);
    token.type = kTypeGetWord;
    *name = p + 1;
    *name_end = end;
    return true;
  }
  if (end[-1] == ':') {
    if (colon_in_q(p, end - 1)) return fail(token, kTypeWord);
    token.type = kTypeSetWord;
    *name = p;
    *name_end = end - 1;
    return true;
  }
  if (colon_in_q(p, end)) return fail(token, kTypeWord);
  token.type = kTypeWord;
  *name = p;
  *name_end = end;
  return true;
}

// Words, issues and refinements. The token ends at its first Unicode blank
// (token.resume then points there); its name must be valid UTF-8.
bool load_word_family(LexToken& token, bool load, Cell* out) {
  TypeId report = token.kind == kKindIssue        ? kTypeIssue
                  : token.kind == kKindRefinement ? kTypeRefinement
                                                  : kTypeWord;
  const uint8_t* end = token.end;
  if (token.start >= end) return fail(token, report);
  for (const uint8_t* q = token.start; q < end;) {
    int length = 0;
    if (*q >= 0x80 && lexer_unicode_blank(q, end, &length)) {
      if (q == token.start) return fail(token, report, -1);
      end = q;
      token.resume = q;
      break;
    }
    int32_t cp;
    q = utf8_fast_decode_char(q, end, &cp);
    if (cp < 0) return fail(token, report);
  }
  const uint8_t* name = nullptr;
  const uint8_t* name_end = nullptr;
  if (token.kind == kKindWord) {
    if (!classify_word(token, &name, &name_end, end)) return false;
  } else {
    char prefix = token.kind == kKindIssue ? '#' : '/';
    if (end - token.start < 2 || token.start[0] != prefix) return fail(token, report);
    if (report == kTypeRefinement && colon_in_q(token.start, end)) return fail(token, report);
    token.type = report;
    name = token.start + 1;
    name_end = end;
  }
  if (!load) return true;
  // Copies the name before anything allocates.
  int32_t symbol = symbol_make_sized(name, uint32_t(name_end - name));
  Cell word;
  if (g_global_context != 0) {
    word_init_cell(symbol, &word);
  } else {
    word = word_cell(kTypeWord, 0, symbol, -1);
  }
  word.set_type(TypeId(token.type));
  if (token.type == kTypeIssue) word_set_index(&word, -1);
  put(out, word);
  return true;
}

}  // namespace

bool lexer_unicode_blank(const uint8_t* p, const uint8_t* end, int* length) {
  if (p >= end || *p < 0xC2) return false;
  int32_t cp;
  const uint8_t* next = utf8_fast_decode_char(p, end, &cp);
  bool blank = cp >= 0 && unicode_blank_q(uint32_t(cp));
  if (blank) *length = int(next - p);
  return blank;
}

bool lexer_load_token(LexToken& token, bool load, Cell* out) {
  token.fault = 0;
  token.resume = nullptr;
  switch (token.kind) {
    case kKindString: return lexload::load_string(token, load, out);
    case kKindWord:
    case kKindIssue:
    case kKindRefinement: return load_word_family(token, load, out);
    case kKindInteger: return lexload::load_integer(token, load, out);
    case kKindChar: return lexload::load_char(token, load, out);
    case kKindFile: return lexload::load_file(token, load, out);
    case kKindBinary: return lexload::load_binary(token, load, out);
    case kKindPercent: return lexload::load_percent(token, load, out);
    case kKindFloat: return lexload::load_float(token, load, out);
    case kKindSpecialFloat: return lexload::load_special_float(token, load, out);
    case kKindTuple: return lexload::load_tuple(token, load, out);
    case kKindDate: return lexload::load_date(token, load, out);
    case kKindPair: return lexload::load_pair(token, load, out);
    case kKindPoint: return lexload::load_point(token, load, out);
    case kKindTime: return lexload::load_time(token, load, out);
    case kKindMoney: return lexload::load_money(token, load, out);
    case kKindTag: return lexload::load_tag(token, load, out);
    case kKindUrl: return lexload::load_url(token, load, out);
    case kKindEmail: return lexload::load_email(token, load, out);
    case kKindHex: return lexload::load_hex(token, load, out);
    case kKindRawString: return lexload::load_raw_string(token, load, out);
    case kKindRef: return lexload::load_ref(token, load, out);
    default: return fail(token, 0, -1);
  }
}

}  // namespace kiv
