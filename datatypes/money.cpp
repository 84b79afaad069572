// money!: the packed decimal amount, its currencies, exact arithmetic,
// rounding, comparison, text and the action handlers.
//
// Arithmetic unpacks the 22 digits of each operand into a row of one digit
// per byte (index 0 = position 1), works on magnitudes with a separate sign,
// and packs the result back. Arithmetic, compare and round never allocate
// collector memory (raising an error aside); the text writers, the currency
// list and the sort order of two currencies (by name) may. Results are fresh
// cells: header flags clear but the sign, which is kept clear on a zero result.
#include "datatypes/money.h"

#include <array>
#include <bit>
#include <cstring>
#include <string>

#include "datatypes/actions.h"
#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/registry.h"
#include "datatypes/runtime_words.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/fatal.h"
#include "runtime/murmur3.h"
#include "runtime/random.h"
#include "runtime/root_block.h"
#include "runtime/stack.h"

namespace kiv {

// The digit bytes are bytes 5-15 of the cell as it lies in memory.
static_assert(std::endian::native == std::endian::little, "money! digit bytes assume a little-endian cell");

void money_digits_of(const Cell* money, uint8_t out[kMoneyDigitBytes]) {
  uint8_t raw[sizeof(Cell)];
  std::memcpy(raw, money, sizeof raw);
  std::memcpy(out, raw + 5, kMoneyDigitBytes);
}

void money_set_digits(Cell* money, const uint8_t digits[kMoneyDigitBytes]) {
  uint8_t raw[sizeof(Cell)];
  std::memcpy(raw, money, sizeof raw);
  std::memcpy(raw + 5, digits, kMoneyDigitBytes);
  std::memcpy(money, raw, sizeof raw);
}

Cell money_cell(bool negative, uint32_t currency, const uint8_t digits[kMoneyDigitBytes]) {
  Cell c = make_cell(kTypeMoney);
  money_set_currency(&c, currency);
  money_set_digits(&c, digits);
  money_set_sign_bit(&c, negative);
  return c;
}

Cell* money_init(Cell* cell, bool negative, uint32_t currency, const uint8_t digits[kMoneyDigitBytes]) {
  *cell = money_cell(negative, currency, digits);
  return cell;
}

Cell* money_push(bool negative, uint32_t currency, const uint8_t digits[kMoneyDigitBytes]) {
  return stack_push_value(money_cell(negative, currency, digits));
}

namespace {

// ---------------------------------------------------------------- digit rows

// One digit per byte, most significant first: row[p - 1] is position p.
using DigitRow = std::array<uint8_t, kMoneyDigitCount>;
constexpr int kUnits = kMoneyIntegerDigits - 1;  // index of the units digit

DigitRow unpack(const Cell* money) {
  uint8_t bytes[kMoneyDigitBytes];
  money_digits_of(money, bytes);
  DigitRow row;
  for (int i = 0; i < kMoneyDigitCount; i++) row[i] = i % 2 == 0 ? bytes[i / 2] >> 4 : bytes[i / 2] & 0xF;
  return row;
}

void pack(const DigitRow& row, uint8_t bytes[kMoneyDigitBytes]) {
  for (int i = 0; i < kMoneyDigitBytes; i++) bytes[i] = uint8_t(row[2 * i] << 4 | row[2 * i + 1]);
}

bool row_zero_q(const DigitRow& row) {
  for (uint8_t d : row)
    if (d) return false;
  return true;
}

// -1, 0 or 1 ordering two magnitudes.
int row_compare(const DigitRow& a, const DigitRow& b) {
  for (int i = 0; i < kMoneyDigitCount; i++)
    if (a[i] != b[i]) return a[i] < b[i] ? -1 : 1;
  return 0;
}

// a + b into [out]; false when the sum needs a 23rd digit.
bool row_add(const DigitRow& a, const DigitRow& b, DigitRow* out) {
  int carry = 0;
  for (int i = kMoneyDigitCount - 1; i >= 0; i--) {
    int s = a[i] + b[i] + carry;
    carry = s >= 10;
    (*out)[i] = uint8_t(carry ? s - 10 : s);
  }
  return carry == 0;
}

// a - b into [out], for a >= b.
void row_subtract(const DigitRow& a, const DigitRow& b, DigitRow* out) {
  int borrow = 0;
  for (int i = kMoneyDigitCount - 1; i >= 0; i--) {
    int d = a[i] - b[i] - borrow;
    borrow = d < 0;
    (*out)[i] = uint8_t(borrow ? d + 10 : d);
  }
}

// Long division of the [n] digits at [dividend] (most significant first) by
// the nonzero [divisor]: one quotient digit per dividend digit into
// [quotient] (when given), and the remainder, which is below the divisor.
DigitRow row_divide(const uint8_t* dividend, int n, const DigitRow& divisor, uint8_t* quotient) {
  // The running remainder, one digit wider than the divisor: remainder * 10
  // + digit stays below 10 x divisor.
  constexpr int kWide = kMoneyDigitCount + 1;
  uint8_t rem[kWide] = {};
  uint8_t div[kWide] = {};
  std::memcpy(div + 1, divisor.data(), kMoneyDigitCount);
  auto not_below = [&] {
    for (int i = 0; i < kWide; i++)
      if (rem[i] != div[i]) return rem[i] > div[i];
    return true;
  };
  for (int k = 0; k < n; k++) {
    std::memmove(rem, rem + 1, kWide - 1);
    rem[kWide - 1] = dividend[k];
    uint8_t q = 0;
    while (not_below()) {
      int borrow = 0;
      for (int i = kWide - 1; i >= 0; i--) {
        int d = rem[i] - div[i] - borrow;
        borrow = d < 0;
        rem[i] = uint8_t(borrow ? d + 10 : d);
      }
      q++;
    }
    if (quotient) quotient[k] = q;
  }
  DigitRow out;
  std::memcpy(out.data(), rem + 1, kMoneyDigitCount);
  return out;
}

// ---------------------------------------------------------------- signed amounts

struct Amount {
  bool negative = false;  // never set on a zero magnitude
  DigitRow digits{};
};

Amount amount_of(const Cell* money) { return {money_negative_q(money), unpack(money)}; }

Cell amount_cell(Amount a, uint32_t currency) {
  uint8_t bytes[kMoneyDigitBytes];
  pack(a.digits, bytes);
  return money_cell(a.negative && !row_zero_q(a.digits), currency, bytes);
}

[[noreturn]] void raise_type_limit(TypeId type) {
  Cell datatype = datatype_cell(type);
  raise_error(kErrScriptTypeLimit, &datatype);
}

[[noreturn]] void raise_invalid_type(TypeId type) {
  Cell datatype = datatype_cell(type);
  raise_error(kErrScriptInvalidType, &datatype);
}

[[noreturn]] void raise_bad_make_arg(TypeId type, const Cell* value) {
  Cell datatype = datatype_cell(type);
  raise_error(kErrScriptBadMakeArg, &datatype, value);
}

[[noreturn]] void raise_bad_to_arg(const Cell* value) {
  Cell datatype = datatype_cell(kTypeMoney);
  raise_error(kErrScriptBadToArg, &datatype, value);
}

Amount amount_add(const Amount& a, const Amount& b) {
  Amount r;
  if (a.negative == b.negative) {
    if (!row_add(a.digits, b.digits, &r.digits)) raise_type_limit(kTypeMoney);
    r.negative = a.negative;
  } else if (row_compare(a.digits, b.digits) >= 0) {
    row_subtract(a.digits, b.digits, &r.digits);
    r.negative = a.negative;
  } else {
    row_subtract(b.digits, a.digits, &r.digits);
    r.negative = b.negative;
  }
  if (row_zero_q(r.digits)) r.negative = false;
  return r;
}

Amount amount_negated(Amount a) {
  a.negative = !a.negative && !row_zero_q(a.digits);
  return a;
}

// The product cut to 5 fraction digits; type-limit when it does not fit or
// when two nonzero factors give a product below 0.00001.
Amount amount_multiply(const Amount& a, const Amount& b) {
  if (row_zero_q(a.digits) || row_zero_q(b.digits)) return {};
  // Column sums, least significant first: column k is 10^k of the product of
  // the two 22-digit integers (amounts x 10^5 each).
  constexpr int kColumns = 2 * kMoneyDigitCount;
  uint32_t column[kColumns + 1] = {};
  for (int i = 0; i < kMoneyDigitCount; i++)
    for (int j = 0; j < kMoneyDigitCount; j++)
      column[(kMoneyDigitCount - 1 - i) + (kMoneyDigitCount - 1 - j)] += uint32_t(a.digits[i]) * b.digits[j];
  for (int k = 0; k < kColumns; k++) {
    column[k + 1] += column[k] / 10;
    column[k] %= 10;
  }
  // Dropping the lowest 5 columns scales back to 10^-5 units, cut.
  for (int k = kMoneyFractionDigits + kMoneyDigitCount; k <= kColumns; k++)
    if (column[k]) raise_type_limit(kTypeMoney);
  Amount r;
  for (int i = 0; i < kMoneyDigitCount; i++)
    r.digits[i] = uint8_t(column[kMoneyFractionDigits + kMoneyDigitCount - 1 - i]);
  if (row_zero_q(r.digits)) raise_type_limit(kTypeMoney);
  r.negative = a.negative != b.negative;
  return r;
}

// The quotient cut to 5 fraction digits; zero-divide for a zero divisor,
// type-limit when it does not fit or when a nonzero dividend gives a
// quotient below 0.00001.
Amount amount_divide(const Amount& a, const Amount& b) {
  if (row_zero_q(b.digits)) raise_error(kErrMathZeroDivide);
  if (row_zero_q(a.digits)) return {};
  // The dividend times 10^5: its 22 digits, then 5 zeros.
  constexpr int kWorking = kMoneyDigitCount + kMoneyFractionDigits;
  uint8_t dividend[kWorking] = {};
  std::memcpy(dividend, a.digits.data(), kMoneyDigitCount);
  uint8_t quotient[kWorking];
  row_divide(dividend, kWorking, b.digits, quotient);
  for (int k = 0; k < kMoneyFractionDigits; k++)
    if (quotient[k]) raise_type_limit(kTypeMoney);
  Amount r;
  std::memcpy(r.digits.data(), quotient + kMoneyFractionDigits, kMoneyDigitCount);
  if (row_zero_q(r.digits)) raise_type_limit(kTypeMoney);
  r.negative = a.negative != b.negative;
  return r;
}

// The remainder of truncating division; its sign is the dividend's.
Amount amount_remainder(const Amount& a, const Amount& b) {
  if (row_zero_q(b.digits)) raise_error(kErrMathZeroDivide);
  Amount r;
  r.digits = row_divide(a.digits.data(), kMoneyDigitCount, b.digits, nullptr);
  r.negative = a.negative && !row_zero_q(r.digits);
  return r;
}

// ---------------------------------------------------------------- currencies and options

// The default currency list, in list order.
constexpr const char* kDefaultCurrencies =
    "AED AFN ALL AMD ANG AOA ARS AUD AWG AZN BAM BBD BDT BTC BGN BHD BIF BMD BND BOB BRL BSD BTN BWP "
    "BYN BZD CAD CDF CHF CKD CLP CNY COP CRC CUC CUP CVE CZK DJF DKK DOP DZD EGP ERN ETB ETH EUR FJD "
    "FKP FOK GBP GEL GGP GHS GIP GMD GNF GTQ GYD HKD HNL HRK HTG HUF IDR ILS IMP INR IQD IRR ISK JEP "
    "JMD JOD JPY KES KGS KHR KID KMF KPW KRW KWD KYD KZT LAK LBP LKR LRD LSL LYD MAD MDL MGA MKD MMK "
    "MNT MOP MRU MUR MVR MWK MXN MYR MZN NAD NGN NIO NOK NPR NZD OMR PAB PEN PGK PHP PKR PLN PND PRB "
    "PYG QAR KIV RON RSD RUB RWF SAR SBD SCR SDG SEK SGD SHP SLL SLS SOS SRD SSP STN SYP SZL THB TJS "
    "TMT TND TOP TRY TTD TVD TWD TZS UAH UGX USD UYU UZS VES VND VUV WST CFA XAF XCD XOF CFP XPF YER "
    "ZAR ZMW";
constexpr int32_t kDefaultCurrencyCount = 170;

int32_t g_money_digits = 2;

// Calls [match] with the symbol of each word of the currency list from its
// head, by 1-based position up to 255, until it answers true; that position,
// or -1.
template <class Match>
int32_t find_currency(Match match) {
  Cell list = money_currency_list();
  if (!is_any_block(list.type())) return -1;
  SeriesBuffer* b = series_buffer(list.node());
  int32_t total = int32_t(b->length());
  int32_t head = list.head() < 0 ? 0 : list.head();
  for (int32_t i = head; i < total && i - head < kMoneyCurrencyMax; i++) {
    const Cell* c = b->cells() + i;
    if (is_all_word(c->type()) && match(word_symbol(c))) return i - head + 1;
  }
  return -1;
}

bool ascii_equal_ignoring_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); i++) {
    auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c + 32) : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

}  // namespace

