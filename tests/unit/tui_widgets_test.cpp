// Widgets made from faces and rendered into a grid of a set size: the rows
// of cells (text, colours, attributes), the kinds' keys and events, the
// widgets' lifetime through their handles, and the errors of bad facets.
//
// The faces are plain objects with the facets the widgets read; the view
// layer's own Kiv code is not loaded here.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "datatypes/context.h"
#include "datatypes/handle.h"
#include "datatypes/symbol.h"
#include "eval_test.h"
#include "evaluator/base_env.h"
#include "runtime/unicode.h"
#include "tests/terminal/screen_rows.h"
#include "tui/draw_hooks.h"
#include "tui/widgets.h"

namespace kiv {
namespace {

using test::row_text;

using test::catch_error;
using test::eval_mold;
using test::evaluate;

constexpr const char* kFaceFields =
    "make object! [type: 'base offset: 0x0 size: 10x1 text: #(none) data: #(none) flags: #(none) visible?: "
    "#(true) "
    "enabled?: #(true) color: #(none) font: #(none) para: #(none) options: #(none) image: #(none) draw: "
    "#(none) pane: #(none) "
    "state: #(none) rate: #(none) selected: #(none) parent: #(none) ";

// One character a cell: 'd' dim, 'i' inverse, 'p' password, '.' none of them.
std::string row_marks(ScreenBuffer& s, int32_t y) {
  std::string text;
  for (int32_t x = 0; x < s.width; x++) {
    uint32_t a = s.at(x, y)->attributes;
    text += (a & kAttrDim) ? 'd' : (a & kAttrInverse) ? 'i' : (a & kAttrPassword) ? 'p' : '.';
  }
  return text;
}

// The events widgets send, as "type:picked" words.
std::vector<std::string> g_sent;
const char* g_answer = nullptr;  // a word the handler answers, or none

void record_sent(WidgetRef, uint32_t type, const EventRecord& record, Cell* result) {
  g_sent.push_back(std::string(kEventTypeNames[type]) + ":" + std::to_string(record.code));
  *result = g_answer ? word_cell(kTypeWord, 0, symbol_make(g_answer), -1) : kNoneCell;
}

class TuiWidgets : public ::testing::Test {
 protected:
  void SetUp() override {
    base_environment_init();
    g_sent.clear();
    g_answer = nullptr;
    widgets_set_sender(record_sent);
    eval("TUI-helpers: #(none)");
  }
  void TearDown() override {
    while (!window_list().empty()) widget_free(window_list().back());
    widgets_set_sender(nullptr);
    EXPECT_EQ(widget_count(), 0u);
  }

  static Cell* eval(const std::string& source) {
    Cell* out = nullptr;
    ErrorId e = catch_error([&] { EXPECT_EQ(evaluate(source, &out), kStatusOk) << source; });
    EXPECT_EQ(e, test::kNoError) << source << ": " << error_info(e).word;
    return out;
  }
  // Sets the global [name] to a face with [fields] over the defaults.
  static void face(const std::string& name, const std::string& fields) {
    eval(name + ": " + kFaceFields + fields + "]");
  }
  // Makes the widget of the face [name] under [parent], as the view layer
  // does: its handle! goes into the face's state block.
  static WidgetRef show(const std::string& name, WidgetRef parent = kNoWidget) {
    Cell* f = eval(name);
    WidgetRef ref = widget_make(f, parent);
    Cell handle = widget_handle(ref);
    Cell word = context_global_word(symbol_make("test-handle"));
    set_word_value(&word, &handle);
    eval(name + "/state: reduce [test-handle 0 #(none) #(false)]");
    return ref;
  }
  // A window of [width] x [height] holding the faces [children] (names), made in order.
  WidgetRef window(int32_t width, int32_t height, const std::vector<std::string>& children,
                   const std::string& fields = "") {
    std::string pane;
    for (const auto& c : children) pane += c + " ";
    face("win", "type: 'window size: " + std::to_string(width) + "x" + std::to_string(height) + " " + fields);
    eval("win/pane: reduce [" + pane + "]");
    WidgetRef win = show("win");
    for (const auto& c : children) refs_.push_back(show(c, win));
    return win;
  }
  ScreenBuffer render(WidgetRef win) {
    ScreenBuffer s;
    WindowRecord* rec = window_record(win);
    screen_resize_to(s, rec->x1, rec->y1, rec->x2, rec->y2, 200, 100);
    window_render(s, win);
    return s;
  }
  static EventRecord key(int32_t code) {
    EventRecord r;
    r.code = code;
    return r;
  }

