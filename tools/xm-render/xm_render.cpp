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
#include <fcntl.h>
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
    "  --help, --version\n";

int usage() {
  std::fputs(usageText, stderr);
  return 2;
}

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

bool use_mixer(const char* name) {
  for (MixPath p : {MixPath::Best, MixPath::Scalar, MixPath::Portable, MixPath::Sse2, MixPath::Avx2, MixPath::Avx512}) {
    if (std::strcmp(name, mix_path_name(p)) != 0) continue;
    if (mix_use_path(p)) return true;
    std::fprintf(stderr, "xm-render: this processor or build cannot mix with %s\n", name);
    return false;
  }
  std::fprintf(stderr, "xm-render: unknown mixer %s (best, scalar, portable, sse2, avx2, avx512)\n", name);
  return false;
}

// A WAV file holds at most 4 GiB of samples: about 6.7 hours at 44100 Hz.
constexpr double maxSeconds = 6 * 3600;

bool parse_seconds(const char* text, double* seconds, bool zeroAllowed) {
  char* end = nullptr;
  errno = 0;
  const double v = std::strtod(text, &end);
  if (errno != 0 || end == text || *end != '\0' || !(zeroAllowed ? v >= 0.0 : v > 0.0) || v > maxSeconds) return false;
  *seconds = v;
  return true;
}

bool parse_count(const char* text, int* n) {
  char* end = nullptr;
  errno = 0;
  const long v = std::strtol(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || v < 0 || v > 10000) return false;
  *n = static_cast<int>(v);
  return true;
}

// One summary line per module on standard output; 1 if any failed to load.
int info(const std::vector<const char*>& files) {
  int status = 0;
  for (const char* in : files) {
    XmSong* song = xm_load(in, nullptr);
    if (!song) {
      std::fflush(stdout);
      std::fprintf(stderr, "xm-render: %s: %s\n", in, xm_last_error());
      status = 1;
      continue;
    }
    std::printf("%s: %s\n", in, module_summary(module_title(in), song, xm_song_length(song)).c_str());
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
  std::vector<const char*> inputs;
  const char* out = nullptr;
  double seconds = 0.0, fadeSeconds = 0.0;
  bool haveSeconds = false, haveFade = false, rows = false, infoMode = false;
  int loops = 0;
  bool haveLoops = false;
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    if (std::strcmp(a, "--help") == 0 || std::strcmp(a, "-h") == 0) {
      std::fputs(usageText, stdout);
      return 0;
    }
    if (std::strcmp(a, "--version") == 0) {
      std::printf("xm-render %s\n", VANTOR_VERSION);
      return 0;
    }
  }
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    if (std::strcmp(a, "-o") == 0) {
      if (++i >= argc || out) return usage();
      out = argv[i];
    } else if (std::strcmp(a, "--seconds") == 0) {
      if (++i >= argc || !parse_seconds(argv[i], &seconds, false)) return usage();
      haveSeconds = true;
    } else if (std::strcmp(a, "--fade") == 0) {
      if (++i >= argc || !parse_seconds(argv[i], &fadeSeconds, true)) return usage();
      haveFade = true;
    } else if (std::strcmp(a, "--loops") == 0) {
      if (++i >= argc || !parse_count(argv[i], &loops)) return usage();
      haveLoops = true;
    } else if (std::strcmp(a, "--rows") == 0) {
      rows = true;
    } else if (std::strcmp(a, "--mixer") == 0) {
      if (++i >= argc) return usage();
      if (!use_mixer(argv[i])) return 1;
    } else if (std::strcmp(a, "--info") == 0) {
      infoMode = true;
    } else if (a[0] == '-' && a[1] != '\0') {
      return usage();
    } else {
      inputs.push_back(a);
    }
  }
  music_use_stdio_files();
  if (infoMode) {
    if (inputs.empty() || out || haveSeconds || haveFade || haveLoops || rows) return usage();
    return info(inputs);
  }
  if (inputs.size() != 1) return usage();
  const char* in = inputs[0];
  const bool toStdout = out && std::strcmp(out, "-") == 0;
  // The row log and the WAV cannot share standard output.
  if (toStdout && rows) return usage();
  const std::string outPath = out ? std::string(out) : default_output(in);

  XmSong* song = xm_load(in, nullptr);
  if (!song) {
    std::fprintf(stderr, "xm-render: %s: %s\n", in, xm_last_error());
    return 1;
  }
  const XmSongLength once = xm_song_length(song);
  std::fprintf(stderr, "%s: %s\n", in, module_summary(module_title(in), song, once).c_str());
  if (haveSeconds) {
    renderFrames = std::llround(seconds * mixRate);
  } else {
    renderFrames = loops == 0 ? once.frames : xm_song_length(song, 1 + loops).frames;
  }
  const int64_t fadeFrames = haveFade ? std::min<int64_t>(std::llround(fadeSeconds * mixRate), renderFrames) : 0;

  if (!mix_output_init(&output, song)) {
    std::fprintf(stderr, "xm-render: %s: out of memory\n", in);
    xm_release_song(song);
    return 1;
  }
  xm_start_song(song);
  if (rows) {
    engineTick = song->tickHandler;
    song->tickHandler = logging_tick;
  }

  std::FILE* file = nullptr;
  if (toStdout) {
#ifdef _WIN32
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    file = stdout;
  } else {
    file = std::fopen(outPath.c_str(), "wb");
  }
  // Large writes: a minute of sound is 10 MB, and each small write is a
  // system call that costs more than mixing the block.
  if (file) std::setvbuf(file, nullptr, _IOFBF, 1 << 20);
  WavWriter wav;
  if (!file || !wav_begin(wav, file, !toStdout, mixRate, 2, static_cast<uint32_t>(renderFrames))) {
    std::fprintf(stderr, "xm-render: %s: cannot create the file\n", toStdout ? "standard output" : outPath.c_str());
    if (file && !toStdout) {
      std::fclose(file);
      std::remove(outPath.c_str());
    }
    mix_output_release(&output);
    xm_release_song(song);
    return 1;
  }

  const bool showProgress = XM_ISATTY(XM_FILENO(stderr)) != 0;
  bool ok = true;
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
    written += n;
    if (showProgress) {
      const int percent = static_cast<int>(written * 100 / renderFrames);
      if (percent != lastPercent) {
        progress(written, renderFrames);
        lastPercent = percent;
      }
    }
  }
  ok = wav_close(wav) && ok;
  std::fflush(stdout);
  mix_output_release(&output);
  xm_release_song(song);
  if (!ok) {
    std::fprintf(stderr, "xm-render: %s: cannot write the file\n", toStdout ? "standard output" : outPath.c_str());
    if (!toStdout) std::remove(outPath.c_str());
    return 1;
  }
  return 0;
}
