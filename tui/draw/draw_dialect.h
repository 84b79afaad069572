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
#include <vector>

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

// MAY RUN KIV CODE. draw_run for the draw facet [commands] of a face, in
// print mode, printing an error only once while the same block fails the
// same way (a view redraws many times a second, and printing asks for a
// redraw); a block that ran cleanly prints its next error again.
bool draw_run_face(DrawPainter& painter, const Cell* commands);

// MAY RUN KIV CODE. The renderer's draw step: the face's draw block
// [commands] (a stable cell; anything but a block draws nothing) into
// [screen] over [clip], the face at [x], [y] absolute.
void draw_face_block(ScreenBuffer& screen, const ScreenRect& clip, int32_t x, int32_t y,
                     const Cell* commands);

// MAY RUN KIV CODE. The renderer's rich-text step: the style block [styles]
// (a stable cell) on [cells], one per character of the face's text; an
// error is printed once, as for draw_run_face.
void draw_style_rich_text(std::vector<RichCell>& cells, const Cell* styles);

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
