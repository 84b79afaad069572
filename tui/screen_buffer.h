// The text-mode GUI's screen: one grid of character cells that every widget
// draws into, and the writer that sends the whole grid to the terminal once a
// frame as UTF-8 text with SGR sequences.
//
// The grid lives on the platform heap (never a series), so a ScreenCell*
// stays valid across allocations; it moves only when the grid is resized,
// and its allocation never shrinks. The whole grid is written every frame
// in one write, with SGR codes only where attributes or colours change
// between adjacent cells (no diff against the previous frame).
//
// The drawn area lives inline below the console's current line (relative
// cursor moves, erased before ordinary output) or, for a full-screen window,
// on the alternate screen (absolute home).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kiv {

// ---------------------------------------------------------------- cells

// Attribute bits of a cell.
inline constexpr uint32_t kAttrBlink = 0x1;  // kept, never emitted
inline constexpr uint32_t kAttrBold = 0x2;
inline constexpr uint32_t kAttrDim = 0x4;
inline constexpr uint32_t kAttrInverse = 0x8;
inline constexpr uint32_t kAttrUnderline = 0x10;
inline constexpr uint32_t kAttrStrike = 0x40;
inline constexpr uint32_t kAttrItalic = 0x100;
inline constexpr uint32_t kAttrConceal = 0x200;       // kept, never emitted
inline constexpr uint32_t kAttrContinuation = 0x400;  // right half of a double-width character
inline constexpr uint32_t kAttrPassword = 0x800;      // emitted as "*"

// One cell of the grid. Code point 0 prints as a space.
struct ScreenCell {
  uint32_t code = 0;
  uint32_t background = 0;  // a colour value, below
  uint32_t foreground = 0;
  uint32_t attributes = 0;
  bool operator==(const ScreenCell&) const = default;
};

// ---------------------------------------------------------------- colours

// A colour value: the kind in the top byte, the colour below it.
inline constexpr uint32_t kColorKindDefault = 0;  // the terminal's default colour
inline constexpr uint32_t kColorKind16 = 1;       // 16-colour index 0-17 (8 none, 9 default)
inline constexpr uint32_t kColorKindPalette = 2;  // palette index 0-255 in the low byte
inline constexpr uint32_t kColorKindTrue = 4;     // red bits 16-23, green 8-15, blue 0-7
inline constexpr uint32_t kColorDefault = 0;

inline constexpr uint32_t color_kind(uint32_t color) { return color >> 24; }
inline constexpr uint32_t color_16(uint32_t index) { return (kColorKind16 << 24) | (index & 0xFF); }
inline constexpr uint32_t color_palette(uint32_t index) { return (kColorKindPalette << 24) | (index & 0xFF); }
inline constexpr uint32_t color_true(uint32_t r, uint32_t g, uint32_t b) {
  return (kColorKindTrue << 24) | ((r & 0xFF) << 16) | ((g & 0xFF) << 8) | (b & 0xFF);
}

// Colour depths (what the back end's colour check answers).
inline constexpr int32_t kColorDepthPalette = 2;
inline constexpr int32_t kColorDepthTrue = 4;

// The red, green and blue of palette entry [index] (0-255) as 0xRRGGBB.
uint32_t palette_rgb(uint32_t index);
// The palette index nearest to [r], [g], [b] (the 6x6x6 cube or the grey
// ramp; the grey only when strictly nearer).
uint32_t palette_nearest(uint32_t r, uint32_t g, uint32_t b);
// The colour of a Kiv colour packed as red in the low byte, then green,
// blue and alpha in the top byte: alpha 255 is the default colour, anything
// else the nearest palette colour.
uint32_t color_of_packed(uint32_t packed);
// [r] [g] [b] at colour depth [depth]: true colour at kColorDepthTrue, else
// the nearest palette colour.
uint32_t color_at_depth(uint32_t r, uint32_t g, uint32_t b, int32_t depth);
// The colour depth for the values of COLORTERM and TERM (null when unset):
// 4 when COLORTERM names 24bit or truecolor, else 2 when either holds
// "256", else 4.
int32_t color_depth_of(const char* colorterm, const char* term);

