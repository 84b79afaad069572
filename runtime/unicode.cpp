// UTF-8 and UTF-16 conversion in and out of unit-1/2/4 text buffers, in-place
// widening and the per-cell conversion buffer.
//
// Invariants: loaders write from the target buffer's head and set its tail to
// the last unit written before returning or raising; a widening re-derives
// every pointer into the buffer and into a series source; every decode loop
// stays strictly inside its input (no terminator byte is assumed).
#include "runtime/unicode.h"

#include <bit>
#include <cstring>

#include "runtime/errors.h"
#include "runtime/gc_root.h"
#include "runtime/typesets.h"

namespace kiv {

static_assert(std::endian::native == std::endian::little, "text units are stored little-endian");

// clang-format off
const uint8_t kUtf8DecodeTable[364] = {
    // Byte classes.
    0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0, 0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,  // 00-1F
    0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0, 0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,  // 20-3F
    0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0, 0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,  // 40-5F
    0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0, 0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,0,  // 60-7F
    1,1,1,1,1,1,1,1,1,1,1,1,1,1,1,1, 9,9,9,9,9,9,9,9,9,9,9,9,9,9,9,9,  // 80-9F
    7,7,7,7,7,7,7,7,7,7,7,7,7,7,7,7, 7,7,7,7,7,7,7,7,7,7,7,7,7,7,7,7,  // A0-BF
    8,8,2,2,2,2,2,2,2,2,2,2,2,2,2,2, 2,2,2,2,2,2,2,2,2,2,2,2,2,2,2,2,  // C0-DF
    10,3,3,3,3,3,3,3,3,3,3,3,3,4,3,3, 11,6,6,6,5,8,8,8,8,8,8,8,8,8,8,8, // E0-FF
    // Transitions: state (a multiple of 12) + class.
    0,12,24,36,60,96,84,12,12,12,48,72, 12,12,12,12,12,12,12,12,12,12,12,12,
    12,0,12,12,12,12,12,0,12,0,12,12,   12,24,12,12,12,12,12,24,12,24,12,12,
    12,12,12,12,12,12,12,24,12,12,12,12, 12,24,12,12,12,12,12,12,12,24,12,12,
    12,12,12,12,12,12,12,36,12,36,12,12, 12,36,12,12,12,12,12,36,12,36,12,12,
    12,36,12,12,12,12,12,12,12,12,12,12,
};
// clang-format on

const uint8_t* utf8_fast_decode_char(const uint8_t* p, const uint8_t* end, int32_t* cp) {
  uint32_t byte = *p++;
  uint32_t cls = kUtf8DecodeTable[byte];
  uint32_t code = (0xFFu >> cls) & byte;
  uint32_t state = kUtf8DecodeTable[256 + cls];
  while (state != 0 && state != 12) {
    if (p == end) {
      *cp = -1;
      return p;
    }
    byte = *p++;
    code = (code << 6) | (byte & 0x3F);
    state = kUtf8DecodeTable[256 + state + kUtf8DecodeTable[byte]];
  }
  *cp = state == 0 ? int32_t(code) : -1;
  return p;
}

int32_t utf8_count_chars(const uint8_t* start, const uint8_t* end) {
  int32_t n = 0;
  int32_t cp;
  while (start < end) {
    if (*start < 0x80) {
      start++;
    } else {
      start = utf8_fast_decode_char(start, end, &cp);
    }
    n++;
  }
  return n;
}

const uint8_t* utf8_skip_chars(const uint8_t* start, const uint8_t* end, int32_t n) {
  int32_t cp;
  while (n > 0 && start < end) {
    start = utf8_fast_decode_char(start, end, &cp);
    n--;
  }
  return start;
}

int utf8_seq_length(uint8_t lead) {
  if ((lead & 0xF0) == 0xF0) return 4;
  if ((lead & 0xF0) == 0xE0) return 3;
  if ((lead & 0xE0) == 0xC0) return 2;
  return 0;
}

// ---------------------------------------------------------------- sizes and encoding

namespace {

[[noreturn]] void raise_invalid_char(uint32_t cp) {
  Cell c = make_cell(kTypeInteger, 0, cp);
  raise_error(kErrScriptInvalidChar, &c);
}

template <class U>
inline U load_unit(const uint8_t* base, size_t i) {
  U v;
  std::memcpy(&v, base + i * sizeof(U), sizeof(U));
  return v;
}

template <class U>
inline void store_unit(uint8_t* base, size_t i, uint32_t cp) {
  U v = U(cp);
  std::memcpy(base + i * sizeof(U), &v, sizeof(U));
}

}  // namespace

int utf8_char_size(uint32_t cp) {
  if (cp < 0x80) return 1;
  if (cp < 0x800) return 2;
  if (cp < 0x10000) return 3;
  if (cp <= kMaxCodePoint) return 4;
  raise_invalid_char(cp);
}

uint64_t utf8_size_of_chars(const uint8_t* start, const uint8_t* end, uint32_t unit) {
  check_text_unit(unit);
  size_t n = size_t(end - start) / unit;
  return with_text_unit(unit, [&](auto* tag) -> uint64_t {
    using U = std::remove_pointer_t<decltype(tag)>;
    uint64_t size = 0;
    for (size_t i = 0; i < n; i++) {
      uint32_t cp = load_unit<U>(start, i);
      size += cp < 0x80 ? 1 : cp < 0x800 ? 2 : cp < 0x10000 ? 3 : 4;
      if (sizeof(U) == 4 && cp > kMaxCodePoint) raise_invalid_char(cp);
    }
    return size;
  });
}

int utf8_encode(uint32_t cp, uint8_t* dst) {
  if (cp > kMaxCodePoint) raise_invalid_char(cp);
  return int(utf8_put(dst, cp) - dst);
}

int utf8_encode_bounded(uint32_t cp, uint8_t* dst, uint32_t room) {
  uint8_t bytes[4];
  int n = utf8_encode(cp, bytes);
  int written = 0;
  while (written < n && room > uint32_t(written)) {
    dst[written] = bytes[written];
    written++;
  }
  return written;
}

// ---------------------------------------------------------------- string value to UTF-8

namespace {

// The units of a text value from its head: byte offset from the buffer's head,
// count, unit. A negative head reads as 0, a head past the tail as the tail;
// [limit] >= 0 caps the count.
struct TextRange {
  uint32_t offset;
  uint32_t count;
  uint32_t unit;
};

TextRange text_range(const Cell* str, int64_t limit) {
  SeriesBuffer* b = series_buffer(str->node());
  uint32_t unit = b->unit();
  check_text_unit(unit);
  uint32_t total = (b->tail - b->head) / unit;
  uint32_t head = str->head() > 0 ? uint32_t(str->head()) : 0;
  if (head > total) head = total;
  uint32_t count = total - head;
  if (limit >= 0 && uint64_t(limit) < count) count = uint32_t(limit);
  return {head * unit, count, unit};
}

template <class U>
uint8_t* encode_units(const uint8_t* src, uint32_t n, uint8_t* out, bool crlf) {
  for (uint32_t i = 0; i < n; i++) {
    uint32_t cp = load_unit<U>(src, i);
    if (cp < 0x80) {
      if (crlf && cp == '\n') *out++ = '\r';
      *out++ = uint8_t(cp);
    } else {
      if (sizeof(U) == 4 && cp > kMaxCodePoint) raise_invalid_char(cp);
      out = utf8_put(out, cp);
    }
  }
  return out;
}

}  // namespace

SeriesBuffer* conversion_buffer(Cell* str, uint64_t bytes) {
  fatal_assert(is_any_string(str->type()));
  if (bytes > kMaxCapacity) raise_error(kErrInternalNoMemory);
  if (bytes == 0) bytes = 1;
  Node c = string_conversion_node(str);
  if (c && node_in_use(c) && series_buffer(c)->unit() == 1) {
    SeriesBuffer* b = series_buffer(c);
    b->tail = b->head;
    if (b->capacity - b->head >= bytes) return b;
    b = series_realloc(c, int64_t(bytes));
    b->tail = b->head;
    return b;
  }
  c = series_alloc(uint32_t(bytes), 1, 0);
  string_set_conversion_node(str, c);
  return series_buffer(c);
}

char* to_utf8_crlf(Cell* str, int32_t* length, bool crlf) {
  TextRange r = text_range(str, *length);
  uint32_t f = r.unit == 1 ? 2 : r.unit == 2 ? 3 : 4;
  SeriesBuffer* cb = conversion_buffer(str, (uint64_t(r.count) + 1) * f);
  SeriesBuffer* b = series_buffer(str->node());
  uint8_t* out = cb->head_ptr();
  const uint8_t* src = b->head_ptr() + r.offset;
  uint8_t* end = with_text_unit(r.unit, [&](auto* tag) {
    return encode_units<std::remove_pointer_t<decltype(tag)>>(src, r.count, out, crlf);
  });
  *end = 0;
  *length = int32_t(end - out);
  cb->tail = cb->head + uint32_t(end - out);
  return reinterpret_cast<char*>(out);
}

char* to_utf8(Cell* str, int32_t* length) { return to_utf8_crlf(str, length, false); }

uint32_t to_utf8_into(const Cell* str, uint8_t* dst, int32_t n, bool nul) {
  TextRange r = text_range(str, n);
  const uint8_t* src = series_buffer(str->node())->head_ptr() + r.offset;
  uint8_t* end = with_text_unit(r.unit, [&](auto* tag) {
    return encode_units<std::remove_pointer_t<decltype(tag)>>(src, r.count, dst, false);
  });
  if (nul) *end = 0;
  return uint32_t(end - dst);
}

uint32_t to_utf8_bounded(const Cell* str, uint8_t* dst, uint32_t room, int32_t n, bool nul) {
  TextRange r = text_range(str, n <= 0 ? -1 : n);
  const uint8_t* src = series_buffer(str->node())->head_ptr() + r.offset;
  uint32_t written = 0;
  for (uint32_t i = 0; i < r.count && written < room; i++)
    written +=
        uint32_t(utf8_encode_bounded(unit_get(src + i * r.unit, r.unit), dst + written, room - written));
  if (nul) dst[written] = 0;
  return written;
}

// ---------------------------------------------------------------- UTF-8 to string

namespace {

constexpr int32_t kCutOff = -1;
constexpr int32_t kInvalid = -2;

// One validated sequence: the code point, kCutOff (input ends inside it; nothing
// used) or kInvalid. *[used] gets the bytes used. A sequence longer than its code
// point needs is invalid, except C0 80, kept as U+0000.
inline int32_t decode_checked(const uint8_t* p, uint32_t available, uint32_t* used) {
  uint32_t b0 = p[0];
  if (b0 < 0x80) {
    *used = 1;
    return int32_t(b0);
  }
  if (b0 < 0xC0 || b0 >= 0xF8) return kInvalid;
  if (b0 < 0xE0) {
    if (available < 2) return kCutOff;
    uint32_t b1 = p[1];
    if ((b1 & 0xC0) != 0x80) return kInvalid;
    uint32_t cp = (b0 - 0xC0) << 6 | (b1 - 0x80);
    if (cp < 0x80 && cp != 0) return kInvalid;  // overlong; C0 80 stands for U+0000
    *used = 2;
    return int32_t(cp);
  }
  if (b0 < 0xF0) {
    if (available < 3) return kCutOff;
    uint32_t b1 = p[1], b2 = p[2];
    if ((b1 & 0xC0) != 0x80 || (b2 & 0xC0) != 0x80) return kInvalid;
    uint32_t cp = (b0 - 0xE0) << 12 | (b1 - 0x80) << 6 | (b2 - 0x80);
    if (cp < 0x800 || utf8_refused_q(cp)) return kInvalid;
    *used = 3;
    return int32_t(cp);
  }
  if (available < 4) return kCutOff;
  uint32_t b1 = p[1], b2 = p[2], b3 = p[3];
  if ((b1 & 0xC0) != 0x80 || (b2 & 0xC0) != 0x80 || (b3 & 0xC0) != 0x80) return kInvalid;
  uint32_t cp = (b0 - 0xF0) << 18 | (b1 - 0x80) << 12 | (b2 - 0x80) << 6 | (b3 - 0x80);
  if (cp < 0x10000 || cp > kMaxCodePoint) return kInvalid;
  *used = 4;
  return int32_t(cp);
}

}  // namespace

void raise_invalid_utf8(const uint8_t* p, uint32_t available) {
  uint8_t bytes[4];
  uint32_t n = available < 4 ? available : 4;
  std::memcpy(bytes, p, n);  // [p] may be in a series the allocation below moves
  Node bin = series_alloc(n ? n : 1, 1, 0);
  SeriesBuffer* b = series_buffer(bin);
  std::memcpy(b->head_ptr(), bytes, n);
  b->tail = b->head + n;
  Cell c = series_cell(kTypeBinary, bin);
  raise_error(kErrAccessInvalidUtf8, &c);
}

int32_t utf8_decode_char(const uint8_t* p, uint32_t* count) {
  uint32_t available = *count;
  *count = 0;
  if (available == 0) return -1;
  uint32_t used = 0;
  int32_t cp = decode_checked(p, available, &used);
  if (cp == kInvalid) raise_invalid_utf8(p, available);
  if (cp == kCutOff) return -1;
  *count = used;
  return cp;
}

namespace {

enum class Stop { kEnd, kWiden, kCutOff, kInvalid };

// Decodes from [pos] into units of U at [out] (w units written so far) until the
// input ends, a code point needs a wider unit (left in [pending], already used),
// or the input is cut off or invalid (pos left at the sequence). The caller has
// made room for one unit per remaining input byte.
template <class U>
Stop decode_run(const uint8_t* s, uint32_t length, uint32_t& pos, uint8_t* out, uint32_t& w, bool cr,
                uint32_t& pending) {
  constexpr uint32_t kMax = sizeof(U) == 1 ? 0xFF : sizeof(U) == 2 ? 0xFFFF : 0xFFFFFFFF;
  while (pos < length) {
    if (!cr) {
      // ASCII eight bytes at a time.
      while (length - pos >= 8) {
        uint64_t v;
        std::memcpy(&v, s + pos, 8);
        if (v & 0x8080808080808080ull) break;
        if constexpr (sizeof(U) == 1) {
          std::memcpy(out + w, s + pos, 8);
        } else {
          for (uint32_t k = 0; k < 8; k++) store_unit<U>(out, w + k, s[pos + k]);
        }
        w += 8;
        pos += 8;
      }
      if (pos >= length) break;
    }
    uint32_t c = s[pos];
    if (c < 0x80) {
      if (cr && c == '\r') {
        if (pos + 1 < length && s[pos + 1] == '\n') {
          pos++;
          continue;
        }
        c = '\n';
      }
      store_unit<U>(out, w++, c);
      pos++;
      continue;
    }
    uint32_t used = 0;
    int32_t cp = decode_checked(s + pos, length - pos, &used);
    if (cp < 0) return cp == kCutOff ? Stop::kCutOff : Stop::kInvalid;
    pos += used;
    if (uint32_t(cp) > kMax) {
      pending = uint32_t(cp);
      return Stop::kWiden;
    }
    store_unit<U>(out, w++, uint32_t(cp));
  }
  return Stop::kEnd;
}

template <class From, class To>
void widen_copy_as(uint8_t* dst, const uint8_t* src, uint32_t n) {
  for (uint32_t i = 0; i < n; i++) store_unit<To>(dst, i, load_unit<From>(src, i));
}

// Copies [n] units of width [from] at [src] to [dst] as units of the wider [to].
void widen_copy(uint8_t* dst, uint32_t to, const uint8_t* src, uint32_t from, uint32_t n) {
  if (from == 1 && to == 2)
    widen_copy_as<uint8_t, uint16_t>(dst, src, n);
  else if (from == 1)
    widen_copy_as<uint8_t, uint32_t>(dst, src, n);
  else
    widen_copy_as<uint16_t, uint32_t>(dst, src, n);
}

}  // namespace

Node load_utf8(ByteSource src, uint32_t length, Node target, uint32_t* remaining, bool cr) {
  uint32_t n = length ? length : 1;
  Node node = target;
  // A new series of our own is rooted while widening may collect.
  NodeRoot held(0, NodeRoot::kSeries);
  bool own = !node;
  if (own) {
    node = series_alloc(n, 1, 0);
    held.set(node);
  } else {
    SeriesBuffer* b = series_buffer(node);
    uint32_t unit = b->unit();
    check_text_unit(unit);
    if ((b->capacity - b->head) / unit < n) {
      uint64_t size = uint64_t(n) * unit;
      if (size > kMaxCapacity) raise_error(kErrInternalNoMemory);
      series_realloc(node, int64_t(size));
    }
  }
  if (remaining) *remaining = 0;
  if (length == 0) return node;
  SeriesBuffer* b = series_buffer(node);
  b->tail = b->head;
  const uint8_t* s = src.data();
  uint32_t pos = 0;
  if (length >= 3 && s[0] == 0xEF && s[1] == 0xBB && s[2] == 0xBF) pos = 3;
  uint32_t w = 0;
  for (;;) {
    b = series_buffer(node);
    s = src.data();
    uint32_t unit = b->unit();
    uint32_t pending = 0;
    uint8_t* out = b->head_ptr();
    Stop stop = with_text_unit(unit, [&](auto* tag) {
      return decode_run<std::remove_pointer_t<decltype(tag)>>(s, length, pos, out, w, cr, pending);
    });
    b->tail = b->head + w * unit;
    switch (stop) {
      case Stop::kEnd: return node;
      case Stop::kCutOff:
        if (remaining) *remaining = length - pos;
        return node;
      case Stop::kInvalid: raise_invalid_utf8(s + pos, length - pos);
      case Stop::kWiden: {
        uint32_t wide = unit_for_code_point(pending);
        if (own) {
          // A series of our own moves to a new one of the wider unit: only the
          // units written so far are copied, not the unused rest of the buffer.
          uint64_t units = uint64_t(w) + 1 + (length - pos);
          if (units * wide > kMaxCapacity) raise_error(kErrInternalNoMemory);
          Node fresh = series_alloc(uint32_t(units), wide, 0);
          SeriesBuffer* from = series_buffer(node);
          b = series_buffer(fresh);
          widen_copy(b->head_ptr(), wide, from->head_ptr(), from->unit(), w);
          b->tail = b->head + w * wide;
          node = fresh;
          held.set(fresh);
        } else {
          b = widen_series(node, wide, 1 + (length - pos));
        }
        unit_put(b->head_ptr() + w * wide, wide, pending);
        w++;
        b->tail += wide;
        break;
      }
    }
  }
}

Node load_utf8_into(ByteSource src, uint32_t length, Cell* str, uint32_t* remaining) {
  return load_utf8(src, length, str->node(), remaining, false);
}

Node load_utf8_new(ByteSource src, uint32_t length) { return load_utf8(src, length, 0, nullptr, false); }

// ---------------------------------------------------------------- UTF-16

namespace {

inline uint32_t utf16_unit_at(const uint8_t* s, uint32_t i) {
  return uint32_t(s[2 * i]) | uint32_t(s[2 * i + 1]) << 8;
}

}  // namespace

Node load_utf16le(ByteSource src, uint32_t count, Cell* str, bool cr) {
  if (src.none()) {
    if (str && string_conversion_node(str) && node_in_use(string_conversion_node(str))) {
      src = ByteSource::series(string_conversion_node(str), 0);
      SeriesBuffer* cb = series_buffer(string_conversion_node(str));
      uint32_t room = (cb->capacity - cb->head) / 2;
      if (count > room) count = room;
    } else {
      count = 0;
    }
  }
  // The narrowest unit: 4 when a surrogate is present, 2 when any high byte is set.
  uint32_t unit = 1;
  if (count) {
    const uint8_t* s = src.data();
    for (uint32_t i = 0; i < count; i++) {
      uint8_t high = s[2 * i + 1];
      if (high >= 0xD8 && high <= 0xDF) {
        unit = 4;
        break;
      }
      if (high) unit = 2;
    }
  }
  uint64_t size = uint64_t(count) * unit;
  if (size > kMaxCapacity) raise_error(kErrInternalNoMemory);
  Node node;
  if (str) {
    node = str->node();
    SeriesBuffer* b = series_buffer(node);
    if (b->capacity - b->head < size) series_realloc(node, int64_t(size));
    b = series_buffer(node);
    b->flags = (b->flags & ~kSeriesUnitMask) | unit;
    b->tail = b->head;
  } else {
    node = series_alloc(count ? count : 1, unit, 0);
  }
  SeriesBuffer* b = series_buffer(node);
  uint8_t* out = b->head_ptr();
  const uint8_t* s = count ? src.data() : nullptr;
  uint32_t w = 0;
  switch (unit) {
    case 1:
      for (uint32_t i = 0; i < count; i++) {
        uint8_t low = s[2 * i];
        if (cr && low == 0x0D) continue;
        out[w++] = low;
      }
      break;
    case 2:
      if (!cr) {
        std::memcpy(out, s, size_t(count) * 2);
        w = count;
      } else {
        for (uint32_t i = 0; i < count; i++) {
          uint32_t u = utf16_unit_at(s, i);
          if (u != 0x0D) store_unit<uint16_t>(out, w++, u);
        }
      }
      break;
    default:
      for (uint32_t i = 0; i < count; i++) {
        uint32_t u = utf16_unit_at(s, i);
        if (cr && u == 0x0D) continue;
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < count) {
          uint32_t low = utf16_unit_at(s, i + 1);
          if (low >= 0xDC00 && low <= 0xDFFF) {
            u = 0x10000 + ((u & 0x3FF) << 10 | (low & 0x3FF));
            i++;
          }
        }
        store_unit<uint32_t>(out, w++, u);
      }
      break;
  }
  b->tail = b->head + w * unit;
  return node;
}

