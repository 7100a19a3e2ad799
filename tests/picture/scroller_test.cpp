#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "font/font.h"
#include "recording.h"
#include "scroller/intro_content.h"
#include "scroller/random.h"
#include "scroller/scroll_text.h"
#include "scroller/scroller.h"
#include "scroller/sine_table.h"

namespace {

xpalette& palette() {
  static xpalette instance;
  return instance;
}

const xfont& font() {
  static const xfont instance;
  return instance;
}

int advanceOf(char c) {
  const int w = font().getChar(c)->width;
  return w + (c == ' ' ? 8 : 0) + (c == 'a' ? 1 : 0);
}

TEST(SineTable, MatchesTheFormulaAndItsLandmarks) {
  for (int n = 0; n < 512; ++n) {
    const double v = 128.0 * std::sin(2.0 * 3.14159265358979323846 * (n + 1) / 512.0);
    EXPECT_EQ(sineTable[n], static_cast<int>(std::lround(v))) << n;
  }
  EXPECT_EQ(sineTable[0], 2);
  EXPECT_EQ(sineTable[127], 128);
  EXPECT_EQ(sineTable[255], 0);
  EXPECT_EQ(sineTable[383], -128);
  EXPECT_EQ(sineTable[511], 0);
}

TEST(ScrollText, HasTheRequiredForm) {
  const std::string text = scrollText;
  ASSERT_EQ(text.size(), 1284u);
  EXPECT_EQ(text.substr(1268), std::string(16, ' '));
  EXPECT_NE(text[1267], ' ');
  const std::string allowed = " 0146!#'()+,-.$%>[";
  for (char c : text) {
    const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    EXPECT_TRUE(letter || allowed.find(c) != std::string::npos) << "byte " << int(c);
  }
  auto count = [&](char c) { return std::count(text.begin(), text.end(), c); };
  EXPECT_EQ(count('>'), 2);
  EXPECT_EQ(count('%'), 2);
  EXPECT_EQ(count('$'), 4);
  EXPECT_EQ(count('['), 4);
  EXPECT_EQ(count(']'), 0);
  EXPECT_NE(text.find("$[[[$"), std::string::npos);
  EXPECT_EQ(text.substr(1264, 4), ">...");

  // The opening sentence names both logos and wraps a word in hearts.
  const std::string opening = text.substr(0, text.find('.'));
  EXPECT_NE(opening.find('>'), std::string::npos);
  EXPECT_NE(opening.find('%'), std::string::npos);
  EXPECT_EQ(std::count(opening.begin(), opening.end(), '$'), 2);

  int total = 0, lastDrawn = -1;
  for (char c : text) {
    if (font().getChar(c)->width > 0) lastDrawn = total;
    total += advanceOf(c);
  }
  EXPECT_EQ(total, 8646);
  EXPECT_EQ(lastDrawn, 8515);
}

TEST(ScrollerChar, PhasesAdvanceEveryCallInsideOrOutsideTheBand) {
  seedRandom(1);
  xscrollerChar space(font().getChar(' '), ' ', &palette(), sineTable, 510, 505);
  xscrollerChar far(font().getChar('A'), 'A', &palette(), sineTable, 0, 0);
  const std::uint32_t spaceColour = space.colourIndex;
  const std::uint32_t farColour = far.colourIndex;
  Recording rec;
  space.draw(0.0f, 1.0f, 1.0f);
  far.draw(1000.0f, 1.0f, 1.0f);
  EXPECT_TRUE(rec.cubes.empty());
  EXPECT_EQ(space.phaseA, 0);
  EXPECT_EQ(space.phaseB, 4);  // 505 + 10 wraps at 511
  EXPECT_EQ(space.colourIndex, spaceColour);
  EXPECT_EQ(far.phaseA, 1);
  EXPECT_EQ(far.phaseB, 10);
  EXPECT_EQ(far.colourIndex, farColour);
}

TEST(ScrollerChar, BandEdgesAreInclusive) {
  seedRandom(1);
  xscrollerChar c(font().getChar('I'), 'I', &palette(), sineTable, 0, 0);
  auto cubesAt = [&](float x) {
    Recording rec;
    c.draw(x, 1.0f, 1.0f);
    return rec.cubes.size();
  };
  EXPECT_EQ(cubesAt(50.0f), 14u);
  EXPECT_EQ(cubesAt(-50.0f), 14u);
  EXPECT_EQ(cubesAt(50.25f), 0u);
  EXPECT_EQ(cubesAt(-50.25f), 0u);
}

TEST(ScrollerChar, CubesCarryTheirCellPositionAndRowDepth) {
  seedRandom(1);
  xscrollerChar c(font().getChar('A'), 'A', &palette(), sineTable, 0, 0);
  Recording rec;
  c.draw(-3.5f, 1.0f, 1.0f);
  ASSERT_EQ(rec.cubes.size(), 30u);
  int lastRow = -1;
  for (const CubeRecord& cube : rec.cubes) {
    EXPECT_EQ(cube.source, &c);
    EXPECT_TRUE(font().getChar('A')->cell(cube.column * 10 + cube.row));
    EXPECT_GE(cube.row, lastRow);  // row by row from the top
    lastRow = cube.row;
    EXPECT_EQ(cube.x, -3.5f + static_cast<float>(cube.column));
    EXPECT_EQ(cube.y, static_cast<float>(cube.row - 3.5 + 1.0));
    const int sum = sineTable[0] + sineTable[cube.row];
    EXPECT_EQ(cube.z, static_cast<float>(sum / 1.75) / 20.0f);
  }
  // Row 1 of character 0 in frame 0: 2 + 3, the rows ripple down the table.
  EXPECT_NEAR(rec.cubes.front().z, 5 / 1.75 / 20, 1e-7);
}

TEST(ScrollerChar, FullStopColourFlow) {
  seedRandom(1);
  xscrollerChar stop(font().getChar('.'), '.', &palette(), sineTable, 0, 0);
  for (std::uint32_t start : {1000u, 3623000u, 4294967000u}) {
    stop.colourIndex = start;
    Recording rec;
    stop.draw(0.0f, 1.0f, 1.0f);
    ASSERT_EQ(rec.cubes.size(), 4u);
    const std::uint32_t offsets[] = {0, 1256, 2522, 3779};
    const int cells[][2] = {{0, 6}, {1, 6}, {0, 7}, {1, 7}};
    for (int i = 0; i < 4; ++i) {
      const col want = palette().getCol(start + offsets[i]);
      EXPECT_EQ(std::memcmp(&rec.cubes[i].colour, &want, sizeof(col)), 0) << start << " cube " << i;
      EXPECT_EQ(rec.cubes[i].column, cells[i][0]);
      EXPECT_EQ(rec.cubes[i].row, cells[i][1]);
    }
    EXPECT_EQ(stop.colourIndex, start + 5046u);  // wraps round at 2^32
  }
}

TEST(ScrollerChar, OutOfRangePhasesAreReduced) {
  seedRandom(1);
  xscrollerChar c(font().getChar('A'), 'A', &palette(), sineTable, 511 * 3 + 7, -1);
  EXPECT_EQ(c.phaseA, 7);
  EXPECT_EQ(c.phaseB, 510);
}

TEST(Scroller, ConstructionHandsOutPhasesAndStartColoursInTextOrder) {
  seedRandom(1);
  xscroller s("Hello a world", &palette(), 1.0f, 1.0f, 1.0f);
  ASSERT_TRUE(s.ok());
  ASSERT_EQ(s.charCount(), 13u);
  for (std::size_t k = 0; k < s.charCount(); ++k) {
    EXPECT_EQ(s.charAt(k).phaseA, static_cast<int>(16 * k % 511));
    EXPECT_EQ(s.charAt(k).phaseB, static_cast<int>(54 * k % 511));
    EXPECT_EQ(s.charAt(k).ch, "Hello a world"[k]);
  }
  EXPECT_EQ(s.charAt(0).colourIndex, 41u);
  EXPECT_EQ(s.charAt(1).colourIndex, 18467u);
  EXPECT_EQ(s.charAt(2).colourIndex, 6334u);
}

TEST(Scroller, SpacingRules) {
  seedRandom(1);
  xscroller s(" aAb", &palette(), 1.0f, 1.0f, 1.0f);
  ASSERT_EQ(s.charCount(), 4u);
  EXPECT_EQ(xscroller::advance(s.charAt(0)), 8);      // space: gap only
  EXPECT_EQ(xscroller::advance(s.charAt(1)), 7 + 1);  // 'a' one extra column
  EXPECT_EQ(xscroller::advance(s.charAt(2)), 7);      // 'A' none
  EXPECT_EQ(xscroller::advance(s.charAt(3)), 7);
}

TEST(Scroller, EmptyTextStillScrolls) {
  xscroller s("", &palette(), 1.0f, 1.0f, 1.0f);
  EXPECT_TRUE(s.ok());
  EXPECT_EQ(s.charCount(), 0u);
  Recording rec;
  s.draw(0.0f);
  s.draw(0.0f);  // the time argument does not hold the scene still
  EXPECT_EQ(s.offset(), -1.5f);
  EXPECT_TRUE(rec.cubes.empty());
}

TEST(Scroller, OffsetFallsByThreeQuartersUntilPrecisionRunsOut) {
  float offset = 0.0f;
  long frames = 0;
  while (offset > -4194304.0f) {
    const float next = xscroller::nextScrollOffset(offset, 1.0f);
    ASSERT_EQ(next, offset - 0.75f) << frames;
    offset = next;
    ++frames;
  }
  EXPECT_EQ(offset, -4194304.5f);
  EXPECT_EQ(frames, 5592406);
  // Beyond 2^22 the float spacing is 0.5, so the 0.75 steps tie and round
  // to even: one half step onto a whole number, then whole steps of 1.
  offset = xscroller::nextScrollOffset(offset, 1.0f);
  EXPECT_EQ(offset, -4194305.0f);
  ++frames;
  for (; offset > -16777216.0f; ++frames) {
    const float next = xscroller::nextScrollOffset(offset, 1.0f);
    ASSERT_EQ(next, offset - 1.0f) << frames;
    offset = next;
  }
  EXPECT_EQ(frames, 18175318);  // about 18.2 million frames
  // At 2^24 a step of 0.75 no longer changes the value, and the far-off
  // restart threshold is never reached.
  EXPECT_EQ(xscroller::nextScrollOffset(offset, 1.0f), -16777216.0f);
}

TEST(Scroller, DrawMovesTheOffsetOncePerFrame) {
  seedRandom(1);
  xscroller s("ab", &palette(), 1.0f, 1.0f, 1.0f);
  Recording rec;
  for (int n = 1; n <= 1000; ++n) {
    s.draw(1.0f);
    ASSERT_EQ(s.offset(), -0.75f * static_cast<float>(n));
  }
}

// Frame driver for the real intro content, without OpenGL.
class IntroScroll : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    seedRandom(kIntroSeed);
    ASSERT_TRUE(createIntroContent(content));
  }
  static void TearDownTestSuite() { destroyIntroContent(content); }
  static IntroContent content;
};
IntroContent IntroScroll::content;

