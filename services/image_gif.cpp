// GIF through giflib (which reports failures by return codes). Reading takes
// frame 0 on its logical screen, the screen enlarged when the frame reaches
// past it; pixels outside the frame are transparent black, the frame's
// transparent index (from the graphic control extension before it) gives
// its palette colour with alpha 0, an index past the palette opaque black,
// and a file without any palette reads its indexes as grey levels.
// Interlaced rows are put back in order.
//
// Writing: GIF89a, one frame covering the screen. Pixels with alpha below
// 128 (more than half transparent) become the transparent index; the others
// keep their colour without alpha: the exact palette when at most 256
// colours are used (255 beside a transparent index), else a median-cut
// palette (services/image_quantise.cpp) without dithering.
//
// giflib is opened at the first decode or encode (image_format_codecs.h).
#include <gif_lib.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <unordered_map>

#include "services/image_format_codecs.h"

namespace kiv {

namespace {

// The giflib functions the codec calls.
#define KIV_GIF_FUNCTIONS(X) \
  X(DGifOpen)                \
  X(DGifCloseFile)           \
  X(DGifGetRecordType)       \
  X(DGifGetExtension)        \
  X(DGifGetExtensionNext)    \
  X(DGifGetImageDesc)        \
  X(DGifGetLine)             \
  X(EGifOpen)                \
  X(EGifCloseFile)           \
  X(EGifSetGifVersion)       \
  X(EGifPutScreenDesc)       \
  X(EGifPutExtension)        \
  X(EGifPutImageDesc)        \
  X(EGifPutLine)             \
  X(GifMakeMapObject)        \
  X(GifFreeMapObject)        \
  X(GifErrorString)
struct GifFunctions {
  KIV_GIF_FUNCTIONS(KIV_IMAGE_FUNCTION)
};
GifFunctions g_gif;

const char* gif_load(void* handle) {
  GifFunctions& functions = g_gif;
  KIV_GIF_FUNCTIONS(KIV_IMAGE_FIND)
  return nullptr;
}

ImageLibrary g_gif_library{"GIF", "libgif.so.7", gif_load};

struct GifInput {
  const uint8_t* data;
  size_t size;
  size_t pos;
};

int gif_read(GifFileType* gif, GifByteType* into, int n) {
  auto* in = static_cast<GifInput*>(gif->UserData);
  size_t count = std::min(size_t(n < 0 ? 0 : n), in->size - in->pos);
  if (count == 0) return 0;
  std::memcpy(into, in->data + in->pos, count);
  in->pos += count;
  return int(count);
}

int gif_write(GifFileType* gif, const GifByteType* bytes, int n) {
  auto* out = static_cast<std::vector<uint8_t>*>(gif->UserData);
  try {
    out->insert(out->end(), bytes, bytes + n);
  } catch (...) {
    return 0;
  }
  return n;
}

std::string gif_reason(int code) {
  const char* text = g_gif.GifErrorString(code);
  return std::string("GIF: ") + (text ? text : "error");
}

// Reads frame 0 of [gif] into *[out].
bool read_first_frame(GifFileType* gif, size_t size, PixelImage* out, std::string* why) {
  int transparent = -1;
  for (;;) {
    GifRecordType record;
    if (g_gif.DGifGetRecordType(gif, &record) != GIF_OK)
      return image_fail(why, "GIF: data cut short or corrupt");
    if (record == TERMINATE_RECORD_TYPE) return image_fail(why, "GIF: no image in the file");
    if (record == EXTENSION_RECORD_TYPE) {
      int code = 0;
      GifByteType* block = nullptr;
      if (g_gif.DGifGetExtension(gif, &code, &block) != GIF_OK)
        return image_fail(why, "GIF: corrupt extension");
      if (code == GRAPHICS_EXT_FUNC_CODE && block && block[0] >= 4)
        transparent = (block[1] & 1) ? block[4] : -1;
      while (block) {
        if (g_gif.DGifGetExtensionNext(gif, &block) != GIF_OK)
          return image_fail(why, "GIF: corrupt extension");
      }
      continue;
    }
    if (record != IMAGE_DESC_RECORD_TYPE) continue;
    if (g_gif.DGifGetImageDesc(gif) != GIF_OK) return image_fail(why, "GIF: corrupt image descriptor");
    break;
  }
  const GifImageDesc& frame = gif->Image;
  uint64_t left = uint64_t(frame.Left), top = uint64_t(frame.Top);
  uint64_t fw = uint64_t(frame.Width), fh = uint64_t(frame.Height);
  uint64_t width = std::max<uint64_t>(uint64_t(gif->SWidth), left + fw);
  uint64_t height = std::max<uint64_t>(uint64_t(gif->SHeight), top + fh);
  if (!image_size_check(width, height, size, why)) return false;

  uint32_t palette[256];
  const ColorMapObject* map = frame.ColorMap ? frame.ColorMap : gif->SColorMap;
  for (uint32_t i = 0; i < 256; i++) {
    if (!map) {
      palette[i] = 0xFF000000u | i << 16 | i << 8 | i;
    } else if (int(i) < map->ColorCount) {
      const GifColorType& c = map->Colors[i];
      palette[i] = 0xFF000000u | uint32_t(c.Red) << 16 | uint32_t(c.Green) << 8 | c.Blue;
    } else {
      palette[i] = 0xFF000000u;
    }
  }
  if (transparent >= 0) palette[transparent] &= 0x00FFFFFF;

  if (!image_allocate(out, uint32_t(width), uint32_t(height), 0, why)) return false;
  std::vector<GifPixelType> line(fw);
  auto put_row = [&](uint64_t y) {
    uint32_t* dst = out->pixels.data() + size_t(top + y) * width + left;
    for (uint64_t x = 0; x < fw; x++) dst[x] = palette[line[x]];
  };
  if (fw == 0) return true;
  if (frame.Interlace) {
    static constexpr uint32_t kStart[4] = {0, 4, 2, 1}, kStep[4] = {8, 8, 4, 2};
    for (int pass = 0; pass < 4; pass++) {
      for (uint64_t y = kStart[pass]; y < fh; y += kStep[pass]) {
        if (g_gif.DGifGetLine(gif, line.data(), int(fw)) != GIF_OK)
          return image_fail(why, "GIF: image data cut short or corrupt");
        put_row(y);
      }
    }
  } else {
    for (uint64_t y = 0; y < fh; y++) {
      if (g_gif.DGifGetLine(gif, line.data(), int(fw)) != GIF_OK)
        return image_fail(why, "GIF: image data cut short or corrupt");
      put_row(y);
    }
  }
  return true;
}

// The exact palette of [image]'s colours (alpha at least 128) when there are
// at most [limit], with each pixel's index; false when there are more.
bool exact_palette(const PixelImage& image, uint32_t limit, std::vector<uint32_t>* palette,
                   std::vector<uint8_t>* indexes) {
  std::unordered_map<uint32_t, uint32_t> seen;
  uint32_t last = 0xFFFFFFFF;
  for (uint32_t p : image.pixels) {
    if ((p >> 24) < 128) continue;
    uint32_t colour = p & 0xFFFFFF;
    if (colour == last) continue;
    last = colour;
    if (seen.emplace(colour, 0).second && seen.size() > limit) return false;
  }
  palette->clear();
  for (const auto& entry : seen) palette->push_back(entry.first);
  std::sort(palette->begin(), palette->end());
  for (uint32_t i = 0; i < palette->size(); i++) seen[(*palette)[i]] = i;
  indexes->resize(image.pixels.size());
  last = 0xFFFFFFFF;
  uint8_t last_index = 0;
  for (size_t i = 0; i < image.pixels.size(); i++) {
    uint32_t p = image.pixels[i];
    if ((p >> 24) < 128) {
      (*indexes)[i] = 0;
      continue;
    }
    uint32_t colour = p & 0xFFFFFF;
    if (colour != last) last = colour, last_index = uint8_t(seen[colour]);
    (*indexes)[i] = last_index;
  }
  return true;
}

bool write_gif(GifFileType* gif, const PixelImage& image, const ColorMapObject* map, int transparent,
               std::vector<uint8_t>& indexes) {
  g_gif.EGifSetGifVersion(gif, true);
  if (g_gif.EGifPutScreenDesc(gif, int(image.width), int(image.height), 8, 0, map) != GIF_OK) return false;
  if (transparent >= 0) {
    GifByteType control[4] = {1, 0, 0, GifByteType(transparent)};  // transparent flag, no delay
    if (g_gif.EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, 4, control) != GIF_OK) return false;
  }
  if (g_gif.EGifPutImageDesc(gif, 0, 0, int(image.width), int(image.height), false, nullptr) != GIF_OK)
    return false;
  for (uint32_t y = 0; y < image.height; y++) {
    if (g_gif.EGifPutLine(gif, indexes.data() + size_t(y) * image.width, int(image.width)) != GIF_OK)
      return false;
  }
  return true;
}

}  // namespace

