// The image codecs against Debian's PIL (/usr/bin/python3, tests/image/
// pil_oracle.py): its fixtures of each variant decode to its own
// convert('RGBA') pixels, and it reads our encodings back to our pixels.
// Variants it does not write (interlaced and 16-bit RGBA PNG, BMP RLE, bit
// fields, top-down rows, OS/2 headers, a GIF frame inside a larger screen)
// are built here. Then the refusals: sizes, cut and flipped input (a
// failure, never a crash or a word on stderr).
#include "services/image_codecs.h"

#include <gif_lib.h>
#include <gtest/gtest.h>
// jpeglib.h needs stdio.h first.
#include <jpeglib.h>
#include <png.h>
#include <tiffio.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "temp_dir.h"

namespace kiv {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes read_bytes(const std::string& path) {
  std::string s = test::read_file(path);
  return Bytes(s.begin(), s.end());
}

void write_bytes(const std::string& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

std::string oracle_command(const std::string& arguments) {
  return std::string("/usr/bin/python3 ") + KIV_SOURCE_DIR + "/tests/image/pil_oracle.py " + arguments;
}

// PIL's pixels of [path] (from [path].rgba); false when PIL could not read it.
bool pil_pixels(const std::string& path, PixelImage* out) {
  Bytes b = read_bytes(path + ".rgba");
  if (b.size() < 8) return false;
  uint32_t w, h;
  std::memcpy(&w, b.data(), 4);
  std::memcpy(&h, b.data() + 4, 4);
  if (b.size() != 8 + size_t(w) * h * 4) return false;
  out->width = w, out->height = h;
  out->pixels.resize(size_t(w) * h);
  for (size_t i = 0; i < out->pixels.size(); i++) {
    const uint8_t* p = b.data() + 8 + 4 * i;
    out->pixels[i] = uint32_t(p[3]) << 24 | uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
  }
  return true;
}

// Asks PIL to read each of [paths] (writing their .rgba files).
void pil_read(const std::vector<std::string>& paths) {
  std::string arguments = "read";
  for (const auto& p : paths) arguments += " '" + p + "'";
  ASSERT_EQ(std::system(oracle_command(arguments).c_str()), 0);
}

// "" when [a] and [b] have the same size and every channel differs by at
// most [tolerance]; else where they first differ.
std::string compare(const PixelImage& a, const PixelImage& b, int tolerance = 0) {
  char text[200];
  if (a.width != b.width || a.height != b.height) {
    std::snprintf(text, sizeof text, "size %ux%u against %ux%u", a.width, a.height, b.width, b.height);
    return text;
  }
  for (size_t i = 0; i < a.pixels.size(); i++) {
    for (int shift = 0; shift < 32; shift += 8) {
      int d = int((a.pixels[i] >> shift) & 0xFF) - int((b.pixels[i] >> shift) & 0xFF);
      if (std::abs(d) > tolerance) {
        std::snprintf(text, sizeof text, "pixel %zu (x %zu, y %zu): %08X against %08X", i, i % a.width,
                      i / a.width, a.pixels[i], b.pixels[i]);
        return text;
      }
    }
  }
  return "";
}

bool decode_file(const std::string& path, PixelImage* out, std::string* why) {
  Bytes b = read_bytes(path);
  auto format = image_sniff(b.data(), b.size());
  if (!format) {
    *why = "no signature";
    return false;
  }
  return image_decode(*format, b.data(), b.size(), out, why);
}

// Standard error of the process sent to a file while the object lives;
// captured() gives what was written to it.
class StderrCapture {
 public:
  explicit StderrCapture(const std::string& path) : path_(path) {
    std::fflush(stderr);
    saved_ = dup(2);
    FILE* f = std::fopen(path.c_str(), "w");
    dup2(fileno(f), 2);
    std::fclose(f);
  }
  ~StderrCapture() { restore(); }
  std::string captured() {
    restore();
    return test::read_file(path_);
  }

 private:
  void restore() {
    if (saved_ < 0) return;
    std::fflush(stderr);
    dup2(saved_, 2);
    close(saved_);
    saved_ = -1;
  }
  std::string path_;
  int saved_ = -1;
};

// A test picture: gradients, a little noise and every alpha level.
PixelImage pattern(uint32_t w, uint32_t h, bool opaque, bool smooth = false) {
  PixelImage im{w, h, std::vector<uint32_t>(size_t(w) * h)};
  uint32_t seed = 7;
  for (uint32_t y = 0; y < h; y++) {
    for (uint32_t x = 0; x < w; x++) {
      seed = seed * 1103515245u + 12345u;
      uint32_t noise = smooth ? 0 : (seed >> 16) & 15;
      uint32_t r = (x * 255 / w + noise) & 0xFF, g = (y * 255 / h) & 0xFF, b = ((x + y) * 2 + noise) & 0xFF;
      uint32_t a = opaque ? 255 : (x * 13 + y * 7) & 0xFF;
      im.pixels[size_t(y) * w + x] = a << 24 | r << 16 | g << 8 | b;
    }
  }
  return im;
}

class ImageCodecs : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    dir_ = new test::TempDir("kiv-image-");
    ASSERT_EQ(std::system(oracle_command("write '" + dir_->path() + "'").c_str()), 0);
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }
  static std::string path(const std::string& name) { return dir_->path() + "/" + name; }
  static test::TempDir* dir_;
};