TEST_F(IntroScroll, TextEntersAtFrame67AndHasLeftFromFrame11554) {
  xscroller& s = *content.scroller;
  int firstDrawn = -1;
  int lastDrawn = -1;
  for (int frame = 0; frame < 11600; ++frame) {
    ASSERT_EQ(s.offset(), -0.75f * static_cast<float>(frame));
    Recording rec;
    s.draw(0.0f);
    if (!rec.cubes.empty()) {
      if (firstDrawn < 0) {
        firstDrawn = frame;
        // Character 0 enters at x = 100 - 0.75 * 67.
        EXPECT_EQ(rec.cubes.front().source, &s.charAt(0));
        EXPECT_EQ(rec.cubes.front().x, 49.75f + static_cast<float>(rec.cubes.front().column));
      }
      lastDrawn = frame;
    }
    // In every frame, row r of character k uses phases 16k + n and 54k + 10n + r.
    if (frame == 500 || frame == 5000) {
      for (const CubeRecord& cube : rec.cubes) {
        std::size_t k = 0;
        while (&s.charAt(k) != cube.source) ++k;
        const int sum = sineTable[(16 * k + frame) % 511] + sineTable[(54 * k + 10 * frame + cube.row) % 511];
        ASSERT_EQ(cube.z, static_cast<float>(sum / 1.75) / 20.0f) << "char " << k;
      }
      for (std::size_t k = 0; k < s.charCount(); k += 97) {
        EXPECT_EQ(s.charAt(k).phaseA, static_cast<int>((16 * k + frame + 1) % 511));
        EXPECT_EQ(s.charAt(k).phaseB, static_cast<int>((54 * k + 10 * (frame + 1)) % 511));
      }
    }
  }
  EXPECT_EQ(firstDrawn, 67);
  EXPECT_EQ(lastDrawn, 11553);
}

TEST(IntroContent, TwoBuildsDrawTheSameColours) {
  auto run = [](std::vector<CubeRecord>& out) {
    seedRandom(kIntroSeed);
    IntroContent content;
    ASSERT_TRUE(createIntroContent(content));
    Recording rec;
    for (int frame = 0; frame < 400; ++frame) content.scroller->draw(0.0f);
    out = rec.cubes;
    destroyIntroContent(content);
  };
  std::vector<CubeRecord> a, b;
  run(a);
  run(b);
  ASSERT_EQ(a.size(), b.size());
  ASSERT_FALSE(a.empty());
  for (std::size_t i = 0; i < a.size(); ++i) {
    ASSERT_EQ(std::memcmp(&a[i].colour, &b[i].colour, sizeof(col)), 0) << i;
    ASSERT_EQ(a[i].x, b[i].x);
    ASSERT_EQ(a[i].z, b[i].z);
  }
}

}  // namespace
