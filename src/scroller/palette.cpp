#include "scroller/palette.h"

#include <climits>
#include <cmath>
#include <new>

#include "scroller/random.h"

namespace {

// The hue step is the single-precision value nearest 0.0001. The sum is
// formed in double and rounded back to single, so the effective step
// shrinks with the hue's resolution (to about 9.155e-05 above 256 degrees).
// The hue stays below 2^9 and the step's lowest bit is 2^-37, so the exact
// sum fits in 46 bits: the double sum is exact, and rounding it to single
// gives the same value as a plain single-precision addition, which is what
// the loop uses because it is the cheaper of the two.
constexpr float kHueStep = 0.0001f;
constexpr float kHueEnd = 360.0f;

inline float nextHue(float hue) { return hue + kHueStep; }

}  // namespace

void hsvToRgb(float h, float s, float v, float& r, float& g, float& b) {
  if (s == 0.0f) {
    r = g = b = v;
    return;
  }
  const float h6 = static_cast<float>(static_cast<double>(h) / 60.0);
  const float whole = std::floor(h6);
  // A hue too large (or not a number) for an int falls in the last branch
  // instead of converting out of range.
  const bool inRange = whole >= static_cast<float>(INT_MIN) && whole < static_cast<float>(INT_MAX);
  const int i = inRange ? static_cast<int>(whole) : -1;
  const float f = inRange ? h6 - static_cast<float>(i) : h6 - whole;
  const float p = v * (1.0f - s);
  const float q = v * (1.0f - s * f);
  const float t = v * (1.0f - s * (1.0f - f));
  switch (i) {
    case 0: r = v; g = t; b = p; break;
    case 1: r = q; g = v; b = p; break;
    case 2: r = p; g = v; b = t; break;
    case 3: r = p; g = q; b = v; break;
    case 4: r = t; g = p; b = v; break;
    default: r = v; g = p; b = q; break;
  }
}

xpalette::xpalette() {
  std::uint32_t n = 0;
  for (float hue = 0.0f; hue < kHueEnd; hue = nextHue(hue)) ++n;

  cols = new (std::nothrow) col[n];
  if (cols == nullptr) return;
  count = n;

  col* out = cols;
  for (float hue = 0.0f; hue < kHueEnd; hue = nextHue(hue), ++out) {
    hsvToRgb(hue, 1.0f, 1.0f, out->r, out->g, out->b);
  }
}

xpalette::~xpalette() { delete[] cols; }

col xpalette::getCol(std::uint32_t index) const {
  if (!ok()) return col{0.0f, 0.0f, 0.0f};
  return cols[index % (count - 1)];
}

std::uint32_t xpalette::randomIndex() {
  const auto value = static_cast<std::uint32_t>(nextRandom());
  return ok() ? value % (count - 1) : value;
}
