// Renders modules for 60 seconds through the block filler, the path of
// xm-render and of live playback: every module of the fetched corpus
// (scripts/fetch-xm-corpus.sh) and a built module keeping 32 channels busy,
// each with the processor's fastest mixing code and with the plain scalar
// reference, and with the fastest code through the player library's public
// calls, and with the fastest code by the tracker's rules. Reports
// milliseconds per 60-second render and the realtime factor, then tables of
// the paths and rule sets side by side with their ratios.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <memory>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "music/vantor_xm.h"
#include "music/xm_block.h"
#include "music/xm_engine.h"
#include "music/xm_length.h"
#include "music/xm_loader.h"
#include "music/xm_mixer.h"
#include "music/xm_rules.h"
#include "music/xm_tracker_rules.h"
#include "music/xm_player.h"
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

void render(benchmark::State& state, const XmSong* song, MixPath path, const XmRules& rules = xmPlayerRules) {
  if (!mix_use_path(path)) {
    state.SkipWithError("this processor cannot run the path");
    return;
  }
  PlayerPtr player = player_for(song);
  if (!player) {
    state.SkipWithError("out of memory");
    return;
  }
  player->rules = &rules;
  const MixOutput& out = player->output;
  const int64_t frames = int64_t{seconds} * 44100;
  for (auto _ : state) {
    xm_start_song(player.get());
    for (int64_t done = 0; done < frames; done += out.blockFrames) mix_fill_block(player.get());
    benchmark::DoNotOptimize(out.pcmBuffer[0]);
  }
  player.reset();
  mix_use_path(MixPath::Best);
  state.counters["realtime_x"] = benchmark::Counter(static_cast<double>(seconds) * static_cast<double>(state.iterations()),
                                                    benchmark::Counter::kIsRate);
}

// The same 60 seconds through the library: its own song, rendered in pieces
// as a program would.
void render_api(benchmark::State& state, const std::vector<uint8_t>& bytes) {
  vxm_error error;
  vxm_song* song = vxm_load_memory(bytes.data(), bytes.size(), 44100, &error);
  if (!song) {
    state.SkipWithError(error.message);
    return;
  }
  vxm_set_play_count(song, 0);
  std::vector<int16_t> pcm(2 * 4096);
  const int64_t frames = int64_t{seconds} * 44100;
  for (auto _ : state) {
    vxm_seek_ms(song, 0);
    for (int64_t done = 0; done < frames;) done += static_cast<int64_t>(vxm_render_s16(song, pcm.data(), 4096));
    benchmark::DoNotOptimize(pcm[0]);
  }
  vxm_free(song);
  state.counters["realtime_x"] = benchmark::Counter(static_cast<double>(seconds) * static_cast<double>(state.iterations()),
                                                    benchmark::Counter::kIsRate);
}

std::vector<uint8_t> file_bytes(const std::string& path) {
  std::vector<uint8_t> bytes;
  if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
    uint8_t buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) bytes.insert(bytes.end(), buffer, buffer + n);
    std::fclose(f);
  }
  return bytes;
}

void render_file(benchmark::State& state, const std::string& path, MixPath mixer, const XmRules& rules) {
  SongPtr song = load_path(path);
  if (!song) {
    state.SkipWithError(load_error());
    return;
  }
  render(state, song.get(), mixer, rules);
}

void render_busy(benchmark::State& state, MixPath mixer, const XmRules& rules) {
  SongPtr song = load_bytes(busy_module());
  if (!song) {
    state.SkipWithError(load_error());
    return;
  }
  render(state, song.get(), mixer, rules);
}

// Keeps each render's time per benchmark name for the closing table: the
// shortest of the repetitions, the one least disturbed by other work.
class TableReporter : public benchmark::ConsoleReporter {
 public:
  std::vector<std::pair<std::string, double>> times;  // name, CPU ms per render
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& r : runs) {
      if (r.error_occurred || r.run_type != Run::RT_Iteration) continue;
      const std::string name = r.run_name.function_name;
      auto known = std::find_if(times.begin(), times.end(), [&](const auto& t) { return t.first == name; });
      if (known == times.end()) {
        times.emplace_back(name, r.GetAdjustedCPUTime());
      } else if (r.GetAdjustedCPUTime() < known->second) {
        known->second = r.GetAdjustedCPUTime();
      }
    }
  }
};

