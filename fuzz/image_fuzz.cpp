// libFuzzer target of the image decoders: any bytes go through the decoder
// of each of the five formats (so the BMP reader, ours, sees everything),
// whatever their signature says. A picture that decodes must have as many
// pixels as its size says; a small one is encoded again as PNG, BMP and TIFF
// and must decode back to the same pixels. Every outcome is a picture or a
// failure: never a crash, a hang, a leak or a sanitizer report.
//
// tests/unit/image_fuzz_seeds_test.cpp runs this entry over the seeds in
// fuzz/corpus/image_fuzz/ as an ordinary test.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "services/image_codecs.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kiv;
  if (size > (1u << 20)) return 0;
  for (ImageFormat format :
       {ImageFormat::kPng, ImageFormat::kJpeg, ImageFormat::kGif, ImageFormat::kTiff, ImageFormat::kBmp}) {
    PixelImage image;
    std::string why;
    if (!image_decode(format, data, size, &image, &why)) {
      if (!image.pixels.empty() || why.empty()) std::abort();
      continue;
    }
    if (image.width == 0 || image.height == 0 || image.pixels.size() != size_t(image.width) * image.height) {
      std::abort();
    }
    if (image.pixels.size() > 4096) continue;
    for (ImageFormat lossless : {ImageFormat::kPng, ImageFormat::kBmp, ImageFormat::kTiff}) {
      std::vector<uint8_t> encoded;
      PixelImage back;
      if (!image_encode(lossless, image, &encoded, &why)) std::abort();
      if (!image_decode(lossless, encoded.data(), encoded.size(), &back, &why)) std::abort();
      if (back.width != image.width || back.height != image.height) std::abort();
      if (back.pixels != image.pixels) std::abort();
    }
  }
  return 0;
}
