// The profiler's event handling (system/tools/profiler in tools.kiv): counts
// the calls of each function and charges each its time, in C++ so that an
// event costs no Kiv call. The interpreter hands it the events of the Kiv
// tracer function it stands for (trace_register_native); the routine
// profile-event, which that function's body calls, takes the same path.
//
// The records are the Kiv ones: system/tools/profiling, three cells each
// (name, count, duration: the integer 0 until a call finished, then a
// time!), appended at a function's first call and updated in place. The open
// calls are kept here: their record's position, their start and end on the
// monotonic clock in the 100 ns steps of now/precise (a call shorter than a
// step is charged a whole step or none, as the clock's reading crosses a
// step or not: the sums stay true), and the x of
// their call's frame pair, by which a return closes its own call and those an
// error or a throw left above it. The block of records is held in a root
// slot while a profile runs, so the code profiled may drop or replace the
// field. Code that changes the block itself leaves the open calls' record
// positions unknown: those calls are then not charged, and no cell is
// written out of place.
#include "library/profiler.h"

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "datatypes/block.h"
#include "datatypes/function.h"
#include "datatypes/integer.h"
#include "datatypes/object.h"
#include "datatypes/pair.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/time.h"
#include "datatypes/typeset.h"
#include "datatypes/word.h"
#include "evaluator/interpreter.h"
#include "library/library.h"
#include "library/routines.h"
#include "platform/clock.h"
#include "runtime/compare.h"
#include "runtime/errors.h"
#include "runtime/hooks.h"
#include "runtime/root_block.h"
#include "runtime/stack.h"
#include "runtime/typesets.h"

