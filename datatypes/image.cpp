// image!: the image table that owns the pixel buffers, the C++ interface over
// it, the channels, the collector hooks and the actions.
//
// The image table: one slot per live pixel buffer (address, size, resource
// instance, generation), free slots chained. A slot's generation changes
// when its buffer is released, so a record of an older generation reads as
// an image without pixels. A pointer to a slot is short-lived: making an
// image may grow the table.
//
// Offsets into a buffer are 0-based pixel offsets from its first pixel; a
// value's head is read through image_head (clamped to 0 .. width * height).
// Every writer checks its arguments first (raising before anything changes),
// tells the owner "before" (which may run Kiv code), re-reads the pixels,
// writes them, then tells the owner "after".
#include "datatypes/image.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "datatypes/actions.h"
#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/datatype.h"
#include "datatypes/form.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/pair.h"
#include "datatypes/registry.h"
#include "datatypes/runtime_words.h"
#include "datatypes/string.h"
#include "datatypes/tuple.h"
#include "datatypes/word.h"
#include "runtime/array.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/hooks.h"
#include "runtime/image_geometry.h"
#include "runtime/memory.h"
#include "runtime/murmur3.h"
#include "runtime/ownership.h"
#include "runtime/resources.h"
#include "runtime/stack.h"

namespace kiv {

namespace {

// ---------------------------------------------------------------- the image table

struct ImageSlot {
  uint32_t* pixels;  // null while the slot is free
  int32_t width;
  int32_t height;
  uint32_t resource;    // its instance in the external-resource registry
  uint32_t generation;  // changes when the buffer is released
  int32_t next_free;    // next free slot, -1 ends the chain
};

HeapArray<ImageSlot, 64> g_slots;
int32_t g_free_slot = -1;
uint32_t g_image_class = 0;
uint32_t g_live_count = 0;
size_t g_live_bytes = 0;
// Bytes of the buffers made since collection number g_bytes_epoch, and the
// live bytes the first image made after it found.
size_t g_bytes_since = 0;
size_t g_bytes_kept = 0;
uint32_t g_bytes_epoch = 0;
// Buffers made since the last collection may reach the bytes it kept, and
// at least this much, before making one more collects first.
constexpr size_t kImagePressureMin = size_t(64) << 20;

// Words of a record series.
enum : uint32_t { kRecordSlot = 0, kRecordGeneration = 1, kRecordWords = 2 };

size_t buffer_bytes(int32_t width, int32_t height) { return size_t(width) * size_t(height) * 4; }

// The release callback of the resource class "image": frees the buffer of
// slot [slot]. Never allocates (the collector calls it).
void image_release(Node slot) {
  if (slot >= g_slots.count) return;
  ImageSlot& s = g_slots[slot];
  if (!s.pixels) return;
  g_live_bytes -= buffer_bytes(s.width, s.height);
  g_live_count--;
  heap_free(s.pixels);
  s.pixels = nullptr;
  s.generation++;
  s.next_free = g_free_slot;
  g_free_slot = int32_t(slot);
}

// The words of the record [node] (unit 4, at least kRecordWords of them), or
// null when [node] holds no record.
const uint32_t* record_words(Node node) {
  if (!node || !node_in_use(node)) return nullptr;
  SeriesBuffer* b = series_buffer(node);
  if (b->unit() != 4 || b->length() < kRecordWords) return nullptr;
  return reinterpret_cast<const uint32_t*>(b->head_ptr());
}

// The slot whose buffer [image] holds, or null when it holds none (no record,
// a released buffer, a size that is not the buffer's). Short-lived.
ImageSlot* live_slot(const Cell* image) {
  const uint32_t* r = record_words(image->node());
  if (!r || r[kRecordSlot] >= g_slots.count) return nullptr;
  ImageSlot& s = g_slots[r[kRecordSlot]];
  if (!s.pixels || s.generation != r[kRecordGeneration] || s.width != image_width(image) ||
      s.height != image_height(image))
    return nullptr;
  return &s;
}

// The pixels of [image] from offset 0, or null. Short-lived.
uint32_t* pixels_of(const Cell* image) {
  ImageSlot* s = live_slot(image);
  return s ? s->pixels : nullptr;
}

// MAY COLLECT. Before a buffer of [bytes] is made: collects when the
// buffers made since the last collection pass what it kept (and the floor).
void relieve_pressure(size_t bytes) {
  if (gc_collection_count() != g_bytes_epoch) {
    // Every buffer passes here, so none was made since that collection.
    g_bytes_epoch = gc_collection_count();
    g_bytes_kept = g_live_bytes;
    g_bytes_since = 0;
  }
  g_bytes_since += bytes;
  if (g_bytes_since <= std::max(kImagePressureMin, g_bytes_kept)) return;
  collect_if_enabled();
  if (gc_collection_count() == g_bytes_epoch) return;  // the collector is off
  g_bytes_epoch = gc_collection_count();
  g_bytes_kept = g_live_bytes;
  g_bytes_since = bytes;
}

// A free slot of the table (growing it when none is free).
uint32_t take_slot() {
  if (g_free_slot < 0) {
    const size_t old = g_slots.count;
    g_slots.resize(old == 0 ? 64 : 2 * old);
    for (size_t i = old; i < g_slots.count; i++)
      g_slots[i] = ImageSlot{nullptr, 0, 0, 0, 0, i + 1 < g_slots.count ? int32_t(i + 1) : -1};
    g_free_slot = int32_t(old);
  }
  const uint32_t slot = uint32_t(g_free_slot);
  g_free_slot = g_slots[slot].next_free;
  return slot;
}

[[noreturn]] void raise_size(int32_t width, int32_t height) {
  Cell size = pair_cell(width, height);
  raise_error(kErrScriptInvalidArg, &size);
}

// ---------------------------------------------------------------- collector hooks

// The record, and through it the buffer's resource instance, once per collection.
void image_mark(const Cell* v) {
  Node node = v->node();
  if (!gc_mark_series(node)) return;
  const uint32_t* r = record_words(node);
  if (!r || r[kRecordSlot] >= g_slots.count) return;
  const ImageSlot& s = g_slots[r[kRecordSlot]];
  if (s.pixels && s.generation == r[kRecordGeneration]) gc_mark_resource(s.resource);
}

uint32_t image_hash(const Cell* v) { return hash_murmur3(&v->data1, 8); }

// A head outside the pixels is no fault: heads are read clamped (a loop's
// copy may step past the tail).
void image_verify(const Cell* v) {
  Node node = v->node();
  if (!node || !node_in_use(node)) return;
  const uint32_t* r = record_words(node);
  if (!r) {
    gc_verify_fault("image node holds no image record", node, 0);
    return;
  }
  if (r[kRecordSlot] >= g_slots.count) {
    gc_verify_fault("image record names no slot", node, r[kRecordSlot]);
    return;
  }
  const ImageSlot& s = g_slots[r[kRecordSlot]];
  if (s.pixels && s.generation == r[kRecordGeneration] &&
      (s.width != image_width(v) || s.height != image_height(v)))
    gc_verify_fault("image size differs from its pixels", node, v->data3);
}

constexpr TypeHooks kImageHooks{.mark = image_mark, .hash = image_hash, .verify = image_verify};

}  // namespace

// ---------------------------------------------------------------- pixels and the C++ interface

Cell image_pixel_to_tuple(uint32_t pixel) {
  uint32_t r = (pixel >> 16) & 0xFF, g = (pixel >> 8) & 0xFF, b = pixel & 0xFF, t = 255 - (pixel >> 24);
  return tuple_cell(4, r | g << 8 | b << 16 | t << 24);
}

uint32_t image_tuple_to_pixel(const Cell* tuple) {
  const uint8_t* b = tuple_bytes(tuple);
  uint32_t alpha = tuple_length(tuple) > 3 ? 255u - b[3] : 255u;
  return alpha << 24 | uint32_t(b[0]) << 16 | uint32_t(b[1]) << 8 | b[2];
}

Cell* image_make_at(Cell* out, int32_t width, int32_t height, const uint32_t* pixels) {
  width = std::max(width, 0);
  height = std::max(height, 0);
  if (!image_size_ok_q(width, height)) raise_size(width, height);
  if (width == 0 || height == 0) {
    *out = image_cell(0, width, height);
    return out;
  }
  const size_t bytes = buffer_bytes(width, height);
  relieve_pressure(bytes);
  Node node = series_alloc_units(kRecordWords, 4);
  // Nothing below collects until the cell is in [out]: the record is not yet rooted.
  auto* buffer = static_cast<uint32_t*>(heap_try_alloc(bytes));
  if (!buffer) raise_error(kErrInternalNoMemory);
  if (pixels)
    std::memcpy(buffer, pixels, bytes);
  else
    std::memset(buffer, 0, bytes);
  uint32_t slot = take_slot();
  ImageSlot& s = g_slots[slot];
  s.pixels = buffer;
  s.width = width;
  s.height = height;
  s.resource = register_resource(slot, g_image_class);
  s.next_free = -1;
  g_live_count++;
  g_live_bytes += bytes;
  SeriesBuffer* b = series_buffer(node);
  const uint32_t words[kRecordWords] = {slot, s.generation};
  std::memcpy(b->head_ptr(), words, sizeof words);
  b->tail = b->head + sizeof words;
  *out = image_cell(node, width, height);
  return out;
}

Cell* image_push(int32_t width, int32_t height, const uint32_t* pixels) {
  return image_make_at(stack_push(), width, height, pixels);
}

ImageView image_view(const Cell* image) {
  ImageView view;
  view.width = image_width(image);
  view.height = image_height(image);
  view.pixels = pixels_of(image);
  return view;
}

Cell* image_push_scaled(const Cell* image, int32_t width, int32_t height) {
  Cell* source = stack_push_cell(image);
  Cell* out = image_push(width, height, nullptr);
  ImageView from = image_view(source), to = image_view(out);
  if (from.pixels && to.pixels)
    image_scale_nearest(from.pixels, from.width, from.height, to.pixels, to.width, to.height);
  *source = *out;
  g_stack.top = source + 1;
  return source;
}

uint32_t image_live_count() { return g_live_count; }
size_t image_live_bytes() { return g_live_bytes; }

// ---------------------------------------------------------------- channels

Cell* image_get_channel(const Cell* image, ImageChannel channel, Cell* out) {
  StackSave save;
  Cell* held = stack_push_cell(image);
  const uint32_t per_pixel = channel == ImageChannel::kArgb ? 4 : channel == ImageChannel::kRgb ? 3 : 1;
  const uint32_t n = uint32_t(image_pixel_count(held));
  // The image's bytes are at most 4 x (2^29 - 1), within a series.
  binary_make_at(out, n * per_pixel);
  const uint32_t* pixels = pixels_of(held);
  if (!pixels) return out;
  SeriesBuffer* b = series_buffer(out->node());
  uint8_t* p = b->head_ptr();
  switch (channel) {
    case ImageChannel::kArgb: std::memcpy(p, pixels, size_t(n) * 4); break;
    case ImageChannel::kRgb:
      for (uint32_t i = 0; i < n; i++) {
        *p++ = uint8_t(pixels[i] >> 16);
        *p++ = uint8_t(pixels[i] >> 8);
        *p++ = uint8_t(pixels[i]);
      }
      break;
    case ImageChannel::kAlpha:
      for (uint32_t i = 0; i < n; i++) *p++ = uint8_t(255 - (pixels[i] >> 24));
      break;
  }
  b->tail = b->head + n * per_pixel;
  return out;
}

void image_set_channel(const Cell* image, const Cell* source, ImageChannel channel) {
  const bool bytes = source->is(kTypeBinary);
  if (!bytes && !source->is(kTypeTuple) && !source->is(kTypeInteger))
    raise_error(kErrScriptInvalidArg, source);
  const int32_t n = image_pixel_count(image);
  if (n == 0) return;
  StackSave save;
  Cell* held = stack_push_cell(image);
  Cell* from = stack_push_cell(source);
  uint32_t* pixels = pixels_of(held);
  if (!pixels) return;
  if (bytes) {
    const int64_t length = std::max(binary_length(from), 0);
    const uint8_t* p = binary_head_ptr(from);
    switch (channel) {
      case ImageChannel::kArgb:
        std::memcpy(pixels, p, size_t(std::min<int64_t>(int64_t(n) * 4, length)));
        break;
      case ImageChannel::kRgb:
        for (int64_t i = 0, m = std::min<int64_t>(n, length / 3); i < m; i++, p += 3)
          pixels[i] = (pixels[i] & 0xFF000000u) | uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
        break;
      case ImageChannel::kAlpha:
        for (int64_t i = 0, m = std::min<int64_t>(n, length); i < m; i++)
          pixels[i] = (pixels[i] & 0x00FFFFFFu) | uint32_t(255 - p[i]) << 24;
        break;
    }
  } else {
    // The colour word: a tuple's first four bytes in order, or the integer.
    uint32_t colour = 0;
    if (from->is(kTypeTuple))
      std::memcpy(&colour, tuple_bytes(from), 4);
    else
      colour = uint32_t(integer_get(from));
    const uint32_t r = colour & 0xFF, g = (colour >> 8) & 0xFF, b = (colour >> 16) & 0xFF;
    for (int32_t i = 0; i < n; i++) {
      switch (channel) {
        case ImageChannel::kArgb: pixels[i] = (255 - (colour >> 24)) << 24 | r << 16 | g << 8 | b; break;
        case ImageChannel::kRgb: pixels[i] = (pixels[i] & 0xFF000000u) | r << 16 | g << 8 | b; break;
        case ImageChannel::kAlpha:
          pixels[i] = (pixels[i] & 0x00FFFFFFu) | ((255 - colour) & 0xFF) << 24;
          break;
      }
    }
  }
  notify_owner(held, kOwnerSetPath, 0, n, from);
}

namespace {

// ---------------------------------------------------------------- positions

// The 0-based offset an index names (image-index): an integer or a pair
// (column by row) counted from the head, 1-based for [base] 1 (pick, poke,
// at) and 0-based for [base] 0 (skip). With base 1, index 1 is the head, -1
// the pixel before it and 0 the head itself but out of range. *[out_of_range]
// is set for index 0, a pair outside the size, or an offset outside the
// pixels; the offset returned is clamped to 0 .. width * height. [position]
// is the index as an integer when it is no pair.
int32_t image_index(const Cell* image, const Cell* index, int32_t position, int base, bool* out_of_range) {
  const int64_t w = image_width(image), h = image_height(image), total = w * h;
  int64_t n = position;
  bool out = false;
  if (index->is(kTypePair)) {
    const int64_t x = pair_x(index), y = pair_y(index);
    out = base == 1 ? x > w || x <= 0 || y > h || y <= 0 : x >= w || x < 0 || y >= h || y < 0;
    n = base == 1 && y > 0 ? x + w * (y - 1) : x + w * y;
  }
  const int64_t offset = image_head(image) + n - base + (base == 1 && n <= 0 ? 1 : 0);
  out = out || n == 0 || offset < 0 || offset >= total;
  if (out_of_range) *out_of_range = out;
  return int32_t(std::clamp<int64_t>(offset, 0, total));
}

// The index of a pick or poke: a pair as it is, anything else by its position.
int32_t pick_index(const Cell* image, const Cell* index, int32_t position, bool* out_of_range) {
  return image_index(image, index, index->is(kTypePair) ? 0 : position, 1, out_of_range);
}

// ---------------------------------------------------------------- make and to

// MAY ALLOCATE. A copy of the rectangle at ([x], [y]) of [width] x [height]
// of [image] into *[out]; an empty image when a side is below 1 or the
// rectangle does not start inside the image.
Cell* copy_rect_to(const Cell* image, int32_t x, int32_t y, int32_t width, int32_t height, Cell* out) {
  const int32_t w = image_width(image), h = image_height(image);
  if (width < 1 || height < 1 || x < 0 || y < 0 || x >= w || y >= h) {
    *out = image_cell(0, 0, 0);
    return out;
  }
  width = std::min(width, w - x);
  height = std::min(height, h - y);
  StackSave save;
  Cell* source = stack_push_cell(image);
  Cell* copy = image_push(width, height, nullptr);
  ImageView from = image_view(source), to = image_view(copy);
  if (from.pixels && to.pixels) image_copy_rect(from.pixels, w, h, x, y, width, height, to.pixels);
  Cell result = *copy;
  save.restore();
  *out = result;
  return out;
}

// MAY ALLOCATE. A copy of the whole of [image], head 0, into *[out].
Cell* copy_whole_to(const Cell* image, Cell* out) {
  return copy_rect_to(image, 0, 0, image_width(image), image_height(image), out);
}

Cell* image_to(Cell* proto, const MakeArgs& args) {
  if (args.spec->is(kTypeImage)) return copy_whole_to(args.spec, stack_push());
  if (args.spec->is(kTypeObject) && g_hooks.face_to_image) {
    // A face: the back end's image of it, none when it renders none.
    Cell* out = stack_push_value(kNoneCell);
    int made = g_hooks.face_to_image(args.spec, out);
    if (made > 0) return out;
    if (made == 0) {
      *out = kNoneCell;
      return out;
    }
  }
  Cell datatype = datatype_cell(kTypeImage);
  raise_error(kErrScriptBadToArg, &datatype, args.spec);
}

// MAY ALLOCATE. make image! [size rgb alpha] or [size colour alpha]: white
// opaque pixels, R, G, B from [rgb] (three bytes a pixel, while they last)
// or all from [colour], then alpha = 255 - byte from [alpha] while it lasts.
Cell* make_filled(const Cell* size, const Cell* rgb, const Cell* colour, const Cell* alpha) {
  Cell* image = image_push(pair_x(size), pair_y(size), nullptr);
  uint32_t* pixels = pixels_of(image);
  if (!pixels) return image;
  const int64_t n = image_pixel_count(image);
  uint32_t fill = 0xFFFFFFFFu;
  if (colour) fill = image_tuple_to_pixel(colour);
  for (int64_t i = 0; i < n; i++) pixels[i] = fill;
  if (rgb) {
    Cell held = *rgb;
    const uint8_t* p = binary_head_ptr(&held);
    for (int64_t i = 0, m = std::min<int64_t>(n, std::max(binary_length(&held), 0) / 3); i < m; i++, p += 3)
      pixels[i] = 0xFF000000u | uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
  }
  if (alpha) {
    Cell held = *alpha;
    const uint8_t* p = binary_head_ptr(&held);
    for (int64_t i = 0, m = std::min<int64_t>(n, std::max(binary_length(&held), 0)); i < m; i++)
      pixels[i] = (pixels[i] & 0x00FFFFFFu) | uint32_t(255 - p[i]) << 24;
  }
  return image;
}

Cell* image_make(Cell* proto, const MakeArgs& args) {
  Cell* spec = args.spec;
  if (spec->is(kTypePair)) return make_filled(spec, nullptr, nullptr, nullptr);
  if (!spec->is(kTypeBlock)) return image_to(proto, args);
  const int32_t count = block_ks_length_q(spec);
  if (count == 0) {
    if (proto->is(kTypeImage)) return copy_whole_to(proto, stack_push());
    raise_error(kErrScriptInvalidArg, spec);
  }
  // The spec's values, held on the stack while the image is made.
  Cell* items = stack_push();
  for (int32_t i = 1; i < std::min(count, 4); i++) stack_push();
  for (int32_t i = 0; i < std::min(count, 4); i++) items[i] = block_ks_head(spec)[i];
  if (!items[0].is(kTypePair)) raise_error(kErrScriptInvalidArg, &items[0]);
  const Cell* rgb = nullptr;
  const Cell* colour = nullptr;
  const Cell* alpha = nullptr;
  if (count > 1) {
    if (items[1].is(kTypeBinary))
      rgb = &items[1];
    else if (items[1].is(kTypeTuple))
      colour = &items[1];
    else
      raise_error(kErrScriptInvalidArg, &items[1]);
  }
  if (count > 2) {
    if (!items[2].is(kTypeBinary)) raise_error(kErrScriptInvalidArg, &items[2]);
    alpha = &items[2];
  }
  if (count > 3) raise_error(kErrScriptInvalidArg, &items[3]);
  return make_filled(&items[0], rgb, colour, alpha);
}

// ---------------------------------------------------------------- form and mold

// The text of an image (image-mold-core), built in [text] and appended to
// the string [out] a line at a time, counting the code points appended
// against [budget]; under /part ([part]) it stops once the budget is spent.
class MoldWriter {
 public:
  MoldWriter(Cell* out, int32_t budget, bool part) : out_(out), budget_(budget), part_(part) {}
  void put(std::string_view s) { text_.append(s); }
  void hex(uint32_t byte) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    text_.push_back(kDigits[(byte >> 4) & 0xF]);
    text_.push_back(kDigits[byte & 0xF]);
  }
  // A line break and [level] levels of indentation (none below 1).
  void line(int32_t level) {
    text_.push_back('\n');
    for (int32_t i = 0; i < level; i++) text_.append("    ");
    flush();
  }
  // True when /part's limit is spent: the caller stops writing.
  bool spent() {
    if (!part_ || budget_ - int64_t(text_.size()) > 0) return false;
    flush();
    return true;
  }
  int32_t finish() {
    flush();
    return budget_;
  }