int utf16_encode_char(uint32_t cp, uint16_t* dst) {
  if (cp < 0x10000) {
    dst[0] = uint16_t(cp);
    return 1;
  }
  if (cp > kMaxCodePoint) return 0;
  cp -= 0x10000;
  dst[0] = uint16_t(0xD800 | (cp >> 10));
  dst[1] = uint16_t(0xDC00 | (cp & 0x3FF));
  return 2;
}

uint16_t* to_utf16(Cell* str, int32_t* length, bool crlf) {
  TextRange r = text_range(str, *length);
  // Extra units: a CR for every LF, a second half for every pair.
  uint64_t extra = 0;
  {
    const uint8_t* src = series_buffer(str->node())->head_ptr() + r.offset;
    with_text_unit(r.unit, [&](auto* tag) {
      using U = std::remove_pointer_t<decltype(tag)>;
      for (uint32_t i = 0; i < r.count; i++) {
        uint32_t cp = load_unit<U>(src, i);
        extra += (cp == '\n') + (sizeof(U) == 4 && cp >= 0x10000);
      }
      return 0;
    });
  }
  SeriesBuffer* cb = conversion_buffer(str, 2 * uint64_t(r.count) + 2 + 2 * extra);
  const uint8_t* src = series_buffer(str->node())->head_ptr() + r.offset;
  uint8_t* out = cb->head_ptr();
  uint32_t w = 0;
  if (r.unit == 2 && !crlf) {
    std::memcpy(out, src, size_t(r.count) * 2);
    w = r.count;
  } else {
    bool ok = with_text_unit(r.unit, [&](auto* tag) {
      using U = std::remove_pointer_t<decltype(tag)>;
      for (uint32_t i = 0; i < r.count; i++) {
        uint32_t cp = load_unit<U>(src, i);
        if (cp < 0x10000) {
          if (crlf && cp == '\n') store_unit<uint16_t>(out, w++, '\r');
          store_unit<uint16_t>(out, w++, cp);
        } else if (cp <= kMaxCodePoint) {
          store_unit<uint16_t>(out, w++, 0xD800 | ((cp - 0x10000) >> 10));
          store_unit<uint16_t>(out, w++, 0xDC00 | ((cp - 0x10000) & 0x3FF));
        } else {
          return false;
        }
      }
      return true;
    });
    if (!ok) {
      *length = 0;
      return nullptr;
    }
  }
  store_unit<uint16_t>(out, w, 0);
  cb->tail = cb->head + w * 2;
  *length = int32_t(w);
  return reinterpret_cast<uint16_t*>(out);
}

