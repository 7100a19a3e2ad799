// Renders modules for 60 seconds through the block filler, the path of
// xm-render and of live playback: the largest modules of the fetched corpus
// (scripts/fetch-xm-corpus.sh) and a built module keeping 32 channels busy.
// Reports milliseconds per 60-second render and the realtime factor.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "music/music.h"
#include "music/xm_block.h"
#include "music/xm_engine.h"
#include "music/xm_file.h"
#include "music/xm_length.h"
#include "music/xm_loader.h"
#include "xm_writer.h"

namespace fs = std::filesystem;
using namespace xmtest;

namespace {

constexpr int seconds = 60;

// 32 channels, a note on every channel every second row (so partner voices
// ramp out all the time), forward and ping-pong loops, vibrato, slides.
std::vector<uint8_t> busy_module() {
  ModuleDef m;
  m.channels = 32;
  m.orders = {0, 1};
  m.patterns.resize(2);
  InstrumentDef a = one_sample_instrument(ramp_sample());
  SampleDef pp = ramp_sample();
  pp.type = 2;
  pp.loopStart = 100;
  pp.loopLength = 700;
  InstrumentDef b = one_sample_instrument(pp);
  b.volume.points = {{0, 64}, {20, 40}, {60, 50}};
  b.volume.type = 1;
  b.vibratoDepth = 4;
  b.vibratoRate = 10;
  m.instruments = {a, b};
  const uint8_t effects[4][2] = {{4, 0x46}, {10, 0x01}, {0, 0x37}, {3, 0x08}};
  for (int p = 0; p < 2; ++p) {
    for (int row = 0; row < 64; ++row) {
      for (int ch = 0; ch < 32; ++ch) {
        const bool note = (row + ch) % 2 == 0;
        const uint8_t* e = effects[(row / 2 + ch) % 4];
        m.set(p, row, ch, cell(note ? static_cast<uint8_t>(25 + (ch * 7 + row) % 60) : 0,
                               note ? static_cast<uint8_t>(1 + ch % 2) : 0, note ? 0x30 : 0, e[0], e[1]));
      }
    }
  }
  return build(m);
}

void render(benchmark::State& state, XmSong* song) {
  MixOutput out{};
  if (!mix_output_init(&out, song)) {
    state.SkipWithError("out of memory");
    return;
  }
  const int64_t frames = int64_t{seconds} * mixRate;
  for (auto _ : state) {
    xm_start_song(song);
    out.fillBlock = 0;
    for (int64_t done = 0; done < frames; done += out.blockFrames) mix_fill_block(&out);
    benchmark::DoNotOptimize(out.pcmBuffer[0]);
  }
  mix_output_release(&out);
  state.counters["realtime_x"] = benchmark::Counter(static_cast<double>(seconds) * static_cast<double>(state.iterations()),
                                                    benchmark::Counter::kIsRate);
}

void render_file(benchmark::State& state, const std::string& path) {
  music_use_stdio_files();
  SongPtr song(xm_load(path.c_str(), nullptr));
  if (!song) {
    state.SkipWithError(xm_last_error());
    return;
  }
  render(state, song.get());
}

void render_busy(benchmark::State& state) {
  SongPtr song = load_bytes(busy_module());
  if (!song) {
    state.SkipWithError(xm_last_error());
    return;
  }
  render(state, song.get());
}

// Song lengths of the whole corpus, against rendering the whole corpus for
// those lengths (timed once, outside the measured loop): render_share_pct is
// the length computation's wall time as a percentage of the render's.
void register_song_length_benchmarks(const std::vector<fs::path>& files) {
  benchmark::RegisterBenchmark("song_length/corpus", [files](benchmark::State& state) {
    music_use_stdio_files();
    std::vector<SongPtr> songs;
    for (const fs::path& f : files) {
      SongPtr song(xm_load(f.string().c_str(), nullptr));
      if (song) songs.push_back(std::move(song));
    }
    if (songs.empty()) {
      state.SkipWithError("no corpus in .cache/xm-corpus/xm");
      return;
    }
    int64_t audioFrames = 0;
    const auto renderStart = std::chrono::steady_clock::now();
    for (const SongPtr& song : songs) {
      const int64_t frames = xm_song_length(song.get()).frames;
      audioFrames += frames;
      MixOutput out{};
      if (!mix_output_init(&out, song.get())) continue;
      xm_start_song(song.get());
      for (int64_t done = 0; done < frames; done += out.blockFrames) mix_fill_block(&out);
      benchmark::DoNotOptimize(out.pcmBuffer[0]);
      mix_output_release(&out);
    }
    const double renderSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - renderStart).count();
    const auto lengthStart = std::chrono::steady_clock::now();
    for (auto _ : state) {
      for (const SongPtr& song : songs) benchmark::DoNotOptimize(xm_song_length(song.get()).frames);
    }
    const double lengthSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - lengthStart).count() /
        static_cast<double>(state.iterations());
    state.counters["modules"] = static_cast<double>(songs.size());
    state.counters["audio_s"] = static_cast<double>(audioFrames) / mixRate;
    state.counters["render_s"] = renderSeconds;
    state.counters["render_share_pct"] = 100.0 * lengthSeconds / renderSeconds;
  })->Unit(benchmark::kMillisecond);
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::RegisterBenchmark("render60s/built_32_channels", render_busy)->Unit(benchmark::kMillisecond);
  std::vector<fs::path> files;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(fs::path(VANTOR_SOURCE_DIR) / ".cache/xm-corpus/xm", ec)) {
    if (e.path().extension() == ".xm") files.push_back(e.path());
  }
  std::sort(files.begin(), files.end(), [](const fs::path& a, const fs::path& b) {
    return fs::file_size(a) > fs::file_size(b);
  });
  register_song_length_benchmarks(files);
  if (files.empty()) std::fprintf(stderr, "no corpus in .cache/xm-corpus/xm: only the built module is rendered\n");
  if (files.size() > 5) files.resize(5);
  for (const fs::path& f : files) {
    const std::string path = f.string();
    benchmark::RegisterBenchmark(("render60s/" + f.filename().string()).c_str(),
                                 [path](benchmark::State& s) { render_file(s, path); })
        ->Unit(benchmark::kMillisecond);
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