// ---------------------------------------------------------------- the grid

// A rectangle of cells; right and bottom are exclusive.
struct ScreenRect {
  int32_t left = 0;
  int32_t top = 0;
  int32_t right = 0;
  int32_t bottom = 0;
  bool empty() const { return right <= left || bottom <= top; }
};

// One cell of a rich-text cell array (the styled text of a rich-text face).
struct RichCell {
  uint32_t code = 0;
  uint32_t foreground = 0;
  uint32_t attributes = 0;
};

// Paragraph flags (from the face's `para`) and render flags. The low bits of
// a render record's [attributes] are cell attributes OR'ed into every cell.
inline constexpr uint32_t kParaRight = 0x1;
inline constexpr uint32_t kParaCenter = 0x2;
inline constexpr uint32_t kParaMiddle = 0x4;
inline constexpr uint32_t kParaBottom = 0x8;
inline constexpr uint32_t kParaWrap = 0x20;
inline constexpr uint32_t kRenderEmbeddedSgr = 0x1000;  // ESC [ ... in a text is parsed, not drawn
inline constexpr uint32_t kRenderNoText = 0x2000;       // the generic renderer leaves the text out

// How text is written into cells.
struct RenderRecord {
  uint32_t attributes = 0;  // cell attributes added to every character
  uint32_t para = 0;        // paragraph flags (kParaWrap wraps at the clip's right edge)
  uint32_t flags = 0;       // render flags (kRenderEmbeddedSgr)
  uint32_t foreground = kColorDefault;
  uint32_t background = kColorDefault;  // set by embedded SGR; the cell's own otherwise
  bool background_set = false;          // an embedded SGR chose a background
};

// The widest line in cells and the number of lines of a text.
struct TextMeasure {
  int32_t width = 0;
  int32_t lines = 0;
};

struct ScreenBuffer {
  int32_t width = 0;
  int32_t height = 0;
  std::vector<ScreenCell> cells;  // width x height in use; never shrinks
  std::string out;                // the frame's bytes
  int32_t lines_drawn = 0;        // rows the last frame left above the cursor
  int32_t caret_column = -1;      // -1: no caret position
  int32_t caret_row = -1;
  int32_t origin_row = 0;
  bool something_drawn = false;
  bool redraw_needed = false;
  bool full_screen = false;
  bool alternate_entered = false;
  int32_t color_depth = kColorDepthTrue;

  // The cell at [x], [y], or null outside the grid.
  ScreenCell* at(int32_t x, int32_t y) {
    return x < 0 || y < 0 || x >= width || y >= height ? nullptr : &cells[size_t(y) * width + x];
  }
  ScreenRect bounds() const { return ScreenRect{0, 0, width, height}; }
};

// The back end's one grid.
ScreenBuffer& tui_screen();
// Puts [screen] back to its starting state (empty grid, no frame drawn),
// keeping its colour depth.
void screen_reset(ScreenBuffer& screen);

// Sets the grid to [width] x [height] (each at least 0); nothing changes when
// both are the same. The cells are cleared on a change.
void screen_resize(ScreenBuffer& screen, int32_t width, int32_t height);
// The grid for a window whose widgets span [x1] [y1] [x2] [y2] on a console
// of [columns] x [rows]: width min(x2 - x1, columns), height min(y2 - y1, rows).
void screen_resize_to(ScreenBuffer& screen, float x1, float y1, float x2, float y2, int32_t columns,
                      int32_t rows);
