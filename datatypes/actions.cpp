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
#include <iterator>

#include "datatypes/char.h"
#include "datatypes/datatype.h"
#include "datatypes/error.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/runtime_words.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "runtime/errors.h"
#include "runtime/fatal.h"
#include "runtime/memory.h"
#include "runtime/ownership.h"
#include "runtime/stack.h"

namespace kiv {

// ---------------------------------------------------------------- errors

[[noreturn]] void raise_unsupported_action(TypeId type, ActionId id) {
  Cell argument = name_word_cell(g_actions_table[id].first_arg);
  raise_expect_arg(nullptr, type, &argument);
}

void raise_refine_arg(const char* refinement, const Cell* arg) {
  // The runtime keeps these refinements ready; any other name is made here.
  static constexpr struct {
    const char* name;
    RuntimeValue value;
  } kKnown[] = {{"part", kRefinementPart},
                {"skip", kRefinementSkip},
                {"with", kRefinementWith},
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
      case kCmpEqual:
      case kCmpNotEqual:
      case kCmpStrictEqual:
      case kCmpSame:
      case kCmpWordEqual:
      case kCmpWordCanonEqual:
      case kCmpFindEqual: return op == kCmpNotEqual;
      default: raise_error(kErrScriptInvalidCompare, value, other);
    }
  }
  switch (op) {
    case kCmpEqual:
    case kCmpStrictEqual:
    case kCmpSame:
    case kCmpWordEqual:
    case kCmpWordCanonEqual:
    case kCmpFindEqual: return r == 0;
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

Cell* action_pick_or_poke(Cell* series, Cell* index, Cell* value) {
  if (!value) {
    PickArgs pick;
    pick.index = index;
    pick.position = integer_get(index);
    return action_handler<&ActionSlots::pick>(series->type(), kActionPick)(series, pick);
  }
  PokeArgs poke;
  poke.index = index;
  poke.value = value;
  poke.position = integer_get(index);
  return action_poke(series, poke);
}

Cell* action_pick_plain(Cell* series, const Cell* index) {
  if (!index->is(kTypeInteger) || actions_of(series->type()).pick != &series_pick) return nullptr;
  SeriesBuffer* b = series->is(kTypeBlock) ? series_buffer_of(series) : nullptr;
  if (b && b->unit() == sizeof(Cell)) {
    // A block's cell read in place, at the position series_pick finds.
    const int64_t pos = pick_position(series, integer_get(index));
    *series = pos < 0 || pos >= int64_t(b->length()) ? kNoneCell : b->head_cell()[pos];
    return series;
  }
  PickArgs a;
  a.index = const_cast<Cell*>(index);
  a.position = integer_get(index);
  return series_pick(series, a);
}

Cell* action_append_text(Cell* series, Cell* value) {
  // Other values are formed, and a block formed may hold anything.
  const TypeId t = value->type();
  if (!(is_any_string(t) || t == kTypeChar) || actions_of(series->type()).append != &string_insert)
    return nullptr;
  if (string_append_short(series, value)) return series;
  // An owner's handler runs Kiv code.
  if (series_owned_q(series)) return nullptr;
  InsertArgs a;
  a.value = value;
  a.append = true;
  return string_insert(series, a);
}

Cell* action_eval_path_by_key(Cell* parent, const EvalPathArgs& args, PathSetAfterFn set_after) {
  const Cell* where = args.path ? args.path : parent;
  if (args.element->is(kTypeWord)) raise_error(kErrScriptInvalidPath, where, args.element);
  // The handlers below overwrite their first argument: they get copies.
  Cell* series = stack_push_cell(parent);
  Cell* key = stack_push_cell(args.element);
  if (key->is(kTypeInteger)) return action_pick_or_poke(series, key, args.value);
  if (!args.value) {
    SelectArgs select;
    select.value = key;
    select.case_ = args.case_;
    return action_handler<&ActionSlots::select>(series->type(), kActionSelect)(series, select);
  }
  FindArgs find;
  find.value = key;
  find.case_ = args.case_;
  Cell* found = action_find(series, find);
  if (found->is(kTypeNone)) raise_error(kErrScriptBadPathSet, where, args.element);
  return set_after(found, args);
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

#define KIV_ARGS_FILE "datatypes/actions.def"
#define KIV_ARGS_READERS
#include "datatypes/named_args.inc"

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

// Each action's arguments are normalised by the prepare overload for its
// argument struct, before the handler runs; most need nothing.
template <class Args>
void prepare(Cell*, Args&) {}

// append and insert read /part against the value inserted, and a negative
// count moves the value's start back (not before its first unit), counting
// forward from there. A port! takes its arguments as given.
void prepare(Cell* first, InsertArgs& a) {
  if (first->is(kTypePort)) return;
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
void prepare(Cell* first, ChangeArgs& a) {
  if (!a.part || first->is(kTypePort) || first->is(kTypeImage)) return;
  read_part(first, a.part);
  a.part.count = std::clamp<int64_t>(a.part.count, INT32_MIN, INT32_MAX);
}

// copy reads /part against the value copied; a pair! range is copy's own form,
// read by the handler.
void prepare(Cell* first, CopyArgs& a) {
  if (a.part && !a.part.arg->is(kTypePair)) read_part(first, a.part);
  if (a.types && !a.types->is(kTypeDatatype) && !a.types->is(kTypeTypeset)) {
    Cell argument = name_word_cell("kind");
    raise_expect_arg(nullptr, a.types->type(), &argument);
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
void prepare(Cell* first, FindArgs& a) { prepare_search(first, a); }

// pick and poke read the index as a position.
void prepare(Cell*, PickArgs& a) { a.position = action_index_arg(a.index); }
void prepare(Cell*, PokeArgs& a) { a.position = action_index_arg(a.index); }
void prepare(Cell* first, SelectArgs& a) { prepare_search(first, a); }

void prepare(Cell* first, RemoveArgs& a) { read_part(first, a.part); }

void prepare(Cell* first, ReverseArgs& a) {
  read_part(first, a.part);
  a.skip = record_size_of(a.skip.arg);
}

void prepare(Cell* first, MoveArgs& a) { read_part(first, a.part); }

// take/last with a position takes from that position to the tail.
void prepare(Cell* first, TakeArgs& a) {
  read_part(first, a.part);
  if (a.last && a.part.position) {
    int32_t total = series_total_length(first);
    a.part.count = total - std::clamp<int32_t>(a.part.arg->head(), 0, total);
  }
}

// The plan of a sort: the range from the head (/part, before the head for a
// negative count), the records (/skip), the compared unit or function
// (/compare), checked before anything changes.
void prepare(Cell* first, SortArgs& a) {
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
// result: reads the arguments, prepares them, dispatches. Every action's
// entry unless it has its own (SPECIAL below).
template <auto Member, ActionId Id, class Args>
void dispatch(const int32_t* r) {
  Args a;
  read_args(a, r);
  Cell* first = stack_arg(0);
  prepare(first, a);
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
  prepare(arg(0), a);
  a.result = stack_push_value(kNoneCell);
  set_result(action_copy(arg(0), a));
}

void entry_length_q(const int32_t*) {
  int32_t n = action_handler<&ActionSlots::length_q>(first_type(), kActionLengthQ)(arg(0), NoneArgs{});
  Cell result = n < 0 ? kNoneCell : integer_cell(n);
  set_result(&result);
}

template <bool Append>
void insert_entry(const int32_t* r) {
  InsertArgs a;
  read_args(a, r);
  prepare(arg(0), a);
  a.append = Append;
  if (Append)
    set_result(action_handler<&ActionSlots::append>(first_type(), kActionAppend)(arg(0), a));
  else
    set_result(action_handler<&ActionSlots::insert>(first_type(), kActionInsert)(arg(0), a));
}

// The entry of action [Id]: dispatch unless specialised below. A
// specialisation never instantiates dispatch, whose handler type may differ.
template <ActionId Id>
struct Entry {
  template <auto Member, class Args>
  static constexpr ActionEntry of = &dispatch<Member, Id, Args>;
};
#define SPECIAL(Ident, entry)                \
  template <>                                \
  struct Entry<kAction##Ident> {             \
    template <auto, class>                   \
    static constexpr ActionEntry of = entry; \
  };

SPECIAL(Make, entry_make)
SPECIAL(To, entry_to)
SPECIAL(Form, entry_form)
SPECIAL(Mold, entry_mold)
SPECIAL(EvalPath, entry_eval_path)
SPECIAL(Empty, entry_empty)
SPECIAL(Compare, entry_compare)
SPECIAL(Copy, entry_copy)
SPECIAL(LengthQ, entry_length_q)
SPECIAL(Append, insert_entry<true>)
SPECIAL(Insert, insert_entry<false>)
SPECIAL(EvenQ, (truth_entry<&ActionSlots::even_q, kActionEvenQ>))
SPECIAL(OddQ, (truth_entry<&ActionSlots::odd_q, kActionOddQ>))
#undef SPECIAL

}  // namespace

const ActionInfo g_actions_table[kActionCount + 1] = {
    {ActionId(0), "", "", "", nullptr, nullptr, 0, nullptr},
#define ACTION(id, ident, member, word, first, Result, ArgsName, spec) \
  {kAction##ident,                                                     \
   word,                                                               \
   first,                                                              \
   spec,                                                               \
   k##ArgsName##Params,                                                \
   k##ArgsName##Refinements,                                           \
   k##ArgsName##RefinementCount,                                       \
   Entry<kAction##ident>::of<&ActionSlots::member, ArgsName##Args>},
#include "datatypes/actions.def"
};

// ---------------------------------------------------------------- calls from C++

ActionCall::ActionCall(ActionId id) : id_(id) {
  std::fill(std::begin(refs_), std::end(refs_), kNoRefinement);
  open_native_frame({});
}

ActionCall& ActionCall::arg(const Cell& value) {
  fatal_assert(!refinement_args_);  // the arguments of refinements come after every other
  stack_push_value(value);
  return *this;
}

int32_t& ActionCall::slot_of(const char* word) {
  int slot = action_refinement_slot(id_, word);
  fatal_assert(slot >= 0);
  return refs_[slot];
}

ActionCall& ActionCall::ref(const char* word) {
  slot_of(word) = 0;
  return *this;
}

ActionCall& ActionCall::ref(const char* word, const Cell& value) {
  slot_of(word) = int32_t(stack_push_value(value) - g_stack.arguments);
  refinement_args_ = true;
  return *this;
}

Cell* ActionCall::run() {
  g_actions_table[id_].entry(refs_);
  stack_unwind();
  return g_stack.top - 1;
}

int action_refinement_slot(ActionId id, const char* word) {
  const ActionInfo& info = g_actions_table[id];
  for (int i = 0; i < info.refinement_count; i++)
    if (std::strcmp(info.refinements[i].word, word) == 0) return i;
  return -1;
}

}  // namespace kiv
