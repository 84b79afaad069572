// The case tables (generated data, see runtime/case_fold.h for their layout) and
// the in-place mapping of stored code points.
#include "runtime/case_fold.h"

namespace kiv {

#include "runtime/case_tables.inc"

namespace {

// Maps units of type T in place; a mapped value above [limit] ends the run there.
template <typename T>
size_t map_units(T* units, size_t count, const uint8_t* index, uint32_t limit) {
  for (size_t i = 0; i < count; ++i) {
    uint32_t mapped = case_map_with(index, units[i]);
    if (mapped > limit) return i;
    units[i] = static_cast<T>(mapped);
  }
  return count;
}

}  // namespace

size_t case_map_units(void* units, uint32_t unit_size, size_t count, bool upper) {
  const uint8_t* index = upper ? kCaseUpperIndex : kCaseLowerIndex;
  switch (unit_size) {
    case 1: return map_units(static_cast<uint8_t*>(units), count, index, 0xFF);
    case 2: return map_units(static_cast<uint16_t*>(units), count, index, 0xFFFF);
    case 4: return map_units(static_cast<uint32_t*>(units), count, index, 0xFFFFFFFF);
  }
  return 0;  // not a text unit size: nothing is touched
}

}  // namespace kiv
