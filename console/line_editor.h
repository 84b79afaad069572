// The console's line editor: one line edited on a terminal in raw mode, with
// the prompt before it, wrapping over rows, wide and combining characters,
// tabs and escape sequences in the prompt, cursor moves, deletion, history,
// Tab completion and hidden input.
//
// The editor knows no Kiv value and no descriptor: keys come from its host,
// bytes go to it, and the history and completion are the host's questions.
// So it is tested with byte tables, and its drawing through a terminal
// emulator.
//
// Drawing. Positions are linear: column + row x columns, counted from column
// 0 of the row the prompt starts on; the prompt starts at the column the
// terminal reported (CSI 6n) for the first draw. Moves are relative to that
// row, so a terminal that scrolled meanwhile does not matter: CR, CSI n A
// (up), CSI n B (down), CSI n C (right), and CSI J erases from the cursor on.
// A tab is four blanks; an escape sequence (ESC [ or ESC ( with digits and
// ";" and a final character) takes no column; a wide character that would
// start in the last column starts the next row, the column it leaves counted
// too. Text that ends exactly at the right edge is followed by CR LF, so the
// cursor stands at the start of the next row, not in the pending-wrap state
// terminals differ on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/terminal_input.h"

namespace kiv {

// What the editor asks of its surroundings.
class EditorHost {
 public:
  virtual ~EditorHost() = default;
  // Waits for the next key (TerminalInput::read_key).
  virtual TerminalInput::Result read_key(int32_t* key) = 0;
  // Bytes for the terminal; sent at flush.
  virtual void write(const std::string& bytes) = 0;
  // Sends what write collected (after each key).
  virtual void flush() = 0;
  // The terminal's columns and rows now (columns > 0).
  virtual void size(int* columns, int* rows) = 0;
  // The 0-based column the cursor stands in before the first draw.
  virtual int start_column() = 0;
  // The number of history entries, newest first, and entry [i] of them.
  virtual int history_count() = 0;
  virtual std::u32string history_entry(int i) = 0;
  // Completion of [line] with the cursor at [cursor]: the new line text as
  // items[0] with its cursor in [*new_cursor], then the candidates when there
  // are several. No items: nothing to complete. MAY RUN KIV CODE.
  virtual void complete(const std::u32string& line, size_t cursor, std::vector<std::u32string>* items,
                        size_t* new_cursor) = 0;
};

// Text carried into the next edit: a completion with several candidates
// leaves the completed line here.
struct SavedLine {
  std::u32string text;
  size_t cursor = 0;
};

enum class EditEnd : uint8_t {
  kEnter,      // Enter: the line, to be added to the history (add_to_history_q)
  kEscape,     // Esc: the line with ESC (27) appended
  kQuit,       // Ctrl-C, or Ctrl-D on an empty line: the line is "q"
  kListed,     // Tab listed several candidates: the line is empty
  kInputEnded  // the terminal's input ended: the line as it stood
};

class LineEditor {
 public:
  // Edits one line after [prompt] (shown as it is; text up to its last line
  // feed is written once, before the edited rows). [saved], when not empty,
  // is the line's start and is emptied by Enter and Esc; it takes the
  // completed text when Tab lists several candidates. [hidden]: every
  // character shows as "*".
  EditEnd edit(EditorHost& host, const std::u32string& prompt, bool hidden, SavedLine* saved);

  // The line as the edit ended.
  const std::u32string& line() const { return line_; }
  // After kEnter: whether the line goes into the history (not hidden, not
  // empty, not the newest entry again).
  bool add_to_history_q() const { return add_to_history_; }

 private:
  // The linear position after [text][from, to) drawn from position [pos];
  // the display form is appended to [out] when it is not null.
  int64_t measure(const std::u32string& text, size_t from, size_t to, int64_t pos, bool masked,
                  std::string* out) const;
  // Writes the prompt and the line anew ([full]) or only moves the cursor.
  void refresh(bool full);
  // Moves the cursor from where it stands to linear position [target].
  void move_to(int64_t target);
  void fetch_history(int i);
  void insert(uint32_t c);

  EditorHost* host_ = nullptr;
  std::u32string prompt_;
  std::u32string line_;
  size_t cursor_ = 0;
  bool hidden_ = false;
  bool add_to_history_ = false;
  int columns_ = 80;
  int rows_ = 24;
  int start_column_ = 0;
  bool first_draw_ = true;
  int64_t cursor_pos_ = 0;  // where the terminal's cursor stands, linear
  int64_t end_pos_ = 0;     // the end of the text drawn, linear
  int history_index_ = -1;
};

}  // namespace kiv
