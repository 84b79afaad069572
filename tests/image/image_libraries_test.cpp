// The image codecs' libraries are opened at the first decode or encode of
// their format, each on its own, and a library that cannot be opened makes
// that format fail with the reason while the others work. This program links
// kivcore without the libraries (a codec calling one directly would not
// link) and stands in for dlopen, to refuse the library it is told to.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "services/image_codecs.h"

namespace {

const char* g_refused = nullptr;  // the soname dlopen fails for
int g_refusals = 0;

}  // namespace

// Every dlopen of the process comes here first.
extern "C" void* dlopen(const char* file, int mode) noexcept {
  using Open = void* (*)(const char*, int);
  static const Open next = reinterpret_cast<Open>(dlsym(RTLD_NEXT, "dlopen"));
  if (file && g_refused && std::strcmp(file, g_refused) == 0) {
    g_refusals++;
    return nullptr;
  }
  return next(file, mode);
}

namespace kiv {
namespace {

// Whether a library whose file name holds [name] is mapped in the process.
bool mapped(const char* name) {
  std::ifstream maps("/proc/self/maps");
  std::string line;
  while (std::getline(maps, line)) {
    if (line.find(name) != std::string::npos) return true;
  }
  return false;
}

std::vector<uint8_t> seed(const char* name) {
  std::ifstream in(std::string(KIV_SOURCE_DIR) + "/fuzz/corpus/image_fuzz/" + name, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

TEST(ImageLibraries, OpenedAtFirstUseEachOnItsOwn) {
  const char* libraries[] = {"libpng16.so", "libjpeg.so", "libgif.so", "libtiff.so"};
  for (const char* name : libraries) ASSERT_FALSE(mapped(name)) << name << " loaded before any use";

  // giflib refused: GIF fails both ways with the reason, and is not tried again.
  g_refused = "libgif.so.7";
  std::vector<uint8_t> gif = seed("trns.gif");
  ASSERT_FALSE(gif.empty());
  PixelImage image;
  std::string why;
  EXPECT_FALSE(image_decode(ImageFormat::kGif, gif.data(), gif.size(), &image, &why));
  EXPECT_EQ(why.rfind("GIF: cannot load libgif.so.7", 0), 0u) << why;
  PixelImage small{2, 1, {0xFF102030, 0x80405060}};
  std::vector<uint8_t> encoded;
  why.clear();
  EXPECT_FALSE(image_encode(ImageFormat::kGif, small, &encoded, &why));
  EXPECT_EQ(why.rfind("GIF: cannot load libgif.so.7", 0), 0u) << why;
  EXPECT_TRUE(encoded.empty());
  EXPECT_EQ(g_refusals, 1);

  // Each of the others loads at its format's first decode, and only then.
  struct Case {
    const char* seed;
    ImageFormat format;
    const char* library;
  } cases[] = {
      {"rgba.png", ImageFormat::kPng, "libpng16.so"},
      {"rgb.jpg", ImageFormat::kJpeg, "libjpeg.so"},
      {"rgba.tif", ImageFormat::kTiff, "libtiff.so"},
  };
  for (const Case& c : cases) {
    EXPECT_FALSE(mapped(c.library)) << c.library;
    std::vector<uint8_t> bytes = seed(c.seed);
    ASSERT_FALSE(bytes.empty()) << c.seed;
    EXPECT_TRUE(image_decode(c.format, bytes.data(), bytes.size(), &image, &why)) << c.seed << ": " << why;
    EXPECT_GT(image.width, 0u) << c.seed;
    EXPECT_TRUE(mapped(c.library)) << c.library;
    // And encodes, back to the same size.
    ASSERT_TRUE(image_encode(c.format, image, &encoded, &why)) << c.seed << ": " << why;
    PixelImage back;
    ASSERT_TRUE(image_decode(c.format, encoded.data(), encoded.size(), &back, &why)) << c.seed << ": " << why;
    EXPECT_EQ(back.width, image.width);
    EXPECT_EQ(back.height, image.height);
  }
  EXPECT_FALSE(mapped("libgif.so"));
  EXPECT_FALSE(image_decode(ImageFormat::kGif, gif.data(), gif.size(), &image, &why));
  EXPECT_EQ(g_refusals, 1);
}

}  // namespace
}  // namespace kiv
