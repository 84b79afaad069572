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

enum Kind : int {
  kString = 13,
  kWord = 14,
  kIssue = 15,
  kInteger = 16,
  kRefinement = 17,
  kChar = 18,
  kFile = 19,
  kBinary = 20,
  kPercent = 21,
  kFloat = 22,
  kSpecialFloat = 23,
  kTuple = 24,
  kDate = 25,
  kPair = 26,
  kPoint = 27,
  kTime = 28,
  kMoney = 29,
  kTag = 30,
  kUrl = 31,
  kEmail = 32,
  kHex = 33,
  kRawString = 34,
  kRef = 35,
};

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
      {kWord, "abc", "abc"},
      {kWord, "abc:", "abc:"},
      {kWord, ":abc", ":abc"},
      {kWord, "'abc", "'abc"},
      {kWord, "/", "/"},
      {kWord, "//", "//"},
      {kWord, "<=", "<="},
      {kWord, "'abc:", "!lit-word!"},
      {kWord, "'", "!lit-word!"},
      {kWord, ":a:", "!word!"},
      {kWord, "a:b", "!word!"},
      {kWord, ":", "!word!"},
      {kWord, "h\xC3\xA9llo", "h\xC3\xA9llo"},
      {kWord, "a\xC3", "!word!"},
      {kIssue, "#abc", "#abc"},
      {kIssue, "#1-2", "#1-2"},
      {kIssue, "#", "!issue!"},
      {kRefinement, "/abc", "/abc"},
      {kRefinement, "/1", "/1"},
      {kRefinement, "'/a", "!refinement!"},
      {kRefinement, ":/a", "!refinement!"},
  });
}

TEST(LexerLoadTest, WordTypesAndBinding) {
  struct {
    int kind;
    const char* text;
    TypeId type;
  } cases[] = {
      {kWord, "a", kTypeWord},     {kWord, "a:", kTypeSetWord},          {kWord, ":a", kTypeGetWord},
      {kWord, "'a", kTypeLitWord}, {kRefinement, "/a", kTypeRefinement}, {kIssue, "#a", kTypeIssue},
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
  LexToken token = token_of(kWord, text);
  Root out(make_cell(kTypeUnset));
  ASSERT_TRUE(lexer_load_token(token, true, out.get()));
  EXPECT_EQ(mold_of(*out), "abc");
  EXPECT_EQ(token.resume, token.start + 3);
  // No blank: the token runs to its end.
  LexToken plain = token_of(kWord, "abc");
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
      {kString, "\"abc\"", "\"abc\""},
      {kString, "\"\"", "\"\""},
      {kString, "{a{b}c}", "\"a{b}c\""},
      {kString, "{a\nb}", "\"a^/b\""},
      {kString, "\"^(tab)^(TAB)^-\"", "\"^-^-^-\""},
      {kString, "\"^(line)^/^(null)^@\"", "\"^/^/^@^@\""},
      {kString, "\"^^\"", "\"^^\""},
      {kString, "\"^\"\"", "{\"}"},
      {kString, "\"^a^Z^[^_^~\"", "\"^A^Z^[^_^~\""},
      {kString, "\"^(back)^(page)^(esc)^(del)\"", "\"^H^L^[^~\""},
      {kString, "\"^(41)^(e9)^(263A)\"", "\"A\xC3\xA9\xE2\x98\xBA\""},
      {kString, "\"^(1F600)\"", "\"\xF0\x9F\x98\x80\""},
      {kString, "\"^(1234567)\"", "!string!"},
      {kString, "\"^(110000)\"", "!string!"},
      {kString, "\"^(foo)\"", "!string!"},
      {kString, "\"^()\"", "!string!"},
      {kString, "\"^(41\"", "!string!"},
      {kString, "\"^x^%\"", "\"^X%\""},
      {kString, "\"\xC3\xA9t\xC3\xA9 \xE4\xB8\xAD\"", "\"\xC3\xA9t\xC3\xA9 \xE4\xB8\xAD\""},
      {kString, "\"a\xC3\"", "!string!"},
      {kString, "\"a\xED\xA0\x80\"", "!string!"},
      {kString, "\"abc", "!string!"},
      {kRawString, "%{a}b}%", "\"a}b\""},
      {kRawString, "%%{a}%b}%%", "\"a}%b\""},
      {kRawString, "%{^/\"}%", "{^^/\"}"},
      {kRawString, "%{a}%%", "!string!"},
      {kRawString, "%{abc", "!string!"},
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
    LexToken token = token_of(kString, c.text);
    Root out(make_cell(kTypeUnset));
    ASSERT_TRUE(lexer_load_token(token, true, out.get())) << c.text;
    EXPECT_EQ(string_unit(out.get()), c.unit) << c.text;
  }
}

