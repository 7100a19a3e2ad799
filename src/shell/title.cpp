#include "shell/title.h"

#include <cmath>
#include <cstdio>

#include "platform/platform.h"

namespace {
FpsCounter fpsCounter;
}

FpsCounter& title_counter() { return fpsCounter; }

int floor_to_int(float value) { return static_cast<int>(std::floor(value)); }

void format_title(char (&buffer)[kTitleBufferSize], float t, int framesPerSecond) {
  // Each intermediate is stored in single precision before it is converted.
  const float minutesF = t / 60.0f;
  const int minutes = floor_to_int(minutesF);
  const float secondsF = t - static_cast<float>(minutes) * 60.0f;
  const int seconds = floor_to_int(secondsF);
  const float hundredthsF = t * 100.0f;
  const int hundredths = floor_to_int(hundredthsF) % 100;
  std::snprintf(buffer, kTitleBufferSize, "%s - %02d:%02d:%02d  [%d fps]", kIntroName, minutes,
                seconds, hundredths, framesPerSecond);
}

bool count_frame(FpsCounter& counter, float t) {
  counter.framesSinceReset += 1;
  if (t - counter.lastResetTime > 1.0f) {
    counter.framesPerSecond = counter.framesSinceReset;
    counter.lastResetTime = t;
    counter.framesSinceReset = 0;
  }
  return counter.framesSinceReset % 4 == 0;
}

void update_title(WindowRecord& record, float t) {
  if (!(t >= 0.0f)) return;  // negative or not a number: nothing is counted
  if (record.fullScreen) return;
  if (!count_frame(fpsCounter, t)) return;
  char buffer[kTitleBufferSize];
  format_title(buffer, t, fpsCounter.framesPerSecond);
  platform::set_caption(record, buffer);
}
