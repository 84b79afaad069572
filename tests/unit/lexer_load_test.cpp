// The token loaders called directly through lexer_load_token: each literal
// syntax with its malformed forms, the fault fields, words ended by a Unicode
// blank, and that checking (load false) agrees with loading.
#include "evaluator/lexer_load.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "datatypes/context.h"
#include "datatypes/registry.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "kiv_test.h"
#include "runtime/gc_root.h"

namespace kiv {
namespace {

using test::mold_of;

// The character flags the scanner ORs over a token's bytes.
uint32_t flags_of(std::string_view text) {
  uint32_t flags = 0;
  for (unsigned char c : text) {
    switch (c) {
      case '#': flags |= kLexHash; break;
      case '\'': flags |= kLexQuote; break;
      case ':': flags |= kLexColon; break;
      case 'e':
      case 'E': flags |= kLexExp; break;
      case '<': flags |= kLexLt; break;
      case '>': flags |= kLexGt; break;
      case '%': flags |= kLexPercent; break;
      case ',': flags |= kLexComma; break;
      case '.': flags |= kLexDot; break;
      case '+':
      case '-': flags |= kLexSign; break;
      case '^': flags |= kLexCaret; break;
      default:
        if (c >= 0xC2 && c <= 0xEF) flags |= kLexUtf8Wide;
        if (c >= 0xF0 && c <= 0xF7) flags |= kLexUtf8Four;
    }
  }
  return flags;
}

LexToken token_of(int kind, std::string_view text) {
  const auto* p = reinterpret_cast<const uint8_t*>(text.data());
  return LexToken{p, p + text.size(), flags_of(text), kind, 0, 0, nullptr};
}

// The mold of the loaded value, or "!" and the datatype reported ("!integer!"),
// "!bad-char" or "!malconstruct". Checking alone must give the same answer.
std::string load(int kind, std::string_view text) {
  LexToken check = token_of(kind, text);
  bool checked = lexer_load_token(check, false, nullptr);
  LexToken token = token_of(kind, text);
  Root out(make_cell(kTypeUnset));
  bool loaded = lexer_load_token(token, true, out.get());
  EXPECT_EQ(checked, loaded) << text;
  EXPECT_EQ(check.type, token.type) << text;
  if (!loaded) {
    if (token.fault == -1) return "!bad-char";
    if (token.fault == -2) return "!malconstruct";
    return std::string("!") + type_name(TypeId(token.type));
  }
  if (out->is(kTypeBinary)) {
    // "#{" and the bytes in hexadecimal, as a binary! is written.
    std::string text = "#{";
    SeriesBuffer* b = series_buffer(out->node());
    for (const uint8_t* p = b->head_ptr(); p < b->tail_ptr(); p++) text += string_byte_to_hex(*p).view();
    return text + "}";
  }
  return mold_of(*out);
}

struct Case {
  int kind;
  const char* text;
  const char* expected;
};

void run(std::initializer_list<Case> cases) {
  for (const Case& c : cases) EXPECT_EQ(load(c.kind, c.text), c.expected) << c.text;
}

TEST(LexerLoadTest, Words) {
  run({
      {kKindWord, "abc", "abc"},
      {kKindWord, "abc:", "abc:"},
      {kKindWord, ":abc", ":abc"},
      {kKindWord, "'abc", "'abc"},
      {kKindWord, "/", "/"},
      {kKindWord, "//", "//"},
      {kKindWord, "<=", "<="},
      {kKindWord, "'abc:", "!lit-word!"},
      {kKindWord, "'", "!lit-word!"},
      {kKindWord, ":a:", "!word!"},
      {kKindWord, "a:b", "!word!"},
      {kKindWord, ":", "!word!"},
      {kKindWord, "h\xC3\xA9llo", "h\xC3\xA9llo"},
      {kKindWord, "a\xC3", "!word!"},
      {kKindIssue, "#abc", "#abc"},
      {kKindIssue, "#1-2", "#1-2"},
      {kKindIssue, "#", "!issue!"},
      {kKindRefinement, "/abc", "/abc"},
      {kKindRefinement, "/1", "/1"},
      {kKindRefinement, "'/a", "!refinement!"},
      {kKindRefinement, ":/a", "!refinement!"},
  });
}

TEST(LexerLoadTest, WordTypesAndBinding) {
  struct {
    int kind;
    const char* text;
    TypeId type;
  } cases[] = {
      {kKindWord, "a", kTypeWord},
      {kKindWord, "a:", kTypeSetWord},
      {kKindWord, ":a", kTypeGetWord},
      {kKindWord, "'a", kTypeLitWord},
      {kKindRefinement, "/a", kTypeRefinement},
      {kKindIssue, "#a", kTypeIssue},
  };
  for (const auto& c : cases) {
    LexToken token = token_of(c.kind, c.text);
    Root out(make_cell(kTypeUnset));
    out->header |= kFlagNewLine;
    ASSERT_TRUE(lexer_load_token(token, true, out.get())) << c.text;
    EXPECT_EQ(token.type, c.type) << c.text;
    EXPECT_TRUE(out->is(c.type)) << c.text;
    EXPECT_TRUE(out->new_line()) << "the new-line flag of the buffer cell stays: " << c.text;
    EXPECT_EQ(word_context(out.get()), g_global_context) << c.text;
    EXPECT_EQ(std::string(symbol_name(word_symbol(out.get()))), "a");
  }
}

TEST(LexerLoadTest, WordEndsAtUnicodeBlank) {
  std::string text =
      "abc\xC2\xA0"
      "def";
  LexToken token = token_of(kKindWord, text);
  Root out(make_cell(kTypeUnset));
  ASSERT_TRUE(lexer_load_token(token, true, out.get()));
  EXPECT_EQ(mold_of(*out), "abc");
  EXPECT_EQ(token.resume, token.start + 3);
  // No blank: the token runs to its end.
  LexToken plain = token_of(kKindWord, "abc");
  ASSERT_TRUE(lexer_load_token(plain, false, nullptr));
  EXPECT_EQ(plain.resume, nullptr);
}

TEST(LexerLoadTest, UnicodeBlanks) {
  struct {
    const char* text;
    int length;
  } cases[] = {
      {"\xC2\x85", 2},
      {"\xC2\xA0", 2},
      {"\xE1\x9A\x80", 3},
      {"\xE2\x80\x80", 3},
      {"\xE2\x80\x8A", 3},
      {"\xE2\x80\x8B", 3},
      {"\xE2\x80\xA8", 3},
      {"\xE2\x80\xA9", 3},
      {"\xE2\x80\xAF", 3},
      {"\xE2\x81\x9F", 3},
      {"\xE3\x80\x80", 3},
      {"\xE1\xA0\x8E", 3},
      {"a", 0},
      {"\xC3\xA9", 0},
      {"\xE2\x80\x8C", 0},
      {"\xE2\x80", 0},
  };
  for (const auto& c : cases) {
    const auto* p = reinterpret_cast<const uint8_t*>(c.text);
    int length = 0;
    EXPECT_EQ(lexer_unicode_blank(p, p + std::strlen(c.text), &length), c.length != 0) << c.text;
    EXPECT_EQ(length, c.length) << c.text;
  }
}

TEST(LexerLoadTest, Strings) {
  run({
      {kKindString, "\"abc\"", "\"abc\""},
      {kKindString, "\"\"", "\"\""},
      {kKindString, "{a{b}c}", "\"a{b}c\""},
      {kKindString, "{a\nb}", "\"a^/b\""},
      {kKindString, "\"^(tab)^(TAB)^-\"", "\"^-^-^-\""},
      {kKindString, "\"^(line)^/^(null)^@\"", "\"^/^/^@^@\""},
      {kKindString, "\"^^\"", "\"^^\""},
      {kKindString, "\"^\"\"", "{\"}"},
      {kKindString, "\"^a^Z^[^_^~\"", "\"^A^Z^[^_^~\""},
      {kKindString, "\"^(back)^(page)^(esc)^(del)\"", "\"^H^L^[^~\""},
      {kKindString, "\"^(41)^(e9)^(263A)\"", "\"A\xC3\xA9\xE2\x98\xBA\""},
      {kKindString, "\"^(1F600)\"", "\"\xF0\x9F\x98\x80\""},
      {kKindString, "\"^(1234567)\"", "!string!"},
      {kKindString, "\"^(110000)\"", "!string!"},
      {kKindString, "\"^(foo)\"", "!string!"},
      {kKindString, "\"^()\"", "!string!"},
      {kKindString, "\"^(41\"", "!string!"},
      {kKindString, "\"^x^%\"", "\"^X%\""},
      {kKindString, "\"\xC3\xA9t\xC3\xA9 \xE4\xB8\xAD\"", "\"\xC3\xA9t\xC3\xA9 \xE4\xB8\xAD\""},
      {kKindString, "\"a\xC3\"", "!string!"},
      {kKindString, "\"a\xED\xA0\x80\"", "!string!"},
      {kKindString, "\"abc", "!string!"},
      {kKindRawString, "%{a}b}%", "\"a}b\""},
      {kKindRawString, "%%{a}%b}%%", "\"a}%b\""},
      {kKindRawString, "%{^/\"}%", "{^^/\"}"},
      {kKindRawString, "%{a}%%", "!string!"},
      {kKindRawString, "%{abc", "!string!"},
  });
}

TEST(LexerLoadTest, StringUnits) {
  struct {
    const char* text;
    uint32_t unit;
  } cases[] = {
      {"\"abc\"", 1},      {"\"\xC3\xA9\"", 1}, {"\"\xE4\xB8\xAD\"", 2}, {"\"\xF0\x9F\x98\x80\"", 4},
      {"\"^(1F600)\"", 4}, {"\"^(100)\"", 2},
  };
  for (const auto& c : cases) {
    LexToken token = token_of(kKindString, c.text);
    Root out(make_cell(kTypeUnset));
    ASSERT_TRUE(lexer_load_token(token, true, out.get())) << c.text;
    EXPECT_EQ(string_unit(out.get()), c.unit) << c.text;
  }
}

TEST(LexerLoadTest, RawStringEndsInsideToken) {
  LexToken token = token_of(kKindRawString, "%{ab}% cd");
  Root out(make_cell(kTypeUnset));
  ASSERT_TRUE(lexer_load_token(token, true, out.get()));
  EXPECT_EQ(mold_of(*out), "\"ab\"");
  EXPECT_EQ(token.resume, token.start + 6);
}

TEST(LexerLoadTest, Chars) {
  run({
      {kKindChar, "#\"a\"", "#\"a\""},
      {kKindChar, "#\"^(line)\"", "#\"^/\""},
      {kKindChar, "#\"^^\"", "#\"^^\""},
      {kKindChar, "#\"^\"\"", "#\"^\"\""},
      {kKindChar, "#\"\xE4\xB8\xAD\"", "#\"\xE4\xB8\xAD\""},
      {kKindChar, "#\"^(10FFFF)\"", "#\"\xF4\x8F\xBF\xBF\""},
      {kKindChar, "#\"\"", "!char!"},
      {kKindChar, "#\"ab\"", "!char!"},
      {kKindChar, "#\"^\"", "!char!"},
      {kKindChar, "#\"^(110000)\"", "!char!"},
  });
}

TEST(LexerLoadTest, FilesUrlsEmailsTagsRefs) {
  run({
      {kKindFile, "%a/b.txt", "%a/b.txt"},
      {kKindFile, "%a%20b", "%\"a b\""},
      {kKindFile, "%a^b", "%\"a^^b\""},
      {kKindFile, "%\"a b^/\"", "%\"a b^/\""},
      {kKindFile, "%\"ab", "!file!"},
      {kKindFile, "%", "%\"\""},
      {kKindFile, "%a%C3%A9", "%a\xC3\xA9"},
      {kKindUrl, "http://a.b/c", "http://a.b/c"},
      {kKindUrl, "http://a.b/%7Ex", "http://a.b/~x"},
      {kKindUrl, "http://a.b/a%20b", "http://a.b/a%20b"},
      {kKindUrl, "a:b@c", "a:b@c"},
      {kKindUrl, ":a/b", "!get-word!"},
      {kKindUrl, "'a:b", "!lit-word!"},
      {kKindUrl, "a:", "!url!"},
      {kKindEmail, "a@b.c", "a@b.c"},
      {kKindEmail, "a@b:c", "a@b:c"},
      {kKindEmail, "a^b@c", "a^b@c"},
      {kKindEmail, "abc", "!email!"},
      {kKindTag, "<a href=\"x>\">", "<a href=\"x>\">"},
      {kKindTag, "<a^b>", "<a^b>"},
      {kKindTag, "a>", "!tag!"},
      {kKindRef, "@abc", "@abc"},
      {kKindRef, "@", "!ref!"},
  });
}

TEST(LexerLoadTest, Binaries) {
  run({
      {kKindBinary, "#{0aFF}", "#{0AFF}"},
      {kKindBinary, "16#{01 02\n03}", "#{010203}"},
      {kKindBinary, "#{01 ; a comment\n 02}", "#{0102}"},
      {kKindBinary, "#{}", "#{}"},
      {kKindBinary, "#{1}", "!binary!"},
      {kKindBinary, "#{0G}", "!binary!"},
      {kKindBinary, "2#{00000001}", "#{01}"},
      {kKindBinary, "2#{0000 0001 11111111}", "#{01FF}"},
      {kKindBinary, "2#{0001}", "!binary!"},
      {kKindBinary, "2#{00000002}", "!binary!"},
      {kKindBinary, "64#{AQ==}", "#{01}"},
      {kKindBinary, "64#{AQI=}", "#{0102}"},
      {kKindBinary, "64#{AQID}", "#{010203}"},
      {kKindBinary, "64#{AQ ID\n BA==}", "#{01020304}"},
      {kKindBinary, "64#{AQ=}", "!binary!"},
      {kKindBinary, "64#{A===}", "!binary!"},
      {kKindBinary, "64#{AQ==AQID}", "!binary!"},
      {kKindBinary, "8#{01}", "!binary!"},
      {kKindBinary, "#{01", "!binary!"},
  });
}

TEST(LexerLoadTest, Integers) {
  run({
      {kKindInteger, "0", "0"},
      {kKindInteger, "+12", "12"},
      {kKindInteger, "-12", "-12"},
      {kKindInteger, "1'000", "1000"},
      {kKindInteger, "1'000'000", "1000000"},
      {kKindInteger, "1''000", "!integer!"},
      {kKindInteger, "1'", "!integer!"},
      {kKindInteger, "1a", "!integer!"},
      {kKindInteger, "2147483647", "2147483647"},
      {kKindInteger, "-2147483648", "-2147483648"},
      {kKindInteger, "2147483648", "2147483648.0"},
      {kKindInteger, "-2147483649", "-2147483649.0"},
      {kKindInteger, "12345678901", "12345678901.0"},
      {kKindHex, "0FFh", "255"},
      {kKindHex, "FFh", "255"},
      {kKindHex, "FFFFFFFFh", "-1"},
      {kKindHex, "7FFFFFFFh", "2147483647"},
      {kKindHex, "0ffh", "!integer!"},
      {kKindHex, "1h", "!integer!"},
      {kKindHex, "Fh", "!word!"},
      {kKindHex, "123456789h", "!integer!"},
      {kKindHex, "-0Fh", "!integer!"},
      {kKindHex, "1'0h", "!integer!"},
  });
}

TEST(LexerLoadTest, IntegerOverflowReportsFloat) {
  LexToken token = token_of(kKindInteger, "99999999999");
  ASSERT_TRUE(lexer_load_token(token, false, nullptr));
  EXPECT_EQ(token.type, kTypeFloat);
}

TEST(LexerLoadTest, Floats) {
  run({
      {kKindFloat, "1.5", "1.5"},
      {kKindFloat, "-1.5", "-1.5"},
      {kKindFloat, "1,5", "1.5"},
      {kKindFloat, "1.", "1.0"},
      {kKindFloat, ".5", "0.5"},
      {kKindFloat, "1e3", "1000.0"},
      {kKindFloat, "1.5E-3", "0.0015"},
      {kKindFloat, "1'000.5", "1000.5"},
      {kKindFloat, "1''000.5", "!float!"},
      {kKindFloat, "1.2.3", "!float!"},
      {kKindFloat, "1e", "!float!"},
      {kKindFloat, "1e+", "!float!"},
      {kKindFloat, "1e400", "!float!"},
      {kKindFloat, "1ex", "!float!"},
      {kKindPercent, "50%", "50%"},
      {kKindPercent, "12.5%", "12.5%"},
      {kKindPercent, "1,5%", "1.5%"},
      {kKindPercent, "%", "!percent!"},
      {kKindPercent, "5a%", "!percent!"},
      {kKindSpecialFloat, "1.#INF", "1.#INF"},
      {kKindSpecialFloat, "-1.#inf", "-1.#INF"},
      {kKindSpecialFloat, "1.#NaN", "1.#NaN"},
      {kKindSpecialFloat, "1.#nan", "1.#NaN"},
      {kKindSpecialFloat, "1.#INX", "!float!"},
      {kKindSpecialFloat, "2.#INF", "!float!"},
  });
  std::string digits(312, '1');
  digits[1] = '.';
  EXPECT_EQ(load(kKindFloat, digits).substr(0, 4), "1.11");
  EXPECT_EQ(load(kKindFloat, digits + "1"), "!float!");
}

TEST(LexerLoadTest, TuplesPairsPoints) {
  run({
      {kKindTuple, "1.2.3", "1.2.3"},
      {kKindTuple, "1.2.3.4.5.6.7.8.9.10.11.12", "1.2.3.4.5.6.7.8.9.10.11.12"},
      {kKindTuple, "255.0.0", "255.0.0"},
      {kKindTuple, "1.2.3.4.5.6.7.8.9.10.11.12.13", "!tuple!"},
      {kKindTuple, "1.256.3", "!tuple!"},
      {kKindTuple, "1..3", "!tuple!"},
      {kKindTuple, "1.2.3.", "!tuple!"},
      {kKindTuple, "1.2", "!tuple!"},
      {kKindPair, "10x20", "10x20"},
      {kKindPair, "-1x-2", "-1x-2"},
      {kKindPair, "1X2", "1x2"},
      {kKindPair, "1.5x2", "!pair!"},
      {kKindPair, "1x", "!pair!"},
      {kKindPair, "1x99999999999", "!pair!"},
      {kKindPoint, "(1, 2)", "(1, 2)"},
      {kKindPoint, "(1.5,\t-2.5)", "(1.5, -2.5)"},
      {kKindPoint, "( 1 , 2 , 3 )", "(1, 2, 3)"},
      {kKindPoint, "(1.#INF, 2)", "(1.#INF, 2)"},
      {kKindPoint, "(1, )", "!point2D!"},
      {kKindPoint, "(1, 2", "!point2D!"},
      {kKindPoint, "(1, 2, 3, 4)", "!point3D!"},
      {kKindPoint, "(1, x)", "!point2D!"},
  });
}

TEST(LexerLoadTest, Times) {
  run({
      {kKindTime, "1:02", "1:02:00"},
      {kKindTime, "1:02:03", "1:02:03"},
      {kKindTime, "-1:02:03", "-1:02:03"},
      {kKindTime, "12:30:60", "12:31:00"},
      {kKindTime, "1:30.5", "0:01:30.5"},
      {kKindTime, "1:30,5", "0:01:30.5"},
      {kKindTime, "1:02:03.25", "1:02:03.25"},
      {kKindTime, "100:00", "100:00:00"},
      {kKindTime, "1'000:00", "1000:00:00"},
      {kKindTime, "1:", "!time!"},
      {kKindTime, "1:02:", "!time!"},
      {kKindTime, "1:-2", "!time!"},
      {kKindTime, "1:02:-3", "!time!"},
      {kKindTime, "1:02e3", "!time!"},
      {kKindTime, "1:02:03.", "!time!"},
  });
}

TEST(LexerLoadTest, Money) {
  run({
      {kKindMoney, "$1", "$1.00"},
      {kKindMoney, "$1.25", "$1.25"},
      {kKindMoney, "-$1,5", "-$1.50"},
      {kKindMoney, "$1'000.00", "$1000.00"},
      {kKindMoney, "USD$1", "USD$1.00"},
      {kKindMoney, "usd$1", "USD$1.00"},
      {kKindMoney, "$1.12345", "$1.12"},
      {kKindMoney, "$1.123456", "!money!"},
      {kKindMoney, "$12345678901234567", "$12345678901234567.00"},
      {kKindMoney, "$123456789012345678", "!money!"},
      {kKindMoney, "XYZ$1", "!money!"},
      {kKindMoney, "US$1", "!money!"},
      {kKindMoney, "$", "!money!"},
      {kKindMoney, "$'1", "!money!"},
      {kKindMoney, "$1'", "!money!"},
      {kKindMoney, "$1''0", "!money!"},
  });
}

}  // namespace
}  // namespace kiv

