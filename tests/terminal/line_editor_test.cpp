// The line editor driven by key tables, its bytes fed to a terminal emulator
// (libvterm): the rows the screen shows and where the cursor stands once the
// keys are typed, and how the edit ends (the line, the history decision).
#include "console/line_editor.h"

#include <gtest/gtest.h>
#include <vterm.h>

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "console/char_width.h"
#include "platform/terminal_keys.h"

namespace kiv {
namespace {

// Keys are written as text; a private-use character U+E0nn stands for the
// key code -nn.
#define UP U"\uE014"
#define DOWN U"\uE015"
#define RIGHT U"\uE016"
#define LEFT U"\uE017"
#define END U"\uE018"
#define HOME U"\uE019"
#define DEL U"\uE01B"

using Completer = std::function<void(const std::u32string&, size_t, std::vector<std::u32string>*, size_t*)>;

class VtermHost final : public EditorHost {
 public:
  VtermHost(int rows, int cols) : rows_(rows), cols_(cols) {
    vt_ = vterm_new(rows, cols);
    vterm_set_utf8(vt_, 1);
    screen_ = vterm_obtain_screen(vt_);
    vterm_screen_reset(screen_, 1);
  }
  ~VtermHost() override { vterm_free(vt_); }

  void type(const std::u32string& keys) {
    for (char32_t c : keys) keys_.push_back(c >= 0xE000 && c <= 0xE0FF ? -int32_t(c - 0xE000) : int32_t(c));
  }
  void show(const std::string& bytes) { vterm_input_write(vt_, bytes.data(), bytes.size()); }

  TerminalInput::Result read_key(int32_t* key) override {
    if (keys_.empty()) {
      if (!snapped_) snap();
      return TerminalInput::Result::kEnd;
    }
    *key = keys_.front();
    keys_.pop_front();
    return TerminalInput::Result::kKey;
  }
  void write(const std::string& bytes) override {
    written_ += bytes;
    show(bytes);
  }
  void flush() override {}
  void size(int* columns, int* rows) override {
    *columns = cols_;
    *rows = rows_;
  }
  int start_column() override { return cursor().col; }
  int history_count() override { return int(history.size()); }
  std::u32string history_entry(int i) override { return history[size_t(i)]; }
  void complete(const std::u32string& line, size_t cursor, std::vector<std::u32string>* items,
                size_t* new_cursor) override {
    if (completer) completer(line, cursor, items, new_cursor);
  }

  VTermPos cursor() const {
    VTermPos pos;
    vterm_state_get_cursorpos(vterm_obtain_state(vt_), &pos);
    return pos;
  }
  // Every row's text, blanks at the end left out.
  std::vector<std::string> screen() const {
    std::vector<std::string> rows;
    for (int r = 0; r < rows_; r++) {
      char buffer[1024];
      VTermRect rect{r, r + 1, 0, cols_};
      size_t n = vterm_screen_get_text(screen_, buffer, sizeof buffer, rect);
      std::string text(buffer, n);
      while (!text.empty() && text.back() == ' ') text.pop_back();
      rows.push_back(text);
    }
    while (!rows.empty() && rows.back().empty()) rows.pop_back();
    return rows;
  }

  std::vector<std::u32string> history;
  Completer completer;
  // The screen and cursor when the keys ran out.
  std::vector<std::string> snapped_screen;
  VTermPos snapped_cursor{};
  std::string written_;

 private:
  void snap() {
    snapped_ = true;
    snapped_screen = screen();
    snapped_cursor = cursor();
  }