test::TempDir* ImageCodecs::dir_ = nullptr;

TEST_F(ImageCodecs, SniffsTheSignaturesInOrder) {
  struct Case {
    const char* bytes;
    size_t n;
    std::optional<ImageFormat> format;
  } cases[] = {
      {"\x89PNG", 4, ImageFormat::kPng},
      {"\x89PN", 3, std::nullopt},
      {"\xFF\xD8\xFF", 3, ImageFormat::kJpeg},
      {"\xFF\xD8", 2, std::nullopt},
      {"BM", 2, ImageFormat::kBmp},
      {"B", 1, std::nullopt},
      {"GIF87a", 6, ImageFormat::kGif},
      {"GIF89a", 6, ImageFormat::kGif},
      {"GIF88a", 6, std::nullopt},
      {"II*\0", 4, ImageFormat::kTiff},
      {"MM\0*", 4, ImageFormat::kTiff},
      {"II*", 3, std::nullopt},
      {"", 0, std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(image_sniff(reinterpret_cast<const uint8_t*>(c.bytes), c.n), c.format) << c.bytes;
  }
}

// Every fixture PIL wrote decodes to PIL's pixels; lossy ones and colour
// conversions within a small tolerance.
TEST_F(ImageCodecs, DecodesWhatPilWrites) {
  struct Case {
    const char* file;
    int tolerance;
    const char* pil_reference =
        nullptr;  // another fixture whose PIL pixels are expected, when PIL's own are not
  } cases[] = {
      {"rgb.png", 0},
      {"rgba.png", 0},
      {"grey.png", 0},
      {"grey_alpha.png", 0},
      {"palette.png", 0},
      {"palette_trns.png", 0},
      {"palette4.png", 0},
      {"bits1.png", 0},
      {"grey_trns.png", 0},
      {"rgb_trns.png", 0},
      // PIL clips 16-bit grey to 255 on conversion; the samples are the 8-bit grey times 257.
      {"grey16.png", 0, "grey.png"},
      {"rgb.jpg", 1},
      {"rgb444.jpg", 1},
      {"grey.jpg", 1},
      {"cmyk.jpg", 1},
      {"progressive.jpg", 1},
      {"interlaced.gif", 0},
      {"plain.gif", 0},
      {"trns.gif", 0},
      {"rgb.tif", 0},
      {"rgba.tif", 0},
      {"grey.tif", 0},
      {"palette.tif", 0},
      {"bits1.tif", 0},
      {"lzw.tif", 0},
      {"deflate.tif", 0},
      {"cmyk.tif", 1},
      {"grey16.tif", 0, "grey.png"},
      {"grey_alpha.tif", 0},
      {"jpeg.tif", 1},
      {"rgb.bmp", 0},
      {"palette.bmp", 0},
      {"grey.bmp", 0},
      {"bits1.bmp", 0},
  };
  for (const Case& c : cases) {
    PixelImage ours, pil;
    std::string why;
    ASSERT_TRUE(decode_file(path(c.file), &ours, &why)) << c.file << ": " << why;
    ASSERT_TRUE(pil_pixels(path(c.pil_reference ? c.pil_reference : c.file), &pil)) << c.file;
    EXPECT_EQ(compare(ours, pil, c.tolerance), "") << c.file;
  }
}

// --- Fixtures built here -------------------------------------------------

// A PNG of [image] written by libpng: 8- or 16-bit RGBA, interlaced or not.
Bytes libpng_rgba(const PixelImage& image, bool interlaced, bool sixteen) {
  Bytes out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_set_write_fn(
      png, &out,
      [](png_structp p, png_bytep d, size_t n) {
        auto* o = static_cast<Bytes*>(png_get_io_ptr(p));
        o->insert(o->end(), d, d + n);
      },
      nullptr);
  png_set_IHDR(png, info, image.width, image.height, sixteen ? 16 : 8, PNG_COLOR_TYPE_RGB_ALPHA,
               interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  size_t sample = sixteen ? 2 : 1;
  std::vector<std::vector<uint8_t>> rows(image.height, std::vector<uint8_t>(image.width * 4 * sample));
  std::vector<png_bytep> pointers;
  for (uint32_t y = 0; y < image.height; y++) {
    for (uint32_t x = 0; x < image.width; x++) {
      uint32_t p = image.pixels[size_t(y) * image.width + x];
      uint8_t rgba[4] = {uint8_t(p >> 16), uint8_t(p >> 8), uint8_t(p), uint8_t(p >> 24)};
      for (int c = 0; c < 4; c++) {
        for (size_t k = 0; k < sample; k++)
          rows[y][(x * 4 + c) * sample + k] = rgba[c];  // v * 257 when 16-bit
      }
    }
    pointers.push_back(rows[y].data());
  }
  png_write_image(png, pointers.data());
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return out;
}

// A GIF of a [fw] x [fh] frame at [left], [top] on a [sw] x [sh] screen,
// index i at (x, y) being (x + y) % 4, palette of 4 colours, index 3
// transparent when [transparent].
Bytes giflib_frame(int sw, int sh, int left, int top, int fw, int fh, bool transparent) {
  Bytes out;
  int error = 0;
  GifFileType* gif = EGifOpen(
      &out,
      [](GifFileType* g, const GifByteType* d, int n) {
        auto* o = static_cast<Bytes*>(g->UserData);
        o->insert(o->end(), d, d + n);
        return n;
      },
      &error);
  GifColorType colours[4] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {10, 20, 30}};
  ColorMapObject* map = GifMakeMapObject(4, colours);
  EGifSetGifVersion(gif, true);
  EGifPutScreenDesc(gif, sw, sh, 8, 0, map);
  if (transparent) {
    GifByteType control[4] = {1, 0, 0, 3};
    EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, control);
  }
  EGifPutImageDesc(gif, left, top, fw, fh, false, nullptr);
  std::vector<GifPixelType> line(static_cast<size_t>(fw));
  for (int y = 0; y < fh; y++) {
    for (int x = 0; x < fw; x++) line[size_t(x)] = GifPixelType((x + y) % 4);
    EGifPutLine(gif, line.data(), fw);
  }
  EGifCloseFile(gif, &error);
  GifFreeMapObject(map);
  return out;
}

