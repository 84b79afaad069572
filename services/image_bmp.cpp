// BMP, read and written here. The reader takes the 12-byte core header, the
// 16- and 64-byte OS/2 headers and the 40-, 52-, 56-, 108- and 124-byte
// headers (any longer one is read as its first 124 bytes); 1-, 4- and 8-bit
// palettes, 16, 24 and 32 bits a pixel, bit fields (with alpha when an alpha
// mask is given), RLE8 and RLE4, bottom-up or top-down rows. Every offset
// and length is checked against the input before it is read; the pixel rows
// an uncompressed picture declares must all be in the file.
//
// Pixels an RLE picture leaves unwritten (by a delta, an end of line or an
// early end of bitmap) are transparent black. A palette index past the
// palette is opaque black.
#include <algorithm>
#include <cstring>

#include "services/image_format_codecs.h"

namespace kiv {

namespace {

constexpr uint32_t kBiRgb = 0, kBiRle8 = 1, kBiRle4 = 2, kBiBitfields = 3, kBiAlphaBitfields = 6;
constexpr size_t kFileHeaderSize = 14;
constexpr size_t kV5HeaderSize = 124;

uint16_t u16_at(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
uint32_t u32_at(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
void put16(uint8_t* p, uint32_t v) { p[0] = uint8_t(v), p[1] = uint8_t(v >> 8); }
void put32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; i++) p[i] = uint8_t(v >> (8 * i));
}

// One colour channel of a bit-field pixel: its bits under the mask, scaled
// to 0-255.
struct Channel {
  uint32_t mask = 0;
  uint32_t shift = 0;
  uint32_t max = 0;

