// typeset!: building typesets from datatypes, typesets and words, the set
// operations, membership (find), compare, form and mold, and the conversion to
// a block of type words (the payload is laid out in datatypes/typeset.h).
//
// The map's words are combined word by word: since type t is one bit of byte
// t / 8 and the bytes are the words' bytes in memory order, and, or, xor and
// not on whole words act on each type's bit alone. Typesets hold no series, so
// nothing here keeps Cell* across an allocation except stable cells (the data
// stack) and locals.
#include "datatypes/typeset.h"

#include <array>

#include "datatypes/actions.h"
#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/fatal.h"
#include "runtime/memory.h"
#include "runtime/stack.h"

namespace kiv {

namespace {

using Map = std::array<uint32_t, 3>;

Map map_of(const Cell* set) { return {set->data1, set->data2, set->data3}; }
Cell typeset_of_map(const Map& m) { return typeset_words_cell(m[0], m[1], m[2]); }

// True when the datatype! [d] stands for a type id that has a bit of its own.
bool names_type_q(const Cell* d) {
  TypeId t = datatype_type(d);
  return t != kTypeNil && t <= kMaxTypeId;
}

// Joins the typeset! [other] into [set].
void join(Cell* set, const Cell* other) {
  set->data1 |= other->data1;
  set->data2 |= other->data2;
  set->data3 |= other->data3;
}

// The value of the word! [word]; script no-value when it has none.
Cell word_value(const Cell* word) {
  StackSave save;
  return *word_get(word);
}

// The word naming type [t]: the registry's name word once loaded.
Cell type_word(TypeId t) {
  const Cell& w = g_type_names[t].word;
  return w.is(kTypeWord) ? w : load_word(type_name(t));
}

// The cells of the block [spec] from its head, each passed (as a copy) to [each].
template <class Fn>
void for_each_cell(const Cell* spec, Fn each) {
  for (int32_t i = series_clamp_head(spec, block_total_length(spec)); i < block_total_length(spec); i++) {
    Cell item = *block_ks_abs_at(spec, i);
    each(&item);
  }
}

}  // namespace

// ---------------------------------------------------------------- building

Cell* typeset_make_at(const Cell* block, uint32_t w1, uint32_t w2, uint32_t w3) {
  Cell* c = block_append_cell(block);
  *c = typeset_words_cell(w1, w2, w3);
  return c;
}

Cell* typeset_all_but_unset(const Cell* block) {
  Cell* c = block_append_cell(block);
  *c = kTypesetAllButUnsetCell;
  return c;
}

void typeset_add(Cell* set, const Cell* value) {
  Cell given = *value;
  Cell v = given.is(kTypeWord) ? word_value(&given) : given;
  if (v.is(kTypeTypeset)) {
    join(set, &v);
  } else if (v.is(kTypeDatatype) && names_type_q(&v)) {
    typeset_add(set, datatype_type(&v));
  } else {
    raise_error(kErrScriptInvalidArg, &given);
  }
}

Cell* typeset_from_block(const Cell* block, const Cell* spec) {
  Cell set = typeset_cell();
  for_each_cell(spec, [&](const Cell* item) {
    Cell v = item->is(kTypeWord) ? word_value(item) : *item;
    if (v.is(kTypeDatatype) && names_type_q(&v)) {
      typeset_add(&set, datatype_type(&v));
    } else if (v.is(kTypeTypeset)) {
      join(&set, &v);
    } else if (v.is(kTypeWord)) {
      typeset_add(&set, kTypeObject);
    } else if (!v.is(kTypeBlock)) {
      v.clear_new_line();
      raise_error(kErrScriptInvalidTypeSpec, &v);
    }
  });
  Cell* c = block_append_cell(block);
  *c = set;
  return c;
}

Cell* typeset_to_block(const Cell* set, Cell* out) {
  Cell types = *set;
  init_block(out, 4);
  for (int t = 1; t <= g_max_type_id; t++) {
    if (!typeset_has_q(&types, TypeId(t))) continue;
    Cell word = type_word(TypeId(t));
    block_append_value(out, &word);
  }
  return out;
}

int typeset_count(const Cell* set) {
  int n = 0;
  for (int t = 1; t <= g_max_type_id; t++) n += typeset_has_q(set, TypeId(t));
  return n;
}

// ---------------------------------------------------------------- set operations

Cell* typeset_set_op(Cell* a, const Cell* b, int32_t op) {
  if (set_op_unique_q(op)) return a;
  Cell other = typeset_cell();
  if (b->is(kTypeTypeset)) {
    other = *b;
  } else if (b->is(kTypeDatatype) && names_type_q(b)) {
    typeset_add(&other, datatype_type(b));
  } else {
    raise_error(kErrScriptInvalidArg, b);
  }
  Map x = map_of(a), y = map_of(&other), r{};
  for (int i = 0; i < 3; i++) r[i] = set_op_combine(op, x[i], y[i]);
  *a = typeset_of_map(r);
  return a;
}

namespace {

// ---------------------------------------------------------------- handlers

// make and to: a typeset! is taken as it is; a block! of datatypes, typesets
// and words naming them is joined into a new typeset. Anything else raises
// script bad-to-arg.
Cell* typeset_make(Cell* proto, const MakeArgs& args) {
  const Cell* spec = args.spec;
  if (spec->is(kTypeTypeset)) {
    *proto = *spec;
    proto->clear_new_line();
    return proto;
  }
  if (!spec->is(kTypeBlock)) {
    Cell datatype = datatype_cell(kTypeTypeset);
    raise_error(kErrScriptBadToArg, &datatype, spec);
  }
  Cell set = typeset_cell();
  for_each_cell(spec, [&](const Cell* item) { typeset_add(&set, item); });
  *proto = set;
  return proto;
}

// "make typeset! [integer! float!]"; /only gives the names alone. A /part
// limit that has run out stops before the next name. The limit stays in step
// with the characters written.
int32_t typeset_mold(Cell* value, const MoldArgs& args) {
  Cell set = *value;
  Cell* buffer = args.buffer;
  int32_t limit = args.limit;
  if (!args.only) limit -= string_append_c_string(buffer, "make typeset! [");
  bool wrote = false;
  for (int t = 1; t <= g_max_type_id; t++) {
    if (!typeset_has_q(&set, TypeId(t))) continue;
    if (args.part && limit < 0) return limit;
    limit -= string_append_c_string(buffer, type_name(TypeId(t)));
    limit -= string_append_c_string(buffer, " ");
    wrote = true;
  }
  if (wrote) {
    string_buffer_truncate(buffer->node(), uint32_t(string_total_length(buffer) - 1));
    limit += 1;
  }
  if (!args.only) limit -= string_append_c_string(buffer, "]");
  return limit;
}

// Equal when all 96 bits are; sorting orders by the number of types.
// Typesets have no order otherwise.
int typeset_compare(Cell* value, const CompareArgs& args) {
  const Cell* other = args.value2;
  if (!other->is(kTypeTypeset)) return kNotComparable;
  switch (args.op) {
    case kCmpEqual:
    case kCmpNotEqual:
    case kCmpStrictEqual:
    case kCmpSame:
    case kCmpFindEqual: return map_of(value) == map_of(other) ? 0 : 1;
    case kCmpSort:
    case kCmpCaseSort: {
      int a = typeset_count(value), b = typeset_count(other);
      return a < b ? -1 : a > b ? 1 : 0;
    }
    default: return kNotComparable;
  }
}

Cell* typeset_and_t(Cell* set, const BinaryArgs& args) { return typeset_set_op(set, args.value2, kMathAnd); }
Cell* typeset_or_t(Cell* set, const BinaryArgs& args) { return typeset_set_op(set, args.value2, kMathOr); }
Cell* typeset_xor_t(Cell* set, const BinaryArgs& args) { return typeset_set_op(set, args.value2, kMathXor); }

// All 96 bits inverted, those that name no type included.
Cell* typeset_complement(Cell* set, const NoneArgs&) {
  Map m = map_of(set);
  for (uint32_t& w : m) w = ~w;
  *set = typeset_of_map(m);
  return set;
}

// Membership: true when the datatype! value's type is in the set; any other
// value raises script invalid-arg.
Cell* typeset_find(Cell* set, const FindArgs& args) {
  if (!args.value->is(kTypeDatatype)) raise_error(kErrScriptInvalidArg, args.value);
  *set = logic_cell(typeset_has_q(set, datatype_type(args.value)));
  return set;
}

}  // namespace

namespace {

// The set operations through the type slots.
constexpr TypeSlots kTypesetTypeSlots{
    .set_op = [](Cell* a, Cell* b, const SetOpArgs& args) { return typeset_set_op(a, b, args.op); }};

}  // namespace

void typeset_datatype_init() {
  register_datatype({kTypeTypeset,
                     kTypeNil,
                     "typeset!",
                     kActionCount,
                     {.make = typeset_make,
                      .to = typeset_make,
                      .form = form_as_mold<typeset_mold>,
                      .mold = typeset_mold,
                      .compare = typeset_compare,
                      .and_t = typeset_and_t,
                      .complement = typeset_complement,
                      .or_t = typeset_or_t,
                      .xor_t = typeset_xor_t,
                      .find = typeset_find},
                     nullptr,
                     &kTypesetTypeSlots});
}

}  // namespace kiv
