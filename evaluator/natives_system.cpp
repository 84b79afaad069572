// System natives: now, wait, get-env, set-env, list-env, size?, recycle,
// stats.
//
// The clock, sleeping, the environment and file sizes come from platform/;
// here the arguments are checked and the Kiv values made. Every value made
// goes onto the data stack before the next allocation.
#include <cmath>
#include <string>
#include <string_view>

#include "datatypes/block.h"
#include "datatypes/date.h"
#include "datatypes/file.h"
#include "datatypes/float.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/map.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/time.h"
#include "datatypes/word.h"
#include "evaluator/library_calls.h"
#include "evaluator/memory_stats.h"
#include "evaluator/natives.h"
#include "platform/clock.h"
#include "platform/environment.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/hooks.h"
#include "runtime/memory.h"
#include "runtime/typesets.h"

namespace kiv {

namespace {

// A count as an integer! while it fits, else as a float!.
Cell count_cell(double v) { return v <= 2147483647.0 ? integer_cell(int32_t(v)) : float_cell(v); }

// [text] with every byte that does not start or continue a valid UTF-8
// sequence replaced by U+FFFD: the environment holds bytes, not text.
std::string valid_utf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    auto b = uint8_t(text[i]);
    size_t n = b < 0x80                  ? 1
               : (b >= 0xC2 && b < 0xE0) ? 2
               : (b >= 0xE0 && b < 0xF0) ? 3
               : (b >= 0xF0 && b < 0xF5) ? 4
                                         : 0;
    bool ok = n != 0 && i + n <= text.size();
    for (size_t k = 1; ok && k < n; k++) ok = (uint8_t(text[i + k]) & 0xC0) == 0x80;
    if (ok && n == 3) {
      auto c = uint8_t(text[i + 1]);
      ok = !(b == 0xE0 && c < 0xA0) && !(b == 0xED && c >= 0xA0);  // overlong, surrogate
    }
    if (ok && n == 4) {
      auto c = uint8_t(text[i + 1]);
      ok = !(b == 0xF0 && c < 0x90) && !(b == 0xF4 && c >= 0x90);  // overlong, past U+10FFFF
    }
    if (ok) {
      out.append(text.substr(i, n));
      i += n;
    } else {
      out.append("\xEF\xBF\xBD");
      i++;
    }
  }
  return out;
}

// Pushes a string! of the UTF-8 bytes [text] (invalid bytes as U+FFFD).
Cell* push_text(std::string_view text) {
  std::string clean = valid_utf8(text);
  Cell* out = string_make_at(stack_push(), uint32_t(clean.size()));
  string_append_utf8(out, clean);
  return out;
}

// The variable name of get-env and set-env: a string's text from its head, a
// word's name.
std::string env_name(const Cell* var) {
  if (is_any_word(var->type())) return std::string(symbol_name(word_symbol(var)));
  return string_to_utf8(var);
}

}  // namespace

// ---------------------------------------------------------------- time

KIV_NATIVE(Now) {
  const bool picks[] = {a.year, a.month, a.day, a.time, a.zone, a.date, a.weekday, a.yearday, a.precise};
  int count = 0;
  for (bool p : picks) count += p ? 1 : 0;
  if (count > 1 && !(count == 2 && a.time && a.precise)) raise_error(kErrScriptBadRefines);

  ClockReading now = os_clock_now();
  int32_t zone_offset = a.utc ? 0 : now.zone_offset;
  // Zones are kept in quarter hours: an offset between them is cut toward zero.
  int32_t zone_hours = zone_offset / 3600;
  int32_t zone_minutes = (zone_offset % 3600) / 60;
  uint32_t zone = date_zone_bits(zone_hours, zone_minutes);
  int64_t zone_seconds = date_zone_seconds(zone);

  int64_t local = now.seconds + zone_seconds;
  int64_t days = local / 86400;
  int64_t second_of_day = local % 86400;
  if (second_of_day < 0) {
    second_of_day += 86400;
    days--;
  }
  double time = double(second_of_day);
  if (a.precise) time += double(now.nanoseconds / 100) * 1e-7;  // 100 ns steps
  uint32_t word = days_to_date(days + date_days_of(1970, 1, 1), zone, true);
  // The stored time is UTC; date_carry_days keeps the day when it passes the
  // day's end in either direction.
  double utc_time = time - double(zone_seconds);
  Cell date = date_cell(word, utc_time);

  int field = 0;
  if (a.year) field = kDateFieldYear;
  if (a.month) field = kDateFieldMonth;
  if (a.day) field = kDateFieldDay;
  if (a.time) field = kDateFieldTime;
  if (a.zone) field = kDateFieldZone;
  if (a.date) field = kDateFieldDate;
  if (a.weekday) field = kDateFieldWeekday;
  if (a.yearday) field = kDateFieldYearday;
  if (field) return native_result(date_get_field(&date, field));
  return native_result(date);
}