TEST(LexerLoadTest, RawStringEndsInsideToken) {
  LexToken token = token_of(kRawString, "%{ab}% cd");
  Root out(make_cell(kTypeUnset));
  ASSERT_TRUE(lexer_load_token(token, true, out.get()));
  EXPECT_EQ(mold_of(*out), "\"ab\"");
  EXPECT_EQ(token.resume, token.start + 6);
}

TEST(LexerLoadTest, Chars) {
  run({
      {kChar, "#\"a\"", "#\"a\""},
      {kChar, "#\"^(line)\"", "#\"^/\""},
      {kChar, "#\"^^\"", "#\"^^\""},
      {kChar, "#\"^\"\"", "#\"^\"\""},
      {kChar, "#\"\xE4\xB8\xAD\"", "#\"\xE4\xB8\xAD\""},
      {kChar, "#\"^(10FFFF)\"", "#\"\xF4\x8F\xBF\xBF\""},
      {kChar, "#\"\"", "!char!"},
      {kChar, "#\"ab\"", "!char!"},
      {kChar, "#\"^\"", "!char!"},
      {kChar, "#\"^(110000)\"", "!char!"},
  });
}

TEST(LexerLoadTest, FilesUrlsEmailsTagsRefs) {
  run({
      {kFile, "%a/b.txt", "%a/b.txt"},
      {kFile, "%a%20b", "%\"a b\""},
      {kFile, "%a^b", "%\"a^^b\""},
      {kFile, "%\"a b^/\"", "%\"a b^/\""},
      {kFile, "%\"ab", "!file!"},
      {kFile, "%", "%\"\""},
      {kFile, "%a%C3%A9", "%a\xC3\xA9"},
      {kUrl, "http://a.b/c", "http://a.b/c"},
      {kUrl, "http://a.b/%7Ex", "http://a.b/~x"},
      {kUrl, "http://a.b/a%20b", "http://a.b/a%20b"},
      {kUrl, "a:b@c", "a:b@c"},
      {kUrl, ":a/b", "!get-word!"},
      {kUrl, "'a:b", "!lit-word!"},
      {kUrl, "a:", "!url!"},
      {kEmail, "a@b.c", "a@b.c"},
      {kEmail, "a@b:c", "a@b:c"},
      {kEmail, "a^b@c", "a^b@c"},
      {kEmail, "abc", "!email!"},
      {kTag, "<a href=\"x>\">", "<a href=\"x>\">"},
      {kTag, "<a^b>", "<a^b>"},
      {kTag, "a>", "!tag!"},
      {kRef, "@abc", "@abc"},
      {kRef, "@", "!ref!"},
  });
}

TEST(LexerLoadTest, Binaries) {
  run({
      {kBinary, "#{0aFF}", "#{0AFF}"},
      {kBinary, "16#{01 02\n03}", "#{010203}"},
      {kBinary, "#{01 ; a comment\n 02}", "#{0102}"},
      {kBinary, "#{}", "#{}"},
      {kBinary, "#{1}", "!binary!"},
      {kBinary, "#{0G}", "!binary!"},
      {kBinary, "2#{00000001}", "#{01}"},
      {kBinary, "2#{0000 0001 11111111}", "#{01FF}"},
      {kBinary, "2#{0001}", "!binary!"},
      {kBinary, "2#{00000002}", "!binary!"},
      {kBinary, "64#{AQ==}", "#{01}"},
      {kBinary, "64#{AQI=}", "#{0102}"},
      {kBinary, "64#{AQID}", "#{010203}"},
      {kBinary, "64#{AQ ID\n BA==}", "#{01020304}"},
      {kBinary, "64#{AQ=}", "!binary!"},
      {kBinary, "64#{A===}", "!binary!"},
      {kBinary, "64#{AQ==AQID}", "!binary!"},
      {kBinary, "8#{01}", "!binary!"},
      {kBinary, "#{01", "!binary!"},
  });
}

TEST(LexerLoadTest, Integers) {
  run({
      {kInteger, "0", "0"},
      {kInteger, "+12", "12"},
      {kInteger, "-12", "-12"},
      {kInteger, "1'000", "1000"},
      {kInteger, "1'000'000", "1000000"},
      {kInteger, "1''000", "!integer!"},
      {kInteger, "1'", "!integer!"},
      {kInteger, "1a", "!integer!"},
      {kInteger, "2147483647", "2147483647"},
      {kInteger, "-2147483648", "-2147483648"},
      {kInteger, "2147483648", "2147483648.0"},
      {kInteger, "-2147483649", "-2147483649.0"},
      {kInteger, "12345678901", "12345678901.0"},
      {kHex, "0FFh", "255"},
      {kHex, "FFh", "255"},
      {kHex, "FFFFFFFFh", "-1"},
      {kHex, "7FFFFFFFh", "2147483647"},
      {kHex, "0ffh", "!integer!"},
      {kHex, "1h", "!integer!"},
      {kHex, "Fh", "!word!"},
      {kHex, "123456789h", "!integer!"},
      {kHex, "-0Fh", "!integer!"},
      {kHex, "1'0h", "!integer!"},
  });
}