// A TIFF of 8-bit RGBA samples with associated (premultiplied) alpha,
// written by libtiff to [path]: [image]'s straight pixels multiplied out.
void libtiff_associated(const std::string& path, const PixelImage& image) {
  TIFF* tif = TIFFOpen(path.c_str(), "w");
  uint16_t extra[1] = {EXTRASAMPLE_ASSOCALPHA};
  TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, image.width);
  TIFFSetField(tif, TIFFTAG_IMAGELENGTH, image.height);
  TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
  TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 4);
  TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
  TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(tif, TIFFTAG_EXTRASAMPLES, 1, extra);
  TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 1);
  std::vector<uint8_t> row(image.width * 4);
  for (uint32_t y = 0; y < image.height; y++) {
    for (uint32_t x = 0; x < image.width; x++) {
      uint32_t p = image.pixels[size_t(y) * image.width + x], a = p >> 24;
      for (int c = 0; c < 3; c++) row[4 * x + c] = uint8_t(((p >> (16 - 8 * c)) & 0xFF) * a / 255);
      row[4 * x + 3] = uint8_t(a);
    }
    TIFFWriteScanline(tif, row.data(), y, 0);
  }
  TIFFClose(tif);
}

// A flat 16 x 16 CMYK JPEG of red ink (magenta and yellow) written by
// libjpeg; with [adobe] an Adobe marker and the samples inverted, as Adobe's
// writers store them, else plain.
Bytes libjpeg_cmyk_red(bool adobe) {
  jpeg_compress_struct c;
  jpeg_error_mgr errors;
  c.err = jpeg_std_error(&errors);
  jpeg_create_compress(&c);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&c, &buffer, &size);
  c.image_width = c.image_height = 16;
  c.input_components = 4;
  c.in_color_space = JCS_CMYK;
  jpeg_set_defaults(&c);
  jpeg_set_colorspace(&c, JCS_CMYK);
  c.write_Adobe_marker = adobe ? TRUE : FALSE;
  jpeg_set_quality(&c, 100, TRUE);
  jpeg_start_compress(&c, TRUE);
  uint8_t ink[4] = {0, 255, 255, 0};
  std::vector<uint8_t> row(16 * 4);
  for (size_t i = 0; i < row.size(); i++) row[i] = adobe ? uint8_t(255 - ink[i % 4]) : ink[i % 4];
  while (c.next_scanline < c.image_height) {
    JSAMPROW r = row.data();
    jpeg_write_scanlines(&c, &r, 1);
  }
  jpeg_finish_compress(&c);
  jpeg_destroy_compress(&c);
  Bytes out(buffer, buffer + size);
  std::free(buffer);
  return out;
}

void put16(Bytes& b, uint32_t v) {
  b.push_back(uint8_t(v));
  b.push_back(uint8_t(v >> 8));
}
void put32(Bytes& b, uint32_t v) {
  put16(b, v & 0xFFFF);
  put16(b, v >> 16);
}

