// The KIVBIN encoder (services/kivbin.h): one walk over a value, writing the
// compact or the plain records.
//
// The walk allocates no series and runs no Kiv code, so the buffers it reads
// stay where they are while it runs; its output, the symbol table and the
// reference table are C++ containers of the one encode, gone when it ends
// (by an error too), and only the finished stream becomes a binary!.
//
// Reference table: each series node (series), context node (words, objects,
// errors and functions) met for the first time is stored with its path (a
// step of a tree, below), the indexes leading to it from the target block the
// decoder appends to; a
// second meeting writes that path instead of the content. A value's index is
// its place within its parent: a cell of a series from the buffer's head, a
// value slot of an object's context, an error's argument (0 = arg1), a
// function's spec (0) or body (1), a native's spec cell.
#include <cmath>
#include <cstring>
#include <string_view>
#include <vector>

#include "datatypes/binary.h"
#include "datatypes/bitset.h"
#include "datatypes/block.h"
#include "datatypes/char.h"
#include "datatypes/context.h"
#include "datatypes/datatype.h"
#include "datatypes/date.h"
#include "datatypes/error.h"
#include "datatypes/float.h"
#include "datatypes/function.h"
#include "datatypes/image.h"
#include "datatypes/integer.h"
#include "datatypes/logic.h"
#include "datatypes/map.h"
#include "datatypes/money.h"
#include "datatypes/native.h"
#include "datatypes/object.h"
#include "datatypes/pair.h"
#include "datatypes/point.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/symbol.h"
#include "datatypes/tuple.h"
#include "datatypes/typeset.h"
#include "datatypes/vector.h"
#include "datatypes/word.h"
#include "platform/thread.h"
#include "runtime/errors.h"
#include "runtime/stack.h"
#include "services/kivbin.h"
#include "services/kivbin_format.h"

namespace kiv {

using namespace kivbin;

namespace {

using Path = std::vector<uint32_t>;

// Raises access no-codec with the datatype of [t].
[[noreturn]] void raise_no_codec(TypeId t) {
  Cell datatype = datatype_cell(t);
  raise_error(kErrAccessNoCodec, &datatype);
}

// The short form of a float!, time! (scale 1) or percent! (scale 100) value:
// true with [*n] when the scaled value is a whole number that fits.
bool short_float(double d, TypeId t, int32_t* n) {
  if (d == 0 && std::signbit(d)) return false;
  if (t == kTypePercent) {
    if (!(std::fabs(d) <= 21474836.0)) return false;
    double scaled = std::round(d * 100);
    if (scaled / 100 != d) return false;
    *n = int32_t(scaled);
    return true;
  }
  if (!(std::fabs(d) <= 2147483000.0) || std::trunc(d) != d) return false;
  *n = int32_t(d);
  return true;
}

// A map from 32-bit keys to 32-bit values by open addressing: no allocation
// per entry (the encoder records every series and symbol it writes).
class FlatMap {
 public:
  const uint32_t* find(uint32_t key) const {
    if (slots_.empty()) return nullptr;
    for (size_t i = slot_of(key);; i = (i + 1) & mask_) {
      if (!slots_[i].used) return nullptr;
      if (slots_[i].key == key) return &slots_[i].value;
    }
  }
  // The value of [key], [value] stored for it first when it has none.
  uint32_t find_or_add(uint32_t key, uint32_t value, bool* added) {
    if ((count_ + 1) * 2 > slots_.size()) grow();
    size_t i = slot_of(key);
    for (; slots_[i].used; i = (i + 1) & mask_) {
      if (slots_[i].key == key) {
        *added = false;
        return slots_[i].value;
      }
    }
    slots_[i] = {key, value, true};
    count_++;
    *added = true;
    return value;
  }

 private:
  struct Slot {
    uint32_t key = 0;
    uint32_t value = 0;
    bool used = false;
  };
  // Keys are node numbers and symbol ids, mostly dense: taken as they are,
  // neighbouring keys share cache lines.
  size_t slot_of(uint32_t key) const { return size_t(key) & mask_; }
  void grow() {
    std::vector<Slot> old = std::move(slots_);
    slots_.assign(old.empty() ? 64 : old.size() * 2, Slot{});
    mask_ = slots_.size() - 1;
    for (const Slot& e : old) {
      if (!e.used) continue;
      size_t i = slot_of(e.key);
      while (slots_[i].used) i = (i + 1) & mask_;
      slots_[i] = e;
    }
  }
  std::vector<Slot> slots_;
  size_t mask_ = 0;
  size_t count_ = 0;
};

class Encoder {
 public:
  explicit Encoder(bool compact) : compact_(compact) {}

