// point2D! and point3D!: storage and hashing (the payload is laid out in
// datatypes/point.h). The hashes read the coordinates' bits.
#include "datatypes/point.h"

#include "datatypes/registry.h"
#include "runtime/murmur3.h"

namespace kiv {

namespace {

// -0.0 read as +0.0 (they compare equal).
inline uint32_t float32_bits(uint32_t bits) { return (bits << 1) == 0 ? 0 : bits; }

uint32_t point2d_hash(const Cell* v) {
  uint32_t w[2] = {float32_bits(v->data1), float32_bits(v->data2)};
  return hash_murmur3(w, sizeof w);
}

uint32_t point3d_hash(const Cell* v) {
  uint32_t w[3] = {float32_bits(v->data1), float32_bits(v->data2), float32_bits(v->data3)};
  return hash_murmur3(w, sizeof w);
}

constexpr TypeHooks kPoint2DHooks{.hash = point2d_hash};
constexpr TypeHooks kPoint3DHooks{.hash = point3d_hash};

}  // namespace

void point2d_datatype_init() {
  register_datatype({kTypePoint2D, kTypeNil, "point2D!", kActionCount, {}, &kPoint2DHooks});
}

void point3d_datatype_init() {
  register_datatype({kTypePoint3D, kTypeNil, "point3D!", kActionCount, {}, &kPoint3DHooks});
}

}  // namespace kiv