// A BMP file: the 14-byte file header, a [header_size]-byte info header
// (12: the core header) for [w] x [h] (negative: top-down), [bits] a pixel,
// [compression], [masks] (in the header from 52 bytes on, else after it),
// the [palette] (0x00RRGGBB) and the pixel [data].
Bytes bmp_file(uint32_t header_size, int32_t w, int32_t h, uint32_t bits, uint32_t compression,
               const std::vector<uint32_t>& masks, const std::vector<uint32_t>& palette, const Bytes& data) {
  Bytes info;
  put32(info, header_size);
  if (header_size == 12) {
    put16(info, uint32_t(w));
    put16(info, uint32_t(h));
    put16(info, 1);
    put16(info, bits);
  } else {
    put32(info, uint32_t(w));
    put32(info, uint32_t(h));
    put16(info, 1);
    put16(info, bits);
    put32(info, compression);
    put32(info, uint32_t(data.size()));
    put32(info, 2835);
    put32(info, 2835);
    put32(info, uint32_t(palette.size()));
    put32(info, 0);
    if (header_size >= 52) {
      for (size_t i = 0; i < 4; i++) {
        if (header_size >= 56 || i < 3) put32(info, i < masks.size() ? masks[i] : 0);
      }
    }
    info.resize(header_size, 0);
    if (header_size < 52) {
      for (uint32_t m : masks) put32(info, m);
    }
  }
  for (uint32_t c : palette) {
    info.push_back(uint8_t(c));
    info.push_back(uint8_t(c >> 8));
    info.push_back(uint8_t(c >> 16));
    if (header_size != 12) info.push_back(0);
  }
  Bytes file = {'B', 'M'};
  put32(file, uint32_t(14 + info.size() + data.size()));
  put32(file, 0);
  put32(file, uint32_t(14 + info.size()));
  file.insert(file.end(), info.begin(), info.end());
  file.insert(file.end(), data.begin(), data.end());
  return file;
}

constexpr uint32_t kClear = 0;
uint32_t opaque(uint32_t rgb) { return 0xFF000000u | rgb; }

