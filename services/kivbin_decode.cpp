// The KIVBIN decoder (services/kivbin.h): both forms of records read back
// into values appended to a target block, by the rules of user data (the
// codec) or boot data (start-up's image).
//
// The input is a private copy, so reads never touch a series and the
// collector may run at any allocation. Every value is built in place: a
// series, object or function is appended to its parent first and filled
// after, so a reference path met inside it (a block holding itself, a body
// word bound to its own function) finds it already there. Every other value
// under construction is held on the data stack.
//
// Nothing read is trusted: every count is checked against the bytes left
// before anything is allocated for it, every symbol index against the table,
// every slot against its context, every path step against its series, and
// every stored code (type ids, code points, dates, money digits, native and
// action ids) against what the runtime accepts; a fault raises script
// kb-invalid-record with the 1-based position of the offending byte.
#include <chrono>
#include <cmath>
#include <cstring>
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
#include "datatypes/time.h"
#include "datatypes/tuple.h"
#include "datatypes/typeset.h"
#include "datatypes/vector.h"
#include "datatypes/word.h"
#include "evaluator/base_env.h"
#include "evaluator/natives.h"
#include "platform/process.h"
#include "platform/stdio.h"
#include "platform/thread.h"
#include "runtime/collector.h"
#include "runtime/errors.h"
#include "runtime/gc_root.h"
#include "runtime/image_geometry.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"
#include "services/kivbin.h"
#include "services/kivbin_format.h"
#include "services/lz_codec.h"

namespace kiv {

using namespace kivbin;

namespace {

// Where a decoded object, function or word goes: appended to [parent], or,
// for an object or function written inline after a word, the word (of
// [word_type], [symbol], [slot]) bound to the new context goes there instead.
struct Attach {
  Node parent = 0;
  TypeId word_type = kTypeNil;
  int32_t symbol = 0;
  int32_t slot = 0;
  size_t slot_at = 0;  // where the slot was read
};

// A record's lead, in either form.
struct Lead {
  TypeId type = kTypeNil;
  bool variant = false;    // compact V flag
  bool reference = false;  // 0xC1 prefix, or plain bit 19
  bool new_line = false;
  uint32_t bits = 0;  // plain header word
  size_t at = 0;      // position of the lead byte or header word
};

// True for the records a boot data definition may prefix: the words.
bool definable_q(TypeId t) { return t >= kTypeWord && t <= kTypeIssue; }

// True for the types whose records may be given by a reference path.
bool reference_form_q(TypeId t) {
  return block_family_q(t) || text_family_q(t) || binding_word_q(t) || t == kTypeBinary || t == kTypeVector ||
         t == kTypeBitset || t == kTypeMap || t == kTypeImage || t == kTypeObject || t == kTypeFunction;
}

KivbinBootTimes g_boot_times;

class Decoder {
 public:
  // [user]: user data rules; else boot data rules (definitions, words bound
  // by the position of a value this decode appended, stored class ids).
  Decoder(std::vector<uint8_t> data, const Cell* target, bool user)
      : data_(std::move(data)), target_(target), user_(user) {}

  void run();

 private:
  // ------------------------------------------------------------ reading
  [[noreturn]] void fail(size_t at) const {
    Cell position = integer_cell(int32_t(at + 1));
    raise_error(kErrScriptKbInvalidRecord, &position);
  }
  size_t left() const { return end_ - pos_; }
  void need(size_t n) const {
    if (n > left()) fail(pos_ < end_ ? end_ : pos_);
  }
  uint8_t u8() {
    if (pos_ >= end_) fail(pos_);
    return data_[pos_++];
  }
  uint32_t u32() {
    need(4);
    uint32_t u = uint32_t(data_[pos_]) | uint32_t(data_[pos_ + 1]) << 8 | uint32_t(data_[pos_ + 2]) << 16 |
                 uint32_t(data_[pos_ + 3]) << 24;
    pos_ += 4;
    return u;
  }
  uint32_t varint() {
    uint32_t u = 0;
    for (int i = 0; i < 5; i++) {
      size_t at = pos_;
      uint8_t b = u8();
      if (i == 4 && (b & 0xF0)) fail(at);
      u |= uint32_t(b & 0x7F) << (7 * i);
      if (!(b & 0x80)) return u;
    }
    return u;  // not reached: the fifth byte has bit 7 clear
  }
  // A count or size field of the form.
  uint32_t num() { return compact_ ? varint() : u32(); }
  int32_t snum() { return compact_ ? unzigzag(varint()) : int32_t(u32()); }
  // A count of items each taking at least [min] bytes.
  uint32_t count(uint32_t min = 1) {
    size_t at = pos_;
    uint32_t n = num();
    if (!compact_ && int32_t(n) < 0) fail(at);
    if (uint64_t(n) * min > left()) fail(at);
    return n;
  }
  double dbl(bool plain_order) {
    uint32_t a = u32(), b = u32();
    uint64_t bits = plain_order ? (uint64_t(a) << 32 | b) : (uint64_t(b) << 32 | a);
    double d;
    std::memcpy(&d, &bits, sizeof d);
    return d;
  }
  void take(uint8_t* out, size_t n) {
    need(n);
    std::memcpy(out, data_.data() + pos_, n);
    pos_ += n;
  }
  // Plain: skips the zero bytes after [n] payload bytes, up to a multiple of 4.
  void skip_pad(size_t n) {
    size_t pad = (4 - n % 4) % 4;
    need(pad);
    pos_ += pad;
  }

  // ------------------------------------------------------------ symbols
  void symbol_table();
  int32_t symbol(uint32_t index, size_t at);
  int32_t read_symbol() {
    size_t at = pos_;
    return symbol(num(), at);
  }

