// The intro's process from start to exit, on the main thread.
#pragma once

#include <cstdint>

#include "shell/window_record.h"

constexpr const char* kStartupFailureText =
    "intro_init()!\n\n  no memory?\n  no music?\n  no sjades?";

// Runs start-up, the message loop and shutdown. Always returns 0, the
// process exit code.
int vantor_main();

// The frame time the caption shows: seconds since the first frame, from the
// unsigned difference, so one wrap of the millisecond clock is harmless.
float frame_time_seconds(std::uint32_t now, std::uint32_t firstFrameTime);

// The process-wide window record (exposed for tests).
WindowRecord& window_record();
