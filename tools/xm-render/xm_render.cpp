// xm-render: renders an XM module to a 44100 Hz 16-bit stereo WAV file
// through the same engine, block filler and conversion as live playback.
//
//   xm-render IN.xm [-o OUT.wav|-] [--loops N] [--seconds S] [--fade S] [--rows] [--mixer PATH]
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
#include "music/music.h"
#include "music/xm_block.h"
#include "music/xm_engine.h"
#include "music/xm_file.h"
#include "music/xm_length.h"
#include "music/xm_loader.h"
#include "music/xm_mixer.h"
#include "output_file.h"
#include "tool_cli.h"
#include "wav_writer.h"

namespace {

const char usageText[] =
    "usage: xm-render IN.xm [-o OUT.wav|-] [--loops N] [--seconds S] [--fade S] [--rows]\n"
    "                 [--mixer PATH]\n"
    "       xm-render --info IN.xm...\n"
    "  renders IN.xm to a 44100 Hz 16-bit stereo WAV file, once through the song\n"
    "  -o OUT.wav     output file (default: IN with the extension .wav); - for standard output\n"
    "  --loops N      play the song N more times after the first\n"
    "  --seconds S    render exactly S seconds instead, cutting or going on\n"
    "  --fade S       fade the last S seconds out\n"
    "  --rows         print 'FRAME ORDER ROW' for every row start\n"
    "  --mixer PATH   mixing code: best (default), scalar, portable, sse2, avx2\n"
    "                 or avx512; every path gives the same output\n"
    "  --info         print one line per module (title, channels, patterns,\n"
    "                 instruments, length, frequency table) without rendering\n"
    "  --help, --version\n"
    "  Options take their value as '--seconds 5' or '--seconds=5'.\n"
    "  A WAV file holds at most 6 hours here (its header counts at most 4 GiB,\n"
    "  6 h 45 min): --seconds goes up to 21600, and --loops stops there with a word.\n"
    "  A song that never comes back to a row it played is cut after one hour.\n";

// Row logging: wraps the song's tick handler to report row ticks.
MixOutput output;
XmTickHandler engineTick = nullptr;
int64_t renderFrames = 0;

void logging_tick(XmSong* song) {
  const bool rowTick = song->tick == 0;
  engineTick(song);
  if (rowTick && output.tickFrame < renderFrames) {
    std::printf("%lld %d %d\n", static_cast<long long>(output.tickFrame), static_cast<int>(song->order),
                static_cast<int>(song->row));
  }
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
  for (MixPath p : {MixPath::Best, MixPath::Scalar, MixPath::Portable, MixPath::Sse2, MixPath::Avx2, MixPath::Avx512}) {
    if (name != mix_path_name(p)) continue;
    if (mix_use_path(p)) return 0;
    return cli::fail("--mixer", "this processor or build cannot mix with " + name);
  }
  return cli::usage_error("--mixer", "'" + name + "' is not one of best, scalar, portable, sse2, avx2, avx512");
}

// The longest WAV written, files and standard output alike. The header
// counts the data in 32 bits, 4 GiB or 6 h 45 min at this rate; a round 6
// hours keeps clear of that. Standard output gets the same limit: its header
// goes out first and must already hold the length, and no WAV header can
// hold a longer one, so anything longer would be a file that lies about
// its size.
constexpr double maxSeconds = 6 * 3600;
const int64_t maxFrames = static_cast<int64_t>(maxSeconds) * mixRate;
constexpr long maxLoops = 10000;

// One summary line per module on standard output; 1 if any failed to load.
int info(const std::vector<std::string>& files) {
  int status = 0;
  for (const std::string& in : files) {
    XmSong* song = load_module(in);
    if (!song) {
      status = 1;
      continue;
    }
    std::printf("%s: %s\n", in.c_str(), module_summary(module_title(in.c_str()), song, xm_song_length(song)).c_str());
    xm_release_song(song);
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
  cli::set_program("xm-render");
  std::string text;
  if (cli::help_or_version(argc, argv, usageText, &text)) {
    std::fputs(text.c_str(), stdout);
    return 0;
  }
  if (argc == 1) {
    std::fputs(usageText, stderr);
    return 2;
  }
  std::vector<std::string> inputs;
  std::string out;
  double seconds = 0.0, fadeSeconds = 0.0;
  bool haveOut = false, haveSeconds = false, haveFade = false, rows = false, infoMode = false;
  long loops = 0;
  bool haveLoops = false;
  cli::Args args(argc, argv);
  std::string value, reason;
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
      if (!cli::parse_number(value, 0.0, maxSeconds, &seconds, &reason, "6 hours")) return cli::usage_error(a, reason);
      if (!(seconds > 0.0)) return cli::usage_error(a, value + " is not above 0");
      haveSeconds = true;
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
    } else if (a == "--info") {
      if (!args.no_value()) return 2;
      infoMode = true;
    } else {
      return cli::usage_error(a, "unknown option");
    }
  }
  music_use_stdio_files();
  if (infoMode) {
    if (inputs.empty()) return cli::usage_error("--info", "needs at least one module");
    if (haveOut || haveSeconds || haveFade || haveLoops || rows) {
      return cli::usage_error("--info", "renders nothing, so it takes no -o, --seconds, --fade, --loops or --rows");
    }
    return info(inputs);
  }
  if (inputs.empty()) return cli::usage_error("IN.xm", "no module given");
  if (inputs.size() != 1) return cli::usage_error(inputs[1], "one module at a time (--info takes several)");
  if (haveSeconds && haveLoops) return cli::usage_error("--loops", "cannot go with --seconds");
  const std::string& in = inputs[0];
  const bool toStdout = haveOut && out == "-";
  // The row log and the WAV cannot share standard output.
  if (toStdout && rows) return cli::usage_error("--rows", "cannot share standard output with the WAV (-o -)");
  const std::string outPath = haveOut ? out : default_output(in);

