// The bitmap font of the scroller: 123 glyphs, one per character code 0 to
// 122, each a grid of cells ten rows high that the scroller turns into cubes.
#pragma once

#include <array>

// One glyph. Cells are column-major: column j, row i is bits[j * height + i],
// row 0 at the top. The width includes the glyph's blank spacing column, so
// it is also the horizontal advance.
class xfontChar {
 public:
  static constexpr int kMaxWidth = 26;
  static constexpr int kMaxHeight = 10;
  static constexpr int kMaxCells = kMaxWidth * kMaxHeight;

  xfontChar() = default;
  // An empty glyph of the given size; its cells are appended afterwards.
  // Sizes beyond the largest glyph are clamped so the cells always fit.
  xfontChar(int width, int height);

  // Appends the next cell; cells beyond width * height are ignored.
  void addCell(bool set);

  // The cell at index j * height + i; false outside the glyph.
  bool cell(int index) const {
    return index >= 0 && index < cellCount ? bits[static_cast<unsigned>(index)] : false;
  }
  int size() const { return cellCount; }

  std::array<bool, kMaxCells> bits{};
  int width = 0;
  int height = kMaxHeight;

 private:
  int cellCount = 0;
};

class xfont {
 public:
  static constexpr int kGlyphCount = 123;

  // Builds every glyph from the compiled-in table. Allocates nothing.
  xfont();

  // The glyph for a character code. Codes without a glyph (123 and above,
  // and negative bytes) get an empty glyph rather than a stray pointer.
  const xfontChar* getChar(char c) const;

 private:
  std::array<xfontChar, kGlyphCount> chars;
};
