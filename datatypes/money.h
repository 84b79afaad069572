// money!: an exact decimal amount with an optional currency.
//
// Value cell (money! 49):
//   header  type id; bit 14 (kMoneyNegative) the sign; other flags as for every cell
//   byte 4 (low byte of word 1)  currency index: 0 none, 1-255 a position in
//           the currency list
//   bytes 5-15  22 packed decimal digits, most significant first (high nibble
//           first); 17 integer digits, then 5 fraction digits
//
// Digit positions run 1 to 22 from the most significant: 17 is the units
// digit, 18 the tenths, 22 the hundred-thousandths. The amount is the 22-digit
// integer times 10^-5, so the largest magnitude is 99999999999999999.99999.
// A zero amount's sign is ignored everywhere: it is never formed with "-" and
// equals every other zero.
//
// The currency list is a block of words held by root slot kRootCurrencyList;
// the system object shows it as system/locale/currencies/list. A cell stores
// the 1-based position of its currency's word, so an index stays meaningful
// only while the list keeps its order.
//
// Arithmetic is done digit by digit, never through binary floating point:
// sums and differences are exact, products and quotients are cut (not
// rounded) to 5 fraction digits.
#pragma once

#include <cstdint>
#include <string_view>

#include "datatypes/action_slots.h"
#include "runtime/cell.h"

