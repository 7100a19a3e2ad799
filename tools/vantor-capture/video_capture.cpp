#include "video_capture.h"

extern "C" {
#include <libavutil/log.h>
}

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <mutex>
#include <thread>
#include <vector>

#include "capture.h"
#include "headless_gl.h"
#include "module_summary.h"
#include "music/vantor_xm.h"
#include "output_file.h"
#include "platform/sdl/sdl_loading_screen.h"
#include "shell/loading_screen.h"
#include "tool_cli.h"
#include "video_file.h"

namespace {

volatile std::sig_atomic_t stopSignal = 0;

// The first Ctrl-C finishes the file; a second one ends the program at once,
// leaving nothing behind.
void onStopSignal(int signal) {
  stopSignal = signal;
  std::signal(signal, end_by_signal);
}

// Processor time of all threads, in seconds: on a shared machine it tells
// what the capture would need on free cores.
double processorSeconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  auto toSeconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec * 1e-6; };
  return toSeconds(usage.ru_utime) + toSeconds(usage.ru_stime);
}

double seconds() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

std::string besideExecutable(const char* name) {
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return name;
  return (self.parent_path() / name).string();
}

// The music through the player library, which plays exactly what the intro
// plays, looping for ever as the intro does, in runs of any length.
class MusicSource {
 public:
  ~MusicSource() { vxm_free(song); }

  // False, with the reason in *error, when the module cannot be played.
  // The file is opened and read once: a pipe plays too.
  bool open(const std::string& path, std::string* error) {
    song = read_module(path, VXM_RATE_DEFAULT, error);
    if (song == nullptr) return false;
    vxm_set_play_count(song, 0);
    return true;
  }

  // Appends the next `frames` stereo frames to *out (silence without a song).
  void take(std::int64_t frames, std::vector<std::int16_t>* out) {
    const std::size_t at = out->size();
    out->resize(at + static_cast<std::size_t>(frames) * 2, 0);
    if (song != nullptr) vxm_render_s16(song, out->data() + at, static_cast<std::size_t>(frames));
  }

 private:
  vxm_song* song = nullptr;
};

// One captured frame on its way to the encoder thread.
struct Job {
  std::vector<std::uint8_t> pixels;
  std::vector<std::int16_t> sound;
};

// Hands frames from the drawing thread to the encoding thread. A few jobs
// circulate, so drawing and encoding overlap without unbounded memory.
class Handoff {
 public:
  explicit Handoff(std::size_t pixelBytes) {
    for (auto& job : jobs) {
      job.pixels.resize(pixelBytes);
      spare.push_back(&job);
    }
  }

  Job* takeSpare() {
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [&] { return !spare.empty() || stopped; });
    if (stopped) return nullptr;
    Job* job = spare.front();
    spare.pop_front();
    return job;
  }
  void submit(Job* job) {
    std::lock_guard<std::mutex> lock(mutex);
    full.push_back(job);
    changed.notify_all();
  }
  // Null once the drawing side has closed and everything was taken.
  Job* takeFull() {
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [&] { return !full.empty() || closed || stopped; });
    if (full.empty() || stopped) return nullptr;
    Job* job = full.front();
    full.pop_front();
    return job;
  }
  void giveBack(Job* job) {
    std::lock_guard<std::mutex> lock(mutex);
    spare.push_back(job);
    changed.notify_all();
  }
  void close() {
    std::lock_guard<std::mutex> lock(mutex);
    closed = true;
    changed.notify_all();
  }
  // The encoder failed: the drawing side stops waiting.
  void stop() {
    std::lock_guard<std::mutex> lock(mutex);
    stopped = true;
    changed.notify_all();
  }

 private:
  Job jobs[3];
  std::deque<Job*> spare, full;
  std::mutex mutex;
  std::condition_variable changed;
  bool closed = false;
  bool stopped = false;
};

class Progress {
 public:
  Progress(std::int64_t total, int fps) : total(total), fps(fps), terminal(isatty(STDERR_FILENO) != 0), start(seconds()) {}

  void update(std::int64_t done) {
    const double now = seconds();
    if (terminal) {
      if (done < total && now - lastShown < 0.2) return;
      lastShown = now;
      const double rate = done / std::max(now - start, 1e-9);
      const double left = rate > 0 ? static_cast<double>(total - done) / rate : 0;
      const int width = 30;
      const int filled = static_cast<int>(done * width / std::max<std::int64_t>(total, 1));
      std::string bar(static_cast<std::size_t>(filled), '#');
      bar.resize(width, '.');
      std::fprintf(stderr, "\r[%s] %lld/%lld frames  %.1f fps (%.2fx real time)  %d:%02d left ", bar.c_str(),
                   static_cast<long long>(done), static_cast<long long>(total), rate, rate / fps,
                   static_cast<int>(left) / 60, static_cast<int>(left) % 60);
      if (done == total) std::fputc('\n', stderr);
    } else {
      const int tenth = static_cast<int>(done * 10 / std::max<std::int64_t>(total, 1));
      if (tenth == lastTenth) return;
      lastTenth = tenth;
      std::fprintf(stderr, "%d%%: %lld of %lld frames, %.1f fps\n", tenth * 10, static_cast<long long>(done),
                   static_cast<long long>(total), done / std::max(now - start, 1e-9));
    }
    std::fflush(stderr);
  }
  void interrupt() {
    if (terminal && lastShown > 0) std::fputc('\n', stderr);
  }

 private:
  std::int64_t total;
  int fps;
  bool terminal;
  double start;
  double lastShown = 0;
  int lastTenth = 0;
};

}  // namespace

