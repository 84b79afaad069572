// Signatures, the size checks every decoder makes before it allocates, the
// opening of the codecs' libraries at first use, and the dispatch to the
// format units.
#include "services/image_codecs.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstring>
#include <new>

#include "services/image_format_codecs.h"

namespace kiv {

std::optional<ImageFormat> image_sniff(const uint8_t* data, size_t size) {
  auto starts = [&](const char* signature, size_t n) {
    return size >= n && std::memcmp(data, signature, n) == 0;
  };
  if (starts("\x89PNG", 4)) return ImageFormat::kPng;
  if (starts("\xFF\xD8\xFF", 3)) return ImageFormat::kJpeg;
  if (starts("BM", 2)) return ImageFormat::kBmp;
  if (starts("GIF87a", 6) || starts("GIF89a", 6)) return ImageFormat::kGif;
  if (starts("II*\0", 4) || starts("MM\0*", 4)) return ImageFormat::kTiff;
  return std::nullopt;
}

bool image_size_check(uint64_t width, uint64_t height, size_t input_size, std::string* why) {
  if (width == 0 || height == 0) return image_fail(why, "the picture has no pixels");
  if (width > kImageMaxSide || height > kImageMaxSide) return image_fail(why, "a side is above 65535");
  uint64_t pixels = width * height;
  if (pixels > kImageMaxPixels) return image_fail(why, "more than 2^29 - 1 pixels");
  if (pixels > kImageFreePixels && pixels / kImageMaxPixelsPerByte > input_size) {
    return image_fail(why, "the picture is larger than its data could hold");
  }
  return true;
}

bool image_allocate(PixelImage* out, uint32_t width, uint32_t height, uint32_t fill, std::string* why) {
  try {
    out->pixels.assign(size_t(width) * height, fill);
  } catch (const std::bad_alloc&) {
    out->pixels = {};
    return image_fail(why, "not enough memory for the pixels");
  }
  out->width = width;
  out->height = height;
  return true;
}

bool image_library_ready(ImageLibrary* library, std::string* why) {
  if (!library->tried) {
    library->tried = true;
    void* handle = dlopen(library->soname, RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
      const char* error = dlerror();
      std::snprintf(library->why, sizeof library->why, "%s: cannot load %s", library->format,
                    error ? error : library->soname);
    } else if (const char* missing = library->load(handle)) {
      std::snprintf(library->why, sizeof library->why, "%s: %s has no function %s", library->format,
                    library->soname, missing);
      dlclose(handle);
    } else {
      library->ready = true;
    }
  }
  return library->ready || image_fail(why, library->why);
}

void* image_library_symbol(void* handle, const char* name) { return dlsym(handle, name); }

bool image_decode(ImageFormat format, const uint8_t* data, size_t size, PixelImage* out, std::string* why) {
  *out = PixelImage{};
  bool ok = false;
  try {
    switch (format) {
      case ImageFormat::kPng: ok = image_png_decode(data, size, out, why); break;
      case ImageFormat::kJpeg: ok = image_jpeg_decode(data, size, out, why); break;
      case ImageFormat::kGif: ok = image_gif_decode(data, size, out, why); break;
      case ImageFormat::kTiff: ok = image_tiff_decode(data, size, out, why); break;
      case ImageFormat::kBmp: ok = image_bmp_decode(data, size, out, why); break;
      default: return image_fail(why, "unknown image format");
    }
  } catch (const std::bad_alloc&) {
    ok = image_fail(why, "not enough memory to decode");
  }
  if (!ok) *out = PixelImage{};
  return ok;
}

bool image_encode(ImageFormat format, const PixelImage& image, std::vector<uint8_t>* out, std::string* why) {
  out->clear();
  if (image.width == 0 || image.height == 0) return image_fail(why, "the image has no pixels");
  if (image.width > kImageMaxSide || image.height > kImageMaxSide) {
    return image_fail(why, "a side is above 65535");
  }
  if (image.pixels.size() != size_t(image.width) * image.height) {
    return image_fail(why, "the pixel buffer does not match the size");
  }
  bool ok = false;
  try {
    switch (format) {
      case ImageFormat::kPng: ok = image_png_encode(image, out, why); break;
      case ImageFormat::kJpeg: ok = image_jpeg_encode(image, out, why); break;
      case ImageFormat::kGif: ok = image_gif_encode(image, out, why); break;
      case ImageFormat::kTiff: ok = image_tiff_encode(image, out, why); break;
      case ImageFormat::kBmp: ok = image_bmp_encode(image, out, why); break;
      default: return image_fail(why, "unknown image format");
    }
  } catch (const std::bad_alloc&) {
    ok = image_fail(why, "not enough memory for the encoding");
  }
  if (!ok) out->clear();
  return ok;
}

}  // namespace kiv
