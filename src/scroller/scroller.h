// The cube scroller: the scroll text laid out as a row of characters that
// travels right to left across a tilted plane, one fixed step per frame.
#pragma once

#include <cstddef>

#include "font/font.h"
#include "scroller/palette.h"
#include "scroller/scroller_char.h"

class xscroller {
 public:
  // Creates the font and one character per byte of text, in text order.
  // If memory runs out, ok() is false and the scroller must not be drawn.
  xscroller(const char* text, xpalette* palette, float yOffset, float zoom, float speed);
  ~xscroller();
  xscroller(const xscroller&) = delete;
  xscroller& operator=(const xscroller&) = delete;

  bool ok() const { return built; }

  // One frame: view setup, every character, then the offset moves on. The
  // time is not used; motion is counted in frames.
  void draw(float t);

  std::size_t charCount() const { return count; }
  const xscrollerChar& charAt(std::size_t i) const { return *chars[i]; }
  float offset() const { return scrollOffset; }

  // The offset after one frame: the step is formed in double precision and
  // the result rounded to single, so it stops changing at -2^24.
  static float nextScrollOffset(float offset, float speed);

  // How far the character after c starts from c: its glyph width, with a
  // fixed gap for the (empty) space and one extra column after 'a'.
  static int advance(const xscrollerChar& c);

 private:
  void drawChars();

  float speed;
  float zoom;
  float yOffset;
  float scrollOffset = 0.0f;
  xfont* font = nullptr;
  xscrollerChar** chars = nullptr;
  std::size_t count = 0;
  int nextPhaseA = 0;
  int nextPhaseB = 0;
  bool built = false;
};
