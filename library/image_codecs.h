// image! values to and from encoded bytes, for the routines of the image
// codec objects and of the clipboard (library/image_codecs.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "runtime/cell.h"
#include "services/image_codecs.h"

namespace kiv {

// MAY ALLOCATE. Decodes the [size] bytes at [bytes], in the format their
// signature names, into a new image! pushed on the data stack; null when they
// carry no known signature or do not decode. [bytes] may lie in a collected
// series: nothing allocates until they have been read.
Cell* image_push_decoded(const uint8_t* bytes, size_t size);

// Encodes every pixel of [image] (the head plays no part) as [format] into
// *[out]. Raises access bad-media for an image with a side of 0 and when the
// codec fails.
void image_encode_value(const Cell* image, ImageFormat format, std::vector<uint8_t>* out);

}  // namespace kiv
