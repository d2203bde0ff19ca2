// Built-in icons as menus and pop-ups draw them: every icon of one run
// (0xFF1400, 172 icons) at 24 and at 80 pixels; time per icon.
#include <benchmark/benchmark.h>

#include "images/icons.h"
#include "images/svg_render.h"

using namespace okt;

static void BM_IconsOfOneRun(benchmark::State& state) {
  const uint32_t width = static_cast<uint32_t>(state.range(0));
  int64_t icons = 0;
  for (auto _ : state) {
    for (uint32_t id = 0xFF1400; id <= 0xFF14AB; ++id) benchmark::DoNotOptimize(renderIcon(id, width));
    icons += 172;
  }
  state.SetItemsProcessed(icons);
  state.counters["us_per_icon"] =
      benchmark::Counter(static_cast<double>(icons), benchmark::Counter::kIsRate | benchmark::Counter::kInvert,
                         benchmark::Counter::kIs1000);
}
BENCHMARK(BM_IconsOfOneRun)->Arg(24)->Arg(80)->Unit(benchmark::kMillisecond);
