// Mold then load, over generated values: for every datatype that molds to
// loadable text, random values (edge values first) are molded, the text is
// loaded, and the value loaded must equal the one molded: strictly after
// mold/all, and as `equal?` compares after a plain mold. A fault found here
// prints the value's text, so the case can go into a table of its own.
#include <cmath>
#include <cstring>
#include <functional>
#include <limits>
#include <random>
#include <string>

#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/char.h"
#include "datatypes/date.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/money.h"
#include "datatypes/pair.h"
#include "datatypes/point.h"
#include "datatypes/time.h"
#include "evaluator/lexer.h"
#include "kiv_test.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"

namespace kiv {
namespace {

using test::mold;
using test::push_text;

constexpr int kValuesPerType = 300;

class RoundTrip {
 public:
  explicit RoundTrip(uint32_t seed) : random_(seed) {}

  int32_t any_int() { return int32_t(uint32_t(random_())); }
  int32_t between(int32_t low, int32_t high) {
    return std::uniform_int_distribution<int32_t>(low, high)(random_);
  }
  bool coin() { return random_() & 1; }

  // A finite double of any exponent, or a short decimal.
  double any_double() {
    if (coin()) return double(between(-100000, 100000)) / double(between(1, 1000));
    for (;;) {
      uint64_t bits = (uint64_t(random_()) << 32) | random_();
      double d;
      std::memcpy(&d, &bits, sizeof d);
      if (std::isfinite(d)) return d;
    }
  }

  // A code point from every plane, weighted towards the characters that
  // molds escape: controls, quotes, braces, carets, percent, blanks.
  uint32_t any_code_point() {
    static const char kTricky[] = "\"{}^%;[]()<>@:/\\' \t\r\n\x7F\x01\x1F#$,.";
    switch (between(0, 6)) {
      case 0: return uint8_t(kTricky[between(0, int32_t(sizeof kTricky) - 2)]);
      case 6: return coin() ? 0xFFFE : uint32_t(between(0xDC00, 0xDCFF));  // escaped by molds
      case 1: return uint32_t(between(0x20, 0x7E));
      case 2: return uint32_t(between(0x80, 0x7FF));
      case 3: return uint32_t(between(0x800, 0xD7FF));
      case 4: return uint32_t(between(0xE000, 0xFFFF));
      default: return uint32_t(between(0x10000, 0x10FFFF));
    }
  }
  // A string! (or [type]) on the stack: [prefix], then up to [max_length]
  // code points of any_code_point, appended one by one (U+FFFE cannot come
  // through UTF-8 text); without [refused], none that UTF-8 may not carry.
  Cell* push_any_text(int max_length, TypeId type, std::string_view prefix = {}, bool refused = true) {
    Cell* s = push_text(prefix, 1, type);
    for (int n = between(0, max_length); n > 0; --n) {
      uint32_t cp = any_code_point();
      if (refused || !utf8_refused_q(cp)) append_char(s->node(), cp);
    }
    return s;
  }
  std::string from_alphabet(const char* alphabet, int min_length, int max_length) {
    std::string s;
    int size = int(std::strlen(alphabet));
    for (int n = between(min_length, max_length); n > 0; --n) s += alphabet[between(0, size - 1)];
    return s;
  }

