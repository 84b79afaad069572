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

// libpng, libjpeg-turbo, giflib and libtiff are opened at the first decode
// or encode of their format, not linked: linked, every start-up of kiv would
// load them and the libraries they pull in. Each codec unit names the
// functions it calls in one X-macro list, from which KIV_IMAGE_FUNCTION
// declares a pointer each (in a struct of the unit's) and KIV_IMAGE_FIND
// takes them from the library.
#define KIV_IMAGE_FUNCTION(name) decltype(&::name) name = nullptr;
// In a loader with the struct as [functions] and the library as [handle]:
// returns the name of a function the library does not have.
#define KIV_IMAGE_FIND(name)                                                                        \
  functions.name = reinterpret_cast<decltype(functions.name)>(image_library_symbol(handle, #name)); \
  if (!functions.name) return #name;

// One codec's library: what it is called, and the outcome of opening it,
// kept from the first use on (kiv runs one interpreter thread).
struct ImageLibrary {
  const char* format;  // "PNG", the start of the reasons
  const char* soname;
  // Takes the functions from the opened library at [handle]: the name of a
  // missing one, else nullptr.
  const char* (*load)(void* handle);
  bool tried = false;
  bool ready = false;
  char why[240] = {0};  // why it is not ready
};

// True when [library] is open with every function found, opening it at the
// first call; else false, with the reason in *[why], at that call and every
// later one.
bool image_library_ready(ImageLibrary* library, std::string* why);

// The function [name] of the opened library at [handle]; nullptr when it has
// none.
void* image_library_symbol(void* handle, const char* name);

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
