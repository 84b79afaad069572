// Helpers shared by the unit tests: calling actions through their entry
// points, catching the errors they raise, making the values the cases use,
// and guards that put back the handler rows or collector state a test changes.
// The runtime (every registered datatype, symbols, the global context and the
// runtime words) is brought up once by test_main.cpp before any test runs.
//
// Values made here that hold series are pushed on the data stack, so they stay
// rooted until the test (or an enclosing StackSave) ends.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <iterator>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "datatypes/actions.h"
#include "datatypes/block.h"
#include "datatypes/char.h"
#include "datatypes/datatype.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/exits.h"
#include "runtime/memory.h"
#include "runtime/stack.h"

namespace kiv::test {

// What catch_error answers when its body raised nothing.
inline constexpr ErrorId kNoError = kErrorIdCount;

// Runs [body] inside a try frame; returns the id of the error it raised, or
// kNoError when it raised none. The stacks are restored either way.
inline ErrorId catch_error(const std::function<void()>& body) {
  StackSave save;
  stack_mark_try({});
  try {
    body();
  } catch (KivThrow& t) {
    EXPECT_EQ(t.code, kThrowError);
    g_last_throw_code = 0;
    return last_raised_error().id;
  }
  return kNoError;
}

// ---------------------------------------------------------------- calling actions

// Calls action [id] through its entry point with [args] pushed in a native
// frame and refinement argument indexes [refs] (at most 16; the rest absent);
// returns the result cell's copy.
inline Cell call_action_with(ActionId id, std::span<const Cell> args, std::span<const int32_t> refs) {
  StackSave save;
  open_native_frame({});
  for (const Cell& c : args) stack_push_value(c);
  int32_t r[16];
  std::fill(std::begin(r), std::end(r), kNoRefinement);
  std::copy_n(refs.begin(), std::min<size_t>(refs.size(), 16), r);
  g_actions_table[id].entry(r);
  return *g_stack.arguments;
}

// call_action_with for lists written in place.
inline Cell call_action(ActionId id, std::initializer_list<Cell> args,
                        std::initializer_list<int32_t> refs = {}) {
  return call_action_with(id, std::span<const Cell>(args.begin(), args.size()),
                          std::span<const int32_t>(refs.begin(), refs.size()));
}

// Calls an action and pushes its result, so that a series result stays rooted.
inline Cell* call(ActionId id, std::initializer_list<Cell> args, std::initializer_list<int32_t> refs = {}) {
  Cell r = call_action(id, args, refs);
  return stack_push_value(r);
}

// One action call by name: the arguments in spec order, then refinements by
// their spec words, with the argument they take:
//   Act(kActionFind, {hay, needle}).ref("part", integer_cell(2)).ref("reverse").run()
class Act {
 public:
  Act(ActionId id, std::initializer_list<Cell> args) : id_(id), args_(args) { refs_.fill(kNoRefinement); }
  // The refinement [word] of the action's spec, without an argument.
  Act& ref(const char* word) {
    refs_[slot_of(word)] = 0;
    return *this;
  }
  // The refinement [word] with its argument [value].
  Act& ref(const char* word, Cell value) {
    args_.push_back(value);
    refs_[slot_of(word)] = int32_t(args_.size() - 1);
    return *this;
  }
  // Runs the action; its result is pushed on the caller's stack, so it stays rooted.
  Cell* run() const { return stack_push_value(call_action_with(id_, args_, refs_)); }
  // The result as a copy (not rooted).
  Cell value() const { return call_action_with(id_, args_, refs_); }
  ErrorId error() const {
    return catch_error([&] { run(); });
  }