namespace kiv {

namespace {

constexpr int32_t kRecordSize = 3;
constexpr int64_t kNoEnd = -1;

struct OpenCall {
  int32_t record;  // cell index of its record in the block of records
  int64_t start;   // 100 ns steps
  int64_t end;     // kNoEnd until its body finished
  int32_t frame;   // the x of its call's frame pair
};

std::vector<OpenCall> g_open;
// The callable types counted (options/profile/types when the run began);
// none when that was not a typeset: nothing is counted.
Cell g_types = kNoneCell;
// The cells of the block of records as this unit left them.
int32_t g_known_cells = 0;
int64_t now_steps() { return os_monotonic_ns() / 100; }

// Names the anonymous functions <anon1>, <anon2>...: it grows across runs.
int32_t g_anon_count = 0;

// The block of records (short-lived cells).
Cell* records_cell() { return root_slot(kRootProfiler); }

// True when the block of records is one, as this unit left it; else the
// open calls lose their records.
bool records_intact() {
  Cell* records = records_cell();
  if (records->is(kTypeBlock) && series_total_cells(records) == g_known_cells) return true;
  for (OpenCall& call : g_open) call.record = -1;
  g_known_cells = records->is(kTypeBlock) ? series_total_cells(records) : 0;
  return false;
}

// MAY ALLOCATE. Empties the block system/tools/[field] when it is one.
void clear_tools_block(const char* field) {
  StackSave save;
  Cell* block = push_system_value({"tools", field});
  if (block->is(kTypeBlock)) block_truncate(block, block->head());
}

void on_init() {
  g_open.clear();
  clear_tools_block("fun-stk");
  {
    StackSave save;
    Cell* block = push_system_value({"tools", "profiling"});
    if (block->is(kTypeBlock)) block_truncate(block, block->head());
    *records_cell() = block->is(kTypeBlock) ? *block : kNoneCell;
    g_known_cells = block->is(kTypeBlock) ? series_total_cells(block) : 0;
  }
  StackSave save;
  Cell* types = push_system_value({"tools", "options", "profile", "types"});
  g_types = types->is(kTypeTypeset) ? *types : kNoneCell;
}

// The cell index of [name]'s record from the records' head, or -1. MAY RUN
// KIV CODE only for a name that is neither a word nor a tag (a path).
int32_t find_record(Cell* name) {
  for (int32_t i = records_cell()->head(); i + kRecordSize <= series_total_cells(records_cell());
       i += kRecordSize) {
    Cell* at = &series_cells(records_cell()->node())[i];
    if (at->is(kTypeWord) && name->is(kTypeWord)) {
      if (symbol_same_name_q(word_symbol(at), word_symbol(name))) return i;
      continue;
    }
    Cell* other = stack_push_value(*at);
    bool same = g_hooks.compare_values(other, name, kCmpEqual) == 0;
    g_stack.top = other;
    if (same) return i;
  }
  return -1;
}

// MAY ALLOCATE. The call of [fn] by [ref] begins.
void on_call(const Cell& fn, const Cell& ref, int32_t frame) {
  if (!g_types.is(kTypeTypeset) || !typeset_has_q(&g_types, fn.type())) return;
  records_intact();
  if (!records_cell()->is(kTypeBlock)) return;
  StackSave save;
  Cell* name = stack_push_value(ref);
  if (kTypesetAnyFunction.has(ref.type())) {
    if (__builtin_add_overflow(g_anon_count, 1, &g_anon_count)) raise_error(kErrMathOverflow);
    std::string text = "anon" + std::to_string(g_anon_count);
    *name = *string_load_push(ByteSource(reinterpret_cast<const uint8_t*>(text.data())),
                              uint32_t(text.size()), kEncodingUtf8);
    name->set_type(kTypeTag);
  }
  int32_t at = find_record(name);
  if (at >= 0) {
    Cell* count = &series_cells(records_cell()->node())[at + 1];
    int32_t n = count->is(kTypeInteger) ? integer_get(count) : 0;
    if (__builtin_add_overflow(n, 1, &n)) raise_error(kErrMathOverflow);
    *count = integer_cell(n);
  } else {
    at = series_total_cells(records_cell());
    Cell* records = stack_push_value(*records_cell());
    Cell one = integer_cell(1);
    Cell zero = integer_cell(0);
    block_append_value(records, name);
    block_append_value(records, &one);
    block_append_value(records, &zero);
    g_known_cells = series_total_cells(records_cell());
  }
  g_open.push_back(OpenCall{at, now_steps(), kNoEnd, frame});
}

// Charges the last open call its time up to its end (else [now]) and closes it.
void close_call(int64_t now) {
  OpenCall call = g_open.back();
  g_open.pop_back();
  if (!records_intact() || call.record < 0) return;
  Cell* records = records_cell();
  Cell* duration = &series_cells(records->node())[call.record + 2];
  // Added up in whole steps: the sum stays a multiple of a step.
  double steps = double((call.end == kNoEnd ? now : call.end) - call.start);
  if (duration->is(kTypeTime))
    steps += std::nearbyint(time_get(duration) * 1e7);
  else if (duration->is(kTypeInteger))
    steps += double(integer_get(duration)) * 1e7;
  *duration = time_cell(steps / 1e7);
}

void profiler_event(TraceEvent event, const Cell& value, const Cell& reference, int32_t frame_base, int32_t) {
  switch (event) {
    case kTraceInit: on_init(); break;
    case kTraceCall: on_call(value, reference, frame_base); break;
    case kTraceProlog:
      if (!g_open.empty()) g_open.back().start = now_steps();
      break;
    case kTraceEpilog:
      if (!g_open.empty()) g_open.back().end = now_steps();
      break;
    case kTraceReturn: {
      int64_t now = now_steps();
      // the call's own record and any an error or a throw left above it lie
      // above the caller's arguments base
      while (!g_open.empty() && frame_base < g_open.back().frame) close_call(now);
      break;
    }
    default: break;
  }
}

}  // namespace

void profiler_init() {
  StackSave save;
  Cell* profiler = push_system_value({"tools", "profiler"});
  if (profiler->is(kTypeFunction)) trace_register_native(profiler, profiler_event);
}

// The profiler's events given by the Kiv tracer function (when it is called
// as a function rather than standing in as the tracer).
KIV_ROUTINE(ProfileEvent) {
  uint32_t event = trace_event_of_name(symbol_name(word_symbol(a.event)));
  if (event) profiler_event(TraceEvent(event), *a.value, *a.ref, pair_x(a.frame), pair_y(a.frame));
  return native_result(kUnsetCell);
}

}  // namespace kiv
