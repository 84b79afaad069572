// The screen grid without a terminal: the palette, the text writer (cells
// compared row by row), the frame's exact bytes, and frames fed to a
// terminal emulator (libvterm) whose screen must equal the grid.
#include <gtest/gtest.h>
#include <vterm.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "runtime/unicode.h"
#include "tests/terminal/screen_rows.h"
#include "tui/screen_buffer.h"

namespace kiv {
namespace {

using test::row_text;

// ---------------------------------------------------------------- helpers

// One character a cell of row [y]: '.' default foreground, 'R' palette 196,
// 'p' any other palette colour, 'c' a 16-colour, '#' true colour.
std::string row_colors(ScreenBuffer& s, int32_t y) {
  std::string text;
  for (int32_t x = 0; x < s.width; x++) {
    uint32_t fg = s.at(x, y)->foreground;
    switch (color_kind(fg)) {
      case kColorKindDefault: text += '.'; break;
      case kColorKindPalette: text += (fg & 0xFF) == 196 ? 'R' : 'p'; break;
      case kColorKind16: text += 'c'; break;
      default: text += '#';
    }
  }
  return text;
}

ScreenBuffer grid(int32_t width, int32_t height) {
  ScreenBuffer s;
  screen_resize(s, width, height);
  return s;
}

void write(ScreenBuffer& s, std::string_view text, int32_t x, int32_t y, uint32_t flags = 0,
           uint32_t para = 0, uint32_t attributes = 0) {
  RenderRecord r;
  r.flags = flags;
  r.para = para;
  r.attributes = attributes;
  screen_write_utf8(s, text, x, y, s.bounds(), r);
}

// ---------------------------------------------------------------- palette

TEST(ScreenPalette, NearestColoursAndDefault) {
  struct Case {
    uint32_t r, g, b, alpha;
    uint32_t color;
  } cases[] = {
      {255, 0, 0, 0, color_palette(196)},      // pure red: the cube's corner
      {128, 128, 128, 0, color_palette(244)},  // mid grey: the grey ramp wins
      {255, 255, 255, 255, kColorDefault},     // alpha 255: the default colour
      {0, 0, 0, 0, color_palette(16)},         // black: the cube (the grey is not strictly nearer)
      {255, 255, 255, 0, color_palette(231)},  // white: the cube
      {0, 0, 255, 0, color_palette(21)},       //
      {95, 135, 0, 0, color_palette(64)},      // exact cube levels
      {8, 8, 8, 0, color_palette(232)},        // the darkest grey
      {10, 200, 10, 254, color_palette(40)},   // alpha below 255 does not matter
  };
  for (const Case& c : cases)
    EXPECT_EQ(color_of_packed(c.r | c.g << 8 | c.b << 16 | c.alpha << 24), c.color)
        << c.r << "." << c.g << "." << c.b << "." << c.alpha;
  // Every palette entry is its own nearest colour, apart from the system
  // colours the cube or ramp repeat.
  for (uint32_t i = 16; i < 256; i++) {
    uint32_t rgb = palette_rgb(i);
    EXPECT_EQ(palette_rgb(palette_nearest(rgb >> 16, (rgb >> 8) & 0xFF, rgb & 0xFF)), rgb) << i;
  }
  EXPECT_EQ(palette_rgb(1), 0x800000u);
  EXPECT_EQ(palette_rgb(244), 0x808080u);
  EXPECT_EQ(color_at_depth(1, 2, 3, kColorDepthTrue), color_true(1, 2, 3));
  EXPECT_EQ(color_at_depth(255, 0, 0, kColorDepthPalette), color_palette(196));
}

TEST(ScreenPalette, ColourDepthFromTheEnvironment) {
  struct Case {
    const char* colorterm;
    const char* term;
    int32_t depth;
  } cases[] = {
      {"truecolor", "xterm-256color", 4}, {"24bit", nullptr, 4}, {nullptr, "xterm-256color", 2},
      {"rxvt-256", "xterm", 2},           {nullptr, "xterm", 4}, {nullptr, nullptr, 4},
      {"", "screen-256color", 2},
  };
  for (const Case& c : cases) EXPECT_EQ(color_depth_of(c.colorterm, c.term), c.depth);
}

// ---------------------------------------------------------------- the writer

TEST(ScreenWriter, DoubleWidthAndClipping) {
  ScreenBuffer s = grid(5, 2);
  write(s, "abcd中", 0, 0);  // the wide character would need columns 4 and 5
  EXPECT_EQ(row_text(s, 0), "abcd ");
  write(s, "中文x", 0, 1);
  EXPECT_EQ(row_text(s, 1), "中文x");
  EXPECT_TRUE(s.at(1, 1)->attributes & kAttrContinuation);
  EXPECT_FALSE(s.at(2, 1)->attributes & kAttrContinuation);

  // Columns left of the clip and rows above it are skipped; the walk still
  // counts them.
  ScreenBuffer t = grid(6, 3);
  RenderRecord r;
  screen_write_utf8(t, "abcdef\nghijkl\nmnopqr", 0, 0, ScreenRect{2, 1, 5, 3}, r);
  EXPECT_EQ(row_text(t, 0), "      ");
  EXPECT_EQ(row_text(t, 1), "  ijk ");
  EXPECT_EQ(row_text(t, 2), "  opq ");
}

TEST(ScreenWriter, WrappingAndNewlines) {
  struct Case {
    const char* text;
    uint32_t para;
    const char* rows[3];
  } cases[] = {
      {"abcdefgh", kParaWrap, {"abcd", "efgh", "    "}},
      {"abcdefgh", 0, {"abcd", "    ", "    "}},
      {"ab\ncdefgh\nij", 0, {"ab  ", "cdef", "ij  "}},
      {"ab\ncdefgh\nij", kParaWrap, {"ab  ", "cdef", "gh  "}},
      {"abc中x", kParaWrap, {"abc ", "中x ", "    "}},  // the wide character moves down whole
      {"a\tb\x7f", 0, {"a b ", "    ", "    "}},        // control codes never reach the terminal
  };
  for (const Case& c : cases) {
    ScreenBuffer s = grid(4, 3);
    write(s, c.text, 0, 0, 0, c.para);
    for (int y = 0; y < 3; y++) EXPECT_EQ(row_text(s, y), c.rows[y]) << c.text << " row " << y;
  }
  // A character wider than the whole clip is dropped, not wrapped for ever.
  ScreenBuffer narrow = grid(1, 2);
  write(narrow, "中a", 0, 0, 0, kParaWrap);
  EXPECT_EQ(row_text(narrow, 0), "a");
}

TEST(ScreenWriter, EmbeddedSgr) {
  struct Case {
    const char* text;
    const char* shown;
    const char* colors;
    uint32_t attributes_at_1;
  } cases[] = {
      {"a\x1b[38;5;196mbc", "abc  ", ".RR..", 0},
      {"\x1b[1;4mab\x1b[22mc", "abc  ", ".....", kAttrBold | kAttrUnderline},
      {"a\x1b[31mb\x1b[0mc", "abc  ", ".c...", 0},
      {"a\x1b[7mb\x1b[27mc", "abc  ", ".....", kAttrInverse},
      {"a\x1b[2Jb\x1b[5;5Hc", "abc  ", ".....", 0},        // cursor and erase commands do nothing
      {"a\x1b(b", "a (b ", ".....", 0},                    // no CSI: the ESC is a character (a blank)
      {"a\x1b[38;5;196", "a    ", ".....", 0},             // cut by the end: taken whole
      {"\x1b[38;5;196m\x1b[mab", "ab   ", ".....", 0},     // ESC [ m resets
      {"\x1b[38;5;70;1mab", "ab   ", "pp...", kAttrBold},  // a group after three parameters
      {"\x1b[99999999999mab", "ab   ", ".....", 0},        // parameters kept modulo 65535
  };
  for (const Case& c : cases) {
    ScreenBuffer s = grid(5, 1);
    write(s, c.text, 0, 0, kRenderEmbeddedSgr);
    EXPECT_EQ(row_text(s, 0), c.shown) << c.text;
    EXPECT_EQ(row_colors(s, 0), c.colors) << c.text;
    EXPECT_EQ(s.at(1, 0)->attributes, c.attributes_at_1) << c.text;
  }
  // Without the render flag the sequence is text (its ESC a blank).
  ScreenBuffer s = grid(12, 1);
  write(s, "\x1b[1mab", 0, 0);
  EXPECT_EQ(row_text(s, 0), " [1mab      ");
  // Background codes colour the cells they cover.
  ScreenBuffer b = grid(3, 1);
  write(b, "a\x1b[48;5;21mb", 0, 0, kRenderEmbeddedSgr);
  EXPECT_EQ(b.at(0, 0)->background, kColorDefault);
  EXPECT_EQ(b.at(1, 0)->background, color_palette(21));
}

TEST(ScreenWriter, PasswordCellsAndMeasure) {
  ScreenBuffer s = grid(6, 1);
  write(s, "a中b", 0, 0, 0, 0, kAttrPassword);
  // One cell a character, whatever its width.
  EXPECT_EQ(s.at(1, 0)->code, 0x4E2Du);
  EXPECT_FALSE(s.at(2, 0)->attributes & kAttrContinuation);
  EXPECT_EQ(s.at(2, 0)->code, uint32_t('b'));

  struct Case {
    const char* text;
    int32_t wrap;
    TextMeasure m;
  } cases[] = {
      {"", -1, {0, 1}},      {"abc", -1, {3, 1}}, {"ab\nabcd\n", -1, {4, 3}}, {"abcdef", 4, {4, 2}},
      {"中中中", 3, {2, 3}}, {"中", 1, {0, 1}},   {"\x1b[1mab", -1, {2, 1}},
  };
  for (const Case& c : cases) {
    std::vector<uint32_t> codes = utf8_code_points(c.text);
    TextMeasure m = text_measure(codes.data(), codes.size(), c.wrap, true);
    EXPECT_EQ(m.width, c.m.width) << c.text;
    EXPECT_EQ(m.lines, c.m.lines) << c.text;
  }
}

TEST(ScreenGrid, ResizeFillAndPut) {
  ScreenBuffer s = grid(4, 2);
  write(s, "abcd", 0, 0);
  screen_resize(s, 4, 2);  // the same size: the cells stay
  EXPECT_EQ(row_text(s, 0), "abcd");
  screen_resize(s, 2, 2);  // a change clears, and never shrinks the allocation
  EXPECT_EQ(row_text(s, 0), "  ");
  EXPECT_GE(s.cells.size(), 8u);
  screen_resize_to(s, 0, 0, 50, 3, 40, 24);  // cut to the console
  EXPECT_EQ(s.width, 40);
  EXPECT_EQ(s.height, 3);
  screen_resize_to(s, 5, 5, 1, 1, 40, 24);  // an inverted box is empty
  EXPECT_EQ(s.width, 0);

  ScreenBuffer f = grid(3, 2);
  screen_fill(f, ScreenRect{1, 1, 9, 9}, color_palette(4));
  EXPECT_EQ(f.at(2, 1)->background, color_palette(4));
  EXPECT_EQ(f.at(2, 1)->code, uint32_t(' '));
  EXPECT_EQ(f.at(0, 1)->background, kColorDefault);
  EXPECT_FALSE(screen_put(f, f.bounds(), 2, 0, 0x4E2D, 0, 0, 0));  // half of it outside
  EXPECT_TRUE(screen_put(f, f.bounds(), 1, 0, 0x4E2D, 0, 0, 0));
  EXPECT_TRUE(f.at(2, 0)->attributes & kAttrContinuation);
}

// ---------------------------------------------------------------- the frame's bytes

struct Captured {
  static std::string& bytes() {
    static std::string b;
    return b;
  }
  static int& writes() {
    static int n;
    return n;
  }
  static bool take(const char* data, size_t size) {
    bytes().append(data, size);
    writes()++;
    return true;
  }
};

class ScreenFrame : public ::testing::Test {
 protected:
  void SetUp() override {
    Captured::bytes().clear();
    Captured::writes() = 0;
    previous_ = screen_set_output(Captured::take);
  }
  void TearDown() override { screen_set_output(previous_); }
  ScreenOutputFn previous_ = nullptr;
};

TEST_F(ScreenFrame, ExactBytes) {
  ScreenBuffer s = grid(3, 2);
  s.at(0, 0)->code = 'a';
  *s.at(1, 0) = ScreenCell{'b', color_palette(21), color_16(1), kAttrBold | kAttrDim};
  *s.at(2, 0) = ScreenCell{'c', color_palette(21), color_16(1), kAttrDim};  // bold off, dim stays
  *s.at(0, 1) = ScreenCell{'x', color_palette(21), color_true(1, 2, 3), kAttrPassword | kAttrBlink};
  screen_write_frame(s, false);
  EXPECT_EQ(Captured::writes(), 1);
  EXPECT_EQ(Captured::bytes(),
            "\r\033[0J"
            "a\033[2m\033[1m\033[31m\033[48;5;21mb\033[22m\033[2mc"
            "\033[49m\r\n"
            "\033[22m\033[38;2;1;2;3m\033[48;5;21m*\033[39m\033[49m  ");
  EXPECT_EQ(s.lines_drawn, 1);
  EXPECT_TRUE(s.something_drawn);

  // The next frame starts where the last began; the caret goes to its cell.
  Captured::bytes().clear();
  s.caret_column = 2;
  s.caret_row = 0;
  screen_build_frame(s, true);
  EXPECT_EQ(s.out.substr(0, 9), "\r\033[1A\033[0J");
  EXPECT_EQ(s.out.substr(s.out.size() - 9), "\r\033[1A\033[2C");
  EXPECT_EQ(s.lines_drawn, 0);
  s.out.clear();

  // Full screen: home, not relative moves.
  s.full_screen = true;
  screen_build_frame(s, false);
  EXPECT_EQ(s.out.substr(0, 3), "\033[H");
  s.out.clear();

  // Erase before print, even for a one-row area.
  s.something_drawn = true;
  s.lines_drawn = 0;
  screen_erase_before_print(s);
  EXPECT_EQ(Captured::bytes(), "\r\033[0J");
  EXPECT_FALSE(s.something_drawn);

  // An empty grid writes nothing.
  ScreenBuffer empty;
  Captured::bytes().clear();
  screen_write_frame(empty, false);
  EXPECT_EQ(Captured::bytes(), "");
}

TEST_F(ScreenFrame, SixteenColourCodes) {
  struct Case {
    uint32_t index;
    const char* fg;
    const char* bg;
  } cases[] = {{0, "30", "40"}, {7, "37", "47"},   {8, "0", "0"},
               {9, "39", "49"}, {10, "90", "100"}, {17, "97", "107"}};
  for (const Case& c : cases) {
    std::string out;
    sgr_transition(out, ScreenCell{}, ScreenCell{'a', color_16(c.index), color_16(c.index), 0});
    EXPECT_EQ(out, std::string("\033[") + c.fg + "m\033[" + c.bg + "m") << c.index;
  }
}

// ---------------------------------------------------------------- libvterm

class Emulator {
 public:
  Emulator(int rows, int cols) {
    vt_ = vterm_new(rows, cols);
    vterm_set_utf8(vt_, 1);
    screen_ = vterm_obtain_screen(vt_);
    vterm_screen_reset(screen_, 1);
  }
  ~Emulator() { vterm_free(vt_); }
  void feed(const std::string& bytes) { vterm_input_write(vt_, bytes.data(), bytes.size()); }
  VTermScreenCell cell(int row, int col) const {
    VTermScreenCell c;
    vterm_screen_get_cell(screen_, VTermPos{row, col}, &c);
    return c;
  }
  VTermPos cursor() const {
    VTermPos pos;
    vterm_state_get_cursorpos(vterm_obtain_state(vt_), &pos);
    return pos;
  }

