// The routines behind the image codec objects of system/codecs
// (library/image_codecs.kiv), and image_codecs.h: image! values to and from
// encoded bytes through the file codecs (services/image_codecs.h).
//
// Failures: bytes no decoder reads, and an image that cannot be encoded (a
// side of 0, a library that fails), raise access bad-media; a file that
// cannot be read, or whose bytes are no picture, raises access cannot-open
// with the file.
#include "library/image_codecs.h"

#include <climits>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "datatypes/binary.h"
#include "datatypes/image.h"
#include "datatypes/integer.h"
#include "datatypes/word.h"
#include "library/routines.h"
#include "runtime/errors.h"
#include "runtime/stack.h"
#include "services/file_access.h"
#include "services/image_codecs.h"

namespace kiv {

namespace {

const char* format_word(ImageFormat format) {
  switch (format) {
    case ImageFormat::kBmp: return "bmp";
    case ImageFormat::kPng: return "png";
    case ImageFormat::kGif: return "gif";
    case ImageFormat::kJpeg: return "jpeg";
    case ImageFormat::kTiff: return "tiff";
  }
  return "bmp";
}

// The format of the binary! [bin]'s bytes from its head, by their signature.
std::optional<ImageFormat> sniff_binary(Cell* bin) {
  const int32_t n = binary_length(bin);
  return image_sniff(binary_head_ptr(bin), size_t(n));
}

}  // namespace

Cell* image_push_decoded(const uint8_t* bytes, size_t size) {
  std::optional<ImageFormat> format = image_sniff(bytes, size);
  if (!format) return nullptr;
  PixelImage decoded;
  std::string why;
  if (!image_decode(*format, bytes, size, &decoded, &why)) return nullptr;
  return image_push(int32_t(decoded.width), int32_t(decoded.height), decoded.pixels.data());
}

void image_encode_value(const Cell* image, ImageFormat format, std::vector<uint8_t>* out) {
  PixelImage pixels;
  {
    const ImageView view = image_view(image);
    if (view.width <= 0 || view.height <= 0 || !view.pixels) raise_error(kErrAccessBadMedia);
    pixels.width = uint32_t(view.width);
    pixels.height = uint32_t(view.height);
    pixels.pixels.assign(view.pixels, view.pixels + size_t(view.width) * size_t(view.height));
  }
  std::string why;
  if (!image_encode(format, pixels, out, &why) || out->size() > size_t(INT32_MAX))
    raise_error(kErrAccessBadMedia);
}

// MAY ALLOCATE. The encoded bytes of the image's pixels (all of them, the
// head plays no part) as a new binary!.
KIV_ROUTINE(EncodeImage) {
  const int32_t index = integer_get(a.format);
  if (index < 0 || index > int32_t(ImageFormat::kTiff)) raise_error(kErrScriptInvalidArg, a.format);
  std::vector<uint8_t> encoded;
  image_encode_value(a.img, ImageFormat(index), &encoded);
  return native_result(*binary_load_push(encoded.data(), uint32_t(encoded.size())));
}

// MAY ALLOCATE. A binary! is decoded from its head by the format its
// signature names; a file! is read and decoded so.
KIV_ROUTINE(DecodeImage) {
  if (a.data->is(kTypeBinary)) {
    const int32_t n = binary_length(a.data);
    Cell* image = image_push_decoded(binary_head_ptr(a.data), size_t(n));
    if (!image) raise_error(kErrAccessBadMedia);
    return native_result(*image);
  }
  if (file_dir_path_q(a.data)) raise_error(kErrAccessCannotOpen, a.data);
  Cell* bytes = file_read_value(a.data, nullptr, nullptr, true, false);
  Cell* image = bytes->is(kTypeBinary)
                    ? image_push_decoded(binary_head_ptr(bytes), size_t(binary_length(bytes)))
                    : nullptr;
  if (!image) raise_error(kErrAccessCannotOpen, a.data);
  return native_result(*image);
}

// The word of the image format whose signature starts the binary, or none.
KIV_ROUTINE(ImageFormatQ) {
  std::optional<ImageFormat> format = sniff_binary(a.data);
  if (!format) return native_result(kNoneCell);
  return native_result(name_word_cell(format_word(*format)));
}

}  // namespace kiv
