// The compiled-in shapes of the drawn glyphs.
#pragma once

#include <cstdint>

struct GlyphColumns {
  std::uint8_t code;
  std::uint8_t width;
  // One value per column, left to right; bit r is the cell in row r.
  std::uint16_t columns[26];
};

// The shape for a character code, or null for codes drawn as an empty glyph
// (the control codes, the space and a few unused punctuation characters).
const GlyphColumns* glyphColumns(int code);
