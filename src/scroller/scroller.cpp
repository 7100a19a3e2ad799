#include "scroller/scroller.h"

#include <cstring>
#include <new>

#include "platform/gl.h"
#include "scroller/cube_recorder.h"
#include "scroller/sine_table.h"

namespace {

constexpr int kPhaseModulus = 511;
constexpr int kPhaseStepA = 16;
constexpr int kPhaseStepB = 54;
constexpr int kStartX = 100;
constexpr int kSpaceGap = 8;
// Far beyond where a single-precision offset can ever get; kept so a
// faster scroller would wrap round instead of running away.
constexpr double kRestartBelow = -1909044864.0;
constexpr float kRestartAt = 100.0f;

}  // namespace

xscroller::xscroller(const char* text, xpalette* palette, float yOffset, float zoom, float speed)
    : speed(speed), zoom(zoom), yOffset(yOffset) {
  font = new (std::nothrow) xfont;
  if (font == nullptr || palette == nullptr) return;

  const std::size_t length = text != nullptr ? std::strlen(text) : 0;
  if (length > 0) {
    chars = new (std::nothrow) xscrollerChar*[length];
    if (chars == nullptr) return;
  }
  for (std::size_t i = 0; i < length; ++i) {
    const char c = text[i];
    xscrollerChar* made = new (std::nothrow)
        xscrollerChar(font->getChar(c), c, palette, sineTable, nextPhaseA, nextPhaseB);
    if (made == nullptr) return;
    chars[count++] = made;
    nextPhaseA = (nextPhaseA + kPhaseStepA) % kPhaseModulus;
    nextPhaseB = (nextPhaseB + kPhaseStepB) % kPhaseModulus;
  }
  built = true;
}

xscroller::~xscroller() {
  for (std::size_t i = 0; i < count; ++i) delete chars[i];
  delete[] chars;
  delete font;
}

float xscroller::nextScrollOffset(float offset, float speed) {
  return static_cast<float>(offset - speed * 0.75);
}

int xscroller::advance(const xscrollerChar& c) {
  return c.getWidth() + (c.ch == ' ' ? kSpaceGap : 0) + (c.ch == 'a' ? 1 : 0);
}

void xscroller::draw(float /*t*/) {
  const CubeRecorder* recorder = cubeRecorder();
  const bool drawGl = recorder == nullptr || recorder->draw;

  if (drawGl) {
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    glTranslatef(0.0f, 0.0f, static_cast<float>(-15.0 / zoom));
  }

  if (drawGl) {
    glPushMatrix();
    // Together a 155 degree turn about x: the text reads left to right,
    // row 0 on top, its plane tilted away from the viewer at the top.
    glRotatef(180.0f, 0.0f, 0.0f, 1.0f);
    glRotatef(180.0f, 0.0f, 1.0f, 0.0f);
    glRotatef(-25.0f, 1.0f, 0.0f, 0.0f);
    // One pixel: a pulse between 0 and 50 once fed this width, and always
    // gave 1 with those limits.
    glLineWidth(1.0f);
    glEnable(GL_LINE_SMOOTH);
  }

  drawChars();

  if (drawGl) glPopMatrix();
}

void xscroller::drawChars() {
  if (static_cast<double>(scrollOffset) < kRestartBelow) scrollOffset = kRestartAt;

  int x = kStartX;
  for (std::size_t i = 0; i < count; ++i) {
    xscrollerChar& c = *chars[i];
    c.draw(static_cast<float>(x) + scrollOffset, yOffset, zoom);
    x += advance(c);
  }
  scrollOffset = nextScrollOffset(scrollOffset, speed);
}