TEST_F(ImageCodecs, DecodesVariantsBuiltHere) {
  const std::vector<uint32_t> pal = {0x102030, 0xFF0000, 0x00FF00, 0x0000FF, 0xFFFFFF};
  struct Case {
    const char* name;
    Bytes file;
    PixelImage expected;
    bool pil_agrees;  // PIL reads it to the same pixels
  };
  std::vector<Case> cases;

  PixelImage rgba = pattern(29, 17, false);
  cases.push_back({"interlaced.png", libpng_rgba(rgba, true, false), rgba, true});
  PixelImage flat = pattern(29, 17, false, true);
  cases.push_back({"rgba16.png", libpng_rgba(flat, false, true), flat, true});
  cases.push_back({"interlaced16.png", libpng_rgba(flat, true, true), flat, true});

  // 4-bit palette, 3 x 2, bottom-up: rows of 4 bytes.
  cases.push_back(
      {"palette4.bmp",
       bmp_file(40, 3, 2, 4, 0, {}, pal, {0x34, 0x00, 0, 0, 0x12, 0x40, 0, 0}),
       {3,
        2,
        {opaque(pal[1]), opaque(pal[2]), opaque(pal[4]), opaque(pal[3]), opaque(pal[4]), opaque(pal[0])}},
       true});
  // 24-bit top-down, 2 x 2.
  cases.push_back({"topdown.bmp",
                   bmp_file(40, 2, -2, 24, 0, {}, {}, {1, 2, 3, 4, 5, 6, 0, 0, 7, 8, 9, 10, 11, 12, 0, 0}),
                   {2, 2, {opaque(0x030201), opaque(0x060504), opaque(0x090807), opaque(0x0C0B0A)}},
                   true});
  // 16-bit 5-6-5 bit fields and the default 5-5-5, 2 x 1.
  cases.push_back({"bitfields565.bmp",
                   bmp_file(40, 2, 1, 16, 3, {0xF800, 0x07E0, 0x001F}, {}, {0x00, 0xF8, 0xFF, 0x07}),
                   {2, 1, {opaque(0xFF0000), opaque(0x00FFFF)}},
                   true});
  cases.push_back({"rgb555.bmp",
                   bmp_file(40, 2, 1, 16, 0, {}, {}, {0x1F, 0x00, 0x00, 0x7C}),
                   {2, 1, {opaque(0x0000FF), opaque(0xFF0000)}},
                   true});
  // 32-bit bit fields with alpha in a 108-byte header, and alpha bit fields after a 40-byte one.
  cases.push_back({"alpha108.bmp",
                   bmp_file(108, 2, 1, 32, 3, {0xFF0000, 0xFF00, 0xFF, 0xFF000000}, {},
                            {0x10, 0x20, 0x30, 0x80, 0x01, 0x02, 0x03, 0x00}),
                   {2, 1, {0x80302010, 0x00030201}},
                   true});
  cases.push_back(
      {"alpha40.bmp",
       bmp_file(40, 1, 1, 32, 6, {0xFF00, 0xFF0000, 0xFF000000, 0xFF}, {}, {0x40, 0x11, 0x22, 0x33}),
       {1, 1, {0x40112233}},
       false});
  // The core header, 8-bit palette of 3-byte entries, 2 x 1.
  cases.push_back({"core.bmp",
                   bmp_file(12, 2, 1, 8, 0, {}, {0x112233, 0x445566}, {1, 0, 0, 0}),
                   {2, 1, {opaque(0x445566), opaque(0x112233)}},
                   true});
  // RLE8, 5 x 2, bottom-up: a run, an absolute run of 3 (padded), end of
  // line; then a run past the row's end (cut), end of bitmap.
  cases.push_back({"rle8.bmp",
                   bmp_file(40, 5, 2, 8, 1, {}, pal, {2, 1, 0, 3, 2, 3, 4, 0, 0, 0, 7, 0, 0, 1}),
                   {5,
                    2,
                    {opaque(pal[0]), opaque(pal[0]), opaque(pal[0]), opaque(pal[0]), opaque(pal[0]),
                     opaque(pal[1]), opaque(pal[1]), opaque(pal[2]), opaque(pal[3]), opaque(pal[4])}},
                   true});
  // RLE4, 6 x 1: a run of 3 alternating 1 and 2, an absolute run of 3 (3, 4,
  // 0). PIL reads only half the bytes of an odd absolute run and fails.
  cases.push_back(
      {"rle4.bmp",
       bmp_file(40, 6, 1, 4, 2, {}, pal, {3, 0x12, 0, 3, 0x34, 0x00, 0, 1}),
       {6,
        1,
        {opaque(pal[1]), opaque(pal[2]), opaque(pal[1]), opaque(pal[3]), opaque(pal[4]), opaque(pal[0])}},
       false});
  // RLE8 with a delta and an early end: the pixels skipped are transparent.
  cases.push_back({"rle8_delta.bmp",
                   bmp_file(40, 3, 2, 8, 1, {}, pal, {1, 1, 0, 2, 1, 1, 1, 2, 0, 1}),
                   {3, 2, {kClear, kClear, opaque(pal[2]), opaque(pal[1]), kClear, kClear}},
                   false});

  // A GIF frame of 2 x 2 at (1, 1) on a 3 x 3 screen, and one reaching past a 2 x 1 screen.
  uint32_t r = opaque(0xFF0000), g = opaque(0x00FF00), b = opaque(0x0000FF), t = 0x000A141E;
  cases.push_back({"inset.gif",
                   giflib_frame(3, 3, 1, 1, 2, 2, true),
                   {3, 3, {kClear, kClear, kClear, kClear, r, g, kClear, g, b}},
                   false});
  cases.push_back(
      {"wider.gif", giflib_frame(2, 1, 0, 0, 4, 2, true), {4, 2, {r, g, b, t, g, b, t, r}}, true});

  // Associated alpha, divided out again: alphas 255, 85, 51 and 0 with
  // colours that multiply out exactly (a transparent pixel keeps no colour).
  PixelImage straight{4, 1, {0xFF102030, 0x55F03C09, 0x33FA0A32, 0x00000000}};
  cases.push_back({"associated.tif", {}, straight, true});

  std::vector<std::string> paths;
  for (const Case& c : cases) {
    paths.push_back(path(c.name));
    if (c.file.empty()) {
      libtiff_associated(paths.back(), c.expected);
    } else {
      write_bytes(paths.back(), c.file);
    }
  }
  pil_read(paths);
  for (const Case& c : cases) {
    PixelImage ours, pil;
    std::string why;
    ASSERT_TRUE(decode_file(path(c.name), &ours, &why)) << c.name << ": " << why;
    EXPECT_EQ(compare(ours, c.expected), "") << c.name;
    if (c.pil_agrees) {
      ASSERT_TRUE(pil_pixels(path(c.name), &pil)) << c.name;
      EXPECT_EQ(compare(pil, c.expected), "") << c.name << " (PIL)";
    }
  }
}

// CMYK JPEG ink is inverted only under an Adobe marker: both files are red.
// PIL inverts every CMYK JPEG, so it agrees on the Adobe one alone.
TEST_F(ImageCodecs, CmykJpegWithAndWithoutAdobeMarker) {
  PixelImage red{16, 16, std::vector<uint32_t>(256, 0xFFFF0000)};
  for (bool adobe : {false, true}) {
    std::string file = path(adobe ? "cmyk_adobe.jpg" : "cmyk_plain.jpg");
    write_bytes(file, libjpeg_cmyk_red(adobe));
    PixelImage ours, pil;
    std::string why;
    ASSERT_TRUE(decode_file(file, &ours, &why)) << why;
    EXPECT_EQ(compare(ours, red, 2), "") << adobe;
    if (!adobe) continue;
    pil_read({file});
    ASSERT_TRUE(pil_pixels(file, &pil));
    EXPECT_EQ(compare(ours, pil, 1), "");
  }
}

