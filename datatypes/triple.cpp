// triple!: form, mold and registration of the three-integer record.
#include "datatypes/triple.h"

#include "datatypes/integer.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"

namespace kiv {

int32_t triple_form(Cell* value, const FormArgs& args) {
  int32_t n = string_append_c_string(args.buffer, "make triple! [");
  n += string_append_c_string(args.buffer, integer_to_text(int32_t(value->data1)));
  n += string_append_c_string(args.buffer, " ");
  n += string_append_c_string(args.buffer, integer_to_text(int32_t(value->data2)));
  n += string_append_c_string(args.buffer, " ");
  n += string_append_c_string(args.buffer, integer_to_text(int32_t(value->data3)));
  n += string_append_c_string(args.buffer, "]");
  return args.limit - n;
}

int32_t triple_mold(Cell* value, const MoldArgs& args) { return triple_form(value, form_args_of(args)); }

void triple_datatype_init() {
  register_datatype(
      {kTypeTriple, kTypeNil, "triple!", kActionCount, {.form = triple_form, .mold = triple_mold}});
}

}  // namespace kiv