TEST(LexerLoadTest, IntegerOverflowReportsFloat) {
  LexToken token = token_of(kInteger, "99999999999");
  ASSERT_TRUE(lexer_load_token(token, false, nullptr));
  EXPECT_EQ(token.type, kTypeFloat);
}

TEST(LexerLoadTest, Floats) {
  run({
      {kFloat, "1.5", "1.5"},
      {kFloat, "-1.5", "-1.5"},
      {kFloat, "1,5", "1.5"},
      {kFloat, "1.", "1.0"},
      {kFloat, ".5", "0.5"},
      {kFloat, "1e3", "1000.0"},
      {kFloat, "1.5E-3", "0.0015"},
      {kFloat, "1'000.5", "1000.5"},
      {kFloat, "1''000.5", "!float!"},
      {kFloat, "1.2.3", "!float!"},
      {kFloat, "1e", "!float!"},
      {kFloat, "1e+", "!float!"},
      {kFloat, "1e400", "!float!"},
      {kFloat, "1ex", "!float!"},
      {kPercent, "50%", "50%"},
      {kPercent, "12.5%", "12.5%"},
      {kPercent, "1,5%", "1.5%"},
      {kPercent, "%", "!percent!"},
      {kPercent, "5a%", "!percent!"},
      {kSpecialFloat, "1.#INF", "1.#INF"},
      {kSpecialFloat, "-1.#inf", "-1.#INF"},
      {kSpecialFloat, "1.#NaN", "1.#NaN"},
      {kSpecialFloat, "1.#nan", "1.#NaN"},
      {kSpecialFloat, "1.#INX", "!float!"},
      {kSpecialFloat, "2.#INF", "!float!"},
  });
  std::string digits(312, '1');
  digits[1] = '.';
  EXPECT_EQ(load(kFloat, digits).substr(0, 4), "1.11");
  EXPECT_EQ(load(kFloat, digits + "1"), "!float!");
}

TEST(LexerLoadTest, TuplesPairsPoints) {
  run({
      {kTuple, "1.2.3", "1.2.3"},
      {kTuple, "1.2.3.4.5.6.7.8.9.10.11.12", "1.2.3.4.5.6.7.8.9.10.11.12"},
      {kTuple, "255.0.0", "255.0.0"},
      {kTuple, "1.2.3.4.5.6.7.8.9.10.11.12.13", "!tuple!"},
      {kTuple, "1.256.3", "!tuple!"},
      {kTuple, "1..3", "!tuple!"},
      {kTuple, "1.2.3.", "!tuple!"},
      {kTuple, "1.2", "!tuple!"},
      {kPair, "10x20", "10x20"},
      {kPair, "-1x-2", "-1x-2"},
      {kPair, "1X2", "1x2"},
      {kPair, "1.5x2", "!pair!"},
      {kPair, "1x", "!pair!"},
      {kPair, "1x99999999999", "!pair!"},
      {kPoint, "(1, 2)", "(1, 2)"},
      {kPoint, "(1.5,\t-2.5)", "(1.5, -2.5)"},
      {kPoint, "( 1 , 2 , 3 )", "(1, 2, 3)"},
      {kPoint, "(1.#INF, 2)", "(1.#INF, 2)"},
      {kPoint, "(1, )", "!point2D!"},
      {kPoint, "(1, 2", "!point2D!"},
      {kPoint, "(1, 2, 3, 4)", "!point3D!"},
      {kPoint, "(1, x)", "!point2D!"},
  });
}

TEST(LexerLoadTest, Times) {
  run({
      {kTime, "1:02", "1:02:00"},
      {kTime, "1:02:03", "1:02:03"},
      {kTime, "-1:02:03", "-1:02:03"},
      {kTime, "12:30:60", "12:31:00"},
      {kTime, "1:30.5", "0:01:30.5"},
      {kTime, "1:30,5", "0:01:30.5"},
      {kTime, "1:02:03.25", "1:02:03.25"},
      {kTime, "100:00", "100:00:00"},
      {kTime, "1'000:00", "1000:00:00"},
      {kTime, "1:", "!time!"},
      {kTime, "1:02:", "!time!"},
      {kTime, "1:-2", "!time!"},
      {kTime, "1:02:-3", "!time!"},
      {kTime, "1:02e3", "!time!"},
      {kTime, "1:02:03.", "!time!"},
  });
}