 private:
  std::mt19937 random_;
};

// Loads [text] (one value expected) and pushes the value; null when it did
// not load as exactly one value.
Cell* load_one(const std::string& text) {
  Cell* out = stack_push();
  ErrorId e = test::catch_error(
      [&] { lexer_load_utf8(out, reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size())); });
  if (e != test::kNoError || block_total_length(out) != 1) return nullptr;
  return stack_push_value(*block_ks_abs_at(out, 0));  // a stack copy stays put when the buffer moves
}

// Molds [value] (rooted by the caller) both ways and checks what loads back.
// A plain mold of percent! (13 digits), point coordinates (7 digits), time!
// seconds (6 digits) and money! (the money-digits setting) rounds by design:
// only mold/all must give the value back.
void expect_round_trip(const Cell* value) {
  StackSave save;
  std::string all = mold(*value, false, true);
  Cell* back = load_one(all);
  ASSERT_NE(back, nullptr) << all << " does not load as one value";
  EXPECT_TRUE(test::compare(*value, *back, kCmpStrictEqual))
      << all << " loads back as " << mold(*back, false, true);
  if (value->is(kTypePercent) || value->is(kTypeMoney) || value->is(kTypePoint2D) ||
      value->is(kTypePoint3D) || value->is(kTypeTime) || value->is(kTypeDate))
    return;
  std::string plain = mold(*value);
  back = load_one(plain);
  ASSERT_NE(back, nullptr) << plain << " does not load as one value";
  EXPECT_TRUE(test::compare(*value, *back, kCmpEqual)) << plain << " loads back as " << mold(*back);
}

// Runs [make] kValuesPerType times with the call's number; each call pushes
// one value.
void for_generated(const char* type, const std::function<Cell*(RoundTrip&, int)>& make) {
  RoundTrip r(20261210);
  for (int i = 0; i < kValuesPerType; ++i) {
    StackSave save;
    Cell* value = make(r, i);
    SCOPED_TRACE(type);
    expect_round_trip(value);
    if (testing::Test::HasFailure()) return;  // one printed fault per type is enough
  }
}

// The texts that once did not load back, or loaded another value.
TEST(RoundTripTest, MoldsThatLoadBack) {
  struct Case {
    std::function<Cell*()> make;
    const char* text;  // mold/all
  } cases[] = {
      {[] { return push_text("a(b),c", 1, kTypeFile); }, "%\"a(b),c\""},
      {[] { return push_text("a\u00A0b", 1, kTypeFile); }, "%\"a\u00A0b\""},
      {[] { return push_text("http://a/b(c),d", 1, kTypeUrl); }, "http://a/b%28c%29%2Cd"},
      {[] {
         Cell* s = push_text("a");
         append_char(s->node(), 0xFFFE);
         return s;
       },
       "\"a^(FFFE)\""},
      {[] { return stack_push_value(float_cell(0.07, kTypePercent)); }, "7%"},
      {[] { return stack_push_value(float_cell(86.12274368231047, kTypePercent)); }, "8612.274368231047%"},
      {[] { return stack_push_value(time_cell(1.123456789)); }, "0:00:01.123456789"},
      {[] { return point2d_push(1e-30f, 80.375f); }, "(1e-30, 80.375)"},
      {[] { return date_make_at(stack_push(), 16383, 12, 31, 0, 0, 0, false); }, "31-Dec-16383"},
  };
  for (const Case& c : cases) {
    StackSave save;
    Cell* value = c.make();
    EXPECT_EQ(mold(*value, false, true), c.text);
    expect_round_trip(value);
  }
}

TEST(RoundTripTest, Numbers) {
  for_generated("integer!", [](RoundTrip& r, int i) {
    static const int32_t kEdges[] = {0, -1, 2147483647, -2147483647 - 1};
    return stack_push_value(integer_cell(i < 4 ? kEdges[i] : r.any_int()));
  });
  for_generated("float!", [](RoundTrip& r, int i) {
    static const double kEdges[] = {0.0, -0.0, 5e-324, 1.7976931348623157e308,
                                    0.1, 1e15, 1e16,   123456789012345678.0};
    return stack_push_value(float_cell(i < 8 ? kEdges[i] : r.any_double()));
  });
  for_generated("percent!",
                [](RoundTrip& r, int) { return stack_push_value(float_cell(r.any_double(), kTypePercent)); });
  for_generated("money!", [](RoundTrip& r, int) {
    double amount = double(r.any_int()) / double(r.between(1, 100000));
    return stack_push_value(money_from_float(amount, false));
  });
  for_generated("time!", [](RoundTrip& r, int) {
    double seconds =
        r.coin() ? double(r.between(-400000, 400000)) : double(r.any_int()) / double(r.between(1, 9999));
    return stack_push_value(time_cell(seconds));
  });
  for_generated("pair!",
                [](RoundTrip& r, int) { return stack_push_value(pair_cell(r.any_int(), r.any_int())); });
  for_generated("point2D!", [](RoundTrip& r, int) {
    return point2d_push(float(r.any_double() / 1e290), float(r.between(-1000, 1000)) / 8.0f);
  });
  for_generated("point3D!", [](RoundTrip& r, int) {
    return point3d_push(float(r.between(-100000, 100000)) / 3.0f, float(r.any_double() / 1e300), 0.5f);
  });
}

TEST(RoundTripTest, DatesAndTuples) {
  for_generated("date!", [](RoundTrip& r, int) {
    Cell* d = stack_push();
    bool has_time = r.coin();
    // A zone is written only after a time.
    int32_t quarters = has_time ? r.between(-15 * 4 - 3, 15 * 4 + 3) : 0;
    double time = has_time
                      ? double(r.between(0, 86399)) + (r.coin() ? double(r.between(0, 99999)) / 7777.0 : 0.0)
                      : 0.0;
    return date_make_at(d, r.between(-16384, 16383), r.between(1, 12), r.between(1, 28), time, quarters / 4,
                        (quarters % 4) * 15, has_time);
  });
  for_generated("tuple!", [](RoundTrip& r, int) {
    std::string text = std::to_string(r.between(0, 255));
    for (int n = r.between(2, 11); n > 0; --n) text += "." + std::to_string(r.between(0, 255));
    Cell* source = push_text(text);
    return test::to(kTypeTuple, *source);
  });
}

TEST(RoundTripTest, Text) {
  for_generated("char!", [](RoundTrip& r, int) { return stack_push_value(char_cell(r.any_code_point())); });
  for_generated("string!", [](RoundTrip& r, int) { return r.push_any_text(40, kTypeString); });
  for_generated("file!", [](RoundTrip& r, int) { return r.push_any_text(30, kTypeFile); });
  for_generated("url!", [](RoundTrip& r, int) {
    // A url! holds bytes in escapes: no code point that UTF-8 may not carry.
    std::string scheme = r.from_alphabet("abcdefghijklmnopqrstuvwxyz", 1, 8) + "://";
    return r.push_any_text(30, kTypeUrl, scheme, false);
  });
  for_generated("email!", [](RoundTrip& r, int) {
    const char* name = "abcdefghijklmnopqrstuvwxyz0123456789._-+";
    std::string user = r.from_alphabet("abcdefghijklmnopqrstuvwxyz", 1, 1) + r.from_alphabet(name, 0, 11);
    return push_text(user + "@" + r.from_alphabet(name, 1, 12), 1, kTypeEmail);
  });
  for_generated("tag!", [](RoundTrip& r, int) {
    return push_text(r.from_alphabet("abcdefghij", 1, 1) + r.from_alphabet("abc =/1-_.", 0, 20), 1, kTypeTag);
  });
  for_generated("binary!", [](RoundTrip& r, int) {
    std::string bytes;
    for (int n = r.between(0, 80); n > 0; --n) bytes += char(r.between(0, 255));
    Cell* b = binary_make_at(stack_push(), uint32_t(bytes.size()));
    binary_append_bytes(b, reinterpret_cast<const uint8_t*>(bytes.data()), uint32_t(bytes.size()));
    return b;
  });
}

TEST(RoundTripTest, WordsAndBlocks) {
  const char* kWordChars = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ!?*&|=_~-";
  static const TypeId kWordTypes[] = {kTypeWord,    kTypeSetWord,    kTypeGetWord,
                                      kTypeLitWord, kTypeRefinement, kTypeIssue};
  for_generated("any-word!", [&](RoundTrip& r, int) {
    std::string name =
        r.from_alphabet("abcdefghijklmnopqrstuvwxyz", 1, 1) + r.from_alphabet(kWordChars, 0, 12);
    return stack_push_value(test::word(name.c_str(), kWordTypes[r.between(0, 5)]));
  });
  // A block of mixed scalars and text, nested, loaded from generated text.
  for_generated("block!", [](RoundTrip& r, int) {
    std::string text = "[";
    for (int n = r.between(0, 12); n > 0; --n) {
      switch (r.between(0, 5)) {
        case 0: text += std::to_string(r.any_int()) + " "; break;
        case 1: text += "[x " + std::to_string(r.between(0, 9)) + "] "; break;
        case 2: text += "(a/b c) "; break;
        case 3: text += "\"s\"\n"; break;
        case 4: text += "#[k 1 \"v\" 2] "; break;
        default: text += "1.5e300 "; break;
      }
    }
    text += "]";
    Cell* back = load_one(text);
    EXPECT_NE(back, nullptr) << text;
    return back ? back : stack_push();
  });
}

}  // namespace
}  // namespace kiv