 private:
  VTerm* vt_;
  VTermScreen* screen_;
};

// Whether the emulator's colour [c] is the grid's [color].
::testing::AssertionResult same_color(const VTermColor& c, uint32_t color, bool foreground) {
  uint32_t v = color & 0xFFFFFF;
  bool ok = false;
  switch (color_kind(color)) {
    case kColorKindDefault:
      ok = foreground ? VTERM_COLOR_IS_DEFAULT_FG(&c) : VTERM_COLOR_IS_DEFAULT_BG(&c);
      break;
    case kColorKind16: ok = VTERM_COLOR_IS_INDEXED(&c) && c.indexed.idx == (v < 8 ? v : v - 2); break;
    case kColorKindPalette: ok = VTERM_COLOR_IS_INDEXED(&c) && c.indexed.idx == v; break;
    case kColorKindTrue:
      ok = VTERM_COLOR_IS_RGB(&c) && c.rgb.red == (v >> 16) && c.rgb.green == ((v >> 8) & 0xFF) &&
           c.rgb.blue == (v & 0xFF);
      break;
  }
  if (ok) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << (foreground ? "foreground " : "background ") << std::hex << color;
}

// Every cell of [s] against the emulator's screen.
void expect_screen_equals_grid(const Emulator& emu, ScreenBuffer& s, int seed) {
  for (int y = 0; y < s.height; y++)
    for (int x = 0; x < s.width; x++) {
      const ScreenCell& g = *s.at(x, y);
      if (g.attributes & kAttrContinuation) continue;
      VTermScreenCell c = emu.cell(y, x);
      uint32_t want = (g.attributes & kAttrPassword) ? '*' : g.code == 0 ? ' ' : g.code;
      uint32_t got = c.chars[0] == 0 ? ' ' : c.chars[0];
      SCOPED_TRACE(::testing::Message() << "seed " << seed << " cell " << x << "," << y);
      EXPECT_EQ(got, want);
      EXPECT_EQ(c.attrs.bold != 0, (g.attributes & kAttrBold) != 0);
      EXPECT_EQ(c.attrs.italic != 0, (g.attributes & kAttrItalic) != 0);
      EXPECT_EQ(c.attrs.underline != 0, (g.attributes & kAttrUnderline) != 0);
      EXPECT_EQ(c.attrs.strike != 0, (g.attributes & kAttrStrike) != 0);
      EXPECT_EQ(c.attrs.reverse != 0, (g.attributes & kAttrInverse) != 0);
      EXPECT_TRUE(same_color(c.fg, g.foreground, true));
      EXPECT_TRUE(same_color(c.bg, g.background, false));
    }
}

uint32_t random_color(std::mt19937& rng) {
  switch (rng() % 4) {
    case 0: return kColorDefault;
    case 1: {
      uint32_t i = rng() % 16;
      return color_16(i < 8 ? i : i + 2);
    }
    case 2: return color_palette(rng() % 256);
    default: return color_true(rng() % 256, rng() % 256, rng() % 256);
  }
}

// Random grids, each drawn twice inline (the second frame over the first)
// and once more with a caret: the emulator's screen equals the grid each
// time, and the cursor stands on the caret.
TEST(ScreenEmulator, FramesEqualTheGrid) {
  const uint32_t attribute_bits[] = {kAttrBold,   kAttrDim,    kAttrInverse,  kAttrUnderline,
                                     kAttrStrike, kAttrItalic, kAttrPassword, kAttrBlink};
  const uint32_t codes[] = {'a', 'Z', '~', ' ', 0, 0x4E2D, 0xE9, 0x2584, 0x250C};
  for (int seed = 1; seed <= 60; seed++) {
    std::mt19937 rng{uint32_t(seed)};
    int width = 1 + int(rng() % 24);
    int height = 1 + int(rng() % 6);
    Emulator emu(height, width);
    ScreenBuffer s = grid(width, height);
    for (int frame = 0; frame < 3; frame++) {
      screen_clear(s);
      for (int y = 0; y < height; y++)
        for (int x = 0; x < width; x++) {
          if (s.at(x, y)->attributes & kAttrContinuation) continue;
          uint32_t attributes = 0;
          for (uint32_t bit : attribute_bits)
            if (rng() % 4 == 0) attributes |= bit;
          screen_put(s, s.bounds(), x, y, codes[rng() % std::size(codes)], random_color(rng),
                     random_color(rng), attributes, false);
        }
      bool caret = frame == 2;
      s.caret_column = int32_t(rng() % uint32_t(width));
      s.caret_row = int32_t(rng() % uint32_t(height));
      screen_build_frame(s, caret);
      emu.feed(s.out);
      s.out.clear();
      expect_screen_equals_grid(emu, s, seed);
      if (caret) {
        EXPECT_EQ(emu.cursor().row, s.caret_row) << seed;
        EXPECT_EQ(emu.cursor().col, s.caret_column) << seed;
      }
    }
  }
}

// The writer's cells through the emulator: embedded colours, wide text,
// wrapping.
TEST(ScreenEmulator, WrittenTextShowsAsWritten) {
  ScreenBuffer s = grid(10, 3);
  screen_fill(s, ScreenRect{0, 0, 10, 3}, color_palette(17));
  write(s, "ab\x1b[38;5;196;1mcd\x1b[0m中文 wraps here", 0, 0, kRenderEmbeddedSgr, kParaWrap);
  Emulator emu(3, 10);
  screen_build_frame(s, false);
  emu.feed(s.out);
  expect_screen_equals_grid(emu, s, 0);
  EXPECT_EQ(row_text(s, 0), "abcd中文 w");
  EXPECT_EQ(row_text(s, 1), "raps here ");
}

}  // namespace
}  // namespace kiv
