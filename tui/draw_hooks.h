// The two steps of face rendering that the draw back end (tui/draw/) fills
// in: running a face's `draw` block on a text-mode draw context, and styling
// a rich-text face's cell array. Until it sets them both do nothing.
#pragma once

#include <vector>

#include "runtime/cell.h"
#include "tui/screen_buffer.h"

namespace kiv {

// Runs the DRAW block [commands] (a stable cell) into [screen] over [clip],
// the widget's rectangle at [x], [y] absolute. MAY RUN KIV CODE.
using DrawBlockFn = void (*)(ScreenBuffer& screen, const ScreenRect& clip, int32_t x, int32_t y,
                             const Cell* commands);
// Applies the rich-text style block [styles] (a stable cell) to [cells],
// made one per character of the face's text. MAY RUN KIV CODE.
using StyleRichTextFn = void (*)(std::vector<RichCell>& cells, const Cell* styles);

struct TuiDrawHooks {
  DrawBlockFn draw_block = nullptr;
  StyleRichTextFn style_rich_text = nullptr;
};

// The hooks the renderer calls (null: the step does nothing).
TuiDrawHooks& tui_draw_hooks();

}  // namespace kiv
