// The text-mode painter (tui/draw/draw_paint.h). Rasters run in 64-bit
// integers over coordinates cut to +-kDrawCoordinateLimit, so no error term
// overflows; every write goes through a clip test first.
#include "tui/draw/draw_paint.h"

#include <algorithm>
#include <cmath>

namespace kiv {

namespace {

constexpr int64_t kLimit = kDrawCoordinateLimit;

int64_t cut(int64_t v) { return std::clamp<int64_t>(v, -kLimit, kLimit); }

}  // namespace

uint32_t draw_colour_of_tuple(const uint8_t* bytes, uint32_t length) {
  const uint32_t alpha = length >= 4 ? bytes[3] : 0;
  return color_of_packed(uint32_t(bytes[0]) | uint32_t(bytes[1]) << 8 | uint32_t(bytes[2]) << 16 |
                         alpha << 24);
}

DrawPainter::DrawPainter(ScreenBuffer* screen, int32_t origin_x, int32_t origin_y, ScreenRect clip,
                         uint32_t render_flags)
    : screen_(screen), origin_x_(origin_x), origin_y_(origin_y), clip_(clip), render_flags_(render_flags) {
  if (screen_) {
    clip_.left = std::max(clip_.left, 0);
    clip_.top = std::max(clip_.top, 0);
    clip_.right = std::min(clip_.right, screen_->width);
    clip_.bottom = std::min(clip_.bottom, screen_->height);
  }
  if (!screen_ || clip_.empty()) clip_ = ScreenRect{};
}

void DrawPainter::set_pen(uint32_t colour) {
  state_.pen_on = true;
  state_.pen = colour;
}

void DrawPainter::set_fill(uint32_t colour) {
  state_.fill_on = true;
  state_.fill = colour;
}

void DrawPainter::set_font_colour(bool set, uint32_t colour) {
  state_.font_colour_set = set;
  state_.font_colour = set ? colour : kDrawDefaultColour;
}

void DrawPainter::plot(int64_t x, int64_t y) {
  if (inside(x, y)) glyph(x, y, kGlyphFullBlock);
}

void DrawPainter::fill_span(int64_t y, int64_t xa, int64_t xb) {
  if (y < clip_.top || y >= clip_.bottom) return;
  const int64_t from = std::max<int64_t>(std::min(xa, xb), clip_.left);
  const int64_t to = std::min<int64_t>(std::max(xa, xb), clip_.right - 1);
  for (int64_t x = from; x <= to; x++) {
    ScreenCell* cell = screen_->at(int32_t(x), int32_t(y));
    cell->code = ' ';
    cell->background = state_.fill;
    cell->attributes &= ~kAttrContinuation;
  }
}

void DrawPainter::box(int32_t ax, int32_t ay, int32_t bx, int32_t by) {
  if (!screen_) return;
  const int64_t x1 = cut(std::min(ax, bx) + origin_x_), x2 = cut(std::max(ax, bx) + origin_x_);
  const int64_t y1 = cut(std::min(ay, by) + origin_y_), y2 = cut(std::max(ay, by) + origin_y_);
  if (x2 < clip_.left || x1 >= clip_.right || y2 < clip_.top || y1 >= clip_.bottom) return;
  const int64_t left = std::max<int64_t>(x1, clip_.left), right = std::min<int64_t>(x2, clip_.right - 1);
  const int64_t top = std::max<int64_t>(y1, clip_.top), bottom = std::min<int64_t>(y2, clip_.bottom - 1);
  if (state_.fill_on)
    for (int64_t y = top; y <= bottom; y++) fill_span(y, left, right);
  if (!state_.pen_on) return;
  auto edge = [&](int64_t x, int64_t y) {
    if (x < left || x > right) return;
    uint32_t code = kGlyphBoxHorizontal;
    if (y == y1 && x == x1)
      code = kGlyphBoxTopLeft;
    else if (y == y1 && x == x2)
      code = kGlyphBoxTopRight;
    else if (y == y2 && x == x1)
      code = kGlyphBoxBottomLeft;
    else if (y == y2 && x == x2)
      code = kGlyphBoxBottomRight;
    else if (x == x1 || x == x2)
      code = kGlyphBoxVertical;
    this->glyph(x, y, code);
  };
  for (int64_t y = top; y <= bottom; y++) {
    if (y == y1 || y == y2) {
      for (int64_t x = left; x <= right; x++) edge(x, y);
    } else {
      edge(x1, y);
      if (x2 != x1) edge(x2, y);
    }
  }
}

// The segment between two cells, already moved by the origin. Ends far
// outside are first cut along the segment to the coordinate box.
void DrawPainter::segment(int64_t x0, int64_t y0, int64_t x1, int64_t y1) {
  auto outside = [](int64_t v) { return v < -kLimit || v > kLimit; };
  if (outside(x0) || outside(y0) || outside(x1) || outside(y1)) {
    double t0 = 0, t1 = 1;
    const double dx = double(x1 - x0), dy = double(y1 - y0);
    const double p[4] = {-dx, dx, -dy, dy};
    const double q[4] = {double(x0 + kLimit), double(kLimit - x0), double(y0 + kLimit), double(kLimit - y0)};
    for (int i = 0; i < 4; i++) {
      if (p[i] == 0) {
        if (q[i] < 0) return;
        continue;
      }
      const double r = q[i] / p[i];
      if (p[i] < 0)
        t0 = std::max(t0, r);
      else
        t1 = std::min(t1, r);
    }
    if (t0 > t1) return;
    const int64_t nx0 = cut(int64_t(std::llround(double(x0) + t0 * dx)));
    const int64_t ny0 = cut(int64_t(std::llround(double(y0) + t0 * dy)));
    const int64_t nx1 = cut(int64_t(std::llround(double(x0) + t1 * dx)));
    const int64_t ny1 = cut(int64_t(std::llround(double(y0) + t1 * dy)));
    x0 = nx0, y0 = ny0, x1 = nx1, y1 = ny1;
  }
  const int64_t dx = x1 > x0 ? x1 - x0 : x0 - x1;
  const int64_t dy = -(y1 > y0 ? y1 - y0 : y0 - y1);
  const int64_t sx = x0 < x1 ? 1 : -1, sy = y0 < y1 ? 1 : -1;
  int64_t err = dx + dy;
  for (;;) {
    plot(x0, y0);
    if (x0 == x1 && y0 == y1) break;
    const int64_t e2 = 2 * err;
    if (e2 >= dy) {
      if (x0 == x1) break;
      err += dy;
      x0 += sx;
    }
    if (e2 <= dx) {
      if (y0 == y1) break;
      err += dx;
      y0 += sy;
    }
  }
}

void DrawPainter::line(int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
  if (!screen_) return;
  segment(x0 + origin_x_, y0 + origin_y_, x1 + origin_x_, y1 + origin_y_);
}

void DrawPainter::triangle(int32_t ax, int32_t ay, int32_t bx, int32_t by, int32_t cx, int32_t cy) {
  if (!screen_) return;
  struct P {
    int64_t x, y;
  };
  P p[3] = {{cut(ax + origin_x_), cut(ay + origin_y_)},
            {cut(bx + origin_x_), cut(by + origin_y_)},
            {cut(cx + origin_x_), cut(cy + origin_y_)}};
  std::stable_sort(p, p + 3, [](const P& l, const P& r) { return l.y < r.y; });
  const P& top = p[0];
  const P& middle = p[1];
  const P& bottom = p[2];
  if (state_.fill_on) {
    const int64_t total = bottom.y - top.y;
    const int64_t first = std::max<int64_t>(0, clip_.top - top.y);
    const int64_t last = std::min<int64_t>(total - 1, clip_.bottom - 1 - top.y);
    const int64_t upper = middle.y - top.y;
    for (int64_t i = first; i <= last; i++) {
      const int64_t xa = top.x + (bottom.x - top.x) * i / total;
      int64_t xb;
      if (i <= upper && middle.y != top.y)
        xb = top.x + (middle.x - top.x) * i / upper;
      else
        xb = middle.x + (bottom.x - middle.x) * (i - upper) / (bottom.y - middle.y);
      fill_span(top.y + i, xa, xb);
    }
  }
  if (state_.pen_on) {
    segment(top.x, top.y, middle.x, middle.y);
    segment(middle.x, middle.y, bottom.x, bottom.y);
    segment(bottom.x, bottom.y, top.x, top.y);
  }
}

void DrawPainter::ellipse_at(int64_t xm, int64_t ym, int64_t a, int64_t b) {
  auto point = [&](int64_t x, int64_t y) {
    if (state_.fill_on) fill_span(y, x, xm);
    if (state_.pen_on) plot(x, y);
  };
  int64_t x = -a, y = 0;
  int64_t e2 = b * b;
  int64_t err = x * (2 * e2 + x) + e2;
  do {
    point(xm - x, ym + y);
    point(xm + x, ym + y);
    point(xm + x, ym - y);
    point(xm - x, ym - y);
    e2 = 2 * err;
    if (e2 >= (2 * x + 1) * b * b) {
      x += 1;
      err += (2 * x + 1) * b * b;
    }
    if (e2 <= (2 * y + 1) * a * a) {
      y += 1;
      err += (2 * y + 1) * a * a;
    }
  } while (x <= 0);
  while (y + 1 < b) {
    y += 1;
    point(xm, ym + y);
    point(xm, ym - y);
  }
}

void DrawPainter::circle(int32_t cx, int32_t cy, int32_t radius) {
  if (!screen_ || radius <= 0) return;
  const int64_t r = std::min<int64_t>(radius, kLimit / 2);
  ellipse_at(cut(cx + origin_x_), cut(cy + origin_y_), 2 * r, r);
}

void DrawPainter::ellipse(int32_t x, int32_t y, int32_t width, int32_t height) {
  if (!screen_ || width < 1 || height < 1) return;
  const int64_t rx = std::min<int64_t>(width / 2, kLimit), ry = std::min<int64_t>(height / 2, kLimit);
  ellipse_at(cut(x + origin_x_ + rx), cut(y + origin_y_ + ry), rx, ry);
}

void DrawPainter::text(int32_t x, int32_t y, const uint32_t* text, int32_t length) {
  if (!screen_ || clip_.empty()) return;
  RenderRecord render;
  render.flags = render_flags_ | kRenderEmbeddedSgr;
  render.para = kParaWrap;
  render.foreground = state_.font_colour_set ? state_.font_colour
                      : state_.pen_on        ? state_.pen
                                             : kDrawDefaultColour;
  screen_write_text(*screen_, text, size_t(length), int32_t(cut(x + origin_x_)), int32_t(cut(y + origin_y_)),
                    clip_, render);
}

}  // namespace kiv
