// The 62 action entry points, their argument normalisation and the typed workers.
#include "datatypes/actions.h"

#include "datatypes/datatype.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "runtime/stack.h"
#include "runtime/errors.h"
#include "runtime/fatal.h"
#include "runtime/memory.h"
#include "datatypes/runtime_words.h"

#include <algorithm>
#include <cstring>

namespace kiv {

namespace {

inline Cell* arg(int i) { return g_stack.arguments + i; }
// The argument cell of a refinement, or null when the refinement is absent.
inline Cell* ref_arg(const int32_t* r, int i) { return r[i] < 0 ? nullptr : arg(r[i]); }
inline bool ref_on(const int32_t* r, int i) { return r[i] >= 0; }

inline Cell integer_cell(int32_t n) { return make_cell(kTypeInteger, 0, uint32_t(n)); }
inline int32_t integer_of(const Cell* c) { return int32_t(c->data2); }

// The type an action dispatches on: the first argument's.
inline TypeId first_type() { return g_stack.arguments->type(); }

void set_result(const Cell* c) { stack_set_last(c); }

}  // namespace

[[noreturn]] void raise_unsupported_action(TypeId type, ActionId id) {
  Cell where = where_word_cell();
  Cell datatype = datatype_cell(type);
  Cell argument = name_word_cell(g_actions_table[id].first_arg);
  raise_error(kErrScriptExpectArg, &where, &datatype, &argument);
}

void raise_refine_arg(const char* refinement, const Cell* arg) {
  // The runtime keeps these refinements ready; any other name is made here.
  static constexpr struct {
    const char* name;
    RuntimeValue value;
  } kKnown[] = {{"part", kRefinementPart}, {"skip", kRefinementSkip}, {"with", kRefinementWith},
                {"compare", kRefinementCompare}};
  Cell word = make_cell(kTypeNone);
  for (const auto& k : kKnown)
    if (runtime_words_ready() && std::strcmp(k.name, refinement) == 0) word = runtime_value(k.value);
  if (word.is(kTypeNone)) {
    word = name_word_cell(refinement);
    if (!word.is(kTypeNone)) word.set_type(kTypeRefinement);
  }
  raise_error(kErrScriptInvalidRefineArg, &word, arg);
}

bool is_series_type(TypeId t) { return is_series(t) || t == kTypeMap; }

int32_t action_index_arg(const Cell* index) {
  switch (index->type()) {
    case kTypeInteger:
    case kTypeChar: return int32_t(index->data2);
    case kTypeLogic: return index->data1 == 1 ? 1 : 2;
    default: return 0;
  }
}

// ---------------------------------------------------------------- typed workers

namespace {
TypeId make_target(const Cell* proto) {
  return proto->is(kTypeDatatype) ? TypeId(proto->data1) : proto->type();
}
}  // namespace

Cell* action_make(Cell* proto, Cell* spec) {
  TypeId t = make_target(proto);
  return KIV_GET_ACTION(t, Make, make)(proto, spec, t);
}

Cell* action_to(Cell* proto, Cell* spec) {
  TypeId t = make_target(proto);
  return KIV_GET_ACTION(t, To, to)(proto, spec, t);
}

int32_t action_form(Cell* value, Cell* buffer, Cell* a, int32_t limit) {
  return KIV_GET_ACTION(value->type(), Form, form)(value, buffer, a, limit);
}

int32_t action_mold(Cell* value, Cell* buffer, bool only, bool all, bool flat, Cell* a, int32_t limit,
                    int32_t indent) {
  return KIV_GET_ACTION(value->type(), Mold, mold)(value, buffer, only, all, flat, a, limit, indent);
}

int action_compare_values(Cell* value, Cell* other, CompareOp op) {
  switch (value->type()) {
    case kTypeLogic:
      if (!other->is(kTypeLogic)) return kNotComparable;
      return int(value->data1) - int(other->data1);
    case kTypeNative:
    case kTypeAction:
    case kTypeOp:
    case kTypeFunction:
    case kTypeRoutine:
      // Same code or body: the same value.
      if (value->type() != other->type()) return kNotComparable;
      return value->data1 == other->data1 && value->data2 == other->data2 && value->data3 == other->data3
                 ? 0
                 : (value->data3 < other->data3 ? -1 : 1);
    default: {
      CompareFn h = actions_of(value->type()).compare;
      return h ? h(value, other, op) : kNotComparable;
    }
  }
}

bool action_compare(Cell* value, Cell* other, CompareOp op) {
  int r = KIV_GET_ACTION(value->type(), Compare, compare)(value, other, op);
  if (r == kNotComparable) {
    switch (op) {
      case kCmpEqual: case kCmpNotEqual: case kCmpStrictEqual: case kCmpSame:
      case kCmpWordEqual: case kCmpWordCanonEqual: case kCmpFindEqual:
        return op == kCmpNotEqual;
      default:
        raise_error(kErrScriptInvalidCompare, value, other);
    }
  }
  switch (op) {
    case kCmpEqual: case kCmpStrictEqual: case kCmpSame: case kCmpWordEqual:
    case kCmpWordCanonEqual: case kCmpFindEqual:
      return r == 0;
    case kCmpNotEqual: return r != 0;
    case kCmpLesser: return r < 0;
    case kCmpLesserOrEqual: return r < 1;
    case kCmpGreater: return r >= 1;
    case kCmpGreaterOrEqual: return r >= 0;
    default: fatal_no_switch();
  }
}

Cell* action_copy(Cell* value, Cell* result, Cell* part, bool deep, Cell* types) {
  return KIV_GET_ACTION(value->type(), Copy, copy)(value, result, part, deep, types);
}

Cell* action_find(Cell* series, Cell* value, const FindArgs& args) {
  return KIV_GET_ACTION(series->type(), Find, find)(series, value, args);
}

Cell* action_poke(Cell* series, int32_t index, Cell* value, Cell* boxed) {
  return KIV_GET_ACTION(series->type(), Poke, poke)(series, index, value, boxed);
}

Cell* action_eval_path(const EvalPathArgs& args) {
  EvalPathFn h = actions_of(args.parent->type()).eval_path;
  if (!h) {
    Cell datatype = datatype_cell(args.parent->type());
    if (args.path) raise_error(kErrScriptBadPathType, args.path, &datatype);
    raise_error(kErrScriptBadPathType2, args.element, &datatype);
  }
  return h(args);
}

// ---------------------------------------------------------------- argument normalisation

namespace {

// Turns the /part argument of append and insert into an integer count,
// moving [value]'s start back for a negative count.
void normalize_insert_part(Cell* value, Cell* part) {
  if (!is_series_type(value->type()) || value->node() == 0) raise_error(kErrScriptInvalidPart, part);
  // In 64 bits: heads are signed 32-bit values and may be hostile.
  int64_t count;
  if (part->is(kTypeInteger)) {
    count = integer_of(part);
  } else if (part->type() == value->type() && part->node() == value->node()) {
    count = int64_t(part->head()) - value->head();
  } else {
    raise_refine_arg("part", part);
  }
  if (count < 0) {
    int64_t start = std::max<int64_t>(int64_t(value->head()) + count, 0);
    count = std::max<int64_t>(value->head() - start, 0);
    value->set_head(int32_t(start));
  }
  *part = integer_cell(int32_t(std::min<int64_t>(count, INT32_MAX)));
}

// The /part argument of change, against the series being changed.
void normalize_change_part(Cell* series, Cell* part) {
  if (series->is(kTypePort) || series->is(kTypeImage)) return;
  if (part->is(kTypeInteger)) return;
  if (part->type() == series->type() && part->node() == series->node()) {
    int64_t count = int64_t(part->head()) - series->head();
    *part = integer_cell(int32_t(std::clamp<int64_t>(count, INT32_MIN, INT32_MAX)));
    return;
  }
  raise_refine_arg("part", part);
}

FindArgs find_args(const int32_t* r, bool with_tail_match) {
  FindArgs f{};
  f.part = ref_arg(r, 0);
  f.only = ref_on(r, 1);
  f.case_ = ref_on(r, 2);
  f.same = ref_on(r, 3);
  f.any = ref_on(r, 4);
  f.with = ref_arg(r, 5);
  f.skip = ref_arg(r, 6);
  f.last = ref_on(r, 7);
  f.reverse = ref_on(r, 8);
  if (with_tail_match) {
    f.tail = ref_on(r, 9);
    f.match = ref_on(r, 10);
  }
  return f;
}

// ---------------------------------------------------------------- entries

#define HANDLER(Ident, member) KIV_GET_ACTION(first_type(), Ident, member)

void entry_make(const int32_t*) { set_result(action_make(arg(0), arg(1))); }
void entry_to(const int32_t*) { set_result(action_to(arg(0), arg(1))); }

void entry_random(const int32_t* r) {
  set_result(HANDLER(Random, random)(arg(0), ref_on(r, 0), ref_on(r, 1), ref_on(r, 2)));
}

void entry_reflect(const int32_t*) { set_result(HANDLER(Reflect, reflect)(arg(0), arg(1)->data2)); }

void entry_form(const int32_t* r) {
  Cell* limit_arg = ref_arg(r, 0);
  int32_t limit = limit_arg ? integer_of(limit_arg) : kNoLimit;
  stack_keep_result();
  Cell* buffer = string_make_at(stack_push(), 16);
  if (limit > 0) {
    action_form(arg(0), buffer, limit_arg, limit);
    if (limit_arg) string_truncate(buffer, limit);
  }
  set_result(buffer);
}

void entry_mold(const int32_t* r) {
  Cell* limit_arg = ref_arg(r, 3);
  int32_t limit = limit_arg ? integer_of(limit_arg) : kNoLimit;
  stack_keep_result();
  Cell* buffer = string_make_at(stack_push(), 16);
  if (limit > 0) {
    action_mold(arg(0), buffer, ref_on(r, 0), ref_on(r, 1), ref_on(r, 2), limit_arg, limit, 0);
    if (limit_arg) string_truncate(buffer, limit);
  }
  set_result(buffer);
}

void entry_eval_path(const int32_t* r) {
  EvalPathArgs a{arg(0), arg(1), nullptr, nullptr, 0, ref_on(r, 0)};
  set_result(action_eval_path(a));
}

void entry_compare(const int32_t*) {
  bool truth = action_compare(arg(0), arg(1), CompareOp(integer_of(arg(2))));
  Cell result = make_cell(kTypeLogic, truth ? 1 : 0);
  set_result(&result);
}

template <class Fn, Fn ActionSlots::*Member, ActionId Id>
void unary_entry(const int32_t*) {
  Fn h = actions_of(first_type()).*Member;
  if (!h) raise_unsupported_action(first_type(), Id);
  set_result(h(arg(0)));
}

template <class Fn, Fn ActionSlots::*Member, ActionId Id>
void binary_entry(const int32_t*) {
  Fn h = actions_of(first_type()).*Member;
  if (!h) raise_unsupported_action(first_type(), Id);
  set_result(h(arg(0), arg(1)));
}

template <EvenQFn ActionSlots::*Member, ActionId Id>
void truth_entry(const int32_t*) {
  EvenQFn h = actions_of(first_type()).*Member;
  if (!h) raise_unsupported_action(first_type(), Id);
  Cell result = make_cell(kTypeLogic, h(arg(0)) ? 1 : 0);
  set_result(&result);
}

void entry_round(const int32_t* r) {
  set_result(HANDLER(Round, round)(arg(0), ref_arg(r, 0), ref_on(r, 1), ref_on(r, 2), ref_on(r, 3),
                                   ref_on(r, 4), ref_on(r, 5), ref_on(r, 6)));
}

template <bool Append>
void insert_entry(const int32_t* r) {
  Cell* part = ref_arg(r, 0);
  if (part) normalize_insert_part(arg(1), part);
  Cell* dup = ref_arg(r, 2);
  if (dup && !dup->is(kTypeInteger)) raise_error(kErrScriptInvalidArg, dup);
  AppendFn h = Append ? HANDLER(Append, append) : HANDLER(Insert, insert);
  set_result(h(arg(0), arg(1), part, ref_on(r, 1), dup, Append));
}

void entry_change(const int32_t* r) {
  Cell* part = ref_arg(r, 0);
  if (part) normalize_change_part(arg(0), part);
  set_result(HANDLER(Change, change)(arg(0), arg(1), part, ref_on(r, 1), ref_arg(r, 2)));
}

void entry_copy(const int32_t* r) {
  Cell* types = ref_arg(r, 2);
  if (types && !types->is(kTypeDatatype) && !types->is(kTypeTypeset)) {
    Cell where = where_word_cell();
    Cell datatype = datatype_cell(types->type());
    Cell argument = name_word_cell("kind");
    raise_error(kErrScriptExpectArg, &where, &datatype, &argument);
  }
  Cell* result = stack_push_value(make_cell(kTypeNone));
  set_result(action_copy(arg(0), result, ref_arg(r, 0), ref_on(r, 1), types));
}

void entry_find(const int32_t* r) { set_result(action_find(arg(0), arg(1), find_args(r, true))); }

void entry_select(const int32_t* r) {
  set_result(HANDLER(Select, select)(arg(0), arg(1), find_args(r, false)));
}

void entry_length_q(const int32_t*) {
  int32_t n = HANDLER(LengthQ, length_q)(arg(0));
  Cell result = n < 0 ? make_cell(kTypeNone) : integer_cell(n);
  set_result(&result);
}

void entry_move(const int32_t* r) { set_result(HANDLER(Move, move)(arg(0), arg(1), ref_arg(r, 0))); }

void entry_pick(const int32_t*) {
  set_result(HANDLER(Pick, pick)(arg(0), action_index_arg(arg(1)), arg(1)));
}

void entry_poke(const int32_t*) {
  set_result(HANDLER(Poke, poke)(arg(0), action_index_arg(arg(1)), arg(2), arg(1)));
}

void entry_put(const int32_t* r) { set_result(HANDLER(Put, put)(arg(0), arg(1), arg(2), ref_on(r, 0))); }

void entry_remove(const int32_t* r) {
  set_result(HANDLER(Remove, remove)(arg(0), ref_arg(r, 0), ref_arg(r, 1)));
}

void entry_reverse(const int32_t* r) {
  set_result(HANDLER(Reverse, reverse)(arg(0), ref_arg(r, 0), ref_arg(r, 1)));
}

void entry_sort(const int32_t* r) {
  SortArgs s{ref_on(r, 0), ref_arg(r, 1), ref_arg(r, 2), ref_arg(r, 3), ref_on(r, 4), ref_on(r, 5), ref_on(r, 6)};
  set_result(HANDLER(Sort, sort)(arg(0), s));
}

void entry_take(const int32_t* r) {
  set_result(HANDLER(Take, take)(arg(0), ref_arg(r, 0), ref_on(r, 1), ref_on(r, 2)));
}

void entry_trim(const int32_t* r) {
  set_result(HANDLER(Trim, trim)(arg(0), ref_on(r, 0), ref_on(r, 1), ref_on(r, 2), ref_on(r, 3), ref_on(r, 4),
                                 ref_arg(r, 5)));
}

void entry_modify(const int32_t* r) {
  set_result(HANDLER(Modify, modify)(arg(0), arg(1), arg(2), ref_on(r, 0)));
}

void entry_open(const int32_t* r) {
  set_result(HANDLER(Open, open)(arg(0), ref_on(r, 0), ref_on(r, 1), ref_on(r, 2), ref_on(r, 3), ref_arg(r, 4)));
}

void entry_read(const int32_t* r) {
  set_result(HANDLER(Read, read)(arg(0), ref_arg(r, 0), ref_arg(r, 1), ref_on(r, 2), ref_on(r, 3), ref_on(r, 4),
                                 ref_arg(r, 5)));
}

void entry_write(const int32_t* r) {
  set_result(HANDLER(Write, write)(arg(0), arg(1), ref_on(r, 0), ref_on(r, 1), ref_on(r, 2), ref_on(r, 3),
                                   ref_arg(r, 4), ref_arg(r, 5), ref_arg(r, 6), ref_arg(r, 7)));
}

#undef HANDLER

void entry_empty(const int32_t*) { raise_error(kErrInternalNotDone); }

#define UNARY(Ident, member) \
  void entry_##member(const int32_t* r) { unary_entry<Ident##Fn, &ActionSlots::member, kAction##Ident>(r); }
#define BINARY(Ident, member) \
  void entry_##member(const int32_t* r) { binary_entry<Ident##Fn, &ActionSlots::member, kAction##Ident>(r); }
#define TRUTH(Ident, member) \
  void entry_##member(const int32_t* r) { truth_entry<&ActionSlots::member, kAction##Ident>(r); }
UNARY(Absolute, absolute)
BINARY(Add, add)
BINARY(Divide, divide)
BINARY(Multiply, multiply)
UNARY(Negate, negate)
BINARY(Power, power)
BINARY(Remainder, remainder)
BINARY(Subtract, subtract)
TRUTH(EvenQ, even_q)
TRUTH(OddQ, odd_q)
BINARY(AndT, and_t)
UNARY(Complement, complement)
BINARY(OrT, or_t)
BINARY(XorT, xor_t)
BINARY(At, at)
UNARY(Back, back)
UNARY(Clear, clear)
UNARY(Head, head)
UNARY(HeadQ, head_q)
UNARY(IndexQ, index_q)
UNARY(Next, next)
BINARY(Skip, skip)
BINARY(Swap, swap)
UNARY(Tail, tail)
UNARY(TailQ, tail_q)
UNARY(Create, create)
UNARY(Close, close)
UNARY(Delete, delete_)
UNARY(OpenQ, open_q)
UNARY(Query, query)
BINARY(Rename, rename)
UNARY(Update, update)
#undef UNARY
#undef BINARY
#undef TRUTH

void entry_append(const int32_t* r) { insert_entry<true>(r); }
void entry_insert(const int32_t* r) { insert_entry<false>(r); }

}  // namespace

const ActionInfo g_actions_table[kActionCount + 1] = {
    {ActionId(0), "", 0, "", nullptr},
#define DEF(id, ident, member, word, refinements, arg) {kAction##ident, word, refinements, arg, &entry_##member},
#include "datatypes/actions.def"
#undef DEF
};

}  // namespace kiv
