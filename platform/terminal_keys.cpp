// The key decoder (terminal_keys.h): UTF-8 and the terminal's escape
// sequences, read from the bytes held without ever waiting.
#include "platform/terminal_keys.h"

namespace kiv {

namespace {

bool is_continuation(uint8_t b) { return (b & 0xC0) == 0x80; }

// The range the second byte of a sequence led by [lead] must lie in, so that
// overlong forms, surrogates and values past U+10FFFF are refused at once.
void second_byte_range(uint8_t lead, uint8_t* low, uint8_t* high) {
  *low = 0x80;
  *high = 0xBF;
  if (lead == 0xE0) *low = 0xA0;
  if (lead == 0xED) *high = 0x9F;
  if (lead == 0xF0) *low = 0x90;
  if (lead == 0xF4) *high = 0x8F;
}

}  // namespace

size_t utf8_decode_lenient(const uint8_t* p, size_t n, bool final, uint32_t* cp) {
  if (n == 0) return 0;
  uint8_t lead = p[0];
  if (lead < 0x80) {
    *cp = lead;
    return 1;
  }
  size_t length;
  uint32_t value;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    value = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    value = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    value = lead & 0x07;
  } else {
    *cp = kReplacementChar;  // a continuation byte, C0, C1 or F5..FF
    return 1;
  }
  uint8_t low, high;
  second_byte_range(lead, &low, &high);
  for (size_t i = 1; i < length; i++) {
    if (i >= n) {
      if (!final) return 0;
      *cp = kReplacementChar;
      return i;
    }
    uint8_t b = p[i];
    bool fits = i == 1 ? (b >= low && b <= high) : is_continuation(b);
    if (!fits) {
      *cp = kReplacementChar;
      return i;
    }
    value = (value << 6) | (b & 0x3F);
  }
  *cp = value;
  return length;
}

void utf8_append(std::string& out, uint32_t cp) {
  if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) cp = kReplacementChar;
  if (cp < 0x80) {
    out += char(cp);
  } else if (cp < 0x800) {
    out += char(0xC0 | (cp >> 6));
    out += char(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += char(0xE0 | (cp >> 12));
    out += char(0x80 | ((cp >> 6) & 0x3F));
    out += char(0x80 | (cp & 0x3F));
  } else {
    out += char(0xF0 | (cp >> 18));
    out += char(0x80 | ((cp >> 12) & 0x3F));
    out += char(0x80 | ((cp >> 6) & 0x3F));
    out += char(0x80 | (cp & 0x3F));
  }
}

void KeyDecoder::feed(const uint8_t* bytes, size_t n) {
  if (pos_ > 0 && pos_ >= held_.size()) {
    held_.clear();
    pos_ = 0;
  }
  held_.append(reinterpret_cast<const char*>(bytes), n);
}

namespace {

// Reads "row;col" from [params]; false when they are not two plain numbers.
bool position_of(const std::string& params, int* row, int* col) {
  int values[2] = {0, 0};
  int k = 0;
  bool digits = false;
  for (char c : params) {
    if (c >= '0' && c <= '9') {
      if (values[k] > 100000) return false;
      values[k] = values[k] * 10 + (c - '0');
      digits = true;
    } else if (c == ';' && k == 0 && digits) {
      k = 1;
      digits = false;
    } else {
      return false;
    }
  }
  if (k != 1 || !digits) return false;
  *row = values[0];
  *col = values[1];
  return true;
}

// Up to [max] numbers of the parameter bytes [params] after their first
// [skip] bytes, separated by semicolons (an empty one is 0). The count read,
// or -1 when the bytes are not such a list.
int numbers_of(const std::string& params, size_t skip, int* values, int max) {
  int k = 0;
  values[0] = 0;
  for (size_t i = skip; i < params.size(); i++) {
    char c = params[i];
    if (c >= '0' && c <= '9') {
      if (values[k] > 100000) return -1;
      values[k] = values[k] * 10 + (c - '0');
    } else if (c == ';' && k + 1 < max) {
      values[++k] = 0;
    } else {
      return -1;
    }
  }
  return k + 1;
}

// The modifier bits a CSI modifier parameter [m] (1 + the bits) stands for.
uint8_t modifiers_of(int m) { return m >= 2 && m <= 16 ? uint8_t((m - 1) & 7) : 0; }

// The key of a CSI sequence with parameter bytes [params] and final byte
// [f]; its modifiers in [*mods].
int32_t csi_key(const std::string& params, char f, uint8_t* mods) {
  int values[2] = {0, 0};
  int count = numbers_of(params, 0, values, 2);
  if (count < 0) return kKeyOther;  // private parameters (CSI ? ...) name no key
  if (count == 2) *mods = modifiers_of(values[1]);
  switch (f) {
    case 'A': return kKeyUp;
    case 'B': return kKeyDown;
    case 'C': return kKeyRight;
    case 'D': return kKeyLeft;
    case 'H': return kKeyHome;
    case 'F': return kKeyEnd;
    case 'P':
    case 'Q':
    case 'S': return kKeyF1 - (f - 'P');
    case 'R': return params.empty() ? kKeyF1 - 2 : kKeyOther;  // else a position report's lookalike
    case 'Z': *mods |= kModShift; return kKeyTab;
    default: break;
  }
  if (f != '~' || params.empty() || params[0] == ';') return kKeyOther;
  switch (values[0]) {
    case 1:
    case 7: return kKeyHome;
    case 4:
    case 8: return kKeyEnd;
    case 2: return kKeyInsert;
    case 3: return kKeyDelete;
    case 5: return kKeyPageUp;
    case 6: return kKeyPageDown;
    case 11:
    case 12:
    case 13:
    case 14: return kKeyF1 - (values[0] - 11);
    case 15: return kKeyF1 - 4;
    case 17:
    case 18:
    case 19:
    case 20:
    case 21: return kKeyF1 - 5 - (values[0] - 17);
    case 23:
    case 24: return kKeyF1 - 10 - (values[0] - 23);
    default: return kKeyOther;
  }
}

// Reads a mouse report from [params] (SGR: "<b;col;row"; the older decimal
// form: "b;col;row" with b offset by 32) into [*out]; false when they are not one.
bool mouse_of(const std::string& params, bool release, TerminalInputEvent* out) {
  bool sgr = !params.empty() && params[0] == '<';
  int values[3];
  if (numbers_of(params, sgr ? 1 : 0, values, 3) != 3) return false;
  if (!sgr && (release || values[0] < 32)) return false;
  if (values[1] < 1 || values[2] < 1) return false;
  out->button = sgr ? values[0] : values[0] - 32;
  out->col = values[1];
  out->row = values[2];
  out->release = release;
  out->modifiers = 0;
  if (out->button & 4) out->modifiers |= kModShift;
  if (out->button & 8) out->modifiers |= kModAlt;
  if (out->button & 16) out->modifiers |= kModControl;
  return true;
}

}  // namespace

