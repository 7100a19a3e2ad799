#include "scroller/palette.h"

#include <climits>
#include <cmath>
#include <cstdlib>

#if defined(__linux__)
#include <sys/mman.h>
#endif

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

// hsvToRgb (hue, 1, 1) for a non-negative hue with the factors of one left
// out: each product with s = v = 1 is exact, and truncation equals floor.
// The single-precision quotient equals the double one rounded to single,
// because a double carries more than twice a float's precision.
inline col rainbow(float hue) {
  const float h6 = hue / 60.0f;
  const int i = static_cast<int>(h6);
  const float f = h6 - static_cast<float>(i);
  const float q = 1.0f - f;
  const float t = 1.0f - q;
  switch (i) {
    case 0: return {1.0f, t, 0.0f};
    case 1: return {q, 1.0f, 0.0f};
    case 2: return {0.0f, 1.0f, t};
    case 3: return {0.0f, q, 1.0f};
    case 4: return {t, 0.0f, 1.0f};
    default: return {1.0f, 0.0f, q};
  }
}

// The table is 43.5 MB. Where the system offers huge pages they cut the
// page faults of filling it from about ten thousand to a few dozen, which
// is most of the build time on a fresh process.
col* allocateTable(std::uint32_t n) {
#if defined(__linux__)
  constexpr std::size_t kHugePage = std::size_t{2} << 20;
  const std::size_t bytes = (n * sizeof(col) + kHugePage - 1) / kHugePage * kHugePage;
  void* memory = std::aligned_alloc(kHugePage, bytes);
  if (memory != nullptr) madvise(memory, bytes, MADV_HUGEPAGE);  // only advice
  return static_cast<col*>(memory);
#else
  return static_cast<col*>(std::malloc(n * sizeof(col)));
#endif
}

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

  cols = allocateTable(n);
  if (cols == nullptr) return;
  count = n;

  col* out = cols;
  for (float hue = 0.0f; hue < kHueEnd; hue = nextHue(hue)) *out++ = rainbow(hue);
}

xpalette::~xpalette() { std::free(cols); }

col xpalette::getCol(std::uint32_t index) const {
  if (!ok()) return col{0.0f, 0.0f, 0.0f};
  return cols[index % (count - 1)];
}

std::uint32_t xpalette::randomIndex() {
  const auto value = static_cast<std::uint32_t>(nextRandom());
  return ok() ? value % (count - 1) : value;
}
