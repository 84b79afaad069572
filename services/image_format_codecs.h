// The codec of each image format behind services/image_codecs.h, one unit a
// format (services/image_<format>.cpp), and what they share. Each decoder
// leaves *[out] empty on failure; each encoder gets an image already checked
// (sides from 1 to kImageMaxSide, width x height pixels).
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "services/image_codecs.h"

namespace kiv {

// The pixel words are handed to the libraries as bytes B, G, R, A.
static_assert(std::endian::native == std::endian::little, "pixel words are read as B, G, R, A bytes");

bool image_png_decode(const uint8_t* data, size_t size, PixelImage* out, std::string* why);
bool image_png_encode(const PixelImage& image, std::vector<uint8_t>* out, std::string* why);
bool image_jpeg_decode(const uint8_t* data, size_t size, PixelImage* out, std::string* why);
bool image_jpeg_encode(const PixelImage& image, std::vector<uint8_t>* out, std::string* why);
bool image_gif_decode(const uint8_t* data, size_t size, PixelImage* out, std::string* why);
bool image_gif_encode(const PixelImage& image, std::vector<uint8_t>* out, std::string* why);
bool image_tiff_decode(const uint8_t* data, size_t size, PixelImage* out, std::string* why);
bool image_tiff_encode(const PixelImage& image, std::vector<uint8_t>* out, std::string* why);
bool image_bmp_decode(const uint8_t* data, size_t size, PixelImage* out, std::string* why);
bool image_bmp_encode(const PixelImage& image, std::vector<uint8_t>* out, std::string* why);

// Sizes *[out] to [width] x [height] pixels of [fill]; false (with the
// reason) when the memory cannot be had. The size is checked already.
bool image_allocate(PixelImage* out, uint32_t width, uint32_t height, uint32_t fill, std::string* why);

// Sets *[why] to [reason] and returns false.
inline bool image_fail(std::string* why, const char* reason) {
  if (why) *why = reason;
  return false;
}

// The GIF palette of an image that has more colours than fit: at most
// [limit] colours (0x00RRGGBB) chosen by median cut over the pixels whose
// alpha is at least 128, and for each pixel the index of its colour in it
// (pixels below alpha 128 get 0, the caller replaces them). Lives in
// services/image_quantise.cpp.
void image_median_cut(const PixelImage& image, uint32_t limit, std::vector<uint32_t>* palette,
                      std::vector<uint8_t>* indexes);

}  // namespace kiv
