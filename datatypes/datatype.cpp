// datatype!: form, mold and compare; no make, to or path access.
#include "datatypes/datatype.h"

#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "runtime/memory.h"
#include "runtime/murmur3.h"
#include "runtime/stack.h"

namespace kiv {

Cell* datatype_make_at(const Cell* block, TypeId t) {
  Cell* c = block_append_cell(block);
  *c = datatype_cell(t);
  return c;
}

Cell* datatype_push(TypeId t) { return stack_push_value(datatype_cell(t)); }

namespace {

int32_t datatype_form(Cell* value, const FormArgs& args) {
  const TypeNameEntry& e = g_type_names[value->data1];
  return args.limit - string_append_c_string(args.buffer, std::string_view(e.name, e.length));
}

int32_t datatype_mold(Cell* value, const MoldArgs& args) {
  int32_t limit = args.limit;
  const char* name = g_type_names[value->data1].name;
  if (args.all) limit -= string_append_c_string(args.buffer, "#(");
  limit -= string_append_c_string(args.buffer, name);
  if (args.all) limit -= string_append_c_string(args.buffer, ")");
  return limit;
}

int datatype_compare(Cell* value, const CompareArgs& args) {
  switch (args.op) {
    case kCmpEqual:
    case kCmpNotEqual:
    case kCmpStrictEqual:
    case kCmpSame:
    case kCmpFindEqual: return args.value2->is(kTypeDatatype) && args.value2->data1 == value->data1 ? 0 : 1;
    default: return kNotComparable;
  }
}

}  // namespace

namespace {

constexpr TypeHooks kDatatypeHooks{.hash = [](const Cell* v) { return hash_int32(datatype_type(v)); }};

}  // namespace

void datatype_datatype_init() {
  register_datatype({kTypeDatatype,
                     kTypeNil,
                     "datatype!",
                     kActionCount,
                     {.form = datatype_form, .mold = datatype_mold, .compare = datatype_compare},
                     &kDatatypeHooks});
}

}  // namespace kiv