  // Writes the record of [v], the value at [index] of its parent.
  void value(const Cell& v, uint32_t index);
  // Boot data: the words of [names] in the symbol table first, then the
  // top-level values of [top], then a definition for each word and value
  // pair of [definitions].
  void boot(Node names, Node top, Node definitions);
  // The whole stream: header, counts, symbol table, records.
  std::vector<uint8_t> assemble() const;

 private:
  // ------------------------------------------------------------ output
  void byte(uint8_t b) { out_.push_back(b); }
  void bytes(const uint8_t* p, size_t n) { out_.insert(out_.end(), p, p + n); }
  void varint(uint32_t u) {
    while (u >= 0x80) {
      byte(uint8_t(u | 0x80));
      u >>= 7;
    }
    byte(uint8_t(u));
  }
  void signed_varint(int32_t n) { varint(zigzag(n)); }
  void raw32(uint32_t u) {
    for (int i = 0; i < 4; i++) byte(uint8_t(u >> (8 * i)));
  }
  void raw_double(double d) {
    uint64_t bits;
    std::memcpy(&bits, &d, sizeof bits);
    raw32(uint32_t(bits));
    raw32(uint32_t(bits >> 32));
  }
  // Plain: the double as its high word, then its low word.
  void plain_double(double d) {
    uint64_t bits;
    std::memcpy(&bits, &d, sizeof bits);
    raw32(uint32_t(bits >> 32));
    raw32(uint32_t(bits));
  }
  // Plain: zero bytes up to a multiple of 4.
  void pad() {
    while (out_.size() % 4) byte(0);
  }
  // Compact: the typed lead byte of [t] with the variant flag [v].
  void lead(TypeId t, bool v) { byte(uint8_t(t | (v ? kVariantBit : 0))); }
  // Plain: the header word of [t] with [bits] and the current new-line marker.
  void header(TypeId t, uint32_t bits) { raw32(t | bits | (new_line_ ? kPlainNewLine : 0)); }

  // ------------------------------------------------------------ tables
  uint32_t symbol(int32_t id);
  // The path step of a node recorded before, or null.
  const uint32_t* recorded(Node n) const { return refs_.find(n); }
  // Records [n] with the path of the value at [index] of the current parent.
  void record(Node n, uint32_t index) {
    steps_.push_back({top(), index});
    bool added;
    refs_.find_or_add(n, uint32_t(steps_.size()), &added);
  }
  // The step of the innermost enclosing value (0: the target block).
  uint32_t top() const { return path_.empty() ? 0 : path_.back(); }
  // Enters the value at [index] of the current parent, and leaves it.
  void push(uint32_t index) {
    steps_.push_back({top(), index});
    path_.push_back(uint32_t(steps_.size()));
  }
  void pop() { path_.pop_back(); }
  void path(const Path& p);

  // ------------------------------------------------------------ records
  void scalar(const Cell& v);
  void number(const Cell& v);
  void block(const Cell& v, uint32_t index);
  void block_cells(Node n, uint32_t index);
  void text(const Cell& v, uint32_t index);
  void packed_key(const Cell& key);
  void vector(const Cell& v, uint32_t index);
  void bitset(const Cell& v, uint32_t index);
  void image(const Cell& v, uint32_t index);
  void map(const Cell& v, uint32_t index);
  void word(const Cell& v, uint32_t index);
  void object(const Cell& v, uint32_t index);
  void object_body(const Cell& v, uint32_t index);
  void error(const Cell& v, uint32_t index);
  void function(const Cell& v, uint32_t index);
  void function_body(const Cell& v, uint32_t index);
  void context(Node ctx, uint32_t index);
  void native(const Cell& v, uint32_t index, bool in_op);
  void op(const Cell& v, uint32_t index);
  // The path ending at [step], in the record's layout: compact, the path;
  // plain, the reference body.
  void ref_path(uint32_t step) {
    Path p;
    for (uint32_t s = step; s; s = steps_[s - 1].parent) p.push_back(steps_[s - 1].index);
    path(Path(p.rbegin(), p.rend()));
  }

  // Boot data: a word binds globally or by the position of the top-level
  // value whose context it takes (positions_: context node, position).
  void boot_word(const Cell& v, TypeId t, uint32_t sym);
  // Boot data: each top-level value is written with tables of its own, so
  // that no reference path leads into a definition the decoder has dropped.
  void reset_references() {
    refs_ = FlatMap();
    steps_.clear();
    path_.clear();
  }

