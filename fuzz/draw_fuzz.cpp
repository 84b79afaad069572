// libFuzzer target of the DRAW dialect: any text is loaded with the lexer
// and the block run as DRAW commands into a small grid (raising errors), in
// print mode as a face's block, and as a rich-text style block. Every outcome
// must be a drawing or a Kiv error: never a crash, a hang, a write outside
// the clip or a sanitizer report. tests/unit/fuzz_seeds_test.cpp runs the
// seeds of fuzz/corpus/draw_fuzz/ as ordinary tests.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "boot/init.h"
#include "evaluator/lexer.h"
#include "fuzz/guarded.h"
#include "runtime/collector.h"
#include "runtime/cycle.h"
#include "runtime/stack.h"
#include "services/console_output.h"
#include "tui/draw/draw_dialect.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kiv;
  static const bool initialised = [] {
    runtime_init();
    g_collector_active = true;
    return true;
  }();
  (void)initialised;
  if (size > (1u << 16)) return 0;
  g_stack.arguments = g_stack.top = g_stack.bottom;
  g_stack.frames_top = g_stack.frames_base;
  fuzz::guarded([&] {
    Cell* block = stack_push();
    lexer_load_utf8(block, data, uint32_t(size));
    ScreenBuffer screen;
    screen_resize(screen, 24, 10);
    const ScreenRect clip{3, 2, 20, 8};
    DrawPainter painter(&screen, 3, 2, clip);
    fuzz::guarded([&] { (void)draw_run(painter, block, DrawErrorMode::kRaise); });
    draw_face_block(screen, clip, 3, 2, block);
    for (int32_t y = 0; y < screen.height; y++)
      for (int32_t x = 0; x < screen.width; x++)
        if ((x < clip.left || x >= clip.right || y < clip.top || y >= clip.bottom) &&
            screen.at(x, y)->code != 0)
          std::abort();
    std::vector<RichCell> cells(7);
    draw_style_rich_text(cells, block);
    if (cycle_stack_depth() != 0) std::abort();
  });
  return 0;
}
