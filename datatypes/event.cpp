// event!: making events from a spec block, reading their fields by path and
// pick, setting their type, and the back end's event records.
//
// The type, flag and key words are interned once, at first use; symbols are
// never collected, so the tables hold plain ids. Back-end records live in a
// small fixed table outside collector memory: an event names its record by
// slot and generation, so an event kept past its dispatch finds its record
// gone instead of reading another event's record.
#include "datatypes/event.h"

#include <cmath>

#include "datatypes/block.h"
#include "datatypes/char.h"
#include "datatypes/context.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/pair.h"
#include "datatypes/registry.h"
#include "datatypes/runtime_words.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/word.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/numbers.h"
#include "runtime/stack.h"
#include "runtime/typesets.h"

namespace kiv {

namespace {

// ---------------------------------------------------------------- words

struct FlagName {
  const char* word;
  uint32_t bit;
};

// In the order a `flags` block lists them; `command` is accepted by make but
// never listed.
constexpr FlagName kFlagNames[] = {
    {"away", kEventFlagAway},        {"down", kEventFlagDown},        {"mid-down", kEventFlagMidDown},
    {"alt-down", kEventFlagAltDown}, {"aux-down", kEventFlagAuxDown}, {"control", kEventFlagControl},
    {"shift", kEventFlagShift},      {"alt", kEventFlagAlt},          {"command", kEventFlagCommand},
};
constexpr int kFlagCount = sizeof kFlagNames / sizeof kFlagNames[0];
constexpr int kListedFlagCount = kFlagCount - 1;

// Special key words by code: kKeyNames[i] names code -(20 + i); -30 has none.
constexpr const char* kKeyNames[] = {
    "up", "down", "right", "left", "end", "home", "insert", "delete", "page-up", "page-down", nullptr, "F1",
    "F2", "F3",   "F4",    "F5",   "F6",  "F7",   "F8",     "F9",     "F10",     "F11",       "F12"};
constexpr int32_t kFirstKeyCode = -20;
constexpr int kKeyCount = sizeof kKeyNames / sizeof kKeyNames[0];

struct EventSymbols {
  int32_t types[kEventTypeMax + 1];
  int32_t flags[kFlagCount];
  int32_t keys[kKeyCount];
};

// MAY ALLOCATE on the first call.
const EventSymbols& event_symbols() {
  static EventSymbols symbols;
  static bool ready = false;
  if (!ready) {
    symbols.types[0] = 0;
    for (uint32_t i = 1; i <= kEventTypeMax; ++i) symbols.types[i] = symbol_make_caseless(kEventTypeNames[i]);
    for (int i = 0; i < kFlagCount; ++i) symbols.flags[i] = symbol_make_caseless(kFlagNames[i].word);
    for (int i = 0; i < kKeyCount; ++i)
      symbols.keys[i] = kKeyNames[i] ? symbol_make_caseless(kKeyNames[i]) : 0;
    ready = true;
  }
  return symbols;
}

// The global word! named by [symbol]. MAY ALLOCATE.
Cell symbol_word(int32_t symbol) { return context_global_word(symbol); }

// ---------------------------------------------------------------- fields

enum EventField : int {
  kFieldNone = 0,
  kFieldType,
  kFieldFace,
  kFieldWindow,
  kFieldOffset,
  kFieldKey,
  kFieldPicked,
  kFieldFlags,
  kFieldAwayQ,
  kFieldDownQ,
  kFieldMidDownQ,
  kFieldAltDownQ,
  kFieldAuxDownQ,
  kFieldCtrlQ,
  kFieldShiftQ,
  kFieldOrientation,
};

constexpr RuntimeSymbol kFieldSymbols[] = {
    kSymType,  kSymFace,     kSymWindow,   kSymOffset,   kSymKey,   kSymPicked, kSymFlags,      kSymAwayQ,
    kSymDownQ, kSymMidDownQ, kSymAltDownQ, kSymAuxDownQ, kSymCtrlQ, kSymShiftQ, kSymOrientation};

// The field an index names: an integer 1-15 or a field word; kFieldNone else.
int event_field(const Cell* index) {
  if (index->is(kTypeInteger)) {
    int32_t n = integer_get(index);
    return n >= kFieldType && n <= kFieldOrientation ? n : kFieldNone;
  }
  if (!is_any_word(index->type())) return kFieldNone;
  for (int i = 0; i < kFieldOrientation; ++i)
    if (runtime_symbol_q(word_symbol(index), kFieldSymbols[i])) return i + 1;
  return kFieldNone;
}

uint32_t flag_bit_of_field(int field) {
  switch (field) {
    case kFieldAwayQ: return kEventFlagAway;
    case kFieldDownQ: return kEventFlagDown;
    case kFieldMidDownQ: return kEventFlagMidDown;
    case kFieldAltDownQ: return kEventFlagAltDown;
    case kFieldAuxDownQ: return kEventFlagAuxDown;
    case kFieldCtrlQ: return kEventFlagControl;
    default: return kEventFlagShift;
  }
}

// ---------------------------------------------------------------- back-end records

constexpr uint32_t kRecordSlots = 16;
constexpr uint32_t kSlotBits = 8;

struct RecordSlot {
  EventRecord record;
  uint32_t generation = 0;  // odd while open
};

RecordSlot g_records[kRecordSlots];
bool g_records_marked = false;

void mark_open_records() {
  for (const RecordSlot& slot : g_records)
    if (slot.generation & 1) gc_mark_cell(&slot.record.face);
}

// The open record [ref] names, or null when it closed.
const EventRecord* record_of(uint32_t ref) {
  uint32_t index = ref & ((1u << kSlotBits) - 1);
  if (index >= kRecordSlots) return nullptr;
  const RecordSlot& slot = g_records[index];
  return (slot.generation & 1) && (slot.generation & 0xFFFFFFu) == (ref >> kSlotBits) ? &slot.record
                                                                                      : nullptr;
}

// ---------------------------------------------------------------- reading

// The cell [i] of a script-made event's value block, or null without one.
const Cell* stored_value(const Cell* event, int i) {
  return event->data2 ? series_buffer(event->data2)->cells() + i : nullptr;
}

// MAY ALLOCATE. The value of [field] of [event].
Cell event_get(const Cell* event, int field) {
  uint32_t flags = event->data3;
  if (event_script_made_q(event)) {
    switch (field) {
      case kFieldFace:
      case kFieldWindow: {
        const Cell* v = stored_value(event, field == kFieldFace ? 0 : 1);
        return v ? *v : kNoneCell;
      }
      case kFieldOffset: {
        const Cell* v = stored_value(event, 2);
        return v ? *v : pair_cell(0, 0);
      }
      case kFieldKey: return flags & kEventKeyMask ? char_cell(flags & kEventKeyMask) : kNoneCell;
      case kFieldPicked: {
        const Cell* v = stored_value(event, 3);
        return v ? *v : integer_cell(0);
      }
      default: break;
    }
  }
  const EventRecord* record = event_script_made_q(event) ? nullptr : record_of(event->data2);
  switch (field) {
    case kFieldType: {
      uint32_t code = event_type_code(event);
      if (code == 0 || code > kEventTypeMax) return kNoneCell;
      return symbol_word(event_symbols().types[code]);
    }
    case kFieldFace: return record ? record->face : kNoneCell;
    case kFieldOffset:
      if (!record) return kNoneCell;
      return pair_cell(double_to_int32(std::trunc(record->x)), double_to_int32(std::trunc(record->y)));
    case kFieldKey: {
      if (!record) return kNoneCell;
      if (!(flags & kEventSpecialKey))
        return record->code >= 0 ? char_cell(uint32_t(record->code)) : kNoneCell;
      int i = kFirstKeyCode - record->code;
      if (i < 0 || i >= kKeyCount || !kKeyNames[i]) return kNoneCell;
      return symbol_word(event_symbols().keys[i]);
    }
    case kFieldPicked:
      if (!record) return kNoneCell;
      if (event_type_code(event) == kEventTypeWheel) return float_cell(record->wheel);
      return integer_cell(record->code);
    case kFieldFlags: {
      const EventSymbols& symbols = event_symbols();
      Cell* block = block_push_only(kListedFlagCount);
      for (int i = 0; i < kListedFlagCount; ++i) {
        if (!(flags & kFlagNames[i].bit)) continue;
        Cell word = symbol_word(symbols.flags[i]);
        block_append_value(block, &word);
      }
      Cell result = *block;
      stack_pop(1);
      return result;
    }
    case kFieldWindow:
    case kFieldOrientation: return kNoneCell;
    default: return logic_cell(flags & flag_bit_of_field(field));
  }
}

// ---------------------------------------------------------------- make

// The value a spec gives for a key: a word or get-word bound to a context
// that holds a value stands for that value.
Cell spec_value(const Cell* value) {
  if ((value->is(kTypeWord) || value->is(kTypeGetWord)) && word_context(value) && word_index(value) >= 0 &&
      context_values(word_context(value))) {
    Cell v = *get_word_value(value);
    if (!v.is(kTypeUnset)) return v;
  }
  return *value;
}

// The code of the type word [word]; raises not-event-type when there is none.
uint32_t type_code_of_word(const Cell* word) {
  uint32_t code = event_type_of_symbol(word_symbol(word));
  if (code == 0) raise_error(kErrScriptNotEventType, word);
  return code;
}

uint32_t flags_of_block(const Cell* block) {
  const EventSymbols& symbols = event_symbols();
  uint32_t flags = 0;
  int32_t length = block_ks_length_q(const_cast<Cell*>(block));
  for (int32_t i = 0; i < length; ++i) {
    const Cell* item = block_ks_head(const_cast<Cell*>(block)) + i;
    if (!item->is(kTypeWord)) continue;
    for (int f = 0; f < kFlagCount; ++f)
      if (symbol_same_name_q(word_symbol(item), symbols.flags[f])) flags |= kFlagNames[f].bit;
  }
  return flags;
}

// [result] gets the event [spec] describes. The spec stays on the caller's
// stack; the values found are kept in stack cells until the block is made.
Cell* event_make(Cell* result, const MakeArgs& args) {
  Cell event = make_cell(kTypeEvent, 0, 0, 0);
  event.header |= kEventScriptMade;
  if (!args.spec->is(kTypeBlock)) {
    *result = make_cell(kTypeEvent);
    return result;
  }
  event_symbols();
  Cell* spec = args.spec;
  StackSave save;
  Cell* values = stack_push();  // face window offset picked, unset! when absent
  for (int i = 1; i < 4; ++i) stack_push();
  for (int i = 0; i < 4; ++i) values[i] = kUnsetCell;
  int32_t length = block_ks_length_q(spec);
  for (int32_t i = 0; i + 1 < length; i += 2) {
    Cell key = block_ks_head(spec)[i];
    if (!key.is(kTypeSetWord)) {
      --i;  // look for the next set-word from the following value
      continue;
    }
    Cell value = spec_value(block_ks_head(spec) + i + 1);
    int32_t symbol = word_symbol(&key);
    if (runtime_symbol_q(symbol, kSymType)) {
      if (value.is(kTypeWord) || value.is(kTypeLitWord)) event.data1 = type_code_of_word(&value);
    } else if (runtime_symbol_q(symbol, kSymKey)) {
      if (value.is(kTypeChar))
        event.data3 = (event.data3 & ~kEventKeyMask) | (char_get(&value) & kEventKeyMask);
    } else if (runtime_symbol_q(symbol, kSymFlags)) {
      if (value.is(kTypeBlock)) event.data3 |= flags_of_block(&value);
    } else if (runtime_symbol_q(symbol, kSymFace) || runtime_symbol_q(symbol, kSymWindow)) {
      if (value.is(kTypeObject)) values[runtime_symbol_q(symbol, kSymFace) ? 0 : 1] = value;
    } else if (runtime_symbol_q(symbol, kSymOffset)) {
      if (value.is(kTypePair) || value.is(kTypePoint2D)) values[2] = value;
    } else if (runtime_symbol_q(symbol, kSymPicked)) {
      if (value.is(kTypeInteger)) values[3] = value;
    }
  }
  bool any = false;
  for (int i = 0; i < 4; ++i) any = any || !values[i].is(kTypeUnset);
  if (any) {
    Cell defaults[4] = {kNoneCell, kNoneCell, pair_cell(0, 0), integer_cell(0)};
    for (int i = 0; i < 4; ++i)
      if (values[i].is(kTypeUnset)) values[i] = defaults[i];
    Cell* block = block_push_only(4);
    for (int i = 0; i < 4; ++i) block_append_value(block, values + i);
    event.data2 = block->data2;
  }
  *result = event;
  return result;
}

// ---------------------------------------------------------------- actions

int32_t event_form(Cell*, const FormArgs& args) {
  return args.limit - string_append_c_string(args.buffer, "event");
}
int32_t event_mold(Cell*, const MoldArgs& args) {
  return args.limit - string_append_c_string(args.buffer, "event");
}

Cell* event_eval_path(Cell* event, const EvalPathArgs& args) {
  int field = event_field(args.element);
  if (args.value) {
    if (field != kFieldType || !args.value->is(kTypeWord)) {
      raise_error(kErrScriptBadPathSet, args.path ? args.path : event, args.element);
    }
    event->data1 = type_code_of_word(args.value);
    return args.value;
  }
  if (field == kFieldNone) {
    if (args.element->is(kTypeInteger)) raise_error(kErrScriptOutOfRange, args.element);
    raise_error(kErrScriptInvalidPath, args.path ? args.path : event, args.element);
  }
  Cell* slot = stack_push();
  *slot = event_get(event, field);
  return slot;
}

Cell* event_pick(Cell* event, const PickArgs& args) {
  int field = event_field(args.index);
  if (field == kFieldNone) raise_error(kErrScriptOutOfRange, args.index);
  *event = event_get(event, field);
  return event;
}

// All events are equal to one another; none has an order.
int event_compare(Cell*, const CompareArgs& args) {
  if (!args.value2->is(kTypeEvent)) return kNotComparable;
  switch (args.op) {
    case kCmpEqual:
    case kCmpNotEqual:
    case kCmpStrictEqual:
    case kCmpFindEqual:
    case kCmpSort:
    case kCmpCaseSort:
    case kCmpSame: return 0;
    default: return kNotComparable;
  }
}

void event_mark(const Cell* event) {
  if (event_script_made_q(event) && event->data2) gc_mark_block(event->data2);
}

// Every event equals every other: one hash for all.
uint32_t event_hash(const Cell*) { return uint32_t(kTypeEvent); }

constexpr TypeHooks kEventHooks{.mark = event_mark, .hash = event_hash};

}  // namespace

uint32_t event_type_of_symbol(int32_t symbol) {
  const EventSymbols& symbols = event_symbols();
  for (uint32_t i = 1; i <= kEventTypeMax; ++i)
    if (symbol_same_name_q(symbol, symbols.types[i])) return i;
  return 0;
}

uint32_t event_record_open(const EventRecord& record) {
  if (!g_records_marked) {
    add_mark_callback(mark_open_records);
    g_records_marked = true;
  }
  for (uint32_t i = 0; i < kRecordSlots; ++i) {
    RecordSlot& slot = g_records[i];
    if (slot.generation & 1) continue;
    slot.record = record;
    slot.generation = (slot.generation + 1) & 0xFFFFFFu;
    return ((slot.generation & 0xFFFFFFu) << kSlotBits) | i;
  }
  raise_error(kErrInternalNoMemory);
}

void event_record_close(uint32_t ref) {
  if (!record_of(ref)) return;
  RecordSlot& slot = g_records[ref & ((1u << kSlotBits) - 1)];
  slot.record.face = kNoneCell;
  slot.generation = (slot.generation + 1) & 0xFFFFFFu;
}

Cell event_backend_cell(uint32_t code, uint32_t ref, uint32_t flags) {
  return make_cell(kTypeEvent, code, ref, flags);
}

void event_datatype_init() {
  register_datatype({kTypeEvent,
                     kTypeNil,
                     "event!",
                     kActionCount,
                     {
                         .make = event_make,
                         .form = event_form,
                         .mold = event_mold,
                         .eval_path = event_eval_path,
                         .compare = event_compare,
                         .pick = event_pick,
                     },
                     &kEventHooks});
}

}  // namespace kiv
