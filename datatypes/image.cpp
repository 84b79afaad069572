// image!: payload word 1 the head (a pixel offset), word 2 the image node of
// the imaging back end (0 without a bitmap), word 3 the size (width in bits
// 0-15, height in bits 16-31). The back end's nodes are external resources;
// the image unit will mark them. Only storage and hashing stand here so far.
#include "datatypes/registry.h"
#include "runtime/murmur3.h"

namespace kiv {

namespace {

uint32_t image_hash(const Cell* v) { return hash_murmur3(&v->data1, 8); }

constexpr TypeHooks kImageHooks{.hash = image_hash};

}  // namespace

void image_datatype_init() {
  register_datatype({kTypeImage, kTypeSeries, "image!", kActionCount, {}, &kImageHooks});
}

}  // namespace kiv
