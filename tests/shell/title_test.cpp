#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <string>

#include "fake_platform.h"
#include "shell/main_loop.h"
#include "shell/title.h"

namespace {

std::string title_for(float t, int fps) {
  char buffer[kTitleBufferSize];
  format_title(buffer, t, fps);
  return buffer;
}

TEST(Title, ClockShowsMinutesSecondsAndHundredths) {
  EXPECT_EQ(title_for(75.257f, 412), "Vantor Filigree by Kestrel - 01:15:25  [412 fps]");
  EXPECT_EQ(title_for(59.999f, 0), "Vantor Filigree by Kestrel - 00:59:99  [0 fps]");
  // Minutes are not wrapped into hours.
  EXPECT_EQ(title_for(3600.5f, 60), "Vantor Filigree by Kestrel - 60:00:50  [60 fps]");
  EXPECT_EQ(title_for(0.0f, 0), "Vantor Filigree by Kestrel - 00:00:00  [0 fps]");
}

TEST(Title, CaptionMatchesThePrintfFormatForEveryCounterValue) {
  // Far past an hour, negative frame counts and the widest ones.
  const struct {
    float t;
    int fps;
  } cases[] = {{0.07f, 7}, {599.99f, 1000}, {123456.78f, -12}, {5999999.0f, 2147483647},
               {5999999.0f, -2147483647 - 1}};
  for (const auto& c : cases) {
    const int minutes = floor_to_int(c.t / 60.0f);
    const int seconds = floor_to_int(c.t - static_cast<float>(minutes) * 60.0f);
    const int hundredths = floor_to_int(c.t * 100.0f) % 100;
    char expected[kTitleBufferSize];
    std::snprintf(expected, sizeof expected, "%s - %02d:%02d:%02d  [%d fps]", kIntroName, minutes, seconds,
                  hundredths, c.fps);
    EXPECT_EQ(title_for(c.t, c.fps), expected) << "t " << c.t << ", fps " << c.fps;
  }
}

TEST(Title, FloorRoundsTowardMinusInfinity) {
  EXPECT_EQ(floor_to_int(1.999f), 1);
  EXPECT_EQ(floor_to_int(-0.25f), -1);
  EXPECT_EQ(floor_to_int(-2.0f), -2);
}

TEST(Title, SteadySixtyFramesPerSecondShowsSixtyOrSixtyOne) {
  FpsCounter counter;
  int updates = 0, resets = 0;
  int lastShown = -1;
  for (int frame = 0; frame < 60 * 20; ++frame) {
    const float t = frame_time_seconds(static_cast<std::uint32_t>(frame * 1000 / 60), 0);
    const int before = counter.framesSinceReset;
    const bool due = count_frame(counter, t);
    if (counter.framesSinceReset == 0) {
      ++resets;
      lastShown = counter.framesPerSecond;
      // The first interval also counts the frame drawn at t = 0.
      if (resets > 1) {
        EXPECT_TRUE(lastShown == 60 || lastShown == 61) << "at frame " << frame << ": " << lastShown;
      }
    } else {
      EXPECT_EQ(counter.framesSinceReset, before + 1);
    }
    if (due) {
      ++updates;
      EXPECT_EQ(counter.framesSinceReset % 4, 0);
    }
  }
  EXPECT_GE(resets, 18);
  // Roughly one update in four frames, plus the one at each reset.
  EXPECT_NEAR(updates, 60 * 20 / 4 + resets, resets + 2);
}

TEST(Title, CaptionChangesOnlyInWindowedModeAndForValidTimes) {
  FakePlatform::get().reset();
  title_counter() = FpsCounter{};
  WindowRecord record;
  record.fullScreen = 1;
  for (int i = 0; i < 8; ++i) update_title(record, 0.01f * i);
  EXPECT_TRUE(FakePlatform::get().captions.empty());
  EXPECT_EQ(title_counter().framesSinceReset, 0);

  record.fullScreen = 0;
  update_title(record, -1.0f);
  update_title(record, std::numeric_limits<float>::quiet_NaN());
  EXPECT_EQ(title_counter().framesSinceReset, 0);

  for (int i = 1; i <= 8; ++i) update_title(record, 0.01f * i);
  ASSERT_EQ(FakePlatform::get().captions.size(), 2u);  // frames 4 and 8
  EXPECT_EQ(FakePlatform::get().captions[1], "Vantor Filigree by Kestrel - 00:00:08  [0 fps]");
}

TEST(FrameTime, SurvivesOneWrapOfTheMillisecondClock) {
  EXPECT_FLOAT_EQ(frame_time_seconds(1500, 500), 1.0f);
  EXPECT_FLOAT_EQ(frame_time_seconds(99, 0xFFFFFFFFu - 900), 1.0f);
  // The single-precision factor applied in double precision.
  EXPECT_EQ(frame_time_seconds(1, 0), static_cast<float>(1.0 * static_cast<double>(0.001f)));
}

}  // namespace