void money_currencies_init() {
  block_new(nullptr, kDefaultCurrencyCount, kRootCurrencyList);
  std::string_view codes = kDefaultCurrencies;
  while (!codes.empty()) {
    size_t end = codes.find(' ');
    std::string code(codes.substr(0, end));
    codes = end == std::string_view::npos ? std::string_view{} : codes.substr(end + 1);
    // Unbound: a code added to the global context here would give its
    // spelling to a later word of other case (ALL for all, TRY for try).
    Cell word = word_cell(kTypeWord, 0, symbol_make(code.c_str()), -1);
    Cell list = *root_slot(kRootCurrencyList);
    block_append_value(&list, &word);
  }
}

Cell money_currency_list() {
  Cell list = *root_slot(kRootCurrencyList);
  return is_any_block(list.type()) ? list : kNoneCell;
}

int32_t money_currency_index(const Cell* word) {
  int32_t canon = symbol_resolve(word_symbol(word));
  return find_currency([&](int32_t symbol) { return symbol_resolve(symbol) == canon; });
}

int32_t money_currency_index_of_name(std::string_view name) {
  return find_currency([&](int32_t symbol) { return ascii_equal_ignoring_case(symbol_name(symbol), name); });
}

Cell money_currency_at(uint32_t index) {
  Cell list = money_currency_list();
  if (index == 0 || !is_any_block(list.type())) return kNoneCell;
  SeriesBuffer* b = series_buffer(list.node());
  int64_t at = int64_t(list.head() < 0 ? 0 : list.head()) + index - 1;
  if (at >= int64_t(b->length())) return kNoneCell;
  Cell c = b->cells()[at];
  return is_all_word(c.type()) ? c : kNoneCell;
}

