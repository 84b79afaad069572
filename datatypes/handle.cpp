// handle!: making handles, their text, compare and collector hooks.
#include "datatypes/handle.h"

#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "runtime/collector.h"
#include "runtime/memory.h"
#include "runtime/murmur3.h"
#include "runtime/resources.h"
#include "runtime/stack.h"

namespace kiv {

namespace {

constexpr const char* kKindNames[] = {"", "fd", "monitor", "window", "font", "rich-text", "port-actor"};

bool registry_handle_q(const Cell* handle) { return handle_generation(handle) != kHandleNoEntry; }

// A live registry handle keeps its resource; a stale one names nothing.
void handle_mark(const Cell* value) {
  if (registry_handle_q(value) && handle_live_q(value)) gc_mark_resource(handle_value(value));
}

uint32_t handle_hash(const Cell* value) { return hash_int32(handle_value(value)); }

constexpr TypeHooks kHandleHooks{.mark = handle_mark, .hash = handle_hash};

}  // namespace

Cell handle_of_resource(uint32_t kind, uint32_t index) {
  return make_cell(kTypeHandle, kind, index, resource_at(index).generation);
}

bool handle_live_q(const Cell* handle) {
  return !registry_handle_q(handle) || resource_live_q(handle_value(handle), handle_generation(handle));
}

Cell* handle_init(Cell* cell, uint32_t value, uint32_t kind) {
  *cell = handle_cell(kind, value);
  return cell;
}

Cell* handle_box(uint32_t value, uint32_t kind) { return handle_init(stack_arguments(), value, kind); }

Cell* handle_make_at(const Cell* block, uint32_t value, uint32_t kind) {
  return handle_init(block_append_cell(block), value, kind);
}

Cell* handle_push(uint32_t value, uint32_t kind) { return handle_init(stack_push(), value, kind); }

Cell* handle_push_null() { return handle_push(0, kHandleNull); }

const char* handle_kind_name(uint32_t kind) {
  return kind < sizeof kKindNames / sizeof kKindNames[0] ? kKindNames[kind] : "";
}

int32_t handle_form(Cell* value, const FormArgs& args) {
  int32_t limit =
      args.limit -
      string_append_c_string(args.buffer, string_int_to_hex(int32_t(handle_value(value)), false).view());
  return limit - string_append_c_string(args.buffer, "h");
}

int32_t handle_mold(Cell* value, const MoldArgs& args) {
  if (!args.all) return args.limit - string_append_c_string(args.buffer, "handle!");
  int32_t limit = args.limit - string_append_c_string(args.buffer, "#[handle! ");
  FormArgs form;
  form.buffer = args.buffer;
  form.limit = limit;
  limit = handle_form(value, form);
  const char* name = handle_kind_name(handle_kind(value));
  if (*name) {
    limit -= string_append_c_string(args.buffer, " ");
    limit -= string_append_c_string(args.buffer, name);
  }
  return limit - string_append_c_string(args.buffer, "]");
}

int handle_compare(Cell* value, const CompareArgs& args) {
  const Cell* other = args.value2;
  if (!other->is(kTypeHandle)) return 1;
  int32_t a = int32_t(handle_value(value)), b = int32_t(handle_value(other));
  if (a != b) return a < b ? -1 : 1;
  uint32_t ga = handle_generation(value), gb = handle_generation(other);
  return ga == gb ? 0 : ga < gb ? -1 : 1;
}

// Nothing is inherited from integer!, the parent.
void handle_datatype_init() {
  ActionSlots row;
  row.form = handle_form;
  row.mold = handle_mold;
  row.compare = handle_compare;
  register_datatype({kTypeHandle, kTypeInteger, "handle!", kActionCount, row, &kHandleHooks});
}

}  // namespace kiv
