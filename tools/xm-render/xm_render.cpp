// xm-render: renders an XM module to a 16-bit stereo WAV file (44100 Hz
// unless --rate says otherwise) through the player library, which plays
// exactly what the intro plays.
//
//   xm-render IN.xm [-o OUT.wav|-] [--loops N] [--seconds S] [--fade S] [--rows] [--mixer PATH] [--rate HZ]
//             [--rules player|tracker] [--force]
//   xm-render --info IN.xm...
//
// By default the song is rendered once, to where it first comes back to a row
// it already played. --rows prints "FRAME ORDER ROW" for every row start,
// FRAME being the output frame at which the row's first tick begins.
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#ifdef _WIN32
#include <io.h>
#define XM_ISATTY(fd) _isatty(fd)
#define XM_FILENO(f) _fileno(f)
#else
#include <unistd.h>
#define XM_ISATTY(fd) isatty(fd)
#define XM_FILENO(f) fileno(f)
#endif

#include "module_summary.h"
#include "output_file.h"
#include "tool_cli.h"
#include "vantor_xm.h"
#include "wav_writer.h"

namespace {

const char usageText[] =
    "usage: xm-render IN.xm [-o OUT.wav|-] [--loops N] [--seconds S] [--fade S] [--rows]\n"
    "                 [--mixer PATH] [--rate HZ] [--rules player|tracker] [--force]\n"
    "       xm-render --info IN.xm...\n"
    "  renders IN.xm to a 16-bit stereo WAV file, once through the song\n"
    "  -o OUT.wav     output file (default: IN with the extension .wav); - for standard output\n"
    "  --loops N      play the song N more times after the first, 0 to 10000\n"
    "  --seconds S    render exactly S seconds instead, cutting or going on;\n"
    "                 0.001 to 21600\n"
    "  --fade S       fade the last S seconds out, 0 to 21600\n"
    "  --rows         print 'FRAME ORDER ROW' for every row start\n"
    "  --mixer PATH   mixing code: best (default), scalar, portable, sse2, avx2\n"
    "                 or avx512; every path gives the same output\n"
    "  --rate HZ      frames per second, " VXM_TEXT(VXM_RATE_MIN) " to " VXM_TEXT(VXM_RATE_MAX) " (default "
    VXM_TEXT(VXM_RATE_DEFAULT) ")\n"
    "  --rules R      player (default): this player's own rules, as the intro\n"
    "                 plays; tracker: the rules of the tracker that defined the\n"
    "                 format, as the song's composer heard it\n"
    "  --info         print one line per module (title, channels, patterns,\n"
    "                 instruments, length, frequency table) without rendering\n"
    "  --force        replace OUT.wav even where it is read-only or another user's\n"
    "  --help, --version\n"
    "  Options take their value as '--seconds 5' or '--seconds=5'; numbers are\n"
    "  decimal. '--' ends the options, so '-- -a.xm' names the module -a.xm.\n"
    "  A WAV file holds at most 6 hours here (its header counts at most 4 GiB,\n"
    "  6 h 45 min at 44100 Hz): --seconds goes up to 21600, less above 49700 Hz,\n"
    "  and --loops stops there with a word.\n"
    "  A song that never comes back to a row it played (within about a million\n"
    "  rows) is cut after one hour.\n";

// Row logging: the library reports each row as it mixes it.
int64_t renderFrames = 0;

void log_row(void*, int order, int row, int64_t frame) {
  if (frame < renderFrames) cli::print("%lld %d %d\n", static_cast<long long>(frame), order, row);
}

std::string default_output(const std::string& in) {
  const size_t slash = in.find_last_of("/\\");
  const size_t dot = in.find_last_of('.');
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) return in.substr(0, dot) + ".wav";
  return in + ".wav";
}

void progress(int64_t done, int64_t total) {
  const int width = 40;
  const int filled = total > 0 ? static_cast<int>(done * width / total) : width;
  char bar[width + 1];
  for (int i = 0; i < width; ++i) bar[i] = i < filled ? '#' : '.';
  bar[width] = '\0';
  std::fprintf(stderr, "\r[%s] %3d%%", bar, total > 0 ? static_cast<int>(done * 100 / total) : 100);
  if (done >= total) std::fputc('\n', stderr);
  std::fflush(stderr);
}

// 0 when the path was taken, else the exit status.
int use_mixer(const std::string& name) {
  const int taken = vxm_use_mixer(name.c_str());
  if (taken == 1) return 0;
  if (taken == 0) return cli::fail("--mixer", "this processor or build cannot mix with " + name);
  return cli::usage_error("--mixer", "'" + name + "' is not one of best, scalar, portable, sse2, avx2, avx512");
}

