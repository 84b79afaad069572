// TIFF through libtiff, from and to memory (TIFFClientOpenExt over a byte
// range or a growing buffer). Reading takes the first directory: 8-bit RGB,
// RGBA, grey and grey-and-alpha pictures in strips, samples interleaved and
// the top row first, are read as stored (decompressed by libtiff), alpha taken as unassociated
// when the extra sample says so or is not described, divided out when it is
// associated, ignored when it is described as unspecified; everything else
// goes through libtiff's RGBA reader, whose premultiplied colours are
// divided back. Writing: 8-bit RGBA, unassociated alpha, uncompressed, the
// top row first.
//
// libtiff's messages go to handlers given with each open that drop them;
// the process-wide handlers are silenced too, for the few messages libtiff
// gives without a handle. libtiff is opened at the first decode or encode
// (image_format_codecs.h).
#include <tiffio.h>

#include <algorithm>
#include <cstring>
#include <new>

#include "services/image_format_codecs.h"

namespace kiv {

namespace {

// The libtiff functions the codec calls.
#define KIV_TIFF_FUNCTIONS(X)             \
  X(TIFFSetErrorHandler)                  \
  X(TIFFSetWarningHandler)                \
  X(TIFFOpenOptionsAlloc)                 \
  X(TIFFOpenOptionsSetErrorHandlerExtR)   \
  X(TIFFOpenOptionsSetWarningHandlerExtR) \
  X(TIFFOpenOptionsFree)                  \
  X(TIFFClientOpenExt)                    \
  X(TIFFClose)                            \
  X(TIFFGetField)                         \
  X(TIFFGetFieldDefaulted)                \
  X(TIFFIsTiled)                          \
  X(TIFFNumberOfStrips)                   \
  X(TIFFReadEncodedStrip)                 \
  X(TIFFRGBAImageOK)                      \
  X(TIFFReadRGBAImageOriented)            \
  X(TIFFSetField)                         \
  X(TIFFDefaultStripSize)                 \
  X(TIFFWriteScanline)                    \
  X(TIFFFlush)
struct TiffFunctions {
  KIV_TIFF_FUNCTIONS(KIV_IMAGE_FUNCTION)
};
TiffFunctions g_tiff;

// Also silences the process-wide handlers, once the functions are there.
const char* tiff_load(void* handle) {
  TiffFunctions& functions = g_tiff;
  KIV_TIFF_FUNCTIONS(KIV_IMAGE_FIND)
  functions.TIFFSetErrorHandler(nullptr);
  functions.TIFFSetWarningHandler(nullptr);
  return nullptr;
}

ImageLibrary g_tiff_library{"TIFF", "libtiff.so.6", tiff_load};

// A byte range being read, or a buffer being written (out set).
struct TiffMemory {
  const uint8_t* data = nullptr;
  size_t size = 0;
  uint64_t pos = 0;
  std::vector<uint8_t>* out = nullptr;
};

tmsize_t tiff_read(thandle_t handle, void* into, tmsize_t n) {
  auto* m = static_cast<TiffMemory*>(handle);
  size_t size = m->out ? m->out->size() : m->size;
  const uint8_t* data = m->out ? m->out->data() : m->data;
  if (n <= 0 || m->pos >= size) return 0;
  size_t count = std::min<uint64_t>(uint64_t(n), size - m->pos);
  std::memcpy(into, data + m->pos, count);
  m->pos += count;
  return tmsize_t(count);
}

tmsize_t tiff_write(thandle_t handle, void* bytes, tmsize_t n) {
  auto* m = static_cast<TiffMemory*>(handle);
  if (!m->out || n < 0) return -1;
  try {
    uint64_t end = m->pos + uint64_t(n);
    if (end > m->out->size()) m->out->resize(end);
    std::memcpy(m->out->data() + m->pos, bytes, size_t(n));
    m->pos = end;
  } catch (...) {
    return -1;
  }
  return n;
}

toff_t tiff_seek(thandle_t handle, toff_t offset, int whence) {
  auto* m = static_cast<TiffMemory*>(handle);
  uint64_t size = m->out ? m->out->size() : m->size;
  uint64_t base = whence == SEEK_SET ? 0 : whence == SEEK_CUR ? m->pos : size;
  int64_t delta = int64_t(offset);
  if (whence == SEEK_SET) {
    m->pos = offset;
  } else if (delta < 0 && uint64_t(-delta) > base) {
    return toff_t(-1);
  } else {
    m->pos = base + uint64_t(delta);
  }
  // A reader never needs a position past the data; a writer may extend it.
  if (!m->out && m->pos > size) m->pos = size;
  return m->pos;
}

int tiff_close(thandle_t) { return 0; }
toff_t tiff_size(thandle_t handle) {
  auto* m = static_cast<TiffMemory*>(handle);
  return m->out ? m->out->size() : m->size;
}
int tiff_map(thandle_t, void**, toff_t*) { return 0; }
void tiff_unmap(thandle_t, void*, toff_t) {}

int tiff_quiet(TIFF*, void*, const char*, const char*, va_list) { return 1; }

// Opens [memory] in [mode] with silent handlers.
TIFF* tiff_open(TiffMemory* memory, const char* mode) {
  TIFFOpenOptions* options = g_tiff.TIFFOpenOptionsAlloc();
  if (!options) return nullptr;
  g_tiff.TIFFOpenOptionsSetErrorHandlerExtR(options, tiff_quiet, nullptr);
  g_tiff.TIFFOpenOptionsSetWarningHandlerExtR(options, tiff_quiet, nullptr);
  TIFF* tif = g_tiff.TIFFClientOpenExt("memory", mode, memory, tiff_read, tiff_write, tiff_seek, tiff_close,
                                       tiff_size, tiff_map, tiff_unmap, options);
  g_tiff.TIFFOpenOptionsFree(options);
  return tif;
}

uint32_t unpremultiply(uint32_t r, uint32_t g, uint32_t b, uint32_t a) {
  if (a == 0) return 0;
  if (a < 255) {
    r = std::min<uint32_t>(255, (r * 255 + a / 2) / a);
    g = std::min<uint32_t>(255, (g * 255 + a / 2) / a);
    b = std::min<uint32_t>(255, (b * 255 + a / 2) / a);
  }
  return a << 24 | r << 16 | g << 8 | b;
}

enum class Alpha { kNone, kStraight, kAssociated };

// 8-bit RGB, RGBA, grey and grey-and-alpha strips, interleaved, top row
// first: read as stored. False with *[direct] false when the picture is of
// another kind.
bool read_strips(TIFF* tif, PixelImage* out, bool* direct, std::string* why) {
  *direct = false;
  uint16_t bits = 0, samples = 0, photometric = 0, planar = 0, orientation = 0;
  g_tiff.TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
  g_tiff.TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
  g_tiff.TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
  g_tiff.TIFFGetFieldDefaulted(tif, TIFFTAG_ORIENTATION, &orientation);
  if (!g_tiff.TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric)) return false;
  uint16_t colours = photometric == PHOTOMETRIC_RGB ? 3 : photometric == PHOTOMETRIC_MINISBLACK ? 1 : 0;
  if (g_tiff.TIFFIsTiled(tif) || bits != 8 || colours == 0 || planar != PLANARCONFIG_CONTIG ||
      orientation != ORIENTATION_TOPLEFT || (samples != colours && samples != colours + 1)) {
    return false;
  }
  Alpha alpha = Alpha::kNone;
  if (samples > colours) {
    uint16_t count = 0;
    uint16_t* kinds = nullptr;
    alpha = Alpha::kStraight;
    if (g_tiff.TIFFGetField(tif, TIFFTAG_EXTRASAMPLES, &count, &kinds) && count >= 1 && kinds) {
      if (kinds[0] == EXTRASAMPLE_ASSOCALPHA) alpha = Alpha::kAssociated;
      if (kinds[0] == EXTRASAMPLE_UNSPECIFIED) alpha = Alpha::kNone;
    }
  }
  *direct = true;
  uint32_t rows_per_strip = 0;
  g_tiff.TIFFGetFieldDefaulted(tif, TIFFTAG_ROWSPERSTRIP, &rows_per_strip);
  uint32_t height = out->height, width = out->width;
  rows_per_strip = std::clamp<uint32_t>(rows_per_strip, 1, height);
  uint64_t strips = (uint64_t(height) + rows_per_strip - 1) / rows_per_strip;
  if (g_tiff.TIFFNumberOfStrips(tif) < strips) return image_fail(why, "TIFF: strips missing");
  size_t strip_bytes = size_t(rows_per_strip) * width * samples;
  std::vector<uint8_t> strip(strip_bytes);
  for (uint32_t s = 0; s < strips; s++) {
    uint32_t first = s * rows_per_strip;
    uint32_t rows = std::min(rows_per_strip, height - first);
    tmsize_t want = tmsize_t(size_t(rows) * width * samples);
    if (g_tiff.TIFFReadEncodedStrip(tif, s, strip.data(), want) < want) {
      return image_fail(why, "TIFF: strip data cut short or corrupt");
    }
    uint32_t* dst = out->pixels.data() + size_t(first) * width;
    const uint8_t* src = strip.data();
    for (size_t i = 0; i < size_t(rows) * width; i++, src += samples) {
      uint32_t r = src[0], g = src[colours / 2], b = src[colours - 1];
      if (alpha == Alpha::kNone) {
        dst[i] = 0xFF000000u | r << 16 | g << 8 | b;
      } else if (alpha == Alpha::kStraight) {
        dst[i] = uint32_t(src[colours]) << 24 | r << 16 | g << 8 | b;
      } else {
        dst[i] = unpremultiply(r, g, b, src[colours]);
      }
    }
  }
  return true;
}

bool read_first_directory(TIFF* tif, size_t size, PixelImage* out, std::string* why) {
  uint32_t width = 0, height = 0;
  if (!g_tiff.TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &width) ||
      !g_tiff.TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &height)) {
    return image_fail(why, "TIFF: no picture size");
  }
  if (!image_size_check(width, height, size, why)) return false;
  char message[1024] = {0};
  bool readable = g_tiff.TIFFRGBAImageOK(tif, message) == 1;
  if (!image_allocate(out, width, height, 0, why)) return false;
  bool direct = false;
  if (read_strips(tif, out, &direct, why)) return true;
  if (direct) return false;
  if (!readable) return image_fail(why, "TIFF: unsupported kind of picture");
  // Words of A, B, G, R (R in the low byte), premultiplied.
  if (!g_tiff.TIFFReadRGBAImageOriented(tif, width, height, out->pixels.data(), ORIENTATION_TOPLEFT, 1)) {
    return image_fail(why, "TIFF: picture data cut short or corrupt");
  }
  for (uint32_t& word : out->pixels) {
    word = unpremultiply(TIFFGetR(word), TIFFGetG(word), TIFFGetB(word), TIFFGetA(word));
  }
  return true;
}

