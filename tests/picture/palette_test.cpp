#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "scroller/palette.h"
#include "scroller/random.h"

namespace {

// One palette for the whole file: it takes 43.5 MB and some milliseconds.
const xpalette& palette() {
  static const xpalette instance;
  return instance;
}

bool sameBits(const col& a, const col& b) { return std::memcmp(&a, &b, sizeof(col)) == 0; }

// The hue of entry k, advanced exactly as written down for the table: the
// sum in double precision, then rounded to single.
float hueOf(std::uint32_t k) {
  const auto step = static_cast<double>(0.0001f);
  float hue = 0.0f;
  for (std::uint32_t i = 0; i < k; ++i) hue = static_cast<float>(hue + step);
  return hue;
}

TEST(Palette, HasTheEntryCountTheHueWalkGives) {
  ASSERT_TRUE(palette().ok());
  EXPECT_EQ(palette().size(), 3623422u);
}

TEST(Palette, FirstSecondAndLastEntries) {
  const col* e = palette().entries();
  EXPECT_EQ(e[0].r, 1.0f);
  EXPECT_EQ(e[0].g, 0.0f);
  EXPECT_EQ(e[0].b, 0.0f);
  EXPECT_EQ(e[1].r, 1.0f);
  EXPECT_NEAR(e[1].g, 1.67e-06f, 0.01e-06f);
  EXPECT_EQ(e[1].b, 0.0f);
  const col& last = e[palette().size() - 1];
  EXPECT_EQ(last.r, 1.0f);
  EXPECT_EQ(last.g, 0.0f);
  EXPECT_NEAR(last.b, 4.77e-07f, 0.01e-07f);
  EXPECT_NEAR(hueOf(palette().size() - 1), 359.99997f, 1e-4f);
}

TEST(Palette, EveryEntryMatchesTheDoublePrecisionHueWalk) {
  // The table is built with a faster but supposedly identical hue step;
  // every single entry must agree bit for bit with the literal recipe.
  const auto step = static_cast<double>(0.0001f);
  std::uint32_t k = 0;
  std::uint32_t mismatches = 0;
  for (float hue = 0.0f; hue < 360.0f; hue = static_cast<float>(hue + step), ++k) {
    ASSERT_LT(k, palette().size());
    col expected{};
    hsvToRgb(hue, 1.0f, 1.0f, expected.r, expected.g, expected.b);
    if (!sameBits(expected, palette().entries()[k])) ++mismatches;
  }
  EXPECT_EQ(k, palette().size());
  EXPECT_EQ(mismatches, 0u);
}

TEST(Palette, SectorBoundariesFallOnTheExpectedEntries) {
  struct Boundary {
    float degrees;
    std::uint32_t firstEntry;
    float hue;
  };
  const Boundary table[] = {{60, 603484, 60.0000076f},    {120, 1208432, 120.0000381f},
                            {180, 1775931, 180.0000916f}, {240, 2337668, 240.0000763f},
                            {300, 2968062, 300.0000610f}};
  const auto step = static_cast<double>(0.0001f);
  float hue = 0.0f;
  std::uint32_t k = 0;
  for (const Boundary& b : table) {
    while (hue < b.degrees) {
      hue = static_cast<float>(hue + step);
      ++k;
    }
    EXPECT_EQ(k, b.firstEntry) << "boundary " << b.degrees;
    EXPECT_NEAR(hue, b.hue, 1e-5f) << "boundary " << b.degrees;
    // Past the boundary the next component has just started (or stopped)
    // ramping: one component is 1, one is nearly 0 and one exactly 0.
    const col c = palette().entries()[k];
    const float lo = std::fmin(c.r, std::fmin(c.g, c.b));
    const float hi = std::fmax(c.r, std::fmax(c.g, c.b));
    EXPECT_EQ(lo, 0.0f);
    EXPECT_EQ(hi, 1.0f);
  }
}

TEST(Palette, GetColWrapsModuloOneLessThanTheSize) {
  const col* e = palette().entries();
  EXPECT_TRUE(sameBits(palette().getCol(0), e[0]));
  EXPECT_TRUE(sameBits(palette().getCol(3623421u), e[0]));
  EXPECT_TRUE(sameBits(palette().getCol(3623420u), e[3623420]));
  EXPECT_TRUE(sameBits(palette().getCol(4294967295u), e[1213410]));
}

TEST(Palette, RandomIndicesFollowTheSeededGenerator) {
  xpalette& p = const_cast<xpalette&>(palette());
  seedRandom(1);
  const std::uint32_t expected[] = {41, 18467, 6334, 26500, 19169};
  for (std::uint32_t v : expected) EXPECT_EQ(p.randomIndex(), v);
  // The generator's range caps every start colour at entry 32,767.
  for (int i = 0; i < 100000; ++i) ASSERT_LE(p.randomIndex(), 32767u);
}

TEST(Random, ReseedingRepeatsTheSequence) {
  seedRandom(1);
  int first[8];
  for (int& v : first) v = nextRandom();
  seedRandom(1);
  for (int v : first) EXPECT_EQ(nextRandom(), v);
}

TEST(HsvToRgb, ZeroSaturationIsGreyForAnyHue) {
  for (float h : {0.0f, 45.0f, 200.0f, 359.0f, 720.0f, -30.0f}) {
    float r = -1, g = -1, b = -1;
    hsvToRgb(h, 0.0f, 0.3f, r, g, b);
    EXPECT_EQ(r, 0.3f);
    EXPECT_EQ(g, 0.3f);
    EXPECT_EQ(b, 0.3f);
  }
}

TEST(HsvToRgb, SectorsAndOutOfRangeHues) {
  float r, g, b;
  hsvToRgb(90.0f, 0.5f, 0.5f, r, g, b);
  EXPECT_EQ(r, 0.375f);
  EXPECT_EQ(g, 0.5f);
  EXPECT_EQ(b, 0.25f);
  hsvToRgb(180.0f, 1.0f, 1.0f, r, g, b);  // cyan
  EXPECT_EQ(r, 0.0f);
  EXPECT_EQ(g, 1.0f);
  EXPECT_EQ(b, 1.0f);
  hsvToRgb(240.0f, 1.0f, 1.0f, r, g, b);  // blue
  EXPECT_EQ(r, 0.0f);
  EXPECT_EQ(g, 0.0f);
  EXPECT_EQ(b, 1.0f);
  // 360 and beyond, and negative hues, take the last sector's formula.
  hsvToRgb(360.0f, 1.0f, 1.0f, r, g, b);
  EXPECT_EQ(r, 1.0f);
  EXPECT_EQ(g, 0.0f);
  EXPECT_EQ(b, 1.0f);
  hsvToRgb(-60.0f, 1.0f, 1.0f, r, g, b);
  EXPECT_EQ(r, 1.0f);
  EXPECT_EQ(g, 0.0f);
  // Hues far beyond an int's range must not convert out of range.
  hsvToRgb(1e30f, 1.0f, 1.0f, r, g, b);
  EXPECT_EQ(r, 1.0f);
  hsvToRgb(NAN, 1.0f, 1.0f, r, g, b);
  EXPECT_EQ(r, 1.0f);
}

}  // namespace
