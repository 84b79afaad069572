// string! form and mold, and the character escapes shared with char!.
//
// Mold writes short one-line texts without double quotes between double quotes,
// everything else between braces: braces when the molded range holds 3 or more
// line feeds or any double quote, or when the whole text from the head is 50 code
// points or longer. Control characters are escaped as ^letter in both forms.
// Braces inside the brace form stay raw while they balance; from the first "{"
// that is not closed within the range on, every "{" is written ^{, and a "}"
// without an open brace is written ^}.
//
// Invariant: the source is read by index and re-derived after every append (an
// append may move both buffers); it is never widened or changed.
#include <algorithm>

#include "datatypes/integer.h"
#include "datatypes/string.h"
#include "runtime/unicode.h"

namespace kiv {

namespace {

// The letter written after "^" for code points 0-94 (0: no escape).
constexpr char kMoldEscape[95] = {
    '@', 'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', '-', '/', 'K', 'L',  'M', 'N', 'O',  // 0-15
    'P', 'Q', 'R', 'S', 'T', 'U', 'V', 'W', 'X', 'Y', 'Z', '[', '\\', ']', '^', '_',  // 16-31
    0,   0,   '"', 0,   0,   0,   0,   0,   0,   0,   0,   0,   0,    0,   0,   0,    // 32-47
    0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,    0,   0,   0,    // 48-63
    0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,    0,   0,   0,    // 64-79
    0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   0,    0,   '^',       // 80-94
};

}  // namespace

int32_t string_mold_char(Cell* buffer, uint32_t cp, int mode, bool all) {
  Node out = buffer->node();
  // Code points that UTF-8 text may not carry are escaped too, so that the
  // mold loads back.
  if (cp == 30 || (cp >= 128 && cp <= 159) || (all && cp >= 128) || utf8_refused_q(cp)) {
    int32_t n = string_append_c_string(buffer, "^(");
    n += string_append_c_string(buffer, string_int_to_hex(int32_t(cp), true).view());
    return n + string_append_c_string(buffer, ")");
  }
  if (mode == kMoldCharEscape && cp < 95 && kMoldEscape[cp]) {
    append_char(out, '^');
    append_char(out, uint8_t(kMoldEscape[cp]));
    return 2;
  }
  if (mode == kMoldCharEscape && cp == 127) return string_append_c_string(buffer, "^~");
  append_char(out, cp);
  return 1;
}

int32_t string_form(Cell* value, const FormArgs& args) {
  int32_t limit = args.limit;
  int32_t length = string_length(value);
  int32_t n = args.part ? std::clamp(limit, 0, length) : length;
  string_concatenate(args.buffer, value, n, 0, ConcatMode::kAppend);
  return limit - length;
}

int32_t string_mold(Cell* value, const MoldArgs& args) {
  int32_t limit = args.limit;
  int32_t length = string_length(value);
  uint32_t head = uint32_t(string_head_index(value));
  uint32_t n = uint32_t(length);
  if (args.part && !(args.part->is(kTypeInteger) && integer_get(args.part) == 0))
    n = uint32_t(std::clamp(limit, 0, length));
  Node src = value->node();

  uint32_t quotes = 0, line_feeds = 0;
  for (uint32_t i = 0; i < n; i++) {
    uint32_t c = string_char_at_node(src, head + i);
    quotes += c == '"';
    line_feeds += c == '\n';
  }
  bool braces = line_feeds >= 3 || quotes > 0 || length >= 50;
  Node out = args.buffer->node();
  append_char(out, braces ? '{' : '"');

  if (!braces) {
    for (uint32_t i = 0; i < n; i++)
      string_mold_char(args.buffer, string_char_at_node(src, head + i), kMoldCharEscape, args.all);
  } else {
    bool balanced = true;
    int64_t open = 0;
    // Every "{" before this position is known to be closed within the range.
    uint32_t closed_until = 0;
    for (uint32_t i = 0; i < n; i++) {
      uint32_t c = string_char_at_node(src, head + i);
      switch (c) {
        case '{':
          if (balanced && i >= closed_until) {
            // Scan for the brace that closes this one; a brace nested inside is
            // closed too, so the scan never covers the same text twice.
            int64_t depth = 0;
            uint32_t j = i;
            for (; j < n; j++) {
              uint32_t d = string_char_at_node(src, head + j);
              depth += d == '{' ? 1 : d == '}' ? -1 : 0;
              if (depth == 0) break;
            }
            if (j < n)
              closed_until = j;
            else
              balanced = false;
          }
          if (balanced) {
            open++;
            append_char(out, '{');
          } else {
            string_append_c_string(args.buffer, "^{");
          }
          break;
        case '}':
          if (open < 1) {
            string_append_c_string(args.buffer, "^}");
          } else {
            open--;
            append_char(out, '}');
          }
          break;
        case '"': append_char(out, '"'); break;
        case '^': string_append_c_string(args.buffer, "^^"); break;
        default: string_mold_char(args.buffer, c, kMoldCharEscape, args.all);
      }
    }
  }
  append_char(out, braces ? '}' : '"');
  return limit - int32_t(n) - 2;
}

}  // namespace kiv