  // ------------------------------------------------------------ values
  int32_t put(Node parent, const Cell& v);
  Cell& cell_at(Node parent, int32_t i) { return series_cells(parent)[i]; }
  void check_depth() const {
    if (native_stack_low(kNativeStackMargin)) raise_error(kErrInternalStackOverflow);
  }
  void record(Node parent);
  void record_compact(Node parent);
  void record_plain(Node parent);
  void define(Node parent, int32_t i);
  int32_t boot_word(Node parent, const Lead& lead, int32_t sym, uint32_t sym_index, TypeId t);
  int32_t referenced_word(Node parent, TypeId t, int32_t sym);
  int32_t typed(Node parent, const Lead& lead);
  int32_t scalar(Node parent, const Lead& lead);
  int32_t block(Node parent, const Lead& lead);
  int32_t text(Node parent, const Lead& lead);
  int32_t vector(Node parent, const Lead& lead);
  int32_t bitset(Node parent, const Lead& lead);
  int32_t image(Node parent, const Lead& lead);
  int32_t map(Node parent, const Lead& lead);
  int32_t word(Node parent, const Lead& lead);
  int32_t object(Node parent, const Lead& lead);
  int32_t object_body(const Attach& attach, bool events, size_t at);
  int32_t function(Node parent, const Lead& lead);
  int32_t function_body(const Attach& attach, size_t at);
  bool function_block_lead();
  Cell block_reference();
  int32_t error(Node parent, const Lead& lead);
  int32_t native(Node parent, const Lead& lead);
  int32_t op(Node parent, const Lead& lead);
  Node context_record(bool function, bool* values);
  int32_t attach_value(const Attach& attach, const Cell& value, Node ctx);
  int32_t head_of(const Lead& lead) {
    return compact_ ? (lead.variant ? int32_t(varint()) : 0) : int32_t(u32());
  }

  // ------------------------------------------------------------ references
  Cell reference(size_t at);
  // The value the [steps] indexes of [path] lead to ([at]: their positions).
  Cell resolve(const uint32_t* path, const size_t* at, uint32_t steps);
  int32_t series_reference(Node parent, const Lead& lead, int32_t head);
  Node context_of_designated(const Cell& v, size_t at, TypeId want);