void money_set_digits_option(const Cell* value) {
  g_money_digits = value->is(kTypeInteger) ? integer_get(value) : 2;
}

int32_t money_digits_option() { return g_money_digits; }

// ---------------------------------------------------------------- conversions

bool money_from_text(Cell* out, bool negative, uint32_t currency, std::string_view digits) {
  uint8_t zero[kMoneyDigitBytes] = {};
  *out = money_cell(negative, currency, zero);
  size_t point = digits.find('.');
  std::string_view whole = digits.substr(0, point);
  std::string_view fraction = point == std::string_view::npos ? std::string_view{} : digits.substr(point + 1);
  DigitRow row{};
  int at = kUnits;
  for (size_t i = whole.size(); i-- > 0;) {
    char c = whole[i];
    if (c == '\'') continue;
    if (c < '0' || c > '9') return false;
    if (at < 0) {
      if (c != '0') return false;  // a leading digit that does not fit
      continue;
    }
    row[at--] = uint8_t(c - '0');
  }
  at = kMoneyIntegerDigits;
  for (char c : fraction) {
    if (c == '\'') continue;
    if (c < '0' || c > '9') return false;
    if (at < kMoneyDigitCount) row[at++] = uint8_t(c - '0');
  }
  uint8_t bytes[kMoneyDigitBytes];
  pack(row, bytes);
  money_set_digits(out, bytes);
  return true;
}

