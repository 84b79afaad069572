// percent!: a fraction shown as a percentage (50% holds 0.5). float!'s
// storage and handlers (datatypes/float.h); only the text is its own.
#include "datatypes/float.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "runtime/float_text.h"

namespace kiv {

namespace {

// Form and mold alike: the value times 100, then "%".
int32_t percent_form(Cell* value, int32_t limit, Cell* buffer) {
  return limit - string_append_c_string(buffer, float_form(float_get(value) * 100.0, kFormPercent).view());
}

// mold/all: the shortest digits that read back to the value, the decimal
// point moved two places in the text (not by multiplying, which rounds), so
// that loading the text gives the very same value back.
int32_t percent_mold_all(Cell* value, int32_t limit, Cell* buffer) {
  DecimalDigits digits = float_to_decimal(float_get(value), 0, false);
  if (digits.point < kPointZero) digits.point += 2;
  int32_t n = string_append_c_string(buffer, decimal_to_text(digits, false).view());
  return limit - n - string_append_c_string(buffer, "%");
}

}  // namespace

void percent_datatype_init() {
  ActionSlots row = inherit_all_slots();
  row.form = [](Cell* v, const FormArgs& a) { return percent_form(v, a.limit, a.buffer); };
  row.mold = [](Cell* v, const MoldArgs& a) {
    return a.all ? percent_mold_all(v, a.limit, a.buffer) : percent_form(v, a.limit, a.buffer);
  };
  register_datatype({kTypePercent, kTypeFloat, "percent!", kActionCount, row});
}

}  // namespace kiv
