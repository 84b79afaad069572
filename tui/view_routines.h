// The text-mode back end's side of system/view/platform: the routines'
// entries, installed at start-up, and the two hooks of the core it answers.
#pragma once

#include <cstdint>

#include "runtime/cell.h"

namespace kiv {

// Start-up step, after widgets_init: the loop's registrations, then the
// entries of the view routines (routines.def).
void view_routines_init();

// The core's face_to_image hook (runtime/hooks.h): a face renders no image
// here (0); an object that is no face answers -1. MAY ALLOCATE.
int tui_face_to_image(const Cell* value, Cell* out);
// The core's view_wait hook: the wait native's time spent in the view's
// frames while GUI mode is on. MAY RUN KIV CODE.
bool tui_view_wait(int64_t ms);

}  // namespace kiv
