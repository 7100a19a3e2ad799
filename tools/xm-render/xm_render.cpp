// xm-render: renders an XM module to a 44100 Hz 16-bit stereo WAV file
// through the same engine, block filler and conversion as live playback.
//
//   xm-render IN.xm [-o OUT.wav] [--seconds S] [--rows] [--mixer PATH]
//
// --rows prints "FRAME ORDER ROW" for every row start, FRAME being the output
// frame at which the row's first tick begins.
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#ifdef _WIN32
#include <io.h>
#define XM_ISATTY(fd) _isatty(fd)
#define XM_FILENO(f) _fileno(f)
#else
#include <unistd.h>
#define XM_ISATTY(fd) isatty(fd)
#define XM_FILENO(f) fileno(f)
#endif

#include "music/music.h"
#include "music/xm_block.h"
#include "music/xm_engine.h"
#include "music/xm_file.h"
#include "music/xm_loader.h"
#include "music/xm_mixer.h"
#include "wav_writer.h"

namespace {

int usage() {
  std::fputs("usage: xm-render IN.xm [-o OUT.wav] [--seconds S] [--rows] [--mixer PATH]\n"
             "  renders IN.xm to a 44100 Hz 16-bit stereo WAV file\n"
             "  -o OUT.wav     output file (default: IN with the extension .wav)\n"
             "  --seconds S    length to render, default 60\n"
             "  --rows         print 'FRAME ORDER ROW' for every row start\n"
             "  --mixer PATH   mixing code: best (default), scalar, portable, sse2,\n"
             "                 avx2 or avx512; every path gives the same output\n",
             stderr);
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

}  // namespace

int main(int argc, char** argv) {
  const char* in = nullptr;
  const char* out = nullptr;
  double seconds = 60.0;
  bool rows = false;
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    if (std::strcmp(a, "-o") == 0) {
      if (++i >= argc || out) return usage();
      out = argv[i];
    } else if (std::strcmp(a, "--seconds") == 0) {
      if (++i >= argc) return usage();
      char* end = nullptr;
      errno = 0;
      seconds = std::strtod(argv[i], &end);
      if (errno != 0 || end == argv[i] || *end != '\0' || !(seconds > 0.0) || seconds > 86400.0) return usage();
    } else if (std::strcmp(a, "--rows") == 0) {
      rows = true;
    } else if (std::strcmp(a, "--mixer") == 0) {
      if (++i >= argc) return usage();
      if (!use_mixer(argv[i])) return 1;
    } else if (a[0] == '-' && a[1] != '\0') {
      return usage();
    } else {
      if (in) return usage();
      in = a;
    }
  }
  if (!in) return usage();
  const std::string outPath = out ? std::string(out) : default_output(in);

  music_use_stdio_files();
  XmSong* song = xm_load(in, nullptr);
  if (!song) {
    std::fprintf(stderr, "xm-render: %s: %s\n", in, xm_last_error());
    return 1;
  }

  renderFrames = std::llround(seconds * mixRate);
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

  WavWriter wav;
  if (!wav_open(wav, outPath.c_str(), mixRate, 2)) {
    std::fprintf(stderr, "xm-render: %s: cannot create the file\n", outPath.c_str());
    if (wav.file) std::fclose(wav.file);
    std::remove(outPath.c_str());
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
    ok = wav_write(wav, mix_block_pcm(&output, block), n);
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
    std::fprintf(stderr, "xm-render: %s: cannot write the file\n", outPath.c_str());
    std::remove(outPath.c_str());
    return 1;
  }
  return 0;
}
