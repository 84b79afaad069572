// Loaders of the text literals: strings ("..." and {...}), raw strings
// (%{...}%), chars, files, urls, emails, tags, refs, and binaries.
//
// A text literal of plain ASCII with nothing to decode is copied into a
// unit-1 series as it stands; any other is decoded into code points first
// and its series then allocated once, with the unit its widest code point
// needs. Escapes ("^") are decoded in strings, chars and quoted files only;
// "%XX" sequences in urls and unquoted files.
#include <cstring>

#include "datatypes/binary.h"
#include "evaluator/lexer_load_internal.h"
#include "runtime/memory.h"
#include "runtime/unicode.h"

namespace kiv::lexload {

namespace {

// The named escapes "^(name)", compared ignoring case.
struct NamedEscape {
  const char* name;
  uint32_t code;
};
constexpr NamedEscape kNamedEscapes[] = {
    {"null", 0}, {"back", 8}, {"tab", 9}, {"line", 10}, {"page", 12}, {"esc", 27}, {"del", 127},
};

bool name_equal_q(const uint8_t* p, const uint8_t* end, const char* name) {
  size_t n = std::strlen(name);
  if (size_t(end - p) != n) return false;
  for (size_t i = 0; i < n; i++) {
    uint8_t c = p[i];
    if (c >= 'A' && c <= 'Z') c = uint8_t(c + 32);
    if (c != uint8_t(name[i])) return false;
  }
  return true;
}

// Decodes [p, end) as UTF-8 into [out]; false on an invalid sequence.
bool decode_utf8_run(const uint8_t* p, const uint8_t* end, std::u32string* out) {
  while (p < end) {
    if (*p < 0x80) {
      out->push_back(*p++);
      continue;
    }
    int32_t cp;
    p = utf8_fast_decode_char(p, end, &cp);
    if (cp < 0) return false;
    out->push_back(char32_t(cp));
  }
  return true;
}

// "%XX" decoding: the bytes, and for each whether it came from an escape.
bool decode_percent(const uint8_t* p, const uint8_t* end, std::u32string* out) {
  std::string bytes;
  std::string escaped;
  while (p < end) {
    if (*p == '%' && end - p >= 3 && hex_value(p[1]) >= 0 && hex_value(p[2]) >= 0) {
      bytes.push_back(char(hex_value(p[1]) * 16 + hex_value(p[2])));
      escaped.push_back(1);
      p += 3;
    } else {
      bytes.push_back(char(*p++));
      escaped.push_back(0);
    }
  }
  const auto* b = reinterpret_cast<const uint8_t*>(bytes.data());
  const uint8_t* e = b + bytes.size();
  for (const uint8_t* q = b; q < e;) {
    if (*q < 0x80) {
      out->push_back(*q++);
      continue;
    }
    int32_t cp;
    const uint8_t* next = utf8_fast_decode_char(q, e, &cp);
    if (cp >= 0) {
      out->push_back(char32_t(cp));
      q = next;
    } else if (escaped[size_t(q - b)]) {
      // An escaped byte that leads no sequence stands for itself.
      out->push_back(*q++);
    } else {
      return false;
    }
  }
  return true;
}

// The content of a token between one leading and one trailing delimiter.
bool delimited(const LexToken& token, uint8_t open, uint8_t close, const uint8_t** p, const uint8_t** end) {
  if (token.end - token.start < 2 || token.start[0] != open || token.end[-1] != close) return false;
  *p = token.start + 1;
  *end = token.end - 1;
  return true;
}

// Decodes [p, end) and, with [load], writes the text value.
bool finish_text(LexToken& token, bool load, Cell* out, TypeId type, const uint8_t* p, const uint8_t* end,
                 bool escapes, bool percent) {
  // Plain ASCII with nothing to decode is copied as it stands.
  const uint8_t* q = p;
  while (q < end && *q < 0x80 && !(escapes && *q == '^') && !(percent && *q == '%')) q++;
  if (q == end) {
    if (load) {
      uint32_t n = uint32_t(end - p);
      Node node = series_alloc_units(n, 1);
      SeriesBuffer* b = series_buffer(node);
      if (n != 0) std::memcpy(b->head_ptr(), p, n);
      b->tail = b->head + n;
      put(out, series_cell(type, node));
    }
    return true;
  }
  std::u32string text;
  if (!decode_text(p, end, escapes, percent, &text)) return fail(token, type);
  if (load) make_text(out, type, text);
  return true;
}

}  // namespace

const uint8_t* decode_escape(const uint8_t* p, const uint8_t* end, uint32_t* cp) {
  if (p >= end) return nullptr;
  uint8_t c = *p;
  if (c == '(') {
    const uint8_t* close = p + 1;
    while (close < end && *close != ')') close++;
    if (close >= end || close == p + 1) return nullptr;
    const uint8_t* q = p + 1;
    if (close - q <= 6) {
      uint32_t value = 0;
      bool hex = true;
      for (const uint8_t* h = q; h < close && hex; h++) {
        int d = hex_value(*h);
        if (d < 0) hex = false;
        value = value * 16 + uint32_t(d < 0 ? 0 : d);
      }
      if (hex) {
        if (value > kMaxCodePoint) return nullptr;
        *cp = value;
        return close + 1;
      }
    }
    for (const NamedEscape& e : kNamedEscapes) {
      if (name_equal_q(q, close, e.name)) {
        *cp = e.code;
        return close + 1;
      }
    }
    return nullptr;
  }
  switch (c) {
    case '"': *cp = '"'; return p + 1;
    case '-': *cp = 9; return p + 1;
    case '/': *cp = 10; return p + 1;
    case '^': *cp = '^'; return p + 1;
    case '{':
    case '}': *cp = c; return p + 1;
    case '~': *cp = 127; return p + 1;
    case '@': *cp = 0; return p + 1;
    default: break;
  }
  if (c >= 'a' && c <= 'z') {
    *cp = uint32_t(c - 'a' + 1);
    return p + 1;
  }
  if (c >= 'A' && c <= '_') {
    *cp = uint32_t(c - 64);
    return p + 1;
  }
  if (c < 0x80) {
    *cp = c;
    return p + 1;
  }
  int32_t decoded;
  const uint8_t* next = utf8_fast_decode_char(p, end, &decoded);
  if (decoded < 0) return nullptr;
  *cp = uint32_t(decoded);
  return next;
}

bool decode_text(const uint8_t* p, const uint8_t* end, bool escapes, bool percent, std::u32string* out) {
  if (percent) return decode_percent(p, end, out);
  if (!escapes) return decode_utf8_run(p, end, out);
  while (p < end) {
    const uint8_t* run = p;
    while (p < end && *p != '^') p++;
    if (!decode_utf8_run(run, p, out)) return false;
    if (p == end) break;
    uint32_t cp;
    p = decode_escape(p + 1, end, &cp);
    if (!p) return false;
    out->push_back(char32_t(cp));
  }
  return true;
}

void make_text(Cell* out, TypeId type, const std::u32string& text) {
  uint32_t unit = 1;
  for (char32_t c : text) unit = std::max(unit, unit_for_code_point(uint32_t(c)));
  uint32_t n = uint32_t(text.size());
  Node node = series_alloc_units(n, unit);
  SeriesBuffer* b = series_buffer(node);
  uint8_t* dst = b->head_ptr();
  for (uint32_t i = 0; i < n; i++) unit_put(dst + size_t(i) * unit, unit, uint32_t(text[i]));
  b->tail = b->head + n * unit;
  put(out, series_cell(type, node));
}

bool load_string(LexToken& token, bool load, Cell* out) {
  const uint8_t* p;
  const uint8_t* end;
  if (!delimited(token, '"', '"', &p, &end) && !delimited(token, '{', '}', &p, &end))
    return fail(token, kTypeString);
  return finish_text(token, load, out, kTypeString, p, end, true, false);
}

// "%{", the content, "}%", with as many "%" after the "}" as before the "{".
// The content ends at the first "}" followed by that many "%"; the token may
// run on past it (token.resume then marks where the literal ends).
bool load_raw_string(LexToken& token, bool load, Cell* out) {
  const uint8_t* p = token.start;
  const uint8_t* end = token.end;
  size_t percents = 0;
  while (p < end && *p == '%') {
    p++;
    percents++;
  }
  if (percents == 0 || p >= end || *p != '{') return fail(token, kTypeString);
  const uint8_t* content = ++p;
  for (; p < end; p++) {
    if (*p != '}') continue;
    const uint8_t* q = p + 1;
    size_t n = 0;
    while (q < end && *q == '%') {
      q++;
      n++;
    }
    if (n < percents) continue;
    if (n > percents) return fail(token, kTypeString);
    if (q < end) token.resume = q;
    std::u32string text;
    if (!decode_text(content, p, false, false, &text)) return fail(token, kTypeString);
    if (load) make_text(out, kTypeString, text);
    return true;
  }
  return fail(token, kTypeString);
}

bool load_char(LexToken& token, bool load, Cell* out) {
  const uint8_t* p = token.start;
  const uint8_t* end = token.end;
  if (end - p < 4 || p[0] != '#' || p[1] != '"' || end[-1] != '"') return fail(token, kTypeChar);
  std::u32string text;
  if (!decode_text(p + 2, end - 1, true, false, &text) || text.size() != 1) return fail(token, kTypeChar);
  if (load) put(out, make_cell(kTypeChar, 0, uint32_t(text[0])));
  return true;
}

bool load_file(LexToken& token, bool load, Cell* out) {
  const uint8_t* p = token.start;
  const uint8_t* end = token.end;
  if (p >= end || *p != '%') return fail(token, kTypeFile);
  p++;
  if (p < end && *p == '"') {
    if (end - p < 2 || end[-1] != '"') return fail(token, kTypeFile);
    return finish_text(token, load, out, kTypeFile, p + 1, end - 1, true, false);
  }
  return finish_text(token, load, out, kTypeFile, p, end, false, true);
}

// A scheme of at least one character, ":", and at least one character more.
bool load_url(LexToken& token, bool load, Cell* out) {
  const uint8_t* p = token.start;
  const uint8_t* end = token.end;
  if (p >= end) return fail(token, kTypeUrl);
  if (*p == ':') return fail(token, kTypeGetWord);
  if (*p == '\'') return fail(token, kTypeLitWord);
  const uint8_t* colon = p;
  while (colon < end && *colon != ':') colon++;
  if (colon == p || end - colon < 2) return fail(token, kTypeUrl);
  return finish_text(token, load, out, kTypeUrl, p, end, false, true);
}

// A name, "@" and a host; the text is kept as written (":" may follow the "@").
bool load_email(LexToken& token, bool load, Cell* out) {
  const uint8_t* p = token.start;
  const uint8_t* end = token.end;
  const uint8_t* at = p;
  while (at < end && *at != '@') at++;
  if (at == p || at == end) return fail(token, kTypeEmail);
  return finish_text(token, load, out, kTypeEmail, p, end, false, false);
}

bool load_tag(LexToken& token, bool load, Cell* out) {
  const uint8_t* p;
  const uint8_t* end;
  if (!delimited(token, '<', '>', &p, &end)) return fail(token, kTypeTag);
  return finish_text(token, load, out, kTypeTag, p, end, false, false);
}

bool load_ref(LexToken& token, bool load, Cell* out) {
  const uint8_t* p = token.start;
  const uint8_t* end = token.end;
  if (end - p < 2 || *p != '@') return fail(token, kTypeRef);
  return finish_text(token, load, out, kTypeRef, p + 1, end, false, false);
}

// ---------------------------------------------------------------- binary

namespace {

int base64_value(uint8_t c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

// The content's significant characters: blanks, line ends and ";" comments
// (to the end of the line) dropped.
std::string binary_digits(const uint8_t* p, const uint8_t* end) {
  std::string digits;
  while (p < end) {
    uint8_t c = *p++;
    if (c == ';') {
      while (p < end && *p != '\n') p++;
    } else if (c != ' ' && c != '\t' && c != '\r' && c != '\n') {
      digits.push_back(char(c));
    }
  }
  return digits;
}

bool decode_base16(const std::string& digits, std::string* bytes) {
  if (digits.size() % 2 != 0) return false;
  for (size_t i = 0; i < digits.size(); i += 2) {
    int hi = hex_value(uint8_t(digits[i])), lo = hex_value(uint8_t(digits[i + 1]));
    if (hi < 0 || lo < 0) return false;
    bytes->push_back(char(hi * 16 + lo));
  }
  return true;
}

bool decode_base2(const std::string& digits, std::string* bytes) {
  if (digits.size() % 8 != 0) return false;
  for (size_t i = 0; i < digits.size(); i += 8) {
    int byte = 0;
    for (size_t k = 0; k < 8; k++) {
      char c = digits[i + k];
      if (c != '0' && c != '1') return false;
      byte = byte * 2 + (c - '0');
    }
    bytes->push_back(char(byte));
  }
  return true;
}

// Quanta of four characters; "=" pads only the last one (one or two of them).
bool decode_base64(const std::string& digits, std::string* bytes) {
  if (digits.size() % 4 != 0) return false;
  for (size_t i = 0; i < digits.size(); i += 4) {
    bool last = i + 4 == digits.size();
    int pad = 0;
    uint32_t bits = 0;
    for (size_t k = 0; k < 4; k++) {
      uint8_t c = uint8_t(digits[i + k]);
      if (c == '=') {
        if (!last || k < 2) return false;
        pad++;
        bits <<= 6;
        continue;
      }
      int v = base64_value(c);
      if (v < 0 || pad > 0) return false;
      bits = bits << 6 | uint32_t(v);
    }
    bytes->push_back(char(bits >> 16));
    if (pad < 2) bytes->push_back(char(bits >> 8 & 0xFF));
    if (pad < 1) bytes->push_back(char(bits & 0xFF));
  }
  return true;
}

}  // namespace

// An optional decimal base (16, 2 or 64; none is 16), "#{", the content, "}".
bool load_binary(LexToken& token, bool load, Cell* out) {
  const uint8_t* p = token.start;
  const uint8_t* end = token.end;
  int base = 0;
  int base_digits = 0;
  while (p < end && digit_q(*p) && base_digits < 3) {
    base = base * 10 + (*p++ - '0');
    base_digits++;
  }
  if (base_digits == 0) base = 16;
  if (base != 16 && base != 2 && base != 64) return fail(token, kTypeBinary);
  if (end - p < 3 || p[0] != '#' || p[1] != '{' || end[-1] != '}') return fail(token, kTypeBinary);
  std::string digits = binary_digits(p + 2, end - 1);
  std::string bytes;
  bytes.reserve(base == 16 ? digits.size() / 2 : base == 2 ? digits.size() / 8 : digits.size() * 3 / 4);
  bool ok = base == 16  ? decode_base16(digits, &bytes)
            : base == 2 ? decode_base2(digits, &bytes)
                        : decode_base64(digits, &bytes);
  if (!ok) return fail(token, kTypeBinary);
  if (!load) return true;
  uint32_t n = uint32_t(bytes.size());
  Node node = series_alloc_bytes(n);
  SeriesBuffer* b = series_buffer(node);
  if (n != 0) std::memcpy(b->head_ptr(), bytes.data(), n);
  b->tail = b->head + n;
  put(out, binary_cell(node));
  return true;
}

}  // namespace kiv::lexload
