// The event loop's input without a terminal: bytes as a terminal sends them
// (keys, SGR mouse reports, cut anywhere between reads) go to a view shown
// with view/no-wait, through the widgets and system/view/awake, with the
// library loaded; the actors log what reached them.
#include <gtest/gtest.h>

#include <string>

#include "datatypes/string.h"
#include "fuzz/library_call.h"
#include "library/library.h"
#include "runtime/collector.h"
#include "tui/event_loop.h"
#include "tui/screen_buffer.h"

namespace kiv {
namespace {

// MAY RUN KIV CODE. The mold of what [code] evaluates to in the library's context.
std::string eval_mold(const std::string& code) {
  StackSave save;
  std::string text;
  EXPECT_TRUE(fuzz::guarded([&] {
    Cell* value = library_eval("mold do [" + code + "]");
    text = string_to_utf8(value);
  })) << code;
  return text;
}

void feed(const std::string& bytes, bool final = true) {
  loop_feed(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), final);
}

// A press and a release of the left button at 0-based cell [x], [y].
std::string click_at(int x, int y) {
  std::string at = std::to_string(x + 1) + ";" + std::to_string(y + 1);
  return "\x1b[<0;" + at + "M\x1b[<0;" + at + "m";
}

class TuiEventLoop : public ::testing::Test {
 protected:
  void SetUp() override {
    fuzz::library_started();
    loop_reset_state();
    tui_screen().origin_row = 0;
    eval_mold(
        "log: copy [] "
        "w: layout [f: field b: base 10x2 \"B\" on-click [append log 'click] on-dbl-click [append log 'dbl] "
        "on-over [append log either event/away? ['away]['over]]] "
        "view/no-wait w true");
  }
  void TearDown() override {
    eval_mold("unview/all true");
    loop_reset_state();
    EXPECT_EQ(gc_verify(), 0);
  }
  // The cell of [face]'s top-left corner in the window.
  static std::pair<int, int> corner(const char* face) {
    std::string x = eval_mold(std::string("to integer! ") + face + "/offset/x");
    std::string y = eval_mold(std::string("to integer! ") + face + "/offset/y");
    return {std::stoi(x), std::stoi(y)};
  }
};

TEST_F(TuiEventLoop, KeysReachTheFocusedFieldWhateverTheCuts) {
  std::string typed = "a\xc3\xa9\x1b[D\x1b[Db";  // a, é, Left, Left, b
  for (size_t cut = 0; cut <= typed.size(); cut++) {
    eval_mold("clear f/text true");
    loop_reset_state();
    feed(typed.substr(0, cut), false);
    feed(typed.substr(cut));
    EXPECT_EQ(eval_mold("f/text"), "\"ba\xc3\xa9\"") << "cut at " << cut;
  }
}

// A move report (button code 35: motion, no button) to 0-based cell [x], [y].
std::string move_to(int x, int y) {
  return "\x1b[<35;" + std::to_string(x + 1) + ";" + std::to_string(y + 1) + "M";
}

TEST_F(TuiEventLoop, ClicksDoubleClicksAndHover) {
  auto [x, y] = corner("b");
  auto [fx, fy] = corner("f");
  feed(move_to(fx, fy) + move_to(x, y));
  EXPECT_EQ(eval_mold("log"), "[over]") << "the window first, then the base below it";
  feed(click_at(x, y) + click_at(x, y));
  EXPECT_EQ(eval_mold("log"), "[over click click dbl]");
  feed(click_at(x + 1, y));
  EXPECT_EQ(eval_mold("log"), "[over click click dbl click]") << "a third click is a plain click";
  feed(move_to(fx, fy));
  EXPECT_EQ(eval_mold("last log"), "away") << "a sibling takes the hover";
}

TEST_F(TuiEventLoop, AClickPlacesTheFieldsCaret) {
  feed("abc");
  auto [x, y] = corner("f");
  feed(click_at(x + 1, y) + "z");
  EXPECT_EQ(eval_mold("f/text"), "\"azbc\"");
}

}  // namespace
}  // namespace kiv
