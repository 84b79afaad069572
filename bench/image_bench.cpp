// The image codecs on a generated 4096 x 4096 RGBA picture (gradients and
// noise): PNG and JPEG (quality 90) decoding and encoding, against PIL
// (bench/image_bench.py under /usr/bin/python3, timed inside its own
// process: Image.open(...).load() of the same files, save() with its
// defaults). Prints the usual benchmark table, then each Kiv median as a
// ratio of PIL's best time, and the sizes of the encodings. Then the argb
// channel of a 4096 x 4096 image! (64 MiB) read into a binary! and written
// back, against a memcpy of 64 MiB. Not a timed test.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "boot/init.h"
#include "datatypes/binary.h"
#include "datatypes/image.h"
#include "median_reporter.h"
#include "runtime/collector.h"
#include "runtime/stack.h"
#include "services/image_codecs.h"

namespace {

using kiv::ImageFormat;
using kiv::PixelImage;

constexpr uint32_t kSide = 4096;

// Gradients in every channel, alpha included, with a little noise.
PixelImage generated_picture() {
  PixelImage im{kSide, kSide, std::vector<uint32_t>(size_t(kSide) * kSide)};
  uint32_t seed = 12345;
  for (uint32_t y = 0; y < kSide; y++) {
    for (uint32_t x = 0; x < kSide; x++) {
      seed = seed * 1103515245u + 12345u;
      uint32_t noise = (seed >> 16) & 7;
      uint32_t r = std::min<uint32_t>(255, x / 16 + noise), g = std::min<uint32_t>(255, y / 16 + noise);
      uint32_t b = std::min<uint32_t>(255, (x + y) / 32 + noise), a = 128 + ((x ^ y) >> 5) % 128;
      im.pixels[size_t(y) * kSide + x] = a << 24 | r << 16 | g << 8 | b;
    }
  }
  return im;
}

const PixelImage& picture() {
  static const PixelImage p = generated_picture();
  return p;
}

std::vector<uint8_t> encoded(ImageFormat f) {
  std::vector<uint8_t> out;
  std::string why;
  if (!kiv::image_encode(f, picture(), &out, &why))
    std::fprintf(stderr, "encoding failed: %s\n", why.c_str());
  return out;
}

const std::vector<uint8_t>& png_file() {
  static const std::vector<uint8_t> b = encoded(ImageFormat::kPng);
  return b;
}
const std::vector<uint8_t>& jpeg_file() {
  static const std::vector<uint8_t> b = encoded(ImageFormat::kJpeg);
  return b;
}

void decode(benchmark::State& state, ImageFormat f, const std::vector<uint8_t>& file) {
  for (auto _ : state) {
    PixelImage out;
    std::string why;
    if (!kiv::image_decode(f, file.data(), file.size(), &out, &why)) state.SkipWithError(why.c_str());
    benchmark::DoNotOptimize(out.pixels.data());
  }
}

void encode(benchmark::State& state, ImageFormat f) {
  for (auto _ : state) {
    std::vector<uint8_t> out;
    std::string why;
    if (!kiv::image_encode(f, picture(), &out, &why)) state.SkipWithError(why.c_str());
    benchmark::DoNotOptimize(out.data());
  }
}

void BM_kiv_png_decode(benchmark::State& s) { decode(s, ImageFormat::kPng, png_file()); }
void BM_kiv_png_encode(benchmark::State& s) { encode(s, ImageFormat::kPng); }
void BM_kiv_jpeg_decode(benchmark::State& s) { decode(s, ImageFormat::kJpeg, jpeg_file()); }
void BM_kiv_jpeg_encode(benchmark::State& s) { encode(s, ImageFormat::kJpeg); }

void write_file(const std::string& path, const void* data, size_t n) {
  std::ofstream(path, std::ios::binary).write(static_cast<const char*>(data), std::streamsize(n));
}

// PIL's figures: "name value" lines of bench/image_bench.py.
std::map<std::string, double> pil_figures() {
  std::map<std::string, double> figures;
  char dir_template[] = "/tmp/kiv-image-bench-XXXXXX";
  if (!mkdtemp(dir_template)) return figures;
  std::string dir = dir_template;
  const PixelImage& p = picture();
  // The raw picture in R, G, B, A bytes, as PIL's frombytes wants.
  std::vector<uint8_t> raw(p.pixels.size() * 4);
  for (size_t i = 0; i < p.pixels.size(); i++) {
    uint32_t v = p.pixels[i];
    raw[4 * i] = uint8_t(v >> 16), raw[4 * i + 1] = uint8_t(v >> 8), raw[4 * i + 2] = uint8_t(v);
    raw[4 * i + 3] = uint8_t(v >> 24);
  }
  write_file(dir + "/picture.raw", raw.data(), raw.size());
  write_file(dir + "/picture.png", png_file().data(), png_file().size());
  write_file(dir + "/picture.jpg", jpeg_file().data(), jpeg_file().size());
  std::string command = std::string("/usr/bin/python3 ") + KIV_SOURCE_DIR + "/bench/image_bench.py " + dir +
                        "/picture.raw " + std::to_string(kSide) + " " + std::to_string(kSide) + " " + dir +
                        "/picture.png " + dir + "/picture.jpg 5";
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char name[64];
    double value;
    while (std::fscanf(pipe, "%63s %lf", name, &value) == 2) figures[name] = value;
    pclose(pipe);
  }
  for (const char* f : {"picture.raw", "picture.png", "picture.jpg"}) std::remove((dir + "/" + f).c_str());
  rmdir(dir.c_str());
  return figures;
}

