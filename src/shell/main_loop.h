// The intro's process from start to exit, on the main thread.
#pragma once

#include <cstdint>

#include "platform/window_record.h"

constexpr const char* kStartupFailureText =
    "intro_init()!\n\n  no memory?\n  no music?\n  no sjades?";

// The process exit code of a start that failed: the log could not be
// created, or the window, the OpenGL context, an entry point or the intro's
// content could not be had. A script that starts the intro can tell.
constexpr int kStartFailed = 1;

// Runs start-up, the message loop and shutdown. Returns the process exit
// code: 0 after an orderly run, kStartFailed after a failed start.
int vantor_main();

// The frame time the caption shows: seconds since the first frame, from the
// unsigned difference, so one wrap of the millisecond clock is harmless.
float frame_time_seconds(std::uint32_t now, std::uint32_t firstFrameTime);

// The process-wide window record (exposed for tests).
WindowRecord& window_record();
