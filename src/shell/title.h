// The windowed caption: running time since the first frame and frame rate.
#pragma once

#include <cstddef>

#include "platform/window_layout.h"
#include "platform/window_record.h"

struct FpsCounter {
  int framesPerSecond = 0;
  float lastResetTime = 0.0f;
  int framesSinceReset = 0;
};

constexpr std::size_t kTitleBufferSize = 64;

// Converts with rounding toward minus infinity.
int floor_to_int(float value);

// Formats "<name> - MM:SS:HH  [N fps]" for the frame time t (seconds).
void format_title(char (&buffer)[kTitleBufferSize], float t, int framesPerSecond);

// Counts one frame into the counter. Returns true when the caption is due to
// be rewritten (every fourth frame counted since the last reset).
bool count_frame(FpsCounter& counter, float t);

// Counts the frame and, in windowed mode, rewrites the caption when due.
void update_title(WindowRecord& record, float t);

// The process-wide counter behind update_title (exposed for tests).
FpsCounter& title_counter();
