// The image file codecs: PNG, JPEG, GIF, TIFF and BMP between encoded bytes
// and a plain pixel buffer. PNG goes through libpng, JPEG through
// libjpeg-turbo, GIF through giflib (its palette quantiser is ours), TIFF
// through libtiff; BMP is read and written here. Each library is opened at
// the first decode or encode of its format (none at start-up); one that
// cannot be opened fails its format, with the reason, from then on.
//
// Nothing here touches Kiv values or the collector: the image! datatype, the
// codec objects and the clipboard wrap these calls.
//
// Pixels are 32-bit words 0xAARRGGBB (alpha 255 opaque, straight, not
// premultiplied), row-major, top row first; in memory a word's bytes are
// B, G, R, A.
//
// Decoding takes the first image of a file (GIF: frame 0 on its logical
// screen; TIFF: the first directory). Every failure is a false return with a
// short reason, the libraries' own messages kept off the standard streams,
// and everything they allocated freed. A decoder refuses, before it
// allocates pixels, a side above kImageMaxSide, more than kImageMaxPixels
// pixels, a zero side, and a picture larger than the input could hold
// (image_size_check).
//
// Encoding: PNG 8-bit RGB when every pixel is opaque, else 8-bit RGBA; JPEG
// at quality 90 without alpha; GIF89a with the exact palette when the
// colours fit (256, or 255 beside a transparent index), else a median-cut
// palette without dithering, pixels more than half transparent written as
// the transparent index; TIFF 8-bit RGBA with unassociated alpha,
// uncompressed; BMP 32 bits a pixel with the 124-byte version 5 header and an
// alpha mask, rows top-down. An image with a zero side, or whose buffer does
// not hold width x height pixels, is refused.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kiv {

// The numbering is the image back end's encoder index.
enum class ImageFormat : uint8_t { kBmp = 0, kPng = 1, kGif = 2, kJpeg = 3, kTiff = 4 };

struct PixelImage {
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<uint32_t> pixels;  // width x height words 0xAARRGGBB
};

constexpr uint32_t kImageMaxSide = 65535;
constexpr uint64_t kImageMaxPixels = (uint64_t(1) << 29) - 1;
// Any input may declare up to this many pixels; beyond it, at most
// kImageMaxPixelsPerByte for each byte of input: DEFLATE's greatest
// expansion (1032 to 1) at one bit a pixel, more than any ordinary file of
// these formats reaches. So a small hostile file cannot ask for gigabytes.
constexpr uint64_t kImageFreePixels = uint64_t(1) << 24;
constexpr uint64_t kImageMaxPixelsPerByte = 8 * 1032;

// The format whose signature starts the [size] bytes at [data], checked in
// the order PNG (0x89 "PNG"), JPEG (FF D8 FF), BMP ("BM"), GIF ("GIF87a",
// "GIF89a"), TIFF ("II*\0", "MM\0*"); none when no signature matches in
// full.
std::optional<ImageFormat> image_sniff(const uint8_t* data, size_t size);

// Decodes the [size] bytes at [data] as [format] into *[out]. False, with
// the reason in *[why] and *[out] empty, when they are not a picture of that
// format this decoder reads.
bool image_decode(ImageFormat format, const uint8_t* data, size_t size, PixelImage* out, std::string* why);

// Encodes [image] as [format] into *[out] (replacing its content). False,
// with the reason in *[why], when the image is refused or a library fails.
bool image_encode(ImageFormat format, const PixelImage& image, std::vector<uint8_t>* out, std::string* why);

// The 124-byte bitmap version 5 header the BMP encoder writes (and the
// clipboard's 32-bit bitmap block starts with) for a [width] x [height]
// image: 32 bits a pixel, bit fields with red 0x00FF0000, green 0x0000FF00,
// blue 0x000000FF and alpha 0xFF000000, height negated (rows top-down),
// image size width x height x 4, colour space "Win ", intent 4 (images),
// every other field 0. The pixel words follow it as they are in memory.
void image_bmp_v5_header(uint32_t width, uint32_t height, uint8_t out[124]);

// True when a [width] x [height] picture may be decoded from an input of
// [input_size] bytes: both sides from 1 to kImageMaxSide, at most
// kImageMaxPixels pixels, and within the input's allowance above. Else the
// reason in *[why].
bool image_size_check(uint64_t width, uint64_t height, size_t input_size, std::string* why);

}  // namespace kiv
