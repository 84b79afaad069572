// paren! and the path types: path!, lit-path!, set-path!, get-path!.
//
// All five are blocks in storage (the cell layout of datatypes/block.h, word 3
// always 0); only the type id tells them apart. They differ from block! in how
// they are made, formed and molded, and in the block actions they refuse:
// paren! refuses trim; the path types refuse random, sort and trim.
//
// A path forms and molds as its elements with "/" between them, no brackets
// and no line breaks; lit-path! molds with a leading "'", set-path! with a
// trailing ":", get-path! with a leading ":". A paren molds as "(" its cells
// ")", with block!'s spacing, line breaks and indentation.
#include <algorithm>

#include "datatypes/actions.h"
#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/float.h"
#include "datatypes/form.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "runtime/cycle.h"
#include "runtime/errors.h"
#include "runtime/stack.h"

namespace kiv {

namespace {

Cell* push_retyped(Cell* cell, TypeId type) {
  cell->set_header(type);
  return stack_push_cell(cell);
}

// MAY ALLOCATE. The elements from the head, formed or molded, "/" between
// them. With an active /part limit the walk stops after the element that
// brings the remaining limit below 1.
int32_t path_walk(Cell* value, const MoldArgs& args, bool molding) {
  int32_t limit = args.limit;
  if (cycle_elide(value, args.buffer, &limit, molding)) return limit;
  CycleGuard guard(value->node());
  StackSave save;
  Cell* item = stack_push();
  MoldArgs each = args;
  each.indent = 0;
  int32_t first = series_clamp_head(value, series_total_length(value));
  for (int32_t i = first; i < series_total_length(value); i++) {
    if (i != first) limit -= string_append_c_string(args.buffer, "/");
    *item = *block_ks_abs_at(value, i);
    each.limit = limit;
    limit = molding ? action_mold(item, each) : action_form(item, form_args_of(each));
    if (args.part && limit < 1) break;
  }
  return limit;
}

}  // namespace

// ---------------------------------------------------------------- producers

Cell* push_path(Cell* cell) { return push_retyped(cell, kTypePath); }
Cell* push_lit_path(Cell* cell) { return push_retyped(cell, kTypeLitPath); }
Cell* push_set_path(Cell* cell) { return push_retyped(cell, kTypeSetPath); }
Cell* push_get_path(Cell* cell) { return push_retyped(cell, kTypeGetPath); }
Cell* push_paren(Cell* cell) { return push_retyped(cell, kTypeParen); }

Cell* path_init(Cell* cell, int32_t n) {
  init_block(cell, n);
  cell->set_header(kTypePath);
  return cell;
}

// ---------------------------------------------------------------- make and to

Cell* path_make(Cell* proto, const MakeArgs& args) {
  TypeId type = make_target_type(proto);
  TypeId t = args.spec->type();
  if (is_any_block(t)) return block_to(proto, args);
  if (t == kTypeInteger || t == kTypeFloat || t == kTypePercent) {
    Cell* c = block_push_only(float_to_int(args.spec));
    c->set_header(type);
    return c;
  }
  Cell datatype = datatype_cell(type);
  raise_error(kErrScriptBadMakeArg, &datatype, args.spec);
}

Cell* path_to(Cell* proto, const MakeArgs& args) {
  TypeId type = make_target_type(proto);
  TypeId t = args.spec->type();
  if (t == kTypeObject || t == kTypeTypeset || t == kTypeMap) {
    Cell* c = block_push_only(1);
    c->set_header(type);
    Cell one = *args.spec;
    one.clear_new_line();
    block_append_value(c, &one);
    return c;
  }
  return block_to(proto, args);
}

// ---------------------------------------------------------------- form and mold

int32_t path_form(Cell* value, const FormArgs& args) {
  MoldArgs walk;
  walk.part = args.part;
  walk.buffer = args.buffer;
  walk.limit = args.limit;
  return path_walk(value, walk, false);
}

int32_t path_mold(Cell* value, const MoldArgs& args) { return path_walk(value, args, true); }

namespace {

// A prefix or suffix ("'" for lit-path!, ":" for set- and get-path!) around the path.
int32_t mold_affixed(Cell* value, const MoldArgs& args, const char* prefix, const char* suffix) {
  MoldArgs inner = args;
  if (prefix) inner.limit -= string_append_c_string(args.buffer, prefix);
  inner.limit = path_mold(value, inner);
  if (suffix) inner.limit -= string_append_c_string(args.buffer, suffix);
  return inner.limit;
}

}  // namespace

int32_t lit_path_mold(Cell* value, const MoldArgs& args) { return mold_affixed(value, args, "'", nullptr); }
int32_t set_path_mold(Cell* value, const MoldArgs& args) { return mold_affixed(value, args, nullptr, ":"); }
int32_t get_path_mold(Cell* value, const MoldArgs& args) { return mold_affixed(value, args, ":", nullptr); }

int32_t paren_mold(Cell* value, const MoldArgs& args) { return block_mold_between(value, args, "(", ")"); }

// ---------------------------------------------------------------- copy

Cell* path_copy(Cell* value, const CopyArgs& args) {
  CopyFn copy = actions_of(kTypeBlock).copy;
  if (!copy) raise_unsupported_action(value->type(), kActionCopy);
  return copy(value, args);
}

// ---------------------------------------------------------------- registration

void paren_datatype_init() {
  ActionSlots s = inherit_all_slots();
  s.mold = paren_mold;
  s.trim = nullptr;
  register_datatype({kTypeParen, kTypeBlock, "paren!", kActionCount, s});
}

void path_datatype_init() {
  ActionSlots s = inherit_all_slots();
  s.make = path_make;
  s.to = path_to;
  s.form = path_form;
  s.mold = path_mold;
  s.copy = path_copy;
  s.random = nullptr;
  s.sort = nullptr;
  s.trim = nullptr;
  register_datatype({kTypePath, kTypeBlock, "path!", kActionCount, s});
}

void lit_path_datatype_init() {
  ActionSlots s = inherit_all_slots();
  s.mold = lit_path_mold;
  register_datatype({kTypeLitPath, kTypePath, "lit-path!", kActionCount, s});
}

void set_path_datatype_init() {
  ActionSlots s = inherit_all_slots();
  s.mold = set_path_mold;
  register_datatype({kTypeSetPath, kTypePath, "set-path!", kActionCount, s});
}

void get_path_datatype_init() {
  ActionSlots s = inherit_all_slots();
  s.mold = get_path_mold;
  register_datatype({kTypeGetPath, kTypePath, "get-path!", kActionCount, s});
}

}  // namespace kiv