// The longest WAV written, files and standard output alike. The header
// counts the data in 32 bits, 4 GiB or 6 h 45 min at 44100 Hz; a round 6
// hours keeps clear of that, and higher rates get what 4 GiB holds.
// Standard output gets the same limit: its header goes out first and must
// already hold the length, and no WAV header can hold a longer one, so
// anything longer would be a file that lies about its size.
constexpr double maxSeconds = 6 * 3600;
// Below a millisecond a WAV would hold a few frames or none.
constexpr double minSeconds = 0.001;
constexpr long maxLoops = 10000;
constexpr int64_t maxWavFrames = (int64_t{0xFFFFFFFF} - 64) / 4;

int64_t max_frames(int rate) {
  const int64_t frames = static_cast<int64_t>(maxSeconds) * rate;
  return frames < maxWavFrames ? frames : maxWavFrames / rate * rate;
}

std::string limit_words(int rate) {
  const int64_t seconds = max_frames(rate) / rate;
  if (seconds == static_cast<int64_t>(maxSeconds)) return "6 hours";
  return std::to_string(seconds) + " seconds at " + std::to_string(rate) + " Hz";
}

// One summary line per module on standard output; 1 if any failed to load.
int info(const std::vector<std::string>& files) {
  int status = 0;
  for (const std::string& in : files) {
    vxm_song* song = load_module(in);
    if (!song) {
      status = 1;
      continue;
    }
    cli::print("%s: %s\n", cli::printable(in).c_str(), module_summary(song, vxm_measure(song, 1, -1)).c_str());
    vxm_free(song);
  }
  return status;
}