  std::vector<uint8_t> data_;
  const Cell* target_;
  bool user_;
  // Cells the target block held when the decode began (boot data counts its
  // context positions from there).
  uint32_t base_ = 0;
  size_t pos_ = 0;
  size_t end_ = 0;
  bool compact_ = false;
  // Symbol table: its entries' offsets, the names area and the ids interned.
  size_t offsets_at_ = 0;
  uint32_t symbol_count_ = 0;
  size_t names_at_ = 0;
  uint32_t names_size_ = 0;
  std::vector<int32_t> ids_;
  std::vector<Cell> globals_;  // boot data: the global word of each name met, by symbol index
};

// ---------------------------------------------------------------- stream

void Decoder::run() {
  base_ = series_cell_count(target_->node());
  end_ = data_.size();
  compact_ = data_[7] & kKivbinCompact;
  const bool symbols = data_[7] & kKivbinSymbols;
  pos_ = 8;
  uint32_t data_size;
  size_t at;
  if (compact_) {
    varint();  // root count
    at = pos_;
    data_size = varint();
  } else {
    u32();  // root count
    at = pos_;
    data_size = u32();
    if (int32_t(data_size) < 0) fail(at);
  }
  if (symbols) symbol_table();
  if (data_size > left()) fail(at);
  end_ = pos_ + data_size;
  while (pos_ < end_) record(target_->node());
}

void Decoder::symbol_table() {
  size_t at = pos_;
  uint32_t n = num();
  size_t size_at = pos_;
  uint32_t size = num();
  if (!compact_ && (int32_t(n) < 0 || int32_t(size) < 0)) fail(int32_t(n) < 0 ? at : size_at);
  if (uint64_t(n) * 4 > left()) fail(at);
  if (size > left() - uint64_t(n) * 4) fail(size_at);
  offsets_at_ = pos_;
  symbol_count_ = n;
  names_at_ = pos_ + size_t(n) * 4;
  names_size_ = size;
  if (size > 0 && data_[names_at_ + size - 1] != 0) fail(names_at_ + size - 1);
  pos_ = names_at_ + size;
  ids_.assign(n, 0);
  // Boot data interns every name up front and gives each its global word,
  // in the table's order: the order start-up from text would add them in.
  if (!user_) {
    globals_.assign(n, Cell{});
    for (uint32_t k = 0; k < n; k++)
      globals_[k] = context_add_global(symbol(k, offsets_at_ + size_t(k) * 4), true, true);
  }
}

// Each entry is interned once, at its first use.
int32_t Decoder::symbol(uint32_t index, size_t at) {
  if (index >= symbol_count_) fail(at);
  if (ids_[index]) return ids_[index];
  const uint8_t* o = data_.data() + offsets_at_ + size_t(index) * 4;
  uint32_t offset = uint32_t(o[0]) | uint32_t(o[1]) << 8 | uint32_t(o[2]) << 16 | uint32_t(o[3]) << 24;
  if (offset >= names_size_) fail(offsets_at_ + size_t(index) * 4);
  const uint8_t* name = data_.data() + names_at_ + offset;
  const uint8_t* end = static_cast<const uint8_t*>(std::memchr(name, 0, names_size_ - offset));
  if (end == name) fail(names_at_ + offset);
  for (const uint8_t* p = name; p < end;) {
    int32_t cp;
    const uint8_t* next = utf8_fast_decode_char(p, end, &cp);
    if (cp < 0) fail(names_at_ + size_t(p - data_.data() - names_at_));
    p = next;
  }
  int32_t id = symbol_make_sized(name, uint32_t(end - name));
  ids_[index] = id;
  return id;
}

// ---------------------------------------------------------------- records

// MAY ALLOCATE. Appends [v] (its nodes held for the append) to [parent];
// returns its index.
int32_t Decoder::put(Node parent, const Cell& v) {
  StackSave save;
  Cell* keep = stack_push_value(v);
  Cell* c = append_cell(parent);
  *c = *keep;
  return int32_t(series_cell_count(parent)) - 1;
}

void Decoder::record(Node parent) {
  check_depth();
  if (compact_)
    record_compact(parent);
  else
    record_plain(parent);
}

void Decoder::record_compact(Node parent) {
  Lead lead;
  uint8_t b;
  bool definition = false;
  for (;;) {
    lead.at = pos_;
    b = u8();
    if (b == kNewLinePrefix)
      lead.new_line = true;
    else if (b == kReferencePrefix)
      lead.reference = true;
    else if (b == kDefinitionPrefix && !user_)
      definition = true;
    else if (b == kDefinitionPrefix)
      fail(lead.at);  // boot data only
    else
      break;
  }
  // A definition prefixes a word record only.
  if (definition && (b >= 0x80 || !definable_q(TypeId(b & kTypeIdMask)))) fail(lead.at);
  int32_t i;
  if (b >= kShortIntegerBase && b < kNewLinePrefix) {
    if (lead.reference) fail(lead.at);
    i = put(parent, integer_cell(b - kShortIntegerBase));
  } else if (b == kTrueByte || b == kFalseByte) {
    if (lead.reference) fail(lead.at);
    i = put(parent, logic_cell(b == kTrueByte));
  } else if (b == kReferenceRecord) {
    if (lead.reference) fail(lead.at);
    Cell v = reference(pos_);
    v.clear_new_line();
    i = put(parent, v);
  } else if (b < 0x80) {
    uint32_t t = b & kTypeIdMask;
    lead.variant = b & kVariantBit;
    if (t == kTypeIdFollows) t = varint();
    if (t == 0 || t > uint32_t(kMaxTypeId)) fail(lead.at);
    lead.type = TypeId(t);
    i = typed(parent, lead);
  } else {
    fail(lead.at);
  }
  if (definition) return define(parent, i);
  if (lead.new_line) cell_at(parent, i).header |= kFlagNewLine;
}

void Decoder::record_plain(Node parent) {
  Lead lead;
  uint32_t h;
  do {
    lead.at = pos_;
    h = u32();
  } while ((h & kTypeMask) == kPlainPadding);
  lead.bits = h;
  lead.new_line = h & kPlainNewLine;
  int32_t i;
  if ((h & kTypeMask) == kPlainReference) {
    pos_ = lead.at;  // the header word is the first word of the reference body
    Cell v = reference(pos_);
    v.clear_new_line();
    i = put(parent, v);
  } else {
    uint32_t t = h & kTypeMask;
    if (t > uint32_t(kMaxTypeId)) fail(lead.at);
    lead.type = TypeId(t);
    // Bit 19 is the reference form only for the types that have one (an
    // op!'s wrapped type shares it).
    lead.reference = (h & kPlainRefForm) && reference_form_q(lead.type);
    i = typed(parent, lead);
    // Boot data: bit 25 of a word record makes it a definition.
    if (!user_ && definable_q(lead.type) && (h & kPlainGlobalWord)) return define(parent, i);
  }
  if (lead.new_line) cell_at(parent, i).header |= kFlagNewLine;
}

// Boot data: the word just appended at [i] takes the value of the next
// record as its value, and nothing of either stays in the block.
void Decoder::define(Node parent, int32_t i) {
  const auto start = std::chrono::steady_clock::now();
  record(parent);
  // A native! or action! leaves its spec after it.
  if (int32_t(series_cell_count(parent)) < i + 2) fail(pos_);
  const long long us =
      std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start).count();
  const TypeId t = cell_at(parent, i + 1).type();
  (t == kTypeNative || t == kTypeAction ? g_boot_times.builtins_us : g_boot_times.definitions_us) += us;
  StackSave save;
  Cell* word = stack_push_value(cell_at(parent, i));
  Cell* value = stack_push_value(cell_at(parent, i + 1));
  word->clear_new_line();
  value->clear_new_line();
  Cell block = series_cell(kTypeBlock, parent);
  block_truncate(&block, i);
  set_word_value(word, value);
}

int32_t Decoder::typed(Node parent, const Lead& lead) {
  const TypeId t = lead.type;
  if (block_family_q(t)) return block(parent, lead);
  if (text_family_q(t) || t == kTypeBinary) return text(parent, lead);
  if (binding_word_q(t)) return word(parent, lead);
  switch (t) {
    case kTypeVector: return vector(parent, lead);
    case kTypeBitset: return bitset(parent, lead);
    case kTypeImage: return image(parent, lead);
    case kTypeMap: return map(parent, lead);
    case kTypeObject: return object(parent, lead);
    case kTypeFunction: return function(parent, lead);
    case kTypeError: return error(parent, lead);
    case kTypeNative:
    case kTypeAction: return native(parent, lead);
    case kTypeOp: return op(parent, lead);
    case kTypeRoutine:
    case kTypeTriple:
    case kTypeHandle:
    case kTypePort:
    case kTypeEvent: {
      Cell datatype = datatype_cell(t);
      raise_error(kErrAccessNoCodec, &datatype);
    }
    default: break;
  }
  if (lead.reference) fail(lead.at);
  return scalar(parent, lead);
}

// The days of [month] (1-12) of [year].
int32_t days_in_month(int32_t year, int32_t month) {
  static constexpr int32_t kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && leap_year_q(year) ? 29 : kDays[month - 1];
}

int32_t Decoder::scalar(Node parent, const Lead& lead) {
  const TypeId t = lead.type;
  const size_t at = pos_;
  switch (t) {
    case kTypeDatatype: {
      uint32_t id = num();
      if (id == 0 || id > uint32_t(kMaxTypeId)) fail(at);
      return put(parent, datatype_cell(TypeId(id)));
    }
    case kTypeUnset: return put(parent, kUnsetCell);
    case kTypeNone: return put(parent, kNoneCell);
    case kTypeLogic: {
      if (compact_) fail(lead.at);  // logic! is only 0xC2 and 0xC3
      uint32_t b = u32();
      if (b > 1) fail(at);
      return put(parent, logic_cell(b == 1));
    }
    case kTypeChar: {
      uint32_t cp = num();
      if (cp > kMaxCodePoint) fail(at);
      return put(parent, char_cell(cp));
    }
    case kTypeInteger: return put(parent, integer_cell(snum()));
    case kTypeFloat:
    case kTypeTime:
    case kTypePercent: {
      double d;
      if (!compact_)
        d = dbl(true);
      else if (lead.variant)
        d = t == kTypePercent ? double(unzigzag(varint())) / 100 : double(unzigzag(varint()));
      else
        d = dbl(false);
      return put(parent, float_cell(d, t));
    }
    case kTypePair: {
      int32_t x = snum();
      int32_t y = snum();
      return put(parent, pair_cell(x, y));
    }
    case kTypePoint2D:
    case kTypePoint3D: {
      float x = std::bit_cast<float>(u32());
      float y = std::bit_cast<float>(u32());
      if (t == kTypePoint2D) return put(parent, point2d_cell(x, y));
      float z = std::bit_cast<float>(u32());
      return put(parent, point3d_cell(x, y, z));
    }
    case kTypeTypeset: {
      uint32_t w[3] = {};
      if (compact_) {
        uint8_t n = u8();
        if (n > 12) fail(at);
        uint8_t map[12] = {};
        take(map, n);
        std::memcpy(w, map, sizeof map);
      } else {
        for (uint32_t& x : w) x = u32();
      }
      return put(parent, typeset_words_cell(w[0], w[1], w[2]));
    }
    case kTypeTuple: {
      uint32_t n = 3;
      uint8_t b[12] = {};
      if (compact_) {
        if (lead.variant) n = u8();
        if (n < 1 || n > 12) fail(at);
        take(b, n);
      } else {
        n = (lead.bits >> kPlainByteShift) & 0xFF;
        if (n < 1 || n > 12) fail(lead.at);
        take(b, 12);
        std::memset(b + n, 0, 12 - n);
      }
      // Fewer than 3 bytes read as 3, the missing ones zero.
      if (n < kTupleMinLength) n = kTupleMinLength;
      uint32_t w[3];
      std::memcpy(w, b, sizeof w);
      return put(parent, tuple_cell(n, w[0], w[1], w[2]));
    }
    case kTypeDate: {
      uint32_t packed = u32();
      const bool time = date_word_has_time(packed);
      if (compact_ && time != lead.variant) fail(at);
      int32_t month = date_word_month(packed), day = date_word_day(packed);
      if (month < 1 || month > 12 || day < 1 || day > days_in_month(date_word_year(packed), month)) fail(at);
      size_t time_at = pos_;
      double seconds = 0;
      if (!compact_)
        seconds = dbl(true);
      else if (time)
        seconds = dbl(false);
      if (time) {
        double local = seconds + date_zone_seconds(date_word_zone(packed));
        if (!(local >= 0 && local < 86400)) fail(time_at);
      } else {
        seconds = 0;
      }
      return put(parent, date_cell(packed, seconds));
    }
    case kTypeMoney: {
      const bool negative = compact_ ? lead.variant : (lead.bits & kPlainMoneyNegative) != 0;
      uint8_t currency = u8();
      if (currency > 0) {
        Cell list = money_currency_list();
        if (currency > series_cell_count(list.node())) fail(at);
      }
      uint8_t digits[kMoneyDigitBytes];
      size_t digits_at = pos_;
      take(digits, kMoneyDigitBytes);
      for (int i = 0; i < kMoneyDigitBytes; i++)
        if ((digits[i] >> 4) > 9 || (digits[i] & 15) > 9) fail(digits_at + size_t(i));
      return put(parent, money_cell(negative, currency, digits));
    }
    case kTypeIssue: {
      int32_t sym = read_symbol();
      // Boot data leaves the global words word loading would: an issue's
      // name among them.
      if (!user_) context_add_global(sym, true, true);
      return put(parent, word_cell(kTypeIssue, g_global_context, sym, -1));
    }
    default: fail(lead.at);
  }
}

// A new series value is appended first and filled after; its cells are
// counted against the bytes left before anything is allocated.
int32_t Decoder::block(Node parent, const Lead& lead) {
  const int32_t head = head_of(lead);
  if (lead.reference) return series_reference(parent, lead, head);
  const uint32_t n = count();
  Node node = series_alloc_cells(n ? n : 1);
  if (!user_) series_set_flags(node, kSeriesLibraryCode);
  const int32_t i = put(parent, series_cell(lead.type, node, head));
  for (uint32_t k = 0; k < n; k++) record(node);
  if (lead.type == kTypeHash) {
    StackSave save;
    Cell* hash = stack_push_value(cell_at(parent, i));
    series_hash_index_new(hash);
    cell_at(parent, i) = *hash;
  }
  return i;
}

int32_t Decoder::text(Node parent, const Lead& lead) {
  const TypeId t = lead.type;
  const int32_t head = head_of(lead);
  if (lead.reference) return series_reference(parent, lead, head);
  const size_t at = pos_;
  uint32_t unit = 1, length;
  if (compact_) {
    uint32_t l = varint();
    if (t == kTypeBinary) {
      length = l;
    } else {
      if ((l & 3) == 3) fail(at);
      unit = unit_of_code(l & 3);
      length = l >> 2;
    }
  } else {
    unit = (lead.bits >> kPlainByteShift) & 0xFF;
    // binary! is always of 1-byte units (0 read as 1).
    if (t == kTypeBinary ? unit > 1 : unit != 1 && unit != 2 && unit != 4) fail(lead.at);
    if (t == kTypeBinary) unit = 1;
    length = u32();
  }
  if (uint64_t(length) * unit > left()) fail(at);
  const size_t bytes = size_t(length) * unit;
  if (unit == 4)
    for (size_t k = 0; k < bytes; k += 4)
      if (unit_get(data_.data() + pos_ + k, 4) > kMaxCodePoint) fail(pos_ + k);
  StackSave save;
  Cell* v = stack_push();
  if (t == kTypeBinary)
    binary_make_at(v, length);
  else
    string_init_unit(v, length, unit);
  uint8_t* dst = reserve_tail(v->node(), uint32_t(bytes));
  std::memcpy(dst, data_.data() + pos_, bytes);
  pos_ += bytes;
  if (!compact_) skip_pad(bytes);
  v->set_type(t);
  v->set_head(head);
  return put(parent, *v);
}

int32_t Decoder::vector(Node parent, const Lead& lead) {
  const int32_t head = head_of(lead);
  if (lead.reference) return series_reference(parent, lead, head);
  const size_t at = pos_;
  uint32_t unit, element, n;
  if (compact_) {
    uint8_t b = u8();
    element = b >> 2;
    unit = unit_of_code(b & 3);
    n = count(unit);
  } else {
    unit = (lead.bits >> kPlainByteShift) & 0xFF;
    n = count(unit ? unit : 1);
    element = u32();
  }
  const bool fits = (element == kTypeChar || element == kTypeInteger) ? (unit == 1 || unit == 2 || unit == 4)
                    : element == kTypeFloat                           ? (unit == 4 || unit == 8)
                                                                      : element == kTypePercent && unit == 8;
  if (!fits) fail(at);
  const size_t bytes = size_t(n) * unit;
  need(bytes);
  if (element == kTypeChar && unit == 4)
    for (size_t k = 0; k < bytes; k += 4)
      if (unit_get(data_.data() + pos_ + k, 4) > kMaxCodePoint) fail(pos_ + k);
  StackSave save;
  Cell* v = stack_push();
  vector_init(v, n, TypeId(element), unit);
  uint8_t* dst = reserve_tail(v->node(), uint32_t(bytes));
  std::memcpy(dst, data_.data() + pos_, bytes);
  pos_ += bytes;
  if (!compact_) skip_pad(bytes);
  v->set_head(head);
  return put(parent, *v);
}

int32_t Decoder::bitset(Node parent, const Lead& lead) {
  if (lead.reference) return series_reference(parent, lead, 0);
  const uint32_t n = count();
  const bool complement = compact_ ? lead.variant : (lead.bits & kPlainComplement) != 0;
  StackSave save;
  Cell* v = stack_push_value(bitset_cell(series_alloc_bytes(n)));
  uint8_t* dst = reserve_tail(v->node(), n);
  std::memcpy(dst, data_.data() + pos_, n);
  pos_ += n;
  if (!compact_) skip_pad(n);
  if (complement) series_set_flags(v->node(), kBitsetComplement);
  return put(parent, *v);
}

// The size is checked against the image limits before the pixels are read
// or anything is allocated.
int32_t Decoder::image(Node parent, const Lead& lead) {
  const int32_t head = head_of(lead);
  if (lead.reference) return series_reference(parent, lead, head);
  const size_t at = pos_;
  uint32_t width, height;
  if (compact_) {
    width = varint();
    height = varint();
  } else {
    const uint32_t size = u32();
    width = size & 0xFFFF;
    height = size >> 16;
  }
  if (width > uint32_t(kImageSideMax) || height > uint32_t(kImageSideMax) ||
      int64_t(width) * height > kImagePixelsMax)
    fail(at);
  const size_t count = size_t(width) * height;
  need(count * 4);
  std::vector<uint32_t> pixels(count);
  for (size_t k = 0; k < count; k++) pixels[k] = unit_get(data_.data() + pos_ + 4 * k, 4);
  pos_ += count * 4;
  StackSave save;
  Cell* v = image_push(int32_t(width), int32_t(height), count ? pixels.data() : nullptr);
  v->set_head(head);
  return put(parent, *v);
}

// The pairs are decoded into a block of their own and indexed when complete;
// until then the map's place holds that block as a block!, so that a path
// into the pairs (a series shared by two of its values) finds them. A map
// holding itself is refused: its own record is no map yet.
int32_t Decoder::map(Node parent, const Lead& lead) {
  if (lead.reference) return series_reference(parent, lead, 0);
  const size_t at = pos_;
  const uint32_t n = count();
  if (n % 2) fail(at);
  StackSave save;
  Cell* pairs = block_push_only(int32_t(n));
  const int32_t i = put(parent, series_cell(kTypeBlock, pairs->node()));
  for (uint32_t k = 0; k < n; k++) {
    size_t key_at = pos_;
    record(pairs->node());
    if (k % 2 == 0 && !map_valid_key_type_q(series_cells(pairs->node())[k].type())) fail(key_at);
  }
  Cell* m = stack_push();
  map_make_at(m, pairs->node(), 0);
  m->clear_new_line();
  cell_at(parent, i) = *m;
  return i;
}

// ---------------------------------------------------------------- references

// Reads a reference path (the compact path, or the plain reference body
// starting with its 255 word) and returns a copy of the value it designates.
Cell Decoder::reference(size_t at) {
  if (!compact_) {
    uint32_t w = u32();
    if ((w & kTypeMask) != kPlainReference) fail(at);
  }
  const size_t n_at = pos_;
  const uint32_t n = num();
  if (n == 0 || n > kMaxPathLength || uint64_t(n) > left()) fail(n_at);
  // Paths are short: the steps of most fit here without an allocation.
  constexpr uint32_t kShortPath = 16;
  uint32_t short_path[kShortPath];
  size_t short_positions[kShortPath];
  std::vector<uint32_t> long_path;
  std::vector<size_t> long_positions;
  uint32_t* path = short_path;
  size_t* positions = short_positions;
  if (n > kShortPath) {
    long_path.resize(n);
    long_positions.resize(n);
    path = long_path.data();
    positions = long_positions.data();
  }
  for (uint32_t k = 0; k < n; k++) {
    positions[k] = pos_;
    path[k] = num();
  }
  return resolve(path, positions, n);
}

Cell Decoder::resolve(const uint32_t* path, const size_t* at, uint32_t steps) {
  Cell v = *target_;
  for (size_t k = 0; k < steps; k++) {
    // Boot data counts top-level positions from the first cell it appended.
    const uint64_t i64 = k == 0 && !user_ ? uint64_t(path[k]) + base_ : path[k];
    if (i64 > UINT32_MAX) fail(at[k]);
    const uint32_t i = uint32_t(i64);
    const TypeId t = v.type();
    if (block_family_q(t) || t == kTypeMap) {
      Node n = t == kTypeMap ? map_pairs(&v) : v.node();
      if (i >= series_cell_count(n)) fail(at[k]);
      v = series_cells(n)[i];
      // An empty pair's value and a packed key are no values of their own.
      if (v.type() == kTypeNil || (t == kTypeMap && v.is(kTypeUnset))) fail(at[k]);
      continue;
    }
    if (t == kTypeObject || t == kTypeError) {
      Node ctx = object_context(&v);
      int64_t slot = t == kTypeError ? int64_t(int32_t(i)) + 3 : int64_t(i);
      Cell* c = slot >= 0 && slot <= INT32_MAX && !context_stack_q(ctx)
                    ? context_peek_slot(ctx, int32_t(slot))
                    : nullptr;
      if (!c) fail(at[k]);
      v = *c;
      continue;
    }
    if (binding_word_q(t)) {
      Node ctx = word_context(&v);
      if (!ctx) fail(at[k]);
      if (context_stack_q(ctx)) {
        // A word of a function's context stands for the function.
        v = *context_self_cell(ctx);
        if (!v.is(kTypeFunction)) fail(at[k]);
        k--;
        continue;
      }
      Cell* c = i <= INT32_MAX ? context_peek_slot(ctx, int32_t(i)) : nullptr;
      if (!c) fail(at[k]);
      v = *c;
      continue;
    }
    if (t == kTypeNative || t == kTypeAction) {
      Node spec = native_spec(&v);
      if (i >= series_cell_count(spec)) fail(at[k]);
      v = series_cells(spec)[i];
      continue;
    }
    if (t == kTypeFunction || t == kTypeOp) {
      if (i == 0) {
        v = series_cell(kTypeBlock,
                        t == kTypeOp && !op_over_function_q(&v) ? native_spec(&v) : function_spec(&v));
      } else if (i == 1 && t == kTypeFunction) {
        v = kiv::function_body(&v);
        if (!v.is(kTypeBlock)) fail(at[k]);
      } else {
        fail(at[k]);
      }
      continue;
    }
    fail(at[k]);
  }
  return v;
}

// The record's value made over the series a reference path designates: a
// series of the same storage (cells, text units, bytes, vector elements,
// bits, map pairs) taking the record's type and [head].
int32_t Decoder::series_reference(Node parent, const Lead& lead, int32_t head) {
  const size_t at = pos_;
  const Cell d = reference(at);
  const TypeId t = lead.type, dt = d.type();
  Cell v;
  if (block_family_q(t) && block_family_q(dt)) {
    v = series_cell(t, d.node(), head);
    if (t == kTypeHash && dt == kTypeHash) block_set_hash_index(&v, block_hash_index(&d));
  } else if (text_family_q(t) && text_family_q(dt)) {
    v = series_cell(t, d.node(), head);
  } else if (t == dt && t == kTypeBinary) {
    v = binary_cell(d.node(), head);
  } else if (t == dt && t == kTypeVector) {
    v = vector_cell(d.node(), vector_element_type(&d), head);
  } else if (t == dt && t == kTypeImage) {
    v = image_cell(d.node(), image_width(&d), image_height(&d), head);
  } else if (t == dt && (t == kTypeBitset || t == kTypeMap)) {
    v = d;
    v.clear_new_line();
  } else {
    fail(at);
  }
  return put(parent, v);
}

// The context a word or object record takes from the designated value [v]:
// an object's or error's, a function's (or an op!'s function's), another
// word's. [want] (object! or function!) asks for a context owned by one.
Node Decoder::context_of_designated(const Cell& v, size_t at, TypeId want) {
  Node ctx = 0;
  const TypeId t = v.type();
  if (t == kTypeObject || t == kTypeError)
    ctx = object_context(&v);
  else if (t == kTypeFunction || (t == kTypeOp && op_over_function_q(&v)))
    ctx = function_context(&v);
  else if (binding_word_q(t))
    ctx = word_context(&v);
  if (!ctx || ctx == g_global_context) fail(at);
  if (want != kTypeNil) {
    const Cell self = *context_self_cell(ctx);
    const bool object_owner = (self.is(kTypeObject) || self.is(kTypeError)) && object_context(&self) == ctx;
    const bool function_owner = self.is(kTypeFunction) && function_context(&self) == ctx;
    if (want == kTypeObject ? !object_owner : !function_owner) fail(at);
  }
  return ctx;
}

// ---------------------------------------------------------------- words

int32_t Decoder::word(Node parent, const Lead& lead) {
  const TypeId t = lead.type;
  const size_t sym_at = pos_;
  const uint32_t sym_index = num();
  const int32_t sym = symbol(sym_index, sym_at);
  if (!user_) return boot_word(parent, lead, sym, sym_index, t);
  const bool global = compact_ ? !lead.variant : (lead.bits & kPlainGlobalWord) != 0;
  if (global) {
    if (!compact_) u32();  // the slot, which the global context finds again
    Cell w = context_global_word(sym);
    w.set_header(t);
    return put(parent, w);
  }
  if (lead.reference) return referenced_word(parent, t, sym);
  const size_t slot_at = pos_;
  const int32_t slot = snum();
  // An object or function written inline: the word takes its new context.
  const size_t at = pos_;
  TypeId owner;
  bool events;
  if (compact_) {
    uint8_t b = u8();
    owner = TypeId(b & kTypeIdMask);
    events = b & kVariantBit;
  } else {
    uint32_t h = u32();
    owner = TypeId(h & kTypeMask);
    events = h & kPlainEvents;
    if (h & kPlainRefForm) fail(at);
  }
  Attach attach{parent, t, sym, slot, slot_at};
  if (owner == kTypeObject) return object_body(attach, events, slot_at);
  if (owner == kTypeFunction) return function_body(attach, slot_at);
  fail(at);
}

// The slot, then the reference path to a value whose context the word
// takes (an object's, a function's or another word's).
int32_t Decoder::referenced_word(Node parent, TypeId t, int32_t sym) {
  const size_t slot_at = pos_;
  const int32_t slot = snum();
  const size_t at = pos_;
  Node ctx = context_of_designated(reference(at), at, kTypeNil);
  if (slot < -1 || (slot >= 0 && uint32_t(slot) >= context_word_count(ctx))) fail(slot_at);
  return put(parent, word_cell(t, ctx, sym, slot));
}

// Boot data: global (compact V clear, plain position -1), or bound to the
// context of the value at a position counted from the first cell this
// decode appended, at a slot given or (-1) looked up by the symbol.
int32_t Decoder::boot_word(Node parent, const Lead& lead, int32_t sym, uint32_t sym_index, TypeId t) {
  // A reference: bound to an object or function met earlier in the same
  // top-level value.
  if (lead.reference) {
    if (compact_ && !lead.variant) fail(lead.at);
    return referenced_word(parent, t, sym);
  }
  const size_t at = pos_;
  int32_t position = -1, slot = -1;
  if (compact_) {
    if (lead.variant) {
      position = int32_t(varint());
      slot = unzigzag(varint());
    }
  } else {
    position = int32_t(u32());
    slot = int32_t(u32());
  }
  if (position == -1) {
    // As word loading binds: another spelling of a word already there shares
    // its slot and adds no word of its own. A name's global word is looked up
    // once a decode: its slot stays while the decode adds others.
    if (globals_.size() <= sym_index) globals_.resize(size_t(symbol_count_), Cell{});
    Cell& known = globals_[sym_index];
    if (known.is(kTypeNil)) known = context_add_global(sym, true, true);
    Cell w = known;
    w.set_header(t);
    return put(parent, w);
  }
  const uint32_t count = series_cell_count(target_->node());
  if (position < 0 || uint64_t(base_) + uint32_t(position) >= count) fail(at);
  const Cell owner = series_cells(target_->node())[base_ + uint32_t(position)];
  Node ctx = context_of_designated(owner, at, kTypeNil);
  if (slot == -1) slot = context_find_symbol(ctx, sym, true);
  if (slot < 0 || uint32_t(slot) >= context_word_count(ctx)) fail(at);
  return put(parent, word_cell(t, ctx, sym, slot));
}

// Appends the new [value] (or, for an inline owner, its word bound to [ctx]).
int32_t Decoder::attach_value(const Attach& attach, const Cell& value, Node ctx) {
  if (attach.word_type == kTypeNil) return put(attach.parent, value);
  // The slot must lie in the new context, as for a word bound by reference.
  if (attach.slot < -1 || (attach.slot >= 0 && uint32_t(attach.slot) >= context_word_count(ctx)))
    fail(attach.slot_at);
  return put(attach.parent, word_cell(attach.word_type, ctx, attach.symbol, attach.slot));
}

// Reads the context record of an object's or function's body: its type byte
// (or plain header), flags, words; the values are left to the caller.
// Returns the new context, pushed on the data stack, with *[values] telling
// whether value records follow.
Node Decoder::context_record(bool function, bool* values) {
  const size_t at = pos_;
  uint32_t kind;
  bool stack, self;
  if (compact_) {
    uint8_t b = u8();
    if ((b & kTypeIdMask) != kTypeContext) fail(at);
    const size_t flags_at = pos_;
    uint8_t flags = u8();
    kind = flags & kContextKindBits;
    stack = flags & kContextOnStack;
    self = flags & kContextSelf;
    *values = (flags & kContextValues) && !stack;
    (void)flags_at;
  } else {
    uint32_t h = u32();
    if ((h & kTypeMask) != kTypeContext) fail(at);
    kind = (h >> kPlainContextKindShift) & 3;
    stack = h & kPlainContextOnStack;
    self = h & kPlainContextSelf;
    *values = (h & kPlainContextValues) && !stack;
  }
  // Values on the data stack belong to a function body alone, and a
  // function's context has them there.
  if (stack != function || kind > kContextObject) fail(at);
  if (function && kind != kContextFunction) fail(at);
  const uint32_t n = count();
  // Held on the data stack, for the caller's StackSave to drop.
  Node ctx = context_create(n, stack, self, 0, ContextKind(kind));
  stack_push_value(context_view(ctx));
  for (uint32_t k = 0; k < n; k++) {
    const size_t sym_at = pos_;
    const int32_t sym = read_symbol();
    int32_t added = -1;
    if (context_add_symbol(ctx, sym, true, &added) != -1 || added != int32_t(k)) fail(sym_at);
  }
  return ctx;
}

// ---------------------------------------------------------------- objects

int32_t Decoder::object(Node parent, const Lead& lead) {
  if (lead.reference) {
    const size_t at = pos_;
    const Cell d = reference(at);
    Node ctx = context_of_designated(d, at, kTypeObject);
    Cell self = *context_self_cell(ctx);
    self.clear_new_line();
    return put(parent, self);
  }
  const bool events = compact_ ? lead.variant : (lead.bits & kPlainEvents) != 0;
  return object_body(Attach{parent}, events, lead.at);
}

int32_t Decoder::object_body(const Attach& attach, bool events, size_t at) {
  // User data: a decoded object gets a class of its own; boot data keeps
  // the stored one.
  const int32_t stored_class = snum();
  int32_t handlers[2] = {-1, -1};
  size_t handlers_at = pos_;
  if (events) {
    handlers[0] = snum();
    handlers[1] = snum();
  }
  bool values;
  StackSave save;
  Node ctx = context_record(false, &values);
  if (!user_ && stored_class > 0) object_reserve_class(uint32_t(stored_class));
  Cell* object = stack_push_value(object_cell(ctx, user_ ? object_new_class() : uint32_t(stored_class)));
  *context_self_cell(ctx) = *object;
  const int32_t i = attach_value(attach, *object, ctx);
  const uint32_t n = context_word_count(ctx);
  const Node block = Node(context_values(ctx));
  if (values)
    for (uint32_t k = 0; k < n; k++) record(block);
  else
    for (uint32_t k = 0; k < n; k++) put(block, kUnsetCell);
  if (series_cell_count(block) != n) fail(at);
  for (int32_t h : handlers)
    if (h < -1 || h >= int32_t(n)) fail(handlers_at);
  if (handlers[0] >= 0 || handlers[1] >= 0) {
    // The object is made the last value pushed, which the events attach to.
    object = stack_push_value(*object);
    object_attach_events(ctx, handlers[0], 0, handlers[1], 0);
    if (attach.word_type == kTypeNil) {
      const uint32_t flags = cell_at(attach.parent, i).header & kFlagNewLine;
      cell_at(attach.parent, i) = *object;
      cell_at(attach.parent, i).header |= flags;
    }
  }
  return i;
}

// ---------------------------------------------------------------- errors

int32_t Decoder::error(Node parent, const Lead& lead) {
  if (lead.reference) fail(lead.at);
  const size_t at = pos_;
  const uint32_t code = num();
  if (code > uint32_t(INT32_MAX) || !error_code_known_q(int32_t(code))) fail(at);
  StackSave save;
  Cell* spec = stack_push_value(integer_cell(int32_t(code)));
  MakeArgs args;
  args.spec = spec;
  Cell* err = error_make(stack_push(), args);
  const int32_t i = put(parent, *err);
  Cell* scratch = block_push_only(1);
  for (int32_t k = 0; k < 6; k++) {
    block_truncate(scratch, 0);
    record(scratch->node());
    Cell v = series_cells(scratch->node())[0];
    v.clear_new_line();
    error_set_field(err, ErrorField(kErrorArg1 + k), &v);
  }
  return i;
}

// ---------------------------------------------------------------- functions

int32_t Decoder::function(Node parent, const Lead& lead) {
  if (lead.reference) {
    const size_t at = pos_;
    const Cell d = reference(at);
    Node ctx = context_of_designated(d, at, kTypeFunction);
    Cell self = *context_self_cell(ctx);
    self.clear_new_line();
    return put(parent, self);
  }
  return function_body(Attach{parent}, lead.at);
}

// Sizes, the context record, then the spec and the body block records. The
// function is made, and appended, once the spec block is known, before the
// cells of its spec and body are read.
int32_t Decoder::function_body(const Attach& attach, size_t at) {
  const size_t sizes_at = pos_;
  const uint32_t spec_size = num();
  const uint32_t body_size = num();
  if (spec_size > left() || body_size > left()) fail(sizes_at);
  bool values;
  StackSave save;
  Node ctx = context_record(true, &values);
  Node spec;
  const bool spec_referenced = function_block_lead();
  if (spec_referenced)
    spec = block_reference().node();
  else
    spec = series_alloc_cells(spec_size ? spec_size : 1);
  stack_push_value(series_cell(kTypeBlock, spec));
  Node body = series_alloc_cells(body_size ? body_size : 1);
  // Boot data is library code: tracing tools keep out of its blocks.
  if (!user_) series_set_flags(body, kSeriesLibraryCode);
  stack_push_value(series_cell(kTypeBlock, body));
  Cell* fn = function_push_decoded(ctx, spec, body);
  const int32_t i = attach_value(attach, *fn, ctx);
  if (!spec_referenced) {
    const uint32_t n = count();
    for (uint32_t k = 0; k < n; k++) record(spec);
  }
  if (function_block_lead()) {
    Cell b = block_reference();
    function_set_body(fn, &b);
  } else {
    const uint32_t n = count();
    for (uint32_t k = 0; k < n; k++) record(body);
  }
  if (!function_decoded_finish(fn)) fail(at);
  if (attach.word_type == kTypeNil) {
    const uint32_t flags = cell_at(attach.parent, i).header & kFlagNewLine;
    cell_at(attach.parent, i) = *fn;
    cell_at(attach.parent, i).header |= flags;
  }
  return i;
}

// The lead of a function's spec or body record, which must be a block!
// record: true for the reference form.
bool Decoder::function_block_lead() {
  const size_t at = pos_;
  bool reference = false;
  if (compact_) {
    uint8_t b;
    for (;;) {
      b = u8();
      if (b == kNewLinePrefix) continue;
      if (b != kReferencePrefix) break;
      reference = true;
    }
    if (b >= 0x80 || (b & kTypeIdMask) != kTypeBlock) fail(at);
    if (b & kVariantBit) varint();
  } else {
    uint32_t h = u32();
    if ((h & kTypeMask) != kTypeBlock) fail(at);
    reference = h & kPlainRefForm;
    u32();  // head index
  }
  return reference;
}

// A reference path that must designate a block-family series: that series
// as a block! at its head.
Cell Decoder::block_reference() {
  const size_t at = pos_;
  const Cell d = reference(at);
  if (!block_family_q(d.type())) fail(at);
  return series_cell(kTypeBlock, d.node());
}

// ---------------------------------------------------------------- natives and ops

// The id, then the spec record, which must give a block!: the value is made
// from both as make native! (or action!) makes it.
int32_t Decoder::native(Node parent, const Lead& lead) {
  if (lead.reference) fail(lead.at);
  const size_t at = pos_;
  const uint32_t id = num();
  const bool known = lead.type == kTypeNative
                         ? id >= 1 && id <= uint32_t(kNativeCount) && native_callable_q(int32_t(id))
                         : id <= uint32_t(kActionCount) && action_callable_q(int32_t(id));
  if (!known) fail(at);
  StackSave save;
  // User data: the spec is read into a scratch block; boot data: it stays
  // in the block as the cell after the value.
  Node spec_block = user_ ? block_push_only(1)->node() : parent;
  const int32_t i = user_ ? -1 : put(parent, kNoneCell);
  const size_t spec_at = pos_;
  record(spec_block);
  if (!user_ && int32_t(series_cell_count(parent)) != i + 2) fail(spec_at);
  Cell* spec = stack_push_value(series_cells(spec_block)[user_ ? 0 : i + 1]);
  if (!spec->is(kTypeBlock)) fail(spec_at);
  spec->clear_new_line();
  if (!user_) {
    // Boot data: the spec the natives table checks and keeps as its own.
    cell_at(parent, i) = *base_environment_push_builtin(lead.type, int32_t(id), spec);
    return i;
  }
  Cell* make_spec = block_push_only(2);
  block_append_value(make_spec, spec);
  const Cell number = integer_cell(int32_t(id));
  block_append_value(make_spec, &number);
  MakeArgs args;
  args.spec = make_spec;
  Cell* made = lead.type == kTypeNative ? native_make(nullptr, args) : action_value_make(nullptr, args);
  return put(parent, *made);
}

// The record of the value the op! calls is read into the op!'s own place,
// so that paths through the op! find its function while it is read, then
// turned into the op!.
int32_t Decoder::op(Node parent, const Lead& lead) {
  if (lead.reference) fail(lead.at);
  const size_t at = pos_;
  record(parent);
  const int32_t i = int32_t(series_cell_count(parent)) - 1;
  StackSave save;
  Cell* fn = stack_push_value(cell_at(parent, i));
  fn->clear_new_line();
  const TypeId t = fn->type();
  if (!compact_ && uint32_t(t) != ((lead.bits >> kPlainOpTypeShift) & 0xFF)) fail(at);
  if (t != kTypeNative && t != kTypeAction && t != kTypeFunction) fail(at);
  if (!op_spec_valid_q(t == kTypeFunction ? function_spec(fn) : native_spec(fn))) fail(at);
  MakeArgs args;
  args.spec = fn;
  Cell* made = op_make(nullptr, args);
  cell_at(parent, i) = *made;
  return i;
}

// ---------------------------------------------------------------- entry

}  // namespace

