// vantor-capture: renders the intro's picture without a display and writes
// frames as PNG files and/or every drawn cube as CSV.
#include <unistd.h>

#include <cerrno>
#include <cinttypes>
#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "capture.h"
#include "headless_gl.h"
#include "png.h"
#ifdef VANTOR_CAPTURE_VIDEO
#include "video_capture.h"
#endif

namespace {

const char kUsage[] =
    "usage: vantor-capture [--frames A-B] [--size WxH] [--png DIR] [--cube-trace FILE] [--desktop WxH]\n"
    "       vantor-capture --video OUT.mp4|OUT.mkv [--fps N] [--size WxH] [--frames A-B | --seconds S]\n"
    "                      [--loading] [--quality Q] [--music FILE] [--desktop WxH]\n"
    "\n"
    "Runs the intro's scroller headless (EGL, Mesa software rendering) and writes\n"
    "the frames A to B, counted from 0. Earlier frames are still run, because the\n"
    "animation advances once per frame, but nothing is written for them.\n"
    "\n"
    "  --frames A-B       frames to write (default 0-600; with --video 0-11554, from\n"
    "                     the first scroller frame until the last letter has left)\n"
    "  --size WxH         picture size (default 840x525, with --video 1920x1080)\n"
    "  --png DIR          write DIR/frame-NNNNN.png for every frame in the range\n"
    "  --cube-trace FILE  write every drawn cube as CSV, one line per cube in draw\n"
    "                     order: frame,char,code,col,row,x,y,z,r,g,b\n"
    "  --desktop WxH      desktop size the intro would read to choose its horizontal\n"
    "                     stretch (default: the size, or 1920x1080 for an 840x525\n"
    "                     window; 1920x1080 gives the factor 1.6, 1600x1200 gives 1.1)\n"
    "  --video OUT        write the picture with the music of 2.xm under it, as on a\n"
    "                     machine drawing exactly N frames a second: OUT.mp4 is H.264\n"
    "                     and AAC, OUT.mkv lossless FFV1 and FLAC\n"
    "  --fps N            frames per second of the video (default 60)\n"
    "  --seconds S        length of the scroller part from frame 0, instead of --frames\n"
    "  --loading          put one second of the loading screen in front\n"
    "  --quality Q        H.264 constant rate factor, 0-51, lower is better (default 18)\n"
    "  --music FILE       the module to play (default: 2.xm beside this program)\n"
    "  --help             show this text\n";

// The last frame the text shows anything in is 11,553: from there on the
// last letter has left the screen.
constexpr int kTextGoneFrame = 11554;

struct Options {
  int first = 0;
  int last = -1;  // -1: the default for the kind of output
  std::string pngDir;
  std::string tracePath;
  int width = 0;  // 0: the default for the kind of output
  int height = 0;
  int desktopWidth = 0;  // 0: from the size
  int desktopHeight = 0;
  std::string videoPath;
  std::string musicPath;
  int fps = 60;
  double seconds = 0;  // 0: not given
  bool loading = false;
  int quality = 18;
};

// A decimal number of at most nine digits, nothing else.
bool parseNumber(const std::string& s, int* out) {
  if (s.empty() || s.size() > 9) return false;
  int v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + (c - '0');
  }
  *out = v;
  return true;
}

bool parsePair(const std::string& s, char separator, int* a, int* b) {
  const std::size_t at = s.find(separator);
  return at != std::string::npos && parseNumber(s.substr(0, at), a) && parseNumber(s.substr(at + 1), b);
}

// 0: go on, 1: stop with success (help), 2: bad arguments.
int parseArguments(int argc, char** argv, Options& o) {
  bool framesGiven = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") return 1;
    if (arg == "--loading") {
      o.loading = true;
      continue;
    }
    if (i + 1 >= argc) return 2;
    const std::string value = argv[++i];
    if (arg == "--frames") {
      if (!parsePair(value, '-', &o.first, &o.last) || o.first > o.last) return 2;
      framesGiven = true;
    } else if (arg == "--png") {
      if (value.empty()) return 2;
      o.pngDir = value;
    } else if (arg == "--cube-trace") {
      if (value.empty()) return 2;
      o.tracePath = value;
    } else if (arg == "--desktop") {
      if (!parsePair(value, 'x', &o.desktopWidth, &o.desktopHeight)) return 2;
    } else if (arg == "--size") {
      if (!parsePair(value, 'x', &o.width, &o.height)) return 2;
      if (o.width < 16 || o.height < 16 || o.width > 8192 || o.height > 8192) return 2;
    } else if (arg == "--video") {
      if (value.empty()) return 2;
      o.videoPath = value;
    } else if (arg == "--music") {
      if (value.empty()) return 2;
      o.musicPath = value;
    } else if (arg == "--fps") {
      if (!parseNumber(value, &o.fps) || o.fps < 1 || o.fps > 1000) return 2;
    } else if (arg == "--quality") {
      if (!parseNumber(value, &o.quality) || o.quality > 51) return 2;
    } else if (arg == "--seconds") {
      char* end = nullptr;
      errno = 0;
      o.seconds = std::strtod(value.c_str(), &end);
      if (errno != 0 || end == value.c_str() || *end != '\0' || !(o.seconds > 0) || o.seconds > 86400) return 2;
    } else {
      return 2;
    }
  }
  const bool video = !o.videoPath.empty();
  // The video's own options, and one way of giving its length.
  if (!video && (o.loading || o.seconds > 0 || o.fps != 60 || o.quality != 18 || !o.musicPath.empty())) return 2;
  if (video && (!o.pngDir.empty() || !o.tracePath.empty())) return 2;
  if (framesGiven && o.seconds > 0) return 2;
  if (o.seconds > 0) {
    const long long frames = std::llround(o.seconds * o.fps);
    if (frames < 1) return 2;
    o.first = 0;
    o.last = static_cast<int>(frames - 1);
  }
  if (o.last < 0) o.last = video ? kTextGoneFrame : 600;
  if (o.width == 0) {
    o.width = video ? 1920 : kCaptureWidth;
    o.height = video ? 1080 : kCaptureHeight;
  }
  // Full screen runs at the desktop's size; the 840x525 window sits on a
  // desktop of its own, by default the common 1920x1080.
  if (o.desktopWidth == 0) {
    const bool window = o.width == kCaptureWidth && o.height == kCaptureHeight;
    o.desktopWidth = window ? 1920 : o.width;
    o.desktopHeight = window ? 1080 : o.height;
  }
  return 0;
}

