#include "shell/title.h"


#include "platform/platform.h"

namespace {
FpsCounter fpsCounter;
}

FpsCounter& title_counter() { return fpsCounter; }

int floor_to_int(float value) {
  // Truncation, one lower for negative non-integers: the runtime's floor
  // would be linked in for a few calls a frame.
  const int truncated = static_cast<int>(value);
  return static_cast<float>(truncated) > value ? truncated - 1 : truncated;
}

namespace {

// Appends to a caption that never runs past `end` (one byte is kept for the
// terminator). Integers only: the caption needs no general formatter, and the
// runtime's brings its floating-point conversions with it.
struct CaptionWriter {
  char* next;
  char* end;

  void put(char c) {
    if (next < end - 1) *next++ = c;
  }
  void put(const char* text) {
    while (*text) put(*text++);
  }
  // At least `digits` digits, zero-padded after any sign, like "%0*d".
  void put(int value, int digits) {
    char reversed[12];
    int count = 0;
    auto magnitude = value < 0 ? 0u - static_cast<unsigned>(value) : static_cast<unsigned>(value);
    do {
      reversed[count++] = static_cast<char>('0' + magnitude % 10);
      magnitude /= 10;
    } while (magnitude != 0);
    if (value < 0) {
      put('-');
      --digits;
    }
    for (int pad = count; pad < digits; ++pad) put('0');
    while (count > 0) put(reversed[--count]);
  }
};

}  // namespace

void format_title(char (&buffer)[kTitleBufferSize], float t, int framesPerSecond) {
  // Each intermediate is stored in single precision before it is converted.
  const float minutesF = t / 60.0f;
  const int minutes = floor_to_int(minutesF);
  const float secondsF = t - static_cast<float>(minutes) * 60.0f;
  const int seconds = floor_to_int(secondsF);
  const float hundredthsF = t * 100.0f;
  const int hundredths = floor_to_int(hundredthsF) % 100;
  // "<name> - %02d:%02d:%02d  [%d fps]"
  CaptionWriter out{buffer, buffer + kTitleBufferSize};
  out.put(kIntroName);
  out.put(" - ");
  out.put(minutes, 2);
  out.put(':');
  out.put(seconds, 2);
  out.put(':');
  out.put(hundredths, 2);
  out.put("  [");
  out.put(framesPerSecond, 1);
  out.put(" fps]");
  *out.next = '\0';
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