  std::vector<WidgetRef> refs_;
};

TEST_F(TuiWidgets, FacesRenderIntoRows) {
  face("f1", "type: 'field text: \"hello\"");
  face("f2", "type: 'field offset: 0x1 text: \"abc\" flags: 'password");
  face("f3", "type: 'field offset: 0x2 text: \"\" options: [hint: \"type here\"]");
  face("box", "type: 'group-box offset: 12x0 size: 8x4 text: \"Box\" options: [border-corners: round]");
  face("sq", "type: 'group-box offset: 12x4 size: 3x2");
  face("ok",
       "type: 'button offset: 0x3 size: 6x1 text: \"OK\" para: make object! [align: 'center v-align: #(none) "
       "wrap?: #(false)]");
  face("r",
       "type: 'text offset: 0x4 size: 6x1 text: \"ab\" para: make object! [align: 'right v-align: #(none) "
       "wrap?: #(false)]");
  face("w",
       "type: 'text offset: 0x5 size: 4x2 text: \"abcdefgh\" para: make object! [align: #(none) v-align: "
       "#(none) "
       "wrap?: #(true)]");
  WidgetRef win = window(20, 7, {"f1", "f2", "f3", "box", "sq", "ok", "r", "w"});
  ScreenBuffer s = render(win);
  const char* rows[] = {"hello       ╭Box───╮", "***         │      │", "type here   │      │",
                        "  OK        ╰──────╯", "    ab      ┌─┐     ", "abcd        └─┘     ",
                        "efgh                "};
  for (int y = 0; y < 7; y++) EXPECT_EQ(row_text(s, y), rows[y]) << y;
  EXPECT_EQ(row_marks(s, 1).substr(0, 4), "ppp.");
  EXPECT_EQ(row_marks(s, 2).substr(0, 10), "ddddddddd.");  // the hint is dim
}

TEST_F(TuiWidgets, ColoursOfFaceAndFont) {
  face("t",
       "type: 'text size: 3x1 text: \"ab\" color: 255.0.0 font: make object! [color: 128.128.128 "
       "parent: #(none) state: #(none)]");
  face("u", "type: 'text offset: 3x0 size: 2x1 text: \"x\" color: 0.0.0.255");
  WidgetRef win = window(5, 1, {"t", "u"});
  ScreenBuffer s = render(win);
  EXPECT_EQ(s.at(0, 0)->background, color_palette(196));
  EXPECT_EQ(s.at(2, 0)->background, color_palette(196));  // filled past the text
  EXPECT_EQ(s.at(0, 0)->foreground, color_palette(244));
  EXPECT_EQ(s.at(3, 0)->background, kColorDefault);  // alpha 255
}

TEST_F(TuiWidgets, FieldEditingRefusesWhatDoesNotFit) {
  face("f", "type: 'field size: 10x1 text: #(none) flags: [focusable]");
  WidgetRef win = window(12, 1, {"f"});
  WidgetRef f = refs_[0];
  EXPECT_EQ(focused_widget(win), f);  // the first focusable widget takes the focus
  for (char c : std::string("abcdefghijk")) EXPECT_TRUE(widget_handle_event(f, 13, key(c)));
  EXPECT_EQ(eval_mold("f/text"), "\"abcdefghij\"");  // the eleventh is refused
  widget_handle_event(f, 13, key(-23));              // left
  widget_handle_event(f, 13, key(-23));
  widget_handle_event(f, 13, key(8));  // deletes "h" and "g"
  widget_handle_event(f, 13, key(127));
  widget_handle_event(f, 13, key(2));  // Ctrl-B: left
  widget_handle_event(f, 13, key(0x4E2D));
  EXPECT_EQ(eval_mold("f/text"), "\"abcde中fij\"");
  EXPECT_EQ(widget_get(f)->caret.index, 6);
  EXPECT_EQ(widget_get(f)->caret.column, 7);
  widget_handle_event(f, 13, key('z'));  // 11 cells would not fit
  EXPECT_EQ(eval_mold("f/text"), "\"abcde中fij\"");
  for (int32_t k : {0, 9, 13}) EXPECT_FALSE(widget_handle_event(f, 13, key(k)));
  ScreenBuffer s = render(win);
  EXPECT_EQ(s.caret_column, 7);
  EXPECT_EQ(s.caret_row, 0);
  EventRecord click;
  click.x = 3.5f;
  EXPECT_TRUE(widget_handle_event(f, 9, click));
  EXPECT_EQ(widget_get(f)->caret.index, 3);
  EXPECT_EQ(widget_get(f)->caret.column, 3);
}

TEST_F(TuiWidgets, ButtonsAndChecksSendEvents) {
  eval(
      "TUI-helpers: make object! [make-checkbox-ui: func [face][either face/data [\"[x] \"][\"[ ] \"]] "
      "make-radio-ui: func [face][either face/data [\"(*)\"][\"( )\"]]]");
  face("b", "type: 'button size: 4x1 text: \"Go\" flags: [focusable]");
  face("c", "type: 'check offset: 0x1 size: 6x1 text: \"on\"");
  face("r", "type: 'radio offset: 0x2 size: 6x1 data: #(false)");
  WidgetRef win = window(6, 3, {"b", "c", "r"});
  ScreenBuffer s = render(win);
  EXPECT_EQ(row_text(s, 1), "[ ]   ");  // the UI text, not the face text
  EXPECT_EQ(row_text(s, 2), "( )   ");
  EXPECT_EQ(row_marks(s, 0), "ii....");  // the focused button's text in inverse
  EXPECT_TRUE(widget_handle_event(refs_[0], 13, key(' ')));
  // Enter is the view layer's: it turns into a click there, so the button
  // itself leaves it (else one Enter would click twice).
  EXPECT_FALSE(widget_handle_event(refs_[0], 13, key(13)));
  EXPECT_FALSE(widget_handle_event(refs_[0], 13, key('x')));
  EXPECT_TRUE(widget_handle_event(refs_[1], 9, EventRecord{}));  // none becomes true
  EXPECT_EQ(eval_mold("c/data"), "true");
  EXPECT_TRUE(widget_handle_event(refs_[1], 13, key(' ')));
  EXPECT_EQ(eval_mold("c/data"), "false");
  eval("c/data: 7");
  widget_handle_event(refs_[1], 9, EventRecord{});
  EXPECT_EQ(eval_mold("c/data"), "false");
  widget_handle_event(refs_[2], 9, EventRecord{});
  widget_handle_event(refs_[2], 9, EventRecord{});
  EXPECT_EQ(eval_mold("r/data"), "true");
  EXPECT_EQ(g_sent, (std::vector<std::string>{"click:0", "change:0", "change:0", "change:0", "change:0",
                                              "change:0"}));
  s = render(win);
  EXPECT_EQ(row_text(s, 2), "(*)   ");
}

TEST_F(TuiWidgets, TextListNavigation) {
  face("l", "type: 'text-list size: 6x2 data: [\"a\" \"b\" \"c\" \"d\"] selected: 1");
  WidgetRef win = window(6, 2, {"l"});
  WidgetRef l = refs_[0];
  EXPECT_TRUE(widget_handle_event(l, 13, key(-21)));  // down
  EXPECT_EQ(eval_mold("l/selected"), "2");
  widget_handle_event(l, 13, key(-21));
  EXPECT_EQ(eval_mold("l/selected"), "3");
  EXPECT_EQ(widget_get(l)->data, 1);  // the scroll position follows down
  widget_handle_event(l, 13, key(-21));
  widget_handle_event(l, 13, key(-21));  // at the end: nothing
  EXPECT_EQ(eval_mold("l/selected"), "4");
  EXPECT_EQ(g_sent, (std::vector<std::string>{"select:2", "change:2", "select:3", "change:3", "select:4",
                                              "change:4"}));
  g_sent.clear();
  g_answer = "done";  // a select handler answering done: no change event
  widget_handle_event(l, 13, key(-20));
  EXPECT_EQ(g_sent, (std::vector<std::string>{"select:3"}));
  EXPECT_EQ(eval_mold("l/selected"), "3");
  EventRecord click;
  click.y = 1.2f;
  g_answer = nullptr;
  g_sent.clear();
  widget_handle_event(l, 9, click);  // scroll 2 + row 1 + 1
  EXPECT_EQ(eval_mold("l/selected"), "4");
  click.y = 5;
  widget_handle_event(l, 9, click);  // past the entries: ignored
  EXPECT_EQ(eval_mold("l/selected"), "4");
  EXPECT_FALSE(widget_handle_event(l, 13, key('q')));
  (void)win;
}

TEST_F(TuiWidgets, BadFacetsRaise) {
  face("bad", "type: 'window flags: [resize no-such-flag]");
  Cell* f = eval("bad");
  EXPECT_EQ(catch_error([&] { widget_make(f, kNoWidget); }), kErrScriptInvalidArg);
  struct Case {
    const char* rate;
    int32_t ms;
  } cases[] = {{"#(none)", 0}, {"4", 250}, {"1", 1000}, {"0:0:0.5", 500}, {"3000", 1}};
  for (const Case& c : cases) {
    Cell* r = eval(c.rate);
    EXPECT_EQ(rate_interval_ms(r), c.ms) << c.rate;
  }
  for (const char* bad : {"0", "-1", "0:0:0", "\"fast\"", "1.5"}) {
    Cell* r = eval(bad);
    EXPECT_EQ(catch_error([&] { rate_interval_ms(r); }), kErrScriptInvalidFacetType) << bad;
  }
  face("late", "type: 'window rate: 0");
  f = eval("late");
  EXPECT_EQ(catch_error([&] { widget_make(f, kNoWidget); }), kErrScriptInvalidFacetType);
  EXPECT_EQ(widget_count(), 0u);  // nothing half made
}

TEST_F(TuiWidgets, DestroyedWidgetsReadAsGone) {
  face("t", "type: 'text size: 2x1 font: make object! [color: #(none) parent: #(none) state: 1]");
  eval("t/font/parent: reduce [t]");
  WidgetRef win = window(4, 1, {"t"});
  Cell handle = widget_handle(refs_[0]);
  Cell* t = eval("t");
  widget_destroy_face(t);
  EXPECT_EQ(widget_of_handle(&handle), kNoWidget);
  EXPECT_EQ(widget_get(refs_[0]), nullptr);
  EXPECT_EQ(eval_mold("t/state"), "none");
  EXPECT_EQ(eval_mold("t/font/parent"), "[]");
  EXPECT_EQ(eval_mold("t/font/state"), "none");
  // The entry, reused, names a new widget: the old handle stays gone.
  WidgetRef again = show("t", win);
  EXPECT_EQ(again.index, refs_[0].index);
  EXPECT_EQ(widget_of_handle(&handle), kNoWidget);
  EXPECT_TRUE(widget_get(again));
  widget_free(win);
  EXPECT_EQ(widget_get(again), nullptr);
  EXPECT_TRUE(window_list().empty());
}

TEST_F(TuiWidgets, OrderHiddenHitTestAndFocusChain) {
  face("a", "type: 'text size: 4x2 text: \"aaaa\" flags: [focusable]");
  face("b", "type: 'text offset: 2x0 size: 4x1 text: \"bbbb\" flags: 'focusable");
  face("h", "type: 'text offset: 0x1 size: 4x1 text: \"hide\" visible?: #(false) flags: [focusable]");
  face("p", "type: 'panel offset: 6x0 size: 3x2");
  face("k", "type: 'text offset: 1x1 size: 5x1 text: \"kid\" flags: [focusable]");
  eval("p/pane: reduce [k]");
  WidgetRef win = window(9, 2, {"a", "b", "h", "p"});
  WidgetRef k = show("k", refs_[3]);
  ScreenBuffer s = render(win);
  // The window's box holds every widget's whole rectangle, clipped or not.
  EXPECT_EQ(row_text(s, 0), "aabbbb      ");
  EXPECT_EQ(row_text(s, 1), "       ki   ");  // a child is cut to its parent
  float lx = 0, ly = 0;
  EXPECT_EQ(widget_at(win, 3, 0, &lx, &ly), refs_[1]);  // the later sibling is on top
  EXPECT_EQ(lx, 1.0f);
  EXPECT_EQ(widget_at(win, 1, 1, nullptr, nullptr), refs_[0]);  // the hidden face takes no hits
  EXPECT_EQ(widget_at(win, 7, 1, nullptr, nullptr), k);
  EXPECT_EQ(focus_chain(win), (std::vector<WidgetRef>{refs_[0], refs_[1], k}));
  int32_t x = 0, y = 0;
  widget_origin(k, &x, &y);
  EXPECT_EQ(x, 7);
  EXPECT_EQ(y, 1);
}

TEST_F(TuiWidgets, ImagesAsHalfBlocks) {
  // Two columns: red over blue, then transparent over green.
  eval("img: make image! [2x2 #{FF0000 000000 0000FF 00FF00}] img/alpha: #{00 FF 00 00}");
  face("i", "type: 'base size: 2x1 image: img");
  int32_t depth = tui_screen().color_depth;
  tui_screen().color_depth = kColorDepthTrue;
  WidgetRef win = window(2, 1, {"i"});
  tui_screen().color_depth = depth;
  ScreenBuffer s = render(win);
  EXPECT_EQ(*s.at(0, 0), (ScreenCell{0x2584, color_true(255, 0, 0), color_true(0, 0, 255), 0}));
  EXPECT_EQ(*s.at(1, 0), (ScreenCell{' ', kColorDefault, kColorDefault, 0}));
}

// The draw back end's hooks: called with the face's draw block over the
// widget's clip, and with a rich-text face's cells.
ScreenRect g_draw_clip;
void fake_draw(ScreenBuffer& s, const ScreenRect& clip, int32_t x, int32_t y, const Cell*) {
  g_draw_clip = clip;
  s.at(x, y)->code = '@';
}
void fake_style(std::vector<RichCell>& cells, const Cell*) {
  for (auto& c : cells) c.attributes |= kAttrBold;
}

TEST_F(TuiWidgets, DrawAndRichTextHooks) {
  face("d", "type: 'base offset: 1x0 size: 3x2 draw: [line 0x0 2x2]");
  face("e", "type: 'base offset: 4x0 size: 1x1 draw: []");
  face("rt", "type: 'rich-text offset: 0x2 size: 5x1 text: \"rich\" color: 255.0.0 data: [bold]");
  tui_draw_hooks() = TuiDrawHooks{fake_draw, fake_style};
  WidgetRef win = window(5, 3, {"d", "e", "rt"});
  ScreenBuffer s = render(win);
  tui_draw_hooks() = TuiDrawHooks{};
  EXPECT_EQ(row_text(s, 0), " @   ");  // an empty draw block is not run
  EXPECT_EQ(g_draw_clip.left, 1);
  EXPECT_EQ(g_draw_clip.right, 4);
  EXPECT_EQ(row_text(s, 2), "rich ");
  EXPECT_EQ(s.at(0, 2)->foreground, color_palette(196));
  EXPECT_EQ(s.at(0, 2)->attributes, kAttrBold);
}

// The helpers' texts: a string they answer is drawn, whether or not they
// attached it themselves; a data they cannot read leaves the face drawn.
TEST_F(TuiWidgets, ProgressTextFromTheHelper) {
  eval(
      "TUI-helpers: make object! [make-progress-ui: func [face][either face/data = 0.5 [\"[##  ]\"][\"[    "
      "]\"]]]");
  face("p", "type: 'progress size: 6x1 data: 0.5");
  face("q", "type: 'progress offset: 0x1 size: 6x1 data: \"x\"");
  WidgetRef win = window(6, 2, {"p", "q"});
  ScreenBuffer s = render(win);
  EXPECT_EQ(row_text(s, 0), "[##  ]");
  EXPECT_EQ(row_text(s, 1), "[    ]");
}

// Sizes and offsets far past any terminal: the grid is cut to the console
// and nothing overflows.
TEST_F(TuiWidgets, HugeGeometry) {
  eval("img: make image! 3x3");
  face("g", "type: 'group-box offset: -5x-5 size: 2147483647x2147483647 text: \"big\" image: img");
  face("n", "type: 'text offset: 2147483647x2147483647 size: 2147483647x-5 text: \"far\"");
  WidgetRef win = window(4, 2, {"g", "n"});
  ScreenBuffer s = render(win);
  EXPECT_LE(s.width, 200);
  EXPECT_LE(s.height, 100);
  EXPECT_LE(widget_get(refs_[0])->image_cells.size(), 500000u);
  EXPECT_EQ(widget_at(win, 0, 0, nullptr, nullptr), refs_[0]);
}

}  // namespace
}  // namespace kiv