// --- Encoding ------------------------------------------------------------

// What the GIF encoder keeps of a pixel with an exact palette.
uint32_t gif_kept(uint32_t p) { return (p >> 24) < 128 ? 0 : (p | 0xFF000000u); }

TEST_F(ImageCodecs, EncodingsReadBackHereAndInPil) {
  PixelImage rgba = pattern(61, 43, false);
  PixelImage opaque_image = pattern(61, 43, true);
  PixelImage smooth = pattern(64, 48, true, true);
  // 200 colours, some pixels more and some less than half transparent.
  PixelImage few{40, 30, std::vector<uint32_t>(1200)};
  for (size_t i = 0; i < few.pixels.size(); i++) {
    uint32_t alpha = (i % 7 == 0) ? 100 : (i % 11 == 0) ? 130 : 255;
    few.pixels[i] = alpha << 24 | uint32_t((i % 200) * 0x010305);
  }
  PixelImage few_kept = few;
  for (uint32_t& p : few_kept.pixels) p = gif_kept(p);
  PixelImage smooth_alpha = smooth;
  for (size_t i = 0; i < smooth_alpha.pixels.size(); i++)
    smooth_alpha.pixels[i] &= uint32_t(i * 7) << 24 | 0xFFFFFF;

  struct Case {
    const char* name;
    ImageFormat format;
    const PixelImage* image;
    const PixelImage* expected;
    int tolerance;  // between expected and the decoding
  } cases[] = {
      {"ours_rgba.png", ImageFormat::kPng, &rgba, &rgba, 0},
      {"ours_opaque.png", ImageFormat::kPng, &opaque_image, &opaque_image, 0},
      {"ours.jpg", ImageFormat::kJpeg, &smooth, &smooth, 8},
      {"ours_alpha.jpg", ImageFormat::kJpeg, &smooth_alpha, &smooth, 8},
      {"ours.gif", ImageFormat::kGif, &few, &few_kept, 0},
      {"ours.tif", ImageFormat::kTiff, &rgba, &rgba, 0},
      {"ours.bmp", ImageFormat::kBmp, &rgba, &rgba, 0},
  };
  std::vector<std::string> paths;
  std::map<std::string, PixelImage> decoded;
  for (const Case& c : cases) {
    Bytes encoded;
    std::string why;
    ASSERT_TRUE(image_encode(c.format, *c.image, &encoded, &why)) << c.name << ": " << why;
    ASSERT_EQ(image_sniff(encoded.data(), encoded.size()), c.format) << c.name;
    ASSERT_TRUE(image_decode(c.format, encoded.data(), encoded.size(), &decoded[c.name], &why))
        << c.name << why;
    EXPECT_EQ(compare(decoded[c.name], *c.expected, c.tolerance), "") << c.name;
    paths.push_back(path(c.name));
    write_bytes(paths.back(), encoded);
  }
  pil_read(paths);
  for (const Case& c : cases) {
    PixelImage pil;
    ASSERT_TRUE(pil_pixels(path(c.name), &pil)) << c.name;
    EXPECT_EQ(compare(pil, decoded[c.name], c.format == ImageFormat::kJpeg ? 1 : 0), "")
        << c.name << " (PIL)";
  }

  // PNG: RGB when every pixel is opaque, else RGBA (the colour type byte of IHDR).
  Bytes png;
  std::string why;
  ASSERT_TRUE(image_encode(ImageFormat::kPng, opaque_image, &png, &why));
  EXPECT_EQ(png[25], 2);
  ASSERT_TRUE(image_encode(ImageFormat::kPng, rgba, &png, &why));
  EXPECT_EQ(png[25], 6);
  // BMP: the version 5 header with the alpha mask.
  Bytes bmp;
  ASSERT_TRUE(image_encode(ImageFormat::kBmp, rgba, &bmp, &why));
  uint8_t header[124];
  image_bmp_v5_header(rgba.width, rgba.height, header);
  ASSERT_EQ(std::memcmp(bmp.data() + 14, header, 124), 0);
  EXPECT_EQ(bmp[14 + 52 + 3], 0xFF);  // alpha mask 0xFF000000
  EXPECT_EQ(bmp.size(), 14 + 124 + rgba.pixels.size() * 4);
}

