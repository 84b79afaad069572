// url! and file!: percent-encoding and decoding, the OS form of paths, the
// molds, make and to from a block, path access, and the registrations.
// Cell and buffer as string! (datatypes/string.h); every other slot they
// support is string!'s, taken through the parent.
//
// Sources are read by index from their node (or copied aside first) and the
// output re-derived by every append, so nothing holds a pointer into a buffer
// across an allocation.
#include "datatypes/file.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "datatypes/actions.h"
#include "datatypes/datatype.h"
#include "datatypes/form.h"
#include "datatypes/integer.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "platform/directory.h"
#include "runtime/errors.h"
#include "runtime/stack.h"
#include "runtime/unicode.h"

namespace kiv {

namespace {

using CharTable = std::array<bool, 128>;

constexpr CharTable table_of(const char* extra) {
  CharTable t{};
  for (int c = '0'; c <= '9'; c++) t[c] = true;
  for (int c = 'A'; c <= 'Z'; c++) t[c] = t[c + 32] = true;
  for (const char* p = extra; *p; p++) t[uint8_t(*p)] = true;
  return t;
}

constexpr CharTable kFileChars = table_of("!#$&'()*+,-./:=?@_~");
constexpr CharTable kMoldChars = table_of("!#$&'*+-./:=?@_~");
constexpr CharTable kUrlChars = table_of("-._~");

// The value of the hexadecimal digit [cp], or -1.
int hex_value(uint32_t cp) {
  if (cp >= '0' && cp <= '9') return int(cp - '0');
  if (cp >= 'A' && cp <= 'F') return int(cp - 'A' + 10);
  if (cp >= 'a' && cp <= 'f') return int(cp - 'a' + 10);
  return -1;
}

// The code points of [str] from its head, copied out of the buffer.
std::vector<uint32_t> code_points_of(const Cell* str) {
  std::vector<uint32_t> out(size_t(string_length(str)));
  uint32_t head = uint32_t(string_head_index(str));
  for (size_t i = 0; i < out.size(); i++) out[i] = string_char_at(str, head + uint32_t(i));
  return out;
}

// The escaped text of [str] from its head: its UTF-8 bytes, each as itself
// when in [table], else %XY.
std::string encoded_text(const Cell* str, UrlTable table) {
  std::string out;
  uint32_t head = uint32_t(string_head_index(str));
  uint32_t total = uint32_t(string_total_length(str));
  for (uint32_t i = head; i < total; i++) {
    uint8_t bytes[4];
    int n = utf8_encode(string_char_at(str, i), bytes);  // raises invalid-char past U+10FFFF
    for (int k = 0; k < n; k++) {
      if (url_char_q(table, bytes[k])) {
        out += char(bytes[k]);
      } else {
        out += '%';
        out += string_byte_to_hex(bytes[k]).view();
      }
    }
  }
  return out;
}

// The byte of the escape "%XY" at [i] of [cps], or -1.
int escape_at(const std::vector<uint32_t>& cps, size_t i) {
  if (i + 2 >= cps.size() || cps[i] != '%') return -1;
  int hi = hex_value(cps[i + 1]), lo = hex_value(cps[i + 2]);
  return hi < 0 || lo < 0 ? -1 : hi * 16 + lo;
}

// Bytes of the UTF-8 sequence that [lead] starts (2, 3 or 4), or 1.
int sequence_length(int lead) {
  if ((lead & 0xE0) == 0xC0) return 2;
  if ((lead & 0xF0) == 0xE0) return 3;
  if ((lead & 0xF8) == 0xF0) return 4;
  return 1;
}

}  // namespace

// ---------------------------------------------------------------- percent escapes

bool url_char_q(UrlTable table, uint32_t cp) {
  if (cp >= 128) return false;
  switch (table) {
    case UrlTable::kFile: return kFileChars[cp];
    case UrlTable::kUrl: return kUrlChars[cp];
    case UrlTable::kMold: return kMoldChars[cp];
  }
  return false;
}

int32_t url_encode_byte(Cell* out, UrlTable table, uint8_t byte) {
  if (url_char_q(table, byte)) {
    append_char(out->node(), byte);
    return 1;
  }
  append_char(out->node(), '%');
  return 1 + string_append_c_string(out, string_byte_to_hex(byte).view());
}

int32_t url_encode(const Cell* source, Cell* out, UrlTable table) {
  return string_append_c_string(out, encoded_text(source, table));
}

void url_decode(const Cell* source, Cell* out) {
  const std::vector<uint32_t> cps = code_points_of(source);
  for (size_t i = 0; i < cps.size();) {
    int byte = escape_at(cps, i);
    if (byte < 0) {
      append_char(out->node(), cps[i++]);
      continue;
    }
    int length = sequence_length(byte);
    if (length == 1) {
      append_char(out->node(), uint32_t(byte));
      i += 3;
      continue;
    }
    uint8_t bytes[4] = {uint8_t(byte)};
    int k = 1;
    for (; k < length; k++) {
      int next = escape_at(cps, i + 3 * size_t(k));
      if (next < 0) break;
      bytes[k] = uint8_t(next);
    }
    if (k < length) {
      // The lead lacks its escapes: the "%" is plain text.
      append_char(out->node(), cps[i++]);
      continue;
    }
    uint32_t used = uint32_t(length);
    int32_t cp = utf8_decode_char(bytes, &used);  // raises invalid-utf8 for a bad sequence
    if (cp < 0 || used != uint32_t(length)) raise_invalid_utf8(bytes, uint32_t(length));
    append_char(out->node(), uint32_t(cp));
    i += 3 * size_t(length);
  }
}

// ---------------------------------------------------------------- OS paths

void file_write_os_path(const Cell* file, Cell* out, bool prefix) {
  if (prefix &&
      !(string_length(file) > 0 && string_char_at(file, uint32_t(string_head_index(file))) == '/')) {
    StackSave save;
    Cell* dir = file_get_current_dir();
    string_concatenate(out, dir, -1, 0, ConcatMode::kAppend);
  }
  string_concatenate(out, file, -1, 0, ConcatMode::kAppend);
}

std::string file_to_os_path(const Cell* file) {
  if (string_find_char(file, 0) >= 0) raise_error(kErrScriptInvalidArg, file);
  return string_to_utf8(file);
}

Cell* file_get_current_dir() {
  std::string dir;
  if (!os_get_current_dir(&dir)) {
    StackSave keep;
    Cell* here = string_make_at(stack_push(), 2);
    string_append_c_string(here, "./");
    here->set_type(kTypeFile);
    raise_error(kErrAccessCannotOpen, here);
  }
  if (dir.empty() || dir.back() != '/') dir += '/';
  Cell* out = string_make_at(stack_push(), uint32_t(dir.size()));
  string_append_utf8(out, dir);
  return out;
}

Cell* file_from_os_path(std::string_view path) {
  std::string text;
  text.reserve(path.size());
  for (char c : path)
    if (!(c == '/' && !text.empty() && text.back() == '/')) text += c;
  Cell* out = string_make_at(stack_push(), uint32_t(text.size()));
  string_append_utf8(out, text);
  out->set_type(kTypeFile);
  return out;
}

namespace {

// ---------------------------------------------------------------- molds

// A url! writes its UTF-8 bytes escaped through the mold table, without
// delimiters; under /part it stops once [limit] code points are written.
int32_t url_mold(Cell* value, const MoldArgs& args) {
  std::string text = encoded_text(value, UrlTable::kMold);
  if (args.part) text.resize(size_t(std::clamp<int64_t>(args.limit, 0, int64_t(text.size()))));
  return args.limit - string_append_c_string(args.buffer, text);
}

// Whether the code point [cp] of a file's text calls for quotes: a character
// below 127 outside the mold table, a control character (127-159) or a code
// point UTF-8 text may not carry, which are then written as string escapes,
// or a blank from beyond ASCII, which would end the file's text when loaded.
bool file_quote_q(uint32_t cp) {
  return cp < 127 ? !kMoldChars[cp] : cp < 160 || utf8_refused_q(cp) || unicode_blank_q(cp);
}

// A file! writes "%" and its text (the range cut by /part as string!'s mold
// cuts it); between double quotes, with double quotes, carets and control
// characters escaped as in a string!, when any code point calls for quotes.
// An empty file is %"" and the file ":" is %":", since a bare "%" loads as
// the remainder operator's word and "%:" as its set-word.
int32_t file_mold(Cell* value, const MoldArgs& args) {
  const int32_t before = string_total_length(args.buffer);
  const int32_t length = string_length(value);
  const uint32_t head = uint32_t(string_head_index(value));
  uint32_t n = uint32_t(length);
  if (args.part && !(args.part->is(kTypeInteger) && integer_get(args.part) == 0))
    n = uint32_t(std::clamp(args.limit, 0, length));
  bool quotes = length == 0 || (n == 1 && string_char_at(value, head) == ':');
  for (uint32_t i = 0; i < n && !quotes; i++) quotes = file_quote_q(string_char_at(value, head + i));
  append_char(args.buffer->node(), '%');
  if (!quotes) {
    string_concatenate(args.buffer, value, int32_t(n), 0, ConcatMode::kAppend);
  } else {
    append_char(args.buffer->node(), '"');
    for (uint32_t i = 0; i < n; i++)
      string_mold_char(args.buffer, string_char_at(value, head + i), kMoldCharEscape, false);
    append_char(args.buffer->node(), '"');
  }
  return args.limit - (string_total_length(args.buffer) - before);
}

// ---------------------------------------------------------------- make and to

// MAY ALLOCATE. Forms the value at [index] of the block [block] onto [out].
void form_block_value(Node block, uint32_t index, Cell* out) {
  StackSave save;
  Cell* item = stack_push_value(series_buffer(block)->head_cell()[index]);
  form_whole(item, out);
}

// MAY ALLOCATE. A new url! built from the values of the block [spec]: scheme
// "://" host, then ":" port when the third value is an integer!, then "/" and
// the rest, each followed by "/", or by "#" before an issue!.
Cell* url_from_block(const Cell* spec) {
  const Node block = spec->node();
  const uint32_t head = uint32_t(std::max(spec->head(), 0));
  auto count = [&] {
    uint32_t total = series_buffer(block)->length();
    return total > head ? total - head : 0;
  };
  if (count() == 0) {
    Cell datatype = datatype_cell(kTypeUrl);
    raise_error(kErrScriptBadToArg, &datatype, spec);
  }
  Cell* out = string_make_at(stack_push(), 16);
  form_block_value(block, head, out);
  string_append_c_string(out, "://");
  uint32_t i = 1;
  if (i < count()) form_block_value(block, head + i++, out);
  if (i < count() && series_buffer(block)->head_cell()[head + i].is(kTypeInteger)) {
    append_char(out->node(), ':');
    form_block_value(block, head + i++, out);
  }
  if (i < count()) append_char(out->node(), '/');
  for (; i < count(); i++) {
    form_block_value(block, head + i, out);
    if (i + 1 < count())
      append_char(out->node(), series_buffer(block)->head_cell()[head + i + 1].is(kTypeIssue) ? '#' : '/');
  }
  out->set_type(kTypeUrl);
  return out;
}

Cell* url_make(Cell* proto, const MakeArgs& args) {
  if (make_target_type(proto) == kTypeUrl && is_any_list(args.spec->type())) return url_from_block(args.spec);
  return action_handler<&ActionSlots::make>(kTypeString, kActionMake)(proto, args);
}

Cell* url_to(Cell* proto, const MakeArgs& args) {
  if (make_target_type(proto) == kTypeUrl && is_any_list(args.spec->type())) return url_from_block(args.spec);
  return action_handler<&ActionSlots::to>(kTypeString, kActionTo)(proto, args);
}

// ---------------------------------------------------------------- path access

// Reading url/element gives a new value of the url's type: its text, one "/",
// and the formed element (a get-word! element stands for its value). An empty
// url adds no "/", so %"" and %name join to %name, not to a path from the root.
// Setting raises script bad-path-set.
Cell* url_eval_path(Cell* url, const EvalPathArgs& args) {
  if (args.value) raise_error(kErrScriptBadPathSet, args.path ? args.path : url, args.element);
  Cell* element = args.element->is(kTypeGetWord) ? word_get(args.element) : args.element;
  Cell* formed = form_to_new_string(element, 0);
  const int32_t url_length = string_length(url);
  const int32_t element_length = string_length(formed);
  Cell* out = string_make_at(stack_push(), uint32_t(url_length) + uint32_t(element_length) + 16);
  string_concatenate(out, url, -1, 0, ConcatMode::kAppend);
  const bool url_slash =
      url_length > 0 && string_char_at(url, uint32_t(string_head_index(url) + url_length - 1)) == '/';
  const bool element_slash =
      element_length > 0 && string_char_at(formed, uint32_t(string_head_index(formed))) == '/';
  if (url_slash && element_slash)
    formed->set_head(string_head_index(formed) + 1);
  else if (!url_slash && !element_slash && url_length > 0)
    append_char(out->node(), '/');
  string_concatenate(out, formed, -1, 0, ConcatMode::kAppend);
  out->set_type(url->type());
  return out;
}

}  // namespace

// ---------------------------------------------------------------- registration

void url_datatype_init() {
  // The text types' row without reflect, with its own make, to, mold and
  // path access.
  ActionSlots slots = string_text_slots();
  slots.reflect = nullptr;
  slots.make = url_make;
  slots.to = url_to;
  slots.mold = url_mold;
  slots.eval_path = url_eval_path;
  register_datatype({kTypeUrl, kTypeString, "url!", kActionCount, slots});
}

void file_datatype_init() {
  // Everything else as url! has it, unsupported slots included; open stays
  // unsupported when url! gets its own (other schemes open through ports).
  ActionSlots slots = inherit_all_slots();
  slots.mold = file_mold;
  slots.open = nullptr;
  register_datatype({kTypeFile, kTypeUrl, "file!", kActionCount, slots});
}

}  // namespace kiv