int captureVideo(const VideoCaptureOptions& o) {
  const std::string badType = VideoFile::checkExtension(o.path);
  if (!badType.empty()) return cli::usage_error(o.path, badType);

  // Encoder chatter (statistics at the end) would bury the progress.
  av_log_set_level(AV_LOG_ERROR);

  MusicSource music;
  const std::string module = o.module.empty() ? besideExecutable("2.xm") : o.module;
  std::string error;
  if (!music.open(module, &error)) {
    // A module asked for must play. Without its own module the intro plays
    // silently; so does the video.
    if (!o.module.empty()) return cli::fail(module, error);
    cli::note(module + ": " + error + "; the video is silent");
  }

  HeadlessGl gl;
  IntroCapture capture;
  if (const int status = startCapture(&gl, capture, o.width, o.height)) return status;

  VideoSettings settings;
  settings.path = o.path;
  settings.width = o.width;
  settings.height = o.height;
  settings.fps = o.fps;
  settings.quality = o.quality;
  settings.inputs = {module};
  settings.force = o.force;
  // From the moment the file exists: Ctrl-C and SIGTERM finish it.
  std::signal(SIGINT, onStopSignal);
  std::signal(SIGTERM, onStopSignal);
  // A size limit on files (ulimit -f) is then a write error like a full disk.
  std::signal(SIGXFSZ, SIG_IGN);
  VideoFile video;
  if (!video.open(settings)) return cli::fail(o.path, video.error());

  // The loading screen as the intro leaves it while it builds: the bar full.
  const std::size_t pixelBytes = static_cast<std::size_t>(o.width) * o.height * 4;
  std::vector<std::uint8_t> loadingPicture;
  const int loading = o.loading ? loadingFrames(o.fps) : 0;
  if (loading > 0) {
    draw_loading_screen_gl(o.width, o.height, loading_screen_layout(200));
    loadingPicture.resize(pixelBytes);
    gl.readBgra(loadingPicture.data());
  }
  IntroCapture::setView(o.desktopWidth, o.desktopHeight);

  // Frame f of the scroller covers the sound from f x 44100 / fps up to the
  // next frame's start, counted exactly, so no rounding error builds up.
  auto soundStart = [&](std::int64_t frame) { return frame * kVideoSampleRate / o.fps; };


  const std::int64_t total = loading + (o.last - o.first + 1);
  Handoff handoff(pixelBytes);
  bool encodeFailed = false;
  std::int64_t encoded = 0;
  std::thread encoder([&] {
    while (Job* job = handoff.takeFull()) {
      const bool ok = video.addPicture(job->pixels.data()) &&
                      video.addSound(job->sound.data(), static_cast<int>(job->sound.size() / 2));
      handoff.giveBack(job);
      if (!ok) {
        encodeFailed = true;
        handoff.stop();
        return;
      }
      ++encoded;
    }
  });

  const double started = seconds();
  const double startedProcessor = processorSeconds();
  double drawing = 0;
  Progress progress(total, o.fps);
  std::vector<std::int16_t> skipped;
  std::int64_t submitted = 0;
  for (std::int64_t i = 0; i < total && stopSignal == 0; ++i) {
    Job* job = handoff.takeSpare();
    if (job == nullptr) break;
    job->sound.clear();
    if (i < loading) {
      std::copy(loadingPicture.begin(), loadingPicture.end(), job->pixels.begin());
      job->sound.assign(static_cast<std::size_t>(soundStart(i + 1) - soundStart(i)) * 2, 0);
    } else {
      const std::int64_t frame = o.first + (i - loading);
      // The animation counts frames: earlier ones still run, undrawn, and
      // their music is mixed and dropped.
      while (capture.frameIndex() < frame) capture.frame(false);
      for (std::int64_t left = i == loading ? soundStart(o.first) : 0; left > 0; left -= kVideoSampleRate) {
        music.take(std::min<std::int64_t>(left, kVideoSampleRate), &skipped);
        skipped.clear();
      }
      const double t0 = seconds();
      capture.frame(true);
      gl.readBgra(job->pixels.data());
      drawing += seconds() - t0;
      music.take(soundStart(frame + 1) - soundStart(frame), &job->sound);
    }
    handoff.submit(job);
    ++submitted;
    progress.update(submitted);
  }
  handoff.close();
  encoder.join();
  if (stopSignal != 0) progress.interrupt();

  // Stopped early, the video is kept only where it replaces nothing.
  if (stopSignal != 0 && !encodeFailed && video.replacing()) {
    video.abandon();
    cli::note("stopped; " + o.path + " is left as it was");
    return 128 + static_cast<int>(stopSignal);
  }
  if (encodeFailed || !video.finish(stopSignal == 0)) {
    if (!encodeFailed) progress.interrupt();
    return cli::fail(o.path, video.error());
  }
  const double elapsed = seconds() - started;
  const double processor = processorSeconds() - startedProcessor;
  const VideoTimes& times = video.times();
  const double perFrame = 1000.0 / static_cast<double>(std::max<std::int64_t>(encoded, 1));
  // Drawing runs on this thread, converting and encoding on the other, so
  // the three overlap; the processor time counts every thread.
  std::fprintf(stderr,
               "%lld frames %dx%d in %.1f s: %.1f fps (%.2fx real time at %d fps); per frame: drawing %.2f ms, "
               "converting %.2f ms, encoding %.2f ms; processor time %.2f ms\n",
               static_cast<long long>(encoded), o.width, o.height, elapsed, encoded / std::max(elapsed, 1e-9),
               encoded / std::max(elapsed, 1e-9) / o.fps, o.fps, drawing * perFrame, times.converting * perFrame,
               times.encoding * perFrame, processor * perFrame);
  if (stopSignal != 0) {
    cli::note("stopped; " + o.path + " holds the first " + std::to_string(encoded) + " frames");
    return 128 + static_cast<int>(stopSignal);
  }
  return 0;
}