// wait: a number of seconds or a time!; sleeps at least one millisecond.
KIV_NATIVE(Wait) {
  double seconds = 0;
  if (a.value->is(kTypeInteger)) {
    seconds = double(integer_get(a.value));
  } else if (a.value->is(kTypeFloat) || a.value->is(kTypeTime) || a.value->is(kTypePercent)) {
    seconds = float_get(a.value);
  } else {
    raise_error(kErrScriptInvalidArg, a.value);
  }
  if (std::isnan(seconds)) raise_error(kErrScriptInvalidArg, a.value);
  double ms = std::trunc(seconds * 1000.0);
  constexpr double kLongest = 9.2e15;  // far beyond any wait, and within int64
  if (ms > kLongest) ms = kLongest;
  if (ms < 1) ms = 1;
  // While a view is shown its frames run for the time of the wait.
  if (g_hooks.view_wait && g_hooks.view_wait(int64_t(ms))) return native_result(kNoneCell);
  os_sleep_ms(int64_t(ms));
  return native_result(kNoneCell);
}

// ---------------------------------------------------------------- environment

KIV_NATIVE(GetEnv) {
  std::string value;
  if (!os_get_env(env_name(a.var), &value)) return native_result(kNoneCell);
  return native_result(*push_text(value));
}

// set-env: a string sets the variable, none! removes it. A name no variable
// can have (empty, holding "=" or a NUL) and a value holding a NUL raise
// invalid-arg, rather than being cut short by the C interface.
KIV_NATIVE(SetEnv) {
  std::string name = env_name(a.var);
  if (name.empty() || name.find('=') != std::string::npos || name.find('\0') != std::string::npos) {
    raise_error(kErrScriptInvalidArg, a.var);
  }
  bool done;
  if (a.value->is(kTypeNone)) {
    done = os_set_env(name, nullptr);
  } else {
    std::string value = string_to_utf8(a.value);
    if (value.find('\0') != std::string::npos) raise_error(kErrScriptInvalidArg, a.value);
    done = os_set_env(name, &value);
  }
  if (!done) raise_error(kErrScriptInvalidArg, a.var);
  return native_result(*a.value);
}

KIV_NATIVE(ListEnv) {
  auto vars = os_list_env();
  Cell* pairs = block_push_only(int32_t(vars.size() * 2));
  for (const auto& [name, value] : vars) {
    Cell* key = push_text(name);
    Cell* text = push_text(value);
    *append_cell(pairs->node()) = *key;
    *append_cell(pairs->node()) = *text;
    stack_pop(2);
  }
  Cell* map = stack_push();
  map_make_at(map, pairs->node(), 0);
  return native_result(*map);
}

// ---------------------------------------------------------------- files

// size?: none! for a directory path (ending in "/") and a file that cannot be
// opened for reading; a size past the integer! range comes as a float!.
KIV_NATIVE(SizeQ) {
  int32_t length = string_length(a.file);
  if (length <= 0) return native_result(kNoneCell);
  if (string_char_at(a.file, uint32_t(a.file->head() + length - 1)) == '/') return native_result(kNoneCell);
  int64_t size = os_file_size(file_to_os_path(a.file));
  if (size < 0) return native_result(kNoneCell);
  return native_result(count_cell(double(size)));
}

// ---------------------------------------------------------------- memory

KIV_NATIVE(Recycle) {
  if (a.on || a.off) {
    if (a.on) g_collector_active = true;
    if (a.off) g_collector_active = false;
    return native_result(kUnsetCell);
  }
  gc_collect();
  gc_release_free_frames();
  return native_result(count_cell(memory_stats(nullptr, 1)));
}

KIV_NATIVE(Stats) {
  if (!a.info && !a.show) return native_result(count_cell(memory_stats(nullptr, 1)));
  Cell* info = block_push_only(5);
  memory_stats(info, 2);
  if (!a.show) return native_result(*info);
  // The library prints the block; stats/show itself has no value.
  Cell* printed = stack_push_value(kNoneCell);
  call_library(LibraryCall::kShowMemoryStats, info, 1, printed);
  return native_result(kUnsetCell);
}

void natives_system_register() {
  KIV_REGISTER(Now);
  KIV_REGISTER(Wait);
  KIV_REGISTER(GetEnv);
  KIV_REGISTER(SetEnv);
  KIV_REGISTER(ListEnv);
  KIV_REGISTER(SizeQ);
  KIV_REGISTER(Recycle);
  KIV_REGISTER(Stats);
}

}  // namespace kiv
