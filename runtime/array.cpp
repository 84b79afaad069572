// Raw arrays over series buffers. Appends go through reserve_tail, which grows
// the buffer (moving it) when the tail would pass the capacity.
#include "runtime/array.h"

#include <cstring>

namespace kiv {

namespace {

inline uint32_t word_count(const SeriesBuffer* b) { return (b->tail - b->head) / 4; }

int32_t find_word(Node array, uint32_t value) {
  SeriesBuffer* b = series_buffer(array);
  uint32_t n = word_count(b);
  const uint8_t* p = b->head_ptr();
  for (uint32_t i = 0; i < n; i++) {
    uint32_t w;
    std::memcpy(&w, p + 4 * i, 4);
    if (w == value) return int32_t(4 * i);
  }
  return -1;
}

uint32_t pick_word(Node array, uint32_t index) {
  SeriesBuffer* b = series_buffer(array);
  if (index == 0 || index > word_count(b)) return 0;
  uint32_t w;
  std::memcpy(&w, b->head_ptr() + 4 * (index - 1), 4);
  return w;
}

bool poke_word(Node array, uint32_t index, uint32_t value) {
  SeriesBuffer* b = series_buffer(array);
  if (index == 0 || index > word_count(b)) return false;
  std::memcpy(b->head_ptr() + 4 * (index - 1), &value, 4);
  return true;
}

void append_word(Node array, uint32_t value) {
  uint8_t* p = reserve_tail(array, 4);
  std::memcpy(p, &value, 4);
}

}  // namespace

Node array_make(uint32_t n, uint32_t unit) { return series_alloc(n == 0 ? 16 / unit : n, unit, 0); }

uint32_t array_length(Node array) {
  SeriesBuffer* b = series_buffer(array);
  return (b->tail - b->head) >> __builtin_ctz(b->unit());
}

void array_clear(Node array) {
  SeriesBuffer* b = series_buffer(array);
  b->tail = b->head;
}

void array_truncate(Node array, uint32_t i) {
  SeriesBuffer* b = series_buffer(array);
  uint64_t end = b->head + uint64_t(i > 0 ? i - 1 : 0) * b->unit();
  if (end < b->tail) b->tail = uint32_t(end);
}

Node array_copy(Node array) { return series_copy_buffer(array); }

uint32_t array_flags(Node array) { return series_buffer(array)->flags; }

void array_append_byte(Node array, uint8_t byte) { *reserve_tail(array, 1) = byte; }

void array_append_bytes(Node array, const void* data, uint32_t n) {
  if (n == 0) return;
  std::memcpy(reserve_tail(array, n), data, n);
}

void array_append_int(Node array, int32_t value) { append_word(array, uint32_t(value)); }
void array_append_handle(Node array, uint32_t handle) { append_word(array, handle); }

int32_t array_find_int(Node array, int32_t value) { return find_word(array, uint32_t(value)); }
int32_t array_find_handle(Node array, uint32_t handle) { return find_word(array, handle); }

int32_t array_pick_int(Node array, uint32_t index) { return int32_t(pick_word(array, index)); }
uint32_t array_pick_handle(Node array, uint32_t index) { return pick_word(array, index); }

bool array_poke_handle(Node array, uint32_t index, uint32_t handle) {
  return poke_word(array, index, handle);
}

int32_t array_remove_handle(Node array, uint32_t handle) {
  int32_t at = find_word(array, handle);
  if (at >= 0) array_remove_bytes(array, uint32_t(at), 4);
  return at;
}

void array_remove_bytes(Node array, uint32_t offset, uint32_t n) {
  SeriesBuffer* b = series_buffer(array);
  uint32_t used = b->tail - b->head;
  if (offset >= used || n == 0) return;
  if (n > used - offset) n = used - offset;
  uint8_t* at = b->head_ptr() + offset;
  std::memmove(at, at + n, used - offset - n);
  b->tail -= n;
}

}  // namespace kiv
