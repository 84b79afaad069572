// The text-mode painter of the DRAW dialect: boxes, lines, triangles,
// ellipses and text drawn into character cells with block and box-drawing
// glyphs, under the pen and fill state of one draw run.
//
// Coordinates are cells. Every shape adds the draw origin (the face's
// absolute cell) to its points and writes only inside the clip rectangle,
// itself cut to the grid. Coordinates far outside any grid are cut
// to a box of +-kDrawCoordinateLimit cells first, so a shape with huge
// corners or radii costs time in proportion to what can be seen, never to
// its nominal size. The painter allocates nothing of the collector's and
// runs no Kiv code.
#pragma once

#include <cstdint>

#include "tui/screen_buffer.h"

namespace kiv {

inline constexpr uint32_t kDrawDefaultColour = kColorDefault;

inline constexpr uint32_t kGlyphFullBlock = 0x2588;
inline constexpr uint32_t kGlyphBoxTopLeft = 0x250C;
inline constexpr uint32_t kGlyphBoxTopRight = 0x2510;
inline constexpr uint32_t kGlyphBoxBottomLeft = 0x2514;
inline constexpr uint32_t kGlyphBoxBottomRight = 0x2518;
inline constexpr uint32_t kGlyphBoxVertical = 0x2502;
inline constexpr uint32_t kGlyphBoxHorizontal = 0x2500;

// Points beyond this distance from the grid's corner are cut to it.
inline constexpr int32_t kDrawCoordinateLimit = 1 << 16;

// The grid colour of the Kiv colour tuple [bytes] of [length] 3 or 4 (the
// fourth byte alpha, 255 meaning transparent: the default colour).
uint32_t draw_colour_of_tuple(const uint8_t* bytes, uint32_t length);

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
  // A painter over [screen] (null: the run paints nothing, as on an image)
  // whose shapes are moved by [origin_x], [origin_y] and kept inside [clip];
  // text is written with the render flags [render_flags] added.
  DrawPainter(ScreenBuffer* screen, int32_t origin_x, int32_t origin_y, ScreenRect clip,
              uint32_t render_flags = 0);
  // A painter that paints nothing.
  DrawPainter() : DrawPainter(nullptr, 0, 0, ScreenRect{}) {}

  DrawPenState& state() { return state_; }
  bool paints() const { return screen_ != nullptr; }

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
    return x >= clip_.left && x < clip_.right && y >= clip_.top && y < clip_.bottom;
  }
  // Cell (x, y), inside the clip, shows [code] in the pen colour.
  void glyph(int64_t x, int64_t y, uint32_t code) {
    ScreenCell* cell = screen_->at(int32_t(x), int32_t(y));
    cell->code = code;
    cell->foreground = state_.pen;
    cell->attributes &= ~kAttrContinuation;
  }
  void plot(int64_t x, int64_t y);
  void segment(int64_t x0, int64_t y0, int64_t x1, int64_t y1);
  void fill_span(int64_t y, int64_t xa, int64_t xb);
  void ellipse_at(int64_t xm, int64_t ym, int64_t a, int64_t b);

  ScreenBuffer* screen_;
  int64_t origin_x_, origin_y_;
  ScreenRect clip_;
  uint32_t render_flags_;
  DrawPenState state_;
};

}  // namespace kiv
