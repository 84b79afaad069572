// string! storage and the text helpers the runtime builds output with.
#include "datatypes/string.h"

#include <cstring>

#include "runtime/memory.h"

namespace kiv {

Cell* string_make_at(Cell* out, uint32_t capacity) {
  Node n = series_alloc_units(capacity, 1);
  *out = make_cell(kTypeString, 0, n, 0);
  return out;
}

int32_t string_append_c_string(Cell* str, std::string_view text) {
  uint8_t* dst = reserve_tail(str->node(), uint32_t(text.size()));
  std::memcpy(dst, text.data(), text.size());
  return int32_t(text.size());
}

int32_t string_length(const Cell* str) {
  SeriesBuffer* b = series_buffer(str->node());
  int32_t total = int32_t(b->length());
  return str->head() < total ? total - (str->head() > 0 ? str->head() : 0) : 0;
}

void string_truncate(Cell* str, int32_t length) {
  SeriesBuffer* b = series_buffer(str->node());
  uint32_t end = b->head + uint32_t(str->head() + length) * b->unit();
  if (end < b->tail) b->tail = end;
}

std::string string_to_utf8(const Cell* str) {
  SeriesBuffer* b = series_buffer(str->node());
  std::string out;
  uint32_t unit = b->unit();
  int32_t head = str->head() > 0 ? str->head() : 0;
  for (uint8_t* p = b->head_ptr() + uint32_t(head) * unit; p < b->tail_ptr(); p += unit) {
    uint32_t cp = unit == 1 ? *p : unit == 2 ? uint32_t(p[0] | p[1] << 8) : uint32_t(p[0] | p[1] << 8 | p[2] << 16 | p[3] << 24);
    if (cp < 0x80) {
      out += char(cp);
    } else if (cp < 0x800) {
      out += char(0xC0 | cp >> 6);
      out += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += char(0xE0 | cp >> 12);
      out += char(0x80 | ((cp >> 6) & 0x3F));
      out += char(0x80 | (cp & 0x3F));
    } else {
      out += char(0xF0 | cp >> 18);
      out += char(0x80 | ((cp >> 12) & 0x3F));
      out += char(0x80 | ((cp >> 6) & 0x3F));
      out += char(0x80 | (cp & 0x3F));
    }
  }
  return out;
}

}  // namespace kiv