bool money_scan(const Cell* text, Cell* out) {
  // The characters as ASCII; anything wider cannot belong to a money text.
  std::string s;
  int32_t total = string_total_length(text);
  for (int32_t i = string_head_index(text); i < total; i++) {
    uint32_t cp = string_char_at(text, uint32_t(i));
    if (cp == 0 || cp > 0x7F) return false;
    s.push_back(char(cp));
  }
  size_t i = 0;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  uint32_t currency = 0;
  auto letter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
  if (i < s.size() && letter(s[i])) {
    if (s.size() < i + 4 || !letter(s[i + 1]) || !letter(s[i + 2])) return false;
    int32_t index = money_currency_index_of_name(std::string_view(s).substr(i, 3));
    if (index < 0) return false;
    currency = uint32_t(index);
    i += 3;
  }
  if (i >= s.size() || s[i] != '$') return false;
  std::string_view body = std::string_view(s).substr(i + 1);
  bool digit = false;
  int points = 0;
  for (char c : body) {
    if (c >= '0' && c <= '9')
      digit = true;
    else if (c == '.')
      points++;
    else if (c != '\'')
      return false;
  }
  if (!digit || points > 1) return false;
  Cell value;
  if (!money_from_text(&value, negative, currency, body)) return false;
  *out = value;
  return true;
}

Cell money_from_integer(int32_t n) {
  int64_t magnitude = n < 0 ? -int64_t(n) : n;
  DigitRow row{};
  for (int at = kUnits; magnitude != 0; at--) {
    row[at] = uint8_t(magnitude % 10);
    magnitude /= 10;
  }
  return amount_cell({n < 0, row}, 0);
}

