// Pixel-buffer geometry: 2-D vectors, quadrilaterals, cutting a rectangle out
// of a pixel buffer, scaling one, and mapping one onto a convex quadrilateral.
//
// A pixel buffer is width x height 32-bit words, rows top to bottom with no gap
// between them (stride width x 4 bytes). The functions here treat each word's
// four bytes as four independent channels and know nothing of what the
// channels mean. Sizes follow the image limits below, so every offset and byte
// count of a buffer fits in 64 bits with room to spare and every side in 16.
//
// Every float-to-integer conversion goes through double_to_int32
// (runtime/numbers.h): a NaN or a coordinate out of range gives INT32_MIN,
// which the limits then refuse, never undefined behaviour.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kiv {

// The largest side and the largest pixel count of a pixel buffer.
inline constexpr int32_t kImageSideMax = 65535;
inline constexpr int64_t kImagePixelsMax = (int64_t(1) << 29) - 1;

// True when [width] x [height] is a size a buffer may have: both sides in
// 0..kImageSideMax and at most kImagePixelsMax pixels.
inline bool image_size_ok_q(int64_t width, int64_t height) {
  return width >= 0 && height >= 0 && width <= kImageSideMax && height <= kImageSideMax &&
         width * height <= kImagePixelsMax;
}

// ---------------------------------------------------------------- vectors and quadrilaterals

struct ImageVec2 {
  double x = 0;
  double y = 0;
};

// Four corners in order C0..C3; the edges run C0-C1, C1-C2, C2-C3, C3-C0.
struct ImageQuad {
  float x[4] = {};
  float y[4] = {};
};

void image_vec2_set(ImageVec2* v, double x, double y);
// [out] = (x2 - x1, y2 - y1).
void image_vec2_sub(ImageVec2* out, double x1, double y1, double x2, double y2);
double image_vec2_length(const ImageVec2& v);
// Divides both components by the length; a vector of length 0 stays (0, 0).
void image_vec2_normalize(ImageVec2* v);
// a.x * b.y - a.y * b.x.
double image_vec2_cross(const ImageVec2& a, const ImageVec2& b);
// True when cross([point] - [start], [end] - [start]) > 0.
bool image_point_right_of(const ImageVec2& point, const ImageVec2& start, const ImageVec2& end);
// True when [point] lies inside [quad] or on its border: on the inner side of
// all four edges, whichever way the corners wind (a mirrored quadrilateral
// winds the other way round).
bool image_point_in_quad(const ImageQuad& quad, const ImageVec2& point);
// Every corner's x becomes 2c - x (a left-right mirror about x = c).
void image_quad_mirror_x(ImageQuad* quad, double c);
// Every corner's y becomes 2c - y.
void image_quad_mirror_y(ImageQuad* quad, double c);

// ---------------------------------------------------------------- buffers

// Copies the rectangle at ([x], [y]) of [width] x [height] pixels of the
// source (sw x sh) into [dst], rows packed: a rectangle reaching past the
// right or bottom edge is cut there, so [dst] receives
// min(width, sw - x) x min(height, sh - y) pixels. False, copying nothing,
// when the origin lies outside the source or [width] or [height] is 0 or less.
bool image_copy_rect(const uint32_t* src, int32_t sw, int32_t sh, int32_t x, int32_t y, int32_t width,
                     int32_t height, uint32_t* dst);

// Scales the source (sw x sh) to [dst] (dw x dh) by nearest-neighbour
// sampling: destination pixel (i, j) takes source pixel
// (i * sw / dw, j * sh / dh). Nothing is written when a side is 0.
void image_scale_nearest(const uint32_t* src, int32_t sw, int32_t sh, uint32_t* dst, int32_t dw, int32_t dh);

// Maps the whole source (sw x sh) onto [quad] with bilinear sampling, into a
// new zero-filled buffer over the quadrilateral's bounding box, whose origin
// and size go to *[x], *[y], *[width], *[height]. Output pixel (i, j) samples
// at its centre; the source position comes from the centre's distances to the
// four edges, so a quadrilateral equal to the source rectangle reproduces it
// and a mirrored one flips it, pixel for pixel. A pixel outside the
// quadrilateral, one that maps outside the source, and one where two opposite
// edges meet (a degenerate quadrilateral) stay 0. The result is a
// platform-heap block (runtime/memory.h) the caller frees with heap_free, or
// null when the source has a side below 1, the box is empty, or the box's
// size is beyond the image limits (image_size_ok_q) or the heap has no room;
// the four outputs are written in every case.
uint32_t* image_transform_quad(const uint32_t* src, int32_t sw, int32_t sh, const ImageQuad& quad, int32_t* x,
                               int32_t* y, int32_t* width, int32_t* height);

}  // namespace kiv
