// JPEG through libjpeg-turbo. Reading: grey, YCbCr and RGB pictures are
// converted by the library straight to B, G, R, A words; CMYK and YCCK ones
// come out as C, M, Y, K bytes in the same words and are converted here
// (inverted, as Adobe's writers store them, when an Adobe marker is
// present). Input that ends early, and entropy data the library reports as
// corrupt, fail; its notes on harmless oddities (bytes between markers, an
// unknown JFIF revision, an unknown Adobe transform, a bad ICC marker) are
// ignored. Writing: quality 90, the library's default 2x2 chroma
// subsampling, alpha dropped.
//
// libjpeg's fatal error exit is a longjmp back to the C-style stage
// functions below (jpeg_read_stages, jpeg_write_stages), the only frames
// between it and the library that hold no C++ object. libjpeg is opened at
// the first decode or encode (image_format_codecs.h).
#include <cstdio>
// jpeglib.h needs stdio.h first.
#include <jerror.h>
#include <jpeglib.h>

#include <csetjmp>
#include <cstdlib>
#include <cstring>
#include <new>

#include "services/image_format_codecs.h"

namespace kiv {

namespace {

// The libjpeg functions the codec calls (the error manager's defaults
// included).
#define KIV_JPEG_FUNCTIONS(X) \
  X(jpeg_std_error)           \
  X(jpeg_CreateDecompress)    \
  X(jpeg_CreateCompress)      \
  X(jpeg_destroy_decompress)  \
  X(jpeg_destroy_compress)    \
  X(jpeg_read_header)         \
  X(jpeg_resync_to_restart)   \
  X(jpeg_start_decompress)    \
  X(jpeg_read_scanlines)      \
  X(jpeg_finish_decompress)   \
  X(jpeg_mem_dest)            \
  X(jpeg_set_defaults)        \
  X(jpeg_set_quality)         \
  X(jpeg_start_compress)      \
  X(jpeg_write_scanlines)     \
  X(jpeg_finish_compress)
struct JpegFunctions {
  KIV_JPEG_FUNCTIONS(KIV_IMAGE_FUNCTION)
};
JpegFunctions g_jpeg;

const char* jpeg_load(void* handle) {
  JpegFunctions& functions = g_jpeg;
  KIV_JPEG_FUNCTIONS(KIV_IMAGE_FIND)
  return nullptr;
}

ImageLibrary g_jpeg_library{"JPEG", "libjpeg.so.62", jpeg_load};

struct JpegJob {
  jpeg_decompress_struct in;
  jpeg_compress_struct out;
  jpeg_error_mgr errors;
  jpeg_source_mgr source;
  std::jmp_buf jump;
  const uint8_t* data;
  size_t size;
  JSAMPROW* rows;
  uint32_t width, height;
  bool cmyk;
  bool inverted;
  unsigned char* encoded;  // malloc'd by jpeg_mem_dest
  unsigned long encoded_size;
  int stage;
  char message[JMSG_LENGTH_MAX + 8];
};

JpegJob* job_of(j_common_ptr cinfo) { return static_cast<JpegJob*>(cinfo->client_data); }

void jpeg_on_error(j_common_ptr cinfo) {
  JpegJob* job = job_of(cinfo);
  char text[JMSG_LENGTH_MAX];
  cinfo->err->format_message(cinfo, text);
  std::snprintf(job->message, sizeof job->message, "JPEG: %s", text);
  std::longjmp(job->jump, 1);
}

// Warnings (level -1) about corrupt data end the decoding; trace messages
// (levels 0 and up) are dropped.
void jpeg_on_message(j_common_ptr cinfo, int level) {
  if (level >= 0) return;
  switch (cinfo->err->msg_code) {
    case JWRN_EXTRANEOUS_DATA:
    case JWRN_JFIF_MAJOR:
    case JWRN_ADOBE_XFORM:
    case JWRN_BOGUS_ICC: return;
    default: jpeg_on_error(cinfo);
  }
}

void source_init(j_decompress_ptr) {}
boolean source_fill(j_decompress_ptr cinfo) {
  ERREXIT(cinfo, JERR_INPUT_EOF);
  return FALSE;
}
void source_skip(j_decompress_ptr cinfo, long n) {
  if (n <= 0) return;
  jpeg_source_mgr* src = cinfo->src;
  if (size_t(n) > src->bytes_in_buffer) ERREXIT(cinfo, JERR_INPUT_EOF);
  src->next_input_byte += n;
  src->bytes_in_buffer -= size_t(n);
}
void source_term(j_decompress_ptr) {}

// Stage 1 reads the header; stage 2 decodes the rows into job->rows.
bool jpeg_read_stages(JpegJob* job) {
  if (setjmp(job->jump)) return false;
  j_decompress_ptr in = &job->in;
  if (job->stage == 1) {
    g_jpeg.jpeg_CreateDecompress(in, JPEG_LIB_VERSION, sizeof(jpeg_decompress_struct));
    in->client_data = job;
    job->source.init_source = source_init;
    job->source.fill_input_buffer = source_fill;
    job->source.skip_input_data = source_skip;
    job->source.resync_to_restart = g_jpeg.jpeg_resync_to_restart;
    job->source.term_source = source_term;
    job->source.next_input_byte = job->data;
    job->source.bytes_in_buffer = job->size;
    in->src = &job->source;
    g_jpeg.jpeg_read_header(in, TRUE);
    job->width = in->image_width;
    job->height = in->image_height;
    job->cmyk = in->jpeg_color_space == JCS_CMYK || in->jpeg_color_space == JCS_YCCK;
    job->inverted = job->cmyk && in->saw_Adobe_marker;
    return true;
  }
  in->out_color_space = job->cmyk ? JCS_CMYK : JCS_EXT_BGRA;
  g_jpeg.jpeg_start_decompress(in);
  if (in->output_width != job->width || in->output_height != job->height || in->output_components != 4) {
    ERREXIT(in, JERR_CONVERSION_NOTIMPL);
  }
  while (in->output_scanline < in->output_height) {
    g_jpeg.jpeg_read_scanlines(in, job->rows + in->output_scanline, in->output_height - in->output_scanline);
  }
  g_jpeg.jpeg_finish_decompress(in);
  return true;
}

bool jpeg_write_stages(JpegJob* job) {
  if (setjmp(job->jump)) return false;
  j_compress_ptr out = &job->out;
  g_jpeg.jpeg_CreateCompress(out, JPEG_LIB_VERSION, sizeof(jpeg_compress_struct));
  out->client_data = job;
  g_jpeg.jpeg_mem_dest(out, &job->encoded, &job->encoded_size);
  out->image_width = job->width;
  out->image_height = job->height;
  out->input_components = 4;
  out->in_color_space = JCS_EXT_BGRX;
  g_jpeg.jpeg_set_defaults(out);
  g_jpeg.jpeg_set_quality(out, 90, TRUE);
  g_jpeg.jpeg_start_compress(out, TRUE);
  while (out->next_scanline < out->image_height) {
    g_jpeg.jpeg_write_scanlines(out, job->rows + out->next_scanline, out->image_height - out->next_scanline);
  }
  g_jpeg.jpeg_finish_compress(out);
  return true;
}

void start_job(JpegJob* job) {
  std::memset(job, 0, sizeof *job);
  g_jpeg.jpeg_std_error(&job->errors);
  job->errors.error_exit = jpeg_on_error;
  job->errors.emit_message = jpeg_on_message;
  job->in.err = &job->errors;
  job->out.err = &job->errors;
  job->in.client_data = job;
  job->out.client_data = job;
}

// ((a * b) / 255, rounded.
uint32_t mul255(uint32_t a, uint32_t b) {
  uint32_t t = a * b + 128;
  return ((t >> 8) + t) >> 8;
}

// C, M, Y, K bytes (0 no ink; inverted when [inverted]) to opaque colours.
void convert_cmyk(PixelImage* image, bool inverted) {
  for (uint32_t& word : image->pixels) {
    uint32_t ink[4];
    for (int i = 0; i < 4; i++) {
      uint32_t v = (word >> (8 * i)) & 0xFF;
      ink[i] = inverted ? 255 - v : v;
    }
    uint32_t paper = 255 - ink[3];
    uint32_t r = paper - mul255(ink[0], paper), g = paper - mul255(ink[1], paper);
    uint32_t b = paper - mul255(ink[2], paper);
    word = 0xFF000000u | r << 16 | g << 8 | b;
  }
}

}  // namespace

bool image_jpeg_decode(const uint8_t* data, size_t size, PixelImage* out, std::string* why) {
  if (!image_library_ready(&g_jpeg_library, why)) return false;
  JpegJob job;
  start_job(&job);
  job.data = data;
  job.size = size;
  job.stage = 1;
  bool ok = jpeg_read_stages(&job) && image_size_check(job.width, job.height, size, why) &&
            image_allocate(out, job.width, job.height, 0, why);
  if (ok) {
    std::vector<JSAMPROW> rows(job.height);
    for (uint32_t y = 0; y < job.height; y++) {
      rows[y] = reinterpret_cast<JSAMPROW>(out->pixels.data() + size_t(y) * job.width);
    }
    job.rows = rows.data();
    job.stage = 2;
    ok = jpeg_read_stages(&job);
  }
  if (!ok && job.message[0] && why) *why = job.message;
  g_jpeg.jpeg_destroy_decompress(&job.in);
  if (ok && job.cmyk) convert_cmyk(out, job.inverted);
  return ok;
}

bool image_jpeg_encode(const PixelImage& image, std::vector<uint8_t>* out, std::string* why) {
  if (!image_library_ready(&g_jpeg_library, why)) return false;
  JpegJob job;
  start_job(&job);
  job.width = image.width;
  job.height = image.height;
  std::vector<JSAMPROW> rows(image.height);
  for (uint32_t y = 0; y < image.height; y++) {
    rows[y] =
        reinterpret_cast<JSAMPROW>(const_cast<uint32_t*>(image.pixels.data() + size_t(y) * image.width));
  }
  job.rows = rows.data();
  bool ok = jpeg_write_stages(&job);
  g_jpeg.jpeg_destroy_compress(&job.out);
  if (ok) {
    try {
      out->assign(job.encoded, job.encoded + job.encoded_size);
    } catch (const std::bad_alloc&) {
      ok = image_fail(why, "JPEG: out of memory");
    }
  } else {
    image_fail(why, job.message[0] ? job.message : "JPEG: the encoder failed");
  }
  std::free(job.encoded);
  return ok;
}

}  // namespace kiv
