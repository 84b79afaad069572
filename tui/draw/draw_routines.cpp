// The draw-image routine of the view platform and the start-up step of the
// DRAW dialect. In text mode an image has no pixel painter: the commands are
// checked and run, and the image's pixels stay as they were.
#include "datatypes/block.h"
#include "datatypes/image.h"
#include "datatypes/series.h"
#include "library/routine_args.h"
#include "library/routines.h"
#include "runtime/gc_root.h"
#include "runtime/ownership.h"
#include "runtime/stack.h"
#include "tui/draw/draw_dialect.h"
#include "tui/draw/draw_init.h"
#include "tui/draw_hooks.h"

namespace kiv {

// Nothing for an empty image or an empty block; otherwise the run, then the
// image's owner hears of it as of a poke over every pixel.
KIV_ROUTINE(DrawImage) {
  Root image(*a.image);
  Root commands(*a.cmds);
  const int32_t pixels = image_pixel_count(image.get());
  if (pixels == 0 || series_at_tail_q(commands.get())) return native_result(*image);
  DrawPainter painter;
  if (!draw_run(painter, commands.get(), DrawErrorMode::kRaise)) return native_result(*image);
  owner_notify_after(image.get(), kOwnerPoke, 0, pixels);
  return native_result(*image);
}

void tui_draw_init() {
  draw_dialect_init();
  KIV_ROUTINE_INSTALL(DrawImage);
  tui_draw_hooks().draw_block = draw_face_block;
  tui_draw_hooks().style_rich_text = draw_style_rich_text;
}

}  // namespace kiv
