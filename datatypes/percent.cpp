// percent!: a fraction shown as a percentage (50% holds 0.5). float!'s
// storage and handlers (datatypes/float.h); only the text is its own.
#include "datatypes/float.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"

namespace kiv {

namespace {

// Form and mold alike: the value times 100, then "%".
int32_t percent_form(Cell* value, int32_t limit, Cell* buffer) {
  return limit - string_append_c_string(buffer, float_form(float_get(value) * 100.0, kFormPercent).view());
}

}  // namespace

void percent_datatype_init() {
  ActionSlots row = inherit_all_slots();
  row.form = [](Cell* v, const FormArgs& a) { return percent_form(v, a.limit, a.buffer); };
  row.mold = [](Cell* v, const MoldArgs& a) { return percent_form(v, a.limit, a.buffer); };
  register_datatype({kTypePercent, kTypeFloat, "percent!", kActionCount, row});
}

}  // namespace kiv