bool image_gif_decode(const uint8_t* data, size_t size, PixelImage* out, std::string* why) {
  if (!image_library_ready(&g_gif_library, why)) return false;
  GifInput input{data, size, 0};
  int error = 0;
  GifFileType* gif = g_gif.DGifOpen(&input, gif_read, &error);
  if (!gif) {
    if (why) *why = gif_reason(error);
    return false;
  }
  bool ok = read_first_frame(gif, size, out, why);
  g_gif.DGifCloseFile(gif, &error);
  return ok;
}

bool image_gif_encode(const PixelImage& image, std::vector<uint8_t>* out, std::string* why) {
  if (!image_library_ready(&g_gif_library, why)) return false;
  bool any_transparent = false;
  for (uint32_t p : image.pixels) {
    if ((p >> 24) < 128) {
      any_transparent = true;
      break;
    }
  }
  uint32_t limit = any_transparent ? 255 : 256;
  std::vector<uint32_t> palette;
  std::vector<uint8_t> indexes;
  if (!exact_palette(image, limit, &palette, &indexes)) image_median_cut(image, limit, &palette, &indexes);
  int transparent = -1;
  if (any_transparent) {
    transparent = int(palette.size());
    palette.push_back(0);
    for (size_t i = 0; i < image.pixels.size(); i++) {
      if ((image.pixels[i] >> 24) < 128) indexes[i] = uint8_t(transparent);
    }
  }
  int count = 2;
  while (size_t(count) < palette.size()) count *= 2;
  palette.resize(size_t(count), 0);
  std::vector<GifColorType> colours(palette.size());
  for (size_t i = 0; i < palette.size(); i++) {
    colours[i] =
        GifColorType{GifByteType(palette[i] >> 16), GifByteType(palette[i] >> 8), GifByteType(palette[i])};
  }
  ColorMapObject* map = g_gif.GifMakeMapObject(count, colours.data());
  if (!map) return image_fail(why, "GIF: out of memory");
  int error = 0;
  GifFileType* gif = g_gif.EGifOpen(out, gif_write, &error);
  if (!gif) {
    g_gif.GifFreeMapObject(map);
    if (why) *why = gif_reason(error);
    return false;
  }
  bool ok = write_gif(gif, image, map, transparent, indexes);
  if (!ok) error = gif->Error;
  g_gif.GifFreeMapObject(map);
  if (g_gif.EGifCloseFile(gif, &error) != GIF_OK) ok = false;
  if (!ok && why) *why = gif_reason(error);
  return ok;
}

}  // namespace kiv