  XmSong* song = load_module(in);
  if (!song) return 1;
  const XmSongLength once = xm_song_length(song);
  std::fprintf(stderr, "%s: %s\n", in.c_str(), module_summary(module_title(in.c_str()), song, once).c_str());
  if (haveSeconds) {
    renderFrames = std::llround(seconds * mixRate);
  } else if (loops == 0) {
    renderFrames = once.frames;
    if (!once.ended) {
      cli::note("the song never comes back to a row it played; stopped after " + format_duration(once.frames));
    }
  } else {
    const XmSongLength all = xm_song_length(song, static_cast<int>(1 + loops), maxFrames);
    renderFrames = all.frames;
    if (!all.ended) {
      cli::note("--loops " + std::to_string(loops) + ": stopped at the WAV file's limit of 6 hours, in order " +
                std::to_string(all.endOrder) + " row " + std::to_string(all.endRow));
    }
  }
  const int64_t fadeFrames = haveFade ? std::min<int64_t>(std::llround(fadeSeconds * mixRate), renderFrames) : 0;

  // Nothing is created or replaced before the song has loaded.
  write_errors_not_signals();
  OutputFile file;
  if (!file.open(outPath, {in}, &reason)) {
    xm_release_song(song);
    return cli::fail(toStdout ? "standard output" : outPath, reason);
  }
  const std::string outName = toStdout ? "standard output" : outPath;
  if (!mix_output_init(&output, song)) {
    xm_release_song(song);
    return cli::fail(in, "out of memory");
  }
  xm_start_song(song);
  if (rows) {
    engineTick = song->tickHandler;
    song->tickHandler = logging_tick;
  }

  // Large writes: a minute of sound is 10 MB, and each small write is a
  // system call that costs more than mixing the block.
  std::setvbuf(file.file(), nullptr, _IOFBF, 1 << 20);
  WavWriter wav;
  bool ok = wav_begin(wav, file.file(), file.seekable(), mixRate, 2, static_cast<uint32_t>(renderFrames));
  int writeError = ok ? 0 : errno;
  const bool showProgress = XM_ISATTY(XM_FILENO(stderr)) != 0;
  int64_t written = 0;
  int lastPercent = -1;
  while (written < renderFrames && ok) {
    const int32_t block = output.fillBlock;
    mix_fill_block(&output);
    const int64_t left = renderFrames - written;
    const uint32_t n = static_cast<uint32_t>(left < output.blockFrames ? left : output.blockFrames);
    int16_t* pcm = mix_block_pcm(&output, block);
    if (fadeFrames > 0) fade(pcm, written, n, renderFrames, fadeFrames);
    ok = wav_write(wav, pcm, n);
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
  mix_output_release(&output);
  xm_release_song(song);
  if (!ok) {
    file.abandon();
    return cli::fail(outName, "cannot write: " + cli::os_reason(writeError != 0 ? writeError : EIO));
  }
  if (!file.commit(&reason)) return cli::fail(outName, reason);
  return 0;
}
