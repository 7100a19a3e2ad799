#include "shell/intro.h"

#include <cmath>

#include "platform/platform.h"
#include "scroller/intro_content.h"
#include "scroller/random.h"
#include "shell/gl.h"

namespace {
std::uint32_t introStartTime = 0;
IntroContent content;
constexpr bool musicEnabled = true;
}  // namespace

float milliseconds_to_seconds(double milliseconds) {
  return static_cast<float>(milliseconds * static_cast<double>(0.001f));
}

float aspect_factor(int desktopWidth, int desktopHeight) {
  switch (desktopHeight) {
    case 720: case 768: case 800: case 900: case 1024: case 1050:
      return 1.6f;
    default:
      return desktopWidth > 1680 ? 1.6f : 1.1f;
  }
}

int intro_init(int /*width*/, int /*height*/, int /*flag*/, const ProgressCallback* progress) {
  progress->report(progress->context, 0);
  seedRandom(kIntroSeed);
  progress->report(progress->context, 200);
  introStartTime = platform::milliseconds();
  if (!createIntroContent(content)) return 0;

  glClearDepth(1.0);
  glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
  glEnable(GL_DEPTH_TEST);
  glDepthMask(GL_TRUE);
  glMatrixMode(GL_PROJECTION);

  int desktopWidth = 0, desktopHeight = 0;
  platform::desktop_size(&desktopWidth, &desktopHeight);
  const double a = static_cast<double>(aspect_factor(desktopWidth, desktopHeight));
  const double h = std::tan(3.14159265358979323846 / 4.0);
  glFrustum(-a * h, a * h, -h, h, 1.0, 500.0);

  if (musicEnabled) {
    // The music is started here.
  }
  return 1;
}

int intro_frame() {
  const auto elapsed = static_cast<std::int32_t>(platform::milliseconds() - introStartTime);
  const float t = milliseconds_to_seconds(static_cast<double>(elapsed));
  (void)t;
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  if (content.scroller != nullptr) content.scroller->draw(t);
  return 0;
}

void intro_shutdown() {
  // The music is stopped and released here.
}