 private:
  void flush() {
    if (text_.empty()) return;
    budget_ -= string_append_c_string(out_, text_);
    text_.clear();
  }
  Cell* out_;
  int32_t budget_;
  bool part_;
  std::string text_;
};

// [level] is the indentation of the pixel lines; the closing brace of a
// broken section goes one level less.
int32_t mold_core(Cell* value, Cell* out, bool only, bool flat, bool part, int32_t limit, int32_t level) {
  const Cell image = *value;
  MoldWriter w(out, limit, part);
  if (!only) w.put("make image! [");
  w.put(integer_to_text(image_width(&image)));
  w.put("x");
  w.put(integer_to_text(image_height(&image)));
  // The writer's appends to [out] may collect, but [value] holds the image
  // and its pixels never move.
  const uint32_t* pixels = pixels_of(&image);
  if (!pixels) {
    w.put(" #{}");
    if (!only) w.put("]");
    return w.finish();
  }
  const int32_t head = image_head(&image), n = image_pixel_count(&image) - head;
  const bool lines = !flat && int64_t(n) * 4 > 30;
  w.put(" #{");
  if (lines) w.line(level);
  bool transparent = false;
  for (int32_t i = 0; i < n; i++) {
    const uint32_t p = pixels[head + i];
    w.hex(p >> 16);
    w.hex(p >> 8);
    w.hex(p);
    transparent |= (p >> 24) != 255;
    if (!flat && (i + 1) % 10 == 0) w.line(level);
    if (w.spent()) return w.finish();
  }
  if (lines && n % 10 != 0) w.line(level - 1);
  w.put("}");
  if (transparent) {
    w.put(" #{");
    if (!flat) w.line(level);
    for (int32_t i = 0; i < n; i++) {
      w.hex(255 - (pixels[head + i] >> 24));
      if (!flat && (i + 1) % 10 == 0) w.line(level);
      if (w.spent()) return w.finish();
    }
    if (!flat) w.line(level - 1);
    w.put("}");
  }
  if (!only) w.put("]");
  return w.finish();
}

int32_t image_form(Cell* value, const FormArgs& args) {
  return mold_core(value, args.buffer, false, false, args.part != nullptr, args.limit, 0);
}

int32_t image_mold(Cell* value, const MoldArgs& args) {
  return mold_core(value, args.buffer, args.only, args.flat, args.part != nullptr, args.limit,
                   args.indent + 1);
}

// ---------------------------------------------------------------- pick, poke and paths

Cell* image_pick(Cell* value, const PickArgs& args) {
  bool out_of_range = false;
  int32_t offset = pick_index(value, args.index, args.position, &out_of_range);
  const uint32_t* pixels = pixels_of(value);
  *value = out_of_range || !pixels ? kNoneCell : image_pixel_to_tuple(pixels[offset]);
  return value;
}

Cell* image_poke(Cell* value, const PokeArgs& args) {
  bool out_of_range = false;
  int32_t offset = pick_index(value, args.index, args.position, &out_of_range);
  if (out_of_range || !pixels_of(value)) raise_error(kErrScriptOutOfRange, args.index);
  if (!args.value->is(kTypeTuple)) raise_error(kErrScriptInvalidArg, args.value);
  SeriesChange change(value, kOwnerPoke, offset, 1, args.value);
  if (uint32_t* pixels = pixels_of(value)) pixels[offset] = image_tuple_to_pixel(args.value);
  change.done(offset, 1, args.value);
  return args.value;
}

// The channel a path word names, or -1 for another word.
int channel_of(const Cell* element) {
  if (!is_any_word(element->type())) return -1;
  const int32_t symbol = word_symbol(element);
  if (runtime_symbol_q(symbol, kSymArgb)) return int(ImageChannel::kArgb);
  if (runtime_symbol_q(symbol, kSymRgb)) return int(ImageChannel::kRgb);
  if (runtime_symbol_q(symbol, kSymAlpha)) return int(ImageChannel::kAlpha);
  return -1;
}

Cell* image_eval_path(Cell* parent, const EvalPathArgs& args) {
  const Cell* where = args.path ? args.path : parent;
  Cell* element = args.element;
  if (element->is(kTypeInteger) || element->is(kTypePair)) {
    Cell* image = stack_push_cell(parent);
    const int32_t position = element->is(kTypeInteger) ? integer_get(element) : 0;
    if (!args.value) {
      PickArgs pick;
      pick.index = element;
      pick.position = position;
      return image_pick(image, pick);
    }
    PokeArgs poke;
    poke.index = element;
    poke.value = args.value;
    poke.position = position;
    return image_poke(image, poke);
  }
  if (is_any_word(element->type()) && runtime_symbol_q(word_symbol(element), kSymSize)) {
    if (args.value) raise_error(kErrScriptInvalidPath, where, element);
    return stack_push_value(pair_cell(image_width(parent), image_height(parent)));
  }
  const int channel = channel_of(element);
  if (channel < 0) raise_error(kErrScriptInvalidPath, where, element);
  if (!args.value) return image_get_channel(parent, ImageChannel(channel), stack_push());
  image_set_channel(parent, args.value, ImageChannel(channel));
  return args.value;
}

// ---------------------------------------------------------------- navigation

Cell* image_at(Cell* value, const AtArgs& args) {
  const int32_t position = args.index->is(kTypeInteger) ? integer_get(args.index) : 0;
  value->set_head(image_index(value, args.index, position, 1, nullptr));
  return value;
}

Cell* image_skip(Cell* value, const SkipArgs& args) {
  const int32_t position = args.offset->is(kTypeInteger) ? integer_get(args.offset) : 0;
  value->set_head(image_index(value, args.offset, position, 0, nullptr));
  return value;
}

Cell* image_next(Cell* value, const NoneArgs&) {
  if (int64_t(value->head()) + 1 <= image_pixel_count(value)) value->set_head(value->head() + 1);
  return value;
}

Cell* image_tail(Cell* value, const NoneArgs&) {
  value->set_head(image_pixel_count(value));
  return value;
}

Cell* image_tail_q(Cell* value, const NoneArgs&) {
  *value = logic_cell(int64_t(value->head()) + 1 > image_pixel_count(value));
  return value;
}

int32_t image_length_q(Cell* value, const NoneArgs&) { return image_pixel_count(value); }

// ---------------------------------------------------------------- compare

// Equality and the sort orders compare the pixel counts, then the whole
// buffers byte by byte (not the sizes, nor the heads); same asks for the
// same record and head. There is no other order.
int image_compare(Cell* value, const CompareArgs& args) {
  const Cell* other = args.value2;
  if (!other->is(kTypeImage)) return kNotComparable;
  const bool same = value->node() == other->node() && value->head() == other->head();
  switch (args.op) {
    case kCmpSame: return same ? 0 : -1;
    case kCmpEqual:
    case kCmpNotEqual:
    case kCmpStrictEqual:
      if (same) return 0;
      [[fallthrough]];
    case kCmpSort:
    case kCmpCaseSort:
    case kCmpFindEqual: {
      const int32_t a = image_pixel_count(value), b = image_pixel_count(other);
      if (a != b) return a < b ? -1 : 1;
      const uint32_t* pa = pixels_of(value);
      const uint32_t* pb = pixels_of(other);
      if (a == 0 || !pa || !pb) return 0;
      const int r = std::memcmp(pa, pb, size_t(a) * 4);
      return r < 0 ? -1 : r > 0 ? 1 : 0;
    }
    default: return kNotComparable;
  }
}

// ---------------------------------------------------------------- copy

Cell* image_copy(Cell* value, const CopyArgs& args) {
  const int32_t w = image_width(value), h = image_height(value);
  if (w == 0 || h < 1) {
    *args.result = image_cell(0, 0, 0);
    return args.result;
  }
  const int32_t head = image_head(value), column = head % w, row = head / w;
  if (!args.part) {
    if (head == 0) return copy_whole_to(value, args.result);
    return copy_rect_to(value, column, row, w - column, h - row, args.result);
  }
  const Cell* part = args.part.arg;
  if (part->is(kTypeInteger)) raise_error(kErrInternalNotDone);
  if (part->is(kTypeImage)) {
    // The rows between the two heads, from the first head's column to the right edge.
    if (part->node() != value->node()) raise_refine_arg("part", part);
    const int32_t other = std::clamp<int32_t>(part->head(), 0, w * h);
    const int32_t first = std::min(head, other), last = std::max(head, other);
    return copy_rect_to(value, first % w, first / w, w - first % w, last / w - first / w, args.result);
  }
  if (!part->is(kTypePair)) raise_refine_arg("part", part);
  const int64_t pw = pair_x(part), ph = pair_y(part);
  if (pw >= 1 && ph >= 1 && head < w * h)
    return copy_rect_to(value, column, row, int32_t(std::min<int64_t>(pw, w - column)),
                        int32_t(std::min<int64_t>(ph, h - row)), args.result);
  if (pw < 0 && ph < 0 && head > 0) {
    // The rectangle that ends just before the head: at a row's first column
    // that is the end of the row above.
    const int64_t end_column = column == 0 ? w : column, end_row = column == 0 ? row - 1 : row;
    const int64_t x = std::max<int64_t>(end_column + pw, 0), y = std::max<int64_t>(end_row + 1 + ph, 0);
    return copy_rect_to(value, int32_t(x), int32_t(y), int32_t(end_column - x), int32_t(end_row + 1 - y),
                        args.result);
  }
  *args.result = image_cell(0, 0, 0);
  return args.result;
}

// ---------------------------------------------------------------- change

Cell* image_change(Cell* value, const ChangeArgs& args) {
  if (args.part || args.dup) raise_error(kErrInternalNotDone);
  const Cell* source = args.value;
  if (!source->is(kTypeTuple) && !source->is(kTypeImage)) {
    Cell datatype = datatype_cell(source->type());
    raise_error(kErrScriptInvalidType, &datatype);
  }
  const int32_t w = image_width(value), total = image_pixel_count(value), head = image_head(value);
  if (head >= total || !pixels_of(value)) return value;
  if (source->is(kTypeTuple)) {
    SeriesChange change(value, kOwnerChange, head, 1, source);
    if (uint32_t* pixels = pixels_of(value)) pixels[head] = image_tuple_to_pixel(source);
    change.done(head, 1, source);
    value->set_head(head + 1);
    return value;
  }
  // The source, whole, as a rectangle with its top-left corner at the head,
  // cut at the right and bottom edges.
  const int32_t column = head % w, row = head / w;
  const int32_t sw = image_width(source), sh = image_height(source);
  const int32_t width = std::min(sw, w - column), rows = std::min(sh, image_height(value) - row);
  SeriesChange change(value, kOwnerChange, head, std::max(width, 0) * std::max(rows, 0), source);
  int32_t written = 0;
  uint32_t* to = pixels_of(value);
  const uint32_t* from = pixels_of(source);
  if (to && from && width > 0 && rows > 0) {
    // A source sharing the buffer is read from a copy taken first.
    std::vector<uint32_t> own;
    if (from == to) {
      own.assign(from, from + int64_t(sw) * sh);
      from = own.data();
    }
    for (int32_t j = 0; j < rows; j++)
      std::memcpy(to + int64_t(row + j) * w + column, from + int64_t(j) * sw, size_t(width) * 4);
    written = width * rows;
  }
  change.done(head, written, source);
  if (written > 0) value->set_head((row + rows - 1) * w + std::min(column + sw, w));
  return value;
}

}  // namespace

// ---------------------------------------------------------------- registration

void image_datatype_init() {
  ActionSlots s;
  s.make = image_make;
  s.to = image_to;
  s.form = image_form;
  s.mold = image_mold;
  s.eval_path = image_eval_path;
  s.compare = image_compare;
  s.at = image_at;
  s.back = kInherit;
  s.change = image_change;
  s.copy = image_copy;
  s.head = kInherit;
  s.head_q = kInherit;
  s.index_q = kInherit;
  s.length_q = image_length_q;
  s.next = image_next;
  s.pick = image_pick;
  s.poke = image_poke;
  s.skip = image_skip;
  s.tail = image_tail;
  s.tail_q = image_tail_q;
  s.modify = kInherit;
  register_datatype({kTypeImage, kTypeSeries, "image!", kActionCount, s, &kImageHooks});
  g_image_class = register_resource_class("image", image_release);
}

}  // namespace kiv