  bool compact_;
  bool boot_ = false;
  std::vector<std::pair<Node, uint32_t>> positions_;
  bool new_line_ = false;
  std::vector<uint8_t> out_;
  std::vector<int32_t> symbols_;
  FlatMap symbol_index_;  // symbol id to its index in symbols_
  std::vector<uint8_t> names_;
  std::vector<uint32_t> offsets_;
  // Paths as a tree of steps: each step its parent step (0: the target
  // block) and its index, so recording a node costs one step whatever its
  // depth. path_ holds the steps of the values being written, innermost last.
  struct Step {
    uint32_t parent;
    uint32_t index;
  };
  std::vector<Step> steps_;
  std::vector<uint32_t> path_;
  FlatMap refs_;  // node to its step
};

uint32_t Encoder::symbol(int32_t id) {
  bool added;
  const uint32_t index = symbol_index_.find_or_add(uint32_t(id), uint32_t(symbols_.size()), &added);
  if (!added) return index;
  symbols_.push_back(id);
  offsets_.push_back(uint32_t(names_.size()));
  std::string_view name = symbol_name(id);
  names_.insert(names_.end(), name.begin(), name.end());
  names_.push_back(0);
  if (!compact_)
    while (names_.size() % 4) names_.push_back(0);
  return index;
}

void Encoder::path(const Path& p) {
  if (compact_) {
    varint(uint32_t(p.size()));
    for (uint32_t i : p) varint(i);
    return;
  }
  raw32(kPlainReference);
  raw32(uint32_t(p.size()));
  for (uint32_t i : p) raw32(i);
}

void Encoder::value(const Cell& v, uint32_t index) {
  if (native_stack_low(kNativeStackMargin)) raise_error(kErrInternalStackOverflow);
  const TypeId t = v.type();
  new_line_ = v.new_line();
  if (compact_ && new_line_) byte(kNewLinePrefix);
  switch (t) {
    case kTypeDatatype:
    case kTypeUnset:
    case kTypeNone:
    case kTypeLogic:
    case kTypeChar:
    case kTypeInteger:
    case kTypePair:
    case kTypePoint2D:
    case kTypePoint3D:
    case kTypeTypeset:
    case kTypeTuple:
    case kTypeDate:
    case kTypeMoney:
    case kTypeIssue: scalar(v); return;
    case kTypeFloat:
    case kTypePercent:
    case kTypeTime: number(v); return;
    case kTypeBlock:
    case kTypeParen:
    case kTypePath:
    case kTypeLitPath:
    case kTypeSetPath:
    case kTypeGetPath:
    case kTypeHash: block(v, index); return;
    case kTypeString:
    case kTypeFile:
    case kTypeUrl:
    case kTypeTag:
    case kTypeEmail:
    case kTypeRef:
    case kTypeBinary: text(v, index); return;
    case kTypeVector: vector(v, index); return;
    case kTypeBitset: bitset(v, index); return;
    case kTypeImage: image(v, index); return;
    case kTypeMap: map(v, index); return;
    case kTypeWord:
    case kTypeSetWord:
    case kTypeLitWord:
    case kTypeGetWord:
    case kTypeRefinement: word(v, index); return;
    case kTypeObject: object(v, index); return;
    case kTypeError: error(v, index); return;
    case kTypeFunction: function(v, index); return;
    case kTypeNative:
    case kTypeAction: native(v, index, false); return;
    case kTypeOp: op(v, index); return;
    default: raise_no_codec(t);
  }
}

void Encoder::scalar(const Cell& v) {
  const TypeId t = v.type();
  switch (t) {
    case kTypeDatatype:
      if (compact_) {
        lead(t, false);
        varint(datatype_type(&v));
      } else {
        header(t, 0);
        raw32(datatype_type(&v));
      }
      return;
    case kTypeUnset:
    case kTypeNone:
      if (compact_)
        lead(t, false);
      else
        header(t, 0);
      return;
    case kTypeLogic:
      if (compact_) {
        byte(logic_get(&v) ? kTrueByte : kFalseByte);
      } else {
        header(t, 0);
        raw32(logic_get(&v) ? 1 : 0);
      }
      return;
    case kTypeChar:
      if (compact_) {
        lead(t, false);
        varint(char_get(&v));
      } else {
        header(t, 0);
        raw32(char_get(&v));
      }
      return;
    case kTypeInteger: {
      int32_t n = integer_get(&v);
      if (!compact_) {
        header(t, 0);
        raw32(uint32_t(n));
      } else if (n >= 0 && n < 64) {
        byte(uint8_t(kShortIntegerBase + n));
      } else {
        lead(t, false);
        signed_varint(n);
      }
      return;
    }
    case kTypePair:
      if (compact_) {
        lead(t, false);
        signed_varint(pair_x(&v));
        signed_varint(pair_y(&v));
      } else {
        header(t, 0);
        raw32(uint32_t(pair_x(&v)));
        raw32(uint32_t(pair_y(&v)));
      }
      return;
    case kTypePoint2D:
    case kTypePoint3D:
      if (compact_)
        lead(t, false);
      else
        header(t, 0);
      raw32(std::bit_cast<uint32_t>(point_x(&v)));
      raw32(std::bit_cast<uint32_t>(point_y(&v)));
      if (t == kTypePoint3D) raw32(std::bit_cast<uint32_t>(point_z(&v)));
      return;
    case kTypeTypeset: {
      uint32_t words[3] = {typeset_map_word(&v, 1), typeset_map_word(&v, 2), typeset_map_word(&v, 3)};
      if (!compact_) {
        header(t, 0);
        for (uint32_t w : words) raw32(w);
        return;
      }
      uint8_t map[12];
      std::memcpy(map, words, sizeof map);
      uint8_t n = 12;
      while (n > 0 && map[n - 1] == 0) n--;
      lead(t, false);
      byte(n);
      bytes(map, n);
      return;
    }
    case kTypeTuple: {
      uint32_t n = tuple_length(&v);
      const uint8_t* b = tuple_bytes(&v);
      if (!compact_) {
        header(t, n << kPlainByteShift);
        uint8_t slots[12] = {};
        std::memcpy(slots, b, n);
        bytes(slots, 12);
        return;
      }
      lead(t, n != 3);
      if (n != 3) byte(uint8_t(n));
      bytes(b, n);
      return;
    }
    case kTypeDate: {
      uint32_t packed = date_packed(&v);
      bool time = date_word_has_time(packed);
      if (compact_) {
        lead(t, time);
        raw32(packed);
        if (time) raw_double(date_time(&v));
      } else {
        header(t, 0);
        raw32(packed);
        plain_double(date_time(&v));
      }
      return;
    }
    case kTypeMoney: {
      uint8_t digits[kMoneyDigitBytes];
      money_digits_of(&v, digits);
      bool negative = money_sign_bit(&v);
      if (compact_)
        lead(t, negative);
      else
        header(t, negative ? kPlainMoneyNegative : 0);
      byte(uint8_t(money_currency_of(&v)));
      bytes(digits, kMoneyDigitBytes);
      return;
    }
    case kTypeIssue:
      if (compact_) {
        lead(t, false);
        varint(symbol(word_symbol(&v)));
      } else {
        header(t, 0);
        raw32(symbol(word_symbol(&v)));
      }
      return;
    default: raise_no_codec(t);
  }
}

void Encoder::number(const Cell& v) {
  const TypeId t = v.type();
  const double d = float_get(&v);
  if (!compact_) {
    // The header starts at a multiple of 8 bytes from the first record.
    if (out_.size() % 8) raw32(kPlainPadding);
    header(t, 0);
    plain_double(d);
    return;
  }
  int32_t n;
  if (short_float(d, t, &n)) {
    lead(t, true);
    signed_varint(n);
  } else {
    lead(t, false);
    raw_double(d);
  }
}

void Encoder::block(const Cell& v, uint32_t index) {
  const TypeId t = v.type();
  const Node n = v.node();
  const int32_t head = v.head();
  const uint32_t* p = recorded(n);
  if (compact_) {
    if (p) byte(kReferencePrefix);
    lead(t, head != 0);
    if (head != 0) varint(uint32_t(head));
  } else {
    header(t, p ? kPlainRefForm : 0);
    raw32(uint32_t(head));
  }
  if (p) return ref_path(*p);
  record(n, index);
  block_cells(n, index);
}

// The count and the cells of the block [n] from its buffer's head, the
// children of the value at [index].
void Encoder::block_cells(Node n, uint32_t index) {
  const uint32_t count = series_cell_count(n);
  if (compact_)
    varint(count);
  else
    raw32(count);
  push(index);
  for (uint32_t i = 0; i < count; i++) value(series_cells(n)[i], i);
  pop();
}

void Encoder::text(const Cell& v, uint32_t index) {
  const TypeId t = v.type();
  const Node n = v.node();
  const int32_t head = v.head();
  const uint32_t* p = recorded(n);
  SeriesBuffer* b = series_buffer(n);
  const uint32_t unit = t == kTypeBinary ? 1 : b->unit();
  const uint32_t length = t == kTypeBinary ? b->used() : b->length();
  if (compact_) {
    if (p) byte(kReferencePrefix);
    lead(t, head != 0);
    if (head != 0) varint(uint32_t(head));
  } else {
    header(t, unit << kPlainByteShift | (p ? kPlainRefForm : 0));
    raw32(uint32_t(head));
  }
  if (p) return ref_path(*p);
  record(n, index);
  if (!compact_) {
    raw32(length);
  } else if (t == kTypeBinary) {
    varint(length);
  } else {
    if (length > (UINT32_MAX >> 2)) raise_error(kErrScriptTooLong);
    varint(length << 2 | unit_code(unit));
  }
  bytes(series_buffer(n)->head_ptr(), size_t(length) * unit);
  if (!compact_) pad();
}

// A packed string! key of a map, written as the string! it stands for.
void Encoder::packed_key(const Cell& key) {
  uint8_t chars[kMapPackedMax];
  uint32_t n = map_packed_key_chars(&key, chars);
  new_line_ = false;
  if (compact_) {
    lead(kTypeString, false);
    varint(n << 2);
  } else {
    header(kTypeString, 1u << kPlainByteShift);
    raw32(0);
    raw32(n);
  }
  bytes(chars, n);
  if (!compact_) pad();
}

void Encoder::vector(const Cell& v, uint32_t index) {
  const Node n = v.node();
  const int32_t head = v.head();
  const uint32_t* p = recorded(n);
  const uint32_t unit = vector_size(&v);
  const uint32_t element = vector_element_type(&v);
  if (compact_) {
    if (p) byte(kReferencePrefix);
    lead(kTypeVector, head != 0);
    if (head != 0) varint(uint32_t(head));
  } else {
    header(kTypeVector, unit << kPlainByteShift | (p ? kPlainRefForm : 0));
    raw32(uint32_t(head));
  }
  if (p) return ref_path(*p);
  record(n, index);
  const uint32_t count = series_length(n);
  if (compact_) {
    byte(uint8_t(element << 2 | unit_code(unit)));
    varint(count);
  } else {
    raw32(count);
    raw32(element);
  }
  bytes(series_buffer(n)->head_ptr(), size_t(count) * unit);
  if (!compact_) pad();
}

void Encoder::bitset(const Cell& v, uint32_t index) {
  const Node n = v.node();
  const uint32_t* p = recorded(n);
  const bool complement = bitset_complement_q(&v);
  if (compact_) {
    if (p) byte(kReferencePrefix);
    lead(kTypeBitset, complement);
  } else {
    header(kTypeBitset, (complement ? kPlainComplement : 0) | (p ? kPlainRefForm : 0));
  }
  if (p) return ref_path(*p);
  record(n, index);
  const uint32_t count = bitset_byte_count(&v);
  if (compact_)
    varint(count);
  else
    raw32(count);
  bytes(bitset_bits(&v), count);
  if (!compact_) pad();
}

// The size, then the pixel words as they lie in memory (B, G, R, A); an
// image without pixels (a side of 0, or one whose buffer is gone) writes
// its size and zero pixels. Only an image with a record can be referred to.
void Encoder::image(const Cell& v, uint32_t index) {
  const Node n = v.node();
  const int32_t head = v.head();
  const uint32_t* p = n ? recorded(n) : nullptr;
  if (compact_) {
    if (p) byte(kReferencePrefix);
    lead(kTypeImage, head != 0);
    if (head != 0) varint(uint32_t(head));
  } else {
    header(kTypeImage, p ? kPlainRefForm : 0);
    raw32(uint32_t(head));
  }
  if (p) return ref_path(*p);
  if (n) record(n, index);
  const uint32_t width = uint32_t(image_width(&v)), height = uint32_t(image_height(&v));
  if (compact_) {
    varint(width);
    varint(height);
  } else {
    raw32(height << 16 | width);
  }
  const size_t size = size_t(width) * height * 4;
  const ImageView view = image_view(&v);
  if (view.pixels && view.width == int32_t(width) && view.height == int32_t(height))
    bytes(reinterpret_cast<const uint8_t*>(view.pixels), size);
  else
    out_.insert(out_.end(), size, 0);
}

// The live pairs, keys and values alternating; a packed key is written as
// its string!. The pairs are the children, by their place in the record.
void Encoder::map(const Cell& v, uint32_t index) {
  const Node n = map_pairs(&v);
  const uint32_t* p = recorded(n);
  if (compact_) {
    if (p) byte(kReferencePrefix);
    lead(kTypeMap, false);
  } else {
    header(kTypeMap, p ? kPlainRefForm : 0);
  }
  if (p) return ref_path(*p);
  record(n, index);
  const uint32_t total = series_cell_count(n);
  uint32_t live = 0;
  for (uint32_t i = 0; i + 1 < total; i += 2)
    if (series_cells(n)[i + 1].header != 0) live += 2;
  if (compact_)
    varint(live);
  else
    raw32(live);
  push(index);
  uint32_t k = 0;
  for (uint32_t i = 0; i + 1 < total; i += 2) {
    const Cell key = series_cells(n)[i];
    const Cell val = series_cells(n)[i + 1];
    if (val.header == 0) continue;
    if (map_packed_key_q(&key))
      packed_key(key);
    else
      value(key, k);
    value(val, k + 1);
    k += 2;
  }
  pop();
}

void Encoder::word(const Cell& v, uint32_t index) {
  const TypeId t = v.type();
  const Node ctx = word_context(&v);
  const uint32_t sym = symbol(word_symbol(&v));
  if (boot_) return boot_word(v, t, sym);
  // The owner of the context: what a decoder can rebuild it from.
  TypeId owner = kTypeNil;
  Cell self{};
  if (ctx && ctx != g_global_context) {
    self = *context_self_cell(ctx);
    if ((self.is(kTypeObject) || self.is(kTypeError)) && object_context(&self) == ctx) owner = self.type();
    if (self.is(kTypeFunction) && function_context(&self) == ctx) owner = kTypeFunction;
  }
  const uint32_t* p = owner != kTypeNil ? recorded(ctx) : nullptr;
  // An error's context is carried only once the error is written.
  if (owner == kTypeError && !p) owner = kTypeNil;
  if (owner == kTypeNil) {
    if (compact_) {
      lead(t, false);
      varint(sym);
    } else {
      header(t, kPlainGlobalWord);
      raw32(sym);
      raw32(uint32_t(word_index(&v)));
    }
    return;
  }
  if (compact_) {
    if (p) byte(kReferencePrefix);
    lead(t, true);
    varint(sym);
    signed_varint(word_index(&v));
  } else {
    header(t, p ? kPlainRefForm : 0);
    raw32(sym);
    raw32(uint32_t(word_index(&v)));
  }
  if (p) return ref_path(*p);
  record(ctx, index);
  new_line_ = false;
  if (owner == kTypeObject) {
    if (compact_) {
      lead(kTypeObject, object_events(&self) != 0);
    } else {
      header(kTypeObject, object_events(&self) ? kPlainEvents : 0);
    }
    object_body(self, index);
  } else {
    if (compact_)
      lead(kTypeFunction, false);
    else
      header(kTypeFunction, 0);
    function_body(self, index);
  }
}

void Encoder::boot_word(const Cell& v, TypeId t, uint32_t sym) {
  const Node ctx = word_context(&v);
  if (!ctx || ctx == g_global_context) {
    lead(t, false);
    varint(sym);
    return;
  }
  for (const auto& [node, position] : positions_) {
    if (node != ctx) continue;
    lead(t, true);
    varint(sym);
    varint(position);
    signed_varint(word_index(&v));
    return;
  }
  // Bound to the context of an object or function met earlier in this
  // top-level value (an object made at build time, a function among its
  // fields): a reference to it, as user data writes one.
  if (const uint32_t* p = recorded(ctx)) {
    if (compact_) {
      byte(kReferencePrefix);
      lead(t, true);
      varint(sym);
      signed_varint(word_index(&v));
    } else {
      header(t, kPlainRefForm);
      raw32(sym);
      raw32(uint32_t(word_index(&v)));
    }
    return ref_path(*p);
  }
  // Bound to a context no value written so far owns: boot data cannot say
  // which.
  raise_no_codec(t);
}

void Encoder::boot(Node names, Node top, Node definitions) {
  boot_ = true;
  for (uint32_t i = 0; i < series_cell_count(names); i++) {
    const Cell w = series_cells(names)[i];
    if (is_any_word(w.type())) symbol(word_symbol(&w));
  }
  // The decoder's cells: a native! or action! leaves its spec after it.
  uint32_t count = 0;
  const uint32_t n = series_cell_count(top);
  for (uint32_t i = 0; i < n; i++) {
    const Cell v = series_cells(top)[i];
    if (v.is(kTypeObject)) positions_.push_back({object_context(&v), count});
    if (v.is(kTypeFunction)) positions_.push_back({function_context(&v), count});
    count += v.is(kTypeNative) || v.is(kTypeAction) ? 2 : 1;
  }
  for (uint32_t i = 0; i < n; i++) {
    reset_references();
    value(series_cells(top)[i], i);
  }
  // A definition's word lands at the tail, its value after it; the decoder
  // drops both once the word is set.
  const uint32_t pairs = series_cell_count(definitions) / 2;
  for (uint32_t k = 0; k < pairs; k++) {
    const Cell word = series_cells(definitions)[2 * k];
    const Cell v = series_cells(definitions)[2 * k + 1];
    if (!binding_word_q(word.type()) || (word_context(&word) && word_context(&word) != g_global_context))
      raise_no_codec(word.type());
    reset_references();
    byte(kDefinitionPrefix);
    Cell global = word;
    global.clear_new_line();
    value(global, count);
    const bool owner = v.is(kTypeFunction);
    if (owner) positions_.push_back({function_context(&v), count + 1});
    Cell plain = v;
    plain.clear_new_line();
    value(plain, count + 1);
    if (owner) positions_.pop_back();
  }
}

void Encoder::object(const Cell& v, uint32_t index) {
  const Node ctx = object_context(&v);
  if (ctx == g_global_context) raise_no_codec(kTypeObject);
  const uint32_t* p = recorded(ctx);
  const bool events = object_events(&v) != 0;
  if (compact_) {
    if (p) byte(kReferencePrefix);
    lead(kTypeObject, events && !p);
  } else {
    header(kTypeObject, p ? kPlainRefForm : events ? kPlainEvents : 0);
  }
  if (p) return ref_path(*p);
  record(ctx, index);
  object_body(v, index);
}

// Class id, the handler slots when the object has an event record, then the
// context record; the values are the children of the value at [index].
void Encoder::object_body(const Cell& v, uint32_t index) {
  const int32_t class_id = int32_t(object_class(&v));
  if (compact_)
    signed_varint(class_id);
  else
    raw32(uint32_t(class_id));
  if (object_events(&v)) {
    int32_t on_change, on_deep_change;
    object_event_slots(&v, &on_change, &on_deep_change);
    if (compact_) {
      signed_varint(on_change);
      signed_varint(on_deep_change);
    } else {
      raw32(uint32_t(on_change));
      raw32(uint32_t(on_deep_change));
    }
  }
  context(object_context(&v), index);
}

// The code, then arg1, arg2, arg3, near, where and stack; the context is
// recorded so that a word bound to it later refers to this error.
void Encoder::error(const Cell& v, uint32_t index) {
  const Cell code = error_field(&v, kErrorCode);
  if (!code.is(kTypeInteger)) raise_no_codec(kTypeError);
  if (compact_) {
    lead(kTypeError, false);
    varint(uint32_t(integer_get(&code)));
  } else {
    header(kTypeError, 0);
    raw32(uint32_t(integer_get(&code)));
  }
  const Node ctx = object_context(&v);
  if (!recorded(ctx)) record(ctx, index);
  push(index);
  for (int32_t i = 0; i < 6; i++) value(error_field(&v, ErrorField(kErrorArg1 + i)), uint32_t(i));
  pop();
}

void Encoder::function(const Cell& v, uint32_t index) {
  const Node ctx = function_context(&v);
  const uint32_t* p = recorded(ctx);
  if (compact_) {
    if (p) byte(kReferencePrefix);
    lead(kTypeFunction, false);
  } else {
    header(kTypeFunction, p ? kPlainRefForm : 0);
  }
  if (p) return ref_path(*p);
  record(ctx, index);
  function_body(v, index);
}

// Spec and body sizes, the context record, then the spec (child 0) and the
// body (child 1) as block records. A function without a body block gets an
// empty one.
void Encoder::function_body(const Cell& v, uint32_t index) {
  const Cell spec = series_cell(kTypeBlock, function_spec(&v));
  Cell body = kiv::function_body(&v);
  const uint32_t spec_size = series_cell_count(spec.node());
  const uint32_t body_size = body.is(kTypeBlock) ? series_cell_count(body.node()) : 0;
  if (compact_) {
    varint(spec_size);
    varint(body_size);
  } else {
    raw32(spec_size);
    raw32(body_size);
  }
  context(function_context(&v), index);
  push(index);
  new_line_ = false;
  block(spec, 0);
  if (body.is(kTypeBlock)) {
    body.set_header(kTypeBlock);
    block(body, 1);
  } else {
    new_line_ = false;
    if (compact_) {
      lead(kTypeBlock, false);
      varint(0);
    } else {
      header(kTypeBlock, 0);
      raw32(0);
      raw32(0);
    }
  }
  pop();
}

// The context record of [ctx]: kind, flags, its words and, for values not on
// the data stack, the values (the children of the value at [index]).
void Encoder::context(Node ctx, uint32_t index) {
  const uint32_t kind = context_kind(ctx);
  const bool stack = context_stack_q(ctx);
  const bool self = context_cell(ctx)->header & kFlagContextSelf;
  const bool values = !stack && context_values(ctx) != 0;
  const Node words = context_words(ctx);
  const uint32_t n = series_cell_count(words);
  new_line_ = false;
  if (compact_) {
    lead(kTypeContext, false);
    byte(uint8_t(kind | (stack ? kContextOnStack : 0) | (self ? kContextSelf : 0) |
                 (values ? kContextValues : 0)));
    varint(n);
  } else {
    header(kTypeContext, kind << kPlainContextKindShift | (stack ? kPlainContextOnStack : 0) |
                             (self ? kPlainContextSelf : 0) | (values ? kPlainContextValues : 0));
    raw32(n);
  }
  for (uint32_t i = 0; i < n; i++) {
    uint32_t s = symbol(word_symbol(&series_cells(words)[i]));
    if (compact_)
      varint(s);
    else
      raw32(s);
  }
  if (!values) return;
  const Node block = Node(context_values(ctx));
  if (series_cell_count(block) != n) raise_no_codec(kTypeObject);
  push(index);
  for (uint32_t i = 0; i < n; i++) value(series_cells(block)[i], i);
  pop();
}

// The id, then the spec block, whose cells are the children of the value at
// [index] (under an op!, of its spec at index 0). The spec block itself is
// not recorded: no path names it alone.
void Encoder::native(const Cell& v, uint32_t index, bool in_op) {
  const TypeId t = in_op ? op_underlying_type(&v) : v.type();
  if (compact_) {
    lead(t, false);
    varint(native_id(&v));
  } else {
    if (!in_op) header(t, 0);
    raw32(native_id(&v));
  }
  new_line_ = false;
  if (compact_) {
    lead(kTypeBlock, false);
  } else {
    header(kTypeBlock, 0);
    raw32(0);
  }
  if (!in_op) return block_cells(native_spec(&v), index);
  push(index);
  block_cells(native_spec(&v), 0);
  pop();
}

// The record of the value the op! calls, at the op!'s own place: the op!'s
// paths are its function's (spec 0, body 1).
void Encoder::op(const Cell& v, uint32_t index) {
  const TypeId under = op_underlying_type(&v);
  if (under != kTypeNative && under != kTypeAction && under != kTypeFunction) raise_no_codec(kTypeOp);
  if (compact_)
    lead(kTypeOp, false);
  else
    header(kTypeOp, uint32_t(under) << kPlainOpTypeShift);
  if (under == kTypeFunction) {
    Cell inner = v;
    inner.set_header(kTypeFunction);
    new_line_ = false;
    function(inner, index);
    return;
  }
  if (!compact_) header(under, 0);
  native(v, index, true);
}

std::vector<uint8_t> Encoder::assemble() const {
  std::vector<uint8_t> s = {'K', 'I', 'V', 'B', 'I', 'N', boot_ ? kKivbinBootVersion : kKivbinVersion, 0};
  const bool symbols = !symbols_.empty();
  auto put32 = [&s](uint32_t u) {
    for (int i = 0; i < 4; i++) s.push_back(uint8_t(u >> (8 * i)));
  };
  auto put_varint = [&s](uint32_t u) {
    while (u >= 0x80) {
      s.push_back(uint8_t(u | 0x80));
      u >>= 7;
    }
    s.push_back(uint8_t(u));
  };
  s[7] = uint8_t((compact_ ? kKivbinCompact : 0) | (symbols ? kKivbinSymbols : 0));
  if (out_.size() > UINT32_MAX / 2 || names_.size() > UINT32_MAX / 2) raise_error(kErrScriptTooLong);
  if (compact_) {
    put_varint(1);
    put_varint(uint32_t(out_.size()));
    if (symbols) {
      put_varint(uint32_t(symbols_.size()));
      put_varint(uint32_t(names_.size()));
    }
  } else {
    put32(1);
    put32(uint32_t(out_.size()));
    if (symbols) {
      put32(uint32_t(symbols_.size()));
      put32(uint32_t(names_.size()));
    }
  }
  if (symbols) {
    for (uint32_t o : offsets_) put32(o);
    s.insert(s.end(), names_.begin(), names_.end());
  }
  s.insert(s.end(), out_.begin(), out_.end());
  return s;
}

}  // namespace

Cell* kivbin_encode(const Cell* value, bool compact) {
  std::vector<uint8_t> stream;
  {
    Encoder encoder(compact);
    encoder.value(*value, 0);
    stream = encoder.assemble();
  }
  if (stream.size() > kMaxCapacity) raise_error(kErrScriptTooLong);
  return binary_load_push(stream.data(), uint32_t(stream.size()));
}

Cell* kivbin_encode_boot(const Cell* names, const Cell* top, const Cell* definitions) {
  std::vector<uint8_t> stream;
  {
    Encoder encoder(true);
    encoder.boot(names->node(), top->node(), definitions->node());
    stream = encoder.assemble();
  }
  if (stream.size() > kMaxCapacity) raise_error(kErrScriptTooLong);
  return binary_load_push(stream.data(), uint32_t(stream.size()));
}

}  // namespace kiv