// One row per module that has both `from` and `to` renders: their CPU ms
// and from / to.
void print_table(const TableReporter& reporter, const char* from, const char* to, const char* fromName,
                 const char* toName) {
  std::printf("\n%-52s %12s %12s %7s\n", "60 s rendered (CPU ms)", fromName, toName, "ratio");
  double fromSum = 0, toSum = 0;
  for (const auto& [name, ms] : reporter.times) {
    const std::string suffix = from;
    if (name.size() < suffix.size() || name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0) continue;
    const std::string module = name.substr(0, name.size() - suffix.size());
    for (const auto& [other, toMs] : reporter.times) {
      if (other != module + to) continue;
      std::printf("%-52s %12.1f %12.1f %6.3fx\n", module.substr(module.find('/') + 1).c_str(), ms, toMs, ms / toMs);
      fromSum += ms;
      toSum += toMs;
    }
  }
  if (toSum > 0) std::printf("%-52s %12.1f %12.1f %6.3fx\n", "all", fromSum, toSum, fromSum / toSum);
}

// Song lengths of the whole corpus, against rendering the whole corpus for
// those lengths (timed once, outside the measured loop): render_share_pct is
// the length computation's wall time as a percentage of the render's.
void register_song_length_benchmarks(const std::vector<fs::path>& files) {
  benchmark::RegisterBenchmark("song_length/corpus", [files](benchmark::State& state) {
    std::vector<SongPtr> songs;
    for (const fs::path& f : files) {
      SongPtr song = load_path(f.string());
      if (song) songs.push_back(std::move(song));
    }
    if (songs.empty()) {
      state.SkipWithError("no corpus in .cache/xm-corpus/xm");
      return;
    }
    int64_t audioFrames = 0;
    const auto renderStart = std::chrono::steady_clock::now();
    for (const SongPtr& song : songs) {
      const int64_t frames = xm_song_length(song.get(), 44100).frames;
      audioFrames += frames;
      PlayerPtr player = player_for(song.get());
      if (!player) continue;
      for (int64_t done = 0; done < frames; done += player->output.blockFrames) mix_fill_block(player.get());
      benchmark::DoNotOptimize(player->output.pcmBuffer[0]);
    }
    const double renderSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - renderStart).count();
    const auto lengthStart = std::chrono::steady_clock::now();
    for (auto _ : state) {
      for (const SongPtr& song : songs) benchmark::DoNotOptimize(xm_song_length(song.get(), 44100).frames);
    }
    const double lengthSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - lengthStart).count() /
        static_cast<double>(state.iterations());
    state.counters["modules"] = static_cast<double>(songs.size());
    state.counters["audio_s"] = static_cast<double>(audioFrames) / 44100;
    state.counters["render_s"] = renderSeconds;
    state.counters["render_share_pct"] = 100.0 * lengthSeconds / renderSeconds;
  })->Unit(benchmark::kMillisecond);
}

