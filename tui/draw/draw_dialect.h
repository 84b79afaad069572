// The DRAW dialect: a block of commands, each a keyword and its arguments,
// checked against the grammar of every command and handed to the painter
// (tui/draw/draw_paint.h) one operation per command. Commands the text-mode
// painter cannot show (gradients, transformations, curves, images, SHAPE)
// are checked the same way and then do nothing.
//
// A run keeps its command blocks on the cycle stack, so a block met inside
// itself raises draw-infinite; any bad value raises draw-invalid with the
// block positioned at it. Nested blocks that save the pen state (push, clip,
// transformations) restore it on every way out, and the cycle stack is back
// at its depth at entry whatever the end of the run.
#pragma once

#include <cstdint>

#include "runtime/cell.h"
#include "tui/draw/draw_paint.h"

namespace kiv {

// What a run does with an error when system/view/silent? is not true (when it
// is, the run stops quietly either way).
enum class DrawErrorMode : uint8_t {
  kRaise,  // the error goes on to the caller (draw, draw-image)
  kPrint,  // the error is printed as the console prints errors; the run stops
};

// MAY RUN KIV CODE (set-words, and reading system/view on an error). Runs the
// DRAW block [commands] (a block!) through [painter]. True when it ran to its
// end; false when an error stopped it quietly or was printed.
bool draw_run(DrawPainter& painter, const Cell* commands, DrawErrorMode mode);

// MAY RUN KIV CODE. draw_run for the draw facet [commands] of the face [face]
// in print mode, printing an error only once while the face keeps the same
// draw block failing the same way (a view redraws many times a second).
bool draw_run_face(DrawPainter& painter, const Cell* face, const Cell* commands);

// The attribute bits the rich-text styles set on a cell.
inline constexpr uint32_t kDrawAttrBold = 0x2;
inline constexpr uint32_t kDrawAttrItalic = 0x100;
inline constexpr uint32_t kDrawAttrUnderline = 0x10;
inline constexpr uint32_t kDrawAttrStrike = 0x40;

// Where the styles of a rich-text block go: a range of characters of the
// face's text ([start] 0-based, [length] already cut to the text).
class DrawTextStyles {
 public:
  virtual ~DrawTextStyles() = default;
  virtual void colour(int32_t start, int32_t length, uint32_t colour) = 0;
  virtual void backdrop(int32_t start, int32_t length, uint32_t colour) = 0;
  virtual void attribute(int32_t start, int32_t length, uint32_t bits) = 0;
};

// MAY RUN KIV CODE (reading words' values). Applies the rich-text style block
// [styles] (a block!: start x length pairs, each followed by its styles) to a
// text of [text_length] characters through [out]. Raises draw-invalid at a
// value the block may not hold.
void draw_text_styles(const Cell* styles, int32_t text_length, DrawTextStyles& out);

// Makes the dialect's keywords. Called once at start-up (tui_draw_init).
void draw_dialect_init();

}  // namespace kiv