namespace {

// The amount of [x] with its fraction cut to 5 digits; *[cut] tells whether
// digits were dropped. Raises bad-make-arg for the floats money cannot hold.
Cell money_from_float_cut(double x, bool* cut) {
  Cell number = float_cell(x);
  if (float_special_q(x) || money_float_tiny_q(x) || money_float_huge_q(x))
    raise_bad_make_arg(kTypeMoney, &number);
  // The shortest digits that read back to x: the decimal the user wrote
  // (1.15, not 1.149999999999999911182).
  FloatText text = float_to_text(x, 0, true);
  std::string_view t = text.view();
  bool negative = !t.empty() && t[0] == '-';
  if (negative) t.remove_prefix(1);
  size_t point = t.find('.');
  // Within the range checked above the text is always plain: digits "." digits.
  if (point == std::string_view::npos || t.find_first_not_of("0123456789.") != std::string_view::npos)
    raise_bad_make_arg(kTypeMoney, &number);
  *cut = t.size() - point - 1 > size_t(kMoneyFractionDigits);
  Cell out;
  if (!money_from_text(&out, negative, 0, t)) raise_bad_make_arg(kTypeMoney, &number);
  return out;
}

}  // namespace

Cell money_from_float(double x, bool strict) {
  bool cut = false;
  Cell out = money_from_float_cut(x, &cut);
  if (strict && cut) {
    Cell number = float_cell(x);
    raise_bad_make_arg(kTypeMoney, &number);
  }
  return out;
}

int32_t money_to_integer(const Cell* money) {
  DigitRow row = unpack(money);
  int64_t whole = 0;
  for (int i = 0; i <= kUnits; i++) whole = whole * 10 + row[i];
  if (money_negative_q(money)) whole = -whole;
  if (whole > INT32_MAX || whole < INT32_MIN) raise_type_limit(kTypeInteger);
  return int32_t(whole);
}

namespace {

// The digits of [row] as plain text: the integer part without leading zeros
// ("0" when it is zero), "'" every three integer digits with [grouping], then
// "." and [fraction] fraction digits when that is 1 or more (at most 5).
std::string row_text(const DigitRow& row, bool grouping, int32_t fraction) {
  std::string out;
  int first = 0;
  while (first < kUnits && row[first] == 0) first++;
  for (int i = first; i <= kUnits; i++) {
    out.push_back(char('0' + row[i]));
    // Position p = i + 1 takes a "'" when p + 1 is a multiple of 3: groups
    // of three counted from the units digit.
    if (grouping && i != kUnits && (i + 2) % 3 == 0) out.push_back('\'');
  }
  if (fraction > kMoneyFractionDigits) fraction = kMoneyFractionDigits;
  if (fraction >= 1) {
    out.push_back('.');
    for (int i = 0; i < fraction; i++) out.push_back(char('0' + row[kMoneyIntegerDigits + i]));
  }
  return out;
}

}  // namespace

double money_to_float(const Cell* money) {
  if (money_zero_q(money)) return 0.0;
  std::string text = row_text(unpack(money), false, kMoneyFractionDigits);
  size_t remaining = 0;
  double d = string_to_float(text.data(), text.size(), &remaining);
  if (remaining != 0) raise_bad_make_arg(kTypeFloat, money);
  return money_negative_q(money) ? -d : d;
}

// ---------------------------------------------------------------- arithmetic

namespace {

// An arithmetic operand as money!: integers exactly, float! and percent! cut
// to 5 fraction digits.
Cell money_operand(const Cell* value) {
  switch (value->type()) {
    case kTypeMoney: return *value;
    case kTypeInteger: return money_from_integer(integer_get(value));
    case kTypeFloat:
    case kTypePercent: return money_from_float(float_get(value), false);
    default: raise_invalid_type(value->type());
  }
}

}  // namespace

Cell* money_do_math(Cell* left, Cell* right, int op) {
  if (op < kMathAdd || op > kMathRemainder) fatal_no_switch();
  bool left_money = left->is(kTypeMoney), right_money = right->is(kTypeMoney);
  if (op == kMathMultiply && left_money && right_money) raise_invalid_type(kTypeMoney);
  if ((op == kMathDivide || op == kMathRemainder) && !left_money && right_money)
    raise_invalid_type(left->type());
  Cell a = money_operand(left), b = money_operand(right);
  uint32_t ca = money_currency_of(&a), cb = money_currency_of(&b);
  if (ca != 0 && cb != 0 && ca != cb) raise_error(kErrScriptWrongDenom, left, right);
  Amount x = amount_of(&a), y = amount_of(&b);
  Amount r;
  switch (op) {
    case kMathAdd: r = amount_add(x, y); break;
    case kMathSubtract: r = amount_add(x, amount_negated(y)); break;
    case kMathMultiply: r = amount_multiply(x, y); break;
    case kMathDivide: r = amount_divide(x, y); break;
    default: r = amount_remainder(x, y); break;
  }
  Cell result = amount_cell(r, cb != 0 ? cb : ca);
  *left = op == kMathDivide && left_money && right_money ? float_cell(money_to_float(&result)) : result;
  return left;
}

// ---------------------------------------------------------------- compare