// More colours than a palette holds: a median-cut palette, no dithering; the
// result stays close, and PIL reads the same pixels.
TEST_F(ImageCodecs, GifQuantisesManyColours) {
  PixelImage image = pattern(120, 90, false);
  Bytes gif;
  std::string why;
  ASSERT_TRUE(image_encode(ImageFormat::kGif, image, &gif, &why)) << why;
  PixelImage back;
  ASSERT_TRUE(image_decode(ImageFormat::kGif, gif.data(), gif.size(), &back, &why)) << why;
  ASSERT_EQ(back.pixels.size(), image.pixels.size());
  uint64_t error = 0, kept = 0;
  std::map<uint32_t, int> colours;
  for (size_t i = 0; i < image.pixels.size(); i++) {
    uint32_t p = image.pixels[i], q = back.pixels[i];
    if ((p >> 24) < 128) {
      EXPECT_EQ(q >> 24, 0u) << i;
      continue;
    }
    ASSERT_EQ(q >> 24, 255u) << i;
    colours[q]++;
    kept++;
    for (int s = 0; s < 24; s += 8) error += uint64_t(std::abs(int((p >> s) & 0xFF) - int((q >> s) & 0xFF)));
  }
  EXPECT_LE(colours.size(), 255u);
  EXPECT_GT(colours.size(), 100u);
  EXPECT_LT(double(error) / double(kept * 3), 6.0);  // mean error a channel
  std::string file = path("quantised.gif");
  write_bytes(file, gif);
  pil_read({file});
  PixelImage pil;
  ASSERT_TRUE(pil_pixels(file, &pil));
  EXPECT_EQ(compare(pil, back), "");
}

TEST_F(ImageCodecs, EncodingRefusesEmptyAndMismatchedImages) {
  const PixelImage cases[] = {
      {0, 5, {}},
      {5, 0, {}},
      {2, 2, {1, 2, 3}},
      {70000, 1, std::vector<uint32_t>(70000)},
  };
  for (ImageFormat f :
       {ImageFormat::kBmp, ImageFormat::kPng, ImageFormat::kGif, ImageFormat::kJpeg, ImageFormat::kTiff}) {
    for (const PixelImage& image : cases) {
      Bytes out = {1, 2, 3};
      std::string why;
      EXPECT_FALSE(image_encode(f, image, &out, &why)) << int(f) << " " << image.width << "x" << image.height;
      EXPECT_TRUE(out.empty());
      EXPECT_FALSE(why.empty());
    }
  }
}

// --- Refusals ------------------------------------------------------------

uint32_t crc32_of(const uint8_t* p, size_t n) {
  uint32_t c = 0xFFFFFFFF;
  for (size_t i = 0; i < n; i++) {
    c ^= p[i];
    for (int k = 0; k < 8; k++) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1)));
  }
  return ~c;
}

// A PNG that is only a signature and a valid IHDR of [w] x [h], 8-bit RGBA.
Bytes png_header_only(uint32_t w, uint32_t h) {
  Bytes b = {0x89, 'P', 'N', 'G', 13, 10, 26, 10, 0, 0, 0, 13, 'I', 'H', 'D', 'R'};
  for (uint32_t v : {w, h}) {
    for (int s = 24; s >= 0; s -= 8) b.push_back(uint8_t(v >> s));
  }
  b.insert(b.end(), {8, 6, 0, 0, 0});
  uint32_t crc = crc32_of(b.data() + 12, 17);
  for (int s = 24; s >= 0; s -= 8) b.push_back(uint8_t(crc >> s));
  return b;
}

// Sizes are checked on the header, before any pixel is allocated: a side
// above 65,535, more than 2^29 - 1 pixels, a zero side, and a picture far
// larger than its few bytes could hold.
TEST_F(ImageCodecs, RefusesSizesBeforeAllocating) {
  std::string why;
  EXPECT_TRUE(image_size_check(65535, 8191, size_t(1) << 20, &why)) << why;
  EXPECT_FALSE(image_size_check(65536, 1, 1 << 20, &why));
  EXPECT_FALSE(image_size_check(1, 65536, 1 << 20, &why));
  EXPECT_FALSE(image_size_check(65535, 8193, size_t(1) << 30, &why));
  EXPECT_FALSE(image_size_check(0, 10, 100, &why));
  EXPECT_TRUE(image_size_check(4096, 4096, 10, &why));  // 2^24 pixels are allowed to any input
  EXPECT_FALSE(image_size_check(4097, 4096, 10, &why));
  EXPECT_TRUE(image_size_check(20000, 20000, 20000ull * 20000 / kImageMaxPixelsPerByte + 1, &why));

  Bytes gif_screen = giflib_frame(2, 1, 0, 0, 1, 1, false);
  gif_screen[6] = gif_screen[7] = gif_screen[8] = gif_screen[9] = 0xFF;  // a 65535 x 65535 screen
  Bytes gif_huge = giflib_frame(2, 1, 0, 0, 1, 1, false);
  gif_huge[6] = 0x20, gif_huge[7] = 0x4E, gif_huge[8] = 0x20, gif_huge[9] = 0x4E;  // 20000 x 20000
  struct Case {
    const char* name;
    ImageFormat format;
    Bytes file;
  } cases[] = {
      {"png 65536 wide", ImageFormat::kPng, png_header_only(65536, 1)},
      {"png 65535 x 65535", ImageFormat::kPng, png_header_only(65535, 65535)},
      {"png 20000 x 20000 in 33 bytes", ImageFormat::kPng, png_header_only(20000, 20000)},
      {"gif screen 65535 x 65535", ImageFormat::kGif, gif_screen},
      {"gif screen 20000 x 20000", ImageFormat::kGif, gif_huge},
      {"bmp 65536 wide", ImageFormat::kBmp, bmp_file(40, 65536, 1, 24, 0, {}, {}, Bytes(65536 * 3))},
      {"bmp -65536 high", ImageFormat::kBmp, bmp_file(40, 1, -65536, 24, 0, {}, {}, Bytes(65536 * 4))},
      {"bmp rle 20000 x 20000", ImageFormat::kBmp, bmp_file(40, 20000, 20000, 8, 1, {}, {0}, {0, 1})},
      {"bmp zero height", ImageFormat::kBmp, bmp_file(40, 3, 0, 24, 0, {}, {}, Bytes(12))},
      {"bmp rows missing", ImageFormat::kBmp, bmp_file(40, 100, 100, 24, 0, {}, {}, Bytes(1000))},
  };
  for (const Case& c : cases) {
    PixelImage out;
    EXPECT_FALSE(image_decode(c.format, c.file.data(), c.file.size(), &out, &why)) << c.name;
    EXPECT_TRUE(out.pixels.empty()) << c.name;
  }
  // The largest side itself is read.
  Bytes widest = bmp_file(40, 65535, -1, 24, 0, {}, {}, Bytes(65536 * 3));
  PixelImage out;
  EXPECT_TRUE(image_decode(ImageFormat::kBmp, widest.data(), widest.size(), &out, &why)) << why;
  EXPECT_EQ(out.width, 65535u);
}

