// money!: exact arithmetic checked against 128-bit integers, conversions,
// text, compare, round, make, path access and random, through the action
// entry points.
#include "datatypes/money.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <string>

#include "datatypes/datatype.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "kiv_test.h"
#include "runtime/random.h"

namespace kiv {
namespace {

using test::Act;
using test::call_action;
using test::catch_error;
using test::compare;
using test::form_of;
using test::mold_of;
using test::push_text;
using test::word;

using i128 = __int128;

// 10^n as a 128-bit integer.
constexpr i128 pow10(int n) {
  i128 p = 1;
  while (n-- > 0) p *= 10;
  return p;
}
constexpr i128 kLimit = pow10(22);  // the first magnitude money cannot hold (in 10^-5 units)

// The money! read from [text] by to money!.
Cell M(std::string_view text) {
  return call_action(kActionTo, {datatype_cell(kTypeMoney), *push_text(text)});
}

// The amount [scaled] x 10^-5 as mold/all writes it.
std::string text_of_scaled(i128 scaled) {
  bool negative = scaled < 0;
  if (negative) scaled = -scaled;
  std::string whole;
  i128 w = scaled / 100000;
  do {
    whole.insert(whole.begin(), char('0' + int(w % 10)));
    w /= 10;
  } while (w != 0);
  std::string fraction(5, '0');
  i128 f = scaled % 100000;
  for (int i = 4; i >= 0; i--, f /= 10) fraction[i] = char('0' + int(f % 10));
  return (negative ? "-$" : "$") + whole + "." + fraction;
}

Cell money_of_scaled(i128 scaled) { return M(text_of_scaled(scaled)); }

// A random amount of 1 to [max_digits] digits in 10^-5 units, either sign.
i128 random_scaled(std::mt19937_64& rng, int max_digits) {
  int n = 1 + int(rng() % uint64_t(max_digits));
  i128 v = 1 + int(rng() % 9);
  for (int i = 1; i < n; i++) v = v * 10 + int(rng() % 10);
  return rng() % 2 ? -v : v;
}

// mold/all of an action result, or the id of the error it raised.
struct Outcome {
  std::string text;
  ErrorId error = test::kNoError;
};
Outcome outcome(ActionId action, Cell a, Cell b) {
  Outcome o;
  o.error = catch_error([&] { o.text = mold_of(call_action(action, {a, b}), true); });
  return o;
}

// Sets system/options/money-digits for the guard's lifetime.
class MoneyDigits {
 public:
  explicit MoneyDigits(Cell value) { money_set_digits_option(&value); }
  ~MoneyDigits() {
    Cell two = integer_cell(2);
    money_set_digits_option(&two);
  }
};

// ---------------------------------------------------------------- exact arithmetic

TEST(MoneyTest, AddSubtractRemainderAndCompareAreExact) {
  std::mt19937_64 rng(20240611);
  for (int n = 0; n < 1500; n++) {
    i128 a = random_scaled(rng, 22), b = random_scaled(rng, n % 3 == 0 ? 22 : 8);
    SCOPED_TRACE(text_of_scaled(a) + " " + text_of_scaled(b));
    Cell x = money_of_scaled(a), y = money_of_scaled(b);
    ASSERT_EQ(mold_of(x, true), text_of_scaled(a));
    struct {
      ActionId action;
      i128 exact;
    } sums[] = {{kActionAdd, a + b}, {kActionSubtract, a - b}};
    for (auto& s : sums) {
      Outcome o = outcome(s.action, x, y);
      if (s.exact >= kLimit || s.exact <= -kLimit)
        EXPECT_EQ(o.error, kErrScriptTypeLimit);
      else
        EXPECT_EQ(o.text, text_of_scaled(s.exact));
    }
    EXPECT_EQ(outcome(kActionRemainder, x, y).text, text_of_scaled(a % b));
    EXPECT_EQ(money_compare_values(&x, &y), a < b ? -1 : a > b ? 1 : 0);
    EXPECT_EQ(compare(x, y, kCmpLesser), a < b);
  }
}

TEST(MoneyTest, ProductsAndQuotientsAreCutToFiveFractionDigits) {
  std::mt19937_64 rng(7);
  for (int n = 0; n < 1500; n++) {
    i128 a = random_scaled(rng, 22);
    // A float with at most 5 fraction digits converts exactly: a multiple of 1/32.
    int64_t k = int64_t(rng() % (uint64_t(1) << (10 + n % 30))) + 1;
    if (rng() % 2) k = -k;
    double f = double(k) / 32.0;
    i128 b = i128(k) * 3125;  // f in 10^-5 units
    SCOPED_TRACE(text_of_scaled(a) + " by " + std::to_string(f));
    Cell x = money_of_scaled(a), y = float_cell(f);

    i128 product = a * b / 100000;  // below 10^22 x 2^39 x 3125: no overflow
    Outcome p = outcome(kActionMultiply, x, y);
    if (product >= kLimit || product <= -kLimit || product == 0)
      EXPECT_EQ(p.error, kErrScriptTypeLimit);
    else
      EXPECT_EQ(p.text, text_of_scaled(product));

    i128 quotient = a * 100000 / b;
    Outcome q = outcome(kActionDivide, x, y);
    if (quotient >= kLimit || quotient <= -kLimit || quotient == 0)
      EXPECT_EQ(q.error, kErrScriptTypeLimit);
    else
      EXPECT_EQ(q.text, text_of_scaled(quotient));

    // Money by money: the quotient cut to 5 digits, then the nearest double.
    i128 c = random_scaled(rng, 22);
    Cell z = money_of_scaled(c);
    i128 exact = a * 100000 / c;
    Cell r;
    ErrorId e = catch_error([&] { r = call_action(kActionDivide, {x, z}); });
    if (exact >= kLimit || exact <= -kLimit || exact == 0) {
      EXPECT_EQ(e, kErrScriptTypeLimit);
    } else {
      ASSERT_EQ(e, test::kNoError);
      std::string t = text_of_scaled(exact);
      t.erase(t.find('$'), 1);
      EXPECT_EQ(float_get(&r), std::strtod(t.c_str(), nullptr));
    }
  }
}

// ---------------------------------------------------------------- arithmetic cases

TEST(MoneyTest, ArithmeticCases) {
  Cell usd1 = M("USD$1"), eur1 = M("EUR$1");
  struct Case {
    const char* name;
    ActionId action;
    Cell a, b;
    const char* expected;  // mold/all
    ErrorId error = test::kNoError;
  } cases[] = {
      {"sums are exact", kActionAdd, M("$0.1"), M("$0.2"), "$0.30000"},
      {"negative minus negative", kActionSubtract, M("-$5"), M("-$3"), "-$2.00000"},
      {"difference below zero", kActionSubtract, M("$3"), M("$5"), "-$2.00000"},
      {"sum past the last digit", kActionAdd, M("$99999999999999999.99999"), M("$0.00001"), "",
       kErrScriptTypeLimit},
      {"first digits add to ten", kActionAdd, M("$50000000000000000"), M("$50000000000000000"), "",
       kErrScriptTypeLimit},
      {"difference of huge amounts", kActionSubtract, M("-$99999999999999999.99999"),
       M("$99999999999999999.99999"), "", kErrScriptTypeLimit},
      {"times an integer", kActionMultiply, M("$1.5"), integer_cell(3), "$4.50000"},
      {"integer times money", kActionMultiply, integer_cell(3), M("$1.5"), "$4.50000"},
      {"money times money", kActionMultiply, M("$0.00001"), M("$0.5"), "", kErrScriptInvalidType},
      {"product cut to zero", kActionMultiply, M("$0.00001"), float_cell(0.5), "", kErrScriptTypeLimit},
      {"product of zero", kActionMultiply, M("$0"), float_cell(0.5), "$0.00000"},
      {"product too large", kActionMultiply, M("$10000000000"), float_cell(1e7), "", kErrScriptTypeLimit},
      {"divided by an integer", kActionDivide, M("$10"), integer_cell(4), "$2.50000"},
      {"a third is cut", kActionDivide, M("$1"), integer_cell(3), "$0.33333"},
      {"integer divided by money", kActionDivide, integer_cell(10), M("$4"), "", kErrScriptInvalidType},
      {"integer remainder of money", kActionRemainder, integer_cell(10), M("$4"), "", kErrScriptInvalidType},
      {"divided by zero", kActionDivide, M("$1"), M("$0"), "", kErrMathZeroDivide},
      {"remainder by zero", kActionRemainder, M("$1"), integer_cell(0), "", kErrMathZeroDivide},
      {"zero divided", kActionDivide, M("$0"), integer_cell(7), "$0.00000"},
      {"quotient cut to zero", kActionDivide, M("$0.00001"), integer_cell(3), "", kErrScriptTypeLimit},
      {"quotient of seventeen digits", kActionDivide, M("$1000000000000"), float_cell(0.00009),
       "$11111111111111111.11111"},
      {"quotient too large", kActionDivide, M("$1000000000000"), float_cell(0.00001), "",
       kErrScriptTypeLimit},
      {"remainder", kActionRemainder, M("$7"), M("$2"), "$1.00000"},
      {"remainder keeps the dividend's sign", kActionRemainder, M("-$7"), M("$2"), "-$1.00000"},
      {"float digits past the fifth are cut", kActionAdd, M("$1"), float_cell(0.123456), "$1.12345"},
      {"a float keeps the decimal written", kActionMultiply, M("$100"), float_cell(1.15), "$115.00000"},
      {"a percent keeps the decimal written", kActionMultiply, M("$1050"), float_cell(1.075, kTypePercent),
       "$1128.75000"},
      {"percent operand", kActionMultiply, M("$10"), float_cell(0.5, kTypePercent), "$5.00000"},
      {"float operand out of range", kActionAdd, M("$1"), float_cell(1e17), "", kErrScriptBadMakeArg},
      {"two currencies", kActionAdd, usd1, eur1, "", kErrScriptWrongDenom},
      {"currency on the left", kActionAdd, usd1, M("$1"), "USD$2.00000"},
      {"currency on the right", kActionAdd, M("$1"), usd1, "USD$2.00000"},
      {"integer plus money", kActionAdd, integer_cell(2), usd1, "USD$3.00000"},
      {"integer minus money", kActionSubtract, integer_cell(2), M("$5"), "-$3.00000"},
      {"float plus money", kActionAdd, float_cell(1.5), usd1, "USD$2.50000"},
      {"float times money", kActionMultiply, float_cell(0.5), M("$3"), "$1.50000"},
      {"float divided by money", kActionDivide, float_cell(10), M("$4"), "", kErrScriptInvalidType},
      {"unsupported operand", kActionAdd, M("$1"), kNoneCell, "", kErrScriptInvalidType},
      {"time operand", kActionAdd, M("$1"), float_cell(1, kTypeTime), "", kErrScriptInvalidType},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Outcome o = outcome(c.action, c.a, c.b);
    EXPECT_EQ(o.error, c.error);
    if (c.error == test::kNoError) {
      EXPECT_EQ(o.text, c.expected);
    }
  }
  // Money by money is a float!.
  Cell r = call_action(kActionDivide, {M("$10"), M("$4")});
  ASSERT_TRUE(r.is(kTypeFloat));
  EXPECT_EQ(float_get(&r), 2.5);
  // The refused operation names the left operand's type.
  catch_error([] { call_action(kActionDivide, {integer_cell(10), M("$4")}); });
  EXPECT_EQ(datatype_type(&last_raised_error().args[0]), kTypeInteger);
}

TEST(MoneyTest, UnaryActions) {
  EXPECT_EQ(mold_of(call_action(kActionNegate, {M("USD$1.5")})), "-USD$1.50");
  EXPECT_EQ(mold_of(call_action(kActionNegate, {M("-$1.5")})), "$1.50");
  EXPECT_EQ(mold_of(call_action(kActionAbsolute, {M("-$1.5")})), "$1.50");
  // Negating zero flips the stored sign only; zero is never written with "-".
  Cell zero = call_action(kActionNegate, {M("$0")});
  EXPECT_TRUE(money_sign_bit(&zero));
  EXPECT_EQ(mold_of(zero), "$0.00");
  EXPECT_EQ(money_sign_q(&zero), 0);
  struct {
    const char* text;
    bool even;
  } parity[] = {{"$2.7", true}, {"$3.2", false}, {"-$13", false}, {"$0.9", true}, {"$10", true}};
  for (auto& p : parity) {
    SCOPED_TRACE(p.text);
    EXPECT_EQ(test::logic_of(call_action(kActionEvenQ, {M(p.text)})), p.even ? 1u : 0u);
    EXPECT_EQ(test::logic_of(call_action(kActionOddQ, {M(p.text)})), p.even ? 0u : 1u);
  }
}

// ---------------------------------------------------------------- compare

TEST(MoneyTest, Compare) {
  Cell usd1 = M("USD$1"), usd2 = M("USD$2"), eur1 = M("EUR$1"), eur2 = M("EUR$2"), one = M("$1");
  struct Case {
    const char* name;
    Cell a, b;
    CompareOp op;
    bool expected;
    ErrorId error = test::kNoError;
  } cases[] = {
      {"two currencies are unequal", usd1, eur1, kCmpEqual, false},
      {"two currencies do not order", usd1, eur2, kCmpLesser, false, kErrScriptWrongDenom},
      {"currency and none are equal", usd1, one, kCmpEqual, true},
      {"currency and none order", one, usd2, kCmpLesser, true},
      {"strict equality needs one currency", usd1, one, kCmpStrictEqual, false},
      {"find: a currency matches none", usd1, one, kCmpFindEqual, true},
      {"find: none does not match a currency", one, usd1, kCmpFindEqual, false},
      {"zero signs are ignored", M("-$0"), M("$0"), kCmpEqual, true},
      {"negatives order", M("-$2"), M("-$1.5"), kCmpLesser, true},
      {"integer", one, integer_cell(1), kCmpEqual, true},
      {"integer strictly", one, integer_cell(1), kCmpStrictEqual, false},
      {"integer order", M("-$2147483648.5"), integer_cell(INT32_MIN), kCmpLesser, true},
      {"float", one, float_cell(1.0), kCmpEqual, true},
      {"float order", M("$0.5"), float_cell(0.25), kCmpGreater, true},
      {"float as written", M("$0.1"), float_cell(0.1), kCmpEqual, true},
      {"float as written, ordered", M("$13.56"), float_cell(13.56), kCmpLesserOrEqual, true},
      // A float with more than 5 fraction digits equals no amount and orders exactly.
      {"float too precise", M("$0.12345"), float_cell(0.123456), kCmpEqual, false},
      {"float too precise, below", M("$0.12345"), float_cell(0.123456), kCmpLesser, true},
      {"float too precise, above", M("$0.12346"), float_cell(0.123456), kCmpGreater, true},
      {"negative float too precise", M("-$0.12345"), float_cell(-0.123456), kCmpGreater, true},
      {"negative float too precise, below", M("-$0.12346"), float_cell(-0.123456), kCmpLesser, true},
      {"NaN", one, float_cell(NAN), kCmpEqual, false, kErrScriptBadMakeArg},
      // Floats money cannot hold order by sign.
      {"zero below a tiny float", M("$0"), float_cell(0.000001), kCmpLesser, true},
      {"zero above a tiny negative float", M("$0"), float_cell(-0.000001), kCmpGreater, true},
      {"amount above a tiny float", M("$0.00001"), float_cell(0.000001), kCmpGreater, true},
      {"negative amount below a tiny float", M("-$0.00001"), float_cell(0.000001), kCmpLesser, true},
      {"negative amount below a tiny negative float", M("-$0.00001"), float_cell(-0.000001), kCmpLesser,
       true},
      {"below a huge float", M("$99999999999999999"), float_cell(1e20), kCmpLesser, true},
      {"above a huge negative float", M("-$99999999999999999"), float_cell(-1e17), kCmpGreater, true},
      {"below infinity", one, float_cell(INFINITY), kCmpLesser, true},
      {"not comparable with a string", one, *push_text("$1"), kCmpEqual, false},
      {"ordering with a string", one, *push_text("$1"), kCmpLesser, false, kErrScriptInvalidCompare},
      // integer! compares through money.
      {"integer against money", integer_cell(2), M("$1.5"), kCmpGreater, true},
      {"integer equal to money", integer_cell(-3), M("-$3.00"), kCmpEqual, true},
      // float! compares through money, the answer turned around.
      {"float against money", float_cell(2.5), M("$2.5"), kCmpEqual, true},
      {"float below money", float_cell(2.25), M("$2.5"), kCmpLesser, true},
      {"tiny float above zero", float_cell(0.000001), M("$0"), kCmpGreater, true},
      {"tiny float below an amount", float_cell(0.000001), M("$0.00001"), kCmpLesser, true},
      {"huge float above an amount", float_cell(1e20), M("$1"), kCmpGreater, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    bool r = false;
    EXPECT_EQ(catch_error([&] { r = compare(c.a, c.b, c.op); }), c.error);
    if (c.error == test::kNoError) {
      EXPECT_EQ(r, c.expected);
    }
  }
  // A float! against money! answers the negation.
  EXPECT_EQ(money_compare_float(&one, 0.5), 1);
  EXPECT_EQ(money_compare_float(&one, 1.0), 0);
}

TEST(MoneyTest, SortOrderPutsNoCurrencyFirstThenCurrenciesByName) {
  StackSave save;
  Cell* v[] = {stack_push_value(M("$5")), stack_push_value(M("USD$1")), stack_push_value(M("EUR$9")),
               stack_push_value(M("USD$2")), stack_push_value(M("-$1"))};
  auto order = [&](int a, int b) { return action_compare_values(v[a], v[b], kCmpSort); };
  EXPECT_EQ(order(4, 0), -1);  // -$1 < $5
  EXPECT_EQ(order(0, 1), -1);  // none before USD
  EXPECT_EQ(order(2, 1), -1);  // EUR before USD, whatever the amounts
  EXPECT_EQ(order(1, 3), -1);  // same currency: by amount
  EXPECT_EQ(order(3, 3), 0);
}

// ---------------------------------------------------------------- text

TEST(MoneyTest, FormAndMold) {
  Cell v = M("-$1234567.891");
  EXPECT_EQ(form_of(v), "-$1'234'567.89");
  EXPECT_EQ(mold_of(v), "-$1234567.89");
  EXPECT_EQ(mold_of(v, true), "-$1234567.89100");
  EXPECT_EQ(form_of(M("-EUR$1")), "-EUR$1.00");
  EXPECT_EQ(form_of(M("$12345678901234567.98765")), "$12'345'678'901'234'567.98");
  EXPECT_EQ(form_of(M("$123")), "$123.00");
  EXPECT_EQ(form_of(M("$0.009")), "$0.00");  // cut, never rounded
  EXPECT_EQ(form_of(M("$1234567"), 4), "$1'2");
  {
    MoneyDigits zero(integer_cell(0));
    EXPECT_EQ(form_of(v), "-$1'234'567");
    EXPECT_EQ(mold_of(v, true), "-$1234567.89100");
  }
  {
    MoneyDigits many(integer_cell(9));
    EXPECT_EQ(mold_of(v), "-$1234567.89100");
  }
  {
    MoneyDigits odd(kNoneCell);  // anything but an integer counts as 2
    EXPECT_EQ(mold_of(v), "-$1234567.89");
  }
  {
    MoneyDigits three(integer_cell(3));
    EXPECT_EQ(form_of(v), "-$1'234'567.891");
  }
}

TEST(MoneyTest, ToFromText) {
  struct Case {
    const char* text;
    const char* expected;  // mold/all; null: refused with bad-to-arg
  } cases[] = {
      {"$12.50", "$12.50000"},
      {"-$3", "-$3.00000"},
      {"+$3", "$3.00000"},
      {"USD$1'000.00", "USD$1000.00000"},
      {"usd$1", "USD$1.00000"},
      {"-eur$0.5", "-EUR$0.50000"},
      {"$.5", "$0.50000"},
      {"$1.", "$1.00000"},
      {"$1.123456789", "$1.12345"},  // cut
      {"$99999999999999999.99999", "$99999999999999999.99999"},
      {"$000000000000000000000001", "$1.00000"},  // leading zeros lose nothing
      {"$123456789012345678", nullptr},           // 18 integer digits
      {"$100000000000000000.5", nullptr},
      {"XYZ$1", nullptr},
      {"US$1", nullptr},
      {"USDX$1", nullptr},
      {"$", nullptr},
      {"$'", nullptr},
      {"$1.2.3", nullptr},
      {"$1a", nullptr},
      {"1", nullptr},
      {"$ 1", nullptr},
      {"", nullptr},
      {"--$1", nullptr},
      {"$1\xE2\x82\xAC", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    Cell r;
    ErrorId e = catch_error([&] { r = M(c.text); });
    if (!c.expected) {
      EXPECT_EQ(e, kErrScriptBadToArg);
      continue;
    }
    ASSERT_EQ(e, test::kNoError);
    EXPECT_EQ(mold_of(r, true), c.expected);
  }
  // Any text type, read from its head.
  Cell file = *push_text("x$2", 1, kTypeFile);
  file.set_head(1);
  EXPECT_EQ(mold_of(call_action(kActionTo, {datatype_cell(kTypeMoney), file})), "$2.00");
  EXPECT_EQ(mold_of(call_action(kActionTo, {datatype_cell(kTypeMoney), *push_text("$7", 4)})), "$7.00");
}

TEST(MoneyTest, ToAndMake) {
  Cell proto = datatype_cell(kTypeMoney);
  struct Case {
    const char* name;
    ActionId action;
    Cell spec;
    const char* expected;  // mold/all
    ErrorId error = test::kNoError;
  } cases[] = {
      {"integer", kActionTo, integer_cell(-42), "-$42.00000"},
      {"smallest integer", kActionTo, integer_cell(INT32_MIN), "-$2147483648.00000"},
      {"float", kActionTo, float_cell(0.5), "$0.50000"},
      {"float of five fraction digits", kActionTo, float_cell(-1234.03125), "-$1234.03125"},
      {"float as written", kActionTo, float_cell(13.56), "$13.56000"},
      {"float of seventeen digits", kActionTo, float_cell(12345678901234.566), "$12345678901234.56600"},
      {"float too precise", kActionTo, float_cell(0.123456), "", kErrScriptBadMakeArg},
      {"float tiny", kActionTo, float_cell(1e-6), "", kErrScriptBadMakeArg},
      {"float huge", kActionTo, float_cell(-1e17), "", kErrScriptBadMakeArg},
      {"float infinite", kActionTo, float_cell(INFINITY), "", kErrScriptBadMakeArg},
      {"float zero", kActionTo, float_cell(-0.0), "$0.00000"},
      {"money", kActionTo, M("USD$3"), "USD$3.00000"},
      {"percent", kActionTo, float_cell(0.5, kTypePercent), "", kErrScriptBadToArg},
      {"none", kActionTo, kNoneCell, "", kErrScriptBadToArg},
      {"block to", kActionTo, *test::block_of({integer_cell(1)}), "", kErrScriptBadToArg},
      {"word", kActionMake, word("usd"), "USD$0.00000"},
      {"unknown word", kActionMake, word("XYZ"), "", kErrScriptBadMakeArg},
      {"make from integer", kActionMake, integer_cell(7), "$7.00000"},
      {"make from text", kActionMake, *push_text("$7"), "$7.00000"},
      {"currency, amount, fraction", kActionMake,
       *test::block_of({word("USD"), integer_cell(10), integer_cell(50)}), "USD$10.00050"},
      {"negative amount, fraction", kActionMake, *test::block_of({integer_cell(-10), integer_cell(50)}),
       "-$10.00050"},
      {"largest fraction", kActionMake, *test::block_of({integer_cell(0), integer_cell(99999)}), "$0.99999"},
      {"float amount", kActionMake, *test::block_of({word("EUR"), float_cell(2.5)}), "EUR$2.50000"},
      {"amount alone", kActionMake, *test::block_of({integer_cell(3)}), "$3.00000"},
      {"fraction too large", kActionMake, *test::block_of({integer_cell(10), integer_cell(100000)}), "",
       kErrScriptBadMakeArg},
      {"negative fraction", kActionMake, *test::block_of({integer_cell(10), integer_cell(-1)}), "",
       kErrScriptBadMakeArg},
      {"fraction after a float", kActionMake, *test::block_of({float_cell(10.5), integer_cell(1)}), "",
       kErrScriptBadMakeArg},
      {"currency alone", kActionMake, *test::block_of({word("USD")}), "", kErrScriptBadMakeArg},
      {"unknown currency", kActionMake, *test::block_of({word("XYZ"), integer_cell(1)}), "",
       kErrScriptBadMakeArg},
      {"too many values", kActionMake, *test::block_of({integer_cell(1), integer_cell(2), integer_cell(3)}),
       "", kErrScriptBadMakeArg},
      {"four values", kActionMake,
       *test::block_of({word("USD"), integer_cell(1), integer_cell(2), integer_cell(3)}), "",
       kErrScriptBadMakeArg},
      {"empty block", kActionMake, *test::block_of({}), "", kErrScriptBadMakeArg},
      {"text in a block", kActionMake, *test::block_of({*push_text("1")}), "", kErrScriptBadMakeArg},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Cell r;
    EXPECT_EQ(catch_error([&] { r = call_action(c.action, {proto, c.spec}); }), c.error);
    if (c.error == test::kNoError) {
      EXPECT_EQ(mold_of(r, true), c.expected);
    }
  }
  // The offending value is named.
  catch_error([&] {
    call_action(kActionMake, {proto, *test::block_of({integer_cell(10), integer_cell(100000)})});
  });
  EXPECT_EQ(integer_get(&last_raised_error().args[1]), 100000);
}

TEST(MoneyTest, ToIntegerAndFloat) {
  Cell proto = datatype_cell(kTypeInteger);
  struct Case {
    const char* text;
    int32_t expected;
    ErrorId error = test::kNoError;
  } cases[] = {
      {"$2147483647.5", INT32_MAX},
      {"$2147483648", 0, kErrScriptTypeLimit},
      {"-$2147483648.9", INT32_MIN},
      {"-$2147483649", 0, kErrScriptTypeLimit},
      {"-$7.99", -7},
      {"$99999999999999999", 0, kErrScriptTypeLimit},
      {"$0.5", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    Cell r;
    EXPECT_EQ(catch_error([&] { r = call_action(kActionTo, {proto, M(c.text)}); }), c.error);
    if (c.error == test::kNoError) {
      EXPECT_EQ(integer_get(&r), c.expected);
    }
  }
  Cell v = M("-$1234.56789");
  EXPECT_EQ(money_to_float(&v), -1234.56789);
  v = M("$99999999999999999.99999");
  EXPECT_EQ(money_to_float(&v), 1e17);
  v = M("-$0");
  EXPECT_EQ(money_to_float(&v), 0.0);
}

// ---------------------------------------------------------------- round

TEST(MoneyTest, Round) {
  struct Case {
    const char* value;
    const char* flag;  // a refinement word, or null
    Cell scale;        // kUnsetCell: no /to
    const char* expected;
    ErrorId error = test::kNoError;
  } cases[] = {
      {"$2.5", nullptr, kUnsetCell, "$3.00000"},
      {"-$2.5", nullptr, kUnsetCell, "-$3.00000"},
      {"$2.4", nullptr, kUnsetCell, "$2.00000"},
      {"$2.5", "even", kUnsetCell, "$2.00000"},
      {"$3.5", "even", kUnsetCell, "$4.00000"},
      {"$2.50001", "even", kUnsetCell, "$3.00000"},
      {"$2.5", "half-down", kUnsetCell, "$2.00000"},
      {"$2.6", "half-down", kUnsetCell, "$3.00000"},
      {"-$2.5", "half-ceiling", kUnsetCell, "-$2.00000"},
      {"$2.5", "half-ceiling", kUnsetCell, "$3.00000"},
      {"-$2.7", "down", kUnsetCell, "-$2.00000"},
      {"-$2.1", "floor", kUnsetCell, "-$3.00000"},
      {"$2.1", "floor", kUnsetCell, "$2.00000"},
      {"-$2.7", "ceiling", kUnsetCell, "-$2.00000"},
      {"$2.1", "ceiling", kUnsetCell, "$3.00000"},
      // An exact multiple stays as it is, whatever the mode.
      {"$2", "ceiling", kUnsetCell, "$2.00000"},
      {"-$2", "floor", kUnsetCell, "-$2.00000"},
      {"$0.06", "ceiling", M("$0.03"), "$0.06000"},
      {"$1.234", nullptr, M("$0.01"), "$1.23000"},
      {"$1.235", nullptr, M("$0.01"), "$1.24000"},
      // A tie is half the scale at any scale.
      {"$1.235", "half-down", M("$0.01"), "$1.23000"},
      {"$1.245", "even", M("$0.01"), "$1.24000"},
      {"$1.255", "even", M("$0.01"), "$1.26000"},
      {"$0.045", "even", M("$0.03"), "$0.06000"},  // 1.5 x 0.03: to the even multiple 2
      {"$0.075", "even", M("$0.03"), "$0.06000"},  // 2.5 x 0.03
      {"$0.044", "even", M("$0.03"), "$0.03000"},
      {"$15", "even", integer_cell(10), "$20.00000"},
      {"$25", "even", integer_cell(-10), "$20.00000"},
      {"$25", nullptr, float_cell(0.5), "$25.00000"},
      {"$25.3", nullptr, float_cell(0.5), "$25.50000"},
      {"USD$7.77", nullptr, M("EUR$0.1"), "USD$7.80000"},  // the value's currency stays
      {"$0.4", nullptr, kUnsetCell, "$0.00000"},
      {"-$0.4", nullptr, kUnsetCell, "$0.00000"},
      {"$0", nullptr, kUnsetCell, "$0.00000"},
      {"$5", nullptr, M("$0"), "$5.00000"},
      {"$99999999999999999.5", nullptr, kUnsetCell, "", kErrScriptTypeLimit},
      {"$99999999999999999.4", nullptr, kUnsetCell, "$99999999999999999.00000"},
      {"$1.2345", nullptr, float_cell(0.01), "$1.23000"},
      {"$1", nullptr, float_cell(0.123456), "", kErrScriptBadMakeArg},
      {"$1", nullptr, *push_text("x"), "", kErrScriptNotRelated},
      {"$1", nullptr, float_cell(0.5, kTypePercent), "", kErrScriptNotRelated},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.value << " /" << (c.flag ? c.flag : "") << " "
                                    << (c.scale.is(kTypeUnset) ? "" : "/to"));
    Act round(kActionRound, {M(c.value)});
    if (!c.scale.is(kTypeUnset)) round.ref("to", c.scale);
    if (c.flag) round.ref(c.flag);
    Cell r;
    EXPECT_EQ(catch_error([&] { r = round.value(); }), c.error);
    if (c.error == test::kNoError) {
      EXPECT_EQ(mold_of(r, true), c.expected);
    }
  }
}

TEST(MoneyTest, RoundAgreesWithIntegerArithmetic) {
  std::mt19937_64 rng(99);
  const char* modes[] = {nullptr, "even", "down", "half-down", "floor", "ceiling", "half-ceiling"};
  for (int n = 0; n < 600; n++) {
    i128 v = random_scaled(rng, 12), s = random_scaled(rng, 6);
    if (s < 0) s = -s;
    const char* mode = modes[n % 7];
    SCOPED_TRACE(testing::Message() << text_of_scaled(v) << " /to " << text_of_scaled(s) << " "
                                    << (mode ? mode : "half-up"));
    i128 a = v < 0 ? -v : v, r = a % s, q = a / s;
    bool positive = v > 0;
    bool up;
    if (r == 0)
      up = false;
    else if (mode && std::string(mode) == "down")
      up = false;
    else if (mode && std::string(mode) == "floor")
      up = !positive;
    else if (mode && std::string(mode) == "ceiling")
      up = positive;
    else if (2 * r == s && mode && std::string(mode) == "even")
      up = q % 2 == 1;
    else if (2 * r == s && mode && std::string(mode) == "half-down")
      up = false;
    else if (2 * r == s && mode && std::string(mode) == "half-ceiling")
      up = positive;
    else
      up = 2 * r >= s;
    i128 m = (up ? q + 1 : q) * s;
    Act round(kActionRound, {money_of_scaled(v)});
    round.ref("to", money_of_scaled(s));
    if (mode) round.ref(mode);
    EXPECT_EQ(mold_of(round.value(), true), text_of_scaled(positive ? m : -m));
  }
}

// ---------------------------------------------------------------- paths, currencies, random

TEST(MoneyTest, PathAndPick) {
  StackSave save;
  Cell* v = stack_push_value(M("-USD$2.5"));
  Cell* path = test::block_of({word("m"), word("code")}, kTypePath);
  auto step = [&](Cell element, Cell* value) {
    EvalPathArgs a;
    a.element = stack_push_value(element);
    a.value = value;
    a.path = path;
    Cell* parent = stack_push_value(*v);
    return *action_eval_path(parent, a);
  };
  Cell code = step(word("code"), nullptr);
  EXPECT_EQ(form_of(code), "USD");
  EXPECT_TRUE(code.is(kTypeWord));
  EXPECT_EQ(form_of(step(integer_cell(1), nullptr)), "USD");
  EXPECT_EQ(mold_of(step(word("AMOUNT"), nullptr)), "-$2.50");
  EXPECT_EQ(mold_of(step(integer_cell(2), nullptr)), "-$2.50");
  EXPECT_TRUE(step(word("code"), nullptr).is(kTypeWord));
  EXPECT_TRUE(call_action(kActionPick, {M("$1"), integer_cell(1)}).is(kTypeNone));
  EXPECT_EQ(catch_error([&] { step(word("cents"), nullptr); }), kErrScriptInvalidPath);
  EXPECT_EQ(catch_error([&] { step(integer_cell(3), nullptr); }), kErrScriptInvalidPath);
  EXPECT_EQ(catch_error([&] { step(word("code"), stack_push_value(word("EUR"))); }), kErrScriptBadPathSet);

  EXPECT_EQ(form_of(call_action(kActionPick, {*v, word("code")})), "USD");
  EXPECT_EQ(mold_of(call_action(kActionPick, {*v, integer_cell(2)})), "-$2.50");
  EXPECT_EQ(catch_error([&] { call_action(kActionPick, {*v, integer_cell(0)}); }), kErrScriptOutOfRange);
  EXPECT_EQ(catch_error([&] { call_action(kActionPick, {*v, word("x")}); }), kErrScriptOutOfRange);
}

TEST(MoneyTest, CurrencyList) {
  EXPECT_EQ(money_currency_index_of_name("AED"), 1);
  EXPECT_EQ(money_currency_index_of_name("kiv"), 123);
  EXPECT_EQ(money_currency_index_of_name("ZMW"), 170);
  EXPECT_EQ(money_currency_index_of_name("XYZ"), -1);
  Cell usd = word("usd");
  int32_t index = money_currency_index(&usd);
  EXPECT_EQ(index, money_currency_index_of_name("USD"));
  Cell at = money_currency_at(uint32_t(index));
  EXPECT_EQ(form_of(at), "USD");
  EXPECT_TRUE(money_currency_at(0).is(kTypeNone));
  EXPECT_TRUE(money_currency_at(171).is(kTypeNone));
  // A cell whose index lies past the list forms without a code.
  Cell v = M("$1");
  money_set_currency(&v, 200);
  EXPECT_EQ(mold_of(v), "$1.00");
}

TEST(MoneyTest, Random) {
  Cell start = M("-USD$30.5");
  random_seed(1);
  for (int n = 0; n < 200; n++) {
    Cell r = call_action(kActionRandom, {start});
    ASSERT_TRUE(r.is(kTypeMoney));
    EXPECT_EQ(money_currency_of(&r), money_currency_of(&start));
    EXPECT_GE(money_compare_values(&r, &start), 0);  // |r| <= |start|, both negative
    EXPECT_LE(money_sign_q(&r), 0);
  }
  EXPECT_EQ(mold_of(call_action(kActionRandom, {M("$0")})), "$0.00");
  // /seed makes the draws repeat.
  EXPECT_TRUE(Act(kActionRandom, {start}).ref("seed").value().is(kTypeUnset));
  Cell a = call_action(kActionRandom, {M("$123456.789")});
  Act(kActionRandom, {start}).ref("seed").value();
  Cell b = call_action(kActionRandom, {M("$123456.789")});
  EXPECT_EQ(money_compare_values(&a, &b), 0);
}

}  // namespace
}  // namespace kiv
