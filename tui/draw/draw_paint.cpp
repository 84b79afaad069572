// The text-mode painter (tui/draw/draw_paint.h). Rasters run in 64-bit
// integers over coordinates cut to +-kDrawCoordinateLimit, so no error term
// overflows; every write goes through a clip test first.
#include "tui/draw/draw_paint.h"

#include <algorithm>
#include <cmath>

#include "console/char_width.h"

namespace kiv {

namespace {

constexpr int64_t kLimit = kDrawCoordinateLimit;

int64_t cut(int64_t v) { return std::clamp<int64_t>(v, -kLimit, kLimit); }

// The level of the 6x6x6 cube nearest to the component [v].
uint32_t cube_level(uint32_t v) { return v < 48 ? 0 : v <= 114 ? 1 : (v - 35) / 40; }
uint32_t cube_value(uint32_t level) { return level == 0 ? 0 : 55 + 40 * level; }

uint32_t distance(uint32_t r, uint32_t g, uint32_t b, uint32_t pr, uint32_t pg, uint32_t pb) {
  auto sq = [](int32_t d) { return uint32_t(d * d); };
  return sq(int32_t(r) - int32_t(pr)) + sq(int32_t(g) - int32_t(pg)) + sq(int32_t(b) - int32_t(pb));
}

constexpr uint32_t kPaletteKind = 2u << 24;

}  // namespace

uint32_t draw_colour_of_rgb(uint32_t r, uint32_t g, uint32_t b, uint32_t t) {
  if (t == 255) return kDrawDefaultColour;
  const uint32_t lr = cube_level(r), lg = cube_level(g), lb = cube_level(b);
  const uint32_t cube = 16 + 36 * lr + 6 * lg + lb;
  const uint32_t average = (r + g + b) / 3;
  const uint32_t step = average > 238 ? 23 : average < 3 ? 0 : (average - 3) / 10;
  const uint32_t grey_value = 8 + 10 * step;
  const uint32_t cube_distance = distance(r, g, b, cube_value(lr), cube_value(lg), cube_value(lb));
  const uint32_t grey_distance = distance(r, g, b, grey_value, grey_value, grey_value);
  return kPaletteKind | (grey_distance < cube_distance ? 232 + step : cube);
}

DrawPainter::DrawPainter(DrawSink* sink, int32_t origin_x, int32_t origin_y, DrawRect clip)
    : sink_(sink), origin_x_(origin_x), origin_y_(origin_y), clip_(clip) {
  if (sink_) {
    clip_.x1 = std::max(clip_.x1, 0);
    clip_.y1 = std::max(clip_.y1, 0);
    clip_.x2 = std::min(clip_.x2, sink_->width());
    clip_.y2 = std::min(clip_.y2, sink_->height());
  } else {
    clip_ = DrawRect{0, 0, 0, 0};
  }
  if (clip_.x2 < clip_.x1) clip_.x2 = clip_.x1;
  if (clip_.y2 < clip_.y1) clip_.y2 = clip_.y1;
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
  if (inside(x, y)) sink_->put_glyph(int32_t(x), int32_t(y), kGlyphFullBlock, state_.pen);
}

void DrawPainter::fill_span(int64_t y, int64_t xa, int64_t xb) {
  if (y < clip_.y1 || y >= clip_.y2) return;
  const int64_t from = std::max<int64_t>(std::min(xa, xb), clip_.x1);
  const int64_t to = std::min<int64_t>(std::max(xa, xb), clip_.x2 - 1);
  for (int64_t x = from; x <= to; x++) sink_->put_fill(int32_t(x), int32_t(y), state_.fill);
}

void DrawPainter::box(int32_t ax, int32_t ay, int32_t bx, int32_t by) {
  if (!sink_) return;
  const int64_t x1 = cut(std::min(ax, bx) + origin_x_), x2 = cut(std::max(ax, bx) + origin_x_);
  const int64_t y1 = cut(std::min(ay, by) + origin_y_), y2 = cut(std::max(ay, by) + origin_y_);
  if (x2 < clip_.x1 || x1 >= clip_.x2 || y2 < clip_.y1 || y1 >= clip_.y2) return;
  const int64_t left = std::max<int64_t>(x1, clip_.x1), right = std::min<int64_t>(x2, clip_.x2 - 1);
  const int64_t top = std::max<int64_t>(y1, clip_.y1), bottom = std::min<int64_t>(y2, clip_.y2 - 1);
  if (state_.fill_on)
    for (int64_t y = top; y <= bottom; y++) fill_span(y, left, right);
  if (!state_.pen_on) return;
  auto edge = [&](int64_t x, int64_t y) {
    if (x < left || x > right) return;
    uint32_t glyph = kGlyphBoxHorizontal;
    if (y == y1 && x == x1)
      glyph = kGlyphBoxTopLeft;
    else if (y == y1 && x == x2)
      glyph = kGlyphBoxTopRight;
    else if (y == y2 && x == x1)
      glyph = kGlyphBoxBottomLeft;
    else if (y == y2 && x == x2)
      glyph = kGlyphBoxBottomRight;
    else if (x == x1 || x == x2)
      glyph = kGlyphBoxVertical;
    sink_->put_glyph(int32_t(x), int32_t(y), glyph, state_.pen);
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
  if (!sink_) return;
  segment(x0 + origin_x_, y0 + origin_y_, x1 + origin_x_, y1 + origin_y_);
}

void DrawPainter::triangle(int32_t ax, int32_t ay, int32_t bx, int32_t by, int32_t cx, int32_t cy) {
  if (!sink_) return;
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
    const int64_t first = std::max<int64_t>(0, clip_.y1 - top.y);
    const int64_t last = std::min<int64_t>(total - 1, clip_.y2 - 1 - top.y);
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
  if (!sink_ || radius <= 0) return;
  const int64_t r = std::min<int64_t>(radius, kLimit / 2);
  ellipse_at(cut(cx + origin_x_), cut(cy + origin_y_), 2 * r, r);
}

void DrawPainter::ellipse(int32_t x, int32_t y, int32_t width, int32_t height) {
  if (!sink_ || width < 1 || height < 1) return;
  const int64_t rx = std::min<int64_t>(width / 2, kLimit), ry = std::min<int64_t>(height / 2, kLimit);
  ellipse_at(cut(x + origin_x_ + rx), cut(y + origin_y_ + ry), rx, ry);
}

void DrawPainter::text(int32_t x, int32_t y, const uint32_t* text, int32_t length) {
  if (!sink_) return;
  const uint32_t colour = state_.font_colour_set ? state_.font_colour
                          : state_.pen_on        ? state_.pen
                                                 : kDrawDefaultColour;
  const int64_t start = int64_t(x) + origin_x_;
  int64_t column = start, row = int64_t(y) + origin_y_;
  for (int32_t i = 0; i < length && row < clip_.y2; i++) {
    const uint32_t cp = text[i];
    if (cp == '\n') {
      column = start;
      row++;
      continue;
    }
    const int width = char_width(cp);
    if (width <= 0) continue;
    if (column + width > clip_.x2) {
      if (column == start) continue;  // wider than the whole row: dropped
      column = start;
      row++;
      if (row >= clip_.y2) break;
    }
    if (row >= clip_.y1 && column >= clip_.x1) {
      sink_->put_glyph(int32_t(column), int32_t(row), cp, colour);
      if (width == 2) sink_->put_continuation(int32_t(column + 1), int32_t(row));
    }
    column += width;
  }
}

}  // namespace kiv
