// The text-mode GUI's frame: a 200x60 full-screen window of 600 faces
// (labels in colours, fields, buttons, check boxes), rendered into the grid
// and written as one frame to a sink that counts the bytes. The first frame,
// then a frame after one field's text changed. Target: every frame well
// under 16 ms (a frame step is 33 ms).
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>

#include "boot/init.h"
#include "datatypes/context.h"
#include "datatypes/symbol.h"
#include "evaluator/base_env.h"
#include "evaluator/interpreter.h"
#include "evaluator/lexer.h"
#include "median_reporter.h"
#include "runtime/collector.h"
#include "runtime/stack.h"
#include "tui/widgets.h"

namespace {

using namespace kiv;

size_t g_bytes = 0;
bool count_bytes(const char*, size_t size) {
  g_bytes += size;
  return true;
}

Cell* eval(const std::string& source) {
  Cell* code = stack_push();
  lexer_load_utf8(code, reinterpret_cast<const uint8_t*>(source.data()), uint32_t(source.size()));
  Cell* out = stack_push();
  if (do_block(code, out) != kStatusOk) std::abort();
  return out;
}

const char* kFace =
    "make object! [type: 'text offset: 0x0 size: 10x2 text: #(none) data: #(none) flags: #(none) "
    "visible?: #(true) enabled?: #(true) color: #(none) font: #(none) para: #(none) options: #(none) "
    "image: #(none) draw: #(none) pane: #(none) state: #(none) rate: #(none) selected: #(none) parent: "
    "#(none) ";

WidgetRef show(Cell* face, WidgetRef parent) {
  WidgetRef ref = widget_make(face, parent);
  Cell handle = widget_handle(ref);
  Cell word = context_global_word(symbol_make("bench-handle"));
  set_word_value(&word, &handle);
  Cell target = context_global_word(symbol_make("bench-face"));
  set_word_value(&target, face);
  eval("bench-face/state: reduce [bench-handle 0 #(none) #(false)]");
  return ref;
}

// The window and its faces: 20 columns x 30 rows of 10x2 faces.
WidgetRef build_window() {
  static WidgetRef window;
  if (widget_get(window)) return window;
  runtime_init();
  g_collector_active = true;
  base_environment_init();
  StackSave save;  // the faces stay reachable from the global words
  eval(std::string("bench-win: ") + kFace +
       "type: 'window size: 200x60 flags: [fullscreen]] bench-win/pane: copy []");
  eval(std::string("bench-font: make object! [color: 255.255.0 parent: #(none) state: #(none)]"));
  eval(std::string("bench-para: make object! [align: 'center v-align: 'middle wrap?: #(false)]"));
  for (int row = 0; row < 30; row++)
    for (int col = 0; col < 20; col++) {
      const char* kinds[] = {"'text", "'field", "'button", "'text"};
      int k = (row + col) % 4;
      std::string spec = std::string("type: ") + kinds[k] + " offset: " + std::to_string(col * 10) + "x" +
                         std::to_string(row * 2) + " text: \"face " + std::to_string(row * 20 + col) +
                         "\" color: " + std::to_string(40 + col * 10) + "." + std::to_string(row * 8) +
                         ".90 font: bench-font para: bench-para";
      if (k == 1) spec += " flags: [focusable]";
      eval("append bench-win/pane " + std::string(kFace) + spec + "]");
    }
  window = show(eval("bench-win"), kNoWidget);
  eval("bench-faces: bench-win/pane");
  for (int i = 1; i <= 600; i++) show(eval("pick bench-faces " + std::to_string(i)), window);
  return window;
}

void frame(benchmark::State& state, bool change) {
  build_window();
  ScreenOutputFn old = screen_set_output(count_bytes);
  ScreenBuffer& screen = tui_screen();
  int n = 0;
  size_t bytes = 0;
  for (auto _ : state) {
    if (change) {
      state.PauseTiming();
      StackSave save;
      eval("bench-field: pick bench-faces 2 bench-field/text: \"changed " + std::to_string(n++ % 10) + "\"");
      state.ResumeTiming();
    }
    g_bytes = 0;
    screen.redraw_needed = true;
    screen_redraw(screen, true, 200, 60);
    bytes = g_bytes;
  }
  state.counters["bytes"] = double(bytes);
  screen_set_output(old);
}

void BM_TuiFirstFrame(benchmark::State& state) { frame(state, false); }
void BM_TuiFrameAfterFieldChange(benchmark::State& state) { frame(state, true); }

BENCHMARK(BM_TuiFirstFrame)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TuiFrameAfterFieldChange)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  MedianReporter reporter;
  return run_benchmarks(argc, argv, reporter);
}
