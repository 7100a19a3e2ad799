// xm-soak: plays modules for hours through the same block filler as the
// output thread, as fast as the machine allows, and checks every block.
//
//   xm-soak [--hours H] FILE.xm...      (default 24 hours each)
//
// For every block: the mix holds no NaN or infinity; the block's stamp time
// has moved on by 1 to 20 ms (a 20 ms block at any tempo); and every voice
// that is still sounding plays a sample of this song, inside that sample,
// in a valid direction. Prints one summary line per module; exit code 1 when
// any check failed or a module could not be loaded.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "music/music.h"
#include "music/xm_block.h"
#include "music/xm_engine.h"
#include "music/xm_file.h"
#include "music/xm_loader.h"
#include "music/xm_types.h"
#include "output_file.h"
#include "tool_cli.h"

namespace {

struct Findings {
  long long nonFinite = 0;
  long long badTimeSteps = 0;
  long long strayVoices = 0;
  long long clippedSamples = 0;
  int peak = 0;
  std::string first;  // the first failure, for the report

  void note(const std::string& what) {
    if (first.empty()) first = what;
  }
  bool failed() const { return nonFinite || badTimeSteps || strayVoices; }
};

std::set<const XmSample*> song_samples(const XmSong* song) {
  std::set<const XmSample*> all{&emptySample};
  for (int i = 0; i < song->instrumentCount; ++i) {
    for (const XmSample* s : song->instruments[i].samples) all.insert(s);
  }
  return all;
}

void check_voices(const std::set<const XmSample*>& samples, long long block, Findings& f) {
  for (int v = 0; v < XM_MIXED_VOICES; ++v) {
    const MixVoice& voice = voices[v];
    if (!voice.sample) continue;
    const XmSample* s = voice.sample;
    // A pass may overrun a loop or sample end by a few frames (its frame
    // count is worked out in 24.8 fixed point), staying inside the 8 frames
    // of slack around the data; the next pass turns, wraps or stops the
    // voice. Anything further out is a voice that escaped.
    const int64_t slack = 8;
    const int64_t position = voice.position;
    const int64_t end = s->loopMode == XM_LOOP_FORWARD || s->loopMode == XM_LOOP_PINGPONG
                            ? static_cast<int64_t>(s->loopStart) + s->loopLength
                            : static_cast<int64_t>(s->length);
    // Only a voice already turned back by a ping-pong loop is bounded by
    // the loop start; before it reaches the loop it plays from frame 0.
    const int64_t start =
        s->loopMode == XM_LOOP_PINGPONG && voice.direction == 2 ? static_cast<int64_t>(s->loopStart) : 0;
    const bool ok = samples.count(s) && (voice.direction == 1 || voice.direction == 2) &&
                    position >= start - slack && position <= std::max<int64_t>(end, s->length) + slack;
    if (!ok) {
      ++f.strayVoices;
      f.note("block " + std::to_string(block) + ": voice " + std::to_string(v) + " at frame " +
             std::to_string(position) + " of a sample of " + std::to_string(s->length) + " frames");
    }
  }
}

const char usageText[] =
    "usage: xm-soak [--hours H] FILE.xm...\n"
    "  plays each module for H hours (default 24; 0.001 to 500) through the\n"
    "  output thread's block filler, as fast as the machine allows, checking\n"
    "  every block; one summary line per module, exit status 1 when any check\n"
    "  failed or a module could not be loaded\n"
    "  --help, --version\n"
    "  '--' ends the options, so '-- -a.xm' names the module -a.xm.\n";

bool soak(const char* path, double hours) {
  // The player's own song: the soak looks at its voices and block stamps.
  const std::string unreadable = unreadable_input(path);
  if (!unreadable.empty()) {
    cli::fail(path, unreadable);
    return false;
  }
  XmSong* song = xm_load(path, nullptr);
  if (!song) {
    cli::fail(path, xm_last_error());
    return false;
  }
  const auto samples = song_samples(song);
  xm_start_song(song);
  MixOutput out{};
  if (!mix_output_init(&out, song)) {
    cli::fail(path, "out of memory");
    xm_release_song(song);
    return false;
  }
  const long long blocks = static_cast<long long>(hours * 3600.0 * mixRate / out.blockFrames);
  Findings f;
  int32_t previousMs = 0;
  const auto started = std::chrono::steady_clock::now();
  for (long long k = 0; k < blocks; ++k) {
    const int32_t b = out.fillBlock;
    mix_fill_block(&out);
    const float* mixed = out.mixBuffer + static_cast<std::ptrdiff_t>(b) * out.blockFrames * 2;
    const int16_t* pcm = mix_block_pcm(&out, b);
    for (int i = 0; i < out.blockFrames * 2; ++i) {
      if (!std::isfinite(mixed[i])) {
        ++f.nonFinite;
        f.note("block " + std::to_string(k) + ": the mix is not a number");
      }
      const int magnitude = std::abs(static_cast<int>(pcm[i]));
      if (magnitude > f.peak) f.peak = magnitude;
      if (magnitude >= 32767) ++f.clippedSamples;
    }
    const int32_t ms = mix_block_stamp(&out, b).timeMs;
    const int32_t step = ms - previousMs;
    if (step < 1 || step > 20) {
      ++f.badTimeSteps;
      f.note("block " + std::to_string(k) + ": the stamp time moved by " + std::to_string(step) + " ms");
    }
    previousMs = ms;
    check_voices(samples, k, f);
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  cli::print("%s: %.2f h of music in %.1f s (%.0fx real time), stamp time %d ms, peak %d, %lld samples at full "
             "scale, %lld NaN, %lld bad time steps, %lld stray voices%s%s\n",
             cli::printable(path).c_str(), hours, seconds, hours * 3600.0 / (seconds > 0 ? seconds : 1), previousMs,
             f.peak, f.clippedSamples, f.nonFinite, f.badTimeSteps, f.strayVoices, f.first.empty() ? "" : "; first: ",
             f.first.c_str());
  cli::flush();
  mix_output_release(&out);
  xm_release_song(song);
  return !f.failed();
}

}  // namespace

int main(int argc, char** argv) {
  if (const int status = cli::start("xm-soak", argc, argv, usageText); status >= 0) return status;
  double hours = 24.0;
  std::vector<std::string> files;
  cli::Args args(argc, argv);
  std::string value, reason;
  while (args.next()) {
    if (!args.is_option()) {
      files.push_back(args.word());
    } else if (args.word() == "--hours") {
      if (!args.value(&value)) return 2;
      // Less than 3.6 seconds of music would check a handful of blocks or none.
      if (!cli::parse_number(value, 0.001, 500.0, &hours, &reason, nullptr, "3.6 seconds")) {
        return cli::usage_error("--hours", reason);
      }
    } else {
      return cli::usage_error(args.word(), "unknown option");
    }
  }
  if (files.empty()) return cli::usage_error("FILE.xm", "no module given");
  music_use_stdio_files();
  bool ok = true;
  for (const std::string& file : files) ok = soak(file.c_str(), hours) && ok;
  return cli::finish(ok ? 0 : 1);
}
