// vantor-capture: renders the intro's picture without a display and writes
// frames as PNG files and/or every drawn cube as CSV.
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "capture.h"
#include "headless_gl.h"
#include "output_file.h"
#include "png_file.h"
#include "tool_cli.h"
#ifdef VANTOR_CAPTURE_VIDEO
#include "video_capture.h"
#endif

namespace {

const char kUsage[] =
    "usage: vantor-capture [--frames A-B] [--size WxH] [--png DIR] [--cube-trace FILE] [--desktop WxH]\n"
    "                      [--force]\n"
    "       vantor-capture --video OUT.mp4|OUT.mkv [--fps N] [--size WxH] [--frames A-B | --seconds S]\n"
    "                      [--loading] [--quality Q] [--music FILE] [--desktop WxH] [--force]\n"
    "\n"
    "Runs the intro's scroller headless (EGL, Mesa software rendering) and writes\n"
    "the frames A to B, counted from 0. Earlier frames are still run, because the\n"
    "animation advances once per frame, but nothing is written for them.\n"
    "\n"
    "  --frames A-B       frames to write, within 0-11554 (default 0-600; with\n"
    "                     --video 0-11554, from the first scroller frame until the\n"
    "                     last letter has left: nothing is drawn after 11554)\n"
    "  --size WxH         picture size, 16x16 to 8192x8192 (default 840x525, with\n"
    "                     --video 1920x1080)\n"
    "  --png DIR          write DIR/frame-NNNNN.png for every frame in the range\n"
    "  --cube-trace FILE  write every drawn cube as CSV, one line per cube in draw\n"
    "                     order: frame,char,code,col,row,x,y,z,r,g,b\n"
    "  --desktop WxH      desktop size the intro would read to choose its horizontal\n"
    "                     stretch, 1x1 to 16384x16384 (default: the size, or\n"
    "                     1920x1080 for an 840x525 window; 1920x1080 gives the\n"
    "                     factor 1.6, 1600x1200 gives 1.1)\n"
    "  --video OUT        write the picture with the music of 2.xm under it, as on a\n"
    "                     machine drawing exactly N frames a second: OUT.mp4 is H.264\n"
    "                     and AAC, OUT.mkv lossless FFV1 and FLAC\n"
    "  --fps N            frames per second of the video, 1 to 1000 (default 60)\n"
    "  --seconds S        length of the scroller part from frame 0, instead of\n"
    "                     --frames: one frame to 86400 (a day)\n"
    "  --loading          put one second of the loading screen in front\n"
    "  --quality Q        H.264 constant rate factor, 0-51, lower is better (default 18)\n"
    "  --music FILE       the module to play (default: 2.xm beside this program,\n"
    "                     and without it the video is silent)\n"
    "  --force            replace files even where they are read-only or another\n"
    "                     user's\n"
    "  --help, --version  show this text, or the version\n"
    "\n"
    "Options take their value as '--frames 0-9' or '--frames=0-9'; numbers are\n"
    "decimal. Every file is written as a new file that gets its name only when\n"
    "complete. A video stopped by Ctrl-C or SIGTERM is finished with the frames\n"
    "captured so far where its name was free; a file that had the name stays.\n";

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
  std::string secondsText;
  bool loading = false;
  int quality = 18;
  bool force = false;
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

// 0: go on; otherwise the exit status, after the usage error line.
int parseArguments(int argc, char** argv, Options& o) {
  bool framesGiven = false;
  cli::Args args(argc, argv);
  std::string value, reason;
  while (args.next()) {
    const std::string arg = args.word();
    if (!args.is_option()) return cli::usage_error(arg, "unexpected argument; every output is named by an option");
    if (arg == "--loading" || arg == "--force") {
      if (!args.no_value()) return 2;
      (arg == "--loading" ? o.loading : o.force) = true;
      continue;
    }
    const bool known = arg == "--frames" || arg == "--png" || arg == "--cube-trace" || arg == "--desktop" ||
                       arg == "--size" || arg == "--video" || arg == "--music" || arg == "--fps" ||
                       arg == "--quality" || arg == "--seconds";
    if (!known) return cli::usage_error(arg, "unknown option");
    if (!args.value(&value)) return 2;
    if (arg == "--frames") {
      if (!parsePair(value, '-', &o.first, &o.last)) return cli::usage_error(arg, "'" + value + "' is not A-B");
      if (o.first > o.last) return cli::usage_error(arg, value + " ends before it starts");
      if (o.last > kTextGoneFrame) {
        return cli::usage_error(arg, value + " is above the limit of " + std::to_string(kTextGoneFrame) +
                                         ", after which nothing is drawn");
      }
      framesGiven = true;
    } else if (arg == "--png") {
      o.pngDir = value;
    } else if (arg == "--cube-trace") {
      o.tracePath = value;
    } else if (arg == "--desktop") {
      if (!parsePair(value, 'x', &o.desktopWidth, &o.desktopHeight)) {
        return cli::usage_error(arg, "'" + value + "' is not WxH");
      }
      if (o.desktopWidth < 1 || o.desktopHeight < 1 || o.desktopWidth > 16384 || o.desktopHeight > 16384) {
        return cli::usage_error(arg, value + " is outside 1x1 to 16384x16384");
      }
    } else if (arg == "--size") {
      if (!parsePair(value, 'x', &o.width, &o.height)) return cli::usage_error(arg, "'" + value + "' is not WxH");
      if (o.width < 16 || o.height < 16 || o.width > 8192 || o.height > 8192) {
        return cli::usage_error(arg, value + " is outside 16x16 to 8192x8192");
      }
    } else if (arg == "--video") {
      o.videoPath = value;
    } else if (arg == "--music") {
      o.musicPath = value;
    } else if (arg == "--fps") {
      long fps = 0;
      if (!cli::parse_count(value, 1, 1000, &fps, &reason)) return cli::usage_error(arg, reason);
      o.fps = static_cast<int>(fps);
    } else if (arg == "--quality") {
      long quality = 0;
      if (!cli::parse_count(value, 0, 51, &quality, &reason)) return cli::usage_error(arg, reason);
      o.quality = static_cast<int>(quality);
    } else if (arg == "--seconds") {
      if (!cli::parse_number(value, 0, 86400, &o.seconds, &reason, "a day")) return cli::usage_error(arg, reason);
      // Checked against one frame once --fps is known.
      o.secondsText = value;
    }
  }
  const bool video = !o.videoPath.empty();
  if (!video && o.pngDir.empty() && o.tracePath.empty()) {
    return cli::usage_error("nothing to write", "give --png DIR, --cube-trace FILE or --video FILE");
  }
  // The video's own options, and one way of giving its length.
  if (!video) {
    const bool secondsGiven = !o.secondsText.empty();
    for (const auto& [given, name] : {std::pair{o.loading, "--loading"}, std::pair{secondsGiven, "--seconds"},
                                      std::pair{o.fps != 60, "--fps"}, std::pair{o.quality != 18, "--quality"},
                                      std::pair{!o.musicPath.empty(), "--music"}}) {
      if (given) return cli::usage_error(name, "goes only with --video");
    }
  }
  if (video && (!o.pngDir.empty() || !o.tracePath.empty())) {
    return cli::usage_error("--video", "cannot go with --png or --cube-trace");
  }
  if (!o.pngDir.empty() && !o.tracePath.empty()) {
    // Caught now, not after all the frames have been drawn.
    namespace fs = std::filesystem;
    auto where = [](const std::string& path) {
      std::error_code error;
      fs::path p = fs::weakly_canonical(fs::absolute(path, error), error);
      return p.has_filename() ? p : p.parent_path();
    };
    if (where(o.tracePath) == where(o.pngDir)) {
      return cli::usage_error("--cube-trace", "'" + o.tracePath + "' is the folder --png writes to");
    }
  }
  const bool secondsGiven = !o.secondsText.empty();
  if (framesGiven && secondsGiven) return cli::usage_error("--seconds", "cannot go with --frames");
  if (secondsGiven) {
    const long long frames = std::llround(o.seconds * o.fps);
    if (frames < 1) {
      char frame[32];
      std::snprintf(frame, sizeof frame, "%g s at %d fps", 1.0 / o.fps, o.fps);
      return cli::usage_error("--seconds", o.secondsText + " is below the limit of one frame (" + frame + ")");
    }
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

// The folder for the PNG files, made where it is missing. Empty when it can
// be written, else why not.
std::string png_folder(const std::string& dir) {
  namespace fs = std::filesystem;
  std::error_code error;
  if (fs::is_symlink(fs::symlink_status(dir, error)) && fs::status(dir, error).type() == fs::file_type::not_found) {
    return "is a symbolic link to " + fs::read_symlink(dir, error).string() + ", which does not exist";
  }
  fs::create_directories(dir, error);
  if (error) return "cannot create the folder: " + error.message();
  const fs::file_status status = fs::status(dir, error);
  if (error) return "cannot use the folder: " + error.message();
  if (!fs::is_directory(status)) return "is not a folder";
  // Now rather than after the frames before the first one written.
  if (access(dir.c_str(), W_OK | X_OK) != 0) return "cannot write in the folder: " + cli::os_reason(errno);
  return "";
}

// On a terminal, where the capture is, a few times a second: the frames
// before the first written one take a while too.
class FrameProgress {
 public:
  FrameProgress(int first, int last) : first(first), last(last), shown(isatty(STDERR_FILENO) != 0) {}
  void update(int frame) {
    if (!shown) return;
    const auto now = std::chrono::steady_clock::now();
    if (frame != last && frame != first && now - lastShown < std::chrono::milliseconds(100)) return;
    lastShown = now;
    if (frame < first) {
      std::fprintf(stderr, "\rframe %d, running up to %d (%d-%d)", frame, first, first, last);
    } else {
      std::fprintf(stderr, "\rframe %d (%d-%d)%24s", frame, first, last, "");
    }
  }
  void end() {
    if (shown) std::fputc('\n', stderr);
    shown = false;
  }

 private:
  int first, last;
  bool shown;
  std::chrono::steady_clock::time_point lastShown{};
};

}  // namespace

int main(int argc, char** argv) {
  if (const int status = cli::start("vantor-capture", argc, argv, kUsage); status >= 0) return status;
  Options o;
  if (const int status = parseArguments(argc, argv, o)) return status;
  write_errors_not_signals();

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
    v.force = o.force;
    return captureVideo(v);
#else
    return cli::fail("--video", "this build has no video output (FFmpeg's libraries were not found)");
#endif
  }

  std::string reason;
  OutputFile trace;
  if (!o.tracePath.empty()) {
    if (!trace.open(o.tracePath, {}, &reason, o.force)) return cli::fail(o.tracePath, reason);
    std::fputs("frame,char,code,col,row,x,y,z,r,g,b\n", trace.file());
  }
  if (!o.pngDir.empty()) {
    reason = png_folder(o.pngDir);
    if (!reason.empty()) return cli::fail(o.pngDir, reason);
  }

  // OpenGL is needed to produce pixels; a trace alone comes from the cube
  // recorder and needs no context.
  const bool useGl = !o.pngDir.empty();
  HeadlessGl gl;
  IntroCapture capture;
  if (const int status = startCapture(useGl ? &gl : nullptr, capture, o.width, o.height)) return status;
  if (useGl) IntroCapture::setView(o.desktopWidth, o.desktopHeight);

  FrameProgress progress(o.first, o.last);
  std::vector<CubeRecord> cubes;
  for (int frame = 0; frame <= o.last; ++frame) {
    const bool written = frame >= o.first;
    cubes.clear();
    capture.frame(useGl && written, written && trace.file() != nullptr ? &cubes : nullptr);
    progress.update(frame);
    if (!written) continue;
    if (trace.file() != nullptr) {
      writeTrace(trace.file(), frame, capture, cubes);
      if (std::ferror(trace.file())) {
        const int error = errno;
        trace.abandon();
        progress.end();
        return cli::fail(o.tracePath, "cannot write: " + cli::os_reason(error));
      }
    }
    if (!o.pngDir.empty()) {
      char name[32];
      std::snprintf(name, sizeof name, "frame-%05d.png", frame);
      const std::string path = (std::filesystem::path(o.pngDir) / name).string();
      if (!writePng(path, gl.read(), &reason, o.force)) {
        progress.end();
        return cli::fail(path, reason);
      }
    }
  }
  progress.end();
  if (trace.file() != nullptr && !trace.commit(&reason)) return cli::fail(o.tracePath, reason);
  return 0;
}
