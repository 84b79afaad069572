// The 62 action entry points, their argument reading and normalisation, and
// the typed workers.
//
// Reading: each argument struct has a reader generated from its line in
// actions.def, which takes the arguments in spec order from the stack and the
// refinements from the entry's refinement slots. Normalising: the /part,
// /skip and sort refinements are turned into PartLimit, RecordSize and
// SortPlan here, once, with the errors every handler would raise; the
// handlers receive them ready.
#include "datatypes/actions.h"

#include <algorithm>
#include <cstring>

#include "datatypes/char.h"
#include "datatypes/datatype.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/native.h"
#include "datatypes/runtime_words.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/fatal.h"
#include "runtime/memory.h"
#include "runtime/stack.h"

namespace kiv {

// ---------------------------------------------------------------- errors

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
  Cell word = kNoneCell;
  for (const auto& k : kKnown)
    if (runtime_words_ready() && std::strcmp(k.name, refinement) == 0) word = runtime_value(k.value);
  if (word.is(kTypeNone)) {
    word = name_word_cell(refinement);
    if (!word.is(kTypeNone)) word.set_type(kTypeRefinement);
  }
  raise_error(kErrScriptInvalidRefineArg, &word, arg);
}

// ---------------------------------------------------------------- shared refinements

bool is_series_type(TypeId t) { return is_series(t) || t == kTypeMap; }

PartLimit part_limit_of(const Cell* reference, Cell* arg) {
  PartLimit part;
  part.arg = arg;
  if (!arg) return part;
  if (arg->is(kTypeInteger)) {
    part.count = integer_get(arg);
  } else if (arg->type() == reference->type() && arg->node() == reference->node()) {
    // In 64 bits: heads are signed 32-bit values and may be hostile.
    part.count = int64_t(arg->head()) - reference->head();
    part.position = true;
  } else {
    raise_refine_arg("part", arg);
  }
  return part;
}

RecordSize record_size_of(Cell* arg) {
  RecordSize skip;
  skip.arg = arg;
  if (!arg) return skip;
  if (!arg->is(kTypeInteger)) raise_refine_arg("skip", arg);
  skip.size = integer_get(arg);
  return skip;
}

int32_t action_index_arg(const Cell* index) {
  switch (index->type()) {
    case kTypeInteger: return integer_get(index);
    case kTypeChar: return int32_t(char_get(index));
    case kTypeLogic: return logic_get(index) == 1 ? 1 : 2;
    default: return 0;
  }
}

// ---------------------------------------------------------------- typed workers

TypeId make_target_type(const Cell* proto) {
  return proto->is(kTypeDatatype) ? datatype_type(proto) : proto->type();
}

Cell* action_make(Cell* proto, Cell* spec) {
  MakeArgs args;
  args.spec = spec;
  return action_handler<&ActionSlots::make>(make_target_type(proto), kActionMake)(proto, args);
}

Cell* action_to(Cell* proto, Cell* spec) {
  MakeArgs args;
  args.spec = spec;
  return action_handler<&ActionSlots::to>(make_target_type(proto), kActionTo)(proto, args);
}

int32_t action_form(Cell* value, const FormArgs& args) {
  return action_handler<&ActionSlots::form>(value->type(), kActionForm)(value, args);
}

int32_t action_mold(Cell* value, const MoldArgs& args) {
  return action_handler<&ActionSlots::mold>(value->type(), kActionMold)(value, args);
}

int action_compare_values(Cell* value, Cell* other, CompareOp op) {
  if (value->is(kTypeLogic)) {
    if (!other->is(kTypeLogic)) return kNotComparable;
    return int(logic_get(value)) - int(logic_get(other));
  }
  if (is_any_function(value->type())) {
    // Same code or body: the same value.
    if (value->type() != other->type()) return kNotComparable;
    return callable_identity_order(value, other);
  }
  CompareFn h = actions_of(value->type()).compare;
  if (!h) return kNotComparable;
  CompareArgs args;
  args.value2 = other;
  args.op = op;
  return h(value, args);
}