// What embedders call as often as they like, whatever the count or target:
// a play count of INT_MAX, the end of INT_MAX plays, a seek a day in with
// one play (past its end) and with the song playing for ever (into the
// same point of its second play). Each over every module, one call at a
// time; worst_ms is the slowest single call.
void register_call_benchmarks(const std::vector<std::vector<uint8_t>>& modules) {
  using Call = void (*)(vxm_song*);
  const std::pair<const char*, Call> calls[] = {
      {"set_play_count_INT_MAX", [](vxm_song* s) { vxm_set_play_count(s, INT_MAX); }},
      {"measure_INT_MAX", [](vxm_song* s) { benchmark::DoNotOptimize(vxm_measure(s, INT_MAX, -1)); }},
      {"seek_24h_one_play", [](vxm_song* s) { vxm_seek_ms(s, int64_t{24} * 3600 * 1000); }},
      {"seek_24h_for_ever",
       [](vxm_song* s) {
         vxm_set_play_count(s, 0);
         vxm_seek_ms(s, int64_t{24} * 3600 * 1000);
       }},
  };
  for (const auto& [name, call] : calls) {
    benchmark::RegisterBenchmark((std::string("library_calls/") + name).c_str(), [&modules, call = call](benchmark::State& state) {
      std::vector<vxm_song*> songs;
      for (const std::vector<uint8_t>& bytes : modules) {
        if (vxm_song* song = vxm_load_memory(bytes.data(), bytes.size(), 44100, nullptr)) songs.push_back(song);
      }
      double worst = 0;
      for (auto _ : state) {
        for (vxm_song* song : songs) {
          vxm_seek_ms(song, 0);  // from the start each time, untimed
          vxm_set_play_count(song, 1);
          const auto start = std::chrono::steady_clock::now();
          call(song);
          worst = std::max(worst, std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
        }
      }
      for (vxm_song* song : songs) vxm_free(song);
      state.counters["modules"] = static_cast<double>(songs.size());
      state.counters["worst_ms"] = worst;
    })->Unit(benchmark::kMillisecond);
  }
}

}  // namespace

int main(int argc, char** argv) {
  // Both paths of one module one after the other, so the table compares
  // renders made under the same load.
  // And the fastest path by the tracker's rules right after the player's.
  auto both = [](const std::string& name, auto fn) {
    const struct {
      const char* suffix;
      MixPath path;
      const XmRules* rules;
    } variants[] = {{"/scalar", MixPath::Scalar, &xmPlayerRules},
                    {"/fast", MixPath::Best, &xmPlayerRules},
                    {"/tracker", MixPath::Best, &xmTrackerRules}};
    for (const auto& v : variants) {
      benchmark::RegisterBenchmark((name + v.suffix).c_str(),
                                   [fn, v](benchmark::State& s) { fn(s, v.path, *v.rules); })
          ->Unit(benchmark::kMillisecond);
    }
  };
  // The library's row right after the internal fast one, for the same reason.
  auto api = [](const std::string& name, std::vector<uint8_t> bytes) {
    benchmark::RegisterBenchmark((name + "/api").c_str(), [bytes](benchmark::State& s) { render_api(s, bytes); })
        ->Unit(benchmark::kMillisecond);
  };
  both("render60s/built_32_channels",
       [](benchmark::State& s, MixPath p, const XmRules& r) { render_busy(s, p, r); });
  api("render60s/built_32_channels", busy_module());
  std::vector<fs::path> files;
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(fs::path(VANTOR_SOURCE_DIR) / ".cache/xm-corpus/xm", ec)) {
    if (e.path().extension() == ".xm") files.push_back(e.path());
  }
  std::sort(files.begin(), files.end());
  register_song_length_benchmarks(files);
  static std::vector<std::vector<uint8_t>> modules{busy_module()};
#ifdef VANTOR_COMPOSED_MODULE
  modules.push_back(file_bytes(VANTOR_COMPOSED_MODULE));
#endif
  for (const fs::path& f : files) modules.push_back(file_bytes(f.string()));
  register_call_benchmarks(modules);
  if (files.empty()) std::fprintf(stderr, "no corpus in .cache/xm-corpus/xm: only the built module is rendered\n");
  for (const fs::path& f : files) {
    const std::string path = f.string();
    both("render60s/" + f.filename().string(),
         [path](benchmark::State& s, MixPath p, const XmRules& r) { render_file(s, path, p, r); });
    api("render60s/" + f.filename().string(), file_bytes(path));
  }
  benchmark::Initialize(&argc, argv);
  TableReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  mix_use_path(MixPath::Best);
  print_table(reporter, "/scalar", "/fast", "scalar", mix_path_name(mix_path()));
  print_table(reporter, "/fast", "/api", "internal", "library");
  print_table(reporter, "/tracker", "/fast", "tracker", "player");
  benchmark::Shutdown();
  return 0;
}