int money_compare_values(const Cell* a, const Cell* b) {
  int sa = money_sign_q(a), sb = money_sign_q(b);
  if (sa != sb) return sa < sb ? -1 : 1;
  if (sa == 0) return 0;
  int c = row_compare(unpack(a), unpack(b));
  return sa > 0 ? c : -c;
}

int money_compare_float(const Cell* money, double x) {
  if (money_float_tiny_q(x)) {
    int s = money_sign_q(money);
    return s != 0 ? s : x > 0 ? -1 : 1;
  }
  if (money_float_huge_q(x)) return x > 0 ? -1 : 1;
  bool cut = false;
  Cell amount = money_from_float_cut(x, &cut);
  int c = money_compare_values(money, &amount);
  // A float with more fraction digits than money holds lies strictly beyond
  // its cut amount, away from zero: it equals no amount.
  if (c == 0 && cut) return x > 0 ? -1 : 1;
  return c;
}

namespace {

// Sort order: no currency first, then currencies by name, then amounts.
int money_sort_compare(const Cell* a, const Cell* b) {
  uint32_t ca = money_currency_of(a), cb = money_currency_of(b);
  if (ca != cb) {
    if (ca == 0 || cb == 0) return ca == 0 ? -1 : 1;
    StackSave save;
    Cell* wa = stack_push_value(money_currency_at(ca));
    Cell* wb = stack_push_value(money_currency_at(cb));
    int c = 0;
    if (wa->is(kTypeNone) || wb->is(kTypeNone)) {
      c = ca < cb ? -1 : 1;  // an index past the list's end: by index
    } else {
      c = action_compare_values(wa, wb, kCmpLesser);
    }
    if (c != 0) return c;
  }
  return money_compare_values(a, b);
}

}  // namespace

int money_compare(Cell* value, const CompareArgs& args) {
  const Cell* other = args.value2;
  CompareOp op = args.op;
  if ((op == kCmpStrictEqual || op == kCmpSame || op == kCmpFindEqual) && !other->is(kTypeMoney)) return 1;
  switch (other->type()) {
    case kTypeMoney: {
      uint32_t ca = money_currency_of(value), cb = money_currency_of(other);
      bool both_differ = ca != 0 && cb != 0 && ca != cb;
      switch (op) {
        case kCmpLesser:
        case kCmpLesserOrEqual:
        case kCmpGreater:
        case kCmpGreaterOrEqual:
          if (both_differ) raise_error(kErrScriptWrongDenom, value, other);
          break;
        case kCmpSort:
        case kCmpCaseSort: return money_sort_compare(value, other);
        case kCmpFindEqual:
          if (cb != 0 && ca != cb) return 1;
          break;
        case kCmpStrictEqual:
        case kCmpSame:
          if (ca != cb) return 1;
          break;
        default:
          if (both_differ) return 1;
          break;
      }
      return money_compare_values(value, other);
    }
    case kTypeInteger: {
      Cell amount = money_from_integer(integer_get(other));
      return money_compare_values(value, &amount);
    }
    case kTypeFloat: return money_compare_float(value, float_get(other));
    default: return kNotComparable;
  }
}

// ---------------------------------------------------------------- text

int32_t money_form(const Cell* money, Cell* buffer, int32_t limit, bool all, bool grouping) {
  if (money_negative_q(money)) limit -= string_append_c_string(buffer, "-");
  if (uint32_t index = money_currency_of(money)) {
    Cell word = money_currency_at(index);
    if (!word.is(kTypeNone)) {
      FormArgs form;
      form.buffer = buffer;
      form.limit = limit;
      limit = word_form(&word, form);
    }
  }
  int32_t fraction = all ? kMoneyFractionDigits : money_digits_option();
  std::string text = "$" + row_text(unpack(money), grouping, fraction);
  return limit - string_append_c_string(buffer, text);
}

