// The DRAW interpreter from C++: the pen state and the cycle stack after an
// error in a nested block, a face's draw block printing its error once, and
// the rich-text styles on a cell array of characters (emoji and wide ones).
#include "tui/draw/draw_dialect.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "evaluator/lexer.h"
#include "kiv_test.h"
#include "runtime/cycle.h"
#include "services/console_output.h"

namespace kiv {
namespace {

// MAY ALLOCATE. The block of [source], pushed on the data stack.
Cell* load_block(std::string_view source) {
  Cell* block = stack_push();
  lexer_load_utf8(block, reinterpret_cast<const uint8_t*>(source.data()), uint32_t(source.size()));
  return block;
}

// What the run [body] printed.
template <class Body>
std::string printed(Body body) {
  testing::internal::CaptureStdout();
  body();
  conout_finish();
  return testing::internal::GetCapturedStdout();
}

TEST(DrawDialectTest, NestedBlocksRestoreThePenOnErrorsToo) {
  StackSave save;
  const char* blocks[] = {
      "pen 255.0.0 push [pen 0.0.255 fill-pen 0.0.255 line 0x0]",
      "pen 255.0.0 rotate 30 [pen off fill-pen 0.0.255 box 0x0]",
      "pen 255.0.0 clip 0x0 2x2 [push [pen 0.0.255 font 3]]",
      "pen 255.0.0 push [[pen 0.0.255 translate 1x1 [pen 1.2.3 matrix [1]]]]",
  };
  for (const char* source : blocks) {
    Cell* block = load_block(source);
    DrawPainter painter;
    const uint32_t depth = cycle_stack_depth();
    EXPECT_EQ(test::catch_error([&] { (void)draw_run(painter, block, DrawErrorMode::kRaise); }),
              kErrScriptDrawInvalid)
        << source;
    EXPECT_TRUE(painter.state().pen_on);
    EXPECT_EQ(painter.state().pen, color_palette(196)) << source;
    EXPECT_FALSE(painter.state().fill_on) << source;
    EXPECT_EQ(cycle_stack_depth(), depth) << source;
  }
}

TEST(DrawDialectTest, PlainBlocksKeepTheirPen) {
  StackSave save;
  Cell* block = load_block("pen 255.0.0 [pen 0.0.255] push [pen off]");
  DrawPainter painter;
  EXPECT_TRUE(draw_run(painter, block, DrawErrorMode::kRaise));
  EXPECT_EQ(painter.state().pen, color_palette(21));
}

TEST(DrawDialectTest, AFaceBlockPrintsItsErrorOnce) {
  StackSave save;
  ScreenBuffer screen;
  screen_resize(screen, 4, 2);
  Cell* bad = load_block("box 0x0 1x1 line 0x0");
  Cell* other = load_block("pen 1.2.3 oops");
  Cell* good = load_block("box 0x0 3x1");
  auto run = [&](Cell* block) {
    return printed([&] { draw_face_block(screen, screen.bounds(), 0, 0, block); });
  };
  const std::string first = run(bad);
  EXPECT_NE(first.find("DRAW - invalid input at:"), std::string::npos) << first;
  EXPECT_EQ(run(bad), "");  // the next frames print nothing
  EXPECT_EQ(run(bad), "");
  EXPECT_NE(run(other), "");  // another block prints its own
  EXPECT_EQ(run(other), "");
  EXPECT_EQ(screen.at(0, 0)->code, kGlyphBoxTopLeft);  // the commands before the error ran
  EXPECT_EQ(run(good), "");
  EXPECT_EQ(run(bad), "");  // still the same failure of the same block
  EXPECT_EQ(screen.at(3, 1)->code, kGlyphBoxBottomRight);
  // printing mode never raises, and leaves no cycle on the stack
  EXPECT_EQ(cycle_stack_depth(), 0u);
  Cell* self = load_block("box 0x0 1x1");
  Cell copy = *self;
  block_append_value(self, &copy);
  EXPECT_NE(run(self).find("DRAW - infinite recursion at:"), std::string::npos);
  EXPECT_EQ(cycle_stack_depth(), 0u);
}

TEST(DrawDialectTest, RichTextStylesByCharacter) {
  StackSave save;
  // "a😀中b": four characters, the emoji one character (two UTF-16 units)
  std::vector<RichCell> cells;
  for (uint32_t cp : {uint32_t('a'), 0x1F600u, 0x4E2Du, uint32_t('b')}) cells.push_back(RichCell{cp, 0, 0});
  Cell* styles = load_block(
      "1x2 bold 255.0.0 3x9 italic underline 0.0.255 'dash strike backdrop 1.1.1 \"Mono\" 12 2x1 border");
  draw_style_rich_text(cells, styles);
  const uint32_t red = color_palette(196);
  const RichCell expected[] = {{'a', red, kAttrBold},
                               {0x1F600, red, kAttrBold},
                               {0x4E2D, 0, kAttrItalic | kAttrUnderline | kAttrStrike},
                               {'b', 0, kAttrItalic | kAttrUnderline | kAttrStrike}};
  for (size_t i = 0; i < 4; i++) {
    EXPECT_EQ(cells[i].code, expected[i].code) << i;
    EXPECT_EQ(cells[i].foreground, expected[i].foreground) << i;
    EXPECT_EQ(cells[i].attributes, expected[i].attributes) << i;
  }
  struct Bad {
    const char* source;
    int32_t index;  // where draw-invalid points, 1-based
  } bads[] = {{"bold", 1}, {"1x2 box", 2}, {"1x2 backdrop", 3}, {"1x2 #a", 2}, {"1x2 1.2.3.4.5", 2}};
  for (const Bad& b : bads) {
    Cell* block = load_block(b.source);
    std::vector<RichCell> some(3);
    ErrorId e = test::catch_error([&] {
      struct Null : DrawTextStyles {
        void colour(int32_t, int32_t, uint32_t) override {}
        void backdrop(int32_t, int32_t, uint32_t) override {}
        void attribute(int32_t, int32_t, uint32_t) override {}
      } out;
      draw_text_styles(block, 3, out);
    });
    EXPECT_EQ(e, kErrScriptDrawInvalid) << b.source;
    EXPECT_EQ(last_raised_error().args[0].head() + 1, b.index) << b.source;
  }
  // ranges past the text are cut to it
  std::vector<RichCell> two(2);
  draw_style_rich_text(two, load_block("0x5 bold 9x2 italic -3x1 underline"));
  EXPECT_EQ(two[0].attributes, kAttrBold);
  EXPECT_EQ(two[1].attributes, kAttrBold);
}

}  // namespace
}  // namespace kiv
