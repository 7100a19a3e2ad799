#include "font/font.h"

#include <algorithm>

#include "font/glyphs.h"

xfontChar::xfontChar(int width, int height)
    : width(std::clamp(width, 0, kMaxWidth)), height(std::clamp(height, 0, kMaxHeight)) {}

void xfontChar::addCell(bool set) {
  if (cellCount < width * height) bits[static_cast<unsigned>(cellCount++)] = set;
}

xfont::xfont() {
  for (int code = 0; code < kGlyphCount; ++code) {
    const GlyphColumns* shape = glyphColumns(code);
    const int width = shape ? shape->width : 0;
    xfontChar glyph(width, xfontChar::kMaxHeight);
    for (int j = 0; j < glyph.width; ++j) {
      for (int i = 0; i < glyph.height; ++i) glyph.addCell((shape->columns[j] >> i) & 1u);
    }
    chars[static_cast<unsigned>(code)] = glyph;
  }
}

const xfontChar* xfont::getChar(char c) const {
  static const xfontChar empty(0, xfontChar::kMaxHeight);
  const int code = static_cast<signed char>(c);
  if (code < 0 || code >= kGlyphCount) return &empty;
  return &chars[static_cast<unsigned>(code)];
}