  VTerm* vt_;
  VTermScreen* screen_;
  int rows_;
  int cols_;
  std::deque<int32_t> keys_;
  bool snapped_ = false;
};

struct EditCase {
  const char* name;
  int cols = 10;
  const char* before = "";  // printed before the edit starts
  std::u32string prompt = U">> ";
  bool hidden = false;
  std::vector<std::u32string> history = {};
  std::u32string keys = {};
  std::vector<std::string> screen = {};  // the rows when the keys ran out (or the edit ended)
  int row = 0;                           // and the cursor then
  int col = 0;
  EditEnd end = EditEnd::kInputEnded;
  std::u32string line = {};  // the line as the edit ended
  bool added = false;
};

const EditCase kCases[] = {
    {.name = "Typing", .keys = U"abc", .screen = {">> abc"}, .col = 6, .line = U"abc"},
    {.name = "Wrapping",
     .keys = U"abcdefghijkl",
     .screen = {">> abcdefg", "hijkl"},
     .row = 1,
     .col = 5,
     .line = U"abcdefghijkl"},
    {.name = "ExactlyFullPutsTheCursorOnTheNextRow",
     .keys = U"abcdefg",
     .screen = {">> abcdefg"},
     .row = 1,
     .col = 0,
     .line = U"abcdefg"},
    {.name = "LeftFromTheNextRow",
     .keys = U"abcdefg" LEFT,
     .screen = {">> abcdefg"},
     .col = 9,
     .line = U"abcdefg"},
    {.name = "RightBackToTheNextRow",
     .keys = U"abcdefg" LEFT RIGHT,
     .screen = {">> abcdefg"},
     .row = 1,
     .line = U"abcdefg"},
    {.name = "InsertInTheMiddleRewraps",
     .keys = U"abcdefghij" HOME U"X",
     .screen = {">> Xabcdef", "ghij"},
     .col = 4,
     .line = U"Xabcdefghij"},
    {.name = "HomeAndEndAcrossRows",
     .keys = U"abcdefghijkl" HOME U"\x05",
     .screen = {">> abcdefg", "hijkl"},
     .row = 1,
     .col = 5,
     .line = U"abcdefghijkl"},
    {.name = "CtrlAAndCtrlF", .keys = U"abc\x01\x06", .screen = {">> abc"}, .col = 4, .line = U"abc"},
    {.name = "CtrlB", .keys = U"abc\x02\x02", .screen = {">> abc"}, .col = 4, .line = U"abc"},
    {.name = "BackspaceAtTheEnd", .keys = U"abc\x7f", .screen = {">> ab"}, .col = 5, .line = U"ab"},
    {.name = "BackspaceUnwraps",
     .keys = U"abcdefgh\x08",
     .screen = {">> abcdefg"},
     .row = 1,
     .line = U"abcdefg"},
    {.name = "BackspaceInTheMiddle",
     .keys = U"abcd" LEFT LEFT U"\x7f",
     .screen = {">> acd"},
     .col = 4,
     .line = U"acd"},
    {.name = "BackspaceAtTheStartDoesNothing",
     .keys = U"ab" HOME U"\x7f",
     .screen = {">> ab"},
     .col = 3,
     .line = U"ab"},
    {.name = "Delete", .keys = U"abcd" HOME DEL, .screen = {">> bcd"}, .col = 3, .line = U"bcd"},
    {.name = "DeleteAtTheEndDoesNothing", .keys = U"ab" DEL, .screen = {">> ab"}, .col = 5, .line = U"ab"},
    {.name = "CtrlKCutsToTheEnd",
     .keys = U"abcdefghijkl" HOME RIGHT U"\x0b",
     .screen = {">> a"},
     .col = 4,
     .line = U"a"},
    {.name = "StartColumnFromWhatWasPrinted",
     .before = "xy",
     .keys = U"ab",
     .screen = {"xy>> ab"},
     .col = 7,
     .line = U"ab"},
    {.name = "StartColumnAndWrapping",
     .before = "xyz",
     .keys = U"abcdef",
     .screen = {"xyz>> abcd", "ef"},
     .row = 1,
     .col = 2,
     .line = U"abcdef"},
    {.name = "TabsInThePromptTakeFour",
     .prompt = U"\t>",
     .keys = U"ab",
     .screen = {"    >ab"},
     .col = 7,
     .line = U"ab"},
    {.name = "EscapesInThePromptTakeNothing",
     .prompt = U"\x1b[31m>\x1b[0m ",
     .keys = U"abcdefghi",
     .screen = {"> abcdefgh", "i"},
     .row = 1,
     .col = 1,
     .line = U"abcdefghi"},
    {.name = "PromptLinesBeforeTheLast",
     .prompt = U"Name?\n> ",
     .keys = U"ab",
     .screen = {"Name?", "> ab"},
     .row = 1,
     .col = 4,
     .line = U"ab"},
    {.name = "WideCharacters",
     .keys = U"\u4e2d\u6587",
     .screen = {">> \u4e2d\u6587"},
     .col = 7,
     .line = U"\u4e2d\u6587"},
    {.name = "WideCharacterAtTheLastColumnStartsTheNextRow",
     .keys = U"\u4e2d\u6587\u4e2d\u6587",
     .screen = {">> \u4e2d\u6587\u4e2d", "\u6587"},
     .row = 1,
     .col = 2,
     .line = U"\u4e2d\u6587\u4e2d\u6587"},
    {.name = "CursorOnAWrappedWideCharacter",
     .keys = U"\u4e2d\u6587\u4e2d\u6587" LEFT,
     .screen = {">> \u4e2d\u6587\u4e2d", "\u6587"},
     .row = 1,
     .line = U"\u4e2d\u6587\u4e2d\u6587"},
    {.name = "WideCharactersInsertedBefore",
     .keys = U"abcdef" HOME U"\u4e2d",
     .screen = {">> \u4e2d"
                "abcde",
                "f"},
     .col = 5,
     .line = U"\u4e2d"
             "abcdef"},
    {.name = "CombiningCharactersTakeNoColumn",
     .keys = U"e\u0301x",
     .screen = {">> e\u0301x"},
     .col = 5,
     .line = U"e\u0301x"},
    {.name = "TabInTheLine",
     .cols = 20,
     .keys = U"a\tb" LEFT,
     .screen = {">> a    b"},
     .col = 8,
     .line = U"a\tb"},
    {.name = "ControlCharactersShowAsReplacement",
     .history = {U"a\x01z"},
     .keys = UP,
     .screen = {">> a\ufffdz"},
     .col = 6,
     .line = U"a\x01z"},
    {.name = "HiddenShowsStars",
     .hidden = true,
     .keys = U"s\u4e2d\tt\r",
     .screen = {">> ****"},
     .end = EditEnd::kEnter,
     .line = U"s\u4e2d\tt"},
    {.name = "EnterAddsToTheHistory",
     .history = {U"old"},
     .keys = U"new\r",
     .screen = {">> new"},
     .end = EditEnd::kEnter,
     .line = U"new",
     .added = true},
    {.name = "EnterAfterWrappingEndsOnTheLastRow",
     .keys = U"abcdefghijkl" HOME U"\r",
     .screen = {">> abcdefg", "hijkl"},
     .row = 1,
     .end = EditEnd::kEnter,
     .line = U"abcdefghijkl",
     .added = true},
    {.name = "EnterOnAFullRowEndsOnIt",
     .keys = U"abcdefg\r",
     .screen = {">> abcdefg"},
     .end = EditEnd::kEnter,
     .line = U"abcdefg",
     .added = true},
    {.name = "TheNewestEntryIsNotAddedAgain",
     .history = {U"same"},
     .keys = U"same\r",
     .screen = {">> same"},
     .end = EditEnd::kEnter,
     .line = U"same"},
    {.name = "AnEmptyLineIsNotAdded", .keys = U"\r", .screen = {">>"}, .end = EditEnd::kEnter},
    {.name = "UpFetchesNewestFirst",
     .history = {U"two", U"one"},
     .keys = UP UP,
     .screen = {">> one"},
     .col = 6,
     .line = U"one"},
    {.name = "UpPastTheOldestEmptiesTheLine",
     .history = {U"two", U"one"},
     .keys = UP UP UP,
     .screen = {">>"},
     .col = 3},
    {.name = "DownAfterUpShowsTheSameEntry",
     .history = {U"two", U"one"},
     .keys = UP UP DOWN,
     .screen = {">> one"},
     .col = 6,
     .line = U"one"},
    {.name = "DownBelowTheNewestEmptiesTheLine",
     .history = {U"two"},
     .keys = U"x" DOWN,
     .screen = {">>"},
     .col = 3},
    {.name = "CtrlPAndCtrlN",
     .history = {U"two", U"one"},
     .keys = U"\x10\x10\x0e\x0e",
     .screen = {">> two"},
     .col = 6,
     .line = U"two"},
    {.name = "AShorterEntryClearsTheRowsOfALongerOne",
     .history = {U"ab", U"abcdefghijklmnop"},
     .keys = UP UP DOWN DOWN,
     .screen = {">> ab"},
     .col = 5,
     .line = U"ab"},
    {.name = "CtrlDOnAnEmptyLineQuits",
     .keys = U"\x04",
     .screen = {">>"},
     .end = EditEnd::kQuit,
     .line = U"q"},
    {.name = "CtrlDAtTheEndDoesNothing", .keys = U"ab\x04", .screen = {">> ab"}, .col = 5, .line = U"ab"},
    {.name = "CtrlDDeletesAtTheCursor",
     .keys = U"ab" LEFT LEFT U"\x04",
     .screen = {">> b"},
     .col = 3,
     .line = U"b"},
    {.name = "CtrlCQuitsWhateverTheLine",
     .keys = U"abc\x03",
     .screen = {">> abc"},
     .end = EditEnd::kQuit,
     .line = U"q"},
    {.name = "EscEndsWithEscAppended",
     .keys = U"ab\x1b",
     .screen = {">> ab"},
     .end = EditEnd::kEscape,
     .line = U"ab\x1b"},
    {.name = "OtherKeysAreIgnored",
     .keys = U"a\x07\x1a\uE01A\uE01C\uE01D\uE000b",
     .screen = {">> ab"},
     .col = 5,
     .line = U"ab"},
};

class LineEditorDraw : public testing::TestWithParam<EditCase> {};

TEST_P(LineEditorDraw, Keys) {
  const EditCase& c = GetParam();
  VtermHost host(6, c.cols);
  host.show(c.before);
  host.history = c.history;
  host.type(c.keys);
  LineEditor editor;
  SavedLine saved;
  EditEnd end = editor.edit(host, c.prompt, c.hidden, &saved);
  EXPECT_EQ(end, c.end);
  EXPECT_TRUE(editor.line() == c.line);
  if (end == EditEnd::kEnter) {
    EXPECT_EQ(editor.add_to_history_q(), c.added);
  }
  std::vector<std::string> screen = end == EditEnd::kInputEnded ? host.snapped_screen : host.screen();
  EXPECT_EQ(screen, c.screen);
  if (end == EditEnd::kInputEnded) {
    EXPECT_EQ(host.snapped_cursor.row, c.row);
    EXPECT_EQ(host.snapped_cursor.col, c.col);
  } else {
    // An edit that ends leaves the cursor at the start of the text's last row.
    EXPECT_EQ(host.cursor().row, c.row);
    EXPECT_EQ(host.cursor().col, 0);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, LineEditorDraw, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<EditCase>& info) { return info.param.name; });

// Completion: a table of what each line completes to.
Completer completions() {
  return
      [](const std::u32string& line, size_t cursor, std::vector<std::u32string>* items, size_t* new_cursor) {
        std::u32string before = line.substr(0, cursor);
        if (before == U"x: pri") {
          *items = {U"x: print"};
          *new_cursor = 8;
        } else if (before == U"ap") {
          *items = {U"app", U"append", U"apply"};
          *new_cursor = 3;
        }
      };
}

TEST(LineEditor, TabWithOneCandidateReplacesTheLine) {
  VtermHost host(6, 20);
  host.completer = completions();
  host.type(U"x: pri 1" LEFT LEFT U"\t");
  LineEditor editor;
  SavedLine saved;
  EXPECT_EQ(editor.edit(host, U">> ", false, &saved), EditEnd::kInputEnded);
  EXPECT_TRUE(editor.line() == U"x: print");
  EXPECT_EQ(host.snapped_screen, std::vector<std::string>{">> x: print"});
  EXPECT_EQ(host.snapped_cursor.col, 11);
}

TEST(LineEditor, TabWithSeveralCandidatesListsThemAndCarriesTheLine) {
  VtermHost host(6, 20);
  host.completer = completions();
  host.type(U"ap\t");
  LineEditor editor;
  SavedLine saved;
  EXPECT_EQ(editor.edit(host, U">> ", false, &saved), EditEnd::kListed);
  EXPECT_TRUE(editor.line().empty());
  EXPECT_TRUE(saved.text == U"app");
  EXPECT_EQ(saved.cursor, 3u);
  EXPECT_EQ(host.screen(), std::vector<std::string>{">> append apply"});
  // The next edit starts with the completed text.
  host.show("\r\n");
  host.type(U"l\r");
  EXPECT_EQ(editor.edit(host, U">> ", false, &saved), EditEnd::kEnter);
  EXPECT_TRUE(editor.line() == U"appl");
  EXPECT_TRUE(saved.text.empty());
}

TEST(LineEditor, TabWithNothingToCompleteIsATab) {
  VtermHost host(6, 20);
  host.completer = completions();
  host.type(U"[\tz");
  LineEditor editor;
  SavedLine saved;
  editor.edit(host, U">> ", false, &saved);
  EXPECT_TRUE(editor.line() == U"[\tz");
  EXPECT_EQ(host.snapped_screen, std::vector<std::string>{">> [    z"});
}

TEST(CharWidth, Table) {
  struct {
    uint32_t cp;
    int width;
  } cases[] = {
      {0, 0},       {'a', 1},    {0x1F, 1},    {0x7F, 1},    {0x9F, 1},    {0xA0, 1},
      {0xAD, 1},    {0x300, 0},  {0x36F, 0},   {0x1160, 0},  {0x11FF, 0},  {0x200B, 1},
      {0x1100, 2},  {0x3000, 2}, {0x4E00, 2},  {0xAC00, 2},  {0xFF01, 2},  {0x1F300, 2},
      {0x1F600, 2}, {0xFE0F, 0}, {0xE0100, 0}, {0x20000, 2}, {0x3FFFD, 2}, {0x10FFFF, 1},
  };
  for (auto c : cases) EXPECT_EQ(char_width(c.cp), c.width) << std::hex << c.cp;
}

}  // namespace
}  // namespace kiv