// Scales the last `fadeFrames` of `total` frames down to silence; `first` is
// the index of the block's first frame.
void fade(int16_t* pcm, int64_t first, uint32_t frames, int64_t total, int64_t fadeFrames) {
  const int64_t fadeStart = total - fadeFrames;
  for (uint32_t i = 0; i < frames; ++i) {
    const int64_t at = first + i;
    if (at < fadeStart) continue;
    const int64_t left = total - at;  // fadeFrames down to 1
    for (int c = 0; c < 2; ++c) pcm[2 * i + c] = static_cast<int16_t>(pcm[2 * i + c] * left / fadeFrames);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (const int status = cli::start("xm-render", argc, argv, usageText); status >= 0) return status;
  std::vector<std::string> inputs;
  std::string out;
  double seconds = 0.0, fadeSeconds = 0.0;
  bool haveOut = false, haveSeconds = false, haveFade = false, rows = false, infoMode = false, force = false;
  long loops = 0, rate = VXM_RATE_DEFAULT;
  vxm_rules rules = VXM_RULES_PLAYER;
  bool haveLoops = false;
  cli::Args args(argc, argv);
  std::string value, reason, secondsText;
  while (args.next()) {
    const std::string& a = args.word();
    if (!args.is_option()) {
      inputs.push_back(a);
    } else if (a == "-o") {
      if (haveOut) return cli::usage_error("-o", "given twice");
      if (!args.value(&out)) return 2;
      haveOut = true;
    } else if (a == "--seconds") {
      if (!args.value(&value)) return 2;
      if (!cli::parse_number(value, minSeconds, maxSeconds, &seconds, &reason, "6 hours", "a millisecond")) {
        return cli::usage_error(a, reason);
      }
      haveSeconds = true;
      secondsText = value;
    } else if (a == "--fade") {
      if (!args.value(&value)) return 2;
      if (!cli::parse_number(value, 0.0, maxSeconds, &fadeSeconds, &reason, "6 hours")) return cli::usage_error(a, reason);
      haveFade = true;
    } else if (a == "--loops") {
      if (!args.value(&value)) return 2;
      if (!cli::parse_count(value, 0, maxLoops, &loops, &reason)) return cli::usage_error(a, reason);
      haveLoops = true;
    } else if (a == "--rows") {
      if (!args.no_value()) return 2;
      rows = true;
    } else if (a == "--mixer") {
      if (!args.value(&value)) return 2;
      if (const int status = use_mixer(value)) return status;
    } else if (a == "--rate") {
      if (!args.value(&value)) return 2;
      if (!cli::parse_count(value, VXM_RATE_MIN, VXM_RATE_MAX, &rate, &reason)) return cli::usage_error(a, reason);
    } else if (a == "--rules") {
      if (!args.value(&value)) return 2;
      if (value != "player" && value != "tracker") return cli::usage_error(a, "'" + value + "' is not player or tracker");
      rules = value == "tracker" ? VXM_RULES_TRACKER : VXM_RULES_PLAYER;
    } else if (a == "--info") {
      if (!args.no_value()) return 2;
      infoMode = true;
    } else if (a == "--force") {
      if (!args.no_value()) return 2;
      force = true;
    } else {
      return cli::usage_error(a, "unknown option");
    }
  }
  if (infoMode) {
    if (inputs.empty()) return cli::usage_error("--info", "needs at least one module");
    if (haveOut || haveSeconds || haveFade || haveLoops || rows) {
      return cli::usage_error("--info", "renders nothing, so it takes no -o, --seconds, --fade, --loops or --rows");
    }
    return cli::finish(info(inputs));
  }
  if (inputs.empty()) return cli::usage_error("IN.xm", "no module given");
  if (inputs.size() != 1) return cli::usage_error(inputs[1], "one module at a time (--info takes several)");
  if (haveSeconds && haveLoops) return cli::usage_error("--loops", "cannot go with --seconds");
  const std::string& in = inputs[0];
  const bool toStdout = haveOut && out == "-";
  // The row log and the WAV cannot share standard output.
  if (toStdout && rows) return cli::usage_error("--rows", "cannot share standard output with the WAV (-o -)");
  const std::string outPath = haveOut ? out : default_output(in);

  const int hz = static_cast<int>(rate);
  const int64_t maxFrames = max_frames(hz);
  if (haveSeconds && std::llround(seconds * hz) > maxFrames) {
    return cli::usage_error("--seconds", secondsText + " is above the limit of " +
                                             std::to_string(maxFrames / hz) + " at " + std::to_string(hz) + " Hz");
  }

  vxm_song* song = load_module(in, hz);
  if (!song) return 1;
  vxm_set_rules(song, rules);
  const vxm_length once = vxm_measure(song, 1, -1);
  std::fprintf(stderr, "%s: %s\n", cli::printable(in).c_str(), module_summary(song, once, hz).c_str());
  if (haveSeconds) {
    renderFrames = std::llround(seconds * hz);
  } else if (loops == 0) {
    renderFrames = once.frames;
    if (!once.ended) {
      cli::note("the song never comes back to a row it played; stopped after " + format_duration(once.frames, hz));
    } else if (once.frames > maxFrames) {
      // A song may take longer than a WAV file holds before it comes back.
      renderFrames = maxFrames;
      cli::note("the song plays " + format_duration(once.frames, hz) + " before it comes back; stopped at the WAV file's limit of " +
                limit_words(hz));
    }
  } else {
    const vxm_length all = vxm_measure(song, static_cast<int>(1 + loops), maxFrames);
    renderFrames = all.frames;
    if (!all.ended) {
      cli::note("--loops " + std::to_string(loops) + ": stopped at the WAV file's limit of " + limit_words(hz) +
                ", in order " + std::to_string(all.order) + " row " + std::to_string(all.row));
    }
  }
  const int64_t fadeFrames = haveFade ? std::min<int64_t>(std::llround(fadeSeconds * hz), renderFrames) : 0;
  // Exactly renderFrames, wherever the song's plays end.
  vxm_set_play_count(song, 0);

  // Nothing is created or replaced before the song has loaded.
  write_errors_not_signals();
  OutputFile file;
  if (!file.open(outPath, {in}, &reason, force)) {
    vxm_free(song);
    return cli::fail(toStdout ? "standard output" : outPath, reason);
  }
  const std::string outName = toStdout ? "standard output" : outPath;
  if (rows) vxm_set_row_callback(song, log_row, nullptr);

  // Large writes: a minute of sound is 10 MB, and each small write is a
  // system call that costs more than mixing the block.
  std::setvbuf(file.file(), nullptr, _IOFBF, 1 << 20);
  WavWriter wav;
  bool ok = wav_begin(wav, file.file(), file.seekable(), hz, 2, static_cast<uint32_t>(renderFrames));
  int writeError = ok ? 0 : errno;
  const bool showProgress = XM_ISATTY(XM_FILENO(stderr)) != 0;
  int64_t written = 0;
  int lastPercent = -1;
  std::vector<int16_t> pcm(2 * 4096);
  while (written < renderFrames && ok) {
    const int64_t left = renderFrames - written;
    const uint32_t n = static_cast<uint32_t>(vxm_render_s16(song, pcm.data(), left < 4096 ? static_cast<size_t>(left) : 4096));
    if (fadeFrames > 0) fade(pcm.data(), written, n, renderFrames, fadeFrames);
    ok = wav_write(wav, pcm.data(), n);
    if (!ok) writeError = errno;
    written += n;
    if (showProgress) {
      const int percent = static_cast<int>(written * 100 / renderFrames);
      if (percent != lastPercent) {
        progress(written, renderFrames);
        lastPercent = percent;
      }
    }
  }
  if (showProgress && !ok) std::fputc('\n', stderr);
  if (ok && !wav_finish(wav)) {
    ok = false;
    writeError = errno;
  }
  vxm_free(song);
  if (!ok) {
    file.abandon();
    return cli::fail(outName, "cannot write: " + cli::os_reason(writeError != 0 ? writeError : EIO));
  }
  if (!file.commit(&reason)) return cli::fail(outName, reason);
  return cli::finish(0);
}
