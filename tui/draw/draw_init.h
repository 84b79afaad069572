// The start-up step of the DRAW dialect.
#pragma once

namespace kiv {

// MAY ALLOCATE. Makes the dialect's keywords, installs the draw-image
// routine (library/routines.def) and fills the renderer's draw step and
// rich-text step (tui/draw_hooks.h).
void tui_draw_init();

}  // namespace kiv