namespace kiv {

inline constexpr uint32_t kMoneyNegative = 0x4000u;
inline constexpr int kMoneyDigitCount = 22;
inline constexpr int kMoneyIntegerDigits = 17;
inline constexpr int kMoneyFractionDigits = 5;
inline constexpr int kMoneyDigitBytes = 11;
// The highest currency index a cell can hold.
inline constexpr int32_t kMoneyCurrencyMax = 255;
// Floats money cannot hold: nonzero magnitudes below kMoneyFloatTiny, and
// magnitudes of kMoneyFloatHuge and above (infinities included).
inline constexpr double kMoneyFloatTiny = 1e-5;
inline constexpr double kMoneyFloatHuge = 1e17;

// ---------------------------------------------------------------- the cell

// True when all 22 digits are 0.
inline bool money_zero_q(const Cell* money) {
  return (money->data1 >> 8) == 0 && money->data2 == 0 && money->data3 == 0;
}
// The sign bit as stored (also on a zero amount).
inline bool money_sign_bit(const Cell* money) { return (money->header & kMoneyNegative) != 0; }
inline Cell* money_set_sign_bit(Cell* money, bool negative) {
  money->header = negative ? (money->header | kMoneyNegative) : (money->header & ~kMoneyNegative);
  return money;
}
inline void money_toggle_sign(Cell* money) { money->header ^= kMoneyNegative; }
inline void money_clear_sign(Cell* money) { money->header &= ~kMoneyNegative; }
// 0 for a zero amount, else -1 or 1 by the sign bit.
inline int money_sign_q(const Cell* money) {
  return money_zero_q(money) ? 0 : money_sign_bit(money) ? -1 : 1;
}
inline bool money_negative_q(const Cell* money) { return money_sign_q(money) < 0; }
inline bool money_positive_q(const Cell* money) { return money_sign_q(money) > 0; }

inline uint32_t money_currency_of(const Cell* money) { return money->data1 & 0xFFu; }
inline void money_set_currency(Cell* money, uint32_t index) {
  money->data1 = (money->data1 & ~0xFFu) | (index & 0xFFu);
}
// Copies the 11 packed digit bytes (bytes 5-15 of the cell) out of / into [money].
void money_digits_of(const Cell* money, uint8_t out[kMoneyDigitBytes]);
void money_set_digits(Cell* money, const uint8_t digits[kMoneyDigitBytes]);

// ---------------------------------------------------------------- makers

// A money! cell (all header flags clear but the sign) from its parts.
Cell money_cell(bool negative, uint32_t currency, const uint8_t digits[kMoneyDigitBytes]);
// Makes [cell] such a money! (serialisation loaders); returns it.
Cell* money_init(Cell* cell, bool negative, uint32_t currency, const uint8_t digits[kMoneyDigitBytes]);
// Pushes such a money! on the data stack.
Cell* money_push(bool negative, uint32_t currency, const uint8_t digits[kMoneyDigitBytes]);

// Makes [out] the amount written by [digits]: decimal digits with "'"
// separators anywhere and at most one "." (the caller has checked the
// characters). Fraction digits past the fifth are dropped (cut). False, with
// [out] left a zero amount, when the integer part has more than 17 significant
// digits: leading digits are never dropped.
bool money_from_text(Cell* out, bool negative, uint32_t currency, std::string_view digits);
// The money text scanner: the text of the string-like [text] from its head to
// its tail is an optional sign, an optional three-letter currency code of the
// currency list, "$", then digits with "'" separators and at most one ".",
// with at least one digit. False (and [out] untouched) for anything else,
// including an unknown code or more than 17 integer digits.
bool money_scan(const Cell* text, Cell* out);

// The amount of [n], no currency.
Cell money_from_integer(int32_t n);
// The amount of [x], no currency, read from its shortest round-trip digits
// (0.1 reads "0.1", 1.15 "1.15"). Raises script bad-make-arg (money!, [x])
// for infinity and NaN, for 0 < |x| < 1e-5 and for |x| >= 1e17, and with
// [strict] when those digits have more than 5 fraction digits (0.123456 is
// refused, 13.56 is not); without [strict] the digits past the fifth are
// dropped.
Cell money_from_float(double x, bool strict);
// True for a float money cannot hold (see kMoneyFloatTiny, kMoneyFloatHuge):
// the two cases comparisons answer by sign alone.
inline bool money_float_tiny_q(double x) { return x != 0 && x < kMoneyFloatTiny && x > -kMoneyFloatTiny; }
inline bool money_float_huge_q(double x) { return x >= kMoneyFloatHuge || x <= -kMoneyFloatHuge; }

// The integer part (cut toward zero); script type-limit with integer! when
// it lies outside -2147483648 .. 2147483647.
int32_t money_to_integer(const Cell* money);
// The nearest double to the amount (through its text); script bad-make-arg
// with float! and the value should that text not read back.
double money_to_float(const Cell* money);

// ---------------------------------------------------------------- currencies and options

// MAY ALLOCATE. Makes the default currency list (170 codes) in root slot
// kRootCurrencyList. Needs the symbol table and the global context.
void money_currencies_init();
// The currency list block (none! before money_currencies_init).
Cell money_currency_list();
// The 1-based position of [word]'s symbol in the currency list ignoring
// letter case, or -1 when absent or past position 255.
int32_t money_currency_index(const Cell* word);
// The same for the UTF-8 [name].
int32_t money_currency_index_of_name(std::string_view name);
// A copy of the list's word at 1-based [index]; none! when there is none.
Cell money_currency_at(uint32_t index);

// system/options/money-digits: the fraction digits form and mold show. The
// options object hands over every value it is set to; anything but an
// integer! counts as 2.
void money_set_digits_option(const Cell* value);
int32_t money_digits_option();

// ---------------------------------------------------------------- arithmetic, compare, text

// The arithmetic of money! (ops 0 add to 4 remainder), also for an integer!
// or float! operand that handed the operation over. [left] is the first
// argument slot and receives the result. integer! operands are converted
// exactly, float! and percent! ones through their text with the digits past
// the fifth fraction digit dropped. Refused: money times money and a
// non-money divided by money (script invalid-type), operands of other types
// (invalid-type with their datatype), two different currencies (script
// wrong-denom). Money divided by money gives a float!; every other result is
// a money! in the right operand's currency, else the left's. Overflow and a
// nonzero product or quotient cut to zero raise script type-limit with
// money!; a zero divisor math zero-divide.
Cell* money_do_math(Cell* left, Cell* right, int op);

// -1, 0 or 1 ordering the amounts of [a] and [b]; currencies are ignored.
int money_compare_values(const Cell* a, const Cell* b);
// The amount of [money] against the float [x]: a tiny x answers the sign of
// a nonzero amount, else the opposite of x's sign; a huge x the opposite of
// its own sign; NaN raises script bad-make-arg; any other x is compared
// exactly as the decimal of its shortest digits (13.56 equals $13.56,
// 0.123456 lies between $0.12345 and $0.12346). A float! compared with a
// money! answers the negation of this.
int money_compare_float(const Cell* money, double x);
// The compare handler (value2 money!, integer! or float!; others not
// comparable). MAY ALLOCATE under the sort ops: two currencies order by name.
int money_compare(Cell* value, const CompareArgs& args);

// MAY ALLOCATE. Appends the text of [money] to the string [buffer]: "-",
// the currency code, "$", the integer digits ("'" every three digits with
// [grouping]), then "." and the money-digits count of fraction digits (all
// five with [all]), cut, not rounded. Returns [limit] less the characters
// appended.
int32_t money_form(const Cell* money, Cell* buffer, int32_t limit, bool all, bool grouping);

// Registers money! (no parent).
void money_datatype_init();

}  // namespace kiv