namespace {

// ---------------------------------------------------------------- make and to

// [10 50] is 10.0005: the fraction in 10^-5 units, with the amount's sign.
Cell* money_make_from_block(Cell* result, Cell* block) {
  int32_t length = block_ks_length_q(block);
  if (length < 1 || length > 3) raise_bad_make_arg(kTypeMoney, block);
  Cell v[3];
  int32_t head = block->head() < 0 ? 0 : block->head();
  for (int32_t i = 0; i < length; i++) v[i] = *block_ks_abs_at(block, head + i);
  int32_t i = 0;
  uint32_t currency = 0;
  if (v[0].is(kTypeWord)) {
    int32_t index = money_currency_index(&v[0]);
    if (index < 0 || length == 1) raise_bad_make_arg(kTypeMoney, &v[0]);
    currency = uint32_t(index);
    i = 1;
  }
  Cell amount;
  if (v[i].is(kTypeInteger))
    amount = money_from_integer(integer_get(&v[i]));
  else if (v[i].is(kTypeFloat))
    amount = money_from_float(float_get(&v[i]), true);
  else
    raise_bad_make_arg(kTypeMoney, &v[i]);
  if (++i < length) {
    if (v[i - 1].is(kTypeFloat)) raise_bad_make_arg(kTypeMoney, &v[i]);
    if (!v[i].is(kTypeInteger) || integer_get(&v[i]) < 0 || integer_get(&v[i]) > 99999)
      raise_bad_make_arg(kTypeMoney, &v[i]);
    if (i + 1 < length) raise_bad_make_arg(kTypeMoney, &v[i + 1]);
    DigitRow fraction{};
    for (int32_t n = integer_get(&v[i]), at = kMoneyDigitCount - 1; n != 0; n /= 10)
      fraction[at--] = uint8_t(n % 10);
    Amount whole = amount_of(&amount);
    Amount part{whole.negative, fraction};
    amount = amount_cell(amount_add(whole, part), 0);
  }
  money_set_currency(&amount, currency);
  *result = amount;
  return result;
}

Cell* money_to(Cell* result, const MakeArgs& args) {
  const Cell* spec = args.spec;
  Cell out;
  if (is_any_string(spec->type())) {
    if (!money_scan(spec, &out)) raise_bad_to_arg(spec);
  } else {
    switch (spec->type()) {
      case kTypeInteger: out = money_from_integer(integer_get(spec)); break;
      case kTypeFloat: out = money_from_float(float_get(spec), true); break;
      case kTypeMoney: out = *spec; break;
      default: raise_bad_to_arg(spec);
    }
  }
  *result = out;
  return result;
}

Cell* money_make(Cell* result, const MakeArgs& args) {
  if (args.spec->is(kTypeWord)) {
    int32_t index = money_currency_index(args.spec);
    if (index < 0) raise_bad_make_arg(kTypeMoney, args.spec);
    uint8_t zero[kMoneyDigitBytes] = {};
    *result = money_cell(false, uint32_t(index), zero);
    return result;
  }
  if (args.spec->is(kTypeBlock)) return money_make_from_block(result, args.spec);
  return money_to(result, args);
}

// ---------------------------------------------------------------- text handlers

int32_t money_form_action(Cell* value, const FormArgs& args) {
  return money_form(value, args.buffer, args.limit, false, true);
}

int32_t money_mold(Cell* value, const MoldArgs& args) {
  return money_form(value, args.buffer, args.limit, args.all, false);
}

// ---------------------------------------------------------------- path and pick

// The selector [element] of [money]: the word code or 1 gives the currency
// word (or none), the word amount or 2 the amount without currency. False for
// anything else.
bool money_select(const Cell* money, const Cell* element, Cell* out) {
  int which = 0;
  if (element->is(kTypeWord)) {
    int32_t symbol = word_symbol(element);
    which = runtime_symbol_q(symbol, kSymCode) ? 1 : runtime_symbol_q(symbol, kSymAmount) ? 2 : 0;
  } else if (element->is(kTypeInteger)) {
    int32_t n = integer_get(element);
    which = n == 1 || n == 2 ? n : 0;
  }
  if (which == 1) *out = money_currency_at(money_currency_of(money));
  if (which == 2) {
    *out = *money;
    money_set_currency(out, 0);
  }
  return which != 0;
}

Cell* money_eval_path(Cell* parent, const EvalPathArgs& args) {
  const Cell* where = args.path ? args.path : parent;
  if (args.value) raise_error(kErrScriptBadPathSet, where, args.element);
  Cell out;
  if (!money_select(parent, args.element, &out)) raise_error(kErrScriptInvalidPath, where, args.element);
  *parent = out;
  return parent;
}

Cell* money_pick(Cell* value, const PickArgs& args) {
  Cell out;
  if (!money_select(value, args.index, &out)) raise_error(kErrScriptOutOfRange, args.index);
  *value = out;
  return value;
}

// ---------------------------------------------------------------- unary handlers

Cell* money_absolute_action(Cell* value, const NoneArgs&) {
  money_clear_sign(value);
  return value;
}

Cell* money_negate(Cell* value, const NoneArgs&) {
  money_toggle_sign(value);
  return value;
}

bool money_even_q(Cell* value, const NoneArgs&) { return unpack(value)[kUnits] % 2 == 0; }
bool money_odd_q(Cell* value, const NoneArgs&) { return unpack(value)[kUnits] % 2 == 1; }

// The magnitude redrawn digit by digit from the most significant, never above
// where it started; sign and currency kept. A drawn digit equal to the
// current one is kept only when two further draws agree modulo 1000.
Cell* money_random(Cell* value, const RandomArgs& args) {
  if (args.seed) {
    random_seed(value->data1 ^ value->data2 ^ value->data3 ^ (money_sign_bit(value) ? 1u : 0u));
    *value = kUnsetCell;
    return value;
  }
  DigitRow row = unpack(value);
  int i = 0;
  while (i < kMoneyDigitCount && row[i] == 0) i++;
  bool below = false;
  for (; i < kMoneyDigitCount; i++) {
    if (below) {
      row[i] = uint8_t(uint32_t(random_next()) % 10);
      continue;
    }
    uint32_t current = row[i];
    for (;;) {
      uint32_t d = uint32_t(random_next()) % (current + 1);
      if (d < current) {
        row[i] = uint8_t(d);
        below = true;
        break;
      }
      if (uint32_t(random_next()) % 1000 == uint32_t(random_next()) % 1000) break;
    }
  }
  uint8_t bytes[kMoneyDigitBytes];
  pack(row, bytes);
  money_set_digits(value, bytes);
  return value;
}

// ---------------------------------------------------------------- round

// The scale of round/to as money!, or not-related for a type without one.
Cell round_scale(const Cell* scale) {
  switch (scale->type()) {
    case kTypeMoney: return *scale;
    case kTypeInteger: return money_from_integer(integer_get(scale));
    case kTypeFloat: return money_from_float(float_get(scale), true);
    default: {
      Cell where = where_word_cell();
      Cell datatype = datatype_cell(scale->type());
      raise_error(kErrScriptNotRelated, &where, &datatype);
    }
  }
}

// Rounds |value| to a multiple of |scale|. A tie is a remainder exactly half
// the scale; /even then goes to the even multiple. An exact multiple is left
// as it is.
Cell* money_round(Cell* value, const RoundArgs& args) {
  if (money_zero_q(value)) return value;
  Cell scale = args.to ? round_scale(args.to) : money_from_integer(1);
  DigitRow s = unpack(&scale);
  if (row_zero_q(s)) return value;
  bool positive = !money_negative_q(value);
  DigitRow v = unpack(value);
  uint8_t quotient[kMoneyDigitCount];
  DigitRow r = row_divide(v.data(), kMoneyDigitCount, s, quotient);
  if (row_zero_q(r)) return value;
  DigitRow u, twice;
  row_subtract(s, r, &u);
  bool tie = row_add(r, r, &twice) && row_compare(twice, s) == 0;
  bool quotient_even = quotient[kMoneyDigitCount - 1] % 2 == 0;
  bool half_up = row_compare(r, u) >= 0;  // up unless below half
  bool up;
  if (args.down)
    up = false;
  else if (args.floor)
    up = !positive;
  else if (args.ceiling)
    up = positive;
  else if (tie && args.even)
    up = !quotient_even;
  else if (tie && args.half_down)
    up = false;
  else if (tie && args.half_ceiling)
    up = positive;
  else
    up = half_up;
  DigitRow out;
  if (up) {
    if (!row_add(v, u, &out)) raise_type_limit(kTypeMoney);
  } else {
    row_subtract(v, r, &out);
  }
  *value = amount_cell({!positive, out}, money_currency_of(value));
  return value;
}

// The sign of a zero amount is ignored, and no header flag but the sign counts.
uint32_t money_hash(const Cell* value) {
  Cell m = *value;
  m.header = kTypeMoney | (money_zero_q(value) ? 0 : (value->header & kMoneyNegative));
  return hash_murmur3(&m, sizeof m);
}

constexpr TypeHooks kMoneyHooks{.hash = money_hash};

}  // namespace

void money_datatype_init() {
  register_datatype({kTypeMoney,
                     kTypeNil,
                     "money!",
                     kActionCount,
                     {
                         .make = money_make,
                         .random = money_random,
                         .to = money_to,
                         .form = money_form_action,
                         .mold = money_mold,
                         .eval_path = money_eval_path,
                         .compare = money_compare,
                         .absolute = money_absolute_action,
                         .add = math_handler<money_do_math, kMathAdd>,
                         .divide = math_handler<money_do_math, kMathDivide>,
                         .multiply = math_handler<money_do_math, kMathMultiply>,
                         .negate = money_negate,
                         .remainder = math_handler<money_do_math, kMathRemainder>,
                         .round = money_round,
                         .subtract = math_handler<money_do_math, kMathSubtract>,
                         .even_q = money_even_q,
                         .odd_q = money_odd_q,
                         .pick = money_pick,
                     },
                     &kMoneyHooks});
}

}  // namespace kiv
