// vantor-capture: renders the intro's picture without a display and writes
// frames as PNG files and/or every drawn cube as CSV.
#include <unistd.h>

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "capture.h"
#include "headless_gl.h"
#include "png.h"

namespace {

const char kUsage[] =
    "usage: vantor-capture [--frames A-B] [--png DIR] [--cube-trace FILE] [--desktop WxH]\n"
    "\n"
    "Runs the intro's scroller headless (EGL, Mesa software rendering) at 840x525\n"
    "and writes the frames A to B, counted from 0. Earlier frames are still run,\n"
    "because the animation advances once per frame, but nothing is written for them.\n"
    "\n"
    "  --frames A-B       frames to write (default 0-600)\n"
    "  --png DIR          write DIR/frame-NNNNN.png for every frame in the range\n"
    "  --cube-trace FILE  write every drawn cube as CSV, one line per cube in draw\n"
    "                     order: frame,char,code,col,row,x,y,z,r,g,b\n"
    "  --desktop WxH      desktop size the intro would read to choose its horizontal\n"
    "                     stretch (default 1920x1080, which gives the factor 1.6;\n"
    "                     1600x1200 gives 1.1)\n"
    "  --help             show this text\n";

struct Options {
  int first = 0;
  int last = 600;
  std::string pngDir;
  std::string tracePath;
  int desktopWidth = 1920;
  int desktopHeight = 1080;
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
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") return 1;
    if (i + 1 >= argc) return 2;
    const std::string value = argv[++i];
    if (arg == "--frames") {
      if (!parsePair(value, '-', &o.first, &o.last) || o.first > o.last) return 2;
    } else if (arg == "--png") {
      if (value.empty()) return 2;
      o.pngDir = value;
    } else if (arg == "--cube-trace") {
      if (value.empty()) return 2;
      o.tracePath = value;
    } else if (arg == "--desktop") {
      if (!parsePair(value, 'x', &o.desktopWidth, &o.desktopHeight)) return 2;
    } else {
      return 2;
    }
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
    if (!gl.open(kCaptureWidth, kCaptureHeight, &error)) {
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
