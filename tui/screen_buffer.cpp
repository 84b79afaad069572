// The screen grid (screen_buffer.h): palette, text writer with its parser of
// embedded SGR sequences, and the frame writer.
//
// Nothing here allocates series or runs Kiv code: the grid and the output
// buffer are on the platform heap.
#include "tui/screen_buffer.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "console/char_width.h"
#include "runtime/unicode.h"

namespace kiv {

// ---------------------------------------------------------------- colours

namespace {

constexpr uint8_t kCubeLevels[6] = {0, 95, 135, 175, 215, 255};
constexpr uint32_t kSystemColors[16] = {0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080,
                                        0x008080, 0xC0C0C0, 0x808080, 0xFF0000, 0x00FF00, 0xFFFF00,
                                        0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF};

uint32_t cube_level(uint32_t v) { return v < 48 ? 0 : v <= 114 ? 1 : (v - 35) / 40; }

uint32_t distance2(uint32_t rgb, uint32_t r, uint32_t g, uint32_t b) {
  int32_t dr = int32_t((rgb >> 16) & 0xFF) - int32_t(r);
  int32_t dg = int32_t((rgb >> 8) & 0xFF) - int32_t(g);
  int32_t db = int32_t(rgb & 0xFF) - int32_t(b);
  return uint32_t(dr * dr + dg * dg + db * db);
}

}  // namespace

uint32_t palette_rgb(uint32_t index) {
  index &= 0xFF;
  if (index < 16) return kSystemColors[index];
  if (index < 232) {
    uint32_t c = index - 16;
    return uint32_t(kCubeLevels[c / 36]) << 16 | uint32_t(kCubeLevels[(c / 6) % 6]) << 8 | kCubeLevels[c % 6];
  }
  uint32_t grey = 8 + 10 * (index - 232);
  return grey << 16 | grey << 8 | grey;
}

uint32_t palette_nearest(uint32_t r, uint32_t g, uint32_t b) {
  r = std::min(r, 255u);
  g = std::min(g, 255u);
  b = std::min(b, 255u);
  uint32_t cube = 16 + 36 * cube_level(r) + 6 * cube_level(g) + cube_level(b);
  uint32_t average = (r + g + b) / 3;
  uint32_t step = average > 238 ? 23 : average < 3 ? 0 : (average - 3) / 10;
  uint32_t grey = 232 + step;
  return distance2(palette_rgb(grey), r, g, b) < distance2(palette_rgb(cube), r, g, b) ? grey : cube;
}

uint32_t color_of_packed(uint32_t packed) {
  if ((packed >> 24) == 255) return kColorDefault;
  return color_palette(palette_nearest(packed & 0xFF, (packed >> 8) & 0xFF, (packed >> 16) & 0xFF));
}

uint32_t color_at_depth(uint32_t r, uint32_t g, uint32_t b, int32_t depth) {
  if (depth == kColorDepthTrue) return color_true(r, g, b);
  return color_palette(palette_nearest(r, g, b));
}

int32_t color_depth_of(const char* colorterm, const char* term) {
  if (colorterm && (std::strstr(colorterm, "24bit") || std::strstr(colorterm, "truecolor")))
    return kColorDepthTrue;
  if ((colorterm && std::strstr(colorterm, "256")) || (term && std::strstr(term, "256")))
    return kColorDepthPalette;
  return kColorDepthTrue;
}

// ---------------------------------------------------------------- the grid

ScreenBuffer& tui_screen() {
  static ScreenBuffer screen;
  return screen;
}

void screen_reset(ScreenBuffer& screen) {
  int32_t depth = screen.color_depth;
  screen.width = 0;
  screen.height = 0;
  screen.out.clear();
  screen.lines_drawn = 0;
  screen.caret_column = -1;
  screen.caret_row = -1;
  screen.origin_row = 0;
  screen.something_drawn = false;
  screen.redraw_needed = false;
  screen.full_screen = false;
  screen.alternate_entered = false;
  screen.color_depth = depth;
}

void screen_resize(ScreenBuffer& screen, int32_t width, int32_t height) {
  width = std::max(width, 0);
  height = std::max(height, 0);
  if (width == screen.width && height == screen.height) return;
  size_t need = size_t(width) * size_t(height);
  if (need > screen.cells.size()) screen.cells.resize(need);
  screen.width = width;
  screen.height = height;
  screen_clear(screen);
}

namespace {

// A cell count from a float coordinate difference: truncated, never negative.
int32_t cells_of(float value) {
  if (!(value > 0.0f)) return 0;
  if (value >= 65535.0f) return 65535;
  return int32_t(value);
}

}  // namespace

void screen_resize_to(ScreenBuffer& screen, float x1, float y1, float x2, float y2, int32_t columns,
                      int32_t rows) {
  screen_resize(screen, std::min(cells_of(x2 - x1), std::max(columns, 0)),
                std::min(cells_of(y2 - y1), std::max(rows, 0)));
}

void screen_clear(ScreenBuffer& screen) {
  std::fill(screen.cells.begin(), screen.cells.begin() + size_t(screen.width) * screen.height, ScreenCell{});
}

namespace {

ScreenRect intersect(const ScreenRect& a, const ScreenRect& b) {
  return ScreenRect{std::max(a.left, b.left), std::max(a.top, b.top), std::min(a.right, b.right),
                    std::min(a.bottom, b.bottom)};
}

}  // namespace

void screen_fill(ScreenBuffer& screen, const ScreenRect& rect, uint32_t background) {
  ScreenRect r = intersect(rect, screen.bounds());
  for (int32_t y = r.top; y < r.bottom; y++)
    for (int32_t x = r.left; x < r.right; x++)
      *screen.at(x, y) = ScreenCell{' ', background, kColorDefault, 0};
}

bool screen_put(ScreenBuffer& screen, const ScreenRect& clip, int32_t x, int32_t y, uint32_t code,
                uint32_t foreground, uint32_t background, uint32_t attributes, bool keep_background) {
  ScreenRect r = intersect(clip, screen.bounds());
  int width = char_width(code) == 2 && !(attributes & kAttrPassword) ? 2 : 1;
  if (y < r.top || y >= r.bottom || x < r.left || x + width > r.right) return false;
  ScreenCell* cell = screen.at(x, y);
  cell->code = code;
  cell->foreground = foreground;
  if (!keep_background) cell->background = background;
  cell->attributes = attributes & ~kAttrContinuation;
  if (width == 2) {
    ScreenCell* next = screen.at(x + 1, y);
    next->code = 0;
    next->foreground = foreground;
    if (!keep_background) next->background = background;
    next->attributes = attributes | kAttrContinuation;
  }
  return true;
}

// ---------------------------------------------------------------- embedded SGR

namespace {

constexpr uint32_t kEscape = 0x1B;

// What the SGR codes 1-9 and 21-29 set and clear (6: none).
constexpr uint32_t kSgrAttributeBits[9] = {kAttrBold, kAttrDim,     kAttrItalic,  kAttrUnderline, kAttrBlink,
                                           0,         kAttrInverse, kAttrConceal, kAttrStrike};

// The current colours and attributes while a text is written.
struct PenState {
  uint32_t foreground;
  uint32_t background;
  bool background_set;
  uint32_t attributes;  // the text's own, before the render attributes
};

void apply_sgr(PenState& pen, uint32_t code, const RenderRecord& render) {
  if (code == 0) {
    pen = PenState{render.foreground, render.background, render.background_set, 0};
  } else if (code >= 1 && code <= 9) {
    pen.attributes |= kSgrAttributeBits[code - 1];
  } else if (code >= 21 && code <= 29) {
    pen.attributes &= ~kSgrAttributeBits[code - 21];
  } else if (code >= 30 && code <= 39 && code != 38) {
    pen.foreground = color_16(code - 30);
  } else if (code >= 40 && code <= 49 && code != 48) {
    pen.background = color_16(code - 40);
    pen.background_set = true;
  } else if (code >= 90 && code <= 97) {
    pen.foreground = color_16(code - 80);
  } else if (code >= 100 && code <= 107) {
    pen.background = color_16(code - 90);
    pen.background_set = true;
  }
}

void apply_sgr_group(PenState& pen, const uint32_t* params, int count, const RenderRecord& render) {
  if (count == 3 && params[1] == 5 && (params[0] == 38 || params[0] == 48)) {
    if (params[0] == 38) {
      pen.foreground = color_palette(params[2]);
    } else {
      pen.background = color_palette(params[2]);
      pen.background_set = true;
    }
    return;
  }
  for (int i = 0; i < count; i++) apply_sgr(pen, params[i], render);
}

// Parses the sequence at [text][0] (an ESC) of [count] characters; returns
// how many it consumed: 0 when it is no CSI sequence (the ESC is then a
// character). SGR sequences change [pen]; the other commands change nothing.
// A sequence broken by a character that cannot belong to it ends before
// that character; one cut by the end of the text takes the rest.
size_t parse_embedded_csi(const uint32_t* text, size_t count, PenState& pen, const RenderRecord& render) {
  if (count < 2 || text[1] != '[') return 0;
  uint32_t params[3] = {0, 0, 0};
  int group = 0;
  bool digits = false;
  size_t i = 2;
  for (; i < count; i++) {
    uint32_t c = text[i];
    if (c >= '0' && c <= '9') {
      if (group < 3) params[group] = (params[group] * 10 + (c - '0')) % 65535;
      digits = true;
    } else if (c == ';') {
      if (group == 2) {
        apply_sgr_group(pen, params, 3, render);
        params[0] = params[1] = params[2] = 0;
        group = 0;
      } else {
        group++;
      }
      digits = false;
    } else if (c >= 0x40 && c <= 0x7E) {
      if (c == 'm') {
        int n = group + 1;
        // ESC [ m and a trailing ";" apply what was given; a bare ESC [ m resets.
        if (group == 0 && !digits) n = 1;
        apply_sgr_group(pen, params, n, render);
      }
      return i + 1;
    } else if (c < 0x20 || c > 0x7E) {
      return i;
    }
  }
  return i;
}

// The characters of a text, its embedded sequences (when [embedded])
// applied to the pen on the way rather than given out.
struct TextReader {
  const uint32_t* text;
  size_t count;
  bool embedded;
  size_t i = 0;
  bool next(PenState& pen, const RenderRecord& render, uint32_t* code) {
    while (i < count) {
      if (embedded && text[i] == kEscape) {
        size_t used = parse_embedded_csi(text + i, count - i, pen, render);
        if (used) {
          i += used;
          continue;
        }
      }
      *code = text[i++];
      return true;
    }
    return false;
  }
};

// A character's cell width as the writer stores it: control codes take one
// cell (drawn as a space), a password cell always one.
int stored_width(uint32_t code, uint32_t attributes) {
  int width = char_width(code);
  if (width == 2 && (attributes & kAttrPassword)) return 1;
  return width;
}

// Control codes never reach the terminal: drawn as spaces.
uint32_t printable(uint32_t code) { return code < 0x20 || (code >= 0x7F && code < 0xA0) ? ' ' : code; }

// The writer's walk over characters, shared by plain and rich text. [next]
// yields the next character (false at the end) with its code, foreground and
// attributes; it may consume embedded sequences on the way.
template <typename Next>
void write_cells(ScreenBuffer& screen, int32_t x, int32_t y, const ScreenRect& clip_in,
                 const RenderRecord& render, const PenState& pen_start, Next next) {
  ScreenRect clip = intersect(clip_in, screen.bounds());
  if (clip.empty()) return;
  bool wrap = render.para & kParaWrap;
  int32_t col = x;
  int32_t row = y;
  bool skipping = false;  // past the right edge without wrapping: until the next newline
  PenState pen = pen_start;
  uint32_t code = 0;
  uint32_t foreground = 0;
  uint32_t attributes = 0;
  while (row < clip.bottom && next(pen, &code, &foreground, &attributes)) {
    if (code == '\n') {
      row++;
      col = x;
      skipping = false;
      continue;
    }
    if (code == '\r' || skipping) continue;
    int width = stored_width(code, attributes);
    if (width == 0) continue;
    if (col + width > clip.right) {
      if (!wrap) {
        skipping = true;
        continue;
      }
      // A character wider than a whole line is dropped rather than wrapped for ever.
      if (col == x) continue;
      row++;
      col = x;
      if (row >= clip.bottom) break;
      if (col + width > clip.right) continue;
    }
    if (row >= clip.top && col >= clip.left) {
      ScreenCell* cell = screen.at(col, row);
      cell->code = printable(code);
      cell->foreground = foreground;
      if (pen.background_set) cell->background = pen.background;
      cell->attributes = attributes;
      if (width == 2) {
        ScreenCell* right = screen.at(col + 1, row);
        *right = ScreenCell{0, cell->background, foreground, attributes | kAttrContinuation};
      }
    }
    col += width;
  }
}

}  // namespace

void screen_write_text(ScreenBuffer& screen, const uint32_t* text, size_t count, int32_t x, int32_t y,
                       const ScreenRect& clip, const RenderRecord& render) {
  TextReader reader{text, count, (render.flags & kRenderEmbeddedSgr) != 0};
  PenState start{render.foreground, render.background, render.background_set, 0};
  write_cells(screen, x, y, clip, render, start,
              [&](PenState& pen, uint32_t* code, uint32_t* foreground, uint32_t* attributes) {
                if (!reader.next(pen, render, code)) return false;
                *foreground = pen.foreground;
                *attributes = pen.attributes | render.attributes;
                return true;
              });
}

void screen_write_utf8(ScreenBuffer& screen, std::string_view text, int32_t x, int32_t y,
                       const ScreenRect& clip, const RenderRecord& render) {
  std::vector<uint32_t> codes = utf8_code_points(text);
  screen_write_text(screen, codes.data(), codes.size(), x, y, clip, render);
}

void screen_write_rich(ScreenBuffer& screen, const RichCell* cells, size_t count, int32_t x, int32_t y,
                       const ScreenRect& clip, const RenderRecord& render) {
  size_t i = 0;
  PenState start{render.foreground, render.background, render.background_set, 0};
  write_cells(screen, x, y, clip, render, start,
              [&](PenState&, uint32_t* code, uint32_t* foreground, uint32_t* attributes) {
                if (i >= count) return false;
                *code = cells[i].code;
                *foreground = cells[i].foreground;
                *attributes = cells[i].attributes | render.attributes;
                i++;
                return true;
              });
}

namespace {

template <typename Next>
TextMeasure measure(int32_t wrap_width, Next next) {
  TextMeasure m{0, 1};
  int32_t line = 0;
  uint32_t code = 0;
  while (next(&code)) {
    if (code == '\n') {
      m.width = std::max(m.width, line);
      m.lines++;
      line = 0;
      continue;
    }
    if (code == '\r') continue;
    int width = char_width(code);
    if (wrap_width >= 0 && line + width > wrap_width) {
      if (line == 0) break;  // not even one character fits
      m.width = std::max(m.width, line);
      m.lines++;
      line = 0;
    }
    line += width;
  }
  m.width = std::max(m.width, line);
  return m;
}

}  // namespace

TextMeasure text_measure(const uint32_t* text, size_t count, int32_t wrap_width, bool embedded_sgr) {
  TextReader reader{text, count, embedded_sgr};
  PenState pen{};
  RenderRecord render;
  return measure(wrap_width, [&](uint32_t* code) { return reader.next(pen, render, code); });
}

TextMeasure text_measure_rich(const RichCell* cells, size_t count, int32_t wrap_width) {
  size_t i = 0;
  return measure(wrap_width, [&](uint32_t* code) {
    if (i >= count) return false;
    *code = cells[i++].code;
    return true;
  });
}

std::vector<uint32_t> utf8_code_points(std::string_view text) {
  std::vector<uint32_t> codes;
  codes.reserve(text.size());
  const uint8_t* p = reinterpret_cast<const uint8_t*>(text.data());
  const uint8_t* end = p + text.size();
  while (p < end) {
    int32_t cp = 0;
    p = utf8_fast_decode_char(p, end, &cp);
    codes.push_back(cp < 0 ? 0xFFFD : uint32_t(cp));
  }
  return codes;
}

// ---------------------------------------------------------------- output

namespace {

bool write_stdout(const char* bytes, size_t size) {
  while (size > 0) {
    ssize_t n = ::write(1, bytes, size);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    bytes += n;
    size -= size_t(n);
  }
  return true;
}

ScreenOutputFn g_output = write_stdout;

void append_number(std::string& out, int32_t n) {
  char digits[16];
  int len = std::snprintf(digits, sizeof digits, "%d", n);
  out.append(digits, size_t(len));
}

void append_csi(std::string& out, int32_t n, char final) {
  out += "\033[";
  append_number(out, n);
  out += final;
}

void append_sgr(std::string& out, const char* code) {
  out += "\033[";
  out += code;
  out += 'm';
}

// The SGR parameters of colour [color] as foreground or background.
void append_color(std::string& out, uint32_t color, bool foreground) {
  out += "\033[";
  uint32_t v = color & 0xFFFFFF;
  switch (color_kind(color)) {
    case kColorKindDefault: out += foreground ? "39" : "49"; break;
    case kColorKind16: {
      uint32_t i = v & 0xFF;
      if (i <= 7)
        append_number(out, int32_t((foreground ? 30 : 40) + i));
      else if (i == 8)
        out += '0';
      else if (i == 9)
        out += foreground ? "39" : "49";
      else if (i <= 17)
        append_number(out, int32_t((foreground ? 90 : 100) + i - 10));
      else
        out += '0';
      break;
    }
    case kColorKindPalette:
      out += foreground ? "38;5;" : "48;5;";
      append_number(out, int32_t(v & 0xFF));
      break;
    case kColorKindTrue:
      out += foreground ? "38;2;" : "48;2;";
      append_number(out, int32_t(v >> 16));
      out += ';';
      append_number(out, int32_t((v >> 8) & 0xFF));
      out += ';';
      append_number(out, int32_t(v & 0xFF));
      break;
    default: out += '0';
  }
  out += 'm';
}

}  // namespace

ScreenOutputFn screen_set_output(ScreenOutputFn output) {
  ScreenOutputFn old = g_output;
  g_output = output ? output : write_stdout;
  return old;
}

void screen_flush(ScreenBuffer& screen) {
  if (!screen.out.empty()) g_output(screen.out.data(), screen.out.size());
  screen.out.clear();
}

void sgr_transition(std::string& out, const ScreenCell& from, const ScreenCell& to) {
  uint32_t a = from.attributes;
  uint32_t b = to.attributes;
  // Bold and dim share their off code: turning one off turns both off, so
  // the one that stays on is set again after it.
  bool weight_off = ((a & kAttrBold) && !(b & kAttrBold)) || ((a & kAttrDim) && !(b & kAttrDim));
  if (weight_off) a &= ~(kAttrBold | kAttrDim);
  auto toggle = [&](uint32_t bit, const char* on, const char* off) {
    if ((a & bit) == (b & bit)) return;
    append_sgr(out, (b & bit) ? on : off);
  };
  if (weight_off) append_sgr(out, "22");
  toggle(kAttrDim, "2", "22");
  toggle(kAttrInverse, "7", "27");
  toggle(kAttrBold, "1", "22");
  toggle(kAttrItalic, "3", "23");
  toggle(kAttrStrike, "9", "29");
  toggle(kAttrUnderline, "4", "24");
  if (from.foreground != to.foreground) append_color(out, to.foreground, true);
  if (from.background != to.background) append_color(out, to.background, false);
}

void screen_build_frame(ScreenBuffer& screen, bool caret_shown) {
  if (screen.width <= 0 || screen.height <= 0) return;
  std::string& out = screen.out;
  if (out.capacity() < 2000) out.reserve(2000);
  if (screen.full_screen) {
    out += "\033[H";
  } else {
    out += '\r';
    if (screen.lines_drawn > 0) append_csi(out, screen.lines_drawn, 'A');
    out += "\033[0J";
  }
  ScreenCell previous{};
  uint8_t utf8[4];
  for (int32_t y = 0; y < screen.height; y++) {
    for (int32_t x = 0; x < screen.width; x++) {
      const ScreenCell& cell = *screen.at(x, y);
      if (cell.attributes & kAttrContinuation) continue;
      ScreenCell shown = cell;
      shown.attributes &= kAttrBold | kAttrDim | kAttrInverse | kAttrItalic | kAttrStrike | kAttrUnderline;
      sgr_transition(out, previous, shown);
      previous = shown;
      uint32_t code = (cell.attributes & kAttrPassword) ? '*' : cell.code == 0 ? ' ' : printable(cell.code);
      if (code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) code = 0xFFFD;
      uint8_t* end = utf8_put(utf8, code);
      out.append(reinterpret_cast<const char*>(utf8), size_t(end - utf8));
    }
    if (y + 1 < screen.height) {
      previous.background = kColorDefault;
      out += "\033[49m\r\n";
    }
  }
  sgr_transition(out, previous, ScreenCell{});
  if (caret_shown && screen.caret_row >= 0 && screen.caret_column >= 0 && screen.caret_row < screen.height) {
    out += '\r';
    int32_t up = screen.height - (screen.caret_row + 1);
    if (up > 0) append_csi(out, up, 'A');
    if (screen.caret_column > 0) append_csi(out, screen.caret_column, 'C');
    screen.lines_drawn = screen.caret_row;
  } else {
    screen.lines_drawn = screen.height - 1;
  }
}

void screen_write_frame(ScreenBuffer& screen, bool caret_shown) {
  if (screen.width <= 0 || screen.height <= 0) return;
  screen_build_frame(screen, caret_shown);
  screen_flush(screen);
  screen.something_drawn = true;
  screen.redraw_needed = false;
}

void screen_erase_before_print(ScreenBuffer& screen) {
  if (!screen.something_drawn) return;
  screen.out += '\r';
  if (screen.lines_drawn > 0) append_csi(screen.out, screen.lines_drawn, 'A');
  // Erased even when the area is one row: the print must not land on its rest.
  screen.out += "\033[0J";
  screen_flush(screen);
  screen.lines_drawn = 0;
  screen.something_drawn = false;
}

void screen_cursor_visible(ScreenBuffer& screen, bool visible) {
  screen.out += visible ? "\033[?25h" : "\033[?25l";
}

void screen_alternate(ScreenBuffer& screen, bool enter) {
  screen.out += enter ? "\033[?1049h" : "\033[?1049l";
  screen.alternate_entered = enter;
}

void screen_cursor_down(ScreenBuffer& screen, int32_t rows) {
  if (rows > 0) append_csi(screen.out, rows, 'B');
}

}  // namespace kiv
