// The line editor (line_editor.h): keys to line changes, line changes to
// terminal bytes.
#include "console/line_editor.h"

#include <algorithm>

#include "console/char_width.h"
#include "platform/terminal_keys.h"

namespace kiv {

namespace {

// Ctrl-letter codes the editor reads.
enum : int32_t {
  kCtrlA = 1,
  kCtrlB = 2,
  kCtrlC = 3,
  kCtrlD = 4,
  kCtrlE = 5,
  kCtrlF = 6,
  kCtrlK = 11,
  kCtrlN = 14,
  kCtrlP = 16,
};

constexpr int kTabColumns = 4;

bool control_q(uint32_t c) { return c < 32 || (c >= 127 && c < 160); }

std::string csi(int n, char final) { return "\x1b[" + std::to_string(n) + final; }

}  // namespace

int64_t LineEditor::measure(const std::u32string& text, size_t from, size_t to, int64_t pos, bool masked,
                            std::string* out) const {
  for (size_t i = from; i < to; i++) {
    uint32_t c = text[i];
    if (masked) {
      if (out) *out += '*';
      pos += 1;
      continue;
    }
    if (c == '\t') {
      if (out) out->append(kTabColumns, ' ');
      pos += kTabColumns;
      continue;
    }
    if (c == 27 && i + 1 < to && (text[i + 1] == '[' || text[i + 1] == '(')) {
      // An escape sequence takes no column: ESC, the bracket, digits and ";",
      // and one final character.
      size_t j = i + 2;
      while (j < to && ((text[j] >= '0' && text[j] <= '9') || text[j] == ';')) j++;
      if (j < to) j++;
      if (out)
        for (size_t k = i; k < j; k++) utf8_append(*out, text[k]);
      i = j - 1;
      continue;
    }
    if (control_q(c)) {
      // Any other control character would act on the terminal: it shows as
      // U+FFFD in its one column.
      if (out) utf8_append(*out, kReplacementChar);
      pos += 1;
      continue;
    }
    int width = char_width(c);
    if (width == 2 && pos % columns_ == columns_ - 1)
      pos += 3;  // starts the next row
    else
      pos += width;
    if (out) utf8_append(*out, c);
  }
  return pos;
}

void LineEditor::move_to(int64_t target) {
  int64_t from_row = cursor_pos_ / columns_;
  int64_t to_row = target / columns_;
  int64_t to_col = target % columns_;
  if (from_row == to_row && cursor_pos_ % columns_ == to_col) return;
  std::string out;
  if (to_row < from_row) out += csi(int(from_row - to_row), 'A');
  if (to_row > from_row) out += csi(int(to_row - from_row), 'B');
  out += '\r';
  if (to_col > 0) out += csi(int(to_col), 'C');
  host_->write(out);
  cursor_pos_ = target;
}

void LineEditor::refresh(bool full) {
  if (first_draw_) {
    first_draw_ = false;
    start_column_ = std::clamp(host_->start_column(), 0, columns_ - 1);
    cursor_pos_ = start_column_;
    full = true;
  }
  int64_t pos = measure(prompt_, 0, prompt_.size(), start_column_, false, nullptr);
  int64_t cur = measure(line_, 0, cursor_, pos, hidden_, nullptr);
  if (full) {
    move_to(start_column_);
    std::string out = "\x1b[J";
    measure(prompt_, 0, prompt_.size(), start_column_, false, &out);
    end_pos_ = measure(line_, 0, line_.size(), pos, hidden_, &out);
    cursor_pos_ = end_pos_;
    if (end_pos_ % columns_ == 0 && end_pos_ > start_column_) out += "\r\n";
    host_->write(out);
  }
  int64_t target = cur;
  if (!hidden_ && cursor_ < line_.size() && char_width(line_[cursor_]) == 2 && cur % columns_ == columns_ - 1)
    target = cur + 1;  // the wide character at the cursor starts the next row
  move_to(target);
}

void LineEditor::fetch_history(int i) {
  line_ = host_->history_entry(i);
  cursor_ = line_.size();
}

void LineEditor::insert(uint32_t c) {
  if (cursor_ < line_.size()) {
    line_.insert(line_.begin() + std::ptrdiff_t(cursor_), char32_t(c));
    cursor_++;
    refresh(true);
    return;
  }
  // At the end: only the new character is written.
  line_.push_back(char32_t(c));
  cursor_ = line_.size();
  std::string out;
  int64_t end = measure(line_, line_.size() - 1, line_.size(), end_pos_, hidden_, &out);
  if (end % columns_ == 0 && end > end_pos_) out += "\r\n";
  host_->write(out);
  end_pos_ = end;
  cursor_pos_ = end;
  refresh(false);
}

EditEnd LineEditor::edit(EditorHost& host, const std::u32string& prompt, bool hidden, SavedLine* saved) {
  host_ = &host;
  hidden_ = hidden;
  add_to_history_ = false;
  line_.clear();
  cursor_ = 0;
  first_draw_ = true;
  history_index_ = -1;
  host.size(&columns_, &rows_);
  if (columns_ <= 0) columns_ = 80;

  // The lines of a prompt before its last line feed are written once.
  size_t lf = prompt.rfind(U'\n');
  if (lf == std::u32string::npos) {
    prompt_ = prompt;
  } else {
    std::string head;
    for (size_t i = 0; i <= lf; i++) {
      if (prompt[i] == U'\n') head += '\r';
      utf8_append(head, prompt[i]);
    }
    host.write(head);
    prompt_ = prompt.substr(lf + 1);
  }
  if (!saved->text.empty()) {
    line_ = saved->text;
    cursor_ = std::min(saved->cursor, line_.size());
  }
  refresh(true);
  host.flush();

  // Leaves the cursor at the start of the last row of the text.
  auto finish = [&](EditEnd end) {
    int64_t last = end_pos_;
    if (last % columns_ == 0 && last > start_column_) last -= 1;
    move_to(last / columns_ * columns_);
    host.flush();
    return end;
  };

  for (;;) {
    int32_t key = 0;
    TerminalInput::Result got = host.read_key(&key);
    if (got == TerminalInput::Result::kEnd) return finish(EditEnd::kInputEnded);
    if (got == TerminalInput::Result::kResized) {
      host.size(&columns_, &rows_);
      if (columns_ <= 0) columns_ = 80;
      continue;
    }
    if (got == TerminalInput::Result::kContinued) {
      host.size(&columns_, &rows_);
      if (columns_ <= 0) columns_ = 80;
      first_draw_ = true;
      refresh(true);
      host.flush();
      continue;
    }
    switch (key) {
      case kKeyTab: {
        std::vector<std::u32string> items;
        size_t new_cursor = 0;
        host.complete(line_, cursor_, &items, &new_cursor);
        if (items.empty()) {
          insert(kKeyTab);
        } else if (items.size() == 1) {
          line_ = items[0];
          cursor_ = std::min(new_cursor, line_.size());
          refresh(true);
        } else {
          saved->text = items[0];
          saved->cursor = new_cursor;
          line_.clear();
          for (size_t i = 1; i < items.size(); i++) line_ += items[i] + U" ";
          cursor_ = line_.size();
          refresh(true);
          line_.clear();
          return finish(EditEnd::kListed);
        }
        break;
      }
      case kKeyEnter: {
        int count = host.history_count();
        add_to_history_ = !hidden_ && !line_.empty() && (count == 0 || host.history_entry(0) != line_);
        saved->text.clear();
        saved->cursor = 0;
        return finish(EditEnd::kEnter);
      }
      case kKeyBackspace:
      case kKeyDel:
        if (cursor_ > 0) {
          cursor_--;
          line_.erase(cursor_, 1);
          if (cursor_ == line_.size()) {
            refresh(false);
            host.write("\x1b[J");
            end_pos_ = cursor_pos_;
          } else {
            refresh(true);
          }
        }
        break;
      case kKeyLeft:
      case kCtrlB:
        if (cursor_ > 0) {
          cursor_--;
          refresh(false);
        }
        break;
      case kKeyRight:
      case kCtrlF:
        if (cursor_ < line_.size()) {
          cursor_++;
          refresh(false);
        }
        break;
      case kKeyDown:
      case kCtrlN:
        if (history_index_ < 0) {
          line_.clear();
          cursor_ = 0;
        } else {
          fetch_history(history_index_);
          history_index_--;
        }
        refresh(true);
        break;
      case kKeyUp:
      case kCtrlP:
        if (history_index_ >= host.history_count() - 1) {
          line_.clear();
          cursor_ = 0;
        } else {
          history_index_++;
          fetch_history(history_index_);
        }
        refresh(true);
        break;
      case kKeyHome:
      case kCtrlA:
        cursor_ = 0;
        refresh(false);
        break;
      case kKeyEnd:
      case kCtrlE:
        cursor_ = line_.size();
        refresh(false);
        break;
      case kKeyDelete:
        if (cursor_ < line_.size()) {
          line_.erase(cursor_, 1);
          refresh(true);
        }
        break;
      case kCtrlK:
        if (cursor_ < line_.size()) {
          line_.erase(cursor_);
          refresh(true);
        }
        break;
      case kCtrlD:
        if (line_.empty()) {
          line_ = U"q";
          return finish(EditEnd::kQuit);
        }
        if (cursor_ < line_.size()) {
          line_.erase(cursor_, 1);
          refresh(true);
        }
        break;
      case kCtrlC: line_ = U"q"; return finish(EditEnd::kQuit);
      case kKeyEscape:
        saved->text.clear();
        saved->cursor = 0;
        line_.push_back(char32_t(kKeyEscape));
        return finish(EditEnd::kEscape);
      default:
        if (key > 31 && key != kKeyDel) insert(uint32_t(key));
        break;
    }
    host.flush();
  }
}

}  // namespace kiv
