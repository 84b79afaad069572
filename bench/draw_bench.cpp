// The DRAW dialect on a face of 200x60 cells whose draw block holds 1,000
// mixed commands (boxes with and without fill, lines, ellipses, circles,
// triangles, text, pen and fill changes, a few nested push blocks): the time
// to check and paint the block into the grid, which must fit one frame
// (under 16 ms), and the time to check it alone (no grid, as on an image).
//
//   bench/draw_bench [--benchmark_repetitions=N]
#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <string>

#include "boot/init.h"
#include "evaluator/lexer.h"
#include "runtime/collector.h"
#include "runtime/gc_root.h"
#include "runtime/stack.h"
#include "tui/draw/draw_dialect.h"

namespace {

using namespace kiv;

constexpr int32_t kWidth = 200;
constexpr int32_t kHeight = 60;
constexpr int kCommands = 1000;

// The text of the block: the same commands every run.
std::string block_text() {
  std::mt19937 random(109);
  auto x = [&] { return std::to_string(int32_t(random() % (kWidth + 20)) - 10); };
  auto y = [&] { return std::to_string(int32_t(random() % (kHeight + 10)) - 5); };
  auto point = [&] { return x() + "x" + y(); };
  auto colour = [&] {
    return std::to_string(random() % 256) + "." + std::to_string(random() % 256) + "." +
           std::to_string(random() % 256);
  };
  std::string text;
  for (int i = 0; i < kCommands; i++) {
    switch (i % 10) {
      case 0: text += "pen " + colour(); break;
      case 1: text += "box " + point() + " " + point(); break;
      case 2: text += "line " + point() + " " + point() + " " + point(); break;
      case 3: text += "fill-pen " + colour(); break;
      case 4:
        text += "ellipse " + point() + " " + std::to_string(random() % 40 + 1) + "x" +
                std::to_string(random() % 20 + 1);
        break;
      case 5: text += "text " + point() + " \"frame " + std::to_string(i) + "\""; break;
      case 6: text += "circle " + point() + " " + std::to_string(random() % 12); break;
      case 7: text += "triangle " + point() + " " + point() + " " + point(); break;
      case 8: text += "fill-pen off box " + point() + " " + point() + " 3"; break;
      case 9: text += "push [pen off line " + point() + " " + point() + "]"; break;
    }
    text += '\n';
  }
  return text;
}

// The block, loaded once into a cell of the data stack, which keeps it alive.
Cell g_block = Cell{kTypeNone, 0, 0, 0};

void setup() {
  static bool done = false;
  if (done) return;
  done = true;
  runtime_init();
  g_collector_active = true;
  const std::string text = block_text();
  Cell* held = stack_push();
  lexer_load_utf8(held, reinterpret_cast<const uint8_t*>(text.data()), uint32_t(text.size()));
  g_block = *held;
}

void validate_and_paint(benchmark::State& state) {
  setup();
  Root block(g_block);
  ScreenBuffer screen;
  screen_resize(screen, kWidth, kHeight);
  for (auto _ : state) {
    screen_clear(screen);
    draw_face_block(screen, screen.bounds(), 0, 0, block.get());
    benchmark::DoNotOptimize(screen.cells.data());
  }
}

void validate_only(benchmark::State& state) {
  setup();
  Root block(g_block);
  for (auto _ : state) {
    DrawPainter painter;
    benchmark::DoNotOptimize(draw_run(painter, block.get(), DrawErrorMode::kRaise));
  }
}

BENCHMARK(validate_and_paint)->Unit(benchmark::kMillisecond);
BENCHMARK(validate_only)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
