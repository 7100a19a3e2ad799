// xm-soak: plays modules for hours through the player library, as fast as
// the machine allows, and checks every piece it renders.
//
//   xm-soak [--hours H] FILE.xm...      (default 24 hours each)
//
// For every piece of about 20 ms: the mix holds no NaN or infinity; the
// song keeps playing (a song played for ever never runs out); its position
// stays inside its order list, and what each channel plays (note,
// instrument, volume, level) stays inside the format's ranges. Prints one
// summary line per module; exit code 1 when any check failed or a module
// could not be loaded.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "module_summary.h"
#include "tool_cli.h"

namespace {

struct Findings {
  long long nonFinite = 0;
  long long shortPieces = 0;
  long long strayPositions = 0;
  long long strayChannels = 0;
  long long clippedSamples = 0;
  int peak = 0;
  std::string first;  // the first failure, for the report

  void note(long long piece, const std::string& what) {
    if (first.empty()) first = "piece " + std::to_string(piece) + ": " + what;
  }
  bool failed() const { return nonFinite || shortPieces || strayPositions || strayChannels; }
};

// The 16-bit value a float of the mix becomes.
int pcm_magnitude(float value) {
  const double scaled = std::fabs(static_cast<double>(value) * 32768.0);
  return scaled >= 32767.0 ? 32767 : static_cast<int>(std::nearbyint(scaled));
}

void check_samples(const std::vector<float>& mix, long long piece, Findings& f) {
  for (float v : mix) {
    if (!std::isfinite(v)) {
      ++f.nonFinite;
      f.note(piece, "the mix is not a number");
      continue;
    }
    const int magnitude = pcm_magnitude(v);
    if (magnitude > f.peak) f.peak = magnitude;
    if (magnitude >= 32767) ++f.clippedSamples;
  }
}

void check_position(const vxm_song* song, long long piece, Findings& f) {
  const int order = vxm_order(song), row = vxm_row(song);
  if (order < 0 || order >= vxm_order_count(song) || row < 0 || row > 255 || vxm_speed(song) < 0 ||
      vxm_speed(song) > 31 || vxm_tempo(song) < 1 || vxm_tempo(song) > 255) {
    ++f.strayPositions;
    f.note(piece, "order " + std::to_string(order) + " row " + std::to_string(row) + " speed " +
                      std::to_string(vxm_speed(song)) + " tempo " + std::to_string(vxm_tempo(song)));
  }
  for (int c = 0; c < vxm_channel_count(song); ++c) {
    vxm_channel_state s;
    const bool ok = vxm_channel(song, c, &s) && s.note >= 0 && s.note <= 96 && s.instrument >= 0 &&
                    s.instrument <= 128 && (s.note == 0) == (s.instrument == 0) && s.volume >= 0 &&
                    s.volume <= 64 && s.level >= 0 && s.level <= 127;
    if (!ok) {
      ++f.strayChannels;
      f.note(piece, "channel " + std::to_string(c) + " plays note " + std::to_string(s.note) + " of instrument " +
                        std::to_string(s.instrument) + " at volume " + std::to_string(s.volume) + ", level " +
                        std::to_string(s.level));
    }
  }
}

const char usageText[] =
    "usage: xm-soak [--hours H] FILE.xm...\n"
    "  plays each module for H hours (default 24; 0.001 to 500) through the\n"
    "  player library, as fast as the machine allows, checking every 20 ms\n"
    "  of it; one summary line per module, exit status 1 when any check\n"
    "  failed or a module could not be loaded\n"
    "  --help, --version\n"
    "  '--' ends the options, so '-- -a.xm' names the module -a.xm.\n";

bool soak(const std::string& path, double hours) {
  vxm_song* song = load_module(path);
  if (!song) return false;
  vxm_set_play_count(song, 0);
  constexpr int piece = VXM_RATE_DEFAULT / 50;  // 20 ms
  const long long pieces = static_cast<long long>(hours * 3600.0 * 50.0);
  std::vector<float> mix(2 * piece);
  Findings f;
  const auto started = std::chrono::steady_clock::now();
  for (long long k = 0; k < pieces; ++k) {
    if (vxm_render_f32(song, mix.data(), piece) != static_cast<size_t>(piece)) {
      ++f.shortPieces;
      f.note(k, "the song stopped playing");
      break;
    }
    check_samples(mix, k, f);
    check_position(song, k, f);
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  cli::print("%s: %.2f h of music in %.1f s (%.0fx real time), at %lld ms, peak %d, %lld samples at full "
             "scale, %lld NaN, %lld short pieces, %lld stray positions, %lld stray channels%s%s\n",
             cli::printable(path).c_str(), hours, seconds, hours * 3600.0 / (seconds > 0 ? seconds : 1),
             static_cast<long long>(vxm_time_ms(song)), f.peak, f.clippedSamples, f.nonFinite, f.shortPieces,
             f.strayPositions, f.strayChannels, f.first.empty() ? "" : "; first: ", f.first.c_str());
  cli::flush();
  vxm_free(song);
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
  bool ok = true;
  for (const std::string& file : files) ok = soak(file, hours) && ok;
  return cli::finish(ok ? 0 : 1);
}