 private:
  size_t slot_of(const char* word) const {
    int slot = action_refinement_slot(id_, word);
    if (slot < 0) ADD_FAILURE() << "no refinement /" << word << " in " << g_actions_table[id_].word;
    return size_t(std::max(slot, 0));
  }
  ActionId id_;
  std::vector<Cell> args_;
  std::array<int32_t, 16> refs_;
};

// make and to of [type] from [spec]; the result is pushed.
inline Cell* make(TypeId type, Cell spec) { return call(kActionMake, {datatype_cell(type), spec}); }
inline Cell* to(TypeId type, Cell spec) { return call(kActionTo, {datatype_cell(type), spec}); }

// The compare action's truth under [op], as `=`, `<` and friends see it.
// Path access, called as the evaluator will: get, or set with a value.
inline Cell eval_path(Cell* parent, Cell element, const Cell* value = nullptr) {
  EvalPathArgs a;
  a.element = stack_push_value(element);
  a.value = value ? stack_push_value(*value) : nullptr;
  return *action_eval_path(parent, a);
}

inline bool compare(Cell a, Cell b, CompareOp op) {
  StackSave save;
  Cell* x = stack_push_value(a);
  Cell* y = stack_push_value(b);
  return action_compare(x, y, op);
}

// ---------------------------------------------------------------- text

// The arguments of a form or mold into [buffer] within [limit], with the /part
// argument [part] (null: none) and, for mold, /all when [all].
inline FormArgs form_into(Cell* buffer, int32_t limit = kNoLimit, Cell* part = nullptr) {
  FormArgs a;
  a.buffer = buffer;
  a.limit = limit;
  a.part = part;
  return a;
}
inline MoldArgs mold_into(Cell* buffer, int32_t limit = kNoLimit, Cell* part = nullptr, bool all = false) {
  MoldArgs a;
  a.buffer = buffer;
  a.limit = limit;
  a.part = part;
  a.all = all;
  return a;
}

// The text of a string! cell.
inline std::string text_of(const Cell& c) { return string_to_utf8(&c); }

// form, with /part [part] when [part] >= 0.
inline std::string form_of(Cell v, int32_t part = -1) {
  Act form(kActionForm, {v});
  if (part >= 0) form.ref("part", integer_cell(part));
  return text_of(form.value());
}
// mold, with /all when [all].
inline std::string mold_of(Cell v, bool all = false) {
  Act mold(kActionMold, {v});
  if (all) mold.ref("all");
  return text_of(mold.value());
}
// mold with any of /only, /all, /flat, and /part [part] when [part] >= 0.
inline std::string mold(Cell v, bool only = false, bool all = false, bool flat = false, int32_t part = -1) {
  Act mold(kActionMold, {v});
  if (only) mold.ref("only");
  if (all) mold.ref("all");
  if (flat) mold.ref("flat");
  if (part >= 0) mold.ref("part", integer_cell(part));
  return text_of(mold.value());
}

// What a computation answers, for tables of cases: the mold of the value
// [body] returns, or "!" and the error's id word ("!zero-divide") when it raises.
inline std::string outcome(const std::function<Cell()>& body) {
  std::string text;
  ErrorId e = catch_error([&] { text = mold_of(body()); });
  return e == kNoError ? text : std::string("!") + error_info(e).word;
}
// The outcome of action [id] on [args] (no refinements).
inline std::string outcome(ActionId id, std::initializer_list<Cell> args) {
  std::vector<Cell> list(args);
  return outcome([&] { return call_action_with(id, list, {}); });
}

// ---------------------------------------------------------------- values

// The double of a float! result.
inline double float_of(const Cell& c) { return float_get(&c); }
// The value of an integer! result.
inline int32_t integer_of(const Cell& c) { return integer_get(&c); }
// The code point of a char! result.
inline uint32_t char_of(const Cell& c) { return char_get(&c); }
// The flag of a logic! result (1 for true).
inline uint32_t logic_of(const Cell& c) { return logic_get(&c); }
// The type a datatype! result stands for.
inline TypeId datatype_of(const Cell& c) { return datatype_type(&c); }
// The symbol id of a word result.
inline int32_t symbol_of(const Cell& w) { return word_symbol(&w); }

// A word of [type] spelled [name], made from text (bound in the global context) and retyped.
inline Cell word(const char* name, TypeId type = kTypeWord) {
  Cell w = load_word(name);
  w.set_header(type);
  return w;
}

// A string! (or [type]) on the data stack holding UTF-8 [text], stored at least [unit] wide.
inline Cell* push_text(std::string_view text, uint32_t unit = 1, TypeId type = kTypeString) {
  Cell* s = string_init_unit(stack_push(), 16, unit);
  string_append_utf8(s, text);
  s->set_type(type);
  return s;
}
// The same as a plain cell (for the argument lists of call_action).
inline Cell text_cell(std::string_view text, uint32_t unit = 1) { return *push_text(text, unit); }

// A binary! on the data stack holding [bytes], at [head].
inline Cell* push_binary(std::initializer_list<uint8_t> bytes, int32_t head = 0) {
  Cell* b = stack_push_value(series_cell(kTypeBinary, series_alloc_bytes(uint32_t(bytes.size())), head));
  for (uint8_t x : bytes) *reserve_tail(b->node(), 1) = x;
  return b;
}

// A new block! (or [type]) on the data stack holding copies of [cells].
inline Cell* block_of(std::initializer_list<Cell> cells, TypeId type = kTypeBlock) {
  Cell* b = block_push_only(int32_t(cells.size()));
  for (const Cell& c : cells) block_append_value(b, &c);
  b->set_header(type);
  return b;
}

// [c] with its head at [head].
inline Cell at_head(const Cell* c, int32_t head) {
  Cell v = *c;
  v.set_head(head);
  return v;
}

// The code points of a string from its head.
inline std::vector<uint32_t> code_points(const Cell& s) {
  std::vector<uint32_t> out;
  for (int32_t i = 0; i < string_length(&s); i++)
    out.push_back(string_char_at(&s, uint32_t(string_head_index(&s) + i)));
  return out;
}

// ---------------------------------------------------------------- guards

// Replaces [type]'s handler row with [slots] for the guard's lifetime.
class ScopedHandlers {
 public:
  ScopedHandlers(TypeId type, const ActionSlots& slots) : type_(type), saved_(g_action_table[type]) {
    g_action_table[type] = slots;
  }
  ~ScopedHandlers() { g_action_table[type_] = saved_; }
  ScopedHandlers(const ScopedHandlers&) = delete;
  ScopedHandlers& operator=(const ScopedHandlers&) = delete;