void kivbin_decode(const uint8_t* data, size_t length, const Cell* target, const Cell* argument) {
  if (length < 8 || std::memcmp(data, "KIVBIN", 6) != 0) raise_error(kErrScriptInvalidData, argument);
  std::vector<uint8_t> input(data, data + length);
  if (input[7] & kKivbinCompressed) {
    std::vector<uint8_t> payload;
    if (!lz_decompress(input.data() + 8, input.size() - 8, &payload))
      raise_error(kErrScriptInvalidData, argument);
    input.resize(8);
    input.insert(input.end(), payload.begin(), payload.end());
  }
  // The plain form's root count and data size.
  if (!(input[7] & kKivbinCompact) && input.size() < 16) raise_error(kErrScriptInvalidData, argument);
  Decoder decoder(std::move(input), target, true);
  decoder.run();
}

namespace {

// Prints [message] and ends the process with status 1: how boot data that
// is not KIVBIN ends start-up.
[[noreturn]] void boot_data_refused(const char* message) {
  fd_write_all(1, message, std::strlen(message));
  process_exit(1);
}

}  // namespace

KivbinBootTimes kivbin_boot_times() { return g_boot_times; }

int32_t kivbin_load_boot_data(const uint8_t* data, size_t length, const Cell* target) {
  if (length < 8 || std::memcmp(data, "KIVBIN", 6) != 0) boot_data_refused("Error: Not a Kivbin file!\n");
  std::vector<uint8_t> input(data, data + length);
  if (input[7] & kKivbinCompressed) {
    std::vector<uint8_t> payload;
    if (!lz_decompress(input.data() + 8, input.size() - 8, &payload))
      boot_data_refused("Error: Kivbin compressed data corrupted!\n");
    input.resize(8);
    input.insert(input.end(), payload.begin(), payload.end());
  }
  // The thousands of series start-up decodes cannot start a collection.
  CollectorPause pause;
  const int32_t base = int32_t(series_cell_count(target->node()));
  Decoder decoder(std::move(input), target, false);
  decoder.run();
  return base;
}

}  // namespace kiv
