// Pixel-buffer geometry. Offsets into a buffer are formed in 64 bits (a
// buffer holds up to 2^29 - 1 pixels, so row * width stays far from overflow
// either way); coordinates are doubles, corners floats.
#include "runtime/image_geometry.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>

#include "runtime/memory.h"
#include "runtime/numbers.h"

namespace kiv {

void image_vec2_set(ImageVec2* v, double x, double y) {
  v->x = x;
  v->y = y;
}

void image_vec2_sub(ImageVec2* out, double x1, double y1, double x2, double y2) {
  out->x = x2 - x1;
  out->y = y2 - y1;
}

double image_vec2_length(const ImageVec2& v) { return std::sqrt(v.x * v.x + v.y * v.y); }

void image_vec2_normalize(ImageVec2* v) {
  double length = image_vec2_length(*v);
  if (!(length > 0)) return;
  v->x /= length;
  v->y /= length;
}

double image_vec2_cross(const ImageVec2& a, const ImageVec2& b) { return a.x * b.y - a.y * b.x; }

namespace {

// cross([point] - [start], [end] - [start]): positive right of the edge, negative left of it.
double side_of(const ImageVec2& point, const ImageVec2& start, const ImageVec2& end) {
  ImageVec2 p, e;
  image_vec2_sub(&p, start.x, start.y, point.x, point.y);
  image_vec2_sub(&e, start.x, start.y, end.x, end.y);
  return image_vec2_cross(p, e);
}

ImageVec2 corner(const ImageQuad& quad, int k) { return ImageVec2{quad.x[k & 3], quad.y[k & 3]}; }

}  // namespace

bool image_point_right_of(const ImageVec2& point, const ImageVec2& start, const ImageVec2& end) {
  return side_of(point, start, end) > 0;
}

bool image_point_in_quad(const ImageQuad& quad, const ImageVec2& point) {
  bool right = false, left = false;
  for (int k = 0; k < 4; k++) {
    double side = side_of(point, corner(quad, k), corner(quad, k + 1));
    if (std::isnan(side)) return false;
    right |= side > 0;
    left |= side < 0;
  }
  return !(right && left);
}

void image_quad_mirror_x(ImageQuad* quad, double c) {
  for (float& x : quad->x) x = float(2 * c - x);
}

void image_quad_mirror_y(ImageQuad* quad, double c) {
  for (float& y : quad->y) y = float(2 * c - y);
}

bool image_copy_rect(const uint32_t* src, int32_t sw, int32_t sh, int32_t x, int32_t y, int32_t width,
                     int32_t height, uint32_t* dst) {
  if (x < 0 || y < 0 || x >= sw || y >= sh || width <= 0 || height <= 0) return false;
  int64_t row = std::min<int64_t>(width, int64_t(sw) - x);
  int64_t rows = std::min<int64_t>(height, int64_t(sh) - y);
  const uint32_t* from = src + int64_t(y) * sw + x;
  for (int64_t j = 0; j < rows; j++) std::memcpy(dst + j * row, from + j * sw, size_t(row) * 4);
  return true;
}

void image_scale_nearest(const uint32_t* src, int32_t sw, int32_t sh, uint32_t* dst, int32_t dw, int32_t dh) {
  if (sw <= 0 || sh <= 0 || dw <= 0 || dh <= 0) return;
  for (int64_t j = 0; j < dh; j++) {
    const uint32_t* row = src + (j * sh / dh) * sw;
    uint32_t* out = dst + j * dw;
    for (int64_t i = 0; i < dw; i++) out[i] = row[i * sw / dw];
  }
}

namespace {

// Channel [c] (0 the lowest byte) of [pixel].
inline float channel(uint32_t pixel, int c) { return float((pixel >> (8 * c)) & 0xFF); }

}  // namespace

uint32_t* image_transform_quad(const uint32_t* src, int32_t sw, int32_t sh, const ImageQuad& quad, int32_t* x,
                               int32_t* y, int32_t* width, int32_t* height) {
  *x = *y = *width = *height = 0;
  double min_x = FLT_MAX, min_y = FLT_MAX, max_x = -FLT_MAX, max_y = -FLT_MAX;
  for (int k = 0; k < 4; k++) {
    if (!std::isfinite(quad.x[k]) || !std::isfinite(quad.y[k])) return nullptr;
    min_x = std::min<double>(min_x, quad.x[k]);
    min_y = std::min<double>(min_y, quad.y[k]);
    max_x = std::max<double>(max_x, quad.x[k]);
    max_y = std::max<double>(max_y, quad.y[k]);
  }
  // The box covers every pixel the quadrilateral touches, negative or
  // fractional corners included.
  const int32_t ox = double_to_int32(std::floor(min_x)), oy = double_to_int32(std::floor(min_y));
  const int32_t ow = double_to_int32(std::ceil(max_x) - std::floor(min_x));
  const int32_t oh = double_to_int32(std::ceil(max_y) - std::floor(min_y));
  if (ox == INT32_MIN || oy == INT32_MIN || ow == INT32_MIN || oh == INT32_MIN) return nullptr;
  *x = ox;
  *y = oy;
  *width = ow;
  *height = oh;
  if (sw < 1 || sh < 1 || ow < 1 || oh < 1 || !image_size_ok_q(ow, oh)) return nullptr;
  auto* out = static_cast<uint32_t*>(heap_try_alloc(size_t(ow) * size_t(oh) * 4));
  if (!out) return nullptr;
  std::memset(out, 0, size_t(ow) * size_t(oh) * 4);

  ImageVec2 c[4], e[4];
  for (int k = 0; k < 4; k++) c[k] = corner(quad, k);
  for (int k = 0; k < 4; k++) {
    image_vec2_sub(&e[k], c[k].x, c[k].y, c[(k + 1) & 3].x, c[(k + 1) & 3].y);
    image_vec2_normalize(&e[k]);
  }
  for (int32_t j = 0; j < oh; j++) {
    for (int32_t i = 0; i < ow; i++) {
      ImageVec2 p{double(ox) + i + 0.5, double(oy) + j + 0.5};
      if (!image_point_in_quad(quad, p)) continue;
      double d[4];
      for (int k = 0; k < 4; k++) {
        ImageVec2 rel;
        image_vec2_sub(&rel, c[k].x, c[k].y, p.x, p.y);
        d[k] = std::fabs(image_vec2_cross(rel, e[k]));
      }
      // Where two opposite edges meet the distances give no position.
      const double across = d[3] + d[1], down = d[0] + d[2];
      if (!(across > 0) || !(down > 0)) continue;
      // The centre's position in source pixels, less half a pixel: source
      // pixel n covers n..n+1, so its centre n + 0.5 samples it alone.
      const double u = d[3] * sw / across - 0.5, v = d[0] * sh / down - 0.5;
      const int32_t iu = double_to_int32(u), iv = double_to_int32(v);
      if (iu < 0 || iu >= sw || iv < 0 || iv >= sh) continue;
      const int32_t iu1 = iu + 1 == sw ? iu : iu + 1, iv1 = iv + 1 == sh ? iv : iv + 1;
      const float fu = std::max(float(u - iu), 0.0f), fv = std::max(float(v - iv), 0.0f);
      const float gu = 1 - fu, gv = 1 - fv;
      const uint32_t s00 = src[int64_t(iv) * sw + iu], s10 = src[int64_t(iv) * sw + iu1];
      const uint32_t s01 = src[int64_t(iv1) * sw + iu], s11 = src[int64_t(iv1) * sw + iu1];
      uint32_t pixel = 0;
      for (int ch = 0; ch < 4; ch++) {
        float sum = gu * gv * channel(s00, ch) + fu * gv * channel(s10, ch) + gu * fv * channel(s01, ch) +
                    fu * fv * channel(s11, ch);
        int32_t n = std::clamp(double_to_int32(sum), 0, 255);
        pixel |= uint32_t(n) << (8 * ch);
      }
      out[int64_t(j) * ow + i] = pixel;
    }
  }
  return out;
}

}  // namespace kiv