 private:
  TypeId type_;
  ActionSlots saved_;
};

// Keeps every handler row, hook row and the highest registered type id, and
// puts them back when it goes: for fixtures that register test-only rows.
class SavedRegistry {
 public:
  SavedRegistry() : max_(g_max_type_id) {
    std::copy(std::begin(g_action_table), std::end(g_action_table), saved_);
    std::copy(std::begin(g_type_hooks), std::end(g_type_hooks), hooks_);
    std::copy(std::begin(g_type_slots), std::end(g_type_slots), type_slots_);
  }
  ~SavedRegistry() {
    std::copy(std::begin(saved_), std::end(saved_), g_action_table);
    std::copy(std::begin(hooks_), std::end(hooks_), g_type_hooks);
    std::copy(std::begin(type_slots_), std::end(type_slots_), g_type_slots);
    g_max_type_id = max_;
  }
  SavedRegistry(const SavedRegistry&) = delete;
  SavedRegistry& operator=(const SavedRegistry&) = delete;

 private:
  ActionSlots saved_[kTypeTableRows];
  TypeHooks hooks_[kTypeTableRows];
  TypeSlots type_slots_[kTypeTableRows];
  int max_;
};

// The whole registry (handler rows, names with their loaded words, hook
// rows), put back when it goes: a fixture that registers test rows holds one,
// so the suites after it see the real rows.
class RegistrySnapshot {
 public:
  RegistrySnapshot() {
    std::copy(std::begin(g_action_table), std::end(g_action_table), std::begin(actions_));
    std::copy(std::begin(g_type_names), std::end(g_type_names), std::begin(names_));
    std::copy(std::begin(g_type_hooks), std::end(g_type_hooks), std::begin(hooks_));
    std::copy(std::begin(g_type_slots), std::end(g_type_slots), std::begin(type_slots_));
  }
  ~RegistrySnapshot() {
    std::copy(std::begin(actions_), std::end(actions_), std::begin(g_action_table));
    std::copy(std::begin(names_), std::end(names_), std::begin(g_type_names));
    std::copy(std::begin(hooks_), std::end(hooks_), std::begin(g_type_hooks));
    std::copy(std::begin(type_slots_), std::end(type_slots_), std::begin(g_type_slots));
  }
  RegistrySnapshot(const RegistrySnapshot&) = delete;
  RegistrySnapshot& operator=(const RegistrySnapshot&) = delete;

 private:
  ActionSlots actions_[kTypeTableRows];
  TypeNameEntry names_[kTypeTableRows];
  TypeHooks hooks_[kTypeTableRows];
  TypeSlots type_slots_[kTypeTableRows];
};

// Registers a test row of handlers for the built-in type [id] under [parent],
// keeping the type's hooks and type slots: its cells are still marked,
// hashed and read unit by unit as its own.
// The fixture holds a RegistrySnapshot to have the real row back afterwards.
inline void register_test_row(TypeId id, TypeId parent, const ActionSlots& slots) {
  TypeHooks keep = g_type_hooks[id];
  TypeSlots keep_slots = g_type_slots[id];
  register_datatype({id, parent, type_name(id), kActionCount, slots, &keep, &keep_slots});
}

}  // namespace kiv::test
