// One byte of the scroll text as a block of cubes that sways in depth.
#pragma once

#include <cstdint>

#include "font/font.h"
#include "scroller/palette.h"

class xscrollerChar {
 public:
  // Phases are reduced into the wave table's 0..510. Draws one random
  // palette index as the start colour.
  xscrollerChar(const xfontChar* glyph, char ch, xpalette* palette, const std::int32_t* wave,
                int phaseA, int phaseB);

  int getWidth() const { return glyph->width; }

  // x is the left column's position. Only characters with x in [-50, 50]
  // emit cubes, but the wave phases advance on every call. zoom is unused.
  void draw(float x, float yOffset, float zoom);

  const xfontChar* glyph;
  xpalette* palette;
  const std::int32_t* wave;
  int phaseA;                // advances by 1 per frame
  int phaseB;                // advances by 1 per glyph row
  std::uint32_t colourIndex; // palette index of the next cube
  char ch;

 private:
  col drawCell(int cell, bool drawGl);
};