// Cut and flipped input: a cut file fails, or gives exactly the pixels of the
// whole file (when only bytes the decoder need not read were cut: a GIF's
// trailer, the padding of a BMP's last row); a flipped one fails or decodes;
// nothing reaches stderr.
TEST_F(ImageCodecs, CorruptInputFailsQuietly) {
  std::vector<std::string> files = {"rgb.png",  "palette_trns.png", "rgb.jpg",  "progressive.jpg",
                                    "cmyk.jpg", "interlaced.gif",   "trns.gif", "rgba.tif",
                                    "lzw.tif",  "palette.tif",      "rgb.bmp",  "bits1.bmp",
                                    "rle8.bmp", "rle4.bmp",         "ours.tif", "ours.bmp"};
  PixelImage image = pattern(13, 9, false);
  for (ImageFormat f : {ImageFormat::kTiff, ImageFormat::kBmp}) {
    Bytes encoded;
    std::string why;
    ASSERT_TRUE(image_encode(f, image, &encoded, &why));
    write_bytes(path(f == ImageFormat::kTiff ? "ours.tif" : "ours.bmp"), encoded);
  }
  if (!std::ifstream(path("rle8.bmp"))) {
    write_bytes(path("rle8.bmp"),
                bmp_file(40, 5, 2, 8, 1, {}, {1, 2, 3, 4, 5}, {2, 1, 0, 3, 2, 3, 4, 0, 0, 0, 7, 0, 0, 1}));
    write_bytes(path("rle4.bmp"),
                bmp_file(40, 6, 1, 4, 2, {}, {1, 2, 3, 4, 5}, {3, 0x12, 0, 3, 0x34, 0, 0, 1}));
  }
  StderrCapture capture(path("stderr.txt"));
  std::vector<std::string> failures;
  for (const std::string& name : files) {
    Bytes full = read_bytes(path(name));
    ASSERT_FALSE(full.empty()) << name;
    auto format = image_sniff(full.data(), full.size());
    ASSERT_TRUE(format) << name;
    PixelImage out;
    std::string why;
    PixelImage whole;
    ASSERT_TRUE(image_decode(*format, full.data(), full.size(), &whole, &why)) << name;
    size_t step = std::max<size_t>(1, full.size() / 300);
    for (size_t cut = 0; cut < full.size(); cut += cut + step < full.size() ? step : 1) {
      Bytes part(full.begin(), full.begin() + long(cut));
      if (image_decode(*format, part.data(), part.size(), &out, &why) && compare(out, whole) != "") {
        failures.push_back(name + " cut at " + std::to_string(cut) + " decoded to other pixels");
      }
    }
    uint32_t seed = 99;
    for (int round = 0; round < 300; round++) {
      Bytes flipped = full;
      for (int k = 0; k < 1 + round % 3; k++) {
        seed = seed * 1103515245u + 12345u;
        flipped[(seed >> 8) % flipped.size()] ^= uint8_t(1 + (seed >> 24) % 255);
      }
      bool ok = image_decode(*format, flipped.data(), flipped.size(), &out, &why);
      if (ok && out.pixels.size() != size_t(out.width) * out.height) failures.push_back(name + " bad size");
    }
  }
  EXPECT_EQ(capture.captured(), "");
  EXPECT_TRUE(failures.empty()) << failures.size() << " failures, first: " << failures.front();
}

}  // namespace
}  // namespace kiv
