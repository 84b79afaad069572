// The routines of the kivbin codec object (encode*, decode) and unescape,
// the in-place unescaper of JSON strings.
#include <cstdint>

#include "datatypes/actions.h"
#include "datatypes/binary.h"
#include "datatypes/block.h"
#include "datatypes/logic.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "library/routines.h"
#include "runtime/errors.h"
#include "runtime/stack.h"
#include "services/kivbin.h"

namespace kiv {

// MAY ALLOCATE. The compact form when compact? is true, else the plain one.
KIV_ROUTINE(KivbinEncode) { return native_result(*kivbin_encode(a.data, logic_get(a.compact_q) != 0)); }

// MAY ALLOCATE, MAY RUN KIV CODE (reading a URL). A binary! from its
// position, or the bytes of a file! or url!; ten bytes or fewer, or anything
// else, raise script invalid-data with the payload.
KIV_ROUTINE(KivbinDecode) {
  StackSave save;
  Cell* data = stack_push_value(*a.payload);
  if (data->is(kTypeFile) || data->is(kTypeUrl)) {
    data = ActionCall(kActionRead).arg(*a.payload).ref("binary").run();
    data = stack_push_value(*data);
  }
  if (!data->is(kTypeBinary)) raise_error(kErrScriptInvalidData, a.payload);
  const int32_t length = binary_length(data);
  if (length <= 10) raise_error(kErrScriptInvalidData, a.payload);
  Cell* out = block_push_only(1);
  // The bytes are copied before anything is decoded.
  kivbin_decode(binary_head_ptr(data), size_t(length), out, a.payload);
  const Cell result = block_total_length(out) == 1 ? *block_ks_abs_at(out, 0) : *out;
  Cell value = result;
  value.clear_new_line();
  save.restore();
  return native_result(value);
}

namespace {

// The value of the hexadecimal digit [c], or -1.
int32_t hex_value(uint32_t c) {
  if (c >= '0' && c <= '9') return int32_t(c - '0');
  if (c >= 'a' && c <= 'f') return int32_t(c - 'a' + 10);
  if (c >= 'A' && c <= 'F') return int32_t(c - 'A' + 10);
  return -1;
}

// The UTF-16 unit of the four hexadecimal digits at absolute [at] of the text
// [node] (whose total length is [total]), or -1 when fewer remain or one is
// not a digit.
int32_t hex_unit(Node node, int32_t at, int32_t total) {
  if (at > total - 4) return -1;
  int32_t unit = 0;
  for (int32_t k = 0; k < 4; k++) {
    int32_t d = hex_value(string_char_at_node(node, uint32_t(at + k)));
    if (d < 0) return -1;
    unit = unit << 4 | d;
  }
  return unit;
}

}  // namespace

// MAY ALLOCATE (widening). Reads from the string's position and writes the
// characters back at a write index that never passes the read index; a
// character that needs a wider unit widens the buffer, and reading goes on at
// the same index. The tail is cut at the write index.
KIV_ROUTINE(Unescape) {
  const Node node = a.str->node();
  const int32_t total = string_total_length(a.str);
  int32_t r = string_head_index(a.str);
  int32_t w = r;
  auto bad = [&a] { raise_error(kErrScriptInvalidData, a.str); };
  while (r < total) {
    uint32_t c = string_char_at_node(node, uint32_t(r++));
    if (c == '\\') {
      if (r >= total) bad();
      const uint32_t e = string_char_at_node(node, uint32_t(r++));
      switch (e) {
        case '"':
        case '\\':
        case '/': c = e; break;
        case 'b': c = 8; break;
        case 'f': c = 12; break;
        case 'n': c = 10; break;
        case 'r': c = 13; break;
        case 't': c = 9; break;
        case 'u': {
          const int32_t high = hex_unit(node, r, total);
          if (high < 0) bad();
          r += 4;
          c = uint32_t(high);
          if (high >= 0xD800 && high <= 0xDBFF) {
            if (r > total - 6 || string_char_at_node(node, uint32_t(r)) != '\\' ||
                string_char_at_node(node, uint32_t(r + 1)) != 'u')
              bad();
            const int32_t low = hex_unit(node, r + 2, total);
            if (low < 0xDC00 || low > 0xDFFF) bad();
            r += 6;
            c = 0x10000 + (uint32_t(high - 0xD800) << 10) + uint32_t(low - 0xDC00);
          }
          break;
        }
        default: bad();
      }
    }
    string_write_char(node, uint32_t(w++), c);
  }
  string_buffer_truncate(node, uint32_t(w));
  return native_result(*a.str);
}

}  // namespace kiv
