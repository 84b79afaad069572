// The terminal module (terminal.h): the console routines over the line
// editor, the key reader and standard input.
//
// The line string and history block of the next edit, and the completion
// function, are module statics the collector marks (a mark callback). The
// text a Tab with several candidates carries into the next edit is C++ text:
// no Kiv code reads it.
#include "console/terminal.h"

#include <algorithm>
#include <new>
#include <string>
#include <vector>

#include "console/char_width.h"
#include "console/line_editor.h"
#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/object.h"
#include "datatypes/pair.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "evaluator/interpreter.h"
#include "library/library.h"
#include "library/routine_args.h"
#include "library/routines.h"
#include "platform/stdin_lines.h"
#include "platform/stdio.h"
#include "platform/terminal_input.h"
#include "platform/terminal_keys.h"
#include "platform/terminal_mode.h"
#include "platform/terminal_size.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/gc_root.h"
#include "runtime/stack.h"
#include "runtime/typesets.h"
#include "services/console_output.h"

namespace kiv {

namespace {

Cell g_line = make_cell(kTypeNone);       // the string the next edit fills
Cell g_history = make_cell(kTypeNone);    // its history block, newest first
Cell g_completer = make_cell(kTypeNone);  // the function Tab calls, made at the first Tab
SavedLine g_saved;
LineEditor g_editor;
TerminalInput g_input(0);

void mark_terminal_values() {
  gc_mark_cell(&g_line);
  gc_mark_cell(&g_history);
  gc_mark_cell(&g_completer);
}

// The text of the any-string [str] from its index.
std::u32string string_text(const Cell* str) {
  std::u32string text;
  int32_t total = string_total_length(str);
  for (int32_t i = std::max(string_head_index(str), 0); i < total; i++)
    text.push_back(char32_t(string_char_at(str, uint32_t(i))));
  return text;
}

// MAY ALLOCATE. Appends [text] to the string [str] (a stable cell).
void string_append_text(const Cell* str, const std::u32string& text) {
  for (char32_t c : text) append_char(str->node(), uint32_t(c));
}

// MAY RUN KIV CODE. Stores [columns] x [rows] into system/console/size.
void store_console_size(int columns, int rows) {
  StackSave save;
  Cell* console = library_eval_in_library("system/console");
  if (!console->is(kTypeObject)) return;
  Root word(load_word("size"));
  int32_t i = object_field_index(console, word.get());
  if (i >= 0) object_get_values(console)[i] = pair_cell(columns, rows);
}

// The terminal's size: 80 columns for a width of 0, 80x50 without a terminal.
void read_size(int* columns, int* rows) {
  int c = 0;
  int r = 0;
  if (!terminal_size(1, &c, &r) && !terminal_size(0, &c, &r)) {
    c = 80;
    r = 50;
  }
  *columns = c > 0 ? c : 80;
  *rows = r > 0 ? r : 50;
}

// The history entry [i] from the block's index: its text, or nothing for a
// value that is no string.
std::u32string history_text(int i) {
  if (!g_history.is(kTypeBlock)) return {};
  int32_t at = series_clamp_head(&g_history, series_total_cells(&g_history)) + i;
  if (at >= series_total_cells(&g_history)) return {};
  Cell entry = series_cells(g_history.node())[at];
  if (!is_any_string(entry.type())) return {};
  return string_text(&entry);
}

int history_length() {
  if (!g_history.is(kTypeBlock)) return 0;
  int32_t total = series_total_cells(&g_history);
  return total - series_clamp_head(&g_history, total);
}

// MAY RUN KIV CODE. The completion of the line [line] with the cursor at
// [cursor]: kiv-complete-ctx/complete-input in console mode, run so that an
// error or a throw in it gives no candidates.
void complete_line(const std::u32string& line, size_t cursor, std::vector<std::u32string>* items,
                   size_t* new_cursor) {
  StackSave save;
  if (!g_completer.is(kTypeFunction)) {
    Cell* made = library_eval_in_library(
        "func [line [string!] /local r][r: try/all [kiv-complete-ctx/complete-input line true] "
        "either block? :r [r][copy []]]");
    g_completer = *made;
  }
  Cell* text = string_make_at(stack_push_value(make_cell(kTypeNone)), uint32_t(line.size()));
  string_append_text(text, line);
  text->set_head(int32_t(cursor));
  Cell* result = stack_push_value(make_cell(kTypeNone));
  Cell completer = g_completer;
  Cell* fn = stack_push_value(completer);
  call_value(fn, text, 1, result);
  if (!result->is(kTypeBlock)) return;
  int32_t total = series_total_cells(result);
  for (int32_t i = series_clamp_head(result, total); i < total; i++) {
    Cell item = series_cells(result->node())[i];
    if (!is_any_string(item.type())) continue;
    if (items->empty()) *new_cursor = size_t(std::max(string_head_index(&item), 0));
    Cell whole = item;
    whole.set_head(0);
    items->push_back(string_text(&whole));
  }
}

// The editor's side of a terminal: keys from standard input, bytes to
// standard output.
class TerminalHost final : public EditorHost {
 public:
  TerminalInput::Result read_key(int32_t* key) override { return g_input.read_key(key); }
  void write(const std::string& bytes) override { out_ += bytes; }
  void flush() override {
    if (!out_.empty()) (void)fd_write_all(1, out_.data(), out_.size());
    out_.clear();
  }
  void size(int* columns, int* rows) override {
    read_size(columns, rows);
    store_console_size(*columns, *rows);
  }
  int start_column() override {
    flush();
    return g_input.query_cursor_column(1);
  }
  int history_count() override { return history_length(); }
  std::u32string history_entry(int i) override { return history_text(i); }
  void complete(const std::u32string& line, size_t cursor, std::vector<std::u32string>* items,
                size_t* new_cursor) override {
    complete_line(line, cursor, items, new_cursor);
  }