// Every cell zero.
void screen_clear(ScreenBuffer& screen);
// Each cell of [rect] (clipped to the grid) gets a space and [background].
void screen_fill(ScreenBuffer& screen, const ScreenRect& rect, uint32_t background);
// Stores one character at [x], [y] when the cell lies inside [clip] and the
// grid; a double-width character needs both its cells inside. True when
// stored. [background] is left as the cell has it when [keep_background].
bool screen_put(ScreenBuffer& screen, const ScreenRect& clip, int32_t x, int32_t y, uint32_t code,
                uint32_t foreground, uint32_t background, uint32_t attributes, bool keep_background = true);

// ---------------------------------------------------------------- text

// Writes [count] code points of [text] from column [x], row [y] into the
// cells inside [clip], as the render record says: newlines start the next
// row at [x]; with kParaWrap a character reaching the right edge continues
// on the next row, else the rest of its line is skipped; lines above the
// clip's top are skipped; with kRenderEmbeddedSgr an ESC [ sequence changes
// the colours and attributes of what follows. A double-width character that
// does not fit before the right edge is not stored.
void screen_write_text(ScreenBuffer& screen, const uint32_t* text, size_t count, int32_t x, int32_t y,
                       const ScreenRect& clip, const RenderRecord& render);
// The same for UTF-8 [text].
void screen_write_utf8(ScreenBuffer& screen, std::string_view text, int32_t x, int32_t y,
                       const ScreenRect& clip, const RenderRecord& render);
// The same for a rich-text cell array: each cell brings its own code point,
// foreground and attributes (render attributes OR'ed in).
void screen_write_rich(ScreenBuffer& screen, const RichCell* cells, size_t count, int32_t x, int32_t y,
                       const ScreenRect& clip, const RenderRecord& render);

// The widest line and the line count of [text]; with [wrap_width] >= 0 a
// character that would pass it starts a new line (a line that cannot hold
// one character ends the measure). Embedded ESC [ sequences count nothing
// when [embedded_sgr].
TextMeasure text_measure(const uint32_t* text, size_t count, int32_t wrap_width, bool embedded_sgr);
TextMeasure text_measure_rich(const RichCell* cells, size_t count, int32_t wrap_width);
// The UTF-8 [text] as code points (malformed bytes as U+FFFD).
std::vector<uint32_t> utf8_code_points(std::string_view text);

// ---------------------------------------------------------------- output

// Where frames go: writes all of [size] bytes, true on success. The default
// writes to standard output, retrying short writes and EINTR.
using ScreenOutputFn = bool (*)(const char* bytes, size_t size);
// Sets the output; null puts the default back. Returns the previous one.
ScreenOutputFn screen_set_output(ScreenOutputFn output);
// Sends [screen].out through the output in one call and empties it.
void screen_flush(ScreenBuffer& screen);

// Builds the frame of the whole grid into [screen].out (appending): cursor
// to the area's start, every row with its SGR changes, then, when
// [caret_shown] and a caret position is set, the cursor to the caret.
// Updates lines_drawn. Does nothing for an empty grid.
void screen_build_frame(ScreenBuffer& screen, bool caret_shown);
// screen_build_frame, then one write; sets something_drawn, clears
// redraw_needed. Nothing is written for an empty grid.
void screen_write_frame(ScreenBuffer& screen, bool caret_shown);
// Before ordinary console output: when something was drawn, moves to the
// start of the drawn area and erases it down to the end of the screen.
void screen_erase_before_print(ScreenBuffer& screen);
// Appends cursor show or hide, alternate screen enter or leave, and cursor
// down [n] rows to [screen].out.
void screen_cursor_visible(ScreenBuffer& screen, bool visible);
void screen_alternate(ScreenBuffer& screen, bool enter);
void screen_cursor_down(ScreenBuffer& screen, int32_t rows);

// Appends to [out] the SGR codes that change cell [from] into cell [to]'s
// attributes and colours (the frame writer's step between cells).
void sgr_transition(std::string& out, const ScreenCell& from, const ScreenCell& to);

}  // namespace kiv