KeyDecoder::Event KeyDecoder::next(bool final, int32_t* key, int* row, int* col) {
  TerminalInputEvent in;
  Event e = next_input(final, &in);
  switch (e) {
    case Event::kNone: return e;
    case Event::kPosition:
      *row = in.row;
      *col = in.col;
      return e;
    case Event::kMouse: *key = kKeyOther; return Event::kKey;
    case Event::kKey: *key = (in.key == kKeyTab && (in.modifiers & kModShift)) ? kKeyOther : in.key; return e;
  }
  return e;
}

KeyDecoder::Event KeyDecoder::next_input(bool final, TerminalInputEvent* out) {
  const uint8_t* p = reinterpret_cast<const uint8_t*>(held_.data()) + pos_;
  size_t n = held_.size() - pos_;
  if (n == 0) return Event::kNone;
  out->modifiers = 0;
  uint8_t b = p[0];
  if (b != 0x1B) {
    uint32_t cp;
    size_t used = utf8_decode_lenient(p, n, final, &cp);
    if (used == 0) return Event::kNone;
    pos_ += used;
    out->key = (cp == 10 || cp == 13) ? kKeyEnter : int32_t(cp);
    return Event::kKey;
  }
  if (n == 1) {
    if (!final) return Event::kNone;
    pos_ += 1;
    out->key = kKeyEscape;
    return Event::kKey;
  }
  uint8_t introducer = p[1];
  if (introducer == '[') {
    // CSI: parameter bytes 0x30-0x3F, intermediate bytes 0x20-0x2F, a final
    // byte 0x40-0x7E. Anything else ends the sequence where it stands.
    std::string params;
    size_t i = 2;
    for (; i < n; i++) {
      uint8_t c = p[i];
      if (c >= 0x20 && c <= 0x3F) {
        if (params.size() < 64) params += char(c);
        continue;
      }
      if (c >= 0x40 && c <= 0x7E) {
        pos_ += i + 1;
        if (c == 'R' && position_of(params, &out->row, &out->col)) return Event::kPosition;
        if ((c == 'M' || c == 'm') && mouse_of(params, c == 'm', out)) return Event::kMouse;
        out->key = csi_key(params, char(c), &out->modifiers);
        return Event::kKey;
      }
      pos_ += i;  // a broken sequence: dropped up to the byte that broke it
      out->key = kKeyOther;
      return Event::kKey;
    }
    if (!final) return Event::kNone;
    pos_ += n;
    // Alt+[ is ESC [ with nothing after it.
    out->key = n == 2 ? int32_t('[') : kKeyOther;
    return Event::kKey;
  }
  if (introducer == 'O') {
    if (n < 3) {
      if (!final) return Event::kNone;
      pos_ += 2;
      out->key = 'O';  // Alt+O
      return Event::kKey;
    }
    pos_ += 3;
    switch (p[2]) {
      case 'A': out->key = kKeyUp; break;
      case 'B': out->key = kKeyDown; break;
      case 'C': out->key = kKeyRight; break;
      case 'D': out->key = kKeyLeft; break;
      case 'H': out->key = kKeyHome; break;
      case 'F': out->key = kKeyEnd; break;
      case 'P':
      case 'Q':
      case 'R':
      case 'S': out->key = kKeyF1 - (p[2] - 'P'); break;
      default: out->key = kKeyOther; break;
    }
    return Event::kKey;
  }
  if (introducer == 'P' || introducer == ']') {
    if (n == 2 && !final) return Event::kNone;
    // A terminal's string, up to ESC \ (or BEL for ]): skipped whole.
    for (size_t i = 2; i < n; i++) {
      if (introducer == ']' && p[i] == 0x07) {
        pos_ += i + 1;
        out->key = kKeyOther;
        return Event::kKey;
      }
      if (p[i] == 0x1B && i + 1 < n && p[i + 1] == '\\') {
        pos_ += i + 2;
        out->key = kKeyOther;
        return Event::kKey;
      }
    }
    if (!final) return Event::kNone;
    // Never ended: typed keys after all, Alt+P (Alt+]) first.
  }
  // Alt+key: the key that follows the ESC.
  size_t saved = pos_;
  pos_ += 1;
  Event e = next_input(final, out);
  if (e == Event::kNone) pos_ = saved;
  if (e == Event::kKey) out->modifiers |= kModAlt;
  return e;
}

}  // namespace kiv
