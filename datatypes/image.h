// image!: a two-dimensional series of 32-bit pixels.
//
// Value cell (image! 53):
//   header  type id; kFlagNewLine is kept by copies
//   word 1  head: a 0-based pixel offset, read clamped to 0 .. width * height
//   word 2  node of the image's record series; 0 for an image without
//           pixels (a side of 0, or the empty image)
//   word 3  size: width in bits 0-15, height in bits 16-31
//
// Record series (4-byte units, two of them): the slot of the image table
// that holds the pixel buffer, and the slot's generation. A record naming a
// slot of another generation names an image that is gone; it reads as an
// image without pixels (never as freed memory).
//
// Pixel buffer: width x height words 0xAARRGGBB (in memory the bytes B, G, R,
// A), straight alpha (255 opaque), rows top to bottom, stride width x 4; on
// the platform heap, outside collector memory, so it never moves. Pixel
// (x, y) is offset y * width + x. Each buffer is an instance of the
// external-resource class "image" (runtime/resources.h): marking an image!
// marks its record and its instance, and the collector releases the buffer
// of every instance no live value reached. Making images counts the bytes of
// the buffers made since the last collection and collects first when they
// pass the image bytes that collection kept (and at least 64 MiB), so images
// made and dropped in a loop do not pile up between collections.
//
// Scripts see a pixel as the tuple R.G.B.T, T = 255 - alpha (0 opaque). The
// sizes are limited by runtime/image_geometry.h: a side of at most 65,535
// and at most 2^29 - 1 pixels, checked before anything is allocated.
//
// Owned images: the record series carries the owned flag and the owner
// table's record (runtime/ownership.h), as any owned series' buffer does;
// every writer tells the owner before and after it changes pixels.
#pragma once

#include <cstddef>
#include <cstdint>

#include "runtime/cell.h"

namespace kiv {

// ---------------------------------------------------------------- the cell

// An image! of [width] x [height] over the record [node] (0: no pixels) at [head].
inline Cell image_cell(Node node, int32_t width, int32_t height, int32_t head = 0) {
  return make_cell(kTypeImage, uint32_t(head), node,
                   (uint32_t(height) & 0xFFFF) << 16 | (uint32_t(width) & 0xFFFF));
}
inline int32_t image_width(const Cell* image) { return int32_t(image->data3 & 0xFFFF); }
inline int32_t image_height(const Cell* image) { return int32_t(image->data3 >> 16); }
// width * height: the length of the image whatever its head.
inline int32_t image_pixel_count(const Cell* image) { return image_width(image) * image_height(image); }
// The head clamped into 0 .. width * height.
inline int32_t image_head(const Cell* image) {
  int32_t head = image->head(), total = image_pixel_count(image);
  return head < 0 ? 0 : head > total ? total : head;
}

// What a channel of an image's pixels is as bytes (paths rgb, alpha, argb,
// to binary!): alpha one byte a pixel (255 - A), rgb three (R, G, B), argb
// four (the pixel words as they lie in memory: B, G, R, A).
enum class ImageChannel : uint8_t { kAlpha = 0, kRgb = 1, kArgb = 2 };

// A pixel word as the tuple R.G.B.(255 - A).
Cell image_pixel_to_tuple(uint32_t pixel);
// The pixel word of a tuple: R, G, B from its first three bytes; alpha 255 -
// its fourth byte when it has more than three, else 255.
uint32_t image_tuple_to_pixel(const Cell* tuple);

// ---------------------------------------------------------------- the C++ interface
//
// How code outside the image unit (the file codecs, the clipboard, the view)
// makes image! values and reads their pixels. Pixels are 0xAARRGGBB words
// with straight alpha, rows top to bottom, width words a row, no gap.
//
//   Cell* img = image_push(w, h, decoded);          // a new image! on the data stack
//   ImageView v = image_view(img);                 // v.pixels[y * v.width + x]

// MAY ALLOCATE. Makes *[out] a new image! of [width] x [height], head 0, its
// pixels copied from [pixels] (width * height words), or all 0 (transparent
// black) when [pixels] is null. A side of 0 or less gives an image of that
// size with no pixels (a negative side counts as 0). A size past the limits
// raises script invalid-arg with the size as a pair!, before anything is
// allocated; a heap that cannot hold the pixels raises internal no-memory.
// [pixels] must not point into a collected series. Returns [out].
Cell* image_make_at(Cell* out, int32_t width, int32_t height, const uint32_t* pixels);
// MAY ALLOCATE. image_make_at on a cell pushed on the data stack.
Cell* image_push(int32_t width, int32_t height, const uint32_t* pixels);

// An image's size and the address of its pixels (null when it has none).
struct ImageView {
  int32_t width = 0;
  int32_t height = 0;
  uint32_t* pixels = nullptr;
};
// The pixels of [image], from offset 0 (the head plays no part). Short-lived:
// the buffer never moves, but the collector frees it once no live value
// holds the image, so [image] must stay rooted while the view is used. A
// caller that writes through it tells the image's owner itself
// (runtime/ownership.h) when the image may be owned.
ImageView image_view(const Cell* image);

// MAY ALLOCATE. Pushes a new image! of [width] x [height] holding [image]
// scaled by nearest-neighbour sampling (runtime/image_geometry.h); the size
// rules are those of image_make_at.
Cell* image_push_scaled(const Cell* image, int32_t width, int32_t height);

// ---------------------------------------------------------------- channels

// MAY ALLOCATE. Makes *[out] (a stable cell) a new binary! of [channel]'s bytes for every
// pixel from offset 0 (not from the head); returns [out].
Cell* image_get_channel(const Cell* image, ImageChannel channel, Cell* out);
// MAY RUN KIV CODE (the owner's handler). Writes [source] into [channel] of
// every pixel from offset 0: a binary! pixel by pixel while it lasts (argb:
// its bytes as they are; rgb: three bytes a pixel, alpha kept; alpha: one
// byte a pixel, alpha = 255 - byte, colour kept), a tuple! or integer! to
// every pixel alike. Any other source raises script invalid-arg with it.
void image_set_channel(const Cell* image, const Cell* source, ImageChannel channel);

// ---------------------------------------------------------------- statistics

// The image buffers alive now, and their bytes.
uint32_t image_live_count();
size_t image_live_bytes();

}  // namespace kiv