 private:
  std::string out_;
};

// MAY RUN KIV CODE. One line edited on the terminal into g_line. False when
// the input ended first.
bool edit_on_terminal(const Cell* prompt, bool hidden) {
  conout_finish();  // what was printed goes out before the prompt
  terminal_signals_install();
  raw_mode_on(0);
  TerminalHost host;
  EditEnd end;
  try {
    end = g_editor.edit(host, string_text(prompt), hidden, &g_saved);
  } catch (const std::bad_alloc&) {
    // The editor's own text and output buffers: the memory error, the
    // terminal as it was.
    raw_mode_off();
    raise_error(kErrInternalNoMemory);
  } catch (...) {
    host.flush();
    raw_mode_off();
    throw;
  }
  raw_mode_off();
  (void)fd_write_all(1, "\r\n", 2);
  if (end == EditEnd::kInputEnded) return false;
  if (!g_line.is(kTypeString)) return true;
  Cell line = g_line;
  string_reset(&line);
  string_append_text(&line, g_editor.line());
  if (end == EditEnd::kEnter && g_editor.add_to_history_q() && g_history.is(kTypeBlock)) {
    Cell history = g_history;
    Cell entry = g_line;
    block_insert_value(&history, &entry, false, false);
  }
  return true;
}

}  // namespace

void console_terminal_init() {
  add_mark_callback(mark_terminal_values);
  KIV_ROUTINE_INSTALL(SetBufferHistory);
  KIV_ROUTINE_INSTALL(ReadInput);
  KIV_ROUTINE_INSTALL(TerminateConsole);
  KIV_ROUTINE_INSTALL(InputStdin);
  KIV_ROUTINE_INSTALL(ReadStdin);
  KIV_ROUTINE_INSTALL(ConsoleInit);
  KIV_ROUTINE_INSTALL(CellWidth);
}

void console_objects_init() {
  StackSave save;
  Cell* console = library_eval_in_library("system/console");
  if (console->is(kTypeObject)) console_routines_into(console);
}

void console_init_terminal(const Cell* title) {
  if (fd_is_terminal(1)) {
    conout_finish();
    std::string text = "\x1b]0;";
    for (char32_t c : string_text(title))
      if (!(c < 32 || (c >= 127 && c < 160))) utf8_append(text, uint32_t(c));
    text += '\a';
    (void)fd_write_all(1, text.data(), text.size());  // a title that cannot be set is no failure
  }
  if (stdin_is_terminal()) terminal_signals_install();
  int columns, rows;
  read_size(&columns, &rows);
  store_console_size(columns, rows);
}

// ---------------------------------------------------------------- the routines

KIV_ROUTINE(SetBufferHistory) {
  g_line = *a.line;
  g_history = *a.hist;
  if (stdio_are_terminals()) {
    terminal_signals_install();
    raw_mode_on(0);
  }
  return native_result(make_cell(kTypeUnset));
}

KIV_ROUTINE(ReadInput) {
  bool hidden = logic_get(a.hidden_q) != 0;
  if (stdio_are_terminals()) return native_result(logic_cell(edit_on_terminal(a.prompt, hidden)));
  std::u32string text;
  bool got = stdin_read_line(&text);
  if (g_line.is(kTypeString)) {
    Cell line = g_line;
    string_append_text(&line, text);
  }
  return native_result(logic_cell(got));
}

KIV_ROUTINE(TerminateConsole) { return native_result(make_cell(kTypeUnset)); }

KIV_ROUTINE(InputStdin) {
  std::u32string text;
  stdin_read_line(&text);
  Cell* str = string_make_at(stack_push_value(make_cell(kTypeNone)), 256);
  string_append_text(str, text);
  return native_result(*str);
}

// The bytes read go in at the buffer's position, before what follows it.
KIV_ROUTINE(ReadStdin) {
  int32_t wanted = integer_get(a.buflen);
  if (wanted <= 0) return native_result(*a.buffer);
  std::vector<uint8_t> bytes(std::min<size_t>(size_t(wanted), size_t(1) << 20));
  size_t n = stdin_read_bytes(bytes.data(), bytes.size());
  if (n == 0) return native_result(*a.buffer);
  Cell buffer = *a.buffer;
  int32_t total = int32_t(series_length(buffer.node()));
  int32_t at = std::clamp(buffer.head(), 0, total);
  binary_append_bytes(&buffer, bytes.data(), uint32_t(n));
  uint8_t* base = series_buffer_of(&buffer)->head_ptr();
  std::rotate(base + at, base + total, base + total + n);
  return native_result(*a.buffer);
}

KIV_ROUTINE(ConsoleInit) {
  console_init_terminal(a.str);
  return native_result(make_cell(kTypeUnset));
}

// Two cells for a wide character, none for a combining one, from the head.
KIV_ROUTINE(CellWidth) {
  int32_t cells = 0;
  int32_t head = string_head_index(a.text), length = string_length(a.text);
  for (int32_t i = 0; i < length; i++) cells += char_width(string_char_at(a.text, uint32_t(head + i)));
  return native_result(integer_cell(cells));
}

}  // namespace kiv