TEST(LexerLoadTest, Money) {
  run({
      {kMoney, "$1", "$1.00"},
      {kMoney, "$1.25", "$1.25"},
      {kMoney, "-$1,5", "-$1.50"},
      {kMoney, "$1'000.00", "$1000.00"},
      {kMoney, "USD$1", "USD$1.00"},
      {kMoney, "usd$1", "USD$1.00"},
      {kMoney, "$1.12345", "$1.12"},
      {kMoney, "$1.123456", "!money!"},
      {kMoney, "$12345678901234567", "$12345678901234567.00"},
      {kMoney, "$123456789012345678", "!money!"},
      {kMoney, "XYZ$1", "!money!"},
      {kMoney, "US$1", "!money!"},
      {kMoney, "$", "!money!"},
      {kMoney, "$'1", "!money!"},
      {kMoney, "$1'", "!money!"},
      {kMoney, "$1''0", "!money!"},
  });
}

}  // namespace
}  // namespace kiv

namespace kiv {
namespace {

TEST(LexerLoadTest, Dates) {
  run({
      {kDate, "1-Jan-2024", "1-Jan-2024"},
      {kDate, "1/1/2024", "1-Jan-2024"},
      {kDate, "2024-01-15", "15-Jan-2024"},
      {kDate, "2024/1/15", "15-Jan-2024"},
      {kDate, "15-january-2024", "15-Jan-2024"},
      {kDate, "15-SEPT-2024", "15-Sep-2024"},
      {kDate, "1-Ja-2024", "!date!"},
      {kDate, "1-Janu-2024", "1-Jan-2024"},
      {kDate, "1-Januaryx-2024", "!date!"},
      {kDate, "1-Jan-24", "1-Jan-2024"},
      {kDate, "1-Jan-50", "1-Jan-1950"},
      {kDate, "1-Jan-0099", "1-Jan-0099"},
      {kDate, "1/Jan/-44", "1/Jan/-44"},
      {kDate, "1-Feb-2023", "1-Feb-2023"},
      {kDate, "29-Feb-2023", "!date!"},
      {kDate, "29-Feb-2024", "29-Feb-2024"},
      {kDate, "29-Feb-2000", "29-Feb-2000"},
      {kDate, "29-Feb-1900", "!date!"},
      {kDate, "31-Apr-2024", "!date!"},
      {kDate, "0-Jan-2024", "!date!"},
      {kDate, "1-13-2024", "!date!"},
      {kDate, "1-Jan/2024", "!date!"},
      {kDate, "1-Jan-16383", "1-Jan-16383"},
      {kDate, "1-Jan-16384", "!date!"},
      {kDate, "2024-W05-3", "31-Jan-2024"},
      {kDate, "2024-W01", "1-Jan-2024"},
      {kDate, "2021-W01-1", "4-Jan-2021"},
      {kDate, "2024-W54", "!date!"},
      {kDate, "2024-W05-8", "!date!"},
      {kDate, "2024-032", "1-Feb-2024"},
      {kDate, "2024-366", "31-Dec-2024"},
      {kDate, "2023-366", "!date!"},
      {kDate, "20240115T1030", "15-Jan-2024/10:30:00"},
      {kDate, "20240115T103015Z", "15-Jan-2024/10:30:15"},
      {kDate, "20240115T1030+0200", "15-Jan-2024/10:30:00+2:00"},
      {kDate, "20240115", "!date!"},
      {kDate, "1-Jan-2024/10:00", "1-Jan-2024/10:00:00"},
      {kDate, "1-Jan-2024/10:00:30.5", "1-Jan-2024/10:00:30.5"},
      {kDate, "1-Jan-2024/10:00:00+2:00", "1-Jan-2024/10:00:00+2:00"},
      {kDate, "1-Jan-2024/10:00:00+02:00", "1-Jan-2024/10:00:00+2:00"},
      {kDate, "1-Jan-2024/10:00:00-05:30", "1-Jan-2024/10:00:00-5:30"},
      {kDate, "1-Jan-2024/10:00:00-0:30", "1-Jan-2024/10:00:00-0:30"},
      {kDate, "1-Jan-2024/10:00+0530", "1-Jan-2024/10:00:00+5:30"},
      {kDate, "1-Jan-2024/10:00Z", "1-Jan-2024/10:00:00"},
      {kDate, "2024-01-15T10:30:00Z", "15-Jan-2024/10:30:00"},
      {kDate, "1-Jan-2024/10:00:60", "!date!"},
      {kDate, "1-Jan-2024/24:00", "!date!"},
      {kDate, "1-Jan-2024/10:60", "!date!"},
      {kDate, "1-Jan-2024/10:00+16:00", "!date!"},
      {kDate, "1-Jan-2024/10:00+2:0", "!date!"},
      {kDate, "1-Jan-2024/", "!date!"},
      {kDate, "1-Jan-2024/10", "!date!"},
  });
}

}  // namespace
}  // namespace kiv
