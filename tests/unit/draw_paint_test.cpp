// The text-mode painter of DRAW on a small grid: each raster against the rows
// of cells it must leave, and properties of lines and ellipses over random
// input (both ends, 8-connected steps, symmetry, nothing outside the clip).
#include "tui/draw/draw_paint.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "runtime/unicode.h"

namespace kiv {
namespace {

constexpr uint32_t kPen = color_palette(196);
constexpr uint32_t kFill = color_palette(21);
constexpr uint32_t kOld = color_palette(3);  // the foreground cells had before

ScreenBuffer grid(int32_t width, int32_t height) {
  ScreenBuffer screen;
  screen_resize(screen, width, height);
  screen_clear(screen);
  return screen;
}

// The glyphs of the grid, a string a row: "." an untouched cell, "~" a space
// on the fill colour, else the cell's character.
std::vector<std::string> glyphs(ScreenBuffer& screen) {
  std::vector<std::string> rows;
  for (int32_t y = 0; y < screen.height; y++) {
    std::string row;
    for (int32_t x = 0; x < screen.width; x++) {
      const ScreenCell* cell = screen.at(x, y);
      if (cell->code == 0)
        row += '.';
      else if (cell->code == ' ')
        row += cell->background == kFill ? '~' : ' ';
      else {
        uint8_t bytes[4];
        row.append(reinterpret_cast<char*>(bytes), size_t(utf8_encode(cell->code, bytes)));
      }
    }
    rows.push_back(row);
  }
  return rows;
}

DrawPainter painter_on(ScreenBuffer& screen, bool pen, bool fill, ScreenRect clip = {0, 0, 1000, 1000},
                       int32_t ox = 0, int32_t oy = 0) {
  DrawPainter p(&screen, ox, oy, clip);
  p.set_pen(kPen);
  if (!pen) p.pen_off();
  if (fill) p.set_fill(kFill);
  return p;
}

TEST(DrawPaintTest, BoxWithPenAndFill) {
  struct Case {
    bool pen, fill;
    std::vector<std::string> rows;
  } cases[] = {
      {true, false, {"......", ".┌──┐.", ".│..│.", ".└──┘.", "......"}},
      {true, true, {"......", ".┌──┐.", ".│~~│.", ".└──┘.", "......"}},
      {false, true, {"......", ".~~~~.", ".~~~~.", ".~~~~.", "......"}},
      {false, false, {"......", "......", "......", "......", "......"}},
  };
  for (const Case& c : cases) {
    ScreenBuffer screen = grid(6, 5);
    painter_on(screen, c.pen, c.fill).box(4, 3, 1, 1);  // corners in any order
    EXPECT_EQ(glyphs(screen), c.rows) << c.pen << c.fill;
  }
}

TEST(DrawPaintTest, BoxColoursKeepWhatTheOtherLayerSet) {
  ScreenBuffer screen = grid(4, 3);
  for (ScreenCell& cell : screen.cells) cell.foreground = kOld;
  painter_on(screen, true, true).box(0, 0, 3, 2);
  EXPECT_EQ(screen.at(0, 0)->foreground, kPen);
  EXPECT_EQ(screen.at(0, 0)->background, kFill);  // the edge keeps the fill under it
  EXPECT_EQ(screen.at(1, 1)->foreground, kOld);   // inner cells keep their foreground
  EXPECT_EQ(screen.at(1, 1)->background, kFill);
}

TEST(DrawPaintTest, BoxClippedAtEveryEdge) {
  struct Case {
    ScreenRect clip;
    std::vector<std::string> rows;
  } cases[] = {
      {{2, 0, 6, 5}, {"......", "..──┐.", "..~~│.", "..──┘.", "......"}},
      {{0, 0, 4, 5}, {"......", ".┌──..", ".│~~..", ".└──..", "......"}},
      {{0, 2, 6, 5}, {"......", "......", ".│~~│.", ".└──┘.", "......"}},
      {{0, 0, 6, 2}, {"......", ".┌──┐.", "......", "......", "......"}},
      {{2, 2, 3, 3}, {"......", "......", "..~...", "......", "......"}},
      {{5, 0, 6, 5}, {"......", "......", "......", "......", "......"}},  // wholly outside
  };
  for (const Case& c : cases) {
    ScreenBuffer screen = grid(6, 5);
    painter_on(screen, true, true, c.clip).box(1, 1, 4, 3);
    EXPECT_EQ(glyphs(screen), c.rows) << c.clip.left << "," << c.clip.top;
  }
  ScreenBuffer screen = grid(6, 5);  // past the grid itself
  painter_on(screen, true, false).box(-3, -3, 8, 8);
  EXPECT_EQ(glyphs(screen), (std::vector<std::string>(5, "......")));
  painter_on(screen, true, false).box(3, 2, 8, 8);
  EXPECT_EQ(glyphs(screen), (std::vector<std::string>{"......", "......", "...┌──", "...│..", "...│.."}));
}

TEST(DrawPaintTest, ShapesAddTheOriginAndKeepToTheClip) {
  // A face at 2,1 of 3x2 cells: each shape drawn from 0x0 lands in it.
  ScreenBuffer screen = grid(7, 4);
  DrawPainter p = painter_on(screen, true, false, {2, 1, 5, 3}, 2, 1);
  p.line(0, 0, 6, 0);
  p.circle(0, 1, 1);
  p.ellipse(-1, -1, 3, 3);
  p.triangle(0, 0, 9, 9, 0, 9);
  for (int32_t y = 0; y < 4; y++) {
    for (int32_t x = 0; x < 7; x++) {
      const bool inside = x >= 2 && x < 5 && y >= 1 && y < 3;
      EXPECT_TRUE(inside || screen.at(x, y)->code == 0) << x << "," << y;
    }
  }
  EXPECT_EQ(glyphs(screen)[1], "..███..");
}

TEST(DrawPaintTest, LinesInAllEightOctants) {
  // Every octant from the centre of a 9x9 grid: ends drawn, the count of
  // cells the longer side plus one, all in the pen colour.
  const std::pair<int32_t, int32_t> ends[] = {{8, 6}, {6, 8}, {2, 8}, {0, 6}, {0, 2}, {2, 0}, {6, 0}, {8, 2}};
  for (auto [ex, ey] : ends) {
    ScreenBuffer screen = grid(9, 9);
    painter_on(screen, true, false).line(4, 4, ex, ey);
    int32_t count = 0;
    for (const ScreenCell& cell : screen.cells)
      if (cell.code == kGlyphFullBlock) {
        count++;
        EXPECT_EQ(cell.foreground, kPen);
      }
    EXPECT_EQ(count, std::max(std::abs(ex - 4), std::abs(ey - 4)) + 1) << ex << "," << ey;
    EXPECT_EQ(screen.at(4, 4)->code, kGlyphFullBlock);
    EXPECT_EQ(screen.at(ex, ey)->code, kGlyphFullBlock);
  }
  ScreenBuffer screen = grid(5, 3);
  painter_on(screen, true, false).line(0, 0, 4, 2);
  EXPECT_EQ(glyphs(screen), (std::vector<std::string>{"█....", ".██..", "...██"}));
  screen = grid(3, 5);
  painter_on(screen, true, false).line(2, 4, 0, 0);
  EXPECT_EQ(glyphs(screen), (std::vector<std::string>{"█..", "█..", ".█.", ".█.", "..█"}));
}

TEST(DrawPaintTest, LineProperties) {
  std::mt19937 random(35);
  std::uniform_int_distribution<int32_t> coordinate(-10, 30);
  for (int round = 0; round < 400; round++) {
    ScreenBuffer screen = grid(20, 16);
    const ScreenRect clip{3, 2, 17, 13};
    const int32_t x0 = coordinate(random), y0 = coordinate(random);
    const int32_t x1 = coordinate(random), y1 = coordinate(random);
    painter_on(screen, true, false, clip).line(x0, y0, x1, y1);
    std::set<std::pair<int32_t, int32_t>> cells;
    for (int32_t y = 0; y < 16; y++) {
      for (int32_t x = 0; x < 20; x++) {
        if (screen.at(x, y)->code == 0) continue;
        ASSERT_TRUE(x >= clip.left && x < clip.right && y >= clip.top && y < clip.bottom);
        cells.insert({x, y});
      }
    }
    auto in_clip = [&](int32_t x, int32_t y) {
      return x >= clip.left && x < clip.right && y >= clip.top && y < clip.bottom;
    };
    if (!in_clip(x0, y0) || !in_clip(x1, y1)) continue;
    ASSERT_TRUE(cells.count({x0, y0}) && cells.count({x1, y1}));
    ASSERT_EQ(int32_t(cells.size()), std::max(std::abs(x1 - x0), std::abs(y1 - y0)) + 1);
    // 8-connected: a walk from one end reaches every cell
    std::set<std::pair<int32_t, int32_t>> seen{{x0, y0}};
    std::vector<std::pair<int32_t, int32_t>> todo{{x0, y0}};
    while (!todo.empty()) {
      auto [x, y] = todo.back();
      todo.pop_back();
      for (int dy = -1; dy <= 1; dy++)
        for (int dx = -1; dx <= 1; dx++)
          if (cells.count({x + dx, y + dy}) && seen.insert({x + dx, y + dy}).second)
            todo.push_back({x + dx, y + dy});
    }
    ASSERT_EQ(seen, cells) << x0 << "," << y0 << " " << x1 << "," << y1;
  }
}

TEST(DrawPaintTest, FarCoordinatesCostWhatIsSeen) {
  ScreenBuffer screen = grid(10, 3);
  DrawPainter p = painter_on(screen, true, true);
  p.line(-2000000000, 1, 2000000000, 1);
  EXPECT_EQ(glyphs(screen)[1], "██████████");
  p.circle(5, 1, 2147483647);
  p.ellipse(-2147483647, -2147483647, 2147483647, 2147483647);
  p.triangle(-2147483647, 0, 2147483647, 0, 0, 2147483647);
  p.box(-2147483647, -2147483647, 2147483647, 2147483647);
  EXPECT_EQ(screen.at(0, 0)->background, kFill);
}

TEST(DrawPaintTest, TrianglesFilledAndOutlined) {
  ScreenBuffer screen = grid(7, 4);
  painter_on(screen, false, true).triangle(0, 0, 6, 3, 0, 3);
  EXPECT_EQ(glyphs(screen), (std::vector<std::string>{"~......", "~~~....", "~~~~~..", "......."}));
  screen = grid(7, 4);
  painter_on(screen, true, false).triangle(3, 0, 6, 3, 0, 3);
  EXPECT_EQ(glyphs(screen), (std::vector<std::string>{"...█...", "..█.█..", ".█...█.", "███████"}));
}

TEST(DrawPaintTest, CirclesAndEllipses) {
  ScreenBuffer screen = grid(9, 5);
  painter_on(screen, true, false).circle(4, 2, 2);
  EXPECT_EQ(glyphs(screen),
            (std::vector<std::string>{"..█████..", ".█.....█.", "█.......█", ".█.....█.", "..█████.."}));
  screen = grid(9, 5);
  painter_on(screen, true, true).ellipse(0, 0, 5, 3);
  EXPECT_EQ(glyphs(screen),
            (std::vector<std::string>{".███.....", "█~~~█....", ".███.....", ".........", "........."}));
  struct Empty {
    int32_t radius, width, height;
  } empties[] = {{0, 0, 3}, {-4, 3, 0}, {0, -1, -1}};
  for (const Empty& e : empties) {
    screen = grid(9, 5);
    DrawPainter p = painter_on(screen, true, true);
    p.circle(4, 2, e.radius);
    p.ellipse(1, 1, e.width, e.height);
    EXPECT_EQ(glyphs(screen), (std::vector<std::string>(5, "........."))) << e.radius;
  }
  screen = grid(5, 5);
  painter_on(screen, true, false).ellipse(2, 0, 1, 5);  // one column wide: the centre and rows within b - 1
  EXPECT_EQ(glyphs(screen), (std::vector<std::string>{".....", "..█..", "..█..", "..█..", "....."}));
}

TEST(DrawPaintTest, EllipsesAreSymmetric) {
  std::mt19937 random(109);
  std::uniform_int_distribution<int32_t> size(1, 24);
  for (int round = 0; round < 300; round++) {
    ScreenBuffer screen = grid(30, 30);
    const int32_t w = size(random), h = size(random);
    painter_on(screen, true, round % 2 == 1).ellipse(2, 2, w, h);
    const int32_t xm = 2 + w / 2, ym = 2 + h / 2;
    for (int32_t y = 0; y < 30; y++)
      for (int32_t x = 0; x < 30; x++) {
        const uint32_t code = screen.at(x, y)->code;
        const ScreenCell* across = screen.at(2 * xm - x, y);
        const ScreenCell* below = screen.at(x, 2 * ym - y);
        ASSERT_EQ(code, across ? across->code : 0u) << w << "x" << h << " at " << x << "," << y;
        ASSERT_EQ(code, below ? below->code : 0u) << w << "x" << h << " at " << x << "," << y;
      }
  }
}

TEST(DrawPaintTest, TextInTheTextColour) {
  ScreenBuffer screen = grid(6, 3);
  DrawPainter p = painter_on(screen, true, false, {0, 0, 4, 3}, 1, 0);
  const uint32_t text[] = {'a', 0x4E2D, 'b', 'c'};
  p.text(0, 1, text, 4);
  EXPECT_EQ(glyphs(screen), (std::vector<std::string>{"......", ".a中...", ".bc..."}));
  EXPECT_EQ(screen.at(1, 1)->foreground, kPen);
  p.set_font_colour(true, kFill);
  p.text(0, 0, text, 1);
  EXPECT_EQ(screen.at(1, 0)->foreground, kFill);
}

TEST(DrawPaintTest, ColoursOfTuples) {
  const uint8_t red[] = {255, 0, 0}, grey[] = {128, 128, 128}, clear[] = {1, 2, 3, 255};
  EXPECT_EQ(draw_colour_of_tuple(red, 3), color_palette(196));
  EXPECT_EQ(draw_colour_of_tuple(grey, 3), color_palette(244));
  EXPECT_EQ(draw_colour_of_tuple(clear, 4), kColorDefault);
}

TEST(DrawPaintTest, NoGridPaintsNothing) {
  DrawPainter p;
  EXPECT_FALSE(p.paints());
  p.box(0, 0, 3, 3);
  p.line(0, 0, 3, 3);
  p.circle(1, 1, 1);
}

}  // namespace
}  // namespace kiv