void writeTrace(std::FILE* f, int frame, const IntroCapture& capture, const std::vector<CubeRecord>& cubes) {
  for (const CubeRecord& c : cubes) {
    const auto code = static_cast<unsigned char>(c.source->ch);
    std::fprintf(f, "%d,%zu,%u,%d,%d,%.9g,%.9g,%.9g,%.9g,%.9g,%.9g\n", frame, capture.charIndex(c.source), code,
                 c.column, c.row, static_cast<double>(c.x), static_cast<double>(c.y), static_cast<double>(c.z),
                 static_cast<double>(c.colour.r), static_cast<double>(c.colour.g),
                 static_cast<double>(c.colour.b));
  }
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  switch (parseArguments(argc, argv, o)) {
    case 1:
      std::fputs(kUsage, stdout);
      return 0;
    case 2:
      std::fputs(kUsage, stderr);
      return 2;
    default:
      break;
  }

  if (!o.videoPath.empty()) {
#ifdef VANTOR_CAPTURE_VIDEO
    VideoCaptureOptions v;
    v.path = o.videoPath;
    v.module = o.musicPath;
    v.fps = o.fps;
    v.width = o.width;
    v.height = o.height;
    v.desktopWidth = o.desktopWidth;
    v.desktopHeight = o.desktopHeight;
    v.first = o.first;
    v.last = o.last;
    v.loading = o.loading;
    v.quality = o.quality;
    return captureVideo(v);
#else
    std::fputs("vantor-capture: this build has no video output (FFmpeg's libraries were not found)\n", stderr);
    return 1;
#endif
  }

  std::FILE* trace = nullptr;
  if (!o.tracePath.empty()) {
    trace = std::fopen(o.tracePath.c_str(), "w");
    if (trace == nullptr) {
      std::fprintf(stderr, "vantor-capture: cannot write %s\n", o.tracePath.c_str());
      return 1;
    }
    std::fputs("frame,char,code,col,row,x,y,z,r,g,b\n", trace);
  }
  if (!o.pngDir.empty()) {
    std::error_code ignored;
    std::filesystem::create_directories(o.pngDir, ignored);
  }

  // OpenGL is needed to produce pixels; a trace alone comes from the cube
  // recorder and needs no context.
  const bool useGl = !o.pngDir.empty() || trace == nullptr;
  HeadlessGl gl;
  if (useGl) {
    std::string error;
    if (!gl.open(o.width, o.height, &error)) {
      std::fprintf(stderr, "vantor-capture: %s\n", error.c_str());
      return 1;
    }
  }

  IntroCapture capture;
  if (!capture.build()) {
    std::fputs("vantor-capture: out of memory building the palette and scroller\n", stderr);
    return 1;
  }
  if (useGl) IntroCapture::setView(o.desktopWidth, o.desktopHeight);

  const bool progress = isatty(STDERR_FILENO) != 0;
  std::vector<CubeRecord> cubes;
  int status = 0;
  for (int frame = 0; frame <= o.last && status == 0; ++frame) {
    const bool written = frame >= o.first;
    cubes.clear();
    capture.frame(useGl && written, written && trace != nullptr ? &cubes : nullptr);
    if (!written) continue;
    if (trace != nullptr) writeTrace(trace, frame, capture, cubes);
    if (!o.pngDir.empty()) {
      char name[32];
      std::snprintf(name, sizeof name, "frame-%05d.png", frame);
      const std::string path = (std::filesystem::path(o.pngDir) / name).string();
      if (!writePng(path, gl.read())) {
        std::fprintf(stderr, "\nvantor-capture: cannot write %s\n", path.c_str());
        status = 1;
      }
    }
    if (progress) std::fprintf(stderr, "\rframe %d (%d-%d)", frame, o.first, o.last);
  }
  if (progress) std::fputc('\n', stderr);
  if (trace != nullptr && std::fclose(trace) != 0) {
    std::fprintf(stderr, "vantor-capture: cannot write %s\n", o.tracePath.c_str());
    status = 1;
  }
  return status;
}
