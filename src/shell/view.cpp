#include "shell/view.h"

#include <cmath>

#include "platform/gl.h"
#include "shell/intro.h"

float aspect_factor(int desktopWidth, int desktopHeight) {
  switch (desktopHeight) {
    case 720: case 768: case 800: case 900: case 1024: case 1050:
      return 1.6f;
    default:
      return desktopWidth > 1680 ? 1.6f : 1.1f;
  }
}

void set_intro_view(int desktopWidth, int desktopHeight) {
  glClearDepth(1.0);
  glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
  glEnable(GL_DEPTH_TEST);
  glDepthMask(GL_TRUE);
  glMatrixMode(GL_PROJECTION);

  const double a = static_cast<double>(aspect_factor(desktopWidth, desktopHeight));
  const double h = std::tan(3.14159265358979323846 / 4.0);
  glFrustum(-a * h, a * h, -h, h, 1.0, 500.0);
}