namespace kiv {
namespace {

TEST(LexerLoadTest, Dates) {
  run({
      {kKindDate, "1-Jan-2024", "1-Jan-2024"},
      {kKindDate, "1/1/2024", "1-Jan-2024"},
      {kKindDate, "2024-01-15", "15-Jan-2024"},
      {kKindDate, "2024/1/15", "15-Jan-2024"},
      {kKindDate, "15-january-2024", "15-Jan-2024"},
      {kKindDate, "15-SEPT-2024", "15-Sep-2024"},
      {kKindDate, "1-Ja-2024", "!date!"},
      {kKindDate, "1-Janu-2024", "1-Jan-2024"},
      {kKindDate, "1-Januaryx-2024", "!date!"},
      {kKindDate, "1-Jan-24", "1-Jan-2024"},
      {kKindDate, "1-Jan-50", "1-Jan-1950"},
      {kKindDate, "1-Jan-0099", "1-Jan-0099"},
      {kKindDate, "1/Jan/-44", "1/Jan/-44"},
      {kKindDate, "1-Feb-2023", "1-Feb-2023"},
      {kKindDate, "29-Feb-2023", "!date!"},
      {kKindDate, "29-Feb-2024", "29-Feb-2024"},
      {kKindDate, "29-Feb-2000", "29-Feb-2000"},
      {kKindDate, "29-Feb-1900", "!date!"},
      {kKindDate, "31-Apr-2024", "!date!"},
      {kKindDate, "0-Jan-2024", "!date!"},
      {kKindDate, "1-13-2024", "!date!"},
      {kKindDate, "1-Jan/2024", "!date!"},
      {kKindDate, "1-Jan-16383", "1-Jan-16383"},
      {kKindDate, "1-Jan-16384", "!date!"},
      {kKindDate, "2024-W05-3", "31-Jan-2024"},
      {kKindDate, "2024-W01", "1-Jan-2024"},
      {kKindDate, "2021-W01-1", "4-Jan-2021"},
      {kKindDate, "2024-W54", "!date!"},
      {kKindDate, "2024-W05-8", "!date!"},
      {kKindDate, "2024-032", "1-Feb-2024"},
      {kKindDate, "2024-366", "31-Dec-2024"},
      {kKindDate, "2023-366", "!date!"},
      {kKindDate, "20240115T1030", "15-Jan-2024/10:30:00"},
      {kKindDate, "20240115T103015Z", "15-Jan-2024/10:30:15"},
      {kKindDate, "20240115T1030+0200", "15-Jan-2024/10:30:00+02:00"},
      {kKindDate, "20240115", "!date!"},
      {kKindDate, "1-Jan-2024/10:00", "1-Jan-2024/10:00:00"},
      {kKindDate, "1-Jan-2024/10:00:30.5", "1-Jan-2024/10:00:30.5"},
      {kKindDate, "1-Jan-2024/10:00:00+2:00", "1-Jan-2024/10:00:00+02:00"},
      {kKindDate, "1-Jan-2024/10:00:00+02:00", "1-Jan-2024/10:00:00+02:00"},
      {kKindDate, "1-Jan-2024/10:00:00-05:30", "1-Jan-2024/10:00:00-05:30"},
      {kKindDate, "1-Jan-2024/10:00:00-0:30", "1-Jan-2024/10:00:00-00:30"},
      {kKindDate, "1-Jan-2024/10:00+0530", "1-Jan-2024/10:00:00+05:30"},
      {kKindDate, "1-Jan-2024/10:00Z", "1-Jan-2024/10:00:00"},
      {kKindDate, "2024-01-15T10:30:00Z", "15-Jan-2024/10:30:00"},
      {kKindDate, "1-Jan-2024/10:00:60", "!date!"},
      {kKindDate, "1-Jan-2024/24:00", "!date!"},
      {kKindDate, "1-Jan-2024/10:60", "!date!"},
      {kKindDate, "1-Jan-2024/10:00+16:00", "!date!"},
      {kKindDate, "1-Jan-2024/10:00+2:0", "!date!"},
      {kKindDate, "1-Jan-2024/", "!date!"},
      {kKindDate, "1-Jan-2024/10", "!date!"},
  });
}

}  // namespace
}  // namespace kiv
