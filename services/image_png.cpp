// PNG through libpng. Reading expands every variant (palette, grey, 1- to
// 16-bit samples, tRNS, Adam7 interlace) to 8-bit B, G, R, A straight into
// the pixel words; 16-bit samples are scaled with rounding. No gamma is
// applied: the samples are taken as they are stored.
//
// libpng reports a fatal error by a longjmp. The only frames it may jump
// over are those of the two C-style functions below that call setjmp
// (png_read_stages, png_write_stages) and libpng's own: they hold no C++
// object, and the callbacks that run inside them (reading, writing, the
// error and warning handlers) leave no C++ object alive when they raise.
// libpng is opened at the first decode or encode (image_format_codecs.h).
// Warnings are dropped; ancillary chunks with a bad CRC are skipped by
// libpng, critical ones fail.
#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <new>

#include "services/image_format_codecs.h"

namespace kiv {

namespace {

// The libpng functions the codec calls.
#define KIV_PNG_FUNCTIONS(X)    \
  X(png_create_read_struct)     \
  X(png_create_write_struct)    \
  X(png_create_info_struct)     \
  X(png_destroy_read_struct)    \
  X(png_destroy_write_struct)   \
  X(png_set_longjmp_fn)         \
  X(png_longjmp)                \
  X(png_error)                  \
  X(png_get_error_ptr)          \
  X(png_get_io_ptr)             \
  X(png_set_read_fn)            \
  X(png_set_write_fn)           \
  X(png_set_user_limits)        \
  X(png_read_info)              \
  X(png_get_image_width)        \
  X(png_get_image_height)       \
  X(png_get_color_type)         \
  X(png_set_expand)             \
  X(png_set_scale_16)           \
  X(png_set_gray_to_rgb)        \
  X(png_set_bgr)                \
  X(png_set_add_alpha)          \
  X(png_set_interlace_handling) \
  X(png_read_update_info)       \
  X(png_get_rowbytes)           \
  X(png_read_image)             \
  X(png_read_end)               \
  X(png_set_IHDR)               \
  X(png_set_filter)             \
  X(png_write_info)             \
  X(png_set_filler)             \
  X(png_write_image)            \
  X(png_write_end)
struct PngFunctions {
  KIV_PNG_FUNCTIONS(KIV_IMAGE_FUNCTION)
};
PngFunctions g_png;

const char* png_load(void* handle) {
  PngFunctions& functions = g_png;
  KIV_PNG_FUNCTIONS(KIV_IMAGE_FIND)
  return nullptr;
}

ImageLibrary g_png_library{"PNG", "libpng16.so.16", png_load};

// Everything the C-style stages share with their caller: plain data only.
struct PngJob {
  png_structp png = nullptr;
  png_infop info = nullptr;
  const uint8_t* data = nullptr;  // reading
  size_t size = 0;
  size_t pos = 0;
  std::vector<uint8_t>* out = nullptr;  // writing
  png_bytep* rows = nullptr;
  png_uint_32 width = 0, height = 0;
  bool opaque = false;
  int stage = 0;
  char message[160] = {0};
};

void png_on_error(png_structp png, png_const_charp message) {
  auto* job = static_cast<PngJob*>(g_png.png_get_error_ptr(png));
  std::snprintf(job->message, sizeof job->message, "PNG: %s", message ? message : "error");
  g_png.png_longjmp(png, 1);
}

void png_on_warning(png_structp, png_const_charp) {}

void png_read_bytes(png_structp png, png_bytep into, size_t n) {
  auto* job = static_cast<PngJob*>(g_png.png_get_io_ptr(png));
  if (job->size - job->pos < n) g_png.png_error(png, "data cut short");
  if (n == 0) return;
  std::memcpy(into, job->data + job->pos, n);
  job->pos += n;
}

bool append_bytes(std::vector<uint8_t>* out, const uint8_t* bytes, size_t n) noexcept {
  try {
    out->insert(out->end(), bytes, bytes + n);
  } catch (...) {
    return false;
  }
  return true;
}

void png_write_bytes(png_structp png, png_bytep bytes, size_t n) {
  auto* job = static_cast<PngJob*>(g_png.png_get_io_ptr(png));
  if (!append_bytes(job->out, bytes, n)) g_png.png_error(png, "out of memory");
}

void png_flush_nothing(png_structp) {}

// The buffer libpng's errors jump to; nullptr (with the reason) when the
// library was built with another jmp_buf than this code.
std::jmp_buf* png_jump(PngJob* job) {
  std::jmp_buf* jump = g_png.png_set_longjmp_fn(job->png, std::longjmp, sizeof(std::jmp_buf));
  if (!jump) std::snprintf(job->message, sizeof job->message, "PNG: the library does not match its header");
  return jump;
}

// Stage 1 reads the header and sets the transformations to 8-bit BGRA;
// stage 2 reads the rows into job->rows and the chunks after them.
bool png_read_stages(PngJob* job) {
  std::jmp_buf* jump = png_jump(job);
  if (!jump || setjmp(*jump)) return false;
  png_structp png = job->png;
  png_infop info = job->info;
  if (job->stage == 1) {
    g_png.png_set_read_fn(png, job, png_read_bytes);
    g_png.png_set_user_limits(png, kImageMaxSide, kImageMaxSide);
    g_png.png_read_info(png, info);
    job->width = g_png.png_get_image_width(png, info);
    job->height = g_png.png_get_image_height(png, info);
    int colour = g_png.png_get_color_type(png, info);
    g_png.png_set_expand(png);
    g_png.png_set_scale_16(png);
    if (colour == PNG_COLOR_TYPE_GRAY || colour == PNG_COLOR_TYPE_GRAY_ALPHA) g_png.png_set_gray_to_rgb(png);
    g_png.png_set_bgr(png);
    g_png.png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
    g_png.png_set_interlace_handling(png);
    g_png.png_read_update_info(png, info);
    if (g_png.png_get_rowbytes(png, info) != size_t(job->width) * 4)
      g_png.png_error(png, "unexpected row layout");
    return true;
  }
  g_png.png_read_image(png, job->rows);
  g_png.png_read_end(png, nullptr);
  return true;
}

bool png_write_stages(PngJob* job) {
  std::jmp_buf* jump = png_jump(job);
  if (!jump || setjmp(*jump)) return false;
  png_structp png = job->png;
  g_png.png_set_write_fn(png, job, png_write_bytes, png_flush_nothing);
  g_png.png_set_IHDR(png, job->info, job->width, job->height, 8,
                     job->opaque ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_RGB_ALPHA, PNG_INTERLACE_NONE,
                     PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  // The average filter is left out: on noisy pictures libpng's choice of it
  // costs a third more bytes and time than the other filters do.
  g_png.png_set_filter(png, PNG_FILTER_TYPE_BASE,
                       PNG_FILTER_NONE | PNG_FILTER_SUB | PNG_FILTER_UP | PNG_FILTER_PAETH);
  g_png.png_write_info(png, job->info);
  g_png.png_set_bgr(png);
  if (job->opaque) g_png.png_set_filler(png, 0, PNG_FILLER_AFTER);
  g_png.png_write_image(png, job->rows);
  g_png.png_write_end(png, job->info);
  return true;
}

}  // namespace

bool image_png_decode(const uint8_t* data, size_t size, PixelImage* out, std::string* why) {
  if (!image_library_ready(&g_png_library, why)) return false;
  PngJob job;
  job.data = data;
  job.size = size;
  job.png = g_png.png_create_read_struct(PNG_LIBPNG_VER_STRING, &job, png_on_error, png_on_warning);
  if (!job.png) return image_fail(why, "PNG: cannot start the decoder");
  job.info = g_png.png_create_info_struct(job.png);
  bool ok = false;
  if (job.info) {
    job.stage = 1;
    ok = png_read_stages(&job) && image_size_check(job.width, job.height, size, why) &&
         image_allocate(out, job.width, job.height, 0, why);
    if (ok) {
      std::vector<png_bytep> rows(job.height);
      for (uint32_t y = 0; y < job.height; y++) {
        rows[y] = reinterpret_cast<png_bytep>(out->pixels.data() + size_t(y) * job.width);
      }
      job.rows = rows.data();
      job.stage = 2;
      ok = png_read_stages(&job);
    }
    if (!ok && job.message[0] && why) *why = job.message;
  } else if (why) {
    *why = "PNG: cannot start the decoder";
  }
  g_png.png_destroy_read_struct(&job.png, job.info ? &job.info : nullptr, nullptr);
  return ok;
}

bool image_png_encode(const PixelImage& image, std::vector<uint8_t>* out, std::string* why) {
  if (!image_library_ready(&g_png_library, why)) return false;
  PngJob job;
  job.out = out;
  job.width = image.width;
  job.height = image.height;
  job.opaque = true;
  for (uint32_t p : image.pixels) {
    if ((p >> 24) != 0xFF) {
      job.opaque = false;
      break;
    }
  }
  std::vector<png_bytep> rows(image.height);
  for (uint32_t y = 0; y < image.height; y++) {
    // libpng copies each row before transforming it: the words stay as they are.
    rows[y] =
        reinterpret_cast<png_bytep>(const_cast<uint32_t*>(image.pixels.data() + size_t(y) * image.width));
  }
  job.rows = rows.data();
  out->reserve(image.pixels.size());
  job.png = g_png.png_create_write_struct(PNG_LIBPNG_VER_STRING, &job, png_on_error, png_on_warning);
  if (!job.png) return image_fail(why, "PNG: cannot start the encoder");
  job.info = g_png.png_create_info_struct(job.png);
  bool ok = job.info && png_write_stages(&job);
  if (!ok) image_fail(why, job.message[0] ? job.message : "PNG: cannot start the encoder");
  g_png.png_destroy_write_struct(&job.png, job.info ? &job.info : nullptr);
  return ok;
}

}  // namespace kiv