// The runtime, once, with an image! of the picture's size on the data stack.
kiv::Cell* argb_image() {
  using namespace kiv;
  static bool done = [] {
    runtime_init();
    g_collector_active = true;
    return true;
  }();
  (void)done;
  g_stack.arguments = g_stack.top = g_stack.bottom;
  return image_push(int32_t(kSide), int32_t(kSide), picture().pixels.data());
}

void BM_kiv_argb_read(benchmark::State& s) {
  kiv::Cell* img = argb_image();
  kiv::Cell* out = kiv::stack_push();
  for (auto _ : s) {
    kiv::image_get_channel(img, kiv::ImageChannel::kArgb, out);
    benchmark::DoNotOptimize(kiv::binary_head_ptr(out));
  }
}

void BM_kiv_argb_write(benchmark::State& s) {
  kiv::Cell* img = argb_image();
  kiv::Cell* bytes = kiv::stack_push();
  kiv::image_get_channel(img, kiv::ImageChannel::kArgb, bytes);
  for (auto _ : s) {
    kiv::image_set_channel(img, bytes, kiv::ImageChannel::kArgb);
    benchmark::DoNotOptimize(kiv::image_view(img).pixels);
  }
}

void BM_memcpy_64MiB(benchmark::State& s) {
  const size_t n = size_t(kSide) * kSide * 4;
  std::vector<uint8_t> from(n, 1), to(n);
  for (auto _ : s) {
    std::memcpy(to.data(), from.data(), n);
    benchmark::DoNotOptimize(to.data());
  }
}

class PilReporter : public MedianReporter {
 public:
  explicit PilReporter(std::map<std::string, double> pil) : pil_(std::move(pil)) {}

  void Finalize() override {
    ConsoleReporter::Finalize();
    std::printf("\n%-20s %10s %10s %7s %7s\n", "kiv run", "kiv ms", "PIL ms", "ratio", "target");
    for (const char* what : {"png_decode", "png_encode", "jpeg_decode", "jpeg_encode"}) {
      auto k = medians_.find(std::string("BM_kiv_") + what);
      std::string name = what;
      for (char& c : name) c = c == '_' ? '-' : c;
      auto p = pil_.find("pil-" + name);
      if (k == medians_.end() || p == pil_.end() || p->second <= 0) {
        std::printf("%-20s %10s %10s %7s %7s\n", what, "-", "-", "-", "1.25");
        continue;
      }
      std::printf("%-20s %10.1f %10.1f %7.2f %7s\n", what, k->second, p->second, k->second / p->second,
                  "1.25");
    }
    // PIL's default JPEG quality is 75; at Kiv's 90, for comparison.
    auto k = medians_.find("BM_kiv_jpeg_encode");
    auto p = pil_.find("pil-jpeg90-encode");
    if (k != medians_.end() && p != pil_.end() && p->second > 0) {
      std::printf("%-20s %10.1f %10.1f %7.2f %7s  (PIL at quality 90 too)\n", "jpeg_encode", k->second,
                  p->second, k->second / p->second, "-");
    }
    auto copy = medians_.find("BM_memcpy_64MiB");
    for (const char* what : {"BM_kiv_argb_read", "BM_kiv_argb_write"}) {
      auto m = medians_.find(what);
      if (m != medians_.end() && copy != medians_.end() && copy->second > 0)
        std::printf("%-20s %10.1f %10.1f %7.2f  (against a memcpy of 64 MiB)\n", what + 7, m->second,
                    copy->second, m->second / copy->second);
    }
    std::printf(
        "\nsizes of a %ux%u picture: kiv PNG %zu bytes, PIL PNG %.0f; kiv JPEG (quality 90) %zu, "
        "PIL JPEG %.0f (at quality 90: %.0f)\n",
        kSide, kSide, png_file().size(), pil_["pil-png-bytes"], jpeg_file().size(), pil_["pil-jpeg-bytes"],
        pil_["pil-jpeg90-bytes"]);
  }

 private:
  std::map<std::string, double> pil_;
};

}  // namespace

int main(int argc, char** argv) {
  std::map<std::string, double> pil = pil_figures();
  register_benchmarks({{"BM_kiv_png_decode", BM_kiv_png_decode},
                       {"BM_kiv_png_encode", BM_kiv_png_encode},
                       {"BM_kiv_jpeg_decode", BM_kiv_jpeg_decode},
                       {"BM_kiv_jpeg_encode", BM_kiv_jpeg_encode},
                       {"BM_kiv_argb_read", BM_kiv_argb_read},
                       {"BM_kiv_argb_write", BM_kiv_argb_write},
                       {"BM_memcpy_64MiB", BM_memcpy_64MiB}});
  PilReporter reporter(std::move(pil));
  return run_benchmarks(argc, argv, reporter);
}