bool action_compare(Cell* value, Cell* other, CompareOp op) {
  CompareArgs args;
  args.value2 = other;
  args.op = op;
  int r = action_handler<&ActionSlots::compare>(value->type(), kActionCompare)(value, args);
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

Cell* action_copy(Cell* value, const CopyArgs& args) {
  return action_handler<&ActionSlots::copy>(value->type(), kActionCopy)(value, args);
}

Cell* action_find(Cell* series, const FindArgs& args) {
  return action_handler<&ActionSlots::find>(series->type(), kActionFind)(series, args);
}

Cell* action_poke(Cell* series, const PokeArgs& args) {
  return action_handler<&ActionSlots::poke>(series->type(), kActionPoke)(series, args);
}

Cell* action_eval_path(Cell* parent, const EvalPathArgs& args) {
  EvalPathFn h = actions_of(parent->type()).eval_path;
  if (!h) {
    Cell datatype = datatype_cell(parent->type());
    if (args.path) raise_error(kErrScriptBadPathType, args.path, &datatype);
    raise_error(kErrScriptBadPathType2, args.element, &datatype);
  }
  return h(parent, args);
}

namespace {

// ---------------------------------------------------------------- reading

inline Cell* arg(uint32_t i) { return stack_arg(i); }

template <class T>
T refinement_value(int32_t slot);
template <>
Cell* refinement_value<Cell*>(int32_t slot) {
  return slot < 0 ? nullptr : arg(uint32_t(slot));
}
template <>
PartLimit refinement_value<PartLimit>(int32_t slot) {
  PartLimit p;
  p.arg = refinement_value<Cell*>(slot);
  return p;
}
template <>
RecordSize refinement_value<RecordSize>(int32_t slot) {
  RecordSize s;
  s.arg = refinement_value<Cell*>(slot);
  return s;
}

// One reader per argument struct: the arguments after the first in spec order,
// then a refinement slot per refinement.
#define ARG(name) a.name = arg(next_arg++);
#define REF(member, word) a.member = r[next_ref++] >= 0;
#define REF_ARG(member, word, argument, Type) a.member = refinement_value<Type>(r[next_ref++]);
#define EXTRA(Type, name)
#define ARGS(Name, params)                                  \
  [[maybe_unused]] void read_args(Name##Args& a, const int32_t* r) { \
    [[maybe_unused]] uint32_t next_arg = 1;                  \
    [[maybe_unused]] int next_ref = 0;                       \
    (void)a;                                                \
    (void)r;                                                \
    params                                                  \
  }
#define ACTION(id, ident, member, word, first, Result, ArgsName)
#include "datatypes/actions.def"
#undef ARG
#undef REF
#undef REF_ARG
#undef EXTRA
#undef ARGS
#undef ACTION

// ---------------------------------------------------------------- normalising

// True when [value] is a series with a buffer: the reference a /part is read against.
bool part_reference_q(const Cell* value) { return is_series_type(value->type()) && value->node() != 0; }

// The head of [series] clamped into 0..its total length.
int32_t clamped_head(const Cell* series) {
  return std::clamp<int32_t>(series->head(), 0, series_total_length(series));
}

void read_part(const Cell* reference, PartLimit& part) {
  if (part && part_reference_q(reference)) part = part_limit_of(reference, part.arg);
}

// append and insert read /part against the value inserted, and a negative
// count moves the value's start back (not before its first unit), counting
// forward from there.
void prepare_insert(Cell*, InsertArgs& a) {
  if (a.part) {
    Cell* value = a.value;
    if (!part_reference_q(value)) raise_error(kErrScriptInvalidPart, a.part.arg);
    a.part = part_limit_of(value, a.part.arg);
    int64_t count = a.part.count;
    if (count < 0) {
      int64_t start = std::max<int64_t>(int64_t(value->head()) + count, 0);
      count = std::max<int64_t>(value->head() - start, 0);
      value->set_head(int32_t(start));
    }
    a.part.count = std::min<int64_t>(count, INT32_MAX);
  }
  if (a.dup && !a.dup->is(kTypeInteger)) raise_error(kErrScriptInvalidArg, a.dup);
}

// change reads /part against the series changed; a port! or image! takes its
// argument as given.
void prepare_change(Cell* first, ChangeArgs& a) {
  if (!a.part || first->is(kTypePort) || first->is(kTypeImage)) return;
  read_part(first, a.part);
  a.part.count = std::clamp<int64_t>(a.part.count, INT32_MIN, INT32_MAX);
}

// copy reads /part against the value copied; a pair! range is copy's own form,
// read by the handler.
void prepare_copy(Cell* first, CopyArgs& a) {
  if (a.part && !a.part.arg->is(kTypePair)) read_part(first, a.part);
  if (a.types && !a.types->is(kTypeDatatype) && !a.types->is(kTypeTypeset)) {
    Cell where = where_word_cell();
    Cell datatype = datatype_cell(a.types->type());
    Cell argument = name_word_cell("kind");
    raise_error(kErrScriptExpectArg, &where, &datatype, &argument);
  }
}

// find and select: /part is counted in the direction of the search from the
// head clamped to the series (a position before the head counts for
// /reverse); /skip must be 1 or more.
template <class Args>
void prepare_search(Cell* first, Args& a) {
  read_part(first, a.part);
  if (a.part.position) {
    int64_t at = a.part.arg->head(), head = clamped_head(first);
    a.part.count = a.reverse ? head - at : at - head;
  }
  a.skip = record_size_of(a.skip.arg);
  if (a.skip && a.skip.size < 1) raise_error(kErrScriptOutOfRange, a.skip.arg);
}

void prepare_remove(Cell* first, RemoveArgs& a) { read_part(first, a.part); }

void prepare_reverse(Cell* first, ReverseArgs& a) {
  read_part(first, a.part);
  a.skip = record_size_of(a.skip.arg);
}

void prepare_move(Cell* first, MoveArgs& a) { read_part(first, a.part); }

// take/last with a position takes from that position to the tail.
void prepare_take(Cell* first, TakeArgs& a) {
  read_part(first, a.part);
  if (a.last && a.part.position) {
    int32_t total = series_total_length(first);
    a.part.count = total - std::clamp<int32_t>(a.part.arg->head(), 0, total);
  }
}

// The plan of a sort: the range from the head (/part, before the head for a
// negative count), the records (/skip), the compared unit or function
// (/compare), checked before anything changes.
void prepare_sort(Cell* first, SortArgs& a) {
  a.skip = record_size_of(a.skip.arg);
  if (!part_reference_q(first)) return;
  read_part(first, a.part);
  int32_t total = series_total_length(first);
  int32_t head = clamped_head(first);
  int64_t start = head, count = total - head;
  if (a.part) {
    if (a.part.count < 0) {
      start = std::max<int64_t>(head + a.part.count, 0);
      count = head - start;
    } else {
      count = std::min<int64_t>(a.part.count, total - head);
    }
  }
  int64_t size = a.skip.size;
  if (a.skip && size < 1) raise_refine_arg("skip", a.skip.arg);
  if (a.all && !a.skip) raise_error(kErrScriptBadRefines);
  int64_t offset = 0;
  Cell* comparator = nullptr;
  if (a.compare) {
    if (a.compare->is(kTypeInteger)) {
      if (!a.skip || a.all) raise_error(kErrScriptBadRefines);
      offset = int64_t(integer_get(a.compare)) - 1;
      if (offset < 0 || offset >= size) raise_error(kErrScriptOutOfRange, a.compare);
    } else if (is_any_function(a.compare->type())) {
      comparator = a.compare;
    } else {
      raise_refine_arg("compare", a.compare);
    }
  }
  if (count > 0 && (count < size || count % size != 0)) raise_refine_arg("skip", a.skip.arg);
  a.plan = SortPlan{int32_t(start), int32_t(count), int32_t(size), int32_t(offset), comparator};
}

// ---------------------------------------------------------------- entries

inline TypeId first_type() { return stack_arg(0)->type(); }
inline void set_result(const Cell* c) { stack_set_last(c); }

// The entry of an action whose handler's Cell* result becomes the call's
// result: reads the arguments, runs [prepare] when given, dispatches.
template <auto Member, ActionId Id, class Args>
void dispatch(const int32_t* r, void (*prepare)(Cell*, Args&) = nullptr) {
  Args a;
  read_args(a, r);
  Cell* first = stack_arg(0);
  if (prepare) prepare(first, a);
  set_result(action_handler<Member>(first->type(), Id)(first, a));
}

// even? and odd?: the handler's truth as a logic!.
template <auto Member, ActionId Id>
void truth_entry(const int32_t*) {
  Cell* first = stack_arg(0);
  Cell result = logic_cell(action_handler<Member>(first->type(), Id)(first, NoneArgs{}));
  set_result(&result);
}

void entry_make(const int32_t*) { set_result(action_make(arg(0), arg(1))); }
void entry_to(const int32_t*) { set_result(action_to(arg(0), arg(1))); }

// form and mold: a /part limit is an integer!; 0 or less gives "" without
// calling the handler. The result is a new string, cut to the limit.
template <class Args>
void text_entry(const int32_t* r, int32_t (*worker)(Cell*, const Args&)) {
  Args a;
  read_args(a, r);
  if (a.part && !a.part->is(kTypeInteger)) raise_refine_arg("part", a.part);
  a.limit = a.part ? integer_get(a.part) : kNoLimit;
  stack_keep_result();
  a.buffer = string_make_at(stack_push(), 16);
  if (a.limit > 0) {
    worker(arg(0), a);
    if (a.part) string_truncate(a.buffer, a.limit);
  }
  set_result(a.buffer);
}

void entry_form(const int32_t* r) { text_entry<FormArgs>(r, action_form); }
void entry_mold(const int32_t* r) { text_entry<MoldArgs>(r, action_mold); }

void entry_eval_path(const int32_t* r) {
  EvalPathArgs a;
  read_args(a, r);
  set_result(action_eval_path(arg(0), a));
}

void entry_empty(const int32_t*) { raise_error(kErrInternalNotDone); }

void entry_compare(const int32_t*) {
  Cell result = logic_cell(action_compare(arg(0), arg(1), CompareOp(integer_get(arg(2)))));
  set_result(&result);
}

void entry_copy(const int32_t* r) {
  CopyArgs a;
  read_args(a, r);
  prepare_copy(arg(0), a);
  a.result = stack_push_value(kNoneCell);
  set_result(action_copy(arg(0), a));
}

void entry_length_q(const int32_t*) {
  int32_t n = action_handler<&ActionSlots::length_q>(first_type(), kActionLengthQ)(arg(0), NoneArgs{});
  Cell result = n < 0 ? kNoneCell : integer_cell(n);
  set_result(&result);
}

void entry_pick(const int32_t* r) {
  PickArgs a;
  read_args(a, r);
  a.position = action_index_arg(a.index);
  set_result(action_handler<&ActionSlots::pick>(first_type(), kActionPick)(arg(0), a));
}

void entry_poke(const int32_t* r) {
  PokeArgs a;
  read_args(a, r);
  a.position = action_index_arg(a.index);
  set_result(action_poke(arg(0), a));
}

template <bool Append>
void insert_entry(const int32_t* r) {
  InsertArgs a;
  read_args(a, r);
  prepare_insert(arg(0), a);
  a.append = Append;
  if (Append)
    set_result(action_handler<&ActionSlots::append>(first_type(), kActionAppend)(arg(0), a));
  else
    set_result(action_handler<&ActionSlots::insert>(first_type(), kActionInsert)(arg(0), a));
}

void entry_append(const int32_t* r) { insert_entry<true>(r); }
void entry_insert(const int32_t* r) { insert_entry<false>(r); }

#define SLOT(member) &ActionSlots::member
#define ENTRY(member, Ident, Args) \
  void entry_##member(const int32_t* r) { dispatch<SLOT(member), kAction##Ident, Args>(r); }
#define PREPARED(member, Ident, Args, prepare) \
  void entry_##member(const int32_t* r) { dispatch<SLOT(member), kAction##Ident, Args>(r, prepare); }

ENTRY(random, Random, RandomArgs)
ENTRY(reflect, Reflect, ReflectArgs)
ENTRY(absolute, Absolute, NoneArgs)
ENTRY(add, Add, BinaryArgs)
ENTRY(divide, Divide, BinaryArgs)
ENTRY(multiply, Multiply, BinaryArgs)
ENTRY(negate, Negate, NoneArgs)
ENTRY(power, Power, PowerArgs)
ENTRY(remainder, Remainder, BinaryArgs)
ENTRY(round, Round, RoundArgs)
ENTRY(subtract, Subtract, BinaryArgs)
ENTRY(and_t, AndT, BinaryArgs)
ENTRY(complement, Complement, NoneArgs)
ENTRY(or_t, OrT, BinaryArgs)
ENTRY(xor_t, XorT, BinaryArgs)
ENTRY(at, At, AtArgs)
ENTRY(back, Back, NoneArgs)
PREPARED(change, Change, ChangeArgs, prepare_change)
ENTRY(clear, Clear, NoneArgs)
PREPARED(find, Find, FindArgs, prepare_search<FindArgs>)
ENTRY(head, Head, NoneArgs)
ENTRY(head_q, HeadQ, NoneArgs)
ENTRY(index_q, IndexQ, NoneArgs)
PREPARED(move, Move, MoveArgs, prepare_move)
ENTRY(next, Next, NoneArgs)
ENTRY(put, Put, PutArgs)
PREPARED(remove, Remove, RemoveArgs, prepare_remove)
PREPARED(reverse, Reverse, ReverseArgs, prepare_reverse)
PREPARED(select, Select, SelectArgs, prepare_search<SelectArgs>)
PREPARED(sort, Sort, SortArgs, prepare_sort)
ENTRY(skip, Skip, SkipArgs)
ENTRY(swap, Swap, SwapArgs)
ENTRY(tail, Tail, NoneArgs)
ENTRY(tail_q, TailQ, NoneArgs)
PREPARED(take, Take, TakeArgs, prepare_take)
ENTRY(trim, Trim, TrimArgs)
ENTRY(create, Create, NoneArgs)
ENTRY(close, Close, NoneArgs)
ENTRY(delete_, Delete, NoneArgs)
ENTRY(modify, Modify, ModifyArgs)
ENTRY(open, Open, OpenArgs)
ENTRY(open_q, OpenQ, NoneArgs)
ENTRY(query, Query, NoneArgs)
ENTRY(read, Read, ReadArgs)
ENTRY(rename, Rename, RenameArgs)
ENTRY(update, Update, NoneArgs)
ENTRY(write, Write, WriteArgs)

#undef ENTRY
#undef PREPARED

void entry_even_q(const int32_t* r) { truth_entry<SLOT(even_q), kActionEvenQ>(r); }
void entry_odd_q(const int32_t* r) { truth_entry<SLOT(odd_q), kActionOddQ>(r); }

#undef SLOT

// ---------------------------------------------------------------- refinement tables

#define ARG(name)
#define REF(member, word) {word, nullptr},
#define REF_ARG(member, word, argument, Type) {word, argument},
#define EXTRA(Type, name)
#define ARGS(Name, params) constexpr RefinementInfo k##Name##Refinements[] = {params{nullptr, nullptr}};
#define ACTION(id, ident, member, word, first, Result, ArgsName)
#include "datatypes/actions.def"
#undef ARG
#undef REF
#undef REF_ARG
#undef EXTRA
#undef ARGS
#undef ACTION

}  // namespace

const ActionInfo g_actions_table[kActionCount + 1] = {
    {ActionId(0), "", "", nullptr, 0, nullptr},
#define ARGS(Name, params)
#define ACTION(id, ident, member, word, first, Result, ArgsName)                                  \
  {kAction##ident, word, first, k##ArgsName##Refinements,                                        \
   int(sizeof k##ArgsName##Refinements / sizeof(RefinementInfo)) - 1, &entry_##member},
#include "datatypes/actions.def"
#undef ARGS
#undef ACTION
};

int action_refinement_slot(ActionId id, const char* word) {
  const ActionInfo& info = g_actions_table[id];
  for (int i = 0; i < info.refinement_count; i++)
    if (std::strcmp(info.refinements[i].word, word) == 0) return i;
  return -1;
}

}  // namespace kiv
