// The start-up step of the DRAW dialect.
#pragma once

namespace kiv {

// MAY ALLOCATE. Makes the dialect's keywords and installs the draw-image
// routine (library/routines.def).
void tui_draw_init();

}  // namespace kiv