  explicit Channel(uint32_t m = 0) : mask(m) {
    if (m == 0) return;
    shift = uint32_t(std::countr_zero(m));
    max = m >> shift;
  }
  uint32_t value(uint32_t pixel) const {
    if (max == 0) return 0;
    uint64_t v = (pixel & mask) >> shift;
    return uint32_t((v * 255 + max / 2) / max);
  }
};

struct BmpHeader {
  uint64_t width = 0, height = 0;
  bool top_down = false;
  uint32_t bits = 0;
  uint32_t compression = kBiRgb;
  uint32_t colours_used = 0;
  size_t palette_start = 0;
  size_t palette_entry = 4;  // 3 for the core header
  uint32_t masks[4] = {0, 0, 0, 0};
  bool alpha = false;
  size_t pixel_offset = 0;
};

bool read_header(const uint8_t* d, size_t size, BmpHeader* h, std::string* why) {
  if (size < kFileHeaderSize + 4 || d[0] != 'B' || d[1] != 'M') return image_fail(why, "not a BMP file");
  h->pixel_offset = u32_at(d + 10);
  uint32_t header_size = u32_at(d + 14);
  if (header_size < 12 || header_size > size - kFileHeaderSize)
    return image_fail(why, "BMP header cut short");
  const uint8_t* p = d + kFileHeaderSize;
  if (header_size == 12) {
    h->width = u16_at(p + 4);
    h->height = u16_at(p + 6);
    h->bits = u16_at(p + 10);
    h->palette_entry = 3;
  } else if (header_size >= 16) {
    int64_t width = int32_t(u32_at(p + 4));
    int64_t height = int32_t(u32_at(p + 8));
    if (width <= 0) return image_fail(why, "BMP width is not positive");
    h->width = uint64_t(width);
    h->top_down = height < 0;
    h->height = uint64_t(height < 0 ? -height : height);
    h->bits = u16_at(p + 14);
    if (header_size >= 20) h->compression = u32_at(p + 16);
    if (header_size >= 36) h->colours_used = u32_at(p + 32);
    bool os2 = header_size == 16 || header_size == 64;
    if (os2 && h->compression > kBiRle4) return image_fail(why, "unsupported OS/2 BMP compression");
  } else {
    return image_fail(why, "unknown BMP header");
  }
  size_t after_header = kFileHeaderSize + header_size;
  bool fields = h->compression == kBiBitfields || h->compression == kBiAlphaBitfields;
  size_t extra_masks = 0;
  if (fields) {
    if (header_size >= 52) {
      for (int i = 0; i < (header_size >= 56 ? 4 : 3); i++) h->masks[i] = u32_at(p + 40 + 4 * i);
    } else {
      // The masks follow a shorter header.
      extra_masks = h->compression == kBiAlphaBitfields ? 4 : 3;
      if (after_header + 4 * extra_masks > size) return image_fail(why, "BMP bit fields cut short");
      for (size_t i = 0; i < extra_masks; i++) h->masks[i] = u32_at(d + after_header + 4 * i);
    }
    h->alpha = h->masks[3] != 0;
  } else if (h->bits == 16) {
    h->masks[0] = 0x7C00, h->masks[1] = 0x03E0, h->masks[2] = 0x001F;
  } else if (h->bits == 32) {
    h->masks[0] = 0xFF0000, h->masks[1] = 0xFF00, h->masks[2] = 0xFF;
  }
  h->palette_start = after_header + 4 * extra_masks;

  switch (h->compression) {
    case kBiRgb:
      if (h->bits != 1 && h->bits != 4 && h->bits != 8 && h->bits != 16 && h->bits != 24 && h->bits != 32) {
        return image_fail(why, "unsupported BMP bit depth");
      }
      break;
    case kBiRle8:
      if (h->bits != 8) return image_fail(why, "RLE8 BMP is not 8 bits a pixel");
      break;
    case kBiRle4:
      if (h->bits != 4) return image_fail(why, "RLE4 BMP is not 4 bits a pixel");
      break;
    case kBiBitfields:
    case kBiAlphaBitfields:
      if (h->bits != 16 && h->bits != 32) return image_fail(why, "BMP bit fields need 16 or 32 bits a pixel");
      break;
    default: return image_fail(why, "unsupported BMP compression");
  }
  if (h->pixel_offset >= size) return image_fail(why, "BMP pixel data is missing");
  return image_size_check(h->width, h->height, size, why);
}

// The palette as opaque pixel words, 2^bits entries (those the file lacks
// black).
std::vector<uint32_t> read_palette(const uint8_t* d, size_t size, const BmpHeader& h) {
  uint32_t full = 1u << h.bits;
  std::vector<uint32_t> palette(full, 0xFF000000);
  uint32_t count = h.colours_used == 0 || h.colours_used > full ? full : h.colours_used;
  size_t available = h.palette_start < size ? (size - h.palette_start) / h.palette_entry : 0;
  count = uint32_t(std::min<size_t>(count, available));
  for (uint32_t i = 0; i < count; i++) {
    const uint8_t* e = d + h.palette_start + size_t(i) * h.palette_entry;
    palette[i] = 0xFF000000u | uint32_t(e[2]) << 16 | uint32_t(e[1]) << 8 | e[0];
  }
  return palette;
}

bool read_rows(const uint8_t* d, size_t size, const BmpHeader& h, PixelImage* out, std::string* why) {
  uint64_t row_bytes = (h.width * h.bits + 7) / 8;
  uint64_t stride = (h.width * h.bits + 31) / 32 * 4;
  if ((size - h.pixel_offset) < stride * (h.height - 1) + row_bytes) {
    return image_fail(why, "BMP pixel data cut short");
  }
  std::vector<uint32_t> palette;
  if (h.bits <= 8) palette = read_palette(d, size, h);
  Channel red(h.masks[0]), green(h.masks[1]), blue(h.masks[2]), alpha(h.alpha ? h.masks[3] : 0);
  bool plain32 = h.bits == 32 && h.masks[0] == 0xFF0000 && h.masks[1] == 0xFF00 && h.masks[2] == 0xFF &&
                 (!h.alpha || h.masks[3] == 0xFF000000u);
  if (!image_allocate(out, uint32_t(h.width), uint32_t(h.height), 0, why)) return false;
  uint32_t w = out->width;
  for (uint32_t y = 0; y < out->height; y++) {
    const uint8_t* row = d + h.pixel_offset + stride * y;
    uint32_t* dst = out->pixels.data() + size_t(h.top_down ? y : out->height - 1 - y) * w;
    switch (h.bits) {
      case 1:
        for (uint32_t x = 0; x < w; x++) dst[x] = palette[(row[x >> 3] >> (7 - (x & 7))) & 1];
        break;
      case 4:
        for (uint32_t x = 0; x < w; x++) dst[x] = palette[(row[x >> 1] >> ((x & 1) ? 0 : 4)) & 15];
        break;
      case 8:
        for (uint32_t x = 0; x < w; x++) dst[x] = palette[row[x]];
        break;
      case 24:
        for (uint32_t x = 0; x < w; x++) {
          const uint8_t* s = row + 3 * size_t(x);
          dst[x] = 0xFF000000u | uint32_t(s[2]) << 16 | uint32_t(s[1]) << 8 | s[0];
        }
        break;
      case 16:
      case 32:
        for (uint32_t x = 0; x < w; x++) {
          uint32_t v = h.bits == 16 ? u16_at(row + 2 * size_t(x)) : u32_at(row + 4 * size_t(x));
          if (plain32) {
            dst[x] = h.alpha ? v : (v | 0xFF000000u);
          } else {
            uint32_t a = h.alpha ? alpha.value(v) : 255;
            dst[x] = a << 24 | red.value(v) << 16 | green.value(v) << 8 | blue.value(v);
          }
        }
        break;
    }
  }
  return true;
}

// RLE8 and RLE4: runs of one index (RLE4: two alternating), absolute runs
// padded to a 16-bit boundary, end of line, end of bitmap and delta. Pixels
// past a row's end are dropped; the input must not end inside a command,
// nor before the end of bitmap unless every row was reached.
bool read_rle(const uint8_t* d, size_t size, const BmpHeader& h, PixelImage* out, std::string* why) {
  std::vector<uint32_t> palette = read_palette(d, size, h);
  if (!image_allocate(out, uint32_t(h.width), uint32_t(h.height), 0, why)) return false;
  bool four = h.compression == kBiRle4;
  uint64_t w = out->width, height = out->height;
  uint64_t x = 0, y = 0;
  auto put = [&](uint32_t index) {
    if (x < w && y < height) {
      out->pixels[size_t(h.top_down ? y : height - 1 - y) * w + x] = palette[index];
    }
    x++;
  };
  size_t pos = h.pixel_offset;
  while (y < height) {
    if (size - pos < 2) return image_fail(why, "BMP RLE data cut short");
    uint32_t n = d[pos], c = d[pos + 1];
    pos += 2;
    if (n > 0) {
      for (uint32_t i = 0; i < n && x < w; i++) put(four ? ((i & 1) ? c & 15 : c >> 4) : c);
    } else if (c == 0) {
      x = 0, y++;
    } else if (c == 1) {
      break;
    } else if (c == 2) {
      if (size - pos < 2) return image_fail(why, "BMP RLE data cut short");
      x += d[pos], y += d[pos + 1];
      pos += 2;
    } else {
      size_t bytes = four ? (c + 1) / 2 : c;
      if (size - pos < bytes) return image_fail(why, "BMP RLE data cut short");
      for (uint32_t i = 0; i < c && x < w; i++) {
        uint32_t b = d[pos + (four ? i / 2 : i)];
        put(four ? ((i & 1) ? b & 15 : b >> 4) : b);
      }
      pos += std::min(size - pos, bytes + (bytes & 1));
    }
  }
  return true;
}

}  // namespace

bool image_bmp_decode(const uint8_t* data, size_t size, PixelImage* out, std::string* why) {
  BmpHeader h;
  if (!read_header(data, size, &h, why)) return false;
  if (h.compression == kBiRle8 || h.compression == kBiRle4) return read_rle(data, size, h, out, why);
  return read_rows(data, size, h, out, why);
}

void image_bmp_v5_header(uint32_t width, uint32_t height, uint8_t out[124]) {
  std::memset(out, 0, kV5HeaderSize);
  put32(out, uint32_t(kV5HeaderSize));
  put32(out + 4, width);
  put32(out + 8, uint32_t(-int64_t(height)));
  put16(out + 12, 1);
  put16(out + 14, 32);
  put32(out + 16, kBiBitfields);
  put32(out + 20, uint32_t(uint64_t(width) * height * 4));
  put32(out + 40, 0x00FF0000);
  put32(out + 44, 0x0000FF00);
  put32(out + 48, 0x000000FF);
  put32(out + 52, 0xFF000000);
  put32(out + 56, 0x57696E20);  // "Win "
  put32(out + 108, 4);          // images
}

bool image_bmp_encode(const PixelImage& image, std::vector<uint8_t>* out, std::string* why) {
  size_t pixel_bytes = image.pixels.size() * 4;
  size_t offset = kFileHeaderSize + kV5HeaderSize;
  if (uint64_t(offset) + pixel_bytes > UINT32_MAX) return image_fail(why, "too large for a BMP file");
  out->resize(offset + pixel_bytes);
  uint8_t* p = out->data();
  p[0] = 'B', p[1] = 'M';
  put32(p + 2, uint32_t(offset + pixel_bytes));
  put32(p + 6, 0);
  put32(p + 10, uint32_t(offset));
  image_bmp_v5_header(image.width, image.height, p + kFileHeaderSize);
  std::memcpy(p + offset, image.pixels.data(), pixel_bytes);
  return true;
}

}  // namespace kiv