bool write_picture(TIFF* tif, const PixelImage& image) {
  uint16_t extra[1] = {EXTRASAMPLE_UNASSALPHA};
  if (!g_tiff.TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, image.width) ||
      !g_tiff.TIFFSetField(tif, TIFFTAG_IMAGELENGTH, image.height) ||
      !g_tiff.TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8) ||
      !g_tiff.TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 4) ||
      !g_tiff.TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB) ||
      !g_tiff.TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) ||
      !g_tiff.TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, extra) ||
      !g_tiff.TIFFSetField(tif, TIFFTAG_COMPRESSION, COMPRESSION_NONE) ||
      !g_tiff.TIFFSetField(tif, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT) ||
      !g_tiff.TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, g_tiff.TIFFDefaultStripSize(tif, 0))) {
    return false;
  }
  std::vector<uint8_t> row(size_t(image.width) * 4);
  for (uint32_t y = 0; y < image.height; y++) {
    const uint32_t* src = image.pixels.data() + size_t(y) * image.width;
    for (uint32_t x = 0; x < image.width; x++) {
      uint32_t p = src[x];
      row[4 * x] = uint8_t(p >> 16), row[4 * x + 1] = uint8_t(p >> 8), row[4 * x + 2] = uint8_t(p);
      row[4 * x + 3] = uint8_t(p >> 24);
    }
    if (g_tiff.TIFFWriteScanline(tif, row.data(), y, 0) != 1) return false;
  }
  return g_tiff.TIFFFlush(tif) == 1;
}

}  // namespace

bool image_tiff_decode(const uint8_t* data, size_t size, PixelImage* out, std::string* why) {
  if (!image_library_ready(&g_tiff_library, why)) return false;
  TiffMemory memory;
  memory.data = data;
  memory.size = size;
  TIFF* tif = tiff_open(&memory, "rm");
  if (!tif) return image_fail(why, "TIFF: not a readable TIFF file");
  bool ok = false;
  try {
    ok = read_first_directory(tif, size, out, why);
  } catch (...) {
    g_tiff.TIFFClose(tif);
    throw;
  }
  g_tiff.TIFFClose(tif);
  return ok;
}

bool image_tiff_encode(const PixelImage& image, std::vector<uint8_t>* out, std::string* why) {
  if (!image_library_ready(&g_tiff_library, why)) return false;
  TiffMemory memory;
  memory.out = out;
  TIFF* tif = tiff_open(&memory, "wm");
  if (!tif) return image_fail(why, "TIFF: cannot start the encoder");
  bool ok = false;
  try {
    ok = write_picture(tif, image);
  } catch (...) {
    g_tiff.TIFFClose(tif);
    throw;
  }
  g_tiff.TIFFClose(tif);
  return ok || image_fail(why, "TIFF: the encoder failed");
}

}  // namespace kiv
