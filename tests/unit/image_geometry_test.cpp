// Pixel-buffer geometry: the vector and quadrilateral helpers, cutting a
// rectangle, nearest-neighbour scaling and the quadrilateral mapping with its
// limits (degenerate and non-finite corners, boxes past the size limits).
#include "runtime/image_geometry.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "runtime/memory.h"

namespace kiv {
namespace {

// A w x h buffer whose pixel (x, y) is a distinct word with four distinct channels.
std::vector<uint32_t> pattern(int32_t w, int32_t h) {
  std::vector<uint32_t> p(size_t(w) * h);
  for (int32_t y = 0; y < h; y++)
    for (int32_t x = 0; x < w; x++)
      p[size_t(y) * w + x] =
          0x80000000u | uint32_t(y * 17 + 3) << 16 | uint32_t(x * 29 + 5) << 8 | uint32_t(x + y);
  return p;
}

ImageQuad quad_of(float x0, float y0, float x1, float y1, float x2, float y2, float x3, float y3) {
  ImageQuad q;
  q.x[0] = x0, q.y[0] = y0, q.x[1] = x1, q.y[1] = y1, q.x[2] = x2, q.y[2] = y2, q.x[3] = x3, q.y[3] = y3;
  return q;
}

// The source rectangle, corners clockwise on screen from the top left.
ImageQuad rect_quad(int32_t w, int32_t h) {
  return quad_of(0, 0, float(w), 0, float(w), float(h), 0, float(h));
}

// The mapped buffer and its box, freed at the end of the scope.
struct Mapped {
  uint32_t* pixels = nullptr;
  int32_t x = 0, y = 0, w = 0, h = 0;
  Mapped(const std::vector<uint32_t>& src, int32_t sw, int32_t sh, const ImageQuad& q) {
    pixels = image_transform_quad(src.data(), sw, sh, q, &x, &y, &w, &h);
  }
  ~Mapped() { heap_free(pixels); }
};

TEST(ImageGeometry, VectorsAndSides) {
  ImageVec2 v;
  image_vec2_set(&v, 3, 4);
  EXPECT_EQ(image_vec2_length(v), 5);
  image_vec2_normalize(&v);
  EXPECT_DOUBLE_EQ(v.x, 0.6);
  EXPECT_DOUBLE_EQ(v.y, 0.8);
  ImageVec2 zero;
  image_vec2_normalize(&zero);  // no division by zero: stays (0, 0)
  EXPECT_EQ(zero.x, 0);
  EXPECT_EQ(zero.y, 0);
  ImageVec2 d;
  image_vec2_sub(&d, 1, 2, 4, 6);
  EXPECT_EQ(d.x, 3);
  EXPECT_EQ(d.y, 4);
  EXPECT_EQ(image_vec2_cross(ImageVec2{1, 0}, ImageVec2{0, 1}), 1);
  // y grows downwards: below the edge (0,0)-(10,0) is left of it, above right.
  EXPECT_FALSE(image_point_right_of(ImageVec2{5, 5}, ImageVec2{0, 0}, ImageVec2{10, 0}));
  EXPECT_TRUE(image_point_right_of(ImageVec2{5, -5}, ImageVec2{0, 0}, ImageVec2{10, 0}));
}

TEST(ImageGeometry, PointInQuadEitherWinding) {
  ImageQuad q = rect_quad(10, 10);
  ImageQuad mirrored = q;
  image_quad_mirror_x(&mirrored, 5);  // the corners now wind the other way
  EXPECT_EQ(mirrored.x[0], 10);
  EXPECT_EQ(mirrored.x[1], 0);
  for (const ImageQuad* quad : {&q, &mirrored}) {
    EXPECT_TRUE(image_point_in_quad(*quad, ImageVec2{5, 5}));
    EXPECT_TRUE(image_point_in_quad(*quad, ImageVec2{0, 0}));  // a corner is on the border
    EXPECT_FALSE(image_point_in_quad(*quad, ImageVec2{11, 5}));
    EXPECT_FALSE(image_point_in_quad(*quad, ImageVec2{5, -1}));
    EXPECT_FALSE(image_point_in_quad(*quad, ImageVec2{std::nan(""), 5}));
  }
  ImageQuad flipped = q;
  image_quad_mirror_y(&flipped, 0);
  EXPECT_EQ(flipped.y[2], -10);
  EXPECT_TRUE(image_point_in_quad(flipped, ImageVec2{5, -5}));
}

TEST(ImageGeometry, CopyRectCutsAtTheEdges) {
  auto src = pattern(5, 4);
  struct Case {
    int32_t x, y, w, h;
    bool copied;
    int32_t out_w = 0, out_h = 0;  // what is copied, rows packed
  };
  const Case cases[] = {
      {.x = 1, .y = 1, .w = 2, .h = 2, .copied = true, .out_w = 2, .out_h = 2},
      {.x = 3, .y = 2, .w = 10, .h = 10, .copied = true, .out_w = 2, .out_h = 2},  // past right and bottom
      {.x = 0, .y = 0, .w = 5, .h = 4, .copied = true, .out_w = 5, .out_h = 4},
      {.x = 5, .y = 0, .w = 1, .h = 1, .copied = false},  // origin at x = source width
      {.x = 0, .y = 4, .w = 1, .h = 1, .copied = false},
      {.x = -1, .y = 0, .w = 2, .h = 2, .copied = false},
      {.x = 0, .y = 0, .w = 0, .h = 2, .copied = false},
      {.x = 0, .y = 0, .w = 2, .h = -3, .copied = false},
  };
  for (const Case& c : cases) {
    std::vector<uint32_t> dst(64, 0xDEADBEEF);
    EXPECT_EQ(image_copy_rect(src.data(), 5, 4, c.x, c.y, c.w, c.h, dst.data()), c.copied)
        << c.x << "," << c.y;
    if (!c.copied) {
      EXPECT_EQ(dst[0], 0xDEADBEEF);
      continue;
    }
    for (int32_t j = 0; j < c.out_h; j++)
      for (int32_t i = 0; i < c.out_w; i++)
        EXPECT_EQ(dst[size_t(j) * c.out_w + i], src[size_t(c.y + j) * 5 + c.x + i]);
    EXPECT_EQ(dst[size_t(c.out_w) * c.out_h], 0xDEADBEEF);  // nothing written past the cut rectangle
  }
}

TEST(ImageGeometry, ScaleNearest) {
  auto src = pattern(3, 2);
  std::vector<uint32_t> up(6 * 4);
  image_scale_nearest(src.data(), 3, 2, up.data(), 6, 4);
  for (int32_t j = 0; j < 4; j++)
    for (int32_t i = 0; i < 6; i++) EXPECT_EQ(up[size_t(j) * 6 + i], src[size_t(j / 2) * 3 + i / 2]);
  std::vector<uint32_t> down(1);
  image_scale_nearest(src.data(), 3, 2, down.data(), 1, 1);
  EXPECT_EQ(down[0], src[0]);
}

TEST(ImageGeometry, TransformReproducesAndMirrors) {
  for (auto [w, h] : {std::pair{1, 1}, {3, 2}, {7, 5}, {10, 10}, {33, 17}}) {
    auto src = pattern(w, h);
    Mapped same(src, w, h, rect_quad(w, h));
    ASSERT_NE(same.pixels, nullptr);
    EXPECT_EQ(same.x, 0);
    EXPECT_EQ(same.y, 0);
    ASSERT_EQ(same.w, w);
    ASSERT_EQ(same.h, h);
    EXPECT_EQ(std::vector<uint32_t>(same.pixels, same.pixels + size_t(w) * h), src) << w << "x" << h;

    ImageQuad q = rect_quad(w, h);
    image_quad_mirror_x(&q, w / 2.0);
    Mapped mirror(src, w, h, q);
    ASSERT_NE(mirror.pixels, nullptr);
    for (int32_t j = 0; j < h; j++)
      for (int32_t i = 0; i < w; i++)
        ASSERT_EQ(mirror.pixels[size_t(j) * w + i], src[size_t(j) * w + (w - 1 - i)]) << i << "," << j;
  }
}

TEST(ImageGeometry, TransformBoxAndOutside) {
  auto src = pattern(4, 4);
  // Moved and doubled: the box follows the corners, and every pixel maps.
  Mapped big(src, 4, 4, quad_of(-3, 2, 5, 2, 5, 10, -3, 10));
  ASSERT_NE(big.pixels, nullptr);
  EXPECT_EQ(big.x, -3);
  EXPECT_EQ(big.y, 2);
  EXPECT_EQ(big.w, 8);
  EXPECT_EQ(big.h, 8);
  EXPECT_EQ(big.pixels[0], src[0]);
  EXPECT_EQ(big.pixels[63], src[15]);
  // A diamond: the box's corners lie outside it and stay transparent black.
  Mapped diamond(src, 4, 4, quad_of(4, 0, 8, 4, 4, 8, 0, 4));
  ASSERT_NE(diamond.pixels, nullptr);
  EXPECT_EQ(diamond.pixels[0], 0u);
  EXPECT_EQ(diamond.pixels[7], 0u);
  EXPECT_NE(diamond.pixels[4 * 8 + 4], 0u);
}

TEST(ImageGeometry, TransformRefusals) {
  auto src = pattern(4, 4);
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float inf = std::numeric_limits<float>::infinity();
  // Degenerate quadrilaterals: every pixel skipped, no division by zero.
  Mapped line(src, 4, 4, quad_of(0, 0, 4, 0, 4, 0, 0, 0));
  EXPECT_EQ(line.pixels, nullptr);  // an empty box
  Mapped point_like(src, 4, 4, quad_of(0, 0, 4, 4, 0, 0, 4, 4));
  ASSERT_NE(point_like.pixels, nullptr);
  for (int32_t i = 0; i < point_like.w * point_like.h; i++) EXPECT_EQ(point_like.pixels[i], 0u);
  // Non-finite corners and boxes past the limits give no buffer.
  Mapped not_a_number(src, 4, 4, quad_of(0, 0, nan, 0, 4, 4, 0, 4));
  EXPECT_EQ(not_a_number.pixels, nullptr);
  Mapped infinite(src, 4, 4, quad_of(0, 0, inf, 0, 4, 4, 0, 4));
  EXPECT_EQ(infinite.pixels, nullptr);
  Mapped huge(src, 4, 4, quad_of(-3e9f, 0, 3e9f, 0, 3e9f, 4, -3e9f, 4));
  EXPECT_EQ(huge.pixels, nullptr);
  Mapped wide(src, 4, 4, quad_of(0, 0, 70000, 0, 70000, 2, 0, 2));  // a side past 65,535
  EXPECT_EQ(wide.pixels, nullptr);
  EXPECT_EQ(wide.w, 70000);
  Mapped many(src, 4, 4, quad_of(0, 0, 40000, 0, 40000, 40000, 0, 40000));  // past 2^29 - 1 pixels
  EXPECT_EQ(many.pixels, nullptr);
  Mapped no_source(src, 0, 4, rect_quad(4, 4));
  EXPECT_EQ(no_source.pixels, nullptr);
}

TEST(ImageGeometry, SizeLimits) {
  EXPECT_TRUE(image_size_ok_q(65535, 8191));
  EXPECT_FALSE(image_size_ok_q(65536, 1));
  EXPECT_FALSE(image_size_ok_q(65535, 8193));  // past 2^29 - 1 pixels
  EXPECT_TRUE(image_size_ok_q(0, 65535));
  EXPECT_FALSE(image_size_ok_q(-1, 1));
}

}  // namespace
}  // namespace kiv