uint16_t* to_utf16_cstr(Cell* str) {
  int32_t length = -1;
  return to_utf16(str, &length, true);
}

// ---------------------------------------------------------------- widening

namespace {

template <class From, class To>
void widen_units(uint8_t* base, uint32_t n) {
  for (uint32_t i = n; i-- > 0;) store_unit<To>(base, i, load_unit<From>(base, i));
}

}  // namespace

SeriesBuffer* widen_series(Node node, uint32_t unit, uint32_t extra_units) {
  check_text_unit(unit);
  SeriesBuffer* b = series_buffer(node);
  uint32_t old = b->unit();
  check_text_unit(old);
  if (unit <= old) return b;
  uint32_t n = (b->tail - b->head) / old;
  uint64_t size = (uint64_t(n) + extra_units) * unit;
  if (size > kMaxCapacity) raise_error(kErrInternalNoMemory);
  if (uint64_t(b->head) + size > b->capacity) b = series_expand(node, int64_t(size));
  uint8_t* base = b->head_ptr();
  if (old == 1 && unit == 2)
    widen_units<uint8_t, uint16_t>(base, n);
  else if (old == 1)
    widen_units<uint8_t, uint32_t>(base, n);
  else
    widen_units<uint16_t, uint32_t>(base, n);
  b->tail = b->head + n * unit;
  b->flags = (b->flags & ~kSeriesUnitMask) | unit;
  return b;
}

SeriesBuffer* widen_latin1_to_ucs2(Node node) { return widen_series(node, 2); }
SeriesBuffer* widen_latin1_to_ucs4(Node node) { return widen_series(node, 4); }
SeriesBuffer* widen_ucs2_to_ucs4(Node node) { return widen_series(node, 4); }

}  // namespace kiv
