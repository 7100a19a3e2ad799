// Start-up cost of the picture and the frame rate of a busy frame.
//
// Run with --benchmark_repetitions=10 --benchmark_report_aggregates_only=true
// for medians.
#include <benchmark/benchmark.h>

#include "scroller/intro_content.h"
#include "scroller/palette.h"
#include "scroller/random.h"

#if VANTOR_BENCH_FRAMES
#include "capture.h"
#include "headless_gl.h"
#include "platform/gl.h"
#endif

namespace {

void PaletteBuild(benchmark::State& state) {
  for (auto _ : state) {
    xpalette palette;
    benchmark::DoNotOptimize(palette.entries());
  }
}
BENCHMARK(PaletteBuild)->Unit(benchmark::kMillisecond);

// What intro_init builds, without the music: seed, palette, scroller.
void IntroContentBuild(benchmark::State& state) {
  for (auto _ : state) {
    seedRandom(kIntroSeed);
    IntroContent content;
    if (!createIntroContent(content)) state.SkipWithError("out of memory");
    benchmark::DoNotOptimize(content.scroller);
    destroyIntroContent(content);
  }
}
BENCHMARK(IntroContentBuild)->Unit(benchmark::kMillisecond);

#if VANTOR_BENCH_FRAMES
// The frame with the most cubes while the text passes.
int busiestFrame() {
  IntroCapture capture;
  if (!capture.build()) return 0;
  std::vector<CubeRecord> cubes;
  int best = 0;
  std::size_t most = 0;
  for (int frame = 0; frame < 11554; ++frame) {
    cubes.clear();
    capture.frame(false, &cubes);
    if (cubes.size() > most) {
      most = cubes.size();
      best = frame;
    }
  }
  return best;
}

// Frames per second at 840 x 525 under the headless software renderer,
// starting at the busiest frame (the scene changes little over a run).
void BusyFrame(benchmark::State& state) {
  static const int start = busiestFrame();
  HeadlessGl gl;
  std::string why;
  if (!gl.open(kCaptureWidth, kCaptureHeight, &why)) {
    state.SkipWithError(why.c_str());
    return;
  }
  IntroCapture capture;
  if (!capture.build()) {
    state.SkipWithError("out of memory");
    return;
  }
  IntroCapture::setView(1920, 1080);
  while (capture.frameIndex() < start) capture.frame(false);
  std::vector<CubeRecord> cubes;
  capture.frame(false, &cubes);
  state.counters["frame"] = start;
  state.counters["cubes"] = static_cast<double>(cubes.size());
  for (auto _ : state) {
    capture.frame(true);
    glFinish();
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BusyFrame)->Unit(benchmark::kMillisecond)->UseRealTime();
#endif

}  // namespace
