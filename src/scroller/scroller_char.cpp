#include "scroller/scroller_char.h"

#include "font/cube.h"
#include "platform/gl.h"
#include "scroller/cube_recorder.h"

namespace {

constexpr int kPhaseModulus = 511;
constexpr float kBandEdge = 50.0f;
// Consecutive cubes of a character lie this far apart in the palette (plus
// the previous cube's cell index): about an eighth of a degree of hue.
constexpr std::uint32_t kColourStride = 1250;

int reducePhase(int phase) { return ((phase % kPhaseModulus) + kPhaseModulus) % kPhaseModulus; }

}  // namespace

xscrollerChar::xscrollerChar(const xfontChar* glyph, char ch, xpalette* palette,
                             const std::int32_t* wave, int phaseA, int phaseB)
    : glyph(glyph),
      palette(palette),
      wave(wave),
      phaseA(reducePhase(phaseA)),
      phaseB(reducePhase(phaseB)),
      colourIndex(palette->randomIndex()),
      ch(ch) {}

void xscrollerChar::draw(float x, float yOffset, float /*zoom*/) {
  const bool visible = x <= kBandEdge && x >= -kBandEdge;
  const CubeRecorder* recorder = cubeRecorder();
  const bool drawGl = recorder == nullptr || recorder->draw;
  const int height = glyph->height;
  const int width = glyph->width;

  for (int r = 0; r < height; ++r) {
    // Outside the band the column loop would emit nothing, so only the
    // phase moves on.
    if (visible) {
      // One depth per row; consecutive rows read consecutive table entries.
      const int sum = wave[phaseA] + wave[phaseB];
      const auto zf = static_cast<float>(sum / 1.75);
      for (int c = 0; c < width; ++c) {
        const int cell = c * height + r;
        if (!glyph->cell(cell)) continue;
        const float tx = x + static_cast<float>(c);
        const auto ty = static_cast<float>(r - 3.5 + yOffset);
        const float tz = zf / 20.0f;
        if (drawGl) {
          glPushMatrix();
          glTranslatef(tx, ty, tz);
        }
        const col colour = drawCell(cell, drawGl);
        if (recorder != nullptr) {
          recorder->record(recorder->context, CubeRecord{this, c, r, tx, ty, tz, colour});
        }
        if (drawGl) glPopMatrix();
      }
    }
    phaseB = (phaseB + 1) % kPhaseModulus;
  }
  phaseA = (phaseA + 1) % kPhaseModulus;
}

col xscrollerChar::drawCell(int cell, bool drawGl) {
  const col c = palette->getCol(colourIndex);
  colourIndex += static_cast<std::uint32_t>(cell) + kColourStride;
  if (drawGl) drawCube(c);
  return c;
}
