// The text-mode painter of the DRAW dialect: boxes, lines, triangles,
// ellipses and text drawn into character cells with block and box-drawing
// glyphs, under the pen and fill state of one draw run.
//
// Coordinates are cells. Every shape adds the draw origin (the face's
// absolute cell) to its points and writes only inside the clip rectangle,
// itself cut to the sink's size. Coordinates far outside any grid are cut
// to a box of +-kDrawCoordinateLimit cells first, so a shape with huge
// corners or radii costs time in proportion to what can be seen, never to
// its nominal size. The painter allocates nothing of the collector's and
// runs no Kiv code.
#pragma once

#include <cstdint>
#include <string_view>

namespace kiv {

// Colours are those of the cell grid: the top byte the kind (0 the terminal's
// default, 2 a palette index in the low byte), the rest the colour.
inline constexpr uint32_t kDrawDefaultColour = 0;

// The nearest palette colour of the Kiv colour [r].[g].[b] with [alpha]
// byte [t] (255 meaning transparent, which gives the default colour).
uint32_t draw_colour_of_rgb(uint32_t r, uint32_t g, uint32_t b, uint32_t t);

inline constexpr uint32_t kGlyphFullBlock = 0x2588;
inline constexpr uint32_t kGlyphBoxTopLeft = 0x250C;
inline constexpr uint32_t kGlyphBoxTopRight = 0x2510;
inline constexpr uint32_t kGlyphBoxBottomLeft = 0x2514;
inline constexpr uint32_t kGlyphBoxBottomRight = 0x2518;
inline constexpr uint32_t kGlyphBoxVertical = 0x2502;
inline constexpr uint32_t kGlyphBoxHorizontal = 0x2500;

// Points beyond this distance from the grid's corner are cut to it.
inline constexpr int32_t kDrawCoordinateLimit = 1 << 16;

// Where the painter writes: the cells of a grid [width] x [height]. The
// painter calls it only for cells inside the grid and the clip rectangle.
class DrawSink {
 public:
  virtual ~DrawSink() = default;
  virtual int32_t width() const = 0;
  virtual int32_t height() const = 0;
  // Cell (x, y) shows [code_point] in [foreground]; its background stays.
  virtual void put_glyph(int32_t x, int32_t y, uint32_t code_point, uint32_t foreground) = 0;
  // Cell (x, y) becomes a space on [background]; its foreground stays.
  virtual void put_fill(int32_t x, int32_t y, uint32_t background) = 0;
  // Cell (x, y) is the second half of a double-width character.
  virtual void put_continuation(int32_t x, int32_t y) = 0;
};

// A rectangle of cells, [x1, x2) x [y1, y2).
struct DrawRect {
  int32_t x1, y1, x2, y2;
};

// The pen, fill and text colour state that nested blocks save and restore.
struct DrawPenState {
  bool pen_on = true;
  uint32_t pen = kDrawDefaultColour;
  bool fill_on = false;
  uint32_t fill = kDrawDefaultColour;
  bool font_colour_set = false;
  uint32_t font_colour = kDrawDefaultColour;
};

class DrawPainter {
 public:
  // A painter over [sink] (null: the run paints nothing, as on an image)
  // whose shapes are moved by [origin_x], [origin_y] and kept inside [clip].
  DrawPainter(DrawSink* sink, int32_t origin_x, int32_t origin_y, DrawRect clip);

  DrawPenState& state() { return state_; }
  bool paints() const { return sink_ != nullptr; }

  void set_pen(uint32_t colour);
  void pen_off() { state_.pen_on = false; }
  void set_fill(uint32_t colour);
  void fill_off() { state_.fill_on = false; }
  // The font's colour (a font without one clears the mark).
  void set_font_colour(bool set, uint32_t colour);

  void box(int32_t x1, int32_t y1, int32_t x2, int32_t y2);
  void line(int32_t x0, int32_t y0, int32_t x1, int32_t y1);
  void triangle(int32_t ax, int32_t ay, int32_t bx, int32_t by, int32_t cx, int32_t cy);
  void circle(int32_t cx, int32_t cy, int32_t radius);
  void ellipse(int32_t x, int32_t y, int32_t width, int32_t height);
  // The code points [text] from (x, y), wrapping at the clip's right edge.
  void text(int32_t x, int32_t y, const uint32_t* text, int32_t length);

 private:
  bool inside(int64_t x, int64_t y) const {
    return x >= clip_.x1 && x < clip_.x2 && y >= clip_.y1 && y < clip_.y2;
  }
  void plot(int64_t x, int64_t y);
  void segment(int64_t x0, int64_t y0, int64_t x1, int64_t y1);
  void fill_span(int64_t y, int64_t xa, int64_t xb);
  void ellipse_at(int64_t xm, int64_t ym, int64_t a, int64_t b);

  DrawSink* sink_;
  int64_t origin_x_, origin_y_;
  DrawRect clip_;
  DrawPenState state_;
};

}  // namespace kiv
