#include "shell/main_loop.h"

#include "platform/platform.h"
#include "platform/window_layout.h"
#include "shell/debug_log.h"
#include "shell/gl_entry_points.h"
#include "shell/intro.h"
#include "shell/loading_screen.h"
#include "shell/title.h"

namespace {
WindowRecord windowRecord;
std::uint32_t firstFrameTime = 0;
}  // namespace

WindowRecord& window_record() { return windowRecord; }

float frame_time_seconds(std::uint32_t now, std::uint32_t first) {
  return milliseconds_to_seconds(static_cast<double>(now - first));
}

int vantor_main() {
  if (!open_debug_log()) return kStartFailed;

  windowRecord.instance = platform::module_instance();
  if (platform::ask_fullscreen()) windowRecord.fullScreen = 1;

  ProgressCallback progress{&windowRecord, draw_loading_screen};
  if (!platform::open_window(windowRecord) || !load_gl_entry_points() ||
      !intro_init(kWindowedWidth, kWindowedHeight, 1, &progress)) {
    platform::close_window(windowRecord);
    platform::show_failure_message(kStartupFailureText);
    return kStartFailed;  // the log keeps only its header; the process exit closes it
  }

  int done = 0;
  while (!done) {
    bool quit = false;
    if (platform::pump_one_message(&quit)) {
      if (quit) done = 1;
      continue;
    }
    done = intro_frame();
    if (firstFrameTime == 0) firstFrameTime = platform::milliseconds();
    const float t = frame_time_seconds(platform::milliseconds(), firstFrameTime);
    platform::swap_buffers(windowRecord);
    update_title(windowRecord, t);
  }

  intro_shutdown();
  platform::close_window(windowRecord);
  close_debug_log();
  return 0;
}
